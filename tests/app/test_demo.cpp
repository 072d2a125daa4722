// The demo game: kxdemo writes it, the real kolvex plays it headless. Its script ends the run by
// itself and leaves the title picture on screen; part-way through, the blended pictures show over it.
#include <gtest/gtest.h>

#include <png.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

struct SHOT {
    uint32_t nWidth = 0, nHeight = 0;
    std::vector<uint8_t> rgb;
};

// Reads a screenshot as RGB bytes; false when it is missing or unreadable.
bool ReadShot(const std::string& strPath, SHOT* pShot)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&img, strPath.c_str()) == 0) return false;
    img.format = PNG_FORMAT_RGB;
    pShot->rgb.assign(PNG_IMAGE_SIZE(img), 0);
    if (png_image_finish_read(&img, nullptr, pShot->rgb.data(), 0, nullptr) == 0) return false;
    pShot->nWidth = img.width;
    pShot->nHeight = img.height;
    return true;
}

// Whether the pixel at (x, y) is the colour, each channel within 2.
::testing::AssertionResult PixelNear(const SHOT& shot, int x, int y, int r, int g, int b)
{
    const uint8_t* p = &shot.rgb[(size_t(y) * shot.nWidth + x) * 3];
    if (std::abs(p[0] - r) <= 2 && std::abs(p[1] - g) <= 2 && std::abs(p[2] - b) <= 2)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << int(p[0]) << ", " << int(p[1])
                                         << ", " << int(p[2]) << "; expected " << r << ", " << g << ", " << b;
}

class DemoGameTest : public ::testing::Test {
protected:
    TEMP_DIR dir;
    std::string strGame;

    void SetUp() override
    {
        strGame = dir.strNative + "/game";
        ASSERT_EQ(RunProgramForTest(KX_KXDEMO_PATH, {strGame}, {}), 0);
    }
    // Plays the demo headless with the extra switches; the screenshot as read.
    void Play(const std::vector<std::string>& extra, const std::string& strShotName, SHOT* pShot)
    {
        const std::string strShot = dir.strNative + "/" + strShotName;
        std::vector<std::string> env = {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy",
                                        "XDG_RUNTIME_DIR=" + dir.strNative, "KOLVEX_SCREENSHOT=" + strShot};
        env.insert(env.end(), extra.begin(), extra.end());
        ASSERT_EQ(RunProgramForTest(KX_KOLVEX_PATH, {"--game", strGame}, env), 0);
        ASSERT_TRUE(ReadShot(strShot, pShot)) << "no screenshot written";
        ASSERT_EQ(pShot->nWidth, 640u);
        ASSERT_EQ(pShot->nHeight, 480u);
    }
};

}  // namespace

// Without a frame limit the script's quit ends the run; the last picture is the title alone: the
// sky's top colour, the moon, the hills.
TEST_F(DemoGameTest, RunsToItsQuitAndLeavesTheTitle)
{
    SHOT shot;
    ASSERT_NO_FATAL_FAILURE(Play({}, "end.png", &shot));
    EXPECT_TRUE(PixelNear(shot, 10, 0, 24, 32, 96));
    EXPECT_TRUE(PixelNear(shot, 480, 110, 240, 236, 200));
    EXPECT_TRUE(PixelNear(shot, 320, 470, 48, 41, 30));
}

// Part-way through, the moving pictures are blended over the title: much of the picture differs from
// the title alone, while the top rows, which they never reach, keep the sky.
TEST_F(DemoGameTest, BlendedPicturesShowPartWay)
{
    SHOT end, mid;
    ASSERT_NO_FATAL_FAILURE(Play({}, "end.png", &end));
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=160"}, "mid.png", &mid));
    EXPECT_TRUE(PixelNear(mid, 10, 0, 24, 32, 96));
    size_t nChanged = 0;
    for (size_t i = 0; i + 2 < end.rgb.size(); i += 3) {
        const int d = std::abs(end.rgb[i] - mid.rgb[i]) + std::abs(end.rgb[i + 1] - mid.rgb[i + 1]) +
                      std::abs(end.rgb[i + 2] - mid.rgb[i + 2]);
        nChanged += d > 24;
    }
    EXPECT_GT(nChanged, size_t(640 * 40));
}
