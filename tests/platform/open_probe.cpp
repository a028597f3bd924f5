// Tries to open \\.\COM<n> through the backend, as a second process would;
// exits with 0 when it could, else with the error number.
#include <string>

#include "cport/comm/comm_api.h"

int main(int argc, char** argv) {
  if (argc != 2) return 255;
  std::string ascii = std::string("\\\\.\\COM") + argv[1];
  cport::comm::CommApi& api = cport::comm::PlatformApi();
  cport::comm::Handle h = api.CreateFileW(
      std::u16string(ascii.begin(), ascii.end()),
      cport::comm::kGenericRead | cport::comm::kGenericWrite, 0,
      cport::comm::kOpenExisting, cport::comm::kFileFlagOverlapped);
  if (h == cport::comm::kInvalidHandle)
    return static_cast<int>(api.GetLastError());
  api.CloseHandle(h);
  return 0;
}
