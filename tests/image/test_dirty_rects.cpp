// Dirty boxes: merging and clipping, marking up nested groups, collecting a group's children, the
// end-of-frame reset and the commit of pending visibility and opacity.
#include <gtest/gtest.h>

#include <string>

#include "tests/image/layer_fixture.h"

namespace {

const DIRTY_BOX kRejected{KX_DIRTY_REJECTED, KX_DIRTY_REJECTED, KX_DIRTY_REJECTED, KX_DIRTY_REJECTED};
const DIRTY_BOX kEmptyUnion{999999999, 999999999, -999999999, -999999999};

using DirtyRectTest = LayerTreeTest;

// One merge into a freshly reset group: the caller's box after the merge, the result, the own box.
TEST_F(DirtyRectTest, MergeClipsRejectsAndUnites)
{
    struct CASE {
        const char* pszWhat;
        int32_t w, h;
        DIRTY_BOX box;
        int nResult;
        DIRTY_BOX after;
    } cases[] = {
        {"inside", 10, 10, {2, 3, 4, 5}, 0, {2, 3, 4, 5}},
        {"clipped top-left", 10, 10, {-5, -5, 3, 3}, 0, {0, 0, 3, 3}},
        {"clipped bottom-right", 10, 10, {5, 6, 20, 30}, 0, {5, 6, 9, 9}},
        {"left of it", 10, 10, {-9, 0, -1, 5}, -1, kRejected},
        {"below it", 10, 10, {0, 10, 5, 12}, -1, kRejected},
        {"right edge", 10, 10, {10, 0, 12, 5}, -1, kRejected},
        {"zero width takes anything", 0, 10, {-50, -60, 500, 600}, 0, {-50, -60, 500, 600}},
        {"zero height takes anything", 10, 0, {100, 100, 200, 200}, 0, {100, 100, 200, 200}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        TREE_NODE* pG = Group("W0/g", 4, 4, 0, 0, 1);
        ASSERT_NE(pG, nullptr);
        L(pG)->nWidth = c.w;
        L(pG)->nHeight = c.h;
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
        DIRTY_BOX b = c.box;
        EXPECT_EQ(MergeDirtyRect(pG, &b), c.nResult);
        EXPECT_EQ(b, c.after);
        EXPECT_EQ(L(pG)->bChanged, c.nResult == 0);
        EXPECT_EQ(L(pG)->bOwnValid, c.nResult == 0);
        EXPECT_EQ(L(pG)->nMergeCount, c.nResult == 0 ? 1 : 0);
        if (c.nResult == 0) {
            EXPECT_EQ(L(pG)->rcOwn, c.after);
        }
        L(pG)->nWidth = 4;
        L(pG)->nHeight = 4;
        FreeNodeSubtree(pG);
    }
    DIRTY_BOX b{1, 1, 1, 1};
    EXPECT_EQ(MergeDirtyRect(nullptr, &b), -1);
    EXPECT_EQ(MergeDirtyRect(pW0, nullptr), -1);
}

TEST_F(DirtyRectTest, SecondMergeGivesTheBoundingBoxWithOneMergeCounted)
{
    TREE_NODE* pG = Group("W0/g", 100, 100, 0, 0, 1);
    ResetDirtyRects(g_pLayerRoot->pFirstChild);
    DIRTY_BOX a{0, 0, 9, 9};
    DIRTY_BOX b{20, 20, 29, 29};
    MergeDirtyRect(pG, &a);
    MergeDirtyRect(pG, &b);
    EXPECT_EQ(L(pG)->rcOwn, (DIRTY_BOX{0, 0, 29, 29}));
    EXPECT_EQ(L(pG)->nMergeCount, 1);
    // A box left over from before the reset is replaced, not united with.
    ResetDirtyRects(g_pLayerRoot->pFirstChild);
    DIRTY_BOX c{50, 50, 51, 51};
    MergeDirtyRect(pG, &c);
    EXPECT_EQ(L(pG)->rcOwn, c);
}

// Three levels: W0 > g1 at (100, 200) > g2 at (10, 20) > leaf at (5, 6), 4 x 3 pixels. Each level gets
// the leaf's area in its own coordinates; the leaf's own box is untouched.
TEST_F(DirtyRectTest, MarkLayerDirtyTranslatesIntoEveryEnclosingGroup)
{
    TREE_NODE* pG1 = Group("W0/g1", 300, 300, 100, 200, 1);
    TREE_NODE* pG2 = Group("W0/g1/g2", 50, 50, 10, 20, 1);
    TREE_NODE* pLeaf = Plain("W0/g1/g2/x", 4, 3, 5, 6, 1);
    ResetDirtyRects(g_pLayerRoot->pFirstChild);
    L(pLeaf)->rcOwn = DIRTY_BOX{1, 2, 3, 4};
    L(pLeaf)->llCacheFrame = 9;

    EXPECT_EQ(MarkLayerDirty(pLeaf), 0);
    EXPECT_EQ(L(pLeaf)->llCacheFrame, 0) << "a colour cache of the marked layer is made again";
    EXPECT_EQ(L(pG2)->rcOwn, (DIRTY_BOX{5, 6, 8, 8}));
    EXPECT_EQ(L(pG1)->rcOwn, (DIRTY_BOX{15, 26, 18, 28}));
    EXPECT_EQ(L(pW0)->rcOwn, (DIRTY_BOX{115, 226, 118, 228}));
    for (TREE_NODE* p : {pG2, pG1, pW0})
        EXPECT_EQ(L(p)->bChanged, 1);
    EXPECT_EQ(L(pLeaf)->rcOwn, (DIRTY_BOX{1, 2, 3, 4}));
    EXPECT_EQ(L(pLeaf)->bChanged, 0);
}

// A layer at X = 100 inside a group 50 pixels wide: the group rejects it and nothing goes higher.
// A level that clips passes the clipped box on.
TEST_F(DirtyRectTest, RejectionStopsAndClippingCarriesUpwards)
{
    TREE_NODE* pG = Group("W0/g", 50, 50, 10, 10, 1);
    TREE_NODE* pOut = Plain("W0/g/out", 20, 20, 100, 0, 1);
    TREE_NODE* pEdge = Plain("W0/g/edge", 20, 20, 40, 40, 2);
    ResetDirtyRects(g_pLayerRoot->pFirstChild);

    EXPECT_EQ(MarkLayerDirty(pOut), 0);
    EXPECT_EQ(L(pG)->bOwnValid, 0);
    EXPECT_EQ(L(pG)->bChanged, 0);
    EXPECT_EQ(L(pW0)->bChanged, 0);

    MarkLayerDirty(pEdge);
    EXPECT_EQ(L(pG)->rcOwn, (DIRTY_BOX{40, 40, 49, 49}));
    EXPECT_EQ(L(pW0)->rcOwn, (DIRTY_BOX{50, 50, 59, 59}));
}

// Nodes outside the tree or below a record-less parent end the walk instead of failing.
TEST_F(DirtyRectTest, MarkingStopsAtMissingParentsAndRecords)
{
    TREE_NODE* pG = Group("W0/g", 50, 50, 0, 0, 1);
    TREE_NODE* pLeaf = Plain("W0/g/x", 5, 5, 0, 0, 1);
    ResetDirtyRects(g_pLayerRoot->pFirstChild);

    // A parent without a record.
    void* pSaved = pG->pPayload;
    pG->pPayload = nullptr;
    EXPECT_EQ(MarkLayerDirty(pLeaf), 0);
    EXPECT_EQ(PropagateLayerDirty(pG), -1);
    pG->pPayload = pSaved;
    EXPECT_EQ(L(pW0)->bChanged, 0);

    // A node taken out of the tree.
    RemoveNode(pLeaf);
    EXPECT_EQ(MarkLayerDirty(pLeaf), 0);
    EXPECT_EQ(L(pG)->bChanged, 0);
    FreeNode(pLeaf);

    TREE_NODE* pBare = CreateNode(g_pLayerRoot, "W0/bare", 0, 1);
    EXPECT_EQ(MarkLayerDirty(pBare), -1);
    EXPECT_EQ(MarkLayerDirty(nullptr), -1);
    EXPECT_EQ(PropagateLayerDirty(nullptr), -1);
    EXPECT_EQ(CollectGroupDirty(nullptr), -1);
}

// Only plain children that can show something on the CPU add their area; a group child collects
// into itself. The group's own box then travels up.
TEST_F(DirtyRectTest, PropagateCollectsVisibleChildrenAndGoesUp)
{
    TREE_NODE* pG = Group("W0/g", 200, 200, 30, 40, 1);
    Plain("W0/g/shown", 10, 10, 20, 20, 1);
    struct {
        const char* pszPath;
        void (*pfnHide)(LAYER*);
    } hidden[] = {
        {"W0/g/invisible", [](LAYER* p) { p->bVisible = 0; }},
        {"W0/g/clear", [](LAYER* p) { p->nOpacity = 0; }},
        {"W0/g/masked", [](LAYER* p) {
             strcpy(p->pszMaskPath, "W0/m");
             p->nMaskThreshold = 0;
         }},
        {"W0/g/texture", [](LAYER* p) { p->bKind = LAYERKIND_TEXTURE; }},
    };
    for (const auto& h : hidden)
        h.pfnHide(L(Plain(h.pszPath, 50, 50, 100, 100, 2)));
    // A mask path with a threshold above 0 still shows.
    LAYER* pMasked = L(Plain("W0/g/half", 5, 5, 60, 70, 3));
    strcpy(pMasked->pszMaskPath, "W0/m");
    pMasked->nMaskThreshold = 1;
    TREE_NODE* pInner = Group("W0/g/inner", 30, 30, 150, 150, 4);
    Plain("W0/g/inner/y", 3, 3, 1, 2, 1);
    ResetDirtyRects(g_pLayerRoot->pFirstChild);

    EXPECT_EQ(PropagateLayerDirty(pG), 0);
    EXPECT_EQ(L(pG)->rcOwn, (DIRTY_BOX{20, 20, 64, 74}));
    EXPECT_EQ(L(pInner)->rcOwn, (DIRTY_BOX{1, 2, 3, 4}));
    EXPECT_EQ(L(pW0)->rcOwn, (DIRTY_BOX{50, 60, 94, 114}));
}

// The reset forgets the boxes of every group at every depth and of the windows' back layers; plain
// layers keep theirs.
TEST_F(DirtyRectTest, ResetClearsGroupsAndBackLayersOnly)
{
    static LAYER s_back;
    s_back = LAYER{};
    s_back.nMergeCount = 1;
    s_back.bOwnValid = 1;
    s_back.bChanged = 1;
    g_LayerHooks.pfnWindowBackLayer = [](int i) { return i == 2 ? &s_back : nullptr; };

    TREE_NODE* pG1 = Group("W0/g1", 100, 100, 0, 0, 1);
    TREE_NODE* pG2 = Group("W0/g1/g2", 50, 50, 0, 0, 1);
    TREE_NODE* pLeaf = Plain("W0/g1/g2/x", 5, 5, 1, 1, 1);
    DIRTY_BOX b{0, 0, 1, 1};
    MergeDirtyRect(pLeaf, &b);
    MarkLayerDirty(pLeaf);
    L(pG2)->rcUnion = DIRTY_BOX{1, 2, 3, 4};

    ResetDirtyRects(g_pLayerRoot->pFirstChild);
    for (TREE_NODE* p : {pW0, pG1, pG2}) {
        SCOPED_TRACE(p->pszName);
        EXPECT_EQ(L(p)->nPrevMergeCount, 1);
        EXPECT_EQ(L(p)->nMergeCount, 0);
        EXPECT_EQ(L(p)->bOwnValid, 0);
        EXPECT_EQ(L(p)->bChanged, 0);
        EXPECT_EQ(L(p)->rcUnion, kEmptyUnion);
    }
    EXPECT_EQ(s_back.nPrevMergeCount, 1);
    EXPECT_EQ(s_back.bOwnValid, 0);
    EXPECT_EQ(s_back.rcUnion, kEmptyUnion);
    EXPECT_EQ(L(pLeaf)->nMergeCount, 1);
    EXPECT_EQ(L(pLeaf)->bOwnValid, 1);
    EXPECT_EQ(L(pLeaf)->bChanged, 1);

    // A second reset moves the count of a frame without merges.
    ResetDirtyRects(g_pLayerRoot->pFirstChild);
    EXPECT_EQ(L(pG1)->nPrevMergeCount, 0);
}

// Pending values are committed once; only a real change redraws and marks the node.
TEST_F(DirtyRectTest, CommitOfPendingVisibilityAndOpacity)
{
    struct CASE {
        const char* pszWhat;
        bool bGroup;
        uint8_t bVisSet, bVis;
        uint8_t bOpSet;
        int16_t nOp;
        bool bChange;
        uint8_t bVisAfter;
        int16_t nOpAfter;
    } cases[] = {
        {"nothing pending", false, 0, 0, 0, 0, false, 1, 256},
        {"same visibility", false, 1, 1, 0, 0, false, 1, 256},
        {"hidden", false, 1, 0, 0, 0, true, 0, 256},
        {"same opacity", false, 0, 0, 1, 256, false, 1, 256},
        {"new opacity", false, 0, 0, 1, 128, true, 1, 128},
        {"both on a group", true, 1, 0, 1, 10, true, 0, 10},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        TREE_NODE* pOuter = Group("W0/o", 400, 400, 10, 10, 1);
        TREE_NODE* pNode = c.bGroup ? Group("W0/o/n", 20, 20, 5, 5, 1) : Plain("W0/o/n", 20, 20, 5, 5, 1);
        if (c.bGroup)
            Plain("W0/o/n/child", 20, 20, 0, 0, 1);  // a group's own box is its children's area
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
        g_bFullRedraw = 0;
        LAYER* p = L(pNode);
        p->bPendingVisibleSet = c.bVisSet;
        p->bPendingVisible = c.bVis;
        p->bPendingOpacitySet = c.bOpSet;
        p->nPendingOpacity = c.nOp;

        ApplyPendingLayerProps(g_pLayerRoot->pFirstChild);
        EXPECT_EQ(p->bPendingVisibleSet, 0);
        EXPECT_EQ(p->bPendingOpacitySet, 0);
        EXPECT_EQ(p->bVisible, c.bVisAfter);
        EXPECT_EQ(p->nOpacity, c.nOpAfter);
        EXPECT_EQ(g_bFullRedraw, c.bChange ? 1 : 0);
        EXPECT_EQ(L(pOuter)->bChanged, c.bChange ? 1 : 0);
        if (c.bChange) {
            EXPECT_EQ(L(pOuter)->rcOwn, (DIRTY_BOX{5, 5, 24, 24}));
            EXPECT_EQ(L(pW0)->rcOwn, (DIRTY_BOX{15, 15, 34, 34}));
        }
        // The group marks itself (its own box went into it), a plain layer does not.
        EXPECT_EQ(p->bChanged, c.bGroup && c.bChange ? 1 : 0);
        FreeNodeSubtree(pOuter);
    }
}

}  // namespace
