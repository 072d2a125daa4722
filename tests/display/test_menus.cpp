// Menus from the menu tree: the commands run from built game folders, the toolkit model the sets
// are built into, popups served by the frame step and chosen through injected input, the bar on the
// main window and its fullscreen host.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/object_tree.h"
#include "core/script_thread.h"
#include "display/display_hooks.h"
#include "display/menus.h"
#include "display/window_proc.h"
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
