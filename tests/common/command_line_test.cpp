// The shared command-line convention: every spelling of an option that
// users of such tools write, and the mistakes it names.
#include "command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace dov::tools
