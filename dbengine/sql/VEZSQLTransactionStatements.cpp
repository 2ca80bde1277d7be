#include "dbengine/sql/VEZSQLTransactionStatements.h"

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/foundation/VEZException.h"

namespace vez {

namespace {

constexpr const char* kTokenExpected = "Token '%s' expected, but '%s' found at line %d, column %d";

// The query's database component: the one it holds while it runs, else
// the one its session knows by the query's database name.
TVEZDatabase& QueryDatabase(TVEZQuery* query) {
  TVEZDatabase* database = query != nullptr ? query->Database() : nullptr;
  if (database == nullptr && query != nullptr)
    database = Sessions()
                   .GetSessionByName(query->GetSessionName())
                   .DoFindDatabase(query->DatabaseName(), query->Owner());
  if (database == nullptr)
    throw EVEZException(30145, "Query has no open database for the transaction statement");
  return *database;
}

}  // namespace

TVEZSQLStartTransaction::TVEZSQLStartTransaction(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZSQLCommand(lexer, query) {
  TVEZSQLStartTransaction::Parse();
}

void TVEZSQLStartTransaction::Parse() {
  if (!GetCurrentToken()) throw EVEZException(30457, "Blank SQL command");
  if (!IsWord(rwSTART))
    throw EVEZException(30458, kTokenExpected,
                        {"START", Token.Text, Token.LineNum, Token.ColumnNum});
  if (!GetNextToken())
    throw EVEZException(30459, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  if (!IsWord(rwTRANSACTION))
    throw EVEZException(30460, kTokenExpected,
                        {"TRANSACTION", Token.Text, Token.LineNum, Token.ColumnNum});
}

void TVEZSQLStartTransaction::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  QueryDatabase(query).StartTransaction();
}

TVEZSQLCommit::TVEZSQLCommit(TVEZLexer* lexer, TVEZQuery* query) : TVEZSQLCommand(lexer, query) {
  TVEZSQLCommit::Parse();
}

void TVEZSQLCommit::Parse() {
  FFlush = false;
  if (!GetCurrentToken()) throw EVEZException(30461, "Blank SQL command");
  if (!IsWord(rwCOMMIT))
    throw EVEZException(30462, kTokenExpected,
                        {"COMMIT", Token.Text, Token.LineNum, Token.ColumnNum});
  while (GetNextToken())
    if (IsWord(rwFLUSH)) FFlush = true;
}

void TVEZSQLCommit::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  QueryDatabase(query).Commit(FFlush);
}

TVEZSQLRollback::TVEZSQLRollback(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZSQLCommand(lexer, query) {
  TVEZSQLRollback::Parse();
}

void TVEZSQLRollback::Parse() {
  if (!GetCurrentToken()) throw EVEZException(30463, "Blank SQL command");
  if (!IsWord(rwROLLBACK))
    throw EVEZException(30464, kTokenExpected,
                        {"ROLLBACK", Token.Text, Token.LineNum, Token.ColumnNum});
}

void TVEZSQLRollback::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  QueryDatabase(query).Rollback();
}

}  // namespace vez
