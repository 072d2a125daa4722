// The script's edit box in the real kolvex on a virtual X server with a window manager (openbox): a
// name-entry screen made by the builders, typed into with xdotool as a player would, with a
// Japanese name delivered through the window system's composition events, read back by the script
// and written to a file.
//
// A virtual X server has no input method, so the game runs with KOLVEX_TEST_IME: F8 then makes the
// engine push the composition events an input method would send (SDL_TEXTEDITING as the name is
// composed, SDL_TEXTINPUT when it is committed), which take the same path as a real one's.
//
// Runs only under the kolvex_x11_editbox test (KX_X11_DESKTOP=1), which starts the X server; with
// KX_X11_SHOTS naming a folder, the screenshots are written there as PNG files.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/plat_text.h"
#include "tests/support/test_support.h"
#include "tests/support/x11_desktop.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {

const char kTitle[] = "KX name entry";
constexpr uint16_t kName = 1000;   // the text variable that receives the name
// The box: at 60, 100 in the 480 x 320 picture, 300 x 26.
constexpr int kBoxX = 60, kBoxY = 100, kBoxW = 300, kBoxH = 26;

// The name-entry screen: a dark picture with the edit box, given the focus; F5 switches to
// fullscreen; when Return goes down, the box's text goes into a text variable and from there into
// "name.txt", and the game ends.
std::vector<GAME_FILE> NameEntryGame(void)
{
    const auto I = [](int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v)); };
    const auto T = [](int nId, const std::string& s) { return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT); };
    const auto Sys = [&](int64_t llCode, std::vector<BUILDER_ARG> args) {
        args.insert(args.begin(), I(0, llCode));
        return args;
    };
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, Sys(10102, {T(22, ""), I(2, kBoxX), I(3, kBoxY), I(4, kBoxW), I(5, kBoxH)})), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, Sys(20005, {})), 0);
    EXPECT_GE(AddLabel(&b, "LOOP"), 0);
    const auto Pressed = [](int nKey) {
        std::vector<uint8_t> e;
        ExprAsmElement(e, 144, {nKey});
        ExprAsmInt(e, 1);
        ExprAsmOp(e, '=');
        return e;
    };
    EXPECT_GE(BeginIf(&b, Pressed(116)), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WINDOW, {I(0, 0), I(13, 1)}), 0);
    EXPECT_GE(EndIf(&b), 0);
    // Return went down in this frame (its hold counter is 1).
    EXPECT_GE(BeginIf(&b, Pressed(13)), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, Sys(10105, {ExprArg(1, MakeExprVar(kName), EVALTYPE_TEXT)})), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, Sys(15, {T(22, "name.txt"), ExprArg(23, MakeExprVar(kName), EVALTYPE_TEXT)})), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, Sys(10103, {})), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_QUIT, {}), 0);
    EXPECT_GE(EndIf(&b), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    EXPECT_GE(EmitGoto(&b, "LOOP"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;
    GAME_DATA game = DesktopGame(b, kTitle);
    game.defs.push_back(MakeTextVarDef(kName, ""));
    return BuildGameFiles(game);
}

class X11EditBox : public X11_DESKTOP_TEST {
protected:
    void SetUp() override
    {
        X11_DESKTOP_TEST::SetUp();
        if (!Ready()) return;
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", NameEntryGame()), 0);
    }
    std::string Log() { return dir.Read("kolvex.log"); }
    // The box's part of a shot of the window.
    static int CountInBox(const X11_SHOT& s, uint32_t nColour, int nInset)
    {
        int n = 0;
        for (int y = kBoxY + nInset; y < kBoxY + kBoxH - nInset; ++y)
            for (int x = kBoxX + nInset; x < kBoxX + kBoxW - nInset; ++x) n += s.At(x, y) == nColour;
        return n;
    }
    // The longest run of dark pixels in one row of the field.
    static int LongestDarkRow(const X11_SHOT& s)
    {
        int nBest = 0;
        for (int y = kBoxY + 2; y < kBoxY + kBoxH - 1; ++y) {
            int nRun = 0;
            for (int x = kBoxX + 2; x < kBoxX + kBoxW - 2; ++x) {
                nRun = (s.At(x, y) & 0xFF) < 0x40 ? nRun + 1 : 0;
                nBest = std::max(nBest, nRun);
            }
        }
        return nBest;
    }
    // The longest horizontal run of the box's frame colour in a shot.
    static int LongestFrameRun(const X11_SHOT& s)
    {
        int nBest = 0;
        for (int y = 0; y < s.h; ++y) {
            int nRun = 0;
            for (int x = 0; x < s.w; ++x) {
                nRun = s.At(x, y) == 0x7A7A7Au ? nRun + 1 : 0;
                nBest = std::max(nBest, nRun);
            }
        }
        return nBest;
    }
    // Shots of the window ("": the screen) until one shows what is awaited (at most 20 s: the
    // machine may be slow); the last one.
    static X11_SHOT WaitForShot(const std::string& strWindow, const std::function<bool(const X11_SHOT&)>& seen)
    {
        X11_SHOT shot;
        for (int i = 0; i < 200; ++i) {
            shot = Capture(strWindow);
            if (shot.w >= 480 && shot.h >= 320 && seen(shot)) break;
            Pause(100);
        }
        return shot;
    }
};

}  // namespace

TEST_F(X11EditBox, APlayerTypesANameWithAnInputMethodAndTheScriptReadsItBack)
{
    m_pid = Spawn({KX_KOLVEX_PATH, "--game", dir.strNative + "/game"},
                         {"LANG=C", "LC_ALL=C", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy", "KOLVEX_TEST_IME=山田",
                          "XDG_RUNTIME_DIR=" + dir.strNative, "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"},
                         (dir.strNative + "/kolvex.log").c_str());
    ASSERT_NE(m_pid, 0);
    // A start under the sanitizers on a loaded machine may take well over ten seconds.
    std::vector<std::string> ids;
    for (int i = 0; i < 1200 && ids.size() != 1; ++i) {
        ids = WindowsTitled(kTitle);
        if (ids.size() != 1) Pause(50);
    }
    ASSERT_EQ(ids.size(), 1u) << "the game's window did not appear\n" << Log();
    const std::string strMain = ids[0];
    RunTool({"xdotool", "windowactivate", "--sync", strMain});

    // The empty box with its focus: frame, white field, the caret at the left.
    X11_SHOT shot = WaitForShot(strMain, [](const X11_SHOT& s) { return s.At(kBoxX, kBoxY) == 0x7A7A7Au && CountInBox(s, 0, 1) >= 10; });
    KeepShot(shot, "x11-editbox-empty.png");
    ASSERT_GE(shot.w, 480);
    ASSERT_GE(shot.h, 320);
    EXPECT_EQ(shot.At(kBoxX, kBoxY), 0x7A7A7Au);
    EXPECT_EQ(shot.At(kBoxX + kBoxW - 1, kBoxY + kBoxH - 1), 0x7A7A7Au);
    EXPECT_NE(shot.At(kBoxX - 1, kBoxY - 1), 0xFFFFFFu);
    EXPECT_GE(CountInBox(shot, 0x000000u, 1), 10) << "no caret";
    EXPECT_GE(CountInBox(shot, 0xFFFFFFu, 1), (kBoxW - 2) * (kBoxH - 2) - 20);

    // ASCII from the keyboard, with a typing mistake taken back.
    RunTool({"xdotool", "type", "--delay", "60", "Tarx"});
    RunTool({"xdotool", "key", "--delay", "60", "BackSpace", "o", "space"});
    const auto Typed = [](const X11_SHOT& s) { return CountInBox(s, 0xFFFFFFu, 1) < (kBoxW - 2) * (kBoxH - 2) - 40; };
    shot = WaitForShot(strMain, Typed);
    KeepShot(shot, "x11-editbox-typed.png");
    EXPECT_TRUE(Typed(shot)) << "no text drawn";

    // The input method composes the family name: shown underlined at the caret, not yet text.
    RunTool({"xdotool", "key", "F8"});
    shot = WaitForShot(strMain, [](const X11_SHOT& s) { return LongestDarkRow(s) >= 20; });
    KeepShot(shot, "x11-editbox-composing.png");
    EXPECT_GE(LongestDarkRow(shot), 20) << "no underline under the composition";

    // Committed, then Return: the script reads the box and writes the name.
    RunTool({"xdotool", "key", "F8"});
    shot = WaitForShot(strMain, [](const X11_SHOT& s) { return LongestDarkRow(s) < 20; });
    KeepShot(shot, "x11-editbox-committed.png");
    EXPECT_LT(LongestDarkRow(shot), 20) << "the underline stayed after the commit";

    // In fullscreen the picture is scaled up to the screen: the box goes with it, larger, and still
    // takes the keyboard.
    RunTool({"xdotool", "key", "F5"});
    const X11_SHOT screen = WaitForShot("", [](const X11_SHOT& s) { return LongestFrameRun(s) > kBoxW * 3 / 2; });
    KeepShot(screen, "x11-editbox-fullscreen.png");
    EXPECT_GT(LongestFrameRun(screen), kBoxW * 3 / 2) << "the box's frame is not scaled with the picture";
    RunTool({"xdotool", "key", "--delay", "60", "exclam", "Return"});
    EXPECT_EQ(WaitExit(m_pid, 15000), 0) << Log();
    m_pid = 0;
    const std::string strName = dir.Read("game/name.txt");
    EXPECT_EQ(strName, PlatUtf8ToCp932String("Taro 山田!") + "\r\n") << PlatCp932ToUtf8String(strName.c_str());
    EXPECT_EQ(Log().find("X Error"), std::string::npos) << Log();
}
