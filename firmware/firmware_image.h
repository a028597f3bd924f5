// The device program that the updater sends, built into the updater itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace dov {

inline constexpr std::size_t kFirmwareImageSize = 20480;

// Sent unchanged and in order, index 0 first.
extern const std::array<std::uint8_t, kFirmwareImageSize> FirmwareImage;

}  // namespace dov
