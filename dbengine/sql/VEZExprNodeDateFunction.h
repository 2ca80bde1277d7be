// TVEZExprNodeDateFunction: the date and time functions. Built so far: the
// current date-time (doSYSDATE, for SYSDATE, NOW and CURRENT_TIMESTAMP), date
// (doCURRENT_DATE) and time of day (doCURRENT_TIME), read from the installed
// clock (platform::Now) on every evaluation, so two records of one scan may
// see different times. TODATE, TOSTRING and EXTRACT are not built yet.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeDateFunction : public TVEZExprNode {
 public:
  // A function without arguments (doSYSDATE, doCURRENT_DATE, doCURRENT_TIME).
  explicit TVEZExprNodeDateFunction(TVEZDataOperator op);

  // Now as a date-time, a date or a time. Another operator raises 30058.
  TVEZVariant* GetDataValue() override;
  // aftDateTime, aftDate or aftTime.
  TVEZAdvancedFieldType GetDataType() override;
  // 0.
  std::int32_t GetDataSize() override;
};

}  // namespace vez
