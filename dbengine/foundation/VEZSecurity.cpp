#include "dbengine/foundation/VEZSecurity.h"

#include <memory>

#include "dbengine/foundation/VEZCipher.h"
#include "dbengine/foundation/VEZDecUtil.h"

namespace vez {

const char* const kCryptoAlgorithmNames[kCryptoAlgorithmCount] = {
    "Rijndael_128", "Rijndael_256", "DES_Single",  "DES_Triple",
    "Blowfish",     "Twofish_128",  "Twofish_256", "Square"};

void WipeString(std::string& text) {
  // A moved-from or shortened text keeps old characters past its length in
  // its own storage: the whole capacity is overwritten.
  text.resize(text.capacity());
  SecureZero(text.data(), text.size());
  text.clear();
}

TVEZPassword& TVEZPassword::operator=(const TVEZPassword& other) {
  if (this != &other) {
    WipeString(Password);
    Password = other.Password;
    CryptoAlgorithm = other.CryptoAlgorithm;
  }
  return *this;
}

TVEZPassword& TVEZPassword::operator=(TVEZPassword&& other) {
  if (this != &other) {
    WipeString(Password);
    Password = std::move(other.Password);
    WipeString(other.Password);
    CryptoAlgorithm = other.CryptoAlgorithm;
  }
  return *this;
}

TVEZPassword::~TVEZPassword() {
  WipeString(Password);
}

namespace {

std::shared_ptr<TCipher> MakePageCipher(TVEZCryptoAlgorithm algorithm) {
  switch (algorithm) {
    case craRijndael_128:
    case craRijndael_256:
      return std::make_shared<TCipher_Rijndael>();
    case craDES_Single:
      return std::make_shared<TCipher_1DES>();
    case craDES_Triple:
      return std::make_shared<TCipher_3TDES>();
    case craBlowfish:
      return std::make_shared<TCipher_Blowfish>();
    case craTwofish_128:
    case craTwofish_256:
      return std::make_shared<TCipher_Twofish>();
    case craSquare:
      return std::make_shared<TCipher_Square>();
  }
  return nullptr;
}

THashClass PageHashClass(TVEZCryptoAlgorithm algorithm) {
  switch (algorithm) {
    case craRijndael_256:
    case craBlowfish:
    case craTwofish_256:
      return &THash_RipeMD256::Create;
    default:
      return &THash_RipeMD128::Create;
  }
}

bool CodePage(TVEZCryptoAlgorithm algorithm, void* buffer, std::int32_t size,
              const std::string& password, bool encrypt) {
  try {
    // A combination this build does not know must never pass data through
    // as if it had been coded.
    std::shared_ptr<TCipher> cipher = MakePageCipher(algorithm);
    if (!cipher) return false;
    // A fresh cipher is keyed only through the combination's own hash; the
    // key that creating it with a password would derive first is discarded
    // anyway.
    cipher->SetHashClass(PageHashClass(algorithm));
    cipher->InitKey(password, cipher->Vector());
    cipher->SetMode(TCipherMode::cmCTS);
    if (encrypt)
      cipher->EncodeBuffer(buffer, buffer, size);
    else
      cipher->DecodeBuffer(buffer, buffer, size);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool EncryptPageData(TVEZCryptoAlgorithm algorithm, void* buffer, std::int32_t size,
                     const std::string& password) {
  return CodePage(algorithm, buffer, size, password, true);
}

bool DecryptPageData(TVEZCryptoAlgorithm algorithm, void* buffer, std::int32_t size,
                     const std::string& password) {
  return CodePage(algorithm, buffer, size, password, false);
}

}  // namespace vez
