// Menus from the menu tree: the commands run from built game folders, the toolkit model the sets
// are built into, popups served by the frame step and chosen through injected input, the bar on the
// main window and its fullscreen host.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/object_tree.h"
#include "core/script_thread.h"
#include "display/display_hooks.h"
#include "display/menus.h"
#include "display/screen_modes.h"
#include "display/window_proc.h"
#include "platform/plat_display.h"
#include "platform/plat_font.h"
#include "platform/plat_time.h"
#include "platform/plat_window_backend.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "tests/display/window_test_support.h"
#include "tests/support/game_folder.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

constexpr uint16_t kVarInt = 1000, kVarText = 1001, kVarFloat = 1002, kVarInts = 1003;

BUILDER_ARG I(int nId, int64_t v, uint8_t bOp = ARGOP_SET)
{
    return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v), EVALTYPE_INT, bOp);
}
BUILDER_ARG T(int nId, const std::string& s) { return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT); }
BUILDER_ARG Out(uint16_t nVar) { return ExprArg(MENU_GET_ARG_OUT, MakeExprVar(nVar), EVALTYPE_INT); }
BUILDER_ARG OutElem(int64_t i) { return ExprArg(MENU_GET_ARG_OUT, MakeExprElement(kVarInts, {i}), EVALTYPE_INT); }

// What a menu of the toolkit holds, as text: "caption:id[flags]" per item, submenus in braces.
std::string Describe(PLAT_HMENU hMenu, int nDepth = 0)
{
    if (nDepth > 8) return "...";
    std::string s;
    const int n = PlatGetMenuItemCount(hMenu);
    for (int i = 0; i < n; ++i) {
        PLAT_MENU_ITEM it{};
        PlatGetMenuItem(hMenu, i, &it);
        if (i) s += ",";
        s += it.nType == PLAT_MFT_SEPARATOR ? "-" : it.strCaption;
        s += ":" + std::to_string(it.nId);
        if (it.nState & PLAT_MFS_GRAYED) s += "g";
        if (it.nState & PLAT_MFS_CHECKED) s += "c";
        if (it.hSubMenu) s += "{" + Describe(it.hSubMenu, nDepth + 1) + "}";
    }
    return s;
}

struct MENU_SCRIPT {
    std::vector<std::function<void(PLAT_HWND)>> steps;
    size_t nNext = 0;
};
void RunStep(PLAT_HWND hwnd, void* pUser)
{
    auto* p = static_cast<MENU_SCRIPT*>(pUser);
    if (p->nNext < p->steps.size()) p->steps[p->nNext++](hwnd);
}
std::function<void(PLAT_HWND)> ClickItem(size_t nLevel, size_t nItem)
{
    return [nLevel, nItem](PLAT_HWND h) {
        std::vector<PLAT_MENU_OPEN_LEVEL> levels;
        PlatGetOpenMenus(nullptr, &levels);
        ASSERT_LT(nLevel, levels.size());
        ASSERT_LT(nItem, levels[nLevel].itemRects.size());
        const PLAT_RECT rc = levels[nLevel].itemRects[nItem];
        PlatFakeInjectMouseButton(h, 1, 1, (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        PlatFakeInjectMouseButton(h, 1, 0, (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    };
}

std::vector<WINDOW_STATE*> g_vMarked;
void RecordMarked(WINDOW_STATE* p) { g_vMarked.push_back(p); }

class MenuTest : public WINDOW_TEST_FIXTURE {
protected:
    TEMP_DIR dir;
    std::string strOldCwd;
    SCRIPT_BUILDER b;
    MENU_SCRIPT script;

    void SetUp() override
    {
        WINDOW_TEST_FIXTURE::SetUp();
        g_pfnMainWindowProc = GameWndProc;
        ASSERT_NO_FATAL_FAILURE(OpenObjectTreeGame(dir, &strOldCwd));
        InitScriptBuilder(&b, 0);
        ASSERT_EQ(AddLabel(&b, "SYSTEM_START"), 0);
        PlatSetMenuOpenHook(RunStep, &script);
        g_llMenuCommand = -1;
        g_nPopupMenuRequest = 0;
        g_vMarked.clear();
    }
    void TearDown() override
    {
        PlatSetMenuOpenHook(nullptr, nullptr);
        DestroyMenus();
        g_nPopupMenuRequest = 0;
        CloseObjectTreeGame(strOldCwd);
        WINDOW_TEST_FIXTURE::TearDown();
        g_hMenuHostWnd = 0;
    }
    PLAT_HWND MakeMain(void)
    {
        WINDOW_STATE* p = g_apWindowState[0];
        p->nWidth = 640;
        p->nHeight = 480;
        EXPECT_EQ(SetupMainWindowSizes(), 0);
        ResetWindowState(p, "main");
        g_anWindowCreated[0] = 1;
        EXPECT_EQ(CreateGameWindow(p, 0, g_szInstanceName, "main"), 1);
        PlatShowWindow(p->hWnd, PLAT_SW_SHOW);
        CreateMenuHostWindow();
        Pump();
        return p->hWnd;
    }
    static void Pump(void)
    {
        PLAT_MSG m;
        for (int i = 0; i < 1000 && PlatPeekMessage(&m, PLAT_PM_REMOVE); ++i) PlatDispatchMessage(&m);
    }
    void Item(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_MENU_ITEM, args), 0); }
    void Cmd(int nCmd, std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, nCmd, args), 0); }
    // The park at the end, the folder written, the scripts started and one pass run.
    void Run()
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1000000)}), 0);
        ASSERT_EQ(FinishScriptBody(&b), 0) << b.strError;
        GAME_DATA game = DefaultGameData();
        game.defs.push_back(MakeIntVarDef(kVarInt, 99));
        game.defs.push_back(MakeTextVarDef(kVarText, "x"));
        game.defs.push_back(MakeFloatVarDef(kVarFloat, 9.5));
        game.defs.push_back(MakeIntVarDef(kVarInts, 99, {16}));
        game.scripts = {ScriptFromBuilder("main.txt", b)};
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        ASSERT_EQ(StartScriptSystem(), 0);
        ++g_llPassCount;
        RunScriptThreads(g_pThreadRoot);
    }
    static TREE_NODE* Node(const char* pszPath, bool bGroup = false)
    {
        return FindNodeByPath(g_pMenuRoot, pszPath, bGroup ? KX_FIND_GROUP : KX_FIND_LEAF);
    }
    static MENU_ITEM* ItemOf(const TREE_NODE* p) { return p ? static_cast<MENU_ITEM*>(p->pPayload) : nullptr; }
    // The fixture tree: a bar with File (items, a separator, an empty folder, a 64-bit id), View (an
    // invisible folder with children, a greyed item) and a plain Help item.
    void EmitFixtureTree()
    {
        Item({T(0, "bar/"), T(1, "Bar"), I(2, 1)});
        Item({T(0, "bar/file/"), T(1, "File"), I(2, 1), I(6, 100)});
        Item({T(0, "bar/file/open"), T(1, "Open"), I(2, 1), I(5, 1), I(6, 101)});
        Item({T(0, "bar/file/sep"), T(1, ""), I(2, 2), I(6, 102)});
        Item({T(0, "bar/file/recent/"), T(1, "Recent"), I(2, 3), I(6, 103)});
        Item({T(0, "bar/file/big"), T(1, "Big"), I(2, 4), I(6, 0x100000068LL)});
        Item({T(0, "bar/view/"), T(1, "View"), I(2, 2), I(6, 200)});
        Item({T(0, "bar/view/hidden/"), T(1, "Hidden"), I(2, 1), I(3, 0)});
        Item({T(0, "bar/view/hidden/x"), T(1, "X"), I(2, 1), I(6, 210)});
        Item({T(0, "bar/view/grey"), T(1, "Grey"), I(2, 2), I(4, 0), I(6, 201)});
        Item({T(0, "bar/help"), T(1, "Help"), I(2, 3), I(6, 300)});
    }
};

}  // namespace

TEST_F(MenuTest, TheTreeBuildsTheExpectedToolkitModel)
{
    const PLAT_HWND h = MakeMain();
    EmitFixtureTree();
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    ASSERT_NE(Node("M0/bar", true), nullptr);
    ASSERT_EQ(SetWindowMenuBar("M0/bar", h), 0);
    const PLAT_HMENU hBar = g_ahMenuSet[0][0];
    ASSERT_NE(hBar, 0u);
    EXPECT_EQ(PlatGetMenu(h), hBar);
    // The invisible folder goes with its children; an empty folder is a plain item; a separator is
    // greyed; only the low 32 bits of an id are the item's.
    EXPECT_EQ(Describe(hBar), "File:100{Open:101c,-:102g,Recent:103,Big:104},View:200{Grey:201g},Help:300");
    EXPECT_EQ(g_ahMenuSet[0][1], PlatGetSubMenu(hBar, 0));
    EXPECT_EQ(g_ahMenuSet[0][2], PlatGetSubMenu(hBar, 1));
    EXPECT_EQ(g_nMenuSetNext, 3);

    // Built again: the old bar is taken off before its menus go, and the new one is attached.
    ASSERT_EQ(SetWindowMenuBar("M0/bar/view", h), 0);
    EXPECT_FALSE(PlatIsMenu(hBar));
    EXPECT_EQ(Describe(PlatGetMenu(h)), "Grey:201g");
    // An empty path removes the bar; a path that names nothing is error 101250.
    ASSERT_EQ(SetWindowMenuBar("", h), 0);
    EXPECT_EQ(PlatGetMenu(h), 0u);
    EXPECT_EQ(g_ahMenuSet[0][0], 0u);
    EXPECT_EQ(SetWindowMenuBar("M0/nothing", h), -1);
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_MENU_BAR_PATH));
}

TEST_F(MenuTest, OrderKeyOperators)
{
    struct CASE {
        const char* pszName;
        bool bExisting;      // the node is made first with the order key llStart
        int64_t llStart;
        uint8_t bOp;
        int64_t llValue;
        int64_t llExpected;
    };
    const CASE cases[] = {
        {"= sets", true, 5, ARGOP_SET, 42, 42},
        {"+= adds", true, 5, ARGOP_ADD, 3, 8},
        {"+= may go below 1", true, 5, ARGOP_ADD, -10, -5},
        {"+= wraps in 32 bits", true, 0x7FFFFFFF, ARGOP_ADD, 1, INT32_MIN},
        {"-= subtracts", true, 10, ARGOP_SUB, 3, 7},
        {"-= never gives less than 1", true, 5, ARGOP_SUB, 10, 1},
        {"*= multiplies, at least 1", true, 5, ARGOP_MUL, -2, 1},
        {"*= multiplies", true, 5, ARGOP_MUL, 3, 15},
        {"/= divides", true, 20, ARGOP_DIV, 3, 6},
        {"/= by 0 keeps the key", true, 20, ARGOP_DIV, 0, 20},
        {"a new node starts from 1", false, 0, ARGOP_ADD, 5, 6},
        {"a new node: -= floors at 1", false, 0, ARGOP_SUB, 5, 1},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const CASE& c = cases[i];
        const std::string strPath = "n" + std::to_string(i);
        if (c.bExisting) Item({T(0, strPath), T(1, "x"), I(2, c.llStart)});
        if (c.bExisting) Item({T(0, strPath), I(2, c.llValue, c.bOp)});
        else Item({T(0, strPath), T(1, "x"), I(2, c.llValue, c.bOp)});
        Cmd(KXCMD_MENU_GET, {OutElem(static_cast<int64_t>(i)), T(1, strPath), I(MENU_GET_ARG_ORDER, 1)});
    }
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(GetVarInt(kVarInts, static_cast<int64_t>(i)), cases[i].llExpected) << cases[i].pszName;
    // Siblings follow their keys.
    TREE_NODE* p = Node("M0/n0");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->llOrder, 42);
}

TEST_F(MenuTest, ANewItemNeedsACaptionAndAnOrderKey)
{
    struct CASE {
        const char* pszName;
        std::vector<BUILDER_ARG> args;
        int nError;
    };
    const CASE cases[] = {
        {"no caption", {T(0, "a"), I(2, 1)}, KX_ERR_MENU_NEEDS_CAPTION},
        {"no order key", {T(0, "a"), T(1, "A")}, KX_ERR_MENU_NEEDS_ORDER},
        {"an order key that comes out as -1", {T(0, "a"), T(1, "A"), I(2, -1)}, KX_ERR_MENU_NEEDS_ORDER},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        TearDown();
        errors.reports.clear();
        SetUp();
        Item(c.args);
        Run();
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nError, c.pszName));
        EXPECT_EQ(Node("M0/a"), nullptr);
    }
}

TEST_F(MenuTest, CaptionsAreCutAt260BytesOnAWholeCharacter)
{
    // 259 bytes and a double-byte character: the character would end past 260 bytes and is left
    // out. 300 single bytes: 260 stay. Both on creation and on change.
    const std::string strSplit = std::string(259, 'a') + "\x82\xA0" + "zz";
    const std::string strLong(300, 'b');
    Item({T(0, "new1"), T(1, strSplit), I(2, 1)});
    Item({T(0, "new2"), T(1, strLong), I(2, 2)});
    Item({T(0, "old"), T(1, "short"), I(2, 3)});
    Item({T(0, "old"), T(1, strSplit)});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    EXPECT_EQ(std::string(ItemOf(Node("M0/new1"))->pszCaption), std::string(259, 'a'));
    EXPECT_EQ(std::string(ItemOf(Node("M0/new2"))->pszCaption), std::string(260, 'b'));
    EXPECT_EQ(std::string(ItemOf(Node("M0/old"))->pszCaption), std::string(259, 'a'));
}

TEST_F(MenuTest, TheGetCommandAnswersEachFact)
{
    Item({T(0, "it"), T(1, "Caption"), I(2, 7), I(3, 0), I(4, 0), I(5, 1), I(6, 0x123456789LL)});
    const int anFacts[] = {MENU_GET_ARG_EXISTS, MENU_GET_ARG_VISIBLE, MENU_GET_ARG_ENABLED, MENU_GET_ARG_ORDER,
                           MENU_GET_ARG_CHECKED, MENU_GET_ARG_COMMAND};
    for (size_t i = 0; i < 6; ++i) Cmd(KXCMD_MENU_GET, {OutElem(static_cast<int64_t>(i)), T(1, "it"), I(anFacts[i], 1)});
    // The first present selector wins (exists before the others).
    Cmd(KXCMD_MENU_GET, {OutElem(6), T(1, "it"), I(MENU_GET_ARG_COMMAND, 1), I(MENU_GET_ARG_EXISTS, 1)});
    Cmd(KXCMD_MENU_GET, {Out(kVarText), T(1, "it"), I(MENU_GET_ARG_CAPTION, 1)});
    Cmd(KXCMD_MENU_GET, {Out(kVarFloat), T(1, "it"), I(MENU_GET_ARG_ORDER, 1)});
    // A missing node: 0 for a number, the empty text for a text, whatever was asked.
    Cmd(KXCMD_MENU_GET, {OutElem(7), T(1, "missing"), I(MENU_GET_ARG_EXISTS, 1)});
    Cmd(KXCMD_MENU_GET, {Out(kVarInt), T(1, "missing"), I(MENU_GET_ARG_CAPTION, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    const int64_t anExpected[] = {1, 0, 0, 7, 1, 0x123456789LL, 1, 0};
    for (int64_t i = 0; i < 8; ++i) EXPECT_EQ(GetVarInt(kVarInts, i), anExpected[i]) << i;
    EXPECT_STREQ(GetVarString(kVarText, 0), "Caption");
    EXPECT_EQ(GetVarFloat(kVarFloat, 0), 7.0);
    EXPECT_EQ(GetVarInt(kVarInt, 0), 0);
}

TEST_F(MenuTest, TheGetCommandRefusesExistsIntoAText)
{
    Item({T(0, "it"), T(1, "Caption"), I(2, 1)});
    Cmd(KXCMD_MENU_GET, {Out(kVarText), T(1, "it"), I(MENU_GET_ARG_EXISTS, 1)});
    Run();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE));
}

TEST_F(MenuTest, DeleteTakesAFolderWithItsChildrenOrOneItem)
{
    Item({T(0, "f/"), T(1, "F"), I(2, 1)});
    Item({T(0, "f/a"), T(1, "A"), I(2, 1)});
    Item({T(0, "f/g/"), T(1, "G"), I(2, 2)});
    Item({T(0, "f/g/b"), T(1, "B"), I(2, 1)});
    Item({T(0, "keep"), T(1, "K"), I(2, 2)});
    Item({T(0, "gone"), T(1, "X"), I(2, 3)});
    Cmd(KXCMD_MENU_DELETE, {T(0, "gone")});
    Cmd(KXCMD_MENU_DELETE, {T(0, "f/")});
    Cmd(KXCMD_MENU_DELETE, {T(0, "nothing")});
    Cmd(KXCMD_MENU_DELETE, {T(0, "nothing/")});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_EQ(Node("M0/gone"), nullptr);
    EXPECT_EQ(Node("M0/f", true), nullptr);
    EXPECT_NE(Node("M0/keep"), nullptr);
    TREE_NODE* pM0 = Node("M0", true);
    ASSERT_NE(pM0, nullptr);
    EXPECT_EQ(pM0->nChildCount, 1);
}

TEST_F(MenuTest, ABarBeyondTheLimitIsNotAttached)
{
    const PLAT_HWND h = MakeMain();
    // "wide" holds 130 folders with an item each: the bar and one menu per folder.
    Item({T(0, "wide/"), T(1, "W"), I(2, 1)});
    for (int i = 0; i < 130; ++i) {
        const std::string strFolder = "wide/f" + std::to_string(i) + "/";
        Item({T(0, strFolder), T(1, "F"), I(2, i + 1)});
        Item({T(0, strFolder + "x"), T(1, "X"), I(2, 1)});
    }
    Item({T(0, "small/"), T(1, "S"), I(2, 1)});
    Item({T(0, "small/x"), T(1, "X"), I(2, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    ASSERT_EQ(SetWindowMenuBar("M0/small", h), 0);
    ASSERT_NE(PlatGetMenu(h), 0u);
    // 127 menus fit (slots 0 to 126); the folder whose menu would be filled in slot 127 stops the
    // build, and the window is left without a bar rather than with a destroyed one.
    EXPECT_EQ(SetWindowMenuBar("M0/wide", h), 0);
    EXPECT_EQ(PlatGetMenu(h), 0u);
    EXPECT_EQ(g_nMenuSetNext, KX_MENU_SET_LIMIT + 1);
    EXPECT_NE(g_ahMenuSet[0][KX_MENU_SET_SLOTS - 1], 0u);
    EXPECT_EQ(PlatGetMenuItemCount(g_ahMenuSet[0][0]), 127);
    // 126 folders fit.
    TREE_NODE* pWide = Node("M0/wide", true);
    ASSERT_NE(pWide, nullptr);
    for (int i = 0; i < 4; ++i) DeleteMenuSubtree(pWide->pLastChild);
    EXPECT_EQ(SetWindowMenuBar("M0/wide", h), 0);
    EXPECT_NE(PlatGetMenu(h), 0u);
    EXPECT_EQ(g_nMenuSetNext, KX_MENU_SET_LIMIT);
}

TEST_F(MenuTest, APopupReturnsTheChosenCommandThroughTheWindowProcedure)
{
    const PLAT_HWND h = MakeMain();
    Item({T(0, "pop/"), T(1, "Pop"), I(2, 1)});
    Item({T(0, "pop/a"), T(1, "A"), I(2, 1), I(6, 501)});
    Item({T(0, "pop/b"), T(1, "B"), I(2, 2), I(6, 502)});
    // Without the open switch, or with another value, nothing is requested.
    Cmd(KXCMD_MENU_POPUP, {T(0, "pop/")});
    Cmd(KXCMD_MENU_POPUP, {T(0, "pop/"), I(1, 2)});
    Cmd(KXCMD_MENU_POPUP, {T(0, "missing/"), I(1, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_EQ(g_nPopupMenuRequest, 0);
    EXPECT_EQ(g_ahMenuSet[1][0], 0u);

    TearDown();
    SetUp();
    MakeMain();
    Item({T(0, "pop/"), T(1, "Pop"), I(2, 1)});
    Item({T(0, "pop/a"), T(1, "A"), I(2, 1), I(6, 501)});
    Item({T(0, "pop/b"), T(1, "B"), I(2, 2), I(6, 0x10000000000LL + 502)});
    Cmd(KXCMD_MENU_POPUP, {T(0, "pop/"), I(1, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_EQ(g_nPopupMenuRequest, KX_MENU_SET_POPUP);
    // The set holds the wrapper item with the node's children as its submenu.
    EXPECT_EQ(Describe(g_ahMenuSet[1][0]), "MENUSET:1{A:501,B:502}");
    script = MENU_SCRIPT{};
    script.steps = {ClickItem(0, 1)};
    ServePopupMenuRequest();
    EXPECT_EQ(g_nPopupMenuRequest, 0);
    EXPECT_EQ(script.nNext, 1u);
    Pump();
    EXPECT_EQ(g_llMenuCommand, 502);

    // Nothing chosen: WM_COMMAND 0, so the command becomes 0.
    RequestPopupMenu(KX_MENU_SET_POPUP, Node("M0/pop", true));
    script = MENU_SCRIPT{};
    script.steps = {[](PLAT_HWND hw) {
        PlatFakeInjectKey(hw, PLAT_VK_ESCAPE, 1, 0);
        PlatFakeInjectKey(hw, PLAT_VK_ESCAPE, 0, 0);
    }};
    ServePopupMenuRequest();
    Pump();
    EXPECT_EQ(g_llMenuCommand, 0);
    (void)h;
}

TEST_F(MenuTest, APopupRequestedOnTheFrameThreadOpensOnTheWindowThread)
{
    MakeMain();
    Item({T(0, "pop/"), T(1, "Pop"), I(2, 1)});
    Item({T(0, "pop/a"), T(1, "A"), I(2, 1), I(6, 77)});
    Run();
    RequestPopupMenu(KX_MENU_SET_POPUP, Node("M0/pop", true));
    std::thread::id idOpened;
    script = MENU_SCRIPT{};
    script.steps = {[&](PLAT_HWND hw) {
        idOpened = std::this_thread::get_id();
        ClickItem(0, 0)(hw);
    }};
    std::atomic<bool> bDone{false};
    std::thread frame([&] {
        ServePopupMenuRequest();
        bDone = true;
    });
    // The window thread serves the call while it waits for messages.
    for (int i = 0; i < 2000 && !bDone; ++i) {
        PlatPumpWindowThread();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    frame.join();
    EXPECT_EQ(idOpened, std::this_thread::get_id());
    Pump();
    EXPECT_EQ(g_llMenuCommand, 77);
}

TEST_F(MenuTest, AClickOnTheMainWindowsBarReachesTheScripts)
{
    const PLAT_HWND h = MakeMain();
    EmitFixtureTree();
    Run();
    ASSERT_EQ(SetWindowMenuBar("M0/bar", h), 0);
    // The window grew by the bar; the picture keeps its size, also after the window manager
    // resizes the window (the frame counts the bar).
    PLAT_RECT rc{};
    PlatGetClientRect(h, &rc);
    EXPECT_EQ(rc.right, 640);
    EXPECT_EQ(rc.bottom, 480);
    PLAT_RECT rcOuter{};
    PlatGetWindowRect(h, &rcOuter);
    PlatFakeInjectMoveSize(h, rcOuter.left, rcOuter.top, rcOuter.right - rcOuter.left, rcOuter.bottom - rcOuter.top + 40);
    Pump();
    PlatGetClientRect(h, &rc);
    EXPECT_EQ(g_nTargetHeight, rc.bottom);
    EXPECT_EQ(g_nTargetWidth, rc.right);
    // Help is a plain item on the bar: its click is the command.
    PLAT_RECT rcHelp{};
    ASSERT_EQ(PlatGetMenuBarItemRect(h, 2, &rcHelp), 0);
    script = MENU_SCRIPT{};
    script.steps = {[&](PLAT_HWND hw) { PlatFakeInjectMouseButton(hw, 1, 0, rcHelp.left + 2, rcHelp.top + 2); }};
    PlatFakeInjectMouseButton(h, 1, 1, rcHelp.left + 2, rcHelp.top + 2);
    Pump();
    EXPECT_EQ(g_llMenuCommand, 300);
    // File > Big: the low 32 bits of its id, as the window procedure keeps them (the low word).
    PLAT_RECT rcFile{};
    ASSERT_EQ(PlatGetMenuBarItemRect(h, 0, &rcFile), 0);
    script = MENU_SCRIPT{};
    script.steps = {ClickItem(0, 3)};
    PlatFakeInjectMouseButton(h, 1, 1, rcFile.left + 2, rcFile.top + 2);
    Pump();
    EXPECT_EQ(g_llMenuCommand, 104);
}

TEST_F(MenuTest, TheFullscreenHostShowsNearTheTopEdge)
{
    const PLAT_HWND h = MakeMain();
    EmitFixtureTree();
    Run();
    WINDOW_STATE* pMain = g_apWindowState[0];
    std::strcpy(pMain->szMenuPath, "M0/bar");
    ASSERT_EQ(SetWindowMenuBar("M0/bar", h), 0);
    g_DisplayHooks.pfnMarkLayerSetDirty = RecordMarked;
    // Windowed: the host is hidden on the first frame and stays so.
    UpdateMenuBarAutoShow();
    EXPECT_EQ(g_bMenuHostShown, 0);
    EXPECT_FALSE(PlatIsWindowVisible(g_hMenuHostWnd));
    EXPECT_EQ(SetFullscreen(1), 1);
    // In fullscreen the bar is on the host, not on the main window.
    EXPECT_EQ(PlatGetMenu(h), 0u);
    EXPECT_EQ(PlatGetMenu(g_hMenuHostWnd), g_ahMenuSet[0][0]);
    PlatFakeInjectMouseMove(h, 500, 5);
    Pump();
    pMain->nMouseY = 5;
    UpdateMenuBarAutoShow();
    EXPECT_EQ(g_bMenuHostShown, 1);
    EXPECT_TRUE(PlatIsWindowVisible(g_hMenuHostWnd));
    // The game's y can be inside the bar while the cursor is already below it: the cursor decides.
    PlatFakeInjectMouseMove(h, 500, g_nMenuBarHeight + 1);
    Pump();
    UpdateMenuBarAutoShow();
    EXPECT_EQ(g_bMenuHostShown, 0);
    ASSERT_EQ(g_vMarked.size(), 1u);
    EXPECT_EQ(g_vMarked[0], pMain);
    // Further down nothing changes.
    pMain->nMouseY = 300;
    UpdateMenuBarAutoShow();
    EXPECT_EQ(g_vMarked.size(), 1u);
    // Back to windowed: the bar is on the window again and the host hides.
    pMain->nMouseY = 5;
    PlatFakeInjectMouseMove(h, 500, 5);
    Pump();
    UpdateMenuBarAutoShow();
    EXPECT_EQ(g_bMenuHostShown, 1);
    EXPECT_EQ(SetFullscreen(0), 1);
    EXPECT_EQ(PlatGetMenu(h), g_ahMenuSet[0][0]);
    EXPECT_EQ(PlatGetMenu(g_hMenuHostWnd), 0u);
    UpdateMenuBarAutoShow();
    EXPECT_EQ(g_bMenuHostShown, 0);
    InstallEngineParts();
}

// On a real X11 window: the bar makes the X window taller by its strip and is drawn there; in
// fullscreen it moves to the host over the picture, which shows near the top edge; back out, it is
// on the window again.
TEST(MenuX11Test, TheBarOnARealWindowAndOnTheHostInFullscreen)
{
    const char* pszSmoke = std::getenv("KX_X11_SMOKE");
    if (!pszSmoke || std::strcmp(pszSmoke, "1") != 0) GTEST_SKIP() << "runs under xvfb-run only";
    ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_SDL), 0);
    InstallEngineParts();
    ResetUserSettings();
    ERROR_RECORDER errors;
    g_bEngineStop = 0;
    g_bFullscreen = g_bMaximized = 0;
    g_bFramedWindow = 1;
    g_bResizable = 0;
    g_bScreenSaver = 0;
    g_nScreenWidth = 640;
    g_nScreenHeight = 480;
    PLAT_MONITOR_INFO mi{};
    ASSERT_EQ(PlatGetMonitorInfo(0, &mi), 0);
    g_nDesktopWidth = mi.rcMonitor.right - mi.rcMonitor.left;
    g_nDesktopHeight = mi.rcMonitor.bottom - mi.rcMonitor.top;
    g_nFullscreenBits = mi.desktop.nBits;
    CopyTextBounded(g_szInstanceName, sizeof g_szInstanceName, "C::game:kolvex.exe");
    ASSERT_EQ(CreateWindowStates(), 0);
    ASSERT_EQ(CreateObjectTrees(), 0);
    const char* pszData = getenv("KX_TEST_DATA");
    ASSERT_EQ(PlatFontsInit((std::string(pszData ? pszData : "tests/data") + "/fonts").c_str()), 0);
    WINDOW_STATE* p = g_apWindowState[0];
    ASSERT_EQ(SetupMainWindowSizes(), 0);
    ResetWindowState(p, "main");
    ASSERT_EQ(CreateGameWindow(p, 0, g_szInstanceName, "main"), 1);
    const PLAT_HWND h = p->hWnd;
    CreateMenuHostWindow();
    PlatShowWindow(h, PLAT_SW_SHOW);
    const auto PumpFor = [](int nMs) {
        const uint32_t dwEnd = PlatGetTime() + static_cast<uint32_t>(nMs);
        while (static_cast<int32_t>(PlatGetTime() - dwEnd) < 0) {
            PLAT_MSG m;
            while (PlatPeekMessage(&m, PLAT_PM_REMOVE))
                if (m.message != PLAT_WM_QUIT) PlatDispatchMessage(&m);
            PlatSleep(5);
        }
    };
    PumpFor(300);
    // Pumps until the client area is nHeight high (a generous deadline guards against a hang).
    const auto PumpUntilHeight = [&](int nHeight) {
        const uint32_t dwEnd = PlatGetTime() + 30000u;
        PLAT_RECT rcNow{};
        while (static_cast<int32_t>(PlatGetTime() - dwEnd) < 0 &&
               (PlatReadWindowClientRect(h, &rcNow) != 0 || rcNow.bottom - rcNow.top != nHeight))
            PumpFor(20);
    };
    TREE_NODE* pBar = CreateNode(g_pMenuRoot, "M0/bar", 1, 1);
    ASSERT_NE(pBar, nullptr);
    AttachMenuItem(pBar, "Bar");
    TREE_NODE* pItem = CreateNode(g_pMenuRoot, "M0/bar/help", 0, 1);
    ASSERT_NE(pItem, nullptr);
    static_cast<MENU_ITEM*>(AttachMenuItem(pItem, "Help"))->llCommandId = 7;
    std::strcpy(p->szMenuPath, "M0/bar");
    ASSERT_EQ(SetWindowMenuBar(p->szMenuPath, h), 0);
    UpdateMenuBarAutoShow();
    PumpUntilHeight(480 + PLAT_MENU_BAR_HEIGHT);
    PLAT_RECT rc{};
    ASSERT_EQ(PlatReadWindowClientRect(h, &rc), 0);
    EXPECT_EQ(rc.right - rc.left, 640);
    EXPECT_EQ(rc.bottom - rc.top, 480 + PLAT_MENU_BAR_HEIGHT);
    std::vector<uint32_t> shown;
    int w = 0, hh = 0;
    PlatPresentWindow(h);
    ASSERT_EQ(PlatReadWindowPixels(h, &shown, &w, &hh), 0);
    ASSERT_EQ(hh, 480 + PLAT_MENU_BAR_HEIGHT);
    EXPECT_EQ(shown[static_cast<size_t>(w) - 2] & 0xFFFFFFu, 0xF0F0F0u);

    EXPECT_EQ(SetFullscreen(1), 1);
    PumpUntilHeight(mi.rcMonitor.bottom - mi.rcMonitor.top);
    ASSERT_EQ(PlatReadWindowClientRect(h, &rc), 0);
    EXPECT_EQ(rc.bottom - rc.top, mi.rcMonitor.bottom - mi.rcMonitor.top);
    EXPECT_EQ(PlatGetMenu(h), 0u);
    p->nMouseY = 300;
    UpdateMenuBarAutoShow();
    EXPECT_EQ(g_bMenuHostShown, 0);
    // The mouse at the top edge (as the window system reports it).
    PlatQueueMouseMove(h, 500, 2);
    p->nMouseY = 2;
    UpdateMenuBarAutoShow();
    EXPECT_EQ(g_bMenuHostShown, 1);
    PumpFor(300);
    PlatPresentWindow(h);
    ASSERT_EQ(PlatReadWindowPixels(h, &shown, &w, &hh), 0);
    EXPECT_EQ(hh, mi.rcMonitor.bottom - mi.rcMonitor.top);
    EXPECT_EQ(shown[static_cast<size_t>(w) - 2] & 0xFFFFFFu, 0xF0F0F0u);

    EXPECT_EQ(SetFullscreen(0), 1);
    PumpUntilHeight(480 + PLAT_MENU_BAR_HEIGHT);
    ASSERT_EQ(PlatReadWindowClientRect(h, &rc), 0);
    EXPECT_EQ(rc.bottom - rc.top, 480 + PLAT_MENU_BAR_HEIGHT);
    EXPECT_NE(PlatGetMenu(h), 0u);
    for (const ERROR_RECORD& r : errors.reports) ADD_FAILURE() << "error " << r.nId << ": " << r.strText;

    DestroyMenus();
    PlatDestroyWindow(h);
    PlatShutdownWindowSystem();
    PlatFontsShutdown();
    FreeObjectTrees();
    g_hMainWnd = 0;
    g_hMenuHostWnd = 0;
    for (int i = 0; i < KX_WINDOWS; ++i) CreateWindowBackLayer(i, 0, 0);
    std::free(g_pOutputBuffer);
    g_pOutputBuffer = nullptr;
    g_nOutputWidth = g_nOutputHeight = 0;
    g_bFullscreen = g_bMaximized = 0;
}

// In fullscreen (or maximised) the picture sits in the client at the letterbox offsets; the popup
// still opens where the cursor is on the screen.
TEST_F(MenuTest, APopupOpensAtTheCursorWhateverThePicturesOffsets)
{
    MakeMain();
    Item({T(0, "pop/"), T(1, "Pop"), I(2, 1)});
    Item({T(0, "pop/a"), T(1, "A"), I(2, 1), I(6, 77)});
    Run();
    for (const int32_t off : {0, 64, 240}) {
        g_nOutputOffsetX = off;
        g_nOutputOffsetY = off / 2;
        PlatSetCursorPos(500 + off, 300);
        RequestPopupMenu(KX_MENU_SET_POPUP, Node("M0/pop", true));
        EXPECT_EQ(g_nPopupMenuRequest, KX_MENU_SET_POPUP);
        EXPECT_EQ(g_nPopupMenuX, 500 + off) << off;
        EXPECT_EQ(g_nPopupMenuY, 300) << off;
    }
    g_nOutputOffsetX = g_nOutputOffsetY = 0;
    g_nPopupMenuRequest = 0;
}
