// Boost.Asio's serial_port: synchronous writes, async_read_some for the
// receive notification (its completion handler).
// Boost 1.74's Asio uses std::exchange without including <utility>.
// clang-format off
#include <utility>
#include <boost/asio.hpp>
// clang-format on

#include <stdexcept>
#include <vector>

#include "bench_subject.h"

namespace bench {
namespace {

namespace asio = boost::asio;

class AsioSubject final : public Subject {
 public:
  std::string Name() const override { return "Boost.Asio"; }

  void Open(const PortNames& names) override {
    port_ = std::make_unique<asio::serial_port>(io_, names.path);
    using sp = asio::serial_port_base;
    port_->set_option(sp::baud_rate(115200));
    port_->set_option(sp::character_size(8));
    port_->set_option(sp::parity(sp::parity::none));
    port_->set_option(sp::stop_bits(sp::stop_bits::one));
    port_->set_option(sp::flow_control(sp::flow_control::none));
  }
  void Close() override { port_.reset(); }

  void WriteAll(std::size_t piece, std::size_t total) override {
    std::vector<char> data(piece, 'a');
    for (std::size_t done = 0; done < total; done += piece) {
      asio::write(*port_, asio::buffer(data));
    }
  }

  void Listen(int rounds, const std::function<void()>& received) override {
    int count = 0;
    std::function<void()> arm = [&] {
      port_->async_read_some(
          asio::buffer(buffer_),
          [&](boost::system::error_code error, std::size_t n) {
            if (error) throw std::runtime_error("asio read");
            if (n > 0) {
              received();
              ++count;
            }
            if (count < rounds) arm();
          });
    };
    arm();
    io_.restart();
    io_.run();
  }

  void Idle(double seconds) override {
    asio::steady_timer timer(
        io_, std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
    port_->async_read_some(asio::buffer(buffer_),
                           [](boost::system::error_code, std::size_t) {});
    timer.async_wait([&](boost::system::error_code) { port_->cancel(); });
    io_.restart();
    io_.run();
  }

 private:
  asio::io_context io_;
  std::unique_ptr<asio::serial_port> port_;
  char buffer_[256];
};

}  // namespace

std::unique_ptr<Subject> MakeAsioSubject() {
  return std::make_unique<AsioSubject>();
}

}  // namespace bench
