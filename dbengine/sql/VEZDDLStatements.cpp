#include "dbengine/sql/VEZDDLStatements.h"

#include <charconv>
#include <limits>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZCompression.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/sql/VEZExpression.h"
#include "platform/core/CodePage.h"
#include "platform/core/Collation.h"

namespace vez {

namespace {

constexpr const char* kUnexpectedEnd = "Unexpected end of SQL command found at line %d, column %d";
constexpr const char* kTokenExpected = "Token '%s' expected, but '%s' found at line %d, column %d";
constexpr const char* kUnexpectedToken = "Unexpected token '%s' found at line %d, column %d";
constexpr const char* kFieldNameExpected =
    "Field name expected, but '%s' found at line %d, column %d";
constexpr const char* kIntegerExpected = "Integer expected, but '%s' found at line %d, column %d";
constexpr const char* kBlank = "Blank SQL command";

const TTokenTypes kWordTokens = {tktString, tktQuotedString, tktBracketedString, tktReservedWord};

std::string Upper(const std::string& text) {
  std::string result = text;
  for (char& c : result)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return result;
}

// Runs action; any failure is raised again as number with its message.
template <typename F>
void Wrapped(std::int32_t number, const char* message, F&& action) {
  try {
    action();
  } catch (const std::exception& e) {
    throw EVEZException(number, message, {std::string(e.what())});
  }
}

// The autoinc width a type name among AUTOINC's options selects.
TVEZAdvancedFieldType AutoincTypeOf(const std::string& name) {
  const std::string upper = Upper(name);
  if (upper == "SHORTINT") return aftAutoIncShortint;
  if (upper == "SMALLINT") return aftAutoIncSmallint;
  if (upper == "INTEGER") return aftAutoInc;
  if (upper == "LARGEINT") return aftAutoIncLargeint;
  if (upper == "BYTE") return aftAutoIncByte;
  if (upper == "WORD") return aftAutoIncWord;
  if (upper == "CARDINAL") return aftAutoIncCardinal;
  const TVEZAdvancedFieldType type = SQLTypeNameToAdvancedType(name);
  return IsAutoincAdvancedFieldType(type) ? type : aftUnknown;
}

// A double quote inside a quoted default is doubled, so the stored text
// reads back as one quoted string.
std::string QuoteDefault(const std::string& text) {
  std::string result = "\"";
  for (char c : text) {
    if (c == '"') result += '"';
    result += c;
  }
  result += '"';
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEZDDLTableManipulation: parsing

void TVEZDDLTableManipulation::Parse() {
  TToken next;
  if (LLex->LookNextToken(next))
    throw EVEZException(30246, kUnexpectedToken, {next.Text, next.LineNum, next.ColumnNum});
}

std::int64_t TVEZDDLTableManipulation::ParseInt64(std::int32_t number_not_int,
                                                  std::int32_t number_too_big) {
  if (Token.TokenType != tktInt) RaiseOnToken(number_not_int, kIntegerExpected);
  std::int64_t value = 0;
  const char* first = Token.Text.data();
  const char* last = first + Token.Text.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::result_out_of_range) RaiseOnToken(number_too_big, kIntegerExpected);
  if (ec != std::errc() || ptr != last) RaiseOnToken(number_not_int, kIntegerExpected);
  return value;
}

void TVEZDDLTableManipulation::ExpectSeparatorOrWord() {
  ExpectNextToken({tktString, tktQuotedString, tktBracketedString, tktReservedWord,
                   tktRightParenthesis, tktComma},
                  30229, "')' or ',' symbol expected, but '%s' found at line %d, column %d");
}

void TVEZDDLTableManipulation::ParseIndexColumns(ddl::TVEZIndex& index) {
  if (Token.TokenType != tktLeftParenthesis)
    throw EVEZException(30226, kTokenExpected, {"(", Token.Text, Token.LineNum, Token.ColumnNum});
  for (;;) {
    ExpectNextToken(kWordTokens, 30274, kFieldNameExpected);
    ddl::TVEZIndexField& field = index.IndexFields.emplace_back();
    field.FieldName = Token.Text;
    for (;;) {
      if (!GetNextToken())
        throw EVEZException(30333, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
      if (IsWord(rwASC))
        field.desc = false;
      else if (IsWord(rwDESC))
        field.desc = true;
      else if (IsWord(rwCASE))
        field.nocase = false;
      else if (IsWord(rwNOCASE))
        field.nocase = true;
      else
        break;
    }
    if (Token.TokenType == tktComma) continue;
    if (Token.TokenType == tktRightParenthesis) {
      GetNextToken();
      return;
    }
    RaiseOnToken(30229, "')' or ',' symbol expected, but '%s' found at line %d, column %d");
  }
}

void TVEZDDLTableManipulation::ParseColumnType(TSQLFieldDef& def) {
  def.FieldType = SQLTypeNameToAdvancedType(Token.Text);
  if (def.FieldType == aftUnknown)
    throw EVEZException(30232, "Unknown field type '%s' at line %d, column %d",
                        {Token.Text, Token.LineNum, Token.ColumnNum});
  def.newFieldType = true;
  switch (def.FieldType) {
    case aftChar:
    case aftString:
    case aftWideChar:
    case aftWideString:
    case aftBytes:
    case aftVarBytes: {
      ExpectNextToken({tktLeftParenthesis}, 30233,
                      "'(' symbol expected, but '%s' found at line %d, column %d");
      ExpectNextToken({tktInt}, 30235,
                      "Decimal constant expected, but '%s' found at line %d, column %d");
      const std::int64_t length = ParseInt64(30235, 30235);
      if (length < 0 || length > std::numeric_limits<std::int32_t>::max())
        RaiseOnToken(30235, "Decimal constant expected, but '%s' found at line %d, column %d");
      def.Length = static_cast<std::int32_t>(length);
      def.newLength = true;
      ExpectNextToken({tktRightParenthesis}, 30236,
                      "')' or ',' symbol expected, but '%s' found at line %d, column %d");
      break;
    }
    default:
      if (IsAutoincAdvancedFieldType(def.FieldType)) ParseAutoincOptions(def);
      break;
  }
  GetNextToken();
}

void TVEZDDLTableManipulation::ParseAutoincOptions(TSQLFieldDef& def) {
  TToken next;
  if (!LLex->LookNextToken(next) || next.TokenType != tktLeftParenthesis) return;
  GetNextToken();
  const bool plain = def.FieldType == aftAutoInc;
  auto next_or_end = [this] {
    if (!GetNextToken())
      throw EVEZException(30290, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
  };
  for (;;) {
    next_or_end();
    if (Token.TokenType == tktRightParenthesis) return;
    if (Token.TokenType == tktComma) continue;
    if (IsWord(rwINCREMENT)) {
      next_or_end();
      def.AutoincIncrement = ParseInt64(30292, 30291);
      def.newAutoincIncrement = true;
    } else if (IsWord(rwINITIALVALUE) || IsWord(rwSTARTVALUE)) {
      next_or_end();
      def.AutoincLastValue = ParseInt64(30292, 30291);
      def.newAutoincLastValue = true;
    } else if (IsWord(rwMINVALUE)) {
      next_or_end();
      def.AutoincMinValue = ParseInt64(30292, 30291);
      def.newAutoincMinValue = true;
    } else if (IsWord(rwMAXVALUE)) {
      next_or_end();
      def.AutoincMaxValue = ParseInt64(30292, 30291);
      def.newAutoincMaxValue = true;
    } else if (IsWord(rwNOMINVALUE)) {
      def.AutoincMinValue = 0;
      def.newAutoincMinValue = true;
    } else if (IsWord(rwNOMAXVALUE)) {
      def.AutoincMaxValue = std::numeric_limits<std::int64_t>::max();
      def.newAutoincMaxValue = true;
    } else if (IsWord(rwCYCLED)) {
      def.AutoincCycled = true;
      def.newAutoincCycled = true;
    } else if (IsWord(rwNOCYCLED)) {
      def.AutoincCycled = false;
      def.newAutoincCycled = true;
    } else if (plain) {
      const TVEZAdvancedFieldType width = AutoincTypeOf(Token.Text);
      if (width == aftUnknown)
        throw EVEZException(30295, "Unsupported Autoinc DataType (%s) found at line %d, column %d",
                            {Token.Text, Token.LineNum, Token.ColumnNum});
      def.FieldType = width;
    } else {
      RaiseOnToken(30294, kUnexpectedToken);
    }
  }
}

void TVEZDDLTableManipulation::ParseDefault(TSQLFieldDef& def, bool& expression_default_given) {
  if (!GetNextToken()) throw EVEZException(30297, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
  const std::string upper = Upper(Token.Text);
  def.newDefaultValue = true;
  if (Token.TokenType != tktQuotedString &&
      (upper == "NOW" || upper == "CURRENT_TIMESTAMP" || upper == "CURRENT_TIME" ||
       upper == "CURRENT_DATE" || upper == "SYSDATE")) {
    def.DefaultValue.SetNull(bftVarchar);
    def.DefaultValue.SetAsAnsiString(upper);
    ExpectSeparatorOrWord();
    return;
  }
  if (Token.TokenType == tktQuotedString) {
    def.DefaultValue.SetNull(bftWideVarchar);
    def.DefaultValue.SetAsWideString(platform::AnsiToWide(QuoteDefault(Token.Text)));
    ExpectSeparatorOrWord();
    return;
  }
  if (expression_default_given)
    throw EVEZException(30299, "default value for column '%s' declared twice", {def.FieldName});
  const TToken start = Token;
  TVEZExpression expression;
  auto parse_error = [&start] {
    return EVEZException(30297, "Error parsing parameter '%s' at line %d, column %d",
                         {start.Text, start.LineNum, start.ColumnNum});
  };
  try {
    expression.ParseForValueExpression(LQuery, LLex);
  } catch (const EVEZException&) {
    throw parse_error();
  }
  if (expression.Root() == nullptr) throw parse_error();
  expression_default_given = true;
  try {
    TVEZVariant* value = expression.GetValue(true);
    if (value == nullptr || value->GetIsNull())
      def.DefaultValue.SetNull(bftUnknown);
    else
      def.DefaultValue.Assign(*value, true);
  } catch (const std::exception&) {
    throw parse_error();
  }
  GetCurrentToken();
}

void TVEZDDLTableManipulation::ParseColumnDefinitions() {
  if (Token.TokenType != tktLeftParenthesis)
    throw EVEZException(30226, kTokenExpected, {"(", Token.Text, Token.LineNum, Token.ColumnNum});
  for (;;) {
    if (Token.TokenType == tktNone || Token.TokenType == tktRightParenthesis) return;
    ExpectNextToken(kWordTokens, 30227, kFieldNameExpected);
    if (IsWord(rwPRIMARY)) {
      ddl::TVEZIndex& index = Indexes.emplace_back();
      index.Primary = true;
      if (!GetNextToken())
        throw EVEZException(30161, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
      if (IsWord(rwKEY) && !GetNextToken())
        throw EVEZException(30161, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
      if (Token.TokenType != tktLeftParenthesis) {
        index.IndexName = Token.Text;
        GetNextToken();
      }
      ParseIndexColumns(index);
      continue;
    }
    if (IsWord(rwUNIQUE) || IsWord(rwINDEX)) {
      ddl::TVEZIndex& index = Indexes.emplace_back();
      if (IsWord(rwUNIQUE)) {
        index.Unique = true;
        ExpectNextToken({tktReservedWord}, 30267,
                        "'INDEX' keyword expected, but '%s' found at line %d, column %d");
        if (!IsWord(rwINDEX))
          RaiseOnToken(30268, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
      }
      ExpectNextToken(
          {tktLeftParenthesis, tktString, tktQuotedString, tktBracketedString, tktReservedWord},
          30269, "index name expected, but '%s' found at line %d, column %d");
      if (Token.TokenType != tktLeftParenthesis) {
        index.IndexName = Token.Text;
        GetNextToken();
      }
      ParseIndexColumns(index);
      continue;
    }
    TSQLFieldDef& def = SQLFieldDefs.AddCreated();
    if (IsWord(rwIF)) {
      ExpectNextToken({}, 0, "");
      if (!IsWord(rwNOT))
        throw EVEZException(30488, kTokenExpected,
                            {"NOT", Token.Text, Token.LineNum, Token.ColumnNum});
      ExpectNextToken({}, 0, "");
      if (!IsWord(rwEXISTS))
        throw EVEZException(30489, kTokenExpected,
                            {"EXISTS", Token.Text, Token.LineNum, Token.ColumnNum});
      def.CreateIfNotExists = true;
      ExpectNextToken(kWordTokens, 30227, kFieldNameExpected);
    }
    def.FieldName = Token.Text;
    ExpectNextToken({tktString, tktBracketedString, tktReservedWord}, 30228,
                    "Field type expected, but '%s' found at line %d, column %d");
    ParseColumnType(def);
    bool expression_default_given = false;
    while (Token.TokenType != tktNone && Token.TokenType != tktComma &&
           Token.TokenType != tktRightParenthesis) {
      if (IsWord(rwNOT)) {
        if (!GetNextToken() || Token.TokenType != tktReservedWord)
          throw EVEZException(30237, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
        if (!IsWord(rwNULL))
          RaiseOnToken(2011,
                       "'NULL' expected (for NOT NULL), but '%s' found at line %d, column %d");
        def.Required = true;
        def.newRequired = true;
        ExpectSeparatorOrWord();
      } else if (IsWord(rwNULL)) {
        def.Required = false;
        def.newRequired = true;
        ExpectSeparatorOrWord();
      } else if (IsWord(rwBLOBBLOCKSIZE) || IsWord(rwBLOBCOMPRESSIONMODE)) {
        const bool block_size = IsWord(rwBLOBBLOCKSIZE);
        if (!GetNextToken()) RaiseOnToken(30292, kIntegerExpected);
        const std::int64_t n = ParseInt64(30292, 30291);
        if (block_size) {
          if (n < std::numeric_limits<std::int32_t>::min() ||
              n > std::numeric_limits<std::int32_t>::max())
            RaiseOnToken(30291, kIntegerExpected);
          def.BlobBlockSize = static_cast<std::int32_t>(n);
          def.newBlobBlockSize = true;
        } else {
          // A mode is one byte: 300 must not silently become 44.
          if (n < 0 || n > std::numeric_limits<std::uint8_t>::max())
            RaiseOnToken(30291, kIntegerExpected);
          def.BlobCompressionMode = static_cast<std::uint8_t>(n);
          def.newBlobCompressionMode = true;
        }
        ExpectSeparatorOrWord();
      } else if (IsWord(rwBLOBCOMPRESSIONALGORITHM)) {
        ExpectNextToken({}, 0, "");
        def.BlobCompressionAlgorithm =
            static_cast<TCompressionAlgorithm>(StrToCompressionAlgorithm(Token.Text));
        def.newBlobCompressionAlgorithm = true;
        ExpectSeparatorOrWord();
      } else if (IsWord(rwDEFAULT)) {
        ParseDefault(def, expression_default_given);
      } else if (IsWord(rwMINVALUE) || IsWord(rwMAXVALUE)) {
        const bool min = IsWord(rwMINVALUE);
        if (!GetNextToken())
          throw EVEZException(30300, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
        // The lexer gives a minus sign as a token of its own; a signed
        // column's bound may well lie below zero.
        const bool negative = Token.TokenType == tktString && Token.Text == "-";
        if (negative && !GetNextToken())
          throw EVEZException(30300, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
        std::int64_t bound = 0;
        if (!negative) {
          bound = ParseInt64(30292, 30291);
        } else {
          if (Token.TokenType != tktInt) RaiseOnToken(30292, kIntegerExpected);
          const std::string text = "-" + Token.Text;
          const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), bound);
          if (ec == std::errc::result_out_of_range) RaiseOnToken(30291, kIntegerExpected);
          if (ec != std::errc() || ptr != text.data() + text.size())
            RaiseOnToken(30292, kIntegerExpected);
        }
        TVEZVariant& target = min ? def.MinValue : def.MaxValue;
        target.SetNull(bftSignedInt64);
        target.SetAsInt64(bound);
        (min ? def.newMinValue : def.newMaxValue) = true;
        GetNextToken();
      } else if (IsWord(rwNOMINVALUE) || IsWord(rwNOMAXVALUE)) {
        const bool min = IsWord(rwNOMINVALUE);
        (min ? def.MinValue : def.MaxValue).SetNull(bftUnknown);
        (min ? def.newMinValue : def.newMaxValue) = true;
        GetNextToken();
      } else if (IsWord(rwPRIMARY) || IsWord(rwUNIQUE)) {
        ddl::TVEZIndex& index = Indexes.emplace_back();
        index.Primary = IsWord(rwPRIMARY);
        index.Unique = !index.Primary;
        index.IndexFields.push_back({def.FieldName, false, false});
        GetNextToken();
        if (index.Primary && IsWord(rwKEY)) GetNextToken();
      } else {
        ExpectSeparatorOrWord();
      }
    }
  }
}

// ---------------------------------------------------------------------------
// TVEZDDLTableManipulation: the table object

void TVEZDDLTableManipulation::CreateDDLTable(TVEZQuery* query, bool with_field_defs) {
  FreeDDLTable();
  FTable = std::make_unique<TVEZTable>();
  if (!DatabaseName.empty()) {
    FExternalDatabase = std::make_unique<TVEZDatabase>();
    FExternalDatabase->SetSessionName(query->GetSessionName());
    SetUniqueDatabaseName(*FExternalDatabase, "ExternalDb");
    FExternalDatabase->SetDatabaseFileName(DatabaseName);
    if (TVEZDatabase* own = query->Database())
      FExternalDatabase->SetDisableTempFiles(own->DisableTempFiles());
    FExternalDatabase->SetSilentMode(true);
    FExternalDatabase->SetPassword(Password);
    FTable->SetDatabaseName(FExternalDatabase->DatabaseName());
  } else {
    FTable->SetDatabaseName(query->DatabaseName());
  }
  FTable->SetSessionName(query->GetSessionName());
  FTable->SetTableName(TableName);
  if (IntoMemory || query->InMemory()) FTable->SetInMemory(true);
  if (with_field_defs) {
    FTable->AdvFieldDefs().Clear();
    for (const auto& def : SQLFieldDefs.List)
      AssignSQLFieldDef(*FTable->AdvFieldDefs().AddFieldDef(), *def);
  }
}

void TVEZDDLTableManipulation::FreeDDLTable() {
  FTable.reset();
  FExternalDatabase.reset();
}

void TVEZDDLTableManipulation::AssignSQLFieldDef(TVEZAdvFieldDef& target,
                                                 const TSQLFieldDef& source) {
  target.Name = source.FieldName;
  if (source.newFieldType) target.DataType = source.FieldType;
  if (source.newLength) target.Size = source.Length;
  if (source.newRequired) target.Required = source.Required;
  if (source.newAutoincIncrement) target.AutoincIncrement = source.AutoincIncrement;
  if (source.newAutoincLastValue) target.AutoincInitialValue = source.AutoincLastValue;
  if (source.newAutoincMinValue) target.AutoincMinValue = source.AutoincMinValue;
  if (source.newAutoincMaxValue) target.AutoincMaxValue = source.AutoincMaxValue;
  if (source.newAutoincCycled) target.AutoincCycled = source.AutoincCycled;
  if (source.newBlobBlockSize) target.BLOBBlockSize = source.BlobBlockSize;
  if (source.newBlobCompressionAlgorithm)
    target.BLOBCompressionAlgorithm = source.BlobCompressionAlgorithm;
  if (source.newBlobCompressionMode) target.BLOBCompressionMode = source.BlobCompressionMode;
  if (source.newDefaultValue) target.DefaultValue.Assign(source.DefaultValue, true);
  if (source.newMinValue) target.MinValue.Assign(source.MinValue, true);
  if (source.newMaxValue) target.MaxValue.Assign(source.MaxValue, true);
}

void TVEZDDLTableManipulation::AssignIndexDefs(TVEZTable& table) {
  table.IndexDefs().Clear();
  for (const ddl::TVEZIndex& index : Indexes) {
    std::string name = index.IndexName;
    std::string fields, desc_fields, case_ins_fields;
    const bool generated = name.empty();
    if (generated) name = index.Primary ? "C_PK" : index.Unique ? "C_Unique" : "i";
    for (const ddl::TVEZIndexField& field : index.IndexFields) {
      if (generated) name += "$" + field.FieldName;
      fields += (fields.empty() ? "" : ",") + field.FieldName;
      if (field.desc) desc_fields += (desc_fields.empty() ? "" : ",") + field.FieldName;
      if (field.nocase) case_ins_fields += (case_ins_fields.empty() ? "" : ",") + field.FieldName;
    }
    platform::TIndexOptions options = 0;
    if (index.Primary) options |= platform::ixPrimary;
    if (index.Unique) options |= platform::ixUnique;
    table.AdvIndexDefs().Add(name, fields, options, false, desc_fields, case_ins_fields);
    table.RestructureIndexDefs().Add(name, fields, options, false, desc_fields, case_ins_fields);
  }
}

// ---------------------------------------------------------------------------
// CREATE TABLE

TVEZDDLCreateTable::TVEZDDLCreateTable(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZDDLTableManipulation(lexer, query) {
  TVEZDDLCreateTable::Parse();
}

void TVEZDDLCreateTable::Parse() {
  GetCurrentToken();
  if (!GetNextToken()) throw EVEZException(30249, kBlank);
  if (IsWord(rwIF)) {
    ExpectNextToken({}, 0, "");
    if (!IsWord(rwNOT))
      throw EVEZException(30486, kTokenExpected,
                          {"NOT", Token.Text, Token.LineNum, Token.ColumnNum});
    ExpectNextToken({}, 0, "");
    if (!IsWord(rwEXISTS))
      throw EVEZException(30487, kTokenExpected,
                          {"EXISTS", Token.Text, Token.LineNum, Token.ColumnNum});
    FCreateIfNotExists = true;
    GetNextToken();
  }
  ParseTableName(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  ParseColumnDefinitions();
  TVEZDDLTableManipulation::Parse();
}

void TVEZDDLCreateTable::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  bool exists = false;
  try {
    Wrapped(30248, "Error creating table: '%s'", [&] {
      CreateDDLTable(query, true);
      exists = FTable->Exists();
      if (!exists) {
        AssignIndexDefs(*FTable);
        FTable->CreateTable();
      }
    });
  } catch (...) {
    FreeDDLTable();
    throw;
  }
  FreeDDLTable();
  if (exists && !FCreateIfNotExists)
    throw EVEZException(30247, "Cannot create table. Table '%s' already exists", {TableName});
}

// ---------------------------------------------------------------------------
// DROP TABLE

TVEZDDLDropTable::TVEZDDLDropTable(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZDDLTableManipulation(lexer, query) {
  TVEZDDLDropTable::Parse();
}

void TVEZDDLDropTable::Parse() {
  GetCurrentToken();
  if (!GetNextToken()) throw EVEZException(30251, kBlank);
  if (IsWord(rwIF)) {
    ExpectNextToken({}, 0, "");
    if (!IsWord(rwEXISTS))
      throw EVEZException(30485, kTokenExpected,
                          {"EXISTS", Token.Text, Token.LineNum, Token.ColumnNum});
    GetNextToken();
  }
  ParseTableName(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  // The table clause ends past its last token; anything still current is
  // left over (DROP TABLE t 'x' must not drop t).
  if (Token.TokenType != tktNone) RaiseOnToken(30246, kUnexpectedToken);
  TVEZDDLTableManipulation::Parse();
}

void TVEZDDLDropTable::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  try {
    Wrapped(30250, "Error dropping table: '%s'", [&] {
      CreateDDLTable(query, false);
      if (FTable->Exists()) FTable->DeleteTable();
    });
  } catch (...) {
    FreeDDLTable();
    throw;
  }
  FreeDDLTable();
}

// ---------------------------------------------------------------------------
// TRUNCATE

TVEZDDLTruncateTable::TVEZDDLTruncateTable(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZDDLTableManipulation(lexer, query) {
  TVEZDDLTruncateTable::Parse();
}

void TVEZDDLTruncateTable::Parse() {
  GetCurrentToken();
  if (!GetNextToken()) throw EVEZException(30490, kBlank);
  if (IsWord(rwTABLE)) GetNextToken();
  ParseTableName(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  if (Token.TokenType != tktNone) RaiseOnToken(30246, kUnexpectedToken);
  TVEZDDLTableManipulation::Parse();
}

void TVEZDDLTruncateTable::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  try {
    Wrapped(30491, "Error truncating table: '%s'", [&] {
      CreateDDLTable(query, false);
      FTable->EmptyTable();
    });
  } catch (...) {
    FreeDDLTable();
    throw;
  }
  FreeDDLTable();
}

// ---------------------------------------------------------------------------
// ALTER TABLE and RENAME TABLE

TVEZDDLAlterTable::TVEZDDLAlterTable(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZDDLTableManipulation(lexer, query) {
  TVEZDDLAlterTable::Parse();
}

void TVEZDDLAlterTable::Parse() {
  GetCurrentToken();
  if (!GetNextToken()) throw EVEZException(30261, kBlank);
  ParseTableName(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  if (IsWord(rwADD) || IsWord(rwMODIFY)) {
    AlterType = IsWord(rwADD) ? TAlterType::atAdd : TAlterType::atModify;
    GetNextToken();
    ParseColumnDefinitions();
  } else if (IsWord(rwDROP)) {
    AlterType = TAlterType::atDrop;
    GetNextToken();
    // Only COLUMN or "(" may stand between DROP and the names: skipping any
    // token would drop y for DROP x y.
    const bool parenthesised = Token.TokenType == tktLeftParenthesis;
    if (IsWord(rwCOLUMN) || parenthesised) GetNextToken();
    ParseFieldNameList(DropColumnNamesList);
    // Nothing may follow the names (but the closing parenthesis), or a
    // mistyped list would silently drop only its first column.
    if (parenthesised) {
      if (Token.TokenType != tktRightParenthesis)
        RaiseOnToken(30229, "')' or ',' symbol expected, but '%s' found at line %d, column %d");
      GetNextToken();
    }
    if (Token.TokenType != tktNone) RaiseOnToken(30246, kUnexpectedToken);
  } else if (IsWord(rwRENAME)) {
    GetNextToken();
    if (IsWord(rwTO)) {
      AlterType = TAlterType::atRenameTable;
      ExpectNextToken(kWordTokens, 30230,
                      "Table name expected, but '%s' found at line %d, column %d");
      NewTableName = Token.Text;
    } else {
      AlterType = TAlterType::atRenameColumn;
      if (IsWord(rwCOLUMN)) GetNextToken();
      if (!kWordTokens.Contains(Token.TokenType)) RaiseOnToken(30274, kFieldNameExpected);
      RenameColumnOldNamesList.push_back(Token.Text);
      ExpectNextToken({}, 0, "");
      if (!IsWord(rwTO))
        throw EVEZException(30352, kTokenExpected,
                            {"TO", Token.Text, Token.LineNum, Token.ColumnNum});
      ExpectNextToken(kWordTokens, 30274, kFieldNameExpected);
      RenameColumnNewNamesList.push_back(Token.Text);
      GetNextToken();
    }
  } else {
    RaiseOnToken(Token.TokenType == tktReservedWord ? 30252 : 30253,
                 "ADD, DROP or MODIFY keyword expected, but '%s' found at line %d, column %d");
  }
}

void TVEZDDLAlterTable::ExecSQL(TVEZQuery* query, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  try {
    Wrapped(30265, "Error altering table: '%s'", [&] { Execute(query); });
  } catch (...) {
    FreeDDLTable();
    throw;
  }
  FreeDDLTable();
}

void TVEZDDLAlterTable::Execute(TVEZQuery* query) {
  CreateDDLTable(query, false);
  TVEZTable& table = *FTable;
  // Opening loads the present field and index definitions, restructure
  // definitions included.
  table.Open();
  table.Close();
  table.IndexDefs().Update();
  TVEZAdvFieldDefs& fields = table.RestructureFieldDefs();
  switch (AlterType) {
    case TAlterType::atAdd:
      for (const auto& def : SQLFieldDefs.List) {
        if (fields.Find(def->FieldName) != nullptr) {
          if (def->CreateIfNotExists) continue;
          throw EVEZException(30351, "Field by name '%s' already exists", {def->FieldName});
        }
        AssignSQLFieldDef(*fields.AddFieldDef(), *def);
      }
      AssignIndexDefs(table);
      break;
    case TAlterType::atDrop:
      for (const std::string& name : DropColumnNamesList) {
        if (fields.Find(name) == nullptr)
          throw EVEZException(30259, "Field '%s' not found", {name});
        fields.DeleteFieldDef(name);
      }
      break;
    case TAlterType::atModify:
      for (const auto& def : SQLFieldDefs.List) {
        TVEZAdvFieldDef* target = fields.Find(def->FieldName);
        if (target == nullptr) throw EVEZException(30259, "Field '%s' not found", {def->FieldName});
        AssignSQLFieldDef(*target, *def);
      }
      AssignIndexDefs(table);
      break;
    case TAlterType::atRenameColumn:
      for (std::size_t i = 0; i < RenameColumnOldNamesList.size(); ++i)
        table.RenameField(RenameColumnOldNamesList[i], RenameColumnNewNamesList[i]);
      return;
    case TAlterType::atRenameTable:
      table.RenameTable(NewTableName);
      return;
  }
  std::string log;
  if (!table.RestructureTable(log))
    throw EVEZException(30347, "Restructure table error: '%s'", {log});
}

TVEZDDLRenameTable::TVEZDDLRenameTable(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZDDLAlterTable(lexer, query, TNoParse{}) {
  TVEZDDLRenameTable::Parse();
}

void TVEZDDLRenameTable::Parse() {
  if (!GetCurrentToken()) throw EVEZException(30354, kBlank);
  AlterType = TAlterType::atRenameTable;
  ParseTableName(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  if (!IsWord(rwTO))
    throw EVEZException(30355, kTokenExpected, {"TO", Token.Text, Token.LineNum, Token.ColumnNum});
  ExpectNextToken(kWordTokens, 30230, "Table name expected, but '%s' found at line %d, column %d");
  NewTableName = Token.Text;
}

}  // namespace vez
