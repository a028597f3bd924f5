// The device console tool as dov-flash starts it. As in the dialog, the
// update does not wait for it; but what it says and how it ends are
// collected beside the update, noted in the trace, and a call that failed
// (no permission to switch the device, no device matched, no tool) becomes
// a warning of the report instead of going unseen.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "updater/device_console.h"
#include "updater/update_trace.h"

namespace dov::flash {

class TWatchedDeviceConsole : public TToolLauncher {
 public:
  // `tool`: the program; `trace`: where each call's end is noted (none when
  // null).
  TWatchedDeviceConsole(std::filesystem::path tool, TUpdateTrace* trace);
  // Waits for the calls still running.
  ~TWatchedDeviceConsole() override;

  // Starts the tool and returns at once.
  void Start(const std::u16string& parameters) override;

  // Waits for every call started so far to end; one warning per call that
  // failed: "device console: disable ... failed (exit code 1): <its
  // message>".
  std::vector<std::string> Warnings();

 private:
  void Watch(const std::u16string& parameters);
  void Ended(const std::string& text, bool failed);
  void JoinAll();

  std::filesystem::path tool_;
  TUpdateTrace* trace_;
  std::mutex mutex_;
  std::vector<std::string> warnings_;
  std::vector<std::thread> watchers_;
};

}  // namespace dov::flash
