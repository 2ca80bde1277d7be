#include "platform/core/Guid.h"

namespace platform {

namespace {

void AppendHex(std::string& out, std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i)
    out += kDigits[(value >> (i * 4)) & 0xF];
}

}  // namespace

Guid NewGuid(RandomSource& source) {
  std::uint8_t bytes[16];
  source.Fill(bytes, sizeof bytes);
  Guid g;
  g.d1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
  g.d2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  g.d3 = static_cast<std::uint16_t>((bytes[6] << 8 | bytes[7]) & 0x0FFF) | 0x4000;
  for (int i = 0; i < 8; ++i)
    g.d4[i] = bytes[8 + i];
  g.d4[0] = static_cast<std::uint8_t>((g.d4[0] & 0x3F) | 0x80);
  return g;
}

std::string GuidToString(const Guid& guid) {
  std::string out;
  out.reserve(38);
  out += '{';
  AppendHex(out, guid.d1, 8);
  out += '-';
  AppendHex(out, guid.d2, 4);
  out += '-';
  AppendHex(out, guid.d3, 4);
  out += '-';
  AppendHex(out, guid.d4[0], 2);
  AppendHex(out, guid.d4[1], 2);
  out += '-';
  for (int i = 2; i < 8; ++i)
    AppendHex(out, guid.d4[i], 2);
  out += '}';
  return out;
}

}  // namespace platform
