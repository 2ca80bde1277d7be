#include "tests/app/support/InMemoryErrorLog.h"

namespace rvx::test {

void InMemoryErrorLog::Prefill(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    AppendRow(0, "Earlier", "Prefill", "row");
}

}  // namespace rvx::test
