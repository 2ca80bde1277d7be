#include "platform/core/Clock.h"

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
