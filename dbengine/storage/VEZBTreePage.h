// B-tree pages: a view over one cached page of type 12 ("TableIndex Page")
// and the leaf and node controllers that run every tree operation: insert
// with split (the root keeps its page number), delete with merge across
// parents and separator repair, root collapse, searches by key and reference
// or by condition, first and last entries, freeing and integrity checks.
//
// Data area layout (after the page header; little-endian, packed):
//   0 IsRoot | 1 IsLeaf | 2 LeftPageNo Int32 | 6 RightPageNo Int32 | 10 HasKeys |
//   11 HasSuffixes | 12 KeyPrefixSize UInt16 | 14 EntryCount UInt16 |
//   16 PagePrefixSize UInt16 | 18 entries (key of KeyPrefixSize bytes, then the
//   reference: the key ref's ReferenceSize in a leaf, a child page Int32 in a node)
//
// Tree invariants: leaf entries ordered by key, then reference; all leaves at
// one depth; node entry i points to child i and its key (i >= 1) lies between
// the keys before child i and the keys from child i on (entry 0's key is never
// compared); each level is a doubly linked list in key order across parents;
// no empty page but an empty leaf root.
//
// Stored pages are never trusted: every view taken through GetIndexPage checks
// its head (flags, key size against the tree's key layout, entry area within
// the page, sibling numbers within the file) and every child number is checked
// before it is followed. Walks are bounded by the key path's depth and enter no
// page twice in one call, so cycles and shared subtrees end in
// kErrorCorruptIndexPage instead of a crash or an endless walk.
//
// Failure: a tree operation that raises midway leaves pages it already
// changed dirty in the session's dirty list; the caller must then roll back
// to a savepoint or cancel the session's changes (VEZPageManager.h) rather
// than apply them.
// Page views taken inside an operation are put back on every path.
//
// Thread safety: none; the table data serialises operations on one tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBTreeKey.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZPageManager.h"

namespace vez {

class TVEZBTreePage;

// Native errors of the B-tree pages raised from more than one place.
inline constexpr std::int32_t kErrorInternalIndex = 20020;
inline constexpr std::int32_t kErrorIndexPageEmpty = 20025;
// A stored index page that cannot be part of a sound tree (damaged head,
// entries past the page, a child or sibling number outside the file, a
// cycle or a page reached twice). The message names the page.
inline constexpr std::int32_t kErrorCorruptIndexPage = 20035;

// Offsets in a B-tree page's data area (after the page header).
struct TVEZBTreePageLayout {
  static constexpr std::int32_t kIsRoot = 0;
  static constexpr std::int32_t kIsLeaf = 1;
  static constexpr std::int32_t kLeftPageNo = 2;
  static constexpr std::int32_t kRightPageNo = 6;
  static constexpr std::int32_t kHasKeys = 10;
  static constexpr std::int32_t kHasSuffixes = 11;
  static constexpr std::int32_t kKeyPrefixSize = 12;
  static constexpr std::int32_t kEntryCount = 14;
  static constexpr std::int32_t kPagePrefixSize = 16;
  static constexpr std::int32_t kHeadSize = 18;  // entries start here (plus PagePrefixSize)
};

// Which entry FindPositionInPage returns among a run of equal keys.
enum class TVEZEqualKeyPick : std::uint8_t { First, Last, Any };

// The pages one tree walk has entered and how deep it is. A walk that meets
// a page twice, or goes deeper than a key path can record, raises
// kErrorCorruptIndexPage: in a sound tree each page has one parent.
class TVEZBTreeWalk {
 public:
  // Notes page as entered; raises when it was entered before in this walk.
  void Visit(const TVEZBTreePage& page);

  // Visit plus one level deeper for the guard's lifetime.
  class Level {
   public:
    Level(TVEZBTreeWalk& walk, const TVEZBTreePage& page);
    ~Level() { --walk_.depth_; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

   private:
    TVEZBTreeWalk& walk_;
  };

 private:
  // Walks of a sound tree enter a handful of pages: those stay inline.
  static constexpr std::size_t kInline = 32;
  std::int32_t inline_[kInline];
  std::size_t inline_count_ = 0;
  std::vector<std::int32_t> more_;  // sorted
  std::int32_t depth_ = 0;
};

struct TVEZBTreePagePutter {
  void operator()(TVEZBTreePage* page) const noexcept;
};
// A page view that puts its page back into the cache when it goes away.
using TVEZBTreePageHolder = std::unique_ptr<TVEZBTreePage, TVEZBTreePagePutter>;

// Tree operations shared by leaves and nodes. Every operation that changes a
// page's bytes marks that page dirty.
class TVEZBTreePageController {
 public:
  explicit TVEZBTreePageController(TVEZBTreePage* page) : page_(page) {}
  virtual ~TVEZBTreePageController() = default;
  TVEZBTreePageController(const TVEZBTreePageController&) = delete;
  TVEZBTreePageController& operator=(const TVEZBTreePageController&) = delete;

  TVEZBTreeKeyRef* KeyRef() const;

  // Order of (key, reference) against entry position: a leaf compares the
  // references, a node the first entry of child position.
  virtual std::int32_t CompareEntryReference(bool may_use_full_keys, std::int32_t session_id,
                                             const std::uint8_t* key, const std::uint8_t* reference,
                                             std::int32_t position) = 0;
  // Inserts (key, reference) into the subtree; key_path collects the descent.
  virtual void InsertLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                               const std::uint8_t* reference, TVEZKeyPath& key_path) = 0;
  // Removes the entry (key, reference); false when the subtree lacks it.
  virtual bool DeleteLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                               const std::uint8_t* reference, TVEZKeyPath& key_path) = 0;
  // Removes every page of the subtree from the page manager (the root kept
  // when keep_root_page).
  virtual void FreeAllPages(std::int32_t session_id, bool keep_root_page, TVEZBTreeWalk& walk) = 0;
  // Raises 20028 to 20034 or 20194 where order, links or separators are
  // wrong, kErrorCorruptIndexPage where a page cannot be read as a tree page.
  virtual void CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path,
                              TVEZBTreeWalk& walk) = 0;
  // Path of the entry (key, reference); without key, by reference alone.
  virtual bool FindEntry(std::int32_t session_id, const std::uint8_t* key,
                         const std::uint8_t* reference, TVEZKeyPath& position,
                         TVEZBTreeWalk& walk) = 0;
  virtual bool GetFirstPosition(std::int32_t session_id, TVEZKeyPath& position) = 0;
  virtual bool GetLastPosition(std::int32_t session_id, TVEZKeyPath& position) = 0;
  // The first (or last) entry in index order whose key stands in relation
  // op to key; without key every entry qualifies.
  virtual bool FindByCondition(std::int32_t session_id, bool first, const std::uint8_t* key,
                               TVEZSearchCondition op, TVEZKeyPath& position,
                               TVEZBTreeWalk& walk) = 0;
  // Copies of the subtree's first or last key (KeyPrefixSize bytes) and
  // reference (the key ref's ReferenceSize bytes). Raise 20025 on an empty
  // tree.
  virtual void GetFirstKey(std::int32_t session_id, std::uint8_t* key) = 0;
  virtual void GetLastKey(std::int32_t session_id, std::uint8_t* key) = 0;
  virtual void GetFirstEntry(std::int32_t session_id, std::uint8_t* key,
                             std::uint8_t* reference) = 0;
  virtual void GetLastEntry(std::int32_t session_id, std::uint8_t* key,
                            std::uint8_t* reference) = 0;

  bool CanInsertEntry() const;
  bool IsPageOverflow() const;
  bool IsPageUnderflow() const;
  // Both pages' entries fit in one page (exactly filling it is fitting).
  bool CanMergePages(const TVEZBTreePage& other) const;
  void EnlargeForOneEntry();
  std::int32_t CompareKeyAt(bool may_use_full_keys, std::int32_t session_id,
                            const std::uint8_t* key, std::int32_t position);
  std::int32_t CompareReferenceAt(const std::uint8_t* reference, std::int32_t position) const;
  // Binary search from start_pos. Found: kppOnKey and, by pick, the first,
  // last or any entry with an equal key; not found: kppBeforeKey and the
  // insertion point; empty page: kppEOF and 0.
  std::int32_t FindPositionInPage(bool may_use_full_keys, std::int32_t session_id,
                                  const std::uint8_t* key, const std::uint8_t* reference,
                                  std::int32_t start_pos, TVEZKeyPathPosition& position_type,
                                  TVEZEqualKeyPick pick);
  void InsertEntryAt(const std::uint8_t* key, const std::uint8_t* reference, std::int32_t position);
  // Raises 20025 on an empty page.
  void DeleteEntryAt(std::int32_t position);
  bool FindEntryWithReference(std::int32_t session_id, const std::uint8_t* key,
                              std::int32_t& position, const std::uint8_t* reference);

 protected:
  void Split(std::int32_t session_id, TVEZKeyPath& key_path);
  void SplitRootPage(std::int32_t session_id, TVEZKeyPath& key_path);
  void SplitPage(std::int32_t session_id, TVEZKeyPath& key_path);
  bool MergeWithNeighbour(std::int32_t session_id, TVEZKeyPath& key_path);
  bool TryMergeWithSibling(std::int32_t session_id, std::int32_t sibling_page_no,
                           TVEZKeyPath& key_path);
  // Takes this page out of its level's list on the side away from the sibling
  // it merges into (left when into_left), then moves the path up and returns
  // the parent.
  TVEZBTreePageHolder UnlinkAndFetchParent(std::int32_t session_id, TVEZKeyPath& key_path,
                                           bool into_left);
  void MergeIntoLeftSibling(std::int32_t session_id, TVEZBTreePage& left, TVEZKeyPath& key_path);
  void MergeIntoRightSibling(std::int32_t session_id, TVEZBTreePage& right, TVEZKeyPath& key_path);
  // Adds this page's entry position to path; a path already as deep as a key
  // path can be means a cycle or a damaged tree (kErrorCorruptIndexPage).
  void AddPathItem(TVEZKeyPath& path, std::int32_t position);
  // The first (or last) entry of this page in relation op to key.
  bool FindByConditionInPage(std::int32_t session_id, bool first, const std::uint8_t* key,
                             TVEZSearchCondition op, TVEZKeyPath& position);

  TVEZBTreePage* page_;
};

class TVEZBTreeLeafController : public TVEZBTreePageController {
 public:
  using TVEZBTreePageController::TVEZBTreePageController;
  std::int32_t CompareEntryReference(bool may_use_full_keys, std::int32_t session_id,
                                     const std::uint8_t* key, const std::uint8_t* reference,
                                     std::int32_t position) override;
  void InsertLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                       const std::uint8_t* reference, TVEZKeyPath& key_path) override;
  bool DeleteLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                       const std::uint8_t* reference, TVEZKeyPath& key_path) override;
  void FreeAllPages(std::int32_t session_id, bool keep_root_page, TVEZBTreeWalk& walk) override;
  void CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path, TVEZBTreeWalk& walk) override;
  bool FindEntry(std::int32_t session_id, const std::uint8_t* key, const std::uint8_t* reference,
                 TVEZKeyPath& position, TVEZBTreeWalk& walk) override;
  bool GetFirstPosition(std::int32_t session_id, TVEZKeyPath& position) override;
  bool GetLastPosition(std::int32_t session_id, TVEZKeyPath& position) override;
  bool FindByCondition(std::int32_t session_id, bool first, const std::uint8_t* key,
                       TVEZSearchCondition op, TVEZKeyPath& position, TVEZBTreeWalk& walk) override;
  void GetFirstKey(std::int32_t session_id, std::uint8_t* key) override;
  void GetLastKey(std::int32_t session_id, std::uint8_t* key) override;
  void GetFirstEntry(std::int32_t session_id, std::uint8_t* key, std::uint8_t* reference) override;
  void GetLastEntry(std::int32_t session_id, std::uint8_t* key, std::uint8_t* reference) override;
};

class TVEZBTreeNodeController : public TVEZBTreePageController {
 public:
  using TVEZBTreePageController::TVEZBTreePageController;
  std::int32_t CompareEntryReference(bool may_use_full_keys, std::int32_t session_id,
                                     const std::uint8_t* key, const std::uint8_t* reference,
                                     std::int32_t position) override;
  void InsertLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                       const std::uint8_t* reference, TVEZKeyPath& key_path) override;
  bool DeleteLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                       const std::uint8_t* reference, TVEZKeyPath& key_path) override;
  void FreeAllPages(std::int32_t session_id, bool keep_root_page, TVEZBTreeWalk& walk) override;
  void CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path, TVEZBTreeWalk& walk) override;
  bool FindEntry(std::int32_t session_id, const std::uint8_t* key, const std::uint8_t* reference,
                 TVEZKeyPath& position, TVEZBTreeWalk& walk) override;
  bool GetFirstPosition(std::int32_t session_id, TVEZKeyPath& position) override;
  bool GetLastPosition(std::int32_t session_id, TVEZKeyPath& position) override;
  bool FindByCondition(std::int32_t session_id, bool first, const std::uint8_t* key,
                       TVEZSearchCondition op, TVEZKeyPath& position, TVEZBTreeWalk& walk) override;
  void GetFirstKey(std::int32_t session_id, std::uint8_t* key) override;
  void GetLastKey(std::int32_t session_id, std::uint8_t* key) override;
  void GetFirstEntry(std::int32_t session_id, std::uint8_t* key, std::uint8_t* reference) override;
  void GetLastEntry(std::int32_t session_id, std::uint8_t* key, std::uint8_t* reference) override;

  // Adds a separator for a new child right after the entry the path came
  // down through; splits when the node overflows.
  void InsertNodeEntry(std::int32_t session_id, const std::uint8_t* key,
                       const std::uint8_t* reference, TVEZKeyPath& key_path);
  // Removes the path's entry at this level (a child that merged away) after
  // repairing the separator that covers the moved entries. bound_key is a
  // separator valid for the moved entries, used where this node has none
  // (nullptr when nothing moved).
  void DeleteNodeEntry(std::int32_t session_id, TVEZKeyPath& key_path, bool merge_with_left,
                       const std::uint8_t* bound_key);

 private:
  void CollapseRoot(std::int32_t session_id);
  void GetChildRange(std::int32_t session_id, const std::uint8_t* key, TVEZSearchCondition op,
                     std::int32_t& first_child, std::int32_t& last_child);
  // Copies the first or last leaf entry under child position of this node,
  // one page per level and no deeper than a key path can record.
  void CopyEdgeEntry(std::int32_t session_id, std::int32_t position, bool first, std::uint8_t* key,
                     std::uint8_t* reference);
};

class TVEZBTreePage : public TVEZPageController {
 public:
  using L = TVEZBTreePageLayout;
  static constexpr std::int32_t kHeadSize = L::kHeadSize;
  static constexpr std::int32_t kSuffixPtrSize = 6;
  static constexpr std::int32_t kNodeReferenceSize = 4;

  // A view over page (pinned by the caller) of a tree whose keys key_ref lays out.
  TVEZBTreePage(TVEZPage* page, TVEZBTreeKeyRef* key_ref);

  // Page handling through the page manager with page type 12. Views come
  // back as holders that put the page back when they go away. GetIndexPage
  // checks the stored head (CheckStoredHead) before handing the view out.
  static TVEZBTreePageHolder AddIndexPage(TVEZPageManager* page_manager, TVEZBTreeKeyRef* key_ref,
                                          std::int32_t session_id);
  static TVEZBTreePageHolder GetIndexPage(TVEZPageManager* page_manager, TVEZBTreeKeyRef* key_ref,
                                          std::int32_t session_id, std::int32_t page_no);
  static void RemoveIndexPage(TVEZPageManager* page_manager, std::int32_t session_id,
                              std::int32_t page_no);
  TVEZBTreePageHolder AddIndexPage(std::int32_t session_id) const;
  TVEZBTreePageHolder GetIndexPage(std::int32_t session_id, std::int32_t page_no) const;
  void RemoveIndexPage(std::int32_t session_id, std::int32_t page_no) const;

  TVEZBTreeKeyRef* KeyRef() const { return key_ref_; }

  // Raises kErrorCorruptIndexPage unless the head can be a page of this
  // tree: flags 0 or 1 (HasKeys 1, HasSuffixes 0, no page prefix), the key
  // layout's key size, every entry inside the page, no node without entries,
  // sibling numbers -1 or another page within the page manager's page count.
  void CheckStoredHead() const;
  // Raises kErrorCorruptIndexPage naming this page.
  [[noreturn]] void RaiseCorrupt(const char* what) const;
  // The view of child position of this node, checked: the position among the
  // entries, the child's number within the file and not this page, and the
  // child neither a root nor empty.
  TVEZBTreePageHolder ChildPage(std::int32_t session_id, std::int32_t position) const;

  void Init();
  // An empty leaf root: the state of a new tree.
  void InitAsRoot();
  // Entry copies between two pages of one level. Raise kErrorCorruptIndexPage
  // when the pages' entry sizes differ, source is this page or the result
  // would not fit the page.
  void CopyFrom(const TVEZBTreePage& source, std::int32_t start_no, std::int32_t count);
  void AppendFrom(const TVEZBTreePage& source, std::int32_t start_no, std::int32_t count);
  void InsertFrom(const TVEZBTreePage& source, std::int32_t start_no, std::int32_t count);

  bool IsRoot() const { return Data()[L::kIsRoot] != 0; }
  void SetIsRoot(bool v) { Data()[L::kIsRoot] = v ? 1 : 0; }
  bool IsLeaf() const { return Data()[L::kIsLeaf] != 0; }
  void SetIsLeaf(bool v) { Data()[L::kIsLeaf] = v ? 1 : 0; }
  std::int32_t LeftPageNo() const { return GetLE<std::int32_t>(Data() + L::kLeftPageNo); }
  void SetLeftPageNo(std::int32_t v) { PutLE(Data() + L::kLeftPageNo, v); }
  std::int32_t RightPageNo() const { return GetLE<std::int32_t>(Data() + L::kRightPageNo); }
  void SetRightPageNo(std::int32_t v) { PutLE(Data() + L::kRightPageNo, v); }
  bool HasKeys() const { return Data()[L::kHasKeys] != 0; }
  void SetHasKeys(bool v) { Data()[L::kHasKeys] = v ? 1 : 0; }
  bool HasSuffixes() const { return Data()[L::kHasSuffixes] != 0; }
  void SetHasSuffixes(bool v) { Data()[L::kHasSuffixes] = v ? 1 : 0; }
  std::int32_t KeyPrefixSize() const { return GetLE<std::uint16_t>(Data() + L::kKeyPrefixSize); }
  void SetKeyPrefixSize(std::int32_t v) {
    PutLE(Data() + L::kKeyPrefixSize, static_cast<std::uint16_t>(v));
  }
  std::int32_t EntryCount() const { return GetLE<std::uint16_t>(Data() + L::kEntryCount); }
  void SetEntryCount(std::int32_t v) {
    PutLE(Data() + L::kEntryCount, static_cast<std::uint16_t>(v));
  }
  std::int32_t PagePrefixSize() const { return GetLE<std::uint16_t>(Data() + L::kPagePrefixSize); }
  void SetPagePrefixSize(std::int32_t v) {
    PutLE(Data() + L::kPagePrefixSize, static_cast<std::uint16_t>(v));
  }
  std::int32_t ReferenceSize() const {
    return IsLeaf() ? key_ref_->ReferenceSize() : kNodeReferenceSize;
  }
  std::int32_t EntrySize() const {
    return KeyPrefixSize() + ReferenceSize() + (HasSuffixes() ? kSuffixPtrSize : 0);
  }
  std::int32_t EntriesOffset() const { return PagePrefixSize() + kHeadSize; }

  std::uint8_t* GetPKey(std::int32_t position) const {
    return Data() + EntriesOffset() + position * EntrySize();
  }
  std::uint8_t* GetPReference(std::int32_t position) const {
    return GetPKey(position) + KeyPrefixSize();
  }
  std::int32_t ChildPageNo(std::int32_t position) const {
    return GetLE<std::int32_t>(GetPReference(position));
  }
  void UpdateKey(std::int32_t position, const std::uint8_t* key);
  void UpdateReference(std::int32_t position, const std::uint8_t* reference);

  TVEZBTreePageController& Controller() {
    return IsLeaf() ? static_cast<TVEZBTreePageController&>(leaf_controller_)
                    : static_cast<TVEZBTreePageController&>(node_controller_);
  }

  // Tree operations, handed to the leaf or node controller.
  void InsertLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                       const std::uint8_t* reference, TVEZKeyPath& key_path) {
    Controller().InsertLeafEntry(session_id, key, reference, key_path);
  }
  bool DeleteLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                       const std::uint8_t* reference, TVEZKeyPath& key_path) {
    return Controller().DeleteLeafEntry(session_id, key, reference, key_path);
  }
  // The walks below enter each page once per call; the forms without a walk
  // start a new one.
  void FreeAllPages(std::int32_t session_id, bool keep_root_page) {
    TVEZBTreeWalk walk;
    FreeAllPages(session_id, keep_root_page, walk);
  }
  void FreeAllPages(std::int32_t session_id, bool keep_root_page, TVEZBTreeWalk& walk) {
    TVEZBTreeWalk::Level level(walk, *this);
    Controller().FreeAllPages(session_id, keep_root_page, walk);
  }
  void CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path) {
    TVEZBTreeWalk walk;
    CheckIntegrity(session_id, key_path, walk);
  }
  void CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path, TVEZBTreeWalk& walk) {
    TVEZBTreeWalk::Level level(walk, *this);
    Controller().CheckIntegrity(session_id, key_path, walk);
  }
  bool FindEntry(std::int32_t session_id, const std::uint8_t* key, const std::uint8_t* reference,
                 TVEZKeyPath& position) {
    TVEZBTreeWalk walk;
    return FindEntry(session_id, key, reference, position, walk);
  }
  bool FindEntry(std::int32_t session_id, const std::uint8_t* key, const std::uint8_t* reference,
                 TVEZKeyPath& position, TVEZBTreeWalk& walk) {
    TVEZBTreeWalk::Level level(walk, *this);
    return Controller().FindEntry(session_id, key, reference, position, walk);
  }
  bool GetFirstPosition(std::int32_t session_id, TVEZKeyPath& position) {
    return Controller().GetFirstPosition(session_id, position);
  }
  bool GetLastPosition(std::int32_t session_id, TVEZKeyPath& position) {
    return Controller().GetLastPosition(session_id, position);
  }
  bool FindByCondition(std::int32_t session_id, bool first, const std::uint8_t* key,
                       TVEZSearchCondition op, TVEZKeyPath& position) {
    TVEZBTreeWalk walk;
    return FindByCondition(session_id, first, key, op, position, walk);
  }
  bool FindByCondition(std::int32_t session_id, bool first, const std::uint8_t* key,
                       TVEZSearchCondition op, TVEZKeyPath& position, TVEZBTreeWalk& walk) {
    TVEZBTreeWalk::Level level(walk, *this);
    if (EntryCount() == 0) return false;
    return Controller().FindByCondition(session_id, first, key, op, position, walk);
  }
  void GetFirstKey(std::int32_t session_id, std::uint8_t* key) {
    Controller().GetFirstKey(session_id, key);
  }
  void GetLastKey(std::int32_t session_id, std::uint8_t* key) {
    Controller().GetLastKey(session_id, key);
  }
  void GetFirstEntry(std::int32_t session_id, std::uint8_t* key, std::uint8_t* reference) {
    Controller().GetFirstEntry(session_id, key, reference);
  }
  void GetLastEntry(std::int32_t session_id, std::uint8_t* key, std::uint8_t* reference) {
    Controller().GetLastEntry(session_id, key, reference);
  }
  // Raise 20020 / 20024 on a leaf.
  void InsertNodeEntry(std::int32_t session_id, const std::uint8_t* key,
                       const std::uint8_t* reference, TVEZKeyPath& key_path);
  void DeleteNodeEntry(std::int32_t session_id, TVEZKeyPath& key_path, bool merge_with_left,
                       const std::uint8_t* bound_key);

  void MarkDirty() { page_->SetIsDirty(true); }

 private:
  std::uint8_t* Data() const { return page_->PageData(); }
  // Raises kErrorCorruptIndexPage when count entries of this page's entry
  // size, from entry 0, would not fit the page.
  void CheckEntriesFit(std::int64_t count) const;

  TVEZBTreeKeyRef* key_ref_;
  TVEZBTreeLeafController leaf_controller_;
  TVEZBTreeNodeController node_controller_;
};

}  // namespace vez
