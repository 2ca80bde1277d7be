// EDatabaseError: misuse of a dataset or a field (closed dataset, not in edit
// mode, unknown field, bad value for a field). The engine's record-operation
// error derives from it, so one handler catches both.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/Exceptions.h"

namespace platform {

class EDatabaseError : public Exception {
  using Exception::Exception;
};

// Raises EDatabaseError with the message, prefixed by "<component>: " when
// a component name is given, as the platform does for named components.
[[noreturn]] void DatabaseError(std::string_view message, std::string_view component = {});

}  // namespace platform
