#include "app/acquisition/ErrorManager.h"

#include "app/util/Utils.h"

namespace rvx {

std::shared_ptr<TErrorManager> TErrorManager::Create(
    DisplaySettings& aConfigurationManager, std::vector<std::shared_ptr<IShaft>>& aShaftList,
    ErrorLog& aDMSystem) {
  auto manager = std::make_shared<TErrorManager>(aConfigurationManager, aShaftList, aDMSystem);
  for (const std::shared_ptr<IShaft>& shaft : aShaftList)
    shaft->RegisterObserver(manager);
  return manager;
}

TErrorManager::TErrorManager(DisplaySettings& aConfigurationManager,
                             std::vector<std::shared_ptr<IShaft>>& aShaftList, ErrorLog& aDMSystem)
    : FConfigurationManager(aConfigurationManager), FShaftList(aShaftList), FDMSystem(aDMSystem) {}

void TErrorManager::Disconnect() {
  for (const std::shared_ptr<IShaft>& shaft : FShaftList)
    shaft->RemoveObserver(this);
}

std::string TErrorManager::UnitName(int aShaftIndex) const {
  return "Shaft: " + ShaftName(aShaftIndex, FConfigurationManager.NumberOfShafts());
}

void TErrorManager::UpdateCheckSumError(int aShaftIndex, const std::string& aRawData,
                                        const TDataValue*, const TDataValue*, const TDataValue*) {
  FDMSystem.newError(UnitName(aShaftIndex), "Checksum error", aRawData, ErrorLog::kLog);
}

void TErrorManager::UpdateTorqueError(int aShaftIndex, const std::string& aRawData,
                                      const TDataValue*, const TDataValue*, const TDataValue*) {
  FDMSystem.newError(UnitName(aShaftIndex), "Torque 0.0 error", aRawData, ErrorLog::kLog);
}

}  // namespace rvx
