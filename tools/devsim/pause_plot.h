// Draws an update's pauses as a picture: one band for each kind of pause
// (after the boot command, in front of writes, after blocks), each with its
// minimum, the host's pauses and the device's gaps side by side, late
// deliveries and pauses below their minimum marked, pauses in ms.
#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "pause_marks.h"

namespace devsim {

// Writes the picture to `file`: PNG when its name ends in ".png" (any case),
// SVG otherwise. False, with `error` set, when it could not be written.
bool DrawPausePlot(std::span<const Mark> marks, const std::string& title,
                   const std::filesystem::path& file, std::string& error);

}  // namespace devsim
