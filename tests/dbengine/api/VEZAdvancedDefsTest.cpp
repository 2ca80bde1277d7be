// The advanced field and index definition lists: defaults, copies that own
// their values, lookups by name in any case, and the errors of deleting a
// name that is not there (the list keeps what it had).
#include "dbengine/api/VEZAdvancedDefs.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Exceptions.h"
#include "tests/common/NativeError.h"

namespace vez {
namespace {

using test::NativeErrorOf;

std::vector<std::string> Names(const TVEZAdvFieldDefs& defs) {
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < defs.Count(); ++i)
    names.push_back(defs.GetDef(i)->Name);
  return names;
}

std::vector<std::string> Names(const TVEZAdvIndexDefs& defs) {
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < defs.Count(); ++i)
    names.push_back(defs.GetDef(i)->Name);
  return names;
}

TEST(AdvFieldDefTest, DefaultsDescribeAnUntypedNullableColumn) {
  const TVEZAdvFieldDef def;
  EXPECT_EQ(def.Name, "");
  EXPECT_EQ(def.ObjectID, -1);
  EXPECT_EQ(def.DataType, aftUnknown);
  EXPECT_FALSE(def.Required);
  EXPECT_EQ(def.Size, 0);
  EXPECT_TRUE(def.DefaultValue.GetIsNull());
  EXPECT_TRUE(def.MinValue.GetIsNull());
  EXPECT_TRUE(def.MaxValue.GetIsNull());
  EXPECT_EQ(def.AutoincIncrement, 1);
  EXPECT_EQ(def.AutoincInitialValue, 0);
  EXPECT_EQ(def.AutoincMinValue, 0);
  EXPECT_EQ(def.AutoincMaxValue, std::numeric_limits<std::int64_t>::max());
  EXPECT_FALSE(def.AutoincCycled);
  EXPECT_EQ(def.BLOBCompressionAlgorithm, TCompressionAlgorithm::caNone);
  EXPECT_EQ(def.BLOBCompressionMode, 0);
  EXPECT_EQ(def.BLOBBlockSize, 102400);

  const TVEZAdvIndexDef index;
  EXPECT_EQ(index.Name, "");
  EXPECT_EQ(index.Fields, "");
  EXPECT_EQ(index.DescFields, "");
  EXPECT_EQ(index.CaseInsFields, "");
  EXPECT_EQ(index.Options, 0u);
  EXPECT_EQ(index.MaxIndexedSizes, "");
  EXPECT_FALSE(index.Temporary);
}

TEST(AdvFieldDefTest, AssignCopiesEveryFieldAndOwnsItsValues) {
  auto source = std::make_unique<TVEZAdvFieldDef>();
  source->Name = "Comments";
  source->ObjectID = 17;
  source->DataType = aftMemo;
  source->Required = true;
  source->Size = 9;
  source->DefaultValue.SetAsAnsiString("none");
  source->MinValue.SetAsInteger(-5);
  source->MaxValue.SetAsInteger(500);
  source->AutoincIncrement = 3;
  source->AutoincInitialValue = 100;
  source->AutoincMinValue = 7;
  source->AutoincMaxValue = 9000;
  source->AutoincCycled = true;
  source->BLOBCompressionAlgorithm = TCompressionAlgorithm::caBZIP;
  source->BLOBCompressionMode = 9;
  source->BLOBBlockSize = 4096;

  TVEZAdvFieldDef copy;
  copy.Assign(*source);
  // The source's values go away; the copy's must not point into them.
  source->DefaultValue.SetAsAnsiString("changed");
  source.reset();

  EXPECT_EQ(copy.Name, "Comments");
  EXPECT_EQ(copy.ObjectID, 17);
  EXPECT_EQ(copy.DataType, aftMemo);
  EXPECT_TRUE(copy.Required);
  EXPECT_EQ(copy.Size, 9);
  EXPECT_FALSE(copy.DefaultValue.GetIsDataLinked());
  EXPECT_EQ(copy.DefaultValue.GetAsAnsiString(), "none");
  EXPECT_EQ(copy.MinValue.GetAsInteger(), -5);
  EXPECT_EQ(copy.MaxValue.GetAsInteger(), 500);
  EXPECT_EQ(copy.AutoincIncrement, 3);
  EXPECT_EQ(copy.AutoincInitialValue, 100);
  EXPECT_EQ(copy.AutoincMinValue, 7);
  EXPECT_EQ(copy.AutoincMaxValue, 9000);
  EXPECT_TRUE(copy.AutoincCycled);
  EXPECT_EQ(copy.BLOBCompressionAlgorithm, TCompressionAlgorithm::caBZIP);
  EXPECT_EQ(copy.BLOBCompressionMode, 9);
  EXPECT_EQ(copy.BLOBBlockSize, 4096);

  // A null source value makes the copy's value null again.
  TVEZAdvFieldDef blank;
  copy.Assign(blank);
  EXPECT_TRUE(copy.DefaultValue.GetIsNull());
  EXPECT_TRUE(copy.MinValue.GetIsNull());
}

TEST(AdvFieldDefsTest, AddSetAndAssignKeepOrderAndCopyDeeply) {
  TVEZAdvFieldDefs defs;
  TVEZAdvFieldDef* id = defs.Add("ID", aftAutoInc, 0, true);
  defs.Add("Data", aftBlob, 0, false, TCompressionAlgorithm::caZLIB, 6);
  TVEZAdvFieldDef* added = defs.AddFieldDef();
  added->Name = "Spare";
  EXPECT_EQ(Names(defs), (std::vector<std::string>{"ID", "Data", "Spare"}));
  EXPECT_EQ(defs.GetDef(0), id);
  EXPECT_TRUE(id->Required);
  EXPECT_EQ(defs.GetDef(1)->BLOBCompressionAlgorithm, TCompressionAlgorithm::caZLIB);
  EXPECT_EQ(defs.GetDef(1)->BLOBCompressionMode, 6);

  auto replacement = std::make_unique<TVEZAdvFieldDef>();
  replacement->Name = "Other";
  defs.SetDef(2, std::move(replacement));
  EXPECT_EQ(defs.GetDef(2)->Name, "Other");

  TVEZAdvFieldDefs copy;
  copy.Add("Dropped", aftInteger, 0, false);
  copy.Assign(defs);
  EXPECT_EQ(Names(copy), (std::vector<std::string>{"ID", "Data", "Other"}));
  EXPECT_NE(copy.GetDef(0), defs.GetDef(0));
  copy.Assign(copy);
  EXPECT_EQ(copy.Count(), 3);

  for (const std::int32_t bad : {-1, 3}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(defs.GetDef(bad), platform::EListError);
    EXPECT_THROW(defs.SetDef(bad, std::make_unique<TVEZAdvFieldDef>()), platform::EListError);
  }
  defs.Clear();
  EXPECT_EQ(defs.Count(), 0);
}

// A column declared in mixed case is found by its name in any case.
TEST(AdvFieldDefsTest, FindAndDeleteCompareBothNamesUpperCased) {
  TVEZAdvFieldDefs defs;
  defs.Add("MeasurementID", aftDouble, 0, false);
  defs.Add("Time", aftDateTime, 0, false);
  // Windows-1252 text: "Größe", found as "GRÖßE".
  defs.Add(
      "Gr\xF6\xDF"
      "e",
      aftInteger, 0, false);
  struct Case {
    const char* name;
    std::int32_t expected;  // position, -1 for none
  };
  for (const Case& c : {Case{"MeasurementID", 0}, Case{"measurementid", 0},
                        Case{"MEASUREMENTID", 0}, Case{"time", 1},
                        Case{"GR\xD6\xDF"
                             "E",
                             2},
                        Case{"Measurement", -1}, Case{"", -1}}) {
    SCOPED_TRACE(c.name);
    TVEZAdvFieldDef* found = defs.Find(c.name);
    EXPECT_EQ(found, c.expected < 0 ? nullptr : defs.GetDef(c.expected));
  }

  defs.DeleteFieldDef("TIME");
  EXPECT_EQ(Names(defs), (std::vector<std::string>{"MeasurementID",
                                                   "Gr\xF6\xDF"
                                                   "e"}));
  // A missing name changes nothing.
  EXPECT_EQ(NativeErrorOf([&] { defs.DeleteFieldDef("Time"); }), 30349);
  try {
    defs.DeleteFieldDef("Speed");
  } catch (const platform::Exception& e) {
    EXPECT_STREQ(e.what(), "Field 'Speed' not found - Native error: 30349");
  }
  EXPECT_EQ(Names(defs), (std::vector<std::string>{"MeasurementID",
                                                   "Gr\xF6\xDF"
                                                   "e"}));
}

TEST(AdvIndexDefsTest, AddFindDeleteAndAssign) {
  TVEZAdvIndexDefs defs;
  TVEZAdvIndexDef* primary = defs.Add("Primary", "ID", platform::ixPrimary);
  defs.Add("ByName", "Name;ID", platform::ixCaseInsensitive, true, "ID", "Name", "30;20");
  EXPECT_EQ(primary->Options, platform::ixPrimary);
  EXPECT_FALSE(primary->Temporary);
  const TVEZAdvIndexDef& by_name = *defs.GetDef(1);
  EXPECT_EQ(by_name.Fields, "Name;ID");
  EXPECT_EQ(by_name.DescFields, "ID");
  EXPECT_EQ(by_name.CaseInsFields, "Name");
  EXPECT_EQ(by_name.MaxIndexedSizes, "30;20");
  EXPECT_TRUE(by_name.Temporary);

  EXPECT_EQ(defs.Find("PRIMARY"), primary);
  EXPECT_EQ(defs.Find("byname"), defs.GetDef(1));
  // Looking up an index that is not there is an error, as deleting it is.
  for (const char* missing : {"Prim", ""}) {
    SCOPED_TRACE(missing);
    EXPECT_EQ(NativeErrorOf([&] { defs.Find(missing); }), 20190);
  }
  try {
    defs.Find("ByTime");
    ADD_FAILURE() << "no error";
  } catch (const platform::Exception& e) {
    EXPECT_STREQ(e.what(), "Index 'ByTime' not found - Native error: 20190");
  }

  TVEZAdvIndexDef copy;
  copy.Assign(by_name);
  EXPECT_EQ(copy.Name, "ByName");
  EXPECT_EQ(copy.Fields, by_name.Fields);
  EXPECT_EQ(copy.DescFields, by_name.DescFields);
  EXPECT_EQ(copy.CaseInsFields, by_name.CaseInsFields);
  EXPECT_EQ(copy.Options, by_name.Options);
  EXPECT_EQ(copy.MaxIndexedSizes, by_name.MaxIndexedSizes);
  EXPECT_TRUE(copy.Temporary);

  EXPECT_EQ(NativeErrorOf([&] { defs.DeleteIndexDef("Missing"); }), 20190);
  EXPECT_EQ(defs.Count(), 2);
  defs.DeleteIndexDef("primary");
  EXPECT_EQ(Names(defs), (std::vector<std::string>{"ByName"}));
  EXPECT_THROW(defs.GetDef(1), platform::EListError);
}

TEST(AdvIndexDefsTest, AssignCanSkipTemporaryIndexesByFlagOrName) {
  TVEZAdvIndexDefs source;
  source.Add("Primary", "ID", platform::ixPrimary);
  source.Add("TEMPORARY_INDEX_{1234}", "Name", 0);  // flag off, name says temporary
  source.Add("my_temporary_order", "Name", 0);      // the name upper-cased says so
  source.Add("Scratch", "Name", 0, true);           // flag on
  source.Add("Temporal", "Time", 0);                // kept: not "TEMPORARY"
  TVEZAdvIndexDefs all;
  all.Assign(source);
  EXPECT_EQ(all.Count(), 5);
  TVEZAdvIndexDefs kept;
  kept.Add("Old", "X", 0);
  kept.Assign(source, true);
  EXPECT_EQ(Names(kept), (std::vector<std::string>{"Primary", "Temporal"}));
}

TEST(AdvIndexDefsTest, UpdateAsksTheOwningDatasetWhenThereIsOne) {
  int calls = 0;
  const TVEZAdvIndexDefs owned([&] { ++calls; });
  owned.Update();
  owned.Update();
  EXPECT_EQ(calls, 2);
  const TVEZAdvIndexDefs free_standing;
  EXPECT_NO_THROW(free_standing.Update());
}

}  // namespace
}  // namespace vez
