// The real kolvex on a game made by the builders, on a virtual X server with a window manager
// (openbox), driven as a player would with wmctrl and xdotool: closing the window through the window
// manager asks the quit question once and the answer holds; the question reads right under the C
// locale (its pixels are the IPA Gothic rendering of the text); a window destroyed by another
// program, or a connection killed by one, ends the run through the normal shut-down.
//
// Runs only under the kolvex_x11_desktop test (KX_X11_DESKTOP=1), which starts the X server; with
// KX_X11_SHOTS naming a folder, the screenshots are written there as PNG files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "demo/demo.h"
#include "platform/plat_font.h"
#include "platform/plat_text.h"
#include "tests/support/test_support.h"
#include "image/cmd_layer.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

extern char** environ;

namespace {

const char kTitle[] = "KX close test";

// Starts a program in the background, its output to pszOut (or discarded). The process id, or 0.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const char* pszOut = nullptr)
{
    SPAWN_ARGS sa;
    MakeSpawnArgs(&sa, args, env);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, pszOut ? pszOut : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = 0;
    const int r = posix_spawnp(&pid, sa.argv[0], &fa, nullptr, sa.argv.data(), sa.envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return r == 0 ? pid : 0;
}

// Runs a tool to its end; its standard output. *pStatus: its exit status, or -1.
std::string RunTool(const std::vector<std::string>& args, int* pStatus = nullptr)
{
    int fds[2];
    if (pipe(fds) != 0) return "";
    std::vector<std::string> argStore = args;
    std::vector<char*> argv;
    for (std::string& s : argStore) argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int r = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string out;
    if (r == 0) {
        char buf[65536];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int nStatus = 0;
    if (r == 0) waitpid(pid, &nStatus, 0);
    if (pStatus) *pStatus = r == 0 && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return out;
}

// Waits for the process to end: its exit status, -3 after a signal, -1 when it still runs.
int WaitExit(pid_t pid, int nMs)
{
    for (int i = 0; i < nMs / 10; ++i) {
        int nStatus = 0;
        if (waitpid(pid, &nStatus, WNOHANG) == pid) return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -3;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// The ids of the managed windows with this title, as the window manager lists them.
std::vector<std::string> WindowsTitled(const char* pszTitle)
{
    std::vector<std::string> ids;
    const std::string out = RunTool({"wmctrl", "-l"});
    size_t nStart = 0;
    while (nStart < out.size()) {
        size_t nEnd = out.find('\n', nStart);
        if (nEnd == std::string::npos) nEnd = out.size();
        const std::string line = out.substr(nStart, nEnd - nStart);
        const std::string strTail = std::string(" ") + pszTitle;
        if (line.size() > strTail.size() && line.compare(line.size() - strTail.size(), strTail.size(), strTail) == 0)
            ids.push_back(line.substr(0, line.find(' ')));
        nStart = nEnd + 1;
    }
    return ids;
}

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

void Pause(int nMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

// A picture as 0xRRGGBB values.
struct SHOT {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t At(int x, int y) const { return px[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)]; }
};

uint32_t BigEndian32(const std::string& s, size_t i)
{
    return (uint32_t(uint8_t(s[i])) << 24) | (uint32_t(uint8_t(s[i + 1])) << 16) | (uint32_t(uint8_t(s[i + 2])) << 8) |
           uint32_t(uint8_t(s[i + 3]));
}

int MaskShift(uint32_t m)
{
    int n = 0;
    while (m && !(m & 1)) m >>= 1, ++n;
    return n;
}

// What the X server shows of a window (xwd -id), or of the whole screen.
SHOT Capture(const std::string& strWindow)
{
    SHOT shot;
    const std::string d = strWindow.empty() ? RunTool({"xwd", "-silent", "-root"}) : RunTool({"xwd", "-silent", "-id", strWindow});
    if (d.size() < 100) return shot;
    uint32_t hdr[25];
    for (int i = 0; i < 25; ++i) hdr[i] = BigEndian32(d, static_cast<size_t>(i) * 4);
    const uint32_t nHeader = hdr[0], w = hdr[4], h = hdr[5], nOrder = hdr[7], nBpp = hdr[11], nLine = hdr[12];
    const uint32_t rm = hdr[14], gm = hdr[15], bm = hdr[16], nColours = hdr[19];
    const size_t nOff = nHeader + size_t(nColours) * 12;
    const size_t nBytes = nBpp / 8;
    if (nBytes < 3 || nBytes > 4 || d.size() < nOff + size_t(nLine) * h || w == 0 || h == 0) return shot;
    shot.w = static_cast<int>(w);
    shot.h = static_cast<int>(h);
    shot.px.resize(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const size_t i = nOff + size_t(y) * nLine + size_t(x) * nBytes;
            uint32_t v = 0;
            for (size_t k = 0; k < nBytes; ++k) {
                const uint32_t b = uint8_t(d[i + k]);
                v |= nOrder == 0 ? b << (8 * k) : b << (8 * (nBytes - 1 - k));
            }
            const uint32_t r = (v & rm) >> MaskShift(rm), g = (v & gm) >> MaskShift(gm), b = (v & bm) >> MaskShift(bm);
            shot.px[size_t(y) * w + x] = (r << 16) | (g << 8) | b;
        }
    return shot;
}

// Captures the window (or the screen) until the check holds for the capture or the time has passed
// (a safety net: a loaded machine draws late). The last capture; *pbHeld whether the check held.
template <class CHECK>
SHOT CaptureWhen(const std::string& strWindow, CHECK fCheck, bool* pbHeld, int nMs = 30000)
{
    SHOT shot;
    *pbHeld = false;
    for (int i = 0; i < nMs / 100 && !*pbHeld; ++i) {
        if (i) Pause(100);
        shot = Capture(strWindow);
        *pbHeld = shot.w > 0 && fCheck(shot);
    }
    return shot;
}

void KeepShot(const SHOT& shot, const char* pszName)
{
    const char* pszDir = std::getenv("KX_X11_SHOTS");
    if (!pszDir || !*pszDir || shot.w <= 0) return;
    std::vector<uint8_t> rgb;
    for (uint32_t v : shot.px) rgb.insert(rgb.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = static_cast<png_uint_32>(shot.w);
    img.height = static_cast<png_uint_32>(shot.h);
    img.format = PNG_FORMAT_RGB;
    const std::string strPath = std::string(pszDir) + "/" + pszName;
    EXPECT_NE(png_image_write_to_file(&img, strPath.c_str(), 0, rgb.data(), 0, nullptr), 0) << strPath;
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
void MatchInk(const SHOT& shot, const INK& ink, double* pRecall, double* pPrecision)
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
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = 480;
    game.config.nHeight = 320;
    game.config.strTitle = kTitle;
    game.scripts.push_back(ScriptFromBuilder("start.txt", b));
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
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = 480;
    game.config.nHeight = 320;
    game.config.strTitle = kTitle;
    game.scripts.push_back(ScriptFromBuilder("start.txt", b));
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    BMP_WRITER_OPTIONS opt;
    const std::vector<uint32_t> red(480 * 320, 0xFFE02020u);
    files.push_back({"red.bmp", WriteBmp(480, 320, opt, red.data(), nullptr)});
    return files;
}

class X11Desktop : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const char* psz = std::getenv("KX_X11_DESKTOP");
        if (!psz || std::strcmp(psz, "1") != 0) return;
        s_pidWm = Spawn({"openbox"}, {});
        for (int i = 0; i < 200; ++i) {
            int nStatus = -1;
            RunTool({"wmctrl", "-m"}, &nStatus);
            if (nStatus == 0) break;
            Pause(50);
        }
    }
    static void TearDownTestSuite()
    {
        if (s_pidWm) {
            kill(s_pidWm, SIGTERM);
            waitpid(s_pidWm, nullptr, 0);
            s_pidWm = 0;
        }
    }
    void SetUp() override
    {
        const char* psz = std::getenv("KX_X11_DESKTOP");
        if (!psz || std::strcmp(psz, "1") != 0) GTEST_SKIP() << "runs under the kolvex_x11_desktop test only";
        ASSERT_NE(s_pidWm, 0) << "openbox did not start";
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", WaitingGame()), 0);
        m_strLog = dir.strNative + "/kolvex.log";
    }
    void TearDown() override
    {
        if (m_pid) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    // Starts the game under the C locale; its main window's id once the window manager lists it.
    std::string StartGame()
    {
        m_pid = Spawn({KX_KOLVEX_PATH, "--game", dir.strNative + "/game"},
                      {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                       "XDG_RUNTIME_DIR=" + dir.strNative, "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                      m_strLog.c_str());
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

    static pid_t s_pidWm;
    TEMP_DIR dir;
    std::string m_strLog;
    pid_t m_pid = 0;
};
pid_t X11Desktop::s_pidWm = 0;

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
    const SHOT box = CaptureWhen(strBox, [&](const SHOT& shot) {
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

    // xdotool windowkill ends the game's connection to the X server.
    strMain = StartGame();
    ASSERT_FALSE(strMain.empty());
    RunTool({"xdotool", "windowkill", strMain});
    EXPECT_EQ(WaitForExit(60000), 0);
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
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
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = 480;
    game.config.nHeight = 320;
    game.config.strTitle = kTitle;
    game.scripts.push_back(ScriptFromBuilder("start.txt", b));
    return BuildGameFiles(game);
}

// One value of xwininfo's report ("  Width: 320" -> "320"), or "".
std::string WinInfoValue(const std::string& strInfo, const std::string& strKey)
{
    const size_t i = strInfo.find(strKey + ":");
    if (i == std::string::npos) return "";
    size_t j = i + strKey.size() + 1;
    while (j < strInfo.size() && strInfo[j] == ' ') ++j;
    const size_t e = strInfo.find('\n', j);
    return strInfo.substr(j, e == std::string::npos ? std::string::npos : e - j);
}

int WinInfoInt(const std::string& strInfo, const std::string& strKey)
{
    const std::string s = WinInfoValue(strInfo, strKey);
    return s.empty() ? -99999 : std::atoi(s.c_str());
}

// Waits until the window manager lists one window of the title: its id, or "".
std::string WaitForTitle(const char* pszTitle, int nMs = 60000)
{
    for (int i = 0; i < nMs / 50; ++i) {
        const std::vector<std::string> ids = WindowsTitled(pszTitle);
        if (ids.size() == 1) return ids[0];
        Pause(50);
    }
    return "";
}

}  // namespace

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
        if (WinInfoInt(info, "Width") == 320 && WinInfoInt(info, "Absolute upper-left X") >= 100) break;
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
        CaptureWhen(strMain, [&](const SHOT& s) { return s.w > x && s.h > y && s.At(x, y) == 0x979797u; }, &bOpen);
        EXPECT_TRUE(bOpen) << "the popup did not open at " << x << ", " << y;
    };
    RunTool({"xdotool", "windowactivate", "--sync", strMain});
    Pause(200);
    RightClickAt(100, 80);
    // The popup is drawn over the picture from the mouse: its edge, its face, the captions in ink.
    const SHOT shot = Capture(strMain);
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
    const SHOT red = CaptureWhen(strMain, [](const SHOT& s) { return s.w >= 480 && s.At(180, 84) == 0xE02020u; }, &bRed);
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
    const SHOT* pShot = nullptr;
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
SHOT CaptureUntil(const std::string& strWindow, CHECK fCheck, bool* pbHeld, int nMs = 180000)
{
    return CaptureWhen(strWindow, [&](const SHOT& shot) {
        const DEMO_VIEW v{&shot, shot.h - demo::kScreenH};
        return v.Valid() && fCheck(v);
    }, pbHeld, nMs);
}

// Captures the window until the rectangle of its picture stays the same between two captures (a
// fade has ended), or the time has passed. The last capture.
SHOT CaptureSettled(const std::string& strWindow, int x0, int y0, int x1, int y1, bool* pbHeld, int nMs = 60000)
{
    SHOT before = Capture(strWindow);
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
// Escape leaves it; Space, Return and the mouse wheel turn the pages; at the choice the arrow keys
// pick "Stay here" and Return chooses it, and the night falls.
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
    const SHOT title = CaptureUntil(strMain, [](const DEMO_VIEW& v) {
        return v.Letters(160, kTitleButtonY[2] + 10, 340, kTitleButtonY[2] + 36) > 150;
    }, &bHeld);
    ASSERT_TRUE(bHeld) << "the title menu did not show\n" << Log();
    const SHOT titleDone = CaptureSettled(strMain, kButtonX, kTitleButtonY[0], kButtonX + kButtonW, kTitleButtonY[2] + kButtonH, &bHeld);
    KeepShot(titleDone, "x11-demo-title.png");
    ASSERT_TRUE(bHeld) << "the title menu did not settle";
    const DEMO_VIEW vTitle{&titleDone, titleDone.h - kScreenH};
    // Down: the highlight on the first button; Down again: on the second only; Up: back on the first.
    KeysTo(strMain, "Down");
    CaptureUntil(strMain, [&](const DEMO_VIEW& v) { return Button(v, vTitle, kTitleButtonY[0]) > 200; }, &bHeld, 30000);
    EXPECT_TRUE(bHeld) << "Down did not highlight the first button";
    KeysTo(strMain, "Down");
    const SHOT second = CaptureUntil(strMain, [&](const DEMO_VIEW& v) {
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
    const SHOT page1 = CaptureUntil(strMain, Page, &bHeld);
    KeepShot(page1, "x11-demo-page1.png");
    ASSERT_TRUE(bHeld) << "Return on the title did not start the game\n" << Log();

    // F11: fullscreen (the window takes the screen); Escape: the window again.
    const int nWindowed = WindowWidth(strMain);
    KeysTo(strMain, "F11");
    for (int i = 0; i < 300 && WindowWidth(strMain) != 1024; ++i) Pause(100);
    EXPECT_EQ(WindowWidth(strMain), 1024) << "F11 did not make the window fullscreen";
    // The picture fills the screen (the same shape, 1.6 times as large): the box's rim low on the
    // left and the dusk low on the right, where the window showed nothing before.
    SHOT full;
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
    const auto Turned = [&](const SHOT& before) {
        const DEMO_VIEW vBefore{&before, before.h - kScreenH};
        return [vBefore](const DEMO_VIEW& v) {
            return vBefore.Valid() && v.Changed(vBefore, kBoxX, kBoxY + 20, kBoxX + kBoxW, kBoxY + 48) > 500 &&
                   v.Letters(kBoxX, kBoxY + 20, kBoxX + kBoxW, kBoxY + 48) > 500;
        };
    };
    KeysTo(strMain, "space");
    const SHOT page2 = CaptureUntil(strMain, Turned(page1), &bHeld, 60000);
    ASSERT_TRUE(bHeld) << "Space did not turn the page";
    KeysTo(strMain, "Return");
    const SHOT page3 = CaptureUntil(strMain, Turned(page2), &bHeld, 60000);
    KeepShot(page3, "x11-demo-saved.png");
    ASSERT_TRUE(bHeld) << "Return did not turn the page";
    RunTool({"xdotool", "mousemove", "--window", strMain, "600", "60"});
    RunTool({"xdotool", "click", "5"});
    const SHOT choice = CaptureUntil(strMain, [](const DEMO_VIEW& v) {
        return v.Letters(160, kChoiceButtonY[1] + 10, 340, kChoiceButtonY[1] + 36) > 150;
    }, &bHeld, 60000);
    ASSERT_TRUE(bHeld) << "the wheel did not turn the page to the choice";
    const SHOT choiceDone = CaptureSettled(strMain, kButtonX, kChoiceButtonY[0], kButtonX + kButtonW, kChoiceButtonY[1] + kButtonH, &bHeld);
    KeepShot(choiceDone, "x11-demo-choice.png");
    ASSERT_TRUE(bHeld) << "the choice did not settle";

    // Down twice: "Stay here"; Return chooses it, and the sky low on the right darkens.
    KeysTo(strMain, "Down");
    KeysTo(strMain, "Down");
    const DEMO_VIEW vChoice{&choiceDone, choiceDone.h - kScreenH};
    CaptureUntil(strMain, [&](const DEMO_VIEW& v) { return Button(v, vChoice, kChoiceButtonY[1]) > 200; }, &bHeld, 30000);
    EXPECT_TRUE(bHeld) << "the highlight did not reach the second choice";
    KeysTo(strMain, "Return");
    const uint32_t nDusk = vChoice.At(630, 470) >> 16 & 0xFF;
    EXPECT_GT(nDusk, 150u) << "the sky low on the right is not the dusk's";
    const SHOT night = CaptureUntil(strMain, [&](const DEMO_VIEW& v) {
        return (v.At(630, 470) >> 16 & 0xFF) * 2 < nDusk &&
               v.Letters(160, kChoiceButtonY[1] + 10, 340, kChoiceButtonY[1] + 36) < 50;
    }, &bHeld, 60000);
    KeepShot(night, "x11-demo-night.png");
    EXPECT_TRUE(bHeld) << "Return did not choose to stay";
    EXPECT_EQ(WaitExit(m_pid, 10), -1) << "the game ended\n" << Log();
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}
