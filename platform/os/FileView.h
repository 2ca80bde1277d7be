// A read-only view of a few bytes of an open file that costs no system call to
// look at: a shared mapping of the pages that hold them. Linux keeps such a
// mapping coherent with every write to the file (pwrite included, from any
// process), so a load from it sees what a read would return at that moment.
//
// The bytes must stay inside the file for as long as they are looked at: a
// load past the file's end raises SIGBUS. Loads are not atomic beyond one
// byte, so a value being written may be seen half old, half new.
//
// Thread safety: Load may be called from any thread; Open and Close must not
// race with other use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class FileView {
 public:
  FileView() = default;
  // Unmaps; never throws.
  ~FileView();
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  // Maps count bytes at offset of descriptor (any alignment). False, with
  // nothing mapped, when the system refuses or descriptor is -1: the caller
  // then reads the bytes as usual.
  bool Open(int descriptor, std::int64_t offset, std::size_t count);
  void Close() noexcept;
  bool IsOpen() const { return bytes_ != nullptr; }
  // Copies count bytes at offset (relative to the viewed bytes) into buffer.
  // REQUIRES: IsOpen(), offset + count within the viewed bytes.
  void Load(std::size_t offset, void* buffer, std::size_t count) const;

 private:
  void* mapping_ = nullptr;
  std::size_t mapping_size_ = 0;
  const volatile std::uint8_t* bytes_ = nullptr;
  std::size_t count_ = 0;
};

}  // namespace platform
