// What the fuzz targets share: a property check that ends the run as a
// crash does (so the input is kept and replays), and the ways an input is
// cut into the pieces a reader takes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// A property of the reader that must hold for every input.
#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0      \
               : ::dov::fuzz::PropertyFailed(#condition, __FILE__, __LINE__))

namespace dov::fuzz {

[[noreturn]] inline void PropertyFailed(const char* what, const char* file,
                                        int line) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, what);
  std::abort();
}

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The words of a command line, separated by NUL bytes as the kernel hands
// them to a program.
inline std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\0'), text.size());
    words.emplace_back(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return words;
}

// Takes the input's leading bytes as small numbers, for choices a target
// makes (a code page, a split point), and leaves the rest as the data.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : rest_(Text(data, size)) {}

  // The next byte, 0 when none is left.
  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto byte = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return byte;
  }
  std::uint16_t Word() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | Byte() << 8);
  }
  std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
};

}  // namespace dov::fuzz
