// Test stand-in: the error log's rows in memory, numbered as the engine's
// auto-increment would number them; the oldest row is the one trimmed.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "app/acquisition/ErrorLog.h"
#include "platform/core/DateTime.h"

namespace rvx::test {

class InMemoryErrorLog : public ErrorLog {
 public:
  struct Row {
    std::int64_t ID;
    platform::TDateTime Time;
    std::string UnitName;
    std::string FunctionName;
    std::string Message;
  };

  using ErrorLog::ErrorLog;

  const std::deque<Row>& Rows() const { return rows_; }
  // Fills the log with count rows, as if logged earlier.
  void Prefill(std::size_t count);

 protected:
  std::size_t RowCount() override { return rows_.size(); }
  void DeleteOldestRow() override { rows_.pop_front(); }
  void AppendRow(platform::TDateTime Time, const std::string& UnitName,
                 const std::string& FunctionName, const std::string& Message) override {
    rows_.push_back(Row{++last_id_, Time, UnitName, FunctionName, Message});
  }

 private:
  std::deque<Row> rows_;
  std::int64_t last_id_ = 0;
};

}  // namespace rvx::test
