// TRunManager: the runs of the current trial and their life cycle. It loads
// the runs, keeps the selected one with its replay managers, starts a new
// run through the new-run dialog and records it with one live measurement
// manager per shaft, stops, restarts and deletes runs, and hands the report
// side every stored run with its samples (TRunDataSet).
//
// A run's start is stored as soon as recording begins (and again at a
// restart), with its stop time null until it stops, so a run cut short by
// a crash keeps its start. While recording, StopTime in memory is the
// planned stop (start + StopAfter); after the stop, the real one.
//
// Reading runs back pumps events through progress windows, so a click or a
// timer may call the manager again meanwhile: while SelectRun, StopRun or
// GetRunDataSetsForAllRuns is under way, the commands (SelectRun,
// StartNewRun, StopRun, RestartRun, DeleteSelectedRun) return without
// effect. RestartRun does nothing unless a run is in progress.
//
// Time comes from the installed clock (platform::Now).
//
// Errors: engine errors while storing or reading pass to the caller.
//
// Thread safety: main thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/Shaft.h"
#include "app/run/RunDataSet.h"
#include "app/storage/LogRecords.h"

class QWidget;

namespace rvx {

class TConfigurationManager;
class TDM_System;
class MessageBox;

class TRunManager {
 public:
  // The references must outlive the manager. Loads the trial's runs.
  TRunManager(QWidget* aOwner, TConfigurationManager& aConfigurationManager,
              std::vector<std::shared_ptr<IShaft>>& aShaftList, TDM_System& aDMSystem,
              MessageBox& aMessageBox);
  // Stops a run in progress.
  ~TRunManager();
  TRunManager(const TRunManager&) = delete;
  TRunManager& operator=(const TRunManager&) = delete;

  // Reads the trial's runs again and clears the selection; does nothing
  // while a run is in progress or a read-back is under way (the runs in use
  // would be freed).
  void LoadAllRuns();
  // -1 (or any unknown ID): no selection; the current managers stay.
  void SelectRun(int aRunId);
  // The new run (owned by the manager), or nullptr when refused or
  // cancelled.
  TRun* StartNewRun();
  void StopRun();
  void RestartRun();
  void DeleteSelectedRun();
  void UpdateSelectedRunComment(const std::string& aComments);
  // One data set per run, in order, with new replay managers; the runs stay
  // the manager's.
  std::vector<std::unique_ptr<TRunDataSet>> GetRunDataSetsForAllRuns();
  void ConnectShafts();
  void DisconnectShafts();

  bool IsReadyToStartRun() const;
  TRun* SelectedRun() const { return FSelectedRun; }
  const std::vector<std::unique_ptr<TRun>>& AllRuns() const { return FAllRuns; }
  bool IsRunInProgress() const { return FIsRunInProgress; }
  // nullptr until the first selection or start.
  const TMeassurementManagerList* MeassurementManagers() const {
    return FMeassurementManagers.get();
  }
  platform::TDateTime RunTimeLeft() const;
  platform::TDateTime RunTimeElapsed() const;
  std::string RunTimeCaption() const;
  // A read-back is under way (commands are refused).
  bool IsBusy() const { return FBusy; }

 private:
  class BusyScope;

  void ShutdownMeassurementManagers();
  void ResetMeassurementManagers();
  void StartRecordingAll();
  void StopRecordingAll();
  void DeleteRunMeassurementData();
  void LoadMeassurementManagers(const TRun& aRun);
  std::unique_ptr<TMeassurementManagerList> CreateMeassurementManagersForRun(const TRun& aRun);
  void SetStartAndStopTime();

  QWidget* FOwner;
  TConfigurationManager& FConfigurationManager;
  std::vector<std::shared_ptr<IShaft>>& FShaftList;
  std::vector<std::unique_ptr<TRun>> FAllRuns;
  TDM_System& FDMSystem;
  MessageBox& FMessageBox;
  bool FIsRunInProgress = false;
  TRun* FSelectedRun = nullptr;
  std::unique_ptr<TMeassurementManagerList> FMeassurementManagers;
  bool FBusy = false;
};

}  // namespace rvx
