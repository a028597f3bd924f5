// Another program run beside this one, its standard output and error
// streams coming back through pipes: a gang run flashes each device in a
// process of its own, so that one device's failure or stall touches no
// other.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace dov::flash {

class TChildProcess {
 public:
  // Starts `program` with `args` (without the program's name). Throws
  // std::runtime_error when it cannot be started.
  TChildProcess(const std::filesystem::path& program,
                const std::vector<std::string>& args);
  // Waits for the child when Wait was not called.
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // The next line of the child's standard error stream, without its line
  // end; false once the stream has ended.
  bool ReadErrorLine(std::string& line);
  // The child's standard output up to its end.
  std::string ReadOutput();
  // Waits for the child's end: its exit code, or -1 when it was killed.
  int Wait();
  // How it ended, once Wait returned: "exit code 3", or "killed by
  // SIGKILL".
  std::string Ending() const;
  // Passes a request to stop on to the child (POSIX: the signal itself).
  // Once the child has ended, does nothing.
  void Signal(int signal);

 private:
  struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  using TFile = std::unique_ptr<std::FILE, TFileCloser>;

  TFile output_;
  TFile errors_;
  struct TProcess;
  std::unique_ptr<TProcess> process_;
};

}  // namespace dov::flash
