// TConfigurationManager: the current use of the program, read by every
// panel, report and dialog: the selected trial and its vessel, the display
// units and the factors that turn stored SI values into displayed ones, the
// MCR values in display units, the moving-average settings (stored in the
// System row at once when written) and the link modes.
//
// Construction reads the moving-average settings and sets the process-wide
// format settings to en-GB (decimal point, day/month/year), for the engine's
// formatting and for Qt's default locale alike, whatever LANG says.
// Initialize reads the chosen trial and its vessel; until then the vessel
// and trial figures are those of an empty SI vessel.
//
// Units: the vessel's Units text upper-cased equal to "METRIC" displays SHp
// (x 1.3596) and Tm (x 0.10197); anything else kW and kNm (x 1). Speed is
// always rpm (x 1). MCR values: factor x stored value, to the nearest whole
// number, halves to the even neighbour.
//
// Errors: engine errors while reading the System row, the trial or the
// vessel pass to the caller; Initialize raises for a trial or vessel the log
// does not hold.
//
// Thread safety: main thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/DisplaySettings.h"
#include "app/storage/LogRecords.h"

namespace rvx {

class TDM_System;

class TConfigurationManager : public DisplaySettings {
 public:
  // aDMSystem must outlive the manager.
  explicit TConfigurationManager(TDM_System& aDMSystem);

  void Initialize(int aTrialId);

  int DataWindowSize() const override { return FDataWindowSize; }
  void SetDataWindowSize(int aValue) override;
  int MinimumDataSamplesInWindow() const override { return FMinimumDataSamplesInWindow; }
  void SetMinimumDataSamplesInWindow(int aValue) override;
  const std::vector<std::string>& ComModes() const override { return FComModes; }

  int NumberOfShafts() const override { return FVessel.Shafts; }
  int TrialId() const override { return FTrial.ID; }
  std::string VesselName() const override { return FVessel.name; }
  std::string TrialName() const override { return FTrial.name; }
  std::string Units() const override { return FVessel.Units; }
  std::string PowerUnit() const override { return FPowerUnit; }
  std::string SpeedUnit() const override { return FSpeedUnit; }
  std::string TorqueUnit() const override { return FTorqueUnit; }
  double PowerFactor() const override { return FPowerFactor; }
  double SpeedFactor() const override { return FSpeedFactor; }
  double TorqueFactor() const override { return FTorqueFactor; }
  int PowerMCR() const override;
  int SpeedMCR() const override;
  int TorqueMCR() const override;

  const TVessel& Vessel() const { return FVessel; }
  const TTrial& Trial() const { return FTrial; }

  // value to the nearest integer, halves to the even neighbour.
  static int RoundHalfEven(double value);

 private:
  static bool IsMetric(const std::string& units);
  void SetupUnits();
  void SetupFactors();

  TDM_System& FDMSystem;
  int FDataWindowSize = 0;
  int FMinimumDataSamplesInWindow = 0;
  TTrial FTrial;
  TVessel FVessel;
  std::string FPowerUnit = "kW";
  std::string FSpeedUnit = "rpm";
  std::string FTorqueUnit = "kNm";
  double FPowerFactor = 1.0;
  double FSpeedFactor = 1.0;
  double FTorqueFactor = 1.0;
  std::vector<std::string> FComModes;
};

}  // namespace rvx
