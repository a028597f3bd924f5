#include "cport/fw/persistent.h"

#include "cport/fw/exception.h"

namespace cport::fw {
namespace {

[[noreturn]] void RaiseAssignError(const std::u16string& source,
                                   const std::u16string& dest) {
  throw EConvertError(u"Cannot assign a " + source + u" to a " + dest);
}

}  // namespace

void TPersistent::Assign(const TPersistent& source) { source.AssignTo(*this); }

void TPersistent::AssignFrom(const TPersistent* source) {
  if (source == nullptr) RaiseAssignError(u"nil", ClassName());
  Assign(*source);
}

void TPersistent::AssignTo(TPersistent& dest) const {
  RaiseAssignError(ClassName(), dest.ClassName());
}

}  // namespace cport::fw
