// Record copying between datasets, and the query for tables a restructure
// left behind. The table component's restructure, import, export and copy
// (VEZTable.h) run their rows through CopyDataSetRecords; the batch move and
// the SQL engine's INSERT ... SELECT use it too.
//
// Thread safety: as the datasets'; the leftover query as the database's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/api/VEZTable.h"

namespace vez {

class TVEZDatabase;

// Copies every record of source (from its first) into dest by inserting and
// posting one record each. A source column goes to the dest column of the
// same name; with match_by_object_id and two tables, first to the column at
// the position of source's RestructureFieldDefs entry with the column's
// object id. Log gets one CR LF line per failed value, failed post and
// unreadable record; without ignore_errors the first failure passes on.
// on_progress is called every min(step, 30) records with a percent between
// min_progress and max_progress; clearing cont stops after the current
// record ("Terminated by User."). Source is left on the record it was on.
// A source that cannot move past a record ends the copy (logged). True when
// every record was copied without error and not stopped. owner names the
// table in log lines when it is a TVEZTable. after_row, when given, is called
// after each record's post (whether or not it was stored).
bool CopyDataSetRecords(platform::Component* owner, platform::DataSet& source,
                        platform::DataSet& dest, std::string& log, bool& cont, bool ignore_errors,
                        bool match_by_object_id, const TVEZTable::TVEZProgressEvent& on_progress,
                        int min_progress, int max_progress,
                        const std::function<void()>& after_row = {});

// Whether name is a restructure's name for an old copy of a table:
// "OLD_<table>_{GUID}" (the prefix in any letter case, a non-empty table
// name, the GUID in its braced text form).
bool IsRestructureLeftoverName(std::string_view name);

// The tables of the database that a restructure left behind under an
// "OLD_<table>_{GUID}" name, in the database's order. Nothing is deleted;
// errors of the database pass on.
std::vector<std::string> RestructureLeftoverTables(TVEZDatabase& database);

}  // namespace vez
