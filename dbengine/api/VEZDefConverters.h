// Converters between the three ways a table is described: the dataset
// layer's FieldDefs/IndexDefs ("VCL" below), the advanced definitions
// (VEZAdvancedDefs.h, "adv") and the engine's schema definitions
// (TVEZFieldDefs, TVEZIndexDefs, TVEZConstraintDefs, "engine"). The table
// component converts with them when it creates, opens or restructures a
// table; they also derive the table's constraints: NOT NULL from required
// columns, CHECK from minimum and maximum values, PRIMARY KEY and UNIQUE
// from the index options.
//
// Column types map through the SQL data-type table (VEZSQLTypes.h), first
// matching row. Every converter replaces the content of its target list(s).
// A failure raises EVEZException (or the dataset layer's error for a list
// that refuses a definition) and leaves the targets filled up to the failing
// item; the caller discards them.
//
// Thread safety: none beyond that of the lists passed in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/foundation/VEZCompressionTypes.h"
#include "dbengine/storage/VEZConstraintDef.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "platform/dataset/FieldDefs.h"

namespace vez {

// ---- fields

// VCL -> engine: name (at most 255 characters), mapped type and size. A VCL
// type the type table lacks raises 30289.
void FieldDefsToVEZFieldDefs(const platform::FieldDefs& field_defs, TVEZFieldDefs& vez_field_defs);
// VCL -> adv: name, mapped type, size, required (30289 as above).
void FieldDefsToAdvFieldDefs(const platform::FieldDefs& field_defs,
                             TVEZAdvFieldDefs& adv_field_defs);
// adv -> VCL: name, the type's VCL type, size, required. The VCL list's own
// checks apply (a duplicate name, a size on a type that takes none).
void AdvFieldDefsToFieldDefs(const TVEZAdvFieldDefs& adv_field_defs,
                             platform::FieldDefs& field_defs);

// adv -> engine fields and constraints. Per column: name (at most 255
// characters), type and size (30007 for a type without storage type), BLOB
// compression as it is, BLOB block size (the default when not above 0),
// the autoinc settings and the default value. Unless `temporary`: a required
// column adds a NOT NULL constraint, a column with a minimum or a maximum
// value a CHECK constraint with both. Then every index of index_defs adds
// the constraint it implies (CreateConstraintFromIndexDef), temporary or
// not. Constraints name their column; the table links ids and names them.
void AdvFieldDefsToVEZDefs(const TVEZAdvFieldDefs& adv_field_defs, TVEZFieldDefs& field_defs,
                           const TVEZIndexDefs& index_defs, TVEZConstraintDefs& constraint_defs,
                           bool temporary);

// engine -> adv, one column per visible field def (a cursor's projection,
// each referring to its physical field through FieldNoReference): name,
// object id, type, size (0 for aftGuid), autoinc settings, BLOB settings and
// the default value. Then per constraint: keys are skipped; NOT NULL makes
// the visible columns of its physical column required, CHECK gives them its
// bounds. A constraint whose column id no physical field has raises 30032
// (NOT NULL) or 30031 (CHECK); any other constraint type 30039.
void VEZFieldDefsToAdvFieldDefs(const TVEZFieldDefs& visible_field_defs,
                                const TVEZFieldDefs& field_defs,
                                const TVEZConstraintDefs& constraint_defs,
                                TVEZAdvFieldDefs& adv_field_defs);
// engine -> VCL, one definition per visible field def: name, VCL type, size
// for the sized types (not GUID; else 0), required when a NOT NULL
// constraint names the column's physical field, but never for an autoinc
// column (the engine fills it when a row leaves it empty).
void VEZFieldDefsToFieldDefs(const TVEZFieldDefs& visible_field_defs,
                             const TVEZFieldDefs& field_defs,
                             const TVEZConstraintDefs& constraint_defs,
                             platform::FieldDefs& out_field_defs);

// ---- indexes

// VCL -> adv: name, fields, descending and case-insensitive fields, options.
void IndexDefsToAdvIndexDefs(const platform::IndexDefs& index_defs,
                             TVEZAdvIndexDefs& adv_index_defs);
// adv -> VCL: as above, plus ixDescending when the descending fields equal
// the fields and ixCaseInsensitive when the case-insensitive ones do (texts
// compared trimmed and upper-cased).
void AdvIndexDefsToIndexDefs(const TVEZAdvIndexDefs& adv_index_defs,
                             platform::IndexDefs& index_defs);
// adv -> engine, each through AdvIndexDefToVEZIndexDef; field_defs are the
// VCL columns the index columns must name.
void AdvIndexDefsToVEZIndexDefs(const TVEZAdvIndexDefs& adv_index_defs,
                                TVEZIndexDefs& vez_index_defs,
                                const platform::FieldDefs& field_defs);
void AdvIndexDefToVEZIndexDef(const TVEZAdvIndexDef& adv_index_def, TVEZIndexDef& vez_index_def,
                              const platform::FieldDefs& field_defs);
// engine -> adv, each through VEZIndexDefToAdvIndexDef.
void VEZIndexDefsToAdvIndexDefs(const TVEZIndexDefs& vez_index_defs,
                                TVEZAdvIndexDefs& adv_index_defs);
// Fields, DescFields, CaseInsFields: the column names (all, the descending,
// the case-insensitive) joined by ";"; MaxIndexedSizes every column's size
// joined by ";"; Options ixUnique and/or ixPrimary; name and temporary flag.
void VEZIndexDefToAdvIndexDef(const TVEZIndexDef& vez_index_def, TVEZAdvIndexDef& adv_index_def);

// Fills index_def from names and options: an empty name raises 20048, empty
// fields 20049; name (at most 255 characters), B-tree, unique, primary and
// temporary from the arguments; one column per name of `fields`, in order.
// A column that field_defs lacks raises 20050. A column is descending when
// desc_fields names it, or when options hold ixDescending and desc_fields is
// empty (blanks are not); case-insensitive likewise with case_ins_fields and
// ixCaseInsensitive. Its indexed size is its entry of max_indexed_sizes when
// that entry exists and is not empty (a text that is no integer raises
// platform::EConvertError), else kDefaultMaxIndexedSize. Name lists may
// separate with ";" or ","; names compare without regard to case.
void BuildIndexDef(TVEZIndexDef& index_def, std::string_view name, std::string_view fields,
                   platform::TIndexOptions options, bool temporary, std::string_view desc_fields,
                   std::string_view case_ins_fields, std::string_view max_indexed_sizes,
                   const platform::FieldDefs& field_defs);

// ---- helpers

// Every "," in text counts as ";"; list is cleared and receives the entries
// between the separators in order, as they stand: blanks belong to the name
// (an empty entry stays, so positions hold; an empty text gives none).
// Nothing without a list.
void SplitFieldNames(std::vector<std::string>* list, std::string_view text);
// True when a VCL field definition has that name (both upper-cased).
bool FieldDefExists(const platform::FieldDefs& field_defs, std::string_view name);
// acaZLIB, acaBZIP and acaPPM map to their kin; any other value to caNone.
TCompressionAlgorithm ToCompressionAlgorithm(TVEZCompressionAlgorithm algorithm);

}  // namespace vez
