#include "dbengine/sql/VEZSQLIndexStatements.h"

#include <memory>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"

namespace vez {

namespace {

constexpr const char* kUnexpectedEnd = "Unexpected end of SQL command found at line %d, column %d";
constexpr const char* kPasswordExpected =
    "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column "
    "%d";
constexpr const char* kSeparatorExpected =
    "')' or ',' symbol expected, but '%s' found at line %d, column %d";

const TTokenTypes kWordTokens = {tktString, tktQuotedString, tktBracketedString, tktReservedWord};

// The names of the columns that pass, joined by ";".
template <typename Pred>
std::string JoinFields(const std::vector<ddl::TVEZIndexField>& fields, Pred pass) {
  std::string result;
  for (const ddl::TVEZIndexField& field : fields) {
    if (!pass(field)) continue;
    if (!result.empty()) result += ';';
    result += field.FieldName;
  }
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// CREATE INDEX

TVEZDDLCreateIndex::TVEZDDLCreateIndex(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZSQLCommand(lexer, query) {
  TVEZDDLCreateIndex::Parse();
}

void TVEZDDLCreateIndex::Parse() {
  if (!GetCurrentToken()) throw EVEZException(30266, "Blank SQL command");
  if (IsWord(rwUNIQUE)) {
    Unique = true;
    ExpectNextToken({tktReservedWord}, 30267,
                    "'INDEX' keyword expected, but '%s' found at line %d, column %d");
  }
  if (!IsWord(rwINDEX))
    RaiseOnToken(30268, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
  ExpectNextToken(kWordTokens, 30269, "index name expected, but '%s' found at line %d, column %d");
  IndexName = Token.Text;
  ExpectNextToken({tktReservedWord}, 30270,
                  "'ON' keyword expected, but '%s' found at line %d, column %d");
  if (!IsWord(rwON))
    RaiseOnToken(30271, "'ON' keyword expected, but '%s' found at line %d, column %d");
  GetNextToken();
  ParseTableName(DatabaseFileName, TableName, InMemory, Password, TableAlias);
  if (Token.TokenType != tktLeftParenthesis)
    RaiseOnToken(30273, "'(' symbol expected, but '%s' found at line %d, column %d");
  for (;;) {
    ExpectNextToken(kWordTokens, 30274,
                    "Field name expected, but '%s' found at line %d, column %d");
    if (IsWord(rwPASSWORD)) {
      ExpectNextToken({tktQuotedString, tktParameter}, 30275, kPasswordExpected);
      Password = TokenValueText();
      ExpectNextToken({tktRightParenthesis, tktComma}, 30276, kSeparatorExpected);
    } else {
      ddl::TVEZIndexField& field = VEZIndexFields.emplace_back();
      field.FieldName = Token.Text;
      for (;;) {
        if (!GetNextToken())
          throw EVEZException(30277, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
        if (Token.TokenType == tktComma || Token.TokenType == tktRightParenthesis) break;
        if (IsWord(rwASC))
          field.desc = false;
        else if (IsWord(rwDESC))
          field.desc = true;
        else if (IsWord(rwCASE))
          field.nocase = false;
        else if (IsWord(rwNOCASE))
          field.nocase = true;
      }
    }
    if (Token.TokenType == tktRightParenthesis) return;
  }
}

std::string TVEZDDLCreateIndex::FieldsText() const {
  return JoinFields(VEZIndexFields, [](const ddl::TVEZIndexField&) { return true; });
}

std::string TVEZDDLCreateIndex::DescFieldsText() const {
  return JoinFields(VEZIndexFields, [](const ddl::TVEZIndexField& f) { return f.desc; });
}

std::string TVEZDDLCreateIndex::CaseInsFieldsText() const {
  return JoinFields(VEZIndexFields, [](const ddl::TVEZIndexField& f) { return f.nocase; });
}

void TVEZDDLCreateIndex::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  // Declared in this order so that the table goes before its database.
  std::unique_ptr<TVEZDatabase> database;
  std::unique_ptr<TVEZTable> table;
  CreateStatementTable(query, DatabaseFileName, database, table, InMemory, Password, TableName);
  table->Open();
  table->AddIndex(IndexName, FieldsText(), Unique ? platform::ixUnique : 0, DescFieldsText(),
                  CaseInsFieldsText());
  table->Close();
  FreeStatementTable(table, database);
}

// ---------------------------------------------------------------------------
// DROP INDEX

TVEZDDLDropIndex::TVEZDDLDropIndex(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZSQLCommand(lexer, query) {
  TVEZDDLDropIndex::Parse();
}

void TVEZDDLDropIndex::Parse() {
  GetCurrentToken();
  if (!GetNextToken()) throw EVEZException(30278, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
  const TToken first = Token;
  std::string a, b;
  ParseTableName(a, b, InMemory, Password, TableAlias);
  if (Token.TokenType == tktDot) {
    if (!GetNextToken())
      throw EVEZException(30281, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
    DatabaseFileName = a;
    TableName = b;
    IndexName = TokenValueText();
    GetNextToken();
    if (IsWord(rwPASSWORD)) {
      ExpectNextToken({tktQuotedString, tktParameter}, 30282, kPasswordExpected);
      Password = TokenValueText();
      GetNextToken();
    }
    return;
  }
  if (a.empty())
    throw EVEZException(30498, "Table name expected, but '%s' found at line %d, column %d",
                        {b, first.LineNum, first.ColumnNum});
  TableName = a;
  IndexName = b;
}

void TVEZDDLDropIndex::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  std::unique_ptr<TVEZDatabase> database;
  std::unique_ptr<TVEZTable> table;
  CreateStatementTable(query, DatabaseFileName, database, table, InMemory, Password, TableName);
  table->Open();
  table->DeleteIndex(IndexName);
  table->Close();
  FreeStatementTable(table, database);
}

}  // namespace vez
