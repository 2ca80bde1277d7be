// Test vehicle for disk tables: a database file with the log's Data table
// (ID AutoInc, MeasurementID Float, Time DateTime, Power, Speed, Torque Float,
// IsError Boolean; index IX_MeasTime on MeasurementID, Time), one session and
// local cursors over it, in one process or in a worker process.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "dbengine/storage/VEZDiskTableData.h"
#include "dbengine/storage/VEZRecordFieldData.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/dbengine/storage/MemoryTableTestSupport.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {

constexpr std::int32_t kDataID = 0, kDataMeasurement = 1, kDataTime = 2, kDataPower = 3,
                       kDataSpeed = 4, kDataTorque = 5, kDataIsError = 6;
inline constexpr const char* kDataIndexName = "IX_MeasTime";

struct TDataRow {
  std::int64_t id = 0;
  double measurement = 0;
  std::int32_t day = 0;
  std::int32_t ms = 0;
  double power = 0;
  double speed = 0;
  double torque = 0;
  bool is_error = false;

  auto Key() const { return std::make_tuple(measurement, day, ms); }
  bool operator==(const TDataRow&) const = default;
};

inline void AddDataTableDefs(TVEZFieldDefs& fields, TVEZIndexDefs& indexes) {
  AddField(fields, "ID", aftAutoInc);
  AddField(fields, "MeasurementID", aftDouble);
  AddField(fields, "Time", aftDateTime);
  AddField(fields, "Power", aftDouble);
  AddField(fields, "Speed", aftDouble);
  AddField(fields, "Torque", aftDouble);
  AddField(fields, "IsError", aftBoolean);
  AddIndexDef(indexes, kDataIndexName, {"MeasurementID", "Time"});
}

// Writes row into the cursor's current record (ID left NULL when 0, so the
// table gives it).
inline void FillDataRecord(TTestLocalCursor& c, const TDataRow& row) {
  const TVEZFieldDefs& defs = c.FieldDefs();
  std::uint8_t* rec = c.CurrentRecordBuffer;
  if (row.id != 0) {
    const auto id = static_cast<std::int32_t>(row.id);
    SetRecordFieldData(kDataID, defs, &id, rec);
  }
  SetRecordFieldData(kDataMeasurement, defs, &row.measurement, rec);
  std::uint8_t time[8];
  PutLE<std::int32_t>(time, row.day);
  PutLE<std::int32_t>(time + 4, row.ms);
  SetRecordFieldData(kDataTime, defs, time, rec);
  SetRecordFieldData(kDataPower, defs, &row.power, rec);
  SetRecordFieldData(kDataSpeed, defs, &row.speed, rec);
  SetRecordFieldData(kDataTorque, defs, &row.torque, rec);
  const std::int16_t flag = row.is_error ? 1 : 0;
  SetRecordFieldData(kDataIsError, defs, &flag, rec);
}

inline TDataRow ReadDataRecord(TTestLocalCursor& c) {
  const TVEZFieldDefs& defs = c.FieldDefs();
  const std::uint8_t* rec = c.CurrentRecordBuffer;
  TDataRow row;
  std::int32_t id = 0;
  GetRecordFieldData(kDataID, defs, &id, rec);
  row.id = id;
  GetRecordFieldData(kDataMeasurement, defs, &row.measurement, rec);
  std::uint8_t time[8] = {};
  GetRecordFieldData(kDataTime, defs, time, rec);
  row.day = GetLE<std::int32_t>(time);
  row.ms = GetLE<std::int32_t>(time + 4);
  GetRecordFieldData(kDataPower, defs, &row.power, rec);
  GetRecordFieldData(kDataSpeed, defs, &row.speed, rec);
  GetRecordFieldData(kDataTorque, defs, &row.torque, rec);
  std::int16_t flag = 0;
  GetRecordFieldData(kDataIsError, defs, &flag, rec);
  row.is_error = flag != 0;
  return row;
}

// The n-th reading of measurement m.
inline TDataRow MakeDataRow(double m, std::int32_t n) {
  TDataRow r;
  r.measurement = m;
  r.day = 740000 + n / 86400;
  r.ms = (n % 86400) * 1000;
  r.power = 1000.0 + n;
  r.speed = 80.0 + (n % 50);
  r.torque = 120.5 + (n % 7);
  r.is_error = n % 11 == 0;
  return r;
}

// A database file of its own, opened by one session of this process.
class TDiskTableEnv {
 public:
  // Creates the file first when create is set; a password encrypts it (or
  // opens an encrypted one).
  TDiskTableEnv(const std::string& path, bool create, bool multi_user,
                TVEZDurability durability = TVEZDurability::Off, std::int32_t max_sessions = 16,
                const TVEZPassword& password = {})
      : scoped_(&services_) {
    db_ = std::make_unique<TVEZDiskDatabaseData>(path);
    db_->SetPassword(password);
    db_->SetMaxSessionCount(max_sessions);
    db_->SetPageSize(4096);
    db_->SetPageCountInExtent(8);
    db_->SetDurability(durability);
    if (create) db_->CreateDatabase();
    session_.MultiUser = multi_user;
    db_->ConnectSession(session_);
  }
  ~TDiskTableEnv() {
    cursors_.clear();
    try {
      db_->DisconnectSession(session_);
    } catch (...) {
    }
  }
  TDiskTableEnv(const TDiskTableEnv&) = delete;
  TDiskTableEnv& operator=(const TDiskTableEnv&) = delete;

  TVEZDiskDatabaseData& Db() { return *db_; }
  TestSession& Session() { return session_; }

  // The table data of name.
  TVEZDiskTableData& Table(const std::string& name) {
    TTestLocalCursor probe;
    probe.TableName = name;
    return static_cast<TVEZDiskTableData&>(*db_->FindOrCreateTableData(probe));
  }
  // A cursor of this session for table name, not open.
  TTestLocalCursor& NewCursor(const std::string& name, bool exclusive = false) {
    auto cursor = std::make_unique<TTestLocalCursor>();
    cursor->Session = &session_;
    cursor->TableName = name;
    cursor->Exclusive = exclusive;
    cursors_.push_back(std::move(cursor));
    return *cursors_.back();
  }
  void CreateDataTable(const std::string& name = "Data") {
    TVEZFieldDefs fields;
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    AddDataTableDefs(fields, indexes);
    TTestLocalCursor& c = NewCursor(name);
    Table(name).CreateTable(&c, fields, indexes, constraints);
    DropCursor(c);
  }
  // A new cursor open on table name.
  TTestLocalCursor& Open(const std::string& name = "Data", bool exclusive = false) {
    TTestLocalCursor& c = NewCursor(name, exclusive);
    c.Open(Table(name));
    c.NewRecord();
    return c;
  }
  void DropCursor(TTestLocalCursor& cursor) {
    for (auto it = cursors_.begin(); it != cursors_.end(); ++it) {
      if (it->get() == &cursor) {
        cursors_.erase(it);
        return;
      }
    }
  }

  // Posts row through the cursor; the new ID, or -ErrorCode - 1000 when refused.
  static std::int64_t Append(TTestLocalCursor& c, const TDataRow& row) {
    c.NewRecord();
    FillDataRecord(c, row);
    c.InternalPost(true);
    if (c.ErrorCode != cecOK) return -1000 - c.ErrorCode;
    return ReadDataRecord(c).id;
  }
  // Every row in the order of index index_id (-1: storage order).
  static std::vector<TDataRow> ReadAll(TTestLocalCursor& c, std::int32_t index_id = -1) {
    c.IndexID = index_id;
    c.FirstPosition = true;
    c.LastPosition = false;
    if (c.CurrentRecordBuffer == nullptr) c.CurrentRecordBuffer = c.AllocateRecordBuffer();
    std::vector<TDataRow> rows;
    while (c.GetRecordBuffer(grmNext) == grrOK)
      rows.push_back(ReadDataRecord(c));
    return rows;
  }
  static std::int32_t IndexID(TTestLocalCursor& c, const std::string& name) {
    return c.IndexDefs().GetIndexDefByName(name)->ObjectID;
  }

 private:
  TMemoryTestServices services_;
  TScopedSessionLayerServices scoped_;
  std::unique_ptr<TVEZDiskDatabaseData> db_;
  TestSession session_;
  std::vector<std::unique_ptr<TTestLocalCursor>> cursors_;
};

}  // namespace vez::test
