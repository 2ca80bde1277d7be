#include "dbengine/storage/VEZScanSearchCondition.h"

#include <algorithm>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"

namespace vez {

// ---------------------------------------------------------------------------
// TVEZScanSearchCondition

TVEZScanSearchCondition::~TVEZScanSearchCondition() {
  try {
    ClearKeyRecordBuffer();
  } catch (...) {
    // A damaged key block is reported when it is freed; a destructor must not
    // throw, and the block is gone either way.
  }
}

void TVEZScanSearchCondition::ClearKeyRecordBuffer() {
  if (KeyRecordBuffer != nullptr && !FExternalKeyRecordBuffer) {
    MemoryManager().FreeAndNillMem(KeyRecordBuffer);
  }
  KeyRecordBuffer = nullptr;
}

void TVEZScanSearchCondition::Assign(const TVEZScanSearchCondition& source) {
  if (&source == this) return;
  std::uint8_t* key = nullptr;
  if (source.KeyRecordBuffer != nullptr && source.KeyRecordBufferSize > 0) {
    key = static_cast<std::uint8_t*>(MemoryManager().GetMem(source.KeyRecordBufferSize));
    std::memcpy(key, source.KeyRecordBuffer, static_cast<std::size_t>(source.KeyRecordBufferSize));
  }
  std::vector<TVEZBaseExpression*> expressions;
  std::vector<TVEZExprNode*> nodes;
  try {
    expressions = source.ParentExpressions;
    nodes = source.ParentExpressionNodes;
    ClearKeyRecordBuffer();
  } catch (...) {
    if (key != nullptr) MemoryManager().FreeAndNillMem(key);
    throw;
  }
  Condition = source.Condition;
  KeyRecordBuffer = key;
  FExternalKeyRecordBuffer = false;  // the copy owns its key
  KeyRecordBufferSize = source.KeyRecordBufferSize;
  KeyFieldCount = source.KeyFieldCount;
  IndexID = source.IndexID;
  Expression = source.Expression;
  CreatedFromExpression = source.CreatedFromExpression;
  PartialCompare = source.PartialCompare;
  ParentExpressions = std::move(expressions);
  ParentExpressionNodes = std::move(nodes);
}

// ---------------------------------------------------------------------------
// TVEZScanSearchConditionArray

TVEZScanSearchCondition* TVEZScanSearchConditionArray::Items(std::int32_t index) const {
  if (index < 0 || index >= Count()) {
    throw platform::EListError(platform::Format("List index out of bounds (%d)", {index}));
  }
  return FItems[index].get();
}

void TVEZScanSearchConditionArray::AddExpression(TVEZBaseExpression* expression) {
  auto item = std::make_unique<TVEZScanSearchCondition>(false);
  item->Expression = expression;
  FItems.push_back(std::move(item));
}

void TVEZScanSearchConditionArray::AddCondition(const TVEZScanSearchCondition& condition) {
  if (condition.Expression == nullptr && condition.IndexID == -1) {
    throw EVEZException(10388, "Invalid scan condition - indexID = %d, count = %d",
                        {condition.IndexID, Count()});
  }
  auto item = std::make_unique<TVEZScanSearchCondition>(false);
  item->Assign(condition);
  FItems.push_back(std::move(item));
}

void TVEZScanSearchConditionArray::Delete(std::int32_t item_no) {
  if (item_no < 0 || item_no >= Count()) {
    throw EVEZException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d",
                        {item_no, Count()});
  }
  if (FItems[item_no] == nullptr) throw EVEZException(10414, "Nil pointer occured");
  FItems.erase(FItems.begin() + item_no);
}

void TVEZScanSearchConditionArray::CreateIndexScanConditionsFromExpressions(
    const TVEZIndexDefs& index_defs, std::int32_t session_id) {
  // Only the items present now are asked; the conditions they append are
  // index conditions without an expression.
  const std::int32_t initial_count = Count();
  for (std::int32_t i = 0; i < initial_count; ++i) {
    TVEZBaseExpression* expression = FItems[i]->Expression;
    if (expression != nullptr) expression->CreateIndexScanConditions(index_defs, *this, session_id);
  }

  std::vector<TVEZBaseExpression*> expressions;
  for (const auto& item : FItems) {
    if (item->Expression != nullptr) expressions.push_back(item->Expression);
  }
  if (expressions.empty()) return;

  for (std::int32_t i = 0; i < Count(); ++i) {
    TVEZScanSearchCondition& item = *FItems[i];
    if (item.Expression != nullptr) continue;
    const auto* index_def =
        static_cast<const TVEZIndexDef*>(index_defs.GetDefByObjectId(item.IndexID));
    if (index_def == nullptr || index_def->ColumnCount() < 2) continue;
    // Each round adds at most one key column, so the index's column count
    // bounds the rounds even if an expression keeps answering true.
    for (std::int32_t round = 0; round < index_def->ColumnCount(); ++round) {
      bool extended = false;
      for (TVEZBaseExpression* expression : expressions) {
        if (expression->ExtendMultiFieldIndexCondition(item, *index_def)) {
          extended = true;
          break;
        }
      }
      if (!extended) break;
    }
  }
}

void TVEZScanSearchConditionArray::RemoveUnusedConditionsCreatedFromExpressions(
    std::int32_t& scan_condition_no, std::int32_t& scan_end_condition_no) {
  // Any item may be chosen: with more than 256 items a chosen condition
  // must not be taken for an unused one.
  auto chosen = [this](std::int32_t no) { return no >= 0 && no < Count(); };
  std::int32_t i = 0;
  while (i < Count() - 1) {
    const TVEZScanSearchCondition& item = *FItems[i];
    const bool is_chosen = (chosen(scan_condition_no) && i == scan_condition_no) ||
                           (chosen(scan_end_condition_no) && i == scan_end_condition_no);
    if (is_chosen || !item.CreatedFromExpression) {
      ++i;
      continue;
    }
    Delete(i);
    if (chosen(scan_condition_no) && scan_condition_no > i) --scan_condition_no;
    if (chosen(scan_end_condition_no) && scan_end_condition_no > i) --scan_end_condition_no;
    i = 0;
  }
}

void TVEZScanSearchConditionArray::ExtractChosenConditionsFromExpressions(
    std::int32_t scan_condition_no, std::int32_t scan_end_condition_no) {
  for (const auto& item : FItems) {
    if (item->Expression != nullptr) {
      item->Expression->RemoveExtractedNodes(*this, scan_condition_no, scan_end_condition_no);
    }
  }
}

void TVEZScanSearchConditionArray::ReturnExtractedConditionsToExpressions(
    std::int32_t scan_condition_no, std::int32_t scan_end_condition_no) {
  auto return_nodes = [this](std::int32_t no) {
    if (!IsChosenNumber(no)) return;
    const TVEZScanSearchCondition& condition = *FItems[no];
    const std::size_t pairs =
        std::min(condition.ParentExpressions.size(), condition.ParentExpressionNodes.size());
    for (std::size_t p = 0; p < pairs; ++p) {
      if (condition.ParentExpressions[p] != nullptr) {
        condition.ParentExpressions[p]->AddNode(condition.ParentExpressionNodes[p]);
      }
    }
  };
  return_nodes(scan_condition_no);
  // Returning the same nodes twice would put them into their tree twice.
  if (scan_end_condition_no != scan_condition_no) return_nodes(scan_end_condition_no);
}

}  // namespace vez
