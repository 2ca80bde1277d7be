// EVEZException: the one exception class of the database engine. Every
// failure the engine detects is raised as an EVEZException carrying the native
// error number chosen at the raise site.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"

namespace vez {

class EVEZException : public platform::Exception {
 public:
  // Message: text + " - Native error: " + the number zero-padded to five digits.
  EVEZException(std::int32_t native_error, std::string_view message);

  // Message: text formatted with args + " - Native error: " + the number padded
  // to five places with spaces. Text that cannot be formatted with args becomes
  // text + " Arguments are invalid!"; the exception is built all the same.
  EVEZException(std::int32_t native_error, std::string_view message,
                std::initializer_list<platform::FormatArg> args);

  std::int32_t NativeError() const noexcept { return native_error_; }

 private:
  std::int32_t native_error_;
};

}  // namespace vez
