#include "image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace dov::flash {
namespace {

constexpr std::size_t kSize = kFirmwareImageSize;

enum RecordType : std::uint8_t {
  kData = 0x00,
  kEndOfFile = 0x01,
  kSegmentAddress = 0x02,
  kStartSegmentAddress = 0x03,
  kLinearAddress = 0x04,
  kStartLinearAddress = 0x05,
};

constexpr std::uint8_t kFiller = 0xFF;

// Toolchains write a UTF-8 byte-order mark in front of some text files.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string Hex(std::size_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%zX", value);
  return text;
}

std::string TypeName(std::uint8_t type) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", type);
  return text;
}

bool IsText(std::string_view contents) {
  return std::all_of(contents.begin(), contents.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 0x20 && u < 0x7F) || c == '\n' || c == '\r' || c == '\t';
  });
}

bool IsLineSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text after a byte-order mark, if there is one.
std::string_view WithoutMark(std::string_view contents) {
  if (contents.starts_with(kByteOrderMark))
    contents.remove_prefix(kByteOrderMark.size());
  return contents;
}

// Text whose first character other than blanks and line breaks is ':'.
bool LooksLikeHex(std::string_view text) {
  const auto first = std::find_if_not(text.begin(), text.end(), IsLineSpace);
  return first != text.end() && *first == ':' && IsText(text);
}

std::optional<std::uint8_t> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  return std::nullopt;
}

std::string_view Trim(std::string_view line) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  return line;
}

// One record's bytes (count, address, type, data, checksum), checked for
// form, length and checksum.
std::vector<std::uint8_t> RecordBytes(std::string_view line,
                                      const std::string& where) {
  if (line.front() != ':') throw EBadImage(where + "does not start with ':'");
  line.remove_prefix(1);
  if (line.size() % 2 != 0)
    throw EBadImage(where + "has an odd number of hex digits");
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < line.size(); i += 2) {
    const auto high = HexDigit(line[i]);
    const auto low = HexDigit(line[i + 1]);
    if (!high || !low)
      throw EBadImage(where + "holds a character that is not a hex digit");
    bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
  }
  if (bytes.size() < 5 || bytes.size() != 5u + bytes[0])
    throw EBadImage(where + "is not as long as its byte count says");
  std::uint8_t sum = 0;
  for (const std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  if (sum != 0) throw EBadImage(where + "has a wrong checksum");
  return bytes;
}

class HexImage {
 public:
  TImageBytes Parse(std::string_view text) {
    std::size_t number = 0;
    while (!text.empty()) {
      // A line ends in LF, CR or CR LF.
      const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
      const std::string_view line = Trim(text.substr(0, end));
      const bool crlf = text.substr(end).starts_with("\r\n");
      text.remove_prefix(std::min(end + (crlf ? 2 : 1), text.size()));
      ++number;
      if (line.empty()) continue;
      const std::string where = "line " + std::to_string(number) + " ";
      if (ended_) throw EBadImage(where + "follows the end-of-file record");
      Record(RecordBytes(line, where), where);
    }
    if (!ended_) throw EBadImage("no end-of-file record");
    CoverToTheEnd();
    return image_;
  }

 private:
  void Record(const std::vector<std::uint8_t>& bytes,
              const std::string& where) {
    const std::size_t count = bytes[0];
    const std::size_t offset = std::size_t{bytes[1]} << 8 | bytes[2];
    const std::uint8_t type = bytes[3];
    const std::size_t value =
        count == 2 ? std::size_t{bytes[4]} << 8 | bytes[5] : 0;
    switch (type) {
      case kData:
        for (std::size_t i = 0; i < count; ++i)
          Store(base_ + offset + i, bytes[4 + i], where);
        return;
      case kEndOfFile:
        if (count != 0)
          throw EBadImage(where + "is an end-of-file record with data");
        ended_ = true;
        return;
      case kStartSegmentAddress:
      case kStartLinearAddress:
        // Where the program starts running: the device's loader takes it
        // from the vector table, so the image has no use for it.
        if (count != 4)
          throw EBadImage(where +
                          "is a start address record without a 4-byte address");
        return;
      case kSegmentAddress:
      case kLinearAddress:
        if (count != 2)
          throw EBadImage(where +
                          "is an address record without a 2-byte address");
        base_ = type == kSegmentAddress ? value << 4 : value << 16;
        return;
      default:
        throw EBadImage(where + "has record type " + TypeName(type) +
                        ", which an image may not hold (only data, "
                        "end-of-file, address and start address records)");
    }
  }

  void Store(std::size_t address, std::uint8_t byte, const std::string& where) {
    if (address >= kSize)
      throw EBadImage(where + "puts data at " + Hex(address) +
                      ", outside the image (0x0 to " + Hex(kSize - 1) + ")");
    if (given_[address])
      throw EBadImage(where + "gives address " + Hex(address) +
                      " a second time");
    given_[address] = true;
    image_[address] = byte;
  }

  // The program runs from address 0 without a hole; what follows its last
  // byte is the image's 0xFF filler, which a HEX file of the program alone
  // leaves out.
  void CoverToTheEnd() {
    const auto end = std::find(given_.rbegin(), given_.rend(), true).base();
    if (end == given_.begin()) throw EBadImage("no data records");
    const auto first = std::find(given_.begin(), end, false);
    if (first != end) {
      const auto last = std::find(first, end, true);
      throw EBadImage(
          "addresses " + Hex(static_cast<std::size_t>(first - given_.begin())) +
          " to " + Hex(static_cast<std::size_t>(last - given_.begin()) - 1) +
          " are missing: the program must cover 0x0 up to its last byte");
    }
    std::fill(image_.begin() + (end - given_.begin()), image_.end(), kFiller);
  }

  TImageBytes image_{};
  std::array<bool, kSize> given_{};
  std::size_t base_ = 0;
  bool ended_ = false;
};

std::string KindOf(std::filesystem::file_status status) {
  using std::filesystem::file_type;
  switch (status.type()) {
    case file_type::directory:
      return "a directory";
    case file_type::fifo:
      return "a pipe";
    case file_type::character:
    case file_type::block:
      return "a device";
    case file_type::socket:
      return "a socket";
    default:
      return "something";
  }
}

}  // namespace

TImageBytes ParseImage(std::string_view contents) {
  if (const std::string_view text = WithoutMark(contents); LooksLikeHex(text))
    return HexImage().Parse(text);
  if (contents.size() != kSize)
    throw EBadImage("a raw image must be exactly " + std::to_string(kSize) +
                    " bytes, this one has " + std::to_string(contents.size()));
  TImageBytes image;
  std::copy(contents.begin(), contents.end(), image.begin());
  return image;
}

TImageBytes LoadImageFile(const std::filesystem::path& path) {
  const std::string name = path.string() + ": ";
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) throw EBadImage(name + "cannot be read (" + error.message() + ")");
  // Devices, pipes and folders are refused before they are opened: reading
  // one may never end, or never stop.
  if (!std::filesystem::is_regular_file(status))
    throw EBadImage(name + "is " + KindOf(status) + ", not a regular file");
  std::ifstream file(path, std::ios::binary);
  if (!file)
    throw EBadImage(name + "cannot be read (" + std::strerror(errno) + ")");
  std::string contents(kMaxImageFileSize + 1, '\0');
  file.read(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (file.bad()) throw EBadImage(name + "cannot be read");
  contents.resize(static_cast<std::size_t>(file.gcount()));
  if (contents.size() > kMaxImageFileSize)
    throw EBadImage(name + "is larger than any image (over " +
                    std::to_string(kMaxImageFileSize) + " bytes)");
  try {
    return ParseImage(contents);
  } catch (const EBadImage& bad) {
    throw EBadImage(name + bad.what());
  }
}

}  // namespace dov::flash
