// A directory of a test's own under the system's temporary directory,
// removed with everything in it when the object goes.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace dov::test {

class TempDir {
 public:
  // Named `prefix` followed by six random characters.
  explicit TempDir(std::string_view prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() /
                           (std::string(prefix) + "-XXXXXX"))
                              .string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::system_error(errno, std::generic_category(),
                              "mkdtemp " + pattern);
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const {
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace dov::test
