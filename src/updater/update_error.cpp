#include "updater/update_error.h"

#include "cport/fw/text.h"

namespace dov {

EShortWrite::EShortWrite(std::int32_t written, std::int32_t requested)
    : cport::fw::Exception(u"Write to the device cut short: " +
                           cport::fw::IntToStr(written) + u" of " +
                           cport::fw::IntToStr(requested) + u" bytes sent"),
      written_(written),
      requested_(requested) {}

}  // namespace dov
