#include "app/acquisition/StatisticalShaftData.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "app/util/NormalDistribution.h"

namespace rvx {

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
  const double twice_n = 2.0 * static_cast<double>(FRawGoodValuesArray.size());
  FGoodValues.reserve(FRawGoodValuesArray.size());
  FGoodValuesArray.reserve(FRawGoodValuesArray.size());
  for (std::size_t i = 0; i < FEntryCount; ++i) {
    const TDataValue& v = entries[i];
    if (v.FIsAbsent || v.FIsError) continue;
    double c = 1;
    if (sd != 0) {
      const double z = std::fabs(v.FValue - mean) / sd;
      c = twice_n * NormalUpperTail(0, 1, z);
    }
    // Entry indexes fit: a list holds at most 2^32 entries.
    const auto index = static_cast<std::uint32_t>(i);
    if (c >= 0.5) {
      FGoodValues.push_back(index);
      FGoodValuesArray.push_back(v.FValue);
    } else {
      FOutlierValues.push_back(index);
    }
  }
  FFiltered = ComputeFigures(FGoodValuesArray);
}

}  // namespace rvx
