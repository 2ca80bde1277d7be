// TQR_SeaTrial: the trial summary report. A header with the vessel and
// trial, a table head, and one line per run with its start date and time,
// name, duration and the means of power, speed and torque after Chauvenet's
// filter (display units, FormatValue), followed by a "Stbd" line with the
// second shaft's means for a two-shaft run. The "Shaft" head and the shaft
// names show only when some run recorded more than one shaft. A run without
// any recorded shaft gets its line with empty values.
//
// The constructor fills every text (building the statistics). The report
// borrows the run data sets and the settings: they must outlive it.
//
// Errors: as TQR_Run.
//
// Thread safety: GUI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/RunData.h"
#include "app/reports/BandReport.h"

class QPagedPaintDevice;

namespace rvx {

class TQR_SeaTrial {
 public:
  static constexpr const char* kReportTitle = "Trelmar Voyage Report";

  // One printed line: a run line or a second-shaft line.
  struct TLine {
    bool IsRunLine = true;
    std::string RunStartDate, RunStartTime, RunName, RunDurationText;
    std::string ShaftName;
    std::string AvgPower, AvgSpeed, AvgTorque;
  };

  TQR_SeaTrial(const DisplaySettings& aConfigurationManager,
               const std::vector<RunData*>& runDataSets);
  TQR_SeaTrial(const TQR_SeaTrial&) = delete;
  TQR_SeaTrial& operator=(const TQR_SeaTrial&) = delete;

  const TBandReport& Report() const { return *report_; }
  const std::vector<TLine>& Lines() const { return lines_; }
  void Render(QPagedPaintDevice& device) const { report_->Render(device); }
  void WritePdf(const std::string& path) const { report_->WritePdf(path); }

 private:
  void FillHeader();
  // The run line of run data set i and its second-shaft lines.
  void QRLoopBand1BeforePrint(std::size_t i);
  void BuildBands();

  const DisplaySettings& FConfigurationManager;
  const std::vector<RunData*>& FRunDataSets;
  std::string vessel_name_, trial_name_, power_units_, speed_units_, torque_units_;
  bool shaft_label_enabled_ = false;
  std::vector<TLine> lines_;
  std::unique_ptr<TBandReport> report_;
};

}  // namespace rvx
