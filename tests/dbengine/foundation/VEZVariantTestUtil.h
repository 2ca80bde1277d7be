// Helpers shared by the typed value tests: raw values in storage form and a
// readable rendering of a converted block.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "platform/core/CodePage.h"
#include "tests/common/NativeError.h"

using vez::test::NativeErrorOf;

namespace vez::testing {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
Bytes Raw(T v) {
  Bytes b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

inline Bytes RawExtended(long double v) {
  Bytes b(sizeof(long double));
  std::memcpy(b.data(), &v, sizeof v);
  b.resize(10);
  return b;
}

inline Bytes RawDateTime(std::int32_t d, std::int32_t t) {
  Bytes b(8);
  std::memcpy(b.data(), &d, 4);
  std::memcpy(b.data() + 4, &t, 4);
  return b;
}

// Single-byte text with its terminator (or without, for a CLOB).
inline Bytes RawAnsi(const std::string& s, bool terminated = true) {
  Bytes b(s.begin(), s.end());
  if (terminated) b.push_back(0);
  return b;
}

inline Bytes RawWide(const std::string& ansi, bool terminated = true) {
  const std::u16string w = platform::AnsiToWide(ansi);
  Bytes b(w.size() * 2);
  if (!w.empty()) std::memcpy(b.data(), w.data(), b.size());
  if (terminated) b.insert(b.end(), {0, 0});
  return b;
}

inline std::string FixedText(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

template <typename T>
T LoadAs(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// A raw value of type t rendered as text: strings as their text (wide ones
// through the code page), numbers in decimal, date-times "date,time",
// Booleans "T"/"F", BLOBs in hex. Checks the size of the storage form too.
inline std::string Render(TVEZBaseFieldType t, const void* p, std::int32_t size) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  switch (t) {
    case bftChar:
    case bftVarchar:
      if (size < 1 || b[size - 1] != 0) return "<bad terminator>";
      return std::string(reinterpret_cast<const char*>(b), static_cast<std::size_t>(size - 1));
    case bftWideChar:
    case bftWideVarchar: {
      if (size < 2 || size % 2 || b[size - 1] || b[size - 2]) return "<bad terminator>";
      std::u16string w(static_cast<std::size_t>(size / 2 - 1), u'\0');
      std::memcpy(w.data(), b, w.size() * 2);
      return platform::WideToAnsi(w);
    }
    case bftSignedInt8:
      return size == 1 ? std::to_string(LoadAs<std::int8_t>(b)) : "<bad size>";
    case bftSignedInt16:
      return size == 2 ? std::to_string(LoadAs<std::int16_t>(b)) : "<bad size>";
    case bftSignedInt32:
    case bftDate:
    case bftTime:
      return size == 4 ? std::to_string(LoadAs<std::int32_t>(b)) : "<bad size>";
    case bftSignedInt64:
      return size == 8 ? std::to_string(LoadAs<std::int64_t>(b)) : "<bad size>";
    case bftUnsignedInt8:
      return size == 1 ? std::to_string(LoadAs<std::uint8_t>(b)) : "<bad size>";
    case bftUnsignedInt16:
      return size == 2 ? std::to_string(LoadAs<std::uint16_t>(b)) : "<bad size>";
    case bftUnsignedInt32:
      return size == 4 ? std::to_string(LoadAs<std::uint32_t>(b)) : "<bad size>";
    case bftSingle:
      return size == 4 ? FixedText(LoadAs<float>(b)) : "<bad size>";
    case bftDouble:
    case bftCurrency:
      return size == 8 ? FixedText(LoadAs<double>(b)) : "<bad size>";
    case bftExtended: {
      if (size != 10) return "<bad size>";
      long double v = 0;
      std::memcpy(&v, b, 10);
      return FixedText(static_cast<double>(v));
    }
    case bftDateTime:
      return size == 8 ? std::to_string(LoadAs<std::int32_t>(b)) + "," +
                             std::to_string(LoadAs<std::int32_t>(b + 4))
                       : "<bad size>";
    case bftLogical:
      if (size != 2) return "<bad size>";
      return LoadAs<std::int16_t>(b) != 0 ? "T" : "F";
    case bftBlob: {
      static const char* kHex = "0123456789abcdef";
      std::string s;
      for (std::int32_t i = 0; i < size; ++i) {
        s += kHex[b[i] >> 4];
        s += kHex[b[i] & 15];
      }
      return s;
    }
    default:
      return "<unexpected type>";
  }
}

// Converts and renders; a failure renders as "!<native error>".
inline std::string ConvertAndRender(const Bytes& source, std::int32_t source_size,
                                    TVEZBaseFieldType from, TVEZBaseFieldType to) {
  try {
    std::int32_t out_size = -5;
    void* block = ConvertTypedValue(source.data(), source_size, from, out_size, to);
    std::string r = Render(to, block, out_size);
    if (MemoryManager().GetMemoryBufferSize(block) != out_size) r += " <size mismatch>";
    MemoryManager().FreeMem(block);
    return r;
  } catch (const EVEZException& e) {
    return "!" + std::to_string(e.NativeError());
  }
}

}  // namespace vez::testing
