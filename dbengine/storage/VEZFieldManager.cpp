#include "dbengine/storage/VEZFieldManager.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

constexpr std::int32_t kInvalidTableHeaderData = 20164;

struct TIntRange {
  std::int64_t Min;
  std::int64_t Max;
  bool Signed;
};

// The values an autoincrement field of that storage type can hold.
TIntRange AutoincRange(TVEZBaseFieldType type) {
  switch (type) {
    case bftSignedInt8:
      return {INT8_MIN, INT8_MAX, true};
    case bftSignedInt16:
      return {INT16_MIN, INT16_MAX, true};
    case bftSignedInt32:
      return {INT32_MIN, INT32_MAX, true};
    case bftUnsignedInt8:
      return {0, UINT8_MAX, false};
    case bftUnsignedInt16:
      return {0, UINT16_MAX, false};
    case bftUnsignedInt32:
      return {0, UINT32_MAX, false};
    default:
      return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
              true};
  }
}

// The field's stored integer, sign-extended from a signed field's width.
std::int64_t ReadAutoincValue(const TVEZFieldDef& def, const std::uint8_t* data) {
  const std::int32_t size = std::clamp(def.MemoryDataSize, 0, 8);
  std::uint64_t raw = 0;
  for (std::int32_t i = 0; i < size; ++i)
    raw |= static_cast<std::uint64_t>(data[i]) << (8 * i);
  if (size > 0 && size < 8 && AutoincRange(def.BaseFieldType).Signed) {
    const std::uint64_t sign = std::uint64_t{1} << (8 * size - 1);
    if (raw & sign) raw |= ~((sign << 1) - 1);
  }
  return static_cast<std::int64_t>(raw);
}

void WriteAutoincValue(const TVEZFieldDef& def, std::int64_t value, std::uint8_t* data) {
  const auto raw = static_cast<std::uint64_t>(value);
  const std::int32_t size = std::clamp(def.MemoryDataSize, 0, 8);
  for (std::int32_t i = 0; i < size; ++i)
    data[i] = static_cast<std::uint8_t>(raw >> (8 * i));
}

}  // namespace

TVEZBaseFieldManager::TVEZBaseFieldManager(TVEZTableData* table_data) : FTableData(table_data) {}

void TVEZBaseFieldManager::LoadMetadata(TVEZStream& stream) {
  FFieldDefs.LoadFromStream(stream);
  RecalcFieldOffsets();
  InitLastAutoIncValues();
}

void TVEZBaseFieldManager::SaveMetadata(TVEZStream& stream) const {
  FFieldDefs.SaveToStream(stream);
}

std::int32_t TVEZBaseFieldManager::MostUpdatedSize() const {
  using platform::CheckedAdd;
  using platform::CheckedMul;
  return CheckedAdd<std::int32_t>(4, CheckedMul<std::int32_t>(8, FieldCount()));
}

void TVEZBaseFieldManager::LoadMostUpdated(const std::uint8_t* buffer, std::int32_t buffer_size,
                                           std::int32_t& offset) {
  using platform::CheckedAdd;
  using platform::CheckedMul;
  // The block comes from the file: every count and offset is checked before
  // a byte is read.
  if (buffer == nullptr || offset < 0 || buffer_size < 0 ||
      CheckedAdd<std::int64_t>(offset, 4) > buffer_size) {
    throw EVEZException(kInvalidTableHeaderData, "Invalid table header data");
  }
  const std::int32_t n = GetLE<std::int32_t>(buffer + offset);
  if (n < 0 || CheckedAdd<std::int64_t>(CheckedAdd<std::int64_t>(offset, 4),
                                        CheckedMul<std::int64_t>(n, 8)) > buffer_size) {
    throw EVEZException(kInvalidTableHeaderData, "Invalid table header data");
  }
  FLastAutoIncValues.resize(static_cast<std::size_t>(FieldCount()), 0);
  const std::int32_t used = std::min(n, FieldCount());
  const std::uint8_t* p = buffer + offset + 4;
  for (std::int32_t i = 0; i < used; ++i)
    FLastAutoIncValues[static_cast<std::size_t>(i)] = GetLE<std::int64_t>(p + 8 * i);
  offset = CheckedAdd<std::int32_t>(offset, CheckedAdd<std::int32_t>(4, n * 8));
}

void TVEZBaseFieldManager::SaveMostUpdated(std::uint8_t* buffer, std::int32_t buffer_size,
                                           std::int32_t& offset) const {
  const std::int32_t n = FieldCount();
  const std::int32_t size = MostUpdatedSize();
  if (buffer == nullptr || offset < 0 ||
      platform::CheckedAdd<std::int64_t>(offset, size) > buffer_size) {
    throw EVEZException(kInvalidTableHeaderData, "Invalid table header data");
  }
  PutLE<std::int32_t>(buffer + offset, n);
  std::uint8_t* p = buffer + offset + 4;
  for (std::int32_t i = 0; i < n; ++i) {
    const std::size_t slot = static_cast<std::size_t>(i);
    PutLE<std::int64_t>(p + 8 * i, slot < FLastAutoIncValues.size() ? FLastAutoIncValues[slot] : 0);
  }
  offset += size;
}

void TVEZBaseFieldManager::InitLastAutoIncValues() {
  FLastAutoIncValues.assign(static_cast<std::size_t>(FieldCount()), 0);
  for (std::int32_t i = 0; i < FieldCount(); ++i) {
    const TVEZFieldDef& def = *FFieldDefs.GetDef(i);
    if (IsAutoincAdvancedFieldType(def.AdvancedFieldType))
      FLastAutoIncValues[static_cast<std::size_t>(i)] = def.AutoincInitialValue;
  }
}

void TVEZBaseFieldManager::DiskRecordBufferToMemRecordBuffer(const std::uint8_t* disk_record,
                                                             std::uint8_t* mem_record) const {
  // One pass on every row read: each field's bytes, then zeros up to its
  // memory size. That clears the whole buffer while the fields lie end to
  // end after the bitmap, as their offsets are laid out; otherwise the
  // buffer is cleared first and the fields copied again.
  const std::int32_t bitmap = FFieldDefs.NullBitmapSize();
  std::memcpy(mem_record, disk_record, static_cast<std::size_t>(bitmap));
  std::int64_t end = bitmap;
  bool end_to_end = true;
  const std::int32_t n = FieldCount();
  for (std::int32_t i = 0; i < n; ++i) {
    const TVEZFieldDef& def = *FFieldDefs.GetDef(i);
    std::uint8_t* field = mem_record + def.MemoryOffset;
    std::memcpy(field, disk_record + def.DiskOffset, static_cast<std::size_t>(def.DiskDataSize));
    if (def.MemoryDataSize > def.DiskDataSize)
      std::memset(field + def.DiskDataSize, 0,
                  static_cast<std::size_t>(def.MemoryDataSize - def.DiskDataSize));
    end_to_end = end_to_end && def.MemoryOffset == end && def.DiskDataSize <= def.MemoryDataSize;
    end += def.MemoryDataSize;
  }
  if (end_to_end) return;
  std::memset(mem_record, 0, static_cast<std::size_t>(FFieldDefs.GetMemoryRecordBufferSize()));
  std::memcpy(mem_record, disk_record, static_cast<std::size_t>(bitmap));
  for (std::int32_t i = 0; i < n; ++i) {
    const TVEZFieldDef& def = *FFieldDefs.GetDef(i);
    std::memcpy(mem_record + def.MemoryOffset, disk_record + def.DiskOffset,
                static_cast<std::size_t>(def.DiskDataSize));
  }
}

void TVEZBaseFieldManager::MemRecordBufferToDiskRecordBuffer(const std::uint8_t* mem_record,
                                                             std::uint8_t* disk_record) const {
  std::memset(disk_record, 0, static_cast<std::size_t>(FFieldDefs.GetDiskRecordBufferSize()));
  std::memcpy(disk_record, mem_record, static_cast<std::size_t>(FFieldDefs.NullBitmapSize()));
  for (std::int32_t i = 0; i < FieldCount(); ++i) {
    const TVEZFieldDef& def = *FFieldDefs.GetDef(i);
    std::memcpy(disk_record + def.DiskOffset, mem_record + def.MemoryOffset,
                static_cast<std::size_t>(def.DiskDataSize));
  }
}

bool TVEZBaseFieldManager::CompareRecordBuffers(const std::uint8_t* record1,
                                                const std::uint8_t* record2) const {
  if (std::memcmp(record1, record2, static_cast<std::size_t>(FFieldDefs.NullBitmapSize())) != 0)
    return false;
  for (std::int32_t i = 0; i < FieldCount(); ++i) {
    const TVEZFieldDef& def = *FFieldDefs.GetDef(i);
    if (std::memcmp(record1 + def.MemoryOffset, record2 + def.MemoryOffset,
                    static_cast<std::size_t>(def.DiskDataSize)) != 0)
      return false;
  }
  return true;
}

bool TVEZBaseFieldManager::BlobFieldsPresent() const {
  bool present = false;
  // Every BLOB field is checked, not only the first: a later one with block
  // size 0 would divide by zero when its stream is opened.
  for (std::int32_t i = 0; i < FieldCount(); ++i) {
    const TVEZFieldDef& def = *FFieldDefs.GetDef(i);
    if (!IsBlobBaseFieldType(def.BaseFieldType)) continue;
    if (def.BLOBBlockSize <= 0)
      throw EVEZException(10421, "BLOB block size should be > 0 for field %s", {def.Name});
    present = true;
  }
  return present;
}

bool TVEZBaseFieldManager::IsFieldNull(std::int32_t field_no, const std::uint8_t* record) const {
  if (field_no < 0 || field_no >= FieldCount()) {
    throw EVEZException(10000, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {field_no, FieldCount()});
  }
  return GetBufferBit(field_no, record);
}

void TVEZBaseFieldManager::WriteDefaultValue(const TVEZFieldDef& def, const TVEZVariant& value,
                                             std::uint8_t* record) const {
  const std::int32_t room = std::max(def.MemoryDataSize, 0);
  std::uint8_t* data = record + def.MemoryOffset;
  std::memset(data, 0, static_cast<std::size_t>(room));
  const std::int32_t size = value.GetDataSize();
  if (size <= room) {
    std::memcpy(data, value.GetPData(), static_cast<std::size_t>(size));
    return;
  }
  // Too long for the field: a string keeps as many whole characters as fit
  // with its terminator (already zero), anything else its first bytes.
  std::int32_t keep = room;
  if (IsStringBaseFieldType(def.BaseFieldType)) {
    const std::int32_t unit = IsWideStringBaseFieldType(def.BaseFieldType) ? 2 : 1;
    keep = std::max((room / unit - 1) * unit, 0);
  }
  std::memcpy(data, value.GetPData(), static_cast<std::size_t>(keep));
}

void TVEZBaseFieldManager::ApplyDefaultValuesToRecordBuffer(TVEZBaseSession* /*session*/,
                                                            std::uint8_t* record) {
  for (std::int32_t i = 0; i < FieldCount(); ++i) {
    const TVEZFieldDef& def = *FFieldDefs.GetDef(i);
    if (IsBlobBaseFieldType(def.BaseFieldType) || def.DefaultValue.GetIsNull()) continue;
    if (def.DefaultValueExpr) {
      TVEZVariant* value = def.DefaultValueExpr->GetValue(true);
      // An expression that yields NULL gives the field no value.
      if (value == nullptr || value->GetIsNull()) continue;
      value->Cast(def.BaseFieldType);
      if (value->GetIsNull()) continue;
      WriteDefaultValue(def, *value, record);
    } else {
      TVEZVariant value(def.DefaultValue.GetDataType());
      value.Assign(def.DefaultValue, true);
      value.Cast(def.BaseFieldType);
      if (value.GetIsNull()) continue;
      WriteDefaultValue(def, value, record);
    }
    SetBufferBit(false, i, record);
  }
}

void TVEZBaseFieldManager::ApplyAutoincsToRecordBuffer(TVEZBaseSession* session,
                                                       std::uint8_t* record) {
  for (std::int32_t i = 0; i < FieldCount(); ++i) {
    const TVEZFieldDef& def = *FFieldDefs.GetDef(i);
    if (!IsAutoincAdvancedFieldType(def.AdvancedFieldType)) continue;
    std::uint8_t* data = record + def.MemoryOffset;
    if (GetBufferBit(i, record)) {
      WriteAutoincValue(def, GetNextAutoinc(session, i), data);
      SetBufferBit(false, i, record);
    } else {
      UpdateLastAutoinc(session, i, ReadAutoincValue(def, data));
    }
  }
}

const TVEZFieldDef& TVEZBaseFieldManager::CheckedDef(std::int32_t field_no,
                                                     std::int32_t error) const {
  if (field_no < 0 || field_no >= FieldCount())
    throw EVEZException(error, "Field #%d not found", {field_no});
  return *FFieldDefs.GetDef(field_no);
}

std::int64_t TVEZBaseFieldManager::InternalGetNextAutoinc(std::int32_t field_no) {
  const TVEZFieldDef& def = CheckedDef(field_no, 30402);
  if (static_cast<std::size_t>(field_no) >= FLastAutoIncValues.size())
    throw EVEZException(30403, "Field #%d not found", {field_no});
  std::int64_t& last = FLastAutoIncValues[static_cast<std::size_t>(field_no)];
  const std::int64_t increment = def.AutoincIncrement != 0 ? def.AutoincIncrement : 1;
  const auto exceeded = [&] {
    return EVEZException(20160, "Autoinc max value exceeded for field '%s'", {def.Name});
  };
  std::int64_t next = 0;
  if (__builtin_add_overflow(last, increment, &next)) throw exceeded();
  if (def.AutoincMaxValue != 0 && next > def.AutoincMaxValue) {
    if (!def.AutoincCycled) {
      last = next;
      throw exceeded();
    }
    next = def.AutoincMinValue;
  }
  // A value the column cannot hold would be stored cut to its width and
  // could repeat another row's id.
  const TIntRange range = AutoincRange(def.BaseFieldType);
  if (next < range.Min || next > range.Max) throw exceeded();
  last = next;
  return next;
}

std::int64_t TVEZBaseFieldManager::GetNextAutoinc(TVEZBaseSession* session, std::int32_t field_no) {
  const std::int64_t value = InternalGetNextAutoinc(field_no);
  if (session != nullptr) {
    session->SetObject(std::make_unique<TVEZSessionNamedObjectSequenceValue>(
        FFieldDefs.GetDef(field_no)->ObjectID, value));
  }
  return value;
}

std::int64_t TVEZBaseFieldManager::GetLastAutoinc(TVEZBaseSession* session, std::int32_t field_no) {
  const TVEZFieldDef& def = CheckedDef(field_no, 30402);
  if (session != nullptr) {
    if (auto* object = dynamic_cast<TVEZSessionNamedObjectSequenceValue*>(
            session->GetObjectByID(def.ObjectID)))
      return object->Value;
    if (session->MultiUser) {
      throw EVEZException(
          30012, "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first",
          {def.Name});
    }
  }
  if (!IsAutoincAdvancedFieldType(def.AdvancedFieldType)) return 0;
  const auto slot = static_cast<std::size_t>(field_no);
  return slot < FLastAutoIncValues.size() ? FLastAutoIncValues[slot] : 0;
}

void TVEZBaseFieldManager::UpdateLastAutoinc(TVEZBaseSession* session, std::int32_t field_no,
                                             std::int64_t inserted_value) {
  const TVEZFieldDef& def = CheckedDef(field_no, 30402);
  const auto slot = static_cast<std::size_t>(field_no);
  if (slot >= FLastAutoIncValues.size()) FLastAutoIncValues.resize(slot + 1, 0);
  if (inserted_value <= FLastAutoIncValues[slot]) return;
  FLastAutoIncValues[slot] = inserted_value;
  if (session != nullptr) {
    session->SetObject(
        std::make_unique<TVEZSessionNamedObjectSequenceValue>(def.ObjectID, inserted_value));
  }
}

}  // namespace vez
