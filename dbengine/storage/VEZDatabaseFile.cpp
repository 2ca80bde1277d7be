#include "dbengine/storage/VEZDatabaseFile.h"

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDBFileFormat.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Random.h"
#include "platform/os/File.h"
#include "platform/os/FileQueries.h"

namespace vez {

namespace {

using platform::EOSError;

constexpr std::int32_t kWindowSize = 10000;

// The system's code and text of a failure raised below the engine.
struct Cause {
  int code = 0;
  std::string text;
};

Cause CauseOf(const std::exception& e) {
  if (const auto* os = dynamic_cast<const EOSError*>(&e)) return {os->ErrorCode(), os->what()};
  return {EIO, e.what()};
}

// Runs io for a transfer of count bytes at position, when both are valid.
// Returns what stopped it: the bad argument or the failure io raised.
template <typename Io>
std::optional<Cause> TransferFailure(std::int64_t count, std::int64_t position, Io&& io) {
  if (count < 0 || position < 0) return Cause{EINVAL, "Invalid position or count"};
  try {
    io(static_cast<std::size_t>(count));
    return std::nullopt;
  } catch (const platform::Exception& e) {
    return CauseOf(e);
  }
}

bool IsDenied(int code) {
  return code == EACCES || code == EPERM;
}

}  // namespace

TVEZDatabaseFile::TVEZDatabaseFile() = default;

TVEZDatabaseFile::~TVEZDatabaseFile() {
  if (!file_) return;
  try {
    file_->Close();
  } catch (...) {
    // A destructor never throws; CloseFile reports failures to callers who ask.
  }
}

int TVEZDatabaseFile::Descriptor() const {
  return file_ ? file_->Descriptor() : -1;
}

void TVEZDatabaseFile::CheckOpen(const char* operation) const {
  if (!file_)
    throw EVEZException(30376, "Cannot perform this operation (%s) on a closed file",
                        {std::string(operation)});
}

void TVEZDatabaseFile::CheckClosed(const char* operation) const {
  if (file_)
    throw EVEZException(30377, "Cannot perform this operation (%s) on a opened file",
                        {std::string(operation)});
}

std::int64_t TVEZDatabaseFile::SizeForMessage() noexcept {
  try {
    return file_ ? file_->Size() : -1;
  } catch (...) {
    return -1;
  }
}

void TVEZDatabaseFile::CreateAndOpenFile(const std::string& file_name) {
  CheckClosed("CreateFile");
  if (file_name.empty()) throw EVEZException(30374, "Cannot create file with blank FileName");
  platform::FileSystem& fs = platform::DefaultFileSystem();
  const auto fail = [&](const Cause& c) {
    return EVEZException(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                         {file_name, c.code, c.text});
  };
  try {
    if (fs.FileExists(file_name)) {
      // Held exclusively while it is unlinked, so no opener loses its file.
      std::unique_ptr<platform::File> old;
      try {
        old = fs.OpenFile(file_name, platform::FileAccess::kReadWrite,
                          platform::FileShare::kExclusive);
      } catch (const EOSError& e) {
        if (!IsDenied(e.ErrorCode())) throw;
        // A read-only file is replaced all the same, as its attribute is
        // dropped first.
        platform::ClearReadOnlyAttribute(file_name);
        old = fs.OpenFile(file_name, platform::FileAccess::kReadWrite,
                          platform::FileShare::kExclusive);
      }
      fs.DeleteFile(file_name);
      old->Close();
    }
    // Made under a temporary name and renamed without replacing: a file that
    // appears meanwhile under the name is never truncated.
    std::string temp;
    do {
      static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
      temp = file_name + ".new-";
      for (int i = 0; i < 8; ++i)
        temp += kChars[platform::Random(static_cast<std::int32_t>(sizeof(kChars) - 1))];
    } while (fs.FileExists(temp));
    std::unique_ptr<platform::File> made = fs.CreateFile(temp, platform::FileShare::kExclusive);
    try {
      fs.RenameFile(temp, file_name);
    } catch (...) {
      made->Close();
      try {
        fs.DeleteFile(temp);
      } catch (const platform::Exception&) {
        // The rename's failure is the one to report.
      }
      throw;
    }
    file_ = std::move(made);
  } catch (const EVEZException&) {
    throw;
  } catch (const platform::Exception& e) {
    throw fail(CauseOf(e));
  }
  file_name_ = file_name;
  access_mode_ = amReadWrite;
  share_mode_ = smExclusive;
  position_ = 0;
}

void TVEZDatabaseFile::OpenFile(const std::string& file_name, TVEZAccessMode access_mode,
                                TVEZShareMode share_mode) {
  CheckClosed("OpenFile");
  platform::FileAccess access;
  switch (access_mode) {
    case amReadOnly:
      access = platform::FileAccess::kRead;
      break;
    case amReadWrite:
      access = platform::FileAccess::kReadWrite;
      break;
    default:
      throw EVEZException(30366, "Unknown Access mode: '%d'", {static_cast<int>(access_mode)});
  }
  platform::FileShare share;
  switch (share_mode) {
    case smExclusive:
      share = platform::FileShare::kExclusive;
      break;
    case smShareDenyNone:
      share = platform::FileShare::kDenyNone;
      break;
    case smShareDenyWrite:
      share = platform::FileShare::kDenyWrite;
      break;
    default:
      throw EVEZException(30367, "Unknown Share mode: '%d'", {static_cast<int>(share_mode)});
  }
  try {
    file_ = platform::DefaultFileSystem().OpenFile(file_name, access, share);
  } catch (const platform::Exception& e) {
    const Cause c = CauseOf(e);
    throw EVEZException(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                        {file_name, c.code, c.text});
  }
  file_name_ = file_name;
  access_mode_ = access_mode;
  share_mode_ = share_mode;
  position_ = 0;
}

void TVEZDatabaseFile::CloseFile() {
  CheckOpen("CloseFile");
  std::unique_ptr<platform::File> f = std::move(file_);
  try {
    f->Close();
  } catch (const platform::Exception& e) {
    const Cause c = CauseOf(e);
    throw EVEZException(30365, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s",
                        {file_name_, c.code, c.text});
  }
}

bool TVEZDatabaseFile::ReadBuffer(void* buffer, std::int64_t count, std::int64_t position) {
  CheckOpen("ReadBuffer");
  return !TransferFailure(count, position,
                          [&](std::size_t n) { file_->ReadAt(position, buffer, n); });
}

void TVEZDatabaseFile::ReadBuffer(void* buffer, std::int64_t count, std::int64_t position,
                                  std::int32_t error_code) {
  CheckOpen("ReadBuffer");
  const std::optional<Cause> failure =
      TransferFailure(count, position, [&](std::size_t n) { file_->ReadAt(position, buffer, n); });
  if (!failure) return;
  const Cause& c = *failure;
  throw EVEZException(error_code,
                      "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, "
                      "FileSize = %d, ErrorCode:%d. ErrorMessage: %s",
                      {file_name_, position, count, position_, SizeForMessage(), c.code, c.text});
}

void TVEZDatabaseFile::WriteBuffer(const void* buffer, std::int64_t count, std::int64_t position,
                                   std::int32_t error_code) {
  CheckOpen("WriteBuffer");
  const std::optional<Cause> failure =
      TransferFailure(count, position, [&](std::size_t n) { file_->WriteAt(position, buffer, n); });
  if (!failure) return;
  const Cause& c = *failure;
  throw EVEZException(error_code,
                      "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, "
                      "FileSize = %d, ErrorCode:%d. ErrorMessage: %s",
                      {file_name_, position, count, position_, SizeForMessage(), c.code, c.text});
}

std::int64_t TVEZDatabaseFile::GetSize() {
  CheckOpen("GetSize");
  try {
    return file_->Size();
  } catch (const platform::Exception& e) {
    const Cause c = CauseOf(e);
    throw EVEZException(30371,
                        "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {file_name_, c.code, c.text});
  }
}

void TVEZDatabaseFile::SetSize(std::int64_t new_size) {
  CheckOpen("SetSize");
  if (new_size < 0)
    throw EVEZException(30372,
                        "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, "
                        "FileSize = %d",
                        {new_size, file_name_, position_, SizeForMessage()});
  try {
    file_->Truncate(new_size);
  } catch (const platform::Exception& e) {
    const Cause c = CauseOf(e);
    throw EVEZException(30370,
                        "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
                        {file_name_, new_size, c.code, c.text});
  }
}

std::int64_t TVEZDatabaseFile::GetPosition() {
  CheckOpen("GetPosition");
  return position_;
}

void TVEZDatabaseFile::SetPosition(std::int64_t value) {
  CheckOpen("SetPosition");
  if (value < 0)
    throw EVEZException(30372,
                        "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, "
                        "FileSize = %d",
                        {value, file_name_, position_, SizeForMessage()});
  position_ = value;
}

void TVEZDatabaseFile::FlushFileBuffers() {
  CheckOpen("FlushFileBuffers");
  try {
    file_->Sync();
  } catch (const platform::Exception& e) {
    const Cause c = CauseOf(e);
    throw EVEZException(30379,
                        "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {file_name_, c.code, c.text});
  }
}

namespace {

template <typename F>
bool LockCall(const std::string& file_name, const char* operation, std::int64_t offset,
              std::int32_t count, F&& f) {
  try {
    return f();
  } catch (const platform::Exception& e) {
    const Cause c = CauseOf(e);
    throw EVEZException(30380,
                        "Cannot perform lock operation (%s) on file '%s' Offset = %d, Count = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        {std::string(operation), file_name, offset, count, c.code, c.text});
  }
}

}  // namespace

bool TVEZDatabaseFile::LockByte(std::int64_t offset, std::int32_t count) {
  CheckOpen("LockByte");
  return LockCall(file_name_, "LockByte", offset, count,
                  [&] { return file_->LockRange(offset, count); });
}

bool TVEZDatabaseFile::UnlockByte(std::int64_t offset, std::int32_t count) {
  CheckOpen("UnlockByte");
  return LockCall(file_name_, "UnlockByte", offset, count,
                  [&] { return file_->UnlockRange(offset, count); });
}

bool TVEZDatabaseFile::IsByteLocked(std::int64_t offset) {
  CheckOpen("IsByteLocked");
  return LockCall(file_name_, "IsByteLocked", offset, 1,
                  [&] { return file_->IsRangeLocked(offset, 1); });
}

bool TVEZDatabaseFile::IsRegionLocked(std::int64_t offset, std::int32_t count) {
  CheckOpen("IsRegionLocked");
  return LockCall(file_name_, "IsRegionLocked", offset, count,
                  [&] { return file_->IsRangeLocked(offset, count); });
}

bool TVEZDatabaseFile::FindSignature(std::int64_t& offset) {
  CheckOpen("FindSignature");
  const auto header_size_at = [](const std::uint8_t* p) { return GetLE<std::int16_t>(p); };
  std::uint8_t head[kDBSignatureSize + kDBHeaderSize];
  const std::size_t got = file_->ReadPartialAt(0, head, sizeof head);
  if (got >= kDBSignatureSize + 2 && std::memcmp(head, kDBSignature, kDBSignatureSize) == 0 &&
      header_size_at(head + kDBSignatureSize) == kDBHeaderSize) {
    offset = 0;
    return true;
  }
  // Headers start below end.
  const std::int64_t end = std::min(file_->Size(), kSignatureSearchLimit);
  std::vector<std::uint8_t> window(kWindowSize);
  constexpr std::int64_t kStep = kWindowSize - kDBSignatureSize;
  for (std::int64_t p = 0; p < end; p += kStep) {
    const std::size_t len = file_->ReadPartialAt(p, window.data(), window.size());
    for (std::size_t i = 0; i + kDBSignatureSize <= len && p + static_cast<std::int64_t>(i) < end;
         ++i) {
      if (window[i] != static_cast<std::uint8_t>(kDBSignature[0]) ||
          std::memcmp(window.data() + i, kDBSignature, kDBSignatureSize) != 0)
        continue;
      std::uint8_t tail[2];
      const std::uint8_t* size_bytes = window.data() + i + kDBSignatureSize;
      if (i + kDBSignatureSize + 2 > len) {
        const std::int64_t at = p + static_cast<std::int64_t>(i) + kDBSignatureSize;
        if (file_->ReadPartialAt(at, tail, 2) != 2) continue;
        size_bytes = tail;
      }
      if (header_size_at(size_bytes) == kDBHeaderSize) {
        offset = p + static_cast<std::int64_t>(i);
        return true;
      }
    }
    if (len < window.size()) break;
  }
  return false;
}

void TVEZDatabaseFile::DeleteFile(const std::string& /*file_name*/) {
  CheckClosed("DeleteFile");
  try {
    platform::FileSystem& fs = platform::DefaultFileSystem();
    // Held exclusively while it is unlinked: a file another opener holds is
    // refused, never taken from under it.
    std::unique_ptr<platform::File> held;
    try {
      held = fs.OpenFile(file_name_, platform::FileAccess::kReadWrite,
                         platform::FileShare::kExclusive);
    } catch (const EOSError& e) {
      if (e.ErrorCode() == platform::kSharingViolation) throw;
      // A file this process may not write has no writer here to lose it:
      // the folder decides.
    }
    fs.DeleteFile(file_name_);
    if (held) held->Close();
  } catch (const platform::Exception& e) {
    const Cause c = CauseOf(e);
    throw EVEZException(30362, "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s",
                        {file_name_, c.code, c.text});
  }
}

void TVEZDatabaseFile::RenameFile(const std::string& old_file_name,
                                  const std::string& new_file_name) {
  try {
    platform::DefaultFileSystem().RenameFile(old_file_name, new_file_name);
  } catch (const platform::Exception& e) {
    const Cause c = CauseOf(e);
    throw EVEZException(30378, "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s",
                        {old_file_name, new_file_name, c.code, c.text});
  }
}

}  // namespace vez
