#include "dbengine/sql/VEZAO.h"

#include <algorithm>
#include <utility>

#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZExprNodeBoolean.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/Collation.h"

namespace vez {

namespace {

constexpr const char* kInvalidFieldNo = "Invalid field number - FieldNo = %d, FieldCount = %d";
constexpr const char* kHiddenField =
    "Cannot access hidden field: table name = %s, field name = %s, display name = %s, "
    "FieldNo = %d";
constexpr const char* kNilPointer = "Nil pointer occured";

bool IsAutoIncType(TVEZAdvancedFieldType t) {
  return t >= aftAutoInc && t <= aftAutoIncCardinal;
}

std::string JoinList(const std::vector<std::string>& list) {
  std::string s;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) s += ';';
    s += list[i];
  }
  return s;
}

bool Contains(const TVEZIntegerArray& a, std::int32_t v) {
  return std::find(a.begin(), a.end(), v) != a.end();
}

}  // namespace

TVEZAO::TVEZAO(std::unique_ptr<TVEZAO> left_ao, std::unique_ptr<TVEZAO> right_ao,
               std::string table_name, std::string table_alias)
    : FTableName(std::move(table_name)),
      FTableAlias(std::move(table_alias)),
      FValue(bftUnknown),
      FLeftAO(std::move(left_ao)),
      FRightAO(std::move(right_ao)) {
  FResultDataset = std::make_unique<TVEZTable>();
  // The right child's session wins when both have one.
  if (FLeftAO && FLeftAO->FResultDataset)
    FResultDataset->SetSessionName(FLeftAO->FResultDataset->GetSessionName());
  if (FRightAO && FRightAO->FResultDataset)
    FResultDataset->SetSessionName(FRightAO->FResultDataset->GetSessionName());
  FDisableTempFiles =
      (FLeftAO && FLeftAO->FDisableTempFiles) || (FRightAO && FRightAO->FDisableTempFiles);
}

TVEZAO::~TVEZAO() {
  try {
    if (FIsAOTable && FIsLocked && FResultDataset && FResultDataset->Active() &&
        FResultDataset->Handle() != nullptr)
      FResultDataset->Handle()->UnlockTable(ltS, true);
  } catch (...) {
  }
  FFieldLinks.clear();
  if (FResultDataset) {
    try {
      // The table's SQL filter is this operator's expression: drop it first.
      FResultDataset->Close();
      if (FResultDataset->Temporary() && !FResultDataset->TableName().empty())
        FResultDataset->DeleteTable();
    } catch (...) {
    }
    FResultDataset.reset();
  }
}

// ---- streaming and reading

std::int64_t TVEZAO::DoGetRecordCount() {
  if (FIsMaterialized && FResultDataset && FResultDataset->Active())
    return FResultDataset->RecordCount();
  return 0;
}

void TVEZAO::First() {
  if (FIsMaterialized)
    FResultDataset->First();
  else
    DoFirst();
}

void TVEZAO::Next() {
  if (FIsMaterialized)
    FResultDataset->Next();
  else
    DoNext();
}

bool TVEZAO::GetEof() {
  return FIsMaterialized ? FResultDataset->Eof() : DoGetEof();
}

std::int64_t TVEZAO::GetRecordCount() {
  return FIsMaterialized ? FResultDataset->RecordCount() : DoGetRecordCount();
}

std::unique_ptr<TVEZTable> TVEZAO::ReleaseResultDataset() {
  return std::move(FResultDataset);
}

void TVEZAO::SetResultDataset(std::unique_ptr<TVEZTable> table) {
  FResultDataset = std::move(table);
}

// ---- names

void TVEZAO::MakeFieldNamesUnique() {
  for (std::int32_t i = 0; i < FFieldCount; ++i) {
    std::string name = GetFieldName(i, false);
    if (name.empty()) name = MakeUniqueName("Expr");
    FFieldLinks[static_cast<std::size_t>(i)].FieldName = name;
  }
  auto make_unique_against_earlier = [this](std::size_t i) {
    std::string& name = FFieldLinks[i].FieldName;
    std::int32_t counter = 1;
    bool first_clash = true;
    for (;;) {
      const std::string upper = platform::AnsiUpperCase(name);
      bool clash = false;
      for (std::size_t j = 0; j < i; ++j) {
        if (platform::AnsiUpperCase(FFieldLinks[j].FieldName) == upper) {
          clash = true;
          break;
        }
      }
      if (!clash) return;
      if (first_clash) {
        name += "_";
        first_clash = false;
      }
      name += std::to_string(counter++);
    }
  };
  for (std::size_t i = 0; i < FFieldLinks.size(); ++i)
    if (FFieldLinks[i].IsHidden) make_unique_against_earlier(i);
  for (std::size_t i = 1; i < FFieldLinks.size(); ++i)
    make_unique_against_earlier(i);
}

std::string TVEZAO::GetFieldName(std::int32_t field_no, bool apply_order_by) const {
  if (field_no < 0 || field_no >= FFieldCount)
    throw EVEZException(kErrFieldNameNo, kInvalidFieldNo, {field_no, FFieldCount});
  const TVEZFieldLink& link = FFieldLinks[static_cast<std::size_t>(field_no)];
  if (link.Dataset != nullptr) {
    if (link.Dataset == FResultDataset.get()) return link.FieldName;
    TVEZCursor* cursor = link.Dataset->Handle();
    if (cursor != nullptr && link.FieldNo >= 0 && link.FieldNo < cursor->FieldDefs().GetCount())
      return cursor->FieldDefs().GetDef(link.FieldNo)->Name;
    return link.FieldName;
  }
  if (apply_order_by || link.AO == nullptr || link.AO == this || link.IsExpression)
    return link.FieldName;
  return link.AO->GetFieldName(link.FieldNo, false);
}

std::string TVEZAO::GetFieldNameByColumnName(const std::string& column_name) const {
  for (const TVEZFieldLink& link : FFieldLinks)
    if (platform::AnsiSameText(link.FieldName, column_name) ||
        platform::AnsiSameText(link.DisplayName, column_name))
      return link.FieldName;
  return {};
}

std::string TVEZAO::GetFieldNameByColumnNo(std::int32_t column_no) const {
  if (column_no < 0 || column_no >= FFieldCount)
    throw EVEZException(kErrFieldNameNo, kInvalidFieldNo, {column_no, FFieldCount});
  return FFieldLinks[static_cast<std::size_t>(column_no)].FieldName;
}

std::string TVEZAO::GetFieldNameByVisibleNumber(std::int32_t visible_field_no) const {
  if (!FResultFieldsOrder.empty()) {
    if (visible_field_no < 0 ||
        visible_field_no >= static_cast<std::int32_t>(FResultFieldsOrder.size()))
      throw EVEZException(kErrOrderByFieldNo, "Invalid field number in ORDER BY clause: %d",
                          {visible_field_no + 1});
    return FFieldLinks[static_cast<std::size_t>(
                           FResultFieldsOrder[static_cast<std::size_t>(visible_field_no)])]
        .DisplayName;
  }
  // Without a select list the result columns are the visible links in order.
  std::int32_t n = 0;
  for (const TVEZFieldLink& link : FFieldLinks) {
    if (link.IsHidden) continue;
    if (n++ == visible_field_no)
      return link.DisplayName.empty() ? link.FieldName : link.DisplayName;
  }
  throw EVEZException(kErrOrderByFieldNo, "Invalid field number in ORDER BY clause: %d",
                      {visible_field_no + 1});
}

std::int32_t TVEZAO::GetFieldNoByVisibleNumber(std::int32_t visible_field_no) const {
  if (FResultFieldsOrder.empty()) return visible_field_no;
  return FResultFieldsOrder.at(static_cast<std::size_t>(visible_field_no));
}

bool TVEZAO::FindFieldInFieldLinks(const std::string& field_name, std::int32_t& field_no) const {
  for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
    if (platform::AnsiSameText(FFieldLinks[i].FieldName, field_name) ||
        platform::AnsiSameText(FFieldLinks[i].DisplayName, field_name)) {
      field_no = static_cast<std::int32_t>(i);
      return true;
    }
  }
  return false;
}

// ---- links

std::int32_t TVEZAO::AddFieldLink(TVEZFieldLink link) {
  FFieldLinks.push_back(std::move(link));
  FFieldCount = static_cast<std::int32_t>(FFieldLinks.size());
  return FFieldCount - 1;
}

void TVEZAO::AppendChildFieldLink(TVEZAO* child, std::int32_t child_field_no, bool skip_hidden) {
  const TVEZFieldLink& src = child->FieldLink(child_field_no);
  if (skip_hidden && src.IsHidden) return;
  TVEZFieldLink link;
  link.FieldName = src.FieldName;
  link.DisplayName = src.DisplayName;
  link.FieldType = src.FieldType;
  link.FieldPrecision = src.FieldPrecision;
  link.FieldSize = src.FieldSize;
  link.BLOBCompressionAlgorithm = src.BLOBCompressionAlgorithm;
  link.BLOBCompressionMode = src.BLOBCompressionMode;
  link.BLOBBlockSize = src.BLOBBlockSize;
  link.AO = child;
  link.FieldNo = child_field_no;
  link.IsHidden = src.IsHidden;
  AddFieldLink(std::move(link));
}

// ---- set-up

void TVEZAO::SetFilter(std::unique_ptr<TVEZExpression> filter_expr) {
  if (!filter_expr) return;
  if (!FFilterExpr) {
    FFilterExpr = std::move(filter_expr);
    return;
  }
  FFilterExpr->AddAndMoveNodesFromExpression(*filter_expr);
}

void TVEZAO::SetResultTable(bool in_memory, bool immediate, const std::string& table_name,
                            const std::string& database_name) {
  FResultInMemory = in_memory;
  FResultImmediate = immediate;
  FResultTableName = table_name;
  FResultDatabaseName = database_name;
}

void TVEZAO::SetTopRowCount(std::int32_t first_row_no, std::int32_t top_row_count) {
  if (FDistinctApplied || HasResultIndex()) return;
  FTopRowCount = top_row_count;
  FFirstRowNo = first_row_no < 0 ? 1 : first_row_no;
}

void TVEZAO::SetResultFields(std::vector<TVEZSelectListItem>& field_refs, bool distinct) {
  if (field_refs.empty()) {
    FieldExists("*", "", true, &FResultFieldsOrder, false, false);
  } else {
    for (TVEZSelectListItem& item : field_refs) {
      if (item.IsExpression && item.ValueExpr != nullptr &&
          (FIsAOGroupBy || !item.ValueExpr->IsAggregated())) {
        TVEZFieldLink link;
        link.Expr.reset(item.ValueExpr);
        item.ValueExpr = nullptr;
        link.Expr->AssignAO(this, nullptr, nullptr);
        link.FieldName = item.Pseudonym.empty() ? MakeUniqueName("Expr") : item.Pseudonym;
        link.DisplayName = link.FieldName;
        link.FieldType = link.Expr->GetDataType();
        link.FieldSize = link.Expr->GetDataSize();
        link.FieldPrecision = link.Expr->GetPrecision();
        link.AO = this;
        link.IsExpression = true;
        link.IsAggregate = link.Expr->IsAggregated();
        FExpressionsExists = true;
        const bool aggregate = link.IsAggregate;
        const std::string name = link.FieldName;
        FResultFieldsOrder.push_back(AddFieldLink(std::move(link)));
        if (!FIsAOGroupBy && !aggregate) {
          // Operators above find the computed column by name.
          item.IsExpression = false;
          item.FieldName = name;
        }
        continue;
      }
      if (item.IsExpression) continue;  // an aggregate left for the grouping above
      const std::string name = item.AllFields ? std::string("*") : item.FieldName;
      const std::int32_t n =
          FieldExists(name, item.TableName, true, &FResultFieldsOrder, false, false);
      if (n == 0) throw EVEZException(kErrCannotFindField, "Cannot find field %s", {name});
      if (name == "*") continue;
      if (n > 1) FResultFieldsOrder.resize(FResultFieldsOrder.size() - (n - 1));
      TVEZFieldLink& link = FFieldLinks[static_cast<std::size_t>(FResultFieldsOrder.back())];
      link.DisplayName = item.Pseudonym.empty() ? item.FieldName : item.Pseudonym;
    }
  }
  std::vector<std::string> names;
  for (std::int32_t no : FResultFieldsOrder) {
    TVEZFieldLink& link = FFieldLinks[static_cast<std::size_t>(no)];
    if (link.DisplayName.empty()) link.DisplayName = link.FieldName;
    names.push_back(link.FieldName);
  }
  if (distinct) ApplyDistinct(JoinList(names));
  FHasSetResultFields = true;
}

std::int32_t TVEZAO::FieldExists(const std::string& field_name, const std::string& table_name,
                                 bool unhide, TVEZIntegerArray* field_numbers,
                                 bool unhide_children_only, bool scan_only_visible_fields) {
  if (FIsAOTable && !table_name.empty() && !platform::AnsiSameText(table_name, FTableName) &&
      !platform::AnsiSameText(table_name, FTableAlias))
    return 0;
  std::int32_t count = 0;
  auto take = [&](std::size_t i, bool may_unhide) {
    ++count;
    if (field_numbers != nullptr) field_numbers->push_back(static_cast<std::int32_t>(i));
    if (unhide && !unhide_children_only && may_unhide) FFieldLinks[i].IsHidden = false;
  };
  TVEZIntegerArray left_list, right_list;
  const bool all = field_name == "*";
  if (FLeftAO) FLeftAO->FieldExists(field_name, table_name, unhide, &left_list, false, false);
  if (FRightAO) FRightAO->FieldExists(field_name, table_name, unhide, &right_list, false, false);
  if (all) {
    for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
      const TVEZFieldLink& link = FFieldLinks[i];
      bool counts =
          FIsAOTable || (link.IsExpression && platform::AnsiSameText(table_name, FTableName));
      if (!counts && FLeftAO && link.AO == FLeftAO.get() && Contains(left_list, link.FieldNo))
        counts = true;
      if (counts) {
        take(i, !FIsAOGroupBy);
        continue;
      }
      if (FRightAO && link.AO == FRightAO.get() && Contains(right_list, link.FieldNo))
        take(i, true);
    }
    return count;
  }
  for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
    const TVEZFieldLink& link = FFieldLinks[i];
    if (link.AO == nullptr || link.AO == this || link.IsExpression) continue;
    const TVEZIntegerArray* list = link.AO == FLeftAO.get()    ? &left_list
                                   : link.AO == FRightAO.get() ? &right_list
                                                               : nullptr;
    if (list == nullptr || !Contains(*list, link.FieldNo)) continue;
    if (scan_only_visible_fields && link.IsHidden) continue;
    take(i, true);
  }
  const bool table_ok = table_name.empty() || platform::AnsiSameText(table_name, FTableName) ||
                        platform::AnsiSameText(table_name, FTableAlias);
  if (!table_ok) return count;
  for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
    const TVEZFieldLink& link = FFieldLinks[i];
    if (!platform::AnsiSameText(link.FieldName, field_name) &&
        !platform::AnsiSameText(link.DisplayName, field_name))
      continue;
    if (scan_only_visible_fields && link.IsHidden) continue;
    // The first own match only; one a child already reported is not counted twice.
    const auto no = static_cast<std::int32_t>(i);
    if (field_numbers == nullptr) {
      if (count == 0) {
        ++count;
        if (unhide && !unhide_children_only) FFieldLinks[i].IsHidden = false;
      }
    } else if (!Contains(*field_numbers, no)) {
      take(i, true);
    }
    break;
  }
  return count;
}

void TVEZAO::SetIndex(const std::string& index_field_names, const std::string& desc_fields,
                      const std::string& case_insensitive_fields) {
  ClearResultIndex();
  std::vector<std::string> desc, case_ins;
  SplitFieldNamesList(FResultIndexFieldsList, index_field_names);
  SplitFieldNamesList(desc, desc_fields);
  SplitFieldNamesList(case_ins, case_insensitive_fields);
  for (const std::string& f : FResultIndexFieldsList) {
    const std::string upper = platform::AnsiUpperCase(f);
    FResultIndexAscDescFieldsList.push_back(
        std::find(desc.begin(), desc.end(), upper) != desc.end() ? "DESC" : "ASC");
    FResultIndexCaseInsFieldsList.push_back(
        std::find(case_ins.begin(), case_ins.end(), upper) != case_ins.end() ? "NO_CASE" : "CASE");
  }
  if (FDistinctApplied) ApplyDistinct(FDistinctFields);
}

void TVEZAO::ClearResultIndex() {
  FResultIndexFieldsList.clear();
  FResultIndexAscDescFieldsList.clear();
  FResultIndexCaseInsFieldsList.clear();
}

void TVEZAO::BuildIndexFieldStrings(std::string& fields, std::string& desc_fields,
                                    std::string& case_ins_fields) const {
  std::vector<std::string> desc, case_ins;
  for (std::size_t i = 0; i < FResultIndexFieldsList.size(); ++i) {
    if (FResultIndexAscDescFieldsList[i] == "DESC") desc.push_back(FResultIndexFieldsList[i]);
    if (FResultIndexCaseInsFieldsList[i] == "NO_CASE")
      case_ins.push_back(FResultIndexFieldsList[i]);
  }
  fields = JoinList(FResultIndexFieldsList);
  desc_fields = JoinList(desc);
  case_ins_fields = JoinList(case_ins);
}

void TVEZAO::ApplyDistinct(const std::string& distinct_fields) {
  std::vector<std::string> items;
  SplitFieldNamesList(items, distinct_fields);
  FDistinctApplied = !items.empty();
  if (!FDistinctApplied) return;
  FDistinctFields = distinct_fields;
  FDistinctFieldCount = static_cast<std::int32_t>(items.size());
  FDistinctFieldsMap.assign(items.size(), -1);
  for (std::size_t i = 0; i < items.size(); ++i) {
    for (std::size_t j = 0; j < FFieldLinks.size(); ++j) {
      if (platform::AnsiUpperCase(FFieldLinks[j].FieldName) == items[i]) {
        FDistinctFieldsMap[i] = static_cast<std::int32_t>(j);
        break;
      }
    }
  }
}

void TVEZAO::ApplyResultIndex(bool free_lists) {
  if (!FResultDataset) throw EVEZException(kErrNilResultDataset, kNilPointer);
  try {
    if (HasResultIndex() && FResultDataset->IndexName().empty() &&
        FResultDataset->IndexFieldNames().empty()) {
      bool created = false;
      const std::string name =
          FResultDataset->FindOrCreateIndex(FResultIndexFieldsList, FResultIndexAscDescFieldsList,
                                            FResultIndexCaseInsFieldsList, created);
      FResultDataset->SetIndexName(name);
    }
  } catch (...) {
    if (free_lists) ClearResultIndex();
    throw;
  }
  if (free_lists) ClearResultIndex();
}

void TVEZAO::ApplyTableDistinct() {
  std::vector<std::string> fields = FResultIndexFieldsList;
  std::vector<std::string> asc_desc = FResultIndexAscDescFieldsList;
  std::vector<std::string> case_ins = FResultIndexCaseInsFieldsList;
  std::vector<std::string> items;
  SplitFieldNamesList(items, FDistinctFields);
  for (const std::string& item : items) {
    bool present = false;
    for (const std::string& f : fields)
      if (platform::AnsiSameText(f, item)) present = true;
    if (present) continue;
    fields.push_back(item);
    asc_desc.push_back("ASC");
    case_ins.push_back("CASE");
  }
  FResultDataset->ApplyDistinct(fields, asc_desc, case_ins);
}

// ---- locks

bool TVEZAO::LockTables() {
  bool result = true;
  if (FIsAOTable) {
    if (FResultDataset && FResultDataset->Active() && FResultDataset->Handle() != nullptr) {
      FIsLocked = FResultDataset->Handle()->LockTable(ltS, 2, 20, true);
      result = FIsLocked;
    } else {
      result = false;
    }
  }
  if (result && FLeftAO) result = FLeftAO->LockTables();
  if (result && FRightAO) result = FRightAO->LockTables();
  return result;
}

bool TVEZAO::UnlockTables() {
  // Every table is visited, so no lock outlives a partial failure.
  bool result = true;
  if (FIsAOTable && FIsLocked) {
    if (FResultDataset && FResultDataset->Active() && FResultDataset->Handle() != nullptr) {
      const bool released = FResultDataset->Handle()->UnlockTable(ltS, true);
      FIsLocked = !released;
      result = released;
    } else {
      FIsLocked = false;
    }
  }
  if (FLeftAO && !FLeftAO->UnlockTables()) result = false;
  if (FRightAO && !FRightAO->UnlockTables()) result = false;
  return result;
}

bool TVEZAO::OpenTables() {
  bool result = true;
  if (FIsAOTable && FResultDataset) {
    try {
      FResultDataset->Open();
    } catch (...) {
      try {
        FResultDataset->Close();
      } catch (...) {
      }
      result = false;
    }
  }
  if (result && FLeftAO) result = FLeftAO->OpenTables();
  if (result && FRightAO) result = FRightAO->OpenTables();
  return result;
}

bool TVEZAO::CloseTables() {
  bool result = true;
  if (FIsAOTable && FResultDataset) {
    try {
      FResultDataset->Close();
    } catch (...) {
      result = false;
    }
  }
  if (FLeftAO && !FLeftAO->CloseTables()) result = false;
  if (FRightAO && !FRightAO->CloseTables()) result = false;
  return result;
}

// ---- values

void TVEZAO::CheckFieldNo(std::int32_t number, std::int32_t field_no) const {
  if (field_no < 0 || field_no >= FFieldCount)
    throw EVEZException(number, kInvalidFieldNo, {field_no, FFieldCount});
}

void TVEZAO::RaiseHidden(std::int32_t number, std::int32_t field_no) const {
  const TVEZFieldLink& link = FFieldLinks[static_cast<std::size_t>(field_no)];
  throw EVEZException(number, kHiddenField,
                      {FTableName, link.FieldName, link.DisplayName, field_no});
}

bool TVEZAO::UseDirectAccess() const {
  return !((FIsAOUnion && FIsRootAO) || !FHasSetResultFields || FIsAOTable);
}

void TVEZAO::GetFieldValue(TVEZVariant& value, std::int32_t field_no, bool copy,
                           bool access_to_hidden) {
  (void)copy;  // values are always copied into value
  CheckFieldNo(kErrFieldValueNo, field_no);
  TVEZFieldLink& link = FFieldLinks[static_cast<std::size_t>(field_no)];
  if (link.Dataset == nullptr && link.AO == nullptr)
    throw EVEZException(kErrInvalidFieldLink, "Invalid field link: table name = %s, FieldNo = %d",
                        {FTableName, field_no});
  if (link.IsHidden && !access_to_hidden) RaiseHidden(kErrHiddenFieldValue, field_no);
  // A column read from a dataset sets the whole value itself; leaving the
  // value's type alone until then lets it keep its block from row to row.
  if (link.IsExpression) {
    value.SetNull(bftUnknown);
    if (link.Expr) {
      TVEZVariant* v = link.Expr->GetValue(true);
      if (v != nullptr) CopyValue(value, *v);
    }
    return;
  }
  if (link.AO != nullptr) {
    if ((link.AO == FLeftAO.get() && FLeftAONull) || (link.AO == FRightAO.get() && FRightAONull)) {
      value.SetNull(bftUnknown);
      return;
    }
    link.AO->GetFieldValue(value, link.FieldNo, copy, access_to_hidden);
    return;
  }
  if (link.Dataset->Eof() && link.Dataset->Bof()) {
    value.SetNull(bftUnknown);
    return;
  }
  // Links into datasets hold physical column numbers, which a projection of
  // the dataset does not change.
  link.Dataset->GetFieldValue(value, link.FieldNo, true);
}

TVEZAdvancedFieldType TVEZAO::GetFieldType(std::int32_t field_no) const {
  CheckFieldNo(kErrFieldTypeNo, field_no);
  return FFieldLinks[static_cast<std::size_t>(field_no)].FieldType;
}

std::int32_t TVEZAO::GetFieldSize(std::int32_t field_no) const {
  CheckFieldNo(kErrFieldSizeNo, field_no);
  return FFieldLinks[static_cast<std::size_t>(field_no)].FieldSize;
}

std::int32_t TVEZAO::GetFieldPrecision(std::int32_t field_no) const {
  CheckFieldNo(kErrFieldPrecisionNo, field_no);
  return FFieldLinks[static_cast<std::size_t>(field_no)].FieldPrecision;
}

bool TVEZAO::GetFieldDatasetAndFieldNo(TVEZDataSet*& dataset, std::int32_t& field_no) {
  TVEZAO* ao = this;
  std::int32_t no = field_no;
  for (;;) {
    if (no < 0 || no >= ao->FFieldCount) return false;
    const TVEZFieldLink& link = ao->FFieldLinks[static_cast<std::size_t>(no)];
    if (link.IsExpression) return false;
    if (link.Dataset != nullptr) {
      dataset = link.Dataset;
      field_no = link.FieldNo;
      return true;
    }
    if (link.AO == nullptr || link.AO == ao) return false;
    if ((link.AO == ao->FLeftAO.get() && ao->FLeftAONull) ||
        (link.AO == ao->FRightAO.get() && ao->FRightAONull))
      return false;
    no = link.FieldNo;
    ao = link.AO;
  }
}

void TVEZAO::CopyFieldValue(std::int32_t src_field_no, std::int32_t dest_field_no) {
  CheckFieldNo(kErrFieldValueNo, src_field_no);
  const TVEZFieldLink& link = FFieldLinks[static_cast<std::size_t>(src_field_no)];
  TVEZDataSet* source = nullptr;
  std::int32_t source_no = src_field_no;
  if (!link.IsHidden && !link.IsExpression && GetFieldDatasetAndFieldNo(source, source_no) &&
      !(source->Eof() && source->Bof())) {
    source->CopyFieldValue(source_no, true, dest_field_no, FResultDataset.get());
    return;
  }
  GetFieldValue(FValue, src_field_no, true, true);
  FResultDataset->SetFieldValue(FValue, dest_field_no, true);
  FValue.SetNull(bftUnknown);
}

bool TVEZAO::RowPassesFilter() {
  return !FFilterExpr || FFilterExpr->GetResult();
}

// ---- execution

void TVEZAO::Execute(bool is_root_ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) {
  FIsRootAO = is_root_ao;
  if (!FIsAOTable && FFilterExpr) FFilterExpr->AssignAO(this, parent_query_ao, parent_cursor);
  if (FLeftAO) FLeftAO->Execute(false, parent_query_ao, parent_cursor);
  if (FRightAO) FRightAO->Execute(false, parent_query_ao, parent_cursor);
  if (FTopRowCount > 0 && HasResultIndex() && FLeftAO && FLeftAO->FResultDataset &&
      FLeftAO->FResultDataset->Active()) {
    // The child delivers rows in result order, so filling stops after the count.
    std::vector<std::string> child_fields;
    for (const std::string& f : FResultIndexFieldsList) {
      std::int32_t no = -1;
      child_fields.push_back(f);
      if (FindFieldInFieldLinks(f, no)) {
        TVEZDataSet* ds = nullptr;
        std::int32_t ds_no = no;
        if (GetFieldDatasetAndFieldNo(ds, ds_no) && ds == FLeftAO->FResultDataset.get() &&
            ds->Handle() != nullptr)
          child_fields.back() = ds->Handle()->FieldDefs().GetDef(ds_no)->Name;
      }
    }
    bool created = false;
    TVEZTable& child = *FLeftAO->FResultDataset;
    const std::string name = child.FindOrCreateIndex(child_fields, FResultIndexAscDescFieldsList,
                                                     FResultIndexCaseInsFieldsList, created);
    child.SetIndexName(name);
  }
  if (FLeftAO) Materialize();
  if (HasResultIndex()) ApplyResultIndex(true);
}

void TVEZAO::Materialize() {
  if (FIsMaterialized) return;
  std::vector<std::string> field_names, aliases;
  CreateResultTable(field_names, aliases);
  FillResultTable();
  FinishMaterialization(field_names, aliases);
}

void TVEZAO::CreateResultTable(std::vector<std::string>& field_names,
                               std::vector<std::string>& aliases) {
  TVEZTable& table = *FResultDataset;
  table.Close();
  table.FieldDefs().Clear();
  table.IndexDefs().Clear();
  table.AdvFieldDefs().Clear();
  table.AdvIndexDefs().Clear();
  if (!FResultFieldsOrder.empty()) {
    if (!(FIsRootAO && FResultImmediate)) {
      FResultTableName.clear();
      FResultDatabaseName.clear();
    }
    for (std::int32_t no : FResultFieldsOrder) {
      const TVEZFieldLink& link = FFieldLinks[static_cast<std::size_t>(no)];
      if (link.IsHidden) RaiseHidden(kErrHiddenFieldCreate, no);
      if (!link.DisplayName.empty()) {
        field_names.push_back(link.FieldName);
        aliases.push_back(link.DisplayName);
      }
    }
  } else {
    for (const TVEZFieldLink& link : FFieldLinks) {
      if (link.IsHidden) continue;
      field_names.push_back(link.FieldName);
      aliases.emplace_back();
    }
  }
  for (const TVEZFieldLink& link : FFieldLinks) {
    if (link.IsHidden) continue;
    // A generated number would replace a NULL copied from the source.
    TVEZAdvancedFieldType type = link.FieldType;
    if (IsAutoIncType(type)) type = BaseTypeToAdvancedType(AdvancedTypeToBaseType(type));
    TVEZAdvFieldDef* def =
        table.AdvFieldDefs().Add(link.FieldName, type, link.FieldSize, false,
                                 link.BLOBCompressionAlgorithm, link.BLOBCompressionMode);
    def->BLOBBlockSize = link.BLOBBlockSize;
  }
  std::string result_index_name;
  if (FTopRowCount >= 0 && HasResultIndex()) {
    std::string fields, desc, case_ins;
    BuildIndexFieldStrings(fields, desc, case_ins);
    result_index_name = MakeUniqueName("TEMPORARY_INDEX_");
    table.AdvIndexDefs().Add(result_index_name, fields, 0, true, desc, case_ins);
  }
  if (!FResultTableName.empty()) {
    table.SetTemporary(false);
    table.SetDatabaseName(FResultDatabaseName);
    if (FResultInMemory) table.SetInMemory(true);
    table.SetTableName(FResultTableName);
  } else {
    table.SetTemporary(true);
    table.SetDisableTempFiles(FDisableTempFiles);
    do {
      table.SetTableName(MakeUniqueName("TEMPORARY_TABLE_"));
    } while (table.Exists());
  }
  if (FDistinctApplied)
    table.AdvIndexDefs().Add(MakeUniqueName("TEMPORARY_INDEX_"), FDistinctFields,
                             platform::ixUnique, true);
  table.CreateTable();
  table.Open();
  if (!result_index_name.empty()) table.SetIndexName(result_index_name);
}

void TVEZAO::FillResultTable() {
  TVEZTable& table = *FResultDataset;
  std::vector<TVEZVariant> previous;
  if (FDistinctApplied)
    previous.resize(static_cast<std::size_t>(FDistinctFieldCount));
  else
    FDistinctFieldCount = 0;
  bool have_previous = false;
  std::int64_t delivered = 0;
  std::int64_t stored = 0;
  TVEZVariant value(bftUnknown);
  First();
  while (!GetEof()) {
    if (FTopRowCount >= 0 && stored >= FTopRowCount) break;
    if (!RowPassesFilter()) {
      Next();
      continue;
    }
    if (FDistinctApplied) {
      bool is_new = !have_previous;
      for (std::int32_t i = 0; i < FDistinctFieldCount; ++i) {
        const std::int32_t link_no = FDistinctFieldsMap[static_cast<std::size_t>(i)];
        if (link_no < 0) continue;
        GetFieldValue(value, link_no, true, true);
        TVEZVariant& prev = previous[static_cast<std::size_t>(i)];
        if (have_previous && prev.Compare(value, false, false, false) != cmprEqual) is_new = true;
        CopyValue(prev, value);
      }
      have_previous = true;
      if (!is_new) {
        Next();
        continue;
      }
    }
    // Rows before the first row number are counted after the filter, so
    // rejected rows never shift the window.
    ++delivered;
    if (FFirstRowNo >= 0 && delivered < FFirstRowNo) {
      Next();
      continue;
    }
    table.Append();
    std::int32_t k = 0;
    for (std::int32_t i = 0; i < FFieldCount; ++i) {
      if (FFieldLinks[static_cast<std::size_t>(i)].IsHidden) continue;
      CopyFieldValue(i, k++);
    }
    if (FDistinctApplied && !table.Handle()->CheckConstraints(true)) {
      table.Cancel();
    } else {
      table.Post();
      ++stored;
    }
    Next();
  }
  FTopRowCount = -1;
}

void TVEZAO::ResolveOrderByAliases(const std::vector<std::string>& field_names,
                                   const std::vector<std::string>& aliases) {
  for (std::size_t a = 0; a < aliases.size(); ++a) {
    const std::string& alias = aliases[a];
    if (alias.empty()) continue;
    bool is_field_name = false;
    for (const std::string& f : field_names)
      if (platform::AnsiSameText(f, alias)) is_field_name = true;
    if (is_field_name) continue;
    for (std::string& f : FResultIndexFieldsList)
      if (platform::AnsiSameText(f, alias)) f = field_names[a];
  }
}

void TVEZAO::FinishMaterialization(std::vector<std::string>& field_names,
                                   std::vector<std::string>& aliases) {
  TVEZTable& table = *FResultDataset;
  if (HasResultIndex() && !FDistinctApplied) {
    ResolveOrderByAliases(field_names, aliases);
    bool created = false;
    const std::string name =
        table.FindOrCreateIndex(FResultIndexFieldsList, FResultIndexAscDescFieldsList,
                                FResultIndexCaseInsFieldsList, created);
    table.SetIndexName(name);
  }
  if (!field_names.empty()) table.ApplyProjection(field_names, aliases);
  // Links now read the result table by physical column: the non-hidden
  // links in link order. A hidden link reads nothing any more (its child is
  // freed below).
  std::int32_t k = 0;
  for (TVEZFieldLink& link : FFieldLinks) {
    link.AO = nullptr;
    link.Expr.reset();
    link.IsExpression = false;
    link.IsAggregate = false;
    if (link.IsHidden) {
      link.Dataset = nullptr;
      link.FieldNo = -1;
      continue;
    }
    link.Dataset = &table;
    link.FieldNo = k++;
  }
  FIsMaterialized = true;
  FreeChildren();
}

void TVEZAO::FreeChildren() {
  FLeftAO.reset();
  FRightAO.reset();
}

}  // namespace vez

// ---- the planner's push-down of condition parts (an expression operation
// that needs the operators)

namespace vez {

void TVEZExpression::ApplyFilterParts(TVEZAO* ao, TVEZAO* parent_query_ao,
                                      TVEZCursor* parent_cursor, bool allow_recurse,
                                      bool for_having_clause) {
  if (ao == nullptr) return;
  if (allow_recurse && !ao->IsOuterJoin()) {
    if (ao->LeftAO() != nullptr)
      ApplyFilterParts(ao->LeftAO(), parent_query_ao, parent_cursor, true, for_having_clause);
    if (ao->RightAO() != nullptr)
      ApplyFilterParts(ao->RightAO(), parent_query_ao, parent_cursor, true, for_having_clause);
  }
  if (!FRootExprNode) return;
  std::unique_ptr<TVEZExprNode> collected;
  TVEZExprNode* root = FRootExprNode.get();
  const bool and_root = root->Kind() == TVEZExprNodeKind::Boolean && root->Operator == doAND;
  if (and_root) {
    std::vector<std::unique_ptr<TVEZExprNode>> kept;
    for (auto& child : root->Children) {
      if (child && child->CanBeAssigned(ao, parent_query_ao, parent_cursor, for_having_clause)) {
        if (!collected) {
          collected = std::move(child);
        } else if (collected->Kind() == TVEZExprNodeKind::Boolean && collected->Operator == doAND) {
          collected->AddChild(std::move(child));
        } else {
          collected = std::make_unique<TVEZExprNodeBoolean>(doAND, std::move(collected),
                                                            std::move(child), false, false);
        }
      } else {
        kept.push_back(std::move(child));
      }
    }
    root->Children = std::move(kept);
  } else if (root->CanBeAssigned(ao, parent_query_ao, parent_cursor, for_having_clause)) {
    collected = std::move(FRootExprNode);
  }
  if (collected) ao->SetFilter(std::make_unique<TVEZExpression>(std::move(collected)));
  if (FRootExprNode && and_root && FRootExprNode->Children.empty()) FRootExprNode.reset();
}

}  // namespace vez
