#include "platform/core/Collation.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "platform/core/CaseMapData.inc"
#include "platform/core/CodePage.h"

namespace platform {

namespace {

// A BMP mapping as a two-stage table: the high byte picks a 256-entry block,
// block 0 being the identity (no character of that range maps elsewhere).
class CaseMap {
 public:
  template <std::size_t N>
  explicit CaseMap(const std::uint16_t (&pairs)[N][2]) {
    stage1_.fill(0);
    blocks_.emplace_back();
    for (unsigned i = 0; i < 256; ++i)
      blocks_[0][i] = static_cast<char16_t>(i);
    for (const auto& p : pairs)
      Set(p[0], p[1]);
  }
  CaseMap() {
    stage1_.fill(0);
    blocks_.emplace_back();
    for (unsigned i = 0; i < 256; ++i)
      blocks_[0][i] = static_cast<char16_t>(i);
  }

  char16_t operator()(char16_t c) const {
    const unsigned hi = c >> 8;
    const std::uint16_t block = stage1_[hi];
    if (block == 0) return c;
    return blocks_[block][c & 0xFF];
  }

  void Set(char16_t from, char16_t to) {
    const unsigned hi = from >> 8;
    if (stage1_[hi] == 0) {
      stage1_[hi] = static_cast<std::uint16_t>(blocks_.size());
      blocks_.emplace_back();
      for (unsigned i = 0; i < 256; ++i)
        blocks_.back()[i] = static_cast<char16_t>((hi << 8) | i);
    }
    blocks_[stage1_[hi]][from & 0xFF] = to;
  }

 private:
  std::array<std::uint16_t, 256> stage1_;
  std::vector<std::array<char16_t, 256>> blocks_;
};

struct Tables {
  CaseMap upper{case_data::kToUpper};
  CaseMap lower{case_data::kToLower};
  CaseMap fold;
  // Windows-1252 tables.
  std::array<char, 256> ansi_upper;
  std::array<char, 256> ansi_lower;
  std::array<char16_t, 256> ansi_fold;
  std::array<char16_t, 256> ansi_wide;
  std::array<bool, 256> ansi_is_upper;

  Tables() {
    // fold(c) = lower(upper(c)) where that differs from c.
    for (unsigned c = 0; c < 0x10000; ++c) {
      const char16_t f = lower(upper(static_cast<char16_t>(c)));
      if (f != c) fold.Set(static_cast<char16_t>(c), f);
    }
    for (unsigned b = 0; b < 256; ++b) {
      const char ch = static_cast<char>(b);
      const char16_t w = AnsiCharToWide(ch);
      ansi_wide[b] = w;
      char out;
      ansi_upper[b] = TryWideCharToAnsi(upper(w), out) ? out : ch;
      ansi_lower[b] = TryWideCharToAnsi(lower(w), out) ? out : ch;
      ansi_fold[b] = fold(w);
      ansi_is_upper[b] = lower(w) != w;
    }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

// UTF-16 code units in code point order (surrogates above U+E000..U+FFFF).
inline std::uint32_t CodePointKey(char16_t c) {
  if (c >= 0xD800) return c >= 0xE000 ? c - 0x800u : c + 0x2000u;
  return c;
}

// A copy of s with every character passed through map.
template <typename Char, typename Map>
std::basic_string<Char> MapChars(std::basic_string_view<Char> s, const Map& map) {
  std::basic_string<Char> out(s);
  for (Char& c : out)
    c = map(c);
  return out;
}

inline int Sign(std::size_t a, std::size_t b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

char16_t WideUpperChar(char16_t c) {
  return T().upper(c);
}
char16_t WideLowerChar(char16_t c) {
  return T().lower(c);
}
char16_t WideFoldChar(char16_t c) {
  return T().fold(c);
}
char AnsiUpperChar(char c) {
  return T().ansi_upper[static_cast<unsigned char>(c)];
}
char AnsiLowerChar(char c) {
  return T().ansi_lower[static_cast<unsigned char>(c)];
}

std::string AnsiUpperCase(std::string_view s) {
  return MapChars(s, [&t = T()](char c) { return t.ansi_upper[static_cast<unsigned char>(c)]; });
}

std::string AnsiLowerCase(std::string_view s) {
  return MapChars(s, [&t = T()](char c) { return t.ansi_lower[static_cast<unsigned char>(c)]; });
}

std::u16string WideUpperCase(std::u16string_view s) {
  return MapChars(s, [&t = T()](char16_t c) { return t.upper(c); });
}

std::u16string WideLowerCase(std::u16string_view s) {
  return MapChars(s, [&t = T()](char16_t c) { return t.lower(c); });
}

std::string UpperCase(std::string_view s) {
  return MapChars(s, [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
}

std::string LowerCase(std::string_view s) {
  return MapChars(s, [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
}

int CompareAnsi(std::string_view a, std::string_view b, bool case_insensitive) {
  const Tables& t = T();
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t fa = t.ansi_fold[static_cast<unsigned char>(a[i])];
    const char16_t fb = t.ansi_fold[static_cast<unsigned char>(b[i])];
    if (fa != fb) return CodePointKey(fa) < CodePointKey(fb) ? -1 : 1;
  }
  if (a.size() != b.size()) return Sign(a.size(), b.size());
  if (case_insensitive) return 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca == cb) continue;
    if (t.ansi_is_upper[ca] != t.ansi_is_upper[cb]) return t.ansi_is_upper[ca] ? 1 : -1;
    return t.ansi_wide[ca] < t.ansi_wide[cb] ? -1 : 1;
  }
  return 0;
}

int CompareWide(std::u16string_view a, std::u16string_view b, bool case_insensitive) {
  const Tables& t = T();
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;  // identical characters fold alike: skip the tables
    const char16_t fa = t.fold(a[i]);
    const char16_t fb = t.fold(b[i]);
    if (fa != fb) return CodePointKey(fa) < CodePointKey(fb) ? -1 : 1;
  }
  if (a.size() != b.size()) return Sign(a.size(), b.size());
  if (case_insensitive) return 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t ca = a[i];
    const char16_t cb = b[i];
    if (ca == cb) continue;
    const bool ua = t.lower(ca) != ca;
    const bool ub = t.lower(cb) != cb;
    if (ua != ub) return ua ? 1 : -1;
    return CodePointKey(ca) < CodePointKey(cb) ? -1 : 1;
  }
  return 0;
}

bool AnsiCharsEqual(char a, char b, bool case_insensitive) {
  if (a == b) return true;
  if (!case_insensitive) return false;
  const Tables& t = T();
  return t.ansi_fold[static_cast<unsigned char>(a)] == t.ansi_fold[static_cast<unsigned char>(b)];
}

bool WideCharsEqual(char16_t a, char16_t b, bool case_insensitive) {
  if (a == b) return true;
  if (!case_insensitive) return false;
  const Tables& t = T();
  return t.fold(a) == t.fold(b);
}

int CompareStr(std::string_view a, std::string_view b) {
  const int r = a.compare(b);  // char_traits<char> compares as unsigned char
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 32);
    if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 32);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return Sign(a.size(), b.size());
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

}  // namespace platform
