// A port on the fake comm API, and a log that notifications write into.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cport/comm/fake/fake_comm.h"
#include "cport/comport.h"

namespace cport::testing {

class PortTest : public ::testing::Test {
 protected:
  PortTest() { port.SetEvents({}); }

  // Opens the port and forgets the calls made so far.
  void OpenPort() {
    port.Open();
    fake.ClearCalls();
  }

  // Runs `body`, expecting EComPort with `code`; returns it.
  template <class Body>
  EComPort Raised(Body body) {
    try {
      body();
    } catch (const EComPort& e) {
      return e;
    }
    ADD_FAILURE() << "no EComPort raised";
    return EComPort(0);
  }

  // Declared before the port: its handlers may still write on destruction.
  std::vector<std::string> log;
  cport::comm::FakeComm fake;
  cport::comm::ScopedApi scope{fake};
  TComPort port{nullptr};
};

// Polls `done` until it holds or 10 s have passed; whether it held.
template <class Pred>
bool WaitUntil(Pred done) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

inline std::string Text(const cport::fw::Exception& e) { return e.what(); }

}  // namespace cport::testing
