// The compiled engine configuration: every field into its global, loose and packed; refused values
// and damaged files with their errors; the frame texture size; the image order as the resource
// resolution uses it.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/frame_loop.h"
#include "core/pack_archive.h"
#include "core/sysfacts.h"
#include "display/window_state.h"
#include "platform/plat_file.h"
#include "script/engine_config.h"
#include "tests/support/game_folder.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// A game folder as current and program folder; the globals the loader writes go back to their
// start values with the rest of the engine's state (EngineTest).
class ConfigFolderTest : public EngineTest {
protected:
    TEMP_DIR dir;
    ERROR_RECORDER errors;
    std::string strOldCwd;

    void SetUp() override { ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd)); }
    void TearDown() override { LeaveGameFolder(strOldCwd); }
};

// The same with a 1920 x 1080 desktop and fresh window records; the parameter puts the
// configuration into a pack instead of the kxbin folder.
class EngineConfigTest : public ConfigFolderTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ConfigFolderTest::SetUp();
        if (HasFatalFailure()) return;
        g_nDesktopWidth = 1920;
        g_nDesktopHeight = 1080;
        ASSERT_EQ(CreateWindowStates(), 0);
    }

    bool Packed() const { return GetParam(); }
    void WriteConfig(const Bytes& image)
    {
        if (Packed()) {
            std::remove((dir.strNative + "/kxbin/kxcfg.kbn").c_str());
            FreePackIndex();
            ASSERT_EQ(WritePackFile(dir.strNative + "/data.kpf", {{KXBIN_KXCFG, image}}), 0);
            ASSERT_EQ(BuildPackIndex(), 0);
        } else {
            dir.Write("kxbin/kxcfg.kbn", image);
        }
    }
    // Loads with a clean error state: the result, and the reports as (id, fatal) with the stop flag.
    int Load()
    {
        errors.reports.clear();
        ResetErrorStateForRun();
        g_bEngineStop = 0;
        g_nScreenTexWidth = 0;
        g_nScreenTexHeight = 0;
        return LoadEngineConfig();
    }
};

TEST_P(EngineConfigTest, EveryFieldLandsInItsGlobal)
{
    KXCFG cfg;
    cfg.nWidth = 800;
    cfg.nHeight = 600;
    cfg.nShow = 0x101;   // low bytes only
    cfg.imageOrder = {EXTCODE_WEBP, EXTCODE_GIF, 0, 9, EXTCODE_PNG, 0, 0, 7};
    cfg.soundOrder = {EXTCODE_WAV, EXTCODE_OGG, 3, 4};
    cfg.nThreaded = 1;
    cfg.nDebug = 0x201;
    cfg.nSoundMode = 0x302;
    cfg.nResizable = 0x401;
    cfg.nFramed = 0x500;
    cfg.nWord60 = 0x1234;
    cfg.nDevSourceOrder = 0x601;
    cfg.nReleaseSourceOrder = 0x700;
    cfg.strTitle = Cp932("夜の図書館 Library");
    KXCFG_OPTIONS opt;
    opt.bFill = 0xA5;   // bytes the engine never reads
    WriteConfig(BuildKxcfg(cfg, opt));
    g_bReleaseSourceOrder = 1;
    g_bFramedWindow = 1;

    ASSERT_EQ(Load(), 0);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(g_bEngineStop.load(), 0);
    EXPECT_EQ(g_nScreenWidth, 800);
    EXPECT_EQ(g_nScreenHeight, 600);
    const WINDOW_STATE* pMain = g_apWindowState[0];
    EXPECT_EQ(pMain->nWidth, 800);
    EXPECT_EQ(pMain->nHeight, 600);
    EXPECT_EQ(pMain->bVisible, 1);
    EXPECT_EQ(Bytes(g_abImageExtOrder, g_abImageExtOrder + 8), Bytes(cfg.imageOrder.begin(), cfg.imageOrder.end()));
    EXPECT_EQ(Bytes(g_abSoundExtOrder, g_abSoundExtOrder + 4), Bytes(cfg.soundOrder.begin(), cfg.soundOrder.end()));
    EXPECT_EQ(g_bThreadedFrames, 1);
    EXPECT_EQ(g_bDebug, 1);
    EXPECT_EQ(g_nSoundMode, 2);
    EXPECT_EQ(g_bResizable, 1);
    EXPECT_EQ(g_bFramedWindow, 0);
    EXPECT_EQ(g_bConfigSpare, 0x34);
    EXPECT_EQ(g_bDevSourceOrder, 1);
    EXPECT_EQ(g_bReleaseSourceOrder, 0);
    EXPECT_EQ(std::string(g_szWindowTitle), cfg.strTitle);
    EXPECT_EQ(g_nScreenTexWidth, 1024);
    EXPECT_EQ(g_nScreenTexHeight, 1024);
}

// Screen size, title and threaded word: accepted values and refused ones with their errors.
TEST_P(EngineConfigTest, ValuesAreCheckedInOrder)
{
    struct CASE {
        const char* pszName;
        int32_t nWidth, nHeight, nThreaded;
        std::string strTitle;
        int nResult, nError;            // nError 0: no report
        int32_t nExpectW, nExpectH;     // screen size afterwards (when accepted or refused later)
        const char* pszExpectTitle;     // title afterwards when accepted
    };
    const std::string str128(128, 'T'), str129(129, 'T');
    const CASE cases[] = {
        {"0 x 0 is the desktop", 0, 0, 0, "t", 0, 0, 1920, 1080, "t"},
        {"width 0 alone", 0, 480, 0, "t", 1, KX_ERR_CONFIG_VALUE, 640, 480, nullptr},
        {"height 0 alone", 640, 0, 0, "t", 1, KX_ERR_CONFIG_VALUE, 640, 480, nullptr},
        {"smallest", 128, 16, 0, "t", 0, 0, 128, 16, "t"},
        {"width 127", 127, 480, 0, "t", 1, KX_ERR_CONFIG_VALUE, 640, 480, nullptr},
        {"height 15", 640, 15, 0, "t", 1, KX_ERR_CONFIG_VALUE, 640, 480, nullptr},
        {"largest", 8192, 8192, 0, "t", 0, 0, 8192, 8192, "t"},
        {"width 8193", 8193, 600, 0, "t", 1, KX_ERR_CONFIG_VALUE, 640, 480, nullptr},
        {"height 8193", 800, 8193, 0, "t", 1, KX_ERR_CONFIG_VALUE, 640, 480, nullptr},
        {"negative width", -640, 480, 0, "t", 1, KX_ERR_CONFIG_VALUE, 640, 480, nullptr},
        {"title of 128 bytes", 640, 480, 0, str128, 0, 0, 640, 480, str128.c_str()},
        {"title of 129 bytes", 800, 600, 0, str129, 1, KX_ERR_CONFIG_TITLE, 800, 600, nullptr},
        {"empty title", 640, 480, 0, "", 0, 0, 640, 480, " "},
        {"threaded 1", 640, 480, 1, "t", 0, 0, 640, 480, "t"},
        {"threaded 2", 800, 600, 2, "t", 1, KX_ERR_CONFIG_VALUE, 800, 600, "t"},
        {"threaded -1", 800, 600, -1, "t", 1, KX_ERR_CONFIG_VALUE, 800, 600, "t"},
        // The size is checked before the title, the title before the threaded word.
        {"size and title both bad", 0, 480, 0, str129, 1, KX_ERR_CONFIG_VALUE, 640, 480, nullptr},
        {"title and threaded both bad", 640, 480, 5, str129, 1, KX_ERR_CONFIG_TITLE, 640, 480, nullptr},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        KXCFG cfg;
        cfg.nWidth = c.nWidth;
        cfg.nHeight = c.nHeight;
        cfg.nThreaded = c.nThreaded;
        cfg.nDebug = 1;
        cfg.strTitle = c.strTitle;
        WriteConfig(BuildKxcfg(cfg));
        g_nScreenWidth = g_apWindowState[0]->nWidth = 640;
        g_nScreenHeight = g_apWindowState[0]->nHeight = 480;
        std::strcpy(g_szWindowTitle, "before");
        g_bThreadedFrames = 0;
        g_bDebug = 0;

        EXPECT_EQ(Load(), c.nResult);
        if (c.nError == 0) {
            EXPECT_TRUE(errors.reports.empty());
            EXPECT_EQ(g_bEngineStop.load(), 0);
            EXPECT_EQ(g_bThreadedFrames, c.nThreaded);
            EXPECT_EQ(g_bDebug, 1);
        } else {
            ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nError));
            // Nothing after the refused value is taken.
            EXPECT_EQ(g_bThreadedFrames, 0);
            EXPECT_EQ(g_bDebug, 0);
        }
        EXPECT_EQ(g_nScreenWidth, c.nExpectW);
        EXPECT_EQ(g_nScreenHeight, c.nExpectH);
        EXPECT_EQ(g_apWindowState[0]->nWidth, c.nExpectW);
        EXPECT_EQ(std::string(g_szWindowTitle), c.pszExpectTitle ? c.pszExpectTitle : "before");
    }
}

// Damaged and missing files end in the file errors with the file's name, result -1, and leave
// every global as it was.
TEST_P(EngineConfigTest, DamagedFilesAreRefused)
{
    const Bytes good = BuildKxcfg(KXCFG{});
    ASSERT_EQ(good.size(), static_cast<size_t>(KX_CONFIG_FIXED_BYTES) + 6);
    KXCFG_OPTIONS longTitle;
    longTitle.rawTitleLength = 100;   // longer than the file holds, and within the title limit
    KXCFG_OPTIONS hugeTitle;
    hugeTitle.rawTitleLength = 0xFFFF;
    struct CASE {
        const char* pszName;
        Bytes image;
    };
    const CASE cases[] = {
        {"empty", {}},
        {"cut in the size", Bytes(good.begin(), good.begin() + 18)},
        {"cut before the title length", Bytes(good.begin(), good.begin() + KX_CONFIG_FIXED_BYTES - 1)},
        {"cut in the title", Bytes(good.begin(), good.end() - 1)},
        {"title length beyond the file", BuildKxcfg(KXCFG{}, longTitle)},
        {"title length 65535", BuildKxcfg(KXCFG{}, hugeTitle)},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        WriteConfig(c.image);
        g_nScreenWidth = 321;
        std::strcpy(g_szWindowTitle, "before");
        EXPECT_EQ(Load(), -1);
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_FILE_READ));
        EXPECT_TRUE(Contains(errors.reports[0].strText, "kxbin\\kxcfg.kbn")) << errors.reports[0].strText;
        EXPECT_EQ(g_nScreenWidth, 321);
        EXPECT_STREQ(g_szWindowTitle, "before");
    }

    // No configuration anywhere.
    std::remove((dir.strNative + "/kxbin/kxcfg.kbn").c_str());
    std::remove((dir.strNative + "/data.kpf").c_str());
    FreePackIndex();
    EXPECT_EQ(Load(), -1);
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_FILE_MISSING));
    EXPECT_TRUE(Contains(errors.reports[0].strText, "kxbin\\kxcfg.kbn")) << errors.reports[0].strText;
}

INSTANTIATE_TEST_SUITE_P(LooseAndPacked, EngineConfigTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Packed" : "Loose"; });

class EngineConfigPack : public ConfigFolderTest {};

// The pack's own failures: the pack that holds the configuration has gone (901040 with the file's
// name), and the entry's data lies outside the pack (the pack reader's damaged-entry error).
TEST_F(EngineConfigPack, PackFailuresStopTheLoad)
{
    ASSERT_EQ(WritePackFile(dir.strNative + "/data.kpf", {{KXBIN_KXCFG, BuildKxcfg(KXCFG{})}}), 0);
    ASSERT_EQ(BuildPackIndex(), 0);
    std::remove((dir.strNative + "/data.kpf").c_str());
    g_bEngineStop = 0;
    EXPECT_EQ(LoadEngineConfig(), -1);
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_PACK_OPEN));
    EXPECT_TRUE(Contains(errors.reports[0].strText, "kxbin\\kxcfg.kbn")) << errors.reports[0].strText;

    FreePackIndex();
    PACK_WRITER_ENTRY e{KXBIN_KXCFG, BuildKxcfg(KXCFG{})};
    e.llRawOffset = 1 << 30;
    ASSERT_EQ(WritePackFile(dir.strNative + "/data.kpf", {e}), 0);
    ASSERT_EQ(BuildPackIndex(), 0);
    errors.reports.clear();
    ResetErrorStateForRun();
    g_bEngineStop = 0;
    EXPECT_EQ(LoadEngineConfig(), -1);
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_PACK_DAMAGED));
}

TEST(EngineConfigTexture, SmallestPowerOfTwoFrom256To4096)
{
    const int32_t cases[][2] = {{0, 256},     {256, 256},   {257, 512},   {480, 512},  {640, 1024},
                                {1024, 1024}, {1025, 2048}, {2048, 2048}, {2049, 4096}, {8192, 4096}};
    for (const auto& c : cases) EXPECT_EQ(ScreenTextureSide(c[0]), c[1]) << c[0];
}

class EngineConfigTextureSize : public ConfigFolderTest {};

// A texture size already set is kept; 640 x 480 gives 1024 x 512 otherwise.
TEST_F(EngineConfigTextureSize, ComputedOnlyWhileUnset)
{
    dir.Write("kxbin/kxcfg.kbn", BuildKxcfg(KXCFG{}));

    g_nScreenTexWidth = 0;
    g_nScreenTexHeight = 0;
    ASSERT_EQ(LoadEngineConfig(), 0);
    EXPECT_EQ(g_nScreenTexWidth, 1024);
    EXPECT_EQ(g_nScreenTexHeight, 512);
    g_nScreenTexWidth = 77;
    g_nScreenTexHeight = 0;
    ASSERT_EQ(LoadEngineConfig(), 0);
    EXPECT_EQ(g_nScreenTexWidth, 77);
    EXPECT_EQ(g_nScreenTexHeight, 512);
    EXPECT_TRUE(errors.reports.empty());
}

class EngineConfigOrder : public ConfigFolderTest {};

// The configured image order is what resource names without an extension try: all zeros tries
// none, a single ".bmp" finds the bitmap although a ".png" of the name exists too.
TEST_F(EngineConfigOrder, ImageOrderDrivesResolution)
{
    dir.Write("bg/room.png", "png");
    dir.Write("bg/room.bmp", "bmp");

    struct CASE {
        std::array<uint8_t, 8> order;
        int nResult;
        const char* pszResolved;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, 1, nullptr},
        {{EXTCODE_BMP, 0, 0, 0, 0, 0, 0, 0}, 0, "bg\\room.bmp"},
        {{0, 9, EXTCODE_PNG, EXTCODE_BMP, 0, 0, 0, 0}, 0, "bg\\room.png"},
        // Only the first seven positions are consulted.
        {{0, 0, 0, 0, 0, 0, 0, EXTCODE_PNG}, 1, nullptr},
    };
    for (const CASE& c : cases) {
        KXCFG cfg;
        cfg.imageOrder = c.order;
        dir.Write("kxbin/kxcfg.kbn", BuildKxcfg(cfg));
        ASSERT_EQ(LoadEngineConfig(), 0);
        FILE_LOCATION loc{};
        char szOut[260] = "";
        EXPECT_EQ(ResolveResourceFile(&loc, szOut, sizeof szOut, "bg\\room", RESOLVE_IMAGE), c.nResult);
        if (c.pszResolved) {
            EXPECT_STREQ(szOut, c.pszResolved);
        }
    }
    EXPECT_TRUE(errors.reports.empty());
}

}  // namespace
