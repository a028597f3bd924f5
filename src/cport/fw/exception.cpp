#include "cport/fw/exception.h"

#include "cport/fw/text.h"

namespace cport::fw {

Exception::Exception(std::u16string message) { SetMessage(std::move(message)); }

void Exception::SetMessage(std::u16string message) {
  utf8_ = ToUtf8(message);
  message_ = std::move(message);
}

}  // namespace cport::fw
