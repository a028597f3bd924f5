// Text for the tools' JSON reports.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace dov::tools {

// `text` as a JSON string literal, quotes included. Bytes that are not
// UTF-8 (a file name can hold any) become U+FFFD, so the report stays valid
// UTF-8 JSON whatever it quotes.
std::string JsonString(const std::string& text);

// `value` as JSON text, indented by two spaces, ending in a line break; text
// in it as JsonString makes it.
std::string JsonText(const nlohmann::ordered_json& value);

}  // namespace dov::tools
