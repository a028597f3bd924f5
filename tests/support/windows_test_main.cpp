// The test programs' entry on Windows: runs the tests, then ends the
// process at once with their result. Under Wine a program that has done
// all its work can stay in its exit path (library detach, thread teardown)
// for good on a busy machine, after the results are already printed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}
