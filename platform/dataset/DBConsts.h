// Texts of the dataset layer's own errors, the ones the platform's dataset
// framework raises. Callers format them with platform::Format.
#pragma once

namespace platform::dbconsts {

inline constexpr const char* SDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* SDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* SDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* SDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* SNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* SRecordNotFound = "Record not found";
inline constexpr const char* SFieldNotFound = "Field '%s' not found";
inline constexpr const char* SFieldRequired = "Field '%s' must have a value";
inline constexpr const char* SFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* SFieldRangeError =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char* SInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr const char* SFieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char* SFieldSizeMismatch =
    "Size mismatch for field '%s', expecting: %d actual: %d";
inline constexpr const char* SUnknownFieldType = "Field '%s' is of an unknown type";
inline constexpr const char* SDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* SInvalidFieldSize = "Invalid field size";
inline constexpr const char* SFieldIndexError = "Field index out of range";
inline constexpr const char* SIndexNotFound = "Index '%s' not found";
inline constexpr const char* SNoIndexForFields = "No index for fields '%s'";
inline constexpr const char* SDuplicateIndexName = "Duplicate index name '%s'";
inline constexpr const char* SDataSetMissing = "Field '%s' has no dataset";
inline constexpr const char* SNotCalculatedField =
    "Field '%s' must be added before the dataset opens";
inline constexpr const char* SNoBlobStream = "Field '%s' has no BLOB stream";
inline constexpr const char* SCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* SParameterNotFound = "Parameter '%s' not found";
inline constexpr const char* SDataSetBusy =
    "Cannot start this operation while the dataset is in the middle of another one";
// Texts that the engine's dataset components raise as database errors.
inline constexpr const char* SDatabaseNameMissing = "DatabaseName property is blank";
inline constexpr const char* SDatabaseOpen = "Cannot perform this operation on an open database";
inline constexpr const char* SDatabaseClosed = "Cannot perform this operation on a closed database";

inline constexpr const char* STextTrue = "True";
inline constexpr const char* STextFalse = "False";

}  // namespace platform::dbconsts
