// TQR_Run: the run report. A header with the vessel, trial, run, period and
// duration, the run's comments, and per shaft (a page each) the statistics
// after Chauvenet's filter (MCR, mean and its percentage of MCR, minimum,
// maximum, standard deviation, sample, outlier and error counts) above a
// chart of the samples the filter kept. Figures are in display units.
//
// The constructor fills every text and chart (building the shafts'
// statistics), so rendering only paints. The report borrows the run and the
// settings: both must outlive it and stay unchanged meanwhile.
//
// A two-shaft run titles its shafts "Shaft data (Port):" and "Shaft data
// (Stbd):", any other "Shaft data:". An MCR of 0 in display units shows
// "(NA % MCR)". The chart's vertical axes centre on the filtered means
// (AxisMinimum .. AxisMaximum); a quantity without kept samples keeps its
// axis at 0 .. its interval (0.2 x MCR), a run without any at its start ..
// stop time.
//
// Errors: building passes any error of the statistics on; rendering raises
// as TBandReport does.
//
// Thread safety: GUI thread only.
#pragma once

#include <QColor>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/RunData.h"
#include "app/reports/BandReport.h"
#include "app/reports/ReportChart.h"

class QPagedPaintDevice;

namespace rvx {

class TQR_Run {
 public:
  // The report's title, the PDF's title and the print job's name.
  static constexpr const char* kReportTitle = "Trelmar Voyage Report";

  // The figures of one quantity of one shaft band.
  struct TQuantityTexts {
    std::string Caption;  // "Power", "Speed", "Torque"
    QColor Colour;
    std::string Mcr;      // "(MCR: 10000 kW)"
    std::string Mean;     // "8500 kW"
    std::string Percent;  // "(85.0 % MCR)"
    std::string Min;
    std::string Max;
    std::string StdDev;
    std::string Samples;
    std::string Outliers;
    std::string Errors;
  };
  struct TShaftBand {
    std::string Title;  // "Shaft data (Port):"
    std::array<TQuantityTexts, 3> Quantities;
    TReportChart Chart;
  };

  TQR_Run(const DisplaySettings& aConfigurationManager, RunData& aRun);
  TQR_Run(const TQR_Run&) = delete;
  TQR_Run& operator=(const TQR_Run&) = delete;

  const TBandReport& Report() const { return *report_; }
  const std::vector<TShaftBand>& ShaftBands() const { return shaft_bands_; }
  void Render(QPagedPaintDevice& device) const { report_->Render(device); }
  void WritePdf(const std::string& path) const { report_->WritePdf(path); }

 private:
  void SetMCRIntervals();
  void FillHeader();
  // Fills the band of shaft i (the shaft band's pass count).
  void QRLoopBand1BeforePrint(std::size_t i);
  void FillChart(TReportChart& chart, TShaftDataSet& data) const;
  void BuildBands();

  const DisplaySettings& FConfigurationManager;
  RunData& FRun;
  double FPowerInterval = 0;
  double FSpeedInterval = 0;
  double FTorqueInterval = 0;
  platform::TDateTime Interval = 0;

  std::string vessel_name_, trial_name_, run_name_, start_text_, stop_text_, duration_text_;
  std::string comments_;
  std::vector<TShaftBand> shaft_bands_;
  std::unique_ptr<TBandReport> report_;
};

}  // namespace rvx
