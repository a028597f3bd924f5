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
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(DevsimProcess, LinksThePortAndReportsNoBootOnTimeout) {
  char tmpl[] = "/tmp/devsim-proc-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  const fs::path link = dir / "dosdevices" / "com3";
  const fs::path ready = dir / "ready";
  const fs::path out = dir / "out.txt";
  const fs::path json = dir / "report.json";

  const std::string prefix = "WINEPREFIX=" + dir.string();
  std::vector<char*> env{const_cast<char*>(prefix.c_str())};
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("WINEPREFIX=", 0) != 0) env.push_back(*e);
  }
  env.push_back(nullptr);
  const std::vector<std::string> args = {
      DOV_DEVSIM_PATH, "--timeout", "1.5",        "--ready-file",
      ready.string(),  "--report",  json.string()};
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, DOV_DEVSIM_PATH, &actions, nullptr, argv.data(),
                        env.data()),
            0);
  posix_spawn_file_actions_destroy(&actions);

  // The link is there while it runs.
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!fs::exists(ready) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(fs::exists(ready));
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link).string().rfind("/dev/pts/", 0), 0u);

  // It ends by itself; killed only if it overstays its timeout.
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < until + 5s) {
    std::this_thread::sleep_for(10ms);
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    FAIL() << "dov-devsim did not end on its timeout";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string text = ReadFile(out);
  EXPECT_NE(text.find("no BootUp@"), std::string::npos) << text;
  EXPECT_NE(text.find("ended:            timeout"), std::string::npos);
  EXPECT_NE(ReadFile(json).find("\"boot\": \"none\""), std::string::npos);
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_FALSE(fs::exists(ready));
  fs::remove_all(dir);
}

}  // namespace
