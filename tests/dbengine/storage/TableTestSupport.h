// Test vehicle for the table core: a database data that hands out object ids,
// a table data over a vector-backed record manager, and an index kept as a
// sorted vector of (full key, record id) entries built with the table's real
// record keys. The engines' own classes come later; these do the least the
// base classes need, so the tests exercise the base behaviour.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZBTreeKey.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZTableData.h"
#include "tests/dbengine/storage/MemoryPageStorage.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"

namespace vez::test {

// Records in slots of a vector; a deleted slot is empty. Identity (slot, 0).
class TVectorRecordManager : public TVEZBaseRecordManager {
 public:
  explicit TVectorRecordManager(std::int32_t record_size) { RecordBufferSize = record_size; }

  std::vector<std::optional<Bytes>> slots;
  bool refuse_add = false;

  void Empty(std::int32_t) override {
    slots.clear();
    RecordCount = 0;
    IncTableState();
  }
  bool AddRecord(std::int32_t, const std::uint8_t* record, TVEZPageItemID& id) override {
    if (refuse_add) return false;
    slots.emplace_back(Bytes(record, record + RecordBufferSize));
    id = {static_cast<std::int32_t>(slots.size() - 1), 0};
    ++RecordCount;
    IncTableState();
    return true;
  }
  bool UpdateRecord(std::int32_t, const std::uint8_t* record, TVEZPageItemID id) override {
    if (!Live(id.PageNo)) return false;
    slots[static_cast<std::size_t>(id.PageNo)] = Bytes(record, record + RecordBufferSize);
    IncTableState();
    return true;
  }
  bool DeleteRecord(std::int32_t, TVEZPageItemID& id) override {
    if (!Live(id.PageNo)) return false;
    slots[static_cast<std::size_t>(id.PageNo)].reset();
    --RecordCount;
    IncTableState();
    return true;
  }
  void GetRecordBuffer(std::int32_t, TVEZNavigationInfo& info) override {
    const auto n = static_cast<std::int32_t>(slots.size());
    if (RecordCount == 0) {
      info.GetRecordResult = grrEOF;
      return;
    }
    std::int32_t s = info.RecordID.PageNo;
    if (info.GetRecordMode == grmCurrent) {
      info.GetRecordResult = Live(s) ? grrOK : grrError;
    } else if (info.GetRecordMode == grmNext) {
      if (info.LastPosition) {
        info.GetRecordResult = grrEOF;
        return;
      }
      s = info.FirstPosition ? 0 : s + 1;
      while (s < n && !Live(s))
        ++s;
      info.GetRecordResult = s < n ? grrOK : grrEOF;
    } else {
      if (info.FirstPosition) {
        info.GetRecordResult = grrBOF;
        return;
      }
      s = info.LastPosition ? n - 1 : s - 1;
      while (s >= 0 && !Live(s))
        --s;
      info.GetRecordResult = s >= 0 ? grrOK : grrBOF;
    }
    if (info.GetRecordResult == grrOK) {
      info.RecordID = {s, 0};
      info.FirstPosition = info.LastPosition = false;
      std::memcpy(info.RecordBuffer, slots[static_cast<std::size_t>(s)]->data(),
                  static_cast<std::size_t>(RecordBufferSize));
    } else if (info.GetRecordResult == grrEOF) {
      info.LastPosition = true;
    } else if (info.GetRecordResult == grrBOF) {
      info.FirstPosition = true;
    }
  }
  std::int32_t CompareRecordID(const TVEZPageItemID& a, const TVEZPageItemID& b) override {
    return (a.PageNo > b.PageNo) - (a.PageNo < b.PageNo);
  }
  std::int64_t GetApproximateRecNo(std::int32_t, TVEZPageItemID id) override {
    return id.PageNo + 1;
  }

  bool Live(std::int32_t s) const {
    return s >= 0 && static_cast<std::size_t>(s) < slots.size() &&
           slots[static_cast<std::size_t>(s)].has_value();
  }
};

struct TFakeIndexEntry {
  Bytes key;  // full key
  TVEZPageItemID id;
};

// Entries of every index of one table, kept by index id so that they outlive
// the index objects (which the manager opens and closes at will).
struct TFakeIndexStore {
  std::map<std::int32_t, std::vector<TFakeIndexEntry>> entries;
  int rebuilds = 0;
};

// An index as a sorted vector over the table's real record keys.
class TFakeIndex : public TVEZIndex {
 public:
  TFakeIndex(TVEZBaseIndexManager* manager, TFakeIndexStore& store)
      : TVEZIndex(manager), store_(store) {}

  void CreateIndex(TVEZCursor* cursor, TVEZIndexDef& def) override {
    TVEZIndex::CreateIndex(cursor, def);
    Layout();
    Entries().clear();
    Fill();
    def.RootPageNo = 100 + def.ObjectID;
  }
  void OpenIndex(const TVEZIndexDef& def) override {
    TVEZIndex::OpenIndex(def);
    Layout();
  }
  void DropIndex(std::int32_t) override { store_.entries.erase(IndexDef()->ObjectID); }
  void EmptyIndex(std::int32_t) override { Entries().clear(); }
  void RebuildTemporaryIndex(TVEZCursor*) override {
    ++store_.rebuilds;
    Entries().clear();
    Fill();
  }
  void GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info, TVEZIndexPositionCache*,
                       std::int32_t) override {
    auto& e = Entries();
    const auto n = static_cast<std::int32_t>(e.size());
    std::int32_t p;
    if (info.FirstPosition)
      p = info.GetRecordMode == grmNext ? 0 : -1;
    else if (info.LastPosition)
      p = info.GetRecordMode == grmPrior ? n - 1 : n;
    else
      p = Find(info.RecordID) + (info.GetRecordMode == grmNext ? 1 : -1);
    if (p < 0) {
      info.GetRecordResult = grrBOF;
      info.FirstPosition = true;
      return;
    }
    if (p >= n) {
      info.GetRecordResult = grrEOF;
      info.LastPosition = true;
      return;
    }
    info.RecordID = e[static_cast<std::size_t>(p)].id;
    info.FirstPosition = info.LastPosition = false;
    info.GetRecordResult = Table().ReadRecord(session_id, info.RecordID, info.RecordBuffer);
  }
  void GetClosestRecordBuffer(std::int32_t, TVEZNavigationInfo& info, TVEZIndexPositionCache*,
                              std::int32_t) override {
    info.GetRecordResult = grrError;
  }
  std::unique_ptr<TVEZKeyPath> CreateIndexPosition() override { return nullptr; }
  bool GetIndexPosition(std::int32_t, TVEZPageItemID, const std::uint8_t*, TVEZKeyPath&) override {
    return false;
  }
  std::int32_t CompareRecordPositionsInIndex(const TVEZKeyPath&, const TVEZKeyPath&) override {
    return 0;
  }
  std::int64_t GetRecNoByRecordID(std::int32_t, TVEZPageItemID id, const std::uint8_t*) override {
    const std::int32_t p = Find(id);
    return p < 0 ? -1 : p + 1;
  }
  TVEZPageItemID GetRecordIDByRecNo(std::int32_t, std::int64_t rec_no) override {
    return Entries().at(static_cast<std::size_t>(rec_no - 1)).id;
  }
  void ApplyDistinctToRecordBitmap(std::int32_t, TVEZRecordBitmap&, std::int32_t) override {}
  std::unique_ptr<TVEZIndexSearchInfo> CreateSearchInfo() override { return nullptr; }
  bool FindRecord(std::int32_t, bool, bool, const TVEZScanSearchCondition*,
                  const TVEZScanSearchCondition*, std::uint8_t*, TVEZPageItemID&,
                  TVEZIndexSearchInfo*) override {
    return false;
  }
  std::int32_t CompareRecordBuffersByIndex(const std::uint8_t*, const std::uint8_t*,
                                           std::int32_t) override {
    return 0;
  }
  std::int32_t CompareConditions(const TVEZScanSearchCondition&,
                                 const TVEZScanSearchCondition&) override {
    return 0;
  }
  std::int64_t GetApproxRangeRecordCount(std::int32_t, std::int64_t, const TVEZScanSearchCondition*,
                                         const TVEZScanSearchCondition*) override {
    return 0;
  }
  bool CanInsertRecord(std::int32_t, const std::uint8_t* record) override {
    if (!IndexDef()->Unique && !IndexDef()->Primary) return true;
    const Bytes key = KeyOf(record);
    return std::none_of(Entries().begin(), Entries().end(),
                        [&](const TFakeIndexEntry& e) { return Compare(e.key, key) == 0; });
  }
  bool CanUpdateRecord(std::int32_t s, const std::uint8_t* old_record,
                       const std::uint8_t* new_record) override {
    if (Compare(KeyOf(old_record), KeyOf(new_record)) == 0) return true;
    return CanInsertRecord(s, new_record);
  }
  void InsertRecord(TVEZCursor& cursor) override {
    Add(KeyOf(cursor.CurrentRecordBuffer), cursor.CurrentRecordID);
  }
  void DeleteRecord(TVEZCursor& cursor) override { Remove(cursor.CurrentRecordID); }
  void UpdateRecord(TVEZCursor& cursor, bool before) override {
    if (before)
      Remove(cursor.CurrentRecordID);
    else
      Add(KeyOf(cursor.CurrentRecordBuffer), cursor.CurrentRecordID);
  }
  std::int32_t GetMaxEntriesPerPage() override { return 10; }
  void GetRecordIDByIndexPosition(std::int32_t, const TVEZKeyPath&, TVEZPageItemID&) override {}

  std::vector<TFakeIndexEntry>& Entries() { return store_.entries[IndexDef()->ObjectID]; }

 private:
  TVEZTableData& Table() { return *IndexManager()->TableData(); }
  void Layout() { key_ref_.Assign(*IndexDef(), &Table()); }
  Bytes KeyOf(const std::uint8_t* record) const {
    Bytes key(static_cast<std::size_t>(key_ref_.FullKeySize()));
    key_ref_.MakeFullKeyFromRecordBuffer(record, key.data());
    return key;
  }
  std::int32_t Compare(const Bytes& a, const Bytes& b) {
    return key_ref_.CompareFullKeys(a.data(), b.data());
  }
  void Add(Bytes key, TVEZPageItemID id) {
    auto& e = Entries();
    auto it = std::upper_bound(
        e.begin(), e.end(), key,
        [&](const Bytes& k, const TFakeIndexEntry& x) { return Compare(k, x.key) < 0; });
    e.insert(it, {std::move(key), id});
  }
  void Remove(TVEZPageItemID id) {
    std::erase_if(Entries(), [&](const TFakeIndexEntry& x) { return x.id == id; });
  }
  std::int32_t Find(TVEZPageItemID id) {
    auto& e = Entries();
    for (std::size_t i = 0; i < e.size(); ++i)
      if (e[i].id == id) return static_cast<std::int32_t>(i);
    return -1;
  }
  void Fill() {
    TVEZBaseRecordManager* records = Table().RecordManager();
    if (records == nullptr) return;
    Bytes buffer(static_cast<std::size_t>(records->RecordBufferSize));
    TVEZNavigationInfo info;
    info.GetRecordMode = grmNext;
    info.FirstPosition = true;
    info.RecordBuffer = buffer.data();
    for (;;) {
      records->GetRecordBuffer(-2, info);
      if (info.GetRecordResult != grrOK) break;
      Add(KeyOf(buffer.data()), info.RecordID);
    }
  }

  TFakeIndexStore& store_;
  TVEZRecordKeyRef key_ref_;
};

class TFakeIndexManager : public TVEZBaseIndexManager {
 public:
  TFakeIndexManager(TVEZTableData* table, TFakeIndexStore& store)
      : TVEZBaseIndexManager(table, nullptr), store_(store) {}

 protected:
  std::unique_ptr<TVEZIndex> NewIndex() override {
    return std::make_unique<TFakeIndex>(this, store_);
  }

 private:
  TFakeIndexStore& store_;
};

class TTestTableData : public TVEZTableData {
 public:
  using TVEZTableData::TVEZTableData;

  TFakeIndexStore index_store;
  std::vector<std::int32_t> cleared_blob_fields;
  bool fake_indexes = true;
  std::unique_ptr<TMemoryPageStorage> own_pages;

  // Real B-tree indexes on pages of page_size bytes. Call before CreateTable.
  void UseBTreeIndexes(std::uint16_t page_size) {
    fake_indexes = false;
    own_pages = std::make_unique<TMemoryPageStorage>(page_size, 40);
    own_pages->SetCacheCapacity(4000);
    SetPageManager(own_pages.get());
  }
  // As the memory engine: changed pages are applied after every operation.
  void Apply(TVEZCursor* cursor) {
    const bool in_transaction =
        cursor != nullptr && cursor->Session != nullptr && cursor->Session->InTransaction;
    ApplyChanges(SessionIDOf(cursor), in_transaction);
  }
  void AddIndex(TVEZIndexDef& index_def, TVEZCursor* cursor) override {
    TVEZTableData::AddIndex(index_def, cursor);
    Apply(cursor);
  }

  TVectorRecordManager& Records() { return static_cast<TVectorRecordManager&>(*RecordManager()); }

  void CreateRecordManager() override {
    FRecordManager = std::make_unique<TVectorRecordManager>(GetRecordBufferSize());
  }
  void CreateTable(TVEZCursor* cursor, TVEZFieldDefs& fields, TVEZIndexDefs& indexes,
                   TVEZConstraintDefs& constraints) override {
    if (cursor != nullptr) SetTableName(cursor->TableName);
    CreateFieldManager(fields);
    CreateIndexManager(indexes);
    CreateConstraintManager(constraints);
    CreateRecordManager();
    if (cursor != nullptr) InitCursorRecordLayout(*cursor);
    IndexManager()->CreateIndexesByIndexDefs(cursor);
    Apply(cursor);
  }
  std::int64_t GetApproximateRecordCount(std::int32_t) override {
    return RecordManager()->RecordCount;
  }
  std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID id) override { return id.PageNo; }
  TVEZPageItemID ApproximateRecNoToRecordID(std::int64_t v) override {
    return {static_cast<std::int32_t>(v), 0};
  }
  void WriteBLOBFieldToRecordBuffer(TVEZCursor&, std::int32_t, TVEZStream&) override {}
  void ClearBLOBFieldInRecordBuffer(std::uint8_t*, std::int32_t field_no) override {
    cleared_blob_fields.push_back(field_no);
  }
  std::unique_ptr<TVEZStream> InternalCreateBlobStream(TVEZCursor&, bool, std::int32_t,
                                                       TVEZBLOBOpenMode) override {
    return nullptr;
  }
  void GetDirectBlobData(TVEZCursor&, std::int32_t, std::uint8_t*,
                         TVEZPartialTemporaryBLOBDescriptor&, std::uint8_t*&) override {}
  void SetDirectBlobData(TVEZCursor&, std::int32_t, std::uint8_t*,
                         TVEZPartialTemporaryBLOBDescriptor&, std::uint8_t*&) override {}
  void FreeDirectBlobData(TVEZCursor&, std::int32_t, std::uint8_t*,
                          TVEZPartialTemporaryBLOBDescriptor&, std::uint8_t*&) override {}
  void InternalSetRecNo(TVEZCursor& cursor, std::int64_t rec_no) override {
    std::int64_t seen = 0;
    for (std::size_t s = 0; s < Records().slots.size(); ++s) {
      if (Records().slots[s] && ++seen == rec_no) {
        cursor.CurrentRecordID = {static_cast<std::int32_t>(s), 0};
        return;
      }
    }
  }
  std::int64_t InternalGetRecNo(TVEZCursor& cursor) override {
    std::int64_t seen = 0;
    for (std::int32_t s = 0; s <= cursor.CurrentRecordID.PageNo; ++s)
      if (Records().Live(s)) ++seen;
    return seen;
  }
  std::int64_t InternalGetRecordCount(TVEZCursor&) override { return RecordManager()->RecordCount; }

 protected:
  std::unique_ptr<TVEZBaseIndexManager> NewIndexManager() override {
    if (!fake_indexes) return TVEZTableData::NewIndexManager();
    return std::make_unique<TFakeIndexManager>(this, index_store);
  }
};

class TTestDatabaseData : public TVEZDatabaseData {
 public:
  std::int32_t last_id = 0;
  TVEZTableData* CreateTableData(TVEZCursor& cursor) override {
    auto table = std::make_unique<TTestTableData>(this);
    table->SetTableName(cursor.TableName);
    return AddTableData(std::move(table));
  }
  std::int32_t GetNewObjectId() override { return ++last_id; }
};

// Field defs built by a short description.
inline TVEZFieldDef* AddField(TVEZFieldDefs& defs, const std::string& name,
                              TVEZAdvancedFieldType type, std::int32_t size = 0) {
  TVEZFieldDef* def = defs.AddCreated();
  def->Name = name;
  def->SetFieldDefDataType(type, size);
  return def;
}

inline TVEZIndexDef* AddIndexDef(TVEZIndexDefs& defs, const std::string& name,
                                 const std::vector<std::string>& fields, bool unique = false,
                                 bool primary = false) {
  TVEZIndexDef* def = defs.AddCreated();
  def->Name = name;
  def->AssignByNames(fields, std::vector<std::string>(fields.size()),
                     std::vector<std::string>(fields.size()));
  def->Unique = unique;
  def->Primary = primary;
  return def;
}

// A cursor opened on a table data of the test database: its defs and layout
// follow the table's, with one record buffer.
class TTableCursor : public TestCursor {
 public:
  ~TTableCursor() override { FreeRecordBuffer(CurrentRecordBuffer); }
  void Attach(TVEZTableData& table) {
    FieldDefs().Assign(table.FieldManager()->FieldDefs());
    IndexDefs().Assign(table.IndexManager()->IndexDefs());
    SetUpLayout();
    FreeRecordBuffer(CurrentRecordBuffer);
    CurrentRecordBuffer = AllocateRecordBuffer();
    FirstPosition = true;
    LastPosition = false;
  }
  // An empty record in CurrentRecordBuffer.
  void NewRecord() { InternalInitRecord(CurrentRecordBuffer, true); }
  void SetInt(std::int32_t field_no, std::int32_t v) {
    TVEZVariant value(bftSignedInt32);
    value.SetAsInteger(v);
    SetFieldValue(value, field_no, true);
  }
  void SetText(std::int32_t field_no, const std::string& v) {
    TVEZVariant value(bftVarchar);
    value.SetAsAnsiString(v);
    SetFieldValue(value, field_no, true);
  }
  std::int32_t GetInt(std::int32_t field_no) {
    TVEZVariant value;
    GetFieldValue(value, field_no, true);
    return value.GetIsNull() ? -999 : value.GetAsInteger();
  }
};

}  // namespace vez::test
