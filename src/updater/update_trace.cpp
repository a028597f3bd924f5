#include "updater/update_trace.h"

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "cport/comport.h"
#include "cport/errors.h"
#include "cport/fw/application.h"
#include "cport/fw/os_error.h"
#include "cport/fw/text.h"
#include "updater/trace_file.h"

namespace dov {
namespace {

std::string Format(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof(text), format, values...);
  return text;
}

const char* ParityName(cport::TParityBits bits) {
  switch (bits) {
    case cport::prNone:
      return "no parity";
    case cport::prOdd:
      return "odd parity";
    case cport::prEven:
      return "even parity";
    case cport::prMark:
      return "mark parity";
    default:
      return "space parity";
  }
}

}  // namespace

TUpdateTrace::TUpdateTrace() : writer_([this] { Writer(); }) {}

TUpdateTrace::~TUpdateTrace() { Finish(std::chrono::milliseconds(500)); }

void TUpdateTrace::AddOutput(TOutputChannel& out) {
  std::lock_guard lock(mutex_);
  outputs_.push_back(&out);
}

bool TUpdateTrace::AddFile(const std::string& path, std::string& error,
                           std::span<const std::string> avoid) {
  const int fd = OpenTraceFile(path, avoid, error);
  if (fd < 0) return false;
  auto file = std::make_unique<TOutputChannel>(fd, true);
  std::lock_guard lock(mutex_);
  outputs_.push_back(file.get());
  files_.push_back(std::move(file));
  return true;
}

std::string TUpdateTrace::Finish(std::chrono::milliseconds bound) {
  {
    std::lock_guard lock(mutex_);
    if (done_) return incomplete_;
    done_ = true;
  }
  wake_.notify_one();
  writer_.join();
  for (const auto& file : files_) {
    file->Close(bound);
    if (incomplete_.empty() && file->Dropped() != 0) {
      incomplete_ = "trace incomplete: " + file->Failure();
    }
  }
  return incomplete_;
}

void TUpdateTrace::Note(std::string text) {
  const Clock::time_point now = Clock::now();
  {
    std::lock_guard lock(mutex_);
    if (done_) return;
    queue_.push_back({now, std::move(text)});
  }
  wake_.notify_one();
}

void TUpdateTrace::Pause(std::int32_t count, double actualMs) {
  Note(Format("pause: minimum %" PRId32 " ms, actual %.3f ms", count * 10,
              actualMs));
}

void TUpdateTrace::Write(std::int32_t written, std::int32_t requested) {
  Note(written == requested ? Format("write: %" PRId32 " bytes", written)
                            : Format("write: %" PRId32 " of %" PRId32 " bytes",
                                     written, requested));
}

void TUpdateTrace::Drained(std::int32_t count) {
  Note(Format("drained: %" PRId32 " bytes from the device", count));
}

void TUpdateTrace::PortOpened(const cport::TCustomComPort& port) {
  const cport::TComFlowControl& flow = port.FlowControl();
  const bool noFlow = !flow.OutCTSFlow() && !flow.OutDSRFlow() &&
                      !flow.XonXoffOut() && !flow.XonXoffIn();
  Note(Format("port open: %s, %d baud, %d data bits, %s, %s stop bits, %s",
              cport::fw::ToUtf8(port.Port()).c_str(),
              static_cast<int>(
                  cport::BaudRateValue(port.BaudRate(), port.CustomBaudRate())),
              static_cast<int>(port.DataBits()) + 5,
              ParityName(port.Parity().Bits()),
              port.StopBits() == cport::sbOneStopBit     ? "1"
              : port.StopBits() == cport::sbOne5StopBits ? "1.5"
                                                         : "2",
              noFlow ? "no flow control" : "flow control"));
}

void TUpdateTrace::Error(std::exception_ptr error) {
  std::string text =
      "error: " +
      cport::fw::ToUtf8(cport::fw::TApplication::ExceptionMessage(error));
  try {
    std::rethrow_exception(error);
  } catch (const cport::EComPort& port) {
    if (port.WinCode() > 0) {
      const std::string system = cport::fw::ToUtf8(cport::fw::SysErrorMessage(
          static_cast<std::uint32_t>(port.WinCode())));
      if (!system.empty()) text += " \u2014 " + system;
    }
  } catch (...) {
  }
  Note(std::move(text));
}

void TUpdateTrace::Writer() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return done_ || !queue_.empty(); });
    if (queue_.empty()) return;
    std::deque<Entry> batch;
    batch.swap(queue_);
    const std::vector<TOutputChannel*> outputs = outputs_;
    lock.unlock();
    std::string lines;
    for (const Entry& entry : batch) {
      lines +=
          Format("[%12.6f] ",
                 std::chrono::duration<double>(entry.at - start_).count()) +
          entry.text + "\n";
    }
    for (TOutputChannel* out : outputs) out->Put(lines);
    lock.lock();
  }
}

std::unique_ptr<TUpdateTrace> TraceFromEnvironment() {
  const char* path = std::getenv("DOV_LOG");
  if (path == nullptr || *path == '\0') return nullptr;
  auto trace = std::make_unique<TUpdateTrace>();
  std::string error;
  if (!trace->AddFile(path, error)) {
    std::fprintf(stderr, "DOV: %s\n", error.c_str());
    return nullptr;
  }
  trace->Note("DOV started");
  return trace;
}

}  // namespace dov
