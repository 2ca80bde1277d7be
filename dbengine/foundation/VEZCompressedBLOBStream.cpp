#include "dbengine/foundation/VEZCompressedBLOBStream.h"

#include <algorithm>
#include <cstring>

#include "dbengine/foundation/VEZCrc32.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorStartPosition =
    10080;  // the BLOB start position lies outside its stream
constexpr std::int32_t kErrorNextHeaderPosition =
    10083;  // a block header points where no next header can be
constexpr std::int32_t kErrorBlockLayout =
    10084;  // a block size or count that the BLOB cannot have
constexpr std::int32_t kErrorReadBlockData =
    10086;  // a block's compressed bytes cannot all be read
constexpr std::int32_t kErrorUncompressedSize =
    10088;  // a block decompresses to another size than its header says

}  // namespace

namespace {

using platform::CheckedAdd;
using platform::CheckedSub;

constexpr std::int32_t kHeaderSize = TVEZCompressedStreamBlockHeader::kSize;

// A buffer of the engine's memory manager. Free() releases it on the normal
// path, where a detected overrun may raise; the destructor only cleans up
// after an exception.
class TMemBlock {
 public:
  TMemBlock(std::int64_t size, bool zero)
      : p_(static_cast<std::uint8_t*>(zero ? MemoryManager().AllocMem(size)
                                           : MemoryManager().GetMem(size))) {}
  TMemBlock(const TMemBlock&) = delete;
  TMemBlock& operator=(const TMemBlock&) = delete;
  ~TMemBlock() {
    if (p_) {
      try {
        MemoryManager().FreeAndNillMem(p_);
      } catch (...) {
      }
    }
  }
  std::uint8_t* get() const { return p_; }
  void Free() { MemoryManager().FreeAndNillMem(p_); }

 private:
  std::uint8_t* p_;
};

[[noreturn]] void RaisePosition(std::int32_t code, std::int64_t target, std::int64_t position,
                                std::int64_t size) {
  throw EVEZException(code, "Cannot set stream position to %d. Position = %d, Size = %d",
                      {target, position, size});
}

}  // namespace

std::int32_t DefaultCompressedBLOBBlockSize(std::uint8_t compression_mode) {
  if (compression_mode == 0) return 102400;
  if (compression_mode <= 3) return 524288;
  if (compression_mode <= 6) return 1048576;
  return 1572864;
}

TVEZCompressedBLOBStream::TVEZCompressedBLOBStream(TVEZStream& stream,
                                                   const TVEZBLOBDescriptor& blob_descriptor,
                                                   bool to_create, bool to_repair)
    : repair_(to_repair),
      start_position_(blob_descriptor.StartPosition),
      compression_mode_(blob_descriptor.CompressionMode),
      compression_algorithm_(
          static_cast<TVEZCompressionAlgorithm>(blob_descriptor.CompressionAlgorithm)),
      compressed_stream_(&stream),
      blob_descriptor_(blob_descriptor) {
  TVEZStream& s = *compressed_stream_;
  s.SetPosition(start_position_);
  if (s.Position() != start_position_)
    RaisePosition(10103, start_position_, s.Position(), s.Size());
  SetBlockSize(blob_descriptor_.BlockSize);

  if (Compressed()) {
    headers_ = std::make_unique<TVEZCompressedStreamBlockHeadersArray>();
    if (to_create) {
      if (blob_descriptor_.BlockSize == 0)
        blob_descriptor_.BlockSize = DefaultCompressedBLOBBlockSize(compression_mode_);
      blob_descriptor_.NumBlocks = 0;
      blob_descriptor_.UncompressedSize = 0;
    }
    SetBlockSize(blob_descriptor_.BlockSize);
    // Every position-to-block computation divides by the block size, and a
    // block of it is allocated before any data is read: no block larger than
    // the engine writes is taken on a damaged descriptor's word.
    if (BlockSize() <= 0 || BlockSize() > kMaxCompressedBLOBBlockSize)
      throw EVEZException(kErrorBlockLayout, "Invalid block size = %d", {BlockSize()});
    uncompressed_size_ = 0;
    compressed_size_ = 0;
    // A stored BLOB starts inside its stream: the next append to an empty
    // (or repaired-to-empty) BLOB writes at its start, and a start past the
    // end would grow the stream by the gap.
    if (!to_create && start_position_ > s.Size())
      RaisePosition(kErrorStartPosition, start_position_, s.Position(), s.Size());
    WalkChain();
    current_header_ = 0;
    position_ = 0;
  } else {
    if (s.Position() != start_position_)
      RaisePosition(10079, start_position_, s.Position(), s.Size());
    if (to_create) {
      uncompressed_size_ = 0;
      blob_descriptor_.UncompressedSize = 0;
    } else {
      uncompressed_size_ = std::max<std::int64_t>(blob_descriptor_.UncompressedSize, 0);
      if (!repair_ && s.Size() - s.Position() < uncompressed_size_)
        throw EVEZException(10081, "Stream size = %d too small. Should be at least = %d",
                            {s.Size(), CheckedAdd(s.Position(), uncompressed_size_)});
    }
    compressed_size_ = uncompressed_size_;
    position_ = 0;
  }
}

TVEZCompressedBLOBStream::~TVEZCompressedBLOBStream() {
  if (cache_) {
    try {
      MemoryManager().FreeAndNillMem(cache_);
    } catch (...) {
    }
  }
}

void TVEZCompressedBLOBStream::WalkChain() {
  TVEZStream& s = *compressed_stream_;
  if (s.Position() != start_position_)
    RaisePosition(kErrorStartPosition, start_position_, s.Position(), s.Size());
  headers_->SetSize(0);
  const std::int64_t block_count = blob_descriptor_.NumBlocks;
  if (block_count < 0) {
    if (repair_) return CutChain(0);
    throw EVEZException(kErrorBlockLayout, "Invalid number of blocks = %d", {block_count});
  }
  const std::int32_t block_size = BlockSize();
  for (std::int64_t i = 0; i < block_count; ++i) {
    const std::int64_t header_pos = s.Position();
    const std::int64_t stream_size = s.Size();
    if (stream_size - header_pos < kHeaderSize) {
      if (repair_) return CutChain(i);
      throw EVEZException(10082, "Stream size = %d too small. Should be at least = %d",
                          {stream_size, CheckedAdd<std::int64_t>(header_pos, kHeaderSize)});
    }
    std::uint8_t raw[kHeaderSize];
    s.ReadBuffer(raw, kHeaderSize);
    const auto h = TVEZCompressedStreamBlockHeader::Decode(raw);
    // Every block but the last is full, the last holds 1 to block size bytes,
    // and its data lies between its header and the next one.
    // No block exceeds what the BLOB's own size leaves for it (repair may
    // not trust that size, but still the block size), so a damaged header
    // cannot ask for more memory than the BLOB holds.
    const bool last = i == block_count - 1;
    const std::int64_t stated = blob_descriptor_.UncompressedSize;
    const std::int64_t left = stated > uncompressed_size_ ? stated - uncompressed_size_ : 0;
    const std::int64_t room = repair_ ? block_size : std::min<std::int64_t>(block_size, left);
    const bool sound = h.CompressedSize > 0 &&
                       (last ? h.UncompressedSize >= 1 && h.UncompressedSize <= room
                             : h.UncompressedSize == block_size && h.UncompressedSize <= room) &&
                       h.OffsetToNextHeader >= std::int64_t{h.CompressedSize} + kHeaderSize;
    if (!sound) {
      if (repair_) return CutChain(i);
      throw EVEZException(
          kErrorBlockLayout,
          "Invalid block header %d. CompSize = %d, UncompSize = %d, "
          "OffsetToNext = %d, Block size = %d",
          {i, h.CompressedSize, h.UncompressedSize, h.OffsetToNextHeader, block_size});
    }
    // The block and the next header position lie inside the stream: the
    // last block's next position is where the next append writes.
    if (h.OffsetToNextHeader > stream_size - header_pos) {
      if (repair_) return CutChain(i);
      RaisePosition(kErrorNextHeaderPosition, CheckedAdd(header_pos, h.OffsetToNextHeader),
                    s.Position(), stream_size);
    }
    uncompressed_size_ = CheckedAdd<std::int64_t>(uncompressed_size_, h.UncompressedSize);
    compressed_size_ = CheckedAdd<std::int64_t>(compressed_size_, h.CompressedSize);
    headers_->AppendItem(h, header_pos);
    const std::int64_t next = CheckedAdd(header_pos, h.OffsetToNextHeader);
    const std::int64_t before = s.Position();
    s.SetPosition(next);
    if (s.Position() != next) RaisePosition(kErrorNextHeaderPosition, next, before, s.Size());
  }
}

void TVEZCompressedBLOBStream::CutChain(std::int64_t block_count) {
  // Repair: the BLOB ends after the last sound block.
  DropCache();
  blob_descriptor_.NumBlocks = block_count;
  headers_->SetSize(block_count);
  blob_descriptor_.UncompressedSize = uncompressed_size_;
}

TVEZHeapBuffer TVEZCompressedBLOBStream::ReadBlock(std::int64_t k) {
  TVEZStream& s = *compressed_stream_;
  const TVEZCompressedStreamBlockHeader h = headers_->Items(k);
  const std::int64_t data_pos = CheckedAdd<std::int64_t>(headers_->Positions(k), kHeaderSize);
  // Refuse before allocating: a damaged size must not cost a huge buffer.
  const std::int64_t available = std::max<std::int64_t>(s.Size() - data_pos, 0);
  if (available < h.CompressedSize)
    throw EVEZException(kErrorReadBlockData,
                        "Cannot read from stream. Position = %d, Stream size = %d, "
                        "Block size = %d, Bytes Read = %d",
                        {data_pos, s.Size(), h.CompressedSize, available});
  TMemBlock packed(h.CompressedSize, false);
  s.SetPosition(data_pos);
  const std::int32_t got = s.Position() == data_pos ? s.Read(packed.get(), h.CompressedSize) : 0;
  if (got != h.CompressedSize)
    throw EVEZException(kErrorReadBlockData,
                        "Cannot read from stream. Position = %d, Stream size = %d, "
                        "Block size = %d, Bytes Read = %d",
                        {data_pos, s.Size(), h.CompressedSize, got});
  TVEZHeapBuffer out;
  std::int32_t out_size = h.UncompressedSize;
  if (!DecompressBuffer(compression_algorithm_, packed.get(), h.CompressedSize, out, out_size))
    throw EVEZException(
        10087, "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
        {static_cast<int>(compression_algorithm_), h.CompressedSize, h.UncompressedSize});
  packed.Free();
  if (out_size != h.UncompressedSize)
    throw EVEZException(kErrorUncompressedSize,
                        "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {out_size, h.UncompressedSize});
  const std::uint32_t crc = UpdateCrc32(0, out.get(), static_cast<std::uint32_t>(out_size));
  if (crc != h.Crc32)
    throw EVEZException(10089, "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d",
                        {static_cast<std::int32_t>(crc), static_cast<std::int32_t>(h.Crc32)});
  return out;
}

std::uint8_t* TVEZCompressedBLOBStream::ReserveCache(std::int32_t size) {
  if (size > cache_capacity_) {
    try {
      if (cache_)
        MemoryManager().ReallocMem(cache_, size, false);
      else
        cache_ = static_cast<std::uint8_t*>(MemoryManager().GetMem(size));
    } catch (...) {
      // The buffer may have moved or lost its content: nothing in it counts.
      DropCache();
      throw;
    }
    cache_capacity_ = size;
  }
  return cache_;
}

const std::uint8_t* TVEZCompressedBLOBStream::LoadBlock(std::int64_t k) {
  if (k != cache_block_) {
    // Only a block that decompressed and passed its checks is kept.
    const TVEZHeapBuffer block = ReadBlock(k);
    const std::int32_t size = headers_->Items(k).UncompressedSize;
    DropCache();
    std::memcpy(ReserveCache(size), block.get(), static_cast<std::size_t>(size));
    KeepCache(k, size);
  }
  return cache_;
}

TVEZHeapBuffer TVEZCompressedBLOBStream::CompressBlock(const std::uint8_t* data, std::int32_t size,
                                                       TVEZCompressedStreamBlockHeader& header) {
  TVEZHeapBuffer out;
  std::int32_t out_size = 0;
  if (!CompressBuffer(compression_algorithm_, compression_mode_, data, size, out, out_size))
    throw EVEZException(
        10085, "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d",
        {static_cast<int>(compression_algorithm_), compression_mode_, size, out_size});
  // The header changes only once the block has compressed.
  header.UncompressedSize = size;
  header.Crc32 = UpdateCrc32(0, data, static_cast<std::uint32_t>(size));
  header.CompressedSize = out_size;
  return out;
}

void TVEZCompressedBLOBStream::WriteBlock(std::int64_t k, const std::uint8_t* data,
                                          std::int32_t size) {
  TVEZStream& s = *compressed_stream_;
  // The list keeps the old header until the new one is in the stream: a
  // refused write leaves the block readable as it was.
  TVEZCompressedStreamBlockHeader h = headers_->Items(k);
  TVEZHeapBuffer packed = CompressBlock(data, size, h);
  h.OffsetToNextHeader = std::int64_t{h.CompressedSize} + kHeaderSize;
  CheckedStreamSeek(s, 10099, headers_->Positions(k));
  std::uint8_t raw[kHeaderSize];
  h.Encode(raw);
  CheckedStreamWrite(raw, kHeaderSize, s, 10100);
  CheckedStreamWrite(packed.get(), h.CompressedSize, s, 10101);
  headers_->Items(k) = h;
}

std::int64_t TVEZCompressedBLOBStream::GetSize() {
  return uncompressed_size_;
}

void TVEZCompressedBLOBStream::SyncRawPosition() {
  position_ = compressed_stream_->Position() - start_position_;
}

std::int32_t TVEZCompressedBLOBStream::Read(void* buffer, std::int32_t count) {
  if (!Compressed()) {
    if (count <= 0 || position_ >= uncompressed_size_) return 0;
    // The window ends with the BLOB, and is found again even when the owner
    // moved the underlying stream meanwhile.
    compressed_stream_->SetPosition(CheckedAdd(start_position_, position_));
    const auto n =
        static_cast<std::int32_t>(std::min<std::int64_t>(count, uncompressed_size_ - position_));
    const std::int32_t got = compressed_stream_->Read(buffer, n);
    SyncRawPosition();
    return got;
  }
  if (count <= 0 || position_ < 0 || position_ >= uncompressed_size_) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::int32_t block_size = BlockSize();
  current_header_ = position_ / block_size;
  std::int32_t result = 0;
  while (position_ < uncompressed_size_ && result < count) {
    const std::uint8_t* block = LoadBlock(current_header_);
    const auto offset = static_cast<std::int32_t>(position_ % block_size);
    const std::int64_t piece = std::min<std::int64_t>(
        {block_size - offset, count - result, uncompressed_size_ - position_});
    // The piece must lie inside the block's own bytes.
    if (piece <= 0 || offset + piece > cache_size_)
      throw EVEZException(10090, "Cannot read from stream. ReadSize = %d", {piece});
    std::memcpy(out + result, block + offset, static_cast<std::size_t>(piece));
    result += static_cast<std::int32_t>(piece);
    if (result < count) ++current_header_;
    position_ += piece;
  }
  return result;
}

std::int32_t TVEZCompressedBLOBStream::Write(const void* buffer, std::int32_t count) {
  TVEZStream& s = *compressed_stream_;
  if (!Compressed()) {
    if (count <= 0) return 0;
    s.SetPosition(CheckedAdd(start_position_, position_));
    const std::int32_t written = s.Write(buffer, count);
    SyncRawPosition();
    uncompressed_size_ = s.Size() - start_position_;
    compressed_size_ = uncompressed_size_;
    blob_descriptor_.UncompressedSize = uncompressed_size_;
    return written;
  }
  std::int32_t result = 0;
  if (count > 0 && position_ >= uncompressed_size_) {
    if (position_ > uncompressed_size_) ExtendToPosition();
    try {
      result = Append(static_cast<const std::uint8_t*>(buffer), count);
    } catch (...) {
      UpdateCompressedSize();
      throw;
    }
  }
  blob_descriptor_.UncompressedSize = uncompressed_size_;
  UpdateCompressedSize();
  return result;
}

std::int32_t TVEZCompressedBLOBStream::Append(const std::uint8_t* in, std::int32_t count) {
  TVEZStream& s = *compressed_stream_;
  const std::int32_t block_size = BlockSize();
  const std::int64_t old_count = headers_->ItemCount();
  current_header_ = old_count > 0 ? old_count - 1 : 0;
  const auto offset = static_cast<std::int32_t>(position_ % block_size);
  std::int32_t result = 0;
  // Each block counts once it is in the underlying stream, also when a later
  // one fails.
  auto commit = [&](std::int32_t piece) {
    result += piece;
    uncompressed_size_ += piece;
    position_ += piece;
    blob_descriptor_.NumBlocks = headers_->ItemCount();
    blob_descriptor_.UncompressedSize = uncompressed_size_;
  };

  if (offset > 0) {
    // The last block is partial: refill it in place. The block buffer holds
    // its old bytes, kept from the previous append or read, or loaded now.
    LoadBlock(current_header_);
    if (cache_size_ != offset)
      throw EVEZException(kErrorUncompressedSize,
                          "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                          {cache_size_, offset});
    std::uint8_t* work = ReserveCache(block_size);
    DropCache();
    const std::int32_t piece = std::min(count, block_size - offset);
    std::memcpy(work + offset, in, static_cast<std::size_t>(piece));
    WriteBlock(current_header_, work, offset + piece);
    KeepCache(current_header_, offset + piece);
    commit(piece);
    ++current_header_;
  }
  if (result < count) {
    std::uint8_t* work = ReserveCache(block_size);
    DropCache();
    std::int64_t next_pos = start_position_;
    current_header_ = headers_->ItemCount();
    if (current_header_ > 0) {
      const std::int64_t last = current_header_ - 1;
      next_pos = CheckedAdd(headers_->Positions(last), headers_->Items(last).OffsetToNextHeader);
    }
    CheckedStreamSeek(s, 10102, next_pos);
    while (result < count) {
      const std::int32_t piece = std::min(count - result, block_size);
      DropCache();
      std::memcpy(work, in + result, static_cast<std::size_t>(piece));
      headers_->AppendItem({}, s.Position());
      try {
        WriteBlock(current_header_, work, piece);
      } catch (...) {
        headers_->SetSize(current_header_);
        throw;
      }
      KeepCache(current_header_, piece);
      commit(piece);
      ++current_header_;
    }
  }
  return result;
}

void TVEZCompressedBLOBStream::ExtendToPosition() {
  const std::int64_t target = position_;
  position_ = 0;
  SetSize(target);
  Seek(target, soBeginning);
  if (position_ != target) RaisePosition(10091, target, position_, uncompressed_size_);
  if (uncompressed_size_ != target)
    throw EVEZException(10092, "Invalid stream size = %d. Should be = %d",
                        {uncompressed_size_, target});
}

void TVEZCompressedBLOBStream::SetSize(std::int64_t new_size) {
  new_size = std::max<std::int64_t>(new_size, 0);
  DropCache();
  if (!Compressed()) {
    compressed_stream_->SetSize(CheckedAdd(start_position_, new_size));
  } else if (new_size > uncompressed_size_) {
    ZeroExtend(new_size);
  } else if (new_size < uncompressed_size_) {
    CutTo(new_size);
  }
  uncompressed_size_ = new_size;
  blob_descriptor_.UncompressedSize = new_size;
  UpdateCompressedSize();
  if (position_ > uncompressed_size_) position_ = uncompressed_size_;
}

void TVEZCompressedBLOBStream::ZeroExtend(std::int64_t new_size) {
  position_ = uncompressed_size_;
  std::int64_t extension = new_size - uncompressed_size_;
  if (extension <= 0)
    throw EVEZException(
        10098, "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d",
        {new_size, uncompressed_size_, extension});
  const std::int32_t block_size = BlockSize();
  TMemBlock zeros(std::min<std::int64_t>(extension, block_size), true);
  while (extension > 0) {
    const auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(extension, block_size));
    const std::int64_t before = position_;
    const std::int32_t written = Write(zeros.get(), piece);
    if (written != piece)
      throw EVEZException(10097,
                          "Cannot write to stream. Position = %d, Stream size = %d, "
                          "Block size = %d, Bytes Write = %d",
                          {before, uncompressed_size_, piece, written});
    extension -= piece;
  }
  zeros.Free();
}

void TVEZCompressedBLOBStream::CutTo(std::int64_t new_size) {
  TVEZStream& s = *compressed_stream_;
  const std::int32_t block_size = BlockSize();
  const std::int64_t blocks = new_size / block_size;
  const auto rest = static_cast<std::int32_t>(new_size % block_size);
  const std::int64_t new_count = blocks + (rest > 0 ? 1 : 0);
  if (rest > 0) {
    // The shortened block goes to the stream before the list changes, so a
    // refused write leaves the list describing the blocks as they were.
    TVEZCompressedStreamBlockHeader h = headers_->Items(blocks);
    TVEZHeapBuffer packed;
    {
      const TVEZHeapBuffer block = ReadBlock(blocks);
      packed = CompressBlock(block.get(), rest, h);
    }
    const std::int64_t header_pos = headers_->Positions(blocks);
    s.SetSize(header_pos);
    if (s.Size() != header_pos)
      throw EVEZException(10093, "Invalid stream size = %d. Should be = %d",
                          {s.Size(), header_pos});
    CheckedStreamSeek(s, 10094, header_pos);
    h.OffsetToNextHeader = std::int64_t{h.CompressedSize} + kHeaderSize;
    std::uint8_t raw[kHeaderSize];
    h.Encode(raw);
    if (s.Write(raw, kHeaderSize) != kHeaderSize)
      throw EVEZException(10095, "Error writing to stream");
    if (s.Write(packed.get(), h.CompressedSize) != h.CompressedSize)
      throw EVEZException(10096, "Error writing to stream");
    headers_->Items(blocks) = h;
    headers_->Positions(blocks) = header_pos;
  }
  blob_descriptor_.NumBlocks = new_count;
  headers_->SetSize(new_count);
}

std::int64_t TVEZCompressedBLOBStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  // A raw window keeps its own position too: the owner may move the
  // underlying stream between calls.
  std::int64_t target = position_;
  switch (origin) {
    case soBeginning:
      target = offset;
      break;
    case soCurrent:
      target = CheckedAdd(position_, offset);
      break;
    case soEnd:
      target = CheckedAdd(uncompressed_size_, offset);
      break;
    default:
      break;
  }
  // Also for a raw BLOB: the window never reaches before its start.
  target = std::max<std::int64_t>(target, 0);
  if (Compressed()) {
    position_ = target;
  } else {
    compressed_stream_->SetPosition(CheckedAdd(start_position_, target));
    SyncRawPosition();
  }
  return position_;
}

double TVEZCompressedBLOBStream::CompressionRate() {
  UpdateCompressedSize();
  return compression_rate_;
}

void TVEZCompressedBLOBStream::UpdateCompressedSize() {
  if (Compressed() && uncompressed_size_ > 0) {
    std::int64_t sum = 0;
    for (std::int64_t i = 0; i < headers_->ItemCount(); ++i)
      sum = CheckedAdd<std::int64_t>(sum, headers_->Items(i).CompressedSize);
    compressed_size_ = sum;
    compression_rate_ =
        (1.0 - static_cast<double>(compressed_size_) / static_cast<double>(uncompressed_size_)) *
        100.0;
  } else {
    compressed_size_ = uncompressed_size_;
    compression_rate_ = 0;
  }
}

}  // namespace vez
