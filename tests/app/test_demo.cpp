// The demo game: kxdemo writes it, the real kolvex plays it headless. Part-way through, blended
// pictures cross the title; then a star turns (a frame-sheet animation) above a message window whose
// Japanese and English lines the engine draws with the installed fonts, until a click, after which
// the script ends the run by itself and leaves the title picture on screen. A tune plays throughout;
// the audio sink that writes the mix to a file lets the test hear it.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/plat_font.h"
#include "tests/support/test_support.h"
#include "tools/lib/ogv_writer.h"

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

// Frames of the run: the blended pictures have faded out by about frame 218; a movie plays in the
// middle of the picture for the next 96 frames; the message window has faded in by about frame 379
// and waits 600 frames for a click; the star's middle is then at (320, 224).
constexpr int kFrameMovieMiddle = 266;
constexpr int kFramePromptUp = 416;
// The movie's rectangle (right and bottom exclusive) and a point of its flat upper part.
constexpr int kMovieX0 = 160, kMovieY0 = 120, kMovieX1 = 480, kMovieY1 = 360;
constexpr int kMovieProbeX = 200, kMovieProbeY = 140;
constexpr int kStarX = 320, kStarY = 224;
// The message window's box, right and bottom exclusive, and the rows of its two lines: the Japanese
// line, whose first five characters are kana from x 48 to 168 and whose last one, a full stop,
// stands in the cell from x 576 (its ink in the left half), and the English line (from x 48; the
// click marker stands after it, from x 580).
constexpr int kBoxX0 = 20, kBoxY0 = 352, kBoxX1 = 620, kBoxY1 = 464;
constexpr int kJaY0 = 372, kJaY1 = 400, kKanaX0 = 48, kKanaX1 = 168, kJaLastX = 576;
constexpr int kEnY0 = 414, kEnY1 = 442, kEnX1 = 576;

// Pixels of the rectangle whose every channel is above the level (the prompt's letters).
size_t CountBright(const SHOT& shot, int x0, int y0, int x1, int y1, int nLevel)
{
    size_t n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = &shot.rgb[(size_t(y) * shot.nWidth + x) * 3];
            n += p[0] > nLevel && p[1] > nLevel && p[2] > nLevel;
        }
    return n;
}
// The message window's letters: near-white pixels (the box is dark blue, the marker orange).
size_t CountLetters(const SHOT& shot, int x0, int y0, int x1, int y1) { return CountBright(shot, x0, y0, x1, y1, 150); }
size_t CountBoxLetters(const SHOT& shot) { return CountLetters(shot, kBoxX0, kBoxY0, kBoxX1, kBoxY1); }
// The rightmost column of the rows that holds a letter pixel, or -1.
int LastLetterColumn(const SHOT& shot, int y0, int y1)
{
    for (int x = int(shot.nWidth) - 1; x >= 0; --x)
        if (CountLetters(shot, x, y0, x + 1, y1) > 0) return x;
    return -1;
}

// Pixels of the rectangle that differ between two shots (channel differences summed above 24).
size_t CountChanged(const SHOT& a, const SHOT& b, int x0, int y0, int x1, int y1)
{
    size_t n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const size_t i = (size_t(y) * a.nWidth + x) * 3;
            const int d = std::abs(a.rgb[i] - b.rgb[i]) + std::abs(a.rgb[i + 1] - b.rgb[i + 1]) +
                          std::abs(a.rgb[i + 2] - b.rgb[i + 2]);
            n += d > 24;
        }
    return n;
}

// The 16-bit stereo samples of a WAV file the audio sink wrote (the "data" chunk); empty when the
// file is missing or not such a file.
std::vector<int16_t> ReadWavSamples(const std::string& strPath)
{
    std::FILE* f = std::fopen(strPath.c_str(), "rb");
    if (!f) return {};
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    auto u32 = [&](size_t i) { return uint32_t(bytes[i]) | uint32_t(bytes[i + 1]) << 8 | uint32_t(bytes[i + 2]) << 16 | uint32_t(bytes[i + 3]) << 24; };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(&bytes[8], "WAVE", 4) != 0) return {};
    for (size_t i = 12; i + 8 <= bytes.size();) {
        const uint32_t nLen = u32(i + 4);
        if (std::memcmp(&bytes[i], "data", 4) == 0) {
            const size_t nBytes = std::min<size_t>(nLen, bytes.size() - i - 8) / 2 * 2;
            std::vector<int16_t> samples(nBytes / 2);
            std::memcpy(samples.data(), &bytes[i + 8], nBytes);
            return samples;
        }
        i += 8 + nLen + (nLen & 1);
    }
    return {};
}

// Root mean square of samples [nFirst, nEnd).
double Rms(const std::vector<int16_t>& v, size_t nFirst, size_t nEnd)
{
    double d = 0;
    for (size_t i = nFirst; i < nEnd && i < v.size(); ++i) d += double(v[i]) * v[i];
    return nEnd > nFirst ? std::sqrt(d / double(nEnd - nFirst)) : 0.0;
}

}  // namespace

// The tune, heard through the audio sink that writes the mix to a file (48 kHz 16-bit stereo): it
// fades in, plays loudly while the pictures move, and has faded out when the game quits.
TEST_F(DemoGameTest, TheTuneFadesInPlaysAndFadesOut)
{
    const std::string strWav = dir.strNative + "/mix.wav";
    SHOT shot;
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_AUDIO=wav:" + strWav,
                                  "KOLVEX_CLICK_AT_FRAMES=" + std::to_string(kFramePromptUp)},
                                 "end.png", &shot));
    const std::vector<int16_t> mix = ReadWavSamples(strWav);
    const size_t kSecond = 48000 * 2;
    ASSERT_GT(mix.size(), 4 * kSecond) << "the mix is shorter than four seconds";
    const double dStart = Rms(mix, 0, kSecond / 10), dMiddle = Rms(mix, 2 * kSecond, 4 * kSecond);
    const double dEnd = Rms(mix, mix.size() - kSecond / 20, mix.size());
    EXPECT_GT(dMiddle, 1000.0);
    EXPECT_LT(dStart, dMiddle / 4) << "no fade-in";
    EXPECT_LT(dEnd, dMiddle / 8) << "no fade-out";
}

// A click while the message window waits lets the game go on to its quit, well before the frame
// limit that stands in for the window's own ten seconds; the last picture is the title alone: the
// sky's top colour, the moon, the hills, no star and no message window (the same picture as the
// title before anything crossed it).
TEST_F(DemoGameTest, AClickLetsItRunToItsQuitAndLeaveTheTitle)
{
    SHOT shot, title;
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_CLICK_AT_FRAMES=" + std::to_string(kFramePromptUp),
                                  "KOLVEX_QUIT_AFTER_FRAMES=" + std::to_string(kFramePromptUp + 240)},
                                 "end.png", &shot));
    EXPECT_TRUE(PixelNear(shot, 10, 0, 24, 32, 96));
    EXPECT_TRUE(PixelNear(shot, 480, 110, 240, 236, 200));
    EXPECT_TRUE(PixelNear(shot, 320, 470, 48, 41, 30));
    EXPECT_EQ(CountBoxLetters(shot), 0u);
    EXPECT_EQ(CountBright(shot, kStarX - 20, kStarY - 20, kStarX + 20, kStarY + 20, 200), 0u) << "the star stayed";
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=62"}, "title.png", &title));
    EXPECT_EQ(CountChanged(title, shot, 0, 0, 640, 480), 0u) << "the end is not the title alone";
}

// The message window over the title: the engine has drawn both lines inside the box, in their own
// rows, the Japanese one with its kana (drawn by a Japanese font: the IPA fonts that the setup
// installs, reached through the face name the script asks for), and no letter stands outside the
// box or between the lines.
TEST_F(DemoGameTest, TheMessageWindowShowsBothLinesInTheBox)
{
    // Without any Japanese font the kana would be left out and the check below would fail anyway;
    // say why first.
    ASSERT_EQ(PlatFontsInit(nullptr), 0);
    const int nJapanese = PlatFallbackFontFamily();
    PlatFontsShutdown();
    ASSERT_GE(nJapanese, 0) << "no Japanese font is installed (scripts/setup.sh installs fonts-ipafont-gothic "
                               "and fonts-ipafont-mincho)";

    SHOT shot;
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=" + std::to_string(kFramePromptUp)}, "window.png", &shot));
    EXPECT_GT(CountLetters(shot, kBoxX0, kJaY0, kBoxX1, kJaY1), 800u) << "the Japanese line";
    // A font without kana and kanji would leave them out (and a proportional one would close the
    // gaps): the kana at the start and the line's full width show that a Japanese font drew it.
    EXPECT_GT(CountLetters(shot, kKanaX0, kJaY0, kKanaX1, kJaY1), 120u) << "the Japanese line's kana are missing";
    EXPECT_GE(LastLetterColumn(shot, kJaY0, kJaY1), kJaLastX) << "the Japanese line is cut short";
    EXPECT_LT(LastLetterColumn(shot, kJaY0, kJaY1), kJaLastX + 12);
    EXPECT_GT(CountLetters(shot, kBoxX0, kEnY0, kEnX1, kEnY1), 800u) << "the English line";
    // Everything bright in the box belongs to one of the two lines.
    EXPECT_EQ(CountBoxLetters(shot),
              CountLetters(shot, kBoxX0, kJaY0, kBoxX1, kJaY1) + CountLetters(shot, kBoxX0, kEnY0, kBoxX1, kEnY1));
    // Below the star, around the box, the title shows without letters.
    const size_t nOutside = CountLetters(shot, 0, 290, 640, kBoxY0) + CountLetters(shot, 0, kBoxY1, 640, 480) +
                            CountLetters(shot, 0, kBoxY0, kBoxX0, kBoxY1) + CountLetters(shot, kBoxX1, kBoxY0, 640, kBoxY1);
    EXPECT_EQ(nOutside, 0u);
}

// Without a click the message window stays and the star turns in place: its middle keeps its colour
// while half a turn of the sheet's frames later much of its outline has changed.
TEST_F(DemoGameTest, TheStarTurnsWhileTheMessageWaits)
{
    SHOT a, b;
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=" + std::to_string(kFramePromptUp)}, "a.png", &a));
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=" + std::to_string(kFramePromptUp + 6)}, "b.png", &b));
    for (const SHOT* p : {&a, &b}) {
        EXPECT_GT(CountBoxLetters(*p), 1600u);
        const uint8_t* px = &p->rgb[(size_t(kStarY) * p->nWidth + kStarX) * 3];
        EXPECT_GT(px[0], 235);
        EXPECT_NEAR(px[1], 220, 20);
        EXPECT_NEAR(px[2], 60, 25);
    }
    EXPECT_GT(CountChanged(a, b, kStarX - 64, kStarY - 64, kStarX + 64, kStarY + 64), 800u);
}

// Part-way through, the moving pictures are blended over the title: much of the picture differs from
// the title alone, while the top rows, which they never reach, keep the sky.
TEST_F(DemoGameTest, BlendedPicturesShowPartWay)
{
    SHOT title, mid;
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=62"}, "title.png", &title));
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=160"}, "mid.png", &mid));
    EXPECT_TRUE(PixelNear(mid, 10, 0, 24, 32, 96));
    EXPECT_GT(CountChanged(title, mid, 0, 0, 640, 480), size_t(640 * 40));
}

// Between the two scenes the movie plays into its layer: its flat part shows one of the movie's
// frame colours where the title showed something else, and nothing of it is left afterwards.
TEST_F(DemoGameTest, AMoviePlaysBetweenTheScenes)
{
    SHOT title, movie, after;
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=62"}, "title.png", &title));
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=" + std::to_string(kFrameMovieMiddle)}, "movie.png", &movie));
    bool bFrameColour = false;
    for (int n = 0; n < 45 && !bFrameColour; ++n) {
        uint8_t rgb[3];
        OgvFrameColour(n, rgb);
        bFrameColour = PixelNear(movie, kMovieProbeX, kMovieProbeY, rgb[0], rgb[1], rgb[2]);
    }
    EXPECT_TRUE(bFrameColour) << PixelNear(movie, kMovieProbeX, kMovieProbeY, 0, 0, 0).message();
    // The whole rectangle is the movie's, and it is not the title.
    EXPECT_GT(CountChanged(title, movie, kMovieX0, kMovieY0, kMovieX1, kMovieY1), size_t(320 * 240 / 2));
    EXPECT_EQ(CountChanged(title, movie, 0, 0, 640, kMovieY0 - 40), 0u) << "the sky above the movie changed";
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=" + std::to_string(kFramePromptUp)}, "after.png", &after));
    // (The star turns lower down by then.)
    EXPECT_EQ(CountChanged(title, after, kMovieX0, kMovieY0, kMovieX1, kMovieY0 + 30), 0u) << "the movie stayed";
}

// With the developer switch the device is made at start-up and released at shut-down; the demo has
// no texture layer, so the picture is the CPU compositor's, pixel for pixel.
TEST_F(DemoGameTest, TheSoftwareDeviceSwitchKeepsThePicture)
{
    SHOT cpu, gpu;
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=160"}, "cpu.png", &cpu));
    ASSERT_NO_FATAL_FAILURE(Play({"KOLVEX_QUIT_AFTER_FRAMES=160", "KOLVEX_SOFT_GPU=1"}, "gpu.png", &gpu));
    EXPECT_EQ(CountChanged(cpu, gpu, 0, 0, 640, 480), size_t(0));
}
