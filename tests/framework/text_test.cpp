#include "cport/fw/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using cport::fw::kCpAcp;
using cport::fw::MultiByteToWide;
using cport::fw::WideToMultiByte;

#ifndef _WIN32
// The system code page on POSIX is single-byte and binary-safe.
TEST(TextTest, SystemCodePageCarriesEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string text = MultiByteToWide(kCpAcp, all);
  ASSERT_EQ(text.size(), 256u);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(text[b], b);
  EXPECT_EQ(WideToMultiByte(kCpAcp, text), all);
  EXPECT_EQ(WideToMultiByte(kCpAcp, u"a\u20ACb\U0001F600"), "a?b?");
}
#endif

TEST(TextTest, AsciiIsOneBytePerCharacter) {
  EXPECT_EQ(WideToMultiByte(kCpAcp, u"BootUp@"), "BootUp@");
  EXPECT_EQ(MultiByteToWide(kCpAcp, "BootUp@"), u"BootUp@");
}

TEST(TextTest, NamedCodePagesRoundTrip) {
  struct Case {
    std::uint32_t codePage;
    std::u16string text;
    std::string bytes;
  };
  const Case cases[] = {
      {65001, u"\u00FC\u20AC\U0001F600",
       "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {1252, u"\u00FC\u20AC\u201C", "\xFC\x80\x93"},
      {866, u"\u0414\u0430", "\x84\xA0"},
      {437, u"\u00E9\u2591", "\x82\xB0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_EQ(WideToMultiByte(c.codePage, c.text), c.bytes);
    EXPECT_EQ(MultiByteToWide(c.codePage, c.bytes), c.text);
  }
}

TEST(TextTest, UnknownCodePageGivesNothing) {
  EXPECT_FALSE(cport::fw::IsCodePageAvailable(12345));
  EXPECT_EQ(WideToMultiByte(12345, u"abc"), "");
  EXPECT_EQ(MultiByteToWide(12345, "abc"), u"");
  std::vector<std::uint32_t> known = {0u, 65001u, 1252u, 866u, 437u};
#ifdef _WIN32
  // Pages the conversion calls take although the system does not list them
  // as valid: the OEM, Mac and thread code pages and the symbol page.
  known.insert(known.end(), {1u, 2u, 3u, 42u});
#endif
  for (std::uint32_t page : known) {
    EXPECT_TRUE(cport::fw::IsCodePageAvailable(page)) << page;
    EXPECT_FALSE(MultiByteToWide(page, "a").empty()) << page;
  }
}

TEST(TextTest, UnconvertibleTextIsReplacedNotDropped) {
  EXPECT_EQ(WideToMultiByte(1252, u"a\u0414b"), "a?b");
  EXPECT_EQ(MultiByteToWide(65001,
                            "a\xFF"
                            "b"),
            u"a\uFFFDb");
}

TEST(TextTest, Utf8) {
  const std::u16string text = u"x\u00FC\u20AC\U0001F600";
  EXPECT_EQ(cport::fw::FromUtf8(cport::fw::ToUtf8(text)), text);
  // Malformed input: lone surrogates, overlong and cut-short sequences.
  EXPECT_EQ(cport::fw::ToUtf8(std::u16string(1, u'\xD800') + u"a"),
            "\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(cport::fw::FromUtf8("\xC0\x80"
                                "a\xE2\x82"),
            u"\uFFFD\uFFFDa\uFFFD\uFFFD");
}

TEST(TextTest, IntToStr) {
  EXPECT_EQ(cport::fw::IntToStr(-24), u"-24");
  EXPECT_EQ(cport::fw::IntToStr(4294967295), u"4294967295");
}

}  // namespace
