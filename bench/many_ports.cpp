#include "many_ports.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench_subject.h"
#include "far_end.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kPorts = 8;
constexpr std::size_t kPiece = 32;
constexpr std::size_t kPerPort = 256 << 10;
constexpr double kSettleSeconds = 0.2;

using Factory = std::function<std::unique_ptr<Subject>()>;

std::set<int> ThreadIds() {
  std::set<int> ids;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') ids.insert(std::atoi(entry->d_name));
    }
    ::closedir(dir);
  }
  return ids;
}

// Voluntary and involuntary context switches of one thread so far: each
// time it slept or was put aside.
long Switches(int tid) {
  std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
  long total = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.find("ctxt_switches:") != std::string::npos)
      total += std::atol(line.substr(line.find(':') + 1).c_str());
  }
  return total;
}

// What one thread has cost so far: its context switches and its time on a
// CPU, in user space and in the kernel (schedstat, in nanoseconds).
struct Load {
  double switches = 0;
  double cpuNs = 0;

  static Load Of(int tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    Load load;
    stat >> load.cpuNs;
    load.switches = static_cast<double>(Switches(tid));
    return load;
  }
  Load& operator+=(const Load& other) {
    switches += other.switches;
    cpuNs += other.cpuNs;
    return *this;
  }
  Load operator-(const Load& other) const {
    return {switches - other.switches, cpuNs - other.cpuNs};
  }
};

// The roles of the threads that carry the traffic of the ports.
enum Role { kWriter, kReader, kDeviceThread, kEventThread, kUiThread, kRoles };
constexpr const char* kRoleNames[kRoles] = {"writer", "far end", "device",
                                            "event", "UI"};

// The load of each role while the ports were written, per written piece.
struct Profile {
  Load roles[kRoles];
  double notifications = 0;  // transmit-empty notifications handled
};

double ProcessCpuMs() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 +
         static_cast<double>(t.tv_nsec) * 1e-6;
}

// Eight subjects of one kind, each on its own pseudo-terminal, with the
// threads each one started when it opened.
class Ports {
 public:
  Ports(const std::filesystem::path& devices, const Factory& make) {
    for (unsigned i = 0; i < kPorts; ++i) {
      fars_.push_back(std::make_unique<Far>(devices, kFirstPort + 1 + i));
      subjects_.push_back(make());
      const std::set<int> before = ThreadIds();
      subjects_.back()->Open(fars_.back()->Names());
      std::vector<int> started;
      for (int id : ThreadIds())
        if (!before.count(id)) started.push_back(id);
      threads_.push_back(std::move(started));
    }
  }
  ~Ports() {
    for (auto& subject : subjects_) subject->Close();
  }

  // Each port written by a thread of its own, `bytes` each, while this
  // thread serves the first subject's notifications; MB/s summed. With
  // `profile`, what each role of thread cost per written piece.
  double Throughput(unsigned ports, std::size_t bytes,
                    Profile* profile = nullptr) {
    // The port's threads, in the order they started: the device's own
    // thread when the device opened, then the event thread.
    auto portLoads = [&] {
      Profile now;
      now.roles[kUiThread] = Load::Of(::gettid());
      for (unsigned i = 0; i < ports; ++i) {
        for (std::size_t k = 0; k < threads_[i].size() && k < 2; ++k)
          now.roles[kDeviceThread + k] += Load::Of(threads_[i][k]);
        now.notifications += static_cast<double>(subjects_[i]->Notifications());
      }
      return now;
    };
    const Profile before = portLoads();
    // The writers and readers live for this run only: each adds what it
    // cost as it ends.
    std::mutex lock;
    Profile spent;
    auto account = [&](Role role) {
      const Load load = Load::Of(::gettid());
      std::lock_guard guard(lock);
      spent.roles[role] += load;
    };
    const auto start = Clock::now();
    std::atomic<unsigned> running{ports};
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < ports; ++i) {
      threads.emplace_back([&, i] {
        fars_[i]->Drain(bytes);
        account(kReader);
      });
      threads.emplace_back([&, i] {
        subjects_[i]->WriteAll(kPiece, bytes);
        account(kWriter);
        --running;
      });
    }
    while (running > 0) subjects_[0]->Idle(0.005);
    for (auto& thread : threads) thread.join();
    const double seconds =
        std::chrono::duration<double>(Clock::now() - start).count();
    if (profile != nullptr) {
      const Profile after = portLoads();
      const double pieces = static_cast<double>(bytes / kPiece * ports);
      for (int role = kDeviceThread; role <= kUiThread; ++role)
        spent.roles[role] = after.roles[role] - before.roles[role];
      for (Load& load : spent.roles) {
        load.switches /= pieces;
        load.cpuNs /= pieces;
      }
      spent.notifications =
          (after.notifications - before.notifications) / pieces;
      *profile = spent;
    }
    return static_cast<double>(bytes * ports) / seconds / 1e6;
  }

  // The context switches of the threads that ports 1..7 started, while
  // only port 0 carries traffic. The notifications and hand-backs still due
  // from earlier traffic on every port are served first, so that what is
  // counted is what port 0's traffic alone causes.
  long OthersWokenByFirst() {
    subjects_[0]->Idle(kSettleSeconds);
    std::vector<long> before;
    for (unsigned i = 1; i < kPorts; ++i)
      for (int tid : threads_[i]) before.push_back(Switches(tid));
    Throughput(1, 64 << 10);
    long woken = 0;
    std::size_t k = 0;
    for (unsigned i = 1; i < kPorts; ++i)
      for (int tid : threads_[i]) woken += Switches(tid) - before[k++];
    return woken;
  }

  double IdleCpuMs(double seconds) {
    const double cpu = ProcessCpuMs();
    subjects_[0]->Idle(seconds);
    return ProcessCpuMs() - cpu;
  }

 private:
  std::vector<std::unique_ptr<Far>> fars_;
  std::vector<std::unique_ptr<Subject>> subjects_;
  std::vector<std::vector<int>> threads_;
};

struct ManyFigures {
  double mbps = 0;
  double idleCpuMs = 0;
  long othersWoken = 0;
  Profile profile;  // of the first pass
};

void PrintProfiles(const std::vector<std::string>& names,
                   const std::vector<ManyFigures>& figures) {
  std::printf(
      "\nper 32-byte write, first pass: context switches / CPU us of "
      "each thread role\n%-22s",
      "");
  for (const char* role : kRoleNames) std::printf(" %14s", role);
  std::printf(" %14s\n", "TX-empty calls");
  for (std::size_t k = 0; k < names.size(); ++k) {
    const Profile& p = figures[k].profile;
    std::printf("%-22s", names[k].c_str());
    for (const Load& load : p.roles)
      std::printf("    %.3f/%5.2f", load.switches, load.cpuNs / 1e3);
    std::printf(" %14.4f\n", p.notifications);
  }
}

}  // namespace

void RunManyPorts(const std::filesystem::path& devices, int passes,
                  double idleSeconds) {
  const std::vector<std::pair<std::string, Factory>> kinds = {
      {"raw termios", [] { return MakeRawSubject(); }},
      {"TComPort", [] { return MakeComponentSubject(cport::smThreadSync); }},
  };
  std::vector<ManyFigures> figures(kinds.size());
  for (int pass = 0; pass < passes; ++pass) {
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      Ports ports(devices, kinds[k].second);
      figures[k].mbps =
          std::max(figures[k].mbps,
                   ports.Throughput(kPorts, kPerPort,
                                    pass == 0 ? &figures[k].profile : nullptr));
      if (pass == 0) {
        figures[k].othersWoken = ports.OthersWokenByFirst();
        figures[k].idleCpuMs = ports.IdleCpuMs(idleSeconds);
      }
    }
  }
  std::printf("\n%u ports at once        %14s %18s %16s\n", kPorts,
              "32 B MB/s sum", "idle CPU ms", "others woken");
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    std::printf("%-22s %14.2f %18.2f %16ld\n", kinds[k].first.c_str(),
                figures[k].mbps, figures[k].idleCpuMs, figures[k].othersWoken);
  }
  std::printf("TComPort vs raw termios, %u ports: 32 B %.2f\n", kPorts,
              figures[0].mbps / figures[1].mbps);
  std::vector<std::string> names;
  for (const auto& kind : kinds) names.push_back(kind.first);
  PrintProfiles(names, figures);
}

}  // namespace bench
