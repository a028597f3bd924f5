// The framework's base exception: a UTF-16 message.
#pragma once

#include <exception>
#include <string>

namespace cport::fw {

/// The library's base exception: a UTF-16 message.
class Exception : public std::exception {
 public:
  /// An exception with `message`.
  explicit Exception(std::u16string message);
  /// The message.
  ///@{
  const std::u16string& Message() const noexcept { return message_; }
  void SetMessage(std::u16string message);
  ///@}
  /// The message in UTF-8.
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  std::u16string message_;
  std::string utf8_;
};

/// Raised by TPersistent::Assign between unrelated classes.
class EConvertError : public Exception {
 public:
  /// An exception with a message.
  using Exception::Exception;
};

/// Raised by the thread facility.
class EThread : public Exception {
 public:
  /// An exception with a message.
  using Exception::Exception;
};

}  // namespace cport::fw
