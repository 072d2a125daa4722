// The software drawing device: creation and injected faults, surfaces and textures, the rasteriser's
// fill rules, sampling, blending and the matrix helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/plat_softgpu.h"

namespace {

struct SoftGpuTest : ::testing::Test {
    SG_OBJECT* pObj = nullptr;
    SG_DEVICE* pDev = nullptr;
    void SetUp() override { SgResetFaults(); }
    void TearDown() override
    {
        SgReleaseDevice(pDev);
        SgReleaseObject(pObj);
        SgResetFaults();
        EXPECT_EQ(SgLiveObjects(), 0);
    }
    void Make(int w, int h)
    {
        pObj = SgCreateObject();
        ASSERT_NE(pObj, nullptr);
        pDev = SgCreateDevice(pObj, SG_VP_HARDWARE, w, h);
        ASSERT_NE(pDev, nullptr);
    }
};

SG_VERTEX V(float x, float y, float u, float v, uint32_t dw = 0xFFFFFFFF)
{
    SG_VERTEX r{};
    r.x = x;
    r.y = y;
    r.rhw = 1;
    r.dwDiffuse = dw;
    r.uv[0][0] = u;
    r.uv[0][1] = v;
    return r;
}

// The strip order of a layer tile: left-bottom, right-bottom, left-top, right-top.
void Quad(SG_VERTEX* q, float l, float t, float r, float b, float uL, float vT, float uR, float vB, uint32_t dw = 0xFFFFFFFF)
{
    q[0] = V(l, b, uL, vB, dw);
    q[1] = V(r, b, uR, vB, dw);
    q[2] = V(l, t, uL, vT, dw);
    q[3] = V(r, t, uR, vT, dw);
}

TEST_F(SoftGpuTest, EveryCreationStepCanFailAndNothingLeaks)
{
    struct Case {
        int nStep;
        const char* pszName;
    };
    const Case cases[] = {{SG_STEP_CREATE_OBJECT, "object"}, {SG_STEP_DISPLAY_MODE, "mode"},
                          {SG_STEP_DEVICE_HARDWARE, "hw"},   {SG_STEP_DEVICE_MIXED, "mixed"},
                          {SG_STEP_DEVICE_SOFTWARE, "sw"},   {SG_STEP_BACK_BUFFER, "back"},
                          {SG_STEP_PLAIN_SURFACE, "plain"},  {SG_STEP_TEXTURE, "texture"},
                          {SG_STEP_VERTEX_DECL, "decl"},     {SG_STEP_EFFECT, "effect"},
                          {SG_STEP_TECHNIQUE, "technique"},  {SG_STEP_SET_TECHNIQUE, "settech"},
                          {SG_STEP_LOCK, "lock"}};
    for (const Case& c : cases) {
        SgResetFaults();
        g_SgFaults.anFailAt[c.nStep] = 1;
        // A later vertex processing is only tried when the earlier ones fail.
        if (c.nStep >= SG_STEP_DEVICE_HARDWARE && c.nStep <= SG_STEP_DEVICE_SOFTWARE)
            for (int s = SG_STEP_DEVICE_HARDWARE; s < c.nStep; ++s) g_SgFaults.anFailAt[s] = 1;
        SG_OBJECT* o = SgCreateObject();
        bool bFailed = o == nullptr;
        int w = 0, h = 0;
        if (o && SgGetAdapterDisplayMode(o, 0, &w, &h) != SG_OK) bFailed = true;
        SG_DEVICE* d = nullptr;
        for (int vp = 0; o && vp < 3 && !d; ++vp) {
            d = SgCreateDevice(o, vp, 8, 8);
            if (!d) bFailed = true;
        }
        if (d) {
            if (!SgGetBackBuffer(d)) bFailed = true;
            SG_SURFACE* s = SgCreatePlainSurface(d, 8, 8, SG_FMT_A8R8G8B8);
            SG_TEXTURE* t = SgCreateTexture(d, 8, 8, SG_FMT_A8R8G8B8, 1);
            if (!s || !t) bFailed = true;
            uint8_t* p;
            int pitch;
            if (t && SgLockRect(t, &p, &pitch) != SG_OK) bFailed = true;
            else if (t) { EXPECT_EQ(SgUnlockRect(t), SG_OK); }
            if (SgCreateVertexDeclaration(d) != SG_OK) bFailed = true;
            SG_EFFECT* e = SgCreateEffect(d);
            if (!e || !SgFindTechnique(e, "KX_ShaderTest1") || SgSetTechnique(e, "KX_ShaderTest1") != SG_OK)
                bFailed = true;
            SgReleaseEffect(e);
            SgReleaseSurface(s);
            SgReleaseSurface(t);
        }
        SgReleaseDevice(d);
        SgReleaseObject(o);
        EXPECT_TRUE(bFailed) << c.pszName;
        EXPECT_EQ(SgLiveObjects(), 0) << c.pszName;
        EXPECT_GE(g_SgFaults.anCalls[c.nStep], 1) << c.pszName;
    }
}

TEST_F(SoftGpuTest, CapsAndDeviceLoss)
{
    Make(4, 4);
    SG_CAPS caps;
    SgGetCaps(pDev, &caps);
    EXPECT_EQ(caps.nPixelShaderVersion, 30);
    EXPECT_EQ(caps.nMaxTextureWidth, 8192);
    EXPECT_EQ(caps.nMaxTextureHeight, 8192);
    g_SgFaults.nPixelShaderVersion = 14;
    SgGetCaps(pDev, &caps);
    EXPECT_EQ(caps.nPixelShaderVersion, 14);
    EXPECT_EQ(SgTestCooperativeLevel(pDev), SG_OK);
    g_SgFaults.bDeviceLost = 1;
    EXPECT_EQ(SgTestCooperativeLevel(pDev), SG_ERR_DEVICENOTRESET);
    // Unknown effect names are refused; the technique is found by its name only.
    SG_EFFECT* e = SgCreateEffect(pDev);
    EXPECT_EQ(SgFindTechnique(e, "Other"), 0);
    EXPECT_EQ(SgEffectSetFloat(e, "KX_Nothing", 1.0f), SG_ERR_FAIL);
    EXPECT_EQ(SgEffectSetFloat(e, "KX_FadeVal", 1.0f), SG_OK);
    EXPECT_EQ(SgEffectBeginPass(e, 0), SG_ERR_FAIL);  // no technique set yet
    SgReleaseEffect(e);
}

TEST_F(SoftGpuTest, UpdateReadBackAnd16BitQuantisation)
{
    Make(2, 2);
    SG_SURFACE* s = SgCreatePlainSurface(pDev, 2, 1, SG_FMT_A8R8G8B8);
    SG_TEXTURE* t32 = SgCreateTexture(pDev, 2, 1, SG_FMT_A8R8G8B8, 1);
    SG_TEXTURE* t16 = SgCreateTexture(pDev, 2, 1, SG_FMT_A4R4G4B4, 1);
    s->pPixels[0] = 0x12345678;
    s->pPixels[1] = 0xFFEE0F01;
    EXPECT_EQ(SgUpdateSurface(s, t32), SG_OK);
    EXPECT_EQ(SgUpdateSurface(s, t16), SG_OK);
    EXPECT_EQ(t32->pPixels[0], 0x12345678u);
    EXPECT_EQ(t16->pPixels[0], 0x11335577u);
    EXPECT_EQ(t16->pPixels[1], 0xFFEE0000u);
    // Read-back copies a render target into system memory only.
    SG_SURFACE* r = SgCreatePlainSurface(pDev, 2, 1, SG_FMT_A8R8G8B8);
    EXPECT_EQ(SgGetRenderTargetData(t32, r), SG_OK);
    EXPECT_EQ(r->pPixels[1], 0xFFEE0F01u);
    EXPECT_EQ(SgGetRenderTargetData(s, r), SG_ERR_FAIL);
    SgReleaseSurface(r);
    SgReleaseSurface(s);
    SgReleaseSurface(t32);
    SgReleaseSurface(t16);
}

// A quad whose diagonal runs through pixel centres: added up once per triangle, every pixel is
// covered exactly once (top-left rule), and only the pixels whose centres lie inside.
TEST_F(SoftGpuTest, TopLeftFillCoversEveryPixelOnce)
{
    Make(6, 6);
    SgClear(pDev, 0);
    SgSetBlendState(pDev, SG_BLEND_ONE, SG_BLEND_ONE, SG_BLENDOP_ADD);
    SG_VERTEX q[4];
    Quad(q, 0, 0, 4, 4, 0, 0, 1, 1, 0xFFFFFFFF);
    // No texture bound: opaque black; colour mode 0 keeps alpha 1 x diffuse 1.
    SG_TEXTURE* tex = SgCreateTexture(pDev, 1, 1, SG_FMT_A8R8G8B8, 1);
    tex->pPixels[0] = 0x10101010;
    SgSetTexture(pDev, 0, tex);
    ASSERT_EQ(SgDrawQuad(pDev, q), SG_OK);
    const SG_SURFACE* b = SgGetBackBuffer(pDev);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            // Centres 0..3 lie in [0, 4): the right and bottom edges (x = 4, y = 4) are not top-left.
            const uint32_t want = (x < 4 && y < 4) ? 0x10101010u : 0u;
            EXPECT_EQ(b->pPixels[y * 6 + x], want) << x << "," << y;
        }
    SgReleaseSurface(tex);
}

std::vector<uint32_t> Pattern(int w, int h)
{
    std::vector<uint32_t> v(size_t(w) * h);
    uint32_t s = 12345;
    for (uint32_t& c : v) c = (s = s * 1103515245u + 12345u);
    return v;
}

TEST_F(SoftGpuTest, PointSampledQuadIsAnExactCopy)
{
    Make(9, 7);
    const int w = 5, h = 3;
    SG_TEXTURE* tex = SgCreateTexture(pDev, w, h, SG_FMT_A8R8G8B8, 1);
    const std::vector<uint32_t> pat = Pattern(w, h);
    std::copy(pat.begin(), pat.end(), tex->pPixels);
    SgClear(pDev, 0xDEADBEEF);
    SgSetBlendState(pDev, SG_BLEND_ONE, SG_BLEND_ZERO, SG_BLENDOP_ADD);
    SgSetSamplerFilter(pDev, 0, SG_FILTER_POINT);
    SgSetTexture(pDev, 0, tex);
    // At (2, 3) with the half-pixel shift and the uv rule's eighth of a texel.
    SG_VERTEX q[4];
    Quad(q, 1.5f, 2.5f, 6.5f, 5.5f, -0.125f / w, -0.125f / h, 1 + 0.125f / w, 1 + 0.125f / h);
    ASSERT_EQ(SgDrawQuad(pDev, q), SG_OK);
    const SG_SURFACE* b = SgGetBackBuffer(pDev);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool in = x >= 2 && x < 7 && y >= 3 && y < 6;
            EXPECT_EQ(b->pPixels[y * 9 + x], in ? pat[(y - 3) * w + (x - 2)] : 0xDEADBEEFu) << x << "," << y;
        }
    SgReleaseSurface(tex);
}

// With bilinear filtering the uv rule shifts the samples by an eighth of a texel towards the left:
// pixel x > 0 mixes 1/8 of texel x - 1 with 7/8 of texel x; pixel 0 clamps to texel 0.
TEST_F(SoftGpuTest, BilinearMixOfTheUvRule)
{
    const int w = 256;
    Make(w, 1);
    SG_TEXTURE* tex = SgCreateTexture(pDev, w, 1, SG_FMT_A8R8G8B8, 1);
    for (int x = 0; x < w; ++x) tex->pPixels[x] = 0xFF000000u | (uint32_t(x % 2 ? 200 : 40) << 16);
    SgClear(pDev, 0);
    SgSetBlendState(pDev, SG_BLEND_ONE, SG_BLEND_ZERO, SG_BLENDOP_ADD);
    SgSetSamplerFilter(pDev, 0, SG_FILTER_LINEAR);
    SgSetTexture(pDev, 0, tex);
    SG_VERTEX q[4];
    Quad(q, -0.5f, -0.5f, w - 0.5f, 0.5f, -0.125f / w, -0.125f, 1 + 0.125f / w, 1 + 0.125f);
    ASSERT_EQ(SgDrawQuad(pDev, q), SG_OK);
    const uint32_t* p = SgGetBackBuffer(pDev)->pPixels;
    auto red = [&](int x) { return int((p[x] >> 16) & 0xFF); };
    EXPECT_EQ(red(0), 40);
    EXPECT_NEAR(red(1), 40 / 8 + 200 * 7 / 8, 1);   // 180
    EXPECT_NEAR(red(2), 200 / 8 + 40 * 7 / 8, 1);   // 60
    EXPECT_NEAR(red(3), 180, 1);
    SgReleaseSurface(tex);
}

// The texture of 8 x 8 noise drawn over the whole target (w x h) with the given sampler filters,
// its coordinates shifted by 0.3 texel so that point and linear sampling differ at every scale.
std::vector<uint32_t> DrawScaled(SG_DEVICE* pDev, int w, int h, int nMag, int nMin, int nMip = SG_FILTER_NONE)
{
    SG_TEXTURE* tex = SgCreateTexture(pDev, 8, 8, SG_FMT_A8R8G8B8, 1);
    const std::vector<uint32_t> pat = Pattern(8, 8);
    std::copy(pat.begin(), pat.end(), tex->pPixels);
    SgClear(pDev, 0);
    SgSetBlendState(pDev, SG_BLEND_ONE, SG_BLEND_ZERO, SG_BLENDOP_ADD);
    SgSetSamplerState(pDev, 0, SG_SAMP_MAGFILTER, nMag);
    SgSetSamplerState(pDev, 0, SG_SAMP_MINFILTER, nMin);
    SgSetSamplerState(pDev, 0, SG_SAMP_MIPFILTER, nMip);
    SgSetTexture(pDev, 0, tex);
    SG_VERTEX q[4];
    const float d = 0.3f / 8;
    Quad(q, -0.5f, -0.5f, w - 0.5f, h - 0.5f, d, d, 1 + d, 1 + d);
    EXPECT_EQ(SgDrawQuad(pDev, q), SG_OK);
    const SG_SURFACE* b = SgGetBackBuffer(pDev);
    std::vector<uint32_t> out;
    for (int y = 0; y < h; ++y) out.insert(out.end(), b->pPixels + size_t(y) * b->nWidth, b->pPixels + size_t(y) * b->nWidth + w);
    SgSetTexture(pDev, 0, nullptr);
    SgReleaseSurface(tex);
    return out;
}

// A texture drawn larger than its texels is sampled with the magnification filter, one drawn
// smaller with the minification filter; in one axis is enough. At its own size it magnifies.
TEST_F(SoftGpuTest, MinificationAndMagnificationFiltersFollowTheScale)
{
    struct Case {
        const char* pszName;
        int w, h;
        int nFilterUsed;   // the filter whose picture comes out
    };
    const Case cases[] = {
        {"magnified", 24, 20, SG_FILTER_LINEAR},   {"own size", 8, 8, SG_FILTER_LINEAR},
        {"minified", 5, 3, SG_FILTER_POINT},       {"narrower only", 6, 16, SG_FILTER_POINT},
    };
    Make(24, 20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::vector<uint32_t> point = DrawScaled(pDev, c.w, c.h, SG_FILTER_POINT, SG_FILTER_POINT);
        const std::vector<uint32_t> linear = DrawScaled(pDev, c.w, c.h, SG_FILTER_LINEAR, SG_FILTER_LINEAR);
        ASSERT_NE(point, linear);   // the two can be told apart
        // Magnification linear, minification point; then the other way round.
        const std::vector<uint32_t> magLinear = DrawScaled(pDev, c.w, c.h, SG_FILTER_LINEAR, SG_FILTER_POINT);
        const std::vector<uint32_t> minLinear = DrawScaled(pDev, c.w, c.h, SG_FILTER_POINT, SG_FILTER_LINEAR);
        EXPECT_EQ(magLinear, c.nFilterUsed == SG_FILTER_LINEAR ? linear : point);
        EXPECT_EQ(minLinear, c.nFilterUsed == SG_FILTER_LINEAR ? point : linear);
        // Anisotropic samples as linear.
        EXPECT_EQ(DrawScaled(pDev, c.w, c.h, SG_FILTER_ANISOTROPIC, SG_FILTER_ANISOTROPIC), linear);
    }
}

// The mip filter is kept per sampler; textures have one level, so it changes no pixel.
TEST_F(SoftGpuTest, MipFilterIsKeptAndSelectsTheOneLevel)
{
    Make(5, 3);
    EXPECT_EQ(SgGetSamplerState(pDev, 0, SG_SAMP_MIPFILTER), SG_FILTER_NONE);   // the device's start
    EXPECT_EQ(SgGetSamplerState(pDev, 1, SG_SAMP_MAGFILTER), SG_FILTER_POINT);
    const std::vector<uint32_t> none = DrawScaled(pDev, 5, 3, SG_FILTER_LINEAR, SG_FILTER_LINEAR, SG_FILTER_NONE);
    for (int nMip : {SG_FILTER_POINT, SG_FILTER_LINEAR, SG_FILTER_ANISOTROPIC}) {
        EXPECT_EQ(DrawScaled(pDev, 5, 3, SG_FILTER_LINEAR, SG_FILTER_LINEAR, nMip), none) << nMip;
        EXPECT_EQ(SgGetSamplerState(pDev, 0, SG_SAMP_MIPFILTER), nMip);
    }
    // Values a state does not take leave it as it was.
    SgSetSamplerState(pDev, 1, SG_SAMP_MINFILTER, SG_FILTER_LINEAR);
    SgSetSamplerState(pDev, 1, SG_SAMP_MINFILTER, SG_FILTER_NONE);
    SgSetSamplerState(pDev, 1, SG_SAMP_MINFILTER, 7);
    EXPECT_EQ(SgGetSamplerState(pDev, 1, SG_SAMP_MINFILTER), SG_FILTER_LINEAR);
}

// Into a 16-bit texture: without dithering every pixel keeps its top four bits; with it the
// rounding errors are spread, so a flat area between two levels keeps its average, and a colour
// that is a level already stays exact.
TEST_F(SoftGpuTest, SixteenBitConversionDithersOnRequest)
{
    Make(2, 2);
    const int w = 32, h = 16;
    SG_SURFACE* s = SgCreatePlainSurface(pDev, w, h, SG_FMT_A8R8G8B8);
    SG_TEXTURE* t16 = SgCreateTexture(pDev, w, h, SG_FMT_A4R4G4B4, 1);
    SG_TEXTURE* t32 = SgCreateTexture(pDev, w, h, SG_FMT_A8R8G8B8, 1);
    struct Case {
        uint32_t dwColour;
        bool bDither;
        double fMeanRed;    // of the texture
        bool bMixed;        // more than one red level
    };
    const Case cases[] = {
        {0xFF804020u, false, 0x88, false},   // 128 -> 136: its top four bits
        {0xFF804020u, true, 128, true},
        {0xFF882211u, true, 0x88, false},    // a level already
        {0xFFFF0000u, true, 255, false},
        {0x00000000u, true, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.dwColour << " dither " << c.bDither);
        for (int i = 0; i < w * h; ++i) s->pPixels[i] = c.dwColour;
        ASSERT_EQ(SgLoadSurfaceFromSurface(t16, s, c.bDither ? 1 : 0), SG_OK);
        double fSum = 0;
        uint32_t nFirst = (t16->pPixels[0] >> 16) & 0xFF;
        bool bMixed = false;
        for (int i = 0; i < w * h; ++i) {
            const uint32_t p = t16->pPixels[i];
            const uint32_t r = (p >> 16) & 0xFF;
            ASSERT_EQ(r % 17, 0u) << "not a 4-bit level at " << i;
            ASSERT_EQ(p >> 24, (c.dwColour >> 28) * 17);
            fSum += r;
            bMixed |= r != nFirst;
        }
        EXPECT_NEAR(fSum / (w * h), c.fMeanRed, 1.0);
        EXPECT_EQ(bMixed, c.bMixed);
    }
    // A 32-bit texture is a plain copy either way.
    s->pPixels[5] = 0x12345678;
    ASSERT_EQ(SgLoadSurfaceFromSurface(t32, s, 1), SG_OK);
    EXPECT_EQ(t32->pPixels[5], 0x12345678u);
    SgReleaseSurface(s);
    SgReleaseSurface(t16);
    SgReleaseSurface(t32);
}

// Blend factors and operations reach the alpha channel too.
TEST_F(SoftGpuTest, BlendingAppliesToAlpha)
{
    Make(1, 1);
    SG_TEXTURE* tex = SgCreateTexture(pDev, 1, 1, SG_FMT_A8R8G8B8, 1);
    tex->pPixels[0] = 0x80FF0000;  // red, alpha 128
    SgSetTexture(pDev, 0, tex);
    SG_VERTEX q[4];
    Quad(q, -0.5f, -0.5f, 0.5f, 0.5f, 0, 0, 1, 1);
    struct Case {
        int src, dst, op;
        uint32_t dest, want;
    };
    const Case cases[] = {
        // SRCALPHA / INVSRCALPHA: a = 0.502 x 0.502 + 0.498 x 1
        {SG_BLEND_SRCALPHA, SG_BLEND_INVSRCALPHA, SG_BLENDOP_ADD, 0xFF0000FF, 0xBF80007F},
        {SG_BLEND_SRCALPHA, SG_BLEND_ONE, SG_BLENDOP_REVSUBTRACT, 0xFFFF00FF, 0xBF7F00FF},
        {SG_BLEND_ONE, SG_BLEND_ONE, SG_BLENDOP_MAX, 0x40000040, 0x80FF0040},
        {SG_BLEND_ONE, SG_BLEND_ONE, SG_BLENDOP_MIN, 0x40404040, 0x40400000},
    };
    for (const Case& c : cases) {
        SgClear(pDev, c.dest);
        SgSetBlendState(pDev, c.src, c.dst, c.op);
        ASSERT_EQ(SgDrawQuad(pDev, q), SG_OK);
        EXPECT_EQ(SgGetBackBuffer(pDev)->pPixels[0], c.want) << std::hex << c.dest;
    }
    SgReleaseSurface(tex);
}

TEST_F(SoftGpuTest, EffectPassesComputeFadeAndMask)
{
    Make(1, 1);
    SG_TEXTURE* t1 = SgCreateTexture(pDev, 1, 1, SG_FMT_A8R8G8B8, 1);
    SG_TEXTURE* t2 = SgCreateTexture(pDev, 1, 1, SG_FMT_A8R8G8B8, 1);
    t1->pPixels[0] = 0xFFFF0000;
    t2->pPixels[0] = 0xFF0000FF;
    SG_EFFECT* e = SgCreateEffect(pDev);
    ASSERT_EQ(SgSetTechnique(e, "KX_ShaderTest1"), SG_OK);
    SgEffectSetTexture(e, "KX_Texture1", t1);
    SgEffectSetTexture(e, "KX_Texture2", t2);
    SgEffectSetFloat(e, "KX_AlphaVal", 1.0f);
    SgEffectSetFloat(e, "KX_FadeVal", 0.25f);
    SgSetBlendState(pDev, SG_BLEND_ONE, SG_BLEND_ZERO, SG_BLENDOP_ADD);
    SG_VERTEX q[4];
    Quad(q, -0.5f, -0.5f, 0.5f, 0.5f, 0, 0, 1, 1);
    ASSERT_EQ(SgEffectBeginPass(e, 0), SG_OK);
    SgDrawQuad(pDev, q);
    SgEffectEndPass(e);
    EXPECT_EQ(SgGetBackBuffer(pDev)->pPixels[0], 0xFFBF0040u);
    // Pass 1: alpha = 1 x saturate((0.75 - 0.5 x 0) x 2) x 0.5 = 0.5 (mask red is 0).
    SgEffectSetFloat(e, "KX_FadeVal", 0.75f);
    SgEffectSetFloat(e, "KX_FadeVal2", 2.0f);
    SgEffectSetFloat(e, "KX_AlphaVal", 0.5f);
    ASSERT_EQ(SgEffectBeginPass(e, 1), SG_OK);
    SgDrawQuad(pDev, q);
    SgEffectEndPass(e);
    EXPECT_EQ(SgGetBackBuffer(pDev)->pPixels[0], 0x80FF0000u);
    SgReleaseEffect(e);
    SgReleaseSurface(t1);
    SgReleaseSurface(t2);
}

TEST_F(SoftGpuTest, MatricesUseRowVectors)
{
    SG_MATRIX r, t1, t2, m;
    // Roll of 90 degrees: (1, 0) goes to (0, 1) (row vector times matrix).
    SgMatrixRotationYawPitchRoll(&r, 0, 0, 1.5707963f);
    float x = 1, y = 0, z = 0;
    SgTransformCoord(&x, &y, &z, &r);
    EXPECT_NEAR(x, 0, 1e-6);
    EXPECT_NEAR(y, 1, 1e-6);
    // About an anchor (10, 20): translate by -anchor, rotate, translate back.
    SgMatrixTranslation(&t1, -10, -20, 0);
    SgMatrixTranslation(&t2, 10, 20, 0);
    SgMatrixMultiply(&m, &t1, &r);
    SgMatrixMultiply(&m, &m, &t2);
    x = 15, y = 20, z = 0;
    SgTransformCoord(&x, &y, &z, &m);
    EXPECT_NEAR(x, 10, 1e-5);
    EXPECT_NEAR(y, 25, 1e-5);
    // Yaw turns x towards -z (left-handed, about Y).
    SgMatrixRotationYawPitchRoll(&r, 1.5707963f, 0, 0);
    x = 1, y = 0, z = 0;
    SgTransformCoord(&x, &y, &z, &r);
    EXPECT_NEAR(z, -1, 1e-6);
}

}  // namespace
