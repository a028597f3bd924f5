// Translation between the port's event set and the driver's event mask.
#pragma once

#include <cstdint>

#include "cport/types.h"

namespace cport {

// The driver mask bits of the events in `Events`.
std::uint32_t EventsToMask(TComEvents Events);
// The events whose driver bits are in `Mask`; other driver bits are dropped.
TComEvents MaskToEvents(std::uint32_t Mask);

}  // namespace cport
