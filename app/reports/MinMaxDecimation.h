// MinMaxDecimation: a long series of samples reduced to what a plot of a
// given width in pixels can show. Drawn as a line, the samples that fall
// into one pixel column only paint the span from their lowest to their
// highest value and connect to the neighbouring columns through their first
// and last sample; keeping those four per column (in sample order) paints
// the same picture as the whole series. A 25-hour run at 10 Hz (900,000
// samples) becomes about 8,600 points on a 300 dpi page.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <vector>

#include "app/acquisition/DataValue.h"

namespace rvx {

// One kept sample: its pixel column, its value (x factor) and its place in
// the series.
struct TColumnPoint {
  int Column;
  double Value;
  std::uint32_t Index;
};

// The pixel column of time t on a plot of `columns` columns spanning
// [x0, x1] (days): floor((t - x0) x columns / (x1 - x0)), held within
// 0 .. columns - 1 (x1 <= x0 puts every sample in column 0).
int ColumnOfTime(double t, double x0, double x1, int columns);

// The samples of values (times as x, value x factor as y) reduced to at
// most four per column: the first, lowest, highest and last sample of each
// column (fewer when they coincide), columns in increasing order, the kept
// samples of a column in series order. Empty for no samples or no columns.
std::vector<TColumnPoint> DecimateMinMax(TDataValueList values, double factor, double x0, double x1,
                                         int columns);

}  // namespace rvx
