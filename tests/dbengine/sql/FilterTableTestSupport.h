// Test vehicle for cursor filters: a memory table with one session and a
// local cursor open on it, rows posted column by column (an empty optional
// leaves the column NULL), the rows a filter expression lets through the
// cursor, and a node that counts the records a scan tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/sql/VEZExprNode.h"
#include "dbengine/sql/VEZExprNodeBoolean.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/storage/VEZMemoryTableData.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/common/VEZTestSQLEngine.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {

// Counts the records a scan tests when it is the first node of the filter's
// AND; raises on the record after `fail_after` (when not negative). It
// counts into storage outside the tree, since the tree may outlive the test
// step that made it.
class TCountingNode : public TVEZExprNode {
 public:
  explicit TCountingNode(int* count, int fail_after = -1)
      : TVEZExprNode(false, false), count_(count), fail_after_(fail_after) {
    FKind = TVEZExprNodeKind::Boolean;
    Operator = doISNOTNULL;  // a Boolean kind the scan never takes without a field
  }
  TVEZVariant* GetDataValue() override {
    ++*count_;
    if (fail_after_ >= 0 && *count_ > fail_after_) throw EVEZException(30999, "Record test failed");
    SetBooleanValue(Value, true);
    return &Value;
  }

 private:
  int* count_;
  int fail_after_;
};

// Puts a counting node first in e's AND, so that it sees every record tested.
inline void CountRecordsTested(TVEZExpression& e, int* count, int fail_after = -1) {
  e.SetRoot(std::make_unique<TVEZExprNodeBoolean>(
      doAND, std::make_unique<TCountingNode>(count, fail_after), e.ReleaseRoot(), false, false));
  e.MoveAndNodesToRoot();
}

// Column 0 (an integer) of the rows cursor shows with filter as its filter, in
// the cursor's order. The cursor keeps no filter afterwards, also when the
// walk raised.
inline std::vector<std::int32_t> WalkFiltered(TTestLocalCursor& cursor,
                                              TVEZBaseExpression& filter) {
  cursor.FilterExpression = &filter;
  std::vector<std::int32_t> ids;
  try {
    cursor.DisableRecordBitmap();
    cursor.InternalFirst();
    while (cursor.GetRecordBuffer(grmNext) == grrOK) {
      TVEZVariant id;
      cursor.GetFieldValue(id, 0, true);
      ids.push_back(id.GetAsInteger());
    }
  } catch (...) {
    cursor.FilterExpression = nullptr;
    cursor.DisableRecordBitmap();
    throw;
  }
  cursor.FilterExpression = nullptr;
  cursor.DisableRecordBitmap();
  return ids;
}

class FilterTableTest : public ::testing::Test {
 protected:
  void CreateTable(const std::string& name, TVEZFieldDefs& fields, TVEZIndexDefs& indexes) {
    db_.ConnectSession(session_);
    connected_ = true;
    cursor_.Session = &session_;
    cursor_.TableName = name;
    table_ = static_cast<TVEZMemoryTableData*>(db_.FindOrCreateTableData(cursor_));
    TVEZConstraintDefs constraints;
    table_->CreateTable(&cursor_, fields, indexes, constraints);
    cursor_.Open(*table_);
  }
  void TearDown() override {
    if (!connected_) return;
    cursor_.FilterExpression = nullptr;
    cursor_.Close();
    db_.DisconnectSession(session_);
  }

  // Column values of the row being posted; an empty optional stays NULL.
  void Set(std::int32_t field_no, std::optional<std::int32_t> v) {
    if (!v) return;
    TVEZVariant x;
    x.SetAsInteger(*v);
    cursor_.SetFieldValue(x, field_no, true);
  }
  void Set(std::int32_t field_no, std::optional<double> v) {
    if (!v) return;
    TVEZVariant x;
    x.SetAsDouble(*v);
    cursor_.SetFieldValue(x, field_no, true);
  }
  void Set(std::int32_t field_no, const std::optional<std::string>& v) {
    if (!v) return;
    TVEZVariant x;
    x.SetAsAnsiString(*v);
    cursor_.SetFieldValue(x, field_no, true);
  }
  void NewRow() { cursor_.NewRecord(); }
  void PostRow() {
    cursor_.InternalPost(true);
    ASSERT_EQ(cursor_.ErrorCode, cecOK);
  }

  TScopedSQLEngine engine_;
  TVEZMemoryDatabaseData db_;
  TestSession session_;
  TTestLocalCursor cursor_;
  TVEZMemoryTableData* table_ = nullptr;

 private:
  bool connected_ = false;
};

}  // namespace vez::test
