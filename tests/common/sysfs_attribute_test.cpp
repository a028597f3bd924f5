// Attributes are read only as small regular files: whatever stands in
// their place is taken as missing, at once, without reading it.
#include "sysfs_attribute.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace dov::tools {
namespace {
namespace fs = std::filesystem;

TEST(SysfsAttribute, ReadsOnlySmallRegularFiles) {
  dov::test::TempDir dir("dov-attribute");
  const fs::path file = dir / "serial";
  const fs::path elsewhere = dir / "elsewhere";
  std::ofstream(elsewhere) << "DORA-0001\n";
  const auto write = [&](const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  };
  const std::string longest(kMaxAttributeSize - 1, 'x');
  const struct {
    const char* name;
    std::function<void()> make;
    const char* expected;  // null: the longest attribute
  } cases[] = {
      {"first line", [&] { write("DORA-0001\nsecond\n"); }, "DORA-0001"},
      {"no line end", [&] { write("1fc9"); }, "1fc9"},
      {"empty", [&] { write(""); }, ""},
      {"a page", [&] { write(longest + "\n"); }, nullptr},
      {"over a page", [&] { write(longest + "xx"); }, ""},
      {"link to /dev/zero", [&] { fs::create_symlink("/dev/zero", file); }, ""},
      {"link to a file", [&] { fs::create_symlink(elsewhere, file); }, ""},
      {"pipe", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, ""},
      {"folder", [&] { fs::create_directory(file); }, ""},
      {"missing", [] {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(file);
    c.make();
    EXPECT_EQ(ReadAttribute(file), c.expected ? c.expected : longest);
  }
}

}  // namespace
}  // namespace dov::tools
