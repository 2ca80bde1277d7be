// Test helper shared by the tests and the worker process: a database file
// reached through a disk database data, one session of this process, and the
// log's Data table (ID AutoInc, MeasurementID Float, Time DateTime, Power,
// Speed, Torque Float, IsError Boolean; index IX_MeasTime on MeasurementID,
// Time) with local cursors over it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "dbengine/storage/VEZRecordFieldData.h"
#include "tests/common/VEZTestLocalCursor.h"

namespace vez::test::datatable {

constexpr std::int32_t kID = 0, kMeasurement = 1, kTime = 2, kPower = 3, kSpeed = 4, kTorque = 5,
                       kIsError = 6;
inline constexpr const char* kIndexName = "IX_MeasTime";

struct TRow {
  std::int64_t id = 0;
  double measurement = 0;
  std::int32_t day = 0;
  std::int32_t ms = 0;
  double power = 0;
  double speed = 0;
  double torque = 0;
  bool is_error = false;
  bool operator==(const TRow&) const = default;
};

inline void AddDefs(TVEZFieldDefs& fields, TVEZIndexDefs& indexes) {
  const auto field = [&](const char* name, TVEZAdvancedFieldType type) {
    TVEZFieldDef* def = fields.AddCreated();
    def->Name = name;
    def->SetFieldDefDataType(type, 0);
  };
  field("ID", aftAutoInc);
  field("MeasurementID", aftDouble);
  field("Time", aftDateTime);
  field("Power", aftDouble);
  field("Speed", aftDouble);
  field("Torque", aftDouble);
  field("IsError", aftBoolean);
  TVEZIndexDef* index = indexes.AddCreated();
  index->Name = kIndexName;
  const std::vector<std::string> columns = {"MeasurementID", "Time"};
  index->AssignByNames(columns, std::vector<std::string>(2), std::vector<std::string>(2));
}

// The n-th reading of measurement m.
inline TRow MakeRow(double m, std::int32_t n) {
  TRow r;
  r.measurement = m;
  r.day = 740000 + n / 86400;
  r.ms = (n % 86400) * 1000;
  r.power = 1000.0 + n;
  r.speed = 80.0 + (n % 50);
  r.torque = 120.5 + (n % 7);
  r.is_error = n % 11 == 0;
  return r;
}

// Writes row into the cursor's current record (ID left NULL when 0, so the
// table gives it).
inline void Fill(TTestLocalCursor& c, const TRow& row) {
  const TVEZFieldDefs& defs = c.FieldDefs();
  std::uint8_t* rec = c.CurrentRecordBuffer;
  if (row.id != 0) {
    const auto id = static_cast<std::int32_t>(row.id);
    SetRecordFieldData(kID, defs, &id, rec);
  }
  SetRecordFieldData(kMeasurement, defs, &row.measurement, rec);
  std::uint8_t time[8];
  PutLE<std::int32_t>(time, row.day);
  PutLE<std::int32_t>(time + 4, row.ms);
  SetRecordFieldData(kTime, defs, time, rec);
  SetRecordFieldData(kPower, defs, &row.power, rec);
  SetRecordFieldData(kSpeed, defs, &row.speed, rec);
  SetRecordFieldData(kTorque, defs, &row.torque, rec);
  const std::int16_t flag = row.is_error ? 1 : 0;
  SetRecordFieldData(kIsError, defs, &flag, rec);
}

inline TRow Read(TTestLocalCursor& c) {
  const TVEZFieldDefs& defs = c.FieldDefs();
  const std::uint8_t* rec = c.CurrentRecordBuffer;
  TRow row;
  std::int32_t id = 0;
  GetRecordFieldData(kID, defs, &id, rec);
  row.id = id;
  GetRecordFieldData(kMeasurement, defs, &row.measurement, rec);
  std::uint8_t time[8] = {};
  GetRecordFieldData(kTime, defs, time, rec);
  row.day = GetLE<std::int32_t>(time);
  row.ms = GetLE<std::int32_t>(time + 4);
  GetRecordFieldData(kPower, defs, &row.power, rec);
  GetRecordFieldData(kSpeed, defs, &row.speed, rec);
  GetRecordFieldData(kTorque, defs, &row.torque, rec);
  std::int16_t flag = 0;
  GetRecordFieldData(kIsError, defs, &flag, rec);
  row.is_error = flag != 0;
  return row;
}

// A session whose transaction calls go to its database data, as the local
// session's do.
class TSession : public TVEZBaseSession {
 public:
  TVEZDatabaseData* database_data = nullptr;

  bool GetConnected() override { return false; }
  void SetConnected(bool) override {}
  bool GetSuppressDBHeaderErrors() override { return false; }
  void SetSuppressDBHeaderErrors(bool) override {}
  void CreateDatabase() override {}
  void DeleteDatabase() override {}
  void RenameDatabase(const std::string&) override {}
  void GetTablesList(std::vector<std::string>& list) override {
    list.clear();
    database_data->GetTablesList(list);
  }
  bool TableExists(const std::string& name) override { return database_data->TableExists(name); }
  void StartTransaction() override { InTransaction = true; }
  void Commit(bool do_flush_buffers) override {
    database_data->Commit(SessionID, do_flush_buffers);
    InTransaction = false;
  }
  void Rollback() override {
    database_data->Rollback(SessionID);
    InTransaction = false;
  }
  void FlushBuffers() override { database_data->FlushBuffers(); }
};

// Creates a database file of 4096-byte pages, left closed.
inline void CreateDatabaseFile(const std::string& path, std::int32_t max_sessions = 16) {
  TVEZDiskDatabaseData db(path);
  db.SetMaxSessionCount(max_sessions);
  db.SetPageSize(4096);
  db.SetPageCountInExtent(8);
  db.SetDurability(TVEZDurability::Off);
  db.CreateDatabase();
}

// One session of this process connected to a database file, with cursors on
// its tables. The destructor closes the cursors and disconnects.
class TConnection {
 public:
  TConnection(const std::string& path, bool multi_user,
              TVEZDurability durability = TVEZDurability::Off)
      : scoped_(&services_), db_(std::make_unique<TVEZDiskDatabaseData>(path)) {
    db_->SetDurability(durability);
    session_.database_data = db_.get();
    session_.MultiUser = multi_user;
    db_->ConnectSession(session_);
  }
  ~TConnection() {
    cursors_.clear();
    try {
      db_->DisconnectSession(session_);
    } catch (const EVEZException&) {
      // The file's handle goes with the database data.
    }
  }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  TVEZDiskDatabaseData& Db() { return *db_; }
  TSession& Session() { return session_; }

  // A cursor of this session for table name, not open.
  TTestLocalCursor& NewCursor(const std::string& name) {
    auto cursor = std::make_unique<TTestLocalCursor>();
    cursor->Session = &session_;
    cursor->TableName = name;
    cursors_.push_back(std::move(cursor));
    return *cursors_.back();
  }
  void CreateDataTable(const std::string& name = "Data") {
    TVEZFieldDefs fields;
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    AddDefs(fields, indexes);
    TTestLocalCursor& c = NewCursor(name);
    db_->FindOrCreateTableData(c)->CreateTable(&c, fields, indexes, constraints);
    cursors_.pop_back();
  }
  // A new cursor open on table name, with a record buffer.
  TTestLocalCursor& Open(const std::string& name = "Data") {
    TTestLocalCursor& c = NewCursor(name);
    c.Open(*db_->FindOrCreateTableData(c));
    c.NewRecord();
    return c;
  }

  // Posts row through the cursor; the new ID, or -1000 - ErrorCode when
  // refused.
  static std::int64_t Append(TTestLocalCursor& c, const TRow& row) {
    c.NewRecord();
    Fill(c, row);
    c.InternalPost(true);
    if (c.ErrorCode != cecOK) return -1000 - c.ErrorCode;
    return Read(c).id;
  }
  // Every row in the order of index index_id (-1: storage order).
  static std::vector<TRow> ReadAll(TTestLocalCursor& c, std::int32_t index_id = -1) {
    c.IndexID = index_id;
    c.FirstPosition = true;
    c.LastPosition = false;
    if (c.CurrentRecordBuffer == nullptr) c.CurrentRecordBuffer = c.AllocateRecordBuffer();
    std::vector<TRow> rows;
    while (c.GetRecordBuffer(grmNext) == grrOK)
      rows.push_back(Read(c));
    return rows;
  }

 private:
  TTestSessionLayerServices services_;
  TScopedSessionLayerServices scoped_;
  std::unique_ptr<TVEZDiskDatabaseData> db_;
  TSession session_;
  std::vector<std::unique_ptr<TTestLocalCursor>> cursors_;
};

}  // namespace vez::test::datatable
