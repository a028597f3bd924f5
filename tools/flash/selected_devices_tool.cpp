#include "selected_devices_tool.h"

#include "printable_text.h"

namespace dov::flash {
namespace {

#ifdef _WIN32
// The system's tool matches instance ids without case, as the system names
// them, and knows no literal form: a wildcard in the pattern would widen it.
constexpr char16_t kLiteral[] = u"";
constexpr char kUnnamable[] = "\"*?";
#else
// The stand-in matches the pattern byte for byte with --exact.
constexpr char16_t kLiteral[] = u"--exact ";
constexpr char kUnnamable[] = "\"";
#endif

}  // namespace

bool ToolCanName(const std::string& pattern) {
  // Bytes that are not UTF-8 or are control characters would not reach
  // the tool as they are.
  return tools::Printable(pattern) == pattern &&
         pattern.find('\n') == std::string::npos &&
         pattern.find_first_of(kUnnamable) == std::string::npos;
}

TSelectedDevicesTool::TSelectedDevicesTool(TToolLauncher& tool,
                                           std::vector<std::string> patterns)
    : tool_(tool) {
  for (const std::string& pattern : patterns) {
    patterns_.push_back(cport::fw::FromUtf8(pattern));
  }
}

void TSelectedDevicesTool::Start(const std::u16string& parameters) {
  const std::u16string verb = parameters.substr(0, parameters.find(u' '));
  for (const std::u16string& pattern : patterns_) {
    tool_.Start(kLiteral + verb + u" \"" + pattern + u"\"");
  }
}

}  // namespace dov::flash
