// The final report of dov-flash: for people, and as JSON for scripts.
#pragma once

#include <string>

#include "flasher.h"

namespace dov::flash {

// "ok", "usage", "bad image", "port open failed" or "transfer failed".
const char* ResultName(ExitCode code);

std::string FormatText(const TFlashOutcome& outcome);
// One JSON object: port, bytes_sent, bytes_total,
// duration_ms, result, exit_code, error (null on success).
std::string FormatJson(const TFlashOutcome& outcome);

}  // namespace dov::flash
