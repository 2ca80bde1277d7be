// Checks of rules the code relies on but does not test for on its own: a lock
// the caller holds, a page pinned while it is read, a counter in range. They
// are active in builds without NDEBUG (the sanitizer build, which CI runs):
// a broken rule names itself, the file and the line on stderr and aborts, so
// a test that breaks one stops where the rule broke instead of somewhere
// later. Release builds compile them away, so they never stand in for the
// checks of input (damaged files, bad calls still get their errors).
#pragma once

namespace platform {

// Reports a broken rule and aborts. Called by RVX_INVARIANT only.
[[noreturn]] void InvariantBroken(const char* file, int line, const char* condition,
                                  const char* rule) noexcept;

}  // namespace platform

#ifdef NDEBUG
#define RVX_INVARIANT(condition, rule) static_cast<void>(0)
#else
#define RVX_INVARIANT(condition, rule) \
  ((condition) ? static_cast<void>(0)  \
               : ::platform::InvariantBroken(__FILE__, __LINE__, #condition, rule))
#endif
