// The real kolvex on a game made by the builders, on a virtual X server with a window manager
// (openbox), driven as a player would with wmctrl and xdotool: closing the window through the window
// manager asks the quit question once and the answer holds; the question reads right under the C
// locale (its pixels are the IPA Gothic rendering of the text); a window destroyed by another
// program, or a connection killed by one, ends the run through the normal shut-down.
//
// Runs only under the kolvex_x11_desktop test (KX_X11_DESKTOP=1), which starts the X server; with
// KX_X11_SHOTS naming a folder, the screenshots are written there as PNG files.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "demo/demo.h"
#include "platform/plat_font.h"
#include "platform/plat_text.h"
#include "tests/support/failing_files.h"
#include "tests/support/test_support.h"
#include "tests/support/x11_desktop.h"
#include "image/cmd_layer.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {


const char kTitle[] = "KX close test";

// Waits until the window manager lists exactly n windows of the title; the last list seen.
std::vector<std::string> WaitForWindows(size_t n, int nMs = 60000)
{
    std::vector<std::string> ids;
    for (int i = 0; i < nMs / 50; ++i) {
        ids = WindowsTitled(kTitle);
        if (ids.size() == n) return ids;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ids;
}

// The text as the font service draws it for the boxes: the Japanese P Gothic family at the boxes'
// height, each pixel inked when more than half of its 4 x 4 block is ink at four times the size.
struct INK {
    int w = 0, h = 0;
    std::vector<uint8_t> on;
};

INK RenderReference(const char* pszUtf8, int nHeight)
{
    INK ink;
    const std::string strFace = PlatUtf8ToCp932String("ＭＳ Ｐゴシック");
    PLAT_GLYPH_FONT* pFont = PlatGlyphFontCreate(strFace.c_str(), nHeight * 4, 0);
    if (!pFont) return ink;
    std::vector<uint32_t> cps;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pszUtf8); *p;) {
        uint32_t cp = *p;
        int n = 1;
        if (cp >= 0xF0) cp &= 0x07, n = 4;
        else if (cp >= 0xE0) cp &= 0x0F, n = 3;
        else if (cp >= 0xC0) cp &= 0x1F, n = 2;
        for (int k = 1; k < n; ++k) cp = (cp << 6) | (p[k] & 0x3F);
        cps.push_back(cp);
        p += n;
    }
    int nPen = 0;
    PLAT_GLYPH g{};
    for (uint32_t cp : cps)
        if (PlatGlyphRenderCodePoint(pFont, cp, &g) == 0) nPen += g.nAdvance;
    ink.w = nPen / 4 + 2;
    ink.h = nHeight + 2;
    std::vector<uint8_t> count(size_t(ink.w) * ink.h, 0);
    nPen = 0;
    for (uint32_t cp : cps) {
        if (PlatGlyphRenderCodePoint(pFont, cp, &g) != 0) continue;
        for (int r = 0; r < g.nRows; ++r)
            for (int c = 0; c < g.nWidth; ++c) {
                if (!(g.pBits[r * g.nPitch + c / 8] & (0x80 >> (c % 8)))) continue;
                const int x = (nPen + g.nLeft + c) / 4, y = (g.nTop + r) / 4;
                if (x >= 0 && y >= 0 && x < ink.w && y < ink.h) ++count[size_t(y) * ink.w + x];
            }
        nPen += g.nAdvance;
    }
    PlatGlyphFontDestroy(pFont);
    ink.on.resize(count.size());
    for (size_t i = 0; i < count.size(); ++i) ink.on[i] = count[i] > 8;
    return ink;
}

// The share of the reference's ink found dark in the shot, and of the shot's dark pixels in the
// reference's box that the reference inks, at the best place within the shot's top-left part.
void MatchInk(const X11_SHOT& shot, const INK& ink, double* pRecall, double* pPrecision)
{
    *pRecall = *pPrecision = 0;
    const auto Dark = [&](int x, int y) {
        const uint32_t v = shot.At(x, y);
        return ((v >> 16 & 0xFF) * 299 + (v >> 8 & 0xFF) * 587 + (v & 0xFF) * 114) / 1000 < 128;
    };
    for (int oy = 0; oy + ink.h <= shot.h && oy < 80; ++oy)
        for (int ox = 0; ox + ink.w <= shot.w && ox < 140; ++ox) {
            int nInk = 0, nFound = 0, nDark = 0;
            for (int y = 0; y < ink.h; ++y)
                for (int x = 0; x < ink.w; ++x) {
                    const bool bInk = ink.on[size_t(y) * ink.w + x], bDark = Dark(ox + x, oy + y);
                    nInk += bInk;
                    nFound += bInk && bDark;
                    nDark += bDark;
                }
            const double dRecall = nInk ? double(nFound) / nInk : 0, dPrecision = nDark ? double(nFound) / nDark : 0;
            if (dRecall + dPrecision > *pRecall + *pPrecision) *pRecall = dRecall, *pPrecision = dPrecision;
        }
}

// A game whose root thread waits one frame at a time for ever.
std::vector<GAME_FILE> WaitingGame(void)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
    EXPECT_GE(EmitGoto(&b, "SYSTEM_START"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = DesktopGame(b, kTitle);
    return BuildGameFiles(game);
}

// A game with a popup menu: a right click opens "pop" at the mouse; its first item turns the screen
// red (command 11), its last one quits (command 14).
std::vector<GAME_FILE> MenuGame(void)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    const auto I = [](int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v)); };
    const auto T = [](int nId, const std::string& str) {
        return ExprArg(static_cast<uint8_t>(nId), MakeExprText(str), EVALTYPE_TEXT);
    };
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_MENU_ITEM, {T(0, "pop/"), T(1, "pop"), I(2, 1)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_MENU_ITEM, {T(0, "pop/red"), T(1, PlatUtf8ToCp932String("赤くする")), I(2, 1), I(6, 11)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_MENU_ITEM, {T(0, "pop/sep"), T(1, ""), I(2, 2)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_MENU_ITEM, {T(0, "pop/quit"), T(1, PlatUtf8ToCp932String("終了")), I(2, 3), I(6, 14)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "red"), I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "red.bmp"),
                                            I(LAYER_ARG_OPACITY, 0)}),
              0);
    EXPECT_GE(AddLabel(&b, "LOOP"), 0);
    // The right button went down in this frame (its hold counter is 1): the popup at the mouse.
    std::vector<uint8_t> pressed;
    ExprAsmElement(pressed, 144, {2});
    ExprAsmInt(pressed, 1);
    ExprAsmOp(pressed, '=');
    EXPECT_GE(BeginIf(&b, pressed), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_MENU_POPUP, {T(0, "pop/"), I(1, 1)}), 0);
    EXPECT_GE(EndIf(&b), 0);
    // The menu command (system variable 132) as the window procedure stored it.
    const auto Chosen = [](int64_t n) {
        std::vector<uint8_t> e;
        ExprAsmVar(e, 132);
        ExprAsmInt(e, n);
        ExprAsmOp(e, '=');
        return e;
    };
    EXPECT_GE(BeginIf(&b, Chosen(11)), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "red"), I(LAYER_ARG_OPACITY, 256)}), 0);
    EXPECT_GE(EndIf(&b), 0);
    EXPECT_GE(BeginIf(&b, Chosen(14)), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_QUIT, {}), 0);
    EXPECT_GE(EndIf(&b), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
    EXPECT_GE(EmitGoto(&b, "LOOP"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;
    GAME_DATA game = DesktopGame(b, kTitle);
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    BMP_WRITER_OPTIONS opt;
    const std::vector<uint32_t> red(480 * 320, 0xFFE02020u);
    files.push_back({"red.bmp", WriteBmp(480, 320, opt, red.data(), nullptr)});
    return files;
}

class X11Desktop : public X11_DESKTOP_TEST {
protected:
    void SetUp() override
    {
        X11_DESKTOP_TEST::SetUp();
        if (!Ready()) return;
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", WaitingGame()), 0);
        m_strLog = dir.strNative + "/kolvex.log";
    }
    // Starts the game under the C locale (with the extra environment entries); its main window's id
    // once the window manager lists it.
    std::string StartGame(const std::vector<std::string>& extraEnv = {})
    {
        std::vector<std::string> env = {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                                        "XDG_RUNTIME_DIR=" + dir.strNative, "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        m_pid = Spawn({KX_KOLVEX_PATH, "--game", dir.strNative + "/game"}, env, m_strLog.c_str());
        EXPECT_NE(m_pid, 0);
        const std::vector<std::string> ids = WaitForWindows(1);
        EXPECT_EQ(ids.size(), 1u) << "the game's window did not appear";
        Pause(300);   // its first frames
        return ids.empty() ? std::string() : ids[0];
    }
    int WaitForExit(int nMs)
    {
        const int r = WaitExit(m_pid, nMs);
        if (r != -1) m_pid = 0;
        return r;
    }
    std::string Log() { return dir.Read("kolvex.log"); }
    // Gives the window the focus and types keys into it, as a person would.
    static void KeysTo(const std::string& strWindow, const char* pszKeys)
    {
        RunTool({"xdotool", "windowactivate", "--sync", strWindow});
        Pause(100);
        RunTool({"xdotool", "key", pszKeys});
    }

    std::string m_strLog;
};

}  // namespace

TEST_F(X11Desktop, CloseThroughTheWindowManagerAsksOnceAndTheAnswerHolds)
{
    const std::string strMain = StartGame();
    ASSERT_FALSE(strMain.empty());
    KeepShot(Capture(""), "x11-game.png");

    // The title bar's close, as wmctrl asks the window manager for it: one question, however long
    // one waits.
    RunTool({"wmctrl", "-c", kTitle});
    std::vector<std::string> ids = WaitForWindows(2);
    ASSERT_EQ(ids.size(), 2u);
    Pause(1000);
    ids = WindowsTitled(kTitle);
    ASSERT_EQ(ids.size(), 2u) << "a second question appeared";
    const std::string strBox = ids[0] == strMain ? ids[1] : ids[0];
    KeepShot(Capture(""), "x11-question.png");

    // Its text is the IPA Gothic rendering of the question, under the C locale (once the box is drawn).
    ASSERT_EQ(PlatFontsInit(nullptr), 0);
    const INK ink = RenderReference("終了します。よろしいですか？", 16);
    PlatFontsShutdown();
    ASSERT_GT(ink.w, 100) << "no Japanese font for the reference";
    double dRecall = 0, dPrecision = 0;
    bool bDrawn = false;
    const X11_SHOT box = CaptureWhen(strBox, [&](const X11_SHOT& shot) {
        MatchInk(shot, ink, &dRecall, &dPrecision);
        return dRecall >= 0.95 && dPrecision >= 0.90;
    }, &bDrawn);
    KeepShot(box, "x11-question-box.png");
    ASSERT_GT(box.w, 0);
    std::printf("ink found %.3f, dark pixels inked %.3f\n", dRecall, dPrecision);
    EXPECT_GE(dRecall, 0.95);
    EXPECT_GE(dPrecision, 0.90);

    // Escape answers No: the box goes, the game runs on, and no other question follows.
    KeysTo(strBox, "Escape");
    ids = WaitForWindows(1);
    EXPECT_EQ(ids.size(), 1u);
    Pause(700);
    EXPECT_EQ(WindowsTitled(kTitle).size(), 1u);
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended after No";

    // Alt+F4 through the window manager: again one question; Return answers Yes and the run ends.
    KeysTo(strMain, "alt+F4");
    ids = WaitForWindows(2);
    ASSERT_EQ(ids.size(), 2u);
    Pause(700);
    ASSERT_EQ(WindowsTitled(kTitle).size(), 2u) << "a second question appeared";
    KeysTo(ids[0] == strMain ? ids[1] : ids[0], "Return");
    EXPECT_EQ(WaitForExit(60000), 0);
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}

namespace {

// The lock files of the single-instance protocol in the folder ("kolvex-<hash>.lock"): a run that
// ended in order removed its own.
std::vector<std::string> LockFilesIn(const std::string& strDir)
{
    std::vector<std::string> names;
    if (DIR* pDir = opendir(strDir.c_str())) {
        while (const dirent* pEnt = readdir(pDir)) {
            const std::string strName = pEnt->d_name;
            if (strName.rfind("kolvex-", 0) == 0 && strName.size() > 5 && strName.compare(strName.size() - 5, 5, ".lock") == 0)
                names.push_back(strName);
        }
        closedir(pDir);
    }
    return names;
}

const char kDisplayLost[] = "the connection to the X server was lost";

}  // namespace

TEST_F(X11Desktop, AWindowDestroyedFromOutsideEndsTheRunCleanly)
{
    // Another program destroys the game's X window (through Xlib, as any client may).
    std::string strMain = StartGame();
    ASSERT_FALSE(strMain.empty());
    const std::string strScript = "import ctypes, sys\n"
                                  "x = ctypes.CDLL('libX11.so.6')\n"
                                  "x.XOpenDisplay.restype = ctypes.c_void_p\n"
                                  "x.XOpenDisplay.argtypes = [ctypes.c_char_p]\n"
                                  "x.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]\n"
                                  "x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]\n"
                                  "d = x.XOpenDisplay(None)\n"
                                  "x.XDestroyWindow(d, int(sys.argv[1], 0))\n"
                                  "x.XSync(d, 0)\n";
    int nStatus = -1;
    RunTool({"python3", "-c", strScript, strMain}, &nStatus);
    ASSERT_EQ(nStatus, 0);
    EXPECT_EQ(WaitForExit(60000), 0);
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("BadWindow"), std::string::npos) << Log();
    EXPECT_EQ(Log().find(kDisplayLost), std::string::npos) << Log();
    EXPECT_TRUE(LockFilesIn(dir.strNative).empty()) << "the single-instance lock was left behind";

    // xdotool windowkill ends the game's connection to the X server (as a window manager kills a
    // client): the run ends at once, says why, and gives up its lock.
    strMain = StartGame();
    ASSERT_FALSE(strMain.empty());
    ASSERT_FALSE(LockFilesIn(dir.strNative).empty()) << "no lock file where the test looks for it";
    RunTool({"xdotool", "windowkill", strMain});
    EXPECT_EQ(WaitForExit(60000), 0);
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
    EXPECT_NE(Log().find(kDisplayLost), std::string::npos) << Log();
    EXPECT_TRUE(LockFilesIn(dir.strNative).empty()) << "the single-instance lock was left behind";

    // The game starts again at once: nothing of the killed run holds it back.
    strMain = StartGame();
    ASSERT_FALSE(strMain.empty());
    RunTool({"wmctrl", "-c", kTitle});
    const std::vector<std::string> ids = WaitForWindows(2);
    ASSERT_EQ(ids.size(), 2u) << "the game did not ask its quit question";
    KeysTo(ids[0] == strMain ? ids[1] : ids[0], "Return");
    EXPECT_EQ(WaitForExit(60000), 0);
}

// The X server itself ends under the game (a server of the test's own, killed): the run ends at
// once with its line on standard error, and leaves no lock behind.
TEST_F(X11Desktop, TheXServerEndingEndsTheRunCleanly)
{
    const std::string strNumber = dir.strNative + "/xvfb.out";
    // -displayfd: the server picks a free display and writes its number on standard output.
    struct SERVER {
        pid_t pid = 0;
        ~SERVER() { EndProcess(&pid, SIGKILL); }
    } server;
    server.pid = Spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"}, {},
                       strNumber.c_str());
    ASSERT_NE(server.pid, 0);
    std::string strDisplay;
    for (int i = 0; i < 1200 && strDisplay.empty(); ++i) {
        Pause(50);
        const std::string strOut = dir.Read("xvfb.out");
        for (size_t nStart = 0; nStart < strOut.size() && strDisplay.empty();) {
            size_t nEnd = strOut.find('\n', nStart);
            if (nEnd == std::string::npos) break;   // a line not yet whole
            const std::string strLine = strOut.substr(nStart, nEnd - nStart);
            if (!strLine.empty() && strLine.find_first_not_of("0123456789") == std::string::npos) strDisplay = ":" + strLine;
            nStart = nEnd + 1;
        }
    }
    ASSERT_FALSE(strDisplay.empty()) << dir.Read("xvfb.out");

    m_pid = Spawn({KX_KOLVEX_PATH, "--game", dir.strNative + "/game"},
                  {"LANG=C", "LC_ALL=C", "DISPLAY=" + strDisplay, "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                   "XDG_RUNTIME_DIR=" + dir.strNative, "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                  m_strLog.c_str());
    ASSERT_NE(m_pid, 0);
    int nStatus = -1;
    RunTool({"env", "DISPLAY=" + strDisplay, "timeout", "60", "xdotool", "search", "--sync", "--name", kTitle}, &nStatus);
    EXPECT_EQ(nStatus, 0) << "the game's window did not appear";
    Pause(300);   // its first frames
    EXPECT_FALSE(LockFilesIn(dir.strNative).empty()) << "no lock file where the test looks for it";

    EndProcess(&server.pid, SIGKILL);
    EXPECT_EQ(WaitForExit(60000), 0);
    EXPECT_NE(Log().find(kDisplayLost), std::string::npos) << Log();
    EXPECT_TRUE(LockFilesIn(dir.strNative).empty()) << "the single-instance lock was left behind";
}

namespace {

// A game whose script makes sub window 1 (200 x 150, "KX sub one"), then gives it a new logical
// size, title and place (320 x 240, "KX sub two", at 100, 80), then hides it, two seconds apart.
std::vector<GAME_FILE> SubWindowGame(void)
{
    const auto I = [](int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v), EVALTYPE_INT); };
    const auto T = [](int nId, const std::string& s) {
        return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT);
    };
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 30)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 1), T(1, "KX sub one"), I(7, 200), I(8, 150)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 120)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 1), T(1, "KX sub two"), I(7, 320), I(8, 240), I(4, 100), I(5, 80)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 120)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW_HIDE, {I(0, 1)}), 0);
    EXPECT_GE(AddLabel(&b, "PARK"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    EXPECT_GE(EmitGoto(&b, "PARK"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = DesktopGame(b, kTitle);
    return BuildGameFiles(game);
}

}  // namespace

namespace {

// A game whose start script runs the steps after a few frames and then waits one frame at a time
// for ever; sound on, with the extra files (and the frames on a thread of their own when asked).
std::vector<GAME_FILE> StepsGame(const std::function<void(SCRIPT_BUILDER*)>& steps, std::vector<GAME_FILE> extra = {},
                                 const std::vector<KXV_DEF>& defs = {}, int nThreaded = 0)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(20))}), 0);
    steps(&b);
    EXPECT_GE(AddLabel(&b, "IDLE"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
    EXPECT_GE(EmitGoto(&b, "IDLE"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;
    GAME_DATA game = DesktopGame(b, kTitle);
    game.config.nSoundMode = 1;
    game.config.nThreaded = nThreaded;
    game.defs.insert(game.defs.end(), defs.begin(), defs.end());
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    files.insert(files.end(), extra.begin(), extra.end());
    return files;
}

// The pixels of the shot darker than mid grey: the ink of a box's text.
int DarkPixels(const X11_SHOT& shot)
{
    int n = 0;
    for (uint32_t v : shot.px) n += ((v >> 16 & 0xFF) * 299 + (v >> 8 & 0xFF) * 587 + (v & 0xFF) * 114) / 1000 < 100;
    return n;
}

}  // namespace

// A damaged sound file loaded by a sound command, which waits for the load, in a window: the sound
// thread hands its error box to the window thread, which is the one waiting. The wait serves the
// box: it is drawn, Return answers it, and the run ends with status 1.
TEST_F(X11Desktop, ADamagedSoundLoadedByAWaitingCommandShowsItsBoxAndTheRunEndsWithOne)
{
    const struct {
        const char* pszName;
        std::vector<uint8_t> file;
    } kCases[] = {{"bad.wav", DamagedWavFile()}, {"bad.ogg", DamagedOggFile()}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        const std::string strName = c.pszName;
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game",
                                  StepsGame([&](SCRIPT_BUILDER* b) {
                                      EXPECT_GE(EmitCommand(b, KXCMD_SOUND,
                                                            {ExprArg(0, MakeExprText("se"), EVALTYPE_TEXT),
                                                             ExprArg(2, MakeExprText(strName), EVALTYPE_TEXT)}),
                                                0);
                                  }, {{strName, c.file}})),
                  0);
        const std::string strMain = StartGame();
        ASSERT_FALSE(strMain.empty());
        const std::string strBox = WaitForTitle("DEBUG Message");
        ASSERT_FALSE(strBox.empty()) << "the sound's error box did not appear\n" << Log();
        Pause(300);
        const X11_SHOT box = Capture(strBox);
        KeepShot(box, (std::string("x11-sound-error-") + c.pszName + ".png").c_str());
        KeepShot(Capture(""), (std::string("x11-sound-error-screen-") + c.pszName + ".png").c_str());
        ASSERT_GT(box.w, 0);
        EXPECT_GT(DarkPixels(box), 100) << "the box shows no text";
        KeysTo(strBox, "Return");
        EXPECT_EQ(WaitForExit(15000), 1) << Log();
        EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
    }
}

// A fatal error while the start script's body loads, in a window: the error's box is drawn, and
// once it is answered the start fails with status 1 (it used to wait for ever for a quit).
TEST_F(X11Desktop, AFatalErrorWhileTheStartScriptLoadsShowsItsBoxAndEndsWithOne)
{
    KXV_DEF local = MakeTextVarDef(1000, "");
    local.expr = FailingExpression();
    local.bScope = VARSCOPE_SCRIPT;
    local.nScript = 0;
    const struct {
        const char* pszCase;
        std::vector<GAME_FILE> files;
    } kCases[] = {
        {"jump", StepsGame([](SCRIPT_BUILDER* b) { EXPECT_GE(EmitGotoExpr(b, FailingExpression()), 0); })},
        {"local", StepsGame([](SCRIPT_BUILDER*) {}, {}, {local})},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszCase);
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", c.files), 0);
        m_pid = Spawn({KX_KOLVEX_PATH, "--game", dir.strNative + "/game"},
                      {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                       "XDG_RUNTIME_DIR=" + dir.strNative, "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                      m_strLog.c_str());
        ASSERT_NE(m_pid, 0);
        const std::string strBox = WaitForTitle("KOLVEX Debug Info.");
        ASSERT_FALSE(strBox.empty()) << "the error box did not appear\n" << Log();
        Pause(300);
        const X11_SHOT box = Capture(strBox);
        KeepShot(box, (std::string("x11-start-error-") + c.pszCase + ".png").c_str());
        EXPECT_GT(DarkPixels(box), 100) << "the box shows no text";
        KeysTo(strBox, "Return");
        EXPECT_EQ(WaitForExit(15000), 1) << Log();
    }
}

// An input dialog of an outside program (a stand-in for zenity that never answers) is open: the
// game's window keeps its picture where the quit question covered it, the close button asks the
// question, No keeps the game, and Yes ends the dialog and the run.
TEST_F(X11Desktop, WhileAnOutsideDialogIsOpenTheWindowRepaintsAndTheCloseQuestionIsAsked)
{
    const std::string strFake = dir.strNative + "/zenity";
    const std::string strStarted = dir.strNative + "/zenity-started";
    dir.Write("zenity", "#!/bin/sh\necho $$ > '" + strStarted + "'\nexec sleep 120\n");
    ASSERT_EQ(chmod(strFake.c_str(), 0755), 0);
    BMP_WRITER_OPTIONS opt;
    const std::vector<uint32_t> red(480 * 320, 0xFFE02020u);
    const auto T = [](int nId, const std::string& str) {
        return ExprArg(static_cast<uint8_t>(nId), MakeExprText(str), EVALTYPE_TEXT);
    };
    const auto I = [](int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v)); };
    // The frames on the window thread, and on a thread of their own.
    for (int nThreaded : {0, 1}) {
        SCOPED_TRACE(nThreaded ? "frames on their own thread" : "frames on the window thread");
        std::remove(strStarted.c_str());
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game",
                                  StepsGame([&](SCRIPT_BUILDER* b) {
                                      EXPECT_GE(EmitCommand(b, KXCMD_LAYER, {T(0, "red"), I(6, 1), T(46, "red.bmp")}), 0);
                                      EXPECT_GE(EmitCommand(b, KXCMD_WAIT, {I(0, 10)}), 0);
                                      EXPECT_GE(EmitCommand(b, KXCMD_MESSAGE_BOX, {I(16, 1), T(0, "Name"), T(1, "Your name?")}),
                                                0);
                                  }, {{"red.bmp", WriteBmp(480, 320, opt, red.data(), nullptr)}}, {}, nThreaded)),
                  0);
        const std::string strMain = StartGame({"KOLVEX_ZENITY=" + strFake});
        ASSERT_FALSE(strMain.empty());
        for (int i = 0; i < 200 && dir.Read("zenity-started").empty(); ++i) Pause(50);
        const std::string strPid = dir.Read("zenity-started");
        ASSERT_FALSE(strPid.empty()) << "the dialog did not start\n" << Log();
        Pause(300);
        EXPECT_EQ(Capture(strMain).At(240, 160), 0xE02020u);

        // The close button while the dialog is open: the question comes; No keeps the game, and the
        // picture the question covered is shown again.
        RunTool({"wmctrl", "-c", kTitle});
        std::vector<std::string> ids = WaitForWindows(2);
        ASSERT_EQ(ids.size(), 2u) << "no quit question while the dialog is open";
        KeepShot(Capture(""), nThreaded ? "x11-dialog-question-threaded.png" : "x11-dialog-question.png");
        KeysTo(ids[0] == strMain ? ids[1] : ids[0], "Escape");
        ids = WaitForWindows(1);
        ASSERT_EQ(ids.size(), 1u);
        Pause(500);
        const X11_SHOT shot = Capture(strMain);
        ASSERT_GE(shot.w, 480);
        EXPECT_EQ(shot.At(240, 160), 0xE02020u) << "the window was not painted again";
        EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended after No";

        // Yes: the dialog is ended as cancelled and the run ends as the player asked.
        RunTool({"wmctrl", "-c", kTitle});
        ids = WaitForWindows(2);
        ASSERT_EQ(ids.size(), 2u);
        KeysTo(ids[0] == strMain ? ids[1] : ids[0], "Return");
        EXPECT_EQ(WaitForExit(15000), 0) << Log();
        EXPECT_NE(kill(std::atoi(strPid.c_str()), 0), 0) << "the dialog program still runs";
    }
}

TEST_F(X11Desktop, AScriptResizesRetitlesMovesAndHidesASubWindow)
{
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", SubWindowGame()), 0);
    const std::string strMain = StartGame();
    ASSERT_FALSE(strMain.empty());

    // Made at the top-left corner with its logical size.
    const std::string strSub = WaitForTitle("KX sub one");
    ASSERT_FALSE(strSub.empty()) << Log();
    Pause(300);
    std::string info = RunTool({"xwininfo", "-id", strSub});
    EXPECT_EQ(WinInfoInt(info, "Width"), 200) << info;
    EXPECT_EQ(WinInfoInt(info, "Height"), 150) << info;
    EXPECT_EQ(WinInfoValue(info, "Map State"), "IsViewable") << info;
    const int nX0 = WinInfoInt(info, "Absolute upper-left X");
    EXPECT_LT(nX0, 60) << info;
    EXPECT_LT(WinInfoInt(info, "Absolute upper-left Y"), 80) << info;
    KeepShot(Capture(""), "x11-sub-one.png");

    // The same X window, retitled, resized to the new logical size and moved (its frame's corner
    // to 100, 80: the client lies within the frame's decorations from there).
    const std::string strSub2 = WaitForTitle("KX sub two");
    ASSERT_EQ(strSub2, strSub) << Log();
    for (int i = 0; i < 100; ++i) {
        info = RunTool({"xwininfo", "-id", strSub});
        // The window manager may apply the size and the two coordinates in separate steps.
        if (WinInfoInt(info, "Width") == 320 && WinInfoInt(info, "Absolute upper-left X") >= 100 &&
            WinInfoInt(info, "Absolute upper-left Y") >= 80)
            break;
        Pause(50);
    }
    EXPECT_EQ(WinInfoInt(info, "Width"), 320) << info;
    EXPECT_EQ(WinInfoInt(info, "Height"), 240) << info;
    const int nX = WinInfoInt(info, "Absolute upper-left X"), nY = WinInfoInt(info, "Absolute upper-left Y");
    EXPECT_GE(nX, 100) << info;
    EXPECT_LE(nX, 140) << info;
    EXPECT_GE(nY, 80) << info;
    EXPECT_LE(nY, 150) << info;
    EXPECT_NE(nX, nX0);
    KeepShot(Capture(""), "x11-sub-two.png");

    // Hidden: unmapped, no longer listed by the window manager; the main window stays.
    bool bHidden = false;
    for (int i = 0; i < 200 && !bHidden; ++i) {
        info = RunTool({"xwininfo", "-id", strSub});
        bHidden = WinInfoValue(info, "Map State") == "IsUnMapped";
        if (!bHidden) Pause(50);
    }
    EXPECT_TRUE(bHidden) << info;
    EXPECT_TRUE(WindowsTitled("KX sub two").empty());
    EXPECT_EQ(WindowsTitled(kTitle).size(), 1u);
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended";
}

TEST_F(X11Desktop, ARightClickOpensThePopupAndAChoiceReachesTheScript)
{
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", MenuGame()), 0);
    const std::string strMain = StartGame();
    ASSERT_FALSE(strMain.empty());
    const auto ClickAt = [&](int x, int y, const char* pszButton) {
        RunTool({"xdotool", "mousemove", "--window", strMain, std::to_string(x), std::to_string(y)});
        Pause(100);
        RunTool({"xdotool", "click", pszButton});
    };
    // A right click, and the wait until the popup's edge shows at the mouse.
    const auto RightClickAt = [&](int x, int y) {
        ClickAt(x, y, "3");
        bool bOpen = false;
        CaptureWhen(strMain, [&](const X11_SHOT& s) { return s.w > x && s.h > y && s.At(x, y) == 0x979797u; }, &bOpen);
        EXPECT_TRUE(bOpen) << "the popup did not open at " << x << ", " << y;
    };
    RunTool({"xdotool", "windowactivate", "--sync", strMain});
    Pause(200);
    RightClickAt(100, 80);
    // The popup is drawn over the picture from the mouse: its edge, its face, the captions in ink.
    const X11_SHOT shot = Capture(strMain);
    KeepShot(shot, "x11-popup.png");
    KeepShot(Capture(""), "x11-popup-screen.png");
    ASSERT_GE(shot.w, 480);
    ASSERT_GE(shot.h, 320);
    EXPECT_EQ(shot.At(100, 80), 0x979797u);
    EXPECT_EQ(shot.At(180, 84), 0xF2F2F2u);
    EXPECT_EQ(shot.At(99, 79), 0x000000u);
    int nInk = 0;
    for (int y = 82; y < 104; ++y)
        for (int x = 124; x < 190; ++x) nInk += (shot.At(x, y) & 0xFF) < 0x80;
    EXPECT_GT(nInk, 30) << "no caption drawn";

    // Its first item: the script sees command 11 and shows the red layer; the popup is gone.
    ClickAt(140, 93, "1");
    bool bRed = false;
    const X11_SHOT red = CaptureWhen(strMain, [](const X11_SHOT& s) { return s.w >= 480 && s.At(180, 84) == 0xE02020u; }, &bRed);
    KeepShot(red, "x11-popup-chosen.png");
    ASSERT_GE(red.w, 480);
    EXPECT_EQ(red.At(180, 84), 0xE02020u);
    EXPECT_EQ(red.At(400, 300), 0xE02020u);
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended";

    // Escape closes it without a choice; then its last item ends the game.
    RightClickAt(200, 100);
    KeysTo(strMain, "Escape");
    Pause(300);
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended after Escape";
    RightClickAt(100, 80);
    ClickAt(140, 80 + 2 + 22 + 9 + 11, "1");
    EXPECT_EQ(WaitForExit(60000), 0);
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}

namespace {

// The demo's picture inside a capture of its main window: below the menu bar's strip.
struct DEMO_VIEW {
    const X11_SHOT* pShot = nullptr;
    int nTop = 0;
    bool Valid() const { return pShot && pShot->w >= demo::kScreenW && pShot->h >= demo::kScreenH; }
    uint32_t At(int x, int y) const { return pShot->At(x, y + nTop); }
    // Near-white pixels (the letters of the captions and the pages) in the rectangle.
    int Letters(int x0, int y0, int x1, int y1) const
    {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const uint32_t v = At(x, y);
                n += (v >> 16 & 0xFF) > 150 && (v >> 8 & 0xFF) > 150 && (v & 0xFF) > 150;
            }
        return n;
    }
    // Pixels of the rectangle that differ from the other view's.
    int Changed(const DEMO_VIEW& o, int x0, int y0, int x1, int y1) const
    {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += At(x, y) != o.At(x, y);
        return n;
    }
};

// Captures the window until the check holds for its picture, or the time (a safety net for a slow
// machine: the demo's opening alone is several seconds of frames) has passed. The last capture.
template <class CHECK>
X11_SHOT CaptureUntil(const std::string& strWindow, CHECK fCheck, bool* pbHeld, int nMs = 180000)
{
    return CaptureWhen(strWindow, [&](const X11_SHOT& shot) {
        const DEMO_VIEW v{&shot, shot.h - demo::kScreenH};
        return v.Valid() && fCheck(v);
    }, pbHeld, nMs);
}

// Captures the window until the rectangle of its picture stays the same between two captures (a
// fade has ended), or the time has passed. The last capture.
X11_SHOT CaptureSettled(const std::string& strWindow, int x0, int y0, int x1, int y1, bool* pbHeld, int nMs = 60000)
{
    X11_SHOT before = Capture(strWindow);
    return CaptureUntil(strWindow, [&](const DEMO_VIEW& v) {
        const DEMO_VIEW vBefore{&before, before.h - demo::kScreenH};
        const bool bSame = vBefore.Valid() && v.Changed(vBefore, x0, y0, x1, y1) == 0;
        before = *v.pShot;
        return bSame;
    }, pbHeld, nMs);
}

// The width of the window as the X server has it (-1 when unknown).
int WindowWidth(const std::string& strWindow)
{
    const std::string info = RunTool({"xwininfo", "-id", strWindow});
    const size_t n = info.find("Width:");
    return n == std::string::npos ? -1 : std::atoi(info.c_str() + n + 6);
}

}  // namespace

// The demo played from the keyboard, as a player would: on the title the arrow keys move the
// highlight over the buttons and Return chooses "New game"; F11 makes the window fullscreen and
// Escape leaves it; Space, Return and the mouse wheel turn the pages; at the choice Up (nothing
// highlighted) picks the last button, "Stay here", and Return chooses it, and the night falls.
TEST_F(X11Desktop, TheDemoPlaysFromTheKeyboard)
{
    using namespace demo;
    ASSERT_EQ(RunProgramForTest(KX_KXDEMO_PATH, {dir.strNative + "/demo"}, {}), 0);
    m_pid = Spawn({KX_KOLVEX_PATH, "--game", dir.strNative + "/demo"},
                  {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                   "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                  m_strLog.c_str());
    ASSERT_NE(m_pid, 0);
    const std::string strMain = WaitForTitle("KOLVEX demo", 60000);
    ASSERT_FALSE(strMain.empty()) << Log();
    bool bHeld = false;
    const auto Button = [](const DEMO_VIEW& v, const DEMO_VIEW& o, int nTop) {
        return v.Changed(o, kButtonX, nTop, kButtonX + kButtonW, nTop + kButtonH);
    };

    // The title menu, nothing highlighted while the mouse stays away.
    const X11_SHOT title = CaptureUntil(strMain, [](const DEMO_VIEW& v) {
        return v.Letters(160, kTitleButtonY[2] + 10, 340, kTitleButtonY[2] + 36) > 150;
    }, &bHeld);
    ASSERT_TRUE(bHeld) << "the title menu did not show\n" << Log();
    const X11_SHOT titleDone = CaptureSettled(strMain, kButtonX, kTitleButtonY[0], kButtonX + kButtonW, kTitleButtonY[2] + kButtonH, &bHeld);
    KeepShot(titleDone, "x11-demo-title.png");
    ASSERT_TRUE(bHeld) << "the title menu did not settle";
    const DEMO_VIEW vTitle{&titleDone, titleDone.h - kScreenH};
    // Down: the highlight on the first button; Down again: on the second only; Up: back on the first.
    KeysTo(strMain, "Down");
    CaptureUntil(strMain, [&](const DEMO_VIEW& v) { return Button(v, vTitle, kTitleButtonY[0]) > 200; }, &bHeld, 30000);
    EXPECT_TRUE(bHeld) << "Down did not highlight the first button";
    KeysTo(strMain, "Down");
    const X11_SHOT second = CaptureUntil(strMain, [&](const DEMO_VIEW& v) {
        return Button(v, vTitle, kTitleButtonY[1]) > 200 && Button(v, vTitle, kTitleButtonY[0]) == 0;
    }, &bHeld, 30000);
    KeepShot(second, "x11-demo-title-second.png");
    EXPECT_TRUE(bHeld) << "a second Down did not move the highlight to the second button";
    KeysTo(strMain, "Up");
    CaptureUntil(strMain, [&](const DEMO_VIEW& v) {
        return Button(v, vTitle, kTitleButtonY[0]) > 200 && Button(v, vTitle, kTitleButtonY[1]) == 0;
    }, &bHeld, 30000);
    EXPECT_TRUE(bHeld) << "Up did not move the highlight back";

    // Return: a new game; its first page waits after the opening.
    KeysTo(strMain, "Return");
    const auto Page = [](const DEMO_VIEW& v) {
        return v.Letters(kBoxX, kBoxY + 20, kBoxX + kBoxW, kBoxY + 48) > 800 &&
               v.Letters(160, kTitleButtonY[0] + 10, 340, kTitleButtonY[0] + 36) < 50;
    };
    const X11_SHOT page1 = CaptureUntil(strMain, Page, &bHeld);
    KeepShot(page1, "x11-demo-page1.png");
    ASSERT_TRUE(bHeld) << "Return on the title did not start the game\n" << Log();

    // F11: fullscreen (the window takes the screen); Escape: the window again.
    const int nWindowed = WindowWidth(strMain);
    KeysTo(strMain, "F11");
    for (int i = 0; i < 300 && WindowWidth(strMain) != 1024; ++i) Pause(100);
    EXPECT_EQ(WindowWidth(strMain), 1024) << "F11 did not make the window fullscreen";
    // The picture fills the screen (the same shape, 1.6 times as large): the box's rim low on the
    // left and the dusk low on the right, where the window showed nothing before.
    X11_SHOT full;
    for (int i = 0; i < 300; ++i) {
        full = Capture("");
        if (full.w == 1024 && full.h == 768 && (full.At(1016, 760) >> 16 & 0xFF) > 150 && full.At(1016, 760) != 0xFFFFFFu)
            break;
        Pause(100);
    }
    KeepShot(full, "x11-demo-fullscreen.png");
    ASSERT_EQ(full.w, 1024);
    EXPECT_GT(full.At(1016, 760) >> 16 & 0xFF, 150u) << "the picture does not fill the screen";
    KeysTo(strMain, "Escape");
    for (int i = 0; i < 300 && WindowWidth(strMain) != nWindowed; ++i) Pause(100);
    EXPECT_EQ(WindowWidth(strMain), nWindowed) << "Escape did not leave fullscreen";

    // Space, Return and the wheel turned down each turn a page: the second page, the saved one (with
    // the thumbnail), and the choice.
    const auto Turned = [&](const X11_SHOT& before) {
        const DEMO_VIEW vBefore{&before, before.h - kScreenH};
        return [vBefore](const DEMO_VIEW& v) {
            return vBefore.Valid() && v.Changed(vBefore, kBoxX, kBoxY + 20, kBoxX + kBoxW, kBoxY + 48) > 500 &&
                   v.Letters(kBoxX, kBoxY + 20, kBoxX + kBoxW, kBoxY + 48) > 500;
        };
    };
    KeysTo(strMain, "space");
    const X11_SHOT page2 = CaptureUntil(strMain, Turned(page1), &bHeld, 60000);
    ASSERT_TRUE(bHeld) << "Space did not turn the page";
    KeysTo(strMain, "Return");
    const X11_SHOT page3 = CaptureUntil(strMain, Turned(page2), &bHeld, 60000);
    KeepShot(page3, "x11-demo-saved.png");
    ASSERT_TRUE(bHeld) << "Return did not turn the page";
    RunTool({"xdotool", "mousemove", "--window", strMain, "600", "60"});
    RunTool({"xdotool", "click", "5"});
    const X11_SHOT choice = CaptureUntil(strMain, [](const DEMO_VIEW& v) {
        return v.Letters(160, kChoiceButtonY[1] + 10, 340, kChoiceButtonY[1] + 36) > 150;
    }, &bHeld, 60000);
    ASSERT_TRUE(bHeld) << "the wheel did not turn the page to the choice";
    const X11_SHOT choiceDone = CaptureSettled(strMain, kButtonX, kChoiceButtonY[0], kButtonX + kButtonW, kChoiceButtonY[1] + kButtonH, &bHeld);
    KeepShot(choiceDone, "x11-demo-choice.png");
    ASSERT_TRUE(bHeld) << "the choice did not settle";

    // Up with nothing highlighted: the last button, "Stay here" (as the README says); Return chooses
    // it, and the sky low on the right darkens.
    KeysTo(strMain, "Up");
    const DEMO_VIEW vChoice{&choiceDone, choiceDone.h - kScreenH};
    CaptureUntil(strMain, [&](const DEMO_VIEW& v) {
        return Button(v, vChoice, kChoiceButtonY[1]) > 200 && Button(v, vChoice, kChoiceButtonY[0]) == 0;
    }, &bHeld, 30000);
    EXPECT_TRUE(bHeld) << "Up with nothing highlighted did not highlight the last choice";
    KeysTo(strMain, "Return");
    const uint32_t nDusk = vChoice.At(630, 470) >> 16 & 0xFF;
    EXPECT_GT(nDusk, 150u) << "the sky low on the right is not the dusk's";
    const X11_SHOT night = CaptureUntil(strMain, [&](const DEMO_VIEW& v) {
        return (v.At(630, 470) >> 16 & 0xFF) * 2 < nDusk &&
               v.Letters(160, kChoiceButtonY[1] + 10, 340, kChoiceButtonY[1] + 36) < 50;
    }, &bHeld, 60000);
    KeepShot(night, "x11-demo-night.png");
    EXPECT_TRUE(bHeld) << "Return did not choose to stay";
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended\n" << Log();
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}

namespace {

const char kDialogTitle[] = "KX name entry";

// A game that asks for a name in the input dialog (at most nLimit bytes), writes what came back into
// typed.txt and quits.
std::vector<GAME_FILE> NameEntryGame(int nLimit)
{
    constexpr uint16_t kTyped = 1000;
    const auto I = [](int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v)); };
    const auto T = [](int nId, const std::string& str) {
        return ExprArg(static_cast<uint8_t>(nId), MakeExprText(str), EVALTYPE_TEXT);
    };
    return StepsGame(
        [&](SCRIPT_BUILDER* b) {
            EXPECT_GE(EmitCommand(b, KXCMD_MESSAGE_BOX, {T(0, kDialogTitle), T(1, PlatUtf8ToCp932String("お名前は？")),
                                                         I(16, 1), I(17, nLimit), ExprArg(10, MakeExprVar(kTyped), EVALTYPE_TEXT)}),
                      0);
            EXPECT_GE(EmitCommand(b, KXCMD_SYSTEM, {I(0, 15), T(22, "typed.txt"), ExprArg(23, MakeExprVar(kTyped), EVALTYPE_TEXT)}),
                      0);
            EXPECT_GE(EmitCommand(b, KXCMD_QUIT, {}), 0);
        },
        {}, {MakeTextVarDef(kTyped, "")});
}

}  // namespace

TEST_F(X11Desktop, TextTypedIntoTheInputDialogReachesTheScriptWithinItsByteLimit)
{
    if (RunTool({"sh", "-c", "command -v zenity"}).empty()) GTEST_SKIP() << "zenity is not installed";
    // Typed: 4 letters and 3 kanji (10 bytes in cp932); the limit of 8 bytes keeps whole characters.
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", NameEntryGame(8)), 0);
    m_pid = Spawn({KX_KOLVEX_PATH, "--game", dir.strNative + "/game"},
                  {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                   "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                  m_strLog.c_str());
    ASSERT_NE(m_pid, 0);
    std::vector<std::string> ids;
    for (int i = 0; i < 400 && ids.empty(); ++i) {
        ids = WindowsTitled(kDialogTitle);
        if (ids.empty()) Pause(50);
    }
    ASSERT_EQ(ids.size(), 1u) << "the input dialog did not appear: " << Log();
    Pause(500);   // the dialog takes keys once it is drawn
    KeepShot(Capture(""), "x11-input-dialog.png");
    RunTool({"xdotool", "windowactivate", "--sync", ids[0]});
    Pause(200);
    RunTool({"xdotool", "type", "--delay", "50", "Kolv\xE6\x98\x9F\xE9\x99\x8D\xE3\x82\x8B"});   // "Kolv星降る"
    Pause(300);
    KeepShot(Capture(""), "x11-input-typed.png");
    RunTool({"xdotool", "key", "Return"});
    EXPECT_EQ(WaitForExit(20000), 0) << Log();
    // "Kolv" and 星降 are 8 bytes; る would make 10.
    EXPECT_EQ(dir.Read("game/typed.txt"), "Kolv" + PlatUtf8ToCp932String("星降") + "\r\n") << Log();
}

TEST_F(X11Desktop, WithoutATerminalNoGameAndArgumentMistakesComeInABox)
{
    // The desktop entry without a folder (the executable's folder holds no game), and a mistyped
    // option: each shows one box titled KOLVEX that a person can read and close.
    dir.Write("bin/readme.md", std::string("x"));
    const struct {
        const char* pszCase;
        std::vector<std::string> args;
        std::string strLine;   // in the log (standard error)
        const char* pszShot;
    } kCases[] = {
        {"no game", {}, "kolvex: the game in " + dir.strNative + "/bin could not start: " + dir.strNative + "/bin holds no game",
         "x11-no-game-box.png"},
        {"a mistyped option", {"--bogus"}, "kolvex: unknown option --bogus", "x11-option-box.png"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszCase);
        std::vector<std::string> args = {KX_KOLVEX_PATH};
        args.insert(args.end(), c.args.begin(), c.args.end());
        m_pid = Spawn(args,
                      {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                       "KOLVEX_EXE_PATH=" + dir.strNative + "/bin/kolvex", "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                      m_strLog.c_str());
        ASSERT_NE(m_pid, 0);
        std::vector<std::string> ids;
        for (int i = 0; i < 400 && ids.empty(); ++i) {
            ids = WindowsTitled("KOLVEX");
            if (ids.empty()) Pause(50);
        }
        ASSERT_EQ(ids.size(), 1u) << "no box: " << Log();
        Pause(300);
        KeepShot(Capture(ids[0]), c.pszShot);
        KeysTo(ids[0], "Return");
        EXPECT_EQ(WaitForExit(10000), 1) << Log();
        EXPECT_NE(Log().find(c.strLine), std::string::npos) << Log();
    }
}

namespace {

// A window's place and size on the screen (xwininfo): absolute left, top, width, height.
struct WIN_GEOMETRY {
    int x = -99999, y = -99999, w = 0, h = 0;
};
WIN_GEOMETRY GeometryOf(const std::string& strWindow)
{
    const std::string strInfo = RunTool({"xwininfo", "-id", strWindow});
    return WIN_GEOMETRY{WinInfoInt(strInfo, "Absolute upper-left X"), WinInfoInt(strInfo, "Absolute upper-left Y"),
                        WinInfoInt(strInfo, "Width"), WinInfoInt(strInfo, "Height")};
}

unsigned long WindowNumber(const std::string& strId) { return std::strtoul(strId.c_str(), nullptr, 0); }

}  // namespace

// The quit question keeps the keyboard until it is answered: it is a modal box transient for the
// game's window, a click on the game's window behind it leaves the keyboard with the question (so
// Escape answers No and the game runs on), and the first click on one of its buttons presses it,
// even while another program's window had the focus.
TEST_F(X11Desktop, TheQuitQuestionKeepsTheKeyboardAndAFirstClickOnAButtonPressesIt)
{
    const std::string strMain = StartGame();
    ASSERT_FALSE(strMain.empty());
    const auto AskQuestion = [&]() {
        RunTool({"wmctrl", "-c", kTitle});
        const std::vector<std::string> ids = WaitForWindows(2);
        if (ids.size() != 2u) return std::string();
        Pause(500);   // drawn and given the focus
        return ids[0] == strMain ? ids[1] : ids[0];
    };

    // What the window manager is told: a dialog, transient for the game's window, and modal.
    std::string strBox = AskQuestion();
    ASSERT_FALSE(strBox.empty()) << "no question\n" << Log();
    const std::string strProps =
        RunTool({"xprop", "-id", strBox, "WM_TRANSIENT_FOR", "_NET_WM_STATE", "_NET_WM_WINDOW_TYPE", "_MOTIF_WM_HINTS"});
    EXPECT_NE(strProps.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << strProps;
    // Its frame offers moving and closing (0x24) with a border, a title and its menu (0x1a), no
    // minimise or maximise (openbox draws its buttons whatever the hints; other window managers don't).
    EXPECT_NE(strProps.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x3, 0x24, 0x1a, 0x0, 0x0"), std::string::npos)
        << strProps;
    const size_t nAt = strProps.find("window id # ");
    ASSERT_NE(nAt, std::string::npos) << strProps;
    EXPECT_EQ(WindowNumber(strProps.substr(nAt + 12)), WindowNumber(strMain)) << strProps;
    EXPECT_NE(strProps.find("_NET_WM_STATE_MODAL"), std::string::npos) << strProps;

    // A click on the game's window beside the question (its top-left corner, which the centred box
    // leaves free): the question stays in front, and Escape, typed to whatever has the focus, answers No.
    const WIN_GEOMETRY main = GeometryOf(strMain), box = GeometryOf(strBox);
    ASSERT_GT(box.w, 0);
    ASSERT_TRUE(main.x + 12 < box.x && main.y + 12 < box.y) << "the box covers the corner clicked";
    RunTool({"xdotool", "mousemove", std::to_string(main.x + 12), std::to_string(main.y + 12), "click", "1"});
    Pause(700);
    ASSERT_EQ(WindowsTitled(kTitle).size(), 2u) << "the click answered the question";
    const X11_SHOT screen = Capture("");
    KeepShot(screen, "x11-question-after-click.png");
    ASSERT_GT(screen.w, 0);
    // The box's button strip (its light grey) is what the screen shows at its bottom-left corner.
    EXPECT_EQ(screen.At(box.x + 4, box.y + box.h - 4), 0xF0F0F0u) << "the game's window came over the question";
    RunTool({"xdotool", "key", "Escape"});
    std::vector<std::string> ids = WaitForWindows(1, 15000);
    EXPECT_EQ(ids.size(), 1u) << "Escape after the click did not answer the question\n" << Log();
    Pause(500);
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended after No";

    // The question again, then another program's window takes the focus; one click on No (the
    // right-hand button: 88 pixels wide, 16 from the right, 11 above the bottom, 28 high) answers.
    strBox = AskQuestion();
    ASSERT_FALSE(strBox.empty()) << "no question the second time\n" << Log();
    pid_t pidOther = Spawn({"xmessage", "-name", "kx-other", "-title", "kx-other", "another program"}, {}, nullptr);
    ASSERT_NE(pidOther, 0);
    const std::string strOther = WaitForTitle("kx-other", 30000);
    ASSERT_FALSE(strOther.empty()) << "xmessage did not appear";
    RunTool({"xdotool", "windowactivate", "--sync", strOther});
    Pause(500);
    EXPECT_EQ(WindowNumber(RunTool({"xdotool", "getactivewindow"})), WindowNumber(strOther)) << "the box kept the focus";
    const WIN_GEOMETRY box2 = GeometryOf(strBox);
    KeepShot(Capture(""), "x11-question-unfocused.png");
    RunTool({"xdotool", "mousemove", std::to_string(box2.x + box2.w - 16 - 44), std::to_string(box2.y + box2.h - 11 - 14),
             "click", "1"});
    ids = WaitForWindows(1, 15000);
    EXPECT_EQ(ids.size(), 1u) << "the first click on No did not press it\n" << Log();
    Pause(500);
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended after No";
    EndProcess(&pidOther);

    // Yes ends the run as the player asked.
    strBox = AskQuestion();
    ASSERT_FALSE(strBox.empty());
    KeysTo(strBox, "Return");
    EXPECT_EQ(WaitForExit(60000), 0) << Log();
}
