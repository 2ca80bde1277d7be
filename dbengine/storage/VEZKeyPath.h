// The position of an entry in a B-tree: the page and entry number taken on
// each level from the root down to a leaf, with the arithmetic that turns a
// path into an approximate fraction of the tree and into a record number for
// record bitmaps. Also the cursor's cache of its last index position.
//
// Thread safety: plain values owned by one cursor or one index operation.
#pragma once

#include <cstdint>
#include <memory>

#include "dbengine/foundation/VEZTypes.h"
#include "platform/core/Invariant.h"

namespace vez {

// A key path used outside what it holds (too deep, a level it does not
// have, paths of different depth, numbers that decode to no path).
inline constexpr std::int32_t kErrorInvalidKeyPath = 20051;

// How a page search ended: 1 on an equal key, 2 before a key (the insertion
// point), 5 on an empty page.
enum TVEZKeyPathPosition : std::uint8_t {
  kppUnknown = 0,
  kppOnKey = 1,
  kppBeforeKey = 2,
  kppAfterKey = 3,
  kppBOF = 4,
  kppEOF = 5
};

struct TVEZKeyPathItem {
  std::int32_t PageNo = 0;
  std::int32_t EntryNo = 0;
  std::int32_t EntryCount = 0;
};

class TVEZKeyPath {
 public:
  static constexpr std::int32_t kMaxDepth = 32;

  TVEZKeyPathItem Items[kMaxDepth];
  std::int32_t Count = 0;
  std::int32_t ItemNo = 0;  // the current level while a split or merge walks up
  TVEZKeyPathPosition PositionType = kppUnknown;
  std::int32_t IndexState = 0;

  void Clear() {
    Count = 0;
    ItemNo = 0;
  }
  void Assign(const TVEZKeyPath& other);
  // Writes item ItemNo and moves past it. Raises 20051 on a path already
  // kMaxDepth deep.
  void AddItem(std::int32_t page_no, std::int32_t entry_no, std::int32_t entry_count);
  void DeleteLastItem();
  void IncLevel() { ++ItemNo; }
  void DecLevel() { --ItemNo; }
  // The item at the current level. Raises 20051 when ItemNo is outside the path.
  TVEZKeyPathItem& Current();
  std::int32_t CurrentPageNo() { return Current().PageNo; }
  void SetCurrentPageNo(std::int32_t v) { Current().PageNo = v; }
  TVEZKeyPathItem& Last() {
    RVX_INVARIANT(Count > 0 && Count <= kMaxDepth, "the last item of a path that has one");
    return Items[Count - 1];
  }
  bool PageExists(std::int32_t page_no) const;
  // Order of two positions in one tree: -1, 0, 1. Raises 20051 for paths of
  // different depth, 20052 when they go through different pages.
  std::int32_t Compare(const TVEZKeyPath& other) const;
  // The position as a fraction of the tree, 0 for the first entry, below 1.
  double GetApproxRecNoInPercents() const;
  // The path as a base (MaxEntriesPerPage + 1) number, one digit EntryNo + 1
  // per level, the root's the most significant. Raises EIntOverflow when it
  // does not fit 64 bits.
  std::int64_t GetBitmapRecNoByIndexPosition(std::int32_t max_entries_per_page) const;
  // Decodes such a number into entry numbers (PageNo -1, EntryCount 0). Raises
  // 20051 for a number below 1, a zero digit or a path deeper than kMaxDepth.
  void FillItemsByBitmapRecNo(std::int64_t record_no, std::int32_t max_entries_per_page);
};

// The last index position a cursor reached, reused while the index, the
// record and the table state are unchanged.
class TVEZIndexPositionCache {
 public:
  TVEZIndexPositionCache() : Position(std::make_unique<TVEZKeyPath>()) {}
  TVEZIndexPositionCache(const TVEZIndexPositionCache&) = delete;
  TVEZIndexPositionCache& operator=(const TVEZIndexPositionCache&) = delete;

  std::unique_ptr<TVEZKeyPath> Position;
  std::int32_t IndexID = -1;
  TVEZPageItemID RecordID;
  std::int32_t TableState = -1;
};

}  // namespace vez
