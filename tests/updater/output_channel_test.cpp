// Output that cannot be written, or is not read, costs output and never the
// writer: a pipe nobody empties, a reader that went away, a full disk; and
// the trace file's open, which refuses what it must not write.
#include "updater/output_channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "updater/trace_file.h"
#include "updater/update_trace.h"

namespace dov::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(ends), 0); }
  ~Pipe() {
    for (int end : ends)
      if (end >= 0) ::close(end);
  }
  void CloseReader() { ::close(std::exchange(ends[0], -1)); }
  int ends[2] = {-1, -1};
};

// More than any pipe holds, put while nobody reads: every Put returns (the
// test's own bound is the proof), and Close drops the rest within its bound
// and says how much.
TEST(OutputChannel, APipeNobodyReadsNeverHoldsUpTheWriter) {
  Pipe pipe;
  TOutputChannel channel(pipe.ends[1]);
  const std::string line(1000, 'x');
  for (int i = 0; i < 2000; ++i) channel.Put(line);
  channel.Close(200ms);
  EXPECT_GT(channel.Dropped(), 0u);
  EXPECT_LT(channel.Dropped(), 2000u * 1000u);
  EXPECT_NE(DroppedNote(channel, "progress"), "");
}

TEST(OutputChannel, AnUnwritableOutputIsCountedWithTheSystemsReason) {
  struct Case {
    const char* what;
    std::string reason;
  };
  Pipe pipe;
  pipe.CloseReader();
  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  const std::vector<std::pair<int, Case>> cases{
      {pipe.ends[1], {"a pipe whose reader went away", "Broken pipe"}},
      {full, {"a full device", "No space left on device"}},
  };
  for (const auto& [fd, expected] : cases) {
    TOutputChannel channel(fd);
    channel.Put("one\n");
    channel.Put("two\n");
    channel.Close(5s);
    EXPECT_EQ(channel.Dropped(), 8u) << expected.what;
    EXPECT_EQ(channel.Failure(), expected.reason) << expected.what;
    EXPECT_EQ(DroppedNote(channel, "trace"),
              "8 bytes of trace dropped (" + expected.reason + ")");
  }
  ::close(full);
}

TEST(OutputChannel, WritesEverythingToAReader) {
  dov::test::TempDir dir("dov-channel");
  const fs::path path = dir / "out";
  {
    TOutputChannel channel(::open(path.c_str(), O_WRONLY | O_CREAT, 0600),
                           true);
    channel.Put("first\n");
    channel.Put("second\n");
  }
  std::ifstream in(path);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(text, "first\nsecond\n");
}

// The file a trace may be written to: never a link's target, a terminal,
// the image, or a FIFO that would block the open.
TEST(TraceFile, RefusesWhatItMustNotWrite) {
  dov::test::TempDir dir("dov-tracefile");
  const fs::path image = dir / "fw.bin";
  const fs::path victim = dir / "victim";
  std::ofstream(image) << "image";
  std::ofstream(victim) << "precious";
  fs::create_symlink(victim, dir / "link");
  fs::create_hard_link(image, dir / "same-image");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  int master = -1;
  int slave = -1;
  char tty[128];
  ASSERT_EQ(::openpty(&master, &slave, tty, nullptr, nullptr), 0);

  const std::vector<std::string> avoid{image.string()};
  const std::vector<std::pair<std::string, std::string>> cases{
      {(dir / "link").string(), "it is a symbolic link"},
      {image.string(), "which this run reads"},
      {(dir / "same-image").string(), "which this run reads"},
      {tty, "it is a serial port or terminal device"},
      {(dir / "fifo").string(), "it is a FIFO that no process reads"},
      {(dir / "missing" / "trace").string(), "No such file or directory"},
  };
  for (const auto& [path, reason] : cases) {
    std::string error;
    EXPECT_EQ(OpenTraceFile(path, avoid, error), -1) << path;
    EXPECT_EQ(error.rfind("cannot write " + path + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
  std::ifstream in(victim);
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "precious");
  EXPECT_EQ(fs::file_size(image), 5u);
  ::close(master);
  ::close(slave);
}

TEST(TraceFile, ATraceThatCouldNotBeWrittenSaysSo) {
  TUpdateTrace full;
  std::string error;
  ASSERT_TRUE(full.AddFile("/dev/full", error)) << error;
  full.Note("lost");
  EXPECT_EQ(full.Finish(5s), "trace incomplete: No space left on device");

  dov::test::TempDir dir("dov-tracefile");
  TUpdateTrace written;
  ASSERT_TRUE(written.AddFile((dir / "trace").string(), error)) << error;
  written.Note("kept");
  EXPECT_EQ(written.Finish(5s), "");
  EXPECT_GT(fs::file_size(dir / "trace"), 0u);
}

}  // namespace
}  // namespace dov::testing
