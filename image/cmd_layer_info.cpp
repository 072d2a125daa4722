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
#include "image/cmd_layer_fields.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/variables.h"
#include "script/dispatch.h"

namespace {

// The output variable: its number and element from the designation of the output argument.
using OUTPUT = ARG_OUT;

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

// One question being answered: the output, the layer and the question's id.
struct INFO_QUERY {
    OUTPUT out;
    TREE_NODE* pNode;
    const LAYER* pLayer;
    int nQuestion;
};

int AnswerInt(const INFO_QUERY& q, int64_t llValue) { return SetVarInt(q.out.nVar, q.out.llElem, llValue) == 0 ? 0 : -1; }
int AnswerText(const INFO_QUERY& q, const char* psz) { return SetVarString(q.out.nVar, q.out.llElem, psz) == 0 ? 0 : -1; }

// Child k of argument 32 (0 without it) counted from the top, or NULL.
const TREE_NODE* ChildOfArg(const INFO_QUERY& q)
{
    return ChildFromTop(q.pNode, HasArg(LAYER_INFO_ARG_CHILD) ? ArgInt(LAYER_INFO_ARG_CHILD) : 0);
}

// ---- Answers that are more than a field of the record: 0, or -1 after an error ----

int AnswerExists(const INFO_QUERY& q) { return AnswerInt(q, 1); }
int AnswerMaskPath(const INFO_QUERY& q) { return AnswerText(q, q.pLayer->pszMaskPath ? q.pLayer->pszMaskPath : ""); }
int AnswerOrderKey(const INFO_QUERY& q) { return AnswerInt(q, q.pNode->llOrder); }
int AnswerChildSearch(const INFO_QUERY& q) { return AnswerInt(q, SearchChildren(q.pNode)); }
int AnswerChildCount(const INFO_QUERY& q) { return AnswerInt(q, q.pNode->nChildCount); }

// The name of child k (argument 32), or an empty text.
int AnswerChildName(const INFO_QUERY& q)
{
    const TREE_NODE* c = ChildOfArg(q);
    return AnswerText(q, c && c->pszName ? c->pszName : "");
}

// The group flag of child k (argument 32), or 0.
int AnswerChildIsGroup(const INFO_QUERY& q)
{
    const TREE_NODE* c = ChildOfArg(q);
    return AnswerInt(q, c ? c->bGroup : 0);
}

// Questions 21, 22, 23: the pixel under a point of a window (the question's value, clamped to
// 0..3): its mouse position, or arguments 34 and 35 in its place. -1 outside the window or the
// layer.
int AnswerWindowPixel(const INFO_QUERY& q)
{
    const int nWindow = static_cast<int>(std::clamp<int64_t>(ArgInt(q.nQuestion), 0, KX_WINDOWS - 1));
    const WINDOW_STATE* w = g_apWindowState[nWindow];
    if (!w) return AnswerInt(q, -1);
    const int64_t x = HasArg(LAYER_INFO_ARG_X) ? ArgInt(LAYER_INFO_ARG_X) : w->nMouseX;
    const int64_t y = HasArg(LAYER_INFO_ARG_Y) ? ArgInt(LAYER_INFO_ARG_Y) : w->nMouseY;
    if (x < 0 || y < 0 || x >= w->nWidth || y >= w->nHeight) return AnswerInt(q, -1);
    return AnswerInt(q, ReadLayerPixel(q.pNode, static_cast<int32_t>(x), static_cast<int32_t>(y), q.nQuestion - 20));
}

// Question 24: the colour B + G*256 + R*65536 of the layer's pixel at (argument 34, argument 35),
// which are both required; -1 outside the layer.
int AnswerLayerPixel(const INFO_QUERY& q)
{
    if (!HasArg(LAYER_INFO_ARG_X) || !HasArg(LAYER_INFO_ARG_Y)) {
        const int nMissing = HasArg(LAYER_INFO_ARG_X) ? LAYER_INFO_ARG_Y : LAYER_INFO_ARG_X;
        ReportScriptErrorF(KX_ERR_LAYER_INFO_POINT, 1, GetScriptCommandName(CMDID_LAYER_INFO), LayerArgName(CMDID_LAYER_INFO, nMissing));
        return -1;
    }
    const LAYER* L = q.pLayer;
    const int64_t x = ArgInt(LAYER_INFO_ARG_X), y = ArgInt(LAYER_INFO_ARG_Y);
    if (!L->pDisplayPixels || x < 0 || y < 0 || x >= L->nWidth || y >= L->nHeight) return AnswerInt(q, -1);
    const uint8_t* p = L->pDisplayPixels + (size_t(y) * L->nWidth + size_t(x)) * 4;
    return AnswerInt(q, p[0] + p[1] * 256 + p[2] * 65536);
}

// Question 25: the alpha bounding box, selector argument 34 and threshold argument 35 (0 without).
int AnswerAlphaBox(const INFO_QUERY& q)
{
    return AnswerInt(q, AlphaBox(q.pLayer, HasArg(LAYER_INFO_ARG_X) ? ArgInt(LAYER_INFO_ARG_X) : 0,
                                 HasArg(LAYER_INFO_ARG_Y) ? ArgInt(LAYER_INFO_ARG_Y) : 0));
}

// ---- The table of questions ----

// One question: a field of the record answered as an integer, or an answer of its own.
struct INFO_QUESTION {
    int nId;
    bool bGroupOnly;                          // counts only for a group path
    LAYER_FIELD field;                        // the field read (LAYER_FIELD_NONE: pfnAnswer)
    int (*pfnAnswer)(const INFO_QUERY& q);
};

constexpr INFO_QUESTION FieldQuestion(int nId, LAYER_FIELD field) { return {nId, false, field, nullptr}; }
constexpr INFO_QUESTION Question(int nId, int (*pfnAnswer)(const INFO_QUERY&), bool bGroupOnly = false)
{
    return {nId, bGroupOnly, {}, pfnAnswer};
}

// The questions in the order in which the first present one is chosen.
const INFO_QUESTION kQuestions[] = {
    Question(2, AnswerExists),
    FieldQuestion(3, LAYER_FIELD_OF(bVisible)),
    FieldQuestion(4, LAYER_FIELD_OF(nOpacity)),
    FieldQuestion(9, LAYER_FIELD_OF(nMaskThreshold)),
    Question(10, AnswerMaskPath),
    FieldQuestion(11, LAYER_FIELD_OF(nMaskVagueness)),
    FieldQuestion(5, LAYER_FIELD_OF(llX)),
    FieldQuestion(6, LAYER_FIELD_OF(llY)),
    Question(7, AnswerOrderKey),
    FieldQuestion(12, LAYER_FIELD_OF(bBlendMode)),
    FieldQuestion(13, LAYER_FIELD_OF(nWidth)),
    FieldQuestion(14, LAYER_FIELD_OF(nHeight)),
    FieldQuestion(15, LAYER_FIELD_OF(llScaleX)),
    FieldQuestion(16, LAYER_FIELD_OF(llScaleY)),
    FieldQuestion(17, LAYER_FIELD_OF(allGpuValue[0])),
    FieldQuestion(18, LAYER_FIELD_OF(allGpuValue[1])),
    FieldQuestion(19, LAYER_FIELD_OF(allGpuValue[2])),
    FieldQuestion(20, LAYER_FIELD_OF(bKind)),
    Question(28, AnswerChildSearch, true),
    FieldQuestion(26, LAYER_FIELD_OF(llUser1)),
    FieldQuestion(27, LAYER_FIELD_OF(llUser2)),
    Question(29, AnswerChildCount, true),
    Question(30, AnswerChildName, true),
    Question(31, AnswerChildIsGroup, true),
    Question(21, AnswerWindowPixel),
    Question(22, AnswerWindowPixel),
    Question(23, AnswerWindowPixel),
    Question(24, AnswerLayerPixel),
    Question(25, AnswerAlphaBox),
};

// The first present question that counts for the path, or NULL.
const INFO_QUESTION* FindQuestion(int bGroup)
{
    for (const INFO_QUESTION& q : kQuestions)
        if (HasArg(q.nId) && (!q.bGroupOnly || bGroup)) return &q;
    return nullptr;
}

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
    INFO_QUERY q{GetArgOut(LAYER_INFO_ARG_OUT), nullptr, nullptr, 0};
    if (!q.out.pVar) return 0;

    char szPath[KX_MAX_OBJECT_PATH];
    const int bGroup = ResolveLayerArgPath(szPath);
    if (bGroup < 0) return -1;
    q.pNode = FindLayerNode(szPath, bGroup);
    q.pLayer = GetNodeLayer(q.pNode);
    if (!q.pLayer) {
        StoreNothing(q.out);
        return 0;
    }
    const INFO_QUESTION* pQuestion = FindQuestion(bGroup);
    if (!pQuestion) return AnswerInt(q, 0);
    q.nQuestion = pQuestion->nId;
    return pQuestion->pfnAnswer ? pQuestion->pfnAnswer(q) : AnswerInt(q, ReadLayerField(q.pLayer, pQuestion->field));
}
