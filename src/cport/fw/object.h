// The root of the framework's classes: every object can name its class.
#pragma once

#include <string>

namespace cport::fw {

/// The root of the library's classes; every object can name its class.
class TObject {
 public:
  virtual ~TObject() = default;
  /// The class's own name, as people see it in messages ("TComTimeouts").
  virtual std::u16string ClassName() const { return u"TObject"; }
};

}  // namespace cport::fw
