#include "cport/event_mask.h"

#include <array>

#include "platform/comm_api.h"

namespace cport {
namespace {

// Driver bit of each TComEvent, by ordinal.
constexpr std::array<std::uint32_t, 10> kEventBits = {
    comm::kEvRxChar, comm::kEvTxEmpty, comm::kEvRxFlag, comm::kEvRing,
    comm::kEvBreak,  comm::kEvCts,     comm::kEvDsr,    comm::kEvErr,
    comm::kEvRlsd,   comm::kEvRx80Full};

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
