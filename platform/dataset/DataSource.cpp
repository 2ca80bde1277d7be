#include "platform/dataset/DataSource.h"

#include <algorithm>

#include "platform/dataset/DBConsts.h"
#include "platform/dataset/DataSet.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/ui/EngineUi.h"

namespace platform {

// ---- DataSource

DataSource::DataSource(Component* owner) : Component(owner) {}

DataSource::~DataSource() {
  SetDestroying();
  if (dataset_ != nullptr) std::erase(dataset_->data_sources_, this);
  dataset_ = nullptr;
  state_ = TDataSetState::dsInactive;
  const std::vector<DataLink*> links = links_;
  for (DataLink* l : links) {
    l->source_ = nullptr;
    try {
      l->UpdateState();
    } catch (...) {
      ReportCurrentException();  // a destructor must not throw
    }
  }
}

bool DataSource::IsLinkedTo(const DataSet* dataset) const {
  while (dataset != nullptr) {
    const DataSource* source = dataset->GetDataSource();
    if (source == nullptr) break;
    if (source == this) return true;
    dataset = source->GetDataSet();
  }
  return false;
}

void DataSource::SetDataSet(DataSet* dataset) {
  if (dataset == dataset_) return;
  if (IsLinkedTo(dataset)) DatabaseError(dbconsts::SCircularDataLink, Name);
  if (dataset_ != nullptr) std::erase(dataset_->data_sources_, this);
  dataset_ = dataset;
  if (dataset_ != nullptr) dataset_->data_sources_.push_back(this);
  state_ = dataset_ != nullptr && enabled_ ? dataset_->State() : TDataSetState::dsInactive;
  const std::vector<DataLink*> links = links_;
  for (DataLink* l : links)
    l->UpdateState();
  if (OnStateChange) OnStateChange(*this);
}

void DataSource::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  state_ = dataset_ != nullptr && enabled_ ? dataset_->State() : TDataSetState::dsInactive;
  const std::vector<DataLink*> links = links_;
  for (DataLink* l : links)
    l->UpdateState();
}

void DataSource::Edit() {
  if (state_ == TDataSetState::dsBrowse && dataset_ != nullptr) dataset_->Edit();
}

void DataSource::DataEvent(TDataEvent event, std::intptr_t info) {
  if (!enabled_) return;
  if (event == TDataEvent::deUpdateState) {
    const TDataSetState s = dataset_ != nullptr ? dataset_->State() : TDataSetState::dsInactive;
    if (s == state_) return;
    state_ = s;
    NotifyLinks(event, info);
    if (OnStateChange) OnStateChange(*this);
    return;
  }
  NotifyLinks(event, info);
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange:
      if (OnDataChange)
        OnDataChange(*this,
                     event == TDataEvent::deFieldChange || event == TDataEvent::deRecordChange
                         ? reinterpret_cast<Field*>(info)
                         : nullptr);
      break;
    case TDataEvent::deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

void DataSource::NotifyLinks(TDataEvent event, std::intptr_t info) {
  const std::vector<DataLink*> links = links_;
  for (DataLink* l : links)
    if (std::find(links_.begin(), links_.end(), l) != links_.end()) l->DataEvent(event, info);
}

void DataSource::DataSetGone() noexcept {
  dataset_ = nullptr;
  state_ = TDataSetState::dsInactive;
  const std::vector<DataLink*> links = links_;
  for (DataLink* l : links) {
    try {
      l->UpdateState();
    } catch (...) {
      ReportCurrentException();
    }
  }
}

void DataSource::FieldsDestroying() noexcept {
  for (DataLink* l : links_)
    l->FieldsDestroying();
}

// ---- DataLink

DataLink::~DataLink() {
  if (source_ != nullptr) std::erase(source_->links_, this);
}

void DataLink::SetDataSource(DataSource* source) {
  if (source == source_) return;
  if (source_ != nullptr) std::erase(source_->links_, this);
  source_ = source;
  if (source_ != nullptr) source_->links_.push_back(this);
  UpdateState();
}

DataSet* DataLink::GetDataSet() const {
  return source_ != nullptr ? source_->GetDataSet() : nullptr;
}

void DataLink::UpdateState() {
  const TDataSetState s = source_ != nullptr ? source_->State() : TDataSetState::dsInactive;
  const bool active = s != TDataSetState::dsInactive;
  const bool editing = active && (s == TDataSetState::dsEdit || s == TDataSetState::dsInsert);
  if (active != active_) {
    active_ = active;
    ActiveChanged();
  }
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void DataLink::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<Field*>(info));
      break;
    case TDataEvent::deDataSetChange:
      DataSetChanged();
      break;
    case TDataEvent::deDataSetScroll:
      DataSetScrolled(static_cast<int>(info));
      break;
    case TDataEvent::deLayoutChange:
      LayoutChanged();
      break;
    case TDataEvent::deUpdateRecord:
      UpdateRecord();
      break;
    case TDataEvent::deCheckBrowseMode:
      CheckBrowseMode();
      break;
    default:
      break;
  }
}

bool DataLink::Edit() {
  if (source_ != nullptr && !editing_) source_->Edit();
  return editing_;
}

void DataLink::UpdateRecord() {
  if (updating_) return;
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

// ---- DetailDataLink, MasterDataLink

void DetailDataLink::SetDataSource(DataSource* source) {
  DataSet* detail = GetDetailDataSet();
  if (source != nullptr && detail != nullptr && detail->IsLinkedTo(source)) {
    DatabaseError(dbconsts::SCircularDataLink, detail->Name);
  }
  DataLink::SetDataSource(source);
}

void MasterDataLink::SetFieldNames(const std::string& names) {
  if (names == field_names_) return;
  field_names_ = names;
  ActiveChanged();
}

void MasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) {
    try {
      GetDataSet()->GetFieldList(fields_, field_names_);
    } catch (...) {
      fields_.clear();
      throw;
    }
  }
  if (detail_.Active() && !detail_.Destroying()) {
    if (Active() && !fields_.empty()) {
      if (OnMasterChange) OnMasterChange();
    } else if (OnMasterDisable) {
      OnMasterDisable();
    }
  }
}

void MasterDataLink::CheckBrowseMode() {
  if (detail_.Active()) detail_.CheckBrowseMode();
}

void MasterDataLink::RecordChanged(Field* field) {
  if (GetDataSource()->State() != TDataSetState::dsSetKey && detail_.Active() && !fields_.empty() &&
      (field == nullptr || std::find(fields_.begin(), fields_.end(), field) != fields_.end()))
    if (OnMasterChange) OnMasterChange();
}

}  // namespace platform
