// dov-flash against the device simulator on pseudo-terminals: a whole
// update, and the ways an update can fail, each ending in its message and
// exit code and never in a hang.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cport/comm/comm_api.h"
#include "e2e_support.h"
#include "flash_options.h"

namespace e2e {
namespace {

using dov::flash::kExitBadImage;
using dov::flash::kExitOk;
using dov::flash::kExitOpenFailed;
using dov::flash::kExitTransferFailed;

// A whole update takes about 26.5 s; failures end within seconds.
constexpr milliseconds kUpdateBound(60000);
constexpr milliseconds kFailureBound(30000);

class FlashE2E : public ::testing::Test {
 protected:
  // dov-flash with --json; its exit code (nothing on a hang or a crash).
  std::optional<int> Flash(const std::vector<std::string>& args,
                           milliseconds bound) {
    std::vector<std::string> all{"--json"};
    all.insert(all.end(), args.begin(), args.end());
    Process flash(DOV_FLASH, all, prefix.Path(), prefix.Path() / "flash");
    const std::optional<int> code = flash.Wait(bound);
    report = flash.Output();
    errors = flash.Errors();
    return code;
  }
  std::string Field(const std::string& name) const {
    return JsonField(report, name);
  }

  TempPrefix prefix;
  std::string report;  // dov-flash's JSON
  std::string errors;  // its standard error
};

TEST_F(FlashE2E, FlashesTheSimulatorThroughItsChatter) {
  Simulator device(prefix, 41, {"--chatter"});
  ASSERT_TRUE(device.WaitReady());
  EXPECT_EQ(Flash({"--port", "41"}, kUpdateBound), kExitOk) << errors;
  EXPECT_EQ(Field("result"), "\"ok\"");
  EXPECT_EQ(Field("bytes_sent"), "20487");

  const std::string sim = device.Report(milliseconds(10000));
  ExpectCompleteUpdateThroughChatter(sim);
}

TEST_F(FlashE2E, AMissingPortFailsToOpen) {
  // No simulator, no link: COM200 would be /dev/ttyS199, which no machine
  // has.
  EXPECT_EQ(Flash({"--port", "200", "--no-reset"}, kFailureBound),
            kExitOpenFailed);
  EXPECT_EQ(Field("error"), "\"Unable to open com port (Error: 2)\"");
  // The dialog's text, then which device the name led to and why.
  EXPECT_NE(errors.find("dov-flash: Unable to open com port (Error: 2)\n"
                        "dov-flash: COM200 (/dev/ttyS199): No such file or "
                        "directory\n"),
            std::string::npos)
      << errors;
  EXPECT_EQ(Field("error_detail"),
            "\"COM200 (/dev/ttyS199): No such file or directory\"");
}

// The device console tool that fails (here: no device matches, in an empty
// device tree) does not stop the update, but its message and exit status
// are in the trace and the report instead of going unseen.
TEST_F(FlashE2E, AFailedResetIsWarnedOf) {
  const fs::path sysfs = prefix.Path() / "sys";
  fs::create_directories(sysfs / "bus" / "usb" / "devices");
  setenv("DOV_SYSFS_ROOT", sysfs.c_str(), 1);
  const fs::path trace = prefix.Path() / "trace";
  EXPECT_EQ(Flash({"--port", "200", "--log", trace.string()}, kFailureBound),
            kExitOpenFailed);
  unsetenv("DOV_SYSFS_ROOT");
  const auto json = nlohmann::json::parse(report, nullptr, false);
  ASSERT_TRUE(json.is_object()) << report;
  const std::string failed =
      "device console: disable *vid_1fc9* failed (exit code 3): devcon: no "
      "device matches *vid_1fc9*";
  ASSERT_EQ(json["warnings"].size(), 2u) << report;
  EXPECT_EQ(json["warnings"][0], failed);
  EXPECT_EQ(json["warnings"][1],
            "device console: enable *vid_1fc9* failed (exit code 3): devcon: "
            "no device matches *vid_1fc9*");
  EXPECT_NE(errors.find("dov-flash: warning: " + failed), std::string::npos)
      << errors;
  EXPECT_NE(ReadFile(trace).find(failed), std::string::npos);
}

// What the trace must not be written to is refused before anything is
// touched: the image, a link (to a victim), the port itself (by its link or
// its node), a FIFO that nobody reads (the open would wait for ever).
TEST_F(FlashE2E, TraceFilesThatMustNotBeWrittenAreRefused) {
  Simulator device(prefix, 50);
  ASSERT_TRUE(device.WaitReady());
  const fs::path image = prefix.Path() / "fw.bin";
  std::ofstream(image, std::ios::binary) << std::string(20480, '\x5a');
  const fs::path victim = prefix.Path() / "victim";
  std::ofstream(victim) << "precious\n";
  fs::create_symlink(victim, prefix.Path() / "link");
  const fs::path fifo = prefix.Path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string log;
    const char* reason;
  } cases[] = {
      {image.string(), "which this run reads"},
      {(prefix.Path() / "link").string(), "it is a symbolic link"},
      {device.Link().string(), "it is a symbolic link"},
      {device.Node(), "it is a serial port or terminal device"},
      {fifo.string(), "it is a FIFO that no process reads"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    EXPECT_EQ(Flash({"--port", "50", "--no-reset", "--image", image.string(),
                     "--log", c.log},
                    kFailureBound),
              dov::flash::kExitUsage);
    EXPECT_NE(errors.find("cannot write " + c.log + ": "), std::string::npos)
        << errors;
    EXPECT_NE(errors.find(c.reason), std::string::npos) << errors;
  }
  EXPECT_EQ(fs::file_size(image), 20480u);
  EXPECT_EQ(ReadFile(victim), "precious\n");
  // The device saw nothing of it.
  EXPECT_EQ(JsonField(device.Report(milliseconds(0)), "boot"), "\"none\"");
}

TEST_F(FlashE2E, ABadImageIsRefusedBeforeThePortIsTouched) {
  const fs::path image = prefix.Path() / "short.bin";
  std::ofstream(image) << "not an image";
  Simulator device(prefix, 42);
  ASSERT_TRUE(device.WaitReady());
  EXPECT_EQ(Flash({"--port", "42", "--image", image.string()}, kFailureBound),
            kExitBadImage);
  EXPECT_NE(Field("error").find("a raw image must be exactly 20480 bytes"),
            std::string::npos)
      << report;
  EXPECT_EQ(Field("duration_ms"), "0");
  // The simulator still waits for its host; it saw nothing.
  EXPECT_EQ(JsonField(device.Report(milliseconds(0)), "boot"), "\"none\"");
}

TEST_F(FlashE2E, ABusyPortFailsToOpen) {
  Simulator device(prefix, 43);
  ASSERT_TRUE(device.WaitReady());
  // Another program holds the port.
  setenv("WINEPREFIX", prefix.Path().c_str(), 1);
  cport::comm::CommApi& api = cport::comm::PlatformApi();
  const cport::comm::Handle held = api.CreateFileW(
      u"\\\\.\\COM43", cport::comm::kGenericRead | cport::comm::kGenericWrite,
      0, cport::comm::kOpenExisting, cport::comm::kFileFlagOverlapped);
  ASSERT_NE(held, cport::comm::kInvalidHandle);

  EXPECT_EQ(Flash({"--port", "43", "--no-reset"}, kFailureBound),
            kExitOpenFailed);
  EXPECT_EQ(Field("error"),
            "\"Unable to open com port (Error: " +
                std::to_string(cport::comm::kErrorAccessDenied) + ")\"");
  EXPECT_EQ(Field("error_detail").rfind("\"COM43 (" + device.Node() + "): ", 0),
            0u)
      << report;
  api.CloseHandle(held);
}

TEST_F(FlashE2E, TheDeviceVanishingMidStreamEndsTheTransfer) {
  Simulator device(prefix, 44, {"--vanish-after", "300"});
  ASSERT_TRUE(device.WaitReady());
  const std::string node = device.Node();  // the link goes with the device
  EXPECT_EQ(Flash({"--port", "44", "--no-reset"}, kFailureBound),
            kExitTransferFailed);
  EXPECT_EQ(Field("error"), "\"WriteFile function failed (Error: 5)\"");
  EXPECT_EQ(Field("error_detail"),
            "\"COM44 (" + node + "): " + std::strerror(EIO) + "\"");
  EXPECT_EQ(JsonField(device.Report(milliseconds(5000)), "end"),
            "\"vanished\"");
}

TEST_F(FlashE2E, ADeviceThatStopsReadingCutsAWriteShort) {
  Simulator device(prefix, 45, {"--stop-reading"});
  ASSERT_TRUE(device.WaitReady());
  EXPECT_EQ(Flash({"--port", "45", "--no-reset"}, kFailureBound),
            kExitTransferFailed);
  EXPECT_NE(Field("error").find("Write to the device cut short: "),
            std::string::npos)
      << report;
  EXPECT_NE(Field("error").find(" of 32 bytes sent"), std::string::npos);
}

TEST_F(FlashE2E, WaitsForAPortThatComesBackLate) {
  // The port appears 3.5 s after the start, after the pauses before the
  // open; the device then takes two writes and goes. That the transfer
  // began shows the open waited.
  Simulator device(prefix, 46,
                   {"--appear-after", "3500", "--vanish-after", "64"});
  EXPECT_EQ(
      Flash({"--port", "46", "--no-reset", "--wait-port", "10"}, kFailureBound),
      kExitTransferFailed)
      << errors;
  const std::string sim = device.Report(milliseconds(5000));
  EXPECT_EQ(JsonField(sim, "boot"), "\"received\"") << sim;
  EXPECT_EQ(JsonField(sim, "bytes_received"), "64");
}

TEST_F(FlashE2E, ReachesADeviceNodeThatHasNoLink) {
  // The simulator's link is in a directory of its own; dov-flash is told
  // only the node.
  TempPrefix elsewhere;
  Simulator device(elsewhere, 47, {"--vanish-after", "32"});
  ASSERT_TRUE(device.WaitReady());
  EXPECT_EQ(Flash({"--device", device.Node(), "--port", "9", "--no-reset"},
                  kFailureBound),
            kExitTransferFailed)
      << errors;
  EXPECT_EQ(Field("port"), "\"COM9\"");
  const std::string sim = device.Report(milliseconds(5000));
  EXPECT_EQ(JsonField(sim, "boot"), "\"received\"") << sim;
  EXPECT_EQ(JsonField(sim, "bytes_received"), "32");
  // The private directory is gone with dov-flash.
  EXPECT_TRUE(fs::is_empty(prefix.DosDevices()));
}

// Run from cron or a service with its error stream closed, dov-flash must not
// hand that number to the port: its progress text would go to the device.
// The image is the toolchain's Intel HEX of the device program, which must
// arrive as the built-in image.
TEST_F(FlashE2E, ClosedStandardErrorLeavesTheImageIntact) {
  const fs::path hex = prefix.Path() / "firmware.hex";
  const std::string objcopy = std::string(DOV_ARM_OBJCOPY) + " -O ihex " +
                              DOV_FIRMWARE_ELF + " " + hex.string();
  ASSERT_EQ(std::system(objcopy.c_str()), 0) << objcopy;
  Simulator device(prefix, 49);
  ASSERT_TRUE(device.WaitReady());
  Process flash("/bin/sh",
                {"-c", "exec \"$0\" \"$@\" 2>&-", DOV_FLASH, "--json", "--port",
                 "49", "--no-reset", "--image", hex.string()},
                prefix.Path(), prefix.Path() / "flash");
  EXPECT_EQ(flash.Wait(kUpdateBound), kExitOk) << flash.Output();
  const std::string sim = device.Report(milliseconds(10000));
  EXPECT_EQ(JsonField(sim, "bytes_received"), "20480") << sim;
  EXPECT_EQ(JsonField(sim, "intact"), "true");
}

// Ctrl+C in mid-stream: dov-flash stops at its next pause, says the device
// must be flashed again, removes its private DOS-device folder and releases
// the port, so that the next run, by an ordinary user too, opens it at once.
TEST_F(FlashE2E, AnInterruptedUpdateLeavesThePortToTheNextRun) {
  Simulator device(prefix, 48);
  ASSERT_TRUE(device.WaitReady());
  const fs::path node = device.Node();
  const fs::path tmp = prefix.Path() / "tmp";
  fs::create_directory(tmp);

  Process first("/usr/bin/env",
                {"TMPDIR=" + tmp.string(), DOV_FLASH, "--json", "--device",
                 node.string(), "--port", "9", "--no-reset"},
                prefix.Path(), prefix.Path() / "first");
  ASSERT_TRUE(WaitForText([&] { return first.Errors(); }, "progress: 10%",
                          kFailureBound))
      << first.Errors();
  first.Interrupt();
  EXPECT_EQ(first.Wait(milliseconds(5000)), dov::flash::kExitInterrupted + 2);
  EXPECT_EQ(JsonField(first.Output(), "result"), "\"interrupted\"");
  EXPECT_NE(first.Errors().find("interrupted by SIGINT: the device holds a "
                                "partial image and must be flashed again"),
            std::string::npos)
      << first.Errors();
  EXPECT_TRUE(fs::is_empty(tmp)) << "the private DOS-device folder is left";

  // The next run, as an ordinary user when the test can be one: the
  // simulator's terminal and the way to it are opened up to everyone.
  std::string program = DOV_FLASH;
  std::vector<std::string> args{"--json", "--port", "48", "--no-reset"};
  if (::geteuid() == 0) {
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534",
                               "--clear-groups", DOV_FLASH});
    program = "/usr/bin/setpriv";
    const auto read_write = fs::perms::owner_read | fs::perms::owner_write |
                            fs::perms::group_read | fs::perms::group_write |
                            fs::perms::others_read | fs::perms::others_write;
    fs::permissions(node, read_write);
    for (const fs::path& dir : {prefix.Path(), prefix.DosDevices()}) {
      fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
    }
  }
  Process second(program, args, prefix.Path(), prefix.Path() / "second");
  // The bar is shown once the port is open.
  const bool opened = WaitForText([&] { return second.Errors(); },
                                  "progress: 0%", kFailureBound);
  second.Interrupt();
  second.Wait(milliseconds(5000));
  EXPECT_TRUE(opened) << second.Errors() << second.Output();
  EXPECT_EQ(JsonField(second.Output(), "result"), "\"interrupted\"")
      << second.Output();
}

// Progress and messages whose reader went away (`| head -3`) and a trace
// that the disk cannot take: the update goes on to its end at its pace, and
// the report says what was lost.
TEST_F(FlashE2E, OutputThatCannotBeWrittenNeverStopsTheUpdate) {
  Simulator device(prefix, 51);
  ASSERT_TRUE(device.WaitReady());
  const fs::path out = prefix.Path() / "report.json";
  Process flash("/bin/bash",
                {"-c",
                 "report=$1; shift; \"$0\" \"$@\" 2>&1 >\"$report\" | "
                 "head -3; exit ${PIPESTATUS[0]}",
                 DOV_FLASH, out.string(), "--json", "--port", "51",
                 "--no-reset", "-v", "--log", "/dev/full"},
                prefix.Path(), prefix.Path() / "flash");
  EXPECT_EQ(flash.Wait(kUpdateBound), kExitOk) << flash.Errors();
  const auto json = nlohmann::json::parse(ReadFile(out), nullptr, false);
  ASSERT_TRUE(json.is_object()) << ReadFile(out);
  EXPECT_EQ(json["result"], "ok");
  const std::string warnings = json["warnings"].dump();
  EXPECT_NE(warnings.find("trace incomplete: No space left on device"),
            std::string::npos)
      << warnings;
  EXPECT_NE(warnings.find("bytes of progress and messages dropped (Broken "
                          "pipe)"),
            std::string::npos)
      << warnings;
  const std::string sim = device.Report(milliseconds(10000));
  EXPECT_EQ(JsonField(sim, "bytes_received"), "20480") << sim;
  EXPECT_EQ(JsonField(sim, "intact"), "true");
}

// Output nobody reads: the error stream a pipe of one page that is never
// read, the trace a FIFO whose reader never reads. No paced write waits on
// them, and neither does the end of the program.
TEST_F(FlashE2E, OutputThatIsNotReadHoldsUpNeitherTheUpdateNorItsEnd) {
  Simulator device(prefix, 52);
  ASSERT_TRUE(device.WaitReady());
  int stalled[2];
  ASSERT_EQ(::pipe(stalled), 0);
  ::fcntl(stalled[1], F_SETPIPE_SZ, 4096);
  const fs::path fifo = prefix.Path() / "trace-fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ::fcntl(reader, F_SETPIPE_SZ, 4096);
  // dov-flash's error stream is the pipe, through a link to its descriptor.
  fs::create_symlink("/dev/fd/" + std::to_string(stalled[1]),
                     prefix.Path() / "flash.err");
  Process flash(
      DOV_FLASH,
      {"--json", "--port", "52", "--no-reset", "-v", "--log", fifo.string()},
      prefix.Path(), prefix.Path() / "flash");
  const std::optional<int> code = flash.Wait(kUpdateBound);
  ::close(stalled[0]);
  ::close(stalled[1]);
  ::close(reader);
  EXPECT_EQ(code, kExitOk);
  const auto json = nlohmann::json::parse(flash.Output(), nullptr, false);
  ASSERT_TRUE(json.is_object()) << flash.Output();
  EXPECT_EQ(json["result"], "ok");
  const std::string warnings = json["warnings"].dump();
  EXPECT_NE(warnings.find("trace incomplete: "), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("bytes of progress and messages dropped"),
            std::string::npos)
      << warnings;
  const std::string sim = device.Report(milliseconds(10000));
  EXPECT_EQ(JsonField(sim, "intact"), "true") << sim;
  if (HostWriteRecord()) {
    EXPECT_EQ(JsonField(sim, "passed"), "true") << sim;
  }
}

}  // namespace
}  // namespace e2e
