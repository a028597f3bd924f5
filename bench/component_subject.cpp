// The serial component: TComPort with its event thread, OnRxChar run on this
// thread (the UI thread) by the thread-synchronised delivery.
#include <chrono>
#include <stdexcept>
#include <vector>

#include "bench_subject.h"
#include "cport/comport.h"
#include "framework/sent_message.h"
#include "framework/synchronize.h"
#include "platform/comm_api.h"

namespace bench {
namespace {

class ComponentSubject final : public Subject {
 public:
  std::string Name() const override { return "TComPort"; }

  void Open(const PortNames& names) override {
    fw::InitMainThread();
    port_ = std::make_unique<cport::TComPort>(nullptr);
    // "\\.\" is put in front by the port itself.
    port_->SetPort(names.comName.substr(4));
    port_->SetBaudRate(cport::br115200);
    port_->SetEvents(cport::kAllComEvents);
    port_->Open();
  }
  void Close() override { port_.reset(); }

  void WriteAll(std::size_t piece, std::size_t total) override {
    std::vector<char> data(piece, 'c');
    for (std::size_t done = 0; done < total; done += piece) {
      port_->Write(data.data(), static_cast<std::int32_t>(piece));
    }
  }

  void Listen(int rounds, const std::function<void()>& received) override {
    int count = 0;
    char buffer[256];
    port_->SetOnRxChar([&](fw::TObject*, std::int32_t n) {
      port_->Read(buffer, std::min<std::int32_t>(n, sizeof buffer));
      received();
      ++count;
    });
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (count < rounds && std::chrono::steady_clock::now() < end) {
      Pump(100);
    }
    port_->SetOnRxChar(nullptr);
    if (count < rounds) throw std::runtime_error("component: no notification");
  }

  void Idle(double seconds) override {
    const auto end =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
      Pump(static_cast<std::uint32_t>(
          std::chrono::ceil<std::chrono::milliseconds>(end - now).count()));
    }
  }

 private:
  // The UI thread's message processing: sleeps until a call is queued.
  static void Pump(std::uint32_t ms) {
    comm::Api().WaitForSingleObject(fw::CallsWaitingEvent(), ms);
    fw::CheckSynchronize();
    fw::PumpSentMessages();
  }

  std::unique_ptr<cport::TComPort> port_;
};

}  // namespace

std::unique_ptr<Subject> MakeComponentSubject() {
  return std::make_unique<ComponentSubject>();
}

}  // namespace bench
