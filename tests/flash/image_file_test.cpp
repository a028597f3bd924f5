// Images given on the command line: what is taken, and what is refused with
// which message.
#include "image_file.h"

#include <gtest/gtest.h>

#include <cstdio>
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

  const struct {
    const char* name;
    std::string contents;
  } cases[] = {
      {"raw", Raw(image)},
      {"hex, 16-byte records", Hex(image)},
      {"hex, 32-byte records, CR LF", crlf},
      {"hex, lower case", lower},
      {"hex, reordered with address records", reordered},
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
      {"hex, start address record", Record(3, 0, {0, 0, 0, 0}) + hex,
       "line 1 has record type 03"},
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

TEST(ImageFile, MessagesNameTheFile) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path();
  const fs::path missing = dir / "dov-flash-test-missing.bin";
  const fs::path small = dir / "dov-flash-test-small.bin";
  std::ofstream(small, std::ios::binary) << "abc";
  const fs::path good = dir / "dov-flash-test-good.hex";
  std::ofstream(good, std::ios::binary) << Hex(Pattern());

  EXPECT_EQ(LoadImageFile(good), Pattern());
  for (const fs::path& path : {missing, small, dir}) {
    SCOPED_TRACE(path.string());
    try {
      LoadImageFile(path);
      ADD_FAILURE() << "taken";
    } catch (const EBadImage& error) {
      EXPECT_TRUE(std::string(error.what()).starts_with(path.string() + ": "))
          << error.what();
    }
  }
  fs::remove(small);
  fs::remove(good);
}

}  // namespace
}  // namespace dov::flash
