#include "report.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "json_text.h"

namespace devsim {
namespace {

using dov::tools::JsonString;

const char* BootName(BootState boot) {
  switch (boot) {
    case BootState::kNone:
      return "none";
    case BootState::kReceived:
      return "received";
    case BootState::kRefused:
      return "refused";
  }
  return "?";
}

const char* EndName(EndReason end) {
  switch (end) {
    case EndReason::kComplete:
      return "complete";
    case EndReason::kTimeout:
      return "timeout";
    case EndReason::kSignal:
      return "signal";
    case EndReason::kVanished:
      return "vanished";
  }
  return "?";
}

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms);
  return text;
}

std::string GapJson(const Gap& gap) {
  return "{\"write\": " + std::to_string(gap.write) + ", \"kind\": \"" +
         GapKindName(gap.kind) + "\", \"gap_ms\": " + Ms(gap.gap_ms) +
         ", \"minimum_ms\": " + Ms(gap.minimum_ms) + "}";
}

template <typename T, typename F>
std::string JsonList(const std::vector<T>& items, F format) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    out += (i == 0 ? "\n    " : ",\n    ") + format(items[i]);
  }
  return out + (items.empty() ? "]" : "\n  ]");
}

std::string BootLine(const Report& report) {
  switch (report.boot) {
    case BootState::kNone:
      return "no BootUp@ received";
    case BootState::kReceived:
      return "BootUp@ received";
    case BootState::kRefused:
      return "BootUp@ received and refused (--refuse-boot): nothing recorded";
  }
  return "?";
}

// Smallest and largest pause of one kind, for the text summary.
std::string KindSummary(const Analysis& analysis, GapKind kind) {
  std::size_t count = 0;
  double least = 0;
  double most = 0;
  for (const Gap& gap : analysis.gaps) {
    if (gap.kind != kind) continue;
    least = count == 0 ? gap.gap_ms : std::min(least, gap.gap_ms);
    most = count == 0 ? gap.gap_ms : std::max(most, gap.gap_ms);
    ++count;
  }
  if (count == 0) return "none";
  return std::to_string(count) + " gap(s), " + Ms(least) + " .. " + Ms(most) +
         " ms";
}

// The host's record as top-level fields; null ones without a record.
std::string HostJson(const std::optional<HostPacing>& host) {
  std::ostringstream out;
  const auto number = [](std::size_t n) { return std::to_string(n); };
  out << "  \"host_writes\": " << (host ? number(host->writes) : "null")
      << ",\n"
      << "  \"host_record_complete\": "
      << (host ? (host->complete ? "true" : "false") : "null") << ",\n"
      << "  \"host_total_ms\": " << (host ? Ms(host->total_ms) : "null")
      << ",\n"
      << "  \"host_smallest_margin_ms\": "
      << (host && host->smallest_margin_ms ? Ms(*host->smallest_margin_ms)
                                           : "null")
      << ",\n"
      << "  \"host_below_minimum\": "
      << (host ? JsonList(host->below, GapJson) : "null") << ",\n"
      << "  \"host_merged_writes\": "
      << (host ? JsonList(host->merged, number) : "null") << ",\n";
  return out.str();
}

// One line for all late deliveries: they are the line's doing, not the
// host's, so they are no verdict of their own.
std::string LateSummary(const Report& report, bool verbose) {
  const std::size_t late = report.analysis.late_deliveries.size();
  std::string text = std::to_string(late) + (late == 1 ? " write" : " writes") +
                     " reached the device late; ";
  if (!report.host) {
    text += "each within the line's allowed lateness of " +
            Ms(report.minimums.delivery_jitter_ms) + " ms";
  } else if (report.host->Ok()) {
    text += "every pause left the host on time";
  } else {
    text += "the host kept the pauses in front of them";
  }
  return text + (verbose ? "" : " (listed with -v and in the JSON report)");
}

}  // namespace

std::string FormatText(const Report& report, bool verbose) {
  const Analysis& a = report.analysis;
  const Minimums& m = report.minimums;
  std::ostringstream out;
  out << "device simulator on COM" << report.port << " (" << report.link
      << ")\n"
      << "boot command:     " << BootLine(report) << '\n'
      << "ended:            " << EndName(report.end) << '\n'
      << "bytes received:   " << report.bytes_received << " of "
      << report.bytes_expected << '\n'
      << "image:            " << (report.intact ? "intact" : "NOT intact")
      << '\n'
      << "  received sha256 " << report.received_sha256 << '\n'
      << "  expected sha256 " << report.expected_sha256 << '\n'
      << "writes:           " << a.writes.size() << '\n'
      << "after BootUp@:    " << KindSummary(a, GapKind::kAfterBoot)
      << " (minimum " << Ms(m.after_boot_ms) << ")\n"
      << "before writes:    " << KindSummary(a, GapKind::kBeforeWrite)
      << " (minimum " << Ms(m.before_write_ms) << ")\n"
      << "after blocks:     " << KindSummary(a, GapKind::kAfterBlock)
      << " (minimum " << Ms(m.after_block_ms) << ")\n"
      << "smallest margin:  "
      << (a.smallest_margin_ms ? Ms(*a.smallest_margin_ms) + " ms" : "none")
      << '\n'
      << "total time:       " << Ms(a.total_ms) << " ms\n"
      << "line settings:    " << (report.line.empty() ? "-" : report.line)
      << (report.LineOk()
              ? ""
              : "  WRONG, expected " + std::string(Report::kExpectedLine))
      << '\n';
  if (report.host) {
    const HostPacing& h = *report.host;
    out << "host's record:    " << h.writes << " writes after BootUp@"
        << (h.complete ? "" : " (INCOMPLETE)") << ", " << Ms(h.total_ms)
        << " ms from it to the last, smallest margin "
        << (h.smallest_margin_ms ? Ms(*h.smallest_margin_ms) + " ms" : "none")
        << '\n';
    for (const Gap& gap : h.below) {
      out << "HOST BELOW MINIMUM: write " << gap.write << " ("
          << GapKindName(gap.kind) << ") " << Ms(gap.gap_ms)
          << " ms <= " << Ms(gap.minimum_ms) << " ms\n";
    }
    for (const std::size_t at : h.merged) {
      out << "HOST MERGED WRITES: a write() at byte " << at
          << " ran across the end of a write\n";
    }
  }
  if (report.chatter_bytes_sent > 0) {
    out << "chatter sent:     " << report.chatter_bytes_sent << " bytes\n"
        << "chatter in update: " << report.chatter_sent_in_update
        << " bytes sent, " << report.chatter_unread_at_image_end
        << " unread by the host when the image was complete\n";
  }
  for (const Gap& gap : a.below) {
    out << "BELOW MINIMUM:    write " << gap.write << " ("
        << GapKindName(gap.kind) << ") " << Ms(gap.gap_ms) << " ms < "
        << Ms(gap.minimum_ms) << " ms\n";
  }
  if (!a.late_deliveries.empty()) {
    out << "late deliveries:  " << LateSummary(report, verbose) << '\n';
  }
  for (const Gap& gap : a.late_deliveries) {
    if (!verbose) break;
    out << "LATE DELIVERY:    write " << gap.write << " ("
        << GapKindName(gap.kind) << ") " << Ms(gap.gap_ms) << " ms < "
        << Ms(gap.minimum_ms) << " ms, delivered late\n";
  }
  for (const std::size_t i : a.odd_writes) {
    out << "ODD WRITE SIZE:   write " << i << " has " << a.writes[i].size
        << " bytes, expected " << m.write_size << '\n';
  }
  out << "verdict:          " << (report.Passed() ? "PASS" : "FAIL") << '\n';
  return out.str();
}

std::string FormatJson(const Report& report) {
  const Analysis& a = report.analysis;
  std::ostringstream out;
  out << "{\n"
      << "  \"port\": " << report.port << ",\n"
      << "  \"link\": " << JsonString(report.link) << ",\n"
      << "  \"boot\": \"" << BootName(report.boot) << "\",\n"
      << "  \"end\": \"" << EndName(report.end) << "\",\n"
      << "  \"bytes_received\": " << report.bytes_received << ",\n"
      << "  \"bytes_expected\": " << report.bytes_expected << ",\n"
      << "  \"received_sha256\": \"" << report.received_sha256 << "\",\n"
      << "  \"expected_sha256\": \"" << report.expected_sha256 << "\",\n"
      << "  \"intact\": " << (report.intact ? "true" : "false") << ",\n"
      << "  \"writes\": " << a.writes.size() << ",\n"
      << "  \"odd_writes\": "
      << JsonList(a.odd_writes,
                  [&](std::size_t i) {
                    return "{\"write\": " + std::to_string(i) +
                           ", \"size\": " + std::to_string(a.writes[i].size) +
                           "}";
                  })
      << ",\n"
      << "  \"minimums_ms\": {\"after_boot\": "
      << Ms(report.minimums.after_boot_ms)
      << ", \"before_write\": " << Ms(report.minimums.before_write_ms)
      << ", \"after_block\": " << Ms(report.minimums.after_block_ms) << "},\n"
      << "  \"smallest_margin_ms\": "
      << (a.smallest_margin_ms ? Ms(*a.smallest_margin_ms) : "null") << ",\n"
      << "  \"total_ms\": " << Ms(a.total_ms) << ",\n"
      << "  \"chatter_bytes_sent\": " << report.chatter_bytes_sent << ",\n"
      << "  \"chatter_sent_in_update\": " << report.chatter_sent_in_update
      << ",\n"
      << "  \"chatter_unread_at_image_end\": "
      << report.chatter_unread_at_image_end << ",\n"
      << "  \"line\": " << JsonString(report.line) << ",\n"
      << "  \"line_ok\": " << (report.LineOk() ? "true" : "false") << ",\n"
      << HostJson(report.host)
      << "  \"below_minimum\": " << JsonList(a.below, GapJson) << ",\n"
      << "  \"late_deliveries\": " << JsonList(a.late_deliveries, GapJson)
      << ",\n"
      << "  \"gaps\": " << JsonList(a.gaps, GapJson) << ",\n"
      << "  \"passed\": " << (report.Passed() ? "true" : "false") << "\n"
      << "}\n";
  return out.str();
}

}  // namespace devsim
