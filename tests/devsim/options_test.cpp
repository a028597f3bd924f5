#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using devsim::ParseCommandLine;

TEST(DevsimOptions, AllOptionsAreTaken) {
  std::string error;
  const auto cli = ParseCommandLine(
      {"--port", "12", "--json", "--timeout", "2.5", "--chatter",
       "--vanish-after", "640", "--stop-reading", "--appear-after", "1500",
       "--refuse-boot", "--report", "r.json", "--ready-file", "ready",
       "--force", "--delivery-jitter", "10"},
      error);
  ASSERT_TRUE(cli) << error;
  EXPECT_EQ(cli->ports, std::vector<int>{12});
  EXPECT_TRUE(cli->json);
  EXPECT_DOUBLE_EQ(*cli->config.timeout_ms, 2500);
  EXPECT_TRUE(cli->config.chatter);
  EXPECT_EQ(*cli->config.vanish_after, 640u);
  EXPECT_TRUE(cli->config.stop_reading);
  EXPECT_DOUBLE_EQ(cli->config.appear_after_ms, 1500);
  EXPECT_TRUE(cli->config.refuse_boot);
  EXPECT_EQ(cli->report_file, "r.json");
  EXPECT_EQ(cli->config.ready_file, "ready");
  EXPECT_TRUE(cli->config.force);
  EXPECT_DOUBLE_EQ(cli->config.minimums.delivery_jitter_ms, 10);
}

TEST(DevsimOptions, SeveralPortsPlaySeveralDevices) {
  std::string error;
  const auto cli = ParseCommandLine({"--port", "3", "-p4", "--port=5"}, error);
  ASSERT_TRUE(cli) << error;
  EXPECT_EQ(cli->ports, (std::vector<int>{3, 4, 5}));
}

TEST(DevsimOptions, DefaultsArePortThreeAndNoTimeout) {
  std::string error;
  const auto cli = ParseCommandLine({}, error);
  ASSERT_TRUE(cli);
  EXPECT_EQ(cli->ports, std::vector<int>{3});
  EXPECT_FALSE(cli->config.timeout_ms);
  EXPECT_FALSE(cli->config.vanish_after);
}

TEST(DevsimOptions, MistakesAreNamed) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--port"}, "--port needs a value"},
      {{"--port", "0"}, "bad value for --port: '0'"},
      {{"--port", "256"}, "bad value for --port: '256'"},
      {{"--port", "3x"}, "bad value for --port: '3x'"},
      {{"--timeout", "0"}, "bad value for --timeout: '0'"},
      {{"--timeout", "nan"}, "bad value for --timeout: 'nan'"},
      // Finite in seconds, but not in milliseconds.
      {{"--timeout", "1e308"}, "bad value for --timeout: '1e308'"},
      {{"--vanish-after", "-1"}, "bad value for --vanish-after: '-1'"},
      {{"--appear-after", "soon"}, "bad value for --appear-after: 'soon'"},
      {{"--delivery-jitter", "-1"}, "bad value for --delivery-jitter: '-1'"},
      {{"--scale", "0.1"}, "unknown option --scale"},
      {{"com3"}, "unexpected argument com3"},
      {{"--port", "3", "-p", "3"}, "COM3 is given twice"},
      {{"--plot-trace", "trace.txt"},
       "--plot-trace needs --plot FILE to draw into"},
      {{"--ready-file", "/nonexistent/ready"},
       "--ready-file: no folder /nonexistent"},
  };
  for (const auto& [args, message] : cases) {
    std::string error;
    EXPECT_FALSE(ParseCommandLine(args, error)) << message;
    EXPECT_EQ(error, message);
  }
}

TEST(DevsimOptions, PictureOptionsAreTaken) {
  std::string error;
  const auto cli = ParseCommandLine(
      {"--plot", "p.svg", "--plot-trace", "trace.txt", "-v"}, error);
  ASSERT_TRUE(cli) << error;
  EXPECT_EQ(cli->plot_file, "p.svg");
  EXPECT_EQ(cli->plot_trace, "trace.txt");
  EXPECT_TRUE(cli->verbose);
}

}  // namespace
