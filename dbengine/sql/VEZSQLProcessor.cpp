#include "dbengine/sql/VEZSQLProcessor.h"

#include "dbengine/sql/VEZAO.h"
#include "platform/core/Clock.h"

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/sql/VEZDDLStatements.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZSQLDelete.h"
#include "dbengine/sql/VEZSQLIndexStatements.h"
#include "dbengine/sql/VEZSQLInsert.h"
#include "dbengine/sql/VEZSQLSelect.h"
#include "dbengine/sql/VEZSQLTransactionStatements.h"
#include "dbengine/sql/VEZSQLUpdate.h"
#include "dbengine/storage/VEZCursor.h"

namespace vez {

namespace {

constexpr const char* kUnexpectedEnd = "Unexpected end of SQL command found at line %d, column %d";
constexpr const char* kObjectTypeExpected =
    "Object type keyword expected, but '%s' found at line %d, column %d";
constexpr const char* kSQLTokenExpected =
    "SQL token expected, but '%s' found at line %d, column %d";
constexpr const char* kTableNameExpected =
    "Table name expected, but '%s' found at line %d, column %d";

const TTokenTypes kNameTokens = {tktString, tktQuotedString, tktBracketedString, tktReservedWord,
                                 tktParameter};

constexpr int kUniqueNameAttempts = 3;

}  // namespace

// ---------------------------------------------------------------------------
// TVEZSQLCommand

bool TVEZSQLCommand::GetCurrentToken() {
  return LLex->GetCurrentToken(Token);
}

bool TVEZSQLCommand::GetNextToken() {
  return LLex->GetNextToken(Token);
}

void TVEZSQLCommand::RaiseOnToken(std::int32_t number, const char* message) const {
  throw EVEZException(number, message, {Token.Text, Token.LineNum, Token.ColumnNum});
}

void TVEZSQLCommand::ExpectNextToken(TTokenTypes kinds, std::int32_t number, const char* message) {
  if (!GetNextToken()) throw EVEZException(30161, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
  if (!kinds.Empty() && !kinds.Contains(Token.TokenType)) RaiseOnToken(number, message);
}

std::string TVEZSQLCommand::TokenValueText() const {
  if (Token.TokenType == tktParameter && Token.ParamValue != nullptr)
    return Token.ParamValue->GetAsAnsiString();
  return Token.Text;
}

bool TVEZSQLCommand::CheckPseudonym(std::string& pseudonym) {
  pseudonym.clear();
  if (IsWord(rwAS)) {
    ExpectNextToken({tktString, tktQuotedString, tktBracketedString, tktParameter}, 30177,
                    "Field pseudonym expected, but '%s' found at line %d, column %d");
    pseudonym = TokenValueText();
    GetNextToken();
    return true;
  }
  if (Token.TokenType == tktString || Token.TokenType == tktBracketedString ||
      Token.TokenType == tktParameter) {
    pseudonym = TokenValueText();
    GetNextToken();
    return true;
  }
  return false;
}

void TVEZSQLCommand::ParseTableName(std::string& database_name, std::string& table_name,
                                    bool& in_memory, std::string& password,
                                    std::string& pseudonym) {
  database_name.clear();
  password.clear();
  in_memory = false;
  if (!kNameTokens.Contains(Token.TokenType)) RaiseOnToken(30230, kTableNameExpected);
  if (IsWord(rwMEMORY)) {
    in_memory = true;
    ExpectNextToken(kNameTokens, 30231, kTableNameExpected);
  }
  table_name = TokenValueText();
  GetNextToken();
  if (Token.TokenType == tktDot) {
    database_name = table_name;
    ExpectNextToken(kNameTokens, 30230, kTableNameExpected);
    table_name = TokenValueText();
    GetNextToken();
  }
  CheckPseudonym(pseudonym);
  if (IsWord(rwPASSWORD)) {
    ExpectNextToken({tktQuotedString, tktParameter}, 30238,
                    "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at "
                    "line %d, column %d");
    password = TokenValueText();
    GetNextToken();
  }
}

void TVEZSQLCommand::ParseFieldNameList(std::vector<std::string>& list) {
  const TTokenTypes names = {tktString, tktQuotedString, tktBracketedString};
  if (!names.Contains(Token.TokenType))
    RaiseOnToken(10408, "Field name expected, but expression '%s...' found at line %d, column %d");
  list.push_back(Token.Text);
  GetNextToken();
  while (Token.TokenType == tktComma) {
    ExpectNextToken(names, 10406, "Unexpected token '%s' found at line %d, column %d");
    list.push_back(Token.Text);
    GetNextToken();
  }
}

void TVEZSQLCommand::ParseFieldList(std::vector<TVEZFieldReference>& fields) {
  for (;;) {
    const TToken start = Token;
    TVEZExpression expression;
    expression.ParseForValueExpression(LQuery, LLex);
    if (!expression.IsField())
      throw EVEZException(10409,
                          "Field name expected, but expression '%s...' found at line %d, column %d",
                          {start.Text, start.LineNum, start.ColumnNum});
    TVEZFieldReference& field = fields.emplace_back();
    expression.GetFieldInfo(field.TableName, field.FieldName);
    GetCurrentToken();
    if (Token.TokenType != tktComma) return;
    ExpectNextToken({tktString, tktQuotedString, tktBracketedString, tktReservedWord}, 10410,
                    "Unexpected token '%s' found at line %d, column %d");
  }
}

void TVEZSQLCommand::CreateStatementTable(TVEZQuery* query, const std::string& database_file_name,
                                          std::unique_ptr<TVEZDatabase>& database,
                                          std::unique_ptr<TVEZTable>& table, bool in_memory,
                                          const std::string& password,
                                          const std::string& table_name) {
  database = std::make_unique<TVEZDatabase>();
  if (TVEZDatabase* own = query->Database()) {
    database->SetMultiUser(own->MultiUser());
    database->SetDisableTempFiles(own->DisableTempFiles());
  }
  database->SetDatabaseFileName(database_file_name);
  database->SetSessionName(query->GetSessionName());
  SetUniqueDatabaseName(*database, "TEMP_DB");
  database->SetPassword(password);
  database->SetSilentMode(true);
  table = std::make_unique<TVEZTable>();
  table->SetSessionName(query->GetSessionName());
  table->SetDatabaseName(database_file_name.empty() ? query->DatabaseName()
                                                    : database->DatabaseName());
  table->SetTableName(table_name);
  if (in_memory || query->InMemory()) table->SetInMemory(true);
}

void TVEZSQLCommand::SetUniqueDatabaseName(TVEZDatabase& database, const char* prefix) {
  for (int attempt = 1;; ++attempt) {
    try {
      database.SetDatabaseName(MakeUniqueName(prefix));
      return;
    } catch (...) {
      if (attempt >= kUniqueNameAttempts) throw;
    }
  }
}

void TVEZSQLCommand::FreeStatementTable(std::unique_ptr<TVEZTable>& table,
                                        std::unique_ptr<TVEZDatabase>& database) {
  table.reset();
  database.reset();
}

// ---------------------------------------------------------------------------
// TVEZSQLCursorCommand

TVEZSQLCursorCommand::~TVEZSQLCursorCommand() {
  RootAO.reset();
  FIntoTable.reset();
  FIntoDatabase.reset();
}

void TVEZSQLCursorCommand::MarkTreeBuilt() {
  if (FTreeBuilt)
    throw EVEZException(kErrTreeBuiltTwice,
                        "Internal error: a parsed query statement cannot be executed twice");
  FTreeBuilt = true;
}

void TVEZSQLCursorCommand::ExecSQL(TVEZQuery* query, bool is_root, bool request_live,
                                   bool& read_only, TVEZAO* parent_query_ao,
                                   TVEZCursor* parent_cursor) {
  RowsAffected = 0;
  RootAO.reset();
  RootAO.reset(BuildAOTree(query, request_live, parent_query_ao, parent_cursor, false));
  TVEZAO& root = *RootAO;
  if (!IntoTable.empty() && !FIntoTable) {
    // INTO db.t writes into the database INTO names, not the query's.
    CreateStatementTable(query, IntoDatabase, FIntoDatabase, FIntoTable, IntoMemory, "", IntoTable);
    if (IntoDatabase.empty()) FIntoDatabase.reset();
  }
  if (FIntoTable && !root.FIsAOTable)
    root.SetResultTable(FIntoTable->InMemory(), IntoImmediate, IntoTable,
                        FIntoTable->DatabaseName());

  LockTables(root);
  try {
    root.Execute(is_root, parent_query_ao, parent_cursor);
  } catch (...) {
    root.UnlockTables();
    throw;
  }
  if (!root.UnlockTables()) throw EVEZException(20227, "Cannot unlock table");

  if (is_root) {
    read_only = !request_live || (!root.FIsAOTable && IntoTable.empty());
    if (TVEZCursor* cursor = GetResultCursor()) cursor->ReadOnly = read_only;
  }

  if (FIntoTable && (root.FIsAOTable || root.FResultTableName.empty())) {
    TVEZTable& source = *root.ResultDataset();
    source.AdvIndexDefs().Clear();
    TVEZDatabase* database = query != nullptr ? query->Database() : nullptr;
    const bool silent = database != nullptr && database->SilentMode();
    if (database != nullptr) database->SetSilentMode(true);
    std::string log;
    bool ok = false;
    try {
      ok = FIntoTable->ImportTable(source, log, nullptr);
    } catch (...) {
      if (database != nullptr) database->SetSilentMode(silent);
      throw;
    }
    if (database != nullptr) database->SetSilentMode(silent);
    if (!ok)
      throw EVEZException(10403, "Error importing table. Cannot copy data due to error: %s",
                          {"\r\n" + log});
  }
}

void TVEZSQLCursorCommand::LockTables(TVEZAO& root) {
  if (!root.OpenTables()) throw EVEZException(20225, "Table is locked");
  for (std::int32_t attempt = 0; attempt < kLockTryCount; ++attempt) {
    if (root.LockTables()) return;
    if (!root.UnlockTables()) throw EVEZException(20226, "Cannot unlock table");
    platform::Sleep(kLockDelayMS);
  }
  throw EVEZException(20225, "Table is locked");
}

TVEZCursor* TVEZSQLCursorCommand::GetResultCursor() {
  if (!RootAO || RootAO->ResultDataset() == nullptr) return nullptr;
  return RootAO->ResultDataset()->Handle();
}

// ---------------------------------------------------------------------------
// TVEZSQLProcessor

TVEZSQLProcessor::~TVEZSQLProcessor() {
  // The statement may refer to the lexer.
  Queries.clear();
  FLex.reset();
}

TVEZCursor* TVEZSQLProcessor::OpenQuery() {
  FRowsAffected = 0;
  Queries.clear();
  FLex.reset();
  FLex = std::make_unique<TVEZLexer>(FSqlText, &FSQLParams, false);
  while (DispatchStatement(FLex.get())) {
    TVEZSQLCommand& statement = *Queries.front();
    statement.ExecSQL(VEZQuery, true, FRequestLive, FReadOnly, nullptr, nullptr);
    FRowsAffected += statement.RowsAffected;
  }
  TVEZSQLCommand* last = CurrentStatement();
  TVEZCursor* cursor = last != nullptr ? last->GetResultCursor() : nullptr;
  if (cursor != nullptr) cursor->InternalFirst();
  return cursor;
}

bool TVEZSQLProcessor::DispatchStatement(TVEZLexer* lexer) {
  if (lexer->NumCommands() == 0) throw EVEZException(30145, "Blank SQL command");
  if (!lexer->GetNextCommand()) return false;
  Queries.clear();
  TToken token;
  if (!lexer->GetCurrentToken(token)) throw EVEZException(30146, "Blank SQL command");
  auto raise = [&token](std::int32_t number, const char* message) {
    throw EVEZException(number, message, {token.Text, token.LineNum, token.ColumnNum});
  };
  // The second token of ALTER, CREATE and DROP; end_number when none.
  auto second = [&](std::int32_t end_number) {
    if (!lexer->GetNextToken(token))
      throw EVEZException(end_number, kUnexpectedEnd, {token.LineNum, token.ColumnNum});
  };
  std::unique_ptr<TVEZSQLCommand> statement;
  TVEZQuery* query = VEZQuery;
  if (token.TokenType == tktLeftParenthesis) {
    statement = std::make_unique<TVEZSQLUnion>(lexer, query);
  } else if (token.TokenType != tktReservedWord) {
    raise(30154, kSQLTokenExpected);
  } else {
    switch (token.ReservedWord) {
      case rwALTER:
        second(30152);
        if (!IsReservedWord(token, rwTABLE)) raise(30151, kObjectTypeExpected);
        statement = std::make_unique<TVEZDDLAlterTable>(lexer, query);
        break;
      case rwCOMMIT:
        statement = std::make_unique<TVEZSQLCommit>(lexer, query);
        break;
      case rwCREATE:
        second(30148);
        if (IsReservedWord(token, rwTABLE))
          statement = std::make_unique<TVEZDDLCreateTable>(lexer, query);
        else if (IsReservedWord(token, rwUNIQUE) || IsReservedWord(token, rwINDEX))
          statement = std::make_unique<TVEZDDLCreateIndex>(lexer, query);
        else
          raise(30147, kObjectTypeExpected);
        break;
      case rwDELETE:
        statement = std::make_unique<TVEZSQLDelete>(lexer, query);
        break;
      case rwDROP:
        second(30150);
        if (IsReservedWord(token, rwTABLE))
          statement = std::make_unique<TVEZDDLDropTable>(lexer, query);
        else if (IsReservedWord(token, rwINDEX))
          statement = std::make_unique<TVEZDDLDropIndex>(lexer, query);
        else
          raise(30149, kObjectTypeExpected);
        break;
      case rwINSERT:
        statement = std::make_unique<TVEZSQLInsert>(lexer, query);
        break;
      case rwROLLBACK:
        statement = std::make_unique<TVEZSQLRollback>(lexer, query);
        break;
      case rwSELECT:
        statement = std::make_unique<TVEZSQLUnion>(lexer, query);
        break;
      case rwUPDATE:
        statement = std::make_unique<TVEZSQLUpdate>(lexer, query);
        break;
      case rwRENAME:
        if (!lexer->GetNextToken(token))
          throw EVEZException(30353, kUnexpectedEnd, {token.LineNum, token.ColumnNum});
        if (IsReservedWord(token, rwTABLE)) lexer->GetNextToken(token);
        statement = std::make_unique<TVEZDDLRenameTable>(lexer, query);
        break;
      case rwSTART:
        statement = std::make_unique<TVEZSQLStartTransaction>(lexer, query);
        break;
      case rwTRUNCATE:
        statement = std::make_unique<TVEZDDLTruncateTable>(lexer, query);
        break;
      default:
        raise(30153, kSQLTokenExpected);
    }
  }
  // A query's parser must use its whole command; the other statements check
  // their own ends.
  if (dynamic_cast<TVEZSQLCursorCommand*>(statement.get()) != nullptr &&
      lexer->GetCurrentToken(token))
    raise(20260, "End of SQL command expected, but '%s' found at line %d, column %d");
  Queries.push_back(std::move(statement));
  return true;
}

std::unique_ptr<TVEZSQLStatementHandle> TVEZLocalSQLProcessorFactory::CreateProcessor(
    TVEZQuery& query) {
  return std::make_unique<TVEZLocalSQLProcessor>(&query);
}

}  // namespace vez
