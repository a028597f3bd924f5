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
  EXPECT_EQ(options->Ports, std::vector<std::uint8_t>{3});
  EXPECT_TRUE(options->Reset);
  EXPECT_EQ(options->WaitPortMs, 0u);
  EXPECT_FALSE(options->Image);
  EXPECT_FALSE(options->Json);
  EXPECT_FALSE(options->Verbose);
  EXPECT_FALSE(options->LogFile);
}

TEST(FlashOptions, TakesEveryOption) {
  std::string error;
  std::vector<std::string> args{"--port", "255",   "--image=fw.hex",
                                "-n",     "-w",    "2.5",
                                "-jqv",   "--log", "trace.txt"};
#ifndef _WIN32
  args.insert(args.end(), {"-d/dev/ttyACM0"});
#endif
  const auto options = Parse(args, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->Ports, std::vector<std::uint8_t>{255});
  EXPECT_EQ(options->Image, "fw.hex");
  EXPECT_FALSE(options->Reset);
  EXPECT_EQ(options->WaitPortMs, 2500u);
  EXPECT_TRUE(options->Json);
  EXPECT_TRUE(options->Quiet);
  EXPECT_TRUE(options->Verbose);
  EXPECT_EQ(options->LogFile, "trace.txt");
#ifndef _WIN32
  EXPECT_EQ(options->Device, "/dev/ttyACM0");
#endif
  EXPECT_TRUE(Parse({"--help"}, error)->Help);
  EXPECT_TRUE(Parse({"-V"}, error)->Version);
  EXPECT_TRUE(Parse({"-l", "-j"}, error)->List);
  EXPECT_EQ(Parse({"-s", "DORA-7"}, error)->Serial, "DORA-7");
  EXPECT_TRUE(Parse({"--all"}, error)->All);
  EXPECT_TRUE(Parse({"--all"}, error)->Ports.empty());
}

TEST(FlashOptions, SeveralPortsMakeAGang) {
  std::string error;
  const auto options =
      Parse({"-p", "3", "-p4", "--port=5", "--port", "6"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->Ports, (std::vector<std::uint8_t>{3, 4, 5, 6}));
}

TEST(FlashOptions, RefusesMistakes) {
  const struct {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"--port", "0"}, "bad value for --port: '0'"},
      {{"--port", "256"}, "bad value for --port: '256'"},
      {{"-p", "3x"}, "bad value for --port: '3x'"},
      {{"--port", "-3"}, "bad value for --port: '-3'"},
      {{"--port="}, "bad value for --port: ''"},
      {{"--port"}, "--port needs a value"},
      {{"-p"}, "--port needs a value"},
      {{"--image"}, "--image needs a value"},
      {{"--image", ""}, "bad value for --image: ''"},
      {{"--serial="}, "bad value for --serial: ''"},
      {{"--wait-port", "-1"}, "bad value for --wait-port: '-1'"},
      {{"--wait-port", "3601"}, "bad value for --wait-port: '3601'"},
      {{"--wait-port", "nan"}, "bad value for --wait-port: 'nan'"},
      {{"--json=yes"}, "--json takes no value"},
      {{"--verbosity"}, "unknown option --verbosity"},
      {{"-x"}, "unknown option -x"},
      {{"3"}, "unexpected argument 3"},
      {{"-p", "3", "--port", "3"}, "COM3 is given twice"},
      {{"-p", "3", "--all"}, "--port, --all and --serial exclude each other"},
      {{"--serial", "A", "--all"},
       "--port, --all and --serial exclude each other"},
#ifndef _WIN32
      {{"-p", "3", "-p", "4", "-d", "/dev/ttyACM0"},
       "--device maps one port: give at most one --port with it"},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::string error;
    EXPECT_FALSE(Parse(c.args, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(FlashOptions, HelpListsEveryOptionAndExitCode) {
  const std::string usage = Usage();
  for (const char* text :
       {"-p, --port N", "-a, --all", "-s, --serial SN", "-i, --image FILE",
        "-n, --no-reset", "-w, --wait-port SECONDS", "-l, --list", "-j, --json",
        "-q, --quiet", "-v, --verbose", "--log FILE", "-h, --help",
        "-V, --version", "0  the image was sent", "2  usage", "3  bad image",
        "4  port open failed", "5  transfer failed"}) {
    EXPECT_NE(usage.find(text), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace dov::flash
