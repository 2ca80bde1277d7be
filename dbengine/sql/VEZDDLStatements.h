// The table definition statements: CREATE TABLE, DROP TABLE, TRUNCATE,
// ALTER TABLE (ADD, DROP, MODIFY, RENAME COLUMN, RENAME TO) and RENAME
// TABLE. They parse into column definitions (TSQLFieldDef) and index records
// and act through a table component: its advanced and restructure
// definitions, CreateTable, DeleteTable, EmptyTable, RestructureTable,
// RenameField and RenameTable. Execution errors are wrapped: 30248 create,
// 30250 drop, 30491 truncate, 30265 alter (with the replaced message).
//
// Thread safety: none; a statement belongs to one processor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/sql/VEZSQLProcessor.h"

namespace vez {

class TVEZDatabase;
class TVEZTable;

// One parsed column definition; each option applies only when given.
class TSQLFieldDef {
 public:
  std::string FieldName;
  bool CreateIfNotExists = false;
  bool newFieldType = false;
  TVEZAdvancedFieldType FieldType = aftUnknown;
  bool newLength = false;
  std::int32_t Length = 0;
  bool newRequired = false;
  bool Required = false;
  bool newAutoincIncrement = false;
  std::int64_t AutoincIncrement = 0;
  bool newAutoincLastValue = false;
  std::int64_t AutoincLastValue = 0;
  bool newAutoincMinValue = false;
  std::int64_t AutoincMinValue = 0;
  bool newAutoincMaxValue = false;
  std::int64_t AutoincMaxValue = 0;
  bool newAutoincCycled = false;
  bool AutoincCycled = false;
  bool newBlobBlockSize = false;
  std::int32_t BlobBlockSize = 0;
  bool newBlobCompressionAlgorithm = false;
  TCompressionAlgorithm BlobCompressionAlgorithm = TCompressionAlgorithm::caNone;
  bool newBlobCompressionMode = false;
  std::uint8_t BlobCompressionMode = 0;
  bool newDefaultValue = false;
  TVEZVariant DefaultValue;
  bool newMinValue = false;
  TVEZVariant MinValue;
  bool newMaxValue = false;
  TVEZVariant MaxValue;
  // Column-level keys become index records instead.
  bool newPrimaryKey = false, PrimaryKey = false, newUnique = false, Unique = false;
};

class TSQLFieldDefs {
 public:
  TSQLFieldDef& AddCreated() { return *List.emplace_back(std::make_unique<TSQLFieldDef>()); }
  std::int32_t GetCount() const { return static_cast<std::int32_t>(List.size()); }
  TSQLFieldDef& GetDef(std::int32_t index) const { return *List.at(static_cast<size_t>(index)); }

  std::vector<std::unique_ptr<TSQLFieldDef>> List;
};

// The statements' index records, in a namespace of their own: the storage
// engine has an index class of the same name.
namespace ddl {

struct TVEZIndexField {
  std::string FieldName;
  bool desc = false;
  bool nocase = false;
};

// An index record of a statement.
struct TVEZIndex {
  std::string IndexName;
  bool Unique = false;
  bool Primary = false;
  std::vector<TVEZIndexField> IndexFields;
};

}  // namespace ddl

class TVEZDDLTableManipulation : public TVEZSQLCommand {
 public:
  using TVEZSQLCommand::TVEZSQLCommand;

  // The trailing-token check: a token after the current one raises 30246.
  void Parse() override;

  std::string Password;
  std::string DatabaseName;
  std::string TableName;
  std::string TableAlias;
  TSQLFieldDefs SQLFieldDefs;
  std::vector<ddl::TVEZIndex> Indexes;

 protected:
  // The parenthesised column and index definitions, from the current "(".
  void ParseColumnDefinitions();
  // The table the statement acts on; with_field_defs fills its advanced
  // field definitions from SQLFieldDefs.
  void CreateDDLTable(TVEZQuery* query, bool with_field_defs);
  void FreeDDLTable();
  static void AssignSQLFieldDef(TVEZAdvFieldDef& target, const TSQLFieldDef& source);
  void AssignIndexDefs(TVEZTable& table);

  std::unique_ptr<TVEZDatabase> FExternalDatabase;
  std::unique_ptr<TVEZTable> FTable;

 private:
  void ParseColumnType(TSQLFieldDef& def);
  void ParseAutoincOptions(TSQLFieldDef& def);
  void ParseDefault(TSQLFieldDef& def, bool& expression_default_given);
  // ( column [ASC|DESC|CASE|NOCASE] {, ...} ) from the current "("; the ")"
  // is consumed.
  void ParseIndexColumns(ddl::TVEZIndex& index);
  std::int64_t ParseInt64(std::int32_t number_not_int, std::int32_t number_too_big);
  // After an option: the next token must be a word, string, ")" or ",".
  void ExpectSeparatorOrWord();
};

class TVEZDDLCreateTable : public TVEZDDLTableManipulation {
 public:
  TVEZDDLCreateTable(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
  bool FCreateIfNotExists = false;
};

class TVEZDDLDropTable : public TVEZDDLTableManipulation {
 public:
  TVEZDDLDropTable(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
};

class TVEZDDLTruncateTable : public TVEZDDLTableManipulation {
 public:
  TVEZDDLTruncateTable(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
};

enum class TAlterType { atAdd, atDrop, atModify, atRenameColumn, atRenameTable };

class TVEZDDLAlterTable : public TVEZDDLTableManipulation {
 public:
  TVEZDDLAlterTable(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
  void ExecSQL(TVEZQuery* query, bool is_root, bool request_live, bool& read_only,
               TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;

  TAlterType AlterType = TAlterType::atAdd;
  std::string NewPassword;
  bool NewEncrypted = false;
  std::vector<std::string> DropColumnNamesList;
  std::vector<std::string> RenameColumnOldNamesList;
  std::vector<std::string> RenameColumnNewNamesList;
  std::string NewTableName;

 protected:
  struct TNoParse {};
  // For RENAME TABLE, which parses in its own constructor.
  TVEZDDLAlterTable(TVEZLexer* lexer, TVEZQuery* query, TNoParse)
      : TVEZDDLTableManipulation(lexer, query) {}

 private:
  void Execute(TVEZQuery* query);
};

class TVEZDDLRenameTable : public TVEZDDLAlterTable {
 public:
  TVEZDDLRenameTable(TVEZLexer* lexer, TVEZQuery* query);
  void Parse() override;
};

}  // namespace vez
