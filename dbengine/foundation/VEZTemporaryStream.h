// TVEZTemporaryStream: a stream that lives in memory until a write would take
// it past MemoryLimit bytes, then moves, content and position kept, into a
// delete-on-close temporary file for good. With DisableTempFiles it never
// leaves memory.
//
// Thread safety: one thread at a time (see VEZStream.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/foundation/VEZFileStream.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/foundation/VEZStream.h"

namespace vez {

class TVEZTemporaryStream : public TVEZStream {
 public:
  static constexpr std::int32_t kDefaultMemoryLimit = 1048576;

  explicit TVEZTemporaryStream(bool disable_temp_files);
  // Frees the memory or file stream; the temporary file vanishes.
  ~TVEZTemporaryStream() override;

  std::int64_t GetSize() override { return Current().GetSize(); }
  void SetSize(std::int64_t new_size) override { Current().SetSize(new_size); }
  std::int32_t Read(void* buffer, std::int32_t count) override {
    return Current().Read(buffer, count);
  }
  // Moves to a file first when the current size + count passes MemoryLimit
  // (equal stays in memory) and temporary files are allowed.
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return Current().Seek(offset, origin);
  }

  std::int32_t MemoryLimit() const { return memory_limit_; }
  void SetMemoryLimit(std::int32_t limit) { memory_limit_ = limit; }
  bool InMemory() const { return in_memory_; }
  bool DisableTempFiles() const { return disable_temp_files_; }
  // The temporary file's name; empty before the move.
  const std::string& FileName() const { return file_name_; }
  // The memory stream while InMemory, else nullptr.
  TVEZMemoryStream* MemoryStream() const { return memory_stream_.get(); }
  // The file stream after the move, else nullptr.
  TVEZFileStream* FileStream() const { return file_stream_.get(); }

 private:
  TVEZStream& Current() {
    return in_memory_ ? static_cast<TVEZStream&>(*memory_stream_) : *file_stream_;
  }
  void MoveToFile();

  std::int32_t memory_limit_ = kDefaultMemoryLimit;
  std::unique_ptr<TVEZMemoryStream> memory_stream_;
  std::unique_ptr<TVEZFileStream> file_stream_;
  std::string file_name_;
  bool in_memory_ = true;
  bool disable_temp_files_;
};

}  // namespace vez
