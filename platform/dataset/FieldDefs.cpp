#include "platform/dataset/FieldDefs.h"

#include "platform/core/Collation.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"
#include "platform/dataset/DBConsts.h"
#include "platform/dataset/DataSet.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/dataset/Field.h"

namespace platform {

bool IsSizedFieldType(TFieldType type) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftFixedWideChar:
    case ftGuid:
    case ftBytes:
    case ftVarBytes:
    case ftBCD:
    case ftFMTBcd:
      return true;
    default:
      return false;
  }
}

bool IsBlobFieldType(TFieldType type) {
  switch (type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
    case ftWideMemo:
      return true;
    default:
      return false;
  }
}

const char* FieldTypeName(TFieldType type) {
  static constexpr const char* kNames[kFieldTypeCount] = {
      "Unknown",    "String",     "SmallInt",      "Integer",     "Word",         "Boolean",
      "Float",      "Currency",   "BCD",           "Date",        "Time",         "DateTime",
      "Bytes",      "VarBytes",   "AutoInc",       "Blob",        "Memo",         "Graphic",
      "FmtMemo",    "ParadoxOle", "dBaseOle",      "TypedBinary", "Cursor",       "FixedChar",
      "WideString", "Largeint",   "ADT",           "Array",       "Reference",    "DataSet",
      "OraBlob",    "OraClob",    "Variant",       "Interface",   "IDispatch",    "Guid",
      "TimeStamp",  "FMTBcd",     "FixedWideChar", "WideMemo",    "OraTimeStamp", "OraInterval"};
  const int i = static_cast<int>(type);
  return i >= 0 && i < kFieldTypeCount ? kNames[i] : "Unknown";
}

std::unique_ptr<Field> FieldDef::CreateField() const {
  std::unique_ptr<Field> field = CreateFieldOfType(DataType, Size);
  if (!field) DatabaseError(Format(dbconsts::SUnknownFieldType, {Name}));
  field->SetFieldName(Name);
  field->Required = Required;
  return field;
}

// ---- FieldDefs

FieldDef& FieldDefs::Add(std::string_view name, TFieldType type, int size, bool required) {
  if (IndexOf(name) >= 0) DatabaseError(Format(dbconsts::SDuplicateFieldName, {name}));
  if (size < 0) DatabaseError(dbconsts::SInvalidFieldSize);
  if (IsSizedFieldType(type)) {
    if (size == 0) {
      if (type == ftBytes || type == ftVarBytes) DatabaseError(dbconsts::SInvalidFieldSize);
      size = type == ftGuid ? kGuidSize : kDefaultStringSize;
    }
  } else if (size != 0 && !IsBlobFieldType(type)) {
    DatabaseError(dbconsts::SInvalidFieldSize);
  }
  auto def = std::make_unique<FieldDef>();
  def->Name = std::string(name);
  def->DataType = type;
  def->Size = size;
  def->Required = required;
  def->FieldNo = Count() + 1;
  defs_.push_back(std::move(def));
  return *defs_.back();
}

FieldDef& FieldDefs::Items(int index) {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return *defs_[static_cast<std::size_t>(index)];
}

const FieldDef& FieldDefs::Items(int index) const {
  return const_cast<FieldDefs*>(this)->Items(index);
}

int FieldDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(defs_[static_cast<std::size_t>(i)]->Name, name)) return i;
  return -1;
}

FieldDef& FieldDefs::Find(std::string_view name) {
  const int i = IndexOf(name);
  if (i < 0) DatabaseError(Format(dbconsts::SFieldNotFound, {name}));
  return Items(i);
}

void FieldDefs::Clear() {
  defs_.clear();
}

void FieldDefs::Assign(const FieldDefs& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<FieldDef>> copy;
  copy.reserve(source.defs_.size());
  for (const auto& d : source.defs_)
    copy.push_back(std::make_unique<FieldDef>(*d));
  defs_ = std::move(copy);
}

void FieldDefs::Update() {
  if (!updated_ && owner_ != nullptr) owner_->InitFieldDefs();
}

// ---- IndexDefs

IndexDef& IndexDefs::Add(std::string_view name, std::string_view fields, TIndexOptions options) {
  if (!name.empty() && IndexOf(name) >= 0)
    DatabaseError(Format(dbconsts::SDuplicateIndexName, {name}));
  auto def = std::make_unique<IndexDef>();
  def->Name = std::string(name);
  def->Fields = std::string(fields);
  def->Options = options;
  defs_.push_back(std::move(def));
  return *defs_.back();
}

IndexDef& IndexDefs::Items(int index) {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return *defs_[static_cast<std::size_t>(index)];
}

const IndexDef& IndexDefs::Items(int index) const {
  return const_cast<IndexDefs*>(this)->Items(index);
}

int IndexDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(defs_[static_cast<std::size_t>(i)]->Name, name)) return i;
  return -1;
}

IndexDef& IndexDefs::Find(std::string_view name) {
  const int i = IndexOf(name);
  if (i < 0) DatabaseError(Format(dbconsts::SIndexNotFound, {name}));
  return Items(i);
}

void IndexDefs::Clear() {
  defs_.clear();
}

void IndexDefs::Assign(const IndexDefs& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<IndexDef>> copy;
  copy.reserve(source.defs_.size());
  for (const auto& d : source.defs_)
    copy.push_back(std::make_unique<IndexDef>(*d));
  defs_ = std::move(copy);
}

const IndexDef* IndexDefs::GetIndexForFields(std::string_view fields, bool case_insensitive) {
  Update();
  // Exact matches first, then an index whose leading columns are the fields.
  for (const bool exact : {true, false}) {
    for (const auto& def : defs_) {
      if ((def->Options & (ixDescending | ixExpression)) != 0) continue;
      if (case_insensitive && (def->Options & ixCaseInsensitive) == 0) continue;
      const std::string_view list = def->Fields;
      if (exact) {
        if (AnsiSameText(list, fields)) return def.get();
      } else if (list.size() > fields.size() && list[fields.size()] == ';' &&
                 AnsiSameText(list.substr(0, fields.size()), fields)) {
        return def.get();
      }
    }
  }
  return nullptr;
}

const IndexDef& IndexDefs::FindIndexForFields(std::string_view fields) {
  const IndexDef* def = GetIndexForFields(fields);
  if (def == nullptr) DatabaseError(Format(dbconsts::SNoIndexForFields, {fields}));
  return *def;
}

void IndexDefs::Update() {
  if (!updated_ && owner_ != nullptr) owner_->UpdateIndexDefs();
}

}  // namespace platform
