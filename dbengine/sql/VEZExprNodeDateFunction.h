// TVEZExprNodeDateFunction: the date and time functions. Built so far: the
// current date-time (doSYSDATE, for SYSDATE, NOW and CURRENT_TIMESTAMP), date
// (doCURRENT_DATE) and time of day (doCURRENT_TIME), read from the installed
// clock (platform::Now) on every evaluation, so two records of one scan may
// see different times; TODATE and TOSTRING (text read or written by a
// date-format template) and EXTRACT (one field of a date-time).
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include <memory>
#include <string>

#include "dbengine/sql/VEZDateFormater.h"
#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeDateFunction : public TVEZExprNode {
 public:
  // A function without arguments (doSYSDATE, doCURRENT_DATE, doCURRENT_TIME).
  explicit TVEZExprNodeDateFunction(TVEZDataOperator op);
  // TODATE or TOSTRING of node by the template format_str.
  TVEZExprNodeDateFunction(TVEZDataOperator op, TNodePtr node, const std::string& format_str);
  // EXTRACT(field FROM source).
  TVEZExprNodeDateFunction(TVEZDataOperator op, TVEZDateTimeExtractField extract_field,
                           TNodePtr extract_source);

  // Another operator raises 30130.
  TVEZVariant* GetDataValue() override;
  // Another operator raises 30287.
  TVEZAdvancedFieldType GetDataType() override;
  // The template's longest text for TOSTRING, else 0.
  std::int32_t GetDataSize() override;

  std::unique_ptr<TDateFormater> DateFormater;
  TVEZDateTimeExtractField ExtractDateTimeField = dtefYear;
};

}  // namespace vez
