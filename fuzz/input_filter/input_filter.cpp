// The POSIX backend's input filter, which turns a terminal's error-marked
// byte stream into what the application receives. The input chooses the
// options and a place where the stream is cut into two reads, then is read
// two ways:
// - as raw bytes from the line: cut or not, the filter gives the same;
// - as what happened on the line (received bytes, bytes with an error,
//   breaks), which is marked as the terminal marks it: the filter gives
//   back every received byte and nothing else.
#include "cport/comm/posix/input_filter.h"

#include <vector>

#include "fuzz_support.h"

namespace {

using cport::comm::posix::InputFilter;
using cport::comm::posix::InputOptions;
using cport::comm::posix::InputReport;
using Bytes = std::vector<std::uint8_t>;

struct Filtered {
  Bytes out;
  InputReport report;
};

// Filters `stream` in two reads, cut at `cut`.
Filtered Filter(const InputOptions& options, const Bytes& stream,
                std::size_t cut) {
  InputFilter filter;
  filter.SetOptions(options);
  cut = std::min(cut, stream.size());
  Filtered result;
  const InputReport first = filter.Filter(stream.data(), cut, result.out);
  const InputReport second =
      filter.Filter(stream.data() + cut, stream.size() - cut, result.out);
  result.report = {
      first.received || second.received, first.eventChar || second.eventChar,
      first.lineBreak || second.lineBreak, first.lineError || second.lineError};
  return result;
}

bool Same(const InputReport& a, const InputReport& b) {
  return a.received == b.received && a.eventChar == b.eventChar &&
         a.lineBreak == b.lineBreak && a.lineError == b.lineError;
}

// What happened on the line, two input bytes an event: a break, a byte
// with a parity or framing error, or a byte received. Returns the stream
// the terminal gives, and what the filter must deliver and report.
Filtered LineEvents(const InputOptions& options, std::string_view events,
                    Bytes& stream) {
  Filtered expected;
  const auto deliver = [&](std::uint8_t byte) {
    if (byte == 0 && options.discardNull) return;
    expected.out.push_back(byte);
    expected.report.received = true;
    if (byte == options.eventChar) expected.report.eventChar = true;
  };
  for (std::size_t i = 0; i + 1 < events.size(); i += 2) {
    const auto kind = static_cast<std::uint8_t>(events[i]);
    const auto byte = static_cast<std::uint8_t>(events[i + 1]);
    if (kind % 8 == 0) {
      stream.insert(stream.end(), {0xFF, 0x00, 0x00});
      expected.report.lineBreak = true;
    } else if (kind % 8 == 1 && byte != 0) {
      // A 0 with an error is marked as a break is; the line cannot tell.
      stream.insert(stream.end(), {0xFF, 0x00, byte});
      expected.report.lineError = true;
      deliver(options.checkParity && options.replaceErrors ? options.errorChar
                                                           : byte);
    } else {
      if (byte == 0xFF) stream.push_back(0xFF);
      stream.push_back(byte);
      deliver(byte);
    }
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  dov::fuzz::Input input(data, size);
  const std::uint8_t flags = input.Byte();
  InputOptions options;
  options.checkParity = flags & 1;
  options.replaceErrors = flags & 2;
  options.discardNull = flags & 4;
  options.errorChar = input.Byte();
  options.eventChar = input.Byte();
  const std::size_t cut = input.Word();
  const std::string_view rest = input.Rest();

  const Bytes raw(rest.begin(), rest.end());
  const Filtered whole = Filter(options, raw, raw.size());
  const Filtered split = Filter(options, raw, cut);
  FUZZ_CHECK(whole.out == split.out);
  FUZZ_CHECK(Same(whole.report, split.report));
  FUZZ_CHECK(whole.out.size() <= raw.size());

  Bytes stream;
  const Filtered expected = LineEvents(options, rest, stream);
  const Filtered got = Filter(options, stream, cut);
  FUZZ_CHECK(got.out == expected.out);
  FUZZ_CHECK(Same(got.report, expected.report));
  return 0;
}
