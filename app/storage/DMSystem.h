// TDM_System: the log database adapter, the one object through which the
// application reaches its database file <documents>/RVX/data/<name> (the
// program passes "RVX_Log.vez"). It owns the database component and one
// table component per table, open for the adapter's whole life:
//
//   System (one row of settings), Com, auto and Demo (a shaft's link mode,
//   serial and simulated-meter settings, key = shaft index), Vessels,
//   Trials, Runs, Measurements (one per shaft and run), Data (one per
//   recorded reading), ErrorLog.
//
// Construction opens the file (creating folder and file on first start),
// creates missing tables and indexes, adds missing columns (ALTER TABLE;
// old rows read null there, extra stored columns stay, a missing
// auto-increment column is not added), and writes the System row (Version,
// and defaults for the report folder and the moving-average settings).
// An existing file that cannot be opened is never replaced.
//
// Readings are committed in groups: AddDataToDb opens a transaction when
// none is open (in a caller's transaction it just appends) and appends into it; the group commits
// at the first append once it is kDataGroupMs old (installed clock), or through CommitDataIfDue,
// which the live recording calls on a timer so a meter gone quiet does not
// hold its rows back. Two data syncs per reading would not keep up with the
// line. A power cut loses at most the open group. Error-log rows written
// meanwhile join the group; every other call (writes, reads, read-backs)
// and closing commit the group first, so other readers and this process
// see the rows in the order they came. A failed group commit rolls the
// group back and raises; groups committed before stay. Absent quantities
// are stored as nulls, which the read-back skips (older files hold zeros
// there).
//
// Read-back order: a measurement's samples come back in the order of the
// index over MeasurementID;Time, equal times in ID order, so rows written
// into space freed by deleted rows cannot move ahead of older samples. The
// error log's trim deletes the row with the lowest ID for the same reason.
//
// List reads (getTrials, GetTrialRuns, ...) leave their text filter on;
// lookups by ID switch it off first, except in deleteVessel, deleteTrial and
// deleteRun: they look the row up in the table as the last list read left
// it (a row outside that filter is not found) and leave that filter on.
//
// Errors: engine errors pass to the caller (EVEZException, EDatabaseError),
// except inside the cascading deletes and GetTrialRuns, which stop and keep
// what they have.
//
// Thread safety: main thread only. Other processes may open the same file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/DataValue.h"
#include "app/acquisition/ErrorLog.h"
#include "app/acquisition/LinkSettingsStore.h"
#include "app/acquisition/ShaftData.h"
#include "app/storage/LogRecords.h"
#include "app/util/MessageBox.h"
#include "dbengine/storage/VEZDurability.h"
#include "platform/dataset/Field.h"
#include "platform/dataset/FieldType.h"

namespace vez {
class TVEZDatabase;
class TVEZTable;
}  // namespace vez

namespace rvx {

// The one step of a progress window.
using TStepProcedure = std::function<void()>;

class TDM_System : public LinkSettingsStore, public ErrorLog {
 public:
  static constexpr const char* kDatabaseAlias = "RVX_Database";
  static constexpr std::size_t kReportFolderSize = 150;
  static constexpr int kDefaultRunningAverage = 5;
  // The age at which a group of readings commits.
  static constexpr std::uint64_t kDataGroupMs = 250;

  // DataBaseName: the bare file name. box shows the error log's messages;
  // it must outlive the adapter. The program keeps full durability; the
  // benchmarks compare the others.
  TDM_System(const std::string& DataBaseName, MessageBox& box,
             vez::TVEZDurability durability = vez::TVEZDurability::Full);
  ~TDM_System() override;

  // <documents>/RVX/data/ and <documents>/RVX/reports/.
  static std::string DataFolder();
  static std::string DefaultReportFolder();
  const std::string& DatabaseFileName() const { return file_name_; }

  // ---- Vessels (Primary index on ID: lists in ID order)
  std::unique_ptr<TVessels> getVessels();
  std::string getVesselName(int vesselID);
  bool vesselExist(const std::string& vesselName);
  void addVessel(const TVessel& newVessel);
  void deleteVessel(int vesselID);
  std::unique_ptr<TVessel> GetVesselById(int aVesselID);

  // ---- Trials
  std::unique_ptr<TTrials> getTrials(int VesselID);
  std::vector<std::unique_ptr<TTrial>> getTrialsByVesselId(int VesselID);
  std::string getTrialName(int TrialID);
  bool trialExist(int vesselID, const std::string& trialName);
  void addTrial(const TTrial& newTrial);
  void deleteTrial(int TrialID);
  std::unique_ptr<TTrial> GetTrialById(int aTrialID);

  // ---- Runs
  std::vector<std::unique_ptr<TRun>> GetTrialRuns(int aTrialId);
  std::string getRunName(int runID);
  bool runExistInTrial(const std::string& name, int aTrialId);
  // Sets Run.ID unless a run of that name exists in the trial.
  void addRun(TRun& Run);
  void UpdateRun(const TRun& aRun);
  // Stores the start of a run being recorded: StartTime and Comments, with
  // StopTime null until the stop, so an interrupted run keeps its start.
  void MarkRunStarted(const TRun& aRun);
  void deleteRun(int runID);

  // ---- Measurements and samples
  void AddMeassurement(TMeassurement& aMeassurement);
  std::vector<std::unique_ptr<TMeassurement>> GetMeassurements(int aRunId);
  void DeleteMeassurementData(int aMeassurementId);
  // One Data row from the present quantities (nullptr: absent); nothing
  // when all three are absent.
  void AddDataToDb(const TMeassurement& aMeassurement, const TDataValue* aPower,
                   const TDataValue* aTorque, const TDataValue* aSpeed);
  // Commits the open group of readings, if any; on failure the group is
  // rolled back and the error passes on.
  void CommitPendingData();
  // Commits the open group once it is kDataGroupMs old (the recording's
  // periodic tick); errors as CommitPendingData.
  void CommitDataIfDue();
  // Whether readings wait in an open group.
  bool HasPendingData() const { return group_open_; }
  // The stored samples of one measurement; StepProcedure (may be empty) is
  // called exactly steps times in all.
  std::unique_ptr<TShaftDataSet> GetDataSet(const TRun& aRun, const TMeassurement& aMeassurment,
                                            int steps, const TStepProcedure& StepProcedure,
                                            int aDataWindowSize, int aMinimumDataSamplesInWindow);

  // ---- System row
  // The report folder, created when missing, ending in "/".
  std::string getReportPath();
  int GetRunningAverageWindowSize();
  int GetRunningAverageMinimumDataSamplesInWindow();
  void SetRunningAverageWindowSize(int aValue);
  void SetRunningAverageMinimumDataSamplesInWindow(int aValue);
  void GetSummarySelections(bool& make_CSV, bool& make_XLS, bool& make_PDF, bool& make_Print);
  void SetSummarySelections(bool make_CSV, bool make_XLS, bool make_PDF, bool make_Print);

  // ---- Link settings (LinkSettingsStore)
  void EnsureComIndexExists(int aIndex, const std::string& aComMode) override;
  std::string getComMode(int aIndex) override;
  void setComMode(int aIndex, const std::string& aComMode) override;
  // Not used by the program; the Com table is left unfiltered afterwards.
  std::unique_ptr<TComPort> getCom(int ComID);
  int GetAutoComPort(int aIndex) override;
  int GetAutoComBaud(int aIndex) override;
  void SetAutoComSettings(int aIndex, int aBaud, int aPort) override;
  int GetDemoComInterval(int aIndex) override;
  int GetDemoComPower(int aIndex) override;
  int GetDemoComSpeed(int aIndex) override;
  double GetDemoComSpikeChance(int aIndex) override;
  void SetDemoComSettings(int aIndex, int aInterval, int aPower, int aSpeed,
                          double aSpikeChance) override;

  // ---- Error log (newError is ErrorLog's)
  // The ErrorLog table component itself, lent to the error-log window.
  vez::TVEZTable& getErrorLogDataSource() { return *TBL_ErrorLog; }

  // The table components, lent (tests and the upgrade read them back).
  vez::TVEZDatabase& Database() { return *DB_RVX; }

 protected:
  std::size_t RowCount() override;
  void DeleteOldestRow() override;
  void AppendRow(platform::TDateTime Time, const std::string& UnitName,
                 const std::string& FunctionName, const std::string& Message) override;

 private:
  struct ColumnDef {
    const char* name;
    platform::TFieldType type;
    int size;
    bool required;
  };
  struct IndexDef {
    const char* name;
    const char* fields;
  };

  // Shows why the last group could not be committed at close.
  void ReportUnsavedGroup(const std::string& message) noexcept;
  void OpenDatabase(const std::string& DataBaseName);
  void DefineTables();
  std::unique_ptr<vez::TVEZTable> openTable(const std::string& tableName);
  void DefineTable(std::unique_ptr<vez::TVEZTable>& table, const char* tableName,
                   const std::vector<ColumnDef>& columns, const std::vector<IndexDef>& indexes,
                   bool primaryCurrent);
  void setupTable(vez::TVEZTable& table);
  void AddColumn(vez::TVEZTable& table, const std::string& fieldName, platform::TFieldType dataType,
                 int size);
  void InitSystemRecord();
  void SetSystemInteger(const char* fieldName, int value);
  void EnsureAutoComRow(int aIndex);
  void EnsureDemoComRow(int aIndex);
  // Key lookup on the current index with filtering off.
  static bool FindById(vez::TVEZTable& table, int id);
  static void SetFilter(vez::TVEZTable& table, const std::string& text);
  std::unique_ptr<TTrial> ReadTrial();
  // The Data reader in (MeasurementID, Time) order, at the measurement's
  // first row; InMeasurement tells whether the current row is still one.
  vez::TVEZTable& DataReader(int aMeassurementId);
  static bool InMeasurement(vez::TVEZTable& t, platform::Field& measurement, int aMeassurementId);

  std::string file_name_;
  // The open group of readings and its start (installed clock's ticks).
  bool group_open_ = false;
  std::uint64_t group_started_ = 0;
  std::unique_ptr<vez::TVEZDatabase> DB_RVX;
  std::unique_ptr<vez::TVEZTable> TBL_System;
  std::unique_ptr<vez::TVEZTable> TBL_Com;
  std::unique_ptr<vez::TVEZTable> TBL_Vessel;
  std::unique_ptr<vez::TVEZTable> TBL_Trial;
  std::unique_ptr<vez::TVEZTable> TBL_Run;
  std::unique_ptr<vez::TVEZTable> TBL_Measurements;
  std::unique_ptr<vez::TVEZTable> TBL_Data;
  std::unique_ptr<vez::TVEZTable> TBL_ErrorLog;
  std::unique_ptr<vez::TVEZTable> TBL_AutoCom;
  std::unique_ptr<vez::TVEZTable> TBL_DemoCom;
  // A second component on Data, in the order of its (MeasurementID, Time)
  // index, for read-backs and deletes; appends go through TBL_Data.
  std::unique_ptr<vez::TVEZTable> TBL_DataByTime;
};

}  // namespace rvx
