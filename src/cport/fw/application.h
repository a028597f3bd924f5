// The application: its title, its message processing and the program-wide
// display of exceptions that escape message handlers. A toolkit's
// application (Qt, Win32) derives from TApplication, supplies the wake-up
// (OnWake) and the message pumping, and makes itself the process's
// application with SetApplication(this) at the end of its constructor
// (SetApplication(nullptr) in its destructor). HeadlessApplication serves
// programs and tests without a toolkit.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <string>

#include "cport/fw/object.h"

namespace cport::fw {

/// The program's application: the thread that makes it becomes the UI
/// thread, where ports with SyncMethod smThreadSync or smWindowSync deliver
/// their notifications while the application processes messages (Run,
/// HandleMessage, ProcessMessages, WaitForMessages). Exactly one exists at
/// a time: make one form (HeadlessApplication, TQtApplication,
/// TWin32Application) at the start of main, before any port opens.
/// Exceptions that escape a handler go to HandleException.
class TApplication : public TObject {
 public:
  /// Shows an exception's text in a modal box with `caption`.
  using TShowException = std::function<void(const std::u16string& message,
                                            const std::u16string& caption)>;

  /// Makes the constructing thread the UI thread.
  TApplication();
  ~TApplication() override;
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  std::u16string ClassName() const override { return u"TApplication"; }

  /// The program's title, the caption of the exception display.
  ///@{
  const std::u16string& Title() const { return title_; }
  void SetTitle(std::u16string title) { title_ = std::move(title); }
  ///@}

  /// Runs every pending queued call and pending message, then returns; never
  /// waits.
  virtual void ProcessMessages() = 0;
  /// Handles one message, waiting for one when none is pending; runs queued
  /// calls when there is nothing else. Returns false once Terminate was
  /// called.
  virtual bool HandleMessage() = 0;
  /// Sleeps until a message or a queued call is waiting or until `deadline`
  /// (to the microsecond), whichever comes first; it may handle messages
  /// while it waits. It sleeps, and spins only the last fraction of a
  /// millisecond that the system's timers cannot meet.
  virtual void WaitForMessages(
      std::chrono::steady_clock::time_point deadline) = 0;
  /// The message loop: HandleMessage until Terminate.
  virtual void Run();
  /// Ends Run; any thread.
  void Terminate();
  /// Whether Terminate was called.
  bool Terminated() const { return terminated_; }

  /// The program-wide exception display: the exception's message (with a "."
  /// appended by DisplayText) and the title as caption, through
  /// ShowException (without one, the text goes to the standard error
  /// stream). Never throws.
  ///@{
  void HandleException(std::exception_ptr error) noexcept;
  void SetShowException(TShowException show) {
    showException_ = std::move(show);
  }
  ///@}
  /// The message as the display shows it: "." is appended when the message is
  /// not empty and its last character's code is greater than that of ".".
  static std::u16string DisplayText(std::u16string message);
  /// The UTF-16 message of any exception.
  static std::u16string ExceptionMessage(std::exception_ptr error);

 protected:
  /// Wakes the UI thread's message loop: a call or a sent message was queued.
  /// Called from any thread, under the marshalling lock: post, don't run.
  virtual void OnWake() = 0;

 private:
  friend void SetApplication(TApplication* application);

  std::u16string title_;
  TShowException showException_;
  std::atomic<bool> terminated_{false};
};

/// The process's application, or null. SetApplication also routes the
/// marshalling's wake-up to the application's OnWake (or clears it).
TApplication* Application();
void SetApplication(TApplication* application);

}  // namespace cport::fw
