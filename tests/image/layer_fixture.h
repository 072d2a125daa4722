// A layer tree for the image tests: the bare root with the window group "W0" (640 x 480), and
// helpers that add plain layers and groups at a position.
#pragma once
#include <gtest/gtest.h>

#include <cstring>

#include "root/startup.h"
#include "core/object_tree.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

class LayerTreeTest : public EngineTest {
protected:
    void SetUp() override
    {
        g_pLayerRoot = CreateRootNode();
        ASSERT_NE(g_pLayerRoot, nullptr);
        pW0 = Group("W0", 640, 480, 0, 0, 1);
        ASSERT_NE(pW0, nullptr);
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
    }
    void TearDown() override
    {
        while (g_pLayerRoot->pFirstChild)
            FreeNodeSubtree(g_pLayerRoot->pFirstChild);
        FreeTreeNode(g_pLayerRoot);
        g_pLayerRoot = nullptr;
    }

    // A plain layer of w x h pixels, every pixel the given value, at (x, y) in its parent.
    TREE_NODE* Plain(const char* pszPath, int32_t w, int32_t h, int64_t x, int64_t y, int64_t llOrder,
                     uint32_t dwPixel = 0xFF000000u)
    {
        TREE_NODE* pNode = CreateNode(g_pLayerRoot, pszPath, 0, llOrder);
        LAYER* pLayer = CreateNodeLayer(pNode);
        if (!pLayer)
            return nullptr;
        uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
        if (!pPixels)
            return nullptr;
        for (int64_t i = 0; i < int64_t(w) * h; ++i)
            memcpy(pPixels + 4 * i, &dwPixel, 4);
        SetLayerPixels(pLayer, pPixels, w, h);
        pLayer->llX = x;
        pLayer->llY = y;
        pLayer->llX100 = x * 100;
        pLayer->llY100 = y * 100;
        return pNode;
    }
    // A group made by CreateGroupLayer, placed at (x, y).
    TREE_NODE* Group(const char* pszPath, int32_t w, int32_t h, int64_t x, int64_t y, int64_t llOrder)
    {
        LAYER* pLayer = CreateGroupLayer(pszPath, w, h, llOrder);
        if (!pLayer)
            return nullptr;
        pLayer->llX = x;
        pLayer->llY = y;
        return FindNodeByPath(g_pLayerRoot, pszPath, KX_FIND_GROUP);
    }
    static LAYER* L(const TREE_NODE* pNode) { return GetNodeLayer(pNode); }

    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    TREE_NODE* pW0 = nullptr;
};

inline bool operator==(const DIRTY_BOX& a, const DIRTY_BOX& b)
{
    return a.llLeft == b.llLeft && a.llTop == b.llTop && a.llRight == b.llRight && a.llBottom == b.llBottom;
}
inline std::ostream& operator<<(std::ostream& os, const DIRTY_BOX& b)
{
    return os << "(" << b.llLeft << ", " << b.llTop << ", " << b.llRight << ", " << b.llBottom << ")";
}
