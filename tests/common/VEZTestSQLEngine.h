// Test helper: the real SQL engine behind the storage engine's expression
// seam, so that tests of the storage and session layers (which may include
// tests/common but not the SQL engine) run real filters, locates and column
// defaults. A test program that uses it links rvx_test_sql_engine.
#pragma once

#include "dbengine/api/VEZQuery.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "dbengine/storage/VEZBaseExpression.h"

namespace vez::test {

// Registers the SQL engine for the rest of the process.
inline void UseSQLEngine() {
  RegisterSQLEngine();
}

// Registers the SQL engine for a scope; afterwards no engine is registered.
class TScopedSQLEngine {
 public:
  TScopedSQLEngine() { RegisterSQLEngine(); }
  ~TScopedSQLEngine() {
    RegisterExpressionFactory(nullptr);
    RegisterSQLProcessorFactory(nullptr);
  }
  TScopedSQLEngine(const TScopedSQLEngine&) = delete;
  TScopedSQLEngine& operator=(const TScopedSQLEngine&) = delete;
};

}  // namespace vez::test
