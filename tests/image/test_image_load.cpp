// Image loading: every loader against an independent decode of the same file, the damaged files of
// every format, and the dispatch by file type.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include "core/codecs.h"
#include "core/engine_globals.h"
#include "core/file_location.h"
#include "core/kx_texts.h"
#include "core/pack_archive.h"
#include "image/image_load.h"
#include "platform/plat_file.h"
#include "platform/plat_jpeg.h"
#include "tests/image/picture_fixture.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/gif_writer.h"
#include "tools/lib/jpeg_writer.h"

namespace {

typedef std::vector<uint8_t> BYTES;

// Deterministic pseudo-random pixels.
uint32_t NextRandom(uint32_t* pState)
{
    *pState = *pState * 1664525u + 1013904223u;
    return *pState >> 8;
}

std::vector<uint32_t> RandomPixels(int w, int h, uint32_t seed, bool bAlpha)
{
    std::vector<uint32_t> v(size_t(w) * h);
    for (auto& p : v) {
        p = NextRandom(&seed) & 0xFFFFFF;
        uint32_t a = bAlpha ? (NextRandom(&seed) & 0xFF) : 0xFF;
        if (bAlpha && (NextRandom(&seed) & 3) == 0)
            a = 0;   // plenty of fully transparent pixels
        p |= a << 24;
    }
    return v;
}

// A smooth picture: JPEG keeps it close, so an independent decode can be compared exactly.
std::vector<uint32_t> SmoothPixels(int w, int h)
{
    std::vector<uint32_t> v(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            v[size_t(y) * w + x] = 0xFF000000u | (uint32_t((x * 255) / w) << 16) | (uint32_t((y * 255) / h) << 8) |
                                   uint32_t(((x + y) * 127) / (w + h));
    return v;
}

// ---- independent encoders and decoders (the libraries used directly) ----

struct TEST_JPEG_ERR {
    jpeg_error_mgr pub;
    jmp_buf jb;
};
void TestJpegErrorExit(j_common_ptr p)
{
    longjmp(reinterpret_cast<TEST_JPEG_ERR*>(p->err)->jb, 1);
}

// Decodes to RGB (or grey, or for four components the library's own C,M,Y,K) samples with the
// library's defaults; empty on failure.
std::vector<uint8_t> DecodeJpegSamples(const BYTES& file, int* pW, int* pH, int* pComp)
{
    jpeg_decompress_struct d;
    TEST_JPEG_ERR err;
    d.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = TestJpegErrorExit;
    std::vector<uint8_t>* pOut = new std::vector<uint8_t>();
    if (setjmp(err.jb)) {
        jpeg_destroy_decompress(&d);
        delete pOut;
        return {};
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), file.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = d.num_components == 1 ? JCS_GRAYSCALE : d.num_components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&d);
    *pW = d.output_width;
    *pH = d.output_height;
    *pComp = d.output_components;
    pOut->resize(size_t(d.output_width) * d.output_height * d.output_components);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = pOut->data() + size_t(d.output_scanline) * d.output_width * d.output_components;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::vector<uint8_t> v = std::move(*pOut);
    delete pOut;
    return v;
}

BYTES EncodePng(const std::vector<uint32_t>& px, int w, int h, bool bAlpha)
{
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = w;
    img.height = h;
    img.format = bAlpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
    std::vector<uint8_t> raw;
    for (uint32_t p : px) {
        raw.push_back(uint8_t(p));
        raw.push_back(uint8_t(p >> 8));
        raw.push_back(uint8_t(p >> 16));
        if (bAlpha)
            raw.push_back(uint8_t(p >> 24));
    }
    png_alloc_size_t n = 0;
    if (!png_image_write_to_memory(&img, nullptr, &n, 0, raw.data(), 0, nullptr))
        return {};
    BYTES v(n);
    if (!png_image_write_to_memory(&img, v.data(), &n, 0, raw.data(), 0, nullptr))
        return {};
    v.resize(n);
    return v;
}

// B,G,R,A pixels as 32-bit values, through libpng's own simplified reader.
std::vector<uint32_t> DecodePngIndependently(const BYTES& file, int* pW, int* pH)
{
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, file.data(), file.size()))
        return {};
    img.format = PNG_FORMAT_BGRA;
    std::vector<uint32_t> v(size_t(img.width) * img.height);
    if (!png_image_finish_read(&img, nullptr, v.data(), 0, nullptr))
        return {};
    *pW = img.width;
    *pH = img.height;
    return v;
}

BYTES EncodeWebPLossless(const std::vector<uint32_t>& px, int w, int h)
{
    uint8_t* pOut = nullptr;
    const size_t n = WebPEncodeLosslessBGRA(reinterpret_cast<const uint8_t*>(px.data()), w, h, w * 4, &pOut);
    BYTES v(pOut, pOut + n);
    WebPFree(pOut);
    return v;
}

// ---- the fixture: a game folder, the codec modules bound, one layer ----

class ImageLoadTest : public PictureLayerTest {
protected:
    int Load(const char* pszFile, const BYTES& data)
    {
        dir.Write(pszFile, data);
        return LoadImageFile(pLayer, pszFile);
    }
    // The layer's pixels equal the expected ones after the transparent normal form.
    void ExpectPixels(const std::vector<uint32_t>& expected, int w, int h)
    {
        PictureLayerTest::ExpectPixels(expected, w, h);
        EXPECT_EQ(pLayer->nBufHeight, h);
    }
    // The previous 3 x 2 image is still there.
    void ExpectUnchanged()
    {
        ASSERT_EQ(pLayer->nWidth, 3);
        ASSERT_EQ(pLayer->nHeight, 2);
        EXPECT_EQ(Px(2, 1), 0xFF112233u);
    }
    bool Reported(int nId) const
    {
        for (const auto& r : errors.reports)
            if (r.nId == nId)
                return true;
        return false;
    }
    bool BoxShown(const std::string& strText) const
    {
        for (const auto& b : boxes.boxes)
            if (b.strText == strText)
                return true;
        return false;
    }
};

// ---------------------------------------------------------------------------------------------
// BMP

TEST_F(ImageLoadTest, BmpEveryDepthMatchesTheWrittenPixels)
{
    const int w = 13, h = 5;   // odd width: every row needs padding
    struct CASE {
        int nBits;
        uint32_t nColorsUsed;
        uint32_t nInfoSize;
        bool bAlpha;
    } cases[] = {
        {1, 0, 40, false}, {4, 0, 40, false}, {4, 5, 40, false}, {8, 0, 40, false},
        {8, 0, 108, false},   // a V4 header: the palette follows it
        {24, 0, 40, false}, {32, 0, 40, true}, {32, 0, 124, true},
        // OS/2 headers: the 12-byte core header with 3-byte B,G,R palette entries and 16-bit
        // sizes, and OS/2 2.x headers of 16 bytes (cut short: no colours-used field) and 64 bytes
        // with 4-byte entries; each reads its own palette layout.
        {1, 0, 12, false}, {4, 0, 12, false}, {8, 0, 12, false}, {24, 0, 12, false},
        {1, 0, 16, false}, {4, 0, 16, false}, {8, 0, 16, false}, {24, 0, 16, false},
        {4, 0, 64, false}, {8, 0, 64, false}, {8, 9, 64, false}, {24, 0, 64, false}, {32, 0, 64, true},
    };
    uint32_t seed = 7;
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nBits << " bits, colours used " << c.nColorsUsed << ", header " << c.nInfoSize);
        BMP_WRITER_OPTIONS opt;
        opt.nBits = c.nBits;
        opt.nColorsUsed = c.nColorsUsed;
        opt.nInfoSize = c.nInfoSize;
        std::vector<uint8_t> indices(size_t(w) * h);
        std::vector<uint32_t> expected(size_t(w) * h);
        std::vector<uint32_t> px = RandomPixels(w, h, seed++, c.bAlpha);
        if (c.nBits <= 8) {
            const uint32_t nPal = 1u << c.nBits;
            for (uint32_t i = 0; i < nPal; ++i)
                opt.palette.push_back(NextRandom(&seed) & 0xFFFFFF);
            const uint32_t nRead = c.nColorsUsed ? c.nColorsUsed : nPal;
            for (size_t i = 0; i < indices.size(); ++i) {
                indices[i] = uint8_t(NextRandom(&seed) % nPal);
                // Entries beyond colours-used are not read: opaque black.
                expected[i] = 0xFF000000u | (indices[i] < nRead ? opt.palette[indices[i]] : 0);
            }
        } else {
            for (size_t i = 0; i < px.size(); ++i)
                expected[i] = c.nBits == 24 ? (px[i] | 0xFF000000u) : px[i];
        }
        ASSERT_EQ(Load("a.bmp", WriteBmp(w, h, opt, px.data(), indices.data())), 0);
        ExpectPixels(expected, w, h);
        EXPECT_EQ(pLayer->bHasAlpha, c.nBits == 32 ? 1 : 0);
    }
    EXPECT_TRUE(errors.reports.empty());
}

// A header of a size that is neither a Windows nor an OS/2 form is refused.
TEST_F(ImageLoadTest, BmpHeadersOfAnUnknownSizeAreRefused)
{
    for (uint32_t nSize : {0u, 4u, 11u, 13u, 15u}) {
        SCOPED_TRACE(nSize);
        BMP_WRITER_OPTIONS opt;
        BYTES v = WriteBmp(6, 4, opt, RandomPixels(6, 4, 5, false).data(), nullptr);
        v[14] = static_cast<uint8_t>(nSize);
        errors.reports.clear();
        EXPECT_EQ(Load("bad.bmp", v), -1);
        EXPECT_TRUE(Reported(KX_ERR_BMP_OFFSET));
    }
}

TEST_F(ImageLoadTest, BmpWidthLimitIsCheckedBeforeAllocating)
{
    BMP_WRITER_OPTIONS opt;
    std::vector<uint32_t> px(8192, 0xFF0000FFu);
    ASSERT_EQ(Load("wide.bmp", WriteBmp(8192, 1, opt, px.data(), nullptr)), 0);
    EXPECT_EQ(pLayer->nWidth, 8192);
    EXPECT_EQ(Px(8191, 0), 0xFF0000FFu);
    // 8193 wide: refused by its header, without the allocator's box.
    opt.bWidthOverride = true;
    opt.nWidthOverride = 8193;
    EXPECT_EQ(Load("wider.bmp", WriteBmp(8192, 1, opt, px.data(), nullptr)), -1);
    ASSERT_FALSE(errors.reports.empty());
    EXPECT_EQ(errors.reports[0].nId, KX_ERR_IMAGE_SIZE);
    EXPECT_FALSE(Reported(KX_ERR_LAYER_NO_MEMORY));
    EXPECT_EQ(pLayer->nWidth, 8192);
}

TEST_F(ImageLoadTest, BmpUndecodedDepthGivesTransparentPixels)
{
    BMP_WRITER_OPTIONS opt;
    opt.nBits = 16;
    ASSERT_EQ(Load("a.bmp", WriteBmp(4, 3, opt, nullptr, nullptr)), 0);
    ExpectPixels(std::vector<uint32_t>(12, 0), 4, 3);
}

TEST_F(ImageLoadTest, DamagedBmpEndsInItsError)
{
    std::vector<uint32_t> px = RandomPixels(6, 4, 3, false);
    std::vector<uint8_t> idx(24, 1);
    struct CASE {
        const char* pszWhat;
        BMP_WRITER_OPTIONS opt;
        int nId;
    };
    std::vector<CASE> cases;
    auto add = [&](const char* what, int bits, auto fn, int id) {
        CASE c{what, {}, id};
        c.opt.nBits = bits;
        fn(c.opt);
        cases.push_back(c);
    };
    add("bad signature", 24, [](BMP_WRITER_OPTIONS& o) { o.bBadSignature = true; }, KX_ERR_BMP_SIGNATURE);
    add("one byte", 24, [](BMP_WRITER_OPTIONS& o) { o.nTruncateTo = 1; }, KX_ERR_BMP_SIGNATURE);
    add("headers cut", 24, [](BMP_WRITER_OPTIONS& o) { o.nTruncateTo = 30; }, KX_ERR_BMP_OFFSET);
    add("offset below 11", 24, [](BMP_WRITER_OPTIONS& o) { o.llOffsetOverride = 10; }, KX_ERR_BMP_OFFSET);
    add("offset past the end", 24, [](BMP_WRITER_OPTIONS& o) { o.llOffsetOverride = 0x7FFFFFF0; }, KX_ERR_BMP_OFFSET);
    add("rows cut", 24, [](BMP_WRITER_OPTIONS& o) { o.nTruncateTo = 54 + 40; }, KX_ERR_BMP_OFFSET);
    add("palette cut", 8, [](BMP_WRITER_OPTIONS& o) { o.nTruncateTo = 54 + 100; }, KX_ERR_BMP_OFFSET);
    add("width 0", 24, [](BMP_WRITER_OPTIONS& o) { o.bWidthOverride = true; o.nWidthOverride = 0; }, KX_ERR_IMAGE_SIZE);
    add("width negative", 24, [](BMP_WRITER_OPTIONS& o) { o.bWidthOverride = true; o.nWidthOverride = -6; }, KX_ERR_IMAGE_SIZE);
    add("height 0", 24, [](BMP_WRITER_OPTIONS& o) { o.bHeightOverride = true; o.nHeightOverride = 0; }, KX_ERR_IMAGE_SIZE);
    add("height 8193", 24, [](BMP_WRITER_OPTIONS& o) { o.bHeightOverride = true; o.nHeightOverride = 8193; }, KX_ERR_IMAGE_SIZE);
    add("huge height", 24, [](BMP_WRITER_OPTIONS& o) { o.bHeightOverride = true; o.nHeightOverride = 0x7FFFFFFF; }, KX_ERR_IMAGE_SIZE);
    add("top-down", 24, [](BMP_WRITER_OPTIONS& o) { o.bTopDown = true; }, KX_ERR_BMP_TOP_DOWN);
    add("RLE 8", 8, [](BMP_WRITER_OPTIONS& o) { o.nCompression = 1; }, KX_ERR_BMP_COMPRESSED);
    add("RLE 4", 4, [](BMP_WRITER_OPTIONS& o) { o.nCompression = 2; }, KX_ERR_BMP_COMPRESSED);
    add("rows of a taller picture", 32, [](BMP_WRITER_OPTIONS& o) { o.bHeightOverride = true; o.nHeightOverride = 5; }, KX_ERR_BMP_OFFSET);
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        errors.reports.clear();
        ASSERT_EQ(Load("bad.bmp", WriteBmp(6, 4, c.opt, px.data(), idx.data())), -1);
        ASSERT_FALSE(errors.reports.empty());
        EXPECT_EQ(errors.reports[0].nId, c.nId);
        EXPECT_EQ(errors.reports[0].bFatal, 1);
        ExpectUnchanged();
    }
    // The header's own size reaching past the file.
    BMP_WRITER_OPTIONS opt;
    BYTES v = WriteBmp(6, 4, opt, px.data(), nullptr);
    v[14] = 0xFF; v[15] = 0xFF; v[16] = 0xFF; v[17] = 0x7F;
    errors.reports.clear();
    EXPECT_EQ(Load("bad.bmp", v), -1);
    EXPECT_TRUE(Reported(KX_ERR_BMP_OFFSET));
    ExpectUnchanged();
}

// ---------------------------------------------------------------------------------------------
// PNG

TEST_F(ImageLoadTest, PngMatchesLibpngsOwnDecode)
{
    const int w = 37, h = 11;
    for (bool bAlpha : {true, false}) {
        SCOPED_TRACE(bAlpha ? "RGBA" : "RGB");
        const BYTES file = EncodePng(RandomPixels(w, h, 11, bAlpha), w, h, bAlpha);
        ASSERT_FALSE(file.empty());
        int rw = 0, rh = 0;
        const std::vector<uint32_t> ref = DecodePngIndependently(file, &rw, &rh);
        ASSERT_EQ(rw, w);
        ASSERT_EQ(Load("a.png", file), 0);
        ExpectPixels(ref, w, h);
        EXPECT_EQ(pLayer->bHasAlpha, bAlpha ? 1 : 0);
    }
    EXPECT_TRUE(errors.reports.empty());
}

// A damaged PNG is told as damaged, wherever the damage lies; only a side above 8192 is told as a
// picture too large.
TEST_F(ImageLoadTest, DamagedPngEndsInItsError)
{
    const int w = 37, h = 11;
    const BYTES file = EncodePng(RandomPixels(w, h, 12, true), w, h, true);
    ASSERT_FALSE(file.empty());
    const size_t nIdat = std::string(file.begin(), file.end()).find("IDAT");
    ASSERT_NE(nIdat, std::string::npos);
    struct CASE {
        const char* pszWhat;
        BYTES bytes;
        int nId;
    };
    std::vector<CASE> cases;
    auto add = [&](const char* pszWhat, auto fn, int nId) {
        BYTES v = file;
        fn(v);
        cases.push_back({pszWhat, v, nId});
    };
    add("bad signature", [](BYTES& v) { v[1] = 'Q'; }, KX_ERR_PNG_DAMAGED);
    add("header cut", [](BYTES& v) { v.resize(20); }, KX_ERR_PNG_DAMAGED);
    add("image data damaged", [&](BYTES& v) { v[nIdat + 6] ^= 0x40; }, KX_ERR_PNG_DAMAGED);
    add("image data cut", [&](BYTES& v) { v.resize(nIdat + 30); }, KX_ERR_PNG_DAMAGED);
    cases.push_back({"8193 wide", EncodePng(std::vector<uint32_t>(8193, 0xFF102030u), 8193, 1, false),
                     KX_ERR_IMAGE_SIZE});
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        errors.reports.clear();
        EXPECT_NE(Load("bad.png", c.bytes), 0);
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_EQ(errors.reports[0].nId, c.nId);
        EXPECT_EQ(errors.reports[0].bFatal, 1);
        ExpectUnchanged();
    }
}

// The library's one-call decoder and the preload, load and end steps give the same layer, the
// transparent pixels in the normal form either way.
TEST_F(ImageLoadTest, PngDecodesAlikeWithAndWithoutTheOneCallDecoder)
{
    const int w = 23, h = 9;
    std::vector<uint32_t> px = RandomPixels(w, h, 5, true);
    for (size_t i = 0; i < px.size(); i += 3) px[i] &= 0x00FFFFFFu;   // transparent, colour kept
    const BYTES file = EncodePng(px, w, h, true);
    ASSERT_NE(g_pfnPngDecodeInto, nullptr);
    ASSERT_EQ(Load("a.png", file), 0);
    const std::vector<uint32_t> oneCall(reinterpret_cast<const uint32_t*>(pLayer->pDisplayPixels),
                                        reinterpret_cast<const uint32_t*>(pLayer->pDisplayPixels) + size_t(w) * h);
    const KX_PNG_DECODE_INTO_FN pfnSaved = g_pfnPngDecodeInto;
    g_pfnPngDecodeInto = nullptr;
    const int nSteps = Load("a.png", file);
    g_pfnPngDecodeInto = pfnSaved;
    ASSERT_EQ(nSteps, 0);
    ExpectPixels(oneCall, w, h);
    for (size_t i = 0; i < oneCall.size(); ++i) {
        const uint32_t want = (px[i] & 0xFF000000u) == 0 ? uint32_t(KX_TRANSPARENT_PIXEL) : px[i];
        ASSERT_EQ(oneCall[i], want) << i;
    }
    EXPECT_TRUE(errors.reports.empty());
}

// The normal form, sixteen pixels at a time, against the plain rule for every length and place of a
// transparent pixel around the blocks.
TEST(NormalizeTransparent, MatchesThePlainRuleAtEveryLengthAndPlace)
{
    for (size_t n = 0; n <= 40; ++n) {
        for (size_t at = 0; at <= n; ++at) {
            std::vector<uint32_t> px(n + 1, 0xFF102030u);   // one pixel past the end, which stays
            for (size_t i = 0; i < n; ++i) px[i] = 0x01000000u * uint32_t(1 + i % 250) + uint32_t(i);
            if (at < n) px[at] = 0x00ABCDEFu;
            std::vector<uint32_t> want = px;
            for (size_t i = 0; i < n; ++i)
                if ((want[i] & 0xFF000000u) == 0) want[i] = KX_TRANSPARENT_PIXEL;
            NormalizeTransparentBuffer(reinterpret_cast<uint8_t*>(px.data()), n);
            ASSERT_EQ(px, want) << n << " " << at;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// JPEG

TEST_F(ImageLoadTest, JpegMatchesLibjpegsOwnDecode)
{
    const int w = 45, h = 29;
    const std::vector<uint32_t> src = SmoothPixels(w, h);
    for (int nComp : {3, 1}) {
        SCOPED_TRACE(nComp);
        std::vector<uint8_t> samples;
        for (uint32_t p : src) {
            if (nComp == 1) {
                samples.push_back(uint8_t(p >> 8));
            } else {
                samples.push_back(uint8_t(p >> 16));
                samples.push_back(uint8_t(p >> 8));
                samples.push_back(uint8_t(p));
            }
        }
        const BYTES file = EncodeJpegSamples(samples, w, h, nComp);
        ASSERT_FALSE(file.empty());
        int rw = 0, rh = 0, rc = 0;
        const std::vector<uint8_t> ref = DecodeJpegSamples(file, &rw, &rh, &rc);
        ASSERT_EQ(rw, w);
        ASSERT_EQ(rc, nComp);
        std::vector<uint32_t> expected(size_t(w) * h);
        for (size_t i = 0; i < expected.size(); ++i) {
            const uint8_t* s = &ref[i * nComp];
            expected[i] = nComp == 1 ? (0xFF000000u | s[0] * 0x010101u)
                                     : (0xFF000000u | (uint32_t(s[0]) << 16) | (uint32_t(s[1]) << 8) | s[2]);
        }
        pLayer->bHasAlpha = 1;
        ASSERT_EQ(Load("a.jpg", file), 0);
        ExpectPixels(expected, w, h);
        EXPECT_EQ(pLayer->bHasAlpha, 0);
    }
    EXPECT_TRUE(errors.reports.empty());
}

// CMYK and YCCK files (Adobe's inverted CMYK, the common case) load as RGB: each pixel is what
// libjpeg itself decodes to C,M,Y,K, turned into R,G,B as the browsers' decoders do (R = C x K / 255
// on the inverted samples, G from M, B from Y).
TEST_F(ImageLoadTest, JpegCmykAndYcckLoadAsTheReferenceDecodersDrawThem)
{
    const int w = 37, h = 21;
    const std::vector<uint32_t> src = SmoothPixels(w, h);
    std::vector<uint8_t> samples;   // inverted C,M,Y,K: 255 is no ink
    for (size_t i = 0; i < src.size(); ++i) {
        const uint32_t p = src[i];
        samples.push_back(uint8_t(p >> 16));
        samples.push_back(uint8_t(p >> 8));
        samples.push_back(uint8_t(p));
        samples.push_back(uint8_t(255 - (i % w) * 3));
    }
    for (const bool bYcck : {false, true}) {
        SCOPED_TRACE(bYcck ? "YCCK" : "CMYK");
        const BYTES file = EncodeJpegSamples(samples, w, h, 4, 90, bYcck);
        ASSERT_FALSE(file.empty());
        int rw = 0, rh = 0, rc = 0;
        const std::vector<uint8_t> ref = DecodeJpegSamples(file, &rw, &rh, &rc);
        ASSERT_EQ(rw, w);
        ASSERT_EQ(rh, h);
        ASSERT_EQ(rc, 4);
        std::vector<uint32_t> expected(size_t(w) * h);
        for (size_t i = 0; i < expected.size(); ++i) {
            const uint8_t* s = &ref[i * 4];
            const uint32_t r = uint32_t(s[0]) * s[3] / 255, g = uint32_t(s[1]) * s[3] / 255, b = uint32_t(s[2]) * s[3] / 255;
            expected[i] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
        pLayer->bHasAlpha = 1;
        ASSERT_EQ(Load("cmyk.jpg", file), 0);
        ExpectPixels(expected, w, h);
        EXPECT_EQ(pLayer->bHasAlpha, 0);
    }
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(ImageLoadTest, TruncatedJpegLoadsWithTheRestFilled)
{
    const int w = 64, h = 64;
    std::vector<uint8_t> samples;
    for (uint32_t p : SmoothPixels(w, h)) {
        samples.push_back(uint8_t(p >> 16));
        samples.push_back(uint8_t(p >> 8));
        samples.push_back(uint8_t(p));
    }
    BYTES file = EncodeJpegSamples(samples, w, h, 3);
    file.resize(file.size() * 2 / 3);
    ASSERT_EQ(Load("cut.jpg", file), 0);
    EXPECT_EQ(pLayer->nWidth, w);
    EXPECT_EQ(Px(w - 1, h - 1) >> 24, 0xFFu);
    EXPECT_TRUE(errors.reports.empty());
    // The platform call says so.
    std::vector<uint8_t> out(size_t(w) * h * 4);
    uint8_t bCut = 0;
    EXPECT_EQ(PlatJpegDecode(file.data(), file.size(), out.data(), w, h, w * 4, &bCut), KX_JPEG_OK);
    EXPECT_EQ(bCut, 1);
}

TEST_F(ImageLoadTest, JpegEncoderRoundTrip)
{
    const int w = 40, h = 24;
    std::vector<uint32_t> src = SmoothPixels(w, h);
    std::vector<uint8_t> padded(size_t(w + 3) * 4 * h, 0xEE);   // a stride wider than the row
    for (int y = 0; y < h; ++y)
        std::memcpy(&padded[size_t(y) * (w + 3) * 4], &src[size_t(y) * w], size_t(w) * 4);
    BYTES file;
    ASSERT_EQ(PlatJpegEncode(padded.data(), w, h, (w + 3) * 4, 100, &file), KX_JPEG_OK);
    int rw = 0, rh = 0, rc = 0;
    const std::vector<uint8_t> ref = DecodeJpegSamples(file, &rw, &rh, &rc);
    ASSERT_EQ(rw, w);
    ASSERT_EQ(rh, h);
    ASSERT_EQ(rc, 3);
    int nMaxDiff = 0;
    for (size_t i = 0; i < src.size(); ++i)
        for (int c = 0; c < 3; ++c)
            nMaxDiff = std::max(nMaxDiff, std::abs(int(ref[i * 3 + c]) - int((src[i] >> (16 - 8 * c)) & 0xFF)));
    EXPECT_LE(nMaxDiff, 8);
    EXPECT_EQ(PlatJpegEncode(padded.data(), w, h, w * 4 - 1, 90, &file), KX_JPEG_BAD_ARG);
    EXPECT_TRUE(file.empty());
    EXPECT_EQ(PlatJpegEncode(nullptr, w, h, w * 4, 90, &file), KX_JPEG_BAD_ARG);
    EXPECT_EQ(PlatJpegEncode(padded.data(), 0, h, w * 4, 90, &file), KX_JPEG_BAD_ARG);
}

TEST_F(ImageLoadTest, DamagedJpegEndsInItsError)
{
    std::vector<uint8_t> rgb(16 * 16 * 3, 0x80);
    const BYTES good = EncodeJpegSamples(rgb, 16, 16, 3);
    BYTES headerOnly(good.begin(), good.begin() + 20);
    // Frame header edits: a sample precision of 7 bits, a width of 9000 (refused before allocating).
    BYTES badPrecision = good;
    BYTES wide = good;
    for (size_t i = 2; i + 8 < good.size(); ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xC0) {
            badPrecision[i + 4] = 7;
            wide[i + 7] = 9000 >> 8;
            wide[i + 8] = 9000 & 0xFF;
            break;
        }
    struct CASE {
        const char* pszWhat;
        BYTES file;
        int nFirstId;
    } cases[] = {
        {"not a JPEG", BYTES{'h', 'e', 'l', 'l', 'o'}, KX_ERR_JPEG_LOAD},
        {"header cut", headerOnly, KX_ERR_JPEG_LOAD},
        {"7-bit samples", badPrecision, KX_ERR_JPEG_LOAD},
        {"9000 wide", wide, KX_ERR_IMAGE_SIZE},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        errors.reports.clear();
        EXPECT_EQ(Load("bad.jpg", c.file), -1);
        ASSERT_FALSE(errors.reports.empty());
        EXPECT_EQ(errors.reports[0].nId, c.nFirstId);
        EXPECT_TRUE(Reported(KX_ERR_JPEG_LOAD));
        ExpectUnchanged();
    }
}

// ---------------------------------------------------------------------------------------------
// WebP

TEST_F(ImageLoadTest, WebPMatchesLibwebpsOwnDecode)
{
    const int w = 33, h = 17;
    const BYTES file = EncodeWebPLossless(RandomPixels(w, h, 5, true), w, h);
    ASSERT_FALSE(file.empty());
    int rw = 0, rh = 0;
    uint8_t* pRef = WebPDecodeBGRA(file.data(), file.size(), &rw, &rh);
    ASSERT_NE(pRef, nullptr);
    std::vector<uint32_t> ref(size_t(w) * h);
    std::memcpy(ref.data(), pRef, ref.size() * 4);
    WebPFree(pRef);
    ASSERT_EQ(Load("a.webp", file), 0);
    ExpectPixels(ref, w, h);
    EXPECT_EQ(pLayer->bHasAlpha, 1);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(boxes.boxes.empty());
}

// Pictures with alpha are decoded a band of rows at a time and each band is normalised as it is
// finished: large pictures (many bands, lossless and lossy with alpha) and one without alpha give
// the library's own decode in the normal form, alike with the whole-picture pass of a library that
// cannot hand out rows.
TEST_F(ImageLoadTest, WebPRowsAreNormalisedAsTheyAreDecoded)
{
    const int w = 301, h = 203;
    const auto lossy = [](const std::vector<uint32_t>& px, int pw, int ph) {
        uint8_t* pOut = nullptr;
        const size_t n = WebPEncodeBGRA(reinterpret_cast<const uint8_t*>(px.data()), pw, ph, pw * 4, 80, &pOut);
        BYTES v(pOut, pOut + n);
        WebPFree(pOut);
        return v;
    };
    // A lossless file whose header says it uses no alpha still decodes transparent pixels.
    BYTES hintless = EncodeWebPLossless(RandomPixels(w, h, 24, true), w, h);
    ASSERT_GT(hintless.size(), 25u);
    ASSERT_EQ(std::memcmp(hintless.data() + 12, "VP8L", 4), 0);
    hintless[24] &= ~0x10;   // the "alpha is used" bit after the 14-bit width and height
    struct CASE {
        const char* pszWhat;
        BYTES file;
    } cases[] = {
        {"lossless with alpha", EncodeWebPLossless(RandomPixels(w, h, 21, true), w, h)},
        {"lossless, alpha not announced", hintless},
        {"lossy with alpha", lossy(RandomPixels(w, h, 22, true), w, h)},
        {"lossy without alpha", lossy(RandomPixels(w, h, 23, false), w, h)},
    };
    ASSERT_NE(g_pfnWebPDecodeRows, nullptr);
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_FALSE(c.file.empty());
        int rw = 0, rh = 0;
        uint8_t* pRef = WebPDecodeBGRA(c.file.data(), c.file.size(), &rw, &rh);
        ASSERT_NE(pRef, nullptr);
        std::vector<uint32_t> ref(size_t(w) * h);
        std::memcpy(ref.data(), pRef, ref.size() * 4);
        WebPFree(pRef);
        ASSERT_EQ(Load("a.webp", c.file), 0);
        ExpectPixels(ref, w, h);
        EXPECT_EQ(pLayer->bHasAlpha, 1);
        const KX_WEBP_DECODE_ROWS_FN pfnSaved = g_pfnWebPDecodeRows;
        g_pfnWebPDecodeRows = nullptr;
        const int nWhole = Load("b.webp", c.file);
        g_pfnWebPDecodeRows = pfnSaved;
        ASSERT_EQ(nWhole, 0);
        ExpectPixels(ref, w, h);
    }
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ImageLoadTest, DamagedWebPEndsInItsError)
{
    const BYTES good = EncodeWebPLossless(RandomPixels(8, 8, 9, false), 8, 8);
    BYTES badTag = good;
    badTag[8] = 'X';
    BYTES cut(good.begin(), good.begin() + good.size() / 2);
    BYTES tiny(good.begin(), good.begin() + 8);
    BYTES riffOnly(good.begin(), good.begin() + 12);
    struct CASE {
        const char* pszWhat;
        BYTES file;
    } cases[] = {{"tag", badTag}, {"cut", cut}, {"8 bytes", tiny}, {"bare RIFF header", riffOnly}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        boxes.boxes.clear();
        EXPECT_EQ(Load("bad.webp", c.file), -1);
        EXPECT_TRUE(BoxShown("File Check Error."));
        ExpectUnchanged();
    }
    // Without the WebP module.
    boxes.boxes.clear();
    UnloadCodecLibraries();
    EXPECT_EQ(Load("a.webp", good), -1);
    EXPECT_TRUE(BoxShown(GetEngineText(TXT_WEBP_NOT_SUPPORTED)));
    ExpectUnchanged();
}

// ---------------------------------------------------------------------------------------------
// GIF (the decoder's own tests cover the format; here the loader's part: dispatch and final state)

TEST_F(ImageLoadTest, GifLoadsThroughTheDispatcher)
{
    const int w = 7, h = 5;
    GIF_WRITER_FILE f;
    f.nScreenWidth = w;
    f.nScreenHeight = h;
    f.globalPalette = {10, 20, 30, 200, 100, 50, 0, 0, 0, 255, 255, 255};
    GIF_WRITER_FRAME fr;
    fr.nWidth = w;
    fr.nHeight = h;
    fr.bControl = true;
    fr.bTransparent = true;
    fr.nTransparentIndex = 2;
    std::vector<uint32_t> expected;
    for (int i = 0; i < w * h; ++i) {
        const uint8_t k = uint8_t((i * 5 + i / 3) % 4);
        fr.indices.push_back(k);
        const uint8_t* rgb = &f.globalPalette[k * 3];
        expected.push_back((k == 2 ? 0u : 0xFF000000u) | (uint32_t(rgb[0]) << 16) | (uint32_t(rgb[1]) << 8) | rgb[2]);
    }
    f.frames.push_back(fr);
    ASSERT_EQ(Load("a.gif", WriteGIF(f)), 0);
    ExpectPixels(expected, w, h);
    EXPECT_EQ(pLayer->bHasAlpha, 1);
    // Cut short inside the header: error 100215.
    BYTES cut = WriteGIF(f);
    cut.resize(9);
    EXPECT_EQ(Load("b.gif", cut), -1);
    EXPECT_TRUE(Reported(KX_ERR_GIF_LOAD_FAILED));
}

// ---------------------------------------------------------------------------------------------
// Dispatch, empty layers and the placeholders

TEST_F(ImageLoadTest, EmptyAndMissingNamesGiveOneTransparentPixel)
{
    for (const char* pszName : {"", "nothing-here"}) {
        SCOPED_TRACE(pszName);
        pLayer->bHasAlpha = 1;
        ASSERT_EQ(LoadLayerImage(pLayer, pszName), 0);
        ExpectPixels({0}, 1, 1);
        EXPECT_EQ(pLayer->bHasAlpha, 0);
        // Back to a bigger picture for the next name.
        ASSERT_EQ(Load("a.bmp", WriteBmp(3, 2, BMP_WRITER_OPTIONS{}, std::vector<uint32_t>(6, 0xFF112233u).data(), nullptr)), 0);
    }
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(ImageLoadTest, DispatchByFileType)
{
    dir.Write("x.dat", BYTES{1, 2, 3, 4});
    struct CASE {
        uint8_t bType;
        int nResult;
        int nId;
    } cases[] = {
        {FILETYPE_PSD, -1, KX_ERR_PSD_REFUSED}, {FILETYPE_WAV, -1, KX_ERR_IMAGE_TYPE},
        {FILETYPE_OGG, -1, KX_ERR_IMAGE_TYPE},  {FILETYPE_NONE, -1, KX_ERR_IMAGE_TYPE},
        {77, -1, KX_ERR_IMAGE_TYPE},
        {FILETYPE_GIF, -1, KX_ERR_GIF_LOAD_FAILED},
        {FILETYPE_BMP, -1, KX_ERR_BMP_SIGNATURE}, {FILETYPE_PNG, -1, KX_ERR_PNG_DAMAGED},
        {FILETYPE_JPG, -1, KX_ERR_JPEG_LOAD},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(int(c.bType));
        errors.reports.clear();
        FILE_LOCATION loc{};
        loc.nSource = FILESRC_LOOSE;
        loc.bType = c.bType;
        EXPECT_EQ(LoadLocatedImage(pLayer, &loc, "x.dat", "X"), c.nResult);
        ASSERT_FALSE(errors.reports.empty());
        EXPECT_EQ(errors.reports.back().nId, c.nId);
        EXPECT_EQ(errors.reports.back().bFatal, 1);
        EXPECT_EQ(loc.pData, nullptr);
        ExpectUnchanged();
    }
    // A source kind no reader knows.
    FILE_LOCATION loc{};
    loc.nSource = 9;
    EXPECT_EQ(LocateAndReadFile(&loc, "x.dat"), -2);
}

TEST_F(ImageLoadTest, PsbWithoutEmoteIsATransparentPlaceholder)
{
    dir.Write("m.psb", BYTES{'8', 'B', 'P', 'S'});
    FILE_LOCATION loc{};
    loc.nSource = FILESRC_LOOSE;
    loc.bType = FILETYPE_PSB;
    ASSERT_EQ(LoadLocatedImage(pLayer, &loc, "m.psb", "m"), 0);
    ExpectPixels({0, 0, 0, 0}, 2, 2);
    EXPECT_EQ(pLayer->bKind, LAYERKIND_CPU);
}

// Cut and scrambled files of every format: an error or a picture, never a crash (run under the
// address sanitizer), and every failure is told to the player.
TEST_F(ImageLoadTest, CutAndScrambledFilesNeverCrash)
{
    const int w = 24, h = 16;
    const std::vector<uint32_t> px = RandomPixels(w, h, 21, true);
    std::vector<uint8_t> samples(size_t(w) * h * 3, 0x55);
    std::vector<uint8_t> idx(size_t(w) * h, 3);
    BMP_WRITER_OPTIONS o8;
    o8.nBits = 8;
    BMP_WRITER_OPTIONS o32;
    o32.nBits = 32;
    struct FILE_CASE {
        const char* pszName;
        BYTES file;
    } files[] = {
        {"f.bmp", WriteBmp(w, h, o8, nullptr, idx.data())},
        {"g.bmp", WriteBmp(w, h, o32, px.data(), nullptr)},
        {"f.png", EncodePng(px, w, h, true)},
        {"f.jpg", EncodeJpegSamples(samples, w, h, 3)},
        {"f.webp", EncodeWebPLossless(px, w, h)},
    };
    uint32_t seed = 99;
    for (const FILE_CASE& f : files) {
        SCOPED_TRACE(f.pszName);
        ASSERT_FALSE(f.file.empty());
        std::vector<BYTES> variants;
        for (size_t n = 0; n < f.file.size(); n += 1 + f.file.size() / 40)
            variants.emplace_back(f.file.begin(), f.file.begin() + n);
        for (int i = 0; i < 40; ++i) {
            BYTES v = f.file;
            for (int k = 0; k < 4; ++k)
                v[NextRandom(&seed) % v.size()] = uint8_t(NextRandom(&seed));
            variants.push_back(v);
        }
        for (const BYTES& v : variants) {
            errors.reports.clear();
            boxes.boxes.clear();
            const int nResult = Load(f.pszName, v);
            if (nResult != 0) {
                EXPECT_FALSE(errors.reports.empty() && boxes.boxes.empty()) << "unreported failure, " << v.size() << " bytes";
            } else {
                ASSERT_GE(pLayer->nWidth, 1);
                ASSERT_EQ(pLayer->nBufWidth, pLayer->nWidth);
            }
        }
    }
}

}  // namespace
