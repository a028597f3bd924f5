#include "serial_ports.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "printable_text.h"
#include "selected_devices_tool.h"

namespace dov::flash {
namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  });
  return text;
}

std::string ComName(const TSerialPort& port) {
  return port.ComNumber ? "COM" + std::to_string(*port.ComNumber) : "-";
}

std::string Row(const TSerialPort& port) {
  std::ostringstream row;
  // What the device says is escaped: the columns are TAB-separated, and
  // the terminal must not take its text for commands.
  using tools::Printable;
  row << (port.Ours() ? "* " : "  ") << ComName(port) << '\t'
      << Printable(port.DeviceNode);
  if (port.Usb) {
    row << "\tusb " << Printable(port.VendorId) << ':'
        << Printable(port.ProductId);
    if (!port.Serial.empty()) row << "\tserial " << Printable(port.Serial);
    if (!port.Product.empty()) {
      row << "\t\"" << Printable(port.Product) << '"';
    }
  }
  return row.str();
}

}  // namespace

std::string TSerialPort::InstancePattern() const {
  if (!Usb || Serial.empty()) return {};
  return "@USB\\VID_" + Upper(VendorId) + "&PID_" + Upper(ProductId) + "\\" +
         Serial;
}

std::string TSerialPort::ResetPattern() const {
  const std::string instance = InstancePattern();
  return instance.empty() ? kDeviceHardwareId : instance;
}

std::string FormatPortList(const TPortList& list) {
  std::string text;
  for (const TSerialPort& port : list.Ports) text += Row(port) + "\n";
  if (list.Ports.empty()) text += "no serial ports found\n";
  if (!list.Note.empty()) text += "note: " + list.Note + "\n";
  if (std::any_of(list.Ports.begin(), list.Ports.end(),
                  [](const TSerialPort& p) { return p.Ours(); })) {
    text += std::string("* a device of the updater (USB ") + kDeviceVendorId +
            ":" + kDeviceProductId + ")\n";
  }
  return text;
}

std::string FormatPortListJson(const TPortList& list) {
  nlohmann::json ports = nlohmann::json::array();
  for (const TSerialPort& port : list.Ports) {
    nlohmann::json row{
        {"com", port.ComNumber ? nlohmann::json(ComName(port)) : nullptr},
        {"device", port.DeviceNode},
        {"usb", port.Usb},
        {"updater_device", port.Ours()},
    };
    if (port.Usb) {
      row["vendor_id"] = port.VendorId;
      row["product_id"] = port.ProductId;
      row["serial"] = port.Serial;
      row["product"] = port.Product;
    }
    ports.push_back(std::move(row));
  }
  nlohmann::json out{{"ports", std::move(ports)}};
  out["note"] =
      list.Note.empty() ? nlohmann::json(nullptr) : nlohmann::json(list.Note);
  return out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
         "\n";
}

std::optional<TSerialPort> FindBySerial(const TPortList& list,
                                        const std::string& serial,
                                        std::string& error) {
  std::vector<const TSerialPort*> found;
  std::string seen;
  for (const TSerialPort& port : list.Ports) {
    if (port.Usb && port.Serial == serial) found.push_back(&port);
    if (port.Usb && !port.Serial.empty()) {
      seen += "\n  " + port.Serial + " on " + ComName(port) + " (" +
              port.DeviceNode + ")";
    }
  }
  if (found.size() == 1 && !ToolCanName(found.front()->InstancePattern())) {
    error = "the serial number " + serial +
            " holds characters that cannot be given to the device console "
            "tool as they are, so the device cannot be reset alone; reset it "
            "by hand and flash it with --port and --no-reset";
  } else if (found.size() == 1 && found.front()->ComNumber) {
    return *found.front();
  } else if (found.size() == 1) {
    error = "the device with serial number " + serial + " (" +
            found.front()->DeviceNode +
            ") has no COM name: link it as comN in the DOS-device directory";
  } else {
    error = (found.empty() ? "no device has serial number "
                           : "more than one device has serial number ") +
            serial + "; USB serial numbers found:" +
            (seen.empty() ? std::string(" none") : seen);
    if (!list.Note.empty()) error += "\n(" + list.Note + ")";
  }
  return std::nullopt;
}

}  // namespace dov::flash
