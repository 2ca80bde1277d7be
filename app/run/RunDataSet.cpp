#include "app/run/RunDataSet.h"

#include <algorithm>

namespace rvx {

TRunDataSet::TRunDataSet(const TRun& aRun, TMeassurementManagerList aMeassurementManagers)
    : FRun(aRun), FMeassurementManagers(std::move(aMeassurementManagers)) {}

platform::TDateTime TRunDataSet::StopTime() const {
  if (!IsInterrupted()) return FRun.StopTime;
  platform::TDateTime last = FRun.StartTime;
  for (const auto& m : FMeassurementManagers) {
    TShaftDataSet& set = m->GetShaftDataSet();
    for (const TShaftData* data : {&set.PowerData(), &set.TorqueData(), &set.SpeedData()})
      if (const TDataValue* v = data->LastValue()) last = std::max(last, v->Time());
  }
  return last;
}

TShaftDataSet& TRunDataSet::ShaftDataSet(std::size_t shaft) {
  return FMeassurementManagers.at(shaft)->GetShaftDataSet();
}

int TRunDataSet::ShaftId(std::size_t shaft) const {
  return FMeassurementManagers.at(shaft)->GetMeassurement().ShaftId;
}

}  // namespace rvx
