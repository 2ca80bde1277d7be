#include "dbengine/sql/VEZAOTable.h"

#include <utility>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/Collation.h"
#include "platform/core/Exceptions.h"

namespace vez {

TVEZAOTable::TVEZAOTable(std::string table_name, std::string table_alias, TVEZDatabase* database,
                         std::unique_ptr<TVEZTable> table)
    : TVEZAO(nullptr, nullptr, std::move(table_name), std::move(table_alias)), FDatabase(database) {
  FIsAOTable = true;
  SetResultDataset(std::move(table));
  FDisableTempFiles = database != nullptr && database->DisableTempFiles();
  TVEZTable& t = *FResultDataset;
  try {
    t.Open();
  } catch (const platform::Exception& e) {
    throw EVEZException(kErrOpenTable,
                        "Error on opening table \"%s\" (InMemory = %d) in SQL query: %s",
                        {FTableName, t.InMemory() ? 1 : 0, e.Message()});
  }
  const TVEZFieldDefs& defs = t.Handle()->FieldDefs();
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
    const TVEZFieldDef* def = defs.GetDef(i);
    TVEZFieldLink link;
    link.FieldName = def->Name;
    link.FieldType = def->AdvancedFieldType;
    link.FieldSize = def->FieldSize;
    link.BLOBCompressionAlgorithm = static_cast<TCompressionAlgorithm>(
        static_cast<std::uint8_t>(def->BLOBCompressionAlgorithm));
    link.BLOBCompressionMode = def->BLOBCompressionMode;
    link.BLOBBlockSize = def->BLOBBlockSize;
    link.Dataset = &t;
    link.FieldNo = i;
    link.IsHidden = true;
    AddFieldLink(std::move(link));
  }
}

void TVEZAOTable::SetResultFields(std::vector<TVEZSelectListItem>& field_refs, bool distinct) {
  if (field_refs.empty()) {
    TVEZAO::SetResultFields(field_refs, distinct);
    return;
  }
  const std::string table_name = platform::AnsiUpperCase(FTableName);
  const std::string alias = platform::AnsiUpperCase(FTableAlias);
  std::vector<std::string> names, aliases;
  for (const TVEZSelectListItem& item : field_refs) {
    if (!item.TableName.empty()) {
      const std::string t = platform::AnsiUpperCase(item.TableName);
      if (t != table_name && t != alias)
        throw EVEZException(
            kErrInvalidTableName,
            "Invalid table name in reference. Table name = %s, table alias = %s, tname = %s",
            {table_name, alias, t});
    }
    // A `*` shows every column in table order, whatever else is listed.
    if (item.AllFields || item.FieldName == "*") return;
    names.push_back(item.FieldName);
    aliases.push_back(item.Pseudonym);
  }
  TVEZAO::SetResultFields(field_refs, distinct);
  FResultDataset->ApplyProjection(names, aliases);
}

namespace {

// Columns the filter's top-level AND parts fix to a non-null constant.
void CollectFixedColumns(const TVEZExprNode* node, std::vector<const TVEZExprNodeField*>& fields) {
  if (node == nullptr) return;
  if (node->Operator == doAND) {
    for (const auto& child : node->Children)
      CollectFixedColumns(child.get(), fields);
    return;
  }
  if (node->Kind() != TVEZExprNodeKind::Comparison || node->Operator != doEQ ||
      node->Children.size() != 2)
    return;
  for (std::size_t i = 0; i < 2; ++i) {
    const TVEZExprNode* field = node->Children[i].get();
    const TVEZExprNode* constant = node->Children[1 - i].get();
    if (field == nullptr || constant == nullptr || field->Kind() != TVEZExprNodeKind::Field ||
        constant->Kind() != TVEZExprNodeKind::Const)
      continue;
    const auto* f = static_cast<const TVEZExprNodeField*>(field);
    if (f->FGetFromParent) continue;
    if (const_cast<TVEZExprNode*>(constant)->GetDataValue()->GetIsNull()) continue;
    fields.push_back(f);
  }
}

}  // namespace

bool TVEZAOTable::SelectIndexForResultOrder() {
  if (!HasResultIndex() || FDistinctApplied || !FResultDataset || !FResultDataset->Active() ||
      FResultDataset->Handle() == nullptr || !FResultDataset->IndexName().empty() ||
      !FResultDataset->IndexFieldNames().empty())
    return false;
  TVEZTable& t = *FResultDataset;
  const TVEZFieldDefs& defs = t.Handle()->FieldDefs();
  const std::string table_name = platform::AnsiUpperCase(FTableName);
  const std::string alias = platform::AnsiUpperCase(FTableAlias);
  // Text columns stay out: a comparison without case would let several
  // keys through, and the order below them would interleave.
  std::vector<std::string> fixed;
  std::vector<const TVEZExprNodeField*> nodes;
  if (FFilterExpr) CollectFixedColumns(FFilterExpr->Root(), nodes);
  for (const TVEZExprNodeField* node : nodes) {
    if (!node->FTableName.empty()) {
      const std::string t_name = platform::AnsiUpperCase(node->FTableName);
      if (t_name != table_name && t_name != alias) continue;
    }
    const TVEZFieldDef* def = defs.GetFieldDefByName(node->FFieldName);
    if (def == nullptr || IsStringBaseFieldType(def->BaseFieldType)) continue;
    bool seen = false;
    for (const std::string& name : fixed)
      seen = seen || platform::AnsiSameText(name, def->Name);
    for (const std::string& name : FResultIndexFieldsList)
      seen = seen || platform::AnsiSameText(name, def->Name);
    if (!seen) fixed.push_back(def->Name);
  }
  // At most three fixed columns are tried, in every order and subset.
  if (fixed.size() > 3) fixed.resize(3);
  std::vector<std::vector<std::string>> prefixes{{}};
  for (std::size_t size = 1; size <= fixed.size(); ++size) {
    std::vector<std::size_t> pick(size, 0);
    for (;;) {
      bool distinct = true;
      for (std::size_t a = 0; a < size; ++a)
        for (std::size_t b = a + 1; b < size; ++b)
          distinct = distinct && pick[a] != pick[b];
      if (distinct) {
        std::vector<std::string> prefix;
        for (std::size_t k : pick)
          prefix.push_back(fixed[k]);
        prefixes.push_back(std::move(prefix));
      }
      std::size_t pos = 0;
      while (pos < size && ++pick[pos] == fixed.size())
        pick[pos++] = 0;
      if (pos == size) break;
    }
  }
  for (const std::vector<std::string>& prefix : prefixes) {
    for (const bool reverse : {false, true}) {
      // A fixed column may run either way: only one of its keys is read.
      std::vector<std::string> fields = prefix;
      std::vector<std::string> asc_desc(prefix.size(), "ANY");
      std::vector<std::string> case_ins(prefix.size(), "ANY");
      for (std::size_t i = 0; i < FResultIndexFieldsList.size(); ++i) {
        fields.push_back(FResultIndexFieldsList[i]);
        const bool desc = FResultIndexAscDescFieldsList[i] == "DESC";
        asc_desc.push_back(desc != reverse ? "DESC" : "ASC");
        case_ins.push_back(FResultIndexCaseInsFieldsList[i]);
      }
      if (!t.IndexExists(fields, asc_desc, case_ins)) continue;
      bool created = false;
      const std::string name = t.FindOrCreateIndex(fields, asc_desc, case_ins, created);
      t.SetIndexName(name);
      t.Handle()->ReverseOrder = reverse;
      return true;
    }
  }
  return false;
}

bool TVEZAOTable::TransferIndexToParentIfNeeded(std::vector<std::string>& field_names,
                                                std::vector<std::string>& asc_desc_list,
                                                std::vector<std::string>& case_sensitivity_list) {
  if (!FResultDataset) throw EVEZException(kErrNilTable, "Nil pointer occured");
  if (!HasResultIndex() || !FResultDataset->IndexName().empty() ||
      FResultDataset->IndexExists(FResultIndexFieldsList, FResultIndexAscDescFieldsList,
                                  FResultIndexCaseInsFieldsList))
    return false;
  if (SelectIndexForResultOrder()) {
    ClearResultIndex();
    return false;
  }
  field_names = std::move(FResultIndexFieldsList);
  asc_desc_list = std::move(FResultIndexAscDescFieldsList);
  case_sensitivity_list = std::move(FResultIndexCaseInsFieldsList);
  ClearResultIndex();
  return true;
}

void TVEZAOTable::Execute(bool is_root_ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) {
  // An index the filter narrows to the result order spares building one
  // over the whole table.
  if (SelectIndexForResultOrder()) ClearResultIndex();
  if (HasResultIndex()) ApplyResultIndex(!FDistinctApplied);
  if (FDistinctApplied) {
    ApplyTableDistinct();
    ClearResultIndex();
  }
  FResultDataset->SetSQLFilter(FFilterExpr.get(), parent_query_ao, parent_cursor);
  TVEZAO::Execute(is_root_ao, parent_query_ao, parent_cursor);
}

}  // namespace vez
