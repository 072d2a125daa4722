// Movie commands run from built game folders, on the layer commands' fixture: a script emits movie
// and layer commands, runs one pass, and the frame step's movie advance is driven on the fake
// clock. Movie files are written into the game folder (or a pack) by the test.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/pack_archive.h"
#include "media/movies.h"
#include "platform/plat_modules.h"
#include "platform/plat_time.h"
#include "tests/image/cmd_layer_fixture.h"
#include "tools/lib/ogv_writer.h"
#include "tools/lib/pack_writer.h"

namespace movie_test {

using namespace layer_cmd_test;

class MovieTest : public LayerCmdTest {
protected:
    std::vector<PACK_WRITER_ENTRY> packEntries;

    void SetUp() override
    {
        LayerCmdTest::SetUp();
        PlatUseFakeClock(1);
        PlatSetFakeTime(100000);
    }
    void TearDown() override
    {
        CmdOgvStop();
        ReleaseWindowMovies();
        g_bMoviePlaying = 0;
        g_nMovieVolume = 256;
        g_nMovieX = g_nMovieY = g_nMovieW = g_nMovieH = 0;
        PlatResetModules();
        PlatUseFakeClock(0);
        LayerCmdTest::TearDown();
    }
    // Element k of the integer array as the output argument nId.
    static BUILDER_ARG OutAt(int nId, int64_t k)
    {
        return ExprArg(static_cast<uint8_t>(nId), MakeExprElement(kVarInts, {k}), EVALTYPE_INT);
    }
    void Emit(int nCmd, std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, nCmd, args), 0); }
    // A blank layer of the size below W0, made by the layer command.
    void MakeLayer(const char* pszName, int w, int h)
    {
        Layer({T(0, pszName), T(46, ""), I(6, 1), I(9, w), I(10, h)});
    }
    // As LayerCmdTest::Run, with the pack written and indexed when the test gave entries.
    void RunMovie()
    {
        ASSERT_NO_FATAL_FAILURE(WriteGame());
        if (!packEntries.empty()) {
            ASSERT_EQ(WritePackFile(dir.strNative + "/data.kpf", packEntries), 0);
            ASSERT_EQ(BuildPackIndex(), 0);
        }
        ASSERT_EQ(StartScriptSystem(), 0);
        Pass();
    }
    // The frame step's advance at ms after the movie's start.
    static void StepAt(uint32_t ms)
    {
        PlatSetFakeTime(g_dwOgvStart + ms);
        AdvanceOgvMovie();
    }
    static OGV_WRITER_OPTIONS SmallMovie(int nFrames, int w = 64, int h = 48)
    {
        OGV_WRITER_OPTIONS opt;
        opt.nFrames = nFrames;
        opt.nWidth = w;
        opt.nHeight = h;
        opt.nAudioRate = 22050;
        return opt;
    }
    // The pixel (B,G,R,A as 0xAARRGGBB) is frame n's colour within 2 per channel.
    static void ExpectFrameColour(uint32_t nPixel, int nFrame, const char* pszWhere)
    {
        uint8_t rgb[3];
        OgvFrameColour(nFrame, rgb);
        EXPECT_NEAR(int((nPixel >> 16) & 0xFF), rgb[0], 2) << pszWhere << " frame " << nFrame;
        EXPECT_NEAR(int((nPixel >> 8) & 0xFF), rgb[1], 2) << pszWhere << " frame " << nFrame;
        EXPECT_NEAR(int(nPixel & 0xFF), rgb[2], 2) << pszWhere << " frame " << nFrame;
    }
};

}  // namespace movie_test
