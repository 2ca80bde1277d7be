// Disk BLOB storage: the BLOB values of a disk table, kept apart from their
// records. A record's BLOB field holds a 6-byte TVEZPageItemID; the value (the
// bytes the compressed BLOB stream writes into its underlying stream) lives as
// an entry on a BLOB page shared with other small values, or on pages of its
// own when it is large. P = the page data size; page type TableBlob (11).
//
// Identifier: PageNo 0 or -1 = nothing stored; (page, 0xFFFF) = a large BLOB
// whose first page is page; (page, 0..0xFFFE) = the entry with that id on the
// shared page. A deleted value leaves (-1, 0xFFFF).
//
// Shared page data area: 0 UInt16 BlobCount | 2 the entries, no gaps. Entry:
// 0 UInt16 Id | 2 Int32 NumBlocks | 6 Int64 DataSize | 14 Int64
// UncompressedSize | 22 DataSize stored bytes. A value is small when
// DataSize + 24 < P.
// Large BLOB, first page: 0 the same 22-byte head (Id 0xFFFF, not read) |
// 22 Int32 ListPageNo | 26 UInt16 ListOffset | 28 Int32 PageCount | 32 the
// first P - 32 stored bytes. Further data pages are filled from 0. The page
// list (PageCount Int32 page numbers: the first page, then every data page in
// order) starts right after the data (offset 0 of a new page when the last
// data page is full) and continues over pages linked by their header's
// NextPageNo; a list page holds (P - start offset) div 4 numbers.
//
// Caches: between a cursor's read or write of a value and the store of its
// record, the value lives in a cache: one memory-manager block
// (0 Int32 NumBlocks | 4 Int64 UncompressedSize | 12 the stored bytes) in the
// table's BLOB handle table (VEZBlobHandleTable.h), its Pending flag meaning
// "written by a cursor, not yet stored". The memory form of the field holds
// the identifier and, at +6, the UInt32 handle: never a pointer, so a copied
// record buffer whose cache was freed meanwhile resolves to no cache.
//
// Stored bytes are never trusted: an entry walk stays inside its page and its
// entry count, a page list is read whole and checked against the stored size
// before anything is read into a cache or any page is given back, and the
// identifier 255 is read only as a shared-page entry.
//
// Failure: an operation that raises after it changed pages leaves them in the
// session's dirty list; the caller cancels the session's changes.
//
// Thread safety: none of its own; the disk table data's lock guards every call.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBTreePageIndex.h"
#include "dbengine/storage/VEZBlobHandleTable.h"

namespace vez {

class TVEZBaseFieldManager;
class TVEZBaseRecordManager;
class TVEZCompressedBLOBStream;
class TVEZPage;
class TVEZPageManager;
class TVEZStream;

inline constexpr std::int32_t kErrBlobCacheNotReleased = 20150;
inline constexpr std::int32_t kErrBlobCacheNil = 20161;
inline constexpr std::int32_t kErrCannotReadBlob = 20162;
inline constexpr std::int32_t kErrBlobNotFound = 20171;
inline constexpr std::int32_t kErrInvalidBlobID = 20172;
inline constexpr std::int32_t kErrBlobPageFull = 20290;
inline constexpr std::int32_t kErrCannotReadBlobDirect = 20291;

inline constexpr std::uint16_t kLargeBlobItemNo = 0xFFFF;
// Bytes of a shared-page entry's head, and of the cache block's head.
inline constexpr std::int32_t kBlobEntryHeadSize = 22;
inline constexpr std::int32_t kBlobCacheHeadSize = 12;

// The view over one shared BLOB page (borrowed, pinned by the caller). Every
// walk over the entries raises 20171 for an entry that leaves the page.
class TVEZSmallBlobPage {
 public:
  explicit TVEZSmallBlobPage(TVEZPage* page) : page_(page) {}

  std::int32_t BlobCount() const;
  void SetBlobCount(std::int32_t count);
  // Offset just past the last entry.
  std::int32_t EndOfEntries() const;
  // Appends an entry for the cache block (see the head of this file); the
  // caller has checked the room. Raises 20172 when no id is free.
  void AddBlob(const std::uint8_t* cache_block, TVEZPageItemID& id);
  // Removes entry id.PageItemNo, moving the later entries down; blob_size :=
  // its DataSize + 22. 20171 when there is none.
  void DeleteBlob(TVEZPageItemID id, std::int32_t& blob_size);
  // A new cache block with the entry's value, or nullptr when no entry has the id.
  std::uint8_t* ReadBlob(TVEZPageItemID id) const;

 private:
  // Offset of entry id, -1 when none.
  std::int32_t FindEntry(std::uint16_t id) const;
  std::uint16_t GetNewBlobID() const;
  [[noreturn]] void RaiseDamaged() const;

  TVEZPage* page_;
};

class TVEZDiskBlobManager {
 public:
  // Borrows the database's page manager and the table's field and record
  // managers.
  TVEZDiskBlobManager(TVEZPageManager* page_manager, TVEZBaseFieldManager* field_manager,
                      TVEZBaseRecordManager* record_manager);
  // Frees what caches are left (call CheckCachesReleased first where that is
  // an error); never throws.
  ~TVEZDiskBlobManager() = default;
  TVEZDiskBlobManager(const TVEZDiskBlobManager&) = delete;
  TVEZDiskBlobManager& operator=(const TVEZDiskBlobManager&) = delete;

  // Raises 20150 while caches are alive.
  void CheckCachesReleased() const;
  TVEZBTreeBlobPageIndex& BlobPageIndex() { return blob_page_index_; }
  const TVEZBlobHandleTable& Caches() const { return caches_; }

  // The BLOB page index's root page number (Int32).
  void LoadMetadata(TVEZStream& stream);
  void SaveMetadata(TVEZStream& stream) const;
  void CreateBlobPageIndex();

  // For a table with BLOB fields: every record's stored BLOBs go, then the
  // index empties (Empty) or goes too (Delete).
  void Empty(std::int32_t session_id);
  void Delete(std::int32_t session_id);

  // Reads the stored value of a field without a cache into a new cache.
  void ReadBlob(std::int32_t session_id, std::uint8_t* record, std::int32_t field_no);
  // Stores a field's pending cache as a new BLOB (the old one deleted) and
  // drops the cache; an empty value leaves no stored BLOB.
  void WriteBlob(std::int32_t session_id, std::uint8_t* record, std::int32_t field_no);
  // WriteBlob, but the cache stays in record, no longer pending, so that a
  // change that fails later can make it pending again (KeepCachePending);
  // true when there was a pending value to store.
  bool StoreBlob(std::int32_t session_id, std::uint8_t* record, std::int32_t field_no);
  // The field's cache is pending again: the record buffer went back to the
  // identifier it had before StoreBlob. Nothing without a cache.
  void KeepCachePending(std::uint8_t* record, std::int32_t field_no) noexcept;
  void WriteBlobs(std::int32_t session_id, std::uint8_t* record);
  // Deletes a field's stored BLOB (the record keeps the old identifier).
  void DeleteBlob(std::int32_t session_id, std::uint8_t* record, std::int32_t field_no);
  void DeleteBlobs(std::int32_t session_id, std::uint8_t* record);

  // The value's stored bytes to stream; descriptor's NumBlocks and
  // UncompressedSize from the value. 20162 when it cannot be read.
  void CopyBlobFromRecordBufferToStream(std::int32_t session_id, std::uint8_t* record,
                                        std::int32_t field_no, TVEZBLOBDescriptor& descriptor,
                                        TVEZStream& stream);
  // A written BLOB stream becomes the field's pending value (nothing unless
  // modified); the field is NULL when the stream is empty.
  void CopyBlobFromStreamToRecordBuffer(std::uint8_t* record, std::int32_t field_no, bool modified,
                                        TVEZCompressedBLOBStream& stream);
  // Drops the field's cache; a pending one only with force.
  void ClearBlobInRecordBuffer(std::uint8_t* record, std::int32_t field_no, bool force);
  // The value as descriptor and bytes; data points into the cache (kept by
  // it; nullptr for no bytes). 20291 when it cannot be read.
  void GetDirectBlobInfoFromRecordBuffer(std::int32_t session_id, std::uint8_t* record,
                                         std::int32_t field_no,
                                         TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                         const std::uint8_t*& data);
  // descriptor.CompressedSize bytes of data become the field's pending value.
  void SetDirectBlobInfoFromRecordBuffer(std::uint8_t* record, std::int32_t field_no,
                                         const TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                         const std::uint8_t* data);

  // The field's identifier and cache handle in a memory record.
  TVEZPageItemID GetBlobID(const std::uint8_t* record, std::int32_t field_no) const;
  std::uint32_t GetCacheHandle(const std::uint8_t* record, std::int32_t field_no) const;

 private:
  std::int32_t FieldOffset(std::int32_t field_no) const;
  void SetBlobID(std::uint8_t* record, std::int32_t field_no, TVEZPageItemID id);
  void SetCacheHandle(std::uint8_t* record, std::int32_t field_no, std::uint32_t handle);
  void SetNull(std::uint8_t* record, std::int32_t field_no, bool is_null);
  // A new pending cache for the field (the old one freed first).
  void NewPendingCache(std::uint8_t* record, std::int32_t field_no, std::int32_t num_blocks,
                       std::int64_t uncompressed_size, const std::uint8_t* data,
                       std::int64_t data_size);
  std::uint8_t* EnsureCache(std::int32_t session_id, std::uint8_t* record, std::int32_t field_no);

  std::uint8_t* ReadStoredBlob(std::int32_t session_id, TVEZPageItemID id);
  TVEZPageItemID WriteStoredBlob(std::int32_t session_id, const std::uint8_t* cache_block);
  TVEZPageItemID WriteSmallBlob(std::int32_t session_id, const std::uint8_t* cache_block);
  TVEZPageItemID WriteLargeBlob(std::int32_t session_id, const std::uint8_t* cache_block);
  std::uint8_t* ReadLargeBlob(std::int32_t session_id, TVEZPageItemID id);
  void DeleteStoredBlob(std::int32_t session_id, TVEZPageItemID& id);
  void DeleteSmallBlob(std::int32_t session_id, TVEZPageItemID& id);
  void DeleteLargeBlob(std::int32_t session_id, TVEZPageItemID& id);

  // A large BLOB's head and its page list, read and checked whole.
  struct LargeBlobLayout {
    std::int32_t NumBlocks = 0;
    std::int64_t DataSize = 0;
    std::int64_t UncompressedSize = 0;
    std::vector<std::int32_t> DataPages;
    std::vector<std::int32_t> ListPages;
  };
  LargeBlobLayout ReadLargeBlobLayout(std::int32_t session_id, std::int32_t first_page);

  TVEZPageManager* page_manager_;
  TVEZBaseFieldManager* field_manager_;
  TVEZBaseRecordManager* record_manager_;
  TVEZBTreeBlobPageIndex blob_page_index_;
  TVEZBlobHandleTable caches_;
};

}  // namespace vez
