#include "dbengine/storage/VEZDiskPageManager.h"

#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDatabaseFile.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskTablePagesCacheManager.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Random.h"
#include "platform/os/FileQueries.h"

namespace vez {

using platform::CheckedAdd;
using platform::CheckedMul;

namespace {

constexpr std::int32_t kHeaderLockTries = 4500;
constexpr std::uint32_t kHeaderLockDelayMs = 20;

EVEZException NotOpened(std::int32_t native_error) {
  return EVEZException(native_error, "Error - database file is not opened.");
}

EVEZException EncryptionNotAvailable(const std::string& file_name) {
  return EVEZException(10478, "Cannot open database '%s' - encryption is not available",
                       {file_name});
}

}  // namespace

TVEZDiskPageManager::TVEZDiskPageManager()
    : file_(std::make_unique<TVEZDatabaseFile>()),
      table_pages_cache_(std::make_unique<TVEZDiskTablePagesCacheManager>()) {
  InitDBHeader();
}

TVEZDiskPageManager::~TVEZDiskPageManager() {
  CloseDatabase();
}

bool TVEZDiskPageManager::IsOpened() const {
  return file_->IsOpened();
}

void TVEZDiskPageManager::InitDBHeader() {
  header_ = TVEZDBHeader::Initial();
  crypto_header_ = TVEZCryptoHeader{};
  locked_bytes_ = TVEZLockedBytes{};
}

void TVEZDiskPageManager::SetPageGeometry(std::uint16_t page_size) {
  SetPageSizes(page_size, TVEZDiskPageHeaderLayout::kSize);
}

// ---------------------------------------------------------------------------
// Create, open, close

void TVEZDiskPageManager::CreateAndOpenDatabase(const std::string& database_file_name,
                                                const TVEZPassword& password,
                                                std::uint16_t page_size,
                                                std::uint16_t extent_page_count) {
  if (IsOpened())
    throw EVEZException(10461, "Error - database file %s is in use.", {file_->FileName()});
  if (!password.Password.empty()) throw EncryptionNotAvailable(database_file_name);
  if (page_size <= TVEZDiskPageHeaderLayout::kSize || extent_page_count == 0)
    throw EVEZException(10480, "Invalid page geometry: page size %d, %d pages per extent",
                        {page_size, extent_page_count});
  // Every page number of the maps must fit Int32.
  CheckedMul<std::int32_t>(CheckedMul<std::int32_t>(page_size - TVEZDiskPageHeaderLayout::kSize, 4),
                           extent_page_count);
  InitDBHeader();
  password_ = password;
  SetPageGeometry(page_size);
  offset_to_db_header_ = 0;
  offset_to_crypto_header_ = kDBHeaderSize;
  offset_to_locked_bytes_ = offset_to_crypto_header_ + kCryptoHeaderSize;
  offset_to_last_object_id_ = offset_to_locked_bytes_ + kLockedByteSize;
  offset_to_first_page_ = offset_to_last_object_id_ + 4;
  exclusive_ = true;
  SetMultiUser(false);
  stamps_.clear();
  file_->CreateAndOpenFile(database_file_name);
  header_.Encrypted = 0;
  header_.PageSize = page_size;
  header_.PageCountInExtent = extent_page_count;
  WriteDBHeader(true);
  WriteCryptoHeader();
  WriteLockedBytes();
  InitObjectID();
  free_space_manager_ = std::make_unique<TVEZDatabaseFreeSpaceManager>(this);
  if (durability_ == TVEZDurability::Full) {
    file_->FlushFileBuffers();
    try {
      platform::SyncDirectory(platform::DirectoryOf(database_file_name));
    } catch (const platform::Exception& e) {
      throw EVEZException(30379,
                          "Cannot flush file buffers for file: '%s'. ErrorCode:%d. "
                          "ErrorMessage: %s",
                          {database_file_name, 0, std::string(e.what())});
    }
  }
}

bool TVEZDiskPageManager::IsFileReadOnly(const std::string& file_name, bool& multi_user) {
  switch (platform::QueryFileWritability(file_name)) {
    case platform::FileWritability::kWritable:
    case platform::FileWritability::kMissing:
      return false;
    case platform::FileWritability::kReadOnlyAttribute:
      multi_user = false;
      return true;
    case platform::FileWritability::kNotWritable:
      return true;
  }
  return true;
}

void TVEZDiskPageManager::OpenDatabase(const std::string& database_file_name,
                                       const TVEZPassword& password, bool& read_only,
                                       bool& repair_needed, bool exclusive, bool& multi_user) {
  if (IsOpened())
    throw EVEZException(10462, "Error - database file %s is in use.", {file_->FileName()});
  password_ = password;
  stamps_.clear();
  if (!read_only) {
    try {
      read_only = IsFileReadOnly(database_file_name, multi_user);
    } catch (const platform::Exception& e) {
      throw EVEZException(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                          {database_file_name, 0, std::string(e.what())});
    }
  }
  // Exclusive means single-user for the file, this manager and the caller's
  // database data alike.
  if (exclusive) multi_user = false;
  SetMultiUser(multi_user);
  exclusive_ = exclusive;
  TVEZAccessMode access = amReadWrite;
  TVEZShareMode share = smShareDenyNone;
  if (read_only) {
    access = amReadOnly;
  } else if (exclusive) {
    share = smExclusive;
  }
  file_->OpenFile(database_file_name, access, share);
  offset_to_db_header_ = 0;
  offset_to_crypto_header_ = kDBHeaderSize;
  offset_to_locked_bytes_ = offset_to_crypto_header_ + kCryptoHeaderSize;
  if (!RetryCall(kHeaderLockTries, kHeaderLockDelayMs, [&] { return LockDBHeader(); }))
    throw EVEZException(20230, "Database is locked");
  try {
    std::int64_t found = 0;
    try {
      if (!file_->FindSignature(found)) found = 0;
    } catch (const platform::Exception& e) {
      if (dynamic_cast<const EVEZException*>(&e)) throw;
      throw EVEZException(10464, "Cannot Read from file: '%s' ErrorMessage: %s",
                          {database_file_name, std::string(e.what())});
    }
    offset_to_db_header_ = found;
    const std::int64_t size = file_->GetSize();
    if (size < found + TVEZDBHeader::kSize) {
      // Too short to hold a header: a foreign file, refused below by its
      // signature rather than as a read error.
      std::uint8_t raw[TVEZDBHeader::kSize] = {};
      file_->ReadBuffer(raw, size - found, found, 10464);
      header_ = TVEZDBHeader::Decode(raw);
    } else {
      ReadDBHeader();
    }
    repair_needed =
        header_.WriteChangesState != kWriteChangesDone || header_.Version < kDBLowestSoundVersion;
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  if (!header_.HasSignature())
    throw EVEZException(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
                        {header_.SignatureText(), std::string(kDBSignature)});
  if (header_.IsEncrypted()) throw EncryptionNotAvailable(database_file_name);
  if (header_.HeaderSize < kDBHeaderSize || header_.PageSize <= TVEZDiskPageHeaderLayout::kSize ||
      header_.PageCountInExtent == 0)
    throw EVEZException(10480, "Invalid page geometry: page size %d, %d pages per extent",
                        {header_.PageSize, header_.PageCountInExtent});
  SetPageGeometry(header_.PageSize);
  offset_to_crypto_header_ = offset_to_db_header_ + header_.HeaderSize;
  offset_to_locked_bytes_ = offset_to_crypto_header_ + kCryptoHeaderSize;
  ReadCryptoHeader();
  if (offset_to_crypto_header_ + crypto_header_.CryptoHeaderSize != offset_to_locked_bytes_)
    throw EVEZException(20237, "Invalid database format");
  ReadLockedBytes();
  if (locked_bytes_.LockedByteSize < TVEZLockedBytes::kDBHeaderByte + 1)
    throw EVEZException(20237, "Invalid database format");
  offset_to_last_object_id_ = offset_to_locked_bytes_ + locked_bytes_.LockedByteSize;
  offset_to_first_page_ = offset_to_last_object_id_ + 4;
  CheckHeaderRecords(database_file_name);
  free_space_manager_ = std::make_unique<TVEZDatabaseFreeSpaceManager>(this);
}

void TVEZDiskPageManager::CheckHeaderRecords(const std::string& file_name) {
  const std::int64_t total = header_.TotalPageCount;
  if (total < 0 || header_.LastUsedPageNo < -1 || header_.LastUsedPageNo >= total)
    throw EVEZException(10480, "Invalid page counters: %d pages, last used page %d",
                        {header_.TotalPageCount, header_.LastUsedPageNo});
  CheckedMul<std::int32_t>(CheckedMul<std::int32_t>(PageDataSize(), 4), header_.PageCountInExtent);
  const std::int64_t needed = offset_to_first_page_ + total * PageSize();
  const std::int64_t size = file_->GetSize();
  if (size < needed)
    throw EVEZException(10479,
                        "Database file '%s' is damaged: %d bytes long, but its %d pages need %d",
                        {file_name, size, total, needed});
}

void TVEZDiskPageManager::CloseDatabase() noexcept {
  if (file_->IsOpened()) {
    try {
      file_->CloseFile();
    } catch (...) {
      // The handle is gone either way; a close error loses nothing committed.
    }
  }
  free_space_manager_.reset();
  lock_db_header_count_ = 0;
  stamps_.clear();
}

// ---------------------------------------------------------------------------
// Header records

std::int64_t TVEZDiskPageManager::GetPageOffset(std::int32_t page_no) const {
  if (page_no < 0) throw EVEZException(10471, "Invalid PageNo = %d", {page_no});
  return offset_to_first_page_ + static_cast<std::int64_t>(page_no) * PageSize();
}

void TVEZDiskPageManager::ReadDBHeader() {
  if (!IsOpened()) throw NotOpened(10459);
  std::uint8_t raw[TVEZDBHeader::kSize] = {};
  // The copy changes only on success: a blank copy would be written back by
  // the next header write (the free space manager saves its counters even
  // when its header read failed).
  file_->ReadBuffer(raw, sizeof raw, offset_to_db_header_, 10464);
  header_ = TVEZDBHeader::Decode(raw);
}

void TVEZDiskPageManager::WriteDBHeader(bool /*check_state*/) {
  if (!IsOpened()) throw NotOpened(10460);
  std::uint8_t raw[TVEZDBHeader::kSize];
  header_.Encode(raw);
  file_->WriteBuffer(raw, sizeof raw, offset_to_db_header_, 10462);
}

void TVEZDiskPageManager::ReadCryptoHeader() {
  if (!IsOpened()) throw NotOpened(30436);
  std::uint8_t raw[TVEZCryptoHeader::kSize];
  file_->ReadBuffer(raw, sizeof raw, offset_to_crypto_header_, 30439);
  crypto_header_ = TVEZCryptoHeader::Decode(raw);
}

void TVEZDiskPageManager::WriteCryptoHeader() {
  if (!IsOpened()) throw NotOpened(30437);
  std::uint8_t raw[TVEZCryptoHeader::kSize];
  crypto_header_.Encode(raw);
  file_->WriteBuffer(raw, sizeof raw, offset_to_crypto_header_, 30438);
}

void TVEZDiskPageManager::ReadLockedBytes() {
  if (!IsOpened()) throw NotOpened(30441);
  std::uint8_t raw[2];
  file_->ReadBuffer(raw, sizeof raw, offset_to_locked_bytes_, 30442);
  locked_bytes_.LockedByteSize = GetLE<std::int16_t>(raw);
}

void TVEZDiskPageManager::WriteLockedBytes() {
  if (!IsOpened()) throw NotOpened(30443);
  std::uint8_t raw[TVEZLockedBytes::kSize];
  locked_bytes_.Encode(raw);
  file_->WriteBuffer(raw, sizeof raw, offset_to_locked_bytes_, 30444);
}

// ---------------------------------------------------------------------------
// Pages

void TVEZDiskPageManager::ForgetStamps(std::int32_t page_no) {
  if (!stamps_.empty()) stamps_.erase(page_no);
}

TVEZPage* TVEZDiskPageManager::GetPage(std::int32_t session_id, std::int32_t page_no,
                                       std::uint16_t page_type, bool synchronize_allowed) {
  if (!free_space_manager_) throw NotOpened(10459);
  free_space_manager_->CheckPageNoForSystemPages(page_no);
  return TVEZPageManager::GetPage(session_id, page_no, page_type, synchronize_allowed);
}

void TVEZDiskPageManager::RemovePage(std::int32_t session_id, std::int32_t page_no) {
  if (!free_space_manager_) throw NotOpened(10459);
  free_space_manager_->CheckPageNoForSystemPages(page_no);
  TVEZPageManager::RemovePage(session_id, page_no);
}

void TVEZDiskPageManager::InternalAddPage(TVEZPage* page) {
  if (!free_space_manager_) throw NotOpened(10459);
  const std::int32_t page_no = free_space_manager_->GetPage(-1);
  page->SetPageNo(page_no);
  page->AllocPageBuffer();
  ForgetStamps(page_no);
}

void TVEZDiskPageManager::InternalRemovePage(std::int32_t page_no) {
  if (!free_space_manager_) throw NotOpened(10459);
  ForgetStamps(page_no);
  InternalWritePageState(page_no, kFreedPageState);
  free_space_manager_->FreePage(page_no);
}

void TVEZDiskPageManager::InternalReadPage(TVEZPage* page) {
  if (!IsOpened()) throw NotOpened(10459);
  if (!page->PageBuffer()) page->AllocPageBuffer();
  ForgetStamps(page->PageNo());
  file_->ReadBuffer(page->PageBuffer(), PageSize(), GetPageOffset(page->PageNo()), kErrPageRead);
  page->SetReloaded(true);
}

void TVEZDiskPageManager::InternalWritePage(TVEZPage* page) {
  if (!IsOpened()) throw NotOpened(10459);
  TVEZDiskPageHeaderView h = page->PageHeader();
  const std::int32_t old_state = h.State();
  h.SetState(NextPageState(old_state));
  ForgetStamps(page->PageNo());
  try {
    file_->WriteBuffer(page->PageBuffer(), PageSize(), GetPageOffset(page->PageNo()), 10469);
  } catch (...) {
    // The cached copy keeps the state it had, as if never written.
    h.SetState(old_state);
    throw;
  }
}

bool TVEZDiskPageManager::ReadStoredPageState(std::int32_t page_no, std::int32_t& state) noexcept {
  try {
    state = InternalReadPageState(page_no);
  } catch (...) {
    return false;
  }
  return state != kFreedPageState;
}

std::int32_t TVEZDiskPageManager::InternalReadPageState(std::int32_t page_no) {
  if (!MultiUser() || !IsOpened()) return kFreedPageState;
  try {
    std::uint8_t raw[4];
    file_->ReadBuffer(raw, 4, GetPageOffset(page_no) + TVEZDiskPageHeaderLayout::kState, 20197);
    return GetLE<std::int32_t>(raw);
  } catch (const EVEZException&) {
    return kFreedPageState;
  }
}

void TVEZDiskPageManager::InternalWritePageState(std::int32_t page_no, std::int32_t page_state) {
  if (!IsOpened()) throw NotOpened(10459);
  std::uint8_t raw[4];
  PutLE<std::int32_t>(raw, page_state);
  file_->WriteBuffer(raw, 4, GetPageOffset(page_no) + TVEZDiskPageHeaderLayout::kState, 20198);
}

void TVEZDiskPageManager::ReadPageRegion(void* buffer, std::int32_t page_no, std::uint16_t offset,
                                         std::uint16_t count) {
  if (!IsOpened()) throw NotOpened(10459);
  if (offset + count > PageSize())
    throw EVEZException(10476, "Error - invalid page offset = %d, page size = %d",
                        {offset + count, PageSize()});
  file_->ReadBuffer(buffer, count, GetPageOffset(page_no) + offset, 10474);
}

void TVEZDiskPageManager::WritePageRegion(const void* buffer, std::int32_t page_no,
                                          std::uint16_t offset, std::uint16_t count) {
  if (!IsOpened()) throw NotOpened(10459);
  if (offset + count > PageSize())
    throw EVEZException(10477, "Error - invalid page offset = %d, page size = %d",
                        {offset + count, PageSize()});
  file_->WriteBuffer(buffer, count, GetPageOffset(page_no) + offset, 10475);
}

void TVEZDiskPageManager::WriteEmptyPage(std::int32_t page_no) {
  TVEZPage page(this);
  page.SetPageNo(page_no);
  page.AllocPageBuffer();
  std::memcpy(page.PageBuffer(), "VEZ1", 4);
  page.PageHeader().SetPageType(kPageTypeEmpty);
  InternalWritePage(&page);
}

std::int32_t TVEZDiskPageManager::GetPageCount() {
  if (!IsOpened()) throw NotOpened(10459);
  // Single-user, no other process changes the file and this one keeps the
  // header copy in step with its own growth and shrinking: the copy is the
  // count. Page checks ask for it on every page read, so the header lock
  // and re-read cost more than the rest of the read.
  if (!MultiUser() && lock_db_header_count_ == 0) return header_.TotalPageCount;
  if (!LockDBHeader()) throw EVEZException(20236, "Database is locked");
  try {
    ReadDBHeader();
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  return header_.TotalPageCount;
}

bool TVEZDiskPageManager::IsPageSynchronized(std::int32_t session_id, TVEZPage* page) {
  if (!MultiUser()) return true;
  std::int32_t table_id = 0, state = 0;
  if (!table_pages_cache_->GetWorkTableState(session_id, table_id, state)) return false;
  const auto it = stamps_.find(page->PageNo());
  if (it == stamps_.end()) return false;
  for (const Stamp& s : it->second)
    if (s.session_id == session_id) return s.table_id == table_id && s.table_state == state;
  return false;
}

void TVEZDiskPageManager::MarkPageSynchronized(std::int32_t session_id, TVEZPage* page) {
  if (!MultiUser()) return;
  std::int32_t table_id = 0, state = 0;
  if (!table_pages_cache_->GetWorkTableState(session_id, table_id, state)) return;
  std::vector<Stamp>& list = stamps_[page->PageNo()];
  for (Stamp& s : list) {
    if (s.session_id == session_id) {
      s = {session_id, table_id, state};
      return;
    }
  }
  list.push_back({session_id, table_id, state});
}

// ---------------------------------------------------------------------------
// Commit

void TVEZDiskPageManager::BeforeCommitWrites(std::int32_t /*session_id*/,
                                             const TVEZCommitChanges& /*changes*/) {
  if (!IsOpened()) throw NotOpened(10460);
  if (!RetryCall(kHeaderLockTries, kHeaderLockDelayMs, [&] { return LockDBHeader(); }))
    throw EVEZException(20213, "Database is locked");
  commit_holds_header_lock_ = true;
  ReadDBHeader();
  // A marker found on disk means an earlier commit was cut off: it stays
  // until the file is repaired.
  commit_found_damage_ = header_.WriteChangesState != kWriteChangesDone;
  header_.WriteChangesState = kWriteChangesInProgress;
  WriteDBHeader(true);
}

void TVEZDiskPageManager::AfterCommitWrites(std::int32_t /*session_id*/,
                                            const TVEZCommitChanges& /*changes*/) {
  header_.State = NextHeaderState(header_.State);
  header_.WriteChangesState = commit_found_damage_ ? kWriteChangesInProgress : kWriteChangesDone;
  WriteDBHeader(false);
  if (durability_ == TVEZDurability::Full) file_->FlushFileBuffers();
  commit_holds_header_lock_ = false;
  UnlockDBHeader();
}

TVEZFailedCommitStorage TVEZDiskPageManager::OnCommitFailed(
    std::int32_t /*session_id*/, const TVEZCommitChanges& /*changes*/) noexcept {
  if (commit_holds_header_lock_) {
    commit_holds_header_lock_ = false;
    try {
      UnlockDBHeader();
    } catch (...) {
      // The commit's own error is the one to report.
    }
  }
  return TVEZFailedCommitStorage::kPartlyCommitted;
}

// ---------------------------------------------------------------------------
// Locks

bool TVEZDiskPageManager::LockFreeSpaceManager() {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->LockByte(offset_to_locked_bytes_ + TVEZLockedBytes::kFSMByte, 1);
}
bool TVEZDiskPageManager::UnlockFreeSpaceManager() {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->UnlockByte(offset_to_locked_bytes_ + TVEZLockedBytes::kFSMByte, 1);
}
bool TVEZDiskPageManager::LockTables() {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->LockByte(offset_to_locked_bytes_ + TVEZLockedBytes::kTablesByte, 1);
}
bool TVEZDiskPageManager::UnlockTables() {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->UnlockByte(offset_to_locked_bytes_ + TVEZLockedBytes::kTablesByte, 1);
}

bool TVEZDiskPageManager::LockDBHeader() {
  if (!IsOpened()) throw NotOpened(10459);
  if (lock_db_header_count_ == 0 &&
      !file_->LockByte(offset_to_locked_bytes_ + TVEZLockedBytes::kDBHeaderByte, 1))
    return false;
  lock_db_header_count_ = CheckedAdd(lock_db_header_count_, 1);
  return true;
}

bool TVEZDiskPageManager::UnlockDBHeader() {
  if (lock_db_header_count_ <= 0 || !IsOpened()) return false;
  if (--lock_db_header_count_ > 0) return true;
  try {
    return file_->UnlockByte(offset_to_locked_bytes_ + TVEZLockedBytes::kDBHeaderByte, 1);
  } catch (const EVEZException&) {
    // Called on failure paths too; a lock the system cannot release goes
    // with the handle.
    return false;
  }
}

bool TVEZDiskPageManager::LockLastObjectID() {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->LockByte(offset_to_last_object_id_, 1);
}
bool TVEZDiskPageManager::UnlockLastObjectID() {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->UnlockByte(offset_to_last_object_id_, 1);
}

bool TVEZDiskPageManager::LockPageByte(std::int32_t page_no, std::uint16_t offset) {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->LockByte(GetPageOffset(page_no) + offset, 1);
}
bool TVEZDiskPageManager::UnlockPageByte(std::int32_t page_no, std::uint16_t offset) {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->UnlockByte(GetPageOffset(page_no) + offset, 1);
}
bool TVEZDiskPageManager::IsPageByteLocked(std::int32_t page_no, std::uint16_t offset) {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->IsByteLocked(GetPageOffset(page_no) + offset);
}
bool TVEZDiskPageManager::IsPageRegionLocked(std::int32_t page_no, std::uint16_t offset,
                                             std::uint16_t count) {
  if (!IsOpened()) throw NotOpened(10459);
  return file_->IsRegionLocked(GetPageOffset(page_no) + offset, count);
}

// ---------------------------------------------------------------------------
// Object ids

void TVEZDiskPageManager::InitObjectID(std::int32_t /*try_count*/, std::int32_t /*delay_ms*/) {
  if (!RetryCall(kHeaderLockTries, kHeaderLockDelayMs, [&] { return LockLastObjectID(); })) return;
  try {
    if (file_->AccessMode() == amReadWrite) {
      std::uint8_t raw[4] = {};
      file_->WriteBuffer(raw, 4, offset_to_last_object_id_, 30406);
    }
  } catch (...) {
    UnlockLastObjectID();
    throw;
  }
  UnlockLastObjectID();
}

std::int32_t TVEZDiskPageManager::GetNextObjectID(std::int32_t /*try_count*/,
                                                  std::int32_t /*delay_ms*/) {
  if (!IsOpened()) throw NotOpened(30399);
  if (!RetryCall(kHeaderLockTries, kHeaderLockDelayMs, [&] { return LockLastObjectID(); }))
    throw EVEZException(30401, "Cannot get NextObjectID. File area is Locked.");
  std::int32_t id;
  try {
    std::uint8_t raw[4];
    file_->ReadBuffer(raw, 4, offset_to_last_object_id_, 30400);
    id = CheckedAdd(GetLE<std::int32_t>(raw), 1);
    if (file_->AccessMode() == amReadWrite) {
      PutLE<std::int32_t>(raw, id);
      file_->WriteBuffer(raw, 4, offset_to_last_object_id_, 30404);
    } else {
      // A read-only process cannot record the id; a random offset makes a
      // clash with another read-only process unlikely.
      id = CheckedAdd(id, platform::Random(10000));
    }
  } catch (...) {
    UnlockLastObjectID();
    throw;
  }
  UnlockLastObjectID();
  return id;
}

// ---------------------------------------------------------------------------
// File size

void TVEZDiskPageManager::ExtendFile(std::int32_t page_count) {
  if (page_count < 1) return;
  const std::int32_t total = CheckedAdd(header_.TotalPageCount, page_count);
  const std::int64_t current_end = GetPageOffset(header_.TotalPageCount);
  // A tail left by a cut-off shrink is dropped first, so new pages read as
  // zeros whatever the file held there.
  if (file_->GetSize() > current_end) file_->SetSize(current_end);
  file_->SetSize(GetPageOffset(total));
  header_.TotalPageCount = total;
}

void TVEZDiskPageManager::TruncateFile(std::int32_t page_count) {
  if (page_count < 1 || page_count > header_.TotalPageCount) return;
  header_.TotalPageCount -= page_count;
  // Header first: a crash before the cut leaves a longer file, which opens.
  WriteDBHeader(true);
  file_->SetSize(GetPageOffset(header_.TotalPageCount));
}

void TVEZDiskPageManager::TruncateDatabase() {
  const std::int32_t k = header_.TotalPageCount - 1 - header_.LastUsedPageNo;
  if (k > 0) TruncateFile(k);
}

}  // namespace vez
