// The dataset component over a real table: the dataset layer's model test,
// bookmarks, record numbers, the record operations and their engine errors.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZEngineError.h"
#include "dbengine/foundation/VEZException.h"
#include "tests/common/DataSetModel.h"
#include "tests/dbengine/api/DataSetTestSupport.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez::test {
namespace {

std::vector<int> Values(TTestTable& table) {
  std::vector<int> out;
  const platform::TBookmark mark = table.GetBookmark();
  table.First();
  while (!table.Eof()) {
    out.push_back(table.FieldByName("V").AsInteger());
    table.Next();
  }
  if (!mark.empty()) table.GotoBookmark(mark);
  return out;
}

struct TModelCase {
  const char* name;
  bool disk;
};

class DataSetModelTest : public SessionLayerTest,
                         public ::testing::WithParamInterface<TModelCase> {};

TEST_P(DataSetModelTest, RandomNavigationAndEditingMatchAVectorModel) {
  std::unique_ptr<TVEZDatabase> database;
  std::string name = "MEMORY";
  if (GetParam().disk) {
    CreateDatabaseFile(Path("model.vez"));
    database = MakeDatabase("Trials", Path("model.vez"));
    database->Open();
    name = "Trials";
  }
  std::mt19937 rng(20261211);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    const std::string table_name = "Model" + std::to_string(round);
    TTestTable table;
    table.SetDatabaseName(name);
    table.TableName = table_name;
    table.IndexName = "IX_ID";
    table.WithDatabase([&](TVEZDatabase& db) { CreateModelTable(db, table_name); });
    table.Open();
    rvx::test::RunDataSetModel<TTestTable>(table, rng, 150, Values, true);
    table.Close();
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, DataSetModelTest,
                         ::testing::Values(TModelCase{"Memory", false}, TModelCase{"Disk", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vez::test
