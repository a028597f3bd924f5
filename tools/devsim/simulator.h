// The simulated device: waits for the boot command on its pseudo-terminal,
// records the image with the arrival time of every chunk, and can misbehave
// on request (chatter, unplug, stop reading, appear late, refuse to boot).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cport/comm/posix/unique_fd.h"
#include "dos_device_link.h"
#include "gap_analysis.h"
#include "host_writes.h"
#include "pseudo_terminal.h"
#include "report.h"

namespace devsim {

struct SimulatorConfig {
  int port = 3;
  std::filesystem::path dosdevices;  // where comN is linked
  bool force = false;                // replace a foreign comN link
  std::optional<double> timeout_ms;  // give up and report after this long
  bool chatter = false;              // send bytes to the host periodically
  std::optional<std::size_t> vanish_after;  // unplug after this many bytes
  bool stop_reading = false;                // stop reading after the boot
  double appear_after_ms = 0;               // link only after this delay
  bool refuse_boot = false;                 // ignore the boot command
  std::filesystem::path ready_file;         // made while the link exists
  std::filesystem::path host_writes;        // the host's record of its writes
  std::span<const std::uint8_t> image;      // what the host should send
  Minimums minimums;
  double settle_ms = 500;  // keep listening after the last expected byte
  double chatter_period_ms = 50;
};

class Simulator {
 public:
  // Opens the pseudo-terminal; the link is made by Run. Throws
  // std::system_error.
  explicit Simulator(SimulatorConfig config);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Plays the device until the whole image plus the settle time has
  // arrived, the timeout passes, Stop is called or the device unplugs
  // itself. Removes the link before it returns. Throws std::runtime_error
  // when the link cannot be made.
  Report Run();

  // Ends Run from another thread or from a signal handler (it only writes
  // one byte to a pipe).
  void Stop();

  const std::string& SlavePath() const { return pty_.SlavePath(); }
  std::filesystem::path LinkPath() const;

 private:
  enum class State { kWaitingBoot, kRecording, kRefused };

  double Now() const;
  void MakeLink();
  void DropLink();
  void ReadAvailable();
  void Feed(std::span<const std::uint8_t> bytes, double time_ms);
  void Record(std::span<const std::uint8_t> bytes, double time_ms);
  void Unplug();
  void Chatter(double now_ms);
  Report MakeReport(EndReason end) const;
  HostPacing JudgeHostWrites() const;

  SimulatorConfig config_;
  PseudoTerminal pty_;
  UniqueFd wake_read_;
  UniqueFd wake_write_;
  std::optional<DosDeviceLink> link_;
  // Whether this simulator made the ready file: only then is it removed.
  bool made_ready_file_ = false;
  double start_s_ = 0;

  State state_ = State::kWaitingBoot;
  std::size_t boot_matched_ = 0;
  bool reading_ = true;
  bool vanished_ = false;
  double boot_ms_ = 0;
  std::string line_at_boot_;
  std::optional<double> settle_at_ms_;
  double next_chatter_ms_ = 0;
  std::size_t chatter_sent_ = 0;
  std::size_t chatter_sent_at_boot_ = 0;
  std::optional<std::size_t> chatter_sent_at_image_;  // once it is complete
  std::size_t chatter_unread_at_image_ = 0;
  std::vector<std::uint8_t> received_;
  std::vector<Chunk> chunks_;
};

}  // namespace devsim
