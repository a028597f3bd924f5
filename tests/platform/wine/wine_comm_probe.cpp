// A Windows program that the Wine tests drive from Linux. Each command opens
// \\.\COM<n> through the platform's serial calls, does one thing, and says on
// stdout what happened; where it needs the far end to act it prints "ready"
// (or "applied") and, for "settings", waits for a line on stdin.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cport/comm/comm_api.h"
#include "support/line_8n1.h"

namespace {

using namespace cport::comm;

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

CommApi& api = PlatformApi();

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

int Fail(const char* call) {
  Say(std::string("error ") + call + " " + std::to_string(api.GetLastError()));
  return 1;
}

Handle Open(const std::string& port) {
  std::string ascii = "\\\\.\\COM" + port;
  return api.CreateFileW(std::u16string(ascii.begin(), ascii.end()),
                         kGenericRead | kGenericWrite, 0, kOpenExisting,
                         kFileFlagOverlapped);
}

bool Configure(Handle h, const CommTimeouts& timeouts) {
  return api.SetupComm(h, 1024, 1024) && api.SetCommState(h, Line8N1()) &&
         api.SetCommTimeouts(h, timeouts);
}

// An overlapped record with its own manual-reset event.
struct Record {
  Record() { ov.hEvent = api.CreateEventW(true, false); }
  ~Record() { api.CloseHandle(ov.hEvent); }
  Overlapped ov{};
};

// Finishes an operation issued on `record`, waiting at most `ms`.
bool Finish(Handle h, bool issued, Record& record, std::uint32_t ms,
            std::uint32_t* count) {
  if (!issued && api.GetLastError() != kErrorIoPending) return false;
  if (!issued &&
      api.WaitForSingleObject(record.ov.hEvent, ms) != kWaitObject0) {
    api.SetLastError(kWaitTimeout);
    return false;
  }
  return api.GetOverlappedResult(h, &record.ov, count, false);
}

std::string Hex(const std::uint8_t* data, std::size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 15]);
  }
  return out;
}

std::vector<std::uint8_t> Pattern() {
  std::vector<std::uint8_t> data;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<std::uint8_t>(i));
  }
  return data;
}

int OpenClose(Handle h) {
  Say("opened");
  return api.CloseHandle(h) ? 0 : Fail("CloseHandle");
}

int Exclusive(const std::string& port, Handle h) {
  Handle second = Open(port);
  if (second == kInvalidHandle) {
    Say("refused " + std::to_string(api.GetLastError()));
  } else {
    Say("allowed");
    api.CloseHandle(second);
  }
  api.CloseHandle(h);
  return 0;
}

int Settings(Handle h) {
  Dcb dcb = Line8N1();
  dcb.BaudRate = 19200;
  dcb.StopBits = kTwoStopBits;
  dcb.Flags |= kDcbOutxCtsFlow | (kRtsControlHandshake << kDcbRtsControlShift) |
               kDcbOutX | kDcbInX;
  dcb.XonChar = 0x01;
  dcb.XoffChar = 0x02;
  if (!api.SetupComm(h, 1024, 1024)) return Fail("SetupComm");
  if (!api.SetCommState(h, dcb)) return Fail("SetCommState");
  if (!api.SetCommTimeouts(h, {kMaxDword, 0, 0, 100, 1000})) {
    return Fail("SetCommTimeouts");
  }
  Say("applied");
  char line[16];
  std::fgets(line, sizeof line, stdin);
  api.CloseHandle(h);
  return 0;
}

int WriteAll(Handle h) {
  if (!Configure(h, {kMaxDword, 0, 0, 100, 1000})) return Fail("configure");
  std::vector<std::uint8_t> data = Pattern();
  Record record;
  std::uint32_t written = 0;
  bool issued =
      api.WriteFile(h, data.data(), static_cast<std::uint32_t>(data.size()),
                    &written, &record.ov);
  if (!Finish(h, issued, record, 10000, &written)) return Fail("WriteFile");
  Say("wrote " + std::to_string(written));
  api.CloseHandle(h);
  return 0;
}

int ReadAll(Handle h) {
  if (!Configure(h, {0, 0, 5000, 100, 1000})) return Fail("configure");
  std::vector<std::uint8_t> data(Pattern().size());
  Say("ready");
  Record record;
  std::uint32_t got = 0;
  bool issued =
      api.ReadFile(h, data.data(), static_cast<std::uint32_t>(data.size()),
                   &got, &record.ov);
  if (!Finish(h, issued, record, 10000, &got)) return Fail("ReadFile");
  Say("read " + Hex(data.data(), got));
  api.CloseHandle(h);
  return 0;
}

int Purge(Handle h) {
  if (!Configure(h, {kMaxDword, 0, 0, 0, 0})) return Fail("configure");
  Say("ready");
  ComStat stat;
  std::uint32_t errors = 0;
  for (int i = 0; i < 300; ++i) {  // 3 s at most
    if (!api.ClearCommError(h, &errors, &stat)) return Fail("ClearCommError");
    if (stat.cbInQue >= 5) break;
    api.Sleep(10);
  }
  Say("queued " + std::to_string(stat.cbInQue));
  if (!api.PurgeComm(h, kPurgeRxClear)) return Fail("PurgeComm");
  if (!api.ClearCommError(h, &errors, &stat)) return Fail("ClearCommError");
  Say("after-clear " + std::to_string(stat.cbInQue));

  // A write the far end does not take, aborted.
  std::vector<std::uint8_t> data(1 << 20, 'a');
  Record record;
  std::uint32_t written = 0;
  if (api.WriteFile(h, data.data(), static_cast<std::uint32_t>(data.size()),
                    &written, &record.ov)) {
    Say("write-completed-at-once");
  } else if (api.GetLastError() != kErrorIoPending) {
    return Fail("WriteFile");
  } else {
    if (!api.PurgeComm(h, kPurgeTxAbort | kPurgeRxAbort))
      return Fail("PurgeComm");
    if (api.WaitForSingleObject(record.ov.hEvent, 3000) != kWaitObject0) {
      Say("abort-ignored");
      api.PurgeComm(h, kPurgeTxClear);
      api.WaitForSingleObject(record.ov.hEvent, 30000);
    } else if (api.GetOverlappedResult(h, &record.ov, &written, false)) {
      Say("write-not-aborted " + std::to_string(written));
    } else {
      Say("aborted " + std::to_string(api.GetLastError()));
    }
  }
  api.CloseHandle(h);
  return 0;
}

int Events(Handle h) {
  if (!Configure(h, {kMaxDword, 0, 0, 100, 1000})) return Fail("configure");
  std::uint32_t status = 0;
  if (api.GetCommModemStatus(h, &status)) {
    Say("modem " + std::to_string(status));
  } else {
    Say("modem-refused " + std::to_string(api.GetLastError()));
  }
  if (!api.SetCommMask(h, kEvRxChar)) return Fail("SetCommMask");
  Record record;
  std::uint32_t mask = 0;
  const bool issued = api.WaitCommEvent(h, &mask, &record.ov);
  if (!issued && api.GetLastError() != kErrorIoPending) {
    Say("event-refused " + std::to_string(api.GetLastError()));
    api.CloseHandle(h);
    return 0;
  }
  Say("ready");
  std::uint32_t unused = 0;
  if (!Finish(h, issued, record, 5000, &unused)) return Fail("WaitCommEvent");
  Say("event " + std::to_string(mask));
  api.CloseHandle(h);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    Say("usage: dov_wine_comm_probe open|exclusive|settings|write|read|purge|"
        "events PORT");
    return 2;
  }
  const std::string command = argv[1];
  const std::string port = argv[2];
  Handle h = Open(port);
  if (h == kInvalidHandle) return Fail("CreateFileW");
  if (command == "open") return OpenClose(h);
  if (command == "exclusive") return Exclusive(port, h);
  if (command == "settings") return Settings(h);
  if (command == "write") return WriteAll(h);
  if (command == "read") return ReadAll(h);
  if (command == "purge") return Purge(h);
  if (command == "events") return Events(h);
  api.CloseHandle(h);
  Say("unknown command " + command);
  return 2;
}
