// The image reader of dov-flash: raw binaries and Intel HEX text. An image
// it accepts, written again as HEX, reads back as the same bytes.
#include "image_file.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "fuzz_support.h"

namespace {

using dov::flash::EBadImage;
using dov::flash::ParseImage;
using dov::flash::TImageBytes;

std::string Record(std::size_t address, std::uint8_t type,
                   const std::uint8_t* data, std::size_t count) {
  std::uint8_t sum = static_cast<std::uint8_t>(count + (address >> 8) +
                                               (address & 0xFF) + type);
  char text[16];
  std::snprintf(text, sizeof text, ":%02zX%04zX%02X", count, address & 0xFFFF,
                type);
  std::string line = text;
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(text, sizeof text, "%02X", data[i]);
    line += text;
    sum = static_cast<std::uint8_t>(sum + data[i]);
  }
  std::snprintf(text, sizeof text, "%02X\n",
                static_cast<std::uint8_t>(0x100 - sum));
  return line + text;
}

// The image as HEX up to its last byte that is not filler (at least one),
// in 32-byte records: the reader fills the rest with 0xFF again.
std::string AsHex(const TImageBytes& image) {
  const auto last = std::find_if(image.rbegin(), image.rend(),
                                 [](std::uint8_t b) { return b != 0xFF; });
  const std::size_t end =
      std::max<std::size_t>(1, static_cast<std::size_t>(image.rend() - last));
  std::string hex;
  for (std::size_t at = 0; at < end; at += 32)
    hex += Record(at, 0x00, image.data() + at,
                  std::min<std::size_t>(32, end - at));
  return hex + Record(0, 0x01, nullptr, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  TImageBytes image;
  try {
    image = ParseImage(dov::fuzz::Text(data, size));
  } catch (const EBadImage&) {
    return 0;
  }
  FUZZ_CHECK(ParseImage(AsHex(image)) == image);
  return 0;
}
