// A picture layer "pic" (3 x 2, every pixel 0xFF112233) in a game folder with the image codecs
// loaded, for the tests that load image files into a layer.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/codecs.h"
#include "image/image_load.h"
#include "tests/image/layer_fixture.h"
#include "tests/support/game_folder.h"

// A pixel in the normal form of a loaded image: fully transparent pixels are one value.
inline uint32_t Normal(uint32_t p) { return (p >> 24) == 0 ? uint32_t(KX_TRANSPARENT_PIXEL) : p; }

class PictureLayerTest : public LayerTreeTest {
protected:
    TEMP_DIR dir;
    std::string strOldCwd;
    LAYER* pLayer = nullptr;

    void SetUp() override
    {
        LayerTreeTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
        ASSERT_EQ(LoadCodecLibraries(), 0);
        ASSERT_EQ(LoadWebPDLL(), 0);
        TREE_NODE* pNode = Plain("pic", 3, 2, 0, 0, 1, 0xFF112233u);
        ASSERT_NE(pNode, nullptr);
        pLayer = L(pNode);
    }
    void TearDown() override
    {
        UnloadCodecLibraries();
        LeaveGameFolder(strOldCwd);
        LayerTreeTest::TearDown();
    }

    uint32_t Px(int x, int y) const
    {
        uint32_t v;
        std::memcpy(&v, pLayer->pDisplayPixels + (size_t(y) * pLayer->nWidth + x) * 4, 4);
        return v;
    }
    // The layer is w x h in its own pixels and they equal the expected ones in the normal form.
    void ExpectPixels(const std::vector<uint32_t>& expected, int w, int h)
    {
        ASSERT_EQ(pLayer->nWidth, w);
        ASSERT_EQ(pLayer->nHeight, h);
        EXPECT_EQ(pLayer->nBufWidth, w);
        EXPECT_EQ(pLayer->pDisplayPixels, pLayer->pOwnedPixels);
        int nBad = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (Px(x, y) != Normal(expected[size_t(y) * w + x]) && nBad++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << Px(x, y) << " expected "
                                  << Normal(expected[size_t(y) * w + x]);
    }
};
