// Frame sheets: loading, checking, showing frames, and the three script commands.
#include "image/frame_sheet.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/cp932.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_limits.h"
#include "core/object_tree.h"
#include "image/dirty_rects.h"
#include "image/image_load.h"
#include "image/layer.h"
#include "platform/plat_jpeg.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/variables.h"

namespace {

uint32_t ReadU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t ReadI32(const uint8_t* p) { return static_cast<int32_t>(ReadU32(p)); }

// Table entry i of a sheet's table.
uint32_t TableEntry(const uint8_t* pTable, int32_t i) { return ReadU32(pTable + 4 * size_t(i)); }

// 1 when the tables and every part the sheet names lie inside its file, else 0.
int SheetFitsFile(const uint8_t* pFile, size_t nSize)
{
    if (nSize < KX_SHEET_HEAD_BYTES) return 0;
    const int32_t n = ReadI32(pFile + 8);
    if (n < 0) return 0;
    const uint64_t llTables = KX_SHEET_HEAD_BYTES + 12ull * uint64_t(n);
    if (llTables > nSize) return 0;
    const bool bAlpha = ReadI32(pFile + 12) != 0;
    const uint8_t* pOffsets = pFile + KX_SHEET_HEAD_BYTES;
    for (int32_t i = 0; i < n; ++i) {
        uint64_t llEnd = uint64_t(TableEntry(pOffsets, i)) + TableEntry(pOffsets + 4 * size_t(n), i);
        if (bAlpha) llEnd += TableEntry(pOffsets + 8 * size_t(n), i);
        if (llEnd > nSize) return 0;
    }
    return 1;
}

// The picture size of a part when it is a JPEG the layers can take (grey or colour, 1..8192 on
// each side); 0 otherwise.
int PartInfo(const uint8_t* pData, size_t nLen, PLAT_JPEG_INFO* pInfo)
{
    if (PlatJpegReadInfo(pData, nLen, pInfo) != KX_JPEG_OK) return 0;
    if (pInfo->nComponents != 1 && pInfo->nComponents != 3) return 0;
    return pInfo->nWidth >= 1 && pInfo->nWidth <= KX_MAX_IMAGE_SIDE && pInfo->nHeight >= 1 &&
           pInfo->nHeight <= KX_MAX_IMAGE_SIDE;
}

// The written pixels are the owned ones; a colour cache made from the old ones is rebuilt.
void ExpireColorCache(LAYER* pLayer)
{
    MarkPixelsChanged(pLayer);
    if (!pLayer->pColorCache || pLayer->pColorCache == pLayer->pOwnedPixels)
        pLayer->pDisplayPixels = pLayer->pOwnedPixels;
}

// The layer node that a frame-sheet command names by ids 0 (path) and 1 (number appended as
// "." plus the decimal number). NULL after a reported error: the path refused, or no layer there.
TREE_NODE* FindCommandLayer(int nCmd)
{
    const int s0 = ArgSlot(0);
    std::string strName = s0 && g_apszArgText[s0] ? g_apszArgText[s0] : "";
    if (const int s1 = ArgSlot(1)) strName += "." + std::to_string(g_anArgValue[s1]);
    char szPath[KX_MAX_OBJECT_PATH];
    const int r = NormalizeObjectPath(szPath, strName.c_str(), g_pszLayerPath, 0);
    if (r < 0) return nullptr;
    TREE_NODE* pNode = FindNodeByPath(g_pLayerRoot, szPath, r == 1 ? KX_FIND_GROUP : KX_FIND_LEAF);
    if (!GetNodeLayer(pNode)) {   // a node without a record is no layer
        ReportScriptErrorF(KX_ERR_SHEET_NO_LAYER, 1, GetScriptCommandName(nCmd), szPath);
        return nullptr;
    }
    return pNode;
}

}  // namespace

void UnscrambleSheetPart(const uint8_t* pSrc, uint8_t* pDst, size_t n)
{
    for (size_t j = 0; j < n; ++j)
        pDst[j] = static_cast<uint8_t>(pSrc[j] ^ ((j & KX_SHEET_XOR_MASK) | KX_SHEET_XOR_BIT));
}

uint8_t* AllocSheetPixels(int32_t nWidth, int32_t nHeight)
{
    return AllocPixelBuffer(nullptr, nWidth, nHeight, nullptr);
}

void FreeFrameSheet(LAYER* pLayer)
{
    if (!pLayer || !pLayer->pFrameSheet) return;
    std::free(pLayer->pFrameSheet->pFile);
    std::free(pLayer->pFrameSheet);
    pLayer->pFrameSheet = nullptr;
}

int LoadFrameSheet(TREE_NODE* pNode, const char* pszName)
{
    LAYER* pLayer = GetNodeLayer(pNode);
    if (!pLayer || !pszName) return -1;
    FILE_LOCATION loc{};
    const int nFound = LocateFile(&loc, pszName, 0);
    uint8_t* pFile = nullptr;
    size_t nSize = 0;
    if (ReadFoundFile(&loc, nFound, pszName, &pFile, &nSize) != 0) {
        ReportScriptErrorF(KX_ERR_SHEET_FILE, 1, pszName);
        return -1;
    }
    FreeFrameSheet(pLayer);
    if (!SheetFitsFile(pFile, nSize)) {
        std::free(pFile);
        ReportScriptErrorF(KX_ERR_SHEET_FILE, 1, pszName);
        return -1;
    }
    FRAME_SHEET* pSheet = static_cast<FRAME_SHEET*>(std::calloc(1, sizeof(FRAME_SHEET)));
    if (!pSheet) {
        std::free(pFile);
        ReportError(KX_ERR_LAYER_NO_MEMORY, 1);
        return -1;
    }
    pSheet->nCount = ReadI32(pFile + 8);
    pSheet->nAlphaFlag = ReadI32(pFile + 12);
    for (int i = 0; i < 3; ++i) pSheet->anHeader[i] = ReadI32(pFile + 16 + 4 * i);
    pSheet->pFile = pFile;
    pSheet->nFileSize = nSize;
    pSheet->pOffsets = pFile + KX_SHEET_HEAD_BYTES;
    pSheet->pColorLens = pSheet->pOffsets + 4 * size_t(pSheet->nCount);
    pSheet->pAlphaLens = pSheet->pColorLens + 4 * size_t(pSheet->nCount);
    pLayer->pFrameSheet = pSheet;
    return 0;
}

void DecodeJPEGToAlpha(const uint8_t* pAlpha, size_t nAlphaLen, TREE_NODE* pNode)
{
    LAYER* pLayer = GetNodeLayer(pNode);
    PLAT_JPEG_INFO info;
    if (!pLayer || !pLayer->pOwnedPixels || !PartInfo(pAlpha, nAlphaLen, &info)) return;
    // Only a grey picture of the layer's own size gives alpha: any other would not match its rows.
    if (info.nComponents != 1 || info.nWidth != pLayer->nWidth || info.nHeight != pLayer->nHeight) return;
    const size_t nPixels = size_t(info.nWidth) * size_t(info.nHeight);
    std::vector<uint8_t> grey(nPixels * 4);
    if (PlatJpegDecode(pAlpha, nAlphaLen, grey.data(), info.nWidth, info.nHeight, info.nWidth * 4, nullptr) != KX_JPEG_OK)
        return;
    uint8_t* pOut = pLayer->pOwnedPixels;
    // Only the alpha is written: a pixel made fully transparent keeps its colour, which other blend
    // modes and saved layers still show.
    for (size_t i = 0; i < nPixels; ++i) pOut[4 * i + 3] = grey[4 * i];
    ExpireColorCache(pLayer);
}

int DecodeJPEGToLayer(const uint8_t* pColor, const uint8_t* pAlpha, size_t nColorLen, size_t nAlphaLen,
                      TREE_NODE* pNode)
{
    LAYER* pLayer = GetNodeLayer(pNode);
    PLAT_JPEG_INFO info;
    if (!pLayer || !PartInfo(pColor, nColorLen, &info)) return -1;
    const int32_t w = info.nWidth, h = info.nHeight;
    if (pLayer->pOwnedPixels && w == pLayer->nWidth && h == pLayer->nHeight && w == pLayer->nBufWidth &&
        h == pLayer->nBufHeight) {
        if (PlatJpegDecode(pColor, nColorLen, pLayer->pOwnedPixels, w, h, w * 4, nullptr) != KX_JPEG_OK) return -1;
        ExpireColorCache(pLayer);
    } else {
        uint8_t* pPixels = AllocSheetPixels(w, h);
        if (!pPixels) return -1;
        if (PlatJpegDecode(pColor, nColorLen, pPixels, w, h, w * 4, nullptr) != KX_JPEG_OK) {
            std::free(pPixels);
            return -1;
        }
        MarkLayerDirty(pNode);
        SetLayerPixels(pLayer, pPixels, w, h);
        MarkLayerDirty(pNode);
    }
    if (pAlpha) DecodeJPEGToAlpha(pAlpha, nAlphaLen, pNode);
    return 0;
}

void ShowSheetFrame(TREE_NODE* pNode, int64_t n)
{
    LAYER* pLayer = GetNodeLayer(pNode);
    if (!pLayer || !pLayer->pFrameSheet || !pLayer->pFrameSheet->pFile) return;
    const FRAME_SHEET* pSheet = pLayer->pFrameSheet;
    if (pSheet->nCount <= 0) return;
    const int32_t i = n < 0 ? 0 : n >= pSheet->nCount ? pSheet->nCount - 1 : static_cast<int32_t>(n);
    pLayer->bHasAlpha = pSheet->nAlphaFlag == 1 ? 1 : 0;
    // The load checked that both parts lie inside the file.
    const size_t nOffset = TableEntry(pSheet->pOffsets, i);
    const size_t nColorLen = TableEntry(pSheet->pColorLens, i);
    const size_t nAlphaLen = pSheet->nAlphaFlag ? TableEntry(pSheet->pAlphaLens, i) : 0;
    std::vector<uint8_t> color(nColorLen), alpha(nAlphaLen);
    UnscrambleSheetPart(pSheet->pFile + nOffset, color.data(), nColorLen);
    UnscrambleSheetPart(pSheet->pFile + nOffset + nColorLen, alpha.data(), nAlphaLen);
    DecodeJPEGToLayer(color.data(), pSheet->nAlphaFlag ? alpha.data() : nullptr, nColorLen, nAlphaLen, pNode);
    MarkLayerDirty(pNode);
}

int CmdFrameSheetLoad(void)
{
    if (FetchCommandArgs(CMDID_FRAME_SHEET_LOAD) != 0) return -1;
    TREE_NODE* pNode = FindCommandLayer(CMDID_FRAME_SHEET_LOAD);
    if (!pNode) return -1;
    if (const int s = ArgSlot(2)) {
        char szName[KX_MAX_PATH];
        CopyTextBounded(szName, sizeof szName, g_apszArgText[s] ? g_apszArgText[s] : "");
        LowerCaseASCII(szName);
        SlashesToBackslashes(szName);
        if (LoadFrameSheet(pNode, szName) != 0) return -1;
    }
    if (const int s = ArgSlot(3)) ShowSheetFrame(pNode, g_anArgValue[s]);
    return 0;
}

int CmdFrameSheetFree(void)
{
    if (FetchCommandArgs(CMDID_FRAME_SHEET_FREE) != 0) return -1;
    TREE_NODE* pNode = FindCommandLayer(CMDID_FRAME_SHEET_FREE);
    if (!pNode) return -1;
    FreeFrameSheet(GetNodeLayer(pNode));
    return 0;
}

int CmdFrameSheetInfo(void)
{
    if (FetchCommandArgs(CMDID_FRAME_SHEET_INFO) != 0) return -1;
    TREE_NODE* pNode = FindCommandLayer(CMDID_FRAME_SHEET_INFO);
    if (!pNode) return -1;
    const ARG_OUT out = GetArgOut(2);
    const VAR_DESC* pVar = out.pVar;
    if (!pVar) return 0;
    int nSelector = 0;
    for (int id : {3, 4, 5, 6})
        if (HasArg(id)) {
            nSelector = id;
            break;
        }
    if (!nSelector) return 0;
    const int nVar = out.nVar;
    const int64_t llElem = out.llElem;
    const FRAME_SHEET* pSheet = GetNodeLayer(pNode)->pFrameSheet;
    if (!pSheet) {
        // A text variable cannot take the number: SetVarInt reports it.
        const int r = pVar->bType == KX_VAR_TYPE_FLOAT ? SetVarFloat(nVar, llElem, 0.0) : SetVarInt(nVar, llElem, 0);
        return r == 0 ? 0 : -1;
    }
    const int64_t llValue = nSelector == 3 ? pSheet->nCount : pSheet->anHeader[nSelector - 4];
    return SetVarInt(nVar, llElem, llValue) == 0 ? 0 : -1;
}
