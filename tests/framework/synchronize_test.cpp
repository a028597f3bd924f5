#include "cport/fw/synchronize.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cport/fw/exception.h"
#include "cport/fw/headless_application.h"
#include "cport/fw/sent_message.h"
#include "cport/fw/thread.h"
#include "support/watchdog.h"
#include "ui_thread.h"

namespace {

using fwtest::PumpUntil;
using fwtest::WaitUntil;
using fwtest::WakeCounter;
using fwtest::Worker;

// A thread whose body runs `body` and returns 7.
class LambdaThread : public cport::fw::TThread {
 public:
  explicit LambdaThread(std::function<void()> body)
      : TThread(true), body_(std::move(body)) {}

 protected:
  void Execute() override {
    body_();
    SetReturnValue(7);
  }

 private:
  std::function<void()> body_;
};

class SynchronizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cport::fw::InitMainThread();
    ASSERT_TRUE(cport::fw::IsMainThread());
  }
};

TEST_F(SynchronizeTest, OnTheUiThreadTheCallRunsAtOnce) {
  bool ran = false;
  cport::fw::Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(cport::fw::CheckSynchronize());
}

TEST_F(SynchronizeTest, WorkerCallWaitsForCheckSynchronizeOnTheUiThread) {
  WakeCounter wakes;
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  Worker worker([&] {
    cport::fw::Synchronize([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  ASSERT_TRUE(wakes.WaitFor(1));
  EXPECT_EQ(
      cport::comm::Api().WaitForSingleObject(cport::fw::CallsWaitingEvent(), 0),
      cport::comm::kWaitObject0);
  EXPECT_FALSE(returned);

  EXPECT_TRUE(cport::fw::CheckSynchronize());
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  ASSERT_TRUE(worker.Finish());
  EXPECT_TRUE(returned);
  EXPECT_EQ(
      cport::comm::Api().WaitForSingleObject(cport::fw::CallsWaitingEvent(), 0),
      cport::comm::kWaitTimeout);
  EXPECT_FALSE(cport::fw::CheckSynchronize());
}

TEST_F(SynchronizeTest, ExceptionIsRaisedAgainInTheCallingThread) {
  std::u16string caught;
  bool sameType = false;
  Worker worker([&] {
    try {
      cport::fw::Synchronize(
          [] { throw cport::fw::EConvertError(u"bad value"); });
    } catch (const cport::fw::EConvertError& e) {
      sameType = true;
      caught = e.Message();
    }
  });
  ASSERT_TRUE(worker.Finish());
  EXPECT_TRUE(sameType);
  EXPECT_EQ(caught, u"bad value");
}

TEST_F(SynchronizeTest, CheckSynchronizeTakesTheWholeQueueAtOnce) {
  WakeCounter wakes;
  std::atomic<int> ran{0};
  std::vector<std::unique_ptr<Worker>> workers;
  for (int i = 0; i < 3; ++i)
    workers.push_back(std::make_unique<Worker>(
        [&] { cport::fw::Synchronize([&] { ++ran; }); }));
  ASSERT_TRUE(wakes.WaitFor(3));

  // A call queued while the queue is being run waits for the next pass.
  std::unique_ptr<Worker> late;
  std::atomic<bool> lateRan{false};
  EXPECT_TRUE(cport::fw::CheckSynchronize());
  EXPECT_EQ(ran, 3);
  workers.push_back(std::make_unique<Worker>([&] {
    cport::fw::Synchronize([&] {
      late = std::make_unique<Worker>(
          [&] { cport::fw::Synchronize([&] { lateRan = true; }); });
      ASSERT_TRUE(wakes.WaitFor(5));
    });
  }));
  ASSERT_TRUE(wakes.WaitFor(4));
  EXPECT_TRUE(cport::fw::CheckSynchronize());
  EXPECT_FALSE(lateRan);
  EXPECT_TRUE(cport::fw::CheckSynchronize());
  EXPECT_TRUE(lateRan);
  for (auto& w : workers) EXPECT_TRUE(w->Finish());
  EXPECT_TRUE(late->Finish());
}

// A UI thread that sleeps on the calls-waiting event until calls come is
// woken for every one of them, however the calls of many threads queue up
// behind each other: it never waits out its bound while calls are queued.
TEST_F(SynchronizeTest, CallsOfManyThreadsAtOnceEachWakeTheUiThread) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 300;
  std::atomic<int> ran{0};
  std::vector<std::unique_ptr<Worker>> workers;
  for (int i = 0; i < kThreads; ++i) {
    workers.push_back(std::make_unique<Worker>([&] {
      for (int call = 0; call < kCalls; ++call)
        cport::fw::Synchronize([&] { ++ran; });
    }));
  }
  int timedOut = 0;
  while (ran < kThreads * kCalls && timedOut == 0) {
    if (cport::comm::Api().WaitForSingleObject(
            cport::fw::CallsWaitingEvent(), 5000) != cport::comm::kWaitObject0)
      ++timedOut;
    cport::fw::CheckSynchronize();
  }
  EXPECT_EQ(timedOut, 0);
  EXPECT_EQ(ran, kThreads * kCalls);
  for (auto& w : workers) EXPECT_TRUE(w->Finish());
}

// A call that processes messages (as a handler inside an update's pause
// does) runs the rest of its own batch: the second call, taken together with
// the first, does not wait until the first has returned.
TEST_F(SynchronizeTest, ACallThatProcessesMessagesRunsTheRestOfItsBatch) {
  WakeCounter wakes;
  std::atomic<bool> secondRan{false};
  bool secondRanInsideFirst = false;
  Worker first([&] {
    cport::fw::Synchronize([&] {
      cport::fw::CheckSynchronize();
      secondRanInsideFirst = secondRan;
    });
  });
  ASSERT_TRUE(wakes.WaitFor(1));
  Worker second([&] { cport::fw::Synchronize([&] { secondRan = true; }); });
  ASSERT_TRUE(wakes.WaitFor(2));
  EXPECT_TRUE(cport::fw::CheckSynchronize());
  EXPECT_TRUE(secondRanInsideFirst);
  EXPECT_TRUE(first.Finish());
  EXPECT_TRUE(second.Finish());
}

// A call that waits for another thread to end (as closing another port
// waits for its event thread) while that thread's own call was taken in the
// same batch: the wait runs it, so both threads end.
TEST_F(SynchronizeTest, AWaitForAThreadRunsItsCallTakenInTheSameBatch) {
  const testsupport::Watchdog watchdog(
      "a wait for a thread whose call was "
      "taken in the same batch");
  WakeCounter wakes;
  std::atomic<bool> secondRan{false};
  LambdaThread second(
      [&] { cport::fw::Synchronize([&] { secondRan = true; }); });
  Worker first([&] { cport::fw::Synchronize([&] { second.WaitFor(); }); });
  ASSERT_TRUE(wakes.WaitFor(1));
  second.Start();
  ASSERT_TRUE(wakes.WaitFor(2));
  EXPECT_TRUE(cport::fw::CheckSynchronize());
  EXPECT_TRUE(secondRan);
  EXPECT_TRUE(first.Finish());
}

TEST_F(SynchronizeTest, CheckSynchronizeRefusesOtherThreads) {
  bool refused = false;
  Worker worker([&] {
    try {
      cport::fw::CheckSynchronize();
    } catch (const cport::fw::EThread&) {
      refused = true;
    }
  });
  ASSERT_TRUE(worker.Finish());
  EXPECT_TRUE(refused);
}

TEST_F(SynchronizeTest, WaitForOnTheUiThreadRunsQueuedCallsAndSentMessages) {
  std::thread::id syncOn, sentOn;
  LambdaThread thread([&] {
    cport::fw::Synchronize([&] { syncOn = std::this_thread::get_id(); });
    cport::fw::SendMessageToMainThread(
        [&] { sentOn = std::this_thread::get_id(); });
  });
  thread.Start();
  // The thread cannot end before the UI thread has run both; WaitFor must.
  EXPECT_EQ(thread.WaitFor(), 7u);
  EXPECT_EQ(syncOn, std::this_thread::get_id());
  EXPECT_EQ(sentOn, std::this_thread::get_id());
}

TEST_F(SynchronizeTest, WaitForOnAnotherThreadIsAPlainWait) {
  std::atomic<bool> release{false};
  LambdaThread thread([&] { WaitUntil([&] { return release.load(); }); });
  thread.Start();
  std::uint32_t code = 0;
  Worker waiter([&] { code = thread.WaitFor(); });
  release = true;
  ASSERT_TRUE(WaitUntil([&] { return waiter.Done(); }));
  EXPECT_EQ(code, 7u);
}

class SentMessageTest : public SynchronizeTest {};

TEST_F(SentMessageTest, HandledOneAtATimeInTheOrderSent) {
  WakeCounter wakes;
  std::vector<int> order;
  std::vector<std::unique_ptr<Worker>> senders;
  for (int i = 1; i <= 3; ++i) {
    senders.push_back(std::make_unique<Worker>([&order, i] {
      cport::fw::SendMessageToMainThread([&order, i] {
        EXPECT_TRUE(cport::fw::InSendMessage());
        order.push_back(i);
      });
    }));
    ASSERT_TRUE(wakes.WaitFor(i));  // queued before the next is sent
  }
  EXPECT_TRUE(cport::fw::ProcessSentMessages());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(cport::fw::ProcessSentMessages());
  for (auto& s : senders) EXPECT_TRUE(s->Finish());
  EXPECT_FALSE(cport::fw::InSendMessage());
}

TEST_F(SentMessageTest, ReplyMessageReleasesTheSenderEarly) {
  std::atomic<bool> senderReleased{false};
  bool sawRelease = false, firstReply = false, secondReply = true;
  Worker sender([&] {
    cport::fw::SendMessageToMainThread([&] {
      firstReply = cport::fw::ReplyMessage();
      secondReply = cport::fw::ReplyMessage();
      // The sender goes on while the handler is still running.
      sawRelease = WaitUntil([&] { return senderReleased.load(); });
    });
    senderReleased = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return sender.Done(); }));
  EXPECT_TRUE(firstReply);
  EXPECT_FALSE(secondReply);
  EXPECT_TRUE(sawRelease);
}

TEST_F(SentMessageTest, SentFromTheUiThreadRunsAtOnce) {
  bool inSend = true;
  cport::fw::SendMessageToMainThread(
      [&] { inSend = cport::fw::InSendMessage(); });
  EXPECT_FALSE(inSend);
  EXPECT_FALSE(cport::fw::ReplyMessage());
}

TEST_F(SentMessageTest, HandlerExceptionReachesTheSenderWithoutApplication) {
  bool caught = false;
  Worker sender([&] {
    try {
      cport::fw::SendMessageToMainThread(
          [] { throw std::runtime_error("no"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
  });
  ASSERT_TRUE(sender.Finish());
  EXPECT_TRUE(caught);
}

TEST_F(SentMessageTest, HandlerExceptionGoesToTheApplicationDisplay) {
  cport::fw::HeadlessApplication app;
  app.SetTitle(u"ROZ ERUVORU");
  std::u16string shown;
  app.SetShowException(
      [&](const std::u16string& message, const std::u16string& caption) {
        shown = caption + u": " + message;
      });
  bool senderReturned = false;
  Worker sender([&] {
    cport::fw::SendMessageToMainThread(
        [] { throw cport::fw::Exception(u"Port Not Open"); });
    senderReturned = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return sender.Done(); }));
  EXPECT_TRUE(senderReturned);
  EXPECT_EQ(shown, u"ROZ ERUVORU: Port Not Open.");
}

}  // namespace
