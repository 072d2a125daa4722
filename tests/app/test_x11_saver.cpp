// The desktop's screen saver and the program, on a virtual X server with a window manager (openbox):
// a screen-saver build (kxpack --embed with a preview picture) started with "-P ID" draws its
// picture in a child of that X window until the window goes away, and an id that names no window
// ends the run with a line on standard error; a game that allows the screen saver lets it start,
// one that blocks it keeps it off; and each window shows its own cursor.
//
// Runs only under the kolvex_x11_saver test (KX_X11_DESKTOP=1), which starts the X server; with
// KX_X11_SHOTS naming a folder, the screenshots are written there as PNG files.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/x11_desktop.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {

// Python's ctypes on Xlib and the screen-saver extension: the shared opening of the X helpers.
const char kPyX[] =
    "import ctypes, sys, time\n"
    "x = ctypes.CDLL('libX11.so.6')\n"
    "x.XOpenDisplay.restype = ctypes.c_void_p\n"
    "x.XOpenDisplay.argtypes = [ctypes.c_char_p]\n"
    "x.XDefaultRootWindow.restype = ctypes.c_ulong\n"
    "x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]\n"
    "x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]\n"
    "d = x.XOpenDisplay(None)\n"
    "if not d: sys.exit(3)\n";

// Makes a 160 x 120 grey top-level window titled argv[1], prints its id and keeps it until the
// standard input ends or the process is ended.
const char kPyParent[] =
    "x.XCreateSimpleWindow.restype = ctypes.c_ulong\n"
    "x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,"
    " ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]\n"
    "x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]\n"
    "x.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]\n"
    "w = x.XCreateSimpleWindow(d, x.XDefaultRootWindow(d), 0, 0, 160, 120, 0, 0, 0x808080)\n"
    "x.XStoreName(d, w, sys.argv[1].encode())\n"
    "x.XMapWindow(d, w)\n"
    "x.XSync(d, 0)\n"
    "print(w, flush=True)\n"
    "while True: time.sleep(1)\n";

// Destroys the window argv[1] (any client may).
const char kPyDestroy[] =
    "x.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]\n"
    "x.XDestroyWindow(d, int(sys.argv[1], 0))\n"
    "x.XSync(d, 0)\n";

// The screen saver: "set T" sets its time-out and cycle to T seconds and switches it off; "query"
// prints "state idle-ms" (state 1 while the saver is on).
const char kPySaver[] =
    "s = ctypes.CDLL('libXss.so.1')\n"
    "class INFO(ctypes.Structure):\n"
    "    _fields_ = [('window', ctypes.c_ulong), ('state', ctypes.c_int), ('kind', ctypes.c_int),"
    " ('til_or_since', ctypes.c_ulong), ('idle', ctypes.c_ulong), ('mask', ctypes.c_ulong)]\n"
    "s.XScreenSaverQueryInfo.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(INFO)]\n"
    "x.XSetScreenSaver.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_int]\n"
    "x.XForceScreenSaver.argtypes = [ctypes.c_void_p, ctypes.c_int]\n"
    "if sys.argv[1] == 'set':\n"
    "    t = int(sys.argv[2])\n"
    "    x.XSetScreenSaver(d, t, t, 1, 1)\n"
    "    x.XForceScreenSaver(d, 0)\n"
    "    x.XSync(d, 0)\n"
    "else:\n"
    "    i = INFO()\n"
    "    if not s.XScreenSaverQueryInfo(d, x.XDefaultRootWindow(d), ctypes.byref(i)): sys.exit(4)\n"
    "    print(i.state, i.idle)\n";

std::string RunPy(const char* pszBody, const std::vector<std::string>& args, int* pStatus = nullptr)
{
    std::vector<std::string> argv = {"python3", "-c", std::string(kPyX) + pszBody};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunTool(argv, pStatus);
}

struct SAVER_STATE {
    int nState = -1;       // 1 on, 0 off, -1 unknown
    long nIdleMs = -1;     // the server's idle time
};

SAVER_STATE QuerySaver(void)
{
    SAVER_STATE st;
    int nStatus = -1;
    const std::string out = RunPy(kPySaver, {"query"}, &nStatus);
    if (nStatus != 0 || std::sscanf(out.c_str(), "%d %ld", &st.nState, &st.nIdleMs) != 2) st = SAVER_STATE{};
    return st;
}

// The environment of every run: the C locale, SDL on X11, no sound card.
std::vector<std::string> RunEnv(const std::string& strRuntime)
{
    return {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + strRuntime,
            "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};
}

BUILDER_ARG I(int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v)); }

// A game that sets the screen-saver switch of the engine settings (1 blocks, 0 allows; -1 leaves
// it as it starts) and then waits one frame at a time for ever.
std::vector<GAME_FILE> SaverGame(int nBlock, const char* pszTitle)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    if (nBlock >= 0) {
        EXPECT_GE(EmitCommand(&b, KXCMD_ENGINE_SETTINGS, {I(0, nBlock)}), 0);
    }
    EXPECT_GE(AddLabel(&b, "LOOP"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    EXPECT_GE(EmitGoto(&b, "LOOP"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;
    return BuildGameFiles(DesktopGame(b, pszTitle));
}

class X11Saver : public X11_DESKTOP_TEST {
protected:
    void TearDown() override
    {
        EndProcess(&m_pidParent, SIGKILL);
        X11_DESKTOP_TEST::TearDown();
    }
    std::string Log() { return dir.Read("kolvex.log"); }
    int WaitForExit(int nMs)
    {
        const int r = WaitExit(m_pid, nMs);
        if (r != -1) m_pid = 0;
        return r;
    }
    // Starts a game folder under the C locale; its main window's id once the window manager lists it.
    std::string StartGame(const std::string& strFolder, const char* pszTitle)
    {
        m_pid = Spawn({KX_KOLVEX_PATH, "--game", strFolder}, RunEnv(dir.strNative), (dir.strNative + "/kolvex.log").c_str());
        EXPECT_NE(m_pid, 0);
        return WaitForTitle(pszTitle);
    }
    // Starts the window holder: its window's id (decimal), or "".
    std::string StartParent(const char* pszTitle)
    {
        const std::string strOut = dir.strNative + "/parent.txt";
        m_pidParent = Spawn({"python3", "-c", std::string(kPyX) + kPyParent, pszTitle}, {}, strOut.c_str());
        for (int i = 0; m_pidParent && i < 600; ++i) {
            const std::string s = dir.Read("parent.txt");
            if (!s.empty() && s.back() == '\n') return s.substr(0, s.size() - 1);
            Pause(50);
        }
        return "";
    }
    pid_t m_pidParent = 0;
};

// The preview picture: 37 x 29 (rows padded to four bytes), four quarters of distinct colours with
// a gradient, so that a picture drawn upside down, mirrored, shifted or in swapped channels differs.
std::vector<uint32_t> PreviewPixels(int w, int h)
{
    std::vector<uint32_t> px(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t r = x < w / 2 ? 0xE0 : 0x20, g = static_cast<uint32_t>(y * 8), b = static_cast<uint32_t>(x * 6);
            px[size_t(y) * w + x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    return px;
}

}  // namespace

TEST_F(X11Saver, ThePreviewIsDrawnInTheGivenWindowUntilItGoesAway)
{
    // The screen-saver build, made by the packaging tool from kolvex, a game's pack and the picture.
    constexpr int kW = 37, kH = 29;
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", SaverGame(-1, "KX saver game")), 0);
    const std::string strPack = dir.strNative + "/game.kpf";
    ASSERT_EQ(RunProgramForTest(KX_KXPACK_PATH, {strPack, dir.strNative + "/game"}, {}), 0);
    const std::vector<uint32_t> px = PreviewPixels(kW, kH);
    const std::string strBmp = dir.Write("preview.bmp", WriteBmp(kW, kH, BMP_WRITER_OPTIONS{}, px.data(), nullptr));
    const std::string strExe = dir.strNative + "/saver";
    ASSERT_EQ(RunProgramForTest(KX_KXPACK_PATH, {"--embed", strExe, KX_KOLVEX_PATH, strPack, strBmp}, {}), 0);

    // The settings dialog's preview area: another program's window.
    const std::string strParent = StartParent("KX preview parent");
    ASSERT_FALSE(strParent.empty()) << dir.Read("parent.txt");
    m_pid = Spawn({strExe, "-P", strParent}, RunEnv(dir.strNative), (dir.strNative + "/kolvex.log").c_str());
    ASSERT_NE(m_pid, 0);

    // A child window of the preview's class inside it, with the parent's size.
    std::string strTree;
    for (int i = 0; i < 1200 && strTree.find("\"KOLVEXScreenSaver\"") == std::string::npos; ++i) {
        if (i) Pause(50);
        strTree = RunTool({"xwininfo", "-children", "-id", strParent});
    }
    ASSERT_NE(strTree.find("\"KOLVEXScreenSaver\": (\"KOLVEXScreenSaver\" \"KOLVEXScreenSaver\")  160x120+0+0"),
              std::string::npos)
        << strTree << Log();

    // The picture at its own size in the top-left corner, black around it.
    int nWrong = 0;
    bool bDrawn = false;
    const X11_SHOT shot = CaptureWhen(strParent, [&](const X11_SHOT& s) {
        if (s.w != 160 || s.h != 120) return false;
        nWrong = 0;
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x) {
                const uint32_t want = x < kW && y < kH ? px[size_t(y) * kW + x] & 0xFFFFFFu : 0u;
                nWrong += s.At(x, y) != want;
            }
        return nWrong == 0;
    }, &bDrawn);
    KeepShot(shot, "x11-preview.png");
    EXPECT_TRUE(bDrawn) << nWrong << " pixels differ; " << Log();

    // Drawn again when the window shows again (unmapped and mapped: Xvfb keeps no hidden pixels).
    RunTool({"xdotool", "windowunmap", "--sync", strParent});
    RunTool({"xdotool", "windowmap", "--sync", strParent});
    CaptureWhen(strParent, [&](const X11_SHOT& s) {
        return s.w == 160 && s.h == 120 && s.At(0, 0) == (px[0] & 0xFFFFFFu) && s.At(kW - 1, kH - 1) == (px.back() & 0xFFFFFFu) &&
               s.At(100, 100) == 0u;
    }, &bDrawn);
    EXPECT_TRUE(bDrawn) << "not drawn again after being covered";

    // The dialog closes its window: the preview ends, with status 0 and no X error.
    int nStatus = -1;
    RunPy(kPyDestroy, {strParent}, &nStatus);
    ASSERT_EQ(nStatus, 0);
    EXPECT_EQ(WaitForExit(60000), 0) << Log();
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}

TEST_F(X11Saver, APreviewForNoWindowEndsWithALineAndAQuitSignalEndsAPreview)
{
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", SaverGame(-1, "KX saver game")), 0);
    const std::string strPack = dir.strNative + "/game.kpf";
    ASSERT_EQ(RunProgramForTest(KX_KXPACK_PATH, {strPack, dir.strNative + "/game"}, {}), 0);
    const std::vector<uint32_t> px = PreviewPixels(8, 8);
    const std::string strBmp = dir.Write("preview.bmp", WriteBmp(8, 8, BMP_WRITER_OPTIONS{}, px.data(), nullptr));
    const std::string strExe = dir.strNative + "/saver";
    ASSERT_EQ(RunProgramForTest(KX_KXPACK_PATH, {"--embed", strExe, KX_KOLVEX_PATH, strPack, strBmp}, {}), 0);

    // No window of that id: the run ends at once, saying so; no game window was made.
    const PROGRAM_RESULT r = RunProgramCaptured(strExe, {"/p", "12345"}, RunEnv(dir.strNative), dir.strNative);
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_NE(r.strErr.find("no window 12345"), std::string::npos) << r.strErr;
    EXPECT_EQ(r.strErr.find("X Error"), std::string::npos) << r.strErr;
    EXPECT_TRUE(WindowsTitled("KX saver game").empty());

    // Without X11 the preview is not drawn: the run ends, saying so.
    std::vector<std::string> env = RunEnv(dir.strNative);
    for (std::string& s : env)
        if (s.rfind("SDL_VIDEODRIVER=", 0) == 0) s = "SDL_VIDEODRIVER=dummy";
    const PROGRAM_RESULT rDummy = RunProgramCaptured(strExe, {"/p", "12345"}, env, dir.strNative);
    EXPECT_EQ(rDummy.nStatus, 0) << rDummy.strErr;
    EXPECT_NE(rDummy.strErr.find("X11 display only"), std::string::npos) << rDummy.strErr;

    // A preview that runs ends on SIGTERM, with status 0, its window gone from the parent.
    const std::string strParent = StartParent("KX preview parent");
    ASSERT_FALSE(strParent.empty());
    m_pid = Spawn({strExe, "/p", strParent}, RunEnv(dir.strNative), (dir.strNative + "/kolvex.log").c_str());
    std::string strTree;
    for (int i = 0; i < 1200 && strTree.find("KOLVEXScreenSaver") == std::string::npos; ++i) {
        if (i) Pause(50);
        strTree = RunTool({"xwininfo", "-children", "-id", strParent});
    }
    ASSERT_NE(strTree.find("KOLVEXScreenSaver"), std::string::npos) << Log();
    kill(m_pid, SIGTERM);
    EXPECT_EQ(WaitForExit(60000), 0) << Log();
    EXPECT_EQ(RunTool({"xwininfo", "-children", "-id", strParent}).find("KOLVEXScreenSaver"), std::string::npos);
}

TEST_F(X11Saver, TheScreenSaverStartsWhenTheGameAllowsItAndNotWhenItBlocksIt)
{
    // The saver after two idle seconds; with only the window manager running it starts.
    int nStatus = -1;
    RunPy(kPySaver, {"set", "2"}, &nStatus);
    ASSERT_EQ(nStatus, 0);
    SAVER_STATE st;
    for (int i = 0; i < 600 && st.nState != 1; ++i) {
        if (i) Pause(50);
        st = QuerySaver();
    }
    ASSERT_EQ(st.nState, 1) << "the screen saver does not start on this X server";

    struct CASE {
        int nBlock;
        const char* pszTitle;
        bool bSaverStarts;
    };
    const CASE cases[] = {{-1, "KX saver as it starts", false}, {1, "KX saver blocked", false}, {0, "KX saver allowed", true}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszTitle);
        const std::string strFolder = dir.strNative + "/game" + std::to_string(c.nBlock + 1);
        ASSERT_EQ(WriteGameFolder(strFolder, SaverGame(c.nBlock, c.pszTitle)), 0);
        ASSERT_FALSE(StartGame(strFolder, c.pszTitle).empty()) << Log();
        // The game's frames run (its window is listed); the saver is switched off and the idle
        // time starts again from here.
        RunPy(kPySaver, {"set", "2"}, &nStatus);
        ASSERT_EQ(nStatus, 0);
        // Watched until it starts, or until the server has been idle for three times its time-out.
        st = SAVER_STATE{};
        for (int i = 0; i < 1200; ++i) {
            if (i) Pause(50);
            st = QuerySaver();
            if (st.nState == 1 || st.nIdleMs >= 6000) break;
        }
        EXPECT_EQ(st.nState == 1, c.bSaverStarts) << "state " << st.nState << " after " << st.nIdleMs << " ms idle";
        EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended: " << Log();
        EndProcess(&m_pid);
    }
    RunPy(kPySaver, {"set", "0"}, &nStatus);
}

namespace {

// The cursor the X server shows now (XFixes): "width height xhot yhot" and a checksum of its pixels.
const char kPyCursor[] =
    "f = ctypes.CDLL('libXfixes.so.3')\n"
    "class IMAGE(ctypes.Structure):\n"
    "    _fields_ = [('x', ctypes.c_short), ('y', ctypes.c_short), ('width', ctypes.c_ushort),"
    " ('height', ctypes.c_ushort), ('xhot', ctypes.c_ushort), ('yhot', ctypes.c_ushort),"
    " ('serial', ctypes.c_ulong), ('pixels', ctypes.POINTER(ctypes.c_ulong)), ('atom', ctypes.c_ulong),"
    " ('name', ctypes.c_char_p)]\n"
    "f.XFixesGetCursorImage.restype = ctypes.POINTER(IMAGE)\n"
    "f.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]\n"
    "p = f.XFixesGetCursorImage(d)\n"
    "if not p: sys.exit(4)\n"
    "i = p.contents\n"
    "h = 0\n"
    "for k in range(i.width * i.height): h = (h * 31 + (i.pixels[k] & 0xFFFFFFFF)) % 1000000007\n"
    "print(i.width, i.height, i.xhot, i.yhot, h)\n";

// A game whose main window gets the cross cursor (mouse command, standard cursor 3; auto-hide off)
// and which makes sub window 1 ("KX cursor sub", 200 x 150), then waits for ever.
std::vector<GAME_FILE> CursorGame(void)
{
    const auto T = [](int nId, const std::string& s) {
        return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT);
    };
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_MOUSE, {I(0, 2), I(7, 3)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 1), T(1, "KX cursor sub"), I(7, 200), I(8, 150)}), 0);
    EXPECT_GE(AddLabel(&b, "LOOP"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    EXPECT_GE(EmitGoto(&b, "LOOP"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;
    return BuildGameFiles(DesktopGame(b, "KX cursor main"));
}

std::string ShownCursor(void)
{
    int nStatus = -1;
    const std::string s = RunPy(kPyCursor, {}, &nStatus);
    return nStatus == 0 ? s : std::string();
}

// Moves the pointer to the middle of the window (its client area) and waits until the cursor shown
// is the one wanted (or, with an empty strWanted, until it stays the same over two looks): the last
// cursor seen.
std::string CursorOver(const std::string& strWindow, const std::string& strWanted)
{
    const std::string info = RunTool({"xwininfo", "-id", strWindow});
    const int x = WinInfoInt(info, "Absolute upper-left X") + WinInfoInt(info, "Width") / 2;
    const int y = WinInfoInt(info, "Absolute upper-left Y") + WinInfoInt(info, "Height") / 2;
    std::string strSeen;
    for (int i = 0; i < 200; ++i) {
        // A small move each turn: the program sees motion over the window.
        RunTool({"xdotool", "mousemove", "--sync", std::to_string(x + i % 2), std::to_string(y)});
        if (i) Pause(50);
        const std::string s = ShownCursor();
        if (!strWanted.empty() && s == strWanted) return s;
        if (strWanted.empty() && !s.empty() && s == strSeen && i >= 10) return s;
        strSeen = s;
    }
    return strSeen;
}

}  // namespace

TEST_F(X11Saver, EachWindowShowsItsOwnCursor)
{
    // The desktop's own cursor, over the root window away from every window.
    RunTool({"xdotool", "mousemove", "--sync", "1000", "740"});
    const std::string strDesktop = ShownCursor();
    ASSERT_FALSE(strDesktop.empty()) << "XFixes gives no cursor";

    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", CursorGame()), 0);
    const std::string strMain = StartGame(dir.strNative + "/game", "KX cursor main");
    ASSERT_FALSE(strMain.empty()) << Log();
    const std::string strSub = WaitForTitle("KX cursor sub");
    ASSERT_FALSE(strSub.empty()) << Log();
    // Side by side, so that the pointer can be over either.
    RunTool({"xdotool", "windowmove", "--sync", strMain, "20", "40"});
    RunTool({"xdotool", "windowmove", "--sync", strSub, "600", "40"});

    // The main window's cross: another cursor than the desktop's.
    const std::string strCross = CursorOver(strMain, "");
    EXPECT_NE(strCross, strDesktop);
    // The sub window keeps the arrow it was made with: the desktop's; back over the main window, the cross.
    for (int nTurn = 0; nTurn < 2; ++nTurn) {
        SCOPED_TRACE(nTurn);
        EXPECT_EQ(CursorOver(strSub, strDesktop), strDesktop) << "the main window's cursor shows over the sub window";
        EXPECT_EQ(CursorOver(strMain, strCross), strCross);
    }
    // Each window holds its own cursor in the window system, not only once the program has seen the
    // mouse arrive: with the program stopped, the pointer over each still shows that window's cursor.
    ASSERT_EQ(kill(m_pid, SIGSTOP), 0);
    const std::string strStoppedSub = CursorOver(strSub, strDesktop);
    const std::string strStoppedMain = CursorOver(strMain, strCross);
    kill(m_pid, SIGCONT);
    EXPECT_EQ(strStoppedSub, strDesktop) << "the sub window holds the main window's cursor";
    EXPECT_EQ(strStoppedMain, strCross);
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended: " << Log();
}
