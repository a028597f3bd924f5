// Events, waits and threads of the POSIX backend: Win32 outcomes, and each
// wait woken only by the objects it waits on.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cport/comm/comm_api.h"
#include "gtest/gtest.h"

namespace cport::comm::test {
namespace {

// Closes the handles a test made.
class Handles {
 public:
  explicit Handles(CommApi& api) : api_(api) {}
  ~Handles() {
    for (Handle h : handles_) api_.CloseHandle(h);
  }
  Handle Event(bool manualReset, bool initialState) {
    handles_.push_back(api_.CreateEventW(manualReset, initialState));
    return handles_.back();
  }

 private:
  CommApi& api_;
  std::vector<Handle> handles_;
};

// How often a thread has gone to sleep so far.
long VoluntarySwitches(long tid) {
  std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
      return std::stol(line.substr(line.find(':') + 1));
  }
  return -1;
}

TEST(NativeSyncTest, WaitOutcomesFollowTheSignalledObjects) {
  CommApi& api = PlatformApi();
  struct Case {
    const char* name;
    bool first, second;  // initial states of two manual-reset events
    bool waitAll;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"any, none", false, false, false, kWaitTimeout},
      {"any, second", false, true, false, kWaitObject0 + 1},
      {"any, both: lowest index", true, true, false, kWaitObject0},
      {"all, one of two", true, false, true, kWaitTimeout},
      {"all, both", true, true, true, kWaitObject0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Handles handles(api);
    const Handle events[2] = {handles.Event(true, c.first),
                              handles.Event(true, c.second)};
    EXPECT_EQ(api.WaitForMultipleObjects(2, events, c.waitAll, 0), c.expected);
    // The same, waited for a while: a time-out still ends the wait.
    EXPECT_EQ(api.WaitForMultipleObjects(2, events, c.waitAll, 20), c.expected);
    const std::uint32_t single = c.second ? kWaitObject0 : kWaitTimeout;
    EXPECT_EQ(api.WaitForSingleObject(events[1], 0), single);
    EXPECT_EQ(api.WaitForSingleObject(events[1], 20), single);
  }
  Handles handles(api);
  const Handle bad[2] = {handles.Event(true, true), 0x3};
  EXPECT_EQ(api.WaitForMultipleObjects(2, bad, false, 0), kWaitFailed);
  EXPECT_EQ(api.GetLastError(), kErrorInvalidHandle);
  EXPECT_EQ(api.WaitForMultipleObjects(0, bad, false, 0), kWaitFailed);
  EXPECT_EQ(api.GetLastError(), kErrorInvalidParameter);
}

// A closed handle stays invalid when the objects made after it take its
// place in the table: it never reaches one of them.
TEST(NativeSyncTest, ClosedHandleStaysInvalidWhenItsPlaceIsTaken) {
  CommApi& api = PlatformApi();
  const Handle closed = api.CreateEventW(true, true);
  ASSERT_TRUE(api.CloseHandle(closed));
  Handles handles(api);
  for (int i = 0; i < 64; ++i) EXPECT_NE(handles.Event(true, true), closed);
  EXPECT_FALSE(api.SetEvent(closed));
  EXPECT_EQ(api.GetLastError(), kErrorInvalidHandle);
  EXPECT_EQ(api.WaitForSingleObject(closed, 0), kWaitFailed);
  EXPECT_EQ(api.GetLastError(), kErrorInvalidHandle);
  EXPECT_FALSE(api.CloseHandle(closed));
  for (Handle h : {kInvalidHandle, Handle{0}, closed + 1}) {
    EXPECT_FALSE(api.ResetEvent(h)) << h;
    EXPECT_EQ(api.GetLastError(), kErrorInvalidHandle);
  }
}

// A thread that has used a handle and finds it closed by another thread
// gets an invalid handle, not the object it used before.
TEST(NativeSyncTest, HandleClosedByAnotherThreadIsInvalidWhereItWasUsed) {
  CommApi& api = PlatformApi();
  const Handle h = api.CreateEventW(true, false);
  ASSERT_EQ(api.WaitForSingleObject(h, 0), kWaitTimeout);
  std::thread([&] { EXPECT_TRUE(api.CloseHandle(h)); }).join();
  EXPECT_FALSE(api.SetEvent(h));
  EXPECT_EQ(api.GetLastError(), kErrorInvalidHandle);
  EXPECT_EQ(api.WaitForSingleObject(h, 0), kWaitFailed);
  EXPECT_EQ(api.GetLastError(), kErrorInvalidHandle);
}

// An object destroyed as its thread ends may close a handle after that
// thread's other per-thread state is gone; the close still works.
TEST(NativeSyncTest, HandleClosedWhileItsThreadEnds) {
  struct Closer {
    Handle h = 0;
    ~Closer() { EXPECT_TRUE(PlatformApi().CloseHandle(h)); }
  };
  CommApi& api = PlatformApi();
  const Handle h = api.CreateEventW(true, false);
  std::thread([&] {
    // Made before the thread first makes a handle, so destroyed after
    // everything that its handle calls set up.
    thread_local Closer closer;
    closer.h = h;
    EXPECT_TRUE(api.ResetEvent(h));
    const Handle own = api.CreateEventW(true, false);
    EXPECT_TRUE(api.SetEvent(own));
    EXPECT_EQ(api.WaitForSingleObject(own, 0), kWaitObject0);
    EXPECT_TRUE(api.CloseHandle(own));
  }).join();
  EXPECT_FALSE(api.CloseHandle(h));
  EXPECT_EQ(api.GetLastError(), kErrorInvalidHandle);
}

// An auto-reset event releases one waiter per SetEvent; a wait for all
// objects takes them together, so it never consumes one of them alone.
TEST(NativeSyncTest, AutoResetEventReleasesOneWaiterPerSet) {
  CommApi& api = PlatformApi();
  Handles handles(api);
  const Handle gate = handles.Event(false, false);
  const Handle never = handles.Event(true, false);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (api.WaitForSingleObject(gate, 5000) == kWaitObject0) ++released;
    });
  }
  // A wait for all that cannot be met must leave the gate to the others.
  const Handle both[2] = {gate, never};
  std::thread all([&] {
    EXPECT_EQ(api.WaitForMultipleObjects(2, both, true, 300), kWaitTimeout);
  });
  for (int i = 1; i <= 3; ++i) {
    api.SetEvent(gate);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (released < i && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(released, i);
  }
  for (auto& waiter : waiters) waiter.join();
  all.join();
  EXPECT_EQ(api.WaitForSingleObject(gate, 0), kWaitTimeout);
}

// Many ports each have threads asleep on their own events: setting one
// port's event must not wake the threads of another.
TEST(NativeSyncTest, SettingOneEventWakesNoWaiterOfAnother) {
  CommApi& api = PlatformApi();
  Handles handles(api);
  const Handle mine = handles.Event(true, false);
  const Handle other = handles.Event(false, false);
  std::atomic<long> tid{0};
  std::thread waiter([&] {
    tid = static_cast<long>(::syscall(SYS_gettid));
    EXPECT_EQ(api.WaitForSingleObject(mine, 10000), kWaitObject0);
  });
  while (tid == 0) std::this_thread::yield();
  // Let it fall asleep.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const long before = VoluntarySwitches(tid);
  for (int i = 0; i < 1000; ++i) {
    api.SetEvent(other);
    api.WaitForSingleObject(other, 0);
  }
  const long woken = VoluntarySwitches(tid) - before;
  api.SetEvent(mine);
  waiter.join();
  // A shared wake-up would have woken it about a thousand times.
  EXPECT_LT(woken, 10);
}

TEST(NativeSyncTest, ThreadHandleIsSignalledOnceItsBodyReturns) {
  CommApi& api = PlatformApi();
  Handles handles(api);
  const Handle go = handles.Event(true, false);
  const Handle thread = api.CreateThread(
      [&] {
        return api.WaitForSingleObject(go, 5000) == kWaitObject0 ? 7u : 1u;
      },
      false);
  const Handle both[2] = {go, thread};
  // Neither is signalled yet; then the thread's end completes a wait for all.
  EXPECT_EQ(api.WaitForMultipleObjects(2, both, false, 20), kWaitTimeout);
  std::uint32_t code = 0;
  EXPECT_TRUE(api.GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, kStillActive);
  api.SetEvent(go);
  EXPECT_EQ(api.WaitForMultipleObjects(2, both, true, 5000), kWaitObject0);
  EXPECT_TRUE(api.GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_TRUE(api.CloseHandle(thread));
}

}  // namespace
}  // namespace cport::comm::test
