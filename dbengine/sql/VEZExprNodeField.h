// TVEZExprNodeField: a column reference in an expression tree. It is bound to
// a cursor (whose field defs give the column's number, offset, type and size)
// and then reads the column from a record buffer: the cursor's current one, or
// any buffer of the same table handed to AssignCursorBuffer (the storage
// engine's record filter). Binding fixes everything a read needs, so reading
// a column per record is a null-bit test and one copy of its bytes.
//
// Bound to a relational operator (AssignAO) the node reads the operator's
// column through the operator's GetFieldValue.
//
// Not yet: memo (CLOB) columns, which need a BLOB stream of the cursor's
// table; they raise 30058.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeField : public TVEZExprNode {
 public:
  // Case-insensitive, not partial; unbound (FFieldNo -1). With a cursor the
  // node is bound at once (AssignCursor(cursor, null, null)), so an unknown
  // column raises 30115 here.
  TVEZExprNodeField(TVEZCursor* cursor, std::string field_name, std::string table_name);

  // The column's value in the bound record buffer: NULL (of bftUnknown) when
  // its null bit is set, else FFieldSize bytes at its offset, of its storage
  // type. Without a record buffer: 30196.
  TVEZVariant* GetDataValue() override;
  // Binds to ao, else to parent_query_ao, else an outer-query reference to
  // parent_cursor; 30197 when nothing binds it and no earlier binding stays.
  void AssignAO(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
  // Binds the reference to cursor (or, when cursor lacks the column, to
  // parent_cursor) and to the cursor's current record buffer. No cursor:
  // 30202; the column in neither: 30115.
  void AssignCursor(TVEZCursor* cursor, TVEZAO* parent_query_ao,
                    TVEZCursor* parent_cursor) override;
  // Takes buffer as the record to read, only when
  // apply_to_parent_query_fields equals FGetFromParent (outer-query
  // references follow the outer record, the others this table's).
  void AssignCursorBuffer(std::uint8_t* buffer, bool apply_to_parent_query_fields) override;
  // The bound column's declared type; unbound or unknown raises 30284.
  TVEZAdvancedFieldType GetDataType() override;
  // FFieldSize.
  std::int32_t GetDataSize() override;
  // Whether the reference can be evaluated by ao, else as an outer-query
  // reference by parent_query_ao or parent_cursor (FGetFromParent says which;
  // when found, FScanOnlyVisibleFieldsInAO := for_having_clause). An
  // operator must answer with exactly one column.
  bool CanBeAssigned(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                     bool for_having_clause) override;
  // A reference to a select-list pseudonym becomes a reference to the
  // item's column: the first plain-column item whose pseudonym is the
  // column name (and whose table is the reference's, when it names one)
  // renames it.
  void ReplacePseudonyms(const std::vector<TVEZSelectListItem>& select_list) override;
  // True when the upper-cased column name is one of the ';'-separated names
  // (the table name is not compared).
  bool CanBeUsedInGroupBy(const std::string& group_by_fields) override;

  // Binds to the first column of ao_to_assign the reference denotes (type,
  // size and precision from the operator); false without an operator or match.
  bool TryAssignAO(TVEZAO* ao_to_assign);
  // The physical column number of the reference in cursor: FFieldName among
  // the field defs, then among the visible defs (their physical column),
  // then FFieldNameInAO the same two ways. False without a cursor or hit.
  bool FindFieldInCursor(TVEZCursor* cursor, std::int32_t& field_no) const;

  // The binding (borrowed).
  TVEZCursor* LCursor = nullptr;
  TVEZAO* LAO = nullptr;
  std::uint8_t* LRecordBuffer = nullptr;
  // The reference as written.
  std::string FTableName;
  std::string FFieldName;
  // The column's name in the operator it was bound to.
  std::string FFieldNameInAO;
  std::int32_t FFieldNo = -1;
  std::int32_t FFieldOffsetInBuffer = 0;
  TVEZAdvancedFieldType FFieldType = aftUnknown;
  TVEZBaseFieldType FBaseFieldType = bftUnknown;
  std::int32_t FFieldSize = 0;
  std::int32_t FFieldPrecision = 0;
  // A column of the outer query (correlated subquery).
  bool FGetFromParent = false;
  bool FScanOnlyVisibleFieldsInAO = false;
};

}  // namespace vez
