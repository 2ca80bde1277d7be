// EVEZEngineError: the error a dataset raises when a record operation of its
// cursor (edit, post, delete, cancel) reports a result code instead of
// raising (VEZCursor.h, TVEZCursorErrorCode). It derives from the dataset
// layer's EDatabaseError, so one handler catches both.
//
// Message: "VEZ Engine Error # " + the code in decimal + " " + ErrorMessage,
// where ErrorMessage is the fixed text of the code (-1 .. -13), the text the
// cursor gave for -8, and empty for any other code.
//
// Thread safety: an exception object; the raising routines keep no state.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dataset/DatabaseError.h"

namespace vez {

class EVEZEngineError : public platform::EDatabaseError {
 public:
  EVEZEngineError(std::int32_t error_code, const std::string& error_message);

  std::int32_t ErrorCode() const noexcept { return FErrorCode; }
  const std::string& ErrorMessage() const noexcept { return FErrorMessage; }

  // The fixed text of a result code; for -8 and codes outside -1 .. -13 the
  // empty string.
  static std::string CodeText(std::int32_t error_code);

 private:
  std::int32_t FErrorCode;
  std::string FErrorMessage;
};

// Raises EVEZEngineError(error_code, error_message).
[[noreturn]] void RaiseEngineError(std::int32_t error_code, const std::string& error_message);
// Nothing for 0; otherwise RaiseEngineError. The dataset calls it with the
// cursor's ErrorCode and ErrorMessage after each edit, post, delete and
// cancel.
void CheckEngineResult(std::int32_t error_code, const std::string& error_message);

}  // namespace vez
