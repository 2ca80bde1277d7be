// The log's records (vessels, trials, runs, measurements) and samples on a
// real file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/core/Variant.h"
#include "tests/app/storage/LogDatabaseTestSupport.h"

namespace rvx::test {
namespace {

using platform::Variant;
using ::testing::ElementsAre;

class RecordsTest : public LogDatabaseTest {
 protected:
  int AddVessel(const std::string& name, const std::string& units = "SI") {
    TVessel v;
    v.name = name;
    v.MCRPower = 7355;
    v.MCRSpeed = 120;
    v.MCRTorque = 1000;
    v.Shafts = 2;
    v.Units = units;
    log_->addVessel(v);
    auto list = log_->getVessels();
    return list->Item(list->Count() - 1).ID;
  }
  int AddTrial(int vessel, const std::string& name) {
    log_->addTrial(TTrial{0, name, vessel});
    auto trials = log_->getTrialsByVesselId(vessel);
    return trials.back()->ID;
  }
  int AddRun(int trial, const std::string& name) {
    TRun run;
    run.name = name;
    run.TrialID = trial;
    log_->addRun(run);
    return run.ID;
  }
  // Row counts through the engine, after closing the adapter.
  int Count(const char* table) {
    log_.reset();
    EngineFile file(LogPath());
    vez::TVEZTable& t = file.Table(table);
    t.Open();
    return t.RecordCount();
  }

  std::unique_ptr<TDM_System> log_ = OpenLog();
};

TEST_F(RecordsTest, VesselsRoundTrip) {
  EXPECT_EQ(log_->getVessels()->Count(), 0u);
  const int a = AddVessel("Alpha", "Metric");
  const int b = AddVessel("Beta");
  EXPECT_LT(a, b);
  auto list = log_->getVessels();
  ASSERT_EQ(list->Count(), 2u);
  list->first();
  EXPECT_EQ(list->getName(), "Alpha");
  EXPECT_EQ(list->getMCRPower(), 7355);
  EXPECT_EQ(list->getMCRSpeed(), 120);
  EXPECT_EQ(list->getShafts(), 2);
  list->next();
  EXPECT_EQ(list->getID(), b);
  list->next();
  EXPECT_TRUE(list->eof());
  EXPECT_EQ(list->getID(), b);  // the current item stays at the last one
  EXPECT_EQ(log_->getVesselName(a), "Alpha");
  EXPECT_EQ(log_->getVesselName(999), "");
  EXPECT_TRUE(log_->vesselExist("Beta"));
  EXPECT_FALSE(log_->vesselExist("beta"));
  auto v = log_->GetVesselById(a);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->MCRTorque, 1000);
  EXPECT_EQ(v->Units, "Metric");
  EXPECT_EQ(log_->GetVesselById(999), nullptr);
}

TEST_F(RecordsTest, TrialsKeepTheirFilterAndLookupsSwitchItOff) {
  const int a = AddVessel("A");
  const int b = AddVessel("B");
  const int ta = AddTrial(a, "Sea trial");
  AddTrial(a, "Sea trial");  // same name, same vessel: skipped
  const int tb = AddTrial(b, "Sea trial");
  auto trials = log_->getTrials(a);
  ASSERT_EQ(trials->Count(), 1u);
  trials->first();
  EXPECT_EQ(trials->getID(), ta);
  EXPECT_EQ(trials->getVesselID(), a);
  EXPECT_TRUE(log_->getErrorLogDataSource().Active());
  EXPECT_EQ(log_->getTrialName(tb), "Sea trial");
  auto t = log_->GetTrialById(tb);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->VesselID, b);
  EXPECT_TRUE(log_->trialExist(b, "Sea trial"));
  EXPECT_FALSE(log_->trialExist(b, "sea trial"));
  EXPECT_EQ(Count("Trials"), 2);
}

TEST_F(RecordsTest, RunNamesAreCaseSensitiveAndDuplicatesInsertNothing) {
  const int trial = AddTrial(AddVessel("V"), "T");
  const int first = AddRun(trial, "Run");
  EXPECT_GT(first, 0);
  TRun dup;
  dup.name = "Run";
  dup.TrialID = trial;
  dup.ID = -7;
  log_->addRun(dup);
  EXPECT_EQ(dup.ID, -7);
  const int lower = AddRun(trial, "run");
  EXPECT_NE(lower, first);
  EXPECT_TRUE(log_->runExistInTrial("Run", trial));
  EXPECT_FALSE(log_->runExistInTrial("RUN", trial));
  EXPECT_EQ(log_->getRunName(lower), "run");

  TRun update;
  update.ID = first;
  update.StartTime = 42700.25;
  update.StopTime = 42700.5;
  update.Comments = "calm sea";
  log_->UpdateRun(update);
  auto runs = log_->GetTrialRuns(trial);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0]->name, "Run");
  EXPECT_EQ(runs[0]->StartTime, 42700.25);
  EXPECT_EQ(runs[0]->StopTime, 42700.5);
  EXPECT_EQ(runs[0]->Comments, "calm sea");
  EXPECT_EQ(runs[1]->StartTime, 0);  // null reads as 0
  log_->deleteRun(lower);
  EXPECT_EQ(log_->GetTrialRuns(trial).size(), 1u);
  EXPECT_EQ(Count("Runs"), 1);
}

TEST_F(RecordsTest, DeletingAVesselRemovesItsTrialsAndRunsButNotTheirSamples) {
  const int keep = AddVessel("Keep");
  const int keepTrial = AddTrial(keep, "K");
  AddRun(keepTrial, "K1");
  const int gone = AddVessel("Gone");
  for (int t = 0; t < 2; ++t) {
    const int trial = AddTrial(gone, "T" + std::to_string(t));
    for (int r = 0; r < 3; ++r) {
      TMeassurement m(AddRun(trial, "R" + std::to_string(r)), 1);
      log_->AddMeassurement(m);
      const TDataValue p(42700, 1, false);
      log_->AddDataToDb(m, &p, nullptr, nullptr);
    }
  }
  log_->getTrials(gone);  // leaves the Trials filter on another vessel's trials
  log_->deleteVessel(gone);
  EXPECT_EQ(log_->getVessels()->Count(), 1u);
  EXPECT_EQ(log_->getTrials(keep)->Count(), 1u);
  EXPECT_EQ(log_->GetTrialRuns(keepTrial).size(), 1u);
  EXPECT_EQ(Count("Vessels") + Count("Trials") + Count("Runs"), 3);
  EXPECT_EQ(Count("Measurements"), 6);
  EXPECT_EQ(Count("Data"), 6);
}

// The dialogs delete what their last list showed; that list's filter stays
// in force across a delete, so a later delete outside it finds nothing.
TEST_F(RecordsTest, DeletesWorkOnTheTableAsTheListReadLeftIt) {
  const int a = AddVessel("A");
  const int b = AddVessel("B");
  const int ta1 = AddTrial(a, "A1");
  const int ta2 = AddTrial(a, "A2");
  const int tb = AddTrial(b, "B1");
  const int ra = AddRun(ta2, "RA");
  const int rb = AddRun(tb, "RB");
  ASSERT_EQ(log_->getTrials(a)->Count(), 2u);
  log_->deleteTrial(ta1);
  log_->deleteTrial(tb);  // not a trial of the listed vessel
  EXPECT_EQ(log_->GetTrialById(ta1), nullptr);
  EXPECT_NE(log_->GetTrialById(tb), nullptr);
  EXPECT_EQ(log_->GetTrialRuns(tb).size(), 1u);
  ASSERT_EQ(log_->GetTrialRuns(ta2).size(), 1u);
  log_->deleteRun(rb);  // not a run of the listed trial
  log_->deleteRun(ra);
  EXPECT_EQ(log_->getRunName(rb), "RB");
  EXPECT_EQ(log_->getRunName(ra), "");
  EXPECT_EQ(Count("Trials"), 2);
}

TEST_F(RecordsTest, MeasurementsInIdOrder) {
  TMeassurement a(5, 1), b(5, 2), other(6, 1);
  log_->AddMeassurement(a);
  log_->AddMeassurement(other);
  log_->AddMeassurement(b);
  EXPECT_GT(b.ID, a.ID);
  auto list = log_->GetMeassurements(5);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->ID, a.ID);
  EXPECT_EQ(list[0]->ShaftId, 1);
  EXPECT_EQ(list[1]->ShaftId, 2);
  EXPECT_EQ(list[1]->RunId, 5);
}

// ---------------------------------------------------------------------------
// Samples

class SamplesTest : public RecordsTest {
 protected:
  TRun Run(double start = 42700, double stop = 42700 + 1.0 / 24) {
    TRun r;
    r.ID = 1;
    r.StartTime = start;
    r.StopTime = stop;
    return r;
  }
  // "power/torque/speed" per stored Data row of m, "-" for null.
  std::vector<std::string> DataRows() {
    log_.reset();
    EngineFile file(LogPath());
    vez::TVEZTable& t = file.Table("Data");
    t.Open();
    std::vector<std::string> out;
    auto text = [](platform::Field& f) { return f.IsNull() ? std::string("-") : f.AsString(); };
    for (t.First(); !t.Eof(); t.Next())
      out.push_back(text(t.FieldByName("Power")) + "/" + text(t.FieldByName("Torque")) + "/" +
                    text(t.FieldByName("Speed")) + "/" + text(t.FieldByName("IsError")) + "/" +
                    t.FieldByName("Time").AsString());
    return out;
  }
};

TEST_F(SamplesTest, AbsentQuantitiesAreStoredAsNull) {
  TMeassurement m(1, 1);
  log_->AddMeassurement(m);
  const TDataValue p(42700.25, 8000, true);
  const TDataValue s(42700.5, 100, false);
  log_->AddDataToDb(m, &p, nullptr, &s);
  log_->AddDataToDb(m, nullptr, nullptr, nullptr);  // nothing written
  auto set = log_->GetDataSet(Run(), m, 0, {}, 5, 5);
  EXPECT_EQ(set->PowerData().Values().Count(), 1u);
  EXPECT_EQ(set->TorqueData().Values().Count(), 0u);
  EXPECT_EQ(set->SpeedData().Values().Count(), 1u);
  // The row takes the last present sample's time and the OR of the marks.
  EXPECT_EQ(set->SpeedData().LastValue()->Time(), 42700.5);
  EXPECT_TRUE(set->SpeedData().LastValue()->IsError());
  const auto rows = DataRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].substr(0, rows[0].find("/True") + 5), "8000/-/100/True");
}

TEST_F(SamplesTest, OldFilesZerosReadBackAsSamples) {
  TMeassurement m(1, 1);
  log_->AddMeassurement(m);
  // A row as older programs wrote it, through a second connection: Torque
  // 0 for an absent torque.
  EngineFile file(LogPath());
  vez::TVEZTable& data = file.Table("Data");
  data.Open();
  data.AppendRecord({Variant(), Variant::FromDouble(m.ID), Variant::FromDate(42700.1),
                     Variant::FromDouble(5), Variant::FromDouble(6), Variant::FromDouble(0),
                     Variant()});
  data.Close();
  auto set = log_->GetDataSet(Run(), m, 0, {}, 5, 5);
  ASSERT_EQ(set->TorqueData().Values().Count(), 1u);
  EXPECT_EQ(set->TorqueData().LastValue()->Value(), 0);
  EXPECT_FALSE(set->PowerData().LastValue()->IsError());  // null IsError reads false
}

// Random rows of three interleaved measurements, each quantity null at
// random, against a model: every present value comes back with its time,
// value and mark, and no row of a neighbouring measurement leaks in.
TEST_F(SamplesTest, ReadBackMatchesModelOfInterleavedMeasurements) {
  std::vector<TMeassurement> ms{TMeassurement(1, 1), TMeassurement(1, 2), TMeassurement(1, 3)};
  for (TMeassurement& m : ms)
    log_->AddMeassurement(m);
  struct Sample {
    double time, value;
    bool isError;
    bool operator==(const Sample&) const = default;
  };
  // [measurement][quantity: power, torque, speed]
  std::vector<std::vector<std::vector<Sample>>> model(ms.size(),
                                                      std::vector<std::vector<Sample>>(3));
  std::mt19937 rng(44);
  std::vector<int> rowsOf(ms.size(), 0);
  vez::TVEZDatabase& db = log_->Database();
  db.StartTransaction();
  for (int k = 0; k < 600; ++k) {
    const std::size_t which = rng() % ms.size();
    const double time = 42700 + (rowsOf[which]++) * 1e-5;
    const bool isError = rng() % 5 == 0;
    std::optional<TDataValue> v[3];
    for (int q = 0; q < 3; ++q)
      if (rng() % 3 != 0) v[q] = TDataValue(time, static_cast<double>(rng() % 100000) / 8, isError);
    const TDataValue* p[3] = {v[0] ? &*v[0] : nullptr, v[1] ? &*v[1] : nullptr,
                              v[2] ? &*v[2] : nullptr};
    log_->AddDataToDb(ms[which], p[0], p[1], p[2]);
    for (int q = 0; q < 3; ++q)
      if (v[q]) model[which][q].push_back({time, v[q]->Value(), isError});
  }
  db.Commit();
  auto samples = [](const TShaftData& d) {
    std::vector<Sample> out;
    for (const TDataValue* v : d.Values())
      out.push_back({v->Time(), v->Value(), v->IsError()});
    return out;
  };
  for (std::size_t i = 0; i < ms.size(); ++i) {
    SCOPED_TRACE("measurement " + std::to_string(ms[i].ID));
    auto set = log_->GetDataSet(Run(), ms[i], 0, {}, 5, 5);
    EXPECT_EQ(samples(set->PowerData()), model[i][0]);
    EXPECT_EQ(samples(set->TorqueData()), model[i][1]);
    EXPECT_EQ(samples(set->SpeedData()), model[i][2]);
  }
}

struct StepCase {
  const char* name;
  std::vector<double> rowOffsets;  // days after StartTime
  int steps;
};

void PrintTo(const StepCase& c, std::ostream* os) {
  *os << c.name;
}

class StepTest : public SamplesTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(StepTest, ProgressStepsExactlyStepsTimes) {
  const StepCase& c = GetParam();
  TMeassurement m(1, 1);
  log_->AddMeassurement(m);
  const double start = 42700;
  for (double off : c.rowOffsets) {
    const TDataValue p(start + off, 1, false);
    log_->AddDataToDb(m, &p, nullptr, nullptr);
  }
  int steps = 0;
  TRun run = Run(start, start + 1);
  auto set = log_->GetDataSet(
      run, m, c.steps, [&] { ++steps; }, 5, 5);
  EXPECT_EQ(steps, c.steps);
  EXPECT_EQ(set->PowerData().Values().Count(), c.rowOffsets.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, StepTest,
                         ::testing::Values(StepCase{"Empty", {}, 100},
                                           StepCase{"AtOrBeforeStart", {-0.1, 0}, 10},
                                           StepCase{"Later", {0.05, 0.5, 0.9}, 10},
                                           StepCase{"ManyRows", std::vector<double>(50, 0.7), 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SamplesTest, SamplesAfterDeletedRowsComeBackInRecordingOrder) {
  // Fill a page with one measurement, delete it, then record another one:
  // its rows go into the freed space, ahead of the older rows of a third
  // measurement in stored order, but the read-back keeps recording order.
  TMeassurement old(1, 1), kept(1, 2), fresh(2, 1);
  log_->AddMeassurement(old);
  log_->AddMeassurement(kept);
  log_->AddMeassurement(fresh);
  vez::TVEZDatabase& db = log_->Database();
  db.Open();
  db.StartTransaction();
  for (int i = 0; i < 400; ++i) {
    const TDataValue p(42700 + i * 1e-5, i, false);
    log_->AddDataToDb(old, &p, nullptr, nullptr);
  }
  for (int i = 0; i < 50; ++i) {
    const TDataValue p(42700 + i * 1e-5, 1000 + i, false);
    log_->AddDataToDb(kept, &p, nullptr, nullptr);
  }
  db.Commit();
  log_->DeleteMeassurementData(old.ID);
  // Fresh samples, two at one time stamp each (a reading split in two).
  std::vector<double> expected;
  for (int i = 0; i < 60; ++i) {
    const TDataValue p(42701 + (i / 2) * 1e-5, i, false);
    log_->AddDataToDb(fresh, &p, nullptr, nullptr);
    expected.push_back(i);
  }
  // Later samples of the kept measurement land in the freed space too.
  for (int i = 50; i < 60; ++i) {
    const TDataValue p(42700 + i * 1e-5, 1000 + i, false);
    log_->AddDataToDb(kept, &p, nullptr, nullptr);
  }
  auto values = [](const TShaftDataSet& set) {
    std::vector<double> out;
    for (std::size_t i = 0; i < set.PowerData().Values().Count(); ++i)
      out.push_back(set.PowerData().Values()[i]->Value());
    return out;
  };
  EXPECT_EQ(values(*log_->GetDataSet(Run(), fresh, 0, {}, 5, 5)), expected);
  std::vector<double> keptExpected;
  for (int i = 0; i < 60; ++i)
    keptExpected.push_back(1000 + i);
  EXPECT_EQ(values(*log_->GetDataSet(Run(), kept, 0, {}, 5, 5)), keptExpected);
  EXPECT_TRUE(values(*log_->GetDataSet(Run(), old, 0, {}, 5, 5)).empty());
  // Stored order really differs from recording order here.
  log_.reset();
  EngineFile file(LogPath());
  vez::TVEZTable& t = file.Table("Data");
  t.Open();
  std::vector<double> keptStored;
  for (t.First(); !t.Eof(); t.Next())
    if (t.FieldByName("MeasurementID").AsInteger() == kept.ID)
      keptStored.push_back(t.FieldByName("Power").AsFloat());
  EXPECT_NE(keptStored, keptExpected) << "later rows should have taken freed space";
}

}  // namespace
}  // namespace rvx::test
