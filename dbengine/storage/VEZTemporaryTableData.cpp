#include "dbengine/storage/VEZTemporaryTableData.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dbengine/foundation/VEZCompressedBLOBStream.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZTemporaryStream.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZSessionLayerServices.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Invariant.h"

namespace vez {

using platform::CheckedAdd;

namespace {

constexpr std::int32_t kDescriptorSize = TVEZPartialTemporaryBLOBDescriptor::kSize;
// Stream transfers take Int32 counts; larger BLOBs move in pieces.
constexpr std::int64_t kChunk = 1 << 30;

std::int32_t ChunkOf(std::int64_t left) {
  return static_cast<std::int32_t>(std::min(left, kChunk));
}

}  // namespace

// ---------------------------------------------------------------------------
// Table data

TVEZTemporaryTableData::TVEZTemporaryTableData(TVEZDatabaseData* database_data,
                                               std::int32_t records_per_page,
                                               std::int32_t alloc_records_by)
    : TVEZProcessTableData(database_data),
      FRecordsPerPage(records_per_page),
      FAllocRecordsBy(alloc_records_by) {}

TVEZTemporaryTableData::~TVEZTemporaryTableData() {
  // Records, pages and BLOB entries go with their owners; the indexes go
  // with their pages, so nothing needs to be walked or written.
  FBLOBFile.reset();
  FIndexManager.reset();
  FRecordManager.reset();
  SetPageManager(nullptr);
  FTemporaryPageManager.reset();
}

TVEZTemporaryRecordManager* TVEZTemporaryTableData::TemporaryRecordManager() const {
  return static_cast<TVEZTemporaryRecordManager*>(FRecordManager.get());
}

std::unique_ptr<TVEZStream> TVEZTemporaryTableData::CreateBLOBFile() const {
  if (FFieldManager == nullptr || !FFieldManager->BlobFieldsPresent()) return nullptr;
  if (DisableTempFiles()) return std::make_unique<TVEZMemoryStream>(nullptr, kBLOBFileMemoryLimit);
  auto file = std::make_unique<TVEZTemporaryStream>(false);
  file->SetMemoryLimit(kBLOBFileMemoryLimit);
  return file;
}

void TVEZTemporaryTableData::CreateRecordManager() {
  FRecordManager.reset();
  FRecordManager = std::make_unique<TVEZTemporaryRecordManager>(
      GetRecordBufferSize(), FRecordsPerPage, FAllocRecordsBy, DisableTempFiles());
}

void TVEZTemporaryTableData::CreateTable(TVEZCursor* cursor, TVEZFieldDefs& field_defs,
                                         TVEZIndexDefs& index_defs,
                                         TVEZConstraintDefs& constraint_defs) {
  if (field_defs.GetCount() == 0 && !DesignMode())
    throw EVEZException(10132, "Error creating table - no fields were specified");
  if (cursor != nullptr) {
    SetTableName(cursor->TableName);
    SetDisableTempFiles(cursor->FDisableTempFiles);
  }
  // The managers refer to the page manager: they go before it is replaced.
  FBLOBFile.reset();
  FIndexManager.reset();
  FRecordManager.reset();
  SetPageManager(nullptr);
  FTemporaryPageManager = std::make_unique<TVEZTemporaryPageManager>(DisableTempFiles());
  SetPageManager(FTemporaryPageManager.get());
  CreateFieldManager(field_defs);
  CreateIndexManager(index_defs);
  CreateConstraintManager(constraint_defs);
  CreateRecordManager();
  if (cursor != nullptr) InitCursorRecordLayout(*cursor);
  FBLOBFile = CreateBLOBFile();
  FIndexManager->CreateIndexesByIndexDefs(cursor);
  if (cursor != nullptr) ApplyOutsideTransaction(cursor);
}

void TVEZTemporaryTableData::EmptyTable(TVEZCursor* /*cursor*/) {
  TVEZLockGuard guard(*this);
  // Made first: a table that cannot get a new BLOB file is not emptied.
  std::unique_ptr<TVEZStream> fresh = CreateBLOBFile();
  TVEZTableData::EmptyTable(nullptr);
  if (FRecordManager != nullptr) FRecordManager->Empty(-2);
  if (FPageManager != nullptr) FPageManager->ApplyChanges(-2);
  // The old entries (and their temporary file) go; BLOBs work again at once.
  FBLOBFile = std::move(fresh);
}

void TVEZTemporaryTableData::OpenTable(TVEZCursor& cursor) {
  SetTableName(cursor.TableName);
  // Whoever opens it, a cursor of this table works on a temporary table (its
  // indexes then imply no constraints).
  cursor.Temporary = true;
  TVEZTableData::OpenTable(cursor);
}

std::int64_t TVEZTemporaryTableData::GetApproximateRecordCount(std::int32_t /*session_id*/) {
  return FRecordManager != nullptr ? FRecordManager->RecordCount : 0;
}

std::int64_t TVEZTemporaryTableData::RecordIDToApproximateRecNo(TVEZPageItemID record_id) {
  return TVEZTemporaryRecordManager::RecordNoOf(record_id);
}

TVEZPageItemID TVEZTemporaryTableData::ApproximateRecNoToRecordID(std::int64_t value) {
  return TVEZTemporaryRecordManager::RecordIDOf(value);
}

// ---------------------------------------------------------------------------
// BLOBs

const TVEZFieldDef& TVEZTemporaryTableData::BlobFieldDef(std::int32_t field_no) const {
  if (FFieldManager == nullptr || field_no < 0 || field_no >= FFieldManager->FieldCount() ||
      !IsBlobBaseFieldType(FFieldManager->FieldDefs().GetDef(field_no)->BaseFieldType))
    throw EVEZException(10419, "Invalid BLOB field number = %d", {field_no});
  return *FFieldManager->FieldDefs().GetDef(field_no);
}

std::int64_t TVEZTemporaryTableData::BlobOffsetOf(const std::uint8_t* record,
                                                  const TVEZFieldDef& def) {
  return GetLE<std::int64_t>(record + def.MemoryOffset);
}

void TVEZTemporaryTableData::SetBlobOffset(std::uint8_t* record, std::int32_t field_no,
                                           std::int64_t offset) {
  PutLE<std::int64_t>(record + BlobFieldDef(field_no).MemoryOffset, offset);
  SetBufferBit(false, field_no, record);
}

std::int64_t TVEZTemporaryTableData::AppendBlobEntry(
    const TVEZPartialTemporaryBLOBDescriptor& descriptor, TVEZStream* source,
    const std::uint8_t* data, std::int32_t seek_error, std::int32_t descriptor_error) {
  TVEZStream& file = *FBLOBFile;
  const std::int64_t offset = file.Size();
  CheckedStreamSeek(file, seek_error, offset);
  try {
    std::uint8_t head[kDescriptorSize];
    descriptor.Encode(head);
    CheckedStreamWrite(head, kDescriptorSize, file, descriptor_error);
    if (source != nullptr) {
      source->SaveToStream(file);
    } else {
      for (std::int64_t done = 0; done < descriptor.CompressedSize;) {
        const std::int32_t chunk = ChunkOf(descriptor.CompressedSize - done);
        file.WriteBuffer(data + done, chunk);
        done += chunk;
      }
    }
  } catch (...) {
    // A half-written entry is cut off, so the next one starts where this did.
    try {
      file.SetSize(offset);
    } catch (...) {
      // The first error is the one reported; the tail is never referred to.
    }
    throw;
  }
  return offset;
}

TVEZPartialTemporaryBLOBDescriptor TVEZTemporaryTableData::ReadBlobEntry(std::int64_t offset,
                                                                         std::int32_t seek_error,
                                                                         std::int32_t read_error) {
  TVEZStream& file = *FBLOBFile;
  CheckedStreamSeek(file, seek_error, offset);
  std::uint8_t head[kDescriptorSize];
  CheckedStreamRead(head, kDescriptorSize, file, read_error);
  const TVEZPartialTemporaryBLOBDescriptor descriptor =
      TVEZPartialTemporaryBLOBDescriptor::Decode(head);
  // A damaged entry must not make us read past the file or allocate wildly.
  const std::int64_t left = file.Size() - file.Position();
  if (descriptor.CompressedSize < 0 || descriptor.CompressedSize > left ||
      descriptor.UncompressedSize < 0 || descriptor.NumBlocks < 0) {
    throw EVEZException(read_error,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Read = %d",
                        {file.Position(), file.Size(), descriptor.CompressedSize, left});
  }
  return descriptor;
}

void TVEZTemporaryTableData::WriteBLOBFieldToRecordBuffer(TVEZCursor& cursor, std::int32_t field_no,
                                                          TVEZStream& blob_stream) {
  RVX_INVARIANT(IsLockHeld(), "the cursor holds the database lock around a BLOB write");
  if (FBLOBFile == nullptr) throw EVEZException(10144, "Nil pointer occured");
  if (!blob_stream.Modified()) return;
  std::uint8_t* record = cursor.CurrentRecordBuffer;
  if (record == nullptr) throw EVEZException(10144, "Nil pointer occured");
  BlobFieldDef(field_no);
  if (blob_stream.Size() == 0) {
    SetBufferBit(true, field_no, record);
    return;
  }
  TVEZCompressedBLOBStream& compressed = CompressedStreamOf(blob_stream, 10144);
  TVEZPartialTemporaryBLOBDescriptor descriptor;
  // The entry stores the count in 32 bits: a larger one is refused, not cut.
  descriptor.NumBlocks = platform::CheckedCast<std::int32_t>(compressed.BLOBDescriptor().NumBlocks);
  descriptor.UncompressedSize = compressed.BLOBDescriptor().UncompressedSize;
  descriptor.CompressedSize = compressed.CompressedSize();
  const std::int64_t offset =
      AppendBlobEntry(descriptor, &compressed.CompressedStream(), nullptr, 10422, 10145);
  SetBlobOffset(record, field_no, offset);
}

std::unique_ptr<TVEZStream> TVEZTemporaryTableData::InternalCreateBlobStream(
    TVEZCursor& cursor, bool to_insert, std::int32_t field_no, TVEZBLOBOpenMode open_mode) {
  RVX_INVARIANT(IsLockHeld(), "the cursor holds the database lock around a BLOB stream");
  if (FBLOBFile == nullptr) throw EVEZException(10140, "Nil pointer occured");
  const TVEZFieldDef& def = BlobFieldDef(field_no);
  TVEZSessionLayerServices* services = SessionLayerServices();
  if (services == nullptr) throw EVEZException(10140, "Nil pointer occured");
  TVEZBLOBDescriptor descriptor;
  descriptor.BlockSize = def.BLOBBlockSize;
  descriptor.StartPosition = 0;
  descriptor.CompressionAlgorithm = static_cast<std::uint8_t>(def.BLOBCompressionAlgorithm);
  descriptor.CompressionMode = def.BLOBCompressionMode;
  auto underlying = std::make_unique<TVEZTemporaryStream>(DisableTempFiles());
  const std::uint8_t* record = cursor.CurrentRecordBuffer;
  const bool to_create =
      to_insert || open_mode == bomWrite || record == nullptr || GetBufferBit(field_no, record);
  if (!to_create) {
    const std::int64_t offset = BlobOffsetOf(record, def);
    const TVEZPartialTemporaryBLOBDescriptor entry = ReadBlobEntry(offset, 10141, 10142);
    underlying->LoadFromStreamWithPosition(
        *FBLOBFile, CheckedAdd<std::int64_t>(offset, kDescriptorSize), entry.CompressedSize);
    underlying->SetPosition(0);
    descriptor.NumBlocks = entry.NumBlocks;
    descriptor.UncompressedSize = entry.UncompressedSize;
  }
  auto compressed =
      std::make_unique<TVEZCompressedBLOBStream>(*underlying, descriptor, to_create, false);
  return services->CreateLocalBLOBStream(std::move(compressed), std::move(underlying), &cursor,
                                         open_mode, field_no);
}

void TVEZTemporaryTableData::GetDirectBlobData(TVEZCursor& /*cursor*/, std::int32_t field_no,
                                               std::uint8_t* record,
                                               TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                               std::uint8_t*& data) {
  const TVEZFieldDef& def = BlobFieldDef(field_no);
  descriptor = TVEZPartialTemporaryBLOBDescriptor();
  data = nullptr;
  if (GetBufferBit(field_no, record)) return;
  if (FBLOBFile == nullptr) throw EVEZException(10506, "Nil pointer occured");
  const TVEZPartialTemporaryBLOBDescriptor entry =
      ReadBlobEntry(BlobOffsetOf(record, def), 10509, 10510);
  if (entry.CompressedSize > 0) {
    auto* block = static_cast<std::uint8_t*>(MemoryManager().GetMem(entry.CompressedSize));
    try {
      for (std::int64_t done = 0; done < entry.CompressedSize;) {
        const std::int32_t chunk = ChunkOf(entry.CompressedSize - done);
        FBLOBFile->ReadBuffer(block + done, chunk);
        done += chunk;
      }
    } catch (...) {
      MemoryManager().FreeMem(block);
      throw;
    }
    data = block;
  }
  descriptor = entry;
}

void TVEZTemporaryTableData::SetDirectBlobData(TVEZCursor& /*cursor*/, std::int32_t field_no,
                                               std::uint8_t* record,
                                               TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                               std::uint8_t*& data) {
  if (FBLOBFile == nullptr) throw EVEZException(10506, "Nil pointer occured");
  BlobFieldDef(field_no);
  if (descriptor.UncompressedSize == 0) {
    SetBufferBit(true, field_no, record);
    return;
  }
  if (descriptor.CompressedSize < 0 || (descriptor.CompressedSize > 0 && data == nullptr))
    throw EVEZException(10506, "Nil pointer occured");
  const std::int64_t offset = AppendBlobEntry(descriptor, nullptr, data, 10507, 10508);
  SetBlobOffset(record, field_no, offset);
}

void TVEZTemporaryTableData::FreeDirectBlobData(TVEZCursor& /*cursor*/, std::int32_t /*field_no*/,
                                                std::uint8_t* /*record*/,
                                                TVEZPartialTemporaryBLOBDescriptor& /*descriptor*/,
                                                std::uint8_t*& data) {
  if (data != nullptr) MemoryManager().FreeAndNillMem(data);
}

// ---------------------------------------------------------------------------
// Records

bool TVEZTemporaryTableData::CanChangeRecord(TVEZCursor& cursor, TVEZRecordChange change) {
  // Records are kept as written.
  if (change != TVEZRecordChange::kInsert) return false;
  if (FRecordManager == nullptr) throw EVEZException(10134, "Nil pointer occured");
  if (cursor.CurrentRecordBuffer == nullptr) throw EVEZException(10135, "Nil pointer occured");
  return true;
}

void TVEZTemporaryTableData::UndoRecordChange(TVEZCursor& /*cursor*/,
                                              const TVEZRecordChangeContext& context) noexcept {
  if (context.RecordStored) TemporaryRecordManager()->DropLastRecord();
}

void TVEZTemporaryTableData::InternalSetRecNo(TVEZCursor& cursor, std::int64_t rec_no) {
  if (FRecordManager == nullptr) throw EVEZException(10136, "Nil pointer occured");
  cursor.CurrentRecordID = TVEZTemporaryRecordManager::RecordIDOf(rec_no < 2 ? 0 : rec_no - 1);
}

std::int64_t TVEZTemporaryTableData::InternalGetRecNo(TVEZCursor& cursor) {
  if (FRecordManager == nullptr) throw EVEZException(10137, "Nil pointer occured");
  return TVEZTemporaryRecordManager::RecordNoOf(cursor.CurrentRecordID) + 1;
}

std::int64_t TVEZTemporaryTableData::InternalGetRecordCount(TVEZCursor& /*cursor*/) {
  if (FRecordManager == nullptr) throw EVEZException(10133, "Nil pointer occured");
  return FRecordManager->RecordCount;
}

// ---------------------------------------------------------------------------
// Database data

TVEZTemporaryDatabaseData::TVEZTemporaryDatabaseData() : TVEZProcessDatabaseData(kDatabaseName) {}

TVEZTemporaryDatabaseData::~TVEZTemporaryDatabaseData() = default;

TVEZTableData* TVEZTemporaryDatabaseData::CreateTableData(TVEZCursor& cursor) {
  auto table = std::make_unique<TVEZTemporaryTableData>(this, kRecordsPerPage, kAllocRecordsBy);
  table->SetTableName(cursor.TableName);
  return AddTableData(std::move(table));
}

TVEZTemporaryDatabaseData& TemporaryDatabaseData() {
  return ProcessDatabase<TVEZTemporaryDatabaseData>();
}

}  // namespace vez
