// Starting the device console tool: its arguments arrive as written (no
// shell), nothing is waited for, and a missing tool goes unnoticed.
#include "updater/device_console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace dov {
namespace {

namespace fs = std::filesystem;

class DeviceConsoleTest : public ::testing::Test {
 protected:
  DeviceConsoleTest() {
    dir = fs::temp_directory_path() /
          ("dov-devcon-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  ~DeviceConsoleTest() override { fs::remove_all(dir); }

  // A stand-in tool that writes its arguments, one a line, to `args`, after
  // saying something on its output.
  void InstallTool() {
    const fs::path tool = dir / "devcon";
    std::ofstream(tool) << "#!/bin/sh\necho noise\nprintf '%s\\n' \"$@\" > "
                        << (dir / "args.tmp") << "\nmv " << (dir / "args.tmp")
                        << " " << (dir / "args") << "\n";
    fs::permissions(tool, fs::perms::owner_all);
  }

  std::string WaitForArgs() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(dir / "args") &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ostringstream text;
    text << std::ifstream(dir / "args").rdbuf();
    return text.str();
  }

  fs::path dir;
};

TEST_F(DeviceConsoleTest, StartsTheToolWithTheVerbAndTheLiteralPattern) {
  InstallTool();
  // A file the pattern would match, were a shell to expand it.
  std::ofstream(dir / "x_vid_1fc9_x");
  const fs::path cwd = fs::current_path();
  fs::current_path(dir);
  // Our output goes to a file while the tool runs: it must stay empty.
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  const int out = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT, 0600);
  ::dup2(out, STDOUT_FILENO);
  TDeviceConsole(dir).Start(kDisableDevice);
  const std::string args = WaitForArgs();
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(out);
  fs::current_path(cwd);
  EXPECT_EQ(args, "disable\n*vid_1fc9*\n");
  EXPECT_EQ(fs::file_size(dir / "out"), 0u);
  // Not a child of ours: nothing is left for us to wait for.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(DeviceConsoleTest, MissingToolGoesUnnoticed) {
  TDeviceConsole console(dir);
  EXPECT_EQ(console.Tool(), dir / "devcon");
  EXPECT_NO_THROW(console.Start(kEnableDevice));
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

}  // namespace
}  // namespace dov
