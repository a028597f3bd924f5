// The program image that dov-flash sends instead of the built-in one: a raw
// binary of exactly the image's size, or Intel HEX text that gives the
// program from address 0 up without a hole, each byte once; the rest of the
// image is 0xFF filler. Anything else is refused before a port is
// touched, with a message that says what is wrong.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "firmware/firmware_image.h"

namespace dov::flash {

using TImageBytes = std::array<std::uint8_t, kFirmwareImageSize>;

// An image that cannot be sent; the message is for the user.
class EBadImage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest file taken as an image. Intel HEX with a single data byte in
// every record and CR LF line ends spells the image in 307,200 bytes; this
// leaves room for address records, blank lines and a byte-order mark.
inline constexpr std::size_t kMaxImageFileSize = 512 * 1024;

// Text that holds nothing but printable ASCII and line breaks, whose first
// character past an optional UTF-8 byte-order mark and blank lines is ':', is
// read as Intel HEX; any other content as a raw binary. HEX lines may end in
// LF, CR or CR LF.
TImageBytes ParseImage(std::string_view contents);

// Reads and parses a regular file of at most kMaxImageFileSize bytes;
// anything else is refused without reading it. The messages name the file.
TImageBytes LoadImageFile(const std::filesystem::path& path);

}  // namespace dov::flash
