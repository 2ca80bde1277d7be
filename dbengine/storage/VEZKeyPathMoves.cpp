#include "dbengine/storage/VEZKeyPathMoves.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZBTreePage.h"

namespace vez {

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
    const std::int32_t next = go_forward ? page->RightPageNo() : page->LeftPageNo();
    page.reset();
    if (next == -1) {
      throw EVEZException(go_forward ? errors.NoRightPage : errors.NoLeftPage,
                          "Index error: invalid page number");
    }
    const std::int32_t count =
        TVEZBTreePage::GetIndexPage(page_manager, key_ref, session_id, next)->EntryCount();
    moved.Items[i] = {next, go_forward ? 0 : count - 1, count};
  }
  path.Assign(moved);
  return true;
}

}  // namespace vez
