// Column definitions (TVEZFieldDef) and the field def list (TVEZFieldDefs),
// which also lays out a record buffer: a null bitmap of ceil(N / 8) bytes
// (bit i set = field i is NULL), then the fields in list order without gaps,
// in memory form (MemoryOffset, MemoryDataSize) or disk form (DiskOffset,
// DiskDataSize). The two forms differ only for BLOB fields (10 bytes in
// memory, a 6-byte item reference on disk).
//
// Thread safety: none; see VEZMetaObjectDef.h.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>

#include "dbengine/foundation/VEZCompressionTypes.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZBaseExpression.h"
#include "dbengine/storage/VEZMetaObjectDef.h"

namespace vez {

inline constexpr std::int32_t kDefaultBLOBBlockSize = 102400;

class TVEZFieldDef : public TVEZMetaObjectDef {
 public:
  TVEZFieldDef();
  ~TVEZFieldDef() override;

  // Source must be a TVEZFieldDef (platform::EInvalidCast otherwise). Copies
  // everything but FieldNoReference, then rebuilds the default expression.
  void Assign(const TVEZMetaObjectDef& source) override;
  // After the default value is read, the default expression is rebuilt and
  // both data sizes recomputed; offsets stay until RecalcFieldOffsets.
  void LoadFromStream(TVEZStream& stream) override;
  void SaveToStream(TVEZStream& stream) const override;

  // Stores the advanced type, derives the base type from the SQL type table,
  // then stores field_size and recomputes the data sizes. A type without a
  // base type raises 30007; the def then keeps the advanced type, its base
  // type is bftUnknown and size and data sizes keep their old values.
  void SetFieldDefDataType(TVEZAdvancedFieldType advanced_field_type, std::int32_t field_size);

  // Frees DefaultValueExpr and, when the SQL engine's test accepts
  // DefaultValue as an expression (a function call rather than a literal),
  // parses a new one from its text. Without a registered SQL engine the
  // default stays a literal. Assigning DefaultValue does not call this.
  void RebuildDefaultValueExpression();

  // MemoryDataSize from the type and size; DiskDataSize 6 for BLOB types.
  void RecalcDataSizes();

  TVEZBaseFieldType BaseFieldType = bftUnknown;
  TVEZAdvancedFieldType AdvancedFieldType = aftUnknown;
  std::int32_t FieldSize = 0;
  std::int32_t DiskDataSize = 0;
  std::int32_t MemoryDataSize = 0;
  std::int32_t DiskOffset = 0;
  std::int32_t MemoryOffset = 0;
  // Physical field number that a cursor's visible field stands for.
  std::int32_t FieldNoReference = 0;
  TVEZVariant DefaultValue{bftUnknown};
  // Parsed expression default, or null.
  std::unique_ptr<TVEZBaseExpression> DefaultValueExpr;
  TVEZCompressionAlgorithm BLOBCompressionAlgorithm = acaNone;
  std::uint8_t BLOBCompressionMode = 0;
  std::int32_t BLOBBlockSize = kDefaultBLOBBlockSize;
  std::int64_t AutoincIncrement = 1;
  std::int64_t AutoincInitialValue = 0;
  std::int64_t AutoincMinValue = 0;
  std::int64_t AutoincMaxValue = std::numeric_limits<std::int64_t>::max();
  TVEZBoolByte AutoincCycled;
};

class TVEZFieldDefs : public TVEZMetaObjectDefs {
 public:
  // Appends and returns a new def (owned by the list).
  TVEZFieldDef* AddCreated() { return static_cast<TVEZFieldDef*>(InternalAddCreated()); }
  TVEZFieldDef* GetDef(std::int32_t index) const {
    return static_cast<TVEZFieldDef*>(TVEZMetaObjectDefs::GetDef(index));
  }
  TVEZFieldDef* GetFieldDefByName(std::string_view name) const {
    return static_cast<TVEZFieldDef*>(GetDefByName(name));
  }

  // Sets both offsets of every def: the first field starts after the null
  // bitmap, each next one after the previous field's memory or disk size.
  // Raises platform::EIntOverflow when the record would not fit an Int32.
  virtual void RecalcFieldOffsets();

  // Bytes of the null bitmap: one bit per field, rounded up to whole bytes.
  std::int32_t NullBitmapSize() const;
  // Null bitmap + the sum of MemoryDataSize (overflow-checked).
  std::int32_t GetMemoryRecordBufferSize() const;
  // Null bitmap + the sum of DiskDataSize (overflow-checked).
  std::int32_t GetDiskRecordBufferSize() const;

 protected:
  const char* ClassName() const override { return "TVEZFieldDefs"; }
  std::unique_ptr<TVEZMetaObjectDef> CreateDef() const override {
    return std::make_unique<TVEZFieldDef>();
  }
};

}  // namespace vez
