// TStatisticalShaftData: the run statistics of the samples of one quantity
// of one shaft, as every report figure of a run shows them. The flagged
// samples are set aside (counted as errors); the mean, standard deviation,
// minimum and maximum of the rest are computed; then Chauvenet's criterion,
// in one pass with that mean and standard deviation, rejects outliers, and the
// same four figures are computed over the samples it keeps.
//
// The figures are computed once, when the object is made, and describe the
// samples the list held then; only SampleCount follows the list. An empty
// set of samples gives 0 for every figure.
//
// Standard deviation: the sample standard deviation (divisor n - 1),
// computed in two passes in extended precision and never below 0; it is 0
// for fewer than two samples and exactly 0 when all samples are equal, so
// constant data keeps every sample and nothing reads as NaN.
//
// The object borrows the sample list (a TShaftData's Values); the list must
// outlive it. GoodValues and OutlierValues select samples of that list.
//
// Thread safety: a plain object used from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/acquisition/DataValue.h"

namespace rvx {

// Chauvenet's criterion for N samples: a sample z standard deviations from
// the mean passes when 2N x NormalUpperTail(0, 1, z) >= 0.5. The decision
// falls as z grows, so it is taken once, at the bound, and each sample is
// only compared with the bound; samples next to it are decided by the full
// rule, so every decision is the one the rule gives.
class TChauvenetCriterion {
 public:
  // REQUIRES: N >= 1.
  explicit TChauvenetCriterion(double N);
  bool Passes(double z) const;
  // The rule itself, one sample at a time.
  static bool PassesByRule(double z, double N);
  // The largest z found to pass.
  double Bound() const { return bound_; }

 private:
  double twice_n_;
  double bound_;
  // Decided by the rule between these.
  double near_low_;
  double near_high_;
};

class TStatisticalShaftData {
 public:
  // The mean, standard deviation, minimum and maximum of some values.
  struct TFigures {
    double Average = 0;
    double StdDev = 0;
    double Min = 0;
    double Max = 0;
  };

  explicit TStatisticalShaftData(TDataValueEntries aRawValues);
  TStatisticalShaftData(const TStatisticalShaftData&) = delete;
  TStatisticalShaftData& operator=(const TStatisticalShaftData&) = delete;

  // Over the samples not flagged as errors.
  double AverageValue() const { return FRaw.Average; }
  double StdDevValue() const { return FRaw.StdDev; }
  double MinValue() const { return FRaw.Min; }
  double MaxValue() const { return FRaw.Max; }
  // Over the samples the filter kept.
  double FilteredAverageValue() const { return FFiltered.Average; }
  double FilteredStdDevValue() const { return FFiltered.StdDev; }
  double FilteredMinValue() const { return FFiltered.Min; }
  double FilteredMaxValue() const { return FFiltered.Max; }
  // Samples flagged as errors.
  std::size_t ErrorCount() const { return FErrorCount; }
  // The current number of entries of the list, flagged ones included.
  std::size_t SampleCount() const { return FRawValues.Count(); }
  // The samples the filter kept and those it rejected, in list order.
  // Flagged samples are in neither.
  TDataValueList GoodValues() const { return TDataValueList(*FRawValues.entries_, FGoodValues); }
  TDataValueList OutlierValues() const {
    return TDataValueList(*FRawValues.entries_, FOutlierValues);
  }
  // The values of the unflagged and of the kept samples, in list order.
  const std::vector<double>& RawGoodValuesArray() const { return FRawGoodValuesArray; }
  const std::vector<double>& GoodValuesArray() const { return FGoodValuesArray; }

  // The plain statistics of values (see above).
  static TFigures ComputeFigures(const std::vector<double>& values);

 private:
  // Chauvenet's criterion over the unflagged samples: a sample at z standard
  // deviations from the mean passes when 2N x P(Z > z) >= 0.5; with a
  // standard deviation of 0 every sample passes.
  void ApplyChauvenetFilter();

  TDataValueEntries FRawValues;
  // Entries of the list the figures describe.
  std::size_t FEntryCount;
  std::vector<double> FRawGoodValuesArray;
  std::size_t FErrorCount = 0;
  std::vector<double> FGoodValuesArray;
  std::vector<std::uint32_t> FGoodValues;
  std::vector<std::uint32_t> FOutlierValues;
  TFigures FRaw;
  TFigures FFiltered;
};

}  // namespace rvx
