// TShaftData: the samples of one quantity of one shaft in arrival order, with
// their moving averages; TShaftDataSet: the power, torque and speed lists of
// one shaft together.
//
// Moving average (Add): the window is the last WindowSize entries, the new
// one included. Flagged and absent entries take their place in the window
// without adding to the average, so a run of errors stops the averages until
// enough good samples follow. When the window holds at least
// MinimumSamplesInWindow good samples (and at least one), their mean becomes
// a new average stamped with the new entry's time. An absent new entry has
// no time to stamp an average with and produces none. Add looks at no more
// than WindowSize entries, whatever the length of the list.
//
// The run statistics (StatisticalShaftData) are built at first use over the
// samples present then and kept: samples added later are not in them.
//
// Thread safety: plain objects used from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/acquisition/DataValue.h"
#include "app/acquisition/StatisticalShaftData.h"

namespace rvx {

class TShaftData {
 public:
  TShaftData(int WindowSize, int MinimumSamplesInWindow);
  TShaftData(const TShaftData&) = delete;
  TShaftData& operator=(const TShaftData&) = delete;
  ~TShaftData();

  // Appends a sample (std::nullopt: an absent entry) and updates the moving
  // average. The sample's ordinal becomes its entry index.
  void Add(const std::optional<TDataValue>& aDataValue);
  // As Add, with the ordinal given (a stored row's place in the read-back).
  void Add(const std::optional<TDataValue>& aDataValue, std::uint32_t aOrdinal);
  // Room for count entries, so a read-back grows the list once.
  void Reserve(std::size_t count);

  // The last entry; nullptr when the list is empty or the last entry is
  // absent.
  const TDataValue* LastValue() const;
  // The last average when the last Add produced one, else nullptr.
  const TDataValue* LastRunningAverageValue() const;
  TDataValueEntries Values() const { return TDataValueEntries(FValues); }
  // The averages produced so far, in order; each carries the ordinal of the
  // entry that produced it.
  const std::vector<TDataValue>& RunningAverageValues() const { return FRunningAverageValues; }
  // At least one entry, absent ones included.
  bool HasData() const { return !FValues.empty(); }
  // Built over the present samples at first use, then the same object.
  TStatisticalShaftData& StatisticalShaftData();

  int WindowSize() const { return FWindowSize; }
  int MinimumSamplesInWindow() const { return FMinimumSamplesInWindow; }

 private:
  std::vector<TDataValue> FValues;
  std::vector<TDataValue> FRunningAverageValues;
  int FWindowSize;
  int FMinimumSamplesInWindow;
  bool FIsLastRunningAverageValueValid = false;
  std::unique_ptr<TStatisticalShaftData> FStatisticalShaftData;
};

class TShaftDataSet {
 public:
  // Three lists with these moving-average settings: power, torque, speed.
  TShaftDataSet(int aDataWindowSize, int aMinimumDataSamplesInWindow);
  TShaftDataSet(const TShaftDataSet&) = delete;
  TShaftDataSet& operator=(const TShaftDataSet&) = delete;

  TShaftData& PowerData() { return FPowerData; }
  TShaftData& TorqueData() { return FTorqueData; }
  TShaftData& SpeedData() { return FSpeedData; }
  const TShaftData& PowerData() const { return FPowerData; }
  const TShaftData& TorqueData() const { return FTorqueData; }
  const TShaftData& SpeedData() const { return FSpeedData; }

  // Add of a new sample to that quantity; live samples number themselves,
  // stored ones take their row's ordinal.
  void AddPower(TDateTime aTime, double aValue, bool aIsError);
  void AddTorque(TDateTime aTime, double aValue, bool aIsError);
  void AddSpeed(TDateTime aTime, double aValue, bool aIsError);
  void AddPower(TDateTime aTime, double aValue, bool aIsError, std::uint32_t aOrdinal);
  void AddTorque(TDateTime aTime, double aValue, bool aIsError, std::uint32_t aOrdinal);
  void AddSpeed(TDateTime aTime, double aValue, bool aIsError, std::uint32_t aOrdinal);

  // Sums over the three statistics (built when needed): a reading whose three
  // values are flagged counts three errors.
  std::size_t ErrorCount();
  std::size_t SampleCount();

 private:
  TShaftData FPowerData;
  TShaftData FTorqueData;
  TShaftData FSpeedData;
};

}  // namespace rvx
