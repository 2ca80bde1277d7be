// Test stand-in: a shaft observer that records every call in order, with
// the values it was given (each value's number and error flag, or absent).
// Several recorders may share one call log to check the order across
// observers. A hook runs before each call and may throw, as a failing
// observer would.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/acquisition/Shaft.h"

namespace rvx::test {

class RecordingShaftObserver : public IShaftObserver {
 public:
  struct Value {
    double value;
    bool is_error;
  };
  struct Triple {
    std::optional<Value> power;
    std::optional<Value> torque;
    std::optional<Value> speed;
  };
  struct ErrorCall {
    int shaft_index;
    std::string raw_data;
    Triple values;
  };

  // name prefixes the entries of the shared log ("<name>:<call>"); without a
  // shared log the recorder keeps its own.
  explicit RecordingShaftObserver(std::string name = "",
                                  std::vector<std::string>* shared_log = nullptr)
      : name_(std::move(name)), log_(shared_log ? shared_log : &own_log_) {}

  void UpdateValues(const TDataValue* aPower, const TDataValue* aTorque,
                    const TDataValue* aSpeed) override;
  void UpdateRunningAverageValues(const TDataValue* aPower, const TDataValue* aTorque,
                                  const TDataValue* aSpeed) override;
  void UpdateHasCommunication(bool aHasCommunication) override;
  void UpdateCheckSumError(int aShaftIndex, const std::string& aRawData, const TDataValue* aPower,
                           const TDataValue* aTorque, const TDataValue* aSpeed) override;
  void UpdateTorqueError(int aShaftIndex, const std::string& aRawData, const TDataValue* aPower,
                         const TDataValue* aTorque, const TDataValue* aSpeed) override;

  // Called with the call's name before it is recorded; may throw.
  std::function<void(const std::string& call)> before_call;

  const std::vector<std::string>& Log() const { return *log_; }
  std::vector<Triple> values;
  std::vector<Triple> averages;
  std::vector<bool> communication;
  std::vector<ErrorCall> checksum_errors;
  std::vector<ErrorCall> torque_errors;

 private:
  void Record(const std::string& call);

  std::string name_;
  std::vector<std::string> own_log_;
  std::vector<std::string>* log_;
};

}  // namespace rvx::test
