#include "dbengine/storage/VEZDiskTableData.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "dbengine/foundation/VEZCompressedBLOBStream.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZTemporaryStream.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZDiskTablePagesCacheManager.h"
#include "dbengine/storage/VEZPageHeader.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZSessionLayerServices.h"
#include "dbengine/storage/VEZTableLockManager.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Invariant.h"

namespace vez {

using platform::CheckedAdd;
using platform::CheckedMul;

namespace {

constexpr std::int32_t kInternalSession = -2;
// Rows read ahead: few after a move that did not follow the last one, twice
// as many each time the rows before were all used, up to a bound that keeps
// the bracket (and ltS) short.
constexpr std::size_t kFirstReadAhead = 8;
constexpr std::size_t kMaxReadAhead = 128;

// Runs a step at scope end, swallowing what it raises (a finally block that
// must not hide the first error).
template <typename F>
class TFinally {
 public:
  explicit TFinally(F f) : FStep(std::move(f)) {}
  ~TFinally() {
    if (!FArmed) return;
    try {
      FStep();
    } catch (...) {
    }
  }
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;
  // Runs the step now, letting its error through.
  void Run() {
    FArmed = false;
    FStep();
  }

 private:
  F FStep;
  bool FArmed = true;
};

[[noreturn]] void RaiseInvalidHeader() {
  throw EVEZException(kErrMostUpdatedData, "Invalid table header data");
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and plumbing

TVEZDiskTableData::TVEZDiskTableData(TVEZDatabaseData* database_data)
    : TVEZTableData(database_data) {
  SetPageManager(database_data->PageManager());
}

TVEZDiskTableData::~TVEZDiskTableData() {
  // The index manager's temporary indexes live in the temporary page manager,
  // and the BLOB manager borrows the record and field managers.
  FIndexManager.reset();
  FBlobManager.reset();
  FTemporaryPageManager.reset();
}

TVEZDiskDatabaseData& TVEZDiskTableData::DiskDatabase() const {
  return static_cast<TVEZDiskDatabaseData&>(*FDatabaseData);
}

TVEZDiskPageManager& TVEZDiskTableData::DiskPageManager() const {
  auto* pm = static_cast<TVEZDiskPageManager*>(FPageManager);
  if (pm == nullptr) throw EVEZException(20176, "Pointer is nil");
  return *pm;
}

TVEZDiskTablePagesCacheManager& TVEZDiskTableData::PagesCache() const {
  return DiskPageManager().TablePagesCacheManager();
}

bool TVEZDiskTableData::MultiUser() const {
  return FDatabaseData->MultiUser();
}

TVEZDiskRecordManager* TVEZDiskTableData::DiskRecordManager() const {
  return static_cast<TVEZDiskRecordManager*>(FRecordManager.get());
}

std::int32_t TVEZDiskTableData::MetadataFilePageNo() const {
  return FTableMetadataFile != nullptr ? FTableMetadataFile->StartPageNo() : -1;
}

std::int32_t TVEZDiskTableData::MostUpdatedFilePageNo() const {
  return FTableMostUpdatedFile != nullptr ? FTableMostUpdatedFile->StartPageNo() : -1;
}

std::unique_ptr<TVEZBaseIndexManager> TVEZDiskTableData::NewIndexManager() {
  return std::make_unique<TVEZBaseIndexManager>(this, FTemporaryPageManager.get());
}

// ---------------------------------------------------------------------------
// Managers

std::int32_t TVEZDiskTableData::GetDiskRecordBufferSize() const {
  if (FFieldManager == nullptr || FFieldManager->FieldCount() == 0)
    throw EVEZException(20142, "Error creating table - no fields were specified");
  return FFieldManager->FieldDefs().GetDiskRecordBufferSize();
}

void TVEZDiskTableData::CreateRecordManager() {
  // The BLOB manager borrows the record manager: it goes first.
  FBlobManager.reset();
  FRecordManager.reset();
  auto manager =
      std::make_unique<TVEZDiskRecordManager>(FPageManager, FFieldManager.get(), FTableID);
  manager->Init(GetRecordBufferSize(), GetDiskRecordBufferSize(), FFieldManager->FieldCount());
  FRecordManager = std::move(manager);
}

void TVEZDiskTableData::CreateFieldManager(TVEZFieldDefs& field_defs) {
  FBlobManager.reset();
  FFieldManager.reset();
  TVEZTableData::CreateFieldManager(field_defs);
}

void TVEZDiskTableData::CreateIndexManager(TVEZIndexDefs& index_defs) {
  FIndexManager.reset();
  FTemporaryPageManager.reset();
  FTemporaryPageManager = std::make_unique<TVEZTemporaryPageManager>(FDisableTempFiles);
  TVEZTableData::CreateIndexManager(index_defs);
}

void TVEZDiskTableData::CreateConstraintManager(TVEZConstraintDefs& constraint_defs) {
  for (std::int32_t i = 0; i < constraint_defs.GetCount(); ++i) {
    const TVEZConstraintType type = constraint_defs.GetDef(i)->ConstraintType;
    if (type == ctFK || type > ctCheck) throw EVEZException(30040, "Not implemented yet");
  }
  FConstraintManager.reset();
  TVEZTableData::CreateConstraintManager(constraint_defs);
}

void TVEZDiskTableData::CreateBlobManager() {
  FBlobManager.reset();
  FBlobManager = std::make_unique<TVEZDiskBlobManager>(FPageManager, FFieldManager.get(),
                                                       FRecordManager.get());
}

void TVEZDiskTableData::FreeManagers() {
  ForgetLoadedState();
  FIndexManager.reset();
  FBlobManager.reset();
  FRecordManager.reset();
  FConstraintManager.reset();
  FTemporaryPageManager.reset();
  FFieldManager.reset();
}

void TVEZDiskTableData::ApplyChanges(std::int32_t session_id, bool in_transaction) {
  // A change under ltRW from its load to its commit (see FChangeWork) keeps
  // trusting the pages it checked or wrote, and the counters it stored.
  std::int32_t table_id = 0;
  std::int32_t from_state = 0;
  const bool own_change = FChangeWork && FChangeWorkSession == session_id && !in_transaction &&
                          PagesCache().GetWorkTableState(session_id, table_id, from_state) &&
                          table_id == FTableID;
  ForgetLoadedState();
  // The temporary indexes first: when the table's own apply fails after
  // them, the change's undo has them built again rather than cancel pages
  // they changed in place. A failure of their own apply puts their pages
  // back as they were, fails the change and cancels it.
  if (FTemporaryPageManager != nullptr) FTemporaryPageManager->ApplyChanges(session_id);
  TVEZTableData::ApplyChanges(session_id, in_transaction);
  if (!own_change) return;
  DiskPageManager().KeepStampsAfterOwnCommit(session_id, FTableID, from_state,
                                             FRecordManager->TableState);
  // With the write lock still held the file holds what the counters say,
  // and any later commit of the table changes the mark read now.
  TVEZFileChangeMark mark;
  if (DiskPageManager().ReadChangeMark(mark)) NoteLoadedState(session_id, mark);
}

void TVEZDiskTableData::CancelChanges(std::int32_t session_id, bool in_transaction) {
  ForgetLoadedState();
  TVEZTableData::CancelChanges(session_id, in_transaction);
  if (FTemporaryPageManager != nullptr) FTemporaryPageManager->CancelChanges(session_id);
}

// ---------------------------------------------------------------------------
// Internal files

void TVEZDiskTableData::CreateInternalFiles() {
  TVEZDiskPageManager* pm = &DiskPageManager();
  FTableLocksFile = std::make_unique<TVEZTableLocksFile>(pm);
  FTableMetadataFile =
      std::make_unique<TVEZInternalDBTransactedAccessFile>(pm, kPageTypeTableMetaData);
  FTableMostUpdatedFile =
      std::make_unique<TVEZInternalDBTransactedAccessFile>(pm, kPageTypeTableMostUpdated);
  FTableLocksFile->CreateFile(DiskDatabase().MaxSessionCount());
  FTableMetadataFile->CreateFile(kInternalSession);
  FTableMostUpdatedFile->CreateFile(kInternalSession);
}

void TVEZDiskTableData::OpenInternalFiles(std::int32_t metadata_file_page_no,
                                          std::int32_t most_updated_file_page_no,
                                          std::int32_t locks_file_page_no) {
  TVEZDiskPageManager* pm = &DiskPageManager();
  FTableLocksFile = std::make_unique<TVEZTableLocksFile>(pm);
  FTableMetadataFile =
      std::make_unique<TVEZInternalDBTransactedAccessFile>(pm, kPageTypeTableMetaData);
  FTableMostUpdatedFile =
      std::make_unique<TVEZInternalDBTransactedAccessFile>(pm, kPageTypeTableMostUpdated);
  FTableLocksFile->OpenFile(locks_file_page_no);
  FTableMetadataFile->OpenFile(metadata_file_page_no);
  FTableMostUpdatedFile->OpenFile(most_updated_file_page_no);
}

void TVEZDiskTableData::DeleteInternalFiles() {
  if (FTableLocksFile != nullptr) FTableLocksFile->DeleteFile();
  if (FTableMetadataFile != nullptr) FTableMetadataFile->DeleteFile(kInternalSession, -1);
  if (FTableMostUpdatedFile != nullptr) FTableMostUpdatedFile->DeleteFile(kInternalSession, -1);
}

void TVEZDiskTableData::FreeInternalFiles() {
  FTableLocksFile.reset();
  FTableMetadataFile.reset();
  FTableMostUpdatedFile.reset();
}

// ---------------------------------------------------------------------------
// Metadata and most-updated state

void TVEZDiskTableData::SaveTableMetadata(std::int32_t session_id) {
  TVEZMemoryStream stream;
  FFieldManager->SaveMetadata(stream);
  FIndexManager->SaveMetadata(stream);
  FConstraintManager->SaveMetadata(stream);
  DiskRecordManager()->SaveMetadata(stream);
  FBlobManager->SaveMetadata(stream);
  FTableMetadataFile->WriteFile(session_id, stream.Buffer(),
                                platform::CheckedCast<std::int32_t>(stream.Size()), acaZLIB, 1);
}

void TVEZDiskTableData::LoadTableMetadata(std::int32_t session_id) {
  std::int32_t stored = 0;
  std::int32_t unused_size = 0;
  TVEZCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  FTableMetadataFile->GetFileSize(session_id, stored, unused_size, algorithm, changed, true);
  // Metadata is written zlib-compressed (an empty file uncompressed): any other
  // algorithm is damage, whose bound would be no bound.
  if (algorithm != acaZLIB && !(algorithm == acaNone && stored == 0))
    throw EVEZException(30388, "Cannot Read internal file. FileSize=%d. ReadSize=%d. FileSize=%d",
                        {stored, unused_size, stored});
  // A damaged head must not make us allocate what the file's own pages
  // cannot expand to: checked before anything is allocated.
  const std::int32_t size = FTableMetadataFile->GetCheckedSize(session_id);
  TVEZMemoryStream stream;
  stream.SetSize(size);
  if (size > 0) FTableMetadataFile->ReadFile(session_id, stream.Buffer(), size, true);
  stream.SetPosition(0);
  FFieldManager->LoadMetadata(stream);
  FIndexManager->LoadMetadata(stream);
  FConstraintManager->LoadMetadata(stream);
  DiskRecordManager()->LoadMetadata(stream);
  FBlobManager->LoadMetadata(stream);
}

std::int32_t TVEZDiskTableData::EncodeMostUpdated(std::vector<std::uint8_t>& buffer) const {
  const std::int32_t n = FFieldManager->FieldCount();
  const std::int32_t allocated = CheckedMul<std::int32_t>(32, CheckedAdd<std::int32_t>(n, 1));
  buffer.assign(static_cast<std::size_t>(allocated), 0);
  std::int32_t offset = 0;
  FFieldManager->SaveMostUpdated(buffer.data(), allocated, offset);
  DiskRecordManager()->SaveMostUpdated(buffer.data(), allocated, offset);
  if (offset > allocated) RaiseInvalidHeader();
  return offset;
}

void TVEZDiskTableData::SaveTableMostUpdated(std::int32_t session_id) {
  RVX_INVARIANT(IsLockHeld(), "the most-updated state is written under the database lock");
  ForgetLoadedState();
  const std::int32_t size = EncodeMostUpdated(FMostUpdatedScratch);
  FTableMostUpdatedFile->WriteFile(session_id, FMostUpdatedScratch.data(), size, acaNone, 0);
  FLastUsedTableState = FRecordManager->TableState;
}

bool TVEZDiskTableData::LoadedStateHolds(std::int32_t session_id, TVEZFileChangeMark& mark,
                                         bool& marked) {
  marked = MultiUser() && DiskPageManager().ReadChangeMark(mark);
  if (!marked || !FLoadedStateValid || FLoadedStateSession != session_id ||
      !(FLoadedStateMark == mark))
    return false;
  // Whatever changed the counters since (an autoincrement handed out for a
  // post that then failed, say) makes them differ from the block loaded.
  const std::int32_t size = EncodeMostUpdated(FMostUpdatedScratch);
  return static_cast<std::size_t>(size) == FLoadedBlock.size() &&
         std::equal(FLoadedBlock.begin(), FLoadedBlock.end(), FMostUpdatedScratch.begin());
}

void TVEZDiskTableData::NoteLoadedState(std::int32_t session_id, const TVEZFileChangeMark& mark) {
  const std::int32_t size = EncodeMostUpdated(FLoadedBlock);
  FLoadedBlock.resize(static_cast<std::size_t>(size));
  FLoadedStateValid = true;
  FLoadedStateSession = session_id;
  FLoadedStateMark = mark;
}

void TVEZDiskTableData::LoadMostUpdated(std::int32_t session_id) {
  RVX_INVARIANT(IsLockHeld(), "the most-updated state is read under the database lock");
  if (FTableMostUpdatedFile == nullptr || FFieldManager == nullptr || FRecordManager == nullptr)
    throw EVEZException(20176, "Pointer is nil");
  // The mark is read before the load: a commit under way or later changes
  // it, so the state loaded below is never older than the mark says.
  TVEZFileChangeMark mark;
  bool marked = false;
  if (LoadedStateHolds(session_id, mark, marked)) {
    PagesCache().SetIsMostUpdatedLoaded(session_id, FTableID, FLastUsedTableState);
    return;
  }
  ForgetLoadedState();
  // Another process may have died mid-commit since this one last looked.
  if (MultiUser()) DiskPageManager().RecoverFromJournal();
  TVEZDiskTablePagesCacheManager& cache = PagesCache();
  const bool loaded = cache.GetIsMostUpdatedLoaded(session_id, FTableID);
  std::int32_t stored = 0;
  std::int32_t size = 0;
  TVEZCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  FTableMostUpdatedFile->GetFileSize(session_id, stored, size, algorithm, changed, !loaded);
  // The block has exactly one shape for this table; any other size is
  // damage, found before anything is allocated or read.
  const std::int32_t n = FFieldManager->FieldCount();
  const std::int64_t expected = 4 + 8 * std::int64_t{n} + 8;
  if (algorithm != acaNone || stored != size || size != expected) RaiseInvalidHeader();
  // Read into the scratch block the encoder uses: no allocation per load.
  std::vector<std::uint8_t>& buffer = FMostUpdatedScratch;
  buffer.resize(static_cast<std::size_t>(size));
  FTableMostUpdatedFile->ReadFile(session_id, buffer.data(), size, changed);
  // A block written for another field layout would set the wrong counters.
  if (GetLE<std::int32_t>(buffer.data()) != n) RaiseInvalidHeader();
  if (GetLE<std::int32_t>(buffer.data() + size - 4) < 0) RaiseInvalidHeader();
  std::int32_t offset = 0;
  FFieldManager->LoadMostUpdated(buffer.data(), size, offset);
  DiskRecordManager()->LoadMostUpdated(buffer.data(), size, offset);
  FLastUsedTableState = FRecordManager->TableState;
  cache.SetIsMostUpdatedLoaded(session_id, FTableID, FLastUsedTableState);
  if (marked) NoteLoadedState(session_id, mark);
}

void TVEZDiskTableData::InitTableMostUpdated(std::int32_t session_id) {
  FTableMostUpdatedFile->InitFileHeader(session_id);
}

void TVEZDiskTableData::RepairRecordPageIndex(std::int32_t session_id) {
  if (GetDiskRecordBufferSize() >= FPageManager->PageDataSize()) {
    throw EVEZException(10512, "Cannot repair page index for large table. Table name: \"%s\"",
                        {FTableName});
  }
  DiskRecordManager()->RebuildRecordPageIndex(session_id);
}

void TVEZDiskTableData::LoadMostUpdatedOrRepair(TVEZCursor& cursor) {
  const std::int32_t session_id = SessionIDOf(&cursor);
  try {
    LoadMostUpdated(session_id);
    DiskRecordManager()->ValidateRecordPageIndex(session_id);
    return;
  } catch (const std::exception& e) {
    // Damage is repaired below: the index and the counts are rebuilt from the
    // pages. Anything else would make the rebuild fail too, or rewrite a
    // sound table from what a failing read let through.
    if (!IsStoredDataDamage(e)) throw;
  }
  RepairRecordPageIndex(session_id);
  SaveTableMetadata(session_id);
  InitTableMostUpdated(session_id);
  SaveTableMostUpdated(session_id);
  ApplyChanges(session_id, false);
}

void TVEZDiskTableData::UndoFailedChange(TVEZCursor& cursor) noexcept {
  const std::int32_t session_id = SessionIDOf(&cursor);
  try {
    CancelChanges(session_id, InTransaction(&cursor));
  } catch (...) {
  }
  try {
    LoadMostUpdated(session_id);
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------
// Table operations

void TVEZDiskTableData::CreateTable(TVEZCursor* cursor, TVEZFieldDefs& field_defs,
                                    TVEZIndexDefs& index_defs,
                                    TVEZConstraintDefs& constraint_defs) {
  TVEZLockGuard guard(*this);
  if (field_defs.GetCount() < 1)
    throw EVEZException(20128, "Error creating table - no fields were specified");
  if (cursor != nullptr) {
    FTableName = cursor->TableName;
    FDisableTempFiles = cursor->FDisableTempFiles;
  }
  FTableID = FDatabaseData->GetNewObjectId();
  TVEZDiskDatabaseData& database = DiskDatabase();
  database.LockTables();
  TFinally unlock_tables([&] { database.UnlockTables(); });
  try {
    CreateInternalFiles();
    TFinally free_files([&] { FreeInternalFiles(); });
    CreateFieldManager(field_defs);
    CreateIndexManager(index_defs);
    CreateConstraintManager(constraint_defs);
    CreateRecordManager();
    CreateBlobManager();
    SaveTableMostUpdated(kInternalSession);
    DiskRecordManager()->CreateRecordPageIndex();
    if (FFieldManager->BlobFieldsPresent()) FBlobManager->CreateBlobPageIndex();
    FIndexManager->CreateIndexesByIndexDefs(nullptr);
    SaveTableMetadata(kInternalSession);
    database.AddTableToList(FTableID, FTableName, FTableMetadataFile->StartPageNo(),
                            FTableMostUpdatedFile->StartPageNo(), FTableLocksFile->StartPageNo());
    free_files.Run();
    FPageManager->ApplyChanges(kInternalSession);
  } catch (...) {
    FPageManager->CancelChanges(kInternalSession);
    // No half-built table stays behind in memory either.
    FreeManagers();
    throw;
  }
  unlock_tables.Run();
}

void TVEZDiskTableData::OpenTable(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  TVEZDiskDatabaseData& database = DiskDatabase();
  const bool take_tables_lock = !FIsChangingTableList;
  if (take_tables_lock) database.LockTables();
  TFinally unlock_tables([&] {
    if (take_tables_lock) database.UnlockTables();
  });
  if (!FCursorList.empty() && cursor.Exclusive && !FExclusive) {
    throw EVEZException(
        20242, "Cannot access table '%s' in exclusive mode. Table is open by another cursors",
        {FTableName});
  }
  const std::int32_t session_id = SessionIDOf(&cursor);
  const bool first = FCursorList.empty();
  if (first) {
    try {
      FDisableTempFiles = cursor.FDisableTempFiles;
      std::int32_t metadata_page = 0;
      std::int32_t most_updated_page = 0;
      std::int32_t locks_page = 0;
      database.FindTableInList(FTableName, FTableID, metadata_page, most_updated_page, locks_page);
      OpenInternalFiles(metadata_page, most_updated_page, locks_page);
      FFieldManager = std::make_unique<TVEZBaseFieldManager>(this);
      FTemporaryPageManager = std::make_unique<TVEZTemporaryPageManager>(FDisableTempFiles);
      FIndexManager = NewIndexManager();
      FConstraintManager = std::make_unique<TVEZBaseConstraintManager>(this);
      FRecordManager =
          std::make_unique<TVEZDiskRecordManager>(FPageManager, FFieldManager.get(), FTableID);
      CreateBlobManager();
      LoadTableMetadata(session_id);
      DiskRecordManager()->Init(GetRecordBufferSize(), GetDiskRecordBufferSize(),
                                FFieldManager->FieldCount());
      if (IsRepairing())
        LoadMostUpdatedOrRepair(cursor);
      else
        LoadMostUpdated(session_id);
      FExclusive = cursor.Exclusive;
    } catch (...) {
      // A table that could not be loaded is left closed, not half open.
      FreeManagers();
      FreeInternalFiles();
      throw;
    }
  }
  FCursorList.push_back(&cursor);
  const TVEZLockType lock_type = cursor.Exclusive ? ltX : ltIS;
  bool locked = false;
  try {
    locked = LockTable(session_id, lock_type, kOpenLockTryCount, kOpenLockDelayMS, true);
  } catch (...) {
    CloseTable(cursor);
    throw;
  }
  if (!locked) {
    // The cursor is not open: it leaves the list (and a first cursor takes
    // the loaded table with it).
    CloseTable(cursor);
    if (lock_type == ltX) {
      throw EVEZException(
          20208, "Cannot access table '%s' in exclusive mode. Table is open by another user",
          {FTableName});
    }
    throw EVEZException(20209, "Cannot open table '%s'. Table is locked", {FTableName});
  }
  cursor.TableLockedByCursor = true;
  unlock_tables.Run();
}

void TVEZDiskTableData::CloseTable(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  // The address may serve another cursor next.
  FReadAhead.erase(&cursor);
  auto it = std::find(FCursorList.begin(), FCursorList.end(), &cursor);
  const bool listed = it != FCursorList.end();
  if (listed && FTableLocksFile != nullptr && cursor.TableLockedByCursor) {
    UnlockTable(SessionIDOf(&cursor), cursor.Exclusive ? ltX : ltIS, false);
    cursor.TableLockedByCursor = false;
  }
  if (listed) FCursorList.erase(it);
  if (FCursorList.empty()) {
    FreeManagers();
    FCursorList.clear();
    FCursorList.shrink_to_fit();
    FreeInternalFiles();
    FExclusive = false;
  }
}

void TVEZDiskTableData::DeleteTable(TVEZCursor* cursor, bool design_mode) {
  TVEZLockGuard guard(*this);
  TVEZTableData::DeleteTable(cursor, design_mode);
  if (cursor == nullptr) throw EVEZException(20176, "Pointer is nil");
  TVEZDiskDatabaseData& database = DiskDatabase();
  database.LockTables();
  FIsChangingTableList = true;
  const bool was_exclusive = cursor->Exclusive;
  cursor->Exclusive = true;
  TFinally restore([&] {
    FIsChangingTableList = false;
    cursor->Exclusive = was_exclusive;
    database.UnlockTables();
  });
  OpenTable(*cursor);
  {
    // The table leaves the catalogue, and that is written, even when a step
    // of giving its pages back fails.
    TFinally leave_catalogue([&] {
      CloseTable(*cursor);
      database.RemoveTableFromList(FTableName);
      FPageManager->ApplyChanges(kInternalSession);
    });
    DeleteAllIndexes(nullptr);
    FBlobManager->Delete(kInternalSession);
    DiskRecordManager()->Delete(kInternalSession);
    UnlockTable(SessionIDOf(cursor), ltX, false);
    cursor->TableLockedByCursor = false;
    DeleteInternalFiles();
    FreeInternalFiles();
    leave_catalogue.Run();
  }
  restore.Run();
}

void TVEZDiskTableData::EmptyTable(TVEZCursor* cursor) {
  TVEZLockGuard guard(*this);
  if (cursor == nullptr) throw EVEZException(20176, "Pointer is nil");
  const bool was_exclusive = cursor->Exclusive;
  cursor->Exclusive = true;
  TFinally restore([&] { cursor->Exclusive = was_exclusive; });
  OpenTable(*cursor);
  TFinally close([&] { CloseTable(*cursor); });
  const std::int32_t session_id = SessionIDOf(cursor);
  try {
    TVEZTableData::EmptyTable(cursor);
    FBlobManager->Empty(session_id);
    FRecordManager->Empty(session_id);
    SaveTableMostUpdated(session_id);
    ApplyChanges(session_id, InTransaction(cursor));
  } catch (...) {
    UndoFailedChange(*cursor);
    throw;
  }
  close.Run();
  restore.Run();
}

void TVEZDiskTableData::RenameTable(const std::string& new_table_name, TVEZCursor* cursor) {
  TVEZLockGuard guard(*this);
  if (cursor == nullptr) throw EVEZException(20176, "Pointer is nil");
  TVEZDiskDatabaseData& database = DiskDatabase();
  database.LockTables();
  const bool was_exclusive = cursor->Exclusive;
  cursor->Exclusive = true;
  TFinally restore([&] {
    cursor->Exclusive = was_exclusive;
    database.UnlockTables();
  });
  {
    FIsChangingTableList = true;
    TFinally clear_flag([&] { FIsChangingTableList = false; });
    OpenTable(*cursor);
    CloseTable(*cursor);
  }
  database.RenameTableInList(FTableName, new_table_name);
  FPageManager->ApplyChanges(kInternalSession);
  restore.Run();
}

void TVEZDiskTableData::RenameField(const std::string& field_name,
                                    const std::string& new_field_name) {
  TVEZLockGuard guard(*this);
  TVEZTableData::RenameField(field_name, new_field_name);
  try {
    SaveTableMetadata(kInternalSession);
    FPageManager->ApplyChanges(kInternalSession);
  } catch (...) {
    FPageManager->CancelChanges(kInternalSession);
    throw;
  }
}

void TVEZDiskTableData::AddIndex(TVEZIndexDef& index_def, TVEZCursor* cursor) {
  TVEZLockGuard guard(*this);
  const std::int32_t session_id = SessionIDOf(cursor);
  const bool in_transaction = InTransaction(cursor);
  const std::int32_t defs_before = FIndexManager->IndexDefs().GetCount();
  try {
    TVEZTableData::AddIndex(index_def, cursor);
    SaveTableMetadata(session_id);
    ApplyChanges(session_id, in_transaction);
  } catch (...) {
    // The index is not stored: it leaves the managers too, else their defs
    // would name pages the file never got.
    if (FIndexManager->IndexDefs().GetCount() > defs_before) UndoAddedIndex(index_def, cursor);
    try {
      CancelChanges(session_id, in_transaction);
    } catch (...) {
    }
    throw;
  }
}

void TVEZDiskTableData::UndoAddedIndex(TVEZIndexDef& index_def, TVEZCursor* cursor) noexcept {
  const std::int32_t index_id = index_def.ObjectID;
  try {
    TVEZTableData::DeleteIndex(index_id, cursor);
  } catch (...) {
    // Its pages go with the cancelled changes; the def must go in any case.
    try {
      if (FConstraintManager != nullptr) FConstraintManager->DeleteConstraintForIndexID(index_id);
      FIndexManager->CloseIndex(index_id);
      const std::int32_t no = FIndexManager->IndexDefs().GetDefNumberByObjectId(index_id);
      if (no >= 0) FIndexManager->IndexDefs().Delete(no);
    } catch (...) {
    }
  }
  // In a transaction the metadata written so far stays with it: it is
  // written again without the index, as the commit is to store it.
  try {
    if (InTransaction(cursor) && !index_def.Temporary) SaveTableMetadata(SessionIDOf(cursor));
  } catch (...) {
  }
}

void TVEZDiskTableData::DeleteIndex(std::int32_t index_id, TVEZCursor* cursor) {
  TVEZLockGuard guard(*this);
  const auto* def =
      FIndexManager != nullptr
          ? static_cast<const TVEZIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(index_id))
          : nullptr;
  const bool temporary = def != nullptr && def->Temporary;
  TVEZTableData::DeleteIndex(index_id, cursor);
  if (cursor == nullptr) return;
  const std::int32_t session_id = SessionIDOf(cursor);
  if (!temporary) SaveTableMetadata(session_id);
  ApplyChanges(session_id, InTransaction(cursor));
}

// ---------------------------------------------------------------------------
// Record numbering of record bitmaps

std::int64_t TVEZDiskTableData::GetApproximateRecordCount(std::int32_t session_id) {
  TVEZDiskRecordManager* records = DiskRecordManager();
  if (records == nullptr) return 1;
  std::int32_t last_page = -1;
  if (!records->RecordPageIndex().GetLastRecordPage(session_id, last_page) || last_page < 0)
    return 1;
  return (std::int64_t{last_page} + 1) * records->MaxRecordsOnPage();
}

std::int64_t TVEZDiskTableData::RecordIDToApproximateRecNo(TVEZPageItemID record_id) {
  const std::int64_t per_page = DiskRecordManager()->MaxRecordsOnPage();
  return std::int64_t{record_id.PageNo} * per_page + record_id.PageItemNo;
}

TVEZPageItemID TVEZDiskTableData::ApproximateRecNoToRecordID(std::int64_t value) {
  const std::int64_t per_page = DiskRecordManager()->MaxRecordsOnPage();
  TVEZPageItemID id;
  if (per_page <= 0) return id;
  id.PageNo = static_cast<std::int32_t>(value / per_page);
  id.PageItemNo = static_cast<std::uint16_t>(value % per_page);
  return id;
}

// ---------------------------------------------------------------------------
// Locks

bool TVEZDiskTableData::LockTable(std::int32_t session_id, TVEZLockType lock_type,
                                  std::int32_t try_count, std::int32_t delay,
                                  bool allow_xirw_after_sirw) {
  RVX_INVARIANT(IsLockHeld(), "table locks are taken under the database lock");
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) throw EVEZException(20176, "Pointer is nil");
  TVEZDatabaseTableLockManager* manager = DiskDatabase().TableLockManager();
  if (manager == nullptr) throw EVEZException(20176, "Pointer is nil");
  if (!manager->LockTable(session_id, lock_type, *FTableLocksFile, try_count, delay,
                          allow_xirw_after_sirw))
    return false;
  if (lock_type == ltS) PagesCache().TableIsSLocked(session_id, FTableID);
  if (lock_type == ltRW) PagesCache().TableIsRWLocked(session_id, FTableID);
  return true;
}

bool TVEZDiskTableData::UnlockTable(std::int32_t session_id, TVEZLockType lock_type,
                                    bool ignore_if_no_lock) {
  RVX_INVARIANT(IsLockHeld(), "table locks are given back under the database lock");
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) throw EVEZException(20176, "Pointer is nil");
  TVEZDatabaseTableLockManager* manager = DiskDatabase().TableLockManager();
  if (manager == nullptr) throw EVEZException(20176, "Pointer is nil");
  if (!manager->UnlockTable(session_id, lock_type, *FTableLocksFile, ignore_if_no_lock, false))
    return false;
  if (lock_type == ltS) PagesCache().TableIsSUnlocked(session_id, FTableID);
  if (lock_type == ltRW) PagesCache().TableIsRWUnlocked(session_id, FTableID);
  return true;
}

bool TVEZDiskTableData::LockRecord(std::int32_t session_id, TVEZPageItemID record_id,
                                   std::int32_t try_count, std::int32_t delay) {
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) throw EVEZException(20176, "Pointer is nil");
  return DiskDatabase().TableLockManager()->LockRecord(session_id, *FTableLocksFile, record_id,
                                                       try_count, delay);
}

bool TVEZDiskTableData::UnlockRecord(std::int32_t session_id, TVEZPageItemID record_id) {
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) throw EVEZException(20176, "Pointer is nil");
  return DiskDatabase().TableLockManager()->UnlockRecord(session_id, *FTableLocksFile, record_id);
}

bool TVEZDiskTableData::IsRecordLocked(std::int32_t session_id, TVEZPageItemID record_id) {
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) throw EVEZException(20176, "Pointer is nil");
  return DiskDatabase().TableLockManager()->IsRecordLocked(session_id, *FTableLocksFile, record_id);
}

// ---------------------------------------------------------------------------
// Reads

template <typename R, typename F>
R TVEZDiskTableData::ReadBracket(TVEZCursor& cursor, std::int32_t lock_error, bool begin_work,
                                 bool synchronize, F&& read) {
  TVEZLockGuard guard(*this);
  const std::int32_t session_id = SessionIDOf(&cursor);
  if (!LockTable(session_id, ltS, kReadLockTryCount, kReadLockDelayMS, true)) {
    if constexpr (std::is_same_v<R, TVEZGetRecordResult>) {
      if (lock_error == 0) return grrError;
    }
    throw EVEZException(lock_error, "Table is locked");
  }
  bool working = false;
  TFinally unlock([&] {
    if (working) PagesCache().EndWorkWithTable(session_id, FTableID);
    UnlockTable(session_id, ltS, false);
  });
  LoadMostUpdated(session_id);
  if (begin_work) {
    PagesCache().BeginWorkWithTable(session_id, FTableID);
    working = true;
  }
  if (synchronize) {
    bool changed = false;
    FIndexManager->SynchronizeTemporaryIndexes(&cursor, changed);
    if (changed) FTemporaryPageManager->ApplyChanges(session_id);
  }
  R result = read();
  unlock.Run();
  return result;
}

TVEZGetRecordResult TVEZDiskTableData::GetRecordBuffer(TVEZCursor& cursor, TVEZGetRecordMode mode) {
  if (!MultiUser()) return TVEZTableData::GetRecordBuffer(cursor, mode);
  {
    TVEZLockGuard guard(*this);
    if (MoveFromReadAhead(cursor, mode)) return grrOK;
  }
  return ReadBracket<TVEZGetRecordResult>(cursor, 0, true, true, [&] {
    const TVEZGetRecordResult result = TVEZTableData::GetRecordBuffer(cursor, mode);
    if (result == grrOK && mode != grmCurrent) ReadAhead(cursor, mode);
    return result;
  });
}

void TVEZDiskTableData::ForgetLoadedState() {
  FLoadedStateValid = false;
  for (auto& [cursor, rows] : FReadAhead) {
    rows.RecordIDs.clear();
    rows.Next = 0;
  }
}

void TVEZDiskTableData::ReadAhead(TVEZCursor& cursor, TVEZGetRecordMode mode) noexcept {
  try {
    const std::int32_t session_id = SessionIDOf(&cursor);
    // Rows of a restricted view are judged per move, and BLOB caches in a
    // record buffer cannot be copied.
    if (!FLoadedStateValid || FLoadedStateSession != session_id || cursor.IsViewRestricted() ||
        cursor.CurrentRecordBuffer == nullptr || FFieldManager->BlobFieldsPresent()) {
      FReadAhead.erase(&cursor);
      return;
    }
    TReadAhead& rows = FReadAhead[&cursor];
    const bool used_up =
        !rows.RecordIDs.empty() && rows.Next >= rows.RecordIDs.size() && rows.Mode == mode;
    rows.Depth = used_up ? std::min(kMaxReadAhead, rows.Depth * 2) : kFirstReadAhead;
    rows.SessionID = session_id;
    rows.Mark = FLoadedStateMark;
    rows.Mode = mode;
    rows.IndexID = cursor.IndexID;
    rows.AtRecordID = cursor.CurrentRecordID;
    rows.AtFirst = cursor.FirstPosition;
    rows.AtLast = cursor.LastPosition;
    rows.RecordSize = GetRecordBufferSize();
    rows.RecordIDs.clear();
    rows.Next = 0;
    const auto size = static_cast<std::size_t>(rows.RecordSize);
    rows.Records.resize(rows.Depth * size);
    TVEZNavigationInfo info;
    info.GetRecordMode = mode;
    info.IndexID = cursor.IndexID;
    info.RecordID = cursor.CurrentRecordID;
    info.FirstPosition = cursor.FirstPosition;
    info.LastPosition = cursor.LastPosition;
    const std::uint8_t* previous = cursor.CurrentRecordBuffer;
    // The rows come from a few pages in turn (an index leaf, a record page):
    // they stay pinned over the run instead of being looked up for each row.
    struct TReadHold {
      TVEZPageManager& pages;
      ~TReadHold() { pages.EndReadHold(); }
    } hold{*FPageManager};
    FPageManager->BeginReadHold(session_id);
    for (std::size_t k = 0; k < rows.Depth; ++k) {
      // Each step starts from the record before it, as the cursor would.
      std::uint8_t* row = rows.Records.data() + k * size;
      std::memcpy(row, previous, size);
      info.RecordBuffer = row;
      info.GetRecordResult = grrOK;
      ReadRecord(session_id, info, FRecordManager->TableState, cursor.IndexPositionCache());
      if (info.GetRecordResult != grrOK) break;
      rows.RecordIDs.push_back(info.RecordID);
      previous = row;
    }
  } catch (...) {
    // The move itself succeeded; the next one reads the file as usual.
    FReadAhead.erase(&cursor);
  }
}

bool TVEZDiskTableData::MoveFromReadAhead(TVEZCursor& cursor, TVEZGetRecordMode mode) {
  const auto it = FReadAhead.find(&cursor);
  if (it == FReadAhead.end()) return false;
  TReadAhead& rows = it->second;
  if (rows.Next >= rows.RecordIDs.size() || mode != rows.Mode || cursor.IndexID != rows.IndexID ||
      !(cursor.CurrentRecordID == rows.AtRecordID) || cursor.FirstPosition != rows.AtFirst ||
      cursor.LastPosition != rows.AtLast || cursor.IsViewRestricted() ||
      cursor.CurrentRecordBuffer == nullptr || SessionIDOf(&cursor) != rows.SessionID)
    return false;
  // The rows hold while nothing here changed (the loaded state is still that
  // of their bracket) and no commit reached the file since.
  TVEZFileChangeMark mark;
  if (!FLoadedStateValid || FLoadedStateSession != rows.SessionID ||
      !(FLoadedStateMark == rows.Mark) || !DiskPageManager().ReadChangeMark(mark) ||
      !(mark == rows.Mark))
    return false;
  const TVEZPageItemID id = rows.RecordIDs[rows.Next];
  const auto size = static_cast<std::size_t>(rows.RecordSize);
  std::memcpy(cursor.CurrentRecordBuffer, rows.Records.data() + rows.Next * size, size);
  ++rows.Next;
  cursor.DistinctRecordBuffer = nullptr;
  cursor.CurrentRecordID = id;
  cursor.FirstPosition = false;
  cursor.LastPosition = false;
  rows.AtRecordID = id;
  rows.AtFirst = false;
  rows.AtLast = false;
  return true;
}

bool TVEZDiskTableData::Locate(TVEZCursor& cursor, TVEZBaseExpression* search_expression) {
  if (!MultiUser()) return TVEZTableData::Locate(cursor, search_expression);
  return ReadBracket<bool>(cursor, 20214, true, true,
                           [&] { return TVEZTableData::Locate(cursor, search_expression); });
}

bool TVEZDiskTableData::FindKey(TVEZCursor& cursor, TVEZSearchCondition search_condition) {
  if (!MultiUser()) return TVEZTableData::FindKey(cursor, search_condition);
  return ReadBracket<bool>(cursor, 20215, true, true,
                           [&] { return TVEZTableData::FindKey(cursor, search_condition); });
}

void TVEZDiskTableData::SetRecNo(TVEZCursor& cursor, std::int64_t rec_no) {
  if (!MultiUser()) {
    TVEZTableData::SetRecNo(cursor, rec_no);
    return;
  }
  ReadBracket<bool>(cursor, 20216, true, true, [&] {
    TVEZTableData::SetRecNo(cursor, rec_no);
    return true;
  });
}

std::int64_t TVEZDiskTableData::GetRecNo(TVEZCursor& cursor) {
  if (!MultiUser()) return TVEZTableData::GetRecNo(cursor);
  return ReadBracket<std::int64_t>(cursor, 20217, true, true,
                                   [&] { return TVEZTableData::GetRecNo(cursor); });
}

std::int64_t TVEZDiskTableData::GetRecordCount(TVEZCursor& cursor) {
  if (!MultiUser() || !cursor.IsViewRestricted()) return TVEZTableData::GetRecordCount(cursor);
  return ReadBracket<std::int64_t>(cursor, 20218, true, true,
                                   [&] { return TVEZTableData::GetRecordCount(cursor); });
}

void TVEZDiskTableData::InternalSetRecNo(TVEZCursor& cursor, std::int64_t rec_no) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(20176, "Pointer is nil");
  const auto set = [&] {
    DiskRecordManager()->SetRecNo(SessionIDOf(&cursor), rec_no, cursor.CurrentRecordID);
    return true;
  };
  if (!MultiUser()) {
    set();
    return;
  }
  ReadBracket<bool>(cursor, 20219, true, false, set);
}

std::int64_t TVEZDiskTableData::InternalGetRecNo(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(20176, "Pointer is nil");
  const auto get = [&] {
    return DiskRecordManager()->GetRecNo(SessionIDOf(&cursor), cursor.CurrentRecordID);
  };
  if (!MultiUser()) return get();
  return ReadBracket<std::int64_t>(cursor, 20220, true, false, get);
}

std::int64_t TVEZDiskTableData::InternalGetRecordCount(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(20176, "Pointer is nil");
  if (!MultiUser()) return FRecordManager->RecordCount;
  return ReadBracket<std::int64_t>(cursor, 20218, false, false,
                                   [&] { return FRecordManager->RecordCount; });
}

std::int64_t TVEZDiskTableData::LastAutoincValue(std::int32_t field_no, TVEZBaseSession* session) {
  if (FFieldManager == nullptr) throw EVEZException(20176, "Pointer is nil");
  return FFieldManager->GetLastAutoinc(session, field_no);
}

// ---------------------------------------------------------------------------
// Record changes

bool TVEZDiskTableData::CanChangeRecord(TVEZCursor& cursor, TVEZRecordChange change) {
  switch (change) {
    case TVEZRecordChange::kInsert:
      if (FRecordManager == nullptr) throw EVEZException(20135, "Nil pointer occured");
      if (cursor.CurrentRecordBuffer == nullptr) throw EVEZException(20136, "Nil pointer occured");
      break;
    case TVEZRecordChange::kUpdate:
      if (FRecordManager == nullptr) throw EVEZException(20138, "Nil pointer occured");
      if (cursor.CurrentRecordBuffer == nullptr) throw EVEZException(20139, "Nil pointer occured");
      break;
    case TVEZRecordChange::kDelete:
      if (FRecordManager == nullptr) throw EVEZException(20137, "Nil pointer occured");
      break;
  }
  return true;
}

bool TVEZDiskTableData::LockForChange(TVEZCursor& cursor) {
  const bool in_transaction = InTransaction(&cursor);
  const std::int32_t session_id = SessionIDOf(&cursor);
  if (!LockTable(session_id, in_transaction ? ltXIRW : ltRW, kWriteLockTryCount, kWriteLockDelayMS,
                 true))
    return false;
  // Under ltRW, once the state is loaded, the pages the change checks may
  // be trusted by their stamps, and so may those of its commit afterwards.
  if (MultiUser() && !in_transaction && !FChangeWork) {
    PagesCache().BeginWorkWithTable(session_id, FTableID);
    FChangeWork = true;
    FChangeWorkSession = session_id;
  }
  return true;
}

void TVEZDiskTableData::UnlockAfterChange(TVEZCursor& cursor) noexcept {
  if (FChangeWork && FChangeWorkSession == SessionIDOf(&cursor)) {
    FChangeWork = false;
    try {
      PagesCache().EndWorkWithTable(FChangeWorkSession, FTableID);
    } catch (...) {
    }
  }
  // An ltXIRW stays with the transaction until it ends.
  if (InTransaction(&cursor)) return;
  try {
    UnlockTable(SessionIDOf(&cursor), ltRW, false);
  } catch (...) {
    // A lock that cannot be given back goes with the session.
  }
}

void TVEZDiskTableData::ReloadSharedState(TVEZCursor& cursor) {
  if (!MultiUser()) return;
  LoadMostUpdated(SessionIDOf(&cursor));
  bool changed = false;
  FIndexManager->SynchronizeTemporaryIndexes(&cursor, changed);
}

void TVEZDiskTableData::StoreBlobs(TVEZCursor& cursor, TVEZRecordChangeContext& context) {
  std::uint8_t* record = cursor.CurrentRecordBuffer;
  if (record == nullptr || !FFieldManager->BlobFieldsPresent()) return;
  if (context.Change == TVEZRecordChange::kDelete) {
    // The index walk below reads the stored record into the buffer: the
    // caches it names go first.
    ClearBLOBFieldsInRecordBuffer(record);
    // The values the stored record names, just read, not those the buffer
    // had when the cursor read it.
    FBlobManager->DeleteBlobs(context.SessionID, context.StoredRecord.data());
    return;
  }
  const TVEZFieldDefs& defs = FFieldManager->FieldDefs();
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
    if (!IsBlobBaseFieldType(defs.GetDef(i)->BaseFieldType)) continue;
    if (FBlobManager->StoreBlob(context.SessionID, record, i))
      context.StoredBlobFields.push_back(i);
  }
}

void TVEZDiskTableData::SaveSharedState(TVEZCursor& cursor) {
  SaveTableMostUpdated(SessionIDOf(&cursor));
}

void TVEZDiskTableData::UndoRecordChange(TVEZCursor& cursor,
                                         const TVEZRecordChangeContext& context) noexcept {
  // Records and BLOBs live on pages, which the savepoints give back; the
  // values the store took from the buffer's caches wait there again.
  if (cursor.CurrentRecordBuffer != nullptr) {
    for (const std::int32_t field_no : context.StoredBlobFields)
      FBlobManager->KeepCachePending(cursor.CurrentRecordBuffer, field_no);
  }
  FLastUsedTableState = context.TableState;
}

void TVEZDiskTableData::FinishRecordChange(TVEZCursor& cursor,
                                           TVEZRecordChangeContext& context) noexcept {
  // The stored values' caches are not needed any more.
  for (const std::int32_t field_no : context.StoredBlobFields)
    FBlobManager->ClearBlobInRecordBuffer(cursor.CurrentRecordBuffer, field_no, false);
}

void TVEZDiskTableData::Rollback(std::int32_t session_id) {
  TVEZLockGuard guard(*this);
  // A table data whose last cursor has gone has no state to bring back.
  if (!IsOpen()) return;
  ForgetLoadedState();
  LoadMostUpdated(session_id);
  FTemporaryPageManager->CancelChanges(session_id);
  TVEZTableData::Rollback(session_id);
  FTemporaryPageManager->ApplyChanges(session_id);
}

bool TVEZDiskTableData::FreeIfNoCursorsConnected() {
  if (!FCursorList.empty()) return false;
  FDatabaseData->FreeTableData(this);
  return true;
}

// ---------------------------------------------------------------------------
// BLOBs

void TVEZDiskTableData::ClearBlobsCacheInRecordBuffer(std::uint8_t* record) {
  TVEZLockGuard guard(*this);
  if (record == nullptr || FBlobManager == nullptr || FFieldManager == nullptr) return;
  ClearBLOBFieldsInRecordBuffer(record);
}

void TVEZDiskTableData::ClearModifiedBLOBFieldsInRecordBuffer(std::uint8_t* record) {
  TVEZLockGuard guard(*this);
  if (record == nullptr || FBlobManager == nullptr || FFieldManager == nullptr) return;
  if (!FFieldManager->BlobFieldsPresent()) return;
  const TVEZFieldDefs& defs = FFieldManager->FieldDefs();
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
    if (IsBlobBaseFieldType(defs.GetDef(i)->BaseFieldType))
      FBlobManager->ClearBlobInRecordBuffer(record, i, true);
  }
}

void TVEZDiskTableData::ClearBLOBFieldInRecordBuffer(std::uint8_t* record, std::int32_t field_no) {
  TVEZLockGuard guard(*this);
  if (FBlobManager == nullptr) return;
  FBlobManager->ClearBlobInRecordBuffer(record, field_no, false);
}

void TVEZDiskTableData::WriteBLOBFieldToRecordBuffer(TVEZCursor& cursor, std::int32_t field_no,
                                                     TVEZStream& blob_stream) {
  TVEZLockGuard guard(*this);
  TVEZCompressedBLOBStream& compressed = CompressedStreamOf(blob_stream, 10116);
  if (cursor.CurrentRecordBuffer == nullptr) throw EVEZException(10018, "Nil pointer occured");
  FBlobManager->CopyBlobFromStreamToRecordBuffer(cursor.CurrentRecordBuffer, field_no,
                                                 blob_stream.Modified(), compressed);
}

std::unique_ptr<TVEZStream> TVEZDiskTableData::InternalCreateBlobStream(
    TVEZCursor& cursor, bool /*to_insert*/, std::int32_t field_no, TVEZBLOBOpenMode open_mode) {
  TVEZLockGuard guard(*this);
  if (FFieldManager == nullptr || field_no < 0 || field_no >= FFieldManager->FieldCount())
    throw EVEZException(10419, "Invalid BLOB field number = %d", {field_no});
  const TVEZFieldDef& def = *FFieldManager->FieldDefs().GetDef(field_no);
  TVEZBLOBDescriptor descriptor;
  descriptor.CompressionAlgorithm = static_cast<std::uint8_t>(def.BLOBCompressionAlgorithm);
  descriptor.CompressionMode = def.BLOBCompressionMode;
  descriptor.BlockSize = def.BLOBBlockSize;
  if (descriptor.BlockSize == 0) throw EVEZException(20149, "Stream block size = 0 is not allowed");
  descriptor.StartPosition = 0;
  TVEZSessionLayerServices* services = SessionLayerServices();
  if (services == nullptr) throw EVEZException(10112, "Nil pointer occured");
  auto underlying = std::make_unique<TVEZTemporaryStream>(FDisableTempFiles);
  std::uint8_t* record = cursor.CurrentRecordBuffer;
  std::unique_ptr<TVEZCompressedBLOBStream> compressed;
  if (open_mode == bomWrite || record == nullptr || GetBufferBit(field_no, record)) {
    descriptor.NumBlocks = 0;
    descriptor.UncompressedSize = 0;
    compressed = std::make_unique<TVEZCompressedBLOBStream>(*underlying, descriptor, true, false);
  } else {
    try {
      FBlobManager->CopyBlobFromRecordBufferToStream(SessionIDOf(&cursor), record, field_no,
                                                     descriptor, *underlying);
      underlying->SetPosition(0);
      if (descriptor.UncompressedSize < 0) throw EVEZException(20248, "Invalid blob field size");
      compressed =
          std::make_unique<TVEZCompressedBLOBStream>(*underlying, descriptor, false, false);
    } catch (...) {
      try {
        FBlobManager->ClearBlobInRecordBuffer(record, field_no, true);
      } catch (...) {
      }
      throw;
    }
  }
  return services->CreateLocalBLOBStream(std::move(compressed), std::move(underlying), &cursor,
                                         open_mode, field_no);
}

void TVEZDiskTableData::GetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no,
                                          std::uint8_t* record,
                                          TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                          std::uint8_t*& data) {
  TVEZLockGuard guard(*this);
  const std::uint8_t* cached = nullptr;
  FBlobManager->GetDirectBlobInfoFromRecordBuffer(SessionIDOf(&cursor), record, field_no,
                                                  descriptor, cached);
  data = const_cast<std::uint8_t*>(cached);
}

void TVEZDiskTableData::SetDirectBlobData(TVEZCursor& /*cursor*/, std::int32_t field_no,
                                          std::uint8_t* record,
                                          TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                          std::uint8_t*& data) {
  TVEZLockGuard guard(*this);
  FBlobManager->SetDirectBlobInfoFromRecordBuffer(record, field_no, descriptor, data);
}

void TVEZDiskTableData::FreeDirectBlobData(TVEZCursor& /*cursor*/, std::int32_t field_no,
                                           std::uint8_t* record,
                                           TVEZPartialTemporaryBLOBDescriptor& /*descriptor*/,
                                           std::uint8_t*& data) {
  TVEZLockGuard guard(*this);
  // The bytes belong to the field's cache: dropping the cache frees them.
  data = nullptr;
  if (FBlobManager != nullptr) FBlobManager->ClearBlobInRecordBuffer(record, field_no, false);
}

bool IsStoredDataDamage(const std::exception& e) noexcept {
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) return false;
  if (dynamic_cast<const platform::EOSError*>(&e) != nullptr) return false;
  const auto* engine = dynamic_cast<const EVEZException*>(&e);
  // Counts that overflow, streams cut short: what damaged bytes lead to.
  if (engine == nullptr) return dynamic_cast<const platform::Exception*>(&e) != nullptr;
  switch (engine->NativeError()) {
    // The engine's allocator refused (a limit, or the system).
    case 30004:
    case 30014:
    case 30015:
    // A page, the header, a page region or page state the file would not
    // give or take, the journal, the file's size, sync or lock calls.
    case kErrPageRead:
    case 10462:
    case 10464:
    case 10469:
    case 10474:
    case 10475:
    case 10481:
    case 20197:
    case 20198:
    case 30400:
    case 30404:
    case 30406:
    case 30370:
    case 30371:
    case 30379:
    case 30380:
    // The database or its file is closed.
    case 10459:
    case 10460:
    case 30376:
    case 30399:
    // A lock another user holds: the header, allocation, release, object
    // ids, a page another session of this process has pinned.
    case 20090:
    case 20209:
    case 20213:
    case 20230:
    case 20231:
    case 20232:
    case 20236:
    case 30401:
      return false;
    default:
      return true;
  }
}

}  // namespace vez
