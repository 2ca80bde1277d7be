#include "dbengine/sql/VEZAOGroupBy.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExpression.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Collation.h"

namespace vez {

TVEZGroupWalk::TVEZGroupWalk(TVEZWalkInput* input, std::int32_t key_count, bool has_expressions,
                             THooks hooks)
    : FInput(input),
      FKeyCount(key_count),
      FHasExpressions(has_expressions),
      FHooks(std::move(hooks)) {
  assert(input != nullptr && key_count >= 0);
  assert(FHooks.InitAggregates && FHooks.AccumulateAggregates);
}

TVEZCompareResult TVEZGroupWalk::CompareGroupKeys() {
  for (std::int32_t i = 0; i < FKeyCount; ++i) {
    TVEZVariant& value = FScratch;
    TVEZCompareResult result;
    try {
      FInput->GetValue(i, value);
      result = value.Compare(FGroupKeys[static_cast<std::size_t>(i)], false, false, false);
    } catch (const EVEZException& e) {
      throw EVEZException(10340, "Cannot compare values for fields: %s, %s. Error: %s",
                          {FInput->ValueName(i), FInput->ValueName(i), std::string(e.what())});
    }
    if (result == cmprLeftNull) return cmprLower;
    if (result == cmprRightNull) return cmprGreater;
    if (result != cmprEqual && result != cmprBothNull) return result;
  }
  return cmprEqual;
}

void TVEZGroupWalk::ReadGroup() {
  FGroupKeys.resize(static_cast<std::size_t>(FKeyCount));
  for (std::int32_t i = 0; i < FKeyCount; ++i) {
    FInput->GetValue(i, FGroupKeys[static_cast<std::size_t>(i)]);
  }
  for (;;) {
    FHooks.AccumulateAggregates();
    FInput->Next();
    if (FInput->Eof()) return;
    if (CompareGroupKeys() != cmprEqual) {
      // Back onto the group's last row; the next step moves on again.
      FInput->Prior();
      return;
    }
  }
}

void TVEZGroupWalk::DoFirst() {
  FEOF = false;
  FInput->First();
  if (Grouped()) FEOF = FInput->Eof();
  FFirstTimeCalled = true;
  DoNext();
}

void TVEZGroupWalk::DoNext() {
  if (!Grouped()) {
    if (!FFirstTimeCalled) {
      FEOF = true;
      return;
    }
    FFirstTimeCalled = false;
    if (FHooks.IsCountAllOnly && FHooks.IsCountAllOnly()) {
      FHooks.SetCountAll(platform::CheckedCast<std::int32_t>(FInput->RecordCount()));
      return;
    }
    FHooks.InitAggregates();
    while (!FInput->Eof()) {
      FHooks.AccumulateAggregates();
      FInput->Next();
    }
    FInput->First();
    return;
  }
  if (FFirstTimeCalled) {
    FFirstTimeCalled = false;
    FHooks.InitAggregates();
    if (FInput->Eof()) {
      if (!FHasExpressions) FEOF = true;
      return;
    }
    ReadGroup();
    return;
  }
  FHooks.InitAggregates();
  if (!FInput->Eof()) FInput->Next();
  if (FInput->Eof()) {
    FEOF = true;
    return;
  }
  ReadGroup();
}

// ---------------------------------------------------------------------------
// TVEZAOGroupBy

TVEZAOGroupBy::TVEZAOGroupBy(std::unique_ptr<TVEZAO> child, const TVEZFields* field_list,
                             const std::vector<TVEZSelectListItem>& field_refs)
    : TVEZAO(std::move(child), nullptr, std::string(), std::string()) {
  assert(FLeftAO);
  FIsAOGroupBy = true;
  FIsMaterialized = false;
  FAllFields = field_list == nullptr || field_list->ItemCount() == 0;
  for (std::int32_t i = 0; i < FLeftAO->FieldCount(); ++i) {
    AppendChildFieldLink(FLeftAO.get(), i, false);
    FFieldLinks.back().IsHidden = true;
  }
  if (FAllFields) return;
  for (std::int32_t i = 0; i < field_list->ItemCount(); ++i) {
    const TVEZSelectListItem& entry = field_list->Items[static_cast<std::size_t>(i)];
    std::int32_t found =
        FieldExists(entry.FieldName, entry.TableName, true, &FFields, false, false);
    if (found == 0) {
      // GROUP BY may name a select-list alias of a column or of an
      // expression without aggregate.
      for (const TVEZSelectListItem& item : field_refs) {
        if (item.Pseudonym.empty() || !platform::AnsiSameText(item.Pseudonym, entry.FieldName))
          continue;
        const bool aggregated =
            item.IsExpression && item.ValueExpr != nullptr && item.ValueExpr->IsAggregated();
        if (!aggregated) {
          found = FieldExists(item.FieldName, item.TableName, true, &FFields, false, false);
        }
        break;
      }
    }
    if (found == 0) {
      throw EVEZException(kErrGroupByField,
                          "Invalid field for 'GROUP BY.' Table name = '%s', FieldName = '%s', i "
                          "= %d, FieldExists = %d",
                          {entry.TableName, entry.FieldName, i, found});
    }
    if (!FGroupByFields.empty()) FGroupByFields += ';';
    FGroupByFields += FFieldLinks[static_cast<std::size_t>(FFields.back())].FieldName;
  }
  FLeftAO->SetIndex(FGroupByFields, std::string(), std::string());
}

TVEZAOGroupBy::~TVEZAOGroupBy() = default;

void TVEZAOGroupBy::SetResultFields(std::vector<TVEZSelectListItem>& field_refs, bool) {
  TVEZAO::SetResultFields(field_refs, false);
  if (field_refs.empty()) return;
  for (const TVEZFieldLink& link : FFieldLinks) {
    if (link.IsHidden || !link.IsExpression || !link.Expr) continue;
    if (!link.Expr->CanBeUsedInGroupBy(FGroupByFields)) {
      throw EVEZException(kErrExpression,
                          "Expression (Name=\"%s\", DisplayName=\"%s\") cannot be used with "
                          "GROUP BY. Possibly expression is not aggregate, but it uses fields not "
                          "included into group fields",
                          {link.FieldName, link.DisplayName});
    }
  }
  for (const TVEZSelectListItem& item : field_refs) {
    if (item.IsExpression) continue;
    const std::string name = item.AllFields ? std::string("*") : item.FieldName;
    TVEZIntegerArray found;
    if (FieldExists(name, item.TableName, false, &found, false, false) == 0) {
      throw EVEZException(kErrFieldNotFound, "Cannot find field %s in table %s",
                          {name, item.TableName});
    }
    for (std::int32_t no : found) {
      if (std::find(FFields.begin(), FFields.end(), no) != FFields.end()) continue;
      throw EVEZException(
          kErrNotGrouped,
          "Field is not included in GROUP BY list. Table name = '%s', Field name "
          "= '%s', FieldNo = %d, Found field name = '%s'",
          {item.TableName, name, no, FFieldLinks[static_cast<std::size_t>(no)].FieldName});
    }
  }
}

void TVEZAOGroupBy::InitAggregates() {
  if (FFilterExpr) FFilterExpr->Init();
  for (TVEZFieldLink& link : FFieldLinks) {
    if (link.IsAggregate && link.Expr) link.Expr->Init();
  }
}

void TVEZAOGroupBy::AccumulateAggregates() {
  if (FFilterExpr) FFilterExpr->Accumulate();
  for (TVEZFieldLink& link : FFieldLinks) {
    if (link.IsAggregate && link.Expr) link.Expr->Accumulate();
  }
}

bool TVEZAOGroupBy::IsCountAllOnly() {
  // A HAVING condition with aggregates needs the rows read.
  if (FFilterExpr && FFilterExpr->IsAggregated()) return false;
  bool any = false;
  for (TVEZFieldLink& link : FFieldLinks) {
    if (!link.IsAggregate || !link.Expr) continue;
    if (!link.Expr->IsAggregatedCountAll()) return false;
    any = true;
  }
  return any;
}

void TVEZAOGroupBy::SetCountAll(std::int32_t count) {
  for (TVEZFieldLink& link : FFieldLinks) {
    if (link.IsAggregate && link.Expr) link.Expr->SetCountAll(count);
  }
}

void TVEZAOGroupBy::DoFirst() {
  if (!FWalk) {
    std::vector<std::int32_t> child_links;
    for (std::int32_t no : FFields) {
      child_links.push_back(FFieldLinks[static_cast<std::size_t>(no)].FieldNo);
    }
    FInput = std::make_unique<TVEZAOChildInput>(FLeftAO.get(), child_links);
    TVEZGroupWalk::THooks hooks;
    hooks.InitAggregates = [this] { InitAggregates(); };
    hooks.AccumulateAggregates = [this] { AccumulateAggregates(); };
    hooks.IsCountAllOnly = [this] { return IsCountAllOnly(); };
    hooks.SetCountAll = [this](std::int32_t count) { SetCountAll(count); };
    FWalk = std::make_unique<TVEZGroupWalk>(
        FInput.get(), FAllFields ? 0 : static_cast<std::int32_t>(FFields.size()),
        FExpressionsExists, std::move(hooks));
  }
  FWalk->DoFirst();
}

void TVEZAOGroupBy::DoNext() {
  FWalk->DoNext();
}

bool TVEZAOGroupBy::DoGetEof() {
  return FWalk == nullptr || FWalk->DoGetEof();
}

std::int64_t TVEZAOGroupBy::DoGetRecordCount() {
  if (FIsMaterialized) return TVEZAO::DoGetRecordCount();
  return FLeftAO ? FLeftAO->GetRecordCount() : 0;
}

void TVEZAOGroupBy::FreeChildren() {
  FWalk.reset();
  FInput.reset();
  TVEZAO::FreeChildren();
}

}  // namespace vez
