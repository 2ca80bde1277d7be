#include "dbengine/sql/VEZAOTableExpr.h"

#include <string>
#include <utility>
#include <vector>

#include "dbengine/sql/VEZAOTable.h"

namespace vez {

void AppendChildResultLinks(TVEZAO& ao, TVEZAO& child) {
  if (child.FHasSetResultFields) {
    for (std::int32_t no : child.FResultFieldsOrder)
      ao.AppendChildFieldLink(&child, no, true);
  } else {
    for (std::int32_t i = 0; i < child.FieldCount(); ++i)
      ao.AppendChildFieldLink(&child, i, false);
  }
}

TVEZAOTableExpr::TVEZAOTableExpr(std::unique_ptr<TVEZAO> child)
    : TVEZAO(std::move(child), nullptr, std::string(), std::string()) {
  FIsMaterialized = false;
  if (FLeftAO) AppendChildResultLinks(*this, *FLeftAO);
}

void TVEZAOTableExpr::DoFirst() {
  FLeftAO->First();
}
void TVEZAOTableExpr::DoNext() {
  FLeftAO->Next();
}
bool TVEZAOTableExpr::DoGetEof() {
  return FLeftAO->GetEof();
}
std::int64_t TVEZAOTableExpr::DoGetRecordCount() {
  return FLeftAO->GetRecordCount();
}

void TVEZAOTableExpr::SetTopRowCount(std::int32_t first_row_no, std::int32_t top_row_count) {
  TVEZAO::SetTopRowCount(first_row_no, top_row_count);
  if (FTopRowCount >= 0 && FLeftAO) FLeftAO->SetTopRowCount(first_row_no, top_row_count);
}

void TVEZAOTableExpr::Execute(bool is_root_ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) {
  auto* table = FLeftAO && FLeftAO->FIsAOTable ? static_cast<TVEZAOTable*>(FLeftAO.get()) : nullptr;
  std::vector<std::string> fields, asc_desc, case_ins;
  if (table != nullptr && table->TransferIndexToParentIfNeeded(fields, asc_desc, case_ins)) {
    // The table has no index for the order: sort this operator's result.
    for (std::string& f : fields) {
      std::int32_t no = -1;
      if (FindFieldInFieldLinks(f, no)) continue;
      if (table->FindFieldInFieldLinks(f, no) && !table->FieldLink(no).DisplayName.empty())
        f = table->FieldLink(no).DisplayName;
    }
    for (const std::string& f : fields) {
      std::int32_t no = -1;
      if (FindFieldInFieldLinks(f, no)) continue;
      if (table->FindFieldInFieldLinks(f, no)) AppendChildFieldLink(table, no, false);
      // A column copied for sorting only is part of the result table.
      if (FindFieldInFieldLinks(f, no)) FieldLink(no).IsHidden = false;
    }
    ClearResultIndex();
    FResultIndexFieldsList = std::move(fields);
    FResultIndexAscDescFieldsList = std::move(asc_desc);
    FResultIndexCaseInsFieldsList = std::move(case_ins);
  }
  TVEZAO::Execute(is_root_ao, parent_query_ao, parent_cursor);
}

}  // namespace vez
