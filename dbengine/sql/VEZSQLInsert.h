// INSERT INTO [MEMORY] [database.]table [PASSWORD 'p'] [(columns)]
// VALUES (values) {, (values)}: parsed in the constructor, run row by row
// through a table object of the statement; RowsAffected counts the rows
// posted. Each row must give as many values as the column list names, or
// without a list no more than the table has columns (20259); a bad
// separator between values is an error (30212), as is anything after the
// last row (20260). All this is checked before the first row is written.
//
// INSERT ... SELECT runs the query, copies its result into a temporary
// table first (so a query over the target itself sees none of the new
// rows) and inserts those rows by position, or into the listed columns;
// the result must have as many columns as the list (or no more than the
// table) (20259). Outside a transaction the copy runs under the statement's
// write lock (20224 when it cannot be had) in one batch that a failure
// undoes whole.
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

class TVEZSQLUnion;
class TVEZTable;

class TVEZSQLInsert : public TVEZSQLCommand {
 public:
  // The lexer is on INSERT.
  TVEZSQLInsert(TVEZLexer* lexer, TVEZQuery* query);
  ~TVEZSQLInsert() override;
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;

  // One VALUES row: its expressions in order and where its "(" stood.
  struct TValuesRow {
    std::vector<std::unique_ptr<TVEZExpression>> Values;
    std::int32_t LineNum = 0;
    std::int32_t ColumnNum = 0;
  };

  std::string TableName;
  std::string DatabaseFileName;
  std::string Password;
  std::vector<std::string> FieldNames;  // empty when no column list was given
  std::vector<TValuesRow> FieldValues;
  std::unique_ptr<TVEZSQLUnion> InternalSelecter;

 private:
  void ParseValues();
  // The query from the current token (SELECT or "("); in_parentheses: the
  // "(" before it was taken and its ")" must follow (20256).
  void ParseQuery(bool in_parentheses);
  void InsertValues(TVEZTable& table);
  void InsertFromQuery(TVEZQuery* query, bool is_root, TVEZTable& table);

  std::int32_t FQueryLineNum = 0;
  std::int32_t FQueryColumnNum = 0;
};

}  // namespace vez
