#include "dbengine/sql/VEZSQLDelete.h"

#include <vector>

#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZSQLDataChange.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZRecordBitmap.h"

namespace vez {

TVEZSQLDelete::TVEZSQLDelete(TVEZLexer* lexer, TVEZQuery* query) : TVEZSQLCommand(lexer, query) {
  TVEZSQLDelete::Parse();
}

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
  head.TokenType = tktNone;
  head.ReservedWord = rwNone;
  head.Text = "*";
  command.Tokens.insert(command.Tokens.begin(), select);
  LLex->SetCurrentTokenNo(0);
  if (!GetCurrentToken())
    throw EVEZException(30224, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  // What the query's parser will check first: SELECT * FROM and the table.
  GetNextToken();
  GetNextToken();
  if (!IsWord(rwFROM))
    throw EVEZException(30184, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"FROM", Token.Text, Token.LineNum, Token.ColumnNum});
  GetNextToken();
  bool in_memory = false;
  ParseTableName(FDatabaseFileName, TableName, in_memory, FPassword, FPseudonym);
  IntoMemory = in_memory;
}

void TVEZSQLDelete::ExecSQL(TVEZQuery*, bool, bool, bool&, TVEZAO*, TVEZCursor*) {
  RowsAffected = 0;
  throw EVEZException(30157, "%s statement is not supported yet", {"DELETE"});
}

void TVEZSQLDelete::DeleteSelection(TVEZDataSet& selection) {
  RowsAffected = 0;
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
