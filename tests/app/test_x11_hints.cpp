// What a game asks of its windows' places and looks reaches the window manager as its hints, read
// back here as another program sees them (xprop): a borderless main window is a tool window without
// a taskbar button, a window's opacity is its _NET_WM_WINDOW_OPACITY, a window sent to the bottom
// stays below the others and one placed behind the main window stands just below it in the window
// manager's stacking order, and one brought to the top again comes in front of another program's
// window; and a tray host that starts after the game showed its tray icon embeds it.
//
// Runs only under the kolvex_x11_desktop test (KX_X11_DESKTOP=1), which starts the X server and
// openbox; with KX_X11_SHOTS naming a folder, the screenshots are written there as PNG files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
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

const char kMainTitle[] = "KX hints main";
const char kSubTitle[] = "KX hints sub";

BUILDER_ARG I(int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v)); }
BUILDER_ARG T(int nId, const std::string& s) { return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT); }

// A borderless main window at half opacity with a tray icon, and a sub window at a quarter placed
// just behind it. B sends the main window to the bottom, T brings it to the top; each step ends in
// a new main title ("KX hints main 1", "... 2", "... 3").
std::vector<GAME_FILE> HintsGame(void)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "bg"), I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "bg.bmp")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "icon"), I(LAYER_ARG_ORDER, 2), T(LAYER_ARG_IMAGE, "icon.bmp"),
                                            I(LAYER_ARG_OPACITY, 0)}),
              0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 5)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 1), T(1, kSubTitle), I(7, 200), I(8, 150)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 5)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), I(2, 128)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 1), I(2, 64), I(6, 3)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_TRAY_ICON, {T(2, "icon"), T(1, "KX hints tip"), I(0, 1)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 5)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), T(1, std::string(kMainTitle) + " 1")}), 0);
    EXPECT_GE(AddLabel(&b, "LOOP"), 0);
    const auto OnKey = [&](int nVk, int64_t nZ, const char* pszStep) {
        EXPECT_GE(BeginIf(&b, KeyPressed(nVk)), 0);
        EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), I(6, nZ)}), 0);
        EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 5)}), 0);
        EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), T(1, std::string(kMainTitle) + pszStep)}), 0);
        EXPECT_GE(EndIf(&b), 0);
    };
    OnKey('B', 2, " 2");
    OnKey('T', 0, " 3");
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    EXPECT_GE(EmitGoto(&b, "LOOP"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;

    GAME_DATA game = DesktopGame(b, kMainTitle);
    game.config.nFramed = 0;
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    BMP_WRITER_OPTIONS opt;
    const std::vector<uint32_t> bg(480 * 320, 0xFF4080D0u);
    files.push_back({"bg.bmp", WriteBmp(480, 320, opt, bg.data(), nullptr)});
    const std::vector<uint32_t> icon(16 * 16, 0xFFE02020u);
    files.push_back({"icon.bmp", WriteBmp(16, 16, opt, icon.data(), nullptr)});
    return files;
}

// The managed window whose title is exactly this, or "".
std::string WindowTitledExactly(const std::string& strTitle)
{
    for (const auto& w : ManagedWindows())
        if (w.second.size() >= strTitle.size() && w.second.compare(w.second.size() - strTitle.size(), strTitle.size(), strTitle) == 0)
            return w.first;
    return "";
}

// An X id as a number ("0x1a00005" -> 27262981).
unsigned long XidOf(const std::string& str) { return std::stoul(str, nullptr, 0); }

// The window ids of a root property of windows, bottom first (xprop -root NAME).
std::vector<unsigned long> RootWindowList(const char* pszName)
{
    std::string s = RunTool({"xprop", "-root", pszName});
    std::vector<unsigned long> v;
    const size_t nHash = s.find('#');
    if (nHash == std::string::npos) return v;
    std::stringstream ss(s.substr(nHash + 1));
    std::string item;
    while (std::getline(ss, item, ',')) {
        item.erase(std::remove_if(item.begin(), item.end(), [](char c) { return c == ' ' || c == '\n'; }), item.end());
        if (!item.empty()) v.push_back(std::stoul(item, nullptr, 0));
    }
    return v;
}

int IndexIn(const std::vector<unsigned long>& v, unsigned long x)
{
    const auto it = std::find(v.begin(), v.end(), x);
    return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

std::string Prop(const std::string& strWin, const char* pszName) { return RunTool({"xprop", "-id", strWin, pszName}); }

// Polls until the check holds (or about 10 s pass): whether it held.
template <class CHECK>
bool WaitUntil(CHECK fCheck)
{
    for (int i = 0; i < 200; ++i) {
        if (fCheck()) return true;
        Pause(50);
    }
    return false;
}

class X11Hints : public X11_DESKTOP_TEST {
protected:
    void TearDown() override
    {
        EndProcess(&m_pidTray, SIGKILL);
        EndProcess(&m_pidOther, SIGKILL);
        X11_DESKTOP_TEST::TearDown();
    }
    std::string Log() { return dir.Read("kolvex.log"); }
    pid_t m_pidTray = 0, m_pidOther = 0;
};

}  // namespace

TEST_F(X11Hints, OpacityStackingToolStyleAndALateTrayHostReachTheWindowManager)
{
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", HintsGame()), 0);
    m_pid = Spawn({KX_KOLVEX_PATH, "--game", dir.strNative + "/game"},
                  {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                   "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                  (dir.strNative + "/kolvex.log").c_str());
    ASSERT_NE(m_pid, 0);
    std::string strMain;
    ASSERT_TRUE(WaitUntil([&] { return !(strMain = WindowTitledExactly(std::string(kMainTitle) + " 1")).empty(); }))
        << Log();
    const std::string strSub = WindowTitledExactly(kSubTitle);
    ASSERT_FALSE(strSub.empty()) << Log();

    // The borderless main window is a utility window without a taskbar button; the sub window is
    // an ordinary one.
    EXPECT_NE(Prop(strMain, "_NET_WM_WINDOW_TYPE").find("_NET_WM_WINDOW_TYPE_UTILITY"), std::string::npos);
    EXPECT_NE(Prop(strMain, "_NET_WM_STATE").find("_NET_WM_STATE_SKIP_TASKBAR"), std::string::npos);
    EXPECT_EQ(Prop(strSub, "_NET_WM_WINDOW_TYPE").find("_NET_WM_WINDOW_TYPE_UTILITY"), std::string::npos);
    EXPECT_EQ(Prop(strSub, "_NET_WM_STATE").find("_NET_WM_STATE_SKIP_TASKBAR"), std::string::npos);

    // Opacity 128 and 64 of 256.
    EXPECT_NE(Prop(strMain, "_NET_WM_WINDOW_OPACITY").find("= 2147483648"), std::string::npos)
        << Prop(strMain, "_NET_WM_WINDOW_OPACITY");
    EXPECT_NE(Prop(strSub, "_NET_WM_WINDOW_OPACITY").find("= 1073741824"), std::string::npos)
        << Prop(strSub, "_NET_WM_WINDOW_OPACITY");

    // The sub window stands just below the main one (the list runs from the bottom up).
    const unsigned long xMain = XidOf(strMain), xSub = XidOf(strSub);
    std::vector<unsigned long> stack;
    EXPECT_TRUE(WaitUntil([&] {
        stack = RootWindowList("_NET_CLIENT_LIST_STACKING");
        return IndexIn(stack, xMain) >= 1 && IndexIn(stack, xSub) == IndexIn(stack, xMain) - 1;
    })) << RunTool({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"}) << " main " << strMain << " sub " << strSub;
    KeepShot(Capture(""), "x11-hints-start.png");

    // A tray host that starts after the icon was shown embeds it: the icon window's parent is no
    // longer the root, and it is shown.
    m_pidTray = Spawn({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "24",
                       "--transparent", "false", "--tint", "0x404040", "--SetDockType", "true"},
                      {}, (dir.strNative + "/trayer.log").c_str());
    ASSERT_NE(m_pidTray, 0);
    std::string strIcon, strTree;
    EXPECT_TRUE(WaitUntil([&] {
        const std::string ids = RunTool({"xdotool", "search", "--classname", "kolvex-tray"});
        strIcon = ids.substr(0, ids.find('\n'));
        if (strIcon.empty()) return false;
        strTree = RunTool({"xwininfo", "-tree", "-id", strIcon});
        const size_t nParent = strTree.find("Parent window id: 0x");
        if (nParent == std::string::npos) return false;
        const std::string strParent = strTree.substr(nParent, strTree.find('\n', nParent) - nParent);
        return strParent.find("(the root window)") == std::string::npos &&
               RunTool({"xwininfo", "-id", strIcon}).find("IsViewable") != std::string::npos;
    })) << strTree << Log();
    KeepShot(Capture(""), "x11-hints-late-tray.png");

    // Another program's window opens in front of the game.
    m_pidOther = Spawn({"xlogo", "-geometry", "200x200+20+20"}, {});
    ASSERT_NE(m_pidOther, 0);
    unsigned long xOther = 0;
    EXPECT_TRUE(WaitUntil([&] {
        const std::string ids = RunTool({"xdotool", "search", "--classname", "xlogo"});
        if (ids.empty()) return false;
        xOther = XidOf(ids.substr(0, ids.find('\n')));
        return IndexIn(RootWindowList("_NET_CLIENT_LIST_STACKING"), xOther) > IndexIn(RootWindowList("_NET_CLIENT_LIST_STACKING"), xMain);
    })) << RunTool({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"});

    // Sent to the bottom: kept below the others (its own sub window, which the window manager keeps
    // with its owner, goes with it); brought to the top: in front again.
    RunTool({"xdotool", "windowactivate", "--sync", strMain});
    RunTool({"xdotool", "key", "b"});
    EXPECT_TRUE(WaitUntil([&] { return !WindowTitledExactly(std::string(kMainTitle) + " 2").empty(); })) << Log();
    EXPECT_TRUE(WaitUntil([&] {
        const auto v = RootWindowList("_NET_CLIENT_LIST_STACKING");
        return Prop(strMain, "_NET_WM_STATE").find("_NET_WM_STATE_BELOW") != std::string::npos &&
               IndexIn(v, xMain) < IndexIn(v, xOther);
    })) << Prop(strMain, "_NET_WM_STATE") << RunTool({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
    KeepShot(Capture(""), "x11-hints-bottom.png");
    RunTool({"xdotool", "windowactivate", "--sync", strMain});
    RunTool({"xdotool", "key", "t"});
    EXPECT_TRUE(WaitUntil([&] { return !WindowTitledExactly(std::string(kMainTitle) + " 3").empty(); })) << Log();
    EXPECT_TRUE(WaitUntil([&] {
        const auto v = RootWindowList("_NET_CLIENT_LIST_STACKING");
        return Prop(strMain, "_NET_WM_STATE").find("_NET_WM_STATE_BELOW") == std::string::npos &&
               IndexIn(v, xMain) > IndexIn(v, xSub) && IndexIn(v, xMain) > IndexIn(v, xOther);
    })) << Prop(strMain, "_NET_WM_STATE") << RunTool({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"});

    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended\n" << Log();
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}
