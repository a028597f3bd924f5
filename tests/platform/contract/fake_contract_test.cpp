// The recording fake keeps the contract of the real backends.
#include "cport/comm/fake/fake_comm.h"
#include "platform/contract/comm_contract.h"

namespace cport::comm::contract {
namespace {

class FakeBench : public Bench {
 public:
  // The fake has every COM port unless told otherwise.
  FakeBench() { fake_.SetDeviceExists(u"\\\\.\\COM999", false); }
  CommApi& Api() override { return fake_; }
  std::u16string PortName() override { return u"\\\\.\\COM5"; }
  void StallOutput(Handle port) override {
    fake_.SetWriteMode(FakeComm::WriteMode::kPending, 0, port);
  }
  void LetTimeoutsExpire(Handle port) override { fake_.ExpireTimeouts(port); }

 private:
  FakeComm fake_;
};

class FakeContract : public ::testing::TestWithParam<Case> {};

TEST_P(FakeContract, Holds) {
  FakeBench bench;
  RunCase(bench, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Fake, FakeContract, ::testing::ValuesIn(Cases()),
                         CaseName);

}  // namespace
}  // namespace cport::comm::contract
