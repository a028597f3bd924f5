#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "child_process.h"

extern char** environ;

namespace dov::flash {

struct TChildProcess::TProcess {
  pid_t pid = -1;
  // Signal and Wait may be called from different threads: a process that
  // was reaped is never signalled, as its number may be another's by then.
  std::mutex reaping;
  bool waited = false;
  int status = 0;
};

namespace {

// A pipe whose ends close on exec; the child gets its end through dup2.
void MakePipe(int (&ends)[2]) {
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("cannot make a pipe: ") +
                             std::strerror(errno));
  }
}

}  // namespace

TChildProcess::TChildProcess(const std::filesystem::path& program,
                             const std::vector<std::string>& args)
    : process_(std::make_unique<TProcess>()) {
  int out[2];
  int err[2];
  MakePipe(out);
  MakePipe(err);
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  const int failed = posix_spawn(&process_->pid, argv[0], &actions, nullptr,
                                 argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  output_.reset(::fdopen(out[0], "r"));
  errors_.reset(::fdopen(err[0], "r"));
  if (failed != 0) {
    process_->waited = true;
    throw std::runtime_error("cannot start " + program.string() + ": " +
                             std::strerror(failed));
  }
}

TChildProcess::~TChildProcess() { Wait(); }

int TChildProcess::Wait() {
  if (!process_->waited) {
    // Waited for without reaping, so that Signal can still reach it.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(process_->pid), &info,
                    WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    std::lock_guard lock(process_->reaping);
    while (::waitpid(process_->pid, &process_->status, 0) < 0 &&
           errno == EINTR) {
    }
    process_->waited = true;
  }
  return WIFEXITED(process_->status) ? WEXITSTATUS(process_->status) : -1;
}

std::string TChildProcess::Ending() const {
  if (WIFSIGNALED(process_->status)) {
    const char* name = ::sigabbrev_np(WTERMSIG(process_->status));
    return name != nullptr ? std::string("killed by SIG") + name
                           : "killed by signal " +
                                 std::to_string(WTERMSIG(process_->status));
  }
  return "exit code " + std::to_string(WEXITSTATUS(process_->status));
}

void TChildProcess::Signal(int signal) {
  std::lock_guard lock(process_->reaping);
  if (!process_->waited) ::kill(process_->pid, signal);
}

}  // namespace dov::flash
