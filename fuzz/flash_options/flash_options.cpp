// The command line of dov-flash. A line it accepts never holds two choices
// that exclude each other, and every value is in its range.
#include "flash_options.h"

#include <algorithm>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const auto args = dov::fuzz::Words(dov::fuzz::Text(data, size));
  std::string error;
  const auto options = dov::flash::ParseOptions(args, error);
  if (!options) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  if (options->Help || options->Version) return 0;
  const auto& ports = options->Ports;
  const int picks = (ports.empty() ? 0 : 1) + (options->All ? 1 : 0) +
                    (options->Serial ? 1 : 0);
  FUZZ_CHECK(picks == 1);
  FUZZ_CHECK(!options->Device || ports.size() == 1);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    FUZZ_CHECK(ports[i] >= 1);
    FUZZ_CHECK(std::count(ports.begin(), ports.end(), ports[i]) == 1);
  }
  FUZZ_CHECK(options->WaitPortMs <= 3600 * 1000);
  for (const auto* text : {&options->Serial, &options->Device, &options->Image,
                           &options->LogFile}) {
    FUZZ_CHECK(!*text || !(*text)->empty());
  }
  return 0;
}
