// The received stream as the application sees it: error marks decoded,
// errors replaced, nulls dropped, the event character noticed.
#include "cport/comm/posix/input_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace cport::comm::posix {
namespace {

std::string Feed(InputFilter& filter, const std::string& raw,
                 InputReport* report = nullptr) {
  std::vector<std::uint8_t> out;
  InputReport r = filter.Filter(
      reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size(), out);
  if (report != nullptr) *report = r;
  return std::string(out.begin(), out.end());
}

TEST(InputFilterTest, DecodesMarksAndAppliesOptions) {
  InputOptions replace;
  replace.checkParity = true;
  replace.replaceErrors = true;
  replace.errorChar = '?';
  InputOptions noNull;
  noNull.discardNull = true;
  InputOptions event;
  event.eventChar = '\n';
  const std::string mark("\xff\x00", 2);
  const struct {
    const char* name;
    InputOptions options;
    std::string raw, out;
    bool lineBreak, lineError, eventChar;
  } cases[] = {
      {"plain", {}, "abc", "abc", false, false, false},
      {"doubled 0xff",
       {},
       "a\xff\xff"
       "b",
       "a\xff"
       "b",
       false,
       false,
       false},
      {"break", {}, mark + std::string(1, '\0') + "x", "x", true, false, false},
      {"error kept", {}, mark + "e", "e", false, true, false},
      {"error replaced", replace, mark + "e", "?", false, true, false},
      {"nulls dropped", noNull, std::string("a\0b\0", 4), "ab", false, false,
       false},
      // The event character is 0 unless set, so a kept NUL is one.
      {"nulls kept",
       {},
       std::string("a\0", 2),
       std::string("a\0", 2),
       false,
       false,
       true},
      {"event char", event, "ok\n", "ok\n", false, false, true},
      {"stray byte after mark kept",
       {},
       "\xff"
       "A",
       "\xff"
       "A",
       false,
       false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InputFilter filter;
    filter.SetOptions(c.options);
    InputReport report;
    EXPECT_EQ(Feed(filter, c.raw, &report), c.out);
    EXPECT_EQ(report.lineBreak, c.lineBreak);
    EXPECT_EQ(report.lineError, c.lineError);
    EXPECT_EQ(report.eventChar, c.eventChar);
  }
}

TEST(InputFilterTest, MarkSplitAcrossReadsIsCompletedByTheNext) {
  InputFilter filter;
  EXPECT_EQ(Feed(filter, "a\xff"), "a");
  EXPECT_EQ(Feed(filter,
                 "\xff"
                 "b"),
            "\xff"
            "b");
  EXPECT_EQ(Feed(filter, std::string("\xff\x00", 2)), "");
  InputReport report;
  EXPECT_EQ(Feed(filter, std::string("\0c", 2), &report), "c");
  EXPECT_TRUE(report.lineBreak);
  // After a discard the half mark is forgotten.
  EXPECT_EQ(Feed(filter, "\xff"), "");
  filter.Reset();
  EXPECT_EQ(Feed(filter, std::string("\0d", 2)), std::string("\0d", 2));
}

}  // namespace
}  // namespace cport::comm::posix
