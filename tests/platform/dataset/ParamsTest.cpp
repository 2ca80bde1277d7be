#include "platform/dataset/Params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dataset/DatabaseError.h"

namespace platform {
namespace {

TEST(ParamsTest, ParseSQLTable) {
  struct Row {
    const char* sql;
    const char* parsed;
    std::vector<std::string> names;
  };
  const Row rows[] = {
      {"SELECT * FROM Runs WHERE TrialID = :TrialID",
       "SELECT * FROM Runs WHERE TrialID = ?",
       {"TrialID"}},
      {"INSERT INTO T VALUES (:a, :b,:c)", "INSERT INTO T VALUES (?, ?,?)", {"a", "b", "c"}},
      {"WHERE x = :p OR y = :P", "WHERE x = ? OR y = ?", {"p"}},  // one parameter, any case
      {"WHERE s = ':notparam' AND t = \":no\" AND u = `:no`",
       "WHERE s = ':notparam' AND t = \":no\" AND u = `:no`",
       {}},
      {"SELECT CAST(x AS TIME)::y", "SELECT CAST(x AS TIME):y", {}},  // "::" is one colon
      {"WHERE a = : AND b = :", "WHERE a = : AND b = :", {}},         // a lone colon
      {"WHERE a = \":\" AND b = :b", "WHERE a = \":\" AND b = ?", {"b"}},
      {"WHERE a = :p1+:p2", "WHERE a = ?+?", {"p1", "p2"}},
      {"WHERE a = :\"My Param\" AND b = :x_1", "WHERE a = ? AND b = ?", {"My Param", "x_1"}},
      {"WHERE a = 'it''s :no' AND b = :yes", "WHERE a = 'it''s :no' AND b = ?", {"yes"}},
      {"WHERE a = :\"open", "WHERE a = :\"open", {}},
      {"WHERE a = :[Trial ID] AND b = :'q'", "WHERE a = ? AND b = ?", {"Trial ID", "q"}},
      {"WHERE a = :[open", "WHERE a = :[open", {}},
      {"", "", {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.sql);
    Params params;
    params.CreateParam(ftInteger, "old", TParamType::ptInput);
    EXPECT_EQ(params.ParseSQL(r.sql, true), r.parsed);
    std::vector<std::string> names;
    for (int i = 0; i < params.Count(); ++i)
      names.push_back(params.Items(i).Name);
    EXPECT_EQ(names, r.names);
    // Without creation the list is left alone.
    Params keep;
    keep.CreateParam(ftInteger, "old", TParamType::ptInput);
    EXPECT_EQ(keep.ParseSQL(r.sql, false), r.parsed);
    EXPECT_EQ(keep.Count(), 1);
  }
}

TEST(ParamsTest, ValuesTypesAndLookup) {
  Params params;
  params.ParseSQL("UPDATE Runs SET Name = :Name, StartTime = :Start WHERE ID = :ID", true);
  params.ParamByName("id").SetAsInteger(7);
  params.ParamByName("NAME").SetValue(Variant::FromString("Run 1"));
  EXPECT_EQ(params.ParamByName("ID").DataType, ftInteger);
  EXPECT_EQ(params.ParamByName("Name").DataType, ftString);
  EXPECT_TRUE(params.ParamByName("Name").Bound);
  EXPECT_TRUE(params.ParamByName("Start").IsNull());
  EXPECT_EQ(params.ParamByName("Start").AsInteger(), 0);
  EXPECT_EQ(params.ParamByName("ID").AsString(), "7");
  EXPECT_EQ(params.ParamByName("Name").AsString(), "Run 1");
  try {
    params.ParamByName("Missing");
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'Missing' not found");
  }
  Params other;
  other.ParseSQL("SELECT :id, :extra", true);
  other.ParamByName("extra").SetAsFloat(1.5);
  other.AssignValues(params);  // only the names both have
  EXPECT_EQ(other.ParamByName("id").AsInteger(), 7);
  EXPECT_EQ(other.ParamByName("id").DataType, ftInteger);
  EXPECT_EQ(other.ParamByName("extra").AsFloat(), 1.5);
  EXPECT_EQ(other.Count(), 2);
  Params copy;
  copy.Assign(params);
  EXPECT_EQ(copy.Count(), 3);
  EXPECT_EQ(copy.ParamByName("Name").AsString(), "Run 1");
  params.ParamByName("Name").SetAsString("x1");
  EXPECT_THROW(params.ParamByName("Name").AsInteger(), EConvertError);
}

}  // namespace
}  // namespace platform
