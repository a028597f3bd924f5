#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cport/comm/standard_streams.h"
#include "devcon.h"

int main(int argc, char** argv) {
  if (!cport::comm::KeepStandardStreamsOpen()) return devcon::kExitFailed;
  const char* root = std::getenv("DOV_SYSFS_ROOT");
  return devcon::Run(std::vector<std::string>(argv + 1, argv + argc),
                     root != nullptr && *root != '\0' ? root : "/sys",
                     std::cout, std::cerr);
}
