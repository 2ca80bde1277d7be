#include "app/storage/DMSystem.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

#include "app/util/ProgramInfo.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "platform/core/Clock.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Variant.h"
#include "platform/dataset/Field.h"

namespace rvx {

using platform::Variant;
using vez::TVEZTable;

namespace {

std::string Num(int n) {
  return std::to_string(n);
}

// The SQL type a missing column would be added with; empty for a type that
// is never added (auto-increment).
std::string SqlTypeName(platform::TFieldType type, int size) {
  switch (type) {
    case platform::ftInteger:
      return "INTEGER";
    case platform::ftFloat:
      return "FLOAT";
    case platform::ftDateTime:
      return "DATETIME";
    case platform::ftString:
      return "VARCHAR(" + Num(size) + ")";
    case platform::ftBoolean:
      return "BOOLEAN";
    default:
      return {};
  }
}

Variant IntValue(int v) {
  return Variant::FromInteger(v);
}

}  // namespace

TDM_System::TDM_System(const std::string& DataBaseName, MessageBox& box,
                       vez::TVEZDurability durability)
    : ErrorLog(box) {
  // Text filters parse through the SQL engine.
  vez::RegisterSQLEngine();
  DB_RVX = std::make_unique<vez::TVEZDatabase>();
  DB_RVX->SetDurability(durability);
  OpenDatabase(DataBaseName);
  DefineTables();
  InitSystemRecord();
}

TDM_System::~TDM_System() {
  try {
    CommitPendingData();
  } catch (const std::exception& e) {
    ReportUnsavedGroup(e.what());
  } catch (...) {
    ReportUnsavedGroup("Unknown exception");
  }
  // Tables let go of the database first; the database closes when the last
  // one has (no kept connection).
  for (auto* t : {&TBL_DataByTime, &TBL_DemoCom, &TBL_AutoCom, &TBL_ErrorLog, &TBL_Data,
                  &TBL_Measurements, &TBL_Run, &TBL_Trial, &TBL_Vessel, &TBL_Com, &TBL_System}) {
    if (*t) {
      try {
        (*t)->Close();
      } catch (...) {
      }
      t->reset();
    }
  }
  try {
    DB_RVX->Close();
  } catch (...) {
  }
}

void TDM_System::ReportUnsavedGroup(const std::string& message) noexcept {
  // Closing has no caller left to raise to; the user still learns of it.
  try {
    newError("DMSystem", "Close", "Readings not saved: " + message, kShow);
  } catch (...) {
  }
}

std::string TDM_System::DataFolder() {
  return GetSpecialFolderPath(CSIDL_COMMON_DOCUMENTS) + "/RVX/data/";
}

std::string TDM_System::DefaultReportFolder() {
  return GetSpecialFolderPath(CSIDL_COMMON_DOCUMENTS) + "/RVX/reports/";
}

// ---------------------------------------------------------------------------
// File, schema and upgrade

void TDM_System::OpenDatabase(const std::string& DataBaseName) {
  const std::string folder = DataFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw platform::Exception("Cannot create the folder " + folder + ": " + ec.message());
  file_name_ = folder + DataBaseName;
  DB_RVX->SetDatabaseName(kDatabaseAlias);
  DB_RVX->SetMultiUser(true);
  DB_RVX->SetDatabaseFileName(file_name_);
  DB_RVX->SetKeepConnection(false);
  if (std::filesystem::exists(file_name_))
    DB_RVX->Open();
  else
    DB_RVX->CreateDatabase();
}

std::unique_ptr<TVEZTable> TDM_System::openTable(const std::string& tableName) {
  auto table = std::make_unique<TVEZTable>();
  table->SetDatabaseName(DB_RVX->DatabaseName());
  table->SetTableName(tableName);
  return table;
}

void TDM_System::DefineTable(std::unique_ptr<TVEZTable>& table, const char* tableName,
                             const std::vector<ColumnDef>& columns,
                             const std::vector<IndexDef>& indexes, bool primaryCurrent) {
  table = openTable(tableName);
  for (const ColumnDef& c : columns)
    table->FieldDefs().Add(c.name, c.type, c.size, c.required);
  for (const IndexDef& i : indexes)
    table->IndexDefs().Add(i.name, i.fields, 0);
  setupTable(*table);
  if (primaryCurrent) {
    // An index over the key stored under another name counted as present,
    // so choose it by its fields when there is no "Primary".
    table->IndexDefs().Update();
    if (table->IndexDefs().IndexOf("Primary") >= 0)
      table->SetIndexName("Primary");
    else
      table->SetIndexFieldNames(indexes.front().fields);
  }
}

void TDM_System::DefineTables() {
  using namespace platform;
  const std::vector<IndexDef> primary{{"Primary", "ID"}};
  DefineTable(TBL_System, "System",
              {{"Version", ftString, 20, true},
               {"ReportFolder", ftString, 150, false},
               {"SummaryOptions", ftInteger, 0, false},
               {"PowerChartOffset", ftFloat, 0, false},
               {"SpeedChartOffset", ftFloat, 0, false},
               {"TorqueChartOffset", ftFloat, 0, false},
               {"RunningAvgWindowSize", ftInteger, 0, false},
               {"RunningAvgMinDataSamplesInWindow", ftInteger, 0, false}},
              {}, false);
  DefineTable(TBL_Com, "Com", {{"ID", ftAutoInc, 0, true}, {"Mode", ftString, 40, false}}, primary,
              true);
  DefineTable(TBL_Vessel, "Vessels",
              {{"ID", ftAutoInc, 0, true},
               {"Name", ftString, 30, false},
               {"Shafts", ftInteger, 0, false},
               {"MCRPower", ftInteger, 0, false},
               {"MCRSpeed", ftInteger, 0, false},
               {"MCRTorque", ftInteger, 0, false},
               {"Units", ftString, 20, false}},
              primary, true);
  DefineTable(TBL_Trial, "Trials",
              {{"ID", ftAutoInc, 0, true},
               {"Name", ftString, 50, false},
               {"VesselID", ftInteger, 0, false}},
              primary, true);
  DefineTable(TBL_Run, "Runs",
              {{"ID", ftAutoInc, 0, true},
               {"TrialID", ftInteger, 0, false},
               {"Name", ftString, 30, false},
               {"StartTime", ftDateTime, 0, false},
               {"StopTime", ftDateTime, 0, false},
               {"Comments", ftString, 500, false}},
              primary, true);
  DefineTable(TBL_Measurements, "Measurements",
              {{"ID", ftAutoInc, 0, true},
               {"RunID", ftInteger, 0, false},
               {"ShaftID", ftInteger, 0, false},
               {"AvgPower", ftFloat, 0, false},
               {"AvgSpeed", ftFloat, 0, false},
               {"AvgTorque", ftFloat, 0, false}},
              primary, true);
  DefineTable(TBL_Data, "Data",
              {{"ID", ftAutoInc, 0, true},
               {"MeasurementID", ftFloat, 0, false},
               {"Time", ftDateTime, 0, false},
               {"Power", ftFloat, 0, false},
               {"Speed", ftFloat, 0, false},
               {"Torque", ftFloat, 0, false},
               {"IsError", ftBoolean, 0, false}},
              {{"Primary", "MeasurementID;Time"}}, false);
  DefineTable(TBL_ErrorLog, "ErrorLog",
              {{"ID", ftAutoInc, 0, true},
               {"Time", ftDateTime, 0, false},
               {"UnitName", ftString, 20, false},
               {"FunctionName", ftString, 20, false},
               {"Message", ftString, 60, false}},
              {}, false);
  // setupAutoComTable, setupDemoComTable: the key is a plain integer.
  DefineTable(
      TBL_AutoCom, "auto",
      {{"ID", ftInteger, 0, false}, {"Port", ftInteger, 0, false}, {"Baud", ftInteger, 0, false}},
      primary, true);
  DefineTable(TBL_DemoCom, "Demo",
              {{"ID", ftInteger, 0, false},
               {"TimerInterval", ftInteger, 0, false},
               {"Power", ftInteger, 0, false},
               {"Speed", ftInteger, 0, false},
               {"SpikeChance", ftFloat, 0, false}},
              primary, true);
}

void TDM_System::setupTable(TVEZTable& table) {
  if (!DB_RVX->TableExists(table.TableName())) {
    table.CreateTable();
    table.Open();
    return;
  }
  // Opening replaces the declared definitions by the stored ones.
  struct Column {
    std::string name;
    platform::TFieldType type;
    int size;
  };
  std::vector<Column> columns;
  for (int i = 0; i < table.FieldDefs().Count(); ++i) {
    const platform::FieldDef& d = table.FieldDefs().Items(i);
    columns.push_back({d.Name, d.DataType, d.Size});
  }
  std::vector<std::pair<std::string, std::string>> indexes;
  for (int i = 0; i < table.IndexDefs().Count(); ++i) {
    const platform::IndexDef& d = table.IndexDefs().Items(i);
    indexes.emplace_back(d.Name, d.Fields);
  }
  table.Open();
  for (const Column& c : columns)
    if (table.FindField(c.name) == nullptr) AddColumn(table, c.name, c.type, c.size);
  for (const auto& [name, fields] : indexes) {
    bool present = false;
    try {
      table.IndexDefs().Update();
      present = table.IndexDefs().GetIndexForFields(fields) != nullptr;
    } catch (...) {
      present = false;  // any doubt: add it
    }
    if (!present) table.AddIndex(name, fields, 0, {}, {});
  }
}

void TDM_System::AddColumn(TVEZTable& table, const std::string& fieldName,
                           platform::TFieldType dataType, int size) {
  const std::string sqlType = SqlTypeName(dataType, size);
  if (sqlType.empty()) return;
  // The statement rewrites the table, which must not be held open meanwhile.
  const bool wasActive = table.Active();
  table.Close();
  {
    vez::TVEZQuery query;
    query.SetDatabaseName(table.DatabaseName());
    query.SetSQL("ALTER TABLE " + table.TableName() + " ADD (" + fieldName + " " + sqlType + ")");
    query.Prepare();
    query.ExecSQL();
  }
  if (wasActive) table.Open();
}

void TDM_System::InitSystemRecord() {
  std::string version = ProgramVersion;
  if (version.empty()) {
    version = "0.00";
    ProgramVersion = version;
    ProgramVersionInfo.FileVersion = version;
  }
  TVEZTable& t = *TBL_System;
  t.SetFiltered(false);
  t.First();
  const bool hasRow = !t.IsEmpty();
  const bool needsFolder = !hasRow || t.FieldByName("ReportFolder").AsString().empty();
  std::string folder;
  if (needsFolder) {
    folder = DefaultReportFolder();
    if (folder.size() > kReportFolderSize)
      throw platform::Exception("The report folder " + folder + " is longer than " +
                                Num(static_cast<int>(kReportFolderSize)) +
                                " characters, the most the log database can store");
  }
  if (hasRow)
    t.Edit();
  else
    t.Append();
  try {
    t.FieldByName("Version").SetAsString(version);
    if (needsFolder) t.FieldByName("ReportFolder").SetAsString(folder);
    platform::Field& window = t.FieldByName("RunningAvgWindowSize");
    if (window.IsNull()) window.SetAsInteger(kDefaultRunningAverage);
    platform::Field& minimum = t.FieldByName("RunningAvgMinDataSamplesInWindow");
    if (minimum.IsNull()) minimum.SetAsInteger(kDefaultRunningAverage);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

// ---------------------------------------------------------------------------
// Helpers

bool TDM_System::FindById(TVEZTable& table, int id) {
  table.SetFiltered(false);
  return table.FindKey({IntValue(id)});
}

void TDM_System::SetFilter(TVEZTable& table, const std::string& text) {
  table.SetFilterText(text);
  table.SetFiltered(true);
}

// ---------------------------------------------------------------------------
// Vessels

std::unique_ptr<TVessels> TDM_System::getVessels() {
  CommitPendingData();
  TVEZTable& t = *TBL_Vessel;
  t.SetFiltered(false);
  auto list = std::make_unique<TVessels>();
  for (t.First(); !t.Eof(); t.Next())
    list->add(t.FieldByName("ID").AsInteger(), t.FieldByName("Name").AsString(),
              t.FieldByName("MCRPower").AsInteger(), t.FieldByName("MCRSpeed").AsInteger(),
              t.FieldByName("Shafts").AsInteger(), t.FieldByName("Units").AsString());
  return list;
}

std::string TDM_System::getVesselName(int vesselID) {
  CommitPendingData();
  if (!FindById(*TBL_Vessel, vesselID)) return {};
  return TBL_Vessel->FieldByName("Name").AsString();
}

bool TDM_System::vesselExist(const std::string& vesselName) {
  CommitPendingData();
  TVEZTable& t = *TBL_Vessel;
  t.SetFiltered(false);
  for (t.First(); !t.Eof(); t.Next())
    if (t.FieldByName("Name").AsString() == vesselName) return true;
  return false;
}

void TDM_System::addVessel(const TVessel& newVessel) {
  CommitPendingData();
  TVEZTable& t = *TBL_Vessel;
  t.SetFiltered(false);
  t.Append();
  try {
    t.FieldByName("Name").SetAsString(newVessel.name);
    t.FieldByName("MCRPower").SetAsInteger(newVessel.MCRPower);
    t.FieldByName("MCRSpeed").SetAsInteger(newVessel.MCRSpeed);
    t.FieldByName("MCRTorque").SetAsInteger(newVessel.MCRTorque);
    t.FieldByName("Shafts").SetAsInteger(newVessel.Shafts);
    t.FieldByName("Units").SetAsString(newVessel.Units);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

void TDM_System::deleteVessel(int vesselID) {
  CommitPendingData();
  TVEZTable& v = *TBL_Vessel;
  if (!v.FindKey({IntValue(vesselID)})) return;
  TVEZTable& trials = *TBL_Trial;
  try {
    SetFilter(trials, "VesselID = " + Num(vesselID));
    for (;;) {
      trials.First();
      if (trials.Eof()) break;
      const int trialId = trials.FieldByName("ID").AsInteger();
      deleteTrial(trialId);
      // A trial that stays would be found first again.
      trials.First();
      if (!trials.Eof() && trials.FieldByName("ID").AsInteger() == trialId) break;
    }
  } catch (...) {
  }
  trials.SetFiltered(false);
  if (FindById(v, vesselID)) v.Delete();
}

std::unique_ptr<TVessel> TDM_System::GetVesselById(int aVesselID) {
  CommitPendingData();
  if (!FindById(*TBL_Vessel, aVesselID)) return nullptr;
  TVEZTable& t = *TBL_Vessel;
  auto v = std::make_unique<TVessel>();
  v->ID = t.FieldByName("ID").AsInteger();
  v->name = t.FieldByName("Name").AsString();
  v->MCRPower = t.FieldByName("MCRPower").AsInteger();
  v->MCRSpeed = t.FieldByName("MCRSpeed").AsInteger();
  v->MCRTorque = t.FieldByName("MCRTorque").AsInteger();
  v->Shafts = t.FieldByName("Shafts").AsInteger();
  v->Units = t.FieldByName("Units").AsString();
  return v;
}

// ---------------------------------------------------------------------------
// Trials

std::unique_ptr<TTrials> TDM_System::getTrials(int VesselID) {
  CommitPendingData();
  TVEZTable& t = *TBL_Trial;
  SetFilter(t, "VesselID=" + Num(VesselID));
  auto list = std::make_unique<TTrials>();
  for (t.First(); !t.Eof(); t.Next())
    list->add(t.FieldByName("ID").AsInteger(), t.FieldByName("Name").AsString(),
              t.FieldByName("VesselID").AsInteger());
  return list;
}

std::unique_ptr<TTrial> TDM_System::ReadTrial() {
  TVEZTable& t = *TBL_Trial;
  auto trial = std::make_unique<TTrial>();
  trial->ID = t.FieldByName("ID").AsInteger();
  trial->name = t.FieldByName("Name").AsString();
  trial->VesselID = t.FieldByName("VesselID").AsInteger();
  return trial;
}

std::vector<std::unique_ptr<TTrial>> TDM_System::getTrialsByVesselId(int VesselID) {
  CommitPendingData();
  TVEZTable& t = *TBL_Trial;
  SetFilter(t, "VesselID=" + Num(VesselID));
  std::vector<std::unique_ptr<TTrial>> list;
  for (t.First(); !t.Eof(); t.Next())
    list.push_back(ReadTrial());
  return list;
}

std::string TDM_System::getTrialName(int TrialID) {
  CommitPendingData();
  if (!FindById(*TBL_Trial, TrialID)) return {};
  return TBL_Trial->FieldByName("Name").AsString();
}

bool TDM_System::trialExist(int vesselID, const std::string& trialName) {
  CommitPendingData();
  TVEZTable& t = *TBL_Trial;
  SetFilter(t, "vesselID = " + Num(vesselID));
  for (t.First(); !t.Eof(); t.Next())
    if (t.FieldByName("Name").AsString() == trialName) return true;
  return false;
}

void TDM_System::addTrial(const TTrial& newTrial) {
  CommitPendingData();
  if (trialExist(newTrial.VesselID, newTrial.name)) return;
  TVEZTable& t = *TBL_Trial;
  t.SetFiltered(false);
  t.Append();
  try {
    t.FieldByName("Name").SetAsString(newTrial.name);
    t.FieldByName("VesselID").SetAsInteger(newTrial.VesselID);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

void TDM_System::deleteTrial(int TrialID) {
  CommitPendingData();
  TVEZTable& t = *TBL_Trial;
  if (!t.FindKey({IntValue(TrialID)})) return;
  TVEZTable& runs = *TBL_Run;
  try {
    SetFilter(runs, "TrialID = " + Num(TrialID));
    for (;;) {
      runs.First();
      if (runs.Eof()) break;
      const int runId = runs.FieldByName("ID").AsInteger();
      deleteRun(runId);
      runs.First();
      if (!runs.Eof() && runs.FieldByName("ID").AsInteger() == runId) break;
    }
  } catch (...) {
  }
  runs.SetFiltered(false);
  // Found again as the caller's filter left the table, which stays in force.
  if (t.FindKey({IntValue(TrialID)})) t.Delete();
}

std::unique_ptr<TTrial> TDM_System::GetTrialById(int aTrialID) {
  CommitPendingData();
  if (!FindById(*TBL_Trial, aTrialID)) return nullptr;
  return ReadTrial();
}

// ---------------------------------------------------------------------------
// Runs

std::vector<std::unique_ptr<TRun>> TDM_System::GetTrialRuns(int aTrialId) {
  CommitPendingData();
  TVEZTable& t = *TBL_Run;
  std::vector<std::unique_ptr<TRun>> list;
  try {
    SetFilter(t, "TrialID = " + Num(aTrialId));
    for (t.First(); !t.Eof(); t.Next()) {
      auto run = std::make_unique<TRun>();
      run->ID = t.FieldByName("ID").AsInteger();
      run->name = t.FieldByName("Name").AsString();
      run->TrialID = t.FieldByName("TrialID").AsInteger();
      platform::Field& start = t.FieldByName("StartTime");
      platform::Field& stop = t.FieldByName("StopTime");
      run->StartTime = start.IsNull() ? 0 : start.AsDateTime();
      run->StopTime = stop.IsNull() ? 0 : stop.AsDateTime();
      run->Comments = t.FieldByName("Comments").AsString();
      list.push_back(std::move(run));
    }
  } catch (...) {
  }
  return list;
}

std::string TDM_System::getRunName(int runID) {
  CommitPendingData();
  if (!FindById(*TBL_Run, runID)) return {};
  return TBL_Run->FieldByName("Name").AsString();
}

bool TDM_System::runExistInTrial(const std::string& name, int aTrialId) {
  CommitPendingData();
  TVEZTable& t = *TBL_Run;
  SetFilter(t, "trialID = " + Num(aTrialId));
  for (t.First(); !t.Eof(); t.Next())
    if (t.FieldByName("Name").AsString() == name) return true;
  return false;
}

void TDM_System::addRun(TRun& Run) {
  CommitPendingData();
  if (runExistInTrial(Run.name, Run.TrialID)) return;
  TVEZTable& t = *TBL_Run;
  t.SetFiltered(false);
  t.Append();
  try {
    t.FieldByName("Name").SetAsString(Run.name);
    t.FieldByName("Comments").SetAsString(Run.Comments);
    t.FieldByName("TrialID").SetAsInteger(Run.TrialID);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
  Run.ID = t.FieldByName("ID").AsInteger();
}

void TDM_System::UpdateRun(const TRun& aRun) {
  CommitPendingData();
  TVEZTable& t = *TBL_Run;
  if (!FindById(t, aRun.ID)) return;
  t.Edit();
  try {
    t.FieldByName("StartTime").SetAsDateTime(aRun.StartTime);
    t.FieldByName("StopTime").SetAsDateTime(aRun.StopTime);
    t.FieldByName("Comments").SetAsString(aRun.Comments);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

void TDM_System::MarkRunStarted(const TRun& aRun) {
  CommitPendingData();
  TVEZTable& t = *TBL_Run;
  if (!FindById(t, aRun.ID)) return;
  t.Edit();
  try {
    t.FieldByName("StartTime").SetAsDateTime(aRun.StartTime);
    t.FieldByName("StopTime").Clear();
    t.FieldByName("Comments").SetAsString(aRun.Comments);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

void TDM_System::deleteRun(int runID) {
  CommitPendingData();
  TVEZTable& t = *TBL_Run;
  if (t.FindKey({IntValue(runID)})) t.Delete();
}

// ---------------------------------------------------------------------------
// Measurements and samples

void TDM_System::AddMeassurement(TMeassurement& aMeassurement) {
  CommitPendingData();
  TVEZTable& t = *TBL_Measurements;
  t.SetFiltered(false);
  t.Append();
  try {
    t.FieldByName("RunID").SetAsInteger(aMeassurement.RunId);
    t.FieldByName("ShaftID").SetAsInteger(aMeassurement.ShaftId);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
  aMeassurement.ID = t.FieldByName("ID").AsInteger();
}

std::vector<std::unique_ptr<TMeassurement>> TDM_System::GetMeassurements(int aRunId) {
  CommitPendingData();
  TVEZTable& t = *TBL_Measurements;
  SetFilter(t, "RunID=" + Num(aRunId));
  std::vector<std::unique_ptr<TMeassurement>> list;
  for (t.First(); !t.Eof(); t.Next())
    list.push_back(std::make_unique<TMeassurement>(aRunId, t.FieldByName("ShaftID").AsInteger(),
                                                   t.FieldByName("ID").AsInteger()));
  return list;
}

TVEZTable& TDM_System::DataReader(int aMeassurementId) {
  if (!TBL_DataByTime) {
    TBL_DataByTime = openTable("Data");
    TBL_DataByTime->Open();
    // By field list, so an index stored under another name serves as well.
    TBL_DataByTime->SetIndexFieldNames("MeasurementID;Time");
  }
  // A seek and a walk along the index rather than a range: an unrestricted
  // view lets the engine read ahead instead of locking the table per row.
  TVEZTable& t = *TBL_DataByTime;
  t.FindNearest({Variant::FromDouble(aMeassurementId)});
  return t;
}

bool TDM_System::InMeasurement(TVEZTable& t, platform::Field& measurement, int aMeassurementId) {
  return !t.Eof() && !measurement.IsNull() &&
         measurement.AsFloat() == static_cast<double>(aMeassurementId);
}

void TDM_System::DeleteMeassurementData(int aMeassurementId) {
  CommitPendingData();
  TVEZTable& t = DataReader(aMeassurementId);
  platform::Field& measurement = t.FieldByName("MeasurementID");
  while (InMeasurement(t, measurement, aMeassurementId))
    t.Delete();
}

void TDM_System::AddDataToDb(const TMeassurement& aMeassurement, const TDataValue* aPower,
                             const TDataValue* aTorque, const TDataValue* aSpeed) {
  if (aPower == nullptr && aTorque == nullptr && aSpeed == nullptr) return;
  platform::TDateTime time = 0;
  bool isError = false;
  for (const TDataValue* v : {aPower, aTorque, aSpeed}) {
    if (v == nullptr) continue;
    time = v->Time();
    isError = isError || v->IsError();
  }
  auto value = [](const TDataValue* v) { return v ? Variant::FromDouble(v->Value()) : Variant(); };
  // A caller's own transaction takes the rows as they come.
  if (!group_open_ && !DB_RVX->InTransaction()) {
    DB_RVX->StartTransaction();
    group_open_ = true;
    group_started_ = platform::TickCount64();
  }
  try {
    TBL_Data->AppendRecord({Variant(), Variant::FromDouble(aMeassurement.ID),
                            Variant::FromDate(time), value(aPower), value(aSpeed), value(aTorque),
                            Variant::FromBoolean(isError)});
  } catch (...) {
    // The rows before this one are sound: keep them.
    try {
      CommitPendingData();
    } catch (...) {
    }
    throw;
  }
  CommitDataIfDue();
}

void TDM_System::CommitPendingData() {
  if (!group_open_) return;
  group_open_ = false;
  try {
    DB_RVX->Commit();
  } catch (...) {
    try {
      if (DB_RVX->InTransaction()) DB_RVX->Rollback();
    } catch (...) {
      // The commit's error is the one to report.
    }
    throw;
  }
}

void TDM_System::CommitDataIfDue() {
  if (group_open_ && platform::TickCount64() - group_started_ >= kDataGroupMs) CommitPendingData();
}

std::unique_ptr<TShaftDataSet> TDM_System::GetDataSet(const TRun& aRun,
                                                      const TMeassurement& aMeassurment, int steps,
                                                      const TStepProcedure& StepProcedure,
                                                      int aDataWindowSize,
                                                      int aMinimumDataSamplesInWindow) {
  CommitPendingData();
  auto set = std::make_unique<TShaftDataSet>(aDataWindowSize, aMinimumDataSamplesInWindow);
  auto step = [&] {
    if (StepProcedure) StepProcedure();
  };
  TVEZTable& t = DataReader(aMeassurment.ID);
  struct Row {
    std::int64_t id;
    platform::TDateTime time;
    bool isError;
    double power, torque, speed;
    bool hasPower, hasTorque, hasSpeed;
  };
  const double interval = steps > 0 ? (aRun.StopTime - aRun.StartTime) / steps : 0;
  int i = 0;
  std::uint32_t ordinal = 0;
  // Rows of equal time wait here and go out in ID order.
  std::vector<Row> pending;
  auto flush = [&] {
    std::sort(pending.begin(), pending.end(),
              [](const Row& a, const Row& b) { return a.id < b.id; });
    for (const Row& r : pending) {
      if (r.hasPower) set->AddPower(r.time, r.power, r.isError, ordinal);
      if (r.hasTorque) set->AddTorque(r.time, r.torque, r.isError, ordinal);
      if (r.hasSpeed) set->AddSpeed(r.time, r.speed, r.isError, ordinal);
      ++ordinal;
    }
    pending.clear();
  };
  {
    platform::Field& id = t.FieldByName("ID");
    platform::Field& time = t.FieldByName("Time");
    platform::Field& power = t.FieldByName("Power");
    platform::Field& torque = t.FieldByName("Torque");
    platform::Field& speed = t.FieldByName("Speed");
    platform::Field& error = t.FieldByName("IsError");
    platform::Field& measurement = t.FieldByName("MeasurementID");
    for (; InMeasurement(t, measurement, aMeassurment.ID); t.Next()) {
      Row r{};
      r.id = id.AsLargeInt();
      r.time = time.AsDateTime();
      r.isError = !error.IsNull() && error.AsBoolean();
      if (aRun.StartTime + i * interval < r.time && i < steps) {
        ++i;
        step();
      }
      r.hasPower = !power.IsNull();
      if (r.hasPower) r.power = power.AsFloat();
      r.hasTorque = !torque.IsNull();
      if (r.hasTorque) r.torque = torque.AsFloat();
      r.hasSpeed = !speed.IsNull();
      if (r.hasSpeed) r.speed = speed.AsFloat();
      if (!pending.empty() && pending.front().time != r.time) flush();
      pending.push_back(r);
    }
    flush();
  }
  for (; i < steps; ++i)
    step();
  return set;
}

// ---------------------------------------------------------------------------
// System row

std::string TDM_System::getReportPath() {
  CommitPendingData();
  TVEZTable& t = *TBL_System;
  t.SetFiltered(false);
  t.First();
  std::string folder = t.FieldByName("ReportFolder").AsString();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);  // failures show when writing
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

int TDM_System::GetRunningAverageWindowSize() {
  CommitPendingData();
  TBL_System->SetFiltered(false);
  TBL_System->First();
  return TBL_System->FieldByName("RunningAvgWindowSize").AsInteger();
}

int TDM_System::GetRunningAverageMinimumDataSamplesInWindow() {
  CommitPendingData();
  TBL_System->SetFiltered(false);
  TBL_System->First();
  return TBL_System->FieldByName("RunningAvgMinDataSamplesInWindow").AsInteger();
}

void TDM_System::SetSystemInteger(const char* fieldName, int value) {
  TVEZTable& t = *TBL_System;
  t.SetFiltered(false);
  t.First();
  t.Edit();
  try {
    t.FieldByName(fieldName).SetAsInteger(value);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

void TDM_System::SetRunningAverageWindowSize(int aValue) {
  CommitPendingData();
  SetSystemInteger("RunningAvgWindowSize", aValue);
}

void TDM_System::SetRunningAverageMinimumDataSamplesInWindow(int aValue) {
  CommitPendingData();
  SetSystemInteger("RunningAvgMinDataSamplesInWindow", aValue);
}

void TDM_System::GetSummarySelections(bool& make_CSV, bool& make_XLS, bool& make_PDF,
                                      bool& make_Print) {
  CommitPendingData();
  TBL_System->SetFiltered(false);
  TBL_System->First();
  platform::Field& f = TBL_System->FieldByName("SummaryOptions");
  const int options = f.IsNull() ? 0 : f.AsInteger();
  make_CSV = (options & 8) != 0;
  make_XLS = (options & 4) != 0;
  make_PDF = (options & 2) != 0;
  make_Print = (options & 1) != 0;
}

void TDM_System::SetSummarySelections(bool make_CSV, bool make_XLS, bool make_PDF,
                                      bool make_Print) {
  CommitPendingData();
  SetSystemInteger("SummaryOptions", (make_CSV ? 8 : 0) + (make_XLS ? 4 : 0) + (make_PDF ? 2 : 0) +
                                         (make_Print ? 1 : 0));
}

// ---------------------------------------------------------------------------
// Link settings

void TDM_System::EnsureComIndexExists(int aIndex, const std::string& aComMode) {
  CommitPendingData();
  if (FindById(*TBL_Com, aIndex)) return;
  TBL_Com->AppendRecord({IntValue(aIndex), Variant::FromString(aComMode)});
}

std::string TDM_System::getComMode(int aIndex) {
  CommitPendingData();
  if (!TBL_Com->FindKey({IntValue(aIndex)})) return {};
  return TBL_Com->FieldByName("Mode").AsString();
}

void TDM_System::setComMode(int aIndex, const std::string& aComMode) {
  CommitPendingData();
  TVEZTable& t = *TBL_Com;
  if (!FindById(t, aIndex)) return;
  t.Edit();
  try {
    t.FieldByName("Mode").SetAsString(aComMode);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

std::unique_ptr<TComPort> TDM_System::getCom(int ComID) {
  CommitPendingData();
  TVEZTable& t = *TBL_Com;
  SetFilter(t, "ID=" + Num(ComID));
  t.First();
  auto port =
      std::make_unique<TComPort>(ComID, t.Eof() ? std::string() : t.FieldByName("Mode").AsString());
  // The key lookups of the link settings expect an unfiltered table.
  t.SetFiltered(false);
  return port;
}

void TDM_System::EnsureAutoComRow(int aIndex) {
  if (FindById(*TBL_AutoCom, aIndex)) return;
  TBL_AutoCom->AppendRecord(
      {IntValue(aIndex), IntValue(DefaultAutoComPort(aIndex)), IntValue(kDefaultBaud)});
  FindById(*TBL_AutoCom, aIndex);
}

void TDM_System::EnsureDemoComRow(int aIndex) {
  if (FindById(*TBL_DemoCom, aIndex)) return;
  TBL_DemoCom->AppendRecord({IntValue(aIndex), IntValue(kDefaultDemoInterval),
                             IntValue(kDefaultDemoPower), IntValue(kDefaultDemoSpeed),
                             Variant::FromDouble(kDefaultDemoSpikeChance)});
  FindById(*TBL_DemoCom, aIndex);
}

int TDM_System::GetAutoComPort(int aIndex) {
  CommitPendingData();
  EnsureAutoComRow(aIndex);
  return TBL_AutoCom->FieldByName("Port").AsInteger();
}

int TDM_System::GetAutoComBaud(int aIndex) {
  CommitPendingData();
  EnsureAutoComRow(aIndex);
  return TBL_AutoCom->FieldByName("Baud").AsInteger();
}

void TDM_System::SetAutoComSettings(int aIndex, int aBaud, int aPort) {
  CommitPendingData();
  EnsureAutoComRow(aIndex);
  TVEZTable& t = *TBL_AutoCom;
  if (!FindById(t, aIndex)) return;
  t.Edit();
  try {
    t.FieldByName("Baud").SetAsInteger(aBaud);
    t.FieldByName("Port").SetAsInteger(aPort);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

int TDM_System::GetDemoComInterval(int aIndex) {
  CommitPendingData();
  EnsureDemoComRow(aIndex);
  return TBL_DemoCom->FieldByName("TimerInterval").AsInteger();
}

int TDM_System::GetDemoComPower(int aIndex) {
  CommitPendingData();
  EnsureDemoComRow(aIndex);
  return TBL_DemoCom->FieldByName("Power").AsInteger();
}

int TDM_System::GetDemoComSpeed(int aIndex) {
  CommitPendingData();
  EnsureDemoComRow(aIndex);
  return TBL_DemoCom->FieldByName("Speed").AsInteger();
}

double TDM_System::GetDemoComSpikeChance(int aIndex) {
  CommitPendingData();
  EnsureDemoComRow(aIndex);
  return TBL_DemoCom->FieldByName("SpikeChance").AsFloat();
}

void TDM_System::SetDemoComSettings(int aIndex, int aInterval, int aPower, int aSpeed,
                                    double aSpikeChance) {
  CommitPendingData();
  TVEZTable& t = *TBL_DemoCom;
  if (!FindById(t, aIndex)) return;
  t.Edit();
  try {
    t.FieldByName("TimerInterval").SetAsInteger(aInterval);
    t.FieldByName("Power").SetAsInteger(aPower);
    t.FieldByName("Speed").SetAsInteger(aSpeed);
    t.FieldByName("SpikeChance").SetAsFloat(aSpikeChance);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

// ---------------------------------------------------------------------------
// Error log

std::size_t TDM_System::RowCount() {
  TBL_ErrorLog->SetFiltered(false);
  return static_cast<std::size_t>(std::max(0, TBL_ErrorLog->RecordCount()));
}

void TDM_System::DeleteOldestRow() {
  // The lowest ID is the oldest row wherever the engine stored it.
  TVEZTable& t = *TBL_ErrorLog;
  t.SetFiltered(false);
  platform::Field& id = t.FieldByName("ID");
  std::int64_t lowest = std::numeric_limits<std::int64_t>::max();
  platform::TBookmark oldest;
  for (t.First(); !t.Eof(); t.Next()) {
    const std::int64_t v = id.AsLargeInt();
    if (v < lowest) {
      lowest = v;
      oldest = t.GetBookmark();
    }
  }
  if (lowest == std::numeric_limits<std::int64_t>::max()) return;
  t.GotoBookmark(oldest);
  t.Delete();
}

void TDM_System::AppendRow(platform::TDateTime Time, const std::string& UnitName,
                           const std::string& FunctionName, const std::string& Message) {
  TBL_ErrorLog->SetFiltered(false);
  TBL_ErrorLog->AppendRecord({Variant(), Variant::FromDate(Time), Variant::FromString(UnitName),
                              Variant::FromString(FunctionName), Variant::FromString(Message)});
}

}  // namespace rvx
