// The update dialog's logic, without a toolkit: its port, its handlers and
// the state they share. A view builds the controls, hands them over, and
// routes the toolkit's notifications to the handlers through Dispatch.
#pragma once

#include <cstdint>
#include <functional>

#include "cport/fw/component.h"
#include "updater/controls.h"
#include "updater/update_procedure.h"

namespace cport {
class TComPort;
}

namespace dov {

class TForm4 : public cport::fw::TComponent {
 public:
  struct TControls {
    TProgressBarControl& ProgressBar1;
    TLabelControl& Label1;
    TUpDownControl& UpDown1;
    TFormControl& Form;
  };
  // The tick counter, the idle work of the pauses and the device console
  // tool: the system's in the program, fakes in tests.
  struct TPlatform {
    TTickCounter& Ticks;
    TPauseIdle& Idle;
    TToolLauncher& Tool;
    // The update's trace (DOV_LOG), or null.
    TUpdateTrace* Trace = nullptr;
  };

  // Creates ComPort1 configured for the device (closed) and gives the
  // controls their initial state: label "COM 3", bar hidden, arrows 1..30.
  TForm4(TControls controls, TPlatform platform);

  std::u16string ClassName() const override { return u"TForm4"; }

  // Owned by the form (destroyed with it, which closes the port).
  cport::TComPort* const ComPort1;

  void FormShow(cport::fw::TObject* Sender);
  // Takes the up-down's new position as the port number and shows it.
  void UpDown1Changing(cport::fw::TObject* Sender, bool& AllowChange);
  // Reads and drops what the device sent.
  void ComPort1RxChar(cport::fw::TObject* Sender, std::int32_t Count);
  // The update procedure; a press while an update runs is ignored.
  void Button8Click(cport::fw::TObject* Sender);

  // Runs a handler as the UI thread dispatches a message: an exception that
  // escapes it goes to the application's exception display. A close that
  // was deferred by an update runs once the update is over.
  void Dispatch(const std::function<void()>& handler);
  // Whether the dialog may close now. While an update runs the answer is no,
  // and the close is done when the update ends.
  bool CloseQuery();

  std::uint8_t PortNumber() const { return update_.PortNumber; }
  const TUpdateProcedure& Update() const { return update_; }

 private:
  void ConfigureComPort1();

  TControls controls_;
  TUpdateProcedure update_;
  bool closePending_ = false;
};

}  // namespace dov
