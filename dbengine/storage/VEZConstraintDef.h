// Constraint definitions (NOT NULL, CHECK, UNIQUE, PRIMARY KEY) and their
// owning list, with their stream forms, and the constraint that a primary or
// unique index implies (CreateConstraintFromIndexDef).
//
// Thread safety: none; see VEZMetaObjectDef.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZMetaObjectDef.h"

namespace vez {

class TVEZIndexDef;

class TVEZConstraintDef : public TVEZMetaObjectDef {
 public:
  // Copies the common fields and ConstraintType.
  void Assign(const TVEZMetaObjectDef& source) override;

  TVEZConstraintType ConstraintType;

 protected:
  TVEZConstraintDef(std::int32_t initial_ids, TVEZConstraintType type)
      : TVEZMetaObjectDef(initial_ids), ConstraintType(type) {}
};

// The NOT NULL and CHECK constraints: one column of one table, with the same
// six fields and the same stream layout (each kind with its own error
// numbers). Names in these forms are preceded by a one-byte size that counts
// their length byte, so they hold at most 254 characters; longer names are
// refused when saving, before anything is written.
class TVEZColumnConstraintDef : public TVEZConstraintDef {
 public:
  std::string TableSchemaName;
  std::int32_t TableSchemaObjectID = 0;
  std::string TableName;
  std::int32_t TableObjectID = 0;
  std::string ColumnName;
  std::int32_t ColumnObjectID = 0;

  // Native numbers of the pieces after the common head, in stream order.
  struct StreamErrors {
    std::int32_t schema_id, table_id, column_id;
    std::int32_t schema_size, schema_data, table_size, table_data, column_size, column_data;
  };

 protected:
  explicit TVEZColumnConstraintDef(TVEZConstraintType type) : TVEZConstraintDef(0, type) {}

  // Common fields, ConstraintType and the six column fields of source.
  void AssignColumnConstraint(const TVEZColumnConstraintDef& source);
  // The common head, then the three ids and the three sized names.
  void LoadColumnConstraint(TVEZStream& stream, const StreamErrors& errors);
  void SaveColumnConstraint(TVEZStream& stream, const StreamErrors& errors) const;
};

class TVEZConstraintDefNotNull : public TVEZColumnConstraintDef {
 public:
  TVEZConstraintDefNotNull() : TVEZColumnConstraintDef(ctNotNull) {}
  // Source must be a NOT NULL def (platform::EInvalidCast otherwise).
  void Assign(const TVEZMetaObjectDef& source) override;
  void LoadFromStream(TVEZStream& stream) override;
  void SaveToStream(TVEZStream& stream) const override;
};

class TVEZConstraintDefCheck : public TVEZColumnConstraintDef {
 public:
  TVEZConstraintDefCheck() : TVEZColumnConstraintDef(ctCheck) {}
  // Source must be a CHECK def (platform::EInvalidCast otherwise).
  void Assign(const TVEZMetaObjectDef& source) override;
  void LoadFromStream(TVEZStream& stream) override;
  void SaveToStream(TVEZStream& stream) const override;

  // A NULL bound means no bound on that side.
  TVEZVariant MinValue{bftUnknown};
  TVEZVariant MaxValue{bftUnknown};
};

struct TVEZConstraintColumn {
  std::string ColumnName;  // at most 255 characters when stored
  std::int32_t ColumnObjectID = 0;
};

class TVEZConstraintDefUnique : public TVEZConstraintDef {
 public:
  TVEZConstraintDefUnique() : TVEZConstraintDef(-1, ctUnique) {}
  // Source must be a UNIQUE or PRIMARY KEY def (platform::EInvalidCast
  // otherwise).
  void Assign(const TVEZMetaObjectDef& source) override;
  void LoadFromStream(TVEZStream& stream) override;
  void SaveToStream(TVEZStream& stream) const override;

  std::string TableSchemaName;
  std::int32_t TableSchemaObjectID = 0;
  std::string TableName;
  std::int32_t TableObjectID = 0;
  // The index that enforces the constraint.
  std::string IndexName;
  std::int32_t IndexObjectID = 0;
  std::vector<TVEZConstraintColumn> Columns;

 protected:
  explicit TVEZConstraintDefUnique(TVEZConstraintType type) : TVEZConstraintDef(-1, type) {}
};

class TVEZConstraintDefPrimary : public TVEZConstraintDefUnique {
 public:
  TVEZConstraintDefPrimary() : TVEZConstraintDefUnique(ctPK) {}
};

class TVEZConstraintDefs : public TVEZMetaObjectDefs {
 public:
  // Clears the list, reads the count, then per def a ConstraintType byte
  // (0 PRIMARY, 2 UNIQUE, 3 NOT NULL, 4 CHECK; any other raises 30316) and
  // the def's form. The def is in the list while it loads, so a failed load
  // leaves it there.
  void LoadFromStream(TVEZStream& stream) override;
  void SaveToStream(TVEZStream& stream) const override;
  // Clears, then copies each def by its ConstraintType; a type without a
  // class raises 30035. No duplicate-name test.
  void Assign(const TVEZMetaObjectDefs& source) override;

  TVEZConstraintDefNotNull* AddNotNull();
  TVEZConstraintDefCheck* AddCheck();
  TVEZConstraintDefPrimary* AddPK();
  TVEZConstraintDefUnique* AddUnique();
  TVEZConstraintDef* GetDef(std::int32_t index) const {
    return static_cast<TVEZConstraintDef*>(TVEZMetaObjectDefs::GetDef(index));
  }

 protected:
  const char* ClassName() const override { return "TVEZConstraintDefs"; }

 private:
  // Appends a new def of the stored type (0 PRIMARY, 2 UNIQUE, 3 NOT NULL,
  // 4 CHECK) and returns it; null for any other type, appending nothing.
  TVEZConstraintDef* AddOfType(std::uint8_t type);
};

// The PRIMARY KEY (when index_def is primary) or UNIQUE (when unique) def
// that the index implies, appended to constraint_defs and returned (owned by
// the list); null for any other index. The def takes the index's name and
// object id and one column per index column, and is named "C_PK" or
// "C_Unique" followed by "$" and each column's field name (at most 255
// characters). Its own object id and column ids are left for the caller.
TVEZConstraintDefUnique* CreateConstraintFromIndexDef(const TVEZIndexDef& index_def,
                                                      TVEZConstraintDefs& constraint_defs);

}  // namespace vez
