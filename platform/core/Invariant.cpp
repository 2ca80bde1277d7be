#include "platform/core/Invariant.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

void InvariantBroken(const char* file, int line, const char* condition, const char* rule) noexcept {
  std::fprintf(stderr, "%s:%d: rule broken: %s (%s)\n", file, line, rule, condition);
  std::fflush(stderr);
  std::abort();
}

}  // namespace platform
