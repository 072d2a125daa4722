// The GIF decoder: files from our own writer decode to their pixels, files made by ImageMagick decode
// to the pixels ImageMagick reports, the block structure (extensions, frames, positions, palettes)
// and damaged files, which end in the loader's failure without reading or writing out of bounds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/file_location.h"
#include "image/gif_decoder.h"
#include "image/layer.h"
#include "tests/support/test_support.h"
#include "tools/lib/gif_writer.h"

namespace {

// A bare layer record that owns what a load puts into it.
struct GIF_TEST_LAYER {
    LAYER* p;
    GIF_TEST_LAYER() : p(static_cast<LAYER*>(calloc(1, sizeof(LAYER)))) {}
    ~GIF_TEST_LAYER()
    {
        FreeGIFFrames(p);
        free(p->pOwnedPixels);
        free(p);
    }
    GIF_TEST_LAYER(const GIF_TEST_LAYER&) = delete;
    GIF_TEST_LAYER& operator=(const GIF_TEST_LAYER&) = delete;
    // B, G, R, A of a pixel as 0xAARRGGBB.
    uint32_t Pixel(int x, int y) const
    {
        uint32_t v;
        memcpy(&v, p->pOwnedPixels + (size_t(y) * size_t(p->nWidth) + size_t(x)) * 4, 4);
        return v;
    }
    int Frames() const
    {
        int n = 0;
        while (p->ppGifFrames && n < KX_GIF_MAX_FRAMES && p->ppGifFrames[n])
            ++n;
        return n;
    }
};

int Decode(GIF_TEST_LAYER& layer, const std::vector<uint8_t>& file)
{
    return DecodeGIF(file.data(), file.size(), layer.p, "test.gif");
}

const uint32_t kTransparent = 0x00808080u;

// A palette of n entries: entry i is (i, 255 - i, i * 7).
std::vector<uint8_t> TestPalette(int n)
{
    std::vector<uint8_t> pal;
    for (int i = 0; i < n; ++i) {
        pal.push_back(uint8_t(i));
        pal.push_back(uint8_t(255 - i));
        pal.push_back(uint8_t(i * 7));
    }
    return pal;
}
uint32_t TestColour(int i)
{
    return 0xFF000000u | uint32_t(i) << 16 | uint32_t(255 - i) << 8 | uint32_t(uint8_t(i * 7));
}

GIF_WRITER_FRAME Frame(int w, int h, std::vector<uint8_t> indices)
{
    GIF_WRITER_FRAME f;
    f.nWidth = w;
    f.nHeight = h;
    f.indices = std::move(indices);
    return f;
}

GIF_WRITER_FILE OneFrameFile(int w, int h, const std::vector<uint8_t>& indices, int nColours = 256)
{
    GIF_WRITER_FILE file;
    file.nScreenWidth = w;
    file.nScreenHeight = h;
    file.globalPalette = TestPalette(nColours);
    file.frames.push_back(Frame(w, h, indices));
    return file;
}

std::vector<uint8_t> RandomIndices(size_t n, int nColours, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = uint8_t(rng() % unsigned(nColours));
    return v;
}

// The layer pixels a decode of these indices with TestPalette must give.
void ExpectIndices(const GIF_TEST_LAYER& layer, int w, int h, const std::vector<uint8_t>& indices)
{
    ASSERT_EQ(layer.p->nWidth, w);
    ASSERT_EQ(layer.p->nHeight, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(layer.Pixel(x, y), TestColour(indices[size_t(y) * w + x])) << "at " << x << "," << y;
}

std::vector<uint8_t> ReadDataFile(const char* pszName)
{
    // KX_TEST_DATA names the data folder; without it, the folder beside this source file.
    const char* pszDir = getenv("KX_TEST_DATA");
    std::string dir = pszDir ? pszDir : "";
    if (dir.empty()) {
        const std::string src = __FILE__;
        dir = src.substr(0, src.find_last_of('/') + 1) + "../data";
    }
    const std::string path = dir + "/gif/" + pszName;
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------------------------
// Files of our own encoder

struct ROUND_TRIP_CASE {
    const char* pszName;
    int nWidth, nHeight, nColours;
    GIF_LZW_OPTIONS lzw;
    int nSubBlockSize;
    bool bInterlace;
};

TEST(GifDecoder, OwnEncoderFilesDecodeToTheirPixels)
{
    GIF_LZW_OPTIONS plain;
    GIF_LZW_OPTIONS code1;
    code1.nMinCodeSize = 1;
    GIF_LZW_OPTIONS code8;
    code8.nMinCodeSize = 8;
    GIF_LZW_OPTIONS midClear;
    midClear.nClearAtPixel = 37;   // inside the third row
    GIF_LZW_OPTIONS noLeadingClear;
    noLeadingClear.bClearFirst = false;
    // A full table is kept without a clear; 12-bit codes continue, then a late clear starts over.
    GIF_LZW_OPTIONS deferred;
    deferred.bDeferredClear = true;
    deferred.nClearAtPixel = 150 * 150 - 500;
    GIF_LZW_OPTIONS deferredToEnd;
    deferredToEnd.bDeferredClear = true;
    const ROUND_TRIP_CASE cases[] = {
        {"256 colours", 16, 16, 256, plain, 255, false},
        {"2 colours, code size 1", 13, 7, 2, code1, 255, false},
        {"4 colours, code size 8", 9, 9, 4, code8, 255, false},
        {"clear code inside a row", 17, 5, 16, midClear, 255, false},
        {"no leading clear code", 10, 10, 8, noLeadingClear, 255, false},
        {"one-byte sub-blocks", 11, 6, 32, plain, 1, false},
        {"table full: clear codes", 150, 150, 256, plain, 255, false},
        {"table full: deferred clear, then a clear", 150, 150, 256, deferred, 255, false},
        {"table full: deferred clear to the end", 150, 150, 256, deferredToEnd, 254, false},
        {"single colour (string of its own code)", 100, 100, 1, plain, 255, false},
        {"interlaced, 1 row", 5, 1, 7, plain, 255, true},
        {"interlaced, 11 rows", 6, 11, 7, plain, 255, true},
    };
    for (const ROUND_TRIP_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<uint8_t> indices = RandomIndices(size_t(c.nWidth) * c.nHeight, c.nColours, 7);
        if (c.nColours == 1)
            std::fill(indices.begin(), indices.end(), uint8_t(0));
        GIF_WRITER_FILE file = OneFrameFile(c.nWidth, c.nHeight, indices, std::max(c.nColours, 2));
        file.frames[0].lzw = c.lzw;
        file.frames[0].nSubBlockSize = c.nSubBlockSize;
        file.frames[0].bInterlace = c.bInterlace;
        GIF_TEST_LAYER layer;
        ASSERT_EQ(Decode(layer, WriteGIF(file)), 0);
        ExpectIndices(layer, c.nWidth, c.nHeight, indices);
        EXPECT_EQ(layer.p->bHasAlpha, 0);
        EXPECT_EQ(layer.Frames(), 1);
    }
}

TEST(GifDecoder, InterlacedImageEqualsItsTwin)
{
    const std::vector<uint8_t> indices = RandomIndices(9 * 21, 200, 3);
    GIF_WRITER_FILE file = OneFrameFile(9, 21, indices);
    GIF_TEST_LAYER plain, interlaced;
    ASSERT_EQ(Decode(plain, WriteGIF(file)), 0);
    file.frames[0].bInterlace = true;
    const std::vector<uint8_t> bytes = WriteGIF(file);
    ASSERT_EQ(Decode(interlaced, bytes), 0);
    EXPECT_EQ(memcmp(plain.p->pOwnedPixels, interlaced.p->pOwnedPixels, 9 * 21 * 4), 0);
    ExpectIndices(interlaced, 9, 21, indices);
}

// ---------------------------------------------------------------------------------------------
// Files made by ImageMagick 6.9.11 (Debian bookworm's imagemagick), in tests/data/gif:
//   interlaced.gif:  convert -size 3x16 gradient:red-blue +dither -colors 8 -interlace GIF interlaced.gif
//   transparent.gif: convert -size 6x4 xc:none -fill red -draw "rectangle 1,1 3,2" transparent.gif
//   animated.gif:    convert -delay 10 -size 5x3 xc:red xc:lime xc:blue -loop 0 animated.gif
// Expected pixels read once with: convert 'file.gif[0]' rgba:-

TEST(GifDecoder, ImageMagickInterlacedFile)
{
    GIF_TEST_LAYER layer;
    ASSERT_EQ(Decode(layer, ReadDataFile("interlaced.gif")), 0);
    ASSERT_EQ(layer.p->nWidth, 3);
    ASSERT_EQ(layer.p->nHeight, 16);
    // Four bands of four rows: R,G,B = e6,00,1a / a2,00,5d / 5d,00,a2 / 1a,00,e6.
    const uint32_t bands[4] = {0xFFE6001Au, 0xFFA2005Du, 0xFF5D00A2u, 0xFF1A00E6u};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(layer.Pixel(x, y), bands[y / 4]) << x << "," << y;
    EXPECT_EQ(layer.p->bHasAlpha, 0);
}

TEST(GifDecoder, ImageMagickTransparentFile)
{
    GIF_TEST_LAYER layer;
    ASSERT_EQ(Decode(layer, ReadDataFile("transparent.gif")), 0);
    ASSERT_EQ(layer.p->nWidth, 6);
    ASSERT_EQ(layer.p->nHeight, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool bRed = x >= 1 && x <= 3 && y >= 1 && y <= 2;
            EXPECT_EQ(layer.Pixel(x, y), bRed ? 0xFFFF0000u : kTransparent) << x << "," << y;
        }
    EXPECT_EQ(layer.p->bHasAlpha, 1);
    EXPECT_EQ(layer.p->ppGifFrames[0]->nTransparentFlag, 1);
}

TEST(GifDecoder, ImageMagickAnimatedFileKeepsEveryFrame)
{
    GIF_TEST_LAYER layer;
    ASSERT_EQ(Decode(layer, ReadDataFile("animated.gif")), 0);
    ASSERT_EQ(layer.p->nWidth, 5);
    ASSERT_EQ(layer.p->nHeight, 3);
    ASSERT_EQ(layer.Frames(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(layer.Pixel(x, y), 0xFFFF0000u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(layer.p->ppGifFrames[i]->nDelay, 10);
        EXPECT_EQ(layer.p->ppGifFrames[i]->nLoopCount, 0);   // "-loop 0": the loop block comes before image 0
    }
    const uint32_t colours[3] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
    for (int i = 1; i < 3; ++i) {
        ASSERT_EQ(DrawGIFFrame(layer.p, i), 0);
        EXPECT_EQ(layer.Pixel(4, 2), colours[i]);
        EXPECT_EQ(layer.Pixel(0, 0), colours[i]);
    }
}

// ---------------------------------------------------------------------------------------------
// Structure

TEST(GifDecoder, FramePositionPalettesAndUncoveredPixels)
{
    GIF_WRITER_FILE file;
    file.nScreenWidth = 20;
    file.nScreenHeight = 100;
    file.globalPalette = TestPalette(16);
    // Frame 0: 4 x 3 at (5, 10) with a local table of its own.
    GIF_WRITER_FRAME f0 = Frame(4, 3, RandomIndices(12, 4, 1));
    f0.nLeft = 5;
    f0.nTop = 10;
    f0.localPalette = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    // Frame 1 has no local table: the global one applies.
    GIF_WRITER_FRAME f1 = Frame(2, 2, {1, 2, 3, 4});
    file.frames = {f0, f1};
    GIF_TEST_LAYER layer;
    ASSERT_EQ(Decode(layer, WriteGIF(file)), 0);
    ASSERT_EQ(layer.p->nWidth, 20);
    ASSERT_EQ(layer.p->nHeight, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool bIn = x >= 5 && x < 9 && y >= 10 && y < 13;
            if (!bIn) {
                ASSERT_EQ(layer.Pixel(x, y), kTransparent) << x << "," << y;
                continue;
            }
            const int i = f0.indices[size_t(y - 10) * 4 + size_t(x - 5)];
            const uint32_t want = 0xFF000000u | uint32_t(f0.localPalette[i * 3]) << 16 |
                                  uint32_t(f0.localPalette[i * 3 + 1]) << 8 | f0.localPalette[i * 3 + 2];
            ASSERT_EQ(layer.Pixel(x, y), want) << x << "," << y;
        }
    EXPECT_EQ(layer.p->bHasAlpha, 1);   // frame 0 leaves most of the screen transparent
    const GIF_FRAME* p1 = layer.p->ppGifFrames[1];
    ASSERT_NE(p1, nullptr);
    EXPECT_EQ(memcmp(p1->abPalette, file.globalPalette.data(), 16 * 3), 0);
    EXPECT_EQ(GIFFrameIndices(const_cast<GIF_FRAME*>(p1))[3], 4);
    layer.p->llCacheFrame = 3;
    ASSERT_EQ(DrawGIFFrame(layer.p, 1), 0);
    EXPECT_EQ(layer.Pixel(1, 1), TestColour(4));
    EXPECT_EQ(layer.p->llCacheFrame, 0) << "a colour cache of the old frame is made again";
}

TEST(GifDecoder, ExtensionsAreParsedOrSkippedWhole)
{
    GIF_WRITER_FILE file = OneFrameFile(3, 2, {0, 1, 2, 3, 4, 5});
    GIF_WRITER_FRAME& f = file.frames[0];
    // A comment of two sub-blocks, an XMP-like application block of several long sub-blocks, a
    // plain-text block, and the loop block.
    std::vector<uint8_t> before = MakeGIFComment({{'a', 'b', 'c'}, std::vector<uint8_t>(200, 0x2C)});
    const std::vector<uint8_t> xmp = MakeGIFApplication("XMP DataXMP", {std::vector<uint8_t>(255, 0x21),
                                                                       std::vector<uint8_t>(3, 0x3B), {1, 2}});
    before.insert(before.end(), xmp.begin(), xmp.end());
    const std::vector<uint8_t> text = {0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0, 2, 'h', 'i', 0};
    before.insert(before.end(), text.begin(), text.end());
    const std::vector<uint8_t> loop = MakeGIFApplication("NETSCAPE2.0", {{1, 0x34, 0x12}});
    before.insert(before.end(), loop.begin(), loop.end());
    f.before = before;
    f.bControl = true;
    f.nDisposal = 2;
    f.nDelay = 345;
    f.bTransparent = true;
    f.nTransparentIndex = 4;
    GIF_TEST_LAYER layer;
    ASSERT_EQ(Decode(layer, WriteGIF(file)), 0);
    const GIF_FRAME* p = layer.p->ppGifFrames[0];
    EXPECT_EQ(p->nDisposal, 2);
    EXPECT_EQ(p->nDelay, 345);
    EXPECT_EQ(p->nTransparentFlag, 1);
    EXPECT_EQ(p->nTransparentIndex, 4);
    EXPECT_EQ(p->nLoopCount, 0x1234);
    EXPECT_EQ(layer.Pixel(0, 0), TestColour(0));
    EXPECT_EQ(layer.Pixel(1, 1), kTransparent);   // index 4
    EXPECT_EQ(layer.Pixel(2, 1), TestColour(5));
    EXPECT_EQ(layer.p->bHasAlpha, 1);
}

TEST(GifDecoder, HasAlphaWhenFrameZeroIsTransparentButTheLastControlBlockIsNot)
{
    GIF_WRITER_FILE file = OneFrameFile(2, 1, {1, 0});
    file.frames[0].bControl = true;
    file.frames[0].bTransparent = true;
    file.frames[0].nTransparentIndex = 1;
    GIF_WRITER_FRAME f1 = Frame(2, 1, {0, 0});
    f1.bControl = true;
    file.frames.push_back(f1);
    GIF_TEST_LAYER layer;
    ASSERT_EQ(Decode(layer, WriteGIF(file)), 0);
    EXPECT_EQ(layer.Pixel(0, 0), kTransparent);
    EXPECT_EQ(layer.p->bHasAlpha, 1);
}

TEST(GifDecoder, ReloadReplacesTheFrameTable)
{
    GIF_WRITER_FILE three = OneFrameFile(2, 2, {0, 1, 2, 3});
    three.frames.push_back(Frame(2, 2, {3, 3, 3, 3}));
    three.frames.push_back(Frame(1, 1, {2}));
    GIF_TEST_LAYER layer;
    ASSERT_EQ(Decode(layer, WriteGIF(three)), 0);
    EXPECT_EQ(layer.Frames(), 3);
    ASSERT_EQ(Decode(layer, WriteGIF(OneFrameFile(3, 1, {5, 6, 7}))), 0);
    EXPECT_EQ(layer.Frames(), 1);
    EXPECT_EQ(layer.p->nWidth, 3);
    EXPECT_EQ(layer.Pixel(2, 0), TestColour(7));
}

TEST(GifDecoder, ImagesPastTheFrameTableAreDecodedAndDropped)
{
    GIF_WRITER_FILE file = OneFrameFile(1, 1, {9});
    GIF_WRITER_FRAME extra = Frame(1, 1, {2});
    extra.rawCodes = {4, 2, 5};
    extra.lzw.nMinCodeSize = 2;
    file.frames.resize(KX_GIF_MAX_FRAMES + 3, extra);
    GIF_TEST_LAYER layer;
    ASSERT_EQ(Decode(layer, WriteGIF(file)), 0);
    EXPECT_EQ(layer.Frames(), KX_GIF_MAX_FRAMES);
    EXPECT_EQ(layer.Pixel(0, 0), TestColour(9));
}

TEST(GifDecoder, LoadGIFReadsALooseFile)
{
    TEMP_DIR dir;
    dir.Write("a.gif", WriteGIF(OneFrameFile(2, 1, {3, 4})));
    ERROR_RECORDER errors;
    GIF_TEST_LAYER layer;
    FILE_LOCATION loc = {};
    loc.nSource = FILESRC_LOOSE;
    loc.bType = FILETYPE_GIF;
    const std::string name = dir.strEngine + "\\a.gif";
    ASSERT_EQ(LoadGIF(&loc, layer.p, name.c_str()), 0);
    EXPECT_EQ(loc.pData, nullptr);
    EXPECT_EQ(layer.Pixel(1, 0), TestColour(4));

    // A file image the caller has read already is decoded and freed.
    FILE_LOCATION read = {};
    read.nSource = FILESRC_LOOSE;
    ASSERT_EQ(ReadLooseFile(&read, name.c_str()), 0);
    ASSERT_EQ(LoadGIF(&read, layer.p, name.c_str()), 0);
    EXPECT_EQ(read.pData, nullptr);

    FILE_LOCATION missing = {};
    missing.nSource = FILESRC_LOOSE;
    const std::string none = dir.strEngine + "\\none.gif";
    EXPECT_EQ(LoadGIF(&missing, layer.p, none.c_str()), 1);
    FILE_LOCATION unknown = {};
    EXPECT_EQ(LoadGIF(&unknown, layer.p, name.c_str()), 1);
}

// ---------------------------------------------------------------------------------------------
// Damaged files

TEST(GifDecoder, LzwDataErrorsEndTheRow)
{
    // 4 x 3, code size 2: clear 4, end 5, first free 6.
    struct CASE {
        const char* pszName;
        std::vector<int> codes;
        std::vector<uint8_t> want;   // indices of the frame
    };
    const CASE cases[] = {
        {"code past the table ends row 0; rows 1 and 2 go on", {4, 1, 7, 3, 3, 3, 3, 2, 2, 2, 2, 5},
         {1, 0, 0, 0, 3, 3, 3, 3, 2, 2, 2, 2}},
        {"the code being defined right after a clear", {4, 6, 1, 1, 1, 1, 5}, {0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0}},
        {"end code inside a row keeps what it has", {4, 3, 2, 1, 0, 1, 5, 2, 2}, {3, 2, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"string of the code being defined", {4, 1, 6, 7, 5}, {1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}},
        {"no end code, data ends", {4, 2, 2}, {2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        GIF_WRITER_FILE file = OneFrameFile(4, 3, std::vector<uint8_t>(12, 0), 4);
        file.frames[0].rawCodes = c.codes;
        file.frames[0].lzw.nMinCodeSize = 2;
        GIF_TEST_LAYER layer;
        ASSERT_EQ(Decode(layer, WriteGIF(file)), 0);
        ExpectIndices(layer, 4, 3, c.want);
    }
}

TEST(GifDecoder, StructureErrorsFailTheLoad)
{
    const std::vector<uint8_t> good = WriteGIF(OneFrameFile(4, 4, RandomIndices(16, 16, 5)));
    struct CASE {
        const char* pszName;
        std::vector<uint8_t> file;
        bool bTooLarge;   // error 100091 is reported
    };
    std::vector<CASE> cases;
    {
        GIF_WRITER_FILE f = OneFrameFile(2, 2, {0, 1, 2, 3});
        f.bTrailer = false;
        cases.push_back({"no trailer", WriteGIF(f), false});
    }
    {
        GIF_WRITER_FILE f = OneFrameFile(2, 2, {0, 1, 2, 3});
        f.frames.clear();
        cases.push_back({"no image", WriteGIF(f), false});
    }
    for (int nCodeSize : {0, 12, 255}) {
        GIF_WRITER_FILE f = OneFrameFile(2, 2, {0, 1, 2, 3});
        f.frames[0].nRawMinCodeSize = nCodeSize;
        cases.push_back({"minimum code size out of range", WriteGIF(f), false});
    }
    {
        GIF_WRITER_FILE f = OneFrameFile(2, 2, {0, 1, 2, 3});
        f.beforeTrailer = {0x21, 0x77, 1, 0, 0};
        cases.push_back({"unknown extension", WriteGIF(f), false});
    }
    {
        GIF_WRITER_FILE f = OneFrameFile(2, 2, {0, 1, 2, 3});
        f.beforeTrailer = {0x00};
        cases.push_back({"unknown block", WriteGIF(f), false});
    }
    {
        GIF_WRITER_FILE f = OneFrameFile(2, 2, {0, 1, 2, 3});
        f.frames[0].bNoTerminator = true;
        cases.push_back({"image data without terminator", WriteGIF(f), false});
    }
    {
        GIF_WRITER_FILE f = OneFrameFile(8193, 1, std::vector<uint8_t>(8193, 1));
        cases.push_back({"screen 8193 wide", WriteGIF(f), true});
        f.nScreenWidth = 1;
        f.nScreenHeight = 65535;
        cases.push_back({"screen 65535 high", WriteGIF(f), true});
    }
    {
        GIF_WRITER_FILE f = OneFrameFile(4, 4, {});
        f.frames[0] = Frame(65535, 65535, {1});
        f.frames[0].rawCodes = {4, 1, 5};
        f.frames[0].lzw.nMinCodeSize = 2;
        cases.push_back({"frame 65535 x 65535", WriteGIF(f), true});
    }
    cases.push_back({"empty file", {}, false});
    cases.push_back({"header only", std::vector<uint8_t>(good.begin(), good.begin() + 13), false});
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        ERROR_RECORDER errors;
        GIF_TEST_LAYER layer;
        EXPECT_EQ(Decode(layer, c.file), -1);
        const bool bReported = !errors.reports.empty() && errors.reports[0].nId == KX_ERR_GIF_TOO_LARGE;
        EXPECT_EQ(bReported, c.bTooLarge);
        EXPECT_EQ(layer.p->pOwnedPixels, nullptr);
    }
}

TEST(GifDecoder, FramesBeforeAFailureStayInTheTable)
{
    GIF_WRITER_FILE f = OneFrameFile(2, 2, {0, 1, 2, 3});
    f.frames.push_back(Frame(2, 2, {3, 2, 1, 0}));
    f.bTrailer = false;
    GIF_TEST_LAYER layer;
    EXPECT_EQ(Decode(layer, WriteGIF(f)), -1);
    EXPECT_EQ(layer.Frames(), 2);
}

TEST(GifDecoder, TruncatedAndCorruptedFilesNeverCrash)
{
    // A file with every kind of block: truncated at every length, then bytes changed at random.
    GIF_WRITER_FILE file;
    file.nScreenWidth = 24;
    file.nScreenHeight = 20;
    file.globalPalette = TestPalette(64);
    file.nLoopCount = 0;
    GIF_WRITER_FRAME f0 = Frame(24, 20, RandomIndices(480, 64, 11));
    f0.bControl = true;
    f0.bTransparent = true;
    f0.nTransparentIndex = 3;
    f0.before = MakeGIFComment({{'x', 'y'}, {'z'}});
    GIF_WRITER_FRAME f1 = Frame(10, 9, RandomIndices(90, 4, 12));
    f1.nLeft = 3;
    f1.nTop = 4;
    f1.bInterlace = true;
    f1.localPalette = TestPalette(4);
    file.frames = {f0, f1};
    const std::vector<uint8_t> good = WriteGIF(file);
    {
        GIF_TEST_LAYER layer;
        ASSERT_EQ(Decode(layer, good), 0);
    }
    ERROR_RECORDER errors;
    for (size_t n = 0; n < good.size(); ++n) {
        // Copied into a buffer of exactly n bytes so that any read past the end is caught.
        std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
        GIF_TEST_LAYER layer;
        ASSERT_EQ(Decode(layer, cut), -1) << "cut at " << n;
    }
    std::mt19937 rng(1234);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> bad = good;
        const int nChanges = 1 + int(rng() % 8);
        for (int k = 0; k < nChanges; ++k)
            bad[rng() % bad.size()] = uint8_t(rng());
        GIF_TEST_LAYER layer;
        const int nResult = Decode(layer, bad);
        ASSERT_TRUE(nResult == 0 || nResult == -1 || nResult == 1);
        if (nResult == 0) {
            ASSERT_NE(layer.p->pOwnedPixels, nullptr);
            ASSERT_GE(layer.Frames(), 1);
        }
    }
    // Image data of random bytes: every code value and width change is met.
    for (int i = 0; i < 200; ++i) {
        GIF_WRITER_FILE f = OneFrameFile(40, 40, {}, 256);
        f.frames[0] = Frame(40, 40, {});
        f.frames[0].lzw.nMinCodeSize = 1 + i % 11;
        std::vector<int> codes;
        for (int k = 0; k < 2000; ++k)
            codes.push_back(int(rng() % 4096));
        f.frames[0].rawCodes = codes;
        GIF_TEST_LAYER layer;
        ASSERT_EQ(Decode(layer, WriteGIF(f)), 0);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The fast decoder against the plain one

namespace {

// Everything a decode leaves: the result, the layer's size, pixels and alpha flag, and every frame
// record whole.
struct GIF_DECODE_RESULT {
    int nResult = 0;
    int nWidth = 0, nHeight = 0, bHasAlpha = 0;
    std::vector<uint8_t> pixels;
    std::vector<std::vector<uint8_t>> frames;
};

GIF_DECODE_RESULT DecodeWith(bool bPlain, const std::vector<uint8_t>& file)
{
    const int bOld = SetGIFPlainDecoder(bPlain ? 1 : 0);
    GIF_DECODE_RESULT r;
    GIF_TEST_LAYER layer;
    r.nResult = Decode(layer, file);
    SetGIFPlainDecoder(bOld);
    r.nWidth = layer.p->nWidth;
    r.nHeight = layer.p->nHeight;
    r.bHasAlpha = layer.p->bHasAlpha;
    if (layer.p->pOwnedPixels)
        r.pixels.assign(layer.p->pOwnedPixels, layer.p->pOwnedPixels + size_t(r.nWidth) * size_t(r.nHeight) * 4);
    for (int i = 0; i < layer.Frames(); ++i) {
        const GIF_FRAME* p = layer.p->ppGifFrames[i];
        const uint8_t* pBytes = reinterpret_cast<const uint8_t*>(p);
        r.frames.emplace_back(pBytes, pBytes + KX_GIF_FRAME_HEAD + size_t(p->nWidth) * size_t(p->nHeight));
    }
    return r;
}

void ExpectSameDecode(const std::vector<uint8_t>& file)
{
    const GIF_DECODE_RESULT plain = DecodeWith(true, file), fast = DecodeWith(false, file);
    ASSERT_EQ(fast.nResult, plain.nResult);
    EXPECT_EQ(fast.nWidth, plain.nWidth);
    EXPECT_EQ(fast.nHeight, plain.nHeight);
    EXPECT_EQ(fast.bHasAlpha, plain.bHasAlpha);
    EXPECT_TRUE(fast.pixels == plain.pixels);
    ASSERT_EQ(fast.frames.size(), plain.frames.size());
    for (size_t i = 0; i < fast.frames.size(); ++i)
        EXPECT_TRUE(fast.frames[i] == plain.frames[i]) << "frame " << i;
}

// Indices of long runs (strings far longer than 16) broken by noise.
std::vector<uint8_t> RunIndices(size_t n, int nColours, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    uint8_t c = 0;
    for (size_t i = 0; i < n; ++i) {
        if (rng() % 97 == 0)
            c = uint8_t(rng() % unsigned(nColours));
        v[i] = rng() % 13 == 0 ? uint8_t(rng() % unsigned(nColours)) : c;
    }
    return v;
}

}  // namespace

TEST(GifDecoder, FastDecoderGivesThePlainDecodersBytes)
{
    struct CASE {
        const char* pszName;
        int nWidth, nHeight, nColours;
        bool bRuns;          // long runs rather than noise
        bool bInterlace;
        int nMinCodeSize;    // 0: the writer's choice
        int nClearAt;        // a clear code before this pixel, or -1
        bool bDeferred;      // a full table kept without a clear
        int nEndAt;          // the end code before this pixel, or -1
        bool bNoEndCode;
        int nTransparent;    // transparent index, or -1
        bool bLocal;         // a local palette
        bool bOffset;        // frame 0 placed inside a larger screen
    };
    const CASE cases[] = {
        {"noise, 256 colours", 61, 37, 256, false, false, 0, -1, false, -1, false, -1, false, false},
        {"runs, 256 colours", 200, 50, 256, true, false, 0, -1, false, -1, false, -1, false, false},
        {"one colour", 300, 41, 1, true, false, 0, -1, false, -1, false, -1, false, false},
        {"interlaced noise", 37, 29, 64, false, true, 0, -1, false, -1, false, -1, false, false},
        {"interlaced runs", 129, 67, 16, true, true, 0, -1, false, -1, false, -1, false, false},
        {"interlaced, 1 row", 7, 1, 4, false, true, 0, -1, false, -1, false, -1, false, false},
        {"interlaced, 2 rows", 7, 2, 4, true, true, 0, -1, false, -1, false, -1, false, false},
        {"width 1", 1, 300, 8, true, false, 0, -1, false, -1, false, -1, false, false},
        {"interlaced, width 1", 1, 300, 8, true, true, 0, -1, false, -1, false, -1, false, false},
        {"code size 2", 33, 17, 4, false, false, 2, -1, false, -1, false, -1, false, false},
        {"code size 3", 33, 17, 8, true, false, 3, -1, false, -1, false, -1, false, false},
        {"code size 4", 33, 17, 16, false, false, 4, -1, false, -1, false, -1, false, false},
        {"code size 5", 33, 17, 32, true, false, 5, -1, false, -1, false, -1, false, false},
        {"code size 6", 33, 17, 64, false, false, 6, -1, false, -1, false, -1, false, false},
        {"code size 7", 33, 17, 128, true, false, 7, -1, false, -1, false, -1, false, false},
        {"code size 8, 4 colours", 33, 17, 4, false, false, 8, -1, false, -1, false, -1, false, false},
        {"code size 1", 33, 17, 2, false, false, 1, -1, false, -1, false, -1, false, false},
        {"clear code mid-stream", 45, 23, 32, false, false, 0, 500, false, -1, false, -1, false, false},
        {"clear code mid-stream, interlaced", 45, 23, 32, true, true, 0, 333, false, -1, false, -1, false, false},
        {"full table, clear codes", 200, 120, 256, false, false, 0, -1, false, -1, false, -1, false, false},
        {"full table kept", 200, 120, 256, false, false, 0, -1, true, -1, false, -1, false, false},
        {"full table kept, then a clear", 200, 120, 256, true, false, 0, 20000, true, -1, false, -1, false, false},
        {"end code mid-row", 40, 20, 16, false, false, 0, -1, false, 257, false, -1, false, false},
        {"end code mid-row, interlaced", 40, 20, 16, true, true, 0, -1, false, 257, false, -1, false, false},
        {"no end code", 40, 20, 16, false, false, 0, -1, false, -1, true, -1, false, false},
        {"transparent index", 50, 30, 16, false, false, 0, -1, false, -1, false, 3, false, false},
        {"transparent index, local palette", 50, 30, 16, true, false, 0, -1, false, -1, false, 0, true, false},
        {"frame inside a larger screen", 50, 30, 16, false, false, 0, -1, false, -1, false, 5, false, true},
        {"frame inside a larger screen, opaque", 50, 30, 16, true, true, 0, -1, false, -1, false, -1, true, true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        const size_t n = size_t(c.nWidth) * size_t(c.nHeight);
        std::vector<uint8_t> indices = c.bRuns ? RunIndices(n, c.nColours, 5) : RandomIndices(n, c.nColours, 9);
        if (c.nColours == 1)
            std::fill(indices.begin(), indices.end(), uint8_t(0));
        GIF_WRITER_FILE file = OneFrameFile(c.nWidth, c.nHeight, indices, std::max(c.nColours, 2));
        GIF_WRITER_FRAME& f = file.frames[0];
        f.bInterlace = c.bInterlace;
        f.lzw.nMinCodeSize = c.nMinCodeSize;
        f.lzw.nClearAtPixel = c.nClearAt;
        f.lzw.bDeferredClear = c.bDeferred;
        f.lzw.nEndAtPixel = c.nEndAt;
        f.lzw.bNoEndCode = c.bNoEndCode;
        if (c.nTransparent >= 0) {
            f.bControl = true;
            f.bTransparent = true;
            f.nTransparentIndex = c.nTransparent;
        }
        if (c.bLocal) {
            f.localPalette = TestPalette(std::max(c.nColours, 2));
            for (uint8_t& b : f.localPalette)
                b = uint8_t(b ^ 0x5A);
        }
        if (c.bOffset) {
            file.nScreenWidth = c.nWidth + 9;
            file.nScreenHeight = c.nHeight + 4;
            f.nLeft = 6;
            f.nTop = 3;
        }
        // A second frame of its own settings: frames after the first are kept in the table.
        GIF_WRITER_FRAME f1 = Frame(c.nWidth / 2 + 1, 3, RandomIndices(size_t(c.nWidth / 2 + 1) * 3, 2, 4));
        f1.bInterlace = !c.bInterlace;
        file.frames.push_back(f1);
        const std::vector<uint8_t> bytes = WriteGIF(file);
        ASSERT_NO_FATAL_FAILURE(ExpectSameDecode(bytes));
        // Cut at several points of the data: the plain decoder's result, whatever it is.
        for (size_t nCut : {size_t(14), bytes.size() / 3, bytes.size() / 2, bytes.size() - 40, bytes.size() - 2}) {
            SCOPED_TRACE(nCut);
            ASSERT_NO_FATAL_FAILURE(ExpectSameDecode(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(nCut))));
        }
    }
}

TEST(GifDecoder, FastDecoderMeetsDamagedDataLikeThePlainOne)
{
    // Raw code streams with codes outside the table, the code being defined right after a clear,
    // strings that run over row ends and the image's end, and data that ends inside a code.
    struct CASE {
        const char* pszName;
        int nWidth, nHeight;
        bool bInterlace;
        std::vector<int> codes;
    };
    const CASE cases[] = {
        {"code past the table", 4, 3, false, {4, 1, 7, 3, 3, 3, 3, 2, 2, 2, 2, 5}},
        {"code past the table at a row's start", 2, 4, false, {4, 1, 1, 9, 2, 2, 3, 5}},
        {"code being defined after a clear", 4, 3, false, {4, 6, 1, 1, 1, 1, 5}},
        {"string over the last row's end", 3, 2, false, {4, 1, 6, 7, 8, 9, 5}},
        {"string over row ends, interlaced", 3, 9, true, {4, 1, 6, 7, 8, 9, 10, 11, 12, 30, 2, 13, 14, 5}},
        {"bad codes in every row, interlaced", 5, 10, true, {4, 2, 31, 3, 3, 30, 1, 6, 7, 29, 0, 0, 0, 0, 0, 28, 8, 9}},
        {"no end code, data ends", 4, 3, false, {4, 2, 2}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        GIF_WRITER_FILE file = OneFrameFile(c.nWidth, c.nHeight, std::vector<uint8_t>(size_t(c.nWidth) * c.nHeight, 0), 4);
        file.frames[0].rawCodes = c.codes;
        file.frames[0].lzw.nMinCodeSize = 2;
        file.frames[0].bInterlace = c.bInterlace;
        ASSERT_NO_FATAL_FAILURE(ExpectSameDecode(WriteGIF(file)));
    }
    // Random codes at every code size, in rows of several widths, with and without interlace.
    std::mt19937 rng(77);
    for (int i = 0; i < 300; ++i) {
        const int nWidth = 1 + int(rng() % 70), nHeight = 1 + int(rng() % 40);
        GIF_WRITER_FILE file = OneFrameFile(nWidth, nHeight, {}, 256);
        file.frames[0] = Frame(nWidth, nHeight, {});
        file.frames[0].lzw.nMinCodeSize = 1 + i % 11;
        file.frames[0].bInterlace = i % 2 != 0;
        file.frames[0].nSubBlockSize = 1 + int(rng() % 255);
        std::vector<int> codes;
        const int nCodes = int(rng() % 3000);
        // Mostly codes inside a growing table, so that long strings form between the bad ones.
        for (int k = 0; k < nCodes; ++k)
            codes.push_back(rng() % 8 == 0 ? int(rng() % 4096) : int(rng() % unsigned(std::min(4096, 2 << file.frames[0].lzw.nMinCodeSize) + k)));
        file.frames[0].rawCodes = codes;
        SCOPED_TRACE(i);
        ASSERT_NO_FATAL_FAILURE(ExpectSameDecode(WriteGIF(file)));
    }
}

TEST(GifDecoder, FastDrawOfLaterFramesEqualsThePlainOne)
{
    GIF_WRITER_FILE file;
    file.nScreenWidth = 30;
    file.nScreenHeight = 20;
    file.globalPalette = TestPalette(32);
    GIF_WRITER_FRAME f0 = Frame(30, 20, RandomIndices(600, 32, 1));
    GIF_WRITER_FRAME f1 = Frame(12, 9, RandomIndices(108, 32, 2));
    f1.nLeft = 24;   // partly outside the screen
    f1.nTop = 15;
    f1.bControl = true;
    f1.bTransparent = true;
    f1.nTransparentIndex = 7;
    file.frames = {f0, f1};
    const std::vector<uint8_t> bytes = WriteGIF(file);
    std::vector<uint8_t> drawn[2];
    for (int bPlain = 0; bPlain < 2; ++bPlain) {
        const int bOld = SetGIFPlainDecoder(bPlain);
        GIF_TEST_LAYER layer;
        ASSERT_EQ(Decode(layer, bytes), 0);
        // Negative positions too: the frame is moved up and left of the screen.
        layer.p->ppGifFrames[1]->nLeft = -5;
        layer.p->ppGifFrames[1]->nTop = -4;
        ASSERT_EQ(DrawGIFFrame(layer.p, 1), 0);
        layer.p->ppGifFrames[1]->nLeft = 24;
        layer.p->ppGifFrames[1]->nTop = 15;
        ASSERT_EQ(DrawGIFFrame(layer.p, 1), 0);
        SetGIFPlainDecoder(bOld);
        drawn[bPlain].assign(layer.p->pOwnedPixels, layer.p->pOwnedPixels + 30 * 20 * 4);
    }
    EXPECT_TRUE(drawn[0] == drawn[1]);
}
