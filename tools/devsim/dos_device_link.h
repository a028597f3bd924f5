// The link comN -> <pseudo-terminal> in the DOS-device directory, through
// which the host (a Linux program, or a Windows program under Wine) finds the
// simulated device as COMn.
#pragma once

#include <filesystem>

namespace devsim {

// $WINEPREFIX/dosdevices, or ~/.wine/dosdevices without WINEPREFIX.
std::filesystem::path DefaultDosDevicesDir();

class DosDeviceLink {
 public:
  // Creates dir when missing, links dir/comN to target and writes the
  // process id to dir/comN.pid beside it. An existing entry that is not a
  // link is never replaced; a link only with force, or when it is a link
  // into /dev/pts left by a simulator that was killed: the one named in
  // comN.pid no longer runs, or, without that file, the link dangles. Throws
  // std::runtime_error with a message for the user.
  DosDeviceLink(const std::filesystem::path& dir, int port,
                const std::filesystem::path& target, bool force);
  ~DosDeviceLink();
  DosDeviceLink(const DosDeviceLink&) = delete;
  DosDeviceLink& operator=(const DosDeviceLink&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::filesystem::path pid_file_;
  std::filesystem::path target_;
};

}  // namespace devsim
