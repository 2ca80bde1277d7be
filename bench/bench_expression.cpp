// Expression evaluation on record buffers of the log's Data table (ID
// autoincrement, MeasurementID Float, Time DateTime, Power, Speed, Torque
// Float, IsError Boolean), so that scan figures can be split into expression
// and storage cost. A tree bound to the table's cursor is pointed at one
// buffer after another (AssignCursorBuffer) and asked GetResult, as the
// storage engine's record filter does; items are evaluations.
//   compare: MeasurementID = 12
//   and3:    Power >= 5000 AND Speed < 92 AND MeasurementID = 12 (the first
//            two hold for every reading, so all three parts run each time)
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bench/BenchMemoryDataTable.h"
#include "dbengine/sql/VEZExprNodeBoolean.h"
#include "dbengine/sql/VEZExprNodeComparison.h"
#include "dbengine/sql/VEZExprNodeConst.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "dbengine/sql/VEZExpression.h"

namespace {

using namespace vez;

constexpr std::int32_t kReadingsPerMeasurement = 256;
constexpr std::int64_t kBuffers = 4096;  // 16 measurements

struct DataBuffers : bench::MemoryDataTable<kReadingsPerMeasurement> {
  std::vector<std::uint8_t*> buffers;

  DataBuffers() {
    for (std::int64_t i = 0; i < kBuffers; ++i) {
      Post(i);
      std::uint8_t* copy = cursor.AllocateRecordBuffer();
      std::memcpy(copy, cursor.CurrentRecordBuffer, static_cast<std::size_t>(cursor.RecordSize));
      buffers.push_back(copy);
    }
  }
  ~DataBuffers() {
    for (std::uint8_t*& b : buffers)
      cursor.FreeRecordBuffer(b);
  }
};

std::unique_ptr<TVEZExprNode> Number(double v) {
  auto node = std::make_unique<TVEZExprNodeConst>();
  node->Value.SetAsDouble(v);
  return node;
}
std::unique_ptr<TVEZExprNode> Integer(std::int32_t v) {
  auto node = std::make_unique<TVEZExprNodeConst>();
  node->Value.SetAsInteger(v);
  return node;
}
std::unique_ptr<TVEZExprNode> Compare(TVEZCursor* cursor, const char* field, TVEZDataOperator op,
                                      std::unique_ptr<TVEZExprNode> constant) {
  return std::make_unique<TVEZExprNodeComparison>(
      op, std::make_unique<TVEZExprNodeField>(cursor, field, ""), std::move(constant), true, false,
      false);
}

enum class Shape { Compare, And3 };

void BM_ExprEvaluate(benchmark::State& state, Shape shape) {
  DataBuffers data;
  TVEZCursor* cursor = &data.cursor;
  std::unique_ptr<TVEZExprNode> root;
  if (shape == Shape::Compare) {
    root = Compare(cursor, "MeasurementID", doEQ, Integer(12));
  } else {
    auto and_node = std::make_unique<TVEZExprNodeBoolean>(doAND, true, false, "");
    and_node->AddChild(Compare(cursor, "Power", doGE, Number(5000)));
    and_node->AddChild(Compare(cursor, "Speed", doLT, Number(92)));
    and_node->AddChild(Compare(cursor, "MeasurementID", doEQ, Integer(12)));
    root = std::move(and_node);
  }
  TVEZExpression expression(std::move(root));
  expression.AssignCursor(cursor, nullptr, nullptr);
  std::size_t next = 0;
  std::int64_t matched = 0;
  for (auto _ : state) {
    expression.AssignCursorBuffer(data.buffers[next], false);
    matched += expression.GetResult() ? 1 : 0;
    next = (next + 1) % data.buffers.size();
  }
  benchmark::DoNotOptimize(matched);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_ExprEvaluate, compare, Shape::Compare);
BENCHMARK_CAPTURE(BM_ExprEvaluate, and3, Shape::And3);

}  // namespace
