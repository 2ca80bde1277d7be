// RunData: one stored run as the report side reads it: its name, times and
// comments and the samples of every shaft that recorded it (one
// TShaftDataSet per shaft, in shaft order). Run control implements it over
// its stored runs; tests use an in-memory version.
//
// The shaft data sets belong to the run data; their statistics are built at
// first use.
//
// Thread safety: main thread only.
#pragma once

#include <cstddef>
#include <string>

#include "app/acquisition/ShaftData.h"
#include "platform/core/DateTime.h"

namespace rvx {

class RunData {
 public:
  RunData() = default;
  RunData(const RunData&) = delete;
  RunData& operator=(const RunData&) = delete;
  virtual ~RunData() = default;

  // The run's record ID in the log (the engine's auto-increment value).
  virtual int RunId() const = 0;
  virtual std::string RunName() const = 0;
  virtual std::string Comments() const = 0;
  virtual platform::TDateTime StartTime() const = 0;
  virtual platform::TDateTime StopTime() const = 0;
  // Shafts that recorded the run (0, 1 or 2).
  virtual std::size_t ShaftCount() const = 0;
  // REQUIRES: shaft < ShaftCount().
  virtual TShaftDataSet& ShaftDataSet(std::size_t shaft) = 0;
  // The shaft's number in the vessel (shaft index + 1) that recorded the
  // data set; the first data set is not always shaft 1.
  // REQUIRES: shaft < ShaftCount().
  virtual int ShaftId(std::size_t shaft) const = 0;

  // The start date in the process's short date format (en-GB dd/mm/yyyy).
  std::string RunStartDate() const;
  // The start's time of day in the process's long time format (hh:nn:ss).
  std::string RunStartTime() const;
  // The run's length, FormatDuration(StopTime - StartTime).
  std::string RunDurationText() const;
};

}  // namespace rvx
