// DisplaySettings: what the whole application reads about the current use of
// the program: the moving-average settings, the link modes, the selected
// vessel and trial (names, number of shafts, units and MCR values) and the
// factors that turn stored SI values (kW, rpm, kNm) into displayed ones. The
// configuration manager implements it; tests use an in-memory version.
//
// The moving-average settings are stored at once when written. The vessel
// and trial figures are valid once a trial has been chosen.
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <vector>

namespace rvx {

class DisplaySettings {
 public:
  DisplaySettings() = default;
  DisplaySettings(const DisplaySettings&) = delete;
  DisplaySettings& operator=(const DisplaySettings&) = delete;
  virtual ~DisplaySettings() = default;

  // Moving average: window size in samples and good samples needed in it.
  virtual int DataWindowSize() const = 0;
  virtual void SetDataWindowSize(int aValue) = 0;
  virtual int MinimumDataSamplesInWindow() const = 0;
  virtual void SetMinimumDataSamplesInWindow(int aValue) = 0;

  // The link modes, serial meter first ("RVS Auto-send", "Demo").
  virtual const std::vector<std::string>& ComModes() const = 0;

  virtual int NumberOfShafts() const = 0;
  virtual int TrialId() const = 0;
  virtual std::string VesselName() const = 0;
  virtual std::string TrialName() const = 0;

  // The vessel's units text as stored ("SI", "Metric").
  virtual std::string Units() const = 0;
  // "kW" or "SHp", "rpm", "kNm" or "Tm".
  virtual std::string PowerUnit() const = 0;
  virtual std::string SpeedUnit() const = 0;
  virtual std::string TorqueUnit() const = 0;
  // Displayed value = stored value x factor.
  virtual double PowerFactor() const = 0;
  virtual double SpeedFactor() const = 0;
  virtual double TorqueFactor() const = 0;
  // The vessel's MCR values in display units, whole numbers.
  virtual int PowerMCR() const = 0;
  virtual int SpeedMCR() const = 0;
  virtual int TorqueMCR() const = 0;
};

}  // namespace rvx
