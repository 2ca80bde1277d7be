#include "dbengine/sql/VEZExprNodeBlob.h"

#include "dbengine/foundation/VEZBase64.h"
#include "dbengine/sql/VEZExpression.h"

namespace vez {

TVEZExprNodeBlob::TVEZExprNodeBlob(TVEZDataOperator op, TNodePtr node)
    : TVEZExprNode(op, std::move(node), true, false) {
  FKind = TVEZExprNodeKind::Blob;
}

TVEZVariant* TVEZExprNodeBlob::GetDataValue() {
  if (Operator != doMIMETOBIN || Children.empty() || !Children[0])
    RaiseNotImplementedYet("blob function " + OperatorToText(Operator));
  const TVEZVariant* text = Children[0]->GetDataValue();
  Value.Clear(bftBlob);
  if (text->GetIsNull()) return &Value;
  const std::string bytes = Base64Decode(text->GetAsAnsiString());
  if (bytes.empty()) return &Value;
  Value.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()), bftBlob, true);
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeBlob::GetDataType() {
  return aftBlob;
}

std::int32_t TVEZExprNodeBlob::GetDataSize() {
  return 0;
}

}  // namespace vez
