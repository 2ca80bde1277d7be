// The raw-data files, read back byte for byte.
#include "app/reports/RawDataCSVCreator.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "tests/app/reports/ReportTestSupport.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/InMemoryRunData.h"
#include "tests/app/support/StoredRunBackend.h"

namespace rvx {
namespace {

using test::CrLfLines;
using test::Reading;

const platform::TDateTime kStart = platform::EncodeDateTime(2024, 2, 1, 10, 0, 0, 0);

class RawDataCsv : public ::testing::TestWithParam<test::SeamBackend> {
 protected:
  RawDataCsv() { settings_.power_mcr = 1000; }

  bool OnFile() const { return GetParam() == test::SeamBackend::kLogDatabase; }
  // The test's one shaft, filled before the first file is written.
  TShaftDataSet& Shaft() { return run_.AddShaft(5, 5); }

  std::string Raw(TShaftDataSet& shaft, const std::string& run = "Run 1", int shaft_id = 1) {
    const std::string path = docs_.Path() + "/raw.csv";
    TRawDataCSVCreator(settings_).GenerateRawValues(shaft_id, Source(shaft), run, path);
    return test::ReadFileBytes(path);
  }
  std::string Filtered(TShaftDataSet& shaft, const std::string& run = "Run 1") {
    const std::string path = docs_.Path() + "/filtered.csv";
    TRawDataCSVCreator(settings_).GenerateFilteredValues(1, Source(shaft), run, path);
    return test::ReadFileBytes(path);
  }

  test::ScopedDocumentsFolder docs_;
  test::InMemoryDisplaySettings settings_;
  test::InMemoryRunData run_{"Run 1", kStart, kStart + 1};
  // After docs_: the log database variant lives in that folder.
  test::StoredRunBackend stored_{GetParam()};

 private:
  // The shaft itself, or its copy read back from the log (stored once).
  TShaftDataSet& Source(TShaftDataSet& shaft) {
    EXPECT_EQ(&shaft, &run_.ShaftDataSet(0));
    if (stored_run_ == nullptr) stored_run_ = &stored_.Through(run_);
    return stored_run_->ShaftDataSet(0);
  }
  RunData* stored_run_ = nullptr;
};

// Nine readings of 100 kW and one of 1000 kW, which Chauvenet's criterion
// rejects; speed and torque steady.
std::vector<Reading> WithOutlier() {
  std::vector<Reading> r(10, Reading{100, 50, 20});
  r[4].power = 1000;
  return r;
}

std::vector<std::string> DataLines(const std::string& file) {
  std::vector<std::string> lines;
  std::istringstream in(file);
  std::string line;
  int n = 0;
  while (std::getline(in, line))
    if (++n > 18) lines.push_back(line);
  return lines;
}

TEST_P(RawDataCsv, BothFilesHeadTheirStatisticsAndListTheirSamples) {
  TShaftDataSet& shaft = Shaft();
  test::AddReadings(shaft, kStart, WithOutlier());
  std::vector<std::string> data;
  for (int i = 0; i < 10; ++i)
    data.push_back("01/02/2024,10:00:0" + std::to_string(i) + "," +
                   (i == 4 ? "1000.00" : "100.00") + ",50.00,20.00");
  std::vector<std::string> raw = {"Vessel: Test Vessel",
                                  "Trial: Test Trial",
                                  "Run: Run 1",
                                  "Shaft id: 1",
                                  "Outlier filter: no filter",
                                  "",
                                  "Function,Power(kW),Speed(rpm),Torque(kNm)",
                                  "MCR,1000,100,764",
                                  "Mean,190.00,50.00,20.00",
                                  "% of MCR,19.0%,50.0%,2.6%",
                                  "Min,100.00,50.00,20.00",
                                  "Max,1000.00,50.00,20.00",
                                  "Std. dev.,284.60,0.00,0.00",
                                  "Samples,10,10,10",
                                  "Outliers,n/a,n/a,n/a",
                                  "Errors,0,0,0",
                                  "",
                                  "Date,Time,Power(kW),Speed(rpm),Torque(kNm)"};
  raw.insert(raw.end(), data.begin(), data.end());
  EXPECT_EQ(Raw(shaft), CrLfLines(raw));

  // The rejected power sample leaves its field empty; speed and torque stay.
  data[4] = "01/02/2024,10:00:04,,50.00,20.00";
  std::vector<std::string> filtered = {"Vessel: Test Vessel",
                                       "Trial: Test Trial",
                                       "Run: Run 1",
                                       "Shaft id: 1",
                                       "Outlier filter: Chauvenet",
                                       "",
                                       "Function,Power(kW),Speed(rpm),Torque(kNm)",
                                       "MCR,1000,100,764",
                                       "Mean,100.00,50.00,20.00",
                                       "% of MCR,10.0%,50.0%,2.6%",
                                       "Min,100.00,50.00,20.00",
                                       "Max,100.00,50.00,20.00",
                                       "Std. dev.,0.00,0.00,0.00",
                                       "Samples,10,10,10",
                                       "Outliers,1,0,0",
                                       "Errors,0,0,0",
                                       "",
                                       "Date,Time,Power(kW),Speed(rpm),Torque(kNm)"};
  filtered.insert(filtered.end(), data.begin(), data.end());
  EXPECT_EQ(Filtered(shaft), CrLfLines(filtered));
}

TEST_P(RawDataCsv, FlaggedAndAbsentSamplesLeaveTheirFieldsEmpty) {
  TShaftDataSet& shaft = Shaft();
  const double s = 1.0 / 86400;
  shaft.AddPower(kStart, 100, false, 0);
  shaft.AddTorque(kStart, 20, false, 0);
  shaft.AddSpeed(kStart, 50, false, 0);
  // Power flagged: the reading stays with its speed and torque.
  shaft.AddPower(kStart + s, 110, true, 1);
  shaft.AddTorque(kStart + s, 21, false, 1);
  shaft.AddSpeed(kStart + s, 51, false, 1);
  // Everything flagged: no line at all.
  shaft.AddPower(kStart + 2 * s, 120, true, 2);
  shaft.AddTorque(kStart + 2 * s, 22, true, 2);
  shaft.AddSpeed(kStart + 2 * s, 52, true, 2);
  // Speed did not read.
  shaft.PowerData().Add(TDataValue(kStart + 3 * s, 130, false), 3);
  shaft.TorqueData().Add(TDataValue(kStart + 3 * s, 23, false), 3);
  shaft.SpeedData().Add(std::nullopt, 3);
  const std::string raw = Raw(shaft);
  if (OnFile()) {
    // The log keeps one error flag per reading: a flagged power sample
    // flags the reading's speed and torque as well.
    EXPECT_NE(raw.find("Errors,2,2,2\r\n"), std::string::npos) << raw;
    EXPECT_EQ(DataLines(raw), (std::vector<std::string>{"01/02/2024,10:00:00,100.00,50.00,20.00\r",
                                                        "01/02/2024,10:00:03,130.00,,23.00\r"}));
    return;
  }
  EXPECT_NE(raw.find("Errors,2,1,1\r\n"), std::string::npos) << raw;
  EXPECT_EQ(DataLines(raw), (std::vector<std::string>{"01/02/2024,10:00:00,100.00,50.00,20.00\r",
                                                      "01/02/2024,10:00:01,,51.00,21.00\r",
                                                      "01/02/2024,10:00:03,130.00,,23.00\r"}));
}

TEST_P(RawDataCsv, EveryDataLineHasFourCommas) {
  TShaftDataSet& shaft = Shaft();
  test::AddSteadyReadings(shaft, kStart, 5000, {8000, 100, 764});
  // Some readings with an outlier in one quantity only.
  test::AddReadings(shaft, kStart + 1, {{20000, 100, 764}, {8000, 300, 764}, {8000, 100, 9000}});
  for (const std::string& file : {Raw(shaft), Filtered(shaft)}) {
    const std::vector<std::string> lines = DataLines(file);
    ASSERT_GE(lines.size(), 5000u);
    for (const std::string& line : lines)
      ASSERT_EQ(std::count(line.begin(), line.end(), ','), 4) << line;
  }
  EXPECT_EQ(DataLines(Filtered(shaft)).size(), 5003u);
}

TEST_P(RawDataCsv, AShaftWithoutSamplesGivesZeros) {
  TShaftDataSet& shaft = Shaft();
  for (const std::string& file : {Raw(shaft), Filtered(shaft)}) {
    EXPECT_NE(file.find("Mean,0.00,0.00,0.00\r\n% of MCR,0.0%,0.0%,0.0%\r\n"
                        "Min,0.00,0.00,0.00\r\nMax,0.00,0.00,0.00\r\n"
                        "Std. dev.,0.00,0.00,0.00\r\nSamples,0,0,0\r\n"),
              std::string::npos)
        << file;
    EXPECT_TRUE(DataLines(file).empty());
    EXPECT_TRUE(file.ends_with("Date,Time,Power(kW),Speed(rpm),Torque(kNm)\r\n"));
  }
}

TEST_P(RawDataCsv, MetricVesselShowsItsUnitsAndFactors) {
  settings_.units = "Metric";
  settings_.power_unit = "SHp";
  settings_.torque_unit = "Tm";
  settings_.power_factor = 1.3596;
  settings_.torque_factor = 0.10197;
  settings_.power_mcr = 1360;
  settings_.torque_mcr = 78;
  TShaftDataSet& shaft = Shaft();
  test::AddReadings(shaft, kStart, {{100, 50, 20}, {100, 50, 20}});
  for (const std::string& file : {Raw(shaft), Filtered(shaft)}) {
    EXPECT_NE(file.find("Function,Power(SHp),Speed(rpm),Torque(Tm)\r\nMCR,1360,100,78\r\n"
                        "Mean,135.96,50.00,2.04\r\n% of MCR,10.0%,50.0%,2.6%\r\n"),
              std::string::npos)
        << file;
    EXPECT_NE(file.find("Samples,2,2,2\r\n"), std::string::npos);
    EXPECT_NE(file.find("Date,Time,Power(SHp),Speed(rpm),Torque(Tm)\r\n"
                        "01/02/2024,10:00:00,135.96,50.00,2.04\r\n"),
              std::string::npos);
  }
}

TEST_P(RawDataCsv, AnMcrOfZeroShowsNA) {
  settings_.torque_mcr = 0;
  TShaftDataSet& shaft = Shaft();
  test::AddReadings(shaft, kStart, {{100, 50, 20}});
  EXPECT_NE(Raw(shaft).find("% of MCR,10.0%,50.0%,NA%\r\n"), std::string::npos);
}

TEST_P(RawDataCsv, NamesAreWrittenInWindows1252) {
  settings_.vessel_name = "Caf\xE9 Ocean";
  TShaftDataSet& shaft = Shaft();
  const std::string file = Raw(shaft, "Run \xE9t\xE9");
  EXPECT_TRUE(
      file.starts_with("Vessel: Caf\xE9 Ocean\r\nTrial: Test Trial\r\nRun: Run \xE9t\xE9\r\n"))
      << file;
}

// Two sentences decoded within one millisecond share a time stamp; both
// readings are listed, joined by their ordinals, not merged by time.
TEST_P(RawDataCsv, TwoReadingsInOneMillisecondGiveTwoLines) {
  TShaftDataSet& shaft = Shaft();
  test::AddReadings(shaft, kStart, {{100, 50, 20}, {200, 60, 30}, {300, 70, 40}}, 0.0);
  const std::vector<std::string> expected = {"01/02/2024,10:00:00,100.00,50.00,20.00\r",
                                             "01/02/2024,10:00:00,200.00,60.00,30.00\r",
                                             "01/02/2024,10:00:00,300.00,70.00,40.00\r"};
  EXPECT_EQ(DataLines(Raw(shaft)), expected);
  EXPECT_EQ(DataLines(Filtered(shaft)), expected);
}

TEST_P(RawDataCsv, ReadingsComeInOrdinalOrder) {
  // A read-back may hand the samples over out of order; the lines are in
  // recording order all the same.
  TShaftDataSet& shaft = Shaft();
  const double s = 1.0 / 86400;
  for (std::uint32_t ordinal : {2u, 0u, 1u}) {
    const double t = kStart + ordinal * s;
    shaft.AddPower(t, 100 + ordinal, false, ordinal);
    shaft.AddTorque(t, 20 + ordinal, false, ordinal);
    shaft.AddSpeed(t, 50 + ordinal, false, ordinal);
  }
  EXPECT_EQ(DataLines(Raw(shaft)),
            (std::vector<std::string>{"01/02/2024,10:00:00,100.00,50.00,20.00\r",
                                      "01/02/2024,10:00:01,101.00,51.00,21.00\r",
                                      "01/02/2024,10:00:02,102.00,52.00,22.00\r"}));
}

TEST_P(RawDataCsv, NamesWithCommasOrQuotesAreQuoted) {
  settings_.vessel_name = "Ocean, Ltd";
  settings_.trial_name = "Trial \"A\"";
  TShaftDataSet& shaft = Shaft();
  const std::string file = Raw(shaft, "Run 1\r\nsecond line");
  EXPECT_TRUE(
      file.starts_with("\"Vessel: Ocean, Ltd\"\r\n\"Trial: Trial \"\"A\"\"\"\r\n"
                       "\"Run: Run 1\r\nsecond line\"\r\nShaft id: 1\r\n"))
      << file;
}

TEST_P(RawDataCsv, AFileThatCannotBeCreatedRaises) {
  TShaftDataSet& shaft = Shaft();
  EXPECT_THROW(TRawDataCSVCreator(settings_).GenerateRawValues(1, shaft, "Run", docs_.Path()),
               platform::EOSError);
}

INSTANTIATE_TEST_SUITE_P(Seams, RawDataCsv,
                         ::testing::Values(test::SeamBackend::kInMemory,
                                           test::SeamBackend::kLogDatabase),
                         test::SeamBackendName);

}  // namespace
}  // namespace rvx
