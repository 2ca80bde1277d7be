#include "dbengine/storage/VEZKeyPathMoves.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZBTreePage.h"

namespace vez {

void CheckLevelNeighbour(const TVEZBTreePage& page, const TVEZBTreePage& neighbour, bool right) {
  if (neighbour.IsLeaf() != page.IsLeaf() || neighbour.IsRoot() || neighbour.EntryCount() == 0 ||
      (right ? neighbour.LeftPageNo() : neighbour.RightPageNo()) != page.PageNo())
    neighbour.RaiseCorrupt("level neighbour does not link back");
}

bool StepKeyPath(TVEZPageManager* page_manager, TVEZBTreeKeyRef* key_ref, std::int32_t session_id,
                 TVEZKeyPath& path, bool go_forward, const TVEZKeyPathMoveErrors& errors) {
  if (path.Count == 0) {
    throw EVEZException(go_forward ? errors.EmptyPathNext : errors.EmptyPathPrior,
                        "Index error: invalid position");
  }
  std::int32_t level = path.Count - 1;
  if (go_forward) {
    while (level >= 0 && path.Items[level].EntryNo >= path.Items[level].EntryCount - 1)
      --level;
  } else {
    while (level >= 0 && path.Items[level].EntryNo <= 0)
      --level;
  }
  if (level < 0) return false;
  TVEZKeyPath moved;
  moved.Assign(path);
  moved.Items[level].EntryNo += go_forward ? 1 : -1;
  for (std::int32_t i = level + 1; i < moved.Count; ++i) {
    TVEZBTreePageHolder page =
        TVEZBTreePage::GetIndexPage(page_manager, key_ref, session_id, moved.Items[i].PageNo);
    const std::int32_t next_no = go_forward ? page->RightPageNo() : page->LeftPageNo();
    if (next_no == -1) {
      throw EVEZException(go_forward ? errors.NoRightPage : errors.NoLeftPage,
                          "Index error: invalid page number");
    }
    TVEZBTreePageHolder next =
        TVEZBTreePage::GetIndexPage(page_manager, key_ref, session_id, next_no);
    CheckLevelNeighbour(*page, *next, go_forward);
    const std::int32_t count = next->EntryCount();
    moved.Items[i] = {next_no, go_forward ? 0 : count - 1, count};
  }
  path.Assign(moved);
  return true;
}

}  // namespace vez
