// The dialog logic on a fake port, a fake clock and fake controls. Time
// moves only inside the pauses (one millisecond per idle turn), so every gap
// the procedure leaves is exact and the whole update runs at once.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cport/comm/fake/fake_comm.h"
#include "cport/comport.h"
#include "cport/fw/headless_application.h"
#include "cport/fw/text.h"
#include "support/fake_clock.h"
#include "updater/form4.h"

namespace dov::testing {

// What happened, and when on the fake clock.
struct Event {
  std::uint32_t time;
  std::string what;
  std::vector<std::uint8_t> bytes;
};

class Timeline {
 public:
  explicit Timeline(const FakeTicks& ticks) : ticks_(ticks) {}
  void Add(std::string what, std::vector<std::uint8_t> bytes = {}) {
    std::lock_guard lock(mutex_);
    events_.push_back({ticks_.now, std::move(what), std::move(bytes)});
  }
  std::vector<Event> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }
  std::vector<Event> Named(const std::string& what) const {
    std::vector<Event> found;
    for (const Event& e : Events())
      if (e.what == what) found.push_back(e);
    return found;
  }

 private:
  const FakeTicks& ticks_;
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

// The fake device, with the port's opens, closes and writes on the timeline.
// A chosen write (counted from 1) can fail or be cut short.
class TimedComm : public cport::comm::FakeComm {
 public:
  explicit TimedComm(Timeline& timeline) : timeline_(timeline) {}

  cport::comm::Handle CreateFileW(const std::u16string& path,
                                  std::uint32_t access, std::uint32_t shareMode,
                                  std::uint32_t creation,
                                  std::uint32_t flags) override {
    timeline_.Add("open " + cport::fw::ToUtf8(path));
    return FakeComm::CreateFileW(path, access, shareMode, creation, flags);
  }
  bool CloseHandle(cport::comm::Handle h) override {
    if (IsOpen(h)) timeline_.Add("close");
    return FakeComm::CloseHandle(h);
  }
  bool WriteFile(cport::comm::Handle h, const void* buffer, std::uint32_t count,
                 std::uint32_t* written, cport::comm::Overlapped* ov) override {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    timeline_.Add("write", {bytes, bytes + count});
    if (++writes_ == failAt_) FailNext("WriteFile", failError_);
    if (writes_ == shortAt_) SetWriteMode(WriteMode::kShort, shortCount_);
    return FakeComm::WriteFile(h, buffer, count, written, ov);
  }

  void FailWrite(int n, std::uint32_t error) {
    failAt_ = n;
    failError_ = error;
  }
  void ShortWrite(int n, std::uint32_t count) {
    shortAt_ = n;
    shortCount_ = count;
  }

 private:
  Timeline& timeline_;
  int writes_ = 0;
  int failAt_ = 0;
  std::uint32_t failError_ = 0;
  int shortAt_ = 0;
  std::uint32_t shortCount_ = 0;
};

struct FakeTool : TToolLauncher {
  explicit FakeTool(Timeline& t) : timeline(t) {}
  void Start(const std::u16string& parameters) override {
    timeline.Add("tool " + cport::fw::ToUtf8(parameters));
  }
  Timeline& timeline;
};

struct FakeBar : TProgressBarControl {
  explicit FakeBar(Timeline& t) : timeline(t) {}
  void SetRange(int lo, int hi) override {
    min = lo;
    max = hi;
  }
  void SetPosition(int p) override { position = p; }
  void SetStep(int s) override { step = s; }
  void StepIt() override {
    position += step;
    painted = false;
  }
  void Repaint() override {
    painted = true;
    ++repaints;
  }
  void SetVisible(bool v) override {
    visible = v;
    timeline.Add(v ? "bar shown" : "bar hidden");
    if (!v) positionWhenHidden = position;
  }
  Timeline& timeline;
  int min = -1, max = -1, position = -1, step = -1, repaints = 0;
  int positionWhenHidden = -1;
  bool visible = true, painted = true;
};

struct FakeLabel : TLabelControl {
  void SetText(const std::u16string& t) override { text = t; }
  std::u16string text;
};

struct FakeUpDown : TUpDownControl {
  void SetRange(int lo, int hi) override {
    min = lo;
    max = hi;
  }
  void SetPosition(int p) override { position = p; }
  int Position() const override { return position; }
  int min = 0, max = 0, position = 0;
};

struct FakeForm : TFormControl {
  explicit FakeForm(Timeline& t) : timeline(t) {}
  void Close() override {
    ++closes;
    timeline.Add("form closed");
  }
  Timeline& timeline;
  int closes = 0;
};

class UpdaterTest : public ::testing::Test {
 public:
  UpdaterTest() {
    app.SetShowException(
        [this](const std::u16string& message, const std::u16string& caption) {
          shown.emplace_back(message, caption);
        });
    app.SetTitle(u"ROZ ERUVORU");
    timeline.Clear();  // what the dialog did while it was made
  }

  // A press of "Update", dispatched as the dialog does.
  void Press() {
    form4->Dispatch([this] { form4->Button8Click(form4.get()); });
  }
  // The user moves the arrows to `position`.
  void Select(int position) {
    updown.position = position;
    bool allow = true;
    form4->Dispatch([&] { form4->UpDown1Changing(form4.get(), allow); });
  }
  std::vector<Event> Writes() const { return timeline.Named("write"); }
  // Handles the dialog's messages until the device's bytes are drained, for
  // at most 10 s: they reach the dialog through the port's event thread,
  // which a busy machine may run only after the update's last step.
  void HandleMessagesUntilDrained() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (comm.InputQueued() > 0 &&
           std::chrono::steady_clock::now() < deadline) {
      app.WaitForWork(50);
      app.ProcessMessages();
    }
  }

  FakeTicks ticks;
  Timeline timeline{ticks};
  TimedComm comm{timeline};
  cport::comm::ScopedApi api{comm};
  cport::fw::HeadlessApplication app;
  FakeIdle idle{ticks, app};
  FakeTool tool{timeline};
  FakeBar bar{timeline};
  FakeLabel label;
  FakeUpDown updown;
  FakeForm form{timeline};
  std::vector<std::pair<std::u16string, std::u16string>> shown;
  std::unique_ptr<TForm4> form4 =
      std::make_unique<TForm4>(TForm4::TControls{bar, label, updown, form},
                               TForm4::TPlatform{ticks, idle, tool});
};

}  // namespace dov::testing
