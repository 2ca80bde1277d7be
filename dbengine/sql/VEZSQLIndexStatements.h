// CREATE [UNIQUE] INDEX and DROP INDEX: they parse in their constructor and
// act through the table object of the statement (AddIndex, DeleteIndex).
// Errors of the table component pass on unchanged. They leave RowsAffected
// at 0 and return no cursor.
//
// Thread safety: none; a statement belongs to one processor.
#pragma once

#include <string>
#include <vector>

#include "dbengine/sql/VEZDDLStatements.h"
#include "dbengine/sql/VEZSQLProcessor.h"

namespace vez {

// Starts on UNIQUE or INDEX.
class TVEZDDLCreateIndex : public TVEZSQLCommand {
 public:
  TVEZDDLCreateIndex(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;

  // The joined column lists AddIndex takes (";"-separated).
  std::string FieldsText() const;
  std::string DescFieldsText() const;
  std::string CaseInsFieldsText() const;

  bool Unique = false;
  std::string IndexName;
  std::string DatabaseFileName;
  std::string TableName;
  std::string TableAlias;
  std::string Password;
  bool InMemory = false;
  std::vector<ddl::TVEZIndexField> VEZIndexFields;
};

// Starts on INDEX: [MEMORY] table.index or database.table.index.
class TVEZDDLDropIndex : public TVEZSQLCommand {
 public:
  TVEZDDLDropIndex(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;

  std::string IndexName;
  std::string DatabaseFileName;
  std::string TableName;
  std::string TableAlias;
  std::string Password;
  bool InMemory = false;
};

}  // namespace vez
