// Index definitions: TVEZIndexDef with its columns (TVEZIndexColumn) and the
// index def list (TVEZIndexDefs), which finds an index that can serve a list
// of columns. Temporary index defs live in memory for one session and are
// never stored.
//
// Thread safety: none; see VEZMetaObjectDef.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/VEZMetaObjectDef.h"

namespace vez {

class TVEZFieldDefs;

enum TVEZIndexType : std::uint8_t { itBTree = 0, itAnotherOne = 1 };

// The indexed size a column gets when none is declared for it.
inline constexpr std::int32_t kDefaultMaxIndexedSize = 20;

// One column of an index; owned by its index def.
class TVEZIndexColumn {
 public:
  // Column form: name length byte, name, Descending, CaseInsensitive,
  // MaxIndexedSize. Errors as for defs (see TVEZMetaObjectDef).
  void LoadFromStream(TVEZStream& stream);
  void SaveToStream(TVEZStream& stream) const;

  std::string FieldName;  // at most 255 characters when stored
  TVEZBoolByte Descending;
  TVEZBoolByte CaseInsensitive;
  // Bytes of a string value that the index key holds.
  std::int32_t MaxIndexedSize = 0;
};

class TVEZIndexDef : public TVEZMetaObjectDef {
 public:
  TVEZIndexDef();
  ~TVEZIndexDef() override;

  // Source must be a TVEZIndexDef (platform::EInvalidCast otherwise). Copies
  // every field, the session fields and the columns.
  void Assign(const TVEZMetaObjectDef& source) override;
  // Loading sets Temporary false; SessionID, TableState and NeedRebuild are
  // not stored and keep their values.
  void LoadFromStream(TVEZStream& stream) override;
  void SaveToStream(TVEZStream& stream) const override;

  std::int32_t ColumnCount() const { return static_cast<std::int32_t>(FColumns.size()); }
  // Growing appends new empty columns; shrinking frees columns from the end.
  // A negative count raises platform::EListError.
  void SetColumnCount(std::int32_t count);
  // Raises platform::EListError for an index outside the columns.
  TVEZIndexColumn* GetIndexColumn(std::int32_t index) const;

  // Columns from three lists of equal length: the field names, "DESC" for a
  // descending column, "NO_CASE" for a case-insensitive one (exact
  // comparisons); MaxIndexedSize kDefaultMaxIndexedSize. Lengths that differ
  // raise 10278 (ascending/descending list) or 10279 (case list) before any
  // change.
  void AssignByNames(const std::vector<std::string>& field_names,
                     const std::vector<std::string>& asc_desc_list,
                     const std::vector<std::string>& case_sensitivity_list);

  TVEZIndexType IndexType = itBTree;
  TVEZBoolByte Unique;
  TVEZBoolByte Primary;
  std::int32_t RootPageNo = -1;
  // An index that lives only for one session (SessionID), never stored.
  bool Temporary = false;
  std::int32_t SessionID = -1;
  // Table state at which a temporary index was last built.
  std::int32_t TableState = 0;
  bool NeedRebuild = false;

 private:
  std::vector<std::unique_ptr<TVEZIndexColumn>> FColumns;
};

class TVEZIndexDefs : public TVEZMetaObjectDefs {
 public:
  // Int32 count of the permanent defs, then their forms in list order.
  void SaveToStream(TVEZStream& stream) const override;

  TVEZIndexDef* AddCreated() { return static_cast<TVEZIndexDef*>(InternalAddCreated()); }
  TVEZIndexDef* GetDef(std::int32_t index) const { return GetIndexDef(index); }
  virtual TVEZIndexDef* GetIndexDef(std::int32_t index) const {
    return static_cast<TVEZIndexDef*>(TVEZMetaObjectDefs::GetDef(index));
  }
  virtual void SetIndexDef(std::int32_t index, std::unique_ptr<TVEZIndexDef> value) {
    SetDef(index, std::move(value));
  }
  TVEZIndexDef* GetIndexDefByName(std::string_view name) const {
    return static_cast<TVEZIndexDef*>(GetDefByName(name));
  }

  // ObjectID of the first index def (list order) that can serve the columns,
  // or -1. An index serves them when it has at least as many columns (its
  // leading columns are compared), is not a temporary index of another
  // session, and for each i: its column name equals field_names[i] (ASCII
  // letters upper-cased); "ASC"/"DESC" require that direction (other texts
  // accept both); "CASE" requires a case-sensitive column when the field is
  // a string in field_defs; "NO_CASE" a case-insensitive one for any field.
  // A null list raises 10389, 10390 or 10391; lengths that differ raise
  // 10276 (ascending/descending list) or 10277 (case list). A name that
  // field_defs (which may be null) lacks counts as a field that is no string.
  std::int32_t FindIndex(const std::vector<std::string>* field_names,
                         const std::vector<std::string>* asc_desc_list,
                         const std::vector<std::string>* case_sensitivity_list,
                         std::int32_t session_id, const TVEZFieldDefs* field_defs) const;
  bool IsIndexExists(const std::vector<std::string>* field_names,
                     const std::vector<std::string>* asc_desc_list,
                     const std::vector<std::string>* case_sensitivity_list, std::int32_t session_id,
                     const TVEZFieldDefs* field_defs) const {
    return FindIndex(field_names, asc_desc_list, case_sensitivity_list, session_id, field_defs) !=
           -1;
  }

 protected:
  const char* ClassName() const override { return "TVEZIndexDefs"; }
  std::unique_ptr<TVEZMetaObjectDef> CreateDef() const override {
    return std::make_unique<TVEZIndexDef>();
  }
  std::int32_t CountWriteError() const override { return 10343; }
};

}  // namespace vez
