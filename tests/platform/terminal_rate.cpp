#include "terminal_rate.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cport::comm::test {

std::uint32_t OutputRate(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return 0;
  termios2 t{};
  const bool ok = ::ioctl(fd, TCGETS2, &t) == 0;
  ::close(fd);
  return ok ? t.c_ospeed : 0;
}

}  // namespace cport::comm::test
