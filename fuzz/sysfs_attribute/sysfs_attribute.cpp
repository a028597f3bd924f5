// sysfs attributes as --list and devcon read them: from a file, bounded,
// first line only, and the USB ids taken from them.
#include "sysfs_attribute.h"

#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "usb_devices.h"

namespace {
namespace fs = std::filesystem;

// A folder of the run's own for the attribute file, removed at the end; in
// memory where the system has such a place, since a file rewritten for
// every input on a disk slows the run a hundredfold.
class Folder {
 public:
  Folder() {
    std::error_code error;
    const fs::path base = fs::is_directory("/dev/shm", error)
                              ? fs::path("/dev/shm")
                              : fs::temp_directory_path();
    std::string pattern = (base / "dov-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const Folder folder;
  const std::string_view contents = dov::fuzz::Text(data, size);
  const fs::path file = folder.Path() / "serial";
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(contents.data(), static_cast<std::streamsize>(contents.size()));

  const std::string attribute = dov::tools::ReadAttribute(file);
  FUZZ_CHECK(attribute == (size <= dov::tools::kMaxAttributeSize
                               ? dov::tools::FirstLine(contents)
                               : std::string_view()));
  FUZZ_CHECK(attribute.find('\n') == std::string::npos);
  if (const auto id = devcon::UsbId(attribute)) {
    FUZZ_CHECK(id->size() == 4);
    for (const char c : *id)
      FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(c)) &&
                 !std::islower(static_cast<unsigned char>(c)));
  }
  return 0;
}
