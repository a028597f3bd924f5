// Text through the code pages, as the port's string reads and writes
// convert it. The first byte picks a code page; the rest is read both as
// bytes in that code page and as UTF-16 text. Text comes back whole where
// the code page can hold it.
#include <array>
#include <string>

#include "cport/fw/text.h"
#include "fuzz_support.h"

namespace {

using cport::fw::kCpAcp;
using cport::fw::kCpUtf8;
using cport::fw::MultiByteToWide;
using cport::fw::WideToMultiByte;

constexpr std::array<std::uint32_t, 26> kCodePages{
    kCpAcp, kCpUtf8, 437,   850,   866,   932,   936,  949,   950,
    1250,   1251,    1252,  1253,  1255,  1256,  1258, 20127, 20866,
    21866,  10000,   54936, 28591, 28595, 28605, 42,   1};

constexpr char16_t kReplacement = u'\uFFFD';

// UTF-16 without a lone surrogate.
bool WellFormed(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
        return false;
      ++i;
    }
  }
  return true;
}

// Code pages whose converter joins a letter and a following accent into
// one character, and writes some such characters as two bytes: text they
// gave may come back in the other form.
bool Composes(std::uint32_t codePage) {
  return codePage == 1255 || codePage == 1258;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  dov::fuzz::Input input(data, size);
  const std::uint32_t codePage = kCodePages[input.Byte() % kCodePages.size()];
  const std::string bytes(input.Rest());
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    text.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                              static_cast<unsigned char>(bytes[i + 1]) << 8));

  const std::u16string decoded = MultiByteToWide(codePage, bytes);
  const std::string encoded = WideToMultiByte(codePage, text);
  if (codePage == kCpAcp) {
    // One character a byte, both ways.
    FUZZ_CHECK(decoded.size() == bytes.size());
    FUZZ_CHECK(WideToMultiByte(kCpAcp, decoded) == bytes);
  } else if (codePage == kCpUtf8) {
    // Valid UTF-8 comes back byte for byte; any text as it was, a lone
    // surrogate as U+FFFD.
    FUZZ_CHECK(WellFormed(decoded));
    if (decoded.find(kReplacement) == std::u16string::npos)
      FUZZ_CHECK(WideToMultiByte(kCpUtf8, decoded) == bytes);
    if (WellFormed(text)) FUZZ_CHECK(MultiByteToWide(kCpUtf8, encoded) == text);
  } else if (decoded.find(kReplacement) == std::u16string::npos &&
             !Composes(codePage)) {
    // Text that a code page gave, bytes it could not read aside, is text
    // it can write.
    FUZZ_CHECK(MultiByteToWide(codePage, WideToMultiByte(codePage, decoded)) ==
               decoded);
  }
  return 0;
}
