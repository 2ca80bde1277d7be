#include "app/run/RunManager.h"

#include <algorithm>

#include "app/run/NewRunForm.h"
#include "app/storage/ConfigurationManager.h"
#include "app/storage/DMSystem.h"
#include "app/util/Utils.h"
#include "platform/core/Clock.h"

namespace rvx {

// Marks the manager busy for the length of a read-back; nests.
class TRunManager::BusyScope {
 public:
  explicit BusyScope(TRunManager& m) : m_(m), was_(m.FBusy) { m_.FBusy = true; }
  ~BusyScope() { m_.FBusy = was_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TRunManager& m_;
  bool was_;
};

TRunManager::TRunManager(QWidget* aOwner, TConfigurationManager& aConfigurationManager,
                         std::vector<std::shared_ptr<IShaft>>& aShaftList, TDM_System& aDMSystem,
                         MessageBox& aMessageBox)
    : FOwner(aOwner),
      FConfigurationManager(aConfigurationManager),
      FShaftList(aShaftList),
      FDMSystem(aDMSystem),
      FMessageBox(aMessageBox) {
  LoadAllRuns();
}

TRunManager::~TRunManager() {
  if (FIsRunInProgress) {
    FBusy = false;
    StopRun();
  }
  ShutdownMeassurementManagers();
}

void TRunManager::LoadAllRuns() {
  // Reloading frees the runs: not while one records or is being read back.
  if (FBusy || FIsRunInProgress) return;
  FSelectedRun = nullptr;
  FAllRuns = FDMSystem.GetTrialRuns(FConfigurationManager.TrialId());
}

void TRunManager::SelectRun(int aRunId) {
  if (FBusy || FIsRunInProgress) return;
  auto it = std::find_if(FAllRuns.begin(), FAllRuns.end(),
                         [&](const auto& r) { return r->ID == aRunId; });
  TRun* found = it == FAllRuns.end() ? nullptr : it->get();
  if (FSelectedRun && found && FSelectedRun->ID == found->ID) return;
  FSelectedRun = found;
  if (found) {
    BusyScope busy(*this);
    LoadMeassurementManagers(*found);
  }
}

TRun* TRunManager::StartNewRun() {
  if (FBusy) return nullptr;
  if (!IsReadyToStartRun()) {
    FDMSystem.newError("RunManager", "StartNewRun",
                       "Not ready to start a run, RVX must be connected and activated.", 5);
    return nullptr;
  }
  std::unique_ptr<TRun> run;
  {
    TFrm_NewRun dialog(nullptr, FConfigurationManager, FDMSystem, FMessageBox);
    dialog.setTrialID(FConfigurationManager.TrialId());
    if (dialog.exec() != QDialog::Accepted) return nullptr;
    run = dialog.GetNewRun();
  }
  // The dialog pumped events; a stop or another start may have come first.
  if (FBusy || FIsRunInProgress) return nullptr;
  FDMSystem.addRun(*run);
  ResetMeassurementManagers();
  for (auto& shaft : FShaftList)
    FMeassurementManagers->push_back(
        std::make_shared<TMeassurementManager>(*run, shaft, FDMSystem, FConfigurationManager));
  FAllRuns.push_back(std::move(run));
  FSelectedRun = FAllRuns.back().get();
  FIsRunInProgress = true;
  StartRecordingAll();
  return FSelectedRun;
}

void TRunManager::StopRun() {
  if (FBusy || !FIsRunInProgress || !FSelectedRun) return;
  BusyScope busy(*this);
  StopRecordingAll();
  FSelectedRun->StopTime = platform::Now();
  FDMSystem.UpdateRun(*FSelectedRun);
  FIsRunInProgress = false;
  LoadMeassurementManagers(*FSelectedRun);
}

void TRunManager::RestartRun() {
  // The automatic stop may have come while the confirmation was open.
  if (FBusy || !FIsRunInProgress || !FSelectedRun) return;
  StopRecordingAll();
  DeleteRunMeassurementData();
  StartRecordingAll();
}

void TRunManager::DeleteSelectedRun() {
  if (FBusy || FIsRunInProgress || !FSelectedRun) return;
  FDMSystem.deleteRun(FSelectedRun->ID);
  DeleteRunMeassurementData();
  TRun* gone = FSelectedRun;
  FSelectedRun = nullptr;
  std::erase_if(FAllRuns, [gone](const auto& r) { return r.get() == gone; });
}

void TRunManager::UpdateSelectedRunComment(const std::string& aComments) {
  if (!FSelectedRun) return;
  FSelectedRun->Comments = aComments;
  if (FIsRunInProgress)
    FDMSystem.MarkRunStarted(*FSelectedRun);  // the stop time stays null until the stop
  else
    FDMSystem.UpdateRun(*FSelectedRun);
}

std::vector<std::unique_ptr<TRunDataSet>> TRunManager::GetRunDataSetsForAllRuns() {
  std::vector<std::unique_ptr<TRunDataSet>> out;
  if (FBusy) return out;
  BusyScope busy(*this);
  for (const auto& run : FAllRuns) {
    auto managers = CreateMeassurementManagersForRun(*run);
    out.push_back(std::make_unique<TRunDataSet>(*run, std::move(*managers)));
  }
  return out;
}

void TRunManager::ConnectShafts() {
  for (auto& shaft : FShaftList)
    shaft->Connect();
}

void TRunManager::DisconnectShafts() {
  for (auto& shaft : FShaftList)
    shaft->Disconnect();
}

bool TRunManager::IsReadyToStartRun() const {
  return !FIsRunInProgress && std::any_of(FShaftList.begin(), FShaftList.end(),
                                          [](const auto& s) { return s->GetHasCommunication(); });
}

platform::TDateTime TRunManager::RunTimeLeft() const {
  return FSelectedRun ? FSelectedRun->StopTime - platform::Now() : 0;
}

platform::TDateTime TRunManager::RunTimeElapsed() const {
  return FSelectedRun ? platform::Now() - FSelectedRun->StartTime : 0;
}

std::string TRunManager::RunTimeCaption() const {
  if (FSelectedRun && FSelectedRun->IsAutoStop)
    return "Time left: " + FormatDuration(RunTimeLeft());
  return "Time elapsed: " + FormatDuration(RunTimeElapsed());
}

void TRunManager::ShutdownMeassurementManagers() {
  if (!FMeassurementManagers) return;
  for (auto& m : *FMeassurementManagers)
    m->Shutdown();
  FMeassurementManagers.reset();
}

void TRunManager::ResetMeassurementManagers() {
  ShutdownMeassurementManagers();
  FMeassurementManagers = std::make_unique<TMeassurementManagerList>();
}

void TRunManager::SetStartAndStopTime() {
  FSelectedRun->StartTime = platform::Now();
  FSelectedRun->StopTime = FSelectedRun->StartTime + FSelectedRun->StopAfter;
}

void TRunManager::StartRecordingAll() {
  SetStartAndStopTime();
  FDMSystem.MarkRunStarted(*FSelectedRun);
  for (auto& m : *FMeassurementManagers)
    m->StartRecording();
}

void TRunManager::StopRecordingAll() {
  if (!FMeassurementManagers) return;
  for (auto& m : *FMeassurementManagers)
    m->StopRecording();
}

void TRunManager::DeleteRunMeassurementData() {
  if (!FMeassurementManagers) return;
  for (auto& m : *FMeassurementManagers)
    FDMSystem.DeleteMeassurementData(m->GetMeassurement().ID);
}

void TRunManager::LoadMeassurementManagers(const TRun& aRun) {
  ShutdownMeassurementManagers();
  FMeassurementManagers = CreateMeassurementManagersForRun(aRun);
}

std::unique_ptr<TMeassurementManagerList> TRunManager::CreateMeassurementManagersForRun(
    const TRun& aRun) {
  auto list = std::make_unique<TMeassurementManagerList>();
  for (auto& m : FDMSystem.GetMeassurements(aRun.ID))
    list->push_back(std::make_shared<TMeassurementManager>(aRun, FDMSystem, FConfigurationManager,
                                                           std::move(m)));
  return list;
}

}  // namespace rvx
