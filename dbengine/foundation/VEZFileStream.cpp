#include "dbengine/foundation/VEZFileStream.h"

#include "dbengine/foundation/VEZException.h"
#include "platform/core/Exceptions.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorCannotOpenFile = 10105;  // an existing file cannot be opened

}  // namespace

namespace {

using platform::FileAccess;
using platform::FileShare;

bool MapMode(std::uint16_t mode, FileAccess& access, FileShare& share) {
  switch (mode & 0x0F) {
    case 0:
      access = FileAccess::kRead;
      break;
    case 1:
      access = FileAccess::kWrite;
      break;
    case 2:
      access = FileAccess::kReadWrite;
      break;
    default:
      return false;
  }
  switch ((mode >> 4) & 0x0F) {
    case 0:
    case 1:
      share = FileShare::kExclusive;
      break;
    case 2:
      share = FileShare::kDenyWrite;
      break;
    case 3:
      share = FileShare::kDenyRead;
      break;
    case 4:
      share = FileShare::kDenyNone;
      break;
    default:
      return false;
  }
  return (mode & 0xFF00) == 0;
}

std::unique_ptr<platform::File> OpenByMode(const std::string& file_name, std::uint16_t mode,
                                           bool is_temporary) {
  platform::FileSystem& fs = platform::DefaultFileSystem();
  if (mode == TVEZFileStream::kModeCreate) {
    try {
      return is_temporary ? fs.CreateDeleteOnCloseFile(file_name)
                          : fs.CreateFile(file_name, FileShare::kExclusive);
    } catch (const platform::EOSError&) {
      throw EVEZException(10104, "Cannot create file. FileName = %s", {file_name});
    }
  }
  FileAccess access;
  FileShare share;
  if (!MapMode(mode, access, share))
    throw EVEZException(kErrorCannotOpenFile, "Cannot open file. FileName = %s, Mode = %d",
                        {file_name, mode});
  try {
    return fs.OpenFile(file_name, access, share);
  } catch (const platform::EOSError&) {
    throw EVEZException(kErrorCannotOpenFile, "Cannot open file. FileName = %s, Mode = %d",
                        {file_name, mode});
  }
}

}  // namespace

TVEZFileStream::TVEZFileStream(const std::string& file_name, std::uint16_t mode, bool is_temporary)
    : file_(OpenByMode(file_name, mode, is_temporary)),
      file_name_(file_name),
      mode_(mode),
      is_temporary_(is_temporary) {}

TVEZFileStream::TVEZFileStream(std::unique_ptr<platform::File> file, std::uint16_t mode,
                               bool is_temporary)
    : file_(std::move(file)), file_name_(file_->Path()), mode_(mode), is_temporary_(is_temporary) {}

TVEZFileStream::~TVEZFileStream() = default;

std::int64_t TVEZFileStream::GetSize() {
  return file_->Size();
}

void TVEZFileStream::SetSize(std::int64_t new_size) {
  file_->Truncate(new_size);
  if (new_size < position_) position_ = new_size;
}

std::int32_t TVEZFileStream::Read(void* buffer, std::int32_t count) {
  if (count < 1) return 0;
  // An OS failure travels as EOSError: a full disk or an I/O error must not
  // look like the end of the data.
  const auto n = static_cast<std::int32_t>(
      file_->ReadPartialAt(position_, buffer, static_cast<std::size_t>(count)));
  position_ += n;
  return n;
}

std::int32_t TVEZFileStream::Write(const void* buffer, std::int32_t count) {
  if (count < 1) return 0;
  file_->WriteAt(position_, buffer, static_cast<std::size_t>(count));
  position_ += count;
  return count;
}

std::int64_t TVEZFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const std::int64_t position =
      SeekTarget(offset, origin, position_, [this] { return file_->Size(); });
  if (position < 0) return -1;
  position_ = position;
  return position_;
}

// The base stream's file helpers live here so that the base stream does not
// depend on its file subclass.
void TVEZStream::LoadFromFile(const std::string& file_name) {
  TVEZFileStream file(file_name, 0x20, false);
  LoadFromStream(file);
}

void TVEZStream::SaveToFile(const std::string& file_name) {
  TVEZFileStream file(file_name, TVEZFileStream::kModeCreate, false);
  SaveToStream(file);
}

}  // namespace vez
