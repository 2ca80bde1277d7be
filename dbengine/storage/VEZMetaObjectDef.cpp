#include "dbengine/storage/VEZMetaObjectDef.h"

#include <algorithm>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDefStreamIO.h"
#include "platform/core/Collation.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorItemCount = 10159;  // the stored item count
constexpr std::int32_t kErrorNotOverridden =
    30339;  // a definition kind without its own stream form

}  // namespace

bool SameDefName(std::string_view a, std::string_view b) {
  // Upper-casing maps one byte to one byte, so texts of different lengths
  // never match; compared in place, as lookups run on every field access by
  // name and must not allocate.
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && platform::AnsiUpperChar(a[i]) != platform::AnsiUpperChar(b[i])) {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// TVEZMetaObjectDef

void TVEZMetaObjectDef::Assign(const TVEZMetaObjectDef& source) {
  if (&source == this) return;
  Name = source.Name;
  ObjectID = source.ObjectID;
  SchemaName = source.SchemaName;
  SchemaID = source.SchemaID;
}

void TVEZMetaObjectDef::LoadFromStream(TVEZStream& stream) {
  LoadHead(stream);
}

void TVEZMetaObjectDef::SaveToStream(TVEZStream& stream) const {
  SaveHead(stream);
}

void TVEZMetaObjectDef::LoadHead(TVEZStream& stream) {
  Name = defstream::ReadShortString(stream, 10166, 10167);
  ObjectID = defstream::ReadInt32(stream, 10169);
}

void TVEZMetaObjectDef::SaveHead(TVEZStream& stream) const {
  defstream::WriteShortString(stream, Name, kErrorDefName, 10165);
  defstream::WriteInt32(stream, ObjectID, 10168);
}

// ---------------------------------------------------------------------------
// TVEZMetaObjectDefs

void TVEZMetaObjectDefs::CheckIndex(std::int32_t index, std::size_t limit) const {
  if (index < 0 || static_cast<std::size_t>(index) >= limit) RaiseIndexOutOfBounds(index);
}

void TVEZMetaObjectDefs::RaiseIndexOutOfBounds(std::int32_t index) {
  throw platform::EListError(platform::Format("List index out of bounds (%d)", {index}));
}

std::int32_t TVEZMetaObjectDefs::InternalAdd(std::unique_ptr<TVEZMetaObjectDef> item) {
  FDefsList.push_back(std::move(item));
  return static_cast<std::int32_t>(FDefsList.size() - 1);
}

TVEZMetaObjectDef* TVEZMetaObjectDefs::InternalAddCreated() {
  std::unique_ptr<TVEZMetaObjectDef> def = CreateDef();
  if (!def) {
    throw EVEZException(kErrorNotOverridden, "The method '%s' not overrided in class '%s'",
                        {"InternalAddCreated", ClassName()});
  }
  TVEZMetaObjectDef* raw = def.get();
  InternalAdd(std::move(def));
  return raw;
}

std::int32_t TVEZMetaObjectDefs::ReadCount(TVEZStream& stream) {
  const std::int32_t count = defstream::ReadInt32(stream, kErrorItemCount);
  if (count < 0) {
    throw EVEZException(kErrorItemCount, "Invalid item count in stream: %d", {count});
  }
  FLoadedItemCount = count;
  return count;
}

void TVEZMetaObjectDefs::LoadFromStream(TVEZStream& stream) {
  Clear();
  const std::int32_t count = ReadCount(stream);
  // Defs are read one by one rather than sized by the count, so a count that
  // the data cannot hold fails at the first missing byte without a large
  // allocation up front.
  for (std::int32_t i = 0; i < count; ++i) {
    std::unique_ptr<TVEZMetaObjectDef> def = CreateDef();
    if (!def) {
      throw EVEZException(kErrorNotOverridden, "The method '%s' not overrided in class '%s'",
                          {"InternalAddCreated", ClassName()});
    }
    def->LoadFromStream(stream);
    InternalAdd(std::move(def));
  }
}

void TVEZMetaObjectDefs::SaveToStream(TVEZStream& stream) const {
  defstream::WriteInt32(stream, GetCount(), CountWriteError());
  for (const auto& def : FDefsList)
    def->SaveToStream(stream);
}

void TVEZMetaObjectDefs::Assign(const TVEZMetaObjectDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& def : source.FDefsList) {
    if (GetDefNumberByName(def->Name) >= 0) {
      throw EVEZException(10424, "Duplicate field name %s", {def->Name});
    }
    InternalAddCreated()->Assign(*def);
  }
}

void TVEZMetaObjectDefs::Delete(std::int32_t index) {
  CheckIndex(index, FDefsList.size());
  FDefsList.erase(FDefsList.begin() + index);
}

void TVEZMetaObjectDefs::Insert(std::int32_t index, std::unique_ptr<TVEZMetaObjectDef> def) {
  CheckIndex(index, FDefsList.size() + 1);
  FDefsList.insert(FDefsList.begin() + index, std::move(def));
}

void TVEZMetaObjectDefs::Move(std::int32_t cur_index, std::int32_t new_index) {
  CheckIndex(cur_index, FDefsList.size());
  CheckIndex(new_index, FDefsList.size());
  if (cur_index == new_index) return;
  std::unique_ptr<TVEZMetaObjectDef> def = std::move(FDefsList[cur_index]);
  FDefsList.erase(FDefsList.begin() + cur_index);
  FDefsList.insert(FDefsList.begin() + new_index, std::move(def));
}

void TVEZMetaObjectDefs::Clear() {
  // From the end: deleting entry 0 first would move every remaining entry
  // on each step.
  while (!FDefsList.empty())
    Delete(static_cast<std::int32_t>(FDefsList.size() - 1));
}

void TVEZMetaObjectDefs::SetDef(std::int32_t index, std::unique_ptr<TVEZMetaObjectDef> value) {
  CheckIndex(index, FDefsList.size());
  // Putting back the def that is there must not free it and keep it listed.
  if (value.get() == FDefsList[index].get()) {
    (void)value.release();
    return;
  }
  FDefsList[index] = std::move(value);
}

std::int32_t TVEZMetaObjectDefs::GetDefNumberByName(std::string_view name) const {
  for (std::size_t i = 0; i < FDefsList.size(); ++i) {
    const TVEZMetaObjectDef* def = FDefsList[i].get();
    if (def && SameDefName(def->Name, name)) return static_cast<std::int32_t>(i);
  }
  return -1;
}

TVEZMetaObjectDef* TVEZMetaObjectDefs::GetDefByName(std::string_view name) const {
  const std::int32_t i = GetDefNumberByName(name);
  return i < 0 ? nullptr : FDefsList[i].get();
}

std::int32_t TVEZMetaObjectDefs::GetDefNumberByObjectId(std::int32_t id) const {
  for (std::size_t i = 0; i < FDefsList.size(); ++i) {
    if (FDefsList[i] && FDefsList[i]->ObjectID == id) return static_cast<std::int32_t>(i);
  }
  return -1;
}

TVEZMetaObjectDef* TVEZMetaObjectDefs::GetDefByObjectId(std::int32_t id) const {
  const std::int32_t i = GetDefNumberByObjectId(id);
  return i < 0 ? nullptr : FDefsList[i].get();
}

}  // namespace vez
