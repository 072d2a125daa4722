// The game window as a player handles it, on a virtual X server with a window manager (openbox):
// a place set by the script reads back as set and stays through fullscreen round trips, the menu
// bar sits outside the picture, the frame keeps the smallest size, a popup opens at the cursor in
// fullscreen, the tray icon sits in a real tray host (trayer) and its menu reaches the script; and a
// borderless window moves when its click layer is dragged, and one minimised "to the tray" without
// a tray host is a plain minimised window that the window manager brings back. The pause on drag
// holds the script for the whole drag of the click layer; a fixed-size window is maximised by the
// window manager and restored; a place the window manager gave keeps through fullscreen trips.
//
// Runs only under the kolvex_x11_desktop test (KX_X11_DESKTOP=1), which starts the X server; with
// KX_X11_SHOTS naming a folder, the screenshots are written there as PNG files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/cmd_layer.h"
#include "tests/support/test_support.h"
#include "tests/support/x11_desktop.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {


const char kTitlePrefix[] = "KX win ";
constexpr int kGameW = 640, kGameH = 400;   // 16:10 on the 4:3 screen: fullscreen has bars above and below
constexpr uint16_t kVarLeft = 1000, kVarTop = 1001, kVarClientW = 1002, kVarClientH = 1003, kVarFull = 1004,
                   kVarChosen = 1005, kVarIconic = 1006;
constexpr int kSysMenuCommand = 132;

BUILDER_ARG I(int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v)); }
BUILDER_ARG T(int nId, const std::string& s) { return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT); }
BUILDER_ARG V(int nId, uint16_t nVar) { return ExprArg(static_cast<uint8_t>(nId), MakeExprVar(nVar)); }

// The window's facts in its title: "KX win left,top,client width,client height,fullscreen,chosen
// menu command,minimised".
void EmitReport(SCRIPT_BUILDER* b)
{
    const std::pair<int, uint16_t> facts[] = {{7, kVarLeft},  {8, kVarTop},   {12, kVarClientW}, {13, kVarClientH},
                                              {15, kVarFull}, {17, kVarIconic}};
    for (const auto& f : facts) EXPECT_GE(EmitCommand(b, KXCMD_WINDOW_INFO, {I(0, 0), V(1, f.second), I(f.first, 1)}), 0);
    std::vector<uint8_t> e;
    ExprAsmText(e, kTitlePrefix);
    const uint16_t order[] = {kVarLeft, kVarTop, kVarClientW, kVarClientH, kVarFull, kVarChosen, kVarIconic};
    for (size_t i = 0; i < sizeof order / sizeof order[0]; ++i) {
        if (i > 0) {
            ExprAsmText(e, ",");
            ExprAsmOp(e, '+');
        }
        ExprAsmVar(e, order[i]);
        ExprAsmOp(e, 's');
        ExprAsmOp(e, '+');
    }
    EXPECT_GE(EmitCommand(b, KXCMD_WINDOW, {I(0, 0), ExprArg(1, e, EVALTYPE_TEXT)}), 0);
}

// The game of both runs. Keys: P places the window at 100, 50; F and W go to fullscreen and back;
// R reports; T shows the tray icon (its popup is "pop/"); M minimises to the tray, G restores; X
// maximises or restores; B and N switch the resizable frame off and on. A
// right click opens "pop/" at the cursor. The click layer (a white square at 40, 40) drags a
// borderless window. Every change ends in the report in the title.
std::vector<GAME_FILE> WindowGame(bool bFramed, bool bResizable = true)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    const auto Item = [&](const char* pszPath, const char* pszCaption, int nOrder, int nId) {
        EXPECT_GE(EmitCommand(&b, KXCMD_MENU_ITEM, {T(0, pszPath), T(1, pszCaption), I(2, nOrder), I(6, nId)}), 0);
    };
    Item("pop/", "pop", 1, 0);
    Item("pop/alpha", "Alpha", 1, 11);
    Item("pop/beta", "Beta", 2, 12);
    Item("bar/", "bar", 2, 0);
    Item("bar/view/", "View", 1, 0);
    Item("bar/view/one", "One", 1, 21);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "bg"), I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "bg.bmp")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "grip"), I(LAYER_ARG_ORDER, 2), T(LAYER_ARG_IMAGE, "grip.bmp"),
                                            I(LAYER_ARG_X, 40), I(LAYER_ARG_Y, 40)}),
              0);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "icon"), I(LAYER_ARG_ORDER, 3), T(LAYER_ARG_IMAGE, "icon.bmp"),
                                            I(LAYER_ARG_OPACITY, 0)}),
              0);
    // The framed window gets the menu bar and is set to show the picture at its own size (the
    // window command's client width); the borderless one gets the click layer.
    if (bFramed) {
        EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), T(22, "bar/")}), 0);
        EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 2)}), 0);
        EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), I(9, kGameW)}), 0);
    } else {
        EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), T(24, "grip")}), 0);
    }
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 10)}), 0);
    EmitReport(&b);
    EXPECT_GE(AddLabel(&b, "LOOP"), 0);
    const auto OnKey = [&](int nVk, const std::vector<BUILDER_ARG>& windowArgs, int nSettle) {
        EXPECT_GE(BeginIf(&b, KeyPressed(nVk)), 0);
        if (!windowArgs.empty()) {
            EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, windowArgs), 0);
        }
        EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, nSettle)}), 0);
        EmitReport(&b);
        EXPECT_GE(EndIf(&b), 0);
    };
    OnKey('P', {I(0, 0), I(4, 100), I(5, 50)}, 20);
    OnKey('F', {I(0, 0), I(13, 1)}, 20);
    OnKey('W', {I(0, 0), I(13, 0)}, 20);
    OnKey('R', {}, 1);
    OnKey('M', {I(0, 0), I(14, 2)}, 20);
    OnKey('G', {I(0, 0), I(14, 0)}, 20);
    OnKey('X', {I(0, 0), I(15, 1)}, 20);
    OnKey('B', {I(0, 0), I(25, 0)}, 20);
    OnKey('N', {I(0, 0), I(25, 1)}, 20);
    EXPECT_GE(BeginIf(&b, KeyPressed('T')), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_TRAY_ICON, {T(2, "icon"), T(1, "KX tray tip"), I(0, 1), T(3, "pop/")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 5)}), 0);
    EmitReport(&b);
    EXPECT_GE(EndIf(&b), 0);
    // The right button went down in this frame: the popup at the mouse.
    EXPECT_GE(BeginIf(&b, KeyPressed(2)), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_MENU_POPUP, {T(0, "pop/"), I(1, 1)}), 0);
    EXPECT_GE(EndIf(&b), 0);
    // A chosen menu command is remembered and reported.
    std::vector<uint8_t> chosen;
    ExprAsmVar(chosen, kSysMenuCommand);
    ExprAsmInt(chosen, 0);
    ExprAsmOp(chosen, '!');
    EXPECT_GE(BeginIf(&b, chosen), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_ASSIGN, {V(0, kVarChosen), ExprArg(1, MakeExprVar(kSysMenuCommand))}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_ASSIGN, {V(0, kSysMenuCommand), I(1, 0)}), 0);
    EmitReport(&b);
    EXPECT_GE(EndIf(&b), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    EXPECT_GE(EmitGoto(&b, "LOOP"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;

    GAME_DATA game = DefaultGameData();
    game.config.nWidth = kGameW;
    game.config.nHeight = kGameH;
    game.config.nResizable = bResizable ? 1 : 0;
    game.config.nFramed = bFramed ? 1 : 0;
    game.config.strTitle = "KX window";
    for (uint16_t nVar : {kVarLeft, kVarTop, kVarClientW, kVarClientH, kVarFull, kVarChosen, kVarIconic})
        game.defs.push_back(MakeIntVarDef(nVar, 0));
    game.scripts.push_back(ScriptFromBuilder("start.txt", b));
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    BMP_WRITER_OPTIONS opt;
    // A blue picture with a darker band every 40 rows, so that screenshots show where it is.
    std::vector<uint32_t> bg(size_t(kGameW) * kGameH);
    for (int y = 0; y < kGameH; ++y)
        for (int x = 0; x < kGameW; ++x) bg[size_t(y) * kGameW + x] = (y / 40) % 2 ? 0xFF3060A0u : 0xFF4080D0u;
    files.push_back({"bg.bmp", WriteBmp(kGameW, kGameH, opt, bg.data(), nullptr)});
    const std::vector<uint32_t> grip(80 * 80, 0xFFF0F0F0u);
    files.push_back({"grip.bmp", WriteBmp(80, 80, opt, grip.data(), nullptr)});
    const std::vector<uint32_t> icon(16 * 16, 0xFFE02020u);
    files.push_back({"icon.bmp", WriteBmp(16, 16, opt, icon.data(), nullptr)});
    return files;
}

// The game's report: the numbers after the title's prefix.
struct REPORT {
    bool bValid = false;
    int nLeft = 0, nTop = 0, nClientW = 0, nClientH = 0, bFull = 0, nChosen = 0, bIconic = 0;
};

// The ids of managed windows whose title starts with the prefix, with the titles.
std::vector<std::pair<std::string, std::string>> WindowsStartingWith(const char* pszPrefix)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& w : ManagedWindows()) {
        const size_t i = w.second.find(pszPrefix);
        if (i != std::string::npos) out.emplace_back(w.first, w.second.substr(i));
    }
    return out;
}

REPORT ParseReport(const std::string& strTitle)
{
    REPORT r;
    const size_t n = std::strlen(kTitlePrefix);
    if (strTitle.compare(0, n, kTitlePrefix) != 0) return r;
    r.bValid = std::sscanf(strTitle.c_str() + n, "%d,%d,%d,%d,%d,%d,%d", &r.nLeft, &r.nTop, &r.nClientW, &r.nClientH,
                           &r.bFull, &r.nChosen, &r.bIconic) == 7;
    return r;
}

// The window's X geometry as xwininfo reports it: the client's absolute corner and size.
struct XGEOM {
    int x = -99999, y = -99999, w = 0, h = 0;
    std::string strMap;
};

XGEOM Geometry(const std::string& strWindow)
{
    const std::string info = RunTool({"xwininfo", "-id", strWindow});
    XGEOM g;
    g.x = WinInfoInt(info, "Absolute upper-left X");
    g.y = WinInfoInt(info, "Absolute upper-left Y");
    g.w = WinInfoInt(info, "Width");
    g.h = WinInfoInt(info, "Height");
    g.strMap = WinInfoValue(info, "Map State");
    return g;
}

class X11Window : public X11_DESKTOP_TEST {
protected:
    void SetUp() override
    {
        X11_DESKTOP_TEST::SetUp();
        if (!Ready()) return;
        m_strLog = dir.strNative + "/kolvex.log";
    }
    void TearDown() override
    {
        EndProcess(&m_pid, SIGKILL);
        EndProcess(&m_pidTray, SIGKILL);
    }
    // Starts the game; its window's id once the window manager lists it with its first report.
    std::string StartGame(bool bFramed, bool bResizable = true)
    {
        EXPECT_EQ(WriteGameFolder(dir.strNative + "/game", WindowGame(bFramed, bResizable)), 0);
        m_pid = Spawn({KX_KOLVEX_PATH, "--game", dir.strNative + "/game"},
                      {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                       "XDG_RUNTIME_DIR=" + dir.strNative, "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                      m_strLog.c_str());
        EXPECT_NE(m_pid, 0);
        for (int i = 0; i < 300 && m_strWindow.empty(); ++i) {
            const auto v = WindowsStartingWith(kTitlePrefix);
            if (v.size() == 1) m_strWindow = v[0].first;
            else Pause(50);
        }
        EXPECT_FALSE(m_strWindow.empty()) << "the game's window did not appear\n" << Log();
        Pause(300);
        return m_strWindow;
    }
    // The game's report, once its title is not the one it had before (or the first one).
    REPORT WaitReport(const std::string& strOld = "")
    {
        for (int i = 0; i < 200; ++i) {
            for (const auto& w : WindowsStartingWith(kTitlePrefix))
                if (w.first == m_strWindow && w.second != strOld) {
                    m_strLastTitle = w.second;
                    return ParseReport(w.second);
                }
            Pause(50);
        }
        return REPORT{};
    }
    // Presses a key in the game's window and waits for the report that follows.
    REPORT Key(const char* pszKey)
    {
        RunTool({"xdotool", "windowactivate", "--sync", m_strWindow});
        Pause(100);
        // A report of the same facts would not change the title: a fresh one is told apart by
        // asking for it after a known different one is impossible, so the title is reset first.
        RunTool({"xdotool", "set_window", "--name", "KX waiting", m_strWindow});
        Pause(50);
        RunTool({"xdotool", "key", pszKey});
        return WaitReport("KX waiting");
    }
    std::string Log() { return dir.Read("kolvex.log"); }
    // Polls until the window's X geometry satisfies the test (or 10 s pass): the last geometry seen.
    template <class PRED>
    XGEOM WaitGeometry(const std::string& strWin, PRED pred)
    {
        XGEOM g;
        for (int i = 0; i < 200; ++i) {
            g = Geometry(strWin);
            if (pred(g)) break;
            Pause(50);
        }
        return g;
    }
    std::string WaitMapState(const std::string& strWin, const char* pszState)
    {
        return WaitGeometry(strWin, [&](const XGEOM& g) { return g.strMap == pszState; }).strMap;
    }
    // Polls screenshots until one satisfies the test (or 10 s pass): the last one taken.
    template <class PRED>
    static X11_SHOT WaitScreen(PRED pred)
    {
        X11_SHOT shot;
        for (int i = 0; i < 100; ++i) {
            shot = Capture("");
            if (shot.w > 0 && pred(shot)) break;
            Pause(100);
        }
        return shot;
    }

    std::string m_strLog, m_strWindow, m_strLastTitle;
    pid_t m_pidTray = 0;
};

}  // namespace

TEST_F(X11Window, PlaceSizeFullscreenPopupAndTrayOfAFramedWindow)
{
    // A tray host at the bottom of the screen, as a panel has it.
    m_pidTray = Spawn({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "24",
                       "--transparent", "false", "--tint", "0x404040", "--SetDockType", "true"},
                      {}, (dir.strNative + "/trayer.log").c_str());
    ASSERT_NE(m_pidTray, 0);
    const std::string strWin = StartGame(true);
    ASSERT_FALSE(strWin.empty());
    REPORT r = WaitReport();
    ASSERT_TRUE(r.bValid) << m_strLastTitle;
    // The picture keeps the size asked for; the menu bar is above it, outside.
    EXPECT_EQ(r.nClientW, kGameW) << m_strLastTitle;
    EXPECT_EQ(r.nClientH, kGameH) << m_strLastTitle;
    XGEOM g = Geometry(strWin);
    std::printf("start: report %s, X client %d,%d %dx%d\n", m_strLastTitle.c_str(), g.x, g.y, g.w, g.h);
    EXPECT_EQ(g.w, kGameW);
    EXPECT_EQ(g.h, kGameH + 20);
    KeepShot(Capture(""), "x11-window-start.png");

    // A place set by the script reads back as set.
    r = Key("p");
    ASSERT_TRUE(r.bValid) << m_strLastTitle;
    EXPECT_EQ(r.nLeft, 100) << m_strLastTitle;
    EXPECT_EQ(r.nTop, 50) << m_strLastTitle;
    const XGEOM gPlaced = Geometry(strWin);
    std::printf("placed: report %s, X client %d,%d %dx%d\n", m_strLastTitle.c_str(), gPlaced.x, gPlaced.y, gPlaced.w,
                gPlaced.h);
    KeepShot(Capture(""), "x11-window-placed.png");

    // Three trips to fullscreen and back leave the window where it was.
    for (int i = 0; i < 3; ++i) {
        r = Key("f");
        ASSERT_TRUE(r.bValid) << m_strLastTitle;
        EXPECT_EQ(r.bFull, 1) << m_strLastTitle;
        if (i == 0) KeepShot(Capture(""), "x11-window-fullscreen.png");
        r = Key("w");
        ASSERT_TRUE(r.bValid) << m_strLastTitle;
        EXPECT_EQ(r.bFull, 0) << m_strLastTitle;
        EXPECT_EQ(r.nLeft, 100) << "trip " << i << ": " << m_strLastTitle;
        EXPECT_EQ(r.nTop, 50) << "trip " << i << ": " << m_strLastTitle;
        g = Geometry(strWin);
        std::printf("trip %d: report %s, X client %d,%d %dx%d\n", i, m_strLastTitle.c_str(), g.x, g.y, g.w, g.h);
        EXPECT_EQ(g.x, gPlaced.x) << "trip " << i;
        EXPECT_EQ(g.y, gPlaced.y) << "trip " << i;
        EXPECT_EQ(g.w, gPlaced.w) << "trip " << i;
        EXPECT_EQ(g.h, gPlaced.h) << "trip " << i;
    }
    KeepShot(Capture(""), "x11-window-after-trips.png");

    // The resizable frame switched off, maximised and restored twice (the frame comes and goes
    // with it), the frame switched on again: still in the same place, at the same size.
    for (const char* pszKey : {"b", "x", "x", "x", "x", "n"}) {
        r = Key(pszKey);
        ASSERT_TRUE(r.bValid) << m_strLastTitle;
        if (std::strcmp(pszKey, "x") == 0) Pause(300);
        r = Key("r");
        g = Geometry(strWin);
        std::printf("after %s: report %s, X client %d,%d %dx%d\n", pszKey, m_strLastTitle.c_str(), g.x, g.y, g.w, g.h);
    }
    EXPECT_EQ(r.nLeft, 100) << m_strLastTitle;
    EXPECT_EQ(r.nTop, 50) << m_strLastTitle;
    EXPECT_EQ(r.nClientW, kGameW) << m_strLastTitle;
    EXPECT_EQ(r.nClientH, kGameH) << m_strLastTitle;
    EXPECT_EQ(g.x, gPlaced.x);
    EXPECT_EQ(g.y, gPlaced.y);
    EXPECT_EQ(g.w, gPlaced.w);
    EXPECT_EQ(g.h, gPlaced.h);

    // The frame keeps the smallest size: a quarter of the shorter side at the game's aspect.
    RunTool({"xdotool", "windowsize", "--sync", strWin, "60", "45"});
    Pause(500);
    r = Key("r");
    g = Geometry(strWin);
    std::printf("shrunk: report %s, X client %d,%d %dx%d\n", m_strLastTitle.c_str(), g.x, g.y, g.w, g.h);
    EXPECT_EQ(r.nClientW, kGameH / 4 * kGameW / kGameH) << m_strLastTitle;
    EXPECT_EQ(r.nClientH, kGameH / 4) << m_strLastTitle;
    EXPECT_EQ(g.w, 160);
    EXPECT_EQ(g.h, 100 + 20);
    EXPECT_EQ(g.x, gPlaced.x) << "the window moved when it was made smaller";
    EXPECT_EQ(g.y, gPlaced.y) << "the window moved when it was made smaller";
    KeepShot(Capture(""), "x11-window-smallest.png");
    // Back to the picture's size for what follows.
    RunTool({"xdotool", "windowsize", "--sync", strWin, std::to_string(kGameW), std::to_string(kGameH + 20)});
    Pause(500);

    // In fullscreen (bars above and below the picture) a right click opens the popup at the cursor.
    r = Key("f");
    ASSERT_EQ(r.bFull, 1) << m_strLastTitle;
    RunTool({"xdotool", "mousemove", "300", "400"});
    Pause(200);
    RunTool({"xdotool", "click", "3"});
    X11_SHOT screen = WaitScreen([](const X11_SHOT& sh) { return sh.w >= 1024 && sh.At(300, 400) == 0x979797u; });
    KeepShot(screen, "x11-window-fullscreen-popup.png");
    ASSERT_GE(screen.w, 1024);
    // The popup's edge at the cursor, its face right of and below it.
    EXPECT_EQ(screen.At(300, 400), 0x979797u);
    EXPECT_EQ(screen.At(340, 405), 0xF2F2F2u);
    RunTool({"xdotool", "key", "Escape"});
    Pause(300);
    r = Key("w");
    ASSERT_EQ(r.bFull, 0) << m_strLastTitle;

    // The tray icon: embedded in the tray host, which shows its picture.
    r = Key("t");
    ASSERT_TRUE(r.bValid) << m_strLastTitle;
    // The icon's red in the bottom-right tray.
    int nRed = 0, nRedX = 0, nRedY = 0;
    const auto FindRed = [&](const X11_SHOT& sh) {
        nRed = 0;
        for (int y = sh.h - 30; y < sh.h; ++y)
            for (int x = sh.w - 200; x < sh.w; ++x)
                if (sh.At(x, y) == 0xE02020u) {
                    if (!nRed) nRedX = x, nRedY = y;
                    ++nRed;
                }
        return nRed >= 16 * 16;
    };
    screen = WaitScreen(FindRed);
    KeepShot(screen, "x11-window-tray.png");
    EXPECT_GE(nRed, 16 * 16) << "the icon is not in the tray";
    const std::string strTree = RunTool({"xwininfo", "-root", "-tree"});
    EXPECT_NE(strTree.find("kolvex-tray"), std::string::npos) << strTree;
    // A right click on it opens its menu over the game's window; Down and Return choose Alpha (11).
    if (nRed) {
        RunTool({"xdotool", "mousemove", std::to_string(nRedX + 4), std::to_string(nRedY + 4)});
        // The tooltip: its pale box near the icon.
        int nTip = 0;
        const X11_SHOT tip = WaitScreen([&](const X11_SHOT& sh) {
            nTip = 0;
            for (int y = sh.h - 80; y < sh.h; ++y)
                for (int x = sh.w - 200; x < sh.w; ++x) nTip += sh.At(x, y) == 0xFFFFE1u;
            return nTip > 200;
        });
        KeepShot(tip, "x11-window-tray-tip.png");
        EXPECT_GT(nTip, 200) << "no tooltip";
        RunTool({"xdotool", "set_window", "--name", "KX waiting", strWin});
        RunTool({"xdotool", "click", "3"});
        Pause(700);
        KeepShot(Capture(""), "x11-window-tray-popup.png");
        RunTool({"xdotool", "key", "Down", "Return"});
        r = WaitReport("KX waiting");
        EXPECT_EQ(r.nChosen, 11) << m_strLastTitle;
    }

    // Minimised to the tray while the tray host runs: hidden, and a click on the icon brings it back.
    r = Key("m");
    EXPECT_EQ(WaitMapState(strWin, "IsUnMapped"), "IsUnMapped");
    if (nRed) {
        RunTool({"xdotool", "mousemove", std::to_string(nRedX + 4), std::to_string(nRedY + 4)});
        RunTool({"xdotool", "click", "1"});
        EXPECT_EQ(WaitMapState(strWin, "IsViewable"), "IsViewable");
    }

    // Hidden to the tray again, then the tray host ends: the window comes back by itself.
    r = Key("m");
    EXPECT_EQ(WaitMapState(strWin, "IsUnMapped"), "IsUnMapped");
    EndProcess(&m_pidTray);
    EXPECT_EQ(WaitMapState(strWin, "IsViewable"), "IsViewable");
    KeepShot(Capture(""), "x11-window-tray-gone.png");
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended";
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}

TEST_F(X11Window, ABorderlessWindowDragsByItsClickLayerAndMinimisesWithoutATray)
{
    const std::string strWin = StartGame(false);
    ASSERT_FALSE(strWin.empty());
    REPORT r = WaitReport();
    ASSERT_TRUE(r.bValid) << m_strLastTitle;
    const XGEOM g0 = Geometry(strWin);
    KeepShot(Capture(""), "x11-borderless-start.png");

    // A press on the white square and a move of the pointer move the window with it.
    RunTool({"xdotool", "mousemove", "--window", strWin, "60", "60"});
    Pause(200);
    RunTool({"xdotool", "mousedown", "1"});
    // The first step of the pointer, and the window under way (the game takes the press on its
    // next frame); then the rest of the way and the release.
    RunTool({"xdotool", "mousemove", std::to_string(g0.x + 60 + 15), std::to_string(g0.y + 60 + 8)});
    WaitGeometry(strWin, [&](const XGEOM& g) { return g.x != g0.x; });
    for (int i = 2; i <= 10; ++i) {
        RunTool({"xdotool", "mousemove", std::to_string(g0.x + 60 + 15 * i), std::to_string(g0.y + 60 + 8 * i)});
        Pause(50);
    }
    const XGEOM g1 = WaitGeometry(strWin, [&](const XGEOM& g) { return g.x == g0.x + 150 && g.y == g0.y + 80; });
    RunTool({"xdotool", "mouseup", "1"});
    std::printf("dragged: X client %d,%d -> %d,%d\n", g0.x, g0.y, g1.x, g1.y);
    EXPECT_EQ(g1.x, g0.x + 150);
    EXPECT_EQ(g1.y, g0.y + 80);
    KeepShot(Capture(""), "x11-borderless-dragged.png");
    r = Key("r");
    EXPECT_EQ(r.nLeft, g1.x) << m_strLastTitle;
    EXPECT_EQ(r.nTop, g1.y) << m_strLastTitle;

    // A press on the picture outside the square moves nothing.
    RunTool({"xdotool", "mousemove", "--window", strWin, "300", "300"});
    RunTool({"xdotool", "mousedown", "1"});
    Pause(200);
    RunTool({"xdotool", "mousemove", std::to_string(g1.x + 400), std::to_string(g1.y + 350)});
    Pause(300);
    RunTool({"xdotool", "mouseup", "1"});
    Pause(300);
    const XGEOM g2 = Geometry(strWin);
    EXPECT_EQ(g2.x, g1.x);
    EXPECT_EQ(g2.y, g1.y);

    // Minimised "to the tray" with no tray host: a minimised window, not a hidden one, and the window
    // manager brings it back.
    r = Key("m");
    std::string strState;
    for (int i = 0; i < 200 && strState.find("Iconic") == std::string::npos; ++i) {
        if (i) Pause(50);
        strState = RunTool({"xprop", "-id", strWin, "WM_STATE", "_NET_WM_STATE"});
    }
    std::printf("minimised: %s\n%s", m_strLastTitle.c_str(), strState.c_str());
    EXPECT_NE(strState.find("Iconic"), std::string::npos) << strState;
    EXPECT_NE(RunTool({"wmctrl", "-l"}).find(strWin.substr(2)), std::string::npos) << "the window manager lost it";
    KeepShot(Capture(""), "x11-borderless-minimised.png");
    int nStatus = -1;
    RunTool({"wmctrl", "-i", "-a", strWin}, &nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(WaitMapState(strWin, "IsViewable"), "IsViewable");
    KeepShot(Capture(""), "x11-borderless-back.png");
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended";
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}

namespace {

const char kDragPrefix[] = "KX drag ";
constexpr uint16_t kVarSteps = 1010;

// A game whose script counts its steps into the title ("KX drag <steps>"), with the pause-on-drag
// switch on or off and a click layer (a white square at 40, 40) that drags the window.
std::vector<GAME_FILE> StepCountingGame(bool bPauseOnDrag)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, {I(0, bPauseOnDrag ? 20011 : 20012)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "bg"), I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "bg.bmp")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "grip"), I(LAYER_ARG_ORDER, 2), T(LAYER_ARG_IMAGE, "grip.bmp"),
                                            I(LAYER_ARG_X, 40), I(LAYER_ARG_Y, 40)}),
              0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), T(24, "grip")}), 0);
    EXPECT_GE(AddLabel(&b, "LOOP"), 0);
    std::vector<uint8_t> next;
    ExprAsmVar(next, kVarSteps);
    ExprAsmInt(next, 1);
    ExprAsmOp(next, '+');
    EXPECT_GE(EmitCommand(&b, KXCMD_ASSIGN, {V(0, kVarSteps), ExprArg(1, next)}), 0);
    std::vector<uint8_t> title;
    ExprAsmText(title, kDragPrefix);
    ExprAsmVar(title, kVarSteps);
    ExprAsmOp(title, 's');
    ExprAsmOp(title, '+');
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), ExprArg(1, title, EVALTYPE_TEXT)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    EXPECT_GE(EmitGoto(&b, "LOOP"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;
    GAME_DATA game = DesktopGame(b, "KX drag start");
    game.defs.push_back(MakeIntVarDef(kVarSteps, 0));
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    BMP_WRITER_OPTIONS opt;
    const std::vector<uint32_t> bg(480 * 320, 0xFF4080D0u);
    files.push_back({"bg.bmp", WriteBmp(480, 320, opt, bg.data(), nullptr)});
    const std::vector<uint32_t> grip(80 * 80, 0xFFF0F0F0u);
    files.push_back({"grip.bmp", WriteBmp(80, 80, opt, grip.data(), nullptr)});
    return files;
}

}  // namespace

// The pause on drag (system command 20011) holds the script for as long as the click layer's drag
// lasts, although the window stays active; without it (20012) the script runs on during the drag.
// After the release the script runs again either way. Steps are counted by the script itself.
TEST_F(X11Window, ThePauseOnDragHoldsTheScriptForTheWholeDrag)
{
    for (const bool bOn : {false, true}) {
        SCOPED_TRACE(bOn ? "pause on drag" : "no pause on drag");
        EndProcess(&m_pid, SIGKILL);
        m_strWindow.clear();
        const std::string strGame = dir.strNative + (bOn ? "/game-on" : "/game-off");
        ASSERT_EQ(WriteGameFolder(strGame, StepCountingGame(bOn)), 0);
        m_pid = Spawn({KX_KOLVEX_PATH, "--game", strGame},
                      {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                       "XDG_RUNTIME_DIR=" + dir.strNative, "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                      m_strLog.c_str());
        ASSERT_NE(m_pid, 0);
        // The steps the title shows now (-1 before the first).
        const auto Steps = [&]() {
            for (const auto& w : WindowsStartingWith(kDragPrefix))
                if (m_strWindow.empty() || w.first == m_strWindow) {
                    if (m_strWindow.empty()) m_strWindow = w.first;
                    return std::atoi(w.second.c_str() + std::strlen(kDragPrefix));
                }
            return -1;
        };
        // Waits until the title shows more than n steps: the steps seen then, or -1.
        const auto WaitSteps = [&](int n) {
            for (int i = 0; i < 600; ++i) {
                const int k = Steps();
                if (k > n) return k;
                Pause(50);
            }
            return -1;
        };
        ASSERT_GE(WaitSteps(10), 0) << "the game's window did not appear\n" << Log();
        const std::string strWin = m_strWindow;
        RunTool({"xdotool", "windowactivate", "--sync", strWin});
        const XGEOM g0 = Geometry(strWin);

        // The press on the white square; the drag is under way once the window follows the pointer.
        RunTool({"xdotool", "mousemove", "--window", strWin, "60", "60"});
        ASSERT_GE(WaitSteps(Steps() + 2), 0);
        RunTool({"xdotool", "mousedown", "1"});
        // The window manager follows the pointer from its first motion after the game handed it the
        // drag (on the game's next frame): the pointer goes on a pixel at a time until the window moves.
        XGEOM g = g0;
        for (int i = 1; i <= 100 && g.x == g0.x; ++i) {
            RunTool({"xdotool", "mousemove", std::to_string(g0.x + 60 + i % 2), std::to_string(g0.y + 60)});
            Pause(100);
            g = Geometry(strWin);
        }
        ASSERT_NE(g.x, g0.x) << "the drag did not begin\n" << Log();
        const int nAtStart = Steps();
        // The pointer goes on in steps, and the window with it.
        for (int i = 2; i <= 12; ++i) {
            RunTool({"xdotool", "mousemove", std::to_string(g0.x + 60 + 10 * i), std::to_string(g0.y + 60 + 5 * i)});
            WaitGeometry(strWin, [&](const XGEOM& gg) { return gg.x == g0.x + 10 * i; });
        }
        int nHeld = -1;
        if (bOn) {
            // Held a while longer: a script that ran would have counted on.
            Pause(1000);
            nHeld = Steps();
            std::printf("pause on drag: steps %d when the drag began, %d before the release\n", nAtStart, nHeld);
            EXPECT_LE(nHeld - nAtStart, 1) << "the script ran during the drag";
        } else {
            nHeld = WaitSteps(nAtStart + 30);
            std::printf("no pause on drag: steps %d when the drag began, %d while held\n", nAtStart, nHeld);
            EXPECT_GT(nHeld, nAtStart + 30) << "the script did not run during the drag";
        }
        g = Geometry(strWin);
        EXPECT_EQ(g.x, g0.x + 120);
        EXPECT_EQ(g.y, g0.y + 60);
        KeepShot(Capture(""), bOn ? "x11-drag-paused.png" : "x11-drag-running.png");
        RunTool({"xdotool", "mouseup", "1"});
        // After the release the script runs again.
        EXPECT_GT(WaitSteps(nHeld + 10), nHeld + 10) << "the script did not run again after the drag";
        EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended";
    }
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}

// A main window of a fixed size (the configuration's default) is maximised by the player through the
// window manager, shows the picture scaled into the whole client, and comes back to its place and
// size on restore; a resize by the player's frame is undone.
TEST_F(X11Window, AFixedSizeWindowIsMaximisedByThePlayerAndRestored)
{
    const std::string strWin = StartGame(true, false);
    ASSERT_FALSE(strWin.empty());
    REPORT r = WaitReport();
    ASSERT_TRUE(r.bValid) << m_strLastTitle;
    const XGEOM g0 = Geometry(strWin);
    std::printf("fixed: report %s, X client %d,%d %dx%d\n", m_strLastTitle.c_str(), g0.x, g0.y, g0.w, g0.h);
    ASSERT_EQ(g0.w, kGameW);
    ASSERT_EQ(g0.h, kGameH + 20);
    // The window manager offers maximise.
    std::string strAllowed;
    for (int i = 0; i < 100 && strAllowed.find("MAXIMIZE") == std::string::npos; ++i) {
        if (i) Pause(50);
        strAllowed = RunTool({"xprop", "-id", strWin, "_NET_WM_ALLOWED_ACTIONS"});
    }
    EXPECT_NE(strAllowed.find("_NET_WM_ACTION_MAXIMIZE_HORZ"), std::string::npos) << strAllowed;

    // The player drags the frame larger: the window keeps its size.
    RunTool({"xdotool", "windowsize", strWin, std::to_string(kGameW + 100), std::to_string(kGameH + 80)});
    r = Key("r");
    XGEOM g = WaitGeometry(strWin, [&](const XGEOM& gg) { return gg.w == g0.w && gg.h == g0.h; });
    std::printf("resized by the frame: report %s, X client %d,%d %dx%d\n", m_strLastTitle.c_str(), g.x, g.y, g.w, g.h);
    EXPECT_EQ(g.w, g0.w);
    EXPECT_EQ(g.h, g0.h);
    EXPECT_EQ(r.nClientW, kGameW) << m_strLastTitle;
    EXPECT_EQ(r.nClientH, kGameH) << m_strLastTitle;

    for (int nTrip = 0; nTrip < 2; ++nTrip) {
        // Maximised by the window manager (as its button or a double click on the title does).
        int nStatus = -1;
        RunTool({"wmctrl", "-i", "-r", strWin, "-b", "add,maximized_vert,maximized_horz"}, &nStatus);
        ASSERT_EQ(nStatus, 0);
        g = WaitGeometry(strWin, [&](const XGEOM& gg) { return gg.w > kGameW + 200; });
        r = Key("r");
        g = Geometry(strWin);
        std::printf("maximised: report %s, X client %d,%d %dx%d\n", m_strLastTitle.c_str(), g.x, g.y, g.w, g.h);
        EXPECT_GT(g.w, kGameW + 200) << "not maximised";
        EXPECT_EQ(r.nClientW, g.w) << m_strLastTitle;
        EXPECT_EQ(r.nClientH, g.h - 20) << m_strLastTitle;
        // The picture fills the client at the game's aspect: its bands (light, dark, light from the top)
        // at the scaled rows, centred.
        const int cw = g.w, ch = g.h - 20;
        const double sc = std::min(cw / double(kGameW), ch / double(kGameH));
        const int ox = int((cw - kGameW * sc) / 2), oy = int((ch - kGameH * sc) / 2);
        const auto Row = [&](int y) { return 20 + oy + int(y * sc); };
        const auto Near = [](uint32_t c, uint32_t want) {
            for (int k = 0; k < 24; k += 8) {
                const int d = int((c >> k) & 0xFF) - int((want >> k) & 0xFF);
                if (d < -8 || d > 8) return false;
            }
            return true;
        };
        bool bHeld = false;
        const X11_SHOT shot = CaptureWhen(strWin, [&](const X11_SHOT& sh) {
            const int x = ox + int(kGameW / 2 * sc);
            return sh.w == g.w && Near(sh.At(x, Row(20)), 0x4080D0u) && Near(sh.At(x, Row(60)), 0x3060A0u) &&
                   Near(sh.At(x, Row(340)), 0x4080D0u) && Near(sh.At(ox + int(20 * sc), Row(100)), 0x4080D0u) &&
                   Near(sh.At(cw - 1 - ox - int(20 * sc), Row(180)), 0x4080D0u);
        }, &bHeld);
        if (nTrip == 0) KeepShot(Capture(""), "x11-fixed-maximised.png");
        EXPECT_TRUE(bHeld) << "the picture is not scaled into the maximised client";

        // Restored: the same place and size as before.
        RunTool({"wmctrl", "-i", "-r", strWin, "-b", "remove,maximized_vert,maximized_horz"}, &nStatus);
        ASSERT_EQ(nStatus, 0);
        g = WaitGeometry(strWin, [&](const XGEOM& gg) { return gg.x == g0.x && gg.y == g0.y && gg.w == g0.w && gg.h == g0.h; });
        r = Key("r");
        std::printf("restored: report %s, X client %d,%d %dx%d\n", m_strLastTitle.c_str(), g.x, g.y, g.w, g.h);
        EXPECT_EQ(g.x, g0.x) << "trip " << nTrip;
        EXPECT_EQ(g.y, g0.y) << "trip " << nTrip;
        EXPECT_EQ(g.w, g0.w) << "trip " << nTrip;
        EXPECT_EQ(g.h, g0.h) << "trip " << nTrip;
        EXPECT_EQ(r.nClientW, kGameW) << m_strLastTitle;
        EXPECT_EQ(r.nClientH, kGameH) << m_strLastTitle;
    }
    KeepShot(Capture(""), "x11-fixed-restored.png");
    // Still of a fixed size after the trips.
    RunTool({"xdotool", "windowsize", strWin, std::to_string(kGameW + 60), std::to_string(kGameH + 60)});
    r = Key("r");
    g = WaitGeometry(strWin, [&](const XGEOM& gg) { return gg.w == g0.w && gg.h == g0.h; });
    EXPECT_EQ(g.w, g0.w);
    EXPECT_EQ(g.h, g0.h);
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended";
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}

// The player moves the window through the window manager; three trips to fullscreen and back then
// leave it exactly where the player put it, and so does a move by the window manager between trips.
TEST_F(X11Window, APlaceThePlayerGaveKeepsThroughFullscreenTrips)
{
    const std::string strWin = StartGame(true);
    ASSERT_FALSE(strWin.empty());
    REPORT r = WaitReport();
    ASSERT_TRUE(r.bValid) << m_strLastTitle;
    const XGEOM g0 = Geometry(strWin);
    const auto Same = [](const XGEOM& a, const XGEOM& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; };
    // Two moves by the window manager: its frame's corner to the place given.
    const char* apszMoves[][2] = {{"201", "120"}, {"57", "233"}};
    for (const auto& move : apszMoves) {
        int nStatus = -1;
        RunTool({"wmctrl", "-i", "-r", strWin, "-e", std::string("0,") + move[0] + "," + move[1] + ",-1,-1"}, &nStatus);
        ASSERT_EQ(nStatus, 0);
        const XGEOM gMoved = WaitGeometry(strWin, [&](const XGEOM& g) { return g.x != g0.x || g.y != g0.y; });
        r = Key("r");
        ASSERT_TRUE(r.bValid) << m_strLastTitle;
        const XGEOM gPlaced = Geometry(strWin);
        const REPORT rPlaced = r;
        std::printf("moved by the window manager to %s,%s: report %s, X client %d,%d %dx%d\n", move[0], move[1],
                    m_strLastTitle.c_str(), gPlaced.x, gPlaced.y, gPlaced.w, gPlaced.h);
        EXPECT_TRUE(Same(gMoved, gPlaced));
        for (int i = 0; i < 3; ++i) {
            r = Key("f");
            ASSERT_TRUE(r.bValid) << m_strLastTitle;
            EXPECT_EQ(r.bFull, 1) << m_strLastTitle;
            WaitGeometry(strWin, [&](const XGEOM& g) { return g.x == 0 && g.y == 0 && g.w == 1024; });
            r = Key("w");
            ASSERT_TRUE(r.bValid) << m_strLastTitle;
            EXPECT_EQ(r.bFull, 0) << m_strLastTitle;
            const XGEOM g = WaitGeometry(strWin, [&](const XGEOM& gg) { return Same(gg, gPlaced); });
            std::printf("trip %d: report %s, X client %d,%d %dx%d\n", i, m_strLastTitle.c_str(), g.x, g.y, g.w, g.h);
            EXPECT_TRUE(Same(g, gPlaced)) << "trip " << i << ": X client " << g.x << "," << g.y << " " << g.w << "x"
                                          << g.h << ", was " << gPlaced.x << "," << gPlaced.y;
            // The place stays (nothing moves it a moment later).
            r = Key("r");
            EXPECT_TRUE(Same(Geometry(strWin), gPlaced)) << "trip " << i;
            EXPECT_EQ(r.nLeft, rPlaced.nLeft) << m_strLastTitle;
            EXPECT_EQ(r.nTop, rPlaced.nTop) << m_strLastTitle;
        }
    }
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended";
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}
