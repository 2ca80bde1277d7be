#include "dbengine/api/VEZDefConverters.h"

#include <algorithm>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZDefStreamIO.h"
#include "dbengine/storage/VEZMetaObjectDef.h"
#include "platform/core/Collation.h"
#include "platform/core/TextConvert.h"

namespace vez {

namespace {

// Without blanks and control characters at either end.
std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
    s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
    s.remove_suffix(1);
  return s;
}

bool SameTrimmedUpper(std::string_view a, std::string_view b) {
  return platform::AnsiUpperCase(Trimmed(a)) == platform::AnsiUpperCase(Trimmed(b));
}

bool NameInList(const std::vector<std::string>& list, std::string_view name) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& entry) { return SameDefName(entry, name); });
}

void AppendJoined(std::string& text, std::string_view item) {
  if (!text.empty()) text += ';';
  text += item;
}

// The visible field defs that show physical field `physical_no`.
template <typename F>
void ForEachVisibleOf(const TVEZFieldDefs& visible_field_defs, std::int32_t physical_no, F f) {
  for (std::int32_t i = 0; i < visible_field_defs.GetCount(); ++i) {
    if (visible_field_defs.GetDef(i)->FieldNoReference == physical_no) f(i);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers

void SplitFieldNames(std::vector<std::string>* list, std::string_view text) {
  if (list == nullptr) return;
  list->clear();
  if (text.empty()) return;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find_first_of(";,", start);
    list->emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

bool FieldDefExists(const platform::FieldDefs& field_defs, std::string_view name) {
  for (std::int32_t i = 0; i < field_defs.Count(); ++i) {
    if (SameDefName(field_defs.Items(i).Name, name)) return true;
  }
  return false;
}

TCompressionAlgorithm ToCompressionAlgorithm(TVEZCompressionAlgorithm algorithm) {
  switch (algorithm) {
    case acaZLIB:
      return TCompressionAlgorithm::caZLIB;
    case acaBZIP:
      return TCompressionAlgorithm::caBZIP;
    case acaPPM:
      return TCompressionAlgorithm::caPPM;
    default:
      return TCompressionAlgorithm::caNone;
  }
}

// ---------------------------------------------------------------------------
// Fields

void FieldDefsToVEZFieldDefs(const platform::FieldDefs& field_defs, TVEZFieldDefs& vez_field_defs) {
  vez_field_defs.Clear();
  for (std::int32_t i = 0; i < field_defs.Count(); ++i) {
    const platform::FieldDef& source = field_defs.Items(i);
    TVEZFieldDef* def = vez_field_defs.AddCreated();
    def->Name = defstream::CutToShortString(source.Name);
    def->SetFieldDefDataType(VCLTypeToAdvancedType(source.DataType), source.Size);
  }
}

void FieldDefsToAdvFieldDefs(const platform::FieldDefs& field_defs,
                             TVEZAdvFieldDefs& adv_field_defs) {
  adv_field_defs.Clear();
  for (std::int32_t i = 0; i < field_defs.Count(); ++i) {
    const platform::FieldDef& source = field_defs.Items(i);
    adv_field_defs.Add(source.Name, VCLTypeToAdvancedType(source.DataType), source.Size,
                       source.Required);
  }
}

void AdvFieldDefsToFieldDefs(const TVEZAdvFieldDefs& adv_field_defs,
                             platform::FieldDefs& field_defs) {
  field_defs.Clear();
  for (std::int32_t i = 0; i < adv_field_defs.Count(); ++i) {
    const TVEZAdvFieldDef& source = *adv_field_defs.GetDef(i);
    field_defs.Add(source.Name, AdvancedTypeToVCLType(source.DataType), source.Size,
                   source.Required);
  }
}

void AdvFieldDefsToVEZDefs(const TVEZAdvFieldDefs& adv_field_defs, TVEZFieldDefs& field_defs,
                           const TVEZIndexDefs& index_defs, TVEZConstraintDefs& constraint_defs,
                           bool temporary) {
  field_defs.Clear();
  constraint_defs.Clear();
  for (std::int32_t i = 0; i < adv_field_defs.Count(); ++i) {
    const TVEZAdvFieldDef& source = *adv_field_defs.GetDef(i);
    TVEZFieldDef* def = field_defs.AddCreated();
    def->Name = defstream::CutToShortString(source.Name);
    def->SetFieldDefDataType(source.DataType, source.Size);
    def->BLOBCompressionAlgorithm =
        static_cast<TVEZCompressionAlgorithm>(source.BLOBCompressionAlgorithm);
    def->BLOBCompressionMode = source.BLOBCompressionMode;
    def->BLOBBlockSize = source.BLOBBlockSize > 0 ? source.BLOBBlockSize : kDefaultBLOBBlockSize;
    def->AutoincIncrement = source.AutoincIncrement;
    def->AutoincInitialValue = source.AutoincInitialValue;
    def->AutoincMinValue = source.AutoincMinValue;
    def->AutoincMaxValue = source.AutoincMaxValue;
    def->AutoincCycled = source.AutoincCycled;
    def->DefaultValue.Assign(source.DefaultValue, true);
    def->RebuildDefaultValueExpression();
    // A temporary table checks no column constraints; its keys stay below.
    if (temporary) continue;
    if (source.Required) constraint_defs.AddNotNull()->ColumnName = def->Name;
    if (!source.MinValue.GetIsNull() || !source.MaxValue.GetIsNull()) {
      TVEZConstraintDefCheck* check = constraint_defs.AddCheck();
      check->ColumnName = def->Name;
      check->MinValue.Assign(source.MinValue, true);
      check->MaxValue.Assign(source.MaxValue, true);
    }
  }
  for (std::int32_t i = 0; i < index_defs.GetCount(); ++i) {
    CreateConstraintFromIndexDef(*index_defs.GetIndexDef(i), constraint_defs);
  }
}

void VEZFieldDefsToAdvFieldDefs(const TVEZFieldDefs& visible_field_defs,
                                const TVEZFieldDefs& field_defs,
                                const TVEZConstraintDefs& constraint_defs,
                                TVEZAdvFieldDefs& adv_field_defs) {
  adv_field_defs.Clear();
  for (std::int32_t i = 0; i < visible_field_defs.GetCount(); ++i) {
    const TVEZFieldDef& source = *visible_field_defs.GetDef(i);
    TVEZAdvFieldDef* def = adv_field_defs.AddFieldDef();
    def->Name = source.Name;
    def->ObjectID = source.ObjectID;
    def->DataType = source.AdvancedFieldType;
    def->Size = source.AdvancedFieldType == aftGuid ? 0 : source.FieldSize;
    def->AutoincIncrement = source.AutoincIncrement;
    def->AutoincInitialValue = source.AutoincInitialValue;
    def->AutoincMinValue = source.AutoincMinValue;
    def->AutoincMaxValue = source.AutoincMaxValue;
    def->AutoincCycled = source.AutoincCycled;
    def->BLOBCompressionAlgorithm = ToCompressionAlgorithm(source.BLOBCompressionAlgorithm);
    def->BLOBCompressionMode = source.BLOBCompressionMode;
    def->BLOBBlockSize = source.BLOBBlockSize;
    def->DefaultValue.Assign(source.DefaultValue, true);
  }
  for (std::int32_t c = 0; c < constraint_defs.GetCount(); ++c) {
    const TVEZConstraintDef* constraint = constraint_defs.GetDef(c);
    switch (constraint->ConstraintType) {
      case ctPK:
      case ctUnique:
        break;
      case ctNotNull: {
        const auto& not_null = static_cast<const TVEZConstraintDefNotNull&>(*constraint);
        const std::int32_t physical = field_defs.GetDefNumberByObjectId(not_null.ColumnObjectID);
        if (physical < 0) {
          throw EVEZException(30032, "Field #%d not found", {not_null.ColumnObjectID});
        }
        ForEachVisibleOf(visible_field_defs, physical,
                         [&](std::int32_t v) { adv_field_defs.GetDef(v)->Required = true; });
        break;
      }
      case ctCheck: {
        const auto& check = static_cast<const TVEZConstraintDefCheck&>(*constraint);
        const std::int32_t physical = field_defs.GetDefNumberByObjectId(check.ColumnObjectID);
        if (physical < 0) {
          throw EVEZException(30031, "Field #%d not found", {check.ColumnObjectID});
        }
        ForEachVisibleOf(visible_field_defs, physical, [&](std::int32_t v) {
          TVEZAdvFieldDef* def = adv_field_defs.GetDef(v);
          def->MinValue.Assign(check.MinValue, true);
          def->MaxValue.Assign(check.MaxValue, true);
        });
        break;
      }
      default:
        throw EVEZException(30039, "Not implemented yet");
    }
  }
}

void VEZFieldDefsToFieldDefs(const TVEZFieldDefs& visible_field_defs,
                             const TVEZFieldDefs& field_defs,
                             const TVEZConstraintDefs& constraint_defs,
                             platform::FieldDefs& out_field_defs) {
  out_field_defs.Clear();
  for (std::int32_t i = 0; i < visible_field_defs.GetCount(); ++i) {
    const TVEZFieldDef& source = *visible_field_defs.GetDef(i);
    const std::int32_t size =
        IsSizedAdvancedFieldType(source.AdvancedFieldType) ? source.FieldSize : 0;
    bool required = false;
    // Every autoinc kind, not only those shown as ftAutoInc: a required
    // AUTOINC(LARGEINT) column would make the dataset refuse a row that
    // leaves it for the engine to fill.
    if (!IsAutoincAdvancedFieldType(source.AdvancedFieldType) && source.FieldNoReference >= 0 &&
        source.FieldNoReference < field_defs.GetCount()) {
      const std::int32_t column_id = field_defs.GetDef(source.FieldNoReference)->ObjectID;
      for (std::int32_t c = 0; c < constraint_defs.GetCount() && !required; ++c) {
        const TVEZConstraintDef* constraint = constraint_defs.GetDef(c);
        required =
            constraint->ConstraintType == ctNotNull &&
            static_cast<const TVEZConstraintDefNotNull*>(constraint)->ColumnObjectID == column_id;
      }
    }
    out_field_defs.Add(source.Name, AdvancedTypeToVCLType(source.AdvancedFieldType), size,
                       required);
  }
}

// ---------------------------------------------------------------------------
// Indexes

void IndexDefsToAdvIndexDefs(const platform::IndexDefs& index_defs,
                             TVEZAdvIndexDefs& adv_index_defs) {
  adv_index_defs.Clear();
  for (std::int32_t i = 0; i < index_defs.Count(); ++i) {
    const platform::IndexDef& source = index_defs.Items(i);
    adv_index_defs.Add(source.Name, source.Fields, source.Options, false, source.DescFields,
                       source.CaseInsFields);
  }
}

void AdvIndexDefsToIndexDefs(const TVEZAdvIndexDefs& adv_index_defs,
                             platform::IndexDefs& index_defs) {
  index_defs.Clear();
  for (std::int32_t i = 0; i < adv_index_defs.Count(); ++i) {
    const TVEZAdvIndexDef& source = *adv_index_defs.GetDef(i);
    platform::TIndexOptions options = source.Options;
    if (SameTrimmedUpper(source.DescFields, source.Fields)) options |= platform::ixDescending;
    if (SameTrimmedUpper(source.CaseInsFields, source.Fields)) {
      options |= platform::ixCaseInsensitive;
    }
    platform::IndexDef& def = index_defs.Add(source.Name, source.Fields, options);
    def.DescFields = source.DescFields;
    def.CaseInsFields = source.CaseInsFields;
  }
}

void AdvIndexDefsToVEZIndexDefs(const TVEZAdvIndexDefs& adv_index_defs,
                                TVEZIndexDefs& vez_index_defs,
                                const platform::FieldDefs& field_defs) {
  vez_index_defs.Clear();
  for (std::int32_t i = 0; i < adv_index_defs.Count(); ++i) {
    AdvIndexDefToVEZIndexDef(*adv_index_defs.GetDef(i), *vez_index_defs.AddCreated(), field_defs);
  }
}

void AdvIndexDefToVEZIndexDef(const TVEZAdvIndexDef& adv_index_def, TVEZIndexDef& vez_index_def,
                              const platform::FieldDefs& field_defs) {
  BuildIndexDef(vez_index_def, adv_index_def.Name, adv_index_def.Fields, adv_index_def.Options,
                adv_index_def.Temporary, adv_index_def.DescFields, adv_index_def.CaseInsFields,
                adv_index_def.MaxIndexedSizes, field_defs);
}

void VEZIndexDefsToAdvIndexDefs(const TVEZIndexDefs& vez_index_defs,
                                TVEZAdvIndexDefs& adv_index_defs) {
  adv_index_defs.Clear();
  for (std::int32_t i = 0; i < vez_index_defs.GetCount(); ++i) {
    VEZIndexDefToAdvIndexDef(*vez_index_defs.GetIndexDef(i), *adv_index_defs.AddIndexDef());
  }
}

void VEZIndexDefToAdvIndexDef(const TVEZIndexDef& vez_index_def, TVEZAdvIndexDef& adv_index_def) {
  std::string fields, desc_fields, case_ins_fields, sizes;
  for (std::int32_t i = 0; i < vez_index_def.ColumnCount(); ++i) {
    const TVEZIndexColumn& column = *vez_index_def.GetIndexColumn(i);
    AppendJoined(fields, column.FieldName);
    if (column.Descending) AppendJoined(desc_fields, column.FieldName);
    if (column.CaseInsensitive) AppendJoined(case_ins_fields, column.FieldName);
    // Every column has an entry, so the sizes keep their positions.
    if (i > 0) sizes += ';';
    sizes += std::to_string(column.MaxIndexedSize);
  }
  platform::TIndexOptions options = 0;
  if (vez_index_def.Unique) options |= platform::ixUnique;
  if (vez_index_def.Primary) options |= platform::ixPrimary;
  adv_index_def.Name = vez_index_def.Name;
  adv_index_def.Fields = std::move(fields);
  adv_index_def.DescFields = std::move(desc_fields);
  adv_index_def.CaseInsFields = std::move(case_ins_fields);
  adv_index_def.Options = options;
  adv_index_def.MaxIndexedSizes = std::move(sizes);
  adv_index_def.Temporary = vez_index_def.Temporary;
}

void BuildIndexDef(TVEZIndexDef& index_def, std::string_view name, std::string_view fields,
                   platform::TIndexOptions options, bool temporary, std::string_view desc_fields,
                   std::string_view case_ins_fields, std::string_view max_indexed_sizes,
                   const platform::FieldDefs& field_defs) {
  if (name.empty()) throw EVEZException(20048, "Invalid index name '%s'", {name});
  if (fields.empty()) throw EVEZException(20049, "Cannot find index field '%s'", {""});
  index_def.Name = defstream::CutToShortString(name);
  index_def.IndexType = itBTree;
  index_def.Unique = (options & platform::ixUnique) != 0;
  index_def.Primary = (options & platform::ixPrimary) != 0;
  index_def.Temporary = temporary;

  std::vector<std::string> names, desc_names, case_ins_names, sizes;
  SplitFieldNames(&names, fields);
  SplitFieldNames(&desc_names, desc_fields);
  SplitFieldNames(&case_ins_names, case_ins_fields);
  SplitFieldNames(&sizes, max_indexed_sizes);
  index_def.SetColumnCount(static_cast<std::int32_t>(names.size()));
  const bool all_descending = (options & platform::ixDescending) != 0 && desc_fields.empty();
  const bool all_case_ins = (options & platform::ixCaseInsensitive) != 0 && case_ins_fields.empty();
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& field = names[i];
    if (!FieldDefExists(field_defs, field)) {
      throw EVEZException(20050, "Cannot find index field '%s'", {field});
    }
    TVEZIndexColumn& column = *index_def.GetIndexColumn(static_cast<std::int32_t>(i));
    column.FieldName = field;
    column.Descending = all_descending || NameInList(desc_names, field);
    column.CaseInsensitive = all_case_ins || NameInList(case_ins_names, field);
    column.MaxIndexedSize = i < sizes.size() && !sizes[i].empty() ? platform::StrToInt(sizes[i])
                                                                  : kDefaultMaxIndexedSize;
  }
}

}  // namespace vez
