// Editing a one-line cp932 text: caret, selection, byte limit and composition.
#include "platform/plat_edit_text.h"

#include <algorithm>

#include "platform/plat_internal.h"

namespace {

bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The byte length of the UTF-8 sequence at p (n bytes left): 1..4 for a well-formed one, 0 for a
// broken one (its first byte is then skipped alone).
size_t Utf8SequenceLength(const unsigned char* p, size_t n)
{
    const unsigned c = p[0];
    const size_t nLen = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (nLen == 0 || nLen > n) return 0;
    for (size_t k = 1; k < nLen; ++k)
        if ((p[k] & 0xC0) != 0x80) return 0;
    return nLen;
}

size_t SelStart(const PLAT_EDIT_TEXT* p) { return std::min(p->nCaret, p->nAnchor); }
size_t SelEnd(const PLAT_EDIT_TEXT* p) { return std::max(p->nCaret, p->nAnchor); }

// The boundary before nOffset (0 stays 0).
size_t PrevBoundary(const std::string& s, size_t nOffset)
{
    size_t nPrev = 0;
    for (size_t i = 0; i < nOffset && i < s.size(); i += PlatEditCharBytes(s, i)) nPrev = i;
    return nPrev;
}

// nOffset itself when it is a boundary, else the boundary before it.
size_t FloorBoundary(const std::string& s, size_t nOffset)
{
    if (nOffset >= s.size()) return s.size();
    size_t i = 0;
    while (i < s.size()) {
        const size_t nNext = i + PlatEditCharBytes(s, i);
        if (nNext > nOffset) return i;
        i = nNext;
    }
    return s.size();
}

void MoveCaret(PLAT_EDIT_TEXT* p, size_t nTo, int bExtend)
{
    p->nCaret = nTo;
    if (!bExtend) p->nAnchor = nTo;
}

}  // namespace

size_t PlatEditCharBytes(const std::string& s, size_t nOffset)
{
    if (nOffset >= s.size()) return 0;
    return IsLead(static_cast<unsigned char>(s[nOffset])) && nOffset + 1 < s.size() ? 2 : 1;
}

void PlatEditSetText(PLAT_EDIT_TEXT* pEdit, const std::string& strCp932)
{
    pEdit->strText = strCp932.substr(0, strCp932.find('\0'));
    pEdit->nCaret = pEdit->nAnchor = pEdit->strText.size();
    pEdit->strComposition.clear();
    pEdit->nCompositionCursor = 0;
}

std::string PlatEditSelection(const PLAT_EDIT_TEXT* pEdit)
{
    return pEdit->strText.substr(SelStart(pEdit), SelEnd(pEdit) - SelStart(pEdit));
}

void PlatEditDeleteSelection(PLAT_EDIT_TEXT* pEdit)
{
    const size_t a = SelStart(pEdit), b = SelEnd(pEdit);
    pEdit->strText.erase(a, b - a);
    pEdit->nCaret = pEdit->nAnchor = a;
}

int PlatEditInsertUtf8(PLAT_EDIT_TEXT* pEdit, const std::string& strUtf8)
{
    pEdit->strComposition.clear();
    pEdit->nCompositionCursor = 0;
    // What the typing would add, character by character, before anything is replaced.
    std::string strAdd;
    int nTaken = 0;
    const size_t nKept = pEdit->strText.size() - (SelEnd(pEdit) - SelStart(pEdit));
    const auto* p = reinterpret_cast<const unsigned char*>(strUtf8.data());
    for (size_t i = 0; i < strUtf8.size();) {
        const size_t nLen = Utf8SequenceLength(p + i, strUtf8.size() - i);
        if (nLen == 0) {
            ++i;
            continue;
        }
        const unsigned char c = p[i];
        if (c == '\r' || c == '\n') break;
        std::string strChar;
        const bool bControl = nLen == 1 && (c < 0x20 || c == 0x7F);
        if (!bControl && PlatConvertStrict(PLAT_CONV_UTF8_TO_CP932, strUtf8.data() + i, nLen, &strChar) == 0 &&
            !strChar.empty() && (pEdit->nLimit == 0 || nKept + strAdd.size() + strChar.size() <= pEdit->nLimit)) {
            strAdd += strChar;
            ++nTaken;
        }
        i += nLen;
    }
    // A full field keeps its selection when nothing can be typed, as an edit control does.
    if (nTaken == 0) return 0;
    PlatEditDeleteSelection(pEdit);
    pEdit->strText.insert(pEdit->nCaret, strAdd);
    pEdit->nCaret = pEdit->nAnchor = pEdit->nCaret + strAdd.size();
    return nTaken;
}

int PlatEditKey(PLAT_EDIT_TEXT* pEdit, int nKey, int bShift, int bCtrl)
{
    const bool bComposing = !pEdit->strComposition.empty();
    const std::string& s = pEdit->strText;
    const bool bSelected = pEdit->nCaret != pEdit->nAnchor;
    switch (nKey) {
    case PLAT_EDIT_KEY_LEFT:
        if (bComposing) return 1;
        // Without Shift a selection collapses to its start.
        if (bSelected && !bShift) MoveCaret(pEdit, SelStart(pEdit), 0);
        else MoveCaret(pEdit, PrevBoundary(s, pEdit->nCaret), bShift);
        return 1;
    case PLAT_EDIT_KEY_RIGHT:
        if (bComposing) return 1;
        if (bSelected && !bShift) MoveCaret(pEdit, SelEnd(pEdit), 0);
        else MoveCaret(pEdit, pEdit->nCaret + PlatEditCharBytes(s, pEdit->nCaret), bShift);
        return 1;
    case PLAT_EDIT_KEY_HOME:
    case PLAT_EDIT_KEY_UP:
        if (!bComposing) MoveCaret(pEdit, 0, bShift);
        return 1;
    case PLAT_EDIT_KEY_END:
    case PLAT_EDIT_KEY_DOWN:
        if (!bComposing) MoveCaret(pEdit, s.size(), bShift);
        return 1;
    case PLAT_EDIT_KEY_BACK:
        if (bComposing) return 1;
        if (!bSelected) pEdit->nAnchor = PrevBoundary(s, pEdit->nCaret);
        PlatEditDeleteSelection(pEdit);
        return 1;
    case PLAT_EDIT_KEY_DELETE:
        if (bComposing) return 1;
        if (!bSelected) pEdit->nAnchor = pEdit->nCaret + PlatEditCharBytes(s, pEdit->nCaret);
        PlatEditDeleteSelection(pEdit);
        return 1;
    case PLAT_EDIT_KEY_A:
        if (!bCtrl) return 0;
        if (!bComposing) {
            pEdit->nAnchor = 0;
            pEdit->nCaret = s.size();
        }
        return 1;
    default: return 0;
    }
}

void PlatEditPlaceCaret(PLAT_EDIT_TEXT* pEdit, size_t nOffset, int bExtend)
{
    MoveCaret(pEdit, FloorBoundary(pEdit->strText, nOffset), bExtend);
}

void PlatEditSetComposition(PLAT_EDIT_TEXT* pEdit, const std::string& strUtf8, int nCursor)
{
    pEdit->strComposition = strUtf8;
    pEdit->nCompositionCursor = strUtf8.empty() ? 0 : std::max(0, nCursor);
}
