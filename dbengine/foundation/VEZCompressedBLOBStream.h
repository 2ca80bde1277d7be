// TVEZCompressedBLOBStream: one BLOB value, kept as a byte range of an
// underlying stream, seen as an ordinary stream of its uncompressed bytes.
//
// With a compression algorithm the range holds a chain of independently
// compressed blocks, each behind a 20-byte header with its sizes and the CRC-32
// of its content; every block but the last holds exactly BlockSize bytes, the
// last 1 to BlockSize. Reads decompress whole blocks; writes only append (the
// partial last block is recompressed in place, then new blocks follow); the
// size changes by zero-extension or by cutting. Without compression the range
// is a raw window from StartPosition on.
//
// The stream keeps the last block it decompressed or wrote, so reads in small
// pieces and appends to a partial block do not decompress it again. Every
// write, size change, cut and repair drops that copy first; an append then
// puts back only the block it has just written, whose bytes are exactly those
// now in the underlying stream. A new stream starts without one.
//
// The owner keeps the underlying stream open for the stream's life, stores
// BLOBDescriptor() after changes, and serialises all use: the stream is used by
// one thread at a time, and two streams must not write the same range.
#pragma once

#include <cstdint>
#include <memory>

#include "dbengine/foundation/VEZCompressedStreamBlockHeadersArray.h"
#include "dbengine/foundation/VEZCompression.h"
#include "dbengine/foundation/VEZStream.h"

namespace vez {

// The largest block size a compressed BLOB may have: a new BLOB with a larger
// one is refused, and so is a stored descriptor that claims one (damage).
inline constexpr std::int32_t kMaxCompressedBLOBBlockSize = 64 * 1024 * 1024;

// Uncompressed bytes per block of a new BLOB whose descriptor says 0.
std::int32_t DefaultCompressedBLOBBlockSize(std::uint8_t compression_mode);

class TVEZCompressedBLOBStream : public TVEZStream {
 public:
  // to_create starts a new, empty BLOB at the descriptor's StartPosition;
  // otherwise the BLOB the descriptor describes is opened and its block
  // headers are checked: every block's size fits the block size and what the
  // descriptor's size leaves, and its data and next header position lie inside
  // the stream (as does an empty BLOB's start). to_repair opens a damaged
  // chain as far as its headers are sound and cuts it there (the descriptor
  // then says so). Raises 10103, 10079 to 10083 and 10084 (a block size below
  // 1 or above kMaxCompressedBLOBBlockSize, or an inconsistent block header,
  // not in repair mode).
  TVEZCompressedBLOBStream(TVEZStream& stream, const TVEZBLOBDescriptor& blob_descriptor,
                           bool to_create, bool to_repair);
  TVEZCompressedBLOBStream(const TVEZCompressedBLOBStream&) = delete;
  TVEZCompressedBLOBStream& operator=(const TVEZCompressedBLOBStream&) = delete;
  ~TVEZCompressedBLOBStream() override;

  std::int64_t GetSize() override;

  // Zero-extends or cuts the BLOB. Growing a compressed BLOB leaves the
  // position at the new end; a position beyond a smaller size moves to it.
  void SetSize(std::int64_t new_size) override;

  // Reads from the current position; each touched block other than the one
  // kept is decompressed and checked (10086 to 10089 for a damaged block,
  // which fails only the reads that touch it and is never kept).
  std::int32_t Read(void* buffer, std::int32_t count) override;

  // Compressed: appends only. At a position inside the BLOB nothing is written
  // and the result is 0; beyond the end the gap is first filled with zeros.
  // Raw: writes through to the underlying stream.
  std::int32_t Write(const void* buffer, std::int32_t count) override;

  // A target at or below 0 becomes 0; a target beyond the end is kept. An
  // unknown origin keeps the position. Returns the new position.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

  TVEZStream& CompressedStream() { return *compressed_stream_; }
  // Percentage saved by compression; 0 for a raw or empty BLOB.
  double CompressionRate();
  TVEZCompressionAlgorithm CompressionAlgorithm() const { return compression_algorithm_; }
  std::uint8_t CompressionMode() const { return compression_mode_; }
  // The size of the whole underlying stream.
  std::int64_t CompressedSize() { return compressed_stream_->Size(); }
  // The descriptor to store after changes.
  const TVEZBLOBDescriptor& BLOBDescriptor() const { return blob_descriptor_; }

 private:
  bool Compressed() const { return compression_algorithm_ != acaNone; }
  void WalkChain();
  void CutChain(std::int64_t block_count);
  TVEZHeapBuffer ReadBlock(std::int64_t k);
  const std::uint8_t* LoadBlock(std::int64_t k);
  std::uint8_t* ReserveCache(std::int32_t size);
  void DropCache() noexcept {
    cache_block_ = -1;
    cache_size_ = 0;
  }
  void KeepCache(std::int64_t k, std::int32_t size) noexcept {
    cache_block_ = k;
    cache_size_ = size;
  }
  TVEZHeapBuffer CompressBlock(const std::uint8_t* data, std::int32_t size,
                               TVEZCompressedStreamBlockHeader& header);
  void WriteBlock(std::int64_t k, const std::uint8_t* data, std::int32_t size);
  std::int32_t Append(const std::uint8_t* in, std::int32_t count);
  void ExtendToPosition();
  void ZeroExtend(std::int64_t new_size);
  void CutTo(std::int64_t new_size);
  void UpdateCompressedSize();
  void SyncRawPosition();

  bool repair_;
  std::unique_ptr<TVEZCompressedStreamBlockHeadersArray> headers_;
  std::int64_t uncompressed_size_ = 0;
  std::int64_t compressed_size_ = 0;
  std::int64_t start_position_ = 0;
  std::int64_t current_header_ = 0;
  std::int64_t position_ = 0;
  std::uint8_t compression_mode_ = 0;
  TVEZCompressionAlgorithm compression_algorithm_ = acaNone;
  double compression_rate_ = 0;
  TVEZStream* compressed_stream_;
  TVEZBLOBDescriptor blob_descriptor_;
  // The last block decompressed or written: cache_size_ bytes of block
  // cache_block_ (-1: none) in a buffer of the memory manager, kept for reuse
  // while the stream lives.
  std::uint8_t* cache_ = nullptr;
  std::int32_t cache_capacity_ = 0;
  std::int64_t cache_block_ = -1;
  std::int32_t cache_size_ = 0;
};

}  // namespace vez
