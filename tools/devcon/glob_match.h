// Case-insensitive wildcard match of device ids: '*' stands for any run of
// characters (also none), '?' for exactly one; everything else matches itself
// regardless of ASCII case.
#pragma once

#include <string_view>

namespace devcon {

bool GlobMatch(std::string_view pattern, std::string_view text);

}  // namespace devcon
