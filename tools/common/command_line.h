// The command-line convention the tools share: short options ("-p 3",
// "-p3", bundled flags "-qj"), long options ("--port 3", "--port=3"), "--"
// ending the options, and every other word an operand. Each tool describes
// its options once, in a table that also makes its --help text.
#pragma once

#include <charconv>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dov::tools {

struct TOption {
  char Short = 0;               // 0: a long name only
  const char* Long = "";        // without the leading "--"
  const char* Value = nullptr;  // the value's name in the help; null: a flag
  const char* Help = "";        // what it does; '\n' starts a new help line
};

// One option as given: which one, and its value ("" for a flag).
struct TGivenOption {
  const TOption* Option = nullptr;
  std::string Value;

  bool Is(std::string_view name) const { return name == Option->Long; }
};

struct TCommandLine {
  std::vector<TGivenOption> Options;  // in the order given
  std::vector<std::string> Operands;
};

// `args` excludes the program name. On a mistake returns nothing and sets
// `error` to a one-line message naming the option as it was written.
std::optional<TCommandLine> ParseCommandLine(std::span<const TOption> table,
                                             std::span<const std::string> args,
                                             std::string& error);

// Parses `args` with the table and hands each option, in order, to `apply`.
// An option whose value `apply` refuses is named in `error` ("bad value for
// --port: '0'"); so is a word that is no option. For tools without
// operands.
bool ApplyCommandLine(std::span<const TOption> table,
                      std::span<const std::string> args,
                      const std::function<bool(const TGivenOption&)>& apply,
                      std::string& error);

// A value that is a number and nothing else.
template <typename T>
bool ParseNumber(const std::string& text, T& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// The table as help lines under "Options:": "  -p, --port N   text",
// aligned.
std::string OptionHelp(std::span<const TOption> table);

// "<tool> <version>\n", the project's version.
std::string VersionText(std::string_view tool);

// The two options every tool has.
inline constexpr TOption kHelpOption{'h', "help", nullptr,
                                     "show this text and exit"};
inline constexpr TOption kVersionOption{'V', "version", nullptr,
                                        "show the version and exit"};

// The usage error every tool gives, with the hint that follows it; the
// error's control characters (an argument echoed) are shown escaped.
std::string UsageError(std::string_view tool, std::string_view error);

}  // namespace dov::tools
