#include "dbengine/storage/VEZCursor.h"

#include <algorithm>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZDefStreamIO.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZRecordFieldData.h"
#include "platform/core/Collation.h"

namespace vez {

std::int32_t TVEZCursor::SessionID() const {
  return Session != nullptr ? Session->SessionID : -2;
}

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorGetField = 20191;  // a field GetFieldData cannot read
constexpr std::int32_t kErrorSetField = 20192;  // a field SetFieldData cannot write

}  // namespace

namespace {

constexpr std::int32_t kPositionBlockSize = 8;
constexpr const char* kInvalidFieldNumber = "Invalid field number - FieldNo = %d, FieldCount = %d";

// Bytes of a string value up to and including its terminator, looked for
// only inside the field; 0 when the field holds no terminator.
std::int32_t TerminatedStringSize(const std::uint8_t* data, std::int32_t field_size, bool wide) {
  if (wide) {
    for (std::int32_t i = 0; i + 1 < field_size; i += 2) {
      if (data[i] == 0 && data[i + 1] == 0) return i + 2;
    }
  } else {
    for (std::int32_t i = 0; i < field_size; ++i) {
      if (data[i] == 0) return i + 1;
    }
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Base bodies of virtual operations

void TVEZCursor::RenameField(const std::string& field_name, const std::string& new_field_name) {
  TVEZFieldDef* def = FFieldDefs.GetFieldDefByName(field_name);
  if (def == nullptr) throw EVEZException(30345, "Field '%s' not found", {field_name});
  // The name as it will be stored is the one that must be free, so that a
  // long name cut to 255 characters cannot make two fields alike.
  std::string name = defstream::CutToShortString(new_field_name);
  if (FFieldDefs.GetFieldDefByName(name) != nullptr) {
    throw EVEZException(30346, "Cannot rename field '%s'. Field '%s' already exists",
                        {field_name, new_field_name});
  }
  def->Name = std::move(name);
}

TVEZIndexDefs* TVEZCursor::GetIndexDefs() {
  return &FIndexDefs;
}

void TVEZCursor::FreeRecordBuffer(std::uint8_t*& buffer) {
  if (buffer != nullptr) MemoryManager().FreeAndNillMem(buffer);
}

// ---------------------------------------------------------------------------
// Index and field access

void TVEZCursor::SetIndexName(const std::string& name) {
  if (!platform::AnsiSameText(name, FIndexName)) ReverseOrder = false;
  FIndexName = name;
  const TVEZIndexDef* def = GetIndexDefs()->GetIndexDefByName(name);
  IndexID = def != nullptr ? def->ObjectID : -1;
}

std::int32_t TVEZCursor::PhysicalFieldNo(std::int32_t field_no, bool direct_access,
                                         std::int32_t physical_error,
                                         std::int32_t visible_error) const {
  std::int32_t physical = field_no;
  if (!direct_access) {
    if (field_no < 0 || field_no >= FVisibleFieldDefs.GetCount()) {
      throw EVEZException(visible_error, kInvalidFieldNumber,
                          {field_no, FVisibleFieldDefs.GetCount()});
    }
    physical = FVisibleFieldDefs.GetDef(field_no)->FieldNoReference;
  }
  // Also guards a visible def whose reference no longer fits the table.
  if (physical < 0 || physical >= FFieldDefs.GetCount()) {
    throw EVEZException(physical_error, kInvalidFieldNumber, {physical, FFieldDefs.GetCount()});
  }
  return physical;
}

bool TVEZCursor::GetFieldData(std::int32_t field_no, void* buffer,
                              const std::uint8_t* record_buffer) {
  if (field_no < 0 || field_no >= FVisibleFieldDefs.GetCount()) {
    throw EVEZException(10005, kInvalidFieldNumber, {field_no, FVisibleFieldDefs.GetCount()});
  }
  return GetRecordFieldData(FVisibleFieldDefs.GetDef(field_no)->FieldNoReference, FFieldDefs,
                            buffer, record_buffer);
}

void TVEZCursor::SetFieldData(std::int32_t field_no, const void* buffer,
                              std::uint8_t* record_buffer) {
  if (field_no < 0 || field_no >= FVisibleFieldDefs.GetCount()) {
    throw EVEZException(10006, kInvalidFieldNumber, {field_no, FVisibleFieldDefs.GetCount()});
  }
  SetRecordFieldData(FVisibleFieldDefs.GetDef(field_no)->FieldNoReference, FFieldDefs, buffer,
                     record_buffer);
}

void TVEZCursor::GetFieldValue(TVEZVariant& value, std::int32_t field_no, bool direct_access) {
  const std::int32_t physical = PhysicalFieldNo(field_no, direct_access, kErrorGetField, 10317);
  if (CurrentRecordBuffer == nullptr) throw EVEZException(kErrorGetField, "Nil pointer occured");
  const TVEZFieldDef& def = *FFieldDefs.GetDef(physical);
  if (GetBufferBit(physical, CurrentRecordBuffer)) {
    value.SetNull(def.BaseFieldType);
    return;
  }
  const std::uint8_t* data = CurrentRecordBuffer + def.MemoryOffset;
  if (!IsStringBaseFieldType(def.BaseFieldType)) {
    value.SetData(data, def.MemoryDataSize, def.BaseFieldType, true);
    return;
  }
  // A string value ends at its terminator; the bytes after it are garbage
  // and must not become part of the value.
  const bool wide = IsWideStringBaseFieldType(def.BaseFieldType);
  const std::int32_t size = TerminatedStringSize(data, def.MemoryDataSize, wide);
  if (size > 0) {
    value.SetData(data, size, def.BaseFieldType, true);
    return;
  }
  // No terminator inside the field: take what fits and terminate it.
  const std::int32_t unit = wide ? 2 : 1;
  const std::int32_t chars = def.MemoryDataSize / unit - 1;
  if (chars < 0) {
    value.SetNull(def.BaseFieldType);
    return;
  }
  std::vector<std::uint8_t> copy(static_cast<std::size_t>((chars + 1) * unit), 0);
  std::memcpy(copy.data(), data, static_cast<std::size_t>(chars * unit));
  value.SetData(copy.data(), static_cast<std::int32_t>(copy.size()), def.BaseFieldType, true);
}

void TVEZCursor::SetFieldValue(TVEZVariant& value, std::int32_t field_no, bool direct_access,
                               std::uint8_t* record_buffer) {
  std::uint8_t* buffer = record_buffer != nullptr ? record_buffer : CurrentRecordBuffer;
  const std::int32_t physical = PhysicalFieldNo(field_no, direct_access, kErrorSetField, 20193);
  if (buffer == nullptr) throw EVEZException(kErrorSetField, "Nil pointer occured");
  const TVEZFieldDef& def = *FFieldDefs.GetDef(physical);
  if (value.GetIsNull()) {
    SetBufferBit(true, physical, buffer);
    return;
  }
  // Converted and measured before the record is touched, so a value that
  // does not fit leaves the field as it was.
  value.Cast(def.BaseFieldType);
  if (value.GetDataSize() > def.MemoryDataSize) {
    throw EVEZException(kErrorBufferSizeExceeded, "Buffer size exceeded");
  }
  std::uint8_t* data = buffer + def.MemoryOffset;
  if (!value.CopyDataToAddress(data, def.MemoryDataSize)) {
    // An empty string copies nothing; without its terminator the field
    // would still show the old text.
    const std::int32_t unit = IsWideStringBaseFieldType(def.BaseFieldType) ? 2 : 1;
    std::memset(data, 0, static_cast<std::size_t>(std::min(unit, def.MemoryDataSize)));
  }
  SetBufferBit(false, physical, buffer);
}

void TVEZCursor::ClearStringFieldsGarbage(std::uint8_t* record_buffer) const {
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TVEZFieldDef& def = *FFieldDefs.GetDef(i);
    if (!IsStringBaseFieldType(def.BaseFieldType) || def.MemoryDataSize <= 0) continue;
    std::uint8_t* data = record_buffer + def.MemoryOffset;
    if (GetBufferBit(i, record_buffer)) {
      std::memset(data, 0, static_cast<std::size_t>(def.MemoryDataSize));
      continue;
    }
    const bool wide = IsWideStringBaseFieldType(def.BaseFieldType);
    std::int32_t end = TerminatedStringSize(data, def.MemoryDataSize, wide);
    if (end == 0) continue;  // no terminator inside the field: nothing to clear
    end -= wide ? 2 : 1;     // the terminator itself is zero already
    std::memset(data + end, 0, static_cast<std::size_t>(def.MemoryDataSize - end));
  }
}

// ---------------------------------------------------------------------------
// Buffers and positions

std::uint8_t* TVEZCursor::AllocateRecordBuffer() const {
  return static_cast<std::uint8_t*>(MemoryManager().AllocMem(RecordBufferSize));
}

std::uint8_t* TVEZCursor::AllocateKeyRecordBuffer() const {
  return static_cast<std::uint8_t*>(MemoryManager().GetMem(KeyBufferSize));
}

void TVEZCursor::InternalInitKeyBuffer(std::uint8_t* record_buffer) {
  if (KeyBufferSize > 0) std::memset(record_buffer, 0, static_cast<std::size_t>(KeyBufferSize));
  InternalInitRecord(record_buffer, false);
}

void* TVEZCursor::SavePosition() const {
  auto* block = static_cast<std::uint8_t*>(MemoryManager().GetMem(kPositionBlockSize));
  block[0] = FirstPosition ? 1 : 0;
  block[1] = LastPosition ? 1 : 0;
  CurrentRecordID.Encode(block + 2);
  return block;
}

void TVEZCursor::RestorePosition(const void* position) {
  const auto* block = static_cast<const std::uint8_t*>(position);
  FirstPosition = block[0] != 0;
  LastPosition = block[1] != 0;
  CurrentRecordID = TVEZPageItemID::Decode(block + 2);
}

void TVEZCursor::FreePosition(void*& position) const {
  if (position != nullptr) MemoryManager().FreeAndNillMem(position);
}

void TVEZCursor::DisableRecordBitmap() {
  if (RecordBitmap != nullptr) RecordBitmap->Clear();
}

// ---------------------------------------------------------------------------
// Projection, range, SQL filter

void TVEZCursor::ApplyProjection(const std::vector<std::string>& field_names,
                                 const std::vector<std::string>& alias_list) {
  if (field_names.size() != alias_list.size()) {
    throw EVEZException(10321, "Error - different list lengths. L1 = %d, L2 = %d",
                        {field_names.size(), alias_list.size()});
  }
  if (field_names.empty()) {
    throw EVEZException(10322, "No fields were specified while setting projection");
  }
  FVisibleFieldDefs.Clear();
  for (std::size_t i = 0; i < field_names.size(); ++i) {
    const std::int32_t physical = FFieldDefs.GetDefNumberByName(field_names[i]);
    if (physical < 0) throw EVEZException(10323, "Cannot find field %s", {field_names[i]});
    TVEZFieldDef* visible = FVisibleFieldDefs.AddCreated();
    visible->Assign(*FFieldDefs.GetDef(physical));
    visible->FieldNoReference = physical;
    const std::string& alias = alias_list[i];
    if (alias.empty()) continue;
    visible->Name.clear();
    // alias, alias_1, alias_2 ... up to the number of names: with N names at
    // most N - 1 are taken, so one of them is free. The suffix is kept when
    // the alias must be cut to fit 255 characters.
    for (std::size_t n = 0; n <= field_names.size(); ++n) {
      std::string suffix;
      if (n != 0) suffix.append("_").append(std::to_string(n));
      const std::size_t room = defstream::kMaxShortStringLength - suffix.size();
      const std::string candidate = alias.substr(0, room) + suffix;
      if (FVisibleFieldDefs.GetDefNumberByName(candidate) < 0) {
        visible->Name = candidate;
        break;
      }
    }
  }
}

void TVEZCursor::ResetRange() {
  RangeStartBuffer = nullptr;
  RangeEndBuffer = nullptr;
  DisableRecordBitmap();
}

void TVEZCursor::ApplyRange(std::uint8_t* start_buffer, std::uint8_t* end_buffer,
                            std::int32_t start_key_field_count, std::int32_t end_key_field_count,
                            bool start_exclusive, bool end_exclusive) {
  RangeStartBuffer = start_buffer;
  RangeEndBuffer = end_buffer;
  RangeStartKeyFieldCount = start_key_field_count;
  RangeEndKeyFieldCount = end_key_field_count;
  RangeStartExclusive = start_exclusive;
  RangeEndExclusive = end_exclusive;
  DisableRecordBitmap();
}

void TVEZCursor::SetSQLFilter(TVEZBaseExpression* filter_expr, TVEZAO* parent_query_ao,
                              TVEZCursor* parent_cursor) {
  SQLFilterExpression = filter_expr;
  if (filter_expr != nullptr) filter_expr->AssignCursor(this, parent_query_ao, parent_cursor);
}

}  // namespace vez
