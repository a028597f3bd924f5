// A pseudo-terminal pair for backend tests: the test drives the far end
// (the master), the backend opens the near end (the slave) as \\.\COMn
// through a comN link in a temporary DOS-device directory.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cport/comm/comm_api.h"
#include "support/temp_dir.h"

namespace cport::comm::test {

// A temporary WINEPREFIX whose dosdevices directory the test fills.
class TempPrefix {
 public:
  TempPrefix() {
    std::filesystem::create_directories(Devices());
    previous_ = std::getenv("WINEPREFIX") ? std::getenv("WINEPREFIX") : "";
    ::setenv("WINEPREFIX", root_.Path().c_str(), 1);
  }
  ~TempPrefix() {
    if (previous_.empty()) {
      ::unsetenv("WINEPREFIX");
    } else {
      ::setenv("WINEPREFIX", previous_.c_str(), 1);
    }
  }
  std::filesystem::path Devices() const { return root_ / "dosdevices"; }
  std::filesystem::path Root() const { return root_.Path(); }
  // Makes dosdevices/comN point at `target`.
  void Map(unsigned n, const std::filesystem::path& target) const {
    std::filesystem::path link = Devices() / ("com" + std::to_string(n));
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    std::filesystem::create_symlink(target, link);
  }

 private:
  dov::test::TempDir root_{"dov-prefix"};
  std::string previous_;
};

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      slave_ = ::ptsname(master_);
    }
  }
  ~PtyPair() { CloseFar(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && !slave_.empty(); }
  const std::string& SlavePath() const { return slave_; }
  int Far() const { return master_; }
  void CloseFar() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void Send(const std::string& bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }

  // Reads from the far end until `count` bytes came or `ms` passed.
  std::string Receive(std::size_t count, int ms = 2000) const {
    std::string out;
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd fd{master_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[4096];
      const ssize_t n =
          ::read(master_, buffer, std::min(sizeof buffer, count - out.size()));
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }

  // Reads and drops whatever the far end has now.
  std::size_t Drain() const {
    std::size_t total = 0;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(master_, buffer, sizeof buffer)) > 0) {
      total += static_cast<std::size_t>(n);
    }
    return total;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

inline std::u16string ComName(unsigned n) {
  std::string ascii = "\\\\.\\COM" + std::to_string(n);
  return std::u16string(ascii.begin(), ascii.end());
}

// Milliseconds since `start`.
inline long long MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace cport::comm::test
