// UPDATE [MEMORY] [database.]table [pseudonym] [PASSWORD 'p'] SET column =
// value {, column = value} [WHERE ...] (or SET (columns) = (SELECT ...),
// one row whose values go to the columns): the SET list is parsed here; the
// rows to change are chosen by an internal SELECT * FROM the same table
// with everything from WHERE on, whose tokens FSelectLexer holds.
//
// Execution edits the selected rows through a second table object
// positioned by bookmark. The bookmarks of all selected rows are taken
// before the first change, so a change that moves a row within or out of
// the selection neither changes it twice nor skips another. Values are
// evaluated in list order after the columns before them were set (SET a =
// b, b = a gives both the old b). Outside a transaction each pass runs under
// the statement's write lock in a batch; a failed pass is undone and tried
// again, up to kPasses times kPassPauseMs apart.
//
// The selection must read the stored table itself (30225 otherwise, see
// SelectedTable); UpdateSelection runs the change on any live selection.
//
// Thread safety: none; a statement belongs to one processor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZSQLProcessor.h"

namespace vez {

class TVEZTable;
class TVEZSQLUnion;

class TVEZSQLUpdate : public TVEZSQLCommand {
 public:
  static constexpr int kPasses = 15;
  static constexpr std::uint32_t kPassPauseMs = 100;

  // The lexer is on UPDATE.
  TVEZSQLUpdate(TVEZLexer* lexer, TVEZQuery* query);
  ~TVEZSQLUpdate() override;
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;

  // Changes the rows of selection, an open live dataset over the target
  // table; RowsAffected counts them.
  void UpdateSelection(TVEZTable& selection);

  std::string DatabaseFileName;
  std::string TableName;
  std::string Password;
  std::vector<std::string> FieldNames;
  std::vector<std::unique_ptr<TVEZExpression>> FieldValues;
  bool IsFieldValuesSubquery = false;
  // SET (columns) = (SELECT ...): one row whose values go to the columns.
  std::unique_ptr<TVEZExpression> FieldValuesSubqueryExpr;
  TVEZLexer FSelectLexer{"", nullptr, false};
  std::unique_ptr<TVEZSQLUnion> InternalSelecter;
  std::string FTablePseudonym;

 private:
  // Builds SELECT * FROM <table clause> [rest from WHERE on] in
  // FSelectLexer; rest_from is the token number of WHERE, or -1.
  void BuildSelection(const TToken& table_token, std::int32_t rest_from);
  void ParseSelection();
  // A column of the SET list; table.column names it too.
  std::string ParseColumnName();
  // ( column {, column} ) = (SELECT ...) from the current "("; rest_from as
  // for BuildSelection.
  void ParseRowSubqueryForm(std::int32_t& rest_from);
};

}  // namespace vez
