// Text from devices (USB serial numbers and product strings) and from the
// command line, made safe to print: an escape sequence in it could clear
// the screen or set the terminal's title, and a TAB or carriage return
// breaks the columns and lines it is printed in.
#pragma once

#include <string>
#include <string_view>

namespace dov::tools {

// `text` with every control character but the line feed (C0, DEL, C1) and
// every byte that is not part of a UTF-8 character written as \xNN;
// printable UTF-8 is kept as it is.
std::string Printable(std::string_view text);

}  // namespace dov::tools
