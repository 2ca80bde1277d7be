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
// Failure: a tree operation that raises midway leaves pages it already
// changed dirty in the session's dirty list; the caller must then cancel the
// session's changes (TVEZPageManager::CancelChanges) rather than apply them.
// Page views taken inside an operation are put back on every path.
//
// Thread safety: none; the table data serialises operations on one tree.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBTreeKey.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZPageManager.h"

namespace vez {

class TVEZBTreePage;

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
  virtual void FreeAllPages(std::int32_t session_id, bool keep_root_page) = 0;
  // Raises 20028 to 20034 or 20194 where order, links or separators are wrong.
  virtual void CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path) = 0;
  // Path of the entry (key, reference); without key, by reference alone.
  virtual bool FindEntry(std::int32_t session_id, const std::uint8_t* key,
                         const std::uint8_t* reference, TVEZKeyPath& position) = 0;
  virtual bool GetFirstPosition(std::int32_t session_id, TVEZKeyPath& position) = 0;
  virtual bool GetLastPosition(std::int32_t session_id, TVEZKeyPath& position) = 0;
  // The first (or last) entry in index order whose key stands in relation
  // op to key; without key every entry qualifies.
  virtual bool FindByCondition(std::int32_t session_id, bool first, const std::uint8_t* key,
                               TVEZSearchCondition op, TVEZKeyPath& position) = 0;
  // Copies of the subtree's first or last key (and reference). Raise 20025
  // on an empty tree.
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
  // Binary search from start_pos. Found: kppOnKey and, by mode, the first (0),
  // last (1) or any (2) entry with an equal key; not found: kppBeforeKey and
  // the insertion point; empty page: kppEOF and 0.
  std::int32_t FindPositionInPage(bool may_use_full_keys, std::int32_t session_id,
                                  const std::uint8_t* key, const std::uint8_t* reference,
                                  std::int32_t start_pos, TVEZKeyPathPosition& position_type,
                                  std::int32_t mode);
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
  void FreeAllPages(std::int32_t session_id, bool keep_root_page) override;
  void CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path) override;
  bool FindEntry(std::int32_t session_id, const std::uint8_t* key, const std::uint8_t* reference,
                 TVEZKeyPath& position) override;
  bool GetFirstPosition(std::int32_t session_id, TVEZKeyPath& position) override;
  bool GetLastPosition(std::int32_t session_id, TVEZKeyPath& position) override;
  bool FindByCondition(std::int32_t session_id, bool first, const std::uint8_t* key,
                       TVEZSearchCondition op, TVEZKeyPath& position) override;
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
  void FreeAllPages(std::int32_t session_id, bool keep_root_page) override;
  void CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path) override;
  bool FindEntry(std::int32_t session_id, const std::uint8_t* key, const std::uint8_t* reference,
                 TVEZKeyPath& position) override;
  bool GetFirstPosition(std::int32_t session_id, TVEZKeyPath& position) override;
  bool GetLastPosition(std::int32_t session_id, TVEZKeyPath& position) override;
  bool FindByCondition(std::int32_t session_id, bool first, const std::uint8_t* key,
                       TVEZSearchCondition op, TVEZKeyPath& position) override;
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
  TVEZBTreePageHolder Child(std::int32_t session_id, std::int32_t position);
};

class TVEZBTreePage : public TVEZPageController {
 public:
  static constexpr std::int32_t kHeadSize = 18;
  static constexpr std::int32_t kSuffixPtrSize = 6;
  static constexpr std::int32_t kNodeReferenceSize = 4;

  // A view over page (pinned by the caller) of a tree whose keys key_ref lays out.
  TVEZBTreePage(TVEZPage* page, TVEZBTreeKeyRef* key_ref);

  // Page handling through the page manager with page type 12. Views come
  // back as holders that put the page back when they go away.
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

  void Init();
  // An empty leaf root: the state of a new tree.
  void InitAsRoot();
  void CopyFrom(const TVEZBTreePage& source, std::int32_t start_no, std::int32_t count);
  void AppendFrom(const TVEZBTreePage& source, std::int32_t start_no, std::int32_t count);
  void InsertFrom(const TVEZBTreePage& source, std::int32_t start_no, std::int32_t count);

  bool IsRoot() const { return Data()[0] != 0; }
  void SetIsRoot(bool v) { Data()[0] = v ? 1 : 0; }
  bool IsLeaf() const { return Data()[1] != 0; }
  void SetIsLeaf(bool v) { Data()[1] = v ? 1 : 0; }
  std::int32_t LeftPageNo() const { return GetLE<std::int32_t>(Data() + 2); }
  void SetLeftPageNo(std::int32_t v) { PutLE(Data() + 2, v); }
  std::int32_t RightPageNo() const { return GetLE<std::int32_t>(Data() + 6); }
  void SetRightPageNo(std::int32_t v) { PutLE(Data() + 6, v); }
  bool HasKeys() const { return Data()[10] != 0; }
  void SetHasKeys(bool v) { Data()[10] = v ? 1 : 0; }
  bool HasSuffixes() const { return Data()[11] != 0; }
  void SetHasSuffixes(bool v) { Data()[11] = v ? 1 : 0; }
  std::int32_t KeyPrefixSize() const { return GetLE<std::uint16_t>(Data() + 12); }
  void SetKeyPrefixSize(std::int32_t v) { PutLE(Data() + 12, static_cast<std::uint16_t>(v)); }
  std::int32_t EntryCount() const { return GetLE<std::uint16_t>(Data() + 14); }
  void SetEntryCount(std::int32_t v) { PutLE(Data() + 14, static_cast<std::uint16_t>(v)); }
  std::int32_t PagePrefixSize() const { return GetLE<std::uint16_t>(Data() + 16); }
  void SetPagePrefixSize(std::int32_t v) { PutLE(Data() + 16, static_cast<std::uint16_t>(v)); }
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
  void FreeAllPages(std::int32_t session_id, bool keep_root_page) {
    Controller().FreeAllPages(session_id, keep_root_page);
  }
  void CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path) {
    Controller().CheckIntegrity(session_id, key_path);
  }
  bool FindEntry(std::int32_t session_id, const std::uint8_t* key, const std::uint8_t* reference,
                 TVEZKeyPath& position) {
    return Controller().FindEntry(session_id, key, reference, position);
  }
  bool GetFirstPosition(std::int32_t session_id, TVEZKeyPath& position) {
    return Controller().GetFirstPosition(session_id, position);
  }
  bool GetLastPosition(std::int32_t session_id, TVEZKeyPath& position) {
    return Controller().GetLastPosition(session_id, position);
  }
  bool FindByCondition(std::int32_t session_id, bool first, const std::uint8_t* key,
                       TVEZSearchCondition op, TVEZKeyPath& position) {
    if (EntryCount() == 0) return false;
    return Controller().FindByCondition(session_id, first, key, op, position);
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

  TVEZBTreeKeyRef* key_ref_;
  TVEZBTreeLeafController leaf_controller_;
  TVEZBTreeNodeController node_controller_;
};

}  // namespace vez
