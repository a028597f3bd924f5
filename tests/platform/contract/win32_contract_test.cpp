// The Win32 calls themselves keep the contract, on the port numbered by
// DOV_CONTRACT_PORT: under Wine, a pseudo-terminal that run_contract.py maps
// as that COM port and whose far end neither reads nor writes.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/contract/comm_contract.h"

namespace cport::comm::contract {
namespace {

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class Win32Bench : public Bench {
 public:
  explicit Win32Bench(const char* port) : port_(port) {}
  CommApi& Api() override { return PlatformApi(); }
  std::u16string PortName() override {
    const std::string name = "\\\\.\\COM" + port_;
    return std::u16string(name.begin(), name.end());
  }
  void StallOutput(Handle) override {}
  void LetTimeoutsExpire(Handle) override {}
  bool IsWine() const override { return RunningUnderWine(); }

 private:
  std::string port_;
};

class Win32Contract : public ::testing::TestWithParam<Case> {};

TEST_P(Win32Contract, Holds) {
  const char* port = std::getenv("DOV_CONTRACT_PORT");
  if (port == nullptr || *port == '\0') {
    GTEST_SKIP() << "No port to test: DOV_CONTRACT_PORT names none (the "
                    "windows preset runs this through run_contract.py).";
  }
  Win32Bench bench(port);
  RunCase(bench, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Win32, Win32Contract, ::testing::ValuesIn(Cases()),
                         CaseName);

}  // namespace
}  // namespace cport::comm::contract
