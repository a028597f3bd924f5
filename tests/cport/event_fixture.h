// A port with its event thread on the fake comm API; the test's thread plays
// the UI thread. Every wait has a bound.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cport/fw/sent_message.h"
#include "cport/fw/synchronize.h"
#include "port_fixture.h"
#include "support/watchdog.h"

namespace cport::testing {

using namespace std::chrono_literals;

// Runs queued calls and sent messages on the UI thread until `done` holds or
// `bound` passes; whether it held.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds bound = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    cport::comm::Api().WaitForSingleObject(cport::fw::CallsWaitingEvent(), 5);
    cport::fw::CheckSynchronize();
    cport::fw::PumpSentMessages();
  }
  return true;
}

// Runs queued calls and sent messages for `span`.
inline void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

using testsupport::Watchdog;

class EventTest : public PortTest {
 protected:
  EventTest() {
    cport::fw::InitMainThread();
    port.SetEvents(kAllComEvents);
  }
  ~EventTest() override { port.Close(); }

  // Appends to the log; handlers may run on another thread (smNone).
  void Log(std::string entry) {
    std::lock_guard guard(logLock);
    log.push_back(std::move(entry));
  }
  std::vector<std::string> Logged() {
    std::lock_guard guard(logLock);
    return log;
  }
  std::size_t LogSize() { return Logged().size(); }
  void ClearLog() {
    std::lock_guard guard(logLock);
    log.clear();
  }

  // Logs every port notification by the name of its event.
  void LogAllEvents() {
    port.SetOnError([this](cport::fw::TObject*, TComErrors) { Log("error"); });
    port.SetOnRxChar([this](cport::fw::TObject*, std::int32_t count) {
      std::u16string drop;
      port.ReadStr(drop, count);
      Log("rxchar " + std::to_string(count));
    });
    port.SetOnTxEmpty([this](cport::fw::TObject*) { Log("txempty"); });
    port.SetOnBreak([this](cport::fw::TObject*) { Log("break"); });
    port.SetOnRing([this](cport::fw::TObject*) { Log("ring"); });
    port.SetOnCTSChange([this](cport::fw::TObject*, bool on) {
      Log("cts " + std::to_string(on));
    });
    port.SetOnDSRChange([this](cport::fw::TObject*, bool on) {
      Log("dsr " + std::to_string(on));
    });
    port.SetOnRxFlag([this](cport::fw::TObject*) { Log("rxflag"); });
    port.SetOnRLSDChange([this](cport::fw::TObject*, bool on) {
      Log("rlsd " + std::to_string(on));
    });
    port.SetOnRx80Full([this](cport::fw::TObject*) { Log("rx80full"); });
  }

  void SetDeviceState() {
    fake.Receive("ab");
    fake.SetLineErrors(cport::comm::kCeFrame);
    fake.SetModemStatus(cport::comm::kMsCtsOn | cport::comm::kMsRlsdOn);
  }

  // True while a marshalled call waits for the UI thread.
  static bool CallQueued() {
    return cport::comm::Api().WaitForSingleObject(
               cport::fw::CallsWaitingEvent(), 0) == cport::comm::kWaitObject0;
  }

  // The close steps made on device handle `h` (from the first abort of
  // pending transfers on: PurgeComm, SetCommMask, CloseHandle) and every call
  // made on it after it was closed, as "Name arg". A delivery that runs
  // meanwhile may read the device; that is left out.
  std::vector<std::string> CallsFromClose(cport::comm::Handle h) const {
    std::vector<std::string> calls;
    bool closed = false;
    for (const cport::comm::FakeCall& call : fake.Calls()) {
      if (call.handle != h) continue;
      std::string entry = call.name;
      for (std::uint64_t arg : call.args) entry += " " + std::to_string(arg);
      if (calls.empty() && entry != "PurgeComm 3") continue;
      const bool step = call.name == "PurgeComm" ||
                        call.name == "SetCommMask" ||
                        call.name == "CloseHandle";
      if (step || closed) calls.push_back(entry);
      closed = closed || call.name == "CloseHandle";
    }
    return calls;
  }

  std::mutex logLock;
  // Covers the test body and the Close above.
  Watchdog watchdog{
      ::testing::UnitTest::GetInstance()->current_test_info()->name()};
};

// The driver bits of every event, and the log each one gives when handled
// with `LogAllEvents`, the input queue holding two bytes, a frame error, CTS
// and RLSD on and DSR off (`SetDeviceState`).
inline constexpr std::uint32_t kAllEventBits = 0x05FF;
// What Close does on the device: abort the transfers, then the event
// thread's exit steps (mask cleared, both queues discarded) while the
// device is still open, then close it; nothing touches it afterwards.
inline const std::vector<std::string> kCloseCalls = {
    "PurgeComm 3", "SetCommMask 0", "PurgeComm 12", "CloseHandle"};
inline const std::vector<std::string> kAllEventsLogged = {
    "error", "rxchar 2", "txempty", "break",  "ring",
    "cts 1", "dsr 0",    "rxflag",  "rlsd 1", "rx80full"};

}  // namespace cport::testing
