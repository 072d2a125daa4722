// The menu toolkit on the Fake backend: the model, popups chosen by injected clicks and keys, the
// bar as a strip above the client, a child window's bar over its parent, and what is drawn.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/plat_display.h"
#include "platform/plat_font.h"
#include "platform/plat_menu.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_window.h"

namespace {

struct MENU_SCRIPT {
    std::vector<std::function<void(PLAT_HWND)>> steps;   // one per call of the hook
    size_t nNext = 0;
    int nCalls = 0;
};

void RunStep(PLAT_HWND hwnd, void* pUser)
{
    auto* p = static_cast<MENU_SCRIPT*>(pUser);
    ++p->nCalls;
    if (p->nNext < p->steps.size()) p->steps[p->nNext++](hwnd);
}

std::vector<uint32_t> g_vCommands;
std::vector<uint32_t> g_vMessages;

intptr_t RecordProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    g_vMessages.push_back(msg);
    if (msg == PLAT_WM_COMMAND) g_vCommands.push_back(static_cast<uint32_t>(wParam));
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

// Items live until the end of the statement that inserts them.
struct ITEM_HOLDER {
    PLAT_MENU_ITEM it;
    operator const PLAT_MENU_ITEM*() const { return &it; }
};

void PumpAll(void)
{
    PLAT_MSG m;
    for (int i = 0; i < 1000 && PlatPeekMessage(&m, PLAT_PM_REMOVE); ++i) PlatDispatchMessage(&m);
}

PLAT_MENU_ITEM Item(const char* psz, uint32_t nId, uint32_t nState = 0, PLAT_HMENU hSub = 0)
{
    PLAT_MENU_ITEM it{};
    it.nType = psz ? PLAT_MFT_STRING : PLAT_MFT_SEPARATOR;
    it.nState = nState;
    it.nId = nId;
    it.hSubMenu = hSub;
    it.strCaption = psz ? psz : "";
    return it;
}

ITEM_HOLDER ItemP(const char* psz, uint32_t nId, uint32_t nState = 0, PLAT_HMENU hSub = 0)
{
    return ITEM_HOLDER{Item(psz, nId, nState, hSub)};
}


// The centre of a rectangle.
int Cx(const PLAT_RECT& rc) { return (rc.left + rc.right) / 2; }
int Cy(const PLAT_RECT& rc) { return (rc.top + rc.bottom) / 2; }

std::vector<PLAT_MENU_OPEN_LEVEL> OpenMenus(void)
{
    std::vector<PLAT_MENU_OPEN_LEVEL> levels;
    PlatGetOpenMenus(nullptr, &levels);
    return levels;
}

// A click (press and release) in client coordinates with a button.
std::function<void(PLAT_HWND)> ClickAt(std::function<PLAT_RECT()> rect, int nButton = 1)
{
    return [rect, nButton](PLAT_HWND h) {
        const PLAT_RECT rc = rect();
        PlatFakeInjectMouseButton(h, nButton, 1, Cx(rc), Cy(rc));
        PlatFakeInjectMouseButton(h, nButton, 0, Cx(rc), Cy(rc));
    };
}
std::function<PLAT_RECT()> ItemRect(size_t nLevel, size_t nItem)
{
    return [nLevel, nItem] {
        const auto levels = OpenMenus();
        return nLevel < levels.size() && nItem < levels[nLevel].itemRects.size() ? levels[nLevel].itemRects[nItem]
                                                                                  : PLAT_RECT{-100, -100, -100, -100};
    };
}
std::function<void(PLAT_HWND)> Key(int nVk)
{
    return [nVk](PLAT_HWND h) {
        PlatFakeInjectKey(h, nVk, 1, 0);
        PlatFakeInjectKey(h, nVk, 0, 0);
    };
}
std::function<void(PLAT_HWND)> MoveTo(std::function<PLAT_RECT()> rect)
{
    return [rect](PLAT_HWND h) {
        const PLAT_RECT rc = rect();
        PlatFakeInjectMouseMove(h, Cx(rc), Cy(rc));
    };
}

class PlatMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* pszData = getenv("KX_TEST_DATA");
        ASSERT_EQ(PlatFontsInit((std::string(pszData ? pszData : "tests/data") + "/fonts").c_str()), 0);
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        hwnd = PlatCreateWindow("KxMenuTest", "menus", PLAT_WS_CAPTION | PLAT_WS_SYSMENU, 100, 100, 326, 269, 0,
                                RecordProc, nullptr);
        ASSERT_NE(hwnd, 0u);
        PlatShowWindow(hwnd, PLAT_SW_SHOW);
        PumpAll();
        PlatSetMenuOpenHook(RunStep, &script);
        g_vCommands.clear();
        g_vMessages.clear();
        // File: Open 10, separator, Grey 12 (greyed), Sub > (Deep 20 checked, Deeper 21), Quit 14.
        hSub = PlatCreateMenu();
        PlatInsertMenuItem(hSub, 0, ItemP("Deep", 20, PLAT_MFS_CHECKED));
        PlatInsertMenuItem(hSub, 1, ItemP("Deeper", 21));
        hMenu = PlatCreateMenu();
        const PLAT_MENU_ITEM items[] = {Item("Open", 10), Item(nullptr, 0, PLAT_MFS_GRAYED), Item("Grey", 12, PLAT_MFS_GRAYED),
                                        Item("Sub", 13, 0, hSub), Item("Quit", 14)};
        for (int i = 0; i < 5; ++i) ASSERT_EQ(PlatInsertMenuItem(hMenu, i, &items[i]), 0);
    }
    void TearDown() override
    {
        PlatSetMenuOpenHook(nullptr, nullptr);
        PlatDestroyMenu(hMenu);
        PlatShutdownWindowSystem();
        PlatFontsShutdown();
    }
    // Opens the popup at the client point (40, 30) and returns the choice.
    uint32_t Track(std::vector<std::function<void(PLAT_HWND)>> steps, uint32_t nFlags = 0)
    {
        script = MENU_SCRIPT{};
        script.steps = std::move(steps);
        int32_t x = 40, y = 30;
        PlatClientToScreen(hwnd, &x, &y);
        return PlatTrackPopupMenu(hMenu, PLAT_TPM_RETURNCMD | nFlags, x, y, hwnd);
    }
    PLAT_HWND hwnd = 0;
    PLAT_HMENU hMenu = 0, hSub = 0;
    MENU_SCRIPT script;
};

}  // namespace

TEST(PlatMenuModel, ItemsSubmenusAndDestroying)
{
    const PLAT_HMENU hTop = PlatCreateMenu(), hSub = PlatCreateMenu(), hSubSub = PlatCreateMenu();
    ASSERT_EQ(PlatInsertMenuItem(hSubSub, 0, ItemP("c", 3)), 0);
    ASSERT_EQ(PlatInsertMenuItem(hSub, 0, ItemP("b", 2, 0, hSubSub)), 0);
    ASSERT_EQ(PlatInsertMenuItem(hTop, 0, ItemP("b", 2, 0, hSub)), 0);
    // Inserted before a position; a position past the end appends.
    ASSERT_EQ(PlatInsertMenuItem(hTop, 0, ItemP("a", 1)), 0);
    ASSERT_EQ(PlatInsertMenuItem(hTop, 99, ItemP(nullptr, 0)), 0);
    ASSERT_EQ(PlatGetMenuItemCount(hTop), 3);
    PLAT_MENU_ITEM it{};
    ASSERT_EQ(PlatGetMenuItem(hTop, 0, &it), 0);
    EXPECT_EQ(it.strCaption, "a");
    ASSERT_EQ(PlatGetMenuItem(hTop, 2, &it), 0);
    EXPECT_EQ(it.nType, PLAT_MFT_SEPARATOR);
    EXPECT_EQ(PlatGetSubMenu(hTop, 1), hSub);
    EXPECT_EQ(PlatGetMenuItem(hTop, 3, &it), -1);
    // A menu never holds itself or an ancestor.
    EXPECT_EQ(PlatInsertMenuItem(hSubSub, 0, ItemP("loop", 9, 0, hTop)), -1);
    EXPECT_EQ(PlatInsertMenuItem(hTop, 0, ItemP("self", 9, 0, hTop)), -1);
    // Destroying a menu takes its submenus; their handles are then ignored, as are repeats.
    EXPECT_EQ(PlatDestroyMenu(hTop), 0);
    EXPECT_FALSE(PlatIsMenu(hSub));
    EXPECT_FALSE(PlatIsMenu(hSubSub));
    EXPECT_EQ(PlatDestroyMenu(hSubSub), -1);
    EXPECT_EQ(PlatDestroyMenu(hTop), -1);
    EXPECT_EQ(PlatGetMenuItemCount(hTop), -1);
}

TEST_F(PlatMenuTest, PopupChoicesByMouseAndKeys)
{
    struct CASE {
        const char* pszName;
        std::vector<std::function<void(PLAT_HWND)>> steps;
        uint32_t nFlags;
        uint32_t nChosen;
    };
    const auto Outside = [] { return PLAT_RECT{300, 200, 302, 202}; };
    const CASE cases[] = {
        {"click an item", {ClickAt(ItemRect(0, 0))}, 0, 10},
        {"a greyed item and a separator do nothing", {ClickAt(ItemRect(0, 2)), ClickAt(ItemRect(0, 1)), ClickAt(ItemRect(0, 4))}, 0, 14},
        {"the submenu opens on hover", {MoveTo(ItemRect(0, 3)), ClickAt(ItemRect(1, 1))}, 0, 21},
        {"a click outside cancels", {ClickAt(Outside)}, 0, 0},
        {"Escape cancels", {Key(PLAT_VK_ESCAPE)}, 0, 0},
        {"keys walk past the greyed items into the submenu",
         {Key(PLAT_VK_DOWN), Key(PLAT_VK_DOWN), Key(PLAT_VK_RIGHT), Key(PLAT_VK_DOWN), Key(PLAT_VK_RETURN)}, 0, 21},
        {"Escape closes the submenu only",
         {Key(PLAT_VK_DOWN), Key(PLAT_VK_DOWN), Key(PLAT_VK_RIGHT), Key(PLAT_VK_ESCAPE), Key(PLAT_VK_UP), Key(PLAT_VK_RETURN)}, 0, 10},
        {"the right button chooses with TPM_RIGHTBUTTON", {ClickAt(ItemRect(0, 4), 2)}, PLAT_TPM_RIGHTBUTTON, 14},
        {"the right button does not choose without it", {ClickAt(ItemRect(0, 4), 2), Key(PLAT_VK_ESCAPE)}, 0, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(Track(c.steps, c.nFlags), c.nChosen);
        EXPECT_EQ(script.nNext, c.steps.size());
        EXPECT_EQ(PlatGetOpenMenus(nullptr, nullptr), 0);
    }
    // The owner saw none of the menu's input.
    for (uint32_t m : g_vMessages) {
        EXPECT_FALSE(m >= PLAT_WM_MOUSEMOVE && m <= PLAT_WM_MBUTTONDBLCLK) << std::hex << m;
        EXPECT_NE(m, static_cast<uint32_t>(PLAT_WM_KEYDOWN));
    }
    // Without TPM_RETURNCMD the choice is posted as WM_COMMAND.
    script = MENU_SCRIPT{};
    script.steps = {ClickAt(ItemRect(0, 0))};
    int32_t x = 40, y = 30;
    PlatClientToScreen(hwnd, &x, &y);
    EXPECT_EQ(PlatTrackPopupMenu(hMenu, 0, x, y, hwnd), 1u);
    PumpAll();
    EXPECT_EQ(g_vCommands, std::vector<uint32_t>{10});
}

TEST_F(PlatMenuTest, OpenMenusAreDrawnOverThePictureAndKeptInsideTheClient)
{
    std::vector<uint32_t> shown;
    int w = 0, h = 0;
    std::vector<PLAT_MENU_OPEN_LEVEL> seen;
    script = MENU_SCRIPT{};
    script.steps = {[&](PLAT_HWND hw) {
                        seen = OpenMenus();
                        PlatReadWindowPixels(hw, &shown, &w, &h);
                        PlatFakeInjectMouseMove(hw, Cx(seen[0].itemRects[3]), Cy(seen[0].itemRects[3]));
                    },
                    [&](PLAT_HWND hw) {
                        seen = OpenMenus();
                        Key(PLAT_VK_ESCAPE)(hw);
                        Key(PLAT_VK_ESCAPE)(hw);
                    }};
    std::vector<uint32_t> first;
    int32_t x = 300, y = 230;   // near the bottom-right corner: the menu moves inside the client
    PlatClientToScreen(hwnd, &x, &y);
    script.steps[0] = [&, inner = script.steps[0]](PLAT_HWND hw) {
        inner(hw);
        first = shown;
    };
    EXPECT_EQ(PlatTrackPopupMenu(hMenu, PLAT_TPM_RETURNCMD, x, y, hwnd), 0u);
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 240);
    const PLAT_RECT rc = seen[0].rc;
    EXPECT_LE(rc.right, 320);
    EXPECT_LE(rc.bottom, 240);
    EXPECT_EQ(rc.bottom - rc.top, 4 + 4 * 22 + 9);
    // The submenu opens beside its item, to the left where the right has no room.
    EXPECT_LE(seen[1].rc.right, rc.left + 2);
    EXPECT_EQ(seen[1].nHot, -1);
    EXPECT_EQ(seen[0].nHot, 3);
    // The box in the menu colour with its edge; the caption of "Open" in grey levels; the picture
    // around it untouched (black).
    auto At = [&](int px, int py) { return first[static_cast<size_t>(py) * 320 + static_cast<size_t>(px)]; };
    EXPECT_EQ(At(rc.left, rc.top), 0xFF979797u);
    EXPECT_EQ(At(rc.right - 3, rc.top + 3), 0xFFF2F2F2u);
    EXPECT_EQ(At(rc.left - 1, rc.top) & 0xFFFFFFu, 0u);
    int nInk = 0, nGrey = 0;
    const PLAT_RECT ri = seen[0].itemRects[0];
    for (int py = ri.top; py < ri.bottom; ++py)
        for (int px = ri.left + 24; px < ri.right - 24; ++px) {
            const uint32_t v = At(px, py) & 0xFFu;
            nInk += v < 0x80;
            nGrey += v > 0x10 && v < 0xE0;
        }
    EXPECT_GT(nInk, 10);
    EXPECT_GT(nGrey, 5);
    // Once closed, the window shows its own picture again.
    ASSERT_EQ(PlatReadWindowPixels(hwnd, &shown, &w, &h), 0);
    EXPECT_EQ(shown[static_cast<size_t>(rc.top + 3) * 320 + static_cast<size_t>(rc.right - 3)] & 0xFFFFFFu, 0u);
}

TEST_F(PlatMenuTest, TheBarIsAStripAboveTheClientAndOpensItsMenus)
{
    const PLAT_HMENU hBar = PlatCreateMenu();
    ASSERT_EQ(PlatInsertMenuItem(hBar, 0, ItemP("File", 1, 0, hMenu)), 0);
    ASSERT_EQ(PlatInsertMenuItem(hBar, 1, ItemP("Help", 99)), 0);
    PLAT_RECT rcBefore{}, rcAfter{}, rcClient{};
    PlatGetWindowRect(hwnd, &rcBefore);
    ASSERT_EQ(PlatSetMenu(hwnd, hBar), 0);
    EXPECT_EQ(PlatGetMenu(hwnd), hBar);
    PlatGetWindowRect(hwnd, &rcAfter);
    PlatGetClientRect(hwnd, &rcClient);
    // The outer top-left stays, the window grows by the bar, the client keeps its size.
    EXPECT_EQ(rcAfter.left, rcBefore.left);
    EXPECT_EQ(rcAfter.top, rcBefore.top);
    EXPECT_EQ(rcAfter.bottom - rcAfter.top, rcBefore.bottom - rcBefore.top + PLAT_MENU_BAR_HEIGHT);
    EXPECT_EQ(rcClient.right, 320);
    EXPECT_EQ(rcClient.bottom, 240);
    int32_t cx = 0, cy = 0;
    PlatClientToScreen(hwnd, &cx, &cy);
    EXPECT_EQ(cy, rcBefore.top + 26 + PLAT_MENU_BAR_HEIGHT);
    PLAT_RECT rcAdj{0, 0, 320, 240};
    PlatAdjustWindowRect(&rcAdj, PlatGetWindowStyle(hwnd), 1);
    EXPECT_EQ(rcAfter.bottom - rcAfter.top, rcAdj.bottom - rcAdj.top);

    // What the window shows: the bar on top, the picture below it.
    std::vector<uint32_t> shown;
    int w = 0, h = 0;
    ASSERT_EQ(PlatReadWindowPixels(hwnd, &shown, &w, &h), 0);
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 240 + PLAT_MENU_BAR_HEIGHT);
    EXPECT_EQ(shown[2], 0xFFF0F0F0u);
    EXPECT_EQ(shown[static_cast<size_t>(PLAT_MENU_BAR_HEIGHT) * 320 + 2] & 0xFFFFFFu, 0u);

    // A click on "File" opens its menu below the bar; a choice goes to the window as WM_COMMAND.
    PLAT_RECT rcFile{}, rcHelp{};
    ASSERT_EQ(PlatGetMenuBarItemRect(hwnd, 0, &rcFile), 0);
    ASSERT_EQ(PlatGetMenuBarItemRect(hwnd, 1, &rcHelp), 0);
    EXPECT_EQ(rcFile.top, -PLAT_MENU_BAR_HEIGHT);
    EXPECT_EQ(rcHelp.left, rcFile.right);
    std::vector<PLAT_MENU_OPEN_LEVEL> seen;
    script = MENU_SCRIPT{};
    script.steps = {[&](PLAT_HWND hw) {
        seen = OpenMenus();
        ClickAt(ItemRect(0, 4))(hw);
    }};
    PlatFakeInjectMouseButton(hwnd, 1, 1, Cx(rcFile), Cy(rcFile));
    PlatFakeInjectMouseButton(hwnd, 1, 0, Cx(rcFile), Cy(rcFile));
    PumpAll();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rc.top, 0);
    EXPECT_EQ(seen[0].rc.left, rcFile.left);
    EXPECT_EQ(g_vCommands, std::vector<uint32_t>{14});
    // The bar's clicks never reach the window as its own.
    for (uint32_t m : g_vMessages) EXPECT_NE(m, static_cast<uint32_t>(PLAT_WM_LBUTTONDOWN));

    // Moving along the bar switches menus; an item without a menu is chosen by its click. Escape
    // on an open menu ends without a choice.
    g_vCommands.clear();
    script = MENU_SCRIPT{};
    script.steps = {[&](PLAT_HWND hw) { PlatFakeInjectMouseMove(hw, Cx(rcHelp), Cy(rcHelp)); },
                    [&](PLAT_HWND hw) {
                        seen = OpenMenus();
                        PlatFakeInjectMouseButton(hw, 1, 1, Cx(rcHelp), Cy(rcHelp));
                    },
                    [&](PLAT_HWND hw) { PlatFakeInjectMouseButton(hw, 1, 0, Cx(rcHelp), Cy(rcHelp)); }};
    PlatFakeInjectMouseButton(hwnd, 1, 1, Cx(rcFile), Cy(rcFile));
    PumpAll();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(g_vCommands, std::vector<uint32_t>{99});
    g_vCommands.clear();
    script = MENU_SCRIPT{};
    script.steps = {Key(PLAT_VK_ESCAPE)};
    PlatFakeInjectMouseButton(hwnd, 1, 1, Cx(rcFile), Cy(rcFile));
    PumpAll();
    EXPECT_EQ(script.nNext, 1u);
    EXPECT_TRUE(g_vCommands.empty());

    // Taking the bar off gives the window its old size back.
    ASSERT_EQ(PlatSetMenu(hwnd, 0), 0);
    PlatGetWindowRect(hwnd, &rcAfter);
    EXPECT_EQ(rcAfter.bottom - rcAfter.top, rcBefore.bottom - rcBefore.top);
    ASSERT_EQ(PlatReadWindowPixels(hwnd, &shown, &w, &h), 0);
    EXPECT_EQ(h, 240);
    PlatDestroyMenu(hBar);
}

TEST_F(PlatMenuTest, AChildWindowsBarIsDrawnOverItsParent)
{
    const PLAT_HMENU hBar = PlatCreateMenu();
    ASSERT_EQ(PlatInsertMenuItem(hBar, 0, ItemP("File", 1, 0, hMenu)), 0);
    const PLAT_HWND hwndHost = PlatCreateWindow("kxMncl", "kxMncl", PLAT_WS_CHILD, 0, 0, 320, PLAT_MENU_BAR_HEIGHT, hwnd,
                                                RecordProc, nullptr);
    ASSERT_NE(hwndHost, 0u);
    ASSERT_EQ(PlatSetMenu(hwndHost, hBar), 0);
    // A child's bar takes no room: the parent keeps its size.
    PLAT_RECT rc{};
    PlatGetWindowRect(hwnd, &rc);
    EXPECT_EQ(rc.bottom - rc.top, 269);
    std::vector<uint32_t> shown;
    int w = 0, h = 0;
    ASSERT_EQ(PlatReadWindowPixels(hwnd, &shown, &w, &h), 0);
    EXPECT_EQ(h, 240);
    EXPECT_EQ(shown[2] & 0xFFFFFFu, 0u);   // hidden: not drawn
    PlatShowWindow(hwndHost, PLAT_SW_SHOW);
    ASSERT_EQ(PlatReadWindowPixels(hwnd, &shown, &w, &h), 0);
    EXPECT_EQ(shown[2], 0xFFF0F0F0u);
    EXPECT_EQ(shown[static_cast<size_t>(PLAT_MENU_BAR_HEIGHT) * 320 + 2] & 0xFFFFFFu, 0u);
    // Moves over the bar reach the parent; a click opens the menu and the host gets the command.
    PLAT_RECT rcFile{};
    ASSERT_EQ(PlatGetMenuBarItemRect(hwndHost, 0, &rcFile), 0);
    EXPECT_EQ(rcFile.top, 0);
    PlatFakeInjectMouseMove(hwnd, Cx(rcFile), Cy(rcFile));
    PumpAll();
    EXPECT_NE(std::find(g_vMessages.begin(), g_vMessages.end(), static_cast<uint32_t>(PLAT_WM_MOUSEMOVE)), g_vMessages.end());
    script = MENU_SCRIPT{};
    script.steps = {ClickAt(ItemRect(0, 0))};
    PlatFakeInjectMouseButton(hwnd, 1, 1, Cx(rcFile), Cy(rcFile));
    PumpAll();
    EXPECT_EQ(g_vCommands, std::vector<uint32_t>{10});
    PlatDestroyMenu(hBar);
}

namespace {

uint32_t SdlIdOf(PLAT_HWND hwnd)
{
    for (uint32_t id = 1; id < 64; ++id)
        if (SDL_Window* pWin = SDL_GetWindowFromID(id))
            if ((PLAT_HWND)(uintptr_t)SDL_GetWindowData(pWin, "kxhwnd") == hwnd) return id;
    return 0;
}

bool g_bRefuseMaximize = false;
std::vector<uintptr_t> g_vSysCommands;

intptr_t SysCommandProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg == PLAT_WM_SYSCOMMAND) {
        g_vSysCommands.push_back(wParam & 0xFFF0u);
        if ((wParam & 0xFFF0u) == PLAT_SC_MAXIMIZE && g_bRefuseMaximize) return 0;
    }
    return RecordProc(hwnd, msg, wParam, lParam);
}

void PushWindowEvent(uint32_t nId, uint8_t nEvent)
{
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = nEvent;
    e.window.windowID = nId;
    SDL_PushEvent(&e);
}

}  // namespace

// The window manager's maximise and restore reach the program as SC_MAXIMIZE and SC_RESTORE, the
// path of its own frame buttons; a refused maximise leaves the window restored.
TEST(PlatMenuSdlTest, TheWindowManagersMaximiseGoesThroughTheSystemCommand)
{
    if (PlatInitWindowSystem(PLAT_BACKEND_SDL) != 0) GTEST_SKIP() << "no SDL video driver";
    const PLAT_HWND hwnd = PlatCreateWindow("KxSdl", "t", PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_VISIBLE, 0, 0, 336, 271, 0,
                                            SysCommandProc, nullptr);
    ASSERT_NE(hwnd, 0u);
    const uint32_t nId = SdlIdOf(hwnd);
    ASSERT_NE(nId, 0u);
    PumpAll();
    for (bool bRefuse : {true, false}) {
        SCOPED_TRACE(bRefuse ? "refused" : "allowed");
        g_bRefuseMaximize = bRefuse;
        g_vSysCommands.clear();
        PushWindowEvent(nId, SDL_WINDOWEVENT_MAXIMIZED);
        PlatPumpWindowThread();
        PumpAll();
        EXPECT_EQ(g_vSysCommands, std::vector<uintptr_t>{PLAT_SC_MAXIMIZE});
        EXPECT_EQ(PlatIsZoomed(hwnd), bRefuse ? 0 : 1);
    }
    g_vSysCommands.clear();
    PushWindowEvent(nId, SDL_WINDOWEVENT_RESTORED);
    PlatPumpWindowThread();
    PumpAll();
    EXPECT_EQ(g_vSysCommands, std::vector<uintptr_t>{PLAT_SC_RESTORE});
    EXPECT_EQ(PlatIsZoomed(hwnd), 0);
    PlatShutdownWindowSystem();
}

// Through SDL: the native window holds the bar above the client, the bar is drawn into it, and a
// click in it opens the bar's menu while the client's coordinates stay the program's.
TEST(PlatMenuSdlTest, TheBarLivesInTheNativeWindowAboveTheClient)
{
    if (PlatInitWindowSystem(PLAT_BACKEND_SDL) != 0) GTEST_SKIP() << "no SDL video driver";
    const char* pszData = getenv("KX_TEST_DATA");
    ASSERT_EQ(PlatFontsInit((std::string(pszData ? pszData : "tests/data") + "/fonts").c_str()), 0);
    const PLAT_HWND hwnd = PlatCreateWindow("KxSdl", "t", PLAT_WS_CAPTION | PLAT_WS_SYSMENU | PLAT_WS_VISIBLE, 0, 0, 326,
                                            269, 0, RecordProc, nullptr);
    ASSERT_NE(hwnd, 0u);
    const uint32_t nId = SdlIdOf(hwnd);
    SDL_Window* pWin = SDL_GetWindowFromID(nId);
    ASSERT_NE(pWin, nullptr);
    const PLAT_HMENU hSub = PlatCreateMenu(), hBar = PlatCreateMenu();
    PlatInsertMenuItem(hSub, 0, ItemP("One", 31));
    PlatInsertMenuItem(hBar, 0, ItemP("File", 1, 0, hSub));
    ASSERT_EQ(PlatSetMenu(hwnd, hBar), 0);
    PumpAll();
    int w = 0, h = 0;
    SDL_GetWindowSize(pWin, &w, &h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240 + PLAT_MENU_BAR_HEIGHT);
    std::vector<uint32_t> shown;
    ASSERT_EQ(PlatPresentWindow(hwnd), 0);
    ASSERT_EQ(PlatReadWindowPixels(hwnd, &shown, &w, &h), 0);
    ASSERT_EQ(h, 240 + PLAT_MENU_BAR_HEIGHT);
    EXPECT_EQ(shown[2] & 0xFFFFFFu, 0xF0F0F0u);
    // A motion below the bar reaches the program in client coordinates.
    g_vMessages.clear();
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = nId;
    e.motion.x = 10;
    e.motion.y = PLAT_MENU_BAR_HEIGHT + 7;
    SDL_PushEvent(&e);
    PlatPumpWindowThread();
    PLAT_MSG m;
    bool bSeen = false;
    while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) {
        if (m.message == PLAT_WM_MOUSEMOVE) {
            bSeen = true;
            EXPECT_EQ(PlatGetYLParam(m.lParam), 7);
        }
        PlatDispatchMessage(&m);
    }
    EXPECT_TRUE(bSeen);
    // A click on the bar opens its menu; a click on its item is the command.
    MENU_SCRIPT script;
    script.steps = {[](PLAT_HWND hw) {
        std::vector<PLAT_MENU_OPEN_LEVEL> levels;
        PlatGetOpenMenus(nullptr, &levels);
        ASSERT_EQ(levels.size(), 1u);
        const PLAT_RECT rc = levels[0].itemRects[0];
        PlatFakeInjectMouseButton(hw, 1, 1, Cx(rc), Cy(rc));
        PlatFakeInjectMouseButton(hw, 1, 0, Cx(rc), Cy(rc));
    }};
    PlatSetMenuOpenHook(RunStep, &script);
    g_vCommands.clear();
    e = SDL_Event{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.windowID = nId;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.x = 10;
    e.button.y = 5;
    SDL_PushEvent(&e);
    PlatPumpWindowThread();
    PumpAll();
    EXPECT_EQ(script.nNext, 1u);
    EXPECT_EQ(g_vCommands, std::vector<uint32_t>{31});
    PlatSetMenuOpenHook(nullptr, nullptr);
    PlatDestroyMenu(hBar);
    PlatShutdownWindowSystem();
    PlatFontsShutdown();
}
