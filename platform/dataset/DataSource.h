// DataSource and DataLink: how controls and other datasets follow a dataset.
// A DataSource points at one dataset; any number of DataLinks attach to the
// source and receive the dataset's notifications as calls of their virtual
// hooks (active changed, data set changed, record changed, scrolled, check
// browse mode, update data, layout changed). MasterDataLink lets a detail
// dataset follow the master's current record through named master fields.
//
// Links and sources do not own each other; each detaches itself when it
// goes away, and a dataset that goes away detaches its sources (their links
// see the source become inactive).
//
// Thread safety: none; everything lives on the dataset's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/dataset/Component.h"
#include "platform/dataset/DataSetTypes.h"

namespace platform {

class DataSet;
class DataLink;
class Field;

class DataSource : public Component {
 public:
  explicit DataSource(Component* owner = nullptr);
  ~DataSource() override;

  DataSet* GetDataSet() const { return dataset_; }
  // Raises EDatabaseError "Circular datalinks are not allowed" when the
  // dataset follows this source, directly or through its masters.
  void SetDataSet(DataSet* dataset);
  bool Enabled() const { return enabled_; }
  // A disabled source tells its links the dataset is inactive.
  void SetEnabled(bool value);
  // The dataset's state, dsInactive without one or when disabled.
  TDataSetState State() const { return state_; }
  // True when this source's dataset follows `dataset`'s chain of masters back
  // to this source.
  bool IsLinkedTo(const DataSet* dataset) const;
  void Edit();

  std::function<void(DataSource&)> OnStateChange;
  std::function<void(DataSource&, Field*)> OnDataChange;
  std::function<void(DataSource&)> OnUpdateData;

 private:
  friend class DataSet;
  friend class DataLink;
  // From the dataset.
  void DataEvent(TDataEvent event, std::intptr_t info);
  void NotifyLinks(TDataEvent event, std::intptr_t info);
  void DataSetGone() noexcept;
  void FieldsDestroying() noexcept;

  DataSet* dataset_ = nullptr;
  bool enabled_ = true;
  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<DataLink*> links_;
};

class DataLink {
 public:
  DataLink() = default;
  DataLink(const DataLink&) = delete;
  DataLink& operator=(const DataLink&) = delete;
  virtual ~DataLink();

  DataSource* GetDataSource() const { return source_; }
  virtual void SetDataSource(DataSource* source);
  DataSet* GetDataSet() const;
  // True while the source's dataset is open (and the source enabled).
  bool Active() const { return active_; }
  // True while the dataset is in edit or insert.
  bool Editing() const { return editing_; }
  // Puts the dataset into edit; true when it then is editing.
  bool Edit();
  // Asks the link to write its pending data (UpdateData), once at a time.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void EditingChanged() {}
  // The base hands it on as RecordChanged(nullptr).
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  // field null: the whole record.
  virtual void RecordChanged(Field* /*field*/) {}
  virtual void CheckBrowseMode() {}
  virtual void UpdateData() {}
  // The base hands it on as DataSetChanged().
  virtual void LayoutChanged() { DataSetChanged(); }
  // The dataset is about to free fields (it rebuilds them on every open):
  // drop any pointer to them. Sent at once, even with controls disabled or
  // the source disabled, since a held-back notice would leave them dangling.
  // It may not attach or detach links.
  virtual void FieldsDestroying() noexcept {}

 private:
  friend class DataSource;
  void DataEvent(TDataEvent event, std::intptr_t info);
  void UpdateState();

  DataSource* source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool updating_ = false;
};

// A link whose owner is a dataset that depends on the source's dataset (a
// detail table, a query taking its parameters from a master).
class DetailDataLink : public DataLink {
 public:
  // The dependent dataset; null in the base.
  virtual DataSet* GetDetailDataSet() { return nullptr; }
  // Refuses a source that leads back to the detail dataset ("Circular
  // datalinks are not allowed").
  void SetDataSource(DataSource* source) override;
};

// The link of a detail dataset to its master: while the master is open and
// FieldNames name master fields, a change of the master's record (or of one
// of those fields) calls OnMasterChange; when the master closes or the link
// loses its fields, OnMasterDisable. While the master rebuilds its fields
// with controls disabled, Fields() is empty until controls come back.
class MasterDataLink : public DetailDataLink {
 public:
  explicit MasterDataLink(DataSet& detail) : detail_(detail) {}
  DataSet* GetDetailDataSet() override { return &detail_; }
  const std::string& FieldNames() const { return field_names_; }
  // Names separated by ';'; raises EDatabaseError for a name the master
  // lacks (the link then has no fields).
  void SetFieldNames(const std::string& names);
  const std::vector<Field*>& Fields() const { return fields_; }

  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(Field* field) override;
  // The fields come back when the link next hears the master open (or its
  // layout change, once controls are enabled again).
  void FieldsDestroying() noexcept override { fields_.clear(); }

 private:
  DataSet& detail_;
  std::string field_names_;
  std::vector<Field*> fields_;
};

}  // namespace platform
