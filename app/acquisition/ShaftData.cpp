#include "app/acquisition/ShaftData.h"

#include <algorithm>

#include "platform/core/CheckedMath.h"

namespace rvx {

TShaftData::TShaftData(int WindowSize, int MinimumSamplesInWindow)
    : FWindowSize(WindowSize), FMinimumSamplesInWindow(MinimumSamplesInWindow) {}

TShaftData::~TShaftData() = default;

void TShaftData::Add(const std::optional<TDataValue>& aDataValue) {
  // An entry index must fit an ordinal; so does every later index.
  Add(aDataValue, platform::CheckedCast<std::uint32_t>(FValues.size()));
}

void TShaftData::Add(const std::optional<TDataValue>& aDataValue, std::uint32_t aOrdinal) {
  // Entry indexes of the statistics' selections are 32-bit.
  (void)platform::CheckedCast<std::uint32_t>(FValues.size());
  TDataValue entry = aDataValue.value_or(TDataValue(0, 0, false));
  entry.FIsAbsent = !aDataValue.has_value();
  entry.FOrdinal = aOrdinal;
  FValues.push_back(entry);
  FIsLastRunningAverageValueValid = false;
  if (entry.FIsAbsent || FWindowSize <= 0) return;

  const std::size_t window = static_cast<std::size_t>(FWindowSize);
  const std::size_t first = FValues.size() > window ? FValues.size() - window : 0;
  double sum = 0;
  int count = 0;
  for (std::size_t i = FValues.size(); i-- > first;) {
    const TDataValue& v = FValues[i];
    if (v.FIsAbsent || v.FIsError) continue;
    sum += v.FValue;
    ++count;
  }
  if (count < std::max(FMinimumSamplesInWindow, 1)) return;
  TDataValue average(entry.FTime, sum / count, false);
  average.FOrdinal = aOrdinal;
  FRunningAverageValues.push_back(average);
  FIsLastRunningAverageValueValid = true;
}

void TShaftData::Reserve(std::size_t count) {
  FValues.reserve(count);
  FRunningAverageValues.reserve(count);
}

const TDataValue* TShaftData::LastValue() const {
  if (FValues.empty() || FValues.back().FIsAbsent) return nullptr;
  return &FValues.back();
}

const TDataValue* TShaftData::LastRunningAverageValue() const {
  return FIsLastRunningAverageValueValid ? &FRunningAverageValues.back() : nullptr;
}

TStatisticalShaftData& TShaftData::StatisticalShaftData() {
  if (!FStatisticalShaftData)
    FStatisticalShaftData = std::make_unique<TStatisticalShaftData>(Values());
  return *FStatisticalShaftData;
}

TShaftDataSet::TShaftDataSet(int aDataWindowSize, int aMinimumDataSamplesInWindow)
    : FPowerData(aDataWindowSize, aMinimumDataSamplesInWindow),
      FTorqueData(aDataWindowSize, aMinimumDataSamplesInWindow),
      FSpeedData(aDataWindowSize, aMinimumDataSamplesInWindow) {}

void TShaftDataSet::AddPower(TDateTime aTime, double aValue, bool aIsError) {
  FPowerData.Add(TDataValue(aTime, aValue, aIsError));
}
void TShaftDataSet::AddTorque(TDateTime aTime, double aValue, bool aIsError) {
  FTorqueData.Add(TDataValue(aTime, aValue, aIsError));
}
void TShaftDataSet::AddSpeed(TDateTime aTime, double aValue, bool aIsError) {
  FSpeedData.Add(TDataValue(aTime, aValue, aIsError));
}
void TShaftDataSet::AddPower(TDateTime aTime, double aValue, bool aIsError,
                             std::uint32_t aOrdinal) {
  FPowerData.Add(TDataValue(aTime, aValue, aIsError), aOrdinal);
}
void TShaftDataSet::AddTorque(TDateTime aTime, double aValue, bool aIsError,
                              std::uint32_t aOrdinal) {
  FTorqueData.Add(TDataValue(aTime, aValue, aIsError), aOrdinal);
}
void TShaftDataSet::AddSpeed(TDateTime aTime, double aValue, bool aIsError,
                             std::uint32_t aOrdinal) {
  FSpeedData.Add(TDataValue(aTime, aValue, aIsError), aOrdinal);
}

std::size_t TShaftDataSet::ErrorCount() {
  return FPowerData.StatisticalShaftData().ErrorCount() +
         FTorqueData.StatisticalShaftData().ErrorCount() +
         FSpeedData.StatisticalShaftData().ErrorCount();
}

std::size_t TShaftDataSet::SampleCount() {
  return FPowerData.StatisticalShaftData().SampleCount() +
         FTorqueData.StatisticalShaftData().SampleCount() +
         FSpeedData.StatisticalShaftData().SampleCount();
}

}  // namespace rvx
