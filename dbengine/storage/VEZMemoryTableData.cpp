#include "dbengine/storage/VEZMemoryTableData.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dbengine/foundation/VEZCompressedBLOBStream.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZTemporaryStream.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZSessionLayerServices.h"
#include "platform/core/CheckedMath.h"

namespace vez {

using platform::CheckedAdd;

namespace {

constexpr std::int32_t kBlobHandleOffset = 6;  // after the 6-byte page item id
constexpr std::int32_t kBlobBlockHeader = 12;  // NumBlocks, UncompressedSize

std::int64_t BlockDataSize(const std::uint8_t* block) {
  return MemoryManager().GetMemoryBufferSize(block) - kBlobBlockHeader;
}

std::uint8_t* NewBlobBlock(std::int32_t num_blocks, std::int64_t uncompressed_size,
                           std::int64_t data_size) {
  auto* block = static_cast<std::uint8_t*>(
      MemoryManager().GetMem(platform::CheckedAdd<std::int64_t>(data_size, kBlobBlockHeader)));
  PutLE<std::int32_t>(block, num_blocks);
  PutLE<std::int64_t>(block + 4, uncompressed_size);
  return block;
}

}  // namespace

// ---------------------------------------------------------------------------
// Table data

TVEZMemoryTableData::TVEZMemoryTableData(TVEZDatabaseData* database_data,
                                         std::int32_t alloc_records_by)
    : TVEZProcessTableData(database_data),
      FMemoryPageManager(std::make_unique<TVEZMemoryPageManager>()),
      FAllocRecordsBy(alloc_records_by) {
  SetPageManager(FMemoryPageManager.get());
  SetDisableTempFiles(true);
}

TVEZMemoryTableData::~TVEZMemoryTableData() {
  // Every block, record and page is released by its owner below; the index
  // structures go with their pages, so nothing needs to be walked.
  FBlobHandles.Clear();
  FIndexManager.reset();
  FRecordManager.reset();
  SetPageManager(nullptr);
  FMemoryPageManager.reset();
}

TVEZMemoryRecordManager* TVEZMemoryTableData::MemoryRecordManager() const {
  return static_cast<TVEZMemoryRecordManager*>(FRecordManager.get());
}

void TVEZMemoryTableData::CreateRecordManager() {
  auto manager = std::make_unique<TVEZMemoryRecordManager>(GetRecordBufferSize(), FAllocRecordsBy);
  FRecordManager = std::move(manager);
}

void TVEZMemoryTableData::CreateConstraintManager(TVEZConstraintDefs& constraint_defs) {
  for (std::int32_t i = 0; i < constraint_defs.GetCount(); ++i) {
    const TVEZConstraintType type = constraint_defs.GetDef(i)->ConstraintType;
    if (type == ctFK || type > ctCheck) throw EVEZException(30040, "Not implemented yet");
  }
  TVEZTableData::CreateConstraintManager(constraint_defs);
}

void TVEZMemoryTableData::CreateTable(TVEZCursor* cursor, TVEZFieldDefs& field_defs,
                                      TVEZIndexDefs& index_defs,
                                      TVEZConstraintDefs& constraint_defs) {
  if (field_defs.GetCount() == 0 && !DesignMode())
    throw EVEZException(10025, "Error creating table - no fields were specified");
  if (cursor != nullptr) SetTableName(cursor->TableName);
  CreateFieldManager(field_defs);
  CreateIndexManager(index_defs);
  CreateConstraintManager(constraint_defs);
  CreateRecordManager();
  if (cursor != nullptr) InitCursorRecordLayout(*cursor);
  FIndexManager->CreateIndexesByIndexDefs(cursor);
  if (cursor != nullptr) ApplyOutsideTransaction(cursor);
}

void TVEZMemoryTableData::EmptyTable(TVEZCursor* /*cursor*/) {
  TVEZLockGuard guard(*this);
  TVEZTableData::EmptyTable(nullptr);
  // Every stored and pending BLOB of the table goes at once.
  FBlobHandles.Clear();
  if (FRecordManager != nullptr) FRecordManager->Empty(-2);
  if (FPageManager != nullptr) FPageManager->ApplyChanges(-2);
}

void TVEZMemoryTableData::OpenTable(TVEZCursor& cursor) {
  SetTableName(cursor.TableName);
  cursor.InMemory = true;
  TVEZTableData::OpenTable(cursor);
}

std::int64_t TVEZMemoryTableData::GetApproximateRecordCount(std::int32_t /*session_id*/) {
  // Bits run by slot number: the bitmap must cover every slot in use.
  const TVEZMemoryRecordManager* records = MemoryRecordManager();
  if (records == nullptr || records->RecordCount == 0) return 0;
  return static_cast<std::int64_t>(records->LastRecordID()) + 1;
}

std::int64_t TVEZMemoryTableData::RecordIDToApproximateRecNo(TVEZPageItemID record_id) {
  return record_id.PageNo;
}

TVEZPageItemID TVEZMemoryTableData::ApproximateRecNoToRecordID(std::int64_t value) {
  return {static_cast<std::int32_t>(value), 0};
}

// ---------------------------------------------------------------------------
// BLOBs

bool TVEZMemoryTableData::IsBlobField(std::int32_t field_no) const {
  if (FFieldManager == nullptr || field_no < 0 || field_no >= FFieldManager->FieldCount())
    return false;
  return IsBlobBaseFieldType(FFieldManager->FieldDefs().GetDef(field_no)->BaseFieldType);
}

const TVEZFieldDef& TVEZMemoryTableData::FieldDef(std::int32_t field_no) const {
  if (!IsBlobField(field_no))
    throw EVEZException(10419, "Invalid BLOB field number = %d", {field_no});
  return *FFieldManager->FieldDefs().GetDef(field_no);
}

std::uint32_t TVEZMemoryTableData::BlobHandleOf(const std::uint8_t* record,
                                                const TVEZFieldDef& def) {
  return GetLE<std::uint32_t>(record + def.MemoryOffset + kBlobHandleOffset);
}

const std::uint8_t* TVEZMemoryTableData::BlobBlockOf(const std::uint8_t* record,
                                                     std::int32_t field_no) const {
  const TVEZFieldDef& def = FieldDef(field_no);
  if (GetBufferBit(field_no, record)) return nullptr;
  return FBlobHandles.Resolve(BlobHandleOf(record, def));
}

void TVEZMemoryTableData::SetBlobHandle(std::uint8_t* record, std::int32_t field_no,
                                        std::uint32_t handle) {
  const TVEZFieldDef& def = FieldDef(field_no);
  std::memset(record + def.MemoryOffset, 0, kBlobHandleOffset);
  PutLE<std::uint32_t>(record + def.MemoryOffset + kBlobHandleOffset, handle);
  SetBufferBit(handle == TVEZBlobHandleTable::kNoHandle, field_no, record);
}

void TVEZMemoryTableData::ReplaceBlob(std::uint8_t* record, std::int32_t field_no,
                                      std::uint8_t* block) {
  const TVEZFieldDef& def = FieldDef(field_no);
  const std::uint32_t old_handle = GetBufferBit(field_no, record) ? 0 : BlobHandleOf(record, def);
  std::uint32_t handle = TVEZBlobHandleTable::kNoHandle;
  if (block != nullptr) handle = FBlobHandles.Add(block, true);  // frees block on failure
  // The old value is the stored record's until the change succeeds; only a
  // value nobody stored yet is freed here.
  if (FBlobHandles.IsPending(old_handle)) FBlobHandles.Release(old_handle);
  SetBlobHandle(record, field_no, handle);
}

void TVEZMemoryTableData::MarkBlobsStored(const std::uint8_t* record) {
  if (FFieldManager == nullptr || !FFieldManager->BlobFieldsPresent()) return;
  const TVEZFieldDefs& defs = FFieldManager->FieldDefs();
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBlobField(i) && !GetBufferBit(i, record))
      FBlobHandles.SetPending(BlobHandleOf(record, *defs.GetDef(i)), false);
}

void TVEZMemoryTableData::FreeReplacedBlobs(const std::uint8_t* stored,
                                            const std::uint8_t* new_record) {
  if (FFieldManager == nullptr || !FFieldManager->BlobFieldsPresent()) return;
  const TVEZFieldDefs& defs = FFieldManager->FieldDefs();
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
    if (!IsBlobField(i) || GetBufferBit(i, stored)) continue;
    const std::uint32_t old_handle = BlobHandleOf(stored, *defs.GetDef(i));
    const bool kept = new_record != nullptr && !GetBufferBit(i, new_record) &&
                      BlobHandleOf(new_record, *defs.GetDef(i)) == old_handle;
    if (!kept) FBlobHandles.Release(old_handle);
  }
}

void TVEZMemoryTableData::ClearBlobsCacheInRecordBuffer(std::uint8_t* record) {
  if (record == nullptr || FFieldManager == nullptr || !FFieldManager->BlobFieldsPresent()) return;
  const TVEZFieldDefs& defs = FFieldManager->FieldDefs();
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
    if (!IsBlobField(i) || GetBufferBit(i, record)) continue;
    const std::uint32_t handle = BlobHandleOf(record, *defs.GetDef(i));
    if (FBlobHandles.IsPending(handle)) FBlobHandles.Release(handle);
  }
}

void TVEZMemoryTableData::ClearBLOBFieldInRecordBuffer(std::uint8_t* record,
                                                       std::int32_t field_no) {
  TVEZLockGuard guard(*this);
  if (FFieldManager == nullptr || !FFieldManager->BlobFieldsPresent()) return;
  if (GetBufferBit(field_no, record)) return;
  ReplaceBlob(record, field_no, nullptr);
}

void TVEZMemoryTableData::WriteBLOBFieldToRecordBuffer(TVEZCursor& cursor, std::int32_t field_no,
                                                       TVEZStream& blob_stream) {
  TVEZLockGuard guard(*this);
  TVEZCompressedBLOBStream& compressed = CompressedStreamOf(blob_stream, 10116);
  if (!blob_stream.Modified()) return;
  if (cursor.CurrentRecordBuffer == nullptr) throw EVEZException(10018, "Nil pointer occured");
  if (blob_stream.Size() == 0) {
    ReplaceBlob(cursor.CurrentRecordBuffer, field_no, nullptr);
    return;
  }
  TVEZStream& underlying = compressed.CompressedStream();
  const std::int64_t size = underlying.Size();
  const TVEZBLOBDescriptor& descriptor = compressed.BLOBDescriptor();
  // The block stores the count in 32 bits: a larger one is refused, not cut.
  std::uint8_t* block = NewBlobBlock(platform::CheckedCast<std::int32_t>(descriptor.NumBlocks),
                                     descriptor.UncompressedSize, size);
  try {
    underlying.SetPosition(0);
    std::int64_t done = 0;
    while (done < size) {
      const auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(size - done, 1 << 30));
      const std::int32_t got = underlying.Read(block + kBlobBlockHeader + done, chunk);
      if (got != chunk) {
        throw EVEZException(10117,
                            "Cannot read from stream. Position = %d, Stream size = %d, Block "
                            "size = %d, Bytes Read = %d",
                            {std::int64_t{0}, size, size, done + got});
      }
      done += got;
    }
  } catch (...) {
    MemoryManager().FreeMem(block);
    throw;
  }
  ReplaceBlob(cursor.CurrentRecordBuffer, field_no, block);
}

std::unique_ptr<TVEZStream> TVEZMemoryTableData::InternalCreateBlobStream(
    TVEZCursor& cursor, bool /*to_insert*/, std::int32_t field_no, TVEZBLOBOpenMode open_mode) {
  TVEZLockGuard guard(*this);
  const TVEZFieldDef& def = FieldDef(field_no);
  if (def.BLOBBlockSize == 0) throw EVEZException(10420, "Stream block size = 0 is not allowed");
  TVEZSessionLayerServices* services = SessionLayerServices();
  if (services == nullptr) throw EVEZException(10112, "Nil pointer occured");
  TVEZBLOBDescriptor descriptor;
  descriptor.BlockSize = def.BLOBBlockSize;
  descriptor.StartPosition = 0;
  descriptor.CompressionAlgorithm = static_cast<std::uint8_t>(def.BLOBCompressionAlgorithm);
  descriptor.CompressionMode = def.BLOBCompressionMode;
  auto underlying = std::make_unique<TVEZTemporaryStream>(DisableTempFiles());
  const std::uint8_t* record = cursor.CurrentRecordBuffer;
  const bool empty = open_mode == bomWrite || record == nullptr || GetBufferBit(field_no, record);
  bool to_create = empty;
  if (!empty) {
    const std::uint8_t* block = FBlobHandles.Resolve(BlobHandleOf(record, def));
    if (block == nullptr) throw EVEZException(10112, "Nil pointer occured");
    descriptor.NumBlocks = GetLE<std::int32_t>(block);
    descriptor.UncompressedSize = GetLE<std::int64_t>(block + 4);
    const std::int64_t size = BlockDataSize(block);
    std::int64_t done = 0;
    while (done < size) {
      const auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(size - done, 1 << 30));
      CheckedStreamWrite(block + kBlobBlockHeader + done, chunk, *underlying, 10113);
      done += chunk;
    }
    underlying->SetPosition(0);
  }
  auto compressed =
      std::make_unique<TVEZCompressedBLOBStream>(*underlying, descriptor, to_create, false);
  return services->CreateLocalBLOBStream(std::move(compressed), std::move(underlying), &cursor,
                                         open_mode, field_no);
}

void TVEZMemoryTableData::GetDirectBlobData(TVEZCursor& /*cursor*/, std::int32_t field_no,
                                            std::uint8_t* record,
                                            TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                            std::uint8_t*& data) {
  TVEZLockGuard guard(*this);
  const TVEZFieldDef& def = FieldDef(field_no);
  descriptor = TVEZPartialTemporaryBLOBDescriptor();
  data = nullptr;
  if (GetBufferBit(field_no, record)) return;
  const std::uint8_t* block = FBlobHandles.Resolve(BlobHandleOf(record, def));
  if (block == nullptr) throw EVEZException(10511, "Nil pointer occured");
  descriptor.NumBlocks = GetLE<std::int32_t>(block);
  descriptor.UncompressedSize = GetLE<std::int64_t>(block + 4);
  descriptor.CompressedSize = BlockDataSize(block);
  if (descriptor.CompressedSize == 0) return;
  data = static_cast<std::uint8_t*>(MemoryManager().GetMem(descriptor.CompressedSize));
  std::memcpy(data, block + kBlobBlockHeader, static_cast<std::size_t>(descriptor.CompressedSize));
}

void TVEZMemoryTableData::SetDirectBlobData(TVEZCursor& /*cursor*/, std::int32_t field_no,
                                            std::uint8_t* record,
                                            TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                            std::uint8_t*& data) {
  TVEZLockGuard guard(*this);
  FieldDef(field_no);
  if (descriptor.CompressedSize < 0 || (descriptor.CompressedSize > 0 && data == nullptr))
    throw EVEZException(10512, "Nil pointer occured");
  std::uint8_t* block = nullptr;
  if (descriptor.CompressedSize > 0) {
    block =
        NewBlobBlock(descriptor.NumBlocks, descriptor.UncompressedSize, descriptor.CompressedSize);
    std::memcpy(block + kBlobBlockHeader, data,
                static_cast<std::size_t>(descriptor.CompressedSize));
  }
  ReplaceBlob(record, field_no, block);
}

void TVEZMemoryTableData::FreeDirectBlobData(TVEZCursor& /*cursor*/, std::int32_t /*field_no*/,
                                             std::uint8_t* /*record*/,
                                             TVEZPartialTemporaryBLOBDescriptor& /*descriptor*/,
                                             std::uint8_t*& data) {
  TVEZLockGuard guard(*this);
  if (data != nullptr) MemoryManager().FreeAndNillMem(data);
}

// ---------------------------------------------------------------------------
// Records

bool TVEZMemoryTableData::CanChangeRecord(TVEZCursor& cursor, TVEZRecordChange change) {
  switch (change) {
    case TVEZRecordChange::kInsert:
      if (FRecordManager == nullptr) throw EVEZException(10010, "Nil pointer occured");
      if (cursor.CurrentRecordBuffer == nullptr) throw EVEZException(10018, "Nil pointer occured");
      break;
    case TVEZRecordChange::kUpdate:
      if (FRecordManager == nullptr) throw EVEZException(10014, "Nil pointer occured");
      if (cursor.CurrentRecordBuffer == nullptr) throw EVEZException(10017, "Nil pointer occured");
      break;
    case TVEZRecordChange::kDelete:
      if (FRecordManager == nullptr) throw EVEZException(10013, "Nil pointer occured");
      break;
  }
  return true;
}

void TVEZMemoryTableData::FinishRecordChange(TVEZCursor& cursor,
                                             TVEZRecordChangeContext& context) noexcept {
  // Only now does the record own its new values and let go of the old ones.
  switch (context.Change) {
    case TVEZRecordChange::kInsert:
      MarkBlobsStored(cursor.CurrentRecordBuffer);
      break;
    case TVEZRecordChange::kUpdate:
      FreeReplacedBlobs(context.StoredRecord.data(), cursor.CurrentRecordBuffer);
      MarkBlobsStored(cursor.CurrentRecordBuffer);
      break;
    case TVEZRecordChange::kDelete:
      FreeReplacedBlobs(context.StoredRecord.data(), nullptr);
      break;
  }
}

void TVEZMemoryTableData::InternalSetRecNo(TVEZCursor& cursor, std::int64_t rec_no) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(10074, "Nil pointer occured");
  const std::int32_t slot = MemoryRecordManager()->SlotOfRecNo(rec_no);
  if (slot >= 0) cursor.CurrentRecordID = {slot, 0};
}

std::int64_t TVEZMemoryTableData::InternalGetRecNo(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(10033, "Nil pointer occured");
  return MemoryRecordManager()->RecNoOfSlot(cursor.CurrentRecordID.PageNo);
}

std::int64_t TVEZMemoryTableData::InternalGetRecordCount(TVEZCursor& /*cursor*/) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(10009, "Nil pointer occured");
  return FRecordManager->RecordCount;
}

std::int64_t TVEZMemoryTableData::LastAutoincValue(std::int32_t field_no,
                                                   TVEZBaseSession* session) {
  return FFieldManager != nullptr ? FFieldManager->GetLastAutoinc(session, field_no) : 0;
}

// ---------------------------------------------------------------------------
// Database data

TVEZMemoryDatabaseData::TVEZMemoryDatabaseData() : TVEZProcessDatabaseData(kDatabaseName) {}

TVEZMemoryDatabaseData::~TVEZMemoryDatabaseData() = default;

void TVEZMemoryDatabaseData::ConnectSession(TVEZBaseSession& session) {
  session.SessionID = 0;
  TVEZDatabaseData::ConnectSession(session);
  session.SessionID = 0;
}

TVEZTableData* TVEZMemoryDatabaseData::CreateTableData(TVEZCursor& cursor) {
  auto table = std::make_unique<TVEZMemoryTableData>(this, kAllocRecordsBy);
  table->SetTableName(cursor.TableName);
  return AddTableData(std::move(table));
}

TVEZMemoryDatabaseData& MemoryDatabaseData() {
  return ProcessDatabase<TVEZMemoryDatabaseData>();
}

}  // namespace vez
