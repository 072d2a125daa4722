// Rotation of a layer's image about its centre, keeping its size.
//
// The destination pixel (x, y) takes its value from the source position (16.16 fixed point)
//   sx = (cx << 16) + J (x - cx) - K (y - cy)
//   sy = (cy << 16) + K (x - cx) + J (y - cy)
// with J = trunc(65536 cos t), K = trunc(65536 sin t), t the angle in radians and (cx, cy) =
// (w / 2, h / 2). Angles 0 and 180 are exact copies (straight and mirrored), 90 and 270 compute
// a band of columns by the nearest mapping, and every other angle computes a range of columns per
// row that lies inside the turned image; everything else is transparent black (0).
//
// Positions are kept in 64-bit integers: they equal the 32-bit fixed-point values wherever those
// fit, and tall images cannot overflow them. The destination is cleared before a kernel writes
// it, so pixels no rule computes (a source position outside the image, an unknown kernel) are 0,
// and no kernel reads a source pixel outside the w x h image. The rows are shared out over the
// image workers (job JOB_ROTATE).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/dirty_rects.h"
#include "image/layer.h"
#include "imageproc/image_effects.h"
#include "imageproc/pixel_ops.h"
#include "core/worker_pool.h"

namespace {

// The angle's fixed-point cosine and sine and its remainder 0..359.
struct ROTATION {
    int32_t nAngle;        // 0..359
    int64_t J, K;          // trunc(65536 cos t), trunc(65536 sin t)
    double c, s;           // cos t, sin t
};

// The remainder of P by 360, 0..359: a negative remainder has 360 added, so -90 turns like 270.
int32_t AngleOf(int64_t P)
{
    int64_t a = P % 360;
    if (a < 0)
        a += 360;
    return static_cast<int32_t>(a);
}

ROTATION MakeRotation(int64_t P)
{
    ROTATION r;
    r.nAngle = AngleOf(P);
    const double t = r.nAngle * 3.1415926535 / 180.0;
    r.c = std::cos(t);
    r.s = std::sin(t);
    r.J = static_cast<int64_t>(std::trunc(65536.0 * r.c));
    r.K = static_cast<int64_t>(std::trunc(65536.0 * r.s));
    return r;
}

void FillZero(uint8_t* p, size_t nBytes)
{
    if (nBytes == 0)
        return;
    if (g_PixelOps.PixelOpFill8)
        g_PixelOps.PixelOpFill8(p, nBytes, 0);
    else
        PixelOpFill8(p, nBytes, 0);
}

inline void CopyPixel(uint8_t* pDst, const uint8_t* pSrc, int64_t w, int64_t col, int64_t row)
{
    memcpy(pDst, pSrc + (row * w + col) * 4, 4);
}

// The kernels differ in the margins of the row ranges, in how a source position is turned into a
// pixel and in the interpolation.
enum KERNEL { KERNEL_CLIPPED, KERNEL_SPANS, KERNEL_BILINEAR };

// Every kernel below writes the destination rows [y0, y1) only, so the rows can be shared out.

// A = 0: the rows unchanged.
void RotateCopy(uint8_t* pDst, const uint8_t* pSrc, int64_t w, int64_t y0, int64_t y1)
{
    memcpy(pDst + y0 * w * 4, pSrc + y0 * w * 4, static_cast<size_t>(w * (y1 - y0) * 4));
}

// A = 180: both axes mirrored.
void RotateHalfTurn(uint8_t* pDst, const uint8_t* pSrc, int64_t w, int64_t h, int64_t y0, int64_t y1)
{
    for (int64_t y = y0; y < y1; ++y) {
        const uint8_t* pRow = pSrc + (h - 1 - y) * w * 4;
        uint8_t* pOut = pDst + y * w * 4;
        for (int64_t x = 0; x < w; ++x)
            memcpy(pOut + x * 4, pRow + (w - 1 - x) * 4, 4);
    }
}

// The nearest pixel of a source position, or nothing when it lies outside the image. The span
// kernel turns a position into a pixel by truncation toward zero, the others by the arithmetic
// shift; either way only a pixel of the image is taken.
inline bool NearestPixel(KERNEL kernel, int64_t sx, int64_t sy, int64_t w, int64_t h, int64_t* pCol, int64_t* pRow)
{
    int64_t col, row;
    if (kernel == KERNEL_SPANS) {
        col = sx / 65536;
        row = sy / 65536;
    } else {
        if (sx < 0 || sy < 0)
            return false;
        col = sx >> 16;
        row = sy >> 16;
    }
    if (col < 0 || row < 0 || col >= w || row >= h)
        return false;
    *pCol = col;
    *pRow = row;
    return true;
}

// A = 90 and 270: the columns max(0, w/2 - h/2) .. min(w, w/2 + h/2) - 1 by the nearest mapping.
template <KERNEL kernel>
void RotateQuarter(uint8_t* pDst, const uint8_t* pSrc, int64_t w, int64_t h, const ROTATION& r, int64_t y0,
                   int64_t y1)
{
    const int64_t cx = w / 2, cy = h / 2;
    int64_t x0 = w / 2 - h / 2, x1 = w / 2 + h / 2;
    if (x0 < 0)
        x0 = 0;
    if (x1 > w)
        x1 = w;
    // The band always uses the nearest mapping; the interpolating kernel takes the shifted form.
    const KERNEL nearest = kernel == KERNEL_SPANS ? KERNEL_SPANS : KERNEL_CLIPPED;
    for (int64_t y = y0; y < y1; ++y) {
        uint8_t* pOut = pDst + y * w * 4;
        int64_t sx = (cx << 16) + r.J * (x0 - cx) - r.K * (y - cy);
        int64_t sy = (cy << 16) + r.K * (x0 - cx) + r.J * (y - cy);
        for (int64_t x = x0; x < x1; ++x, sx += r.J, sy += r.K) {
            int64_t col, row;
            if (NearestPixel(nearest, sx, sy, w, h, &col, &row))
                CopyPixel(pOut + x * 4, pSrc, w, col, row);
        }
    }
}

// Corner values of the general angles: the column and row of the turned image's corners.
struct CORNER {
    int64_t col, row;
};

CORNER TurnCorner(int64_t cx, int64_t cy, int64_t u, int64_t v, const ROTATION& r)
{
    CORNER k;
    k.col = static_cast<int64_t>(std::trunc(double(cx) + double(u) * r.c - double(v) * r.s));
    k.row = static_cast<int64_t>(std::trunc(double(cy) + double(u) * r.s + double(v) * r.c));
    return k;
}

// One interpolated pixel: the four pixels around the position, weighted by the 8-bit fractions.
inline void BilinearPixel(uint8_t* pOut, const uint8_t* pSrc, int64_t w, int64_t h, int64_t sx, int64_t sy)
{
    const int64_t ix = sx >> 16, iy = sy >> 16;
    if (ix < 0 || iy < 0 || ix + 1 >= w || iy + 1 >= h)
        return;
    const int32_t fx = static_cast<int32_t>((sx >> 8) & 255), fy = static_cast<int32_t>((sy >> 8) & 255);
    const uint8_t* p00 = pSrc + (iy * w + ix) * 4;
#if defined(__SSE2__)
    // With 0 <= f < 256, a + (((b - a) f) >> 8) == (a (256 - f) + b f) >> 8 (both floor the same
    // quotient), and a (256 - f) + b f stays below 65536: the four channels on 16-bit lanes.
    const __m128i z = _mm_setzero_si128();
    const __m128i wx = _mm_set_epi16(short(fx), short(fx), short(fx), short(fx), short(256 - fx), short(256 - fx),
                                     short(256 - fx), short(256 - fx));
    const __m128i top = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p00)), z), wx);
    const __m128i bot =
        _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p00 + w * 4)), z), wx);
    // Low halves: top and bottom sums >> 8; then weighted by 256 - fy and fy.
    const __m128i rows = _mm_srli_epi16(_mm_unpacklo_epi64(_mm_add_epi16(top, _mm_srli_si128(top, 8)),
                                                           _mm_add_epi16(bot, _mm_srli_si128(bot, 8))), 8);
    const __m128i wy = _mm_set_epi16(short(fy), short(fy), short(fy), short(fy), short(256 - fy), short(256 - fy),
                                     short(256 - fy), short(256 - fy));
    __m128i v = _mm_mullo_epi16(rows, wy);
    v = _mm_srli_epi16(_mm_add_epi16(v, _mm_srli_si128(v, 8)), 8);
    const uint32_t dw = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    memcpy(pOut, &dw, 4);
#else
    const uint8_t* p10 = p00 + 4;
    const uint8_t* p01 = p00 + w * 4;
    const uint8_t* p11 = p01 + 4;
    for (int c = 0; c < 4; ++c) {
        const int32_t top = p00[c] + (((p10[c] - p00[c]) * fx) >> 8);
        const int32_t bottom = p01[c] + (((p11[c] - p01[c]) * fx) >> 8);
        pOut[c] = static_cast<uint8_t>(top + (((bottom - top) * fy) >> 8));
    }
#endif
}

// Every angle but 0, 90, 180 and 270: per row the computed range [start, end), the rest 0.
template <KERNEL kernel>
void RotateGeneral(uint8_t* pDst, const uint8_t* pSrc, int64_t w, int64_t h, const ROTATION& r, int64_t y0,
                   int64_t y1)
{
    const int64_t cx = w / 2, cy = h / 2;
    const int64_t uL = -cx, uR = w - 1 - cx, vT = -cy, vB = h - 1 - cy;
    const CORNER TL = TurnCorner(cx, cy, uL, vT, r), TR = TurnCorner(cx, cy, uR, vT, r);
    const CORNER BL = TurnCorner(cx, cy, uL, vB, r), BR = TurnCorner(cx, cy, uR, vB, r);
    const int64_t m = kernel == KERNEL_SPANS ? 1 : 2;
    const int64_t n = kernel == KERNEL_SPANS ? 0 : 1;
    const int64_t J = r.J, K = r.K;   // neither is 0 at these angles
    const int32_t A = r.nAngle;
    // The two corners that bound the rows in this quadrant, and whether the start takes a (else b).
    const CORNER& P = (A < 90 || (A > 180 && A < 270)) ? TL : TR;
    const CORNER& Q = (A < 90 || (A > 180 && A < 270)) ? BR : BL;
    const bool bStartA = A < 180;

    for (int64_t y = y0; y < y1; ++y) {
        uint8_t* pOut = pDst + y * w * 4;
        const int64_t TP = h - P.row - y, TQ = h - Q.row - y;
        const int64_t aP = -K * TP / J, bP = J * TP / K;
        const int64_t aQ = -K * TQ / J, bQ = J * TQ / K;
        int64_t s1, s2, e1, e2;
        if (bStartA) {
            s1 = P.col + m + aP;
            s2 = Q.col + m + bQ;
            e1 = P.col + n + bP;
            e2 = Q.col + n + aQ;
        } else {
            s1 = P.col + m + bP;
            s2 = Q.col + m + aQ;
            e1 = P.col + n + aP;
            e2 = Q.col + n + bQ;
        }
        int64_t start = s1 > s2 ? s1 : s2;
        int64_t end = e1 < e2 ? e1 : e2;
        if (start < 0)
            start = 0;
        if (end > w)
            end = w;
        if (start >= end)
            continue;   // the row stays 0

        int64_t sx = (cx << 16) + J * (start - cx) - K * (y - cy);
        int64_t sy = (cy << 16) + K * (start - cx) + J * (y - cy);
        if (kernel == KERNEL_BILINEAR) {
            for (int64_t x = start; x < end; ++x, sx += J, sy += K)
                BilinearPixel(pOut + x * 4, pSrc, w, h, sx, sy);
        } else {
            for (int64_t x = start; x < end; ++x, sx += J, sy += K) {
                int64_t col, row;
                if (NearestPixel(kernel, sx, sy, w, h, &col, &row))
                    CopyPixel(pOut + x * 4, pSrc, w, col, row);
            }
        }
    }
}

// The destination rows [y0, y1) of one rotation: cleared, then computed by the angle's rule.
void RotateRows(uint8_t* pDst, const uint8_t* pSrc, int64_t w, int64_t h, int64_t P, KERNEL kernel, int64_t y0,
                int64_t y1)
{
    if (y0 >= y1)
        return;
    FillZero(pDst + y0 * w * 4, static_cast<size_t>(w * (y1 - y0) * 4));
    const ROTATION r = MakeRotation(P);
    switch (r.nAngle) {
    case 0: RotateCopy(pDst, pSrc, w, y0, y1); break;
    case 180: RotateHalfTurn(pDst, pSrc, w, h, y0, y1); break;
    default: {
        // Each kernel has its own loops (the kernel decides per pixel).
        const bool bQuarter = r.nAngle == 90 || r.nAngle == 270;
        const auto Run = [&](auto k) {
            if (bQuarter)
                RotateQuarter<decltype(k)::value>(pDst, pSrc, w, h, r, y0, y1);
            else
                RotateGeneral<decltype(k)::value>(pDst, pSrc, w, h, r, y0, y1);
        };
        if (kernel == KERNEL_SPANS)
            Run(std::integral_constant<KERNEL, KERNEL_SPANS>{});
        else if (kernel == KERNEL_BILINEAR)
            Run(std::integral_constant<KERNEL, KERNEL_BILINEAR>{});
        else
            Run(std::integral_constant<KERNEL, KERNEL_CLIPPED>{});
        break;
    }
    }
}

int JobRotateRows(WORKER_JOB* pJob)
{
    const WORKER_ROTATE_ARGS& a = pJob->rotate;
    RotateRows(a.pDst, a.pSrc, a.nWidth, a.nHeight, a.nAngle, static_cast<KERNEL>(a.nKernel), pJob->nFirstRow,
               pJob->nEndRow);
    return 0;
}

// A rotation spread over the image workers by destination rows (each row depends on nothing but
// the source and the angle, so the result does not depend on the number of workers).
void RotateWith(uint8_t* pDst, const uint8_t* pSrc, int32_t nWidth, int32_t nHeight, int64_t P, KERNEL kernel)
{
    if (!pDst || !pSrc || nWidth <= 0 || nHeight <= 0)
        return;
    InstallRotationJob();
    WORKER_JOB job;
    memset(&job, 0, sizeof(job));
    job.nCode = JOB_ROTATE;
    job.rotate.nWidth = nWidth;
    job.rotate.nHeight = nHeight;
    job.rotate.nAngle = AngleOf(P);
    job.rotate.nKernel = kernel;
    job.rotate.pDst = pDst;
    job.rotate.pSrc = pSrc;
    PostRowJob(JOB_ROTATE, &job, 0, nHeight);
}

// The layer side of both operations. nType 0 selects the interpolating kernel; an unknown type
// gives a transparent image.
int RotateLayer(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t P, int32_t k, int nType)
{
    LAYER* pSrcLayer = GetNodeLayer(pFirst);
    if (!pSrcLayer || !pSrcLayer->pOwnedPixels)
        return 0;   // nothing to turn
    TREE_NODE* pTargetNode = k >= 1 ? pSecond : pFirst;
    LAYER* pTarget = GetNodeLayer(pTargetNode);
    if (!pTarget)
        return 0;
    const int32_t w = pSrcLayer->nWidth, h = pSrcLayer->nHeight;

    // Into the first layer the owned pixels turn (the layer's colour filter applies again when it is
    // drawn); into a second layer the pixels the first layer shows.
    const uint8_t* pSrc = pSrcLayer->pOwnedPixels;
    if (k >= 1 && pSrcLayer->pDisplayPixels)
        pSrc = pSrcLayer->pDisplayPixels;

    // A second layer of the same size is written in place, unless it holds the pixels being read.
    const bool bShared = pTarget == pSrcLayer || pTarget->pOwnedPixels == pSrcLayer->pOwnedPixels ||
                         pTarget->pOwnedPixels == pSrc;
    const bool bInPlace = k >= 1 && !bShared && pTarget->pOwnedPixels && pTarget->nWidth == w &&
                          pTarget->nHeight == h;
    uint8_t* pDst = bInPlace ? pTarget->pOwnedPixels : AllocPixelBuffer(nullptr, w, h, "");
    if (!pDst)
        return -1;

    switch (nType) {
    case 0: RotateWith(pDst, pSrc, w, h, P, KERNEL_BILINEAR); break;
    case ROTATE_CLIPPED: RotateWith(pDst, pSrc, w, h, P, KERNEL_CLIPPED); break;
    case ROTATE_SPANS: RotateWith(pDst, pSrc, w, h, P, KERNEL_SPANS); break;
    default: FillZero(pDst, static_cast<size_t>(int64_t(w) * h * 4)); break;
    }

    const uint8_t bHasAlpha = (P % 180 != 0) ? 1 : pSrcLayer->bHasAlpha;
    if (bInPlace) {
        MarkPixelsChanged(pTarget);
    } else {
        MarkLayerDirty(pTargetNode);   // the old area, in case the size changes
        SetLayerPixels(pTarget, pDst, w, h);
    }
    pTarget->bHasAlpha = bHasAlpha;
    MarkLayerDirty(pTargetNode);
    return 0;
}

}  // namespace

void InstallRotationJob(void)
{
    if (GetWorkerJobHandler(JOB_ROTATE) != JobRotateRows)
        SetWorkerJobHandler(JOB_ROTATE, JobRotateRows);
}

void RotateNearestClipped(uint8_t* pDst, const uint8_t* pSrc, int32_t w, int32_t h, int32_t P)
{
    RotateWith(pDst, pSrc, w, h, P, KERNEL_CLIPPED);
}

void RotateNearestSpans(uint8_t* pDst, const uint8_t* pSrc, int32_t w, int32_t h, int32_t P)
{
    RotateWith(pDst, pSrc, w, h, P, KERNEL_SPANS);
}

void RotateBilinear(uint8_t* pDst, const uint8_t* pSrc, int32_t w, int32_t h, int32_t P)
{
    RotateWith(pDst, pSrc, w, h, P, KERNEL_BILINEAR);
}

int RotateImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t P, int32_t nLayers, int32_t nType)
{
    // Type 0 is the interpolating kernel inside; from here it is just another unknown type.
    const int nKernel = (nType == ROTATE_CLIPPED || nType == ROTATE_SPANS) ? nType : -1;
    return RotateLayer(pFirst, pSecond, P, nLayers, nKernel);
}

int RotateImageSmooth(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t P, int32_t nLayers)
{
    return RotateLayer(pFirst, pSecond, P, nLayers, 0);
}
