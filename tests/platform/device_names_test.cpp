// Only DOS device names reach a device, and only terminals open.
#include "cport/comm/posix/device_names.h"

#include <sys/stat.h>

#include <fstream>

#include "cport/comm/posix/posix_comm.h"
#include "pty_fixture.h"

namespace cport::comm::test {
namespace {

using posix::ParseComName;

TEST(ComNameTest, AcceptsOnlyComWithAPlainNumberFrom1To255) {
  const struct {
    std::u16string name;
    std::optional<unsigned> number;
  } cases[] = {
      {u"\\\\.\\COM1", 1u},
      {u"\\\\.\\com3", 3u},
      {u"\\\\.\\cOm255", 255u},
      {u"\\\\.\\COM0", std::nullopt},
      {u"\\\\.\\COM256", std::nullopt},
      {u"\\\\.\\COM-1", std::nullopt},
      {u"\\\\.\\COM+1", std::nullopt},
      {u"\\\\.\\COM01", std::nullopt},
      {u"\\\\.\\COM1x", std::nullopt},
      {u"\\\\.\\COM 1", std::nullopt},
      {u"\\\\.\\COM", std::nullopt},
      {u"COM1", std::nullopt},
      {u"\\\\.\\LPT1", std::nullopt},
      {u"\\\\.\\..\\COM1", std::nullopt},
      {u"\\\\?\\COM1", std::nullopt},
      {u"\\\\.\\COM1\\", std::nullopt},
      {std::u16string(u"\\\\.\\COM1\0", 9), std::nullopt},
      {u"\\\\.\\COM\uFF11", std::nullopt},  // a full-width digit
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    EXPECT_EQ(ParseComName(c.name), c.number);
  }
}

class DeviceNameOpenTest : public ::testing::Test {
 protected:
  Handle Open(const std::u16string& name) {
    return api_.CreateFileW(name, kGenericRead | kGenericWrite, 0,
                            kOpenExisting, kFileFlagOverlapped);
  }
  PosixComm api_;
  TempPrefix prefix_;
};

TEST_F(DeviceNameOpenTest, MappedTerminalOpensInAnyCase) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  prefix_.Map(12, pty.SlavePath());
  for (const char16_t* name : {u"\\\\.\\COM12", u"\\\\.\\com12"}) {
    Handle h = Open(name);
    ASSERT_NE(h, kInvalidHandle) << api_.GetLastError();
    EXPECT_TRUE(api_.CloseHandle(h));
  }
}

TEST_F(DeviceNameOpenTest, AnythingButAMappedTerminalIsNotFound) {
  const std::filesystem::path root = prefix_.Root();
  std::ofstream(root / "plain") << "data";
  std::filesystem::create_directory(root / "folder");
  ASSERT_EQ(::mkfifo((root / "pipe").c_str(), 0600), 0);
  prefix_.Map(1, root / "plain");
  prefix_.Map(2, root / "folder");
  prefix_.Map(3, root / "pipe");
  prefix_.Map(4, "/dev/null");
  prefix_.Map(5, root / "missing");
  // Terminals by kind, but aliases and a factory, not ports: opening the
  // multiplexer makes a new pseudo-terminal.
  prefix_.Map(6, "/dev/ptmx");
  prefix_.Map(7, "/dev/tty");
  prefix_.Map(8, "/dev/console");

  const struct {
    const char* why;
    std::u16string name;
  } cases[] = {
      {"regular file", u"\\\\.\\COM1"},
      {"directory", u"\\\\.\\COM2"},
      {"fifo", u"\\\\.\\COM3"},
      {"character device, not a terminal", u"\\\\.\\COM4"},
      {"dangling link", u"\\\\.\\COM5"},
      {"pseudo-terminal multiplexer", u"\\\\.\\COM6"},
      {"controlling terminal", u"\\\\.\\COM7"},
      {"console", u"\\\\.\\COM8"},
      {"escape from the name space", u"\\\\.\\..\\x"},
      {"escape through dosdevices", u"\\\\.\\..\\..\\dev\\null"},
      {"a path", u"/dev/null"},
      {"a relative path", u"plain"},
      {"number 0", u"\\\\.\\COM0"},
      {"signed number", u"\\\\.\\COM-1"},
      {"trailing junk", u"\\\\.\\COM1x"},
      {"NUL inside", std::u16string(u"\\\\.\\COM1\0x", 10)},
      {"empty", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(Open(c.name), kInvalidHandle);
    EXPECT_EQ(api_.GetLastError(), kErrorFileNotFound);
  }
  // The pipe was never opened: a writer would find no reader.
  const int writer = ::open((root / "pipe").c_str(), O_WRONLY | O_NONBLOCK);
  EXPECT_EQ(writer, -1);
  EXPECT_EQ(errno, ENXIO);
}

TEST_F(DeviceNameOpenTest, UnmappedNumberFallsBackToTheSerialDevice) {
  // /dev/ttyS254 does not exist on any ordinary machine.
  EXPECT_EQ(Open(u"\\\\.\\COM255"), kInvalidHandle);
  EXPECT_EQ(api_.GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(posix::ResolveDeviceName(u"\\\\.\\COM255"), "/dev/ttyS254");
  EXPECT_EQ(posix::ResolveDeviceName(u"\\\\.\\COM1"), "/dev/ttyS0");
}

TEST_F(DeviceNameOpenTest, OnlyExistingDevicesOpen) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  prefix_.Map(6, pty.SlavePath());
  EXPECT_EQ(api_.CreateFileW(u"\\\\.\\COM6", kGenericRead | kGenericWrite, 0,
                             /*CREATE_ALWAYS*/ 2, kFileFlagOverlapped),
            kInvalidHandle);
  EXPECT_EQ(api_.GetLastError(), kErrorInvalidParameter);
}

}  // namespace
}  // namespace cport::comm::test
