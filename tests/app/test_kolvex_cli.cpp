// The real kolvex executable as a user starts it from a shell: its exit status after a quit and after
// every kind of failure, its options, its signals, folders of any name, a missing sound device and
// the diagnostic screenshot.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <functional>
#include <string>
#include <vector>


#include "tests/support/failing_files.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_support.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "image/cmd_layer.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/pack_writer.h"
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
    // Each failure keeps the game's own box (its text on standard error without a display) and says
    // in English, on the line that ends the run, what is wrong and what to do.
    const struct {
        const char* pszCase;
        std::function<void(const TEMP_DIR&, const std::string&)> make;   // fills the game folder
        std::vector<std::string> extraArgs;
        int nStatus;
        const char* pszErr;      // in standard error, or NULL
        const char* pszReason;   // after "could not start: " (the game folder's path put for %s), or NULL
    } kCases[] = {
        {"a quit after frames", [](const TEMP_DIR&, const std::string& g) { WriteGameFolder(g, IdleGame()); }, {}, 0,
         nullptr, nullptr},
        {"the licence notice", [](const TEMP_DIR&, const std::string&) {}, {"/info"}, 0, "License Information", nullptr},
        {"an empty folder", [](const TEMP_DIR&, const std::string&) {}, {}, 1, "kxcfg.kbn",
         "%s holds no game: kolvex looked there for kxbin/kxcfg.kbn and for packs (*.kpf) and found neither; "
         "start kolvex with the folder of a game (kolvex --game FOLDER), or open that folder with KOLVEX in the "
         "file manager\n"},
        {"a pack of random bytes",
         [](const TEMP_DIR& d, const std::string&) {
             std::vector<uint8_t> junk(4096);
             uint32_t x = 12345;
             for (uint8_t& v : junk) v = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
             d.Write("game/data.kpf", junk);
         },
         {}, 1, "kxcfg.kbn",
         "the pack %s/data.kpf is damaged (it is not a pack archive), and nothing else in %s holds the game's "
         "configuration kxbin/kxcfg.kbn; copy the game's pack again from where it came\n"},
        {"a pack cut after its header",
         [](const TEMP_DIR& d, const std::string& g) {
             ASSERT_EQ(WriteGamePack(g + "/data.kpf", IdleGame()), 0);
             const std::string strAll = d.Read("game/data.kpf");
             d.Write("game/data.kpf", std::vector<uint8_t>(strAll.begin(), strAll.begin() + 16));
         },
         {}, 1, nullptr, "the pack %s/data.kpf is damaged or of another format"},
        {"a pack without the configuration",
         [](const TEMP_DIR&, const std::string& g) {
             std::vector<GAME_FILE> files = IdleGame();
             std::erase_if(files, [](const GAME_FILE& f) { return f.strName.find("kxcfg.kbn") != std::string::npos; });
             ASSERT_EQ(WriteGamePack(g + "/extra.kpf", files), 0);
         },
         {}, 1, "kxcfg.kbn",
         "no pack in %s (extra.kpf) holds the game's configuration kxbin/kxcfg.kbn, and there is no kxbin folder; "
         "copy the pack that holds the game (usually data.kpf) into the folder\n"},
        {"a folder with only scripts",
         [](const TEMP_DIR& d, const std::string&) {
             d.Write("game/start.txt", std::string("*SYSTEM_START\n"));
             d.Write("game/scene1.txt", std::string("*SCENE\n"));
         },
         {}, 1, "kxcfg.kbn",
         "%s holds scripts (%s/scene1.txt) but not their compiled form, kxbin/kxcfg.kbn, and kolvex plays compiled "
         "games only; compile the scripts with the game's script compiler"},
        {"no engine configuration",
         [](const TEMP_DIR&, const std::string& g) {
             WriteGameFolder(g, IdleGame());
             std::remove((g + "/kxbin/kxcfg.kbn").c_str());
         },
         {}, 1, "kxcfg.kbn",
         "the compiled game in %s/kxbin lacks kxcfg.kbn, the game's configuration; the game is incomplete: "
         "compile its scripts again, or copy the whole game folder again\n"},
        {"a fatal script error while running",
         [](const TEMP_DIR&, const std::string& g) {
             WriteGameFolder(g, GameOf([](SCRIPT_BUILDER* b) { EmitGoto(b, "NOWHERE"); }));
         },
         {}, 1, "start.txt", nullptr},
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
        if (c.pszReason) {
            std::string strReason = c.pszReason;
            for (size_t nAt = strReason.find("%s"); nAt != std::string::npos; nAt = strReason.find("%s", nAt))
                strReason.replace(nAt, 2, strGame);
            EXPECT_NE(r.strErr.find("kolvex: the game in " + strGame + " could not start: " + strReason),
                      std::string::npos)
                << r.strErr;
        }
        EXPECT_EQ(r.strErr.find("Sanitizer"), std::string::npos) << r.strErr;
    }
}

TEST(KolvexExitStatus, AStartFromTheDesktopWithoutAGameSaysWhereItLookedAndHowToOpenOne)
{
    // The desktop entry without a folder: no terminal (standard input is /dev/null and standard error
    // a file here), started in the home folder, the executable in a folder without a game. Its box
    // (on standard error without a display) and its line name the folder as it is on disk, also
    // where code page 932 has no such characters.
    for (const char* pszBin : {"bin", "home-\xC3\xA9/.local/bin", "\xCE\xB1\xCE\xB2-\xF0\x9F\x8E\xAE/bin"}) {
        SCOPED_TRACE(pszBin);
        TEMP_DIR dir;
        const std::string strBin = dir.strNative + "/" + pszBin;
        dir.Write("home/notes.txt", std::string("x"));
        dir.Write(std::string(pszBin) + "/readme.md", std::string("x"));
        const PROGRAM_RESULT r = Kolvex({}, HeadlessEnv(dir, {"KOLVEX_EXE_PATH=" + strBin + "/kolvex"}),
                                        dir.strNative + "/home");
        EXPECT_EQ(r.nStatus, 1) << r.strErr;
        EXPECT_NE(r.strErr.find("[KOLVEX]\nKOLVEX found no game in " + strBin + ".\n\nTo play a game, open "
                                "its folder with KOLVEX: in the file manager, choose \"Open With\" and KOLVEX on the "
                                "game's folder, or run kolvex FOLDER in a terminal."),
                  std::string::npos)
            << r.strErr;
        EXPECT_NE(r.strErr.find("kolvex: the game in " + strBin + " could not start: " + strBin + " holds no game"),
                  std::string::npos)
            << r.strErr;
        EXPECT_EQ(r.strErr.find('?'), std::string::npos) << r.strErr;
        // Only that box: not the game's own about a missing file, which would mean nothing there.
        EXPECT_EQ(r.strErr.find("kxcfg.kbn]"), std::string::npos) << r.strErr;
    }
}

namespace {

// A game whose start script shows the picture pic.bmp after its first frame, so that the picture is
// read from the pack while the game runs.
std::vector<GAME_FILE> PictureGame(void)
{
    std::vector<GAME_FILE> files = GameOf([](SCRIPT_BUILDER* b) {
        const auto I = [](int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v)); };
        const auto T = [](int nId, const std::string& str) {
            return ExprArg(static_cast<uint8_t>(nId), MakeExprText(str), EVALTYPE_TEXT);
        };
        EXPECT_GE(EmitCommand(b, KXCMD_WAIT, {I(0, 1)}), 0);
        EXPECT_GE(EmitCommand(b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "pic"), I(LAYER_ARG_ORDER, 1),
                                               T(LAYER_ARG_IMAGE, "pic.bmp")}),
                  0);
    });
    std::vector<uint32_t> px(64 * 48);
    for (size_t i = 0; i < px.size(); ++i) px[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
    files.push_back({"pic.bmp", WriteBmp(64, 48, BMP_WRITER_OPTIONS{}, px.data(), nullptr)});
    return files;
}

// The game's pack image: entries in the files' order (the picture last), each compressed or stored,
// without the repair trailer (a trailer would mend the one flipped bit).
std::vector<uint8_t> PackOf(const std::vector<GAME_FILE>& files, int nCompression, std::vector<PACK_TABLE_ENTRY>* pTable)
{
    std::vector<PACK_WRITER_ENTRY> entries;
    for (const GAME_FILE& f : files) {
        PACK_WRITER_ENTRY e;
        e.strName = f.strName;
        e.data = f.data;
        e.nCompression = nCompression;
        e.bRepairTrailer = false;
        entries.push_back(std::move(e));
    }
    std::vector<uint8_t> image = BuildPackImage(entries);
    EXPECT_EQ(ReadPackTable(image.data(), image.size(), pTable), 0);
    return image;
}

size_t EntryIndex(const std::vector<PACK_TABLE_ENTRY>& table, const std::string& strName)
{
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].strName == strName) return i;
    ADD_FAILURE() << "no entry " << strName;
    return 0;
}

}  // namespace

// A pack damaged where an entry lies (one bit flipped, or the file cut short) ends the run with
// status 1, at start or while the game runs. The game's own box keeps its Japanese text, and in
// English the box and the run's last line name the pack by its real path (in a folder whose name
// code page 932 lacks) and the entry, and say what to do.
TEST(KolvexExitStatus, ADamagedPackNamesThePackAndTheEntryInEnglish)
{
    const struct {
        const char* pszCase;
        const char* pszEntry;   // damaged
        int nCompression;
        bool bCut;              // cut in the entry's data, else one bit of it flipped
        bool bAtStart;          // start-up fails, else the game ends while it runs
    } kCases[] = {
        {"a bit flipped in the configuration", "kxbin\\kxcfg.kbn", 0, false, true},
        {"a bit flipped in a compressed picture", "pic.bmp", 1, false, false},
        {"a bit flipped in a stored picture", "pic.bmp", 0, false, false},
        {"the pack cut in the picture", "pic.bmp", 1, true, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszCase);
        TEMP_DIR dir;
        const std::string strGame = dir.strNative + "/g\xC3\xA4me-\xC3\xA9";
        std::vector<PACK_TABLE_ENTRY> table;
        std::vector<uint8_t> image = PackOf(PictureGame(), c.nCompression, &table);
        ASSERT_FALSE(table.empty());
        const PACK_TABLE_ENTRY& e = table[EntryIndex(table, c.pszEntry)];
        if (c.bCut) {
            ASSERT_EQ(&e, &table.back()) << "the picture's data lies last";
            image.resize(static_cast<size_t>(e.llOffset) + static_cast<size_t>(e.nStoredSize) / 2);
        } else {
            image[static_cast<size_t>(e.llOffset) + static_cast<size_t>(e.nStoredSize) / 2] ^= 0x08;
        }
        dir.Write(std::string("g\xC3\xA4me-\xC3\xA9") + "/data.kpf", image);

        const PROGRAM_RESULT r = Kolvex({"--game", strGame}, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=30"}));
        EXPECT_EQ(r.nStatus, 1) << r.strErr;
        const std::string strEnglish = "the pack " + strGame + "/data.kpf is damaged: its entry " + c.pszEntry +
                                       " cannot be read (the pack is cut short, or bytes in it were altered); get the "
                                       "game again: reinstall it, or copy the game's folder (or this pack) again from "
                                       "where it came";
        // The box (on standard error without a display): the game's text, then the English words.
        const size_t nBox = r.strErr.find("PacFile = ");
        ASSERT_NE(nBox, std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.find("File = " + std::string(c.pszEntry) + "\n\n" + strEnglish + "\n", nBox),
                  std::string::npos)
            << r.strErr;
        const std::string strLine = c.bAtStart ? "kolvex: the game in " + strGame + " could not start: " + strEnglish + "\n"
                                               : "kolvex: the game in " + strGame + " ended after a fatal error: " +
                                                     strEnglish + "\n";
        EXPECT_NE(r.strErr.find(strLine), std::string::npos) << r.strErr;
        EXPECT_EQ(r.strErr.find("Sanitizer"), std::string::npos) << r.strErr;

        // The pack tool finds the same damage without starting the game, naming the entry.
        for (const char* pszMode : {"--check", "--list"}) {
            const PROGRAM_RESULT k = RunProgramCaptured(KX_KXPACK_PATH, {pszMode, strGame + "/data.kpf"}, {});
            EXPECT_EQ(k.nStatus, 1) << pszMode << ": " << k.strErr;
            EXPECT_NE(k.strErr.find("entry " + std::string(c.pszEntry) + ":"), std::string::npos) << pszMode << ": " << k.strErr;
        }
    }
    // The sound pack passes both.
    TEMP_DIR dir;
    std::vector<PACK_TABLE_ENTRY> table;
    const std::string strSound = dir.Write("data.kpf", PackOf(PictureGame(), 1, &table));
    for (const char* pszMode : {"--check", "--list"}) {
        const PROGRAM_RESULT k = RunProgramCaptured(KX_KXPACK_PATH, {pszMode, strSound}, {});
        EXPECT_EQ(k.nStatus, 0) << pszMode << ": " << k.strErr;
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

namespace {

BUILDER_ARG TextArg(int nId, const std::string& str)
{
    return ExprArg(static_cast<uint8_t>(nId), MakeExprText(str), EVALTYPE_TEXT);
}

BUILDER_ARG IntArg(int nId, int64_t v)
{
    return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v));
}

// A game that loads the file into a sound object after a few frames (the command waits for the
// load) and then idles; sound on.
std::vector<GAME_FILE> SoundLoadGame(const std::string& strName, const std::vector<uint8_t>& file)
{
    std::vector<GAME_FILE> files = GameOf(
        [&](SCRIPT_BUILDER* b) {
            EmitCommand(b, KXCMD_WAIT, {IntArg(0, 3)});
            EmitCommand(b, KXCMD_SOUND, {TextArg(0, "se"), TextArg(2, strName)});
        },
        160, 120, {}, 1);
    files.push_back({strName, file});
    return files;
}

// Layer commands after a few frames (arguments: 0 the path, 6 the order, 46 the image, 48 the alpha
// source), with the pictures they name.
std::vector<GAME_FILE> LayerGame(const std::vector<std::vector<BUILDER_ARG>>& commands, std::vector<GAME_FILE> pictures)
{
    std::vector<GAME_FILE> files = GameOf([&](SCRIPT_BUILDER* b) {
        EmitCommand(b, KXCMD_WAIT, {IntArg(0, 3)});
        for (const std::vector<BUILDER_ARG>& args : commands) EmitCommand(b, KXCMD_LAYER, args);
    });
    files.insert(files.end(), pictures.begin(), pictures.end());
    return files;
}

GAME_FILE Picture(const std::string& strName, int w, int h)
{
    BMP_WRITER_OPTIONS opt;
    const std::vector<uint32_t> px(static_cast<size_t>(w) * static_cast<size_t>(h), 0xFF3060C0u);
    return {strName, WriteBmp(w, h, opt, px.data(), nullptr)};
}

}  // namespace

// Every stop that an error causes ends the run with status 1, whichever step or thread saw it: a
// fatal error while the start script's body loads (such a run once waited for ever, past its frame
// limit), the sound thread's error box, a WebP whose header check fails, an alpha source of
// another size.
TEST(KolvexExitStatus, OneAfterEveryStopAnErrorCaused)
{
    // The RIFF form of a WebP around a picture chunk that no decoder takes.
    const std::vector<uint8_t> badWebP = {'R', 'I', 'F', 'F', 20, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', ' ',
                                          8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    const struct {
        const char* pszCase;
        std::function<std::vector<GAME_FILE>()> make;
        const char* pszErr;   // in standard error (the box's text)
    } kCases[] = {
        {"a constant jump target that fails while the start script's body loads",
         [] {
             return GameOf([](SCRIPT_BUILDER* b) {
                 EmitCommand(b, KXCMD_WAIT, {IntArg(0, 1)});
                 EmitGotoExpr(b, FailingExpression());
             });
         },
         "[KOLVEX Debug Info.]"},
        {"a local variable definition of the start script that fails",
         [] {
             KXV_DEF local = MakeTextVarDef(1000, "");
             local.expr = FailingExpression();
             local.bScope = VARSCOPE_SCRIPT;
             local.nScript = 0;
             return GameOf(nullptr, 160, 120, {local});
         },
         "[KOLVEX Debug Info.]"},
        {"a damaged WAV loaded by the sound thread",
         [] { return SoundLoadGame("bad.wav", DamagedWavFile()); },
         "10040"},
        {"a damaged Ogg loaded by the sound thread", [] { return SoundLoadGame("bad.ogg", DamagedOggFile()); },
         "1030"},
        {"a WebP whose header check fails",
         [&] { return LayerGame({{TextArg(0, "p"), IntArg(6, 1), TextArg(46, "bad.webp")}}, {{"bad.webp", badWebP}}); },
         "File Check Error."},
        {"an alpha source of another size",
         [] {
             return LayerGame({{TextArg(0, "a"), IntArg(6, 1), TextArg(46, "small.bmp")},
                               {TextArg(0, "b"), IntArg(6, 2), TextArg(46, "big.bmp"), TextArg(48, "a")}},
                              {Picture("small.bmp", 4, 4), Picture("big.bmp", 8, 8)});
         },
         "サイズが異なります"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszCase);
        TEMP_DIR dir;
        const std::string strGame = dir.strNative + "/game";
        ASSERT_EQ(WriteGameFolder(strGame, c.make()), 0);
        // The frame limit is far away: the error, not the limit, must end each run.
        const PROGRAM_RESULT r = Kolvex({"--game", strGame}, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=100000"}));
        EXPECT_EQ(r.nStatus, 1) << r.strErr;
        EXPECT_NE(r.strErr.find(c.pszErr), std::string::npos) << r.strErr;
        EXPECT_EQ(r.strErr.find("Sanitizer"), std::string::npos) << r.strErr;
    }
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

// ---- one copy per game ----------------------------------------------------------------------------

namespace {

// The lock files in the lock folder.
std::vector<std::string> LockFiles(const std::string& strDir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(strDir)) {
        const std::string strName = e.path().filename().string();
        if (strName.rfind("kolvex-", 0) == 0 && strName.size() > 5 && strName.substr(strName.size() - 5) == ".lock")
            names.push_back(strName);
    }
    return names;
}

// A game that saves a file once its script runs, then idles for ever.
std::vector<GAME_FILE> MarkingGame()
{
    return GameOf(
        [](SCRIPT_BUILDER* b) {
            EmitCommand(b, KXCMD_SAVE, {ExprArg(2, MakeExprInt(1)), ExprArg(3, MakeExprVar(1000))});
            EmitCommand(b, KXCMD_SAVE, {ExprArg(0, MakeExprText("running"), EVALTYPE_TEXT)});
        },
        160, 120, {MakeIntVarDef(1000, 1)});
}

// Starts the game and waits until its script runs.
bool StartRunningGame(RUNNING_PROGRAM* pRun, const TEMP_DIR& dir, const std::vector<std::string>& env)
{
    std::filesystem::remove(dir.strNative + "/game/save/running.sd");
    if (StartProgramForTest(pRun, KX_KOLVEX_PATH, {"--game", dir.strNative + "/game"}, env) != 0) return false;
    for (int i = 0; i < 600 && !dir.Exists("game/save/running.sd"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return dir.Exists("game/save/running.sd");
}

}  // namespace

TEST(KolvexOneCopy, NoLockFileRemainsAfterARunOrAfterAKilledRunAndTheNextOne)
{
    TEMP_DIR dir;
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", MarkingGame()), 0);
    // The headless runs keep their lock files in the test's folder.
    const std::string strLocks = dir.strNative;
    const std::vector<std::string> env = HeadlessEnv(dir);

    PROGRAM_RESULT r = Kolvex({"--game", dir.strNative + "/game"}, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=3"}));
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(LockFiles(strLocks), std::vector<std::string>{});

    // A copy that is killed leaves its lock files; the next run takes them over and removes them.
    RUNNING_PROGRAM run;
    ASSERT_TRUE(StartRunningGame(&run, dir, env));
    const std::vector<std::string> held = LockFiles(strLocks);
    EXPECT_FALSE(held.empty());
    ASSERT_EQ(SignalProgramForTest(&run, SIGKILL), 0);
    WaitProgramForTest(&run, 30000);
    EXPECT_EQ(LockFiles(strLocks), held);
    r = Kolvex({"--game", dir.strNative + "/game"}, HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=3"}));
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(LockFiles(strLocks), std::vector<std::string>{});
}

TEST(KolvexOneCopy, ASecondStartSaysTheRunningCopyCameToTheFront)
{
    TEMP_DIR dir;
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", MarkingGame()), 0);
    const std::vector<std::string> env = HeadlessEnv(dir);
    RUNNING_PROGRAM run;
    ASSERT_TRUE(StartRunningGame(&run, dir, env));
    const PROGRAM_RESULT second = Kolvex({"--game", dir.strNative + "/game"}, env);
    EXPECT_EQ(second.nStatus, 0) << second.strErr;
    EXPECT_NE(second.strOut.find("kolvex: the game in " + dir.strNative +
                                 "/game is already running; its window was brought to the front\n"),
              std::string::npos)
        << second.strOut;
    EXPECT_EQ(second.strErr, "");
    ASSERT_EQ(SignalProgramForTest(&run, SIGTERM), 0);
    const PROGRAM_RESULT first = WaitProgramForTest(&run, 30000);
    EXPECT_EQ(first.nStatus, 0) << first.strErr;
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

TEST(KolvexSound, TheSoundLibrarysOwnLinesStayOffStandardError)
{
    // Without a sound card the ALSA library writes its own lines; they go to the trace, and standard
    // error keeps only the engine's (one line, when no device opened).
    for (const char* pszDriver : {"SDL_AUDIODRIVER=", "SDL_AUDIODRIVER=alsa"}) {
        SCOPED_TRACE(pszDriver);
        TEMP_DIR dir;
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", GameOf(nullptr, 160, 120, {}, 1)), 0);
        const std::string strTrace = dir.strNative + "/trace.txt";
        const PROGRAM_RESULT r = Kolvex({"--game", dir.strNative + "/game"},
                                        HeadlessEnv(dir, {pszDriver, "KOLVEX_AUDIO=", "KOLVEX_QUIT_AFTER_FRAMES=5",
                                                          "KOLVEX_TRACE=" + strTrace}));
        EXPECT_EQ(r.nStatus, 0) << r.strErr;
        EXPECT_EQ(r.strErr.find("ALSA lib"), std::string::npos) << r.strErr;
        size_t nLines = 0;
        for (size_t nAt = 0; nAt < r.strErr.size(); nAt = r.strErr.find('\n', nAt) + 1) {
            if (r.strErr.find('\n', nAt) == std::string::npos) break;
            EXPECT_EQ(r.strErr.compare(nAt, 8, "kolvex: "), 0) << r.strErr;
            ++nLines;
        }
        EXPECT_LE(nLines, 1u) << r.strErr;
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
        {"libX11.so", "Xlib (libX11, libXext, libXss): MIT/X11 License"},
        {"libXext.so", "Xlib (libX11, libXext, libXss): MIT/X11 License"},
        {"libXss.so", "Xlib (libX11, libXext, libXss): MIT/X11 License"},
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

// The trace file and the sound file, like the screenshot, are named from the folder kolvex was
// started in; the game folder gets neither.
TEST(KolvexOutputFiles, RelativeTraceAndSoundFilesAreTakenFromTheFolderKolvexStartedIn)
{
    TEMP_DIR dir;
    const std::string strGame = dir.strNative + "/game";
    ASSERT_EQ(WriteGameFolder(strGame, GameOf(nullptr, 160, 120, {}, 2)), 0);
    dir.Write("here/out/keep.txt", std::string("x"));
    const PROGRAM_RESULT r = Kolvex({"--game", strGame},
                                    HeadlessEnv(dir, {"KOLVEX_QUIT_AFTER_FRAMES=3", "KOLVEX_TRACE=out/trace.txt",
                                                      "KOLVEX_AUDIO=wav:out/sound.wav"}),
                                    dir.strNative + "/here");
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_FALSE(dir.Exists("game/out/trace.txt"));
    EXPECT_FALSE(dir.Exists("game/out/sound.wav"));
    ASSERT_TRUE(dir.Exists("here/out/trace.txt")) << r.strErr;
    EXPECT_NE(dir.Read("here/out/trace.txt").find("E-mote: "), std::string::npos);
    ASSERT_TRUE(dir.Exists("here/out/sound.wav")) << r.strErr;
    EXPECT_EQ(dir.Read("here/out/sound.wav").substr(0, 4), "RIFF");
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
