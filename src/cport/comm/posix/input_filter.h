// Turns the raw byte stream of a terminal in error-marking mode into the
// bytes an application receives, and notes what the stream carried: break,
// parity/framing errors, the event character. Error replacement and null
// discarding happen here because the terminal driver has no such modes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cport::comm::posix {

struct InputOptions {
  bool checkParity = false;  // report and (optionally) replace errors
  bool replaceErrors = false;
  std::uint8_t errorChar = 0;
  bool discardNull = false;
  std::uint8_t eventChar = 0;
};

// What one stretch of input contained.
struct InputReport {
  bool received = false;   // at least one byte was delivered
  bool eventChar = false;  // the event character was delivered
  bool lineBreak = false;  // a break condition arrived
  bool lineError = false;  // a byte arrived with a parity or framing error
};

class InputFilter {
 public:
  void SetOptions(const InputOptions& options) { options_ = options; }
  // Forgets a marker sequence cut in half (after the input was discarded).
  void Reset() { state_ = State::kPlain; }

  // Appends the delivered bytes of `raw` to `out`. A marker sequence split
  // across calls is completed by the next call.
  InputReport Filter(const std::uint8_t* raw, std::size_t size,
                     std::vector<std::uint8_t>& out);

 private:
  enum class State { kPlain, kAfterMark, kAfterMarkZero };
  void Deliver(std::uint8_t byte, std::vector<std::uint8_t>& out,
               InputReport& report) const;

  InputOptions options_;
  State state_ = State::kPlain;
};

}  // namespace cport::comm::posix
