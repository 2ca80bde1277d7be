#include "dbengine/storage/VEZInternalDBFile.h"

#include <algorithm>
#include <cstring>

#include "dbengine/foundation/VEZCompression.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZDiskPageManager.h"

namespace vez {

namespace {

struct Head {
  std::int32_t stored = 0;
  std::int32_t decompressed = 0;
  std::uint8_t compression = 0;
};

Head ReadHead(const std::uint8_t* data) {
  return {GetLE<std::int32_t>(data + 1), GetLE<std::int32_t>(data + 5), data[9]};
}

void WriteHead(std::uint8_t* data, const Head& h) {
  data[0] = kInternalFileHeadSize;
  PutLE<std::int32_t>(data + 1, h.stored);
  PutLE<std::int32_t>(data + 5, h.decompressed);
  data[9] = h.compression;
}

EVEZException ChainEnded(std::int32_t steps) {
  return EVEZException(
      20300,
      "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
      {steps});
}

}  // namespace

// ---------------------------------------------------------------------------
// Transacted files

TVEZInternalDBTransactedAccessFile::TVEZInternalDBTransactedAccessFile(
    TVEZDiskPageManager* page_manager, std::uint16_t page_type)
    : page_manager_(page_manager), page_type_(page_type) {}

void TVEZInternalDBTransactedAccessFile::CheckOpen(const char* operation) const {
  if (start_page_no_ == -1)
    throw EVEZException(30389, "Cannot perform this operation (%s) on closed internal file",
                        {std::string(operation)});
}

std::int32_t TVEZInternalDBTransactedAccessFile::PagesNeeded(std::int64_t stored_size) const {
  const std::int64_t data = page_manager_->PageDataSize();
  return static_cast<std::int32_t>(
      std::max<std::int64_t>(1, (stored_size + kInternalFileHeadSize + data - 1) / data));
}

void TVEZInternalDBTransactedAccessFile::CheckStoredSize(std::int32_t stored_size,
                                                         std::int32_t decompressed_size,
                                                         TVEZCompressionAlgorithm algorithm) const {
  const std::int64_t room = static_cast<std::int64_t>(page_manager_->DBHeader().TotalPageCount) *
                            page_manager_->PageDataSize();
  if (stored_size < 0 || decompressed_size < 0 || stored_size > room ||
      (algorithm == acaNone && decompressed_size != stored_size) ||
      (stored_size > 0 && decompressed_size > MaxDecompressedSize(algorithm, stored_size)))
    throw EVEZException(30388, "Cannot Read internal file. FileSize=%d. ReadSize=%d. FileSize=%d",
                        {stored_size, decompressed_size, stored_size});
}

bool TVEZInternalDBTransactedAccessFile::ChainHasPages(std::int32_t session_id,
                                                       std::int32_t page_count) {
  TVEZPinnedPage page(page_manager_, Get(session_id, start_page_no_, true));
  for (std::int32_t i = 1; i < page_count; ++i) {
    const std::int32_t next = page->PageHeader().NextPageNo();
    if (next < 0) return false;
    page = TVEZPinnedPage(page_manager_, Get(session_id, next, true));
  }
  return true;
}

TVEZPage* TVEZInternalDBTransactedAccessFile::Get(std::int32_t session_id, std::int32_t page_no,
                                                  bool synchronize_allowed) {
  return page_manager_->GetPage(session_id, page_no, page_type_, synchronize_allowed);
}

TVEZPage* TVEZInternalDBTransactedAccessFile::GetChainPage(std::int32_t session_id,
                                                           std::int32_t index,
                                                           bool synchronize_allowed) {
  TVEZPinnedPage page(page_manager_, Get(session_id, start_page_no_, synchronize_allowed));
  for (std::int32_t step = 0; step < index; ++step) {
    const std::int32_t next = page->PageHeader().NextPageNo();
    if (next < 0) throw ChainEnded(step);
    page = TVEZPinnedPage(page_manager_, Get(session_id, next, synchronize_allowed));
  }
  return page.Detach();
}

void TVEZInternalDBTransactedAccessFile::CreateFile(std::int32_t session_id) {
  if (start_page_no_ != -1)
    throw EVEZException(30383, "Cannot create Internal file. File already exists. StartPageNo=%d",
                        {start_page_no_});
  TVEZPinnedPage page(page_manager_, page_manager_->AddPage(session_id, page_type_));
  WriteHead(page->PageData(), Head{});
  page->SetIsDirty(true);
  start_page_no_ = page->PageNo();
}

void TVEZInternalDBTransactedAccessFile::OpenFile(std::int32_t start_page_no) {
  if (start_page_no != -1) start_page_no_ = start_page_no;
}

void TVEZInternalDBTransactedAccessFile::DeleteFile(std::int32_t session_id,
                                                    std::int32_t start_page_no) {
  std::int32_t page_no = start_page_no == -1 ? start_page_no_ : start_page_no;
  // A damaged chain that loops is walked no further than the file has pages.
  for (std::int32_t steps = 0; page_no >= 0; ++steps) {
    if (steps > page_manager_->DBHeader().TotalPageCount) throw ChainEnded(steps);
    TVEZPinnedPage page(page_manager_, Get(session_id, page_no, true));
    const std::int32_t next = page->PageHeader().NextPageNo();
    page.Release();
    page_manager_->RemovePage(session_id, page_no);
    page_no = next;
  }
  start_page_no_ = -1;
}

void TVEZInternalDBTransactedAccessFile::GetFileSize(std::int32_t session_id, std::int32_t& size,
                                                     std::int32_t& decompressed_size,
                                                     TVEZCompressionAlgorithm& algorithm,
                                                     bool& file_was_changed,
                                                     bool synchronize_allowed) {
  CheckOpen("GetSize");
  TVEZPinnedPage page(page_manager_, Get(session_id, start_page_no_, synchronize_allowed));
  const Head h = ReadHead(page->PageData());
  size = h.stored;
  decompressed_size = h.decompressed;
  algorithm = static_cast<TVEZCompressionAlgorithm>(h.compression);
  file_was_changed = page->Reloaded();
}

std::int32_t TVEZInternalDBTransactedAccessFile::GetSize(std::int32_t session_id) {
  std::int32_t size, decompressed;
  TVEZCompressionAlgorithm algorithm;
  bool changed;
  GetFileSize(session_id, size, decompressed, algorithm, changed, true);
  return decompressed;
}

std::int32_t TVEZInternalDBTransactedAccessFile::GetCheckedSize(std::int32_t session_id) {
  std::int32_t size, decompressed;
  TVEZCompressionAlgorithm algorithm;
  bool changed;
  GetFileSize(session_id, size, decompressed, algorithm, changed, true);
  CheckStoredSize(size, decompressed, algorithm);
  // The stored bytes must be in the chain itself, not merely fit the file:
  // it is walked as far as they reach (no further than the file has pages).
  if (!ChainHasPages(session_id, PagesNeeded(size)))
    throw EVEZException(30388, "Cannot Read internal file. FileSize=%d. ReadSize=%d. FileSize=%d",
                        {size, decompressed, size});
  return decompressed;
}

void TVEZInternalDBTransactedAccessFile::SetFileSize(std::int32_t session_id, std::int32_t new_size,
                                                     std::int32_t decompressed_size,
                                                     TVEZCompressionAlgorithm algorithm) {
  CheckOpen("SetSize");
  // A negative size would be stored as is and make the file unreadable.
  if (new_size < 0 || decompressed_size < 0)
    throw EVEZException(20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {decompressed_size, 0, new_size});
  TVEZPinnedPage first(page_manager_, Get(session_id, start_page_no_, true));
  const Head old = ReadHead(first->PageData());
  const std::int32_t old_pages = PagesNeeded(old.stored < 0 ? new_size : old.stored);
  const std::int32_t new_pages = PagesNeeded(new_size);
  if (new_pages > old_pages) {
    TVEZPinnedPage last(page_manager_, GetChainPage(session_id, old_pages - 1, true));
    for (std::int32_t i = old_pages; i < new_pages; ++i) {
      TVEZPinnedPage added(page_manager_, page_manager_->AddPage(session_id, page_type_));
      last->PageHeader().SetNextPageNo(added->PageNo());
      last->SetIsDirty(true);
      last = std::move(added);
    }
  } else if (new_pages < old_pages) {
    // Pages after the new end are released, so none stays taken unreachable.
    TVEZPinnedPage last(page_manager_, GetChainPage(session_id, new_pages - 1, true));
    std::int32_t next = last->PageHeader().NextPageNo();
    last->PageHeader().SetNextPageNo(-1);
    last->SetIsDirty(true);
    last.Release();
    for (std::int32_t i = new_pages; i < old_pages && next >= 0; ++i) {
      TVEZPinnedPage page(page_manager_, Get(session_id, next, true));
      const std::int32_t after = page->PageHeader().NextPageNo();
      page.Release();
      page_manager_->RemovePage(session_id, next);
      next = after;
    }
  }
  WriteHead(first->PageData(), Head{new_size, decompressed_size, algorithm});
  first->SetIsDirty(true);
}

void TVEZInternalDBTransactedAccessFile::WriteFile(std::int32_t session_id, const void* buffer,
                                                   std::int32_t count,
                                                   TVEZCompressionAlgorithm algorithm,
                                                   std::int32_t compression_mode) {
  CheckOpen("WriteFile");
  const std::uint8_t* bytes = static_cast<const std::uint8_t*>(buffer);
  std::int32_t stored = count;
  TVEZHeapBuffer compressed;
  if (count == 0) algorithm = acaNone;  // nothing to compress
  if (algorithm != acaNone) {
    if (!CompressBuffer(algorithm, static_cast<std::uint8_t>(compression_mode), buffer, count,
                        compressed, stored))
      throw EVEZException(20187, "Table file compression error");
    bytes = compressed.get();
  }
  SetFileSize(session_id, stored, count, algorithm);
  const std::int32_t data_size = page_manager_->PageDataSize();
  std::int32_t done = 0;
  std::int32_t offset = kInternalFileHeadSize;
  TVEZPinnedPage page(page_manager_, Get(session_id, start_page_no_, true));
  for (std::int32_t step = 0;; ++step) {
    const std::int32_t n = std::min(data_size - offset, stored - done);
    if (n > 0) std::memcpy(page->PageData() + offset, bytes + done, static_cast<std::size_t>(n));
    page->SetIsDirty(true);
    done += std::max(n, 0);
    if (done >= stored) break;
    const std::int32_t next = page->PageHeader().NextPageNo();
    if (next < 0) throw ChainEnded(step + 1);
    page = TVEZPinnedPage(page_manager_, Get(session_id, next, true));
    offset = 0;
  }
}

void TVEZInternalDBTransactedAccessFile::ReadFile(std::int32_t session_id, void* buffer,
                                                  std::int32_t count, bool synchronize_allowed) {
  CheckOpen("ReadFile");
  std::int32_t stored, decompressed;
  TVEZCompressionAlgorithm algorithm;
  bool changed;
  GetFileSize(session_id, stored, decompressed, algorithm, changed, synchronize_allowed);
  if (count < 0 || decompressed < count)
    throw EVEZException(30387, "Cannot Read internal file. FileSize=%d. ReadSize=%d",
                        {decompressed, count});
  CheckStoredSize(stored, decompressed, algorithm);
  const bool packed = algorithm != acaNone;
  TVEZHeapBuffer raw;
  std::uint8_t* out = static_cast<std::uint8_t*>(buffer);
  std::int32_t wanted = count;
  if (packed) {
    raw.reset(static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(stored) + 1)));
    if (!raw) throw std::bad_alloc();
    out = raw.get();
    wanted = stored;
  } else {
    // Uncompressed contents are what is stored: never read past it.
    wanted = std::min(count, stored);
  }
  const std::int32_t data_size = page_manager_->PageDataSize();
  std::int32_t done = 0;
  std::int32_t offset = kInternalFileHeadSize;
  TVEZPinnedPage page(page_manager_, Get(session_id, start_page_no_, synchronize_allowed));
  while (done < wanted) {
    const std::int32_t n = std::min(data_size - offset, wanted - done);
    std::memcpy(out + done, page->PageData() + offset, static_cast<std::size_t>(n));
    done += n;
    if (done >= wanted) break;
    const std::int32_t next = page->PageHeader().NextPageNo();
    if (next < 0) break;
    page = TVEZPinnedPage(page_manager_, Get(session_id, next, synchronize_allowed));
    offset = 0;
  }
  page.Release();
  if (done < wanted || (!packed && done < count))
    throw EVEZException(30388, "Cannot Read internal file. FileSize=%d. ReadSize=%d. FileSize=%d",
                        {stored, done, stored});
  if (!packed) return;
  TVEZHeapBuffer plain;
  std::int32_t plain_size = decompressed;
  if (!DecompressBuffer(algorithm, raw.get(), stored, plain, plain_size)) {
    std::string text;
    GetLastCompressionError(text);
    throw EVEZException(20189, "Table file decompression error. Possible table corruption (%s)",
                        {text});
  }
  if (plain_size < count)
    throw EVEZException(30387, "Cannot Read internal file. FileSize=%d. ReadSize=%d",
                        {plain_size, count});
  if (count > 0) std::memcpy(buffer, plain.get(), static_cast<std::size_t>(count));
}

void TVEZInternalDBTransactedAccessFile::InitFileHeader(std::int32_t session_id) {
  if (start_page_no_ == -1) throw EVEZException(20301, "Invalid page number");
  const bool ignored = page_manager_->IgnoreCRCErrors();
  page_manager_->SetIgnoreCRCErrors(true);
  try {
    TVEZPinnedPage page(page_manager_, Get(session_id, start_page_no_, true));
    // The stored state is kept, so the fresh copy still matches the file and
    // is not read back (damaged) before the caller rewrites it.
    const std::int32_t state = page->PageHeader().State();
    page->InitHeader();
    page->PageHeader().SetState(state);
    page->PageHeader().SetPageType(page_type_);
    std::uint8_t* data = page->PageData();
    data[0] = kInternalFileHeadSize;
    PutLE<std::int32_t>(data + 1, 0);
    data[9] = 0;
    // Dirty, so a cache that lets clean pages go cannot drop the reset and
    // read the damaged page again before the caller rewrites the file.
    page->SetIsDirty(true);
  } catch (...) {
    page_manager_->SetIgnoreCRCErrors(ignored);
    throw;
  }
  page_manager_->SetIgnoreCRCErrors(ignored);
}

bool TVEZInternalDBTransactedAccessFile::LockFile() {
  CheckOpen("LockFile");
  return page_manager_->LockPageByte(start_page_no_, 0);
}

bool TVEZInternalDBTransactedAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return page_manager_->UnlockPageByte(start_page_no_, 0);
}

// ---------------------------------------------------------------------------
// Direct files

TVEZInternalDBDirectAccessFile::TVEZInternalDBDirectAccessFile(TVEZDiskPageManager* page_manager,
                                                               std::uint16_t page_type)
    : page_manager_(page_manager), page_type_(page_type) {}

void TVEZInternalDBDirectAccessFile::CheckOpen(const char* operation) const {
  if (start_page_no_ == -1)
    throw EVEZException(20156, "Cannot perform this operation (%s) on closed internal file",
                        {std::string(operation)});
}

void TVEZInternalDBDirectAccessFile::CreateFile(std::int32_t size) {
  if (start_page_no_ != -1)
    throw EVEZException(20157, "Cannot create Internal file. File already exists. StartPageNo=%d",
                        {start_page_no_});
  if (size < 0)
    throw EVEZException(20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {size, 0, 0});
  constexpr std::int32_t kInternalSession = -2;
  const std::int64_t data = page_manager_->PageDataSize();
  const std::int64_t pages =
      std::max<std::int64_t>(1, (std::int64_t{size} + kInternalFileHeadSize + data - 1) / data);
  TVEZPinnedPage last(page_manager_, page_manager_->AddPage(kInternalSession, page_type_));
  start_page_no_ = last->PageNo();
  WriteHead(last->PageData(), Head{size, 0, 0});
  last->SetEncryptionEnabled(false);
  for (std::int64_t i = 1; i < pages; ++i) {
    TVEZPinnedPage added(page_manager_, page_manager_->AddPage(kInternalSession, page_type_));
    added->SetEncryptionEnabled(false);
    last->PageHeader().SetNextPageNo(added->PageNo());
    last->SetIsDirty(true);
    last = std::move(added);
  }
  file_size_ = size;
}

std::int32_t TVEZInternalDBDirectAccessFile::ReadChainHeader(std::int32_t page_no,
                                                             bool skip_first_byte) {
  std::uint8_t header[40] = {};
  // Byte 0 of a first page may be locked by another process: not read.
  if (skip_first_byte)
    page_manager_->ReadPageRegion(header + 1, page_no, 1, 39);
  else
    page_manager_->ReadPageRegion(header, page_no, 0, 40);
  return ChainHeaderNext(header);
}

std::int32_t TVEZInternalDBDirectAccessFile::ChainHeaderNext(const std::uint8_t* header) const {
  const std::uint16_t type = GetLE<std::uint16_t>(header + 8);
  if (type != page_type_)
    throw EVEZException(20155, "Invalid PageType found: %d but expecting: %d", {type, page_type_});
  return GetLE<std::int32_t>(header + 10);
}

std::int32_t TVEZInternalDBDirectAccessFile::GetSize() {
  CheckOpen("GetSize");
  std::uint8_t head[kInternalFileHeadSize];
  page_manager_->ReadPageRegion(head, start_page_no_, 40, kInternalFileHeadSize);
  return GetLE<std::int32_t>(head + 1);
}

void TVEZInternalDBDirectAccessFile::OpenFile(std::int32_t start_page_no) {
  if (start_page_no != -1) start_page_no_ = start_page_no;
  CheckOpen("OpenFile");
  // The first page's chain header and the file head lie side by side: one
  // read (from byte 1, which another process may hold locked) gives both.
  std::uint8_t first[40 + kInternalFileHeadSize] = {};
  page_manager_->ReadPageRegion(first + 1, start_page_no_, 1, 39 + kInternalFileHeadSize);
  const std::int32_t stored = GetLE<std::int32_t>(first + 40 + 1);
  const std::int64_t data = page_manager_->PageDataSize();
  const std::int64_t pages = (std::int64_t{stored} + kInternalFileHeadSize + data - 1) / data;
  // A size the file cannot hold is damage: nothing is walked or allocated.
  if (stored < 0 || pages > page_manager_->DBHeader().TotalPageCount)
    throw EVEZException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d",
                        {stored, stored});
  stored_size_at_open_ = stored;
  file_pages_.clear();
  std::int32_t page_no = start_page_no_;
  std::int32_t next = ChainHeaderNext(first);
  file_pages_.push_back(page_no);
  if (next < 0) {
    // A one-page file spans its page's whole data area.
    file_size_ = static_cast<std::int32_t>(data) - kInternalFileHeadSize;
    return;
  }
  while (static_cast<std::int64_t>(file_pages_.size()) < pages && next >= 0) {
    page_no = next;
    next = ReadChainHeader(page_no, false);
    file_pages_.push_back(page_no);
  }
  // A chain that ends early holds only what its pages hold.
  file_size_ = static_cast<std::int32_t>(std::min<std::int64_t>(
      stored, static_cast<std::int64_t>(file_pages_.size()) * data - kInternalFileHeadSize));
}

void TVEZInternalDBDirectAccessFile::DeleteFile(std::int32_t start_page_no) {
  std::int32_t page_no = start_page_no == -1 ? start_page_no_ : start_page_no;
  for (std::int32_t steps = 0; page_no >= 0; ++steps) {
    if (steps > page_manager_->DBHeader().TotalPageCount) throw ChainEnded(steps);
    const std::int32_t next = ReadChainHeader(page_no, steps == 0);
    page_manager_->RemovePage(-2, page_no);
    page_no = next;
  }
  start_page_no_ = -1;
  file_pages_.clear();
  file_size_ = 0;
}

void TVEZInternalDBDirectAccessFile::Locate(std::int32_t position, std::int32_t& page_index,
                                            std::int32_t& offset) const {
  const std::int32_t data = page_manager_->PageDataSize();
  const std::int64_t at = std::int64_t{position} + kInternalFileHeadSize;
  if (position < 0 || position > file_size_ ||
      at / data >= static_cast<std::int64_t>(file_pages_.size()))
    throw EVEZException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d",
                        {file_size_, position});
  page_index = static_cast<std::int32_t>(at / data);
  offset = static_cast<std::int32_t>(40 + at % data);
}

template <typename F>
void TVEZInternalDBDirectAccessFile::ForEachSpan(std::int32_t count, std::int32_t position, F&& f) {
  if (count <= 0) return;
  std::int32_t index, offset;
  Locate(position, index, offset);
  std::int32_t done = 0;
  while (done < count) {
    if (index >= static_cast<std::int32_t>(file_pages_.size()))
      throw EVEZException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d",
                          {file_size_, position + done});
    const std::int32_t n = std::min(page_manager_->PageSize() - offset, count - done);
    f(file_pages_[static_cast<std::size_t>(index)], offset, n, done);
    done += n;
    ++index;
    offset = 40;
  }
}

void TVEZInternalDBDirectAccessFile::ReadBuffer(void* buffer, std::int32_t count,
                                                std::int32_t position) {
  CheckOpen("DirectReadBuffer");
  auto* out = static_cast<std::uint8_t*>(buffer);
  ForEachSpan(count, position,
              [&](std::int32_t page, std::int32_t offset, std::int32_t n, std::int32_t done) {
                page_manager_->ReadPageRegion(out + done, page, static_cast<std::uint16_t>(offset),
                                              static_cast<std::uint16_t>(n));
              });
}

void TVEZInternalDBDirectAccessFile::WriteBuffer(const void* buffer, std::int32_t count,
                                                 std::int32_t position) {
  CheckOpen("DirectWriteBuffer");
  const std::int32_t stored = GetSize();
  if (position < 0 || count < 0 || std::int64_t{stored} < std::int64_t{position} + count)
    throw EVEZException(20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {stored, position, count});
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  ForEachSpan(count, position,
              [&](std::int32_t page, std::int32_t offset, std::int32_t n, std::int32_t done) {
                page_manager_->WritePageRegion(in + done, page, static_cast<std::uint16_t>(offset),
                                               static_cast<std::uint16_t>(n));
              });
}

bool TVEZInternalDBDirectAccessFile::LockFile() {
  CheckOpen("LockFile");
  return page_manager_->LockPageByte(start_page_no_, 0);
}

bool TVEZInternalDBDirectAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return page_manager_->UnlockPageByte(start_page_no_, 0);
}

bool TVEZInternalDBDirectAccessFile::LockByte(std::int32_t byte_no) {
  CheckOpen("LockByte");
  std::int32_t index, offset;
  Locate(byte_no, index, offset);
  return page_manager_->LockPageByte(file_pages_[static_cast<std::size_t>(index)],
                                     static_cast<std::uint16_t>(offset));
}

bool TVEZInternalDBDirectAccessFile::UnlockByte(std::int32_t byte_no) {
  CheckOpen("UnlockByte");
  std::int32_t index, offset;
  Locate(byte_no, index, offset);
  return page_manager_->UnlockPageByte(file_pages_[static_cast<std::size_t>(index)],
                                       static_cast<std::uint16_t>(offset));
}

bool TVEZInternalDBDirectAccessFile::IsByteLocked(std::int32_t byte_no) {
  CheckOpen("IsByteLocked");
  std::int32_t index, offset;
  Locate(byte_no, index, offset);
  return page_manager_->IsPageByteLocked(file_pages_[static_cast<std::size_t>(index)],
                                         static_cast<std::uint16_t>(offset));
}

bool TVEZInternalDBDirectAccessFile::IsRegionLocked(std::int32_t byte_no, std::int32_t byte_count) {
  CheckOpen("IsRegionLocked");
  if (byte_count <= 0) return false;
  bool locked = false;
  ForEachSpan(byte_count, byte_no,
              [&](std::int32_t page, std::int32_t offset, std::int32_t n, std::int32_t) {
                locked = locked ||
                         page_manager_->IsPageRegionLocked(page, static_cast<std::uint16_t>(offset),
                                                           static_cast<std::uint16_t>(n));
              });
  return locked;
}

}  // namespace vez
