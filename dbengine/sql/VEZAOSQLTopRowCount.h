// TVEZAOSQLTopRowCount: TOP n [, m] over one child: n rows starting with the
// child's row m. The child is bounded to m - 1 + n rows without a first row
// number, so the first row number is applied once, here.
//
// Thread safety: none; see VEZAO.h.
#pragma once

#include <memory>

#include "dbengine/sql/VEZAO.h"

namespace vez {

class TVEZAOSQLTopRowCount : public TVEZAO {
 public:
  explicit TVEZAOSQLTopRowCount(std::unique_ptr<TVEZAO> child);

  void DoFirst() override;
  void DoNext() override;
  bool DoGetEof() override;
  std::int64_t DoGetRecordCount() override;
  void SetTopRowCount(std::int32_t first_row_no, std::int32_t top_row_count) override;
};

}  // namespace vez
