// The pacing verdict from the host's own record of its writes: how write()
// calls are grouped into the protocol's writes, that every pause must be
// strictly above its minimum, and how the record explains a short gap seen
// at the device.
#include "host_writes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using devsim::AnalyseHostWrites;
using devsim::HostWrite;
using devsim::Minimums;

constexpr std::size_t kBoot = 7;
constexpr std::size_t kImage = 2 * 128;  // two blocks keep the cases short

// The write() calls of a host: each call takes 0.1 ms in the kernel.
class Record {
 public:
  Record& Pause(double ms) {
    time_ += ms;
    return *this;
  }
  Record& Write(std::size_t n) {
    writes_.push_back({time_, time_ + 0.1, n});
    time_ += 0.1;
    return *this;
  }
  // The boot command and `blocks` blocks, every pause `over` above its
  // minimum.
  Record& Update(std::size_t blocks, double over) {
    Write(kBoot).Pause(2000 + over);
    for (std::size_t b = 0; b < blocks; ++b) {
      for (int w = 0; w < 4; ++w) Write(32).Pause(w < 3 ? 10 + over : 0);
      Pause(100 + over);
    }
    return *this;
  }
  std::vector<HostWrite> writes() const { return writes_; }

 private:
  double time_ = 0;
  std::vector<HostWrite> writes_;
};

struct Case {
  std::string name;
  std::vector<HostWrite> writes;
  bool ok;
  std::size_t below;
  std::size_t merged;
  bool complete;
};

class HostWritesTest : public testing::TestWithParam<Case> {};

TEST_P(HostWritesTest, Verdict) {
  const Case& c = GetParam();
  const auto pacing = AnalyseHostWrites(c.writes, Minimums{}, kBoot, kImage);
  EXPECT_EQ(pacing.Ok(), c.ok);
  EXPECT_EQ(pacing.below.size(), c.below);
  EXPECT_EQ(pacing.merged.size(), c.merged);
  EXPECT_EQ(pacing.complete, c.complete);
}

TEST(HostWrites, TotalRunsFromTheBootCommandToTheLastWrite) {
  // Two blocks, pauses 1 ms over their minimums: 2001, six of 11 and one of
  // 101, and the kernel's 0.1 ms for each of the 7 image writes before the
  // last.
  const auto pacing = AnalyseHostWrites(Record().Update(2, 1).writes(),
                                        Minimums{}, kBoot, kImage);
  EXPECT_NEAR(pacing.total_ms, 2001 + 6 * 11 + 101 + 7 * 0.1, 1e-6);
}

// The kernel took the first image write in two calls, 5 ms apart.
std::vector<HostWrite> WithSplitWrite() {
  Record record;
  record.Write(kBoot).Pause(2000.01).Write(20).Pause(5).Write(12);
  for (int w = 1; w < 8; ++w)
    record.Pause(w % 4 == 0 ? 100.01 : 10.01).Write(32);
  return record.writes();
}

INSTANTIATE_TEST_SUITE_P(
    Records, HostWritesTest,
    testing::Values(Case{"PacedAMicrosecondAbove",
                         Record().Update(2, 0.001).writes(), true, 0, 0, true},
                    Case{"PauseOfExactlyItsMinimum",
                         Record().Update(2, 0).writes(), false, 8, 0, true},
                    Case{"SplitWriteIsOneWrite", WithSplitWrite(), true, 0, 0,
                         true},
                    Case{"TwoWritesInOneCall",
                         Record().Write(kBoot).Pause(2001).Write(64).writes(),
                         false, 0, 1, false},
                    Case{"UpdateCutShort", Record().Update(1, 1).writes(),
                         false, 0, 0, false},
                    Case{"NoRecord", {}, false, 0, 0, false}),
    [](const testing::TestParamInfo<Case>& param) { return param.param.name; });

TEST(HostWrites, ExplainsAShortGapAtTheDeviceOnlyWhenTheHostKeptThePause) {
  const auto host = AnalyseHostWrites(Record().Update(2, 0.5).writes(),
                                      Minimums{}, kBoot, kImage);
  ASSERT_TRUE(host.Ok());
  devsim::Analysis device;
  device.below = {{2, devsim::GapKind::kBeforeWrite, 7.9, 10}};
  devsim::ExplainWithHostRecord(device, host);
  EXPECT_TRUE(device.below.empty());
  ASSERT_EQ(device.late_deliveries.size(), 1u);

  const auto hurried = AnalyseHostWrites(Record().Update(2, 0).writes(),
                                         Minimums{}, kBoot, kImage);
  devsim::Analysis seen;
  seen.below = {{2, devsim::GapKind::kBeforeWrite, 7.9, 10}};
  devsim::ExplainWithHostRecord(seen, hurried);
  EXPECT_EQ(seen.below.size(), 1u);
  EXPECT_TRUE(seen.late_deliveries.empty());
}

TEST(HostWrites, ReadsOnlyTheDevicesWellFormedWritesSinceTheStart) {
  const auto file = std::filesystem::path(testing::TempDir()) / "host-writes";
  std::ofstream(file) << "/dev/pts/9 1000000 1100000 7\n"  // before
                      << "/dev/pts/4 3000000 3200000 7\n"  // other device
                      << "garbage\n"
                      << "/dev/pts/9 2500000 2600000 32\n"
                      // No write returns before it began, and none moves
                      // more than the kernel's limit for one call; the
                      // first once overflowed the time arithmetic.
                      << "/dev/pts/9 2700000 -9223372036854775808 32\n"
                      << "/dev/pts/9 2700000 2600000 32\n"
                      << "/dev/pts/9 2700000 2800000 2147479553\n";
  const auto writes = devsim::ReadHostWrites(file, "/dev/pts/9", 2000000);
  ASSERT_TRUE(writes);
  ASSERT_EQ(writes->size(), 1u);
  EXPECT_DOUBLE_EQ((*writes)[0].entry_ms, 0.5);
  EXPECT_DOUBLE_EQ((*writes)[0].return_ms, 0.6);
  EXPECT_EQ((*writes)[0].size, 32u);
  EXPECT_FALSE(
      devsim::ReadHostWrites(file.string() + ".none", "/dev/pts/9", 0));
  std::filesystem::remove(file);
}

}  // namespace
