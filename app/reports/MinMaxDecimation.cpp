#include "app/reports/MinMaxDecimation.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rvx {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// The four kept samples of one column, by their place in the series.
struct TColumn {
  std::uint32_t first = kNone;
  std::uint32_t last = kNone;
  std::uint32_t low = kNone;
  std::uint32_t high = kNone;
  double low_value = 0;
  double high_value = 0;
};

// The column of t, with scale = columns / (x1 - x0).
int ColumnAt(double t, double x0, double scale, int columns) {
  const double c = std::floor((t - x0) * scale);
  if (!(c >= 0)) return 0;  // NaN as well
  if (c >= columns) return columns - 1;
  return static_cast<int>(c);
}

}  // namespace

int ColumnOfTime(double t, double x0, double x1, int columns) {
  if (columns <= 0 || !(x1 > x0)) return 0;
  return ColumnAt(t, x0, columns / (x1 - x0), columns);
}

std::vector<TColumnPoint> DecimateMinMax(TDataValueList values, double factor, double x0, double x1,
                                         int columns) {
  std::vector<TColumnPoint> points;
  const std::size_t n = values.Count();
  if (n == 0 || columns <= 0) return points;
  std::vector<TColumn> cols(static_cast<std::size_t>(columns));
  const bool spread = x1 > x0;
  const double scale = spread ? columns / (x1 - x0) : 0;
  for (std::size_t i = 0; i < n; ++i) {
    const TDataValue& v = values[i];
    const int c = spread ? ColumnAt(v.Time(), x0, scale, columns) : 0;
    TColumn& col = cols[static_cast<std::size_t>(c)];
    const double y = v.Value() * factor;
    const auto index = static_cast<std::uint32_t>(i);
    if (col.first == kNone) {
      col.first = col.low = col.high = index;
      col.low_value = col.high_value = y;
    } else if (y < col.low_value) {
      col.low = index;
      col.low_value = y;
    } else if (y > col.high_value) {
      col.high = index;
      col.high_value = y;
    }
    col.last = index;
  }
  points.reserve(static_cast<std::size_t>(columns) * 2);
  for (int c = 0; c < columns; ++c) {
    const TColumn& col = cols[static_cast<std::size_t>(c)];
    if (col.first == kNone) continue;
    std::uint32_t kept[4] = {col.first, col.low, col.high, col.last};
    std::sort(std::begin(kept), std::end(kept));
    const std::uint32_t* end = std::unique(std::begin(kept), std::end(kept));
    for (const std::uint32_t* k = kept; k != end; ++k)
      points.push_back({c, values[*k].Value() * factor, *k});
  }
  return points;
}

}  // namespace rvx
