// Little-endian loads and stores of the values in native field buffers: the
// engine keeps those bytes as they are, so their order must not follow the
// host's.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace platform {

template <typename T>
inline T LoadLE(const std::uint8_t* p) {
  using U = std::conditional_t<sizeof(T) == 8, std::uint64_t,
                               std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint16_t>>;
  U u = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    u |= static_cast<U>(static_cast<U>(p[i]) << (8 * i));
  return std::bit_cast<T>(u);
}

template <typename T>
inline void StoreLE(std::uint8_t* p, T v) {
  using U = std::conditional_t<sizeof(T) == 8, std::uint64_t,
                               std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint16_t>>;
  const U u = std::bit_cast<U>(v);
  for (std::size_t i = 0; i < sizeof(T); ++i)
    p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

}  // namespace platform
