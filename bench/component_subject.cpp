// The serial component: TComPort with its event thread. OnRxChar runs on
// this thread (the UI thread) with the thread-synchronised delivery, or on
// the event thread itself with no synchronisation.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "bench_subject.h"
#include "cport/comm/comm_api.h"
#include "cport/comport.h"
#include "cport/fw/sent_message.h"
#include "cport/fw/synchronize.h"

namespace bench {
namespace {

class ComponentSubject final : public Subject {
 public:
  explicit ComponentSubject(cport::TSyncMethod sync) : sync_(sync) {}
  std::string Name() const override {
    return sync_ == cport::smNone ? "TComPort nosync" : "TComPort";
  }

  void Open(const PortNames& names) override {
    cport::fw::InitMainThread();
    port_ = std::make_unique<cport::TComPort>(nullptr);
    // "\\.\" is put in front by the port itself.
    port_->SetPort(names.comName.substr(4));
    port_->SetBaudRate(cport::br115200);
    port_->SetEvents(cport::kAllComEvents);
    port_->SetSyncMethod(sync_);
    // Set once: with no synchronisation it runs on the event thread, where
    // replacing it while a delivery runs would race.
    port_->SetOnRxChar(
        [this](cport::fw::TObject*, std::int32_t n) { OnRxChar(n); });
    port_->SetOnTxEmpty([this](cport::fw::TObject*) { ++txEmpty_; });
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
    {
      std::lock_guard guard(lock_);
      received_ = &received;
      count_ = 0;
      rounds_ = rounds;
    }
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::unique_lock guard(lock_);
    while (count_ < rounds && std::chrono::steady_clock::now() < end) {
      if (sync_ == cport::smNone) {
        done_.wait_until(guard, end);
      } else {
        guard.unlock();
        Pump(100);
        guard.lock();
      }
    }
    received_ = nullptr;
    if (count_ < rounds) throw std::runtime_error("component: no notification");
  }

  long Notifications() const override { return txEmpty_.load(); }

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
  // Reads what came and, while a Listen runs, counts it as one round.
  void OnRxChar(std::int32_t n) {
    char buffer[256];
    port_->Read(buffer, std::min<std::int32_t>(n, sizeof buffer));
    std::lock_guard guard(lock_);
    if (received_ == nullptr || count_ >= rounds_) return;
    (*received_)();
    ++count_;
    done_.notify_one();
  }

  // The UI thread's message processing: sleeps until a call is queued.
  static void Pump(std::uint32_t ms) {
    cport::comm::Api().WaitForSingleObject(cport::fw::CallsWaitingEvent(), ms);
    cport::fw::CheckSynchronize();
    cport::fw::PumpSentMessages();
  }

  const cport::TSyncMethod sync_;
  std::unique_ptr<cport::TComPort> port_;
  std::atomic<long> txEmpty_{0};
  std::mutex lock_;  // guards the fields below
  std::condition_variable done_;
  const std::function<void()>* received_ = nullptr;
  int count_ = 0;
  int rounds_ = 0;
};

}  // namespace

std::unique_ptr<Subject> MakeComponentSubject(cport::TSyncMethod sync) {
  return std::make_unique<ComponentSubject>(sync);
}

}  // namespace bench
