// The real kolvex executable as a user starts it from a shell: its exit status after a quit and after
// every kind of failure, its options, its signals, folders of any name, a missing sound device and
// the diagnostic screenshot.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <functional>
#include <string>
#include <vector>


#include "tests/support/screenshot.h"
#include "tests/support/test_support.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

// A game whose root thread runs the steps and then waits one frame at a time for ever.
std::vector<GAME_FILE> GameOf(const std::function<void(SCRIPT_BUILDER*)>& steps, int nWidth = 160, int nHeight = 120,
                              const std::vector<KXV_DEF>& defs = {}, int nSoundMode = 0)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    if (steps) steps(&b);
    EXPECT_GE(AddLabel(&b, "IDLE"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
    EXPECT_GE(EmitGoto(&b, "IDLE"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = nWidth;
    game.config.nHeight = nHeight;
    game.defs.insert(game.defs.end(), defs.begin(), defs.end());
    game.config.nSoundMode = nSoundMode;
    game.scripts.push_back(ScriptFromBuilder("start.txt", b));
    return BuildGameFiles(game);
}

std::vector<GAME_FILE> IdleGame() { return GameOf(nullptr); }

// The headless environment of every run; the lock folder is the test's own so that runs of other
// tests never meet as a second copy.
std::vector<std::string> HeadlessEnv(const TEMP_DIR& dir, std::vector<std::string> extra = {})
{
    std::vector<std::string> env = {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                                    "XDG_DATA_HOME=" + dir.strNative + "/data", "KOLVEX_AUDIO=null"};
    env.insert(env.begin(), extra.begin(), extra.end());
    return env;
}

PROGRAM_RESULT Kolvex(const std::vector<std::string>& args, const std::vector<std::string>& env,
                      const std::string& strCwd = "")
{
    return RunProgramCaptured(KX_KOLVEX_PATH, args, env, strCwd);
}

}  // namespace

// ---- exit status ------------------------------------------------------------------------------

TEST(KolvexExitStatus, ZeroAfterAQuitOneAfterEveryFailure)
{
    const struct {
        const char* pszCase;
        std::function<void(const TEMP_DIR&, const std::string&)> make;   // fills the game folder
        std::vector<std::string> extraArgs;
        int nStatus;
        const char* pszErr;   // in standard error, or NULL
    } kCases[] = {
        {"a quit after frames", [](const TEMP_DIR&, const std::string& g) { WriteGameFolder(g, IdleGame()); }, {}, 0,
         nullptr},
        {"the licence notice", [](const TEMP_DIR&, const std::string&) {}, {"/info"}, 0, "License Information"},
        {"an empty folder", [](const TEMP_DIR&, const std::string&) {}, {}, 1, "kxcfg.kbn"},
        {"a pack of random bytes",
         [](const TEMP_DIR& d, const std::string&) {
             std::vector<uint8_t> junk(4096);
             uint32_t x = 12345;
             for (uint8_t& v : junk) v = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
             d.Write("game/data.kpf", junk);
         },
         {}, 1, "kxcfg.kbn"},
        {"a pack cut after its header",
         [](const TEMP_DIR& d, const std::string& g) {
             ASSERT_EQ(WriteGamePack(g + "/data.kpf", IdleGame()), 0);
             const std::string strAll = d.Read("game/data.kpf");
             d.Write("game/data.kpf", std::vector<uint8_t>(strAll.begin(), strAll.begin() + 16));
         },
         {}, 1, nullptr},
        {"no engine configuration",
         [](const TEMP_DIR&, const std::string& g) {
             WriteGameFolder(g, IdleGame());
             std::remove((g + "/kxbin/kxcfg.kbn").c_str());
         },
         {}, 1, "kxcfg.kbn"},
        {"a fatal script error while running",
         [](const TEMP_DIR&, const std::string& g) {
             WriteGameFolder(g, GameOf([](SCRIPT_BUILDER* b) { EmitGoto(b, "NOWHERE"); }));
         },
         {}, 1, "start.txt"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszCase);
        TEMP_DIR dir;
        const std::string strGame = dir.strNative + "/game";
        ASSERT_EQ(mkdir(strGame.c_str(), 0755), 0);
        c.make(dir, strGame);
        std::vector<std::string> args = {"--game", strGame};
        args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
        const PROGRAM_RESULT r = Kolvex(args, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=3"}));
        EXPECT_EQ(r.nStatus, c.nStatus) << r.strErr;
        if (c.pszErr) {
            EXPECT_NE(r.strErr.find(c.pszErr), std::string::npos) << r.strErr;
        }
        EXPECT_EQ(r.strErr.find("Sanitizer"), std::string::npos) << r.strErr;
    }
}

TEST(KolvexExitStatus, AnUnreadablePackIsAFailure)
{
    if (geteuid() == 0) GTEST_SKIP() << "the superuser reads every file";
    TEMP_DIR dir;
    const std::string strGame = dir.strNative + "/game";
    ASSERT_EQ(WriteGamePack(strGame + "/data.kpf", IdleGame()), 0);
    ASSERT_EQ(chmod((strGame + "/data.kpf").c_str(), 0), 0);
    const PROGRAM_RESULT r = Kolvex({"--game", strGame}, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=3"}));
    EXPECT_EQ(r.nStatus, 1) << r.strErr;
    EXPECT_NE(r.strErr.find("data.kpf"), std::string::npos) << r.strErr;
}

// ---- options and arguments ------------------------------------------------------------------------

TEST(KolvexArguments, HelpVersionAndMistakesAreAnsweredOnTheirOwn)
{
    TEMP_DIR dir;
    const struct {
        std::vector<std::string> args;
        int nStatus;
        const char* pszOut;   // in standard output
        const char* pszErr;   // in standard error
    } kCases[] = {
        {{"--help"}, 0, "Usage: kolvex [--game FOLDER]", nullptr},
        {{"-h"}, 0, "Usage: kolvex [--game FOLDER]", nullptr},
        {{"--version"}, 0, "kolvex 0.", nullptr},
        {{"--bogus"}, 1, nullptr, "unknown option --bogus"},
        {{"gmae"}, 1, nullptr, "\"gmae\" names no folder: No such file or directory"},
        {{dir.strNative + "/nowhere/game"}, 1, nullptr, "/nowhere/game\" names no folder"},
        {{"--game", dir.strNative + "/nowhere"}, 1, nullptr, "/nowhere\" cannot be used: No such file or directory"},
        {{"--game"}, 1, nullptr, "--game needs the game folder"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args[0]);
        const PROGRAM_RESULT r = Kolvex(c.args, HeadlessEnv(dir), dir.strNative);
        EXPECT_EQ(r.nStatus, c.nStatus) << r.strErr;
        if (c.pszOut) {
            EXPECT_NE(r.strOut.find(c.pszOut), std::string::npos) << r.strOut;
            EXPECT_EQ(r.strErr, "");
        }
        if (c.pszErr) {
            EXPECT_NE(r.strErr.find(c.pszErr), std::string::npos) << r.strErr;
            // Refused before anything of the engine ran: no talk of a missing configuration.
            EXPECT_EQ(r.strErr.find("kxcfg"), std::string::npos) << r.strErr;
        }
    }
}

TEST(KolvexArguments, APackOfRandomBytesIsNamed)
{
    TEMP_DIR dir;
    std::vector<uint8_t> junk(1000);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 37 + 11);
    dir.Write("game/data.kpf", junk);
    const PROGRAM_RESULT r = Kolvex({"--game", dir.strNative + "/game"}, HeadlessEnv(dir));
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find(dir.strNative + "/game/data.kpf is not a pack archive"), std::string::npos) << r.strErr;
}

// ---- signals --------------------------------------------------------------------------------------

TEST(KolvexSignals, EachQuitSignalRunsTheOrderlyShutdown)
{
    for (const int nSignal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(nSignal);
        TEMP_DIR dir;
        // The game saves a file once its script runs, then idles for ever.
        const auto markRunning = [](SCRIPT_BUILDER* b) {
            EmitCommand(b, KXCMD_SAVE, {ExprArg(2, MakeExprInt(1)), ExprArg(3, MakeExprVar(1000))});
            EmitCommand(b, KXCMD_SAVE, {ExprArg(0, MakeExprText("running"), EVALTYPE_TEXT)});
        };
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", GameOf(markRunning, 160, 120, {MakeIntVarDef(1000, 1)})), 0);
        // The screenshot is written by the last step of shut-down: it shows that shut-down ran.
        const std::string strShot = dir.strNative + "/shot.png";
        RUNNING_PROGRAM run;
        ASSERT_EQ(StartProgramForTest(&run, KX_KOLVEX_PATH, {"--game", dir.strNative + "/game"},
                                      HeadlessEnv(dir, {"KOLVEX_SCREENSHOT=" + strShot})),
                  0);
        // The signal comes once the game runs (however slowly the machine starts it).
        for (int i = 0; i < 600 && !dir.Exists("game/save/running.sd"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(dir.Exists("game/save/running.sd"));
        ASSERT_EQ(SignalProgramForTest(&run, nSignal), 0);
        const PROGRAM_RESULT r = WaitProgramForTest(&run, 30000);
        EXPECT_EQ(r.nStatus, 0) << r.strErr;
        EXPECT_TRUE(dir.Exists("shot.png")) << r.strErr;
        EXPECT_EQ(r.strErr.find("Sanitizer"), std::string::npos) << r.strErr;
    }
}

// ---- folders of any name --------------------------------------------------------------------------

TEST(KolvexFolders, GamesInFoldersCp932CannotExpressRunAndSave)
{
    constexpr uint16_t kVar = 1000;
    const auto saveOnce = [](SCRIPT_BUILDER* b) {
        EmitCommand(b, KXCMD_SAVE, {ExprArg(2, MakeExprInt(1)), ExprArg(3, MakeExprVar(kVar))});   // DNO 1: the variable
        EmitCommand(b, KXCMD_SAVE, {ExprArg(0, MakeExprText("slot"), EVALTYPE_TEXT)});              // into save\slot.sd
    };
    for (const char* pszName : {"Café é", "Spiel ü/🎮 ゲーム", "😀"}) {
        SCOPED_TRACE(pszName);
        TEMP_DIR dir;
        const std::string strGame = dir.strNative + "/" + pszName;
        ASSERT_EQ(WriteGameFolder(strGame, GameOf(saveOnce, 160, 120, {MakeIntVarDef(kVar, 42)})), 0);
        // Started from inside the folder with no argument, as from a file manager.
        const PROGRAM_RESULT r = Kolvex({}, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=10",
                                                               "XDG_DATA_HOME=" + dir.strNative + "/données 📁"}),
                                        strGame);
        EXPECT_EQ(r.nStatus, 0) << r.strErr;
        EXPECT_TRUE(dir.Exists(std::string(pszName) + "/save/slot.sd")) << r.strErr;
        EXPECT_EQ(r.strErr.find("Sanitizer"), std::string::npos) << r.strErr;
    }
}

TEST(KolvexFolders, MessagesNameTheRealFolder)
{
    TEMP_DIR dir;
    const std::string strGame = dir.strNative + "/jeu é 🎲";
    ASSERT_EQ(WriteGameFolder(strGame, IdleGame()), 0);
    std::remove((strGame + "/kxbin/kxcfg.kbn").c_str());
    const PROGRAM_RESULT r = Kolvex({"--game", strGame}, HeadlessEnv(dir));
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find(strGame), std::string::npos) << r.strErr;
    EXPECT_EQ(r.strErr.find("kx-folder-"), std::string::npos) << r.strErr;
}

// ---- sound output ---------------------------------------------------------------------------------

TEST(KolvexSound, NoAudioDeviceMeansSilenceAndAMistypedOutputIsNamed)
{
    const struct {
        const char* pszCase;
        std::vector<std::string> env;
        const char* pszErr;
    } kCases[] = {
        // A game that requires sound, on a machine whose audio driver does not exist.
        {"no audio device", {"SDL_AUDIODRIVER=no-such-driver", "KOLVEX_AUDIO="},
         "no audio device could be opened"},
        {"a mistyped output", {"SDL_AUDIODRIVER=dummy", "KOLVEX_AUDIO=nul"},
         "KOLVEX_AUDIO=nul is not a sound output; the valid values are sdl, null, wav:FILE, framewav:FILE, manual; sdl is "
         "used"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszCase);
        TEMP_DIR dir;
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", GameOf(nullptr, 160, 120, {}, 2)), 0);
        std::vector<std::string> env = c.env;
        env.push_back("KOLVEX_QUIT_AFTER_FRAMES=5");
        const PROGRAM_RESULT r = Kolvex({"--game", dir.strNative + "/game"}, HeadlessEnv(dir, env));
        EXPECT_EQ(r.nStatus, 0) << r.strErr;
        const size_t nAt = r.strErr.find(c.pszErr);
        EXPECT_NE(nAt, std::string::npos) << r.strErr;
        EXPECT_EQ(r.strErr.find(c.pszErr, nAt + 1), std::string::npos) << "said once: " << r.strErr;
    }
}

// ---- the licence notice ---------------------------------------------------------------------------

// Every library the executable links directly (its NEEDED entries, as the build made it) is named
// in the /info notice. A library added to the build without its notice fails here, by name.
TEST(KolvexLicenceNotice, NamesEveryLibraryTheExecutableLinks)
{
    // Shared-object name prefixes and the name the notice gives; NULL: a part of the toolchain's
    // sanitizer builds only, or the loader.
    const struct {
        const char* pszSoname;
        const char* pszNotice;
    } kNames[] = {
        {"libSDL2-2.0.so", "SDL2: zlib License"},
        {"libfreetype.so", "FreeType: FreeType License"},
        {"libfontconfig.so", "fontconfig: MIT License"},
        {"libX11.so", "Xlib (libX11, libXext): MIT/X11 License"},
        {"libXext.so", "Xlib (libX11, libXext): MIT/X11 License"},
        {"libc.so", "GNU C Library (glibc, iconv): LGPL"},
        {"libm.so", "GNU C Library (glibc, iconv): LGPL"},
        {"libstdc++.so", "libstdc++, libgcc: GPL 3 with the GCC Runtime Library Exception"},
        {"libgcc_s.so", "libstdc++, libgcc: GPL 3 with the GCC Runtime Library Exception"},
        {"libz.so", "zlib: zlib License"},
        {"libpng16.so", "libpng: libpng License"},
        {"libjpeg.so", "libjpeg-turbo: IJG License and BSD 3-Clause License"},
        {"libwebp.so", "libwebp: BSD 3-Clause License"},
        {"libsnappy.so", "Snappy: BSD 3-Clause License"},
        {"libogg.so", "libogg, libvorbis, libtheora: BSD 3-Clause License"},
        {"libvorbis.so", "libogg, libvorbis, libtheora: BSD 3-Clause License"},
        {"libvorbisfile.so", "libogg, libvorbis, libtheora: BSD 3-Clause License"},
        {"libtheoradec.so", "libogg, libvorbis, libtheora: BSD 3-Clause License"},
        {"libavformat.so", "FFmpeg (libav*, libsw*): LGPL 2.1 or later"},
        {"libavcodec.so", "FFmpeg (libav*, libsw*): LGPL 2.1 or later"},
        {"libavutil.so", "FFmpeg (libav*, libsw*): LGPL 2.1 or later"},
        {"libswscale.so", "FFmpeg (libav*, libsw*): LGPL 2.1 or later"},
        {"libswresample.so", "FFmpeg (libav*, libsw*): LGPL 2.1 or later"},
        {"libasan.so", nullptr},
        {"libubsan.so", nullptr},
        {"ld-linux", nullptr},
    };
    TEMP_DIR dir;
    const PROGRAM_RESULT elf = RunProgramCaptured("/usr/bin/readelf", {"-d", KX_KOLVEX_PATH}, {});
    ASSERT_EQ(elf.nStatus, 0) << elf.strErr;
    std::vector<std::string> needed;
    for (size_t nAt = elf.strOut.find("(NEEDED)"); nAt != std::string::npos; nAt = elf.strOut.find("(NEEDED)", nAt + 1)) {
        const size_t nOpen = elf.strOut.find('[', nAt), nClose = elf.strOut.find(']', nAt);
        ASSERT_TRUE(nOpen != std::string::npos && nClose != std::string::npos && nOpen < nClose);
        needed.push_back(elf.strOut.substr(nOpen + 1, nClose - nOpen - 1));
    }
    ASSERT_GE(needed.size(), 10u) << elf.strOut;

    dir.Write("game/empty.txt", std::string());
    const PROGRAM_RESULT info = Kolvex({"--game", dir.strNative + "/game", "/info"}, HeadlessEnv(dir));
    EXPECT_EQ(info.nStatus, 0);
    ASSERT_NE(info.strErr.find("[License Information]"), std::string::npos) << info.strErr;
    for (const std::string& strSoname : needed) {
        SCOPED_TRACE(strSoname);
        const char* pszNotice = "";
        bool bKnown = false;
        for (const auto& n : kNames) {
            if (strSoname.rfind(n.pszSoname, 0) == 0) {   // "libz.so" for "libz.so.1"
                bKnown = true;
                pszNotice = n.pszNotice;
                break;
            }
        }
        EXPECT_TRUE(bKnown) << "a library the notice does not know: add it to the notice and to this table";
        if (bKnown && pszNotice) {
            EXPECT_NE(info.strErr.find(pszNotice), std::string::npos) << info.strErr;
        }
    }
}

// ---- the diagnostic screenshot --------------------------------------------------------------------

namespace {

// The screenshot's pixels as 0xRRGGBB values; empty when it cannot be read.
std::vector<uint32_t> ReadShotPixels(const std::string& strPath, int* pnWidth, int* pnHeight)
{
    SHOT shot;
    if (!ReadShot(strPath, &shot)) return {};
    *pnWidth = static_cast<int>(shot.nWidth);
    *pnHeight = static_cast<int>(shot.nHeight);
    std::vector<uint32_t> px;
    for (size_t i = 0; i + 2 < shot.rgb.size(); i += 3)
        px.push_back(static_cast<uint32_t>(shot.rgb[i] << 16 | shot.rgb[i + 1] << 8 | shot.rgb[i + 2]));
    return px;
}

// A game whose first command shows a 160 x 120 picture of one colour as a layer of window 0.
std::vector<GAME_FILE> PictureGame(const TEMP_DIR& dir, const std::string& strGame, uint32_t nColour)
{
    std::vector<uint32_t> px(160 * 120, 0xFF000000u | nColour);
    dir.Write(strGame.substr(dir.strNative.size() + 1) + "/pic.bmp", WriteBmp(160, 120, BMP_WRITER_OPTIONS{}, px.data(), nullptr));
    return GameOf([](SCRIPT_BUILDER* b) {
        EmitCommand(b, KXCMD_LAYER, {ExprArg(0, MakeExprText("pic"), EVALTYPE_TEXT),
                                     ExprArg(46, MakeExprText("pic.bmp"), EVALTYPE_TEXT), ExprArg(6, MakeExprInt(1))});
    });
}

}  // namespace

TEST(KolvexScreenshot, TheLastFrameIsInThePictureEvenAfterOneFrame)
{
    for (const char* pszFrames : {"1", "2", "5"}) {
        SCOPED_TRACE(pszFrames);
        TEMP_DIR dir;
        const std::string strGame = dir.strNative + "/game";
        ASSERT_EQ(WriteGameFolder(strGame, PictureGame(dir, strGame, 0x3366CC)), 0);
        const std::string strShot = dir.strNative + "/shot.png";
        const PROGRAM_RESULT r = Kolvex({"--game", strGame}, HeadlessEnv(dir, {std::string("KOLVEX_QUIT_AFTER_FRAMES=") + pszFrames,
                                                                               "KOLVEX_SCREENSHOT=" + strShot}));
        ASSERT_EQ(r.nStatus, 0) << r.strErr;
        int w = 0, h = 0;
        const std::vector<uint32_t> px = ReadShotPixels(strShot, &w, &h);
        ASSERT_EQ(px.size(), 160u * 120u) << r.strErr;
        EXPECT_EQ(px[0], 0x3366CCu);
        EXPECT_EQ(px[px.size() / 2 + 80], 0x3366CCu);
        EXPECT_EQ(px.back(), 0x3366CCu);
    }
}

TEST(KolvexScreenshot, ARelativePathIsTakenFromTheFolderKolvexStartedIn)
{
    TEMP_DIR dir;
    const std::string strGame = dir.strNative + "/game";
    ASSERT_EQ(WriteGameFolder(strGame, PictureGame(dir, strGame, 0x20A040)), 0);
    dir.Write("here/shots/keep.txt", std::string("x"));
    const PROGRAM_RESULT r = Kolvex({"--game", strGame}, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=3",
                                                                           "KOLVEX_SCREENSHOT=shots/last.png"}),
                                    dir.strNative + "/here");
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_FALSE(dir.Exists("game/shots/last.png"));
    int w = 0, h = 0;
    EXPECT_EQ(ReadShotPixels(dir.strNative + "/here/shots/last.png", &w, &h).size(), 160u * 120u) << r.strErr;
}

// With a list of frames the screenshot switch also keeps the pictures of those frames and writes
// them beside the last one as "<name>-N.png"; a list that does not rise is reported and ignored.
TEST(KolvexScreenshot, PicturesOfChosenFramesAreWrittenBesideTheLast)
{
    TEMP_DIR dir;
    const std::string strGame = dir.strNative + "/game";
    ASSERT_EQ(WriteGameFolder(strGame, PictureGame(dir, strGame, 0xC08020)), 0);
    const PROGRAM_RESULT r = Kolvex({"--game", strGame}, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=5",
                                                                           "KOLVEX_SCREENSHOT_AT_FRAMES=1,3",
                                                                           "KOLVEX_SCREENSHOT=" + dir.strNative + "/s.png"}));
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    for (const char* pszName : {"s-1.png", "s-3.png", "s.png"}) {
        int w = 0, h = 0;
        const std::vector<uint32_t> px = ReadShotPixels(dir.strNative + "/" + pszName, &w, &h);
        ASSERT_EQ(px.size(), 160u * 120u) << pszName << "\n" << r.strErr;
        EXPECT_EQ(px[px.size() / 2 + 80], 0xC08020u) << pszName;
    }
    EXPECT_FALSE(dir.Exists("s-5.png"));

    const PROGRAM_RESULT bad = Kolvex({"--game", strGame}, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=5",
                                                                             "KOLVEX_SCREENSHOT_AT_FRAMES=3,2",
                                                                             "KOLVEX_SCREENSHOT=" + dir.strNative + "/t.png"}));
    ASSERT_EQ(bad.nStatus, 0) << bad.strErr;
    EXPECT_NE(bad.strErr.find("KOLVEX_SCREENSHOT_AT_FRAMES=3,2 is not a rising list"), std::string::npos) << bad.strErr;
    EXPECT_TRUE(dir.Exists("t.png"));
    EXPECT_FALSE(dir.Exists("t-3.png"));
}
