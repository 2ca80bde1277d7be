// TTRialSummaryXLSCreator: the trial summary as a spreadsheet (.xlsx), one
// row per run from row 5 (rows and columns counted from 0), on a landscape
// page:
//
//   row 0, column 2: the report title; rows 1 and 2: vessel and trial;
//   row 3: "PORT" (column 5) and "STARBOARD" (column 8), twin-shaft only;
//   row 4: Date, Time, Run Name, Duration and the power, speed and torque
//   heads with their units (again in columns 7 to 9 for twin shafts);
//   row 5 + i: run i: its start date as a date cell, its start time of day
//   ("HH:MM:SS" text), name, duration text and the means of the first shaft
//   as number cells in columns 4 to 6 (second shaft: 7 to 9).
//
// Heads are Arial bold, underlined, blue; values regular, black, 10 pt.
// Widths: columns 0 and 1: 12, column 2: 31, columns 3 to 9: 14 characters.
// Number cells hold the values as the summary texts show them (power and
// torque whole, speed to one decimal), with the matching number format.
//
// The start time of day is the start time rounded to the millisecond, then
// cut to whole seconds, so 10:00:00 stored as a day fraction reads 10:00:00.
//
// Errors: a failure of the spreadsheet library (the file cannot be created,
// a text too long for a cell) raises platform::Exception with its text; no
// file is written then, or the library's partial one.
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <vector>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/RunData.h"
#include "platform/core/DateTime.h"

namespace rvx {

// hh:nn:ss of a start time: rounded to the millisecond (a time that rounds
// to midnight belongs to the next day), milliseconds dropped.
std::string FormatTimeOfDay(platform::TDateTime time);

class TTRialSummaryXLSCreator {
 public:
  // aConfigurationManager must outlive the creator.
  explicit TTRialSummaryXLSCreator(const DisplaySettings& aConfigurationManager);
  TTRialSummaryXLSCreator(const TTRialSummaryXLSCreator&) = delete;
  TTRialSummaryXLSCreator& operator=(const TTRialSummaryXLSCreator&) = delete;

  // Writes (or overwrites) the whole file, runs in list order.
  void Generate(const std::vector<RunData*>& runDataSets, bool isTwinShafts,
                const std::string& aFilename);

 private:
  const DisplaySettings& FConfigurationManager;
};

}  // namespace rvx
