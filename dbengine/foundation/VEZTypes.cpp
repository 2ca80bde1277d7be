#include "dbengine/foundation/VEZTypes.h"

#include "platform/core/Guid.h"

namespace vez {

std::string MakeUniqueName(std::string_view Prefix) {
  return std::string(Prefix) + platform::NewGuidText();
}

}  // namespace vez
