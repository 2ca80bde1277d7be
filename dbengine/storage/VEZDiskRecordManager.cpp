#include "dbengine/storage/VEZDiskRecordManager.h"

#include <bit>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZStream.h"
#include "dbengine/storage/VEZDBFileFormat.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZFieldManager.h"
#include "dbengine/storage/VEZPageManager.h"
#include "platform/core/Invariant.h"

namespace vez {

namespace {

constexpr std::int32_t kInternalSession = -2;
// The highest state a page in use carries; above it the page is freed or unreadable.
constexpr std::int32_t kHighestLiveRecordPageState = 0x7FFFFFFD;
constexpr std::int32_t kErrMetadataRead = 20164;

}  // namespace

std::int32_t MaxRecordsOnRecordPage(std::int32_t page_data_size, std::int32_t record_size) {
  // floor((P - 1) / (S + 0.125)) in exact integers: 8(P - 1) / (8S + 1).
  if (page_data_size < 1 || record_size < 1) return 0;
  const std::int64_t m = (8 * (static_cast<std::int64_t>(page_data_size) - 1)) /
                         (8 * static_cast<std::int64_t>(record_size) + 1);
  return static_cast<std::int32_t>(m);
}

// ---------------------------------------------------------------------------
// TVEZSmallRecordPage

TVEZSmallRecordPage::TVEZSmallRecordPage(TVEZPage* page, std::int32_t record_size,
                                         std::int32_t max_records_on_page)
    : page_(page),
      record_size_(record_size),
      max_records_on_page_(max_records_on_page),
      record_data_offset_((max_records_on_page + 7) / 8) {
  RVX_INVARIANT(page->UseCount() > 0, "a record page is read only while pinned");
  const std::int64_t end = record_data_offset_ + static_cast<std::int64_t>(max_records_on_page) *
                                                     static_cast<std::int64_t>(record_size);
  if (max_records_on_page < 0 || record_size < 0 || end > page->PageDataSize())
    throw EVEZException(kErrInvalidRecordsOnPage, "Invalid number of records on page");
}

std::uint8_t* TVEZSmallRecordPage::Slot(std::int32_t slot) const {
  return page_->PageData() + record_data_offset_ + static_cast<std::ptrdiff_t>(slot) * record_size_;
}

bool TVEZSmallRecordPage::IsSlotUsed(std::int32_t slot) const {
  if (slot < 0 || slot >= max_records_on_page_) return false;
  return (page_->PageData()[slot / 8] & (1u << (slot % 8))) != 0;
}

void TVEZSmallRecordPage::SetSlotUsed(std::int32_t slot, bool used) {
  std::uint8_t& b = page_->PageData()[slot / 8];
  const auto mask = static_cast<std::uint8_t>(1u << (slot % 8));
  b = used ? static_cast<std::uint8_t>(b | mask) : static_cast<std::uint8_t>(b & ~mask);
}

std::int64_t TVEZSmallRecordPage::RecordCount() const {
  std::int64_t n = 0;
  const std::uint8_t* map = page_->PageData();
  const std::int32_t full = max_records_on_page_ / 8;
  for (std::int32_t i = 0; i < full; ++i)
    n += std::popcount(map[i]);
  for (std::int32_t s = full * 8; s < max_records_on_page_; ++s)
    n += IsSlotUsed(s) ? 1 : 0;
  return n;
}

void TVEZSmallRecordPage::AddRecord(const std::uint8_t* record, TVEZPageItemID& record_id) {
  std::int32_t slot = 0;
  while (slot < max_records_on_page_ && IsSlotUsed(slot))
    ++slot;
  if (slot >= max_records_on_page_)
    throw EVEZException(kErrRecordPageFull, "Cannot add record to page. Page is full");
  std::memcpy(Slot(slot), record, static_cast<std::size_t>(record_size_));
  SetSlotUsed(slot, true);
  page_->SetIsDirty(true);
  record_id = {page_->PageNo(), static_cast<std::uint16_t>(slot)};
}

bool TVEZSmallRecordPage::UpdateRecord(const std::uint8_t* record, TVEZPageItemID record_id) {
  if (!IsSlotUsed(record_id.PageItemNo)) return false;
  std::memcpy(Slot(record_id.PageItemNo), record, static_cast<std::size_t>(record_size_));
  page_->SetIsDirty(true);
  return true;
}

bool TVEZSmallRecordPage::DeleteRecord(TVEZPageItemID record_id) {
  if (!IsSlotUsed(record_id.PageItemNo)) return false;
  SetSlotUsed(record_id.PageItemNo, false);
  page_->SetIsDirty(true);
  return true;
}

bool TVEZSmallRecordPage::GetRecordBuffer(TVEZPageItemID record_id, std::uint8_t* record) const {
  if (!IsSlotUsed(record_id.PageItemNo)) return false;
  std::memcpy(record, Slot(record_id.PageItemNo), static_cast<std::size_t>(record_size_));
  return true;
}

void TVEZSmallRecordPage::GetFirstRecordID(TVEZPageItemID& record_id) const {
  for (std::int32_t s = 0; s < max_records_on_page_; ++s) {
    if (IsSlotUsed(s)) {
      record_id = {page_->PageNo(), static_cast<std::uint16_t>(s)};
      return;
    }
  }
  throw EVEZException(kErrRecordNotFoundFirst, "Record not found. PageNo=%d, PageRecordCount=%d",
                      {page_->PageNo(), RecordCount()});
}

void TVEZSmallRecordPage::GetLastRecordID(TVEZPageItemID& record_id) const {
  for (std::int32_t s = max_records_on_page_ - 1; s >= 0; --s) {
    if (IsSlotUsed(s)) {
      record_id = {page_->PageNo(), static_cast<std::uint16_t>(s)};
      return;
    }
  }
  throw EVEZException(kErrRecordNotFoundLast, "Record not found");
}

bool TVEZSmallRecordPage::GetNextRecordID(TVEZPageItemID& record_id) const {
  for (std::int32_t s = record_id.PageItemNo + 1; s < max_records_on_page_; ++s) {
    if (IsSlotUsed(s)) {
      record_id = {page_->PageNo(), static_cast<std::uint16_t>(s)};
      return true;
    }
  }
  return false;
}

bool TVEZSmallRecordPage::GetPriorRecordID(TVEZPageItemID& record_id) const {
  std::int32_t s = record_id.PageItemNo;
  if (s > max_records_on_page_) s = max_records_on_page_;
  for (--s; s >= 0; --s) {
    if (IsSlotUsed(s)) {
      record_id = {page_->PageNo(), static_cast<std::uint16_t>(s)};
      return true;
    }
  }
  return false;
}

void TVEZSmallRecordPage::GetRecordID(std::int32_t rec_no_on_page,
                                      TVEZPageItemID& record_id) const {
  std::int32_t seen = 0;
  for (std::int32_t s = 0; s < max_records_on_page_ && rec_no_on_page >= 0; ++s) {
    if (!IsSlotUsed(s)) continue;
    if (seen == rec_no_on_page) {
      record_id = {page_->PageNo(), static_cast<std::uint16_t>(s)};
      return;
    }
    ++seen;
  }
  throw EVEZException(kErrRecordNotFoundNextPage, "Record not found");
}

std::int32_t TVEZSmallRecordPage::GetRecNoOnPage(TVEZPageItemID record_id) const {
  std::int32_t n = 0;
  const std::int32_t end = record_id.PageItemNo < max_records_on_page_
                               ? static_cast<std::int32_t>(record_id.PageItemNo)
                               : max_records_on_page_;
  for (std::int32_t s = 0; s < end; ++s)
    n += IsSlotUsed(s) ? 1 : 0;
  return n;
}

// ---------------------------------------------------------------------------
// TVEZDiskRecordManager

TVEZDiskRecordManager::TVEZDiskRecordManager(TVEZPageManager* page_manager,
                                             TVEZBaseFieldManager* field_manager,
                                             std::int32_t table_id)
    : record_page_index_(page_manager),
      page_manager_(page_manager),
      disk_page_manager_(dynamic_cast<TVEZDiskPageManager*>(page_manager)),
      field_manager_(field_manager),
      table_id_(table_id) {}

TVEZDiskRecordManager::~TVEZDiskRecordManager() {
  if (temp_disk_record_) {
    try {
      MemoryManager().FreeAndNillMem(temp_disk_record_);
    } catch (...) {  // a damaged guard must not escape a destructor
    }
  }
}

void TVEZDiskRecordManager::Init(std::int32_t record_buffer_size,
                                 std::int32_t disk_record_buffer_size,
                                 std::int32_t /*field_count*/) {
  const std::int32_t m =
      MaxRecordsOnRecordPage(page_manager_->PageDataSize(), disk_record_buffer_size);
  if (m <= 0)
    throw EVEZException(kErrRecordTooLarge,
                        "Cannot create table. Record is too large to fit in current database "
                        "page. Please increase page size of database file or decrease record "
                        "size");
  auto* buffer = static_cast<std::uint8_t*>(MemoryManager().AllocMem(disk_record_buffer_size));
  if (temp_disk_record_) MemoryManager().FreeAndNillMem(temp_disk_record_);
  temp_disk_record_ = buffer;
  RecordBufferSize = record_buffer_size;
  disk_record_buffer_size_ = disk_record_buffer_size;
  max_records_on_page_ = m;
  record_page_index_.SetMaxRecordsOnPage(m);
  RecordCount = 0;
  TableState = 0;
}

void TVEZDiskRecordManager::LoadMostUpdated(const std::uint8_t* buffer, std::int32_t buffer_size,
                                            std::int32_t& offset) {
  if (offset < 0 || buffer_size - offset < 8)
    throw EVEZException(kErrMostUpdatedData, "Invalid table header data");
  const auto state = GetLE<std::int32_t>(buffer + offset);
  const auto count = GetLE<std::int32_t>(buffer + offset + 4);
  // The count is stored as an Int32; a negative one is damage, not a table.
  if (count < 0) throw EVEZException(kErrMostUpdatedData, "Invalid table header data");
  TableState = state;
  RecordCount = count;
  offset += 8;
}

void TVEZDiskRecordManager::SaveMostUpdated(std::uint8_t* buffer, std::int32_t buffer_size,
                                            std::int32_t& offset) const {
  if (offset < 0 || buffer_size - offset < 8)
    throw EVEZException(kErrMostUpdatedData, "Invalid table header data");
  PutLE<std::int32_t>(buffer + offset, TableState);
  PutLE<std::int32_t>(buffer + offset + 4, static_cast<std::int32_t>(RecordCount));
  offset += 8;
}

void TVEZDiskRecordManager::LoadMetadata(TVEZStream& stream) {
  std::uint8_t b[4];
  CheckedStreamRead(b, 4, stream, kErrMetadataRead);
  record_page_index_.OpenIndex(GetLE<std::int32_t>(b));
}

void TVEZDiskRecordManager::SaveMetadata(TVEZStream& stream) const {
  std::uint8_t b[4];
  PutLE<std::int32_t>(b, record_page_index_.RootPageNo());
  CheckedStreamWrite(b, 4, stream, kErrMetadataRead);
}

void TVEZDiskRecordManager::CreateRecordPageIndex() {
  record_page_index_.CreateIndex(kInternalSession);
}

TVEZSmallRecordPage TVEZDiskRecordManager::View(TVEZPage* page) const {
  return TVEZSmallRecordPage(page, disk_record_buffer_size_, max_records_on_page_);
}

void TVEZDiskRecordManager::Empty(std::int32_t session_id) {
  std::int32_t page_no = 0;
  if (record_page_index_.GetFirstRecordPage(session_id, page_no)) {
    std::vector<std::int32_t> pages{page_no};
    std::int32_t next = 0;
    while (record_page_index_.GetNextRecordPage(session_id, pages.back(), next))
      pages.push_back(next);
    for (const std::int32_t p : pages)
      page_manager_->RemovePage(session_id, p);
  }
  record_page_index_.EmptyIndex(session_id);
  TableState = 0;
  RecordCount = 0;
}

void TVEZDiskRecordManager::Delete(std::int32_t session_id) {
  Empty(session_id);
  record_page_index_.DropIndex(session_id);
}

bool TVEZDiskRecordManager::AddRecord(std::int32_t session_id, const std::uint8_t* record_buffer,
                                      TVEZPageItemID& record_id) {
  field_manager_->MemRecordBufferToDiskRecordBuffer(record_buffer, temp_disk_record_);
  std::int32_t page_no = 0;
  TVEZPage* raw = nullptr;
  if (record_page_index_.FindPageForNewRecord(session_id, page_no)) {
    raw = page_manager_->GetPage(session_id, page_no, kPageTypeTableRecord, true);
  } else {
    raw = page_manager_->AddPage(session_id, kPageTypeTableRecord);
    raw->PageHeader().SetObjectID(table_id_);
    page_no = raw->PageNo();
  }
  TVEZPinnedPage page(page_manager_, raw);
  // A page of another table named by a damaged index must not take our record.
  if (page->PageHeader().ObjectID() != table_id_)
    throw EVEZException(kErrorCorruptIndexPage,
                        "Damaged index page. Possible data corruption. PageNo=%d (%s)",
                        {page_no, std::string("record page of another table")});
  TVEZSmallRecordPage view = View(page.get());
  TVEZPageItemID id;
  view.AddRecord(temp_disk_record_, id);
  record_page_index_.AddRecord(session_id, page_no, 1);
  // Counted only once stored: a failure above leaves them as they were.
  ++RecordCount;
  IncTableState();
  record_id = id;
  return true;
}

bool TVEZDiskRecordManager::UpdateRecord(std::int32_t session_id, const std::uint8_t* record_buffer,
                                         TVEZPageItemID record_id) {
  TVEZPinnedPage page(page_manager_, page_manager_->GetPage(session_id, record_id.PageNo,
                                                            kPageTypeTableRecord, true));
  field_manager_->MemRecordBufferToDiskRecordBuffer(record_buffer, temp_disk_record_);
  const bool done = View(page.get()).UpdateRecord(temp_disk_record_, record_id);
  if (done) IncTableState();
  return done;
}

bool TVEZDiskRecordManager::DeleteRecord(std::int32_t session_id, TVEZPageItemID& record_id) {
  TVEZPinnedPage page(page_manager_, page_manager_->GetPage(session_id, record_id.PageNo,
                                                            kPageTypeTableRecord, true));
  TVEZSmallRecordPage view = View(page.get());
  if (!view.DeleteRecord(record_id)) return false;
  const auto left = static_cast<std::int32_t>(view.RecordCount());
  const std::int32_t page_no = page->PageNo();
  record_page_index_.DeleteRecord(session_id, page_no, left);
  // An empty record page goes back to the free space at once.
  if (left == 0) page_manager_->RemovePage(session_id, page_no);
  --RecordCount;
  IncTableState();
  return true;
}

bool TVEZDiskRecordManager::IsRecordPageValid(TVEZPage* page) const {
  if (TVEZDiskPageManager* disk = disk_page_manager_) {
    if (disk->FreeSpaceManager() && disk->FreeSpaceManager()->SuppressDBHeaderErrors()) return true;
    if (disk->DBHeader().Version < kDBLowestSoundVersion) return true;
  }
  TVEZDiskPageHeaderView h = page->PageHeader();
  return h.State() <= kHighestLiveRecordPageState && h.PageType() == kPageTypeTableRecord &&
         h.ObjectID() == table_id_;
}

void TVEZDiskRecordManager::Deliver(const TVEZSmallRecordPage& view, TVEZPageItemID id,
                                    TVEZNavigationInfo& info, std::int32_t not_found_error) {
  if (!view.GetRecordBuffer(id, temp_disk_record_))
    throw EVEZException(not_found_error, "Record not found");
  if (info.RecordBuffer)
    field_manager_->DiskRecordBufferToMemRecordBuffer(temp_disk_record_, info.RecordBuffer);
  info.RecordID = id;
  info.FirstPosition = false;
  info.LastPosition = false;
  info.GetRecordResult = grrOK;
}

void TVEZDiskRecordManager::ReadEnd(std::int32_t session_id, TVEZNavigationInfo& info, bool first) {
  std::int32_t page_no = 0;
  const bool found = first ? record_page_index_.GetFirstRecordPage(session_id, page_no)
                           : record_page_index_.GetLastRecordPage(session_id, page_no);
  if (!found) {
    info.GetRecordResult = first ? grrEOF : grrBOF;
    return;
  }
  TVEZPinnedPage page(page_manager_,
                      page_manager_->GetPage(session_id, page_no, kPageTypeAny, true));
  if (!IsRecordPageValid(page.get())) {
    info.GetRecordResult = grrError;
    return;
  }
  TVEZSmallRecordPage view = View(page.get());
  TVEZPageItemID id;
  if (first)
    view.GetFirstRecordID(id);
  else
    view.GetLastRecordID(id);
  Deliver(view, id, info, first ? kErrRecordNotFoundNextPage : kErrRecordNotFoundPriorPage);
}

void TVEZDiskRecordManager::GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info) {
  if (RecordCount == 0) {
    info.GetRecordResult = grrEOF;
    return;
  }
  const TVEZGetRecordMode mode = info.GetRecordMode;
  if (info.FirstPosition) {
    if (mode == grmNext)
      ReadEnd(session_id, info, true);
    else
      info.GetRecordResult = mode == grmPrior ? grrBOF : grrError;
    return;
  }
  if (info.LastPosition) {
    if (mode == grmPrior)
      ReadEnd(session_id, info, false);
    else
      info.GetRecordResult = mode == grmNext ? grrEOF : grrError;
    return;
  }
  const TVEZPageItemID current = info.RecordID;
  if (mode == grmCurrent) {
    TVEZPinnedPage page(page_manager_,
                        page_manager_->GetPage(session_id, current.PageNo, kPageTypeAny, true));
    TVEZSmallRecordPage view = View(page.get());
    if (!IsRecordPageValid(page.get()) || !view.IsSlotUsed(current.PageItemNo)) {
      info.GetRecordResult = grrError;
      return;
    }
    Deliver(view, current, info, kErrRecordNotFoundNext);
    return;
  }
  const bool forward = mode == grmNext;
  {
    TVEZPinnedPage page(page_manager_,
                        page_manager_->GetPage(session_id, current.PageNo, kPageTypeAny, true));
    if (!IsRecordPageValid(page.get())) {
      if (forward) {
        info.GetRecordResult = grrEOF;
        return;
      }
      // The page stopped being ours: answer as from after the last record.
      ReadEnd(session_id, info, false);
      return;
    }
    TVEZSmallRecordPage view = View(page.get());
    TVEZPageItemID id = current;
    if (forward ? view.GetNextRecordID(id) : view.GetPriorRecordID(id)) {
      Deliver(view, id, info, forward ? kErrRecordNotFoundNext : kErrRecordNotFoundPrior);
      return;
    }
  }
  std::int32_t other = 0;
  const bool found = forward
                         ? record_page_index_.GetNextRecordPage(session_id, current.PageNo, other)
                         : record_page_index_.GetPriorRecordPage(session_id, current.PageNo, other);
  if (!found) {
    info.GetRecordResult = forward ? grrEOF : grrBOF;
    return;
  }
  TVEZPinnedPage page(page_manager_,
                      page_manager_->GetPage(session_id, other, kPageTypeTableRecord, true));
  TVEZSmallRecordPage view = View(page.get());
  TVEZPageItemID id;
  if (forward)
    view.GetFirstRecordID(id);
  else
    view.GetLastRecordID(id);
  Deliver(view, id, info, forward ? kErrRecordNotFoundNextPage : kErrRecordNotFoundPriorPage);
}

std::int32_t TVEZDiskRecordManager::CompareRecordID(const TVEZPageItemID& record_id1,
                                                    const TVEZPageItemID& record_id2) {
  if (record_id1.PageNo != record_id2.PageNo) return record_id1.PageNo < record_id2.PageNo ? -1 : 1;
  if (record_id1.PageItemNo != record_id2.PageItemNo)
    return record_id1.PageItemNo < record_id2.PageItemNo ? -1 : 1;
  return 0;
}

std::int64_t TVEZDiskRecordManager::GetApproximateRecNo(std::int32_t /*session_id*/,
                                                        TVEZPageItemID /*record_id*/) {
  return RecordCount / 2;
}

void TVEZDiskRecordManager::SetRecNo(std::int32_t session_id, std::int64_t rec_no,
                                     TVEZPageItemID& record_id) {
  std::int32_t page_no = 0;
  std::int32_t rec_no_on_page = 0;
  record_page_index_.GetRecordByRecNo(session_id, rec_no - 1, page_no, rec_no_on_page);
  TVEZPinnedPage page(page_manager_,
                      page_manager_->GetPage(session_id, page_no, kPageTypeTableRecord, true));
  View(page.get()).GetRecordID(rec_no_on_page, record_id);
}

std::int64_t TVEZDiskRecordManager::GetRecNo(std::int32_t session_id, TVEZPageItemID record_id) {
  std::int32_t on_page = 0;
  {
    TVEZPinnedPage page(page_manager_, page_manager_->GetPage(session_id, record_id.PageNo,
                                                              kPageTypeTableRecord, true));
    on_page = View(page.get()).GetRecNoOnPage(record_id);
  }
  std::int64_t rec_no = 0;
  record_page_index_.GetRecNoByRecord(session_id, record_id.PageNo, on_page, rec_no);
  return rec_no + 1;
}

void TVEZDiskRecordManager::RebuildRecordPageIndex(std::int32_t session_id) {
  record_page_index_.CreateIndex(session_id);
  RecordCount = 0;
  auto* disk = dynamic_cast<TVEZDiskPageManager*>(page_manager_);
  const std::int32_t page_count = page_manager_->GetPageCount();
  for (std::int32_t page_no = 1; page_no < page_count; ++page_no) {
    TVEZPage* raw = nullptr;
    try {
      raw = page_manager_->GetPage(session_id, page_no, kPageTypeTableRecord, true);
    } catch (const platform::Exception&) {
      continue;  // not a record page, or unreadable: not ours to count
    }
    try {
      const bool used = !disk || !disk->FreeSpaceManager() ||
                        disk->FreeSpaceManager()->GetPageUsageFromPFS(page_no);
      if (raw->PageHeader().ObjectID() == table_id_ && IsRecordPageValid(raw) && used) {
        const auto count = static_cast<std::int32_t>(View(raw).RecordCount());
        if (count > 0) {
          record_page_index_.AddRecord(session_id, page_no, count);
          RecordCount += count;
        }
      }
    } catch (const platform::Exception&) {
      // A page that cannot be examined is left out of the rebuilt index.
    }
    try {
      page_manager_->PutPage(raw);
    } catch (const platform::Exception&) {
    }
  }
}

void TVEZDiskRecordManager::ValidateRecordPageIndex(std::int32_t session_id) {
  record_page_index_.Validate(session_id, RecordCount);
}

}  // namespace vez
