// Several devices flashed by one dov-flash: each gets the whole image with
// every pause kept, each its own result, and one that vanishes or is
// missing ends only its own update.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "flash_options.h"

namespace e2e {
namespace {

constexpr milliseconds kGangBound(90000);

// The pauses dov-flash traced for one port: how many, and how many ended
// before their minimum.
struct TPauses {
  int Count = 0;
  int Below = 0;
};

TPauses TracedPauses(const fs::path& trace) {
  static const std::regex pause(
      R"(pause: minimum (\d+) ms, actual ([0-9.]+) ms)");
  TPauses pauses;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, pause)) continue;
    ++pauses.Count;
    if (std::stod(m[2]) <= std::stod(m[1])) ++pauses.Below;
  }
  return pauses;
}

TEST(GangE2E, EachDeviceGetsItsOwnUpdateAndResult) {
  TempPrefix prefix;
  Simulator com3(prefix, 3);
  Simulator com4(prefix, 4);
  Simulator com5(prefix, 5, {"--vanish-after", "3000"});
  for (Simulator* device : {&com3, &com4, &com5}) {
    ASSERT_TRUE(device->WaitReady());
  }
  const fs::path trace = prefix.Path() / "trace";
  // COM6 has no device at all.
  Process flash(DOV_FLASH,
                {"-p", "3", "-p", "4", "-p5", "--port=6", "--no-reset",
                 "--json", "--log", trace.string()},
                prefix.Path(), prefix.Path() / "flash");
  const std::optional<int> code = flash.Wait(kGangBound);
  ASSERT_TRUE(code) << "dov-flash did not end";
  EXPECT_EQ(*code, dov::flash::kExitTransferFailed) << flash.Errors();

  const auto results = nlohmann::json::parse(flash.Output(), nullptr, false);
  ASSERT_TRUE(results.is_array()) << flash.Output();
  ASSERT_EQ(results.size(), 4u);
  const struct {
    const char* port;
    const char* result;
  } expected[] = {{"COM3", "ok"},
                  {"COM4", "ok"},
                  {"COM5", "transfer failed"},
                  {"COM6", "port open failed"}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].port);
    EXPECT_EQ(results[i]["port"], expected[i].port);
    EXPECT_EQ(results[i]["result"], expected[i].result);
  }
  EXPECT_EQ(results[0]["bytes_sent"], 20487);

  // The two that stayed got the whole image, every pause kept as dov-flash
  // timed it: the vanished device beside them changed nothing.
  for (Simulator* device : {&com3, &com4}) {
    const std::string sim = device->Report(milliseconds(5000));
    EXPECT_EQ(JsonField(sim, "intact"), "true") << sim;
    EXPECT_EQ(JsonField(sim, "writes"), "640");
  }
  for (const char* port : {"COM3", "COM4"}) {
    SCOPED_TRACE(port);
    const TPauses pauses = TracedPauses(trace.string() + "." + port);
    EXPECT_EQ(pauses.Count, 805);
    EXPECT_EQ(pauses.Below, 0);
  }
  EXPECT_NE(flash.Errors().find("COM6: dov-flash: "), std::string::npos)
      << flash.Errors();
}

// A request to stop that reaches the gang's own process alone (kill on its
// number) stops every device at its next pause; a gang killed outright
// leaves no device process streaming on: each stops at its next pause,
// closes its port and says so in its trace.
TEST(GangE2E, StoppingTheGangsProcessStopsEveryDevice) {
  const struct {
    int signal;
    int firstPort;
  } cases[] = {{SIGTERM, 11}, {SIGKILL, 13}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal);
    TempPrefix prefix;
    const int ports[] = {c.firstPort, c.firstPort + 1};
    Simulator first(prefix, ports[0]);
    Simulator second(prefix, ports[1]);
    ASSERT_TRUE(first.WaitReady());
    ASSERT_TRUE(second.WaitReady());
    const fs::path trace = prefix.Path() / "trace";
    Process flash(
        DOV_FLASH,
        {"-p", std::to_string(ports[0]), "-p", std::to_string(ports[1]),
         "--no-reset", "--json", "--log", trace.string()},
        prefix.Path(), prefix.Path() / "flash");
    ASSERT_TRUE(WaitForText([&] { return flash.Errors(); }, "progress: 10%",
                            kGangBound))
        << flash.Errors();
    flash.Signal(c.signal);
    const std::optional<int> code = flash.Wait(milliseconds(5000));
    for (const int port : ports) {
      const std::string log = trace.string() + ".COM" + std::to_string(port);
      const std::string stopped = c.signal == SIGKILL
                                      ? "error: interrupted by SIGHUP"
                                      : "error: interrupted by SIGTERM";
      EXPECT_TRUE(WaitForText([&] { return ReadFile(log); }, stopped,
                              milliseconds(5000)))
          << ReadFile(log);
    }
    if (c.signal == SIGKILL) continue;
    EXPECT_EQ(code, dov::flash::kExitInterrupted + SIGTERM) << flash.Errors();
    const auto results = nlohmann::json::parse(flash.Output(), nullptr, false);
    ASSERT_TRUE(results.is_array()) << flash.Output();
    for (const auto& result : results) {
      EXPECT_EQ(result["result"], "interrupted");
      EXPECT_LT(result["bytes_sent"], 20487);
    }
  }
}

// A trace file name that is a link, in gang mode too (FILE.COMn is easy to
// guess): the device's process refuses it and the victim stays as it was;
// the reason reaches the report also with --quiet.
TEST(GangE2E, ALinkAsATraceFileIsRefusedAndTheReasonShown) {
  TempPrefix prefix;
  const fs::path victim = prefix.Path() / "victim";
  std::ofstream(victim) << "precious\n";
  const fs::path trace = prefix.Path() / "trace";
  fs::create_symlink(victim, trace.string() + ".COM21");
  Process flash(DOV_FLASH,
                {"-p", "21", "-p", "22", "--no-reset", "--json", "--quiet",
                 "--log", trace.string()},
                prefix.Path(), prefix.Path() / "flash");
  ASSERT_TRUE(flash.Wait(kGangBound));
  const auto results = nlohmann::json::parse(flash.Output(), nullptr, false);
  ASSERT_TRUE(results.is_array()) << flash.Output();
  EXPECT_EQ(results[0]["result"], "usage");
  EXPECT_NE(results[0]["error"].get<std::string>().find(
                "it is a symbolic link, which is not followed"),
            std::string::npos)
      << results[0]["error"];
  EXPECT_EQ(ReadFile(victim), "precious\n");
}

}  // namespace
}  // namespace e2e
