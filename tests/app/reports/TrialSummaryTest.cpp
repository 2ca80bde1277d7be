// The trial summary as CSV file and spreadsheet, read back byte for byte and
// through openpyxl.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/reports/TrialSummaryCSVCreator.h"
#include "app/reports/TrialSummaryXLSCreator.h"
#include "app/run/RunDataSet.h"
#include "app/storage/ConfigurationManager.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "tests/app/reports/ReportTestSupport.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/InMemoryRunData.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/StoredRunBackend.h"

namespace rvx {
namespace {

using test::CrLfLines;
using test::InMemoryRunData;

const platform::TDateTime kStart = platform::EncodeDateTime(2024, 2, 1, 10, 0, 0, 0);
constexpr double kMinute = 1.0 / 1440;

// Runs of a trial; each shaft holds steady readings with the given means.
class Trial {
 public:
  InMemoryRunData& Add(const std::string& name, platform::TDateTime start, double minutes,
                       std::vector<test::Reading> shafts) {
    runs_.push_back(std::make_unique<InMemoryRunData>(name, start, start + minutes * kMinute));
    for (const test::Reading& r : shafts)
      test::AddReadings(runs_.back()->AddShaft(), start, {r, r, r});
    list_.push_back(runs_.back().get());
    return *runs_.back();
  }
  const std::vector<RunData*>& List() const { return list_; }

 private:
  std::vector<std::unique_ptr<InMemoryRunData>> runs_;
  std::vector<RunData*> list_;
};

// A stored run read back as run control reads it: one replay measurement
// manager per stored measurement, behind their progress windows.
class ReplayedRun : public RunData {
 public:
  ReplayedRun(TDM_System& log, const TRun& row, int window, int minimum) : run_(row), config_(log) {
    config_.SetMinimumDataSamplesInWindow(minimum);
    config_.SetDataWindowSize(window);
    TMeassurementManagerList managers;
    for (auto& m : log.GetMeassurements(run_.ID))
      managers.push_back(std::make_shared<TMeassurementManager>(run_, log, config_, std::move(m)));
    set_ = std::make_unique<TRunDataSet>(run_, std::move(managers));
  }
  int RunId() const override { return set_->RunId(); }
  std::string RunName() const override { return set_->RunName(); }
  std::string Comments() const override { return set_->Comments(); }
  platform::TDateTime StartTime() const override { return set_->StartTime(); }
  platform::TDateTime StopTime() const override { return set_->StopTime(); }
  std::size_t ShaftCount() const override { return set_->ShaftCount(); }
  TShaftDataSet& ShaftDataSet(std::size_t shaft) override { return set_->ShaftDataSet(shaft); }
  int ShaftId(std::size_t shaft) const override { return set_->ShaftId(shaft); }

 private:
  TRun run_;
  TConfigurationManager config_;
  std::unique_ptr<TRunDataSet> set_;
};

// Where the summarised runs come from.
enum class RunSource { kInMemory, kLogDatabase, kRunDataSet };

std::string RunSourceText(RunSource source) {
  switch (source) {
    case RunSource::kInMemory:
      return "InMemory";
    case RunSource::kLogDatabase:
      return "LogDatabase";
    case RunSource::kRunDataSet:
      return "RunDataSet";
  }
  return "Unknown";
}

std::string RunSourceName(const ::testing::TestParamInfo<RunSource>& info) {
  return RunSourceText(info.param);
}

void PrintTo(RunSource source, std::ostream* os) {
  *os << RunSourceText(source);
}

test::StoredRunBackend BackendFor(RunSource source) {
  if (source == RunSource::kInMemory) return test::StoredRunBackend(test::SeamBackend::kInMemory);
  if (source == RunSource::kLogDatabase)
    return test::StoredRunBackend(test::SeamBackend::kLogDatabase);
  return test::StoredRunBackend(
      test::SeamBackend::kLogDatabase,
      [](TDM_System& log, const TRun& row, int window, int minimum) -> std::unique_ptr<RunData> {
        return std::make_unique<ReplayedRun>(log, row, window, minimum);
      });
}

class TrialSummary : public ::testing::TestWithParam<RunSource> {
 protected:
  // The replay managers show progress windows.
  void SetUp() override { test::EnsureQtApplication(); }
  std::string Csv(const Trial& trial) {
    const std::string path = docs_.Path() + "/summary.csv";
    const std::vector<RunData*> runs = stored_.Through(trial.List());
    TTRialSummaryCSVCreator(settings_).Generate(runs, IsTwinShaftSummary(runs), path);
    return test::ReadFileBytes(path);
  }
  // Every written cell of the spreadsheet, one line each, and the sheet's
  // page settings, as openpyxl reads them.
  std::string Xlsx(const Trial& trial) {
    const std::string path = docs_.Path() + "/summary.xlsx";
    const std::vector<RunData*> runs = stored_.Through(trial.List());
    TTRialSummaryXLSCreator(settings_).Generate(runs, IsTwinShaftSummary(runs), path);
    return DescribeXlsx(path);
  }
  std::string DescribeXlsx(const std::string& path) {
    const std::string script = docs_.Path() + "/describe.py";
    std::ofstream(script) << R"(import sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).active
print("orientation", ws.page_setup.orientation)
widths = {}
for d in ws.column_dimensions.values():
    for i in range(d.min, d.max + 1):
        widths[openpyxl.utils.get_column_letter(i)] = d.width
for col in "ABCDEFGHIJ":
    print("width", col, round(widths.get(col, 0), 2))
for row in ws.iter_rows():
    for c in row:
        if c.value is None:
            continue
        f = c.font
        colour = f.color.rgb if f.color is not None and f.color.type == "rgb" else "-"
        print("%s %s %r bold=%s u=%s colour=%s size=%s font=%s align=%s fmt=%s" % (
            c.coordinate, c.data_type, c.value, bool(f.b), f.u, colour, f.sz, f.name,
            c.alignment.horizontal, c.number_format))
)";
    return test::RunTool("/usr/bin/python3 " + test::ShellQuoted(script) + " " +
                         test::ShellQuoted(path));
  }

  test::ScopedDocumentsFolder docs_;
  test::InMemoryDisplaySettings settings_;
  // After docs_: the log database variant lives in that folder.
  test::StoredRunBackend stored_{BackendFor(GetParam())};
};

TEST_P(TrialSummary, CsvOfOneShaftRuns) {
  Trial trial;
  trial.Add("Run 1", kStart, 30, {{8499.6, 85.27, 955}});
  trial.Add("Run 2", kStart + 1 + 3.5 / 24, 61.5, {{950.27, 12.34, 99.5}});
  EXPECT_EQ(Csv(trial), CrLfLines({"Date,Time,Run Name,Duration,Power(kW),Speed(rpm),Torque(kNm),",
                                   "01/02/2024,10:00:00,\"Run 1\",00:30:00,8500,85.3,955",
                                   "02/02/2024,13:30:00,\"Run 2\",01:01:30,950,12.3,100"}));
}

TEST_P(TrialSummary, CsvOfMixedRunsUsesTheTwinLayout) {
  settings_.number_of_shafts = 2;
  Trial trial;
  trial.Add("Twin", kStart, 30, {{8000, 90, 850}, {7000, 88, 760}});
  trial.Add("Port only", kStart + 1, 30, {{6000, 80, 716}});
  EXPECT_EQ(Csv(trial),
            CrLfLines({"Date,Time,Run Name,Duration,P.Power(kW),P.Speed(rpm),P.Torque(kNm),"
                       "S.Power(kW),S.Speed(rpm),S.Torque(kNm),",
                       "01/02/2024,10:00:00,\"Twin\",00:30:00,8000,90.0,850,7000,88.0,760",
                       "02/02/2024,10:00:00,\"Port only\",00:30:00,6000,80.0,716"}));
}

TEST_P(TrialSummary, CsvOfAnEmptyTrialIsItsHeadLine) {
  Trial trial;
  EXPECT_EQ(Csv(trial),
            CrLfLines({"Date,Time,Run Name,Duration,Power(kW),Speed(rpm),Torque(kNm),"}));
}

TEST_P(TrialSummary, CsvKeepsEveryRunNameOneField) {
  Trial trial;
  trial.Add("Run \"A\"", kStart, 30, {{8000, 90, 850}});
  trial.Add("Run 1, 2", kStart, 30, {{8000, 90, 850}});
  trial.Add("Caf\xE9", kStart, 30, {{8000, 90, 850}});
  // No shaft recorded: the values stay empty, the line keeps its fields.
  trial.Add("Nothing", kStart, 30, {});
  EXPECT_EQ(Csv(trial), CrLfLines({"Date,Time,Run Name,Duration,Power(kW),Speed(rpm),Torque(kNm),",
                                   "01/02/2024,10:00:00,\"Run \"\"A\"\"\",00:30:00,8000,90.0,850",
                                   "01/02/2024,10:00:00,\"Run 1, 2\",00:30:00,8000,90.0,850",
                                   "01/02/2024,10:00:00,\"Caf\xE9\",00:30:00,8000,90.0,850",
                                   "01/02/2024,10:00:00,\"Nothing\",00:30:00,,,"}));
}

TEST_P(TrialSummary, MetricCsvMultipliesTheMeans) {
  settings_.power_unit = "SHp";
  settings_.torque_unit = "Tm";
  settings_.power_factor = 1.3596;
  settings_.torque_factor = 0.10197;
  Trial trial;
  trial.Add("Run 1", kStart, 30, {{8000, 90, 850}});
  EXPECT_EQ(Csv(trial), CrLfLines({"Date,Time,Run Name,Duration,Power(SHp),Speed(rpm),Torque(Tm),",
                                   "01/02/2024,10:00:00,\"Run 1\",00:30:00,10877,90.0,87"}));
}

TEST_P(TrialSummary, AFileThatCannotBeCreatedRaises) {
  Trial trial;
  trial.Add("Run 1", kStart, 30, {{8000, 90, 850}});
  const std::vector<RunData*> runs = stored_.Through(trial.List());
  EXPECT_THROW(TTRialSummaryCSVCreator(settings_).Generate(runs, false, docs_.Path()),
               platform::EOSError);
  EXPECT_THROW(TTRialSummaryXLSCreator(settings_).Generate(runs, false, docs_.Path()),
               platform::Exception);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    lines.push_back(line);
  return lines;
}

TEST_P(TrialSummary, SpreadsheetOfMixedRuns) {
  settings_.number_of_shafts = 2;
  settings_.vessel_name = "M.V. Caf\xE9";
  Trial trial;
  trial.Add("Twin", kStart, 30, {{8499.6, 85.27, 955}, {7000, 88, 760}});
  trial.Add("Port only", kStart + 1, 30, {{6000, 80, 716}});
  const std::vector<std::string> cells = Lines(Xlsx(trial));
  const std::string head =
      " bold=True u=single colour=FF0000FF size=8.0 font=Arial align=center"
      " fmt=General";
  const std::string title =
      " bold=True u=single colour=FF0000FF size=10.0 font=Arial align=left"
      " fmt=General";
  const std::string plain = " bold=False u=None colour=- size=10.0 font=Arial align=";
  const std::vector<std::string> expected = {
      "orientation landscape",
      "width A 12.71",
      "width B 12.71",
      "width C 31.71",
      "width D 14.71",
      "width E 14.71",
      "width F 14.71",
      "width G 14.71",
      "width H 14.71",
      "width I 14.71",
      "width J 14.71",
      "C1 s 'Trelmar RVX Log : Trial Summary Report'" + title,
      "A2 s 'Vessel Name:'" + title,
      "C2 s 'M.V. Café' bold=True u=None colour=- size=10.0 font=Arial align=left fmt=General",
      "A3 s 'Sea Trial ID:'" + title,
      "C3 s 'Test Trial' bold=True u=None colour=- size=10.0 font=Arial align=left fmt=General",
      "F4 s 'PORT'" + head,
      "I4 s 'STARBOARD'" + head,
      "A5 s 'Date'" + head,
      "B5 s 'Time'" + head,
      "C5 s 'Run Name'" + head,
      "D5 s 'Duration'" + head,
      "E5 s 'Power (kW)'" + head,
      "F5 s 'Speed (rpm)'" + head,
      "G5 s 'Torque (kNm)'" + head,
      "H5 s 'Power (kW)'" + head,
      "I5 s 'Speed (rpm)'" + head,
      "J5 s 'Torque (kNm)'" + head,
      "A6 d datetime.datetime(2024, 2, 1, 0, 0)" + plain + "center fmt=dd/mm/yyyy",
      "B6 s '10:00:00'" + plain + "center fmt=General",
      "C6 s 'Twin'" + plain + "left fmt=General",
      "D6 s '00:30:00'" + plain + "right fmt=General",
      "E6 n 8500" + plain + "right fmt=0",
      "F6 n 85.3" + plain + "right fmt=0.0",
      "G6 n 955" + plain + "right fmt=0",
      "H6 n 7000" + plain + "right fmt=0",
      "I6 n 88" + plain + "right fmt=0.0",
      "J6 n 760" + plain + "right fmt=0",
      // The one-shaft run leaves columns 7 to 9 (H to J) empty.
      "A7 d datetime.datetime(2024, 2, 2, 0, 0)" + plain + "center fmt=dd/mm/yyyy",
      "B7 s '10:00:00'" + plain + "center fmt=General",
      "C7 s 'Port only'" + plain + "left fmt=General",
      "D7 s '00:30:00'" + plain + "right fmt=General",
      "E7 n 6000" + plain + "right fmt=0",
      "F7 n 80" + plain + "right fmt=0.0",
      "G7 n 716" + plain + "right fmt=0",
  };
  EXPECT_EQ(cells, expected);
}

TEST_P(TrialSummary, SpreadsheetOfAnEmptyTrialHasItsHeadRowsOnly) {
  Trial trial;
  const std::string cells = Xlsx(trial);
  EXPECT_NE(cells.find("G5 s 'Torque (kNm)'"), std::string::npos) << cells;
  EXPECT_EQ(cells.find("PORT"), std::string::npos);
  EXPECT_EQ(cells.find("H5"), std::string::npos);
  EXPECT_EQ(cells.find("A6"), std::string::npos);
}

// A start time of 10:00:00 held as a day fraction lies a hair below or above
// the whole second; cutting it to whole seconds without rounding first
// shows 09:59:59 for some of them.
TEST(TrialSummaryTimes, StartTimesOnWholeSecondsShowThoseSeconds) {
  int cut_wrong = 0;
  for (int day = 45000; day < 45010; ++day)
    for (int hour = 0; hour < 24; ++hour)
      for (int minute = 0; minute < 60; minute += 7) {
        const platform::TDateTime t = day + platform::EncodeTime(hour, minute, 0, 0);
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02d:%02d:00", hour, minute);
        ASSERT_EQ(FormatTimeOfDay(t), expected) << std::hexfloat << t;
        const double cut = std::trunc((t - std::trunc(t)) * 86400);
        if (cut != hour * 3600 + minute * 60) ++cut_wrong;
      }
  EXPECT_GT(cut_wrong, 0) << "no start time here would show the previous second";
  // Sub-second parts are still dropped; a time that rounds to midnight is
  // the next day's.
  EXPECT_EQ(FormatTimeOfDay(kStart + 0.9 / 86400), "10:00:00");
  EXPECT_EQ(FormatTimeOfDay(kStart + 1.0004 / 86400), "10:00:01");
  EXPECT_EQ(FormatTimeOfDay(std::nextafter(45001.0, 0.0)), "00:00:00");
}

TEST_P(TrialSummary, TenOClockShowsAsTenOClockInBothFiles) {
  // 10:00:00 as its day fraction: just below the whole second.
  platform::TDateTime start = kStart;
  while ((start - std::trunc(start)) * 86400 >= 36000)
    start = std::nextafter(start, 0.0);
  ASSERT_EQ(platform::DateTimeToTimeStamp(start).Time, 36000000);
  Trial trial;
  trial.Add("Run 1", start, 30, {{8000, 90, 850}});
  EXPECT_NE(Csv(trial).find("01/02/2024,10:00:00,\"Run 1\""), std::string::npos);
  EXPECT_NE(Xlsx(trial).find("B6 s '10:00:00'"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Seams, TrialSummary,
                         ::testing::Values(RunSource::kInMemory, RunSource::kLogDatabase,
                                           RunSource::kRunDataSet),
                         RunSourceName);

}  // namespace
}  // namespace rvx
