// The built-in device program must be something the device can boot: a
// vector table that points into the program, a stack in SRAM, real code at
// the reset vector and erased-flash filler after the program.
#include "firmware/firmware_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using dov::FirmwareImage;
using dov::kFirmwareImageSize;

// The device's memory map.
constexpr std::uint32_t kFlashBase = 0x00000000;
constexpr std::uint32_t kSramBase = 0x10000000;
constexpr std::uint32_t kSramSize = 4096;

constexpr std::size_t kVectorCount = 48;  // 16 system + 32 interrupts
constexpr std::size_t kResetVector = 1;

std::uint32_t Word(std::size_t index) {
  const std::size_t at = index * 4;
  return static_cast<std::uint32_t>(FirmwareImage[at]) |
         static_cast<std::uint32_t>(FirmwareImage[at + 1]) << 8 |
         static_cast<std::uint32_t>(FirmwareImage[at + 2]) << 16 |
         static_cast<std::uint32_t>(FirmwareImage[at + 3]) << 24;
}

bool IsReserved(std::size_t vector) {
  return (vector >= 4 && vector <= 10) || vector == 12 || vector == 13;
}

// Index of the first byte of the trailing 0xFF run.
std::size_t FillerStart() {
  const auto last_code =
      std::find_if(FirmwareImage.rbegin(), FirmwareImage.rend(),
                   [](std::uint8_t b) { return b != 0xFF; });
  return static_cast<std::size_t>(FirmwareImage.rend() - last_code);
}

TEST(FirmwareImage, HasTheDevicesFlashSize) {
  EXPECT_EQ(FirmwareImage.size(), 20480u);
  EXPECT_EQ(kFirmwareImageSize % 128, 0u);
}

TEST(FirmwareImage, InitialStackPointerIsAlignedInsideSram) {
  const std::uint32_t sp = Word(0);
  EXPECT_EQ(sp % 8, 0u);
  EXPECT_GT(sp, kSramBase);
  EXPECT_LE(sp, kSramBase + kSramSize);
}

TEST(FirmwareImage, HandlersAreThumbCodeInsideTheProgram) {
  const std::size_t program_end = FillerStart();
  const std::size_t table_end = kVectorCount * 4;
  for (std::size_t v = 1; v < kVectorCount; ++v) {
    SCOPED_TRACE(v);
    const std::uint32_t entry = Word(v);
    if (IsReserved(v)) {
      EXPECT_EQ(entry, 0u);
      continue;
    }
    EXPECT_EQ(entry & 1u, 1u) << "handler must be a Thumb address";
    const std::uint32_t code = entry & ~1u;
    EXPECT_GE(code, kFlashBase + table_end) << "handler inside the table";
    EXPECT_LT(code, kFlashBase + program_end) << "handler in the filler";
  }
}

TEST(FirmwareImage, ResetHandlerIsCodeNotFiller) {
  const std::uint32_t at = (Word(kResetVector) & ~1u) - kFlashBase;
  ASSERT_LT(at + 16, kFirmwareImageSize);
  const std::vector<std::uint8_t> code(FirmwareImage.begin() + at,
                                       FirmwareImage.begin() + at + 16);
  EXPECT_NE(std::count(code.begin(), code.end(), 0xFF), 16);
  EXPECT_NE(std::count(code.begin(), code.end(), 0x00), 16);
}

TEST(FirmwareImage, EndsInErasedFlashFiller) {
  const std::size_t filler = FillerStart();
  EXPECT_GT(filler, kVectorCount * 4) << "the program follows the table";
  EXPECT_LT(filler, kFirmwareImageSize - 1024) << "at least 1 KiB of filler";
  EXPECT_EQ(FirmwareImage.back(), 0xFF);
}

}  // namespace
