// The names of DOS devices ("\\.\COM3") as the POSIX backend reads them:
// the input is UTF-16 text, two bytes a character. A name that is taken
// gives a number in range that spells the same name again.
#include <string>

#include "cport/comm/posix/device_names.h"
#include "cport/fw/text.h"
#include "fuzz_support.h"

namespace {

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? c - 32 : c; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::u16string name;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    name.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  const auto number = cport::comm::posix::ParseComName(name);
  FUZZ_CHECK(cport::comm::posix::ResolveDeviceName(name).has_value() ==
             number.has_value());
  if (!number) return 0;
  FUZZ_CHECK(*number >= 1 && *number <= 255);
  std::u16string upper;
  for (const char16_t c : name) upper.push_back(Upper(c));
  FUZZ_CHECK(upper == u"\\\\.\\COM" + cport::fw::IntToStr(*number));
  return 0;
}
