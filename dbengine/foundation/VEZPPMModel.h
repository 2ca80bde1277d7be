// The statistical model behind the PPM compressor: a context tree of orders up
// to 16 with binary-context and secondary-escape estimation and inherited
// frequencies for new symbols, living in one memory block with its own
// sub-allocator and restarted from scratch whenever that block runs out, plus
// the carry-less range coder that turns its intervals into bytes.
//
// Encoder and decoder run the very same model, so stored data reads back only
// while both take every step identically: any change here alters the stored
// format (frozen outputs in the tests guard it).
//
// Objects inside the block are addressed by 32-bit offsets from its start
// (offset 0 is a real position; kNil means none). Every offset is checked
// against the block before use, so a model that went astray fails with
// EPPMError instead of touching memory outside its block.
//
// Thread safety: none; one instance serves one call at a time (the compressor
// holds its lock around it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dbengine/foundation/VEZCompression.h"
#include "platform/core/Exceptions.h"

namespace vez {

// A PPM failure: damaged compressed data, an unusable head, or a model that
// cannot go on. The dispatcher answers False for it.
class EPPMError : public platform::Exception {
  using Exception::Exception;
};

// Bytes written by the encoder: a heap block grown on demand, so that
// incompressible input never writes past it.
class TPPMOutput {
 public:
  // A zero-filled block of capacity bytes (at least 1).
  explicit TPPMOutput(std::int32_t capacity);
  void Put(std::uint8_t b) {
    if (pos_ == capacity_) Grow();
    block_.get()[pos_++] = b;
  }
  std::int32_t Position() const { return pos_; }
  void SetPosition(std::int32_t pos) { pos_ = pos; }
  std::uint8_t* Data() { return block_.get(); }
  // Shrinks the block to the bytes written and hands it over.
  TVEZHeapBuffer Release();

 private:
  void Grow();
  TVEZHeapBuffer block_;
  std::int32_t capacity_;
  std::int32_t pos_ = 0;
};

// The carry-less range coder, encoding side. Binary contexts code out of
// 1 << 14; other contexts divide the range by the context's total.
class TPPMRangeEncoder {
 public:
  explicit TPPMRangeEncoder(TPPMOutput& out) : out_(&out) {}
  void Encode(std::uint32_t cum, std::uint32_t size, std::uint32_t total) {
    if (total == 0 || size == 0) Fault();
    range_ /= total;
    if (range_ == 0) Fault();
    low_ += cum * range_;
    range_ *= size;
  }
  void EncodeBinary(std::uint32_t cum, std::uint32_t size) {
    if (size == 0) Fault();
    range_ >>= kBinScale;
    low_ += cum * range_;
    range_ *= size;
  }
  // Shifts out top bytes while they are settled, or while the range is too
  // small to go on (the range is then cut to what is left below the next
  // 2^15 boundary, which settles the top byte without a carry).
  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kTop) {
        if (range_ >= kBot) break;
        range_ = (0u - low_) & (kBot - 1);
      }
      out_->Put(static_cast<std::uint8_t>(low_ >> 24));
      low_ <<= 8;
      range_ <<= 8;
    }
  }
  void Flush() {
    for (int i = 0; i < 4; ++i) {
      out_->Put(static_cast<std::uint8_t>(low_ >> 24));
      low_ <<= 8;
    }
  }
  std::uint32_t Low() const { return low_; }
  std::uint32_t Range() const { return range_; }
  // For tests of the normalisation.
  void SetRegisters(std::uint32_t low, std::uint32_t range) {
    low_ = low;
    range_ = range;
  }

  static constexpr std::uint32_t kTop = 1u << 24;
  static constexpr std::uint32_t kBot = 1u << 15;
  static constexpr int kBinScale = 14;

 private:
  [[noreturn]] static void Fault();
  std::uint32_t low_ = 0;
  std::uint32_t range_ = 0xFFFFFFFFu;
  TPPMOutput* out_;
};

// The decoding side: the encoder's low and range plus the code read so far.
// Reading past the end of the input gives all bits set, which fills the
// whole code register (not just its low byte).
class TPPMRangeDecoder {
 public:
  TPPMRangeDecoder(const std::uint8_t* in, std::size_t size) : in_(in), size_(size) {
    for (int i = 0; i < 4; ++i)
      code_ = (code_ << 8) | Next();
  }
  std::uint32_t Count(std::uint32_t total) {
    if (total == 0) Fault();
    range_ /= total;
    if (range_ == 0) Fault();
    return (code_ - low_) / range_;
  }
  std::uint32_t CountBinary() {
    range_ >>= TPPMRangeEncoder::kBinScale;
    return (code_ - low_) / range_;
  }
  void Decode(std::uint32_t cum, std::uint32_t size) {
    if (size == 0) Fault();
    low_ += cum * range_;
    range_ *= size;
  }
  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= TPPMRangeEncoder::kTop) {
        if (range_ >= TPPMRangeEncoder::kBot) break;
        range_ = (0u - low_) & (TPPMRangeEncoder::kBot - 1);
      }
      code_ = (code_ << 8) | Next();
      low_ <<= 8;
      range_ <<= 8;
    }
  }
  std::uint32_t Code() const { return code_; }

 private:
  [[noreturn]] static void Fault();
  std::uint32_t Next() { return pos_ < size_ ? in_[pos_++] : 0xFFFFFFFFu; }
  const std::uint8_t* in_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::uint32_t low_ = 0;
  std::uint32_t range_ = 0xFFFFFFFFu;
  std::uint32_t code_ = 0;
};

// The model's sub-allocator over one block (not owned): units of 12 bytes in
// 38 size classes, handed out from the low mark up (and contexts from the
// high mark down), with a reserve of 128 blocks of 128 units at the start of
// the block that is cut up once the marks meet. Blocks are addressed by
// offsets from the block start; kNil is none. Freed blocks go to the list of
// their class and are never merged.
class TPPMSubAllocator {
 public:
  using Ref = std::uint32_t;
  static constexpr Ref kNil = 0xFFFFFFFFu;
  static constexpr std::uint32_t kUnitSize = 12;
  static constexpr std::uint32_t kReserveBytes = 0x30000;
  static constexpr int kNumClasses = 38;

  // Works over block from now on and resets (size at least the reserve plus
  // one unit).
  void Attach(std::uint8_t* block, std::uint32_t size);
  void Detach();
  // Empty free lists, marks at their start, the reserve whole again. The
  // block's bytes are left as they are.
  void Reset();

  // A block of the class that holds n units (1 to 128); kNil when memory ran
  // out.
  Ref AllocUnits(int n);
  // One unit, from the high mark while the marks have not met.
  Ref AllocContext();
  // Gives back a block of n units to the list of its class.
  void FreeUnits(Ref s, int n);
  // A block of a units grown to a + 1 (moved when the class changes); kNil
  // when memory ran out (the old block then stays).
  Ref Grow(Ref s, int a);
  // A block of a units shrunk to b units (moved to a free block of b's class
  // when there is one, else cut in place).
  Ref Shrink(Ref s, int a, int b);

  // The units of the smallest class that holds n units (1 to 128).
  static int ClassUnits(int n);
  Ref LowMark() const { return lo_; }
  Ref HighMark() const { return hi_; }

  // The n bytes at offset a, checked against the block.
  std::uint8_t* At(Ref a, std::uint32_t n) const {
    if (std::uint64_t{a} + n > size_) Fault();
    return m_ + a;
  }

 private:
  [[noreturn]] static void Fault();
  void Push(int k, Ref block);
  Ref Pop(int k);
  void FreeRest(Ref at, int n);
  Ref AllocClass(int k);

  std::uint8_t* m_ = nullptr;
  std::uint32_t size_ = 0;
  Ref lo_ = 0;
  Ref hi_ = 0;
  bool reserve_cut_ = false;
  Ref free_list_[kNumClasses] = {};
};

class TPPMModel {
 public:
  static constexpr int kMaxOrderLimit = 16;

  TPPMModel();
  ~TPPMModel();
  TPPMModel(const TPPMModel&) = delete;
  TPPMModel& operator=(const TPPMModel&) = delete;

  // Codes in_size bytes and then the end symbol, appending the coder's bytes
  // (flush included) to out. max_order 1 to 16; memory_bytes at least 1 MiB.
  void Encode(const std::uint8_t* in, std::size_t in_size, int max_order,
              std::uint32_t memory_bytes, TPPMOutput& out);

  // Decodes the coder bytes into out until the end symbol and returns the
  // number of bytes decoded. Reading past the input sets every bit of the
  // code. Raises EPPMError when the data would decode to more than capacity
  // bytes.
  std::size_t Decode(const std::uint8_t* in, std::size_t in_size, int max_order,
                     std::uint32_t memory_bytes, std::uint8_t* out, std::size_t capacity);

  // How often the last Encode or Decode started the model anew because its
  // memory ran out.
  int Restarts() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace vez
