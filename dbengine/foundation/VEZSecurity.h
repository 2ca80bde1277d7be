// The database password, the cipher-and-hash combination a database is
// encrypted with, and the page coder: a deterministic, length-preserving
// transformation of a buffer keyed anew from the password on every call.
//
// Thread safety: the routines are reentrant; TVEZPassword is a plain value.
#pragma once

#include <cstdint>
#include <string>

namespace vez {

// Stored as one byte in the crypto header and in every encrypted page header.
enum TVEZCryptoAlgorithm : std::uint8_t {
  craRijndael_128 = 0,
  craRijndael_256 = 1,
  craDES_Single = 2,
  craDES_Triple = 3,
  craBlowfish = 4,
  craTwofish_128 = 5,
  craTwofish_256 = 6,
  craSquare = 7,
};

inline constexpr int kCryptoAlgorithmCount = 8;

// Display names of the combinations, by value.
extern const char* const kCryptoAlgorithmNames[kCryptoAlgorithmCount];

// Held in memory only. An empty text means the database is not encrypted.
// The text is wiped when the record is destroyed or overwritten.
struct TVEZPassword {
  std::string Password;
  TVEZCryptoAlgorithm CryptoAlgorithm = craRijndael_128;

  TVEZPassword() = default;
  // Copies, so no temporary holds the text past the call unwiped.
  TVEZPassword(const std::string& password, TVEZCryptoAlgorithm algorithm)
      : Password(password), CryptoAlgorithm(algorithm) {}
  TVEZPassword(const TVEZPassword&) = default;
  TVEZPassword(TVEZPassword&&) = default;
  TVEZPassword& operator=(const TVEZPassword& other);
  TVEZPassword& operator=(TVEZPassword&& other);
  ~TVEZPassword();
};

// Overwrites the characters of text (its whole storage), then empties it.
void WipeString(std::string& text);

// Encrypts / decrypts the first size bytes of buffer in place under the
// combination and the password. Nothing else changes: no header, padding or
// change of length. False when the algorithm value is unknown (the buffer is
// then untouched) or the coding failed (the buffer may be partly coded):
// callers must not store such a buffer as encrypted data.
bool EncryptPageData(TVEZCryptoAlgorithm algorithm, void* buffer, std::int32_t size,
                     const std::string& password);
bool DecryptPageData(TVEZCryptoAlgorithm algorithm, void* buffer, std::int32_t size,
                     const std::string& password);

}  // namespace vez
