// CodePage: the engine's single-byte text is Windows-1252; wide text is
// UTF-16. Conversions both ways, and UTF-8 for the operating system's names.
//
// - Windows-1252 -> UTF-16 maps every byte; the five bytes the code page
//   leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of
//   the same value, so every byte string round-trips.
// - UTF-16 -> Windows-1252: a character the code page cannot hold becomes '?'
//   (one '?' per code point, a surrogate pair included; no best-fit guesses).
// - UTF-8 <-> UTF-16: malformed input (bad sequences, unpaired surrogates)
//   becomes U+FFFD.
//
// Thread safety: pure functions over constant tables.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The Unicode character of a Windows-1252 byte.
char16_t AnsiCharToWide(char c);
// The Windows-1252 byte of a UTF-16 code unit; false when there is none.
bool TryWideCharToAnsi(char16_t c, char& out);
// As TryWideCharToAnsi, '?' when there is none.
char WideCharToAnsi(char16_t c);

std::u16string AnsiToWide(std::string_view s);
std::string WideToAnsi(std::u16string_view s);

std::u16string Utf8ToWide(std::string_view s);
std::string WideToUtf8(std::u16string_view s);
std::string AnsiToUtf8(std::string_view s);
std::string Utf8ToAnsi(std::string_view s);

}  // namespace platform
