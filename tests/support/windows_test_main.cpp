// The test programs' entry on Windows: runs the tests, then ends the
// process at once with their result. Under Wine a program that has done
// all its work can stay in its exit path (library detach, thread teardown)
// for good on a busy machine, after the results are already printed.
//
// Standard output is unbuffered: should the process be ended from outside
// or crash, what it printed up to then (the test that was running) is not
// lost in a buffer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  ::testing::InitGoogleMock(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}
