#include "cport/event_mask.h"

#include <array>

#include "cport/comm/comm_api.h"

namespace cport {
namespace {

// Driver bit of each TComEvent, by ordinal.
constexpr std::array<std::uint32_t, 10> kEventBits = {
    cport::comm::kEvRxChar,  cport::comm::kEvTxEmpty, cport::comm::kEvRxFlag,
    cport::comm::kEvRing,    cport::comm::kEvBreak,   cport::comm::kEvCts,
    cport::comm::kEvDsr,     cport::comm::kEvErr,     cport::comm::kEvRlsd,
    cport::comm::kEvRx80Full};

}  // namespace

std::uint32_t EventsToMask(TComEvents Events) {
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < kEventBits.size(); ++i) {
    if (Events.Contains(static_cast<TComEvent>(i))) mask |= kEventBits[i];
  }
  return mask;
}

TComEvents MaskToEvents(std::uint32_t Mask) {
  TComEvents events;
  for (std::size_t i = 0; i < kEventBits.size(); ++i) {
    if ((Mask & kEventBits[i]) != 0) events.Include(static_cast<TComEvent>(i));
  }
  return events;
}

}  // namespace cport
