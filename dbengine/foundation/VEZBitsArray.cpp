#include "dbengine/foundation/VEZBitsArray.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZStream.h"
#include "dbengine/foundation/VEZTypes.h"
#include "platform/core/Exceptions.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorLoadBitCount = 10401;     // the stored bit count
constexpr std::int32_t kErrorLoadBits = 10402;         // the stored bits
constexpr std::int32_t kErrorLoadSetBitCount = 10426;  // the stored count of set bits
constexpr std::int32_t kErrorSetBitPosition = 10428;   // a set-bit position past the set bits

}  // namespace

namespace {

constexpr const char* kInvalidBitNo = "Invalid bit no = %d, number of bits = %d";

// Whole 64-bit words, so rank and select never read a partial word.
std::int64_t BufferBytes(std::int32_t bits) {
  return (std::int64_t{bits} + 63) / 64 * 8;
}
std::int64_t StreamBytes(std::int32_t bits) {
  return (std::int64_t{bits} + 7) / 8;
}

std::uint64_t LoadWord(const std::uint8_t* p) {
  return GetLE<std::uint64_t>(p);
}
void StoreWord(std::uint8_t* p, std::uint64_t w) {
  PutLE<std::uint64_t>(p, w);
}

// Bits of a word below `bits` (0..64).
std::uint64_t LowMask(std::int32_t bits) {
  return bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << (bits < 0 ? 0 : bits)) - 1;
}

// The bit number of the set bit of rank k (0-based) in w. REQUIRES: k < popcount(w).
int SelectInWord(std::uint64_t w, int k) {
  for (int i = 0; i < k; ++i)
    w &= w - 1;
  return std::countr_zero(w);
}

}  // namespace

TVEZBitsArray::~TVEZBitsArray() {
  if (bits_ != nullptr) {
    try {
      MemoryManager().FreeAndNillMem(bits_);
    } catch (...) {
      // A damaged block is reported by the memory manager's own checks;
      // destructors never throw.
    }
  }
}

std::uint64_t TVEZBitsArray::Word(std::int32_t word_no) const {
  return LoadWord(bits_ + static_cast<std::size_t>(word_no) * 8);
}

void TVEZBitsArray::SetSize(std::int32_t n) {
  if (n < 0) throw platform::EIntOverflow();
  if (n == 0) {
    if (bits_ != nullptr) MemoryManager().FreeAndNillMem(bits_);
    bit_count_ = 0;
    non_zero_bit_count_ = 0;
    return;
  }
  const std::int64_t bytes = BufferBytes(n);
  if (bits_ == nullptr) {
    bits_ = static_cast<std::uint8_t*>(MemoryManager().AllocMem(bytes));
  } else {
    // The buffer keeps room beyond the bits, all zero: a bitmap filled bit
    // by bit as a scan goes would otherwise copy itself for every word.
    const std::int64_t held = MemoryManager().GetMemoryBufferSize(bits_);
    if (bytes > held) {
      MemoryManager().ReallocMemAndClearTail(bits_, std::max(bytes, held + held / 2));
    } else {
      const std::int64_t used = BufferBytes(bit_count_);
      if (used > bytes) std::memset(bits_ + bytes, 0, static_cast<std::size_t>(used - bytes));
    }
  }
  // What falls out of range is cleared so a later growth reads zeros.
  if (n < bit_count_) non_zero_bit_count_ = ClearBeyondAndCount(n);
  bit_count_ = n;
}

std::int32_t TVEZBitsArray::ClearBeyondAndCount(std::int32_t n) {
  const std::int32_t last_word = (n - 1) / 64;
  const std::int32_t rem = n % 64;
  if (rem != 0)
    StoreWord(bits_ + static_cast<std::size_t>(last_word) * 8, Word(last_word) & LowMask(rem));
  std::int32_t count = 0;
  for (std::int32_t w = 0; w <= last_word; ++w)
    count += std::popcount(Word(w));
  return count;
}

bool TVEZBitsArray::GetBit(std::int32_t bit_no) const {
  if (bit_no < 0 || bit_no >= bit_count_)
    throw EVEZException(10394, kInvalidBitNo, {bit_no, bit_count_});
  return GetBufferBit(bit_no, bits_);
}

void TVEZBitsArray::SetBit(std::int32_t bit_no, bool value) {
  if (bit_no < 0 || bit_no >= bit_count_)
    throw EVEZException(10395, kInvalidBitNo, {bit_no, bit_count_});
  if (GetBufferBit(bit_no, bits_) == value) return;
  SetBufferBit(value, bit_no, bits_);
  non_zero_bit_count_ += value ? 1 : -1;
}

void TVEZBitsArray::SetAllBits() {
  if (bit_count_ == 0) return;
  const std::int32_t words = (bit_count_ + 63) / 64;
  for (std::int32_t w = 0; w < words; ++w) {
    const std::int32_t left = bit_count_ - w * 64;
    StoreWord(bits_ + static_cast<std::size_t>(w) * 8, LowMask(left));
  }
  non_zero_bit_count_ = bit_count_;
}

std::int32_t TVEZBitsArray::GetBitNoByBitPosition(std::int32_t bit_position) const {
  if (bit_position < 0 || bit_position >= non_zero_bit_count_)
    throw EVEZException(kErrorSetBitPosition, kInvalidBitNo, {bit_position, non_zero_bit_count_});
  if (non_zero_bit_count_ == bit_count_) return bit_position;
  std::int32_t remaining = bit_position;
  const std::int32_t words = (bit_count_ + 63) / 64;
  for (std::int32_t w = 0; w < words; ++w) {
    const std::uint64_t word = Word(w);
    const int c = std::popcount(word);
    if (remaining < c) return w * 64 + SelectInWord(word, remaining);
    remaining -= c;
  }
  // Unreachable while NonZeroBitCount matches the bits.
  throw EVEZException(kErrorSetBitPosition, kInvalidBitNo, {bit_position, non_zero_bit_count_});
}

std::int32_t TVEZBitsArray::GetBitPositionByBitNo(std::int32_t bit_no) const {
  if (bit_no < 0 || bit_no >= bit_count_)
    throw EVEZException(10429, kInvalidBitNo, {bit_no, bit_count_});
  if (non_zero_bit_count_ == bit_count_) return bit_no;
  const std::int32_t last_word = bit_no / 64;
  std::int32_t count = 0;
  for (std::int32_t w = 0; w < last_word; ++w)
    count += std::popcount(Word(w));
  count += std::popcount(Word(last_word) & LowMask(bit_no % 64 + 1));
  return count - 1;
}

bool TVEZBitsArray::FindBit(bool value, std::int32_t& bit_no) const {
  const std::int32_t words = (bit_count_ + 63) / 64;
  for (std::int32_t w = 0; w < words; ++w) {
    std::uint64_t word = value ? Word(w) : ~Word(w);
    word &= LowMask(bit_count_ - w * 64);
    if (word != 0) {
      bit_no = w * 64 + std::countr_zero(word);
      return true;
    }
  }
  return false;
}

bool TVEZBitsArray::Find(bool restart, bool go_forward, std::int32_t cur_bit_no,
                         std::int32_t& found_bit_no) const {
  if (bit_count_ == 0) return false;
  if (go_forward) {
    std::int64_t from = restart ? 0 : std::int64_t{cur_bit_no} + 1;
    if (from < 0) from = 0;
    if (from >= bit_count_) return false;
    const auto start = static_cast<std::int32_t>(from);
    const std::int32_t words = (bit_count_ + 63) / 64;
    for (std::int32_t w = start / 64; w < words; ++w) {
      std::uint64_t word = Word(w);
      if (w == start / 64) word &= ~LowMask(start % 64);  // LowMask(0) is 0
      if (word != 0) {
        found_bit_no = w * 64 + std::countr_zero(word);
        return true;
      }
    }
    return false;
  }
  std::int64_t from = restart ? std::int64_t{bit_count_} - 1 : std::int64_t{cur_bit_no} - 1;
  if (from >= bit_count_) from = bit_count_ - 1;
  if (from < 0) return false;
  const auto start = static_cast<std::int32_t>(from);
  for (std::int32_t w = start / 64; w >= 0; --w) {
    std::uint64_t word = Word(w);
    if (w == start / 64) word &= LowMask(start % 64 + 1);
    if (word != 0) {
      found_bit_no = w * 64 + 63 - std::countl_zero(word);
      return true;
    }
  }
  return false;
}

void TVEZBitsArray::LoadFromStream(TVEZStream& stream) {
  std::uint8_t head[8];
  CheckedStreamRead(head, 4, stream, kErrorLoadBitCount);
  const auto bit_count = GetLE<std::int32_t>(head);
  if (bit_count < 0)
    throw EVEZException(kErrorLoadBitCount, "Invalid number of bits = %d", {bit_count});
  CheckedStreamRead(head + 4, 4, stream, kErrorLoadSetBitCount);
  const auto non_zero = GetLE<std::int32_t>(head + 4);
  if (non_zero < 0 || non_zero > bit_count)
    throw EVEZException(kErrorLoadSetBitCount, kInvalidBitNo, {non_zero, bit_count});
  // A damaged count must not make us allocate what the stream cannot hold.
  if (bit_count > 0 && stream.Size() - stream.Position() < StreamBytes(bit_count))
    throw EVEZException(kErrorLoadBits, "Invalid number of bits = %d", {bit_count});
  // Read into a fresh array first, so a failure leaves this one as it was.
  TVEZBitsArray loaded;
  loaded.SetSize(bit_count);
  if (bit_count > 0) {
    CheckedStreamRead(loaded.bits_, static_cast<std::int32_t>(StreamBytes(bit_count)), stream,
                      kErrorLoadBits);
    // Bits past the count in the last byte are not ours.
    const std::int32_t count = loaded.ClearBeyondAndCount(bit_count);
    if (count != non_zero)
      throw EVEZException(kErrorLoadSetBitCount, "Invalid number of set bits = %d, bits set = %d",
                          {non_zero, count});
  }
  loaded.non_zero_bit_count_ = non_zero;
  std::swap(bits_, loaded.bits_);
  std::swap(bit_count_, loaded.bit_count_);
  std::swap(non_zero_bit_count_, loaded.non_zero_bit_count_);
}

void TVEZBitsArray::SaveToStream(TVEZStream& stream) const {
  std::uint8_t head[8];
  PutLE<std::int32_t>(head, bit_count_);
  PutLE<std::int32_t>(head + 4, non_zero_bit_count_);
  CheckedStreamWrite(head, 4, stream, 10398);
  CheckedStreamWrite(head + 4, 4, stream, 10427);
  if (bit_count_ > 0) {
    if (bits_ == nullptr) throw EVEZException(10399, "Nil pointer occured");
    CheckedStreamWrite(bits_, static_cast<std::int32_t>(StreamBytes(bit_count_)), stream, 10400);
  }
}

}  // namespace vez
