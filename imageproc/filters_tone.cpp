// Effect filters that average pixels over a window (blurs and shadows) or change each pixel on its
// own (brightness, threshold, negative, sepia, fill, alpha ramp). The colour balance and saturation
// effects use the compositor's colour filters (imageproc/compositor.h) directly. ApplyImageEffect places them: a rectangle filter writes a
// rectangle-sized result, result (x - x1, y - y1) from source (x, y); an in-place filter changes the
// rectangle of the source, or of a copy of the whole source image when it is given a destination.
//
// Every filter checks its rectangle against the source buffer and does nothing for a rectangle that
// is empty, inverted or not inside it, so no argument makes it read or write outside a buffer.
#include "imageproc/image_effects.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/errors.h"
#include "core/worker_pool.h"
#include "image/layer.h"
#include "imageproc/filters_window.h"
#include "imageproc/pixel_ops.h"

namespace {

// The rectangle lies inside the source, is not empty and has the size the caller gave.
bool RectInside(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int32_t nSrcWidth, int32_t nSrcHeight,
                int64_t nRectWidth, int64_t nRectHeight)
{
    return x1 >= 0 && y1 >= 0 && x1 <= x2 && y1 <= y2 && x2 < nSrcWidth && y2 < nSrcHeight &&
           x2 - x1 + 1 == nRectWidth && y2 - y1 + 1 == nRectHeight;
}

inline const uint8_t* SrcPixel(const uint8_t* pSrc, int32_t nSrcWidth, int64_t x, int64_t y)
{
    return pSrc + (static_cast<size_t>(y) * static_cast<size_t>(nSrcWidth) + static_cast<size_t>(x)) * 4;
}

// ---- Window averages ----

// What a window filter writes into each channel (B, G, R, A).
enum CHANNEL_RULE : uint8_t {
    CH_AVERAGE,   // the window's average
    CH_COPY,      // the same pixel's value
    CH_ZERO,      // 0
};

// Weight entries 512 >> t are 0 from t = 10 on: beyond the plateau only nine entries per side count.
enum { KX_WEIGHT_PLATEAU = 512, KX_WEIGHT_TAIL = 9 };

// Entry k of the 2r + 1 weight table: 512 on c - q .. c + q (c = r, q = r / 4), halved (truncating)
// per step outward.
inline int64_t WeightEntry(int64_t k, int64_t r)
{
    const int64_t q = r / 4;
    const int64_t d = k < r - q ? (r - q) - k : (k > r + q ? k - (r + q) : 0);
    return d > KX_WEIGHT_TAIL ? 0 : (KX_WEIGHT_PLATEAU >> d);
}

// One line (a row or a column) of n pixels, src and dst each with their own step in bytes. The
// window of pixel i is max(0, i - r) .. min(n - 1, i + r). Box: the window's channel sum over its
// pixel count. Weighted: sum of weight x channel over the sum of the weights used, the k-th pixel of
// the window weighing entry k of the table; a window whose weights are all 0 (a line far shorter
// than the radius) takes the box average instead. Sums come from prefix sums, which gives the same
// integers as running sums or the literal loop. anPrefix holds 4 x (n + 1) entries.
void FilterLine(uint8_t* pDst, ptrdiff_t nDstStep, const uint8_t* pSrc, ptrdiff_t nSrcStep, int64_t n, int64_t r,
                bool bWeighted, const CHANNEL_RULE* aRule, uint64_t* anPrefix)
{
    anPrefix[0] = anPrefix[1] = anPrefix[2] = anPrefix[3] = 0;
    for (int64_t i = 0; i < n; ++i) {
        const uint8_t* s = pSrc + i * nSrcStep;
        for (int c = 0; c < 4; ++c) anPrefix[(i + 1) * 4 + c] = anPrefix[i * 4 + c] + s[c];
    }
    const int64_t q = r / 4;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t s0 = std::max<int64_t>(0, i - r), e0 = std::min<int64_t>(n - 1, i + r);
        uint64_t anSum[4] = {0, 0, 0, 0};
        uint64_t nDiv = static_cast<uint64_t>(e0 - s0 + 1);
        bool bBox = !bWeighted;
        if (bWeighted) {
            // Plateau: window positions r - q .. r + q, i.e. pixels s0 + r - q .. s0 + r + q.
            uint64_t nWeights = 0;
            const int64_t p0 = std::max(s0, s0 + r - q), p1 = std::min(e0, s0 + r + q);
            if (p0 <= p1) {
                nWeights += static_cast<uint64_t>(KX_WEIGHT_PLATEAU) * static_cast<uint64_t>(p1 - p0 + 1);
                for (int c = 0; c < 4; ++c)
                    anSum[c] = KX_WEIGHT_PLATEAU * (anPrefix[(p1 + 1) * 4 + c] - anPrefix[p0 * 4 + c]);
            }
            for (int64_t t = 1; t <= KX_WEIGHT_TAIL; ++t) {
                const uint64_t w = static_cast<uint64_t>(KX_WEIGHT_PLATEAU >> t);
                const int64_t ak[2] = {r - q - t, r + q + t};
                for (int64_t k : ak) {
                    if (k < 0 || k > e0 - s0) continue;
                    const uint8_t* p = pSrc + (s0 + k) * nSrcStep;
                    for (int c = 0; c < 4; ++c) anSum[c] += w * p[c];
                    nWeights += w;
                }
            }
            if (nWeights) nDiv = nWeights;
            else bBox = true;
        }
        if (bBox)
            for (int c = 0; c < 4; ++c) anSum[c] = anPrefix[(e0 + 1) * 4 + c] - anPrefix[s0 * 4 + c];
        const uint8_t* s = pSrc + i * nSrcStep;
        uint8_t* d = pDst + i * nDstStep;
        for (int c = 0; c < 4; ++c) {
            switch (aRule[c]) {
            case CH_AVERAGE: d[c] = static_cast<uint8_t>(anSum[c] / nDiv); break;
            case CH_COPY: d[c] = s[c]; break;
            default: d[c] = 0; break;
            }
        }
    }
}

// A running sum per column and channel of the rows a..b (empty while a > b) of a w-pixel-wide
// image. Both ends only move down, so every row enters and leaves once.
struct ROW_SUMS {
    uint64_t* anSum;
    int64_t a, b;
};

void SlideRows(ROW_SUMS* pSums, int64_t a, int64_t b, const uint8_t* pSrc, ptrdiff_t nSrcRow, int64_t w)
{
    const int64_t n = w * 4;
    for (int64_t y = pSums->a; y <= std::min(pSums->b, a - 1); ++y) {
        const uint8_t* s = pSrc + y * nSrcRow;
        for (int64_t i = 0; i < n; ++i) pSums->anSum[i] -= s[i];
    }
    for (int64_t y = std::max(pSums->b + 1, a); y <= b; ++y) {
        const uint8_t* s = pSrc + y * nSrcRow;
        for (int64_t i = 0; i < n; ++i) pSums->anSum[i] += s[i];
    }
    pSums->a = a;
    pSums->b = b;
}

// The vertical pass: FilterLine on every column, worked row by row so that the image is read along
// its rows. anScratch holds 3 x 4w entries.
void FilterColumns(uint8_t* pDst, ptrdiff_t nDstRow, const uint8_t* pSrc, ptrdiff_t nSrcRow, int64_t w, int64_t h,
                   int64_t r, bool bWeighted, const CHANNEL_RULE* aRule, uint64_t* anScratch)
{
    const int64_t n = w * 4;
    ROW_SUMS box{anScratch, 0, -1}, plateau{anScratch + n, 0, -1};
    uint64_t* anAcc = anScratch + 2 * n;
    std::memset(anScratch, 0, static_cast<size_t>(2 * n) * sizeof(uint64_t));
    const int64_t q = r / 4;
    for (int64_t i = 0; i < h; ++i) {
        const int64_t s0 = std::max<int64_t>(0, i - r), e0 = std::min<int64_t>(h - 1, i + r);
        SlideRows(&box, s0, e0, pSrc, nSrcRow, w);
        const uint64_t* anSum = box.anSum;
        uint64_t nDiv = static_cast<uint64_t>(e0 - s0 + 1);
        if (bWeighted) {
            const int64_t p0 = std::max(s0, s0 + r - q), p1 = std::min(e0, s0 + r + q);
            SlideRows(&plateau, p0, p1, pSrc, nSrcRow, w);
            uint64_t nWeights = p0 <= p1 ? static_cast<uint64_t>(KX_WEIGHT_PLATEAU) * static_cast<uint64_t>(p1 - p0 + 1) : 0;
            for (int64_t k = 0; k < n; ++k) anAcc[k] = KX_WEIGHT_PLATEAU * plateau.anSum[k];
            for (int64_t t = 1; t <= KX_WEIGHT_TAIL; ++t) {
                const uint64_t wt = static_cast<uint64_t>(KX_WEIGHT_PLATEAU >> t);
                const int64_t ak[2] = {r - q - t, r + q + t};
                for (int64_t k : ak) {
                    if (k < 0 || k > e0 - s0) continue;
                    const uint8_t* s = pSrc + (s0 + k) * nSrcRow;
                    for (int64_t j = 0; j < n; ++j) anAcc[j] += wt * s[j];
                    nWeights += wt;
                }
            }
            if (nWeights) {
                anSum = anAcc;
                nDiv = nWeights;
            }
        }
        const uint8_t* s = pSrc + i * nSrcRow;
        uint8_t* d = pDst + i * nDstRow;
        for (int64_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) {
                const int64_t j = x * 4 + c;
                switch (aRule[c]) {
                case CH_AVERAGE: d[j] = static_cast<uint8_t>(anSum[j] / nDiv); break;
                case CH_COPY: d[j] = s[j]; break;
                default: d[j] = 0; break;
                }
            }
    }
}

enum WINDOW_PASSES { PASS_H = 1, PASS_V = 2, PASS_HV = 3 };

// The plain routine, the reference of the vector forms: FilterLine on every row, FilterColumns
// over the columns. 0, or -1 after reporting a failed allocation (nothing written).
int WindowFilterPlain(uint8_t* pDst, const uint8_t* pRect, ptrdiff_t nSrcRow, int64_t w, int64_t h, int64_t r,
                      int nPasses, bool bWeighted, const CHANNEL_RULE* aRule)
{
    const size_t nLine = static_cast<size_t>(std::max(w, h)) + 1;
    // Prefix sums of one line, then the vertical pass's column sums.
    auto* anPrefix = static_cast<uint64_t*>(std::malloc((nLine + 3 * static_cast<size_t>(w)) * 4 * sizeof(uint64_t)));
    uint8_t* pTemp = nullptr;
    if (anPrefix && nPasses == PASS_HV) pTemp = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(w) * h * 4));
    if (!anPrefix || (nPasses == PASS_HV && !pTemp)) {
        std::free(anPrefix);
        ReportErrorF(KX_ERR_FILE_NO_MEMORY, 1, static_cast<const char*>(nullptr));
        return -1;
    }
    const ptrdiff_t nDstRow = static_cast<ptrdiff_t>(w) * 4;
    if (nPasses == PASS_H || nPasses == PASS_HV) {
        uint8_t* pTo = nPasses == PASS_H ? pDst : pTemp;
        for (int64_t y = 0; y < h; ++y) FilterLine(pTo + y * nDstRow, 4, pRect + y * nSrcRow, 4, w, r, bWeighted, aRule, anPrefix);
    }
    if (nPasses == PASS_V || nPasses == PASS_HV) {
        const uint8_t* pFrom = nPasses == PASS_V ? pRect : pTemp;
        const ptrdiff_t nFromRow = nPasses == PASS_V ? nSrcRow : nDstRow;
        FilterColumns(pDst, nDstRow, pFrom, nFromRow, w, h, r, bWeighted, aRule, anPrefix + nLine * 4);
    }
    std::free(pTemp);
    std::free(anPrefix);
    return 0;
}


// ---- Vector forms over the image workers ----

// The window filters' job (JOB_WINDOW_FILTER): the horizontal pass by strips of eight rows, then
// the vertical one by each worker's share of the columns.
enum { KX_STRIP_ROWS = 8, KX_STRIP_BYTES = KX_STRIP_ROWS * 4 };
// Below this many pixels the poster works alone: waking the workers would cost more.
enum { KX_WINDOW_INLINE_PIXELS = 8192 };

struct WINDOW_PLAN {
    PFN_WINDOW_LINES pfnLines;
    int64_t w, h;
    // Horizontal pass: rows from pHIn (nHInRow bytes apart) to pHOut (w pixels a row), through
    // the worker's strips; hLines holds everything but the strip pointers.
    const uint8_t* pHIn;
    ptrdiff_t nHInRow;
    uint8_t* pHOut;
    WINDOW_LINES hLines;
    uint8_t* apStrip[KX_MAX_WORKERS];   // per worker: input strip, output strip, running sums
    WINDOW_LINES vLines;                // vertical pass, complete
    // The workers take strips in turn until none is left, so that a worker that the system holds
    // back leaves its share to the others; a strip's bytes are the same whoever works it. The
    // vertical pass keeps each worker's share of the columns (its rows of the post): a worker
    // walking one wide range reads the rows faster than several taking narrow chunks.
    std::atomic<int64_t> nNextStrip;
    std::atomic<int64_t> nStripsDone;   // the vertical pass starts when every strip is written
    bool bH, bV;
};

int JobWindowStrips(WORKER_JOB* pJob)
{
    WINDOW_PLAN* p = static_cast<WINDOW_PLAN*>(pJob->batch.pBatch);
    const int64_t nStrips = (p->h + KX_STRIP_ROWS - 1) / KX_STRIP_ROWS;
    const int64_t w = p->w;
    uint8_t* pIn = p->apStrip[pJob->nIndex];
    uint8_t* pOut = pIn + w * KX_STRIP_BYTES;
    WINDOW_LINES lines = p->hLines;
    lines.pIn = pIn;
    lines.pOut = pOut;
    lines.pState = reinterpret_cast<uint32_t*>(pOut + w * KX_STRIP_BYTES);
    for (int64_t s = p->nNextStrip++; s < nStrips; s = p->nNextStrip++) {
        const int64_t y0 = s * KX_STRIP_ROWS;
        const int nRows = static_cast<int>(std::min<int64_t>(KX_STRIP_ROWS, p->h - y0));
        // A short strip's missing rows are zeros, worked and never written back.
        if (nRows < KX_STRIP_ROWS) std::memset(pIn, 0, static_cast<size_t>(w) * KX_STRIP_BYTES);
        RowsToStrip(pIn, p->pHIn + y0 * p->nHInRow, p->nHInRow, nRows, w);
        p->pfnLines(&lines, 0, KX_STRIP_BYTES);
        StripToRows(p->pHOut + y0 * w * 4, static_cast<ptrdiff_t>(w) * 4, pOut, nRows, w);
        ++p->nStripsDone;
    }
    return 0;
}

// The vertical pass over the worker's share of the columns.
void WindowColumns(WINDOW_PLAN* p, const WORKER_JOB* pJob)
{
    if (pJob->nFirstRow < pJob->nEndRow)
        p->pfnLines(&p->vLines, int64_t(pJob->nFirstRow) * 4, int64_t(pJob->nEndRow) * 4);
}

// Both passes in one post: a worker that finds no strip left waits for the strips the others are
// still writing (each is being worked, so the wait ends), then works its columns.
int JobWindowFilter(WORKER_JOB* pJob)
{
    WINDOW_PLAN* p = static_cast<WINDOW_PLAN*>(pJob->batch.pBatch);
    if (p->bH) {
        JobWindowStrips(pJob);
        if (p->bV) {
            const int64_t nStrips = (p->h + KX_STRIP_ROWS - 1) / KX_STRIP_ROWS;
            while (p->nStripsDone.load() < nStrips) std::this_thread::yield();
        }
    }
    if (p->bV) WindowColumns(p, pJob);
    return 0;
}

// 1/d raised by four units in the last place: for every sum a <= 255 d (d < 2^31) the product
// a x 1/d then lies in [a / d, floor(a / d) + 1), so truncating it gives the integer quotient.
double RaisedReciprocal(uint64_t d)
{
    double x = 1.0 / static_cast<double>(d);
    for (int k = 0; k < 4; ++k) x = std::nextafter(x, 2.0);
    return x;
}

// The divisors of a line of n positions as the plain routine finds them, and the weights of the
// window near the start. False when a centred window would take its box sum (never for a line
// the vector forms take; checked so that they are never used for one).
bool BuildLineTables(int64_t n, int64_t r, bool bWeighted, double* pInv, uint8_t* pLeftBox, int8_t* pLeftShift)
{
    const int64_t q = r / 4;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t s0 = std::max<int64_t>(0, i - r), e0 = std::min<int64_t>(n - 1, i + r);
        uint64_t nDiv = static_cast<uint64_t>(e0 - s0 + 1);
        bool bBox = !bWeighted;
        if (bWeighted) {
            uint64_t nWeights = 0;
            const int64_t p0 = std::max(s0, s0 + r - q), p1 = std::min(e0, s0 + r + q);
            if (p0 <= p1) nWeights += static_cast<uint64_t>(KX_WEIGHT_PLATEAU) * static_cast<uint64_t>(p1 - p0 + 1);
            for (int64_t t = 1; t <= KX_WEIGHT_TAIL; ++t) {
                const int64_t ak[2] = {r - q - t, r + q + t};
                for (int64_t k : ak)
                    if (k >= 0 && k <= e0 - s0) nWeights += static_cast<uint64_t>(KX_WEIGHT_PLATEAU >> t);
            }
            if (nWeights) nDiv = nWeights;
            else bBox = true;
        }
        if (i < r) pLeftBox[i] = bBox ? 1 : 0;
        else if (bWeighted && bBox) return false;
        pInv[i] = RaisedReciprocal(nDiv);
        const int64_t wk = i <= 2 * r ? WeightEntry(i, r) : 0;
        int8_t nShift = -1;
        for (int b = 0; b <= 9; ++b)
            if (wk == (int64_t(1) << b)) nShift = static_cast<int8_t>(b);
        pLeftShift[i] = nShift;
    }
    return true;
}

inline size_t Align16(size_t n) { return (n + 15) & ~size_t(15); }

// The vector forms of WindowFilter for a rectangle at pRect (rows nSrcRow bytes apart) that does
// not overlap pDst. 1 when they ran (0 or -1 in *pnResult), 0 when the line is one for the plain
// routine.
int WindowFilterVector(uint8_t* pDst, const uint8_t* pRect, ptrdiff_t nSrcRow, int64_t w, int64_t h, int64_t r,
                       int nPasses, bool bWeighted, const CHANNEL_RULE* aRule, PFN_WINDOW_LINES pfnLines,
                       int* pnResult)
{
    const bool bH = (nPasses & PASS_H) != 0, bV = (nPasses & PASS_V) != 0;
    const size_t nW = static_cast<size_t>(w), nH = static_cast<size_t>(h);
    const size_t nStripArea = Align16(nW * 2 * KX_STRIP_BYTES + 3 * KX_STRIP_BYTES * sizeof(uint32_t));
    const size_t nLineH = bH ? nW : 0, nLineV = bV ? nH : 0;
    const size_t nTables = Align16((nLineH + nLineV) * sizeof(double)) + Align16(2 * (nLineH + nLineV));
    const size_t nZero = Align16(std::max<size_t>(nW * 4, KX_STRIP_BYTES));
    const size_t nVState = bV ? Align16(3 * nW * 4 * sizeof(uint32_t)) : 0;
    const size_t nStrips = bH ? KX_MAX_WORKERS * nStripArea : 0;
    const size_t nTemp = nPasses == PASS_HV ? Align16(nW * nH * 4) : 0;
    // Not cleared: every byte but the zero line is written before it is read.
    auto* pBlock = static_cast<uint8_t*>(std::malloc(nTables + nZero + nVState + nStrips + nTemp + 16));
    if (!pBlock) {
        ReportErrorF(KX_ERR_FILE_NO_MEMORY, 1, static_cast<const char*>(nullptr));
        *pnResult = -1;
        return 1;
    }
    uint8_t* pNext = pBlock;
    auto* pInv = reinterpret_cast<double*>(pNext);
    pNext += Align16((nLineH + nLineV) * sizeof(double));
    uint8_t* pLeftBox = pNext;
    auto* pLeftShift = reinterpret_cast<int8_t*>(pNext + nLineH + nLineV);
    pNext += Align16(2 * (nLineH + nLineV));
    uint8_t* pZero = pNext;
    std::memset(pZero, 0, nZero);
    pNext += nZero;
    auto* pVState = reinterpret_cast<uint32_t*>(pNext);
    pNext += nVState;
    uint8_t* pStrips = pNext;
    pNext += nStrips;
    uint8_t* pTemp = nTemp ? pNext : nullptr;

    WINDOW_LINES base{};
    base.pZero = pZero;
    base.r = r;
    base.q = r / 4;
    base.T = std::min<int64_t>(KX_WEIGHT_TAIL, r - r / 4);
    base.bWeighted = bWeighted ? 1 : 0;
    for (int c = 0; c < 8; ++c) {
        base.adwAverage[c] = aRule[c & 3] == CH_AVERAGE ? 0xFFFFFFFFu : 0;
        base.adwCopy[c] = aRule[c & 3] == CH_COPY ? 0xFFFFFFFFu : 0;
        if (aRule[c & 3] == CH_COPY) base.bCopy = 1;
    }
    base.bAlphaOnly = aRule[0] == CH_ZERO && aRule[1] == CH_ZERO && aRule[2] == CH_ZERO && aRule[3] == CH_AVERAGE;
    WINDOW_PLAN plan{};
    plan.pfnLines = pfnLines;
    plan.w = w;
    plan.h = h;
    bool bTables = true;
    if (bH) {
        plan.hLines = base;
        plan.hLines.n = w;
        plan.hLines.nBytes = KX_STRIP_BYTES;
        plan.hLines.nInStep = plan.hLines.nOutStep = KX_STRIP_BYTES;
        plan.hLines.pInv = pInv;
        plan.hLines.pLeftBox = pLeftBox;
        plan.hLines.pLeftShift = pLeftShift;
        bTables = BuildLineTables(w, r, bWeighted, pInv, pLeftBox, pLeftShift);
        plan.pHIn = pRect;
        plan.nHInRow = nSrcRow;
        plan.pHOut = bV ? pTemp : pDst;
        for (int i = 0; i < KX_MAX_WORKERS; ++i) plan.apStrip[i] = pStrips + i * nStripArea;
    }
    if (bV) {
        plan.vLines = base;
        plan.vLines.n = h;
        plan.vLines.nBytes = static_cast<int64_t>(w) * 4;
        plan.vLines.pIn = bH ? pTemp : pRect;
        plan.vLines.nInStep = bH ? static_cast<ptrdiff_t>(w) * 4 : nSrcRow;
        plan.vLines.pOut = pDst;
        plan.vLines.nOutStep = static_cast<ptrdiff_t>(w) * 4;
        plan.vLines.pInv = pInv + nLineH;
        plan.vLines.pLeftBox = pLeftBox + nLineH;
        plan.vLines.pLeftShift = pLeftShift + nLineH;
        plan.vLines.pState = pVState;
        bTables = bTables && BuildLineTables(h, r, bWeighted, pInv + nLineH, pLeftBox + nLineH, pLeftShift + nLineH);
    }
    if (!bTables) {
        std::free(pBlock);
        return 0;
    }

    int nResult = 0;
    plan.nNextStrip = 0;
    plan.nStripsDone = 0;
    plan.bH = bH;
    plan.bV = bV;
    WORKER_JOB job{};
    job.batch.pBatch = &plan;
    if (w * h < KX_WINDOW_INLINE_PIXELS) {
        job.nIndex = 0;
        job.nFirstRow = 0;
        job.nEndRow = static_cast<int32_t>(w);
        JobWindowFilter(&job);
    } else {
        if (GetWorkerJobHandler(JOB_WINDOW_FILTER) != JobWindowFilter) SetWorkerJobHandler(JOB_WINDOW_FILTER, JobWindowFilter);
        // The row shares of the post are the vertical pass's columns.
        nResult = PostRowJob(JOB_WINDOW_FILTER, &job, 0, static_cast<int>(w));
    }
    std::free(pBlock);
    *pnResult = nResult < 0 ? -1 : 0;
    return 1;
}

// The vector form the processor allows, or NULL for the plain routine.
PFN_WINDOW_LINES ChooseWindowLines(void)
{
    if (g_nPixelOpsSimd >= PIXEL_SIMD_AVX2) return WindowLinesAvx2;
    if (g_nPixelOpsSimd >= PIXEL_SIMD_SSE2) return WindowLinesSse2;
    return nullptr;
}

// Runs the window filter over the rectangle into pDst (rows of the rectangle's width): one
// horizontal or vertical pass, or a horizontal pass into a temporary image (bytes) and a vertical
// pass from it. 0, or -1 after reporting a failed allocation (nothing written).
//
// A destination that overlaps the source rectangle gets the result the filter gives from a
// separate copy of the rectangle: the passes read neighbours they may already have written.
int WindowFilter(uint8_t* pDst, const uint8_t* pSrc, int64_t x1, int64_t y1, int64_t x2, int64_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t nRectWidth, int32_t nRectHeight, int32_t nRadius,
                 int nPasses, bool bWeighted, const CHANNEL_RULE* aRule)
{
    if (!pDst || !pSrc || !RectInside(x1, y1, x2, y2, nSrcWidth, nSrcHeight, nRectWidth, nRectHeight)) return 0;
    const int64_t r = nRadius <= 0 ? 1 : nRadius;
    const int64_t w = nRectWidth, h = nRectHeight;
    ptrdiff_t nSrcRow = static_cast<ptrdiff_t>(nSrcWidth) * 4;
    const ptrdiff_t nDstRow = static_cast<ptrdiff_t>(w) * 4;
    const uint8_t* pRect = SrcPixel(pSrc, nSrcWidth, x1, y1);
    uint8_t* pCopy = nullptr;
    const uintptr_t uRead0 = reinterpret_cast<uintptr_t>(pRect);
    const uintptr_t uRead1 = uRead0 + static_cast<uintptr_t>(h - 1) * static_cast<uintptr_t>(nSrcRow) + static_cast<uintptr_t>(w) * 4;
    const uintptr_t uWrite0 = reinterpret_cast<uintptr_t>(pDst);
    const uintptr_t uWrite1 = uWrite0 + static_cast<uintptr_t>(w) * static_cast<uintptr_t>(h) * 4;
    if (uWrite0 < uRead1 && uRead0 < uWrite1) {
        pCopy = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(w) * static_cast<size_t>(h) * 4));
        if (!pCopy) {
            ReportErrorF(KX_ERR_FILE_NO_MEMORY, 1, static_cast<const char*>(nullptr));
            return -1;
        }
        for (int64_t y = 0; y < h; ++y) std::memcpy(pCopy + y * nDstRow, pRect + y * nSrcRow, static_cast<size_t>(nDstRow));
        pRect = pCopy;
        nSrcRow = nDstRow;
    }
    PFN_WINDOW_LINES pfnLines = ChooseWindowLines();
    if (pfnLines && w <= KX_WINDOW_MAX_LINE && h <= KX_WINDOW_MAX_LINE) {
        int nResult = 0;
        if (WindowFilterVector(pDst, pRect, nSrcRow, w, h, r, nPasses, bWeighted, aRule, pfnLines, &nResult)) {
            std::free(pCopy);
            return nResult;
        }
    }
    const int nResult = WindowFilterPlain(pDst, pRect, nSrcRow, w, h, r, nPasses, bWeighted, aRule);
    std::free(pCopy);
    return nResult;
}

const CHANNEL_RULE kAverageAll[4] = {CH_AVERAGE, CH_AVERAGE, CH_AVERAGE, CH_AVERAGE};
const CHANNEL_RULE kAverageColour[4] = {CH_AVERAGE, CH_AVERAGE, CH_AVERAGE, CH_COPY};
const CHANNEL_RULE kAverageAlphaBlack[4] = {CH_ZERO, CH_ZERO, CH_ZERO, CH_AVERAGE};

// ---- Per-pixel helpers ----

// Calls fn(pixel) for every pixel of the rectangle of a rectangle filter: reads the source, writes
// the rectangle-sized destination.
template <class F>
int MapRect(uint8_t* pDst, const uint8_t* pSrc, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int32_t nSrcWidth,
            int32_t nSrcHeight, int32_t nRectWidth, int32_t nRectHeight, F fn)
{
    if (!pDst || !pSrc || !RectInside(x1, y1, x2, y2, nSrcWidth, nSrcHeight, nRectWidth, nRectHeight)) return 0;
    for (int64_t y = 0; y < nRectHeight; ++y) {
        const uint8_t* s = SrcPixel(pSrc, nSrcWidth, x1, y1 + y);
        uint8_t* d = pDst + static_cast<size_t>(y) * static_cast<size_t>(nRectWidth) * 4;
        for (int64_t x = 0; x < nRectWidth; ++x, s += 4, d += 4) fn(d, s);
    }
    return 0;
}

// The buffer an in-place filter works on: the source itself, or the destination after the whole
// source image has been copied into it. NULL when there is nothing to work on.
uint8_t* InPlaceTarget(uint8_t* pDst, const uint8_t* pSrc, int32_t nSrcWidth, int32_t nSrcHeight)
{
    if (!pSrc || nSrcWidth <= 0 || nSrcHeight <= 0) return nullptr;
    if (!pDst) return const_cast<uint8_t*>(pSrc);  // in place: the caller's own pixels
    if (pDst != pSrc) std::memcpy(pDst, pSrc, static_cast<size_t>(nSrcWidth) * static_cast<size_t>(nSrcHeight) * 4);
    return pDst;
}

// The in-place rectangle, clipped to the image; false when nothing of it lies inside.
bool InPlaceRange(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int32_t nSrcWidth, int32_t nSrcHeight,
                  int64_t* px0, int64_t* px1, int64_t* py0, int64_t* py1)
{
    *px0 = std::max<int64_t>(x1, 0);
    *py0 = std::max<int64_t>(y1, 0);
    *px1 = std::min<int64_t>(x2, int64_t(nSrcWidth) - 1);
    *py1 = std::min<int64_t>(y2, int64_t(nSrcHeight) - 1);
    return *px0 <= *px1 && *py0 <= *py1;
}

}  // namespace

// ---- Blur and shadow ----

int FilterBlur(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t nSrcWidth,
               int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t bHasAlpha)
{
    return WindowFilter(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h, P, PASS_HV,
                        bHasAlpha != 0, bHasAlpha ? kAverageAll : kAverageColour);
}

int FilterBlurH(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t nSrcWidth,
                int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t bHasAlpha)
{
    return WindowFilter(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h, P, PASS_H, false,
                        bHasAlpha ? kAverageAll : kAverageColour);
}

int FilterBlurV(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t nSrcWidth,
                int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t bHasAlpha)
{
    return WindowFilter(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h, P, PASS_V, false,
                        bHasAlpha ? kAverageAll : kAverageColour);
}

int FilterBlurBox(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                  int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P,
                  int32_t bHasAlpha)
{
    return WindowFilter(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h, P, PASS_HV, false,
                        bHasAlpha ? kAverageAll : kAverageColour);
}

int FilterSoftShadow(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                     int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P,
                     int32_t bHasAlpha)
{
    // The has-alpha flag is not read: the silhouette always comes from the alpha bytes.
    return WindowFilter(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h, P, PASS_HV, true,
                        kAverageAlphaBlack);
}

int FilterShadow(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P,
                 int32_t bHasAlpha)
{
    return WindowFilter(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h, P, PASS_HV, false,
                        bHasAlpha ? kAverageAlphaBlack : kAverageColour);
}

// ---- Colour and tone ----

int FilterBrightness(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                     int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P)
{
    // clamp(c + P - 128, 0, 255) for every byte value c, built once per call.
    uint8_t abMap[256];
    for (int32_t c = 0; c < 256; ++c)
        abMap[c] = static_cast<uint8_t>(std::clamp<int64_t>(int64_t(c) + P - 128, 0, 255));
    return MapRect(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h,
                   [&](uint8_t* d, const uint8_t* s) {
                       d[0] = abMap[s[0]];
                       d[1] = abMap[s[1]];
                       d[2] = abMap[s[2]];
                       d[3] = s[3];
                   });
}

int FilterThreshold(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t nSrcWidth,
                    int32_t nSrcHeight, int32_t w, int32_t h, int32_t P)
{
    uint8_t* pImage = InPlaceTarget(pDst, pSrc, nSrcWidth, nSrcHeight);
    int64_t x0, xe, y0, ye;
    if (!pImage || !InPlaceRange(x1, y1, x2, y2, nSrcWidth, nSrcHeight, &x0, &xe, &y0, &ye)) return 0;
    const int64_t nLimit = 3 * int64_t(P);
    for (int64_t y = y0; y <= ye; ++y) {
        uint8_t* p = pImage + (static_cast<size_t>(y) * static_cast<size_t>(nSrcWidth) + static_cast<size_t>(x0)) * 4;
        for (int64_t x = x0; x <= xe; ++x, p += 4) {
            const uint8_t v = int64_t(p[0]) + p[1] + p[2] >= nLimit ? 255 : 0;
            p[0] = p[1] = p[2] = v;
        }
    }
    return 0;
}

int FilterNegative(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                   int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P)
{
    return MapRect(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h,
                   [](uint8_t* d, const uint8_t* s) {
                       uint32_t v;
                       std::memcpy(&v, s, 4);
                       v ^= 0x00FFFFFFu;
                       std::memcpy(d, &v, 4);
                   });
}

int FilterSepia(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t nSrcWidth,
                int32_t nSrcHeight, int32_t w, int32_t h, int32_t P)
{
    // Luma in 2^20 fixed point (BT.601 weights), then three offsets: blue and green lose a little,
    // red gains; blue and green truncate toward zero and stop at 0, red shifts and stops at 255.
    return MapRect(pDst, pSrc, x1, y1, x2, y2, nSrcWidth, nSrcHeight, w, h,
                   [](uint8_t* d, const uint8_t* s) {
                       const int64_t L = (117 * int64_t(s[0]) + 601 * int64_t(s[1]) + 306 * int64_t(s[2])) * 1024;
                       const int64_t b = (L - 46347025) / (int64_t(1) << 20);
                       const int64_t g = (L - 287585) / (int64_t(1) << 20);
                       const int64_t r = (L + 18748416) >> 20;
                       d[0] = static_cast<uint8_t>(std::clamp<int64_t>(b, 0, 255));
                       d[1] = static_cast<uint8_t>(std::clamp<int64_t>(g, 0, 255));
                       d[2] = static_cast<uint8_t>(std::min<int64_t>(r, 255));
                       d[3] = s[3];
                   });
}

int FilterFill(uint8_t* pDst, const uint8_t* pSrc, uint8_t* pbHasAlpha, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
               int32_t nSrcWidth, int32_t nSrcHeight, int32_t P, int32_t nSubType)
{
    uint8_t* pImage = InPlaceTarget(pDst, pSrc, nSrcWidth, nSrcHeight);
    int64_t x0, xe, y0, ye;
    if (!pImage || nSubType < FILL_OPAQUE_COLOR || nSubType > FILL_WHOLE_PIXEL ||
        !InPlaceRange(x1, y1, x2, y2, nSrcWidth, nSrcHeight, &x0, &xe, &y0, &ye))
        return 0;
    const uint32_t dwP = static_cast<uint32_t>(P);
    const bool bWhole = x0 == 0 && y0 == 0 && xe == int64_t(nSrcWidth) - 1 && ye == int64_t(nSrcHeight) - 1;
    for (int64_t y = y0; y <= ye; ++y) {
        uint8_t* p = pImage + (static_cast<size_t>(y) * static_cast<size_t>(nSrcWidth) + static_cast<size_t>(x0)) * 4;
        for (int64_t x = x0; x <= xe; ++x, p += 4) {
            if (nSubType == FILL_ALPHA_ONLY) {
                p[3] = static_cast<uint8_t>(dwP);
            } else {
                const uint32_t v = nSubType == FILL_OPAQUE_COLOR ? (0xFF000000u | (dwP & 0xFFFFFFu)) : dwP;
                std::memcpy(p, &v, 4);
            }
        }
    }
    // An opaque colour leaves the flag; otherwise the image is opaque only when the whole of it got
    // alpha 255.
    const uint32_t dwAlpha = nSubType == FILL_ALPHA_ONLY ? (dwP & 0xFF) : (dwP >> 24);
    if (pbHasAlpha && nSubType != FILL_OPAQUE_COLOR) *pbHasAlpha = (dwAlpha == 255 && bWhole) ? 0 : 1;
    return 0;
}

int FilterAlphaRamp(uint8_t* pDst, const uint8_t* pSrc, uint8_t* pbHasAlpha, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    int32_t nSrcWidth, int32_t nSrcHeight, int32_t P, int32_t Q)
{
    uint8_t* pImage = InPlaceTarget(pDst, pSrc, nSrcWidth, nSrcHeight);
    if (!pImage) return 0;
    const int64_t y0 = std::max<int64_t>(y1, 0), ye = std::min<int64_t>(y2, int64_t(nSrcHeight) - 1);
    if (y0 > ye) return 0;
    if (pbHasAlpha) *pbHasAlpha = 1;
    const int64_t W = nSrcWidth, llP = P, llQ = Q;
    const int64_t lo = std::min(llP, llQ), hi = std::max(llP, llQ);
    // Columns whose alpha becomes 0 and the ramp's columns, each clipped to the row.
    int64_t z0 = 0, z1 = -1, r0 = 0, r1 = -1;
    bool bFadeOut = true;
    if (llP < llQ) {
        if (llP >= W) return 0;
        r0 = llP;
        r1 = std::min(llQ, W - 1);
        z0 = llQ + 1;
        z1 = W - 1;
    } else if (llQ < llP) {
        if (llP < 0) return 0;
        bFadeOut = false;
        z0 = 0;
        z1 = std::min(llQ - 1, W - 1);
        r0 = std::max<int64_t>(llQ, 0);
        r1 = std::min(llP, W - 1);
    } else {
        if (llP >= W) return 0;
        z0 = std::clamp<int64_t>(llP, -1, W - 1) + 1;
        z1 = W - 1;
    }
    r0 = std::max<int64_t>(r0, 0);
    z0 = std::max<int64_t>(z0, 0);
    for (int64_t y = y0; y <= ye; ++y) {
        uint8_t* pRow = pImage + static_cast<size_t>(y) * static_cast<size_t>(W) * 4;
        for (int64_t x = r0; x <= r1; ++x) {
            const int64_t f = ((x - lo) * 255 / (hi - lo)) & 255;
            uint8_t& a = pRow[x * 4 + 3];
            a = static_cast<uint8_t>(int64_t(a) * (bFadeOut ? 255 - f : f) / 255);
        }
        for (int64_t x = z0; x <= z1; ++x) pRow[x * 4 + 3] = 0;
    }
    return 0;
}
