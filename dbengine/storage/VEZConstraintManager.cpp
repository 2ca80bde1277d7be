#include "dbengine/storage/VEZConstraintManager.h"

#include <string>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "dbengine/storage/VEZTableData.h"
#include "platform/core/Random.h"

namespace vez {

namespace {

// The stored form of a NOT NULL or CHECK name holds 254 characters; a
// random suffix has at most 5 digits.
constexpr std::size_t kMaxColumnConstraintName = 254;
constexpr std::size_t kMaxAutoNameSuffix = 5;
// The user's default locale, as the comparison of bounds has always used.
constexpr std::int32_t kDefaultLocale = 1024;

}  // namespace

TVEZBaseConstraintManager::TVEZBaseConstraintManager(TVEZTableData* table_data)
    : FTableData(table_data) {}

bool TVEZBaseConstraintManager::CheckConstraints(std::int32_t session_id,
                                                 const std::uint8_t* new_record,
                                                 const std::uint8_t* old_record, bool to_insert,
                                                 TVEZPageItemID current_record_id,
                                                 bool raise_exception, bool check_unique_indexes) {
  const TVEZFieldDefs& fields = FTableData->FieldManager()->FieldDefs();
  // The first violation ends the check: raised, or answered false.
  bool failed = false;
  const auto fail = [&](EVEZException error) {
    if (raise_exception) throw error;
    failed = true;
  };
  const auto field_no = [&](std::int32_t object_id) {
    return fields.GetDefNumberByObjectId(object_id);
  };

  for (std::int32_t i = 0; i < FConstraintDefs.GetCount() && !failed; ++i) {
    TVEZConstraintDef* def = FConstraintDefs.GetDef(i);
    switch (def->ConstraintType) {
      case ctPK:
      case ctUnique: {
        if (!check_unique_indexes) break;
        auto& key = static_cast<TVEZConstraintDefUnique&>(*def);
        if (def->ConstraintType == ctPK) {
          bool all_null = true;
          std::string names;
          for (const TVEZConstraintColumn& column : key.Columns) {
            const std::int32_t no = field_no(column.ColumnObjectID);
            if (no < 0) {
              fail(EVEZException(30329, "Field #%d not found", {column.ColumnObjectID}));
              break;
            }
            if (!GetBufferBit(no, new_record)) all_null = false;
            if (!names.empty()) names += ",";
            names += fields.GetDef(no)->Name;
          }
          if (failed) break;
          if (all_null && !key.Columns.empty()) {
            fail(EVEZException(30330,
                               "Constraint '%s' violated. Value in field '%s' cannot be null",
                               {def->Name, names}));
            break;
          }
        }
        if (FTableData->IsUniqueConstraintFailed(session_id, key.IndexObjectID, new_record,
                                                 old_record, to_insert, current_record_id)) {
          if (def->ConstraintType == ctPK)
            fail(EVEZException(30319, "Primary Key constraint '%s' violated. Duplicate found.",
                               {def->Name}));
          else
            fail(EVEZException(30320, "Constraint unique '%s' violated. Duplicate found.",
                               {def->Name}));
        }
        break;
      }
      case ctNotNull: {
        auto& column = static_cast<TVEZColumnConstraintDef&>(*def);
        const std::int32_t no = field_no(column.ColumnObjectID);
        if (no < 0) {
          fail(EVEZException(30024, "Field #%d not found", {column.ColumnObjectID}));
        } else if (GetBufferBit(no, new_record)) {
          fail(EVEZException(30026, "Constraint '%s' violated. Value in field '%s' cannot be null",
                             {def->Name, fields.GetDef(no)->Name}));
        }
        break;
      }
      case ctCheck: {
        auto& check = static_cast<TVEZConstraintDefCheck&>(*def);
        const std::int32_t no = field_no(check.ColumnObjectID);
        if (no < 0) {
          fail(EVEZException(30028, "Field #%d not found", {check.ColumnObjectID}));
          break;
        }
        if (GetBufferBit(no, new_record)) break;
        const TVEZFieldDef& field = *fields.GetDef(no);
        const std::uint8_t* value = new_record + field.MemoryOffset;
        const auto compare = [&](const TVEZVariant& bound) {
          return CompareTypedValues(bound.GetPData(), value, bound.GetDataType(),
                                    field.BaseFieldType, false, false, -1, false, kDefaultLocale,
                                    bound.GetDataSize(), field.MemoryDataSize);
        };
        if (!check.MinValue.GetIsNull() && compare(check.MinValue) == cmprGreater) {
          fail(EVEZException(
              30029, "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
              {def->Name, field.Name, check.MinValue.GetAsAnsiString()}));
        } else if (!check.MaxValue.GetIsNull() && compare(check.MaxValue) == cmprLower) {
          fail(EVEZException(
              30030, "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
              {def->Name, field.Name, check.MaxValue.GetAsAnsiString()}));
        }
        break;
      }
      default:
        throw EVEZException(30036, "Not implemented yet");
    }
  }
  return !failed;
}

void TVEZBaseConstraintManager::LinkObjectId(TVEZConstraintDef& def) {
  const TVEZFieldDefs& fields = FTableData->FieldManager()->FieldDefs();
  switch (def.ConstraintType) {
    case ctPK:
    case ctUnique: {
      const bool primary = def.ConstraintType == ctPK;
      auto& key = static_cast<TVEZConstraintDefUnique&>(def);
      const TVEZBaseIndexManager* indexes = FTableData->IndexManager();
      const TVEZIndexDef* index =
          indexes != nullptr ? indexes->IndexDefs().GetIndexDefByName(key.IndexName) : nullptr;
      if (index == nullptr)
        throw EVEZException(primary ? 30325 : 30326, "Index '%s' not found", {key.IndexName});
      key.IndexObjectID = index->ObjectID;
      for (TVEZConstraintColumn& column : key.Columns) {
        const TVEZFieldDef* field = fields.GetFieldDefByName(column.ColumnName);
        if (field == nullptr)
          throw EVEZException(primary ? 30331 : 30332, "Field '%s' not found", {column.ColumnName});
        column.ColumnObjectID = field->ObjectID;
      }
      break;
    }
    case ctNotNull:
    case ctCheck: {
      auto& column = static_cast<TVEZColumnConstraintDef&>(def);
      const TVEZFieldDef* field = fields.GetFieldDefByName(column.ColumnName);
      if (field == nullptr) throw EVEZException(30027, "Field '%s' not found", {column.ColumnName});
      column.ColumnObjectID = field->ObjectID;
      break;
    }
    default:
      throw EVEZException(30037, "Not implemented yet");
  }
}

void TVEZBaseConstraintManager::LinkObjectIds() {
  for (std::int32_t i = 0; i < FConstraintDefs.GetCount(); ++i)
    LinkObjectId(*FConstraintDefs.GetDef(i));
}

void TVEZBaseConstraintManager::FillConstraintAutoNames() {
  for (std::int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    TVEZConstraintDef& def = *FConstraintDefs.GetDef(i);
    if (!def.Name.empty()) continue;
    std::string base;
    if (def.ConstraintType == ctNotNull)
      base = "$C_NotNull";
    else if (def.ConstraintType == ctCheck)
      base = "$C_Check";
    else
      throw EVEZException(30038, "Not implemented yet");
    const auto& column = static_cast<TVEZColumnConstraintDef&>(def);
    base += "$" + column.TableName + "$" + column.ColumnName;
    // Cut before the search for a free name: a name cut after it could
    // become the very name the search had stepped around.
    base.resize(std::min(base.size(), kMaxColumnConstraintName - kMaxAutoNameSuffix));
    std::string candidate = base;
    while (FConstraintDefs.GetDefByName(candidate) != nullptr)
      candidate = base + std::to_string(platform::Random(65535));
    def.Name = candidate;
  }
}

void TVEZBaseConstraintManager::AddConstraintFromIndex(const TVEZIndexDef& index_def) {
  TVEZConstraintDefUnique* def = CreateConstraintFromIndexDef(index_def, FConstraintDefs);
  if (def == nullptr) return;
  try {
    def->ObjectID = FTableData->DatabaseData()->GetNewObjectId();
    LinkObjectId(*def);
  } catch (...) {
    // A def that cannot be tied to its index and fields would fail every
    // later check; it does not stay.
    FConstraintDefs.Delete(FConstraintDefs.GetCount() - 1);
    throw;
  }
}

void TVEZBaseConstraintManager::DeleteConstraintForIndexID(std::int32_t index_object_id) {
  for (std::int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    const TVEZConstraintDef* def = FConstraintDefs.GetDef(i);
    if (def->ConstraintType != ctPK && def->ConstraintType != ctUnique) continue;
    if (static_cast<const TVEZConstraintDefUnique*>(def)->IndexObjectID != index_object_id)
      continue;
    FConstraintDefs.Delete(i);
    return;
  }
}

}  // namespace vez
