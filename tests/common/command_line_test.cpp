// The shared command-line convention: every spelling of an option that
// users of such tools write, and the mistakes it names.
#include "command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "printable_text.h"

namespace dov::tools {
namespace {

const std::array kTable{
    TOption{'p', "port", "N", "the port"},
    TOption{'q', "quiet", nullptr, "no progress"},
    TOption{'j', "json", nullptr, "JSON"},
    TOption{0, "log", "FILE", "trace into FILE\nsecond line"},
};

// The options as "name=value" words and the operands, for comparing.
std::string Summary(const std::vector<std::string>& args) {
  std::string error;
  const auto line = ParseCommandLine(kTable, args, error);
  if (!line) return "error: " + error;
  std::string text;
  for (const TGivenOption& given : line->Options) {
    text += std::string(given.Option->Long) + "=" + given.Value + " ";
  }
  for (const std::string& operand : line->Operands)
    text += "[" + operand + "] ";
  return text;
}

TEST(CommandLine, EverySpellingOfAnOption) {
  const struct {
    std::vector<std::string> args;
    const char* parsed;
  } cases[] = {
      {{"--port", "3"}, "port=3 "},
      {{"--port=3"}, "port=3 "},
      {{"-p", "3"}, "port=3 "},
      {{"-p3"}, "port=3 "},
      {{"-qjp", "4"}, "quiet= json= port=4 "},
      {{"-qp4"}, "quiet= port=4 "},
      {{"--port=a=b"}, "port=a=b "},
      {{"--port", "-5"}, "port=-5 "},  // a value may look like an option
      {{"--log="}, "log= "},
      {{"disable", "-q", "*vid_1fc9*"}, "quiet= [disable] [*vid_1fc9*] "},
      {{"--", "-q", "--port"}, "[-q] [--port] "},
      {{"-"}, "[-] "},
      {{"-p", "3", "-p", "4"}, "port=3 port=4 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Summary(c.args), c.parsed);
  }
}

TEST(CommandLine, MistakesNameTheOptionAsWritten) {
  const struct {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"--port"}, "error: --port needs a value"},
      {{"-p"}, "error: --port needs a value"},
      {{"-qp"}, "error: --port needs a value"},
      {{"--quiet=1"}, "error: --quiet takes no value"},
      {{"--prt", "3"}, "error: unknown option --prt"},
      {{"--po"}, "error: unknown option --po"},  // no abbreviations
      {{"-x"}, "error: unknown option -x"},
      {{"-qx"}, "error: unknown option -x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Summary(c.args), c.error);
  }
}

TEST(CommandLine, HelpAlignsEveryOption) {
  EXPECT_EQ(OptionHelp(kTable),
            "Options:\n"
            "  -p, --port N    the port\n"
            "  -q, --quiet     no progress\n"
            "  -j, --json      JSON\n"
            "      --log FILE  trace into FILE\n"
            "                  second line\n");
}

// Device strings and arguments reach the terminal as text, never as control
// sequences: what would act on the terminal or break a line or column is
// escaped, printable UTF-8 stays.
TEST(PrintableText, EscapesWhatWouldActOnTheTerminal) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"DORA-0042", "DORA-0042"},
      {"\x1b]0;owned\a\x1b[2J", "\\x1B]0;owned\\x07\\x1B[2J"},
      {"a\tb\rc", "a\\x09b\\x0Dc"},
      {"two\nlines", "two\nlines"},
      {"del\x7f", "del\\x7F"},
      {"csi \xc2\x9b"
       "2J",
       "csi \\xC2\\x9B2J"},  // C1 control U+009B
      {"caf\xc3\xa9 \xe2\x80\x94", "caf\xc3\xa9 \xe2\x80\x94"},
      {"bad \xff\xc3", "bad \\xFF\\xC3"},           // not UTF-8
      {"over \xc0\xaf", "over \\xC0\\xAF"},         // overlong '/'
      {"sur \xed\xa0\x80", "sur \\xED\\xA0\\x80"},  // a surrogate
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(Printable(text), shown) << text;
  }
  EXPECT_EQ(
      UsageError("tool", "unknown option --\x1b[2J"),
      "tool: unknown option --\\x1B[2J\n(tool --help lists the options)\n");
}

}  // namespace
}  // namespace dov::tools
