#include "platform/core/Random.h"

#include <atomic>
#include <cstring>
#include <random>

namespace platform {

namespace {

std::uint64_t SystemSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

std::atomic<RandomSource*>& Installed() {
  static std::atomic<RandomSource*> installed{&SystemRandom()};
  return installed;
}

}  // namespace

std::int32_t RandomSource::Random(std::int32_t range) {
  if (range <= 0) return 0;
  const auto n = static_cast<std::uint64_t>(range);
  // Rejection keeps every value equally likely.
  const std::uint64_t limit = UINT64_MAX - UINT64_MAX % n;
  std::uint64_t v;
  do {
    v = Next64();
  } while (v >= limit);
  return static_cast<std::int32_t>(v % n);
}

void RandomSource::Fill(void* buffer, std::size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const std::uint64_t v = Next64();
    const std::size_t n = count < sizeof v ? count : sizeof v;
    std::memcpy(out, &v, n);
    out += n;
    count -= n;
  }
}

std::uint64_t SeededRandom::Next64() {
  std::lock_guard lock(mutex_);
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

RandomSource& SystemRandom() {
  static SeededRandom source(SystemSeed());
  return source;
}

RandomSource& CurrentRandom() {
  return *Installed().load(std::memory_order_acquire);
}

ScopedRandom::ScopedRandom(RandomSource& source) : previous_(Installed().exchange(&source)) {}

ScopedRandom::~ScopedRandom() {
  Installed().store(previous_);
}

}  // namespace platform
