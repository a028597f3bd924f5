#include "glob_match.h"

#include <gtest/gtest.h>

namespace {

struct GlobCase {
  const char* pattern;
  const char* text;
  bool matches;
};

class GlobMatchTest : public testing::TestWithParam<GlobCase> {};

TEST_P(GlobMatchTest, Matches) {
  const GlobCase& c = GetParam();
  EXPECT_EQ(devcon::GlobMatch(c.pattern, c.text), c.matches)
      << c.pattern << " vs " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GlobMatchTest,
    testing::Values(
        GlobCase{"*vid_1fc9*", "USB\\VID_1FC9&PID_0083", true},
        GlobCase{"*VID_1FC9*", "usb\\vid_1fc9&pid_0083", true},
        GlobCase{"*vid_1fc9*", "USB\\VID_046D&PID_C52B", false},
        GlobCase{"usb\\vid_1fc9&pid_0083", "USB\\VID_1FC9&PID_0083", true},
        GlobCase{"usb\\vid_1fc9", "USB\\VID_1FC9&PID_0083", false},
        GlobCase{"*pid_008?", "USB\\VID_1FC9&PID_0083", true},
        GlobCase{"*pid_008?", "USB\\VID_1FC9&PID_008", false},
        // Needs the backtrack: the first "1f" is not the one that matches.
        GlobCase{"*1fc9*", "USB\\VID_1F1FC9&PID_0000", true},
        GlobCase{"**", "", true}, GlobCase{"", "x", false},
        GlobCase{"*a*b*c", "aXbXbXc", true},
        GlobCase{"*a*b*c", "aXbXcX", false}));

}  // namespace
