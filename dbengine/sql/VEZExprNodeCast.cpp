#include "dbengine/sql/VEZExprNodeCast.h"

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
