#include "cport/fw/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#endif

namespace cport::fw {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t c) {
  auto byte = [&out](char32_t b) { out.push_back(static_cast<char>(b)); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | (c >> 6));
    byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | (c >> 12));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | (c >> 18));
    byte(0x80 | ((c >> 12) & 0x3F));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Decodes one UTF-8 sequence at `i`; a malformed one (bad lead or
// continuation byte, overlong form, surrogate, beyond U+10FFFF, cut short)
// gives U+FFFD and consumes one byte.
char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  ++i;
  if (lead < 0x80) return lead;
  int extra;
  char32_t c;
  char32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, c = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, c = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, c = lead & 0x07, minimum = 0x10000;
  } else {
    return kReplacement;
  }
  if (s.size() - i < static_cast<std::size_t>(extra)) return kReplacement;
  for (int k = 0; k < extra; ++k) {
    const auto next = static_cast<unsigned char>(s[i + k]);
    if ((next & 0xC0) != 0x80) return kReplacement;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c))
    return kReplacement;
  i += extra;
  return c;
}

// Decodes one UTF-16 code point at `i`; a lone surrogate gives U+FFFD.
char32_t DecodeUtf16(std::u16string_view s, std::size_t& i) {
  const char32_t c = s[i++];
  if (IsHighSurrogate(c) && i < s.size() && IsLowSurrogate(s[i])) {
    return 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
  }
  return IsHighSurrogate(c) || IsLowSurrogate(c) ? kReplacement : c;
}

#ifndef _WIN32

// The converter's name for a code page number; none for an unknown one.
std::optional<std::string> IconvName(std::uint32_t codePage) {
  switch (codePage) {
    case 437:
    case 737:
    case 775:
    case 850:
    case 852:
    case 855:
    case 857:
    case 860:
    case 861:
    case 862:
    case 863:
    case 864:
    case 865:
    case 866:
    case 869:
    case 874:
    case 932:
    case 936:
    case 949:
    case 950:
    case 1250:
    case 1251:
    case 1252:
    case 1253:
    case 1254:
    case 1255:
    case 1256:
    case 1257:
    case 1258:
      return "CP" + std::to_string(codePage);
    case 20127:
      return "ASCII";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 10000:
      return "MACINTOSH";
    case 54936:
      return "GB18030";
    default:
      break;
  }
  if ((codePage >= 28591 && codePage <= 28599) || codePage == 28603 ||
      codePage == 28605) {
    return "ISO-8859-" + std::to_string(codePage - 28590);
  }
  return std::nullopt;
}

// One iconv conversion descriptor, closed with the object.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : cd_(::iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (Valid()) ::iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `in`; each unconvertible or cut-short unit of `unit` bytes is
  // replaced by `replacement` (already in the target encoding). Returns
  // false when the converter fails otherwise.
  bool Convert(std::string_view in, std::size_t unit,
               std::string_view replacement, std::string& out) {
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char buffer[1024];
    while (inLeft > 0) {
      char* outPtr = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t r = ::iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
      if (r != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (errno != EILSEQ && errno != EINVAL) return false;
      const std::size_t skip = std::min(unit, inLeft);
      inPtr += skip;
      inLeft -= skip;
      out.append(replacement);
      ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the start
    }
    return true;
  }

 private:
  iconv_t cd_;
};

std::string ToUtf16Le(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::u16string FromUtf16Le(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return text;
}

#endif

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();)
    AppendUtf8(out, DecodeUtf16(text, i));
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();)
    AppendUtf16(out, DecodeUtf8(text, i));
  return out;
}

std::u16string IntToStr(std::int64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

#ifdef _WIN32

bool IsCodePageAvailable(std::uint32_t codePage) {
  // A trial conversion each way: the conversion calls take more pages than
  // the system lists as valid, the OEM, Mac and thread code pages (1 to 3)
  // and the symbol page (42) among them.
  const UINT cp = codePage == kCpAcp ? CP_ACP : codePage;
  const char narrow = 'a';
  const wchar_t wide = L'a';
  return ::MultiByteToWideChar(cp, 0, &narrow, 1, nullptr, 0) > 0 &&
         ::WideCharToMultiByte(cp, 0, &wide, 1, nullptr, 0, nullptr, nullptr) >
             0;
}

std::string WideToMultiByte(std::uint32_t codePage, std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const UINT cp = codePage == kCpAcp ? CP_ACP : codePage;
  const int n =
      ::WideCharToMultiByte(cp, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string bytes(static_cast<std::size_t>(n), '\0');
  if (::WideCharToMultiByte(cp, 0, wide, length, bytes.data(), n, nullptr,
                            nullptr) != n) {
    return {};
  }
  return bytes;
}

std::u16string MultiByteToWide(std::uint32_t codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  const UINT cp = codePage == kCpAcp ? CP_ACP : codePage;
  const int n = ::MultiByteToWideChar(cp, 0, bytes.data(), length, nullptr, 0);
  if (n <= 0) return {};
  std::u16string text(static_cast<std::size_t>(n), u'\0');
  if (::MultiByteToWideChar(cp, 0, bytes.data(), length,
                            reinterpret_cast<wchar_t*>(text.data()), n) != n) {
    return {};
  }
  return text;
}

#else

bool IsCodePageAvailable(std::uint32_t codePage) {
  if (codePage == kCpAcp || codePage == kCpUtf8) return true;
  const auto name = IconvName(codePage);
  return name && Converter(*name, "UTF-16LE").Valid() &&
         Converter("UTF-16LE", *name).Valid();
}

std::string WideToMultiByte(std::uint32_t codePage, std::u16string_view text) {
  if (codePage == kCpAcp) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
      const char32_t c = DecodeUtf16(text, i);
      bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return bytes;
  }
  if (codePage == kCpUtf8) return ToUtf8(text);
  const auto name = IconvName(codePage);
  if (!name) return {};
  Converter converter(*name, "UTF-16LE");
  std::string bytes;
  if (!converter.Valid() ||
      !converter.Convert(ToUtf16Le(text), 2, "?", bytes)) {
    return {};
  }
  return bytes;
}

std::u16string MultiByteToWide(std::uint32_t codePage, std::string_view bytes) {
  if (codePage == kCpAcp) {
    std::u16string text;
    text.reserve(bytes.size());
    for (char b : bytes) text.push_back(static_cast<unsigned char>(b));
    return text;
  }
  if (codePage == kCpUtf8) return FromUtf8(bytes);
  const auto name = IconvName(codePage);
  if (!name) return {};
  Converter converter("UTF-16LE", *name);
  std::string wide;
  if (!converter.Valid() ||
      !converter.Convert(bytes, 1, ToUtf16Le(std::u16string(1, kReplacement)),
                         wide)) {
    return {};
  }
  return FromUtf16Le(wide);
}

#endif

}  // namespace cport::fw
