#include "dbengine/sql/VEZSQLEngine.h"

#include "dbengine/api/VEZQuery.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZSQLProcessor.h"

namespace vez {

std::unique_ptr<TVEZBaseExpression> TVEZSQLExpressionFactory::CreateExpression() {
  return std::make_unique<TVEZExpression>();
}

bool TVEZSQLExpressionFactory::IsDefaultValueExpression(const TVEZVariant& value) {
  try {
    return vez::IsDefaultValueExpression(value);
  } catch (const std::exception&) {
    // The seam promises no exception: a default that fails to evaluate is
    // kept as a literal.
    return false;
  }
}

void RegisterSQLEngine() {
  static TVEZSQLExpressionFactory factory;
  RegisterExpressionFactory(&factory);
  static TVEZLocalSQLProcessorFactory processor_factory;
  RegisterSQLProcessorFactory(&processor_factory);
}

}  // namespace vez
