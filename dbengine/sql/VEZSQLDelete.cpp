#include "dbengine/sql/VEZSQLDelete.h"

#include <vector>

#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZSQLDataChange.h"
#include "dbengine/sql/VEZSQLSelect.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZRecordBitmap.h"

namespace vez {

TVEZSQLDelete::TVEZSQLDelete(TVEZLexer* lexer, TVEZQuery* query) : TVEZSQLCommand(lexer, query) {
  TVEZSQLDelete::Parse();
}

TVEZSQLDelete::~TVEZSQLDelete() = default;

void TVEZSQLDelete::Parse() {
  if (LLex->CurrentCommandNo < 0 || LLex->CurrentCommandNo >= LLex->NumCommands() ||
      LLex->Commands[static_cast<std::size_t>(LLex->CurrentCommandNo)].Tokens.empty())
    throw EVEZException(30224, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  TSQLCommand& command = LLex->Commands[static_cast<std::size_t>(LLex->CurrentCommandNo)];
  TToken& head = command.Tokens.front();
  TToken select = head;
  select.TokenType = tktReservedWord;
  select.ReservedWord = rwSELECT;
  select.Text = "SELECT";
  head.TokenType = tktString;
  head.ReservedWord = rwNone;
  head.Text = "*";
  command.Tokens.insert(command.Tokens.begin(), select);
  LLex->SetCurrentTokenNo(0);
  if (!GetCurrentToken())
    throw EVEZException(30224, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  InternalSelecter = std::make_unique<TVEZSQLUnion>(LLex, LQuery);
  TToken rest;
  if (LLex->GetCurrentToken(rest))
    throw EVEZException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {rest.Text, rest.LineNum, rest.ColumnNum});
}

void TVEZSQLDelete::ExecSQL(TVEZQuery* query, bool is_root, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  ChangeSelectedRows(*InternalSelecter, query, is_root, {},
                     [this](TVEZTable& table) { DeleteSelection(table); });
}

void TVEZSQLDelete::DeleteSelection(TVEZTable& selection) {
  RowsAffected = 0;
  TableName = selection.TableName();
  TVEZCursor* selection_cursor = selection.Handle();
  if (selection_cursor == nullptr) throw EVEZException(30157, "The selection is not open");
  const bool through_selection =
      selection_cursor->RecordBitmap != nullptr && selection_cursor->RecordBitmap->Active;
  std::unique_ptr<TVEZTable> target;
  if (!through_selection) {
    target = std::make_unique<TVEZTable>();
    target->SetSessionName(selection.GetSessionName());
    target->SetDatabaseName(selection.DatabaseName());
    target->SetTableName(TableName);
    target->SetInMemory(selection.InMemory());
    target->Open();
  }
  selection_cursor->LockTableData();
  struct DataUnlock {
    TVEZCursor& c;
    ~DataUnlock() { c.UnlockTableData(); }
  } data_unlock{*selection_cursor};

  const bool in_transaction =
      selection_cursor->Session != nullptr && selection_cursor->Session->InTransaction;
  TVEZStatementWriteLock lock(*selection_cursor);
  if (!in_transaction) lock.AcquireReleasingTableData(20223);

  if (through_selection) {
    selection_cursor->BeginBatchUpdate();
    try {
      selection.First();
      while (!selection.Eof()) {
        selection.Delete();
        ++RowsAffected;
      }
    } catch (...) {
      selection_cursor->CancelBatchUpdate();
      selection_cursor->EndBatchUpdate();
      throw;
    }
    selection_cursor->EndBatchUpdate();
  } else {
    TVEZCursor& cursor = *target->Handle();
    if (!in_transaction) cursor.BeginBatchUpdate();
    try {
      // Every selected row is known before the first one goes.
      std::vector<platform::TBookmark> bookmarks;
      for (selection.First(); !selection.Eof(); selection.Next())
        bookmarks.push_back(selection.GetBookmark());
      for (const platform::TBookmark& bookmark : bookmarks) {
        target->GotoBookmark(bookmark);
        target->Delete();
        ++RowsAffected;
      }
    } catch (...) {
      if (!in_transaction) cursor.CancelBatchUpdate();
      throw;
    }
    if (!in_transaction) cursor.EndBatchUpdate();
    target->Close();
  }
  lock.Release();
}

}  // namespace vez
