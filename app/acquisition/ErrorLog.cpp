#include "app/acquisition/ErrorLog.h"

#include <algorithm>

#include "platform/core/Clock.h"

namespace rvx {

namespace {

std::string Cut(std::string_view text, std::size_t size) {
  return std::string(text.substr(0, std::min(size, text.size())));
}

}  // namespace

void ErrorLog::newError(std::string_view UnitName, std::string_view FunctionName,
                        std::string_view MessageStr, int ErrCode) {
  const std::string unit = Cut(UnitName, kTextLimit);
  const std::string function = Cut(FunctionName, kTextLimit);
  const std::string message = Cut(MessageStr, kTextLimit);
  if (RowCount() > kMaxRows) DeleteOldestRow();
  if (ErrCode == kLog || ErrCode == kLogAndShow) {
    AppendRow(platform::Now(), Cut(unit, kUnitNameSize), Cut(function, kFunctionNameSize),
              Cut(message, kMessageSize));
  }
  if (ErrCode == kShow || ErrCode == kLogAndShow) box_.ShowError(message);
}

}  // namespace rvx
