#include "dbengine/storage/VEZDiskPageManager.h"

#include <algorithm>
#include <cstring>

#include "dbengine/foundation/VEZCrc32.h"
#include "dbengine/foundation/VEZDecUtil.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSecurity.h"
#include "dbengine/storage/VEZDatabaseFile.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskTablePagesCacheManager.h"
#include "dbengine/storage/VEZRollbackJournal.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Random.h"
#include "platform/os/File.h"
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

EVEZException UnknownCryptoAlgorithm(std::int32_t algorithm) {
  return EVEZException(10478, "Unknown encryption algorithm: %d", {algorithm});
}

}  // namespace

struct TVEZDiskPageManager::Capture {
  struct Block {
    std::vector<std::uint8_t> bytes;
    // The image before the change, when a partial write had to read it.
    std::vector<std::uint8_t> old;
    bool is_page = false;
  };
  // Current images of the regions written, by file offset.
  std::map<std::int64_t, Block> blocks;
  // Their offsets in the order first written.
  std::vector<std::int64_t> order;
  // The header area as the change first wrote it (a commit's WriteChangesState
  // 1), written before any page.
  std::vector<std::uint8_t> first_header_area;
  std::int64_t header_area_offset = -1;
  std::int64_t original_size = 0;
  // The size as the change left it so far (growth happens at once).
  std::int64_t current_size = 0;
  // Size the file is cut to once the change is complete; -1 for none.
  std::int64_t pending_truncate = -1;
  std::int32_t header_state = 0;
  bool is_commit = false;
  std::vector<std::int32_t> added_pages;
  // The header as the file held it when the change began (just read under
  // the header lock), its old image without a read.
  std::vector<std::uint8_t> header_before;
  // Set once a byte of the change may have reached the database file.
  bool applying = false;
  bool journal_written = false;
  bool journal_attempted = false;
  std::unique_ptr<TVEZJournalContents> journal;
};

TVEZDiskPageManager::TVEZDiskPageManager()
    : file_(std::make_unique<TVEZDatabaseFile>()),
      table_pages_cache_(std::make_unique<TVEZDiskTablePagesCacheManager>()),
      journal_(std::make_unique<TVEZRollbackJournal>()) {
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
  if (page_size <= TVEZDiskPageHeaderLayout::kSize || extent_page_count == 0)
    throw EVEZException(10480, "Invalid page geometry: page size %d, %d pages per extent",
                        {page_size, extent_page_count});
  // Every page number of the maps must fit Int32.
  CheckedMul<std::int32_t>(CheckedMul<std::int32_t>(page_size - TVEZDiskPageHeaderLayout::kSize, 4),
                           extent_page_count);
  // The control block is prepared before the file exists, so a combination
  // this build cannot code leaves no file behind.
  const bool encrypted = !password.Password.empty();
  TVEZCryptoHeader crypto;
  if (encrypted) {
    crypto.CryptoAlgorithm = password.CryptoAlgorithm;
    for (auto& b : crypto.ControlBlock)
      b = static_cast<std::uint8_t>(platform::Random(255));
    crypto.ControlBlockCRC = UpdateCrc32(0, crypto.ControlBlock.data(), 256);
    if (!EncryptPageData(password.CryptoAlgorithm, crypto.ControlBlock.data(), 256,
                         password.Password))
      throw UnknownCryptoAlgorithm(password.CryptoAlgorithm);
  }
  InitDBHeader();
  crypto_header_ = crypto;
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
  own_commits_.clear();
  ForgetRecentImages();
  file_->CreateAndOpenFile(database_file_name);
  header_.Encrypted = encrypted ? 0xFF : 0;
  header_.PageSize = page_size;
  header_.PageCountInExtent = extent_page_count;
  WriteDBHeader(true);
  WriteCryptoHeader();
  WriteLockedBytes();
  InitObjectID();
  // A journal left by an older file of this name must never be applied here.
  journal_->Open(database_file_name, true);
  free_space_manager_ = std::make_unique<TVEZDatabaseFreeSpaceManager>(this);
  if (durability_ == TVEZDurability::Full) {
    file_->FlushFileBuffers();
    SyncFolderOf(database_file_name);
  }
}

void TVEZDiskPageManager::SyncFolderOf(const std::string& file_name) {
  try {
    platform::SyncDirectory(platform::DirectoryOf(file_name));
  } catch (const platform::Exception& e) {
    throw EVEZException(30379,
                        "Cannot flush file buffers for file: '%s'. ErrorCode:%d. "
                        "ErrorMessage: %s",
                        {file_name, 0, std::string(e.what())});
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
  own_commits_.clear();
  ForgetRecentImages();
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
  journal_->Close();
  pending_release_.clear();
  WaitForDBHeaderLock(20230);
  try {
    // Made (when missing) under the header lock, which every user of the
    // journal holds.
    bool journal_hot = false;
    if (!read_only) {
      if (journal_->Open(database_file_name, false) && durability_ == TVEZDurability::Full)
        SyncFolderOf(database_file_name);
      RecoverWhileLocked();
    } else if (journal_->OpenForReading(database_file_name)) {
      // A reader cannot undo a torn change: it reports the file as needing it.
      TVEZJournalContents journal;
      journal_hot =
          journal_->Read(journal) && JournalFitsFile(journal) && !JournalChangeFinished(journal);
      journal_->Close();
    }
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
    repair_needed = journal_hot || header_.WriteChangesState != kWriteChangesDone ||
                    header_.Version < kDBLowestSoundVersion;
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  if (!header_.HasSignature())
    throw EVEZException(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
                        {header_.SignatureText(), std::string(kDBSignature)});
  if (header_.HeaderSize < kDBHeaderSize || header_.PageSize <= TVEZDiskPageHeaderLayout::kSize ||
      header_.PageCountInExtent == 0)
    throw EVEZException(10480, "Invalid page geometry: page size %d, %d pages per extent",
                        {header_.PageSize, header_.PageCountInExtent});
  SetPageGeometry(header_.PageSize);
  offset_to_crypto_header_ = offset_to_db_header_ + header_.HeaderSize;
  offset_to_locked_bytes_ = offset_to_crypto_header_ + kCryptoHeaderSize;
  ReadCryptoHeader();
  if (header_.IsEncrypted()) CheckPassword();
  if (offset_to_crypto_header_ + crypto_header_.CryptoHeaderSize != offset_to_locked_bytes_)
    throw EVEZException(20237, "Invalid database format");
  ReadLockedBytes();
  if (locked_bytes_.LockedByteSize < TVEZLockedBytes::kDBHeaderByte + 1)
    throw EVEZException(20237, "Invalid database format");
  offset_to_last_object_id_ = offset_to_locked_bytes_ + locked_bytes_.LockedByteSize;
  offset_to_first_page_ = offset_to_last_object_id_ + 4;
  CheckHeaderRecords(database_file_name);
  // The file never gets shorter than its first page, so the view's bytes stay
  // inside it while it is open.
  if (MultiUser()) header_view_.Open(file_->Descriptor(), offset_to_db_header_, kDBHeaderSize);
  free_space_manager_ = std::make_unique<TVEZDatabaseFreeSpaceManager>(this);
  if (!pending_release_.empty()) ReleaseRecoveredPages();
}

void TVEZDiskPageManager::CheckPassword() {
  // The stored combination wins over the caller's.
  password_.CryptoAlgorithm = static_cast<TVEZCryptoAlgorithm>(crypto_header_.CryptoAlgorithm);
  auto& block = crypto_header_.ControlBlock;
  if (!DecryptPageData(password_.CryptoAlgorithm, block.data(), 256, password_.Password))
    throw UnknownCryptoAlgorithm(crypto_header_.CryptoAlgorithm);
  if (UpdateCrc32(0, block.data(), 256) != crypto_header_.ControlBlockCRC)
    throw EVEZException(30445, "Cannot open database - incorrect password");
}

bool TVEZDiskPageManager::PageIsEncrypted(const TVEZPage* page) const {
  return header_.IsEncrypted() && page->EncryptionEnabled() && free_space_manager_ &&
         !free_space_manager_->IsSystemPage(page->PageNo());
}

bool TVEZDiskPageManager::ReadChangeMark(TVEZFileChangeMark& mark) const {
  if (!header_view_.IsOpen()) return false;
  static_assert(TVEZDBHeader::kWriteChangesStateOffset == TVEZDBHeader::kStateOffset + 4);
  std::uint8_t raw[5];
  header_view_.Load(TVEZDBHeader::kStateOffset, raw, sizeof raw);
  mark.State = GetLE<std::int32_t>(raw);
  mark.WriteChangesState = raw[4];
  return true;
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
  header_view_.Close();
  if (file_->IsOpened()) {
    try {
      file_->CloseFile();
    } catch (...) {
      // The handle is gone either way; a close error loses nothing committed.
    }
  }
  journal_->Close();
  capture_.reset();
  free_space_manager_.reset();
  lock_db_header_count_ = 0;
  stamps_.clear();
  own_commits_.clear();
  ForgetRecentImages();
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
  // Under the header lock nobody else writes the header: the mapped view
  // gives it without a read.
  if (!capture_ && lock_db_header_count_ > 0 && header_view_.IsOpen())
    header_view_.Load(0, raw, sizeof raw);
  else
    FileRead(raw, sizeof raw, offset_to_db_header_, 10464);
  header_ = TVEZDBHeader::Decode(raw);
}

void TVEZDiskPageManager::WriteDBHeader(bool /*check_state*/) {
  if (!IsOpened()) throw NotOpened(10460);
  std::uint8_t raw[TVEZDBHeader::kSize];
  header_.Encode(raw);
  FileWrite(raw, sizeof raw, offset_to_db_header_, 10462);
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
// Changes gathered in memory and the rollback journal

void TVEZDiskPageManager::BlockOf(std::int64_t position, std::int64_t count, std::int64_t& start,
                                  std::int64_t& length, bool& is_page) const {
  is_page = false;
  if (position >= offset_to_first_page_ && PageSize() > 0) {
    const std::int64_t n = (position - offset_to_first_page_) / PageSize();
    start = offset_to_first_page_ + n * PageSize();
    length = PageSize();
    if (position + count <= start + length) {
      is_page = true;
      return;
    }
  } else if (position >= offset_to_db_header_ &&
             position + count <= offset_to_db_header_ + kDBHeaderSize) {
    start = offset_to_db_header_;
    length = kDBHeaderSize;
    return;
  }
  start = position;
  length = count;
}

void TVEZDiskPageManager::FileRead(void* buffer, std::int64_t count, std::int64_t position,
                                   std::int32_t error_code) {
  if (capture_) {
    std::int64_t start, length;
    bool is_page;
    BlockOf(position, count, start, length, is_page);
    const auto it = capture_->blocks.find(start);
    if (it != capture_->blocks.end() &&
        position + count <= start + static_cast<std::int64_t>(it->second.bytes.size())) {
      std::memcpy(buffer, it->second.bytes.data() + (position - start),
                  static_cast<std::size_t>(count));
      return;
    }
  }
  file_->ReadBuffer(buffer, count, position, error_code);
  if (!capture_) return;
  auto* out = static_cast<std::uint8_t*>(buffer);
  const auto first = capture_->blocks.lower_bound(position - kJournalMaxRecordLength);
  const auto last = capture_->blocks.lower_bound(position + count);
  for (auto it = first; it != last; ++it) {
    const std::int64_t b0 = it->first;
    const std::int64_t b1 = b0 + static_cast<std::int64_t>(it->second.bytes.size());
    const std::int64_t lo = std::max(b0, position), hi = std::min(b1, position + count);
    if (lo < hi)
      std::memcpy(out + (lo - position), it->second.bytes.data() + (lo - b0),
                  static_cast<std::size_t>(hi - lo));
  }
}

void TVEZDiskPageManager::FileWrite(const void* buffer, std::int64_t count, std::int64_t position,
                                    std::int32_t error_code) {
  if (!capture_) {
    file_->WriteBuffer(buffer, count, position, error_code);
    return;
  }
  std::int64_t start, length;
  bool is_page;
  BlockOf(position, count, start, length, is_page);
  auto it = capture_->blocks.find(start);
  if (it == capture_->blocks.end()) {
    Capture::Block block;
    block.is_page = is_page;
    block.bytes.assign(static_cast<std::size_t>(length), 0);
    // A whole page written needs no read here; the old image is read once
    // the change is journaled. Beyond the end the file reads as zeros.
    if (start < capture_->current_size && count < length) {
      file_->ReadBuffer(block.bytes.data(), std::min(length, capture_->current_size - start), start,
                        error_code);
      block.old = block.bytes;
    }
    it = capture_->blocks.emplace(start, std::move(block)).first;
    capture_->order.push_back(start);
  }
  std::memcpy(it->second.bytes.data() + (position - start), buffer,
              static_cast<std::size_t>(count));
  if (capture_->is_commit && start == offset_to_db_header_ && !is_page &&
      capture_->first_header_area.empty()) {
    capture_->first_header_area = it->second.bytes;
    capture_->header_area_offset = start;
  }
}

void TVEZDiskPageManager::BeginCapture(bool is_commit,
                                       const std::vector<std::int32_t>* added_pages) {
  auto c = std::make_unique<Capture>();
  c->original_size = file_->GetSize();
  c->current_size = c->original_size;
  c->header_state = header_.State;
  c->header_before.resize(TVEZDBHeader::kSize);
  header_.Encode(c->header_before.data());
  c->is_commit = is_commit;
  if (added_pages) {
    c->added_pages = *added_pages;
    std::sort(c->added_pages.begin(), c->added_pages.end());
  }
  capture_ = std::move(c);
}

void TVEZDiskPageManager::FinishCapture(TVEZDurability durability) {
  Capture& c = *capture_;
  // The old images are gathered at every level, so that a change that fails
  // in this process is put back at once; only the journal file is optional.
  auto journal = std::make_unique<TVEZJournalContents>();
  journal->HeaderState = c.header_state;
  journal->OriginalFileSize = c.original_size;
  journal->IsCommit = c.is_commit;
  if (c.is_commit) journal->AddedPages = c.added_pages;
  journal->Records.reserve(c.blocks.size());
  for (const auto& [start, block] : c.blocks) {
    TVEZJournalRecord r;
    r.Offset = start;
    r.Length = static_cast<std::uint32_t>(block.bytes.size());
    r.NewCrc = UpdateCrc32(0, block.bytes.data(), r.Length);
    const bool added =
        block.is_page &&
        std::binary_search(c.added_pages.begin(), c.added_pages.end(),
                           static_cast<std::int32_t>((start - offset_to_first_page_) / PageSize()));
    if (start >= c.original_size || added) {
      // Nothing to put back: the region is cut off, or the page released.
      r.Kind = TVEZJournalRecordKind::NewRegion;
    } else {
      r.Kind = block.is_page ? TVEZJournalRecordKind::Page : TVEZJournalRecordKind::HeaderArea;
      if (!block.old.empty()) {
        r.OldImage = block.old;
      } else if (!block.is_page && start == offset_to_db_header_ &&
                 r.Length == c.header_before.size()) {
        r.OldImage = c.header_before;
      } else if (const std::vector<std::uint8_t>* image = RecentImage(start, c.header_state);
                 block.is_page && image != nullptr && image->size() == r.Length) {
        r.OldImage = *image;
      } else {
        r.OldImage.assign(r.Length, 0);
        const std::int64_t n = std::min<std::int64_t>(r.Length, c.current_size - start);
        if (n > 0) file_->ReadBuffer(r.OldImage.data(), n, start, 10464);
      }
    }
    journal->Records.push_back(std::move(r));
  }
  if (c.blocks.find(offset_to_db_header_) == c.blocks.end()) {
    // Every journal names the header it was written against, even when the
    // change leaves it as it is, so that recovery can tell its own file from
    // another one put under its name.
    TVEZJournalRecord r;
    r.Kind = TVEZJournalRecordKind::HeaderArea;
    r.Offset = offset_to_db_header_;
    r.Length = TVEZDBHeader::kSize;
    // Untouched by the change: the header read when it began.
    r.OldImage = c.header_before;
    r.NewCrc = UpdateCrc32(0, r.OldImage.data(), r.Length);
    journal->Records.push_back(std::move(r));
  }
  const bool journaled = durability != TVEZDurability::Off;
  if (journaled) {
    c.journal_attempted = true;
    journal_->Write(*journal, durability == TVEZDurability::Full);
    c.journal_written = true;
    journal_regions_.clear();
    for (const TVEZJournalRecord& r : journal->Records)
      journal_regions_.emplace_back(r.Offset, r.Offset + r.Length);
  }
  c.journal = std::move(journal);
  c.applying = true;
  // The header's in-progress mark first, the header's final image last; the
  // rest in the order the change first wrote it (releases after pages).
  if (!c.first_header_area.empty())
    file_->WriteBuffer(c.first_header_area.data(),
                       static_cast<std::int64_t>(c.first_header_area.size()), c.header_area_offset,
                       10462);
  const Capture::Block* header_block = nullptr;
  for (const std::int64_t start : c.order) {
    const Capture::Block& block = c.blocks.at(start);
    if (start == offset_to_db_header_ && !block.is_page) {
      header_block = &block;
      continue;
    }
    file_->WriteBuffer(block.bytes.data(), static_cast<std::int64_t>(block.bytes.size()), start,
                       block.is_page ? 10469 : 10475);
  }
  if (header_block)
    file_->WriteBuffer(header_block->bytes.data(),
                       static_cast<std::int64_t>(header_block->bytes.size()), offset_to_db_header_,
                       10462);
  if (durability == TVEZDurability::Full) file_->FlushFileBuffers();
  if (journaled) journal_->Invalidate();
  const std::int64_t truncate_to = c.pending_truncate;
  if (c.is_commit) KeepRecentImages(c);
  capture_.reset();
  if (truncate_to >= 0) {
    // A file longer than its pages say is accepted: a cut that fails costs
    // only space, and the next growth drops the tail.
    try {
      SyncJournalInvalidation();
      file_->SetSize(truncate_to);
    } catch (const platform::Exception&) {
    }
  }
}

void TVEZDiskPageManager::KeepRecentImages(Capture& c) {
  // Only the pages the commit wrote whole: releases and the free space maps
  // change in small changes too, which leave the header's state as it was.
  recent_images_.clear();
  recent_images_state_ = header_.State;
  for (const std::int32_t page_no : recent_pages_) {
    const auto it = c.blocks.find(GetPageOffset(page_no));
    if (it != c.blocks.end() && it->second.is_page)
      recent_images_.emplace(it->first, std::move(it->second.bytes));
  }
}

const std::vector<std::uint8_t>* TVEZDiskPageManager::RecentImage(std::int64_t offset,
                                                                  std::int32_t header_state) const {
  // No commit since the one that wrote them: the file still holds them.
  if (header_state != recent_images_state_) return nullptr;
  const auto it = recent_images_.find(offset);
  return it != recent_images_.end() ? &it->second : nullptr;
}

bool TVEZDiskPageManager::AbandonCapture() noexcept {
  ForgetRecentImages();
  const std::unique_ptr<Capture> c = std::move(capture_);
  if (!c) return true;
  if (!c->applying) {
    // The file is untouched; a journal that reached its file (its sync may
    // be what failed) must not be taken for a torn change later.
    if (!c->journal_attempted) return true;
    try {
      journal_->Invalidate();
      return true;
    } catch (...) {
      return false;
    }
  }
  try {
    RestoreFromJournal(*c->journal);
    if (c->journal_written) {
      file_->FlushFileBuffers();
      journal_->Invalidate();
    }
    return true;
  } catch (...) {
    // The journal stays hot: the next taker of the header lock undoes it.
    return false;
  }
}

template <class Body>
void TVEZDiskPageManager::RunAsSmallChange(std::int32_t lock_error, Body body) {
  if (capture_ || !journal_->CanWrite()) {
    body();
    return;
  }
  WaitForDBHeaderLock(lock_error);
  try {
    ReadDBHeader();
    BeginCapture(false, nullptr);
    body();
    FinishCapture(durability_);
  } catch (...) {
    AbandonCapture();
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
}

void TVEZDiskPageManager::SyncJournalInvalidationOver(std::int64_t position, std::int64_t count) {
  // Another process's finished journal may name the range too, and its
  // invalidation a power cut could lose would then undo a finished commit.
  if (durability_ == TVEZDurability::Full && MultiUser() && journal_->IsOpened())
    journal_->SyncInvalidationOfOthers();
  if (!journal_->IsOpened() || !journal_->InvalidationUnsynced()) return;
  for (const auto& [from, to] : journal_regions_) {
    if (position < to && from < position + count) {
      SyncJournalInvalidation();
      return;
    }
  }
}

void TVEZDiskPageManager::SyncJournalInvalidation() {
  if (durability_ == TVEZDurability::Full && journal_->IsOpened() &&
      journal_->InvalidationUnsynced())
    journal_->SyncInvalidation();
}

bool TVEZDiskPageManager::JournalChangeFinished(const TVEZJournalContents& journal) {
  std::vector<std::uint8_t> bytes;
  for (const TVEZJournalRecord& r : journal.Records) {
    bytes.resize(r.Length);
    if (!file_->ReadBuffer(bytes.data(), r.Length, r.Offset)) return false;
    if (UpdateCrc32(0, bytes.data(), r.Length) != r.NewCrc) return false;
    if (r.Kind == TVEZJournalRecordKind::HeaderArea && r.Length == TVEZDBHeader::kSize &&
        !FileHoldsPagesOf(r.Offset, TVEZDBHeader::Decode(bytes.data())))
      return false;
  }
  return true;
}

bool TVEZDiskPageManager::FirstPageOffsetOf(std::int64_t header_offset, const TVEZDBHeader& header,
                                            std::int64_t& first_page) {
  // The crypto header and lock-byte area sizes are written at creation only.
  std::uint8_t raw[2];
  if (header_offset < 0 || header.HeaderSize < kDBHeaderSize) return false;
  const std::int64_t crypto_offset = header_offset + header.HeaderSize;
  if (!file_->ReadBuffer(raw, 2, crypto_offset) || GetLE<std::int16_t>(raw) != kCryptoHeaderSize)
    return false;
  const std::int64_t locked_offset = crypto_offset + kCryptoHeaderSize;
  if (!file_->ReadBuffer(raw, 2, locked_offset)) return false;
  const std::int16_t locked_size = GetLE<std::int16_t>(raw);
  if (locked_size < TVEZLockedBytes::kDBHeaderByte + 1) return false;
  first_page = locked_offset + locked_size + 4;
  return true;
}

bool TVEZDiskPageManager::FileHoldsPagesOf(std::int64_t header_offset, const TVEZDBHeader& header) {
  // The growth a change made may be lost to a power cut while its header
  // reached the disk: such a change did not finish, however its CRCs match.
  if (header.TotalPageCount <= 0) return true;
  std::int64_t first_page = 0;
  if (!FirstPageOffsetOf(header_offset, header, first_page)) return false;
  return file_->GetSize() >=
         first_page + static_cast<std::int64_t>(header.TotalPageCount) * header.PageSize;
}

bool TVEZDiskPageManager::JournalFitsFile(const TVEZJournalContents& journal) {
  // The header the journal was written against: one record, whose old image
  // is a header of the state the journal names.
  const TVEZJournalRecord* head = nullptr;
  for (const TVEZJournalRecord& r : journal.Records) {
    if (r.Kind != TVEZJournalRecordKind::HeaderArea || r.Length != TVEZDBHeader::kSize) continue;
    if (head != nullptr) return false;
    head = &r;
  }
  if (head == nullptr) return false;
  const TVEZDBHeader before = TVEZDBHeader::Decode(head->OldImage.data());
  if (!before.HasSignature() || before.State != journal.HeaderState ||
      before.PageSize <= TVEZDiskPageHeaderLayout::kSize || before.TotalPageCount < 0)
    return false;
  // The file beside it holds that header as the change found it, as it marked
  // it in progress, or as it left it: else the journal was written for
  // another file (or another state of this one), whatever its records say.
  std::uint8_t now[TVEZDBHeader::kSize];
  if (!file_->ReadBuffer(now, sizeof now, head->Offset)) return false;
  TVEZDBHeader marked = before;
  marked.WriteChangesState = kWriteChangesInProgress;
  std::uint8_t in_progress[TVEZDBHeader::kSize];
  marked.Encode(in_progress);
  if (std::memcmp(now, head->OldImage.data(), sizeof now) != 0 &&
      std::memcmp(now, in_progress, sizeof now) != 0 &&
      UpdateCrc32(0, now, sizeof now) != head->NewCrc)
    return false;
  // Its geometry: the pages the old header counts lie in the file, and the
  // size the journal names holds them.
  std::int64_t first_page = 0;
  if (!FirstPageOffsetOf(head->Offset, before, first_page)) return false;
  const std::int64_t page_size = before.PageSize;
  const std::int64_t pages_end = first_page + before.TotalPageCount * page_size;
  if (pages_end > file_->GetSize() || journal.OriginalFileSize < pages_end) return false;
  // Old images only of what the file held: whole pages on page boundaries,
  // regions of the header area inside it.
  for (const TVEZJournalRecord& r : journal.Records) {
    switch (r.Kind) {
      case TVEZJournalRecordKind::Page:
        if (r.Length != page_size || r.Offset < first_page ||
            (r.Offset - first_page) % page_size != 0 || r.Offset >= journal.OriginalFileSize)
          return false;
        break;
      case TVEZJournalRecordKind::HeaderArea:
        if (r.Offset < head->Offset || r.Offset + r.Length > first_page) return false;
        break;
      case TVEZJournalRecordKind::NewRegion:
        break;
    }
  }
  // Pages a torn commit added were taken before it began.
  for (const std::int32_t page_no : journal.AddedPages)
    if (page_no >= before.TotalPageCount) return false;
  return true;
}

void TVEZDiskPageManager::RestoreFromJournal(const TVEZJournalContents& journal) {
  // The file goes back to its old size but never grows on the journal's word:
  // what lay past its present end was a tail no page counts, cut since.
  const std::int64_t size = std::min(journal.OriginalFileSize, file_->GetSize());
  std::vector<std::uint8_t> image;
  for (const TVEZJournalRecord& r : journal.Records) {
    if (r.Kind == TVEZJournalRecordKind::NewRegion || r.Offset >= size) continue;
    image = r.OldImage;
    if (r.Kind == TVEZJournalRecordKind::Page && image.size() >= 8) {
      // A copy cached from the torn change may carry old state + 1.
      const std::int32_t state = GetLE<std::int32_t>(image.data() + 4);
      if (state != kFreedPageState)
        PutLE<std::int32_t>(image.data() + 4, NextPageState(NextPageState(state)));
    }
    file_->WriteBuffer(image.data(), r.Length, r.Offset, 10475);
  }
  if (file_->GetSize() != size) file_->SetSize(size);
  stamps_.clear();
  own_commits_.clear();
  ForgetRecentImages();
}

void TVEZDiskPageManager::RecoverWhileLocked() {
  if (recovering_ || capture_ || !journal_->CanWrite() || !journal_->MayBeValid()) return;
  TVEZJournalContents journal;
  if (!journal_->Read(journal)) return;  // torn or damaged: never applied
  recovering_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{recovering_};
  // A journal made for another file of this name, or one that does not fit
  // this file, is dropped whatever its records are.
  if (!JournalFitsFile(journal)) {
    journal_->Invalidate();
    return;
  }
  if (JournalChangeFinished(journal)) {
    ++finished_journals_seen_;
    journal_->Invalidate();
    return;
  }
  RestoreFromJournal(journal);
  file_->FlushFileBuffers();
  journal_->Invalidate();
  journal_->SyncInvalidation();
  ++recovered_changes_;
  std::vector<std::int32_t> kept = std::move(kept_added_pages_);
  kept_added_pages_.clear();
  if (journal.IsCommit && !journal.AddedPages.empty()) {
    pending_release_ = journal.AddedPages;
    if (journal.HeaderState == kept_header_state_)
      std::erase_if(pending_release_, [&](std::int32_t page_no) {
        return std::binary_search(kept.begin(), kept.end(), page_no);
      });
    if (free_space_manager_ && !pending_release_.empty()) ReleaseRecoveredPages();
  }
}

void TVEZDiskPageManager::RecoverFromJournal() {
  if (!IsOpened()) throw NotOpened(10459);
  // Called at every reload of a table: the usual answer (no journal) costs one
  // small read. Inside a held lock nothing can be torn, and a lock held by a
  // live process means its journal is not hot.
  if (lock_db_header_count_ > 0 || !journal_->CanWrite()) return;
  // A commit that died after its first write to the file left the header's
  // in-progress mark; before it, the file is as it was. Either way a reader
  // sees a journal that matters only through that mark. (Small changes leave
  // no mark, but they touch nothing a reader reads; whoever takes the header
  // lock next recovers them.)
  TVEZFileChangeMark mark;
  if (ReadChangeMark(mark) && mark.WriteChangesState == kWriteChangesDone) return;
  if (!journal_->MayBeValid()) return;
  if (!LockDBHeader()) return;
  UnlockDBHeader();
}

void TVEZDiskPageManager::ReleaseRecoveredPages() {
  std::vector<std::int32_t> pages = std::move(pending_release_);
  pending_release_.clear();
  // Pages a torn commit added are taken in the maps but named by nothing once
  // its writes are undone. One small change releases them; a crash before it
  // completes leaves them taken (counted as leaked, never damaged).
  RunAsSmallChange(20232, [&] {
    for (const std::int32_t page_no : pages) {
      if (free_space_manager_->ReleaseIfUsed(page_no))
        InternalWritePageState(page_no, kFreedPageState);
    }
  });
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
  std::int32_t page_no = -1;
  RunAsSmallChange(20231, [&] { page_no = free_space_manager_->GetPage(-1); });
  page->SetPageNo(page_no);
  page->AllocPageBuffer();
  ForgetStamps(page_no);
}

void TVEZDiskPageManager::InternalRemovePage(std::int32_t page_no) {
  if (!free_space_manager_) throw NotOpened(10459);
  ForgetStamps(page_no);
  // One change: a release that fails half-way leaves the page taken, so a
  // later rollback can release it again.
  RunAsSmallChange(20232, [&] {
    InternalWritePageState(page_no, kFreedPageState);
    free_space_manager_->FreePage(page_no);
  });
}

void TVEZDiskPageManager::InternalReadPage(TVEZPage* page) {
  if (!IsOpened()) throw NotOpened(10459);
  if (!page->PageBuffer()) page->AllocPageBuffer();
  ForgetStamps(page->PageNo());
  FileRead(page->PageBuffer(), PageSize(), GetPageOffset(page->PageNo()), kErrPageRead);
  if (header_.IsEncrypted() && free_space_manager_ &&
      !free_space_manager_->IsSystemPage(page->PageNo())) {
    TVEZDiskPageHeaderView h = page->PageHeader();
    std::uint8_t* data = page->PageBuffer() + TVEZDiskPageHeaderLayout::kSize;
    const bool decoded = DecryptPageData(static_cast<TVEZCryptoAlgorithm>(h.CipherType()), data,
                                         PageDataSize(), password_.Password);
    if (!decoded || (!IgnoreCRCErrors() && UpdateCrc32(0, data, PageDataSize()) != h.CRC32())) {
      // Nothing of the undecodable bytes may stay cached as the page.
      h.SetState(kFreedPageState);
      throw EVEZException(30446, "Decrypt page error. Check CRC failed. PageNo: %d",
                          {page->PageNo()});
    }
  }
  page->SetReloaded(true);
}

void TVEZDiskPageManager::InternalWritePage(TVEZPage* page) {
  if (!IsOpened()) throw NotOpened(10459);
  TVEZDiskPageHeaderView h = page->PageHeader();
  const std::int32_t old_state = h.State();
  h.SetState(NextPageState(old_state));
  ForgetStamps(page->PageNo());
  try {
    if (PageIsEncrypted(page)) {
      // The cached page stays plain: a copy is coded and written, so a
      // failure can never leave coded bytes in the cache or plain ones in
      // the file.
      const std::uint8_t* data = page->PageBuffer() + TVEZDiskPageHeaderLayout::kSize;
      h.SetCipherType(password_.CryptoAlgorithm);
      h.SetCRC32(UpdateCrc32(0, data, PageDataSize()));
      crypt_buffer_.assign(page->PageBuffer(), page->PageBuffer() + PageSize());
      if (!EncryptPageData(password_.CryptoAlgorithm,
                           crypt_buffer_.data() + TVEZDiskPageHeaderLayout::kSize, PageDataSize(),
                           password_.Password))
        throw UnknownCryptoAlgorithm(password_.CryptoAlgorithm);
      FileWrite(crypt_buffer_.data(), PageSize(), GetPageOffset(page->PageNo()), 10469);
    } else {
      FileWrite(page->PageBuffer(), PageSize(), GetPageOffset(page->PageNo()), 10469);
    }
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
    FileRead(raw, 4, GetPageOffset(page_no) + TVEZDiskPageHeaderLayout::kState, 20197);
    return GetLE<std::int32_t>(raw);
  } catch (const EVEZException&) {
    return kFreedPageState;
  }
}

void TVEZDiskPageManager::InternalWritePageState(std::int32_t page_no, std::int32_t page_state) {
  if (!IsOpened()) throw NotOpened(10459);
  std::uint8_t raw[4];
  PutLE<std::int32_t>(raw, page_state);
  FileWrite(raw, 4, GetPageOffset(page_no) + TVEZDiskPageHeaderLayout::kState, 20198);
}

void TVEZDiskPageManager::ReadPageRegion(void* buffer, std::int32_t page_no, std::uint16_t offset,
                                         std::uint16_t count) {
  if (!IsOpened()) throw NotOpened(10459);
  if (offset + count > PageSize())
    throw EVEZException(10476, "Error - invalid page offset = %d, page size = %d",
                        {offset + count, PageSize()});
  FileRead(buffer, count, GetPageOffset(page_no) + offset, 10474);
}

void TVEZDiskPageManager::WritePageRegion(const void* buffer, std::int32_t page_no,
                                          std::uint16_t offset, std::uint16_t count) {
  if (!IsOpened()) throw NotOpened(10459);
  if (offset + count > PageSize())
    throw EVEZException(10477, "Error - invalid page offset = %d, page size = %d",
                        {offset + count, PageSize()});
  // Direct bytes are outside every journal: an older journal must not look
  // hot after a power cut once they changed a page it names.
  if (!capture_) SyncJournalInvalidationOver(GetPageOffset(page_no) + offset, count);
  FileWrite(buffer, count, GetPageOffset(page_no) + offset, 10475);
}

bool TVEZDiskPageManager::WriteRekeyedCopy(const std::string& dest_file_name,
                                           const TVEZPassword& new_password,
                                           const std::function<bool(std::int32_t)>& progress) {
  if (!IsOpened() || !free_space_manager_) throw NotOpened(10459);
  const bool was_encrypted = header_.IsEncrypted();
  const bool encrypt = !new_password.Password.empty();
  TVEZDBHeader header = header_;
  header.Encrypted = encrypt ? 0xFF : 0;
  TVEZCryptoHeader crypto;
  if (encrypt) {
    crypto.CryptoAlgorithm = new_password.CryptoAlgorithm;
    for (auto& b : crypto.ControlBlock)
      b = static_cast<std::uint8_t>(platform::Random(255));
    crypto.ControlBlockCRC = UpdateCrc32(0, crypto.ControlBlock.data(), 256);
    if (!EncryptPageData(new_password.CryptoAlgorithm, crypto.ControlBlock.data(), 256,
                         new_password.Password))
      throw UnknownCryptoAlgorithm(new_password.CryptoAlgorithm);
  }
  // The bytes before the first page, with the new header records.
  std::vector<std::uint8_t> head(static_cast<std::size_t>(offset_to_first_page_));
  FileRead(head.data(), offset_to_first_page_, 0, 10464);
  header.Encode(head.data() + offset_to_db_header_);
  crypto.Encode(head.data() + offset_to_crypto_header_);
  platform::FileSystem& fs = platform::DefaultFileSystem();
  std::unique_ptr<platform::File> out =
      fs.CreateFile(dest_file_name, platform::FileShare::kExclusive);
  std::int64_t pos = 0;
  auto put = [&](const std::uint8_t* bytes, std::int64_t count) {
    out->WriteAt(pos, bytes, static_cast<std::size_t>(count));
    pos += count;
  };
  put(head.data(), offset_to_first_page_);
  std::vector<std::uint8_t> page(PageSize());
  const std::int32_t data_size = PageDataSize();
  std::int32_t reported = -1;
  for (std::int32_t page_no = 0; page_no < header_.TotalPageCount; ++page_no) {
    if (progress) {
      // Heard once per percent, not once per page.
      const auto percent =
          static_cast<std::int32_t>(std::int64_t{page_no} * 100 / header_.TotalPageCount);
      if (percent != reported) {
        reported = percent;
        if (!progress(percent)) {
          SecureZero(page.data(), page.size());
          return false;
        }
      }
    }
    FileRead(page.data(), PageSize(), GetPageOffset(page_no), kErrPageRead);
    TVEZDiskPageHeaderView h(page.data());
    std::uint8_t* data = page.data() + TVEZDiskPageHeaderLayout::kSize;
    const std::uint16_t type = h.PageType();
    // Free-space maps, the direct-access internal files and pages never
    // written keep their bytes: they are stored plain either way.
    const bool coded_kind = !free_space_manager_->IsSystemPage(page_no) &&
                            type != kPageTypeActiveSessionList && type != kPageTypeTableLocks &&
                            std::memcmp(page.data(), "VEZ", 3) == 0;
    if (coded_kind) {
      const bool freed = h.State() == kFreedPageState;
      if (was_encrypted) {
        const bool decoded = DecryptPageData(static_cast<TVEZCryptoAlgorithm>(h.CipherType()), data,
                                             data_size, password_.Password) &&
                             UpdateCrc32(0, data, data_size) == h.CRC32();
        if (!decoded) {
          // A freed page's bytes are dead; a page in use must decode.
          if (!freed)
            throw EVEZException(30446, "Decrypt page error. Check CRC failed. PageNo: %d",
                                {page_no});
          std::memset(data, 0, static_cast<std::size_t>(data_size));
        }
      }
      if (encrypt) {
        h.SetCipherType(new_password.CryptoAlgorithm);
        h.SetCRC32(UpdateCrc32(0, data, data_size));
        if (!EncryptPageData(new_password.CryptoAlgorithm, data, data_size, new_password.Password))
          throw UnknownCryptoAlgorithm(new_password.CryptoAlgorithm);
      } else {
        h.SetCipherType(0);
        h.SetCRC32(0);
      }
    }
    put(page.data(), PageSize());
  }
  // Whatever follows the pages (a longer file) is not part of the database.
  SecureZero(page.data(), page.size());
  if (durability_ == TVEZDurability::Full) {
    out->Sync();
    SyncFolderOf(dest_file_name);
  }
  // The copy is complete: an abort asked for now no longer stops it.
  if (progress) progress(100);
  return true;
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
  // Another process holds the lock only for one change or commit: wait for
  // it as for any other lock of the file.
  WaitForDBHeaderLock(20236);
  try {
    ReadDBHeader();
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  return header_.TotalPageCount;
}

bool TVEZDiskPageManager::IsPageNoInStorage(std::int32_t page_no) {
  if (page_no < 0) return false;
  // Page checks ask for every page they follow; the header lock and re-read
  // are paid only when the number is past what this process last saw.
  if (page_no < header_.TotalPageCount) return true;
  return page_no < GetPageCount();
}

bool TVEZDiskPageManager::IsPageSynchronized(std::int32_t session_id, TVEZPage* page) {
  if (!MultiUser()) return true;
  std::int32_t table_id = 0, state = 0;
  if (!table_pages_cache_->GetWorkTableState(session_id, table_id, state)) return false;
  const auto it = stamps_.find(page->PageNo());
  if (it == stamps_.end()) return false;
  for (const Stamp& s : it->second) {
    if (s.session_id != session_id) continue;
    if (s.table_id != table_id) return false;
    if (s.table_state == state) return true;
    // Checked under a state that only this session's own commits moved on.
    const auto own = own_commits_.find({session_id, table_id});
    return own != own_commits_.end() && own->second.base == s.table_state &&
           own->second.current == state;
  }
  return false;
}

void TVEZDiskPageManager::KeepStampsAfterOwnCommit(std::int32_t session_id, std::int32_t table_id,
                                                   std::int32_t from_state, std::int32_t to_state) {
  if (!MultiUser() || last_commit_session_ != session_id) return;
  // A run of this session's commits keeps the state its first began from,
  // so stamps of any commit of the run stay good.
  const std::pair<std::int32_t, std::int32_t> key{session_id, table_id};
  const auto it = own_commits_.find(key);
  const std::int32_t base =
      it != own_commits_.end() && it->second.current == from_state ? it->second.base : from_state;
  own_commits_[key] = {base, to_state};
  for (const std::int32_t page_no : last_commit_pages_) {
    std::vector<Stamp>& list = stamps_[page_no];
    bool stamped = false;
    for (Stamp& s : list) {
      if (s.session_id == session_id) {
        s = {session_id, table_id, base};
        stamped = true;
      }
    }
    if (!stamped) list.push_back({session_id, table_id, base});
  }
  last_commit_pages_.clear();
}

void TVEZDiskPageManager::MarkPageSynchronized(std::int32_t session_id, TVEZPage* page) {
  if (!MultiUser()) return;
  std::int32_t table_id = 0, state = 0;
  if (!table_pages_cache_->GetWorkTableState(session_id, table_id, state)) return;
  // Within a run of the session's own commits every stamp names the run's
  // first state, which stays good for the whole run.
  const auto own = own_commits_.find({session_id, table_id});
  if (own != own_commits_.end() && own->second.current == state) state = own->second.base;
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

void TVEZDiskPageManager::ApplyChanges(std::int32_t session_id) {
  commit_durability_ = full_durability_requested_ ? TVEZDurability::Full : durability_;
  full_durability_requested_ = false;
  TVEZPageManager::ApplyChanges(session_id);
}

void TVEZDiskPageManager::BeforeCommitWrites(std::int32_t /*session_id*/,
                                             const TVEZCommitChanges& changes) {
  if (!IsOpened()) throw NotOpened(10460);
  last_commit_session_ = kNoCommitSession;
  last_commit_pages_.clear();
  recent_pages_.clear();
  WaitForDBHeaderLock(20213);
  commit_holds_header_lock_ = true;
  ReadDBHeader();
  // A marker found on disk means an earlier commit was cut off: it stays
  // until the file is repaired.
  commit_found_damage_ = header_.WriteChangesState != kWriteChangesDone;
  // Gathered at every durability, so that a commit that fails in this
  // process is put back at once; durability only decides on the journal.
  if (journal_->CanWrite()) BeginCapture(true, &changes.AddedPageNumbers);
  header_.WriteChangesState = kWriteChangesInProgress;
  WriteDBHeader(true);
}

void TVEZDiskPageManager::AfterCommitWrites(std::int32_t session_id,
                                            const TVEZCommitChanges& changes) {
  last_commit_session_ = session_id;
  last_commit_pages_.clear();
  for (const TVEZPage* page : changes.PagesToWrite)
    last_commit_pages_.push_back(page->PageNo());
  recent_pages_ = last_commit_pages_;
  header_.State = NextHeaderState(header_.State);
  header_.WriteChangesState = commit_found_damage_ ? kWriteChangesInProgress : kWriteChangesDone;
  WriteDBHeader(false);
  if (capture_)
    FinishCapture(commit_durability_);
  else if (commit_durability_ == TVEZDurability::Full)
    file_->FlushFileBuffers();
  commit_holds_header_lock_ = false;
  UnlockDBHeader();
}

TVEZFailedCommitStorage TVEZDiskPageManager::OnCommitFailed(
    std::int32_t /*session_id*/, const TVEZCommitChanges& changes) noexcept {
  TVEZFailedCommitStorage result = TVEZFailedCommitStorage::kPartlyCommitted;
  if (capture_) {
    const bool reached_file = capture_->applying;
    const bool journaled = capture_->journal_written;
    const std::int32_t header_state = capture_->header_state;
    if (AbandonCapture()) {
      result = TVEZFailedCommitStorage::kRestored;
      // The file now holds these pages' old images with state + 2, which the
      // dirty copies (state + 1) would reach again at a retry with other
      // bytes: another process's copy of the restored page would pass for
      // current. They move on by one, so a retry writes state + 3.
      if (reached_file)
        for (TVEZPage* page : changes.PagesToWrite) {
          TVEZDiskPageHeaderView h = page->PageHeader();
          h.SetState(NextPageState(h.State()));
        }
    } else if (reached_file && journaled) {
      // Recovery undoes the commit later; the session keeps its added pages
      // (to retry, or to release at its rollback), so recovery must not.
      try {
        kept_added_pages_ = changes.AddedPageNumbers;
        std::sort(kept_added_pages_.begin(), kept_added_pages_.end());
        kept_header_state_ = header_state;
      } catch (...) {
        kept_added_pages_.clear();
      }
    }
  }
  if (commit_holds_header_lock_) {
    commit_holds_header_lock_ = false;
    try {
      UnlockDBHeader();
    } catch (...) {
      // The commit's own error is the one to report.
    }
  }
  return result;
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
  if (lock_db_header_count_ > 0) {
    lock_db_header_count_ = CheckedAdd(lock_db_header_count_, 1);
    return true;
  }
  if (!file_->LockByte(offset_to_locked_bytes_ + TVEZLockedBytes::kDBHeaderByte, 1)) return false;
  lock_db_header_count_ = 1;
  // Whoever held the lock before may have died in the middle of a change.
  try {
    RecoverWhileLocked();
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  return true;
}

void TVEZDiskPageManager::WaitForDBHeaderLock(std::int32_t lock_error) {
  if (!RetryCall(kHeaderLockTries, kHeaderLockDelayMs, [&] { return LockDBHeader(); }))
    throw EVEZException(lock_error, "Database is locked");
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
      // Journaled like an allocation: behind a header found further into the
      // file the id may straddle a sector, and a torn write is then undone.
      RunAsSmallChange(30401, [&] { FileWrite(raw, 4, offset_to_last_object_id_, 30404); });
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
  if (capture_) capture_->current_size = GetPageOffset(total);
}

void TVEZDiskPageManager::TruncateFile(std::int32_t page_count) {
  if (page_count < 1 || page_count > header_.TotalPageCount) return;
  header_.TotalPageCount -= page_count;
  // Header first: a crash before the cut leaves a longer file, which opens.
  WriteDBHeader(true);
  const std::int64_t size = GetPageOffset(header_.TotalPageCount);
  if (capture_) {
    // Cut once the change is complete and its journal invalidated.
    if (capture_->pending_truncate < 0 || size < capture_->pending_truncate)
      capture_->pending_truncate = size;
    return;
  }
  SyncJournalInvalidation();
  file_->SetSize(size);
}

void TVEZDiskPageManager::TruncateDatabase() {
  const std::int32_t k = header_.TotalPageCount - 1 - header_.LastUsedPageNo;
  if (k > 0) TruncateFile(k);
}

}  // namespace vez
