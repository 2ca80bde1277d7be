// Each table of the sea-trial log exported as an SQL script (structure and
// one INSERT per row) and the script run through the query component into
// another database file: the same columns and every row equal, NULLs,
// quotes, fractions and date-times included.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/Variant.h"
#include "tests/dbengine/api/LogSchemaTestSupport.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

using platform::Variant;

// A value for column c of row r; some rows leave optional columns NULL.
Variant SampleValue(const LogColumn& c, int r) {
  if (!c.required && r % 4 == 3) return Variant::Null();
  switch (c.type) {
    case platform::ftAutoInc:
      return Variant::Null();
    case platform::ftInteger:
      return Variant::FromInteger(r * 37 - 50);
    case platform::ftFloat:
      return Variant::FromDouble(r * 1234.5678 - 0.125);
    case platform::ftBoolean:
      return Variant::FromBoolean(r % 2 == 0);
    case platform::ftDateTime:
      return Variant::FromDate(45000.0 + r / 7.0 + 1.0 / 86400.0);
    case platform::ftString: {
      std::string text = "it's row " + std::to_string(r);
      const int size = c.size == 0 ? 20 : c.size;
      if (static_cast<int>(text.size()) > size) text.resize(static_cast<std::size_t>(size));
      return Variant::FromString(text);
    }
    default:
      return Variant::Null();
  }
}

class ScriptRoundTripTest : public StatementTest, public ::testing::WithParamInterface<LogTable> {};

TEST_P(ScriptRoundTripTest, EveryRowComesBack) {
  const LogTable& def = GetParam();
  TVEZTable& source = NewTable("");
  DeclareLogTable(source, def);
  source.CreateTable();
  source.Open();
  for (int r = 0; r < 12; ++r) {
    std::vector<Variant> values;
    for (const LogColumn& c : def.columns)
      values.push_back(SampleValue(c, r));
    source.AppendRecord(values);
  }
  source.Close();
  source.ExportToSqlOptions().SetData(true);
  const std::string script = source.ExportToSQL();

  auto copy = MakeDatabase("Copy", Path("copy.vez"));
  copy->CreateDatabase();
  {
    TVEZQuery query;
    query.SetDatabaseName("Copy");
    query.SetSQL(script);
    query.ExecSQL();
    EXPECT_EQ(query.RowsAffected(), 12) << script;
  }
  TVEZTable& target = NewTable(def.name, "Copy");
  target.FieldDefs().Update();
  ASSERT_EQ(target.FieldDefs().Count(), static_cast<int>(def.columns.size()));
  EXPECT_EQ(Rows(def.name), [&] {
    std::vector<std::string> rows;
    target.Open();
    for (target.First(); !target.Eof(); target.Next()) {
      std::string row;
      for (int i = 0; i < target.FieldCount(); ++i) {
        if (i > 0) row += "|";
        const platform::Field& f = target.Fields(i);
        row += f.IsNull() ? "NULL" : f.AsString();
      }
      rows.push_back(row);
    }
    target.Close();
    return rows;
  }()) << script;
  tables_.clear();
  copy.reset();
}

INSTANTIATE_TEST_SUITE_P(LogTables, ScriptRoundTripTest, ::testing::ValuesIn(LogTables()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vez::test
