// Message boxes drawn by the platform itself: a window of the window system with the caption, the
// text through the font service (anti-aliased by 4 x 4 supersampling) and the buttons, modal on the
// window thread. The window system's own boxes (SDL's X11 box draws with the X server's core fonts)
// show Japanese text as mojibake or not at all on an ordinary X server; these read the same everywhere.
// Without a display the caption and the text go to stderr and the default button answers.
#include "platform/plat_msgbox.h"
#include "platform/plat_paths.h"
#include "platform/plat_font.h"
#include "platform/plat_internal.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_text.h"
#include "platform/plat_uidraw.h"
#include "platform/plat_window_backend.h"
#include "platform/plat_x11.h"

#include <SDL.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

static std::mutex g_mxMsgBox;
static PLAT_MSGBOX_HOOK g_pfnMsgBoxHook = nullptr;
static void* g_pMsgBoxHookUser = nullptr;
static PLAT_MSGBOX_OPEN_HOOK g_pfnOpenHook = nullptr;
static void* g_pOpenHookUser = nullptr;

// SDL reads driver names without regard to ASCII case.
static int IsDriverName(const char* pszValue, const char* pszName)
{
    for (;; pszValue++, pszName++) {
        char c = *pszValue;
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
        if (c != *pszName) return 0;
        if (c == 0) return 1;
    }
}

int PlatIsHeadless(void)
{
    const char* pszDriver = getenv("SDL_VIDEODRIVER");
    if (pszDriver && (IsDriverName(pszDriver, "dummy") || IsDriverName(pszDriver, "offscreen"))) return 1;
    const char* pszX = getenv("DISPLAY");
    const char* pszWayland = getenv("WAYLAND_DISPLAY");
    return (!pszX || !*pszX) && (!pszWayland || !*pszWayland);
}

// A button text without its mnemonic markers: "&Yes" shows "Yes", "&&" shows one '&'. Works on the
// UTF-8 form, where '&' is never part of another character.
static std::string StripMnemonic(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '&') {
            if (i + 1 < s.size() && s[i + 1] == '&') out.push_back('&'), i++;
            continue;
        }
        out.push_back(s[i]);
    }
    return out;
}

// Texts here and below are UTF-8: a box given in cp932 was converted at its entry.
static int WriteToStderr(const std::string& strCaptionUtf8, const std::string& strTextUtf8)
{
    std::string strCaption = PlatShowFolderAliases(strCaptionUtf8);
    std::string strText = PlatShowFolderAliases(strTextUtf8);
    std::lock_guard<std::mutex> lock(g_mxMsgBox);
    fprintf(stderr, "[%s]\n%s\n", strCaption.c_str(), strText.c_str());
    fflush(stderr);
    return 0;
}

// The window system's own box, only where no font at all can be found for the drawn one (SDL's X11
// box then draws with the X server's fonts, which may not show Japanese). 0 with the chosen id in
// *pChosen (the default when the box was closed without a button), or -1 when SDL could not show it.
static int ShowSdlBox(const std::string& strCaptionUtf8, const std::string& strTextUtf8, const PLAT_MSGBOX_BUTTON* pButtons,
                      int nButtons, int nDefaultId, Uint32 nFlags, int* pChosen)
{
    std::string strCaption = PlatShowFolderAliases(strCaptionUtf8);
    std::string strText = PlatShowFolderAliases(strTextUtf8);
    std::vector<std::string> aTexts;
    std::vector<SDL_MessageBoxButtonData> aButtons;
    for (int i = 0; i < nButtons; i++) aTexts.push_back(StripMnemonic(pButtons[i].pszText ? pButtons[i].pszText : ""));
    if (nButtons <= 0) aTexts.push_back("OK");
    for (size_t i = 0; i < aTexts.size(); i++) {
        SDL_MessageBoxButtonData b;
        b.buttonid = nButtons > 0 ? pButtons[i].nId : nDefaultId;
        b.text = aTexts[i].c_str();
        b.flags = 0;
        if (b.buttonid == nDefaultId) b.flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        if (aTexts.size() == 1) b.flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
        aButtons.push_back(b);
    }
    SDL_MessageBoxData data{};
    data.flags = nFlags | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    data.window = nullptr;
    data.title = strCaption.c_str();
    data.message = strText.c_str();
    data.numbuttons = (int)aButtons.size();
    data.buttons = aButtons.data();
    data.colorScheme = nullptr;
    int nChosen = -1;
    if (SDL_ShowMessageBox(&data, &nChosen) != 0) {
        SDL_ClearError();
        return -1;
    }
    *pChosen = nDefaultId;
    for (const SDL_MessageBoxButtonData& b : aButtons)
        if (b.buttonid == nChosen) *pChosen = nChosen;
    return 0;
}

// =================================================================================================
// The drawn box
// =================================================================================================

namespace {

const char kBoxClass[] = "KxMessageBox";
// "ＭＳ Ｐゴシック" in cp932: the font service maps it to the IPA P Gothic family or its substitutes.
const char kBoxFace[] = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";

constexpr int kSuper = PLAT_UI_SUPER;      // supersampling in each direction
constexpr int kPad = 16;                   // space around the text
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;
constexpr int kButtonHeight = 28;
constexpr int kButtonMinWidth = 88;
constexpr int kButtonLabelPad = 14;
constexpr int kButtonGap = 8;
constexpr int kStripPad = 11;              // space above and below the buttons in their strip
constexpr int kLineGap = 4;                // space between lines
constexpr int kScrollBarWidth = 8;
constexpr int kMinClientWidth = 260;

constexpr uint32_t kColourText = 0xFF000000u;
constexpr uint32_t kColourBack = 0xFFFFFFFFu;
constexpr uint32_t kColourStrip = 0xFFF0F0F0u;
constexpr uint32_t kColourButton = 0xFFE1E1E1u;
constexpr uint32_t kColourButtonPressed = 0xFFCCE4F7u;
constexpr uint32_t kColourButtonEdge = 0xFFADADADu;
constexpr uint32_t kColourFocus = 0xFF0078D7u;
constexpr uint32_t kColourScroll = 0xFFC2C2C2u;

struct BOX_BUTTON {
    int nId;
    std::vector<uint32_t> label;   // code points, the mnemonic marks taken out
    uint32_t nMnemonic;            // upper-case ASCII letter or digit, 0 when none
    PLAT_RECT rc;
};

struct BOX_STATE {
    PLAT_UI_FONT text;                  // the face at the text height, its lines' height with the gap
    std::vector<std::vector<uint32_t>> lines;
    std::vector<BOX_BUTTON> buttons;
    int nIcon = 0;
    PLAT_RECT rcIcon{};
    PLAT_RECT rcText{};
    int nVisibleLines = 0;
    int nTopLine = 0;
    int nFocus = 0;
    int nPressed = -1;                  // the button the left mouse button went down on
    int nEscapeId = -1;                 // the answer of Escape and of the close button, -1: none
    int nDefaultId = 0;
    int bDone = 0;
    int nAnswer = 0;
};

std::map<PLAT_HWND, BOX_STATE*> g_mapBoxes;   // window thread only

BOX_STATE* BoxOf(PLAT_HWND hwnd)
{
    auto it = g_mapBoxes.find(hwnd);
    return it == g_mapBoxes.end() ? nullptr : it->second;
}

bool IsWide(uint32_t cp)
{
    return (cp >= 0x2E80 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x3000 && cp <= 0x303F);
}

// Characters that never begin a line (closing marks and small kana), nor end one (opening marks).
bool NoLineStart(uint32_t cp)
{
    static const uint32_t k[] = {0x3001, 0x3002, 0xFF0C, 0xFF0E, 0x30FB, 0xFF1A, 0xFF1B, 0xFF1F, 0xFF01, 0x309B,
                                 0x309C, 0x30FC, 0x300D, 0x300F, 0x3011, 0xFF09, 0x3015, 0xFF3D, 0xFF5D, 0x3009,
                                 0x300B, 0x3041, 0x3043, 0x3045, 0x3047, 0x3049, 0x3063, 0x3083, 0x3085, 0x3087,
                                 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30C3, 0x30E3, 0x30E5, 0x30E7, ')',
                                 ']', '}', ',', '.', '!', '?', ':', ';'};
    return std::find(std::begin(k), std::end(k), cp) != std::end(k);
}

bool NoLineEnd(uint32_t cp)
{
    static const uint32_t k[] = {0x300C, 0x300E, 0x3010, 0xFF08, 0x3014, 0xFF3B, 0xFF5B, 0x3008, 0x300A, '(', '[', '{'};
    return std::find(std::begin(k), std::end(k), cp) != std::end(k);
}

// May a line break come between a and b?
bool CanBreakBetween(uint32_t a, uint32_t b)
{
    if (NoLineStart(b) || NoLineEnd(a)) return false;
    return a == ' ' || a == '\t' || IsWide(a) || IsWide(b) || a == '-' || a == '/' || a == '\\';
}

// Splits the text into lines: at its own line breaks, then wherever a line grows wider than nMax.
void BreakLines(BOX_STATE* pBox, const std::vector<uint32_t>& text, int nMax)
{
    pBox->lines.clear();
    const int nMax4 = nMax * kSuper;
    std::vector<uint32_t> para;
    auto flushPara = [&]() {
        size_t i = 0;
        do {
            std::vector<uint32_t> line;
            int nPen4 = 0;
            size_t nBreak = 0;   // the length of line at the last break opportunity, 0: none
            for (; i < para.size(); ++i) {
                const uint32_t cp = para[i];
                const int nAdv = PlatUiAdvance4(&pBox->text, cp, nPen4);
                if (!line.empty() && nPen4 + nAdv > nMax4 && cp != ' ') {
                    if (nBreak > 0) {
                        i -= line.size() - nBreak;
                        line.resize(nBreak);
                    }
                    break;
                }
                line.push_back(cp);
                nPen4 += nAdv;
                if (i + 1 < para.size() && CanBreakBetween(cp, para[i + 1])) nBreak = line.size();
            }
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
            while (i < para.size() && para[i] == ' ') ++i;   // the spaces at a break are not shown
            pBox->lines.push_back(std::move(line));
        } while (i < para.size());
        para.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t cp = text[i];
        if (cp == '\r' || cp == '\n') {
            if (cp == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            flushPara();
            continue;
        }
        if (cp < 0x20 && cp != '\t') continue;
        para.push_back(cp);
    }
    flushPara();
    while (pBox->lines.size() > 1 && pBox->lines.back().empty()) pBox->lines.pop_back();
}

// The answer of Escape and of the close button: Cancel, else No, else the only button.
int EscapeAnswerOf(const std::vector<BOX_BUTTON>& buttons)
{
    for (const BOX_BUTTON& b : buttons)
        if (b.nId == PLAT_IDCANCEL) return b.nId;
    for (const BOX_BUTTON& b : buttons)
        if (b.nId == PLAT_IDNO) return b.nId;
    return buttons.size() == 1 ? buttons[0].nId : -1;
}

void Finish(BOX_STATE* pBox, int nId)
{
    if (pBox->bDone) return;
    pBox->bDone = 1;
    pBox->nAnswer = nId;
}

// ---- Drawing ----

// The icon: a disc of the kind's colour, anti-aliased like the text, with its sign in white.
void DrawIcon(BOX_STATE* pBox, const PLAT_UI_CANVAS& c)
{
    if (!pBox->nIcon) return;
    uint32_t nColour = 0xFF1E6FD0u;   // information and question: blue
    uint32_t nSign = 'i';
    if (pBox->nIcon == PLAT_MB_ICONSTOP) nColour = 0xFFD83B2Eu, nSign = 0xD7;
    else if (pBox->nIcon == PLAT_MB_ICONEXCLAMATION) nColour = 0xFFE8A100u, nSign = '!';
    else if (pBox->nIcon == PLAT_MB_ICONQUESTION) nSign = '?';
    const PLAT_RECT& rc = pBox->rcIcon;
    const int n = kIconSize * kSuper;
    const double dR = n / 2.0;
    for (int y = 0; y < kIconSize; ++y)
        for (int x = 0; x < kIconSize; ++x) {
            int nIn = 0;
            for (int sy = 0; sy < kSuper; ++sy)
                for (int sx = 0; sx < kSuper; ++sx) {
                    const double dx = x * kSuper + sx + 0.5 - dR, dy = y * kSuper + sy + 0.5 - dR;
                    nIn += dx * dx + dy * dy <= dR * dR;
                }
            if (!nIn) continue;
            const int px = rc.left + x, py = rc.top + y;
            if (px < 0 || py < 0 || px >= c.w || py >= c.h) continue;
            uint32_t& d = c.p[static_cast<size_t>(py) * static_cast<size_t>(c.nStride) + static_cast<size_t>(px)];
            d = PlatUiBlend(d, nColour, nIn);
        }
    const std::vector<uint32_t> sign{nSign};
    const int w = PlatUiTextWidth(&pBox->text, sign);
    PlatUiDrawRun(&pBox->text, c, sign, rc.left + (kIconSize - w) / 2, rc.top + (kIconSize - pBox->text.nLineHeight) / 2 + 1, rc,
            0xFFFFFFFFu);
}

void Paint(PLAT_HWND hwnd, BOX_STATE* pBox)
{
    uint32_t* pPixels = nullptr;
    int w = 0, h = 0, nPitch = 0;
    if (PlatGetWindowFramebuffer(hwnd, &pPixels, &w, &h, &nPitch) != 0 || !pPixels) return;
    const PLAT_UI_CANVAS c{pPixels, w, h, nPitch / 4};
    const int nStripTop = h - (kButtonHeight + 2 * kStripPad);
    PlatUiFillRect(c, 0, 0, w, nStripTop, kColourBack);
    PlatUiFillRect(c, 0, nStripTop, w, h, kColourStrip);
    DrawIcon(pBox, c);
    const PLAT_RECT& rt = pBox->rcText;
    for (int i = 0; i < pBox->nVisibleLines; ++i) {
        const size_t nLine = static_cast<size_t>(pBox->nTopLine + i);
        if (nLine >= pBox->lines.size()) break;
        PlatUiDrawRun(&pBox->text, c, pBox->lines[nLine], rt.left, rt.top + i * pBox->text.nLineHeight, rt, kColourText);
    }
    if (static_cast<int>(pBox->lines.size()) > pBox->nVisibleLines && pBox->nVisibleLines > 0) {
        // The scroll bar: the thumb's share and place are those of the lines shown.
        const int nTrack = rt.bottom - rt.top;
        const int nTotal = static_cast<int>(pBox->lines.size());
        const int nThumb = std::max(16, nTrack * pBox->nVisibleLines / nTotal);
        const int nTop = rt.top + (nTrack - nThumb) * pBox->nTopLine / std::max(1, nTotal - pBox->nVisibleLines);
        PlatUiFillRect(c, w - kPad / 2 - kScrollBarWidth, nTop, w - kPad / 2, nTop + nThumb, kColourScroll);
    }
    for (size_t i = 0; i < pBox->buttons.size(); ++i) {
        const BOX_BUTTON& b = pBox->buttons[i];
        const bool bPressed = pBox->nPressed == static_cast<int>(i);
        PlatUiFillRect(c, b.rc.left, b.rc.top, b.rc.right, b.rc.bottom, bPressed ? kColourButtonPressed : kColourButton);
        if (pBox->nFocus == static_cast<int>(i)) PlatUiFrameRect(c, b.rc, 2, kColourFocus);
        else PlatUiFrameRect(c, b.rc, 1, kColourButtonEdge);
        const int nLabel = PlatUiTextWidth(&pBox->text, b.label);
        const int x = (b.rc.left + b.rc.right - nLabel) / 2;
        const int y = (b.rc.top + b.rc.bottom - (pBox->text.nLineHeight - kLineGap)) / 2;
        PlatUiDrawRun(&pBox->text, c, b.label, x, y, b.rc, kColourText);
    }
}

// ---- Layout ----

// Lays the box out for the text and buttons; the client size comes back in *pW, *pH.
void Layout(BOX_STATE* pBox, const std::vector<uint32_t>& text, const PLAT_DESKTOP_INFO& desk, int* pW, int* pH)
{
    const int nIconPart = pBox->nIcon ? kIconSize + kIconGap : 0;
    // The text wraps at about half the screen, as the system's boxes do.
    const int nMaxText = std::clamp(desk.nWidth / 2, 240, 760);
    BreakLines(pBox, text, nMaxText);
    int nTextW = 0;
    for (const auto& line : pBox->lines) nTextW = std::max(nTextW, PlatUiTextWidth(&pBox->text, line));
    int nButtonsW = 0;
    for (BOX_BUTTON& b : pBox->buttons) {
        const int bw = std::max(kButtonMinWidth, PlatUiTextWidth(&pBox->text, b.label) + 2 * kButtonLabelPad);
        b.rc = PLAT_RECT{0, 0, bw, kButtonHeight};
        nButtonsW += bw + (nButtonsW ? kButtonGap : 0);
    }
    const int nStrip = kButtonHeight + 2 * kStripPad;
    // The box grows with its text up to the screen; beyond, the text scrolls.
    const int nMaxH = std::max(160, desk.nHeight - 96);
    const int nLines = std::max<int>(1, static_cast<int>(pBox->lines.size()));
    const int nRoomLines = std::max(1, (nMaxH - nStrip - 2 * kPad) / pBox->text.nLineHeight);
    pBox->nVisibleLines = std::min(nLines, nRoomLines);
    const bool bScroll = nLines > nRoomLines;
    const int nTextH = std::max(pBox->nVisibleLines * pBox->text.nLineHeight, pBox->nIcon ? kIconSize : 0);
    int w = std::max({kMinClientWidth, 2 * kPad + nIconPart + nTextW + (bScroll ? kScrollBarWidth + kPad / 2 : 0),
                      2 * kPad + nButtonsW});
    w = std::min(w, std::max(kMinClientWidth, desk.nWidth - 32));
    const int h = 2 * kPad + nTextH + nStrip;
    pBox->rcIcon = PLAT_RECT{kPad, kPad, kPad + kIconSize, kPad + kIconSize};
    const int nTextTop = kPad + (pBox->nIcon && pBox->nVisibleLines * pBox->text.nLineHeight < kIconSize
                                     ? (kIconSize - pBox->nVisibleLines * pBox->text.nLineHeight) / 2 : 0);
    pBox->rcText = PLAT_RECT{kPad + nIconPart, nTextTop, w - kPad - (bScroll ? kScrollBarWidth + kPad / 2 : 0),
                             nTextTop + pBox->nVisibleLines * pBox->text.nLineHeight};
    // Buttons at the right of their strip, in their order.
    int x = w - kPad - nButtonsW;
    const int y = h - nStrip + kStripPad;
    for (BOX_BUTTON& b : pBox->buttons) {
        const int bw = b.rc.right;
        b.rc = PLAT_RECT{x, y, x + bw, y + kButtonHeight};
        x += bw + kButtonGap;
    }
    *pW = w;
    *pH = h;
}

// ---- The window procedure ----

void Scroll(PLAT_HWND hwnd, BOX_STATE* pBox, int nLines)
{
    const int nMax = std::max(0, static_cast<int>(pBox->lines.size()) - pBox->nVisibleLines);
    const int nTop = std::clamp(pBox->nTopLine + nLines, 0, nMax);
    if (nTop == pBox->nTopLine) return;
    pBox->nTopLine = nTop;
    PlatInvalidateWindow(hwnd, 0);
}

int ButtonAt(const BOX_STATE* pBox, int x, int y)
{
    for (size_t i = 0; i < pBox->buttons.size(); ++i) {
        const PLAT_RECT& rc = pBox->buttons[i].rc;
        if (x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom) return static_cast<int>(i);
    }
    return -1;
}

void MoveFocus(PLAT_HWND hwnd, BOX_STATE* pBox, int nStep)
{
    const int n = static_cast<int>(pBox->buttons.size());
    if (n <= 0) return;
    pBox->nFocus = ((pBox->nFocus + nStep) % n + n) % n;
    PlatInvalidateWindow(hwnd, 0);
}

bool HandleBoxKey(PLAT_HWND hwnd, BOX_STATE* pBox, int nVk)
{
    switch (nVk) {
    case PLAT_VK_RETURN:
    case PLAT_VK_SPACE:
        if (pBox->nFocus >= 0 && static_cast<size_t>(pBox->nFocus) < pBox->buttons.size())
            Finish(pBox, pBox->buttons[static_cast<size_t>(pBox->nFocus)].nId);
        return true;
    case PLAT_VK_ESCAPE:
        if (pBox->nEscapeId >= 0) Finish(pBox, pBox->nEscapeId);
        return true;
    case PLAT_VK_TAB: MoveFocus(hwnd, pBox, PlatGetKeyDown(PLAT_VK_SHIFT) ? -1 : 1); return true;
    case PLAT_VK_LEFT: MoveFocus(hwnd, pBox, -1); return true;
    case PLAT_VK_RIGHT: MoveFocus(hwnd, pBox, 1); return true;
    case PLAT_VK_UP: Scroll(hwnd, pBox, -1); return true;
    case PLAT_VK_DOWN: Scroll(hwnd, pBox, 1); return true;
    case PLAT_VK_PRIOR: Scroll(hwnd, pBox, -std::max(1, pBox->nVisibleLines - 1)); return true;
    case PLAT_VK_NEXT: Scroll(hwnd, pBox, std::max(1, pBox->nVisibleLines - 1)); return true;
    case PLAT_VK_HOME: Scroll(hwnd, pBox, -static_cast<int>(pBox->lines.size())); return true;
    case PLAT_VK_END: Scroll(hwnd, pBox, static_cast<int>(pBox->lines.size())); return true;
    default: break;
    }
    if ((nVk >= 'A' && nVk <= 'Z') || (nVk >= '0' && nVk <= '9')) {
        for (const BOX_BUTTON& b : pBox->buttons)
            if (b.nMnemonic == static_cast<uint32_t>(nVk)) {
                Finish(pBox, b.nId);
                return true;
            }
    }
    return false;
}

bool HandleKey(PLAT_HWND hwnd, BOX_STATE* pBox, int nVk)
{
    if (!HandleBoxKey(hwnd, pBox, nVk)) return false;
    // The key was the box's: the program behind it does not see it as pressed afterwards.
    PlatTakeKeyPress(nVk);
    return true;
}

intptr_t BoxProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    BOX_STATE* pBox = BoxOf(hwnd);
    if (!pBox) return PlatDefWindowProc(hwnd, msg, wParam, lParam);
    switch (msg) {
    case PLAT_WM_ERASEBKGND:
        return 1;   // the paint covers every pixel
    case PLAT_WM_PAINT:
        PlatValidateWindow(hwnd);
        Paint(hwnd, pBox);
        PlatPresentWindow(hwnd);
        return 0;
    case PLAT_WM_KEYDOWN:
    case PLAT_WM_SYSKEYDOWN:
        if (msg == PLAT_WM_SYSKEYDOWN && wParam == PLAT_VK_F4) break;   // Alt+F4 closes through SC_CLOSE
        if (HandleKey(hwnd, pBox, static_cast<int>(wParam))) return 0;
        break;
    case PLAT_WM_LBUTTONDOWN: {
        const int i = ButtonAt(pBox, PlatGetXLParam(lParam), PlatGetYLParam(lParam));
        pBox->nPressed = i;
        if (i >= 0) pBox->nFocus = i;
        PlatInvalidateWindow(hwnd, 0);
        return 0;
    }
    case PLAT_WM_LBUTTONUP: {
        const int i = ButtonAt(pBox, PlatGetXLParam(lParam), PlatGetYLParam(lParam));
        const int nWas = pBox->nPressed;
        pBox->nPressed = -1;
        PlatInvalidateWindow(hwnd, 0);
        if (i >= 0 && i == nWas) {
            PlatTakeKeyPress(PLAT_VK_LBUTTON);
            Finish(pBox, pBox->buttons[static_cast<size_t>(i)].nId);
        }
        return 0;
    }
    case PLAT_WM_MOUSEWHEEL: {
        const int nDelta = static_cast<int16_t>(static_cast<uint16_t>((wParam >> 16) & 0xFFFFu));
        Scroll(hwnd, pBox, -nDelta / PLAT_WHEEL_DELTA * 3);
        return 0;
    }
    case PLAT_WM_SYSCOMMAND:
        if ((wParam & 0xFFF0u) == PLAT_SC_CLOSE) {
            if (pBox->nEscapeId >= 0) Finish(pBox, pBox->nEscapeId);
            return 0;
        }
        break;
    case PLAT_WM_CLOSE:
        if (pBox->nEscapeId >= 0) Finish(pBox, pBox->nEscapeId);
        return 0;
    case PLAT_WM_DESTROY:
        // Destroyed from outside (its owner went, the window system took it): the box ends as
        // closed, with the default answer where closing has none.
        Finish(pBox, pBox->nEscapeId >= 0 ? pBox->nEscapeId : pBox->nDefaultId);
        break;
    default:
        break;
    }
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

// Texts in UTF-8.
struct BOX_CALL {
    const char* pszCaption;
    const char* pszText;
    const PLAT_MSGBOX_BUTTON* pButtons;
    int nButtons;
    int nDefaultId;
    int nIcon;
    int nResult;
};

// On the window thread: shows the box and runs its modal loop.
int RunDrawnBox(const BOX_CALL& call)
{
    if (!PlatIsWindowThread()) return -1;
    if (PlatX11DisplayLost() || PlatFontsEnsureLoaded() != 0) return -1;
    BOX_STATE box;
    if (PlatUiFontOpen(&box.text, kBoxFace, PLAT_MSGBOX_TEXT_HEIGHT, kLineGap) != 0) return -1;
    box.nIcon = call.nIcon;
    box.nDefaultId = call.nDefaultId;
    for (int i = 0; i < call.nButtons; ++i) {
        BOX_BUTTON b{};
        b.nId = call.pButtons[i].nId;
        const std::string strLabel = call.pButtons[i].pszText ? call.pButtons[i].pszText : "";
        for (size_t k = 0; k + 1 < strLabel.size(); ++k) {
            if (strLabel[k] != '&') continue;
            if (strLabel[k + 1] == '&') {
                ++k;
                continue;
            }
            const char m = strLabel[k + 1];
            if ((m >= 'a' && m <= 'z') || (m >= 'A' && m <= 'Z') || (m >= '0' && m <= '9'))
                b.nMnemonic = static_cast<uint32_t>(m >= 'a' && m <= 'z' ? m - 32 : m);
            break;
        }
        b.label = PlatUiCodePoints(StripMnemonic(strLabel));
        box.buttons.push_back(std::move(b));
    }
    if (box.buttons.empty()) {
        BOX_BUTTON b{};
        b.nId = call.nDefaultId;
        b.label = PlatUiCodePoints("OK");
        box.buttons.push_back(std::move(b));
    }
    box.nFocus = 0;
    for (size_t i = 0; i < box.buttons.size(); ++i)
        if (box.buttons[i].nId == call.nDefaultId) {
            box.nFocus = static_cast<int>(i);
            break;
        }
    box.nEscapeId = EscapeAnswerOf(box.buttons);

    PLAT_DESKTOP_INFO desk{};
    PlatGetDesktopInfo(&desk);
    int w = 0, h = 0;
    Layout(&box, PlatUiCodePoints(PlatShowFolderAliases(call.pszText ? call.pszText : "")), desk, &w, &h);

    const uint32_t nStyle = PLAT_WS_CAPTION | PLAT_WS_SYSMENU;
    PLAT_RECT rcOuter{0, 0, w, h};
    PlatAdjustWindowRect(&rcOuter, nStyle, 0);
    const int ow = rcOuter.right - rcOuter.left, oh = rcOuter.bottom - rcOuter.top;
    // Centred over the owner, else on the screen.
    const PLAT_HWND hwndOwner = PlatFindOwnerWindow(kBoxClass);
    PLAT_RECT rcOver{0, 0, desk.nWidth, desk.nHeight};
    if (hwndOwner) PlatGetWindowRect(hwndOwner, &rcOver);
    int x = (rcOver.left + rcOver.right - ow) / 2, y = (rcOver.top + rcOver.bottom - oh) / 2;
    x = std::clamp(x, 0, std::max(0, desk.nWidth - ow));
    y = std::clamp(y, 0, std::max(0, desk.nHeight - oh));

    // Window titles are cp932; a caption cp932 cannot hold shows as near as it comes.
    const PLAT_HWND hwnd = PlatCreateWindow(kBoxClass, PlatUtf8ToCp932String(call.pszCaption ? call.pszCaption : "").c_str(),
                                            nStyle, x, y, ow, oh, hwndOwner, BoxProc, nullptr);
    if (!hwnd) {
        PlatUiFontClose(&box.text);
        return -1;
    }
    g_mapBoxes[hwnd] = &box;
    PlatMarkModalBox(hwnd);
    PlatShowWindow(hwnd, PLAT_SW_SHOWNORMAL);
    PlatSetForegroundWindow(hwnd);
    PlatInvalidateWindow(hwnd, 0);
    PLAT_MSGBOX_OPEN_HOOK pfnOpen;
    void* pOpenUser;
    {
        std::lock_guard<std::mutex> lock(g_mxMsgBox);
        pfnOpen = g_pfnOpenHook;
        pOpenUser = g_pOpenHookUser;
    }
    if (pfnOpen) pfnOpen(hwnd, pOpenUser);

    bool bQuit = false;
    uintptr_t nQuitCode = 0;
    while (!box.bDone && PlatIsWindow(hwnd)) {
        PLAT_MSG m;
        if (!PlatTakeModalMessage(hwnd, &m, 10)) continue;
        if (m.message == PLAT_WM_QUIT) {
            // The program is ending: the box goes as closed, and the quit goes on to the loop outside.
            bQuit = true;
            nQuitCode = m.wParam;
            Finish(&box, box.nEscapeId >= 0 ? box.nEscapeId : box.nDefaultId);
            break;
        }
        PlatDispatchMessage(&m);
    }
    if (!box.bDone) Finish(&box, box.nEscapeId >= 0 ? box.nEscapeId : box.nDefaultId);
    if (PlatIsWindow(hwnd)) PlatDestroyWindow(hwnd);
    g_mapBoxes.erase(hwnd);
    PlatUiFontClose(&box.text);
    PlatEndModalLoop();
    if (hwndOwner && PlatIsWindow(hwndOwner)) PlatSetForegroundWindow(hwndOwner);
    if (bQuit) PlatPostQuitMessage(static_cast<int>(nQuitCode));
    return box.nAnswer;
}

void RunDrawnBoxCall(void* pArg)
{
    BOX_CALL* p = static_cast<BOX_CALL*>(pArg);
    p->nResult = RunDrawnBox(*p);
}

std::mutex g_mxOwnWindowSystem;

}  // namespace

static int ShowDrawnBoxUtf8(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons,
                            int nButtons, int nDefaultId, int nIcon);

int PlatShowDrawnMessageBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons,
                            int nButtons, int nDefaultId, int nIcon)
{
    const std::string strCaption = PlatCp932ToUtf8String(pszCaption ? pszCaption : "");
    const std::string strText = PlatCp932ToUtf8String(pszText ? pszText : "");
    std::vector<std::string> labels;
    std::vector<PLAT_MSGBOX_BUTTON> buttons;
    for (int i = 0; pButtons && i < nButtons; ++i) labels.push_back(PlatCp932ToUtf8String(pButtons[i].pszText ? pButtons[i].pszText : ""));
    for (int i = 0; pButtons && i < nButtons; ++i) buttons.push_back(PLAT_MSGBOX_BUTTON{pButtons[i].nId, labels[static_cast<size_t>(i)].c_str()});
    return ShowDrawnBoxUtf8(strCaption.c_str(), strText.c_str(), buttons.data(), static_cast<int>(buttons.size()), nDefaultId, nIcon);
}

static int ShowDrawnBoxUtf8(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons,
                            int nButtons, int nDefaultId, int nIcon)
{
    BOX_CALL call{pszCaption, pszText, pButtons, nButtons > 0 && pButtons ? nButtons : 0, nDefaultId, nIcon, -1};
    // In the running window system, on its thread; other threads wait for the answer there.
    if (PlatRunOnWindowThread(RunDrawnBoxCall, &call, 1) == 0) return call.nResult;
    // No window system (before start-up made one, or after shut-down): one for the box alone.
    std::lock_guard<std::mutex> lock(g_mxOwnWindowSystem);
    if (PlatInitWindowSystem(PLAT_BACKEND_SDL) != 0) return -1;
    const int nResult = RunDrawnBox(call);
    PlatShutdownWindowSystem();
    return nResult;
}

void PlatSetMessageBoxOpenHook(PLAT_MSGBOX_OPEN_HOOK pfnHook, void* pUser)
{
    std::lock_guard<std::mutex> lock(g_mxMsgBox);
    g_pfnOpenHook = pfnHook;
    g_pOpenHookUser = pUser;
}

int PlatMessageBoxButtonRect(PLAT_HWND hwndBox, int nIndex, PLAT_RECT* pRect)
{
    const BOX_STATE* pBox = BoxOf(hwndBox);
    if (!pBox || !pRect || nIndex < 0 || static_cast<size_t>(nIndex) >= pBox->buttons.size()) return -1;
    *pRect = pBox->buttons[static_cast<size_t>(nIndex)].rc;
    return 0;
}

int PlatMessageBoxTextRect(PLAT_HWND hwndBox, PLAT_RECT* pRect)
{
    const BOX_STATE* pBox = BoxOf(hwndBox);
    if (!pBox || !pRect) return -1;
    *pRect = pBox->rcText;
    return 0;
}

int PlatMessageBoxFocus(PLAT_HWND hwndBox)
{
    const BOX_STATE* pBox = BoxOf(hwndBox);
    return pBox ? pBox->nFocus : -1;
}

int PlatMessageBoxTopLine(PLAT_HWND hwndBox)
{
    const BOX_STATE* pBox = BoxOf(hwndBox);
    return pBox ? pBox->nTopLine : -1;
}

// =================================================================================================

// A box whose texts are cp932 (bUtf8 0) or UTF-8 (bUtf8 1). The test hook gets them as given.
static int ShowBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons,
                   int nButtons, int nDefaultId, int nIcon, int bUtf8)
{
    PLAT_MSGBOX_HOOK pfnHook;
    void* pUser;
    {
        std::lock_guard<std::mutex> lock(g_mxMsgBox);
        pfnHook = g_pfnMsgBoxHook;
        pUser = g_pMsgBoxHookUser;
    }
    if (pfnHook) return pfnHook(pszCaption, pszText, pButtons, nButtons, nDefaultId, bUtf8, pUser);
    // From here on every text is UTF-8.
    const auto Utf8 = [bUtf8](const char* psz) {
        return bUtf8 ? std::string(psz ? psz : "") : PlatCp932ToUtf8String(psz ? psz : "");
    };
    const std::string strCaption = Utf8(pszCaption), strText = Utf8(pszText);
    std::vector<std::string> labels;
    std::vector<PLAT_MSGBOX_BUTTON> buttons;
    for (int i = 0; pButtons && i < nButtons; ++i) labels.push_back(Utf8(pButtons[i].pszText));
    for (int i = 0; pButtons && i < nButtons; ++i) buttons.push_back(PLAT_MSGBOX_BUTTON{pButtons[i].nId, labels[static_cast<size_t>(i)].c_str()});
    const int n = static_cast<int>(buttons.size());
    if (!PlatIsHeadless() && !PlatX11DisplayLost()) {
        const int nChosen = ShowDrawnBoxUtf8(strCaption.c_str(), strText.c_str(), buttons.data(), n, nDefaultId, nIcon);
        if (nChosen != -1) return nChosen;
        // No font at all for the drawn box: the window system's own.
        const Uint32 nFlags = nIcon == PLAT_MB_ICONSTOP ? SDL_MESSAGEBOX_ERROR
                              : nIcon == PLAT_MB_ICONEXCLAMATION ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION;
        int nSdlChosen;
        if (ShowSdlBox(strCaption, strText, buttons.data(), n, nDefaultId, nFlags, &nSdlChosen) == 0) return nSdlChosen;
    }
    WriteToStderr(strCaption, strText);
    return nDefaultId;
}

int PlatMessageBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons, int nButtons,
                   int nDefaultId)
{
    return ShowBox(pszCaption, pszText, pButtons, nButtons, nDefaultId, 0, 0);
}

int PlatMessageBoxUtf8Buttons(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons,
                              int nButtons, int nDefaultId)
{
    return ShowBox(pszCaption, pszText, pButtons, nButtons, nDefaultId, 0, 1);
}

// Japanese when the locale the user chose for messages names it (LC_ALL over LC_MESSAGES over LANG).
static bool UserSpeaksJapanese(void)
{
    for (const char* pszName : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* psz = getenv(pszName);
        if (psz && *psz) return std::strncmp(psz, "ja", 2) == 0;
    }
    return false;
}

// MessageBoxA's button sets in cp932 (bUtf8 0) or UTF-8 (bUtf8 1).
static int MessageBoxOfType(const char* pszCaption, const char* pszText, unsigned uType, int bUtf8)
{
    // The labels the system gives the buttons, in English and in Japanese (UTF-8 here, cp932 when used).
    enum { L_OK, L_CANCEL, L_ABORT, L_RETRY, L_IGNORE, L_YES, L_NO, L_COUNT };
    static const char* const s_aEnglish[L_COUNT] = {"OK", "Cancel", "&Abort", "&Retry", "&Ignore", "&Yes", "&No"};
    static const char* const s_aJapaneseUtf8[L_COUNT] = {"OK", "キャンセル", "中止(&A)", "再試行(&R)", "無視(&I)",
                                                         "はい(&Y)", "いいえ(&N)"};
    static const std::vector<std::string> s_aJapaneseCp932 = [] {
        std::vector<std::string> v;
        for (const char* psz : s_aJapaneseUtf8) v.push_back(PlatUtf8ToCp932String(psz));
        return v;
    }();
    static const struct {
        int anLabel[3];
        int anId[3];
        int nButtons;
    } s_aSets[] = {
        {{L_OK}, {PLAT_IDOK}, 1},
        {{L_OK, L_CANCEL}, {PLAT_IDOK, PLAT_IDCANCEL}, 2},
        {{L_ABORT, L_RETRY, L_IGNORE}, {PLAT_IDABORT, PLAT_IDRETRY, PLAT_IDIGNORE}, 3},
        {{L_YES, L_NO, L_CANCEL}, {PLAT_IDYES, PLAT_IDNO, PLAT_IDCANCEL}, 3},
        {{L_YES, L_NO}, {PLAT_IDYES, PLAT_IDNO}, 2},
        {{L_RETRY, L_CANCEL}, {PLAT_IDRETRY, PLAT_IDCANCEL}, 2},
    };

    unsigned nType = uType & PLAT_MB_TYPEMASK;
    if (nType >= sizeof s_aSets / sizeof s_aSets[0]) nType = PLAT_MB_OK;   // sets we do not know show OK
    const bool bJapanese = UserSpeaksJapanese();
    PLAT_MSGBOX_BUTTON aButtons[3];
    const int nButtons = s_aSets[nType].nButtons;
    for (int i = 0; i < nButtons; ++i) {
        const int nLabel = s_aSets[nType].anLabel[i];
        aButtons[i].nId = s_aSets[nType].anId[i];
        aButtons[i].pszText = !bJapanese ? s_aEnglish[nLabel]
                              : bUtf8 ? s_aJapaneseUtf8[nLabel] : s_aJapaneseCp932[static_cast<size_t>(nLabel)].c_str();
    }
    int nDefault = (int)((uType & PLAT_MB_DEFMASK) >> 8);
    if (nDefault >= nButtons) nDefault = 0;   // a default past the last button falls back to the first

    // The icon bits: 0x10 stop, 0x20 question, 0x30 exclamation, 0x40 information; others show none.
    const unsigned nIcon = uType & PLAT_MB_ICONMASK;
    return ShowBox(pszCaption ? pszCaption : "Error", pszText, aButtons, nButtons, aButtons[nDefault].nId,
                   nIcon <= PLAT_MB_ICONINFORMATION ? static_cast<int>(nIcon) : 0, bUtf8);
}

int PlatMessageBoxA(const char* pszCaption, const char* pszText, unsigned uType)
{
    return MessageBoxOfType(pszCaption, pszText, uType, 0);
}

int PlatMessageBoxUtf8(const char* pszCaption, const char* pszText, unsigned uType)
{
    return MessageBoxOfType(pszCaption, pszText, uType, 1);
}

void PlatSetMessageBoxHook(PLAT_MSGBOX_HOOK pfnHook, void* pUser)
{
    std::lock_guard<std::mutex> lock(g_mxMsgBox);
    g_pfnMsgBoxHook = pfnHook;
    g_pMsgBoxHookUser = pUser;
}

int PlatMessageBoxInteractive(void)
{
    {
        std::lock_guard<std::mutex> lock(g_mxMsgBox);
        if (g_pfnMsgBoxHook) return 1;
    }
    return PlatIsHeadless() || PlatX11DisplayLost() ? 0 : 1;
}
