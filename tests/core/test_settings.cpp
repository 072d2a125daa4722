#include <gtest/gtest.h>

#include <cstring>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "core/settings.h"
#include "tests/support/test_support.h"

namespace {

// A game folder for the settings files; the engine's folder globals point at it while alive.
struct GAME_DIR {
    TEMP_DIR dir;
    GAME_DIR()
    {
        CopyTextBounded(g_szExeDir, sizeof g_szExeDir, dir.strEngine.c_str());
        ResetUserSettings();
    }
    ~GAME_DIR() { ResetUserSettings(); }
};

struct SETTINGS_VIEW {
    int nUseDirectShow, nSSE, nSSE2, nWorkerCap, nBestMode, nScaleMode, nDrawMethod, nInterpolate;
    int nCaptionDbl, nSwitch, nNoHwVp, nTexFormat, nTexBits, nDither, nNoComposition, nTileW, nTileH;
    bool operator==(const SETTINGS_VIEW&) const = default;
};
SETTINGS_VIEW ViewSettings()
{
    return SETTINGS_VIEW{g_bUseDirectShow, g_bAllowSSE, g_bAllowSSE2, g_nWorkerCap, g_bBestDisplayMode,
                         g_nScaleMode, g_nDrawMethod, g_bInterpolate, g_bCaptionDblClickOption, g_nUserSwitch,
                         g_bNoHardwareVP, g_nTextureFormat, g_nTextureBits, g_bDither16, g_bDisableComposition,
                         g_nTileMaxWidth, g_nTileMaxHeight};
}
void PrintTo(const SETTINGS_VIEW& v, std::ostream* os)
{
    *os << "ds=" << v.nUseDirectShow << " sse=" << v.nSSE << "/" << v.nSSE2 << " cap=" << v.nWorkerCap
        << " best=" << v.nBestMode << " scale=" << v.nScaleMode << " method=" << v.nDrawMethod << "/" << v.nInterpolate
        << " dbl=" << v.nCaptionDbl << " sw=" << v.nSwitch << " hwvp=" << v.nNoHwVp << " tex=" << v.nTexFormat << "/"
        << v.nTexBits << " dither=" << v.nDither << " nocomp=" << v.nNoComposition << " tile=" << v.nTileW << "x"
        << v.nTileH;
}

const SETTINGS_VIEW kStart{1, 1, 1, 4, 1, 1, 0, 1, 0, 0, 0, 21, 32, 1, 0, 0, 0};

}  // namespace

TEST(UserSettings, MissingFileKeepsTheStartValues)
{
    GAME_DIR game;
    EXPECT_EQ(LoadUserSettings(), 0);
    EXPECT_EQ(ViewSettings(), kStart);
}

TEST(UserSettings, FilesOfEveryLength)
{
    struct CASE {
        const char* pszName;
        std::vector<int32_t> slots;
        size_t nBytes;
        SETTINGS_VIEW expected;
    } cases[] = {
        // Four zero bytes: every slot is read as 0, and 0 is applied.
        {"four zero bytes", {}, 4, {0, 0, 0, 1, 1, 1, 3, 1, 0, 0, 0, 21, 32, 0, 0, 512, 256}},
        {"empty file", {}, 0, {0, 0, 0, 1, 1, 1, 3, 1, 0, 0, 0, 21, 32, 0, 0, 512, 256}},
        // Values outside each slot's list change nothing; the file's presence still sets the tiles.
        {"all unlisted", std::vector<int32_t>(32, 7), 128, {1, 1, 1, 4, 1, 1, 0, 1, 0, 0, 0, 21, 32, 1, 0, 512, 256}},
        {"every switch on",
         {1, 9, 1, 1, 5, 9, 1, 2, 2, 1, 1, 9, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 1, 0},
         128,
         {1, 1, 1, 4, 0, 3, 1, 1, 1, 1, 1, 26, 16, 1, 1, 512, 256}},
        {"drawing method 3 without interpolation", {1, 0, 1, 1, 1, 0, 0, 0, 3}, 36, {1, 1, 1, 4, 1, 1, 0, 0, 0, 0, 0, 21, 32, 0, 0, 512, 256}},
        {"scale mode none", {1, 0, 1, 1, 1, 0, 0, 3, 1}, 36, {1, 1, 1, 4, 1, 0, 2, 1, 0, 0, 0, 21, 32, 0, 0, 512, 256}},
        {"a long file reads 32 slots", std::vector<int32_t>(32, 1), 200, {1, 1, 1, 4, 0, 2, 2, 1, 1, 1, 1, 26, 16, 1, 1, 512, 256}},
    };
    for (const CASE& c : cases) {
        GAME_DIR game;
        std::vector<uint8_t> file = MakeSettingsFile(c.slots, c.nBytes < 128 ? c.nBytes : 128);
        if (c.nBytes > 128) file.resize(c.nBytes, 0xEE);
        game.dir.Write("kxcfg.dat", file);
        EXPECT_EQ(LoadUserSettings(), 0);
        EXPECT_EQ(ViewSettings(), c.expected) << c.pszName;
    }
}

TEST(UserSettings, DrawingMethodAndScaleModeTables)
{
    const int kMethod[4][2] = {{3, 1}, {2, 1}, {1, 1}, {0, 0}};
    const int kScale[4] = {1, 2, 3, 0};
    for (int v = 0; v < 4; ++v) {
        GAME_DIR game;
        std::vector<int32_t> slots(32, 1);
        slots[7] = v;
        slots[8] = v;
        game.dir.Write("kxcfg.dat", MakeSettingsFile(slots));
        LoadUserSettings();
        EXPECT_EQ(g_nDrawMethod, kMethod[v][0]) << v;
        EXPECT_EQ(g_bInterpolate, kMethod[v][1]) << v;
        EXPECT_EQ(g_nScaleMode, kScale[v]) << v;
    }
}

TEST(SaveFolder, ModesBuildTheFolder)
{
    const std::string strTail = "\\kestrova_SaveData\\Lumivetra\\save\\";
    struct CASE {
        bool bFile;
        int32_t nMode;
        std::string strExpected;
    } cases[] = {
        {false, 0, "save\\"},
        {true, 0, "save\\"},
        {true, 1, "\\home\\u\\.local\\share" + strTail},
        {true, 2, "\\home\\u\\Documents" + strTail},
        {true, 3, "\\home\\u\\Documents\\My Games" + strTail},
        {true, 7, "save\\"},
        {true, -1, "save\\"},
    };
    for (const CASE& c : cases) {
        GAME_DIR game;
        CopyTextBounded(g_szAppDataDir, sizeof g_szAppDataDir, "\\home\\u\\.local\\share");
        CopyTextBounded(g_szDocumentsDir, sizeof g_szDocumentsDir, "\\home\\u\\Documents");
        if (c.bFile) {
            std::vector<int32_t> slots(32, 0);
            slots[21] = c.nMode;
            game.dir.Write("kxsfs.dat", MakeSettingsFile(slots));
        }
        EXPECT_EQ(InitSaveFolder(), 0);
        EXPECT_EQ(std::string(g_szSaveFolder), c.strExpected) << c.nMode;
        EXPECT_EQ(g_nSaveFolderMode, c.bFile && c.nMode >= 0 && c.nMode <= 3 ? c.nMode : 0);
    }
}

TEST(SaveFolder, AFolderTooLongForAPathFallsBackToTheGameFolder)
{
    GAME_DIR game;
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    std::string strLong(KX_MAX_PATH - 10, 'd');
    CopyTextBounded(g_szDocumentsDir, sizeof g_szDocumentsDir, strLong.c_str());
    std::vector<int32_t> slots(32, 0);
    slots[21] = 2;
    game.dir.Write("kxsfs.dat", MakeSettingsFile(slots));
    InitSaveFolder();
    EXPECT_STREQ(g_szSaveFolder, "save\\");
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, KX_ERR_PATH_TOO_LONG);
    g_szDocumentsDir[0] = '\0';
}

TEST(CommandLine, KeepsAtMostEightArguments)
{
    std::vector<std::string> args;
    for (int i = 1; i <= 10; ++i) args.push_back("a" + std::to_string(i));
    CopyCommandLineArgs("\\game\\kolvex", args);
    EXPECT_EQ(g_nCmdLineArgCount, 8);
    EXPECT_STREQ(g_apszCmdLineArgs[0], "\\game\\kolvex");
    EXPECT_STREQ(g_apszCmdLineArgs[8], "a8");

    CopyCommandLineArgs("\\game\\kolvex", {"x"});
    EXPECT_EQ(g_nCmdLineArgCount, 1);
    EXPECT_STREQ(g_apszCmdLineArgs[1], "x");
    EXPECT_STREQ(g_apszCmdLineArgs[2], "");

    CopyCommandLineArgs(nullptr, {});
    EXPECT_EQ(g_nCmdLineArgCount, -1);
    EXPECT_STREQ(g_apszCmdLineArgs[1], "");
    CopyCommandLineArgs("\\game\\kolvex", {});
}

TEST(CommandLine, SettingsProgramSwitchIgnoresLetterCase)
{
    for (const char* pszSwitch : {"/kxcfg", "/KXCFG", "/KxCfg"}) {
        SPAWN_RECORDER spawns;
        spawns.nResult = -1;   // the settings program is not there; the engine ends all the same
        CopyCommandLineArgs("\\game\\kolvex", {pszSwitch});
        EXPECT_EQ(HandleCommandLineSwitch(), 1);
        ASSERT_EQ(spawns.starts.size(), 1u);
        EXPECT_EQ(spawns.starts[0], (std::vector<std::string>{"Quenfel.exe", "/kxcfg"}));
    }
    CopyCommandLineArgs("\\game\\kolvex", {"/other", "/kxcfg"});
    EXPECT_EQ(HandleCommandLineSwitch(), 0);
    CopyCommandLineArgs("\\game\\kolvex", {});
}

TEST(CommandLine, InfoShowsTheLicenceNotice)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    CopyCommandLineArgs("\\game\\kolvex", {"/Info"});
    EXPECT_EQ(HandleCommandLineSwitch(), 1);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, KX_ERR_LICENSE);
    EXPECT_EQ(errors.reports[0].bFatal, 1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strCaption, "License Information");
    EXPECT_EQ(boxes.boxes[0].strText.rfind(Cp932("■ライセンスについて"), 0), 0u);
    for (const char* pszSection : {"SDL2: zlib License", "libogg, libvorbis, libtheora: BSD 3-Clause License", "libpng: libpng License",
                                   "zlib: zlib License", "Ogg および Vorbis は Xiph.Org Foundation の商標です。"})
        EXPECT_NE(boxes.boxes[0].strText.find(Cp932(pszSection)), std::string::npos) << pszSection;
    CopyCommandLineArgs("\\game\\kolvex", {});
}
