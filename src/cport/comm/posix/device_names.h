// Where a DOS device name such as \\.\COM3 lives on this system: a link
// named com3 in the DOS-device directory ($WINEPREFIX/dosdevices, or
// ~/.wine/dosdevices), else the matching /dev/ttyS device. Nothing but DOS
// device names resolves.
#pragma once

#include <optional>
#include <string>

namespace cport::comm::posix {

// The port number n of "\\.\COMn" ("COM" in any case, n in 1..255 written
// without sign or leading zeros), or nothing for any other name.
std::optional<unsigned> ParseComName(const std::u16string& name);

// The path to open for the name, or nothing when the name is not a DOS
// device name.
std::optional<std::string> ResolveDeviceName(const std::u16string& name);

}  // namespace cport::comm::posix
