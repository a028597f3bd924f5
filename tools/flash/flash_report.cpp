#include "flash_report.h"

#include <cstdio>

#include "json_text.h"

namespace dov::flash {
namespace {

using dov::tools::JsonText;

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
    case kExitInterrupted:
      return "interrupted";
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
  nlohmann::ordered_json json;
  json["port"] = outcome.PortName;
  json["bytes_sent"] = outcome.BytesSent;
  json["bytes_total"] = outcome.BytesTotal;
  json["duration_ms"] = outcome.DurationMs;
  json["result"] = ResultName(outcome.Code);
  json["exit_code"] = ExitStatus(outcome);
  json["error"] = outcome.Error.empty() ? nlohmann::ordered_json(nullptr)
                                        : nlohmann::ordered_json(outcome.Error);
  return JsonText(json);
}

}  // namespace dov::flash
