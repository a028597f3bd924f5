#include <windows.h>
// after windows.h
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cport/fw/text.h"
#include "serial_ports.h"

namespace dov::flash {
namespace {

std::string Narrow(const std::wstring& wide) {
  return cport::fw::ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return text;
}

// The text after `key` in `id` ("VID_" in "USB\VID_1FC9&PID_0083\SN"),
// up to the next '&' or '\'.
std::string Field(const std::string& id, const std::string& key) {
  const auto at = id.find(key);
  if (at == std::string::npos) return {};
  const auto start = at + key.size();
  return id.substr(start, id.find_first_of("&\\", start) - start);
}

std::wstring InstanceId(HDEVINFO set, SP_DEVINFO_DATA& data) {
  std::vector<wchar_t> buffer(512);
  DWORD needed = 0;
  if (!SetupDiGetDeviceInstanceIdW(set, &data, buffer.data(),
                                   static_cast<DWORD>(buffer.size()),
                                   &needed)) {
    return {};
  }
  return buffer.data();
}

std::wstring Property(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property) {
  std::vector<BYTE> buffer(1024);
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(
          set, &data, property, &type, buffer.data(),
          static_cast<DWORD>(buffer.size()) - 2, nullptr)) {
    return {};
  }
  return reinterpret_cast<const wchar_t*>(buffer.data());
}

// The "PortName" value of the device's own registry key (COM3).
std::wstring PortName(HDEVINFO set, SP_DEVINFO_DATA& data) {
  HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                  KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t name[64] = {};
  DWORD size = sizeof(name) - sizeof(wchar_t);
  DWORD type = 0;
  const LONG status = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                       reinterpret_cast<BYTE*>(name), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? name : L"";
}

TSerialPort Describe(HDEVINFO set, SP_DEVINFO_DATA& data) {
  TSerialPort port;
  const std::string name = Narrow(PortName(set, data));
  port.DeviceNode = name;
  if (name.size() > 3 && (name.rfind("COM", 0) == 0)) {
    const unsigned long number = std::strtoul(name.c_str() + 3, nullptr, 10);
    if (number >= 1 && number <= 255) {
      port.ComNumber = static_cast<unsigned>(number);
    }
  }
  // USB\VID_1FC9&PID_0083\SERIAL; a composite device's interface has an
  // instance id of its own, its serial number stays on the parent.
  const std::string id = Narrow(InstanceId(set, data));
  const std::string vendor = Field(id, "VID_");
  const std::string product = Field(id, "PID_");
  if (id.rfind("USB\\", 0) == 0 && !vendor.empty() && !product.empty()) {
    port.Usb = true;
    port.VendorId = Lower(vendor);
    port.ProductId = Lower(product);
    const auto last = id.rfind('\\');
    const std::string tail = id.substr(last + 1);
    if (tail.find('&') == std::string::npos) port.Serial = tail;
    port.Product = Narrow(Property(set, data, SPDRP_DEVICEDESC));
  }
  return port;
}

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

std::string ComDevicePath(unsigned number) {
  return "\\\\.\\COM" + std::to_string(number);
}

TPortList ListSerialPorts() {
  TPortList list;
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr,
                                      DIGCF_PRESENT);
  if (set != INVALID_HANDLE_VALUE) {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
      TSerialPort port = Describe(set, data);
      if (!port.DeviceNode.empty()) list.Ports.push_back(std::move(port));
    }
    SetupDiDestroyDeviceInfoList(set);
  }
  std::sort(list.Ports.begin(), list.Ports.end(),
            [](const TSerialPort& a, const TSerialPort& b) {
              return a.ComNumber.value_or(256) < b.ComNumber.value_or(256);
            });
  if (list.Ports.empty() && UnderWine()) {
    list.Note =
        "running under Wine, whose SetupAPI lists no serial ports; the COM "
        "ports mapped in its dosdevices directory still open";
  }
  return list;
}

}  // namespace dov::flash
