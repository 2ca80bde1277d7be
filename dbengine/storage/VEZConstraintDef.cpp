#include "dbengine/storage/VEZConstraintDef.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDefStreamIO.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "platform/core/Exceptions.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorUniqueColumnCount =
    30309;  // the stored column count of a unique constraint
constexpr std::int32_t kErrorSchemaNameSize = 30315;  // a table schema name that cannot be stored
constexpr std::int32_t kErrorIndexNameSize = 30323;   // an index name that cannot be stored

}  // namespace

namespace {

constexpr TVEZColumnConstraintDef::StreamErrors kNotNullWrite{10240, 10241, 10242, 10243, 10244,
                                                              10245, 10246, 10247, 10248};
constexpr TVEZColumnConstraintDef::StreamErrors kNotNullRead{10249, 10250, 10251, 10252, 10253,
                                                             10254, 10255, 10256, 10257};
constexpr TVEZColumnConstraintDef::StreamErrors kCheckWrite{10227, 10228, 10229, 10221, 10222,
                                                            10223, 10224, 10225, 10226};
constexpr TVEZColumnConstraintDef::StreamErrors kCheckRead{10230, 10231, 10232, 10233, 10234,
                                                           10235, 10236, 10237, 10238};

// One-byte sizes: 254 characters at most.
constexpr std::size_t kMaxColumnConstraintName = 254;

}  // namespace

// ---------------------------------------------------------------------------

void TVEZConstraintDef::Assign(const TVEZMetaObjectDef& source) {
  const auto& src = CheckedDefSource<TVEZConstraintDef>(source);
  if (&src == this) return;
  TVEZMetaObjectDef::Assign(source);
  ConstraintType = src.ConstraintType;
}

void TVEZColumnConstraintDef::AssignColumnConstraint(const TVEZColumnConstraintDef& source) {
  TVEZConstraintDef::Assign(source);
  TableSchemaName = source.TableSchemaName;
  TableSchemaObjectID = source.TableSchemaObjectID;
  TableName = source.TableName;
  TableObjectID = source.TableObjectID;
  ColumnName = source.ColumnName;
  ColumnObjectID = source.ColumnObjectID;
}

void TVEZColumnConstraintDef::LoadColumnConstraint(TVEZStream& stream, const StreamErrors& e) {
  LoadHead(stream);
  TableSchemaObjectID = defstream::ReadInt32(stream, e.schema_id);
  TableObjectID = defstream::ReadInt32(stream, e.table_id);
  ColumnObjectID = defstream::ReadInt32(stream, e.column_id);
  TableSchemaName = defstream::ReadSizedShortString(stream, false, e.schema_size, e.schema_data);
  TableName = defstream::ReadSizedShortString(stream, false, e.table_size, e.table_data);
  ColumnName = defstream::ReadSizedShortString(stream, false, e.column_size, e.column_data);
}

void TVEZColumnConstraintDef::SaveColumnConstraint(TVEZStream& stream,
                                                   const StreamErrors& e) const {
  defstream::CheckNameLength(TableSchemaName, kMaxColumnConstraintName, e.schema_size, "Name");
  defstream::CheckNameLength(TableName, kMaxColumnConstraintName, e.table_size, "Name");
  defstream::CheckNameLength(ColumnName, kMaxColumnConstraintName, e.column_size, "Name");
  defstream::CheckNameLength(Name, defstream::kMaxShortStringLength, kErrorDefName, "Name");
  SaveHead(stream);
  defstream::WriteInt32(stream, TableSchemaObjectID, e.schema_id);
  defstream::WriteInt32(stream, TableObjectID, e.table_id);
  defstream::WriteInt32(stream, ColumnObjectID, e.column_id);
  defstream::WriteSizedShortString(stream, TableSchemaName, false, e.schema_size, e.schema_data);
  defstream::WriteSizedShortString(stream, TableName, false, e.table_size, e.table_data);
  defstream::WriteSizedShortString(stream, ColumnName, false, e.column_size, e.column_data);
}

void TVEZConstraintDefNotNull::Assign(const TVEZMetaObjectDef& source) {
  const auto& src = CheckedDefSource<TVEZConstraintDefNotNull>(source);
  if (&src != this) AssignColumnConstraint(src);
}

void TVEZConstraintDefNotNull::LoadFromStream(TVEZStream& stream) {
  LoadColumnConstraint(stream, kNotNullRead);
}

void TVEZConstraintDefNotNull::SaveToStream(TVEZStream& stream) const {
  SaveColumnConstraint(stream, kNotNullWrite);
}

void TVEZConstraintDefCheck::Assign(const TVEZMetaObjectDef& source) {
  const auto& src = CheckedDefSource<TVEZConstraintDefCheck>(source);
  if (&src == this) return;
  AssignColumnConstraint(src);
  MinValue.Assign(src.MinValue, true);
  MaxValue.Assign(src.MaxValue, true);
}

void TVEZConstraintDefCheck::LoadFromStream(TVEZStream& stream) {
  LoadColumnConstraint(stream, kCheckRead);
  MinValue.LoadFromStream(stream);
  MaxValue.LoadFromStream(stream);
}

void TVEZConstraintDefCheck::SaveToStream(TVEZStream& stream) const {
  SaveColumnConstraint(stream, kCheckWrite);
  MinValue.SaveToStream(stream);
  MaxValue.SaveToStream(stream);
}

void TVEZConstraintDefUnique::Assign(const TVEZMetaObjectDef& source) {
  const auto& src = CheckedDefSource<TVEZConstraintDefUnique>(source);
  if (&src == this) return;
  TVEZConstraintDef::Assign(source);
  Columns = src.Columns;
  TableSchemaName = src.TableSchemaName;
  TableSchemaObjectID = src.TableSchemaObjectID;
  TableName = src.TableName;
  TableObjectID = src.TableObjectID;
  IndexName = src.IndexName;
  IndexObjectID = src.IndexObjectID;
}

void TVEZConstraintDefUnique::LoadFromStream(TVEZStream& stream) {
  LoadHead(stream);
  TableSchemaObjectID = defstream::ReadInt32(stream, 30303);
  TableObjectID = defstream::ReadInt32(stream, 30304);
  IndexObjectID = defstream::ReadInt32(stream, 30317);
  TableSchemaName = defstream::ReadSizedShortString(stream, true, 30305, 30306);
  TableName = defstream::ReadSizedShortString(stream, true, 30307, 30308);
  IndexName = defstream::ReadSizedShortString(stream, true, 30321, 30322);
  const std::int32_t count = defstream::ReadInt32(stream, kErrorUniqueColumnCount);
  if (count < 0) {
    throw EVEZException(kErrorUniqueColumnCount, "Invalid column count in stream: %d", {count});
  }
  // Grown per column read, never sized by the count alone.
  Columns.clear();
  for (std::int32_t i = 0; i < count; ++i) {
    TVEZConstraintColumn column;
    column.ColumnObjectID = defstream::ReadInt32(stream, 30310);
    column.ColumnName = defstream::ReadSizedShortString(stream, true, 30311, 30312);
    Columns.push_back(std::move(column));
  }
}

void TVEZConstraintDefUnique::SaveToStream(TVEZStream& stream) const {
  defstream::CheckNameLength(Name, defstream::kMaxShortStringLength, kErrorDefName, "Name");
  defstream::CheckNameLength(TableSchemaName, defstream::kMaxShortStringLength,
                             kErrorSchemaNameSize, "Name");
  defstream::CheckNameLength(TableName, defstream::kMaxShortStringLength, 30317, "Name");
  defstream::CheckNameLength(IndexName, defstream::kMaxShortStringLength, kErrorIndexNameSize,
                             "Name");
  for (const auto& column : Columns) {
    defstream::CheckNameLength(column.ColumnName, defstream::kMaxShortStringLength, 30321, "Name");
  }
  SaveHead(stream);
  defstream::WriteInt32(stream, TableSchemaObjectID, 30313);
  defstream::WriteInt32(stream, TableObjectID, 30314);
  defstream::WriteInt32(stream, IndexObjectID, 30318);
  defstream::WriteSizedShortString(stream, TableSchemaName, true, kErrorSchemaNameSize, 30316);
  defstream::WriteSizedShortString(stream, TableName, true, 30317, 30318);
  defstream::WriteSizedShortString(stream, IndexName, true, kErrorIndexNameSize, 30324);
  defstream::WriteInt32(stream, static_cast<std::int32_t>(Columns.size()), 30319);
  for (const auto& column : Columns) {
    defstream::WriteInt32(stream, column.ColumnObjectID, 30320);
    defstream::WriteSizedShortString(stream, column.ColumnName, true, 30321, 30322);
  }
}

// ---------------------------------------------------------------------------
// TVEZConstraintDefs

namespace {

template <typename Def>
Def* AppendNew(TVEZConstraintDefs& list) {
  auto def = std::make_unique<Def>();
  Def* raw = def.get();
  list.InternalAdd(std::move(def));
  return raw;
}

}  // namespace

TVEZConstraintDefNotNull* TVEZConstraintDefs::AddNotNull() {
  return AppendNew<TVEZConstraintDefNotNull>(*this);
}

TVEZConstraintDefCheck* TVEZConstraintDefs::AddCheck() {
  return AppendNew<TVEZConstraintDefCheck>(*this);
}

TVEZConstraintDefPrimary* TVEZConstraintDefs::AddPK() {
  return AppendNew<TVEZConstraintDefPrimary>(*this);
}

TVEZConstraintDefUnique* TVEZConstraintDefs::AddUnique() {
  return AppendNew<TVEZConstraintDefUnique>(*this);
}

TVEZConstraintDef* TVEZConstraintDefs::AddOfType(std::uint8_t type) {
  switch (type) {
    case ctPK:
      return AddPK();
    case ctUnique:
      return AddUnique();
    case ctNotNull:
      return AddNotNull();
    case ctCheck:
      return AddCheck();
    default:
      return nullptr;
  }
}

void TVEZConstraintDefs::LoadFromStream(TVEZStream& stream) {
  Clear();
  const std::int32_t count = ReadCount(stream);
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint8_t type = defstream::ReadUInt8(stream, 10220);
    TVEZConstraintDef* def = AddOfType(type);
    if (def == nullptr) throw EVEZException(30316, "Unknown Constraint Type: '%d'", {type});
    def->LoadFromStream(stream);
  }
}

void TVEZConstraintDefs::SaveToStream(TVEZStream& stream) const {
  defstream::WriteInt32(stream, GetCount(), 10158);
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    const TVEZConstraintDef* def = GetDef(i);
    defstream::WriteUInt8(stream, def->ConstraintType, 10219);
    def->SaveToStream(stream);
  }
}

void TVEZConstraintDefs::Assign(const TVEZMetaObjectDefs& source) {
  if (&source == this) return;
  Clear();
  for (std::int32_t i = 0; i < source.GetCount(); ++i) {
    const auto& src = CheckedDefSource<TVEZConstraintDef>(*source.GetDef(i));
    TVEZConstraintDef* def = AddOfType(src.ConstraintType);
    if (def == nullptr) throw EVEZException(30035, "Not implemented yet");
    def->Assign(src);
  }
}

TVEZConstraintDefUnique* CreateConstraintFromIndexDef(const TVEZIndexDef& index_def,
                                                      TVEZConstraintDefs& constraint_defs) {
  TVEZConstraintDefUnique* def = nullptr;
  std::string name;
  if (index_def.Primary) {
    def = constraint_defs.AddPK();
    name = "C_PK";
  } else if (index_def.Unique) {
    def = constraint_defs.AddUnique();
    name = "C_Unique";
  } else {
    return nullptr;
  }
  def->IndexName = index_def.Name;
  def->IndexObjectID = index_def.ObjectID;
  for (std::int32_t i = 0; i < index_def.ColumnCount(); ++i) {
    const std::string& field = index_def.GetIndexColumn(i)->FieldName;
    def->Columns.push_back(TVEZConstraintColumn{field, 0});
    name += "$";
    name += field;
  }
  def->Name = defstream::CutToShortString(name);
  return def;
}

}  // namespace vez
