#include "dbengine/api/VEZTableCopy.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/foundation/VEZAssignFieldValue.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/Collation.h"
#include "platform/core/Format.h"
#include "platform/dataset/Field.h"
#include "platform/os/FileQueries.h"

namespace vez {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kUnknownTable = "unknown";
constexpr const char* kMemoryDatabase = "MEMORY";

std::string MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

std::string TableNameOf(const platform::Component* component) {
  const auto* table = dynamic_cast<const TVEZTable*>(component);
  return table != nullptr ? table->TableName() : kUnknownTable;
}

// Puts the source back on its record however the copy ends. A source that
// cannot go back had its records copied all the same, so that never raises.
class BookmarkReturn {
 public:
  explicit BookmarkReturn(platform::DataSet& dataset)
      : FDataSet(dataset), FBookmark(dataset.GetBookmark()) {}
  ~BookmarkReturn() {
    try {
      if (!FBookmark.empty() && FDataSet.Active() && FDataSet.BookmarkValid(FBookmark))
        FDataSet.GotoBookmark(FBookmark);
    } catch (...) {
      // The records are copied; only the position is lost.
    }
  }
  BookmarkReturn(const BookmarkReturn&) = delete;
  BookmarkReturn& operator=(const BookmarkReturn&) = delete;

 private:
  platform::DataSet& FDataSet;
  platform::TBookmark FBookmark;
};

// The source column's destination: by object id through the source
// table's requested structure, else by name.
platform::Field* DestinationField(platform::DataSet& source, int source_position,
                                  platform::Field& source_field, platform::DataSet& dest,
                                  bool match_by_object_id) {
  auto* source_table = dynamic_cast<TVEZTable*>(&source);
  if (match_by_object_id && source_table != nullptr && dynamic_cast<TVEZTable*>(&dest) &&
      source_position >= 0 && source_position < source_table->AdvFieldDefs().Count()) {
    const std::int32_t id = source_table->AdvFieldDefs().GetDef(source_position)->ObjectID;
    TVEZAdvFieldDefs& wanted = source_table->RestructureFieldDefs();
    for (std::int32_t j = 0; id >= 0 && j < wanted.Count(); ++j) {
      if (wanted.GetDef(j)->ObjectID != id) continue;
      if (j < dest.FieldCount()) return &dest.Fields(j);
      break;
    }
  }
  return dest.FindField(source_field.FieldName());
}

int PositionOf(const platform::DataSet& dataset, const platform::Field& field) {
  for (int i = 0; i < dataset.FieldCount(); ++i)
    if (&dataset.Fields(i) == &field) return i;
  return -1;
}

bool IsHexText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// "{8-4-4-4-12}" with hex digits.
bool IsGuidText(std::string_view text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  const std::string_view body = text.substr(1, 36);
  for (const std::size_t dash : {8u, 13u, 18u, 23u})
    if (body[dash] != '-') return false;
  return IsHexText(body.substr(0, 8)) && IsHexText(body.substr(9, 4)) &&
         IsHexText(body.substr(14, 4)) && IsHexText(body.substr(19, 4)) &&
         IsHexText(body.substr(24, 12));
}

// Rows a table copy writes per commit, fewer when their BLOBs pass the byte
// limit: the changed pages of a commit stay in memory until it is written.
constexpr std::int64_t kCopyRowsPerCommit = 10000;
constexpr std::int64_t kCopyBlobBytesPerCommit = 4 << 20;

// The rows a restructure copies into its new table are written as one
// batch, in one commit, instead of one commit per row: the old copy keeps
// every row until the batch is written, so a crash loses nothing, and a
// failed copy drops the batch. The new table's write lock is held across the
// batch so no other session writes it in between; when another session holds
// it already, rows go one commit each as without the batch.
class RowBatch {
 public:
  explicit RowBatch(TVEZCursor& cursor) : FCursor(cursor) {
    if (!FCursor.LockTable(ltRW, 1, 0, true)) return;
    FLocked = true;
    FExclusive = FCursor.LockTable(ltXIRW, 1, 0, true);
    FCursor.BeginBatchUpdate();
    FOpen = true;
  }
  // Writes the batch; raises when it cannot be written (nothing of it is then
  // stored).
  void Apply() {
    if (!FOpen) return;
    FOpen = false;
    FCursor.EndBatchUpdate();
  }
  // Writes the rows so far and starts a new batch, so a long copy holds a
  // bounded number of changed pages in memory.
  void Flush() {
    if (!FOpen) return;
    Apply();
    FCursor.BeginBatchUpdate();
    FOpen = true;
  }
  ~RowBatch() {
    try {
      if (FOpen) FCursor.CancelBatchUpdate();
    } catch (...) {
      // The new table is deleted after a failed copy.
    }
    try {
      if (FExclusive) FCursor.UnlockTable(ltXIRW, true);
      if (FLocked) FCursor.UnlockTable(ltRW, true);
    } catch (...) {
      // A session's locks go with its connection.
    }
  }
  RowBatch(const RowBatch&) = delete;
  RowBatch& operator=(const RowBatch&) = delete;

 private:
  TVEZCursor& FCursor;
  bool FLocked = false;
  bool FExclusive = false;
  bool FOpen = false;
};

// Whether two names of database files name the same file: equal texts in
// any letter case, or one file however its path is written ("./", "..",
// symbolic links). A copy onto the table itself would otherwise delete it.
bool SameDatabaseFile(const std::string& a, const std::string& b) {
  if (platform::AnsiSameText(a, b)) return true;
  try {
    return platform::CanonicalPath(a) == platform::CanonicalPath(b);
  } catch (...) {
    // A path that cannot be resolved names no file the other one does.
    return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Copying records

bool CopyDataSetRecords(platform::Component* owner, platform::DataSet& source,
                        platform::DataSet& dest, std::string& log, bool& cont, bool ignore_errors,
                        bool match_by_object_id, const TVEZTable::TVEZProgressEvent& on_progress,
                        int min_progress, int max_progress,
                        const std::function<void()>& after_row) {
  bool result = true;
  const std::string table_name = TableNameOf(owner);
  const std::string source_name = TableNameOf(&source);
  source.CheckBrowseMode();
  std::int64_t r = 1;
  const int span = max_progress - min_progress;
  const std::int64_t step =
      span == 0 ? 1 : static_cast<std::int64_t>(source.RecordCount()) / span + 1;
  // A reversed or huge range must not stop the reports or divide by zero.
  const std::int64_t every = std::clamp<std::int64_t>(step, 1, 30);
  try {
    source.Refresh();
  } catch (...) {
    // A source that cannot refresh is copied as it stands.
  }
  BookmarkReturn back(source);
  // Which field goes where is found once, not by name for every record.
  struct Column {
    platform::Field* source = nullptr;
    platform::Field* dest = nullptr;
  };
  std::vector<Column> columns;
  const auto map_columns = [&] {
    const int def_count = source.FieldDefs().Count();
    const bool by_position = source.FieldCount() == def_count;
    columns.assign(static_cast<std::size_t>(def_count), Column{});
    for (int i = 0; i < def_count; ++i) {
      Column& column = columns[static_cast<std::size_t>(i)];
      column.source =
          by_position ? &source.Fields(i) : source.FindField(source.FieldDefs().Items(i).Name);
      if (column.source == nullptr) continue;
      const int position = by_position ? i : PositionOf(source, *column.source);
      column.dest = DestinationField(source, position, *column.source, dest, match_by_object_id);
    }
  };
  try {
    source.First();
    while (!source.Eof()) {
      dest.Insert();
      const int def_count = source.FieldDefs().Count();
      if (columns.size() != static_cast<std::size_t>(def_count)) map_columns();
      for (int i = 0; i < def_count; ++i) {
        const std::string& def_name = source.FieldDefs().Items(i).Name;
        platform::Field* source_field = columns[static_cast<std::size_t>(i)].source;
        if (source_field == nullptr) {
          const std::string text = platform::Format(
              "Cannot copy field '%s' of table '%s': its data type is not supported",
              {def_name, source_name});
          log += text;
          if (!ignore_errors) throw EVEZException(10499, text);
          result = false;
          continue;
        }
        platform::Field* dest_field = columns[static_cast<std::size_t>(i)].dest;
        if (dest_field == nullptr) continue;
        try {
          AssignFieldValue(*source_field, *dest_field);
        } catch (...) {
          log += platform::Format(
              "Error copying table \"%s\". Record #%d, field '%s' was copied with Null value due "
              "to error: %s",
              {table_name, r, source_field->FieldName(), MessageOf(std::current_exception())});
          log += kCrLf;
          try {
            dest_field->Clear();
          } catch (...) {
            // The field keeps whatever it had; the log tells.
          }
          if (!ignore_errors) throw;
          result = false;
        }
      }
      try {
        dest.Post();
      } catch (...) {
        log += platform::Format(
            "Error copying table \"%s\". Record #%d was not imported due to "
            "error: %s",
            {table_name, r, MessageOf(std::current_exception())});
        log += kCrLf;
        log += kCrLf;
        try {
          dest.Cancel();
        } catch (...) {
          // Cancelling a failed insert only frees its buffer.
        }
        if (!ignore_errors) throw;
        result = false;
      }
      if (after_row) after_row();
      ++r;
      bool moved = true;
      try {
        source.Next();
      } catch (...) {
        const std::string error = MessageOf(std::current_exception());
        moved = false;
        // Go on from the next record number that can be reached, the last
        // one included.
        while (source.RecordCount() >= r) {
          try {
            source.SetRecNo(static_cast<int>(r));
            moved = true;
            break;
          } catch (...) {
            log += platform::Format("Record #%d corrupted and skipped.", {r});
            log += kCrLf;
            ++r;
          }
        }
        if (!moved) {
          // Nothing after the failing record can be reached: the copy ends
          // here rather than copying the same record again.
          log += platform::Format(
              "Error copying table \"%s\". Cannot move past record #%d due to error: %s",
              {table_name, r - 1, error});
          log += kCrLf;
          result = false;
        }
      }
      if ((r - 2) % every == 0 && on_progress) {
        const int count = source.RecordCount();
        const int percent =
            count > 0 ? static_cast<int>(std::nearbyint(static_cast<double>(r - 1) * span /
                                                        static_cast<double>(count))) +
                            min_progress
                      : max_progress;
        on_progress(source, percent, cont);
        if (!cont) {
          log += "Terminated by User.";
          log += kCrLf;
          result = false;
          break;
        }
      }
      if (!moved) break;
    }
  } catch (...) {
    if (dest.State() == platform::TDataSetState::dsInsert) {
      try {
        dest.Cancel();
      } catch (...) {
        // The error that ended the copy is the one to report.
      }
    }
    throw;
  }
  return result;
}

// ---------------------------------------------------------------------------
// Leftovers

bool IsRestructureLeftoverName(std::string_view name) {
  constexpr std::size_t kGuidLength = 38;
  if (name.size() < 4 + 1 + 1 + kGuidLength) return false;
  if (!platform::AnsiSameText(std::string(name.substr(0, 4)), "OLD_")) return false;
  const std::size_t guid_at = name.size() - kGuidLength;
  return name[guid_at - 1] == '_' && IsGuidText(name.substr(guid_at));
}

std::vector<std::string> RestructureLeftoverTables(TVEZDatabase& database) {
  std::vector<std::string> tables;
  database.GetTablesList(tables);
  std::vector<std::string> leftovers;
  for (const std::string& name : tables)
    if (IsRestructureLeftoverName(name)) leftovers.push_back(name);
  return leftovers;
}

// ---------------------------------------------------------------------------
// Event dispatch

bool TVEZTable::QuietBulkOperation() {
  if (Temporary()) return true;
  TVEZDatabase* database = Database();
  if (database == nullptr) {
    TVEZSession* session = Sessions().FindSession(GetSessionName());
    if (session != nullptr) database = session->DoFindDatabase(DatabaseName(), Owner());
  }
  return database != nullptr && database->SilentMode();
}

void TVEZTable::DefaultBefore(const char* caption) {
  if (QuietBulkOperation()) return;
  // Events pumped while the window is up may not start another operation on
  // this table.
  Operation pumping(*this);
  platform::EngineUi& ui = platform::CurrentEngineUi();
  FWaitWindow = ui.OpenWaitWindow(caption);
  FWaitWindow->SetPercent(0);
  ui.ProcessEvents();
}

void TVEZTable::DefaultProgress(int percent_done, bool& cont) {
  if (QuietBulkOperation()) return;
  Operation pumping(*this);
  platform::EngineUi& ui = platform::CurrentEngineUi();
  if (FWaitWindow) FWaitWindow->SetPercent(percent_done);
  ui.ProcessEvents();
  if (FWaitWindow) cont = !FWaitWindow->AbortRequested();
}

void TVEZTable::DefaultAfter() {
  if (QuietBulkOperation()) return;
  FWaitWindow.reset();
}

// A user's handler runs as a step of the bulk operation: it may look at the
// table's fields but not move or change it.
#define VEZ_TABLE_BULK_EVENTS(Op, Caption)                                              \
  void TVEZTable::InternalBefore##Op(platform::DataSet& sender) {                       \
    if (Before##Op) {                                                                   \
      Operation handler(*this);                                                         \
      Before##Op(sender);                                                               \
    } else {                                                                            \
      DefaultBefore(Caption);                                                           \
    }                                                                                   \
  }                                                                                     \
  void TVEZTable::InternalOn##Op##Progress(platform::DataSet& sender, int percent_done, \
                                           bool& cont) {                                \
    if (On##Op##Progress) {                                                             \
      Operation handler(*this);                                                         \
      On##Op##Progress(sender, percent_done, cont);                                     \
    } else {                                                                            \
      DefaultProgress(percent_done, cont);                                              \
    }                                                                                   \
  }                                                                                     \
  void TVEZTable::InternalAfter##Op(platform::DataSet& sender) {                        \
    if (After##Op) {                                                                    \
      Operation handler(*this);                                                         \
      After##Op(sender);                                                                \
    } else {                                                                            \
      DefaultAfter();                                                                   \
    }                                                                                   \
  }

VEZ_TABLE_BULK_EVENTS(Copy, "Copy Table...")
VEZ_TABLE_BULK_EVENTS(Import, "Import Table...")
VEZ_TABLE_BULK_EVENTS(Export, "Export Table...")
VEZ_TABLE_BULK_EVENTS(Restructure, "Restructure Table...")
VEZ_TABLE_BULK_EVENTS(BatchMove, "Batch Moving...")

#undef VEZ_TABLE_BULK_EVENTS

// ---------------------------------------------------------------------------
// Import and export

bool TVEZTable::ImportTable(platform::DataSet& source_table) {
  std::string log;
  return ImportTable(source_table, log, nullptr);
}

bool TVEZTable::ImportTable(platform::DataSet& source_table, std::string& log,
                            const platform::IndexDefs* index_defs) {
  Operation op(*this);
  Nested nested(*this);
  SetFiltered(false);
  const std::string incoming = log;
  CheckInactive();
  IndexDefs().Clear();
  AdvIndexDefs().Clear();
  FieldDefs().Clear();
  AdvFieldDefs().Clear();
  source_table.FieldDefs().Update();
  if (auto* vez_source = dynamic_cast<TVEZDataSet*>(&source_table)) {
    AdvFieldDefs().Assign(vez_source->AdvFieldDefs());
    AdvIndexDefs().Assign(vez_source->AdvIndexDefs(), true);
  } else {
    FieldDefs().Assign(source_table.FieldDefs());
  }
  if (index_defs != nullptr) {
    for (int i = 0; i < index_defs->Count(); ++i) {
      const platform::IndexDef& def = index_defs->Items(i);
      if (def.Fields.empty()) {
        log += platform::Format(
            "Cannot import index '%s'. Index type is not supported, index "
            "skipped",
            {def.Name});
        continue;
      }
      platform::IndexDef& copy = IndexDefs().Add(def.Name, def.Fields, def.Options);
      copy.DescFields = def.DescFields;
      copy.CaseInsFields = def.CaseInsFields;
    }
    for (int i = 0; i < IndexDefs().Count(); ++i) {
      if (!IndexDefs().Items(i).Name.empty()) continue;
      IndexDefs().Items(i).Name = "idxPrimaryKey";
      break;
    }
  }
  try {
    CreateTable();
  } catch (...) {
    log += platform::Format("Error importing table. Cannot create table due to error: %s",
                            {MessageOf(std::current_exception())});
    log += kCrLf;
    return false;
  }
  Open();
  // The table opened here is closed on every way out.
  struct CloseAtEnd {
    TVEZTable& table;
    ~CloseAtEnd() {
      try {
        table.Close();
      } catch (...) {
        // The import's own outcome is the one to report.
      }
    }
  } close_at_end{*this};
  TVEZCursor& cursor = CheckHandle(10259);
  cursor.LockTableData();
  std::string local_log;
  try {
    InternalBeforeImport(*this);
    bool cont = true;
    CopyDataSetRecords(
        this, source_table, *this, local_log, cont, true, false,
        [this](platform::DataSet& sender, int percent, bool& c) {
          InternalOnImportProgress(sender, percent, c);
        },
        0, 100);
  } catch (...) {
    try {
      InternalAfterImport(*this);
    } catch (...) {
      // The copy's error is the one to report.
    }
    cursor.UnlockTableData();
    throw;
  }
  if (!local_log.empty()) {
    log +=
        platform::Format("Error importing table. Cannot copy data due to error: %s", {local_log});
    log += kCrLf;
  }
  const bool result = log == incoming;
  try {
    InternalAfterImport(*this);
  } catch (...) {
    cursor.UnlockTableData();
    throw;
  }
  cursor.UnlockTableData();
  return result;
}

bool TVEZTable::ExportTable(platform::DataSet& destination_table,
                            const std::function<void()>& create_table) {
  std::string log;
  return ExportTable(destination_table, create_table, log);
}

bool TVEZTable::ExportTable(platform::DataSet& destination_table,
                            const std::function<void()>& create_table, std::string& log) {
  Operation op(*this);
  Nested nested(*this);
  const std::string incoming = log;
  const bool was_open = Active();
  destination_table.Close();
  platform::TBookmark bookmark;
  if (was_open) bookmark = GetBookmark();
  Close();
  Open();
  CheckHandle(10262);
  // Puts the table back as it was on every way out.
  struct Restore {
    TVEZTable& table;
    bool was_open;
    platform::TBookmark& bookmark;
    ~Restore() {
      try {
        if (!was_open) {
          table.Close();
        } else if (!bookmark.empty() && table.Active() && table.BookmarkValid(bookmark)) {
          table.GotoBookmark(bookmark);
        }
      } catch (...) {
        // Failing to return to the record loses no data.
      }
    }
  } restore{*this, was_open, bookmark};

  if (auto* vez_dest = dynamic_cast<TVEZDataSet*>(&destination_table))
    vez_dest->AdvFieldDefs().Assign(AdvFieldDefs());
  else
    destination_table.FieldDefs().Assign(FieldDefs());
  try {
    if (create_table) create_table();
  } catch (...) {
    log += platform::Format("Error exporting table. Cannot create table due to error: %s",
                            {MessageOf(std::current_exception())});
    log += kCrLf;
    return false;
  }
  try {
    destination_table.Open();
    for (int i = 0; i < destination_table.FieldDefs().Count(); ++i)
      destination_table.FieldDefs().Items(i).Required = false;
    for (int i = 0; i < destination_table.FieldCount(); ++i)
      destination_table.Fields(i).Required = false;
  } catch (...) {
    log += platform::Format("Error exporting table. Cannot open destination table due to error: %s",
                            {MessageOf(std::current_exception())});
    log += kCrLf;
    return false;
  }
  TVEZCursor& cursor = CheckHandle(10262);
  cursor.LockTableData();
  std::string local_log;
  try {
    InternalBeforeExport(*this);
    bool cont = true;
    CopyDataSetRecords(
        this, *this, destination_table, local_log, cont, true, false,
        [this](platform::DataSet& sender, int percent, bool& c) {
          InternalOnExportProgress(sender, percent, c);
        },
        0, 100);
  } catch (...) {
    try {
      InternalAfterExport(*this);
    } catch (...) {
      // The copy's error is the one to report.
    }
    cursor.UnlockTableData();
    throw;
  }
  if (!local_log.empty()) {
    log +=
        platform::Format("Error exporting table. Cannot copy data due to error: %s", {local_log});
    log += kCrLf;
  }
  const bool result = log == incoming;
  try {
    InternalAfterExport(*this);
  } catch (...) {
    cursor.UnlockTableData();
    throw;
  }
  cursor.UnlockTableData();
  return result;
}

// ---------------------------------------------------------------------------
// Copy

bool TVEZTable::CopyTable(const std::string& new_table_name,
                          const std::string& dest_database_file_name,
                          const std::string& dest_database_password) {
  std::string log;
  bool cont = true;
  return CopyTable(new_table_name, log, cont, dest_database_file_name, dest_database_password,
                   false, false, true, 0, 100);
}

bool TVEZTable::CopyTable(const std::string& new_table_name, std::string& log, bool& cont,
                          const std::string& dest_database_file_name,
                          const std::string& dest_database_password, bool ignore_errors,
                          bool overwrite_existing_table, bool copy_indexes, int min_progress,
                          int max_progress) {
  Operation op(*this);
  Nested nested(*this);
  const bool was_open = Active();
  platform::TBookmark bookmark;
  if (was_open) {
    bookmark = GetBookmark();
    Close();
  }
  Open();

  const bool to_memory = dest_database_file_name == kMemoryDatabase;
  const bool to_own = dest_database_file_name.empty();
  std::unique_ptr<TVEZDatabase> made_database;
  // Declared after the database so it is freed first.
  std::unique_ptr<TVEZTable> new_table;
  bool result = false;
  struct Finish {
    TVEZTable& table;
    bool was_open;
    platform::TBookmark& bookmark;
    std::unique_ptr<TVEZTable>& new_table;
    ~Finish() {
      try {
        table.InternalAfterCopy(table);
      } catch (...) {
        // The copy's own outcome is the one to report.
      }
      try {
        if (new_table) new_table->Close();
        new_table.reset();
        if (!was_open) {
          table.Close();
        } else if (!bookmark.empty() && table.Active() && table.BookmarkValid(bookmark)) {
          table.GotoBookmark(bookmark);
        }
      } catch (...) {
        // Nothing stored depends on it.
      }
    }
  };

  TVEZDatabase* own_database = Database();
  std::string dest_file_text = dest_database_file_name;
  if (!to_own && !to_memory) {
    made_database = std::make_unique<TVEZDatabase>();
    try {
      made_database->SetDatabaseName(MakeUniqueName("TempDb"));
      made_database->SetDatabaseFileName(dest_database_file_name);
      made_database->SetPassword(dest_database_password);
      made_database->Open();
    } catch (...) {
      made_database.reset();
      if (!was_open) {
        Close();
      } else if (!bookmark.empty() && BookmarkValid(bookmark)) {
        GotoBookmark(bookmark);
      }
      if (!ignore_errors) throw;
      log += platform::Format(
          "Cannot open database '%s' to copy table '%s' into it: %s",
          {dest_database_file_name, TableName(), MessageOf(std::current_exception())});
      log += kCrLf;
      return false;
    }
  } else if (to_own && own_database != nullptr) {
    dest_file_text = own_database->DatabaseFileName();
  }
  Finish finish{*this, was_open, bookmark, new_table};
  {
    // A copy onto the table itself would delete or overwrite the source.
    // Within the own database without overwriting, the table is found to
    // exist below, as any other would be.
    const bool in_memory_database = platform::AnsiSameText(DatabaseName(), kMemoryDatabase);
    const bool same_file =
        ((to_own || (to_memory && in_memory_database)) && overwrite_existing_table) ||
        (made_database != nullptr && own_database != nullptr &&
         SameDatabaseFile(made_database->DatabaseFileName(), own_database->DatabaseFileName()));
    if (same_file && platform::AnsiSameText(new_table_name, TableName())) {
      const std::string text =
          platform::Format("Cannot copy table '%s.%s' into it self", {dest_file_text, TableName()});
      if (!ignore_errors) throw EVEZException(30447, text);
      log += text;
      return false;
    }
  }
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    const std::string& name = FieldDefs().Items(i).Name;
    if (FindField(name) == nullptr)
      throw EVEZException(20297,
                          "Cannot copy table \"%s\". Field object for field \"%s\" is not "
                          "created.",
                          {TableName(), name});
  }
  InternalBeforeCopy(*this);
  new_table = std::make_unique<TVEZTable>();
  new_table->SetTableName(new_table_name);
  if (to_own) {
    new_table->SetSessionName(GetSessionName());
    if (Temporary()) new_table->SetTemporary(true);
    new_table->SetDatabaseName(DatabaseName());
    if (InMemory()) new_table->SetInMemory(true);
  } else if (made_database != nullptr) {
    new_table->SetDatabaseName(made_database->DatabaseName());
  } else {
    new_table->SetDatabaseName(kMemoryDatabase);
  }
  new_table->AdvFieldDefs().Assign(RestructureFieldDefs());
  if (copy_indexes) new_table->AdvIndexDefs().Assign(RestructureIndexDefs(), true);
  const std::string dest_text = to_memory ? std::string(kMemoryDatabase) : dest_file_text;
  if (new_table->Exists()) {
    if (overwrite_existing_table) {
      new_table->DeleteTable();
    } else {
      const std::int32_t number = to_memory ? 10515 : 30448;
      const std::string text =
          platform::Format("Table '%s.%s' already exists", {dest_text, new_table_name});
      if (!ignore_errors) throw EVEZException(number, text);
      log += text;
      return false;
    }
  }
  try {
    new_table->CreateTable();
  } catch (...) {
    const std::string text =
        platform::Format("Create table '%s.%s' error: '%s'",
                         {dest_text, new_table_name, MessageOf(std::current_exception())});
    if (!ignore_errors) throw EVEZException(30450, text);
    log += text;
    return false;
  }
  new_table->Open();
  {
    // Rows go in batches of one commit each rather than one commit per row;
    // rows copied before a failure are kept, as they were row by row.
    RowBatch batch(new_table->CheckHandle(10259));
    std::vector<const platform::BlobField*> blobs;
    for (int i = 0; i < FieldCount(); ++i)
      if (const auto* blob = dynamic_cast<const platform::BlobField*>(&Fields(i)))
        blobs.push_back(blob);
    std::int64_t rows = 0;
    std::int64_t blob_bytes = 0;
    try {
      CopyDataSetRecords(
          this, *this, *new_table, log, cont, ignore_errors, false,
          [this](platform::DataSet& sender, int percent, bool& c) {
            InternalOnCopyProgress(sender, percent, c);
          },
          min_progress, max_progress,
          [&] {
            for (const platform::BlobField* blob : blobs) {
              try {
                blob_bytes += blob->BlobSize();
              } catch (...) {
                // An unreadable value was not copied either.
              }
            }
            if (++rows < kCopyRowsPerCommit && blob_bytes < kCopyBlobBytesPerCommit) return;
            batch.Flush();
            rows = 0;
            blob_bytes = 0;
          });
    } catch (...) {
      try {
        batch.Apply();
      } catch (...) {
        // The copy's error is the one to report.
      }
      throw;
    }
    batch.Apply();
  }
  new_table->Close();
  new_table.reset();
  result = true;
  return result;
}

// ---------------------------------------------------------------------------
// Restructure

bool TVEZTable::RestructureTable() {
  std::string log;
  return RestructureTable(log);
}

bool TVEZTable::RestructureTable(std::string& log) {
  Operation op(*this);
  Nested nested(*this);
  CheckInactive();
  bool cont = true;
  const std::string old_name = TableName();
  auto make_new_table = [&](const std::string& name) {
    auto table = std::make_unique<TVEZTable>();
    table->SetTableName(name);
    table->SetSessionName(GetSessionName());
    if (Temporary()) table->SetTemporary(true);
    table->SetDatabaseName(DatabaseName());
    if (InMemory()) table->SetInMemory(true);
    return table;
  };
  const std::string temporary_name = MakeUniqueName("OLD_" + old_name + "_");
  try {
    RenameTable(temporary_name);
  } catch (...) {
    // A rename whose write failed may still stand in the open file, to be
    // written by its next commit: the table then gets its name back now.
    const std::exception_ptr error = std::current_exception();
    try {
      if (!make_new_table(old_name)->Exists() && make_new_table(temporary_name)->Exists()) {
        SetTableName(temporary_name);
        RenameTable(old_name);
      }
    } catch (...) {
      // The rows stay under the temporary name, which the start-up check
      // lists; the first error is the one to report.
    }
    std::rethrow_exception(error);
  }

  // The partly built new table goes and the old one gets its name back.
  auto name_back = [&] {
    if (TableName() == old_name) return;
    if (Active()) Close();
    std::unique_ptr<TVEZTable> partial = make_new_table(old_name);
    if (partial->Exists()) partial->DeleteTable();
    RenameTable(old_name);
  };

  std::unique_ptr<TVEZTable> new_table;
  bool result = false;
  try {
    new_table = make_new_table(old_name);
    new_table->AdvFieldDefs().Assign(RestructureFieldDefs());
    new_table->AdvIndexDefs().Assign(RestructureIndexDefs());
    try {
      new_table->CreateTable();
    } catch (...) {
      log += platform::Format("Error restructuring table. Cannot create table due to error: %s",
                              {MessageOf(std::current_exception())});
      log += kCrLf;
      new_table.reset();
      name_back();
      return false;
    }
    new_table->Open();
    TVEZAdvFieldDefs requested;
    requested.Assign(RestructureFieldDefs());
    Open();
    RestructureFieldDefs().Assign(requested);

    InternalBeforeRestructure(*this);
    const bool was_filtered = Filtered();
    try {
      SetFiltered(false);
      RowBatch batch(new_table->CheckHandle(10259));
      result = CopyDataSetRecords(
          this, *this, *new_table, log, cont, false, true,
          [this](platform::DataSet& sender, int percent, bool& c) {
            InternalOnRestructureProgress(sender, percent, c);
          },
          0, 99);
      if (result) batch.Apply();
    } catch (...) {
      try {
        SetFiltered(was_filtered);
        InternalAfterRestructure(*this);
      } catch (...) {
        // The copy's error is the one to report.
      }
      throw;
    }
    SetFiltered(was_filtered);
    InternalAfterRestructure(*this);
    new_table->Close();
    Close();

    if (result) {
      // Every row is in the new table: from here the restructure stands,
      // and an old copy that cannot go stays under its own name.
      try {
        DeleteTable();
      } catch (...) {
        log += platform::Format("Error restructuring table. Cannot delete table due to error: %s",
                                {MessageOf(std::current_exception())});
        log += kCrLf;
      }
      new_table.reset();
      SetTableName(old_name);
      FieldDefs().SetUpdated(false);
      IndexDefs().SetUpdated(false);
      return true;
    }
    new_table->DeleteTable();
    new_table.reset();
    RenameTable(old_name);
    return false;
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    try {
      if (new_table) new_table->Close();
      new_table.reset();
      name_back();
    } catch (...) {
      // The old table keeps its temporary name (a leftover the start-up
      // check lists); the first error is the one to report.
    }
    std::rethrow_exception(error);
  }
}

}  // namespace vez
