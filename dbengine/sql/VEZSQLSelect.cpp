#include "dbengine/sql/VEZSQLSelect.h"

#include <charconv>
#include <cstdint>
#include <utility>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZAOGroupBy.h"
#include "dbengine/sql/VEZAOSQLTopRowCount.h"
#include "dbengine/sql/VEZAOTable.h"
#include "dbengine/sql/VEZAOTableExpr.h"
#include "dbengine/sql/VEZExprNode.h"
#include "dbengine/sql/VEZExpression.h"
#include "platform/core/Collation.h"

namespace vez {

namespace {

constexpr const char* kTokenExpected = "Token '%s' expected, but '%s' found at line %d, column %d";
constexpr const char* kUnexpectedToken = "Unexpected token '%s' found at line %d, column %d";
constexpr const char* kTableNameExpected =
    "Table name expected, but '%s' found at line %d, column %d";
constexpr const char* kIntegerExpected = "Integer expected, but '%s' found at line %d, column %d";
constexpr const char* kFieldNameExpected =
    "Field name expected, but '%s' found at line %d, column %d";

const TTokenTypes kStringTokens = {tktString, tktQuotedString, tktBracketedString};
const TTokenTypes kTableNameTokens = {tktString, tktQuotedString, tktBracketedString,
                                      tktReservedWord, tktParameter};

// Column and table names match as the engine's names do.
bool EqualNoCase(const std::string& a, const std::string& b) {
  return platform::AnsiSameText(a, b);
}

// Raises number with "Token '<expected>' expected, but '<found>' found ...".
[[noreturn]] void RaiseTokenExpected(std::int32_t number, const char* expected,
                                     const TToken& found) {
  throw EVEZException(number, kTokenExpected,
                      {expected, found.Text, found.LineNum, found.ColumnNum});
}

// Queries nest through parentheses, FROM references and subqueries; each
// level is a few stack frames of recursive descent, so the depth is bounded
// instead of letting a long text exhaust the stack.
constexpr int kMaxQueryNesting = 32;
thread_local int query_nesting = 0;

class TQueryNestingGuard {
 public:
  explicit TQueryNestingGuard(const TToken& token) {
    if (query_nesting >= kMaxQueryNesting)
      throw EVEZException(30507, "Query nested too deeply at line %d, column %d",
                          {token.LineNum, token.ColumnNum});
    ++query_nesting;
  }
  ~TQueryNestingGuard() { --query_nesting; }
  TQueryNestingGuard(const TQueryNestingGuard&) = delete;
  TQueryNestingGuard& operator=(const TQueryNestingGuard&) = delete;
};

bool IsSetOperatorWord(const TToken& token) {
  return IsReservedWord(token, rwUNION) || IsReservedWord(token, rwMINUS) ||
         IsReservedWord(token, rwEXCEPT);
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEZTableReference

TVEZTableReference::TVEZTableReference() = default;
TVEZTableReference::~TVEZTableReference() = default;

void TVEZTableReference::MakeJoin(std::unique_ptr<TVEZTableReference> right, TVEZJoinType join_type,
                                  bool is_natural, std::vector<std::string> using_fields,
                                  std::unique_ptr<TVEZExpression> on_condition) {
  auto left = std::make_unique<TVEZTableReference>();
  left->TableType = TableType;
  left->DatabaseName = DatabaseName;
  left->TableName = TableName;
  left->Pseudonym = Pseudonym;
  left->Password = Password;
  left->InMemory = InMemory;
  left->NaturalJoin = NaturalJoin;
  left->JoinType = JoinType;
  left->LeftTable = std::move(LeftTable);
  left->RightTable = std::move(RightTable);
  left->UsingFields = std::move(UsingFields);
  left->SearchCondition = std::move(SearchCondition);
  left->SubQuery = std::move(SubQuery);
  left->ExternalDBToFree = std::move(ExternalDBToFree);
  LeftTable = std::move(left);
  RightTable = std::move(right);
  TableType = attJoinedTable;
  JoinType = join_type;
  NaturalJoin = is_natural;
  UsingFields = std::move(using_fields);
  SearchCondition = std::move(on_condition);
}

void TVEZTableReference::MakeSubQuery(TVEZLexer* lexer, TVEZQuery* query) {
  SubQuery = std::make_unique<TVEZSQLUnion>(lexer, query);
  TableType = attSubQuery;
}

// ---------------------------------------------------------------------------
// TVEZQueryExprNode

TVEZQueryExprNode::TVEZQueryExprNode() = default;
TVEZQueryExprNode::~TVEZQueryExprNode() = default;

void TVEZQueryExprNode::AddNode(TVEZQueryExprType new_type,
                                std::unique_ptr<TVEZQueryExprNode> right, bool all,
                                bool corresponding, std::vector<std::string> column_list) {
  auto left = std::make_unique<TVEZQueryExprNode>();
  left->NodeType = NodeType;
  left->Left = std::move(Left);
  left->Right = std::move(Right);
  left->All = All;
  left->Corresponding = Corresponding;
  left->CorrespondingFields = std::move(CorrespondingFields);
  left->SelectCommand = std::move(SelectCommand);
  Left = std::move(left);
  Right = std::move(right);
  NodeType = new_type;
  All = all;
  Corresponding = corresponding;
  CorrespondingFields = std::move(column_list);
}

bool TVEZQueryExprNode::AllConditionsApplied() {
  if (NodeType == qetSelect)
    return SelectCommand == nullptr || SelectCommand->AllConditionsApplied();
  return Left->AllConditionsApplied() && Right->AllConditionsApplied();
}

bool TVEZQueryExprNode::HasInto() const {
  if (NodeType == qetSelect) return SelectCommand != nullptr && !SelectCommand->IntoTable.empty();
  return Left->HasInto() || Right->HasInto();
}

// ---------------------------------------------------------------------------
// Shared parsing helpers of the two statements.

namespace {

// ORDER BY of a SELECT or a whole query, from the current token (ORDER) on.
void ParseOrderByClause(TVEZSQLCursorCommand& statement, TToken& token, TVEZLexer* lexer) {
  auto raise = [&token](std::int32_t number, const char* message) {
    throw EVEZException(number, message, {token.Text, token.LineNum, token.ColumnNum});
  };
  lexer->GetNextToken(token);
  if (!IsReservedWord(token, rwBY)) RaiseTokenExpected(30188, "BY", token);
  lexer->GetNextToken(token);
  const TTokenTypes first = {tktString, tktQuotedString, tktBracketedString,
                             tktInt,    tktReservedWord, tktParameter};
  const TTokenTypes after_comma = {tktString, tktQuotedString, tktBracketedString, tktInt,
                                   tktReservedWord};
  const TTokenTypes column = {tktString, tktQuotedString, tktBracketedString, tktReservedWord,
                              tktParameter};
  auto value_text = [&token]() {
    if (token.TokenType == tktParameter && token.ParamValue != nullptr)
      return token.ParamValue->GetAsAnsiString();
    return token.Text;
  };
  if (!first.Contains(token.TokenType)) raise(30187, kFieldNameExpected);
  for (;;) {
    TVEZSortSpecification sort_item;
    sort_item.ColumnName = value_text();
    lexer->GetNextToken(token);
    if (token.TokenType == tktDot) {
      lexer->GetNextToken(token);
      if (!column.Contains(token.TokenType)) raise(30186, kUnexpectedToken);
      sort_item.TableName = std::move(sort_item.ColumnName);
      sort_item.ColumnName = value_text();
      lexer->GetNextToken(token);
    }
    if (IsReservedWord(token, rwASC)) {
      lexer->GetNextToken(token);
    } else if (IsReservedWord(token, rwDESC)) {
      sort_item.Descending = true;
      lexer->GetNextToken(token);
    }
    statement.OrderBySpecs.push_back(std::move(sort_item));
    if (token.TokenType != tktComma) break;
    lexer->GetNextToken(token);
    if (!after_comma.Contains(token.TokenType)) raise(30189, kUnexpectedToken);
  }
  statement.OrderBySpecsCount = static_cast<std::int32_t>(statement.OrderBySpecs.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEZSQLSelect

TVEZSQLSelect::TVEZSQLSelect(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZSQLCursorCommand(lexer, query) {
  try {
    Parse();
  } catch (...) {
    // The members free themselves; the items' expressions are held raw.
    FreeSelectList();
    throw;
  }
}

TVEZSQLSelect::~TVEZSQLSelect() {
  // The tree's tables use the databases the FROM references hold.
  RootAO.reset();
  FreeSelectList();
}

void TVEZSQLSelect::FreeSelectList() {
  for (TVEZSelectListItem& item : SelectList) {
    delete item.ValueExpr;
    item.ValueExpr = nullptr;
  }
  SelectList.clear();
}

void TVEZSQLSelect::Parse() {
  if (!GetCurrentToken()) throw EVEZException(30155, "Blank SQL command");
  if (!IsWord(rwSELECT))
    RaiseOnToken(30156, "SQL token expected, but '%s' found at line %d, column %d");
  GetNextToken();
  if (IsWord(rwALL)) {
    GetNextToken();
  } else if (IsWord(rwDISTINCT)) {
    Distinct = true;
    GetNextToken();
  }
  if (IsWord(rwTOP)) {
    // A count is 0 .. Int32 max, from a literal or a parameter alike: a
    // wider value would wrap and a negative one would read as "no TOP".
    auto read_integer = [this](std::int32_t number) {
      GetNextToken();
      std::int64_t value = 0;
      if (Token.TokenType == tktParameter && Token.ParamValue != nullptr) {
        if (Token.ParamValue->GetIsNull()) RaiseOnToken(number, kIntegerExpected);
        value = Token.ParamValue->GetAsInt64();
      } else {
        if (Token.TokenType != tktInt) RaiseOnToken(number, kIntegerExpected);
        const char* first = Token.Text.data();
        const char* last = first + Token.Text.size();
        const auto [end, error] = std::from_chars(first, last, value);
        if (error != std::errc() || end != last) RaiseOnToken(number, kIntegerExpected);
      }
      if (value < 0 || value > INT32_MAX) RaiseOnToken(number, kIntegerExpected);
      return static_cast<std::int32_t>(value);
    };
    TopRowCount = read_integer(30158);
    GetNextToken();
    if (Token.TokenType == tktComma) {
      FirstRowNo = read_integer(30159);
      GetNextToken();
    }
  }
  ParseSelectList();
  if (IsWord(rwINTO)) ParseInto();
  ParseFrom();
  if (IsWord(rwWHERE)) {
    GetNextToken();
    SearchCondition = ParseCondition();
  }
  if (IsWord(rwGROUP)) {
    GetNextToken();
    if (!IsWord(rwBY)) RaiseTokenExpected(30185, "BY", Token);
    GetNextToken();
    std::vector<TVEZFieldReference> fields;
    ParseFieldList(fields);
    for (const TVEZFieldReference& field : fields) {
      TVEZSelectListItem item;
      item.TableName = field.TableName;
      item.FieldName = field.FieldName;
      GroupByFields.Append(item);
    }
  }
  if (IsWord(rwHAVING)) {
    GetNextToken();
    HavingCondition = ParseCondition();
  }
  if (IsWord(rwORDER)) ParseOrderByClause(*this, Token, LLex);
}

void TVEZSQLSelect::ParseSelectList() {
  if (Token.TokenType == tktString && Token.Text == "*") {
    AllFields = true;
    GetNextToken();
    return;
  }
  for (;;) {
    auto expression = std::make_unique<TVEZExpression>();
    expression->FInMemory = LQuery != nullptr && LQuery->InMemory();
    expression->ParseForValueExpression(LQuery, LLex);
    GetCurrentToken();
    if (expression->IsEmpty())
      RaiseOnToken(30160, "Expression expected, but '%s' found at line %d, column %d");
    TVEZSelectListItem item;
    if (IsWord(rwAS)) {
      GetNextToken();
      if (!kStringTokens.Contains(Token.TokenType))
        RaiseOnToken(30162, "Field pseudonym expected, but '%s' found at line %d, column %d");
      item.Pseudonym = Token.Text;
      GetNextToken();
    } else if (kStringTokens.Contains(Token.TokenType)) {
      item.Pseudonym = Token.Text;
      GetNextToken();
    }
    item.IsExpression = !expression->IsField();
    if (!item.IsExpression) {
      std::string table_name;
      std::string field_name;
      expression->GetFieldInfo(table_name, field_name);
      bool duplicated = false;
      if (field_name != "*") {
        for (const TVEZSelectListItem& other : SelectList)
          if (!other.IsExpression && EqualNoCase(other.TableName, table_name) &&
              EqualNoCase(other.FieldName, field_name))
            duplicated = true;
      }
      if (duplicated) {
        item.IsExpression = true;
        item.IsDuplicatedField = true;
        if (item.Pseudonym.empty()) {
          // The first free name: no column of the same table and no
          // pseudonym of any item may carry it, or the result would hold
          // two columns of one name.
          for (std::int32_t n = 1;; ++n) {
            const std::string name = field_name + "_" + std::to_string(n);
            bool taken = false;
            for (const TVEZSelectListItem& other : SelectList)
              if (EqualNoCase(other.Pseudonym, name) ||
                  (EqualNoCase(other.TableName, table_name) && EqualNoCase(other.FieldName, name)))
                taken = true;
            if (!taken) {
              item.Pseudonym = name;
              break;
            }
          }
        }
      } else {
        item.TableName = table_name;
        item.FieldName = field_name;
        item.AllFields = field_name == "*";
        expression.reset();
      }
    }
    // In the list before it is released, so that an error frees it.
    SelectList.push_back(item);
    SelectList.back().ValueExpr = expression.release();
    if (Token.TokenType != tktComma) return;
    GetNextToken();
  }
}

void TVEZSQLSelect::ParseInto() {
  GetNextToken();
  if (IsWord(rwMEMORY)) {
    IntoMemory = true;
    GetNextToken();
    if (IsWord(rwIMMEDIATE)) {
      IntoImmediate = true;
      GetNextToken();
    }
  }
  if (!kTableNameTokens.Contains(Token.TokenType)) RaiseOnToken(30165, kTableNameExpected);
  IntoTable = TokenValueText();
  GetNextToken();
  if (Token.TokenType == tktDot) {
    GetNextToken();
    if (!TTokenTypes{tktString, tktQuotedString, tktBracketedString, tktParameter}.Contains(
            Token.TokenType))
      RaiseOnToken(30166, kTableNameExpected);
    IntoDatabase = std::move(IntoTable);
    IntoTable = TokenValueText();
    GetNextToken();
  }
}

void TVEZSQLSelect::ParseFrom() {
  if (!IsWord(rwFROM)) RaiseTokenExpected(30184, "FROM", Token);
  const TTokenTypes start = {tktString,       tktQuotedString, tktBracketedString,
                             tktReservedWord, tktParameter,    tktLeftParenthesis};
  GetNextToken();
  if (!start.Contains(Token.TokenType)) RaiseOnToken(30180, kTableNameExpected);
  for (;;) {
    std::unique_ptr<TVEZTableReference> reference = ParseTableReference();
    if (reference == nullptr) RaiseOnToken(30180, kTableNameExpected);
    FromTables.push_back(std::move(reference));
    if (Token.TokenType != tktComma) return;
    GetNextToken();
    if (!start.Contains(Token.TokenType)) RaiseOnToken(30181, kTableNameExpected);
  }
}

std::unique_ptr<TVEZTableReference> TVEZSQLSelect::ParseSimpleReference() {
  if (IsWord(rwSELECT)) {
    auto reference = std::make_unique<TVEZTableReference>();
    reference->InMemory = LQuery != nullptr && LQuery->InMemory();
    reference->MakeSubQuery(LLex, LQuery);
    GetCurrentToken();
    return reference;
  }
  if (Token.TokenType == tktLeftParenthesis) {
    TQueryNestingGuard guard(Token);
    GetNextToken();
    std::unique_ptr<TVEZTableReference> inner = ParseTableReference();
    if (inner == nullptr) RaiseOnToken(30179, kFieldNameExpected);
    if (Token.TokenType == tktRightParenthesis) GetNextToken();
    std::string pseudonym;
    if (CheckPseudonym(pseudonym)) inner->Pseudonym = pseudonym;
    return inner;
  }
  if (!kTableNameTokens.Contains(Token.TokenType)) return nullptr;
  auto reference = std::make_unique<TVEZTableReference>();
  reference->InMemory = LQuery != nullptr && LQuery->InMemory();
  if (IsWord(rwMEMORY)) {
    reference->InMemory = true;
    GetNextToken();
    if (!kTableNameTokens.Contains(Token.TokenType)) RaiseOnToken(30180, kTableNameExpected);
  }
  const std::string name = TokenValueText();
  const std::size_t close = name.find('"', 1);
  if (Token.TokenType == tktParameter && !name.empty() && name[0] == '"' &&
      close != std::string::npos) {
    // A parameter may carry "database file".table in one value.
    reference->DatabaseName = name.substr(1, close - 1);
    reference->TableName = close + 2 <= name.size() ? name.substr(close + 2) : std::string();
  } else {
    reference->TableName = name;
  }
  GetNextToken();
  if (Token.TokenType == tktDot) {
    GetNextToken();
    if (!kTableNameTokens.Contains(Token.TokenType)) RaiseOnToken(30180, kTableNameExpected);
    reference->DatabaseName = reference->TableName;
    reference->TableName = TokenValueText();
    GetNextToken();
  }
  CheckPseudonym(reference->Pseudonym);
  if (IsWord(rwPASSWORD)) {
    GetNextToken();
    if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter)
      RaiseOnToken(30178,
                   "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at "
                   "line %d, column %d");
    reference->Password = TokenValueText();
    GetNextToken();
  }
  return reference;
}

std::unique_ptr<TVEZTableReference> TVEZSQLSelect::ParseTableReference() {
  std::unique_ptr<TVEZTableReference> reference = ParseSimpleReference();
  if (reference == nullptr) return nullptr;
  for (;;) {
    // The word after a join word must be a reserved word (the next join
    // word or JOIN).
    auto next_word = [this](std::int32_t number) {
      GetNextToken();
      if (Token.TokenType != tktReservedWord) RaiseOnToken(number, kUnexpectedToken);
    };
    bool natural = false;
    bool join_word = false;
    TVEZJoinType join_type = ajtInner;
    if (IsWord(rwNATURAL)) {
      natural = true;
      join_word = true;
      next_word(30169);
    }
    if (IsWord(rwCROSS) && !natural) {
      join_type = ajtCross;
      join_word = true;
      next_word(30168);
    } else if (IsWord(rwINNER)) {
      join_word = true;
      next_word(30170);
    } else if (IsWord(rwLEFT) || IsWord(rwRIGHT) || IsWord(rwFULL)) {
      join_type = IsWord(rwLEFT) ? ajtLeftOuter : IsWord(rwRIGHT) ? ajtRightOuter : ajtFullOuter;
      join_word = true;
      next_word(join_type == ajtLeftOuter ? 30171 : join_type == ajtRightOuter ? 30172 : 30173);
      if (IsWord(rwOUTER)) next_word(30174);
    }
    if (!IsWord(rwJOIN)) {
      if (join_word) RaiseTokenExpected(30175, "JOIN", Token);
      return reference;
    }
    GetNextToken();
    std::unique_ptr<TVEZTableReference> right = ParseSimpleReference();
    if (right == nullptr) RaiseOnToken(30176, kTableNameExpected);
    std::vector<std::string> using_fields;
    std::unique_ptr<TVEZExpression> on_condition;
    if (IsWord(rwON)) {
      GetNextToken();
      on_condition = ParseCondition();
    } else if (IsWord(rwUSING)) {
      GetNextToken();
      if (Token.TokenType != tktLeftParenthesis) RaiseTokenExpected(30167, "(", Token);
      GetNextToken();
      ParseFieldNameList(using_fields);
      if (Token.TokenType == tktRightParenthesis) GetNextToken();
    }
    reference->MakeJoin(std::move(right), join_type, natural, std::move(using_fields),
                        std::move(on_condition));
  }
}

std::unique_ptr<TVEZExpression> TVEZSQLSelect::ParseCondition() {
  auto condition = std::make_unique<TVEZExpression>();
  condition->FInMemory = LQuery != nullptr && LQuery->InMemory();
  condition->ParseForBooleanExpression(LQuery, LLex);
  if (!AllFields) condition->ReplacePseudonyms(SelectList);
  GetCurrentToken();
  return condition;
}

bool TVEZSQLSelect::AllConditionsApplied() {
  return !FSubqueryHasNotAppliedConditions && (!SearchCondition || SearchCondition->IsEmpty()) &&
         (!HavingCondition || HavingCondition->IsEmpty());
}

void ApplyOrderByToAO(TVEZAO& ao, const std::vector<TVEZSortSpecification>& sort_items) {
  if (sort_items.empty()) return;
  std::string sort_list, desc_list;
  for (const TVEZSortSpecification& sort_item : sort_items) {
    std::string column = sort_item.ColumnName;
    if (sort_item.TableName.empty()) {
      std::int32_t n = 0;
      const char* end = column.data() + column.size();
      const auto [ptr, ec] = std::from_chars(column.data(), end, n);
      if (ec == std::errc() && ptr == end && !column.empty())
        column = ao.GetFieldNameByVisibleNumber(n - 1);
    }
    TVEZIntegerArray matches;
    if (ao.FieldExists(column, sort_item.TableName, !ao.FIsAOGroupBy, &matches, false, false) ==
            0 ||
        matches.empty())
      throw EVEZException(30195, "Column '%s' from ORDER BY clause not found", {column});
    const std::string name = ao.GetFieldName(matches.front(), true);
    if (!sort_list.empty()) sort_list += ';';
    sort_list += name;
    if (sort_item.Descending) {
      if (!desc_list.empty()) desc_list += ';';
      desc_list += name;
    }
  }
  ao.SetIndex(sort_list, desc_list, std::string());
}

std::unique_ptr<TVEZAO> TVEZSQLSelect::BuildReference(TVEZTableReference& ref, TVEZQuery* query,
                                                      TVEZAO* parent_query_ao,
                                                      TVEZCursor* parent_cursor,
                                                      bool allow_not_applied_conditions) {
  if (ref.TableType == attSubQuery) {
    std::unique_ptr<TVEZAO> sub(ref.SubQuery->BuildAOTree(
        query, true, parent_query_ao, parent_cursor, allow_not_applied_conditions));
    if (!ref.SubQuery->AllConditionsApplied()) FSubqueryHasNotAppliedConditions = true;
    sub->SetTableAlias(ref.Pseudonym);
    return sub;
  }
  if (ref.TableType == attJoinedTable)
    return BuildJoin(ref, query, parent_query_ao, parent_cursor, allow_not_applied_conditions);
  std::unique_ptr<TVEZTable> table;
  CreateStatementTable(query, ref.DatabaseName, ref.ExternalDBToFree, table, ref.InMemory,
                       ref.Password, ref.TableName);
  TVEZDatabase* database =
      ref.ExternalDBToFree ? ref.ExternalDBToFree.get() : (query ? query->Database() : nullptr);
  return std::make_unique<TVEZAOTable>(ref.TableName, ref.Pseudonym, database, std::move(table));
}

TVEZAO* TVEZSQLSelect::BuildAOTree(TVEZQuery* query, bool request_live, TVEZAO* parent_query_ao,
                                   TVEZCursor* parent_cursor, bool allow_not_applied_conditions) {
  MarkTreeBuilt();
  ResultDataset = query;
  FSubqueryHasNotAppliedConditions = false;
  std::unique_ptr<TVEZAO> root =
      BuildFromTree(query, parent_query_ao, parent_cursor, allow_not_applied_conditions);
  auto wrap = [&root] { root = std::make_unique<TVEZAOTableExpr>(std::move(root)); };

  bool grouping = !GroupByFields.Items.empty();
  if (!AllFields)
    for (const TVEZSelectListItem& item : SelectList)
      if (item.IsExpression && item.ValueExpr != nullptr && item.ValueExpr->IsAggregated())
        grouping = true;
  // HAVING over no groups would filter nothing; refuse it rather than return
  // the rows it rejects.
  if (!grouping && HavingCondition && !HavingCondition->IsEmpty())
    throw EVEZException(20244, "'Having' condition is not applicable");

  if (root->FIsAOTable || grouping) {
    for (const TVEZSelectListItem& item : SelectList) {
      if (item.IsExpression && item.ValueExpr != nullptr && !item.ValueExpr->IsAggregated() &&
          (!item.ValueExpr->IsField() || item.IsDuplicatedField)) {
        if (!grouping) {
          wrap();
          break;
        }
        // ---- grouping: a computed column that GROUP BY names is computed
        // below the grouping operator.
        bool grouped_by = false;
        for (const TVEZSelectListItem& column : GroupByFields.Items)
          grouped_by = grouped_by || (!item.Pseudonym.empty() &&
                                      platform::AnsiSameText(item.Pseudonym, column.FieldName));
        if (grouped_by) {
          wrap();
          root->SetResultFields(SelectList, false);
          break;
        }
      }
    }
  }
  if (SearchCondition)
    SearchCondition->ApplyFilterParts(root.get(), parent_query_ao, parent_cursor, true, false);
  // ---- grouping
  TVEZAO* group_ao = nullptr;
  if (grouping) {
    root = std::make_unique<TVEZAOGroupBy>(std::move(root), &GroupByFields, SelectList);
    group_ao = root.get();
  }
  if (root->FHasSetResultFields) wrap();
  const bool final_projection = !request_live && root->FIsAOTable && TopRowCount < 0;
  root->SetResultFields(SelectList, Distinct && !final_projection);
  // ---- grouping: HAVING goes to the grouping operator.
  if (group_ao != nullptr && HavingCondition && !HavingCondition->IsEmpty()) {
    HavingCondition->ApplyFilterParts(root.get(), parent_query_ao, parent_cursor, false, true);
    if (!HavingCondition->IsEmpty())
      HavingCondition->ApplyFilterParts(group_ao, parent_query_ao, parent_cursor, true, true);
    if (!HavingCondition->IsEmpty() && !allow_not_applied_conditions)
      throw EVEZException(20244, "'Having' condition is not applicable");
  }
  ApplyOrderByToAO(*root, OrderBySpecs);
  if (SearchCondition && !SearchCondition->IsEmpty()) {
    SearchCondition->ApplyFilterParts(root.get(), parent_query_ao, parent_cursor, false, false);
    if (!SearchCondition->IsEmpty() && !allow_not_applied_conditions)
      throw EVEZException(30144, "Search condition is not applicable");
  }
  if (TopRowCount >= 0) {
    root = std::make_unique<TVEZAOSQLTopRowCount>(std::move(root));
    root->SetTopRowCount(FirstRowNo, TopRowCount);
  }
  if (final_projection) {
    wrap();
    root->SetResultFields(SelectList, Distinct);
  }
  return root.release();
}

// ---------------------------------------------------------------------------
// TVEZSQLUnion

TVEZSQLUnion::TVEZSQLUnion(TVEZLexer* lexer, TVEZQuery* query)
    : TVEZSQLCursorCommand(lexer, query) {
  Parse();
}

TVEZSQLUnion::~TVEZSQLUnion() {
  // The tree's tables use the databases the SELECTs' references hold.
  RootAO.reset();
}

void TVEZSQLUnion::Parse() {
  if (!GetCurrentToken()) throw EVEZException(30155, "Blank SQL command");
  TQueryNestingGuard guard(Token);
  FRootNode = ParseQueryExpression();
  if (IsWord(rwORDER)) ParseOrderByClause(*this, Token, LLex);
  if (OrderBySpecs.empty() && FRootNode->NodeType != qetSelect &&
      FRootNode->Right->NodeType == qetSelect && FRootNode->Right->SelectCommand != nullptr) {
    // The last SELECT's ORDER BY sorts the whole result.
    TVEZSQLSelect& last = *FRootNode->Right->SelectCommand;
    OrderBySpecs = std::move(last.OrderBySpecs);
    OrderBySpecsCount = static_cast<std::int32_t>(OrderBySpecs.size());
    last.OrderBySpecs.clear();
    last.OrderBySpecsCount = 0;
  }
  if (FRootNode->NodeType == qetSelect) {
    TVEZSQLSelect& select = *FRootNode->SelectCommand;
    IntoTable = std::move(select.IntoTable);
    IntoDatabase = std::move(select.IntoDatabase);
    IntoMemory = select.IntoMemory;
    IntoImmediate = select.IntoImmediate;
    select.IntoTable.clear();
    select.IntoDatabase.clear();
    select.IntoMemory = false;
    select.IntoImmediate = false;
  } else if (FRootNode->HasInto()) {
    throw EVEZException(20272,
                        "UNION subselect cannot contain INTO caluse. Use SELECT * INTO table FROM "
                        "(select ... union select ...) instead");
  }
}

std::unique_ptr<TVEZQueryExprNode> TVEZSQLUnion::ParseQueryExpression() {
  std::unique_ptr<TVEZQueryExprNode> node = ParseQueryTerm();
  while (IsSetOperatorWord(Token)) {
    const TVEZQueryExprType type = IsWord(rwUNION) ? qetUnion : qetExcept;
    GetNextToken();
    bool all = false;
    bool corresponding = false;
    std::vector<std::string> columns;
    ParseSetOptions(all, corresponding, columns);
    node->AddNode(type, ParseQueryTerm(), all, corresponding, std::move(columns));
  }
  return node;
}

std::unique_ptr<TVEZQueryExprNode> TVEZSQLUnion::ParseQueryTerm() {
  std::unique_ptr<TVEZQueryExprNode> node = ParseQueryPrimary();
  while (IsWord(rwINTERSECT)) {
    GetNextToken();
    bool all = false;
    bool corresponding = false;
    std::vector<std::string> columns;
    ParseSetOptions(all, corresponding, columns);
    node->AddNode(qetIntersect, ParseQueryPrimary(), all, corresponding, std::move(columns));
  }
  return node;
}

std::unique_ptr<TVEZQueryExprNode> TVEZSQLUnion::ParseQueryPrimary() {
  if (Token.TokenType == tktLeftParenthesis) {
    TQueryNestingGuard guard(Token);
    GetNextToken();
    std::unique_ptr<TVEZQueryExprNode> node = ParseQueryExpression();
    if (Token.TokenType == tktRightParenthesis) GetNextToken();
    return node;
  }
  if (!IsWord(rwSELECT)) RaiseTokenExpected(30194, "SELECT", Token);
  auto node = std::make_unique<TVEZQueryExprNode>();
  node->SelectCommand = std::make_unique<TVEZSQLSelect>(LLex, LQuery);
  GetCurrentToken();
  return node;
}

void TVEZSQLUnion::ParseSetOptions(bool& all, bool& corresponding,
                                   std::vector<std::string>& columns) {
  if (IsWord(rwALL)) {
    all = true;
    GetNextToken();
  }
  if (!IsWord(rwCORRESPONDING)) return;
  corresponding = true;
  GetNextToken();
  if (!IsWord(rwBY)) return;
  GetNextToken();
  if (Token.TokenType != tktLeftParenthesis) RaiseTokenExpected(30193, "(", Token);
  GetNextToken();
  ParseFieldNameList(columns);
  if (Token.TokenType == tktRightParenthesis) GetNextToken();
}

bool TVEZSQLUnion::AllConditionsApplied() {
  return FRootNode == nullptr || FRootNode->AllConditionsApplied();
}

TVEZAO* TVEZSQLUnion::BuildAOTree(TVEZQuery* query, bool request_live, TVEZAO* parent_query_ao,
                                  TVEZCursor* parent_cursor, bool allow_not_applied_conditions) {
  MarkTreeBuilt();
  ResultDataset = query;
  if (FRootNode->NodeType != qetSelect) {
    std::unique_ptr<TVEZAO> root = BuildSetNode(*FRootNode, query, parent_query_ao, parent_cursor,
                                                allow_not_applied_conditions);
    ApplyOrderByToAO(*root, OrderBySpecs);
    return root.release();
  }
  TVEZSQLSelect& select = *FRootNode->SelectCommand;
  // A lone SELECT sorts before its TOP and final projection.
  if (select.OrderBySpecs.empty()) {
    select.OrderBySpecs = OrderBySpecs;
    select.OrderBySpecsCount = OrderBySpecsCount;
  }
  return select.BuildAOTree(query, request_live, parent_query_ao, parent_cursor,
                            allow_not_applied_conditions);
}

}  // namespace vez
