#include "dbengine/storage/VEZFieldDef.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZDefStreamIO.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Exceptions.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorFieldType = 10187;             // the stored field type
constexpr std::int32_t kErrorAdvancedType = 10188;          // the stored advanced type
constexpr std::int32_t kErrorFieldSize = 10189;             // the stored field size
constexpr std::int32_t kErrorCompressionAlgorithm = 10192;  // the stored compression algorithm
constexpr std::int32_t kErrorBlobBlockSize = 10194;         // the stored BLOB block size

}  // namespace

namespace {
// A BLOB field's disk record holds the 6-byte item reference of its data.
constexpr std::int32_t kDiskBLOBReferenceSize = 6;
}  // namespace

TVEZFieldDef::TVEZFieldDef() = default;
TVEZFieldDef::~TVEZFieldDef() = default;

void TVEZFieldDef::Assign(const TVEZMetaObjectDef& source) {
  const auto* src = &CheckedDefSource<TVEZFieldDef>(source);
  if (src == this) return;
  TVEZMetaObjectDef::Assign(source);
  BaseFieldType = src->BaseFieldType;
  AdvancedFieldType = src->AdvancedFieldType;
  FieldSize = src->FieldSize;
  DiskDataSize = src->DiskDataSize;
  MemoryDataSize = src->MemoryDataSize;
  DiskOffset = src->DiskOffset;
  MemoryOffset = src->MemoryOffset;
  DefaultValue.Assign(src->DefaultValue, true);
  RebuildDefaultValueExpression();
  BLOBCompressionAlgorithm = src->BLOBCompressionAlgorithm;
  BLOBCompressionMode = src->BLOBCompressionMode;
  BLOBBlockSize = src->BLOBBlockSize;
  AutoincIncrement = src->AutoincIncrement;
  AutoincInitialValue = src->AutoincInitialValue;
  AutoincMinValue = src->AutoincMinValue;
  AutoincMaxValue = src->AutoincMaxValue;
  AutoincCycled = src->AutoincCycled;
}

void TVEZFieldDef::SetFieldDefDataType(TVEZAdvancedFieldType advanced_field_type,
                                       std::int32_t field_size) {
  AdvancedFieldType = advanced_field_type;
  const TVEZBaseFieldType base = AdvancedTypeToBaseType(advanced_field_type);
  BaseFieldType = base;
  if (base == bftUnknown) {
    throw EVEZException(30007, "Unsupported data type '%s'",
                        {AdvancedTypeToSQLTypeName(advanced_field_type)});
  }
  const std::int32_t old_size = FieldSize;
  FieldSize = field_size;
  try {
    RecalcDataSizes();
  } catch (...) {
    FieldSize = old_size;
    throw;
  }
}

void TVEZFieldDef::RecalcDataSizes() {
  const std::int32_t memory_size = GetValueSize(BaseFieldType, FieldSize);
  MemoryDataSize = memory_size;
  DiskDataSize = IsBlobBaseFieldType(BaseFieldType) ? kDiskBLOBReferenceSize : memory_size;
}

void TVEZFieldDef::RebuildDefaultValueExpression() {
  DefaultValueExpr.reset();
  TVEZExpressionFactory* factory = ExpressionFactory();
  if (factory == nullptr || !factory->IsDefaultValueExpression(DefaultValue)) return;
  DefaultValueExpr = factory->CreateExpression();
  // The parse verdict is not needed: IsDefaultValueExpression already parsed it.
  (void)DefaultValueExpr->ParseForDefaultValueExpression(DefaultValue.GetAsAnsiString());
}

void TVEZFieldDef::LoadFromStream(TVEZStream& stream) {
  LoadHead(stream);
  const std::uint8_t base = defstream::ReadUInt8(stream, kErrorFieldType);
  if (base > bftBFile) {
    throw EVEZException(kErrorFieldType, "Invalid field type in stream: %d", {base});
  }
  BaseFieldType = static_cast<TVEZBaseFieldType>(base);
  const std::uint8_t advanced = defstream::ReadUInt8(stream, kErrorAdvancedType);
  if (advanced > aftGuid) {
    throw EVEZException(kErrorAdvancedType, "Invalid field type in stream: %d", {advanced});
  }
  AdvancedFieldType = static_cast<TVEZAdvancedFieldType>(advanced);
  const std::int32_t field_size = defstream::ReadInt32(stream, kErrorFieldSize);
  // A negative size would give data sizes below one byte and offsets that
  // run backwards into the null bitmap.
  if (field_size < 0) {
    throw EVEZException(kErrorFieldSize, "Invalid field size in stream: %d", {field_size});
  }
  FieldSize = field_size;
  if (IsBlobBaseFieldType(BaseFieldType)) {
    const std::uint8_t algorithm = defstream::ReadUInt8(stream, kErrorCompressionAlgorithm);
    if (algorithm > acaPPM) {
      throw EVEZException(kErrorCompressionAlgorithm, "Invalid compression algorithm in stream: %d",
                          {algorithm});
    }
    BLOBCompressionAlgorithm = static_cast<TVEZCompressionAlgorithm>(algorithm);
    BLOBCompressionMode = defstream::ReadUInt8(stream, 10193);
    const std::int32_t block_size = defstream::ReadInt32(stream, kErrorBlobBlockSize);
    if (block_size < 1) {
      throw EVEZException(kErrorBlobBlockSize, "Invalid BLOB block size in stream: %d",
                          {block_size});
    }
    BLOBBlockSize = block_size;
  }
  AutoincIncrement = defstream::ReadInt64(stream, 30407);
  AutoincInitialValue = defstream::ReadInt64(stream, 30408);
  AutoincMinValue = defstream::ReadInt64(stream, 30409);
  AutoincMaxValue = defstream::ReadInt64(stream, 30410);
  AutoincCycled = defstream::ReadBoolByte(stream, 30411);
  DefaultValue.LoadFromStream(stream);
  RebuildDefaultValueExpression();
  try {
    RecalcDataSizes();
  } catch (const platform::EIntOverflow&) {
    throw EVEZException(kErrorFieldSize, "Invalid field size in stream: %d", {FieldSize});
  }
}

void TVEZFieldDef::SaveToStream(TVEZStream& stream) const {
  SaveHead(stream);
  defstream::WriteUInt8(stream, BaseFieldType, 10170);
  defstream::WriteUInt8(stream, AdvancedFieldType, 10171);
  defstream::WriteInt32(stream, FieldSize, 10172);
  if (IsBlobBaseFieldType(BaseFieldType)) {
    defstream::WriteUInt8(stream, BLOBCompressionAlgorithm, 10175);
    defstream::WriteUInt8(stream, BLOBCompressionMode, 10176);
    defstream::WriteInt32(stream, BLOBBlockSize, 10177);
  }
  defstream::WriteInt64(stream, AutoincIncrement, 30412);
  defstream::WriteInt64(stream, AutoincInitialValue, 30413);
  defstream::WriteInt64(stream, AutoincMinValue, 30414);
  defstream::WriteInt64(stream, AutoincMaxValue, 30415);
  defstream::WriteBoolByte(stream, AutoincCycled, 30416);
  DefaultValue.SaveToStream(stream);
}

// ---------------------------------------------------------------------------
// TVEZFieldDefs

std::int32_t TVEZFieldDefs::NullBitmapSize() const {
  const std::int32_t n = GetCount();
  return n / 8 + (n % 8 > 0 ? 1 : 0);
}

void TVEZFieldDefs::RecalcFieldOffsets() {
  const std::int32_t bitmap = NullBitmapSize();
  std::int32_t memory_offset = bitmap;
  std::int32_t disk_offset = bitmap;
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    TVEZFieldDef* def = GetDef(i);
    def->MemoryOffset = memory_offset;
    def->DiskOffset = disk_offset;
    memory_offset = platform::CheckedAdd(memory_offset, def->MemoryDataSize);
    disk_offset = platform::CheckedAdd(disk_offset, def->DiskDataSize);
  }
}

std::int32_t TVEZFieldDefs::GetMemoryRecordBufferSize() const {
  std::int32_t size = NullBitmapSize();
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    size = platform::CheckedAdd(size, GetDef(i)->MemoryDataSize);
  }
  return size;
}

std::int32_t TVEZFieldDefs::GetDiskRecordBufferSize() const {
  std::int32_t size = NullBitmapSize();
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    size = platform::CheckedAdd(size, GetDef(i)->DiskDataSize);
  }
  return size;
}

}  // namespace vez
