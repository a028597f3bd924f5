#include "cport/comm/posix/input_filter.h"

namespace cport::comm::posix {

InputReport InputFilter::Filter(const std::uint8_t* raw, std::size_t size,
                                std::vector<std::uint8_t>& out) {
  InputReport report;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t byte = raw[i];
    switch (state_) {
      case State::kPlain:
        if (byte == 0xFF) {
          state_ = State::kAfterMark;
        } else {
          Deliver(byte, out, report);
        }
        break;
      case State::kAfterMark:
        if (byte == 0x00) {
          state_ = State::kAfterMarkZero;
        } else {
          // 0xFF 0xFF is a received 0xFF. Anything else cannot follow a
          // mark; keep both bytes rather than lose one.
          state_ = State::kPlain;
          if (byte != 0xFF) Deliver(0xFF, out, report);
          Deliver(byte, out, report);
        }
        break;
      case State::kAfterMarkZero:
        state_ = State::kPlain;
        if (byte == 0x00) {
          report.lineBreak = true;
        } else {
          report.lineError = true;
          Deliver(options_.checkParity && options_.replaceErrors
                      ? options_.errorChar
                      : byte,
                  out, report);
        }
        break;
    }
  }
  return report;
}

void InputFilter::Deliver(std::uint8_t byte, std::vector<std::uint8_t>& out,
                          InputReport& report) const {
  if (byte == 0 && options_.discardNull) return;
  out.push_back(byte);
  report.received = true;
  if (byte == options_.eventChar) report.eventChar = true;
}

}  // namespace cport::comm::posix
