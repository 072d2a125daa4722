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
#include "image/dirty_rects.h"
#include "image/image_load.h"
#include "image/layer.h"
#include "imageproc/compositor.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/script_tables.h"

int (*g_pfnUploadLayerTextures)(LAYER* pLayer, int nMip, int nTileWidthLimit, int nTileHeightLimit) = nullptr;

namespace {

int64_t ArgInt(int nId) { return g_anArgValue[ArgSlot(nId)]; }
int ArgOp(int nId) { return g_anArgOp[ArgSlot(nId)]; }
const char* ArgText(int nId)
{
    const int s = ArgSlot(nId);
    return s && g_apszArgText[s] ? g_apszArgText[s] : "";
}

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
    const char* pszCmd = LayerCmdName(CMDID_LAYER);
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
        ComposeGroupLayer(pNode);
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

// Alpha from the blue bytes of another layer of the same size. 0 (also when the path names no
// layer), -1 after the size message.
int TakeAlphaFrom(LAYER* pLayer)
{
    const char* pszName = ArgText(LAYER_ARG_ALPHA_FROM);
    if (!pszName[0]) return 0;
    char szPath[KX_MAX_OBJECT_PATH];
    const int r = NormalizeObjectPath(szPath, pszName, g_pszLayerPath, 0);
    if (r < 0) return -1;
    const LAYER* pSrc = GetNodeLayer(FindLayerNode(szPath, r));
    if (!pSrc) return 0;
    if (pSrc->nWidth != pLayer->nWidth || pSrc->nHeight != pLayer->nHeight) {
        ShowMessageBox("", GetEngineText(TXT_MASK_SIZE_MISMATCH));
        g_bEngineStop = 1;
        return -1;
    }
    if (!pSrc->pDisplayPixels || !pLayer->pOwnedPixels) return 0;
    const size_t n = size_t(pLayer->nWidth) * size_t(pLayer->nHeight);
    for (size_t i = 0; i < n; ++i) pLayer->pOwnedPixels[i * 4 + 3] = pSrc->pDisplayPixels[i * 4];
    pLayer->bHasAlpha = 1;
    return 0;
}

// Creates the node the path names. Every source of the record is checked before the node is made,
// so that no node without a record is ever left in the tree. The node, or NULL when nothing is
// made (*pnResult: 0 go on, -1 after a reported error).
TREE_NODE* CreateLayerNode(const char* pszPath, int bGroup, int64_t llOrder, int64_t llWidth, int64_t llHeight,
                           int* pnResult)
{
    const char* pszCmd = LayerCmdName(CMDID_LAYER);
    *pnResult = -1;
    const bool bImage = HasArg(LAYER_ARG_IMAGE), bShare = HasArg(LAYER_ARG_SHARE);
    if (bGroup) {
        if (bImage || bShare) {
            ReportScriptErrorF(KX_ERR_LAYER_GROUP_IMAGE, 1, pszCmd);
            return nullptr;
        }
        if (llWidth == -1 || llHeight == -1 || llOrder == -1) {
            *pnResult = 0;
            return nullptr;
        }
        if (RefuseSizeArg(LAYER_ARG_WIDTH, llWidth, true) || RefuseSizeArg(LAYER_ARG_HEIGHT, llHeight, true)) return nullptr;
        if (!CreateGroupLayer(pszPath, static_cast<int32_t>(llWidth), static_cast<int32_t>(llHeight), llOrder))
            return nullptr;
        *pnResult = 0;
        return FindLayerNode(pszPath, 1);
    }

    if (!bImage && !bShare) {
        if (g_abSwitchTable[CMDID_LAYER]) {
            ReportScriptErrorF(KX_ERR_LAYER_MISSING, 1, pszCmd, pszPath);
            return nullptr;
        }
        *pnResult = 0;
        return nullptr;
    }
    if (llOrder == -1) {
        ReportScriptErrorF(KX_ERR_LAYER_NO_ORDER, 1, pszCmd);
        return nullptr;
    }
    LAYER* pShared = nullptr;
    if (!bImage) {
        const char* pszOther = ArgText(LAYER_ARG_SHARE);
        if (!pszOther[0]) return nullptr;   // no record would result
        char szOther[KX_MAX_OBJECT_PATH];
        const int r = NormalizeObjectPath(szOther, pszOther, g_pszLayerPath, 0);
        if (r < 0) return nullptr;
        pShared = GetNodeLayer(FindLayerNode(szOther, r));
        if (!pShared) {
            ReportScriptErrorF(KX_ERR_LAYER_SHARE_MISSING, 1, pszCmd, szOther);
            return nullptr;
        }
    }
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, pszPath, 0, llOrder);
    if (!pNode) return nullptr;
    LAYER* pLayer = bImage ? CreateNodeLayer(pNode) : ShareLayer(pNode, pShared);
    if (!pLayer) {
        FreeNode(pNode);
        return nullptr;
    }
    *pnResult = 0;
    return pNode;
}

}  // namespace

const char* LayerCmdName(int nCmd)
{
    if (g_apszCmdName && nCmd >= 0 && nCmd < g_nCommands && g_apszCmdName[nCmd]) return g_apszCmdName[nCmd];
    const char* psz = GetCommandName(nCmd);
    return psz ? psz : "";
}

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
    const char* pszCmd = LayerCmdName(CMDID_LAYER);

    char szPath[KX_MAX_OBJECT_PATH];
    const int bGroup = ResolveLayerArgPath(szPath);
    if (bGroup < 0) return -1;
    TREE_NODE* pNode = FindLayerNode(szPath, bGroup);
    int64_t llOrder = HasArg(LAYER_ARG_NUMBER) ? ArgInt(LAYER_ARG_NUMBER) : -1;
    const int64_t llWidth = HasArg(LAYER_ARG_WIDTH) ? ArgInt(LAYER_ARG_WIDTH) : -1;
    const int64_t llHeight = HasArg(LAYER_ARG_HEIGHT) ? ArgInt(LAYER_ARG_HEIGHT) : -1;
    bool bChanged = false;

    if (HasArg(LAYER_ARG_ORDER)) {
        llOrder = ApplyArgOpMin(ArgOp(LAYER_ARG_ORDER), pNode ? pNode->llOrder : 1, ArgInt(LAYER_ARG_ORDER), 1);
        if (pNode) {
            SetNodeOrder(pNode, llOrder);
            bChanged = true;
        }
    }

    // A node without a record counts as missing (it cannot be drawn or changed).
    if (pNode && !GetNodeLayer(pNode)) pNode = nullptr;
    const bool bCreated = !pNode;
    if (!pNode) {
        int nResult = 0;
        pNode = CreateLayerNode(szPath, bGroup, llOrder, llWidth, llHeight, &nResult);
        if (!pNode) return nResult;
    }
    LAYER* pLayer = GetNodeLayer(pNode);

    if (HasArg(LAYER_ARG_IMAGE)) {
        if (bGroup) {
            ReportScriptErrorF(KX_ERR_LAYER_GROUP_IMAGE, 1, pszCmd);
            return -1;
        }
        MarkLayerDirty(pNode);
        const char* pszSaved = g_pszImageLoadCommand;
        g_pszImageLoadCommand = pszCmd;
        const int r = LoadLayerImage(pLayer, ArgText(LAYER_ARG_IMAGE));
        g_pszImageLoadCommand = pszSaved;
        if (r != 0) {
            g_bEngineStop = 1;
            return -1;
        }
        bChanged = true;
    }

    if (HasArg(LAYER_ARG_ALPHA_FROM) && TakeAlphaFrom(pLayer) != 0) return -1;
    if (HasArg(LAYER_ARG_MASK_PATH) && pLayer->pszMaskPath) StoreRecordPath(pLayer->pszMaskPath, LAYER_ARG_MASK_PATH, LAYER_ARG_MASK_NUMBER);

    if (HasArg(LAYER_ARG_VISIBLE)) {
        const uint8_t b = static_cast<uint8_t>(ArgInt(LAYER_ARG_VISIBLE));
        if (b != pLayer->bVisible) {
            MarkNode(pNode);
            pLayer->bVisible = b;
            bChanged = true;
        }
    }
    if (HasArg(LAYER_ARG_OPACITY)) {
        const int16_t n = static_cast<int16_t>(ApplyClamped(LAYER_ARG_OPACITY, pLayer->nOpacity, 0, 256));
        if (n != pLayer->nOpacity) {
            pLayer->nOpacity = n;
            MarkNode(pNode);
            bChanged = true;
        }
    }

    // Positions, each with its times-100 twin. Under the GPU the old area needs no redraw.
    const bool bMarkOld = !g_bGpuDirect && !g_bGpuPresent;
    struct POSITION_ARG {
        int nId;
        int64_t* pllPos;
        int64_t* pllPos100;
        bool bTimes100;
    };
    const POSITION_ARG aPos[] = {{LAYER_ARG_X, &pLayer->llX, &pLayer->llX100, false},
                                 {LAYER_ARG_X100, &pLayer->llX, &pLayer->llX100, true},
                                 {LAYER_ARG_Y, &pLayer->llY, &pLayer->llY100, false},
                                 {LAYER_ARG_Y100, &pLayer->llY, &pLayer->llY100, true}};
    for (const POSITION_ARG& p : aPos) {
        if (!HasArg(p.nId)) continue;
        int64_t* pllField = p.bTimes100 ? p.pllPos100 : p.pllPos;
        const int64_t v = ApplyArgOp(ArgOp(p.nId), *pllField, ArgInt(p.nId));
        if (v == *pllField) continue;
        if (bMarkOld) MarkNode(pNode);
        if (p.bTimes100) {
            *p.pllPos100 = v;
            *p.pllPos = v / 100;
        } else {
            *p.pllPos = v;
            *p.pllPos100 = MulInt64(v, 100);
        }
        bChanged = true;
    }

    if (HasArg(LAYER_ARG_COLOR_BALANCE)) {
        const int32_t n = static_cast<int32_t>(ApplyClamped(LAYER_ARG_COLOR_BALANCE, pLayer->nColorBalance, 0, 0x1000000));
        if (n != pLayer->nColorBalance) bChanged = true;
        pLayer->nColorBalance = n;
    }
    if (HasArg(LAYER_ARG_SATURATION)) {
        const int32_t n = static_cast<int32_t>(ApplyClamped(LAYER_ARG_SATURATION, pLayer->nSaturation, 0, 256));
        if (n != pLayer->nSaturation) bChanged = true;
        pLayer->nSaturation = n;
    }

    if (bGroup) {
        // A group made by this command already has the size asked for.
        if (!bCreated && HasArg(LAYER_ARG_WIDTH) && ResizeGroup(pNode, pLayer, llWidth, pLayer->nHeight, LAYER_ARG_WIDTH) != 0)
            return -1;
        if (!bCreated && HasArg(LAYER_ARG_HEIGHT) && ResizeGroup(pNode, pLayer, pLayer->nWidth, llHeight, LAYER_ARG_HEIGHT) != 0)
            return -1;
    } else if (HasArg(LAYER_ARG_WIDTH) || HasArg(LAYER_ARG_HEIGHT)) {
        if (HasArg(LAYER_ARG_IMAGE)) {
            if (!HasArg(LAYER_ARG_WIDTH) || !HasArg(LAYER_ARG_HEIGHT)) {
                ReportScriptErrorF(KX_ERR_LAYER_SIZE_PAIR, 1, pszCmd);
                return -1;
            }
            if (ResizeCanvas(pNode, pLayer, llWidth, llHeight) != 0) return -1;
        }
        bChanged = true;
    }

    if (HasArg(LAYER_ARG_MASK_THRESHOLD)) {
        const int16_t n = static_cast<int16_t>(ApplyClamped(LAYER_ARG_MASK_THRESHOLD, pLayer->nMaskThreshold, 0, 256));
        if (n != pLayer->nMaskThreshold) bChanged = true;
        pLayer->nMaskThreshold = n;
    }
    if (HasArg(LAYER_ARG_MASK_VAGUENESS)) {
        const int16_t n = static_cast<int16_t>(ArgInt(LAYER_ARG_MASK_VAGUENESS));
        if (n != pLayer->nMaskVagueness) bChanged = true;
        pLayer->nMaskVagueness = n;
    }
    if (HasArg(LAYER_ARG_BLEND)) {
        const uint8_t b = static_cast<uint8_t>(ArgInt(LAYER_ARG_BLEND));
        if (b != pLayer->bBlendMode) bChanged = true;
        pLayer->bBlendMode = b;
    }

    if (HasArg(LAYER_ARG_TEXTURE) && ArgInt(LAYER_ARG_TEXTURE) == 1 && g_bDirect3D) {
        if (pLayer->bKind == LAYERKIND_CPU) pLayer->bKind = LAYERKIND_TEXTURE;
        const int nMip = HasArg(LAYER_ARG_MIP) ? static_cast<int>(ArgInt(LAYER_ARG_MIP) - 1) : 0;
        pLayer->bMip = static_cast<uint8_t>(nMip);
        if (g_pfnUploadLayerTextures &&
            g_pfnUploadLayerTextures(pLayer, nMip, KX_LAYER_TILE_WIDTH_LIMIT, KX_LAYER_TILE_HEIGHT_LIMIT) != 0)
            return -1;
        bChanged = true;
    }
    if (HasArg(LAYER_ARG_CAPTURE)) {
        if (ArgInt(LAYER_ARG_CAPTURE) == 1) g_pCaptureLayer = pNode;
        else if (ArgInt(LAYER_ARG_CAPTURE) == 0) g_pCaptureLayer = nullptr;
    }

    // GPU attributes: stored for the GPU renderer.
    auto Plain = [&](int nId, int64_t* pll) {
        if (!HasArg(nId)) return;
        const int64_t v = ApplyArgOp(ArgOp(nId), *pll, ArgInt(nId));
        if (v != *pll) bChanged = true;
        *pll = v;
    };
    Plain(LAYER_ARG_SCALE_X, &pLayer->llScaleX);
    Plain(LAYER_ARG_SCALE_Y, &pLayer->llScaleY);
    for (int i = 0; i < 3; ++i) {
        const int nId = LAYER_ARG_GPU_ANGLE + i;
        if (!HasArg(nId)) continue;
        const int64_t llCur = DoubleToInt64(static_cast<double>(pLayer->afGpuAngle[i]));
        const float f = static_cast<float>(ApplyArgOp(ArgOp(nId), llCur == INT64_MIN ? 0 : llCur, ArgInt(nId)));
        if (f != pLayer->afGpuAngle[i]) bChanged = true;
        pLayer->afGpuAngle[i] = f;
    }
    Plain(LAYER_ARG_GPU_ANCHOR_X, &pLayer->llGpuAnchorX);
    Plain(LAYER_ARG_GPU_ANCHOR_Y, &pLayer->llGpuAnchorY);
    for (int i = 0; i < 3; ++i) Plain(LAYER_ARG_GPU_VALUE + i, &pLayer->allGpuValue[i]);
    if (HasArg(LAYER_ARG_GPU_SATURATION)) {
        const int32_t n = static_cast<int32_t>(ApplyClamped(LAYER_ARG_GPU_SATURATION, pLayer->nGpuSaturation, 0, 256));
        if (n != pLayer->nGpuSaturation) bChanged = true;
        pLayer->nGpuSaturation = n;
    }
    if (HasArg(LAYER_ARG_GPU_COLOR_BALANCE)) {
        const int32_t n =
            static_cast<int32_t>(ApplyClamped(LAYER_ARG_GPU_COLOR_BALANCE, pLayer->nGpuColorBalance, 0, 0x1000000));
        if (n != pLayer->nGpuColorBalance) bChanged = true;
        pLayer->nGpuColorBalance = n;
    }
    if (HasArg(LAYER_ARG_GPU_FLAG)) {
        const uint8_t b = static_cast<uint8_t>(ArgInt(LAYER_ARG_GPU_FLAG));
        if (b != pLayer->bGpuFlag) bChanged = true;
        pLayer->bGpuFlag = b;
    }
    if (HasArg(LAYER_ARG_SECOND_PATH)) {
        if (pLayer->pszSecondPath) StoreRecordPath(pLayer->pszSecondPath, LAYER_ARG_SECOND_PATH, -1);
        bChanged = true;
    }
    if (HasArg(LAYER_ARG_FADE)) {
        const int16_t n = static_cast<int16_t>(ApplyClamped(LAYER_ARG_FADE, pLayer->nFadeLevel, 0, 256));
        if (n != pLayer->nFadeLevel) bChanged = true;
        pLayer->nFadeLevel = n;
    }
    if (HasArg(LAYER_ARG_SCALE_INTO_BUFFER)) {
        const uint8_t b = static_cast<uint8_t>(ApplyClamped(LAYER_ARG_SCALE_INTO_BUFFER, pLayer->bScaleIntoBuffer, 0, 1));
        if (b != pLayer->bScaleIntoBuffer) bChanged = true;
        pLayer->bScaleIntoBuffer = b;
    }
    if (HasArg(LAYER_ARG_GPU_RENDER) && g_bDirect3D) {
        if (g_pfnRenderGpuFrame) g_pfnRenderGpuFrame();
        bChanged = true;
    }

    if (HasArg(LAYER_ARG_USER1)) pLayer->llUser1 = ApplyArgOp(ArgOp(LAYER_ARG_USER1), pLayer->llUser1, ArgInt(LAYER_ARG_USER1));
    if (HasArg(LAYER_ARG_USER2)) pLayer->llUser2 = ApplyArgOp(ArgOp(LAYER_ARG_USER2), pLayer->llUser2, ArgInt(LAYER_ARG_USER2));

    if (bChanged) {
        g_bFullRedraw = 1;
        MarkNode(pNode);
    }
    return 0;
}
