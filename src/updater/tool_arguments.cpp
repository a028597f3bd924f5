#include "cport/fw/text.h"
#include "updater/device_console.h"

namespace dov {

std::vector<std::string> ToolArguments(const std::u16string& parameters) {
  std::vector<std::string> arguments;
  std::u16string word;
  bool inWord = false;
  bool quoted = false;
  for (const char16_t c : parameters) {
    if (c == u'"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == u' ' || c == u'\t')) {
      if (inWord) arguments.push_back(cport::fw::ToUtf8(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) arguments.push_back(cport::fw::ToUtf8(word));
  return arguments;
}

}  // namespace dov
