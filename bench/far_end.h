// The far end of a pseudo-terminal under test.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_subject.h"

namespace bench {

// The first of the COM numbers the benchmark maps.
inline constexpr unsigned kFirstPort = 200;

// A fresh pseudo-terminal, mapped as \\.\COMn in a private WINEPREFIX;
// the benchmark plays its far end.
class Far {
 public:
  Far(const std::filesystem::path& devices, unsigned number) {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(fd_);
    ::unlockpt(fd_);
    names_.path = ::ptsname(fd_);
    std::string ascii = "\\\\.\\COM" + std::to_string(number);
    names_.comName.assign(ascii.begin(), ascii.end());
    link_ = devices / ("com" + std::to_string(number));
    std::filesystem::remove(link_);
    std::filesystem::create_symlink(names_.path, link_);
  }
  ~Far() {
    std::filesystem::remove(link_);
    ::close(fd_);
  }
  const PortNames& Names() const { return names_; }
  int Fd() const { return fd_; }

  // Reads until `total` bytes came (at most 60 s).
  void Drain(std::size_t total) const {
    std::vector<char> buffer(1 << 16);
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (std::size_t got = 0;
         got < total && std::chrono::steady_clock::now() < end;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) continue;
      const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
      if (n > 0) got += static_cast<std::size_t>(n);
    }
  }

 private:
  int fd_ = -1;
  PortNames names_;
  std::filesystem::path link_;
};

}  // namespace bench
