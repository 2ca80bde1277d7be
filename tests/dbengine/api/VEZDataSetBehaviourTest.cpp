// The dataset component over the Runs table of the memory database: names
// and attachment, bookmarks and record numbers, filters (through the real
// SQL engine), search, BLOB fields and the projection hook.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZBLOBStream.h"
#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZEngineError.h"
#include "dbengine/foundation/VEZException.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/ui/EngineUi.h"
#include "tests/common/FakeExpression.h"
#include "tests/common/ScriptedEngineUi.h"
#include "tests/common/VEZTestDataSet.h"
#include "tests/common/VEZTestSQLEngine.h"
#include "tests/dbengine/api/LocalCursorTestSupport.h"

namespace vez::test {
namespace {

std::int32_t NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVEZException& e) {
    return e.NativeError();
  }
  return 0;
}

class DataSetBehaviourTest : public SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    table_ = MakeTable();
    table_->WithDatabase([](TVEZDatabase& db) { CreateRunsTable(LocalHandle(db)); });
    table_->Open();
    // Trials 1, 2, 1, 3, 1: three rows of trial 1.
    const int trials[] = {1, 2, 1, 3, 1};
    for (int i = 0; i < 5; ++i) {
      table_->AppendRecord({platform::Variant(), platform::Variant::FromInteger(trials[i]),
                            platform::Variant::FromString("r" + std::to_string(i + 1)),
                            platform::Variant(), platform::Variant::FromDouble(10.0 * (i + 1))});
    }
    table_->First();
  }
  void TearDown() override {
    table_.reset();
    SessionLayerTest::TearDown();
  }
  static std::unique_ptr<TTestTable> MakeTable() {
    auto table = std::make_unique<TTestTable>();
    table->SetDatabaseName("MEMORY");
    table->TableName = "Runs";
    return table;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    table_->First();
    while (!table_->Eof()) {
      names.push_back(table_->FieldByName("Name").AsString());
      table_->Next();
    }
    return names;
  }
  platform::Field& F(const char* name) { return table_->FieldByName(name); }

  TScopedSQLEngine sql_;
  std::unique_ptr<TTestTable> table_;
};

// ---- names and attachment

TEST_F(DataSetBehaviourTest, TheDatabaseNameFollowsTheMemoryFlagAndIsRefusedWhileInUse) {
  auto t = MakeTable();
  for (const char* name : {"memory", "Memory", "MEMORY"}) {
    t->SetDatabaseName("Other");
    EXPECT_FALSE(t->InMemory());
    t->SetDatabaseName(name);
    EXPECT_TRUE(t->InMemory()) << name;
  }
  t->SetDatabaseName("Other");
  t->SetInMemory(true);
  EXPECT_EQ(t->DatabaseName(), "MEMORY");
  // Attached for a schema operation: the name cannot change.
  t->SetDBFlag(3, true);
  EXPECT_NE(DatabaseErrorOf([&] { t->SetDatabaseName("Else"); }).find("open database"),
            std::string::npos);
  t->SetDBFlag(3, false);
  // Open: the inactive check refuses first.
  EXPECT_NE(DatabaseErrorOf([&] { table_->SetDatabaseName("Else"); }).find("open dataset"),
            std::string::npos);
  EXPECT_EQ(table_->DatabaseName(), "MEMORY");
  auto blank = MakeTable();
  blank->SetDatabaseName("");
  EXPECT_NE(DatabaseErrorOf([&] { blank->Open(); }).find("DatabaseName property is blank"),
            std::string::npos);
  EXPECT_EQ(blank->Database(), nullptr);
}

TEST_F(DataSetBehaviourTest, WithoutKeepConnectionTheLastDataSetClosesTheDatabase) {
  CreateDatabaseFile(Path("keep.vez"));
  auto database = MakeDatabase("Keep", Path("keep.vez"));
  database->SetKeepConnection(false);
  TTestTable t;
  t.SetDatabaseName("Keep");
  t.TableName = "Runs";
  t.WithDatabase([](TVEZDatabase& db) { CreateRunsTable(LocalHandle(db)); });
  EXPECT_FALSE(database->Connected());
  t.Open();
  EXPECT_TRUE(database->Connected());
  EXPECT_EQ(t.Database(), database.get());
  t.Close();
  EXPECT_FALSE(database->Connected());
  EXPECT_EQ(t.Database(), nullptr);
}

TEST_F(DataSetBehaviourTest, AnExternalCursorIsNotFreed) {
  TVEZLocalCursor cursor;
  table_->WithDatabase([&](TVEZDatabase& db) {
    cursor.Session = db.Handle();
    cursor.TableName = "Runs";
    TVEZFieldDefs f;
    TVEZIndexDefs i;
    TVEZConstraintDefs c;
    cursor.OpenTableByFieldDefs(f, i, c);
  });
  auto t = MakeTable();
  t->SetExternalHandle(&cursor);
  t->Open();
  EXPECT_EQ(t->Handle(), &cursor);
  EXPECT_EQ(t->handles_made, 0);
  EXPECT_EQ(t->RecordCount(), 5);
  t->Close();
  EXPECT_EQ(t->Handle(), nullptr);
  EXPECT_TRUE(cursor.IsOpen);
  EXPECT_EQ(cursor.GetRecordCount(), 5);
  cursor.CurrentRecordBuffer = nullptr;
}

// ---- key buffers

TEST_F(DataSetBehaviourTest, AKeyTakesOnlyTheFieldsOfTheCurrentIndex) {
  table_->Close();
  table_->IndexName = kRunIndex;
  table_->Open();
  EXPECT_EQ(table_->IndexFieldCount(), 1);
  EXPECT_EQ(table_->IndexFieldMap(), std::vector<std::uint16_t>{kRunTrial + 1});
  EXPECT_EQ(table_->KeySize(), 4);
  table_->EditKey(TVEZDataSet::kiLookup);
  F("TrialID").SetAsInteger(3);
  try {
    F("Name").SetAsString("r1");
    FAIL() << "a field outside the index was taken";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 20019);
    EXPECT_NE(std::string(e.what()).find("Field Name is not in the current index"),
              std::string::npos);
  }
  table_->Post();
  std::int32_t trial = 0;
  ASSERT_TRUE(
      table_->Handle()->GetFieldData(kRunTrial, &trial, table_->KeyBuffers(TVEZDataSet::kiLookup)));
  EXPECT_EQ(trial, 3);
}

// ---- calculated fields

TEST_F(DataSetBehaviourTest, ACalculatedWideStringKeepsItsValuePerRecord) {
  table_->Close();
  table_->AddCalculatedField("Label", platform::ftWideString, 10);
  table_->OnCalcFields = [](platform::DataSet& ds) {
    const std::string name = ds.FieldByName("Name").AsString();
    ds.FieldByName("Label").SetAsWideString(u"w" + std::u16string(name.begin(), name.end()));
  };
  table_->Open();
  std::vector<std::u16string> labels;
  for (table_->First(); !table_->Eof(); table_->Next())
    labels.push_back(F("Label").AsWideString());
  EXPECT_EQ(labels, (std::vector<std::u16string>{u"wr1", u"wr2", u"wr3", u"wr4", u"wr5"}));
  // The calculated area lies behind the record and its bookmark.
  EXPECT_EQ(table_->Handle()->RecordBufferSize,
            table_->Handle()->CalculatedFieldsOffset + table_->CalcFieldsSize());
  table_->SetRecNo(2);
  EXPECT_EQ(F("Label").AsWideString(), u"wr2");
}

// ---- bookmarks and record numbers

TEST_F(DataSetBehaviourTest, BookmarksAndRecordNumbers) {
  EXPECT_EQ(table_->CompareBookmarks({}, {}), 0);
  table_->MoveBy(2);
  const platform::TBookmark third = table_->GetBookmark();
  ASSERT_EQ(third.size(), 7u);
  EXPECT_EQ(third[6], 0);
  EXPECT_EQ(table_->CompareBookmarks({}, third), 1);
  EXPECT_EQ(table_->CompareBookmarks(third, {}), -1);
  table_->First();
  const platform::TBookmark first = table_->GetBookmark();
  EXPECT_EQ(table_->CompareBookmarks(first, third), -1);
  EXPECT_EQ(table_->CompareBookmarks(third, first), 1);
  EXPECT_EQ(table_->CompareBookmarks(third, third), 0);

  table_->SetRecNo(4);
  EXPECT_EQ(F("Name").AsString(), "r4");
  EXPECT_EQ(table_->RecNo(), 4);
  table_->Append();
  EXPECT_EQ(table_->RecNo(), -1);
  F("TrialID").SetAsInteger(9);
  table_->Post();
  EXPECT_EQ(table_->RecNo(), 6);
  const platform::TBookmark added = table_->GetBookmark();
  ASSERT_EQ(added.size(), 7u);
  EXPECT_NE(std::vector<std::uint8_t>(added.begin(), added.begin() + 6),
            std::vector<std::uint8_t>(6, 0xFF));

  // A deleted record's bookmark is no longer valid, and asking moves
  // nothing.
  table_->GotoBookmark(third);
  table_->Delete();
  table_->First();
  EXPECT_FALSE(table_->BookmarkValid(third));
  EXPECT_EQ(F("Name").AsString(), "r1");
  EXPECT_EQ(table_->RecNo(), 1);
  EXPECT_TRUE(table_->BookmarkValid(added));
}

TEST_F(DataSetBehaviourTest, TheNilPointerNumbersOfAClosedDataSet) {
  auto t = MakeTable();
  struct Row {
    std::int32_t number;
    std::function<void()> run;
  };
  TVEZVariant value;
  const Row rows[] = {
      {10315, [&] { t->GetFieldValue(value, 0, true); }},
      {10316, [&] { t->SetFieldValue(value, 0, true); }},
      {10500, [&] { t->CopyFieldValue(0, true, 0, table_.get()); }},
      {10300, [&] { t->SetSQLFilter(nullptr, nullptr, nullptr); }},
      {10320, [&] { t->ApplyProjection({"ID"}, {""}); }},
      {10503, [&] { table_->CopyFieldValue(0, true, 0, nullptr); }},
      {10504, [&] { table_->CopyFieldValue(0, true, 0, t.get()); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.number);
    EXPECT_EQ(NativeOf(row.run), row.number);
  }
}

// ---- filters

TEST_F(DataSetBehaviourTest, ATrialFilterShowsOneTrialAndUnfilteringShowsAll) {
  table_->SetFilterText("TrialID = 1");
  EXPECT_EQ(table_->RecordCount(), 5);
  table_->SetFiltered(true);
  EXPECT_EQ(table_->RecordCount(), 3);
  EXPECT_EQ(Names(), (std::vector<std::string>{"r1", "r3", "r5"}));
  table_->SetFilterText("TrialID = 2");
  EXPECT_EQ(F("Name").AsString(), "r2");
  EXPECT_EQ(table_->RecordCount(), 1);
  table_->SetFiltered(false);
  EXPECT_EQ(table_->RecordCount(), 5);
  EXPECT_EQ(Names().size(), 5u);
  // Reopening applies the setting.
  table_->SetFiltered(true);
  table_->Close();
  table_->Open();
  EXPECT_EQ(Names(), (std::vector<std::string>{"r2"}));
}

TEST_F(DataSetBehaviourTest, AFilterThatDoesNotParseKeepsWhatTheSetterPromises) {
  table_->SetFilterText("TrialID = 1");
  table_->SetFiltered(true);
  // From the text setter: the new text stays, the error passes on.
  EXPECT_ANY_THROW(table_->SetFilterText("TrialID = = 1"));
  EXPECT_EQ(table_->Filter(), "TrialID = = 1");
  EXPECT_TRUE(table_->Filtered());
  // From the Filtered setter: Filtered keeps its old value.
  table_->SetFiltered(false);
  EXPECT_EQ(table_->RecordCount(), 5);
  EXPECT_ANY_THROW(table_->SetFiltered(true));
  EXPECT_FALSE(table_->Filtered());
  EXPECT_EQ(table_->RecordCount(), 5);
  // Tokens left after a condition raise too.
  table_->SetFilterText("TrialID = 1 2");
  EXPECT_ANY_THROW(table_->SetFiltered(true));
  EXPECT_FALSE(table_->Filtered());
}

TEST_F(DataSetBehaviourTest, AThrowingFilterHandlerIsReportedAndTheScanGoesOn) {
  platform::test::ScriptedEngineUi ui;
  platform::ScopedEngineUi scope(ui);
  ui.ExpectReport(1);
  int calls = 0;
  table_->SetOnFilterRecord([&](platform::DataSet& ds, bool& accept) {
    ++calls;
    const std::string name = ds.FieldByName("Name").AsString();
    if (name == "r2") throw std::runtime_error("handler failed");
    accept = name != "r4";
  });
  table_->SetFiltered(true);
  // r2's handler threw with accept still true; r4 is refused.
  EXPECT_EQ(Names(), (std::vector<std::string>{"r1", "r2", "r3", "r5"}));
  EXPECT_GT(calls, 0);
  ui.ExpectDone();
  // Taking the handler away takes effect at once.
  table_->SetOnFilterRecord(nullptr);
  EXPECT_EQ(Names().size(), 5u);
}

TEST_F(DataSetBehaviourTest, AnotherFilterHandlerTakesEffectAtOnce) {
  const auto only = [](const std::string& wanted) {
    return [wanted](platform::DataSet& ds, bool& accept) {
      accept = ds.FieldByName("Name").AsString() == wanted;
    };
  };
  table_->SetOnFilterRecord(only("r2"));
  table_->SetFiltered(true);
  EXPECT_EQ(Names(), (std::vector<std::string>{"r2"}));
  EXPECT_EQ(table_->RecordCount(), 1);
  table_->SetOnFilterRecord(only("r4"));
  EXPECT_EQ(F("Name").AsString(), "r4");
  EXPECT_EQ(Names(), (std::vector<std::string>{"r4"}));
  EXPECT_EQ(table_->RecordCount(), 1);
}

TEST_F(DataSetBehaviourTest, FindFirstSearchesByTheTextOfAnUnfilteredDataSet) {
  table_->SetFilterText("TrialID = 3");
  EXPECT_TRUE(table_->FindFirst());
  EXPECT_EQ(F("Name").AsString(), "r4");
  EXPECT_FALSE(table_->FindNext());
  EXPECT_FALSE(table_->Filtered());
  EXPECT_EQ(table_->RecordCount(), 5);
  table_->SetFilterText("TrialID = 1");
  EXPECT_TRUE(table_->FindLast());
  EXPECT_EQ(F("Name").AsString(), "r5");
  EXPECT_TRUE(table_->FindPrior());
  EXPECT_EQ(F("Name").AsString(), "r3");
}

// ---- locate and lookup

TEST_F(DataSetBehaviourTest, LocateMovesOnlyWhenItFindsAndLookupNeverMoves) {
  EXPECT_TRUE(table_->Locate("TrialID;Name",
                             platform::Variant::FromArray({platform::Variant::FromInteger(1),
                                                           platform::Variant::FromString("r3")}),
                             0));
  EXPECT_EQ(F("Name").AsString(), "r3");
  EXPECT_FALSE(table_->Locate("TrialID", platform::Variant::FromInteger(8), 0));
  EXPECT_EQ(F("Name").AsString(), "r3");
  EXPECT_EQ(table_->State(), platform::TDataSetState::dsBrowse);
  const platform::Variant power =
      table_->Lookup("Name", platform::Variant::FromString("r4"), "Power");
  EXPECT_EQ(power.ToDouble(), 40.0);
  EXPECT_TRUE(table_->Lookup("Name", platform::Variant::FromString("zz"), "Power").IsNull());
  EXPECT_EQ(F("Name").AsString(), "r3");
  EXPECT_TRUE(
      table_->Locate("Name", platform::Variant::FromString("R5"), platform::loCaseInsensitive));
  EXPECT_EQ(F("Name").AsString(), "r5");
}

// ---- BLOB fields

TEST_F(DataSetBehaviourTest, ABlobIsWrittenPostedAndReadBack) {
  const std::string text(5000, 'x');
  table_->Edit();
  {
    auto stream = table_->CreateBlobStream(F("Note"), platform::TBlobStreamMode::bmWrite);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Write(text.data(), static_cast<std::int32_t>(text.size())),
              static_cast<std::int32_t>(text.size()));
  }
  EXPECT_TRUE(F("Note").Modified);
  table_->Post();
  table_->Close();
  table_->Open();
  auto stream = table_->CreateBlobStream(F("Note"), platform::TBlobStreamMode::bmRead);
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->GetSize(), 5000);
  std::string read(5000, '\0');
  EXPECT_EQ(stream->Read(read.data(), 5000), 5000);
  EXPECT_EQ(read, text);
  auto* vez_stream = dynamic_cast<TVEZBLOBStream*>(stream.get());
  ASSERT_NE(vez_stream, nullptr);
  EXPECT_GT(vez_stream->CompressedSize(), 0);
  EXPECT_LE(vez_stream->CompressedSize(), 5000);
  stream.reset();
  // The engine-level value reads the whole BLOB.
  TVEZVariant value;
  table_->GetFieldValue(value, kRunNote, true);
  EXPECT_EQ(value.GetDataSize(), 5000);
}

TEST_F(DataSetBehaviourTest, NothingWrittenLeavesTheFieldUnmodified) {
  table_->Edit();
  {
    auto stream = table_->CreateBlobStream(F("Note"), platform::TBlobStreamMode::bmWrite);
    EXPECT_EQ(stream->Write("", 0), 0);
  }
  EXPECT_FALSE(F("Note").Modified);
  EXPECT_FALSE(table_->Modified());
  table_->Cancel();
}

TEST_F(DataSetBehaviourTest, AReadOnlyDataSetRefusesWritingStreams) {
  table_->Close();
  table_->SetReadOnly(true);
  table_->Open();
  EXPECT_EQ(
      NativeOf([&] { table_->CreateBlobStream(F("Note"), platform::TBlobStreamMode::bmWrite); }),
      10107);
  EXPECT_EQ(NativeOf([&] { TVEZBLOBStream s(F("Note"), platform::TBlobStreamMode::bmReadWrite); }),
            10106);
  EXPECT_NE(table_->CreateBlobStream(F("Note"), platform::TBlobStreamMode::bmRead), nullptr);
  EXPECT_EQ(NativeOf([&] {
              TVEZBLOBStream s(F("Note"), platform::TBlobStreamMode::bmRead);
              (void)s;
            }),
            0);
}

// ---- the SQL engine's hooks

TEST_F(DataSetBehaviourTest, AnSQLFilterIsBoundToTheCursorAndRestrictsTheView) {
  FakeExpression expression;
  expression.nodes = {FakeNode(1)};
  TVEZLocalCursor parent;
  expression.on_result = [&](FakeExpression& e) {
    std::int32_t trial = 0;
    return e.bound_cursor->GetFieldData(kRunTrial, &trial, e.assigned_buffer) && trial == 1;
  };
  table_->SetSQLFilter(&expression, nullptr, &parent);
  EXPECT_EQ(expression.bound_cursor, table_->Handle());
  EXPECT_EQ(expression.bound_parent_cursor, &parent);
  table_->Handle()->DisableRecordBitmap();
  EXPECT_EQ(table_->RecordCount(), 3);
  EXPECT_EQ(Names(), (std::vector<std::string>{"r1", "r3", "r5"}));
  table_->SetSQLFilter(nullptr, nullptr, nullptr);
  table_->Handle()->DisableRecordBitmap();
  EXPECT_EQ(table_->RecordCount(), 5);
}

// ---- projection

TEST_F(DataSetBehaviourTest, AProjectionReopensOnTheSameCursor) {
  TVEZCursor* cursor = table_->Handle();
  table_->ApplyProjection({"Name", "Power"}, {"Label", ""});
  EXPECT_EQ(table_->Handle(), cursor);
  ASSERT_EQ(table_->FieldCount(), 2);
  EXPECT_EQ(table_->Fields(0).FieldName(), "Label");
  EXPECT_EQ(table_->RecordCount(), 5);
  table_->First();
  EXPECT_EQ(table_->FieldByName("Label").AsString(), "r1");
  table_->Close();
  EXPECT_EQ(table_->Handle(), nullptr);
}

TEST_F(DataSetBehaviourTest, AFailedReopenAfterAProjectionFreesTheCursorOnce) {
  table_->BeforeOpen = [](platform::DataSet&) { throw std::runtime_error("reopen failed"); };
  EXPECT_ANY_THROW(table_->ApplyProjection({"Name"}, {""}));
  EXPECT_FALSE(table_->Active());
  EXPECT_EQ(table_->Handle(), nullptr);
  table_->BeforeOpen = nullptr;
  table_->Open();
  EXPECT_EQ(table_->RecordCount(), 5);
}

}  // namespace
}  // namespace vez::test
