#include "printable_text.h"

#include <cstdint>
#include <cstdio>

namespace dov::tools {
namespace {

// The length of the well-formed UTF-8 character at the start of `text`, or
// 0 when it does not start with one (overlong forms, surrogates and values
// above U+10FFFF included).
std::size_t CharacterLength(std::string_view text) {
  const auto byte = [&](std::size_t i) {
    return static_cast<std::uint8_t>(text[i]);
  };
  const std::uint8_t lead = byte(0);
  std::size_t length = 0;
  std::uint32_t value = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(i) & 0x3F);
  }
  const bool overlong =
      (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  return overlong || surrogate || value > 0x10FFFF ? 0 : length;
}

bool IsControl(std::string_view character) {
  const auto lead = static_cast<std::uint8_t>(character[0]);
  if (character.size() == 1)
    return (lead < 0x20 && lead != '\n') || lead == 0x7F;
  // U+0080..U+009F, the C1 controls (CSI among them).
  return lead == 0xC2 && static_cast<std::uint8_t>(character[1]) < 0xA0;
}

void AppendEscaped(std::string& out, std::string_view bytes) {
  for (const char c : bytes) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X",
                  static_cast<unsigned>(static_cast<std::uint8_t>(c)));
    out += escaped;
  }
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = CharacterLength(text);
    const std::string_view character = text.substr(0, length == 0 ? 1 : length);
    if (length == 0 || IsControl(character)) {
      AppendEscaped(out, character);
    } else {
      out += character;
    }
    text.remove_prefix(character.size());
  }
  return out;
}

}  // namespace dov::tools
