#include "app/storage/ConfigurationManager.h"

#include <QLocale>

#include <cmath>
#include <limits>

#include "app/acquisition/LinkSettingsStore.h"
#include "app/storage/DMSystem.h"
#include "platform/core/Exceptions.h"
#include "platform/core/FormatSettings.h"

namespace rvx {

TConfigurationManager::TConfigurationManager(TDM_System& aDMSystem)
    : FDMSystem(aDMSystem), FComModes{kComModeAuto, kComModeDemo} {
  FDataWindowSize = FDMSystem.GetRunningAverageWindowSize();
  FMinimumDataSamplesInWindow = FDMSystem.GetRunningAverageMinimumDataSamplesInWindow();
  platform::SetFormatSettings(platform::TFormatSettings::EnGB());
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
}

void TConfigurationManager::Initialize(int aTrialId) {
  std::unique_ptr<TTrial> trial = FDMSystem.GetTrialById(aTrialId);
  if (!trial)
    throw platform::Exception("The log holds no trial with ID " + std::to_string(aTrialId));
  std::unique_ptr<TVessel> vessel = FDMSystem.GetVesselById(trial->VesselID);
  if (!vessel)
    throw platform::Exception("The log holds no vessel with ID " + std::to_string(trial->VesselID));
  FTrial = *trial;
  FVessel = *vessel;
  SetupUnits();
}

bool TConfigurationManager::IsMetric(const std::string& units) {
  std::string upper = units;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper == "METRIC";
}

void TConfigurationManager::SetupUnits() {
  const bool metric = IsMetric(FVessel.Units);
  FPowerUnit = metric ? "SHp" : "kW";
  FTorqueUnit = metric ? "Tm" : "kNm";
  FSpeedUnit = "rpm";
  SetupFactors();
}

void TConfigurationManager::SetupFactors() {
  const bool metric = IsMetric(FVessel.Units);
  FPowerFactor = metric ? 1.3596 : 1.0;
  FSpeedFactor = 1.0;
  FTorqueFactor = metric ? 0.10197 : 1.0;
}

int TConfigurationManager::RoundHalfEven(double value) {
  const double lower = std::floor(value);
  const double diff = value - lower;
  double r = lower;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(lower, 2.0) != 0)) r = lower + 1;
  if (!(r >= std::numeric_limits<int>::min() && r <= std::numeric_limits<int>::max()))
    throw platform::EIntOverflow();
  return static_cast<int>(r);
}

int TConfigurationManager::PowerMCR() const {
  return RoundHalfEven(FPowerFactor * FVessel.MCRPower);
}

int TConfigurationManager::SpeedMCR() const {
  return RoundHalfEven(FSpeedFactor * FVessel.MCRSpeed);
}

int TConfigurationManager::TorqueMCR() const {
  return RoundHalfEven(FTorqueFactor * FVessel.MCRTorque);
}

void TConfigurationManager::SetDataWindowSize(int aValue) {
  FDataWindowSize = aValue;
  FDMSystem.SetRunningAverageWindowSize(aValue);
}

void TConfigurationManager::SetMinimumDataSamplesInWindow(int aValue) {
  FMinimumDataSamplesInWindow = aValue;
  FDMSystem.SetRunningAverageMinimumDataSamplesInWindow(aValue);
}

}  // namespace rvx
