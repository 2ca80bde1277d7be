// TVEZAOTable: the leaf operator over one stored table. It reads the table
// through a TVEZTable the statement layer made for the reference, applies the
// WHERE parts pushed down to it as the table's SQL filter (evaluated by the
// storage engine while scanning, with index scans where they fit), selects an
// index for ORDER BY or DISTINCT and restricts and renames the visible
// columns. It never materialises: its result dataset is the stored table.
//
// Thread safety: none; see VEZAO.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dbengine/sql/VEZAO.h"

namespace vez {

class TVEZDatabase;

class TVEZAOTable : public TVEZAO {
 public:
  static constexpr std::int32_t kErrOpenTable = 10303;
  static constexpr std::int32_t kErrInvalidTableName = 30327;
  static constexpr std::int32_t kErrNilTable = 10513;

  // Takes table (set up with session, database and table name), opens it
  // (10303 with the cause's message when that fails) and makes one hidden
  // link per column. database (not owned; may be null) gives DisableTempFiles.
  TVEZAOTable(std::string table_name, std::string table_alias, TVEZDatabase* database,
              std::unique_ptr<TVEZTable> table);

  void Execute(bool is_root_ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
  // A list with a `*` entry shows every column in table order; otherwise the
  // table is projected onto the listed columns under their aliases. An entry
  // qualified by neither the table name nor the alias raises 30327.
  void SetResultFields(std::vector<TVEZSelectListItem>& field_refs, bool distinct) override;
  // Hands the result order to a parent when the table has no index for it.
  bool TransferIndexToParentIfNeeded(std::vector<std::string>& field_names,
                                     std::vector<std::string>& asc_desc_list,
                                     std::vector<std::string>& case_sensitivity_list);

  TVEZDatabase* FDatabase = nullptr;

 private:
  // Selects an index of the table that yields the result order for the rows
  // the filter lets through: one whose leading columns the filter fixes to
  // a constant (col = const in its top-level AND parts, non-text columns)
  // and whose next columns are the ORDER BY columns, read backwards when
  // every direction is the opposite. False (nothing changed) when none.
  bool SelectIndexForResultOrder();
};

}  // namespace vez
