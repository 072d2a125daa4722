// The effect filters that move pixels or group them: mirror, flip, the three waves, mosaic,
// scatter and swirl. Each reads the rectangle (x1, y1)-(x2, y2) of a source image whose rows are
// nSrcWidth pixels long and writes a w x h result (rows of w pixels) into pDst.
//
// Every filter first checks that the rectangle lies inside the source and matches w and h; an
// empty, inverted or outside rectangle changes nothing and gives 0. All position arithmetic is
// 64-bit, so no parameter value can overflow or reach outside a buffer.
#include "imageproc/image_effects.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/kx_math.h"

namespace {

// Degrees to radians: the waves use the single-precision constant, the swirl the double one.
const double kWaveRadPerDegree = static_cast<double>(0.0174532924f);
const double kSwirlRadPerDegree = 0.017453292519444445;

// For the top-left, top-right, bottom-left and bottom-right pixel of a 2 x 2 cell, which pixel of
// the cell (0 TL, 1 TR, 2 BL, 3 BR, before the move) it takes its colour from.
const uint8_t g_abScatterPermutation[24][4] = {
    {3, 2, 1, 0}, {2, 3, 1, 0}, {3, 1, 2, 0}, {1, 3, 2, 0}, {2, 1, 3, 0}, {1, 2, 3, 0},
    {3, 2, 0, 1}, {2, 3, 0, 1}, {3, 0, 2, 1}, {0, 3, 2, 1}, {2, 0, 3, 1}, {0, 2, 3, 1},
    {3, 1, 0, 2}, {1, 3, 0, 2}, {3, 0, 1, 2}, {0, 3, 1, 2}, {1, 0, 3, 2}, {0, 1, 3, 2},
    {2, 1, 0, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {0, 2, 1, 3}, {1, 0, 2, 3}, {0, 1, 2, 3},
};

// The swirl's distance table (distance of each result pixel from the rectangle's centre, whole
// pixels), kept between calls and rebuilt only when the rectangle's size changes. 32-bit entries:
// distances of tall images do not fit 16 bits.
uint32_t* g_pdwSwirlDistance = nullptr;
int64_t g_llSwirlDistW = 0;
int64_t g_llSwirlDistH = 0;

int ReportEffectNoMemory(void)
{
    ReportErrorF(KX_ERR_FILE_NO_MEMORY, 1, "");
    return -1;
}

// 1 when the rectangle lies in the source and is w x h, and both buffers are there.
int IsRectUsable(const uint8_t* pDst, const uint8_t* pSrc, int64_t x1, int64_t y1, int64_t x2, int64_t y2,
                 int64_t nSrcWidth, int64_t nSrcHeight, int64_t w, int64_t h)
{
    if (!pDst || !pSrc)
        return 0;
    if (x1 < 0 || y1 < 0 || x2 < x1 || y2 < y1 || x2 >= nSrcWidth || y2 >= nSrcHeight)
        return 0;
    return (w == x2 - x1 + 1 && h == y2 - y1 + 1) ? 1 : 0;
}

inline const uint8_t* SrcPixel(const uint8_t* pSrc, int64_t nSrcWidth, int64_t x, int64_t y)
{
    return pSrc + (static_cast<size_t>(y) * static_cast<size_t>(nSrcWidth) + static_cast<size_t>(x)) * 4;
}

inline uint8_t* DstRow(uint8_t* pDst, int64_t w, int64_t y)
{
    return pDst + static_cast<size_t>(y) * static_cast<size_t>(w) * 4;
}

inline int64_t Clamp64(int64_t v, int64_t lo, int64_t hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// trunc(d), with values beyond +-2^62 held there (the products here stay far below).
inline int64_t TruncToInt64(double d)
{
    if (!(d > -4.0e18))
        return d != d ? 0 : -(int64_t(1) << 62);
    if (d > 4.0e18)
        return int64_t(1) << 62;
    return static_cast<int64_t>(d);
}

// Copies the colour bytes (B, G, R) of one pixel, keeping the destination's alpha.
inline void CopyColour(uint8_t* pTo, const uint8_t* pFrom)
{
    pTo[0] = pFrom[0];
    pTo[1] = pFrom[1];
    pTo[2] = pFrom[2];
}

// Rearranges the colours of the 2 x 2 cell whose top-left pixel is p (rows nRowBytes apart) by
// row k of the permutation table; alphas stay.
void ScatterCell(uint8_t* p, size_t nRowBytes, int k)
{
    uint8_t* apCell[4] = {p, p + 4, p + nRowBytes, p + nRowBytes + 4};
    uint8_t abOld[4][3];
    for (int i = 0; i < 4; ++i)
        memcpy(abOld[i], apCell[i], 3);
    for (int i = 0; i < 4; ++i)
        CopyColour(apCell[i], abOld[g_abScatterPermutation[k][i]]);
}

}  // namespace

int FilterMirror(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P)
{
    (void)P;
    if (!IsRectUsable(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h))
        return 0;
    for (int64_t y = y1; y <= y2; ++y) {
        uint8_t* pOut = DstRow(pDst, w, y - y1);
        const uint8_t* pIn = SrcPixel(pSrc, nSrcWidth, int64_t(nSrcWidth) - 1 - x1, y);
        for (int64_t i = 0; i < w; ++i, pOut += 4, pIn -= 4)
            memcpy(pOut, pIn, 4);
    }
    return 0;
}

int FilterFlip(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
               int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P)
{
    (void)P;
    if (!IsRectUsable(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h))
        return 0;
    // The whole image turned upside down, then cut to the rectangle: row y takes row H-1-y.
    for (int64_t y = y1; y <= y2; ++y)
        memcpy(DstRow(pDst, w, y - y1), SrcPixel(pSrc, nSrcWidth, x1, int64_t(nSrcHeight) - 1 - y),
               static_cast<size_t>(w) * 4);
    return 0;
}

int FilterWave(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
               int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t Q,
               int32_t nType)
{
    if (!IsRectUsable(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h))
        return 0;
    const double dA = (nType == 1 || nType == 3) ? double(P) : 0.0;
    const double dB = (nType == 2 || nType == 3) ? double(P) : 0.0;
    // The vertical shift of each column, worked out once per call.
    int64_t* pllDy = static_cast<int64_t*>(malloc(static_cast<size_t>(w) * sizeof(int64_t)));
    if (!pllDy)
        return ReportEffectNoMemory();
    for (int64_t x = x1; x <= x2; ++x)
        pllDy[x - x1] = TruncToInt64(dB * cos(double(x + int64_t(Q)) * kWaveRadPerDegree));
    for (int64_t y = y1; y <= y2; ++y) {
        const int64_t llDx = TruncToInt64(dA * sin(double(y + int64_t(Q)) * kWaveRadPerDegree));
        uint8_t* pOut = DstRow(pDst, w, y - y1);
        for (int64_t x = x1; x <= x2; ++x, pOut += 4) {
            const int64_t sx = Clamp64(x + llDx, x1, x2);
            const int64_t sy = Clamp64(y + pllDy[x - x1], y1, y2);
            memcpy(pOut, SrcPixel(pSrc, nSrcWidth, sx, sy), 4);
        }
    }
    free(pllDy);
    return 0;
}

int FilterMosaic(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P)
{
    if (!IsRectUsable(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h))
        return 0;
    const int64_t e = P <= 0 ? 1 : P;
    // The grid passes through the centre; the first blocks are the narrower ones before it.
    const int64_t ox = (int64_t(w) / 2) % e;
    const int64_t oy = (int64_t(h) / 2) % e;
    const size_t nRowBytes = static_cast<size_t>(w) * 4;
    int64_t by0 = 0;
    for (int64_t by1 = oy > 0 ? oy : e; by0 < h; by0 = by1, by1 += e) {
        const int64_t yEnd = by1 < h ? by1 : h;
        int64_t bx0 = 0;
        for (int64_t bx1 = ox > 0 ? ox : e; bx0 < w; bx0 = bx1, bx1 += e) {
            const int64_t xEnd = bx1 < w ? bx1 : w;
            uint64_t aqwSum[3] = {0, 0, 0};
            for (int64_t y = by0; y < yEnd; ++y) {
                const uint8_t* pIn = SrcPixel(pSrc, nSrcWidth, x1 + bx0, y1 + y);
                for (int64_t x = bx0; x < xEnd; ++x, pIn += 4) {
                    aqwSum[0] += pIn[0];
                    aqwSum[1] += pIn[1];
                    aqwSum[2] += pIn[2];
                }
            }
            const uint64_t qwCount = static_cast<uint64_t>((yEnd - by0) * (xEnd - bx0));
            const uint8_t abMean[3] = {static_cast<uint8_t>(aqwSum[0] / qwCount),
                                       static_cast<uint8_t>(aqwSum[1] / qwCount),
                                       static_cast<uint8_t>(aqwSum[2] / qwCount)};
            for (int64_t y = by0; y < yEnd; ++y) {
                const uint8_t* pIn = SrcPixel(pSrc, nSrcWidth, x1 + bx0, y1 + y);
                uint8_t* pOut = pDst + static_cast<size_t>(y) * nRowBytes + static_cast<size_t>(bx0) * 4;
                for (int64_t x = bx0; x < xEnd; ++x, pIn += 4, pOut += 4) {
                    CopyColour(pOut, abMean);
                    pOut[3] = pIn[3];
                }
            }
        }
    }
    return 0;
}

int FilterScatter(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                  int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P)
{
    if (!IsRectUsable(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h))
        return 0;
    const size_t nRowBytes = static_cast<size_t>(w) * 4;
    for (int64_t y = 0; y < h; ++y)
        memcpy(pDst + static_cast<size_t>(y) * nRowBytes, SrcPixel(pSrc, nSrcWidth, x1, y1 + y), nRowBytes);
    const int64_t llPasses = P / 2;
    const int64_t W = w, H = h;
    for (int64_t n = 0; n < llPasses; ++n) {
        // Cells per row of the forward sweep: columns n, n + 2, ... below W - 1.
        const int64_t llCells = W - 1 > n ? (W - 1 - n + 1) / 2 : 0;
        if (llCells == 0 || H - 1 <= n)
            break;   // later passes start further in and find no cell either
        for (int64_t r = n; r < H - 1; r += 2) {
            uint8_t* pRow = pDst + static_cast<size_t>(r) * nRowBytes;
            for (int64_t c = n; c < W - 1; c += 2)
                ScatterCell(pRow + static_cast<size_t>(c) * 4, nRowBytes, MsvcRand() % 24);
        }
        for (int64_t r = H - 2; r >= n; r -= 2) {
            uint8_t* pRow = pDst + static_cast<size_t>(r) * nRowBytes;
            for (int64_t j = 0, c = W - 2 - n; j < llCells; ++j, c -= 2)
                ScatterCell(pRow + static_cast<size_t>(c) * 4, nRowBytes, MsvcRand() % 24);
        }
    }
    return 0;
}

int FilterSwirl(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P)
{
    if (!IsRectUsable(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h))
        return 0;
    const int64_t cx = w / 2, cy = h / 2;
    const int64_t N = static_cast<int64_t>((hypot(double(w), double(h)) + 1.0) * 0.5 + 1.0);

    if (!g_pdwSwirlDistance || g_llSwirlDistW != w || g_llSwirlDistH != h) {
        free(g_pdwSwirlDistance);
        g_pdwSwirlDistance = nullptr;
        g_llSwirlDistW = g_llSwirlDistH = 0;
        uint32_t* pdw = static_cast<uint32_t*>(malloc(static_cast<size_t>(w) * static_cast<size_t>(h) * 4));
        if (!pdw)
            return ReportEffectNoMemory();
        uint32_t* pOut = pdw;
        for (int64_t y = 0; y < h; ++y)
            for (int64_t x = 0; x < w; ++x)
                *pOut++ = static_cast<uint32_t>(hypot(double(llabs(x - cx)), double(llabs(y - cy))));
        g_pdwSwirlDistance = pdw;
        g_llSwirlDistW = w;
        g_llSwirlDistH = h;
    }

    int32_t* pnCos = static_cast<int32_t*>(malloc(static_cast<size_t>(N) * 2 * sizeof(int32_t)));
    if (!pnCos)
        return ReportEffectNoMemory();
    int32_t* pnSin = pnCos + N;
    // The turn falls linearly from P/10 degrees at the centre towards 0 at distance N.
    const double dStep = double(P) / (10.0 * double(N));
    double dAngle = double(P) / 10.0;
    for (int64_t i = 0; i < N; ++i) {
        const double dRad = dAngle * kSwirlRadPerDegree;
        pnCos[i] = static_cast<int32_t>(256.0 * cos(dRad));
        pnSin[i] = static_cast<int32_t>(256.0 * sin(dRad));
        dAngle -= dStep;
    }

    const uint32_t* pdwDist = g_pdwSwirlDistance;
    for (int64_t y = 0; y < h; ++y) {
        uint8_t* pOut = DstRow(pDst, w, y);
        for (int64_t x = 0; x < w; ++x, pOut += 4) {
            int64_t d = *pdwDist++;
            if (d >= N)
                d = N - 1;
            const int64_t s = pnSin[d], c = pnCos[d];
            const int64_t u = Clamp64(cx + (((cy - y) * s + (x - cx) * c) >> 8), 0, int64_t(w) - 1);
            const int64_t v = Clamp64(cy + (((x - cx) * s + (y - cy) * c) >> 8), 0, int64_t(h) - 1);
            memcpy(pOut, SrcPixel(pSrc, nSrcWidth, x1 + u, y1 + v), 4);
        }
    }
    free(pnCos);
    return 0;
}
