#include "tests/app/support/RecordingShaftObserver.h"

namespace rvx::test {

namespace {

std::optional<RecordingShaftObserver::Value> Copy(const TDataValue* value) {
  if (!value) return std::nullopt;
  return RecordingShaftObserver::Value{value->Value(), value->IsError()};
}

RecordingShaftObserver::Triple CopyAll(const TDataValue* p, const TDataValue* t,
                                       const TDataValue* s) {
  return {Copy(p), Copy(t), Copy(s)};
}

}  // namespace

void RecordingShaftObserver::Record(const std::string& call) {
  if (before_call) before_call(call);
  log_->push_back(name_.empty() ? call : name_ + ":" + call);
}

void RecordingShaftObserver::UpdateValues(const TDataValue* aPower, const TDataValue* aTorque,
                                          const TDataValue* aSpeed) {
  Record("UpdateValues");
  values.push_back(CopyAll(aPower, aTorque, aSpeed));
}

void RecordingShaftObserver::UpdateRunningAverageValues(const TDataValue* aPower,
                                                        const TDataValue* aTorque,
                                                        const TDataValue* aSpeed) {
  Record("UpdateRunningAverageValues");
  averages.push_back(CopyAll(aPower, aTorque, aSpeed));
}

void RecordingShaftObserver::UpdateHasCommunication(bool aHasCommunication) {
  Record("UpdateHasCommunication");
  communication.push_back(aHasCommunication);
}

void RecordingShaftObserver::UpdateCheckSumError(int aShaftIndex, const std::string& aRawData,
                                                 const TDataValue* aPower,
                                                 const TDataValue* aTorque,
                                                 const TDataValue* aSpeed) {
  Record("UpdateCheckSumError");
  checksum_errors.push_back({aShaftIndex, aRawData, CopyAll(aPower, aTorque, aSpeed)});
}

void RecordingShaftObserver::UpdateTorqueError(int aShaftIndex, const std::string& aRawData,
                                               const TDataValue* aPower, const TDataValue* aTorque,
                                               const TDataValue* aSpeed) {
  Record("UpdateTorqueError");
  torque_errors.push_back({aShaftIndex, aRawData, CopyAll(aPower, aTorque, aSpeed)});
}

}  // namespace rvx::test
