// Theora movies played into a layer: the input is a loose movie file; it is opened as the movie
// command opens it (the Ogg pages, the Theora and Vorbis headers), then frames up to the movie's
// length (at most 48) are decoded and copied into a layer of another size.
#include "core/object_tree.h"
#include "fuzz/support.h"
#include "image/layer.h"
#include "media/movies.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzWriteFile("m.ogv", pData, nSize);
    if (OpenOgvMovie("m.ogv") == 0) {
        TREE_NODE* pRoot = CreateRootNode();
        TREE_NODE* pNode = pRoot ? CreateNode(pRoot, "movie", 0, 1) : nullptr;
        LAYER* pLayer = pNode ? CreateNodeLayer(pNode) : nullptr;
        if (pLayer) SetLayerPixels(pLayer, AllocPixelBuffer(nullptr, 40, 30, nullptr), 40, 30);
        for (int32_t n = 0; n < g_nOgvTotalFrames && n < 48; ++n) {
            g_nOgvFrame = n;
            ShowOgvFrame(pNode);
        }
        StopOgvMovie();
        if (pRoot) {
            while (pRoot->pFirstChild) FreeNodeSubtree(pRoot->pFirstChild);
            FreeTreeNode(pRoot);
        }
    }
    StopOgvMovie();
    FuzzEndInput();
    return 0;
}
