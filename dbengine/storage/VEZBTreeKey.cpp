#include "dbengine/storage/VEZBTreeKey.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "platform/core/CheckedMath.h"

namespace vez {

using platform::CheckedAdd;

namespace {

bool IsStringType(TVEZBaseFieldType t) {
  return t == bftChar || t == bftVarchar || t == bftWideChar || t == bftWideVarchar;
}

// Values compared as a run of characters or bytes, whose prefix orders like
// the value. A number, date or logical value cut short would neither keep its
// order nor fit the width its comparison reads, so it is always kept whole.
bool IsTruncatableType(TVEZBaseFieldType t) {
  return IsStringType(t) || t == bftBytes || t == bftVarBytes;
}

bool IsWideType(TVEZBaseFieldType t) {
  return t == bftWideChar || t == bftWideVarchar;
}

template <typename T>
std::int32_t Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// The locale identifier every caller of the typed value comparison passes.
constexpr std::int32_t kUserDefaultLocale = 0x400;

}  // namespace

std::int32_t CompareKeyPartValues(const std::uint8_t* v1, const std::uint8_t* v2,
                                  TVEZBaseFieldType data_type, bool is_null1, bool is_null2,
                                  std::int32_t max_chars, bool case_insensitive,
                                  std::int32_t value_bytes) {
  // Whole-number parts (most index keys) are ordered here directly; every
  // other type goes through the typed value's comparison.
  if (is_null1 || is_null2) return is_null1 == is_null2 ? 0 : (is_null1 ? -1 : 1);
  switch (data_type) {
    case bftSignedInt8:
      return Order(GetLE<std::int8_t>(v1), GetLE<std::int8_t>(v2));
    case bftSignedInt16:
      return Order(GetLE<std::int16_t>(v1), GetLE<std::int16_t>(v2));
    case bftSignedInt32:
    case bftDate:
    case bftTime:
      return Order(GetLE<std::int32_t>(v1), GetLE<std::int32_t>(v2));
    case bftSignedInt64:
      return Order(GetLE<std::int64_t>(v1), GetLE<std::int64_t>(v2));
    case bftUnsignedInt8:
      return Order(v1[0], v2[0]);
    case bftUnsignedInt16:
      return Order(GetLE<std::uint16_t>(v1), GetLE<std::uint16_t>(v2));
    case bftUnsignedInt32:
      return Order(GetLE<std::uint32_t>(v1), GetLE<std::uint32_t>(v2));
    default:
      break;
  }
  return CompareTypedValuesOrder(v1, v2, data_type, data_type, is_null1, is_null2,
                                 IsStringType(data_type) ? max_chars : -1, case_insensitive,
                                 kUserDefaultLocale, value_bytes, value_bytes);
}

// ---------------------------------------------------------------------------
// TVEZBTreeKeyRef

void TVEZBTreeKeyRef::SetPartCount(std::int32_t value) {
  parts_.resize(static_cast<std::size_t>(value));
}

bool TVEZBTreeKeyRef::HasTruncatedParts() const {
  return std::any_of(parts_.begin(), parts_.end(),
                     [](const TVEZKeyPart& p) { return p.AddedSize != 0; });
}

std::uint8_t* TVEZBTreeKeyRef::AllocShortKeyBuffer() const {
  return static_cast<std::uint8_t*>(MemoryManager().AllocMem(std::max(short_key_size_, 1)));
}

std::uint8_t* TVEZBTreeKeyRef::AllocFullKeyBuffer() const {
  return static_cast<std::uint8_t*>(MemoryManager().AllocMem(std::max(full_key_size_, 1)));
}

void TVEZBTreeKeyRef::FreeAndNilKeyBuffer(std::uint8_t*& buffer) {
  if (buffer) MemoryManager().FreeAndNillMem(buffer);
}

std::int32_t TVEZBTreeKeyRef::CompareReferences(const std::uint8_t* r1, const std::uint8_t* r2,
                                                std::int32_t size) {
  if (size == 6) {
    const TVEZPageItemID a = TVEZPageItemID::Decode(r1), b = TVEZPageItemID::Decode(r2);
    const std::int32_t r = Order(a.PageNo, b.PageNo);
    return r != 0 ? r : Order(a.PageItemNo, b.PageItemNo);
  }
  for (std::int32_t i = 0; i < size; ++i)
    if (r1[i] != r2[i]) return r1[i] < r2[i] ? -1 : 1;
  return 0;
}

// ---------------------------------------------------------------------------
// TVEZRecordKeyRef

namespace {

// A key buffer from the engine allocator, freed on every path.
struct KeyBuffer {
  explicit KeyBuffer(std::uint8_t* b) : p(b) {}
  ~KeyBuffer() {
    try {
      TVEZBTreeKeyRef::FreeAndNilKeyBuffer(p);
    } catch (...) {
    }
  }
  KeyBuffer(const KeyBuffer&) = delete;
  KeyBuffer& operator=(const KeyBuffer&) = delete;
  std::uint8_t* p;
};

}  // namespace

void TVEZRecordKeyRef::SetPartCount(std::int32_t value) {
  TVEZBTreeKeyRef::SetPartCount(value);
  compare_lengths_.assign(static_cast<std::size_t>(value), -1);
}

void TVEZRecordKeyRef::Assign(const std::vector<TVEZKeyColumn>& columns,
                              TVEZKeyRecordSource* table_data) {
  table_data_ = table_data;
  SetPartCount(static_cast<std::int32_t>(columns.size()));
  compare_field_count_ = PartCount();
  short_key_size_ = 0;
  full_key_size_ = 0;
  if (!table_data || !table_data->HasFieldManager()) throw EVEZException(20044, "Pointer is nil");
  if (!table_data->HasFieldDefs()) throw EVEZException(20045, "Pointer is nil");
  auto& parts = MutableParts();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const TVEZKeyColumn& col = columns[i];
    TVEZKeyPart& part = parts[i];
    part.OffsetInShortKeyBuffer = short_key_size_;
    part.OffsetInFullKeyBuffer = full_key_size_;
    TVEZKeyRecordSource::TFieldLayout field;
    if (!table_data->FindField(col.FieldName, field))
      throw EVEZException(20043, "Cannot find index field '%s'", {col.FieldName});
    if (field.BaseType == bftBlob || field.BaseType == bftClob || field.BaseType == bftWideClob)
      throw EVEZException(
          20295,
          "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, "
          "please use CAST(blob_field, string) function to convert BLOB field to a string "
          "expression before indexing.",
          {col.FieldName});
    part.OffsetInRecordBuffer = field.MemoryOffset;
    part.FieldNo = field.FieldNo;
    part.DataType = field.BaseType;
    part.Descending = col.Descending;
    part.CaseInsensitive = col.CaseInsensitive;
    // Text and byte strings are cut short where the column indexes fewer
    // bytes than the field holds; a wide prefix keeps whole UTF-16 units.
    std::int32_t max_indexed = std::max(col.MaxIndexedSize, 0);
    if (IsWideType(field.BaseType)) max_indexed &= ~1;
    if (IsTruncatableType(field.BaseType) && max_indexed < field.MemoryDataSize) {
      part.ShortSize = CheckedAdd(max_indexed, 3);
      part.AddedSize = 2;
    } else {
      part.ShortSize = CheckedAdd(field.MemoryDataSize, 1);
      part.AddedSize = 0;
    }
    part.FullSize = CheckedAdd(field.MemoryDataSize, 1);
    short_key_size_ = CheckedAdd(short_key_size_, part.ShortSize);
    full_key_size_ = CheckedAdd(full_key_size_, part.FullSize);
  }
}

void TVEZRecordKeyRef::Assign(const TVEZIndexDef& index_def, TVEZKeyRecordSource* table_data) {
  std::vector<TVEZKeyColumn> columns;
  columns.reserve(static_cast<std::size_t>(index_def.ColumnCount()));
  for (std::int32_t i = 0; i < index_def.ColumnCount(); ++i) {
    const TVEZIndexColumn* c = index_def.GetIndexColumn(i);
    columns.push_back({c->FieldName, c->Descending, c->CaseInsensitive, c->MaxIndexedSize});
  }
  Assign(columns, table_data);
}

namespace {

// One key part: the null flag, then (for a value) value_bytes bytes of the
// field and added_bytes zero bytes. A NULL part keeps its value bytes as they were.
void PutKeyPart(const TVEZKeyPart& part, const std::uint8_t* record_buffer, std::uint8_t* k,
                std::int32_t value_bytes, std::int32_t added_bytes) {
  if (GetBufferBit(part.FieldNo, record_buffer)) {
    k[0] = 1;
    return;
  }
  k[0] = 0;
  std::memcpy(k + 1, record_buffer + part.OffsetInRecordBuffer,
              static_cast<std::size_t>(value_bytes));
  if (added_bytes) std::memset(k + 1 + value_bytes, 0, static_cast<std::size_t>(added_bytes));
}

}  // namespace

void TVEZRecordKeyRef::MakeShortKeyFromRecordBuffer(const std::uint8_t* record_buffer,
                                                    std::uint8_t* key_buffer) {
  for (std::int32_t i = 0; i < PartCount(); ++i) {
    const TVEZKeyPart& part = Part(i);
    PutKeyPart(part, record_buffer, key_buffer + part.OffsetInShortKeyBuffer,
               part.ShortSize - part.AddedSize - 1, part.AddedSize);
  }
  record_buffer_ = record_buffer;
}

void TVEZRecordKeyRef::MakeFullKeyFromRecordBuffer(const std::uint8_t* record_buffer,
                                                   std::uint8_t* key_buffer) const {
  for (std::int32_t i = 0; i < PartCount(); ++i) {
    const TVEZKeyPart& part = Part(i);
    PutKeyPart(part, record_buffer, key_buffer + part.OffsetInFullKeyBuffer, part.FullSize - 1, 0);
  }
}

void TVEZRecordKeyRef::MakeFullKeyByRecordID(TVEZPageItemID record_id, std::uint8_t* key_buffer,
                                             std::int32_t session_id) {
  if (!table_data_)
    throw EVEZException(kErrorCannotRetrieveIndexRecord, "Cannot retrieve record for index");
  const std::int32_t size = std::max(table_data_->GetMemoryRecordBufferSize(), 1);
  KeyBuffer record(static_cast<std::uint8_t*>(MemoryManager().AllocMem(size)));
  if (table_data_->ReadRecord(session_id, record_id, record.p) != grrOK)
    throw EVEZException(kErrorCannotRetrieveIndexRecord, "Cannot retrieve record for index");
  MakeFullKeyFromRecordBuffer(record.p, key_buffer);
}

std::int32_t TVEZRecordKeyRef::ShortPartChars(const TVEZKeyPart& part) const {
  const std::int32_t bytes = part.ShortSize - 1;  // value bytes, added bytes included
  return IsWideType(part.DataType) ? bytes / 2 : bytes;
}

std::int32_t TVEZRecordKeyRef::FullPartChars(const TVEZKeyPart& part) const {
  const std::int32_t bytes = part.FullSize - 1;
  return IsWideType(part.DataType) ? bytes / 2 : bytes;
}

namespace {

std::int32_t Limit(std::int32_t compare_length, std::int32_t available) {
  return compare_length < 0 ? available : std::min(compare_length, available);
}

}  // namespace

std::int32_t TVEZRecordKeyRef::CompareShortKeys(const std::uint8_t* key1, const std::uint8_t* key2,
                                                bool may_use_full_keys, std::int32_t session_id,
                                                const std::uint8_t* reference1,
                                                const std::uint8_t* reference2) {
  const std::int32_t n = std::min(compare_field_count_, PartCount());
  for (std::int32_t i = 0; i < n; ++i) {
    const TVEZKeyPart& part = Part(i);
    const std::uint8_t* p1 = key1 + part.OffsetInShortKeyBuffer;
    const std::uint8_t* p2 = key2 + part.OffsetInShortKeyBuffer;
    // Truncated parts are read within their own bytes (the two added zero
    // bytes included), whatever the character width.
    const std::int32_t length = Limit(
        std::min(compare_lengths_[static_cast<std::size_t>(i)], part.ShortSize - part.AddedSize),
        ShortPartChars(part));
    std::int32_t r = CompareKeyPartValues(p1 + 1, p2 + 1, part.DataType, p1[0] == 1, p2[0] == 1,
                                          length, part.CaseInsensitive, part.ShortSize - 1);
    if (r == 0 && part.AddedSize != 0) {
      if (!may_use_full_keys) return 0;
      if (reference2) {
        // Key1 made one character longer than its stored prefix: still equal
        // means its value ended inside the prefix, so the values are equal.
        const std::int32_t value_bytes = part.ShortSize - 1;
        std::uint8_t local[64];
        std::unique_ptr<std::uint8_t[]> heap;
        std::uint8_t* copy = local;
        if (value_bytes > static_cast<std::int32_t>(sizeof(local))) {
          heap.reset(new std::uint8_t[static_cast<std::size_t>(value_bytes)]);
          copy = heap.get();
        }
        std::memcpy(copy, p1 + 1, static_cast<std::size_t>(value_bytes));
        copy[part.ShortSize - part.AddedSize - 1] = 1;
        const std::int32_t again =
            CompareKeyPartValues(copy, p2 + 1, part.DataType, p1[0] == 1, p2[0] == 1, length,
                                 part.CaseInsensitive, part.ShortSize - 1);
        if (again != 0) {
          KeyBuffer full1(AllocFullKeyBuffer());
          KeyBuffer full2(AllocFullKeyBuffer());
          if (reference1) {
            MakeFullKeyByRecordID(TVEZPageItemID::Decode(reference1), full1.p, session_id);
          } else {
            if (!record_buffer_)
              throw EVEZException(kErrorCannotRetrieveIndexRecord,
                                  "Cannot retrieve record for index");
            MakeFullKeyFromRecordBuffer(record_buffer_, full1.p);
          }
          MakeFullKeyByRecordID(TVEZPageItemID::Decode(reference2), full2.p, session_id);
          return CompareFullKeys(full1.p, full2.p);
        }
        continue;
      }
    }
    if (part.Descending) r = -r;
    if (r != 0) return r;
  }
  return 0;
}

std::int32_t TVEZRecordKeyRef::CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) {
  const std::int32_t n = std::min(compare_field_count_, PartCount());
  for (std::int32_t i = 0; i < n; ++i) {
    const TVEZKeyPart& part = Part(i);
    const std::uint8_t* p1 = key1 + part.OffsetInFullKeyBuffer;
    const std::uint8_t* p2 = key2 + part.OffsetInFullKeyBuffer;
    const std::int32_t length =
        Limit(compare_lengths_[static_cast<std::size_t>(i)], FullPartChars(part));
    std::int32_t r = CompareKeyPartValues(p1 + 1, p2 + 1, part.DataType, p1[0] == 1, p2[0] == 1,
                                          length, part.CaseInsensitive, part.FullSize - 1);
    if (part.Descending) r = -r;
    if (r != 0) return r;
  }
  return 0;
}

void TVEZRecordKeyRef::SetPartialCompare(const std::uint8_t* record_buffer, bool partial_compare) {
  for (std::int32_t i = 0; i < PartCount(); ++i) {
    const TVEZKeyPart& part = Part(i);
    std::int32_t len = -1;
    if (partial_compare && IsStringType(part.DataType) &&
        !GetBufferBit(part.FieldNo, record_buffer)) {
      const std::uint8_t* v = record_buffer + part.OffsetInRecordBuffer;
      const std::int32_t chars = FullPartChars(part);
      len = 0;
      if (IsWideType(part.DataType)) {
        while (len < chars && GetLE<std::uint16_t>(v + 2 * len) != 0)
          ++len;
      } else {
        while (len < chars && v[len] != 0)
          ++len;
      }
    }
    compare_lengths_[static_cast<std::size_t>(i)] = len;
  }
}

// ---------------------------------------------------------------------------
// TVEZPageKeyRef

TVEZPageKeyRef::TVEZPageKeyRef() {
  SetPartCount(1);
  TVEZKeyPart& part = MutableParts()[0];
  part.ShortSize = part.FullSize = 4;
  part.AddedSize = 0;
  part.DataType = bftSignedInt32;
  short_key_size_ = full_key_size_ = 4;
  reference_size_ = 2;
  compare_field_count_ = 1;
}

std::int32_t TVEZPageKeyRef::CompareShortKeys(const std::uint8_t* key1, const std::uint8_t* key2,
                                              bool, std::int32_t, const std::uint8_t*,
                                              const std::uint8_t*) {
  return Order(GetLE<std::int32_t>(key1), GetLE<std::int32_t>(key2));
}

std::int32_t TVEZPageKeyRef::CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) {
  return CompareShortKeys(key1, key2, false, -1, nullptr, nullptr);
}

}  // namespace vez
