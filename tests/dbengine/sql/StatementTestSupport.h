// Test vehicle for statements run through the query component: a fresh
// session layer with the SQL engine registered, a database file made
// through the database component, statements executed by a query, the
// error a statement raises, and table definitions and rows read back
// through the table component.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "platform/core/Variant.h"
#include "tests/common/VEZTestSQLEngine.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez::test {

// What a statement raised: its native number (0 for none) and message.
struct StatementError {
  std::int32_t number = 0;
  std::string message;
};

class StatementTest : public SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    file_ = Path("RVX_Log.vez");
    db_ = MakeDatabase("RVX_Database", file_);
    db_->SetMultiUser(true);
    db_->SetSilentMode(true);
    db_->CreateDatabase();
  }
  void TearDown() override {
    tables_.clear();
    db_.reset();
    SessionLayerTest::TearDown();
  }

  // Runs sql through a new query on the test database (Prepare, ExecSQL).
  void Exec(const std::string& sql) {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL(sql);
    query.Prepare();
    query.ExecSQL();
  }

  StatementError ErrorOf(const std::string& sql) {
    try {
      Exec(sql);
    } catch (const EVEZException& e) {
      return {e.NativeError(), e.what()};
    }
    return {};
  }

  TVEZTable& NewTable(const std::string& name, const std::string& database = "RVX_Database") {
    tables_.push_back(std::make_unique<TVEZTable>());
    TVEZTable& t = *tables_.back();
    t.SetDatabaseName(database);
    t.SetTableName(name);
    return t;
  }

  std::vector<std::string> Tables() {
    std::vector<std::string> list;
    db_->GetTablesList(list);
    return list;
  }

  bool Exists(const std::string& name) { return NewTable(name).Exists(); }

  // The column names of a table in order.
  std::vector<std::string> Columns(const std::string& table) {
    TVEZTable& t = NewTable(table);
    t.FieldDefs().Update();
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < t.AdvFieldDefs().Count(); ++i)
      names.push_back(t.AdvFieldDefs().GetDef(i)->Name);
    return names;
  }

  // Every row as text ("NULL" for a null value), columns joined by '|'.
  std::vector<std::string> Rows(const std::string& table) {
    TVEZTable& t = NewTable(table);
    t.Open();
    std::vector<std::string> rows;
    for (t.First(); !t.Eof(); t.Next()) {
      std::string row;
      for (int i = 0; i < t.FieldCount(); ++i) {
        if (i > 0) row += "|";
        const platform::Field& f = t.Fields(i);
        row += f.IsNull() ? "NULL" : f.AsString();
      }
      rows.push_back(row);
    }
    t.Close();
    return rows;
  }

  TScopedSQLEngine engine_;
  std::string file_;
  std::unique_ptr<TVEZDatabase> db_;
  std::vector<std::unique_ptr<TVEZTable>> tables_;
};

}  // namespace vez::test
