// DELETE FROM [MEMORY] [database.]table ...: the command is rewritten in
// place to SELECT * FROM table ..., the internal query that selects the
// rows to delete. They are deleted through the selection itself when its
// cursor shows them through a record bitmap, else through a second table
// object positioned by bookmark, the bookmarks of all selected rows taken
// first. Outside a transaction under the statement's write lock, in one
// batch that a failure undoes whole.
//
// The selection must read the stored table itself (30225 otherwise, see
// SelectedTable); DeleteSelection runs the deletion on any live selection.
//
// Thread safety: none; a statement belongs to one processor.
#pragma once

#include <memory>
#include <string>

#include "dbengine/sql/VEZSQLProcessor.h"

namespace vez {

class TVEZTable;
class TVEZSQLUnion;

class TVEZSQLDelete : public TVEZSQLCommand {
 public:
  // The lexer is on DELETE.
  TVEZSQLDelete(TVEZLexer* lexer, TVEZQuery* query);
  ~TVEZSQLDelete() override;
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;

  // Deletes the rows of selection, an open live dataset over the target
  // table; RowsAffected counts them.
  void DeleteSelection(TVEZTable& selection);

  std::unique_ptr<TVEZSQLUnion> InternalSelecter;
  // The table of the last deletion (from the selection).
  std::string TableName;
  bool FullDelete = false;
};

}  // namespace vez
