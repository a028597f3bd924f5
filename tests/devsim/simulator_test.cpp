// The simulator on a real pseudo-terminal, driven by a host written here:
// a small image and short minimums keep each run well under a second.
#include "simulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using devsim::BootState;
using devsim::EndReason;
using devsim::Report;

constexpr auto kBound = 5s;  // no wait in these tests lasts longer

// Waits until ready() holds or kBound passes.
template <typename F>
bool WaitFor(F ready) {
  const auto until = std::chrono::steady_clock::now() + kBound;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// The host's end: opens the port through the link, raw. Given a record file,
// it notes when it handed each write to the kernel and when the kernel
// returned, as the preload library does for the programs, so that pauses are
// judged by what the host did rather than by when a busy machine delivered.
class Host {
 public:
  explicit Host(const fs::path& link, fs::path record = {})
      : fd_(::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)),
        device_(fs::canonical(link)),
        record_(std::move(record)) {
    termios mode{};
    if (fd_ >= 0 && ::tcgetattr(fd_, &mode) == 0) {
      ::cfmakeraw(&mode);
      ::tcsetattr(fd_, TCSANOW, &mode);
    }
  }
  ~Host() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // A whole write, or -1 with errno.
  ssize_t Write(const void* data, std::size_t size) {
    const long long entry = MonotonicNs();
    const ssize_t written = ::write(fd_, data, size);
    if (!record_.empty() && written > 0) {
      std::ofstream(record_, std::ios::app)
          << device_.string() << ' ' << entry << ' ' << MonotonicNs() << ' '
          << written << '\n';
    }
    return written;
  }
  void Send(const std::vector<std::uint8_t>& image, std::size_t from,
            std::size_t size) {
    ASSERT_EQ(Write(image.data() + from, size), static_cast<ssize_t>(size));
  }

 private:
  static long long MonotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
  }

  int fd_;
  fs::path device_;
  fs::path record_;
};

void Sleep(double ms) {
  std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

class SimulatorTest : public testing::Test {
 protected:
  void SetUp() override {
    for (std::size_t i = 0; i < 3 * 128; ++i) {
      image_.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    }
    config_.port = 7;
    config_.dosdevices = dir_ / "dosdevices";
    config_.ready_file = dir_ / "ready";
    config_.image = image_;
    config_.minimums.after_boot_ms = 60;
    config_.minimums.before_write_ms = 8;
    config_.minimums.after_block_ms = 25;
    config_.settle_ms = 50;
    config_.timeout_ms = 5000;
  }

  fs::path Link() const { return config_.dosdevices / "com7"; }

  // Starts the simulator on its own thread and waits for its link.
  void Start() {
    simulator_ = std::make_unique<devsim::Simulator>(config_);
    run_ = std::async(std::launch::async, [this] { return simulator_->Run(); });
    ASSERT_TRUE(WaitFor([&] { return fs::exists(config_.ready_file); }));
  }
  Report Finish() {
    EXPECT_EQ(run_.wait_for(kBound), std::future_status::ready);
    return run_.get();
  }

  // Boot command, then the image in blocks of four writes with the given
  // pauses.
  void Flash(Host& host, double boot_pause, double write_pause,
             double block_pause) {
    ASSERT_EQ(host.Write("BootUp@", 7), 7);
    Sleep(boot_pause);
    for (std::size_t block = 0; block < image_.size() / 128; ++block) {
      for (std::size_t w = 0; w < 4; ++w) {
        Sleep(write_pause);
        host.Send(image_, block * 128 + w * 32, 32);
      }
      Sleep(block_pause);
    }
  }

  dov::test::TempDir dir_{"devsim-test"};
  std::vector<std::uint8_t> image_;
  devsim::SimulatorConfig config_;
  std::unique_ptr<devsim::Simulator> simulator_;
  std::future<Report> run_;
};

TEST_F(SimulatorTest, PacedUpdateArrivesIntactAndPasses) {
  config_.host_writes = dir_ / "host-writes";
  Start();
  EXPECT_EQ(fs::read_symlink(Link()), simulator_->SlavePath());
  {
    Host host(Link(), config_.host_writes);
    ASSERT_TRUE(host.ok());
    Flash(host, 120, 16, 50);
  }
  const Report report = Finish();
  EXPECT_EQ(report.boot, BootState::kReceived);
  EXPECT_EQ(report.end, EndReason::kComplete);
  EXPECT_EQ(report.bytes_received, image_.size());
  EXPECT_TRUE(report.intact);
  EXPECT_EQ(report.received_sha256, report.expected_sha256);
  EXPECT_EQ(report.analysis.writes.size(), 12u);
  ASSERT_TRUE(report.host.has_value());
  EXPECT_TRUE(report.host->Ok()) << devsim::FormatText(report);
  EXPECT_TRUE(report.analysis.below.empty()) << devsim::FormatText(report);
  EXPECT_TRUE(report.Passed());
  EXPECT_FALSE(fs::is_symlink(Link()));
  EXPECT_FALSE(fs::exists(config_.ready_file));
}

TEST_F(SimulatorTest, HurriedWritesAreListedBelowTheirMinimum) {
  Start();
  {
    Host host(Link());
    ASSERT_TRUE(host.ok());
    Flash(host, 120, 0, 50);
  }
  const Report report = Finish();
  EXPECT_TRUE(report.intact);
  EXPECT_FALSE(report.analysis.below.empty());
  EXPECT_FALSE(report.Passed());
  const std::string text = devsim::FormatText(report);
  EXPECT_NE(text.find("BELOW MINIMUM:"), std::string::npos) << text;
  EXPECT_NE(devsim::FormatJson(report).find("\"passed\": false"),
            std::string::npos);
}

TEST_F(SimulatorTest, VanishAfterUnplugsTheHostsPort) {
  config_.vanish_after = 64;
  Start();
  Host host(Link());
  ASSERT_TRUE(host.ok());
  ASSERT_EQ(host.Write("BootUp@", 7), 7);
  ASSERT_EQ(host.Write(image_.data(), 64), 64);
  const Report report = Finish();
  EXPECT_EQ(report.end, EndReason::kVanished);
  EXPECT_EQ(report.bytes_received, 64u);
  EXPECT_FALSE(report.intact);
  EXPECT_FALSE(fs::is_symlink(Link()));
  errno = 0;
  EXPECT_EQ(host.Write(image_.data(), 32), -1);
  EXPECT_EQ(errno, EIO);
}

TEST_F(SimulatorTest, StopReadingLeavesTheHostNoRoomToWrite) {
  config_.stop_reading = true;
  Start();
  Host host(Link());
  ASSERT_TRUE(host.ok());
  ASSERT_EQ(host.Write("BootUp@", 7), 7);
  ASSERT_TRUE(WaitFor([&] {
    pollfd writable{host.fd(), POLLOUT, 0};
    return ::poll(&writable, 1, 0) == 0;
  }));
  simulator_->Stop();
  const Report report = Finish();
  EXPECT_EQ(report.boot, BootState::kReceived);
  EXPECT_EQ(report.end, EndReason::kSignal);
  EXPECT_EQ(report.bytes_received, 0u);
}

TEST_F(SimulatorTest, ChatterReachesTheHost) {
  config_.chatter = true;
  config_.chatter_period_ms = 5;
  Start();
  Host host(Link());
  ASSERT_TRUE(host.ok());
  std::string heard;
  ASSERT_TRUE(WaitFor([&] {
    char buffer[64];
    pollfd readable{host.fd(), POLLIN, 0};
    if (::poll(&readable, 1, 0) == 1) {
      const ssize_t n = ::read(host.fd(), buffer, sizeof buffer);
      if (n > 0) heard.append(buffer, static_cast<std::size_t>(n));
    }
    return heard.find("chatter\r\n") != std::string::npos;
  }));
  simulator_->Stop();
  EXPECT_GT(Finish().chatter_bytes_sent, 0u);
}

TEST_F(SimulatorTest, ChatterLeftUnreadIsReported) {
  config_.chatter = true;
  config_.chatter_period_ms = 5;
  Start();
  Host host(Link());
  ASSERT_TRUE(host.ok());
  ASSERT_EQ(host.Write("BootUp@", 7), 7);
  Sleep(100);  // the host reads nothing meanwhile
  host.Send(image_, 0, image_.size());
  const Report report = Finish();
  EXPECT_GE(report.chatter_sent_in_update, 2 * 9u);
  EXPECT_GE(report.chatter_unread_at_image_end, report.chatter_sent_in_update);
  EXPECT_NE(devsim::FormatJson(report).find(
                "\"chatter_unread_at_image_end\": " +
                std::to_string(report.chatter_unread_at_image_end)),
            std::string::npos);
}

// A timeout of months is more milliseconds than one wait of poll can take:
// the simulator waits in pieces and still stops when told.
TEST_F(SimulatorTest, ATimeoutBeyondOneWaitStillStops) {
  config_.timeout_ms = 1e10;
  Start();
  simulator_->Stop();
  const Report report = Finish();
  EXPECT_EQ(report.end, EndReason::kSignal);
}

TEST_F(SimulatorTest, RefusedBootRecordsNothing) {
  config_.refuse_boot = true;
  config_.timeout_ms = 300;
  Start();
  Host host(Link());
  ASSERT_TRUE(host.ok());
  ASSERT_EQ(host.Write("xxBootUp@", 9), 9);
  ASSERT_EQ(host.Write(image_.data(), 32), 32);
  const Report report = Finish();
  EXPECT_EQ(report.boot, BootState::kRefused);
  EXPECT_EQ(report.end, EndReason::kTimeout);
  EXPECT_EQ(report.bytes_received, 0u);
  EXPECT_NE(devsim::FormatText(report).find("refused"), std::string::npos);
}

TEST_F(SimulatorTest, LinkAppearsOnlyAfterTheDelay) {
  config_.appear_after_ms = 150;
  simulator_ = std::make_unique<devsim::Simulator>(config_);
  const auto start = std::chrono::steady_clock::now();
  run_ = std::async(std::launch::async, [this] { return simulator_->Run(); });
  ASSERT_TRUE(WaitFor([&] { return fs::is_symlink(Link()); }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_TRUE(WaitFor([&] { return fs::exists(config_.ready_file); }));
  simulator_->Stop();
  EXPECT_EQ(Finish().boot, BootState::kNone);
}

// A comN link that is not ours stays, unless forced; a dangling link into
// /dev/pts is a leftover and is replaced.
TEST_F(SimulatorTest, ExistingLinksAreRespected) {
  fs::create_directories(config_.dosdevices);
  fs::create_symlink("/dev/ttyUSB0", Link());
  {
    devsim::Simulator simulator(config_);
    EXPECT_THROW(simulator.Run(), std::runtime_error);
    EXPECT_EQ(fs::read_symlink(Link()), "/dev/ttyUSB0");
  }
  const auto runs_with_own_link = [&] {
    Start();
    EXPECT_EQ(fs::read_symlink(Link()), simulator_->SlavePath());
    simulator_->Stop();
    Finish();
    EXPECT_FALSE(fs::is_symlink(Link()));
  };
  config_.force = true;
  runs_with_own_link();

  config_.force = false;
  fs::create_symlink("/dev/pts/999999", Link());
  runs_with_own_link();
}

// What stands at the simulator's paths and is not its own outlives it: a
// file at comN is never replaced, not even with --force, and a ready file
// that was there before is neither replaced nor removed at the end.
TEST_F(SimulatorTest, FilesItDidNotMakeAreLeftAlone) {
  fs::create_directories(config_.dosdevices);
  std::ofstream(Link()) << "user data";
  config_.force = true;
  {
    devsim::Simulator simulator(config_);
    EXPECT_THROW(simulator.Run(), std::runtime_error);
  }
  const auto firstLine = [](const fs::path& path) {
    std::string line;
    std::getline(std::ifstream(path), line);
    return line;
  };
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Link())));
  EXPECT_EQ(firstLine(Link()), "user data");

  fs::remove(Link());
  std::ofstream(config_.ready_file) << "their file";
  Start();
  ASSERT_TRUE(WaitFor([&] { return fs::is_symlink(Link()); }));
  simulator_->Stop();
  Finish();
  EXPECT_FALSE(fs::is_symlink(Link()));
  EXPECT_EQ(firstLine(config_.ready_file), "their file");
}

// The link's path goes into the report as it is, and a path may hold any
// bytes: the report stays valid UTF-8 JSON.
TEST(SimulatorReport, JsonIsValidWhateverTheLinkIsCalled) {
  Report report;
  report.link = "/tmp/\xFF\xC3(/dosdevices/com3";
  const std::string json = devsim::FormatJson(report);
  ASSERT_TRUE(nlohmann::json::accept(json)) << json;
  EXPECT_EQ(nlohmann::json::parse(json)["link"],
            "/tmp/\xEF\xBF\xBD\xEF\xBF\xBD(/dosdevices/com3");
}

// A simulator killed outright leaves its link and its process id behind.
// The terminal's number may serve someone else by now: whether the link is
// stale is told by its simulator, not by its terminal.
TEST_F(SimulatorTest, ALinkIsStaleWhenItsSimulatorIsGone) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  devsim::PseudoTerminal reused;  // a live terminal behind the old number
  const fs::path pid_file = config_.dosdevices / "com7.pid";

  const struct {
    const char* name;
    pid_t owner;
    bool replaced;
  } cases[] = {
      {"its simulator is gone", gone, true},
      {"its simulator still runs", ::getpid(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(config_.dosdevices);
    fs::create_symlink(reused.SlavePath(), Link());
    std::ofstream(pid_file) << c.owner << '\n';
    if (c.replaced) {
      Start();
      EXPECT_EQ(fs::read_symlink(Link()), simulator_->SlavePath());
      pid_t written = 0;
      std::ifstream(pid_file) >> written;
      EXPECT_EQ(written, ::getpid());
      simulator_->Stop();
      Finish();
      EXPECT_FALSE(fs::exists(Link()));
      EXPECT_FALSE(fs::exists(pid_file));
    } else {
      devsim::Simulator simulator(config_);
      try {
        simulator.Run();
        ADD_FAILURE() << "the link was taken";
      } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("still running"),
                  std::string::npos)
            << error.what();
      }
      EXPECT_EQ(fs::read_symlink(Link()), reused.SlavePath());
      fs::remove(Link());
      fs::remove(pid_file);
    }
  }
}

}  // namespace
