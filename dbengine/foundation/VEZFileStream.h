// TVEZFileStream: a stream on an operating-system file, opened through the
// installed platform::FileSystem; optionally a delete-on-close temporary file
// (unlinked as soon as it is open, so it vanishes when closed, even if the
// process dies).
//
// Open mode words: 0xFF00 creates the file (read and write, not shared; an
// existing file is truncated). Any other mode opens an existing file: the low
// bits are the access (0 read, 1 write, 2 read and write), bits 4 to 6 the
// sharing (0x00 and 0x10 exclusive, 0x20 deny write, 0x30 deny read, 0x40 deny
// none; emulated as platform::FileShare says).
//
// Thread safety: one thread at a time (see VEZStream.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/foundation/VEZStream.h"
#include "platform/os/File.h"

namespace vez {

class TVEZFileStream : public TVEZStream {
 public:
  static constexpr std::uint16_t kModeCreate = 0xFF00;

  // Opens or creates file_name by mode. With is_temporary and mode 0xFF00 the
  // file is delete-on-close (a name from GetTemporaryFileName (VEZTemporaryFileName.h) hands over
  // its reserved file). Raises 10104 "Cannot create file. FileName = %s" or 10105 "Cannot open
  // file. FileName = %s, Mode = %d" (also for an unknown mode).
  TVEZFileStream(const std::string& file_name, std::uint16_t mode, bool is_temporary);
  // Adopts an open file (for example an unlinked temporary one).
  TVEZFileStream(std::unique_ptr<platform::File> file, std::uint16_t mode, bool is_temporary);
  // Closes the file; never throws.
  ~TVEZFileStream() override;

  std::int64_t GetSize() override;
  // Sets the end of file; a position beyond it moves to it. A failure raises
  // platform::EOSError with the system's message.
  void SetSize(std::int64_t new_size) override;
  // Read returns fewer than count bytes only at the end of the file; Write
  // writes all of them. An OS failure (a full disk, an I/O error) raises
  // platform::EOSError with the errno text, never a short count, so damage
  // and a failing disk stay apart.
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  // -1 for a negative position or an unknown origin (the position stays).
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

  // The descriptor; negative when none.
  std::int32_t Handle() const { return file_ ? file_->Descriptor() : -1; }
  const std::string& FileName() const { return file_name_; }
  std::uint16_t Mode() const { return mode_; }
  bool IsTemporary() const { return is_temporary_; }
  platform::File& File() { return *file_; }

 private:
  std::unique_ptr<platform::File> file_;
  std::string file_name_;
  std::uint16_t mode_;
  bool is_temporary_;
  std::int64_t position_ = 0;
};

}  // namespace vez
