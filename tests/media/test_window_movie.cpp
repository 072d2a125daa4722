// Window movies on the fake back end: placement and volume in both styles, the end and error
// events, failures, calls without a movie, the questions and who owns the screen.
#include "tests/media/movie_fixture.h"

#include "core/engine_globals.h"
#include "core/frame_loop.h"
#include "core/settings.h"
#include "platform/plat_movie.h"

namespace movie_test {
namespace {

class WindowMovieTest : public MovieTest {
protected:
    int32_t anSaved[8]{};
    uint8_t bSavedDirectShow = 0;
    int nSavedScaleMode = 0;

    void SetUp() override
    {
        MovieTest::SetUp();
        anSaved[0] = g_nOutputWidth;
        anSaved[1] = g_nOutputHeight;
        anSaved[2] = g_nOutputOffsetX;
        anSaved[3] = g_nOutputOffsetY;
        anSaved[4] = g_nTargetWidth;
        anSaved[5] = g_nTargetHeight;
        bSavedDirectShow = g_bUseDirectShow;
        nSavedScaleMode = g_nScaleMode;
        aWindow[0].nWidth = 320;
        aWindow[0].nHeight = 240;
        // The output twice the game size, 5 and 7 pixels in.
        g_nOutputWidth = 640;
        g_nOutputHeight = 480;
        g_nOutputOffsetX = 5;
        g_nOutputOffsetY = 7;
        g_nTargetWidth = 650;
        g_nTargetHeight = 494;
        g_nScaleMode = 1;
        g_bUseDirectShow = 1;
        PlatMovieSetBackend(PLAT_MOVIE_FAKE);
        PlatMovieFakeSetOpenResult(0);
        PlatMovieFakeTakeLog();
    }
    void TearDown() override
    {
        CmdMovieStop();
        PlatMovieSetBackend(PLAT_MOVIE_FFMPEG);
        PlatMovieFakeSetOpenResult(0);
        g_nOutputWidth = anSaved[0];
        g_nOutputHeight = anSaved[1];
        g_nOutputOffsetX = anSaved[2];
        g_nOutputOffsetY = anSaved[3];
        g_nTargetWidth = anSaved[4];
        g_nTargetHeight = anSaved[5];
        g_bUseDirectShow = bSavedDirectShow;
        g_nScaleMode = nSavedScaleMode;
        g_bDrawDuringMovie = 0;
        MovieTest::TearDown();
    }
    void Movie(std::vector<BUILDER_ARG> args) { Emit(KXCMD_MOVIE, args); }
};

// Where the movie goes, and what the back end is told, in both styles.
TEST_F(WindowMovieTest, PlacementInBothStyles)
{
    struct CASE {
        const char* pszCase;
        uint8_t bDirectShow;
        int nScaleMode;
        int32_t gw, gh;
        const char* pszOpen;
    };
    const CASE k_aCases[] = {
        {"DirectShow scales position and size", 1, 1, 320, 240, "open clip.mpg 25 47 200 100 0 0"},
        {"MCI places unscaled, scales the size", 0, 1, 320, 240, "open clip.mpg 15 27 200 100 0 1"},
        // Cover: the largest 4:3 area in the 650 x 494 target is 650 x 487 (487 < 494), centred.
        {"MCI in scale mode 2", 0, 2, 320, 240, "open clip.mpg 10 23 203 101 0 1"},
        {"game size 0: factor 1", 1, 1, 0, 0, "open clip.mpg 15 27 100 50 0 0"},
    };
    for (const CASE& c : k_aCases) {
        SCOPED_TRACE(c.pszCase);
        Reset();
        g_bUseDirectShow = c.bDirectShow;
        g_nScaleMode = c.nScaleMode;
        aWindow[0].nWidth = c.gw;
        aWindow[0].nHeight = c.gh;
        dir.Write("clip.mpg", std::vector<uint8_t>(16, 0));
        Movie({T(0, "Clip.mpg"), I(2, 10), I(3, 20), I(4, 100), I(5, 50), I(1, 1)});
        RunMovie();
        ASSERT_TRUE(errors.reports.empty());
        const std::vector<std::string> log = PlatMovieFakeTakeLog();
        ASSERT_GE(log.size(), 1u);
        EXPECT_EQ(log[0], c.pszOpen);
        EXPECT_EQ(g_bMoviePlaying, 1);
    }
}

TEST_F(WindowMovieTest, VolumeLawsAndNoCallsWithoutAMovie)
{
    dir.Write("clip.mpg", std::vector<uint8_t>(16, 0));
    // No movie open: the volume, a stop and the shut-down release touch nothing.
    Movie({I(6, 128)});
    Movie({I(1, 0)});
    RunMovie();
    ReleaseWindowMovies();
    EXPECT_TRUE(PlatMovieFakeTakeLog().empty());
    EXPECT_EQ(g_nMovieVolume, 128);

    Reset();
    dir.Write("clip.mpg", std::vector<uint8_t>(16, 0));
    Movie({T(0, "clip.mpg"), I(6, 128), I(1, 1)});
    Movie({I(6, 0)});
    RunMovie();
    std::vector<std::string> log = PlatMovieFakeTakeLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "open clip.mpg 5 7 640 480 -1204 0");
    EXPECT_EQ(log[1], "volume -10000");

    Reset();
    g_bUseDirectShow = 0;
    dir.Write("clip.mpg", std::vector<uint8_t>(16, 0));
    Movie({T(0, "clip.mpg"), I(6, 128), I(1, 1)});
    RunMovie();
    log = PlatMovieFakeTakeLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "linear 500");
}

TEST_F(WindowMovieTest, EndAndErrorEventsEndTheMovie)
{
    for (int nEvent : {PLAT_MOVIE_EVENT_COMPLETE, PLAT_MOVIE_EVENT_USERABORT, PLAT_MOVIE_EVENT_ERRORABORT}) {
        SCOPED_TRACE(nEvent);
        Reset();
        dir.Write("clip.mpg", std::vector<uint8_t>(16, 0));
        Movie({T(0, "clip.mpg"), I(1, 1)});
        RunMovie();
        ASSERT_EQ(g_bMoviePlaying, 1);
        EXPECT_EQ(IsWindowMovieOwningScreen(), 1);
        HandleGraphNotify();   // a stray notification without an event changes nothing
        EXPECT_EQ(g_bMoviePlaying, 1);
        PlatMovieFakeRaiseEvent(nEvent);
        HandleGraphNotify();
        EXPECT_EQ(g_bMoviePlaying, 0);
        EXPECT_EQ(PlatMovieIsOpen(), 0);
        EXPECT_EQ(IsWindowMovieOwningScreen(), 0);
    }
    // MCI style: the notification's success or failure ends it while the device is open.
    for (uintptr_t nCode : {PLAT_MCI_NOTIFY_SUCCESSFUL, PLAT_MCI_NOTIFY_FAILURE}) {
        Reset();
        g_bUseDirectShow = 0;
        dir.Write("clip.mpg", std::vector<uint8_t>(16, 0));
        Movie({T(0, "clip.mpg"), I(1, 1)});
        RunMovie();
        ASSERT_EQ(g_bMoviePlaying, 1);
        ASSERT_EQ(g_nMciMovieOpen, 1);
        HandleMciNotify(nCode);
        EXPECT_EQ(g_bMoviePlaying, 0);
    }
}

TEST_F(WindowMovieTest, FailuresAreNeverReportedAsPlaying)
{
    // DirectShow style: no name, and a file that cannot be played; both non-fatal.
    dir.Write("clip.mpg", std::vector<uint8_t>(16, 0));
    Movie({I(1, 1)});
    RunMovie();
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 101510);
    EXPECT_EQ(errors.reports[0].bFatal, 0);
    EXPECT_EQ(g_bMoviePlaying, 0);

    Reset();
    PlatMovieSetBackend(PLAT_MOVIE_NULL);
    dir.Write("clip.mpg", std::vector<uint8_t>(16, 0));
    Movie({T(0, "clip.mpg"), I(1, 1)});
    RunMovie();
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 101520);
    EXPECT_EQ(errors.reports[0].bFatal, 0);
    EXPECT_EQ(g_bMoviePlaying, 0);

    // MCI style: a device that does not open leaves the movie not playing.
    Reset();
    g_bUseDirectShow = 0;
    PlatMovieFakeSetOpenResult(-2);
    dir.Write("clip.mpg", std::vector<uint8_t>(16, 0));
    Movie({T(0, "clip.mpg"), I(1, 1)});
    RunMovie();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(g_nMciMovieOpen, 0);
    EXPECT_EQ(g_bMoviePlaying, 0);
    EXPECT_EQ(IsWindowMovieOwningScreen(), 0);
}

TEST_F(WindowMovieTest, PackOnlyFilesSecondPlaysStopsAndQuestions)
{
    PACK_WRITER_ENTRY e;
    e.strName = "packed.mpg";
    e.data = std::vector<uint8_t>(16, 0);
    packEntries.push_back(e);
    dir.Write("clip.mpg", std::vector<uint8_t>{0x00, 0x00, 0x01, 0xBA, 0x44});
    Movie({T(0, "packed.mpg"), I(1, 1)});   // only in a pack: nothing, not even a report
    Movie({T(0, "clip.mpg"), I(2, 3), I(3, 4), I(4, 30), I(5, 40), I(6, 99), I(1, 1)});
    Movie({I(1, 1)});                        // a second play releases the first movie
    for (int i = 0; i <= 6; ++i)
        Emit(KXCMD_MOVIE_GET, {i == 6 ? T(6, "clip.mpg") : I(i, 0), OutAt(MOVIE_GET_ARG_OUT, i)});
    Emit(KXCMD_MOVIE_STOP, {});
    Emit(KXCMD_MOVIE_GET, {I(5, 0), OutAt(MOVIE_GET_ARG_OUT, 7)});
    Emit(KXCMD_MOVIE_GET, {I(0, 0), OutAt(MOVIE_GET_ARG_OUT, 8)});
    RunMovie();
    ASSERT_TRUE(errors.reports.empty());
    const std::vector<std::string> log = PlatMovieFakeTakeLog();
    // Volume 99: trunc(log10(99 / 256) x 4000) = -1650.
    const std::vector<std::string> expected = {"open clip.mpg 11 15 60 80 -1650 0", "release",
                                               "open clip.mpg 11 15 60 80 -1650 0", "release"};
    EXPECT_EQ(log, expected);
    const int64_t k_aAnswers[] = {1, 3, 4, 30, 40, 99, 2, 256, 0};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(GetVarInt(kVarInts, i), k_aAnswers[i]) << i;
    EXPECT_EQ(std::string(g_szMovieFile), "");
}

TEST_F(WindowMovieTest, WhoOwnsTheScreen)
{
    struct CASE { uint8_t bDirectShow, bPlaying, bMciOpen, bDrawDuring; int nOwns; };
    const CASE k_aCases[] = {
        {1, 1, 0, 0, 1}, {1, 0, 1, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 1}, {1, 1, 0, 1, 0}, {0, 0, 1, 1, 0},
    };
    for (const CASE& c : k_aCases) {
        g_bUseDirectShow = c.bDirectShow;
        g_bMoviePlaying = c.bPlaying;
        g_nMciMovieOpen = c.bMciOpen;
        g_bDrawDuringMovie = c.bDrawDuring;
        EXPECT_EQ(IsWindowMovieOwningScreen(), c.nOwns)
            << int(c.bDirectShow) << int(c.bPlaying) << int(c.bMciOpen) << int(c.bDrawDuring);
    }
    g_bMoviePlaying = 0;
    g_nMciMovieOpen = 0;
}

}  // namespace
}  // namespace movie_test
