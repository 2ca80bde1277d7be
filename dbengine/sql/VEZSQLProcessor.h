// TVEZSQLProcessor: turns a query component's SQL text into statement
// objects and runs them. The whole script is lexed once per run (parameter
// values are substituted then); for each command the first token chooses the
// statement class, whose constructor parses the rest of the command, and the
// statement is executed against the query's database. Only one statement
// object lives at a time: each command frees the previous one, and the last
// one stays so that its result cursor stays valid.
//
// Also here: the statement base classes and the parsing routines all
// statements share (tokens, table clause, pseudonyms, column-name lists, the
// table object a statement opens).
//
// An error in command n stops the run: the commands before it stay executed
// and RowsAffected is their sum.
//
// Queries parse and run through the relational operators; the statements
// that run a query inside (INSERT ... SELECT, UPDATE, DELETE) take it over.
//
// Thread safety: none; a processor belongs to one query, used by one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZQuery.h"
#include "dbengine/foundation/VEZLexer.h"
#include "dbengine/foundation/VEZSQLParams.h"
#include "dbengine/foundation/VEZTypes.h"

namespace vez {

class TVEZAO;
class TVEZCursor;
class TVEZDatabase;
class TVEZTable;

// One bare column reference of a statement's column list.
struct TVEZFieldReference {
  std::string TableName;  // empty when not qualified
  std::string FieldName;
};

// A parsed statement. The constructor of each statement class parses it;
// a parse error therefore leaves no object behind.
class TVEZSQLCommand {
 public:
  TVEZSQLCommand(TVEZLexer* lexer, TVEZQuery* query) : LLex(lexer), LQuery(query) {}
  virtual ~TVEZSQLCommand() = default;
  TVEZSQLCommand(const TVEZSQLCommand&) = delete;
  TVEZSQLCommand& operator=(const TVEZSQLCommand&) = delete;

  virtual void Parse() = 0;
  // read_only is written back for query statements.
  virtual void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
                       TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) = 0;
  virtual TVEZCursor* GetResultCursor() { return nullptr; }
  virtual platform::DataSet* GetResultDataset() { return nullptr; }

  // After AS a plain word, quoted or bracketed string or parameter (30177);
  // without AS a plain word, bracketed string or parameter. True when one was
  // taken (the token after it is then current); False consumes nothing.
  bool CheckPseudonym(std::string& pseudonym);

  TVEZLexer* LLex;
  TToken Token;
  TVEZQuery* LQuery;
  std::int32_t RowsAffected = 0;
  bool IntoMemory = false;

 protected:
  // The lexer's current token into Token; False past the end.
  bool GetCurrentToken();
  // Moves on and copies the new current token; False when there is none.
  bool GetNextToken();
  // GetNextToken; no token raises 30161; a token of a kind outside kinds
  // (when kinds is not empty) raises number with message formatted with the
  // token's text, line and column.
  void ExpectNextToken(TTokenTypes kinds, std::int32_t number, const char* message);
  // Raises number with message formatted with Token's text, line, column.
  [[noreturn]] void RaiseOnToken(std::int32_t number, const char* message) const;
  // The current token is the reserved word.
  bool IsWord(TReservedWord word) const { return IsReservedWord(Token, word); }
  // A token's text; a parameter's value read as a narrow string.
  std::string TokenValueText() const;

  // The table clause: [MEMORY] name [. name] [[AS] pseudonym] [PASSWORD
  // 'p'], from the current token on; the token after it becomes current.
  void ParseTableName(std::string& database_name, std::string& table_name, bool& in_memory,
                      std::string& password, std::string& pseudonym);
  // A comma-separated list of plain column names, from the current token.
  void ParseFieldNameList(std::vector<std::string>& list);

  // A comma-separated list of bare column references ([table.]column),
  // each parsed as a value expression from the current token on; another
  // expression raises 10409, a bad token after a comma 10410.
  void ParseFieldList(std::vector<TVEZFieldReference>& fields);

  // The table object of a statement that reads or writes a named table:
  // a database object of its own (for database_file_name, or named after
  // the query's database) and a table in the query's session.
  void CreateStatementTable(TVEZQuery* query, const std::string& database_file_name,
                            std::unique_ptr<TVEZDatabase>& database,
                            std::unique_ptr<TVEZTable>& table, bool in_memory,
                            const std::string& password, const std::string& table_name);
  // Names database prefix + a new GUID. A failure is retried a few times
  // only (a clash is all but impossible, another cause would not go away);
  // the last error then passes on.
  static void SetUniqueDatabaseName(TVEZDatabase& database, const char* prefix);
  // Frees the table, then the database.
  static void FreeStatementTable(std::unique_ptr<TVEZTable>& table,
                                 std::unique_ptr<TVEZDatabase>& database);
};

// The base of the query statements; they build an operator tree whose
// result dataset serves the query.
class TVEZSQLCursorCommand : public TVEZSQLCommand {
 public:
  // Error of a statement object asked to build its operator tree twice; a
  // number no other raise site uses, so it cannot pass for a syntax error.
  static constexpr std::int32_t kErrTreeBuiltTwice = 30473;
  // Lock attempts of an execution and the pause between them.
  static constexpr std::int32_t kLockTryCount = 900;
  static constexpr std::int32_t kLockDelayMS = 100;

  using TVEZSQLCommand::TVEZSQLCommand;
  // Frees the operator tree before the INTO table and its database.
  ~TVEZSQLCursorCommand() override;

  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
  TVEZCursor* GetResultCursor() override;
  platform::DataSet* GetResultDataset() override { return ResultDataset; }
  virtual bool AllConditionsApplied() = 0;
  virtual TVEZAO* BuildAOTree(TVEZQuery* query, bool request_live, TVEZAO* parent_query_ao,
                              TVEZCursor* parent_cursor, bool allow_not_applied_conditions) = 0;

  platform::DataSet* ResultDataset = nullptr;
  std::string IntoDatabase;
  std::string IntoTable;
  bool IntoImmediate = false;
  std::vector<TVEZSortSpecification> OrderBySpecs;
  std::int32_t OrderBySpecsCount = 0;
  // Opens the tree's tables and takes their shared locks: up to
  // kLockTryCount attempts kLockDelayMS apart (through the installed clock),
  // releasing what an attempt got before each pause. 20225 when no attempt
  // succeeds, 20226 when a release fails; nothing stays locked on error.
  static void LockTables(TVEZAO& root);

  // The operator tree's root (owned).
  std::unique_ptr<TVEZAO> RootAO;

 protected:
  // Building the tree moves the WHERE parts and select-list expressions into
  // the operators, so a statement object builds once; a second build raises
  // kErrTreeBuiltTwice (an internal error: callers re-parse instead).
  void MarkTreeBuilt();
  // The table INTO names (and the database object made for another file),
  // kept while the result may write into it.
  std::unique_ptr<TVEZDatabase> FIntoDatabase;
  std::unique_ptr<TVEZTable> FIntoTable;

 private:
  bool FTreeBuilt = false;
};

class TVEZSQLProcessor : public TVEZSQLStatementHandle {
 public:
  explicit TVEZSQLProcessor(TVEZQuery* query) : VEZQuery(query) {}
  ~TVEZSQLProcessor() override;

  // ---- TVEZSQLStatementHandle
  void PrepareStatement(const std::string& sql_text) override { FSqlText = sql_text; }
  TVEZCursor* OpenQuery() override;
  void ExecuteQuery() override { OpenQuery(); }
  TVEZSQLParams& SQLParams() override { return FSQLParams; }
  std::int64_t RowsAffected() const override { return FRowsAffected; }
  bool ReadOnly() const override { return FReadOnly; }
  void SetRequestLive(bool value) override { FRequestLive = value; }
  void SetInMemory(bool value) override { FInMemory = value; }

  // The statement of the last dispatched command, or null.
  TVEZSQLCommand* CurrentStatement() const {
    return Queries.empty() ? nullptr : Queries.front().get();
  }

  TVEZQuery* VEZQuery;
  bool FReadOnly = false;
  bool FRequestLive = false;
  bool FInMemory = false;
  // -1 until the first run: a prepared query that has run nothing has no
  // count yet.
  std::int64_t FRowsAffected = -1;
  std::unique_ptr<TVEZLexer> FLex;
  std::string FSqlText;
  TVEZSQLParams FSQLParams;
  TVEZCursor* FCursor = nullptr;
  std::vector<std::unique_ptr<TVEZSQLCommand>> Queries;

 protected:
  // Moves to the next command and constructs (parses) its statement; False
  // when no command is left.
  bool DispatchStatement(TVEZLexer* lexer);
};

class TVEZLocalSQLProcessor : public TVEZSQLProcessor {
 public:
  using TVEZSQLProcessor::TVEZSQLProcessor;
};

// The processor factory RegisterSQLEngine hands the query component.
class TVEZLocalSQLProcessorFactory : public TVEZSQLProcessorFactory {
 public:
  std::unique_ptr<TVEZSQLStatementHandle> CreateProcessor(TVEZQuery& query) override;
};

}  // namespace vez
