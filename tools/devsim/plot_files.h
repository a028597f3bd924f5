// The pictures dov-devsim writes: one per device it played, or one of a
// dov-flash trace.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "report.h"

namespace devsim {

// The picture of the device on COM`port` when several are played: the
// port's name goes in front of the extension (pauses.COM3.svg), which
// decides the picture's format.
std::filesystem::path PlotFileOfPort(const std::filesystem::path& file,
                                     int port);

// False, with `error` set, when the picture could not be written.
bool PlotReport(const Report& report, const std::filesystem::path& file,
                std::string& error);

// False, with `error` set, when the trace cannot be read, holds no pause of
// the update, or the picture could not be written.
bool PlotTrace(const std::filesystem::path& trace,
               const std::filesystem::path& file, std::size_t writes_per_block,
               std::string& error);

}  // namespace devsim
