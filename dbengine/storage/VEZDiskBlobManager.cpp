#include "dbengine/storage/VEZDiskBlobManager.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "dbengine/foundation/VEZCompressedBLOBStream.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZStream.h"
#include "dbengine/storage/VEZBaseRecordManager.h"
#include "dbengine/storage/VEZFieldManager.h"
#include "dbengine/storage/VEZPageManager.h"
#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

constexpr std::int32_t kInternalSession = -2;
constexpr std::int32_t kHandleOffset = 6;  // after the 6-byte identifier
constexpr std::int32_t kLocator = 22;
constexpr std::int32_t kLargeDataStart = 32;
constexpr std::int32_t kErrMetadata = 20164;
const TVEZPageItemID kDeletedBlobID{-1, kLargeBlobItemNo};

bool NamesStoredBlob(TVEZPageItemID id) {
  return id.PageNo != 0 && id.PageNo != -1;
}

// Cache block: 0 Int32 NumBlocks | 4 Int64 UncompressedSize | 12 bytes.
std::uint8_t* NewCacheBlock(std::int32_t num_blocks, std::int64_t uncompressed_size,
                            const std::uint8_t* data, std::int64_t data_size) {
  auto* block = static_cast<std::uint8_t*>(
      MemoryManager().GetMem(platform::CheckedAdd<std::int64_t>(kBlobCacheHeadSize, data_size)));
  PutLE<std::int32_t>(block, num_blocks);
  PutLE<std::int64_t>(block + 4, uncompressed_size);
  if (data_size > 0)
    std::memcpy(block + kBlobCacheHeadSize, data, static_cast<std::size_t>(data_size));
  return block;
}
std::int32_t CacheNumBlocks(const std::uint8_t* block) {
  return GetLE<std::int32_t>(block);
}
std::int64_t CacheUncompressedSize(const std::uint8_t* block) {
  return GetLE<std::int64_t>(block + 4);
}
std::int64_t CacheDataSize(const std::uint8_t* block) {
  return MemoryManager().GetMemoryBufferSize(block) - kBlobCacheHeadSize;
}

// Owns a cache block until it is handed over.
struct BlockOwner {
  std::uint8_t* block = nullptr;
  ~BlockOwner() {
    if (!block) return;
    try {
      MemoryManager().FreeAndNillMem(block);
    } catch (...) {
    }
  }
  std::uint8_t* release() {
    std::uint8_t* b = block;
    block = nullptr;
    return b;
  }
};

[[noreturn]] void RaiseUnreadable(std::int32_t page_no, const char* what) {
  throw EVEZException(kErrCannotReadBlob, "Cannot read BLOB field value. PageNo=%d (%s)",
                      {page_no, std::string(what)});
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEZSmallBlobPage

std::int32_t TVEZSmallBlobPage::BlobCount() const {
  return GetLE<std::uint16_t>(page_->PageData());
}

void TVEZSmallBlobPage::SetBlobCount(std::int32_t count) {
  PutLE<std::uint16_t>(page_->PageData(), static_cast<std::uint16_t>(count));
}

void TVEZSmallBlobPage::RaiseDamaged() const {
  throw EVEZException(kErrBlobNotFound, "Cannot find blob field. Damaged BLOB page: PageNo=%d",
                      {page_->PageNo()});
}

std::int32_t TVEZSmallBlobPage::EndOfEntries() const {
  const std::int32_t p = page_->PageDataSize();
  const std::uint8_t* d = page_->PageData();
  std::int32_t off = 2;
  for (std::int32_t i = 0, n = BlobCount(); i < n; ++i) {
    if (p - off < kBlobEntryHeadSize) RaiseDamaged();
    const auto size = GetLE<std::int64_t>(d + off + 6);
    if (size < 0 || size > p - off - kBlobEntryHeadSize) RaiseDamaged();
    off += kBlobEntryHeadSize + static_cast<std::int32_t>(size);
  }
  return off;
}

std::int32_t TVEZSmallBlobPage::FindEntry(std::uint16_t id) const {
  const std::int32_t p = page_->PageDataSize();
  const std::uint8_t* d = page_->PageData();
  std::int32_t off = 2;
  for (std::int32_t i = 0, n = BlobCount(); i < n; ++i) {
    if (p - off < kBlobEntryHeadSize) RaiseDamaged();
    const auto size = GetLE<std::int64_t>(d + off + 6);
    if (size < 0 || size > p - off - kBlobEntryHeadSize) RaiseDamaged();
    if (GetLE<std::uint16_t>(d + off) == id) return off;
    off += kBlobEntryHeadSize + static_cast<std::int32_t>(size);
  }
  return -1;
}

std::uint16_t TVEZSmallBlobPage::GetNewBlobID() const {
  std::int32_t candidate = BlobCount();
  for (std::int32_t tries = 0; tries < 0xFFFF; ++tries) {
    if (candidate >= 0xFFFF) break;
    if (FindEntry(static_cast<std::uint16_t>(candidate)) < 0)
      return static_cast<std::uint16_t>(candidate);
    candidate = candidate == 0xFFFE ? 0 : candidate + 1;
  }
  throw EVEZException(kErrInvalidBlobID, "Invalid blob field ID");
}

void TVEZSmallBlobPage::AddBlob(const std::uint8_t* cache_block, TVEZPageItemID& id) {
  const std::uint16_t new_id = GetNewBlobID();
  const std::int32_t off = EndOfEntries();
  const std::int64_t size = CacheDataSize(cache_block);
  std::uint8_t* e = page_->PageData() + off;
  PutLE<std::uint16_t>(e, new_id);
  PutLE<std::int32_t>(e + 2, CacheNumBlocks(cache_block));
  PutLE<std::int64_t>(e + 6, size);
  PutLE<std::int64_t>(e + 14, CacheUncompressedSize(cache_block));
  if (size > 0)
    std::memcpy(e + kBlobEntryHeadSize, cache_block + kBlobCacheHeadSize,
                static_cast<std::size_t>(size));
  SetBlobCount(BlobCount() + 1);
  page_->SetIsDirty(true);
  id = {page_->PageNo(), new_id};
}

void TVEZSmallBlobPage::DeleteBlob(TVEZPageItemID id, std::int32_t& blob_size) {
  const std::int32_t off = FindEntry(id.PageItemNo);
  if (off < 0) throw EVEZException(kErrBlobNotFound, "Cannot find blob field");
  const std::int32_t end = EndOfEntries();
  std::uint8_t* d = page_->PageData();
  const auto size = static_cast<std::int32_t>(GetLE<std::int64_t>(d + off + 6));
  const std::int32_t next = off + kBlobEntryHeadSize + size;
  std::memmove(d + off, d + next, static_cast<std::size_t>(end - next));
  std::memset(d + end - (next - off), 0, static_cast<std::size_t>(next - off));
  SetBlobCount(BlobCount() - 1);
  page_->SetIsDirty(true);
  blob_size = size + kBlobEntryHeadSize;
}

std::uint8_t* TVEZSmallBlobPage::ReadBlob(TVEZPageItemID id) const {
  const std::int32_t off = FindEntry(id.PageItemNo);
  if (off < 0) return nullptr;
  const std::uint8_t* e = page_->PageData() + off;
  return NewCacheBlock(GetLE<std::int32_t>(e + 2), GetLE<std::int64_t>(e + 14),
                       e + kBlobEntryHeadSize, GetLE<std::int64_t>(e + 6));
}

// ---------------------------------------------------------------------------
// TVEZDiskBlobManager

TVEZDiskBlobManager::TVEZDiskBlobManager(TVEZPageManager* page_manager,
                                         TVEZBaseFieldManager* field_manager,
                                         TVEZBaseRecordManager* record_manager)
    : page_manager_(page_manager),
      field_manager_(field_manager),
      record_manager_(record_manager),
      blob_page_index_(page_manager) {}

void TVEZDiskBlobManager::CheckCachesReleased() const {
  if (caches_.LiveCount() > 0)
    throw EVEZException(kErrBlobCacheNotReleased, "Blob cache not released");
}

void TVEZDiskBlobManager::LoadMetadata(TVEZStream& stream) {
  std::uint8_t b[4];
  CheckedStreamRead(b, 4, stream, kErrMetadata);
  blob_page_index_.OpenIndex(GetLE<std::int32_t>(b));
}

void TVEZDiskBlobManager::SaveMetadata(TVEZStream& stream) const {
  std::uint8_t b[4];
  PutLE<std::int32_t>(b, blob_page_index_.RootPageNo());
  CheckedStreamWrite(b, 4, stream, kErrMetadata);
}

void TVEZDiskBlobManager::CreateBlobPageIndex() {
  blob_page_index_.CreateIndex(kInternalSession);
}

std::int32_t TVEZDiskBlobManager::FieldOffset(std::int32_t field_no) const {
  return field_manager_->FieldDefs().GetDef(field_no)->MemoryOffset;
}

TVEZPageItemID TVEZDiskBlobManager::GetBlobID(const std::uint8_t* record,
                                              std::int32_t field_no) const {
  return TVEZPageItemID::Decode(record + FieldOffset(field_no));
}

std::uint32_t TVEZDiskBlobManager::GetCacheHandle(const std::uint8_t* record,
                                                  std::int32_t field_no) const {
  return GetLE<std::uint32_t>(record + FieldOffset(field_no) + kHandleOffset);
}

void TVEZDiskBlobManager::SetBlobID(std::uint8_t* record, std::int32_t field_no,
                                    TVEZPageItemID id) {
  id.Encode(record + FieldOffset(field_no));
}

void TVEZDiskBlobManager::SetCacheHandle(std::uint8_t* record, std::int32_t field_no,
                                         std::uint32_t handle) {
  PutLE<std::uint32_t>(record + FieldOffset(field_no) + kHandleOffset, handle);
}

void TVEZDiskBlobManager::SetNull(std::uint8_t* record, std::int32_t field_no, bool is_null) {
  SetBufferBit(is_null, field_no, record);
}

void TVEZDiskBlobManager::ClearBlobInRecordBuffer(std::uint8_t* record, std::int32_t field_no,
                                                  bool force) {
  if (!record) return;
  const std::uint32_t handle = GetCacheHandle(record, field_no);
  if (!caches_.Resolve(handle)) {
    SetCacheHandle(record, field_no, TVEZBlobHandleTable::kNoHandle);
    return;
  }
  if (caches_.IsPending(handle) && !force) return;
  caches_.Release(handle);
  SetCacheHandle(record, field_no, TVEZBlobHandleTable::kNoHandle);
}

void TVEZDiskBlobManager::NewPendingCache(std::uint8_t* record, std::int32_t field_no,
                                          std::int32_t num_blocks, std::int64_t uncompressed_size,
                                          const std::uint8_t* data, std::int64_t data_size) {
  std::uint8_t* block = NewCacheBlock(num_blocks, uncompressed_size, data, data_size);
  const std::uint32_t handle = caches_.Add(block, true);  // frees block on failure
  ClearBlobInRecordBuffer(record, field_no, true);
  SetCacheHandle(record, field_no, handle);
}

std::uint8_t* TVEZDiskBlobManager::EnsureCache(std::int32_t session_id, std::uint8_t* record,
                                               std::int32_t field_no) {
  if (std::uint8_t* block = caches_.Resolve(GetCacheHandle(record, field_no))) return block;
  ReadBlob(session_id, record, field_no);
  return caches_.Resolve(GetCacheHandle(record, field_no));
}

void TVEZDiskBlobManager::ReadBlob(std::int32_t session_id, std::uint8_t* record,
                                   std::int32_t field_no) {
  if (caches_.Resolve(GetCacheHandle(record, field_no))) return;
  const TVEZPageItemID id = GetBlobID(record, field_no);
  if (!NamesStoredBlob(id)) return;
  BlockOwner owner{ReadStoredBlob(session_id, id)};
  // An id missing from its page reads as a cache without bytes.
  if (!owner.block) owner.block = NewCacheBlock(0, 0, nullptr, 0);
  SetCacheHandle(record, field_no, caches_.Add(owner.release(), false));
}

void TVEZDiskBlobManager::WriteBlob(std::int32_t session_id, std::uint8_t* record,
                                    std::int32_t field_no) {
  if (StoreBlob(session_id, record, field_no)) ClearBlobInRecordBuffer(record, field_no, false);
}

bool TVEZDiskBlobManager::StoreBlob(std::int32_t session_id, std::uint8_t* record,
                                    std::int32_t field_no) {
  const std::uint32_t handle = GetCacheHandle(record, field_no);
  const std::uint8_t* block = caches_.Resolve(handle);
  if (!block || !caches_.IsPending(handle)) return false;
  TVEZPageItemID id = GetBlobID(record, field_no);
  if (NamesStoredBlob(id)) {
    DeleteStoredBlob(session_id, id);
    id = kDeletedBlobID;
  }
  if (CacheUncompressedSize(block) > 0) id = WriteStoredBlob(session_id, block);
  SetBlobID(record, field_no, id);
  caches_.SetPending(handle, false);
  return true;
}

void TVEZDiskBlobManager::KeepCachePending(std::uint8_t* record, std::int32_t field_no) noexcept {
  const std::uint32_t handle = GetCacheHandle(record, field_no);
  if (caches_.Resolve(handle)) caches_.SetPending(handle, true);
}

void TVEZDiskBlobManager::WriteBlobs(std::int32_t session_id, std::uint8_t* record) {
  for (std::int32_t i = 0; i < field_manager_->FieldCount(); ++i)
    if (IsBlobBaseFieldType(field_manager_->FieldDefs().GetDef(i)->BaseFieldType))
      WriteBlob(session_id, record, i);
}

void TVEZDiskBlobManager::DeleteBlob(std::int32_t session_id, std::uint8_t* record,
                                     std::int32_t field_no) {
  if (field_manager_->IsFieldNull(field_no, record)) return;
  TVEZPageItemID id = GetBlobID(record, field_no);
  if (NamesStoredBlob(id)) DeleteStoredBlob(session_id, id);
  const std::uint32_t handle = GetCacheHandle(record, field_no);
  if (caches_.Resolve(handle)) caches_.SetPending(handle, false);
}

void TVEZDiskBlobManager::DeleteBlobs(std::int32_t session_id, std::uint8_t* record) {
  for (std::int32_t i = 0; i < field_manager_->FieldCount(); ++i)
    if (IsBlobBaseFieldType(field_manager_->FieldDefs().GetDef(i)->BaseFieldType))
      DeleteBlob(session_id, record, i);
}

void TVEZDiskBlobManager::Empty(std::int32_t session_id) {
  if (!field_manager_->BlobFieldsPresent()) return;
  std::vector<std::uint8_t> record(
      static_cast<std::size_t>(field_manager_->FieldDefs().GetMemoryRecordBufferSize()));
  TVEZNavigationInfo info;
  info.RecordBuffer = record.data();
  info.FirstPosition = true;
  info.GetRecordMode = grmNext;
  for (;;) {
    record_manager_->GetRecordBuffer(session_id, info);
    if (info.GetRecordResult != grrOK) break;
    DeleteBlobs(session_id, record.data());
  }
  blob_page_index_.EmptyIndex(session_id);
}

void TVEZDiskBlobManager::Delete(std::int32_t session_id) {
  if (!field_manager_->BlobFieldsPresent()) return;
  Empty(session_id);
  blob_page_index_.DropIndex(session_id);
}

void TVEZDiskBlobManager::CopyBlobFromRecordBufferToStream(std::int32_t session_id,
                                                           std::uint8_t* record,
                                                           std::int32_t field_no,
                                                           TVEZBLOBDescriptor& descriptor,
                                                           TVEZStream& stream) {
  if (field_manager_->IsFieldNull(field_no, record)) {
    descriptor.NumBlocks = 0;
    descriptor.UncompressedSize = 0;
    return;
  }
  const std::uint8_t* block = EnsureCache(session_id, record, field_no);
  if (!block) throw EVEZException(kErrCannotReadBlob, "Cannot read BLOB field value");
  const std::int64_t size = CacheDataSize(block);
  if (size > 0) {
    const std::int32_t count = platform::CheckedCast<std::int32_t>(size);
    CheckedStreamWrite(block + kBlobCacheHeadSize, count, stream, kErrCannotReadBlob);
  }
  descriptor.NumBlocks = CacheNumBlocks(block);
  descriptor.UncompressedSize = CacheUncompressedSize(block);
}

void TVEZDiskBlobManager::CopyBlobFromStreamToRecordBuffer(std::uint8_t* record,
                                                           std::int32_t field_no, bool modified,
                                                           TVEZCompressedBLOBStream& stream) {
  if (!modified) return;
  TVEZStream& raw = stream.CompressedStream();
  const std::int64_t size = raw.Size();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (size > 0) {
    raw.SetPosition(0);
    CheckedStreamRead(bytes.data(), platform::CheckedCast<std::int32_t>(size), raw,
                      kErrCannotReadBlob);
  }
  const TVEZBLOBDescriptor& d = stream.BLOBDescriptor();
  NewPendingCache(record, field_no, platform::CheckedCast<std::int32_t>(d.NumBlocks),
                  d.UncompressedSize, bytes.data(), size);
  SetNull(record, field_no, stream.Size() == 0);
}

void TVEZDiskBlobManager::GetDirectBlobInfoFromRecordBuffer(
    std::int32_t session_id, std::uint8_t* record, std::int32_t field_no,
    TVEZPartialTemporaryBLOBDescriptor& descriptor, const std::uint8_t*& data) {
  if (field_manager_->IsFieldNull(field_no, record)) {
    descriptor = {};
    data = nullptr;
    return;
  }
  const std::uint8_t* block = EnsureCache(session_id, record, field_no);
  if (!block) throw EVEZException(kErrCannotReadBlobDirect, "Cannot read BLOB field value");
  descriptor.NumBlocks = CacheNumBlocks(block);
  descriptor.UncompressedSize = CacheUncompressedSize(block);
  descriptor.CompressedSize = CacheDataSize(block);
  data = descriptor.CompressedSize > 0 ? block + kBlobCacheHeadSize : nullptr;
}

void TVEZDiskBlobManager::SetDirectBlobInfoFromRecordBuffer(
    std::uint8_t* record, std::int32_t field_no,
    const TVEZPartialTemporaryBLOBDescriptor& descriptor, const std::uint8_t* data) {
  const std::int64_t size = std::max<std::int64_t>(descriptor.CompressedSize, 0);
  NewPendingCache(record, field_no, descriptor.NumBlocks, descriptor.UncompressedSize, data, size);
  SetNull(record, field_no, size == 0);
}

// ---- Stored BLOBs

std::uint8_t* TVEZDiskBlobManager::ReadStoredBlob(std::int32_t session_id, TVEZPageItemID id) {
  // Only 0xFFFF names a large BLOB; 255 is an ordinary shared-page id.
  if (id.PageItemNo == kLargeBlobItemNo) return ReadLargeBlob(session_id, id);
  TVEZPinnedPage page(page_manager_,
                      page_manager_->GetPage(session_id, id.PageNo, kPageTypeTableBlob, true));
  return TVEZSmallBlobPage(page.get()).ReadBlob(id);
}

void TVEZDiskBlobManager::DeleteStoredBlob(std::int32_t session_id, TVEZPageItemID& id) {
  if (id.PageItemNo == kLargeBlobItemNo)
    DeleteLargeBlob(session_id, id);
  else
    DeleteSmallBlob(session_id, id);
}

TVEZPageItemID TVEZDiskBlobManager::WriteStoredBlob(std::int32_t session_id,
                                                    const std::uint8_t* cache_block) {
  if (CacheDataSize(cache_block) + 24 < page_manager_->PageDataSize())
    return WriteSmallBlob(session_id, cache_block);
  return WriteLargeBlob(session_id, cache_block);
}

TVEZPageItemID TVEZDiskBlobManager::WriteSmallBlob(std::int32_t session_id,
                                                   const std::uint8_t* cache_block) {
  const auto need = static_cast<std::int32_t>(CacheDataSize(cache_block) + kBlobEntryHeadSize);
  std::int32_t page_no = 0;
  TVEZPage* raw = nullptr;
  if (blob_page_index_.FindPageForNewBlob(session_id, need, page_no))
    raw = page_manager_->GetPage(session_id, page_no, kPageTypeTableBlob, true);
  else
    raw = page_manager_->AddPage(session_id, kPageTypeTableBlob);
  TVEZPinnedPage page(page_manager_, raw);
  page_no = page->PageNo();
  TVEZSmallBlobPage view(page.get());
  const std::int32_t end = view.EndOfEntries();
  if (end + need > page->PageDataSize())
    throw EVEZException(kErrBlobPageFull,
                        "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, "
                        "PageDataSize=%d, SizeInBlobPageIndex=%d",
                        {view.BlobCount(), end, need, page->PageDataSize(),
                         blob_page_index_.GetBlobPageAllocatedSpace(session_id, page_no)});
  TVEZPageItemID id;
  view.AddBlob(cache_block, id);
  blob_page_index_.AddBlob(session_id, need, page_no);
  return id;
}

TVEZPageItemID TVEZDiskBlobManager::WriteLargeBlob(std::int32_t session_id,
                                                   const std::uint8_t* cache_block) {
  const std::int32_t p = page_manager_->PageDataSize();
  const std::int64_t size = CacheDataSize(cache_block);
  const std::uint8_t* src = cache_block + kBlobCacheHeadSize;
  TVEZPinnedPage first(page_manager_, page_manager_->AddPage(session_id, kPageTypeTableBlob));
  const TVEZPageItemID id{first->PageNo(), kLargeBlobItemNo};
  std::uint8_t* head = first->PageData();
  PutLE<std::uint16_t>(head, kLargeBlobItemNo);
  PutLE<std::int32_t>(head + 2, CacheNumBlocks(cache_block));
  PutLE<std::int64_t>(head + 6, size);
  PutLE<std::int64_t>(head + 14, CacheUncompressedSize(cache_block));

  std::vector<std::int32_t> pages{first->PageNo()};
  TVEZPinnedPage cur(page_manager_, nullptr);
  TVEZPage* at = first.get();
  std::int32_t off = kLargeDataStart;
  std::int64_t left = size;
  auto next_page = [&](bool link) {
    TVEZPage* page = page_manager_->AddPage(session_id, kPageTypeTableBlob);
    if (link) at->PageHeader().SetNextPageNo(page->PageNo());
    cur.Reset(page);
    at = page;
    off = 0;
  };
  while (left > 0) {
    if (off == p) {
      next_page(false);
      pages.push_back(at->PageNo());
    }
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(p - off, left));
    std::memcpy(at->PageData() + off, src, static_cast<std::size_t>(n));
    src += n;
    off += n;
    left -= n;
  }
  if (off == p) next_page(false);
  const std::int32_t list_page = at->PageNo();
  const std::int32_t list_offset = off;
  for (const std::int32_t page_no : pages) {
    if (p - off < 4) next_page(true);
    PutLE<std::int32_t>(at->PageData() + off, page_no);
    off += 4;
  }
  PutLE<std::int32_t>(head + kLocator, list_page);
  PutLE<std::uint16_t>(head + kLocator + 4, static_cast<std::uint16_t>(list_offset));
  PutLE<std::int32_t>(head + kLocator + 6, static_cast<std::int32_t>(pages.size()));
  return id;
}

TVEZDiskBlobManager::LargeBlobLayout TVEZDiskBlobManager::ReadLargeBlobLayout(
    std::int32_t session_id, std::int32_t first_page) {
  const std::int32_t p = page_manager_->PageDataSize();
  LargeBlobLayout layout;
  std::int32_t list_page = 0, list_offset = 0, page_count = 0;
  {
    TVEZPinnedPage page(page_manager_,
                        page_manager_->GetPage(session_id, first_page, kPageTypeTableBlob, true));
    const std::uint8_t* head = page->PageData();
    layout.NumBlocks = GetLE<std::int32_t>(head + 2);
    layout.DataSize = GetLE<std::int64_t>(head + 6);
    layout.UncompressedSize = GetLE<std::int64_t>(head + 14);
    list_page = GetLE<std::int32_t>(head + kLocator);
    list_offset = GetLE<std::uint16_t>(head + kLocator + 4);
    page_count = GetLE<std::int32_t>(head + kLocator + 6);
  }
  // The data pages the stored size needs: P - 32 bytes on the first, P on the others.
  if (layout.DataSize < 0) RaiseUnreadable(first_page, "negative size");
  const std::int64_t rest = std::max<std::int64_t>(layout.DataSize - (p - kLargeDataStart), 0);
  // Rounded up without adding first: a damaged size near the top must not wrap.
  const std::int64_t needed = 1 + rest / p + (rest % p != 0 ? 1 : 0);
  if (page_count != needed || list_offset > p || !page_manager_->IsPageNoInStorage(page_count - 1))
    RaiseUnreadable(first_page, "page list does not fit the size");
  std::set<std::int32_t> seen_list;
  std::int32_t at = list_page;
  std::int32_t off = list_offset;
  while (static_cast<std::int32_t>(layout.DataPages.size()) < page_count) {
    if (at <= 0 || !seen_list.insert(at).second) RaiseUnreadable(first_page, "page list chain");
    layout.ListPages.push_back(at);
    TVEZPinnedPage page(page_manager_,
                        page_manager_->GetPage(session_id, at, kPageTypeTableBlob, true));
    while (p - off >= 4 && static_cast<std::int32_t>(layout.DataPages.size()) < page_count) {
      layout.DataPages.push_back(GetLE<std::int32_t>(page->PageData() + off));
      off += 4;
    }
    at = page->PageHeader().NextPageNo();
    off = 0;
  }
  std::set<std::int32_t> distinct(layout.DataPages.begin(), layout.DataPages.end());
  if (layout.DataPages.front() != first_page || distinct.size() != layout.DataPages.size() ||
      *distinct.begin() <= 0)
    RaiseUnreadable(first_page, "page list entries");
  return layout;
}

std::uint8_t* TVEZDiskBlobManager::ReadLargeBlob(std::int32_t session_id, TVEZPageItemID id) {
  const std::int32_t p = page_manager_->PageDataSize();
  const LargeBlobLayout layout = ReadLargeBlobLayout(session_id, id.PageNo);
  BlockOwner owner{static_cast<std::uint8_t*>(MemoryManager().GetMem(
      platform::CheckedAdd<std::int64_t>(kBlobCacheHeadSize, layout.DataSize)))};
  PutLE<std::int32_t>(owner.block, layout.NumBlocks);
  PutLE<std::int64_t>(owner.block + 4, layout.UncompressedSize);
  std::uint8_t* dst = owner.block + kBlobCacheHeadSize;
  std::int64_t left = layout.DataSize;
  // The walk ends with the list: the layout check made it long enough.
  for (std::size_t i = 0; i < layout.DataPages.size() && left > 0; ++i) {
    TVEZPinnedPage page(page_manager_, page_manager_->GetPage(session_id, layout.DataPages[i],
                                                              kPageTypeTableBlob, true));
    const std::int32_t start = i == 0 ? kLargeDataStart : 0;
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(p - start, left));
    std::memcpy(dst, page->PageData() + start, static_cast<std::size_t>(n));
    dst += n;
    left -= n;
  }
  if (left > 0) RaiseUnreadable(id.PageNo, "page list shorter than the size");
  return owner.release();
}

void TVEZDiskBlobManager::DeleteSmallBlob(std::int32_t session_id, TVEZPageItemID& id) {
  std::int32_t blob_size = 0;
  bool now_empty = false;
  {
    TVEZPinnedPage page(page_manager_,
                        page_manager_->GetPage(session_id, id.PageNo, kPageTypeTableBlob, true));
    TVEZSmallBlobPage view(page.get());
    view.DeleteBlob(id, blob_size);
    now_empty = view.BlobCount() == 0;
  }
  blob_page_index_.DeleteBlob(session_id, blob_size, id.PageNo);
  if (now_empty) page_manager_->RemovePage(session_id, id.PageNo);
  id = kDeletedBlobID;
}

void TVEZDiskBlobManager::DeleteLargeBlob(std::int32_t session_id, TVEZPageItemID& id) {
  // Read and check the whole list first: a damaged one gives nothing back.
  const LargeBlobLayout layout = ReadLargeBlobLayout(session_id, id.PageNo);
  for (std::size_t i = 1; i < layout.DataPages.size(); ++i) {
    TVEZPinnedPage page(page_manager_, page_manager_->GetPage(session_id, layout.DataPages[i],
                                                              kPageTypeTableBlob, true));
  }
  std::set<std::int32_t> removed;
  for (const std::int32_t page_no : layout.DataPages)
    if (removed.insert(page_no).second) page_manager_->RemovePage(session_id, page_no);
  for (const std::int32_t page_no : layout.ListPages)
    if (removed.insert(page_no).second) page_manager_->RemovePage(session_id, page_no);
  id = kDeletedBlobID;
}

}  // namespace vez
