#include "dbengine/foundation/VEZCipher.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "dbengine/foundation/VEZDecUtil.h"
#include "dbengine/foundation/VEZFileStream.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "platform/core/Format.h"

namespace vez {

bool StrictKeySize = false;

namespace {

constexpr std::int32_t kStepSize = 4096;

bool Has(TPActions set, TPAction a) {
  return (set & ActionBit(a)) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// TProtection

TProtection::TProtection(std::shared_ptr<TProtection> protection)
    : protection_(std::move(protection)) {}

TProtection::~TProtection() = default;

void TProtection::SetProtection(std::shared_ptr<TProtection> value) {
  if (value == protection_) return;
  for (TProtection* p = value.get(); p; p = p->protection_.get())
    if (p == this) throw EProtection("Circular Protection detected, Protection Object is invalid.");
  protection_ = std::move(value);
}

void TProtection::StartAction(TPAction action) {
  if (protection_) protection_->StartAction(action);
}

void TProtection::FinishAction(TPAction action) {
  if (protection_) protection_->FinishAction(action);
}

void TProtection::ProcessBuffer(void* buffer, std::int32_t size, TPAction action) {
  if (protection_) protection_->ProcessBuffer(buffer, size, action);
}

std::int32_t TProtection::CodeBuffer(void* buffer, std::int32_t size, TPAction action) {
  StartAction(action);
  try {
    ProcessBuffer(buffer, size, action);
  } catch (...) {
    FinishAction(action);
    throw;
  }
  FinishAction(action);
  return size;
}

void TProtection::CodeStream(TVEZStream* source, TVEZStream* dest, std::int32_t data_size,
                             TPAction action) {
  if (!source) return;
  if (!dest) dest = source;
  if (data_size < 0) {
    data_size = static_cast<std::int32_t>(std::min<std::int64_t>(source->Size(), INT32_MAX));
    source->SetPosition(0);
  }
  const std::int32_t total = data_size;
  StartAction(action);
  std::vector<std::uint8_t> work(kStepSize, 0);
  auto finish = [&] {
    ReportProgress(this, 0, 0);
    SecureZero(work.data(), work.size());
    FinishAction(action);
  };
  try {
    ReportProgress(this, 0, total);
    std::int64_t src_pos = source->Position();
    std::int64_t dst_pos = dest->Position();
    while (data_size > 0) {
      const std::int32_t want = std::min(data_size, kStepSize);
      std::int32_t got;
      if (action == TPAction::paCalc) {
        got = source->Read(work.data(), want);
        if (got <= 0) break;
        ProcessBuffer(work.data(), got, action);
      } else {
        source->SetPosition(src_pos);
        got = source->Read(work.data(), want);
        src_pos = source->Position();
        if (got <= 0) break;
        ProcessBuffer(work.data(), got, action);
        dest->SetPosition(dst_pos);
        dest->WriteBuffer(work.data(), got);
        dst_pos = dest->Position();
      }
      data_size -= got;
      ReportProgress(this, total - data_size, total);
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TProtection::CodeFile(const std::string& source, const std::string& dest, TPAction action) {
  std::error_code ec;
  const bool blank_dest = dest.find_first_not_of(" \t") == std::string::npos;
  // The same file under two names (links, relative paths) must be coded in
  // place, never opened twice.
  const bool same = !blank_dest && std::filesystem::equivalent(source, dest, ec) && !ec;
  if (!same && (!blank_dest || action == TPAction::paCalc)) {
    TVEZFileStream src(source, 0x40, false);
    if (action == TPAction::paCalc) {
      CodeStream(&src, &src, static_cast<std::int32_t>(src.Size()), action);
      return;
    }
    TVEZFileStream dst(dest, TVEZFileStream::kModeCreate, false);
    CodeStream(&src, &dst, static_cast<std::int32_t>(src.Size()), action);
    dst.SetSize(dst.Position());
  } else {
    TVEZFileStream src(source, 0x42, false);
    CodeStream(&src, &src, static_cast<std::int32_t>(src.Size()), action);
  }
}

std::string TProtection::CodeString(const std::string& source, TPAction action,
                                    std::int32_t format) {
  if (source.empty()) return {};
  std::string bytes =
      action == TPAction::paDecode
          ? DecodeFromFormat(source.data(), static_cast<std::int32_t>(source.size()), format)
          : source;
  TVEZMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  CodeStream(&stream, &stream, -1, action);
  std::string coded(reinterpret_cast<const char*>(stream.Buffer()), bytes.size());
  SecureZero(bytes.data(), bytes.size());
  if (action == TPAction::paDecode) return coded;
  std::string text = EncodeToFormat(coded.data(), static_cast<std::int32_t>(coded.size()), format);
  SecureZero(coded.data(), coded.size());
  return text;
}

std::uint16_t TProtection::Identity() const {
  ClassChecksum16();
}

// ---------------------------------------------------------------------------
// THash

bool THash::SelfTest() {
  DefaultTestData();
}

THash::~THash() = default;

void THash::Calc(const void*, std::int32_t) {}

const std::uint8_t* THash::DigestKey() const {
  DefaultTestData();
}

void THash::KnownAnswer() const {
  DefaultTestData();
}

std::string THash::DigestStr(std::int32_t format) const {
  return EncodeToFormat(DigestKey(), DigestKeySize(), format);
}

void THash::StartAction(TPAction action) {
  Init();
  if (action == TPAction::paWipe) RandomWipe();
  TProtection::StartAction(action);
}

void THash::FinishAction(TPAction action) {
  TProtection::FinishAction(action);
  if (action == TPAction::paCalc)
    Done();
  else
    Init();
}

void THash::ProcessBuffer(void* buffer, std::int32_t size, TPAction action) {
  if (action != TPAction::paDecode) TProtection::ProcessBuffer(buffer, size, action);
  if (Has(Actions(), action) && buffer) {
    auto* p = static_cast<std::uint8_t*>(buffer);
    const std::int32_t d = DigestKeySize();
    if (action == TPAction::paCalc) {
      Calc(buffer, size);
    } else if (d > 0) {
      for (std::int32_t pos = 0; pos < size; pos += d) {
        const std::int32_t piece = std::min(d, size - pos);
        if (action == TPAction::paScramble || action == TPAction::paWipe) {
          Calc(p + pos, piece);
          Done();
          std::memcpy(p + pos, DigestKey(), static_cast<std::size_t>(piece));
        } else {
          // The digest is fed back into itself, so it must be copied first.
          std::uint8_t digest[64];
          std::memcpy(digest, DigestKey(), static_cast<std::size_t>(d));
          Calc(digest, d);
          Done();
          XorBytes(p + pos, DigestKey(), piece, p + pos);
          SecureZero(digest, sizeof digest);
        }
      }
    }
  } else if (!buffer) {
    return;
  }
  if (action == TPAction::paDecode) TProtection::ProcessBuffer(buffer, size, action);
}

std::string THash::CalcBuffer(THashClass cls, const void* buffer, std::int32_t size,
                              std::shared_ptr<TProtection> protection, std::int32_t format) {
  auto h = cls();
  h->SetProtection(std::move(protection));
  h->CodeBuffer(const_cast<void*>(buffer), size, TPAction::paCalc);
  return EncodeToFormat(h->DigestKey(), h->DigestKeySize(), format);
}

std::string THash::CalcString(THashClass cls, const std::string& data,
                              std::shared_ptr<TProtection> protection, std::int32_t format) {
  std::string copy = data;
  std::string r = CalcBuffer(cls, copy.data(), static_cast<std::int32_t>(copy.size()),
                             std::move(protection), format);
  SecureZero(copy.data(), copy.size());
  return r;
}

std::string THash::CalcStream(THashClass cls, TVEZStream& stream, std::int32_t size,
                              std::shared_ptr<TProtection> protection, std::int32_t format) {
  auto h = cls();
  h->SetProtection(std::move(protection));
  h->CodeStream(&stream, &stream, size, TPAction::paCalc);
  return EncodeToFormat(h->DigestKey(), h->DigestKeySize(), format);
}

std::string THash::CalcFile(THashClass cls, const std::string& file_name,
                            std::shared_ptr<TProtection> protection, std::int32_t format) {
  TVEZFileStream f(file_name, 0x40, false);
  return CalcStream(cls, f, static_cast<std::int32_t>(f.Size()), std::move(protection), format);
}

// ---------------------------------------------------------------------------
// TCipher

TCipher::TCipher(std::shared_ptr<TProtection> protection, std::int32_t buf_size,
                 std::int32_t key_size, std::int32_t user_size)
    : TProtection(std::move(protection)),
      hash_class_(&THash_RipeMD256::Create),
      key_size_(key_size),
      buf_size_(buf_size),
      user_size_(user_size),
      buffer_(static_cast<std::size_t>(buf_size)),
      vector_(static_cast<std::size_t>(buf_size)),
      feedback_(static_cast<std::size_t>(buf_size)),
      user_(static_cast<std::size_t>((user_size + 3) / 4)) {
  Protect();
}

TCipher::~TCipher() {
  Protect();
  SecureZero(vector_.data(), vector_.size());
  SecureZero(feedback_.data(), feedback_.size());
}

void TCipher::SetStateFlag(int index, bool value) {
  if (value)
    flags_ |= (1 << index);
  else
    flags_ &= ~(1 << index);
}

void TCipher::Protect() {
  SetStateFlag(0, false);
  SetStateFlag(1, false);
  std::memset(vector_.data(), 0xFF, vector_.size());
  std::memset(feedback_.data(), 0xFF, feedback_.size());
  SecureZero(buffer_.data(), buffer_.size());
  SecureZero(user_.data(), user_.size() * sizeof(std::uint32_t));
}

THash& TCipher::Hash() {
  if (!hash_) hash_ = (hash_class_ ? hash_class_ : &THash_RipeMD256::Create)();
  return *hash_;
}

void TCipher::SetHashClass(THashClass value) {
  // Only the class in use keeps the hash object; asking for the fallback by
  // null always starts a fresh one.
  if (value == hash_class_) return;
  hash_.reset();
  hash_class_ = value ? value : &THash_RipeMD256::Create;
}

void TCipher::Init(const void* key, std::int32_t size, const void* iv) {
  if (size < 0) size = 0;
  if (size > key_size_) {
    if (StrictKeySize) {
      Protect();
      throw ECipherException(
          2, platform::Format(
                 "Length from Encryptionkey is invalid.\r\nKeysize for %s must be to %d-%d bytes",
                 {ClassName(), 0, key_size_}));
    }
    size = key_size_;
  }
  // The key may live in one of the buffers the wipe below clears.
  std::vector<std::uint8_t> k(static_cast<std::size_t>(key_size_), 0);
  if (size > 0) std::memmove(k.data(), key, static_cast<std::size_t>(size));
  SetStateFlag(1, false);
  Protect();
  try {
    SetupKey(k.data(), size);
  } catch (...) {
    SecureZero(k.data(), k.size());
    Protect();
    throw;
  }
  SecureZero(k.data(), k.size());
  if (iv)
    std::memmove(vector_.data(), iv, vector_.size());
  else
    EncryptBlock(vector_.data());
  std::memcpy(feedback_.data(), vector_.data(), vector_.size());
  SetStateFlag(1, true);
}

void TCipher::InitKey(const std::string& key, const void* iv) {
  THash& h = Hash();
  h.Init();
  h.Calc(key.data(), static_cast<std::int32_t>(key.size()));
  h.Done();
  const std::int32_t d = h.DigestKeySize();
  // The digest is the key: it is coded where the hash keeps it, so no plain
  // copy of the key outlives the setup.
  auto* digest = const_cast<std::uint8_t*>(h.DigestKey());
  Init(digest, std::min(d, key_size_), iv);
  EncodeBuffer(digest, digest, d);
  Done();
  SetStateFlag(0, true);
}

void TCipher::RunSelfTest(TCipher& cipher) {
  const bool strict = StrictKeySize;
  StrictKeySize = false;
  try {
    cipher.SetMode(TCipherMode::cmCTS);
    const std::string name = cipher.ClassName();
    cipher.Init(name.data(), static_cast<std::int32_t>(name.size()), nullptr);
    DefaultTestData();
  } catch (...) {
    StrictKeySize = strict;
    throw;
  }
}

void TCipher::Done() {
  if (CompareBytes(feedback_.data(), vector_.data(), buf_size_) != 0) {
    std::memcpy(buffer_.data(), feedback_.data(), buffer_.size());
    std::memcpy(feedback_.data(), vector_.data(), feedback_.size());
  }
}

void TCipher::CheckInitialized() const {
  if (!Initialized())
    throw ECipherException(
        3,
        platform::Format("%s is not initialized call Init() or InitKey() before.", {ClassName()}));
}

void TCipher::TailStep(const std::uint8_t* in, std::uint8_t* out, std::int32_t r) {
  std::uint8_t* k = buffer_.data();
  std::memcpy(k, feedback_.data(), buffer_.size());
  EncryptBlock(k);
  if (out) XorBytes(in, k, r, out);
  XorBytes(k, feedback_.data(), buf_size_, feedback_.data());
}

void TCipher::EncodeBuffer(const void* source, void* dest, std::int32_t size) {
  CheckInitialized();
  if (size <= 0) return;
  const auto* in = static_cast<const std::uint8_t*>(source);
  auto* out = static_cast<std::uint8_t*>(dest);
  const std::int32_t n = buf_size_;
  std::uint8_t* f = feedback_.data();
  std::uint8_t* b = buffer_.data();
  std::int32_t pos = 0;
  switch (mode_) {
    case TCipherMode::cmCTS:
    case TCipherMode::cmCBC:
      for (; pos + n <= size; pos += n) {
        XorBytes(in + pos, f, n, b);
        EncryptBlock(b);
        if (mode_ == TCipherMode::cmCTS)
          XorBytes(b, f, n, f);
        else
          std::memcpy(f, b, static_cast<std::size_t>(n));
        std::memcpy(out + pos, b, static_cast<std::size_t>(n));
      }
      if (pos < size) TailStep(in + pos, out + pos, size - pos);
      break;
    case TCipherMode::cmCTSMAC:
    case TCipherMode::cmCBCMAC:
      for (; pos + n <= size; pos += n) {
        XorBytes(in + pos, f, n, b);
        EncryptBlock(b);
        if (mode_ == TCipherMode::cmCTSMAC)
          XorBytes(b, f, n, f);
        else
          std::memcpy(f, b, static_cast<std::size_t>(n));
      }
      if (pos < size) TailStep(nullptr, nullptr, size - pos);
      break;
    case TCipherMode::cmCFB:
    case TCipherMode::cmOFB:
    case TCipherMode::cmCFBMAC:
      for (; pos < size; ++pos) {
        std::memcpy(b, f, static_cast<std::size_t>(n));
        EncryptBlock(b);
        const std::uint8_t k0 = b[0];
        const std::uint8_t c = static_cast<std::uint8_t>(in[pos] ^ k0);
        std::memmove(f, f + 1, static_cast<std::size_t>(n - 1));
        f[n - 1] = mode_ == TCipherMode::cmOFB ? k0 : c;
        if (mode_ != TCipherMode::cmCFBMAC) out[pos] = c;
      }
      break;
    case TCipherMode::cmECB:
      if (out != in) std::memcpy(out, in, static_cast<std::size_t>(size));
      for (; pos + n <= size; pos += n)
        EncryptBlock(out + pos);
      if (pos < size) {
        // A short last block is coded whole in the work buffer; only its
        // first bytes are kept, so it cannot be decoded.
        std::memcpy(b, out + pos, static_cast<std::size_t>(size - pos));
        EncryptBlock(b);
        std::memcpy(out + pos, b, static_cast<std::size_t>(size - pos));
      }
      break;
  }
}

void TCipher::DecodeBuffer(const void* source, void* dest, std::int32_t size) {
  CheckInitialized();
  if (size <= 0) return;
  const auto* in = static_cast<const std::uint8_t*>(source);
  auto* out = static_cast<std::uint8_t*>(dest);
  const std::int32_t n = buf_size_;
  std::uint8_t* f = feedback_.data();
  std::uint8_t* b = buffer_.data();
  std::int32_t pos = 0;
  switch (mode_) {
    case TCipherMode::cmCTS:
    case TCipherMode::cmCBC:
      if (out != in) std::memcpy(out, in, static_cast<std::size_t>(size));
      for (; pos + n <= size; pos += n) {
        std::memcpy(b, out + pos, static_cast<std::size_t>(n));  // C
        DecryptBlock(out + pos);
        XorBytes(out + pos, f, n, out + pos);
        if (mode_ == TCipherMode::cmCTS)
          XorBytes(b, f, n, f);
        else
          std::memcpy(f, b, static_cast<std::size_t>(n));
      }
      if (pos < size) TailStep(out + pos, out + pos, size - pos);
      break;
    case TCipherMode::cmCFB:
      for (; pos < size; ++pos) {
        std::memcpy(b, f, static_cast<std::size_t>(n));
        EncryptBlock(b);
        const std::uint8_t c = in[pos];
        std::memmove(f, f + 1, static_cast<std::size_t>(n - 1));
        f[n - 1] = c;
        out[pos] = static_cast<std::uint8_t>(c ^ b[0]);
      }
      break;
    case TCipherMode::cmOFB:
      EncodeBuffer(source, dest, size);
      break;
    case TCipherMode::cmECB:
      if (out != in) std::memcpy(out, in, static_cast<std::size_t>(size));
      for (; pos + n <= size; pos += n)
        DecryptBlock(out + pos);
      if (pos < size) {
        std::memcpy(b, out + pos, static_cast<std::size_t>(size - pos));
        EncryptBlock(b);
        std::memcpy(out + pos, b, static_cast<std::size_t>(size - pos));
      }
      break;
    case TCipherMode::cmCTSMAC:
    case TCipherMode::cmCBCMAC:
    case TCipherMode::cmCFBMAC:
      EncodeBuffer(source, dest, size);
      break;
  }
}

void TCipher::StartAction(TPAction action) {
  CheckInitialized();
  if (action != TPAction::paCalc) {
    if (action == TPAction::paWipe) RandomWipe();
    Done();
  }
  TProtection::StartAction(action);
}

void TCipher::FinishAction(TPAction action) {
  TProtection::FinishAction(action);
  if (action != TPAction::paCalc) {
    if (action == TPAction::paWipe) RandomWipe();
    Done();
  }
}

void TCipher::ProcessBuffer(void* buffer, std::int32_t size, TPAction action) {
  if (action == TPAction::paDecode) {
    if (Has(Actions(), action)) DecodeBuffer(buffer, buffer, size);
    TProtection::ProcessBuffer(buffer, size, action);
  } else {
    TProtection::ProcessBuffer(buffer, size, action);
    if (Has(Actions(), action)) EncodeBuffer(buffer, buffer, size);
  }
}

// ---------------------------------------------------------------------------
// Cipher registry

namespace {

struct CipherEntry {
  std::string class_name;
  std::string text;
};

std::vector<CipherEntry>& Ciphers() {
  static std::vector<CipherEntry> list{{"TCipher_Rijndael", "Rijndael="}};
  return list;
}

}  // namespace

bool AddCipherClass(const std::string& class_name, const std::string& name,
                    const std::string& description) {
  if (class_name.empty()) return false;
  std::string n = name;
  n.erase(0, n.find_first_not_of(' '));
  n.erase(n.find_last_not_of(' ') + 1);
  if (n.empty()) {
    n = class_name;
    if (!n.empty() && n[0] == 'T') n.erase(0, 1);
    const auto u = n.find('_');
    if (u != std::string::npos) n.erase(0, u + 1);
  }
  const std::string text = n + "=" + description;
  for (auto& e : Ciphers())
    if (e.class_name == class_name) {
      e.text = text;
      return true;
    }
  Ciphers().push_back({class_name, text});
  return true;
}

std::vector<std::string> RegisteredCipherEntries() {
  std::vector<std::string> r;
  for (const auto& e : Ciphers())
    r.push_back(e.text);
  return r;
}

}  // namespace vez
