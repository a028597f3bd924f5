// The final report of dov-flash: for people, and as JSON for scripts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "flasher.h"

namespace dov::flash {

// "ok", "usage", "bad image", "port open failed" or "transfer failed".
const char* ResultName(ExitCode code);

// For people: control characters in it (from devices, from the command
// line) are shown escaped.
std::string FormatText(const TFlashOutcome& outcome);
// One JSON object: port, bytes_sent, bytes_total, duration_ms, result,
// exit_code, error and error_detail (null when there is none), warnings (a
// list of texts, empty when there is none).
std::string FormatJson(const TFlashOutcome& outcome);
// Several devices: their reports one after the other, or a JSON array.
std::string FormatText(const std::vector<TFlashOutcome>& outcomes);
std::string FormatJson(const std::vector<TFlashOutcome>& outcomes);
// The outcome a FormatJson object holds, or nothing for anything else.
std::optional<TFlashOutcome> ParseJson(const std::string& text);

}  // namespace dov::flash
