// Rectangles and anti-aliased text runs for the boxes and menus the platform draws itself.
#include "platform/plat_uidraw.h"

#include <algorithm>

#include "platform/plat_paths.h"
#include "platform/plat_text.h"

int PlatUiFontOpen(PLAT_UI_FONT* pText, const char* pszFaceCp932, int nHeight, int nLineGap)
{
    if (PlatFontsEnsureLoaded() != 0) return -1;
    pText->glyphs.clear();
    pText->pFont = PlatGlyphFontCreate(pszFaceCp932, nHeight * PLAT_UI_SUPER, 0);
    if (!pText->pFont) return -1;
    pText->nAscent4 = PlatGlyphFontAscent(pText->pFont);
    pText->nLineHeight = (PlatGlyphFontLineHeight(pText->pFont) + PLAT_UI_SUPER - 1) / PLAT_UI_SUPER + nLineGap;
    return 0;
}

void PlatUiFontClose(PLAT_UI_FONT* pText)
{
    if (pText->pFont) PlatGlyphFontDestroy(pText->pFont);
    pText->pFont = nullptr;
    pText->glyphs.clear();
}

std::vector<uint32_t> PlatUiCodePoints(const std::string& s)
{
    std::vector<uint32_t> out;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        int nLen = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        uint32_t cp = nLen == 1 ? c : nLen == 2 ? (c & 0x1Fu) : nLen == 3 ? (c & 0x0Fu) : (c & 0x07u);
        bool bOk = nLen > 0 && i + static_cast<size_t>(nLen) <= n;
        for (int k = 1; bOk && k < nLen; ++k) {
            if ((p[i + static_cast<size_t>(k)] & 0xC0) != 0x80) bOk = false;
            else cp = (cp << 6) | (p[i + static_cast<size_t>(k)] & 0x3Fu);
        }
        if (!bOk) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += static_cast<size_t>(nLen);
    }
    return out;
}

std::vector<uint32_t> PlatUiCodePointsCp932(const char* psz)
{
    return PlatUiCodePoints(PlatShowFolderAliases(PlatCp932ToUtf8String(psz ? psz : "")));
}

const PLAT_UI_GLYPH& PlatUiGlyph(PLAT_UI_FONT* pText, uint32_t cp)
{
    auto it = pText->glyphs.find(cp);
    if (it != pText->glyphs.end()) return it->second;
    PLAT_UI_GLYPH g{};
    PLAT_GLYPH pg{};
    // A character the fonts lack, or one FreeType cannot render, is an empty glyph.
    if (pText->pFont && PlatGlyphRenderCodePoint(pText->pFont, cp, &pg) == 0) {
        g.nLeft = pg.nLeft;
        g.nTop = pg.nTop;
        g.nWidth = pg.nWidth;
        g.nRows = pg.nRows;
        g.nPitch = pg.nPitch;
        g.nAdvance = pg.nAdvance;
        if (pg.pBits && pg.nRows > 0 && pg.nPitch > 0)
            g.bits.assign(pg.pBits, pg.pBits + static_cast<size_t>(pg.nRows) * static_cast<size_t>(pg.nPitch));
    }
    return pText->glyphs.emplace(cp, std::move(g)).first->second;
}

int PlatUiAdvance4(PLAT_UI_FONT* pText, uint32_t cp, int nPen4)
{
    if (cp != '\t') return PlatUiGlyph(pText, cp).nAdvance;
    const int nStop = std::max(1, PlatUiGlyph(pText, ' ').nAdvance * 8);
    return (nPen4 / nStop + 1) * nStop - nPen4;
}

int PlatUiTextWidth(PLAT_UI_FONT* pText, const std::vector<uint32_t>& text)
{
    int nPen4 = 0;
    for (uint32_t cp : text) nPen4 += PlatUiAdvance4(pText, cp, nPen4);
    return (nPen4 + PLAT_UI_SUPER - 1) / PLAT_UI_SUPER;
}

void PlatUiFillRect(const PLAT_UI_CANVAS& c, int l, int t, int r, int b, uint32_t nColour)
{
    l = std::max(l, 0), t = std::max(t, 0), r = std::min(r, c.w), b = std::min(b, c.h);
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) c.p[static_cast<size_t>(y) * static_cast<size_t>(c.nStride) + static_cast<size_t>(x)] = nColour;
}

void PlatUiFrameRect(const PLAT_UI_CANVAS& c, const PLAT_RECT& rc, int nThick, uint32_t nColour)
{
    PlatUiFillRect(c, rc.left, rc.top, rc.right, rc.top + nThick, nColour);
    PlatUiFillRect(c, rc.left, rc.bottom - nThick, rc.right, rc.bottom, nColour);
    PlatUiFillRect(c, rc.left, rc.top, rc.left + nThick, rc.bottom, nColour);
    PlatUiFillRect(c, rc.right - nThick, rc.top, rc.right, rc.bottom, nColour);
}

uint32_t PlatUiBlend(uint32_t nBack, uint32_t nFore, int nCover)
{
    uint32_t out = 0xFF000000u;
    for (int sh = 0; sh < 24; sh += 8) {
        const int b = static_cast<int>((nBack >> sh) & 0xFF), f = static_cast<int>((nFore >> sh) & 0xFF);
        out |= static_cast<uint32_t>(b + (f - b) * nCover / 16) << sh;
    }
    return out;
}

void PlatUiDrawRun(PLAT_UI_FONT* pText, const PLAT_UI_CANVAS& c, const std::vector<uint32_t>& text, int x, int y,
                   const PLAT_RECT& rcClip, uint32_t nColour)
{
    constexpr int kSuper = PLAT_UI_SUPER;
    const int nWidth = PlatUiTextWidth(pText, text) + 2;
    const int nHeight = pText->nLineHeight + 2;
    std::vector<uint8_t> cover(static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight), 0);
    int nPen4 = 0;
    for (uint32_t cp : text) {
        const int nAdv = PlatUiAdvance4(pText, cp, nPen4);
        if (cp != '\t') {
            const PLAT_UI_GLYPH& g = PlatUiGlyph(pText, cp);
            for (int r = 0; r < g.nRows; ++r) {
                const int y4 = g.nTop + r;
                if (y4 < 0 || y4 / kSuper >= nHeight) continue;
                const uint8_t* pRow = g.bits.data() + static_cast<size_t>(r) * static_cast<size_t>(g.nPitch);
                for (int col = 0; col < g.nWidth; ++col) {
                    if (!(pRow[col >> 3] & (0x80 >> (col & 7)))) continue;
                    const int x4 = nPen4 + g.nLeft + col;
                    if (x4 < 0 || x4 / kSuper >= nWidth) continue;
                    uint8_t& v = cover[static_cast<size_t>(y4 / kSuper) * static_cast<size_t>(nWidth) + static_cast<size_t>(x4 / kSuper)];
                    if (v < 16) ++v;
                }
            }
        }
        nPen4 += nAdv;
    }
    const int l = std::max({rcClip.left, 0, x}), t = std::max({rcClip.top, 0, y});
    const int r = std::min({rcClip.right, c.w, x + nWidth}), b = std::min({rcClip.bottom, c.h, y + nHeight});
    for (int py = t; py < b; ++py)
        for (int px = l; px < r; ++px) {
            const int v = cover[static_cast<size_t>(py - y) * static_cast<size_t>(nWidth) + static_cast<size_t>(px - x)];
            if (!v) continue;
            uint32_t& d = c.p[static_cast<size_t>(py) * static_cast<size_t>(c.nStride) + static_cast<size_t>(px)];
            d = PlatUiBlend(d, nColour, v);
        }
}
