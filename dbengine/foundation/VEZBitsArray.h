// TVEZBitsArray: an array of bits in one memory-manager block (record
// bitmaps, page lists), with rank and select: the visible record number of a
// set bit and back. Bit n is bit (n mod 8) of byte (n div 8), lowest first.
//
// Invariants: NonZeroBitCount() is the number of set bits below Size(); no
// bit at Size() or above is ever set in the buffer, so growing always brings
// in clear bits. Rank and select scan 64-bit words with popcount and answer
// at once when every bit is set.
//
// Stream form (little-endian): Int32 BitCount | Int32 NonZeroBitCount |
// ceil(BitCount / 8) bytes of bits, only when BitCount > 0.
//
// Thread safety: none; the owner's lock covers it.
#pragma once

#include <cstdint>

namespace vez {

class TVEZStream;

class TVEZBitsArray {
 public:
  TVEZBitsArray() = default;
  ~TVEZBitsArray();
  TVEZBitsArray(const TVEZBitsArray&) = delete;
  TVEZBitsArray& operator=(const TVEZBitsArray&) = delete;

  std::int32_t Size() const { return bit_count_; }
  // Resizes; bits brought into range read 0. A negative size raises
  // EIntOverflow.
  void SetSize(std::int32_t n);
  std::int32_t NonZeroBitCount() const { return non_zero_bit_count_; }

  // Raise 10394 (GetBit) / 10395 (SetBit) "Invalid bit no = %d, number of
  // bits = %d" for a bit number outside 0..Size()-1.
  bool GetBit(std::int32_t bit_no) const;
  void SetBit(std::int32_t bit_no, bool value);
  void SetAllBits();

  // Select: the bit number of the set bit of 0-based rank bit_position.
  // Raises 10428 when bit_position is negative or >= NonZeroBitCount().
  std::int32_t GetBitNoByBitPosition(std::int32_t bit_position) const;
  // Rank: the number of set bits at 0..bit_no, minus 1 (for a clear bit: the
  // rank of the nearest set bit before it, -1 when none). Raises 10429 when
  // bit_no is negative or >= Size().
  std::int32_t GetBitPositionByBitNo(std::int32_t bit_no) const;

  // The lowest bit whose value equals value; false when none.
  bool FindBit(bool value, std::int32_t& bit_no) const;
  // The nearest set bit after (go_forward) or before cur_bit_no; with restart
  // the search starts at bit 0 (forward) or Size()-1 (backward), that bit
  // included. False when none.
  bool Find(bool restart, bool go_forward, std::int32_t cur_bit_no,
            std::int32_t& found_bit_no) const;

  // Reads the stream form. Short reads raise 10401 / 10426 / 10402 (count,
  // set-bit count, bits); a negative count raises 10401, a count of more bits
  // than the stream still holds 10402 (before anything is allocated), a
  // set-bit count that does not match the bits read 10426. On failure the
  // array keeps its previous content.
  void LoadFromStream(TVEZStream& stream);
  // Writes the stream form; short writes raise 10398 / 10427 / 10400.
  void SaveToStream(TVEZStream& stream) const;

  // The raw bytes (ceil(Size()/8) meaningful), null when Size() is 0.
  const std::uint8_t* Bits() const { return bits_; }

 private:
  std::uint64_t Word(std::int32_t word_no) const;
  // Clears the bits from n on in the last word in use and answers the number
  // of set bits below n. REQUIRES: 0 < n, buffer of at least n bits.
  std::int32_t ClearBeyondAndCount(std::int32_t n);

  std::uint8_t* bits_ = nullptr;  // memory-manager block, whole 64-bit words
  std::int32_t bit_count_ = 0;
  std::int32_t non_zero_bit_count_ = 0;
};

}  // namespace vez
