#include "watched_device_console.h"

#include <stdexcept>

#include "child_process.h"
#include "cport/fw/text.h"
#include "printable_text.h"

namespace dov::flash {

TWatchedDeviceConsole::TWatchedDeviceConsole(std::filesystem::path tool,
                                             TUpdateTrace* trace)
    : tool_(std::move(tool)), trace_(trace) {}

TWatchedDeviceConsole::~TWatchedDeviceConsole() { JoinAll(); }

void TWatchedDeviceConsole::Start(const std::u16string& parameters) {
  watchers_.emplace_back([this, parameters] { Watch(parameters); });
}

std::vector<std::string> TWatchedDeviceConsole::Warnings() {
  JoinAll();
  std::lock_guard lock(mutex_);
  return warnings_;
}

void TWatchedDeviceConsole::JoinAll() {
  for (std::thread& watcher : watchers_) watcher.join();
  watchers_.clear();
}

void TWatchedDeviceConsole::Watch(const std::u16string& parameters) {
  const std::string call =
      "device console: " + tools::Printable(cport::fw::ToUtf8(parameters));
  std::unique_ptr<TChildProcess> child;
  try {
    child = std::make_unique<TChildProcess>(tool_, ToolArguments(parameters));
  } catch (const std::runtime_error& error) {
    return Ended(call + " failed: " + error.what(), true);
  }
  // Its messages, one per line, as they come; its output is only drained.
  std::string said;
  for (std::string line; child->ReadErrorLine(line);) {
    said += (said.empty() ? "" : " / ") + tools::Printable(line);
  }
  child->ReadOutput();
  const int code = child->Wait();
  const bool failed = code != 0;
  Ended(call + (failed ? " failed (" : " done (") + child->Ending() + ")" +
            (said.empty() ? "" : ": " + said),
        failed);
}

void TWatchedDeviceConsole::Ended(const std::string& text, bool failed) {
  if (trace_ != nullptr) trace_->Note(text);
  if (!failed) return;
  std::lock_guard lock(mutex_);
  warnings_.push_back(text);
}

}  // namespace dov::flash
