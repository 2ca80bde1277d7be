#include "platform/dataset/DatabaseError.h"

namespace platform {

void DatabaseError(std::string_view message, std::string_view component) {
  if (component.empty()) throw EDatabaseError(std::string(message));
  std::string text(component);
  text += ": ";
  text += message;
  throw EDatabaseError(std::move(text));
}

}  // namespace platform
