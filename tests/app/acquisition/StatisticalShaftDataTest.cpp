#include "app/acquisition/StatisticalShaftData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "app/acquisition/ShaftData.h"
#include "app/util/NormalDistribution.h"

namespace rvx {
namespace {

TDateTime At(int second) {
  return 40000.0 + second / 86400.0;
}

void AddValues(TShaftData& data, const std::vector<double>& values, bool flagged = false) {
  for (double v : values)
    data.Add(TDataValue(At(static_cast<int>(data.Values().Count())), v, flagged));
}

std::vector<double> ValuesOf(const TDataValueList& list) {
  std::vector<double> out;
  for (const TDataValue& v : list)
    out.push_back(v.Value());
  return out;
}

void ExpectNoNaN(const TStatisticalShaftData& s) {
  for (double f :
       {s.AverageValue(), s.StdDevValue(), s.MinValue(), s.MaxValue(), s.FilteredAverageValue(),
        s.FilteredStdDevValue(), s.FilteredMinValue(), s.FilteredMaxValue()})
    EXPECT_FALSE(std::isnan(f));
}

TEST(StatisticalShaftDataTest, ConstantSamplesAreAllKept) {
  TShaftData data(5, 5);
  AddValues(data, {10, 10, 10, 10});
  const TStatisticalShaftData& s = data.StatisticalShaftData();
  EXPECT_EQ(s.StdDevValue(), 0);
  EXPECT_EQ(s.GoodValues().Count(), 4u);
  EXPECT_EQ(s.OutlierValues().Count(), 0u);
  EXPECT_EQ(s.FilteredAverageValue(), 10);
  EXPECT_EQ(s.FilteredStdDevValue(), 0);
}

TEST(StatisticalShaftDataTest, OneFarSampleIsAnOutlier) {
  TShaftData data(5, 5);
  AddValues(data, std::vector<double>(10, 100));
  AddValues(data, {1000});
  AddValues(data, std::vector<double>(10, 100));
  const TStatisticalShaftData& s = data.StatisticalShaftData();
  EXPECT_NEAR(s.AverageValue(), 3000.0 / 21, 1e-9);
  EXPECT_NEAR(s.StdDevValue(), 196.396, 0.001);
  EXPECT_EQ(s.MinValue(), 100);
  EXPECT_EQ(s.MaxValue(), 1000);
  // z about 4.36 for 1000: 42 x Q(z) far below 0.5; about 0.22 for 100.
  ASSERT_EQ(s.OutlierValues().Count(), 1u);
  EXPECT_EQ(s.OutlierValues()[0].Value(), 1000);
  EXPECT_EQ(s.OutlierValues().EntryIndex(0), 10u);
  EXPECT_EQ(s.GoodValues().Count(), 20u);
  EXPECT_EQ(s.FilteredAverageValue(), 100);
  EXPECT_EQ(s.FilteredStdDevValue(), 0);
  EXPECT_EQ(s.FilteredMinValue(), 100);
  EXPECT_EQ(s.FilteredMaxValue(), 100);
  EXPECT_EQ(s.GoodValuesArray(), std::vector<double>(20, 100));
}

TEST(StatisticalShaftDataTest, TwoSamplesAreBothKept) {
  TShaftData data(5, 5);
  AddValues(data, {1, 3});
  const TStatisticalShaftData& s = data.StatisticalShaftData();
  EXPECT_EQ(s.AverageValue(), 2);
  EXPECT_NEAR(s.StdDevValue(), std::sqrt(2.0), 1e-15);
  EXPECT_NEAR(NormalUpperTail(0, 1, 1 / std::sqrt(2.0)), 0.2398, 1e-4);
  EXPECT_EQ(ValuesOf(s.GoodValues()), (std::vector<double>{1, 3}));
  EXPECT_EQ(s.OutlierValues().Count(), 0u);
}

TEST(StatisticalShaftDataTest, FlaggedSamplesAreSetAside) {
  TShaftData data(5, 5);
  AddValues(data, {500}, true);
  AddValues(data, {4, 8});
  AddValues(data, {-900, 7000}, true);
  const TStatisticalShaftData& s = data.StatisticalShaftData();
  EXPECT_EQ(s.ErrorCount(), 3u);
  EXPECT_EQ(s.SampleCount(), 5u);
  EXPECT_EQ(s.AverageValue(), 6);
  EXPECT_EQ(s.MinValue(), 4);
  EXPECT_EQ(s.MaxValue(), 8);
  EXPECT_EQ(s.RawGoodValuesArray(), (std::vector<double>{4, 8}));
  // Flagged samples are neither kept nor outliers.
  EXPECT_EQ(ValuesOf(s.GoodValues()), (std::vector<double>{4, 8}));
  EXPECT_EQ(s.OutlierValues().Count(), 0u);
}

TEST(StatisticalShaftDataTest, NoSamplesGiveZeros) {
  TShaftData empty(5, 5);
  TShaftData flagged_only(5, 5);
  AddValues(flagged_only, {1, 2}, true);
  flagged_only.Add(std::nullopt);  // an absent entry is no sample at all
  for (TShaftData* data : {&empty, &flagged_only}) {
    const TStatisticalShaftData& s = data->StatisticalShaftData();
    for (double f :
         {s.AverageValue(), s.StdDevValue(), s.MinValue(), s.MaxValue(), s.FilteredAverageValue(),
          s.FilteredStdDevValue(), s.FilteredMinValue(), s.FilteredMaxValue()})
      EXPECT_EQ(f, 0);
    EXPECT_EQ(s.GoodValues().Count(), 0u);
    EXPECT_EQ(s.OutlierValues().Count(), 0u);
  }
  EXPECT_EQ(flagged_only.StatisticalShaftData().ErrorCount(), 2u);
  EXPECT_EQ(flagged_only.StatisticalShaftData().SampleCount(), 3u);
}

TEST(StatisticalShaftDataTest, StatisticsKeepDescribingTheSamplesTheySaw) {
  TShaftData data(5, 5);
  std::vector<double> first;
  for (int i = 0; i < 100; ++i)
    first.push_back(i % 10);
  AddValues(data, first);
  AddValues(data, {3}, true);
  TStatisticalShaftData& s = data.StatisticalShaftData();
  const double mean = s.AverageValue();
  const double sd = s.StdDevValue();
  AddValues(data, std::vector<double>(49, 5000));
  AddValues(data, {1}, true);
  EXPECT_EQ(&data.StatisticalShaftData(), &s);  // built once
  EXPECT_EQ(s.AverageValue(), mean);
  EXPECT_EQ(s.StdDevValue(), sd);
  EXPECT_EQ(s.MaxValue(), 9);
  EXPECT_EQ(s.ErrorCount(), 1u);
  EXPECT_EQ(s.GoodValues().Count(), 100u);
  EXPECT_EQ(s.RawGoodValuesArray(), first);
  // Only the sample count follows the list.
  EXPECT_EQ(s.SampleCount(), 151u);
}

// What the one-pass formula gives, to show the data below does hit it.
long double OnePassVariance(const std::vector<double>& values) {
  long double sum = 0, squares = 0;
  for (double v : values) {
    sum += v;
    squares += static_cast<long double>(v) * v;
  }
  const long double n = values.size();
  return (squares - sum * sum / n) / (n - 1);
}

// A value that binary floating point cannot hold, repeated: the one-pass
// variance goes negative, and its square root, NaN, would reject every sample.
TEST(StatisticalShaftDataTest, ConstantInexactDataHasNoSpread) {
  const std::vector<double> values(1000000, 8000.1);
  ASSERT_LT(OnePassVariance(values), 0);
  TShaftData data(5, 5);
  data.Reserve(values.size());
  AddValues(data, values);
  const TStatisticalShaftData& s = data.StatisticalShaftData();
  EXPECT_EQ(s.StdDevValue(), 0);
  EXPECT_EQ(s.AverageValue(), 8000.1);
  EXPECT_EQ(s.GoodValues().Count(), values.size());
  EXPECT_EQ(s.OutlierValues().Count(), 0u);
  EXPECT_EQ(s.FilteredStdDevValue(), 0);
  EXPECT_EQ(s.FilteredAverageValue(), 8000.1);
  ExpectNoNaN(s);
}

TEST(StatisticalShaftDataTest, OneGoodSampleHasNoSpreadAndIsKept) {
  TShaftData data(5, 5);
  AddValues(data, {1, 2}, true);
  AddValues(data, {8123.4});
  const TStatisticalShaftData& s = data.StatisticalShaftData();
  EXPECT_EQ(s.AverageValue(), 8123.4);
  EXPECT_EQ(s.StdDevValue(), 0);
  EXPECT_EQ(s.MinValue(), 8123.4);
  EXPECT_EQ(s.MaxValue(), 8123.4);
  EXPECT_EQ(s.GoodValues().Count(), 1u);
  EXPECT_EQ(s.FilteredAverageValue(), 8123.4);
  ExpectNoNaN(s);
}

// The figures against a plain two-pass computation in extended precision, on
// data far from zero with little spread (where one pass loses every digit).
TEST(StatisticalShaftDataTest, FiguresMatchAPlainTwoPassComputation) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 20; ++round) {
    const double base = std::uniform_real_distribution<double>(-1e4, 1e4)(random);
    const double spread = std::pow(10.0, std::uniform_int_distribution<int>(-6, 3)(random));
    const std::size_t n = std::uniform_int_distribution<std::size_t>(2, 5000)(random);
    std::vector<double> values;
    for (std::size_t i = 0; i < n; ++i)
      values.push_back(base + spread * std::normal_distribution<double>()(random));
    SCOPED_TRACE("base " + std::to_string(base) + " spread " + std::to_string(spread));

    long double sum = 0;
    for (double v : values)
      sum += v;
    const long double mean = sum / n;
    long double squares = 0;
    for (double v : values)
      squares += (v - mean) * (v - mean);
    const double sd = std::sqrt(static_cast<double>(squares / (n - 1)));

    const TStatisticalShaftData::TFigures f = TStatisticalShaftData::ComputeFigures(values);
    EXPECT_NEAR(f.Average, static_cast<double>(mean), std::fabs(base) * 1e-15 + 1e-12);
    EXPECT_NEAR(f.StdDev, sd, sd * 1e-9);
    EXPECT_EQ(f.Min, *std::min_element(values.begin(), values.end()));
    EXPECT_EQ(f.Max, *std::max_element(values.begin(), values.end()));
  }
}

// The filter against its rule written out sample by sample, on data with a
// few planted outliers.
TEST(StatisticalShaftDataTest, FilterFollowsTheCriterion) {
  std::mt19937_64 random(11);
  TShaftData data(5, 5);
  std::vector<bool> flagged;
  for (int i = 0; i < 20000; ++i) {
    double v = 8000 + 50 * std::normal_distribution<double>()(random);
    if (i % 997 == 0) v += 600;  // far out
    const bool flag = i % 101 == 0;
    data.Add(TDataValue(At(i), v, flag));
    flagged.push_back(flag);
  }
  const TStatisticalShaftData& s = data.StatisticalShaftData();
  const double twice_n = 2.0 * s.RawGoodValuesArray().size();
  std::vector<std::uint32_t> kept, rejected;
  for (std::uint32_t i = 0; i < flagged.size(); ++i) {
    if (flagged[i]) continue;
    const double z = std::fabs(data.Values()[i]->Value() - s.AverageValue()) / s.StdDevValue();
    (twice_n * NormalUpperTail(0, 1, z) >= 0.5 ? kept : rejected).push_back(i);
  }
  ASSERT_GE(rejected.size(), 20u);
  ASSERT_EQ(s.GoodValues().Count(), kept.size());
  ASSERT_EQ(s.OutlierValues().Count(), rejected.size());
  for (std::size_t i = 0; i < kept.size(); ++i)
    ASSERT_EQ(s.GoodValues().EntryIndex(i), kept[i]);
  for (std::size_t i = 0; i < rejected.size(); ++i)
    ASSERT_EQ(s.OutlierValues().EntryIndex(i), rejected[i]);
  EXPECT_LT(s.FilteredStdDevValue(), s.StdDevValue());
}

// The bound decides as the rule does, right at it and anywhere else.
TEST(StatisticalShaftDataTest, CriterionDecidesAsTheRule) {
  std::mt19937_64 random(3);
  for (double n : {1.0, 2.0, 3.0, 10.0, 21.0, 100.0, 1000.0, 123457.0, 900000.0, 4e6}) {
    SCOPED_TRACE(n);
    const TChauvenetCriterion criterion(n);
    const double bound = criterion.Bound();
    EXPECT_TRUE(TChauvenetCriterion::PassesByRule(bound, n));
    EXPECT_FALSE(TChauvenetCriterion::PassesByRule(std::nextafter(bound, 100.0), n));
    std::vector<double> zs{0, 64, 1e300, bound};
    double up = bound, down = bound;
    for (int i = 0; i < 200; ++i) {
      zs.push_back(up = std::nextafter(up, 100.0));
      zs.push_back(down = std::nextafter(down, 0.0));
    }
    for (double rel : {1e-12, 1e-10, 1e-9, 1.1e-9, 1e-8, 1e-6, 1e-3})
      for (double sign : {-1.0, 1.0})
        zs.push_back(bound * (1 + sign * rel));
    for (int i = 0; i < 2000; ++i)
      zs.push_back(std::uniform_real_distribution<double>(0, 8)(random));
    for (double z : zs)
      ASSERT_EQ(criterion.Passes(z), TChauvenetCriterion::PassesByRule(z, n)) << z;
    EXPECT_FALSE(criterion.Passes(std::nan("")));
  }
  // Two samples can never be told apart (both lie 0.7071 deviations out).
  EXPECT_GT(TChauvenetCriterion(2).Bound(), 1 / std::sqrt(2.0));
}

}  // namespace
}  // namespace rvx
