// DataSet::TDataSet: one decoded meter reading (not the engine's dataset):
// the sentence as received, the time it was decoded and its power, speed and
// torque samples, each absent when its field did not read. The samples carry
// the reading's time. The link that decodes a reading hands it to its shaft,
// whose sample lists copy the three values.
//
// Thread safety: a plain value.
#pragma once

#include <optional>
#include <string>

#include "app/acquisition/DataValue.h"
#include "platform/core/Clock.h"

namespace rvx::DataSet {

class TDataSet {
 public:
  // Time := now, from the installed clock.
  TDataSet() : Time(platform::Now()) {}

  // The sentence as received, or "N/A - Demo mode" from the simulated meter.
  std::string RawData;
  TDateTime Time;
  std::optional<TDataValue> Power;
  std::optional<TDataValue> Speed;
  std::optional<TDataValue> Torque;
  // The received checksum did not match.
  bool HasCheckSumError = false;
};

}  // namespace rvx::DataSet
