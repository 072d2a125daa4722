// One-file games: executables built by the bundle writer (as kxpack --embed builds them) from a
// small stand-in of the engine image that carries the size marker, read back by the detection, the
// pack index and the screen-saver switches.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/appended_data.h"
#include "core/codecs.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_texts.h"
#include "core/pack_archive.h"
#include "core/settings.h"
#include "tests/support/game_folder.h"
#include "tests/support/test_support.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/bundle_writer.h"
#include "tools/lib/pack_writer.h"

namespace {

PACK_WRITER_ENTRY Entry(const std::string& strName, const std::string& strData)
{
    PACK_WRITER_ENTRY e;
    e.strName = strName;
    e.data.assign(strData.begin(), strData.end());
    return e;
}

// An engine image: filler, the marker with "no data", filler.
std::vector<uint8_t> FakeEngine()
{
    std::vector<uint8_t> exe(301, 0x90);
    static const char kTag[KX_RES_TAG_SIZE] = KX_RES_TAG;
    std::memcpy(exe.data() + 120, kTag, KX_RES_TAG_SIZE);
    exe[136] = KX_RES_NO_DATA;
    exe[137] = exe[138] = exe[139] = 0;
    return exe;
}

std::vector<uint8_t> Preview(int32_t nWidth, int32_t nHeight, bool bTopDown = false)
{
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < nHeight; ++y)
        for (int32_t x = 0; x < nWidth; ++x) pixels.push_back(0x010000u * (y + 1) + 0x100u * (x + 1) + 0x7Fu);
    BMP_WRITER_OPTIONS opt;
    opt.bTopDown = bTopDown;
    return WriteBmp(nWidth, nHeight, opt, pixels.data(), nullptr);
}

void PutU32(std::vector<uint8_t>* p, size_t nAt, uint32_t v)
{
    for (int i = 0; i < 4; ++i) (*p)[nAt + i] = static_cast<uint8_t>(v >> (8 * i));
}

class AppendedDataTest : public ::testing::Test {
protected:
    TEMP_DIR dir;
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    std::string strOldCwd;
    uint32_t dwOldMarker = 0;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
        ASSERT_EQ(LoadCodecLibraries(), 0);
        dwOldMarker = g_KxResMarker.dwBareSize;
    }
    void TearDown() override
    {
        g_KxResMarker.dwBareSize = dwOldMarker;
        g_bPackedData = g_bAppendedData = g_bScreenSaver = 0;
        g_dwBareExeSize = 0;
        g_qwPackOffset = 0;
        g_dwPreviewSize = 0;
        g_nPreviewParent = 0;
        g_szExeFile[0] = '\0';
        CopyCommandLineArgs("", {});
        UnloadCodecLibraries();
        LeaveGameFolder(strOldCwd);
    }
    // Writes the executable as game.exe, makes it the running one and sets the marker as the
    // executable's own copy holds it.
    void Install(const std::vector<uint8_t>& exe)
    {
        dir.Write("game.exe", exe);
        std::snprintf(g_szExeFile, sizeof g_szExeFile, "%s\\game.exe", dir.strEngine.c_str());
        int64_t llMarker = FindSizeMarker(exe);
        ASSERT_GE(llMarker, 0);
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(exe[static_cast<size_t>(llMarker) + i]) << (8 * i);
        g_KxResMarker.dwBareSize = v;
    }
    std::vector<uint8_t> Bundle(const std::vector<uint8_t>& preview = {})
    {
        std::vector<uint8_t> pack = BuildPackImage({Entry("kxbin\\kxcfg.kbn", "cfg"), Entry("scene\\a.txt", "inside")});
        std::vector<uint8_t> out;
        std::string strError;
        EXPECT_EQ(WriteBundle(FakeEngine(), pack, preview, &out, &strError), 0) << strError;
        return out;
    }
    std::string ReadEntry(const char* pszName)
    {
        FILE_LOCATION loc{};
        if (FindPackEntry(&loc, pszName) != FILESRC_PACK || ReadPackEntry(&loc, pszName) != 0) return "(unreadable)";
        std::string s(reinterpret_cast<const char*>(loc.pData), static_cast<size_t>(loc.nSize));
        std::free(loc.pData);
        return s;
    }
};

// The size marker says "no data": a plain engine, whatever follows its end.
TEST_F(AppendedDataTest, PlainExecutableIgnoresWhatFollows)
{
    std::vector<uint8_t> exe = FakeEngine();
    std::vector<uint8_t> tail = Bundle();
    exe.insert(exe.end(), tail.begin() + static_cast<std::ptrdiff_t>(FakeEngine().size()), tail.end());
    ASSERT_NO_FATAL_FAILURE(Install(exe));
    EXPECT_EQ(g_KxResMarker.dwBareSize, static_cast<uint32_t>(KX_RES_NO_DATA));
    EXPECT_EQ(DetectAppendedData(), 0);
    EXPECT_EQ(g_bAppendedData, 0);
    EXPECT_EQ(g_bPackedData, 0);
    EXPECT_EQ(g_bScreenSaver, 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(AppendedDataTest, PackedExecutableReadsItsPackThroughTheBase)
{
    std::vector<uint8_t> exe = Bundle();
    ASSERT_NO_FATAL_FAILURE(Install(exe));
    EXPECT_EQ(g_KxResMarker.dwBareSize, static_cast<uint32_t>(FakeEngine().size()));
    ASSERT_EQ(DetectAppendedData(), 1);
    EXPECT_EQ(g_bAppendedData, 1);
    EXPECT_EQ(g_bPackedData, 1);
    EXPECT_EQ(g_bScreenSaver, 0);
    EXPECT_EQ(g_dwBareExeSize, FakeEngine().size());
    EXPECT_EQ(g_qwPackOffset, 16);
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_EQ(ReadEntry("scene\\a.txt"), "inside");
    EXPECT_EQ(ReadEntry("kxbin\\kxcfg.kbn"), "cfg");
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(AppendedDataTest, ScreenSaverExecutableCarriesItsPreview)
{
    std::vector<uint8_t> preview = Preview(3, 2);
    ASSERT_NO_FATAL_FAILURE(Install(Bundle(preview)));
    ASSERT_EQ(DetectAppendedData(), 1);
    EXPECT_EQ(g_bScreenSaver, 1);
    EXPECT_EQ(g_dwPreviewSize, preview.size());
    EXPECT_EQ(g_qwPackOffset, static_cast<int64_t>(16 + preview.size()));
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_EQ(ReadEntry("scene\\a.txt"), "inside");
    std::vector<uint8_t> image;
    ASSERT_EQ(LoadScreenSaverBitmap(&image), 0);
    EXPECT_EQ(image, preview);
}

// A marker of 0 stops the process with the box "FS"; so do header fields that point past the end
// of the file or a pack that would overlap the preview.
TEST_F(AppendedDataTest, ZeroMarkerAndOversizeHeadersStopWithTheBox)
{
    const size_t nBare = FakeEngine().size();
    const std::vector<uint8_t> good = Bundle(Preview(2, 2));
    struct CASE {
        const char* pszName;
        size_t nField;     // header field to change (offset from the bare size), or 0 for the marker
        uint32_t dwValue;
    } cases[] = {
        {"marker 0", 0, 0},
        {"preview past the end", 8, 0x7FFFFFF0u},
        {"preview one byte past the end", 8, static_cast<uint32_t>(good.size() - nBare - 16 + 1)},
        {"pack past the end", 4, 0xFFFFFFF0u},
        {"pack inside the preview", 4, 20},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<uint8_t> exe = good;
        if (c.nField) PutU32(&exe, nBare + c.nField, c.dwValue);
        ASSERT_NO_FATAL_FAILURE(Install(exe));
        if (!c.nField) g_KxResMarker.dwBareSize = 0;
        boxes.boxes.clear();
        g_bAppendedData = g_bPackedData = g_bScreenSaver = 0;
        EXPECT_EQ(DetectAppendedData(), -1);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].strText, "FS");
        EXPECT_EQ(g_bAppendedData, 0);
        EXPECT_EQ(g_bScreenSaver, 0);
    }
}

TEST_F(AppendedDataTest, NoHeaderOrNoFileMeansNoAppendedData)
{
    std::vector<uint8_t> exe = Bundle();
    exe[FakeEngine().size()] = 'X';   // the magic no longer matches
    ASSERT_NO_FATAL_FAILURE(Install(exe));
    EXPECT_EQ(DetectAppendedData(), 0);
    // The file ends right at the bare size.
    exe.resize(FakeEngine().size());
    dir.Write("game.exe", exe);
    EXPECT_EQ(DetectAppendedData(), 0);
    std::snprintf(g_szExeFile, sizeof g_szExeFile, "%s\\missing.exe", dir.strEngine.c_str());
    EXPECT_EQ(DetectAppendedData(), 0);
    EXPECT_EQ(g_bAppendedData, 0);
    EXPECT_EQ(g_bScreenSaver, 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(AppendedDataTest, BundleWriterRefusesWhatItCannotCarry)
{
    std::vector<uint8_t> pack = BuildPackImage({Entry("kxbin\\kxcfg.kbn", "cfg")});
    std::vector<uint8_t> out;
    std::string strError;
    std::vector<uint8_t> noMarker(400, 0x90);
    EXPECT_EQ(WriteBundle(noMarker, pack, {}, &out, &strError), -1);
    std::vector<uint8_t> twoMarkers = FakeEngine();
    std::vector<uint8_t> again = FakeEngine();
    twoMarkers.insert(twoMarkers.end(), again.begin(), again.end());
    EXPECT_EQ(WriteBundle(twoMarkers, pack, {}, &out, &strError), -1);
    EXPECT_EQ(WriteBundle(Bundle(), pack, {}, &out, &strError), -1) << "a bundle carries a game already";
    EXPECT_EQ(WriteBundle(FakeEngine(), std::vector<uint8_t>(40, 0), {}, &out, &strError), -1);
}

// The screen-saver switches, a '/' or '-' and a letter in either case.
TEST_F(AppendedDataTest, ScreenSaverSwitches)
{
    ASSERT_NO_FATAL_FAILURE(Install(Bundle(Preview(4, 3))));
    ASSERT_EQ(DetectAppendedData(), 1);
    const std::string strAbout = GetEngineText(TXT_SCR_ABOUT);
    struct CASE {
        std::vector<std::string> args;
        int nResult;
        bool bAbout;
        int32_t nPreviewParent;   // 0: no preview asked for
    } cases[] = {
        {{}, -1, true, 0},
        {{"/c"}, -1, true, 0},
        {{"-C"}, -1, true, 0},
        {{"/c:1234"}, -1, true, 0},
        {{"-P", "1234"}, -1, false, 1234},
        {{"/p", "77"}, -1, false, 77},
        {{"/a", "5"}, -1, false, 0},
        {{"-A", "5"}, -1, false, 0},
        {{"/S"}, 0, false, 0},
        {{"-s"}, 0, false, 0},
        {{"/"}, 0, false, 0},
        {{"/p"}, 0, false, 0},
        {{"/a"}, 0, false, 0},
        {{"/c", "x"}, 0, false, 0},
        {{"/p", "1", "2"}, 0, false, 0},
    };
    for (const CASE& c : cases) {
        std::string strCase;
        for (const std::string& s : c.args) strCase += "[" + s + "]";
        SCOPED_TRACE(strCase);
        ASSERT_EQ(CopyCommandLineArgs("game.exe", c.args), 0);
        boxes.boxes.clear();
        g_nPreviewParent = 0;
        EXPECT_EQ(RunScreenSaverCommand(), c.nResult);
        if (c.bAbout) {
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].strCaption, GetEngineText(TXT_SCR_ABOUT_CAPTION));
            EXPECT_EQ(boxes.boxes[0].strText, strAbout);
        } else {
            EXPECT_TRUE(boxes.boxes.empty());
        }
        EXPECT_EQ(g_nPreviewParent, c.nPreviewParent);
    }
}

// Rows are read with the standard stride, so odd widths are not sheared; either row order.
TEST(PreviewPicture, OddWidthsUseTheStandardStride)
{
    for (int32_t nWidth : {1, 2, 3, 4, 5, 7}) {
        for (bool bTopDown : {false, true}) {
            SCOPED_TRACE(std::to_string(nWidth) + (bTopDown ? " top-down" : " bottom-up"));
            const int32_t nHeight = 3;
            std::vector<uint8_t> image = Preview(nWidth, nHeight, bTopDown);
            PREVIEW_PICTURE pic;
            ASSERT_EQ(DecodePreviewPicture(image.data(), image.size(), &pic), 0);
            EXPECT_EQ(pic.nWidth, nWidth);
            EXPECT_EQ(pic.nHeight, nHeight);
            EXPECT_EQ(pic.nStride, (nWidth * 3 + 3) & ~3);
            for (int32_t y = 0; y < nHeight; ++y)
                for (int32_t x = 0; x < nWidth; ++x) {
                    const uint8_t* p = pic.apRows[static_cast<size_t>(y)] + x * 3;
                    EXPECT_EQ(p[0], 0x7F);
                    EXPECT_EQ(p[1], x + 1);
                    EXPECT_EQ(p[2], y + 1);
                }
        }
    }
}

TEST(PreviewPicture, DamagedPicturesAreRefused)
{
    const std::vector<uint8_t> good = Preview(5, 4);
    struct CASE {
        const char* pszName;
        std::vector<uint8_t> image;
    };
    std::vector<CASE> cases;
    auto with = [&](const char* pszName, size_t nAt, uint32_t v) {
        std::vector<uint8_t> image = good;
        PutU32(&image, nAt, v);
        cases.push_back({pszName, image});
    };
    with("width 0", 18, 0);
    with("negative width", 18, 0xFFFFFFFFu);
    with("height 0", 22, 0);
    with("huge width", 18, 0x40000000u);
    with("huge height", 22, 0x7FFFFFFFu);
    with("most negative height", 22, 0x80000000u);
    with("rows past the end", 22, 5);
    with("info header too small", 14, 12);
    {
        std::vector<uint8_t> image = good;
        image[28] = 32;   // bits per pixel
        cases.push_back({"32 bits", image});
    }
    cases.push_back({"last row cut", std::vector<uint8_t>(good.begin(), good.end() - 1)});
    cases.push_back({"headers only", std::vector<uint8_t>(good.begin(), good.begin() + 53)});
    cases.push_back({"empty", {}});
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        PREVIEW_PICTURE pic;
        EXPECT_EQ(DecodePreviewPicture(c.image.data(), c.image.size(), &pic), -1);
    }
}

}  // namespace
