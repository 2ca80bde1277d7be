// TVEZBaseSession: the abstract session, one user's connection to one
// database, with its transaction state and its per-session named objects (the
// last autoincrement values the session produced). The session and dataset
// layer implements the abstract operations in its local session; the storage
// engine reads the fields and calls the operations through this class.
//
// Thread safety: a session is used by one thread at a time and takes no locks
// of its own; the database data's lock guards the shared state it reaches.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"

namespace vez {

// Identifies the session component that owns a session; it has no fields or
// operations, only an identity.
class TVEZSessionComponentManager {
 public:
  TVEZSessionComponentManager() = default;
  TVEZSessionComponentManager(const TVEZSessionComponentManager&) = delete;
  TVEZSessionComponentManager& operator=(const TVEZSessionComponentManager&) = delete;
};

// An object a session keeps by id and name.
class TVEZSessionNamedObject {
 public:
  explicit TVEZSessionNamedObject(std::int32_t object_id) : ObjectID(object_id) {}
  virtual ~TVEZSessionNamedObject() = default;
  TVEZSessionNamedObject(const TVEZSessionNamedObject&) = delete;
  TVEZSessionNamedObject& operator=(const TVEZSessionNamedObject&) = delete;

  std::int32_t ObjectID;
  std::string Name;  // at most 255 characters
};

// The last autoincrement value the session produced for the field whose
// ObjectID it carries.
class TVEZSessionNamedObjectSequenceValue : public TVEZSessionNamedObject {
 public:
  TVEZSessionNamedObjectSequenceValue(std::int32_t object_id, std::int64_t value)
      : TVEZSessionNamedObject(object_id), Value(value) {}

  std::int64_t Value;
};

class TVEZBaseSession {
 public:
  // Empty named-object list, SessionID -1, not in a transaction.
  TVEZBaseSession() = default;
  // Frees the named objects; does not disconnect.
  virtual ~TVEZBaseSession() = default;
  TVEZBaseSession(const TVEZBaseSession&) = delete;
  TVEZBaseSession& operator=(const TVEZBaseSession&) = delete;

  // --- Abstract operations (implemented by the local session) ---

  // Whether the session is connected to its database.
  virtual bool GetConnected() = 0;
  // Connects (opening the database data, taking a session id) or
  // disconnects. Errors of opening the file pass through.
  virtual void SetConnected(bool value) = 0;
  virtual bool GetSuppressDBHeaderErrors() = 0;
  // While set, pages whose header is not as expected are accepted.
  virtual void SetSuppressDBHeaderErrors(bool value) = 0;
  // Creates the database file with the session's settings; refuses a file
  // that is already open in the process.
  virtual void CreateDatabase() = 0;
  virtual void DeleteDatabase() = 0;
  virtual void RenameDatabase(const std::string& new_database_file_name) = 0;
  // Replaces list's contents by the names of the database's tables.
  virtual void GetTablesList(std::vector<std::string>& list) = 0;
  virtual bool TableExists(const std::string& table_name) = 0;

  // --- Named objects (base) ---

  // The session takes ownership of value. An object already held with the
  // same identity (its name when value's ObjectID is -1, else its id) is
  // freed and removed first; then value is appended. Passing an object the
  // session already holds changes nothing. Null is ignored.
  virtual void SetObject(std::unique_ptr<TVEZSessionNamedObject> value);
  // The first object whose name equals object_name after upper-casing both,
  // or null. The object stays owned by the session.
  virtual TVEZSessionNamedObject* GetObjectByName(std::string_view object_name) const;
  // The first object with that id, or null.
  virtual TVEZSessionNamedObject* GetObjectByID(std::int32_t id) const;
  // Frees and removes the object with that id; nothing when there is none.
  virtual void DeleteObject(std::int32_t id);

  // --- Abstract transaction operations ---

  // Starts a transaction: changes stay the session's until Commit.
  virtual void StartTransaction() = 0;
  // Makes the transaction's changes durable (writing the session's pages;
  // with do_flush_buffers also flushing the file) and ends it. Outside a
  // transaction raises 20229.
  virtual void Commit(bool do_flush_buffers) = 0;
  // Drops the transaction's changes and ends it. Outside a transaction
  // raises 20229. The disk database data calls it when the last session
  // disconnects inside a transaction.
  virtual void Rollback() = 0;
  // Writes the database's buffered pages to the file.
  virtual void FlushBuffers() = 0;

  bool Connected() { return GetConnected(); }
  bool SuppressDBHeaderErrors() { return GetSuppressDBHeaderErrors(); }

  // Named objects in the order they were set.
  const TVEZSortedStringPtrArray<TVEZSessionNamedObject>& NamedObjects() const {
    return FSessionNamedObjectList;
  }

  std::string DatabaseName;
  std::string DatabaseFileName;
  std::int32_t SessionID = -1;
  bool InTransaction = false;
  bool ReadOnly = false;
  bool Exclusive = false;
  bool InMemory = false;
  std::string Login;
  // Not owned.
  TVEZSessionComponentManager* SessionComponentManager = nullptr;
  std::int32_t MaxSessionCount = 0;
  bool RepairNeeded = false;
  bool MultiUser = false;
  std::string SessionName;

 private:
  void RemoveObjectAt(std::size_t index);

  TVEZSortedStringPtrArray<TVEZSessionNamedObject> FSessionNamedObjectList;
};

}  // namespace vez
