// The script's edit box: its state, its drawing over the window's picture, and the keys, clicks
// and text input it takes on the window thread.
#include "platform/plat_editbox.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/plat_clipboard.h"
#include "platform/plat_dialog.h"
#include "platform/plat_editbox_backend.h"
#include "platform/plat_font.h"
#include "platform/plat_uidraw.h"

namespace {

// The face of the boxes and menus the platform draws (ＭＳ Ｐゴシック), at the box's font height.
const char kEditFace[] = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";
constexpr int kTextHeight = 14;
constexpr int kBorder = 1;
constexpr int kMargin = 2;   // between the frame and the text
constexpr uint32_t kFrame = 0xFF7A7A7Au, kField = 0xFFFFFFFFu, kInk = 0xFF000000u;
constexpr uint32_t kSelField = 0xFF3875D7u, kSelInk = 0xFFFFFFFFu;

struct EDIT_BOX {
    bool bOpen = false;
    PLAT_HWND hwnd = 0;
    int x = 0, y = 0, w = 0, h = 0;
    int bFocus = 0;
    PLAT_EDIT_TEXT edit;
    int nScroll = 0;        // pixels of the line scrolled out at the left
    bool bDragging = false; // the left button went down in the box and is held
};

// Where the program's picture lies in a window's client area (its game screen of sw x sh shown at
// ox, oy in ow x oh pixels); the box is placed and sized with the picture.
struct PICTURE_PLACE {
    PLAT_HWND hwnd = 0;
    int ox = 0, oy = 0, ow = 0, oh = 0, sw = 0, sh = 0;
};

std::mutex g_mx;
EDIT_BOX g_box;
PICTURE_PLACE g_place;
// Window thread only.
PLAT_UI_FONT g_font;
int g_nFontHeight = 0;   // the height g_font was asked for (0: not yet)

// The box's rectangle in its window's client area (g_mx held).
PLAT_RECT BoxRect(const EDIT_BOX& b)
{
    const PICTURE_PLACE& pl = g_place;
    if (pl.hwnd != b.hwnd || pl.sw <= 0 || pl.sh <= 0) return PLAT_RECT{b.x, b.y, b.x + b.w, b.y + b.h};
    const auto X = [&](int64_t v) { return static_cast<int32_t>(pl.ox + v * pl.ow / pl.sw); };
    const auto Y = [&](int64_t v) { return static_cast<int32_t>(pl.oy + v * pl.oh / pl.sh); };
    return PLAT_RECT{X(b.x), Y(b.y), X(int64_t(b.x) + b.w), Y(int64_t(b.y) + b.h)};
}

// The text height for the box's window: the box's font height scaled as the picture is (g_mx held).
int TextHeightFor(const EDIT_BOX& b)
{
    const PICTURE_PLACE& pl = g_place;
    if (pl.hwnd != b.hwnd || pl.sh <= 0 || pl.oh <= 0) return kTextHeight;
    return std::max(8, std::min(kTextHeight * 8, (kTextHeight * pl.oh + pl.sh / 2) / pl.sh));
}

PLAT_UI_FONT* BoxFont(int nHeight)
{
    if (g_nFontHeight != nHeight) {
        PlatUiFontClose(&g_font);
        g_nFontHeight = nHeight;
        PlatUiFontOpen(&g_font, kEditFace, nHeight, 0);
    }
    return g_font.pFont ? &g_font : nullptr;
}
SDL_Rect g_rcImeLast{-1, -1, -1, -1};

// The window shows the box anew (any thread; never with g_mx held).
void Redraw(PLAT_HWND hwnd)
{
    if (hwnd) PlatInvalidateWindow(hwnd, 0);
}

// The line as drawn: the text with the composition at the caret, one code point per character, and
// the supersampled pen position before each character and after the last.
struct LINE {
    std::vector<uint32_t> cps;
    std::vector<int> pen4;            // cps.size() + 1 entries
    std::vector<size_t> textOffset;   // the text's byte offset of each boundary (composition: the caret)
    size_t nCompFirst = 0, nCompCount = 0;
};

LINE LayOut(PLAT_UI_FONT* pFont, const PLAT_EDIT_TEXT& e)
{
    LINE line;
    const std::string& s = e.strText;
    std::vector<uint32_t> comp = PlatUiCodePoints(e.strComposition);
    int nPen4 = 0;
    const auto Add = [&](uint32_t cp, size_t nOffset) {
        line.cps.push_back(cp);
        line.pen4.push_back(nPen4);
        line.textOffset.push_back(nOffset);
        nPen4 += PlatUiAdvance4(pFont, cp, nPen4);
    };
    for (size_t i = 0;; i += PlatEditCharBytes(s, i)) {
        if (i == e.nCaret) {
            line.nCompFirst = line.cps.size();
            line.nCompCount = comp.size();
            for (uint32_t cp : comp) Add(cp, i);
        }
        if (i >= s.size()) break;
        const int n = static_cast<int>(PlatEditCharBytes(s, i));
        uint32_t cp = PlatCp932CharToUnicode(s.data() + i, n);
        // A byte without a character (a lone lead byte, a control byte) shows as a question mark.
        if (cp < 0x20 || cp == 0x7F) cp = '?';
        Add(cp, i);
    }
    line.pen4.push_back(nPen4);
    line.textOffset.push_back(s.size());
    return line;
}

// The pixel of the line (from its start) where the character boundary at index k lies.
int PenX(const LINE& line, size_t k) { return line.pen4[k] / PLAT_UI_SUPER; }

// The boundary index of a byte offset of the text (the composition's boundaries are skipped).
size_t IndexOfOffset(const LINE& line, size_t nOffset)
{
    for (size_t k = 0; k < line.textOffset.size(); ++k)
        if (line.textOffset[k] == nOffset && (k < line.nCompFirst || k >= line.nCompFirst + line.nCompCount)) return k;
    return line.textOffset.size() - 1;
}

// Where the caret is drawn: after the composition's own caret while composing.
size_t CaretIndex(const LINE& line, const PLAT_EDIT_TEXT& e)
{
    if (line.nCompCount)
        return line.nCompFirst + std::min(static_cast<size_t>(e.nCompositionCursor), line.nCompCount);
    return IndexOfOffset(line, e.nCaret);
}

int InnerWidth(const EDIT_BOX& b)
{
    const PLAT_RECT rc = BoxRect(b);
    return std::max(1, rc.right - rc.left - 2 * (kBorder + kMargin));
}

// Scrolls so that the caret stays inside the field (g_mx held).
void KeepCaretInView(EDIT_BOX* pBox, const LINE& line)
{
    const int nCaret = PenX(line, CaretIndex(line, pBox->edit));
    const int nInner = InnerWidth(*pBox);
    if (nCaret - pBox->nScroll > nInner - 1) pBox->nScroll = nCaret - nInner + 1;
    if (nCaret < pBox->nScroll) pBox->nScroll = std::max(0, nCaret - nInner / 4);
    // No blank room at the right while the text could fill it.
    const int nEnd = PenX(line, line.cps.size());
    pBox->nScroll = std::max(0, std::min(pBox->nScroll, std::max(0, nEnd - nInner + 1)));
    if (nCaret - pBox->nScroll > nInner - 1) pBox->nScroll = nCaret - nInner + 1;
}

// The text's byte offset nearest to a client x (g_mx held).
size_t HitOffset(PLAT_UI_FONT* pFont, const EDIT_BOX& b, int xClient)
{
    const LINE line = LayOut(pFont, b.edit);
    const int xLine = xClient - (BoxRect(b).left + kBorder + kMargin) + b.nScroll;
    size_t nBest = 0;
    int nBestDist = 1 << 30;
    for (size_t k = 0; k < line.pen4.size(); ++k) {
        if (k > line.nCompFirst && k <= line.nCompFirst + line.nCompCount && line.nCompCount) continue;
        const int d = std::abs(PenX(line, k) - xLine);
        if (d < nBestDist) nBestDist = d, nBest = k;
    }
    return line.textOffset[nBest];
}

void TellInputMethod(PLAT_WINDOW_REC* pRec, const SDL_Rect& rc)
{
    if (!pRec->pNative) return;
    if (rc.x == g_rcImeLast.x && rc.y == g_rcImeLast.y && rc.w == g_rcImeLast.w && rc.h == g_rcImeLast.h) return;
    g_rcImeLast = rc;
    SDL_Rect r = rc;
    SDL_SetTextInputRect(&r);
}

// Draws the box on a canvas whose row nBar is the client's top (g_mx held). The caret's rectangle
// in canvas pixels goes to *pCaret.
void DrawBox(EDIT_BOX* pBox, const PLAT_UI_CANVAS& c, int nBar, SDL_Rect* pCaret)
{
    PLAT_RECT rcBox = BoxRect(*pBox);
    rcBox.top += nBar;
    rcBox.bottom += nBar;
    const int ox = rcBox.left, oy = rcBox.top, nBoxW = rcBox.right - rcBox.left, nBoxH = rcBox.bottom - rcBox.top;
    if (nBoxW <= 0 || nBoxH <= 0) return;
    PlatUiFillRect(c, rcBox.left, rcBox.top, rcBox.right, rcBox.bottom, kField);
    PlatUiFrameRect(c, rcBox, kBorder, kFrame);
    PLAT_UI_FONT* pFont = BoxFont(TextHeightFor(*pBox));
    if (!pFont) return;
    const PLAT_EDIT_TEXT& e = pBox->edit;
    const LINE line = LayOut(pFont, e);
    KeepCaretInView(pBox, line);
    const PLAT_RECT rcInner{ox + kBorder, oy + kBorder, ox + nBoxW - kBorder, oy + nBoxH - kBorder};
    const int nLineH = pFont->nLineHeight;
    const int tx = ox + kBorder + kMargin - pBox->nScroll;
    const int ty = oy + std::max(kBorder, (nBoxH - nLineH) / 2);
    PlatUiDrawRun(pFont, c, line.cps, tx, ty, rcInner, kInk);
    // The selection while the box has the focus: the field and the text in the highlight colours.
    if (pBox->bFocus && e.nCaret != e.nAnchor && !line.nCompCount) {
        const int a = tx + PenX(line, IndexOfOffset(line, std::min(e.nCaret, e.nAnchor)));
        const int b = tx + PenX(line, IndexOfOffset(line, std::max(e.nCaret, e.nAnchor)));
        const PLAT_RECT rcSel{std::max(a, rcInner.left), std::max(ty, rcInner.top), std::min(b, rcInner.right),
                              std::min(ty + nLineH, rcInner.bottom)};
        PlatUiFillRect(c, rcSel.left, rcSel.top, rcSel.right, rcSel.bottom, kSelField);
        PlatUiDrawRun(pFont, c, line.cps, tx, ty, rcSel, kSelInk);
    }
    // The composition underlined.
    if (line.nCompCount) {
        const int a = tx + PenX(line, line.nCompFirst), b = tx + PenX(line, line.nCompFirst + line.nCompCount);
        const int yLine = std::min(ty + nLineH, rcInner.bottom - 1);
        PlatUiFillRect(c, std::max(a, rcInner.left), yLine, std::min(b, rcInner.right), yLine + 1, kInk);
    }
    const int xCaret = tx + PenX(line, CaretIndex(line, e));
    *pCaret = SDL_Rect{xCaret, ty, 1, nLineH};
    if (pBox->bFocus && xCaret >= rcInner.left && xCaret < rcInner.right)
        PlatUiFillRect(c, xCaret, std::max(ty, rcInner.top), xCaret + 1, std::min(ty + nLineH, rcInner.bottom), kInk);
}

// ---- the test-only input method --------------------------------------------------------------

// KOLVEX_TEST_IME names a UTF-8 text that a stand-in input method delivers while the box has the
// focus, through the window system's own events: a press of F8 composes it character by character
// (composition events), the next press commits it (text input events, then the composition ends).
// It exists for machines without an input method (a virtual X server).
constexpr int kTestImeKey = 0x77;   // F8
int g_nTestImeStage = 0;

std::vector<std::string> Utf8Chars(const std::string& s)
{
    std::vector<std::string> v;
    for (size_t i = 0; i < s.size();) {
        size_t n = 1;
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0xF0) n = 4;
        else if (c >= 0xE0) n = 3;
        else if (c >= 0xC0) n = 2;
        n = std::min(n, s.size() - i);
        v.push_back(s.substr(i, n));
        i += n;
    }
    return v;
}

void PushTestIme(PLAT_HWND hwnd, const char* pszText)
{
    PLAT_WINDOW_REC* pRec = PlatLookupWindow(hwnd);
    if (!pRec || !pRec->pNative) return;
    const uint32_t nWindowId = SDL_GetWindowID(static_cast<SDL_Window*>(pRec->pNative));
    const std::vector<std::string> chars = Utf8Chars(pszText);
    std::string strSoFar;
    if (g_nTestImeStage == 0) {
        for (const std::string& ch : chars) {
            if (strSoFar.size() + ch.size() >= sizeof(SDL_TextEditingEvent::text)) break;
            strSoFar += ch;
            SDL_Event ev{};
            ev.edit.type = SDL_TEXTEDITING;
            ev.edit.windowID = nWindowId;
            std::memcpy(ev.edit.text, strSoFar.c_str(), strSoFar.size() + 1);
            ev.edit.start = static_cast<Sint32>(&ch - chars.data()) + 1;
            ev.edit.length = 0;
            SDL_PushEvent(&ev);
        }
        g_nTestImeStage = 1;
        return;
    }
    // The commit, in pieces that fit the events.
    for (size_t k = 0; k <= chars.size(); ++k) {
        if (k == chars.size() || strSoFar.size() + chars[k].size() >= sizeof(SDL_TextInputEvent::text)) {
            SDL_Event ev{};
            ev.text.type = SDL_TEXTINPUT;
            ev.text.windowID = nWindowId;
            std::memcpy(ev.text.text, strSoFar.c_str(), strSoFar.size() + 1);
            if (!strSoFar.empty()) SDL_PushEvent(&ev);
            strSoFar.clear();
        }
        if (k < chars.size()) strSoFar += chars[k];
    }
    SDL_Event ev{};
    ev.edit.type = SDL_TEXTEDITING;
    ev.edit.windowID = nWindowId;
    SDL_PushEvent(&ev);
    g_nTestImeStage = 0;
}

// Keys that go on to the window although the box has the focus.
bool IsWindowKey(int nVk)
{
    return nVk == PLAT_VK_RETURN || nVk == PLAT_VK_ESCAPE || nVk == PLAT_VK_TAB || nVk == PLAT_VK_PAUSE ||
           (nVk >= PLAT_VK_F1 && nVk <= PLAT_VK_F1 + 23);
}

}  // namespace

// ---- the program's side ---------------------------------------------------------------------------

int PlatEditBoxCreate(PLAT_HWND hwndParent, const char* pszText, int x, int y, int w, int h, int nLimit)
{
    PLAT_HWND hwndOld;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        hwndOld = g_box.bOpen ? g_box.hwnd : 0;
        g_box = EDIT_BOX{};
        g_box.bOpen = true;
        g_box.hwnd = hwndParent;
        g_box.x = x, g_box.y = y, g_box.w = std::max(0, w), g_box.h = std::max(0, h);
        g_box.edit.nLimit = nLimit > 0 ? static_cast<size_t>(nLimit) : 0;
        PlatEditSetText(&g_box.edit, pszText ? pszText : "");
    }
    if (hwndOld != hwndParent) Redraw(hwndOld);
    Redraw(hwndParent);
    return 0;
}

int PlatEditBoxClose(void)
{
    PLAT_HWND hwnd;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        hwnd = g_box.bOpen ? g_box.hwnd : 0;
        g_box = EDIT_BOX{};
    }
    Redraw(hwnd);
    return 0;
}

int PlatEditBoxSetText(const char* pszText)
{
    PLAT_HWND hwnd;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (!g_box.bOpen) return -1;
        PlatEditSetText(&g_box.edit, pszText ? pszText : "");
        hwnd = g_box.hwnd;
    }
    Redraw(hwnd);
    return 0;
}

int PlatEditBoxGetText(char* pszOut, size_t cap)
{
    if (!pszOut || cap == 0) return 0;
    std::string s;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (g_box.bOpen) s = g_box.edit.strText;
    }
    PlatCutCp932(&s, cap - 1);
    std::memcpy(pszOut, s.c_str(), s.size() + 1);
    return static_cast<int>(s.size());
}

int PlatEditBoxSetFocus(int bFocus)
{
    PLAT_HWND hwnd;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (!g_box.bOpen) return -1;
        g_box.bFocus = bFocus ? 1 : 0;
        if (!bFocus) PlatEditSetComposition(&g_box.edit, "", 0);
        hwnd = g_box.hwnd;
    }
    Redraw(hwnd);
    return 0;
}

int PlatEditBoxState(int* pX, int* pY, int* pW, int* pH, int* pbFocus)
{
    std::lock_guard<std::mutex> lock(g_mx);
    if (pX) *pX = g_box.x;
    if (pY) *pY = g_box.y;
    if (pW) *pW = g_box.w;
    if (pH) *pH = g_box.h;
    if (pbFocus) *pbFocus = g_box.bFocus;
    return g_box.bOpen ? 1 : 0;
}

int PlatEditBoxGetEdit(PLAT_EDIT_TEXT* pOut)
{
    std::lock_guard<std::mutex> lock(g_mx);
    *pOut = g_box.edit;
    return g_box.bOpen ? 1 : 0;
}

// ---- the window thread's side -------------------------------------------------------------------

int PlatEditBoxTakeText(PLAT_HWND hwnd, const char* pszUtf8)
{
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (!g_box.bOpen || !g_box.bFocus || g_box.hwnd != hwnd || !hwnd) return 0;
        PlatEditInsertUtf8(&g_box.edit, pszUtf8 ? pszUtf8 : "");
    }
    Redraw(hwnd);
    return 1;
}

int PlatEditBoxTakeComposition(PLAT_HWND hwnd, const char* pszUtf8, int nCursor)
{
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (!g_box.bOpen || !g_box.bFocus || g_box.hwnd != hwnd || !hwnd) return 0;
        PlatEditSetComposition(&g_box.edit, pszUtf8 ? pszUtf8 : "", nCursor);
    }
    Redraw(hwnd);
    return 1;
}

int PlatEditBoxRouteKey(PLAT_HWND hwnd, int nVk, int bDown)
{
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (!g_box.bOpen || !g_box.bFocus || g_box.hwnd != hwnd || !hwnd) return 0;
    }
    const int bShift = PlatGetKeyDown(PLAT_VK_SHIFT), bCtrl = PlatGetKeyDown(PLAT_VK_CONTROL);
    if (PlatGetKeyDown(PLAT_VK_MENU)) return 0;
    const char* pszTestIme = std::getenv("KOLVEX_TEST_IME");
    if (nVk == kTestImeKey && pszTestIme && *pszTestIme) {
        if (bDown) PushTestIme(hwnd, pszTestIme);
        return 1;
    }
    if (IsWindowKey(nVk)) return 0;
    if (!bDown) return 1;
    const bool bCopy = bCtrl && (nVk == 'C' || nVk == PLAT_VK_INSERT);
    const bool bCut = (bCtrl && nVk == 'X') || (bShift && nVk == PLAT_VK_DELETE);
    const bool bPaste = (bCtrl && nVk == 'V') || (bShift && nVk == PLAT_VK_INSERT);
    if (bCopy || bCut) {
        std::string strSel;
        {
            std::lock_guard<std::mutex> lock(g_mx);
            if (g_box.edit.strComposition.empty()) strSel = PlatEditSelection(&g_box.edit);
        }
        if (strSel.empty() || PlatSetClipboardText(strSel.c_str()) != 0) return 1;
        if (bCut) {
            std::lock_guard<std::mutex> lock(g_mx);
            if (g_box.bOpen && PlatEditSelection(&g_box.edit) == strSel) PlatEditDeleteSelection(&g_box.edit);
        }
    } else if (bPaste) {
        std::string strUtf8;
        if (PlatGetClipboardTextUtf8(&strUtf8) != 0) return 1;
        std::lock_guard<std::mutex> lock(g_mx);
        if (g_box.bOpen && g_box.edit.strComposition.empty()) PlatEditInsertUtf8(&g_box.edit, strUtf8);
    } else {
        std::lock_guard<std::mutex> lock(g_mx);
        PlatEditKey(&g_box.edit, nVk, bShift, bCtrl);
    }
    Redraw(hwnd);
    return 1;
}

int PlatEditBoxRouteMouse(PLAT_HWND hwnd, int nButton, int bDown, int x, int y)
{
    int r = 0;
    bool bChanged = false;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (!g_box.bOpen || g_box.hwnd != hwnd || !hwnd) return 0;
        PLAT_UI_FONT* pFont = BoxFont(TextHeightFor(g_box));
        const PLAT_RECT rc = BoxRect(g_box);
        const bool bInside = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
        if (nButton == 0) {
            if (!g_box.bDragging || !pFont) return 0;
            PlatEditPlaceCaret(&g_box.edit, HitOffset(pFont, g_box, x), 1);
            bChanged = true;
            r = 1;
        } else if (nButton == 1 && bDown) {
            if (bInside) {
                g_box.bFocus = 1;
                PlatEditSetComposition(&g_box.edit, "", 0);
                if (pFont) PlatEditPlaceCaret(&g_box.edit, HitOffset(pFont, g_box, x), PlatGetKeyDown(PLAT_VK_SHIFT));
                g_box.bDragging = true;
                r = 1;
            } else if (g_box.bFocus) {
                g_box.bFocus = 0;
                PlatEditSetComposition(&g_box.edit, "", 0);
            }
            bChanged = true;
        } else if (nButton == 1) {
            r = g_box.bDragging ? 1 : 0;
            g_box.bDragging = false;
        } else {
            r = bInside ? 1 : 0;
        }
    }
    if (bChanged) Redraw(hwnd);
    return r;
}

int PlatComposeWindow(PLAT_WINDOW_REC* pRec, std::vector<uint32_t>* pOut, int* pW, int* pH)
{
    SDL_Rect rcCaret{};
    bool bFocused = false;
    const auto DrawUnder = [&](const PLAT_UI_CANVAS& c, int nBar) {
        std::lock_guard<std::mutex> lock(g_mx);
        if (!g_box.bOpen || g_box.hwnd != pRec->hwnd || g_box.w <= 0 || g_box.h <= 0) return false;
        DrawBox(&g_box, c, nBar, &rcCaret);
        bFocused = g_box.bFocus != 0;
        return true;
    };
    bool bBox;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        bBox = g_box.bOpen && g_box.hwnd == pRec->hwnd;
    }
    const int r = bBox ? PlatMenuComposeWindow(pRec, pOut, pW, pH, DrawUnder) : PlatMenuComposeWindow(pRec, pOut, pW, pH);
    if (bFocused) TellInputMethod(pRec, rcCaret);
    return r;
}

int PlatWindowHasOverlay(const PLAT_WINDOW_REC* pRec)
{
    if (!pRec) return 0;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (g_box.bOpen && g_box.hwnd == pRec->hwnd) return 1;
    }
    return PlatMenuDrawsOverPicture(pRec);
}

int PlatEditBoxSetPicturePlace(PLAT_HWND hwnd, int ox, int oy, int ow, int oh, int sw, int sh)
{
    std::lock_guard<std::mutex> lock(g_mx);
    g_place = PICTURE_PLACE{hwnd, ox, oy, ow, oh, sw, sh};
    return 0;
}

void PlatEditBoxShutdown(void)
{
    {
        std::lock_guard<std::mutex> lock(g_mx);
        g_place = PICTURE_PLACE{};
    }
    PlatUiFontClose(&g_font);
    g_nFontHeight = 0;
    g_rcImeLast = SDL_Rect{-1, -1, -1, -1};
    g_nTestImeStage = 0;
}
