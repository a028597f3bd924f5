#include "updater/form4.h"

#include "cport/comport.h"
#include "cport/fw/application.h"
#include "cport/fw/text.h"
#include "updater/device_port.h"
#include "updater/form4_layout.h"

namespace dov {

TForm4::TForm4(TControls controls, TPlatform platform)
    : cport::fw::TComponent(nullptr),
      ComPort1(new cport::TComPort(this)),
      controls_(controls),
      update_(*ComPort1, {platform.Ticks, platform.Idle, platform.Tool,
                          controls.ProgressBar1, platform.Trace}) {
  ComPort1->SetName(u"ComPort1");
  ConfigureComPort1();
  controls_.ProgressBar1.SetVisible(false);
  controls_.Label1.SetText(form4::kLabel1Text);
  controls_.UpDown1.SetRange(form4::kPortMin, form4::kPortMax);
}

// The device's line, with received bytes going to ComPort1RxChar.
void TForm4::ConfigureComPort1() {
  ConfigureDevicePort(*ComPort1);
  ComPort1->SetOnRxChar([this](cport::fw::TObject* sender, std::int32_t count) {
    ComPort1RxChar(sender, count);
  });
}

void TForm4::FormShow(cport::fw::TObject*) {
  update_.PortNumber = 3;
  controls_.UpDown1.SetPosition(3);
}

void TForm4::UpDown1Changing(cport::fw::TObject*, bool&) {
  const int value = controls_.UpDown1.Position();
  update_.PortNumber = static_cast<std::uint8_t>(value);
  controls_.Label1.SetText(u"COM " + cport::fw::IntToStr(value));
}

void TForm4::ComPort1RxChar(cport::fw::TObject*, std::int32_t Count) {
  DropReceived(*ComPort1, Count, update_.Trace());
}

void TForm4::Button8Click(cport::fw::TObject*) { update_.Run(); }

void TForm4::Dispatch(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    cport::fw::TApplication* application = cport::fw::Application();
    if (!application) throw;
    application->HandleException(std::current_exception());
  }
  if (closePending_ && !update_.Running()) {
    closePending_ = false;
    controls_.Form.Close();
  }
}

bool TForm4::CloseQuery() {
  if (update_.Running()) closePending_ = true;
  return !update_.Running();
}

}  // namespace dov
