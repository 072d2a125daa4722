// Text drawing: glyph rendering and measuring, the glyph cache, the gradient and the two blits.
#include "image/text_draw.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <list>
#include <unordered_map>
#include <vector>

#include "core/errors.h"
#include "core/pixel_access.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "image/text_font.h"
#include "platform/plat_font.h"

int64_t g_llGlyphRenders = 0;

namespace {

// ---------------------------------------------------------------------------------------------
// The glyph cache: the service's 1-bit glyphs by family, font height, boldness and character,
// least recently used first out once the bits pass the limit.

constexpr size_t kGlyphCacheBytes = size_t(8) << 20;
constexpr size_t kGlyphOverhead = 96;  // bookkeeping counted per entry

struct CACHED_GLYPH {
    int32_t nLeft, nTop, nWidth, nRows, nPitch;
    std::vector<uint8_t> bits;
    std::list<uint64_t>::iterator itOrder;
};

struct GLYPH_CACHE {
    std::unordered_map<uint64_t, CACHED_GLYPH> map;
    std::list<uint64_t> order;  // most recent first
    size_t nBytes = 0;
};
GLYPH_CACHE& Cache()
{
    static GLYPH_CACHE* s_pCache = new GLYPH_CACHE;  // lives for the process: no order problems at exit
    return *s_pCache;
}

uint64_t GlyphKey(int32_t nFont, int32_t nFontHeight, int32_t bBold, const unsigned char* pChar, int32_t nBytes)
{
    const uint32_t wChar = nBytes == 2 ? (uint32_t(pChar[0]) << 8 | pChar[1]) : pChar[0];
    return uint64_t(uint32_t(nFont)) << 32 | uint64_t(uint32_t(nFontHeight) & 0x3FFF) << 18 |
           uint64_t(bBold ? 1 : 0) << 17 | uint64_t(nBytes == 2 ? 1 : 0) << 16 | wChar;
}

// The glyph of a character in the current slot's font, rendered by the service on a miss. An
// empty glyph when the service fails.
const CACHED_GLYPH& LookupGlyph(const TEXT_RENDER_SLOT& r, const char* pChar, int32_t nBytes)
{
    GLYPH_CACHE& c = Cache();
    const uint64_t k = GlyphKey(r.nKeyFont, r.nKeyFontHeight, r.nKeyBold, reinterpret_cast<const unsigned char*>(pChar), nBytes);
    auto it = c.map.find(k);
    if (it != c.map.end()) {
        c.order.splice(c.order.begin(), c.order, it->second.itOrder);
        return it->second;
    }
    PLAT_GLYPH g{};
    ++g_llGlyphRenders;
    CACHED_GLYPH e{};
    if (PlatGlyphRender(r.pFont, pChar, nBytes, &g) == 0 && g.pBits && g.nWidth > 0 && g.nRows > 0 &&
        g.nPitch >= (g.nWidth + 7) / 8) {
        e.nLeft = g.nLeft;
        e.nTop = g.nTop;
        e.nWidth = g.nWidth;
        e.nRows = g.nRows;
        e.nPitch = g.nPitch;
        e.bits.assign(g.pBits, g.pBits + size_t(g.nPitch) * size_t(g.nRows));
    }
    const size_t nCost = e.bits.size() + kGlyphOverhead;
    while (!c.order.empty() && c.nBytes + nCost > kGlyphCacheBytes) {
        auto old = c.map.find(c.order.back());
        c.nBytes -= old->second.bits.size() + kGlyphOverhead;
        c.map.erase(old);
        c.order.pop_back();
    }
    c.order.push_front(k);
    e.itOrder = c.order.begin();
    c.nBytes += nCost;
    return c.map.emplace(k, std::move(e)).first->second;
}

// Clears the glyph's ink bits in the slot bitmap (side x side) at the glyph's place, clipped, and
// finds the rightmost column and the first row that hold ink (*pnRight 0 and *pnTop -1 without).
void InkGlyph(uint8_t* pBits, int32_t nSide, const CACHED_GLYPH& g, int32_t* pnRight, int32_t* pnTop)
{
    *pnRight = 0;
    *pnTop = -1;
    const int32_t nRowBytes = nSide / 8;
    for (int32_t r = 0; r < g.nRows; ++r) {
        const int32_t y = g.nTop + r;
        if (y < 0) continue;
        if (y >= nSide) break;
        const uint8_t* pSrc = g.bits.data() + size_t(r) * g.nPitch;
        uint8_t* pRow = pBits + size_t(y) * nRowBytes;
        bool bInk = false;
        const int32_t nBytes = (g.nWidth + 7) / 8;
        for (int32_t k = 0; k < nBytes; ++k) {
            uint32_t b = pSrc[k];
            if (k == nBytes - 1 && (g.nWidth & 7)) b &= 0xFFu << (8 - (g.nWidth & 7));  // bits past the width
            const int32_t p0 = g.nLeft + 8 * k;  // column of the byte's first bit
            if (p0 >= nSide) break;
            if (p0 < 0) b &= p0 <= -8 ? 0 : (0xFFu >> -p0);
            if (p0 + 8 > nSide) b &= (0xFFu << (8 - (nSide - p0))) & 0xFF;
            if (!b) continue;
            bInk = true;
            *pnRight = std::max(*pnRight, p0 + 7 - __builtin_ctz(b));
            // Columns p0..p0+7 straddle two bytes of the row unless p0 is a multiple of 8.
            const int32_t nByte = p0 >> 3, nShift = p0 & 7;  // floor division for negative p0
            if (nByte >= 0) pRow[nByte] &= static_cast<uint8_t>(~(b >> nShift));
            if (nShift && nByte + 1 < nRowBytes) pRow[nByte + 1] &= static_cast<uint8_t>(~(b << (8 - nShift)));
        }
        if (bInk && *pnTop < 0) *pnTop = y;
    }
}

// ---------------------------------------------------------------------------------------------
// Gradients

int32_t Channel(int32_t c, int nShift) { return (c >> nShift) & 0xFF; }

// a + (b - a) * k / n per channel, truncating toward zero.
int32_t LerpColor(int32_t a, int32_t b, int32_t k, int32_t n)
{
    int32_t v = 0;
    for (int s : {16, 8, 0}) {
        const int32_t ca = Channel(a, s), cb = Channel(b, s);
        v |= (ca + (cb - ca) * k / n) << s;
    }
    return v;
}

// The corners of each gradient type in orientation 0..3 as letters for top-left, top-right,
// bottom-left and bottom-right: colour A, colour B or their midpoint M.
const char* const kCorners[9][4] = {
    {"AAAA", "AAAA", "AAAA", "AAAA"}, {"AABB", "ABAB", "BBAA", "BABA"}, {"BBAA", "BABA", "AABB", "ABAB"},
    {"ABAB", "BBAA", "BABA", "AABB"}, {"BABA", "AABB", "ABAB", "BBAA"}, {"AMMB", "MBAM", "BMMA", "MABM"},
    {"MABM", "AMMB", "MBAM", "BMMA"}, {"BMMA", "MABM", "AMMB", "MBAM"}, {"MBAM", "BMMA", "MABM", "AMMB"},
};

// The colour of every cell pixel (j, i) of the last gradient asked for, 0xRRGGBB at [i * size + j].
struct GRADIENT_CELL {
    bool bValid = false;
    int32_t nColorA = 0, nColorB = 0, nGradient = 0, nOrient = 0, nSize = 0, nHeight = 0;
    std::vector<uint32_t> z;
};
GRADIENT_CELL g_gradient;

const uint32_t* GradientCell(int32_t nColorA, int32_t nColorB, int32_t nGradient, int32_t nOrient, int32_t nSize,
                             int32_t nHeight)
{
    GRADIENT_CELL& g = g_gradient;
    if (g.bValid && g.nColorA == nColorA && g.nColorB == nColorB && g.nGradient == nGradient && g.nOrient == nOrient &&
        g.nSize == nSize && g.nHeight == nHeight)
        return g.z.data();
    const GRADIENT_CORNERS c = SetGradientCorners(nGradient, nOrient, nColorA, nColorB);
    g.z.resize(size_t(nSize) * size_t(nHeight));
    for (int32_t i = 0; i < nHeight; ++i) {
        const int32_t L = nHeight > 1 ? LerpColor(c.nTopLeft, c.nBottomLeft, i, nHeight - 1) : c.nTopLeft;
        const int32_t R = nHeight > 1 ? LerpColor(c.nTopRight, c.nBottomRight, i, nHeight - 1) : c.nTopRight;
        uint32_t* pRow = g.z.data() + size_t(i) * nSize;
        for (int32_t j = 0; j < nSize; ++j) pRow[j] = uint32_t(nSize > 1 ? LerpColor(L, R, j, nSize - 1) : L);
    }
    g.bValid = true;
    g.nColorA = nColorA;
    g.nColorB = nColorB;
    g.nGradient = nGradient;
    g.nOrient = nOrient;
    g.nSize = nSize;
    g.nHeight = nHeight;
    return g.z.data();
}

// ---------------------------------------------------------------------------------------------
// Coverage of the current bitmap per cell pixel

// The coverage of every cell pixel from the current slot's bitmap: computed once per character
// for its one to five blits.
struct COVERAGE_CELL {
    bool bBuilt = false;
    std::vector<uint8_t> alpha;     // anti-aliased: coverage alpha; 1-bit: 1 for ink
    std::vector<uint8_t> rowValid;  // 0 for a row whose glyph rows lie beyond the bitmap
};
COVERAGE_CELL g_coverage;

void BuildCoverage(COVERAGE_CELL& c, const TEXT_RENDER_SLOT& r, bool bAntialias, int32_t nSize, int32_t nHeight)
{
    c.alpha.assign(size_t(nSize) * size_t(nHeight), 0);
    c.rowValid.assign(size_t(nHeight), 0);
    c.bBuilt = true;
    const int32_t nSide = r.nSide, nRowBytes = nSide / 8;
    // A cell much wider than high would divide by 0: the divisor is at least 1.
    const int32_t nDiv = std::max(1, (100 * nHeight) / nSize);
    for (int32_t i = 0; i < nHeight; ++i) {
        uint8_t* pOut = c.alpha.data() + size_t(i) * nSize;
        if (bAntialias) {
            const int32_t g = (400 * i) / nDiv;
            if (g + 3 >= nSide) continue;
            const uint8_t* r0 = r.pBits + size_t(g) * nRowBytes;
            const uint8_t* r1 = r0 + nRowBytes;
            const uint8_t* r2 = r1 + nRowBytes;
            const uint8_t* r3 = r2 + nRowBytes;
            for (int32_t j = 0; j < nSize; ++j) {
                const int32_t b = j >> 1;
                const int32_t s = g_anGlyphCoverage[r0[b]] + g_anGlyphCoverage[r1[b]] + g_anGlyphCoverage[r2[b]] +
                                  g_anGlyphCoverage[r3[b]];
                pOut[j] = g_abCoverageAlpha[(j & 1) ? (s & 0xFF) : (s >> 8)];
            }
        } else {
            const int32_t g = (100 * i) / nDiv;
            if (g >= nSide) continue;
            const uint8_t* pRow = r.pBits + size_t(g) * nRowBytes;
            for (int32_t j = 0; j < nSize; ++j) pOut[j] = ((pRow[j >> 3] >> (7 - (j & 7))) & 1) == 0;
        }
        c.rowValid[i] = 1;
    }
}

// x / d truncated toward zero for |x| < 65536 and d in 1..256, by a multiplication: ceil(2^32 / d)
// is exact over that range.
struct RECIPROCALS {
    uint64_t m[257];
    RECIPROCALS()
    {
        m[0] = 0;
        for (uint64_t d = 1; d <= 256; ++d) m[d] = ((uint64_t(1) << 32) + d - 1) / d;
    }
};
const RECIPROCALS kRecip;
inline int32_t DivSmall(int32_t x, int32_t d)
{
    const uint64_t q = (uint64_t(x < 0 ? -x : x) * kRecip.m[d]) >> 32;
    return x < 0 ? -int32_t(q) : int32_t(q);
}

// The blend of colour z with alpha weight a (1..256) onto the pixel at p.
inline void BlendPixel(uint8_t* p, uint32_t z, int32_t a)
{
    const int32_t A = p[3];
    const int32_t A2 = a + A - ((a * A) >> 8) - 1;
    const int32_t d = A2 + 1;
    const int32_t zb = z & 0xFF, zg = (z >> 8) & 0xFF, zr = (z >> 16) & 0xFF;
    p[0] = static_cast<uint8_t>(p[0] + DivSmall(a * (zb - p[0]), d));
    p[1] = static_cast<uint8_t>(p[1] + DivSmall(a * (zg - p[1]), d));
    p[2] = static_cast<uint8_t>(p[2] + DivSmall(a * (zr - p[2]), d));
    p[3] = static_cast<uint8_t>(A2);
}

// The common part of both blits. Orientation 0: cell (j, i) at (px+j, py+i); 1: (px+height-1-i,
// py+j); 2: (px+size-1-j, py+height-1-i); 3: (px+i, py+size-1-j).
int BlitGlyph(bool bAntialias, int32_t nColorA, int32_t nColorB, int32_t nGradient, int32_t nOrient, int32_t nSize,
              int32_t nHeight, int64_t px, int64_t py, int32_t bTransparent, LAYER* pLayer, TREE_NODE* pNode,
              bool bReuseCoverage)
{
    if (!pLayer) return 0;
    pLayer->bHasAlpha = 1;
    if (nOrient < 0 || nOrient > 3) nOrient = 0;
    nSize = std::clamp(nSize, 0, int32_t(KX_TEXT_MAX_SIZE));
    nHeight = std::clamp(nHeight, 0, int32_t(KX_TEXT_MAX_SIZE));
    const int64_t W = pLayer->nWidth, H = pLayer->nHeight;
    const bool bTurned = nOrient == 1 || nOrient == 3;
    const int64_t nExtW = bTurned ? nHeight : nSize, nExtH = bTurned ? nSize : nHeight;
    const TEXT_RENDER_SLOT& r = g_aTextRender[g_nTextSlot];
    if (nSize > 0 && nHeight > 0 && r.pBits && pLayer->pOwnedPixels && px >= 0 && py >= 0 && px <= W - nExtW &&
        py <= H - nExtH) {
        if (!bReuseCoverage || !g_coverage.bBuilt) BuildCoverage(g_coverage, r, bAntialias, nSize, nHeight);
        const COVERAGE_CELL* pCov = &g_coverage;
        const uint32_t* pZ = GradientCell(nColorA, nColorB, nGradient, nOrient, nSize, nHeight);
        const ptrdiff_t nStride = ptrdiff_t(W) * 4;
        // The layer byte of cell pixel (0, 0) and the steps for j and i.
        int64_t x0 = px, y0 = py;
        ptrdiff_t dj = 4, di = nStride;
        switch (nOrient) {
        case 1: x0 = px + nHeight - 1; dj = nStride; di = -4; break;
        case 2: x0 = px + nSize - 1; y0 = py + nHeight - 1; dj = -4; di = -nStride; break;
        case 3: y0 = py + nSize - 1; dj = -nStride; di = 4; break;
        default: break;
        }
        uint8_t* p00 = pLayer->pOwnedPixels + y0 * nStride + x0 * 4;
        for (int32_t i = 0; i < nHeight; ++i) {
            if (!pCov->rowValid[i]) continue;
            const uint8_t* pA = pCov->alpha.data() + size_t(i) * nSize;
            const uint32_t* pRowZ = pZ + size_t(i) * nSize;
            uint8_t* p = p00 + i * di;
            if (bAntialias) {
                if (!bTransparent) {
                    for (int32_t j = 0; j < nSize; ++j, p += dj) StorePixel(p, pRowZ[j] | uint32_t(pA[j]) << 24);
                } else {
                    for (int32_t j = 0; j < nSize; ++j, p += dj) BlendPixel(p, pRowZ[j], pA[j] + 1);
                }
            } else if (!bTransparent) {
                for (int32_t j = 0; j < nSize; ++j, p += dj) StorePixel(p, pA[j] ? (pRowZ[j] | 0xFF000000u) : 0xFF000000u);
            } else {
                for (int32_t j = 0; j < nSize; ++j, p += dj)
                    if (pA[j]) StorePixel(p, pRowZ[j] | 0xFF000000u);
            }
        }
        MarkPixelsChanged(pLayer);
    }
    if (pNode) MarkLayerDirty(pNode);
    return 0;
}

}  // namespace

int PrepareGlyphFont(int32_t nSize, int32_t nHeight, int32_t bBold, int32_t nFontHeight, int32_t nSide)
{
    TEXT_RENDER_SLOT& r = g_aTextRender[g_nTextSlot];
    const int32_t nFont = g_anSlotFont[g_nTextSlot];
    if (r.bKeyValid && r.pFont && r.pBits && r.nKeySize == nSize && r.nKeyHeight == nHeight &&
        r.nKeyFontHeight == nFontHeight && r.nKeyBold == bBold && r.nKeyFont == nFont)
        return 0;
    // A new cell size keeps the font, a new font keeps a bitmap of the same side: the objects that
    // fit the new key already are kept, the others made again.
    const bool bSameFont = r.bKeyValid && r.pFont && r.nKeyFontHeight == nFontHeight && r.nKeyBold == bBold &&
                           r.nKeyFont == nFont;
    r.bKeyValid = 0;
    if (!bSameFont && r.pFont) {
        PlatGlyphFontDestroy(r.pFont);
        r.pFont = nullptr;
    }
    const int32_t nBytes = nSide * nSide / 8;
    if (!r.pBits || r.nBitsBytes != nBytes) {
        std::free(r.pBits);
        r.pBits = static_cast<uint8_t*>(std::malloc(size_t(nBytes)));
        r.nBitsBytes = r.pBits ? nBytes : 0;
        if (!r.pBits) {
            ReportError(KX_ERR_NO_MEMORY, 1);
            return -1;
        }
    }
    r.nSide = nSide;
    // No font list at all leaves nothing to make a glyph font from.
    if (!r.pFont && nFont >= 0 && nFont < g_nFonts)
        r.pFont = PlatGlyphFontCreate(GetFontName(nFont), nFontHeight, bBold ? 1 : 0);
    if (!r.pFont) {
        ReportError(KX_ERR_GLYPH_FONT, 1);
        return -1;
    }
    r.nKeySize = nSize;
    r.nKeyHeight = nHeight;
    r.nKeyFontHeight = nFontHeight;
    r.nKeyBold = bBold;
    r.nKeyFont = nFont;
    r.bKeyValid = 1;
    return 1;
}

int RenderGlyph(const char* pChar, int32_t nBytes, int32_t nSize, int32_t nHeight, int32_t bBold,
                int32_t bAntialias, int32_t* pnAdvance, int32_t* pnGlyphHeight)
{
    *pnAdvance = 0;
    *pnGlyphHeight = 0;
    TEXT_RENDER_SLOT& r = g_aTextRender[g_nTextSlot];
    nSize = std::clamp(nSize, 0, int32_t(KX_TEXT_MAX_SIZE));
    nHeight = std::clamp(nHeight, 0, int32_t(KX_TEXT_MAX_SIZE));
    nBytes = nBytes == 2 ? 2 : 1;
    const bool bAA = bAntialias == 1;
    const int32_t nSide = g_anGlyphBitmapSide[nSize];
    int32_t nRight = 0, nTop = -1;
    // A cell 0 pixels wide holds no glyph: nothing to make a font for.
    if (nSize > 0) {
        if (PrepareGlyphFont(nSize, nHeight, bBold, bAA ? 4 * nSize : nSize, nSide) < 0) return -1;
        std::memset(r.pBits, 0xFF, size_t(r.nBitsBytes));
        InkGlyph(r.pBits, nSide, LookupGlyph(r, pChar, nBytes), &nRight, &nTop);
    }
    r.acLastChar[0] = pChar[0];
    r.acLastChar[1] = nBytes == 2 ? pChar[1] : 0;
    r.nLastBytes = nBytes;
    if (GetSlotFontPitch() == KX_FONT_PITCH_FIXED) {
        *pnAdvance = nSize / (3 - nBytes);
        *pnGlyphHeight = nHeight;
    } else {
        // The glyph is drawn at four times the cell size when anti-aliased, at the cell size else.
        *pnAdvance = std::min(nSize, bAA ? nRight / 4 + 4 : nRight + 4);
        *pnGlyphHeight = std::min(nHeight, nTop < 0 ? 4 : (nSide - nTop) / 4 + 4);
    }
    r.nLastAdvance = *pnAdvance;
    r.nLastHeight = *pnGlyphHeight;
    return 0;
}

GRADIENT_CORNERS SetGradientCorners(int32_t nGradient, int32_t nOrient, int32_t nColorA, int32_t nColorB)
{
    if (nGradient < 0 || nGradient > 8) nGradient = 0;
    if (nOrient < 0 || nOrient > 3) nOrient = 0;
    const int32_t A = nColorA & 0xFFFFFF;
    const int32_t B = nColorB == -1 ? A : (nColorB & 0xFFFFFF);
    int32_t M = 0;
    for (int s : {16, 8, 0}) {
        const int32_t ca = Channel(A, s), cb = Channel(B, s);
        M |= (ca + (cb - ca) / 2) << s;
    }
    int32_t v[4];
    const char* psz = kCorners[nGradient][nOrient];
    for (int k = 0; k < 4; ++k) v[k] = psz[k] == 'A' ? A : psz[k] == 'B' ? B : M;
    return GRADIENT_CORNERS{v[0], v[1], v[2], v[3]};
}

int BlitGlyphAA(int32_t nColorA, int32_t nColorB, int32_t nGradient, int32_t nOrient, int32_t nSize,
                int32_t nHeight, int64_t px, int64_t py, int32_t bTransparent, LAYER* pLayer, TREE_NODE* pNode)
{
    return BlitGlyph(true, nColorA, nColorB, nGradient, nOrient, nSize, nHeight, px, py, bTransparent, pLayer, pNode,
                     false);
}

int BlitGlyphMono(int32_t nColorA, int32_t nColorB, int32_t nGradient, int32_t nOrient, int32_t nSize,
                  int32_t nHeight, int64_t px, int64_t py, int32_t bTransparent, LAYER* pLayer, TREE_NODE* pNode)
{
    return BlitGlyph(false, nColorA, nColorB, nGradient, nOrient, nSize, nHeight, px, py, bTransparent, pLayer, pNode,
                     false);
}

int32_t DrawTextChar(const char* pChar, int32_t nBytes, int32_t nColorA, int32_t nColorB, int32_t nGradient,
                     int32_t nOrient, int32_t nSize, int32_t nHeight, int32_t bBold, int32_t bAntialias,
                     int32_t nEdge, int32_t px, int32_t py, int32_t bTransparent, LAYER* pLayer, TREE_NODE* pNode)
{
    int32_t nAdvance = 0, nGlyphHeight = 0;
    if (!pChar || RenderGlyph(pChar, nBytes, nSize, nHeight, bBold, bAntialias, &nAdvance, &nGlyphHeight) != 0) return 0;
    // The copies share the glyph: its coverage is computed by the first one that is drawn.
    g_coverage.bBuilt = false;
    auto At = [&](int64_t x, int64_t y) {
        BlitGlyph(bAntialias == 1, nColorA, nColorB, nGradient, nOrient, nSize, nHeight, x, y, bTransparent, pLayer,
                  pNode, true);
    };
    const int64_t x = px, y = py;
    if (nEdge == 0) {
        At(x, y);
    } else if (nEdge <= 10) {
        const int64_t e = nEdge;
        At(x + e, y);
        At(x, y - e);
        At(x, y);
        At(x, y + e);
        At(x - e, y);
    } else {
        const int64_t d = int64_t(nEdge) - 10;
        At(x + d, y);
        At(x, y + d);
        At(x + d, y + d);
    }
    return nAdvance;
}

void ClearGlyphCache(void)
{
    GLYPH_CACHE& c = Cache();
    c.map.clear();
    c.order.clear();
    c.nBytes = 0;
}

// ---------------------------------------------------------------------------------------------
// What the image-effect command's text selectors call

void EffectSelectTextSlot(int64_t n) { SelectTextSlot(n); }

int32_t EffectDrawTextChar(LAYER* pLayer, const char* pChar, int32_t nBytes, int32_t x, int32_t y, int32_t nEdge)
{
    const int32_t s = g_nTextSlot;
    return DrawTextChar(pChar, nBytes, g_anTextColorA[s], g_anTextColorB[s], g_abTextGradient[s], g_abTextOrient[s],
                        g_anTextSize[s], g_anTextHeight[s], g_anTextBold[s], g_abTextAntialias[s], nEdge, x, y,
                        g_abTextTransparent[s], pLayer, nullptr);
}
