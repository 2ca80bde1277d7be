#include "dbengine/api/VEZEngineError.h"

#include <array>

namespace vez {

namespace {

// Texts of -1 .. -13 in order; -8 carries the cursor's own message.
constexpr std::array<const char*, 13> kCodeTexts = {
    "Error adding record",
    "Error updating record",
    "Error deleting record",
    "Error updating record - record was modified by other process",
    "Error deleting record - record was modified by other process",
    "Error updating record - record was deleted by other process",
    "Error deleting record - record was deleted by other process",
    "",
    "Cannot update record in temporary mode",
    "Cannot delete record in temporary mode",
    "Cannot cancel operation in temporary mode",
    "Record is locked",
    "Table is locked",
};

std::string MessageOf(std::int32_t error_code, const std::string& error_message) {
  return "VEZ Engine Error # " + std::to_string(error_code) + " " + error_message;
}

}  // namespace

std::string EVEZEngineError::CodeText(std::int32_t error_code) {
  if (error_code > -1 || error_code < -13) return {};
  return kCodeTexts[static_cast<std::size_t>(-error_code - 1)];
}

EVEZEngineError::EVEZEngineError(std::int32_t error_code, const std::string& error_message)
    : platform::EDatabaseError(
          MessageOf(error_code, error_code == -8 ? error_message : CodeText(error_code))),
      FErrorCode(error_code),
      FErrorMessage(error_code == -8 ? error_message : CodeText(error_code)) {}

void RaiseEngineError(std::int32_t error_code, const std::string& error_message) {
  throw EVEZEngineError(error_code, error_message);
}

void CheckEngineResult(std::int32_t error_code, const std::string& error_message) {
  if (error_code != 0) RaiseEngineError(error_code, error_message);
}

}  // namespace vez
