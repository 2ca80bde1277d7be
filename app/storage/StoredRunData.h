// TStoredRunData: a run read back from the log database for the report
// side: the run's row and one TShaftDataSet per measurement of the run (in
// measurement ID order), each read with GetDataSet.
//
// Errors: engine errors while reading pass to the caller; nothing is kept.
//
// Thread safety: main thread only.
#pragma once

#include <memory>
#include <vector>

#include "app/acquisition/RunData.h"
#include "app/storage/LogRecords.h"

namespace rvx {

class TDM_System;

class TStoredRunData : public RunData {
 public:
  // Reads every measurement of aRun with these moving-average settings.
  TStoredRunData(TDM_System& aDMSystem, const TRun& aRun, int aDataWindowSize,
                 int aMinimumDataSamplesInWindow);

  int RunId() const override { return FRun.ID; }
  std::string RunName() const override { return FRun.name; }
  std::string Comments() const override { return FRun.Comments; }
  platform::TDateTime StartTime() const override { return FRun.StartTime; }
  platform::TDateTime StopTime() const override { return FRun.StopTime; }
  std::size_t ShaftCount() const override { return FDataSets.size(); }
  TShaftDataSet& ShaftDataSet(std::size_t shaft) override { return *FDataSets.at(shaft); }
  int ShaftId(std::size_t shaft) const override { return FShaftIds.at(shaft); }

 private:
  TRun FRun;
  std::vector<std::unique_ptr<TShaftDataSet>> FDataSets;
  std::vector<int> FShaftIds;
};

}  // namespace rvx
