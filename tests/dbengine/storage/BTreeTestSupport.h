// Test support for B-trees: a table of records in memory that record keys can
// read back, and a walker that checks a tree's shape level by level.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dbengine/storage/VEZBTreeKey.h"
#include "dbengine/storage/VEZBTreePage.h"

namespace vez::test {

// Records: null bitmap in byte 0; field 0 Int32 "ID" at offset 1, 1 Char(20)
// "NAME" at 5 (21 bytes), 2 WideChar(10) "WNAME" at 26 (22 bytes), 3 Char(50)
// "LONG" at 48 (51 bytes); "RAW" reads LONG's first 50 bytes as BYTES(50);
// "DATA" is a BLOB field.
class TFakeTable : public TVEZKeyRecordSource {
 public:
  static constexpr std::int32_t kRecordSize = 99;
  bool has_field_manager = true;
  bool has_field_defs = true;
  std::map<std::pair<std::int32_t, std::uint16_t>, std::vector<std::uint8_t>> records;
  int reads = 0;

  bool HasFieldManager() const override { return has_field_manager; }
  bool HasFieldDefs() const override { return has_field_defs; }
  bool FindField(const std::string& name, TFieldLayout& f) const override {
    if (name == "ID")
      f = {0, 1, 4, bftSignedInt32};
    else if (name == "NAME")
      f = {1, 5, 21, bftChar};
    else if (name == "WNAME")
      f = {2, 26, 22, bftWideChar};
    else if (name == "LONG")
      f = {3, 48, 51, bftChar};
    else if (name == "RAW")
      f = {3, 48, 50, bftBytes};
    else if (name == "DATA")
      f = {4, 99, 10, bftBlob};
    else
      return false;
    return true;
  }
  std::int32_t GetMemoryRecordBufferSize() const override { return kRecordSize; }
  TVEZGetRecordResult ReadRecord(std::int32_t, TVEZPageItemID id, std::uint8_t* buffer) override {
    ++reads;
    auto it = records.find({id.PageNo, id.PageItemNo});
    if (it == records.end()) return grrError;
    std::memcpy(buffer, it->second.data(), kRecordSize);
    return grrOK;
  }

  static std::vector<std::uint8_t> MakeRecord(std::int32_t id, const std::string& name,
                                              bool id_null = false, bool name_null = false) {
    std::vector<std::uint8_t> r(kRecordSize, 0);
    if (id_null) r[0] |= 1;
    if (name_null) r[0] |= 2;
    std::memcpy(r.data() + 1, &id, 4);
    std::memcpy(r.data() + 5, name.data(), std::min<std::size_t>(name.size(), 20));
    return r;
  }
  void Put(TVEZPageItemID id, const std::vector<std::uint8_t>& r) {
    records[{id.PageNo, id.PageItemNo}] = r;
  }
};

inline std::vector<std::uint8_t> Ref6(TVEZPageItemID id) {
  std::vector<std::uint8_t> r(6);
  id.Encode(r.data());
  return r;
}

struct TLeafEntry {
  std::vector<std::uint8_t> key;
  std::vector<std::uint8_t> ref;
};

// Walks every level from the root: checks root flags, that each level is all
// leaves or all nodes (so every leaf has one depth), the sibling links of each
// level, and that no page but the root is empty. Returns the leaf entries in
// order.
inline std::vector<TLeafEntry> WalkTree(TVEZPageManager* pm, TVEZBTreeKeyRef* key_ref,
                                        std::int32_t session_id, std::int32_t root_no,
                                        int* depth = nullptr) {
  std::vector<TLeafEntry> entries;
  std::vector<std::int32_t> level{root_no};
  int d = 0;
  while (!level.empty()) {
    ++d;
    std::vector<std::int32_t> next;
    bool leaf_level = false;
    for (std::size_t i = 0; i < level.size(); ++i) {
      auto page = TVEZBTreePage::GetIndexPage(pm, key_ref, session_id, level[i]);
      EXPECT_EQ(page->IsRoot(), level[i] == root_no) << "page " << level[i];
      if (i == 0) leaf_level = page->IsLeaf();
      EXPECT_EQ(page->IsLeaf(), leaf_level) << "mixed level at page " << level[i];
      EXPECT_EQ(page->LeftPageNo(), i == 0 ? -1 : level[i - 1]) << "page " << level[i];
      EXPECT_EQ(page->RightPageNo(), i + 1 == level.size() ? -1 : level[i + 1])
          << "page " << level[i];
      EXPECT_TRUE(page->HasKeys());
      if (level[i] != root_no) {
        EXPECT_GT(page->EntryCount(), 0) << "empty page " << level[i];
      }
      for (std::int32_t e = 0; e < page->EntryCount(); ++e) {
        if (page->IsLeaf()) {
          entries.push_back(
              {std::vector<std::uint8_t>(page->GetPKey(e),
                                         page->GetPKey(e) + page->KeyPrefixSize()),
               std::vector<std::uint8_t>(page->GetPReference(e),
                                         page->GetPReference(e) + page->ReferenceSize())});
        } else {
          next.push_back(page->ChildPageNo(e));
        }
      }
    }
    if (leaf_level) {
      EXPECT_TRUE(next.empty());
    }
    level = next;
  }
  if (depth) *depth = d;
  return entries;
}

// The entry a path ends on.
inline TLeafEntry EntryAt(TVEZPageManager* pm, TVEZBTreeKeyRef* key_ref, std::int32_t session_id,
                          TVEZKeyPath& path) {
  const TVEZKeyPathItem& item = path.Items[path.Count - 1];
  auto page = TVEZBTreePage::GetIndexPage(pm, key_ref, session_id, item.PageNo);
  return {std::vector<std::uint8_t>(page->GetPKey(item.EntryNo),
                                    page->GetPKey(item.EntryNo) + page->KeyPrefixSize()),
          std::vector<std::uint8_t>(page->GetPReference(item.EntryNo),
                                    page->GetPReference(item.EntryNo) + page->ReferenceSize())};
}

}  // namespace vez::test
