// The real kolvex executable on a game folder written by the builders, headless: the diagnostic
// switches end the run after a number of frames and write window 0's picture as a PNG.
#include <gtest/gtest.h>

#include <png.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

// A game whose root thread waits one frame at a time for ever.
std::vector<GAME_FILE> WaitingGame(int nWidth, int nHeight)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
    EXPECT_GE(EmitGoto(&b, "SYSTEM_START"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = nWidth;
    game.config.nHeight = nHeight;
    game.scripts.push_back(ScriptFromBuilder("start.txt", b));
    return BuildGameFiles(game);
}

}  // namespace

TEST(KolvexHeadless, QuitsAfterFramesAndWritesTheScreenshot)
{
    TEMP_DIR dir;
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", WaitingGame(320, 200)), 0);
    const std::string strShot = dir.strNative + "/shot.png";
    const int r = RunProgramForTest(KX_KOLVEX_PATH, {"--game", dir.strNative + "/game"},
                            {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                             "KOLVEX_QUIT_AFTER_FRAMES=5", "KOLVEX_SCREENSHOT=" + strShot});
    ASSERT_EQ(r, 0);

    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&img, strShot.c_str()), 0) << "no screenshot written";
    img.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(img));
    ASSERT_NE(png_image_finish_read(&img, nullptr, pixels.data(), 0, nullptr), 0);
    EXPECT_EQ(img.width, 320u);
    EXPECT_EQ(img.height, 200u);
    // Nothing is drawn: the picture is black.
    size_t nNonBlack = 0;
    for (uint8_t v : pixels) nNonBlack += v != 0;
    EXPECT_EQ(nNonBlack, 0u);
}

// The click switch: a list that is not rising positive frames, each with at most one point "@X:Y"
// of whole numbers in the picture's range, is reported on standard error and ignored; a valid one
// is taken silently. The game runs to the frame limit either way.
TEST(KolvexHeadless, TheClickSwitchRefusesAMalformedList)
{
    TEMP_DIR dir;
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", WaitingGame(320, 200)), 0);
    const struct {
        const char* pszClicks;
        bool bValid;
    } cases[] = {
        {"2,3@10:20", true},  {"2@0:0,4", true},  {"3,2", false},  {"0", false},      {"2@10", false},
        {"2@10:", false},     {"2@:5", false},    {"2@-1:5", false}, {"2@10:20x", false}, {"2@10:99999", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszClicks);
        const PROGRAM_RESULT r = RunProgramCaptured(
            KX_KOLVEX_PATH, {"--game", dir.strNative + "/game"},
            {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
             "KOLVEX_QUIT_AFTER_FRAMES=6", std::string("KOLVEX_CLICK_AT_FRAMES=") + c.pszClicks});
        EXPECT_EQ(r.nStatus, 0);
        EXPECT_EQ(r.strErr.find("KOLVEX_CLICK_AT_FRAMES") != std::string::npos, !c.bValid) << r.strErr;
    }
}
