// The sea-trial log's ten tables as the application declares them on a
// table component (field and index definitions), for tests and benchmarks
// that drive the table component the way the log database adapter does.
#pragma once

#include <string>
#include <vector>

#include "dbengine/api/VEZTable.h"
#include "platform/dataset/FieldDefs.h"
#include "platform/dataset/FieldType.h"

namespace vez::test {

struct LogColumn {
  const char* name;
  platform::TFieldType type;
  int size;  // text columns only; 0 means the default size
  bool required;
};

struct LogTable {
  const char* name;
  std::vector<LogColumn> columns;
  const char* index_fields;  // "" when the table has no index
  bool primary_current;      // IndexName "Primary" after opening
};

inline const std::vector<LogTable>& LogTables() {
  using namespace platform;
  static const std::vector<LogTable> tables = {
      {"System",
       {{"Version", ftString, 20, true},
        {"ReportFolder", ftString, 150, false},
        {"SummaryOptions", ftInteger, 0, false},
        {"PowerChartOffset", ftFloat, 0, false},
        {"SpeedChartOffset", ftFloat, 0, false},
        {"TorqueChartOffset", ftFloat, 0, false},
        {"RunningAvgWindowSize", ftInteger, 0, false},
        {"RunningAvgMinDataSamplesInWindow", ftInteger, 0, false}},
       "",
       false},
      {"Com", {{"ID", ftAutoInc, 0, true}, {"Mode", ftString, 40, false}}, "ID", true},
      {"Vessels",
       {{"ID", ftAutoInc, 0, true},
        {"Name", ftString, 30, false},
        {"Shafts", ftInteger, 0, false},
        {"MCRPower", ftInteger, 0, false},
        {"MCRSpeed", ftInteger, 0, false},
        {"MCRTorque", ftInteger, 0, false},
        {"Units", ftString, 20, false}},
       "ID",
       true},
      {"Trials",
       {{"ID", ftAutoInc, 0, true},
        {"Name", ftString, 50, false},
        {"VesselID", ftInteger, 0, false}},
       "ID",
       true},
      {"Runs",
       {{"ID", ftAutoInc, 0, true},
        {"TrialID", ftInteger, 0, false},
        {"Name", ftString, 30, false},
        {"StartTime", ftDateTime, 0, false},
        {"StopTime", ftDateTime, 0, false},
        {"Comments", ftString, 500, false}},
       "ID",
       true},
      {"Measurements",
       {{"ID", ftAutoInc, 0, true},
        {"RunID", ftInteger, 0, false},
        {"ShaftID", ftInteger, 0, false},
        {"AvgPower", ftFloat, 0, false},
        {"AvgSpeed", ftFloat, 0, false},
        {"AvgTorque", ftFloat, 0, false}},
       "ID",
       true},
      {"Data",
       {{"ID", ftAutoInc, 0, true},
        {"MeasurementID", ftFloat, 0, false},
        {"Time", ftDateTime, 0, false},
        {"Power", ftFloat, 0, false},
        {"Speed", ftFloat, 0, false},
        {"Torque", ftFloat, 0, false},
        {"IsError", ftBoolean, 0, false}},
       "MeasurementID;Time",
       false},
      {"ErrorLog",
       {{"ID", ftAutoInc, 0, true},
        {"Time", ftDateTime, 0, false},
        {"UnitName", ftString, 20, false},
        {"FunctionName", ftString, 20, false},
        {"Message", ftString, 60, false}},
       "",
       false},
      {"auto",
       {{"ID", ftInteger, 0, false}, {"Port", ftInteger, 0, false}, {"Baud", ftInteger, 0, false}},
       "ID",
       true},
      {"Demo",
       {{"ID", ftInteger, 0, false},
        {"TimerInterval", ftInteger, 0, false},
        {"Power", ftInteger, 0, false},
        {"Speed", ftInteger, 0, false},
        {"SpikeChance", ftFloat, 0, false}},
       "ID",
       true},
  };
  return tables;
}

inline const LogTable& LogTableNamed(const std::string& name) {
  for (const LogTable& t : LogTables())
    if (name == t.name) return t;
  throw std::logic_error("no log table " + name);
}

// Declares the table's columns and (unless without_index) its index on a
// closed table component, as the adapter does before creating or opening.
inline void DeclareLogTable(TVEZTable& table, const LogTable& table_def,
                            bool without_index = false) {
  table.SetTableName(table_def.name);
  table.FieldDefs().Clear();
  table.IndexDefs().Clear();
  for (const LogColumn& c : table_def.columns)
    table.FieldDefs().Add(c.name, c.type, c.size, c.required);
  if (!without_index && *table_def.index_fields != '\0')
    table.IndexDefs().Add("Primary", table_def.index_fields, 0);
}

}  // namespace vez::test
