// Bench support: the log's Data table (ID autoincrement, MeasurementID Float,
// Time DateTime, Power, Speed, Torque Float, IsError Boolean) with its
// primary index on (MeasurementID, Time) in a memory table, one local cursor
// open on it, and the readings a trial posts.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZMemoryTableData.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"

namespace vez::bench {

// Post(i) gives reading i to measurement 1 + i / ReadingsPerMeasurement (a
// constant, so that posting costs what it costs the log).
template <std::int32_t ReadingsPerMeasurement>
struct MemoryDataTable {
  TVEZMemoryDatabaseData db;
  test::TestSession session;
  test::TTestLocalCursor cursor;
  TVEZMemoryTableData* table = nullptr;
  std::int32_t off_measurement = 0, off_time = 0, off_power = 0, off_speed = 0, off_torque = 0,
               off_error = 0;
  MemoryDataTable() {
    db.ConnectSession(session);
    cursor.Session = &session;
    cursor.TableName = "Data";
    table = static_cast<TVEZMemoryTableData*>(db.FindOrCreateTableData(cursor));
    TVEZFieldDefs fields;
    auto add = [&](const char* name, TVEZAdvancedFieldType type) {
      TVEZFieldDef* def = fields.AddCreated();
      def->Name = name;
      def->SetFieldDefDataType(type, 0);
    };
    add("ID", aftAutoIncInteger);
    add("MeasurementID", aftDouble);
    add("Time", aftDateTime);
    add("Power", aftDouble);
    add("Speed", aftDouble);
    add("Torque", aftDouble);
    add("IsError", aftBoolean);
    TVEZIndexDefs indexes;
    TVEZIndexDef* index = indexes.AddCreated();
    index->Name = "Primary";
    index->AssignByNames({"MeasurementID", "Time"}, {"", ""}, {"", ""});
    index->Primary = true;
    TVEZConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    cursor.Open(*table);
    const TVEZFieldDefs& defs = table->FieldManager()->FieldDefs();
    off_measurement = defs.GetDef(1)->MemoryOffset;
    off_time = defs.GetDef(2)->MemoryOffset;
    off_power = defs.GetDef(3)->MemoryOffset;
    off_speed = defs.GetDef(4)->MemoryOffset;
    off_torque = defs.GetDef(5)->MemoryOffset;
    off_error = defs.GetDef(6)->MemoryOffset;
  }
  ~MemoryDataTable() {
    cursor.Close();
    db.DisconnectSession(session);
  }
  MemoryDataTable(const MemoryDataTable&) = delete;
  MemoryDataTable& operator=(const MemoryDataTable&) = delete;

  void Post(std::int64_t i) {
    cursor.NewRecord();
    std::uint8_t* r = cursor.CurrentRecordBuffer;
    const double measurement = static_cast<double>(1 + i / ReadingsPerMeasurement);
    // Readings 100 ms apart from 08:00 on 1 June 2026.
    const std::int64_t ms = 8LL * 3600000 + (i % ReadingsPerMeasurement) * 100;
    const TVEZDateTime time{739770 + static_cast<std::int32_t>(ms / 86400000),
                            static_cast<std::int32_t>(ms % 86400000)};
    const double power = 5000.0 + static_cast<double>(i % 97);
    const double speed = 90.0 + static_cast<double>(i % 13) / 10.0;
    const double torque = power / speed;
    std::memcpy(r + off_measurement, &measurement, 8);
    time.Encode(r + off_time);
    std::memcpy(r + off_power, &power, 8);
    std::memcpy(r + off_speed, &speed, 8);
    std::memcpy(r + off_torque, &torque, 8);
    r[off_error] = 0;
    for (std::int32_t f = 1; f <= 6; ++f)
      SetBufferBit(false, f, r);
    cursor.InternalPost(true);
    if (cursor.ErrorCode != cecOK) throw std::runtime_error("insert refused");
  }
};

}  // namespace vez::bench
