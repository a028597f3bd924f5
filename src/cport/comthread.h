// The port's event thread: while the port is open with a non-empty Events
// set, it waits for the driver's line events and delivers them as the
// port's notifications.
#pragma once

namespace cport {

class TComThread {
 public:
  virtual ~TComThread() = default;
};

}  // namespace cport
