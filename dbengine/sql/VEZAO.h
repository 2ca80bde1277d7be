// TVEZAO: one relational operator of a query's operator tree. An operator has
// zero, one or two children (owned), a list of field links describing the
// columns it delivers, and its own result dataset (a TVEZTable, owned).
//
// An operator with children is first a streaming operator (DoFirst, DoNext,
// DoGetEof, DoGetRecordCount walk its rows one at a time); Execute runs the
// children first and then materialises the operator: its stream is walked once
// and every row copied into a temporary result table, after which First, Next,
// GetEof and GetRecordCount read that table and the children are freed. The
// leaf table operator (TVEZAOTable) is a window on a stored table and never
// materialises.
//
// Row limits: FFirstRowNo and FTopRowCount count the rows the operator
// delivers, i.e. after its filter and DISTINCT, so rows a filter rejects never
// shift the window. Every auto-increment column of a result table is a plain
// column of the same storage type, so a NULL copied from a source keeps NULL.
//
// Ownership: children, filter, the expressions of expression links and the
// result dataset. A temporary result table is deleted when its operator is
// freed, so an aborted execution leaves no table behind.
//
// Thread safety: none; a tree belongs to one statement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZFields.h"

namespace vez {

class TVEZCursor;
class TVEZDataSet;
class TVEZTable;

using TVEZIntegerArray = std::vector<std::int32_t>;

class TVEZAO;

// One column an operator delivers.
struct TVEZFieldLink {
  // Internal column name (unique within a join after MakeFieldNamesUnique).
  std::string FieldName;
  // The name the user sees; empty until set.
  std::string DisplayName;
  TVEZAdvancedFieldType FieldType = aftUnknown;
  std::int32_t FieldPrecision = 0;
  std::int32_t FieldSize = 0;
  TCompressionAlgorithm BLOBCompressionAlgorithm = TCompressionAlgorithm::caNone;
  std::uint8_t BLOBCompressionMode = 0;
  std::int32_t BLOBBlockSize = kDefaultBLOBBlockSize;
  // Child operator that supplies the value (the operator itself for an
  // expression link); null for a link into a dataset.
  TVEZAO* AO = nullptr;
  // Dataset that stores the value; null when AO or Expr supplies it.
  TVEZDataSet* Dataset = nullptr;
  // The column exists but is not part of the result; the user may not read it.
  bool IsHidden = false;
  // Field number in Dataset, or link number in AO.
  std::int32_t FieldNo = 0;
  bool IsExpression = false;
  bool IsAggregate = false;
  // Owned expression of an expression link.
  std::unique_ptr<TVEZExpression> Expr;
};

class TVEZAO {
 public:
  // Error numbers raised by the operators.
  static constexpr std::int32_t kErrCannotOpenTable = 10304;
  static constexpr std::int32_t kErrCannotFindField = 10305;
  static constexpr std::int32_t kErrFieldNameNo = 10306;
  static constexpr std::int32_t kErrFieldValueNo = 10307;
  static constexpr std::int32_t kErrNilResultDataset = 10308;
  static constexpr std::int32_t kErrInvalidFieldLink = 10309;
  static constexpr std::int32_t kErrHiddenFieldValue = 10310;
  static constexpr std::int32_t kErrHiddenFieldCreate = 10312;
  static constexpr std::int32_t kErrHiddenFieldFinish = 10314;
  static constexpr std::int32_t kErrFieldTypeNo = 10376;
  static constexpr std::int32_t kErrFieldSizeNo = 10377;
  static constexpr std::int32_t kErrFieldPrecisionNo = 10378;
  static constexpr std::int32_t kErrOrderByFieldNo = 20243;

  // Takes both children (either may be null). Makes an empty result table in
  // the children's session; not materialised only for subclasses that say so.
  TVEZAO(std::unique_ptr<TVEZAO> left_ao, std::unique_ptr<TVEZAO> right_ao, std::string table_name,
         std::string table_alias);
  // Releases a held table lock, closes the result table (deleting it when
  // temporary) and frees everything owned. Never throws.
  virtual ~TVEZAO();
  TVEZAO(const TVEZAO&) = delete;
  TVEZAO& operator=(const TVEZAO&) = delete;

  // ---- streaming (before materialisation); the base delivers nothing
  virtual void DoFirst() {}
  virtual void DoNext() {}
  virtual bool DoGetEof() { return false; }
  // The result dataset's record count when materialised, else 0.
  virtual std::int64_t DoGetRecordCount();
  // ---- reading: the result dataset once materialised, else the stream
  virtual void First();
  virtual void Next();
  virtual bool GetEof();
  virtual std::int64_t GetRecordCount();
  bool Eof() { return GetEof(); }
  std::int64_t RecordCount() { return GetRecordCount(); }

  // Renames clashing link names X, X_1, X_12, X_123 ... (case-insensitive).
  virtual void MakeFieldNamesUnique();
  // Executes the children, materialises and applies the result order.
  virtual void Execute(bool is_root_ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor);
  // TOP: ignored once DISTINCT or a result order is set. A negative
  // first_row_no means 1; a negative top_row_count means no limit.
  virtual void SetTopRowCount(std::int32_t first_row_no, std::int32_t top_row_count);
  // The select list (empty means `*`): takes the items' expressions into
  // expression links, resolves column entries (10305 when unknown), and
  // applies DISTINCT over the chosen columns when asked.
  virtual void SetResultFields(std::vector<TVEZSelectListItem>& field_refs, bool distinct);
  // Counts (and appends to field_numbers when given) the links that a column
  // reference (or "*") denotes; see the implementation for the flags.
  virtual std::int32_t FieldExists(const std::string& field_name, const std::string& table_name,
                                   bool unhide, TVEZIntegerArray* field_numbers,
                                   bool unhide_children_only, bool scan_only_visible_fields);
  // The requested result order: ';'-lists of all fields, the descending ones
  // and the case-insensitive ones.
  virtual void SetIndex(const std::string& index_field_names, const std::string& desc_fields,
                        const std::string& case_insensitive_fields);

  // ---- set up by the statement layer
  // Takes the filter; a second one joins the first as a further AND part.
  void SetFilter(std::unique_ptr<TVEZExpression> filter_expr);
  // The result goes into this named table instead of a temporary one.
  void SetResultTable(bool in_memory, bool immediate, const std::string& table_name,
                      const std::string& database_name);

  // ---- table locks over the whole tree (AND of the answers)
  bool LockTables();
  bool UnlockTables();
  bool OpenTables();
  bool CloseTables();

  // ---- values
  // Value of link field_no into value (null for an empty source). 10307
  // outside the range, 10309 for a link to nothing, 10310 for a hidden link
  // without access_to_hidden.
  void GetFieldValue(TVEZVariant& value, std::int32_t field_no, bool copy, bool access_to_hidden);
  TVEZAdvancedFieldType GetFieldType(std::int32_t field_no) const;
  std::int32_t GetFieldSize(std::int32_t field_no) const;
  std::int32_t GetFieldPrecision(std::int32_t field_no) const;
  // Copies link src_field_no's current value into field dest_field_no of the
  // result dataset's inserted record.
  void CopyFieldValue(std::int32_t src_field_no, std::int32_t dest_field_no);
  // Follows links from link number field_no down to the dataset storing it;
  // false when the chain passes a null-extended child or ends in an operator.
  bool GetFieldDatasetAndFieldNo(TVEZDataSet*& dataset, std::int32_t& field_no);

  // ---- name lookups
  std::string GetFieldName(std::int32_t field_no, bool apply_order_by) const;
  std::string GetFieldNameByColumnName(const std::string& column_name) const;
  std::string GetFieldNameByColumnNo(std::int32_t column_no) const;
  // 20243 (1-based number) at or past the end of the result columns.
  std::string GetFieldNameByVisibleNumber(std::int32_t visible_field_no) const;
  std::int32_t GetFieldNoByVisibleNumber(std::int32_t visible_field_no) const;
  bool FindFieldInFieldLinks(const std::string& field_name, std::int32_t& field_no) const;

  // ---- DISTINCT and result order
  // ';'-list of link names; an empty list turns DISTINCT off.
  virtual void ApplyDistinct(const std::string& distinct_fields);
  // A join whose ON condition must stay on it (WHERE parts are not pushed
  // below it).
  virtual bool IsOuterJoin() const { return false; }
  // Selects an index on the result order; the lists are freed when asked.
  void ApplyResultIndex(bool free_lists);
  void ApplyTableDistinct();
  bool HasResultIndex() const { return !FResultIndexFieldsList.empty(); }
  void ClearResultIndex();
  // The result order joined back into three ';'-lists.
  void BuildIndexFieldStrings(std::string& fields, std::string& desc_fields,
                              std::string& case_ins_fields) const;

  // ---- links
  // Appends a copy of child link child_field_no as a link into child; with
  // skip_hidden a hidden child link is not copied.
  void AppendChildFieldLink(TVEZAO* child, std::int32_t child_field_no, bool skip_hidden);
  std::int32_t FieldCount() const { return FFieldCount; }
  TVEZFieldLink& FieldLink(std::int32_t field_no) {
    return FFieldLinks.at(static_cast<std::size_t>(field_no));
  }
  const TVEZFieldLink& FieldLink(std::int32_t field_no) const {
    return FFieldLinks.at(static_cast<std::size_t>(field_no));
  }
  // Appends a link and returns its number.
  std::int32_t AddFieldLink(TVEZFieldLink link);

  const std::string& TableAlias() const { return FTableAlias; }
  void SetTableAlias(const std::string& alias) { FTableAlias = alias; }
  const std::string& TableName() const { return FTableName; }
  bool IsMaterialized() const { return FIsMaterialized; }
  TVEZTable* ResultDataset() const { return FResultDataset.get(); }
  // Gives up the result dataset (the caller then owns it); the operator is
  // left without one.
  std::unique_ptr<TVEZTable> ReleaseResultDataset();
  TVEZAO* LeftAO() const { return FLeftAO.get(); }
  TVEZAO* RightAO() const { return FRightAO.get(); }
  TVEZExpression* FilterExpr() const { return FFilterExpr.get(); }

  // Kind flags.
  bool FIsRootAO = false;
  bool FIsAOTable = false;
  bool FIsAOGroupBy = false;
  bool FIsAOUnion = false;
  bool FIsAOJoin = false;

  std::int64_t FTopRowCount = -1;
  std::int64_t FFirstRowNo = -1;
  bool FHasSetResultFields = false;
  std::string FResultTableName;
  bool FResultInMemory = false;
  bool FResultImmediate = false;
  std::string FResultDatabaseName;
  // Link numbers in select-list order; empty = every visible link in order.
  TVEZIntegerArray FResultFieldsOrder;
  // Set by joins: that child's fields read as null.
  bool FLeftAONull = false;
  bool FRightAONull = false;
  bool FDistinctApplied = false;
  std::string FDistinctFields;
  std::int32_t FDistinctFieldCount = 0;
  TVEZIntegerArray FDistinctFieldsMap;
  bool FExpressionsExists = false;
  bool FIsLocked = false;
  bool FDisableTempFiles = false;

 protected:
  // ---- materialisation (nothing once materialised)
  void Materialize();
  void CreateResultTable(std::vector<std::string>& field_names, std::vector<std::string>& aliases);
  void FillResultTable();
  void FinishMaterialization(std::vector<std::string>& field_names,
                             std::vector<std::string>& aliases);
  // Replaces order-by names that are column aliases by the field name.
  void ResolveOrderByAliases(const std::vector<std::string>& field_names,
                             const std::vector<std::string>& aliases);
  // Frees the children (after materialisation).
  virtual void FreeChildren();
  // A row passes the filter (no filter: true).
  bool RowPassesFilter();
  // Direct field access is used unless this is a root union, a table
  // operator, or has no result fields.
  bool UseDirectAccess() const;
  [[noreturn]] void RaiseHidden(std::int32_t number, std::int32_t field_no) const;
  void CheckFieldNo(std::int32_t number, std::int32_t field_no) const;
  // Replaces the result dataset.
  void SetResultDataset(std::unique_ptr<TVEZTable> table);

  std::unique_ptr<TVEZExpression> FFilterExpr;
  std::string FTableName;
  std::string FTableAlias;
  bool FIsMaterialized = true;
  std::unique_ptr<TVEZTable> FResultDataset;
  std::int32_t FFieldCount = 0;
  // Requested result order: field, "ASC"/"DESC", "CASE"/"NO_CASE".
  std::vector<std::string> FResultIndexFieldsList;
  std::vector<std::string> FResultIndexAscDescFieldsList;
  std::vector<std::string> FResultIndexCaseInsFieldsList;
  TVEZVariant FValue;
  std::vector<TVEZFieldLink> FFieldLinks;
  std::unique_ptr<TVEZAO> FLeftAO;
  std::unique_ptr<TVEZAO> FRightAO;
};

}  // namespace vez
