#include "dbengine/sql/VEZAOSQLTopRowCount.h"

#include <limits>
#include <string>
#include <utility>

#include "dbengine/sql/VEZAOTableExpr.h"

namespace vez {

TVEZAOSQLTopRowCount::TVEZAOSQLTopRowCount(std::unique_ptr<TVEZAO> child)
    : TVEZAO(std::move(child), nullptr, std::string(), std::string()) {
  FIsMaterialized = false;
  if (FLeftAO) AppendChildResultLinks(*this, *FLeftAO);
}

void TVEZAOSQLTopRowCount::DoFirst() {
  FLeftAO->First();
}
void TVEZAOSQLTopRowCount::DoNext() {
  FLeftAO->Next();
}
bool TVEZAOSQLTopRowCount::DoGetEof() {
  return FLeftAO->GetEof();
}
std::int64_t TVEZAOSQLTopRowCount::DoGetRecordCount() {
  return FLeftAO->GetRecordCount();
}

void TVEZAOSQLTopRowCount::SetTopRowCount(std::int32_t first_row_no, std::int32_t top_row_count) {
  TVEZAO::SetTopRowCount(first_row_no, top_row_count);
  if (!FLeftAO) return;
  if (top_row_count < 0) {
    FLeftAO->SetTopRowCount(-1, top_row_count);
    return;
  }
  // The child stops after the rows this operator may need; it skips none.
  const std::int64_t first = first_row_no < 1 ? 1 : first_row_no;
  const std::int64_t bound = first - 1 + static_cast<std::int64_t>(top_row_count);
  const std::int32_t child_count = bound > std::numeric_limits<std::int32_t>::max()
                                       ? std::numeric_limits<std::int32_t>::max()
                                       : static_cast<std::int32_t>(bound);
  FLeftAO->SetTopRowCount(-1, child_count);
}

}  // namespace vez
