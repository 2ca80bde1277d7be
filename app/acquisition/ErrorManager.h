// TErrorManager: the observer that writes every shaft's checksum and torque
// errors to the error log, one row per flag at level 10 (no box):
//   unit "Shaft: " + the shaft's name ("Port Shaft", "Starboard Shaft", or
//   nothing on a one-shaft vessel), cut to 20 characters by the log;
//   function "Checksum error" or "Torque 0.0 error"; message the sentence as
//   received (the simulated meter's "N/A - Demo mode").
// The other notifications are ignored. It holds no shaft: the main window's
// list is only looked at by Create and Disconnect.
//
// Errors: the log's errors pass to the shaft, and from there to the link
// that reports them.
//
// Thread safety: GUI thread only.
#pragma once

#include <memory>
#include <vector>

#include "app/acquisition/Shaft.h"

namespace rvx {

class TErrorManager : public IShaftObserver {
 public:
  // A manager registered with every shaft of aShaftList, in list order. The
  // list and both references must outlive the manager's registrations.
  static std::shared_ptr<TErrorManager> Create(DisplaySettings& aConfigurationManager,
                                               std::vector<std::shared_ptr<IShaft>>& aShaftList,
                                               ErrorLog& aDMSystem);

  TErrorManager(DisplaySettings& aConfigurationManager,
                std::vector<std::shared_ptr<IShaft>>& aShaftList, ErrorLog& aDMSystem);

  // Removes itself from every shaft of the list.
  void Disconnect();

  void UpdateValues(const TDataValue*, const TDataValue*, const TDataValue*) override {}
  void UpdateRunningAverageValues(const TDataValue*, const TDataValue*,
                                  const TDataValue*) override {}
  void UpdateHasCommunication(bool) override {}
  void UpdateCheckSumError(int aShaftIndex, const std::string& aRawData, const TDataValue* aPower,
                           const TDataValue* aTorque, const TDataValue* aSpeed) override;
  void UpdateTorqueError(int aShaftIndex, const std::string& aRawData, const TDataValue* aPower,
                         const TDataValue* aTorque, const TDataValue* aSpeed) override;

 private:
  std::string UnitName(int aShaftIndex) const;

  DisplaySettings& FConfigurationManager;
  std::vector<std::shared_ptr<IShaft>>& FShaftList;
  ErrorLog& FDMSystem;
};

}  // namespace rvx
