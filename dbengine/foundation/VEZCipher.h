// Block ciphers and hash functions behind database encryption: the shared
// frame (a chainable reference-counted protection, a block cipher with key
// setup from raw bytes or from a password digest, eight chaining modes and
// buffer/stream/file/string coding, and an incremental hash) and the concrete
// algorithms. Three of the ciphers differ from their published form on
// purpose, because encrypted files depend on the bytes they produce:
//   - TCipher_Rijndael with keys above 24 bytes chains words 4..7 of every
//     key-schedule group twice;
//   - TCipher_Twofish halves B in the odd subkeys instead of doubling it;
//   - TCipher_3TDES codes 24-byte blocks as three DES lanes whose middle
//     words are exchanged between the layers.
// Everything else reproduces the published algorithms.
//
// Thread safety: objects are used by one thread at a time; the constant
// tables are read-only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Exceptions.h"

namespace vez {

class TVEZStream;

enum class TPAction : std::uint8_t {
  paEncode = 0,
  paDecode = 1,
  paScramble = 2,
  paCalc = 3,
  paWipe = 4
};
// A set of TPAction, bit n for value n.
using TPActions = std::uint8_t;
inline constexpr TPActions kAllActions = 0x1F;
inline constexpr TPActions ActionBit(TPAction a) {
  return static_cast<TPActions>(1u << static_cast<unsigned>(a));
}

class EProtection : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

class ECipherException : public platform::Exception {
 public:
  ECipherException(std::int32_t error_code, std::string message)
      : platform::Exception(std::move(message)), error_code_(error_code) {}
  std::int32_t ErrorCode() const noexcept { return error_code_; }

 private:
  std::int32_t error_code_;
};

// A coding step that may wrap another one (its chained protection). Coding
// runs the chain inside out when encoding and outside in when decoding.
class TProtection : public std::enable_shared_from_this<TProtection> {
 public:
  explicit TProtection(std::shared_ptr<TProtection> protection = nullptr);
  virtual ~TProtection();
  TProtection(const TProtection&) = delete;
  TProtection& operator=(const TProtection&) = delete;

  const std::shared_ptr<TProtection>& Protection() const { return protection_; }
  // Raises EProtection (chain unchanged) when value's chain leads back here.
  void SetProtection(std::shared_ptr<TProtection> value);
  TPActions Actions() const { return actions_; }
  void SetActions(TPActions actions) { actions_ = actions; }

  // Start, process, finish (finish also after a failure); returns size.
  std::int32_t CodeBuffer(void* buffer, std::int32_t size, TPAction action);
  // Codes data_size bytes (below 0: the whole source from its start) from
  // source into dest (dest null: in place) in 4096-byte steps.
  void CodeStream(TVEZStream* source, TVEZStream* dest, std::int32_t data_size, TPAction action);
  // Codes a whole file into another one, or in place when both names denote
  // the same file (or dest is blank and action is not paCalc).
  void CodeFile(const std::string& source, const std::string& dest, TPAction action);
  // Codes a string; decoding reads its input, every other action writes its
  // output, in the text format of that id (VEZDecUtil.h).
  std::string CodeString(const std::string& source, TPAction action, std::int32_t format);
  // A checksum of the class name; this build has no such checksum, so it
  // always raises "Not implemented 13".
  [[noreturn]] std::uint16_t Identity() const;

 protected:
  virtual void StartAction(TPAction action);
  virtual void FinishAction(TPAction action);
  virtual void ProcessBuffer(void* buffer, std::int32_t size, TPAction action);

 private:
  std::shared_ptr<TProtection> protection_;
  TPActions actions_ = kAllActions;
};

// ---------------------------------------------------------------------------
// Hashes

class THash;
// A hash "class": makes a fresh instance. Compared by address.
using THashClass = std::shared_ptr<THash> (*)();

class THash : public TProtection {
 public:
  using TProtection::TProtection;
  // Wipes the digest.
  ~THash() override;

  virtual void Init() {}
  virtual void Calc(const void* data, std::int32_t size);
  virtual void Done() {}
  // DigestKeySize() digest bytes, valid until the next Init or the end.
  virtual const std::uint8_t* DigestKey() const;
  virtual std::int32_t DigestKeySize() const { return 0; }
  virtual const char* ClassName() const { return "THash"; }
  // Raises "... TestVector not implemented N".
  [[noreturn]] virtual void KnownAnswer() const;

  // The digest in the text format of that id (-1: base64).
  std::string DigestStr(std::int32_t format) const;
  // This build carries no test data: always raises "Not implemented 14".
  [[noreturn]] static bool SelfTest();

  // One-shot digests on a fresh instance of cls chained to protection.
  static std::string CalcBuffer(THashClass cls, const void* buffer, std::int32_t size,
                                std::shared_ptr<TProtection> protection, std::int32_t format);
  static std::string CalcString(THashClass cls, const std::string& data,
                                std::shared_ptr<TProtection> protection, std::int32_t format);
  static std::string CalcStream(THashClass cls, TVEZStream& stream, std::int32_t size,
                                std::shared_ptr<TProtection> protection, std::int32_t format);
  static std::string CalcFile(THashClass cls, const std::string& file_name,
                              std::shared_ptr<TProtection> protection, std::int32_t format);

 protected:
  void StartAction(TPAction action) override;
  void FinishAction(TPAction action) override;
  void ProcessBuffer(void* buffer, std::int32_t size, TPAction action) override;
};

// MD4 (RFC 1320) and the frame the two RIPEMD variants share. The byte count
// is 32 bits and wraps, so the length block of messages of 512 MiB or more
// differs from the published one; stored digests depend on this.
class THash_MD4 : public THash {
 public:
  using THash::THash;
  ~THash_MD4() override;
  static std::shared_ptr<THash> Create();
  void Init() override;
  void Calc(const void* data, std::int32_t size) override;
  void Done() override;
  // The chaining state itself: after Init the initial values, after Done the
  // digest, and coding the digest in place (key setup) leaves no copy.
  const std::uint8_t* DigestKey() const override { return digest_; }
  std::int32_t DigestKeySize() const override { return 16; }
  const char* ClassName() const override { return "THash_MD4"; }
  [[noreturn]] void KnownAnswer() const override;

 protected:
  virtual void Compress();
  std::uint32_t count_ = 0;
  std::uint8_t buffer_[64] = {};
  // Word i of the chaining state, stored little-endian in digest_.
  std::uint32_t Word(int i) const;
  void SetWord(int i, std::uint32_t value);
  std::uint8_t digest_[40] = {};
};

class THash_RipeMD128 : public THash_MD4 {
 public:
  using THash_MD4::THash_MD4;
  static std::shared_ptr<THash> Create();
  const char* ClassName() const override { return "THash_RipeMD128"; }
  [[noreturn]] void KnownAnswer() const override;

 protected:
  void Compress() override;
};

class THash_RipeMD256 : public THash_MD4 {
 public:
  using THash_MD4::THash_MD4;
  static std::shared_ptr<THash> Create();
  void Init() override;
  std::int32_t DigestKeySize() const override { return 32; }
  const char* ClassName() const override { return "THash_RipeMD256"; }
  [[noreturn]] void KnownAnswer() const override;

 protected:
  void Compress() override;
};

// ---------------------------------------------------------------------------
// Ciphers

enum class TCipherMode : std::uint8_t {
  cmCTS = 0,
  cmCBC = 1,
  cmCFB = 2,
  cmOFB = 3,
  cmECB = 4,
  cmCTSMAC = 5,
  cmCBCMAC = 6,
  cmCFBMAC = 7
};

// Whether an over-long key raises (ErrorCode 2) instead of being cut to
// KeySize. Off; only tests switch it.
extern bool StrictKeySize;

class TCipher : public TProtection {
 public:
  // Wipes every buffer and key schedule.
  ~TCipher() override;

  // A new cipher of class C keyed from password through the fallback hash
  // (RIPEMD-256) when password is not empty.
  template <class C>
  static std::shared_ptr<C> Create(const std::string& password,
                                   std::shared_ptr<TProtection> protection = nullptr) {
    auto c = std::make_shared<C>(std::move(protection));
    if (!password.empty()) c->InitKey(password, nullptr);
    return c;
  }

  // The largest key class C takes, in bytes.
  template <class C>
  static std::int32_t MaxKeySize() {
    return C().KeySize();
  }

  TCipherMode Mode() const { return mode_; }
  void SetMode(TCipherMode mode) { mode_ = mode; }
  std::int32_t KeySize() const { return key_size_; }
  std::int32_t BufSize() const { return buf_size_; }
  std::int32_t UserSize() const { return user_size_; }
  bool HasHashKey() const { return (flags_ & 1) != 0; }
  bool Initialized() const { return (flags_ & 2) != 0; }
  std::uint8_t* Vector() { return vector_.data(); }
  std::uint8_t* Feedback() { return feedback_.data(); }
  std::uint8_t* Buffer() { return buffer_.data(); }

  // The hash InitKey digests with; made from HashClass() when none is held.
  THash& Hash();
  THashClass HashClass() const { return hash_class_; }
  // nullptr selects the fallback (RIPEMD-256); every change of class, and
  // nullptr always, drops the hash object. A key already set stays.
  void SetHashClass(THashClass value);

  // Key setup from size raw key bytes (cut to KeySize, zero-padded by the
  // schedule). iv: BufSize bytes, or null for the encryption of all-0xFF.
  // key and iv may point into this cipher's own buffers.
  void Init(const void* key, std::int32_t size, const void* iv);
  // Key setup from the digest of key's bytes under HashClass().
  void InitKey(const std::string& key, const void* iv);

  // Keys a fresh C with its class name (over-long keys cut) and then needs
  // test data this build does not carry: always raises "Not implemented 14",
  // with StrictKeySize restored.
  template <class C>
  [[noreturn]] static bool SelfTest() {
    C cipher;
    RunSelfTest(cipher);
  }
  // Restarts the chain at the vector.
  void Done();
  // Wipes buffers and key schedule; not initialized afterwards.
  void Protect();

  // Code size bytes in Mode(); source and dest may be the same buffer but
  // must not overlap otherwise. ECipherException 3 without a key.
  void EncodeBuffer(const void* source, void* dest, std::int32_t size);
  void DecodeBuffer(const void* source, void* dest, std::int32_t size);

  virtual void EncryptBlock(void* block) const = 0;
  virtual void DecryptBlock(void* block) const = 0;
  virtual const char* ClassName() const = 0;
  [[noreturn]] virtual void KnownAnswer() const = 0;

 protected:
  TCipher(std::shared_ptr<TProtection> protection, std::int32_t buf_size, std::int32_t key_size,
          std::int32_t user_size);
  // The cipher's own schedule from key (size bytes, size <= KeySize) into
  // User(), which is zeroed before.
  virtual void SetupKey(const std::uint8_t* key, std::int32_t size) = 0;
  // The key schedule area, UserSize bytes as 32-bit words.
  std::uint32_t* User() { return user_.data(); }
  const std::uint32_t* User() const { return user_.data(); }

  void StartAction(TPAction action) override;
  void FinishAction(TPAction action) override;
  void ProcessBuffer(void* buffer, std::int32_t size, TPAction action) override;

 private:
  [[noreturn]] static void RunSelfTest(TCipher& cipher);
  void CheckInitialized() const;
  void SetStateFlag(int index, bool value);
  void TailStep(const std::uint8_t* in, std::uint8_t* out, std::int32_t r);

  TCipherMode mode_ = TCipherMode::cmCTS;
  std::shared_ptr<THash> hash_;
  THashClass hash_class_;
  std::int32_t key_size_;
  std::int32_t buf_size_;
  std::int32_t user_size_;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::uint8_t> vector_;
  std::vector<std::uint8_t> feedback_;
  std::vector<std::uint32_t> user_;
  std::int32_t flags_ = 0;
};

// AES; keys of 1..16 bytes run 10 rounds, 17..24 12, 25..32 14 (with the
// changed expansion described at the top).
class TCipher_Rijndael : public TCipher {
 public:
  explicit TCipher_Rijndael(std::shared_ptr<TProtection> protection = nullptr);
  void EncryptBlock(void* block) const override;
  void DecryptBlock(void* block) const override;
  const char* ClassName() const override { return "TCipher_Rijndael"; }
  [[noreturn]] void KnownAnswer() const override;
  std::int32_t Rounds() const { return rounds_; }

 protected:
  void SetupKey(const std::uint8_t* key, std::int32_t size) override;

 private:
  std::int32_t rounds_ = 0;
};

class TCipher_Blowfish : public TCipher {
 public:
  explicit TCipher_Blowfish(std::shared_ptr<TProtection> protection = nullptr);
  void EncryptBlock(void* block) const override;
  void DecryptBlock(void* block) const override;
  const char* ClassName() const override { return "TCipher_Blowfish"; }
  [[noreturn]] void KnownAnswer() const override;

 protected:
  void SetupKey(const std::uint8_t* key, std::int32_t size) override;
};

class TCipher_1DES : public TCipher {
 public:
  explicit TCipher_1DES(std::shared_ptr<TProtection> protection = nullptr);
  void EncryptBlock(void* block) const override;
  void DecryptBlock(void* block) const override;
  const char* ClassName() const override { return "TCipher_1DES"; }
  [[noreturn]] void KnownAnswer() const override;

 protected:
  TCipher_1DES(std::shared_ptr<TProtection> protection, std::int32_t buf_size,
               std::int32_t key_size, std::int32_t user_size);
  void SetupKey(const std::uint8_t* key, std::int32_t size) override;
  // One DES block of 8 bytes under the 32-word schedule at k.
  static void DESFunc(const std::uint32_t* k, std::uint8_t* block);
  // The 32-word schedule of an 8-byte key, for encryption or decryption.
  static void MakeSchedule(const std::uint8_t* key, bool decrypt, std::uint32_t* k);
};

// Triple DES, encrypt-decrypt-encrypt on 8-byte blocks.
class TCipher_3DES : public TCipher_1DES {
 public:
  explicit TCipher_3DES(std::shared_ptr<TProtection> protection = nullptr);
  void EncryptBlock(void* block) const override;
  void DecryptBlock(void* block) const override;
  const char* ClassName() const override { return "TCipher_3DES"; }
  [[noreturn]] void KnownAnswer() const override;

 protected:
  TCipher_3DES(std::shared_ptr<TProtection> protection, std::int32_t buf_size);
  void SetupKey(const std::uint8_t* key, std::int32_t size) override;
};

// Triple DES over 24-byte blocks (see the top of this file).
class TCipher_3TDES : public TCipher_3DES {
 public:
  explicit TCipher_3TDES(std::shared_ptr<TProtection> protection = nullptr);
  void EncryptBlock(void* block) const override;
  void DecryptBlock(void* block) const override;
  const char* ClassName() const override { return "TCipher_3TDES"; }
  [[noreturn]] void KnownAnswer() const override;
};

class TCipher_Twofish : public TCipher {
 public:
  explicit TCipher_Twofish(std::shared_ptr<TProtection> protection = nullptr);
  void EncryptBlock(void* block) const override;
  void DecryptBlock(void* block) const override;
  const char* ClassName() const override { return "TCipher_Twofish"; }
  [[noreturn]] void KnownAnswer() const override;

 protected:
  void SetupKey(const std::uint8_t* key, std::int32_t size) override;
};

class TCipher_Square : public TCipher {
 public:
  explicit TCipher_Square(std::shared_ptr<TProtection> protection = nullptr);
  void EncryptBlock(void* block) const override;
  void DecryptBlock(void* block) const override;
  const char* ClassName() const override { return "TCipher_Square"; }
  [[noreturn]] void KnownAnswer() const override;

 protected:
  void SetupKey(const std::uint8_t* key, std::int32_t size) override;
};

// Registered cipher names ("Rijndael=") as name=description entries.
bool AddCipherClass(const std::string& class_name, const std::string& name,
                    const std::string& description);
std::vector<std::string> RegisteredCipherEntries();

}  // namespace vez
