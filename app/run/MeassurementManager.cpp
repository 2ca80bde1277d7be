#include "app/run/MeassurementManager.h"

#include <QTimer>

#include <cassert>
#include <exception>
#include <string>

#include "app/storage/ConfigurationManager.h"
#include "app/storage/DMSystem.h"
#include "app/ui/SettingsForms.h"

namespace rvx {

namespace {
constexpr int kReplaySteps = 100;

// A timer's error never crosses the event loop: log it and show it, or at
// least show it when the log itself fails.
void ReportGroupError(TDM_System& log, const std::string& message) {
  try {
    log.newError("MeassurementManager", "CommitData", message, ErrorLog::kLogAndShow);
    return;
  } catch (...) {
  }
  try {
    log.newError("MeassurementManager", "CommitData", message, ErrorLog::kShow);
  } catch (...) {
    qWarning("RVX: an error could not be shown: %s", message.c_str());
  }
}
}  // namespace

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
  if (!FGroupTimer) {
    FGroupTimer = std::make_unique<QTimer>();
    FGroupTimer->setInterval(kGroupTickMs);
    QObject::connect(FGroupTimer.get(), &QTimer::timeout, [this] {
      try {
        FDMSystem.CommitDataIfDue();
      } catch (const std::exception& e) {
        ReportGroupError(FDMSystem, e.what());
      } catch (...) {
        ReportGroupError(FDMSystem, "Unknown exception");
      }
    });
  }
  FGroupTimer->start();
}

void TMeassurementManager::StopRecording() {
  if (FShaft) FShaft->RemoveObserver(this);
  if (FGroupTimer) FGroupTimer->stop();
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
