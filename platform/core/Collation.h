// Collation: the engine's own text order and case mapping. An index written
// by one process must sort the same in every other, so nothing here looks at
// the process locale (LANG, setlocale) or at installed locales.
//
// Case mapping: Unicode's simple one-to-one mappings (UnicodeData.txt fields
// 12 and 13) of the Basic Multilingual Plane; nothing changes length (no
// 'ß' -> "SS"); characters outside the BMP are left as they are. Single-byte
// text is Windows-1252: a byte is mapped through its Unicode character and
// kept as it is when the result has no Windows-1252 byte (so 'µ' and 'ÿ'
// upper-case to 'µ' and 'Ÿ').
//
// Order (CompareAnsi/CompareWide), the same for single-byte and wide text:
// 1. Compare the case-folded texts code point by code point (single-byte text
//    through its Unicode characters), a shorter text first when it is a
//    prefix of the other. Folding is lower(upper(c)), so 'ſ', 's' and 'S' fold
//    alike, as do 'µ' and 'Μ'.
// 2. Only when case-sensitive and the folded texts are equal: at the first
//    position where the texts differ, a lower-case (or uncased) character
//    comes before an upper-case one; two characters of the same kind go by
//    code point.
// So "abc" < "ABD" ignoring case, "abc" < "Abc" < "abd" with case, and a
// case-insensitive comparison calls two texts equal exactly when they fold
// alike. Results are <0, 0, >0.
//
// Thread safety: pure functions; the tables are built once, thread-safely.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Single characters.
char16_t WideUpperChar(char16_t c);
char16_t WideLowerChar(char16_t c);
char16_t WideFoldChar(char16_t c);
char AnsiUpperChar(char c);
char AnsiLowerChar(char c);

// Whole texts, full character set.
std::string AnsiUpperCase(std::string_view s);
std::string AnsiLowerCase(std::string_view s);
std::u16string WideUpperCase(std::u16string_view s);
std::u16string WideLowerCase(std::u16string_view s);
// Letters 'a' to 'z' / 'A' to 'Z' only, every other byte unchanged.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);

// The engine's order (see above).
int CompareAnsi(std::string_view a, std::string_view b, bool case_insensitive);
int CompareWide(std::u16string_view a, std::u16string_view b, bool case_insensitive);
inline int AnsiCompareStr(std::string_view a, std::string_view b) {
  return CompareAnsi(a, b, false);
}
inline int AnsiCompareText(std::string_view a, std::string_view b) {
  return CompareAnsi(a, b, true);
}
inline bool AnsiSameText(std::string_view a, std::string_view b) {
  return CompareAnsi(a, b, true) == 0;
}
inline int WideCompareStr(std::u16string_view a, std::u16string_view b) {
  return CompareWide(a, b, false);
}
inline int WideCompareText(std::u16string_view a, std::u16string_view b) {
  return CompareWide(a, b, true);
}
inline bool WideSameText(std::u16string_view a, std::u16string_view b) {
  return CompareWide(a, b, true) == 0;
}

// Two single characters equal under the collation: identical, or (when
// case_insensitive) folding alike.
bool AnsiCharsEqual(char a, char b, bool case_insensitive);
bool WideCharsEqual(char16_t a, char16_t b, bool case_insensitive);

// Byte order (CompareStr) and byte order after upper-casing 'a' to 'z' only
// (CompareText, SameText): for names the engine matches in ASCII.
int CompareStr(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

}  // namespace platform
