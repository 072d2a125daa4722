// The layer record: defaults, sharing and freeing, the node swap, the pixel-buffer allocator, group
// creation and the saved form.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "media/emote_component.h"
#include "tests/image/layer_fixture.h"

namespace {

// Whether this build keeps a freed large pixel buffer as the spare (not under AddressSanitizer).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSpareKept = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSpareKept = false;
#else
constexpr bool kSpareKept = true;
#endif
#else
constexpr bool kSpareKept = true;
#endif

int32_t I32At(const uint8_t* p, size_t off)
{
    return int32_t(uint32_t(p[off]) | uint32_t(p[off + 1]) << 8 | uint32_t(p[off + 2]) << 16 | uint32_t(p[off + 3]) << 24);
}
int64_t I64At(const uint8_t* p, size_t off)
{
    return int64_t(uint64_t(uint32_t(I32At(p, off))) | uint64_t(uint32_t(I32At(p, off + 4))) << 32);
}
int16_t I16At(const uint8_t* p, size_t off)
{
    return int16_t(uint16_t(p[off] | p[off + 1] << 8));
}

std::vector<uint8_t> Saved(const LAYER* pLayer)
{
    std::vector<uint8_t> out(KX_LAYER_RECORD_SIZE, 0xEE);
    EXPECT_EQ(SerializeLayerRecord(pLayer, out.data(), out.size()), 0);
    return out;
}

uint32_t PixelAt(const TREE_NODE* pNode, int x, int y)
{
    const LAYER* pLayer = GetNodeLayer(pNode);
    uint32_t v;
    memcpy(&v, pLayer->pOwnedPixels + 4 * (size_t(y) * size_t(pLayer->nWidth) + size_t(x)), 4);
    return v;
}

using LayerRecordTest = LayerTreeTest;

// The defaults, read through the saved form so that every offset is checked with them.
TEST_F(LayerRecordTest, NewRecordHasTheDefaultsAtTheirOffsets)
{
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, "W0/a", 0, 1);
    LAYER* pLayer = CreateNodeLayer(pNode);
    ASSERT_NE(pLayer, nullptr);
    EXPECT_EQ(pNode->pPayload, pLayer);
    ASSERT_NE(pLayer->pszMaskPath, nullptr);
    ASSERT_NE(pLayer->pszSecondPath, nullptr);
    EXPECT_STREQ(pLayer->pszMaskPath, "");
    EXPECT_STREQ(pLayer->pszSecondPath, "");
    EXPECT_EQ(pLayer->pOwnedPixels, nullptr);

    std::vector<uint8_t> rec = Saved(pLayer);
    struct {
        size_t off;
        int nBytes;
        int64_t want;
    } fields[] = {
        {88, 8, 1},        {128, 4, 128},     {132, 4, 0x808080}, {136, 4, 1},    {140, 4, 1},
        {160, 1, 1},       {162, 2, 256},     {164, 2, 256},      {166, 2, 0},    {168, 1, 0},
        {171, 1, 1},       {240, 4, 1},       {244, 4, 1},        {552, 8, 10000}, {560, 8, 10000},
        {620, 4, 128},     {624, 4, 0x808080}, {268, 1, 0},
    };
    for (const auto& f : fields) {
        int64_t got = f.nBytes == 1 ? rec[f.off] : f.nBytes == 2 ? I16At(rec.data(), f.off)
                    : f.nBytes == 4 ? I32At(rec.data(), f.off) : I64At(rec.data(), f.off);
        EXPECT_EQ(got, f.want) << "offset " << f.off;
    }
    // Everything else of a new record is 0.
    size_t nNonZero = 0;
    for (size_t i = 0; i < rec.size(); ++i) {
        bool bListed = false;
        for (const auto& f : fields)
            bListed |= i >= f.off && i < f.off + size_t(f.nBytes);
        if (!bListed && rec[i] != 0)
            ++nNonZero;
    }
    EXPECT_EQ(nNonZero, 0u);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(LayerRecordTest, NewLayerWithoutNodeFails)
{
    EXPECT_EQ(NewLayer(nullptr), 1);
    EXPECT_EQ(CreateNodeLayer(nullptr), nullptr);
}

// One record under two names: a change shows under both, it survives freeing one node with all its
// buffers, and dies with the second (AddressSanitizer sees any leak or use after free).
TEST_F(LayerRecordTest, SharedRecordLivesUntilItsLastNode)
{
    TREE_NODE* pA = Plain("W0/a", 4, 3, 0, 0, 1, 0xFF112233u);
    TREE_NODE* pB = CreateNode(g_pLayerRoot, "W0/b", 0, 2);
    ASSERT_NE(pA, nullptr);
    LAYER* pLayer = L(pA);
    pLayer->ppGifFrames = static_cast<GIF_FRAME**>(calloc(KX_GIF_MAX_FRAMES, sizeof(GIF_FRAME*)));
    pLayer->ppGifFrames[0] = static_cast<GIF_FRAME*>(malloc(64));
    pLayer->ppGifFrames[8191] = static_cast<GIF_FRAME*>(malloc(64));
    pLayer->pColorCache = static_cast<uint8_t*>(malloc(64));

    EXPECT_EQ(ShareLayer(pB, pLayer), pLayer);
    EXPECT_EQ(pLayer->llRefCount, 2);
    // Attaching the record a node already holds changes nothing.
    EXPECT_EQ(AttachLayer(pB, pLayer), 0);
    EXPECT_EQ(pLayer->llRefCount, 2);
    EXPECT_EQ(ShareLayer(nullptr, pLayer), nullptr);

    pLayer->llX = 7;
    EXPECT_EQ(L(FindNodeByPath(g_pLayerRoot, "W0/b", KX_FIND_LEAF))->llX, 7);

    FreeNode(pA);
    EXPECT_EQ(FindNodeByPath(g_pLayerRoot, "W0/a", KX_FIND_LEAF), nullptr);
    EXPECT_EQ(pLayer->llRefCount, 1);
    EXPECT_EQ(PixelAt(pB, 3, 2), 0xFF112233u);
    EXPECT_EQ(pLayer->pszMaskPath[0], 0);

    FreeNode(pB);
    EXPECT_EQ(pW0->nChildCount, 0);
}

// A node given another record drops its reference to the first, which then dies; a count already at
// 0 is left alone and the node still goes.
TEST_F(LayerRecordTest, ReplacingAndZeroCountRecords)
{
    TREE_NODE* pA = Plain("W0/a", 2, 2, 0, 0, 1);
    TREE_NODE* pB = Plain("W0/b", 2, 2, 0, 0, 2);
    LAYER* pLb = L(pB);
    AttachLayer(pA, pLb);  // a's own record dies here
    EXPECT_EQ(L(pA), pLb);
    EXPECT_EQ(pLb->llRefCount, 2);
    EXPECT_EQ(NewLayer(pB), 0);  // b gets a fresh record; the shared one keeps a's reference
    EXPECT_EQ(pLb->llRefCount, 1);
    EXPECT_NE(L(pB), pLb);

    // A record whose count is already 0 survives its node.
    pLb->llRefCount = 0;
    FreeNode(pA);
    EXPECT_EQ(pW0->nChildCount, 1);
    free(pLb->pOwnedPixels);
    free(pLb->pszMaskPath);
    free(pLb->pszSecondPath);
    free(pLb);
}

// Nested groups with a record shared across them: freeing the outer group frees everything once.
TEST_F(LayerRecordTest, FreeingNestedGroupsWithSharedRecords)
{
    TREE_NODE* pG1 = Group("W0/g1", 100, 100, 0, 0, 1);
    TREE_NODE* pG2 = Group("W0/g1/g2", 50, 50, 0, 0, 1);
    TREE_NODE* pLeaf = Plain("W0/g1/g2/x", 10, 10, 0, 0, 1);
    TREE_NODE* pOther = CreateNode(g_pLayerRoot, "W0/y", 0, 5);
    ASSERT_TRUE(pG1 && pG2 && pLeaf && pOther);
    ShareLayer(pOther, L(pLeaf));
    LAYER* pShared = L(pLeaf);

    FreeNodeSubtree(pG1);
    EXPECT_EQ(FindNodeByPath(g_pLayerRoot, "W0/g1", KX_FIND_GROUP), nullptr);
    EXPECT_EQ(pShared->llRefCount, 1);
    EXPECT_EQ(L(pOther), pShared);

    // FreeNode on a group that still has children takes them with it.
    TREE_NODE* pG3 = Group("W0/g3", 10, 10, 0, 0, 9);
    Plain("W0/g3/z", 1, 1, 0, 0, 1);
    Group("W0/g3/h", 4, 4, 0, 0, 2);
    Plain("W0/g3/h/w", 1, 1, 0, 0, 1);
    FreeNode(pG3);
    EXPECT_EQ(pW0->nChildCount, 1);
    EXPECT_TRUE(errors.reports.empty());
}

// Freeing a window's layer set clears the window's link; freeing the capture layer clears it too.
TEST_F(LayerRecordTest, FreeingClearsWindowLinksAndCaptureLayer)
{
    static TREE_NODE* s_apSlot[KX_LAYER_WINDOWS];
    TREE_NODE* pG = Group("W0/g", 8, 8, 0, 0, 1);
    TREE_NODE* pH = Group("W0/h", 8, 8, 0, 0, 2);
    s_apSlot[0] = pW0;
    s_apSlot[1] = pG;
    s_apSlot[2] = pH;
    s_apSlot[3] = pG;
    g_LayerHooks.pfnWindowLayerSetSlot = [](int i) { return i >= 0 && i < KX_LAYER_WINDOWS ? &s_apSlot[i] : nullptr; };
    L(pG)->bWindowRoot = 1;
    g_pCaptureLayer = pH;

    FreeNode(pG);
    EXPECT_EQ(s_apSlot[0], pW0);
    EXPECT_EQ(s_apSlot[1], nullptr);
    EXPECT_EQ(s_apSlot[2], pH);
    EXPECT_EQ(s_apSlot[3], nullptr);
    EXPECT_EQ(g_pCaptureLayer, pH);

    FreeNode(pH);
    EXPECT_EQ(g_pCaptureLayer, nullptr);
}

// The services of other subsystems run once, when the record dies; the E-mote release only while
// the component is available, and then a full redraw follows.
TEST_F(LayerRecordTest, RecordDeathCallsTheOwnersOfAttachedResources)
{
    static std::vector<std::string> s_calls;
    s_calls.clear();
    g_LayerHooks.pfnReleaseLayerTextures = [](LAYER*) { s_calls.push_back("textures"); };
    g_LayerHooks.pfnFreeFrameSheet = [](LAYER* p) {
        s_calls.push_back("sheet");
        p->pFrameSheet = nullptr;
    };
    g_LayerHooks.pfnReleaseEmotePlayer = [](LAYER* p) {
        s_calls.push_back("emote");
        p->hEmotePlayer = 0;
    };
    static int s_nSheet;
    TREE_NODE* pA = Plain("W0/a", 1, 1, 0, 0, 1);
    TREE_NODE* pB = CreateNode(g_pLayerRoot, "W0/b", 0, 1);
    ShareLayer(pB, L(pA));
    L(pA)->pFrameSheet = reinterpret_cast<FRAME_SHEET*>(&s_nSheet);
    FreeNode(pA);
    EXPECT_TRUE(s_calls.empty());
    FreeNode(pB);
    EXPECT_EQ(s_calls, (std::vector<std::string>{"textures", "sheet"}));
    EXPECT_EQ(g_bFullRedraw, 0);

    s_calls.clear();
    g_bEmoteAvailable = 1;
    FreeNode(Plain("W0/c", 1, 1, 0, 0, 1));
    g_bEmoteAvailable = 0;
    EXPECT_EQ(s_calls, (std::vector<std::string>{"textures", "emote"}));
    EXPECT_EQ(g_bFullRedraw, 1);
}

// ---------------------------------------------------------------------------------------------
// Swapping

// Every child of a parent is found through the parent's index (leaves) or by the group search.
void ExpectAllFindable(TREE_NODE* pParent, const std::string& strPrefix)
{
    for (TREE_NODE* p = pParent->pFirstChild; p; p = p->pNext) {
        std::string strPath = strPrefix + p->pszName;
        EXPECT_EQ(FindNodeByPath(g_pLayerRoot, strPath.c_str(), p->bGroup ? KX_FIND_GROUP : KX_FIND_LEAF), p) << strPath;
        EXPECT_EQ(FindNodeByPath(g_pLayerRoot, strPath.c_str(), KX_FIND_ANY), p) << strPath;
        EXPECT_EQ((p->dwKey & KX_KEY_GROUP) != 0, p->bGroup != 0) << strPath;
    }
    EXPECT_EQ(pParent->nIndexed, pParent->nChildCount);
}

TEST_F(LayerRecordTest, SwapKeepsEveryNodeFindableUnderItsNewName)
{
    struct CASE {
        const char* pszA;
        const char* pszB;
        bool bGroupA, bGroupB;
        int nMode;
    } cases[] = {
        {"W0/p/a", "W0/p/b", false, false, 0},
        {"W0/p/a", "W0/p/b", false, false, 1},
        {"W0/p/a", "W0/p/b", false, false, 2},
        {"W0/p/a", "W0/q/b", false, false, 1},
        {"W0/p/a", "W0/p/b", true, false, 2},
        {"W0/p/a", "W0/q/b", false, true, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::string(c.pszA) + " " + c.pszB + " mode " + std::to_string(c.nMode));
        TREE_NODE* pP = Group("W0/p", 200, 200, 0, 0, 1);
        TREE_NODE* pQ = Group("W0/q", 200, 200, 0, 0, 2);
        // Neighbours, so the index holds more than the two.
        for (const char* psz : {"W0/p/n1", "W0/p/n2", "W0/q/n3"})
            Plain(psz, 1, 1, 0, 0, 3);
        TREE_NODE* pA = c.bGroupA ? Group(c.pszA, 10, 10, 5, 6, 1) : Plain(c.pszA, 10, 10, 5, 6, 1, 0xFFAAAAAAu);
        TREE_NODE* pB = c.bGroupB ? Group(c.pszB, 20, 20, 50, 60, 2) : Plain(c.pszB, 20, 20, 50, 60, 2, 0xFFBBBBBBu);
        ASSERT_TRUE(pA && pB);
        LAYER* pLa = L(pA);
        LAYER* pLb = L(pB);
        pLa->nOpacity = 100;
        pLa->bBlendMode = 3;
        pLb->bVisible = 0;

        EXPECT_EQ(SwapLayerNodes(pA, pB, c.nMode), 0);
        EXPECT_STREQ(pA->pszName, "b");
        EXPECT_STREQ(pB->pszName, "a");
        EXPECT_EQ(pA->llOrder, 2);
        EXPECT_EQ(pB->llOrder, 1);
        EXPECT_EQ(pA->bGroup, c.bGroupA);
        ExpectAllFindable(pP, "W0/p/");
        ExpectAllFindable(pQ, "W0/q/");
        // Each node keeps its own record.
        EXPECT_EQ(L(pA), pLa);
        EXPECT_EQ(L(pB), pLb);

        bool bPos = c.nMode != 0;
        EXPECT_EQ(pLa->llX, bPos ? 50 : 5);
        EXPECT_EQ(pLa->llY, bPos ? 60 : 6);
        EXPECT_EQ(pLa->llX100, pLa->llX * 100);
        EXPECT_EQ(pLb->llX, bPos ? 5 : 50);
        EXPECT_EQ(pLa->nOpacity, c.nMode == 2 ? 256 : 100);
        EXPECT_EQ(pLb->bBlendMode, c.nMode == 2 ? 3 : 0);
        EXPECT_EQ(pLa->bVisible, c.nMode == 2 ? 0 : 1);

        FreeNodeSubtree(pP);
        FreeNodeSubtree(pQ);
    }
    EXPECT_TRUE(errors.reports.empty());
}

// Mode 1: each name stays where it was and shows the other image; the areas both images now cover
// are dirty in the parent.
TEST_F(LayerRecordTest, SwapModeOneShowsTheOtherImageUnderEachName)
{
    TREE_NODE* pP = Group("W0/p", 300, 300, 0, 0, 1);
    TREE_NODE* pA = Plain("W0/p/a", 10, 10, 0, 0, 1, 0xFFAAAAAAu);
    TREE_NODE* pB = Plain("W0/p/b", 100, 100, 150, 150, 2, 0xFFBBBBBBu);
    ResetDirtyRects(g_pLayerRoot->pFirstChild);
    SwapLayerNodes(pA, pB, 1);

    TREE_NODE* pNamedA = FindNodeByPath(g_pLayerRoot, "W0/p/a", KX_FIND_LEAF);
    TREE_NODE* pNamedB = FindNodeByPath(g_pLayerRoot, "W0/p/b", KX_FIND_LEAF);
    EXPECT_EQ(pNamedA, pB);
    EXPECT_EQ(pNamedB, pA);
    EXPECT_EQ(L(pNamedA)->llX, 0);
    EXPECT_EQ(PixelAt(pNamedA, 0, 0), 0xFFBBBBBBu);
    EXPECT_EQ(L(pNamedB)->llX, 150);
    EXPECT_EQ(PixelAt(pNamedB, 0, 0), 0xFFAAAAAAu);
    // The larger image now starts at 0,0: its whole new area is dirty.
    EXPECT_EQ(L(pP)->rcOwn, (DIRTY_BOX{0, 0, 249, 249}));
}

TEST_F(LayerRecordTest, SwapWithItselfOrNullChangesNothing)
{
    TREE_NODE* pA = Plain("W0/a", 1, 1, 0, 0, 1);
    EXPECT_EQ(SwapLayerNodes(pA, pA, 2), 0);
    EXPECT_EQ(SwapLayerNodes(pA, nullptr, 1), 0);
    EXPECT_EQ(SwapLayerNodes(nullptr, nullptr, 0), 0);
    EXPECT_STREQ(pA->pszName, "a");
    EXPECT_EQ(FindNodeByPath(g_pLayerRoot, "W0/a", KX_FIND_LEAF), pA);
}

// ---------------------------------------------------------------------------------------------
// Pixel buffers

TEST_F(LayerRecordTest, AllocPixelBufferLimitsAndErrors)
{
    struct CASE {
        int32_t w, h;
        const char* pszName;
        bool bOk;
        const char* pszBox;  // UTF-8, or NULL for no box
        int nError;
    } cases[] = {
        {8192, 1, nullptr, true, nullptr, 0},
        {0, 0, nullptr, true, nullptr, 0},
        {3, 0, "x.png", true, nullptr, 0},
        {8193, 10, nullptr, false, "ＣＧサイズが大きすぎます。X=8193, Y=10", 100010},
        {-1, 5, "x.png", false, "ＣＧサイズが大きすぎます。X=-1, Y=5", 100010},
        {5, -2, nullptr, false, "ＣＧサイズが大きすぎます。X=5, Y=-2", 100010},
        {8192, INT32_MAX, "big.bmp", false, nullptr, 104030},
        {8192, INT32_MAX, nullptr, false, nullptr, 100010},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        ERROR_RECORDER rec;
        MSGBOX_RECORDER box;
        uint8_t* pOld = AllocPixelBuffer(nullptr, 2, 2, nullptr);
        ASSERT_NE(pOld, nullptr);
        pOld[0] = 0x5A;
        uint8_t* p = AllocPixelBuffer(pOld, c.w, c.h, c.pszName);
        if (c.bOk) {
            ASSERT_NE(p, nullptr);  // pOld now freed
            EXPECT_TRUE(rec.reports.empty());
            EXPECT_TRUE(box.boxes.empty());
            free(p);
            continue;
        }
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(pOld[0], 0x5A);  // the old buffer is still the caller's
        free(pOld);
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(rec, c.nError));
        if (c.nError == 104030) {
            EXPECT_NE(rec.reports[0].strText.find("big.bmp"), std::string::npos);
        }
        // The size box comes first, before the error report's own dialog.
        const std::string strSizeBox = Cp932("ＣＧサイズが大きすぎます。");
        size_t nSizeBoxes = 0;
        for (const MSGBOX_RECORD& m : box.boxes)
            nSizeBoxes += m.strText.compare(0, strSizeBox.size(), strSizeBox) == 0;
        EXPECT_EQ(nSizeBoxes, c.pszBox ? 1u : 0u);
        if (c.pszBox) {
            ASSERT_FALSE(box.boxes.empty());
            EXPECT_EQ(box.boxes[0].strCaption, "");
            EXPECT_EQ(box.boxes[0].strText, Cp932(c.pszBox));
        }
    }
}

// The buffer is 64-byte aligned and wholly 0, the spare row and the four spare bytes included.
TEST_F(LayerRecordTest, AllocPixelBufferIsAlignedAndCleared)
{
    for (int32_t w : {1, 3, 17, 640}) {
        int32_t h = 5;
        EXPECT_EQ(PixelBufferBytes(w, h), size_t(w) * 4 * size_t(h) + size_t(w) * 4 + 4);
        // Dirty the heap first so that a missing clear shows.
        void* pNoise = malloc(PixelBufferBytes(w, h) + 64);
        memset(pNoise, 0xCD, PixelBufferBytes(w, h) + 64);
        free(pNoise);
        uint8_t* p = AllocPixelBuffer(nullptr, w, h, nullptr);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
        size_t nNonZero = 0;
        for (size_t i = 0; i < PixelBufferBytes(w, h); ++i)
            nNonZero += p[i] != 0;
        EXPECT_EQ(nNonZero, 0u) << "width " << w;
        free(p);
    }
    // A large buffer freed by the layer code is kept for the next request of about its size, which
    // gets it back cleared like a new one; a much smaller request gets a buffer of its own. Builds
    // with AddressSanitizer keep none.
    struct CASE {
        int32_t w, h;
        bool bReused;
    } cases[] = {{800, 400, true}, {800, 360, true}, {800, 200, false}};
    for (const CASE& c : cases) {
        uint8_t* pBig = AllocPixelBuffer(nullptr, 800, 400, nullptr);
        ASSERT_NE(pBig, nullptr);
        memset(pBig, 0xCD, PixelBufferBytes(800, 400));
        uint8_t* pOther = AllocPixelBuffer(pBig, 16, 16, nullptr);   // frees the big one
        uint8_t* p = AllocPixelBuffer(nullptr, c.w, c.h, nullptr);
        ASSERT_NE(p, nullptr);
        if (kSpareKept) {
            EXPECT_EQ(p == pBig, c.bReused) << c.h;
        }
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
        size_t nNonZero = 0;
        for (size_t i = 0; i < PixelBufferBytes(c.w, c.h); ++i)
            nNonZero += p[i] != 0;
        EXPECT_EQ(nNonZero, 0u) << c.h;
        free(p);
        free(pOther);
    }
}

// The buffer for a decoder that writes every pixel: aligned, and everything after the pixels (the
// spare row, the spare bytes, the padding) is 0 even in a reused spare that was full of old bytes.
TEST_F(LayerRecordTest, AllocPixelBufferToFillClearsAllButThePixels)
{
    for (int32_t w : {1, 17, 800}) {
        const int32_t h = w == 800 ? 400 : 5;
        uint8_t* pOld = AllocPixelBuffer(nullptr, w, h, nullptr);
        ASSERT_NE(pOld, nullptr);
        const size_t nAlloc = (PixelBufferBytes(w, h) + 63) / 64 * 64;
        memset(pOld, 0xCD, nAlloc);
        uint8_t* pOther = AllocPixelBuffer(pOld, 16, 16, nullptr);   // frees it (the spare, when large)
        uint8_t* p = AllocPixelBufferToFill(w, h, nullptr);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
        size_t nNonZero = 0;
        for (size_t i = size_t(w) * 4 * size_t(h); i < nAlloc; ++i)
            nNonZero += p[i] != 0;
        EXPECT_EQ(nNonZero, 0u) << "width " << w;
        free(p);
        free(pOther);
    }
}

// Under AddressSanitizer every freed pixel buffer goes back to the heap at once, so a use after
// free of a large picture is caught; elsewhere the last large one waits as the spare.
TEST_F(LayerRecordTest, TheSpareBufferIsKeptOnlyWithoutAddressSanitizer)
{
    for (int32_t h : {400, 1200}) {
        uint8_t* pBig = AllocPixelBuffer(nullptr, 800, h, nullptr);
        ASSERT_NE(pBig, nullptr);
        uint8_t* pOther = AllocPixelBuffer(pBig, 16, 16, nullptr);   // frees the big one
        if (kSpareKept)
            EXPECT_GE(GetSparePixelBufferBytes(), PixelBufferBytes(800, h)) << h;
        else
            EXPECT_EQ(GetSparePixelBufferBytes(), 0u) << h;
        free(pOther);
    }
}

TEST_F(LayerRecordTest, SetLayerPixelsInstallsTheBuffer)
{
    TREE_NODE* pA = Plain("W0/a", 4, 4, 0, 0, 1);
    LAYER* pLayer = L(pA);
    pLayer->pColorCache = AllocPixelBuffer(nullptr, 4, 4, nullptr);
    pLayer->pDisplayPixels = pLayer->pColorCache;
    pLayer->llCacheFrame = 99;
    uint8_t* pNew = AllocPixelBuffer(nullptr, 7, 3, nullptr);
    EXPECT_EQ(SetLayerPixels(pLayer, pNew, 7, 3), 0);
    EXPECT_EQ(pLayer->pOwnedPixels, pNew);
    EXPECT_EQ(pLayer->pDisplayPixels, pNew);
    EXPECT_EQ(pLayer->pColorCache, nullptr);
    EXPECT_EQ(pLayer->llCacheFrame, 0);
    EXPECT_EQ(pLayer->nWidth, 7);
    EXPECT_EQ(pLayer->nHeight, 3);
    EXPECT_EQ(pLayer->nBufWidth, 7);
    EXPECT_EQ(pLayer->nBufHeight, 3);
    // Installing the buffer the layer already owns keeps it.
    EXPECT_EQ(SetLayerPixels(pLayer, pNew, 7, 3), 0);
    EXPECT_EQ(pLayer->pOwnedPixels[0], 0);
}

// ---------------------------------------------------------------------------------------------
// Groups

TEST_F(LayerRecordTest, CreateGroupLayerMakesAWhollyDirtyClearedGroup)
{
    LAYER* pG = CreateGroupLayer("W0/g", 30, 20, 7);
    ASSERT_NE(pG, nullptr);
    TREE_NODE* pNode = FindNodeByPath(g_pLayerRoot, "W0/g", KX_FIND_GROUP);
    ASSERT_NE(pNode, nullptr);
    EXPECT_EQ(pNode->bGroup, 1);
    EXPECT_EQ(pNode->llOrder, 7);
    EXPECT_EQ(pG->nWidth, 30);
    EXPECT_EQ(pG->nBufHeight, 20);
    EXPECT_EQ(pG->pDisplayPixels, pG->pOwnedPixels);
    size_t nNonZero = 0;
    for (size_t i = 0; i < PixelBufferBytes(30, 20); ++i)
        nNonZero += pG->pOwnedPixels[i] != 0;
    EXPECT_EQ(nNonZero, 0u);
    EXPECT_EQ(pG->rcOwn, (DIRTY_BOX{0, 0, 29, 19}));
    EXPECT_EQ(pG->bOwnValid, 1);
    EXPECT_EQ(pG->bFullRedraw, 1);
    EXPECT_EQ(L(pW0)->rcOwn, (DIRTY_BOX{0, 0, 29, 19}));
    EXPECT_EQ(L(pW0)->bChanged, 1);
    EXPECT_TRUE(errors.reports.empty());
}

// A refused size leaves no group behind.
TEST_F(LayerRecordTest, CreateGroupLayerFailuresLeaveNoNode)
{
    struct {
        int32_t w, h;
        int nError;
    } cases[] = {{8193, 4, 100010}, {4, -1, 100010}};
    for (const auto& c : cases) {
        ERROR_RECORDER rec;
        MSGBOX_RECORDER box;
        EXPECT_EQ(CreateGroupLayer("W0/g", c.w, c.h, 1), nullptr);
        EXPECT_EQ(FindNodeByPath(g_pLayerRoot, "W0/g", KX_FIND_ANY), nullptr);
        EXPECT_EQ(pW0->nChildCount, 0);
        ASSERT_EQ(rec.reports.size(), 1u);
        EXPECT_EQ(rec.reports[0].nId, c.nError);
        ASSERT_FALSE(box.boxes.empty());
        EXPECT_EQ(box.boxes[0].strText.compare(0, 4, Cp932("ＣＧ")), 0);
    }
    // A missing parent group is reported by the tree.
    ERROR_RECORDER rec;
    EXPECT_EQ(CreateGroupLayer("W0/nothing/g", 4, 4, 1), nullptr);
    ASSERT_EQ(rec.reports.size(), 1u);
    EXPECT_EQ(rec.reports[0].nId, KX_ERR_NO_SUCH_GROUP);
}

// ---------------------------------------------------------------------------------------------
// The saved form

// Every field set to a distinct value survives the round trip; pointer fields are written as 0 and
// come back NULL; fields sit at their offsets, little-endian.
TEST(LayerSavedForm, RoundTripKeepsEveryField)
{
    std::mt19937 rng(7);
    LAYER src{};
    auto Fill = [&](auto& v) {
        using T = std::remove_reference_t<decltype(v)>;
        if constexpr (std::is_same_v<T, float>)
            v = float(rng() % 100000) / 8.0f;
        else
            v = T(rng());
    };
    Fill(src.bWindowRoot); Fill(src.nPrevMergeCount); Fill(src.nMergeCount);
    Fill(src.rcUnion.llLeft); Fill(src.rcUnion.llTop); Fill(src.rcUnion.llRight); Fill(src.rcUnion.llBottom);
    Fill(src.rcOwn.llLeft); Fill(src.rcOwn.llTop); Fill(src.rcOwn.llRight); Fill(src.rcOwn.llBottom);
    Fill(src.bOwnValid); Fill(src.bFullRedraw); Fill(src.llRefCount); Fill(src.llUser1);
    src.llUser2 = INT64_MIN + 5;
    Fill(src.llX); Fill(src.llY); Fill(src.nSaturation); Fill(src.nColorBalance);
    src.nWidth = 8192;
    src.nHeight = 77;
    Fill(src.bReserved160); Fill(src.nOpacity); Fill(src.nMaskThreshold);
    src.nMaskVagueness = -300;
    Fill(src.bHasAlpha); Fill(src.bBlendMode); Fill(src.bVisible); Fill(src.bPendingVisible);
    Fill(src.bPendingVisibleSet); Fill(src.nPendingOpacity); Fill(src.bPendingOpacitySet); Fill(src.llCacheFrame);
    src.nBufWidth = 3;
    src.nBufHeight = 4;
    Fill(src.bChanged); Fill(src.bScaleIntoBuffer); Fill(src.bKind); Fill(src.bMip);
    src.bTexColumns = 32;
    src.bTexRows = 7;
    Fill(src.nTileWidthLimit); Fill(src.nTileHeightLimit);
    for (int i = 0; i < KX_LAYER_TEXTURE_GRID; ++i) {
        Fill(src.anTexColumnWidth[i]);
        Fill(src.anTexRowHeight[i]);
    }
    Fill(src.llX100); Fill(src.llY100); Fill(src.llScaleX); Fill(src.llScaleY);
    Fill(src.llGpuAnchorX); Fill(src.llGpuAnchorY);
    for (int i = 0; i < 3; ++i) {
        Fill(src.allGpuValue[i]);
        Fill(src.afGpuAngle[i]);
    }
    Fill(src.nGpuSaturation); Fill(src.nGpuColorBalance); Fill(src.bGpuFlag); Fill(src.nFadeLevel);
    // Pointers that must not reach the bytes.
    static char s_sz[KX_LAYER_PATH_BUFFER] = "mask";
    src.pszMaskPath = s_sz;
    src.pszSecondPath = s_sz;
    src.pOwnedPixels = reinterpret_cast<uint8_t*>(s_sz);
    src.pDisplayPixels = src.pOwnedPixels;
    src.pColorCache = src.pOwnedPixels;
    src.apTextures[255] = s_sz;
    src.ppGifFrames = reinterpret_cast<GIF_FRAME**>(s_sz);
    src.pFrameSheet = reinterpret_cast<FRAME_SHEET*>(s_sz);
    src.hEmotePlayer = 0x12345678;

    std::vector<uint8_t> rec = Saved(&src);
    EXPECT_EQ(I32At(rec.data(), 136), 8192);
    EXPECT_EQ(I32At(rec.data(), 140), 77);
    EXPECT_EQ(I64At(rec.data(), 104), INT64_MIN + 5);
    EXPECT_EQ(I16At(rec.data(), 166), -300);
    EXPECT_EQ(rec[270], 32);
    for (size_t off : {84u, 192u, 208u, 224u, 260u, 264u, 632u, 640u + 4u * 255u, 1664u})
        EXPECT_EQ(I32At(rec.data(), off), 0) << "pointer at " << off;
    for (size_t off : {1u, 2u, 3u, 12u, 82u, 144u, 159u, 161u, 170u, 177u, 191u, 196u, 212u, 228u, 248u, 256u,
                       259u, 629u, 631u, 638u, 1668u, 1679u})
        EXPECT_EQ(rec[off], 0) << "reserved at " << off;

    LAYER back;
    ASSERT_EQ(ReadLayerRecord(rec.data(), rec.size(), &back), 0);
    EXPECT_EQ(back.pszMaskPath, nullptr);
    EXPECT_EQ(back.pOwnedPixels, nullptr);
    EXPECT_EQ(back.apTextures[255], nullptr);
    EXPECT_EQ(back.hEmotePlayer, 0u);
    EXPECT_EQ(back.nWidth, 8192);
    EXPECT_EQ(back.afGpuAngle[2], src.afGpuAngle[2]);
    EXPECT_EQ(back.anTexRowHeight[31], src.anTexRowHeight[31]);
    EXPECT_EQ(back.rcOwn, src.rcOwn);
    // Every stored field came back: writing it again gives the same bytes.
    EXPECT_EQ(Saved(&back), rec);
    EXPECT_EQ(SerializeLayerRecord(&src, rec.data(), KX_LAYER_RECORD_SIZE - 1), -1);
    EXPECT_EQ(SerializeLayerRecord(nullptr, rec.data(), rec.size()), -1);
}

// Damaged saved forms: the wrong block size and sizes no buffer can have are refused; bytes in
// pointer and reserved places (other writers leave addresses there) are not.
TEST(LayerSavedForm, DamagedFormsAreRefused)
{
    LAYER good{};
    good.nWidth = 16;
    good.nHeight = 9;
    good.nBufWidth = 16;
    good.nBufHeight = 9;
    std::vector<uint8_t> base = Saved(&good);

    struct CASE {
        const char* pszWhat;
        size_t nSize;
        size_t nPatchOff;
        std::vector<uint8_t> patch;
        int nWant;
    } cases[] = {
        {"empty", 0, 0, {}, KX_LAYER_READ_BAD_SIZE},
        {"one byte short", KX_LAYER_RECORD_SIZE - 1, 0, {}, KX_LAYER_READ_BAD_SIZE},
        {"one byte long", KX_LAYER_RECORD_SIZE + 1, 0, {}, KX_LAYER_READ_BAD_SIZE},
        {"only up to the size", 144, 0, {}, KX_LAYER_READ_BAD_SIZE},
        {"negative width", KX_LAYER_RECORD_SIZE, 136, {0xFF, 0xFF, 0xFF, 0xFF}, KX_LAYER_READ_BAD_VALUE},
        {"negative height", KX_LAYER_RECORD_SIZE, 140, {0x00, 0x00, 0x00, 0x80}, KX_LAYER_READ_BAD_VALUE},
        {"width 8193", KX_LAYER_RECORD_SIZE, 136, {0x01, 0x20, 0x00, 0x00}, KX_LAYER_READ_BAD_VALUE},
        {"buffer width 9000", KX_LAYER_RECORD_SIZE, 240, {0x28, 0x23, 0x00, 0x00}, KX_LAYER_READ_BAD_VALUE},
        {"negative buffer height", KX_LAYER_RECORD_SIZE, 244, {0xFE, 0xFF, 0xFF, 0xFF}, KX_LAYER_READ_BAD_VALUE},
        {"33 texture columns", KX_LAYER_RECORD_SIZE, 270, {33}, KX_LAYER_READ_BAD_VALUE},
        {"255 texture rows", KX_LAYER_RECORD_SIZE, 271, {255}, KX_LAYER_READ_BAD_VALUE},
        {"width 8192", KX_LAYER_RECORD_SIZE, 136, {0x00, 0x20, 0x00, 0x00}, 0},
        {"addresses in pointer fields", KX_LAYER_RECORD_SIZE, 192, {0x10, 0x20, 0x30, 0x40}, 0},
        {"bytes in reserved places", KX_LAYER_RECORD_SIZE, 1668, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        std::vector<uint8_t> data = base;
        data.resize(c.nSize, 0xAB);
        for (size_t i = 0; i < c.patch.size(); ++i)
            data[c.nPatchOff + i] = c.patch[i];
        LAYER out;
        memset(&out, 0x77, sizeof out);
        int nGot = ReadLayerRecord(data.empty() ? nullptr : data.data(), data.size(), &out);
        EXPECT_EQ(nGot, c.nWant);
        if (nGot == 0) {
            EXPECT_EQ(out.nHeight, 9);
            EXPECT_EQ(out.pDisplayPixels, nullptr);
        } else {
            EXPECT_EQ(out.nWidth, 0);  // cleared, never half-read
            EXPECT_EQ(out.pszMaskPath, nullptr);
        }
    }
    EXPECT_EQ(ReadLayerRecord(base.data(), base.size(), nullptr), KX_LAYER_READ_BAD_SIZE);
}

// ---------------------------------------------------------------------------------------------

TEST_F(LayerRecordTest, InstalledFrameHooksDriveTheLayerTree)
{
    InstallEngineParts();
    ASSERT_NE(g_EngineHooks.pfnApplyPendingLayerProps, nullptr);
    ASSERT_NE(g_EngineHooks.pfnResetDirtyRects, nullptr);
    ASSERT_NE(g_EngineHooks.pfnRequestFullRedraw, nullptr);

    TREE_NODE* pA = Plain("W0/a", 10, 10, 3, 4, 1);
    L(pA)->bPendingVisible = 0;
    L(pA)->bPendingVisibleSet = 1;
    g_EngineHooks.pfnApplyPendingLayerProps();
    EXPECT_EQ(L(pA)->bVisible, 0);
    EXPECT_EQ(L(pW0)->rcOwn, (DIRTY_BOX{3, 4, 12, 13}));
    EXPECT_EQ(g_bFullRedraw, 1);

    g_bFullRedraw = 0;
    g_EngineHooks.pfnRequestFullRedraw();
    EXPECT_EQ(g_bFullRedraw, 1);

    g_EngineHooks.pfnResetDirtyRects();
    EXPECT_EQ(L(pW0)->bOwnValid, 0);
    EXPECT_EQ(L(pW0)->nPrevMergeCount, 1);
}

}  // namespace
