// TRawDataCSVCreator: the two raw-data files of one shaft of one run. The
// "no filter" file lists every sample without an error flag, the
// "Chauvenet" file only the samples that Chauvenet's criterion kept. Each
// starts with identification lines and a block of statistics, then lists
// one line per reading in recording order, in display units:
//
//   Vessel: <name> / Trial: <name> / Run: <name> / Shaft id: <n> /
//   Outlier filter: no filter|Chauvenet / (empty) /
//   Function,Power(<u>),Speed(<u>),Torque(<u>) / MCR,... / Mean,... /
//   % of MCR,... / Min,... / Max,... / Std. dev.,... / Samples,... /
//   Outliers,... / Errors,... / (empty) / Date,Time,Power(<u>),... /
//   <date>,<time>,<power>,<speed>,<torque> ...
//
// A reading's power, speed and torque samples are joined by the reading's
// ordinal, so two readings within one millisecond stay two lines; a quantity
// without a sample in the reading leaves its field empty, so every data line
// has four commas. Names are quoted only when they hold a comma, a quote, CR
// or LF (see CsvText.h). An MCR of 0 shows "NA%" as its percentage.
//
// Errors: a file that cannot be created or written raises
// platform::EOSError; the lines written so far stay.
//
// Thread safety: main thread only (reads the display settings).
#pragma once

#include <cstdint>
#include <string>

#include "app/acquisition/DataValue.h"
#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/ShaftData.h"

namespace rvx {

// The samples of one reading (one data line); each borrowed, or absent.
struct TDataValueSet {
  TDateTime FTime = 0;
  std::uint32_t FOrdinal = 0;
  const TDataValue* FPower = nullptr;
  const TDataValue* FSpeed = nullptr;
  const TDataValue* FTorque = nullptr;
};

class TRawDataCSVCreator {
 public:
  // aConfigurationManager gives names, units, factors and MCR values; it
  // must outlive the creator.
  explicit TRawDataCSVCreator(const DisplaySettings& aConfigurationManager);
  TRawDataCSVCreator(const TRawDataCSVCreator&) = delete;
  TRawDataCSVCreator& operator=(const TRawDataCSVCreator&) = delete;

  // The unfiltered file: every sample without an error flag.
  void GenerateRawValues(int aShaftId, TShaftDataSet& aShaftDataSet, const std::string& aRunName,
                         const std::string& aFilename);
  // The filtered file: the samples Chauvenet's criterion kept.
  void GenerateFilteredValues(int aShaftId, TShaftDataSet& aShaftDataSet,
                              const std::string& aRunName, const std::string& aFilename);

 private:
  void Generate(bool filtered, int aShaftId, TShaftDataSet& aShaftDataSet,
                const std::string& aRunName, const std::string& aFilename);

  const DisplaySettings& FConfigurationManager;
};

}  // namespace rvx
