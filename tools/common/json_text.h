// Text for the tools' JSON reports.
#pragma once

#include <string>

namespace dov::tools {

// `text` as a JSON string literal, quotes included: quotes, backslashes and
// control characters escaped, everything else (UTF-8 included) as it is.
std::string JsonString(const std::string& text);

}  // namespace dov::tools
