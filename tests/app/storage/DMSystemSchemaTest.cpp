// The log database's file and tables: first start, restart, older files,
// the System row's settings, the link settings and the error log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/util/ProgramInfo.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Variant.h"
#include "tests/app/storage/LogDatabaseTestSupport.h"

namespace rvx::test {
namespace {

using platform::Variant;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

using SchemaTest = LogDatabaseTest;

struct TableShape {
  const char* table;
  std::vector<std::string> columns;
  std::vector<std::string> indexes;
};

// The engine fills an auto-increment column itself, so the stored
// definition reads back without the required flag it was declared with.
const std::vector<TableShape>& ExpectedShapes() {
  static const std::vector<TableShape> shapes{
      {"System",
       {"Version:String:20:R", "ReportFolder:String:150:-", "SummaryOptions:Integer:0:-",
        "PowerChartOffset:Float:0:-", "SpeedChartOffset:Float:0:-", "TorqueChartOffset:Float:0:-",
        "RunningAvgWindowSize:Integer:0:-", "RunningAvgMinDataSamplesInWindow:Integer:0:-"},
       {}},
      {"Com", {"ID:AutoInc:0:-", "Mode:String:40:-"}, {"Primary:ID:0"}},
      {"Vessels",
       {"ID:AutoInc:0:-", "Name:String:30:-", "Shafts:Integer:0:-", "MCRPower:Integer:0:-",
        "MCRSpeed:Integer:0:-", "MCRTorque:Integer:0:-", "Units:String:20:-"},
       {"Primary:ID:0"}},
      {"Trials", {"ID:AutoInc:0:-", "Name:String:50:-", "VesselID:Integer:0:-"}, {"Primary:ID:0"}},
      {"Runs",
       {"ID:AutoInc:0:-", "TrialID:Integer:0:-", "Name:String:30:-", "StartTime:DateTime:0:-",
        "StopTime:DateTime:0:-", "Comments:String:500:-"},
       {"Primary:ID:0"}},
      {"Measurements",
       {"ID:AutoInc:0:-", "RunID:Integer:0:-", "ShaftID:Integer:0:-", "AvgPower:Float:0:-",
        "AvgSpeed:Float:0:-", "AvgTorque:Float:0:-"},
       {"Primary:ID:0"}},
      {"Data",
       {"ID:AutoInc:0:-", "MeasurementID:Float:0:-", "Time:DateTime:0:-", "Power:Float:0:-",
        "Speed:Float:0:-", "Torque:Float:0:-", "IsError:Boolean:0:-"},
       {"Primary:MeasurementID;Time:0"}},
      {"ErrorLog",
       {"ID:AutoInc:0:-", "Time:DateTime:0:-", "UnitName:String:20:-", "FunctionName:String:20:-",
        "Message:String:60:-"},
       {}},
      {"auto", {"ID:Integer:0:-", "Port:Integer:0:-", "Baud:Integer:0:-"}, {"Primary:ID:0"}},
      {"Demo",
       {"ID:Integer:0:-", "TimerInterval:Integer:0:-", "Power:Integer:0:-", "Speed:Integer:0:-",
        "SpikeChance:Float:0:-"},
       {"Primary:ID:0"}},
  };
  return shapes;
}

TEST_F(SchemaTest, FirstStartMakesFolderFileTablesAndSystemRow) {
  ProgramVersion = "2.15";
  ASSERT_FALSE(std::filesystem::exists(docs_.Path() + "/RVX"));
  { auto log = OpenLog(); }
  ASSERT_TRUE(std::filesystem::exists(LogPath()));
  EngineFile file(LogPath());
  std::vector<std::string> tables;
  file.Db().GetTablesList(tables);
  EXPECT_EQ(tables.size(), 10u);
  for (const TableShape& shape : ExpectedShapes()) {
    SCOPED_TRACE(shape.table);
    EXPECT_EQ(file.Columns(shape.table), shape.columns);
    EXPECT_EQ(file.Indexes(shape.table), shape.indexes);
  }
  vez::TVEZTable& system = file.Table("System");
  system.Open();
  ASSERT_EQ(system.RecordCount(), 1);
  EXPECT_EQ(system.FieldByName("Version").AsString(), "2.15");
  EXPECT_EQ(system.FieldByName("ReportFolder").AsString(), docs_.Path() + "/RVX/reports/");
  EXPECT_EQ(system.FieldByName("RunningAvgWindowSize").AsInteger(), 5);
  EXPECT_EQ(system.FieldByName("RunningAvgMinDataSamplesInWindow").AsInteger(), 5);
  EXPECT_TRUE(system.FieldByName("SummaryOptions").IsNull());
  ProgramVersion.clear();
}

TEST_F(SchemaTest, EmptyProgramVersionBecomesZeroVersion) {
  ProgramVersion.clear();
  { auto log = OpenLog(); }
  EXPECT_EQ(ProgramVersion, "0.00");
  EngineFile file(LogPath());
  vez::TVEZTable& system = file.Table("System");
  system.Open();
  EXPECT_EQ(system.FieldByName("Version").AsString(), "0.00");
  ProgramVersion.clear();
}

TEST_F(SchemaTest, RestartRewritesVersionAndKeepsSettings) {
  ProgramVersion = "1.00";
  {
    auto log = OpenLog();
    log->SetRunningAverageWindowSize(9);
    log->SetRunningAverageMinimumDataSamplesInWindow(3);
    log->SetSummarySelections(true, true, false, false);
  }
  {
    EngineFile file(LogPath());
    vez::TVEZTable& system = file.Table("System");
    system.Open();
    system.Edit();
    system.FieldByName("ReportFolder").SetAsString("/somewhere/else");
    system.Post();
  }
  ProgramVersion = "1.01";
  auto log = OpenLog();
  EXPECT_EQ(log->GetRunningAverageWindowSize(), 9);
  EXPECT_EQ(log->GetRunningAverageMinimumDataSamplesInWindow(), 3);
  bool csv, xls, pdf, print;
  log->GetSummarySelections(csv, xls, pdf, print);
  EXPECT_TRUE(csv && xls && !pdf && !print);
  log.reset();
  EngineFile file(LogPath());
  vez::TVEZTable& system = file.Table("System");
  system.Open();
  EXPECT_EQ(system.RecordCount(), 1);
  EXPECT_EQ(system.FieldByName("Version").AsString(), "1.01");
  EXPECT_EQ(system.FieldByName("ReportFolder").AsString(), "/somewhere/else");
  ProgramVersion.clear();
}

TEST_F(SchemaTest, ReportFolderLongerThanItsColumnIsRefusedBeforeAnythingIsStored) {
  // <documents>/RVX/reports/ of 160 characters.
  const std::string suffix = "/RVX/reports/";
  const std::string deep =
      docs_.Path() + "/" + std::string(160 - docs_.Path().size() - 1 - suffix.size(), 'd');
  ASSERT_EQ((deep + suffix).size(), 160u);
  setenv("RVX_DOCUMENTS", deep.c_str(), 1);
  try {
    OpenLog();
    FAIL() << "no error";
  } catch (const platform::Exception& e) {
    EXPECT_THAT(e.what(), HasSubstr(deep + suffix));
    EXPECT_THAT(e.what(), HasSubstr("150"));
  }
  EngineFile file(deep + "/RVX/data/" + kLogFileName);
  vez::TVEZTable& system = file.Table("System");
  system.Open();
  EXPECT_EQ(system.RecordCount(), 0);
}

TEST_F(SchemaTest, FileThatCannotBeOpenedIsNotReplaced) {
  std::filesystem::create_directories(docs_.Path() + "/RVX/data");
  {
    std::FILE* f = std::fopen(LogPath().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string junk(8192, 'x');
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
  }
  EXPECT_ANY_THROW(OpenLog());
  EXPECT_EQ(std::filesystem::file_size(LogPath()), 8192u);
}

// ---------------------------------------------------------------------------
// Older files

class UpgradeTest : public LogDatabaseTest {
 protected:
  // A current file, then changed through the engine.
  void MakeFile() { OpenLog().reset(); }
};

TEST_F(UpgradeTest, MissingIndexIsAddedAndRowsStay) {
  MakeFile();
  {
    EngineFile file(LogPath());
    vez::TVEZTable& data = file.Table("Data");
    data.DeleteIndex("Primary");
    data.Open();
    data.AppendRecord({Variant(), Variant::FromDouble(3), Variant::FromDate(42700.25),
                       Variant::FromDouble(10), Variant::FromDouble(20), Variant::FromDouble(30),
                       Variant::FromBoolean(false)});
    data.Close();
    ASSERT_TRUE(file.Indexes("Data").empty());
  }
  auto log = OpenLog();
  TRun run;
  run.StartTime = 42700;
  run.StopTime = 42701;
  auto set = log->GetDataSet(run, TMeassurement(1, 1, 3), 0, {}, 5, 5);
  EXPECT_EQ(set->PowerData().Values().Count(), 1u);
  log.reset();
  EngineFile file(LogPath());
  EXPECT_THAT(file.Indexes("Data"), ElementsAre("Primary:MeasurementID;Time:0"));
}

TEST_F(UpgradeTest, LongerIndexOverTheSameLeadingFieldsCountsAsPresent) {
  MakeFile();
  {
    EngineFile file(LogPath());
    vez::TVEZTable& data = file.Table("Data");
    data.DeleteIndex("Primary");
    data.AddIndex("ByTimePower", "measurementid;TIME;Power");
  }
  OpenLog().reset();
  EngineFile file(LogPath());
  EXPECT_THAT(file.Indexes("Data"), ElementsAre("ByTimePower:measurementid;TIME;Power:0"));
}

// A key index stored under another name counts as present; the adapter
// must still search and list by it.
TEST_F(UpgradeTest, KeyIndexUnderAnotherNameServesLookups) {
  MakeFile();
  {
    EngineFile file(LogPath());
    vez::TVEZTable& vessels = file.Table("Vessels");
    vessels.DeleteIndex("Primary");
    vessels.AddIndex("ById", "id;Name");
    vessels.Open();
    for (int id : {3, 1, 2})
      vessels.AppendRecord(
          {Variant::FromInteger(id), Variant::FromString("vessel " + std::to_string(id))});
    vessels.Close();
  }
  auto log = OpenLog();
  EXPECT_EQ(log->getVesselName(2), "vessel 2");
  auto list = log->getVessels();
  ASSERT_EQ(list->Count(), 3u);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(list->Item(i).ID, static_cast<int>(i) + 1);
  log.reset();
  EngineFile file(LogPath());
  EXPECT_THAT(file.Indexes("Vessels"), ElementsAre("ById:id;Name:0"));
}

TEST_F(UpgradeTest, ExtraColumnsStayAndMissingAutoIncrementIsNotAdded) {
  MakeFile();
  {
    EngineFile file(LogPath());
    vez::TVEZTable& com = file.Table("Com");
    com.Open();
    com.Close();
    com.DeleteTable();
    com.FieldDefs().Clear();
    com.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    com.FieldDefs().Add("Mode", platform::ftString, 40);
    com.FieldDefs().Add("Extra", platform::ftInteger);
    com.IndexDefs().Clear();
    com.IndexDefs().Add("Primary", "ID", 0);
    com.CreateTable();
    vez::TVEZTable& log = file.Table("ErrorLog");
    log.DeleteTable();
    log.FieldDefs().Clear();
    log.FieldDefs().Add("Time", platform::ftDateTime);
    log.FieldDefs().Add("UnitName", platform::ftString, 20);
    log.FieldDefs().Add("FunctionName", platform::ftString, 20);
    log.FieldDefs().Add("Message", platform::ftString, 60);
    log.IndexDefs().Clear();
    log.CreateTable();
  }
  OpenLog().reset();
  EngineFile file(LogPath());
  EXPECT_THAT(file.Columns("Com"),
              ElementsAre("ID:AutoInc:0:-", "Mode:String:40:-", "Extra:Integer:0:-"));
  EXPECT_THAT(file.Columns("ErrorLog"),
              ElementsAre("Time:DateTime:0:-", "UnitName:String:20:-", "FunctionName:String:20:-",
                          "Message:String:60:-"));
}

// A Runs table from before comments were kept, with a column of its own, a
// few rows and its key index; the Data table has lost its index as well.
TEST_F(UpgradeTest, MissingColumnIsAddedAndRowsIndexesAndExtraColumnsStay) {
  MakeFile();
  {
    EngineFile file(LogPath());
    vez::TVEZTable& runs = file.Table("Runs");
    runs.DeleteTable();
    runs.FieldDefs().Clear();
    runs.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    runs.FieldDefs().Add("TrialID", platform::ftInteger);
    runs.FieldDefs().Add("Name", platform::ftString, 30);
    runs.FieldDefs().Add("StartTime", platform::ftDateTime);
    runs.FieldDefs().Add("StopTime", platform::ftDateTime);
    runs.FieldDefs().Add("Operator", platform::ftString, 10);
    runs.IndexDefs().Clear();
    runs.IndexDefs().Add("Primary", "ID", 0);
    runs.CreateTable();
    runs.Open();
    for (int i = 1; i <= 5; ++i)
      runs.AppendRecord({Variant(), Variant::FromInteger(1 + i % 2),
                         Variant::FromString("old run " + std::to_string(i)),
                         Variant::FromDate(42700 + i), Variant::FromDate(42700.5 + i),
                         Variant::FromString("op" + std::to_string(i))});
    runs.Close();
    vez::TVEZTable& data = file.Table("Data");
    data.DeleteIndex("Primary");
  }
  auto log = OpenLog();
  // The adapter reads and writes the new column at once.
  auto trial1 = log->GetTrialRuns(1);
  ASSERT_EQ(trial1.size(), 2u);
  EXPECT_EQ(trial1[0]->name, "old run 2");
  EXPECT_EQ(trial1[0]->Comments, "");
  EXPECT_DOUBLE_EQ(trial1[1]->StartTime, 42704);
  TRun changed = *trial1[1];
  changed.Comments = "heavy weather";
  log->UpdateRun(changed);
  EXPECT_EQ(log->getRunName(4), "old run 4");
  TRun added;
  added.name = "new run";
  added.TrialID = 1;
  log->addRun(added);
  EXPECT_EQ(added.ID, 6);
  log.reset();

  EngineFile file(LogPath());
  EXPECT_THAT(file.Columns("Runs"),
              ElementsAre("ID:AutoInc:0:-", "TrialID:Integer:0:-", "Name:String:30:-",
                          "StartTime:DateTime:0:-", "StopTime:DateTime:0:-", "Operator:String:10:-",
                          "Comments:String:500:-"));
  EXPECT_THAT(file.Indexes("Runs"), ElementsAre("Primary:ID:0"));
  EXPECT_THAT(file.Indexes("Data"), ElementsAre("Primary:MeasurementID;Time:0"));
  vez::TVEZTable& runs = file.Table("Runs");
  runs.SetIndexName("Primary");
  runs.Open();
  ASSERT_EQ(runs.RecordCount(), 6);
  for (int id = 1; id <= 5; ++id) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(runs.FindKey({Variant::FromInteger(id)}));
    EXPECT_EQ(runs.FieldByName("Name").AsString(), "old run " + std::to_string(id));
    EXPECT_EQ(runs.FieldByName("TrialID").AsInteger(), 1 + id % 2);
    EXPECT_DOUBLE_EQ(runs.FieldByName("StopTime").AsDateTime(), 42700.5 + id);
    EXPECT_EQ(runs.FieldByName("Operator").AsString(), "op" + std::to_string(id));
    if (id == 4)
      EXPECT_EQ(runs.FieldByName("Comments").AsString(), "heavy weather");
    else
      EXPECT_TRUE(runs.FieldByName("Comments").IsNull());
  }
  ASSERT_TRUE(runs.FindKey({Variant::FromInteger(6)}));
  EXPECT_EQ(runs.FieldByName("Name").AsString(), "new run");
  EXPECT_FALSE(runs.FindKey({Variant::FromInteger(7)}));
  runs.Close();
}

// One declared column of each added type, dropped from a current file: the
// adapter adds it back, last, with its declared type and size.
struct DroppedColumn {
  const char* table;
  const char* column;
};

void PrintTo(const DroppedColumn& c, std::ostream* os) {
  *os << c.table << "." << c.column;
}

class DroppedColumnTest : public UpgradeTest,
                          public ::testing::WithParamInterface<DroppedColumn> {};

TEST_P(DroppedColumnTest, IsAddedBackWithItsType) {
  const DroppedColumn c = GetParam();
  MakeFile();
  std::vector<std::string> expected;
  {
    EngineFile file(LogPath());
    vez::TVEZTable& t = file.Table(c.table);
    t.Open();
    t.IndexDefs().Update();
    std::vector<platform::FieldDef> fields;
    std::string dropped;
    for (int i = 0; i < t.FieldDefs().Count(); ++i) {
      const platform::FieldDef& d = t.FieldDefs().Items(i);
      const std::string text = d.Name + ":" + platform::FieldTypeName(d.DataType) + ":" +
                               std::to_string(d.Size) + ":" + (d.Required ? "R" : "-");
      if (d.Name == c.column) {
        dropped = text;
        continue;
      }
      fields.push_back(d);
      expected.push_back(text);
    }
    ASSERT_FALSE(dropped.empty());
    expected.push_back(dropped);
    std::vector<platform::IndexDef> indexes;
    for (int i = 0; i < t.IndexDefs().Count(); ++i)
      indexes.push_back(t.IndexDefs().Items(i));
    t.Close();
    t.DeleteTable();
    t.FieldDefs().Clear();
    for (const platform::FieldDef& d : fields)
      t.FieldDefs().Add(d.Name, d.DataType, d.Size, d.Required);
    t.IndexDefs().Clear();
    for (const platform::IndexDef& d : indexes)
      t.IndexDefs().Add(d.Name, d.Fields, d.Options);
    t.CreateTable();
    if (std::string(c.table) == "System") {
      t.Open();
      t.AppendRecord({Variant::FromString("1.0"), Variant::FromString("/old/reports/")});
      t.Close();
    }
  }
  auto log = OpenLog();
  if (std::string(c.table) == "System") {
    // The System row of the older file gains the default it lacked.
    EXPECT_EQ(log->GetRunningAverageWindowSize(), TDM_System::kDefaultRunningAverage);
    EXPECT_EQ(log->getReportPath(), "/old/reports/");
  }
  log.reset();
  EngineFile file(LogPath());
  EXPECT_EQ(file.Columns(c.table), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Types, DroppedColumnTest,
    ::testing::Values(DroppedColumn{"System", "RunningAvgWindowSize"},
                      DroppedColumn{"Measurements", "AvgPower"}, DroppedColumn{"Runs", "StopTime"},
                      DroppedColumn{"Vessels", "Units"}, DroppedColumn{"Data", "IsError"}),
    [](const auto& info) { return std::string(info.param.table) + "_" + info.param.column; });

// ---------------------------------------------------------------------------
// Settings

using SettingsTest = LogDatabaseTest;

TEST_F(SettingsTest, FirstReadsCreateTheDefaultRows) {
  auto log = OpenLog();
  EXPECT_EQ(log->GetAutoComPort(1), 2);
  EXPECT_EQ(log->GetAutoComBaud(1), 4800);
  EXPECT_EQ(log->GetDemoComInterval(0), 1000);
  EXPECT_EQ(log->GetDemoComPower(0), 8000);
  EXPECT_EQ(log->GetDemoComSpeed(0), 100);
  EXPECT_EQ(log->GetDemoComSpikeChance(0), 0.0);
  EXPECT_EQ(log->getComMode(0), "");
  log->EnsureComIndexExists(1, kComModeAuto);
  log->EnsureComIndexExists(1, kComModeDemo);  // the row exists: unchanged
  EXPECT_EQ(log->getComMode(1), kComModeAuto);
  log->setComMode(1, kComModeDemo);
  log->SetAutoComSettings(1, 9600, 5);
  log->SetDemoComSettings(0, 250, 7000, 90, 0.25);
  log.reset();

  EngineFile file(LogPath());
  auto rows = [&](const char* name) {
    vez::TVEZTable& t = file.Table(name);
    t.Open();
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) {
      std::string row;
      for (int i = 0; i < t.FieldCount(); ++i)
        row += (i ? "," : "") + t.Fields(i).AsString();
      out.push_back(row);
    }
    return out;
  };
  EXPECT_THAT(rows("auto"), ElementsAre("1,5,9600"));
  EXPECT_THAT(rows("Demo"), ElementsAre("0,250,7000,90,0.25"));
  EXPECT_THAT(rows("Com"), ElementsAre("1,Demo"));
  auto again = std::make_unique<TDM_System>(kLogFileName, box_);
  EXPECT_EQ(again->getComMode(1), kComModeDemo);
  EXPECT_EQ(again->GetAutoComPort(1), 5);
  EXPECT_EQ(again->GetDemoComSpikeChance(0), 0.25);
}

TEST_F(SettingsTest, GetComLeavesTheComTableUnfiltered) {
  auto log = OpenLog();
  log->EnsureComIndexExists(0, kComModeAuto);
  log->EnsureComIndexExists(1, kComModeDemo);
  auto port = log->getCom(1);
  EXPECT_EQ(port->Mode, kComModeDemo);
  EXPECT_EQ(port->clone()->Index, 1);
  EXPECT_EQ(log->getComMode(0), kComModeAuto);
}

TEST_F(SettingsTest, SummarySelectionsAreBits) {
  auto log = OpenLog();
  bool csv = true, xls = true, pdf = true, print = true;
  log->GetSummarySelections(csv, xls, pdf, print);
  EXPECT_FALSE(csv || xls || pdf || print);
  log->SetSummarySelections(true, false, true, false);
  log.reset();
  {
    EngineFile file(LogPath());
    vez::TVEZTable& system = file.Table("System");
    system.Open();
    EXPECT_EQ(system.FieldByName("SummaryOptions").AsInteger(), 10);
  }
  log = OpenLog();
  log->GetSummarySelections(csv, xls, pdf, print);
  EXPECT_TRUE(csv && !xls && pdf && !print);
}

TEST_F(SettingsTest, ReportPathEndsInOneSlashAndIsCreated) {
  for (const std::string stored : {"/reports/a", "/reports/b/"}) {
    SCOPED_TRACE(stored);
    OpenLog().reset();
    {
      EngineFile file(LogPath());
      vez::TVEZTable& system = file.Table("System");
      system.Open();
      system.Edit();
      system.FieldByName("ReportFolder").SetAsString(docs_.Path() + stored);
      system.Post();
    }
    auto log = OpenLog();
    const std::string expected = docs_.Path() + stored + (stored.back() == '/' ? "" : "/");
    EXPECT_EQ(log->getReportPath(), expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected));
  }
}

// ---------------------------------------------------------------------------
// Error log

class ErrorLogTest : public LogDatabaseTest {
 protected:
  std::vector<std::string> Rows() {
    log_.reset();
    EngineFile file(LogPath());
    vez::TVEZTable& t = file.Table("ErrorLog");
    t.Open();
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next())
      out.push_back(t.FieldByName("UnitName").AsString() + "|" +
                    t.FieldByName("FunctionName").AsString() + "|" +
                    t.FieldByName("Message").AsString());
    return out;
  }
  std::unique_ptr<TDM_System> log_ = OpenLog();
};

struct LevelCase {
  int level;
  bool row;
  bool box;
};

class ErrorLevelTest : public ErrorLogTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(ErrorLevelTest, LevelDecidesRowAndBox) {
  const LevelCase c = GetParam();
  if (c.box) box_.ExpectErrors();
  log_->newError("RunManager", "StartNewRun", "Not ready", c.level);
  EXPECT_EQ(box_.Log().size(), c.box ? 1u : 0u);
  if (c.box) {
    EXPECT_EQ(box_.Log()[0], "error:Not ready");
  }
  EXPECT_EQ(Rows().size(), c.row ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Levels, ErrorLevelTest,
                         ::testing::Values(LevelCase{0, false, false}, LevelCase{5, false, true},
                                           LevelCase{10, true, false}, LevelCase{20, true, true}),
                         [](const auto& info) {
                           return "Level" + std::to_string(info.param.level);
                         });

TEST_F(ErrorLogTest, TextsAreCutToTheirColumns) {
  const std::string message(80, 'm');
  box_.ExpectErrors();
  log_->newError(std::string(30, 'u'), std::string(25, 'f'), message, 20);
  EXPECT_EQ(box_.Log()[0], "error:" + message);
  EXPECT_THAT(Rows(), ElementsAre(std::string(20, 'u') + "|" + std::string(20, 'f') + "|" +
                                  std::string(60, 'm')));
}

TEST_F(ErrorLogTest, TableStaysAt1001RowsAndTheLowestIdGoesFirst) {
  vez::TVEZTable& t = log_->getErrorLogDataSource();
  vez::TVEZDatabase& db = log_->Database();
  db.Open();
  db.StartTransaction();
  for (int i = 0; i < 1000; ++i)
    t.AppendRecord({Variant(), Variant::FromDate(42700), Variant::FromString("Pre"),
                    Variant::FromString("fill"), Variant::FromString(std::to_string(i))});
  db.Commit();
  // Free the space of the oldest rows (IDs 1..60), as trims over time do:
  // the engine then stores new rows there, ahead of older ones.
  for (int i = 0; i < 60; ++i) {
    t.First();
    t.Delete();
  }
  for (int i = 0; i < 61; ++i)
    log_->newError("U", "F", "fill " + std::to_string(i), 10);
  EXPECT_EQ(t.RecordCount(), 1001);
  t.First();
  ASSERT_GT(t.FieldByName("ID").AsLargeInt(), 1000) << "a new row should come first";
  for (int i = 0; i < 5; ++i)
    log_->newError("U", "F", "next " + std::to_string(i), 10);
  EXPECT_EQ(t.RecordCount(), 1001);
  std::int64_t lowest = 1 << 30;
  for (t.First(); !t.Eof(); t.Next())
    lowest = std::min<std::int64_t>(lowest, t.FieldByName("ID").AsLargeInt());
  EXPECT_EQ(lowest, 66);  // IDs 61..65 went, oldest first
  const auto rows = Rows();
  EXPECT_EQ(rows.size(), 1001u);
  for (int i = 0; i < 5; ++i)
    EXPECT_NE(std::find(rows.begin(), rows.end(), "U|F|next " + std::to_string(i)), rows.end());
  EXPECT_NE(std::find(rows.begin(), rows.end(), "U|F|fill 0"), rows.end());
}

}  // namespace
}  // namespace rvx::test
