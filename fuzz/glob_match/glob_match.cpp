// devcon's patterns and the wildcard match under them. The input is a
// pattern, a NUL, and an id; the match agrees with a plain table-driven
// matcher.
#include "glob_match.h"

#include <cctype>
#include <string>
#include <vector>

#include "devcon.h"
#include "fuzz_support.h"

namespace {

// The textbook dynamic programme over pattern and text: slow, obviously
// right.
bool Reference(std::string_view pattern, std::string_view text) {
  std::vector<char> row(text.size() + 1, 0);  // row[j]: pattern so far
  row[0] = 1;                                 // matches text[0, j)
  for (const char p : pattern) {
    std::vector<char> next(text.size() + 1, 0);
    next[0] = p == '*' && row[0];
    for (std::size_t j = 1; j <= text.size(); ++j) {
      const char t = text[j - 1];
      if (p == '*') {
        next[j] = row[j] || next[j - 1];
      } else {
        next[j] = row[j - 1] &&
                  (p == '?' || std::tolower(static_cast<unsigned char>(p)) ==
                                   std::tolower(static_cast<unsigned char>(t)));
      }
    }
    row.swap(next);
  }
  return row[text.size()] != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view input = dov::fuzz::Text(data, size);
  const std::size_t cut = std::min(input.find('\0'), input.size());
  const std::string pattern(input.substr(0, cut));
  const std::string text(input.substr(std::min(cut + 1, input.size())));
  const bool matched = devcon::GlobMatch(pattern, text);
  FUZZ_CHECK(matched == Reference(pattern, text));
  // The same pattern as devcon takes it, against a device with that id.
  const devcon::UsbDevice device{"/sys/bus/usb/devices/1-1", text, text};
  FUZZ_CHECK(devcon::Matches(pattern, device) ==
             (pattern.starts_with('@')
                  ? devcon::GlobMatch(pattern.substr(1), text)
                  : matched));
  // Taken exactly, it names only that id, byte for byte.
  const std::string_view id =
      pattern.starts_with('@') ? std::string_view(pattern).substr(1) : pattern;
  FUZZ_CHECK(devcon::Matches(pattern, device, true) == (id == text));
  return 0;
}
