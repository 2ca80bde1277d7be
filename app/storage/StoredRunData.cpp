#include "app/storage/StoredRunData.h"

#include "app/storage/DMSystem.h"

namespace rvx {

TStoredRunData::TStoredRunData(TDM_System& aDMSystem, const TRun& aRun, int aDataWindowSize,
                               int aMinimumDataSamplesInWindow)
    : FRun(aRun) {
  for (const auto& m : aDMSystem.GetMeassurements(aRun.ID)) {
    FDataSets.push_back(
        aDMSystem.GetDataSet(aRun, *m, 0, {}, aDataWindowSize, aMinimumDataSamplesInWindow));
    FShaftIds.push_back(m->ShaftId);
  }
}

}  // namespace rvx
