// What every comm backend promises, as one table of cases run against each
// of them: the recording fake, the POSIX backend on a pseudo-terminal and the
// Win32 calls themselves (under Wine here). A case opens the port it is
// given, drives it through the comm API alone and checks the Win32 outcome.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "cport/comm/comm_api.h"

namespace cport::comm::contract {

// A backend with one port to open, whose far end never takes what is
// written and never sends.
class Bench {
 public:
  virtual ~Bench() = default;
  virtual CommApi& Api() = 0;
  virtual std::u16string PortName() = 0;
  // Makes the port's writes stay pending: a real line fills up by itself
  // with a large write, the fake has to be told.
  virtual void StallOutput(Handle port) = 0;
  // Lets the total timeouts in force end what is pending: real time passes
  // on a real line, the fake is told that it has.
  virtual void LetTimeoutsExpire(Handle port) = 0;
  // Wine's own behaviour stands in for Windows here.
  virtual bool IsWine() const { return false; }
};

struct Case {
  const char* name;
  void (*run)(Bench& bench);
  // Where Wine's behaviour differs from Windows: why the case cannot run
  // there. Null where Wine behaves as Windows.
  const char* wineDiffers = nullptr;
};

const std::vector<Case>& Cases();
void PrintTo(const Case& c, std::ostream* out);

// Runs `c` on `bench`, or skips it with its reason under Wine.
void RunCase(Bench& bench, const Case& c);

// The case names, for test names.
std::string CaseName(const ::testing::TestParamInfo<Case>& info);

}  // namespace cport::comm::contract
