// ErrorLog: the application's one error routine, newError, and the error
// log table behind it. Every part of the application reports errors here.
//
// newError(unit, function, message, level):
//   1. when the log holds more than 1000 rows, its oldest row is deleted (on
//      every call, whatever the level), so it stays at 1001 rows at most;
//   2. level 10 or 20: a row is appended with the current time (installed
//      clock), the unit name, function name and message, cut to 20, 20 and
//      60 characters;
//   3. level 5 or 20: the message alone is shown in the error box.
// Any other level (0, for example) does only step 1. The texts are cut to
// 255 characters first, as every caller's short string did.
//
// The rows live where the derived class keeps them (the log database, or
// memory in tests); this class holds the rule.
//
// Errors: nothing is caught: an error of the store passes to the caller.
//
// Thread safety: main thread only. The box runs the message loop, so
// newError may be entered again meanwhile; both calls append their rows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/util/MessageBox.h"
#include "platform/core/DateTime.h"

namespace rvx {

class ErrorLog {
 public:
  // Levels in use.
  static constexpr int kShow = 5;
  static constexpr int kLog = 10;
  static constexpr int kLogAndShow = 20;
  // Column sizes and the longest text a caller passes.
  static constexpr std::size_t kUnitNameSize = 20;
  static constexpr std::size_t kFunctionNameSize = 20;
  static constexpr std::size_t kMessageSize = 60;
  static constexpr std::size_t kTextLimit = 255;
  // The log is trimmed while it holds more rows than this.
  static constexpr std::size_t kMaxRows = 1000;

  // box shows the messages of levels 5 and 20; it must outlive the log.
  explicit ErrorLog(MessageBox& box) : box_(box) {}
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;
  virtual ~ErrorLog() = default;

  void newError(std::string_view UnitName, std::string_view FunctionName,
                std::string_view MessageStr, int ErrCode);

 protected:
  // The number of rows in the log.
  virtual std::size_t RowCount() = 0;
  // Deletes the oldest row. REQUIRES: RowCount() > 0.
  virtual void DeleteOldestRow() = 0;
  // Appends a row; the texts are already cut to their columns.
  virtual void AppendRow(platform::TDateTime Time, const std::string& UnitName,
                         const std::string& FunctionName, const std::string& Message) = 0;

 private:
  MessageBox& box_;
};

}  // namespace rvx
