// TVEZDatabase: the component through which a program names, opens, creates
// and maintains one database file. It holds the settings the file is opened
// or created with, belongs to one session (TVEZSession) and, while open,
// holds one local session as its handle, which the cursors of all its
// datasets use. Datasets find it by DatabaseName within their session.
//
// Open asks the engine UI (platform::CurrentEngineUi) whether to repair a
// file that was not closed cleanly, and for the password while the engine
// reports a wrong one (30445), unless SilentMode is on or the component's
// own events (OnNeedRepair, OnPassword) answer. Misuse raises the platform's
// database error (EDatabaseError) with the component's name; engine failures
// raise EVEZException.
//
// Handles: an own handle is disconnected before it is freed, on every path.
// A handle taken from elsewhere (SetHandle, or HandleShared) is acquired:
// Close only forgets it, and a database closing its own handle first closes
// the databases of its session that acquired it.
//
// Files: the rollback journal "<file>-journal" stays with its file. Deleting
// or renaming first lets the engine recover a hot journal (the file is opened
// exclusively and closed), then removes or moves the file and deletes its
// stale journal, so no journal is left to be applied to another file.
//
// Not built: reading the component from form files (Loaded, streamed
// Connected) and the designer's branches (DesignMode() is false). The
// maintenance operations are in VEZDatabaseMaintenance.cpp.
//
// Thread safety: a component is used by one thread at a time; opening,
// creating and name checks take the session lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZSession.h"
#include "dbengine/foundation/VEZSecurity.h"
#include "dbengine/storage/VEZDurability.h"
#include "platform/dataset/Component.h"
#include "platform/ui/EngineUi.h"

namespace vez {

class TVEZBaseDataSet;
class TVEZBaseSession;
class TVEZLocalSession;

class TVEZDatabase;
// Sets Password and cont (false on entry) to try the password.
using TVEZPasswordEvent = std::function<void(TVEZDatabase& sender, bool& cont)>;
// Sets do_repair (false on entry).
using TVEZOnNeedRepairEvent = std::function<void(TVEZDatabase& sender, bool& do_repair)>;
using TVEZNotifyEvent = std::function<void(TVEZDatabase& sender)>;
// Hears how far a maintenance operation is; clearing cont (true on entry)
// stops it.
using TVEZProgressEvent =
    std::function<void(TVEZDatabase& sender, std::int32_t percent_done, bool& cont)>;

class TVEZDatabase : public platform::Component {
 public:
  static constexpr std::int32_t kDefaultMaxConnections = 500;
  static constexpr std::int32_t kDefaultPageSize = 4096;
  static constexpr std::int32_t kDefaultPageCountInExtent = 8;

  // Joins owner when it is a session, else the session with AutoSessionName
  // on among owner's components, else the default session.
  explicit TVEZDatabase(platform::Component* owner = nullptr);
  // Closes (reporting errors through the engine UI; the handle is freed in
  // any case) and leaves its session.
  ~TVEZDatabase() override;

  // ---- Properties.

  bool Connected() const { return FHandle != nullptr; }
  void SetConnected(bool value);
  // "7.50 ": the engine's version with two decimals and a blank.
  std::string CurrentVersion() const;
  // Kept and never read, as a form file may carry it.
  void SetCurrentVersion(const std::string& value) { FCurrentVersion = value; }
  const std::string& DatabaseFileName() const { return FDatabaseFileName; }
  // A change closes the database first.
  void SetDatabaseFileName(const std::string& value);
  const std::string& DatabaseName() const { return FDatabaseName; }
  // Refused while open; a name another database of the session has is
  // refused (ValidateName).
  void SetDatabaseName(const std::string& value);
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool value) { FExclusive = value; }
  const std::string& Password() const { return FPassword; }
  // The old text is wiped before it is replaced.
  void SetPassword(const std::string& value) {
    if (&value == &FPassword) return;
    WipeString(FPassword);
    FPassword = value;
  }
  // After Open: whether the handle may only read.
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  bool HandleShared() const { return FHandleShared; }
  void SetHandleShared(bool value) { FHandleShared = value; }
  bool KeepConnection() const { return FKeepConnection; }
  // False while no dataset uses the database closes it at once.
  void SetKeepConnection(bool value);
  std::int32_t MaxConnections() const { return FMaxConnections; }
  void SetMaxConnections(std::int32_t value) { FMaxConnections = value; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool value) { FMultiUser = value; }
  const std::string& SessionName() const { return FSessionName; }
  // Refused while open; joins the named session when one has the name.
  void SetSessionName(const std::string& value);
  bool SilentMode() const { return FSilentMode; }
  void SetSilentMode(bool value) { FSilentMode = value; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool value) { FDisableTempFiles = value; }
  std::int32_t PageSize() const { return FPageSize; }
  void SetPageSize(std::int32_t value) { FPageSize = value; }
  std::int32_t PageCountInExtent() const { return FPageCountInExtent; }
  void SetPageCountInExtent(std::int32_t value) { FPageCountInExtent = value; }
  TVEZCryptoAlgorithm CryptoAlgorithm() const { return FCryptoAlgorithm; }
  void SetCryptoAlgorithm(TVEZCryptoAlgorithm value) { FCryptoAlgorithm = value; }
  // How much of a commit survives a crash (VEZDurability.h); given to a
  // database file the handle opens first in the process or creates.
  TVEZDurability Durability() const { return FDurability; }
  void SetDurability(TVEZDurability value) { FDurability = value; }

  // The handle while open (owned or acquired), else null.
  TVEZBaseSession* Handle() const { return FHandle; }
  // Closes first; then, for a handle, takes it as acquired (not owned): it
  // must belong to this database's session (its token), else "Database
  // handle owned by a different session".
  void SetHandle(TVEZBaseSession* value);
  TVEZSession* Session() const { return FSession; }
  bool Temporary() const { return FTemporary; }
  void SetTemporary(bool value) { FTemporary = value; }
  // The handle's transaction flag; false while closed.
  bool InTransaction() const;
  // Whether the file exists.
  bool Exists() const;
  // Datasets using the database through the session.
  std::int32_t RefCount() const { return FRefCount; }
  void SetRefCount(std::int32_t value) { FRefCount = value; }

  // Datasets attached to the database (not owned), in attach order.
  std::int32_t DataSetCount() const { return static_cast<std::int32_t>(FDataSets.size()); }
  TVEZBaseDataSet* GetDataSet(std::int32_t index) const;
  // Used by the dataset component as it attaches and lets go.
  void AddDataSet(TVEZBaseDataSet& dataset);
  void RemoveDataSet(TVEZBaseDataSet& dataset);

  TVEZPasswordEvent OnPassword;
  TVEZOnNeedRepairEvent OnNeedRepair;
  // ---- Guards ("Database name missing", "Cannot perform this operation on
  // a closed database" / "on an open database").

  void CheckDatabaseName() const;
  void CheckActive() const;
  void CheckInactive() const;
  // The same as CheckInactive outside a designer.
  void CheckInactiveOrClose();

  // Finds the session named SessionName (with activate: refusing an unknown
  // name with 20002, then activating it; without: staying in the current
  // session when none has the name) and moves the database there, where its
  // name is validated (on failure the name is cleared and the error passes
  // on).
  void AttachSession(bool activate);
  // Under the session lock: another database of that name in the session is
  // refused ("Duplicate database name '%s'") unless both share handles; a
  // temporary one no dataset uses is freed so that this one takes the name.
  void ValidateName(const std::string& name);

  // ---- Opening and closing.

  // Nothing when open. Raises "Database file '%s' does not exist" (nothing
  // is made) for a missing file of a permanent database; asks about repair
  // and password as the head of this file says; then takes the file's
  // settings (ReadOnly, CryptoAlgorithm, PageSize, PageCountInExtent,
  // MaxConnections).
  void Open();
  // Nothing when closed. Tells the session, closes the datasets, frees an
  // own handle (closing the databases that acquired it first) or forgets an
  // acquired one; RefCount 0. A disconnect error passes on and leaves the
  // database open.
  void Close();
  // Disconnects every attached query, then the other datasets, last first.
  void CloseDataSets();
  // Creates the file with the settings; the component stays closed. 20092
  // when the file is open in this process.
  void CreateDatabase();
  // Opens the database when closed (and leaves it open); the handle's
  // answer.
  bool TableExists(const std::string& table_name);
  // Opens the database when closed (and closes it again afterwards); the
  // handle fills list. Errors pass on.
  void GetTablesList(std::vector<std::string>& list);

  // ---- Transactions and buffers (open database).

  // "Database is already within a transaction" for a second one.
  void StartTransaction();
  // 20229 outside a transaction.
  void Commit(bool do_flush_buffers = true);
  void Rollback();
  void FlushBuffers();
  std::int32_t GetDBFileConnectionsCount();

  // ---- File operations (closed database).

  // Deletes the file and its journal; a failure raises (30364 for a missing
  // file, 30362 for one another opener holds) and deletes nothing.
  void DeleteDatabase();
  // Moves the file to new_database_file_name (30378 when that name is
  // taken; its journal stays) after the file's journal was recovered; the
  // stale journals of both names are deleted. Then DatabaseFileName is the
  // new name.
  void RenameDatabase(const std::string& new_database_file_name);

  // ---- Maintenance (VEZDatabaseMaintenance.cpp). Each operation rebuilds
  // the closed database table by table into a new file (RebuildDatabaseFile);
  // the in-place forms build file name + ".tmp", sync it and rename it over
  // the file in one step, then sync the folder, so a crash leaves the old or
  // the new file under the name. A failed or aborted operation leaves the
  // file as it was and removes what it wrote.
  //
  // Without the operation's own before, progress and after events (and
  // unless SilentMode) the engine UI's wait window shows the progress; its
  // "Abort" stops the rebuild as a progress event clearing cont does.
  TVEZNotifyEvent BeforeRepair, AfterRepair, BeforeCompact, AfterCompact, BeforeChangePassword,
      AfterChangePassword, BeforeChangeDatabaseSettings, AfterChangeDatabaseSettings;
  TVEZProgressEvent OnRepairProgress, OnCompactProgress, OnChangePasswordProgress,
      OnChangeDatabaseSettingsProgress;

  // Opens the database exclusively, cuts the file after its last used page
  // and closes again in any case.
  void TruncateDatabase();
  // Writes exe_stub_file_name followed by the database file into
  // exe_db_file_name (created or replaced); the engine finds the database
  // inside by its header's signature. A failure removes the partial file.
  void MakeExecutableDatabase(const std::string& exe_stub_file_name,
                              const std::string& exe_db_file_name);
  // Rebuilds into new_database_file_name, which must not exist and must not
  // be the database's own file (30456). True, or raises: a failed or aborted
  // rebuild raises 30456 with the log; the new file is then deleted.
  bool CompactDatabase(const std::string& new_database_file_name);
  // In place. True, or raises as above; the file is then unchanged.
  bool CompactDatabase();
  // Rebuilds into new_database_file_name ignoring errors (tables are first
  // opened in repair mode); log gets what could not be copied. The name is
  // refused as CompactDatabase refuses it. False (the new file deleted) when
  // aborted or when the new file could not be made.
  bool RepairDatabase(const std::string& new_database_file_name, std::string& log);
  // In place; answers the log ("Unknown error" for a failure that logged
  // nothing, and then the file is unchanged).
  std::string RepairDatabase();
  // In place under new_password and new_crypto_algorithm (an empty password
  // stores the file plain); Password and CryptoAlgorithm take the new values.
  // Answers the log: empty when all went well; otherwise the file is
  // unchanged. Errors raise (30445 for a wrong current Password).
  std::string ChangePassword(const std::string& new_password,
                             TVEZCryptoAlgorithm new_crypto_algorithm);
  // The same with the current CryptoAlgorithm.
  std::string ChangePassword(const std::string& new_password);
  // In place with all new settings; 20274 for new_max_connections <= 0.
  // True when the file was replaced.
  bool ChangeDatabaseSettings(std::string& log, bool ignore_errors, const std::string& new_password,
                              TVEZCryptoAlgorithm new_crypto_algorithm, std::int32_t new_page_size,
                              std::int32_t new_page_count_in_extent,
                              std::int32_t new_max_connections);
  // Copies every table into a new file made with the given settings. 20303
  // when the folder of the new file has less room than the file's size, 30449
  // when the new file cannot be made, 20199 for a table that fails to copy
  // (logged instead with ignore_errors). True when not aborted and, without
  // ignore_errors, nothing was logged. The caller deletes the new file.
  bool RebuildDatabaseFile(const std::string& new_database_file_name, std::string& log,
                           bool ignore_errors, const std::string& new_password,
                           TVEZCryptoAlgorithm new_crypto_algorithm, std::int32_t new_page_size,
                           std::int32_t new_page_count_in_extent, std::int32_t new_max_connections,
                           const std::function<void()>& on_before,
                           const std::function<void(int percent_done, bool& cont)>& on_progress,
                           const std::function<void()>& on_after);

 private:
  enum class Maintenance : std::uint8_t { kRepair, kCompact, kChangePassword, kChangeSettings };
  // Rebuilds into file name + ".tmp" and puts it in the file's place;
  // false (the ".tmp" file deleted) when the rebuild answered false.
  bool RebuildInPlace(std::string& log, bool ignore_errors, const std::string& new_password,
                      TVEZCryptoAlgorithm new_crypto_algorithm, std::int32_t new_page_size,
                      std::int32_t new_page_count_in_extent, std::int32_t new_max_connections,
                      Maintenance operation);
  bool Rebuild(const std::string& new_database_file_name, std::string& log, bool ignore_errors,
               const std::string& new_password, TVEZCryptoAlgorithm new_crypto_algorithm,
               std::int32_t new_page_size, std::int32_t new_page_count_in_extent,
               std::int32_t new_max_connections, Maintenance operation);
  void MaintenanceBefore(Maintenance operation);
  void MaintenanceProgress(Maintenance operation, int percent_done, bool& cont);
  void MaintenanceAfter(Maintenance operation);

  std::unique_ptr<platform::WaitWindow> frmWait;
  // ---- End of maintenance.

 private:
  friend class TVEZSession;

  std::unique_ptr<TVEZLocalSession> CreateHandle();
  // Disconnects (dropping errors: the session is unlisted all the same) and
  // frees a handle of this component.
  static void FreeHandle(std::unique_ptr<TVEZLocalSession> handle) noexcept;
  // Connects handle, asking about repair; returns the connected handle (a
  // new one after a repair).
  std::unique_ptr<TVEZLocalSession> ConnectHandle(std::unique_ptr<TVEZLocalSession> handle);
  bool AskRepair();
  bool AnnounceConversion();
  bool AskPassword();
  void Notify(TVEZDatabaseEvent event);
  // The session went away: back to the default session (or to none while
  // the layer ends).
  void SessionDestroyed(bool back_to_default) noexcept;
  // Opens the file exclusively and closes it, so that a hot journal is
  // applied. Raises what the open raises.
  void RecoverJournal() const;

  std::string FCurrentVersion;
  std::vector<TVEZBaseDataSet*> FDataSets;
  bool FKeepConnection = true;
  bool FTemporary = false;
  bool FAcquiredHandle = false;
  bool FHandleShared = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  std::int32_t FRefCount = 0;
  TVEZBaseSession* FHandle = nullptr;
  std::unique_ptr<TVEZLocalSession> FOwnHandle;
  TVEZSession* FSession = nullptr;
  std::string FSessionName;
  std::string FDatabaseName;
  std::string FDatabaseFileName;
  std::string FPassword;
  TVEZCryptoAlgorithm FCryptoAlgorithm = craRijndael_128;
  std::int32_t FPageSize = kDefaultPageSize;
  std::int32_t FPageCountInExtent = kDefaultPageCountInExtent;
  bool FNoRequestAutoRepair = false;
  // Set while Close runs: a dataset letting go on the way may ask its
  // session to close the database again.
  bool FClosing = false;
  bool FSilentMode = false;
  bool FMultiUser = false;
  std::int32_t FMaxConnections = kDefaultMaxConnections;
  bool FDisableTempFiles = false;
  TVEZDurability FDurability = TVEZDurability::Full;
};

}  // namespace vez
