// Resampling kernels and the scaling operation of layers. See scaling.h for units and rules.
#include "imageproc/scaling.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/errors.h"
#include "core/settings.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "imageproc/pixel_ops.h"
#include "core/worker_pool.h"

namespace {

// Position tables of the script-side scalings and of presentation. Positions are relative to the
// rectangle's whole-pixel corner: whole pixels for nearest, 1/256 pixel otherwise. The bilinear
// forms turn the drawn columns of the column table into byte offsets within a source row and keep
// their curved fractions as lane weights ([256 - f] x 4, [f] x 4 per column) in the weight table;
// the row-mix table holds, per worker, two source rows already mixed horizontally (four 16-bit
// lanes per output column), so a source row is mixed once for all the output rows that use it.
// The supersampler keeps two columns per output column. The tables grow with the largest size
// asked for (heights have no upper bound).
std::vector<int64_t> g_anScaleRowMap;
std::vector<int64_t> g_anScaleColMap;
std::vector<uint16_t> g_awScaleColWeight;
std::vector<uint16_t> g_awScaleRowMix;
std::vector<int64_t> g_anPresentRowMap;
std::vector<int64_t> g_anPresentColMap;
std::vector<uint16_t> g_awPresentColWeight;
std::vector<uint16_t> g_awPresentRowMix;

uint8_t g_abBilinearCurve[256];
uint8_t g_abPresentCurve[256];
int32_t g_anCubicKernel[513];
int32_t g_anCubicTapDist[4][256];

// Lanczos tables of the axis being resampled.
std::vector<int64_t> g_anLanczosFirst;
std::vector<int64_t> g_anLanczosLast;
std::vector<int64_t> g_pnLanczosWeights;
double g_dLanczosScale;
double g_dLanczosSupport;
double g_dLanczosNorm;
int64_t g_nLanczosTaps;
int64_t g_nLanczosOut;

struct TABLES_INIT {
    TABLES_INIT()
    {
        for (int f = 0; f < 256; ++f) {
            double v = std::trunc((f - 128) * 1.25 + 128);
            uint8_t b = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            g_abBilinearCurve[f] = b;
            g_abPresentCurve[f] = b;
        }
        // 256 w(k/256) with w(h) = 1 - 2h^2 + h^3 (h <= 1), 4 - 8h + 5h^2 - h^3 (1 < h <= 2): the
        // numerators over 256^3 are exact integers, so integer division gives the truncation.
        for (int64_t k = 0; k <= 512; ++k) {
            int64_t n = k <= 256 ? 16777216 - 512 * k * k + k * k * k
                                 : 4 * 16777216 - 8 * 65536 * k + 5 * 256 * k * k - k * k * k;
            g_anCubicKernel[k] = static_cast<int32_t>(n / 65536);
        }
        for (int f = 0; f < 256; ++f) {
            g_anCubicTapDist[0][f] = 256 + f;
            g_anCubicTapDist[1][f] = f;
            g_anCubicTapDist[2][f] = 256 - f;
            g_anCubicTapDist[3][f] = 512 - f;
        }
    }
};
const TABLES_INIT g_TablesInit;

template <typename T>
bool GrowTable(std::vector<T>& v, int64_t n)
{
    if (n < 0)
        n = 0;
    try {
        if (v.size() < static_cast<size_t>(n))
            v.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

int ReportNoMemory(void)
{
    ReportErrorF(KX_ERR_LAYER_FILE_NO_MEMORY, 1, "");
    return -1;
}


#if !defined(__SSE2__)
// The portable forms of the SSE2 paths: B, G, R, A bytes into four 16-bit lanes and back.
const uint64_t kLaneMask = 0x00FF00FF00FF00FFull;

inline uint64_t Unpack(uint32_t p)
{
    uint64_t v = p;
    v = (v | (v << 16)) & 0x0000FFFF0000FFFFull;
    return (v | (v << 8)) & kLaneMask;
}

inline uint32_t Pack(uint64_t v)
{
    v = (v | (v >> 8)) & 0x0000FFFF0000FFFFull;
    return static_cast<uint32_t>(v | (v >> 16));
}

// (a (256 - f) + b f) >> 8 per lane; every lane stays below 65536, so no lane carries into the next.
inline uint64_t LerpLanes(uint64_t a, uint64_t b, uint64_t f)
{
    return ((a * (256 - f) + b * f) >> 8) & kLaneMask;
}

// The plain bilinear sample at *p00 (P10 the next pixel in memory, P01 one row below).
inline uint32_t BilinearSample(const uint8_t* p00, size_t nStride, uint64_t fx, uint64_t fy)
{
    uint64_t top = LerpLanes(Unpack(LoadPixel(p00)), Unpack(LoadPixel(p00 + 4)), fx);
    uint64_t bottom = LerpLanes(Unpack(LoadPixel(p00 + nStride)), Unpack(LoadPixel(p00 + nStride + 4)), fx);
    return Pack(LerpLanes(top, bottom, fy));
}
#endif

// Positions of one bilinear axis in 1/256 pixel: post + ((pre + 256 i) span) / den.
struct BILINEAR_AXIS {
    int64_t llWhole;
    int64_t llPre, llPost, llSpan, llDen;
};

void SetupBilinearAxis(int32_t nA1, int32_t nA2, int32_t nT, BILINEAR_AXIS* pAxis)
{
    int64_t a1 = nA1 / 100;
    int64_t frac = ((nA1 - 100 * a1) * 256) / 100;
    pAxis->llWhole = a1;
    pAxis->llSpan = int64_t(nA2) - nA1;
    if (nT >= pAxis->llSpan) {
        pAxis->llPre = 0;
        pAxis->llPost = frac;
    } else {
        pAxis->llPre = frac;
        pAxis->llPost = 0;
    }
    pAxis->llDen = int64_t(nT) - 100;
    if (pAxis->llDen == 0)
        pAxis->llDen = 100;
}

// (a x span) / den with a product that cannot overflow. The 64-bit division gives the same
// truncated quotient whenever the product fits, and costs a fraction of the 128-bit one.
inline int64_t MulDiv(int64_t a, int64_t span, int64_t den)
{
    int64_t llProduct;
    if (!__builtin_mul_overflow(a, span, &llProduct) && !(llProduct == INT64_MIN && den == -1))
        return llProduct / den;
    return static_cast<int64_t>((static_cast<__int128>(a) * span) / den);
}

inline int64_t BilinearPosition(const BILINEAR_AXIS& ax, int64_t i)
{
    return ax.llPost + MulDiv(ax.llPre + 256 * i, ax.llSpan, ax.llDen);
}

// The interval of indices whose source index whole + (pos >> nShift) lies in 0..size - 1.
// Positions are monotonic in the index (a linear function with a truncating division), so the
// valid indices form one interval.
void ValidRange(const int64_t* pPos, int64_t n, int nShift, int64_t llWhole, int64_t llSize, int64_t* pFirst,
                int64_t* pEnd)
{
    int64_t first = -1, last = -2;
    for (int64_t i = 0; i < n; ++i) {
        int64_t s = llWhole + (pPos[i] >> nShift);
        if (s >= 0 && s < llSize) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first < 0) {
        *pFirst = 0;
        *pEnd = 0;
    } else {
        *pFirst = first;
        *pEnd = last + 1;
    }
}

void ClearPixels(uint8_t* p, int64_t n)
{
    if (n > 0)
        g_PixelOps.PixelOpClear(p, static_cast<size_t>(n) * 4);
}

// Clears the rows outside [r0, r1) of a tw x th output, or all of it when no column is valid.
void ClearOutsideRows(uint8_t* pDst, int64_t tw, int64_t th, int64_t r0, int64_t r1, int64_t c0, int64_t c1)
{
    if (r0 >= r1 || c0 >= c1) {
        ClearPixels(pDst, tw * th);
        return;
    }
    ClearPixels(pDst, tw * r0);
    ClearPixels(pDst + static_cast<size_t>(r1 * tw) * 4, tw * (th - r1));
}

// Clears the columns of one output row outside [c0, c1).
inline void ClearRowEdges(uint8_t* pRow, int64_t tw, int64_t c0, int64_t c1)
{
    ClearPixels(pRow, c0);
    ClearPixels(pRow + static_cast<size_t>(c1) * 4, tw - c1);
}

// Spreads the valid rows [r0, r1) of a scale job over the workers.
int PostScaleRows(int nCode, const WORKER_SCALE_ARGS& args, int64_t r0, int64_t r1)
{
    WORKER_JOB job;
    memset(&job, 0, sizeof(job));
    job.nCode = nCode;
    job.scale = args;
    InstallScalingJobs();
    return PostRowJob(nCode, &job, static_cast<int>(r0), static_cast<int>(r1 - r0));
}

#if defined(__SSE2__)
// The bilinear arithmetic on 16-bit lanes, exactly the per-channel formulas: the two pixels of a
// source row (P00, P10) sit in one register and are weighted by [256 - fx] x 4 and [fx] x 4; every
// product is at most 255 x 256, so the low 16 bits hold it whole.

// Horizontal mix of the pixel pair at p: the unshifted sums P00 (256 - fx) + P10 fx in the low
// four lanes.
inline __m128i MixPairSSE2(const uint8_t* p, __m128i wx)
{
    __m128i v = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    v = _mm_mullo_epi16(v, wx);
    return _mm_add_epi16(v, _mm_srli_si128(v, 8));
}

// [256 - f] x 4 in the low lanes, [f] x 4 in the high lanes, from [f] x 8.
inline __m128i PairWeightsSSE2(__m128i f)
{
    const __m128i m = _mm_set_epi16(0, 0, 0, 0, -1, -1, -1, -1);
    const __m128i k = _mm_set_epi16(0, 0, 0, 0, 256, 256, 256, 256);
    return _mm_add_epi16(k, _mm_sub_epi16(_mm_xor_si128(f, m), m));
}

// Plain rounding: ((top >> 8) (256 - fy) + (bottom >> 8) fy) >> 8.
inline uint32_t BilinearPlainSSE2(const uint8_t* p00, size_t nStride, __m128i wx, __m128i wy)
{
    __m128i top = _mm_srli_epi16(MixPairSSE2(p00, wx), 8);
    __m128i bot = _mm_srli_epi16(MixPairSSE2(p00 + nStride, wx), 8);
    __m128i v = _mm_mullo_epi16(_mm_unpacklo_epi64(top, bot), wy);
    v = _mm_srli_epi16(_mm_add_epi16(v, _mm_srli_si128(v, 8)), 8);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
}

#endif

// The job arguments of a bilinear scaling over target columns [c0, c1).
WORKER_SCALE_ARGS MakeBilinearArgs(int64_t c0, int64_t c1, const BILINEAR_AXIS& ax, const BILINEAR_AXIS& ay, int32_t nX2,
                                   int32_t nY2, int32_t nSrcWidth, int32_t nSrcHeight, int64_t tw, int64_t th,
                                   uint8_t* pDst, const uint8_t* pSrc)
{
    WORKER_SCALE_ARGS args = {};
    args.nFirstCol = static_cast<int32_t>(c0);
    args.nEndCol = static_cast<int32_t>(c1);
    args.nSrcX = static_cast<int32_t>(ax.llWhole);
    args.nSrcY = static_cast<int32_t>(ay.llWhole);
    args.nSrcXEnd = nX2;
    args.nSrcYEnd = nY2;
    args.nSrcWidth = nSrcWidth;
    args.nSrcHeight = nSrcHeight;
    args.nOutWidth = static_cast<int32_t>(tw);
    args.nOutHeight = static_cast<int32_t>(th);
    args.pOut = pDst;
    args.pSrc = pSrc;
    return args;
}

// The bilinear positions of every target row and column (whole source pixel << 8 | fraction), the
// range of targets whose four samples lie inside the source, and the target cleared outside it.
// 1 when there is something to draw.
int MapBilinearTargets(int64_t* pRowMap, int64_t* pColMap, uint8_t* pDst, int32_t nX1, int32_t nY1, int32_t nX2,
                       int32_t nY2, int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH, int64_t* pc0,
                       int64_t* pc1, int64_t* pr0, int64_t* pr1, BILINEAR_AXIS* pAx, BILINEAR_AXIS* pAy)
{
    const int64_t tw = nTW / 100, th = nTH / 100;
    SetupBilinearAxis(nX1, nX2, nTW, pAx);
    SetupBilinearAxis(nY1, nY2, nTH, pAy);
    for (int64_t i = 0; i < tw; ++i)
        pColMap[i] = BilinearPosition(*pAx, i);
    for (int64_t j = 0; j < th; ++j)
        pRowMap[j] = BilinearPosition(*pAy, j);
    ValidRange(pColMap, tw, 8, pAx->llWhole, nSrcWidth, pc0, pc1);
    ValidRange(pRowMap, th, 8, pAy->llWhole, nSrcHeight, pr0, pr1);
    ClearOutsideRows(pDst, tw, th, *pr0, *pr1, *pc0, *pc1);
    return *pr0 < *pr1 && *pc0 < *pc1;
}

// The tables of one bilinear form: positions, then byte offsets and lane weights of the columns,
// and the per-worker row-mix buffers.
struct BILINEAR_TABLES {
    std::vector<int64_t>* pRowMap;
    std::vector<int64_t>* pColMap;
    std::vector<uint16_t>* pColWeight;
    std::vector<uint16_t>* pRowMix;
    const uint8_t* pCurve;
};

// Sizes the tables of a tw x th bilinear scaling; false when they cannot be made.
bool GrowBilinearTables(const BILINEAR_TABLES& t, int64_t tw, int64_t th)
{
    return GrowTable(*t.pRowMap, th) && GrowTable(*t.pColMap, tw) && GrowTable(*t.pColWeight, 8 * tw) &&
           GrowTable(*t.pRowMix, int64_t(KX_MAX_WORKERS) * 8 * tw);
}

// Turns the drawn columns [c0, c1) of the column table from positions into byte offsets within a
// source row, and their curved fractions f into the lane weights [256 - f] x 4, [f] x 4.
void PrepareBilinearColumns(const BILINEAR_TABLES& t, int64_t c0, int64_t c1, int64_t llSrcX)
{
    int64_t* pCol = t.pColMap->data();
    uint16_t* pWeight = t.pColWeight->data();
    for (int64_t i = c0; i < c1; ++i) {
        const int64_t pos = pCol[i];
        const uint16_t f = t.pCurve[pos & 255];
        for (int c = 0; c < 4; ++c) {
            pWeight[8 * i + c] = static_cast<uint16_t>(256 - f);
            pWeight[8 * i + 4 + c] = f;
        }
        pCol[i] = 4 * (llSrcX + (pos >> 8));
    }
}

#if defined(__SSE2__)
// One source row mixed horizontally for n output columns: per column the unshifted sums
// P00 (256 - fx) + P10 fx in four 16-bit lanes (the threaded rounding), or those sums >> 8 (the
// plain rounding). Two columns per step: their pixel pairs are widened and weighted in two
// registers, and the halves of both are added in one.
template <bool bShift>
void MixSourceRowSSE2(const uint8_t* pSrcRow, const int64_t* pOff, const uint16_t* pWeight, int64_t n,
                      uint16_t* pOut)
{
    const __m128i zero = _mm_setzero_si128();
    int64_t k = 0;
    for (; k + 2 <= n; k += 2) {
        __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pSrcRow + pOff[k])), zero);
        __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pSrcRow + pOff[k + 1])), zero);
        a = _mm_mullo_epi16(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pWeight + 8 * k)));
        b = _mm_mullo_epi16(b, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pWeight + 8 * k + 8)));
        __m128i v = _mm_add_epi16(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b));
        if (bShift)
            v = _mm_srli_epi16(v, 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + 4 * k), v);
    }
    if (k < n) {
        __m128i v = MixPairSSE2(pSrcRow + pOff[k], _mm_loadu_si128(reinterpret_cast<const __m128i*>(pWeight + 8 * k)));
        if (bShift)
            v = _mm_srli_epi16(v, 8);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pOut + 4 * k), v);
    }
}

// The vertical step of one output row from the mixed rows above (pTop) and below (pBot):
// threaded: (top (256 - fy)) >> 16 + (bottom fy) >> 16; plain: (top (256 - fy) + bottom fy) >> 8
// (the plain mixes are already shifted, so no 16-bit sum overflows). Four pixels per step.
template <bool bThreaded>
inline __m128i BlendRowsSSE2(__m128i t, __m128i b, __m128i wt, __m128i wb)
{
    if (bThreaded)
        return _mm_add_epi16(_mm_mulhi_epu16(t, wt), _mm_mulhi_epu16(b, wb));
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(t, wt), _mm_mullo_epi16(b, wb)), 8);
}

template <bool bThreaded>
void BlendMixedRowsSSE2(const uint16_t* pTop, const uint16_t* pBot, uint64_t fy, int64_t n, uint8_t* pOut)
{
    const __m128i wt = _mm_set1_epi16(static_cast<short>(256 - fy));
    const __m128i wb = _mm_set1_epi16(static_cast<short>(fy));
    int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m128i* t = reinterpret_cast<const __m128i*>(pTop + 4 * k);
        const __m128i* b = reinterpret_cast<const __m128i*>(pBot + 4 * k);
        __m128i lo = BlendRowsSSE2<bThreaded>(_mm_loadu_si128(t), _mm_loadu_si128(b), wt, wb);
        __m128i hi = BlendRowsSSE2<bThreaded>(_mm_loadu_si128(t + 1), _mm_loadu_si128(b + 1), wt, wb);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + 4 * k), _mm_packus_epi16(lo, hi));
    }
    for (; k < n; ++k) {
        __m128i t = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pTop + 4 * k));
        __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pBot + 4 * k));
        __m128i v = BlendRowsSSE2<bThreaded>(t, b, wt, wb);
        StorePixel(pOut + 4 * k, static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v))));
    }
}

// The two row-mix buffers of one worker with the source rows they hold (-1: none).
struct MIXED_ROWS {
    uint16_t* apMix[2];
    int64_t anRow[2];
};

// The mixed source row iy, from the buffers when one holds it, else mixed into the buffer that
// does not hold row nKeep (the other row the output row needs).
template <bool bShift>
const uint16_t* GetMixedRow(MIXED_ROWS* pRows, int64_t iy, int64_t nKeep, const uint8_t* pSrc, size_t nStride,
                            const int64_t* pOff, const uint16_t* pWeight, int64_t n)
{
    for (int s = 0; s < 2; ++s)
        if (pRows->anRow[s] == iy)
            return pRows->apMix[s];
    const int s = pRows->anRow[0] == nKeep ? 1 : 0;
    MixSourceRowSSE2<bShift>(pSrc + static_cast<size_t>(iy) * nStride, pOff, pWeight, n, pRows->apMix[s]);
    pRows->anRow[s] = iy;
    return pRows->apMix[s];
}
#endif

// The rows [nFirstRow, nEndRow) of a bilinear job on prepared tables; bThreaded picks the
// rounding of the threaded form, else the plain one. Rows mapped to the same source rows share
// their horizontal mixes; a row without vertical fraction uses the row above alone (the row below
// would be weighted 0).
template <bool bThreaded>
int BilinearRows(WORKER_JOB* pJob, const BILINEAR_TABLES& t)
{
    const WORKER_SCALE_ARGS& a = pJob->scale;
    const size_t nStride = size_t(a.nSrcWidth) * 4;
    const int64_t tw = a.nOutWidth;
    const int64_t c0 = a.nFirstCol, n = int64_t(a.nEndCol) - a.nFirstCol;
    const int64_t* pRowMap = t.pRowMap->data();
    const int64_t* pOff = t.pColMap->data() + c0;
    const uint16_t* pWeight = t.pColWeight->data() + 8 * c0;
#if defined(__SSE2__)
    const int nSlot = pJob->nIndex >= 0 && pJob->nIndex < KX_MAX_WORKERS ? pJob->nIndex : 0;
    uint16_t* pMix = t.pRowMix->data() + static_cast<size_t>(nSlot) * 8 * static_cast<size_t>(tw);
    MIXED_ROWS rows = {{pMix, pMix + 4 * tw}, {-1, -1}};
#else
    const uint64_t kWide = 0x0000FFFF0000FFFFull;
#endif
    for (int64_t j = pJob->nFirstRow; j < pJob->nEndRow; ++j) {
        uint8_t* pRow = a.pOut + static_cast<size_t>(j * tw) * 4;
        ClearRowEdges(pRow, tw, a.nFirstCol, a.nEndCol);
        const int64_t iy = a.nSrcY + (pRowMap[j] >> 8);
        const uint64_t fy = static_cast<uint64_t>(pRowMap[j] & 255);
#if defined(__SSE2__)
        const uint16_t* pTop = GetMixedRow<!bThreaded>(&rows, iy, iy + 1, a.pSrc, nStride, pOff, pWeight, n);
        const uint16_t* pBot = fy ? GetMixedRow<!bThreaded>(&rows, iy + 1, iy, a.pSrc, nStride, pOff, pWeight, n) : pTop;
        BlendMixedRowsSSE2<bThreaded>(pTop, pBot, fy, n, pRow + c0 * 4);
#else
        const uint8_t* pSrcRow = a.pSrc + static_cast<size_t>(iy) * nStride;
        for (int64_t k = 0; k < n; ++k) {
            const uint8_t* p = pSrcRow + pOff[k];
            const uint64_t fx = pWeight[8 * k + 4];
            uint32_t v;
            if (!bThreaded) {
                v = BilinearSample(p, nStride, fx, fy);
            } else {
                uint64_t topW = Unpack(LoadPixel(p)) * (256 - fx) + Unpack(LoadPixel(p + 4)) * fx;
                uint64_t botW = Unpack(LoadPixel(p + nStride)) * (256 - fx) + Unpack(LoadPixel(p + nStride + 4)) * fx;
                // Split into 32-bit lanes (B and R; G and A) for the 24-bit products. Each sum is
                // at most 255 (the parts add up to at most 255 x 256 x 256 >> 16).
                uint64_t even =
                    ((((topW & kWide) * (256 - fy)) >> 16) & kWide) + ((((botW & kWide) * fy) >> 16) & kWide);
                uint64_t odd = (((((topW >> 16) & kWide) * (256 - fy)) >> 16) & kWide) +
                               (((((botW >> 16) & kWide) * fy) >> 16) & kWide);
                v = static_cast<uint32_t>((even & 0xFF) | ((odd & 0xFF) << 8) | (((even >> 32) & 0xFF) << 16) |
                                          (((odd >> 32) & 0xFF) << 24));
            }
            StorePixel(pRow + (c0 + k) * 4, v);
        }
#endif
    }
    return 0;
}

// Maps and prepares a bilinear scaling on the tables t. 1 with the job arguments and the rows to
// draw [*pr0, *pr1) when there is something to draw, 0 when not (the target is then cleared), -1
// after reporting that the tables could not be made.
int PrepareBilinear(const BILINEAR_TABLES& t, uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1,
                    int32_t nX2, int32_t nY2, int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH,
                    WORKER_SCALE_ARGS* pArgs, int64_t* pr0, int64_t* pr1)
{
    const int64_t tw = nTW / 100, th = nTH / 100;
    if (tw <= 0 || th <= 0)
        return 0;
    if (!GrowBilinearTables(t, tw, th))
        return ReportNoMemory();
    int64_t c0, c1;
    BILINEAR_AXIS ax, ay;
    if (!MapBilinearTargets(t.pRowMap->data(), t.pColMap->data(), pDst, nX1, nY1, nX2, nY2, nSrcWidth, nSrcHeight,
                            nTW, nTH, &c0, &c1, pr0, pr1, &ax, &ay))
        return 0;
    PrepareBilinearColumns(t, c0, c1, ax.llWhole);
    *pArgs = MakeBilinearArgs(c0, c1, ax, ay, nX2, nY2, nSrcWidth, nSrcHeight, tw, th, pDst, pSrc);
    return 1;
}

const BILINEAR_TABLES g_ScaleTables = {&g_anScaleRowMap, &g_anScaleColMap, &g_awScaleColWeight, &g_awScaleRowMix,
                                       g_abBilinearCurve};
const BILINEAR_TABLES g_PresentTables = {&g_anPresentRowMap, &g_anPresentColMap, &g_awPresentColWeight,
                                         &g_awPresentRowMix, g_abPresentCurve};

// The plain forms: the rows on the calling thread.
int ScaleBilinearPlain(const BILINEAR_TABLES& t, uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1,
                       int32_t nX2, int32_t nY2, int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH)
{
    WORKER_JOB job;
    memset(&job, 0, sizeof(job));
    int64_t r0 = 0, r1 = 0;
    int rc = PrepareBilinear(t, pDst, pSrc, nX1, nY1, nX2, nY2, nSrcWidth, nSrcHeight, nTW, nTH, &job.scale, &r0, &r1);
    if (rc <= 0)
        return rc;
    job.nFirstRow = static_cast<int32_t>(r0);
    job.nEndRow = static_cast<int32_t>(r1);
    return BilinearRows<false>(&job, t);
}

// Fractions for the supersampler's sample positions.
inline uint64_t Frac(int64_t pos)
{
    return static_cast<uint64_t>(pos & 255);
}

inline uint32_t AvgPixels(uint32_t a, uint32_t b)
{
    // Per byte (a + b + 1) >> 1 without carries between bytes.
    return (a | b) - (((a ^ b) >> 1) & 0x7F7F7F7Fu);
}

// Lanczos: the source index of tap k, mirrored at the edges and kept inside 0..n - 1.
inline int64_t MirrorIndex(int64_t k, int64_t n)
{
    if (k < 0)
        k = -k;
    else if (k >= n)
        k = 2 * n - k - 1;
    if (k < 0)
        k = 0;
    if (k > n - 1)
        k = n - 1;
    return k;
}

inline uint8_t LanczosChannel(int64_t sum, int64_t total, bool bAlpha)
{
    if (total == 0)
        total = 1;
    int64_t v = sum / total;
    if (bAlpha)
        return static_cast<uint8_t>(v > 252 ? 255 : v < 0 ? 0 : v);
    return static_cast<uint8_t>(v > 255 ? 255 : v < 0 ? 0 : v);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tables

uint8_t BilinearCurve(int f)
{
    return g_abBilinearCurve[f & 255];
}

int32_t CubicKernel(int k)
{
    return (k < 0 || k > 512) ? 0 : g_anCubicKernel[k];
}

// ---------------------------------------------------------------------------------------------
// Nearest

int JobScaleNearestRows(WORKER_JOB* pJob)
{
    const WORKER_SCALE_ARGS& a = pJob->scale;
    const int64_t tw = a.nOutWidth;
    const size_t nStride = size_t(a.nSrcWidth) * 4;
    for (int64_t j = pJob->nFirstRow; j < pJob->nEndRow; ++j) {
        uint8_t* pRow = a.pOut + static_cast<size_t>(j * tw) * 4;
        ClearRowEdges(pRow, tw, a.nFirstCol, a.nEndCol);
        const uint8_t* pSrcRow = a.pSrc + static_cast<size_t>(a.nSrcY + g_anScaleRowMap[j]) * nStride;
        const int64_t* pCol = g_anScaleColMap.data();
        for (int64_t i = a.nFirstCol; i < a.nEndCol; ++i)
            memcpy(pRow + i * 4, pSrcRow + (a.nSrcX + pCol[i]) * 4, 4);
    }
    return 0;
}

int ScaleNearest(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t tw, int32_t th)
{
    if (tw <= 0 || th <= 0)
        return 0;
    if (!GrowTable(g_anScaleRowMap, th) || !GrowTable(g_anScaleColMap, 2 * int64_t(tw)))
        return ReportNoMemory();
    // 16.16 steps; the products are formed in 64 bits so tall rectangles do not wrap.
    int64_t stepX = ((int64_t(x2) - x1 + 1) * 65536) / tw;
    int64_t stepY = ((int64_t(y2) - y1 + 1) * 65536) / th;
    for (int64_t i = 0; i < tw; ++i)
        g_anScaleColMap[i] = (i * stepX) >> 16;
    for (int64_t j = 0; j < th; ++j)
        g_anScaleRowMap[j] = (j * stepY) >> 16;
    int64_t c0, c1, r0, r1;
    ValidRange(g_anScaleColMap.data(), tw, 0, x1, nSrcWidth, &c0, &c1);
    ValidRange(g_anScaleRowMap.data(), th, 0, y1, nSrcHeight, &r0, &r1);
    ClearOutsideRows(pDst, tw, th, r0, r1, c0, c1);
    if (r0 >= r1 || c0 >= c1)
        return 0;
    WORKER_SCALE_ARGS args = {};
    args.nFirstCol = static_cast<int32_t>(c0);
    args.nEndCol = static_cast<int32_t>(c1);
    args.nSrcX = x1;
    args.nSrcY = y1;
    args.nSrcXEnd = x2;
    args.nSrcYEnd = y2;
    args.nSrcWidth = nSrcWidth;
    args.nSrcHeight = nSrcHeight;
    args.nOutWidth = tw;
    args.nOutHeight = th;
    args.pOut = pDst;
    args.pSrc = pSrc;
    return PostScaleRows(JOB_SCALE_NEAREST, args, r0, r1);
}

// ---------------------------------------------------------------------------------------------
// Bilinear

int ScaleBilinear(uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
                  int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH)
{
    return ScaleBilinearPlain(g_ScaleTables, pDst, pSrc, nX1, nY1, nX2, nY2, nSrcWidth, nSrcHeight, nTW, nTH);
}

int ScaleBilinearPresent(uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
                         int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH)
{
    return ScaleBilinearPlain(g_PresentTables, pDst, pSrc, nX1, nY1, nX2, nY2, nSrcWidth, nSrcHeight, nTW, nTH);
}

int JobScaleBilinearRowsPresent(WORKER_JOB* pJob)
{
    return BilinearRows<false>(pJob, g_PresentTables);
}

// Rows of the threaded form. Per channel: min(255, ((topW (256 - fy)) >> 16) + ((bottomW fy) >> 16))
// with topW and bottomW the unshifted horizontal mixes (at most 255 x 256, one 16-bit lane each);
// the sum never exceeds 255 (the parts add up to at most 255 x 256 x 256 >> 16).
int JobScaleBilinearRows(WORKER_JOB* pJob)
{
    return BilinearRows<true>(pJob, g_ScaleTables);
}

int ScaleBilinearThreaded(uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
                          int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH)
{
    WORKER_SCALE_ARGS args;
    int64_t r0 = 0, r1 = 0;
    int rc = PrepareBilinear(g_ScaleTables, pDst, pSrc, nX1, nY1, nX2, nY2, nSrcWidth, nSrcHeight, nTW, nTH, &args,
                             &r0, &r1);
    if (rc <= 0)
        return rc;
    return PostScaleRows(JOB_SCALE_BILINEAR, args, r0, r1);
}

// ---------------------------------------------------------------------------------------------
// Supersampling

// Each output pixel averages four plain bilinear samples (uncurved fractions): two sample rows
// (row table: 2 j first, 2 j + 1 second) by two sample columns (column table likewise). The
// poster has already replaced a second sample that would lie outside the source by the first.
namespace {

// The supersampler's columns prepared once per scaling: per target column the byte offsets of its
// two sample columns in a source row and their lane weights ([256 - f] x 4, [f] x 4 each).
std::vector<int64_t> g_anSuperColOffset;
std::vector<uint16_t> g_awSuperColWeight;

void PrepareSupersampledColumns(int64_t c0, int64_t c1, int64_t x1)
{
    for (int64_t i = c0; i < c1; ++i)
        for (int s = 0; s < 2; ++s) {
            const int64_t pos = g_anScaleColMap[2 * i + s];
            const uint16_t f = static_cast<uint16_t>(Frac(pos));
            g_anSuperColOffset[2 * i + s] = (x1 + (pos >> 8)) * 4;
            for (int c = 0; c < 4; ++c) {
                g_awSuperColWeight[16 * i + 8 * s + c] = static_cast<uint16_t>(256 - f);
                g_awSuperColWeight[16 * i + 8 * s + 4 + c] = f;
            }
        }
}

}  // namespace

int JobScaleSupersampledRows(WORKER_JOB* pJob)
{
    const WORKER_SCALE_ARGS& a = pJob->scale;
    const size_t nStride = size_t(a.nSrcWidth) * 4;
    const int64_t tw = a.nOutWidth;
    const int64_t* pCol = g_anScaleColMap.data();
#if defined(__SSE2__)
    const int64_t* pOff = g_anSuperColOffset.data();
    const uint16_t* pWeight = g_awSuperColWeight.data();
    (void)pCol;
#endif
    for (int64_t j = pJob->nFirstRow; j < pJob->nEndRow; ++j) {
        uint8_t* pRow = a.pOut + static_cast<size_t>(j * tw) * 4;
        ClearRowEdges(pRow, tw, a.nFirstCol, a.nEndCol);
        int64_t sy0 = g_anScaleRowMap[2 * j], sy1 = g_anScaleRowMap[2 * j + 1];
        const uint8_t* pRowA = a.pSrc + static_cast<size_t>(a.nSrcY + (sy0 >> 8)) * nStride;
        const uint8_t* pRowB = a.pSrc + static_cast<size_t>(a.nSrcY + (sy1 >> 8)) * nStride;
#if defined(__SSE2__)
        const __m128i wy0 = PairWeightsSSE2(_mm_set1_epi16(static_cast<short>(Frac(sy0))));
        const __m128i wy1 = PairWeightsSSE2(_mm_set1_epi16(static_cast<short>(Frac(sy1))));
#else
        uint64_t fy0 = Frac(sy0), fy1 = Frac(sy1);
#endif
        for (int64_t i = a.nFirstCol; i < a.nEndCol; ++i) {
#if defined(__SSE2__)
            const int64_t ix0 = pOff[2 * i], ix1 = pOff[2 * i + 1];
            const __m128i wx0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pWeight + 16 * i));
            const __m128i wx1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pWeight + 16 * i + 8));
            uint32_t a0 = BilinearPlainSSE2(pRowA + ix0, nStride, wx0, wy0);
            uint32_t a1 = BilinearPlainSSE2(pRowA + ix1, nStride, wx1, wy0);
            uint32_t b0 = BilinearPlainSSE2(pRowB + ix0, nStride, wx0, wy1);
            uint32_t b1 = BilinearPlainSSE2(pRowB + ix1, nStride, wx1, wy1);
#else
            int64_t sx0 = pCol[2 * i], sx1 = pCol[2 * i + 1];
            int64_t ix0 = (a.nSrcX + (sx0 >> 8)) * 4, ix1 = (a.nSrcX + (sx1 >> 8)) * 4;
            uint32_t a0 = BilinearSample(pRowA + ix0, nStride, Frac(sx0), fy0);
            uint32_t a1 = BilinearSample(pRowA + ix1, nStride, Frac(sx1), fy0);
            uint32_t b0 = BilinearSample(pRowB + ix0, nStride, Frac(sx0), fy1);
            uint32_t b1 = BilinearSample(pRowB + ix1, nStride, Frac(sx1), fy1);
#endif
            StorePixel(pRow + i * 4, AvgPixels(AvgPixels(a0, b0), AvgPixels(a1, b1)));
        }
    }
    return 0;
}

int ScaleSupersampled(uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
                      int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH)
{
    int64_t tw = nTW / 100, th = nTH / 100;
    if (tw <= 0 || th <= 0)
        return 0;
    if (!GrowTable(g_anScaleRowMap, 2 * th) || !GrowTable(g_anScaleColMap, 2 * tw) ||
        !GrowTable(g_anSuperColOffset, 2 * tw) || !GrowTable(g_awSuperColWeight, 16 * tw))
        return ReportNoMemory();
    const int64_t x1 = nX1 / 100, y1 = nY1 / 100;
    const int64_t spanX = int64_t(nX2) - nX1, spanY = int64_t(nY2) - nY1;
    const int64_t denX = nTW - 100 == 0 ? 100 : int64_t(nTW) - 100;
    const int64_t denY = nTH - 100 == 0 ? 100 : int64_t(nTH) - 100;
    const int64_t w = nSrcWidth, h = nSrcHeight;
    // Validity follows the first sample of each column and row: the odd entries are filled after.
    for (int64_t i = 0; i < tw; ++i)
        g_anScaleColMap[i] = MulDiv(256 * i, spanX, denX);
    for (int64_t j = 0; j < th; ++j)
        g_anScaleRowMap[j] = MulDiv(256 * j, spanY, denY);
    int64_t c0, c1, r0, r1;
    ValidRange(g_anScaleColMap.data(), tw, 8, x1, w, &c0, &c1);
    ValidRange(g_anScaleRowMap.data(), th, 8, y1, h, &r0, &r1);
    ClearOutsideRows(pDst, tw, th, r0, r1, c0, c1);
    if (r0 >= r1 || c0 >= c1)
        return 0;
    for (int64_t i = tw - 1; i >= 0; --i) {
        int64_t sx0 = g_anScaleColMap[i];
        int64_t sx1 = MulDiv(256 * i + 128, spanX, denX);
        // A second sample beyond the source row would blend the next row's pixels (or read past
        // the buffer on the last row): it falls back to the first sample, as rows do.
        int64_t cx = x1 + (sx1 >> 8);
        if (cx < 0 || cx > w - 1)
            sx1 = sx0;
        g_anScaleColMap[2 * i] = sx0;
        g_anScaleColMap[2 * i + 1] = sx1;
    }
    for (int64_t j = th - 1; j >= 0; --j) {
        int64_t sy0 = g_anScaleRowMap[j];
        int64_t sy1 = MulDiv(256 * j + 128, spanY, denY);
        int64_t ry = y1 + (sy1 >> 8);
        if (ry * w + x1 > (h - 1) * w || ry < 0 || ry > h - 1)
            sy1 = sy0;
        g_anScaleRowMap[2 * j] = sy0;
        g_anScaleRowMap[2 * j + 1] = sy1;
    }
    PrepareSupersampledColumns(c0, c1, x1);
    WORKER_SCALE_ARGS args = {};
    args.nFirstCol = static_cast<int32_t>(c0);
    args.nEndCol = static_cast<int32_t>(c1);
    args.nSrcX = static_cast<int32_t>(x1);
    args.nSrcY = static_cast<int32_t>(y1);
    args.nSrcXEnd = nX2;
    args.nSrcYEnd = nY2;
    args.nSrcWidth = nSrcWidth;
    args.nSrcHeight = nSrcHeight;
    args.nOutWidth = static_cast<int32_t>(tw);
    args.nOutHeight = static_cast<int32_t>(th);
    args.pOut = pDst;
    args.pSrc = pSrc;
    return PostScaleRows(JOB_SCALE_SUPERSAMPLE, args, r0, r1);
}

// ---------------------------------------------------------------------------------------------
// Bicubic

namespace {

// The bicubic tables of one scaling: per target column the source column of its second tap and
// the four horizontal kernel weights (of the curved fraction); per target row the source row of
// its second tap and the four vertical weights. Tap (dx, dy) of a pixel weighs
// trunc(ky[dy] x kx[dx] / 256).
std::vector<int64_t> g_anBicubicCol;
std::vector<int32_t> g_anBicubicColWeight;
std::vector<int64_t> g_anBicubicRow;
std::vector<int32_t> g_anBicubicRowWeight;

// One output pixel by the plain rule: a tap whose index in the source (row x width + column)
// lies outside the image is skipped, so a column past the row's end reads the next row.
inline void BicubicPixelPlain(uint8_t* q, const uint8_t* pSrc, int64_t w, int64_t nPixels, int64_t ix, int64_t iy,
                              const int32_t* kx, const int32_t* ky)
{
    int64_t sum[4] = {0, 0, 0, 0};
    int64_t wsum = 0;
    for (int dy = 0; dy < 4; ++dy) {
        for (int dx = 0; dx < 4; ++dx) {
            int64_t idx = (iy + dy - 1) * w + (ix + dx - 1);
            if (idx < 0 || idx > nPixels - 1)
                continue;
            int32_t wt = (ky[dy] * kx[dx]) / 256;
            const uint8_t* p = pSrc + idx * 4;
            for (int c = 0; c < 4; ++c)
                sum[c] += int64_t(wt) * p[c];
            wsum += wt;
        }
    }
    if (wsum == 0)
        wsum = 1;
    for (int c = 0; c < 4; ++c) {
        int64_t v = sum[c] / wsum;
        q[c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

#if defined(__SSE2__)
// A pixel whose 16 taps all lie inside the image. Every weight is at most 256 in magnitude, so the
// sums stay below 2^21 and the weight total below 2^13; the quotient is taken in single precision,
// where both are exact and a quotient below 512 that is not a whole number lies further from the
// next one (at least 1/4096) than its rounding error, so truncation gives the integer quotient
// (larger quotients clamp to 0 or 255 either way).
inline uint32_t BicubicPixelSSE2(const uint8_t* p00, size_t nStride, const int32_t* kx, const int32_t* ky)
{
    const __m128i zero = _mm_setzero_si128();
    // [kx, 0] pairs, so that madd with [ky, 0] pairs forms the products exactly.
    const __m128i kxv = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kx)), _mm_set1_epi32(0xFFFF));
    __m128i sum = zero, wsum = zero;
    for (int dy = 0; dy < 4; ++dy) {
        const __m128i p = _mm_madd_epi16(kxv, _mm_set1_epi32(ky[dy] & 0xFFFF));
        // Truncation toward zero of p / 256.
        const __m128i wt = _mm_srai_epi32(_mm_add_epi32(p, _mm_srli_epi32(_mm_srai_epi32(p, 31), 24)), 8);
        wsum = _mm_add_epi32(wsum, wt);
        const __m128i w16 = _mm_packs_epi32(wt, wt);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p00 + size_t(dy) * nStride));
        // Taps 0 and 1, then 2 and 3, channel by channel: [t0.c, t1.c] pairs against [w0, w1].
        const __m128i a = _mm_unpacklo_epi8(_mm_unpacklo_epi8(v, _mm_srli_si128(v, 4)), zero);
        const __m128i b = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_srli_si128(v, 8), _mm_srli_si128(v, 12)), zero);
        sum = _mm_add_epi32(sum, _mm_madd_epi16(a, _mm_shuffle_epi32(w16, 0x00)));
        sum = _mm_add_epi32(sum, _mm_madd_epi16(b, _mm_shuffle_epi32(w16, 0x55)));
    }
    wsum = _mm_add_epi32(wsum, _mm_shuffle_epi32(wsum, _MM_SHUFFLE(1, 0, 3, 2)));
    wsum = _mm_add_epi32(wsum, _mm_shuffle_epi32(wsum, _MM_SHUFFLE(2, 3, 0, 1)));
    wsum = _mm_or_si128(wsum, _mm_and_si128(_mm_cmpeq_epi32(wsum, zero), _mm_set1_epi32(1)));
    const __m128i q = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(sum), _mm_cvtepi32_ps(wsum)));
    const __m128i q16 = _mm_packs_epi32(q, q);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(q16, q16)));
}
#endif

// The rows of a bicubic job over its columns [nFirstCol, nEndCol).
int BicubicRows(WORKER_JOB* pJob)
{
    const WORKER_SCALE_ARGS& a = pJob->scale;
    const int64_t tw = a.nOutWidth, w = a.nSrcWidth, h = a.nSrcHeight;
    const int64_t nPixels = w * h;
    const int64_t c0 = a.nFirstCol, c1 = a.nEndCol;
    const int64_t* pCol = g_anBicubicCol.data();
    const int32_t* pColW = g_anBicubicColWeight.data();
    for (int64_t j = pJob->nFirstRow; j < pJob->nEndRow; ++j) {
        uint8_t* pRow = a.pOut + static_cast<size_t>(j * tw) * 4;
        ClearRowEdges(pRow, tw, c0, c1);
        const int64_t iy = g_anBicubicRow[j];
        const int32_t* ky = g_anBicubicRowWeight.data() + 4 * j;
#if defined(__SSE2__)
        const bool bRowInside = iy >= 1 && iy + 2 <= h - 1;
        const size_t nStride = static_cast<size_t>(w) * 4;
#endif
        for (int64_t i = c0; i < c1; ++i) {
            const int64_t ix = pCol[i];
            const int32_t* kx = pColW + 4 * i;
#if defined(__SSE2__)
            if (bRowInside && ix >= 1 && ix + 2 <= w - 1) {
                const uint8_t* p00 = a.pSrc + static_cast<size_t>((iy - 1) * w + ix - 1) * 4;
                StorePixel(pRow + i * 4, BicubicPixelSSE2(p00, nStride, kx, ky));
                continue;
            }
#endif
            BicubicPixelPlain(pRow + i * 4, a.pSrc, w, nPixels, ix, iy, kx, ky);
        }
    }
    return 0;
}

}  // namespace

int JobScaleBicubicRows(WORKER_JOB* pJob)
{
    return BicubicRows(pJob);
}

int ScaleBicubic(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t tw, int32_t th)
{
    if (tw <= 0 || th <= 0)
        return 0;
    if (!GrowTable(g_anScaleRowMap, th) || !GrowTable(g_anScaleColMap, 2 * int64_t(tw)) ||
        !GrowTable(g_anBicubicCol, tw) || !GrowTable(g_anBicubicColWeight, 4 * int64_t(tw)) ||
        !GrowTable(g_anBicubicRow, th) || !GrowTable(g_anBicubicRowWeight, 4 * int64_t(th)))
        return ReportNoMemory();
    for (int64_t i = 0; i < tw; ++i)
        g_anScaleColMap[i] = ((i * 65536 / tw) * (int64_t(x2) - x1 + 1)) >> 8;
    for (int64_t j = 0; j < th; ++j)
        g_anScaleRowMap[j] = ((j * 65536 / th) * (int64_t(y2) - y1 + 1)) >> 8;
    int64_t c0, c1, r0, r1;
    ValidRange(g_anScaleColMap.data(), tw, 8, x1, nSrcWidth, &c0, &c1);
    ValidRange(g_anScaleRowMap.data(), th, 8, y1, nSrcHeight, &r0, &r1);
    ClearOutsideRows(pDst, tw, th, r0, r1, c0, c1);
    if (r0 >= r1 || c0 >= c1)
        return 0;
    for (int64_t i = c0; i < c1; ++i) {
        g_anBicubicCol[i] = x1 + (g_anScaleColMap[i] >> 8);
        const int fx = g_abBilinearCurve[g_anScaleColMap[i] & 255];
        for (int d = 0; d < 4; ++d)
            g_anBicubicColWeight[4 * i + d] = g_anCubicKernel[g_anCubicTapDist[d][fx]];
    }
    for (int64_t j = r0; j < r1; ++j) {
        g_anBicubicRow[j] = y1 + (g_anScaleRowMap[j] >> 8);
        const int fy = static_cast<int>(g_anScaleRowMap[j] & 255);
        for (int d = 0; d < 4; ++d)
            g_anBicubicRowWeight[4 * j + d] = g_anCubicKernel[g_anCubicTapDist[d][fy]];
    }
    WORKER_SCALE_ARGS args = {};
    args.nFirstCol = static_cast<int32_t>(c0);
    args.nEndCol = static_cast<int32_t>(c1);
    args.nSrcX = x1;
    args.nSrcY = y1;
    args.nSrcXEnd = x2;
    args.nSrcYEnd = y2;
    args.nSrcWidth = nSrcWidth;
    args.nSrcHeight = nSrcHeight;
    args.nOutWidth = tw;
    args.nOutHeight = th;
    args.pOut = pDst;
    args.pSrc = pSrc;
    return PostScaleRows(JOB_SCALE_BICUBIC, args, r0, r1);
}

// ---------------------------------------------------------------------------------------------
// Lanczos

double Sinc(double x)
{
    if (x == 0)
        return 1.0;
    double t = x * 3.1415927410125732;
    return std::sin(t) / t;
}

double LanczosKernel(double x)
{
    double a = std::fabs(x);
    if (a >= 2.0)
        return 0.0;
    return Sinc(a) * Sinc(a / 2.0);
}

int SetupLanczos(int bHorizontal, int32_t nSrcWidth, int32_t nSrcHeight, int32_t tw, int32_t th)
{
    int64_t nIn = bHorizontal ? nSrcWidth : nSrcHeight;
    int64_t nOut = bHorizontal ? tw : th;
    if (nIn <= 0 || nOut <= 0)
        return -1;
    // A target or a source of one pixel scales by out / in; (out - 1) / (in - 1) would be 0 or
    // undefined there.
    if (nIn == 1 || nOut == 1)
        g_dLanczosScale = double(nOut) / double(nIn);
    else
        g_dLanczosScale = double(nOut - 1) / double(nIn - 1);
    g_dLanczosSupport = 2.0 / g_dLanczosScale;
    g_dLanczosNorm = 1.0 / g_dLanczosScale;
    g_nLanczosTaps = static_cast<int64_t>(1.0 + 4.0 / g_dLanczosScale);
    g_nLanczosOut = nOut;
    int64_t nRows = g_nLanczosTaps + 3;
    if (!GrowTable(g_anLanczosFirst, nOut + 1) || !GrowTable(g_anLanczosLast, nOut + 1))
        return -1;
    try {
        g_pnLanczosWeights.assign(static_cast<size_t>(nRows * (nOut + 1)), 0);
    } catch (const std::bad_alloc&) {
        return -1;
    } catch (const std::length_error&) {
        return -1;
    }
    return 0;
}

int BuildLanczosWeights(int bHorizontal, int32_t tw, int32_t th)
{
    int64_t nOut = bHorizontal ? tw : th;
    if (nOut != g_nLanczosOut)
        return -1;
    const double S = g_dLanczosScale, R = g_dLanczosSupport;
    const int64_t nRows = g_nLanczosTaps + 3;
    for (int64_t i = 0; i <= nOut; ++i) {
        double c = double(i) / S;
        int64_t first = static_cast<int64_t>(std::floor(c - R));
        int64_t last = static_cast<int64_t>(std::ceil(c + R));
        if (last - first + 1 > nRows)
            last = first + nRows - 1;
        g_anLanczosFirst[i] = first;
        g_anLanczosLast[i] = last;
        for (int64_t k = first; k <= last; ++k) {
            double v = 65536.0 * LanczosKernel((c - double(k)) * S) / g_dLanczosNorm;
            g_pnLanczosWeights[static_cast<size_t>((k - first) * (nOut + 1) + i)] = static_cast<int64_t>(v);
        }
    }
    return 0;
}

namespace {

// The taps of the axis being resampled, gathered per output index from the weight table: the
// taps of output i are [start[i], start[i + 1]) with their source indices (already mirrored into
// the image) and weights, and the divisor 1 + the sum of the weights (1 where that is 0).
//
// The quotient of a channel only matters within 0..255 (the clamp decides the rest), so when every
// divisor is positive and every output's sum of |weight| x 255 stays below 2^52 (sums exact in
// double precision), the truncated quotient of a sum in [0, 256 x divisor) is estimated with the
// divisor's reciprocal (off by far less than one) and corrected by one step of the remainder;
// a negative sum gives 0 and a larger one 255 without dividing.
std::vector<size_t> g_anLanczosTapStart;
std::vector<int64_t> g_anLanczosTapIndex;
std::vector<int64_t> g_anLanczosTapWeight;
std::vector<int64_t> g_anLanczosTotal;
std::vector<double> g_adLanczosInverse;
bool g_bLanczosReciprocal;

// The vector form of the passes takes the taps two at a time: per output index its pairs
// [pairStart[i], pairStart[i + 1]), each with the two source indices and the two weights split as
// w = 32768 wh + wl (0 <= wl < 32768), packed as 16-bit pairs (first tap low). An odd last tap is
// paired with itself at weight 0. The channel sums are then 32768 X + Y with X the sum of the
// products with wh and Y of those with wl; with fewer than 257 taps per output and every |w|
// below 2^30 both stay within 32 bits.
std::vector<size_t> g_anLanczosPairStart;
std::vector<int64_t> g_anLanczosPairIndex;   // two per pair
std::vector<uint32_t> g_adwLanczosPairLow;
std::vector<uint32_t> g_adwLanczosPairHigh;
bool g_bLanczosVector;

bool GatherLanczosPairs(int64_t nOut)
{
    if (!GrowTable(g_anLanczosPairStart, nOut + 1))
        return false;
    size_t nPairs = 0;
    for (int64_t i = 0; i < nOut; ++i)
        nPairs += (g_anLanczosTapStart[i + 1] - g_anLanczosTapStart[i] + 1) / 2;
    if (!GrowTable(g_anLanczosPairIndex, 2 * static_cast<int64_t>(nPairs)) ||
        !GrowTable(g_adwLanczosPairLow, static_cast<int64_t>(nPairs)) ||
        !GrowTable(g_adwLanczosPairHigh, static_cast<int64_t>(nPairs)))
        return false;
    bool bVector = g_bLanczosReciprocal;
    size_t m = 0;
    for (int64_t i = 0; i < nOut; ++i) {
        g_anLanczosPairStart[i] = m;
        const size_t nFirst = g_anLanczosTapStart[i], nEnd = g_anLanczosTapStart[i + 1];
        bVector = bVector && nEnd - nFirst < 257;
        for (size_t n = nFirst; n < nEnd; n += 2, ++m) {
            const bool bSecond = n + 1 < nEnd;
            const int64_t w0 = g_anLanczosTapWeight[n], w1 = bSecond ? g_anLanczosTapWeight[n + 1] : 0;
            const int64_t nBound = int64_t(1) << 30;
            bVector = bVector && w0 > -nBound && w0 < nBound && w1 > -nBound && w1 < nBound;
            g_anLanczosPairIndex[2 * m] = g_anLanczosTapIndex[n];
            g_anLanczosPairIndex[2 * m + 1] = bSecond ? g_anLanczosTapIndex[n + 1] : g_anLanczosTapIndex[n];
            auto pack = [](int64_t a, int64_t b) {
                return static_cast<uint32_t>(static_cast<uint16_t>(a)) |
                       (static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16);
            };
            g_adwLanczosPairLow[m] = pack(w0 & 32767, w1 & 32767);
            g_adwLanczosPairHigh[m] = pack(w0 >> 15, w1 >> 15);
        }
    }
    g_anLanczosPairStart[nOut] = m;
    g_bLanczosVector = bVector;
    return true;
}

bool GatherLanczosTaps(int64_t nOut, int64_t nIn)
{
    if (!GrowTable(g_anLanczosTapStart, nOut + 1) || !GrowTable(g_anLanczosTotal, nOut) ||
        !GrowTable(g_adLanczosInverse, nOut))
        return false;
    size_t nTaps = 0;
    for (int64_t i = 0; i < nOut; ++i)
        if (g_anLanczosLast[i] >= g_anLanczosFirst[i])
            nTaps += static_cast<size_t>(g_anLanczosLast[i] - g_anLanczosFirst[i] + 1);
    if (!GrowTable(g_anLanczosTapIndex, static_cast<int64_t>(nTaps)) ||
        !GrowTable(g_anLanczosTapWeight, static_cast<int64_t>(nTaps)))
        return false;
    const int64_t nLimit = int64_t(1) << 52;
    bool bReciprocal = true;
    size_t n = 0;
    for (int64_t i = 0; i < nOut; ++i) {
        g_anLanczosTapStart[i] = n;
        int64_t total = 1, llAbs = 0;
        for (int64_t k = g_anLanczosFirst[i]; k <= g_anLanczosLast[i]; ++k) {
            const int64_t wt = g_pnLanczosWeights[static_cast<size_t>((k - g_anLanczosFirst[i]) * (nOut + 1) + i)];
            g_anLanczosTapIndex[n] = MirrorIndex(k, nIn);
            g_anLanczosTapWeight[n] = wt;
            ++n;
            total += wt;
            const int64_t a = wt < 0 ? -wt : wt;
            llAbs = llAbs > nLimit || a > nLimit ? nLimit : llAbs + a;
        }
        if (total == 0)
            total = 1;
        g_anLanczosTotal[i] = total;
        g_adLanczosInverse[i] = 1.0 / static_cast<double>(total);
        bReciprocal = bReciprocal && total > 0 && llAbs < nLimit / 256;
    }
    g_anLanczosTapStart[nOut] = n;
    g_bLanczosReciprocal = bReciprocal;
    return true;
}

// trunc(sum / total) within -1..256 (the ends standing for anything beyond), total > 0.
inline int64_t LanczosQuotient(int64_t sum, int64_t total, double inverse)
{
    if (sum < 0)
        return -1;
    if (sum >= 256 * total)
        return 256;
    int64_t q = static_cast<int64_t>(static_cast<double>(sum) * inverse);
    const int64_t r = sum - q * total;
    if (r < 0)
        --q;
    else if (r >= total)
        ++q;
    return q;
}

// The four channels of output index i from their sums.
inline void StoreLanczosPixel(uint8_t* q, const int64_t* sum, int64_t i)
{
    const int64_t total = g_anLanczosTotal[i];
    if (g_bLanczosReciprocal) {
        const double inverse = g_adLanczosInverse[i];
        for (int c = 0; c < 4; ++c) {
            const int64_t v = LanczosQuotient(sum[c], total, inverse);
            q[c] = c == 3 ? static_cast<uint8_t>(v > 252 ? 255 : v < 0 ? 0 : v)
                          : static_cast<uint8_t>(v > 255 ? 255 : v < 0 ? 0 : v);
        }
        return;
    }
    for (int c = 0; c < 4; ++c)
        q[c] = LanczosChannel(sum[c], total, c == 3);
}

#if defined(__SSE2__)
// One output pixel from its split sums X and Y (four channels each): 32768 X + Y is exact in
// double precision, and so is the truncated quotient by the divisor (see the tables above), taken
// within -1..256; then the clamps of LanczosChannel (the alpha above 252 becomes 255).
inline uint32_t FinishLanczosPixelSSE2(__m128i X, __m128i Y, __m128d total)
{
    const __m128d k = _mm_set1_pd(32768.0), lo = _mm_set1_pd(-1.0), hi = _mm_set1_pd(256.0);
    __m128d s0 = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(X), k), _mm_cvtepi32_pd(Y));
    __m128d s1 = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(X, 0x0E)), k),
                            _mm_cvtepi32_pd(_mm_shuffle_epi32(Y, 0x0E)));
    s0 = _mm_min_pd(_mm_max_pd(_mm_div_pd(s0, total), lo), hi);
    s1 = _mm_min_pd(_mm_max_pd(_mm_div_pd(s1, total), lo), hi);
    __m128i v = _mm_unpacklo_epi64(_mm_cvttpd_epi32(s0), _mm_cvttpd_epi32(s1));
    const __m128i over = _mm_cmpgt_epi32(v, _mm_set_epi32(252, 255, 255, 255));
    v = _mm_or_si128(v, _mm_and_si128(over, _mm_set1_epi32(255)));
    v = _mm_packs_epi32(v, v);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
}

// The two taps' pixels a and b (4 bytes each) as [a.c, b.c] 16-bit pairs, channel by channel.
inline __m128i PairChannels(__m128i a, __m128i b)
{
    return _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), _mm_setzero_si128());
}
#endif

}  // namespace

// Horizontal pass: the source rows [nFirstRow, nEndRow) into rows of nOutWidth pixels.
int JobScaleLanczosRows(WORKER_JOB* pJob)
{
    const WORKER_SCALE_ARGS& a = pJob->scale;
    const int64_t w = a.nSrcWidth, tw = a.nOutWidth;
#if defined(__SSE2__)
    if (g_bLanczosVector) {
        const size_t* pStart = g_anLanczosPairStart.data();
        const int64_t* pIndex = g_anLanczosPairIndex.data();
        for (int64_t y = pJob->nFirstRow; y < pJob->nEndRow; ++y) {
            const uint8_t* pSrcRow = a.pSrc + static_cast<size_t>(y * w) * 4;
            uint8_t* pOut = a.pOut + static_cast<size_t>(y * tw) * 4;
            for (int64_t i = 0; i < tw; ++i) {
                __m128i X = _mm_setzero_si128(), Y = _mm_setzero_si128();
                for (size_t m = pStart[i]; m < pStart[i + 1]; ++m) {
                    const __m128i pa = _mm_cvtsi32_si128(static_cast<int>(LoadPixel(pSrcRow + pIndex[2 * m] * 4)));
                    const __m128i pb = _mm_cvtsi32_si128(static_cast<int>(LoadPixel(pSrcRow + pIndex[2 * m + 1] * 4)));
                    const __m128i v = PairChannels(pa, pb);
                    Y = _mm_add_epi32(Y, _mm_madd_epi16(v, _mm_set1_epi32(static_cast<int>(g_adwLanczosPairLow[m]))));
                    X = _mm_add_epi32(X, _mm_madd_epi16(v, _mm_set1_epi32(static_cast<int>(g_adwLanczosPairHigh[m]))));
                }
                StorePixel(pOut + i * 4,
                           FinishLanczosPixelSSE2(X, Y, _mm_set1_pd(static_cast<double>(g_anLanczosTotal[i]))));
            }
        }
        return 0;
    }
#endif
    const size_t* pStart = g_anLanczosTapStart.data();
    const int64_t* pIndex = g_anLanczosTapIndex.data();
    const int64_t* pWeight = g_anLanczosTapWeight.data();
    for (int64_t y = pJob->nFirstRow; y < pJob->nEndRow; ++y) {
        const uint8_t* pSrcRow = a.pSrc + static_cast<size_t>(y * w) * 4;
        uint8_t* pOut = a.pOut + static_cast<size_t>(y * tw) * 4;
        for (int64_t i = 0; i < tw; ++i) {
            int64_t sum[4] = {0, 0, 0, 0};
            for (size_t n = pStart[i]; n < pStart[i + 1]; ++n) {
                const uint8_t* p = pSrcRow + pIndex[n] * 4;
                const int64_t wt = pWeight[n];
                for (int c = 0; c < 4; ++c)
                    sum[c] += wt * p[c];
            }
            StoreLanczosPixel(pOut + i * 4, sum, i);
        }
    }
    return 0;
}

// Vertical pass: the target rows [nFirstRow, nEndRow) from the rows of the horizontal pass.
int JobScaleLanczosColumns(WORKER_JOB* pJob)
{
    const WORKER_SCALE_ARGS& a = pJob->scale;
    const int64_t tw = a.nOutWidth;
#if defined(__SSE2__)
    if (g_bLanczosVector) {
        // Four pixels of the row at a time, the same column of the pair's two source rows
        // interleaved; the last pixels of an odd row one at a time.
        const __m128i z = _mm_setzero_si128();
        for (int64_t j = pJob->nFirstRow; j < pJob->nEndRow; ++j) {
            uint8_t* pOut = a.pOut + static_cast<size_t>(j * tw) * 4;
            const size_t m0 = g_anLanczosPairStart[j], m1 = g_anLanczosPairStart[j + 1];
            const __m128d total = _mm_set1_pd(static_cast<double>(g_anLanczosTotal[j]));
            int64_t i = 0;
            for (; i + 4 <= tw; i += 4) {
                __m128i X[4] = {z, z, z, z}, Y[4] = {z, z, z, z};
                for (size_t m = m0; m < m1; ++m) {
                    const uint8_t* pa = a.pSrc + static_cast<size_t>(g_anLanczosPairIndex[2 * m] * tw + i) * 4;
                    const uint8_t* pb = a.pSrc + static_cast<size_t>(g_anLanczosPairIndex[2 * m + 1] * tw + i) * 4;
                    const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pa));
                    const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pb));
                    const __m128i wl = _mm_set1_epi32(static_cast<int>(g_adwLanczosPairLow[m]));
                    const __m128i wh = _mm_set1_epi32(static_cast<int>(g_adwLanczosPairHigh[m]));
                    const __m128i l = _mm_unpacklo_epi8(ra, rb), h = _mm_unpackhi_epi8(ra, rb);
                    const __m128i v[4] = {_mm_unpacklo_epi8(l, z), _mm_unpackhi_epi8(l, z), _mm_unpacklo_epi8(h, z),
                                          _mm_unpackhi_epi8(h, z)};
                    for (int k = 0; k < 4; ++k) {
                        Y[k] = _mm_add_epi32(Y[k], _mm_madd_epi16(v[k], wl));
                        X[k] = _mm_add_epi32(X[k], _mm_madd_epi16(v[k], wh));
                    }
                }
                for (int k = 0; k < 4; ++k)
                    StorePixel(pOut + (i + k) * 4, FinishLanczosPixelSSE2(X[k], Y[k], total));
            }
            for (; i < tw; ++i) {
                __m128i X = z, Y = z;
                for (size_t m = m0; m < m1; ++m) {
                    const uint8_t* pa = a.pSrc + static_cast<size_t>(g_anLanczosPairIndex[2 * m] * tw + i) * 4;
                    const uint8_t* pb = a.pSrc + static_cast<size_t>(g_anLanczosPairIndex[2 * m + 1] * tw + i) * 4;
                    const __m128i v = PairChannels(_mm_cvtsi32_si128(static_cast<int>(LoadPixel(pa))),
                                                   _mm_cvtsi32_si128(static_cast<int>(LoadPixel(pb))));
                    Y = _mm_add_epi32(Y, _mm_madd_epi16(v, _mm_set1_epi32(static_cast<int>(g_adwLanczosPairLow[m]))));
                    X = _mm_add_epi32(X, _mm_madd_epi16(v, _mm_set1_epi32(static_cast<int>(g_adwLanczosPairHigh[m]))));
                }
                StorePixel(pOut + i * 4, FinishLanczosPixelSSE2(X, Y, total));
            }
        }
        return 0;
    }
#endif
    for (int64_t j = pJob->nFirstRow; j < pJob->nEndRow; ++j) {
        uint8_t* pOut = a.pOut + static_cast<size_t>(j * tw) * 4;
        const size_t nFirst = g_anLanczosTapStart[j], nEnd = g_anLanczosTapStart[j + 1];
        for (int64_t i = 0; i < tw; ++i) {
            int64_t sum[4] = {0, 0, 0, 0};
            for (size_t n = nFirst; n < nEnd; ++n) {
                const uint8_t* p = a.pSrc + static_cast<size_t>(g_anLanczosTapIndex[n] * tw + i) * 4;
                const int64_t wt = g_anLanczosTapWeight[n];
                for (int c = 0; c < 4; ++c)
                    sum[c] += wt * p[c];
            }
            StoreLanczosPixel(pOut + i * 4, sum, j);
        }
    }
    return 0;
}

int ScaleLanczos(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t tw, int32_t th)
{
    (void)x1;
    (void)y1;
    (void)x2;
    (void)y2;
    if (tw <= 0 || th <= 0)
        return 0;
    if (nSrcWidth <= 0 || nSrcHeight <= 0) {
        ClearPixels(pDst, int64_t(tw) * th);
        return 0;
    }
    uint8_t* pTemp = AllocPixelBuffer(nullptr, tw, nSrcHeight, "");
    if (!pTemp)
        return -1;
    WORKER_SCALE_ARGS args = {};
    args.nSrcWidth = nSrcWidth;
    args.nSrcHeight = nSrcHeight;
    args.nOutWidth = tw;
    args.nOutHeight = th;
    int rc = 0;
    // Horizontal pass: every source row into tw columns.
    if (SetupLanczos(1, nSrcWidth, nSrcHeight, tw, th) != 0 || BuildLanczosWeights(1, tw, th) != 0 ||
        !GatherLanczosTaps(tw, nSrcWidth) || !GatherLanczosPairs(tw)) {
        rc = ReportNoMemory();
    } else {
        args.pSrc = pSrc;
        args.pOut = pTemp;
        rc = PostScaleRows(JOB_SCALE_LANCZOS_ROWS, args, 0, nSrcHeight);
    }
    // Vertical pass: tw columns of the temporary buffer into th rows.
    if (rc == 0) {
        if (SetupLanczos(0, nSrcWidth, nSrcHeight, tw, th) != 0 || BuildLanczosWeights(0, tw, th) != 0 ||
            !GatherLanczosTaps(th, nSrcHeight) || !GatherLanczosPairs(th)) {
            rc = ReportNoMemory();
        } else {
            args.pSrc = pTemp;
            args.pOut = pDst;
            rc = PostScaleRows(JOB_SCALE_LANCZOS_COLUMNS, args, 0, th);
        }
    }
    free(pTemp);
    std::vector<int64_t>().swap(g_pnLanczosWeights);
    return rc;
}

// ---------------------------------------------------------------------------------------------
// Jobs and the layer operation

void InstallScalingJobs(void)
{
    if (GetWorkerJobHandler(JOB_SCALE_NEAREST) != JobScaleNearestRows)
        SetWorkerJobHandler(JOB_SCALE_NEAREST, JobScaleNearestRows);
    if (GetWorkerJobHandler(JOB_SCALE_BILINEAR) != JobScaleBilinearRows)
        SetWorkerJobHandler(JOB_SCALE_BILINEAR, JobScaleBilinearRows);
    if (GetWorkerJobHandler(JOB_SCALE_BILINEAR_PRESENT) != JobScaleBilinearRowsPresent)
        SetWorkerJobHandler(JOB_SCALE_BILINEAR_PRESENT, JobScaleBilinearRowsPresent);
    if (GetWorkerJobHandler(JOB_SCALE_SUPERSAMPLE) != JobScaleSupersampledRows)
        SetWorkerJobHandler(JOB_SCALE_SUPERSAMPLE, JobScaleSupersampledRows);
    if (GetWorkerJobHandler(JOB_SCALE_BICUBIC) != JobScaleBicubicRows)
        SetWorkerJobHandler(JOB_SCALE_BICUBIC, JobScaleBicubicRows);
    if (GetWorkerJobHandler(JOB_SCALE_LANCZOS_ROWS) != JobScaleLanczosRows)
        SetWorkerJobHandler(JOB_SCALE_LANCZOS_ROWS, JobScaleLanczosRows);
    if (GetWorkerJobHandler(JOB_SCALE_LANCZOS_COLUMNS) != JobScaleLanczosColumns)
        SetWorkerJobHandler(JOB_SCALE_LANCZOS_COLUMNS, JobScaleLanczosColumns);
}

int ScaleImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
               int32_t nTW, int32_t nTH, int32_t nLayers, int32_t nMethod)
{
    LAYER* pSrcLayer = GetNodeLayer(pFirst);
    if (!pSrcLayer || !pSrcLayer->pOwnedPixels)
        return 0;
    const int32_t x1 = nX1 / 100, y1 = nY1 / 100, x2 = nX2 / 100, y2 = nY2 / 100;
    const int32_t tw = nTW / 100, th = nTH / 100;
    TREE_NODE* pTargetNode = nLayers >= 1 ? pSecond : pFirst;
    LAYER* pTarget = GetNodeLayer(pTargetNode);
    if (!pTarget)
        return 0;
    MarkLayerDirty(pTargetNode);

    // Buffer mode: 1 reuses the second layer's buffer of exactly the target size, 2 its larger
    // buffer when the layer asks for it, 0 makes a new one. A target that shares its buffer with
    // the source always gets a new one, so the kernel never writes the pixels it is reading; so
    // does a second layer without pixels (a layer just made by name keeps the 1 x 1 size of a new
    // record, which must not make a 1 x 1 target fail where every other size succeeds).
    int nMode = 0;
    bool bShared = pTarget == pSrcLayer || pTarget->pOwnedPixels == pSrcLayer->pOwnedPixels ||
                   (pSrcLayer->pDisplayPixels && pTarget->pOwnedPixels == pSrcLayer->pDisplayPixels);
    if (nLayers >= 1 && !bShared && pTarget->pOwnedPixels) {
        if (pTarget->nBufWidth == tw && pTarget->nBufHeight == th)
            nMode = 1;
        else if (pTarget->bScaleIntoBuffer && tw < pTarget->nBufWidth && th < pTarget->nBufHeight)
            nMode = 2;
    }
    uint8_t* pDst;
    if (nMode == 0) {
        pDst = AllocPixelBuffer(nullptr, tw, th, "");
        if (!pDst)
            return -1;
    } else {
        pDst = pTarget->pOwnedPixels;
    }
    pTarget->bHasAlpha = pSrcLayer->bHasAlpha;

    const uint8_t* pSrc = pSrcLayer->pOwnedPixels;
    const int32_t w = pSrcLayer->nWidth, h = pSrcLayer->nHeight;
    int rc = 0;
    switch (nMethod) {
    case SCALE_NEAREST:
        rc = ScaleNearest(pDst, pSrcLayer->pDisplayPixels ? pSrcLayer->pDisplayPixels : pSrc, x1, y1, x2, y2, w, h, tw,
                          th);
        break;
    case SCALE_BILINEAR:
        if (g_PixelOps.bSSE && g_bAllowSSE)
            rc = ScaleBilinearThreaded(pDst, pSrc, nX1, nY1, nX2, nY2, w, h, nTW, nTH);
        else
            rc = ScaleBilinear(pDst, pSrc, nX1, nY1, nX2, nY2, w, h, nTW, nTH);
        break;
    case SCALE_BICUBIC:
        rc = ScaleBicubic(pDst, pSrc, x1, y1, x2, y2, w, h, tw, th);
        break;
    case SCALE_SUPERSAMPLE:
        rc = ScaleSupersampled(pDst, pSrc, nX1, nY1, nX2, nY2, w, h, nTW, nTH);
        break;
    case SCALE_LANCZOS:
        rc = ScaleLanczos(pDst, pSrc, x1, y1, x2, y2, w, h, tw, th);
        break;
    default:
        // No such method: the result is a transparent image.
        if (tw > 0 && th > 0)
            ClearPixels(pDst, int64_t(tw) * th);
        break;
    }
    if (rc != 0) {
        if (nMode == 0)
            free(pDst);
        return -1;
    }
    if (nMode == 0) {
        SetLayerPixels(pTarget, pDst, tw, th);
        MarkLayerDirty(pTargetNode);
    } else {
        MarkPixelsChanged(pTarget);
    }
    if (nMode == 2) {
        pTarget->nWidth = tw;
        pTarget->nHeight = th;
        pTarget->nBufWidth = tw;
        pTarget->nBufHeight = th;
        MarkLayerDirty(pTargetNode);
    }
    return 0;
}
