// Reading sysfs attributes: short text files the kernel makes, at most a
// page each. A tree given in their place (DOV_SYSFS_ROOT, a fixture, a
// tampered one) may hold anything where an attribute should be — a link to
// /dev/zero, a pipe, a huge file — so an attribute is read only when it is a
// small regular file, and never through a link.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace dov::tools {

// The kernel hands out at most a page per attribute.
inline constexpr std::size_t kMaxAttributeSize = 4096;

// The first line of an attribute's contents, without its line end.
std::string_view FirstLine(std::string_view contents);

// The whole contents of `file` when it is a regular file (not a link) of at
// most kMaxAttributeSize bytes; nothing when it is missing, anything else or
// larger. Nothing but a regular file is opened.
std::optional<std::string> ReadSmallRegularFile(
    const std::filesystem::path& file);

// The first line of the attribute `file`, or "" when it cannot be read as
// ReadSmallRegularFile reads it.
std::string ReadAttribute(const std::filesystem::path& file);

}  // namespace dov::tools
