// Text is UTF-16 (std::u16string). Bytes meet text through code pages: code
// page 0 is the system ANSI code page; other code pages are named by number
// (65001 UTF-8, 1252, 437, 866, ...).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cport::fw {

// The system ANSI code page. On POSIX it is ISO-8859-1, single-byte and
// binary-safe: every byte maps to one character and back; characters above
// U+00FF become '?'.
inline constexpr std::uint32_t kCpAcp = 0;
inline constexpr std::uint32_t kCpUtf8 = 65001;

// Whether this system converts text with `codePage` (0 and 65001 always).
bool IsCodePageAvailable(std::uint32_t codePage);

// Converts between UTF-16 and bytes of `codePage`. An unknown code page or a
// failed conversion gives an empty result.
std::string WideToMultiByte(std::uint32_t codePage, std::u16string_view text);
std::u16string MultiByteToWide(std::uint32_t codePage, std::string_view bytes);

// UTF-16 <-> UTF-8; invalid sequences become U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// The decimal text of `value` ("-24").
std::u16string IntToStr(std::int64_t value);

}  // namespace cport::fw
