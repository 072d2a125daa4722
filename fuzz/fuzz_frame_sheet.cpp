// Frame sheets: the input is the sheet file, loaded into a fresh layer and checked whole; then
// frames are shown into the layer (colour and alpha JPEG parts unscrambled and decoded).
#include <cstring>

#include "core/object_tree.h"
#include "fuzz/support.h"
#include "image/frame_sheet.h"
#include "image/layer.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    CreateObjectTrees();
    std::strcpy(g_pszLayerPath, "W0");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzSetMemoryFiles({FUZZ_FILE{"s.kfs", pData, nSize}});
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, "W0/a", 0, 1);
    LAYER* pLayer = pNode ? CreateNodeLayer(pNode) : nullptr;
    uint8_t* pPixels = pLayer ? AllocPixelBuffer(nullptr, 2, 2, nullptr) : nullptr;
    if (pPixels) {
        SetLayerPixels(pLayer, pPixels, 2, 2);
        if (LoadFrameSheet(pNode, "s.kfs") == 0) {
            const int32_t nCount = pLayer->pFrameSheet ? pLayer->pFrameSheet->nCount : 0;
            ShowSheetFrame(pNode, -1);
            for (int32_t i = 0; i < nCount && i < 8; ++i) ShowSheetFrame(pNode, i);
            ShowSheetFrame(pNode, int64_t(nCount) + 5);
        }
    }
    if (pNode) FreeNodeSubtree(pNode);
    FuzzClearMemoryFiles();
    FuzzEndInput();
    return 0;
}
