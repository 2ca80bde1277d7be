// TVEZBaseFieldManager: a table's field defs and everything that follows from
// them for one record: the memory and disk layouts of a record and the move
// between the two, column defaults, and the table's autoincrement counters
// with the per-session copies of the values a session produced.
//
// Record layout (both forms): a null bitmap of ceil(N / 8) bytes for N fields
// (bit i set = field i NULL), then the fields in order without gaps, each at
// MemoryOffset (MemoryDataSize bytes) or DiskOffset (DiskDataSize bytes). The
// forms differ only for BLOB fields (10 bytes in memory, the first 6 of which
// are the disk form).
//
// Most-updated block (part of the table's most-updated data, little-endian,
// unaligned): Int32 n, then n Int64 last autoincrement values in field order.
// n is always the table's field count when written.
//
// Thread safety: none of its own; the table data's lock (and, for disk tables,
// the table locks) guard every call.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dbengine/storage/VEZFieldDef.h"

namespace vez {

class TVEZBaseSession;
class TVEZStream;
class TVEZTableData;

class TVEZBaseFieldManager {
 public:
  // Empty field defs. table_data (the owner) may be null for a detached manager.
  explicit TVEZBaseFieldManager(TVEZTableData* table_data);
  virtual ~TVEZBaseFieldManager() = default;
  TVEZBaseFieldManager(const TVEZBaseFieldManager&) = delete;
  TVEZBaseFieldManager& operator=(const TVEZBaseFieldManager&) = delete;

  TVEZFieldDefs& FieldDefs() { return FFieldDefs; }
  const TVEZFieldDefs& FieldDefs() const { return FFieldDefs; }
  TVEZTableData* TableData() const { return FTableData; }
  std::int32_t FieldCount() const { return FFieldDefs.GetCount(); }

  // The field def list's stream form; loading then lays the record out and
  // starts every autoincrement counter at its initial value.
  void LoadMetadata(TVEZStream& stream);
  void SaveMetadata(TVEZStream& stream) const;

  // The most-updated block at buffer + offset (buffer_size bytes in all);
  // offset moves past it. A block that does not lie wholly inside the buffer
  // (a negative count included) raises 20164 before anything changes. Values
  // beyond the table's fields are skipped; fields beyond the block keep their
  // counters.
  void LoadMostUpdated(const std::uint8_t* buffer, std::int32_t buffer_size, std::int32_t& offset);
  // Writes the block with one value per field; 20164 when it would not fit.
  void SaveMostUpdated(std::uint8_t* buffer, std::int32_t buffer_size, std::int32_t& offset) const;
  // Bytes of the most-updated block for this table.
  std::int32_t MostUpdatedSize() const;

  void RecalcFieldOffsets() { FFieldDefs.RecalcFieldOffsets(); }
  // One counter per field: an autoincrement field starts at its
  // AutoincInitialValue, any other at 0.
  void InitLastAutoIncValues();
  const std::vector<std::int64_t>& LastAutoIncValues() const { return FLastAutoIncValues; }
  // Puts counters noted with LastAutoIncValues back (a failed change gives
  // back the values it took); a list of another length changes nothing.
  void RestoreLastAutoIncValues(const std::vector<std::int64_t>& values) noexcept {
    if (values.size() == FLastAutoIncValues.size())
      std::copy(values.begin(), values.end(), FLastAutoIncValues.begin());
  }

  // Zero-fills the memory record, then copies the null bitmap and each
  // field's DiskDataSize bytes from DiskOffset to MemoryOffset.
  void DiskRecordBufferToMemRecordBuffer(const std::uint8_t* disk_record,
                                         std::uint8_t* mem_record) const;
  // Zero-fills the disk record, then copies the bitmap and each field's
  // DiskDataSize bytes from MemoryOffset to DiskOffset.
  void MemRecordBufferToDiskRecordBuffer(const std::uint8_t* mem_record,
                                         std::uint8_t* disk_record) const;
  // Whether two memory records hold the same null bitmap and the same
  // DiskDataSize bytes of every field.
  bool CompareRecordBuffers(const std::uint8_t* record1, const std::uint8_t* record2) const;

  // Whether some field has a BLOB base type. Every BLOB field must have a
  // BLOBBlockSize above 0; the first that has not raises 10421.
  bool BlobFieldsPresent() const;

  // Whether physical field field_no is NULL in record. A number outside the
  // fields raises 10000 before the bitmap is read.
  bool IsFieldNull(std::int32_t field_no, const std::uint8_t* record) const;

  // Writes each column default into record (the BLOB fields and the fields
  // without a default are left alone). An expression default is evaluated;
  // a NULL result leaves the field NULL. A value is converted to the field's
  // type (a failed conversion raises) and written within the field: a string
  // too long is cut to the field's characters, other values to its bytes.
  // session is not used.
  virtual void ApplyDefaultValuesToRecordBuffer(TVEZBaseSession* session, std::uint8_t* record);

  // For each autoincrement field: a NULL field gets the next value (its
  // low MemoryDataSize bytes, null bit cleared); a field with a value
  // raises the table's counter to it when it is larger. The value is read
  // sign-extended from a signed field's width, zero-extended from an
  // unsigned one.
  virtual void ApplyAutoincsToRecordBuffer(TVEZBaseSession* session, std::uint8_t* record);

  // The table's next value of field field_no: the last value plus
  // AutoincIncrement (1 when 0). Above a non-zero AutoincMaxValue it cycles to
  // AutoincMinValue or, not cycled, raises 20160 (the value stays counted).
  // A value the field's type cannot hold, or an Int64 overflow, raises 20160
  // and leaves the counter as it was. A number outside the fields raises
  // 30402, outside the counters 30403.
  virtual std::int64_t InternalGetNextAutoinc(std::int32_t field_no);
  // InternalGetNextAutoinc, remembered in session (when given) as the
  // session's last value of the field.
  virtual std::int64_t GetNextAutoinc(TVEZBaseSession* session, std::int32_t field_no);
  // The session's last value of the field; without one, 30012 in a
  // multi-user session, else the table's last value (0 for a field that is
  // no autoincrement field). A number outside the fields raises 30402.
  virtual std::int64_t GetLastAutoinc(TVEZBaseSession* session, std::int32_t field_no);
  // An inserted value above the table's last value becomes the last value,
  // also for session. A number outside the fields raises 30402.
  void UpdateLastAutoinc(TVEZBaseSession* session, std::int32_t field_no,
                         std::int64_t inserted_value);

 private:
  const TVEZFieldDef& CheckedDef(std::int32_t field_no, std::int32_t error) const;
  void WriteDefaultValue(const TVEZFieldDef& def, const TVEZVariant& value,
                         std::uint8_t* record) const;

  TVEZFieldDefs FFieldDefs;
  TVEZTableData* FTableData;
  std::vector<std::int64_t> FLastAutoIncValues;
};

}  // namespace vez
