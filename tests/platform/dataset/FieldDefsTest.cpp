#include "platform/dataset/FieldDefs.h"

#include <gtest/gtest.h>

#include "platform/dataset/DatabaseError.h"

namespace platform {
namespace {

TEST(IndexDefsTest, IndexForFieldsTable) {
  IndexDefs defs;
  defs.Add("Primary", "MeasurementID;Time;Power");
  defs.Add("ByName", "Name");
  defs.Add("Desc", "Speed", ixDescending);
  defs.Add("Prefix", "AB;C");
  defs.Add("CI", "Units", ixCaseInsensitive);
  defs.Add("Exact", "MeasurementID");
  struct Row {
    const char* fields;
    bool case_insensitive;
    const char* index;  // nullptr: none serves
  };
  const Row rows[] = {
      {"MeasurementID;Time", false, "Primary"},
      {"measurementid;TIME", false, "Primary"},
      {"MeasurementID;Time;Power", false, "Primary"},
      {"MeasurementID", false, "Exact"},  // an exact match wins over a prefix
      {"MeasurementID;Tim", false, nullptr},
      {"Time", false, nullptr},
      {"Name", false, "ByName"},
      {"Speed", false, nullptr},  // descending indexes do not serve
      {"AB", false, "Prefix"},
      {"A", false, nullptr},
      {"Units", true, "CI"},
      {"Name", true, nullptr},
      {"", false, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.fields);
    const IndexDef* def = defs.GetIndexForFields(r.fields, r.case_insensitive);
    if (r.index == nullptr) {
      EXPECT_EQ(def, nullptr);
    } else {
      ASSERT_NE(def, nullptr);
      EXPECT_EQ(def->Name, r.index);
    }
  }
  try {
    defs.FindIndexForFields("Time");
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "No index for fields 'Time'");
  }
}

TEST(IndexDefsTest, NamesAreUniqueWithoutRegardToCase) {
  IndexDefs defs;
  defs.Add("Primary", "ID", ixPrimary);
  EXPECT_THROW(defs.Add("PRIMARY", "X"), EDatabaseError);
  EXPECT_EQ(defs.Count(), 1);
  EXPECT_EQ(defs.Find("primary").Fields, "ID");
  EXPECT_THROW(defs.Find("Other"), EDatabaseError);
  IndexDefs copy;
  copy.Assign(defs);
  EXPECT_EQ(copy.Items(0).Options, ixPrimary);
}

TEST(FieldDefsTest, AddChecksNamesAndSizes) {
  FieldDefs defs;
  EXPECT_EQ(defs.Add("Name", ftString).Size, kDefaultStringSize);
  EXPECT_EQ(defs.Add("G", ftGuid).Size, kGuidSize);
  EXPECT_EQ(defs.Add("Comments", ftString, 500).Size, 500);
  EXPECT_EQ(defs.Add("ID", ftAutoInc, 0, true).FieldNo, 4);
  struct Row {
    const char* name;
    TFieldType type;
    int size;
  };
  const Row bad[] = {{"name", ftInteger, 0},  // duplicate, any case
                     {"X", ftInteger, 4},
                     {"Y", ftString, -1},
                     {"Z", ftBytes, 0}};
  for (const Row& r : bad) {
    SCOPED_TRACE(r.name);
    EXPECT_THROW(defs.Add(r.name, r.type, r.size), EDatabaseError);
  }
  EXPECT_EQ(defs.Count(), 4);
  EXPECT_EQ(defs.IndexOf("COMMENTS"), 2);
  EXPECT_THROW(defs.Items(4), EListError);
  EXPECT_STREQ(FieldTypeName(ftAutoInc), "AutoInc");
  FieldDef unknown;
  unknown.Name = "Cur";
  unknown.DataType = ftCursor;
  try {
    unknown.CreateField();
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'Cur' is of an unknown type");
  }
}

}  // namespace
}  // namespace platform
