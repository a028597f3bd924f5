// devcon against fixture sysfs trees: which devices are switched, what the
// user is told, and the exit codes.
#include "devcon.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path) << text;
}

// A sysfs tree with the device of interest (1fc9), another vendor's device,
// a root hub and an interface directory (which has no ids of its own).
class SysfsFixture : public testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(root_.Path(), fs::perms::all & ~(fs::perms::group_write |
                                                     fs::perms::others_write));
    AddDevice("1-1", "1fc9", "0083");
    AddDevice("1-2", "046d", "c52b");
    AddDevice("usb1", "1d6b", "0002");
    fs::create_directories(Devices() / "1-1:1.0");
  }

  fs::path Devices() const { return root_ / "bus" / "usb" / "devices"; }

  void AddDevice(const std::string& name, const std::string& vendor,
                 const std::string& product, const std::string& serial = "") {
    const fs::path dir = Devices() / name;
    fs::create_directories(dir);
    if (!serial.empty()) WriteFile(dir / "serial", serial + "\n");
    WriteFile(dir / "idVendor", vendor + "\n");
    WriteFile(dir / "idProduct", product + "\n");
    WriteFile(dir / "authorized", "1\n");
  }

  std::string Authorized(const std::string& name) const {
    return ReadFile(Devices() / name / "authorized");
  }

  int Run(std::vector<std::string> args) {
    out_.str({});
    err_.str({});
    return devcon::Run(args, root_.Path().string(), out_, err_);
  }

  dov::test::TempDir root_{"devcon-test"};
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(SysfsFixture, DisableThenEnableSwitchesOnlyTheMatchingDevice) {
  EXPECT_EQ(Run({"disable", "*vid_1fc9*"}), devcon::kExitOk);
  EXPECT_EQ(Authorized("1-1"), "0");
  EXPECT_EQ(Authorized("1-2"), "1\n");
  EXPECT_EQ(Authorized("usb1"), "1\n");
  EXPECT_NE(out_.str().find("USB\\VID_1FC9&PID_0083 (1-1): Disabled"),
            std::string::npos)
      << out_.str();

  EXPECT_EQ(Run({"enable", "*vid_1fc9*"}), devcon::kExitOk);
  EXPECT_EQ(Authorized("1-1"), "1");
  EXPECT_EQ(Authorized("1-2"), "1\n");
}

TEST_F(SysfsFixture, PatternIgnoresCaseAndMatchesSeveralDevices) {
  AddDevice("2-1", "1FC9", "000c");
  EXPECT_EQ(Run({"disable", "*VID_1FC9*"}), devcon::kExitOk);
  EXPECT_EQ(Authorized("1-1"), "0");
  EXPECT_EQ(Authorized("2-1"), "0");
  EXPECT_NE(out_.str().find("2 device(s) disabled."), std::string::npos);
}

// An instance pattern names one device among several of the same kind: by
// its serial number, or by its place in the tree when it has none.
TEST_F(SysfsFixture, InstancePatternSwitchesOneDeviceOfSeveral) {
  AddDevice("2-1", "1fc9", "0083", "DORA-0002");
  AddDevice("2-2", "1fc9", "0083", "DORA-0003");
  const struct {
    const char* pattern;
    const char* switched;
  } cases[] = {
      {"@USB\\VID_1FC9&PID_0083\\DORA-0002", "2-1"},
      {"@*\\dora-0003", "2-2"},
      {"@*\\1-1", "1-1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(Run({"disable", c.pattern}), devcon::kExitOk) << err_.str();
    for (const char* name : {"1-1", "2-1", "2-2"}) {
      EXPECT_EQ(Authorized(name) == "0", std::string(name) == c.switched)
          << name;
    }
    EXPECT_EQ(Run({"enable", c.pattern}), devcon::kExitOk);
  }
  EXPECT_EQ(Run({"disable", "@*\\DORA-0009"}), devcon::kExitNoMatch);
}

// --exact takes the id as written: a serial number that holds wildcards, a
// blank or another case names its own device and no other.
TEST_F(SysfsFixture, ExactPatternSwitchesOnlyTheDeviceNamedAsWritten) {
  AddDevice("2-1", "1fc9", "0083", "DORA-1");
  AddDevice("2-2", "1fc9", "0083", "dora-1");
  AddDevice("2-3", "1fc9", "0083", "D*");
  AddDevice("2-4", "1fc9", "0083", "D 7");
  const struct {
    const char* pattern;
    const char* switched;  // nullptr: none
  } cases[] = {
      {"@USB\\VID_1FC9&PID_0083\\DORA-1", "2-1"},
      {"@USB\\VID_1FC9&PID_0083\\dora-1", "2-2"},
      {"@USB\\VID_1FC9&PID_0083\\D*", "2-3"},
      {"@USB\\VID_1FC9&PID_0083\\D 7", "2-4"},
      {"@USB\\VID_1FC9&PID_0083\\D???", nullptr},
      {"@usb\\vid_1fc9&pid_0083\\DORA-1", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(Run({"--exact", "disable", c.pattern}),
              c.switched ? devcon::kExitOk : devcon::kExitNoMatch)
        << err_.str();
    for (const char* name : {"1-1", "2-1", "2-2", "2-3", "2-4"}) {
      EXPECT_EQ(Authorized(name) == "0",
                c.switched != nullptr && std::string(name) == c.switched)
          << name;
    }
    Run({"--exact", "enable", c.pattern});
  }
}

TEST_F(SysfsFixture, NoMatchingDeviceIsItsOwnFailure) {
  EXPECT_EQ(Run({"disable", "*vid_dead*"}), devcon::kExitNoMatch);
  EXPECT_NE(err_.str().find("no device matches *vid_dead*"), std::string::npos);
  EXPECT_EQ(Authorized("1-1"), "1\n");
}

TEST_F(SysfsFixture, WrongArgumentsPrintUsageAndTouchNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"disable"},
      {"remove", "*vid_1fc9*"},
      {"DISABLE", "*vid_1fc9*"},
      {"disable", "*vid_1fc9*", "extra"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(Run(args), devcon::kExitUsage);
    EXPECT_NE(err_.str().find("(devcon --help lists the options)"),
              std::string::npos);
    EXPECT_TRUE(out_.str().empty());
  }
  EXPECT_EQ(Authorized("1-1"), "1\n");
}

TEST_F(SysfsFixture, MissingSysfsTreeIsReported) {
  fs::remove_all(root_ / "bus");
  EXPECT_EQ(Run({"enable", "*vid_1fc9*"}), devcon::kExitFailed);
  EXPECT_NE(err_.str().find("devcon: cannot read "), std::string::npos);
}

// A user without rights on the attribute gets told what to do. Root may
// write any file, so as root the check runs in a child that drops to an
// unprivileged user first.
TEST_F(SysfsFixture, PermissionDeniedExplainsTheFix) {
  const fs::path file = Devices() / "1-1" / "authorized";
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read |
                            fs::perms::others_read);
  char err_path[] = "/tmp/devcon-err-XXXXXX";
  const int err_fd = ::mkstemp(err_path);
  ASSERT_GE(err_fd, 0);
  ::close(err_fd);
  fs::permissions(err_path, fs::perms::all);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(100);
    }
    std::ofstream err(err_path);
    std::ostringstream out;
    const int code =
        devcon::Run({"disable", "*vid_1fc9*"}, root_.Path().string(), out, err);
    err.close();
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), devcon::kExitFailed);
  const std::string err = ReadFile(err_path);
  fs::remove(err_path);
  EXPECT_NE(err.find("devcon: cannot write " + file.string() +
                     ": Permission denied \u2014 run as root or install the "
                     "udev rule"),
            std::string::npos)
      << err;
  EXPECT_EQ(Authorized("1-1"), "1\n");
}

// Only a regular attribute file is written: a link is not followed (the
// file behind it stays as it was), and a pipe or a folder is refused at
// once instead of blocking or failing half-way.
TEST_F(SysfsFixture, WritesOnlyARegularAuthorizedFile) {
  const fs::path target = root_ / "elsewhere";
  WriteFile(target, "untouched");
  const fs::path file = Devices() / "1-1" / "authorized";
  const struct {
    const char* name;
    std::function<void()> make;
  } cases[] = {
      {"symbolic link", [&] { fs::create_symlink(target, file); }},
      {"pipe", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
      {"folder", [&] { fs::create_directory(file); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(file);
    c.make();
    EXPECT_EQ(Run({"disable", "*vid_1fc9*"}), devcon::kExitFailed);
    EXPECT_NE(err_.str().find(file.string() + ": not a regular file"),
              std::string::npos)
        << err_.str();
  }
  EXPECT_EQ(ReadFile(target), "untouched");
}

// A serial attribute that is no small regular file is taken as missing:
// the device is still found, by its name in the tree, and nothing blocks.
TEST_F(SysfsFixture, ASerialThatIsNoSmallFileIsTakenAsMissing) {
  const fs::path serial = Devices() / "1-1" / "serial";
  const struct {
    const char* name;
    std::function<void()> make;
  } cases[] = {
      {"link to /dev/zero", [&] { fs::create_symlink("/dev/zero", serial); }},
      {"pipe", [&] { ASSERT_EQ(::mkfifo(serial.c_str(), 0600), 0); }},
      {"huge file", [&] { WriteFile(serial, std::string(1 << 20, 'x')); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(serial);
    c.make();
    EXPECT_EQ(Run({"disable", "@usb\\vid_1fc9&pid_0083\\1-1"}), devcon::kExitOk)
        << err_.str();
    EXPECT_EQ(Authorized("1-1"), "0");
  }
}

// The updater starts disable and, half a second later, enable, waiting for
// neither. A disable that takes longer must not be overtaken: the enable
// waits for the change under way, and the device ends as the later command
// asked. Here the test holds the lock as a slow change would, and finishes
// that change (its write lands) before it lets go.
TEST_F(SysfsFixture, AChangeWaitsForTheOneUnderWay) {
  const struct {
    const char* slow;  // the change under way, and what it writes
    const char* slow_value;
    const char* later;  // the command that arrives meanwhile
    const char* end;    // what the device must end as
  } cases[] = {
      {"disable", "0", "enable", "1"},
      {"enable", "1", "disable", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.slow) + " overtaken by " + c.later);
    const int held = ::open(Devices().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::ostringstream out, err;
    auto later = std::async(std::launch::async, [&] {
      return devcon::Run({c.later, "*vid_1fc9*"}, root_.Path().string(), out,
                         err);
    });
    EXPECT_EQ(later.wait_for(std::chrono::milliseconds(300)),
              std::future_status::timeout);
    WriteFile(Devices() / "1-1" / "authorized", c.slow_value);
    ::close(held);
    ASSERT_EQ(later.wait_for(std::chrono::seconds(10)),
              std::future_status::ready);
    EXPECT_EQ(later.get(), devcon::kExitOk) << err.str();
    EXPECT_EQ(Authorized("1-1"), c.end);
  }
}

}  // namespace
