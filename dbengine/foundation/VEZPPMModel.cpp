#include "dbengine/foundation/VEZPPMModel.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

namespace vez {

namespace {

using Ref = TPPMSubAllocator::Ref;
constexpr Ref kNil = TPPMSubAllocator::kNil;

constexpr std::uint32_t kUnitSize = TPPMSubAllocator::kUnitSize;
constexpr int kNumClasses = TPPMSubAllocator::kNumClasses;
constexpr int kStateSize = 6;
constexpr int kMaxFreq = 124;
constexpr int kBinScale = TPPMRangeEncoder::kBinScale;
constexpr int kEndSymbol = 256;

struct TTables {
  std::array<std::uint8_t, kNumClasses> units{};  // class -> units
  std::array<std::uint8_t, 129> unit_class{};     // units -> class
  std::array<std::uint8_t, 257> bin_column{};     // symbol count -> column
  std::array<std::uint8_t, 256> esc_class{};      // n -> escape class

  TTables() {
    int k = 0;
    for (int u : {1, 2, 3, 4, 6, 8, 10, 12, 15, 18, 21, 24})
      units[k++] = static_cast<std::uint8_t>(u);
    for (int u = 28; u <= 128; u += 4)
      units[k++] = static_cast<std::uint8_t>(u);
    for (int n = 1, c = 0; n <= 128; ++n) {
      if (units[c] < n) ++c;
      unit_class[n] = static_cast<std::uint8_t>(c);
    }
    for (int n = 0; n <= 256; ++n) {
      int col;
      if (n <= 1)
        col = 0;
      else if (n <= 6)
        col = 2 * (n - 1);
      else if (n <= 50)
        col = 12;
      else
        col = 14;
      bin_column[n] = static_cast<std::uint8_t>(col);
    }
    for (int n = 0; n < 256; ++n) {
      int c;
      if (n <= 3)
        c = n;
      else if (n <= 11)
        c = 4 + (n - 4) / 2;
      else if (n <= 43)
        c = 8 + (n - 12) / 4;
      else
        c = 16 + (n - 44) / 8;
      esc_class[n] = static_cast<std::uint8_t>(c);
    }
  }
};

const TTables& Tables() {
  static const TTables t;
  return t;
}

constexpr std::uint16_t kBinStart[16] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x5FFB, 0x5545,
                                         0x63D1, 0x5D9D, 0x64A1, 0x5ABC, 0x6632, 0x6051,
                                         0x68F6, 0x549B, 0x6BCA, 0x3AB0};
constexpr std::uint8_t kEscStart[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

[[noreturn]] void Fault() {
  throw EPPMError("PPM model error");
}

struct TSee {
  std::uint16_t sum;
  std::uint8_t shift;
  std::uint8_t count;
};

// A state copied out of the block.
struct TStateValue {
  std::uint8_t symbol;
  std::uint8_t freq;
  Ref successor;
};

}  // namespace

TPPMOutput::TPPMOutput(std::int32_t capacity) : capacity_(std::max<std::int32_t>(capacity, 1)) {
  block_.reset(CompressionHeapAlloc(static_cast<std::size_t>(capacity_)));
  std::memset(block_.get(), 0, static_cast<std::size_t>(capacity_));
}

void TPPMOutput::Grow() {
  if (capacity_ == std::numeric_limits<std::int32_t>::max())
    throw EPPMError("PPM Compression error");
  const std::int32_t grown = static_cast<std::int32_t>(std::min<std::int64_t>(
      std::numeric_limits<std::int32_t>::max(), std::int64_t{capacity_} + capacity_ / 2 + 256));
  std::uint8_t* p = CompressionHeapRealloc(block_.get(), static_cast<std::size_t>(grown));
  (void)block_.release();
  block_.reset(p);
  std::memset(p + capacity_, 0, static_cast<std::size_t>(grown - capacity_));
  capacity_ = grown;
}

TVEZHeapBuffer TPPMOutput::Release() {
  std::uint8_t* p = CompressionHeapRealloc(block_.get(), static_cast<std::size_t>(pos_));
  (void)block_.release();
  return TVEZHeapBuffer(p);
}

void TPPMRangeEncoder::Fault() {
  vez::Fault();
}

void TPPMRangeDecoder::Fault() {
  vez::Fault();
}

void TPPMSubAllocator::Fault() {
  vez::Fault();
}

int TPPMSubAllocator::ClassUnits(int n) {
  if (n < 1 || n > 128) Fault();
  const TTables& t = Tables();
  return t.units[t.unit_class[n]];
}

void TPPMSubAllocator::Attach(std::uint8_t* block, std::uint32_t size) {
  if (block == nullptr || size < kReserveBytes + kUnitSize) Fault();
  m_ = block;
  size_ = size;
  Reset();
}

void TPPMSubAllocator::Detach() {
  m_ = nullptr;
  size_ = 0;
  lo_ = hi_ = 0;
}

void TPPMSubAllocator::Reset() {
  for (Ref& r : free_list_)
    r = kNil;
  lo_ = kReserveBytes;
  hi_ = size_ / kUnitSize * kUnitSize;
  reserve_cut_ = false;
}

void TPPMSubAllocator::Push(int k, Ref block) {
  std::memcpy(At(block, 4), &free_list_[k], 4);
  free_list_[k] = block;
}

TPPMSubAllocator::Ref TPPMSubAllocator::Pop(int k) {
  const Ref r = free_list_[k];
  std::memcpy(&free_list_[k], At(r, 4), 4);
  return r;
}

// Frees n units at `at`: one block when n is a class size, else one block of
// the next smaller class and the rest (1 to 3 units, always a class size).
void TPPMSubAllocator::FreeRest(Ref at, int n) {
  if (n <= 0) return;
  const TTables& t = Tables();
  const int j = t.unit_class[n];
  if (t.units[j] == n) {
    Push(j, at);
    return;
  }
  Push(j - 1, at);
  const int rest = n - t.units[j - 1];
  Push(t.unit_class[rest], at + t.units[j - 1] * kUnitSize);
}

TPPMSubAllocator::Ref TPPMSubAllocator::AllocClass(int k) {
  const TTables& t = Tables();
  if (free_list_[k] != kNil) return Pop(k);
  const std::uint32_t bytes = t.units[k] * kUnitSize;
  if (hi_ - lo_ >= bytes) {
    const Ref r = lo_;
    lo_ += bytes;
    return r;
  }
  if (!reserve_cut_) {
    reserve_cut_ = true;
    for (int i = 127; i >= 0; --i)
      Push(kNumClasses - 1, static_cast<Ref>(i) * 128 * kUnitSize);
  }
  // Only a larger class is split, so a request of the largest class finds
  // nothing here, the cut reserve included.
  for (int i = k + 1; i < kNumClasses; ++i) {
    if (free_list_[i] == kNil) continue;
    const Ref r = Pop(i);
    FreeRest(r + t.units[k] * kUnitSize, t.units[i] - t.units[k]);
    return r;
  }
  return kNil;
}

TPPMSubAllocator::Ref TPPMSubAllocator::AllocUnits(int n) {
  if (n < 1 || n > 128) Fault();
  return AllocClass(Tables().unit_class[n]);
}

TPPMSubAllocator::Ref TPPMSubAllocator::AllocContext() {
  if (hi_ > lo_) {
    hi_ -= kUnitSize;
    return hi_;
  }
  return AllocUnits(1);
}

void TPPMSubAllocator::FreeUnits(Ref s, int n) {
  if (n < 1 || n > 128) Fault();
  Push(Tables().unit_class[n], s);
}

TPPMSubAllocator::Ref TPPMSubAllocator::Grow(Ref s, int a) {
  if (a < 1 || a + 1 > 128) return kNil;
  const TTables& t = Tables();
  if (t.unit_class[a] == t.unit_class[a + 1]) return s;
  const Ref n = AllocUnits(a + 1);
  if (n == kNil) return kNil;
  std::memmove(At(n, a * kUnitSize), At(s, a * kUnitSize), a * kUnitSize);
  FreeUnits(s, a);
  return n;
}

TPPMSubAllocator::Ref TPPMSubAllocator::Shrink(Ref s, int a, int b) {
  if (a < 1 || a > 128 || b < 1 || b > a) Fault();
  const TTables& t = Tables();
  const int ka = t.unit_class[a], kb = t.unit_class[b];
  if (ka == kb) return s;
  if (free_list_[kb] != kNil) {
    const Ref n = Pop(kb);
    std::memmove(At(n, b * kUnitSize), At(s, b * kUnitSize), b * kUnitSize);
    Push(ka, s);
    return n;
  }
  // Cut in place: the kept part is a whole block of b's class, so freeing it
  // later by that class never overlaps the freed rest.
  FreeRest(s + t.units[kb] * kUnitSize, t.units[ka] - t.units[kb]);
  return s;
}

// All model state of one run. The block is taken zero-filled at the start of
// every run and given back at its end, so nothing of an earlier run (also one
// that ended by an exception) reaches the next.
struct TPPMModel::TImpl {
  const TTables& t = Tables();

  // The block and its sub-allocator.
  TVEZHeapBuffer block;
  TPPMSubAllocator alloc;

  // Model variables.
  Ref min_ctx = kNil;  // coding context
  Ref max_ctx = kNil;  // top context
  Ref found = kNil;
  Ref cur_raw = kNil;
  int order_fall = 0;
  int num_masked = 0;
  std::uint8_t esc_count = 0;
  int prev_success = 0;
  int init_esc = 0;
  int max_order = 0;
  int restarts = 0;
  std::array<std::uint8_t, 256> mask{};
  std::uint16_t bin[128][16]{};
  TSee see[43][8]{};
  TSee see0{};

  // --- block access (every offset checked) ---------------------------------
  std::uint8_t* At(Ref a, std::uint32_t n) const { return alloc.At(a, n); }
  std::uint8_t Byte(Ref a) const { return *At(a, 1); }
  void SetByte(Ref a, int v) { *At(a, 1) = static_cast<std::uint8_t>(v); }
  std::uint16_t U16(Ref a) const {
    std::uint16_t v;
    std::memcpy(&v, At(a, 2), 2);
    return v;
  }
  void SetU16(Ref a, int v) {
    const auto w = static_cast<std::uint16_t>(v);
    std::memcpy(At(a, 2), &w, 2);
  }
  Ref U32(Ref a) const {
    Ref v;
    std::memcpy(&v, At(a, 4), 4);
    return v;
  }
  void SetU32(Ref a, Ref v) { std::memcpy(At(a, 4), &v, 4); }

  // Context fields.
  int Count(Ref c) const { return U16(c); }
  void SetCount(Ref c, int n) { SetU16(c, n); }
  int Total(Ref c) const { return U16(c + 2); }
  void SetTotal(Ref c, int v) { SetU16(c + 2, v); }
  Ref Stats(Ref c) const { return U32(c + 4); }
  void SetStats(Ref c, Ref s) { SetU32(c + 4, s); }
  Ref Parent(Ref c) const { return U32(c + 8); }
  void SetParent(Ref c, Ref p) { SetU32(c + 8, p); }
  static Ref OneState(Ref c) { return c + 2; }
  bool IsContext(Ref c) const { return c != kNil && Count(c) != 0; }
  bool IsRaw(Ref c) const { return c != kNil && Count(c) == 0; }

  // State fields.
  int Sym(Ref s) const { return Byte(s); }
  int Freq(Ref s) const { return Byte(s + 1); }
  void SetFreq(Ref s, int f) { SetByte(s + 1, f); }
  Ref Succ(Ref s) const { return U32(s + 2); }
  void SetSucc(Ref s, Ref v) { SetU32(s + 2, v); }
  TStateValue Read(Ref s) const { return {Byte(s), Byte(s + 1), U32(s + 2)}; }
  void Write(Ref s, const TStateValue& v) {
    SetByte(s, v.symbol);
    SetByte(s + 1, v.freq);
    SetU32(s + 2, v.successor);
  }
  void Copy(Ref from, Ref to) { Write(to, Read(from)); }

  // --- sub-allocator ---------------------------------------------------------
  Ref AllocUnits(int n) { return alloc.AllocUnits(n); }
  Ref AllocContext() { return alloc.AllocContext(); }
  void FreeUnits(Ref s, int n) { alloc.FreeUnits(s, n); }
  Ref Grow(Ref s, int a) { return alloc.Grow(s, a); }
  Ref Shrink(Ref s, int a, int b) { return alloc.Shrink(s, a, b); }
  Ref NewRaw() {
    const Ref r = AllocUnits(1);
    if (r == kNil) return kNil;
    SetCount(r, 0);
    Write(OneState(r), {0, 0, kNil});
    SetParent(r, kNil);
    return r;
  }

  // --- starting and restarting ---------------------------------------------
  void StartModel() {
    alloc.Reset();

    const Ref c0 = AllocContext();
    const Ref st = AllocUnits(128);
    if (c0 == kNil || st == kNil) Fault();
    SetCount(c0, 256);
    SetTotal(c0, 257);
    SetStats(c0, st);
    SetParent(c0, kNil);
    for (int i = 0; i < 256; ++i)
      Write(st + i * kStateSize, {static_cast<std::uint8_t>(i), 1, kNil});
    prev_success = 0;
    order_fall = 1;

    Ref ctx = c0;
    Ref state = st;  // the state of symbol 0 one order lower
    for (int order = 1; order < max_order; ++order) {
      const Ref c = AllocContext();
      if (c == kNil) Fault();
      SetCount(c, 1);
      SetParent(c, ctx);
      Write(OneState(c), {0, 1, kNil});
      SetSucc(state, c);
      ctx = c;
      state = OneState(c);
    }
    const Ref raw = AllocContext();
    if (raw == kNil) Fault();
    SetCount(raw, 0);
    Write(OneState(raw), {0, 0, kNil});
    SetParent(raw, kNil);
    SetSucc(state, raw);
    cur_raw = raw;
    min_ctx = max_ctx = ctx;
    found = kNil;

    for (int i = 0; i < 128; ++i)
      for (int k = 0; k < 16; ++k)
        bin[i][k] = static_cast<std::uint16_t>(0x4000 - kBinStart[k] / (i + 2));
    for (int k = 0; k < 43; ++k)
      for (int j = 0; j < 8; ++j)
        see[k][j] = {static_cast<std::uint16_t>((4 * k + 10) << 3), 3, 3};
    see0 = {0, 7, 3};
    mask.fill(0);
    esc_count = 1;
    num_masked = 0;
    init_esc = 0;
  }

  void Restart() {
    StartModel();
    esc_count = 0;
    ++restarts;
  }

  void Begin(int order, std::uint32_t memory_bytes) {
    if (order < 1 || order > kMaxOrderLimit || memory_bytes < (1u << 20)) Fault();
    max_order = order;
    restarts = 0;
    alloc.Detach();
    block.reset();
    if (CompressionHeapFailing()) throw std::bad_alloc();
    void* p = std::calloc(memory_bytes, 1);
    if (!p) throw std::bad_alloc();
    block.reset(static_cast<std::uint8_t*>(p));
    alloc.Attach(block.get(), memory_bytes);
    StartModel();
  }

  void End() {
    alloc.Detach();
    block.reset();
  }

  // --- coding helpers shared by encoder and decoder -----------------------
  std::uint16_t& BinProb(Ref ctx, Ref s) {
    const Ref parent = Parent(ctx);
    const int parent_count = parent == kNil ? 0 : std::min(Count(parent), 256);
    const int row = std::clamp(Freq(s) - 1, 0, 127);
    return bin[row][prev_success + t.bin_column[parent_count]];
  }
  void BinaryFound(Ref s, std::uint16_t& p) {
    found = s;
    if (Freq(s) < 128) SetFreq(s, Freq(s) + 1);
    p = static_cast<std::uint16_t>(p + 128 - ((p + 32) >> 7));
    prev_success = 1;
  }
  void BinaryEscape(Ref s, std::uint16_t& p) {
    p = static_cast<std::uint16_t>(p - ((p + 32) >> 7));
    init_esc = kEscStart[p >> 10];
    num_masked = 1;
    mask[Sym(s)] = esc_count;
    prev_success = 0;
    found = kNil;
  }
  void FirstFound(Ref ctx, Ref s) {
    prev_success = 2 * Freq(s) > Total(ctx) ? 1 : 0;
    SetFreq(s, Freq(s) + 4);
    SetTotal(ctx, Total(ctx) + 4);
    found = s;
    if (Freq(s) > kMaxFreq) Rescale(ctx);
  }
  void LaterFound(Ref ctx, Ref s) {
    prev_success = 0;
    SetFreq(s, Freq(s) + 4);
    SetTotal(ctx, Total(ctx) + 4);
    found = s;
    if (Freq(s) > Freq(s - kStateSize)) {
      const TStateValue a = Read(s);
      Copy(s - kStateSize, s);
      Write(s - kStateSize, a);
      found = s - kStateSize;
    }
    if (Freq(found) > kMaxFreq) Rescale(ctx);
  }
  void MaskAll(Ref ctx) {
    const Ref st = Stats(ctx);
    const int n = Count(ctx);
    for (int i = 0; i < n; ++i)
      mask[Sym(st + i * kStateSize)] = esc_count;
    num_masked = n;
    found = kNil;
  }
  // Moves to the first lower context that holds an unmasked symbol; false
  // when there is none (the end symbol was coded).
  bool NextContext() {
    int steps = 0;
    do {
      min_ctx = Parent(min_ctx);
      ++order_fall;
      if (++steps > 2 * kMaxOrderLimit + 2) Fault();
    } while (min_ctx != kNil && Count(min_ctx) <= num_masked);
    return min_ctx != kNil;
  }
  // The escape estimator and escape frequency of a context entered after an
  // escape.
  TSee* MakeEscape(int& esc) {
    const Ref ctx = min_ctx;
    const int n = Count(ctx);
    if (n == 256) {
      esc = 1;
      return &see0;
    }
    const int d = std::clamp(n - num_masked, 1, 255);
    const Ref parent = Parent(ctx);
    const int parent_count = parent == kNil ? 0 : Count(parent);
    const int column = (d < parent_count - n ? 1 : 0) + 2 * (Total(ctx) < 11 * n ? 1 : 0) +
                       4 * (num_masked > d ? 1 : 0);
    TSee* s = &see[t.esc_class[d - 1]][column];
    const int r = s->sum >> s->shift;
    s->sum = static_cast<std::uint16_t>(s->sum - r);
    esc = r & 0x3FF;
    if (esc == 0) esc = 1;
    return s;
  }
  void MaskedFound(Ref ctx, Ref s, TSee* see_entry) {
    if (see_entry->shift < 7 && --see_entry->count == 0) {
      see_entry->sum = static_cast<std::uint16_t>(see_entry->sum * 2);
      see_entry->count = static_cast<std::uint8_t>(3 << see_entry->shift);
      ++see_entry->shift;
    }
    SetFreq(s, Freq(s) + 4);
    SetTotal(ctx, Total(ctx) + 4);
    found = s;
    if (Freq(s) > kMaxFreq) Rescale(ctx);
    ++esc_count;
  }
  void MaskedEscape(Ref ctx, TSee* see_entry, int whole) {
    see_entry->sum = static_cast<std::uint16_t>(see_entry->sum + whole);
    MaskAll(ctx);
  }
  // After a symbol was found: climb to its successor or update the model.
  void AfterFound() {
    const Ref succ = Succ(found);
    if (order_fall == 0 && IsContext(succ)) {
      min_ctx = max_ctx = succ;
    } else {
      UpdateModel();
      if (esc_count == 0) {
        mask.fill(0);
        esc_count = 1;
      }
    }
  }

  // --- rescaling --------------------------------------------------------------
  void Rescale(Ref ctx) {
    const int old_n = Count(ctx);
    const Ref st = Stats(ctx);
    // The found state to the front.
    const TStateValue f = Read(found);
    for (Ref p = found; p != st; p -= kStateSize)
      Copy(p - kStateSize, p);
    Write(st, f);
    SetFreq(st, Freq(st) + 4);
    int total = Total(ctx) + 4;
    // The order-0 context must keep every symbol, or a later byte could not
    // be coded at all: its frequencies never halve to 0.
    const int adder = (order_fall != 0 || Parent(ctx) == kNil) ? 1 : 0;
    int esc = total - Freq(st);
    int sum = (Freq(st) + adder) >> 1;
    SetFreq(st, sum);
    for (int i = 1; i < old_n; ++i) {
      const Ref s = st + i * kStateSize;
      const int old = Freq(s);
      esc -= old;
      const int nf = (old + adder) >> 1;
      SetFreq(s, nf);
      sum += nf;
      if (nf > Freq(s - kStateSize)) {
        const TStateValue v = Read(s);
        Ref p = s;
        do {
          Copy(p - kStateSize, p);
          p -= kStateSize;
        } while (p != st && nf > Freq(p - kStateSize));
        Write(p, v);
      }
    }
    total = sum;
    int n = old_n;
    if (Freq(st + (n - 1) * kStateSize) == 0) {
      int dropped = 0;
      while (n > 1 && Freq(st + (n - 1) * kStateSize) == 0) {
        --n;
        ++dropped;
      }
      esc += dropped;
      SetCount(ctx, n);
      if (n == 1) {
        TStateValue v = Read(st);
        do {
          v.freq = static_cast<std::uint8_t>(v.freq - (v.freq >> 1));
          esc >>= 1;
        } while (esc > 1);
        FreeUnits(st, (old_n + 1) / 2);
        Write(OneState(ctx), v);
        found = OneState(ctx);
        return;
      }
    }
    total += esc - (esc >> 1);
    SetTotal(ctx, total);
    const int a = (old_n + 1) / 2, b = (n + 1) / 2;
    if (a != b) SetStats(ctx, Shrink(st, a, b));
    found = Stats(ctx);
  }

  // --- model update ---------------------------------------------------------
  Ref FindState(Ref ctx, int symbol) const {
    if (Count(ctx) == 1) {
      const Ref s = OneState(ctx);
      return Sym(s) == symbol ? s : kNil;
    }
    const Ref st = Stats(ctx);
    const int n = Count(ctx);
    for (int i = 0; i < n; ++i)
      if (Sym(st + i * kStateSize) == symbol) return st + i * kStateSize;
    return kNil;
  }

  // Builds the contexts that the found state's raw successor stands for.
  // mode 0: the found state gets a new context; modes 1 and 2: the raw unit
  // itself becomes the context (mode 2 starts one order lower, without a
  // parent state). False when memory ran out or the tree is not as expected.
  bool CreateSuccessors(int mode, Ref p1) {
    const Ref fs = found;
    const Ref raw = Succ(fs);
    if (!IsRaw(raw)) return false;
    const int symbol = Sym(fs);
    Ref list[kMaxOrderLimit + 4];
    int nl = 0;
    Ref pc = min_ctx;
    bool search = true;
    if (mode == 2) {
      pc = Parent(pc);
      if (pc == kNil) return false;
    }
    if (mode == 0) {
      list[nl++] = fs;
      if (Parent(min_ctx) == kNil) search = false;
    }
    if (search) {
      bool first = true;
      for (;;) {
        const Ref parent = Parent(pc);
        if (parent == kNil) return false;
        pc = parent;
        Ref p;
        if (first && p1 != kNil) {
          p = p1;
        } else {
          p = FindState(pc, symbol);
          if (p == kNil) return false;
        }
        first = false;
        const Ref succ = Succ(p);
        if (succ != raw) {
          if (!IsContext(succ)) return false;
          pc = succ;
          break;
        }
        if (nl >= kMaxOrderLimit + 3) return false;
        list[nl++] = p;
        if (Parent(pc) == kNil) break;
      }
    }
    // The state of the new contexts, kept in the raw unit's own bytes.
    const Ref up = OneState(raw);
    int freq;
    if (Count(pc) != 1) {
      const Ref s = FindState(pc, Sym(up));
      if (s == kNil) return false;
      const int r = Freq(s) - 1;
      const int tt = Total(pc) - Count(pc) - r;
      if (2 * r <= tt)
        freq = 1 + (5 * r > tt ? 1 : 0);
      else
        freq = 1 + (2 * r + 3 * std::max(tt, 1) - 1) / (2 * std::max(tt, 1));
    } else {
      freq = Freq(OneState(pc));
    }
    SetFreq(up, std::clamp(freq, 1, 255));
    for (int i = nl - 1; i >= 0; --i) {
      const Ref c = AllocContext();
      if (c == kNil) return false;
      SetCount(c, 1);
      SetParent(c, pc);
      Copy(up, OneState(c));
      SetSucc(list[i], c);
      pc = c;
    }
    if (order_fall == 0) {
      SetCount(raw, 1);
      SetParent(raw, pc);
    }
    return true;
  }

  void UpdateModel() {
    const Ref fs = found;
    const int fsym = Sym(fs);
    const int ffreq = Freq(fs);
    const Ref fsucc = Succ(fs);
    Ref q = kNil;
    const Ref pc = Parent(min_ctx);
    if (ffreq < 31 && pc != kNil) {
      if (Count(pc) != 1) {
        q = FindState(pc, fsym);
        if (q != kNil) {
          const Ref st = Stats(pc);
          if (q != st && Freq(q) >= Freq(q - kStateSize)) {
            const TStateValue v = Read(q);
            Copy(q - kStateSize, q);
            Write(q - kStateSize, v);
            q -= kStateSize;
          }
          if (Freq(q) < 108) {
            SetFreq(q, Freq(q) + 2);
            SetTotal(pc, Total(pc) + 2);
          }
        }
      } else {
        q = OneState(pc);
        if (Sym(q) != fsym)
          q = kNil;
        else if (Freq(q) < 32)
          SetFreq(q, Freq(q) + 1);
      }
    }

    if (order_fall == 0) {
      if (!CreateSuccessors(2, kNil)) return Restart();
      min_ctx = max_ctx = fsucc;
      return;
    }

    --order_fall;
    int mode;
    Ref new_succ;
    if (order_fall == 0) {
      new_succ = fsucc;
      mode = 1;
    } else {
      new_succ = NewRaw();
      if (new_succ == kNil) return Restart();
      mode = 0;
    }
    if (IsRaw(cur_raw)) {
      SetByte(OneState(cur_raw), fsym);
      SetSucc(OneState(cur_raw), new_succ);
    }

    const int n = Count(min_ctx);
    const int s0 = Total(min_ctx) - n - (ffreq - 1);
    int steps = 0;
    for (Ref c = max_ctx; c != min_ctx; c = Parent(c)) {
      if (c == kNil || ++steps > 2 * kMaxOrderLimit + 2) Fault();
      const int k = Count(c);
      if (k == 1) {
        const Ref arr = AllocUnits(1);
        if (arr == kNil) return Restart();
        Copy(OneState(c), arr);
        const int f = Freq(arr) < 30 ? 2 * Freq(arr) : 120;
        SetFreq(arr, f);
        SetStats(c, arr);
        SetTotal(c, f + init_esc + (n > 3 ? 1 : 0));
      } else {
        if (k >= 256) return Restart();
        if ((k & 1) == 0) {
          const Ref arr = Grow(Stats(c), k / 2);
          if (arr == kNil) return Restart();
          SetStats(c, arr);
        }
        int total = Total(c);
        total += 2 * ((8 * k >= total && 4 * k <= n) ? 1 : 0) + (2 * k < n ? 1 : 0);
        SetTotal(c, total);
      }
      int total = Total(c);
      const std::int64_t f = 2 * std::int64_t{ffreq} * (total + 6);
      const std::int64_t g = std::int64_t{s0} + total;
      int cf;
      if (f < 6 * g) {
        cf = 1 + (f > g ? 1 : 0) + (f >= 4 * g ? 1 : 0);
        total += 3;
      } else {
        cf = 4 + (f >= 9 * g ? 1 : 0) + (f >= 12 * g ? 1 : 0) + (f >= 15 * g ? 1 : 0);
        total += cf;
      }
      SetTotal(c, total);
      Write(Stats(c) + k * kStateSize,
            {static_cast<std::uint8_t>(fsym), static_cast<std::uint8_t>(cf), new_succ});
      SetCount(c, k + 1);
    }

    if (fsucc == kNil) {
      SetSucc(fs, new_succ);
      ++order_fall;
    } else {
      if (IsRaw(fsucc) && !CreateSuccessors(mode, q)) return Restart();
      min_ctx = Succ(fs);
      if (!IsContext(min_ctx)) return Restart();
    }
    max_ctx = min_ctx;
    cur_raw = new_succ;
  }

  // --- one symbol -------------------------------------------------------------
  void EncodeSymbol(TPPMRangeEncoder& rc, int c) {
    const Ref ctx = min_ctx;
    if (Count(ctx) == 1) {
      const Ref s = OneState(ctx);
      std::uint16_t& p = BinProb(ctx, s);
      if (Sym(s) == c) {
        rc.EncodeBinary(0, p);
        BinaryFound(s, p);
      } else {
        rc.EncodeBinary(p, (1u << kBinScale) - p);
        BinaryEscape(s, p);
      }
    } else {
      const Ref st = Stats(ctx);
      const int n = Count(ctx);
      const int total = Total(ctx);
      if (Sym(st) == c) {
        rc.Encode(0, Freq(st), total);
        FirstFound(ctx, st);
      } else {
        int cum = Freq(st);
        Ref hit = kNil;
        for (int i = 1; i < n; ++i) {
          const Ref s = st + i * kStateSize;
          if (Sym(s) == c) {
            hit = s;
            break;
          }
          cum += Freq(s);
        }
        if (hit != kNil) {
          rc.Encode(cum, Freq(hit), total);
          LaterFound(ctx, hit);
        } else {
          if (total <= cum) Fault();
          rc.Encode(cum, total - cum, total);
          prev_success = 0;
          MaskAll(ctx);
        }
      }
    }
    while (found == kNil) {
      rc.Normalize();
      if (!NextContext()) {
        if (c != kEndSymbol) Fault();
        return;
      }
      int esc;
      TSee* see_entry = MakeEscape(esc);
      const Ref mc = min_ctx;
      const Ref st = Stats(mc);
      const int n = Count(mc);
      int sum = 0, cum = 0;
      Ref hit = kNil;
      for (int i = 0; i < n; ++i) {
        const Ref s = st + i * kStateSize;
        if (mask[Sym(s)] == esc_count) continue;
        if (Sym(s) == c) {
          hit = s;
          cum = sum;
        }
        sum += Freq(s);
      }
      if (hit != kNil) {
        rc.Encode(cum, Freq(hit), sum + esc);
        MaskedFound(mc, hit, see_entry);
      } else {
        rc.Encode(sum, esc, sum + esc);
        MaskedEscape(mc, see_entry, sum + esc);
      }
    }
    AfterFound();
    rc.Normalize();
  }

  // Returns the decoded byte, or -1 for the end symbol.
  int DecodeSymbol(TPPMRangeDecoder& rc) {
    const Ref ctx = min_ctx;
    if (Count(ctx) == 1) {
      const Ref s = OneState(ctx);
      std::uint16_t& p = BinProb(ctx, s);
      if (rc.CountBinary() < p) {
        rc.Decode(0, p);
        BinaryFound(s, p);
      } else {
        rc.Decode(p, (1u << kBinScale) - p);
        BinaryEscape(s, p);
      }
    } else {
      const Ref st = Stats(ctx);
      const int n = Count(ctx);
      const int total = Total(ctx);
      const std::uint32_t count = rc.Count(static_cast<std::uint32_t>(total));
      std::uint32_t cum = static_cast<std::uint32_t>(Freq(st));
      if (count < cum) {
        rc.Decode(0, cum);
        FirstFound(ctx, st);
      } else {
        Ref hit = kNil;
        for (int i = 1; i < n; ++i) {
          const Ref s = st + i * kStateSize;
          const auto f = static_cast<std::uint32_t>(Freq(s));
          if (count < cum + f) {
            hit = s;
            break;
          }
          cum += f;
        }
        if (hit != kNil) {
          rc.Decode(cum, static_cast<std::uint32_t>(Freq(hit)));
          LaterFound(ctx, hit);
        } else {
          if (static_cast<std::uint32_t>(total) <= cum) Fault();
          rc.Decode(cum, static_cast<std::uint32_t>(total) - cum);
          prev_success = 0;
          MaskAll(ctx);
        }
      }
    }
    while (found == kNil) {
      rc.Normalize();
      if (!NextContext()) return -1;
      int esc;
      TSee* see_entry = MakeEscape(esc);
      const Ref mc = min_ctx;
      const Ref st = Stats(mc);
      const int n = Count(mc);
      std::uint32_t sum = 0;
      for (int i = 0; i < n; ++i) {
        const Ref s = st + i * kStateSize;
        if (mask[Sym(s)] != esc_count) sum += static_cast<std::uint32_t>(Freq(s));
      }
      const std::uint32_t count = rc.Count(sum + static_cast<std::uint32_t>(esc));
      if (count < sum) {
        std::uint32_t cum = 0;
        Ref hit = kNil;
        for (int i = 0; i < n; ++i) {
          const Ref s = st + i * kStateSize;
          if (mask[Sym(s)] == esc_count) continue;
          const auto f = static_cast<std::uint32_t>(Freq(s));
          if (count < cum + f) {
            hit = s;
            break;
          }
          cum += f;
        }
        if (hit == kNil) Fault();
        rc.Decode(cum, static_cast<std::uint32_t>(Freq(hit)));
        MaskedFound(mc, hit, see_entry);
      } else {
        rc.Decode(sum, static_cast<std::uint32_t>(esc));
        MaskedEscape(mc, see_entry, static_cast<int>(sum) + esc);
      }
    }
    const int symbol = Sym(found);
    AfterFound();
    rc.Normalize();
    return symbol;
  }
};

TPPMModel::TPPMModel() : impl_(std::make_unique<TImpl>()) {}

TPPMModel::~TPPMModel() = default;

int TPPMModel::Restarts() const {
  return impl_->restarts;
}

void TPPMModel::Encode(const std::uint8_t* in, std::size_t in_size, int max_order,
                       std::uint32_t memory_bytes, TPPMOutput& out) {
  TImpl& m = *impl_;
  struct TEndRun {
    TImpl& m;
    ~TEndRun() { m.End(); }
  } end_run{m};
  m.Begin(max_order, memory_bytes);
  TPPMRangeEncoder rc(out);
  for (std::size_t i = 0; i < in_size; ++i)
    m.EncodeSymbol(rc, in[i]);
  m.EncodeSymbol(rc, kEndSymbol);
  rc.Flush();
}

std::size_t TPPMModel::Decode(const std::uint8_t* in, std::size_t in_size, int max_order,
                              std::uint32_t memory_bytes, std::uint8_t* out, std::size_t capacity) {
  TImpl& m = *impl_;
  struct TEndRun {
    TImpl& m;
    ~TEndRun() { m.End(); }
  } end_run{m};
  m.Begin(max_order, memory_bytes);
  TPPMRangeDecoder rc(in, in_size);
  std::size_t n = 0;
  for (;;) {
    const int symbol = m.DecodeSymbol(rc);
    if (symbol < 0) break;
    if (n >= capacity) throw EPPMError("PPM Decompression error");
    out[n++] = static_cast<std::uint8_t>(symbol);
  }
  return n;
}

}  // namespace vez
