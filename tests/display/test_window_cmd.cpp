// The window, mouse and tray commands run from built game folders on the Fake window system: each
// effect of the window command and each refusal, hide and information, the window shape's
// rectangles, the cursors and the tray icon made from layers with their size refusals, and the
// tray icon's clicks reaching the window procedure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/object_tree.h"
#include "core/window_record.h"
#include "display/cmd_mouse.h"
#include "display/cmd_window.h"
#include "display/cursor.h"
#include "display/display_hooks.h"
#include "display/screen_modes.h"
#include "display/tray.h"
#include "display/window_proc.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "platform/plat_menu.h"
#include "platform/plat_tray.h"
#include "script/command_args.h"
#include "script/engine_control.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "tests/display/window_test_support.h"
#include "tests/support/game_folder.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

constexpr uint16_t kVarInt = 1000, kVarFloat = 1001, kVarText = 1002;

BUILDER_ARG I(int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v), EVALTYPE_INT); }
BUILDER_ARG T(int nId, const std::string& s) { return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT); }
BUILDER_ARG Out(uint16_t nVar)
{
    return ExprArg(1, MakeExprVar(nVar), nVar == kVarText ? EVALTYPE_TEXT : EVALTYPE_INT);
}

const std::vector<KXE_ENTRY> kMessages = {
    {101000, "RANGE:%s:%s:%d:%d:%d"}, {101310, "VALUE:%s:%s:%d"}, {101320, "NOTITLE:%s"},
    {101330, "HIDEMAIN:%s:%s:%d"},    {101250, "NOLAYER:%s:%s"},  {101140, "TYPE"},
};

std::string Rects(const std::vector<PLAT_RECT>& v)
{
    std::string s;
    for (const PLAT_RECT& r : v)
        s += "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
             std::to_string(r.bottom) + ")";
    return s;
}

class WindowCmdTest : public WINDOW_TEST_FIXTURE {
public:
    TEMP_DIR dir;
    std::string strOldCwd;
    SCRIPT_BUILDER b;

    void SetUp() override
    {
        WINDOW_TEST_FIXTURE::SetUp();
        ASSERT_NO_FATAL_FAILURE(OpenObjectTreeGame(dir, &strOldCwd));
        PlatTrayReset();
        ResetTrayIconState();
        g_bClickLayerOn = 0;
        g_pClickLayer = nullptr;
        g_pClickLayerNode = nullptr;
        g_bCursorAutoHide = 1;
        g_bCursorShown = 1;
        g_nCursorRequest = KX_CURSOR_REQUEST_NONE;
        g_bResizable = 0;
        g_bFrameChanged = 0;
        g_bResetRequest = 0;
        g_nOutputOffsetX = g_nOutputOffsetY = 0;
        MakeMain();
        InitScriptBuilder(&b, 0);
        ASSERT_EQ(AddLabel(&b, "SYSTEM_START"), 0);
    }
    void TearDown() override
    {
        CloseObjectTreeGame(strOldCwd);
        DeleteShapeBitmap();
        PlatTrayReset();
        ResetTrayIconState();
        g_bClickLayerOn = 0;
        g_pClickLayer = nullptr;
        g_pClickLayerNode = nullptr;
        g_bResizable = 0;
        g_bFrameChanged = 0;
        g_bCursorAutoHide = 1;
        g_bCursorShown = 1;
        g_nCursorRequest = KX_CURSOR_REQUEST_NONE;
        WINDOW_TEST_FIXTURE::TearDown();
    }
    // A new game and script; the windows stay as they are.
    void Rerun()
    {
        CloseObjectTreeGame(strOldCwd);
        ASSERT_NO_FATAL_FAILURE(OpenObjectTreeGame(dir, &strOldCwd));
        W(0)->pLayerSet = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
        InitScriptBuilder(&b, 0);
        ASSERT_EQ(AddLabel(&b, "SYSTEM_START"), 0);
    }
    // A fresh game, windows and script between the cases of a table.
    void Reset()
    {
        TearDown();
        errors.reports.clear();
        boxes.boxes.clear();
        SetUp();
    }
    // The main window as start-up makes it (640 x 480, framed, shown), showing "W0".
    void MakeMain()
    {
        WINDOW_STATE* p = g_apWindowState[0];
        p->nWidth = 640;
        p->nHeight = 480;
        ASSERT_EQ(SetupMainWindowSizes(), 0);
        ResetWindowState(p, "main");
        g_anWindowCreated[0] = 1;
        ASSERT_EQ(CreateGameWindow(p, 0, g_szInstanceName, "main"), 1);
        PlatShowWindow(p->hWnd, PLAT_SW_SHOW);
        p->bVisible = 1;
        p->pLayerSet = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
    }
    static WINDOW_STATE* W(int i) { return g_apWindowState[i]; }
    static PLAT_HWND H(int i) { return g_apWindowState[i]->hWnd; }

    // A plain layer under W0 of w x h pixels, given row by row (or all of one value).
    TREE_NODE* Plain(const char* pszName, int32_t w, int32_t h, const std::vector<uint32_t>& px, int64_t x = 0,
                     int64_t y = 0)
    {
        TREE_NODE* pNode = CreateNode(g_pLayerRoot, (std::string("W0/") + pszName).c_str(), 0, 1);
        LAYER* pLayer = CreateNodeLayer(pNode);
        if (!pLayer) return nullptr;
        uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
        for (int64_t i = 0; i < int64_t(w) * h; ++i) {
            const uint32_t v = px.size() == 1 ? px[0] : px[static_cast<size_t>(i)];
            std::memcpy(pPixels + 4 * i, &v, 4);
        }
        SetLayerPixels(pLayer, pPixels, w, h);
        pLayer->llX = x;
        pLayer->llY = y;
        return pNode;
    }
    TREE_NODE* Group(const char* pszPath, int32_t w, int32_t h)
    {
        if (!CreateGroupLayer(pszPath, w, h, 5)) return nullptr;
        return FindNodeByPath(g_pLayerRoot, pszPath, KX_FIND_GROUP);
    }

    void Win(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_WINDOW, args), 0); }
    void Emit(int nCmd, std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, nCmd, args), 0); }

    // The park at the end, the folder written, the scripts started and nPasses passes run.
    void Run(int nPasses = 1)
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1000000)}), 0);
        ASSERT_EQ(FinishScriptBody(&b), 0) << b.strError;
        GAME_DATA game = DefaultGameData();
        game.defs.push_back(MakeIntVarDef(kVarInt, 99));
        game.defs.push_back(MakeFloatVarDef(kVarFloat, 9.5));
        game.defs.push_back(MakeTextVarDef(kVarText, "x"));
        game.errors = kMessages;
        game.scripts = {ScriptFromBuilder("main.txt", b)};
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        ASSERT_EQ(StartScriptSystem(), 0);
        for (int i = 0; i < nPasses && !g_bEngineStop; ++i) {
            ++g_llPassCount;
            RunScriptThreads(g_pThreadRoot);
        }
    }
    // The error the run reported last (0 when none), with its text.
    int LastError(std::string* pText = nullptr) const
    {
        if (errors.reports.empty()) return 0;
        if (pText) *pText = errors.reports.back().strText;
        return errors.reports.back().nId;
    }
    // Messages waiting for the main window (taken off the queue).
    static std::vector<PLAT_MSG> Posted(PLAT_HWND hwnd)
    {
        std::vector<PLAT_MSG> v;
        PLAT_MSG m{};
        while (PlatPeekMessage(&m, PLAT_PM_REMOVE))
            if (m.hwnd == hwnd && m.message != PLAT_WM_PAINT) v.push_back(m);
            else if (m.message == PLAT_WM_PAINT) PlatValidateWindow(m.hwnd);
        return v;
    }
};

PLAT_RECT OuterOf(PLAT_HWND h)
{
    PLAT_RECT rc{};
    PlatGetWindowRect(h, &rc);
    return rc;
}
PLAT_RECT ClientOf(PLAT_HWND h)
{
    PLAT_RECT rc{};
    PlatGetClientRect(h, &rc);
    return rc;
}

// ---- The window command: one case per effect and refusal ----------------------------------------

TEST_F(WindowCmdTest, EachEffectAndRefusal)
{
    struct CASE {
        const char* pszWhat;
        std::function<void(WindowCmdTest*)> emit;    // the commands (after the main window exists)
        int nError;                                  // the last error reported, 0 for none
        std::function<void(WindowCmdTest*)> check;
    };
    const CASE cases[] = {
        {"title", [](WindowCmdTest* t) { t->Win({I(0, 0), T(1, "Hello")}); }, 0,
         [](WindowCmdTest*) {
             char sz[64];
             PlatGetWindowText(H(0), sz, sizeof sz);
             EXPECT_STREQ(sz, "Hello");
             EXPECT_STREQ(W(0)->szTitle, "Hello");
         }},
        {"an empty title is one space", [](WindowCmdTest* t) { t->Win({I(0, 0), T(1, "")}); }, 0,
         [](WindowCmdTest*) { EXPECT_STREQ(W(0)->szTitle, " "); }},
        {"alpha is kept", [](WindowCmdTest* t) { t->Win({I(0, 0), I(2, 128)}); }, 0,
         [](WindowCmdTest*) { EXPECT_EQ(W(0)->nAlpha, 128); }},
        {"hidden, then shown", [](WindowCmdTest* t) { t->Win({I(0, 0), I(3, 0)}); }, 0,
         [](WindowCmdTest*) {
             EXPECT_EQ(W(0)->bVisible, 0);
             EXPECT_EQ(PlatIsWindowVisible(H(0)), 0);
         }},
        {"position", [](WindowCmdTest* t) { t->Win({I(0, 0), I(4, 100), I(5, 50)}); }, 0,
         [](WindowCmdTest*) {
             EXPECT_EQ(OuterOf(H(0)).left, 100);
             EXPECT_EQ(OuterOf(H(0)).top, 50);
             EXPECT_EQ(W(0)->nLeft, 100);
             EXPECT_EQ(W(0)->nTop, 50);
         }},
        {"topmost", [](WindowCmdTest* t) { t->Win({I(0, 0), I(6, 1)}); }, 0,
         [](WindowCmdTest*) {
             int bTop = 0;
             EXPECT_EQ(PlatGetWindowZOrder(H(0), &bTop), 0);
             EXPECT_EQ(bTop, 1);
         }},
        {"a sub window to the bottom, another behind the main window",
         [](WindowCmdTest* t) {
             t->Win({I(0, 1), T(1, "one")});
             t->Win({I(0, 2), T(1, "two")});
             t->Win({I(0, 1), I(6, 2)});
             t->Win({I(0, 2), I(6, 3)});
         },
         0,
         [](WindowCmdTest*) {
             EXPECT_EQ(PlatGetWindowZOrder(H(1), nullptr), 2);
             EXPECT_EQ(PlatGetWindowZOrder(H(2), nullptr), PlatGetWindowZOrder(H(0), nullptr) + 1);
         }},
        {"behind itself: the main window refuses", [](WindowCmdTest* t) { t->Win({I(0, 0), I(6, 3)}); }, 101310,
         [](WindowCmdTest*) { EXPECT_EQ(PlatGetWindowZOrder(H(0), nullptr), 0); }},
        {"maximise and minimise permissions", [](WindowCmdTest* t) { t->Win({I(0, 0), I(16, 0), I(17, 0)}); }, 0,
         [](WindowCmdTest*) {
             EXPECT_EQ(W(0)->bMaximizeAllowed, 0);
             EXPECT_EQ(W(0)->bMinimizeAllowed, 0);
         }},
        {"close mode of a sub window", [](WindowCmdTest* t) { t->Win({I(0, 1), T(1, "s"), I(18, 3)}); }, 0,
         [](WindowCmdTest*) { EXPECT_EQ(W(1)->nCloseMode, KX_CLOSE_WINDOW); }},
        {"close mode 3 on the main window is refused before it is stored",
         [](WindowCmdTest* t) { t->Win({I(0, 0), I(18, 3)}); }, 101310,
         [](WindowCmdTest*) { EXPECT_EQ(W(0)->nCloseMode, KX_CLOSE_ASK); }},
        {"close mode 5 on the main window", [](WindowCmdTest* t) { t->Win({I(0, 0), I(18, 5)}); }, 101310,
         [](WindowCmdTest*) { EXPECT_EQ(W(0)->nCloseMode, KX_CLOSE_ASK); }},
        {"close modes outside 0..3 on a sub window are taken as they are",
         [](WindowCmdTest* t) { t->Win({I(0, 2), T(1, "s"), I(18, 5)}); }, 0,
         [](WindowCmdTest*) { EXPECT_EQ(W(2)->nCloseMode, 5); }},
        {"flashing", [](WindowCmdTest* t) { t->Win({I(0, 0), I(19, 3), I(20, 100)}); }, 0,
         [](WindowCmdTest*) {
             int nLast = 0;
             EXPECT_EQ(PlatGetFlashCount(H(0), &nLast), 1);
             EXPECT_EQ(nLast, 3);
         }},
        {"menu bar path",
         [](WindowCmdTest* t) {
             t->Emit(KXCMD_MENU_ITEM, {T(0, "bar/"), T(1, "bar"), I(2, 1)});
             t->Win({I(0, 0), T(22, "bar/")});
         },
         0,
         [](WindowCmdTest*) { EXPECT_NE(std::strstr(W(0)->szMenuPath, "bar"), nullptr) << W(0)->szMenuPath; }},
        {"click layer", [](WindowCmdTest* t) {
             t->Plain("c", 2, 2, {0xFF000000u});
             t->Win({I(0, 0), T(24, "c")});
         },
         0,
         [](WindowCmdTest*) {
             EXPECT_EQ(g_bClickLayerOn, 1);
             EXPECT_EQ(g_pClickLayerNode, FindNodeByPath(g_pLayerRoot, "W0/c", KX_FIND_LEAF));
             EXPECT_EQ(g_pClickLayer, GetNodeLayer(g_pClickLayerNode));
         }},
        {"a missing click layer", [](WindowCmdTest* t) { t->Win({I(0, 0), T(24, "nothing")}); }, 101250,
         [](WindowCmdTest*) { EXPECT_EQ(g_bClickLayerOn, 0); }},
        {"maximise box off", [](WindowCmdTest* t) { t->Win({I(0, 0), I(12, 0)}); }, 0,
         [](WindowCmdTest*) { EXPECT_EQ(PlatGetWindowStyle(H(0)) & PLAT_WS_MAXIMIZEBOX, 0u); }},
        {"foreground", [](WindowCmdTest* t) { t->Win({I(0, 1), T(1, "s"), I(11, 1)}); }, 0,
         [](WindowCmdTest*) { EXPECT_EQ(PlatFakeGetFocusWindow(), H(1)); }},
        {"minimise", [](WindowCmdTest* t) { t->Win({I(0, 0), I(14, 1)}); }, 0,
         [](WindowCmdTest*) { EXPECT_EQ(PlatIsIconic(H(0)), 1); }},
        {"minimise to the tray without a tray host: a plain minimised window",
         [](WindowCmdTest* t) { t->Win({I(0, 0), I(14, 2)}); }, 0,
         [](WindowCmdTest*) {
             EXPECT_EQ(PlatIsIconic(H(0)), 1);
             EXPECT_EQ(PlatIsWindowVisible(H(0)), 1);
         }},
        {"minimise to the tray with the icon in a tray host: hidden",
         [](WindowCmdTest* t) {
             PlatFakeSetTrayHost(1);
             t->Emit(KXCMD_TRAY_ICON, {I(0, 1), T(1, "tip")});
             t->Win({I(0, 0), I(14, 2)});
         },
         0,
         [](WindowCmdTest*) {
             EXPECT_EQ(PlatIsIconic(H(0)), 1);
             EXPECT_EQ(PlatIsWindowVisible(H(0)), 0);
         }},
        {"minimise to the tray with a tray host but no icon: a plain minimised window",
         [](WindowCmdTest* t) {
             PlatFakeSetTrayHost(1);
             t->Win({I(0, 0), I(14, 2)});
         },
         0,
         [](WindowCmdTest*) {
             EXPECT_EQ(PlatIsIconic(H(0)), 1);
             EXPECT_EQ(PlatIsWindowVisible(H(0)), 1);
         }},
        {"minimise, then restore", [](WindowCmdTest* t) {
             t->Win({I(0, 0), I(14, 1)});
             t->Win({I(0, 0), I(14, 0)});
         },
         0,
         [](WindowCmdTest*) {
             EXPECT_EQ(PlatIsIconic(H(0)), 0);
             EXPECT_EQ(g_bResetRequest, 1);
             EXPECT_EQ(g_bMaximized, 0);
         }},
        {"the maximise toggle asks to maximise", [](WindowCmdTest* t) { t->Win({I(0, 0), I(15, 0)}); }, 0,
         [](WindowCmdTest*) {
             const std::vector<PLAT_MSG> v = Posted(H(0));
             ASSERT_EQ(v.size(), 1u);
             EXPECT_EQ(v[0].message, PLAT_WM_SYSCOMMAND);
             EXPECT_EQ(v[0].wParam, uintptr_t{PLAT_SC_MAXIMIZE});
         }},
        {"the maximise toggle while maximised asks to restore",
         [](WindowCmdTest* t) {
             g_bMaximized = 1;
             t->Win({I(0, 0), I(15, 0)});
         },
         0,
         [](WindowCmdTest*) {
             g_bMaximized = 0;
             const std::vector<PLAT_MSG> v = Posted(H(0));
             ASSERT_EQ(v.size(), 1u);
             EXPECT_EQ(v[0].wParam, uintptr_t{PLAT_SC_RESTORE});
         }},
        {"resizable", [](WindowCmdTest* t) { t->Win({I(0, 0), I(25, 1)}); }, 0,
         [](WindowCmdTest*) {
             EXPECT_EQ(g_bResizable, 1);
             EXPECT_EQ(g_bFrameChanged, 1);
             EXPECT_EQ(g_nSavedFrameWidth, 6);    // the frame before: caption 3, 26, 3, 3
             EXPECT_EQ(g_nSavedFrameHeight, 29);
             EXPECT_NE(PlatGetWindowStyle(H(0)) & PLAT_WS_THICKFRAME, 0u);
         }},
        {"a new logical size resizes the window, its back layer and the picture",
         [](WindowCmdTest* t) { t->Win({I(0, 0), I(7, 800), I(8, 600)}); }, 0,
         [](WindowCmdTest*) {
             EXPECT_EQ(W(0)->nWidth, 800);
             EXPECT_EQ(ClientOf(H(0)).right, 800);
             EXPECT_EQ(ClientOf(H(0)).bottom, 600);
             EXPECT_EQ(W(0)->pBackLayer->nWidth, 800);
             EXPECT_EQ(g_nOutputWidth, 800);
             EXPECT_EQ(g_nTargetHeight, 600);
         }},
        {"a logical width of 0 is refused", [](WindowCmdTest* t) { t->Win({I(0, 0), I(7, 0), I(9, 500)}); }, 101000,
         [](WindowCmdTest*) {
             EXPECT_EQ(W(0)->nWidth, 640);
             EXPECT_EQ(ClientOf(H(0)).right, 640);
         }},
        {"a logical height above 8192 is refused", [](WindowCmdTest* t) { t->Win({I(0, 1), T(1, "s"), I(8, 8193)}); },
         101000, [](WindowCmdTest*) { EXPECT_EQ(g_anWindowCreated[1], -1); }},
        {"client width: the height follows the aspect", [](WindowCmdTest* t) { t->Win({I(0, 0), I(9, 960)}); }, 0,
         [](WindowCmdTest*) {
             EXPECT_EQ(ClientOf(H(0)).right, 960);
             EXPECT_EQ(ClientOf(H(0)).bottom, 720);
             EXPECT_EQ(W(0)->nWidth, 640);
         }},
        {"client width with a menu bar: the bar is outside the picture",
         [](WindowCmdTest* t) {
             t->Emit(KXCMD_MENU_ITEM, {T(0, "bar/"), T(1, "bar"), I(2, 1)});
             t->Emit(KXCMD_MENU_ITEM, {T(0, "bar/a"), T(1, "A"), I(2, 1), I(6, 5)});
             t->Win({I(0, 0), T(22, "bar/")});
             t->Win({I(0, 0), I(9, 960)});
             t->Win({I(0, 0), I(9, 640)});
         },
         0,
         [](WindowCmdTest*) {
             ASSERT_NE(PlatGetMenu(H(0)), 0u);
             EXPECT_EQ(ClientOf(H(0)).right, 640);
             EXPECT_EQ(ClientOf(H(0)).bottom, 480);
             EXPECT_EQ(OuterOf(H(0)).bottom - OuterOf(H(0)).top, 480 + 29 + PLAT_MENU_BAR_HEIGHT);
         }},
        {"client height, limited by the monitor", [](WindowCmdTest* t) { t->Win({I(0, 0), I(10, 5000)}); }, 0,
         [](WindowCmdTest*) {
             EXPECT_EQ(ClientOf(H(0)).bottom, 1080);
             EXPECT_EQ(ClientOf(H(0)).right, 1440);
         }},
        {"client size is ignored while maximised",
         [](WindowCmdTest* t) {
             g_bMaximized = 1;
             t->Win({I(0, 0), I(9, 960), I(7, 320)});
         },
         0,
         [](WindowCmdTest*) {
             g_bMaximized = 0;
             EXPECT_EQ(ClientOf(H(0)).right, 640);
             EXPECT_EQ(W(0)->nWidth, 640);
         }},
        {"a window index outside 0..3", [](WindowCmdTest* t) { t->Win({I(0, 4), T(1, "x")}); }, 101000,
         [](WindowCmdTest*) { EXPECT_STREQ(W(0)->szTitle, "main"); }},
        {"a new sub window without a title", [](WindowCmdTest* t) { t->Win({I(0, 3), I(3, 1)}); }, 101320,
         [](WindowCmdTest*) {
             EXPECT_EQ(g_anWindowCreated[3], -1);
             EXPECT_EQ(H(3), 0u);
         }},
        {"a new sub window with size, place and visibility in one command",
         [](WindowCmdTest* t) { t->Win({I(0, 2), T(1, "sub"), I(7, 200), I(8, 100), I(4, 30), I(5, 40)}); }, 0,
         [](WindowCmdTest*) {
             EXPECT_EQ(g_anWindowCreated[2], 1);
             EXPECT_EQ(ClientOf(H(2)).right, 200);
             EXPECT_EQ(ClientOf(H(2)).bottom, 100);
             EXPECT_EQ(OuterOf(H(2)).left, 30);
             EXPECT_EQ(OuterOf(H(2)).top, 40);
             EXPECT_EQ(PlatIsWindowVisible(H(2)), 1);
             char sz[16];
             PlatGetWindowText(H(2), sz, sizeof sz);
             EXPECT_STREQ(sz, "sub");
         }},
        {"a new sub window without a size is 128 x 128", [](WindowCmdTest* t) { t->Win({I(0, 1), T(1, "s")}); }, 0,
         [](WindowCmdTest*) { EXPECT_EQ(ClientOf(H(1)).right, 128); }},
        {"a layer set", [](WindowCmdTest* t) {
             t->Group("W1", 320, 240);
             t->Win({I(0, 1), T(1, "s"), T(21, ":W1/")});
         },
         0,
         [](WindowCmdTest*) {
             TREE_NODE* p = FindNodeByPath(g_pLayerRoot, "W1", KX_FIND_GROUP);
             EXPECT_EQ(W(1)->pLayerSet, p);
             const LAYER* l = GetNodeLayer(p);
             EXPECT_EQ(l->bWindowRoot, 1);
             EXPECT_EQ(l->bOwnValid, 1);
             EXPECT_EQ(l->bChanged, 1);
             EXPECT_EQ(l->rcOwn.llRight, 319);
             EXPECT_EQ(l->rcOwn.llBottom, 239);
         }},
        {"a missing layer set", [](WindowCmdTest* t) { t->Win({I(0, 0), T(21, ":W9/")}); }, 101250,
         [](WindowCmdTest*) { EXPECT_NE(W(0)->pLayerSet, nullptr); }},
        {"fullscreen marks the layer set wholly dirty",
         [](WindowCmdTest* t) {
             GetNodeLayer(W(0)->pLayerSet)->bChanged = 0;
             t->Win({I(0, 0), I(13, 1)});
         },
         0,
         [](WindowCmdTest*) {
             EXPECT_EQ(g_bFullscreen, 1);
             const LAYER* l = GetNodeLayer(W(0)->pLayerSet);
             EXPECT_EQ(l->bChanged, 1);
             EXPECT_EQ(l->bFullRedraw, 1);
             EXPECT_EQ(l->rcOwn.llRight, 639);
             SetFullscreen(0);
         }},
        {"fullscreen is the main window's only", [](WindowCmdTest* t) { t->Win({I(0, 1), T(1, "s"), I(13, 1)}); }, 0,
         [](WindowCmdTest*) { EXPECT_EQ(g_bFullscreen, 0); }},
        {"a refusal ends the command: what came before stays, what follows is not done",
         [](WindowCmdTest* t) { t->Win({I(0, 0), T(1, "before"), I(2, 10), I(6, 3), I(18, 2), I(16, 0)}); }, 101310,
         [](WindowCmdTest*) {
             EXPECT_STREQ(W(0)->szTitle, "before");
             EXPECT_EQ(W(0)->nAlpha, 10);
             EXPECT_EQ(W(0)->nCloseMode, KX_CLOSE_ASK);
             EXPECT_EQ(W(0)->bMaximizeAllowed, 1);
         }},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        Reset();
        c.emit(this);
        Run();
        std::string strText;
        EXPECT_EQ(LastError(&strText), c.nError) << strText;
        if (c.nError) {
            EXPECT_EQ(g_bEngineStop.load(), 1);
        }
        c.check(this);
    }
}

TEST_F(WindowCmdTest, RefusalsNameTheArgumentAndValue)
{
    Win({I(0, 0), I(18, 7)});
    Run();
    std::string s;
    ASSERT_EQ(LastError(&s), 101310);
    EXPECT_NE(s.find(":closemode:7"), std::string::npos) << s;
    Reset();
    Win({I(0, 0), I(7, 9000)});
    Run();
    ASSERT_EQ(LastError(&s), 101000);
    EXPECT_NE(s.find(":width:9000:1:8192"), std::string::npos) << s;
}

TEST_F(WindowCmdTest, AZeroSizeLayerSetStopsTheEngine)
{
    ASSERT_NE(Group("Z", 0, 0), nullptr);
    Win({I(0, 0), T(21, ":Z/")});
    Run();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("0x0"), std::string::npos);
    EXPECT_EQ(W(0)->pLayerSet, nullptr);
    EXPECT_EQ(g_bEngineStop.load(), 1);
    EXPECT_EQ(GetNodeLayer(FindNodeByPath(g_pLayerRoot, "Z", KX_FIND_GROUP))->bWindowRoot, 0);
}

// Two windows show one layer set; when one of them moves to another set the set stays a window
// root, and freeing it clears the other window's link, the click layer and the capture layer.
TEST_F(WindowCmdTest, FreeingALayerClearsEveryLinkToIt)
{
    ASSERT_NE(Group("S", 64, 64), nullptr);
    ASSERT_NE(Group("T", 64, 64), nullptr);
    Win({I(0, 1), T(1, "a"), T(21, ":S/")});
    Win({I(0, 2), T(1, "b"), T(21, ":S/")});
    Win({I(0, 1), T(21, ":T/")});
    Run();
    ASSERT_EQ(LastError(), 0);
    TREE_NODE* pS = FindNodeByPath(g_pLayerRoot, "S", KX_FIND_GROUP);
    ASSERT_EQ(W(2)->pLayerSet, pS);
    EXPECT_EQ(GetNodeLayer(pS)->bWindowRoot, 1);
    // The other window's set loses its flag anyway: the link must still go.
    GetNodeLayer(pS)->bWindowRoot = 0;
    FreeNodeSubtree(pS);
    EXPECT_EQ(W(2)->pLayerSet, nullptr);

    TREE_NODE* pC = Plain("c", 4, 4, {0xFFFFFFFFu});
    g_pClickLayerNode = pC;
    g_pClickLayer = GetNodeLayer(pC);
    g_bClickLayerOn = 1;
    g_pCaptureLayer = pC;
    FreeNode(pC);
    EXPECT_EQ(g_pClickLayerNode, nullptr);
    EXPECT_EQ(g_pClickLayer, nullptr);
    EXPECT_EQ(g_bClickLayerOn, 0);
    EXPECT_EQ(g_pCaptureLayer, nullptr);
}

TEST_F(WindowCmdTest, ClickLayerHitReadsThePixelUnderTheMouse)
{
    // A 3 x 2 layer at (10, 5) inside a group at (100, 0): black, grey with alpha 0, white.
    ASSERT_NE(Group("W0/g", 200, 200), nullptr);
    GetNodeLayer(FindNodeByPath(g_pLayerRoot, "W0/g", KX_FIND_GROUP))->llX = 100;
    TREE_NODE* p = CreateNode(g_pLayerRoot, "W0/g/c", 0, 1);
    LAYER* l = CreateNodeLayer(p);
    uint8_t* px = AllocPixelBuffer(nullptr, 3, 2, nullptr);
    const uint32_t v[6] = {0xFF000000u, 0x00808080u, 0xFFFFFFFFu, 0x00000000u, 0xFF000000u, 0xFF000001u};
    std::memcpy(px, v, sizeof v);
    SetLayerPixels(l, px, 3, 2);
    l->llX = 10;
    l->llY = 5;
    g_pClickLayerNode = p;
    g_pClickLayer = l;
    g_bClickLayerOn = 1;
    struct {
        int x, y, hit;
    } const points[] = {{110, 5, 0}, {111, 5, 1}, {112, 5, 1}, {110, 6, 0}, {111, 6, 0}, {112, 6, 1},
                        {109, 5, 0}, {113, 5, 0}, {111, 7, 0}, {11, 5, 0}};
    for (const auto& pt : points) {
        W(0)->nMouseX = pt.x;
        W(0)->nMouseY = pt.y;
        EXPECT_EQ(ClickLayerHit(W(0)), pt.hit) << pt.x << "," << pt.y;
    }
    g_bClickLayerOn = 0;
    W(0)->nMouseX = 111;
    W(0)->nMouseY = 5;
    EXPECT_EQ(ClickLayerHit(W(0)), 0);
}

// ---- The window shape ---------------------------------------------------------------------------

TEST_F(WindowCmdTest, ShapeRectanglesOfASmallLayerAreExact)
{
    constexpr uint32_t B = 0xFF000000u, X = 0xFFFFFFFFu, G = 0x00808080u, Z = 0x00000000u, R = 0x80000001u;
    // Opaque black and fully clear black are holes; any colour is kept whatever its alpha.
    Plain("shape", 6, 4, {B, B, X, G, B, R,   //
                          X, X, X, X, X, X,   //
                          Z, B, Z, B, Z, B,   //
                          R, B, B, B, B, G});
    // The shape goes to the main window even when another index is given.
    Win({I(0, 1), T(1, "s"), T(23, "shape")});
    Run();
    EXPECT_EQ(LastError(), 0);
    std::vector<PLAT_RECT> v;
    ASSERT_EQ(PlatGetWindowRegion(H(0), &v), 1);
    EXPECT_EQ(Rects(v), "(2,0,4,1)(5,0,6,1)(0,1,6,2)(0,3,1,4)(5,3,6,4)");
    EXPECT_EQ(PlatGetWindowRegion(H(1), &v), 0);
    int32_t w = 0, h = 0;
    const std::vector<uint32_t>* pBits = GetShapeBitmap(&w, &h);
    ASSERT_NE(pBits, nullptr);
    EXPECT_EQ(w, 6);
    EXPECT_EQ((*pBits)[3], 0xFF808080u);   // colours kept, alpha made opaque
    EXPECT_EQ((*pBits)[12], 0xFF000000u);
}

TEST_F(WindowCmdTest, AShapeOfTooManyRunsKeepsTheRegion)
{
    // 1999 runs are taken; 2000 are refused: the command ends its turn without an error and the
    // window keeps the region it had.
    std::vector<uint32_t> px(3998);
    for (size_t i = 0; i < px.size(); ++i) px[i] = (i % 2) ? 0xFF000000u : 0xFFFFFFFFu;
    Plain("ok", 3998, 1, px);
    px.push_back(0xFFFFFFFFu);
    px.push_back(0xFF000000u);
    Plain("many", 4000, 1, px);
    Win({I(0, 0), T(23, "ok")});
    Win({I(0, 0), T(23, "many"), T(1, "after")});   // the title comes before the shape
    Win({I(0, 0), I(2, 77)});                        // runs in the next pass
    Run(1);
    std::vector<PLAT_RECT> v;
    ASSERT_EQ(PlatGetWindowRegion(H(0), &v), 1);
    EXPECT_EQ(v.size(), 1999u);
    EXPECT_STREQ(W(0)->szTitle, "after");
    EXPECT_NE(W(0)->nAlpha, 77);   // the turn ended with the shape
    ++g_llPassCount;
    RunScriptThreads(g_pThreadRoot);
    EXPECT_EQ(LastError(), 0);
    EXPECT_EQ(g_bEngineStop.load(), 0);
    EXPECT_EQ(PlatGetWindowRegion(H(0), &v), 1);
    EXPECT_EQ(v.size(), 1999u);
    std::vector<PLAT_RECT> rects;
    EXPECT_EQ(CreateRegionFromPixels(reinterpret_cast<const uint8_t*>(px.data()), 4000, 1, 16000, &rects), -1);
    Reset();
    Win({I(0, 0), T(23, "nothing")});
    Run();
    EXPECT_EQ(LastError(), 101250);
}

// ---- Hide and information -----------------------------------------------------------------------

TEST_F(WindowCmdTest, HideCommand)
{
    Win({I(0, 2), T(1, "s")});
    Emit(KXCMD_WINDOW_HIDE, {I(0, 2)});
    Emit(KXCMD_WINDOW_HIDE, {});
    Run();
    EXPECT_EQ(LastError(), 0);
    EXPECT_EQ(PlatIsWindowVisible(H(2)), 0);
    EXPECT_EQ(W(2)->bVisible, 1);   // the record keeps its value
    for (int64_t n : {0, 4}) {
        SCOPED_TRACE(n);
        Reset();
        Emit(KXCMD_WINDOW_HIDE, {I(0, n)});
        Run();
        std::string s;
        EXPECT_EQ(LastError(&s), n == 0 ? 101330 : 101000) << s;
        EXPECT_EQ(PlatIsWindowVisible(H(0)), 1);
    }
}

TEST_F(WindowCmdTest, InformationCommand)
{
    struct CASE {
        const char* pszWhat;
        int nWindow, nSelector;
        uint16_t nVar;
        int64_t llInt;
        double dFloat;
        const char* pszText;
        int nError;
    };
    const CASE cases[] = {
        {"exists", 0, 2, kVarInt, 1, 9.5, "x", 0},
        {"exists as a double", 0, 2, kVarFloat, 99, 1.0, "x", 0},
        {"exists into a text", 0, 2, kVarText, 99, 9.5, "x", 101140},
        {"alpha", 0, 3, kVarInt, 256, 9.5, "x", 0},
        {"title", 0, 6, kVarText, 99, 9.5, "main", 0},
        {"title into a number is left", 0, 6, kVarInt, 99, 9.5, "x", 0},
        {"left", 0, 7, kVarInt, 640, 9.5, "x", 0},
        {"top", 0, 8, kVarInt, 300, 9.5, "x", 0},
        {"logical width", 0, 10, kVarInt, 640, 9.5, "x", 0},
        {"client height", 0, 13, kVarInt, 480, 9.5, "x", 0},
        {"minimised", 0, 17, kVarFloat, 99, 0.0, "x", 0},
        {"a window not made clears an integer", 3, 3, kVarInt, 0, 9.5, "x", 0},
        {"a window not made clears a double", 3, 3, kVarFloat, 99, 0.0, "x", 0},
        {"a window not made clears a text", 3, 6, kVarText, 99, 9.5, "", 0},
        {"an index outside 0..3", 9, 3, kVarInt, 99, 9.5, "x", 101000},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        Reset();
        Emit(KXCMD_WINDOW_INFO, {I(0, c.nWindow), Out(c.nVar), I(c.nSelector, 1)});
        Run();
        EXPECT_EQ(LastError(), c.nError);
        EXPECT_EQ(GetVarInt(kVarInt, 0), c.llInt);
        EXPECT_EQ(GetVarFloat(kVarFloat, 0), c.dFloat);
        EXPECT_STREQ(GetVarString(kVarText, 0), c.pszText);
    }
    // Asking for the left keeps the record current; a window that was closed counts as not made.
    Reset();
    Win({I(0, 1), T(1, "s"), I(4, 10)});
    Run();
    PlatSetWindowPos(H(1), 300, 20, 0, 0, PLAT_SWP_NOSIZE);
    Rerun();
    Emit(KXCMD_WINDOW_INFO, {I(0, 1), Out(kVarInt), I(7, 1)});
    Run();
    EXPECT_EQ(GetVarInt(kVarInt, 0), 300);
    EXPECT_EQ(W(1)->nLeft, 300);
    PlatDestroyWindow(H(1));
    EXPECT_EQ(g_anWindowCreated[1], -1);
    Rerun();
    Emit(KXCMD_WINDOW_INFO, {I(0, 1), Out(kVarInt), I(2, 1)});
    Run();
    EXPECT_EQ(GetVarInt(kVarInt, 0), 0);
    EXPECT_EQ(LastError(), 0);
}

// ---- The mouse command --------------------------------------------------------------------------

TEST_F(WindowCmdTest, CursorModes)
{
    struct CASE {
        const char* pszWhat;
        uint8_t bShownBefore, bIdleTiming;
        int64_t llMode;
        uint8_t nRequest, bShown, bAutoHide, bIdleAfter;
    };
    const CASE cases[] = {
        {"0 hides a shown cursor and stops auto-hide", 1, 1, 0, KX_CURSOR_REQUEST_HIDE, 0, 0, 0},
        {"0 on a hidden cursor asks nothing", 0, 1, 0, KX_CURSOR_REQUEST_NONE, 0, 0, 0},
        {"1 shows a hidden cursor that is not being timed", 0, 0, 1, KX_CURSOR_REQUEST_SHOW, 1, 1, 0},
        {"1 leaves a timed hidden cursor", 0, 1, 1, KX_CURSOR_REQUEST_NONE, 0, 1, 1},
        {"2 shows the cursor and stops auto-hide", 0, 1, 2, KX_CURSOR_REQUEST_SHOW, 1, 0, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        Reset();
        g_bCursorShown = c.bShownBefore;
        g_bCursorAutoHide = c.llMode == 1 ? 0 : 1;
        W(0)->bIdleTiming = c.bIdleTiming;
        Emit(KXCMD_MOUSE, {I(0, c.llMode), I(1, 700), I(2, 0), I(4, 0)});
        Run();
        EXPECT_EQ(g_nCursorRequest, c.nRequest);
        EXPECT_EQ(g_bCursorShown, c.bShown);
        EXPECT_EQ(g_bCursorAutoHide, c.bAutoHide);
        EXPECT_EQ(W(0)->bIdleTiming, c.bIdleAfter);
        EXPECT_EQ(g_nCursorIdleMs, 700u);
        EXPECT_EQ(W(0)->bRevealOnMove, 0);
        EXPECT_EQ(W(0)->bRevealOnButton, 1);
        EXPECT_EQ(W(0)->bRevealOnWheel, 0);
    }
    g_nCursorIdleMs = 2500;
}

TEST_F(WindowCmdTest, CursorWarpsToTheGamePosition)
{
    // The picture is shown at 1.5 times its size with a margin: x' = x * 960 / 640 + 20.
    ASSERT_EQ(SetOutputSize(960, 720), 0);
    g_nOutputOffsetX = 20;
    g_nOutputOffsetY = 10;
    int32_t ox = 0, oy = 0;
    PlatClientToScreen(H(0), &ox, &oy);
    Emit(KXCMD_MOUSE, {I(5, 100)});
    Emit(KXCMD_MOUSE, {I(6, 200)});
    Run();
    int32_t x = 0, y = 0;
    ASSERT_EQ(PlatGetCursorPos(&x, &y), 0);
    EXPECT_EQ(x - ox, 170);
    EXPECT_EQ(y - oy, 310);
    EXPECT_EQ(W(0)->nMouseX, 100);
    EXPECT_EQ(W(0)->nMouseY, 200);
    // A window without a logical width only moves by the offset.
    Reset();
    W(0)->nWidth = 0;
    g_nOutputOffsetX = 20;
    Emit(KXCMD_MOUSE, {I(5, 7)});
    Run();
    PlatClientToScreen(H(0), &(ox = 0), &(oy = 0));
    ASSERT_EQ(PlatGetCursorPos(&x, &y), 0);
    EXPECT_EQ(x - ox, 27);
    W(0)->nWidth = 640;
}

TEST_F(WindowCmdTest, StandardAndLayerCursors)
{
    struct {
        int64_t n;
        int nIdc;
    } const standard[] = {{2, PLAT_IDC_WAIT}, {4, PLAT_IDC_UPARROW}, {13, PLAT_IDC_HELP}, {0, PLAT_IDC_ARROW},
                          {14, PLAT_IDC_ARROW}};
    for (const auto& s : standard) {
        EXPECT_EQ(StandardCursorId(s.n), s.nIdc);
    }
    Emit(KXCMD_MOUSE, {I(7, 11)});
    Run();
    PLAT_CURSOR_INFO info;
    ASSERT_EQ(PlatGetCursorInfo(PlatGetWindowCursor(H(0)), &info), 0);
    EXPECT_EQ(info.nIdc, PLAT_IDC_HAND);

    // A cursor from a 2 x 2 layer with its hot spot; a missing layer changes nothing.
    Reset();
    Plain("cur", 2, 2, {0xFF0000FFu, 0x00000000u, 0x80FFFFFFu, 0xFF00FF00u});
    Emit(KXCMD_MOUSE, {I(8, 1), I(9, 0x10001), T(10, "cur")});
    Emit(KXCMD_MOUSE, {T(10, "nothing")});
    Run();
    EXPECT_EQ(LastError(), 0);
    ASSERT_NE(g_hCustomCursor, 0u);
    EXPECT_EQ(PlatGetWindowCursor(H(0)), g_hCustomCursor);
    ASSERT_EQ(PlatGetCursorInfo(g_hCustomCursor, &info), 0);
    EXPECT_EQ(info.nIdc, 0);
    EXPECT_EQ(info.nHotX, 1);
    EXPECT_EQ(info.nHotY, 1);   // 16-bit values
    EXPECT_EQ(info.pixels, (std::vector<uint32_t>{0xFF0000FFu, 0x00000000u, 0x80FFFFFFu, 0xFF00FF00u}));

    // A layer too large for a cursor shows its box and leaves no cursor.
    Reset();
    Plain("big", 300, 2, {0xFFFFFFFFu});
    Emit(KXCMD_MOUSE, {T(10, "big")});
    Run();
    EXPECT_EQ(g_hCustomCursor, 0u);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("CURSOR CreateIconIndirect"), std::string::npos) << boxes.boxes[0].strText;
}

TEST_F(WindowCmdTest, CursorAndIconSizeRefusalsShowTheirBoxes)
{
    TREE_NODE* p = Plain("odd", 17, 16, {0xFFFFFFFFu});
    EXPECT_EQ(CreateCursorFromLayer(H(0), p, 32, 32, 0, 0, 0), 0u);
    EXPECT_EQ(CreateCursorFromLayer(H(0), p, 16, 16, 0, 0, 1), 0u);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].strText.rfind("CURSOR ERR.\r\n", 0), 0u) << boxes.boxes[0].strText;
    EXPECT_NE(boxes.boxes[0].strText.find("32x32"), std::string::npos);
    EXPECT_EQ(boxes.boxes[1].strText.rfind("ICON ERR.\r\n", 0), 0u);
    EXPECT_NE(boxes.boxes[1].strText.find("16x16"), std::string::npos);
}

// ---- The tray icon --------------------------------------------------------------------------------

TEST_F(WindowCmdTest, TrayAddModifyAndTheIconsPicture)
{
    // A missing icon layer: nothing at all, the tooltip included.
    Emit(KXCMD_TRAY_ICON, {I(0, 1), T(1, "tip"), T(2, "nothing")});
    Emit(KXCMD_TRAY_ICON, {I(0, 1), T(1, "first")});
    Plain("icon", 16, 16, {0xFF112233u});
    Plain("wide", 17, 16, {0xFF445566u});
    Run();
    PLAT_TRAY_STATE s;
    PlatTrayGetState(&s);
    EXPECT_EQ(s.bShown, 1);
    EXPECT_EQ(s.nAdds, 1);
    EXPECT_EQ(s.strTip, "first");
    EXPECT_EQ(s.bCustomIcon, 0);
    EXPECT_EQ(s.hwnd, H(0));
    EXPECT_EQ(s.nId, 123u);
    EXPECT_EQ(s.nCallbackMessage, 0x40Au);
    EXPECT_EQ(g_bTrayIconShown, 1);

    // Shown again: a modification, with the picture of the 16 x 16 layer and a long tip cut to 63.
    Reset();
    Emit(KXCMD_TRAY_ICON, {I(0, 1), T(1, "first")});
    Emit(KXCMD_TRAY_ICON, {I(0, 1), T(1, std::string(70, 'a')), T(2, "icon")});
    Plain("icon", 16, 16, {0xFF112233u});
    Plain("wide", 17, 16, {0xFF445566u});
    Run();
    PlatTrayGetState(&s);
    EXPECT_EQ(s.nAdds, 1);
    EXPECT_EQ(s.nModifies, 1);
    EXPECT_EQ(s.strTip, std::string(63, 'a'));
    ASSERT_EQ(s.bCustomIcon, 1);
    EXPECT_EQ(s.iconPixels.size(), 256u);
    EXPECT_EQ(s.iconPixels[0], 0xFF112233u);
    EXPECT_TRUE(boxes.boxes.empty());

    // A layer that is not 16 x 16: the box with 16 and 16, and the program's icon.
    Reset();
    Plain("wide", 17, 16, {0xFF445566u});
    Emit(KXCMD_TRAY_ICON, {I(0, 1), T(2, "wide")});
    Run();
    PlatTrayGetState(&s);
    EXPECT_EQ(s.bShown, 1);
    EXPECT_EQ(s.bCustomIcon, 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText.rfind("ICON ERR.\r\n", 0), 0u);
    EXPECT_NE(boxes.boxes[0].strText.find("16x16"), std::string::npos);

    // The popup menu's path goes to the menus, made absolute against the menu tree's current path.
    Reset();
    static std::string s_strMenu;
    s_strMenu.clear();
    g_DisplayHooks.pfnSetTrayPopupMenu = [](const char* psz) {
        s_strMenu = psz;
        return 0;
    };
    Emit(KXCMD_TRAY_ICON, {T(3, "traymenu/")});
    Run();
    EXPECT_NE(s_strMenu.find("traymenu"), std::string::npos) << s_strMenu;

    // Show 0 takes it away; the main window's end does too.
    Reset();
    Plain("icon", 16, 16, {0xFF112233u});
    Emit(KXCMD_TRAY_ICON, {I(0, 1), T(2, "icon")});
    Emit(KXCMD_TRAY_ICON, {I(0, 0)});
    Run();
    PlatTrayGetState(&s);
    EXPECT_EQ(s.bShown, 0);
    EXPECT_EQ(s.nDeletes, 1);
    EXPECT_EQ(g_hTrayCustomIcon, 0u);
    EXPECT_EQ(LastError(), 0);
}

TEST_F(WindowCmdTest, InjectedTrayClicksReachTheWindowProcedure)
{
    // The main window with the engine's window procedure.
    PlatDestroyWindow(H(0));
    InstallWindowProc();
    MakeMain();
    Posted(0);
    Emit(KXCMD_TRAY_ICON, {I(0, 1), T(1, "tip")});
    Emit(KXCMD_WINDOW, {I(0, 0), I(3, 0)});   // hidden, as a game in the tray would be
    Run();
    ASSERT_EQ(g_bTrayIconShown, 1);
    ASSERT_EQ(PlatIsWindowVisible(H(0)), 0);

    // A left click shows the window.
    ASSERT_EQ(PlatTrayInjectClick(PLAT_WM_LBUTTONDOWN), 0);
    PLAT_MSG m{};
    while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) PlatDispatchMessage(&m);
    EXPECT_EQ(PlatIsWindowVisible(H(0)), 1);
    // A right-button release asks for the popup menu and redraws the layer set.
    LAYER* pSet = GetNodeLayer(W(0)->pLayerSet);
    pSet->bChanged = 0;
    g_nPopupMenuRequest = 0;
    ASSERT_EQ(PlatTrayInjectClick(PLAT_WM_RBUTTONUP), 0);
    while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) PlatDispatchMessage(&m);
    EXPECT_EQ(g_nPopupMenuRequest, 2);
    EXPECT_EQ(pSet->bChanged, 1);
    EXPECT_EQ(pSet->bFullRedraw, 1);
    g_nPopupMenuRequest = 0;
    // The main window's end takes the icon away.
    PlatDestroyWindow(H(0));
    PLAT_TRAY_STATE s;
    PlatTrayGetState(&s);
    EXPECT_EQ(s.bShown, 0);
    EXPECT_EQ(PlatTrayInjectClick(PLAT_WM_RBUTTONUP), -1);
    g_pfnMainWindowProc = DefaultGameWndProc;
}

}  // namespace

// ---- The shape on a real X11 window ---------------------------------------------------------------

namespace {

class WindowShapeX11Test : public ::testing::Test {};

TEST_F(WindowShapeX11Test, TheServerHoldsTheShapesRectangles)
{
    const char* pszSmoke = std::getenv("KX_X11_SMOKE");
    if (!pszSmoke || std::strcmp(pszSmoke, "1") != 0) GTEST_SKIP() << "runs under xvfb-run only";
    ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_SDL), 0);
    ERROR_RECORDER errors;
    const PLAT_HWND h = PlatCreateWindow("shape", "shape", PLAT_WS_POPUP, 10, 10, 64, 48, 0, nullptr, nullptr);
    ASSERT_NE(h, 0u);
    PlatShowWindow(h, PLAT_SW_SHOW);
    // A 6 x 4 layer: its runs of non-black pixels become the window's only visible parts.
    LAYER layer{};
    const uint32_t B = 0xFF000000u, X = 0xFFFFFFFFu;
    uint32_t px[24] = {B, B, X, X, B, X, X, X, X, X, X, X, B, B, B, B, B, B, X, B, B, B, B, X};
    layer.nWidth = 6;
    layer.nHeight = 4;
    layer.pOwnedPixels = layer.pDisplayPixels = reinterpret_cast<uint8_t*>(px);
    ASSERT_EQ(SetWindowShape(h, &layer), 0);
    std::vector<PLAT_RECT> v;
    ASSERT_EQ(PlatReadWindowRegion(h, &v), 1);
    EXPECT_EQ(Rects(v), "(2,0,4,1)(5,0,6,1)(0,1,6,2)(0,3,1,4)(5,3,6,4)");
    // Taken off again: the window is whole.
    ASSERT_EQ(PlatSetWindowRegion(h, nullptr, -1), 0);
    EXPECT_EQ(PlatReadWindowRegion(h, &v), 0);
    DeleteShapeBitmap();
    PlatDestroyWindow(h);
    PlatShutdownWindowSystem();
    EXPECT_TRUE(errors.reports.empty());
}

}  // namespace
