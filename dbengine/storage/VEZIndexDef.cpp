#include "dbengine/storage/VEZIndexDef.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZDefStreamIO.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "platform/core/Collation.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorIndexType = 10349;    // the stored index type
constexpr std::int32_t kErrorColumnCount = 10352;  // the stored column count
constexpr std::int32_t kErrorColumnName = 10354;   // a column name too long to store
constexpr std::int32_t kErrorIndexedSize = 20168;  // the stored indexed size

}  // namespace

// ---------------------------------------------------------------------------
// TVEZIndexColumn

void TVEZIndexColumn::LoadFromStream(TVEZStream& stream) {
  FieldName = defstream::ReadShortString(stream, 10358, 10359);
  Descending = defstream::ReadBoolByte(stream, 10360);
  CaseInsensitive = defstream::ReadBoolByte(stream, 10361);
  const std::int32_t max_size = defstream::ReadInt32(stream, kErrorIndexedSize);
  if (max_size < 0) {
    throw EVEZException(kErrorIndexedSize, "Invalid indexed size in stream: %d", {max_size});
  }
  MaxIndexedSize = max_size;
}

void TVEZIndexColumn::SaveToStream(TVEZStream& stream) const {
  defstream::WriteShortString(stream, FieldName, kErrorColumnName, 10355);
  defstream::WriteBoolByte(stream, Descending, 10356);
  defstream::WriteBoolByte(stream, CaseInsensitive, 10357);
  defstream::WriteInt32(stream, MaxIndexedSize, 20169);
}

// ---------------------------------------------------------------------------
// TVEZIndexDef

TVEZIndexDef::TVEZIndexDef() : TVEZMetaObjectDef(0) {}
TVEZIndexDef::~TVEZIndexDef() = default;

void TVEZIndexDef::SetColumnCount(std::int32_t count) {
  if (count < 0) {
    throw platform::EListError(platform::Format("List count out of bounds (%d)", {count}));
  }
  while (ColumnCount() > count)
    FColumns.pop_back();
  while (ColumnCount() < count)
    FColumns.push_back(std::make_unique<TVEZIndexColumn>());
}

TVEZIndexColumn* TVEZIndexDef::GetIndexColumn(std::int32_t index) const {
  if (index < 0 || index >= ColumnCount()) {
    throw platform::EListError(platform::Format("List index out of bounds (%d)", {index}));
  }
  return FColumns[index].get();
}

void TVEZIndexDef::Assign(const TVEZMetaObjectDef& source) {
  const auto* src = &CheckedDefSource<TVEZIndexDef>(source);
  if (src == this) return;
  TVEZMetaObjectDef::Assign(source);
  IndexType = src->IndexType;
  Unique = src->Unique;
  Primary = src->Primary;
  RootPageNo = src->RootPageNo;
  SetColumnCount(src->ColumnCount());
  Temporary = src->Temporary;
  SessionID = src->SessionID;
  TableState = src->TableState;
  NeedRebuild = src->NeedRebuild;
  for (std::int32_t i = 0; i < ColumnCount(); ++i) {
    *FColumns[i] = *src->FColumns[i];
  }
}

void TVEZIndexDef::AssignByNames(const std::vector<std::string>& field_names,
                                 const std::vector<std::string>& asc_desc_list,
                                 const std::vector<std::string>& case_sensitivity_list) {
  if (asc_desc_list.size() != field_names.size()) {
    throw EVEZException(10278, "Error - different list lengths. L1 = %d, L2 = %d",
                        {field_names.size(), asc_desc_list.size()});
  }
  if (case_sensitivity_list.size() != field_names.size()) {
    throw EVEZException(10279, "Error - different list lengths. L1 = %d, L2 = %d",
                        {field_names.size(), case_sensitivity_list.size()});
  }
  SetColumnCount(static_cast<std::int32_t>(field_names.size()));
  for (std::size_t i = 0; i < field_names.size(); ++i) {
    TVEZIndexColumn& column = *FColumns[i];
    column.FieldName = field_names[i];
    column.Descending = TVEZBoolByte::FromComparison(asc_desc_list[i] == "DESC");
    column.CaseInsensitive = TVEZBoolByte::FromComparison(case_sensitivity_list[i] == "NO_CASE");
    column.MaxIndexedSize = kDefaultMaxIndexedSize;
  }
}

void TVEZIndexDef::LoadFromStream(TVEZStream& stream) {
  LoadHead(stream);
  const std::uint8_t type = defstream::ReadUInt8(stream, kErrorIndexType);
  if (type > itAnotherOne) {
    throw EVEZException(kErrorIndexType, "Invalid index type in stream: %d", {type});
  }
  IndexType = static_cast<TVEZIndexType>(type);
  Unique = defstream::ReadBoolByte(stream, 10350);
  Primary = defstream::ReadBoolByte(stream, 10351);
  const std::int32_t count = defstream::ReadInt32(stream, kErrorColumnCount);
  if (count < 0) {
    throw EVEZException(kErrorColumnCount, "Invalid column count in stream: %d", {count});
  }
  Temporary = false;
  RootPageNo = defstream::ReadInt32(stream, 10353);
  // Columns are created as they are read, so the count alone never sizes an
  // allocation: a count the data cannot hold fails at the first missing byte.
  FColumns.clear();
  for (std::int32_t i = 0; i < count; ++i) {
    auto column = std::make_unique<TVEZIndexColumn>();
    column->LoadFromStream(stream);
    FColumns.push_back(std::move(column));
  }
}

void TVEZIndexDef::SaveToStream(TVEZStream& stream) const {
  // Names are checked before the first byte so a refused def writes nothing.
  for (const auto& column : FColumns) {
    defstream::CheckNameLength(column->FieldName, defstream::kMaxShortStringLength,
                               kErrorColumnName, "Name");
  }
  SaveHead(stream);
  defstream::WriteUInt8(stream, IndexType, 10344);
  defstream::WriteBoolByte(stream, Unique, 10345);
  defstream::WriteBoolByte(stream, Primary, 10346);
  defstream::WriteInt32(stream, ColumnCount(), 10347);
  defstream::WriteInt32(stream, RootPageNo, 10348);
  for (const auto& column : FColumns)
    column->SaveToStream(stream);
}

// ---------------------------------------------------------------------------
// TVEZIndexDefs

void TVEZIndexDefs::SaveToStream(TVEZStream& stream) const {
  std::int32_t permanent = 0;
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    if (!GetIndexDef(i)->Temporary) ++permanent;
  }
  defstream::WriteInt32(stream, permanent, CountWriteError());
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    const TVEZIndexDef* def = GetIndexDef(i);
    if (!def->Temporary) def->SaveToStream(stream);
  }
}

std::int32_t TVEZIndexDefs::FindIndex(const std::vector<std::string>* field_names,
                                      const std::vector<std::string>* asc_desc_list,
                                      const std::vector<std::string>* case_sensitivity_list,
                                      std::int32_t session_id,
                                      const TVEZFieldDefs* field_defs) const {
  if (field_names == nullptr) throw EVEZException(10389, "Nil pointer occured");
  if (asc_desc_list == nullptr) throw EVEZException(10390, "Nil pointer occured");
  if (case_sensitivity_list == nullptr) throw EVEZException(10391, "Nil pointer occured");
  if (field_names->size() != asc_desc_list->size()) {
    throw EVEZException(10276, "Error - different list lengths. L1 = %d, L2 = %d",
                        {field_names->size(), asc_desc_list->size()});
  }
  if (field_names->size() != case_sensitivity_list->size()) {
    throw EVEZException(10277, "Error - different list lengths. L1 = %d, L2 = %d",
                        {field_names->size(), case_sensitivity_list->size()});
  }
  const std::size_t n = field_names->size();
  for (std::int32_t d = 0; d < GetCount(); ++d) {
    const TVEZIndexDef* def = GetIndexDef(d);
    if (static_cast<std::size_t>(def->ColumnCount()) < n) continue;
    if (def->Temporary && def->SessionID != session_id) continue;
    bool matches = true;
    for (std::size_t i = 0; i < n && matches; ++i) {
      const TVEZIndexColumn& column = *def->GetIndexColumn(static_cast<std::int32_t>(i));
      const std::string& name = (*field_names)[i];
      const std::string& direction = (*asc_desc_list)[i];
      const std::string& case_option = (*case_sensitivity_list)[i];
      if (!platform::SameText(column.FieldName, name)) {
        matches = false;
      } else if (direction == "ASC" && column.Descending) {
        matches = false;
      } else if (direction == "DESC" && !column.Descending) {
        matches = false;
      } else {
        const TVEZFieldDef* field =
            field_defs != nullptr ? field_defs->GetFieldDefByName(name) : nullptr;
        const bool is_string = field != nullptr && IsStringBaseFieldType(field->BaseFieldType);
        if (is_string && case_option == "CASE" && column.CaseInsensitive) matches = false;
        if (case_option == "NO_CASE" && !column.CaseInsensitive) matches = false;
      }
    }
    if (matches) return def->ObjectID;
  }
  return -1;
}

}  // namespace vez
