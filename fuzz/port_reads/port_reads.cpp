// Bytes from the line as the serial port component hands them on, on the
// comm API's fake: whole buffers to an OnRxBuf handler on the event thread,
// and text decoded through a code page by ReadUnicodeString and ReadStr.
// Nothing is lost, nothing invented, and the text is the code page's.
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "cport/comm/fake/fake_comm.h"
#include "cport/comport.h"
#include "cport/fw/text.h"
#include "fuzz_support.h"

namespace {

using namespace std::chrono_literals;

constexpr std::array<std::uint32_t, 8> kCodePages{
    cport::fw::kCpAcp, cport::fw::kCpUtf8, 437, 932, 1252, 20127, 54936, 42};

// Two ports on the fake, open for the whole run: one whose event thread
// reads whole buffers for OnRxBuf, one read by the calls themselves.
struct Line {
  Line() {
    buffers.SetPort(u"COM1");
    buffers.SetEvents({cport::evRxChar});
    buffers.SetSyncMethod(cport::smNone);
    buffers.SetTriggersOnRxChar(false);
    buffers.SetOnRxBuf(
        [this](cport::fw::TObject*, const std::uint8_t* data, std::int32_t n) {
          const std::lock_guard guard(lock);
          received.insert(received.end(), data, data + n);
          arrived.notify_all();
        });
    buffers.Open();
    buffersHandle = fake.LastHandle();
    calls.SetPort(u"COM2");
    calls.SetEvents({});
    calls.Open();
    callsHandle = fake.LastHandle();
  }

  // What the OnRxBuf handler got once `count` bytes have come, or after
  // a bound that only a lost byte or a hang exceeds.
  std::vector<std::uint8_t> Received(std::size_t count) {
    std::unique_lock guard(lock);
    arrived.wait_for(guard, 10s, [&] { return received.size() >= count; });
    return std::exchange(received, {});
  }

  cport::comm::FakeComm fake;
  cport::comm::ScopedApi scope{fake};
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<std::uint8_t> received;
  cport::TComPort buffers{nullptr};
  cport::TComPort calls{nullptr};
  cport::comm::Handle buffersHandle = 0;
  cport::comm::Handle callsHandle = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static Line line;
  dov::fuzz::Input input(data, size);
  const std::uint32_t codePage = kCodePages[input.Byte() % kCodePages.size()];
  const std::string bytes(input.Rest());
  if (bytes.empty()) return 0;
  // The fake records every call; kept for the whole run, the record would
  // grow without end.
  line.fake.ClearCalls();
  const auto count = static_cast<std::int32_t>(bytes.size());

  line.fake.Receive(bytes, line.buffersHandle);
  FUZZ_CHECK(line.Received(bytes.size()) ==
             std::vector<std::uint8_t>(bytes.begin(), bytes.end()));

  line.calls.SetCodePage(codePage);
  line.fake.Receive(bytes, line.callsHandle);
  std::u16string text;
  if (cport::fw::IsCodePageAvailable(codePage)) {
    line.calls.ReadUnicodeString(text, count);
    FUZZ_CHECK(text == cport::fw::MultiByteToWide(codePage, bytes));
  } else {
    // Refused before reading: the bytes stay queued for ReadStr.
    try {
      line.calls.ReadUnicodeString(text, count);
      FUZZ_CHECK(!"an unknown code page is refused");
    } catch (const cport::fw::Exception&) {
    }
    FUZZ_CHECK(line.fake.InputQueued(line.callsHandle) == bytes.size());
    FUZZ_CHECK(line.calls.ReadStr(text, count) == count);
    FUZZ_CHECK(text == cport::fw::MultiByteToWide(cport::fw::kCpAcp, bytes));
  }
  FUZZ_CHECK(line.fake.InputQueued(line.callsHandle) == 0);
  return 0;
}
