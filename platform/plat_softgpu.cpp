// The software drawing device (see plat_softgpu.h).
#include "platform/plat_softgpu.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

SG_FAULTS g_SgFaults;
static int s_nLive = 0;

void SgResetFaults(void) { std::memset(&g_SgFaults, 0, sizeof g_SgFaults); }
int SgLiveObjects(void) { return s_nLive; }

// True when this call of the step is the one to fail.
static bool Fails(int nStep)
{
    const int n = ++g_SgFaults.anCalls[nStep];
    return g_SgFaults.anFailAt[nStep] != 0 && g_SgFaults.anFailAt[nStep] == n;
}

int SgForcedOn(void)
{
    const char* psz = std::getenv("KOLVEX_SOFT_GPU");
    return psz && psz[0] == '1' && psz[1] == 0;
}

struct SG_OBJECT {
    int nDummy;
};

struct COLOR4 {
    float r, g, b, a;
};

struct SG_EFFECT {
    SG_DEVICE* pDev;
    int bTechnique;
    SG_TEXTURE* pTex1;
    SG_TEXTURE* pTex2;
    float fAlpha, fFade, fFade2;
};

struct SG_DEVICE {
    SG_SURFACE* pBack;
    SG_SURFACE* pTarget;
    int nSrcBlend, nDstBlend, nBlendOp;
    int nColorMode;
    int aanSampler[2][SG_SAMP_COUNT];   // per sampler: magnification, minification, mip filter
    SG_TEXTURE* apStage[3];
    SG_EFFECT* pEffect;   // the effect whose pass is active, or NULL
    int nPass;
    float aafTransform[SG_TS_COUNT][16];   // world, view, projection as set, row after row
};

SG_OBJECT* SgCreateObject(void)
{
    if (Fails(SG_STEP_CREATE_OBJECT)) return nullptr;
    SG_OBJECT* p = new (std::nothrow) SG_OBJECT{};
    if (p) ++s_nLive;
    return p;
}

void SgReleaseObject(SG_OBJECT* pObj)
{
    if (!pObj) return;
    delete pObj;
    --s_nLive;
}

int SgGetAdapterDisplayMode(SG_OBJECT* pObj, int, int* pWidth, int* pHeight)
{
    if (!pObj || Fails(SG_STEP_DISPLAY_MODE)) return SG_ERR_FAIL;
    if (pWidth) *pWidth = 1920;
    if (pHeight) *pHeight = 1080;
    return SG_OK;
}

static SG_SURFACE* NewSurface(int w, int h, int nFormat, int bRT, int bSys)
{
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return nullptr;
    SG_SURFACE* p = new (std::nothrow) SG_SURFACE{};
    if (!p) return nullptr;
    p->pPixels = static_cast<uint32_t*>(std::calloc(size_t(w) * size_t(h), 4));
    if (!p->pPixels) {
        delete p;
        return nullptr;
    }
    p->nWidth = w;
    p->nHeight = h;
    p->nFormat = nFormat;
    p->bRenderTarget = bRT;
    p->bSystemMemory = bSys;
    ++s_nLive;
    return p;
}

void SgReleaseSurface(SG_SURFACE* pSurf)
{
    if (!pSurf) return;
    std::free(pSurf->pPixels);
    delete pSurf;
    --s_nLive;
}

SG_DEVICE* SgCreateDevice(SG_OBJECT* pObj, int nVP, int nBackWidth, int nBackHeight)
{
    if (!pObj || nVP < 0 || nVP > 2) return nullptr;
    if (Fails(SG_STEP_DEVICE_HARDWARE + nVP)) return nullptr;
    SG_DEVICE* p = new (std::nothrow) SG_DEVICE{};
    if (!p) return nullptr;
    p->pBack = NewSurface(nBackWidth, nBackHeight, SG_FMT_A8R8G8B8, 1, 0);
    if (!p->pBack) {
        delete p;
        return nullptr;
    }
    p->pTarget = p->pBack;
    p->nSrcBlend = SG_BLEND_ONE;
    p->nDstBlend = SG_BLEND_ZERO;
    p->nBlendOp = SG_BLENDOP_ADD;
    for (auto& an : p->aanSampler) an[SG_SAMP_MIPFILTER] = SG_FILTER_NONE;
    ++s_nLive;
    return p;
}

void SgReleaseDevice(SG_DEVICE* pDev)
{
    if (!pDev) return;
    SgReleaseSurface(pDev->pBack);
    delete pDev;
    --s_nLive;
}

void SgGetCaps(SG_DEVICE*, SG_CAPS* pCaps)
{
    pCaps->nPixelShaderVersion = g_SgFaults.nPixelShaderVersion ? g_SgFaults.nPixelShaderVersion : 30;
    pCaps->nMaxTextureWidth = 8192;
    pCaps->nMaxTextureHeight = 8192;
    pCaps->llTextureMemory = int64_t(1) << 30;
}

int SgTestCooperativeLevel(SG_DEVICE* pDev)
{
    if (!pDev) return SG_ERR_FAIL;
    return g_SgFaults.bDeviceLost ? SG_ERR_DEVICENOTRESET : SG_OK;
}

// The back buffer is the device's own; the caller gets a view it releases as a reference. The
// soft device hands out the surface itself and ignores releases of it (see SgReleaseBackBuffer).
SG_SURFACE* SgGetBackBuffer(SG_DEVICE* pDev)
{
    if (!pDev || Fails(SG_STEP_BACK_BUFFER)) return nullptr;
    return pDev->pBack;
}

SG_SURFACE* SgCreatePlainSurface(SG_DEVICE* pDev, int w, int h, int nFormat)
{
    if (!pDev || Fails(SG_STEP_PLAIN_SURFACE)) return nullptr;
    return NewSurface(w, h, nFormat, 0, 1);
}

SG_TEXTURE* SgCreateTexture(SG_DEVICE* pDev, int w, int h, int nFormat, int bRenderTarget)
{
    if (!pDev || Fails(SG_STEP_TEXTURE)) return nullptr;
    if (nFormat != SG_FMT_A8R8G8B8 && nFormat != SG_FMT_A4R4G4B4) return nullptr;
    return NewSurface(w, h, nFormat, bRenderTarget, 0);
}

int SgLockRect(SG_SURFACE* pSurf, uint8_t** ppBits, int* pPitch)
{
    if (!pSurf || pSurf->bLocked || Fails(SG_STEP_LOCK)) return SG_ERR_FAIL;
    pSurf->bLocked = 1;
    *ppBits = reinterpret_cast<uint8_t*>(pSurf->pPixels);
    *pPitch = pSurf->nWidth * 4;
    return SG_OK;
}

int SgUnlockRect(SG_SURFACE* pSurf)
{
    if (!pSurf || !pSurf->bLocked) return SG_ERR_FAIL;
    pSurf->bLocked = 0;
    return SG_OK;
}

// 16-bit textures keep the top four bits of each channel (n * 17 read back).
static inline uint32_t Quantise4444(uint32_t c)
{
    uint32_t q = (c >> 4) & 0x0F0F0F0Fu;
    return q | (q << 4);
}

int SgUpdateSurface(SG_SURFACE* pSrc, SG_SURFACE* pDst)
{
    if (!pSrc || !pDst || pSrc->nWidth > pDst->nWidth || pSrc->nHeight > pDst->nHeight) return SG_ERR_FAIL;
    for (int y = 0; y < pSrc->nHeight; ++y) {
        const uint32_t* s = pSrc->pPixels + size_t(y) * pSrc->nWidth;
        uint32_t* d = pDst->pPixels + size_t(y) * pDst->nWidth;
        if (pDst->nFormat == SG_FMT_A4R4G4B4)
            for (int x = 0; x < pSrc->nWidth; ++x) d[x] = Quantise4444(s[x]);
        else
            std::memcpy(d, s, size_t(pSrc->nWidth) * 4);
    }
    return SG_OK;
}

int SgLoadSurfaceFromSurface(SG_SURFACE* pDst, SG_SURFACE* pSrc, int bDither)
{
    if (!bDither || !pDst || pDst->nFormat != SG_FMT_A4R4G4B4) return SgUpdateSurface(pSrc, pDst);
    if (!pSrc || pSrc->nWidth > pDst->nWidth || pSrc->nHeight > pDst->nHeight) return SG_ERR_FAIL;
    // Errors in sixteenths of a level step, per channel (B, G, R, A), for this row and the next.
    const int w = pSrc->nWidth;
    std::vector<int> cur(size_t(w + 2) * 4, 0), next(size_t(w + 2) * 4, 0);
    for (int y = 0; y < pSrc->nHeight; ++y) {
        const uint32_t* s = pSrc->pPixels + size_t(y) * w;
        uint32_t* d = pDst->pPixels + size_t(y) * pDst->nWidth;
        std::fill(next.begin(), next.end(), 0);
        for (int x = 0; x < w; ++x) {
            uint32_t c = 0;
            for (int k = 0; k < 4; ++k) {
                // The wanted value with the carried error, rounded to the nearest of the 16 levels
                // (n * 17); what is left over goes on to the neighbours.
                const int nWant = int((s[x] >> (8 * k)) & 0xFF) * 16 + cur[size_t(x + 1) * 4 + k];
                const int nLevel = std::clamp((nWant + 17 * 8) / (17 * 16), 0, 15);
                const int nErr = nWant - nLevel * 17 * 16;
                cur[size_t(x + 2) * 4 + k] += nErr * 7 / 16;
                next[size_t(x) * 4 + k] += nErr * 3 / 16;
                next[size_t(x + 1) * 4 + k] += nErr * 5 / 16;
                next[size_t(x + 2) * 4 + k] += nErr / 16;
                c |= uint32_t(nLevel * 17) << (8 * k);
            }
            d[x] = c;
        }
        cur.swap(next);
    }
    return SG_OK;
}

int SgGetRenderTargetData(SG_SURFACE* pTarget, SG_SURFACE* pSysMem)
{
    if (!pTarget || !pSysMem || !pTarget->bRenderTarget || !pSysMem->bSystemMemory) return SG_ERR_FAIL;
    if (pTarget->nWidth > pSysMem->nWidth || pTarget->nHeight > pSysMem->nHeight) return SG_ERR_FAIL;
    for (int y = 0; y < pTarget->nHeight; ++y)
        std::memcpy(pSysMem->pPixels + size_t(y) * pSysMem->nWidth, pTarget->pPixels + size_t(y) * pTarget->nWidth,
                    size_t(pTarget->nWidth) * 4);
    return SG_OK;
}

void SgFillSurface(SG_SURFACE* pSurf, uint32_t dwColor)
{
    if (!pSurf) return;
    if (pSurf->nFormat == SG_FMT_A4R4G4B4) dwColor = Quantise4444(dwColor);
    const size_t n = size_t(pSurf->nWidth) * pSurf->nHeight;
    for (size_t i = 0; i < n; ++i) pSurf->pPixels[i] = dwColor;
}

int SgSetRenderTarget(SG_DEVICE* pDev, SG_SURFACE* pTarget)
{
    if (!pDev || !pTarget || !pTarget->bRenderTarget) return SG_ERR_FAIL;
    pDev->pTarget = pTarget;
    return SG_OK;
}

int SgSetTransform(SG_DEVICE* pDev, int nState, const float* pMatrix)
{
    if (!pDev || !pMatrix || nState < 0 || nState >= SG_TS_COUNT) return SG_ERR_FAIL;
    std::memcpy(pDev->aafTransform[nState], pMatrix, sizeof pDev->aafTransform[nState]);
    return SG_OK;
}

int SgGetTransform(SG_DEVICE* pDev, int nState, float* pMatrix)
{
    if (!pDev || !pMatrix || nState < 0 || nState >= SG_TS_COUNT) return SG_ERR_FAIL;
    std::memcpy(pMatrix, pDev->aafTransform[nState], sizeof pDev->aafTransform[nState]);
    return SG_OK;
}

int SgClear(SG_DEVICE* pDev, uint32_t dwColor)
{
    if (!pDev || !pDev->pTarget) return SG_ERR_FAIL;
    SgFillSurface(pDev->pTarget, dwColor);
    return SG_OK;
}

void SgSetBlendState(SG_DEVICE* pDev, int nSrc, int nDst, int nOp)
{
    pDev->nSrcBlend = nSrc;
    pDev->nDstBlend = nDst;
    pDev->nBlendOp = nOp;
}

void SgSetColorMode(SG_DEVICE* pDev, int nMode)
{
    switch (nMode) {
    case 0: case 1: case 2: case 3: case 5: case 6: case 7: case 9:
        pDev->nColorMode = nMode;
        break;
    default:
        break;
    }
}

void SgSetSamplerState(SG_DEVICE* pDev, int nSampler, int nState, int nValue)
{
    if (!pDev || nSampler < 0 || nSampler > 1 || nState < 0 || nState >= SG_SAMP_COUNT) return;
    const int nLowest = nState == SG_SAMP_MIPFILTER ? SG_FILTER_NONE : SG_FILTER_POINT;
    if (nValue < nLowest || nValue > SG_FILTER_ANISOTROPIC) return;
    pDev->aanSampler[nSampler][nState] = nValue;
}

int SgGetSamplerState(const SG_DEVICE* pDev, int nSampler, int nState)
{
    if (!pDev || nSampler < 0 || nSampler > 1 || nState < 0 || nState >= SG_SAMP_COUNT) return SG_FILTER_NONE;
    return pDev->aanSampler[nSampler][nState];
}

void SgSetSamplerFilter(SG_DEVICE* pDev, int nSampler, int nFilter)
{
    SgSetSamplerState(pDev, nSampler, SG_SAMP_MAGFILTER, nFilter);
    SgSetSamplerState(pDev, nSampler, SG_SAMP_MINFILTER, nFilter);
}

void SgSetTexture(SG_DEVICE* pDev, int nStage, SG_TEXTURE* pTex)
{
    if (nStage >= 0 && nStage < 3) pDev->apStage[nStage] = pTex;
}

int SgBeginScene(SG_DEVICE* pDev) { return pDev ? SG_OK : SG_ERR_FAIL; }
int SgEndScene(SG_DEVICE* pDev) { return pDev ? SG_OK : SG_ERR_FAIL; }

// ---------------------------------------------------------------------------------------------
// Sampling: clamp addressing; texel centres at (i + 0.5) / size. An unbound texture is opaque black.

static const float kInv255 = 1.0f / 255.0f;

static inline COLOR4 Unpack(uint32_t c)
{
    return COLOR4{float((c >> 16) & 0xFF) * kInv255, float((c >> 8) & 0xFF) * kInv255, float(c & 0xFF) * kInv255,
                  float(c >> 24) * kInv255};
}

static inline int ClampI(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

static inline COLOR4 Sample(const SG_TEXTURE* pTex, int nFilter, float u, float v)
{
    if (!pTex) return COLOR4{0, 0, 0, 1};
    const int w = pTex->nWidth, h = pTex->nHeight;
    if (nFilter == SG_FILTER_POINT) {
        const int x = ClampI(int(std::floor(u * float(w))), 0, w - 1);
        const int y = ClampI(int(std::floor(v * float(h))), 0, h - 1);
        return Unpack(pTex->pPixels[size_t(y) * w + x]);
    }
    const float fx = u * float(w) - 0.5f, fy = v * float(h) - 0.5f;
    const float x0f = std::floor(fx), y0f = std::floor(fy);
    const float ax = fx - x0f, ay = fy - y0f;
    const int x0 = ClampI(int(x0f), 0, w - 1), x1 = ClampI(int(x0f) + 1, 0, w - 1);
    const int y0 = ClampI(int(y0f), 0, h - 1), y1 = ClampI(int(y0f) + 1, 0, h - 1);
    const uint32_t* r0 = pTex->pPixels + size_t(y0) * w;
    const uint32_t* r1 = pTex->pPixels + size_t(y1) * w;
    const uint32_t c00 = r0[x0], c10 = r0[x1], c01 = r1[x0], c11 = r1[x1];
    const float w00 = (1 - ax) * (1 - ay), w10 = ax * (1 - ay), w01 = (1 - ax) * ay, w11 = ax * ay;
    COLOR4 o;
    o.b = (float(c00 & 0xFF) * w00 + float(c10 & 0xFF) * w10 + float(c01 & 0xFF) * w01 + float(c11 & 0xFF) * w11) * kInv255;
    o.g = (float((c00 >> 8) & 0xFF) * w00 + float((c10 >> 8) & 0xFF) * w10 + float((c01 >> 8) & 0xFF) * w01 +
           float((c11 >> 8) & 0xFF) * w11) * kInv255;
    o.r = (float((c00 >> 16) & 0xFF) * w00 + float((c10 >> 16) & 0xFF) * w10 + float((c01 >> 16) & 0xFF) * w01 +
           float((c11 >> 16) & 0xFF) * w11) * kInv255;
    o.a = (float(c00 >> 24) * w00 + float(c10 >> 24) * w10 + float(c01 >> 24) * w01 + float(c11 >> 24) * w11) * kInv255;
    return o;
}

static inline float Sat(float f) { return f < 0 ? 0 : (f > 1 ? 1 : f); }

// The textures a triangle samples (stage 0 or the effect's two) and the filter each is sampled
// with: a texture drawn smaller than its texels minifies, else it magnifies. The level of detail
// is log2 of the most texels one pixel step crosses along a screen axis; it is taken to 1/256 of a
// level, so a quad drawn at its texture's size magnifies whatever the rounding of its corners.
struct TRI_SAMPLING {
    const SG_TEXTURE* apTex[2];
    int anFilter[2];
};

static int ChooseFilter(const SG_DEVICE* pDev, int nSampler, const SG_TEXTURE* pTex, const double* pGrad)
{
    if (!pTex) return SG_FILTER_POINT;
    const double w = pTex->nWidth, h = pTex->nHeight;
    // Texels crossed per pixel step in x and in y.
    const double rx = std::hypot(pGrad[0] * w, pGrad[2] * h), ry = std::hypot(pGrad[1] * w, pGrad[3] * h);
    const double kMinified = std::exp2(1.0 / 256.0);
    return pDev->aanSampler[nSampler][std::max(rx, ry) > kMinified ? SG_SAMP_MINFILTER : SG_SAMP_MAGFILTER];
}

// The colour the pixel stage puts out: an effect pass, or the fixed-function table of the mode.
static inline COLOR4 ShadePixel(const SG_DEVICE* pDev, const TRI_SAMPLING& ts, const COLOR4& d, float u, float v)
{
    if (pDev->pEffect) {
        const SG_EFFECT* e = pDev->pEffect;
        const COLOR4 t1 = Sample(ts.apTex[0], ts.anFilter[0], u, v);
        const COLOR4 t2 = Sample(ts.apTex[1], ts.anFilter[1], u, v);
        if (pDev->nPass == 0) {
            const float f = e->fFade;
            COLOR4 c{t1.r * (1 - f) + t2.r * f, t1.g * (1 - f) + t2.g * f, t1.b * (1 - f) + t2.b * f,
                     t1.a * (1 - f) + t2.a * f};
            c.a *= e->fAlpha;
            return c;
        }
        return COLOR4{t1.r, t1.g, t1.b, t1.a * Sat((e->fFade - 0.5f * t2.r) * e->fFade2) * e->fAlpha};
    }
    const COLOR4 t = Sample(ts.apTex[0], ts.anFilter[0], u, v);
    const float k = t.a * d.a;
    switch (pDev->nColorMode) {
    case 2: case 6: case 9:
        return COLOR4{t.r * d.r, t.g * d.g, t.b * d.b, k};
    case 3: case 7:
        return COLOR4{1 + (t.r * d.r - 1) * k, 1 + (t.g * d.g - 1) * k, 1 + (t.b * d.b - 1) * k, k};
    case 5:
        return COLOR4{t.r * d.r * k, t.g * d.g * k, t.b * d.b * k, k};
    default:
        return COLOR4{t.r, t.g, t.b, k};
    }
}

static inline float Factor(int nFactor, float sc, float sa, float dc)
{
    switch (nFactor) {
    case SG_BLEND_ZERO: return 0;
    case SG_BLEND_ONE: return 1;
    case SG_BLEND_SRCCOLOR: return sc;
    case SG_BLEND_INVSRCCOLOR: return 1 - sc;
    case SG_BLEND_SRCALPHA: return sa;
    case SG_BLEND_INVSRCALPHA: return 1 - sa;
    case SG_BLEND_DESTCOLOR: return dc;
    default: return 1 - dc;  // INVDESTCOLOR
    }
}

static inline float BlendChannel(const SG_DEVICE* pDev, float s, float sa, float d)
{
    switch (pDev->nBlendOp) {
    case SG_BLENDOP_MIN: return s < d ? s : d;
    case SG_BLENDOP_MAX: return s > d ? s : d;
    default: break;
    }
    const float fs = s * Factor(pDev->nSrcBlend, s, sa, d);
    const float fd = d * Factor(pDev->nDstBlend, s, sa, d);
    if (pDev->nBlendOp == SG_BLENDOP_SUBTRACT) return fs - fd;
    if (pDev->nBlendOp == SG_BLENDOP_REVSUBTRACT) return fd - fs;
    return fs + fd;
}

static inline uint32_t ToByte(float f) { return uint32_t(Sat(f) * 255.0f + 0.5f); }

static inline void WritePixel(const SG_DEVICE* pDev, uint32_t* pDst, const COLOR4& s, int bQuantise)
{
    const COLOR4 d = Unpack(*pDst);
    const uint32_t r = ToByte(BlendChannel(pDev, s.r, s.a, d.r));
    const uint32_t g = ToByte(BlendChannel(pDev, s.g, s.a, d.g));
    const uint32_t b = ToByte(BlendChannel(pDev, s.b, s.a, d.b));
    const uint32_t a = ToByte(BlendChannel(pDev, s.a, s.a, d.a));
    const uint32_t c = (a << 24) | (r << 16) | (g << 8) | b;
    *pDst = bQuantise ? Quantise4444(c) : c;
}

// One triangle; pixel centres at whole coordinates; a pixel on an edge belongs to the triangle
// when the edge is a top or a left one.
static void DrawTriangle(SG_DEVICE* pDev, const SG_VERTEX* a, const SG_VERTEX* b, const SG_VERTEX* c)
{
    SG_SURFACE* t = pDev->pTarget;
    double area = (double(b->x) - a->x) * (double(c->y) - a->y) - (double(b->y) - a->y) * (double(c->x) - a->x);
    if (area == 0) return;
    if (area < 0) {
        std::swap(b, c);
        area = -area;
    }
    const SG_VERTEX* v[3] = {a, b, c};
    // Edge i runs from v[i] to v[(i+1)%3]; E_i(p) is positive inside.
    double ex[3], ey[3], e0[3];
    bool abTopLeft[3];
    for (int i = 0; i < 3; ++i) {
        const SG_VERTEX* p = v[i];
        const SG_VERTEX* q = v[(i + 1) % 3];
        const double dx = double(q->x) - p->x, dy = double(q->y) - p->y;
        // E(x, y) = dx * (y - p.y) - dy * (x - p.x)
        ex[i] = -dy;
        ey[i] = dx;
        e0[i] = -dx * p->y + dy * p->x;
        abTopLeft[i] = dy < 0 || (dy == 0 && dx > 0);
    }
    double minx = std::min({double(a->x), double(b->x), double(c->x)});
    double maxx = std::max({double(a->x), double(b->x), double(c->x)});
    double miny = std::min({double(a->y), double(b->y), double(c->y)});
    double maxy = std::max({double(a->y), double(b->y), double(c->y)});
    int x0 = int(std::max(0.0, std::ceil(minx))), x1 = int(std::min(double(t->nWidth - 1), std::floor(maxx)));
    int y0 = int(std::max(0.0, std::ceil(miny))), y1 = int(std::min(double(t->nHeight - 1), std::floor(maxy)));
    if (x0 > x1 || y0 > y1) return;
    const uint32_t dw = a->dwDiffuse;
    const COLOR4 diff = Unpack(dw);
    const int bQuant = t->nFormat == SG_FMT_A4R4G4B4;
    // Barycentric weight of v[k] is the edge function of the edge opposite it: edge (k+1)%3.
    const double inv = 1.0 / area;
    // The texture coordinates change by these per pixel step: du/dx, du/dy, dv/dx, dv/dy.
    double adGrad[4];
    for (int k = 0; k < 2; ++k) {
        const double c0 = v[0]->uv[0][k], c1 = v[1]->uv[0][k], c2 = v[2]->uv[0][k];
        adGrad[2 * k] = (c0 * ex[1] + c1 * ex[2] + c2 * ex[0]) * inv;
        adGrad[2 * k + 1] = (c0 * ey[1] + c1 * ey[2] + c2 * ey[0]) * inv;
    }
    TRI_SAMPLING ts{};
    ts.apTex[0] = pDev->pEffect ? pDev->pEffect->pTex1 : pDev->apStage[0];
    ts.apTex[1] = pDev->pEffect ? pDev->pEffect->pTex2 : nullptr;
    for (int k = 0; k < 2; ++k) ts.anFilter[k] = ChooseFilter(pDev, k, ts.apTex[k], adGrad);
    for (int y = y0; y <= y1; ++y) {
        double e[3];
        for (int i = 0; i < 3; ++i) e[i] = ex[i] * x0 + ey[i] * y + e0[i];
        uint32_t* row = t->pPixels + size_t(y) * t->nWidth;
        for (int x = x0; x <= x1; ++x, e[0] += ex[0], e[1] += ex[1], e[2] += ex[2]) {
            bool in = true;
            for (int i = 0; i < 3 && in; ++i) in = e[i] > 0 || (e[i] == 0 && abTopLeft[i]);
            if (!in) continue;
            const double w0 = e[1] * inv, w1 = e[2] * inv, w2 = e[0] * inv;
            const float u = float(w0 * v[0]->uv[0][0] + w1 * v[1]->uv[0][0] + w2 * v[2]->uv[0][0]);
            const float vv = float(w0 * v[0]->uv[0][1] + w1 * v[1]->uv[0][1] + w2 * v[2]->uv[0][1]);
            WritePixel(pDev, row + x, ShadePixel(pDev, ts, diff, u, vv), bQuant);
        }
    }
}

int SgDrawQuad(SG_DEVICE* pDev, const SG_VERTEX* pV)
{
    if (!pDev || !pDev->pTarget || !pV) return SG_ERR_FAIL;
    DrawTriangle(pDev, &pV[0], &pV[1], &pV[2]);
    DrawTriangle(pDev, &pV[2], &pV[1], &pV[3]);
    return SG_OK;
}

// ---------------------------------------------------------------------------------------------
// The effect.

SG_EFFECT* SgCreateEffect(SG_DEVICE* pDev)
{
    if (!pDev || Fails(SG_STEP_EFFECT)) return nullptr;
    SG_EFFECT* p = new (std::nothrow) SG_EFFECT{};
    if (!p) return nullptr;
    p->pDev = pDev;
    p->fAlpha = 1;
    ++s_nLive;
    return p;
}

void SgReleaseEffect(SG_EFFECT* pEff)
{
    if (!pEff) return;
    if (pEff->pDev && pEff->pDev->pEffect == pEff) pEff->pDev->pEffect = nullptr;
    delete pEff;
    --s_nLive;
}

int SgFindTechnique(SG_EFFECT* pEff, const char* pszName)
{
    if (!pEff || Fails(SG_STEP_TECHNIQUE)) return 0;
    return std::strcmp(pszName, "KX_ShaderTest1") == 0;
}

int SgSetTechnique(SG_EFFECT* pEff, const char* pszName)
{
    if (!pEff || Fails(SG_STEP_SET_TECHNIQUE) || std::strcmp(pszName, "KX_ShaderTest1") != 0) return SG_ERR_FAIL;
    pEff->bTechnique = 1;
    return SG_OK;
}

int SgEffectSetTexture(SG_EFFECT* pEff, const char* pszName, SG_TEXTURE* pTex)
{
    if (!pEff) return SG_ERR_FAIL;
    if (std::strcmp(pszName, "KX_Texture1") == 0) pEff->pTex1 = pTex;
    else if (std::strcmp(pszName, "KX_Texture2") == 0) pEff->pTex2 = pTex;
    else if (std::strcmp(pszName, "KX_Texture3") == 0) {}
    else return SG_ERR_FAIL;
    return SG_OK;
}

int SgEffectSetFloat(SG_EFFECT* pEff, const char* pszName, float f)
{
    if (!pEff) return SG_ERR_FAIL;
    if (std::strcmp(pszName, "KX_AlphaVal") == 0) pEff->fAlpha = f;
    else if (std::strcmp(pszName, "KX_FadeVal") == 0) pEff->fFade = f;
    else if (std::strcmp(pszName, "KX_FadeVal2") == 0) pEff->fFade2 = f;
    else if (std::strcmp(pszName, "KX_TexSize") == 0 || std::strcmp(pszName, "KX_TexDiffU") == 0 ||
             std::strcmp(pszName, "SharpN") == 0) {}
    else return SG_ERR_FAIL;
    return SG_OK;
}

int SgEffectBegin(SG_EFFECT* pEff) { return pEff && pEff->bTechnique ? SG_OK : SG_ERR_FAIL; }

int SgEffectBeginPass(SG_EFFECT* pEff, int nPass)
{
    // Passes 2 and 3 (filters for presenting a frame) are not part of this device.
    if (!pEff || !pEff->bTechnique || nPass < 0 || nPass > 1) return SG_ERR_FAIL;
    pEff->pDev->pEffect = pEff;
    pEff->pDev->nPass = nPass;
    return SG_OK;
}

int SgEffectEndPass(SG_EFFECT* pEff)
{
    if (!pEff) return SG_ERR_FAIL;
    if (pEff->pDev->pEffect == pEff) pEff->pDev->pEffect = nullptr;
    return SG_OK;
}

int SgEffectEnd(SG_EFFECT* pEff) { return SgEffectEndPass(pEff); }

int SgCreateVertexDeclaration(SG_DEVICE* pDev)
{
    if (!pDev || Fails(SG_STEP_VERTEX_DECL)) return SG_ERR_FAIL;
    return SG_OK;
}

// ---------------------------------------------------------------------------------------------
// Matrices, row-vector convention.

void SgMatrixIdentity(SG_MATRIX* pOut)
{
    std::memset(pOut, 0, sizeof *pOut);
    for (int i = 0; i < 4; ++i) pOut->m[i][i] = 1;
}

void SgMatrixTranslation(SG_MATRIX* pOut, float x, float y, float z)
{
    SgMatrixIdentity(pOut);
    pOut->m[3][0] = x;
    pOut->m[3][1] = y;
    pOut->m[3][2] = z;
}

void SgMatrixMultiply(SG_MATRIX* pOut, const SG_MATRIX* pA, const SG_MATRIX* pB)
{
    SG_MATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += pA->m[i][k] * pB->m[k][j];
            r.m[i][j] = s;
        }
    *pOut = r;
}

void SgMatrixRotationZ(SG_MATRIX* pOut, float a)
{
    SgMatrixIdentity(pOut);
    const float c = std::cos(a), s = std::sin(a);
    pOut->m[0][0] = c;
    pOut->m[0][1] = s;
    pOut->m[1][0] = -s;
    pOut->m[1][1] = c;
}

void SgMatrixRotationYawPitchRoll(SG_MATRIX* pOut, float fYaw, float fPitch, float fRoll)
{
    SG_MATRIX z, x, y, t;
    SgMatrixRotationZ(&z, fRoll);
    SgMatrixIdentity(&x);
    const float cp = std::cos(fPitch), sp = std::sin(fPitch);
    x.m[1][1] = cp;
    x.m[1][2] = sp;
    x.m[2][1] = -sp;
    x.m[2][2] = cp;
    SgMatrixIdentity(&y);
    const float cy = std::cos(fYaw), sy = std::sin(fYaw);
    y.m[0][0] = cy;
    y.m[0][2] = -sy;
    y.m[2][0] = sy;
    y.m[2][2] = cy;
    SgMatrixMultiply(&t, &z, &x);
    SgMatrixMultiply(pOut, &t, &y);
}

void SgTransformCoord(float* pX, float* pY, float* pZ, const SG_MATRIX* m)
{
    const float x = *pX, y = *pY, z = *pZ;
    float o[4];
    for (int j = 0; j < 4; ++j) o[j] = x * m->m[0][j] + y * m->m[1][j] + z * m->m[2][j] + m->m[3][j];
    const float w = o[3] != 0 ? o[3] : 1;
    *pX = o[0] / w;
    *pY = o[1] / w;
    *pZ = o[2] / w;
}
