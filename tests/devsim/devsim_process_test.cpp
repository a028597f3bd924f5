// dov-devsim as users run it: a separate process that makes its link, waits
// for a host, and reports when its timeout passes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

// dov-devsim on COM3 in a prefix of its own, with `options`, its report in
// report.json there and its standard output in a file (or, with `closed`,
// descriptors 0, 1 and 2 all closed).
class Devsim {
 public:
  explicit Devsim(std::vector<std::string> options = {"--timeout", "20"},
                  bool closed = false) {
    const std::string prefix = "WINEPREFIX=" + dir_.Path().string();
    std::vector<char*> env{const_cast<char*>(prefix.c_str())};
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("WINEPREFIX=", 0) != 0) env.push_back(*e);
    }
    env.push_back(nullptr);
    std::vector<std::string> args = {DOV_DEVSIM_PATH, "--ready-file",
                                     Ready().string(), "--report",
                                     (dir_ / "report.json").string()};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = Output().string();
    if (closed) {
      for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addclose(&actions, fd);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn(&pid_, DOV_DEVSIM_PATH, &actions, nullptr, argv.data(),
                env.data());
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Devsim() {
    if (Wait(0s) == -1) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  fs::path Dir() const { return dir_.Path(); }
  fs::path Ready() const { return dir_ / "ready"; }
  fs::path Output() const { return dir_ / "out.txt"; }
  fs::path Link() const { return dir_ / "dosdevices" / "com3"; }
  pid_t Pid() const { return pid_; }
  bool WaitReady() const {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!fs::exists(Ready())) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
  // The exit code, or -1 while it runs after `bound`.
  int Wait(std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= until) return -1;
      std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  dov::test::TempDir dir_{"devsim-proc"};
  pid_t pid_ = -1;
};

TEST(DevsimProcess, LinksThePortAndReportsNoBootOnTimeout) {
  Devsim devsim({"--timeout", "1.5"});
  ASSERT_TRUE(devsim.WaitReady());
  // The link is there while it runs.
  ASSERT_TRUE(fs::is_symlink(devsim.Link()));
  EXPECT_EQ(fs::read_symlink(devsim.Link()).string().rfind("/dev/pts/", 0), 0u);

  // It ends by itself; killed only if it overstays its timeout.
  ASSERT_EQ(devsim.Wait(10s), 1) << "did not end on its timeout";
  const std::string text = ReadFile(devsim.Output());
  EXPECT_NE(text.find("no BootUp@"), std::string::npos) << text;
  EXPECT_NE(text.find("ended:            timeout"), std::string::npos);
  EXPECT_NE(ReadFile(devsim.Dir() / "report.json").find("\"boot\": \"none\""),
            std::string::npos);
  EXPECT_FALSE(fs::is_symlink(devsim.Link()));
  EXPECT_FALSE(fs::exists(devsim.Ready()));
}

// Whatever signal ends it, short of SIGKILL, the link and the process id
// beside it go with it.
TEST(DevsimProcess, RemovesItsLinkOnEverySignalThatCanBeCaught) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal);
    Devsim devsim;
    ASSERT_TRUE(devsim.WaitReady());
    ASSERT_TRUE(fs::is_symlink(devsim.Link()));
    EXPECT_TRUE(fs::exists(devsim.Link().string() + ".pid"));
    ::kill(devsim.Pid(), signal);
    EXPECT_EQ(devsim.Wait(5s), 1);  // ended early: no image
    EXPECT_FALSE(fs::is_symlink(devsim.Link()));
    EXPECT_FALSE(fs::exists(devsim.Link().string() + ".pid"));
  }
}

// Started with its standard streams closed, it gives none of their numbers
// to its terminal: its report would go to the host otherwise.
TEST(DevsimProcess, ClosedStandardStreamsAreTheNullDevice) {
  Devsim devsim({"--timeout", "20"}, /*closed=*/true);
  ASSERT_TRUE(devsim.WaitReady());
  for (int fd = 0; fd <= 2; ++fd) {
    SCOPED_TRACE(fd);
    const fs::path entry =
        "/proc/" + std::to_string(devsim.Pid()) + "/fd/" + std::to_string(fd);
    EXPECT_EQ(fs::read_symlink(entry), "/dev/null");
  }
}

}  // namespace
