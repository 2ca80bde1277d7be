#include "platform/core/CodePage.h"

#include <array>
#include <cstdint>

namespace platform {

namespace {

// Unicode of the bytes 0x80..0x9F; the rest of Windows-1252 equals Latin-1.
// Undefined bytes keep their own value (C1 controls) so they round-trip.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, std::uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

char16_t AnsiCharToWide(char c) {
  const auto b = static_cast<unsigned char>(c);
  if (b >= 0x80 && b < 0xA0) return kHigh[b - 0x80];
  return b;
}

bool TryWideCharToAnsi(char16_t c, char& out) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    out = static_cast<char>(c);
    return true;
  }
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == c) {
      out = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

char WideCharToAnsi(char16_t c) {
  char out;
  return TryWideCharToAnsi(c, out) ? out : '?';
}

std::u16string AnsiToWide(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char c : s)
    out.push_back(AnsiCharToWide(c));
  return out;
}

std::string WideToAnsi(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    // A surrogate pair is one character and becomes one '?'.
    if (IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(WideCharToAnsi(s[i]));
  }
  return out;
}

std::u16string Utf8ToWide(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int len;
    std::uint32_t cp;
    std::uint32_t min;
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    } else if ((b0 & 0xE0) == 0xC0) {
      len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    int k = 1;
    for (; k < len && i + k < s.size(); ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) break;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      // Skip the lead byte and the continuation bytes that were read.
      out.push_back(kReplacement);
      i += static_cast<std::size_t>(k);
      continue;
    }
    AppendUtf16(out, cp);
    i += static_cast<std::size_t>(len);
  }
  return out;
}

std::string WideToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (IsHighSurrogate(c) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
      AppendUtf8(out, 0x10000 + ((static_cast<std::uint32_t>(c) - 0xD800) << 10) +
                          (static_cast<std::uint32_t>(s[i + 1]) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::string AnsiToUtf8(std::string_view s) {
  return WideToUtf8(AnsiToWide(s));
}

std::string Utf8ToAnsi(std::string_view s) {
  return WideToAnsi(Utf8ToWide(s));
}

}  // namespace platform
