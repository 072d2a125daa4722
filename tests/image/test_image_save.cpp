// The image savers: every format read back with an independent decoder (BMP by hand, PNG, JPEG and
// WebP with their libraries), the BMP layout byte for byte, alpha handling, the WebP encoder call,
// and failed writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>

#include "core/codecs.h"
#include "core/engine_globals.h"
#include "core/kx_texts.h"
#include "image/image_load.h"
#include "image/image_save.h"
#include "image/layer.h"
#include "platform/plat_file.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

namespace {

// A layer record over a pixel vector of its own (B, G, R, A rows top-down).
struct TEST_LAYER {
    LAYER layer{};
    std::vector<uint8_t> pixels;
    TEST_LAYER(int32_t w, int32_t h, uint8_t bHasAlpha)
    {
        pixels.resize(static_cast<size_t>(w) * h * 4);
        layer.nWidth = w;
        layer.nHeight = h;
        layer.bHasAlpha = bHasAlpha;
        layer.pDisplayPixels = pixels.data();
    }
    uint8_t* At(int x, int y) { return pixels.data() + (static_cast<size_t>(y) * layer.nWidth + x) * 4; }
};

// Smooth colours with a varying alpha that includes 0 and 255: JPEG keeps such pictures close.
TEST_LAYER Gradient(int32_t w, int32_t h, uint8_t bHasAlpha)
{
    TEST_LAYER t(w, h, bHasAlpha);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = t.At(x, y);
            p[0] = static_cast<uint8_t>(x * 255 / (w - 1));
            p[1] = static_cast<uint8_t>(y * 255 / (h - 1));
            p[2] = static_cast<uint8_t>(60 + x + y);
            p[3] = static_cast<uint8_t>(x == 0 ? 0 : (y == 0 ? 255 : (x * 37 + y * 11) & 0xFF));
        }
    return t;
}

std::vector<uint8_t> ReadAll(const std::string& strNative)
{
    std::vector<uint8_t> data;
    FILE* f = std::fopen(strNative.c_str(), "rb");
    if (!f)
        return data;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    return data;
}

uint32_t U32(const std::vector<uint8_t>& d, size_t o)
{
    return d[o] | (d[o + 1] << 8) | (d[o + 2] << 16) | (static_cast<uint32_t>(d[o + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& d, size_t o) { return static_cast<uint16_t>(d[o] | (d[o + 1] << 8)); }

// A decoded picture as B, G, R, A rows top-down.
struct DECODED {
    int w = 0, h = 0;
    bool bAlpha = false;
    std::vector<uint8_t> bgra;
};

// 24-bit bottom-up BMP, read by hand from the headers.
bool DecodeBmp(const std::vector<uint8_t>& d, DECODED* pOut)
{
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M' || U16(d, 28) != 24)
        return false;
    pOut->w = static_cast<int>(U32(d, 18));
    pOut->h = static_cast<int>(U32(d, 22));
    const size_t nRow = (static_cast<size_t>(pOut->w) * 3 + 3) & ~size_t(3);
    const size_t nOff = U32(d, 10);
    if (d.size() < nOff + nRow * pOut->h)
        return false;
    pOut->bgra.resize(static_cast<size_t>(pOut->w) * pOut->h * 4);
    for (int y = 0; y < pOut->h; ++y)
        for (int x = 0; x < pOut->w; ++x) {
            const uint8_t* s = &d[nOff + (pOut->h - 1 - y) * nRow + 3 * x];
            uint8_t* o = &pOut->bgra[(static_cast<size_t>(y) * pOut->w + x) * 4];
            o[0] = s[0], o[1] = s[1], o[2] = s[2], o[3] = 0xFF;
        }
    return true;
}

bool DecodePng(const std::vector<uint8_t>& d, DECODED* pOut)
{
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, d.data(), d.size()))
        return false;
    pOut->bAlpha = (img.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    img.format = PNG_FORMAT_BGRA;
    pOut->w = static_cast<int>(img.width);
    pOut->h = static_cast<int>(img.height);
    pOut->bgra.resize(PNG_IMAGE_SIZE(img));
    const bool bOk = png_image_finish_read(&img, nullptr, pOut->bgra.data(), 0, nullptr) != 0;
    png_image_free(&img);
    return bOk;
}

bool DecodeJpeg(const std::vector<uint8_t>& d, DECODED* pOut)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, d.data(), static_cast<unsigned long>(d.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    pOut->w = static_cast<int>(cinfo.output_width);
    pOut->h = static_cast<int>(cinfo.output_height);
    pOut->bgra.resize(static_cast<size_t>(pOut->w) * pOut->h * 4);
    std::vector<uint8_t> row(static_cast<size_t>(pOut->w) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW pRow = row.data();
        jpeg_read_scanlines(&cinfo, &pRow, 1);
        for (int x = 0; x < pOut->w; ++x) {
            uint8_t* o = &pOut->bgra[(static_cast<size_t>(y) * pOut->w + x) * 4];
            o[0] = row[3 * x + 2], o[1] = row[3 * x + 1], o[2] = row[3 * x], o[3] = 0xFF;
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool DecodeWebp(const std::vector<uint8_t>& d, DECODED* pOut)
{
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(d.data(), d.size(), &features) != VP8_STATUS_OK)
        return false;
    pOut->bAlpha = features.has_alpha != 0;
    uint8_t* p = WebPDecodeBGRA(d.data(), d.size(), &pOut->w, &pOut->h);
    if (!p)
        return false;
    pOut->bgra.assign(p, p + static_cast<size_t>(pOut->w) * pOut->h * 4);
    WebPFree(p);
    return true;
}

// Largest difference of a colour channel (B, G, R) between the layer and the decoded picture.
int MaxColourDiff(TEST_LAYER& t, const DECODED& dec)
{
    int nMax = 0;
    for (int y = 0; y < t.layer.nHeight; ++y)
        for (int x = 0; x < t.layer.nWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const int a = t.At(x, y)[c];
                const int b = dec.bgra[(static_cast<size_t>(y) * dec.w + x) * 4 + c];
                nMax = std::max(nMax, std::abs(a - b));
            }
    return nMax;
}

class ImageSaveTest : public EngineTest {
protected:
    void SetUp() override { LoadCodecLibraries(), LoadWebPDLL(); }
    void TearDown() override { UnloadCodecLibraries(); }
    // The engine path and the native path of a file in the temporary folder.
    std::string Engine(const char* pszName) const { return dir.strEngine + "\\" + pszName; }
    std::string Native(const char* pszName) const { return dir.strNative + "/" + pszName; }

    TEMP_DIR dir;
    MSGBOX_RECORDER boxes;
};

TEST_F(ImageSaveTest, BmpOfThreeByTwoIsTheExactLayout)
{
    TEST_LAYER t(3, 2, 1);
    for (int i = 0; i < 6; ++i) {
        uint8_t* p = t.pixels.data() + 4 * i;
        p[0] = static_cast<uint8_t>(0x10 + i), p[1] = static_cast<uint8_t>(0x20 + i);
        p[2] = static_cast<uint8_t>(0x30 + i), p[3] = 0x7F;
    }
    ASSERT_EQ(SaveBMP(&t.layer, Engine("a.bmp").c_str()), 0);
    const std::vector<uint8_t> expected = {
        'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                       // file header
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,         // info header
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x13, 0x23, 0x33, 0x14, 0x24, 0x34, 0x15, 0x25, 0x35, 0, 0, 0,         // bottom row first
        0x10, 0x20, 0x30, 0x11, 0x21, 0x31, 0x12, 0x22, 0x32, 0, 0, 0,
    };
    EXPECT_EQ(ReadAll(Native("a.bmp")), expected);
    EXPECT_TRUE(boxes.boxes.empty());
}

// Lossless formats give the colours back exactly; alpha survives where the format keeps it.
TEST_F(ImageSaveTest, LosslessFormatsRoundTripExactly)
{
    struct CASE {
        const char* pszName;
        int (*pfnSave)(const LAYER*, const char*, int);
        int nArg;
        bool (*pfnDecode)(const std::vector<uint8_t>&, DECODED*);
        uint8_t bHasAlpha;
        bool bKeepsAlpha;
    };
    auto saveBmp = [](const LAYER* p, const char* s, int) { return SaveBMP(p, s); };
    const CASE cases[] = {
        {"odd.bmp", saveBmp, 0, DecodeBmp, 1, false},
        {"alpha0.png", SavePNG, 0, DecodePng, 1, true},
        {"alpha9.png", SavePNG, 9, DecodePng, 1, true},
        {"opaque.png", SavePNG, 5, DecodePng, 0, false},
        {"lossless.webp", SaveWEBP, KX_WEBP_QUALITY_LOSSLESS, DecodeWebp, 1, true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        TEST_LAYER t = Gradient(37, 23, c.bHasAlpha);
        ASSERT_EQ(c.pfnSave(&t.layer, Engine(c.pszName).c_str(), c.nArg), 0);
        DECODED dec;
        ASSERT_TRUE(c.pfnDecode(ReadAll(Native(c.pszName)), &dec));
        ASSERT_EQ(dec.w, 37);
        ASSERT_EQ(dec.h, 23);
        if (c.pfnDecode != DecodeBmp) {
            EXPECT_EQ(dec.bAlpha, c.bKeepsAlpha);
        }
        for (size_t i = 0; i < t.pixels.size(); i += 4) {
            // Lossless WebP keeps even the colour of fully transparent pixels.
            ASSERT_EQ(0, std::memcmp(&dec.bgra[i], &t.pixels[i], 3)) << "pixel " << i / 4;
            ASSERT_EQ(dec.bgra[i + 3], c.bKeepsAlpha ? t.pixels[i + 3] : 0xFF) << "pixel " << i / 4;
        }
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ImageSaveTest, LossyFormatsRoundTripWithinTolerance)
{
    TEST_LAYER t = Gradient(64, 48, 1);
    ASSERT_EQ(SaveJPEG(&t.layer, Engine("q95.jpg").c_str(), 95), 0);
    ASSERT_EQ(SaveWEBP(&t.layer, Engine("q90.webp").c_str(), 90), 0);
    DECODED jpg, webp;
    ASSERT_TRUE(DecodeJpeg(ReadAll(Native("q95.jpg")), &jpg));
    ASSERT_TRUE(DecodeWebp(ReadAll(Native("q90.webp")), &webp));
    ASSERT_EQ(jpg.w, 64);
    ASSERT_EQ(jpg.h, 48);
    ASSERT_EQ(webp.w, 64);
    ASSERT_EQ(webp.h, 48);
    // JPEG drops alpha: the colours are compared whatever the alpha.
    EXPECT_LE(MaxColourDiff(t, jpg), 16);
    EXPECT_TRUE(webp.bAlpha);
    for (int y = 0; y < 48; ++y)
        for (int x = 1; x < 64; ++x) {   // column 0 is transparent: lossy WebP may change its colour
            ASSERT_NEAR(webp.bgra[(y * 64 + x) * 4 + 3], t.At(x, y)[3], 2) << x << "," << y;
        }

    // A lower quality gives a smaller file that is still close.
    ASSERT_EQ(SaveJPEG(&t.layer, Engine("q20.jpg").c_str(), 20), 0);
    EXPECT_LT(ReadAll(Native("q20.jpg")).size(), ReadAll(Native("q95.jpg")).size());
    ASSERT_TRUE(DecodeJpeg(ReadAll(Native("q20.jpg")), &jpg));
    EXPECT_LE(MaxColourDiff(t, jpg), 48);
}

// What the savers write, the engine's own decoders read back: exactly for BMP, PNG and lossless
// WebP, closely for JPEG. Every alpha is above 0, so no pixel takes the transparent normal form.
TEST_F(ImageSaveTest, EngineDecodersReadWhatTheSaversWrite)
{
    struct CASE {
        const char* pszName;
        int (*pfnSave)(const LAYER*, const char*, int);
        int nArg;
        int (*pfnDecode)(const uint8_t*, size_t, const char*, DECODED_IMAGE*);
        uint8_t bHasAlpha;   // of the layer, and of the decoded picture
        int nTolerance;      // colour channels; alpha exact where kept
    };
    auto saveBmp = [](const LAYER* p, const char* s, int) { return SaveBMP(p, s); };
    const CASE cases[] = {
        {"e.bmp", saveBmp, 0, DecodeBMPImage, 0, 0},
        {"e.png", SavePNG, 6, DecodePNGImage, 1, 0},
        {"e-rgb.png", SavePNG, 6, DecodePNGImage, 0, 0},
        {"e.webp", SaveWEBP, KX_WEBP_QUALITY_LOSSLESS, DecodeWebPImage, 1, 0},
        {"e.jpg", SaveJPEG, 95, DecodeJPEGImage, 0, 16},
    };
    ERROR_RECORDER errors;
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        TEST_LAYER t = Gradient(33, 17, c.bHasAlpha);
        for (size_t i = 3; i < t.pixels.size(); i += 4)
            t.pixels[i] = static_cast<uint8_t>(std::max<int>(1, t.pixels[i]));
        ASSERT_EQ(c.pfnSave(&t.layer, Engine(c.pszName).c_str(), c.nArg), 0);
        const std::vector<uint8_t> file = ReadAll(Native(c.pszName));
        DECODED_IMAGE img{};
        ASSERT_EQ(c.pfnDecode(file.data(), file.size(), c.pszName, &img), 0);
        ASSERT_EQ(img.nWidth, 33);
        ASSERT_EQ(img.nHeight, 17);
        EXPECT_EQ(img.bHasAlpha, c.bHasAlpha);
        DECODED dec;
        dec.w = 33;
        dec.h = 17;
        dec.bgra.assign(img.pPixels, img.pPixels + t.pixels.size());
        std::free(img.pPixels);
        EXPECT_LE(MaxColourDiff(t, dec), c.nTolerance);
        for (size_t i = 3; i < t.pixels.size(); i += 4)
            ASSERT_EQ(dec.bgra[i], c.bHasAlpha ? t.pixels[i] : 0xFF) << "pixel " << i / 4;
    }
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(ImageSaveTest, SavingReplacesAnExistingFile)
{
    dir.Write("old.png", std::string(5000, 'x'));
    TEST_LAYER t = Gradient(8, 8, 1);
    ASSERT_EQ(SavePNG(&t.layer, Engine("old.png").c_str(), 5), 0);
    DECODED dec;
    EXPECT_TRUE(DecodePng(ReadAll(Native("old.png")), &dec));
    EXPECT_EQ(dec.w, 8);
}

// The WebP encoder call: method 6, lossless as -1, and the size of the output buffer.
struct WEBP_SPY {
    uint32_t nCap;
    int nMethod;
    int nQuality;
    uint32_t nAnswer;
};
WEBP_SPY g_spy;
uint32_t SpyEncode(const uint8_t*, uint8_t* pOut, uint32_t nOutCap, int32_t, int32_t, int nMethod, int nQuality)
{
    g_spy.nCap = nOutCap;
    g_spy.nMethod = nMethod;
    g_spy.nQuality = nQuality;
    pOut[0] = 'R';
    pOut[nOutCap - 1] = 0;   // the whole buffer is there (ASan checks)
    return g_spy.nAnswer;
}

TEST_F(ImageSaveTest, WebpEncoderCall)
{
    struct CASE {
        int32_t w, h;
        int nQuality;
        uint32_t nCap;
        int nEncoderQuality;
    };
    const CASE cases[] = {
        {2, 2, KX_WEBP_QUALITY_LOSSLESS, 1048576, -1},
        {2, 2, 100, 1048576, 100},
        {2, 2, 0, 1048576, 0},
        {512, 512, 75, 1258291, 75},   // 512 x 512 x 4 x 1.2 = 1258291.2, truncated
        {1000, 3, 75, 1048576, 75},    // 14400 bytes of pixels still get 1 MiB
    };
    g_pfnWebPEncode = SpyEncode;
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.w * 10000 + c.nQuality);
        TEST_LAYER t(c.w, c.h, 1);
        g_spy = {0, 0, 0, 3};
        ASSERT_EQ(SaveWEBP(&t.layer, Engine("spy.webp").c_str(), c.nQuality), 0);
        EXPECT_EQ(g_spy.nCap, c.nCap);
        EXPECT_EQ(g_spy.nMethod, 6);
        EXPECT_EQ(g_spy.nQuality, c.nEncoderQuality);
        EXPECT_EQ(ReadAll(Native("spy.webp")).size(), 3u);
    }
    // An encoder that produces nothing is a failure, and no file is written.
    g_spy.nAnswer = 0;
    TEST_LAYER t(4, 4, 1);
    EXPECT_EQ(SaveWEBP(&t.layer, Engine("none.webp").c_str(), 50), -1);
    EXPECT_FALSE(dir.Exists("none.webp"));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, Cp932("エンコードエラー."));
}

int g_nPngCalls;
int StopSettingPngSave(const uint8_t* pPixels, int32_t w, int32_t h, int32_t nStride, uint8_t bHasAlpha, int nLevel,
                       uint8_t* pOut, uint32_t* pOutLen)
{
    ++g_nPngCalls;
    g_bEngineStop = 1;   // as a writer that reports a fatal error does
    const uint8_t abFile[] = {1, 2, 3};
    std::memcpy(pOut, abFile, sizeof abFile);
    *pOutLen = sizeof abFile;
    return 0;
}
int FailingPngSave(const uint8_t*, int32_t, int32_t, int32_t, uint8_t, int, uint8_t*, uint32_t*)
{
    ++g_nPngCalls;
    return -1;
}

TEST_F(ImageSaveTest, PngWriterStopAndFailure)
{
    TEST_LAYER t(4, 4, 0);
    g_nPngCalls = 0;
    g_pfnPngSave = StopSettingPngSave;
    EXPECT_EQ(SavePNG(&t.layer, Engine("stop.png").c_str(), 5), 1);
    EXPECT_EQ(ReadAll(Native("stop.png")).size(), 3u);
    // A stop that was pending before the save is not the writer's.
    EXPECT_EQ(SavePNG(&t.layer, Engine("stop.png").c_str(), 5), 0);
    g_bEngineStop = 0;

    g_pfnPngSave = FailingPngSave;
    EXPECT_EQ(SavePNG(&t.layer, Engine("fail.png").c_str(), 5), -1);
    EXPECT_FALSE(dir.Exists("fail.png"));
    EXPECT_EQ(g_nPngCalls, 3);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, Cp932("エンコードエラー."));
}

// The create-error box of each saver, with the path where the saver names it.
struct FAIL_CASE {
    const char* pszName;
    int (*pfnSave)(const LAYER*, const char*);
    const char* pszBoxPrefix;
    bool bWithPath;
};
const FAIL_CASE k_aFailCases[] = {
    {"f.bmp", [](const LAYER* p, const char* s) { return SaveBMP(p, s); }, "File Create Error.", false},
    {"f.jpg", [](const LAYER* p, const char* s) { return SaveJPEG(p, s, 90); }, "File Create Error.", false},
    {"f.webp", [](const LAYER* p, const char* s) { return SaveWEBP(p, s, 101); },
     "[SaveWEBP] File Create Error.\r\n\r\n", true},
    {"f.png", [](const LAYER* p, const char* s) { return SavePNG(p, s, 5); },
     "[SavePNG] File Create Error.\r\n\r\n", true},
};

TEST_F(ImageSaveTest, PathInAMissingFolderReportsTheCreateError)
{
    TEST_LAYER t = Gradient(6, 5, 1);
    for (const FAIL_CASE& c : k_aFailCases) {
        SCOPED_TRACE(c.pszName);
        boxes.boxes.clear();
        const std::string strPath = dir.strEngine + "\\missing\\" + c.pszName;
        EXPECT_EQ(c.pfnSave(&t.layer, strPath.c_str()), -1);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].strText, std::string(c.pszBoxPrefix) + (c.bWithPath ? strPath : ""));
    }
    EXPECT_FALSE(dir.Exists("missing"));
}

TEST_F(ImageSaveTest, ReadOnlyFolderKeepsTheOldFile)
{
    namespace fs = std::filesystem;
    for (const FAIL_CASE& c : k_aFailCases)
        dir.Write(std::string("ro/") + c.pszName, std::string("old"));
    fs::permissions(Native("ro"), fs::perms::owner_read | fs::perms::owner_exec);
    const std::string strProbe = dir.strEngine + "\\ro\\probe";
    if (PlatWriteFileAtomic(strProbe.c_str(), "x", 1) == 0) {
        fs::permissions(Native("ro"), fs::perms::owner_all);
        GTEST_SKIP() << "the folder stays writable for this user";
    }
    TEST_LAYER t = Gradient(6, 5, 1);
    for (const FAIL_CASE& c : k_aFailCases) {
        SCOPED_TRACE(c.pszName);
        boxes.boxes.clear();
        const std::string strPath = dir.strEngine + "\\ro\\" + c.pszName;
        EXPECT_EQ(c.pfnSave(&t.layer, strPath.c_str()), -1);
        EXPECT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(dir.Read(std::string("ro/") + c.pszName), "old");
    }
    fs::permissions(Native("ro"), fs::perms::owner_all);
}

// A target that is a folder cannot be replaced by the finished file (whoever runs the test).
TEST_F(ImageSaveTest, TargetThatIsAFolderReportsTheCreateError)
{
    TEST_LAYER t = Gradient(6, 5, 1);
    for (const FAIL_CASE& c : k_aFailCases) {
        SCOPED_TRACE(c.pszName);
        dir.Write(std::string(c.pszName) + "/keep", std::string("kept"));
        boxes.boxes.clear();
        EXPECT_EQ(c.pfnSave(&t.layer, Engine(c.pszName).c_str()), -1);
        EXPECT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(dir.Read(std::string(c.pszName) + "/keep"), "kept");
    }
    std::vector<PLAT_DIR_ENTRY> entries;
    ASSERT_EQ(PlatListDir(dir.strEngine.c_str(), &entries), 0);
    EXPECT_EQ(entries.size(), 4u);   // no temporary file is left behind
}

TEST_F(ImageSaveTest, NothingToSaveGivesMinusOne)
{
    TEST_LAYER empty(4, 4, 1);
    empty.layer.pDisplayPixels = nullptr;
    TEST_LAYER zero(4, 4, 1);
    zero.layer.nHeight = 0;
    const LAYER* apLayers[] = {nullptr, &empty.layer, &zero.layer};
    for (const LAYER* p : apLayers)
        for (const FAIL_CASE& c : k_aFailCases)
            EXPECT_EQ(c.pfnSave(p, Engine(c.pszName).c_str()), -1) << c.pszName;
    TEST_LAYER t(2, 2, 1);
    EXPECT_EQ(SaveBMP(&t.layer, nullptr), -1);
    for (const FAIL_CASE& c : k_aFailCases)
        EXPECT_FALSE(dir.Exists(c.pszName));
}

}  // namespace
