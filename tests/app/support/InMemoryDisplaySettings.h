// Test stand-in: display settings held in plain fields. The defaults are a
// one-shaft SI vessel with the program's moving-average defaults (window 5,
// minimum 5); tests set what they need. The moving-average writers count
// their stores, as the real ones store at once.
#pragma once

#include <string>
#include <vector>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/LinkSettingsStore.h"

namespace rvx::test {

class InMemoryDisplaySettings : public DisplaySettings {
 public:
  int DataWindowSize() const override { return data_window_size; }
  void SetDataWindowSize(int aValue) override {
    data_window_size = aValue;
    ++stores;
  }
  int MinimumDataSamplesInWindow() const override { return minimum_data_samples; }
  void SetMinimumDataSamplesInWindow(int aValue) override {
    minimum_data_samples = aValue;
    ++stores;
  }
  const std::vector<std::string>& ComModes() const override { return com_modes; }
  int NumberOfShafts() const override { return number_of_shafts; }
  int TrialId() const override { return trial_id; }
  std::string VesselName() const override { return vessel_name; }
  std::string TrialName() const override { return trial_name; }
  std::string Units() const override { return units; }
  std::string PowerUnit() const override { return power_unit; }
  std::string SpeedUnit() const override { return speed_unit; }
  std::string TorqueUnit() const override { return torque_unit; }
  double PowerFactor() const override { return power_factor; }
  double SpeedFactor() const override { return speed_factor; }
  double TorqueFactor() const override { return torque_factor; }
  int PowerMCR() const override { return power_mcr; }
  int SpeedMCR() const override { return speed_mcr; }
  int TorqueMCR() const override { return torque_mcr; }

  int data_window_size = 5;
  int minimum_data_samples = 5;
  int stores = 0;
  std::vector<std::string> com_modes{kComModeAuto, kComModeDemo};
  int number_of_shafts = 1;
  int trial_id = 1;
  std::string vessel_name = "Test Vessel";
  std::string trial_name = "Test Trial";
  std::string units = "SI";
  std::string power_unit = "kW";
  std::string speed_unit = "rpm";
  std::string torque_unit = "kNm";
  double power_factor = 1.0;
  double speed_factor = 1.0;
  double torque_factor = 1.0;
  int power_mcr = 8000;
  int speed_mcr = 100;
  int torque_mcr = 764;
};

}  // namespace rvx::test
