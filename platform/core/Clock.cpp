#include "platform/core/Clock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>

namespace platform {

namespace {

class RealClock final : public Clock {
 public:
  std::uint64_t TickCount64() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  }

  void Sleep(std::uint32_t ms) override {
    timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec remaining{};
    // A signal must not cut the wait short: the retry loops count on it.
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
      request = remaining;
  }
};

std::atomic<Clock*>& Installed() {
  static std::atomic<Clock*> installed{&SystemClock()};
  return installed;
}

}  // namespace

TDateTime Clock::Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  TDateTime value = 0;
  // A system time outside years 1 to 9999 is not a date; day 0 stands in.
  TryEncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                    std::min(tm.tm_sec, 59), static_cast<int>(ts.tv_nsec / 1000000), value);
  return value;
}

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

Clock& CurrentClock() {
  return *Installed().load(std::memory_order_acquire);
}

ScopedClock::ScopedClock(Clock& clock) : previous_(Installed().exchange(&clock)) {}

ScopedClock::~ScopedClock() {
  Installed().store(previous_);
}

TDateTime FakeClock::Now() {
  std::lock_guard lock(mutex_);
  return wall_base_ + static_cast<double>(now_ - wall_tick_) / MSecsPerDay;
}

void FakeClock::SetNow(TDateTime value) {
  std::lock_guard lock(mutex_);
  wall_base_ = value;
  wall_tick_ = now_;
}

std::uint64_t FakeClock::TickCount64() {
  std::lock_guard lock(mutex_);
  return now_;
}

void FakeClock::Sleep(std::uint32_t ms) {
  std::lock_guard lock(mutex_);
  now_ += ms;
  total_slept_ += ms;
  sleeps_.push_back(ms);
}

void FakeClock::Advance(std::uint64_t ms) {
  std::lock_guard lock(mutex_);
  now_ += ms;
}

std::vector<std::uint32_t> FakeClock::Sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

std::uint64_t FakeClock::TotalSlept() const {
  std::lock_guard lock(mutex_);
  return total_slept_;
}

}  // namespace platform
