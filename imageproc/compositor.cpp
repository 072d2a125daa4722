// The CPU compositor: dirty-box narrowing, the layer-tree walk, clipping, mask curves, colour caches,
// the blend jobs on the worker pool, and the per-window render and present steps of the frame.
#include "imageproc/compositor.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_limits.h"
#include "core/sysfacts.h"
#include "core/window_record.h"
#include "image/dirty_rects.h"
#include "imageproc/blend_modes.h"
#include "imageproc/pixel_ops.h"
#include "core/worker_pool.h"
#include "platform/plat_window.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

int32_t g_aiMaskCurve[256];
int64_t g_nInlineBlendPixels = KX_INLINE_BLEND_PIXELS;

namespace {

uint8_t s_abPictureShown[KX_WINDOWS];
// The window's composition was skipped while nobody could see it.
uint8_t s_abComposeSkipped[KX_WINDOWS];
// The box of each window's picture composed in frames since its last paint (layer pixels), and
// whether the paint came after this frame's composition (what it composed is on the screen then).
DIRTY_BOX s_aUnpresented[KX_WINDOWS];
uint8_t s_abUnpresented[KX_WINDOWS];
uint8_t s_abComposedShown[KX_WINDOWS];

bool IsEmptyBox(const DIRTY_BOX& b) { return b.llLeft > b.llRight || b.llTop > b.llBottom; }

void MergeBox(DIRTY_BOX* pInto, const DIRTY_BOX& b)
{
    pInto->llLeft = std::min(pInto->llLeft, b.llLeft);
    pInto->llTop = std::min(pInto->llTop, b.llTop);
    pInto->llRight = std::max(pInto->llRight, b.llRight);
    pInto->llBottom = std::max(pInto->llBottom, b.llBottom);
}

inline int32_t SaturateInt32(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// One axis of ClipBlit.
void ClipAxis(int64_t p, int64_t n, int64_t c, int64_t m, uint8_t* pCase, int32_t* pOff, int32_t* pDst,
              int32_t* pVis)
{
    const uint8_t bCase = static_cast<uint8_t>((p < c ? 2 : 0) | (p + n > c + m ? 1 : 0));
    int64_t vis, dst, off;
    switch (bCase) {
    case 0: vis = n; dst = p; off = 0; break;
    case 1: vis = c + m - p; dst = p; off = 0; break;
    case 2: vis = p + n - c; dst = c; off = c - p; break;
    default: vis = m; dst = c; off = c - p; break;
    }
    *pCase = bCase;
    *pOff = SaturateInt32(off);
    *pDst = SaturateInt32(dst);
    *pVis = SaturateInt32(vis);
}

// ClipBlit of a rectangle against an inclusive box.
BLIT_CLIP ClipToBox(int64_t x, int64_t y, int64_t w, int64_t h, const DIRTY_BOX& b)
{
    BLIT_CLIP c{};
    c.llSrcX = x;
    c.llSrcY = y;
    c.nSrcWidth = SaturateInt32(w);
    c.nSrcHeight = SaturateInt32(h);
    c.llClipX = b.llLeft;
    c.llClipY = b.llTop;
    c.nClipWidth = SaturateInt32(b.llRight - b.llLeft + 1);
    c.nClipHeight = SaturateInt32(b.llBottom - b.llTop + 1);
    ClipBlit(&c);
    return c;
}

#if defined(__SSE2__)
// Colour balance of n pixels (a multiple of 4), four at a time in 16-bit lanes, the table formula
// v + ((up (255 - v)) >> 7) - ((v down) >> 7) per channel: both products stay below 32768 and the
// result within 0..255. Alpha has up = down = 0 and is kept.
void BalanceColorsSSE2(uint8_t* pDst, const uint8_t* pSrc, int64_t n, const int32_t* pnUp, const int32_t* pnDown)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(255);
    const __m128i up = _mm_set_epi16(0, static_cast<short>(pnUp[2]), static_cast<short>(pnUp[1]),
                                     static_cast<short>(pnUp[0]), 0, static_cast<short>(pnUp[2]),
                                     static_cast<short>(pnUp[1]), static_cast<short>(pnUp[0]));
    const __m128i down = _mm_set_epi16(0, static_cast<short>(pnDown[2]), static_cast<short>(pnDown[1]),
                                       static_cast<short>(pnDown[0]), 0, static_cast<short>(pnDown[2]),
                                       static_cast<short>(pnDown[1]), static_cast<short>(pnDown[0]));
    for (int64_t i = 0; i + 4 <= n; i += 4) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + 4 * i));
        __m128i half[2] = {_mm_unpacklo_epi8(px, zero), _mm_unpackhi_epi8(px, zero)};
        for (__m128i& v : half) {
            const __m128i lift = _mm_srli_epi16(_mm_mullo_epi16(up, _mm_sub_epi16(full, v)), 7);
            const __m128i drop = _mm_srli_epi16(_mm_mullo_epi16(v, down), 7);
            v = _mm_sub_epi16(_mm_add_epi16(v, lift), drop);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + 4 * i), _mm_packus_epi16(half[0], half[1]));
    }
}

// Lowered saturation (k = 128 - s in 1..128) of n pixels, four at a time in 16-bit lanes: the mean
// (b + g + r) / 3 is (sum x 21846) >> 16, exact for every sum up to 765, and (m - v) k lies within
// +-32640, so the arithmetic shift by 7 gives the plain routine's bytes. Alpha is kept.
void LowerSaturationSSE2(uint8_t* pDst, const uint8_t* pSrc, int64_t n, int32_t k)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i third = _mm_set1_epi16(21846);
    const __m128i kk = _mm_set1_epi16(static_cast<short>(k));
    const __m128i alpha = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    for (int64_t i = 0; i + 4 <= n; i += 4) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + 4 * i));
        __m128i half[2] = {_mm_unpacklo_epi8(px, zero), _mm_unpackhi_epi8(px, zero)};
        for (__m128i& v : half) {
            __m128i sum = _mm_add_epi16(v, _mm_add_epi16(_mm_srli_epi64(v, 16), _mm_srli_epi64(v, 32)));
            sum = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sum, 0), 0);
            const __m128i m = _mm_mulhi_epu16(sum, third);
            __m128i d = _mm_add_epi16(v, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(m, v), kk), 7));
            v = _mm_or_si128(_mm_andnot_si128(alpha, d), _mm_and_si128(alpha, v));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + 4 * i), _mm_packus_epi16(half[0], half[1]));
    }
}
#endif

#if defined(__x86_64__) || defined(__i386__)
#define KX_COLOR_AVX2 1
// The colour copy of n pixels (a multiple of 8), eight at a time in 16-bit lanes, giving the
// bytes of the plain forms: colour balance when bBalance, then lowered saturation with k = 128 - s
// when k > 0, on the same registers (the balance leaves every lane within 0..255, the byte the
// saturation would read back). Alpha is kept.
// Balance: each channel either lifts (up > 0, down = 0) or drops (down > 0, up = 0), so one
// product serves: (up x (255 - v)) >> 7 added, or (v x down) >> 7 subtracted, where 255 - v is
// v ^ 255 and the subtraction a sign flip. Saturation: the three channels of each pixel are summed
// into the low 16 bits of its 64 bits, divided by 3 as (sum x 21846) >> 16 (exact up to 765) and
// spread back over the pixel's lanes; then v + (((m - v) k) >> 7), arithmetic, as the plain form.
__attribute__((target("avx2"))) void ColorCopyAVX2(uint8_t* pDst, const uint8_t* pSrc, int64_t n, bool bBalance,
                                                   const int32_t* pnUp, const int32_t* pnDown, int32_t k)
{
    const __m256i zero = _mm256_setzero_si256();
    short aw[4] = {0, 0, 0, 0}, aFlip[4] = {0, 0, 0, 0}, aSign[4] = {1, 1, 1, 1};
    for (int ch = 0; ch < 3; ++ch) {
        if (pnUp[ch] > 0) {
            aw[ch] = static_cast<short>(pnUp[ch]);
            aFlip[ch] = 255;
        } else {
            aw[ch] = static_cast<short>(pnDown[ch]);
            aSign[ch] = -1;
        }
    }
    const __m256i w = _mm256_setr_epi16(aw[0], aw[1], aw[2], 0, aw[0], aw[1], aw[2], 0, aw[0], aw[1], aw[2], 0, aw[0],
                                        aw[1], aw[2], 0);
    const __m256i flip = _mm256_setr_epi16(aFlip[0], aFlip[1], aFlip[2], 0, aFlip[0], aFlip[1], aFlip[2], 0, aFlip[0],
                                           aFlip[1], aFlip[2], 0, aFlip[0], aFlip[1], aFlip[2], 0);
    const __m256i sign = _mm256_setr_epi16(aSign[0], aSign[1], aSign[2], 1, aSign[0], aSign[1], aSign[2], 1, aSign[0],
                                           aSign[1], aSign[2], 1, aSign[0], aSign[1], aSign[2], 1);
    const __m256i sum3 = _mm256_setr_epi16(1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0);
    const __m256i third = _mm256_set1_epi16(21846);
    const __m256i spread = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 8, 9, 8, 9, 8, 9, 8, 9, 0, 1, 0, 1, 0, 1, 0, 1, 8, 9,
                                            8, 9, 8, 9, 8, 9);
    const __m256i kk = _mm256_set1_epi16(static_cast<short>(k));
    for (int64_t i = 0; i + 8 <= n; i += 8) {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pSrc + 4 * i));
        // Pixels 0, 1 | 4, 5 and 2, 3 | 6, 7.
        __m256i lo = _mm256_unpacklo_epi8(px, zero), hi = _mm256_unpackhi_epi8(px, zero);
        if (bBalance) {
            const __m256i tLo = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_xor_si256(lo, flip), w), 7);
            const __m256i tHi = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_xor_si256(hi, flip), w), 7);
            lo = _mm256_add_epi16(lo, _mm256_sign_epi16(tLo, sign));
            hi = _mm256_add_epi16(hi, _mm256_sign_epi16(tHi, sign));
        }
        if (k > 0) {
            // Each pixel's sum in the low 16 bits of its 64 bits, its mean there, spread back.
            __m256i sLo = _mm256_madd_epi16(lo, sum3), sHi = _mm256_madd_epi16(hi, sum3);
            sLo = _mm256_add_epi32(sLo, _mm256_srli_epi64(sLo, 32));
            sHi = _mm256_add_epi32(sHi, _mm256_srli_epi64(sHi, 32));
            const __m256i mLo = _mm256_shuffle_epi8(_mm256_mulhi_epu16(sLo, third), spread);
            const __m256i mHi = _mm256_shuffle_epi8(_mm256_mulhi_epu16(sHi, third), spread);
            const __m256i dLo = _mm256_add_epi16(lo, _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(mLo, lo), kk), 7));
            const __m256i dHi = _mm256_add_epi16(hi, _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(mHi, hi), kk), 7));
            lo = _mm256_blend_epi16(dLo, lo, 0x88);   // alpha (lanes 3 and 7 of each half) kept
            hi = _mm256_blend_epi16(dHi, hi, 0x88);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pDst + 4 * i), _mm256_packus_epi16(lo, hi));
    }
}
#endif

inline bool HasMaskPath(const LAYER* p) { return p->pszMaskPath && p->pszMaskPath[0]; }

inline uint8_t* PixelAt(uint8_t* pBase, int32_t nWidth, int64_t x, int64_t y)
{
    return pBase + (static_cast<size_t>(y) * static_cast<size_t>(nWidth) + static_cast<size_t>(x)) * 4;
}

// ---- Blend jobs ----

int JobBlendCommon(WORKER_JOB* pJob, bool bMask, bool bAlpha)
{
    const WORKER_BLEND_ARGS& a = pJob->blend;
    if (pJob->nFirstRow >= pJob->nEndRow) return 0;
    if (!a.pTarget || !a.pLayer || !a.pTarget->pDisplayPixels || !a.pLayer->pDisplayPixels) return -1;
    if (bMask && !a.pMaskPixels) return -1;
    const LAYER& q = *a.pLayer;
    const int32_t nBytes = a.nWidth * 4;
    BLEND_SPAN_FN pfnSpan = nullptr;
    BLEND_MASK_SPAN_FN pfnMaskSpan = nullptr;
    if (bMask)
        pfnMaskSpan = bAlpha ? SelectBlendSpanMaskAlpha(q.bBlendMode) : SelectBlendSpanMask(q.bBlendMode, q.nOpacity);
    else
        pfnSpan = bAlpha ? SelectBlendSpanAlpha(q.bBlendMode, q.nOpacity) : SelectBlendSpan(q.bBlendMode, q.nOpacity);
    if (!pfnSpan && !pfnMaskSpan) return -1;
    const int32_t nOpacity = std::clamp<int32_t>(q.nOpacity, 0, 256);
    for (int32_t r = pJob->nFirstRow; r < pJob->nEndRow; ++r) {
        uint8_t* pDst = PixelAt(a.pTarget->pDisplayPixels, a.pTarget->nWidth, a.nDstX, int64_t(a.nDstY) + r);
        const uint8_t* pSrc = PixelAt(q.pDisplayPixels, q.nWidth, a.nSrcX, int64_t(a.nSrcY) + r);
        if (bMask) {
            const uint8_t* pMaskRow = PixelAt(a.pMaskPixels, a.pMask->nWidth, a.nSrcX, int64_t(a.nSrcY) + r);
            pfnMaskSpan(pDst, pSrc, pMaskRow, q.nMaskThreshold, q.nMaskVagueness, nBytes);
        } else {
            pfnSpan(pDst, pSrc, nOpacity, nBytes);
        }
    }
    return 0;
}

int JobBlendRows(WORKER_JOB* pJob) { return JobBlendCommon(pJob, false, false); }
int JobBlendRowsMask(WORKER_JOB* pJob) { return JobBlendCommon(pJob, true, false); }
int JobBlendRowsAlpha(WORKER_JOB* pJob) { return JobBlendCommon(pJob, false, true); }
int JobBlendRowsMaskAlpha(WORKER_JOB* pJob) { return JobBlendCommon(pJob, true, true); }

// ---- Queued blends ----

// The blends of one composition into one target are queued and run together: each worker takes a
// share of the target's rows and goes through it in bands, blending into a band the rows of every
// queued layer that fall in it, in the order they were queued. The band of the picture then stays
// in the processor's cache while all layers are blended into it, where one blend after the other
// would carry the whole picture through memory once per layer. Each row of each layer is still
// blended by its own blend routine with the same pointers and length, and every target row gets
// the layers in their order, so the bytes are those of one blend after the other.
enum {
    KX_COMPOSE_BATCH = 64,   // blends queued at most
    KX_BATCH_BAND_ROWS = 8,  // target rows of one band
};

// One queued blend (JOB_BLEND*), or the colour copy of the rows of a layer that the blend after it
// reads (JOB_COLOR_COPY): the job's code and arguments, the target rows [nDstY, nDstY + nRows) it
// belongs to, and what turns a target row into a row of the job (minus the blend's first target
// row; for the colour copy plus the first source row).
struct COMPOSE_BLEND {
    int32_t nCode;
    int32_t nDstY, nRows;
    int32_t nRowShift;
    WORKER_BLEND_ARGS args;
    WORKER_COLOR_ARGS color;
};

struct COMPOSE_BATCH {
    LAYER* pTarget;               // where every queued blend lands
    int32_t nCount;
    uint8_t bMaskCurve;           // a queued blend reads g_aiMaskCurve, built for these values:
    int16_t nCurveOpacity, nCurveThreshold, nCurveVagueness;
    uint8_t bFailed;              // a blend of an earlier run failed
    int32_t nFirstRow, nEndRow;   // the target rows the queued blends touch
    int64_t llPixels;             // visible pixels of the queued blends
    COMPOSE_BLEND aBlend[KX_COMPOSE_BATCH];
};

int JobColorCopyRows(WORKER_JOB* pJob);

// The queued blends over the job's target rows, band by band, each with its rows inside the band. -1 when any of them failed (the others
// are still drawn).
int JobBlendBatch(WORKER_JOB* pJob)
{
    const COMPOSE_BATCH* pBatch = static_cast<const COMPOSE_BATCH*>(pJob->batch.pBatch);
    if (!pBatch) return -1;
    int nResult = 0;
    for (int32_t y0 = pJob->nFirstRow; y0 < pJob->nEndRow; y0 += KX_BATCH_BAND_ROWS) {
        const int32_t y1 = std::min<int32_t>(y0 + KX_BATCH_BAND_ROWS, pJob->nEndRow);
        for (int32_t i = 0; i < pBatch->nCount; ++i) {
            const COMPOSE_BLEND& e = pBatch->aBlend[i];
            const int32_t nFrom = std::max(y0, e.nDstY);
            const int32_t nTo = static_cast<int32_t>(std::min<int64_t>(y1, int64_t(e.nDstY) + e.nRows));
            if (nFrom >= nTo) continue;
            // The colour copy is the compositor's own; a blend goes to the routine installed for it.
            const PFN_WORKER_JOB pfn = e.nCode == JOB_COLOR_COPY ? JobColorCopyRows : GetWorkerJobHandler(e.nCode);
            if (!pfn) continue;
            WORKER_JOB job{};
            job.nIndex = pJob->nIndex;
            job.nCode = e.nCode;
            job.nFirstRow = nFrom + e.nRowShift;
            job.nEndRow = nTo + e.nRowShift;
            if (e.nCode == JOB_COLOR_COPY)
                job.color = e.color;
            else
                job.blend = e.args;
            job.pScratch = pJob->pScratch;
            if (pfn(&job) < 0) nResult = -1;
        }
    }
    return nResult;
}

// Runs the queued blends and empties the queue. 0, or -1 when a blend failed (also kept in
// bFailed for the end of the composition).
int FlushBatch(COMPOSE_BATCH* pBatch)
{
    if (pBatch->nCount == 0) return 0;
    WORKER_JOB job{};
    job.batch.pBatch = pBatch;
    int nResult;
    if (pBatch->llPixels < g_nInlineBlendPixels || g_nWorkers <= 1) {
        // Rows are independent, so one pass over all of them here gives the workers' bytes; with
        // one worker the poster, which would only wait for it, draws them itself.
        job.nCode = JOB_BLEND_BATCH;
        job.nFirstRow = pBatch->nFirstRow;
        job.nEndRow = pBatch->nEndRow;
        nResult = JobBlendBatch(&job);
    } else {
        if (GetWorkerJobHandler(JOB_BLEND_BATCH) != JobBlendBatch) SetWorkerJobHandler(JOB_BLEND_BATCH, JobBlendBatch);
        nResult = PostRowJob(JOB_BLEND_BATCH, &job, pBatch->nFirstRow, pBatch->nEndRow - pBatch->nFirstRow);
    }
    // A colour copy that may not have been written is made again when its layer is next drawn.
    if (nResult < 0)
        for (int32_t i = 0; i < pBatch->nCount; ++i)
            if (pBatch->aBlend[i].nCode == JOB_COLOR_COPY) MarkPixelsChanged(pBatch->aBlend[i].args.pLayer);
    pBatch->nCount = 0;
    pBatch->bMaskCurve = 0;
    pBatch->llPixels = 0;
    if (nResult < 0) {
        pBatch->bFailed = 1;
        return -1;
    }
    return 0;
}

// Whether a queued blend reads the layer's pixels (as its source or as its mask).
bool BatchReadsLayer(const COMPOSE_BATCH* pBatch, const LAYER* pLayer)
{
    for (int32_t i = 0; i < pBatch->nCount; ++i) {
        const COMPOSE_BLEND& e = pBatch->aBlend[i];
        if (e.nCode == JOB_COLOR_COPY) continue;
        const WORKER_BLEND_ARGS& a = e.args;
        if (a.pLayer == pLayer || a.pMask == pLayer ||
            (a.pMaskPixels && (a.pMaskPixels == pLayer->pDisplayPixels || a.pMaskPixels == pLayer->pColorCache)))
            return true;
    }
    return false;
}

// Whether a queued colour copy still has to write these pixels.
bool BatchWritesPixels(const COMPOSE_BATCH* pBatch, const uint8_t* pPixels)
{
    for (int32_t i = 0; i < pBatch->nCount; ++i)
        if (pBatch->aBlend[i].nCode == JOB_COLOR_COPY && pBatch->aBlend[i].color.pDst == pPixels) return true;
    return false;
}

// Adds the target rows [nDstY, nDstY + nRows) and the pixels of an entry to the batch's range.
void CoverRows(COMPOSE_BATCH* pBatch, LAYER* pTarget, int32_t nDstY, int32_t nRows, int64_t llPixels)
{
    const int32_t nEnd = static_cast<int32_t>(std::min<int64_t>(int64_t(nDstY) + nRows, INT32_MAX));
    if (pBatch->nCount == 0) {
        pBatch->pTarget = pTarget;
        pBatch->nFirstRow = nDstY;
        pBatch->nEndRow = nEnd;
    } else {
        pBatch->nFirstRow = std::min(pBatch->nFirstRow, nDstY);
        pBatch->nEndRow = std::max(pBatch->nEndRow, nEnd);
    }
    pBatch->llPixels += llPixels;
}

// Queues the blend of the clipped layer into the target (through the mask when pMask is set; the
// mask curve is built here). What the blend poster refuses is refused the same: -1 for missing
// pixels. A layer drawn from, or masked by, the target's own pixels reads what the blends before it
// wrote, so it runs with everything before it at once.
int QueueBlend(COMPOSE_BATCH* pBatch, int nCode, LAYER* pTarget, LAYER* pLayer, LAYER* pMask, const BLIT_CLIP& clip)
{
    if (!pTarget->pDisplayPixels || !pLayer->pDisplayPixels) return -1;
    if (pMask && !pMask->pDisplayPixels) return -1;
    if (clip.nVisWidth <= 0 || clip.nVisHeight <= 0) return 0;
    MarkPixelsChanged(pTarget);
    const bool bReadsTarget = pLayer->pDisplayPixels == pTarget->pDisplayPixels ||
                              (pMask && pMask->pDisplayPixels == pTarget->pDisplayPixels);
    // The mask curve is global: a masked blend whose curve differs from the one the queued blends
    // read waits for them (layers masked alike share one curve).
    const bool bOtherCurve = pMask && pBatch->bMaskCurve &&
                             (pBatch->nCurveOpacity != pLayer->nOpacity || pBatch->nCurveThreshold != pLayer->nMaskThreshold ||
                              pBatch->nCurveVagueness != pLayer->nMaskVagueness);
    // The colour copy queued just before this blend is its own; a mask whose colour copy is still
    // queued is made first.
    if (pBatch->nCount > 0 && (pBatch->pTarget != pTarget || pBatch->nCount == KX_COMPOSE_BATCH || bOtherCurve ||
                               bReadsTarget || (pMask && BatchWritesPixels(pBatch, pMask->pDisplayPixels))))
        FlushBatch(pBatch);
    if (pMask && !pBatch->bMaskCurve) {
        BuildMaskCurve(pLayer);
        pBatch->bMaskCurve = 1;
        pBatch->nCurveOpacity = pLayer->nOpacity;
        pBatch->nCurveThreshold = pLayer->nMaskThreshold;
        pBatch->nCurveVagueness = pLayer->nMaskVagueness;
    }
    CoverRows(pBatch, pTarget, clip.nDstY, clip.nVisHeight, int64_t(clip.nVisWidth) * clip.nVisHeight);
    COMPOSE_BLEND& e = pBatch->aBlend[pBatch->nCount];
    e.nCode = nCode;
    e.nDstY = clip.nDstY;
    e.nRows = clip.nVisHeight;
    e.nRowShift = -clip.nDstY;
    e.args = WORKER_BLEND_ARGS{};
    e.args.nWidth = clip.nVisWidth;
    e.args.nSrcX = clip.nSrcOffX;
    e.args.nSrcY = clip.nSrcOffY;
    e.args.nDstX = clip.nDstX;
    e.args.nDstY = clip.nDstY;
    e.args.pTarget = pTarget;
    e.args.pLayer = pLayer;
    e.args.pMask = pMask;
    e.args.pMaskPixels = pMask ? pMask->pDisplayPixels : nullptr;
    ++pBatch->nCount;
    if (bReadsTarget) FlushBatch(pBatch);
    return 0;
}

int PostBlend(int nCode, LAYER* pTarget, LAYER* pLayer, LAYER* pMask, const BLIT_CLIP* pClip)
{
    if (!pTarget || !pLayer || !pClip || !pTarget->pDisplayPixels || !pLayer->pDisplayPixels) return -1;
    if (pMask && !pMask->pDisplayPixels) return -1;
    if (pClip->nVisWidth <= 0 || pClip->nVisHeight <= 0) return 0;
    MarkPixelsChanged(pTarget);
    WORKER_JOB job{};
    job.blend.nWidth = pClip->nVisWidth;
    job.blend.nSrcX = pClip->nSrcOffX;
    job.blend.nSrcY = pClip->nSrcOffY;
    job.blend.nDstX = pClip->nDstX;
    job.blend.nDstY = pClip->nDstY;
    job.blend.pTarget = pTarget;
    job.blend.pLayer = pLayer;
    job.blend.pMask = pMask;
    job.blend.pMaskPixels = pMask ? pMask->pDisplayPixels : nullptr;
    if (int64_t(pClip->nVisWidth) * pClip->nVisHeight < g_nInlineBlendPixels) {
        // Rows are independent, so one pass over all of them here gives the workers' bytes.
        job.nCode = nCode;
        job.nFirstRow = 0;
        job.nEndRow = pClip->nVisHeight;
        return JobBlendCommon(&job, nCode == JOB_BLEND_MASK || nCode == JOB_BLEND_MASK_ALPHA,
                              nCode == JOB_BLEND_ALPHA || nCode == JOB_BLEND_MASK_ALPHA);
    }
    return PostRowJob(nCode, &job, 0, pClip->nVisHeight) < 0 ? -1 : 0;
}

// ---- Colour filters ----

// The part of the inclusive rectangle that both buffers hold: source columns [x0, x1), rows [y0, y1).
bool FilterRange(int64_t l, int64_t t, int64_t r, int64_t b, int32_t sw, int32_t sh, int32_t dw, int32_t dh,
                 int64_t* x0, int64_t* x1, int64_t* y0, int64_t* y1)
{
    *x0 = std::max<int64_t>(l, 0);
    *y0 = std::max<int64_t>(t, 0);
    *x1 = std::min<int64_t>({r + 1, int64_t(sw), l + int64_t(dw)});
    *y1 = std::min<int64_t>({b + 1, int64_t(sh), t + int64_t(dh)});
    return *x0 < *x1 && *y0 < *y1;
}

// Colour copy rows [nFirstRow, nEndRow): every pixel depends on its own source pixel alone, so
// any split of the rows gives the same bytes. The rows go in bands of a few that stay in the cache
// between the balance and the saturation pass.
int JobColorCopyRows(WORKER_JOB* pJob)
{
    const WORKER_COLOR_ARGS& a = pJob->color;
    if (!a.pDst || !a.pSrc || a.nWidth <= 0) return 0;
    const int32_t kBandRows = 16;
#if defined(KX_COLOR_AVX2)
    // With AVX2 both filters run in one pass over the columns that fill whole vectors; the last
    // columns, and a raised saturation, go through the plain routines below.
    const int32_t nSaturation = std::max<int32_t>(a.nSaturation, 0);
    const int32_t k = a.bSaturation && nSaturation < 128 ? 128 - nSaturation : 0;
    const int32_t nVector = g_nPixelOpsSimd >= PIXEL_SIMD_AVX2 && (a.bBalance || k > 0) ? a.nWidth & ~7 : 0;
    int32_t anUp[3] = {0, 0, 0}, anDown[3] = {0, 0, 0};
    for (int ch = 0; ch < 3; ++ch) {
        const int32_t c = static_cast<int32_t>((a.dwBalance >> (8 * ch)) & 0xFF);
        anUp[ch] = std::max(0, c - 128);
        anDown[ch] = std::max(0, 128 - c);
    }
#else
    const int32_t nVector = 0;
#endif
    for (int32_t y = pJob->nFirstRow; y < pJob->nEndRow; y += kBandRows) {
        const int32_t n = std::min(kBandRows, pJob->nEndRow - y);
        const size_t nOffset = static_cast<size_t>(y) * static_cast<size_t>(a.nWidth) * 4;
        uint8_t* pTo = a.pDst + nOffset;
        const uint8_t* pFrom = a.pSrc + nOffset;
#if defined(KX_COLOR_AVX2)
        if (nVector > 0) {
            const size_t nStride = static_cast<size_t>(a.nWidth) * 4;
            for (int32_t r = 0; r < n; ++r)
                ColorCopyAVX2(pTo + r * nStride, pFrom + r * nStride, nVector, a.bBalance != 0, anUp, anDown, k);
            const uint8_t* pRest = pFrom;
            if (nVector < a.nWidth) {
                if (a.bBalance) {
                    // The source is given at its origin, the destination at the first column written.
                    FilterColorBalance(pTo + size_t(nVector) * 4, pFrom, nVector, 0,
                                       a.nWidth - 1, n - 1, a.nWidth, n, a.nWidth, n, a.dwBalance);
                    pRest = pTo;
                }
                if (a.bSaturation)
                    FilterSaturation(pTo + size_t(nVector) * 4, pRest, nVector, 0, a.nWidth - 1,
                                     n - 1, a.nWidth, n, a.nWidth, n, a.nSaturation);
            }
            // A raised saturation runs on the balanced vector columns.
            if (a.bSaturation && k == 0)
                FilterSaturation(pTo, pTo, 0, 0, nVector - 1, n - 1, a.nWidth, n, a.nWidth, n, a.nSaturation);
            continue;
        }
#endif
        if (a.bBalance) {
            FilterColorBalance(pTo, pFrom, 0, 0, a.nWidth - 1, n - 1, a.nWidth, n, a.nWidth, n, a.dwBalance);
            pFrom = pTo;
        }
        if (a.bSaturation)
            FilterSaturation(pTo, pFrom, 0, 0, a.nWidth - 1, n - 1, a.nWidth, n, a.nWidth, n, a.nSaturation);
    }
    return 0;
}

// The layer's colour cache buffer for its present size: the one it has when that was made for this
// size (every byte the filters write is written again, and the spare bytes past the rows stay as
// the first allocation cleared them), else a fresh cleared one in place of the old. NULL after the
// reported failure.
uint8_t* ColorCacheBuffer(LAYER* p)
{
    uint8_t* pOld = p->pColorCache == p->pOwnedPixels ? nullptr : p->pColorCache;
    if (pOld && p->nCacheWidth == p->nWidth && p->nCacheHeight == p->nHeight) return pOld;
    uint8_t* pNew = AllocPixelBuffer(pOld, p->nWidth, p->nHeight, "");
    if (!pNew) return nullptr;
    if (p->pDisplayPixels == pOld) p->pDisplayPixels = pNew;
    p->pColorCache = pNew;
    p->nCacheWidth = p->nWidth;
    p->nCacheHeight = p->nHeight;
    return pNew;
}

// The colour copy of rows [nFirst, nEnd) of a layer, now: on the workers, or here when small.
int CopyColorRows(const WORKER_JOB& args, int32_t nFirst, int32_t nEnd)
{
    if (nFirst >= nEnd) return 0;
    WORKER_JOB job = args;
    if (int64_t(args.color.nWidth) * (nEnd - nFirst) < g_nInlineBlendPixels || g_nWorkers <= 1) {
        job.nCode = JOB_COLOR_COPY;
        job.nFirstRow = nFirst;
        job.nEndRow = nEnd;
        return JobColorCopyRows(&job);
    }
    if (GetWorkerJobHandler(JOB_COLOR_COPY) != JobColorCopyRows) SetWorkerJobHandler(JOB_COLOR_COPY, JobColorCopyRows);
    return PostRowJob(JOB_COLOR_COPY, &job, nFirst, nEnd - nFirst) < 0 ? -1 : 0;
}

// Rebuilds the layer's colour cache from its owned pixels over the whole image: colour balance
// first, then saturation on its result. Both neutral: the layer draws its owned pixels again.
// A cache made from the same owned pixels with the same filter values is kept: every writer of the
// pixels clears the stamp (MarkPixelsChanged), so a set stamp means the cache holds what a rebuild
// would write. With a batch, the rows the clipped blend into pTarget reads are queued there (the blend must be
// queued next), so that each band of them is made right before it is blended, while it is still
// in the processor's cache; the other rows are made now. 0, or -1 after a report.
int RefreshColorCache(LAYER* q, COMPOSE_BATCH* pBatch = nullptr, const BLIT_CLIP* pClip = nullptr,
                      LAYER* pTarget = nullptr)
{
    const bool bBalance = (q->nColorBalance & 0xFFFFFF) != KX_COLOR_BALANCE_NEUTRAL;
    const bool bSaturation = q->nSaturation != KX_SATURATION_NEUTRAL;
    if (!bBalance && !bSaturation) {
        if (q->pOwnedPixels) q->pDisplayPixels = q->pOwnedPixels;
        return 0;
    }
    if (!q->pOwnedPixels) return 0;
    if (q->llCacheFrame != 0 && q->pColorCache && q->pColorCache != q->pOwnedPixels && q->nCacheWidth == q->nWidth &&
        q->nCacheHeight == q->nHeight && q->nCacheBalance == q->nColorBalance && q->nCacheSaturation == q->nSaturation) {
        q->pDisplayPixels = q->pColorCache;
        q->llCacheFrame = g_llFrameCount;
        return 0;
    }
    MarkPixelsChanged(q);   // stays clear when the rebuild fails part-way
    uint8_t* pCache = ColorCacheBuffer(q);
    if (!pCache) return -1;
    WORKER_JOB job{};
    job.color.nWidth = q->nWidth;
    job.color.dwBalance = static_cast<uint32_t>(q->nColorBalance);
    job.color.nSaturation = q->nSaturation;
    job.color.bBalance = bBalance ? 1 : 0;
    job.color.bSaturation = bSaturation ? 1 : 0;
    job.color.pDst = pCache;
    job.color.pSrc = q->pOwnedPixels;
    int32_t nFirst = 0, nEnd = 0;   // the rows queued
    if (pBatch && pClip && pTarget && pClip->nVisWidth > 0 && pClip->nVisHeight > 0 && pClip->nSrcOffY >= 0 &&
        int64_t(pClip->nSrcOffY) + pClip->nVisHeight <= q->nHeight) {
        nFirst = pClip->nSrcOffY;
        nEnd = pClip->nSrcOffY + pClip->nVisHeight;
    }
    if (CopyColorRows(job, 0, nFirst) != 0 || CopyColorRows(job, nEnd, q->nHeight) != 0) return -1;
    if (nFirst < nEnd) {
        if (pBatch->nCount > 0 && (pBatch->pTarget != pTarget || pBatch->nCount + 2 > KX_COMPOSE_BATCH))
            FlushBatch(pBatch);
        CoverRows(pBatch, pTarget, pClip->nDstY, pClip->nVisHeight, int64_t(q->nWidth) * pClip->nVisHeight);
        COMPOSE_BLEND& e = pBatch->aBlend[pBatch->nCount];
        e = COMPOSE_BLEND{};
        e.nCode = JOB_COLOR_COPY;
        e.nDstY = pClip->nDstY;
        e.nRows = pClip->nVisHeight;
        e.nRowShift = pClip->nSrcOffY - pClip->nDstY;
        e.color = job.color;
        e.args.pLayer = q;   // whose cache goes stale if the batch fails
        ++pBatch->nCount;
    }
    q->pDisplayPixels = pCache;
    q->llCacheFrame = g_llFrameCount;
    q->nCacheBalance = q->nColorBalance;
    q->nCacheSaturation = q->nSaturation;
    return 0;
}

// The window's layer set node and its LAYER, when the window has something to show.
TREE_NODE* WindowLayerSet(int nWindow, LAYER** ppLayer)
{
    *ppLayer = nullptr;
    if (nWindow < 0 || nWindow >= KX_WINDOWS || !g_apWindowState[nWindow]) return nullptr;
    const WINDOW_STATE* pRec = g_apWindowState[nWindow];
    if (!pRec->bVisible) return nullptr;
    TREE_NODE** ppSlot = g_LayerHooks.pfnWindowLayerSetSlot(nWindow);
    if (!ppSlot || !*ppSlot || !g_LayerHooks.pfnWindowBackLayer(nWindow)) return nullptr;
    LAYER* pLayer = GetNodeLayer(*ppSlot);
    if (!pLayer || !pLayer->bVisible) return nullptr;
    *ppLayer = pLayer;
    return *ppSlot;
}

// The window's client painted black where the picture would be (window thread). Each request is
// the call's own: the call does not wait, and the frame thread may ask again for the next frame
// while the window thread still reads the last request.
struct BLANK_REQUEST {
    uint32_t hWnd;
    int32_t nWidth, nHeight;
};

void BlankWindowNow(void* pArg)
{
    const BLANK_REQUEST r = *static_cast<const BLANK_REQUEST*>(pArg);
    delete static_cast<BLANK_REQUEST*>(pArg);
    uint32_t* pPixels = nullptr;
    int w = 0, h = 0, nPitch = 0;
    if (PlatGetWindowFramebuffer(r.hWnd, &pPixels, &w, &h, &nPitch) != 0 || !pPixels) return;
    const int nCols = std::min(w, std::max(0, r.nWidth - r.nWidth % 4 + 4));
    const int nRows = std::min(h, std::max(0, r.nHeight));
    for (int y = 0; y < nRows; ++y)
        std::memset(reinterpret_cast<uint8_t*>(pPixels) + static_cast<size_t>(y) * nPitch, 0, size_t(nCols) * 4);
    PlatPresentWindow(r.hWnd);
}

} // namespace

// ---- Clipping, boxes and mask curves ----

void ClipBlit(BLIT_CLIP* p)
{
    ClipAxis(p->llSrcX, p->nSrcWidth, p->llClipX, p->nClipWidth, &p->bCaseX, &p->nSrcOffX, &p->nDstX, &p->nVisWidth);
    ClipAxis(p->llSrcY, p->nSrcHeight, p->llClipY, p->nClipHeight, &p->bCaseY, &p->nSrcOffY, &p->nDstY,
             &p->nVisHeight);
}

void AccumulateDirtyBox(LAYER* pLayer, int nBox)
{
    if (!pLayer) return;
    // The own box is the only box a layer carries.
    (void)nBox;
    const DIRTY_BOX& b = pLayer->rcOwn;
    DIRTY_BOX& u = pLayer->rcUnion;
    u.llLeft = std::min(u.llLeft, b.llLeft);
    u.llTop = std::min(u.llTop, b.llTop);
    u.llRight = std::max(u.llRight, b.llRight);
    u.llBottom = std::max(u.llBottom, b.llBottom);
    if (pLayer->bFullRedraw) {
        pLayer->bFullRedraw = 0;
        u = DIRTY_BOX{0, 0, int64_t(pLayer->nWidth) - 1, int64_t(pLayer->nHeight) - 1};
    }
}

void BuildMaskCurve(const LAYER* pLayer)
{
    const int64_t o = pLayer->nOpacity;
    const int64_t t = pLayer->nMaskThreshold;
    const int64_t v = pLayer->nMaskVagueness;
    for (int64_t i = 0; i < 256; ++i) {
        int64_t e;
        if (v == 256) {
            // Hard edge: entries from 256 - t up are full; the threshold is taken within 0..256.
            const int64_t tc = std::clamp<int64_t>(t, 0, 256);
            e = i >= 256 - tc ? 256 : 0;
        } else {
            e = ((i * v) >> 1) + t * ((v >> 1) + 1) - 128 * v;
            e = std::min<int64_t>(e, 255) + 1;
        }
        // Entries of 1 or less leave the pixel alone, so the lower bound changes nothing drawn.
        g_aiMaskCurve[i] = static_cast<int32_t>(std::clamp<int64_t>((o * e) >> 8, 0, 256));
    }
}

// ---- Colour filters ----

void FilterColorBalance(uint8_t* pDst, const uint8_t* pSrc, int64_t nLeft, int64_t nTop, int64_t nRight,
                        int64_t nBottom, int32_t nSrcWidth, int32_t nSrcHeight, int32_t nDstWidth,
                        int32_t nDstHeight, uint32_t dwRGB)
{
    int64_t x0, x1, y0, y1;
    if (!pDst || !pSrc ||
        !FilterRange(nLeft, nTop, nRight, nBottom, nSrcWidth, nSrcHeight, nDstWidth, nDstHeight, &x0, &x1, &y0, &y1))
        return;
    // Tables for the bytes B, G, R (blue from bits 0..7, green 8..15, red 16..23).
    uint8_t aTable[3][256];
    int32_t anUp[4] = {0, 0, 0, 0}, anDown[4] = {0, 0, 0, 0};
    for (int ch = 0; ch < 3; ++ch) {
        const int32_t c = static_cast<int32_t>((dwRGB >> (8 * ch)) & 0xFF);
        const int32_t up = std::max(0, c - 128), down = std::max(0, 128 - c);
        anUp[ch] = up;
        anDown[ch] = down;
        for (int32_t v = 0; v < 256; ++v)
            aTable[ch][v] = static_cast<uint8_t>(v + ((up * (255 - v)) >> 7) - ((v * down) >> 7));
    }
    for (int64_t y = y0; y < y1; ++y) {
        const uint8_t* s = PixelAt(const_cast<uint8_t*>(pSrc), nSrcWidth, x0, y);
        uint8_t* d = PixelAt(pDst, nDstWidth, x0 - nLeft, y - nTop);
        int64_t x = x0;
#if defined(__SSE2__)
        if (g_nPixelOpsSimd != PIXEL_SIMD_NONE) {
            const int64_t nBlock = (x1 - x0) & ~int64_t(3);
            BalanceColorsSSE2(d, s, nBlock, anUp, anDown);
            x += nBlock;
            s += 4 * nBlock;
            d += 4 * nBlock;
        }
#endif
        for (; x < x1; ++x, s += 4, d += 4) {
            d[0] = aTable[0][s[0]];
            d[1] = aTable[1][s[1]];
            d[2] = aTable[2][s[2]];
            d[3] = s[3];
        }
    }
}

void FilterSaturation(uint8_t* pDst, const uint8_t* pSrc, int64_t nLeft, int64_t nTop, int64_t nRight,
                      int64_t nBottom, int32_t nSrcWidth, int32_t nSrcHeight, int32_t nDstWidth,
                      int32_t nDstHeight, int32_t nSaturation)
{
    int64_t x0, x1, y0, y1;
    if (!pDst || !pSrc ||
        !FilterRange(nLeft, nTop, nRight, nBottom, nSrcWidth, nSrcHeight, nDstWidth, nDstHeight, &x0, &x1, &y0, &y1))
        return;
    // Below 0 the formula would leave 0..255; 0 already gives grey.
    const int64_t s = std::max<int32_t>(nSaturation, 0);
    uint8_t abMean[766];
    for (int i = 0; i < 766; ++i) abMean[i] = static_cast<uint8_t>(i / 3);
    for (int64_t y = y0; y < y1; ++y) {
        const uint8_t* p = PixelAt(const_cast<uint8_t*>(pSrc), nSrcWidth, x0, y);
        uint8_t* d = PixelAt(pDst, nDstWidth, x0 - nLeft, y - nTop);
        int64_t x = x0;
#if defined(__SSE2__)
        if (s < 128 && g_nPixelOpsSimd != PIXEL_SIMD_NONE) {
            const int64_t nBlock = (x1 - x0) & ~int64_t(3);
            LowerSaturationSSE2(d, p, nBlock, static_cast<int32_t>(128 - s));
            x += nBlock;
            p += 4 * nBlock;
            d += 4 * nBlock;
        }
#endif
        for (; x < x1; ++x, p += 4, d += 4) {
            const int64_t v[3] = {p[0], p[1], p[2]};
            const int64_t m = abMean[v[0] + v[1] + v[2]];
            const uint8_t a = p[3];
            if (s < 128) {
                const int64_t k = 128 - s;
                for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(v[c] + (((m - v[c]) * k) >> 7));
            } else {
                const int64_t k0 = s - 128;
                int64_t k = k0;
                for (int c = 0; c < 3; ++c) {
                    const int64_t dv = v[c] - m;
                    const int64_t cand = v[c] + ((k0 * dv) >> 7);
                    if (cand > 255) k = std::min(k, (255 - v[c]) * 128 / dv);
                    else if (cand < 0) k = std::min(k, -v[c] * 128 / dv);
                }
                for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(v[c] + (((v[c] - m) * k) >> 7));
            }
            d[3] = a;
        }
    }
}

// ---- Posters ----

int PostBlendJob(LAYER* pTarget, LAYER* pLayer, const BLIT_CLIP* pClip)
{
    return PostBlend(JOB_BLEND, pTarget, pLayer, nullptr, pClip);
}
int PostBlendAlphaJob(LAYER* pTarget, LAYER* pLayer, const BLIT_CLIP* pClip)
{
    return PostBlend(JOB_BLEND_ALPHA, pTarget, pLayer, nullptr, pClip);
}
int PostBlendMaskJob(LAYER* pTarget, LAYER* pLayer, LAYER* pMask, const BLIT_CLIP* pClip)
{
    return pMask ? PostBlend(JOB_BLEND_MASK, pTarget, pLayer, pMask, pClip) : -1;
}
int PostBlendMaskAlphaJob(LAYER* pTarget, LAYER* pLayer, LAYER* pMask, const BLIT_CLIP* pClip)
{
    return pMask ? PostBlend(JOB_BLEND_MASK_ALPHA, pTarget, pLayer, pMask, pClip) : -1;
}

// ---- The tree walk ----

// The mask paths resolved during one composition. A path names the same node for the whole
// composition (neither the layer tree nor the current layer path changes while it runs), so each
// distinct path is looked up once (past KX_COMPOSE_MASKS distinct paths, the others at every use).
// A path that fails to resolve is not kept: every use looks it up and reports again.
enum { KX_COMPOSE_MASKS = 32 };
// The blends the composition has queued and not yet run are kept with them.
struct COMPOSE_MASKS {
    int32_t nCount;
    const char* apszPath[KX_COMPOSE_MASKS];   // the layers' own mask path buffers
    TREE_NODE* apNode[KX_COMPOSE_MASKS];      // the node each names; NULL: none
    char szResolved[KX_MAX_OBJECT_PATH];      // the absolute path being looked up
    COMPOSE_BATCH batch;
};

namespace {

// How a node's children reach the picture.
enum NODE_MODE {
    NODE_OWN_BOX,     // into the node's buffer (at a window's top that is the picture) inside the
                      // node's own dirty box, narrowed to the clip box
    NODE_IN_WINDOW,   // a group with a buffer inside a window: straight into the picture, inside
                      // the box the parent gave
    NODE_DIRECT,      // a group without a buffer inside a window: straight into the picture at the
                      // group's offset, inside the picture's box only
};

// The node being composed.
struct NODE_DRAW {
    TREE_NODE* pNode;
    LAYER* pLayer;        // the node's LAYER; its own dirty box is the box drawn in
    LAYER* pDst;          // where the children land: the pass's target, else the node's buffer
    NODE_MODE nMode;
    DIRTY_BOX rcTarget;   // the target's own box when the children are drawn
};

// The node the mask path names, NULL for none, looked up once per composition. 0, or -1 after the
// path routine reported a bad path.
int LookUpMaskNode(COMPOSE_MASKS* pMasks, const char* pszPath, TREE_NODE** ppNode)
{
    for (int32_t i = 0; i < pMasks->nCount; ++i)
        if (pMasks->apszPath[i] == pszPath || std::strcmp(pMasks->apszPath[i], pszPath) == 0) {
            *ppNode = pMasks->apNode[i];
            return 0;
        }
    const int nKind = NormalizeObjectPath(pMasks->szResolved, pszPath, g_pszLayerPath, 0);
    if (nKind < 0) return -1;
    *ppNode = FindNodeByPath(g_pLayerRoot, pMasks->szResolved, nKind == 1 ? KX_FIND_GROUP : KX_FIND_LEAF);
    if (pMasks->nCount < KX_COMPOSE_MASKS) {
        pMasks->apszPath[pMasks->nCount] = pszPath;
        pMasks->apNode[pMasks->nCount] = *ppNode;
        ++pMasks->nCount;
    }
    return 0;
}

// The mask the child is drawn through, NULL for none: a path naming nothing, a mask without
// pixels, or threshold 256 (the mask lets every pixel through) masks nothing, so only a mask in use
// has to match the child's size. 0, or -1 after a reported failure (a bad path; a mask in use of
// another size, fatal).
int ResolveChildMask(COMPOSE_MASKS* pMasks, const TREE_NODE* pChild, const LAYER* pChildLayer, LAYER** ppMask)
{
    *ppMask = nullptr;
    if (!HasMaskPath(pChildLayer)) return 0;
    TREE_NODE* pMaskNode = nullptr;
    if (LookUpMaskNode(pMasks, pChildLayer->pszMaskPath, &pMaskNode) != 0) return -1;
    LAYER* pMask = GetNodeLayer(pMaskNode);
    if (!pMask || !pMask->pDisplayPixels || pChildLayer->nMaskThreshold >= 256) return 0;
    if (pMask->nWidth != pChildLayer->nWidth || pMask->nHeight != pChildLayer->nHeight) {
        ReportScriptErrorF(KX_ERR_MASK_SIZE, 1, pChild->pszName ? pChild->pszName : "", pChildLayer->nWidth,
                           pChildLayer->nHeight, pMaskNode->pszName ? pMaskNode->pszName : "", pMask->nWidth,
                           pMask->nHeight);
        return -1;
    }
    *ppMask = pMask;
    return 0;
}

// Whether the node is drawn here at all: a CPU image, visible, not fully transparent and not
// masked away by threshold 0.
bool IsDrawnChild(const LAYER* pChild)
{
    return pChild->bVisible && pChild->nOpacity > 0 && !(HasMaskPath(pChild) && pChild->nMaskThreshold <= 0) &&
           pChild->bKind == LAYERKIND_CPU;
}

// A plain child that shows only its own pixels: visible, normal mode, opaque, without alpha and
// without a mask that matters.
bool IsOpaquePlainChild(const TREE_NODE* pChild)
{
    const LAYER* pLayer = GetNodeLayer(pChild);
    if (!pLayer || pChild->bGroup || !pLayer->bVisible || pLayer->bBlendMode != BLEND_NORMAL ||
        pLayer->nOpacity != 256 || pLayer->bHasAlpha || pLayer->bKind != LAYERKIND_CPU || !pLayer->pDisplayPixels)
        return false;
    return !HasMaskPath(pLayer) || pLayer->nMaskThreshold == 256;
}

bool CoversBox(const LAYER* pLayer, const DIRTY_BOX& box)
{
    return pLayer->llX <= box.llLeft && pLayer->llY <= box.llTop && pLayer->llX + pLayer->nWidth - 1 >= box.llRight &&
           pLayer->llY + pLayer->nHeight - 1 >= box.llBottom;
}

bool MissesBox(const LAYER* pLayer, const DIRTY_BOX& box)
{
    return pLayer->llX > box.llRight || pLayer->llY > box.llBottom || pLayer->llX + pLayer->nWidth <= box.llLeft ||
           pLayer->llY + pLayer->nHeight <= box.llTop;
}

// The node's own box becomes the part it redraws: in its own buffer the intersection with the
// clip box; straight into the window the clip box itself; in direct mode it is left alone.
void NarrowOwnBox(LAYER* pLayer, NODE_MODE nMode, const DIRTY_BOX& rcClip)
{
    DIRTY_BOX& box = pLayer->rcOwn;
    if (nMode == NODE_IN_WINDOW) {
        // Drawn straight into the window: everything the window cleared inside this group is
        // redrawn, whatever the group's own box still holds from earlier frames.
        box = rcClip;
    } else if (nMode == NODE_OWN_BOX) {
        box.llLeft = std::max(box.llLeft, rcClip.llLeft);
        box.llTop = std::max(box.llTop, rcClip.llTop);
        box.llRight = std::min(box.llRight, rcClip.llRight);
        box.llBottom = std::min(box.llBottom, rcClip.llBottom);
    }
}

// The steps before the children: the node's mode, its alpha flag and the box it redraws. false
// when the node has nothing to draw.
bool BeginNode(const COMPOSE_PASS* pPass, NODE_DRAW* pDraw)
{
    LAYER* pLayer = pDraw->pLayer;
    const bool bTarget = pPass->pTarget != nullptr;
    if (bTarget && (pLayer->nWidth == 0 || pLayer->nHeight == 0))
        pDraw->nMode = NODE_DIRECT;
    else
        pDraw->nMode = bTarget && pPass->nDepth > 0 ? NODE_IN_WINDOW : NODE_OWN_BOX;
    if (pDraw->nMode != NODE_DIRECT && !pLayer->pDisplayPixels) return false;
    // A group flattened into its own buffer is drawn later without alpha.
    pLayer->bHasAlpha = bTarget ? 1 : static_cast<uint8_t>(1 - (pPass->bGroupTarget ? 1 : 0));
    if (pDraw->nMode == NODE_OWN_BOX && !pLayer->bOwnValid) return false;
    if (pDraw->nMode == NODE_OWN_BOX && pLayer->pOwnedPixels) {
        // The children are drawn into the node's own pixels, never into the colour copy a tinted
        // group was last drawn from (the copy is made again from what is drawn now).
        pLayer->pDisplayPixels = pLayer->pOwnedPixels;
        MarkPixelsChanged(pLayer);
    }
    NarrowOwnBox(pLayer, pDraw->nMode, pPass->rcClip);
    AccumulateDirtyBox(pLayer, 0);
    pDraw->pDst = bTarget ? pPass->pTarget : pLayer;
    return true;
}

// Clears the node's own box (the part inside its buffer) to 0.
void ClearOwnBox(LAYER* pLayer)
{
    const DIRTY_BOX& box = pLayer->rcOwn;
    const int64_t x0 = std::max<int64_t>(box.llLeft, 0), y0 = std::max<int64_t>(box.llTop, 0);
    const int64_t x1 = std::min<int64_t>(box.llRight, int64_t(pLayer->nWidth) - 1);
    const int64_t y1 = std::min<int64_t>(box.llBottom, int64_t(pLayer->nHeight) - 1);
    if (x0 > x1) return;
    for (int64_t y = y0; y <= y1; ++y)
        g_PixelOps.PixelOpClear(PixelAt(pLayer->pDisplayPixels, pLayer->nWidth, x0, y), size_t(x1 - x0 + 1) * 4);
}

// Where drawing starts. The topmost opaque plain child covering the box hides everything below
// it: drawing starts there and nothing is cleared (not looked for in direct mode). Otherwise it
// starts at the first child, and a node drawn into its own buffer has its box cleared first.
TREE_NODE* FindDrawingStart(const NODE_DRAW& draw)
{
    if (draw.nMode != NODE_DIRECT)
        for (TREE_NODE* pChild = draw.pNode->pLastChild; pChild; pChild = pChild->pPrev)
            if (IsOpaquePlainChild(pChild) && CoversBox(GetNodeLayer(pChild), draw.pLayer->rcOwn)) return pChild;
    if (draw.nMode == NODE_OWN_BOX) ClearOwnBox(draw.pLayer);
    return draw.pNode->pFirstChild;
}

// Composes a group child. Its box is the part of it inside the node's box, in its own
// coordinates (in direct mode the whole group).
int ComposeGroupChild(const COMPOSE_PASS* pPass, const NODE_DRAW& draw, TREE_NODE* pChild, const LAYER* pGroup)
{
    COMPOSE_PASS inner = *pPass;
    inner.bGroupTarget = 1;
    inner.nDepth = pPass->nDepth + 1;
    inner.llOffX = pPass->llOffX + pGroup->llX;
    inner.llOffY = pPass->llOffY + pGroup->llY;
    if (draw.nMode == NODE_DIRECT) {
        inner.rcClip = DIRTY_BOX{0, 0, int64_t(pGroup->nWidth) - 1, int64_t(pGroup->nHeight) - 1};
    } else {
        const BLIT_CLIP c = ClipToBox(pGroup->llX, pGroup->llY, pGroup->nWidth, pGroup->nHeight, draw.pLayer->rcOwn);
        inner.rcClip = DIRTY_BOX{c.nSrcOffX, c.nSrcOffY, int64_t(c.nSrcOffX) + c.nVisWidth - 1,
                                 int64_t(c.nSrcOffY) + c.nVisHeight - 1};
    }
    return ComposeLayerTree(pChild, &inner);
}

// The part of the child that is drawn, in the destination's coordinates. false when it misses the
// node's box or nothing of it is visible.
bool ClipChild(const COMPOSE_PASS* pPass, const NODE_DRAW& draw, const LAYER* pChild, BLIT_CLIP* pClip)
{
    const DIRTY_BOX& box = draw.pLayer->rcOwn;
    if (draw.nMode != NODE_DIRECT && MissesBox(pChild, box)) return false;
    if (!pPass->pTarget) {
        *pClip = ClipToBox(pChild->llX, pChild->llY, pChild->nWidth, pChild->nHeight, box);
    } else if (draw.nMode == NODE_DIRECT) {
        *pClip = ClipToBox(pChild->llX + pPass->llOffX, pChild->llY + pPass->llOffY, pChild->nWidth, pChild->nHeight,
                           draw.rcTarget);
    } else {
        // First against the node's box, then the visible part, in the window's coordinates, against
        // the picture's box; the source offsets add up.
        const BLIT_CLIP inNode = ClipToBox(pChild->llX, pChild->llY, pChild->nWidth, pChild->nHeight, box);
        if (inNode.nVisWidth <= 0 || inNode.nVisHeight <= 0) return false;
        *pClip = ClipToBox(inNode.nSrcOffX + pPass->llOffX + pChild->llX, inNode.nSrcOffY + pPass->llOffY + pChild->llY,
                           inNode.nVisWidth, inNode.nVisHeight, draw.rcTarget);
        pClip->nSrcOffX += inNode.nSrcOffX;
        pClip->nSrcOffY += inNode.nSrcOffY;
    }
    return pClip->nVisWidth > 0 && pClip->nVisHeight > 0;
}

// Queues the blend of the clipped child into the destination, through the mask when there is one
// and the threshold lets it matter, with or without alpha. 0, or -1 when the blend is refused.
int QueueChildBlend(COMPOSE_BATCH* pBatch, LAYER* pDst, LAYER* pChild, LAYER* pMask, const BLIT_CLIP& clip)
{
    if (pMask && pChild->nMaskThreshold < 256)
        return QueueBlend(pBatch, pChild->bHasAlpha ? JOB_BLEND_MASK_ALPHA : JOB_BLEND_MASK, pDst, pChild, pMask, clip);
    return QueueBlend(pBatch, pChild->bHasAlpha ? JOB_BLEND_ALPHA : JOB_BLEND, pDst, pChild, nullptr, clip);
}

// Draws one child's own pixels (a plain layer, or a group flattened into its buffer): clipping,
// its mask, its colour filters, the blend. 0 drawn or skipped, -1 after a failure.
int DrawChild(const COMPOSE_PASS* pPass, const NODE_DRAW& draw, const TREE_NODE* pChild, LAYER* pChildLayer)
{
    if (!IsDrawnChild(pChildLayer)) return 0;
    BLIT_CLIP clip;
    if (!ClipChild(pPass, draw, pChildLayer, &clip)) return 0;
    LAYER* pMask = nullptr;
    if (ResolveChildMask(pPass->pMasks, pChild, pChildLayer, &pMask) != 0) return -1;
    if (!pChildLayer->pDisplayPixels) return 0;
    // The colour cache is rebuilt (or let go) under the queued blends that read it.
    COMPOSE_BATCH* pBatch = &pPass->pMasks->batch;
    if (BatchReadsLayer(pBatch, pChildLayer)) FlushBatch(pBatch);
    if (RefreshColorCache(pChildLayer, pBatch, &clip, draw.pDst) != 0) return -1;
    return QueueChildBlend(pBatch, draw.pDst, pChildLayer, pMask, clip) != 0 ? -1 : 0;
}

// Draws the children from pStart to the last (bottom to top). A group's failure does not stop
// its later siblings; any failure makes the result -1.
int DrawChildren(const COMPOSE_PASS* pPass, const NODE_DRAW& draw, TREE_NODE* pStart)
{
    int nResult = 0;
    for (TREE_NODE* pChild = pStart; pChild; pChild = pChild->pNext) {
        LAYER* pChildLayer = GetNodeLayer(pChild);
        if (!pChildLayer) continue;
        if (pChild->bGroup) {
            // A group flattened into its own buffer clears and draws it at once: the queued blends
            // that may read it run first.
            if (!pPass->pTarget) FlushBatch(&pPass->pMasks->batch);
            if (ComposeGroupChild(pPass, draw, pChild, pChildLayer) != 0) nResult = -1;
            // Inside a window the group's children went straight into the picture.
            if (pPass->pTarget) continue;
        }
        if (DrawChild(pPass, draw, pChild, pChildLayer) != 0) return -1;
    }
    return nResult;
}

// A whole composition from its outermost node over the node's whole area.
int ComposeWholeNode(TREE_NODE* pNode, const LAYER* pNodeLayer, LAYER* pTarget, uint8_t bGroupTarget)
{
    COMPOSE_MASKS masks;
    masks.nCount = 0;
    masks.batch.nCount = 0;
    masks.batch.bMaskCurve = 0;
    masks.batch.bFailed = 0;
    masks.batch.llPixels = 0;
    COMPOSE_PASS pass{};
    pass.pTarget = pTarget;
    pass.bGroupTarget = bGroupTarget;
    pass.rcClip = DIRTY_BOX{0, 0, int64_t(pNodeLayer->nWidth) - 1, int64_t(pNodeLayer->nHeight) - 1};
    pass.pMasks = &masks;
    return ComposeLayerTree(pNode, &pass);
}

// The picture window nWindow's children are drawn into: the LAYER of its layer set, when that
// has pixels.
LAYER* WindowPicture(int nWindow)
{
    if (nWindow < 0 || nWindow >= KX_WINDOWS) return nullptr;
    TREE_NODE** ppSlot = g_LayerHooks.pfnWindowLayerSetSlot(nWindow);
    LAYER* pPicture = ppSlot ? GetNodeLayer(*ppSlot) : nullptr;
    return pPicture && pPicture->pDisplayPixels ? pPicture : nullptr;
}

} // namespace

int ComposeLayerTree(TREE_NODE* pNode, const COMPOSE_PASS* pPass)
{
    if (!pNode || !pPass) return 0;
    NODE_DRAW draw{};
    draw.pNode = pNode;
    draw.pLayer = GetNodeLayer(pNode);
    if (!draw.pLayer || !BeginNode(pPass, &draw)) return 0;
    TREE_NODE* pStart = FindDrawingStart(draw);
    if (pPass->pTarget) draw.rcTarget = pPass->pTarget->rcOwn;
    int nResult = DrawChildren(pPass, draw, pStart);
    // The outermost level runs what is still queued; a blend that failed on the way fails it.
    if (pPass->nDepth == 0) {
        COMPOSE_BATCH* pBatch = &pPass->pMasks->batch;
        FlushBatch(pBatch);
        if (pBatch->bFailed) nResult = -1;
        pBatch->bFailed = 0;
    }
    return nResult;
}

int ComposeGroupLayer(TREE_NODE* pNode)
{
    const LAYER* pLayer = GetNodeLayer(pNode);
    if (!pLayer) return 0;
    return ComposeWholeNode(pNode, pLayer, nullptr, 1);
}

// ---- Frame steps ----

int RenderWindowCPU(int nWindow)
{
    LAYER* pLayer = nullptr;
    TREE_NODE* pSet = WindowLayerSet(nWindow, &pLayer);
    if (!pSet) return g_bEngineStop;
    s_abPictureShown[nWindow] = 1;
    // A window nobody can see (minimised, or hidden by the window system) is not composed; once it
    // shows again its whole picture is composed anew, since what changed meanwhile was let go.
    const PLAT_HWND hwnd = g_apWindowState[nWindow]->hWnd;
    if (hwnd && PlatIsWindowOutOfSight(hwnd)) {
        s_abComposeSkipped[nWindow] = 1;
        return g_bEngineStop;
    }
    if (s_abComposeSkipped[nWindow]) {
        s_abComposeSkipped[nWindow] = 0;
        pLayer->rcOwn = DIRTY_BOX{0, 0, int64_t(pLayer->nWidth) - 1, int64_t(pLayer->nHeight) - 1};
        pLayer->bOwnValid = 1;
        pLayer->bFullRedraw = 1;
        pLayer->bChanged = 1;
    }
    if (!pLayer->bChanged) return g_bEngineStop;
    if (nWindow == 0 && g_bDirect3D && g_bFullRedraw) {
        g_bFullRedraw = 0;
        pLayer->rcOwn = DIRTY_BOX{0, 0, int64_t(pLayer->nWidth) - 1, int64_t(pLayer->nHeight) - 1};
        pLayer->bOwnValid = 1;
        pLayer->bFullRedraw = 1;
        pLayer->bChanged = 1;
        g_LayerHooks.pfnRenderGpuFrame();
        if (g_bGpuDirect) return g_bEngineStop;
    }
    LAYER* pPicture = WindowPicture(nWindow);
    if (nWindow >= 0 && nWindow < KX_WINDOWS) {
        // A paint since the last composition showed everything composed so far and left the whole
        // picture as the union box: the box starts empty again, so that it holds what is composed
        // from here on.
        if (s_abComposedShown[nWindow])
            pLayer->rcUnion = DIRTY_BOX{KX_DIRTY_EMPTY_LOW, KX_DIRTY_EMPTY_LOW, KX_DIRTY_EMPTY_HIGH, KX_DIRTY_EMPTY_HIGH};
        s_abComposedShown[nWindow] = 0;
    }
    if (pPicture && ComposeWholeNode(pSet, pLayer, pPicture, 0) != 0) return -1;
    return g_bEngineStop;
}

int PresentWindowCPU(int nWindow)
{
    if (nWindow < 0 || nWindow >= KX_WINDOWS) return g_bEngineStop;
    LAYER* pLayer = nullptr;
    TREE_NODE* pSet = WindowLayerSet(nWindow, &pLayer);
    const WINDOW_STATE* pRec = g_apWindowState[nWindow];
    // A paint the window procedure owes from beside a frame: asked for again, now that the frame's
    // picture is done.
    if (g_abPaintOwed[nWindow].exchange(0) && pRec && pRec->hWnd) PlatInvalidateWindow(pRec->hWnd, 0);
    if (!pSet) {
        s_abPictureShown[nWindow] = 0;
        if (pRec && pRec->hWnd) {
            BLANK_REQUEST* pBlank = new (std::nothrow) BLANK_REQUEST{pRec->hWnd, pRec->nWidth, pRec->nHeight};
            // Refused once the window system has stopped: the request is not run, so it is freed here.
            if (pBlank && PlatRunOnWindowThread(BlankWindowNow, pBlank, 0) != 0) delete pBlank;
        }
        return g_bEngineStop;
    }
    if (pLayer->bChanged) {
        s_abPictureShown[nWindow] = 1;
        // A paint of the window (an expose, a resize, activation) marks the picture changed after
        // showing it whole, without a dirty box: that picture is on the screen already. Asking for
        // another paint for it would make every paint ask for the next, so a game waiting with
        // nothing moving would present every frame. Only a picture with a dirty box is painted.
        const bool bDirty = pLayer->bOwnValid || pLayer->bFullRedraw;
        // Nothing is presented into a window nobody can see; showing it again paints it. A paint
        // that came after this frame's composition showed it already. Else the paint presents the
        // part composed since the last one; a dirty picture without a box is presented whole.
        if (bDirty && pRec && pRec->hWnd && !PlatIsWindowOutOfSight(pRec->hWnd) && !s_abComposedShown[nWindow]) {
            const DIRTY_BOX& box = pLayer->rcUnion;
            if (pLayer->bFullRedraw || IsEmptyBox(box)) {
                PlatInvalidateWindow(pRec->hWnd, 0);
            } else {
                if (!s_abUnpresented[nWindow]) s_aUnpresented[nWindow] = box;
                else MergeBox(&s_aUnpresented[nWindow], box);
                s_abUnpresented[nWindow] = 1;
                PlatInvalidateWindowPart(pRec->hWnd);
            }
        }
    }
    return g_bEngineStop;
}

int TakeUnpresentedBox(int nWindow, const LAYER* pPicture, DIRTY_BOX* pOut)
{
    if (nWindow < 0 || nWindow >= KX_WINDOWS) return 0;
    bool bAny = s_abUnpresented[nWindow] != 0;
    if (bAny) *pOut = s_aUnpresented[nWindow];
    // The union box counts once a composition came after the last paint (a paint leaves it whole).
    if (pPicture && !s_abComposedShown[nWindow] && !IsEmptyBox(pPicture->rcUnion)) {
        if (bAny) MergeBox(pOut, pPicture->rcUnion);
        else *pOut = pPicture->rcUnion;
        bAny = true;
    }
    s_abUnpresented[nWindow] = 0;
    s_abComposedShown[nWindow] = 1;
    return bAny ? 1 : 0;
}

int GetWindowPictureShown(int nWindow)
{
    return nWindow >= 0 && nWindow < KX_WINDOWS ? s_abPictureShown[nWindow] : 0;
}

void InstallCompositor(void)
{
    SetWorkerJobHandler(JOB_BLEND, JobBlendRows);
    SetWorkerJobHandler(JOB_BLEND_MASK, JobBlendRowsMask);
    SetWorkerJobHandler(JOB_BLEND_ALPHA, JobBlendRowsAlpha);
    SetWorkerJobHandler(JOB_BLEND_MASK_ALPHA, JobBlendRowsMaskAlpha);
    SetWorkerJobHandler(JOB_COLOR_COPY, JobColorCopyRows);
    SetWorkerJobHandler(JOB_BLEND_BATCH, JobBlendBatch);
}
