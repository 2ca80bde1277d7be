// DELETE FROM [MEMORY] [database.]table ...: the command is rewritten in
// place to SELECT * FROM table ..., the internal query that selects the
// rows to delete. They are deleted through the selection itself when its
// cursor shows them through a record bitmap, else through a second table
// object positioned by bookmark, the bookmarks of all selected rows taken
// first. Outside a transaction under the statement's write lock, in one
// batch that a failure undoes whole.
//
// Until the query statements can run the selection, the command is checked
// up to its table clause and ExecSQL raises 30157; DeleteSelection runs the
// deletion on a selection the caller made.
//
// Thread safety: none; a statement belongs to one processor.
#pragma once

#include <string>

#include "dbengine/sql/VEZSQLProcessor.h"

namespace vez {

class TVEZDataSet;

class TVEZSQLDelete : public TVEZSQLCommand {
 public:
  // The lexer is on DELETE.
  TVEZSQLDelete(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;

  // Deletes the rows of selection, an open live dataset over the target
  // table; RowsAffected counts them.
  void DeleteSelection(TVEZDataSet& selection);

  std::string TableName;
  bool FullDelete = false;

 private:
  std::string FDatabaseFileName;
  std::string FPassword;
  std::string FPseudonym;
};

}  // namespace vez
