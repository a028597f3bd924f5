// The three tools run as users run them, with the same command-line
// convention: help and version on the standard output with exit code 0, a
// usage error on the standard error stream with exit code 2, and every
// option of the help also in the README.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

struct TTool {
  const char* name;
  const char* path;
};

const TTool kTools[] = {{"dov-flash", DOV_FLASH},
                        {"dov-devsim", DOV_DEVSIM_PROGRAM},
                        {"devcon", DOV_DEVCON}};

struct TResult {
  std::optional<int> code;
  std::string out;
  std::string err;
};

TResult RunTool(const TTool& tool, const std::vector<std::string>& args) {
  e2e::TempPrefix prefix;
  e2e::Process process(tool.path, args, prefix.Path(), prefix.Path() / "run");
  TResult result;
  result.code = process.Wait(std::chrono::milliseconds(10000));
  result.out = process.Output();
  result.err = process.Errors();
  return result;
}

TEST(ToolConventions, HelpVersionAndUsageErrorsAlike) {
  const std::string version = DOV_VERSION;
  const struct {
    std::vector<std::string> args;
    int code;
    const char* out;  // the start of the standard output
    const char* err;  // found in the standard error stream
  } cases[] = {
      {{"-h"}, 0, "Usage: ", ""},
      {{"--help"}, 0, "Usage: ", ""},
      {{"-V"}, 0, "@ " DOV_VERSION "\n", ""},
      {{"--version"}, 0, "@ " DOV_VERSION "\n", ""},
      {{"--no-such-option"}, 2, "", "@: unknown option --no-such-option\n"},
      {{"-Z"}, 2, "", "@: unknown option -Z\n"},
      {{"--help=yes"}, 2, "", "@: --help takes no value\n"},
      {{"--version", "--bogus"}, 2, "", "(@ --help lists the options)\n"},
  };
  for (const TTool& tool : kTools) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(tool.name) + " " +
                   testing::PrintToString(c.args));
      const auto expand = [&](std::string text) {
        for (auto at = text.find('@'); at != std::string::npos;
             at = text.find('@')) {
          text.replace(at, 1, tool.name);
        }
        return text;
      };
      const TResult result = RunTool(tool, c.args);
      ASSERT_TRUE(result.code);
      EXPECT_EQ(*result.code, c.code);
      EXPECT_TRUE(result.out.starts_with(expand(c.out))) << result.out;
      if (c.code == 0) {
        EXPECT_EQ(result.err, "");
      } else {
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(expand(c.err)), std::string::npos)
            << result.err;
      }
    }
  }
}

// Options that take a value take it in each spelling, and say when it is
// missing.
TEST(ToolConventions, MissingValuesAreUsageErrors) {
  const struct {
    const TTool& tool;
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {kTools[0], {"-p"}, "dov-flash: --port needs a value"},
      {kTools[0], {"--port=x"}, "dov-flash: bad value for --port: 'x'"},
      {kTools[1], {"-p"}, "dov-devsim: --port needs a value"},
      {kTools[1], {"--port=0"}, "dov-devsim: bad value for --port: '0'"},
      {kTools[2], {"disable"}, "devcon: missing PATTERN after disable"},
      {kTools[2], {}, "devcon: no command given"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const TResult result = RunTool(c.tool, c.args);
    ASSERT_TRUE(result.code);
    EXPECT_EQ(*result.code, 2);
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
  }
}

TEST(ToolConventions, EveryOptionOfTheHelpIsInTheReadme) {
  std::ifstream in(DOV_README);
  const std::string readme{std::istreambuf_iterator<char>(in), {}};
  ASSERT_FALSE(readme.empty());
  const std::regex option(R"((^|[ ,])(-[a-zA-Z], )?(--[a-z][a-z-]+))");
  for (const TTool& tool : kTools) {
    const TResult help = RunTool(tool, {"--help"});
    std::set<std::string> options;
    for (std::sregex_iterator it(help.out.begin(), help.out.end(), option), end;
         it != end; ++it) {
      options.insert((*it)[3]);
    }
    EXPECT_GT(options.size(), 1u) << help.out;
    for (const std::string& name : options) {
      EXPECT_NE(readme.find(name), std::string::npos)
          << tool.name << " " << name << " is not in the README";
    }
  }
}

}  // namespace
