// The layer delete and information commands.
#include "image/cmd_layer_info.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/errors.h"
#include "core/kx_limits.h"
#include "core/object_tree.h"
#include "core/window_record.h"
#include "image/cmd_layer.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/variables.h"

namespace {

int64_t ArgInt(int nId) { return g_anArgValue[ArgSlot(nId)]; }

// The output variable: its number and element from the designation of the output argument.
struct OUTPUT {
    int nVar;
    int64_t llElem;
    VAR_DESC* pVar;
};

void StoreNothing(const OUTPUT& o)
{
    switch (o.pVar->bType) {
    case KX_VAR_TYPE_INT: SetVarInt(o.nVar, o.llElem, 0); break;
    case KX_VAR_TYPE_FLOAT: SetVarFloat(o.nVar, o.llElem, 0.0); break;
    case KX_VAR_TYPE_STRING: SetVarString(o.nVar, o.llElem, ""); break;
    default: break;
    }
}

// Child k counted from the top (child 1 is the last in sibling order), or NULL.
TREE_NODE* ChildFromTop(const TREE_NODE* pGroup, int64_t k)
{
    if (k < 1 || k > pGroup->nChildCount) return nullptr;
    TREE_NODE* p = pGroup->pLastChild;
    for (int64_t i = 1; p && i < k; ++i) p = p->pPrev;
    return p;
}

// The first child from k on (counted from the top) whose user values match; walks backwards
// through the siblings, one step per child.
int64_t SearchChildren(const TREE_NODE* pGroup)
{
    const bool bUser1 = HasArg(LAYER_INFO_ARG_USER1), bUser2 = HasArg(LAYER_INFO_ARG_USER2);
    if (!bUser1 && !bUser2) return 0;
    const int64_t llStart = HasArg(LAYER_INFO_ARG_CHILD) ? std::max<int64_t>(1, ArgInt(LAYER_INFO_ARG_CHILD)) : 1;
    if (llStart > pGroup->nChildCount) return 0;
    const int64_t v1 = bUser1 ? ArgInt(LAYER_INFO_ARG_USER1) : 0, v2 = bUser2 ? ArgInt(LAYER_INFO_ARG_USER2) : 0;
    int64_t k = llStart;
    for (const TREE_NODE* p = ChildFromTop(pGroup, llStart); p; p = p->pPrev, ++k) {
        const LAYER* c = GetNodeLayer(p);
        if (c && (!bUser1 || c->llUser1 == v1) && (!bUser2 || c->llUser2 == v2)) return k;
    }
    return -1;
}

// The alpha bounding box: 1 top, 2 bottom, 3 left, 4 right of the pixels whose alpha is above the
// threshold; another selector 0; -1 when no pixel passes.
int64_t AlphaBox(const LAYER* pLayer, int64_t llSelector, int64_t llThreshold)
{
    if (!pLayer->pDisplayPixels) return -1;
    int64_t t = -1, b = -1, l = -1, r = -1;
    for (int32_t y = 0; y < pLayer->nHeight; ++y) {
        const uint8_t* pRow = pLayer->pDisplayPixels + size_t(y) * pLayer->nWidth * 4;
        for (int32_t x = 0; x < pLayer->nWidth; ++x) {
            if (pRow[x * 4 + 3] <= llThreshold) continue;
            if (t < 0) t = y;
            b = y;
            if (l < 0 || x < l) l = x;
            if (x > r) r = x;
        }
    }
    if (t < 0) return -1;
    switch (llSelector) {
    case 1: return t;
    case 2: return b;
    case 3: return l;
    case 4: return r;
    default: return 0;
    }
}

// Answers of the table, in the order in which the first present one is chosen. Group-only
// questions count only for a group path.
struct INFO_QUESTION {
    int nId;
    bool bGroupOnly;
};
const INFO_QUESTION kQuestions[] = {
    {2, false},  {3, false},  {4, false},  {9, false},  {10, false}, {11, false}, {5, false},  {6, false},
    {7, false},  {12, false}, {13, false}, {14, false}, {15, false}, {16, false}, {17, false}, {18, false},
    {19, false}, {20, false}, {28, true},  {26, false}, {27, false}, {29, true},  {30, true},  {31, true},
    {21, false}, {22, false}, {23, false}, {24, false}, {25, false},
};

}  // namespace

int64_t ReadLayerPixel(const TREE_NODE* pNode, int32_t nWindowX, int32_t nWindowY, int nMode)
{
    const LAYER* pLayer = GetNodeLayer(pNode);
    if (!pLayer || !pLayer->pDisplayPixels) return -1;
    uint32_t dwX = 0, dwY = 0;
    for (const TREE_NODE* p = pNode; p && p != g_pLayerRoot; p = p->pParent) {
        const LAYER* q = GetNodeLayer(p);
        if (!q) continue;
        dwX += static_cast<uint32_t>(q->llX);
        dwY += static_cast<uint32_t>(q->llY);
    }
    const int64_t x = int64_t(nWindowX) - static_cast<int32_t>(dwX), y = int64_t(nWindowY) - static_cast<int32_t>(dwY);
    if (x < 0 || y < 0 || x >= pLayer->nWidth || y >= pLayer->nHeight) return -1;
    uint32_t dw;
    std::memcpy(&dw, pLayer->pDisplayPixels + (size_t(y) * pLayer->nWidth + size_t(x)) * 4, 4);
    switch (nMode) {
    case KX_PIXEL_RGB: return dw & 0xFFFFFFu;
    case KX_PIXEL_ALPHA: return dw >> 24;
    case KX_PIXEL_WHOLE: return static_cast<int32_t>(dw);
    default: return -1;
    }
}

int CmdLayerDelete(void)
{
    if (FetchCommandArgs(CMDID_LAYER_DELETE) != 0) return -1;
    char szPath[KX_MAX_OBJECT_PATH];
    const int bGroup = ResolveLayerArgPath(szPath);
    if (bGroup < 0) return -1;
    TREE_NODE* pNode = FindLayerNode(szPath, bGroup);
    if (!pNode || !GetNodeLayer(pNode)) return 0;
    MarkLayerDirty(pNode);
    if (bGroup)
        FreeNodeSubtree(pNode);
    else
        FreeNode(pNode);
    return 0;
}

int CmdLayerInfo(void)
{
    if (FetchCommandArgs(CMDID_LAYER_INFO) != 0) return -1;
    const int nOutSlot = ArgSlot(LAYER_INFO_ARG_OUT);
    if (!nOutSlot) return 0;
    OUTPUT o{g_anArgVar[nOutSlot], g_anArgElem[nOutSlot], nullptr};
    o.pVar = GetVarDesc(o.nVar);
    if (!o.pVar) return 0;

    char szPath[KX_MAX_OBJECT_PATH];
    const int bGroup = ResolveLayerArgPath(szPath);
    if (bGroup < 0) return -1;
    TREE_NODE* pNode = FindLayerNode(szPath, bGroup);
    const LAYER* L = GetNodeLayer(pNode);
    if (!L) {
        StoreNothing(o);
        return 0;
    }

    int nQuestion = 0;
    for (const INFO_QUESTION& q : kQuestions)
        if (HasArg(q.nId) && (!q.bGroupOnly || bGroup)) {
            nQuestion = q.nId;
            break;
        }

    auto Int = [&](int64_t v) { return SetVarInt(o.nVar, o.llElem, v) == 0 ? 0 : -1; };
    switch (nQuestion) {
    case 2: return Int(1);
    case 3: return Int(L->bVisible);
    case 4: return Int(L->nOpacity);
    case 9: return Int(L->nMaskThreshold);
    case 10: return SetVarString(o.nVar, o.llElem, L->pszMaskPath ? L->pszMaskPath : "") == 0 ? 0 : -1;
    case 11: return Int(L->nMaskVagueness);
    case 5: return Int(L->llX);
    case 6: return Int(L->llY);
    case 7: return Int(pNode->llOrder);
    case 12: return Int(L->bBlendMode);
    case 13: return Int(L->nWidth);
    case 14: return Int(L->nHeight);
    case 15: return Int(L->llScaleX);
    case 16: return Int(L->llScaleY);
    case 17: case 18: case 19: return Int(L->allGpuValue[nQuestion - 17]);
    case 20: return Int(L->bKind);
    case 28: return Int(SearchChildren(pNode));
    case 26: return Int(L->llUser1);
    case 27: return Int(L->llUser2);
    case 29: return Int(pNode->nChildCount);
    case 30: {
        const TREE_NODE* c = ChildFromTop(pNode, HasArg(LAYER_INFO_ARG_CHILD) ? ArgInt(LAYER_INFO_ARG_CHILD) : 0);
        return SetVarString(o.nVar, o.llElem, c && c->pszName ? c->pszName : "") == 0 ? 0 : -1;
    }
    case 31: {
        const TREE_NODE* c = ChildFromTop(pNode, HasArg(LAYER_INFO_ARG_CHILD) ? ArgInt(LAYER_INFO_ARG_CHILD) : 0);
        return Int(c ? c->bGroup : 0);
    }
    case 21: case 22: case 23: {
        const int nWindow = static_cast<int>(std::clamp<int64_t>(ArgInt(nQuestion), 0, KX_WINDOWS - 1));
        const WINDOW_STATE* w = g_apWindowState[nWindow];
        if (!w) return Int(-1);
        const int64_t x = HasArg(LAYER_INFO_ARG_X) ? ArgInt(LAYER_INFO_ARG_X) : w->nMouseX;
        const int64_t y = HasArg(LAYER_INFO_ARG_Y) ? ArgInt(LAYER_INFO_ARG_Y) : w->nMouseY;
        if (x < 0 || y < 0 || x >= w->nWidth || y >= w->nHeight) return Int(-1);
        return Int(ReadLayerPixel(pNode, static_cast<int32_t>(x), static_cast<int32_t>(y), nQuestion - 20));
    }
    case 24: {
        if (!HasArg(LAYER_INFO_ARG_X) || !HasArg(LAYER_INFO_ARG_Y)) {
            const int nMissing = HasArg(LAYER_INFO_ARG_X) ? LAYER_INFO_ARG_Y : LAYER_INFO_ARG_X;
            ReportScriptErrorF(KX_ERR_LAYER_INFO_POINT, 1, LayerCmdName(CMDID_LAYER_INFO), LayerArgName(CMDID_LAYER_INFO, nMissing));
            return -1;
        }
        const int64_t x = ArgInt(LAYER_INFO_ARG_X), y = ArgInt(LAYER_INFO_ARG_Y);
        if (!L->pDisplayPixels || x < 0 || y < 0 || x >= L->nWidth || y >= L->nHeight) return Int(-1);
        const uint8_t* p = L->pDisplayPixels + (size_t(y) * L->nWidth + size_t(x)) * 4;
        return Int(p[0] + p[1] * 256 + p[2] * 65536);
    }
    case 25:
        return Int(AlphaBox(L, HasArg(LAYER_INFO_ARG_X) ? ArgInt(LAYER_INFO_ARG_X) : 0,
                            HasArg(LAYER_INFO_ARG_Y) ? ArgInt(LAYER_INFO_ARG_Y) : 0));
    default: return Int(0);
    }
}
