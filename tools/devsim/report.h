// What the simulated device saw in one run, and its verdict, as text for
// people and as JSON for scripts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "gap_analysis.h"
#include "host_writes.h"

namespace devsim {

enum class BootState { kNone, kReceived, kRefused };

enum class EndReason { kComplete, kTimeout, kSignal, kVanished };

struct Report {
  int port = 0;
  std::string link;  // the comN link the host opens
  BootState boot = BootState::kNone;
  EndReason end = EndReason::kTimeout;
  std::size_t bytes_received = 0;  // image bytes after the boot command
  std::size_t bytes_expected = 0;
  std::string received_sha256;
  std::string expected_sha256;
  bool intact = false;
  std::size_t chatter_bytes_sent = 0;
  // Chatter sent from the boot command until the whole image had arrived,
  // and what the host had left unread of all chatter when it had: a host
  // that drains the line during the update leaves at most the latest
  // message or two, one that does not leaves everything (up to the line's
  // capacity).
  std::size_t chatter_sent_in_update = 0;
  std::size_t chatter_unread_at_image_end = 0;
  // The line settings when the boot command arrived.
  std::string line;
  Minimums minimums;
  Analysis analysis;
  // The host's own record of its writes, when one was asked for: it then
  // judges the pauses, and the device-side gaps only show the line.
  std::optional<HostPacing> host;

  bool LineOk() const { return line == kExpectedLine; }
  // The update reached the device whole, on the right line settings and
  // correctly paced.
  bool Passed() const {
    return boot == BootState::kReceived && intact && LineOk() &&
           analysis.PacingOk() && (!host || host->Ok());
  }

  static constexpr const char* kExpectedLine = "115200 8N1, no flow control";
};

// Late deliveries are summed up in one line; `verbose` lists each.
std::string FormatText(const Report& report, bool verbose = false);
std::string FormatJson(const Report& report);

}  // namespace devsim
