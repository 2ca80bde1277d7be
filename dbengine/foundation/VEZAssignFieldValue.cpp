#include "dbengine/foundation/VEZAssignFieldValue.h"

#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "platform/core/Exceptions.h"
#include "platform/dataset/DataSet.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/dataset/Stream.h"

namespace vez {

namespace {

using platform::Field;
using platform::Stream;
using platform::TBlobStreamMode;

std::unique_ptr<Stream> OpenBlob(const Field& field, TBlobStreamMode mode) {
  platform::DataSet* ds = field.GetDataSet();
  std::unique_ptr<Stream> s =
      ds != nullptr ? ds->CreateBlobStream(const_cast<Field&>(field), mode) : nullptr;
  if (!s) platform::DatabaseError("Field '" + field.DisplayName() + "' has no BLOB stream");
  return s;
}

std::string ReadBlob(const Field& field) {
  auto s = OpenBlob(field, TBlobStreamMode::bmRead);
  const std::int64_t size = s->GetSize();
  if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) throw platform::EIntOverflow();
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (s->Seek(0, platform::soBeginning) != 0 ||
      (size > 0 && s->Read(bytes.data(), static_cast<std::int32_t>(size)) != size))
    throw platform::EReadError("Stream read error");
  return bytes;
}

void WriteBlob(Field& field, const char* data, std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    throw platform::EIntOverflow();
  auto s = OpenBlob(field, TBlobStreamMode::bmWrite);
  const auto n = static_cast<std::int32_t>(size);
  if (n > 0 && s->Write(data, n) != n) throw platform::EWriteError("Stream write error");
}

// A picture stored with the platform's graphic header: Count = 1,
// HType = 0x0100 and the size of what follows.
bool HasGraphicHeader(const std::string& bytes) {
  if (bytes.size() < 8) return false;
  std::uint16_t count, type;
  std::int32_t size;
  std::memcpy(&count, bytes.data(), 2);
  std::memcpy(&type, bytes.data() + 2, 2);
  std::memcpy(&size, bytes.data() + 4, 4);
  return count == 1 && type == 0x0100 && static_cast<std::size_t>(size) == bytes.size() - 8;
}

}  // namespace

void AssignFieldValue(const Field& Source, Field& Dest) {
  using platform::ftLargeint;
  using platform::ftVarBytes;
  using platform::ftWideMemo;
  using platform::ftWideString;
  if (Source.IsNull()) {
    Dest.Clear();
    return;
  }
  const platform::TFieldType st = Source.DataType(), dt = Dest.DataType();
  if (st == ftVarBytes) {
    const platform::Variant v = Source.Value();
    if (!(Dest.Value() == v)) Dest.SetValue(v);
  } else if (st == ftLargeint) {
    if (dt == ftLargeint)
      Dest.SetAsLargeInt(Source.AsLargeInt());
    else
      Dest.Assign(Source);
  } else if (st == ftWideMemo) {
    Dest.SetAsWideString(Source.AsWideString());
  } else if (Source.IsBlob() && Dest.IsBlob()) {
    if (dt == ftWideMemo) {
      Dest.SetAsWideString(Source.AsWideString());
    } else {
      const std::string bytes = ReadBlob(Source);
      const std::size_t skip = HasGraphicHeader(bytes) ? 8 : 0;
      WriteBlob(Dest, bytes.data() + skip, bytes.size() - skip);
    }
  } else if (st == ftWideString && Dest.IsBlob()) {
    const std::u16string text = Source.AsWideString();
    std::string bytes(text.size() * 2, '\0');
    std::memcpy(bytes.data(), text.data(), bytes.size());
    WriteBlob(Dest, bytes.data(), bytes.size());
  } else if (dt == ftWideString && Source.IsBlob()) {
    const std::string bytes = ReadBlob(Source);
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    Dest.SetAsWideString(text);
  } else if (dt == ftLargeint) {
    Dest.SetAsLargeInt(Source.AsInteger());
  } else {
    Dest.Assign(Source);
  }
}

}  // namespace vez
