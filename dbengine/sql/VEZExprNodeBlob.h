// TVEZExprNodeBlob: MIMETOBIN(text), the base64 text decoded to a BLOB value.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeBlob : public TVEZExprNode {
 public:
  TVEZExprNodeBlob(TVEZDataOperator op, TNodePtr node);

  // Another operator raises 30058.
  TVEZVariant* GetDataValue() override;
  // aftBlob: the value holds bytes, and a result column typed as text would
  // store them as text.
  TVEZAdvancedFieldType GetDataType() override;
  // 0.
  std::int32_t GetDataSize() override;
};

}  // namespace vez
