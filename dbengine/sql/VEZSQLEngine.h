// The SQL engine's start-up: RegisterSQLEngine hands the storage engine (and
// through it the session layer) the factory of the engine's expressions, so
// that filters, locates, record-match tests and column defaults parse and
// evaluate without the lower layers including the SQL engine.
//
// Thread safety: call RegisterSQLEngine at start-up, before other threads use
// the engine. Calling it again has no further effect.
#pragma once

#include <memory>

#include "dbengine/storage/VEZBaseExpression.h"

namespace vez {

// The factory of TVEZExpression objects and of the default-value test.
class TVEZSQLExpressionFactory : public TVEZExpressionFactory {
 public:
  std::unique_ptr<TVEZBaseExpression> CreateExpression() override;
  bool IsDefaultValueExpression(const TVEZVariant& value) override;
};

// Registers the process's one TVEZSQLExpressionFactory with the storage
// engine (RegisterExpressionFactory) and the statement processor factory with
// the query component (RegisterSQLProcessorFactory). Idempotent.
void RegisterSQLEngine();

}  // namespace vez
