// TMeassurementManager: the object behind one shaft's recording of one run
// (one Measurements row).
//
// Live mode (built by run control when a run starts): the Measurements row
// is stored at construction; while recording, the manager observes its
// shaft and appends one Data row per reading, keeping nothing itself. The
// log commits readings in groups; while recording, a timer commits a group
// that stopped growing (a meter gone quiet), and a failed commit is logged
// and shown.
// Replay mode (built for a stored measurement): every Data row of the
// measurement is read back into its data set at construction, behind a
// progress window ("Run", "Reading run data...", 100 steps). A replay
// manager has no shaft and never records.
//
// Lifetime: shared ownership (the run manager's list, a run data set's
// list and, while recording, the shaft's observer list).
//
// Errors: engine errors while storing or reading pass to the caller.
//
// Thread safety: main thread only; the replay constructor pumps events.
#pragma once

#include <memory>

class QTimer;

#include "app/acquisition/Shaft.h"
#include "app/acquisition/ShaftData.h"
#include "app/storage/LogRecords.h"

namespace rvx {

class TDM_System;
class TConfigurationManager;

class IMeassurementManager {
 public:
  virtual ~IMeassurementManager() = default;
  virtual TMeassurement& GetMeassurement() = 0;
  virtual void StartRecording() = 0;
  virtual void StopRecording() = 0;
  virtual void Shutdown() = 0;
  virtual TShaftDataSet& GetShaftDataSet() = 0;
};

class TMeassurementManager : public IMeassurementManager,
                             public IShaftObserver,
                             public std::enable_shared_from_this<TMeassurementManager> {
 public:
  // Live: stores the measurement row of aShaft in aRun (aRun.ID must be
  // set); does not start recording.
  TMeassurementManager(const TRun& aRun, std::shared_ptr<IShaft> aShaft, TDM_System& aDMSystem,
                       TConfigurationManager& aConfigurationManager);
  // Replay: takes aMeassurement and reads its stored samples behind a
  // progress window.
  TMeassurementManager(const TRun& aRun, TDM_System& aDMSystem,
                       TConfigurationManager& aConfigurationManager,
                       std::unique_ptr<TMeassurement> aMeassurement);
  ~TMeassurementManager() override;
  TMeassurementManager(const TMeassurementManager&) = delete;
  TMeassurementManager& operator=(const TMeassurementManager&) = delete;

  TMeassurement& GetMeassurement() override { return *FMeassurement; }
  // REQUIRES: live manager.
  void StartRecording() override;
  void StopRecording() override;
  // Stops recording when recording; else nothing.
  void Shutdown() override;
  TShaftDataSet& GetShaftDataSet() override { return *FShaftDataSet; }
  bool IsRecording() const { return FIsRecording; }
  // How often the recording checks whether the log's open group is due.
  static constexpr int kGroupTickMs = 50;

  // IShaftObserver: only readings are stored.
  void UpdateValues(const TDataValue* aPower, const TDataValue* aTorque,
                    const TDataValue* aSpeed) override;
  void UpdateRunningAverageValues(const TDataValue*, const TDataValue*,
                                  const TDataValue*) override {}
  void UpdateHasCommunication(bool) override {}
  void UpdateCheckSumError(int, const std::string&, const TDataValue*, const TDataValue*,
                           const TDataValue*) override {}
  void UpdateTorqueError(int, const std::string&, const TDataValue*, const TDataValue*,
                         const TDataValue*) override {}

 private:
  std::shared_ptr<IShaft> FShaft;
  std::unique_ptr<TMeassurement> FMeassurement;
  TDM_System& FDMSystem;
  TConfigurationManager& FConfigurationManager;
  bool FIsRecording = false;
  std::unique_ptr<TShaftDataSet> FShaftDataSet;
  std::unique_ptr<QTimer> FGroupTimer;
};

}  // namespace rvx
