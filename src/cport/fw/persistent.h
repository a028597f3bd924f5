// The assignable base: Assign copies from another object by asking the
// source to assign itself to this one; unrelated classes fail with
// "Cannot assign a <source class> to a <destination class>".
#pragma once

#include "cport/fw/object.h"

namespace cport::fw {

/// An object whose values can be copied from another (Assign).
class TPersistent : public TObject {
 public:
  std::u16string ClassName() const override { return u"TPersistent"; }
  /// Copies the values of `source` into this object; raises EConvertError
  /// when the classes are unrelated.
  virtual void Assign(const TPersistent& source);
  /// Assign from a source that may be absent: a null source fails with
  /// "Cannot assign a nil to a <class>".
  void AssignFrom(const TPersistent* source);

 protected:
  /// Copies this object into `dest`. The base raises EConvertError; a class
  /// that can copy itself replaces it.
  virtual void AssignTo(TPersistent& dest) const;
};

}  // namespace cport::fw
