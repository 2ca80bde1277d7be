#include "dbengine/sql/VEZExprNodeCast.h"

#include <cmath>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"

namespace vez {

namespace {

constexpr std::int32_t kDefaultCastStringSize = 4096;

// The characters needed to write a value of the type as text.
std::int32_t TextWidthOf(TVEZAdvancedFieldType type, TVEZExprNode& source) {
  switch (type) {
    case aftChar:
    case aftString:
    case aftWideChar:
    case aftWideString:
    case aftBytes:
    case aftVarBytes:
    case aftBlob:
    case aftGraphic:
      return source.GetDataSize();
    case aftShortint:
    case aftAutoIncShortint:
      return 4;
    case aftSmallint:
    case aftAutoIncSmallint:
      return 6;
    case aftInteger:
    case aftAutoInc:
    case aftAutoIncInteger:
      return 11;
    case aftLargeint:
    case aftAutoIncLargeint:
      return 20;
    case aftByte:
    case aftAutoIncByte:
      return 3;
    case aftWord:
    case aftAutoIncWord:
    case aftBoolean:
      return 5;
    case aftCardinal:
    case aftAutoIncCardinal:
      return 10;
    case aftSingle:
    case aftDouble:
    case aftExtended:
    case aftDate:
    case aftTime:
    case aftDateTime:
    case aftTimeStamp:
      return 26;
    case aftCurrency:
      return 21;
    case aftMemo:
    case aftFormattedMemo:
    case aftWideMemo:
      return 4096;
    case aftGuid:
      return 38;
    default:
      throw EVEZException(30466, "Unsupported data type '%s'", {AdvancedTypeToSQLTypeName(type)});
  }
}

// A number outside an integer target's range would keep only its low bits
// (3e9 as INTEGER turning negative): it is a conversion error instead.
void CheckIntegerRange(const TVEZVariant& value, TVEZBaseFieldType target) {
  if (value.GetIsNull() || !value.IsNumericDataType()) return;
  long double low, high;
  switch (target) {
    case bftSignedInt8:
      low = -128.0L, high = 127.0L;
      break;
    case bftSignedInt16:
      low = -32768.0L, high = 32767.0L;
      break;
    case bftSignedInt32:
      low = -2147483648.0L, high = 2147483647.0L;
      break;
    case bftUnsignedInt8:
      low = 0, high = 255.0L;
      break;
    case bftUnsignedInt16:
      low = 0, high = 65535.0L;
      break;
    case bftUnsignedInt32:
      low = 0, high = 4294967295.0L;
      break;
    default:
      return;  // 64-bit targets refuse an out-of-range float themselves
  }
  const long double whole = std::trunc(value.GetAsExtended());
  if (!(whole >= low && whole <= high))
    throw EVEZException(
        30051, "Cannot cast from '%s' to '%s'",
        {BaseTypeToSQLTypeName(value.GetDataType()), BaseTypeToSQLTypeName(target)});
}

}  // namespace

TVEZExprNodeCast::TVEZExprNodeCast(TNodePtr node, TVEZAdvancedFieldType cast_type,
                                   TNodePtr cast_size_node)
    : TVEZExprNode(doCAST, true, false), FCastType(cast_type) {
  FKind = TVEZExprNodeKind::Cast;
  if (cast_size_node) {
    LCastSizeNode = cast_size_node.get();
    AddChild(std::move(cast_size_node));
  }
  AddChild(std::move(node));
}

TVEZExprNode* TVEZExprNodeCast::ValueNode() const {
  return Children.back().get();
}

TVEZVariant* TVEZExprNodeCast::GetDataValue() {
  CopyValue(Value, *ValueNode()->GetDataValue());
  CheckIntegerRange(Value, AdvancedTypeToBaseType(FCastType));
  Value.Cast(AdvancedTypeToBaseType(FCastType));
  if (IsStringAdvancedFieldType(FCastType) && !Value.GetIsNull()) {
    const std::int64_t size =
        LCastSizeNode ? LCastSizeNode->GetDataValue()->GetAsInteger() : kDefaultCastStringSize;
    const TVEZBaseFieldType type = Value.GetDataType();
    if (FCastType == aftWideChar || FCastType == aftWideString) {
      const std::u16string s = Value.GetAsWideString();
      if (size >= 0 && static_cast<std::int64_t>(s.size()) > size) {
        Value.Clear(type);
        Value.SetAsWideString(s.substr(0, static_cast<std::size_t>(size)));
      }
    } else {
      const std::string s = Value.GetAsAnsiString();
      if (size >= 0 && static_cast<std::int64_t>(s.size()) > size) {
        Value.Clear(type);
        Value.SetAsAnsiString(s.substr(0, static_cast<std::size_t>(size)));
      }
    }
  }
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeCast::GetDataType() {
  return FCastType;
}

std::int32_t TVEZExprNodeCast::GetDataSize() {
  if (LCastSizeNode) return LCastSizeNode->GetDataValue()->GetAsInteger();
  if (!IsStringAdvancedFieldType(FCastType)) return 0;
  return TextWidthOf(ValueNode()->GetDataType(), *ValueNode());
}

}  // namespace vez
