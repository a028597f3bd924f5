// The device console tool, which disables and re-enables the device's USB
// function so that it comes back ready to take a new program.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dov {

inline constexpr char16_t kDisableDevice[] = u"disable *vid_1fc9*";
inline constexpr char16_t kEnableDevice[] = u"enable *vid_1fc9*";

// Starts the tool with a line of parameters.
class TToolLauncher {
 public:
  virtual ~TToolLauncher() = default;
  virtual void Start(const std::u16string& parameters) = 0;
};

// Starts the device console tool found beside the running executable:
// hidden, without waiting for it. Whether it started, and what it did, goes
// unnoticed; the pauses that follow are the only coordination with it.
class TDeviceConsole : public TToolLauncher {
 public:
  // The tool beside the running executable.
  TDeviceConsole();
  // The tool in `directory`.
  explicit TDeviceConsole(std::filesystem::path directory);

  void Start(const std::u16string& parameters) override;

  const std::filesystem::path& Tool() const { return tool_; }

 private:
  std::filesystem::path tool_;
};

// The parameters as the tool's separate arguments: split at blanks, except
// inside double quotes, which group a run of characters (blanks included)
// and are dropped.
std::vector<std::string> ToolArguments(const std::u16string& parameters);

// The directory of the running executable.
std::filesystem::path ExecutableDirectory();

}  // namespace dov
