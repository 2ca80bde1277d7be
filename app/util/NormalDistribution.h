// NormalDistribution: the normal-distribution routines behind the outlier
// filter of the run statistics. StdNormalCdf is the Abramowitz and Stegun
// approximation 26.2.17 (absolute error below 7.5E-8); the distribution
// functions give single-precision results, as the filter's decisions were
// always taken on them.
//
// Thread safety: pure functions.
#pragma once

namespace rvx {

// exp(-x^2 / 2) / sqrt(2 pi), in extended precision.
long double NormalPdf(long double x);
// The standard normal distribution function for x >= 0. Raises
// platform::EMathError "Value must be Non-Negative" for x < 0.
float StdNormalCdf(long double x);
// The normal distribution function with mean and standard deviation sd at
// x (sd > 0): z := (x - mean) / sd; StdNormalCdf(z) for z >= 0, else
// 1 - StdNormalCdf((mean - x) / sd).
float NormalCdf(double mean, double sd, double x);
// The probability of a value above x: 1 - NormalCdf(mean, sd, x).
float NormalUpperTail(double mean, double sd, double x);

}  // namespace rvx
