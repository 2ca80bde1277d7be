// Throughput of the SQL lexer and of the reserved-word lookup (hashed, beside
// a plain scan of the table for comparison).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "dbengine/foundation/VEZLexer.h"
#include "dbengine/foundation/VEZReservedWords.h"

namespace {

const std::vector<std::string>& Words() {
  static const std::vector<std::string> words = {
      "select", "Speed", "FROM", "MeasurementID", "where", "RNDUP",   "x", "power",
      "torque", "order", "by",   "Time",          "index", "absolute"};
  return words;
}

std::int32_t LinearFind(const std::string& word) {
  std::string upper = word;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  for (int i = 0; i < vez::kReservedWordCount; ++i) {
    if (vez::ReservedWords[i] == upper) return i;
  }
  return -1;
}

void BM_FindReservedWordHashed(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& word : Words())
      benchmark::DoNotOptimize(vez::FindReservedWord(word));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Words().size()));
}
BENCHMARK(BM_FindReservedWordHashed);

void BM_FindReservedWordLinear(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& word : Words())
      benchmark::DoNotOptimize(LinearFind(word));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Words().size()));
}
BENCHMARK(BM_FindReservedWordLinear);

void BM_LexScript(benchmark::State& state) {
  std::string script;
  for (int i = 0; i < 100; ++i) {
    script +=
        "SELECT MeasurementID, \"Time\", Power, Speed, Torque FROM Data\n"
        "WHERE MeasurementID = 12 AND Power >= 1.5e3 -- note\n"
        "ORDER BY \"Time\" DESC;\n";
  }
  for (auto _ : state) {
    vez::TVEZLexer lexer(script, nullptr, false);
    benchmark::DoNotOptimize(lexer.NumCommands());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(script.size()));
}
BENCHMARK(BM_LexScript);

// What the application itself sends: a record filter and a one-column
// ALTER TABLE. Scripts this small never reach the allocator's trim threshold,
// unlike the 100-statement script above, whose freed tokens (about 200 KB)
// are handed back to the kernel on every iteration.
void BM_LexStatement(benchmark::State& state, const char* sql) {
  const std::string script = sql;
  for (auto _ : state) {
    vez::TVEZLexer lexer(script, nullptr, false);
    benchmark::DoNotOptimize(lexer.NumCommands());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(script.size()));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_LexStatement, Filter, "TrialID = 5");
BENCHMARK_CAPTURE(BM_LexStatement, AlterTable, "ALTER TABLE Data ADD ErrorFlag BOOLEAN");

}  // namespace
