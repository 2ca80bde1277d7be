// TVEZAOTableExpr: computes a select list over one child: expression columns,
// the projection and DISTINCT; it also sorts for ORDER BY when the child is a
// table without an index for that order. Materialised by Execute.
//
// Thread safety: none; see VEZAO.h.
#pragma once

#include <memory>

#include "dbengine/sql/VEZAO.h"

namespace vez {

class TVEZAOTableExpr : public TVEZAO {
 public:
  // One link per result column of the child (its select-list order when it
  // has one).
  explicit TVEZAOTableExpr(std::unique_ptr<TVEZAO> child);

  void DoFirst() override;
  void DoNext() override;
  bool DoGetEof() override;
  std::int64_t DoGetRecordCount() override;
  void Execute(bool is_root_ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
  // The base, then the child's when the base took the count.
  void SetTopRowCount(std::int32_t first_row_no, std::int32_t top_row_count) override;
};

// Copies the child's result columns into a fresh operator (the table
// expression and the TOP operator share this).
void AppendChildResultLinks(TVEZAO& ao, TVEZAO& child);

}  // namespace vez
