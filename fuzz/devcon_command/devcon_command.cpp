// devcon's command line, through the program's own entry. The device tree
// it names does not exist, so a command that is accepted fails at once,
// before any device is touched; what is checked is how the words are read.
#include <sstream>

#include "devcon.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const auto args = dov::fuzz::Words(dov::fuzz::Text(data, size));
  std::ostringstream out, err;
  const int code = devcon::Run(args, "/nonexistent/devcon-fuzz", out, err);
  // Help or version, a usage error, or the missing device list.
  FUZZ_CHECK(code == devcon::kExitOk || code == devcon::kExitUsage ||
             code == devcon::kExitFailed);
  FUZZ_CHECK((code == devcon::kExitOk) == err.str().empty());
  FUZZ_CHECK((code == devcon::kExitOk) == !out.str().empty());
  return 0;
}
