// SHA-256 of byte strings, for telling whether the device received exactly
// the built-in image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace devsim {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  void Update(std::span<const std::uint8_t> data);
  Digest Final();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t total_bytes_ = 0;
};

// Lower-case hex digest of data.
std::string Sha256Hex(std::span<const std::uint8_t> data);

}  // namespace devsim
