// The device's end of the line: a pseudo-terminal whose slave the host opens
// as its serial port, and whose master the simulator reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "cport/comm/posix/unique_fd.h"

namespace devsim {

using cport::comm::posix::UniqueFd;

class PseudoTerminal {
 public:
  // Opens a master in non-blocking mode and holds one slave descriptor of
  // its own, so the master sees no hang-up while the host has the port
  // closed. The line is raw: bytes pass unchanged in both directions.
  // Throws std::system_error.
  PseudoTerminal();

  const std::string& SlavePath() const { return slave_path_; }
  int MasterFd() const { return master_.get(); }
  bool IsOpen() const { return master_.valid(); }

  // Reads what is waiting, up to buffer.size() bytes. Returns 0 when nothing
  // is waiting. Throws std::system_error on a read error.
  std::size_t Read(std::span<std::uint8_t> buffer);

  // Sends bytes to the host as far as the line takes them; returns how many
  // it took.
  std::size_t Send(std::span<const std::uint8_t> bytes);

  // The line as the host set it up, such as "115200 8N1, no flow control"
  // (the speed, data bits, parity N/E/O, stop bits, then the flow control).
  std::string LineSettings() const;

  // How many bytes sent to the host it has not read yet.
  std::size_t WaitingForHost() const;

  // Fills the host-to-device direction of the line from the simulator's own
  // slave descriptor, so the host finds no room left: the line of a device
  // that no longer reads.
  void FillHostSide();

  // Unplug: the host's open port fails from now on.
  void Close();

 private:
  UniqueFd master_;
  UniqueFd slave_;
  std::string slave_path_;
};

}  // namespace devsim
