#include "cport/comm/posix/posix_comm.h"

#include <memory>

#include "cport/comm/posix/device_names.h"
#include "cport/comm/posix/kernel_objects.h"
#include "cport/comm/posix/serial_device.h"

namespace cport::comm {
namespace {

using posix::SerialDevice;

// Runs a call on the device behind `h` and turns its number into the Win32
// outcome: true, or false with the number left for GetLastError.
template <class Call>
bool OnDevice(Handle h, Call call) {
  std::shared_ptr<SerialDevice> device = posix::LookupAs<SerialDevice>(h);
  const std::uint32_t error = device ? call(*device) : kErrorInvalidHandle;
  if (error == 0) return true;
  posix::SetLastErrorValue(error);
  return false;
}

}  // namespace

Handle PosixComm::CreateFileW(const std::u16string& path, std::uint32_t access,
                              std::uint32_t shareMode,
                              std::uint32_t creationDisposition,
                              std::uint32_t /*flags*/) {
  std::uint32_t error = kErrorFileNotFound;
  std::shared_ptr<SerialDevice> device;
  if (creationDisposition != kOpenExisting) {
    error = kErrorInvalidParameter;
  } else if (std::optional<std::string> file = posix::ResolveDeviceName(path)) {
    device = SerialDevice::Open(*file, access, shareMode == 0, &error);
  }
  if (!device) {
    posix::SetLastErrorValue(error);
    return kInvalidHandle;
  }
  return posix::Register(std::move(device));
}

bool PosixComm::SetupComm(Handle h, std::uint32_t inQueue,
                          std::uint32_t outQueue) {
  return OnDevice(h,
                  [&](SerialDevice& d) { return d.Setup(inQueue, outQueue); });
}

bool PosixComm::SetCommState(Handle h, const Dcb& dcb) {
  return OnDevice(h, [&](SerialDevice& d) { return d.SetState(dcb); });
}

bool PosixComm::SetCommTimeouts(Handle h, const CommTimeouts& timeouts) {
  return OnDevice(h, [&](SerialDevice& d) { return d.SetTimeouts(timeouts); });
}

bool PosixComm::SetCommMask(Handle h, std::uint32_t mask) {
  return OnDevice(h, [&](SerialDevice& d) { return d.SetMask(mask); });
}

bool PosixComm::WaitCommEvent(Handle h, std::uint32_t* mask, Overlapped* ov) {
  return OnDevice(h, [&](SerialDevice& d) { return d.WaitEvent(mask, ov); });
}

bool PosixComm::ClearCommError(Handle h, std::uint32_t* errors, ComStat* stat) {
  return OnDevice(h,
                  [&](SerialDevice& d) { return d.ClearError(errors, stat); });
}

bool PosixComm::GetCommModemStatus(Handle h, std::uint32_t* status) {
  return OnDevice(h, [&](SerialDevice& d) { return d.ModemStatus(status); });
}

bool PosixComm::EscapeCommFunction(Handle h, std::uint32_t func) {
  return OnDevice(h, [&](SerialDevice& d) { return d.Escape(func); });
}

bool PosixComm::TransmitCommChar(Handle h, char ch) {
  return OnDevice(h, [&](SerialDevice& d) {
    return d.TransmitChar(static_cast<std::uint8_t>(ch));
  });
}

bool PosixComm::PurgeComm(Handle h, std::uint32_t flags) {
  return OnDevice(h, [&](SerialDevice& d) { return d.Purge(flags); });
}

bool PosixComm::WriteFile(Handle h, const void* buffer, std::uint32_t count,
                          std::uint32_t* written, Overlapped* ov) {
  return OnDevice(
      h, [&](SerialDevice& d) { return d.Write(buffer, count, written, ov); });
}

bool PosixComm::ReadFile(Handle h, void* buffer, std::uint32_t count,
                         std::uint32_t* read, Overlapped* ov) {
  return OnDevice(
      h, [&](SerialDevice& d) { return d.Read(buffer, count, read, ov); });
}

bool PosixComm::GetOverlappedResult(Handle h, Overlapped* ov,
                                    std::uint32_t* transferred, bool wait) {
  // The outcome lives in the record, not in the device: a record whose
  // handle has been closed since (closing ends what was pending, as
  // aborted), or one never issued at all, still gives its status and count.
  // Only a wait for a record that still runs needs an object: the device
  // when it is open, else its event (without one, the device is gone).
  std::uint32_t status = posix::RecordStatus(*ov);
  if (wait && status == kStatusPending) {
    if (std::shared_ptr<SerialDevice> device =
            posix::LookupAs<SerialDevice>(h)) {
      status = device->Result(ov, transferred, true);
      if (status == kErrorSuccess) return true;
      SetLastError(status);
      return false;
    }
  }
  if (status == kStatusPending) {
    if (!wait) {
      SetLastError(kErrorIoIncomplete);
      return false;
    }
    if (ov->hEvent == 0) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
    if (WaitForSingleObject(ov->hEvent, kInfinite) != kWaitObject0)
      return false;
    status = posix::RecordStatus(*ov);
  }
  if (transferred != nullptr)
    *transferred = static_cast<std::uint32_t>(ov->InternalHigh);
  if (status == kErrorSuccess) return true;
  SetLastError(status);
  return false;
}

CommApi& PlatformApi() {
  static PosixComm api;
  return api;
}

}  // namespace cport::comm
