#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"

#include <algorithm>
#include <exception>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDBFileFormat.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "platform/core/CheckedMath.h"

namespace vez {

using platform::CheckedAdd;
using platform::CheckedMul;

namespace {

// One allocation or release under the header lock: the body runs on fresh
// copies of the maps, and the counters it reached are saved even when it
// fails (the body's failure is the one reported), so the header never lags
// the maps already written. The lock is released on every path.
template <class Forget, class Save, class Body>
void UnderHeaderLock(TVEZDiskPageManager& pm, std::int32_t lock_error, Forget forget, Save save,
                     Body body) {
  pm.WaitForDBHeaderLock(lock_error);
  try {
    forget();
    body();
  } catch (...) {
    try {
      save();
    } catch (...) {
      // The first failure is the one to report.
    }
    forget();
    pm.UnlockDBHeader();
    throw;
  }
  try {
    save();
  } catch (...) {
    pm.UnlockDBHeader();
    throw;
  }
  pm.UnlockDBHeader();
}

}  // namespace

struct TVEZDatabaseFreeSpaceManager::Held {
  explicit Held(TVEZPageManager* pm) : page(pm) {}
  TVEZPage page;
  bool valid = false;
};

TVEZDatabaseFreeSpaceManager::TVEZDatabaseFreeSpaceManager(TVEZDiskPageManager* page_manager)
    : page_manager_(page_manager),
      page_count_in_extent_(page_manager->DBHeader().PageCountInExtent),
      pfs_pages_addressed_(CheckedMul<std::int32_t>(page_manager->PageDataSize(), 8)),
      eam_extents_addressed_(CheckedMul<std::int32_t>(page_manager->PageDataSize(), 4)),
      eam_pages_addressed_(CheckedMul(eam_extents_addressed_, page_count_in_extent_)),
      last_used_page_no_(page_manager->DBHeader().LastUsedPageNo),
      total_page_count_(page_manager->DBHeader().TotalPageCount),
      pfs_(std::make_unique<Held>(page_manager)),
      eam_(std::make_unique<Held>(page_manager)) {}

TVEZDatabaseFreeSpaceManager::~TVEZDatabaseFreeSpaceManager() = default;

// ---------------------------------------------------------------------------
// Geometry

std::int32_t TVEZDatabaseFreeSpaceManager::PFSPageNo(std::int32_t index) const {
  return CheckedMul(index, pfs_pages_addressed_);
}

std::int32_t TVEZDatabaseFreeSpaceManager::EAMPageNo(std::int32_t index) const {
  const std::int32_t p = CheckedMul(index, eam_pages_addressed_);
  return p % pfs_pages_addressed_ == 0 ? CheckedAdd(p, 1) : p;
}

std::int32_t TVEZDatabaseFreeSpaceManager::PFSPageFor(std::int32_t page_no) const {
  return page_no / pfs_pages_addressed_ * pfs_pages_addressed_;
}

std::int32_t TVEZDatabaseFreeSpaceManager::EAMPageFor(std::int32_t page_no) const {
  return EAMPageNo(page_no / eam_pages_addressed_);
}

std::int32_t TVEZDatabaseFreeSpaceManager::LastPFSIndex() const {
  return std::max(total_page_count_ - 1, 0) / pfs_pages_addressed_;
}

std::int32_t TVEZDatabaseFreeSpaceManager::LastEAMIndex() const {
  return std::max(total_page_count_ - 1, 0) / eam_pages_addressed_;
}

bool TVEZDatabaseFreeSpaceManager::IsSystemPage(std::int32_t page_no) const {
  if (page_no < 0) return false;
  if (page_no % pfs_pages_addressed_ == 0 || page_no % eam_pages_addressed_ == 0) return true;
  const std::int32_t before = page_no - 1;
  return before % pfs_pages_addressed_ == 0 && before % eam_pages_addressed_ == 0;
}

void TVEZDatabaseFreeSpaceManager::CheckPageNoForSystemPages(std::int32_t page_no) const {
  if (IsSystemPage(page_no))
    throw EVEZException(30434, "Cannot delete PFS or EAM page. PageNo=%d", {page_no});
}

std::int32_t TVEZDatabaseFreeSpaceManager::GetAddPagesStep() const {
  if (total_page_count_ == 0) return 6;
  return std::max(total_page_count_ / 10, page_count_in_extent_);
}

// ---------------------------------------------------------------------------
// Bitmap pages

void TVEZDatabaseFreeSpaceManager::ForgetHeldPages() {
  pfs_->valid = false;
  eam_->valid = false;
}

TVEZPage& TVEZDatabaseFreeSpaceManager::Load(std::int32_t page_no, std::uint16_t page_type,
                                             std::int32_t check_error) {
  Held& held = page_type == kPageTypePFS ? *pfs_ : *eam_;
  if (!held.valid || held.page.PageNo() != page_no) {
    held.valid = false;
    held.page.SetPageNo(page_no);
    if (!held.page.PageBuffer()) held.page.AllocPageBuffer();
    page_manager_->InternalReadPage(&held.page);
    held.valid = true;
  }
  try {
    CheckPageType(held.page.PageHeader().PageType(), page_type, check_error);
  } catch (...) {
    held.valid = false;
    throw;
  }
  return held.page;
}

void TVEZDatabaseFreeSpaceManager::Store(TVEZPage& page) {
  try {
    page_manager_->InternalWritePage(&page);
  } catch (...) {
    // What reached the file is unknown: read it again next time.
    ForgetHeldPages();
    throw;
  }
}

void TVEZDatabaseFreeSpaceManager::CreateBitmapPage(std::int32_t page_no, std::uint16_t page_type) {
  Held& held = page_type == kPageTypePFS ? *pfs_ : *eam_;
  held.valid = false;
  held.page.SetPageNo(page_no);
  held.page.AllocPageBuffer();  // zero-filled, header initialised
  held.page.PageHeader().SetPageType(page_type);
  held.page.PageData()[0] = 1;
  Store(held.page);
  held.valid = true;
}

bool TVEZDatabaseFreeSpaceManager::PageBit(std::int32_t page_no, std::int32_t check_error) {
  TVEZPage& pfs = Load(PFSPageFor(page_no), kPageTypePFS, check_error);
  const std::int32_t bit = page_no % pfs_pages_addressed_;
  return (pfs.PageData()[bit / 8] >> (bit % 8)) & 1;
}

// ---------------------------------------------------------------------------
// Counters

void TVEZDatabaseFreeSpaceManager::LoadPageCounters() {
  page_manager_->ReadDBHeader();
  last_used_page_no_ = page_manager_->DBHeader().LastUsedPageNo;
  total_page_count_ = page_manager_->DBHeader().TotalPageCount;
}

void TVEZDatabaseFreeSpaceManager::SavePageCounters() {
  TVEZDBHeader& h = page_manager_->DBHeader();
  if (h.LastUsedPageNo == last_used_page_no_ && h.TotalPageCount == total_page_count_) return;
  h.LastUsedPageNo = last_used_page_no_;
  h.TotalPageCount = total_page_count_;
  page_manager_->WriteDBHeader(true);
}

// ---------------------------------------------------------------------------
// Allocation

std::int32_t TVEZDatabaseFreeSpaceManager::GetPage(std::int32_t /*desired_start_page_no*/) {
  std::int32_t result = -1;
  UnderHeaderLock(
      *page_manager_, 20231, [this] { ForgetHeldPages(); }, [this] { SavePageCounters(); },
      [&] {
        LoadPageCounters();
        result = FindFreePage();
        if (result == -1) result = AppendPage();
        if (last_used_page_no_ < result) last_used_page_no_ = result;
      });
  return result;
}

std::int32_t TVEZDatabaseFreeSpaceManager::FindFreePage() {
  if (last_used_page_no_ == -1) return -1;
  const std::int32_t last = LastEAMIndex();
  std::int32_t found = FindFreePageInExtentMap(EAMPageNo(last));
  for (std::int32_t k = 0; found == -1 && k < last; ++k)
    found = FindFreePageInExtentMap(EAMPageNo(k));
  if (found != -1) SetPageUsed(found, true);
  return found;
}

std::int32_t TVEZDatabaseFreeSpaceManager::FindFreePageInExtentMap(std::int32_t eam_page_no) {
  const std::uint8_t* map = Load(eam_page_no, kPageTypeEAM, 30423).PageData();
  const std::int32_t k = eam_page_no / eam_pages_addressed_;
  std::int64_t extent = -1;
  for (std::int32_t i = 0; i < page_manager_->PageDataSize() && extent < 0; ++i) {
    if (map[i] == 0xFF) continue;
    for (std::int32_t pair = 0; pair < 4; ++pair) {
      if (((map[i] >> (2 * pair)) & 2) == 0) {
        extent = static_cast<std::int64_t>(k) * eam_extents_addressed_ + i * 4 + pair;
        break;
      }
    }
  }
  if (extent < 0) return -1;
  const std::int64_t first_page = extent * page_count_in_extent_;
  const std::int64_t last_page = first_page + page_count_in_extent_ - 1;
  if (first_page >= total_page_count_) return -1;
  std::int64_t candidate = -1;
  for (std::int64_t j = first_page / pfs_pages_addressed_;
       j <= last_page / pfs_pages_addressed_ && j * pfs_pages_addressed_ < total_page_count_; ++j) {
    const std::int32_t pfs_no = static_cast<std::int32_t>(j * pfs_pages_addressed_);
    const std::uint8_t* bits = Load(pfs_no, kPageTypePFS, 30423).PageData();
    for (std::int32_t i = 0; i < page_manager_->PageDataSize(); ++i) {
      if (bits[i] == 0xFF) continue;
      std::int32_t b = 0;
      while ((bits[i] >> b) & 1)
        ++b;
      candidate = static_cast<std::int64_t>(pfs_no) + i * 8 + b;
      break;
    }
  }
  return candidate >= 0 && candidate < total_page_count_ ? static_cast<std::int32_t>(candidate)
                                                         : -1;
}

std::int32_t TVEZDatabaseFreeSpaceManager::AppendPage() {
  const bool first_time = last_used_page_no_ == -1;
  const std::int32_t old_last_pfs = first_time ? -1 : LastPFSIndex();
  const std::int32_t old_last_eam = first_time ? -1 : LastEAMIndex();
  // Until a page of the old file is written, a failure takes the growth back:
  // the counters saved then are the old ones, which the maps agree with (a
  // longer file opens, and the next growth drops its tail). Saving the new
  // ones would claim pages without maps, or a last used page past the end.
  struct GrowthUndo {
    TVEZDatabaseFreeSpaceManager& fsm;
    const std::int32_t last_used, total;
    const int exceptions = std::uncaught_exceptions();
    bool restorable = true;
    ~GrowthUndo() {
      if (!restorable || std::uncaught_exceptions() == exceptions) return;
      fsm.last_used_page_no_ = last_used;
      fsm.total_page_count_ = total;
    }
  } undo{*this, last_used_page_no_, total_page_count_};
  do {
    last_used_page_no_ = CheckedAdd(last_used_page_no_, 1);
  } while (IsSystemPage(last_used_page_no_));
  const std::int32_t new_page = last_used_page_no_;
  std::int32_t step = GetAddPagesStep();
  if (new_page >= CheckedAdd(total_page_count_, step)) step = new_page - total_page_count_ + 1;
  while (IsSystemPage(CheckedAdd(total_page_count_, step) - 1))
    ++step;
  page_manager_->ExtendFile(step);
  total_page_count_ = page_manager_->DBHeader().TotalPageCount;

  std::vector<std::int32_t> created_pfs, created_eam;
  const std::int32_t new_last_pfs = LastPFSIndex();
  if (new_last_pfs != old_last_pfs || first_time) {
    for (std::int32_t j = old_last_pfs + 1; j <= new_last_pfs; ++j) {
      CreateBitmapPage(PFSPageNo(j), kPageTypePFS);
      created_pfs.push_back(PFSPageNo(j));
    }
  }
  const std::int32_t new_last_eam = LastEAMIndex();
  if (new_last_eam != old_last_eam || first_time) {
    for (std::int32_t k = old_last_eam + 1; k <= new_last_eam; ++k) {
      CreateBitmapPage(EAMPageNo(k), kPageTypeEAM);
      created_eam.push_back(EAMPageNo(k));
    }
  }
  // Maps made by this growth are rebuilt by the next one (a first growth
  // rebuilds them all): it stays restorable until a map of the old file is
  // written.
  const auto fresh = [&](std::int32_t map_page) { return first_time || map_page >= undo.total; };
  for (std::int32_t p : created_eam) {
    undo.restorable = undo.restorable && fresh(PFSPageFor(p));
    SetPFSBit(p, true);
  }
  for (std::int32_t p : created_pfs) {
    undo.restorable = undo.restorable && fresh(EAMPageFor(p));
    UpdateExtentState(p);
  }
  undo.restorable = undo.restorable && fresh(PFSPageFor(new_page)) && fresh(EAMPageFor(new_page));
  SetPageUsed(new_page, true);
  return new_page;
}

// ---------------------------------------------------------------------------
// Release

void TVEZDatabaseFreeSpaceManager::FreePage(std::int32_t page_no) {
  UnderHeaderLock(
      *page_manager_, 20232, [this] { ForgetHeldPages(); }, [this] { SavePageCounters(); },
      [&] {
        LoadPageCounters();
        SetPageUsed(page_no, false);
        last_used_page_no_ = FindLastUsedPage();
        ShrinkFile();
      });
}

bool TVEZDatabaseFreeSpaceManager::ReleaseIfUsed(std::int32_t page_no) {
  bool released = false;
  UnderHeaderLock(
      *page_manager_, 20232, [this] { ForgetHeldPages(); }, [this] { SavePageCounters(); },
      [&] {
        LoadPageCounters();
        if (page_no < 0 || page_no >= total_page_count_ || IsSystemPage(page_no) ||
            !PageBit(page_no, 30430))
          return;
        SetPageUsed(page_no, false);
        last_used_page_no_ = FindLastUsedPage();
        ShrinkFile();
        released = true;
      });
  return released;
}

TVEZFreeSpaceReport TVEZDatabaseFreeSpaceManager::CheckIntegrity(
    const std::vector<std::int32_t>& referenced) {
  TVEZFreeSpaceReport report;
  UnderHeaderLock(
      *page_manager_, 20231, [this] { ForgetHeldPages(); }, [] {},
      [&] {
        LoadPageCounters();
        std::vector<bool> used(static_cast<std::size_t>(total_page_count_), false);
        for (std::int32_t j = 0; j <= LastPFSIndex() && total_page_count_ > 0; ++j) {
          const std::int32_t pfs_no = PFSPageNo(j);
          const std::uint8_t* bits = Load(pfs_no, kPageTypePFS, 30432).PageData();
          const std::int32_t end = std::min(total_page_count_ - pfs_no, pfs_pages_addressed_);
          for (std::int32_t i = 0; i < end; ++i)
            used[static_cast<std::size_t>(pfs_no + i)] = (bits[i / 8] >> (i % 8)) & 1;
        }
        std::vector<bool> is_referenced(used.size(), false);
        for (const std::int32_t p : referenced) {
          if (p < 0 || p >= total_page_count_ || IsSystemPage(p)) {
            report.ReferencedOutside.push_back(p);
            continue;
          }
          is_referenced[static_cast<std::size_t>(p)] = true;
          if (!used[static_cast<std::size_t>(p)]) report.FreeButReferenced.push_back(p);
        }
        std::int32_t last_used = -1;
        for (std::int32_t p = 0; p < total_page_count_; ++p) {
          const auto i = static_cast<std::size_t>(p);
          if (IsSystemPage(p)) {
            if (!used[i]) report.SystemPagesFree.push_back(p);
            continue;
          }
          if (!used[i]) continue;
          last_used = p;
          if (!is_referenced[i]) report.Leaked.push_back(p);
        }
        report.LastUsedPageBehind = last_used > last_used_page_no_;
        const std::int32_t extents =
            (total_page_count_ + page_count_in_extent_ - 1) / page_count_in_extent_;
        for (std::int32_t e = 0; e < extents; ++e) {
          const std::int32_t first = e * page_count_in_extent_;
          const std::int32_t eam_no = EAMPageFor(first);
          const std::uint8_t* map = Load(eam_no, kPageTypeEAM, 30428).PageData();
          const std::int32_t m = e - eam_no / eam_pages_addressed_ * eam_extents_addressed_;
          const int state = (map[m / 4] >> (2 * (m % 4))) & 3;
          if ((state & 2) == 0) continue;
          for (std::int32_t p = first; p < first + page_count_in_extent_; ++p) {
            if (p >= total_page_count_ || !used[static_cast<std::size_t>(p)]) {
              ++report.FullExtentsWithFreePages;
              break;
            }
          }
        }
      });
  return report;
}

std::int32_t TVEZDatabaseFreeSpaceManager::FindLastUsedPage() {
  if (last_used_page_no_ == -1) return -1;
  const std::int32_t data_size = page_manager_->PageDataSize();
  for (std::int32_t j = LastPFSIndex(); j >= 0; --j) {
    const std::int32_t pfs_no = PFSPageNo(j);
    const std::uint8_t* bits = Load(pfs_no, kPageTypePFS, 30432).PageData();
    for (std::int32_t i = data_size - 1; i >= 0; --i) {
      if (bits[i] == 0) continue;
      for (std::int32_t b = 7; b >= 0; --b) {
        if (!((bits[i] >> b) & 1)) continue;
        const std::int64_t page = static_cast<std::int64_t>(pfs_no) + i * 8 + b;
        if (page <= INT32_MAX && !IsSystemPage(static_cast<std::int32_t>(page)))
          return static_cast<std::int32_t>(page);
      }
    }
  }
  return -1;
}

void TVEZDatabaseFreeSpaceManager::ShrinkFile() {
  const std::int32_t free_at_end = total_page_count_ - last_used_page_no_ - 1;
  const std::int32_t step = GetDelPagesStep();
  if (free_at_end < step) return;
  std::int32_t cut = free_at_end / step * step;
  // The file never ends with a system page: a map whose companion was cut
  // would be searched beyond the end of the file.
  while (cut > 0 && IsSystemPage(total_page_count_ - cut - 1))
    --cut;
  if (cut <= 0) return;
  ForgetHeldPages();
  // The header the cut writes carries the new last used page too: a header
  // with the old one and the new page count would name a page past the end.
  page_manager_->DBHeader().LastUsedPageNo = last_used_page_no_;
  page_manager_->TruncateFile(cut);
  total_page_count_ = page_manager_->DBHeader().TotalPageCount;
}

// ---------------------------------------------------------------------------
// Bits

void TVEZDatabaseFreeSpaceManager::SetPageUsed(std::int32_t page_no, bool used) {
  SetPFSBit(page_no, used);
  UpdateExtentState(page_no);
}

void TVEZDatabaseFreeSpaceManager::SetPFSBit(std::int32_t page_no, bool used) {
  if (page_no < 0 || page_no >= total_page_count_)
    throw EVEZException(30430, "Page: %d cannot be addressed. TotalPageCount=%d",
                        {page_no, total_page_count_});
  TVEZPage& pfs = Load(PFSPageFor(page_no), kPageTypePFS, 30424);
  const std::int32_t bit = page_no % pfs_pages_addressed_;
  std::uint8_t& byte = pfs.PageData()[bit / 8];
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bit % 8));
  if (used) {
    if (byte & mask) throw EVEZException(30425, "Page: %d already used", {page_no});
    byte = static_cast<std::uint8_t>(byte | mask);
  } else {
    if (!(byte & mask)) throw EVEZException(30427, "Page: %d already free", {page_no});
    byte = static_cast<std::uint8_t>(byte & ~mask);
  }
  Store(pfs);
}

void TVEZDatabaseFreeSpaceManager::UpdateExtentState(std::int32_t page_no) {
  if (page_no < 0 || page_no >= total_page_count_)
    throw EVEZException(30431, "Page: %d cannot be addressed. TotalPageCount=%d",
                        {page_no, total_page_count_});
  const std::int32_t eam_no = EAMPageFor(page_no);
  const std::int32_t extent = page_no / page_count_in_extent_;
  const std::int32_t first = extent * page_count_in_extent_;
  std::int32_t used = 0, free = 0;
  // Every page inside the file has its PFS page there; the last used page
  // number is not consulted, since it lags behind while a page is handed out
  // and would record a full extent as not full.
  for (std::int32_t p = first; p < first + page_count_in_extent_ && (used == 0 || free == 0); ++p) {
    const bool in_use = p < total_page_count_ && PageBit(p, 30428);
    (in_use ? used : free)++;
  }
  const std::uint8_t state = used > 0 && free == 0 ? 3 : (used + free > 0 ? 1 : 0);
  TVEZPage& eam = Load(eam_no, kPageTypeEAM, 30428);
  const std::int32_t m = extent - eam_no / eam_pages_addressed_ * eam_extents_addressed_;
  std::uint8_t& byte = eam.PageData()[m / 4];
  const int shift = 2 * (m % 4);
  const std::uint8_t next =
      static_cast<std::uint8_t>((byte & ~(3u << shift)) | (static_cast<unsigned>(state) << shift));
  if (next == byte) return;
  byte = next;
  Store(eam);
}

bool TVEZDatabaseFreeSpaceManager::GetPageUsageFromPFS(std::int32_t page_no) {
  if (page_no < 0 || PFSPageFor(page_no) > last_used_page_no_) return false;
  ForgetHeldPages();
  return PageBit(page_no, 30430);
}

}  // namespace vez
