// The report manager: file names, the two generate operations with their
// guards, viewing and printing through the seams, and deleting run reports.
#include "app/reports/ReportManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/reports/DMReportCatalog.h"
#include "app/reports/ReportFileNames.h"
#include "app/storage/DMSystem.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "tests/app/reports/ReportTestSupport.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/InMemoryErrorLog.h"
#include "tests/app/support/InMemoryRunData.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/ScriptedMessageBox.h"
#include "tests/app/support/StoredRunBackend.h"

namespace rvx {
namespace {

const platform::TDateTime kStart = platform::EncodeDateTime(2024, 2, 1, 10, 0, 0, 0);
constexpr double kMinute = 1.0 / 1440;

TEST(ReportFileNamesTest, NamesInTheReportFolder) {
  const TReportRunEntry run{5, "M.V. Ocean", "Trial 1", "Run 2/3"};
  const std::string base = RunReportBase(run);
  EXPECT_EQ(base, "MV Ocean-Trial 1-Run 23");
  EXPECT_EQ(RunPdfFileName("/r/", base), "/r/MV Ocean-Trial 1-Run 23.pdf");
  EXPECT_EQ(RawDataCsvFileName("/r/", base, false, 1),
            "/r/MV Ocean-Trial 1-Run 23 - Raw data (No filter) - Shaft 1.csv");
  EXPECT_EQ(RawDataCsvFileName("/r/", base, true, 2),
            "/r/MV Ocean-Trial 1-Run 23 - Raw data (Chauvenet) - Shaft 2.csv");
  const TReportTrialEntry trial{3, "M.V. Ocean", "Trial: 1?"};
  EXPECT_EQ(TrialSummaryBase(trial), "MV Ocean-Trial 1-Summary");
  EXPECT_EQ(TrialSummaryFileName("/r/", TrialSummaryBase(trial), ".xlsx"),
            "/r/MV Ocean-Trial 1-Summary.xlsx");
  // Windows-1252 names become the file system's UTF-8 names.
  EXPECT_EQ(RunPdfFileName("/r/", RunReportBase({1, "Caf\xE9", "T", "R"})),
            "/r/Caf\xC3\xA9-T-R.pdf");
}

TEST(ReportFileNamesTest, LaterItemsWithTheSameBaseCarryTheirId) {
  const std::vector<TReportRunEntry> runs = {{7, "V", "T", "Run 15"},
                                             {3, "V", "T", "Run 1.5"},
                                             {4, "V", "Other", "Run 15"},
                                             {9, "V", "T", "Run 1/5"}};
  EXPECT_EQ(RunFileBase(runs[1], runs), "V-T-Run 15");
  EXPECT_EQ(RunFileBase(runs[0], runs), "V-T-Run 15 (ID 7)");
  EXPECT_EQ(RunFileBase(runs[2], runs), "V-Other-Run 15");
  EXPECT_EQ(RunFileBase(runs[3], runs), "V-T-Run 15 (ID 9)");
  // A run not (or no longer) in the list is judged by the runs there are.
  EXPECT_EQ(RunFileBase({2, "V", "T", "Run 15"}, runs), "V-T-Run 15");
  const std::vector<TReportTrialEntry> trials = {{2, "V", "Trial 1"}, {1, "V", "Trial.1"}};
  EXPECT_EQ(TrialFileBase(trials[1], trials), "V-Trial1-Summary");
  EXPECT_EQ(TrialFileBase(trials[0], trials), "V-Trial 1-Summary");
  const std::vector<TReportTrialEntry> same = {{2, "V", "Trial1"}, {1, "V", "Trial.1"}};
  EXPECT_EQ(TrialFileBase(same[0], same), "V-Trial1-Summary (ID 2)");
}

// The catalog over the log: every trial of every vessel with its runs, by
// the names as stored; a deleted trial takes its runs out of the lists.
TEST(DMReportCatalogTest, ListsEveryTrialAndRunOfTheLog) {
  test::ScopedDocumentsFolder docs;
  test::ScriptedMessageBox box;
  TDM_System log("RVX_Log.vez", box);
  TDMReportCatalog catalog(log);
  EXPECT_EQ(catalog.getReportPath(), docs.ReportFolder());
  EXPECT_TRUE(catalog.AllRuns().empty());
  EXPECT_TRUE(catalog.AllTrials().empty());
  for (const char* name : {"Caf\xE9", "M.V. Ocean"}) {
    TVessel vessel;
    vessel.name = name;
    log.addVessel(vessel);
  }
  const std::unique_ptr<TVessels> vessels = log.getVessels();
  ASSERT_EQ(vessels->Count(), 2u);
  const int cafe = vessels->Item(0).ID, ocean = vessels->Item(1).ID;
  for (const auto& [vessel, trial] :
       std::vector<std::pair<int, const char*>>{{cafe, "T1"}, {ocean, "T1"}, {ocean, "T2"}}) {
    TTrial t;
    t.VesselID = vessel;
    t.name = trial;
    log.addTrial(t);
  }
  const int ocean_t2 = log.getTrialsByVesselId(ocean).at(1)->ID;
  const int cafe_t1 = log.getTrialsByVesselId(cafe).at(0)->ID;
  for (const auto& [trial, name] : std::vector<std::pair<int, const char*>>{
           {ocean_t2, "Run 1"}, {cafe_t1, "Run 1"}, {ocean_t2, "Run 2"}}) {
    TRun run;
    run.TrialID = trial;
    run.name = name;
    log.addRun(run);
  }
  auto runs = [&] {
    std::vector<std::string> out;
    for (const TReportRunEntry& r : catalog.AllRuns())
      out.push_back(std::to_string(r.RunId) + " " + r.VesselName + "/" + r.TrialName + "/" +
                    r.RunName);
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(runs(), (std::vector<std::string>{"1 M.V. Ocean/T2/Run 1", "2 Caf\xE9/T1/Run 1",
                                              "3 M.V. Ocean/T2/Run 2"}));
  std::vector<std::string> trials;
  for (const TReportTrialEntry& t : catalog.AllTrials())
    trials.push_back(t.VesselName + "/" + t.TrialName);
  std::sort(trials.begin(), trials.end());
  EXPECT_EQ(trials, (std::vector<std::string>{"Caf\xE9/T1", "M.V. Ocean/T1", "M.V. Ocean/T2"}));

  log.getTrials(ocean);  // the delete looks the trial up as the last list left the table
  log.deleteTrial(ocean_t2);
  EXPECT_EQ(runs(), std::vector<std::string>{"2 Caf\xE9/T1/Run 1"});
  EXPECT_EQ(catalog.AllTrials().size(), 2u);
}

// The runs and trials the manager lists come either from the in-memory
// catalog or from the log database, where the runs are stored and read back.
class ReportManagerTest : public ::testing::TestWithParam<test::SeamBackend> {
 protected:
  ReportManagerTest()
      : printer_(docs_.Path() + "/printed.pdf"),
        manager_(settings_, Catalog(), log_, box_, shell_, printer_) {
    test::EnsureQtApplication();
    settings_.vessel_name = "M.V. Ocean";
    settings_.power_mcr = 10000;
    if (OnFile()) {
      TVessel vessel;
      vessel.name = settings_.vessel_name;
      vessel.Shafts = 2;
      vessel.Units = "SI";
      stored_.Log().addVessel(vessel);
      const std::unique_ptr<TVessels> vessels = stored_.Log().getVessels();
      vessel_id_ = vessels->Item(vessels->Count() - 1).ID;
    }
    settings_.trial_name = "Trial 1";
    settings_.trial_id = AddTrial("Trial 1", 4);
  }
  ~ReportManagerTest() override { box_.ExpectDone(); }

  bool OnFile() const { return GetParam() == test::SeamBackend::kLogDatabase; }

  // A trial of the vessel; memoryId is its ID in the in-memory catalog, the
  // log numbers its own.
  int AddTrial(const std::string& name, int memoryId) {
    if (!OnFile()) {
      memory_catalog_.trials.push_back({memoryId, settings_.vessel_name, name});
      return memoryId;
    }
    TTrial trial;
    trial.name = name;
    trial.VesselID = vessel_id_;
    stored_.Log().addTrial(trial);
    for (const auto& t : stored_.Log().getTrialsByVesselId(vessel_id_))
      if (t->name == name) return t->ID;
    ADD_FAILURE() << "trial " << name << " not stored";
    return -1;
  }

  // A run of the current trial with steady readings on these shafts. The
  // log numbers runs 1, 2, ... in order: id must follow that order.
  RunData& AddRun(int id, const std::string& name, const std::vector<int>& shafts = {1}) {
    runs_.push_back(std::make_unique<test::InMemoryRunData>(name, kStart, kStart + 30 * kMinute));
    test::InMemoryRunData& run = *runs_.back();
    run.SetRunId(id);
    for (std::size_t s = 0; s < shafts.size(); ++s) {
      test::AddSteadyReadings(run.AddShaft(), kStart, 200, {8500, 90, 900});
      run.SetShaftId(s, shafts[s]);
    }
    RunData* listed = &run;
    if (OnFile()) {
      listed = &stored_.StoreInTrial(run, settings_.trial_id);
      EXPECT_EQ(listed->RunId(), id);
    } else {
      memory_catalog_.runs.push_back({id, settings_.vessel_name, settings_.trial_name, name});
    }
    list_.push_back(listed);
    return *listed;
  }
  // Takes the run out of the log (the in-memory catalog forgets it).
  void RemoveRun(int id) {
    if (OnFile()) {
      stored_.Log().deleteRun(id);
      return;
    }
    std::erase_if(memory_catalog_.runs, [id](const TReportRunEntry& r) { return r.RunId == id; });
  }
  std::string Folder() const { return docs_.ReportFolder(); }

  test::ScopedDocumentsFolder docs_;
  test::InMemoryDisplaySettings settings_;
  test::InMemoryReportCatalog memory_catalog_;
  // After docs_: the log database variant lives in that folder.
  test::StoredRunBackend stored_{GetParam()};
  std::unique_ptr<TDMReportCatalog> log_catalog_ =
      OnFile() ? std::make_unique<TDMReportCatalog>(stored_.Log()) : nullptr;
  int vessel_id_ = 0;
  test::ScriptedMessageBox box_;
  test::InMemoryErrorLog log_{box_};
  test::RecordingShell shell_;
  test::RecordingPrinter printer_;
  TReportManager manager_;
  std::vector<std::unique_ptr<test::InMemoryRunData>> runs_;
  std::vector<RunData*> list_;

 private:
  ReportCatalog& Catalog() {
    if (log_catalog_) return *log_catalog_;
    return memory_catalog_;
  }
};

TEST_P(ReportManagerTest, RunReportIsWrittenUnderItsName) {
  RunData& run = AddRun(1, "Run 2/3");
  manager_.GenerateRunPdfFile(run, false, false);
  const std::string pdf = Folder() + "MV Ocean-Trial 1-Run 23.pdf";
  ASSERT_TRUE(test::FileExists(pdf));
  EXPECT_NE(test::PdfText(pdf).find("Run 2/3"), std::string::npos);
  EXPECT_TRUE(shell_.Opened().empty());
  EXPECT_TRUE(printer_.Documents().empty());
}

TEST_P(ReportManagerTest, ViewingOpensAndPrintingPrints) {
  RunData& run = AddRun(1, "Run 1");
  const std::string pdf = Folder() + "MV Ocean-Trial 1-Run 1.pdf";
  manager_.GenerateRunPdfFile(run, true, false);
  EXPECT_EQ(shell_.Opened(), std::vector<std::string>{pdf});
  manager_.PrintRunPdf(run);
  EXPECT_EQ(shell_.Opened().size(), 1u);
  ASSERT_EQ(printer_.Documents(), std::vector<std::string>{"Trelmar Voyage Report"});
  const std::string printed = docs_.Path() + "/printed.pdf";
  EXPECT_EQ(test::PdfPageCount(printed), 1);
  EXPECT_NE(test::PdfText(printed).find("Shaft data:"), std::string::npos);
}

TEST_P(ReportManagerTest, OpeningWritesTheReportOnlyWhenMissing) {
  RunData& run = AddRun(1, "Run 1");
  const std::string pdf = Folder() + "MV Ocean-Trial 1-Run 1.pdf";
  manager_.OpenRunPdf(run);
  EXPECT_EQ(shell_.Opened(), std::vector<std::string>{pdf});
  EXPECT_EQ(test::PdfPageCount(pdf), 1);
  EXPECT_TRUE(printer_.Documents().empty());
  // An existing file is opened as it is.
  std::ofstream(pdf, std::ios::trunc) << "kept";
  manager_.OpenRunPdf(run);
  EXPECT_EQ(shell_.Opened().size(), 2u);
  EXPECT_EQ(test::ReadFileBytes(pdf), "kept");
}

TEST_P(ReportManagerTest, ARunReportErrorPassesToTheCaller) {
  RunData& run = AddRun(1, "Run 1");
  std::filesystem::create_directories(Folder() + "MV Ocean-Trial 1-Run 1.pdf");
  EXPECT_THROW(manager_.GenerateRunPdfFile(run, true, true), platform::Exception);
  EXPECT_TRUE(log_.Rows().empty());
  EXPECT_TRUE(shell_.Opened().empty());
}

// "Run 1.5" and "Run 15" clean to the same name: each keeps a file of its
// own, and deleting one run's report leaves the other's.
TEST_P(ReportManagerTest, RunsWhoseNamesCleanAlikeKeepTheirOwnFiles) {
  RunData& first = AddRun(1, "Run 1.5");
  RunData& second = AddRun(2, "Run 15");
  manager_.GenerateRunPdfFile(first, false, false);
  manager_.GenerateRunPdfFile(second, false, false);
  const std::string plain = Folder() + "MV Ocean-Trial 1-Run 15.pdf";
  const std::string with_id = Folder() + "MV Ocean-Trial 1-Run 15 (ID 2).pdf";
  ASSERT_TRUE(test::FileExists(plain));
  ASSERT_TRUE(test::FileExists(with_id));
  EXPECT_NE(test::PdfText(plain).find("Run 1.5"), std::string::npos);
  EXPECT_NE(test::PdfText(with_id).find("Run 15"), std::string::npos);
  // Raw-data files are told apart the same way.
  manager_.GenerateRunRawDataCsvFiles(second);
  EXPECT_TRUE(test::FileExists(
      Folder() + "MV Ocean-Trial 1-Run 15 (ID 2) - Raw data (No filter) - Shaft 1.csv"));

  manager_.DeleteRunPdf(manager_.RunEntry(second), false);
  EXPECT_TRUE(test::FileExists(plain));
  EXPECT_FALSE(test::FileExists(with_id));

  manager_.GenerateRunPdfFile(second, false, false);
  manager_.DeleteRunPdf(manager_.RunEntry(first), false);
  EXPECT_FALSE(test::FileExists(plain));
  EXPECT_TRUE(test::FileExists(with_id));

  // Once the first run is gone from the log, the second owns both names.
  RemoveRun(1);
  manager_.GenerateRunPdfFile(second, false, false);
  ASSERT_TRUE(test::FileExists(plain));
  manager_.DeleteRunPdf(manager_.RunEntry(second), false);
  EXPECT_FALSE(test::FileExists(plain));
  EXPECT_FALSE(test::FileExists(with_id));
}

TEST_P(ReportManagerTest, DeletingAsksOnlyWhenThereIsAFile) {
  RunData& run = AddRun(1, "Run 1");
  const TReportRunEntry entry = manager_.RunEntry(run);
  manager_.DeleteRunPdf(entry, true);  // no file: no question
  EXPECT_TRUE(box_.Log().empty());
  manager_.GenerateRunPdfFile(run, false, false);
  const std::string pdf = Folder() + "MV Ocean-Trial 1-Run 1.pdf";
  box_.QueueConfirm(false);
  manager_.DeleteRunPdf(entry, true);
  EXPECT_TRUE(test::FileExists(pdf));
  box_.QueueConfirm(true);
  manager_.DeleteRunPdf(entry, true);
  EXPECT_FALSE(test::FileExists(pdf));
  EXPECT_EQ(box_.Log(),
            (std::vector<std::string>{"confirm:Delete the report file for 'Run 1' too?",
                                      "confirm:Delete the report file for 'Run 1' too?"}));
}

TEST_P(ReportManagerTest, RawDataFilesOfEveryShaft) {
  settings_.number_of_shafts = 2;
  RunData& run = AddRun(1, "Run 2/3", {1, 2});
  manager_.GenerateRunRawDataCsvFiles(run);
  for (const char* name : {"MV Ocean-Trial 1-Run 23 - Raw data (No filter) - Shaft 1.csv",
                           "MV Ocean-Trial 1-Run 23 - Raw data (Chauvenet) - Shaft 1.csv",
                           "MV Ocean-Trial 1-Run 23 - Raw data (No filter) - Shaft 2.csv",
                           "MV Ocean-Trial 1-Run 23 - Raw data (Chauvenet) - Shaft 2.csv"})
    EXPECT_TRUE(test::FileExists(Folder() + name)) << name;
  // A run that only the second shaft recorded names its file after it.
  RunData& starboard = AddRun(2, "Stbd only", {2});
  manager_.GenerateRunRawDataCsvFiles(starboard);
  const std::string file =
      Folder() + "MV Ocean-Trial 1-Stbd only - Raw data (Chauvenet) - Shaft 2.csv";
  ASSERT_TRUE(test::FileExists(file));
  EXPECT_NE(test::ReadFileBytes(file).find("Shaft id: 2\r\n"), std::string::npos);
}

// A raw-data file that cannot be written is logged and shown; the other
// file is still written.
TEST_P(ReportManagerTest, AFailedRawDataFileIsLoggedAndShown) {
  RunData& run = AddRun(1, "Run 1");
  const std::string raw = Folder() + "MV Ocean-Trial 1-Run 1 - Raw data (No filter) - Shaft 1.csv";
  std::filesystem::create_directories(raw);
  box_.ExpectErrors(1);
  manager_.GenerateRunRawDataCsvFiles(run);
  ASSERT_EQ(log_.Rows().size(), 1u);
  EXPECT_EQ(log_.Rows()[0].UnitName, "ReportManager");
  EXPECT_EQ(log_.Rows()[0].FunctionName, "GenerateRawDataCsvFi");
  ASSERT_EQ(box_.Log().size(), 1u);
  EXPECT_NE(box_.Log()[0].find("Raw data (No filter)"), std::string::npos) << box_.Log()[0];
  EXPECT_TRUE(
      test::FileExists(Folder() + "MV Ocean-Trial 1-Run 1 - Raw data (Chauvenet) - Shaft 1.csv"));
}

TEST_P(ReportManagerTest, TrialSummaryOutputs) {
  AddRun(1, "Run 1");
  AddRun(2, "Run 2");
  manager_.GenerateTrialSummary(list_, true, true, false, false);
  const std::string base = Folder() + "MV Ocean-Trial 1-Summary";
  EXPECT_TRUE(test::FileExists(base + ".csv"));
  EXPECT_TRUE(test::FileExists(base + ".xlsx"));
  EXPECT_FALSE(test::FileExists(base + ".pdf"));
  EXPECT_TRUE(shell_.Opened().empty());

  // View: written and opened, not printed.
  manager_.GenerateTrialSummary(list_, false, false, true, false);
  EXPECT_EQ(shell_.Opened(), std::vector<std::string>{base + ".pdf"});
  EXPECT_TRUE(printer_.Documents().empty());
  EXPECT_NE(test::PdfText(base + ".pdf").find("Run 2"), std::string::npos);
}

TEST_P(ReportManagerTest, PrintOnlyWritesThePdfWithoutOpeningIt) {
  AddRun(1, "Run 1");
  const std::string pdf = Folder() + "MV Ocean-Trial 1-Summary.pdf";
  manager_.GenerateTrialSummary(list_, false, false, false, true);
  EXPECT_TRUE(test::FileExists(pdf));
  EXPECT_TRUE(shell_.Opened().empty());
  ASSERT_EQ(printer_.Documents().size(), 1u);
  EXPECT_NE(test::PdfText(docs_.Path() + "/printed.pdf").find("Trial Summary Report"),
            std::string::npos);
  // View and print: both.
  manager_.GenerateTrialSummary(list_, false, false, true, true);
  EXPECT_EQ(shell_.Opened(), std::vector<std::string>{pdf});
  EXPECT_EQ(printer_.Documents().size(), 2u);
}

// A summary output that cannot be written is logged and shown, and the
// next output is still made.
TEST_P(ReportManagerTest, AFailedSummaryOutputIsLoggedAndShownAndTheNextIsWritten) {
  AddRun(1, "Run 1");
  const std::string base = Folder() + "MV Ocean-Trial 1-Summary";
  std::filesystem::create_directories(base + ".csv");
  box_.ExpectErrors(1);
  manager_.GenerateTrialSummary(list_, true, true, true, false);
  ASSERT_EQ(log_.Rows().size(), 1u);
  EXPECT_EQ(log_.Rows()[0].FunctionName, "GenerateTrialSummary");  // cut to 20
  EXPECT_TRUE(test::FileExists(base + ".xlsx"));
  EXPECT_EQ(test::PdfPageCount(base + ".pdf"), 1);

  std::filesystem::remove(base + ".csv");
  std::filesystem::remove(base + ".xlsx");
  std::filesystem::create_directories(base + ".xlsx");
  box_.ExpectErrors(1);
  manager_.GenerateTrialSummary(list_, true, true, false, false);
  ASSERT_EQ(log_.Rows().size(), 2u);
  EXPECT_NE(log_.Rows()[1].Message.find("Cannot write the spreadsheet"), std::string::npos)
      << log_.Rows()[1].Message;
  EXPECT_TRUE(test::FileExists(base + ".csv"));
  EXPECT_EQ(box_.Log().size(), 2u);
}

TEST_P(ReportManagerTest, TrialsWhoseNamesCleanAlikeKeepTheirOwnSummaries) {
  AddTrial("Trial.1", 2);
  settings_.trial_name = "Trial1";
  settings_.trial_id = AddTrial("Trial1", 6);
  AddRun(1, "Run 1");
  manager_.GenerateTrialSummary(list_, true, false, false, false);
  EXPECT_TRUE(test::FileExists(Folder() + "MV Ocean-Trial1-Summary (ID " +
                               std::to_string(settings_.trial_id) + ").csv"));
  EXPECT_FALSE(test::FileExists(Folder() + "MV Ocean-Trial1-Summary.csv"));
}

INSTANTIATE_TEST_SUITE_P(Seams, ReportManagerTest,
                         ::testing::Values(test::SeamBackend::kInMemory,
                                           test::SeamBackend::kLogDatabase),
                         test::SeamBackendName);

}  // namespace
}  // namespace rvx
