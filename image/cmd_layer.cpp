// The layer command.
#include "image/cmd_layer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/engine_tables.h"
#include "core/errors.h"
#include "core/kx_limits.h"
#include "core/kx_math.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/settings.h"
#include "image/cmd_layer_fields.h"
#include "image/dirty_rects.h"
#include "image/image_load.h"
#include "image/layer.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/script_tables.h"


namespace {


// Values of the colour and level arguments never leave their range, whatever the operator: the
// compositor indexes its tables with them.
int64_t ApplyClamped(int nId, int64_t llCurrent, int64_t llMin, int64_t llMax)
{
    return std::clamp(ApplyArgOpClamped(ArgOp(nId), llCurrent, ArgInt(nId), llMin, llMax), llMin, llMax);
}

// The path of argument nId, with "." and the number of argument nNumberId when that is given, into
// a record's path buffer: cut at a whole character when longer than the buffer holds.
void StoreRecordPath(char* pszBuffer, int nId, int nNumberId)
{
    std::string s = ArgText(nId);
    if (nNumberId >= 0 && HasArg(nNumberId)) s += "." + std::to_string(ArgInt(nNumberId));
    CopyTextBounded(pszBuffer, KX_LAYER_PATH_BUFFER, s.c_str());
}

// A size argument outside what a pixel buffer can be asked for: below 0 (groups; a plain canvas
// leaves negative sizes to the buffer allocator's refusal), or beyond 32 bits. True after the
// report.
bool RefuseSizeArg(int nArgId, int64_t llValue, bool bNegative)
{
    const char* pszCmd = GetScriptCommandName(CMDID_LAYER);
    if (bNegative && llValue < 0) {
        ReportScriptErrorF(KX_ERR_ARG_MINIMUM, 1, pszCmd, LayerArgName(CMDID_LAYER, nArgId), llValue, 0);
        return true;
    }
    if (llValue < INT32_MIN || llValue > INT32_MAX) {
        ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, pszCmd, LayerArgName(CMDID_LAYER, nArgId), llValue, 0, KX_MAX_IMAGE_WIDTH);
        return true;
    }
    return false;
}

// A group's own changes travel up the tree with its children's; a plain layer reports its area.
void MarkNode(TREE_NODE* pNode)
{
    if (pNode->bGroup)
        PropagateLayerDirty(pNode);
    else
        MarkLayerDirty(pNode);
}

// Resizes a group's buffer to nWidth x nHeight, cleared and wholly dirty, and composes its children
// into it. The size is stored only together with a buffer made for it. 0, or -1 after a reported
// error.
int ResizeGroup(TREE_NODE* pNode, LAYER* pLayer, int64_t llWidth, int64_t llHeight, int nArgId)
{
    PropagateLayerDirty(pNode);
    if (RefuseSizeArg(nArgId, nArgId == LAYER_ARG_WIDTH ? llWidth : llHeight, true)) return -1;
    const int32_t w = static_cast<int32_t>(llWidth), h = static_cast<int32_t>(llHeight);
    uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
    if (!pPixels) return -1;
    SetLayerPixels(pLayer, pPixels, w, h);
    if (w > 0 && h > 0) {
        pLayer->rcOwn = DIRTY_BOX{0, 0, int64_t(w) - 1, int64_t(h) - 1};
        pLayer->bOwnValid = 1;
        pLayer->bFullRedraw = 1;
        PropagateLayerDirty(pNode);
        g_LayerHooks.pfnComposeGroupLayer(pNode);
    }
    return 0;
}

// A plain layer's new canvas of width x height: opaque black holding the top-left part of the
// current image. 0, or -1 after a reported error.
int ResizeCanvas(TREE_NODE* pNode, LAYER* pLayer, int64_t llWidth, int64_t llHeight)
{
    MarkLayerDirty(pNode);
    if (RefuseSizeArg(LAYER_ARG_WIDTH, llWidth, false) || RefuseSizeArg(LAYER_ARG_HEIGHT, llHeight, false)) return -1;
    const int32_t w = static_cast<int32_t>(llWidth), h = static_cast<int32_t>(llHeight);
    uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
    if (!pPixels) return -1;
    const uint32_t dwBlack = 0xFF000000u;
    for (int64_t i = 0; i < int64_t(w) * h; ++i) std::memcpy(pPixels + 4 * i, &dwBlack, 4);
    // The owned pixels are the image; the display buffer may be a filtered copy of them.
    if (pLayer->pOwnedPixels) {
        const int32_t cw = std::min(w, pLayer->nWidth), ch = std::min(h, pLayer->nHeight);
        for (int32_t y = 0; y < ch; ++y)
            std::memcpy(pPixels + size_t(y) * w * 4, pLayer->pOwnedPixels + size_t(y) * pLayer->nWidth * 4, size_t(cw) * 4);
    }
    SetLayerPixels(pLayer, pPixels, w, h);
    MarkLayerDirty(pNode);
    return 0;
}

// One run of the layer command: the node it works on and what it has done so far.
struct LAYER_CMD {
    const char* pszCmd;                // the command's name for messages
    char szPath[KX_MAX_OBJECT_PATH];   // the path, resolved
    int bGroup;                        // the path names a group
    TREE_NODE* pNode;
    LAYER* pLayer;
    bool bCreated;                     // this command made the node
    int64_t llOrder;                   // order key of a new node: argument 1, or 6 combined, or -1
    int64_t llWidth, llHeight;         // arguments 9 and 10, or -1
    bool bChanged;                     // something shown changed: a full redraw and a mark at the end
};

// Alpha from the blue bytes of another layer of the same size. 0 (also when the path names no
// layer), -1 after the size message.
int TakeAlphaFrom(LAYER_CMD* c)
{
    LAYER* pLayer = c->pLayer;
    const char* pszName = ArgText(LAYER_ARG_ALPHA_FROM);
    if (!pszName[0]) return 0;
    char szPath[KX_MAX_OBJECT_PATH];
    const int r = NormalizeObjectPath(szPath, pszName, g_pszLayerPath, 0);
    if (r < 0) return -1;
    const LAYER* pSrc = GetNodeLayer(FindLayerNode(szPath, r));
    if (!pSrc) return 0;
    if (pSrc->nWidth != pLayer->nWidth || pSrc->nHeight != pLayer->nHeight) {
        ShowMessageBox("", GetEngineText(TXT_MASK_SIZE_MISMATCH));
        StopEngineForError();
        return -1;
    }
    if (!pSrc->pDisplayPixels || !pLayer->pOwnedPixels) return 0;
    const size_t n = size_t(pLayer->nWidth) * size_t(pLayer->nHeight);
    for (size_t i = 0; i < n; ++i) pLayer->pOwnedPixels[i * 4 + 3] = pSrc->pDisplayPixels[i * 4];
    MarkPixelsChanged(pLayer);
    pLayer->bHasAlpha = 1;
    return 0;
}

// ---- The node ------------------------------------------------------------------------------------
// Every source of a new node's record is checked before the node is made, so that no node without
// a record is ever left in the tree. Each maker returns the node, or NULL when nothing is made;
// *pnResult (-1 on entry) becomes 0 when the command goes on.

// A new group needs its width, height and order key; without one of them nothing is made.
TREE_NODE* CreateGroupNode(const LAYER_CMD* c, int* pnResult)
{
    if (HasArg(LAYER_ARG_IMAGE) || HasArg(LAYER_ARG_SHARE)) {
        ReportScriptErrorF(KX_ERR_LAYER_GROUP_IMAGE, 1, c->pszCmd);
        return nullptr;
    }
    if (c->llWidth == -1 || c->llHeight == -1 || c->llOrder == -1) {
        *pnResult = 0;
        return nullptr;
    }
    if (RefuseSizeArg(LAYER_ARG_WIDTH, c->llWidth, true) || RefuseSizeArg(LAYER_ARG_HEIGHT, c->llHeight, true))
        return nullptr;
    if (!CreateGroupLayer(c->szPath, static_cast<int32_t>(c->llWidth), static_cast<int32_t>(c->llHeight), c->llOrder))
        return nullptr;
    *pnResult = 0;
    return FindLayerNode(c->szPath, 1);
}

// The layer whose record a new plain layer shares (argument 47), or NULL (after a reported error,
// or for an empty or refused path).
LAYER* FindSharedLayer(const LAYER_CMD* c)
{
    const char* pszOther = ArgText(LAYER_ARG_SHARE);
    if (!pszOther[0]) return nullptr;   // no record would result
    char szOther[KX_MAX_OBJECT_PATH];
    const int r = NormalizeObjectPath(szOther, pszOther, g_pszLayerPath, 0);
    if (r < 0) return nullptr;
    LAYER* pShared = GetNodeLayer(FindLayerNode(szOther, r));
    if (!pShared) ReportScriptErrorF(KX_ERR_LAYER_SHARE_MISSING, 1, c->pszCmd, szOther);
    return pShared;
}

// A new plain layer: from an image (a new record) or as a second name of another layer's record.
// Without either it is missing: an error while the command's switch is on, else nothing.
TREE_NODE* CreatePlainNode(const LAYER_CMD* c, int* pnResult)
{
    const bool bImage = HasArg(LAYER_ARG_IMAGE);
    if (!bImage && !HasArg(LAYER_ARG_SHARE)) {
        if (g_abSwitchTable[CMDID_LAYER]) {
            ReportScriptErrorF(KX_ERR_LAYER_MISSING, 1, c->pszCmd, c->szPath);
            return nullptr;
        }
        *pnResult = 0;
        return nullptr;
    }
    if (c->llOrder == -1) {
        ReportScriptErrorF(KX_ERR_LAYER_NO_ORDER, 1, c->pszCmd);
        return nullptr;
    }
    LAYER* pShared = nullptr;
    if (!bImage) {
        pShared = FindSharedLayer(c);
        if (!pShared) return nullptr;
    }
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, c->szPath, 0, c->llOrder);
    if (!pNode) return nullptr;
    LAYER* pLayer = bImage ? CreateNodeLayer(pNode) : ShareLayer(pNode, pShared);
    if (!pLayer) {
        FreeNode(pNode);
        return nullptr;
    }
    *pnResult = 0;
    return pNode;
}

// Argument 6: the order key combined with the node's (1 without a node), floored at 1; an existing
// node is re-inserted under it, which counts as a change.
void ApplyOrderArg(LAYER_CMD* c)
{
    if (!HasArg(LAYER_ARG_ORDER)) return;
    c->llOrder = ApplyArgOpMin(ArgOp(LAYER_ARG_ORDER), c->pNode ? c->pNode->llOrder : 1, ArgInt(LAYER_ARG_ORDER), 1);
    if (!c->pNode) return;
    SetNodeOrder(c->pNode, c->llOrder);
    c->bChanged = true;
}

// The path, the order, width and height candidates, argument 6, and the node made when there is
// none. 0 with the node and its record set to go on; 0 without a node, or -1 after a reported
// error, to end the command.
int ResolveLayerCmdNode(LAYER_CMD* c)
{
    c->pszCmd = GetScriptCommandName(CMDID_LAYER);
    c->bGroup = ResolveLayerArgPath(c->szPath);
    if (c->bGroup < 0) return -1;
    c->pNode = FindLayerNode(c->szPath, c->bGroup);
    c->llOrder = HasArg(LAYER_ARG_NUMBER) ? ArgInt(LAYER_ARG_NUMBER) : -1;
    c->llWidth = HasArg(LAYER_ARG_WIDTH) ? ArgInt(LAYER_ARG_WIDTH) : -1;
    c->llHeight = HasArg(LAYER_ARG_HEIGHT) ? ArgInt(LAYER_ARG_HEIGHT) : -1;
    ApplyOrderArg(c);

    // A node without a record counts as missing (it cannot be drawn or changed).
    if (c->pNode && !GetNodeLayer(c->pNode)) c->pNode = nullptr;
    c->bCreated = !c->pNode;
    if (!c->pNode) {
        int nResult = -1;
        c->pNode = c->bGroup ? CreateGroupNode(c, &nResult) : CreatePlainNode(c, &nResult);
        if (!c->pNode) return nResult;
    }
    c->pLayer = GetNodeLayer(c->pNode);
    return 0;
}

// ---- Arguments that are not plain fields -----------------------------------------------------------
// Each is a step of the table below: 0, or -1 to end the command (after a reported error).

// Argument 46: a new image for a plain layer, its old area marked first.
int LoadImageArg(LAYER_CMD* c)
{
    if (c->bGroup) {
        ReportScriptErrorF(KX_ERR_LAYER_GROUP_IMAGE, 1, c->pszCmd);
        return -1;
    }
    MarkLayerDirty(c->pNode);
    const char* pszSaved = g_pszImageLoadCommand;
    g_pszImageLoadCommand = c->pszCmd;
    const int r = LoadLayerImage(c->pLayer, ArgText(LAYER_ARG_IMAGE));
    g_pszImageLoadCommand = pszSaved;
    if (r != 0) {
        // The loader has shown why: the game ends as after a fatal error.
        StopEngineForError();
        return -1;
    }
    c->bChanged = true;
    return 0;
}

// Arguments 51 and 52: the mask layer's path. No change of what is shown.
int StoreMaskPathArg(LAYER_CMD* c)
{
    if (c->pLayer->pszMaskPath) StoreRecordPath(c->pLayer->pszMaskPath, LAYER_ARG_MASK_PATH, LAYER_ARG_MASK_NUMBER);
    return 0;
}

// Arguments 9 and 10 of an existing group, each separately: a new buffer of that size. A group
// made by this command already has the size asked for. No change of its own: the buffer is marked.
int ResizeGroupArgs(LAYER_CMD* c)
{
    if (c->bCreated) return 0;
    if (HasArg(LAYER_ARG_WIDTH) && ResizeGroup(c->pNode, c->pLayer, c->llWidth, c->pLayer->nHeight, LAYER_ARG_WIDTH) != 0)
        return -1;
    if (HasArg(LAYER_ARG_HEIGHT) && ResizeGroup(c->pNode, c->pLayer, c->pLayer->nWidth, c->llHeight, LAYER_ARG_HEIGHT) != 0)
        return -1;
    return 0;
}

// Arguments 9 and 10: a group's size, or the canvas of an image loaded by this command, which needs
// both. A plain layer's size without an image changes nothing but still counts as a change.
int ApplySizeArgs(LAYER_CMD* c)
{
    if (c->bGroup) return ResizeGroupArgs(c);
    const bool bWidth = HasArg(LAYER_ARG_WIDTH), bHeight = HasArg(LAYER_ARG_HEIGHT);
    if (!bWidth && !bHeight) return 0;
    if (HasArg(LAYER_ARG_IMAGE)) {
        if (!bWidth || !bHeight) {
            ReportScriptErrorF(KX_ERR_LAYER_SIZE_PAIR, 1, c->pszCmd);
            return -1;
        }
        if (ResizeCanvas(c->pNode, c->pLayer, c->llWidth, c->llHeight) != 0) return -1;
    }
    c->bChanged = true;
    return 0;
}

// Argument 25 = 1 under Direct3D: the layer is drawn from textures, uploaded now with the mip flag
// of argument 24 (its value - 1, else 0).
int UseTexturesArg(LAYER_CMD* c)
{
    if (ArgInt(LAYER_ARG_TEXTURE) != 1 || !g_bDirect3D) return 0;
    LAYER* pLayer = c->pLayer;
    if (pLayer->bKind == LAYERKIND_CPU) pLayer->bKind = LAYERKIND_TEXTURE;
    const int nMip = HasArg(LAYER_ARG_MIP) ? static_cast<int>(ArgInt(LAYER_ARG_MIP) - 1) : 0;
    pLayer->bMip = static_cast<uint8_t>(nMip);
    if (g_LayerHooks.pfnUploadLayerTextures(pLayer, nMip, KX_LAYER_TILE_WIDTH_LIMIT, KX_LAYER_TILE_HEIGHT_LIMIT) != 0)
        return -1;
    c->bChanged = true;
    return 0;
}

// Argument 26: 1 makes this layer the one that receives the GPU frame, 0 clears it, others do
// nothing. No change of what is shown.
int SetCaptureArg(LAYER_CMD* c)
{
    if (ArgInt(LAYER_ARG_CAPTURE) == 1)
        g_pCaptureLayer = c->pNode;
    else if (ArgInt(LAYER_ARG_CAPTURE) == 0)
        g_pCaptureLayer = nullptr;
    return 0;
}

// Argument 43: the second layer's path; always counts as a change.
int StoreSecondPathArg(LAYER_CMD* c)
{
    if (c->pLayer->pszSecondPath) StoreRecordPath(c->pLayer->pszSecondPath, LAYER_ARG_SECOND_PATH, -1);
    c->bChanged = true;
    return 0;
}

// Argument 27 under Direct3D: the GPU frame is rendered now.
int RenderGpuFrameArg(LAYER_CMD* c)
{
    if (!g_bDirect3D) return 0;
    g_LayerHooks.pfnRenderGpuFrame();
    c->bChanged = true;
    return 0;
}

// ---- The table of arguments ----------------------------------------------------------------------

// How an argument combines with its field's current value.
enum LAYER_ARG_APPLY : uint8_t {
    APPLY_VALUE,     // the value itself; the operator is not applied
    APPLY_PLAIN,     // ApplyArgOp
    APPLY_CLAMPED,   // ApplyClamped: llMin..llMax whatever the operator
};

// What a field's change marks. The first two store the value whether or not it changed; the
// others store only a changed value.
enum LAYER_ARG_MARK : uint8_t {
    MARK_NOTHING,     // kept for scripts: no redraw
    MARK_REDRAW,      // a full redraw and a mark at the end of the command
    MARK_OLD_STATE,   // the layer marked before the value is stored, then as MARK_REDRAW
    MARK_NEW_STATE,   // the layer marked after the value is stored, then as MARK_REDRAW
    MARK_OLD_PLACE,   // the old place marked unless the GPU draws or presents, then as MARK_REDRAW
};

// The second field that a position keeps in step.
enum LAYER_ARG_TWIN : uint8_t {
    TWIN_NONE,
    TWIN_TIMES_100,   // the twin is the value times 100 (wrapping)
    TWIN_BY_100,      // the twin is the value divided by 100, toward zero
};

// One argument of the layer command: a plain field of the record, or a step of its own.
struct LAYER_ARG_ROW {
    int nId;                        // the argument; kOwnArgs: the step looks at its arguments itself
    LAYER_FIELD field;              // the field set; LAYER_FIELD_NONE for a step
    LAYER_ARG_APPLY apply;
    LAYER_ARG_MARK mark;
    int64_t llMin, llMax;           // the range of APPLY_CLAMPED
    LAYER_FIELD twin;               // the field kept in step, by twinRule
    LAYER_ARG_TWIN twinRule;
    int (*pfnStep)(LAYER_CMD* c);   // set for a step
};

constexpr int kOwnArgs = -1;
constexpr int64_t kLevelMax = 256;          // opacity, saturation, mask threshold, fade
constexpr int64_t kColourMax = 0x1000000;   // colour balances

constexpr LAYER_ARG_ROW ValueRow(int nId, LAYER_FIELD field, LAYER_ARG_MARK mark)
{
    return {nId, field, APPLY_VALUE, mark, 0, 0, {}, TWIN_NONE, nullptr};
}
constexpr LAYER_ARG_ROW PlainRow(int nId, LAYER_FIELD field, LAYER_ARG_MARK mark)
{
    return {nId, field, APPLY_PLAIN, mark, 0, 0, {}, TWIN_NONE, nullptr};
}
constexpr LAYER_ARG_ROW ClampedRow(int nId, LAYER_FIELD field, int64_t llMin, int64_t llMax, LAYER_ARG_MARK mark)
{
    return {nId, field, APPLY_CLAMPED, mark, llMin, llMax, {}, TWIN_NONE, nullptr};
}
constexpr LAYER_ARG_ROW PositionRow(int nId, LAYER_FIELD field, LAYER_FIELD twin, LAYER_ARG_TWIN twinRule)
{
    return {nId, field, APPLY_PLAIN, MARK_OLD_PLACE, 0, 0, twin, twinRule, nullptr};
}
constexpr LAYER_ARG_ROW StepRow(int nId, int (*pfnStep)(LAYER_CMD*))
{
    return {nId, {}, APPLY_VALUE, MARK_NOTHING, 0, 0, {}, TWIN_NONE, pfnStep};
}

// The arguments in the order in which the command applies them; later ones see the effects of
// earlier ones (a canvas holds the image just loaded, a position's twin the position just set).
// Ids 11 to 23, 49 and 55 are not read.
const LAYER_ARG_ROW kLayerArgRows[] = {
    StepRow(LAYER_ARG_IMAGE, LoadImageArg),
    StepRow(LAYER_ARG_ALPHA_FROM, TakeAlphaFrom),
    StepRow(LAYER_ARG_MASK_PATH, StoreMaskPathArg),   // with 52
    ValueRow(LAYER_ARG_VISIBLE, LAYER_FIELD_OF(bVisible), MARK_OLD_STATE),
    ClampedRow(LAYER_ARG_OPACITY, LAYER_FIELD_OF(nOpacity), 0, kLevelMax, MARK_NEW_STATE),
    PositionRow(LAYER_ARG_X, LAYER_FIELD_OF(llX), LAYER_FIELD_OF(llX100), TWIN_TIMES_100),
    PositionRow(LAYER_ARG_X100, LAYER_FIELD_OF(llX100), LAYER_FIELD_OF(llX), TWIN_BY_100),
    PositionRow(LAYER_ARG_Y, LAYER_FIELD_OF(llY), LAYER_FIELD_OF(llY100), TWIN_TIMES_100),
    PositionRow(LAYER_ARG_Y100, LAYER_FIELD_OF(llY100), LAYER_FIELD_OF(llY), TWIN_BY_100),
    ClampedRow(LAYER_ARG_COLOR_BALANCE, LAYER_FIELD_OF(nColorBalance), 0, kColourMax, MARK_REDRAW),
    ClampedRow(LAYER_ARG_SATURATION, LAYER_FIELD_OF(nSaturation), 0, kLevelMax, MARK_REDRAW),
    StepRow(kOwnArgs, ApplySizeArgs),   // 9 and 10
    ClampedRow(LAYER_ARG_MASK_THRESHOLD, LAYER_FIELD_OF(nMaskThreshold), 0, kLevelMax, MARK_REDRAW),
    ValueRow(LAYER_ARG_MASK_VAGUENESS, LAYER_FIELD_OF(nMaskVagueness), MARK_REDRAW),
    ValueRow(LAYER_ARG_BLEND, LAYER_FIELD_OF(bBlendMode), MARK_REDRAW),
    StepRow(LAYER_ARG_TEXTURE, UseTexturesArg),   // with 24
    StepRow(LAYER_ARG_CAPTURE, SetCaptureArg),
    PlainRow(LAYER_ARG_SCALE_X, LAYER_FIELD_OF(llScaleX), MARK_REDRAW),
    PlainRow(LAYER_ARG_SCALE_Y, LAYER_FIELD_OF(llScaleY), MARK_REDRAW),
    // Angles are floats: combined as their value truncated to an integer.
    PlainRow(LAYER_ARG_GPU_ANGLE + 0, LAYER_FIELD_OF(afGpuAngle[0]), MARK_REDRAW),
    PlainRow(LAYER_ARG_GPU_ANGLE + 1, LAYER_FIELD_OF(afGpuAngle[1]), MARK_REDRAW),
    PlainRow(LAYER_ARG_GPU_ANGLE + 2, LAYER_FIELD_OF(afGpuAngle[2]), MARK_REDRAW),
    PlainRow(LAYER_ARG_GPU_ANCHOR_X, LAYER_FIELD_OF(llGpuAnchorX), MARK_REDRAW),
    PlainRow(LAYER_ARG_GPU_ANCHOR_Y, LAYER_FIELD_OF(llGpuAnchorY), MARK_REDRAW),
    PlainRow(LAYER_ARG_GPU_VALUE + 0, LAYER_FIELD_OF(allGpuValue[0]), MARK_REDRAW),
    PlainRow(LAYER_ARG_GPU_VALUE + 1, LAYER_FIELD_OF(allGpuValue[1]), MARK_REDRAW),
    PlainRow(LAYER_ARG_GPU_VALUE + 2, LAYER_FIELD_OF(allGpuValue[2]), MARK_REDRAW),
    ClampedRow(LAYER_ARG_GPU_SATURATION, LAYER_FIELD_OF(nGpuSaturation), 0, kLevelMax, MARK_REDRAW),
    ClampedRow(LAYER_ARG_GPU_COLOR_BALANCE, LAYER_FIELD_OF(nGpuColorBalance), 0, kColourMax, MARK_REDRAW),
    ValueRow(LAYER_ARG_GPU_FLAG, LAYER_FIELD_OF(bGpuFlag), MARK_REDRAW),
    StepRow(LAYER_ARG_SECOND_PATH, StoreSecondPathArg),
    ClampedRow(LAYER_ARG_FADE, LAYER_FIELD_OF(nFadeLevel), 0, kLevelMax, MARK_REDRAW),
    ClampedRow(LAYER_ARG_SCALE_INTO_BUFFER, LAYER_FIELD_OF(bScaleIntoBuffer), 0, 1, MARK_REDRAW),
    StepRow(LAYER_ARG_GPU_RENDER, RenderGpuFrameArg),
    PlainRow(LAYER_ARG_USER1, LAYER_FIELD_OF(llUser1), MARK_NOTHING),
    PlainRow(LAYER_ARG_USER2, LAYER_FIELD_OF(llUser2), MARK_NOTHING),
};

// The row's argument combined with the field's current value.
int64_t CombineFieldArg(const LAYER* pLayer, const LAYER_ARG_ROW& row)
{
    switch (row.apply) {
    case APPLY_PLAIN: return ApplyArgOp(ArgOp(row.nId), ReadLayerField(pLayer, row.field), ArgInt(row.nId));
    case APPLY_CLAMPED: return ApplyClamped(row.nId, ReadLayerField(pLayer, row.field), row.llMin, row.llMax);
    default: return ArgInt(row.nId);
    }
}

void StoreFieldArg(LAYER* pLayer, const LAYER_ARG_ROW& row, int64_t llValue)
{
    StoreLayerField(pLayer, row.field, llValue);
    if (row.twinRule == TWIN_TIMES_100)
        StoreLayerField(pLayer, row.twin, MulInt64(llValue, 100));
    else if (row.twinRule == TWIN_BY_100)
        StoreLayerField(pLayer, row.twin, llValue / 100);
}

// A plain field's argument: combined, stored and marked by its row.
void ApplyFieldArg(LAYER_CMD* c, const LAYER_ARG_ROW& row)
{
    const int64_t v = CombineFieldArg(c->pLayer, row);
    const bool bDiffers = LayerFieldDiffers(c->pLayer, row.field, v);
    if (row.mark == MARK_NOTHING || row.mark == MARK_REDRAW) {
        StoreFieldArg(c->pLayer, row, v);
        if (bDiffers && row.mark == MARK_REDRAW) c->bChanged = true;
        return;
    }
    if (!bDiffers) return;
    if (row.mark == MARK_OLD_STATE || (row.mark == MARK_OLD_PLACE && !g_bGpuDirect && !g_bGpuPresent))
        MarkNode(c->pNode);
    StoreFieldArg(c->pLayer, row, v);
    if (row.mark == MARK_NEW_STATE) MarkNode(c->pNode);
    c->bChanged = true;
}

// Every row whose argument is given, in the table's order. 0, or -1 when a step ends the command.
int ApplyLayerArgs(LAYER_CMD* c)
{
    for (const LAYER_ARG_ROW& row : kLayerArgRows) {
        if (row.nId != kOwnArgs && !HasArg(row.nId)) continue;
        if (!row.pfnStep)
            ApplyFieldArg(c, row);
        else if (row.pfnStep(c) != 0)
            return -1;
    }
    return 0;
}

}  // namespace



const char* LayerArgName(int nCmd, int nArgId)
{
    if (!g_appszArgName || !g_pbArgCount || nCmd < 0 || nCmd >= g_nCommands || !g_appszArgName[nCmd]) return "";
    if (nArgId < 0 || nArgId >= g_pbArgCount[nCmd] || !g_appszArgName[nCmd][nArgId]) return "";
    return g_appszArgName[nCmd][nArgId];
}

int ResolveLayerArgPath(char* pszOut)
{
    std::string s = ArgText(LAYER_ARG_PATH);
    if (HasArg(LAYER_ARG_NUMBER)) s += "." + std::to_string(ArgInt(LAYER_ARG_NUMBER));
    const int r = NormalizeObjectPath(pszOut, s.c_str(), g_pszLayerPath, 0);
    if (r < 0) return -1;
    return HasArg(LAYER_ARG_NUMBER) ? 0 : r;
}

TREE_NODE* FindLayerNode(const char* pszPath, int bGroup)
{
    if (!g_pLayerRoot) return nullptr;
    return FindNodeByPath(g_pLayerRoot, pszPath, bGroup ? KX_FIND_GROUP : KX_FIND_LEAF);
}


int CmdLayer(void)
{
    if (FetchCommandArgs(CMDID_LAYER) != 0) return -1;
    LAYER_CMD c{};
    const int r = ResolveLayerCmdNode(&c);
    if (r != 0 || !c.pNode) return r;
    if (ApplyLayerArgs(&c) != 0) return -1;
    if (c.bChanged) {
        g_bFullRedraw = 1;
        MarkNode(c.pNode);
    }
    return 0;
}
