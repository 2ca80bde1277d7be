// B-tree keys: the key layout objects ("key refs") that say how long a key is,
// how it is built from a memory record buffer and how two keys compare. The
// B-tree pages never look inside a key; they go through a key ref.
//
// Short key (stored in pages): per part a null-flag byte (1 = NULL) and the
// value in memory record form; a text or byte-string part whose index column
// holds fewer bytes than the field (MaxIndexedSize) keeps that many bytes plus
// two zero bytes. Fixed-width values (numbers, dates, logical) are never cut.
// Full key (built on demand, never stored): every part whole. A key holds no
// record identity: the reference travels beside it.
//
// Thread safety: a key ref is used by one operation at a time (the table
// data's lock serialises index operations); CompareFieldCount and the partial
// compare lengths are per-ref state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"

namespace vez {

class TVEZIndexDef;

// A record that a full-key comparison needs could not be read.
inline constexpr std::int32_t kErrorCannotRetrieveIndexRecord = 20170;

// One index column's place in short keys, full keys and record buffers.
struct TVEZKeyPart {
  std::int32_t OffsetInShortKeyBuffer = 0;
  std::int32_t OffsetInFullKeyBuffer = 0;
  std::int32_t OffsetInRecordBuffer = 0;
  std::int32_t FieldNo = 0;
  std::int32_t ShortSize = 0;
  std::int32_t FullSize = 0;
  std::int32_t AddedSize = 0;  // 2 when the part is truncated in short keys
  TVEZBaseFieldType DataType = bftUnknown;
  bool Descending = false;
  bool CaseInsensitive = false;
};

// Compares two raw key part values of one type through the typed value's
// order: NULL before every value, two NULLs equal; strings over at most
// max_chars characters, stopping at the terminator; nothing read beyond
// value_bytes bytes of either value. Results -1, 0, 1.
std::int32_t CompareKeyPartValues(const std::uint8_t* value1, const std::uint8_t* value2,
                                  TVEZBaseFieldType data_type, bool is_null1, bool is_null2,
                                  std::int32_t max_chars, bool case_insensitive,
                                  std::int32_t value_bytes);

class TVEZBTreeKeyRef {
 public:
  TVEZBTreeKeyRef() = default;
  virtual ~TVEZBTreeKeyRef() = default;
  TVEZBTreeKeyRef(const TVEZBTreeKeyRef&) = delete;
  TVEZBTreeKeyRef& operator=(const TVEZBTreeKeyRef&) = delete;

  std::int32_t PartCount() const { return static_cast<std::int32_t>(parts_.size()); }
  virtual void SetPartCount(std::int32_t value);
  const TVEZKeyPart& Part(std::int32_t i) const { return parts_[static_cast<std::size_t>(i)]; }
  std::int32_t ShortKeySize() const { return short_key_size_; }
  std::int32_t FullKeySize() const { return full_key_size_; }
  std::uint16_t ReferenceSize() const { return reference_size_; }
  void SetReferenceSize(std::uint16_t v) { reference_size_ = v; }
  bool KeyIsReference() const { return key_is_reference_; }
  std::int32_t CompareFieldCount() const { return compare_field_count_; }
  void SetCompareFieldCount(std::int32_t v) { compare_field_count_ = v; }
  // True when some part is truncated in short keys.
  bool HasTruncatedParts() const;

  // Order of two short keys: -1, 0 or 1 (1: key1 sorts after key2). With
  // may_use_full_keys and reference2 given, truncated parts that agree in
  // their stored bytes are decided on the full values of the records.
  virtual std::int32_t CompareShortKeys(const std::uint8_t* key1, const std::uint8_t* key2,
                                        bool may_use_full_keys, std::int32_t session_id,
                                        const std::uint8_t* reference1,
                                        const std::uint8_t* reference2) = 0;
  virtual std::int32_t CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) = 0;

  // Zero-filled key buffers from the engine memory manager.
  std::uint8_t* AllocShortKeyBuffer() const;
  std::uint8_t* AllocFullKeyBuffer() const;
  static void FreeAndNilKeyBuffer(std::uint8_t*& buffer);

  // Size 6: PageNo signed, then PageItemNo unsigned; other sizes: unsigned
  // bytes from the first. -1, 0 or 1.
  static std::int32_t CompareReferences(const std::uint8_t* reference1,
                                        const std::uint8_t* reference2, std::int32_t size);

 protected:
  std::vector<TVEZKeyPart>& MutableParts() { return parts_; }
  std::int32_t short_key_size_ = 0;
  std::int32_t full_key_size_ = 0;
  std::uint16_t reference_size_ = 0;
  bool key_is_reference_ = false;
  std::int32_t compare_field_count_ = 0;

 private:
  std::vector<TVEZKeyPart> parts_;
};

// What a record key needs from the table whose records the index covers: the
// layout of its fields and the stored records (for full keys of truncated
// parts). The table data implements it.
class TVEZKeyRecordSource {
 public:
  struct TFieldLayout {
    std::int32_t FieldNo = 0;
    std::int32_t MemoryOffset = 0;
    std::int32_t MemoryDataSize = 0;
    TVEZBaseFieldType BaseType = bftUnknown;
  };
  virtual ~TVEZKeyRecordSource() = default;
  virtual bool HasFieldManager() const = 0;
  virtual bool HasFieldDefs() const = 0;
  // Layout of the field of that name; false when there is none.
  virtual bool FindField(const std::string& name, TFieldLayout& layout) const = 0;
  virtual std::int32_t GetMemoryRecordBufferSize() const = 0;
  // Reads the stored record record_id, in memory form, into buffer (of
  // GetMemoryRecordBufferSize bytes) as the session sees it.
  virtual TVEZGetRecordResult ReadRecord(std::int32_t session_id, TVEZPageItemID record_id,
                                         std::uint8_t* buffer) = 0;
};

// One index column as the key layout needs it.
struct TVEZKeyColumn {
  std::string FieldName;
  bool Descending = false;
  bool CaseInsensitive = false;
  std::int32_t MaxIndexedSize = 0;
};

// Keys of a record index, built from an index's columns over a table's fields.
class TVEZRecordKeyRef : public TVEZBTreeKeyRef {
 public:
  TVEZRecordKeyRef() = default;

  void SetPartCount(std::int32_t value) override;

  // Lays the key out for the columns over the table's fields. Raises 20044
  // (no field manager), 20045 (no field defs), 20043 (unknown field), 20295
  // (BLOB field). A wide-string part keeps an even number of bytes.
  void Assign(const std::vector<TVEZKeyColumn>& columns, TVEZKeyRecordSource* table_data);
  // The same over an index definition's columns.
  void Assign(const TVEZIndexDef& index_def, TVEZKeyRecordSource* table_data);

  // Fills a short key from a memory record buffer and remembers the buffer.
  void MakeShortKeyFromRecordBuffer(const std::uint8_t* record_buffer, std::uint8_t* key_buffer);
  void MakeFullKeyFromRecordBuffer(const std::uint8_t* record_buffer,
                                   std::uint8_t* key_buffer) const;

  std::int32_t CompareShortKeys(const std::uint8_t* key1, const std::uint8_t* key2,
                                bool may_use_full_keys, std::int32_t session_id,
                                const std::uint8_t* reference1,
                                const std::uint8_t* reference2) override;
  std::int32_t CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) override;

  // For a partial-key search: string parts of record_buffer that are not NULL
  // compare over their own length (a prefix match); false restores whole values.
  void SetPartialCompare(const std::uint8_t* record_buffer, bool partial_compare);

  TVEZKeyRecordSource* TableData() const { return table_data_; }
  const std::uint8_t* RecordBuffer() const { return record_buffer_; }

 private:
  // Raises 20170 when the record cannot be read.
  void MakeFullKeyByRecordID(TVEZPageItemID record_id, std::uint8_t* key_buffer,
                             std::int32_t session_id);
  // Characters of part i that a comparison may read in a short key.
  std::int32_t ShortPartChars(const TVEZKeyPart& part) const;
  std::int32_t FullPartChars(const TVEZKeyPart& part) const;

  const std::uint8_t* record_buffer_ = nullptr;
  TVEZKeyRecordSource* table_data_ = nullptr;
  std::vector<std::int32_t> compare_lengths_;
};

// Keys of the page indexes: one signed Int32 (a page number), 2-byte references.
class TVEZPageKeyRef : public TVEZBTreeKeyRef {
 public:
  TVEZPageKeyRef();
  std::int32_t CompareShortKeys(const std::uint8_t* key1, const std::uint8_t* key2,
                                bool may_use_full_keys, std::int32_t session_id,
                                const std::uint8_t* reference1,
                                const std::uint8_t* reference2) override;
  std::int32_t CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) override;
};

}  // namespace vez
