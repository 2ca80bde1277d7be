#include "dbengine/storage/VEZRollbackJournal.h"

#include <cstring>

#include "dbengine/foundation/VEZCrc32.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "platform/os/File.h"

namespace vez {

namespace {

constexpr std::uint8_t kMagic[8] = {'V', 'E', 'Z', 'J', 'R', 'N', 'L', 0x01};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kRecordHeadSize = 17;
// A journal body never needs more than this (every page of the largest file
// fits many times over); a larger announced size is damage.
constexpr std::int64_t kMaxBodySize = std::int64_t{1} << 40;

std::uint32_t Checksum(const std::uint8_t* head, const std::uint8_t* body, std::size_t body_size) {
  std::uint32_t crc = UpdateCrc32(0, head, 44);
  // UpdateCrc32 takes 32-bit lengths: feed a large body in pieces.
  for (std::size_t done = 0; done < body_size;) {
    const std::size_t n = std::min<std::size_t>(body_size - done, 1u << 30);
    crc = UpdateCrc32(crc, body + done, static_cast<std::uint32_t>(n));
    done += n;
  }
  return crc;
}

}  // namespace

std::vector<std::uint8_t> EncodeJournal(const TVEZJournalContents& c) {
  std::size_t body = c.AddedPages.size() * 4;
  for (const TVEZJournalRecord& r : c.Records)
    body += kRecordHeadSize + r.OldImage.size();
  std::vector<std::uint8_t> out(kJournalHeadSize + body);
  std::uint8_t* h = out.data();
  std::memcpy(h, kMagic, 8);
  PutLE<std::uint32_t>(h + 8, kFormatVersion);
  PutLE<std::int32_t>(h + 12, c.HeaderState);
  PutLE<std::int64_t>(h + 16, c.OriginalFileSize);
  PutLE<std::int64_t>(h + 24, static_cast<std::int64_t>(body));
  PutLE<std::uint32_t>(h + 32, static_cast<std::uint32_t>(c.Records.size()));
  PutLE<std::uint32_t>(h + 36, static_cast<std::uint32_t>(c.AddedPages.size()));
  PutLE<std::uint32_t>(h + 40, c.IsCommit ? 1u : 0u);
  std::uint8_t* p = h + kJournalHeadSize;
  for (const TVEZJournalRecord& r : c.Records) {
    p[0] = static_cast<std::uint8_t>(r.Kind);
    PutLE<std::int64_t>(p + 1, r.Offset);
    PutLE<std::uint32_t>(p + 9, r.Length);
    PutLE<std::uint32_t>(p + 13, r.NewCrc);
    p += kRecordHeadSize;
    if (!r.OldImage.empty()) std::memcpy(p, r.OldImage.data(), r.OldImage.size());
    p += r.OldImage.size();
  }
  for (const std::int32_t page_no : c.AddedPages) {
    PutLE<std::int32_t>(p, page_no);
    p += 4;
  }
  PutLE<std::uint32_t>(h + 44, Checksum(h, h + kJournalHeadSize, body));
  return out;
}

std::int64_t JournalBodySize(const std::uint8_t* head) {
  if (std::memcmp(head, kMagic, 8) != 0) return -1;
  if (GetLE<std::uint32_t>(head + 8) != kFormatVersion) return -1;
  const std::int64_t body = GetLE<std::int64_t>(head + 24);
  if (body < 0 || body > kMaxBodySize) return -1;
  return body;
}

bool DecodeJournal(const std::uint8_t* bytes, std::size_t size, TVEZJournalContents& contents) {
  if (size < kJournalHeadSize) return false;
  const std::int64_t body = JournalBodySize(bytes);
  if (body < 0 || static_cast<std::uint64_t>(body) > size - kJournalHeadSize) return false;
  const std::uint8_t* p = bytes + kJournalHeadSize;
  const std::size_t body_size = static_cast<std::size_t>(body);
  if (Checksum(bytes, p, body_size) != GetLE<std::uint32_t>(bytes + 44)) return false;
  TVEZJournalContents c;
  c.HeaderState = GetLE<std::int32_t>(bytes + 12);
  c.OriginalFileSize = GetLE<std::int64_t>(bytes + 16);
  const std::uint32_t record_count = GetLE<std::uint32_t>(bytes + 32);
  const std::uint32_t added_count = GetLE<std::uint32_t>(bytes + 36);
  const std::uint32_t flags = GetLE<std::uint32_t>(bytes + 40);
  if (c.OriginalFileSize < 0 || (flags & ~1u) != 0) return false;
  c.IsCommit = (flags & 1u) != 0;
  std::size_t left = body_size;
  // Every record needs its head: a count the body cannot hold is damage, and
  // is refused before anything is reserved.
  if (record_count > left / kRecordHeadSize) return false;
  c.Records.reserve(record_count);
  for (std::uint32_t i = 0; i < record_count; ++i) {
    if (left < kRecordHeadSize) return false;
    TVEZJournalRecord r;
    const std::uint8_t kind = p[0];
    if (kind < 1 || kind > 3) return false;
    r.Kind = static_cast<TVEZJournalRecordKind>(kind);
    r.Offset = GetLE<std::int64_t>(p + 1);
    r.Length = GetLE<std::uint32_t>(p + 9);
    r.NewCrc = GetLE<std::uint32_t>(p + 13);
    if (r.Offset < 0 || r.Length == 0 || r.Length > kJournalMaxRecordLength ||
        r.Offset > kMaxBodySize * 1024)
      return false;
    p += kRecordHeadSize;
    left -= kRecordHeadSize;
    if (r.Kind != TVEZJournalRecordKind::NewRegion) {
      if (left < r.Length) return false;
      r.OldImage.assign(p, p + r.Length);
      p += r.Length;
      left -= r.Length;
    }
    c.Records.push_back(std::move(r));
  }
  if (left != static_cast<std::size_t>(added_count) * 4) return false;
  c.AddedPages.reserve(added_count);
  for (std::uint32_t i = 0; i < added_count; ++i, p += 4) {
    const std::int32_t page_no = GetLE<std::int32_t>(p);
    if (page_no < 0) return false;
    c.AddedPages.push_back(page_no);
  }
  contents = std::move(c);
  return true;
}

// ---------------------------------------------------------------------------

TVEZRollbackJournal::TVEZRollbackJournal() = default;

TVEZRollbackJournal::~TVEZRollbackJournal() {
  Close();
}

void TVEZRollbackJournal::Fail(const char* what, const std::exception& e) const {
  throw EVEZException(10481, "Cannot %s rollback journal '%s': %s",
                      {std::string(what), path_, std::string(e.what())});
}

bool TVEZRollbackJournal::Open(const std::string& database_file_name, bool truncate) {
  Close();
  path_ = PathFor(database_file_name);
  platform::FileSystem& fs = platform::DefaultFileSystem();
  bool created = false;
  try {
    created = !fs.FileExists(path_);
    if (truncate || created)
      file_ = fs.CreateFile(path_, platform::FileShare::kDenyNone);
    else
      file_ = fs.OpenFile(path_, platform::FileAccess::kReadWrite, platform::FileShare::kDenyNone);
  } catch (const platform::Exception& e) {
    Fail("open", e);
  }
  writable_ = true;
  invalidation_unsynced_ = false;
  return created;
}

bool TVEZRollbackJournal::OpenForReading(const std::string& database_file_name) {
  Close();
  path_ = PathFor(database_file_name);
  platform::FileSystem& fs = platform::DefaultFileSystem();
  try {
    if (!fs.FileExists(path_)) return false;
    file_ = fs.OpenFile(path_, platform::FileAccess::kRead, platform::FileShare::kDenyNone);
  } catch (const platform::Exception&) {
    // A journal this process cannot read cannot be applied by it either.
    file_.reset();
    return false;
  }
  writable_ = false;
  return true;
}

void TVEZRollbackJournal::Close() noexcept {
  if (file_) {
    try {
      file_->Close();
    } catch (...) {
      // Nothing in the journal is owed to the file system at close: a journal
      // that matters was synced or is invalid anyway.
    }
  }
  file_.reset();
  writable_ = false;
  invalidation_unsynced_ = false;
  head_known_ = false;
}

void TVEZRollbackJournal::Write(const TVEZJournalContents& contents, bool sync) {
  const std::vector<std::uint8_t> bytes = EncodeJournal(contents);
  try {
    file_->WriteAt(0, bytes.data(), bytes.size());
    if (sync) file_->Sync();
  } catch (const platform::Exception& e) {
    Fail("write", e);
  }
  invalidation_unsynced_ = false;
  std::memcpy(known_head_, bytes.data() + 8, sizeof known_head_);
  head_known_ = true;
}

void TVEZRollbackJournal::SyncInvalidationOfOthers() {
  if (!file_ || !writable_) return;
  std::uint8_t head[kJournalHeadSize];
  try {
    if (file_->ReadPartialAt(0, head, sizeof head) != sizeof head) return;
    // A sound magic is a change in progress or a hot journal: recovery's.
    if (std::memcmp(head, kMagic, 8) == 0) return;
    if (head_known_ && std::memcmp(head + 8, known_head_, sizeof known_head_) == 0) return;
    file_->Sync();
  } catch (const platform::Exception& e) {
    Fail("sync", e);
  }
  std::memcpy(known_head_, head + 8, sizeof known_head_);
  head_known_ = true;
  invalidation_unsynced_ = false;
}

bool TVEZRollbackJournal::MayBeValid() {
  if (!file_) return false;
  std::uint8_t magic[8] = {};
  try {
    if (file_->ReadPartialAt(0, magic, sizeof magic) != sizeof magic) return false;
  } catch (const platform::Exception& e) {
    Fail("read", e);
  }
  return std::memcmp(magic, kMagic, 8) == 0;
}

bool TVEZRollbackJournal::Read(TVEZJournalContents& contents) {
  if (!file_) return false;
  try {
    std::uint8_t head[kJournalHeadSize];
    if (file_->ReadPartialAt(0, head, sizeof head) != sizeof head) return false;
    const std::int64_t body = JournalBodySize(head);
    if (body < 0 || body > file_->Size() - static_cast<std::int64_t>(kJournalHeadSize))
      return false;
    std::vector<std::uint8_t> bytes(kJournalHeadSize + static_cast<std::size_t>(body));
    if (file_->ReadPartialAt(0, bytes.data(), bytes.size()) != bytes.size()) return false;
    return DecodeJournal(bytes.data(), bytes.size(), contents);
  } catch (const platform::Exception& e) {
    Fail("read", e);
  }
}

void TVEZRollbackJournal::Invalidate() {
  static constexpr std::uint8_t kZero[8] = {};
  try {
    file_->WriteAt(0, kZero, sizeof kZero);
  } catch (const platform::Exception& e) {
    Fail("write", e);
  }
  invalidation_unsynced_ = true;
}

void TVEZRollbackJournal::SyncInvalidation() {
  if (!invalidation_unsynced_) return;
  try {
    file_->Sync();
  } catch (const platform::Exception& e) {
    Fail("sync", e);
  }
  invalidation_unsynced_ = false;
}

}  // namespace vez
