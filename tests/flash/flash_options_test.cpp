// The command line: what each option sets, and what is refused.
#include "flash_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dov::flash {
namespace {

std::optional<TFlashOptions> Parse(const std::vector<std::string>& args,
                                   std::string& error) {
  return ParseOptions(args, error);
}

TEST(FlashOptions, DefaultsAreTheDialogs) {
  std::string error;
  const auto options = Parse({}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->Port, 3);
  EXPECT_TRUE(options->Reset);
  EXPECT_EQ(options->WaitPortMs, 0u);
  EXPECT_FALSE(options->Image);
  EXPECT_FALSE(options->Json);
}

TEST(FlashOptions, TakesEveryOption) {
  std::string error;
  std::vector<std::string> args{"--port",     "255",         "--image=fw.hex",
                                "--no-reset", "--wait-port", "2.5",
                                "--json"};
#ifndef _WIN32
  args.insert(args.end(), {"--device", "/dev/ttyACM0"});
#endif
  const auto options = Parse(args, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->Port, 255);
  EXPECT_EQ(options->Image, "fw.hex");
  EXPECT_FALSE(options->Reset);
  EXPECT_EQ(options->WaitPortMs, 2500u);
  EXPECT_TRUE(options->Json);
#ifndef _WIN32
  EXPECT_EQ(options->Device, "/dev/ttyACM0");
#endif
  ASSERT_TRUE(Parse({"--port=1", "--help"}, error));
  EXPECT_TRUE(Parse({"--help"}, error)->Help);
}

TEST(FlashOptions, RefusesMistakes) {
  const struct {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"--port", "0"}, "bad value for --port: '0'"},
      {{"--port", "256"}, "bad value for --port: '256'"},
      {{"--port", "3x"}, "bad value for --port: '3x'"},
      {{"--port", "-3"}, "bad value for --port: '-3'"},
      {{"--port="}, "bad value for --port: ''"},
      {{"--port"}, "--port needs a value"},
      {{"--image"}, "--image needs a value"},
      {{"--image", ""}, "bad value for --image: ''"},
      {{"--wait-port", "-1"}, "bad value for --wait-port: '-1'"},
      {{"--wait-port", "3601"}, "bad value for --wait-port: '3601'"},
      {{"--wait-port", "nan"}, "bad value for --wait-port: 'nan'"},
      {{"--json=yes"}, "--json takes no value"},
      {{"--verbose"}, "unknown option --verbose"},
      {{"3"}, "unknown option 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::string error;
    EXPECT_FALSE(Parse(c.args, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(FlashOptions, HelpListsEveryExitCode) {
  const std::string usage = kUsage;
  for (const char* line : {"0  the image was sent", "2  usage", "3  bad image",
                           "4  port open failed", "5  transfer failed"}) {
    EXPECT_NE(usage.find(line), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace dov::flash
