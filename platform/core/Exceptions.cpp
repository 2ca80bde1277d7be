#include "platform/core/Exceptions.h"

#include <cstring>

namespace platform {

namespace {
std::string SystemErrorText(int error_code) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error_code, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("Unknown error");
}
}  // namespace

EOSError::EOSError(int error_code, const std::string& context)
    : Exception(context + ": " + SystemErrorText(error_code) + " (" + std::to_string(error_code) +
                ")"),
      error_code_(error_code) {}

}  // namespace platform
