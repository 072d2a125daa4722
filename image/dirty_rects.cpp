// Dirty boxes of the layer tree: merging, marking up the tree, the end-of-frame reset and the commit
// of pending visibility and opacity.
#include "image/dirty_rects.h"

uint8_t g_bFullRedraw = 0;

int MergeDirtyRect(TREE_NODE* pNode, DIRTY_BOX* pBox)
{
    LAYER* pLayer = GetNodeLayer(pNode);
    if (!pLayer || !pBox)
        return -1;
    DIRTY_BOX& b = *pBox;
    if (pLayer->nWidth != 0 && pLayer->nHeight != 0) {
        const int64_t w = pLayer->nWidth;
        const int64_t h = pLayer->nHeight;
        if (b.llLeft >= w || b.llTop >= h || b.llRight < 0 || b.llBottom < 0) {
            b = DIRTY_BOX{KX_DIRTY_REJECTED, KX_DIRTY_REJECTED, KX_DIRTY_REJECTED, KX_DIRTY_REJECTED};
            return -1;
        }
        if (b.llLeft < 0)
            b.llLeft = 0;
        if (b.llTop < 0)
            b.llTop = 0;
        if (b.llRight > w - 1)
            b.llRight = w - 1;
        if (b.llBottom > h - 1)
            b.llBottom = h - 1;
    }
    pLayer->bChanged = 1;
    if (pLayer->nMergeCount == 0 || !pLayer->bOwnValid) {
        pLayer->rcOwn = b;
        pLayer->bOwnValid = 1;
        pLayer->nMergeCount++;
    } else {
        DIRTY_BOX& o = pLayer->rcOwn;
        if (b.llLeft < o.llLeft)
            o.llLeft = b.llLeft;
        if (b.llTop < o.llTop)
            o.llTop = b.llTop;
        if (b.llRight > o.llRight)
            o.llRight = b.llRight;
        if (b.llBottom > o.llBottom)
            o.llBottom = b.llBottom;
    }
    return 0;
}

// The parent a box travels into next, or NULL at the top of the tree (the bare root, a node taken
// out of the tree, or a parent without a record).
static TREE_NODE* NextDirtyTarget(const TREE_NODE* pNode)
{
    TREE_NODE* pParent = pNode->pParent;
    if (!pParent || pParent == g_pLayerRoot || !GetNodeLayer(pParent))
        return nullptr;
    return pParent;
}

static void OffsetBox(DIRTY_BOX& b, const LAYER* pLayer)
{
    // Positions come from scripts; wrapping arithmetic keeps an absurd one from being undefined.
    b.llLeft = int64_t(uint64_t(b.llLeft) + uint64_t(pLayer->llX));
    b.llRight = int64_t(uint64_t(b.llRight) + uint64_t(pLayer->llX));
    b.llTop = int64_t(uint64_t(b.llTop) + uint64_t(pLayer->llY));
    b.llBottom = int64_t(uint64_t(b.llBottom) + uint64_t(pLayer->llY));
}

int MarkLayerDirty(TREE_NODE* pNode)
{
    LAYER* pLayer = GetNodeLayer(pNode);
    if (!pLayer)
        return -1;
    // A layer is marked after its pixels change, so a colour cache made from the old ones goes.
    MarkPixelsChanged(pLayer);
    DIRTY_BOX b{0, 0, int64_t(pLayer->nWidth) - 1, int64_t(pLayer->nHeight) - 1};
    for (TREE_NODE* pParent = NextDirtyTarget(pNode); pParent; pParent = NextDirtyTarget(pNode)) {
        OffsetBox(b, GetNodeLayer(pNode));
        if (MergeDirtyRect(pParent, &b) != 0)
            break;
        pNode = pParent;
    }
    return 0;
}

int PropagateLayerDirty(TREE_NODE* pNode)
{
    if (!GetNodeLayer(pNode))
        return -1;
    MarkPixelsChanged(GetNodeLayer(pNode));
    CollectGroupDirty(pNode);
    DIRTY_BOX b = GetNodeLayer(pNode)->rcOwn;
    for (;;) {
        // A box rejected at one level lies outside it, so the levels above receive nothing.
        if (MergeDirtyRect(pNode, &b) != 0)
            break;
        OffsetBox(b, GetNodeLayer(pNode));
        pNode = NextDirtyTarget(pNode);
        if (!pNode)
            break;
    }
    return 0;
}

// A plain child adds nothing while it cannot show anything on the CPU.
static bool ChildCanShow(const LAYER* pLayer)
{
    if (!pLayer->bVisible || pLayer->nOpacity == 0 || pLayer->bKind != LAYERKIND_CPU)
        return false;
    if (pLayer->pszMaskPath && pLayer->pszMaskPath[0] && pLayer->nMaskThreshold == 0)
        return false;
    return true;
}

int CollectGroupDirty(TREE_NODE* pGroup)
{
    if (!GetNodeLayer(pGroup))
        return -1;
    TREE_NODE* pChild = pGroup->pFirstChild;
    for (int32_t i = 0; i < pGroup->nChildCount && pChild; ++i, pChild = pChild->pNext) {
        LAYER* pLayer = GetNodeLayer(pChild);
        if (!pLayer)
            continue;
        if (pChild->bGroup) {
            CollectGroupDirty(pChild);
            continue;
        }
        if (!ChildCanShow(pLayer))
            continue;
        DIRTY_BOX b{0, 0, int64_t(pLayer->nWidth) - 1, int64_t(pLayer->nHeight) - 1};
        OffsetBox(b, pLayer);
        MergeDirtyRect(pGroup, &b);
    }
    return 0;
}

static void ResetLayerDirty(LAYER* pLayer)
{
    pLayer->nPrevMergeCount = pLayer->nMergeCount;
    pLayer->nMergeCount = 0;
    pLayer->bChanged = 0;
    pLayer->bOwnValid = 0;
    pLayer->rcUnion = DIRTY_BOX{KX_DIRTY_EMPTY_LOW, KX_DIRTY_EMPTY_LOW, KX_DIRTY_EMPTY_HIGH, KX_DIRTY_EMPTY_HIGH};
}

static void ResetGroupsDirty(TREE_NODE* pFirst)
{
    for (TREE_NODE* pNode = pFirst; pNode; pNode = pNode->pNext) {
        if (!pNode->bGroup)
            continue;
        if (LAYER* pLayer = GetNodeLayer(pNode))
            ResetLayerDirty(pLayer);
        ResetGroupsDirty(pNode->pFirstChild);
    }
}

void ResetDirtyRects(TREE_NODE* pFirst)
{
    ResetGroupsDirty(pFirst);
    for (int i = 0; i < KX_LAYER_WINDOWS; ++i) {
        if (LAYER* pBack = g_LayerHooks.pfnWindowBackLayer(i))
            ResetLayerDirty(pBack);
    }
}

void ApplyPendingLayerProps(TREE_NODE* pFirst)
{
    for (TREE_NODE* pNode = pFirst; pNode; pNode = pNode->pNext) {
        LAYER* pLayer = GetNodeLayer(pNode);
        if (pLayer) {
            bool bReplaced = false;
            if (pLayer->bPendingVisibleSet) {
                pLayer->bPendingVisibleSet = 0;
                if (pLayer->bPendingVisible != pLayer->bVisible) {
                    pLayer->bVisible = pLayer->bPendingVisible;
                    bReplaced = true;
                }
            }
            if (pLayer->bPendingOpacitySet) {
                pLayer->bPendingOpacitySet = 0;
                if (pLayer->nPendingOpacity != pLayer->nOpacity) {
                    pLayer->nOpacity = pLayer->nPendingOpacity;
                    bReplaced = true;
                }
            }
            if (bReplaced) {
                g_bFullRedraw = 1;
                if (pNode->bGroup)
                    PropagateLayerDirty(pNode);
                else
                    MarkLayerDirty(pNode);
            }
        }
        if (pNode->bGroup)
            ApplyPendingLayerProps(pNode->pFirstChild);
    }
}
