#include "dbengine/sql/VEZAOTable.h"

#include <utility>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
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

bool TVEZAOTable::TransferIndexToParentIfNeeded(std::vector<std::string>& field_names,
                                                std::vector<std::string>& asc_desc_list,
                                                std::vector<std::string>& case_sensitivity_list) {
  if (!FResultDataset) throw EVEZException(kErrNilTable, "Nil pointer occured");
  if (!HasResultIndex() || !FResultDataset->IndexName().empty() ||
      FResultDataset->IndexExists(FResultIndexFieldsList, FResultIndexAscDescFieldsList,
                                  FResultIndexCaseInsFieldsList))
    return false;
  field_names = std::move(FResultIndexFieldsList);
  asc_desc_list = std::move(FResultIndexAscDescFieldsList);
  case_sensitivity_list = std::move(FResultIndexCaseInsFieldsList);
  ClearResultIndex();
  return true;
}

void TVEZAOTable::Execute(bool is_root_ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) {
  if (HasResultIndex()) ApplyResultIndex(!FDistinctApplied);
  if (FDistinctApplied) {
    ApplyTableDistinct();
    ClearResultIndex();
  }
  FResultDataset->SetSQLFilter(FFilterExpr.get(), parent_query_ao, parent_cursor);
  TVEZAO::Execute(is_root_ao, parent_query_ao, parent_cursor);
}

}  // namespace vez
