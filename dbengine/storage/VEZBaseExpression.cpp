#include "dbengine/storage/VEZBaseExpression.h"

#include <atomic>

namespace vez {

namespace {
std::atomic<TVEZExpressionFactory*> g_expression_factory{nullptr};
}  // namespace

void RegisterExpressionFactory(TVEZExpressionFactory* factory) {
  g_expression_factory.store(factory, std::memory_order_release);
}

TVEZExpressionFactory* ExpressionFactory() {
  return g_expression_factory.load(std::memory_order_acquire);
}

}  // namespace vez
