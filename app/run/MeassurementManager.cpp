#include "app/run/MeassurementManager.h"

#include <cassert>

#include "app/storage/ConfigurationManager.h"
#include "app/storage/DMSystem.h"
#include "app/ui/SettingsForms.h"

namespace rvx {

namespace {
constexpr int kReplaySteps = 100;
}

TMeassurementManager::TMeassurementManager(const TRun& aRun, std::shared_ptr<IShaft> aShaft,
                                           TDM_System& aDMSystem,
                                           TConfigurationManager& aConfigurationManager)
    : FShaft(std::move(aShaft)),
      FDMSystem(aDMSystem),
      FConfigurationManager(aConfigurationManager) {
  assert(FShaft);
  FMeassurement = std::make_unique<TMeassurement>(aRun.ID, FShaft->GetID());
  FDMSystem.AddMeassurement(*FMeassurement);
  FShaftDataSet = std::make_unique<TShaftDataSet>(
      FConfigurationManager.DataWindowSize(), FConfigurationManager.MinimumDataSamplesInWindow());
}

TMeassurementManager::TMeassurementManager(const TRun& aRun, TDM_System& aDMSystem,
                                           TConfigurationManager& aConfigurationManager,
                                           std::unique_ptr<TMeassurement> aMeassurement)
    : FMeassurement(std::move(aMeassurement)),
      FDMSystem(aDMSystem),
      FConfigurationManager(aConfigurationManager) {
  assert(FMeassurement);
  TBusyForm busy;
  busy.show();
  busy.setup("Run", "Reading run data...", kReplaySteps);
  FShaftDataSet = FDMSystem.GetDataSet(
      aRun, *FMeassurement, kReplaySteps, [&busy] { busy.step(); },
      FConfigurationManager.DataWindowSize(), FConfigurationManager.MinimumDataSamplesInWindow());
}

TMeassurementManager::~TMeassurementManager() = default;

void TMeassurementManager::StartRecording() {
  assert(FShaft);
  FIsRecording = true;
  FShaft->RegisterObserver(shared_from_this());
}

void TMeassurementManager::StopRecording() {
  if (FShaft) FShaft->RemoveObserver(this);
  FIsRecording = false;
}

void TMeassurementManager::Shutdown() {
  if (FIsRecording) StopRecording();
}

void TMeassurementManager::UpdateValues(const TDataValue* aPower, const TDataValue* aTorque,
                                        const TDataValue* aSpeed) {
  FDMSystem.AddDataToDb(*FMeassurement, aPower, aTorque, aSpeed);
}

}  // namespace rvx
