// What the data-changing statements (INSERT, UPDATE, DELETE) share: writing
// an engine value into a dataset field, and the table write lock a statement
// takes for itself outside a transaction.
//
// Thread safety: none; used by one statement on the caller's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dbengine/foundation/VEZTypes.h"

namespace platform {
class Field;
}

namespace vez {

class TVEZCursor;
class TVEZQuery;
class TVEZSQLCursorCommand;
class TVEZSQLUnion;
class TVEZTable;
class TVEZVariant;

// The live table a query executed for UPDATE or DELETE shows its rows in.
// Only a selection whose operator tree is the table operator itself can be
// written back: with TOP, DISTINCT, an ORDER BY without an index or a join
// the result is a temporary copy, and writing to it would change nothing
// while reporting success. Those raise 30225; so does a table other than
// table_name (when given).
TVEZTable& SelectedTable(TVEZSQLCursorCommand& selection, const std::string& table_name);

// Executes the statement's selection, hands its live table (SelectedTable) to
// change, and frees the selection's operators afterwards, also when it throws.
void ChangeSelectedRows(TVEZSQLUnion& selection, TVEZQuery* query, bool is_root,
                        const std::string& table_name,
                        const std::function<void(TVEZTable&)>& change);

// Writes value into field: a missing value (null pointer) raises 30359
// "Value is Null"; a NULL clears the field; integer fields take it as a
// 32-bit integer, large-integer fields as 64 bits; date, time, date-time and
// time-stamp fields as the matching date part; BLOB, graphic and memo fields
// as text (wide text for a wide string, the raw bytes for a non-string);
// byte fields a binary value as its bytes; every other field through the
// value's variant form.
void VariantToField(const TVEZVariant* value, platform::Field& field);

// INSERT's write of one VALUES value: an expression that gave no value
// (null pointer) raises 30356 naming the column and its SQL type, so the
// caller learns which column was left without one; otherwise VariantToField.
void InsertedValueToField(const TVEZVariant* value, platform::Field& field);

// The write lock of a data-changing statement outside a transaction: ltRW
// (kWriteLockAttempts tries kWriteLockPauseMs apart) and, when it can be had
// at once, ltXIRW. Released by Release or the destructor.
class TVEZStatementWriteLock {
 public:
  static constexpr std::int32_t kWriteLockAttempts = 1125;
  static constexpr std::int32_t kWriteLockPauseMs = 80;

  explicit TVEZStatementWriteLock(TVEZCursor& cursor) : FCursor(cursor) {}
  ~TVEZStatementWriteLock();
  TVEZStatementWriteLock(const TVEZStatementWriteLock&) = delete;
  TVEZStatementWriteLock& operator=(const TVEZStatementWriteLock&) = delete;

  // The cursor's own waits (INSERT ... SELECT): raises error_number "Table
  // is locked" when every try failed; nothing is held then.
  void Acquire(std::int32_t error_number);
  // One try at a time; the caller holds the table-data lock, which is given
  // up for each pause so that the holder can finish (UPDATE, DELETE).
  void AcquireReleasingTableData(std::int32_t error_number);
  // Gives back what Acquire took (XIRW first); safe to call twice.
  void Release();

  bool HoldsRW() const { return FHoldsRW; }
  bool HoldsXIRW() const { return FHoldsXIRW; }

 private:
  void TakeXIRW();

  TVEZCursor& FCursor;
  bool FHoldsRW = false;
  bool FHoldsXIRW = false;
};

}  // namespace vez
