// TRunDataSet: one stored run as the report side reads it, with the replay
// measurement managers that hold its samples (one per shaft that recorded
// it, in measurement ID order). The run is lent by the run manager; the
// managers are shared with nobody else once handed over.
//
// A run read back without a stop time was interrupted (the program ended
// while recording): it ends at its last stored sample, or at its start
// when it has none, so its duration is never negative.
//
// Thread safety: main thread only.
#pragma once

#include <memory>
#include <vector>

#include "app/acquisition/RunData.h"
#include "app/run/MeassurementManager.h"
#include "app/storage/LogRecords.h"

namespace rvx {

using TMeassurementManagerList = std::vector<std::shared_ptr<IMeassurementManager>>;

class TRunDataSet : public RunData {
 public:
  // aRun must outlive the data set.
  TRunDataSet(const TRun& aRun, TMeassurementManagerList aMeassurementManagers);

  const TRun& Run() const { return FRun; }
  const TMeassurementManagerList& MeassurementManagers() const { return FMeassurementManagers; }
  // The stored stop time was null.
  bool IsInterrupted() const { return FRun.StopTime == 0; }

  int RunId() const override { return FRun.ID; }
  std::string RunName() const override { return FRun.name; }
  std::string Comments() const override { return FRun.Comments; }
  platform::TDateTime StartTime() const override { return FRun.StartTime; }
  platform::TDateTime StopTime() const override;
  std::size_t ShaftCount() const override { return FMeassurementManagers.size(); }
  TShaftDataSet& ShaftDataSet(std::size_t shaft) override;
  int ShaftId(std::size_t shaft) const override;

 private:
  const TRun& FRun;
  TMeassurementManagerList FMeassurementManagers;
};

}  // namespace rvx
