#include "dbengine/storage/VEZTemporaryRecordManager.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZTemporaryFileName.h"
#include "platform/core/CheckedMath.h"

namespace vez {

using platform::CheckedAdd;
using platform::CheckedMul;
using platform::CheckedSub;

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

void FreeBlock(std::uint8_t*& block) noexcept {
  if (block == nullptr) return;
  try {
    MemoryManager().FreeAndNillMem(block);
  } catch (...) {
    // A damaged block is reported by the allocator; a release cannot pass it on.
    block = nullptr;
  }
}

}  // namespace

TVEZTemporaryRecordManager::TVEZTemporaryRecordManager(std::int32_t record_buffer_size,
                                                       std::int32_t records_per_page,
                                                       std::int32_t alloc_records_by,
                                                       bool disable_temp_files)
    : FAllocRecordsBy(std::max(alloc_records_by, 1)), FDisableTempFiles(disable_temp_files) {
  if (record_buffer_size <= 0)
    throw EVEZException(10124, "Invalid record size = %d", {record_buffer_size});
  RecordBufferSize = record_buffer_size;
  FRecordsPerPage = records_per_page > 0 ? records_per_page : 1;
  FMaxCachedRecordCount =
      MaxCachedRecordsFor(MemoryManager().GetFreeMemorySize(), record_buffer_size);
  FPageSize = CheckedMul(FRecordsPerPage, record_buffer_size);
  FTempPage = static_cast<std::uint8_t*>(MemoryManager().GetMem(FPageSize));
}

TVEZTemporaryRecordManager::~TVEZTemporaryRecordManager() {
  Empty(-2);
  FreeBlock(FTempPage);
}

std::int32_t TVEZTemporaryRecordManager::MaxCachedRecordsFor(std::int64_t free_memory,
                                                             std::int32_t record_buffer_size) {
  // The cache is one memory-manager block: past its largest size the cache
  // could not grow, and records would be refused instead of spilled.
  constexpr std::int64_t kLargestBlock =
      kInt32Max - TVEZMemoryManager::kHeadSize - TVEZMemoryManager::kTailSize;
  const std::int64_t bytes = std::clamp<std::int64_t>(free_memory / 10, 0, kLargestBlock);
  return static_cast<std::int32_t>(bytes / std::max(record_buffer_size, 1));
}

TVEZPageItemID TVEZTemporaryRecordManager::RecordIDOf(std::int64_t n) {
  TVEZPageItemID id;
  id.PageNo = static_cast<std::int32_t>(static_cast<std::uint32_t>(n & 0xFFFFFFFF));
  id.PageItemNo = static_cast<std::uint16_t>((n >> 32) & 0xFFFF);
  return id;
}

std::int64_t TVEZTemporaryRecordManager::RecordNoOf(const TVEZPageItemID& id) {
  const std::uint64_t raw =
      (static_cast<std::uint64_t>(id.PageItemNo) << 32) | static_cast<std::uint32_t>(id.PageNo);
  // Sign-extended from 48 bits: -1 is the position before the first record.
  return static_cast<std::int64_t>(raw << 16) >> 16;
}

void TVEZTemporaryRecordManager::Empty(std::int32_t /*session_id*/) {
  RecordCount = 0;
  FTempPageRecordCount = 0;
  FreeBlock(FCache);
  FCachedRecordCount = 0;
  FAllocatedRecordCount = 0;
  FTempPageFile.reset();
  // Bitmaps and position caches made before must see the table changed.
  IncTableState();
}

void TVEZTemporaryRecordManager::WriteTempPage() {
  if (FTempPageRecordCount == 0) return;
  if (FTempPageRecordCount > FRecordsPerPage)
    throw EVEZException(10126, "Invalid record count = %d. Limit is %d",
                        {FTempPageRecordCount, FRecordsPerPage});
  const std::int64_t first = CheckedSub<std::int64_t>(
      CheckedSub<std::int64_t>(RecordCount, FMaxCachedRecordCount), FTempPageRecordCount);
  const std::int64_t offset = CheckedMul<std::int64_t>(first, RecordBufferSize);
  FTempPageFile->File().WriteAt(
      offset, FTempPage,
      static_cast<std::size_t>(FTempPageRecordCount) * static_cast<std::size_t>(RecordBufferSize));
  FTempPageRecordCount = 0;
}

bool TVEZTemporaryRecordManager::AddRecord(std::int32_t /*session_id*/,
                                           const std::uint8_t* record_buffer,
                                           TVEZPageItemID& record_id) {
  try {
    const std::int64_t n = RecordCount;
    const std::int64_t next_count = CheckedAdd<std::int64_t>(n, 1);
    const auto size = static_cast<std::size_t>(RecordBufferSize);
    if (FCachedRecordCount < FAllocatedRecordCount) {
      std::memcpy(FCache + static_cast<std::size_t>(FCachedRecordCount) * size, record_buffer,
                  size);
      ++FCachedRecordCount;
    } else if (!FDisableTempFiles && FAllocatedRecordCount >= FMaxCachedRecordCount) {
      if (!FTempPageFile)
        FTempPageFile = std::make_unique<TVEZFileStream>(GetTemporaryFileName(),
                                                         TVEZFileStream::kModeCreate, true);
      // The staged records reach the file before this one is staged; a failed
      // write leaves them staged and the table as it was.
      WriteTempPage();
      std::memcpy(FTempPage + static_cast<std::size_t>(FTempPageRecordCount) * size, record_buffer,
                  size);
      ++FTempPageRecordCount;
    } else {
      std::int64_t grown = static_cast<std::int64_t>(FAllocatedRecordCount) + FAllocRecordsBy;
      if (!FDisableTempFiles) grown = std::min<std::int64_t>(grown, FMaxCachedRecordCount);
      const auto allocated = static_cast<std::int32_t>(std::min(grown, kInt32Max));
      if (allocated <= FCachedRecordCount) return false;
      // The block grows first; the counters follow once it is there.
      const std::int64_t bytes = CheckedMul<std::int64_t>(allocated, RecordBufferSize);
      if (FCache == nullptr)
        FCache = static_cast<std::uint8_t*>(MemoryManager().GetMem(bytes));
      else
        MemoryManager().ReallocMem(FCache, bytes, false);
      FAllocatedRecordCount = allocated;
      std::memcpy(FCache + static_cast<std::size_t>(FCachedRecordCount) * size, record_buffer,
                  size);
      ++FCachedRecordCount;
    }
    record_id = RecordIDOf(n);
    RecordCount = next_count;
    IncTableState();
    return true;
  } catch (...) {
    return false;
  }
}

void TVEZTemporaryRecordManager::DropLastRecord() {
  if (RecordCount == 0) return;
  const std::int64_t last = RecordCount - 1;
  if (last < FCachedRecordCount) {
    --FCachedRecordCount;
  } else if (FTempPageRecordCount > 0) {
    --FTempPageRecordCount;
  }
  // A record already written to the spill file is simply overwritten by the
  // next one: file offsets follow RecordCount.
  RecordCount = last;
  IncTableState();
}

void TVEZTemporaryRecordManager::ReadRecord(std::int64_t n, std::uint8_t* buffer) {
  if (n < 0 || n >= RecordCount || buffer == nullptr)
    throw EVEZException(10127, "Error retrieving record");
  const auto size = static_cast<std::size_t>(RecordBufferSize);
  if (n < FCachedRecordCount) {
    std::memcpy(buffer, FCache + static_cast<std::size_t>(n) * size, size);
    return;
  }
  WriteTempPage();
  const std::int64_t offset = CheckedMul<std::int64_t>(
      CheckedSub<std::int64_t>(n, FMaxCachedRecordCount), RecordBufferSize);
  const std::size_t got = FTempPageFile->File().ReadPartialAt(offset, buffer, size);
  if (got != size)
    throw EVEZException(10130,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Read = %d",
                        {offset, FTempPageFile->GetSize(), static_cast<std::int64_t>(size),
                         static_cast<std::int64_t>(got)});
}

void TVEZTemporaryRecordManager::GetRecordBuffer(std::int32_t /*session_id*/,
                                                 TVEZNavigationInfo& info) {
  if (RecordCount == 0) {
    info.GetRecordResult = grrEOF;
    return;
  }
  std::int64_t n = RecordNoOf(info.RecordID);
  auto result = grrError;
  const TVEZGetRecordMode mode = info.GetRecordMode;
  if (mode == grmCurrent) {
    result =
        (info.FirstPosition || info.LastPosition || n < 0 || n >= RecordCount) ? grrError : grrOK;
  } else if (mode == grmNext) {
    if (info.LastPosition) {
      result = grrEOF;
      n = RecordCount;
    } else {
      n = info.FirstPosition || n < 0 ? 0 : n + 1;
      result = n >= RecordCount ? grrEOF : grrOK;
      if (result == grrEOF) n = RecordCount;
    }
  } else if (mode == grmPrior) {
    if (info.FirstPosition) {
      result = grrBOF;
      n = -1;
    } else {
      n = info.LastPosition || n >= RecordCount ? RecordCount - 1 : n - 1;
      result = n < 0 ? grrBOF : grrOK;
      if (result == grrBOF) n = -1;
    }
  }
  // BOF and EOF leave the position just before the first or after the last
  // record, as the memory engine does.
  if (mode == grmNext || mode == grmPrior) {
    info.RecordID = RecordIDOf(n);
    info.FirstPosition = result == grrBOF;
    info.LastPosition = result == grrEOF;
  }
  if (result == grrOK) {
    try {
      ReadRecord(n, info.RecordBuffer);
    } catch (...) {
      result = grrError;
    }
  }
  info.GetRecordResult = result;
}

std::int32_t TVEZTemporaryRecordManager::CompareRecordID(const TVEZPageItemID& record_id1,
                                                         const TVEZPageItemID& record_id2) {
  const std::int64_t a = RecordNoOf(record_id1);
  const std::int64_t b = RecordNoOf(record_id2);
  if (a == b) return 0;
  return a > b ? 1 : -1;
}

std::int64_t TVEZTemporaryRecordManager::GetApproximateRecNo(std::int32_t /*session_id*/,
                                                             TVEZPageItemID record_id) {
  const std::int64_t n = RecordNoOf(record_id);
  return n >= 0 && n < RecordCount ? n + 1 : -1;
}

}  // namespace vez
