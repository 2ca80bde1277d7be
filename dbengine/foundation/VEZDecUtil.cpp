#include "dbengine/foundation/VEZDecUtil.h"

#include <cstring>
#include <mutex>

#include "dbengine/foundation/VEZBase64.h"
#include "platform/core/Format.h"

namespace vez {

namespace {

std::int32_t ActualLength(const char* value, std::int32_t len) {
  if (!value) return 0;
  if (len < 0) return static_cast<std::int32_t>(std::strlen(value));
  return len;
}

[[noreturn]] void NotImplemented(const char* text) {
  throw platform::Exception(text);
}

struct Registry {
  std::vector<const TStringFormat*> formats;
  TProgressHandler progress;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

void AddFormats(const std::vector<const TStringFormat*>& formats) {
  auto& list = TheRegistry().formats;
  for (const TStringFormat* f : formats) {
    if (!f || f->Format() == -1) continue;
    bool replaced = false;
    for (auto& entry : list) {
      if (entry->Format() == f->Format()) {
        entry = f;
        replaced = true;
        break;
      }
    }
    if (!replaced) list.push_back(f);
  }
}

void RegisterDefaultsOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    AddFormats({&TStringFormat::Instance(), &TStringFormat_HEX::Instance(),
                &TStringFormat_HEXL::Instance(), &TStringFormat_MIME64::Instance(),
                &TStringFormat_UU::Instance(), &TStringFormat_XX::Instance()});
  });
}

constexpr char kMime64Table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// True when every character of the text is one of the table's; the hex and
// the uuencode families both check their text this way.
bool OnlyTableChars(const char* table, const char* value, std::int32_t len) {
  const std::int32_t n = ActualLength(value, len);
  for (std::int32_t i = 0; i < n; ++i)
    if (!std::strchr(table, value[i]) || value[i] == '\0') return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Formats

std::string TStringFormat::ToStr(const char* value, std::int32_t len) const {
  if (!value || len < 0) return {};
  return std::string(value, static_cast<std::size_t>(len));
}

std::string TStringFormat::StrTo(const char* value, std::int32_t len) const {
  return ToStr(value, len);
}

bool TStringFormat::IsValid(const char*, std::int32_t, bool) const {
  return true;
}

const TStringFormat& TStringFormat::Instance() {
  static const TStringFormat f;
  return f;
}

std::string TStringFormat_HEX::ToStr(const char* value, std::int32_t len) const {
  if (ActualLength(value, len) > 0) CharTable();
  return {};
}

std::string TStringFormat_HEX::StrTo(const char* value, std::int32_t len) const {
  if (ActualLength(value, len) > 0) CharTable();
  return {};
}

bool TStringFormat_HEX::IsValid(const char* value, std::int32_t len, bool to_str) const {
  if (!to_str) return true;
  return OnlyTableChars(CharTable(), value, len);
}

const char* TStringFormat_HEX::CharTable() const {
  NotImplemented("Not Implemented 2");
}

const TStringFormat_HEX& TStringFormat_HEX::Instance() {
  static const TStringFormat_HEX f;
  return f;
}

const char* TStringFormat_HEXL::CharTable() const {
  NotImplemented("Not implemented 3");
}

const TStringFormat_HEXL& TStringFormat_HEXL::Instance() {
  static const TStringFormat_HEXL f;
  return f;
}

std::string TStringFormat_MIME64::ToStr(const char* value, std::int32_t len) const {
  const std::int32_t n = ActualLength(value, len);
  if (n <= 0) return {};
  return Base64Decode(std::string_view(value, static_cast<std::size_t>(n)));
}

std::string TStringFormat_MIME64::StrTo(const char* value, std::int32_t len) const {
  const std::int32_t n = ActualLength(value, len);
  if (n <= 0) return {};
  return Base64Encode(std::string_view(value, static_cast<std::size_t>(n)));
}

const char* TStringFormat_MIME64::CharTable() const {
  return kMime64Table;
}

const TStringFormat_MIME64& TStringFormat_MIME64::Instance() {
  static const TStringFormat_MIME64 f;
  return f;
}

std::string TStringFormat_UU::ToStr(const char* value, std::int32_t len) const {
  if (ActualLength(value, len) > 0) CharTable();
  return {};
}

std::string TStringFormat_UU::StrTo(const char* value, std::int32_t len) const {
  if (ActualLength(value, len) > 0) CharTable();
  return {};
}

bool TStringFormat_UU::IsValid(const char* value, std::int32_t len, bool to_str) const {
  if (!to_str) return true;
  return OnlyTableChars(CharTable(), value, len);
}

const char* TStringFormat_UU::CharTable() const {
  NotImplemented("Not implemented 5");
}

const TStringFormat_UU& TStringFormat_UU::Instance() {
  static const TStringFormat_UU f;
  return f;
}

const char* TStringFormat_XX::CharTable() const {
  NotImplemented("Not implemented 6");
}

const TStringFormat_XX& TStringFormat_XX::Instance() {
  static const TStringFormat_XX f;
  return f;
}

// ---------------------------------------------------------------------------
// Registry

void AddStringFormatClasses(const std::vector<const TStringFormat*>& formats) {
  RegisterDefaultsOnce();
  AddFormats(formats);
}

const TStringFormat* FindStringFormat(std::int32_t format) {
  RegisterDefaultsOnce();
  if (format == -1) format = kDefaultStringFormat;
  for (const TStringFormat* f : TheRegistry().formats)
    if (f->Format() == format) return f;
  return nullptr;
}

std::string EncodeToFormat(const void* value, std::int32_t len, std::int32_t format) {
  const char* text = static_cast<const char*>(value);
  if (!text || format == 0) return {};
  len = ActualLength(text, len);
  if (len <= 0) return {};
  const TStringFormat* f = FindStringFormat(format);
  if (!f) throw EStringFormat(platform::Format("String Format \"%d\" not exists.", {format}));
  if (!f->IsValid(text, len, false))
    throw EStringFormat(platform::Format("Input can not be convert to %s Format.", {f->Name()}));
  return f->StrTo(text, len);
}

std::string DecodeFromFormat(const void* value, std::int32_t len, std::int32_t format) {
  const char* text = static_cast<const char*>(value);
  if (!text || format == 0) return {};
  len = ActualLength(text, len);
  if (len <= 0) return {};
  const TStringFormat* f = FindStringFormat(format);
  if (!f) throw EStringFormat(platform::Format("String Format \"%d\" not exists.", {format}));
  if (!f->IsValid(text, len, true))
    throw EStringFormat(platform::Format("Input is not an valid %s Format.", {f->Name()}));
  return f->ToStr(text, len);
}

// ---------------------------------------------------------------------------
// Byte helpers

void XorBytes(const void* a, const void* b, std::int32_t count, void* dest) {
  const auto* pa = static_cast<const std::uint8_t*>(a);
  const auto* pb = static_cast<const std::uint8_t*>(b);
  auto* pd = static_cast<std::uint8_t*>(dest);
  for (std::int32_t i = 0; i < count; ++i)
    pd[i] = static_cast<std::uint8_t>(pa[i] ^ pb[i]);
}

std::int32_t CompareBytes(const void* a, const void* b, std::int32_t count) {
  const auto* pa = static_cast<const std::uint8_t*>(a);
  const auto* pb = static_cast<const std::uint8_t*>(b);
  for (std::int32_t i = 0; i < count; ++i)
    if (pa[i] != pb[i]) return std::int32_t{pa[i]} - std::int32_t{pb[i]};
  return 0;
}

void SecureZero(void* p, std::size_t count) {
  volatile auto* v = static_cast<volatile std::uint8_t*>(p);
  for (std::size_t i = 0; i < count; ++i)
    v[i] = 0;
}

void SetProgressHandler(TProgressHandler handler) {
  TheRegistry().progress = std::move(handler);
}

void ReportProgress(const void* sender, std::int32_t current, std::int32_t maximal) {
  const auto& handler = TheRegistry().progress;
  if (handler) handler(sender, current, maximal);
}

std::int32_t GetCPULevel() {
  return 4;
}

void RandomWipe() {
  NotImplemented("Not implemented 12");
}
void ClassChecksum16() {
  NotImplemented("Not implemented 13");
}
void DefaultTestData() {
  NotImplemented("Not implemented 14");
}
void SwapBufferBytes() {
  NotImplemented("Not implemented 8");
}

}  // namespace vez
