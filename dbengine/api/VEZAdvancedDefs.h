// Advanced definitions: the full description of a table's columns
// (TVEZAdvFieldDef) and indexes (TVEZAdvIndexDef) in plain properties, between
// the dataset layer's FieldDefs/IndexDefs and the engine's schema definitions.
// CREATE and ALTER TABLE fill them; the table component converts them both
// ways (VEZDefConverters.h).
//
// Each list owns its items. Names are found without regard to case (both
// sides upper-cased, as the engine's def lists compare them).
//
// Thread safety: none; a list belongs to one dataset or one statement.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "platform/dataset/DataSetTypes.h"

namespace vez {

// How a column's BLOBs are compressed, as the table component shows it. The
// ordinals equal those of the engine's TVEZCompressionAlgorithm.
enum class TCompressionAlgorithm : std::uint8_t { caNone = 0, caZLIB = 1, caBZIP = 2, caPPM = 3 };

class TVEZAdvFieldDef {
 public:
  TVEZAdvFieldDef() = default;
  TVEZAdvFieldDef(const TVEZAdvFieldDef&) = delete;
  TVEZAdvFieldDef& operator=(const TVEZAdvFieldDef&) = delete;

  // Copies every field; the three values are copied as owned values.
  void Assign(const TVEZAdvFieldDef& source);

  std::string Name;
  std::int32_t ObjectID = -1;
  TVEZAdvancedFieldType DataType = aftUnknown;
  bool Required = false;
  std::int32_t Size = 0;
  TVEZVariant DefaultValue{bftUnknown};
  // A CHECK constraint's bounds; null means no bound on that side.
  TVEZVariant MinValue{bftUnknown};
  TVEZVariant MaxValue{bftUnknown};
  std::int64_t AutoincIncrement = 1;
  std::int64_t AutoincInitialValue = 0;
  std::int64_t AutoincMinValue = 0;
  std::int64_t AutoincMaxValue = std::numeric_limits<std::int64_t>::max();
  bool AutoincCycled = false;
  TCompressionAlgorithm BLOBCompressionAlgorithm = TCompressionAlgorithm::caNone;
  std::uint8_t BLOBCompressionMode = 0;
  std::int32_t BLOBBlockSize = kDefaultBLOBBlockSize;
};

class TVEZAdvFieldDefs {
 public:
  TVEZAdvFieldDefs() = default;
  TVEZAdvFieldDefs(const TVEZAdvFieldDefs&) = delete;
  TVEZAdvFieldDefs& operator=(const TVEZAdvFieldDefs&) = delete;

  std::int32_t Count() const { return static_cast<std::int32_t>(FDefsList.size()); }
  // Raises platform::EListError for an index outside 0..Count()-1.
  TVEZAdvFieldDef* GetDef(std::int32_t index) const;
  // Frees the item at index and puts value there (EListError outside).
  void SetDef(std::int32_t index, std::unique_ptr<TVEZAdvFieldDef> value);

  void Clear() { FDefsList.clear(); }
  // Clears, then appends a copy of each item of source in order.
  void Assign(const TVEZAdvFieldDefs& source);

  // Appends and returns a new default definition (owned by the list).
  TVEZAdvFieldDef* AddFieldDef();
  TVEZAdvFieldDef* Add(
      std::string_view name, TVEZAdvancedFieldType data_type, std::int32_t size, bool required,
      TCompressionAlgorithm blob_compression_algorithm = TCompressionAlgorithm::caNone,
      std::uint8_t blob_compression_mode = 0);

  // The first item of that name (both upper-cased); null when none.
  TVEZAdvFieldDef* Find(std::string_view name) const;
  // Frees and removes the first item of that name; none raises 30349.
  void DeleteFieldDef(std::string_view field_name);

 private:
  std::vector<std::unique_ptr<TVEZAdvFieldDef>> FDefsList;
};

class TVEZAdvIndexDef {
 public:
  TVEZAdvIndexDef() = default;
  TVEZAdvIndexDef(const TVEZAdvIndexDef&) = delete;
  TVEZAdvIndexDef& operator=(const TVEZAdvIndexDef&) = delete;

  // Copies all seven properties.
  void Assign(const TVEZAdvIndexDef& source);

  std::string Name;
  // Column names separated by ";" or ",".
  std::string Fields;
  // The descending and the case-insensitive columns, in the same form.
  std::string DescFields;
  std::string CaseInsFields;
  platform::TIndexOptions Options = 0;
  // Each column's indexed size in decimal, separated by ";"; an empty or
  // missing entry means the default.
  std::string MaxIndexedSizes;
  bool Temporary = false;
};

class TVEZAdvIndexDefs {
 public:
  // update_index_defs refreshes the owning dataset's index definitions; the
  // dataset passes it, a list of no dataset passes nothing.
  explicit TVEZAdvIndexDefs(std::function<void()> update_index_defs = {})
      : FUpdateIndexDefs(std::move(update_index_defs)) {}
  TVEZAdvIndexDefs(const TVEZAdvIndexDefs&) = delete;
  TVEZAdvIndexDefs& operator=(const TVEZAdvIndexDefs&) = delete;

  std::int32_t Count() const { return static_cast<std::int32_t>(FDefsList.size()); }
  // Raises platform::EListError for an index outside 0..Count()-1.
  TVEZAdvIndexDef* GetDef(std::int32_t index) const;
  void SetDef(std::int32_t index, std::unique_ptr<TVEZAdvIndexDef> value);

  void Clear() { FDefsList.clear(); }
  // Clears, then appends a copy of each item of source in order. With
  // skip_temporary_indexes an item is left out when it is Temporary or when
  // its upper-cased name contains "TEMPORARY" (the SQL engine's ordering
  // indexes are named so).
  void Assign(const TVEZAdvIndexDefs& source, bool skip_temporary_indexes = false);

  TVEZAdvIndexDef* AddIndexDef();
  TVEZAdvIndexDef* Add(std::string_view name, std::string_view fields,
                       platform::TIndexOptions options, bool temporary = false,
                       std::string_view desc_fields = {}, std::string_view case_ins_fields = {},
                       std::string_view max_indexed_sizes = {});

  // The first item of that name (without regard to case); none raises 20190,
  // so the result is never null.
  TVEZAdvIndexDef* Find(std::string_view name) const;
  // Frees and removes the first item of that name; none raises 20190.
  void DeleteIndexDef(std::string_view index_name);

  // Asks the owning dataset to refresh its index definitions; nothing
  // without one.
  void Update() const {
    if (FUpdateIndexDefs) FUpdateIndexDefs();
  }

 private:
  // Position of the first item of that name; none raises 20190.
  std::int32_t IndexOf(std::string_view name) const;

  std::vector<std::unique_ptr<TVEZAdvIndexDef>> FDefsList;
  std::function<void()> FUpdateIndexDefs;
};

}  // namespace vez
