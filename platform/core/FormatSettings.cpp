#include "platform/core/FormatSettings.h"

namespace platform {

namespace {
TFormatSettings& Global() {
  static TFormatSettings settings = TFormatSettings::EnGB();
  return settings;
}
}  // namespace

const TFormatSettings& FormatSettings() {
  return Global();
}

void SetFormatSettings(const TFormatSettings& settings) {
  Global() = settings;
}

}  // namespace platform
