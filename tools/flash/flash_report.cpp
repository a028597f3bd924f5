#include "flash_report.h"

#include <cstdio>

#include "json_text.h"

namespace dov::flash {
namespace {

using dov::tools::JsonString;

std::string Seconds(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms / 1000.0);
  return text;
}

}  // namespace

const char* ResultName(ExitCode code) {
  switch (code) {
    case kExitOk:
      return "ok";
    case kExitUsage:
      return "usage";
    case kExitBadImage:
      return "bad image";
    case kExitOpenFailed:
      return "port open failed";
    case kExitTransferFailed:
      return "transfer failed";
  }
  return "?";
}

std::string FormatText(const TFlashOutcome& outcome) {
  std::string text = "port:        " + outcome.PortName + "\n" +
                     "bytes sent:  " + std::to_string(outcome.BytesSent) +
                     " of " + std::to_string(outcome.BytesTotal) + "\n" +
                     "duration:    " + Seconds(outcome.DurationMs) + " s\n" +
                     "result:      " + ResultName(outcome.Code) + "\n";
  if (!outcome.Error.empty()) text += "error:       " + outcome.Error + "\n";
  return text;
}

std::string FormatJson(const TFlashOutcome& outcome) {
  return std::string("{\n") + "  \"port\": " + JsonString(outcome.PortName) +
         ",\n" + "  \"bytes_sent\": " + std::to_string(outcome.BytesSent) +
         ",\n" + "  \"bytes_total\": " + std::to_string(outcome.BytesTotal) +
         ",\n" + "  \"duration_ms\": " + std::to_string(outcome.DurationMs) +
         ",\n" + "  \"result\": " + JsonString(ResultName(outcome.Code)) +
         ",\n" + "  \"exit_code\": " + std::to_string(outcome.Code) + ",\n" +
         "  \"error\": " +
         (outcome.Error.empty() ? "null" : JsonString(outcome.Error)) + "\n}\n";
}

}  // namespace dov::flash
