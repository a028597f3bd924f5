// The POSIX backend keeps the contract on a pseudo-terminal whose far end
// neither reads nor writes.
#include "platform/contract/comm_contract.h"
#include "platform/pty_fixture.h"

namespace cport::comm::contract {
namespace {

class PtyBench : public Bench {
 public:
  PtyBench() { prefix_.Map(7, pty_.SlavePath()); }
  bool Ok() const { return pty_.Ok(); }
  CommApi& Api() override { return PlatformApi(); }
  std::u16string PortName() override { return test::ComName(7); }
  void StallOutput(Handle) override {}
  void LetTimeoutsExpire(Handle) override {}

 private:
  test::PtyPair pty_;
  test::TempPrefix prefix_;
};

class PosixContract : public ::testing::TestWithParam<Case> {};

TEST_P(PosixContract, Holds) {
  PtyBench bench;
  ASSERT_TRUE(bench.Ok()) << "no pseudo-terminal";
  RunCase(bench, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Posix, PosixContract, ::testing::ValuesIn(Cases()),
                         CaseName);

}  // namespace
}  // namespace cport::comm::contract
