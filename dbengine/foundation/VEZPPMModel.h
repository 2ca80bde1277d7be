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
  // number of bytes decoded. Input past its end reads as 0xFF bytes. Raises
  // EPPMError when the data would decode to more than capacity bytes.
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
