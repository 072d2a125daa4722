// The pixel routines: exact results of the plain forms, and every vector form against them.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "root/startup.h"
#include "core/engine_hooks.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "imageproc/pixel_ops.h"

namespace {

// A 64-byte aligned buffer, as pixel buffers are.
struct ALIGNED_BUF {
    uint8_t* p;
    size_t n;
    explicit ALIGNED_BUF(size_t nBytes)
        : p(static_cast<uint8_t*>(std::aligned_alloc(64, (nBytes + 63) & ~size_t(63)))), n(nBytes)
    {
    }
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

TEST(PixelOpsPinned, AlphaOverOpacityHeadBlockAndOddPixel)
{
    // Source alpha 255 at opacity 128 gives w0 = 127. Source 0 over destination 255: a block
    // pixel gives (255 x 129) >> 8 = 128 at both levels; the level 2/3 head and last odd pixel give
    // 255 + ((0 - 255) x 128 >> 8) = 127; the level 1 last odd pixel gives 128 + 0.
    ALIGNED_BUF d(32), s(32);
    for (int nLevel : {1, 3}) {
        const PIXEL_OPS ops = PlainOps(nLevel);
        for (int i = 0; i < 8; ++i) {
            reinterpret_cast<uint32_t*>(s.p)[i] = Px(0, 0, 0, 255);
            reinterpret_cast<uint32_t*>(d.p)[i] = Px(255, 255, 255, 0);
        }
        ops.PixelOpAlphaOverOpacity(d.p + 4, s.p, 128, 16);   // pixels 1..4
        const uint32_t* px = reinterpret_cast<const uint32_t*>(d.p);
        // block alpha: (0 x 129 + 255 x 128) >> 8 = 127
        if (nLevel == 1) {
            EXPECT_EQ(px[1], Px(128, 128, 128, 127));
            EXPECT_EQ(px[4], Px(128, 128, 128, 127));
        } else {
            EXPECT_EQ(px[1], Px(127, 127, 127, 0));
            EXPECT_EQ(px[2], Px(128, 128, 128, 127));
            EXPECT_EQ(px[3], Px(128, 128, 128, 127));
            EXPECT_EQ(px[4], Px(127, 127, 127, 0));
        }
    }
}

TEST(PixelOpsPinned, CrossFadeAt128)
{
    // No head at either level: 8-byte blocks from the start, then the rest.
    uint8_t p[9], q[9], out[9];
    memset(p, 255, 9);
    memset(q, 255, 9);
    for (int nLevel : {1, 3}) {
        PlainOps(nLevel).PixelOpCrossFade(out, p, q, 128, 9);
        EXPECT_EQ(out[0], nLevel == 1 ? 254 : 255);
        EXPECT_EQ(out[7], nLevel == 1 ? 254 : 255);
        EXPECT_EQ(out[8], 255);
    }
}

TEST(PixelOpsPinned, Mask)
{
    const PIXEL_OPS ops1 = PlainOps(1), ops3 = PlainOps(3);
    int32_t aiSaved[256];
    memcpy(aiSaved, g_aiMaskCurve, sizeof aiSaved);
    // Level 1 through the curve: weight 128 moves 100 toward 0 to 50, and 0 toward 101 to 51 (the
    // step leans toward the larger value); weights 1 and below change nothing.
    g_aiMaskCurve[10] = 128;
    g_aiMaskCurve[11] = 1;
    const uint32_t src[3] = {Px(0, 101, 0, 9), Px(0, 101, 0, 9), Px(0, 0, 0, 0)};
    const uint32_t mask[3] = {Px(10, 0, 0, 0), Px(11, 0, 0, 0), Px(10, 0, 0, 0)};
    for (const PIXEL_OPS* ops : {&ops1, &ops3}) {
        uint32_t dst[3] = {Px(100, 0, 7, 200), Px(100, 0, 7, 200), Px(3, 3, 3, 3)};
        // vagueness 256: level 2/3 behaves as level 1
        ops->PixelOpMask(reinterpret_cast<uint8_t*>(dst), reinterpret_cast<const uint8_t*>(src),
                         reinterpret_cast<const uint8_t*>(mask), 40, 256, 12);
        EXPECT_EQ(dst[0], Px(50, 51, 4, 200));
        EXPECT_EQ(dst[1], Px(100, 0, 7, 200));
        EXPECT_EQ(dst[2], Px(2, 2, 2, 3));
    }
    // Level 2/3 with vagueness 128, threshold 128: c = 64, K = -8064, w = clamp(64 m - 8064) + 1 per
    // byte, alpha included and the curve unread. m = 126 gives w = 1 (no change), m = 127 gives 65
    // (100 toward 200: 100 + 50 - 25 = 125), m = 200 gives 256 (the source).
    const uint32_t src2 = Px(200, 200, 200, 200);
    const uint32_t mask2 = Px(126, 127, 200, 127);
    uint32_t dst2 = Px(100, 100, 100, 100);
    ops3.PixelOpMask(reinterpret_cast<uint8_t*>(&dst2), reinterpret_cast<const uint8_t*>(&src2),
                     reinterpret_cast<const uint8_t*>(&mask2), 128, 128, 4);
    EXPECT_EQ(dst2, Px(100, 125, 200, 125));
    memcpy(g_aiMaskCurve, aiSaved, sizeof aiSaved);
}

TEST(PixelOpsPinned, AddFamily)
{
    const PIXEL_OPS ops1 = PlainOps(1), ops3 = PlainOps(3);
    // A fully opaque source: min(255, d + s) at level 1, one less at level 2/3 (weight 255).
    const uint32_t src = Px(200, 10, 0, 255);
    for (const PIXEL_OPS* ops : {&ops1, &ops3}) {
        uint32_t dst = Px(100, 20, 50, 33);
        ops->PixelOpAddAlpha(reinterpret_cast<uint8_t*>(&dst), reinterpret_cast<const uint8_t*>(&src), 0, 4);
        EXPECT_EQ(dst, ops == &ops1 ? Px(255, 30, 50, 33) : Px(254, 29, 50, 33));
    }
    // AddAlphaOpacity at a = 128: level 1 weight (255 x 128 + 128) >> 8 = 128, level 2/3 (255 x 128) >> 8 = 127.
    for (const PIXEL_OPS* ops : {&ops1, &ops3}) {
        uint32_t dst = Px(100, 20, 50, 33);
        ops->PixelOpAddAlphaOpacity(reinterpret_cast<uint8_t*>(&dst), reinterpret_cast<const uint8_t*>(&src), 128, 4);
        EXPECT_EQ(dst, ops == &ops1 ? Px(177, 25, 50, 33) : Px(176, 24, 50, 33));
    }
    // AddOpacity: blocks add (s x a) >> 8, the rest steps toward min(255, d + s).
    uint8_t d[9], s[9];
    memset(d, 200, 9);
    memset(s, 100, 9);
    ops3.PixelOpAddOpacity(d, s, 128, 9);
    EXPECT_EQ(d[7], 250);
    EXPECT_EQ(d[8], 227);
    memset(d, 250, 9);
    ops3.PixelOpAdd(d, s, 9);
    EXPECT_EQ(d[0], 255);
}

TEST(PixelOpsPinned, ByteModes)
{
    const PIXEL_OPS ops = PlainOps(3);
    uint8_t d[2] = {30, 10}, s[2] = {10, 30};
    ops.PixelOpSubtract(d, s, 2);   // the source minus the destination
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[1], 20);
    // Multiply: 200 x 200 gives 157 in a whole 4-byte group and 156 (the exact product) after it.
    uint8_t dm[5] = {200, 200, 200, 200, 200}, sm[5] = {200, 200, 200, 200, 200};
    ops.PixelOpMultiply(dm, sm, 5);
    EXPECT_EQ(dm[0], 157);
    EXPECT_EQ(dm[3], 157);
    EXPECT_EQ(dm[4], 156);
    // Screen: 400 - 157 in 8-byte blocks, 400 - 156 after them; with opacity 128 always the exact form.
    uint8_t ds[9], ss[9];
    memset(ds, 200, 9);
    memset(ss, 200, 9);
    ops.PixelOpScreen(ds, ss, 9);
    EXPECT_EQ(ds[7], 243);
    EXPECT_EQ(ds[8], 244);
    memset(ds, 200, 9);
    ops.PixelOpScreenOpacity(ds, ss, 128, 9);
    EXPECT_EQ(ds[0], 222);
    const struct { uint8_t d, s, burn, light, lighten, darken; } cases[] = {
        {100, 100, 0, 44, 100, 100}, {200, 100, 45, 144, 200, 100}, {100, 200, 45, 244, 200, 100},
        {255, 255, 255, 255, 255, 255}, {0, 0, 0, 0, 0, 0}, {0, 128, 0, 0, 128, 0},
    };
    for (const auto& c : cases) {
        uint8_t x = c.d;
        ops.PixelOpLinearBurn(&x, &c.s, 1);
        EXPECT_EQ(x, c.burn) << int(c.d) << " " << int(c.s);
        x = c.d;
        ops.PixelOpLinearLight(&x, &c.s, 1);
        EXPECT_EQ(x, c.light) << int(c.d) << " " << int(c.s);
        x = c.d;
        ops.PixelOpLighten(&x, &c.s, 1);
        EXPECT_EQ(x, c.lighten);
        x = c.d;
        ops.PixelOpDarken(&x, &c.s, 1);
        EXPECT_EQ(x, c.darken);
    }
}

TEST(PixelOpsPinned, FillCopyReduce)
{
    const PIXEL_OPS ops = PlainOps(3);
    uint8_t b[12];
    memset(b, 0xEE, sizeof b);
    ops.PixelOpFill32(b, 10, 0x11223344u);   // whole dwords only
    EXPECT_EQ(b[0], 0x44);
    EXPECT_EQ(b[7], 0x11);
    EXPECT_EQ(b[8], 0xEE);
    ops.PixelOpFill8(b, 3, 7);
    EXPECT_EQ(b[2], 7);
    EXPECT_EQ(b[3], 0x11);
    ops.PixelOpClear(b + 1, 2);
    EXPECT_EQ(b[0], 7);
    EXPECT_EQ(b[2], 0);
    // Reduce2x2 of 1, 2 over 2, 2: level 1 (1 + 2 + 2 + 2) >> 2 = 1, level 2/3 avg(avg(1, 2), avg(2, 2)) = 2.
    const uint32_t src[4] = {Px(1, 1, 1, 1), Px(2, 2, 2, 2), Px(2, 2, 2, 2), Px(2, 2, 2, 2)};
    uint32_t out = 0;
    PlainOps(1).PixelOpReduce2x2(reinterpret_cast<uint8_t*>(&out), reinterpret_cast<const uint8_t*>(src), 2, 1);
    EXPECT_EQ(out, Px(1, 1, 1, 1));
    ops.PixelOpReduce2x2(reinterpret_cast<uint8_t*>(&out), reinterpret_cast<const uint8_t*>(src), 2, 1);
    EXPECT_EQ(out, Px(2, 2, 2, 2));
}

TEST(PixelOpsPinned, ComposeFamily)
{
    const PIXEL_OPS ops = PlainOps(3);
    auto run = [](auto fn, uint32_t d, uint32_t s) {
        fn(reinterpret_cast<uint8_t*>(&d), reinterpret_cast<const uint8_t*>(&s));
        return d;
    };
    // Onto a fully transparent destination: the source colour and alpha; an invisible source changes nothing.
    auto compose = [&](uint8_t* d, const uint8_t* s) { ops.PixelOpCompose(d, s, 4); };
    EXPECT_EQ(run(compose, Px(10, 20, 30, 0), Px(100, 150, 200, 77)), Px(100, 150, 200, 77));
    EXPECT_EQ(run(compose, Px(10, 20, 30, 0), Px(100, 150, 200, 0)), Px(10, 20, 30, 0));
    EXPECT_EQ(run(compose, Px(10, 20, 30, 128), Px(100, 150, 200, 0)), Px(10, 20, 30, 128));
    // Half over half: A = 128 + 128 - 64 = 192, w = 256 x 128 / 192 = 170.
    EXPECT_EQ(run(compose, Px(0, 0, 0, 128), Px(255, 255, 255, 128)), Px(169, 169, 169, 192));
    // Opacity 128, opaque black onto the transparent normal value 128: A = 127, w = 514 x 128 goes
    // past a whole step and the byte is held at 0 (left alone it would wrap to 255).
    auto composeOpacity = [&](uint8_t* d, const uint8_t* s) { ops.PixelOpComposeOpacity(d, s, 128, 4); };
    EXPECT_EQ(run(composeOpacity, Px(128, 128, 128, 0), Px(0, 0, 0, 255)), Px(0, 0, 0, 127));
    EXPECT_EQ(run(composeOpacity, Px(0, 0, 0, 255), Px(255, 255, 255, 255)), Px(127, 127, 127, 255));
    // Destination opacity: dA := (200 x 128) >> 8 = 100 first, then Compose.
    auto composeDest = [&](uint8_t* d, const uint8_t* s) { ops.PixelOpComposeDestOpacity(d, s, 128, 4); };
    EXPECT_EQ(run(composeDest, Px(10, 20, 30, 200), Px(100, 150, 200, 0)), Px(10, 20, 30, 100));
    // Both opacities: opaque white over transparent black at full opacities gives 255 x 255 / 256.
    auto composeBoth = [&](uint8_t* d, const uint8_t* s) { ops.PixelOpComposeBothOpacity(d, s, 256, 256, 4); };
    EXPECT_EQ(run(composeBoth, Px(0, 0, 0, 0), Px(255, 255, 255, 255)), Px(254, 254, 254, 255));
    // A tiny source opacity floors -1/256 to -1 and divides by A + 1 = 1: held at 0, not wrapped.
    auto composeBothSmall = [&](uint8_t* d, const uint8_t* s) { ops.PixelOpComposeBothOpacity(d, s, 0, 1, 4); };
    EXPECT_EQ(run(composeBothSmall, Px(1, 1, 1, 90), Px(0, 0, 0, 255)), Px(0, 0, 0, 0));
}

// ---- The vector forms against the plain forms ------------------------------------------------------

struct TIER {
    const char* pszName;
    PIXEL_OPS ops;
};

// The vector form of one instruction set for a level; empty when this processor cannot run it.
std::vector<TIER> VectorTier(int nLevel, int nSimd)
{
    std::vector<TIER> tiers;
    if (DetectPixelOpsSimd() >= nSimd) {
        tiers.push_back({PixelOpsSimdName(nSimd), {}});
        FillPixelOps(&tiers.back().ops, nLevel, nSimd);
    }
    return tiers;
}

// One call of a slot: destination, source, third row (mask, or the second input of a cross-fade),
// byte count, parameter.
using CALL = void (*)(const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t* m, size_t n, int a);

struct FAMILY {
    const char* pszName;
    CALL call;
    std::vector<int> params;
};

const std::vector<int> kOpacities = {0, 1, 2, 64, 127, 128, 129, 200, 254, 255, 256, -3, 1000};

// Mask parameters (threshold, vagueness), chosen by index: the hard edge, the ordinary soft edges,
// and values far outside the 16-bit fields.
// The first four use the curve at every level (each with another kind of curve, see FillCurve).
const struct { int t, v; } kMaskParams[] = {
    {40, 256}, {0, 256}, {256, 256}, {-9, 256}, {128, 0}, {128, 64}, {0, 128}, {256, 32}, {100, 1000}, {-50, 30},
    {200, -7}, {32767, 32767}, {-32768, -32768}, {5, 70000}, {70000, 3}, {-70000, 9}, {3, -70000},
};
const std::vector<FAMILY>& Families()
{
    static const std::vector<FAMILY> families = {
        {"Fill32", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t*, const uint8_t*, size_t n, int a) {
             o.PixelOpFill32(d, n, 0x01020304u * static_cast<uint32_t>(a + 7)); }, {0, 77}},
        {"Lerp", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpLerp(d, s, a, n); }, kOpacities},
        {"CrossFade", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t* m, size_t n, int a) {
             o.PixelOpCrossFade(d, s, m, a, n); }, kOpacities},
        {"CrossFadeInPlace", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpCrossFade(d, d, s, a, n); }, {128, 77}},
        {"AlphaOver", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpAlphaOver(d, s, n); }, {0}},
        {"AlphaOverOpacity", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpAlphaOverOpacity(d, s, a, n); }, kOpacities},
        {"Mask", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t* m, size_t n, int a) {
             o.PixelOpMask(d, s, m, kMaskParams[a].t, kMaskParams[a].v, n); },
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
        {"Add", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpAdd(d, s, n); }, {0}},
        {"AddOpacity", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpAddOpacity(d, s, a, n); }, kOpacities},
        {"AddAlpha", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpAddAlpha(d, s, a, n); }, {0, 99}},
        {"AddAlphaOpacity", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpAddAlphaOpacity(d, s, a, n); }, kOpacities},
        {"Subtract", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpSubtract(d, s, n); }, {0}},
        {"Multiply", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpMultiply(d, s, n); }, {0}},
        {"Screen", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpScreen(d, s, n); }, {0}},
        {"ScreenOpacity", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpScreenOpacity(d, s, a, n); }, kOpacities},
        {"Lighten", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpLighten(d, s, n); }, {0}},
        {"Darken", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpDarken(d, s, n); }, {0}},
        {"LinearBurn", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpLinearBurn(d, s, n); }, {0}},
        {"LinearLight", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpLinearLight(d, s, n); }, {0}},
        // n counts output pixels / 4 here; the source rows are read at width 2 x output + 3.
        {"Reduce2x2", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpReduce2x2(d, s, (n / 4) * 2 + 3, n / 4); }, {0}},
        {"Compose", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int) {
             o.PixelOpCompose(d, s, n); }, {0}},
        {"ComposeOpacity", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpComposeOpacity(d, s, a, n); }, kOpacities},
        {"ComposeDestOpacity", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpComposeDestOpacity(d, s, a, n); }, kOpacities},
        {"ComposeBothOpacity", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n, int a) {
             o.PixelOpComposeBothOpacity(d, s, a, 256 - a, n); }, {0, 100, 256}},
        // Both opacities in the corners: full and empty destinations, one step, and out of range.
        {"ComposeBothOpacityPairs", [](const PIXEL_OPS& o, uint8_t* d, const uint8_t* s, const uint8_t*, size_t n,
                                       int a) { o.PixelOpComposeBothOpacity(d, s, a % 1000, a / 1000, n); },
         {256000, 256256, 1000, 1255, 255001, 128128, 255255, 300, -5000}},
    };
    return families;
}

// Random bytes with pixels that favour the alpha values with special paths (0, 255 and neighbours).
void FillRandom(std::mt19937& rng, uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; i += 4) {
        const uint32_t r = rng();
        memcpy(p + i, &r, n - i < 4 ? n - i : 4);
    }
    for (size_t i = 3; i < n; i += 4) {
        const uint32_t r = rng() % 8;
        if (r == 0) p[i] = 0;
        else if (r == 1) p[i] = 255;
        else if (r == 2) p[i] = static_cast<uint8_t>(rng() % 3);
        else if (r == 3) p[i] = static_cast<uint8_t>(253 + rng() % 3);
    }
}

// Mask curves of four kinds: entries on both sides of 1 and full entries; the same with a few
// entries above 256; a hard edge (every entry 1 or less, or 256) in any pattern; a hard edge that
// is a step at a random threshold, as the hard-edge rule builds it.
void FillCurve(std::mt19937& rng, int nKind)
{
    const int nStep = static_cast<int>(rng() % 257);
    for (int i = 0; i < 256; ++i) {
        const uint32_t r = rng() % 6;
        if (nKind == 2)
            g_aiMaskCurve[i] = r < 3 ? 256 : static_cast<int32_t>(r) - 4;
        else if (nKind == 3)
            g_aiMaskCurve[i] = i >= nStep ? 256 : (r == 0 ? 1 : 0);
        else
            g_aiMaskCurve[i] = r == 0 ? 256
                             : r == 1 ? static_cast<int32_t>(rng() % 4) - 2
                                      : static_cast<int32_t>(rng() % 257);
    }
    if (nKind == 1) {
        g_aiMaskCurve[rng() % 256] = 300;
        g_aiMaskCurve[rng() % 256] = 70000;
    }
}

// Runs one call on copies of the same rows through the plain table and each vector table and
// compares the whole destination buffer, guard bytes included.
void CompareCall(const FAMILY& f, const PIXEL_OPS& ref, const std::vector<TIER>& tiers, const std::vector<uint8_t>& d0,
                 const uint8_t* s, const uint8_t* m, size_t nOffD, size_t n, int a, uint8_t* pRef, uint8_t* pVec,
                 const std::string& strWhere)
{
    memcpy(pRef, d0.data(), d0.size());
    f.call(ref, pRef + nOffD, s, m, n, a);
    for (const TIER& tier : tiers) {
        memcpy(pVec, d0.data(), d0.size());
        f.call(tier.ops, pVec + nOffD, s, m, n, a);
        if (memcmp(pRef, pVec, d0.size()) != 0) {
            size_t i = 0;
            while (pRef[i] == pVec[i]) ++i;
            ADD_FAILURE() << f.pszName << " " << tier.pszName << " " << strWhere << " a=" << a << ": byte " << i
                          << " (offset " << nOffD << ") plain " << int(pRef[i]) << " vector " << int(pVec[i]);
        }
    }
}

// One instance per level and instruction set: a set the processor lacks is skipped, with a message.
class PixelOpsOracle : public ::testing::TestWithParam<std::tuple<int, int>> {
protected:
    int Level() const { return std::get<0>(GetParam()); }
    std::vector<TIER> Tier() const { return VectorTier(std::get<0>(GetParam()), std::get<1>(GetParam())); }
    std::string Missing() const
    {
        return std::string("this processor cannot run the ") + PixelOpsSimdName(std::get<1>(GetParam())) + " forms";
    }
};

TEST_P(PixelOpsOracle, EveryLengthAndOffset)
{
    const int nLevel = Level();
    const PIXEL_OPS ref = PlainOps(nLevel);
    const auto tiers = Tier();
    if (tiers.empty()) GTEST_SKIP() << Missing();
    int32_t aiSaved[256];
    memcpy(aiSaved, g_aiMaskCurve, sizeof aiSaved);
    std::mt19937 rng(20240611u + nLevel);
    const size_t kMax = 300, kBuf = 2 * kMax + 64, kSrc = 5 * kMax + 64;   // Reduce2x2 reads two source rows
    ALIGNED_BUF src(kSrc), third(kSrc), bufRef(kBuf), bufVec(kBuf);
    std::vector<uint8_t> d0;
    for (const FAMILY& f : Families()) {
        for (int a : f.params) {
            FillCurve(rng, a & 3);
            // Every length up to 100 bytes at every destination offset within 8 bytes; then lengths
            // around 256 (where the mask's table form starts) at a few offsets. The sources sit at
            // other offsets.
            for (size_t n = 0; n <= kMax; n = n == 100 ? 250 : n + 1) {
                for (size_t nOffD = 0; nOffD < 8; nOffD += n <= 100 ? 1 : 3) {
                    // Only the bytes a call can reach, and guard bytes after them.
                    d0.resize(n + 24);
                    FillRandom(rng, d0.data(), d0.size());
                    FillRandom(rng, src.p, 4 * n + 40);
                    FillRandom(rng, third.p, n + 16);
                    const size_t nOffS = (nOffD * 3 + n) % 8, nOffM = (nOffD + 5) % 8;
                    CompareCall(f, ref, tiers, d0, src.p + nOffS, third.p + nOffM, nOffD, n, a, bufRef.p, bufVec.p,
                                "n=" + std::to_string(n));
                }
            }
        }
    }
    memcpy(g_aiMaskCurve, aiSaved, sizeof aiSaved);
}

TEST_P(PixelOpsOracle, FullRows)
{
    // 1920-pixel rows from aligned and pixel-offset addresses, several random rounds.
    const int nLevel = Level();
    const PIXEL_OPS ref = PlainOps(nLevel);
    const auto tiers = Tier();
    if (tiers.empty()) GTEST_SKIP() << Missing();
    int32_t aiSaved[256];
    memcpy(aiSaved, g_aiMaskCurve, sizeof aiSaved);
    std::mt19937 rng(777u + nLevel);
    const size_t n = 1920 * 4, kBuf = n + 64, kSrc = 5 * n + 64;
    ALIGNED_BUF src(kSrc), third(kSrc), bufRef(kBuf), bufVec(kBuf);
    std::vector<uint8_t> d0(kBuf);
    for (const FAMILY& f : Families())
        for (int a : f.params) {
            FillCurve(rng, a & 3);
            FillRandom(rng, d0.data(), kBuf);
            FillRandom(rng, src.p, kSrc);
            FillRandom(rng, third.p, kSrc);
            for (size_t nOffD : {0, 4, 8, 12, 2})
                CompareCall(f, ref, tiers, d0, src.p + 4, third.p, nOffD, n - (nOffD & 4), a, bufRef.p, bufVec.p,
                                "row");
        }
    memcpy(g_aiMaskCurve, aiSaved, sizeof aiSaved);
}

// Every (source, destination) byte pair for the byte-wise slots, and every (source, destination,
// source alpha) triple for the per-pixel ones, in whole blocks.
TEST_P(PixelOpsOracle, ExhaustiveInputs)
{
    const int nLevel = Level();
    const PIXEL_OPS ref = PlainOps(nLevel);
    const auto tiers = Tier();
    if (tiers.empty()) GTEST_SKIP() << Missing();
    const size_t kPairs = 65536;
    ALIGNED_BUF s(kPairs), m(kPairs), bufRef(kPairs), bufVec(kPairs);
    std::vector<uint8_t> d0(kPairs);
    for (size_t i = 0; i < kPairs; ++i) {
        s.p[i] = static_cast<uint8_t>(i >> 8);
        d0[i] = static_cast<uint8_t>(i);
        m.p[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    }
    for (const FAMILY& f : Families()) {
        if (!strcmp(f.pszName, "Reduce2x2")) continue;   // reads two rows
        for (int a : f.params)
            CompareCall(f, ref, tiers, d0, s.p, m.p, 0, kPairs, a, bufRef.p, bufVec.p, "pairs");
    }
    // Per-pixel slots: for each source alpha, all (s, d) pairs spread over the three colour bytes,
    // the destination alpha running through all values.
    const size_t kPixels = (kPairs + 2) / 3, kBytes = kPixels * 4;
    ALIGNED_BUF ps(kBytes), pm(kBytes), pRef(kBytes), pVec(kBytes);
    std::vector<uint8_t> pd0(kBytes);
    int32_t aiSaved[256];
    memcpy(aiSaved, g_aiMaskCurve, sizeof aiSaved);
    for (int i = 0; i < 256; ++i)
        g_aiMaskCurve[i] = i;   // every weight in 0..255, and 256 below
    g_aiMaskCurve[255] = 256;
    for (int sA = 0; sA < 256; ++sA) {
        for (size_t p = 0; p < kPixels; ++p) {
            for (size_t c = 0; c < 3; ++c) {
                const size_t k = (p * 3 + c) % kPairs;
                ps.p[p * 4 + c] = static_cast<uint8_t>(k >> 8);
                pd0[p * 4 + c] = static_cast<uint8_t>(k);
                pm.p[p * 4 + c] = static_cast<uint8_t>(k + sA);
            }
            ps.p[p * 4 + 3] = static_cast<uint8_t>(sA);
            pd0[p * 4 + 3] = static_cast<uint8_t>(p);
            pm.p[p * 4 + 3] = static_cast<uint8_t>(p * 5);
        }
        for (const FAMILY& f : Families()) {
            static const char* const apszPerPixel[] = {"AlphaOver", "AlphaOverOpacity", "Mask", "AddAlpha",
                                                       "AddAlphaOpacity", "Compose", "ComposeOpacity",
                                                       "ComposeDestOpacity", "ComposeBothOpacity",
                                                       "ComposeBothOpacityPairs"};
            bool bPerPixel = false;
            for (const char* psz : apszPerPixel) bPerPixel |= !strcmp(psz, f.pszName);
            if (!bPerPixel) continue;
            // The mask slot does not read the source alpha: a few alphas are enough for it.
            if (!strcmp(f.pszName, "Mask") && sA % 85 != 0) continue;
            // Opacities where the 16-bit forms are tightest; the random tests cover the others.
            for (int a : f.params) {
                if (f.params == kOpacities && a != 1 && a != 128 && a != 200 && a != 255 && a != 256) continue;
                CompareCall(f, ref, tiers, pd0, ps.p, pm.p, 0, kBytes, a, pRef.p, pVec.p, "sA=" + std::to_string(sA));
            }
        }
        if (HasFailure()) break;
    }
    memcpy(g_aiMaskCurve, aiSaved, sizeof aiSaved);
}

INSTANTIATE_TEST_SUITE_P(Levels, PixelOpsOracle,
                         ::testing::Combine(::testing::Values(1, 3),
                                            ::testing::Values(int(PIXEL_SIMD_SSE2), int(PIXEL_SIMD_AVX2),
                                                              int(PIXEL_SIMD_AVX512))),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
                             return "Level" + std::to_string(std::get<0>(info.param)) + "_" +
                                    PixelOpsSimdName(std::get<1>(info.param));
                         });

// ---- Choosing the level ---------------------------------------------------------------------------

TEST(PixelOpsLevel, Rule)
{
    const struct { uint8_t bSSE, bSSE2, bAllowSSE, bAllowSSE2; int nLevel; } cases[] = {
        {0, 0, 1, 1, 1}, {1, 1, 0, 0, 1}, {1, 0, 1, 1, 2}, {1, 1, 1, 0, 2},
        {1, 1, 0, 1, 3}, {1, 1, 1, 1, 3}, {0, 1, 1, 1, 3}, {1, 0, 1, 0, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChoosePixelOpsLevel(c.bSSE, c.bSSE2, c.bAllowSSE, c.bAllowSSE2), c.nLevel)
            << int(c.bSSE) << int(c.bSSE2) << int(c.bAllowSSE) << int(c.bAllowSSE2);
}

TEST(PixelOpsLevel, LevelTwoInstallsTheRoutinesOfLevelThree)
{
    for (int nSimd : {PIXEL_SIMD_NONE, PIXEL_SIMD_SSE2, PIXEL_SIMD_AVX2, PIXEL_SIMD_AVX512}) {
        PIXEL_OPS a{}, b{};
        FillPixelOps(&a, 2, nSimd);
        FillPixelOps(&b, 3, nSimd);
        EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
    }
}

TEST(PixelOpsLevel, TableLayout)
{
    EXPECT_EQ(offsetof(PIXEL_OPS, bMMX), 26 * sizeof(void*));
    EXPECT_EQ(offsetof(PIXEL_OPS, bXOP) - offsetof(PIXEL_OPS, bMMX), 40u);
}

// Restores the table, the settings switches and the environment after a start-up test.
struct INIT_GUARD {
    PIXEL_OPS saved = g_PixelOps;
    uint8_t bSSE = g_bAllowSSE, bSSE2 = g_bAllowSSE2;
    int nLevel = g_nPixelOpsLevel, nSimd = g_nPixelOpsSimd;
    ~INIT_GUARD()
    {
        g_PixelOps = saved;
        g_bAllowSSE = bSSE;
        g_bAllowSSE2 = bSSE2;
        g_nPixelOpsLevel = nLevel;
        g_nPixelOpsSimd = nSimd;
        unsetenv("KOLVEX_PIXEL_LEVEL");
        unsetenv("KOLVEX_PIXEL_SIMD");
    }
};

TEST(PixelOpsLevel, InitFromFeaturesSettingsAndEnvironment)
{
    INIT_GUARD guard;
    unsetenv("KOLVEX_PIXEL_LEVEL");
    unsetenv("KOLVEX_PIXEL_SIMD");
#if defined(__x86_64__)
    // Every x86-64 processor has MMX, SSE and SSE2; the flags agree with the system facts.
    g_bAllowSSE = g_bAllowSSE2 = 1;
    InitPixelOps();
    EXPECT_EQ(g_PixelOps.bMMX, 1);
    EXPECT_EQ(g_PixelOps.bSSE, 1);
    EXPECT_EQ(g_PixelOps.bSSE2, 1);
    EXPECT_EQ(g_nPixelOpsLevel, 3);
    EXPECT_EQ(g_nPixelOpsSimd, DetectPixelOpsSimd());
    CPU_INFO cpu;
    ASSERT_EQ(IdentifyCPU(&cpu), 0);
    EXPECT_EQ(cpu.bSSE2, g_PixelOps.bSSE2);
    // Settings slot 2 off alone still gives level 3; both off give level 1.
    g_bAllowSSE = 0;
    InitPixelOps();
    EXPECT_EQ(g_nPixelOpsLevel, 3);
    g_bAllowSSE2 = 0;
    InitPixelOps();
    EXPECT_EQ(g_nPixelOpsLevel, 1);
    // The Compose routines are the same at every level: the vector forms serve them all.
    EXPECT_EQ(g_PixelOps.PixelOpCompose != &PixelOpCompose, g_nPixelOpsSimd >= PIXEL_SIMD_SSE2);
#endif
    // The environment forces a level and caps the instruction set.
    g_bAllowSSE = g_bAllowSSE2 = 1;
    setenv("KOLVEX_PIXEL_LEVEL", "1", 1);
    setenv("KOLVEX_PIXEL_SIMD", "none", 1);
    InitPixelOps();
    EXPECT_EQ(g_nPixelOpsLevel, 1);
    EXPECT_EQ(g_nPixelOpsSimd, PIXEL_SIMD_NONE);
    EXPECT_EQ(g_PixelOps.PixelOpLerp, &PixelOpLerp);
    EXPECT_EQ(g_PixelOps.PixelOpAlphaOver, &PixelOpAlphaOver);
    setenv("KOLVEX_PIXEL_LEVEL", "2", 1);
    InitPixelOps();
    EXPECT_EQ(g_nPixelOpsLevel, 2);
    EXPECT_EQ(g_PixelOps.PixelOpLerp, &PixelOpLerpSSE);
    setenv("KOLVEX_PIXEL_LEVEL", "x", 1);   // not understood: the rule decides
    setenv("KOLVEX_PIXEL_SIMD", "sse2", 1);
    InitPixelOps();
    EXPECT_EQ(g_nPixelOpsLevel, ChoosePixelOpsLevel(g_PixelOps.bSSE, g_PixelOps.bSSE2, 1, 1));
    EXPECT_EQ(g_nPixelOpsSimd, DetectPixelOpsSimd() >= PIXEL_SIMD_SSE2 ? PIXEL_SIMD_SSE2 : PIXEL_SIMD_NONE);
}

TEST(PixelOpsLevel, InstallSetsTheHook)
{
    void (*pfnSaved)(void) = g_EngineHooks.pfnInitPixelOps;
    g_EngineHooks.pfnInitPixelOps = nullptr;
    InstallEngineParts();
    EXPECT_EQ(g_EngineHooks.pfnInitPixelOps, &InitPixelOps);
    g_EngineHooks.pfnInitPixelOps = pfnSaved;
}

}  // namespace
