// Clock: the tick count, the sleep and the wall-clock time that every wait,
// retry and date default of the engine goes through. The process has one installed clock, the real
// one unless a test installs another (ScopedClock), so lock waits of thousands of polls run in no
// time under test while the real counts stay as they are.
//
// Thread safety: the real clock may be used from any thread. Installing a clock
// is meant for tests: a ScopedClock must outlive every use made through it.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/core/DateTime.h"

namespace platform {

class Clock {
 public:
  Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;
  virtual ~Clock() = default;

  // Milliseconds since an arbitrary start (the real clock: since boot, from the
  // monotonic clock). Never goes backwards.
  virtual std::uint64_t TickCount64() = 0;

  // Blocks the caller for about ms milliseconds (0 yields). The fake clock
  // returns at once and advances its time instead.
  virtual void Sleep(std::uint32_t ms) = 0;

  // The local date and time as a platform date-time. The real clock reads the
  // system time in the local time zone; a clock that does not override it
  // answers the same.
  virtual TDateTime Now();

  // The low 32 bits of TickCount64, wrapping every 49.7 days as the tick count
  // of the platform the engine comes from; compare differences, not values.
  std::uint32_t TickCount() { return static_cast<std::uint32_t>(TickCount64()); }
};

// The real clock: CLOCK_MONOTONIC and nanosleep.
Clock& SystemClock();

// The installed clock.
Clock& CurrentClock();

// Shorthands through the installed clock.
inline std::uint32_t TickCount() {
  return CurrentClock().TickCount();
}
inline std::uint64_t TickCount64() {
  return CurrentClock().TickCount64();
}
inline void Sleep(std::uint32_t ms) {
  CurrentClock().Sleep(ms);
}
inline TDateTime Now() {
  return CurrentClock().Now();
}

// Installs a clock for the life of this object and puts the previous one back
// afterwards. Scopes must nest.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

// A clock for tests: time moves only when slept through or advanced. Records
// every sleep. Its wall clock starts at 2000-01-01 00:00 (or what SetNow
// gives) and moves with the tick count. Safe for concurrent use.
class FakeClock : public Clock {
 public:
  explicit FakeClock(std::uint64_t start_ms = 0) : now_(start_ms), wall_tick_(start_ms) {}

  std::uint64_t TickCount64() override;
  void Sleep(std::uint32_t ms) override;
  TDateTime Now() override;
  // The wall-clock time from now on (later sleeps and advances move it on).
  void SetNow(TDateTime value);

  void Advance(std::uint64_t ms);
  std::vector<std::uint32_t> Sleeps() const;
  std::uint64_t TotalSlept() const;

 private:
  mutable std::mutex mutex_;
  std::uint64_t now_;
  std::uint64_t total_slept_ = 0;
  TDateTime wall_base_ = 36526.0;  // 2000-01-01
  std::uint64_t wall_tick_;
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace platform
