// The menu toolkit: menus as plain records, bars and open menus drawn over the window's picture with
// the font service, and the modal tracking of an open menu on the window thread.
#include "platform/plat_menu.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/plat_uidraw.h"
#include "platform/plat_window_backend.h"

namespace {

// "ＭＳ Ｐゴシック" in cp932, the face of the system's menus; the font service maps it to its substitute.
const char kMenuFace[] = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";
constexpr int kTextHeight = 12;
constexpr int kItemHeight = 22;
constexpr int kSeparatorHeight = 9;
constexpr int kCheckWidth = 24;     // the check mark's column left of the captions
constexpr int kArrowWidth = 24;     // the submenu arrow's column right of the captions
constexpr int kMinMenuWidth = 96;
constexpr int kBarItemPad = 8;

constexpr uint32_t kColourBar = 0xFFF0F0F0u;
constexpr uint32_t kColourBarLine = 0xFFD4D4D4u;
constexpr uint32_t kColourMenu = 0xFFF2F2F2u;
constexpr uint32_t kColourMenuEdge = 0xFF979797u;
constexpr uint32_t kColourHot = 0xFF91C9F7u;
constexpr uint32_t kColourText = 0xFF000000u;
constexpr uint32_t kColourGrey = 0xFF8C8C8Cu;
constexpr uint32_t kColourSeparator = 0xFFD7D7D7u;

struct MENU_REC {
    std::vector<PLAT_MENU_ITEM> items;
};

// The menus; any thread. Never held while the window table's lock is taken.
std::recursive_mutex g_mxMenus;
std::map<PLAT_HMENU, MENU_REC> g_mapMenus;
PLAT_HMENU g_hMenuNext = 1;

PLAT_MENU_OPEN_HOOK g_pfnOpenHook = nullptr;
void* g_pOpenHookUser = nullptr;

// The menu font; window thread.
PLAT_UI_FONT g_font;
bool g_bFontTried = false;

PLAT_UI_FONT* MenuFont(void)
{
    if (!g_bFontTried) {
        g_bFontTried = true;
        PlatUiFontOpen(&g_font, kMenuFace, kTextHeight, 0);
    }
    return &g_font;
}

// A caption as shown: '&' marks a mnemonic and is not shown ("&&" shows one '&').
std::vector<uint32_t> ShownCaption(const std::string& strCp932)
{
    std::vector<uint32_t> in = PlatUiCodePointsCp932(strCp932.c_str()), out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '&') {
            if (i + 1 < in.size() && in[i + 1] == '&') out.push_back('&'), ++i;
            continue;
        }
        if (in[i] == '\t') break;   // an accelerator's text after a tab is not shown
        out.push_back(in[i]);
    }
    return out;
}

int CaptionWidth(const std::string& strCp932)
{
    return PlatUiTextWidth(MenuFont(), ShownCaption(strCp932));
}

bool IsSelectable(const PLAT_MENU_ITEM& it)
{
    return it.nType != PLAT_MFT_SEPARATOR && (it.nState & PLAT_MFS_GRAYED) == 0;
}

// A copy of a menu's items (empty for an unknown menu).
std::vector<PLAT_MENU_ITEM> ItemsOf(PLAT_HMENU hMenu)
{
    std::lock_guard<std::recursive_mutex> lk(g_mxMenus);
    auto it = g_mapMenus.find(hMenu);
    return it == g_mapMenus.end() ? std::vector<PLAT_MENU_ITEM>{} : it->second.items;
}

// ---- Bars ----

// The top-level window that shows the window's bar, and the bar's strip in its client coordinates.
bool BarPlace(PLAT_HWND hwnd, PLAT_HWND* pTop, PLAT_RECT* pStrip)
{
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || !p->hMenuBar) return false;
    if (!(p->nStyle & PLAT_WS_CHILD)) {
        *pTop = hwnd;
        *pStrip = PLAT_RECT{0, -PLAT_MENU_BAR_HEIGHT, p->nClientW, 0};
        return true;
    }
    PLAT_WINDOW_REC* pParent = PlatLookupWindow(p->hwndParent);
    if (!pParent || (pParent->nStyle & PLAT_WS_CHILD)) return false;
    *pTop = p->hwndParent;
    *pStrip = PLAT_RECT{p->nClientX, p->nClientY, p->nClientX + p->nClientW, p->nClientY + PLAT_MENU_BAR_HEIGHT};
    return true;
}

std::vector<PLAT_RECT> BarItemRects(const PLAT_RECT& rcStrip, const std::vector<PLAT_MENU_ITEM>& items)
{
    std::vector<PLAT_RECT> out;
    int x = rcStrip.left;
    for (const PLAT_MENU_ITEM& it : items) {
        const int w = it.nType == PLAT_MFT_SEPARATOR ? kBarItemPad : CaptionWidth(it.strCaption) + 2 * kBarItemPad;
        out.push_back(PLAT_RECT{x, rcStrip.top, x + w, rcStrip.bottom});
        x += w;
    }
    return out;
}

int HitRect(const std::vector<PLAT_RECT>& rects, int x, int y)
{
    for (size_t i = 0; i < rects.size(); ++i)
        if (x >= rects[i].left && x < rects[i].right && y >= rects[i].top && y < rects[i].bottom) return static_cast<int>(i);
    return -1;
}

bool InRect(const PLAT_RECT& rc, int x, int y) { return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom; }

// ---- Tracking ----

struct TRACK {
    bool bActive = false;
    PLAT_HWND hwndTop = 0;         // the window that shows the menus
    PLAT_HWND hwndBar = 0;         // the window whose bar is tracked, 0 for a popup
    PLAT_RECT rcStrip{};           // the bar's strip
    std::vector<PLAT_RECT> barItems;
    PLAT_HMENU hBarMenu = 0;
    int nBarHot = -1;
    uint32_t nFlags = 0;
    std::vector<PLAT_MENU_OPEN_LEVEL> levels;
    bool bDone = false;
    uint32_t nChosen = 0;
};
TRACK g_track;   // window thread

// Lays a menu out with its top-left corner near (x, y), inside the client w x h.
PLAT_MENU_OPEN_LEVEL LayOut(PLAT_HMENU hMenu, int x, int y, int nClientW, int nClientH, int nAltRight)
{
    PLAT_MENU_OPEN_LEVEL lv{};
    lv.hMenu = hMenu;
    lv.nHot = -1;
    const std::vector<PLAT_MENU_ITEM> items = ItemsOf(hMenu);
    int w = kMinMenuWidth, h = 4;
    for (const PLAT_MENU_ITEM& it : items) {
        if (it.nType != PLAT_MFT_SEPARATOR) w = std::max(w, kCheckWidth + CaptionWidth(it.strCaption) + kArrowWidth);
        h += it.nType == PLAT_MFT_SEPARATOR ? kSeparatorHeight : kItemHeight;
    }
    w += 2;
    // Kept inside the client: past the right edge it opens to the left (of the parent item for a
    // submenu), past the bottom it moves up.
    if (x + w > nClientW) x = nAltRight >= 0 ? nAltRight - w : nClientW - w;
    if (y + h > nClientH) y = nClientH - h;
    x = std::max(x, 0);
    y = std::max(y, g_track.hwndBar ? g_track.rcStrip.bottom : 0);
    lv.rc = PLAT_RECT{x, y, x + w, y + h};
    int yy = y + 2;
    for (const PLAT_MENU_ITEM& it : items) {
        const int ih = it.nType == PLAT_MFT_SEPARATOR ? kSeparatorHeight : kItemHeight;
        lv.itemRects.push_back(PLAT_RECT{x + 1, yy, x + w - 1, yy + ih});
        yy += ih;
    }
    return lv;
}

void ClientSize(PLAT_HWND hwnd, int* pW, int* pH)
{
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    *pW = p ? p->nClientW : 0;
    *pH = p ? p->nClientH : 0;
}

// Opens the submenu of the hot item of level n as level n + 1 (the deeper ones are closed first).
void OpenSubMenu(size_t n)
{
    g_track.levels.resize(n + 1);
    const PLAT_MENU_OPEN_LEVEL& lv = g_track.levels[n];
    if (lv.nHot < 0) return;
    const std::vector<PLAT_MENU_ITEM> items = ItemsOf(lv.hMenu);
    if (static_cast<size_t>(lv.nHot) >= items.size()) return;
    const PLAT_MENU_ITEM& it = items[static_cast<size_t>(lv.nHot)];
    if (!it.hSubMenu || !IsSelectable(it) || !PlatIsMenu(it.hSubMenu)) return;
    const PLAT_RECT rcItem = lv.itemRects[static_cast<size_t>(lv.nHot)];
    int cw, ch;
    ClientSize(g_track.hwndTop, &cw, &ch);
    g_track.levels.push_back(LayOut(it.hSubMenu, lv.rc.right - 2, rcItem.top - 2, cw, ch, lv.rc.left + 2));
}

// The bar's item j becomes the hot one, with its drop-down menu open when it has one.
void SelectBarItem(int j)
{
    g_track.levels.clear();
    g_track.nBarHot = j;
    const std::vector<PLAT_MENU_ITEM> items = ItemsOf(g_track.hBarMenu);
    if (j < 0 || static_cast<size_t>(j) >= items.size()) return;
    const PLAT_MENU_ITEM& it = items[static_cast<size_t>(j)];
    if (!it.hSubMenu || !IsSelectable(it) || !PlatIsMenu(it.hSubMenu)) return;
    int cw, ch;
    ClientSize(g_track.hwndTop, &cw, &ch);
    const PLAT_RECT& rc = g_track.barItems[static_cast<size_t>(j)];
    g_track.levels.push_back(LayOut(it.hSubMenu, rc.left, rc.bottom, cw, ch, -1));
}

void Choose(uint32_t nId)
{
    g_track.bDone = true;
    g_track.nChosen = nId;
}

void Cancel(void) { Choose(0); }

// The deepest open level that holds the point, or -1.
int LevelAt(int x, int y)
{
    for (size_t i = g_track.levels.size(); i-- > 0;)
        if (InRect(g_track.levels[i].rc, x, y)) return static_cast<int>(i);
    return -1;
}

void OnMouseMove(int x, int y)
{
    const int n = LevelAt(x, y);
    if (n >= 0) {
        PLAT_MENU_OPEN_LEVEL& lv = g_track.levels[static_cast<size_t>(n)];
        int nHot = HitRect(lv.itemRects, x, y);
        const std::vector<PLAT_MENU_ITEM> items = ItemsOf(lv.hMenu);
        if (nHot >= 0 && static_cast<size_t>(nHot) < items.size() && items[static_cast<size_t>(nHot)].nType == PLAT_MFT_SEPARATOR)
            nHot = -1;
        if (nHot == lv.nHot) return;
        lv.nHot = nHot;
        OpenSubMenu(static_cast<size_t>(n));
        return;
    }
    if (g_track.hwndBar && InRect(g_track.rcStrip, x, y)) {
        const int j = HitRect(g_track.barItems, x, y);
        if (j >= 0 && j != g_track.nBarHot) SelectBarItem(j);
    }
}

void OnButton(int nButton, bool bDown, int x, int y)
{
    const bool bChooses = nButton == 1 || (nButton == 2 && (g_track.nFlags & PLAT_TPM_RIGHTBUTTON));
    const int n = LevelAt(x, y);
    if (n >= 0) {
        if (bDown || !bChooses) return;
        const PLAT_MENU_OPEN_LEVEL& lv = g_track.levels[static_cast<size_t>(n)];
        const int i = HitRect(lv.itemRects, x, y);
        const std::vector<PLAT_MENU_ITEM> items = ItemsOf(lv.hMenu);
        if (i < 0 || static_cast<size_t>(i) >= items.size()) return;
        const PLAT_MENU_ITEM& it = items[static_cast<size_t>(i)];
        if (IsSelectable(it) && !it.hSubMenu) Choose(it.nId);
        return;
    }
    if (g_track.hwndBar && InRect(g_track.rcStrip, x, y)) {
        const int j = HitRect(g_track.barItems, x, y);
        const std::vector<PLAT_MENU_ITEM> items = ItemsOf(g_track.hBarMenu);
        if (j < 0 || static_cast<size_t>(j) >= items.size()) {
            if (bDown) Cancel();
            return;
        }
        const PLAT_MENU_ITEM& it = items[static_cast<size_t>(j)];
        if (bDown) {
            // A second click on the open item closes the menu.
            if (j == g_track.nBarHot && !g_track.levels.empty()) Cancel();
            else SelectBarItem(j);
        } else if (bChooses && j == g_track.nBarHot && !it.hSubMenu && IsSelectable(it)) {
            Choose(it.nId);
        }
        return;
    }
    // A click anywhere else ends the menu.
    if (bDown) Cancel();
}

void MoveHot(PLAT_MENU_OPEN_LEVEL& lv, int nStep)
{
    const std::vector<PLAT_MENU_ITEM> items = ItemsOf(lv.hMenu);
    const int n = static_cast<int>(items.size());
    int i = lv.nHot;
    for (int k = 0; k < n; ++k) {
        i = i < 0 ? (nStep > 0 ? 0 : n - 1) : ((i + nStep) % n + n) % n;
        if (IsSelectable(items[static_cast<size_t>(i)])) {
            lv.nHot = i;
            return;
        }
    }
}

void OnKey(int nVk)
{
    if (g_track.levels.empty()) {
        if (nVk == PLAT_VK_ESCAPE) Cancel();
        return;
    }
    PLAT_MENU_OPEN_LEVEL& lv = g_track.levels.back();
    switch (nVk) {
    case PLAT_VK_ESCAPE:
        g_track.levels.pop_back();
        if (g_track.levels.empty()) Cancel();
        break;
    case PLAT_VK_UP:
    case PLAT_VK_DOWN:
        MoveHot(lv, nVk == PLAT_VK_DOWN ? 1 : -1);
        break;
    case PLAT_VK_RIGHT:
        OpenSubMenu(g_track.levels.size() - 1);
        if (g_track.levels.size() > 1 && g_track.levels.back().nHot < 0) MoveHot(g_track.levels.back(), 1);
        break;
    case PLAT_VK_LEFT:
        if (g_track.levels.size() > 1) g_track.levels.pop_back();
        break;
    case PLAT_VK_RETURN: {
        const std::vector<PLAT_MENU_ITEM> items = ItemsOf(lv.hMenu);
        if (lv.nHot < 0 || static_cast<size_t>(lv.nHot) >= items.size()) break;
        const PLAT_MENU_ITEM& it = items[static_cast<size_t>(lv.nHot)];
        if (!IsSelectable(it)) break;
        if (it.hSubMenu) {
            OpenSubMenu(g_track.levels.size() - 1);
            if (g_track.levels.size() > 1) MoveHot(g_track.levels.back(), 1);
        } else {
            Choose(it.nId);
        }
        break;
    }
    default:
        break;
    }
}

bool IsMenuInput(uint32_t msg)
{
    return (msg >= PLAT_WM_KEYDOWN && msg <= 0x0109u) || (msg >= PLAT_WM_MOUSEMOVE && msg <= 0x020Eu) ||
           (msg >= 0x00A0u && msg <= 0x00ADu) || msg == PLAT_WM_SYSCOMMAND || msg == PLAT_WM_DROPFILES;
}

void HandleInput(const PLAT_MSG& m)
{
    const int x = PlatGetXLParam(m.lParam), y = PlatGetYLParam(m.lParam);
    switch (m.message) {
    case PLAT_WM_MOUSEMOVE: OnMouseMove(x, y); break;
    case PLAT_WM_LBUTTONDOWN: OnButton(1, true, x, y); break;
    case PLAT_WM_LBUTTONUP: OnButton(1, false, x, y); break;
    case PLAT_WM_RBUTTONDOWN: OnButton(2, true, x, y); break;
    case PLAT_WM_RBUTTONUP: OnButton(2, false, x, y); break;
    case PLAT_WM_MBUTTONDOWN: Cancel(); break;
    case PLAT_WM_KEYDOWN:
    case PLAT_WM_SYSKEYDOWN:
        OnKey(static_cast<int>(m.wParam));
        PlatTakeKeyPress(static_cast<int>(m.wParam));
        break;
    case PLAT_WM_SYSCOMMAND:
        // The frame's buttons end the menu; the command itself is dropped, as during a box.
        Cancel();
        break;
    default:
        break;
    }
}

// Runs the open menu until a choice, a cancel, a quit or the window's end. The chosen id.
uint32_t RunTrack(void)
{
    const PLAT_HWND hwndTop = g_track.hwndTop;
    PLAT_MENU_OPEN_HOOK pfnHook;
    void* pUser;
    {
        std::lock_guard<std::recursive_mutex> lk(g_mxMenus);
        pfnHook = g_pfnOpenHook;
        pUser = g_pOpenHookUser;
    }
    PlatPresentWindow(hwndTop);
    if (pfnHook) pfnHook(hwndTop, pUser);
    bool bQuit = false;
    uintptr_t nQuitCode = 0;
    while (!g_track.bDone && PlatIsWindow(hwndTop)) {
        PLAT_MSG m;
        if (!PlatTakeModalMessage(hwndTop, &m, 10)) continue;
        if (m.message == PLAT_WM_QUIT) {
            bQuit = true;
            nQuitCode = m.wParam;
            Cancel();
            break;
        }
        if (IsMenuInput(m.message)) {
            HandleInput(m);
            if (!g_track.bDone) {
                PlatPresentWindow(hwndTop);
                if (pfnHook) pfnHook(hwndTop, pUser);
            }
            continue;
        }
        // Losing the focus ends the menu (a click into another program, the window hidden).
        const bool bLost = (m.message == PLAT_WM_ACTIVATE && (m.wParam & 0xFFFFu) == PLAT_WA_INACTIVE) ||
                           m.message == PLAT_WM_KILLFOCUS || m.message == PLAT_WM_DESTROY;
        PlatDispatchMessage(&m);
        if (bLost) Cancel();
    }
    const uint32_t nChosen = g_track.bDone ? g_track.nChosen : 0;
    g_track = TRACK{};
    // The click or key that ended the menu was the menu's.
    PlatTakeKeyPress(PLAT_VK_LBUTTON);
    PlatTakeKeyPress(PLAT_VK_RBUTTON);
    PlatEndModalLoop();
    if (PlatIsWindow(hwndTop)) PlatPresentWindow(hwndTop);
    if (bQuit) PlatPostQuitMessage(static_cast<int>(nQuitCode));
    return nChosen;
}

PLAT_HWND TopLevelOf(PLAT_HWND hwnd)
{
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    while (p && (p->nStyle & PLAT_WS_CHILD)) {
        hwnd = p->hwndParent;
        p = PlatLookupWindow(hwnd);
    }
    return p ? hwnd : 0;
}

void ScreenToClientOf(PLAT_HWND hwnd, int* pX, int* pY)
{
    int32_t ox = 0, oy = 0;
    PlatClientToScreen(hwnd, &ox, &oy);
    *pX -= ox;
    *pY -= oy;
}

// ---- Drawing ----

void DrawCheck(const PLAT_UI_CANVAS& c, int x, int y, uint32_t nColour)
{
    // A tick: down-right for 3 pixels, then up-right for 6, two pixels thick.
    for (int i = 0; i < 3; ++i) PlatUiFillRect(c, x + i, y + 4 + i, x + i + 1, y + 6 + i, nColour);
    for (int i = 0; i < 6; ++i) PlatUiFillRect(c, x + 3 + i, y + 5 - i, x + 4 + i, y + 7 - i, nColour);
}

void DrawArrow(const PLAT_UI_CANVAS& c, int x, int y, uint32_t nColour)
{
    for (int i = 0; i < 4; ++i) PlatUiFillRect(c, x + i, y + i, x + i + 1, y + 7 - i, nColour);
}

void DrawBar(const PLAT_UI_CANVAS& c, const PLAT_RECT& rcStrip, PLAT_HMENU hMenu, int nHot, int dy)
{
    PLAT_UI_FONT* pFont = MenuFont();
    PLAT_RECT rs{rcStrip.left, rcStrip.top + dy, rcStrip.right, rcStrip.bottom + dy};
    PlatUiFillRect(c, rs.left, rs.top, rs.right, rs.bottom, kColourBar);
    PlatUiFillRect(c, rs.left, rs.bottom - 1, rs.right, rs.bottom, kColourBarLine);
    const std::vector<PLAT_MENU_ITEM> items = ItemsOf(hMenu);
    const std::vector<PLAT_RECT> rects = BarItemRects(rcStrip, items);
    for (size_t i = 0; i < items.size(); ++i) {
        const PLAT_MENU_ITEM& it = items[i];
        PLAT_RECT r{rects[i].left, rects[i].top + dy, std::min(rects[i].right, rs.right), rects[i].bottom + dy - 1};
        if (it.nType == PLAT_MFT_SEPARATOR) continue;
        if (static_cast<int>(i) == nHot) PlatUiFillRect(c, r.left, r.top, r.right, r.bottom, kColourHot);
        const int ty = r.top + (r.bottom - r.top - pFont->nLineHeight) / 2;
        PlatUiDrawRun(pFont, c, ShownCaption(it.strCaption), r.left + kBarItemPad, ty, r,
                      (it.nState & PLAT_MFS_GRAYED) ? kColourGrey : kColourText);
    }
}

void DrawLevel(const PLAT_UI_CANVAS& c, const PLAT_MENU_OPEN_LEVEL& lv, int dy)
{
    PLAT_UI_FONT* pFont = MenuFont();
    const PLAT_RECT rc{lv.rc.left, lv.rc.top + dy, lv.rc.right, lv.rc.bottom + dy};
    PlatUiFillRect(c, rc.left, rc.top, rc.right, rc.bottom, kColourMenu);
    PlatUiFrameRect(c, rc, 1, kColourMenuEdge);
    const std::vector<PLAT_MENU_ITEM> items = ItemsOf(lv.hMenu);
    for (size_t i = 0; i < items.size() && i < lv.itemRects.size(); ++i) {
        const PLAT_MENU_ITEM& it = items[i];
        const PLAT_RECT r{lv.itemRects[i].left, lv.itemRects[i].top + dy, lv.itemRects[i].right, lv.itemRects[i].bottom + dy};
        if (it.nType == PLAT_MFT_SEPARATOR) {
            const int my = (r.top + r.bottom) / 2;
            PlatUiFillRect(c, r.left + kCheckWidth, my, r.right - 4, my + 1, kColourSeparator);
            continue;
        }
        const bool bGrey = (it.nState & PLAT_MFS_GRAYED) != 0;
        if (static_cast<int>(i) == lv.nHot && !bGrey) PlatUiFillRect(c, r.left, r.top, r.right, r.bottom, kColourHot);
        const uint32_t nColour = bGrey ? kColourGrey : kColourText;
        if (it.nState & PLAT_MFS_CHECKED) DrawCheck(c, r.left + 7, r.top + (kItemHeight - 10) / 2, nColour);
        const int ty = r.top + (r.bottom - r.top - pFont->nLineHeight) / 2;
        PlatUiDrawRun(pFont, c, ShownCaption(it.strCaption), r.left + kCheckWidth, ty, r, nColour);
        if (it.hSubMenu) DrawArrow(c, r.right - kArrowWidth / 2 - 2, r.top + (kItemHeight - 7) / 2, nColour);
    }
}

}  // namespace

// ---- The model ----

PLAT_HMENU PlatCreateMenu(void)
{
    std::lock_guard<std::recursive_mutex> lk(g_mxMenus);
    const PLAT_HMENU h = g_hMenuNext++;
    g_mapMenus[h] = MENU_REC{};
    return h;
}

namespace {

// 1 when hWithin is hMenu or lies in its submenus.
bool Contains(PLAT_HMENU hMenu, PLAT_HMENU hWithin, int nDepth)
{
    if (hMenu == hWithin) return true;
    if (nDepth > 256) return true;   // a cycle: refuse
    auto it = g_mapMenus.find(hMenu);
    if (it == g_mapMenus.end()) return false;
    for (const PLAT_MENU_ITEM& item : it->second.items)
        if (item.hSubMenu && Contains(item.hSubMenu, hWithin, nDepth + 1)) return true;
    return false;
}

void DestroyTree(PLAT_HMENU hMenu, int nDepth)
{
    auto it = g_mapMenus.find(hMenu);
    if (it == g_mapMenus.end() || nDepth > 256) return;
    const std::vector<PLAT_MENU_ITEM> items = std::move(it->second.items);
    g_mapMenus.erase(it);
    for (const PLAT_MENU_ITEM& item : items)
        if (item.hSubMenu) DestroyTree(item.hSubMenu, nDepth + 1);
}

}  // namespace

int PlatInsertMenuItem(PLAT_HMENU hMenu, int nPos, const PLAT_MENU_ITEM* pItem)
{
    if (!pItem) return -1;
    std::lock_guard<std::recursive_mutex> lk(g_mxMenus);
    auto it = g_mapMenus.find(hMenu);
    if (it == g_mapMenus.end()) return -1;
    // A submenu must be a menu and must not hold the menu it goes into.
    if (pItem->hSubMenu && (!g_mapMenus.count(pItem->hSubMenu) || Contains(pItem->hSubMenu, hMenu, 0))) return -1;
    std::vector<PLAT_MENU_ITEM>& items = it->second.items;
    const size_t n = nPos < 0 || static_cast<size_t>(nPos) > items.size() ? items.size() : static_cast<size_t>(nPos);
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(n), *pItem);
    return 0;
}

int PlatDestroyMenu(PLAT_HMENU hMenu)
{
    std::lock_guard<std::recursive_mutex> lk(g_mxMenus);
    if (!g_mapMenus.count(hMenu)) return -1;
    DestroyTree(hMenu, 0);
    return 0;
}

int PlatIsMenu(PLAT_HMENU hMenu)
{
    std::lock_guard<std::recursive_mutex> lk(g_mxMenus);
    return hMenu && g_mapMenus.count(hMenu) ? 1 : 0;
}

int PlatGetMenuItemCount(PLAT_HMENU hMenu)
{
    std::lock_guard<std::recursive_mutex> lk(g_mxMenus);
    auto it = g_mapMenus.find(hMenu);
    return it == g_mapMenus.end() ? -1 : static_cast<int>(it->second.items.size());
}

int PlatGetMenuItem(PLAT_HMENU hMenu, int nPos, PLAT_MENU_ITEM* pOut)
{
    std::lock_guard<std::recursive_mutex> lk(g_mxMenus);
    auto it = g_mapMenus.find(hMenu);
    if (it == g_mapMenus.end() || nPos < 0 || static_cast<size_t>(nPos) >= it->second.items.size() || !pOut) return -1;
    *pOut = it->second.items[static_cast<size_t>(nPos)];
    return 0;
}

PLAT_HMENU PlatGetSubMenu(PLAT_HMENU hMenu, int nPos)
{
    PLAT_MENU_ITEM item{};
    return PlatGetMenuItem(hMenu, nPos, &item) == 0 ? item.hSubMenu : 0;
}

// ---- Bars on windows ----

int PlatMenuBarInset(const PLAT_WINDOW_REC* pRec)
{
    return pRec && pRec->hMenuBar && !(pRec->nStyle & PLAT_WS_CHILD) ? PLAT_MENU_BAR_HEIGHT : 0;
}

int PlatSetMenu(PLAT_HWND hwnd, PLAT_HMENU hMenu)
{
    int r = -1;
    PLAT_RECT rcOuter{};
    PlatOnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p || (hMenu && !PlatIsMenu(hMenu))) return;
        r = 0;
        if (p->hMenuBar == hMenu) {
            PlatDrawMenuBar(hwnd);
            return;
        }
        PlatGetWindowRect(hwnd, &rcOuter);
        const int nOldBar = PlatMenuBarInset(p);
        PlatStoreWindowMenuBar(hwnd, hMenu);
        if (PlatMenuBarInset(p) != nOldBar) {
            // The outer top-left stays; the client moves by the strip and keeps its size.
            PlatSetWindowPos(hwnd, rcOuter.left, rcOuter.top, 0, 0, PLAT_SWP_NOSIZE | PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
        }
        PlatDrawMenuBar(hwnd);
    });
    return r;
}

PLAT_HMENU PlatGetMenu(PLAT_HWND hwnd)
{
    PLAT_HMENU h = 0;
    PlatOnWindowThreadDo([&] {
        if (PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd)) h = p->hMenuBar;
    });
    return h;
}

int PlatDrawMenuBar(PLAT_HWND hwnd)
{
    int r = -1;
    PlatOnWindowThreadDo([&] {
        const PLAT_HWND hwndTop = TopLevelOf(hwnd);
        if (!hwndTop) return;
        PlatInvalidateWindow(hwndTop, 0);
        r = 0;
    });
    return r;
}

int PlatGetMenuBarHeight(void) { return PLAT_MENU_BAR_HEIGHT; }

// ---- Tracking ----

namespace {

struct TRACK_CALL {
    PLAT_HMENU hMenu;
    uint32_t nFlags;
    int x, y;
    PLAT_HWND hwnd;
    bool bBar;
    uint32_t nResult;
};

void RunTrackCall(void* pArg)
{
    TRACK_CALL& call = *static_cast<TRACK_CALL*>(pArg);
    call.nResult = 0;
    if (g_track.bActive) return;   // one menu at a time
    TRACK t{};
    t.bActive = true;
    if (call.bBar) {
        PLAT_WINDOW_REC* p = PlatLookupWindow(call.hwnd);
        if (!p || !BarPlace(call.hwnd, &t.hwndTop, &t.rcStrip) || !PlatIsMenu(p->hMenuBar)) return;
        t.hwndBar = call.hwnd;
        t.hBarMenu = p->hMenuBar;
        t.barItems = BarItemRects(t.rcStrip, ItemsOf(t.hBarMenu));
        int x = call.x, y = call.y;
        ScreenToClientOf(t.hwndTop, &x, &y);
        const int j = HitRect(t.barItems, x, y);
        if (j < 0) return;
        g_track = t;
        SelectBarItem(j);
    } else {
        t.hwndTop = TopLevelOf(call.hwnd);
        if (!t.hwndTop || !PlatIsMenu(call.hMenu)) return;
        t.nFlags = call.nFlags;
        int x = call.x, y = call.y;
        ScreenToClientOf(t.hwndTop, &x, &y);
        int cw, ch;
        ClientSize(t.hwndTop, &cw, &ch);
        g_track = t;
        g_track.levels.push_back(LayOut(call.hMenu, x, y, cw, ch, -1));
    }
    const uint32_t nChosen = RunTrack();
    if (nChosen && call.bBar) PlatPostMessage(call.hwnd, PLAT_WM_COMMAND, nChosen, 0);
    call.nResult = nChosen;
}

}  // namespace

uint32_t PlatTrackPopupMenu(PLAT_HMENU hMenu, uint32_t nFlags, int x, int y, PLAT_HWND hwndOwner)
{
    TRACK_CALL call{hMenu, nFlags, x, y, hwndOwner, false, 0};
    if (PlatRunOnWindowThread(RunTrackCall, &call, 1) != 0) return 0;
    if (nFlags & PLAT_TPM_RETURNCMD) return call.nResult;
    if (!call.nResult) return 0;
    PlatPostMessage(hwndOwner, PLAT_WM_COMMAND, call.nResult, 0);
    return 1;
}

uint32_t PlatTrackMenuBar(PLAT_HWND hwnd, int x, int y)
{
    TRACK_CALL call{0, 0, x, y, hwnd, true, 0};
    if (PlatRunOnWindowThread(RunTrackCall, &call, 1) != 0) return 0;
    return call.nResult;
}

int PlatMenuRouteMouse(PLAT_HWND hwnd, int nButton, int bDown, int x, int y)
{
    // While a menu is open its loop takes the input.
    if (g_track.bActive || !PlatIsWindowThread()) return 0;
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p) return 0;
    PLAT_HWND hwndBar = 0;
    if (PlatMenuBarInset(p) > 0 && y < 0) {
        hwndBar = hwnd;
    } else {
        for (PLAT_HWND hwndChild : PlatChildWindows(hwnd)) {
            PLAT_HWND hwndTop;
            PLAT_RECT rcStrip;
            if (BarPlace(hwndChild, &hwndTop, &rcStrip) && InRect(rcStrip, x, y)) {
                hwndBar = hwndChild;
                break;
            }
        }
        // A bar over the picture lets moves through: the program sees where the mouse is.
        if (!hwndBar || nButton == 0) return 0;
    }
    if (nButton == 1 && bDown) {
        int32_t sx = x, sy = y;
        PlatClientToScreen(hwnd, &sx, &sy);
        PlatPostMessage(hwndBar, PLAT_WM_NCLBUTTONDOWN, PLAT_HTMENU, PlatMakeLParam(sx, sy));
    }
    return 1;
}

int PlatMenuDrawsOverPicture(const PLAT_WINDOW_REC* pRec)
{
    if (!pRec) return 0;
    if (g_track.bActive && g_track.hwndTop == pRec->hwnd) return 1;
    for (PLAT_HWND hwndChild : PlatChildWindows(pRec->hwnd)) {
        const PLAT_WINDOW_REC* pChild = PlatLookupWindow(hwndChild);
        if (pChild && pChild->hMenuBar) return 1;
    }
    return 0;
}

int PlatMenuComposeWindow(PLAT_WINDOW_REC* pRec, std::vector<uint32_t>* pOut, int* pW, int* pH,
                          const PLAT_DRAW_UNDER& drawUnder)
{
    if (!pRec || !pRec->pPixels) return 0;
    const int nBar = PlatMenuBarInset(pRec);
    std::vector<PLAT_HWND> bars;
    for (PLAT_HWND hwndChild : PlatChildWindows(pRec->hwnd)) {
        PLAT_WINDOW_REC* pChild = PlatLookupWindow(hwndChild);
        if (pChild && pChild->hMenuBar) bars.push_back(hwndChild);
    }
    const bool bTracked = g_track.bActive && g_track.hwndTop == pRec->hwnd;
    if (!nBar && bars.empty() && !bTracked && !drawUnder) return 0;
    const int w = pRec->nFbW, h = pRec->nFbH + nBar;
    pOut->assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0xFF000000u);
    for (int y = 0; y < pRec->nFbH; ++y)
        std::copy_n(pRec->pPixels + static_cast<size_t>(y) * static_cast<size_t>(pRec->nFbW), w,
                    pOut->data() + static_cast<size_t>(y + nBar) * static_cast<size_t>(w));
    const PLAT_UI_CANVAS c{pOut->data(), w, h, w};
    if (drawUnder) drawUnder(c, nBar);
    if (nBar) {
        const int nHot = bTracked && g_track.hwndBar == pRec->hwnd ? g_track.nBarHot : -1;
        DrawBar(c, PLAT_RECT{0, -nBar, w, 0}, pRec->hMenuBar, nHot, nBar);
    }
    for (PLAT_HWND hwndChild : bars) {
        PLAT_HWND hwndTop;
        PLAT_RECT rcStrip;
        if (!BarPlace(hwndChild, &hwndTop, &rcStrip)) continue;
        const int nHot = bTracked && g_track.hwndBar == hwndChild ? g_track.nBarHot : -1;
        DrawBar(c, rcStrip, PlatLookupWindow(hwndChild)->hMenuBar, nHot, nBar);
    }
    if (bTracked)
        for (const PLAT_MENU_OPEN_LEVEL& lv : g_track.levels) DrawLevel(c, lv, nBar);
    *pW = w;
    *pH = h;
    return 1;
}

void PlatMenuShutdown(void)
{
    PlatUiFontClose(&g_font);
    g_bFontTried = false;
    g_track = TRACK{};
}

// ---- Inspection ----

void PlatSetMenuOpenHook(PLAT_MENU_OPEN_HOOK pfnHook, void* pUser)
{
    std::lock_guard<std::recursive_mutex> lk(g_mxMenus);
    g_pfnOpenHook = pfnHook;
    g_pOpenHookUser = pUser;
}

int PlatGetOpenMenus(PLAT_HWND* pHwnd, std::vector<PLAT_MENU_OPEN_LEVEL>* pOut)
{
    if (pHwnd) *pHwnd = g_track.bActive ? g_track.hwndTop : 0;
    if (pOut) *pOut = g_track.bActive ? g_track.levels : std::vector<PLAT_MENU_OPEN_LEVEL>{};
    return g_track.bActive ? static_cast<int>(g_track.levels.size()) : 0;
}

int PlatGetMenuBarItemRect(PLAT_HWND hwnd, int nItem, PLAT_RECT* pRect)
{
    int r = -1;
    PlatOnWindowThreadDo([&] {
        PLAT_HWND hwndTop;
        PLAT_RECT rcStrip;
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p || !pRect || !BarPlace(hwnd, &hwndTop, &rcStrip)) return;
        const std::vector<PLAT_RECT> rects = BarItemRects(rcStrip, ItemsOf(p->hMenuBar));
        if (nItem < 0 || static_cast<size_t>(nItem) >= rects.size()) return;
        *pRect = rects[static_cast<size_t>(nItem)];
        r = 0;
    });
    return r;
}
