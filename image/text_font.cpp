// The font list, the text slots and the glyph coverage tables.
#include "image/text_font.h"

#include <cstdlib>
#include <cstring>

#include "core/kx_texts.h"
#include "image/text_draw.h"
#include "platform/plat_font.h"

char** g_apszFontName = nullptr;
int32_t g_nFonts = 0;
uint8_t* g_abFontNonJapanese = nullptr;
uint8_t* g_abFontPitch = nullptr;

int32_t g_nTextSlot = 0;
int32_t g_anSlotFont[KX_TEXT_SLOTS];
int32_t g_anTextSize[KX_TEXT_SLOTS];
int32_t g_anTextHeight[KX_TEXT_SLOTS];
int32_t g_anTextBold[KX_TEXT_SLOTS];
int32_t g_anTextColorA[KX_TEXT_SLOTS];
int32_t g_anTextColorB[KX_TEXT_SLOTS];
uint8_t g_abTextGradient[KX_TEXT_SLOTS];
uint8_t g_abTextOrient[KX_TEXT_SLOTS];
uint8_t g_abTextAntialias[KX_TEXT_SLOTS];
uint8_t g_abTextTransparent[KX_TEXT_SLOTS];

TEXT_RENDER_SLOT g_aTextRender[KX_TEXT_SLOTS];

int32_t g_anGlyphCoverage[256];
uint8_t g_abCoverageAlpha[32];
int32_t g_anGlyphBitmapSide[KX_TEXT_MAX_SIZE + 1];

namespace {

// The faces a slot starts with, the first one the list holds; after them their substitutes in the
// same order.
const int kDefaultFaces[] = {TXT_FACE_MS_GOTHIC, TXT_FACE_STD_GOTHIC, TXT_FACE_MS_PGOTHIC, TXT_FACE_MS_MINCHO,
                            TXT_FACE_STD_MINCHO};

// The first entry named exactly pszName, or -1.
int32_t FindFontEntry(const char* pszName)
{
    if (!pszName) return -1;
    for (int32_t i = 0; i < g_nFonts; ++i)
        if (g_apszFontName[i] && std::strcmp(g_apszFontName[i], pszName) == 0) return i;
    return -1;
}

// The entry of a face name or of the first of its substitutes that the list holds, or -1.
int32_t FindFontEntryOrSubstitute(const char* pszName)
{
    const int32_t i = FindFontEntry(pszName);
    if (i >= 0) return i;
    for (const char* const* pp = PlatFontSubstitutes(pszName); pp && *pp; ++pp) {
        const int32_t k = FindFontEntry(*pp);
        if (k >= 0) return k;
    }
    return -1;
}

int32_t DefaultFontEntry(void)
{
    for (int nText : kDefaultFaces) {
        const int32_t i = FindFontEntry(GetEngineText(nText));
        if (i >= 0) return i;
    }
    for (int nText : kDefaultFaces)
        for (const char* const* pp = PlatFontSubstitutes(GetEngineText(nText)); pp && *pp; ++pp) {
            const int32_t k = FindFontEntry(*pp);
            if (k >= 0) return k;
        }
    return 0;
}

void ReleaseListArrays(void)
{
    for (int32_t i = 0; i < g_nFonts; ++i) std::free(g_apszFontName[i]);
    std::free(g_apszFontName);
    std::free(g_abFontNonJapanese);
    std::free(g_abFontPitch);
    g_apszFontName = nullptr;
    g_abFontNonJapanese = nullptr;
    g_abFontPitch = nullptr;
    g_nFonts = 0;
}

// The platform's families copied into the list; an entry whose copy fails is dropped.
void FillFontList(void)
{
    const int n = PlatFontFamilyCount();
    if (n <= 0) return;
    g_apszFontName = static_cast<char**>(std::calloc(size_t(n), sizeof(char*)));
    g_abFontNonJapanese = static_cast<uint8_t*>(std::calloc(size_t(n), 1));
    g_abFontPitch = static_cast<uint8_t*>(std::calloc(size_t(n), 1));
    if (!g_apszFontName || !g_abFontNonJapanese || !g_abFontPitch) {
        ReleaseListArrays();
        return;
    }
    int32_t k = 0;
    for (int i = 0; i < n; ++i) {
        const PLAT_FONT_FAMILY* f = PlatFontFamily(i);
        if (!f) continue;
        const size_t nLen = strnlen(f->szName, PLAT_FONT_NAME_BYTES - 1);
        char* psz = static_cast<char*>(std::malloc(nLen + 1));
        if (!psz) continue;
        std::memcpy(psz, f->szName, nLen);
        psz[nLen] = 0;
        g_apszFontName[k] = psz;
        g_abFontNonJapanese[k] = f->bJapanese ? 0 : 1;
        g_abFontPitch[k] = FontPitchFromBits(f->bPitch);
        ++k;
    }
    g_nFonts = k;
}

}  // namespace

uint8_t FontPitchFromBits(uint8_t bPitchBits)
{
    switch (bPitchBits & 3) {
    case PLAT_PITCH_FIXED: return KX_FONT_PITCH_FIXED;
    case 3: return KX_FONT_PITCH_OTHER;
    default: return KX_FONT_PITCH_PROPORTIONAL;  // default and variable pitch
    }
}

int InitFontListFrom(const char* pszNativeFolder)
{
    // Glyph fonts of an earlier set must be gone before the set is replaced.
    FreeTextRenderSlots();
    ClearGlyphCache();
    ReleaseListArrays();
    const int rc = PlatFontsInit(pszNativeFolder) == 0 ? 0 : -1;
    if (rc == 0) FillFontList();
    const int32_t nDefault = DefaultFontEntry();
    for (int32_t s = 0; s < KX_TEXT_SLOTS; ++s) g_anSlotFont[s] = nDefault;
    g_nTextSlot = 0;
    InitTextTables();
    return rc;
}

void InitFontList(void) { InitFontListFrom(nullptr); }

void FreeFontList(void)
{
    FreeTextRenderSlots();
    ClearGlyphCache();
    ReleaseListArrays();
    for (int32_t s = 0; s < KX_TEXT_SLOTS; ++s) g_anSlotFont[s] = 0;
    PlatFontsShutdown();
}

void InitTextTables(void)
{
    for (int b = 0; b < 256; ++b) {
        int nLow = 0, nHigh = 0;
        for (int k = 0; k < 4; ++k) {
            nLow += ((b >> k) & 1) == 0;
            nHigh += ((b >> (k + 4)) & 1) == 0;
        }
        g_anGlyphCoverage[b] = nLow + 256 * nHigh;
    }
    for (int n = 0; n < 32; ++n) g_abCoverageAlpha[n] = static_cast<uint8_t>(n * 18 < 255 ? n * 18 : 255);
    for (int s = 0; s <= KX_TEXT_MAX_SIZE; ++s) g_anGlyphBitmapSide[s] = ((4 * s) & ~31) + 64;

    FreeTextRenderSlots();
    for (int s = 0; s < KX_TEXT_SLOTS; ++s) {
        g_anTextSize[s] = 20;
        g_anTextHeight[s] = 20;
        g_anTextBold[s] = 0;
        g_anTextColorA[s] = 0xFFFFFF;
        g_anTextColorB[s] = 0xFFFFFF;
        g_abTextGradient[s] = 1;
        g_abTextOrient[s] = 0;
        g_abTextAntialias[s] = 1;
        g_abTextTransparent[s] = 0;
    }
    g_nTextSlot = 0;
}

int SelectTextSlot(int64_t n)
{
    if (n < 0 || n >= KX_TEXT_SLOTS) return -1;
    g_nTextSlot = static_cast<int32_t>(n);
    return 0;
}

int SetSlotFontIndex(int64_t i)
{
    if (i < 0 || i >= g_nFonts) return 0;
    g_anSlotFont[g_nTextSlot] = static_cast<int32_t>(i);
    return 1;
}

int SetSlotFontByName(const char* pszFace)
{
    const int32_t i = FindFontEntryOrSubstitute(pszFace);
    if (i < 0) return 0;
    g_anSlotFont[g_nTextSlot] = i;
    return 1;
}

int32_t GetSlotFontIndex(void) { return g_anSlotFont[g_nTextSlot]; }

const char* GetSlotFontName(void) { return GetFontName(g_anSlotFont[g_nTextSlot]); }

uint8_t GetSlotFontPitch(void)
{
    const int32_t i = g_anSlotFont[g_nTextSlot];
    return (i >= 0 && i < g_nFonts) ? g_abFontPitch[i] : uint8_t(KX_FONT_PITCH_PROPORTIONAL);
}

const char* GetFontName(int64_t i)
{
    if (i < 0 || i >= g_nFonts || !g_apszFontName[i]) return "";
    return g_apszFontName[i];
}

uint8_t IsFontNonJapanese(int64_t i) { return (i >= 0 && i < g_nFonts) ? g_abFontNonJapanese[i] : 1; }

int32_t GetFontCount(void) { return g_nFonts; }

void FreeTextRenderSlots(void)
{
    for (TEXT_RENDER_SLOT& r : g_aTextRender) {
        if (r.pFont) PlatGlyphFontDestroy(r.pFont);
        std::free(r.pBits);
        r = TEXT_RENDER_SLOT{};
    }
}
