// Schema definition objects ("defs"): the common base of field, index and
// constraint definitions, and the owning list that every kind is kept in.
// Defs and their lists have a binary stream form that is part of the
// database file format (table metadata); the byte layouts are exact.
//
// Thread safety: none. A table's defs change only under its table data's lock;
// a cursor's copies belong to the cursor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "platform/core/Exceptions.h"

namespace vez {

class TVEZStream;

// A definition's name that cannot be stored (too long, or its write fails);
// every kind of definition checks its name with it before writing.
inline constexpr std::int32_t kErrorDefName = 10164;

// A stored Boolean byte: 0 is false, any other value true. It keeps the byte
// it was loaded or set with, so a def saves the bytes it was loaded from;
// a flag set from a comparison is stored as 0xFF, one set to true as 1.
struct TVEZBoolByte {
  std::uint8_t Value = 0;

  constexpr TVEZBoolByte() = default;
  constexpr TVEZBoolByte(bool b) : Value(b ? 1 : 0) {}
  constexpr operator bool() const { return Value != 0; }
  static constexpr TVEZBoolByte Raw(std::uint8_t byte) {
    TVEZBoolByte r;
    r.Value = byte;
    return r;
  }
  static constexpr TVEZBoolByte FromComparison(bool b) { return Raw(b ? 0xFF : 0); }
};

// True when the two names are equal after the engine's upper-casing of both
// (the lookup rule of def names, session object names and table names).
bool SameDefName(std::string_view a, std::string_view b);

class TVEZMetaObjectDef;

// source seen as a T; platform::EInvalidCast when it is another kind of def
// (an override of Assign reading its own fields from it would read memory
// that is not there).
template <typename T>
const T& CheckedDefSource(const TVEZMetaObjectDef& source);

// A named schema object.
class TVEZMetaObjectDef {
 public:
  TVEZMetaObjectDef() = default;
  virtual ~TVEZMetaObjectDef() = default;
  TVEZMetaObjectDef(const TVEZMetaObjectDef&) = delete;
  TVEZMetaObjectDef& operator=(const TVEZMetaObjectDef&) = delete;

  // Copies Name, ObjectID, SchemaName and SchemaID. Overrides copy their own
  // fields as well and may require source to be of their own class
  // (platform::EInvalidCast otherwise).
  virtual void Assign(const TVEZMetaObjectDef& source);

  // Replaces the stored fields by the def's stream form read at the stream's
  // position. A short read or a malformed piece raises EVEZException with the
  // piece's read number; fields read before the failure keep their new value.
  // The base reads the common head (name, object id).
  virtual void LoadFromStream(TVEZStream& stream);

  // Appends the def's stream form at the stream's position. A short write
  // raises EVEZException with the piece's write number; a name that the form
  // cannot hold is refused with that piece's write number before it is
  // written. The base writes the common head.
  virtual void SaveToStream(TVEZStream& stream) const;

  // At most 255 single-byte characters when stored.
  std::string Name;
  std::int32_t ObjectID = -1;
  // Not stored; loading leaves these two as they are.
  std::string SchemaName;
  std::int32_t SchemaID = -1;

  // The common head that every def's form starts with: name length byte,
  // name, ObjectID.
  void LoadHead(TVEZStream& stream);
  void SaveHead(TVEZStream& stream) const;

 protected:
  // Index, NOT NULL and CHECK defs start with zero ids.
  explicit TVEZMetaObjectDef(std::int32_t initial_ids)
      : ObjectID(initial_ids), SchemaID(initial_ids) {}
};

// Owning list of defs, kept in insertion order.
class TVEZMetaObjectDefs {
 public:
  TVEZMetaObjectDefs() = default;
  virtual ~TVEZMetaObjectDefs() = default;
  TVEZMetaObjectDefs(const TVEZMetaObjectDefs&) = delete;
  TVEZMetaObjectDefs& operator=(const TVEZMetaObjectDefs&) = delete;

  virtual std::int32_t GetCount() const { return static_cast<std::int32_t>(FDefsList.size()); }
  std::int32_t Count() const { return GetCount(); }

  // Appends item (the list takes ownership); returns its position.
  virtual std::int32_t InternalAdd(std::unique_ptr<TVEZMetaObjectDef> item);
  // Creates a def of the list's item class, appends it and returns it (still
  // owned by the list). The base raises 30339: a list of no item class.
  virtual TVEZMetaObjectDef* InternalAddCreated();

  // Clears the list, reads the Int32 count into LoadedItemCount, then reads
  // and appends each def. A def that fails to load is not appended; the defs
  // read before it stay. A negative count raises the count's read number.
  virtual void LoadFromStream(TVEZStream& stream);
  // Int32 count, then each def's form in list order.
  virtual void SaveToStream(TVEZStream& stream) const;

  // Clears the list, then appends a copy of every def of source. A name
  // already in the list raises 10424 (the defs copied so far stay).
  virtual void Assign(const TVEZMetaObjectDefs& source);

  // Frees the def at index and removes the entry. Index outside the list
  // raises platform::EListError, as do the other positional operations.
  virtual void Delete(std::int32_t index);
  // Inserts def at index (0 to Count); the list takes ownership.
  virtual void Insert(std::int32_t index, std::unique_ptr<TVEZMetaObjectDef> def);
  virtual void Move(std::int32_t cur_index, std::int32_t new_index);
  virtual void Clear();

  // Inline: record decoding asks for every field's def on each row read.
  TVEZMetaObjectDef* GetDef(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= FDefsList.size()) [[unlikely]]
      RaiseIndexOutOfBounds(index);
    return FDefsList[static_cast<std::size_t>(index)].get();
  }
  // Frees the def at index and puts value in its place; value being the def
  // already there changes nothing.
  void SetDef(std::int32_t index, std::unique_ptr<TVEZMetaObjectDef> value);

  // Position of the first def whose name matches (SameDefName), or -1.
  std::int32_t GetDefNumberByName(std::string_view name) const;
  TVEZMetaObjectDef* GetDefByName(std::string_view name) const;
  // Position of the first def with that object id, or -1.
  std::int32_t GetDefNumberByObjectId(std::int32_t id) const;
  TVEZMetaObjectDef* GetDefByObjectId(std::int32_t id) const;

  // The count read by the last LoadFromStream.
  std::int32_t LoadedItemCount() const { return FLoadedItemCount; }

 protected:
  // Name used in error texts.
  virtual const char* ClassName() const { return "TVEZMetaObjectDefs"; }
  // A new, unlisted def of the list's item class; nullptr for the base.
  virtual std::unique_ptr<TVEZMetaObjectDef> CreateDef() const { return nullptr; }
  // Write number of the count (the read number is 10159 for every list).
  virtual std::int32_t CountWriteError() const { return 10158; }

  void CheckIndex(std::int32_t index, std::size_t limit) const;
  [[noreturn]] static void RaiseIndexOutOfBounds(std::int32_t index);
  std::int32_t ReadCount(TVEZStream& stream);

  TVEZSortedStringPtrArray<TVEZMetaObjectDef> FDefsList;
  std::int32_t FLoadedItemCount = 0;
};

template <typename T>
const T& CheckedDefSource(const TVEZMetaObjectDef& source) {
  const auto* src = dynamic_cast<const T*>(&source);
  if (src == nullptr) throw platform::EInvalidCast("Invalid class typecast");
  return *src;
}

}  // namespace vez
