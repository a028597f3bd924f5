// The Win32 application's message loop and calls marshalled from other
// threads: they run inside modal loops the application does not own (an
// error box), and a loop that has run one does not go to sleep.
#include "cport/fw/win32_application.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "cport/fw/synchronize.h"
#include "support/desktop_report.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr wchar_t kCaption[] = L"win32 application test";

HWND FindBox() { return FindWindowW(L"#32770", kCaption); }

// Polls for the error box, at most `bound`, and stops early once the call
// that shows it has returned (it could not show it).
HWND WaitForBox(milliseconds bound, const std::atomic<bool>& returned) {
  const auto until = steady_clock::now() + bound;
  HWND box = nullptr;
  while (!(box = FindBox()) && !returned && steady_clock::now() < until) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  return box;
}

class Win32ApplicationTest : public ::testing::Test {
 protected:
  Win32ApplicationTest() {
    application.SetTitle(std::u16string(kCaption, kCaption + wcslen(kCaption)));
  }
  cport::fw::TWin32Application application;
};

TEST_F(Win32ApplicationTest, QueuedCallsRunWhileAnErrorBoxIsUp) {
  if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
    GTEST_SKIP() << "No X display: the error box cannot be shown. Run the "
                    "tests through scripts/with-display.";
  }
  std::atomic<bool> ranInsideBox{false};
  std::atomic<bool> ran{false};
  std::atomic<bool> done{false};
  std::atomic<bool> noBox{false};
  std::thread worker([&] {
    if (!WaitForBox(milliseconds(30000), done)) {
      noBox = true;
      return;
    }
    // Runs on the UI thread, which is inside the box's own loop; closes it.
    cport::fw::Synchronize([&] {
      ran = true;
      if (HWND box = FindBox()) {
        ranInsideBox = true;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
      }
    });
  });
  // Bounded: a box that nothing closes is closed here after a while.
  std::thread watchdog([&] {
    const auto until = steady_clock::now() + std::chrono::seconds(60);
    while (!done && steady_clock::now() < until) {
      std::this_thread::sleep_for(milliseconds(50));
    }
    if (HWND box = FindBox()) PostMessageW(box, WM_COMMAND, IDOK, 0);
  });

  application.HandleException(
      std::make_exception_ptr(std::runtime_error("the device went away")));
  const DWORD error = GetLastError();
  done = true;
  // The worker's call runs by now at the latest, so the threads can end;
  // a worker that never saw the box queues none.
  const auto until = steady_clock::now() + std::chrono::seconds(30);
  while (!ran && !noBox && steady_clock::now() < until) {
    application.ProcessMessages();
  }
  worker.join();
  watchdog.join();
  ASSERT_FALSE(noBox) << "the error box did not appear"
                      << testsupport::DesktopReport(error);
  EXPECT_TRUE(ranInsideBox) << (ran ? "the call ran only after the box closed"
                                    : "the call never ran");
}

TEST_F(Win32ApplicationTest, HandleMessageDoesNotSleepAfterRunningACall) {
  std::atomic<bool> ran{false};
  std::thread worker([&] { cport::fw::Synchronize([&] { ran = true; }); });
  // The call is queued and its wake-up posted; take the wake-up away, as a
  // foreign loop may, so that only the loop's own pass can find the call.
  const auto until = steady_clock::now() + std::chrono::seconds(30);
  MSG message;
  while (!PeekMessageW(&message, application.Handle(), WM_NULL, WM_NULL,
                       PM_REMOVE) &&
         steady_clock::now() < until) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  // A late message ends a sleep that should not have begun.
  std::atomic<bool> late{false};
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::seconds(5));
    late = true;
    PostMessageW(application.Handle(), WM_USER, 0, 0);
  });
  application.HandleMessage();
  const bool slept = late;
  waker.join();
  application.ProcessMessages();
  worker.join();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(slept) << "HandleMessage slept after running the queued call";
}

}  // namespace
