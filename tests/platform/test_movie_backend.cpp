// The window-movie back ends: a real MPEG-1 decode drawn into a window's picture with its end event
// and sound, files that cannot be played, and the null and fake back ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/plat_audio.h"
#include "platform/plat_file.h"
#include "platform/plat_movie.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "tests/support/test_support.h"
#include "tools/lib/mpeg_writer.h"
#include "tools/lib/ogv_writer.h"

namespace {

std::vector<uint32_t> g_notes;   // messages the owner window got

intptr_t OwnerProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg == PLAT_WM_GRAPH_NOTIFY || msg == PLAT_WM_MCI_NOTIFY) g_notes.push_back(msg << 8 | static_cast<uint32_t>(wParam));
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

class MovieBackend : public ::testing::Test {
protected:
    TEMP_DIR dir;
    std::string strOldCwd;
    PLAT_HWND hwnd = 0;

    void SetUp() override
    {
        g_notes.clear();
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        hwnd = PlatCreateWindow("KxMovie", "m", PLAT_WS_POPUP | PLAT_WS_VISIBLE, 0, 0, 160, 120, 0, OwnerProc, nullptr);
        ASSERT_NE(hwnd, 0u);
        strOldCwd = PlatGetCurrentDir();
        ASSERT_EQ(PlatSetCurrentDir(dir.strNative.c_str()), 0);
        PlatMovieSetBackend(PLAT_MOVIE_FFMPEG);
    }
    void TearDown() override
    {
        PlatMovieRelease();
        PlatMovieSetBackend(PLAT_MOVIE_FFMPEG);
        PlatSetCurrentDir(strOldCwd.c_str());
        PlatShutdownWindowSystem();
    }
    // Pumps the window thread until the movie's first event (or the time-out): the event.
    int PumpUntilEvent(uint32_t msTimeout)
    {
        const uint32_t dwStart = PlatGetTime();
        while (static_cast<uint32_t>(PlatGetTime() - dwStart) < msTimeout) {
            PLAT_MSG m;
            while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) PlatDispatchMessage(&m);
            if (!g_notes.empty()) return PlatMovieGetEvent();
            PlatSleep(2);
        }
        return -1;
    }
    uint32_t WindowPixel(int x, int y)
    {
        uint32_t* p = nullptr;
        int w = 0, h = 0, nPitch = 0;
        if (PlatGetWindowFramebuffer(hwnd, &p, &w, &h, &nPitch) != 0 || x >= w || y >= h) return 0xDEADBEEF;
        return *reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(p) + static_cast<size_t>(y) * nPitch + x * 4);
    }
    PLAT_MOVIE_OPEN Open(const char* pszFile, int nNotify = PLAT_MOVIE_NOTIFY_GRAPH)
    {
        PLAT_MOVIE_OPEN o{};
        o.hOwner = hwnd;
        o.pszFile = pszFile;
        o.x = 20;
        o.y = 10;
        o.w = 64;
        o.h = 48;
        o.nNotify = nNotify;
        return o;
    }
};

void ExpectNear(uint32_t px, const uint8_t* rgb, int nTol, const char* pszWhat)
{
    EXPECT_NEAR(int((px >> 16) & 0xFF), rgb[0], nTol) << pszWhat;
    EXPECT_NEAR(int((px >> 8) & 0xFF), rgb[1], nTol) << pszWhat;
    EXPECT_NEAR(int(px & 0xFF), rgb[2], nTol) << pszWhat;
}

TEST_F(MovieBackend, AnMpeg1MoviePlaysIntoItsRectangleAndEnds)
{
    MPEG_WRITER_OPTIONS opt;
    opt.nFrames = 10;
    opt.pixel = [](int, int, int, uint8_t* p) { p[0] = 200; p[1] = 60; p[2] = 100; };
    const std::vector<uint8_t> file = WriteMpeg1Movie(opt);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file[3], 0xBA);   // a program stream
    dir.Write("clip.mpg", file);
    // The picture around the rectangle stays as it was.
    const uint32_t dwBefore = WindowPixel(5, 5);
    const PLAT_MOVIE_OPEN o = Open("CLIP.MPG");
    ASSERT_EQ(PlatMovieOpen(&o), 0);
    EXPECT_EQ(PlatMovieIsOpen(), 1);
    ASSERT_EQ(PumpUntilEvent(5000), PLAT_MOVIE_EVENT_COMPLETE);
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(g_notes[0], PLAT_WM_GRAPH_NOTIFY << 8);
    const uint8_t rgb[3] = {200, 60, 100};
    ExpectNear(WindowPixel(20 + 32, 10 + 24), rgb, 6, "inside");
    ExpectNear(WindowPixel(20, 10), rgb, 8, "top-left corner");
    EXPECT_EQ(WindowPixel(5, 5) & 0xFFFFFF, dwBefore & 0xFFFFFF);
    EXPECT_EQ(WindowPixel(20 + 70, 10 + 24) & 0xFFFFFF, dwBefore & 0xFFFFFF);
    PlatMovieRelease();
    EXPECT_EQ(PlatMovieIsOpen(), 0);
}

TEST_F(MovieBackend, SoundPlaysThroughTheMixerAndTheMciStyleEndsWithSuccess)
{
    PlatDsSetSinkOverride("null");
    PLAT_DS* pDs = nullptr;
    ASSERT_EQ(PlatDsCreate(&pDs), PLAT_DS_OK);
    MPEG_WRITER_OPTIONS opt;
    opt.nFrames = 9;
    opt.bAudio = true;
    dir.Write("tone.mpg", WriteMpeg1Movie(opt));
    PLAT_MOVIE_OPEN o = Open("tone.mpg", PLAT_MOVIE_NOTIFY_MCI);
    o.pAudio = pDs;
    ASSERT_EQ(PlatMovieOpen(&o), 0);
    EXPECT_EQ(PlatMovieSetVolume(-1204), 0);
    EXPECT_EQ(PlatMovieSetVolumeLinear(500), 0);
    ASSERT_EQ(PumpUntilEvent(5000), PLAT_MOVIE_EVENT_COMPLETE);
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(g_notes[0], PLAT_WM_MCI_NOTIFY << 8 | PLAT_MCI_NOTIFY_SUCCESSFUL);
    PlatMovieRelease();
    PlatDsRelease(pDs);
    PlatDsSetSinkOverride(nullptr);
}

TEST_F(MovieBackend, FilesThatCannotBePlayedFailToOpen)
{
    dir.Write("junk.mpg", std::vector<uint8_t>(4000, 0x5A));
    dir.Write("empty.mpg", std::vector<uint8_t>{});
    for (const char* psz : {"missing.mpg", "junk.mpg", "empty.mpg"}) {
        const PLAT_MOVIE_OPEN o = Open(psz);
        EXPECT_EQ(PlatMovieOpen(&o), -2) << psz;
        EXPECT_EQ(PlatMovieIsOpen(), 0) << psz;
    }
    // Without a movie every call but open answers -1 and nothing happens.
    EXPECT_EQ(PlatMovieSetRect(0, 0, 10, 10), -1);
    EXPECT_EQ(PlatMovieSetVolume(0), -1);
    EXPECT_EQ(PlatMovieStop(), -1);
    EXPECT_EQ(PlatMovieGetEvent(), PLAT_MOVIE_EVENT_NONE);
    PlatMovieRelease();
}

TEST_F(MovieBackend, AStoppedMovieHoldsAndAReleaseEndsItAtOnce)
{
    MPEG_WRITER_OPTIONS opt;
    opt.nFrames = 90;   // three seconds
    dir.Write("long.mpg", WriteMpeg1Movie(opt));
    const PLAT_MOVIE_OPEN o = Open("long.mpg");
    ASSERT_EQ(PlatMovieOpen(&o), 0);
    EXPECT_EQ(PlatMovieSetRect(0, 0, 32, 24), 0);
    EXPECT_EQ(PlatMovieStop(), 0);
    EXPECT_EQ(PumpUntilEvent(200), -1);   // no end while held
    PlatMovieRelease();                    // the thread ends without waiting for the movie
    EXPECT_EQ(PlatMovieIsOpen(), 0);
}

TEST_F(MovieBackend, NullAndFakeBackEnds)
{
    PlatMovieSetBackend(PLAT_MOVIE_NULL);
    PLAT_MOVIE_OPEN o = Open("anything.mpg");
    EXPECT_EQ(PlatMovieOpen(&o), -2);
    EXPECT_EQ(PlatMovieIsOpen(), 0);

    PlatMovieSetBackend(PLAT_MOVIE_FAKE);
    PlatMovieFakeTakeLog();
    o.nVolume = -20000;   // clamped
    ASSERT_EQ(PlatMovieOpen(&o), 0);
    PlatMovieSetRect(1, 2, 3, 4);
    PlatMovieSetVolumeLinear(500);
    PlatMovieStop();
    PlatMovieFakeRaiseEvent(PLAT_MOVIE_EVENT_ERRORABORT);
    EXPECT_EQ(PumpUntilEvent(100), PLAT_MOVIE_EVENT_ERRORABORT);
    PlatMovieRelease();
    PlatMovieRelease();   // once only
    const std::vector<std::string> expected = {"open anything.mpg 20 10 64 48 -10000 0", "rect 1 2 3 4", "linear 500",
                                               "stop", "release"};
    EXPECT_EQ(PlatMovieFakeTakeLog(), expected);
}

}  // namespace
