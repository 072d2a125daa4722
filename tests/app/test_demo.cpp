// The demo game: kxdemo writes it, the real kolvex plays it headless, steered by the click switch
// along its two paths. The title menu's first button ("new game") and the choice's first button
// ("follow the star") hold the middle of the picture, where a plain click lands; a click with a
// point picks the others. A play keeps the pictures of chosen frames (the screenshot switch) and
// the mix of its sound, one frame's share per frame (the frame-driven sound sink), and its movie's
// time counts frames (the frame clock switch): every check counts frames, never the clock, so a slow
// machine sees the same pictures and the same sound.
// Each play is played once and shared by the tests that check it: within one process, and between
// the processes of one ctest run through a folder of the build (demo-plays/, emptied by the
// demo_plays_reset test that ctest runs first), a lock letting one process play while the others
// wait for its result.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/plat_font.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_support.h"

namespace {

// Whether the pixel at (x, y) is the colour, each channel within 2.
::testing::AssertionResult PixelNear(const SHOT& shot, int x, int y, int r, int g, int b)
{
    const uint8_t* p = &shot.rgb[(size_t(y) * shot.nWidth + x) * 3];
    if (std::abs(p[0] - r) <= 2 && std::abs(p[1] - g) <= 2 && std::abs(p[2] - b) <= 2)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << int(p[0]) << ", " << int(p[1])
                                         << ", " << int(p[2]) << "; expected " << r << ", " << g << ", " << b;
}

// The message window's box, right and bottom exclusive; inside its pale rim with rounded corners
// (which shows bright over the orange sky: kRimX and kRimY leave it out) the rows of its two lines:
// the Japanese line from x 48 in cells of 24 pixels, the English one below it.
constexpr int kBoxX0 = 20, kBoxY0 = 352, kBoxX1 = 620, kBoxY1 = 464, kRimX = 14, kRimY = 3;
constexpr int kJaY0 = 372, kJaY1 = 400, kEnY0 = 414, kEnY1 = 442, kEnX1 = 576, kCell = 24, kLineX = 48;
// The thumbnail of the save (right and bottom exclusive) and the star's middle while it waits.
constexpr int kThumbX0 = 460, kThumbY0 = 16, kThumbX1 = 620, kThumbY1 = 136;
constexpr int kStarX = 320, kStarY = 184;
// The movie's rectangle (right and bottom exclusive).
constexpr int kMovieX0 = 160, kMovieY0 = 120, kMovieX1 = 480, kMovieY1 = 360;
// The rows of the title menu's three buttons' captions.
constexpr int kButtonRows[3][2] = {{228, 254}, {288, 314}, {348, 374}};

// The course of a run, in frames: the title menu is up from frame 16; a click at kNewGame starts the
// game: the blended pictures cross the title until about frame 165, the movie plays until about
// 255, the mosaic transition peaks at about 270 and the first page waits from about 305. Each later
// click turns a page; the fourth answers the choice. The movie's time counts frames in these plays
// (the frame clock switch): its picture changes every second frame, on any machine.
const std::string kNewGame = "40";
const std::string kToChoice = kNewGame + ",340,380,420";   // two pages, the saved page, the choice shown
constexpr int kFrameTitle = 36, kFrameBlends = 100, kFrameMovie = 210, kFrameMosaic = 270, kFrameFirstPage = 330;
constexpr int kFrameSavedPage = 400;
constexpr int kMovieShots[] = {180, 200, kFrameMovie, 220, 240};
// Path A: the middle button of the choice; its ending's first page waits with the star from about
// 515; two pages later the title is back (about 655), and its third button asks the quit question.
const std::string kPathA = kToChoice + ",460,540,620";
const std::string kQuitFromTitle = "700@320:360";
constexpr int kFrameStarPage = 530;
// Path B: the second button of the choice; its ending's two pages, the title again, and "continue",
// which loads the save and shows its thumbnail from about 705.
const std::string kPathB = kToChoice + ",460@320:292,520,560,640@320:300";
constexpr int kFrameNightPage = 500, kFrameResumed = 720;
// "Continue" in a fresh run: the thumbnail shows from about frame 120.
const std::string kContinueAtOnce = "40@320:300";
constexpr int kFrameContinued = 130;

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
size_t CountBoxLetters(const SHOT& shot)
{
    return CountLetters(shot, kBoxX0 + kRimX, kBoxY0 + kRimY, kBoxX1 - kRimX, kBoxY1 - kRimY);
}
// The rightmost column inside the box of the rows that holds a letter pixel, or -1.
int LastLetterColumn(const SHOT& shot, int y0, int y1)
{
    for (int x = kBoxX1 - kRimX - 1; x >= 0; --x)
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

// The share of pixels equal to the one below them (bVertical) or to their right, in the rectangle.
double ShareEqualNeighbours(const SHOT& shot, int x0, int y0, int x1, int y1, bool bVertical)
{
    size_t nEqual = 0, n = 0;
    for (int y = y0; y < y1 - (bVertical ? 1 : 0); ++y)
        for (int x = x0; x < x1 - (bVertical ? 0 : 1); ++x) {
            const uint8_t* p = &shot.rgb[(size_t(y) * shot.nWidth + x) * 3];
            const uint8_t* q = bVertical ? p + shot.nWidth * 3 : p + 3;
            nEqual += std::memcmp(p, q, 3) == 0;
            ++n;
        }
    return n ? double(nEqual) / double(n) : 0.0;
}

namespace fs = std::filesystem;

// A play of the demo: the clicks, the frames whose pictures are kept, the frame it is ended at (0:
// it ends by itself, the game quitting; a limit then guards against a hang), extra switches, and
// the play whose game folder, as that one left it (with its save), this one starts from.
struct DEMO_PLAY {
    const char* pszName;
    std::string strClicks;
    std::vector<int> shots;
    int nEndFrame;
    std::vector<std::string> extra;
    const DEMO_PLAY* pAfter;
};
// What a play left: its folder (the game, the screenshots "shot-N.png" and "shot.png" of its last
// frame, the sound's "mix.wav" when it wrote one), its exit status and standard error.
struct PLAYED {
    std::string strDir;
    int nStatus = -2;
    std::string strErr;
};

constexpr int kFrameLimit = 3000;
// A safety net against a hang only: a play on a loaded machine takes a minute or two.
constexpr int kPlayLimitMs = 900000;

// Path A played to its end, past the quit question: the pictures of the opening, the first pages
// and the first ending, and its sound.
const DEMO_PLAY kPlayA = {"path-a", kPathA + "," + kQuitFromTitle,
                          {kFrameTitle, kFrameBlends, kMovieShots[0], kMovieShots[1], kMovieShots[2], kMovieShots[3],
                           kMovieShots[4], kFrameMosaic, kFrameFirstPage, kFrameSavedPage, kFrameStarPage, kFrameStarPage + 6},
                          0, {}, nullptr};
// Path B up to the resumed save; "continue" before there is a save; "continue" in a fresh run of the
// folder path B left; and the opening with the developer switch for the software device.
const DEMO_PLAY kPlayB = {"path-b", kPathB, {kFrameNightPage}, kFrameResumed, {}, nullptr};
const DEMO_PLAY kPlayNoSave = {"no-save", kContinueAtOnce, {}, 60, {}, nullptr};
const DEMO_PLAY kPlayFresh = {"continue", kContinueAtOnce, {}, kFrameContinued, {}, &kPlayB};
const DEMO_PLAY kPlaySoftGpu = {"soft-gpu", kNewGame, {}, kFrameBlends, {"KOLVEX_SOFT_GPU=1"}, nullptr};

std::string ReadFileText(const fs::path& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}
void WriteFileText(const fs::path& path, const std::string& strText)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << strText;
}
// The program file as it is now (size and time), so that a rebuilt engine plays again.
std::string FileStamp(const char* pszPath)
{
    std::error_code ec;
    const auto size = fs::file_size(pszPath, ec);
    const auto time = fs::last_write_time(pszPath, ec).time_since_epoch().count();
    return std::to_string(size) + "@" + std::to_string(time);
}
// Everything a play's result depends on.
std::string PlayKey(const DEMO_PLAY& play)
{
    std::string str = FileStamp(KX_KOLVEX_PATH) + " " + FileStamp(KX_KXDEMO_PATH) + " " + play.strClicks + " " +
                      std::to_string(play.nEndFrame) + " shots";
    for (int n : play.shots) str += " " + std::to_string(n);
    for (const std::string& e : play.extra) str += " " + e;
    if (play.pAfter) str += " after " + PlayKey(*play.pAfter);
    return str;
}

// Plays it, or takes the result of its play in this ctest run.
const PLAYED& Played(const DEMO_PLAY& play)
{
    static std::map<std::string, PLAYED> s_played;
    if (auto it = s_played.find(play.pszName); it != s_played.end()) return it->second;
    const fs::path root = fs::path(KX_BUILD_DIR) / "demo-plays";
    fs::create_directories(root);
    const fs::path dir = root / play.pszName;
    // One process plays; the others wait here for its result.
    const int fd = open((root / (std::string(play.pszName) + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) flock(fd, LOCK_EX);
    PLAYED played;
    played.strDir = dir.string();
    const std::string strKey = PlayKey(play);
    if (ReadFileText(dir / "key.txt") == strKey) {
        played.nStatus = std::atoi(ReadFileText(dir / "status.txt").c_str());
        played.strErr = ReadFileText(dir / "stderr.txt");
    } else {
        std::error_code ec;
        fs::remove_all(dir, ec);
        fs::create_directories(dir);
        const std::string strGame = (dir / "game").string();
        if (play.pAfter) {
            fs::copy(Played(*play.pAfter).strDir + "/game", strGame, fs::copy_options::recursive, ec);
            played.nStatus = ec ? -2 : 0;
            if (ec) played.strErr = "the game folder of " + std::string(play.pAfter->pszName) + " was not copied";
        } else {
            played.nStatus = RunProgramForTest(KX_KXDEMO_PATH, {strGame}, {});
            if (played.nStatus != 0) played.strErr = "kxdemo failed";
        }
        if (played.nStatus == 0) {
            std::string strShots;
            for (int n : play.shots) strShots += (strShots.empty() ? "" : ",") + std::to_string(n);
            std::vector<std::string> env = {
                "SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.string(),
                "KOLVEX_SCREENSHOT=" + (dir / "shot.png").string(), "KOLVEX_SCREENSHOT_AT_FRAMES=" + strShots,
                "KOLVEX_QUIT_AFTER_FRAMES=" + std::to_string(play.nEndFrame > 0 ? play.nEndFrame : kFrameLimit),
                "KOLVEX_AUDIO=framewav:" + (dir / "mix.wav").string(), "KOLVEX_FRAME_CLOCK=1"};
            if (!play.strClicks.empty()) env.push_back("KOLVEX_CLICK_AT_FRAMES=" + play.strClicks);
            env.insert(env.end(), play.extra.begin(), play.extra.end());
            RUNNING_PROGRAM run;
            PROGRAM_RESULT r;
            if (StartProgramForTest(&run, KX_KOLVEX_PATH, {"--game", strGame}, env) == 0) r = WaitProgramForTest(&run, kPlayLimitMs);
            played.nStatus = r.nStatus;
            played.strErr = r.strErr;
        }
        WriteFileText(dir / "status.txt", std::to_string(played.nStatus));
        WriteFileText(dir / "stderr.txt", played.strErr);
        WriteFileText(dir / "key.txt", strKey);
    }
    if (fd >= 0) close(fd);
    return s_played[play.pszName] = played;
}

// The play's picture of the frame (0: of its last frame), checked for status 0 and the screen's size.
void Shot(const DEMO_PLAY& play, int nFrame, SHOT* pShot, std::string* pstrErr = nullptr)
{
    const PLAYED& played = Played(play);
    ASSERT_EQ(played.nStatus, 0) << played.strErr;
    if (pstrErr) *pstrErr = played.strErr;
    const std::string strShot = played.strDir + (nFrame > 0 ? "/shot-" + std::to_string(nFrame) : "/shot") + ".png";
    ASSERT_TRUE(ReadShot(strShot, pShot)) << "no screenshot " << strShot;
    ASSERT_EQ(pShot->nWidth, 640u);
    ASSERT_EQ(pShot->nHeight, 480u);
}

}  // namespace

// The title screen: the game's name drawn by the engine in the sky, and three buttons, each with a
// Japanese and an English caption.
TEST(DemoGameTest, TheTitleShowsTheNameAndAMenu)
{
    SHOT shot;
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameTitle, &shot));
    EXPECT_TRUE(PixelNear(shot, 10, 0, 24, 32, 96));
    EXPECT_TRUE(PixelNear(shot, 480, 110, 240, 236, 200)) << "the moon";
    EXPECT_GT(CountBright(shot, 40, 50, 400, 160, 150), 1500u) << "the game's name";
    for (const auto& rows : kButtonRows) {
        EXPECT_GT(CountLetters(shot, 160, rows[0], 340, rows[1]), 150u) << "a Japanese caption at row " << rows[0];
        EXPECT_GT(CountLetters(shot, 350, rows[0], 490, rows[1]), 150u) << "an English caption at row " << rows[0];
    }
}

// The first page: the engine has drawn both lines inside the box, in their own rows, the Japanese
// one with its kana and kanji (drawn by a Japanese font: the IPA fonts that the setup installs,
// reached through the face name the script asks for), and no letter stands outside the box or
// between the lines.
TEST(DemoGameTest, TheMessageWindowShowsBothLinesInTheBox)
{
    // Without any Japanese font the kana would be left out and the check below would fail anyway;
    // say why first.
    ASSERT_EQ(PlatFontsInit(nullptr), 0);
    const int nJapanese = PlatFallbackFontFamily();
    PlatFontsShutdown();
    ASSERT_GE(nJapanese, 0) << "no Japanese font is installed (scripts/setup.sh installs fonts-ipafont-gothic "
                               "and fonts-ipafont-mincho)";

    SHOT shot;
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameFirstPage, &shot));
    EXPECT_GT(CountLetters(shot, kBoxX0, kJaY0, kBoxX1, kJaY1), 800u) << "the Japanese line";
    // A font without kana and kanji would leave them out (and a proportional one would close the
    // gaps): the first five cells, and the line's full width of 18 cells whose last is the full
    // stop (its ink in the left half), show that a Japanese font drew it.
    EXPECT_GT(CountLetters(shot, kLineX, kJaY0, kLineX + 5 * kCell, kJaY1), 120u) << "the first characters are missing";
    const int nLastCell = kLineX + 17 * kCell;
    EXPECT_GE(LastLetterColumn(shot, kJaY0, kJaY1), nLastCell) << "the Japanese line is cut short";
    EXPECT_LT(LastLetterColumn(shot, kJaY0, kJaY1), nLastCell + 12);
    EXPECT_GT(CountLetters(shot, kBoxX0, kEnY0, kEnX1, kEnY1), 800u) << "the English line";
    // Everything bright in the box belongs to one of the two lines.
    EXPECT_EQ(CountBoxLetters(shot), CountLetters(shot, kBoxX0 + kRimX, kJaY0, kBoxX1 - kRimX, kJaY1) +
                                         CountLetters(shot, kBoxX0 + kRimX, kEnY0, kBoxX1 - kRimX, kEnY1));
    const size_t nOutside = CountLetters(shot, 0, 290, 640, kBoxY0) + CountLetters(shot, 0, kBoxY1, 640, 480) +
                            CountLetters(shot, 0, kBoxY0, kBoxX0, kBoxY1) + CountLetters(shot, kBoxX1, kBoxY0, 640, kBoxY1);
    EXPECT_EQ(nOutside, 0u);
}

// Part-way through the opening, the moving pictures are blended over the title: beside the menu's
// place, where only they pass, much of the picture differs from the title; the top rows keep the sky.
TEST(DemoGameTest, BlendedPicturesShowPartWay)
{
    SHOT title, mid;
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameTitle, &title));
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameBlends, &mid));
    EXPECT_TRUE(PixelNear(mid, 10, 0, 24, 32, 96));
    EXPECT_GT(CountChanged(title, mid, 0, 200, 150, 480) + CountChanged(title, mid, 490, 200, 640, 480),
              size_t(2 * 150 * 60));
}

// Between the title and the first scene the movie plays into its layer: a night sky whose flat
// part above the shooting star's path keeps its colour while the star moves on; nothing of it is
// left on the first page.
TEST(DemoGameTest, AMoviePlaysBetweenTheScenes)
{
    SHOT title, movie, page;
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameTitle, &title));
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameMovie, &movie));
    // The movie's sky 12 rows below its top (kxdemo's MovieSkyColour), within a few levels of
    // Theora's coding.
    const uint8_t* p = &movie.rgb[(size_t(kMovieY0 + 12) * 640 + kMovieX0 + 300) * 3];
    EXPECT_NEAR(p[0], 10 + 12 / 8, 6);
    EXPECT_NEAR(p[1], 14 + 12 / 10, 6);
    EXPECT_NEAR(p[2], 48 + 12 / 4, 6);
    EXPECT_GT(CountChanged(title, movie, kMovieX0, kMovieY0, kMovieX1, kMovieY1), size_t(320 * 240 / 2));
    EXPECT_EQ(CountChanged(title, movie, 0, 0, 640, 40), 0u) << "the sky above the movie changed";
    // The star moves on between each two of the pictures taken while the movie plays.
    SHOT before;
    for (int nFrame : kMovieShots) {
        SHOT now;
        ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, nFrame, &now));
        if (!before.rgb.empty()) {
            EXPECT_GT(CountChanged(before, now, kMovieX0, kMovieY0, kMovieX1, kMovieY1), 100u)
                << "the movie stands still before frame " << nFrame;
        }
        before = now;
    }
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameFirstPage, &page));
    EXPECT_GT(CountChanged(movie, page, kMovieX0, kMovieY0, kMovieX1, kMovieY0 + 30), size_t(320 * 30 * 9 / 10))
        << "the movie stayed";
}

// Half-way through the transition the picture is made of blocks (the image-effect command's
// mosaic): nearly every pixel equals its neighbours below and to the right, which neither the
// title's nor the scene's gradients allow.
TEST(DemoGameTest, TheTransitionBreaksThePictureIntoBlocks)
{
    SHOT mosaic, page;
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameMosaic, &mosaic));
    EXPECT_GT(ShareEqualNeighbours(mosaic, 0, 0, 640, 480, true), 0.9);
    EXPECT_GT(ShareEqualNeighbours(mosaic, 0, 0, 640, 480, false), 0.9);
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameFirstPage, &page));
    EXPECT_LT(ShareEqualNeighbours(page, 0, 0, 640, 340, true), 0.8);
}

// The choice branches. Following the star, it waits turning above the hill: its middle keeps its
// colour while half a turn of the sheet's frames later much of its outline has changed. Staying,
// there is no star and the night falls: the sky low on the right, orange in the first ending, is
// much darker.
TEST(DemoGameTest, TheChoiceLeadsToTwoEndings)
{
    SHOT a, a2, b;
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameStarPage, &a));
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameStarPage + 6, &a2));
    for (const SHOT* p : {&a, &a2}) {
        EXPECT_GT(CountBoxLetters(*p), 1600u);
        const uint8_t* px = &p->rgb[(size_t(kStarY) * p->nWidth + kStarX) * 3];
        EXPECT_GT(px[0], 235);
        EXPECT_NEAR(px[1], 220, 20);
        EXPECT_NEAR(px[2], 60, 25);
    }
    EXPECT_GT(CountChanged(a, a2, kStarX - 64, kStarY - 64, kStarX + 64, kStarY + 64), 800u);

    ASSERT_NO_FATAL_FAILURE(Shot(kPlayB, kFrameNightPage, &b));
    EXPECT_GT(CountBoxLetters(b), 1600u);
    EXPECT_EQ(CountBright(b, kStarX - 40, kStarY - 40, kStarX + 40, kStarY + 40, 200), 0u) << "a star in the second ending";
    const uint8_t* pA = &a.rgb[(size_t(470) * 640 + 630) * 3];
    const uint8_t* pB = &b.rgb[(size_t(470) * 640 + 630) * 3];
    EXPECT_GT(pA[0], 200) << "the first ending's sky is not orange";
    EXPECT_LT(pB[0] * 2, pA[0]) << "the night did not fall in the second ending";
}

// The save and the load: the saved page shows the thumbnail of the scene; after the second ending,
// "continue" loads the save from the memory slot and the same thumbnail is back. A fresh run of the
// same game folder loads it from the save file. Before any save, "continue" says there is none and
// the menu stays.
TEST(DemoGameTest, ASaveIsLoadedWithItsThumbnail)
{
    SHOT none, page, saved, resumed, fresh;
    std::string strErr;
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayNoSave, 0, &none, &strErr));
    EXPECT_NE(strErr.find("There is no saved game."), std::string::npos) << strErr;
    EXPECT_GT(CountLetters(none, 160, kButtonRows[0][0], 340, kButtonRows[0][1]), 150u) << "the menu went";

    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameFirstPage, &page));
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameSavedPage, &saved));
    // The thumbnail is the scene made small, over the sky where the first page showed stars; left
    // of it and its frame (6 pixels wide) the picture above the box is the page's.
    EXPECT_GT(CountChanged(page, saved, kThumbX0, kThumbY0, kThumbX1, kThumbY1), size_t(160 * 120 / 3));
    EXPECT_EQ(CountChanged(page, saved, 0, 0, kThumbX0 - 6, kBoxY0), 0u);

    ASSERT_NO_FATAL_FAILURE(Shot(kPlayB, 0, &resumed));
    EXPECT_EQ(CountChanged(saved, resumed, kThumbX0, kThumbY0, kThumbX1, kThumbY1), 0u);
    EXPECT_GT(CountBoxLetters(resumed), 1000u);

    ASSERT_NO_FATAL_FAILURE(Shot(kPlayFresh, 0, &fresh));
    EXPECT_EQ(CountChanged(saved, fresh, kThumbX0, kThumbY0, kThumbX1, kThumbY1), 0u);
}

// The first path played to its end: the ending, the title again, and its quit button, which asks
// the quit question (answered yes without a display), so the run ends by itself with status 0 and
// leaves the title menu on screen. The music, heard through the frame-driven sink that writes the
// mix to a file (48 kHz 16-bit stereo, 800 samples a frame), fades in, plays, and has faded out at
// the end; the file's length counts the run's frames.
TEST(DemoGameTest, APathPlaysToTheQuitQuestion)
{
    SHOT shot;
    std::string strErr;
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, 0, &shot, &strErr));
    const std::string strWav = Played(kPlayA).strDir + "/mix.wav";
    EXPECT_NE(strErr.find("Quit the game?"), std::string::npos) << strErr;
    EXPECT_TRUE(PixelNear(shot, 480, 110, 240, 236, 200)) << "the moon";
    for (const auto& rows : kButtonRows) EXPECT_GT(CountLetters(shot, 160, rows[0], 340, rows[1]), 150u);

    const std::vector<int16_t> mix = ReadWavSamples(strWav);
    const size_t kSecond = 48000 * 2;
    ASSERT_GT(mix.size(), 10 * kSecond) << "the run is shorter than 600 frames";
    ASSERT_LT(mix.size(), 20 * kSecond) << "the run did not end at the quit (1200 frames)";
    const double dStart = Rms(mix, 0, kSecond / 10), dMiddle = Rms(mix, 3 * kSecond, 5 * kSecond);
    const double dEnd = Rms(mix, mix.size() - kSecond / 20, mix.size());
    EXPECT_GT(dMiddle, 1000.0);
    EXPECT_LT(dStart, dMiddle / 4) << "no fade-in";
    EXPECT_LT(dEnd, dMiddle / 8) << "no fade-out";
}

// With the developer switch the device is made at start-up and released at shut-down; the demo has
// no texture layer, so the picture is the CPU compositor's, pixel for pixel.
TEST(DemoGameTest, TheSoftwareDeviceSwitchKeepsThePicture)
{
    SHOT cpu, gpu;
    ASSERT_NO_FATAL_FAILURE(Shot(kPlayA, kFrameBlends, &cpu));
    ASSERT_NO_FATAL_FAILURE(Shot(kPlaySoftGpu, 0, &gpu));
    EXPECT_EQ(CountChanged(cpu, gpu, 0, 0, 640, 480), size_t(0));
}
