// The udev rule that lets the dialout group open the device and switch it:
// it acts when the device is added and on the events that the package's
// install script sends to devices already plugged in, runs no shell, and
// reaches nothing but the device's own vendor id.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Assignment {
  std::string key;  // ACTION, ATTRS{idVendor}, RUN, ...
  std::string op;   // ==, =, +=
  std::string value;
};

// One rule line as its comma-separated assignments, or nothing for a line
// that is not key-operator-"value" throughout.
std::vector<Assignment> Parse(std::string_view line) {
  std::vector<Assignment> rule;
  const auto skip_blanks = [&] {
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  };
  while (skip_blanks(), !line.empty()) {
    Assignment a;
    const std::size_t key_end = line.find_first_of("=!+:");
    if (key_end == std::string_view::npos || key_end == 0) return {};
    a.key = line.substr(0, key_end);
    line.remove_prefix(key_end);
    for (const char* op : {"==", "!=", "+=", ":=", "="}) {
      if (line.starts_with(op)) {
        a.op = op;
        break;
      }
    }
    line.remove_prefix(a.op.size());
    if (a.op.empty() || !line.starts_with('"')) return {};
    const std::size_t close = line.find('"', 1);
    if (close == std::string_view::npos) return {};
    a.value = line.substr(1, close - 1);
    line.remove_prefix(close + 1);
    rule.push_back(a);
    skip_blanks();
    if (!line.empty() && !line.starts_with(',')) return {};
    if (!line.empty()) line.remove_prefix(1);
  }
  return rule;
}

// A program by its full path, its arguments plain words (letters and '+')
// or single-quoted paths: nothing a shell would read, and no shell.
bool IsPlainCommand(std::string_view command) {
  const auto plain = [](std::string_view word, bool path) {
    return !word.empty() && std::all_of(word.begin(), word.end(), [&](char c) {
      return (c >= 'a' && c <= 'z') || c == '+' || (path && c == '/');
    });
  };
  const std::size_t program_end = std::min(command.find(' '), command.size());
  const std::string_view program = command.substr(0, program_end);
  if (!program.starts_with('/') || !plain(program, true) ||
      program.ends_with("/sh") || program.ends_with("bash")) {
    return false;
  }
  command.remove_prefix(program_end);
  while (!command.empty()) {
    if (!command.starts_with(' ')) return false;
    command.remove_prefix(1);
    if (command.starts_with('\'')) {
      const std::size_t close = command.find('\'', 1);
      if (close == std::string_view::npos) return false;
      command.remove_prefix(close + 1);
    } else {
      const std::size_t end = std::min(command.find(' '), command.size());
      if (!plain(command.substr(0, end), false)) return false;
      command.remove_prefix(end);
    }
  }
  return true;
}

// The action of the events `udevadm trigger` sends in the install script
// (its default is "change"), or "" when the script triggers nothing.
std::string TriggeredAction() {
  std::ifstream file(DOV_POSTINST);
  const std::string script{std::istreambuf_iterator<char>(file), {}};
  const std::size_t trigger = script.find("udevadm trigger");
  if (trigger == std::string::npos) return "";
  const std::size_t end = script.find("|| true", trigger);
  const std::string command = script.substr(trigger, end - trigger);
  const std::string option = "--action=";
  const std::size_t at = command.find(option);
  if (at == std::string::npos) return "change";
  const std::size_t from = at + option.size();
  return command.substr(from, command.find_first_of(" \\\n", from) - from);
}

// Whether a rule's ACTION value ("add", "add|change") names `action`.
bool Matches(std::string_view value, std::string_view action) {
  for (std::size_t from = 0; from <= value.size();) {
    const std::size_t bar = std::min(value.find('|', from), value.size());
    if (value.substr(from, bar - from) == action) return true;
    from = bar + 1;
  }
  return false;
}

TEST(UdevRule, ActsOnPluggedAndAlreadyPluggedDevicesWithoutAShell) {
  const std::string triggered = TriggeredAction();
  ASSERT_FALSE(triggered.empty()) << "the install script triggers nothing";
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
    bool triggers = false;
    bool vendor = false;
    for (const Assignment& a : rule) {
      if (a.key == "ACTION") {
        ASSERT_EQ(a.op, "==");
        added = Matches(a.value, "add");
        triggers = Matches(a.value, triggered);
        for (std::string_view other : {"remove", "bind", "unbind"})
          EXPECT_FALSE(Matches(a.value, other)) << other;
      } else if (a.key == "ATTR{idVendor}" || a.key == "ATTRS{idVendor}") {
        vendor = a.op == "==" && a.value == "1fc9";
      } else if (a.key == "RUN") {
        EXPECT_TRUE(IsPlainCommand(a.value)) << a.value;
      } else {
        EXPECT_TRUE(a.key == "SUBSYSTEM" || a.key == "ENV{DEVTYPE}" ||
                    a.key == "GROUP" || a.key == "MODE")
            << a.key;
      }
    }
    EXPECT_TRUE(added) << "misses devices as they are plugged in";
    EXPECT_TRUE(triggers) << "misses the \"" << triggered
                          << "\" events the install script sends";
    EXPECT_TRUE(vendor) << "reaches more than vendor id 1fc9";
  }
  EXPECT_GT(rules, 0);
}

}  // namespace
