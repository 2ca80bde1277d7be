// Binary-to-text formats selected by a numeric id, and the byte helpers the
// ciphers and hashes share. Base64 (id 4196) is the only format the rest of
// the engine converts with; the hexadecimal and UU families are registered so
// their ids and names resolve, but converting with them raises.
//
// Thread safety: the registry is filled once at start-up and only read
// afterwards; the conversions and byte helpers keep no state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/Exceptions.h"

namespace vez {

class EStringFormat : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

// A format is used through its one shared instance (the "class"); every
// operation is const and stateless.
class TStringFormat {
 public:
  virtual ~TStringFormat() = default;
  // Text to bytes (decoding). len < 0: value is zero-terminated.
  virtual std::string ToStr(const char* value, std::int32_t len) const;
  // Bytes to text (encoding).
  virtual std::string StrTo(const char* value, std::int32_t len) const;
  virtual std::string Name() const { return "copy Input to Output"; }
  virtual std::int32_t Format() const { return 1; }
  // Whether value can be decoded (to_str) or encoded (!to_str).
  virtual bool IsValid(const char* value, std::int32_t len, bool to_str) const;

  static const TStringFormat& Instance();
};

class TStringFormat_HEX : public TStringFormat {
 public:
  std::string ToStr(const char* value, std::int32_t len) const override;
  std::string StrTo(const char* value, std::int32_t len) const override;
  std::string Name() const override { return "Hexadecimal"; }
  std::int32_t Format() const override { return 16; }
  bool IsValid(const char* value, std::int32_t len, bool to_str) const override;
  // The format's alphabet.
  virtual const char* CharTable() const;
  static const TStringFormat_HEX& Instance();
};

class TStringFormat_HEXL : public TStringFormat_HEX {
 public:
  std::string Name() const override { return "Hexadecimal lowercase"; }
  std::int32_t Format() const override { return 1016; }
  const char* CharTable() const override;
  static const TStringFormat_HEXL& Instance();
};

// Standard base64 with '=' padding and no line breaks. Decoding skips every
// character outside the alphabet before it pads and sizes.
class TStringFormat_MIME64 : public TStringFormat_HEX {
 public:
  std::string ToStr(const char* value, std::int32_t len) const override;
  std::string StrTo(const char* value, std::int32_t len) const override;
  std::string Name() const override { return "MIME Base 64"; }
  std::int32_t Format() const override { return 4196; }
  const char* CharTable() const override;
  static const TStringFormat_MIME64& Instance();
};

class TStringFormat_UU : public TStringFormat {
 public:
  std::string ToStr(const char* value, std::int32_t len) const override;
  std::string StrTo(const char* value, std::int32_t len) const override;
  std::string Name() const override { return "UU Coding"; }
  std::int32_t Format() const override { return 21845; }
  bool IsValid(const char* value, std::int32_t len, bool to_str) const override;
  virtual const char* CharTable() const;
  static const TStringFormat_UU& Instance();
};

class TStringFormat_XX : public TStringFormat_UU {
 public:
  std::string Name() const override { return "XX Coding"; }
  std::int32_t Format() const override { return 22616; }
  const char* CharTable() const override;
  static const TStringFormat_XX& Instance();
};

// Format id used wherever -1 is given.
inline constexpr std::int32_t kDefaultStringFormat = 4196;

// Registers formats in order: a format whose id is already registered takes
// that entry's place; null entries and id -1 are skipped.
void AddStringFormatClasses(const std::vector<const TStringFormat*>& formats);
// The registered format of that id (-1: the default), or nullptr.
const TStringFormat* FindStringFormat(std::int32_t format);
// Bytes to text / text to bytes through the registry. Format 0, a null value
// or no bytes give empty text; len < 0 means zero-terminated. Raise
// EStringFormat for an unknown id or input the format refuses.
std::string EncodeToFormat(const void* value, std::int32_t len, std::int32_t format);
std::string DecodeFromFormat(const void* value, std::int32_t len, std::int32_t format);

// dest[i] = a[i] ^ b[i]; dest may be a or b.
void XorBytes(const void* a, const void* b, std::int32_t count, void* dest);
// a[i] - b[i] (unsigned) at the first difference, 0 when all count are equal.
std::int32_t CompareBytes(const void* a, const void* b, std::int32_t count);
inline std::uint32_t RotateLeft32(std::uint32_t v, std::int32_t shift) {
  shift &= 31;
  return shift == 0 ? v : (v << shift) | (v >> (32 - shift));
}
inline std::uint32_t RotateRight32(std::uint32_t v, std::int32_t shift) {
  shift &= 31;
  return shift == 0 ? v : (v >> shift) | (v << (32 - shift));
}
inline std::uint32_t SwapBytes32(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
// Overwrites count bytes so the compiler cannot drop the stores.
void SecureZero(void* p, std::size_t count);

// Progress of long coding work; nothing assigns it by default.
using TProgressHandler =
    std::function<void(const void* sender, std::int32_t current, std::int32_t maximal)>;
void SetProgressHandler(TProgressHandler handler);
void ReportProgress(const void* sender, std::int32_t current, std::int32_t maximal);

std::int32_t GetCPULevel();

// Stand-ins for services this system does not provide; each raises
// platform::Exception("Not implemented N").
[[noreturn]] void RandomWipe();       // 12
[[noreturn]] void ClassChecksum16();  // 13
[[noreturn]] void DefaultTestData();  // 14
[[noreturn]] void SwapBufferBytes();  // 8

}  // namespace vez
