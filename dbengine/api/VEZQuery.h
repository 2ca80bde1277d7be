// TVEZQuery: the dataset component that runs SQL text. It keeps the text
// and its named parameters, prepares a statement processor of the SQL
// engine for it, passes the parameter values on and executes the statements
// (ExecSQL) or opens the result cursor the last statement leaves.
//
// The dataset layer does not include the SQL engine: the processor is
// reached through TVEZSQLStatementHandle, made by the factory the SQL engine
// registers at start-up (RegisterSQLEngine). Without one, preparing raises
// 30143.
//
// Database-use flags: 1 while prepared, 2 while ExecSQL runs. Clearing the
// last one unprepares the query first (and may close the database when it
// is not kept).
//
// Not built: form-file streaming and the provider interface (the platform
// dataset has neither).
//
// Thread safety: a query is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/api/VEZDataSet.h"
#include "platform/dataset/DataSource.h"
#include "platform/dataset/Params.h"

namespace vez {

class TVEZCursor;
class TVEZSQLParams;
class TVEZQuery;

// The prepared statement as the query sees it (the SQL engine's processor).
class TVEZSQLStatementHandle {
 public:
  TVEZSQLStatementHandle() = default;
  virtual ~TVEZSQLStatementHandle() = default;
  TVEZSQLStatementHandle(const TVEZSQLStatementHandle&) = delete;
  TVEZSQLStatementHandle& operator=(const TVEZSQLStatementHandle&) = delete;

  // Stores the text; nothing is parsed yet.
  virtual void PrepareStatement(const std::string& sql_text) = 0;
  // Runs every command of the text; the last command's result cursor (owned
  // by the processor), on its first record, or null.
  virtual TVEZCursor* OpenQuery() = 0;
  // OpenQuery with the result dropped.
  virtual void ExecuteQuery() = 0;
  // The values the next run substitutes for the parameters.
  virtual TVEZSQLParams& SQLParams() = 0;
  // Sum of the rows the commands of the last run changed.
  virtual std::int64_t RowsAffected() const = 0;
  // Set by the last query statement.
  virtual bool ReadOnly() const = 0;
  virtual void SetRequestLive(bool value) = 0;
  virtual void SetInMemory(bool value) = 0;
};

class TVEZSQLProcessorFactory {
 public:
  virtual ~TVEZSQLProcessorFactory() = default;
  virtual std::unique_ptr<TVEZSQLStatementHandle> CreateProcessor(TVEZQuery& query) = 0;
};

// Registers the process's processor factory (null: none). Not owned.
void RegisterSQLProcessorFactory(TVEZSQLProcessorFactory* factory);
TVEZSQLProcessorFactory* SQLProcessorFactory();

class TVEZQuery;

// The query's link to a master data source that feeds its parameters.
class TVEZQueryDataLink : public platform::DetailDataLink {
 public:
  explicit TVEZQueryDataLink(TVEZQuery& query) : FQuery(query) {}
  platform::DataSet* GetDetailDataSet() override;

 protected:
  void ActiveChanged() override;
  void RecordChanged(platform::Field* field) override;
  void CheckBrowseMode() override;

 private:
  TVEZQuery& FQuery;
};

class TVEZQuery : public TVEZDataSet {
 public:
  // Flags of TVEZDataSet's database-use flags.
  static constexpr int kPreparedFlag = 1;
  static constexpr int kExecSQLFlag = 2;

  explicit TVEZQuery(platform::Component* owner = nullptr);
  ~TVEZQuery() override;

  bool IsQuery() const override { return true; }
  // Closes, then unprepares and lets go of the database.
  void Disconnect() override;
  void SetDBFlag(int flag, bool value) override;

  // ---- SQL text and parameters
  const std::string& SQL() const { return FSQL; }
  // A different text closes and unprepares the query, then rebuilds the
  // parameters (with ParamCheck) keeping the values of same-named ones.
  void SetSQL(const std::string& value);
  // The text with each parameter replaced by '?'.
  const std::string& Text() const { return FText; }
  platform::Params& Params() { return FParams; }
  // Assigns the values of same-named parameters.
  void SetParams(const platform::Params& value) { FParams.AssignValues(value); }
  int ParamCount() const { return FParams.Count(); }
  // Raises EDatabaseError for a missing name.
  platform::Param& ParamByName(const std::string& name) { return FParams.ParamByName(name); }
  bool ParamCheck() const { return FParamCheck; }
  void SetParamCheck(bool value) { FParamCheck = value; }
  bool RequestLive() const { return FRequestLive; }
  void SetRequestLive(bool value) { FRequestLive = value; }

  // ---- master source
  platform::DataSource* DataSource() const { return FDataLink->GetDataSource(); }
  // "Circular datalinks are not allowed" for a source that follows this
  // query.
  void SetDataSource(platform::DataSource* source);
  platform::DataSource* GetDataSource() const override { return DataSource(); }
  // Per parameter named like a master field: that field, and the query's
  // own field of that name when it has one.
  void GetDetailLinkFields(std::vector<platform::Field*>& master_fields,
                           std::vector<platform::Field*>& detail_fields);

  // ---- preparation and execution
  bool Prepared() const { return FPrepared; }
  void SetPrepared(bool value) { value ? Prepare() : UnPrepare(); }
  // Attaches the database (flag 1) and makes the processor for the text.
  // 30142 for a text shorter than 2 characters; 30141 while open.
  void Prepare();
  void UnPrepare();
  // REQUIRES inactive. Runs every statement of the text; the engine's
  // errors pass on unchanged.
  void ExecSQL();
  // While prepared the processor's count of the last run; after UnPrepare
  // the count kept then; -1 before any.
  std::int64_t RowsAffected() const;
  TVEZSQLStatementHandle* StmtHandle() const { return FStmtHandle.get(); }

  // Re-reads the parameters from the master and reopens.
  void RefreshParams();

 protected:
  TVEZCursor* CreateHandle() override;
  void InternalRefresh() override;

 private:
  friend class TVEZQueryDataLink;
  void SetPrepState(bool value);
  TVEZCursor* RunQuery(bool return_cursor);
  TVEZCursor* ExecuteStatement(bool return_cursor);
  void SetParamsFromMaster();
  void QueryChanged();

  std::unique_ptr<TVEZSQLStatementHandle> FStmtHandle;
  std::string FSQL;
  bool FPrepared = false;
  platform::Params FParams;
  std::string FText;
  std::unique_ptr<TVEZQueryDataLink> FDataLink;
  std::int64_t FRowsAffected = -1;
  bool FRequestLive = false;
  bool FParamCheck = true;
  bool FExecSQL = false;
  bool FCheckRowsAffected = false;
  bool FDestroying = false;
};

}  // namespace vez
