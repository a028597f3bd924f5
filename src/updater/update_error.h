// The updater's own error: the device did not get all it was sent.
#pragma once

#include <cstdint>

#include "cport/fw/exception.h"

namespace dov {

// A write that transferred fewer bytes than asked (the driver's write
// timeout ran out): the device holds an incomplete program, so the update
// stops here. The message says how many of how many bytes went out.
class EShortWrite : public cport::fw::Exception {
 public:
  EShortWrite(std::int32_t written, std::int32_t requested);

  std::int32_t Written() const { return written_; }
  std::int32_t Requested() const { return requested_; }

 private:
  std::int32_t written_;
  std::int32_t requested_;
};

}  // namespace dov
