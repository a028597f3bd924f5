#include "sysfs_attribute.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cport/comm/posix/unique_fd.h"

namespace dov::tools {

std::string_view FirstLine(std::string_view contents) {
  return contents.substr(0, contents.find('\n'));
}

std::optional<std::string> ReadSmallRegularFile(
    const std::filesystem::path& file) {
  // Looked at before it is opened: opening a device or a pipe may block or
  // have side effects. The open refuses a link swapped in meanwhile, and
  // the descriptor is checked again.
  struct stat st {};
  if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  const cport::comm::posix::UniqueFd fd(::open(
      file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  // sysfs gives every attribute the size of a page, whatever it holds: the
  // size is what the reads return, up to one byte past the bound.
  std::string contents(kMaxAttributeSize + 1, '\0');
  std::size_t size = 0;
  while (size < contents.size()) {
    const ssize_t got =
        ::read(fd.get(), contents.data() + size, contents.size() - size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    size += static_cast<std::size_t>(got);
  }
  if (size > kMaxAttributeSize) return std::nullopt;
  contents.resize(size);
  return contents;
}

std::string ReadAttribute(const std::filesystem::path& file) {
  const auto contents = ReadSmallRegularFile(file);
  return contents ? std::string(FirstLine(*contents)) : std::string();
}

}  // namespace dov::tools
