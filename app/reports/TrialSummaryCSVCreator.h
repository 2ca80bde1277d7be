// TTRialSummaryCSVCreator: the trial summary as a comma-separated text
// file, one line per run: start date and time, the run name in double
// quotes, the duration, and per shaft the means of power, speed and torque
// after Chauvenet's filter, in display units (power and torque without
// decimals, speed with one).
//
//   Date,Time,Run Name,Duration,Power(kW),Speed(rpm),Torque(kNm),
//   01/02/2024,10:00:00,"Run 1",00:30:00,8500,85.3,955
//
// The twin-shaft layout heads six value columns (P.Power .. S.Torque); a run
// with a second shaft then adds its three values, a one-shaft run ends after
// its first shaft's. The head line ends with a comma, data lines do not. A
// quote inside a run name is doubled, so any name stays one field. A run
// without any recorded shaft leaves its three value fields empty.
//
// Errors: a file that cannot be created or written raises
// platform::EOSError; the lines written so far stay.
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <vector>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/RunData.h"

namespace rvx {

// The three mean texts of one shaft in a summary: the filtered means x the
// factors; power and torque fixed with no decimals (at most 6 integer
// digits), speed with one decimal (at most 4 significant digits).
struct TSummaryShaftTexts {
  std::string Power;
  std::string Speed;
  std::string Torque;
};
TSummaryShaftTexts SummaryShaftTexts(TShaftDataSet& shaft, const DisplaySettings& settings);

// The layout has columns for a second shaft: some run recorded exactly two.
bool IsTwinShaftSummary(const std::vector<RunData*>& runDataSets);

class TTRialSummaryCSVCreator {
 public:
  // aConfigurationManager must outlive the creator.
  explicit TTRialSummaryCSVCreator(const DisplaySettings& aConfigurationManager);
  TTRialSummaryCSVCreator(const TTRialSummaryCSVCreator&) = delete;
  TTRialSummaryCSVCreator& operator=(const TTRialSummaryCSVCreator&) = delete;

  // Writes (or overwrites) the whole file, runs in list order.
  void Generate(const std::vector<RunData*>& runDataSets, bool isTwinShafts,
                const std::string& aFilename);

 private:
  const DisplaySettings& FConfigurationManager;
};

}  // namespace rvx
