// RandomSource: the pseudo-random numbers of the engine (the random part of
// lock waits, GUIDs of temporary objects). The process has one installed
// source, a seeded-from-the-system one unless a test installs another
// (ScopedRandom), so tests can replay a fixed sequence.
//
// Thread safety: the system source may be used from any thread. SeededRandom is
// safe for concurrent use too. Installing a source is meant for tests.
#pragma once

#include <cstdint>
#include <mutex>

namespace platform {

class RandomSource {
 public:
  RandomSource() = default;
  RandomSource(const RandomSource&) = delete;
  RandomSource& operator=(const RandomSource&) = delete;
  virtual ~RandomSource() = default;

  // 64 uniformly distributed bits.
  virtual std::uint64_t Next64() = 0;

  // A uniformly distributed integer with 0 <= result < range; 0 when range is
  // 0 or below (as the platform's Random(N)).
  std::int32_t Random(std::int32_t range);

  // Fills count bytes at buffer.
  void Fill(void* buffer, std::size_t count);
};

// The real source: a generator seeded once from std::random_device.
RandomSource& SystemRandom();

// The installed source.
RandomSource& CurrentRandom();

// Random(range) through the installed source.
inline std::int32_t Random(std::int32_t range) {
  return CurrentRandom().Random(range);
}

// Installs a source for the life of this object and puts the previous one back
// afterwards. Scopes must nest.
class ScopedRandom {
 public:
  explicit ScopedRandom(RandomSource& source);
  ~ScopedRandom();
  ScopedRandom(const ScopedRandom&) = delete;
  ScopedRandom& operator=(const ScopedRandom&) = delete;

 private:
  RandomSource* previous_;
};

// A deterministic source (SplitMix64) for tests and for the system source.
class SeededRandom : public RandomSource {
 public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next64() override;

 private:
  std::mutex mutex_;
  std::uint64_t state_;
};

}  // namespace platform
