// One step of a B-tree position (a key path) to the next or prior entry in
// key order, shared by every tree that walks its leaves: record indexes and
// page indexes. The step goes up to the deepest level that can move, moves
// there, and follows the level's sibling links below it, so every item of the
// path keeps naming a real page.
//
// Thread safety: none; the caller serialises operations on the tree.
#pragma once

#include <cstdint>

#include "dbengine/storage/VEZKeyPath.h"

namespace vez {

class TVEZBTreeKeyRef;
class TVEZBTreePage;
class TVEZPageManager;

// Native error numbers of a tree's path moves.
struct TVEZKeyPathMoveErrors {
  std::int32_t EmptyPathNext;   // stepping forward from an empty path
  std::int32_t EmptyPathPrior;  // stepping backward from an empty path
  std::int32_t NoRightPage;     // a level ends while a higher level goes on
  std::int32_t NoLeftPage;
};

// A step along a level must land on a non-empty page of that level that links
// back; anything else is a damaged tree (the page's corrupt-index error).
void CheckLevelNeighbour(const TVEZBTreePage& page, const TVEZBTreePage& neighbour, bool right);

// Moves path one entry forward (go_forward) or backward. False at the end,
// path unchanged. The path changes only when the whole step succeeds; every
// page stepped onto is checked with CheckLevelNeighbour.
bool StepKeyPath(TVEZPageManager* page_manager, TVEZBTreeKeyRef* key_ref, std::int32_t session_id,
                 TVEZKeyPath& path, bool go_forward, const TVEZKeyPathMoveErrors& errors);

}  // namespace vez
