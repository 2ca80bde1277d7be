#include "app/acquisition/RunData.h"

#include "app/util/Utils.h"
#include "platform/core/TextConvert.h"

namespace rvx {

std::string RunData::RunStartDate() const {
  return platform::DateToStr(platform::DateOf(StartTime()));
}

std::string RunData::RunStartTime() const {
  return platform::TimeToStr(platform::TimeOf(StartTime()));
}

std::string RunData::RunDurationText() const {
  return FormatDuration(StopTime() - StartTime());
}

}  // namespace rvx
