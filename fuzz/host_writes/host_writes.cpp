// The simulator's reading of the host's record of its writes, and the
// verdict it draws from it.
#include "host_writes.h"

#include <sstream>
#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  constexpr long long kSinceNs = 1000000000;
  std::istringstream record{std::string(dov::fuzz::Text(data, size))};
  const auto writes = devsim::ParseHostWrites(record, "/dev/pts/9", kSinceNs);
  for (const devsim::HostWrite& write : writes) {
    FUZZ_CHECK(write.size > 0);
    FUZZ_CHECK(write.entry_ms >= 0);
    FUZZ_CHECK(write.return_ms >= write.entry_ms);
  }
  const auto pacing =
      devsim::AnalyseHostWrites(writes, devsim::Minimums{}, 7, 20480);
  FUZZ_CHECK(pacing.writes == pacing.gaps.size());
  FUZZ_CHECK(pacing.below.size() <= pacing.gaps.size());
  FUZZ_CHECK(!pacing.Ok() || pacing.complete);
  return 0;
}
