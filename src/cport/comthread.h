// The port's event thread: while the port is open with a non-empty Events
// set, it waits for the driver's line events and delivers each report as
// the port's notifications, on the thread that SyncMethod names.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "cport/fw/handle.h"
#include "cport/fw/thread.h"
#include "cport/types.h"

namespace cport {

class TCustomComPort;

// The order in which the events of one report are handled (and, in window
// mode, sent as messages).
inline constexpr std::array<TComEvent, 10> kEventOrder = {
    evError, evRxChar, evTxEmpty, evBreak, evRing,
    evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

class TComThread : public cport::fw::TThread {
 public:
  // Creates the thread for `AComPort` on the opening thread, sets its
  // priority from EventThreadPriority and the driver's event mask from
  // Events, then starts it. Raises cport::fw::EThread when the thread cannot be
  // made or its priority cannot be set.
  static std::unique_ptr<TComThread> Create(TCustomComPort* AComPort);
  // Asks the thread to stop and returns once it has ended; meanwhile a
  // delivery already under way still runs.
  ~TComThread() override;

  std::u16string ClassName() const override { return u"TComThread"; }

  // True while the calling thread is inside one of this thread's deliveries
  // (the handling of a report, on whichever thread runs it). Such a thread
  // cannot be waited for there: it waits for that very delivery to return.
  bool DeliveringOnThisThread() const;
  // Stops the thread from inside one of its own deliveries: the rest of the
  // report is dropped, the driver is cleared now (while the device is still
  // open) and the thread ends by itself once the delivery returns, without
  // touching the port or the device again. It must still be destroyed
  // (joined) later, outside the delivery.
  void StopFromDelivery();

 protected:
  void Execute() override;

 private:
  explicit TComThread(TCustomComPort* AComPort);

  void SignalStop();
  void DeliverEvents();
  void SendEventMessages();
  void RunEventHandlers();
  // The exit steps on the device: clears the event mask and discards both
  // driver queues.
  void ClearDriver();
  // Closes the stop event; it is not used after that.
  void CloseStopEvent();

  TCustomComPort* FComPort;
  // The port's device handle, fixed while the thread runs.
  const cport::comm::Handle FDevice;
  // Set by StopFromDelivery: the delivery under way is the last one, and
  // the driver has already been cleared.
  std::atomic<bool> FRetired{false};
  // The stop event is closed by the thread as it ends, and set by the
  // owner's thread: the lock keeps a closed handle from being set.
  std::mutex FStopLock;
  std::optional<cport::fw::OwnedHandle> FStopEvent;
  TComEvents FEvents;
  bool FStarted = false;
};

}  // namespace cport
