// The text style and text style information commands.
#include "image/cmd_text_style.h"

#include <algorithm>
#include <cstdint>

#include "core/cp932.h"
#include "core/errors.h"
#include "image/cmd_layer.h"
#include "image/text_draw.h"
#include "image/text_font.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/text_buffer.h"
#include "script/variables.h"
#include "script/dispatch.h"

namespace {


// A font number counted from 1 outside 1..count is refused with 101010 or 101240, naming the
// argument. True after the report.
bool RefuseFontNumber(int nCmd, int nArgId, int64_t llNumber)
{
    if (llNumber < 1) {
        ReportScriptErrorF(KX_ERR_ARG_MINIMUM, 1, GetScriptCommandName(nCmd), LayerArgName(nCmd, nArgId), llNumber, 1);
        return true;
    }
    if (llNumber > g_nFonts) {
        ReportScriptErrorF(KX_ERR_TEXT_FONT_NUMBER, 1, GetScriptCommandName(nCmd), LayerArgName(nCmd, nArgId), llNumber,
                           g_nFonts);
        return true;
    }
    return false;
}

// A style value: the argument clamped to lo..hi, combined with the current value by the argument's
// operator, and the result kept inside the range whatever the operator (drawing indexes tables
// with these values).
int32_t ClampedStyleValue(int nId, int64_t llCurrent, int64_t lo, int64_t hi)
{
    const int64_t v = std::clamp(ArgInt(nId), lo, hi);
    return static_cast<int32_t>(std::clamp(ApplyArgOpClamped(ArgOp(nId), llCurrent, v, lo, hi), lo, hi));
}

// The arguments of the style command applied to the current slot. 0, or -1 after a report.
int ApplyStyleArgs(void)
{
    if (HasArg(TEXTSTYLE_ARG_SLOT)) {
        const int64_t n = ArgInt(TEXTSTYLE_ARG_SLOT);
        if (SelectTextSlot(n) != 0) {
            ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, GetScriptCommandName(CMDID_TEXT_STYLE),
                               LayerArgName(CMDID_TEXT_STYLE, TEXTSTYLE_ARG_SLOT), n, 0, KX_TEXT_SLOTS - 1);
            return -1;
        }
    }
    if (HasArg(TEXTSTYLE_ARG_FONT)) {
        const int64_t n = ArgInt(TEXTSTYLE_ARG_FONT);
        if (RefuseFontNumber(CMDID_TEXT_STYLE, TEXTSTYLE_ARG_FONT, n)) return -1;
        SetSlotFontIndex(n - 1);
    }
    if (HasArg(TEXTSTYLE_ARG_FACE)) SetSlotFontByName(ArgText(TEXTSTYLE_ARG_FACE));

    const int s = g_nTextSlot;
    // Slot 0's style is mirrored in the message text buffer.
    TEXT_BUFFER* m = s == 0 ? g_pTextBuffer : nullptr;
    if (HasArg(TEXTSTYLE_ARG_ANTIALIAS)) {
        g_abTextAntialias[s] = static_cast<uint8_t>(ArgInt(TEXTSTYLE_ARG_ANTIALIAS));
        if (m) m->bAntialias = g_abTextAntialias[s];
    }
    if (HasArg(TEXTSTYLE_ARG_COLOR_A)) {
        g_anTextColorA[s] = ClampedStyleValue(TEXTSTYLE_ARG_COLOR_A, g_anTextColorA[s], 0, 0xFFFFFF);
        if (m) m->nColorA = g_anTextColorA[s];
    }
    if (HasArg(TEXTSTYLE_ARG_COLOR_B)) {
        // The slot's own value; -1 (the same as A) counts as 0 for the operators.
        g_anTextColorB[s] = ClampedStyleValue(TEXTSTYLE_ARG_COLOR_B, std::max(0, g_anTextColorB[s]), 0, 0xFFFFFF);
        if (m) m->nColorB = g_anTextColorB[s];
    }
    if (HasArg(TEXTSTYLE_ARG_GRADIENT)) {
        g_abTextGradient[s] = static_cast<uint8_t>(ClampedStyleValue(TEXTSTYLE_ARG_GRADIENT, g_abTextGradient[s], 0, 8));
        if (m) m->bGradient = g_abTextGradient[s];
    }
    if (HasArg(TEXTSTYLE_ARG_ORIENT)) {
        g_abTextOrient[s] = static_cast<uint8_t>(ClampedStyleValue(TEXTSTYLE_ARG_ORIENT, g_abTextOrient[s], 0, 8));
        if (m) m->bOrientation = g_abTextOrient[s];
    }
    if (HasArg(TEXTSTYLE_ARG_TRANSPARENT)) {
        g_abTextTransparent[s] =
            static_cast<uint8_t>(ClampedStyleValue(TEXTSTYLE_ARG_TRANSPARENT, g_abTextTransparent[s], 0, 1));
        if (m) m->bTransparent = g_abTextTransparent[s];
    }
    if (HasArg(TEXTSTYLE_ARG_SIZE)) {
        g_anTextSize[s] = ClampedStyleValue(TEXTSTYLE_ARG_SIZE, g_anTextSize[s], 0, KX_TEXT_MAX_SIZE);
        if (m) m->nSize = g_anTextSize[s];
    }
    if (HasArg(TEXTSTYLE_ARG_HEIGHT)) {
        g_anTextHeight[s] = ClampedStyleValue(TEXTSTYLE_ARG_HEIGHT, g_anTextHeight[s], 0, KX_TEXT_MAX_SIZE);
        if (m) m->nHeight = g_anTextHeight[s];
    }
    if (HasArg(TEXTSTYLE_ARG_BOLD)) {
        g_anTextBold[s] = ClampedStyleValue(TEXTSTYLE_ARG_BOLD, g_anTextBold[s], 0, 1);
        if (m) m->bBold = static_cast<uint8_t>(g_anTextBold[s]);
    }
    return 0;
}

// The output variable of the information command.
using OUTPUT = ARG_OUT;

int StoreInt(const OUTPUT& o, int64_t v) { return SetVarInt(o.nVar, o.llElem, v) == 0 ? 0 : -1; }

// The font number a font question asks about: id 0, else the current slot's font + 1. 0 with the
// 0-based index, -1 after a report.
int AskedFont(int64_t* pllIndex)
{
    const int64_t l = HasArg(TEXTINFO_ARG_FONT) ? ArgInt(TEXTINFO_ARG_FONT) : int64_t(GetSlotFontIndex()) + 1;
    if (RefuseFontNumber(CMDID_TEXT_STYLE_INFO, TEXTINFO_ARG_FONT, l)) return -1;
    *pllIndex = l - 1;
    return 0;
}

bool IsOne(int nId) { return HasArg(nId) && ArgInt(nId) == 1; }

}  // namespace

int CmdTextStyle(void)
{
    if (FetchCommandArgs(CMDID_TEXT_STYLE) != 0) return -1;
    const int rc = ApplyStyleArgs();
    SelectTextSlot(0);
    return rc;
}

int CmdTextStyleInfo(void)
{
    if (FetchCommandArgs(CMDID_TEXT_STYLE_INFO) != 0) return -1;
    const OUTPUT o = GetArgOut(TEXTINFO_ARG_OUT);
    if (!o.pVar) return 0;

    // Slot 0's style values, in the order of ids 2..10.
    const int64_t allStyle[] = {g_abTextAntialias[0], g_anTextColorA[0], g_anTextColorB[0],
                                g_abTextGradient[0],  g_abTextOrient[0],  g_abTextTransparent[0],
                                g_anTextSize[0],      g_anTextHeight[0],  g_anTextBold[0]};
    for (int nId = TEXTINFO_ARG_ANTIALIAS; nId <= 10; ++nId)
        if (HasArg(nId)) return StoreInt(o, allStyle[nId - TEXTINFO_ARG_ANTIALIAS]);
    if (IsOne(TEXTINFO_ARG_COUNT)) return StoreInt(o, g_nFonts);
    if (HasArg(TEXTINFO_ARG_ZERO)) return StoreInt(o, 0);
    if (HasArg(TEXTINFO_ARG_ADVANCE) || HasArg(TEXTINFO_ARG_GLYPH_HEIGHT)) {
        const char* p = ArgText(TEXTINFO_ARG_TEXT);
        const int nBytes = std::max(1, CharLenCp932(p));
        int32_t nAdvance = 0, nGlyphHeight = 0;
        RenderGlyph(p, nBytes, g_anTextSize[0], g_anTextHeight[0], g_anTextBold[0], g_abTextAntialias[0], &nAdvance,
                    &nGlyphHeight);
        return StoreInt(o, HasArg(TEXTINFO_ARG_ADVANCE) ? nAdvance : nGlyphHeight);
    }
    if (IsOne(TEXTINFO_ARG_FACE_NAME)) {
        int64_t i = 0;
        if (AskedFont(&i) != 0) return -1;
        const char* pszName = GetFontName(i);
        if (!pszName[0]) return StoreInt(o, 0);
        return SetVarString(o.nVar, o.llElem, pszName) == 0 ? 0 : -1;
    }
    if (IsOne(TEXTINFO_ARG_NON_JAPANESE)) {
        int64_t i = 0;
        if (AskedFont(&i) != 0) return -1;
        return StoreInt(o, IsFontNonJapanese(i));
    }
    return StoreInt(o, 0);
}
