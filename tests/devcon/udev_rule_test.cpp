// The udev rule that lets the dialout group open the device and switch it:
// it acts when the device is added and at no other event, runs no shell,
// and reaches nothing but the device's own vendor id.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

struct Assignment {
  std::string key;  // ACTION, ATTRS{idVendor}, RUN, ...
  std::string op;   // ==, =, +=
  std::string value;
};

// One rule line as its comma-separated assignments, or nothing for a line
// that is not key-operator-"value" throughout.
std::vector<Assignment> Parse(const std::string& line) {
  static const std::regex item(
      R"re(\s*([A-Z]+(?:\{[A-Za-z_]+\})?)\s*(==|!=|\+=|:=|=)\s*"([^"]*)"\s*(,|$))re");
  std::vector<Assignment> rule;
  auto at = line.cbegin();
  std::smatch match;
  while (at != line.cend() &&
         std::regex_search(at, line.cend(), match, item,
                           std::regex_constants::match_continuous)) {
    rule.push_back({match[1], match[2], match[3]});
    at = match[0].second;
  }
  if (at != line.cend()) rule.clear();
  return rule;
}

TEST(UdevRule, AddsOnlyTheDevicesVendorWithoutAShell) {
  std::ifstream file(DOV_UDEV_RULES);
  ASSERT_TRUE(file) << DOV_UDEV_RULES;
  int rules = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line.starts_with('#')) continue;
    SCOPED_TRACE(line);
    ++rules;
    const std::vector<Assignment> rule = Parse(line);
    ASSERT_FALSE(rule.empty()) << "not a rule this test can read";
    bool added = false;
    bool vendor = false;
    for (const Assignment& a : rule) {
      if (a.key == "ACTION") {
        added = a.op == "==" && a.value == "add";
      } else if (a.key == "ATTR{idVendor}" || a.key == "ATTRS{idVendor}") {
        vendor = a.op == "==" && a.value == "1fc9";
      } else if (a.key == "RUN") {
        // A program by its full path, its arguments plain words or quoted
        // paths: nothing a shell would read.
        EXPECT_TRUE(std::regex_match(
            a.value, std::regex(R"(/[a-z/]+( [a-z]+| '[^']*'| [+a-z]+)*)")))
            << a.value;
        EXPECT_EQ(a.value.find("sh "), std::string::npos) << a.value;
      } else {
        EXPECT_TRUE(a.key == "SUBSYSTEM" || a.key == "ENV{DEVTYPE}" ||
                    a.key == "GROUP" || a.key == "MODE")
            << a.key;
      }
    }
    EXPECT_TRUE(added) << "acts on more than ACTION==\"add\"";
    EXPECT_TRUE(vendor) << "reaches more than vendor id 1fc9";
  }
  EXPECT_GT(rules, 0);
}

}  // namespace
