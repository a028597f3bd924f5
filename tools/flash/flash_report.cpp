#include "flash_report.h"

#include <cstdio>

#include "json_text.h"
#include "printable_text.h"

namespace dov::flash {
namespace {

using dov::tools::JsonText;
using json = nlohmann::ordered_json;

std::string Seconds(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms / 1000.0);
  return text;
}

json Object(const TFlashOutcome& outcome) {
  json value;
  value["port"] = outcome.PortName;
  value["bytes_sent"] = outcome.BytesSent;
  value["bytes_total"] = outcome.BytesTotal;
  value["duration_ms"] = outcome.DurationMs;
  value["result"] = ResultName(outcome.Code);
  value["exit_code"] = ExitStatus(outcome);
  value["error"] = outcome.Error.empty() ? json(nullptr) : json(outcome.Error);
  value["error_detail"] =
      outcome.ErrorDetail.empty() ? json(nullptr) : json(outcome.ErrorDetail);
  value["warnings"] = outcome.Warnings;
  return value;
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
  if (!outcome.ErrorDetail.empty()) {
    text += "detail:      " + outcome.ErrorDetail + "\n";
  }
  for (const std::string& warning : outcome.Warnings) {
    text += "warning:     " + warning + "\n";
  }
  return dov::tools::Printable(text);
}

std::string FormatJson(const TFlashOutcome& outcome) {
  return JsonText(Object(outcome));
}

std::string FormatText(const std::vector<TFlashOutcome>& outcomes) {
  std::string text;
  for (const TFlashOutcome& outcome : outcomes) {
    if (!text.empty()) text += "\n";
    text += FormatText(outcome);
  }
  return text;
}

std::string FormatJson(const std::vector<TFlashOutcome>& outcomes) {
  json array = json::array();
  for (const TFlashOutcome& outcome : outcomes) {
    array.push_back(Object(outcome));
  }
  return JsonText(array);
}

std::optional<TFlashOutcome> ParseJson(const std::string& text) {
  const json value = json::parse(text, nullptr, false);
  if (!value.is_object()) return std::nullopt;
  try {
    TFlashOutcome outcome;
    outcome.PortName = value.at("port").get<std::string>();
    outcome.BytesSent = value.at("bytes_sent").get<std::size_t>();
    outcome.BytesTotal = value.at("bytes_total").get<std::size_t>();
    outcome.DurationMs = value.at("duration_ms").get<std::uint32_t>();
    // The result by its name: an interrupted run's exit code carries its
    // signal.
    const std::string result = value.at("result").get<std::string>();
    bool known = false;
    for (const ExitCode code :
         {kExitOk, kExitUsage, kExitBadImage, kExitOpenFailed,
          kExitTransferFailed, kExitInterrupted}) {
      if (result == ResultName(code)) {
        outcome.Code = code;
        known = true;
      }
    }
    if (!known) return std::nullopt;
    if (outcome.Code == kExitInterrupted) {
      outcome.Signal = value.at("exit_code").get<int>() - kExitInterrupted;
    }
    const json& error = value.at("error");
    if (!error.is_null()) outcome.Error = error.get<std::string>();
    const json detail = value.value("error_detail", json(nullptr));
    if (!detail.is_null()) outcome.ErrorDetail = detail.get<std::string>();
    outcome.Warnings =
        value.value("warnings", json::array()).get<std::vector<std::string>>();
    return outcome;
  } catch (const json::exception&) {
    return std::nullopt;
  }
}

}  // namespace dov::flash
