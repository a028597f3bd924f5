#include "cport/comm/posix/device_names.h"

#include <sys/stat.h>

#include <cstdlib>

namespace cport::comm::posix {
namespace {

constexpr std::u16string_view kPrefix = u"\\\\.\\";

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? c - 32 : c; }

std::string DosDevicesDirectory() {
  if (const char* prefix = std::getenv("WINEPREFIX");
      prefix != nullptr && *prefix != '\0') {
    return std::string(prefix) + "/dosdevices";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.wine/dosdevices";
}

}  // namespace

std::optional<unsigned> ParseComName(const std::u16string& name) {
  std::u16string_view view(name);
  if (!view.starts_with(kPrefix)) return std::nullopt;
  view.remove_prefix(kPrefix.size());
  if (view.size() < 4 || Upper(view[0]) != u'C' || Upper(view[1]) != u'O' ||
      Upper(view[2]) != u'M') {
    return std::nullopt;
  }
  view.remove_prefix(3);
  if (view.size() > 3 || view[0] == u'0') return std::nullopt;
  unsigned number = 0;
  for (char16_t c : view) {
    if (c < u'0' || c > u'9') return std::nullopt;
    number = number * 10 + static_cast<unsigned>(c - u'0');
  }
  if (number < 1 || number > 255) return std::nullopt;
  return number;
}

std::optional<std::string> ResolveDeviceName(const std::u16string& name) {
  std::optional<unsigned> number = ParseComName(name);
  if (!number) return std::nullopt;
  // Wine keeps its links in lower case.
  std::string link = DosDevicesDirectory() + "/com" + std::to_string(*number);
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) return link;
  return "/dev/ttyS" + std::to_string(*number - 1);
}

}  // namespace cport::comm::posix
