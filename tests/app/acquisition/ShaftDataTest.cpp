#include "app/acquisition/ShaftData.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <vector>

#include "app/acquisition/DataSet.h"
#include "platform/core/Clock.h"

namespace rvx {
namespace {

// Sample times one second apart from a fixed day.
TDateTime At(int second) {
  return 40000.0 + second / 86400.0;
}

struct Entry {
  enum Kind { kGood, kFlagged, kAbsent } kind;
  double value;
};

void AddAll(TShaftData& data, const std::vector<Entry>& entries, int first_second = 0) {
  int second = first_second;
  for (const Entry& e : entries) {
    if (e.kind == Entry::kAbsent)
      data.Add(std::nullopt);
    else
      data.Add(TDataValue(At(second), e.value, e.kind == Entry::kFlagged));
    ++second;
  }
}

// One scenario of the moving average: the settings, the entries, and after
// each entry the expected average (nullopt: none).
struct AverageCase {
  const char* name;
  int window;
  int minimum;
  std::vector<Entry> entries;
  std::vector<std::optional<double>> averages;
};

TEST(ShaftDataTest, MovingAverageCases) {
  const Entry G10{Entry::kGood, 10}, G20{Entry::kGood, 20}, G30{Entry::kGood, 30},
      G40{Entry::kGood, 40}, G50{Entry::kGood, 50}, G60{Entry::kGood, 60}, F99{Entry::kFlagged, 99},
      A{Entry::kAbsent, 0};
  const std::nullopt_t no = std::nullopt;
  const AverageCase cases[] = {
      {"window 5, minimum 5", 5, 5, {G10, G20, G30, G40, G50, G60}, {no, no, no, no, 30, 40}},
      {"window 5, minimum 3, a flagged third", 5, 3, {G10, G20, F99, G40}, {no, no, no, 70.0 / 3}},
      {"one flagged sample stops five averages",
       5,
       5,
       {G10, G20, G30, G40, G50, F99, G10, G20, G30, G40, G50, G60},
       {no, no, no, no, 30, no, no, no, no, no, 30, 40}},
      {"an absent new entry gives no average", 5, 3, {G10, G20, G30, A, G40}, {no, no, 20, no, 25}},
      {"absent entries take their place in the window",
       3,
       2,
       {G10, A, A, G20, G30},
       {no, no, no, no, 25}},
      {"window 1", 1, 1, {G10, F99, G20}, {10, no, 20}},
      {"a minimum of 0 still needs one good sample", 2, 0, {F99, F99, G10}, {no, no, 10}},
      {"no window, no averages", 0, 0, {G10, G20}, {no, no}},
  };
  for (const AverageCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.entries.size(), c.averages.size());
    TShaftData data(c.window, c.minimum);
    std::size_t produced = 0;
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
      SCOPED_TRACE(i);
      AddAll(data, {c.entries[i]}, static_cast<int>(i));
      const TDataValue* avg = data.LastRunningAverageValue();
      ASSERT_EQ(avg != nullptr, c.averages[i].has_value());
      if (!avg) continue;
      ++produced;
      EXPECT_DOUBLE_EQ(avg->Value(), *c.averages[i]);
      EXPECT_EQ(avg->Time(), At(static_cast<int>(i)));  // the new entry's time
      EXPECT_FALSE(avg->IsError());
      EXPECT_EQ(avg->Ordinal(), i);
    }
    EXPECT_EQ(data.RunningAverageValues().size(), produced);
    EXPECT_EQ(data.Values().Count(), c.entries.size());
  }
}

TEST(ShaftDataTest, LastValueAndAbsentEntries) {
  TShaftData data(5, 5);
  EXPECT_FALSE(data.HasData());
  EXPECT_EQ(data.LastValue(), nullptr);
  data.Add(TDataValue(At(0), 12.5, true));
  ASSERT_NE(data.LastValue(), nullptr);
  EXPECT_EQ(data.LastValue()->Value(), 12.5);
  EXPECT_TRUE(data.LastValue()->IsError());
  data.Add(std::nullopt);
  EXPECT_EQ(data.LastValue(), nullptr);
  EXPECT_TRUE(data.HasData());

  // The entries as read: absent ones give nullptr, the rest number
  // themselves by entry index.
  const TDataValueEntries values = data.Values();
  ASSERT_EQ(values.Count(), 2u);
  EXPECT_NE(values[0], nullptr);
  EXPECT_EQ(values[1], nullptr);
  std::vector<const TDataValue*> walked(values.begin(), values.end());
  EXPECT_EQ(walked, (std::vector<const TDataValue*>{values[0], nullptr}));
  EXPECT_EQ(values[0]->Ordinal(), 0u);
  data.Add(TDataValue(At(2), 1, false));
  EXPECT_EQ(data.Values()[2]->Ordinal(), 2u);
}

TEST(ShaftDataTest, StoredSamplesKeepTheirRowOrdinal) {
  TShaftDataSet set(5, 1);
  // Row 0 has all three; row 1 lost its torque column; row 2 has all three.
  set.AddPower(At(0), 100, false, 0);
  set.AddTorque(At(0), 10, false, 0);
  set.AddSpeed(At(0), 50, false, 0);
  set.AddPower(At(1), 101, false, 1);
  set.AddSpeed(At(1), 51, false, 1);
  set.AddPower(At(2), 102, false, 2);
  set.AddTorque(At(2), 12, false, 2);
  set.AddSpeed(At(2), 52, false, 2);
  EXPECT_EQ(set.TorqueData().Values()[1]->Ordinal(), 2u);
  EXPECT_EQ(set.TorqueData().RunningAverageValues().back().Ordinal(), 2u);
  EXPECT_EQ(set.SpeedData().Values()[1]->Ordinal(), 1u);
  EXPECT_EQ(set.PowerData().Values()[1]->Value(), 101);
}

TEST(ShaftDataTest, DataSetCountsEveryFlaggedValue) {
  TShaftDataSet set(5, 5);
  EXPECT_EQ(set.PowerData().WindowSize(), 5);
  EXPECT_EQ(set.SpeedData().MinimumSamplesInWindow(), 5);
  // One good reading, then one whose three values are flagged.
  set.AddPower(At(0), 8000, false);
  set.AddTorque(At(0), 760, false);
  set.AddSpeed(At(0), 100, false);
  set.AddPower(At(1), 8000, true);
  set.AddTorque(At(1), 0, true);
  set.AddSpeed(At(1), 100, true);
  EXPECT_EQ(set.ErrorCount(), 3u);
  EXPECT_EQ(set.SampleCount(), 6u);
}

TEST(ShaftDataTest, ReadingTakesItsTimeFromTheClock) {
  platform::FakeClock clock;
  clock.SetNow(45000.25);
  platform::ScopedClock installed(clock);
  DataSet::TDataSet reading;
  EXPECT_EQ(reading.Time, 45000.25);
  EXPECT_FALSE(reading.Power.has_value());
  EXPECT_FALSE(reading.HasCheckSumError);
  EXPECT_EQ(reading.RawData, "");
}

// The moving average against a plain recomputation over the window, after
// each of 10^5 entries with random flags and absences and random settings.
TEST(ShaftDataTest, MovingAverageMatchesRecomputation) {
  std::mt19937_64 random(20240611);
  for (int round = 0; round < 4; ++round) {
    const int window = std::uniform_int_distribution<int>(1, 40)(random);
    const int minimum = std::uniform_int_distribution<int>(1, window)(random);
    SCOPED_TRACE("window " + std::to_string(window) + " minimum " + std::to_string(minimum));
    TShaftData data(window, minimum);
    struct Model {
      bool absent;
      bool flagged;
      double value;
    };
    std::vector<Model> model;
    std::size_t averages = 0;
    // Stretches of errors make the averages stop and start again.
    double error_rate = 0.1;
    for (int i = 0; i < 25000; ++i) {
      if (i % 500 == 0) error_rate = std::uniform_real_distribution<double>(0, 0.6)(random);
      const double roll = std::uniform_real_distribution<double>(0, 1)(random);
      Model m{roll < error_rate / 3, roll >= error_rate / 3 && roll < error_rate,
              std::uniform_real_distribution<double>(7000, 9000)(random)};
      model.push_back(m);
      if (m.absent)
        data.Add(std::nullopt);
      else
        data.Add(TDataValue(At(i), m.value, m.flagged));

      // Newest first over the last `window` entries, as the list sums.
      double sum = 0;
      int count = 0;
      for (int j = i; j >= 0 && j > i - window; --j)
        if (!model[j].absent && !model[j].flagged) {
          sum += model[j].value;
          ++count;
        }
      const bool expect_average = !m.absent && count >= minimum;
      const TDataValue* avg = data.LastRunningAverageValue();
      ASSERT_EQ(avg != nullptr, expect_average) << "entry " << i;
      if (avg) {
        ++averages;
        ASSERT_EQ(avg->Value(), sum / count) << "entry " << i;
        ASSERT_EQ(avg->Time(), At(i));
      }
    }
    EXPECT_EQ(data.RunningAverageValues().size(), averages);
  }
}

}  // namespace
}  // namespace rvx
