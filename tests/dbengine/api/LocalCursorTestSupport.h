// Test support for the local cursor: a Runs table (ID AutoInc, TrialID
// Integer NOT NULL, Name String(20), Note Blob, Power Double; index IX_Trial
// on TrialID), local sessions on the memory database and on files, and a
// cursor driven the way the dataset component drives it (its own record
// buffer and edit copy, bookmarks written after each read).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZLocalCursor.h"
#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez::test {

constexpr std::int32_t kRunID = 0, kRunTrial = 1, kRunName = 2, kRunNote = 3, kRunPower = 4;
inline constexpr const char* kRunIndex = "IX_Trial";

struct TRun {
  std::int64_t id = 0;
  std::int32_t trial = 0;
  std::string name;
  double power = 0;
  bool operator==(const TRun&) const = default;
};

inline void PrintTo(const TRun& r, std::ostream* os) {
  *os << "{" << r.id << "," << r.trial << ",'" << r.name << "'," << r.power << "}";
}

inline TVEZFieldDef* AddRunField(TVEZFieldDefs& defs, const std::string& name,
                                 TVEZAdvancedFieldType type, std::int32_t size = 0) {
  TVEZFieldDef* def = defs.AddCreated();
  def->Name = name;
  def->SetFieldDefDataType(type, size);
  return def;
}

inline void AddRunsDefs(TVEZFieldDefs& fields, TVEZIndexDefs& indexes,
                        TVEZConstraintDefs& constraints) {
  AddRunField(fields, "ID", aftAutoInc);
  AddRunField(fields, "TrialID", aftInteger);
  AddRunField(fields, "Name", aftString, 20);
  AddRunField(fields, "Note", aftBlob)->BLOBBlockSize = 512;
  AddRunField(fields, "Power", aftDouble);
  TVEZIndexDef* index = indexes.AddCreated();
  index->Name = kRunIndex;
  index->AssignByNames({"TrialID"}, {""}, {""});
  constraints.AddNotNull()->ColumnName = "TrialID";
}

// A local session of its own on the process's memory database or a file.
inline std::unique_ptr<TVEZLocalSession> MakeLocalSession(const std::string& alias,
                                                          const std::string& file,
                                                          bool multi_user = false) {
  auto session = std::make_unique<TVEZLocalSession>();
  session->DatabaseName = alias;
  session->DatabaseFileName = file;
  session->MultiUser = multi_user;
  session->PageSize = 4096;
  session->PageCountInExtent = 8;
  session->MaxSessionCount = 16;
  session->Durability = TVEZDurability::Off;
  return session;
}

// Creates the Runs table (or another of that layout) through a cursor.
inline void CreateRunsTable(TVEZBaseSession& session, const std::string& name = "Runs") {
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  AddRunsDefs(fields, indexes, constraints);
  TVEZLocalCursor cursor;
  cursor.Session = &session;
  cursor.TableName = name;
  cursor.CreateTable(fields, indexes, constraints);
}

// A cursor used as a dataset uses it.
class TCursorUser {
 public:
  TCursorUser(TVEZBaseSession& session, const std::string& table) {
    c.Session = &session;
    c.TableName = table;
  }
  ~TCursorUser() {
    c.CurrentRecordBuffer = nullptr;
    c.EditRecordBuffer = nullptr;
    c.FreeRecordBuffer(buffer_);
    c.FreeRecordBuffer(edit_);
  }
  TCursorUser(const TCursorUser&) = delete;
  TCursorUser& operator=(const TCursorUser&) = delete;

  void Open() {
    TVEZFieldDefs fields;
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    c.OpenTableByFieldDefs(fields, indexes, constraints);
    buffer_ = c.AllocateRecordBuffer();
    edit_ = c.AllocateRecordBuffer();
    c.CurrentRecordBuffer = buffer_;
  }

  // Reads as the dataset does: the record id goes into the bookmark with
  // flag 0.
  TVEZGetRecordResult Read(TVEZGetRecordMode mode) {
    c.CurrentRecordBuffer = buffer_;
    const TVEZGetRecordResult result = c.GetRecordBuffer(mode);
    if (result == grrOK) {
      c.CurrentRecordID.Encode(buffer_ + c.BookmarkOffset);
      buffer_[c.BookmarkOffset + TVEZPageItemID::kSize] = 0;
    }
    return result;
  }
  std::vector<TRun> All() {
    c.InternalFirst();
    std::vector<TRun> rows;
    while (Read(grmNext) == grrOK)
      rows.push_back(Get());
    return rows;
  }
  // Stands on the record with that ID; false when there is none.
  bool Seek(std::int64_t id) {
    c.InternalFirst();
    while (Read(grmNext) == grrOK)
      if (Get().id == id) return true;
    return false;
  }

  TRun Get() {
    TRun r;
    TVEZVariant id, trial, name, power;
    c.GetFieldValue(id, kRunID, true);
    r.id = id.GetIsNull() ? 0 : id.GetAsInteger();
    c.GetFieldValue(trial, kRunTrial, true);
    r.trial = trial.GetIsNull() ? 0 : trial.GetAsInteger();
    c.GetFieldValue(name, kRunName, true);
    r.name = name.GetIsNull() ? "" : name.GetAsAnsiString();
    c.GetFieldValue(power, kRunPower, true);
    r.power = power.GetIsNull() ? 0 : power.GetAsDouble();
    return r;
  }
  // Writes the values (ID only when set; TrialID NULL when null_trial).
  void Set(const TRun& r, bool null_trial = false) {
    // A value takes the type of the first value it is given: one per field.
    if (r.id != 0) {
      TVEZVariant v;
      v.SetAsInteger(static_cast<std::int32_t>(r.id));
      c.SetFieldValue(v, kRunID, true);
    }
    if (null_trial) {
      SetBufferBit(true, kRunTrial, buffer_);
    } else {
      TVEZVariant v;
      v.SetAsInteger(r.trial);
      c.SetFieldValue(v, kRunTrial, true);
    }
    TVEZVariant name;
    name.SetAsAnsiString(r.name);
    c.SetFieldValue(name, kRunName, true);
    TVEZVariant power;
    power.SetAsDouble(r.power);
    c.SetFieldValue(power, kRunPower, true);
  }

  // Insert and post; the result code.
  std::int32_t Insert(const TRun& r, bool null_trial = false) {
    c.CurrentRecordBuffer = buffer_;
    c.InternalInitRecord(buffer_, true);
    // The dataset's fresh record: no record yet, flag of a new record.
    std::memset(buffer_ + c.BookmarkOffset, 0xFF, TVEZPageItemID::kSize);
    buffer_[c.BookmarkOffset + TVEZPageItemID::kSize] = 3;
    c.InternalInsert();
    Set(r, null_trial);
    c.InternalPost(true);
    return c.ErrorCode;
  }
  // The edit as the dataset begins it: the pre-edit copy, then the cursor.
  std::int32_t Edit() {
    std::memcpy(edit_, buffer_, static_cast<std::size_t>(c.RecordSize));
    c.EditRecordBuffer = edit_;
    c.CurrentRecordBuffer = buffer_;
    c.InternalEdit();
    return c.ErrorCode;
  }
  std::int32_t Post() {
    c.CurrentRecordBuffer = buffer_;
    c.InternalPost(false);
    return c.ErrorCode;
  }
  std::int32_t Cancel(bool to_insert = false) {
    c.InternalCancel(to_insert);
    return c.ErrorCode;
  }
  std::int32_t Delete() {
    c.CurrentRecordBuffer = buffer_;
    c.InternalDelete();
    return c.ErrorCode;
  }
  TVEZPageItemID BookmarkID() const { return TVEZPageItemID::Decode(buffer_ + c.BookmarkOffset); }
  std::uint8_t BookmarkFlag() const { return buffer_[c.BookmarkOffset + TVEZPageItemID::kSize]; }
  std::uint8_t* Buffer() const { return buffer_; }

  TVEZLocalCursor c;

 private:
  std::uint8_t* buffer_ = nullptr;
  std::uint8_t* edit_ = nullptr;
};

}  // namespace vez::test
