// TVEZBaseConstraintManager: a table's constraint defs (NOT NULL, CHECK,
// UNIQUE, PRIMARY KEY), tied to the ids of the table's fields and indexes,
// with automatic names for unnamed ones, and the check of a record before it
// is written. UNIQUE and PRIMARY KEY are enforced through their index (the
// table data's IsUniqueConstraintFailed).
//
// Thread safety: none of its own; the table data's lock guards every call.
#pragma once

#include <cstdint>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZConstraintDef.h"

namespace vez {

class TVEZIndexDef;
class TVEZStream;
class TVEZTableData;

class TVEZBaseConstraintManager {
 public:
  // Empty constraint defs. table_data is the owner and must have a field
  // manager (and an index manager for keys) when defs are linked or checked.
  explicit TVEZBaseConstraintManager(TVEZTableData* table_data);
  virtual ~TVEZBaseConstraintManager() = default;
  TVEZBaseConstraintManager(const TVEZBaseConstraintManager&) = delete;
  TVEZBaseConstraintManager& operator=(const TVEZBaseConstraintManager&) = delete;

  TVEZConstraintDefs& ConstraintDefs() { return FConstraintDefs; }
  const TVEZConstraintDefs& ConstraintDefs() const { return FConstraintDefs; }
  TVEZTableData* TableData() const { return FTableData; }

  void LoadMetadata(TVEZStream& stream) { FConstraintDefs.LoadFromStream(stream); }
  void SaveMetadata(TVEZStream& stream) const { FConstraintDefs.SaveToStream(stream); }

  // Checks new_record against every constraint in list order; the first
  // violation ends the check: with raise_exception it raises its error,
  // without it the result is false. Keys (UNIQUE, PRIMARY KEY) are checked
  // only with check_unique_indexes. A field is NULL when its null bit in
  // new_record is set. A constraint of a type this engine cannot check
  // raises 30036 in either case.
  //   PRIMARY KEY: unknown column id 30329; every key column NULL 30330;
  //     duplicate 30319.
  //   UNIQUE: duplicate 30320.
  //   NOT NULL: unknown column id 30024; NULL 30026.
  //   CHECK: unknown column id 30028; below MinValue 30029; above MaxValue
  //     30030 (a NULL field passes).
  bool CheckConstraints(std::int32_t session_id, const std::uint8_t* new_record,
                        const std::uint8_t* old_record, bool to_insert,
                        TVEZPageItemID current_record_id, bool raise_exception,
                        bool check_unique_indexes);

  // Ties def to the table's fields (by ColumnName) and, for keys, to its
  // index (by IndexName), case-insensitively. Unknown names raise: PRIMARY
  // KEY 30325 (index) / 30331 (field); UNIQUE 30326 / 30332; NOT NULL and
  // CHECK 30027; any other type 30037.
  void LinkObjectId(TVEZConstraintDef& def);
  void LinkObjectIds();
  // Names every unnamed NOT NULL and CHECK def "$C_NotNull$<table>$<column>"
  // or "$C_Check$<table>$<column>", followed by a random number from 0 to
  // 65534 while the name is taken (case-insensitive). The base is cut first
  // so that base and number fit the stored form's 254 characters. Any other
  // unnamed type raises 30038.
  void FillConstraintAutoNames();
  // Appends the PRIMARY KEY or UNIQUE def that a primary or unique index
  // implies (nothing for other indexes), with a new object id of the
  // database, linked to the index and its fields.
  void AddConstraintFromIndex(const TVEZIndexDef& index_def);
  // Deletes the first PRIMARY KEY or UNIQUE def tied to that index.
  void DeleteConstraintForIndexID(std::int32_t index_object_id);

 private:
  TVEZConstraintDefs FConstraintDefs;
  TVEZTableData* FTableData;
};

}  // namespace vez
