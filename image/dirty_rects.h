// Dirty boxes: the compositor redraws only what changed. Every change to what a layer shows is
// reported as a box that travels up the layer tree into each enclosing group, translated into the
// group's coordinates and clipped to its size. After presentation the groups forget their boxes.
#pragma once
#include <cstdint>

#include "image/layer.h"

// A box that a merge found wholly outside its target: all four values.
#define KX_DIRTY_REJECTED (-999999999LL)
// The empty union box: left = top = KX_DIRTY_EMPTY_LOW, right = bottom = KX_DIRTY_EMPTY_HIGH.
#define KX_DIRTY_EMPTY_LOW 999999999LL
#define KX_DIRTY_EMPTY_HIGH (-999999999LL)

// Asks the window renderer to redraw everything once.
extern uint8_t g_bFullRedraw;

// Merges the box (in the node's coordinates) into the node's own box. A layer with a width or height
// of 0 takes it unclipped; otherwise it is clipped to the layer in place, or, lying wholly outside,
// set to the rejected value (-1, the layer untouched). 0 after a merge; -1 also for a NULL node, box
// or record (the box untouched).
int MergeDirtyRect(TREE_NODE* pNode, DIRTY_BOX* pBox);
// The layer's whole area goes into every enclosing group (the layer's own box is not touched). Stops
// at a level that rejects it, at g_pLayerRoot, and at a parent that is missing or has no record.
// 0, or -1 for a NULL node or a node without a record.
int MarkLayerDirty(TREE_NODE* pNode);
// For groups: collects the children's areas into the group (CollectGroupDirty), then its own box goes
// into itself and every enclosing group, with the same stops as MarkLayerDirty. 0, or -1 for a NULL
// node or a node without a record.
int PropagateLayerDirty(TREE_NODE* pNode);
// Merges the area of every plain child that can show something (visible, opacity above 0, not
// masked away by a threshold of 0, drawn on the CPU) into the group; group children collect into
// themselves. 0, or -1 for a NULL node or a node without a record.
int CollectGroupDirty(TREE_NODE* pGroup);
// End of frame, from the first node of a sibling list (the frame step passes the first child of
// g_pLayerRoot): every group below forgets its boxes (the merge count moves to the previous count,
// the union box becomes empty); plain layers keep theirs. Then the windows' back layers the same way.
void ResetDirtyRects(TREE_NODE* pFirst);
// Before drawing, from the first node of a sibling list: commits pending visibility and opacity
// values; a value that changes sets g_bFullRedraw and marks the node dirty.
void ApplyPendingLayerProps(TREE_NODE* pFirst);
