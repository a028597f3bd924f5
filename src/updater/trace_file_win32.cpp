#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cport/fw/text.h"
#include "updater/trace_file.h"

namespace dov {

int OpenTraceFile(const std::string& path, std::span<const std::string> avoid,
                  std::string& error) {
  const std::filesystem::path file(cport::fw::FromUtf8(path));
  std::error_code ignored;
  for (const std::string& other : avoid) {
    if (std::filesystem::equivalent(
            file, std::filesystem::path(cport::fw::FromUtf8(other)), ignored)) {
      error = "cannot write " + path + ": it is " + other +
              ", which this run reads";
      return -1;
    }
  }
  const int fd =
      ::_wopen(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
               _S_IREAD | _S_IWRITE);
  if (fd < 0) error = "cannot write " + path + ": " + std::strerror(errno);
  return fd;
}

}  // namespace dov
