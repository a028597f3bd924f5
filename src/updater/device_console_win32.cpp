#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <vector>

#include "updater/device_console.h"

namespace dov {

std::filesystem::path ExecutableDirectory() {
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(),
                                            static_cast<DWORD>(name.size()));
    if (length < name.size()) {
      return std::filesystem::path(std::wstring(name.data(), length))
          .parent_path();
    }
    name.resize(name.size() * 2);
  }
}

TDeviceConsole::TDeviceConsole() : TDeviceConsole(ExecutableDirectory()) {}

TDeviceConsole::TDeviceConsole(std::filesystem::path directory)
    : tool_(std::move(directory) / L"devcon.exe") {}

void TDeviceConsole::Start(const std::u16string& parameters) {
  const std::wstring wide(parameters.begin(), parameters.end());
  // The result is not looked at: a missing or refused tool is not an error
  // of the update.
  ShellExecuteW(nullptr, L"Open", tool_.c_str(), wide.c_str(), L"", SW_HIDE);
}

}  // namespace dov
