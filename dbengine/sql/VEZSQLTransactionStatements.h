// START TRANSACTION, COMMIT [WORK] [FLUSH] and ROLLBACK: they call the
// transaction operations of the query's database component, whose errors
// (a second transaction, COMMIT or ROLLBACK outside one) pass on unchanged.
//
// Thread safety: none; a statement belongs to one processor.
#pragma once

#include "dbengine/sql/VEZSQLProcessor.h"

namespace vez {

class TVEZSQLStartTransaction : public TVEZSQLCommand {
 public:
  TVEZSQLStartTransaction(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
};

// Any word after COMMIT is read; FLUSH among them writes the changed pages
// to the file at once.
class TVEZSQLCommit : public TVEZSQLCommand {
 public:
  TVEZSQLCommit(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;

  bool FFlush = false;
};

// Words after ROLLBACK are ignored.
class TVEZSQLRollback : public TVEZSQLCommand {
 public:
  TVEZSQLRollback(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
};

}  // namespace vez
