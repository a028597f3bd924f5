// The command line of dov-devsim. A line it accepts plays at least one
// port, each once and in range, with limits that make sense.
#include <algorithm>
#include <cmath>

#include "fuzz_support.h"
#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const auto args = dov::fuzz::Words(dov::fuzz::Text(data, size));
  std::string error;
  const auto cli = devsim::ParseCommandLine(args, error);
  if (!cli) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(!cli->ports.empty());
  for (const int port : cli->ports) {
    FUZZ_CHECK(port >= 1 && port <= 255);
    FUZZ_CHECK(std::count(cli->ports.begin(), cli->ports.end(), port) == 1);
  }
  const auto& timeout = cli->config.timeout_ms;
  FUZZ_CHECK(!timeout || (std::isfinite(*timeout) && *timeout > 0));
  const auto& minimums = cli->config.minimums;
  FUZZ_CHECK(minimums.delivery_jitter_ms >= 0 &&
             minimums.delivery_jitter_ms <= 50);
  return 0;
}
