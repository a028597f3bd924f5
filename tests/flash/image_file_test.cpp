// Images given on the command line: what is taken, and what is refused with
// which message.
#include "image_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace dov::flash {
namespace {

// A recognisable image: no byte repeats at the same place in a shifted copy.
TImageBytes Pattern() {
  TImageBytes image;
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return image;
}

std::string Record(std::uint8_t type, std::uint16_t address,
                   const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  const int sum = std::accumulate(bytes.begin(), bytes.end(), 0);
  bytes.push_back(static_cast<std::uint8_t>(-sum));
  std::string line = ":";
  for (const std::uint8_t b : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "\n";
}

std::string DataRecord(const TImageBytes& image, std::size_t from,
                       std::size_t count) {
  return Record(0, static_cast<std::uint16_t>(from),
                {image.begin() + from, image.begin() + from + count});
}

std::string EndRecord() { return Record(1, 0, {}); }

// The image as HEX data records of `size` bytes, each passed through `edit`
// (which may drop it by returning ""), then the end record.
std::string Hex(const TImageBytes& image, std::size_t size = 16,
                const std::function<std::string(std::size_t, std::string)>&
                    edit = nullptr) {
  std::string text;
  for (std::size_t at = 0; at < image.size(); at += size) {
    std::string line = DataRecord(image, at, size);
    text += edit ? edit(at, line) : line;
  }
  return text + EndRecord();
}

std::string Raw(const TImageBytes& image) {
  return {image.begin(), image.end()};
}

TEST(ImageFile, TakesRawAndHexImages) {
  const TImageBytes image = Pattern();
  std::string crlf = Hex(image, 32);
  for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos;
       at += 2)
    crlf.insert(at, "\r");
  std::string lower = Hex(image);
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  // Records in any order, behind address records that keep them in range.
  std::string reordered = Record(4, 0, {0, 0}) + Record(2, 0, {0, 0});
  for (std::size_t at = image.size(); at > 0; at -= 128)
    reordered += DataRecord(image, at - 128, 128);
  reordered += EndRecord() + "\n\n";
  std::string cr = Hex(image, 32);
  std::replace(cr.begin(), cr.end(), '\n', '\r');
  // The program alone, as a toolchain writes it: the filler left out, and a
  // start address before the end.
  TImageBytes filled = image;
  std::fill(filled.begin() + 0x4010, filled.end(), 0xFF);
  std::string program;
  for (std::size_t at = 0; at < 0x4010; at += 16)
    program += DataRecord(image, at, 16);
  program += Record(5, 0, {0, 0, 0, 0xC1}) + EndRecord();

  const struct {
    const char* name;
    std::string contents;
  } cases[] = {
      {"raw", Raw(image)},
      {"hex, 16-byte records", Hex(image)},
      {"hex, 32-byte records, CR LF", crlf},
      {"hex, lower case", lower},
      {"hex, reordered with address records", reordered},
      {"hex, CR line ends", cr},
      {"hex, byte-order mark and blank lines first",
       "\xEF\xBB\xBF\n\r\n \t\n\r" + Hex(image)},
      {"hex, start address records ignored",
       Record(3, 0, {0x12, 0x34, 0x56, 0x78}) +
           Hex(image, 16,
               [&](std::size_t at, std::string line) {
                 return at == 0x2000 ? Record(5, 0, {0, 0, 0, 0xC1}) + line
                                     : line;
               })},
      {"hex, segment base inside the image",
       Hex(image, 16,
           [&](std::size_t at, std::string line) {
             // Bytes 16..31 given as offset 0 of segment 1 (base 16).
             if (at != 16) return line;
             return Record(2, 0, {0, 1}) +
                    Record(0, 0, {image.begin() + 16, image.begin() + 32}) +
                    Record(2, 0, {0, 0});
           })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseImage(c.contents), image);
  }
  EXPECT_EQ(ParseImage(program), filled);
}

TEST(ImageFile, RefusesWhatIsNotExactlyTheImage) {
  const TImageBytes image = Pattern();
  const std::string raw = Raw(image);
  const std::string hex = Hex(image);
  const std::size_t firstLine = hex.find('\n') + 1;
  // A checksum made wrong by one.
  std::string badSum = hex;
  badSum[firstLine - 2] = badSum[firstLine - 2] == '0' ? '1' : '0';

  const struct {
    const char* name;
    std::string contents;
    const char* message;
  } cases[] = {
      {"empty", "", "must be exactly 20480 bytes, this one has 0"},
      {"raw, a byte short", raw.substr(1),
       "must be exactly 20480 bytes, this one has 20479"},
      {"raw, a byte over", raw + '\xFF',
       "must be exactly 20480 bytes, this one has 20481"},
      {"hex, wrong checksum", badSum, "line 1 has a wrong checksum"},
      {"hex, no end record", hex.substr(0, hex.size() - EndRecord().size()),
       "no end-of-file record"},
      {"hex, data after the end", hex + DataRecord(image, 0, 16),
       "line 1282 follows the end-of-file record"},
      {"hex, a record missing",
       Hex(image, 16,
           [](std::size_t at, std::string line) {
             return at == 0x100 ? std::string() : line;
           }),
       "addresses 0x100 to 0x10F are missing"},
      {"hex, a record twice",
       Hex(image, 16,
           [](std::size_t at, std::string line) {
             return at == 0x40 ? line + line : line;
           }),
       "line 6 gives address 0x40 a second time"},
      {"hex, data past the end", Record(0, 0x5000, {1}) + hex,
       "line 1 puts data at 0x5000, outside the image (0x0 to 0x4FFF)"},
      {"hex, linear base out of range", Record(4, 0, {0, 1}) + hex,
       "line 2 puts data at 0x10000, outside the image"},
      {"hex, start address record without 4 bytes", Record(5, 0, {0, 0}) + hex,
       "line 1 is a start address record without a 4-byte address"},
      {"hex, unknown record type", Record(6, 0, {}) + hex,
       "line 1 has record type 06"},
      {"hex, no data", EndRecord(), "no data records"},
      {"hex, a hole before the last byte", Record(0, 0x10, {1}) + EndRecord(),
       "addresses 0x0 to 0xF are missing"},
      {"hex, count and length disagree", ":0500000001FA\n" + hex,
       "line 1 is not as long as its byte count says"},
      {"hex, not hex digits", ":0G00000001FF\n" + hex,
       "line 1 holds a character that is not a hex digit"},
      {"hex, odd digits", ":00000001FF0\n" + hex,
       "line 1 has an odd number of hex digits"},
      {"hex, end record with data", Record(1, 0, {0}),
       "end-of-file record with data"},
      {"hex, a line without colon",
       hex.substr(0, firstLine) + "00\n" + hex.substr(firstLine),
       "line 2 does not start with ':'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ParseImage(c.contents);
      ADD_FAILURE() << "taken";
    } catch (const EBadImage& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
          << error.what();
    }
  }
}

// Only a regular file of a bounded size is read; anything else is refused
// at once (a device or a pipe would never end, or never start), with a
// message that names the file.
TEST(ImageFile, OnlyRegularFilesOfABoundedSizeAreRead) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "dov-flash-image-test";
  fs::remove_all(dir);
  fs::create_directories(dir / "folder");
  const auto write = [&](const char* name, const std::string& contents) {
    std::ofstream(dir / name, std::ios::binary) << contents;
    return dir / name;
  };
  const std::string hex = Hex(Pattern());
  // Blank lines fill a valid file up to the limit; one byte more is too much.
  const fs::path largest = write(
      "largest.hex", hex + std::string(kMaxImageFileSize - hex.size(), '\n'));
  const fs::path over = write(
      "over.hex", hex + std::string(kMaxImageFileSize - hex.size() + 1, '\n'));
  EXPECT_EQ(LoadImageFile(largest), Pattern());

  struct Case {
    fs::path path;
    const char* message;
  };
  std::vector<Case> cases = {
      {dir / "missing.bin", "cannot be read"},
      {write("small.bin", "abc"), "must be exactly 20480 bytes"},
      {dir / "folder", "is a directory, not a regular file"},
      {over, "is larger than any image"},
  };
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  cases.push_back({dir / "pipe", "is a pipe, not a regular file"});
  cases.push_back({"/dev/zero", "is a device, not a regular file"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string());
    try {
      LoadImageFile(c.path);
      ADD_FAILURE() << "taken";
    } catch (const EBadImage& error) {
      const std::string what = error.what();
      EXPECT_TRUE(what.starts_with(c.path.string() + ": ")) << what;
      EXPECT_NE(what.find(c.message), std::string::npos) << what;
    }
  }
  fs::remove_all(dir);
}

#ifdef DOV_ARM_OBJCOPY
// The device program as the ARM toolchain writes it in Intel HEX, start
// address record and all, is the built-in image.
TEST(ImageFile, ToolchainHexOfTheFirmwareIsTheBuiltInImage) {
  const auto hex = std::filesystem::temp_directory_path() / "dov-firmware.hex";
  const std::string command = std::string(DOV_ARM_OBJCOPY) + " -O ihex '" +
                              DOV_FIRMWARE_ELF + "' '" + hex.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const TImageBytes image = LoadImageFile(hex);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), FirmwareImage.begin()));
  std::filesystem::remove(hex);
}
#endif

}  // namespace
}  // namespace dov::flash
