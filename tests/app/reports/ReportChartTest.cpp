// The chart's arithmetic: the reduction of a series to its pixel columns,
// against a brute-force oracle, and the labels of a value axis.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "app/acquisition/ShaftData.h"
#include "app/reports/MinMaxDecimation.h"
#include "app/reports/ReportChart.h"

namespace rvx {
namespace {

// What a column of the full series shows.
struct OracleColumn {
  std::uint32_t first, last;
  double low, high;
};

void CheckAgainstOracle(const TDataValueList& values, double factor, double x0, double x1,
                        int columns) {
  std::map<int, OracleColumn> oracle;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const int c = ColumnOfTime(values[i].Time(), x0, x1, columns);
    const double y = values[i].Value() * factor;
    auto [it, added] = oracle.try_emplace(c, OracleColumn{i, i, y, y});
    if (!added) {
      it->second.last = i;
      it->second.low = std::min(it->second.low, y);
      it->second.high = std::max(it->second.high, y);
    }
  }
  const std::vector<TColumnPoint> points = DecimateMinMax(values, factor, x0, x1, columns);
  std::map<int, std::vector<TColumnPoint>> kept;
  int last_column = -1;
  for (const TColumnPoint& p : points) {
    ASSERT_GE(p.Column, last_column) << "columns in increasing order";
    last_column = p.Column;
    ASSERT_EQ(ColumnOfTime(values[p.Index].Time(), x0, x1, columns), p.Column);
    ASSERT_EQ(p.Value, values[p.Index].Value() * factor);
    kept[p.Column].push_back(p);
  }
  ASSERT_EQ(kept.size(), oracle.size());
  for (const auto& [c, o] : oracle) {
    SCOPED_TRACE(c);
    const std::vector<TColumnPoint>& k = kept[c];
    ASSERT_LE(k.size(), 4u);
    for (std::size_t i = 1; i < k.size(); ++i)
      ASSERT_LT(k[i - 1].Index, k[i].Index);
    EXPECT_EQ(k.front().Index, o.first);
    EXPECT_EQ(k.back().Index, o.last);
    double low = k.front().Value, high = low;
    for (const TColumnPoint& p : k) {
      low = std::min(low, p.Value);
      high = std::max(high, p.Value);
    }
    EXPECT_EQ(low, o.low);
    EXPECT_EQ(high, o.high);
  }
}

TEST(MinMaxDecimationTest, KeepsWhatEveryColumnShows) {
  std::mt19937 random(3);
  std::normal_distribution<double> noise;
  std::uniform_int_distribution<int> count(0, 5000);
  std::uniform_int_distribution<int> width(1, 700);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    TShaftData data(5, 5);
    const int n = count(random);
    const bool shuffled = round % 4 == 3;  // times out of order
    for (int i = 0; i < n; ++i) {
      const double t = 45000 + (shuffled ? std::abs(noise(random)) : i) / 86400.0;
      data.Add(TDataValue(t, 8000 + 100 * noise(random), false));
    }
    const TStatisticalShaftData& stats = data.StatisticalShaftData();
    const double x0 = 45000, x1 = 45000 + std::max(1, n) / 86400.0;
    CheckAgainstOracle(stats.GoodValues(), 1.3596, x0, x1, width(random));
  }
}

TEST(MinMaxDecimationTest, EdgeCases) {
  TShaftData data(5, 5);
  for (int i = 0; i < 10; ++i)
    data.Add(TDataValue(45000, i % 3, false));
  const TDataValueList values = data.StatisticalShaftData().GoodValues();
  // No columns, or an empty time span: nothing, or one column holding the
  // first sample (also the lowest), the highest and the last.
  EXPECT_TRUE(DecimateMinMax(values, 1, 45000, 45001, 0).empty());
  const std::vector<TColumnPoint> one = DecimateMinMax(values, 1, 45000, 45000, 100);
  ASSERT_EQ(one.size(), 3u);
  EXPECT_EQ(one[0].Index, 0u);
  EXPECT_EQ(one[1].Index, 2u);
  EXPECT_EQ(one[2].Index, 9u);
  CheckAgainstOracle(values, 1, 45000, 45000, 100);
  // The right edge belongs to the last column; times outside are held in.
  EXPECT_EQ(ColumnOfTime(45001, 45000, 45001, 2150), 2149);
  EXPECT_EQ(ColumnOfTime(44999, 45000, 45001, 2150), 0);
  EXPECT_EQ(ColumnOfTime(45002, 45000, 45001, 2150), 2149);
  EXPECT_EQ(ColumnOfTime(45000.5, 45000, 45001, 2150), 1075);
}

TEST(ValueAxisLabelsTest, StepsEndOnTheAxisEndsWhenTheyCan) {
  struct Row {
    double minimum, maximum;
    int intervals;
    std::vector<double> labels;
    int decimals;
  };
  const Row rows[] = {
      {7100, 9100, 15, {7100, 7300, 7500, 7700, 7900, 8100, 8300, 8500, 8700, 8900, 9100}, 0},
      {0, 1600, 15, {0, 200, 400, 600, 800, 1000, 1200, 1400, 1600}, 0},
      {360,
       660,
       15,
       {360, 380, 400, 420, 440, 460, 480, 500, 520, 540, 560, 580, 600, 620, 640, 660},
       0},
      {80, 100, 4, {80, 85, 90, 95, 100}, 0},
      {0, 1, 4, {0, 0.25, 0.5, 0.75, 1}, 2},
      // No step divides 6.8: the multiples of the first that fits.
      {0.3, 7.1, 5, {2, 4, 6}, 0},
      // A minimum that the step's decimals cannot show: multiples instead.
      {84.08, 104.08, 10, {86, 88, 90, 92, 94, 96, 98, 100, 102, 104}, 0},
      {5, 5, 10, {5}, 0},
      {5, 4, 10, {5}, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.minimum << " .. " << r.maximum);
    const TValueAxisLabels labels = ValueAxisLabels(r.minimum, r.maximum, r.intervals);
    ASSERT_EQ(labels.Values.size(), r.labels.size());
    for (std::size_t i = 0; i < r.labels.size(); ++i)
      EXPECT_NEAR(labels.Values[i], r.labels[i], 1e-9);
    EXPECT_EQ(labels.Decimals, r.decimals);
    EXPECT_LE(static_cast<int>(labels.Values.size()), r.intervals + 1);
  }
}

}  // namespace
}  // namespace rvx
