#include "dbengine/sql/VEZSQLInsert.h"

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/sql/VEZSQLDataChange.h"
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
  auto raise_query_form = [] {
    throw EVEZException(30157, "%s statement is not supported yet", {"INSERT ... SELECT"});
  };
  if (Token.TokenType == tktLeftParenthesis) {
    TToken next;
    LLex->LookNextToken(next);
    if (IsReservedWord(next, rwSELECT)) raise_query_form();
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
  if (IsWord(rwSELECT) || Token.TokenType == tktLeftParenthesis) raise_query_form();
  throw EVEZException(30213, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
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

void TVEZSQLInsert::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  std::unique_ptr<TVEZDatabase> database;
  std::unique_ptr<TVEZTable> table;
  CreateStatementTable(query, DatabaseFileName, database, table, IntoMemory, Password, TableName);
  table->Open();
  // Every target field is found before the first row is written, so a bad
  // column or a row too long changes nothing.
  std::vector<platform::Field*> named;
  for (const std::string& name : FieldNames)
    named.push_back(&table->FieldByName(name));
  if (FieldNames.empty()) {
    for (const TValuesRow& row : FieldValues)
      if (static_cast<std::int32_t>(row.Values.size()) > table->FieldCount())
        throw EVEZException(20259, kCountMismatch,
                            {table->FieldCount(), static_cast<std::int32_t>(row.Values.size()),
                             row.LineNum, row.ColumnNum});
  }
  for (const TValuesRow& row : FieldValues) {
    table->Insert();
    try {
      for (std::size_t j = 0; j < row.Values.size(); ++j) {
        platform::Field& field =
            FieldNames.empty() ? table->Fields(static_cast<int>(j)) : *named[j];
        const TVEZVariant* value = row.Values[j]->GetValue(true);
        if (value == nullptr)
          throw EVEZException(30356, "Parameter Value undefined (FieldName='%s', Type='%s')",
                              {field.FieldName(),
                               AdvancedTypeToSQLTypeName(VCLTypeToAdvancedType(field.DataType()))});
        VariantToField(value, field);
      }
      table->Post();
    } catch (...) {
      table->Cancel();
      throw;
    }
    ++RowsAffected;
  }
  table->Close();
  FreeStatementTable(table, database);
}

}  // namespace vez
