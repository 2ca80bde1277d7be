// The database password and the cipher-and-hash combination a database is
// encrypted with. The page ciphers themselves are not built yet: a database
// with a password cannot be created or opened until they are.
//
// Thread safety: plain values.
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

// Held in memory only. An empty text means the database is not encrypted.
struct TVEZPassword {
  std::string Password;
  TVEZCryptoAlgorithm CryptoAlgorithm = craRijndael_128;
};

}  // namespace vez
