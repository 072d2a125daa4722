// The font service: families from fontconfig, monochrome glyphs from FreeType.
//
// One lock serialises every call: FreeType faces are not safe to share between threads, and text
// may be drawn by the frame thread while the window thread draws a box.
#include "platform/plat_font.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H

#include "platform/plat_internal.h"
#include "platform/plat_text.h"

namespace {

// One face of a family: a file and the face index inside it.
struct FACE_REF {
    std::string strFile;
    int nIndex = 0;
    bool operator<(const FACE_REF& o) const
    {
        return strFile != o.strFile ? strFile < o.strFile : nIndex < o.nIndex;
    }
};

struct FAMILY {
    PLAT_FONT_FAMILY info;
    FACE_REF regular;
    FACE_REF bold;        // strFile empty: no real bold face
    int nRegularScore;    // distance of the chosen faces from the ideal, for the choice while listing
    int nBoldScore;
};

// An open FreeType face shared by every glyph font made from it.
struct SHARED_FACE {
    FT_Face face = nullptr;
    int nUsers = 0;
};

struct FONT_STATE {
    std::mutex lock;
    FT_Library library = nullptr;
    int nFontsAlive = 0;          // glyph fonts not yet destroyed (they keep the library)
    bool bSetLoaded = false;
    std::vector<FAMILY> families;
    std::map<FACE_REF, SHARED_FACE> faces;
    // cp932 to Unicode, filled one lead byte's row at a time.
    std::array<uint16_t, 65536> aUnicode{};
    std::array<bool, 256> abRowDone{};
};

FONT_STATE& State()
{
    static FONT_STATE* s = new FONT_STATE;   // lives for the process: fonts may outlive the set
    return *s;
}

// ---------------------------------------------------------------------------------------------
// cp932 characters

bool IsLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

uint16_t ConvertOne(const char* p, size_t n)
{
    std::string strOut;
    if (PlatConvertStrict(PLAT_CONV_CP932_TO_UTF8, p, n, &strOut) != 0 || strOut.empty()) return 0;
    const auto* u = reinterpret_cast<const unsigned char*>(strOut.data());
    uint32_t cp = 0;
    if (u[0] < 0x80 && strOut.size() == 1) cp = u[0];
    else if ((u[0] & 0xE0) == 0xC0 && strOut.size() == 2) cp = ((u[0] & 0x1Fu) << 6) | (u[1] & 0x3Fu);
    else if ((u[0] & 0xF0) == 0xE0 && strOut.size() == 3)
        cp = ((u[0] & 0x0Fu) << 12) | ((u[1] & 0x3Fu) << 6) | (u[2] & 0x3Fu);
    return static_cast<uint16_t>(cp);   // cp932 maps into the basic plane only
}

// Fills the table row of one first byte (single-byte characters live in row 0).
void FillUnicodeRow(FONT_STATE& st, unsigned char lead)
{
    if (st.abRowDone[lead]) return;
    st.abRowDone[lead] = true;
    if (lead == 0) {
        for (int c = 0x20; c < 0x100; ++c) {
            if (c == 0x7F || IsLeadByte(static_cast<unsigned char>(c))) continue;
            const char ch = static_cast<char>(c);
            st.aUnicode[c] = ConvertOne(&ch, 1);
        }
        return;
    }
    for (int t = 0x40; t <= 0xFC; ++t) {
        if (t == 0x7F) continue;
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(t)};
        st.aUnicode[(lead << 8) | t] = ConvertOne(pair, 2);
    }
}

uint32_t Cp932ToUnicodeLocked(FONT_STATE& st, const char* pChar, int nBytes)
{
    if (!pChar || nBytes < 1) return 0;
    const auto b0 = static_cast<unsigned char>(pChar[0]);
    if (IsLeadByte(b0)) {
        if (nBytes < 2) return 0;
        const auto b1 = static_cast<unsigned char>(pChar[1]);
        if (b1 < 0x40 || b1 > 0xFC || b1 == 0x7F) return 0;
        FillUnicodeRow(st, b0);
        return st.aUnicode[(b0 << 8) | b1];
    }
    if (b0 < 0x20 || b0 == 0x7F) return 0;
    FillUnicodeRow(st, 0);
    return st.aUnicode[b0];
}

// ---------------------------------------------------------------------------------------------
// Substitutes for the faces games ask for

struct SUBSTITUTE_ROW {
    const char* pszName;            // UTF-8
    const char* apszSubs[8];        // UTF-8, ended by NULL
};

// Japanese system faces and their usual Latin spellings, mapped to the Japanese fonts of Debian:
// fonts-ipafont-gothic and fonts-ipafont-mincho first, then IPAex, VL, Noto CJK and Droid.
#define KX_GOTHIC_SUBS "IPAゴシック", "IPAexゴシック", "VL ゴシック", "Noto Sans CJK JP", "Droid Sans Fallback", "IPA Pゴシック"
#define KX_PGOTHIC_SUBS "IPA Pゴシック", "IPAexゴシック", "VL Pゴシック", "Noto Sans CJK JP", "Droid Sans Fallback", "IPAゴシック"
#define KX_MINCHO_SUBS "IPA明朝", "IPAex明朝", "Noto Serif CJK JP", "IPA P明朝", "IPAゴシック", "Droid Sans Fallback"
#define KX_PMINCHO_SUBS "IPA P明朝", "IPAex明朝", "Noto Serif CJK JP", "IPA明朝", "IPA Pゴシック", "Droid Sans Fallback"
const SUBSTITUTE_ROW kSubstitutes[] = {
    {"ＭＳ ゴシック", {KX_GOTHIC_SUBS, nullptr}},
    {"標準ゴシック", {KX_GOTHIC_SUBS, nullptr}},
    {"MS Gothic", {KX_GOTHIC_SUBS, nullptr}},
    {"ＭＳ Ｐゴシック", {KX_PGOTHIC_SUBS, nullptr}},
    {"MS PGothic", {KX_PGOTHIC_SUBS, nullptr}},
    {"メイリオ", {KX_PGOTHIC_SUBS, nullptr}},
    {"Meiryo", {KX_PGOTHIC_SUBS, nullptr}},
    {"ＭＳ 明朝", {KX_MINCHO_SUBS, nullptr}},
    {"標準明朝", {KX_MINCHO_SUBS, nullptr}},
    {"MS Mincho", {KX_MINCHO_SUBS, nullptr}},
    {"ＭＳ Ｐ明朝", {KX_PMINCHO_SUBS, nullptr}},
    {"MS PMincho", {KX_PMINCHO_SUBS, nullptr}},
};
// The default faces in the order the engine tries them; the fallback family is the first of these
// or of their substitutes that the set holds.
const char* const kDefaultFaces[] = {"ＭＳ ゴシック", "標準ゴシック", "ＭＳ Ｐゴシック", "ＭＳ 明朝", "標準明朝"};

struct SUBSTITUTE_TABLE {
    std::vector<std::string> names;                         // cp932
    std::vector<std::vector<std::string>> subs;             // cp932
    std::vector<std::vector<const char*>> lists;            // NULL-ended views of subs
    const char* const* pEmpty;
};

const SUBSTITUTE_TABLE& Substitutes()
{
    static const SUBSTITUTE_TABLE* s = [] {
        auto* t = new SUBSTITUTE_TABLE;
        static const char* const kNone[] = {nullptr};
        t->pEmpty = kNone;
        for (const SUBSTITUTE_ROW& row : kSubstitutes) {
            t->names.push_back(PlatUtf8ToCp932String(row.pszName));
            std::vector<std::string> subs;
            for (const char* const* p = row.apszSubs; *p; ++p) subs.push_back(PlatUtf8ToCp932String(*p));
            t->subs.push_back(std::move(subs));
        }
        for (const auto& subs : t->subs) {
            std::vector<const char*> list;
            for (const auto& s : subs) list.push_back(s.c_str());
            list.push_back(nullptr);
            t->lists.push_back(std::move(list));
        }
        return t;
    }();
    return *s;
}

const char* const* SubstitutesOf(const char* pszName)
{
    const SUBSTITUTE_TABLE& t = Substitutes();
    if (pszName)
        for (size_t i = 0; i < t.names.size(); ++i)
            if (t.names[i] == pszName) return t.lists[i].data();
    return t.pEmpty;
}

int FindFamilyLocked(const FONT_STATE& st, const char* pszName)
{
    if (!pszName) return -1;
    for (size_t i = 0; i < st.families.size(); ++i)
        if (std::strcmp(st.families[i].info.szName, pszName) == 0) return static_cast<int>(i);
    return -1;
}

int FallbackFamilyLocked(const FONT_STATE& st)
{
    for (const char* pszUtf8 : kDefaultFaces) {
        const std::string strName = PlatUtf8ToCp932String(pszUtf8);
        const int i = FindFamilyLocked(st, strName.c_str());
        if (i >= 0) return i;
    }
    for (const char* pszUtf8 : kDefaultFaces) {
        const std::string strName = PlatUtf8ToCp932String(pszUtf8);
        for (const char* const* p = SubstitutesOf(strName.c_str()); *p; ++p) {
            const int i = FindFamilyLocked(st, *p);
            if (i >= 0) return i;
        }
    }
    return -1;
}

// The family that serves a name: exactly, through its substitutes, or the fallback.
int ResolveFamilyLocked(const FONT_STATE& st, const char* pszName)
{
    int i = FindFamilyLocked(st, pszName);
    for (const char* const* p = SubstitutesOf(pszName); i < 0 && *p; ++p) i = FindFamilyLocked(st, *p);
    if (i < 0) i = FallbackFamilyLocked(st);
    return i;
}

// ---------------------------------------------------------------------------------------------
// Listing the set

bool EnsureLibraryLocked(FONT_STATE& st)
{
    if (!st.library && FT_Init_FreeType(&st.library) != 0) st.library = nullptr;
    return st.library != nullptr;
}

// The JIS code-page bit of the OpenType OS/2 table, as the system's font enumeration reads it.
bool FaceServesJis(FONT_STATE& st, const FACE_REF& ref)
{
    if (!EnsureLibraryLocked(st)) return false;
    FT_Face face = nullptr;
    if (FT_New_Face(st.library, ref.strFile.c_str(), ref.nIndex, &face) != 0) return false;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const bool bJis = os2 && os2->version != 0xFFFF && (os2->ulCodePageRange1 & (1u << 17));
    FT_Done_Face(face);
    return bJis;
}

// The name a family is listed under: its Japanese name where it has one (the name the system
// shows on a Japanese desktop), else its last name (the legacy family name, after the
// typographic one).
std::string ListedName(FcPattern* pat)
{
    std::string strJa, strLast;
    FcChar8* psz = nullptr;
    for (int i = 0; FcPatternGetString(pat, FC_FAMILY, i, &psz) == FcResultMatch; ++i) {
        FcChar8* pszLang = nullptr;
        const bool bJa = FcPatternGetString(pat, FC_FAMILYLANG, i, &pszLang) == FcResultMatch &&
                         std::strcmp(reinterpret_cast<char*>(pszLang), "ja") == 0;
        if (bJa) strJa = reinterpret_cast<char*>(psz);
        strLast = reinterpret_cast<char*>(psz);
    }
    return strJa.empty() ? strLast : strJa;
}

int PatternInt(FcPattern* pat, const char* pszObject, int nDefault)
{
    int n = nDefault;
    if (FcPatternGetInteger(pat, pszObject, 0, &n) != FcResultMatch) return nDefault;
    return n;
}

void ListSetLocked(FONT_STATE& st, FcConfig* config)
{
    FcPattern* pat = FcPatternCreate();
    FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, FC_FAMILYLANG, FC_STYLE, FC_WEIGHT, FC_SLANT, FC_WIDTH,
                                       FC_SPACING, FC_LANG, FC_FILE, FC_INDEX, FC_SCALABLE, FC_OUTLINE,
                                       static_cast<char*>(nullptr));
    FcFontSet* fs = (pat && os) ? FcFontList(config, pat, os) : nullptr;
    if (os) FcObjectSetDestroy(os);
    if (pat) FcPatternDestroy(pat);
    if (!fs) return;

    // Faces in file order, so duplicates (the same font reached through two links) keep the first.
    struct FACE_ROW {
        FACE_REF ref;
        std::string strName;
        int nWeight, nSlant, nWidth, nSpacing;
        bool bJa;
    };
    std::vector<FACE_ROW> rows;
    for (int i = 0; i < fs->nfont; ++i) {
        FcPattern* f = fs->fonts[i];
        FcBool bScalable = FcFalse, bOutline = FcFalse;
        if (FcPatternGetBool(f, FC_SCALABLE, 0, &bScalable) != FcResultMatch || !bScalable) continue;
        if (FcPatternGetBool(f, FC_OUTLINE, 0, &bOutline) == FcResultMatch && !bOutline) continue;
        FcChar8* pszFile = nullptr;
        if (FcPatternGetString(f, FC_FILE, 0, &pszFile) != FcResultMatch) continue;
        FACE_ROW row;
        row.ref.strFile = reinterpret_cast<char*>(pszFile);
        row.ref.nIndex = PatternInt(f, FC_INDEX, 0);
        row.strName = ListedName(f);
        row.nWeight = PatternInt(f, FC_WEIGHT, FC_WEIGHT_REGULAR);
        row.nSlant = PatternInt(f, FC_SLANT, FC_SLANT_ROMAN);
        row.nWidth = PatternInt(f, FC_WIDTH, FC_WIDTH_NORMAL);
        row.nSpacing = PatternInt(f, FC_SPACING, FC_PROPORTIONAL);
        FcLangSet* ls = nullptr;
        row.bJa = FcPatternGetLangSet(f, FC_LANG, 0, &ls) == FcResultMatch && ls &&
                  FcLangSetHasLang(ls, reinterpret_cast<const FcChar8*>("ja")) == FcLangEqual;
        if (row.strName.empty() || row.strName[0] == '@') continue;
        rows.push_back(std::move(row));
    }
    FcFontSetDestroy(fs);
    std::sort(rows.begin(), rows.end(), [](const FACE_ROW& a, const FACE_ROW& b) { return a.ref < b.ref; });

    std::map<std::string, FAMILY> byName;   // cp932 name -> family, sorted by the name's bytes
    for (const FACE_ROW& row : rows) {
        std::string strName;
        if (PlatConvertStrict(PLAT_CONV_UTF8_TO_CP932, row.strName.data(), row.strName.size(), &strName) != 0)
            continue;
        if (strName.empty() || strName.size() >= PLAT_FONT_NAME_BYTES) continue;
        const bool bItalic = row.nSlant != FC_SLANT_ROMAN;
        const int nWidthOff = std::abs(row.nWidth - FC_WIDTH_NORMAL);
        const int nRegular = std::abs(row.nWeight - FC_WEIGHT_REGULAR) + nWidthOff * 4 + (bItalic ? 1000 : 0);
        const int nBold = std::abs(row.nWeight - FC_WEIGHT_BOLD) + nWidthOff * 4 + (bItalic ? 1000 : 0);
        auto it = byName.find(strName);
        if (it == byName.end()) {
            FAMILY fam{};
            std::memcpy(fam.info.szName, strName.c_str(), strName.size() + 1);
            fam.info.bJapanese = row.bJa ? 1 : 0;
            fam.info.bPitch = (row.nSpacing == FC_MONO || row.nSpacing == FC_DUAL || row.nSpacing == FC_CHARCELL)
                                  ? PLAT_PITCH_FIXED
                                  : PLAT_PITCH_VARIABLE;
            fam.regular = row.ref;
            fam.nRegularScore = nRegular;
            fam.nBoldScore = 1 << 30;
            it = byName.emplace(strName, fam).first;
        } else if (nRegular < it->second.nRegularScore) {
            it->second.regular = row.ref;
            it->second.nRegularScore = nRegular;
        }
        FAMILY& fam = it->second;
        if (row.bJa) fam.info.bJapanese = 1;
        if (row.nWeight >= FC_WEIGHT_DEMIBOLD && nBold < fam.nBoldScore) {
            fam.bold = row.ref;
            fam.nBoldScore = nBold;
        }
    }
    for (auto& [name, fam] : byName) {
        // A bold face chosen as the best regular one (a family with bold faces only) is no bold.
        if (!fam.bold.strFile.empty() && !(fam.bold < fam.regular) && !(fam.regular < fam.bold))
            fam.bold = FACE_REF{};
        fam.info.bHasBold = fam.bold.strFile.empty() ? 0 : 1;
        // Fonts whose coverage fontconfig does not count as Japanese may still say they serve the
        // JIS code page, as small or subset fonts do.
        if (!fam.info.bJapanese && FaceServesJis(st, fam.regular)) fam.info.bJapanese = 1;
        st.families.push_back(fam);
    }
}

void ReleaseSetLocked(FONT_STATE& st)
{
    st.families.clear();
    st.bSetLoaded = false;
    if (st.nFontsAlive == 0 && st.faces.empty() && st.library) {
        FT_Done_FreeType(st.library);
        st.library = nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Faces and sizes

FT_Face AcquireFaceLocked(FONT_STATE& st, const FACE_REF& ref)
{
    auto it = st.faces.find(ref);
    if (it == st.faces.end()) {
        if (!EnsureLibraryLocked(st)) return nullptr;
        FT_Face face = nullptr;
        if (FT_New_Face(st.library, ref.strFile.c_str(), ref.nIndex, &face) != 0) return nullptr;
        if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0 && !face->charmap) {
            FT_Done_Face(face);
            return nullptr;
        }
        it = st.faces.emplace(ref, SHARED_FACE{face, 0}).first;
    }
    ++it->second.nUsers;
    return it->second.face;
}

void ReleaseFaceLocked(FONT_STATE& st, const FACE_REF& ref)
{
    auto it = st.faces.find(ref);
    if (it == st.faces.end()) return;
    if (--it->second.nUsers > 0) return;
    FT_Done_Face(it->second.face);   // also frees its sizes
    st.faces.erase(it);
}

}  // namespace

// One face at one height: the primary face or the fallback face of a glyph font.
struct GLYPH_FACE {
    FACE_REF ref;
    FT_Face face = nullptr;
    FT_Size size = nullptr;
    bool bEmbolden = false;   // bold asked for and the family has no bold face
    int nAscent = 0;
    int nLineHeight = 0;
};

struct PLAT_GLYPH_FONT {
    int nHeight = 0;
    bool bBold = false;
    GLYPH_FACE primary;
    GLYPH_FACE fallback;      // made when the primary face first lacks a character
    bool bFallbackTried = false;
    std::vector<uint8_t> bits;
};

namespace {

bool OpenGlyphFaceLocked(FONT_STATE& st, const FAMILY& fam, int nHeight, bool bBold, GLYPH_FACE* pOut)
{
    const bool bRealBold = bBold && !fam.bold.strFile.empty();
    pOut->ref = bRealBold ? fam.bold : fam.regular;
    pOut->bEmbolden = bBold && !bRealBold;
    pOut->face = AcquireFaceLocked(st, pOut->ref);
    if (!pOut->face) return false;
    if (FT_New_Size(pOut->face, &pOut->size) != 0) {
        pOut->size = nullptr;
        ReleaseFaceLocked(st, pOut->ref);
        pOut->face = nullptr;
        return false;
    }
    FT_Activate_Size(pOut->size);
    // The font's ascent plus descent becomes the height, as a cell height does for the system's
    // fonts; for the fonts games use that is the em.
    FT_Size_RequestRec req{};
    req.type = FT_SIZE_REQUEST_TYPE_REAL_DIM;
    req.height = static_cast<FT_Long>(nHeight) * 64;
    req.width = 0;
    if (FT_Request_Size(pOut->face, &req) != 0) {
        FT_Done_Size(pOut->size);
        pOut->size = nullptr;
        ReleaseFaceLocked(st, pOut->ref);
        pOut->face = nullptr;
        return false;
    }
    const FT_Fixed yScale = pOut->size->metrics.y_scale;
    pOut->nAscent = static_cast<int>((FT_MulFix(pOut->face->ascender, yScale) + 32) >> 6);
    pOut->nLineHeight = static_cast<int>((FT_MulFix(pOut->face->height, yScale) + 32) >> 6);
    if (pOut->nLineHeight < nHeight) pOut->nLineHeight = nHeight;
    return true;
}

void CloseGlyphFaceLocked(FONT_STATE& st, GLYPH_FACE* p)
{
    if (!p->face) return;
    if (p->size) FT_Done_Size(p->size);
    ReleaseFaceLocked(st, p->ref);
    *p = GLYPH_FACE{};
}

void SetEmptyGlyph(PLAT_GLYPH* pGlyph)
{
    *pGlyph = PLAT_GLYPH{};
}

// Loads and renders glyph gi of the face into the font's bit buffer.
int RenderFaceGlyphLocked(PLAT_GLYPH_FONT* pFont, GLYPH_FACE& gf, FT_UInt gi, PLAT_GLYPH* pGlyph)
{
    FT_Activate_Size(gf.size);
    if (FT_Load_Glyph(gf.face, gi, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) != 0) return -1;
    FT_GlyphSlot slot = gf.face->glyph;
    FT_Pos nExtra = 0;
    if (gf.bEmbolden && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        // A simulated bold like the system's overstrike: the strokes grow by about a 32nd of the
        // height (at least one pixel) to the right, and so does the advance.
        nExtra = std::max<FT_Pos>(64, static_cast<FT_Pos>(pFont->nHeight) * 2);
        FT_Outline_EmboldenXY(&slot->outline, nExtra, 0);
    }
    pGlyph->nAdvance = static_cast<int32_t>((slot->advance.x + nExtra + 32) >> 6);
    // No outline (a space): FreeType would still hand out a blank pixel.
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE && slot->outline.n_points == 0) return 0;
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return -1;
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.width == 0 || bm.rows == 0 || !bm.buffer) {
        pGlyph->nLeft = pGlyph->nTop = pGlyph->nWidth = pGlyph->nRows = pGlyph->nPitch = 0;
        pGlyph->pBits = nullptr;
        return 0;
    }
    const int nPitch = static_cast<int>((bm.width + 7) / 8);
    pFont->bits.assign(static_cast<size_t>(nPitch) * bm.rows, 0);
    for (unsigned r = 0; r < bm.rows; ++r) {
        const unsigned char* src = bm.pitch >= 0 ? bm.buffer + static_cast<size_t>(r) * bm.pitch
                                                 : bm.buffer + static_cast<size_t>(bm.rows - 1 - r) * -bm.pitch;
        std::memcpy(pFont->bits.data() + static_cast<size_t>(r) * nPitch, src, nPitch);
    }
    pGlyph->nLeft = slot->bitmap_left;
    pGlyph->nTop = gf.nAscent - slot->bitmap_top;
    pGlyph->nWidth = static_cast<int32_t>(bm.width);
    pGlyph->nRows = static_cast<int32_t>(bm.rows);
    pGlyph->nPitch = nPitch;
    pGlyph->pBits = pFont->bits.data();
    return 0;
}

int RenderCodePointLocked(FONT_STATE& st, PLAT_GLYPH_FONT* pFont, uint32_t cp, PLAT_GLYPH* pGlyph)
{
    SetEmptyGlyph(pGlyph);
    if (!pFont || !pFont->primary.face || cp < 0x20 || cp == 0x7F) return 0;
    FT_UInt gi = FT_Get_Char_Index(pFont->primary.face, cp);
    if (gi != 0) return RenderFaceGlyphLocked(pFont, pFont->primary, gi, pGlyph);
    // The primary face lacks the character: the fallback family draws it, or nothing does.
    if (!pFont->bFallbackTried) {
        pFont->bFallbackTried = true;
        const int nFallback = FallbackFamilyLocked(st);
        if (nFallback >= 0) {
            const FAMILY& fam = st.families[nFallback];
            if (!(fam.regular < pFont->primary.ref) && !(pFont->primary.ref < fam.regular)) {
                // The fallback is the primary face itself.
            } else {
                OpenGlyphFaceLocked(st, fam, pFont->nHeight, pFont->bBold, &pFont->fallback);
            }
        }
    }
    if (!pFont->fallback.face) return 0;
    gi = FT_Get_Char_Index(pFont->fallback.face, cp);
    if (gi == 0) return 0;
    return RenderFaceGlyphLocked(pFont, pFont->fallback, gi, pGlyph);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Interface

int PlatFontsInit(const char* pszFolder)
{
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    ReleaseSetLocked(st);
    FcConfig* config = nullptr;
    if (pszFolder) {
        // The folder's files one by one: adding the folder itself would have fontconfig look for
        // a cache folder to write, which a private set has none of.
        config = FcConfigCreate();
        std::vector<std::string> files;
        if (DIR* dir = opendir(pszFolder)) {
            while (const dirent* ent = readdir(dir))
                if (ent->d_name[0] != '.') files.push_back(std::string(pszFolder) + "/" + ent->d_name);
            closedir(dir);
        }
        std::sort(files.begin(), files.end());
        for (const std::string& strFile : files)
            if (config) FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(strFile.c_str()));
    } else {
        config = FcInitLoadConfigAndFonts();
    }
    if (!config) return -1;
    ListSetLocked(st, config);
    FcConfigDestroy(config);
    st.bSetLoaded = true;
    return 0;
}

int PlatFontsEnsureLoaded(void)
{
    {
        FONT_STATE& st = State();
        std::lock_guard<std::mutex> guard(st.lock);
        if (st.bSetLoaded) return 0;
    }
    return PlatFontsInit(nullptr);
}

void PlatFontsShutdown(void)
{
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    ReleaseSetLocked(st);
}

int PlatFontFamilyCount(void)
{
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    return static_cast<int>(st.families.size());
}

const PLAT_FONT_FAMILY* PlatFontFamily(int nIndex)
{
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= st.families.size()) return nullptr;
    return &st.families[nIndex].info;
}

int PlatFindFontFamily(const char* pszName)
{
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    return FindFamilyLocked(st, pszName);
}

const char* const* PlatFontSubstitutes(const char* pszName)
{
    return SubstitutesOf(pszName);
}

int PlatFallbackFontFamily(void)
{
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    return FallbackFamilyLocked(st);
}

PLAT_GLYPH_FONT* PlatGlyphFontCreate(const char* pszName, int nHeight, int bBold)
{
    if (nHeight < 1 || nHeight > 4096) return nullptr;
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    const int nFamily = ResolveFamilyLocked(st, pszName);
    if (nFamily < 0) return nullptr;
    auto pFont = std::make_unique<PLAT_GLYPH_FONT>();
    pFont->nHeight = nHeight;
    pFont->bBold = bBold != 0;
    if (!OpenGlyphFaceLocked(st, st.families[nFamily], nHeight, pFont->bBold, &pFont->primary)) return nullptr;
    ++st.nFontsAlive;
    return pFont.release();
}

void PlatGlyphFontDestroy(PLAT_GLYPH_FONT* pFont)
{
    if (!pFont) return;
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    CloseGlyphFaceLocked(st, &pFont->primary);
    CloseGlyphFaceLocked(st, &pFont->fallback);
    delete pFont;
    --st.nFontsAlive;
    if (st.nFontsAlive == 0 && !st.bSetLoaded && st.faces.empty() && st.library) {
        FT_Done_FreeType(st.library);
        st.library = nullptr;
    }
}

int PlatGlyphRender(PLAT_GLYPH_FONT* pFont, const char* pChar, int nBytes, PLAT_GLYPH* pGlyph)
{
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    return RenderCodePointLocked(st, pFont, Cp932ToUnicodeLocked(st, pChar, nBytes), pGlyph);
}

int PlatGlyphRenderCodePoint(PLAT_GLYPH_FONT* pFont, uint32_t nCodePoint, PLAT_GLYPH* pGlyph)
{
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    return RenderCodePointLocked(st, pFont, nCodePoint, pGlyph);
}

int PlatGlyphFontAscent(const PLAT_GLYPH_FONT* pFont)
{
    return pFont ? pFont->primary.nAscent : 0;
}

int PlatGlyphFontLineHeight(const PLAT_GLYPH_FONT* pFont)
{
    return pFont ? pFont->primary.nLineHeight : 0;
}

uint32_t PlatCp932CharToUnicode(const char* pChar, int nBytes)
{
    FONT_STATE& st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    return Cp932ToUnicodeLocked(st, pChar, nBytes);
}
