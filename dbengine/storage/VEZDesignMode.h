// The process-wide design-mode flag. The engine never runs inside a form
// designer, so the flag is false for the whole life of the process; code that
// must behave differently while designing reads it here, and those branches
// stay dead in every run.
//
// Thread safety: a constant.
#pragma once

namespace vez {

inline constexpr bool DesignMode() {
  return false;
}

}  // namespace vez
