#include "dbengine/api/VEZQuery.h"

#include <atomic>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLParams.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/CodePage.h"
#include "platform/core/Format.h"
#include "platform/dataset/DBConsts.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/dataset/Field.h"

namespace vez {

namespace {

std::atomic<TVEZSQLProcessorFactory*> g_processor_factory{nullptr};

// A colon between two double quotes is text, not a parameter marker; it is
// hidden from the parameter scan and put back afterwards.
constexpr std::string_view kQuotedColon = "\":\"";
constexpr std::string_view kCutColon = "\"<cut colon>\"";

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  std::size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

}  // namespace

void RegisterSQLProcessorFactory(TVEZSQLProcessorFactory* factory) {
  g_processor_factory.store(factory);
}

TVEZSQLProcessorFactory* SQLProcessorFactory() {
  return g_processor_factory.load();
}

// ---------------------------------------------------------------------------
// TVEZQueryDataLink

platform::DataSet* TVEZQueryDataLink::GetDetailDataSet() {
  return &FQuery;
}

void TVEZQueryDataLink::ActiveChanged() {
  if (FQuery.Active()) FQuery.RefreshParams();
}

void TVEZQueryDataLink::RecordChanged(platform::Field* field) {
  if (field == nullptr && FQuery.Active()) FQuery.RefreshParams();
}

void TVEZQueryDataLink::CheckBrowseMode() {
  if (FQuery.Active()) FQuery.CheckBrowseMode();
}

// ---------------------------------------------------------------------------
// TVEZQuery

TVEZQuery::TVEZQuery(platform::Component* owner)
    : TVEZDataSet(owner), FDataLink(std::make_unique<TVEZQueryDataLink>(*this)) {}

TVEZQuery::~TVEZQuery() {
  FDestroying = true;
  try {
    Disconnect();
  } catch (...) {
    // A destructor cannot report; the base still detaches the database.
  }
  FDataLink->SetDataSource(nullptr);
}

void TVEZQuery::Disconnect() {
  Close();
  UnPrepare();
  TVEZDataSet::Disconnect();
}

void TVEZQuery::SetDBFlag(int flag, bool value) {
  if (!value && DBFlag(flag)) {
    const auto bit = static_cast<std::uint16_t>(1u << flag);
    if ((DBFlags() & ~bit) == 0) SetPrepState(false);
  }
  TVEZDataSet::SetDBFlag(flag, value);
}

void TVEZQuery::SetSQL(const std::string& value) {
  if (value == FSQL) return;
  Disconnect();
  FSQL = value;
  QueryChanged();
}

void TVEZQuery::QueryChanged() {
  if (FParamCheck) {
    const std::string hidden = ReplaceAll(FSQL, kQuotedColon, kCutColon);
    platform::Params new_params;
    const std::string parsed = new_params.ParseSQL(hidden, true);
    FText = ReplaceAll(parsed, kCutColon, kQuotedColon);
    new_params.AssignValues(FParams);
    FParams.Assign(new_params);
  } else {
    FText = FSQL;
  }
  DataEvent(platform::TDataEvent::dePropertyChange, 0);
}

void TVEZQuery::SetDataSource(platform::DataSource* source) {
  if (source != nullptr && IsLinkedTo(source))
    platform::DatabaseError(platform::dbconsts::SCircularDataLink, Name);
  FDataLink->SetDataSource(source);
}

void TVEZQuery::GetDetailLinkFields(std::vector<platform::Field*>& master_fields,
                                    std::vector<platform::Field*>& detail_fields) {
  master_fields.clear();
  detail_fields.clear();
  platform::DataSource* source = DataSource();
  if (source == nullptr || source->GetDataSet() == nullptr) return;
  platform::DataSet* master = source->GetDataSet();
  for (int i = 0; i < FParams.Count(); ++i) {
    platform::Field* master_field = master->FindField(FParams.Items(i).Name);
    if (master_field == nullptr) continue;
    master_fields.push_back(master_field);
    if (platform::Field* own = FindField(FParams.Items(i).Name)) detail_fields.push_back(own);
  }
}

void TVEZQuery::Prepare() {
  SetDBFlag(kPreparedFlag, true);
  try {
    SetPrepState(true);
  } catch (...) {
    SetDBFlag(kPreparedFlag, false);
    throw;
  }
}

void TVEZQuery::UnPrepare() {
  SetPrepState(false);
  SetDBFlag(kPreparedFlag, false);
}

void TVEZQuery::ExecSQL() {
  CheckInactive();
  SetDBFlag(kExecSQLFlag, true);
  try {
    RunQuery(false);
  } catch (...) {
    SetDBFlag(kExecSQLFlag, false);
    throw;
  }
  SetDBFlag(kExecSQLFlag, false);
}

std::int64_t TVEZQuery::RowsAffected() const {
  if (FStmtHandle != nullptr) return FStmtHandle->RowsAffected();
  return FRowsAffected;
}

void TVEZQuery::SetPrepState(bool value) {
  if (FHandle != nullptr) {
    if (value) throw EVEZException(30141, "Cannot perform this operation on an open dataset");
    // The processor owns the result cursor.
    FHandle = nullptr;
    SetExternalHandle(nullptr);
  }
  if (value == FPrepared) return;
  if (value) {
    FRowsAffected = -1;
    FCheckRowsAffected = true;
    if (FSQL.size() < 2) throw EVEZException(30142, "No SQL statement available");
    TVEZSQLProcessorFactory* factory = SQLProcessorFactory();
    if (factory == nullptr) throw EVEZException(30143, "SQL engine is not registered");
    std::unique_ptr<TVEZSQLStatementHandle> handle = factory->CreateProcessor(*this);
    handle->SetRequestLive(FRequestLive);
    handle->SetInMemory(InMemory());
    handle->PrepareStatement(FSQL);
    FStmtHandle = std::move(handle);
  } else {
    if (FCheckRowsAffected && FStmtHandle != nullptr) FRowsAffected = FStmtHandle->RowsAffected();
    FStmtHandle.reset();
  }
  FPrepared = value;
}

TVEZCursor* TVEZQuery::RunQuery(bool return_cursor) {
  if (FSQL.empty()) throw EVEZException(20034, "No SQL statement available");
  FExecSQL = !return_cursor;
  try {
    SetPrepState(true);
  } catch (...) {
    FExecSQL = false;
    throw;
  }
  FExecSQL = false;
  if (DataSource() != nullptr) SetParamsFromMaster();
  TVEZCursor* cursor = ExecuteStatement(return_cursor);
  FCheckRowsAffected = cursor == nullptr;
  return cursor;
}

TVEZCursor* TVEZQuery::ExecuteStatement(bool return_cursor) {
  using platform::TFieldType;
  TVEZSQLParams& list = FStmtHandle->SQLParams();
  if (FParams.Count() > 0) {
    list.Clear();
    for (int i = 0; i < FParams.Count(); ++i) {
      const platform::Param& param = FParams.Items(i);
      TVEZSQLParam& value = list.AddCreated();
      value.Name = param.Name;
      if (param.DataType != TFieldType::ftUnknown)
        value.SetNull(AdvancedTypeToBaseType(VCLTypeToAdvancedType(param.DataType)));
      if (param.IsNull()) continue;
      switch (param.DataType) {
        case TFieldType::ftTime:
          value.SetAsTTime(param.AsDateTime());
          break;
        case TFieldType::ftBlob:
        case TFieldType::ftGraphic: {
          const std::string bytes = param.AsString();
          value.SetNull(bftBlob);
          if (!bytes.empty())
            value.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()), bftBlob, true);
          break;
        }
        case TFieldType::ftMemo:
        case TFieldType::ftFmtMemo:
          value.SetNull(bftVarchar);
          value.SetAsAnsiString(param.AsString());
          break;
        case TFieldType::ftWideMemo:
          // Two bytes a character: the engine's wide text.
          value.SetNull(bftWideVarchar);
          value.SetAsWideString(platform::AnsiToWide(param.AsString()));
          break;
        case TFieldType::ftUnknown:
          break;
        default:
          value.SetAsVariant(param.Value());
          break;
      }
    }
  }
  if (!return_cursor) {
    FStmtHandle->ExecuteQuery();
    return nullptr;
  }
  TVEZCursor* cursor = FStmtHandle->OpenQuery();
  if (cursor != nullptr) {
    cursor->FSettingProjection = true;
    SetExternalHandle(cursor);
    if (FStmtHandle->ReadOnly() || (Database() != nullptr && Database()->ReadOnly()))
      SetReadOnly(true);
  }
  return cursor;
}

TVEZCursor* TVEZQuery::CreateHandle() {
  TVEZDatabase* database = Database();
  const bool silent = database != nullptr && database->SilentMode();
  if (database != nullptr) database->SetSilentMode(true);
  try {
    TVEZCursor* cursor = FExternalHandle != nullptr ? FExternalHandle : RunQuery(true);
    if (database != nullptr) database->SetSilentMode(silent);
    if (cursor == nullptr) throw EVEZException(30139, "The SQL statement returns no result set");
    return cursor;
  } catch (...) {
    if (database != nullptr) database->SetSilentMode(silent);
    throw;
  }
}

void TVEZQuery::InternalRefresh() {
  if (Active() && ReadOnly()) {
    Close();
    Open();
    return;
  }
  TVEZDataSet::InternalRefresh();
}

void TVEZQuery::SetParamsFromMaster() {
  platform::DataSource* source = DataSource();
  platform::DataSet* master = source != nullptr ? source->GetDataSet() : nullptr;
  if (master == nullptr) return;
  master->FieldDefs().Update();
  for (int i = 0; i < FParams.Count(); ++i) {
    platform::Param& param = FParams.Items(i);
    if (param.Bound) continue;
    platform::Field* field = master->FindField(param.Name);
    if (field == nullptr)
      platform::DatabaseError(platform::Format(platform::dbconsts::SFieldNotFound, {param.Name}),
                              Name);
    param.AssignField(*field);
    param.Bound = false;
    if (param.IsNull()) param.DataType = platform::TFieldType::ftInteger;
  }
}

void TVEZQuery::RefreshParams() {
  DisableControls();
  try {
    platform::DataSource* source = DataSource();
    platform::DataSet* master = source != nullptr ? source->GetDataSet() : nullptr;
    if (master != nullptr && master->Active() &&
        master->State() != platform::TDataSetState::dsSetKey) {
      Close();
      Open();
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

}  // namespace vez
