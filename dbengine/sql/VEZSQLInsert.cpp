#include "dbengine/sql/VEZSQLInsert.h"

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZAssignFieldValue.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZSQLDataChange.h"
#include "dbengine/sql/VEZSQLSelect.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/dataset/Field.h"

namespace vez {

namespace {

constexpr const char* kUnexpectedEnd = "Unexpected end of SQL command found at line %d, column %d";
constexpr const char* kTableNameExpected =
    "Table name expected, but '%s' found at line %d, column %d";
constexpr const char* kSeparatorExpected =
    "')' or ',' symbol expected, but '%s' found at line %d, column %d";
constexpr const char* kCountMismatch =
    "Number of field names does not equal the number of field values: %d <> %d. Found at line "
    "%d, column %d";

const TTokenTypes kTableNameTokens = {tktString, tktQuotedString, tktBracketedString,
                                      tktReservedWord, tktParameter};

}  // namespace

TVEZSQLInsert::TVEZSQLInsert(TVEZLexer* lexer, TVEZQuery* query) : TVEZSQLCommand(lexer, query) {
  TVEZSQLInsert::Parse();
}

TVEZSQLInsert::~TVEZSQLInsert() = default;

void TVEZSQLInsert::Parse() {
  if (!GetCurrentToken()) throw EVEZException(30204, "Blank SQL command");
  if (!GetNextToken()) throw EVEZException(30205, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
  if (!IsWord(rwINTO))
    throw EVEZException(30206, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"INTO", Token.Text, Token.LineNum, Token.ColumnNum});
  ExpectNextToken(kTableNameTokens, 30207, kTableNameExpected);
  if (IsWord(rwMEMORY)) {
    IntoMemory = true;
    ExpectNextToken(kTableNameTokens, 30208, kTableNameExpected);
  }
  TableName = TokenValueText();
  auto next_or_end = [this](std::int32_t number) {
    if (!GetNextToken())
      throw EVEZException(number, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
  };
  next_or_end(30209);
  if (Token.TokenType == tktDot) {
    DatabaseFileName = TableName;
    ExpectNextToken({tktString, tktQuotedString, tktBracketedString, tktParameter}, 30493,
                    kTableNameExpected);
    TableName = TokenValueText();
    next_or_end(30209);
  }
  if (IsWord(rwPASSWORD)) {
    ExpectNextToken({tktQuotedString, tktParameter}, 30210,
                    "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at "
                    "line %d, column %d");
    Password = TokenValueText();
    next_or_end(30211);
  }
  if (Token.TokenType == tktLeftParenthesis) {
    TToken next;
    LLex->LookNextToken(next);
    if (IsReservedWord(next, rwSELECT)) {
      GetNextToken();
      ParseQuery(true);
      return;
    }
    for (;;) {
      ExpectNextToken({tktString, tktQuotedString, tktBracketedString, tktReservedWord}, 2156,
                      "Field name expected, but '%s' found at line %d, column %d");
      FieldNames.push_back(Token.Text);
      ExpectNextToken({tktComma, tktRightParenthesis}, 30212, kSeparatorExpected);
      if (Token.TokenType == tktRightParenthesis) break;
    }
    next_or_end(30213);
  }
  if (IsWord(rwVALUES)) {
    ParseValues();
    return;
  }
  if (IsWord(rwSELECT) || Token.TokenType == tktLeftParenthesis) {
    ParseQuery(false);
    return;
  }
  throw EVEZException(30213, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
}

void TVEZSQLInsert::ParseQuery(bool in_parentheses) {
  FQueryLineNum = Token.LineNum;
  FQueryColumnNum = Token.ColumnNum;
  InternalSelecter = std::make_unique<TVEZSQLUnion>(LLex, LQuery);
  GetCurrentToken();
  if (in_parentheses) {
    if (Token.TokenType != tktRightParenthesis)
      throw EVEZException(20256, "Missing symbol ')' at line %d, column %d",
                          {Token.LineNum, Token.ColumnNum});
    GetNextToken();
  }
  if (Token.TokenType != tktNone)
    RaiseOnToken(20260, "End of SQL command expected, but '%s' found at line %d, column %d");
}

void TVEZSQLInsert::ParseValues() {
  ExpectNextToken({tktLeftParenthesis}, 30214,
                  "'(' symbol expected, but '%s' found at line %d, column %d");
  for (;;) {
    TValuesRow& row = FieldValues.emplace_back();
    row.LineNum = Token.LineNum;
    row.ColumnNum = Token.ColumnNum;
    for (;;) {
      if (!GetNextToken())
        throw EVEZException(30203, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
      const TToken start = Token;
      auto value = std::make_unique<TVEZExpression>();
      value->ParseForValueExpression(LQuery, LLex);
      if (value->Root() == nullptr)
        throw EVEZException(30357, "Error parsing parameter '%s' at line %d, column %d",
                            {start.Text, start.LineNum, start.ColumnNum});
      row.Values.push_back(std::move(value));
      // Only a comma or the row's end may follow a value: VALUES (1 2)
      // would otherwise lose the 2.
      GetCurrentToken();
      if (Token.TokenType == tktRightParenthesis) break;
      if (Token.TokenType != tktComma) RaiseOnToken(30212, kSeparatorExpected);
    }
    if (!FieldNames.empty() && row.Values.size() != FieldNames.size())
      throw EVEZException(
          20259, kCountMismatch,
          {static_cast<std::int32_t>(FieldNames.size()),
           static_cast<std::int32_t>(row.Values.size()), row.LineNum, row.ColumnNum});
    if (!GetNextToken()) return;
    if (Token.TokenType != tktComma)
      RaiseOnToken(20260, "End of SQL command expected, but '%s' found at line %d, column %d");
    ExpectNextToken({tktLeftParenthesis}, 30214,
                    "'(' symbol expected, but '%s' found at line %d, column %d");
  }
}

void TVEZSQLInsert::ExecSQL(TVEZQuery* query, bool is_root, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  std::unique_ptr<TVEZDatabase> database;
  std::unique_ptr<TVEZTable> table;
  CreateStatementTable(query, DatabaseFileName, database, table, IntoMemory, Password, TableName);
  table->Open();
  if (InternalSelecter)
    InsertFromQuery(query, is_root, *table);
  else
    InsertValues(*table);
  table->Close();
  FreeStatementTable(table, database);
}

void TVEZSQLInsert::InsertValues(TVEZTable& table) {
  TVEZTable* t = &table;
  // Every target field is found before the first row is written, so a bad
  // column or a row too long changes nothing.
  std::vector<platform::Field*> named;
  for (const std::string& name : FieldNames)
    named.push_back(&t->FieldByName(name));
  if (FieldNames.empty()) {
    for (const TValuesRow& row : FieldValues)
      if (static_cast<std::int32_t>(row.Values.size()) > t->FieldCount())
        throw EVEZException(20259, kCountMismatch,
                            {t->FieldCount(), static_cast<std::int32_t>(row.Values.size()),
                             row.LineNum, row.ColumnNum});
  }
  for (const TValuesRow& row : FieldValues) {
    t->Insert();
    try {
      for (std::size_t j = 0; j < row.Values.size(); ++j) {
        platform::Field& field = FieldNames.empty() ? t->Fields(static_cast<int>(j)) : *named[j];
        InsertedValueToField(row.Values[j]->GetValue(true), field);
      }
      t->Post();
    } catch (...) {
      t->Cancel();
      throw;
    }
    ++RowsAffected;
  }
}

void TVEZSQLInsert::InsertFromQuery(TVEZQuery* query, bool is_root, TVEZTable& table) {
  bool read_only = false;
  struct FreeQuery {
    TVEZSQLUnion& s;
    ~FreeQuery() { s.RootAO.reset(); }
  } free_query{*InternalSelecter};
  InternalSelecter->ExecSQL(query, is_root, false, read_only, nullptr, nullptr);
  TVEZTable* result =
      InternalSelecter->RootAO ? InternalSelecter->RootAO->ResultDataset() : nullptr;
  if (result == nullptr) throw EVEZException(30157, "The query of INSERT gave no result");

  // The rows are taken out first: a query over the target itself would
  // otherwise meet the rows being inserted.
  TVEZTable rows;
  rows.SetSessionName(query->GetSessionName());
  rows.SetTemporary(true);
  TVEZDatabase* own = query->Database();
  rows.SetDisableTempFiles(result->InMemory() || (own != nullptr && own->DisableTempFiles()));
  rows.SetTableName(MakeUniqueName("TmpTableForInsert"));
  std::string log;
  rows.ImportTable(*result, log, nullptr);
  struct DropRows {
    TVEZTable& t;
    ~DropRows() {
      try {
        t.Close();
        t.DeleteTable();
      } catch (...) {
        // A temporary table goes with the session at the latest.
      }
    }
  } drop_rows{rows};
  InternalSelecter->RootAO.reset();
  rows.Open();

  const std::int32_t columns = rows.FieldCount();
  const std::int32_t targets =
      FieldNames.empty() ? table.FieldCount() : static_cast<std::int32_t>(FieldNames.size());
  if (FieldNames.empty() ? columns > targets : columns != targets)
    throw EVEZException(20259, kCountMismatch, {targets, columns, FQueryLineNum, FQueryColumnNum});
  std::vector<platform::Field*> fields;
  for (std::int32_t i = 0; i < columns; ++i)
    fields.push_back(FieldNames.empty() ? &table.Fields(i)
                                        : &table.FieldByName(FieldNames[static_cast<size_t>(i)]));

  TVEZCursor& cursor = *table.Handle();
  const bool in_transaction = cursor.Session != nullptr && cursor.Session->InTransaction;
  TVEZStatementWriteLock lock(cursor);
  if (!in_transaction) {
    lock.Acquire(20224);
    cursor.BeginBatchUpdate();
  }
  try {
    for (rows.First(); !rows.Eof(); rows.Next()) {
      table.Insert();
      try {
        for (std::int32_t i = 0; i < columns; ++i)
          AssignFieldValue(rows.Fields(i), *fields[static_cast<size_t>(i)]);
        table.Post();
      } catch (...) {
        table.Cancel();
        throw;
      }
      ++RowsAffected;
    }
  } catch (...) {
    if (!in_transaction) {
      cursor.CancelBatchUpdate();
      cursor.EndBatchUpdate();
      RowsAffected = 0;
    }
    throw;
  }
  if (!in_transaction) cursor.EndBatchUpdate();
  lock.Release();
}

}  // namespace vez
