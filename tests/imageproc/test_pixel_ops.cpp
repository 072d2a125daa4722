// The pixel routines: exact results of the plain forms, and every vector form against them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/engine_hooks.h"
#include "imageproc/pixel_ops.h"

namespace {

// A 64-byte aligned buffer, as pixel buffers are.
struct ALIGNED_BUF {
    uint8_t* p;
    size_t n;
    explicit ALIGNED_BUF(size_t nBytes) : p(static_cast<uint8_t*>(std::aligned_alloc(64, (nBytes + 63) & ~size_t(63)))), n(nBytes) {}
    ~ALIGNED_BUF() { std::free(p); }
    ALIGNED_BUF(const ALIGNED_BUF&) = delete;
    ALIGNED_BUF& operator=(const ALIGNED_BUF&) = delete;
};

PIXEL_OPS PlainOps(int nLevel)
{
    PIXEL_OPS ops{};
    FillPixelOps(&ops, nLevel, PIXEL_SIMD_NONE);
    return ops;
}

uint32_t Px(uint8_t b, uint8_t g, uint8_t r, uint8_t a)
{
    return b | (g << 8) | (r << 16) | (uint32_t(a) << 24);
}

TEST(PixelOpsPinned, LerpAt128DependsOnClassAndLevel)
{
    // 16 bytes from an aligned address: 16 block bytes; from address + 1: 7 head bytes, 8 block
    // bytes, 1 rest byte.
    ALIGNED_BUF d(32), s(32);
    for (int nLevel : {1, 3}) {
        const PIXEL_OPS ops = PlainOps(nLevel);
        memset(d.p, 255, 32);
        memset(s.p, 255, 32);
        ops.PixelOpLerp(d.p, s.p, 128, 17);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(d.p[i], nLevel == 1 ? 254 : 255) << "level " << nLevel << " byte " << i;
        EXPECT_EQ(d.p[16], 255);   // the rest uses the general formula
        // 0 toward 1 at a = 128: the general formula and the level 1 block keep 0, the level 2/3
        // block rounds up to 1. From address + 1 level 1 has two blocks; level 2/3 has 7 head bytes,
        // one block and one rest byte.
        memset(d.p, 0, 32);
        memset(s.p, 1, 32);
        ops.PixelOpLerp(d.p + 1, s.p, 128, 16);
        for (int i = 1; i <= 16; ++i)
            EXPECT_EQ(d.p[i], nLevel == 3 && i >= 8 && i < 16 ? 1 : 0) << "level " << nLevel << " byte " << i;
        // a = 256 copies the source, a = 0 keeps the destination, whatever the class.
        for (int i = 0; i < 32; ++i) {
            d.p[i] = uint8_t(i * 7);
            s.p[i] = uint8_t(200 - i);
        }
        ops.PixelOpLerp(d.p + 3, s.p + 3, 256, 20);
        for (int i = 3; i < 23; ++i) EXPECT_EQ(d.p[i], uint8_t(200 - i));
        ops.PixelOpLerp(d.p + 3, s.p, 0, 20);
        for (int i = 3; i < 23; ++i) EXPECT_EQ(d.p[i], uint8_t(200 - i));
    }
}

TEST(PixelOpsPinned, AlphaOverTransparentSourcePixel)
{
    // Source 128 with alpha 0 over destination 200: a block pixel stays 200, a head pixel or a last
    // odd pixel moves down to 199.
    ALIGNED_BUF d(64), s(64);
    for (int nLevel : {1, 3}) {
        const PIXEL_OPS ops = PlainOps(nLevel);
        for (int i = 0; i < 16; ++i) {
            reinterpret_cast<uint32_t*>(s.p)[i] = Px(128, 128, 128, 0);
            reinterpret_cast<uint32_t*>(d.p)[i] = Px(200, 200, 200, 90);
        }
        ops.PixelOpAlphaOver(d.p + 4, s.p, 12);   // level 3: head, block; level 1: block, odd
        const uint32_t* px = reinterpret_cast<const uint32_t*>(d.p);
        if (nLevel == 1) {
            // two block pixels (alpha (90 x 256 + 0 x 1) >> 8 = 90), then the odd last pixel
            EXPECT_EQ(px[1], Px(200, 200, 200, 90));
            EXPECT_EQ(px[2], Px(200, 200, 200, 90));
            EXPECT_EQ(px[3], Px(199, 199, 199, 90));
        } else {
            // a head pixel before the aligned address, then one block
            EXPECT_EQ(px[1], Px(199, 199, 199, 90));
            EXPECT_EQ(px[2], Px(200, 200, 200, 90));
            EXPECT_EQ(px[3], Px(200, 200, 200, 90));
        }
    }
}

TEST(PixelOpsPinned, ByteModes)
{
    const PIXEL_OPS ops = PlainOps(3);
    uint8_t d[2] = {30, 10}, s[2] = {10, 30};
    ops.PixelOpSubtract(d, s, 2);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[1], 20);
    // Multiply: 200 x 200 gives 157 in a whole 4-byte group and 156 (the exact product) after it.
    uint8_t dm[5] = {200, 200, 200, 200, 200}, sm[5] = {200, 200, 200, 200, 200};
    ops.PixelOpMultiply(dm, sm, 5);
    EXPECT_EQ(dm[0], 157);
    EXPECT_EQ(dm[3], 157);
    EXPECT_EQ(dm[4], 156);
}

TEST(PixelOpsPinned, ComposeOntoTransparent)
{
    const PIXEL_OPS ops = PlainOps(3);
    uint32_t d[2] = {Px(10, 20, 30, 0), Px(10, 20, 30, 0)};
    const uint32_t s[2] = {Px(100, 150, 200, 77), Px(100, 150, 200, 0)};
    ops.PixelOpCompose(reinterpret_cast<uint8_t*>(d), reinterpret_cast<const uint8_t*>(s), 8);
    EXPECT_EQ(d[0], Px(100, 150, 200, 77));
    EXPECT_EQ(d[1], Px(10, 20, 30, 0));
}

TEST(PixelOpsLevel, Rule)
{
    const struct { uint8_t bSSE, bSSE2, bAllowSSE, bAllowSSE2; int nLevel; } cases[] = {
        {0, 0, 1, 1, 1}, {1, 1, 0, 0, 1}, {1, 0, 1, 1, 2}, {1, 1, 1, 0, 2},
        {1, 1, 0, 1, 3}, {1, 1, 1, 1, 3}, {0, 1, 1, 1, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChoosePixelOpsLevel(c.bSSE, c.bSSE2, c.bAllowSSE, c.bAllowSSE2), c.nLevel);
}

TEST(PixelOpsLevel, InstallSetsTheHook)
{
    g_EngineHooks.pfnInitPixelOps = nullptr;
    InstallPixelOps();
    EXPECT_EQ(g_EngineHooks.pfnInitPixelOps, &InitPixelOps);
    g_EngineHooks.pfnInitPixelOps = nullptr;
}

}  // namespace
