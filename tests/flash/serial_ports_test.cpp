// The serial port list from a sysfs tree laid out as the kernel lays it
// out, the COM names from the DOS-device links, and picking one device by
// its USB serial number.
#include "serial_ports.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "selected_devices_tool.h"
#include "support/temp_dir.h"

namespace dov::flash {
namespace {
namespace fs = std::filesystem;

class SerialPortsTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Sys() / "class" / "tty");
    fs::create_directories(root_ / "wine" / "dosdevices");
    ::setenv("DOV_SYSFS_ROOT", Sys().c_str(), 1);
    ::setenv("WINEPREFIX", (root_ / "wine").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("DOV_SYSFS_ROOT");
    ::unsetenv("WINEPREFIX");
  }

  fs::path Sys() const { return root_ / "sys"; }

  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
  }

  // A tty below `device` (a folder under devices/), linked from class/tty.
  void AddTty(const std::string& name, const fs::path& device) {
    const fs::path tty = Sys() / "devices" / device / "tty" / name;
    fs::create_directories(tty);
    fs::create_directory_symlink(fs::relative(Sys() / "devices" / device, tty),
                                 tty / "device");
    fs::create_directory_symlink(fs::relative(tty, Sys() / "class" / "tty"),
                                 Sys() / "class" / "tty" / name);
  }

  // A USB serial port: the device with its ids, the tty on its interface.
  void AddUsbPort(const std::string& tty, const std::string& usb,
                  const std::string& vendor, const std::string& serial,
                  const std::string& product = "0083",
                  const std::string& name = "Dora VIV") {
    const fs::path device = fs::path("pci0000:00/usb1") / usb;
    fs::create_directories(Sys() / "devices" / device / (usb + ":1.0"));
    Write(Sys() / "devices" / device / "idVendor", vendor);
    Write(Sys() / "devices" / device / "idProduct", product);
    if (!serial.empty()) Write(Sys() / "devices" / device / "serial", serial);
    Write(Sys() / "devices" / device / "product", name);
    AddTty(tty, device / (usb + ":1.0"));
  }

  void Link(int com, const std::string& target) {
    fs::create_symlink(
        target, root_ / "wine" / "dosdevices" / ("com" + std::to_string(com)));
  }

  dov::test::TempDir root_{"dov-ports"};
};

TEST_F(SerialPortsTest, ListsPortsWithTheirComNamesAndUsbIds) {
  AddUsbPort("ttyACM0", "1-1", "1fc9", "DORA-0001");
  AddUsbPort("ttyACM1", "1-2", "1FC9", "DORA-0002");
  AddUsbPort("ttyUSB0", "1-3", "0403", "FT1");
  AddTty("ttyS0", "platform/serial8250");  // a UART slot with nothing in it
  Write(Sys() / "devices/platform/serial8250/tty/ttyS0/type", "0");
  AddTty("ttyS1", "pnp/00:01");  // a real UART, COM2 by the fallback
  Write(Sys() / "devices/pnp/00:01/tty/ttyS1/type", "4");
  Link(7, "/dev/ttyACM1");
  Link(5, "/dev/ttyACM0");

  const TPortList list = ListSerialPorts();
  ASSERT_EQ(list.Ports.size(), 4u) << FormatPortList(list);
  const struct {
    const char* node;
    int com;  // 0: none
    bool ours;
    const char* serial;
  } expected[] = {{"/dev/ttyS1", 2, false, ""},
                  {"/dev/ttyACM0", 5, true, "DORA-0001"},
                  {"/dev/ttyACM1", 7, true, "DORA-0002"},
                  {"/dev/ttyUSB0", 0, false, "FT1"}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].node);
    const TSerialPort& port = list.Ports[i];
    EXPECT_EQ(port.DeviceNode, expected[i].node);
    EXPECT_EQ(port.ComNumber.value_or(0), unsigned(expected[i].com));
    EXPECT_EQ(port.Ours(), expected[i].ours);
    EXPECT_EQ(port.Serial, expected[i].serial);
  }
  EXPECT_EQ(list.Ports[2].VendorId, "1fc9");
  EXPECT_EQ(list.Ports[2].InstancePattern(),
            "@USB\\VID_1FC9&PID_0083\\DORA-0002");

  const std::string text = FormatPortList(list);
  EXPECT_NE(text.find("* COM5\t/dev/ttyACM0\tusb 1fc9:0083\tserial DORA-0001\t"
                      "\"Dora VIV\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  -\t/dev/ttyUSB0\tusb 0403:0083"), std::string::npos);

  const auto json = nlohmann::json::parse(FormatPortListJson(list));
  ASSERT_EQ(json["ports"].size(), 4u);
  EXPECT_EQ(json["ports"][0]["com"], "COM2");
  EXPECT_EQ(json["ports"][0]["usb"], false);
  EXPECT_EQ(json["ports"][1]["updater_device"], true);
  EXPECT_EQ(json["ports"][1]["serial"], "DORA-0001");
  EXPECT_TRUE(json["ports"][3]["com"].is_null());
  EXPECT_TRUE(json["note"].is_null());
}

// Only the updater's own device is marked and taken by --all: another
// device of its vendor (a debug probe) is not. What devices say reaches
// the terminal escaped, and the columns stay intact.
TEST_F(SerialPortsTest, OnlyTheUpdatersDeviceIsOursAndDeviceTextIsEscaped) {
  AddUsbPort("ttyACM0", "1-1", "1fc9", "DORA\x1b[2J", "0083",
             "Dora\tVIV\x1b]0;owned\x07");
  AddUsbPort("ttyACM1", "1-2", "1fc9", "PROBE-1", "0090", "Debug probe");
  const TPortList list = ListSerialPorts();
  ASSERT_EQ(list.Ports.size(), 2u);
  EXPECT_TRUE(list.Ports[0].Ours());
  EXPECT_FALSE(list.Ports[1].Ours());
  const std::string text = FormatPortList(list);
  EXPECT_NE(text.find("* -\t/dev/ttyACM0\tusb 1fc9:0083\tserial DORA\\x1B[2J"
                      "\t\"Dora\\x09VIV\\x1B]0;owned\\x07\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  -\t/dev/ttyACM1\tusb 1fc9:0090"), std::string::npos);
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

// An attribute that is no small regular file (a link to an endless device,
// a pipe nobody writes, a huge file) is taken as missing: the list neither
// aborts nor waits.
TEST_F(SerialPortsTest, AttributesThatAreNoSmallFilesAreTakenAsMissing) {
  AddUsbPort("ttyACM0", "1-1", "1fc9", "DORA-0001");
  const fs::path usb = Sys() / "devices/pci0000:00/usb1/1-1";
  fs::remove(usb / "serial");
  fs::create_symlink("/dev/zero", usb / "serial");
  fs::remove(usb / "product");
  ASSERT_EQ(::mkfifo((usb / "product").c_str(), 0600), 0);
  AddUsbPort("ttyACM1", "1-2", "1fc9", std::string(64 * 1024, 'x'));

  const TPortList list = ListSerialPorts();
  ASSERT_EQ(list.Ports.size(), 2u) << FormatPortList(list);
  for (const TSerialPort& port : list.Ports) {
    SCOPED_TRACE(port.DeviceNode);
    EXPECT_TRUE(port.Ours());
    EXPECT_EQ(port.Serial, "");
  }
  EXPECT_EQ(list.Ports[0].Product, "");
  EXPECT_EQ(list.Ports[1].Product, "Dora VIV");
}

TEST_F(SerialPortsTest, NoSysfsIsSaidNotHidden) {
  fs::remove_all(Sys());
  const TPortList list = ListSerialPorts();
  EXPECT_TRUE(list.Ports.empty());
  EXPECT_NE(FormatPortList(list).find("note: cannot read "), std::string::npos);
}

TEST_F(SerialPortsTest, SerialNumberPicksOneDeviceOrSaysWhatItFound) {
  AddUsbPort("ttyACM0", "1-1", "1fc9", "DORA-0001");
  AddUsbPort("ttyACM1", "1-2", "1fc9", "DORA-0002");
  AddUsbPort("ttyACM2", "1-3", "1fc9", "DORA-0002");
  AddUsbPort("ttyACM3", "1-4", "1fc9", "DORA-0004");
  AddUsbPort("ttyACM4", "1-5", "1fc9", "DORA\"5");
  AddUsbPort("ttyACM5", "1-6", "1fc9",
             "DORA\x01"
             "6");
  Link(5, "/dev/ttyACM0");
  Link(8, "/dev/ttyACM4");
  Link(9, "/dev/ttyACM5");
  const TPortList list = ListSerialPorts();

  std::string error;
  const auto found = FindBySerial(list, "DORA-0001", error);
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(found->ComNumber, 5u);

  const struct {
    const char* serial;
    const char* message;
  } refused[] = {
      {"DORA-0009",
       "no device has serial number DORA-0009; USB serial "
       "numbers found:\n  DORA-0001 on COM5 (/dev/ttyACM0)\n"
       "  DORA\"5 on COM8 (/dev/ttyACM4)\n"
       "  DORA\x01"
       "6 on COM9 (/dev/ttyACM5)\n"
       "  DORA-0002 on - (/dev/ttyACM1)"},
      {"DORA-0002", "more than one device has serial number DORA-0002"},
      {"DORA-0004",
       "the device with serial number DORA-0004 (/dev/ttyACM3) "
       "has no COM name"},
      {"dora-0001", "no device has serial number dora-0001"},
      {"D*", "no device has serial number D*"},
      {"DORA\"5", "the serial number DORA\"5 holds characters that cannot"},
      {"DORA\x01"
       "6",
       "the serial number DORA\x01"
       "6 holds characters"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.serial);
    EXPECT_FALSE(FindBySerial(list, c.serial, error));
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
  }
}

// The reset of the selected devices keeps the update's two verbs and names
// each device alone, as written: quoted, so a blank in a serial number
// cannot split the tool's arguments, and literal, so '*', '?' and case
// name no other device.
TEST(SelectedDevicesTool, NamesEachSelectedDeviceAsWritten) {
  struct TRecorder : TToolLauncher {
    void Start(const std::u16string& parameters) override {
      calls.push_back(parameters);
    }
    std::vector<std::u16string> calls;
  } recorder;
  TSelectedDevicesTool tool(recorder, {"@USB\\VID_1FC9&PID_0083\\DORA 7",
                                       "@USB\\VID_1FC9&PID_0083\\d*"});
  tool.Start(kDisableDevice);
  tool.Start(kEnableDevice);
  EXPECT_EQ(recorder.calls,
            (std::vector<std::u16string>{
                u"--exact disable \"@USB\\VID_1FC9&PID_0083\\DORA 7\"",
                u"--exact disable \"@USB\\VID_1FC9&PID_0083\\d*\"",
                u"--exact enable \"@USB\\VID_1FC9&PID_0083\\DORA 7\"",
                u"--exact enable \"@USB\\VID_1FC9&PID_0083\\d*\""}));
  // The tool gets each pattern as one argument.
  EXPECT_EQ(ToolArguments(recorder.calls.front()),
            (std::vector<std::string>{"--exact", "disable",
                                      "@USB\\VID_1FC9&PID_0083\\DORA 7"}));
}

}  // namespace
}  // namespace dov::flash
