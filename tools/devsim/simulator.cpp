#include "simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <limits>
#include <string_view>
#include <system_error>

#include "sha256.h"

namespace devsim {
namespace {

constexpr std::string_view kBootCommand = "BootUp@";
constexpr std::string_view kChatter = "chatter\r\n";

double MonotonicSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) +
         static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

Simulator::Simulator(SimulatorConfig config) : config_(std::move(config)) {
  std::array<int, 2> fds{};
  if (::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  wake_read_ = UniqueFd(fds[0]);
  wake_write_ = UniqueFd(fds[1]);
}

Simulator::~Simulator() { DropLink(); }

std::filesystem::path Simulator::LinkPath() const {
  return config_.dosdevices / ("com" + std::to_string(config_.port));
}

void Simulator::Stop() {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_write_.get(), &byte, 1);
}

double Simulator::Now() const {
  return (MonotonicSeconds() - start_s_) * 1000.0;
}

void Simulator::MakeLink() {
  link_.emplace(config_.dosdevices, config_.port, pty_.SlavePath(),
                config_.force);
  if (config_.ready_file.empty()) return;
  // Made only where nothing stands yet (a link there is not followed), so
  // that removing it later removes nothing that was someone else's.
  const UniqueFd ready(::open(config_.ready_file.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  made_ready_file_ = ready.get() >= 0;
  if (!made_ready_file_ && errno != EEXIST) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot make " + config_.ready_file.string());
  }
}

void Simulator::DropLink() {
  if (!link_) return;
  link_.reset();
  std::error_code ignored;
  if (made_ready_file_) std::filesystem::remove(config_.ready_file, ignored);
  made_ready_file_ = false;
}

Report Simulator::Run() {
  start_s_ = MonotonicSeconds();
  next_chatter_ms_ = 0;
  if (config_.appear_after_ms <= 0) MakeLink();

  EndReason end = EndReason::kTimeout;
  for (;;) {
    const double now = Now();
    if (!link_ && !vanished_ && now >= config_.appear_after_ms) MakeLink();
    if (vanished_) {
      end = EndReason::kVanished;
      break;
    }
    if (settle_at_ms_ && now >= *settle_at_ms_) {
      end = EndReason::kComplete;
      break;
    }
    if (config_.timeout_ms && now >= *config_.timeout_ms) {
      end = EndReason::kTimeout;
      break;
    }
    if (config_.chatter) Chatter(now);

    // Sleep in poll until the next thing that is due.
    std::optional<double> due;
    const auto consider = [&](std::optional<double> at) {
      if (at && (!due || *at < *due)) due = at;
    };
    if (!link_) consider(config_.appear_after_ms);
    consider(settle_at_ms_);
    consider(config_.timeout_ms);
    if (config_.chatter) consider(next_chatter_ms_);
    // A wait beyond poll's range (a timeout of weeks) is cut to its
    // largest; the loop then waits again.
    const int wait_ms =
        due ? static_cast<int>(std::ceil(std::clamp(
                  *due - now, 0.0,
                  static_cast<double>(std::numeric_limits<int>::max()))))
            : -1;

    std::array<pollfd, 2> fds{
        {{wake_read_.get(), POLLIN, 0}, {pty_.MasterFd(), POLLIN, 0}}};
    const nfds_t count = reading_ ? 2 : 1;
    if (::poll(fds.data(), count, wait_ms) < 0 && errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (fds[0].revents & POLLIN) {
      end = EndReason::kSignal;
      break;
    }
    if (reading_ && (fds[1].revents & POLLIN)) ReadAvailable();
  }
  DropLink();
  return MakeReport(end);
}

void Simulator::ReadAvailable() {
  std::array<std::uint8_t, 4096> buffer;
  while (reading_ && !vanished_) {
    const double time_ms = Now();
    const std::size_t n = pty_.Read(buffer);
    if (n == 0) return;
    Feed(std::span(buffer).first(n), time_ms);
  }
}

void Simulator::Feed(std::span<const std::uint8_t> bytes, double time_ms) {
  while (!bytes.empty() && state_ == State::kWaitingBoot) {
    const char c = static_cast<char>(bytes.front());
    bytes = bytes.subspan(1);
    // "BootUp@" repeats no prefix of itself, so a mismatch restarts the
    // match, at this byte if it begins the command.
    if (c == kBootCommand[boot_matched_]) {
      ++boot_matched_;
    } else {
      boot_matched_ = c == kBootCommand[0] ? 1 : 0;
    }
    if (boot_matched_ < kBootCommand.size()) continue;
    boot_ms_ = time_ms;
    line_at_boot_ = pty_.LineSettings();
    if (config_.refuse_boot) {
      state_ = State::kRefused;
      return;
    }
    state_ = State::kRecording;
    chatter_sent_at_boot_ = chatter_sent_;
    if (config_.stop_reading) {
      pty_.FillHostSide();
      reading_ = false;
    }
    Record({}, time_ms);  // an unplug after 0 bytes happens here
  }
  if (state_ == State::kRecording && !bytes.empty()) Record(bytes, time_ms);
}

void Simulator::Record(std::span<const std::uint8_t> bytes, double time_ms) {
  if (config_.vanish_after) {
    const std::size_t room = *config_.vanish_after - received_.size();
    bytes = bytes.first(std::min(bytes.size(), room));
  }
  if (!bytes.empty()) {
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    chunks_.push_back({time_ms, bytes.size()});
  }
  if (config_.vanish_after && received_.size() >= *config_.vanish_after) {
    Unplug();
    return;
  }
  if (!settle_at_ms_ && received_.size() >= config_.image.size()) {
    settle_at_ms_ = time_ms + config_.settle_ms;
    chatter_sent_at_image_ = chatter_sent_;
    chatter_unread_at_image_ = pty_.WaitingForHost();
  }
}

void Simulator::Unplug() {
  pty_.Close();
  DropLink();
  reading_ = false;
  vanished_ = true;
}

void Simulator::Chatter(double now_ms) {
  if (now_ms < next_chatter_ms_ || vanished_) return;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(kChatter.data());
  chatter_sent_ += pty_.Send({bytes, kChatter.size()});
  next_chatter_ms_ = now_ms + config_.chatter_period_ms;
}

Report Simulator::MakeReport(EndReason end) const {
  Report report;
  report.port = config_.port;
  report.link = LinkPath().string() + " -> " + pty_.SlavePath();
  report.boot = state_ == State::kWaitingBoot ? BootState::kNone
                : state_ == State::kRefused   ? BootState::kRefused
                                              : BootState::kReceived;
  report.end = end;
  report.bytes_received = received_.size();
  report.bytes_expected = config_.image.size();
  report.received_sha256 = Sha256Hex(received_);
  report.expected_sha256 = Sha256Hex(config_.image);
  report.intact = std::ranges::equal(received_, config_.image);
  report.chatter_bytes_sent = chatter_sent_;
  if (state_ == State::kRecording) {
    report.chatter_sent_in_update =
        chatter_sent_at_image_.value_or(chatter_sent_) - chatter_sent_at_boot_;
    report.chatter_unread_at_image_end = chatter_unread_at_image_;
  }
  report.minimums = config_.minimums;
  report.line = line_at_boot_;
  if (report.boot == BootState::kReceived) {
    report.analysis = AnalyseArrivals(boot_ms_, chunks_, config_.minimums);
    if (!config_.host_writes.empty()) {
      report.host = JudgeHostWrites();
      ExplainWithHostRecord(report.analysis, *report.host);
    }
  }
  return report;
}

HostPacing Simulator::JudgeHostWrites() const {
  const auto since_ns = static_cast<long long>(start_s_ * 1e9);
  const auto writes =
      ReadHostWrites(config_.host_writes, pty_.SlavePath(), since_ns);
  if (!writes) return {};  // no record: incomplete, so not passed
  return AnalyseHostWrites(*writes, config_.minimums, kBootCommand.size(),
                           config_.image.size());
}

}  // namespace devsim
