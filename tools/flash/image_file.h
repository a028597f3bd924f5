// The program image that dov-flash sends instead of the built-in one: a raw
// binary of exactly the image's size, or Intel HEX text that gives every
// byte of the image exactly once. Anything else is refused before a port is
// touched, with a message that says what is wrong.
#pragma once

#include <array>
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

// Text that starts with ':' and holds nothing but printable ASCII and line
// breaks is read as Intel HEX; any other content as a raw binary.
TImageBytes ParseImage(std::string_view contents);

// Reads and parses the file; the messages name it.
TImageBytes LoadImageFile(const std::filesystem::path& path);

}  // namespace dov::flash
