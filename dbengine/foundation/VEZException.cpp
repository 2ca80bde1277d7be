#include "dbengine/foundation/VEZException.h"

namespace vez {

namespace {
std::string FormattedText(std::string_view message,
                          std::initializer_list<platform::FormatArg> args) {
  try {
    return platform::Format(message, args);
  } catch (const platform::Exception&) {
    return std::string(message) + " Arguments are invalid!";
  }
}
}  // namespace

EVEZException::EVEZException(std::int32_t native_error, std::string_view message)
    : platform::Exception(std::string(message) +
                          " - Native error: " + platform::Format("%.5d", {native_error})),
      native_error_(native_error) {}

EVEZException::EVEZException(std::int32_t native_error, std::string_view message,
                             std::initializer_list<platform::FormatArg> args)
    : platform::Exception(FormattedText(message, args) +
                          " - Native error: " + platform::Format("%5d", {native_error})),
      native_error_(native_error) {}

}  // namespace vez
