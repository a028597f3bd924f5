// The kernel's list of tty drivers, as the device check reads it for the
// device numbers that sysfs does not list. The first three bytes give the
// numbers asked about.
#include <sstream>
#include <string>

#include "cport/comm/posix/terminal_class.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  dov::fuzz::Input input(data, size);
  const unsigned major = input.Byte();
  const unsigned minor = input.Word();
  std::istringstream drivers{std::string(input.Rest())};
  const bool listed =
      cport::comm::posix::DriversListPort(drivers, major, minor);
  // A list without a line for the major number names no port of it.
  if (input.Rest().find(std::to_string(major)) == std::string_view::npos)
    FUZZ_CHECK(!listed);
  return 0;
}
