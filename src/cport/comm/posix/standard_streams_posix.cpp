#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "cport/comm/standard_streams.h"

namespace cport::comm {

bool KeepStandardStreamsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is taken, and every lower one is open by now.
    const int null =
        ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null != fd) {
      if (null >= 0) ::close(null);
      return false;
    }
  }
  return true;
}

}  // namespace cport::comm
