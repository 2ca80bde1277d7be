// FieldDef/FieldDefs and IndexDef/IndexDefs: the dataset-level description
// of a table's columns and indexes, as programs fill them before creating a
// table and as a dataset reads them from its cursor when it opens.
//
// Names compare without regard to case. A list owns its definitions; a
// definition's address stays valid until it is removed or the list cleared.
//
// Thread safety: none; a list belongs to one dataset or one caller.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dataset/DataSetTypes.h"
#include "platform/dataset/Field.h"
#include "platform/dataset/FieldType.h"

namespace platform {

class DataSet;

// The default size of a text column defined without one.
inline constexpr int kDefaultStringSize = 20;
// The size of a GUID text "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
inline constexpr int kGuidSize = 38;

// True for the types whose definition carries a size.
bool IsSizedFieldType(TFieldType type);
// True for the BLOB kinds.
bool IsBlobFieldType(TFieldType type);
// The platform's name of a field type ("String", "Integer", ...).
const char* FieldTypeName(TFieldType type);

class FieldDef {
 public:
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  bool Required = false;
  int Precision = 0;
  // 1-based position among the definitions; set by the list.
  int FieldNo = 0;

  // A new field of the class that serves DataType, named and sized after
  // this definition, not yet attached to a dataset. Raises EDatabaseError
  // "Field '%s' is of an unknown type" for a type no field class serves.
  std::unique_ptr<Field> CreateField() const;
};

class FieldDefs {
 public:
  explicit FieldDefs(DataSet* owner = nullptr) : owner_(owner) {}
  FieldDefs(const FieldDefs&) = delete;
  FieldDefs& operator=(const FieldDefs&) = delete;

  // Appends a definition. A sized text type given size 0 gets
  // kDefaultStringSize, a GUID kGuidSize. Raises EDatabaseError "Duplicate
  // field name '%s'" for a name already defined and "Invalid field size" for
  // a negative size, a size on a type that takes none, or a zero-sized bytes
  // column; the list is unchanged then.
  FieldDef& Add(std::string_view name, TFieldType type, int size = 0, bool required = false);
  int Count() const { return static_cast<int>(defs_.size()); }
  // Raises EListError for an index outside 0..Count()-1.
  FieldDef& Items(int index);
  const FieldDef& Items(int index) const;
  // -1 when absent.
  int IndexOf(std::string_view name) const;
  // Raises EDatabaseError "Field '%s' not found" when absent.
  FieldDef& Find(std::string_view name);
  void Clear();
  // Copies every definition (the owner is kept).
  void Assign(const FieldDefs& source);

  // False once the dataset's structure may have changed; Update re-reads the
  // definitions from the owning dataset.
  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  void Update();

 private:
  DataSet* owner_;
  std::vector<std::unique_ptr<FieldDef>> defs_;
  bool updated_ = false;
};

class IndexDef {
 public:
  std::string Name;
  // Column names separated by ';'.
  std::string Fields;
  std::string DescFields;
  std::string CaseInsFields;
  std::string Expression;
  std::string Source;
  TIndexOptions Options = 0;
};

class IndexDefs {
 public:
  explicit IndexDefs(DataSet* owner = nullptr) : owner_(owner) {}
  IndexDefs(const IndexDefs&) = delete;
  IndexDefs& operator=(const IndexDefs&) = delete;

  // Appends a definition; raises EDatabaseError "Duplicate index name '%s'"
  // for a name already defined (an empty name may repeat).
  IndexDef& Add(std::string_view name, std::string_view fields, TIndexOptions options = 0);
  int Count() const { return static_cast<int>(defs_.size()); }
  IndexDef& Items(int index);
  const IndexDef& Items(int index) const;
  int IndexOf(std::string_view name) const;
  // Raises EDatabaseError "Index '%s' not found" when absent.
  IndexDef& Find(std::string_view name);
  void Clear();
  void Assign(const IndexDefs& source);

  // The index that serves a lookup over `fields` (names separated by ';'):
  // an index neither descending nor on an expression (and case-insensitive
  // when asked) whose field list equals `fields`, else the first whose list
  // begins with `fields` followed by ';' ("A;B" is served by "A;B;C", not by
  // "A;BC"). Names compare without regard to case. Null when none serves.
  // Brings the list up to date first.
  const IndexDef* GetIndexForFields(std::string_view fields, bool case_insensitive = false);
  // As GetIndexForFields; raises EDatabaseError "No index for fields '%s'".
  const IndexDef& FindIndexForFields(std::string_view fields);

  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  // Asks the owning dataset to refresh the list when it is out of date.
  void Update();

 private:
  DataSet* owner_;
  std::vector<std::unique_ptr<IndexDef>> defs_;
  bool updated_ = false;
};

}  // namespace platform
