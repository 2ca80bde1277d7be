// The one exception hierarchy of the program. Every error the platform layer,
// the engine and the application raise derives from platform::Exception, which
// carries its message text. Exceptions are values: safe to copy, never thrown
// from destructors.
#pragma once

#include <exception>
#include <string>

namespace platform {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Size, counter or offset arithmetic that would wrap.
class EIntOverflow : public Exception {
 public:
  EIntOverflow() : Exception("Arithmetic overflow") {}
  using Exception::Exception;
};

// Text that does not convert to the requested value, or a bad format string.
class EConvertError : public Exception {
  using Exception::Exception;
};

// A value that cannot be seen as the requested type.
class EInvalidCast : public Exception {
  using Exception::Exception;
};

// A failed operating-system call; the message carries the system's text.
class EOSError : public Exception {
 public:
  // Builds "<context>: <strerror(error_code)> (<error_code>)".
  EOSError(int error_code, const std::string& context);
  int ErrorCode() const noexcept { return error_code_; }

 private:
  int error_code_;
};

// An index outside a list's bounds.
class EListError : public Exception {
  using Exception::Exception;
};

// A mathematical routine given an argument outside its domain.
class EMathError : public Exception {
  using Exception::Exception;
};

// A stream that could not deliver or take the bytes asked for.
class EReadError : public Exception {
  using Exception::Exception;
};
class EWriteError : public Exception {
  using Exception::Exception;
};

}  // namespace platform
