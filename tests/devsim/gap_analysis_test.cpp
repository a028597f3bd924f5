// The pacing verdict from synthetic arrival times: how writes are rebuilt
// from chunks, and which pauses fall below their minimum.
#include "gap_analysis.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using devsim::AnalyseArrivals;
using devsim::Chunk;
using devsim::GapKind;
using devsim::Minimums;

// Builds the arrivals of a host stream: pauses and chunk sizes in order.
class Stream {
 public:
  Stream& Pause(double ms) {
    time_ += ms;
    return *this;
  }
  Stream& Bytes(std::size_t n) {
    chunks_.push_back({time_, n});
    return *this;
  }
  // A block of four 32-byte writes with the given pause before each write
  // and after the block.
  Stream& Block(double before_write, double after_block) {
    for (int i = 0; i < 4; ++i) Pause(before_write).Bytes(32);
    return Pause(after_block);
  }
  std::vector<Chunk> chunks() const { return chunks_; }

 private:
  double time_ = 0;
  std::vector<Chunk> chunks_;
};

// A correctly paced start: boot command at 0, first write 2001 ms later.
Stream Started() { return Stream().Pause(1990); }

struct Case {
  std::string name;
  std::vector<Chunk> chunks;
  std::size_t writes;
  std::vector<std::pair<std::size_t, GapKind>> below;
  std::vector<std::size_t> odd_writes;
};

class GapAnalysisTest : public testing::TestWithParam<Case> {};

TEST_P(GapAnalysisTest, Verdict) {
  const Case& c = GetParam();
  const auto analysis = AnalyseArrivals(0, c.chunks, Minimums{});
  EXPECT_EQ(analysis.writes.size(), c.writes);
  EXPECT_EQ(analysis.gaps.size(), analysis.writes.size());
  std::vector<std::pair<std::size_t, GapKind>> below;
  for (const auto& gap : analysis.below)
    below.emplace_back(gap.write, gap.kind);
  EXPECT_EQ(below, c.below);
  EXPECT_EQ(analysis.odd_writes, c.odd_writes);
  EXPECT_EQ(analysis.PacingOk(), c.below.empty() && c.odd_writes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, GapAnalysisTest,
    testing::Values(
        Case{"WellPaced",
             Started().Block(11, 101).Block(11, 101).chunks(),
             8,
             {},
             {}},
        // The line splits each write in two pieces 0.2 ms apart.
        Case{"SplitWrites",
             Started()
                 .Pause(11)
                 .Bytes(20)
                 .Pause(0.2)
                 .Bytes(12)
                 .Pause(11)
                 .Bytes(1)
                 .Pause(0.2)
                 .Bytes(31)
                 .chunks(),
             2,
             {},
             {}},
        // Two writes read in one go are taken apart by count, and the pause
        // between them was nil.
        Case{"MergedWrites",
             Started().Pause(11).Bytes(64).Pause(11).Bytes(32).chunks(),
             3,
             {{1, GapKind::kBeforeWrite}},
             {}},
        Case{"ShortPauseInsideBlock",
             Started().Pause(11).Bytes(32).Pause(5).Bytes(32).chunks(),
             2,
             {{1, GapKind::kBeforeWrite}},
             {}},
        // 60 ms after the block plus 11 before the next write: 71 < 100.
        Case{"ShortPauseAfterBlock",
             Started().Block(11, 60).Pause(11).Bytes(32).chunks(),
             5,
             {{4, GapKind::kAfterBlock}},
             {}},
        Case{"ShortPauseAfterBoot",
             Stream().Pause(1500).Bytes(32).chunks(),
             1,
             {{0, GapKind::kAfterBoot}},
             {}},
        Case{"ImageInTheSameReadAsTheBoot",
             Stream().Bytes(32).chunks(),
             1,
             {{0, GapKind::kAfterBoot}},
             {}},
        // A short write stays one odd write; later writes keep their places.
        Case{"ShortWrite",
             Started()
                 .Pause(11)
                 .Bytes(31)
                 .Pause(11)
                 .Bytes(32)
                 .Pause(11)
                 .Bytes(32)
                 .chunks(),
             3,
             {},
             {0}},
        // The first write arrives 2 ms late: its pause looks 2 ms long, the
        // next one 2 ms short. A write the line hands over late is not the
        // host hurrying.
        Case{"LateDelivery",
             Started().Pause(13).Bytes(32).Pause(9).Bytes(32).chunks(),
             2,
             {},
             {}},
        // Short by more than the line can make a write late.
        Case{"ShortBeyondDeliveryJitter",
             Started().Pause(20).Bytes(32).Pause(5).Bytes(32).chunks(),
             2,
             {{1, GapKind::kBeforeWrite}},
             {}},
        // Each pause only 1.5 ms short, but together they gain more on the
        // minimums than any lateness explains: the host hurried.
        Case{"HurryingOverSeveralWrites",
             Started()
                 .Pause(10.5)
                 .Bytes(32)
                 .Pause(8.5)
                 .Bytes(32)
                 .Pause(8.5)
                 .Bytes(32)
                 .Pause(8.5)
                 .Bytes(32)
                 .chunks(),
             4,
             {{3, GapKind::kBeforeWrite}},
             {}},
        Case{"NothingAfterBoot", {}, 0, {}, {}}),
    [](const testing::TestParamInfo<Case>& param) { return param.param.name; });

TEST(GapAnalysis, MeasuresMarginsAndTotalTime) {
  const auto chunks = Started().Block(11, 101).Block(12, 130).chunks();
  const auto analysis = AnalyseArrivals(0, chunks, Minimums{});
  ASSERT_EQ(analysis.gaps.size(), 8u);
  EXPECT_EQ(analysis.gaps[0].kind, GapKind::kAfterBoot);
  EXPECT_DOUBLE_EQ(analysis.gaps[0].gap_ms, 2001);
  EXPECT_EQ(analysis.gaps[4].kind, GapKind::kAfterBlock);
  EXPECT_DOUBLE_EQ(analysis.gaps[4].gap_ms, 113);
  EXPECT_DOUBLE_EQ(analysis.gaps[5].gap_ms, 12);
  ASSERT_TRUE(analysis.smallest_margin_ms);
  EXPECT_DOUBLE_EQ(*analysis.smallest_margin_ms, 1);
  EXPECT_DOUBLE_EQ(analysis.total_ms, 2001 + 33 + 101 + 48);
  EXPECT_EQ(analysis.writes[5].offset, 160u);
}

}  // namespace
