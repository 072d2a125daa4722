// Theora movies into layers: the 30-frames-per-second clock, the frames' colours, the library
// missing, bad files, the target layer going away or having another size, and the questions.
#include "tests/media/movie_fixture.h"

#include "core/kx_texts.h"
#include "image/cmd_layer_info.h"

namespace movie_test {
namespace {

using BYTES = std::vector<uint8_t>;

TEST_F(MovieTest, NinetyFramesPlayForThreeSecondsAndLateStepsJumpAhead)
{
    dir.Write("movie.ogv", WriteOgvMovie(SmallMovie(90)));
    MakeLayer("mv", 64, 48);
    Emit(KXCMD_OGV_PLAY, {T(0, "mv"), T(2, "Movie.OGV")});
    RunMovie();
    ASSERT_TRUE(errors.reports.empty()) << FirstError().first << " " << (errors.reports.empty() ? "" : errors.reports[0].strText);
    ASSERT_EQ(g_bOgvPlaying, 1);
    EXPECT_EQ(g_nOgvTotalFrames, 90);
    EXPECT_EQ(g_pOgvLayer, Node("W0/mv"));
    // Frame 0 is in the layer at once; the size defaults to the game screen.
    ExpectFrameColour(Px(L("W0/mv"), 5, 5), 0, "start");
    EXPECT_EQ(g_nMovieW, aWindow[0].nWidth);
    // The frame buffer's allocation notices go to the trace: a start shows no box.
    EXPECT_TRUE(boxes.boxes.empty());

    StepAt(100);   // frame 3
    EXPECT_EQ(g_nOgvFrame, 3);
    ExpectFrameColour(Px(L("W0/mv"), 63, 47), 3, "100 ms");
    StepAt(1234);   // straight to frame 37, not one by one
    EXPECT_EQ(g_nOgvFrame, 37);
    ExpectFrameColour(Px(L("W0/mv"), 0, 0), 37, "1234 ms");
    StepAt(500);   // a clock read earlier than the last one goes back (the decoder restarts)
    EXPECT_EQ(g_nOgvFrame, 15);
    ExpectFrameColour(Px(L("W0/mv"), 30, 20), 15, "500 ms");
    StepAt(2999);
    EXPECT_EQ(g_nOgvFrame, 89);
    ExpectFrameColour(Px(L("W0/mv"), 30, 20), 89, "2999 ms");
    EXPECT_EQ(g_bOgvPlaying, 1);
    StepAt(3000);
    EXPECT_EQ(g_bOgvPlaying, 0);
    EXPECT_EQ(g_pOgvLayer, nullptr);
    EXPECT_EQ(g_hOgvVideo, nullptr);
    EXPECT_EQ(g_pOgvFrame, nullptr);
    EXPECT_EQ(g_pOgvData, nullptr);
    // The last frame stays in the layer.
    ExpectFrameColour(Px(L("W0/mv"), 30, 20), 89, "after the end");
}

// With the frame clock switch the movie's time counts the engine's frames (1000 / frame rate ms
// each) and the clock does not move it: at 60 frames a second a picture lasts two frames.
TEST_F(MovieTest, TheFrameClockSwitchCountsFramesInsteadOfTheClock)
{
    setenv("KOLVEX_FRAME_CLOCK", "1", 1);
    dir.Write("movie.ogv", WriteOgvMovie(SmallMovie(10)));
    MakeLayer("mv", 64, 48);
    Emit(KXCMD_OGV_PLAY, {T(0, "mv"), T(2, "movie.ogv")});
    RunMovie();
    unsetenv("KOLVEX_FRAME_CLOCK");
    ASSERT_EQ(g_bOgvPlaying, 1);
    g_nFps = 60;
    const int64_t llStart = g_llFrameCount;
    StepAt(2500);   // the clock alone: still the first picture
    EXPECT_EQ(g_nOgvFrame, 0);
    g_llFrameCount = llStart + 7;
    AdvanceOgvMovie();
    EXPECT_EQ(g_nOgvFrame, 3);
    ExpectFrameColour(Px(L("W0/mv"), 30, 20), 3, "frame 7");
    g_llFrameCount = llStart + 19;
    AdvanceOgvMovie();
    EXPECT_EQ(g_nOgvFrame, 9);
    g_llFrameCount = llStart + 20;
    AdvanceOgvMovie();
    EXPECT_EQ(g_bOgvPlaying, 0) << "ten pictures last twenty frames";
}

TEST_F(MovieTest, TheLibraryMissingShowsItsBoxAndNothingStarts)
{
    PlatHideModule("THEORALIB.DLL", 1);
    dir.Write("movie.ogv", WriteOgvMovie(SmallMovie(10)));
    MakeLayer("mv", 64, 48);
    Emit(KXCMD_OGV_PLAY, {T(0, "mv"), T(2, "movie.ogv")});
    RunMovie();
    EXPECT_TRUE(errors.reports.empty());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, GetEngineText(TXT_OGV_DLL_MISSING));
    EXPECT_EQ(g_bOgvPlaying, 0);
    EXPECT_EQ(g_pOgvLayer, nullptr);
}

// Files that do not start a movie: each case leaves the engine running without one.
TEST_F(MovieTest, FilesThatDoNotStartAMovie)
{
    const std::vector<uint8_t> good = WriteOgvMovie(SmallMovie(30));
    struct CASE {
        const char* pszCase;
        std::vector<uint8_t> file;   // empty: not written at all
        bool bInPack;
        int nErrorId;                // 0: nothing reported
    };
    std::vector<uint8_t> noVideo = good;
    const CASE k_aCases[] = {
        {"missing", {}, false, 0},
        {"only in a pack", good, true, 0},
        {"not a movie", std::vector<uint8_t>(500, 0x55), false, KX_ERR_FILE_READ},
        {"cut inside the headers", std::vector<uint8_t>(good.begin(), good.begin() + 100), false, KX_ERR_FILE_READ},
        {"empty", std::vector<uint8_t>{}, false, KX_ERR_FILE_READ},
    };
    for (const CASE& c : k_aCases) {
        SCOPED_TRACE(c.pszCase);
        Reset();
        packEntries.clear();
        if (c.bInPack) {
            PACK_WRITER_ENTRY e;
            e.strName = "movie.ogv";
            e.data = c.file;
            packEntries.push_back(e);
        } else if (!c.file.empty() || std::string(c.pszCase) == "empty") {
            dir.Write("movie.ogv", c.file);
        }
        MakeLayer("mv", 64, 48);
        Emit(KXCMD_OGV_PLAY, {T(0, "mv"), T(2, "movie.ogv")});
        RunMovie();
        EXPECT_EQ(g_bOgvPlaying, 0);
        EXPECT_EQ(g_hOgvVideo, nullptr);
        EXPECT_EQ(g_pOgvData, nullptr);
        if (c.nErrorId) {
            ASSERT_EQ(errors.reports.size(), 1u);
            EXPECT_EQ(errors.reports[0].nId, c.nErrorId);
            EXPECT_EQ(errors.reports[0].bFatal, 0);
        } else {
            EXPECT_TRUE(errors.reports.empty());
        }
    }
}

TEST_F(MovieTest, ATruncatedMoviePlaysWhatItHasAndEnds)
{
    // Busy pictures, so that the video pages are spread over the file.
    OGV_WRITER_OPTIONS opt = SmallMovie(60);
    opt.bAudio = false;
    opt.pixel = [](int f, int x, int y, uint8_t* p) {
        p[0] = uint8_t(x * 7 + f * 13);
        p[1] = uint8_t(y * 11 + x * y);
        p[2] = uint8_t((x ^ y) * 5 + f);
    };
    const std::vector<uint8_t> good = WriteOgvMovie(opt);
    dir.Write("movie.ogv", std::vector<uint8_t>(good.begin(), good.begin() + good.size() * 2 / 3));
    MakeLayer("mv", 64, 48);
    Emit(KXCMD_OGV_PLAY, {T(0, "mv"), T(2, "movie.ogv")});
    RunMovie();
    ASSERT_TRUE(errors.reports.empty()) << FirstError().first << " " << (errors.reports.empty() ? "" : errors.reports[0].strText);
    ASSERT_EQ(g_bOgvPlaying, 1);
    const int nTotal = g_nOgvTotalFrames;
    EXPECT_GT(nTotal, 0);
    EXPECT_LT(nTotal, 60);
    for (uint32_t ms = 0; g_bOgvPlaying && ms < 3000; ms += 33) StepAt(ms);
    EXPECT_EQ(g_bOgvPlaying, 0);
}

TEST_F(MovieTest, FreeingTheTargetLayerStopsTheMovie)
{
    dir.Write("movie.ogv", WriteOgvMovie(SmallMovie(60)));
    MakeLayer("mv", 64, 48);
    Emit(KXCMD_OGV_PLAY, {T(0, "mv"), T(2, "movie.ogv")});
    Delete({T(0, "mv")});
    RunMovie();
    ASSERT_TRUE(errors.reports.empty()) << FirstError().first << " " << (errors.reports.empty() ? "" : errors.reports[0].strText);
    EXPECT_EQ(Node("W0/mv"), nullptr);
    EXPECT_EQ(g_bOgvPlaying, 0);
    EXPECT_EQ(g_pOgvLayer, nullptr);
    EXPECT_EQ(g_hOgvVideo, nullptr);
    StepAt(500);   // nothing is written anywhere (ASan watches)

    // Freeing another layer leaves a playing movie alone.
    Reset();
    dir.Write("movie.ogv", WriteOgvMovie(SmallMovie(60)));
    MakeLayer("mv", 64, 48);
    MakeLayer("other", 8, 8);
    Emit(KXCMD_OGV_PLAY, {T(0, "mv"), T(2, "movie.ogv")});
    Delete({T(0, "other")});
    RunMovie();
    EXPECT_EQ(g_bOgvPlaying, 1);
    StepAt(400);
    ExpectFrameColour(Px(L("W0/mv"), 1, 1), 12, "400 ms");
}

// A layer of another size gets the top-left part both have; the rest of the layer keeps its pixels.
TEST_F(MovieTest, ALayerOfAnotherSizeGetsAClippedCopy)
{
    struct CASE { int w, h; };
    for (const CASE c : {CASE{20, 10}, CASE{100, 70}, CASE{64, 20}, CASE{30, 48}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        Reset();
        dir.Write("movie.ogv", WriteOgvMovie(SmallMovie(30)));
        MakeLayer("mv", c.w, c.h);
        Emit(KXCMD_OGV_PLAY, {T(0, "mv"), T(2, "movie.ogv")});
        RunMovie();
        ASSERT_EQ(g_bOgvPlaying, 1);
        StepAt(200);   // frame 6
        const LAYER* p = L("W0/mv");
        ExpectFrameColour(Px(p, std::min(c.w, 64) - 1, std::min(c.h, 48) - 1), 6, "inside");
        if (c.w > 64) {
            EXPECT_EQ(Px(p, 64, 0), Px(p, c.w - 1, c.h - 1)) << "right of the movie";
        }
        if (c.h > 48) {
            EXPECT_EQ(Px(p, 0, 48) & 0x00FFFFFF, 0u) << "below the movie";
        }
    }
}

TEST_F(MovieTest, LayerNamesAndSizes)
{
    // No such layer, and no layer at all for a file: fatal 101250.
    dir.Write("movie.ogv", WriteOgvMovie(SmallMovie(5)));
    Emit(KXCMD_OGV_PLAY, {T(0, "nowhere"), T(2, "movie.ogv")});
    RunMovie();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, 101250, "missing layer"));
    Reset();
    Emit(KXCMD_OGV_PLAY, {T(2, "movie.ogv")});
    RunMovie();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, 101250, "no layer"));

    // Without a file only the sizes change, through their operators; a number names "mv.3".
    Reset();
    g_nMovieW = 100;
    g_nMovieH = 50;
    Emit(KXCMD_OGV_PLAY, {I(4, 20, ARGOP_ADD), I(5, 2, ARGOP_MUL)});
    Emit(KXCMD_OGV_GET, {I(2, 0), OutAt(OGV_GET_ARG_OUT, 0)});
    MakeLayer("mv.3", 64, 48);
    dir.Write("movie.ogv", WriteOgvMovie(SmallMovie(5)));
    Emit(KXCMD_OGV_PLAY, {T(0, "mv"), I(1, 3), T(2, "movie.ogv"), I(4, 64), I(5, 48)});
    RunMovie();
    ASSERT_TRUE(errors.reports.empty()) << FirstError().first << " " << (errors.reports.empty() ? "" : errors.reports[0].strText);
    EXPECT_EQ(g_nMovieW, 64);
    EXPECT_EQ(GetVarInt(kVarInts, 0), 100);
    EXPECT_EQ(g_pOgvLayer, Node("W0/mv.3"));
}

TEST_F(MovieTest, QuestionsAndTheMpegKindOfFiles)
{
    dir.Write("mpeg1.mpg", BYTES{0x00, 0x00, 0x01, 0xBA, 0x21, 0x00});
    dir.Write("mpeg2.mpg", BYTES{0x00, 0x00, 0x01, 0xBA, 0x44, 0x00});
    dir.Write("other.mpg", BYTES{0x00, 0x00, 0x01, 0xB3, 0x21});
    dir.Write("short.mpg", BYTES{0x00, 0x00, 0x01});
    dir.Write("four.mpg", BYTES{0x00, 0x00, 0x01, 0xBA});
    dir.Write("odd.mpg", BYTES{0x00, 0x00, 0x01, 0xBA, 0x80});
    struct CASE { const char* pszFile; int64_t llKind; };
    const CASE k_aCases[] = {{"mpeg1.mpg", 1}, {"MPEG2.MPG", 2}, {"other.mpg", 255}, {"short.mpg", 255},
                             {"four.mpg", 255}, {"odd.mpg", 255}, {"none.mpg", 0}};
    int i = 0;
    for (const CASE& c : k_aCases) Emit(KXCMD_OGV_GET, {T(4, c.pszFile), OutAt(OGV_GET_ARG_OUT, i++)});
    g_bMoviePlaying = 1;
    g_nMovieVolume = 77;
    g_nMovieH = 33;
    Emit(KXCMD_OGV_GET, {I(0, 0), OutAt(OGV_GET_ARG_OUT, 10)});
    Emit(KXCMD_OGV_GET, {I(3, 0), OutAt(OGV_GET_ARG_OUT, 11)});
    Emit(KXCMD_OGV_GET, {I(2, 0), I(3, 0), OutAt(OGV_GET_ARG_OUT, 12)});   // the first present wins
    Emit(KXCMD_OGV_GET, {I(1, 0), OutAt(OGV_GET_ARG_OUT, 13)});            // no movie: no samples
    Emit(KXCMD_OGV_GET, {OutAt(OGV_GET_ARG_OUT, 14)});                     // nothing asked: untouched
    Emit(KXCMD_MOVIE_NOP, {I(0, 5)});
    RunMovie();
    ASSERT_TRUE(errors.reports.empty()) << FirstError().first << " " << (errors.reports.empty() ? "" : errors.reports[0].strText);
    for (size_t k = 0; k < std::size(k_aCases); ++k) EXPECT_EQ(GetVarInt(kVarInts, int64_t(k)), k_aCases[k].llKind) << k_aCases[k].pszFile;
    EXPECT_EQ(GetVarInt(kVarInts, 10), 1);
    EXPECT_EQ(GetVarInt(kVarInts, 11), 77);
    EXPECT_EQ(GetVarInt(kVarInts, 12), 33);
    EXPECT_EQ(GetVarInt(kVarInts, 13), 0);
    EXPECT_EQ(GetVarInt(kVarInts, 14), 99);
}

TEST_F(MovieTest, TheSampleCounterFollowsTheClockWithoutSound)
{
    dir.Write("movie.ogv", WriteOgvMovie(SmallMovie(60)));
    MakeLayer("mv", 64, 48);
    Emit(KXCMD_OGV_PLAY, {T(0, "mv"), T(2, "movie.ogv")});
    Emit(KXCMD_WAIT, {I(1, 500)});
    Emit(KXCMD_OGV_GET, {I(1, 0), OutAt(OGV_GET_ARG_OUT, 0)});
    RunMovie();
    ASSERT_EQ(g_bOgvPlaying, 1);
    StepAt(500);
    Pass();
    ASSERT_TRUE(errors.reports.empty()) << FirstError().first << " " << (errors.reports.empty() ? "" : errors.reports[0].strText);
    EXPECT_EQ(GetVarInt(kVarInts, 0), 11025);   // half a second at 22050 Hz
}

TEST_F(MovieTest, FrameBufferSizesAreCheckedAndNeverHalfUpdated)
{
    ASSERT_EQ(ResizeOgvFrameBuffer(64, 48), 0);
    EXPECT_EQ(OGV_SX, 64);
    EXPECT_EQ(OGV_SY, 48);
    ASSERT_NE(g_ppOgvRows, nullptr);
    EXPECT_EQ(g_ppOgvRows[47], g_pOgvFrame + 47 * 64 * 4);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(g_pOgvFrame) % 64, 0u);   // the conversion's wide stores
    boxes.boxes.clear();
    // Above the cap (and sizes whose byte count overflows 32 bits): the failure box, nothing left.
    for (auto wh : {std::pair<int, int>{KX_OGV_MAX_SIDE + 1, 2}, std::pair<int, int>{40000, 40000}}) {
        EXPECT_EQ(ResizeOgvFrameBuffer(wh.first, wh.second), -1);
        EXPECT_EQ(OGV_SX, 0);
        EXPECT_EQ(OGV_SY, 0);
        EXPECT_EQ(g_pOgvFrame, nullptr);
        EXPECT_EQ(g_ppOgvRows, nullptr);
    }
    ASSERT_EQ(boxes.boxes.size(), 2u);
    char sz[128];
    std::snprintf(sz, sizeof sz, GetEngineText(TXT_OGV_ALLOC_FAILED), KX_OGV_MAX_SIDE + 1, 2);
    EXPECT_EQ(boxes.boxes[0].strText, sz);
    // Height 0: no buffer and no box.
    EXPECT_EQ(ResizeOgvFrameBuffer(10, 0), 0);
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(g_pOgvFrame, nullptr);
}

}  // namespace
}  // namespace movie_test
