#include "dbengine/sql/VEZSQLUpdate.h"

#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZSQLDataChange.h"
#include "dbengine/sql/VEZSQLSelect.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/Clock.h"
#include "platform/core/Collation.h"
#include "platform/dataset/Field.h"

namespace vez {

namespace {

constexpr const char* kTokenExpected = "Token '%s' expected, but '%s' found at line %d, column %d";
constexpr const char* kUnexpectedEnd = "Unexpected end of SQL command found at line %d, column %d";

TToken MakeToken(TTokenType type, TReservedWord word, std::string text, const TToken& at) {
  TToken token;
  token.TokenType = type;
  token.ReservedWord = word;
  token.Text = std::move(text);
  token.LineNum = at.LineNum;
  token.ColumnNum = at.ColumnNum;
  return token;
}

}  // namespace

TVEZSQLUpdate::TVEZSQLUpdate(TVEZLexer* lexer, TVEZQuery* query) : TVEZSQLCommand(lexer, query) {
  TVEZSQLUpdate::Parse();
}

TVEZSQLUpdate::~TVEZSQLUpdate() = default;

void TVEZSQLUpdate::Parse() {
  if (!GetCurrentToken()) throw EVEZException(30216, "Blank SQL command");
  ExpectNextToken({tktString, tktQuotedString, tktBracketedString, tktReservedWord, tktParameter},
                  30217, "Table name expected, but '%s' found at line %d, column %d");
  const TToken table_token = Token;
  ParseTableName(DatabaseFileName, TableName, IntoMemory, Password, FTablePseudonym);
  if (!IsWord(rwSET))
    throw EVEZException(30220, kTokenExpected, {"SET", Token.Text, Token.LineNum, Token.ColumnNum});
  ExpectNextToken({}, 0, "");
  std::int32_t rest_from = -1;
  if (Token.TokenType == tktLeftParenthesis) {
    ParseRowSubqueryForm(rest_from);
    BuildSelection(table_token, rest_from);
    ParseSelection();
    return;
  }
  for (;;) {
    const std::string column = ParseColumnName();
    if (!GetNextToken() || Token.TokenType != tktString || Token.Text != "=")
      throw EVEZException(30221, kTokenExpected, {"=", Token.Text, Token.LineNum, Token.ColumnNum});
    GetNextToken();
    const TToken start = Token;
    auto value = std::make_unique<TVEZExpression>();
    value->ParseForValueExpression(LQuery, LLex);
    if (value->Root() == nullptr)
      throw EVEZException(30357, "Error parsing parameter '%s' at line %d, column %d",
                          {start.Text, start.LineNum, start.ColumnNum});
    FieldNames.push_back(column);
    FieldValues.push_back(std::move(value));
    if (!GetCurrentToken()) break;
    if (IsWord(rwWHERE)) {
      rest_from = LLex->GetCurrentTokenNo();
      break;
    }
    if (Token.TokenType != tktComma)
      throw EVEZException(30222, kTokenExpected, {",", Token.Text, Token.LineNum, Token.ColumnNum});
    if (!GetNextToken())
      throw EVEZException(30223, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
  }
  BuildSelection(table_token, rest_from);
  ParseSelection();
}

std::string TVEZSQLUpdate::ParseColumnName() {
  std::string column = Token.Text;
  TToken next;
  if (platform::AnsiSameText(column, TableName) && LLex->LookNextToken(next) &&
      next.TokenType == tktDot) {
    GetNextToken();
    ExpectNextToken({}, 0, "");
    column = Token.Text;
  }
  return column;
}

void TVEZSQLUpdate::ParseRowSubqueryForm(std::int32_t& rest_from) {
  IsFieldValuesSubquery = true;
  for (;;) {
    ExpectNextToken({}, 0, "");
    FieldNames.push_back(ParseColumnName());
    if (!GetNextToken() || Token.TokenType != tktComma) break;
  }
  if (Token.TokenType != tktRightParenthesis)
    throw EVEZException(30494, kTokenExpected, {")", Token.Text, Token.LineNum, Token.ColumnNum});
  if (!GetNextToken() || Token.TokenType != tktString || Token.Text != "=")
    throw EVEZException(30495, kTokenExpected, {"=", Token.Text, Token.LineNum, Token.ColumnNum});
  GetNextToken();
  const TToken start = Token;
  FieldValuesSubqueryExpr = std::make_unique<TVEZExpression>();
  FieldValuesSubqueryExpr->ParseForRowSubqueryExpression(LQuery, LLex);
  if (FieldValuesSubqueryExpr->Root() == nullptr)
    throw EVEZException(30495, kTokenExpected,
                        {"(SELECT", start.Text, start.LineNum, start.ColumnNum});
  if (!GetCurrentToken()) return;
  if (!IsWord(rwWHERE))
    RaiseOnToken(20260, "End of SQL command expected, but '%s' found at line %d, column %d");
  rest_from = LLex->GetCurrentTokenNo();
}

void TVEZSQLUpdate::ParseSelection() {
  InternalSelecter = std::make_unique<TVEZSQLUnion>(&FSelectLexer, LQuery);
  TToken rest;
  if (FSelectLexer.GetCurrentToken(rest))
    throw EVEZException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {rest.Text, rest.LineNum, rest.ColumnNum});
}

void TVEZSQLUpdate::BuildSelection(const TToken& at, std::int32_t rest_from) {
  FSelectLexer.AddCommand();
  FSelectLexer.AddToken(MakeToken(tktReservedWord, rwSELECT, "SELECT", at));
  // "*" is a word, as the lexer makes it.
  FSelectLexer.AddToken(MakeToken(tktString, rwNone, "*", at));
  FSelectLexer.AddToken(MakeToken(tktReservedWord, rwFROM, "FROM", at));
  if (IntoMemory) FSelectLexer.AddToken(MakeToken(tktReservedWord, rwMEMORY, "MEMORY", at));
  if (!DatabaseFileName.empty()) {
    FSelectLexer.AddToken(MakeToken(tktQuotedString, rwNone, DatabaseFileName, at));
    FSelectLexer.AddToken(MakeToken(tktDot, rwNone, ".", at));
  }
  FSelectLexer.AddToken(MakeToken(tktString, rwNone, TableName, at));
  if (!FTablePseudonym.empty())
    FSelectLexer.AddToken(MakeToken(tktString, rwNone, FTablePseudonym, at));
  if (!Password.empty()) {
    FSelectLexer.AddToken(MakeToken(tktReservedWord, rwPASSWORD, "PASSWORD", at));
    FSelectLexer.AddToken(MakeToken(tktQuotedString, rwNone, Password, at));
  }
  if (rest_from >= 0) {
    // The moved tokens keep their parameter values.
    TToken token;
    for (bool more = LLex->SetCurrentTokenNo(rest_from, token); more;
         more = LLex->GetNextToken(token))
      FSelectLexer.AddToken(token);
  }
  FSelectLexer.SetCurrentTokenNo(0);
}

void TVEZSQLUpdate::ExecSQL(TVEZQuery* query, bool is_root, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  ChangeSelectedRows(*InternalSelecter, query, is_root, TableName,
                     [this](TVEZTable& table) { UpdateSelection(table); });
}

void TVEZSQLUpdate::UpdateSelection(TVEZTable& selection) {
  RowsAffected = 0;
  TVEZCursor* selection_cursor = selection.Handle();
  if (selection_cursor == nullptr) throw EVEZException(30157, "The selection is not open");
  TVEZTable target;
  target.SetSessionName(selection.GetSessionName());
  target.SetDatabaseName(selection.DatabaseName());
  target.SetTableName(TableName);
  target.SetInMemory(selection.InMemory());
  target.Open();
  TVEZCursor& cursor = *target.Handle();
  std::vector<platform::Field*> fields;
  for (const std::string& name : FieldNames)
    fields.push_back(&target.FieldByName(name));

  selection_cursor->LockTableData();
  struct DataUnlock {
    TVEZCursor& c;
    ~DataUnlock() { c.UnlockTableData(); }
  } data_unlock{*selection_cursor};

  for (auto& value : FieldValues)
    value->AssignCursor(&cursor, nullptr, nullptr);

  auto change_rows = [&] {
    // Every selected row is known before the first one changes.
    std::vector<platform::TBookmark> bookmarks;
    for (selection.First(); !selection.Eof(); selection.Next())
      bookmarks.push_back(selection.GetBookmark());
    for (const platform::TBookmark& bookmark : bookmarks) {
      target.GotoBookmark(bookmark);
      target.Edit();
      try {
        // Bound to the row being edited, so a value sees the columns set
        // before it.
        if (IsFieldValuesSubquery) {
          FieldValuesSubqueryExpr->AssignCursor(&cursor, nullptr, nullptr);
          FieldValuesSubqueryExpr->ResetSubqueryFieldValues();
          for (std::size_t i = 0; i < fields.size(); ++i)
            VariantToField(
                FieldValuesSubqueryExpr->GetSubqueryFieldValue(static_cast<std::int32_t>(i)),
                *fields[i]);
        } else {
          for (auto& value : FieldValues)
            value->AssignCursor(&cursor, nullptr, nullptr);
          for (std::size_t i = 0; i < fields.size(); ++i)
            VariantToField(FieldValues[i]->GetValue(true), *fields[i]);
        }
        target.Post();
      } catch (...) {
        target.Cancel();
        throw;
      }
      ++RowsAffected;
    }
  };

  const bool in_transaction = cursor.Session != nullptr && cursor.Session->InTransaction;
  if (in_transaction) {
    change_rows();
  } else {
    for (int pass = 1;; ++pass) {
      TVEZStatementWriteLock lock(*selection_cursor);
      lock.AcquireReleasingTableData(20223);
      RowsAffected = 0;
      try {
        cursor.BeginBatchUpdate();
        change_rows();
        cursor.EndBatchUpdate();
        lock.Release();
        break;
      } catch (...) {
        cursor.CancelBatchUpdate();
        lock.Release();
        if (pass >= kPasses) throw;
      }
      platform::Sleep(kPassPauseMs);
    }
  }
  target.Close();
}

}  // namespace vez
