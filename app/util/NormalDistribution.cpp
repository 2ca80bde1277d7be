#include "app/util/NormalDistribution.h"

#include <cmath>

#include "platform/core/Exceptions.h"

namespace rvx {

long double NormalPdf(long double x) {
  // Divided by sqrt(2 pi), not multiplied by its reciprocal: the two differ
  // in the last place for many x.
  static const long double kSqrt2Pi = std::sqrt(2 * 3.141592653589793238462643383279502884L);
  return std::exp(-x * x / 2) / kSqrt2Pi;
}

float StdNormalCdf(long double x) {
  if (x < 0) throw platform::EMathError("Value must be Non-Negative");
  constexpr long double b1 = 0.31938153L;
  constexpr long double b2 = -0.356563782L;
  constexpr long double b3 = 1.781477937L;
  constexpr long double b4 = -1.821255978L;
  constexpr long double b5 = 1.330274429L;
  const long double t = 1 / (1 + 0.2316419L * x);
  const long double poly = t * (b1 + t * (b2 + t * (b3 + t * (b4 + t * b5))));
  return static_cast<float>(1 - NormalPdf(x) * poly);
}

float NormalCdf(double mean, double sd, double x) {
  const double z = (x - mean) / sd;
  if (z >= 0) return StdNormalCdf(z);
  return static_cast<float>(1.0 - StdNormalCdf((mean - x) / sd));
}

float NormalUpperTail(double mean, double sd, double x) {
  return static_cast<float>(1.0 - NormalCdf(mean, sd, x));
}

}  // namespace rvx
