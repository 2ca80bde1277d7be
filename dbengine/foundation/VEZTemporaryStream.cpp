#include "dbengine/foundation/VEZTemporaryStream.h"

#include "dbengine/foundation/VEZTemporaryFileName.h"

namespace vez {

TVEZTemporaryStream::TVEZTemporaryStream(bool disable_temp_files)
    : memory_stream_(std::make_unique<TVEZMemoryStream>()),
      disable_temp_files_(disable_temp_files) {}

TVEZTemporaryStream::~TVEZTemporaryStream() = default;

void TVEZTemporaryStream::MoveToFile() {
  std::string name = GetTemporaryFileName();
  auto file = std::make_unique<TVEZFileStream>(name, TVEZFileStream::kModeCreate, true);
  file->LoadFromStream(*memory_stream_);
  file->SetPosition(memory_stream_->Position());
  // Nothing changes until the file holds everything: a failed move leaves the
  // stream in memory, whole.
  file_name_ = std::move(name);
  file_stream_ = std::move(file);
  memory_stream_.reset();
  in_memory_ = false;
}

std::int32_t TVEZTemporaryStream::Write(const void* buffer, std::int32_t count) {
  if (in_memory_ && !disable_temp_files_ &&
      memory_stream_->GetSize() + static_cast<std::int64_t>(count) > memory_limit_)
    MoveToFile();
  return Current().Write(buffer, count);
}

}  // namespace vez
