// The output rate the kernel holds for a terminal, whatever its speed code.
#pragma once

#include <cstdint>
#include <string>

namespace cport::comm::test {

// 0 when the terminal cannot be read.
std::uint32_t OutputRate(const std::string& path);

}  // namespace cport::comm::test
