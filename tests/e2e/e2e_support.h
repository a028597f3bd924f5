// What the end-to-end runs share: a private DOS-device directory per test,
// programs run as child processes with bounded waits, and the device
// simulator with its report.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace e2e {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// A temporary Wine-style prefix with an empty dosdevices directory; removed
// with everything in it at the end of the test.
class TempPrefix {
 public:
  TempPrefix() { fs::create_directory(DosDevices()); }

  const fs::path& Path() const { return dir_.Path(); }
  fs::path DosDevices() const { return dir_ / "dosdevices"; }

 private:
  dov::test::TempDir dir_{"dov-e2e"};
};

std::string ReadFile(const fs::path& path);

// A child process with WINEPREFIX set and its output in files; with
// `preloaded` false it runs without this process's LD_PRELOAD. A child
// still running when the object goes is killed.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args,
          const fs::path& prefix, const fs::path& output,
          bool preloaded = true);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The exit code, or nothing when it did not end within `timeout` (it is
  // then killed) or ended by a signal.
  std::optional<int> Wait(milliseconds timeout);
  // Whether it ended within `timeout`; it is left running otherwise.
  bool Ended(milliseconds timeout);
  bool Running();
  void Interrupt();
  // Sends `signal` to this process alone, while it runs.
  void Signal(int signal);

  std::string Output() const { return ReadFile(stdout_); }
  std::string Errors() const { return ReadFile(stderr_); }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  fs::path stdout_;
  fs::path stderr_;
};

// dov-devsim on COMn of a prefix, with its options.
class Simulator {
 public:
  Simulator(const TempPrefix& prefix, int port,
            const std::vector<std::string>& options = {});

  // Waits until the link exists; false after `timeout`.
  bool WaitReady(milliseconds timeout = milliseconds(10000));
  // The JSON report, once the simulator has ended by itself (whole image,
  // unplug, timeout) or, after `timeout`, on an interrupt.
  std::string Report(milliseconds timeout);
  // The device node behind the link (while it exists).
  std::string Node() const;

  fs::path Link() const { return link_; }

 private:
  fs::path ready_;
  fs::path report_;
  fs::path link_;
  Process process_;
};

// Waits until `text()` holds `part`, for at most `bound`.
template <typename F>
bool WaitForText(F text, const std::string& part, milliseconds bound) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (text().find(part) == std::string::npos) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

// The value of a top-level field of a flat JSON report, as written ("true",
// "20480", "\"complete\"", "[]"), or "" when it is missing.
std::string JsonField(const std::string& json, const std::string& name);
// A top-level list field of such a report, brackets included ("[]" when
// empty), or "" when it is missing.
std::string JsonList(const std::string& json, const std::string& name);

// The file in which the preload library records this process's (and its
// children's) writes to pseudo-terminals, or null when it is not loaded.
// Each simulator is then given the record: the host's own write times judge
// its pauses, whatever the machine's load did to the delivery. Builds with
// sanitizers run without it (their runtimes must come first among the
// libraries) and check everything but the pauses.
const char* HostWriteRecord();

// The simulator's report of a whole update made while it chattered: the
// image intact in 640 writes after the boot command, on the right line, the
// pauses kept by the host's own record, and chatter sent for the host to
// drain.
inline void ExpectCompleteUpdateThroughChatter(const std::string& sim) {
  EXPECT_EQ(JsonField(sim, "intact"), "true") << sim;
  EXPECT_EQ(JsonField(sim, "writes"), "640");
  EXPECT_EQ(JsonField(sim, "odd_writes"), "[]");
  EXPECT_EQ(JsonField(sim, "line_ok"), "true") << JsonField(sim, "line");
  if (HostWriteRecord()) {
    EXPECT_EQ(JsonField(sim, "host_writes"), "640") << sim;
    EXPECT_EQ(JsonField(sim, "host_below_minimum"), "[]") << sim;
    EXPECT_EQ(JsonField(sim, "below_minimum"), "[]") << sim;
    EXPECT_EQ(JsonField(sim, "passed"), "true") << sim;
  }
  EXPECT_NE(JsonField(sim, "chatter_bytes_sent"), "0");
}

}  // namespace e2e
