// A device node reached as COMn without a link of its own: a private
// DOS-device directory in which comN names the node, made the process's
// DOS-device directory for its lifetime. The port's own naming rules stay
// the only way to a device.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace dov::flash {

class TPrivateDosDevices {
 public:
  // Throws std::runtime_error with a message for the user, also when
  // `device` is not a terminal device (it is not opened to find out).
  TPrivateDosDevices(const std::filesystem::path& device, unsigned port);
  ~TPrivateDosDevices();
  TPrivateDosDevices(const TPrivateDosDevices&) = delete;
  TPrivateDosDevices& operator=(const TPrivateDosDevices&) = delete;

  // The link comN.
  const std::filesystem::path& Link() const { return link_; }

 private:
  std::filesystem::path prefix_;
  std::filesystem::path link_;
  std::optional<std::string> previous_;  // WINEPREFIX before
};

}  // namespace dov::flash
