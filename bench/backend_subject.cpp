// The comm API of the POSIX backend, used as the component uses it:
// overlapped writes waited for, an event wait for EV_RXCHAR, then a read.
#include <stdexcept>
#include <vector>

#include "bench_subject.h"
#include "cport/comm/comm_api.h"

namespace bench {
namespace {

constexpr std::uint32_t kAllTen = 0x05FF;

class BackendSubject final : public Subject {
 public:
  BackendSubject() : api_(cport::comm::PlatformApi()) {}
  std::string Name() const override { return "comm backend"; }

  void Open(const PortNames& names) override {
    h_ = api_.CreateFileW(
        names.comName, cport::comm::kGenericRead | cport::comm::kGenericWrite,
        0, cport::comm::kOpenExisting, cport::comm::kFileFlagOverlapped);
    if (h_ == cport::comm::kInvalidHandle)
      throw std::runtime_error("backend open");
    cport::comm::Dcb dcb;
    dcb.BaudRate = 115200;
    dcb.Flags = cport::comm::kDcbBinary;
    dcb.ByteSize = 8;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    api_.SetupComm(h_, 1024, 1024);
    api_.SetCommState(h_, dcb);
    api_.SetCommTimeouts(h_, {0xFFFFFFFFu, 0, 0, 100, 1000});
    event_ = api_.CreateEventW(true, true);
  }
  void Close() override {
    api_.CloseHandle(h_);
    api_.CloseHandle(event_);
  }

  void WriteAll(std::size_t piece, std::size_t total) override {
    std::vector<char> data(piece, 'b');
    for (std::size_t done = 0; done < total; done += piece) {
      cport::comm::Overlapped ov{};
      ov.hEvent = event_;
      std::uint32_t n = 0;
      if (!api_.WriteFile(h_, data.data(), static_cast<std::uint32_t>(piece),
                          &n, &ov)) {
        api_.WaitForSingleObject(event_, cport::comm::kInfinite);
        api_.GetOverlappedResult(h_, &ov, &n, false);
      }
    }
  }

  void Listen(int rounds, const std::function<void()>& received) override {
    api_.SetCommMask(h_, cport::comm::kEvRxChar);
    char buffer[256];
    for (int i = 0; i < rounds;) {
      cport::comm::Overlapped ov{};
      ov.hEvent = event_;
      std::uint32_t mask = 0, n = 0;
      if (!api_.WaitCommEvent(h_, &mask, &ov) &&
          api_.WaitForSingleObject(event_, 2000) != cport::comm::kWaitObject0) {
        throw std::runtime_error("backend: no event");
      }
      api_.ReadFile(h_, buffer, sizeof buffer, &n, &ov);
      if (n > 0) {
        received();
        ++i;
      }
    }
    api_.SetCommMask(h_, 0);
  }

  void Idle(double seconds) override {
    api_.SetCommMask(h_, kAllTen);
    cport::comm::Overlapped ov{};
    ov.hEvent = event_;
    std::uint32_t mask = 0;
    api_.WaitCommEvent(h_, &mask, &ov);
    api_.Sleep(static_cast<std::uint32_t>(seconds * 1000));
    api_.SetCommMask(h_, 0);
    api_.WaitForSingleObject(event_, 1000);
  }

 private:
  cport::comm::CommApi& api_;
  cport::comm::Handle h_ = cport::comm::kInvalidHandle;
  cport::comm::Handle event_ = 0;
};

}  // namespace

std::unique_ptr<Subject> MakeBackendSubject() {
  return std::make_unique<BackendSubject>();
}

}  // namespace bench
