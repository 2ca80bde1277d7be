// Test support for the dataset component, for tests and benchmarks: a
// minimal table dataset over a local cursor (the table component's job,
// reduced to naming a table and an index), and helpers that make tables
// through a database's session.
#pragma once

#include <memory>
#include <string>

#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZLocalCursor.h"
#include "dbengine/foundation/VEZException.h"
#include "platform/dataset/Field.h"

namespace vez::test {

class TTestTable : public TVEZDataSet {
 public:
  explicit TTestTable(platform::Component* owner = nullptr) : TVEZDataSet(owner) {}
  ~TTestTable() override { DestroyingClose(); }

  std::string TableName;
  std::string IndexName;
  int handles_made = 0;

  using TVEZDataSet::ActivateFilters;
  using TVEZDataSet::ConvertDateTimeValue;
  using TVEZDataSet::GetActiveRecordBuffer;
  using TVEZDataSet::KeyBuffers;
  using TVEZDataSet::KeyModified;
  using TVEZDataSet::SetExternalHandle;
  // Starts editing key buffer index as the table component's key search
  // does.
  void EditKey(int index) {
    SetKeyBuffer(KeyBuffers(index), KeyBuffers(kiSave), Handle()->KeyBufferSize, true);
  }

  // Runs f with the table's database attached (as the table component's
  // schema operations do), then lets go of it.
  template <typename F>
  void WithDatabase(F&& f) {
    SetDBFlag(3, true);
    try {
      f(*Database());
    } catch (...) {
      SetDBFlag(3, false);
      throw;
    }
    SetDBFlag(3, false);
  }

 protected:
  TVEZCursor* CreateHandle() override {
    auto cursor = std::make_unique<TVEZLocalCursor>();
    cursor->Session = Database()->Handle();
    cursor->TableName = TableName;
    cursor->ReadOnly = ReadOnly();
    TVEZFieldDefs fields;
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    cursor->OpenTableByFieldDefs(fields, indexes, constraints);
    if (!IndexName.empty()) cursor->SetIndexName(IndexName);
    ++handles_made;
    return cursor.release();
  }
};

inline TVEZFieldDef* AddColumn(TVEZFieldDefs& defs, const std::string& name,
                               TVEZAdvancedFieldType type, std::int32_t size = 0) {
  TVEZFieldDef* def = defs.AddCreated();
  def->Name = name;
  def->SetFieldDefDataType(type, size);
  return def;
}

// Creates a table through a cursor on the session of database.
inline void CreateTable(TVEZDatabase& database, const std::string& name, TVEZFieldDefs& fields,
                        TVEZIndexDefs& indexes, TVEZConstraintDefs& constraints) {
  TVEZLocalCursor cursor;
  cursor.Session = database.Handle();
  cursor.TableName = name;
  cursor.CreateTable(fields, indexes, constraints);
}

// The model table: ID AutoInc with the ascending index IX_ID (so new rows
// come last), V Integer.
inline void CreateModelTable(TVEZDatabase& database, const std::string& name = "Model") {
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  AddColumn(fields, "ID", aftAutoInc);
  AddColumn(fields, "V", aftInteger);
  TVEZIndexDef* index = indexes.AddCreated();
  index->Name = "IX_ID";
  index->AssignByNames({"ID"}, {""}, {""});
  CreateTable(database, name, fields, indexes, constraints);
}

}  // namespace vez::test
