#include "json_text.h"

namespace dov::tools {

using nlohmann::ordered_json;

std::string JsonString(const std::string& text) {
  return ordered_json(text).dump(-1, ' ', false,
                                 ordered_json::error_handler_t::replace);
}

std::string JsonText(const ordered_json& value) {
  return value.dump(2, ' ', false, ordered_json::error_handler_t::replace) +
         "\n";
}

}  // namespace dov::tools
