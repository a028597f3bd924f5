#include "child_process.h"

namespace dov::flash {

bool TChildProcess::ReadErrorLine(std::string& line) {
  line.clear();
  for (int c; (c = std::fgetc(errors_.get())) != EOF;) {
    if (c == '\n') return true;
    if (c != '\r') line += static_cast<char>(c);
  }
  return !line.empty();
}

std::string TChildProcess::ReadOutput() {
  std::string text;
  char buffer[4096];
  for (std::size_t n;
       (n = std::fread(buffer, 1, sizeof buffer, output_.get())) > 0;) {
    text.append(buffer, n);
  }
  return text;
}

}  // namespace dov::flash
