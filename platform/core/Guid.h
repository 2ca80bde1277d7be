// Guid: 128-bit identifiers for unique names of temporary objects, drawn from
// a random source (version 4), and their text form "{XXXXXXXX-XXXX-XXXX-XXXX-
// XXXXXXXXXXXX}" in upper case.
//
// Thread safety: pure functions; NewGuid is as safe as the random source used.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/core/Random.h"

namespace platform {

struct Guid {
  std::uint32_t d1 = 0;
  std::uint16_t d2 = 0;
  std::uint16_t d3 = 0;
  std::array<std::uint8_t, 8> d4{};

  friend bool operator==(const Guid&, const Guid&) = default;
};

// A random (version 4, RFC 4122 variant) GUID from source.
Guid NewGuid(RandomSource& source = CurrentRandom());

// "{D1-D2-D3-D4[0..1]-D4[2..7]}", hexadecimal digits in upper case, 38 chars.
std::string GuidToString(const Guid& guid);

// GuidToString(NewGuid(source)).
inline std::string NewGuidText(RandomSource& source = CurrentRandom()) {
  return GuidToString(NewGuid(source));
}

}  // namespace platform
