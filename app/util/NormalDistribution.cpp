#include "app/util/NormalDistribution.h"

#include <cmath>

#include "platform/core/Exceptions.h"

namespace rvx {

long double NormalPdf(long double x) {
  // 1 / sqrt(2 pi)
  constexpr long double kInvSqrt2Pi = 0.398942280401432677939946059934381868L;
  return std::exp(-x * x / 2) * kInvSqrt2Pi;
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
