#include "app/acquisition/StatisticalShaftData.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <optional>

#include "app/util/NormalDistribution.h"

namespace rvx {

TChauvenetCriterion::TChauvenetCriterion(double N) : twice_n_(2 * N) {
  // Bisection between a passing and a failing z until they are neighbours.
  double pass = 0;
  double fail = 64;  // the upper tail is 0 in single precision long before
  assert(PassesByRule(pass, N) && !PassesByRule(fail, N));
  while (true) {
    const double mid = pass + (fail - pass) / 2;
    if (mid <= pass || mid >= fail) break;
    (PassesByRule(mid, N) ? pass : fail) = mid;
  }
  bound_ = pass;
  // Rounding in the rule's steps could only blur the decision within a few
  // units of the last place of the bound; a much wider margin costs nothing.
  near_low_ = bound_ * (1 - 1e-9);
  near_high_ = bound_ * (1 + 1e-9);
}

bool TChauvenetCriterion::PassesByRule(double z, double N) {
  return 2 * N * NormalUpperTail(0, 1, z) >= 0.5;
}

bool TChauvenetCriterion::Passes(double z) const {
  if (z < near_low_) return true;
  if (z > near_high_) return false;
  // Not a number (a sample that is not one) never passes, as by the rule.
  return PassesByRule(z, twice_n_ / 2);
}

TStatisticalShaftData::TStatisticalShaftData(TDataValueEntries aRawValues)
    : FRawValues(aRawValues), FEntryCount(aRawValues.Count()) {
  const std::vector<TDataValue>& entries = *FRawValues.entries_;
  FRawGoodValuesArray.reserve(FEntryCount);
  for (std::size_t i = 0; i < FEntryCount; ++i) {
    const TDataValue& v = entries[i];
    if (v.FIsAbsent) continue;
    if (v.FIsError)
      ++FErrorCount;
    else
      FRawGoodValuesArray.push_back(v.FValue);
  }
  FRaw = ComputeFigures(FRawGoodValuesArray);
  ApplyChauvenetFilter();
}

TStatisticalShaftData::TFigures TStatisticalShaftData::ComputeFigures(
    const std::vector<double>& values) {
  TFigures f;
  const std::size_t n = values.size();
  if (n == 0) return f;
  long double sum = 0;
  double lo = values[0];
  double hi = values[0];
  for (double v : values) {
    sum += v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  f.Min = lo;
  f.Max = hi;
  // Rounding must not move the mean outside the values, and equal values
  // have exactly their value as mean and no spread at all.
  const long double mean = std::clamp(sum / static_cast<long double>(n),
                                      static_cast<long double>(lo), static_cast<long double>(hi));
  f.Average = lo == hi ? lo : static_cast<double>(mean);
  if (n < 2 || lo == hi) return f;
  // Second pass over the deviations; the first-order term corrects what
  // rounding left in the mean.
  long double s1 = 0;
  long double s2 = 0;
  for (double v : values) {
    const long double d = v - mean;
    s1 += d;
    s2 += d * d;
  }
  const long double nn = static_cast<long double>(n);
  const long double variance = std::max((s2 - s1 * s1 / nn) / (nn - 1), 0.0L);
  f.StdDev = static_cast<double>(std::sqrt(variance));
  return f;
}

void TStatisticalShaftData::ApplyChauvenetFilter() {
  FGoodValues.clear();
  FOutlierValues.clear();
  FGoodValuesArray.clear();
  const std::vector<TDataValue>& entries = *FRawValues.entries_;
  const double mean = FRaw.Average;
  const double sd = FRaw.StdDev;
  const double n = static_cast<double>(FRawGoodValuesArray.size());
  // With no spread every sample passes; without samples there is no bound.
  std::optional<TChauvenetCriterion> criterion;
  if (sd != 0 && n >= 1) criterion.emplace(n);
  FGoodValues.reserve(FRawGoodValuesArray.size());
  FGoodValuesArray.reserve(FRawGoodValuesArray.size());
  for (std::size_t i = 0; i < FEntryCount; ++i) {
    const TDataValue& v = entries[i];
    if (v.FIsAbsent || v.FIsError) continue;
    const bool passes = !criterion || criterion->Passes(std::fabs(v.FValue - mean) / sd);
    // Entry indexes fit: a list holds at most 2^32 entries.
    const auto index = static_cast<std::uint32_t>(i);
    if (passes) {
      FGoodValues.push_back(index);
      FGoodValuesArray.push_back(v.FValue);
    } else {
      FOutlierValues.push_back(index);
    }
  }
  FFiltered = ComputeFigures(FGoodValuesArray);
}

}  // namespace rvx
