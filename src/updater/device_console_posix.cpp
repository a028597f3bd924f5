#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "cport/fw/text.h"
#include "updater/device_console.h"

extern char** environ;

namespace dov {

std::filesystem::path ExecutableDirectory() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : self.parent_path();
}

TDeviceConsole::TDeviceConsole() : TDeviceConsole(ExecutableDirectory()) {}

TDeviceConsole::TDeviceConsole(std::filesystem::path directory)
    : tool_(std::move(directory) / "devcon") {}

void TDeviceConsole::Start(const std::u16string& parameters) {
  // Everything the child needs is made before forking.
  const std::string program = tool_.string();
  // The tool runs without a shell, so the pattern reaches it as written.
  std::vector<std::string> arguments = ToolArguments(parameters);
  arguments.insert(arguments.begin(), program);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  // Hidden: no terminal in, no terminal out.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(
        &actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }

  // Not waited for: a short-lived intermediate process starts the tool and
  // ends at once, so the tool belongs to init, which reaps it. Only the
  // intermediate process is waited for, and it lives for the spawn alone.
  const pid_t intermediate = fork();
  if (intermediate == 0) {
    pid_t tool = 0;
    posix_spawn(&tool, argv[0], &actions, nullptr, argv.data(), environ);
    _exit(0);
  }
  if (intermediate > 0) {
    while (waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace dov
