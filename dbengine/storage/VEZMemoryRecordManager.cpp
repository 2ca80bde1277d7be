#include "dbengine/storage/VEZMemoryRecordManager.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Invariant.h"

namespace vez {

using platform::CheckedAdd;
using platform::CheckedMul;

namespace {

std::int64_t FlagBytes(std::int32_t slots) {
  return slots / 8 + (slots % 8 != 0 ? 1 : 0);
}

// Live slots among the 8 of a flag byte (a clear flag is a live slot).
std::int32_t LiveIn(std::uint8_t flags) {
  return 8 - std::popcount(flags);
}

}  // namespace

TVEZMemoryRecordManager::TVEZMemoryRecordManager(std::int32_t record_buffer_size,
                                                 std::int32_t alloc_records_by)
    : FAllocRecordsBy(std::max(alloc_records_by, 1)) {
  if (record_buffer_size == 0 && !DesignMode())
    throw EVEZException(10011, "Invalid record size = 0");
  RecordBufferSize = record_buffer_size;
}

TVEZMemoryRecordManager::~TVEZMemoryRecordManager() {
  FreeBuffers();
}

void TVEZMemoryRecordManager::FreeBuffers() noexcept {
  try {
    if (FRecordBuffer != nullptr) MemoryManager().FreeAndNillMem(FRecordBuffer);
  } catch (...) {
    FRecordBuffer = nullptr;  // a damaged block is reported by the allocator only
  }
  try {
    if (FDeleteFlagBuffer != nullptr) MemoryManager().FreeAndNillMem(FDeleteFlagBuffer);
  } catch (...) {
    FDeleteFlagBuffer = nullptr;
  }
}

bool TVEZMemoryRecordManager::Flag(std::int32_t slot) const {
  return (FDeleteFlagBuffer[slot / 8] & (1u << (slot % 8))) != 0;
}

void TVEZMemoryRecordManager::SetFlag(std::int32_t slot, bool free) {
  const auto mask = static_cast<std::uint8_t>(1u << (slot % 8));
  if (free)
    FDeleteFlagBuffer[slot / 8] |= mask;
  else
    FDeleteFlagBuffer[slot / 8] &= static_cast<std::uint8_t>(~mask);
}

std::uint8_t* TVEZMemoryRecordManager::Slot(std::int32_t slot) const {
  return FRecordBuffer + static_cast<std::int64_t>(slot) * RecordBufferSize;
}

bool TVEZMemoryRecordManager::IsLive(std::int32_t slot) const {
  return RecordCount > 0 && slot >= FFirstRecordID && slot <= FLastRecordID && !Flag(slot);
}

const std::uint8_t* TVEZMemoryRecordManager::SlotData(std::int32_t slot) const {
  return IsLive(slot) ? Slot(slot) : nullptr;
}

void TVEZMemoryRecordManager::Empty(std::int32_t /*session_id*/) {
  FreeBuffers();
  FAllocatedRecordCount = 0;
  RecordCount = 0;
  FFirstRecordID = FLastRecordID = 0;
  IncTableState();
}

bool TVEZMemoryRecordManager::AddRecord(std::int32_t /*session_id*/,
                                        const std::uint8_t* record_buffer,
                                        TVEZPageItemID& record_id) {
  try {
    const std::int32_t slot = RecordCount > 0 ? CheckedAdd(FLastRecordID, 1) : 0;
    if (slot >= FAllocatedRecordCount) {
      // Both blocks are grown before the count is raised: a refused
      // allocation leaves the manager exactly as it was.
      // At least the growth step, and a quarter of what is there: every
      // growth copies the whole block, so fixed steps would make a large
      // table's inserts quadratic.
      const std::int32_t allocated =
          CheckedAdd(FAllocatedRecordCount, std::max(FAllocRecordsBy, FAllocatedRecordCount / 4));
      const std::int64_t record_bytes = CheckedMul<std::int64_t>(allocated, RecordBufferSize);
      const std::int64_t old_flag_bytes = FlagBytes(FAllocatedRecordCount);
      const std::int64_t flag_bytes = FlagBytes(allocated);
      std::uint8_t* flags = static_cast<std::uint8_t*>(MemoryManager().GetMem(flag_bytes));
      try {
        if (FRecordBuffer == nullptr)
          FRecordBuffer = static_cast<std::uint8_t*>(MemoryManager().GetMem(record_bytes));
        else
          MemoryManager().ReallocMem(FRecordBuffer, record_bytes, false);
      } catch (...) {
        MemoryManager().FreeMem(flags);
        throw;
      }
      // New slots start free, so the clear flags are exactly the live slots.
      std::memset(flags, 0xFF, static_cast<std::size_t>(flag_bytes));
      if (FDeleteFlagBuffer != nullptr) {
        std::memcpy(flags, FDeleteFlagBuffer, static_cast<std::size_t>(old_flag_bytes));
        MemoryManager().FreeMem(FDeleteFlagBuffer);
      }
      FDeleteFlagBuffer = flags;
      for (std::int32_t s = FAllocatedRecordCount; s < allocated; ++s)
        SetFlag(s, true);
      FAllocatedRecordCount = allocated;
    }
    std::memcpy(Slot(slot), record_buffer, static_cast<std::size_t>(RecordBufferSize));
    SetFlag(slot, false);
    FFirstRecordID = RecordCount > 0 ? std::min(FFirstRecordID, slot) : slot;
    FLastRecordID = RecordCount > 0 ? std::max(FLastRecordID, slot) : slot;
    ++RecordCount;
    record_id = {slot, 0};
    IncTableState();
    return true;
  } catch (...) {
    return false;
  }
}

bool TVEZMemoryRecordManager::UpdateRecord(std::int32_t /*session_id*/,
                                           const std::uint8_t* record_buffer,
                                           TVEZPageItemID record_id) {
  // A free slot is never written: that would bring back a deleted record's
  // bytes under a live index entry.
  if (!IsLive(record_id.PageNo)) return false;
  std::memcpy(Slot(record_id.PageNo), record_buffer, static_cast<std::size_t>(RecordBufferSize));
  IncTableState();
  return true;
}

bool TVEZMemoryRecordManager::DeleteRecord(std::int32_t /*session_id*/, TVEZPageItemID& record_id) {
  record_id.PageItemNo = 0;
  const std::int32_t slot = record_id.PageNo;
  if (!IsLive(slot)) return false;
  RVX_INVARIANT(RecordCount > 0, "a live slot is counted");
  SetFlag(slot, true);
  --RecordCount;
  if (RecordCount > 0) {
    if (slot == FFirstRecordID) {
      std::int32_t s = slot + 1;
      while (Flag(s))
        ++s;
      FFirstRecordID = s;
    }
    if (slot == FLastRecordID) {
      std::int32_t s = slot - 1;
      while (Flag(s))
        --s;
      FLastRecordID = s;
      record_id.PageNo = s;
    }
  } else {
    FFirstRecordID = FLastRecordID = 0;
  }
  FNoRecordsDeleted = false;
  IncTableState();
  return true;
}

void TVEZMemoryRecordManager::GetRecordBuffer(std::int32_t /*session_id*/,
                                              TVEZNavigationInfo& info) {
  auto result = grrError;
  std::int32_t s = info.RecordID.PageNo;
  const TVEZGetRecordMode mode = info.GetRecordMode;
  if (RecordCount == 0) {
    info.GetRecordResult = grrEOF;
    return;
  }
  if (mode == grmCurrent) {
    result = (info.FirstPosition || info.LastPosition || !IsLive(s)) ? grrError : grrOK;
  } else if (mode == grmNext) {
    if (info.LastPosition) {
      result = grrEOF;
    } else {
      // Before the first live slot (BOF or a slot number below it) the next
      // record is the first one; past the last, EOF, whatever the number.
      s = info.FirstPosition || s < FFirstRecordID ? FFirstRecordID : s + 1;
      while (s <= FLastRecordID && Flag(s))
        ++s;
      if (s > FLastRecordID) {
        s = FLastRecordID + 1;
        result = grrEOF;
      } else {
        result = grrOK;
      }
    }
  } else {
    if (info.FirstPosition) {
      result = grrBOF;
    } else {
      s = info.LastPosition || s > FLastRecordID ? FLastRecordID : s - 1;
      while (s >= FFirstRecordID && Flag(s))
        --s;
      if (s < FFirstRecordID) {
        s = FFirstRecordID - 1;
        result = grrBOF;
      } else {
        result = grrOK;
      }
    }
  }
  if (mode != grmCurrent) {
    info.RecordID = {s, 0};
    info.FirstPosition = result == grrBOF;
    info.LastPosition = result == grrEOF;
  }
  if (result == grrOK) {
    if (info.RecordBuffer == nullptr) throw EVEZException(10019, "Error retrieving record");
    std::memcpy(info.RecordBuffer, Slot(s), static_cast<std::size_t>(RecordBufferSize));
  }
  info.GetRecordResult = result;
}

std::int32_t TVEZMemoryRecordManager::CompareRecordID(const TVEZPageItemID& record_id1,
                                                      const TVEZPageItemID& record_id2) {
  if (record_id1.PageNo == record_id2.PageNo) return 0;
  return record_id1.PageNo > record_id2.PageNo ? 1 : -1;
}

std::int64_t TVEZMemoryRecordManager::GetApproximateRecNo(std::int32_t /*session_id*/,
                                                          TVEZPageItemID record_id) {
  const std::int32_t slot = record_id.PageNo;
  if (RecordCount == 0 || slot < FFirstRecordID || slot > FLastRecordID) return -1;
  if (RecordCount == 1 || FLastRecordID == FFirstRecordID) return 1;
  // The slot's place in the live span, scaled to the record count.
  const double place = static_cast<double>(slot - FFirstRecordID) /
                       static_cast<double>(FLastRecordID - FFirstRecordID) *
                       static_cast<double>(RecordCount - 1);
  return std::clamp<std::int64_t>(std::llround(place) + 1, 1, RecordCount);
}

std::int32_t TVEZMemoryRecordManager::SlotOfRecNo(std::int64_t rec_no) const {
  const std::int64_t p = rec_no - 1;
  if (p < 0 || p >= RecordCount) return -1;  // at or past the count: no record
  if (FNoRecordsDeleted) return static_cast<std::int32_t>(p);
  // Whole flag bytes while they hold fewer live slots than still wanted,
  // then the bits of the byte that holds the record.
  std::int64_t before = 0;
  std::int32_t byte = 0;
  const auto bytes = static_cast<std::int32_t>(FlagBytes(FAllocatedRecordCount));
  while (byte < bytes && before + LiveIn(FDeleteFlagBuffer[byte]) <= p) {
    before += LiveIn(FDeleteFlagBuffer[byte]);
    ++byte;
  }
  for (std::int32_t s = byte * 8; s < FAllocatedRecordCount; ++s) {
    if (Flag(s)) continue;
    if (before == p) return s;
    ++before;
  }
  return -1;
}

std::int64_t TVEZMemoryRecordManager::RecNoOfSlot(std::int32_t slot) const {
  if (slot < 0 || slot >= FAllocatedRecordCount) return -1;
  if (FNoRecordsDeleted) return static_cast<std::int64_t>(slot) + 1;
  std::int64_t live = 0;
  const std::int32_t whole = (slot + 1) / 8;
  for (std::int32_t b = 0; b < whole; ++b)
    live += LiveIn(FDeleteFlagBuffer[b]);
  for (std::int32_t s = whole * 8; s <= slot; ++s)
    if (!Flag(s)) ++live;
  return live;
}

}  // namespace vez
