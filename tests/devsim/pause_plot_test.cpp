// The picture of an update's pauses: which marks it holds for a known
// record and a known trace, which of them are flagged, and that it is
// written as SVG or PNG or the failure is reported. Also how the text report
// of the known record sums its late delivery up.
#include "pause_plot.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "pause_marks.h"
#include "plot_files.h"
#include "support/temp_dir.h"

namespace {

using devsim::GapKind;
using devsim::Mark;
using devsim::MarkFlag;
using devsim::MarkSource;

constexpr auto kBoot = GapKind::kAfterBoot;
constexpr auto kWrite = GapKind::kBeforeWrite;
constexpr auto kBlock = GapKind::kAfterBlock;
constexpr auto kHost = MarkSource::kHost;
constexpr auto kDevice = MarkSource::kDevice;
constexpr auto kNone = MarkFlag::kNone;
constexpr auto kLate = MarkFlag::kLate;
constexpr auto kBelow = MarkFlag::kBelow;

using Summary = std::tuple<MarkSource, std::size_t, GapKind, MarkFlag>;

std::vector<Summary> Summarise(const std::vector<Mark>& marks) {
  std::vector<Summary> out;
  for (const Mark& m : marks)
    out.emplace_back(m.source, m.write, m.kind, m.flag);
  return out;
}

// Two blocks of four writes. The host hands write 1 over on time but the
// line delivers it 4 ms late, so the device sees the pause before write 2
// short although the host kept it; the host itself cuts the pause before
// write 6 short.
devsim::Report KnownRecord() {
  const std::vector<double> host_entry = {2010.1, 2020.2, 2030.3, 2040.4,
                                          2150.5, 2160.6, 2170.0, 2180.1};
  std::vector<double> arrival = host_entry;
  arrival[1] += 4;
  devsim::Report report;
  report.minimums.delivery_jitter_ms = 0;
  std::vector<devsim::Chunk> chunks;
  std::vector<devsim::HostWrite> writes = {{0, 0.01, 7}};
  for (std::size_t i = 0; i < host_entry.size(); ++i) {
    chunks.push_back({arrival[i], 32});
    writes.push_back({host_entry[i], host_entry[i] + 0.01, 32});
  }
  report.analysis = devsim::AnalyseArrivals(0, chunks, report.minimums);
  report.host = devsim::AnalyseHostWrites(writes, report.minimums, 7,
                                          host_entry.size() * 32);
  devsim::ExplainWithHostRecord(report.analysis, *report.host);
  return report;
}

TEST(PausePlot, ReportMarksFollowTheVerdict) {
  const devsim::Report report = KnownRecord();
  const std::vector<Mark> marks = devsim::MarksFromReport(report);
  std::vector<Summary> expected;
  for (const MarkSource source : {kHost, kDevice}) {
    for (std::size_t i = 0; i < 8; ++i) {
      const GapKind kind = i == 0 ? kBoot : i == 4 ? kBlock : kWrite;
      MarkFlag flag = i == 6 ? kBelow : kNone;
      if (source == kDevice && i == 2) flag = kLate;
      expected.emplace_back(source, i, kind, flag);
    }
  }
  EXPECT_EQ(Summarise(marks), expected);
  EXPECT_NEAR(marks[6].ms, 2170.0 - 2160.61, 1e-9);
  EXPECT_EQ(marks[6].minimum_ms, 10);
}

TEST(PausePlot, TextReportSumsLateDeliveriesUpUnlessVerbose) {
  const devsim::Report report = KnownRecord();
  const std::string summary =
      "late deliveries:  1 write reached the device late; the host kept the "
      "pauses in front of them";
  const std::string listed = "LATE DELIVERY:    write 2 (before_write)";
  const std::string brief = devsim::FormatText(report);
  EXPECT_NE(brief.find(summary + " (listed with -v"), std::string::npos)
      << brief;
  EXPECT_EQ(brief.find(listed), std::string::npos) << brief;
  const std::string verbose = devsim::FormatText(report, true);
  EXPECT_NE(verbose.find(summary + "\n" + listed), std::string::npos)
      << verbose;
  EXPECT_NE(verbose.find("HOST BELOW MINIMUM: write 6"), std::string::npos);
}

TEST(PausePlot, WithoutHostRecordOnlyTheDeviceIsDrawn) {
  devsim::Report report = KnownRecord();
  report.host.reset();
  for (const Mark& mark : devsim::MarksFromReport(report)) {
    EXPECT_EQ(mark.source, kDevice);
  }
}

// A trace as dov-flash writes it, shortened to two blocks: the reset's
// pauses come before any write and the last pause after the last block's;
// neither is a pause of the stream. One pause ends at its minimum, one write
// is short, and lines that are no event are passed over.
constexpr char kTrace[] =
    "[    0.000010] update: started\n"
    "[    0.000020] pause: minimum 500 ms, actual 500.100 ms\n"
    "[    0.600000] device console: /enable *vid_1fc9*\n"
    "[    0.700000] pause: minimum 1000 ms, actual 1000.100 ms\n"
    "[    1.700000] port open: COM3, 115200 baud\n"
    "[    1.700100] write: 7 bytes\n"
    "[    1.700200] pause: minimum 2000 ms, actual 2000.060 ms\n"
    "[    3.700300] pause: minimum 10 ms, actual 10.050 ms\n"
    "[    3.710400] write: 32 bytes\n"
    "[    3.710500] pause: minimum 10 ms, actual 10.000 ms\n"
    "[    3.720600] write: 32 bytes\n"
    "[    3.720700] pause: minimum 10 ms, actual 12.500 ms\n"
    "[    3.733300] write: 32 bytes\n"
    "[    3.733400] pause: minimum 10 ms, actual 10.040 ms\n"
    "[    3.743500] write: 31 of 32 bytes\n"
    "[    3.743600] pause: minimum 100 ms, actual 100.070 ms\n"
    "[    3.843700] pause: minimum x ms, actual 10.000 ms\n"
    "[    3.843800 pause: minimum 10 ms, actual 1.000 ms\n"
    "[    3.843900] pause: minimum 10 ms, actual 10.030 ms\n"
    "[    3.854000] write: 32 bytes\n"
    "[    3.854100] pause: minimum 10 ms, actual 10.030 ms\n"
    "[    3.864200] write: 32 bytes\n"
    "[    3.864300] pause: minimum 10 ms, actual 10.030 ms\n"
    "[    3.874400] write: 32 bytes\n"
    "[    3.874500] pause: minimum 10 ms, actual 10.030 ms\n"
    "[    3.884600] write: 32 bytes\n"
    "[    3.884700] pause: minimum 100 ms, actual 99.900 ms\n"
    "[    3.984800] pause: minimum 50 ms, actual 50.100 ms\n"
    "[    4.034900] update: done";

TEST(PausePlot, TraceMarksAreTheStreamsPauses) {
  const std::vector<Mark> marks = devsim::MarksFromTrace(kTrace, 4);
  const std::vector<Summary> expected = {
      {kHost, 0, kBoot, kNone},   {kHost, 0, kWrite, kNone},
      {kHost, 1, kWrite, kBelow}, {kHost, 2, kWrite, kNone},
      {kHost, 3, kWrite, kNone},  {kHost, 4, kBlock, kNone},
      {kHost, 4, kWrite, kNone},  {kHost, 5, kWrite, kNone},
      {kHost, 6, kWrite, kNone},  {kHost, 7, kWrite, kNone},
      {kHost, 8, kBlock, kBelow},
  };
  EXPECT_EQ(Summarise(marks), expected);
  EXPECT_DOUBLE_EQ(marks[0].minimum_ms, 2000);
  EXPECT_DOUBLE_EQ(marks[0].ms, 2000.06);
  EXPECT_DOUBLE_EQ(marks[10].ms, 99.9);
}

TEST(PausePlot, TraceWithoutTheStreamHasNoMarks) {
  for (const char* trace :
       {"", "\n\n", "[ 1.0] pause: minimum 10 ms, actual 11 ms\n",
        "write: 7 bytes", "[ 1.0] error: the port is gone\n"}) {
    EXPECT_TRUE(devsim::MarksFromTrace(trace, 4).empty()) << trace;
  }
}

TEST(PausePlot, WritesSvgOrPngAndReportsAFileItCannotWrite) {
  const dov::test::TempDir dir("dov-plot");
  const std::vector<Mark> marks = devsim::MarksFromReport(KnownRecord());
  const struct {
    const char* name;
    std::string start;  // the first bytes of the file
  } cases[] = {
      {"pauses.svg", "<?xml"}, {"pauses", "<?xml"}, {"pauses.PNG", "\x89PNG"}};
  for (const auto& [name, start] : cases) {
    SCOPED_TRACE(name);
    std::string error;
    ASSERT_TRUE(devsim::DrawPausePlot(marks, "title", dir / name, error))
        << error;
    std::ifstream in(dir / name, std::ios::binary);
    std::string head(start.size(), '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, start);
  }
  for (const char* name : {"missing/pauses.svg", "missing/pauses.png"}) {
    std::string error;
    EXPECT_FALSE(devsim::DrawPausePlot(marks, "title", dir / name, error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  }
}

TEST(PausePlot, EachOfSeveralDevicesKeepsTheFormatInItsName) {
  const struct {
    const char* given;
    int port;
    const char* named;
  } cases[] = {{"pauses.svg", 3, "pauses.COM3.svg"},
               {"out/p.png", 4, "out/p.COM4.png"},
               {"pauses", 5, "pauses.COM5"}};
  for (const auto& [given, port, named] : cases) {
    EXPECT_EQ(devsim::PlotFileOfPort(given, port), named) << given;
  }
}

}  // namespace
