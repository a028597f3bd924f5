#include "cport/fw/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "cport/fw/exception.h"
#include "sync_only_api.h"
#include "ui_thread.h"

namespace {

using fwtest::WaitUntil;

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { cport::fw::InitMainThread(); }
};

// Runs until terminated, or throws when asked to.
class ProbeThread : public cport::fw::TThread {
 public:
  explicit ProbeThread(bool createSuspended, bool fail = false)
      : TThread(createSuspended), fail_(fail) {}
  ~ProbeThread() override {
    if (Finished()) return;
    Terminate();
    try {
      WaitFor();
    } catch (const cport::fw::EThread&) {
      // never started: the base ends it without running Execute
    }
  }
  std::atomic<bool> started{false};

 protected:
  void Execute() override {
    started = true;
    if (fail_) throw std::runtime_error("body failed");
    while (!Terminated()) cport::comm::Api().Sleep(1);
    SetReturnValue(3);
  }

 private:
  bool fail_;
};

TEST_F(ThreadTest, CreatedSuspendedRunsOnlyAfterStart) {
  ProbeThread thread(true);
  EXPECT_EQ(cport::comm::Api().WaitForSingleObject(thread.Handle(), 50),
            cport::comm::kWaitTimeout);
  EXPECT_FALSE(thread.started);
  thread.Start();
  ASSERT_TRUE(WaitUntil([&] { return thread.started.load(); }));
  EXPECT_THROW(thread.Start(), cport::fw::EThread);
  thread.Terminate();
  EXPECT_EQ(thread.WaitFor(), 3u);
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(thread.FatalException(), nullptr);
}

TEST_F(ThreadTest, NotSuspendedStartsAfterConstruction) {
  auto thread = cport::fw::MakeThread<ProbeThread>(false);
  ASSERT_TRUE(WaitUntil([&] { return thread->started.load(); }));
  thread.reset();  // the destructor terminates and waits
}

TEST_F(ThreadTest, ExceptionLeavingExecuteIsKeptAndEndsTheThread) {
  ProbeThread thread(true, true);
  thread.Start();
  EXPECT_EQ(thread.WaitFor(), 0u);
  ASSERT_NE(thread.FatalException(), nullptr);
  EXPECT_THROW(std::rethrow_exception(thread.FatalException()),
               std::runtime_error);
}

TEST_F(ThreadTest, NeverStartedThreadEndsWithoutRunningExecute) {
  std::unique_ptr<ProbeThread> thread = std::make_unique<ProbeThread>(true);
  EXPECT_THROW(thread->WaitFor(), cport::fw::EThread);  // would never return
  thread.reset();
}

TEST_F(ThreadTest, WaitingForItselfIsRefused) {
  class SelfWaiter : public cport::fw::TThread {
   public:
    SelfWaiter() : TThread(true) {}
    bool refused = false;

   protected:
    void Execute() override {
      try {
        WaitFor();
      } catch (const cport::fw::EThread&) {
        refused = true;
      }
    }
  } thread;
  thread.Start();
  thread.WaitFor();
  EXPECT_TRUE(thread.refused);
}

// The platform's threads, with a thread priority the system refuses or
// threads it cannot make.
class RefusingApi : public fwtest::SyncOnlyApi {
 public:
  static constexpr std::uint32_t kDenied = 13;
  bool refuseThreads = false;

  bool SetThreadPriority(cport::comm::Handle, int) override {
    SetLastError(kDenied);
    return false;
  }
  cport::comm::Handle CreateThread(std::function<std::uint32_t()> body,
                                   bool suspended) override {
    if (!refuseThreads)
      return NativeSync::CreateThread(std::move(body), suspended);
    SetLastError(kDenied);
    return 0;
  }
};

TEST_F(ThreadTest, RefusedPriorityRaisesThreadError) {
  RefusingApi api;
  cport::comm::ScopedApi scoped(api);
  ProbeThread thread(true);
  try {
    thread.SetPriority(cport::comm::kThreadPriorityHighest);
    ADD_FAILURE() << "no error";
  } catch (const cport::fw::EThread& e) {
    EXPECT_EQ(e.Message(), u"Thread Error: " +
                               api.FormatMessageW(RefusingApi::kDenied) +
                               u" (13)");
    EXPECT_FALSE(api.FormatMessageW(RefusingApi::kDenied).empty());
  }
}

TEST_F(ThreadTest, RefusedCreationRaisesThreadCreationError) {
  RefusingApi api;
  api.refuseThreads = true;
  cport::comm::ScopedApi scoped(api);
  try {
    ProbeThread thread(false);
    ADD_FAILURE() << "no error";
  } catch (const cport::fw::EThread& e) {
    EXPECT_EQ(e.Message(), u"Thread creation error: " +
                               api.FormatMessageW(RefusingApi::kDenied));
  }
}

}  // namespace
