// The update's trace: every step, write and pause of a whole update in
// order, with the port's settings, drained chatter and an error with the
// system's text; and the DOV_LOG file the dialog writes it to.
#include "updater/update_trace.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "cport/fw/os_error.h"
#include "updater_fixture.h"

namespace dov::testing {
namespace {

class UpdateTraceTest : public UpdaterTest {
 protected:
  UpdateTraceTest() {
    trace->AddOutput(channel);
    form4 = std::make_unique<TForm4>(
        TForm4::TControls{bar, label, updown, form},
        TForm4::TPlatform{ticks, idle, tool, trace.get()});
  }
  ~UpdateTraceTest() override {
    form4.reset();
    trace.reset();
    std::fclose(file);
  }

  // The trace so far without its timestamps; ends it.
  std::vector<std::string> Lines() {
    form4.reset();
    trace.reset();
    channel.Close(std::chrono::seconds(10));
    std::rewind(file);
    std::vector<std::string> lines;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
      std::string line(buffer);
      line.pop_back();
      const std::optional<std::string> text = Unstamped(line);
      EXPECT_TRUE(text.has_value()) << line;
      lines.push_back(text.value_or(""));
    }
    return lines;
  }

  // A line's text after its "[   seconds.micros] " stamp, or nothing when
  // the line has no such stamp.
  static std::optional<std::string> Unstamped(const std::string& line) {
    const std::size_t close = line.find("] ");
    if (line.empty() || line[0] != '[' || close == std::string::npos) {
      return std::nullopt;
    }
    const std::string stamp = line.substr(1, close - 1);
    const std::size_t digits = stamp.find_first_not_of(' ');
    const std::size_t dot = stamp.find('.');
    const auto allDigits = [&](std::size_t from, std::size_t to) {
      return from < to && stamp.find_first_not_of("0123456789", from) >= to;
    };
    if (digits == std::string::npos || dot == std::string::npos ||
        !allDigits(digits, dot) || stamp.size() - dot - 1 != 6 ||
        !allDigits(dot + 1, stamp.size())) {
      return std::nullopt;
    }
    return line.substr(close + 2);
  }

  std::FILE* file = std::tmpfile();
  TOutputChannel channel{fileno(file)};
  std::unique_ptr<TUpdateTrace> trace = std::make_unique<TUpdateTrace>();
};

std::size_t Count(const std::vector<std::string>& lines,
                  const std::string& text) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
}

TEST_F(UpdateTraceTest, AWholeUpdateStepByStep) {
  idle.at = [&](std::uint32_t now) {
    if (now == 5000) comm.Receive("chatter");
  };
  Press();
  HandleMessagesUntilDrained();
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 10u);
  const std::vector<std::string> start(lines.begin(), lines.begin() + 10);
  EXPECT_EQ(start, (std::vector<std::string>{
                       "update: closing the port",
                       "pause: minimum 500 ms, actual 501.000 ms",
                       "device console: disable *vid_1fc9*",
                       "pause: minimum 500 ms, actual 501.000 ms",
                       "device console: enable *vid_1fc9*",
                       "pause: minimum 1000 ms, actual 1001.000 ms",
                       "update: opening the port",
                       "port open: COM3, 115200 baud, 8 data bits, no parity, "
                       "1 stop bits, no flow control",
                       "write: 7 bytes",
                       "pause: minimum 2000 ms, actual 2001.000 ms",
                   }));
  EXPECT_EQ(Count(lines, "write: 32 bytes"), 640u);
  EXPECT_EQ(Count(lines, "pause: minimum 10 ms, actual 11.000 ms"), 640u);
  EXPECT_EQ(Count(lines, "pause: minimum 100 ms, actual 101.000 ms"), 160u);
  EXPECT_EQ(Count(lines, "drained: 7 bytes from the device"), 1u);
  // The update's own steps end with "done"; the drained chatter may come
  // before or after it.
  std::vector<std::string> steps;
  std::copy_if(
      lines.begin(), lines.end(), std::back_inserter(steps),
      [](const std::string& line) { return line.rfind("drained: ", 0) != 0; });
  EXPECT_EQ(steps.back(), "update: done");
}

TEST_F(UpdateTraceTest, AnErrorWithTheSystemsText) {
  comm.FailWrite(6, 5);
  Press();
  const auto lines = Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "error: WriteFile function failed (Error: 5) \u2014 " +
                cport::fw::ToUtf8(cport::fw::SysErrorMessage(5)));
  EXPECT_EQ(Count(lines, "write: 32 bytes"), 4u);
}

TEST(UpdateTraceFile, DovLogNamesTheDialogsTraceFile) {
  const auto path = std::filesystem::temp_directory_path() / "dov-log-test";
  ::setenv("DOV_LOG", path.c_str(), 1);
  {
    const auto trace = TraceFromEnvironment();
    ASSERT_NE(trace, nullptr);
    trace->Note("hello");
  }
  std::ifstream in(path);
  std::string first, second;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_TRUE(first.ends_with("] DOV started")) << first;
  EXPECT_TRUE(second.ends_with("] hello")) << second;
  std::filesystem::remove(path);

  ::setenv("DOV_LOG", "/nonexistent-dir/trace", 1);
  EXPECT_EQ(TraceFromEnvironment(), nullptr);
  ::unsetenv("DOV_LOG");
  EXPECT_EQ(TraceFromEnvironment(), nullptr);
}

}  // namespace
}  // namespace dov::testing
