// How a gang's device process ended, in words a user can act on: its exit
// code, or the signal that killed it (never "exit code -1"); and a request
// to stop passed on to it.
#include "child_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>

namespace dov::flash {
namespace {

TEST(ChildProcess, SaysHowItEnded) {
  const struct {
    const char* script;
    const char* ending;
  } cases[] = {
      {"exit 0", "exit code 0"},
      {"exit 3", "exit code 3"},
      {"kill -KILL $$", "killed by SIGKILL"},
      {"kill -SEGV $$", "killed by SIGSEGV"},
  };
  for (const auto& c : cases) {
    TChildProcess child("/bin/sh", {"-c", c.script});
    child.Wait();
    EXPECT_EQ(child.Ending(), c.ending) << c.script;
  }
}

TEST(ChildProcess, PassesARequestToStopOn) {
  // The child says it is ready only once its handler is in place.
  TChildProcess child("/bin/sh", {"-c",
                                  "trap 'exit 143' TERM; echo ready >&2; "
                                  "while :; do sleep 0.05; done"});
  std::string line;
  ASSERT_TRUE(child.ReadErrorLine(line));
  EXPECT_EQ(line, "ready");
  child.Signal(SIGTERM);
  EXPECT_EQ(child.Wait(), 143);
  child.Signal(SIGTERM);  // ended: nothing is sent
}

}  // namespace
}  // namespace dov::flash
