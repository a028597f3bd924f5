#include "e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Polls `done` every few milliseconds until it holds or `timeout` passes.
template <typename F>
bool WaitFor(F done, milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

}  // namespace

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

Process::Process(const std::string& program,
                 const std::vector<std::string>& args, const fs::path& prefix,
                 const fs::path& output, bool preloaded)
    : stdout_(output.string() + ".out"), stderr_(output.string() + ".err") {
  std::vector<std::string> strings{program};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  std::string wineprefix = "WINEPREFIX=" + prefix.string();
  std::vector<char*> env{wineprefix.data()};
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("WINEPREFIX=")) continue;
    if (!preloaded && entry.starts_with("LD_PRELOAD=")) continue;
    env.push_back(*e);
  }
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdout_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr,
                                argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + program);
}

Process::~Process() {
  if (Running()) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

bool Process::Running() {
  if (status_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
  status_ = status;
  return false;
}

bool Process::Ended(milliseconds timeout) {
  return WaitFor([this] { return !Running(); }, timeout);
}

std::optional<int> Process::Wait(milliseconds timeout) {
  if (!Ended(timeout)) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = status;
    return std::nullopt;
  }
  if (!WIFEXITED(*status_)) return std::nullopt;
  return WEXITSTATUS(*status_);
}

void Process::Interrupt() { Signal(SIGINT); }

void Process::Signal(int signal) {
  if (Running()) ::kill(pid_, signal);
}

const char* HostWriteRecord() { return std::getenv("DOV_WRITE_LOG"); }

Simulator::Simulator(const TempPrefix& prefix, int port,
                     const std::vector<std::string>& options)
    : ready_(prefix.Path() / ("devsim" + std::to_string(port) + ".ready")),
      report_(prefix.Path() / ("devsim" + std::to_string(port) + ".json")),
      link_(prefix.DosDevices() / ("com" + std::to_string(port))),
      process_(
          DOV_DEVSIM,
          [&] {
            std::vector<std::string> args{"--port",       std::to_string(port),
                                          "--ready-file", ready_.string(),
                                          "--report",     report_.string(),
                                          "--timeout",    "120"};
            if (HostWriteRecord()) {
              args.insert(args.end(), {"--host-writes", HostWriteRecord()});
            }
            args.insert(args.end(), options.begin(), options.end());
            return args;
          }(),
          prefix.Path(), prefix.Path() / ("devsim" + std::to_string(port)),
          false) {}

bool Simulator::WaitReady(milliseconds timeout) {
  return WaitFor([this] { return fs::exists(ready_); }, timeout);
}

std::string Simulator::Report(milliseconds timeout) {
  if (!process_.Ended(timeout)) {
    // Overstayed: ask for the report, but bounded as well.
    process_.Interrupt();
    process_.Wait(milliseconds(5000));
  }
  return ReadFile(report_);
}

std::string Simulator::Node() const {
  std::error_code error;
  return fs::read_symlink(link_, error).string();
}

std::string JsonField(const std::string& json, const std::string& name) {
  const std::string key = "\n  \"" + name + "\": ";
  const std::size_t at = json.find(key);
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size();
  std::size_t to = json.find('\n', from);
  if (to == std::string::npos) to = json.size();
  std::string value = json.substr(from, to - from);
  if (value.ends_with(",")) value.pop_back();
  return value;
}

std::string JsonList(const std::string& json, const std::string& name) {
  const std::string key = "\n  \"" + name + "\": [";
  const std::size_t at = json.find(key);
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size() - 1;
  const std::size_t to = json.find(']', from);
  return to == std::string::npos ? "" : json.substr(from, to + 1 - from);
}

}  // namespace e2e
