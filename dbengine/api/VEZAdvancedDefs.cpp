#include "dbengine/api/VEZAdvancedDefs.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZMetaObjectDef.h"
#include "platform/core/Collation.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"

namespace vez {

namespace {

void CheckListIndex(std::int32_t index, std::size_t count) {
  if (index < 0 || static_cast<std::size_t>(index) >= count) {
    throw platform::EListError(platform::Format("List index out of bounds (%d)", {index}));
  }
}

// Position of the first item named `name` (SameDefName), or -1.
template <typename T>
std::int32_t IndexOfName(const std::vector<std::unique_ptr<T>>& list, std::string_view name) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (SameDefName(list[i]->Name, name)) return static_cast<std::int32_t>(i);
  }
  return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Fields

void TVEZAdvFieldDef::Assign(const TVEZAdvFieldDef& source) {
  if (&source == this) return;
  Name = source.Name;
  ObjectID = source.ObjectID;
  DataType = source.DataType;
  Required = source.Required;
  Size = source.Size;
  DefaultValue.Assign(source.DefaultValue, true);
  MinValue.Assign(source.MinValue, true);
  MaxValue.Assign(source.MaxValue, true);
  AutoincIncrement = source.AutoincIncrement;
  AutoincInitialValue = source.AutoincInitialValue;
  AutoincMinValue = source.AutoincMinValue;
  AutoincMaxValue = source.AutoincMaxValue;
  AutoincCycled = source.AutoincCycled;
  BLOBCompressionAlgorithm = source.BLOBCompressionAlgorithm;
  BLOBCompressionMode = source.BLOBCompressionMode;
  BLOBBlockSize = source.BLOBBlockSize;
}

TVEZAdvFieldDef* TVEZAdvFieldDefs::GetDef(std::int32_t index) const {
  CheckListIndex(index, FDefsList.size());
  return FDefsList[static_cast<std::size_t>(index)].get();
}

void TVEZAdvFieldDefs::SetDef(std::int32_t index, std::unique_ptr<TVEZAdvFieldDef> value) {
  CheckListIndex(index, FDefsList.size());
  FDefsList[static_cast<std::size_t>(index)] = std::move(value);
}

void TVEZAdvFieldDefs::Assign(const TVEZAdvFieldDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& item : source.FDefsList)
    AddFieldDef()->Assign(*item);
}

TVEZAdvFieldDef* TVEZAdvFieldDefs::AddFieldDef() {
  FDefsList.push_back(std::make_unique<TVEZAdvFieldDef>());
  return FDefsList.back().get();
}

TVEZAdvFieldDef* TVEZAdvFieldDefs::Add(std::string_view name, TVEZAdvancedFieldType data_type,
                                       std::int32_t size, bool required,
                                       TCompressionAlgorithm blob_compression_algorithm,
                                       std::uint8_t blob_compression_mode) {
  auto def = std::make_unique<TVEZAdvFieldDef>();
  def->Name = std::string(name);
  def->DataType = data_type;
  def->Size = size;
  def->Required = required;
  def->BLOBCompressionAlgorithm = blob_compression_algorithm;
  def->BLOBCompressionMode = blob_compression_mode;
  FDefsList.push_back(std::move(def));
  return FDefsList.back().get();
}

TVEZAdvFieldDef* TVEZAdvFieldDefs::Find(std::string_view name) const {
  // Both sides upper-cased: a column declared "MeasurementID" is found by
  // that name as well as by "MEASUREMENTID".
  const std::int32_t i = IndexOfName(FDefsList, name);
  return i < 0 ? nullptr : FDefsList[static_cast<std::size_t>(i)].get();
}

void TVEZAdvFieldDefs::DeleteFieldDef(std::string_view field_name) {
  const std::int32_t i = IndexOfName(FDefsList, field_name);
  if (i < 0) throw EVEZException(30349, "Field '%s' not found", {field_name});
  FDefsList.erase(FDefsList.begin() + i);
}

// ---------------------------------------------------------------------------
// Indexes

void TVEZAdvIndexDef::Assign(const TVEZAdvIndexDef& source) {
  if (&source == this) return;
  Name = source.Name;
  Fields = source.Fields;
  DescFields = source.DescFields;
  CaseInsFields = source.CaseInsFields;
  Options = source.Options;
  MaxIndexedSizes = source.MaxIndexedSizes;
  Temporary = source.Temporary;
}

TVEZAdvIndexDef* TVEZAdvIndexDefs::GetDef(std::int32_t index) const {
  CheckListIndex(index, FDefsList.size());
  return FDefsList[static_cast<std::size_t>(index)].get();
}

void TVEZAdvIndexDefs::SetDef(std::int32_t index, std::unique_ptr<TVEZAdvIndexDef> value) {
  CheckListIndex(index, FDefsList.size());
  FDefsList[static_cast<std::size_t>(index)] = std::move(value);
}

void TVEZAdvIndexDefs::Assign(const TVEZAdvIndexDefs& source, bool skip_temporary_indexes) {
  if (&source == this) return;
  Clear();
  for (const auto& item : source.FDefsList) {
    if (skip_temporary_indexes &&
        (item->Temporary ||
         platform::AnsiUpperCase(item->Name).find("TEMPORARY") != std::string::npos)) {
      continue;
    }
    AddIndexDef()->Assign(*item);
  }
}

TVEZAdvIndexDef* TVEZAdvIndexDefs::AddIndexDef() {
  FDefsList.push_back(std::make_unique<TVEZAdvIndexDef>());
  return FDefsList.back().get();
}

TVEZAdvIndexDef* TVEZAdvIndexDefs::Add(std::string_view name, std::string_view fields,
                                       platform::TIndexOptions options, bool temporary,
                                       std::string_view desc_fields,
                                       std::string_view case_ins_fields,
                                       std::string_view max_indexed_sizes) {
  auto def = std::make_unique<TVEZAdvIndexDef>();
  def->Name = std::string(name);
  def->Fields = std::string(fields);
  def->Options = options;
  def->Temporary = temporary;
  def->DescFields = std::string(desc_fields);
  def->CaseInsFields = std::string(case_ins_fields);
  def->MaxIndexedSizes = std::string(max_indexed_sizes);
  FDefsList.push_back(std::move(def));
  return FDefsList.back().get();
}

std::int32_t TVEZAdvIndexDefs::IndexOf(std::string_view name) const {
  const std::int32_t i = IndexOfName(FDefsList, name);
  if (i < 0) throw EVEZException(20190, "Index '%s' not found", {name});
  return i;
}

TVEZAdvIndexDef* TVEZAdvIndexDefs::Find(std::string_view name) const {
  return FDefsList[static_cast<std::size_t>(IndexOf(name))].get();
}

void TVEZAdvIndexDefs::DeleteIndexDef(std::string_view index_name) {
  FDefsList.erase(FDefsList.begin() + IndexOf(index_name));
}

}  // namespace vez
