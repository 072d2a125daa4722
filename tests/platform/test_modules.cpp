// The module registry and the built-in codec modules behind it.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocation hooks (GCC ships no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
#endif

#include "core/codecs.h"
#include "core/kx_hash.h"
#include "platform/plat_checksum.h"
#include "platform/plat_modules.h"
#include "tests/support/test_support.h"
#include "tools/lib/ogg_writer.h"

namespace {

using BYTES = std::vector<uint8_t>;

BYTES RandomBytes(size_t n, uint32_t nSeed)
{
    std::mt19937 rng(nSeed);
    BYTES v(n);
    for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// Text-like data that compresses well.
BYTES PatternBytes(size_t n)
{
    BYTES v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>("the quick brown fox "[i % 20] + (i / 997) % 3);
    return v;
}

// Looks an entry up in a freshly loaded built-in module (the handle is kept for the test's life).
struct MODULE_FIXTURE : ::testing::Test {
    std::vector<PLAT_MODULE*> handles;
    void TearDown() override
    {
        for (PLAT_MODULE* p : handles) PlatFreeLibrary(p);
        PlatResetModules();
    }
    PLAT_MODULE* Load(const char* pszName)
    {
        PLAT_MODULE* p = PlatLoadLibrary(pszName);
        if (p) handles.push_back(p);
        return p;
    }
    template <class FN>
    FN Ordinal(const char* pszModule, int n)
    {
        PLAT_MODULE* p = Load(pszModule);
        return p ? reinterpret_cast<FN>(PlatGetProcOrdinal(p, n)) : nullptr;
    }
    template <class FN>
    FN Named(const char* pszModule, const char* pszEntry)
    {
        PLAT_MODULE* p = Load(pszModule);
        return p ? reinterpret_cast<FN>(PlatGetProcAddress(p, pszEntry)) : nullptr;
    }
};

int FakeEntry(void) { return 4242; }

// ---------------------------------------------------------------------------------------------
// Registry

TEST_F(MODULE_FIXTURE, NamesAreCaseInsensitiveAndAbsentModulesStayAbsent)
{
    for (const char* pszName : {"ZURUV.DLL", "zuruv.dll", "KxSnp.Dll", "vozez.DLL", "VOROR.dll", "TheoraLib.dll"})
        EXPECT_NE(Load(pszName), nullptr) << pszName;

    EXPECT_EQ(PlatLoadLibrary("VEVUVOZ.DLL"), nullptr);
    EXPECT_EQ(PlatGetLastError(), static_cast<uint32_t>(PLAT_ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(PlatLoadLibrary(""), nullptr);
    EXPECT_EQ(PlatLoadLibrary(nullptr), nullptr);

    PLAT_MODULE* pZ = Load("ZURUV.DLL");
    EXPECT_NE(PlatGetProcOrdinal(pZ, 1), nullptr);
    EXPECT_EQ(PlatGetLastError(), static_cast<uint32_t>(PLAT_ERROR_SUCCESS));
    for (int n : {0, -1, 3, 65536}) {
        EXPECT_EQ(PlatGetProcOrdinal(pZ, n), nullptr) << n;
        EXPECT_EQ(PlatGetLastError(), static_cast<uint32_t>(PLAT_ERROR_PROC_NOT_FOUND));
    }
    PLAT_MODULE* pS = Load("KXSNP.DLL");
    EXPECT_NE(PlatGetProcAddress(pS, "KXSnp_Uncompress"), nullptr);
    EXPECT_EQ(PlatGetProcAddress(pS, "kxsnp_uncompress"), nullptr);   // entry names keep their case
    EXPECT_EQ(PlatGetProcAddress(pS, nullptr), nullptr);
    EXPECT_EQ(PlatGetProcAddress(nullptr, "KXSnp_Uncompress"), nullptr);
    EXPECT_EQ(PlatGetLastError(), static_cast<uint32_t>(PLAT_ERROR_INVALID_HANDLE));
    EXPECT_EQ(PlatFreeLibrary(nullptr), 1);
}

TEST_F(MODULE_FIXTURE, HiddenModulesAndFakesAndReset)
{
    PlatHideModule("vozez.dll", 1);
    EXPECT_EQ(PlatLoadLibrary("VOZEZ.DLL"), nullptr);
    EXPECT_EQ(PlatGetLastError(), static_cast<uint32_t>(PLAT_ERROR_MOD_NOT_FOUND));
    PlatHideModule("VOZEZ.DLL", 0);
    EXPECT_NE(Load("VOZEZ.DLL"), nullptr);

    // A fake shadows the built-in of its name; its handle keeps working after the registry resets.
    const PLAT_MODULE_ENTRY aFake[] = {{nullptr, 1, reinterpret_cast<void*>(&FakeEntry)},
                                       {"Named", 0, reinterpret_cast<void*>(&FakeEntry)}};
    ASSERT_EQ(PlatRegisterFakeModule("zuruv.dll", aFake, 2), 0);
    PLAT_MODULE* pFake = Load("ZURUV.DLL");
    ASSERT_NE(pFake, nullptr);
    EXPECT_EQ(PlatGetProcOrdinal(pFake, 1), reinterpret_cast<void*>(&FakeEntry));
    EXPECT_EQ(PlatGetProcOrdinal(pFake, 2), nullptr);
    EXPECT_EQ(PlatGetProcAddress(pFake, "Named"), reinterpret_cast<void*>(&FakeEntry));
    ASSERT_EQ(PlatRegisterFakeModule("EXTRA.DLL", nullptr, 0), 0);
    EXPECT_NE(Load("extra.dll"), nullptr);
    PlatHideModule("EXTRA.DLL", 1);
    EXPECT_EQ(PlatLoadLibrary("EXTRA.DLL"), nullptr);
    EXPECT_EQ(PlatRegisterFakeModule(nullptr, aFake, 1), -1);
    EXPECT_EQ(PlatRegisterFakeModule("X.DLL", nullptr, 1), -1);

    PlatResetModules();
    EXPECT_EQ(PlatGetProcOrdinal(pFake, 1), reinterpret_cast<void*>(&FakeEntry));
    EXPECT_EQ(PlatLoadLibrary("EXTRA.DLL"), nullptr);
    PLAT_MODULE* pReal = Load("ZURUV.DLL");
    EXPECT_NE(PlatGetProcOrdinal(pReal, 2), nullptr);
}

TEST(PlatModules, ErrorTextsFollowTheUsersLanguage)
{
    struct SAVED_ENV {
        std::string strName, strValue;
        bool bSet;
    };
    std::vector<SAVED_ENV> saved;
    for (const char* psz : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(psz);
        saved.push_back({psz, v ? v : "", v != nullptr});
    }
    char sz[256];
    setenv("LC_ALL", "ja_JP.UTF-8", 1);
    EXPECT_GT(PlatFormatErrorText(PLAT_ERROR_MOD_NOT_FOUND, sz, sizeof sz), 0);
    EXPECT_EQ(std::string(sz), Cp932("指定されたモジュールが見つかりません。"));
    setenv("LC_ALL", "C", 1);
    EXPECT_GT(PlatFormatErrorText(PLAT_ERROR_MOD_NOT_FOUND, sz, sizeof sz), 0);
    EXPECT_STREQ(sz, "The specified module could not be found.");
    EXPECT_EQ(PlatFormatErrorText(PLAT_ERROR_MOD_NOT_FOUND, sz, 8), 7);
    EXPECT_STREQ(sz, "The spe");
    EXPECT_EQ(PlatFormatErrorText(99999, sz, sizeof sz), 0);
    EXPECT_STREQ(sz, "");
    for (const SAVED_ENV& e : saved) {
        if (e.bSet) setenv(e.strName.c_str(), e.strValue.c_str(), 1);
        else unsetenv(e.strName.c_str());
    }
}

// ---------------------------------------------------------------------------------------------
// ZURUV.DLL (zlib)

TEST_F(MODULE_FIXTURE, ZlibRoundTripsAndChecksEveryLength)
{
    auto pfnUncompress = Ordinal<KX_UNCOMPRESS_FN>("ZURUV.DLL", 1);
    auto pfnCompress2 = Ordinal<KX_COMPRESS2_FN>("ZURUV.DLL", 2);
    ASSERT_TRUE(pfnUncompress && pfnCompress2);

    for (const BYTES& src : {PatternBytes(20000), RandomBytes(3000, 7), BYTES{}}) {
        for (int nLevel : {0, 1, 9}) {
            BYTES packed(src.size() + src.size() / 100 + 64);
            uint32_t nPacked = static_cast<uint32_t>(packed.size());
            ASSERT_EQ(pfnCompress2(packed.data(), &nPacked, src.data(), static_cast<uint32_t>(src.size()), nLevel), KX_Z_OK);
            packed.resize(nPacked);
            const uint32_t n = static_cast<uint32_t>(src.size());

            // More room than needed: success, and the length tells the bytes really produced.
            BYTES out(src.size() + 100, 0xEE);
            uint32_t nOut = static_cast<uint32_t>(out.size());
            EXPECT_EQ(pfnUncompress(out.data(), &nOut, packed.data(), nPacked), KX_Z_OK);
            EXPECT_EQ(nOut, n);
            EXPECT_TRUE(std::equal(src.begin(), src.end(), out.begin()));
            EXPECT_EQ(out[n], 0xEE);   // nothing written past the data

            // Exactly the size: success. One byte less: -5, nothing written past the capacity.
            BYTES exact(src.size());
            nOut = n;
            EXPECT_EQ(pfnUncompress(exact.data(), &nOut, packed.data(), nPacked), KX_Z_OK);
            EXPECT_EQ(exact, src);
            if (n > 0) {
                BYTES small(n - 1);
                nOut = n - 1;
                EXPECT_EQ(pfnUncompress(small.data(), &nOut, packed.data(), nPacked), KX_Z_BUF_ERROR);
            }
        }
    }

    const BYTES src = PatternBytes(5000);
    BYTES packed(6000);
    uint32_t nPacked = static_cast<uint32_t>(packed.size());
    ASSERT_EQ(pfnCompress2(packed.data(), &nPacked, src.data(), 5000, 9), KX_Z_OK);
    BYTES out(65536);   // room for more than the data: damage must show as -3, not as -5
    uint32_t nOut;

    // Damaged data: -3, whether the header, the body or the checksum is hit, or the stream is cut.
    for (uint32_t nPos : {0u, nPacked / 2, nPacked - 1}) {
        BYTES bad(packed.begin(), packed.begin() + nPacked);
        bad[nPos] ^= 0x5A;
        nOut = 65536;
        EXPECT_EQ(pfnUncompress(out.data(), &nOut, bad.data(), nPacked), KX_Z_DATA_ERROR) << nPos;
    }
    for (uint32_t nCut : {0u, 1u, nPacked / 2, nPacked - 1}) {
        BYTES cut(packed.begin(), packed.begin() + nCut);   // exactly nCut bytes on the heap
        nOut = 65536;
        EXPECT_EQ(pfnUncompress(out.data(), &nOut, cut.data(), nCut), KX_Z_DATA_ERROR) << nCut;
    }

    // compress2 respects its capacity and refuses a bad level.
    uint32_t nSmall = 10;
    BYTES tiny(10);
    EXPECT_EQ(pfnCompress2(tiny.data(), &nSmall, src.data(), 5000, 9), KX_Z_BUF_ERROR);
    nSmall = 10;
    EXPECT_EQ(pfnCompress2(tiny.data(), &nSmall, src.data(), 5000, 12), KX_Z_STREAM_ERROR);
    EXPECT_EQ(pfnUncompress(out.data(), nullptr, packed.data(), nPacked), KX_Z_STREAM_ERROR);
}

TEST(PlatCrc32, ZlibVectorsInOneGoAndInPieces)
{
    struct CASE {
        const char* pszText;
        uint32_t nCrc;
    };
    const CASE cases[] = {
        {"", 0},
        {"123456789", 0xCBF43926u},
        {"KOLVEX-SCRIPT1", 0xEF44F270u},   // the script key
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszText);
        const uint32_t n = static_cast<uint32_t>(std::strlen(c.pszText));
        EXPECT_EQ(PlatCrc32(0, c.pszText, n), c.nCrc);
        for (uint32_t nCut = 0; nCut <= n; ++nCut)
            ASSERT_EQ(PlatCrc32(PlatCrc32(0, c.pszText, nCut), c.pszText + nCut, n - nCut), c.nCrc) << nCut;
        // The engine's checksum is this one.
        EXPECT_EQ(ComputeCRC32(c.pszText, n), c.nCrc);
    }
    // No bytes, or no buffer, leave the checksum as it is (zlib would give its initial value).
    EXPECT_EQ(PlatCrc32(0xCBF43926u, nullptr, 9), 0xCBF43926u);
    EXPECT_EQ(PlatCrc32(0xCBF43926u, "x", 0), 0xCBF43926u);
}

// ---------------------------------------------------------------------------------------------
// KXSNP.DLL (Snappy)

TEST_F(MODULE_FIXTURE, SnappyRoundTripsAndRefusesBadData)
{
    auto pfnUncompress = Named<KX_SNP_CODEC_FN>("KXSNP.DLL", "KXSnp_Uncompress");
    auto pfnCompress = Named<KX_SNP_CODEC_FN>("KXSNP.DLL", "KXSnp_Compress");
    auto pfnMax = Named<KX_SNP_MAXLEN_FN>("KXSNP.DLL", "KXSnp_CompressedLength");
    auto pfnLength = Named<KX_SNP_ULEN_FN>("KXSNP.DLL", "KXSnp_UncompressedLength");
    ASSERT_TRUE(pfnUncompress && pfnCompress && pfnMax && pfnLength);

    for (const BYTES& src : {PatternBytes(70000), RandomBytes(1000, 3), BYTES{}}) {
        const uint32_t n = static_cast<uint32_t>(src.size());
        const uint32_t nMax = pfnMax(n);
        ASSERT_GE(nMax, n);
        BYTES packed(nMax);
        uint32_t nPacked = nMax;
        ASSERT_EQ(pfnCompress(src.data(), n, packed.data(), &nPacked), KX_SNP_OK);
        ASSERT_LE(nPacked, nMax);
        packed.resize(nPacked);

        uint32_t nLen = 12345;
        EXPECT_EQ(pfnLength(packed.data(), nPacked, &nLen), 0);
        EXPECT_EQ(nLen, n);
        BYTES out(n);
        uint32_t nOut = n;
        EXPECT_EQ(pfnUncompress(packed.data(), nPacked, out.data(), &nOut), KX_SNP_OK);
        EXPECT_EQ(nOut, n);
        EXPECT_EQ(out, src);
        if (n > 0) {
            nOut = n - 1;
            EXPECT_EQ(pfnUncompress(packed.data(), nPacked, out.data(), &nOut), KX_SNP_BUFFER_TOO_SMALL);
            // A destination below the largest compressed size is refused before anything is written.
            uint32_t nShort = nMax - 1;
            EXPECT_EQ(pfnCompress(src.data(), n, packed.data(), &nShort), KX_SNP_BUFFER_TOO_SMALL);
        }
    }

    // Damaged data: every cut of a stream and a stream of garbage fail without reading past the end.
    const BYTES src = PatternBytes(3000);
    BYTES packed(pfnMax(3000));
    uint32_t nPacked = static_cast<uint32_t>(packed.size());
    ASSERT_EQ(pfnCompress(src.data(), 3000, packed.data(), &nPacked), KX_SNP_OK);
    BYTES out(3000);
    for (uint32_t nCut = 0; nCut < nPacked; ++nCut) {
        BYTES cut(packed.begin(), packed.begin() + nCut);
        uint32_t nOut = 3000;
        EXPECT_NE(pfnUncompress(cut.data(), nCut, out.data(), &nOut), KX_SNP_OK) << nCut;
    }
    const BYTES garbage = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint32_t nLen = 1;
    EXPECT_EQ(pfnLength(garbage.data(), 6, &nLen), -1);
    EXPECT_EQ(nLen, 0u);
    uint32_t nOut = 3000;
    EXPECT_EQ(pfnUncompress(garbage.data(), 6, out.data(), &nOut), KX_SNP_INVALID_INPUT);
}

// ---------------------------------------------------------------------------------------------
// VOZEZ.DLL (PNG)

// A PNG made by libpng from rows already in the file's sample layout.
struct PNG_LAYOUT {
    uint32_t nWidth, nHeight;
    int nColour, nDepth, bInterlace;
    BYTES rows;                      // packed rows, top-down
    std::vector<png_color> palette;
    BYTES trns;                      // palette alphas
};

void AppendPngBytes(png_structp png, png_bytep p, size_t n)
{
    auto* pOut = static_cast<BYTES*>(png_get_io_ptr(png));
    pOut->insert(pOut->end(), p, p + n);
}

void FlushNothing(png_structp) {}

// Jump range of libpng: nothing with a destructor lives in this frame.
int WritePngFixture(const PNG_LAYOUT* f, png_bytep* ppRows, BYTES* pOut)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    png_set_write_fn(png, pOut, AppendPngBytes, FlushNothing);
    png_set_IHDR(png, info, f->nWidth, f->nHeight, f->nDepth, f->nColour,
                 f->bInterlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!f->palette.empty()) png_set_PLTE(png, info, f->palette.data(), static_cast<int>(f->palette.size()));
    if (!f->trns.empty()) png_set_tRNS(png, info, f->trns.data(), static_cast<int>(f->trns.size()), nullptr);
    png_write_info(png, info);
    png_write_image(png, ppRows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return 0;
}

BYTES MakePng(const PNG_LAYOUT& f)
{
    const size_t nRow = f.rows.size() / f.nHeight;
    std::vector<png_bytep> rows(f.nHeight);
    BYTES copy = f.rows;
    for (uint32_t y = 0; y < f.nHeight; ++y) rows[y] = copy.data() + y * nRow;
    BYTES out;
    EXPECT_EQ(WritePngFixture(&f, rows.data(), &out), 0);
    return out;
}

struct PNG_API {
    KX_PNG_PRELOAD_FN pfnPreload;
    KX_PNG_LOAD_FN pfnLoad;
    KX_PNG_END_FN pfnEnd;
    KX_PNG_SAVE_FN pfnSave;
    KX_PNG_DECODE_INTO_FN pfnDecodeInto;
};

// Preload, load and end as the image loader runs them; the pixels, or empty when preload failed.
BYTES DecodePng(const PNG_API& api, const BYTES& file, int* pnResult, int32_t* pW, int32_t* pH, uint8_t* pbNoAlpha)
{
    *pnResult = api.pfnPreload("test.png", file.data(), static_cast<uint32_t>(file.size()), pW, pH, pbNoAlpha);
    BYTES pixels;
    if (*pnResult == 0) {
        pixels.resize(static_cast<size_t>(*pW) * 4 * *pH);
        EXPECT_EQ(api.pfnLoad(pixels.data(), *pH, *pW * 4), 0);
    }
    api.pfnEnd();
    return pixels;
}

// The one-call decoder into a buffer the test gives; the rows it handed over, in order.
struct INTO_TARGET {
    BYTES pixels;
    int32_t nBufferW = -1, nBufferH = -1;
    std::vector<int32_t> rows;   // row numbers, from the row addresses
    bool bRefuse = false;
};

BYTES DecodePngInto(const PNG_API& api, const BYTES& file, int* pnResult, int32_t* pW, int32_t* pH, uint8_t* pbNoAlpha,
                    INTO_TARGET* pTarget)
{
    const auto buffer = [](void* pContext, int32_t w, int32_t h) -> uint8_t* {
        INTO_TARGET* t = static_cast<INTO_TARGET*>(pContext);
        t->nBufferW = w;
        t->nBufferH = h;
        if (t->bRefuse) return nullptr;
        t->pixels.assign(static_cast<size_t>(w) * 4 * static_cast<size_t>(h), 0xEE);
        return t->pixels.data();
    };
    const auto row = [](void* pContext, uint8_t* pRow, int32_t w) {
        INTO_TARGET* t = static_cast<INTO_TARGET*>(pContext);
        EXPECT_EQ(w, t->nBufferW);
        t->rows.push_back(static_cast<int32_t>((pRow - t->pixels.data()) / (static_cast<ptrdiff_t>(w) * 4)));
    };
    *pnResult = api.pfnDecodeInto("test.png", file.data(), static_cast<uint32_t>(file.size()), pW, pH, pbNoAlpha,
                                  buffer, row, pTarget);
    return *pnResult == 0 ? pTarget->pixels : BYTES{};
}

struct PNG_MODULE_FIXTURE : MODULE_FIXTURE {
    PNG_API api{};
    void SetUp() override
    {
        api.pfnPreload = Ordinal<KX_PNG_PRELOAD_FN>("VOZEZ.DLL", 1);
        api.pfnLoad = Ordinal<KX_PNG_LOAD_FN>("VOZEZ.DLL", 2);
        api.pfnEnd = Ordinal<KX_PNG_END_FN>("VOZEZ.DLL", 3);
        api.pfnSave = Ordinal<KX_PNG_SAVE_FN>("VOZEZ.DLL", 4);
        api.pfnDecodeInto = Ordinal<KX_PNG_DECODE_INTO_FN>("VOZEZ.DLL", 5);
        ASSERT_TRUE(api.pfnPreload && api.pfnLoad && api.pfnEnd && api.pfnSave && api.pfnDecodeInto);
    }
};

// RGB, 8 bits, interlaced: pixel i is (i * 20, i * 7, 255 - i).
PNG_LAYOUT InterlacedRgbFixture()
{
    PNG_LAYOUT f{3, 3, PNG_COLOR_TYPE_RGB, 8, 1, {}, {}, {}};
    for (int i = 0; i < 9; ++i) f.rows.insert(f.rows.end(), {uint8_t(i * 20), uint8_t(i * 7), uint8_t(255 - i)});
    return f;
}

TEST_F(PNG_MODULE_FIXTURE, DecodesEveryKindIntoBgra)
{
    struct CASE {
        const char* pszName;
        PNG_LAYOUT f;
        BYTES bgra;
        uint8_t bNoAlpha;
    };
    BYTES interlacedBgra;
    for (int i = 0; i < 9; ++i) interlacedBgra.insert(interlacedBgra.end(), {uint8_t(255 - i), uint8_t(i * 7), uint8_t(i * 20), 255});
    const std::vector<CASE> cases = {
        {"rgba8", {2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, 0, {10, 20, 30, 40, 200, 100, 50, 255}, {}, {}},
         {30, 20, 10, 40, 50, 100, 200, 255}, 0},
        {"rgb8 interlaced", InterlacedRgbFixture(), interlacedBgra, 1},
        {"palette 2-bit with tRNS", {3, 1, PNG_COLOR_TYPE_PALETTE, 2, 0, {0x18}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}, {0, 128}},
         {0, 0, 255, 0, 0, 255, 0, 128, 255, 0, 0, 255}, 0},
        {"palette 8-bit", {2, 1, PNG_COLOR_TYPE_PALETTE, 8, 0, {1, 0}, {{1, 2, 3}, {4, 5, 6}}, {}},
         {6, 5, 4, 255, 3, 2, 1, 255}, 1},
        {"grey 4-bit", {2, 1, PNG_COLOR_TYPE_GRAY, 4, 0, {0x3F}, {}, {}}, {51, 51, 51, 255, 255, 255, 255, 255}, 1},
        {"grey+alpha 16-bit", {1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16, 0, {0xAB, 0xAB, 0x12, 0x12}, {}, {}},
         {0xAB, 0xAB, 0xAB, 0x12}, 0},
        {"rgb16 interlaced", {2, 2, PNG_COLOR_TYPE_RGB, 16, 1,
                              {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12}, {}, {}},
         {3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}, 1},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        const BYTES file = MakePng(c.f);
        int nResult = -1;
        int32_t w = 0, h = 0;
        uint8_t bNoAlpha = 9;
        const BYTES pixels = DecodePng(api, file, &nResult, &w, &h, &bNoAlpha);
        ASSERT_EQ(nResult, 0);
        EXPECT_EQ(w, static_cast<int32_t>(c.f.nWidth));
        EXPECT_EQ(h, static_cast<int32_t>(c.f.nHeight));
        EXPECT_EQ(bNoAlpha, c.bNoAlpha);
        EXPECT_EQ(pixels, c.bgra);
        // Decoded into the caller's buffer: the same answers and bytes, every row handed over once
        // in order after it is finished.
        INTO_TARGET target;
        int32_t w2 = 0, h2 = 0;
        uint8_t bNoAlpha2 = 9;
        EXPECT_EQ(DecodePngInto(api, file, &nResult, &w2, &h2, &bNoAlpha2, &target), c.bgra);
        EXPECT_EQ(nResult, 0);
        EXPECT_EQ(w2, w);
        EXPECT_EQ(h2, h);
        EXPECT_EQ(bNoAlpha2, c.bNoAlpha);
        EXPECT_EQ(target.nBufferW, w);
        EXPECT_EQ(target.nBufferH, h);
        std::vector<int32_t> order(static_cast<size_t>(h));
        for (int32_t y = 0; y < h; ++y) order[static_cast<size_t>(y)] = y;
        EXPECT_EQ(target.rows, order);
    }
}

// Appends a PNG chunk (length, type, data, CRC) to a file being built.
void AppendPngChunk(BYTES* pOut, const char* pszType, const BYTES& data)
{
    const uint32_t n = static_cast<uint32_t>(data.size());
    pOut->insert(pOut->end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    BYTES body(pszType, pszType + 4);
    body.insert(body.end(), data.begin(), data.end());
    const uint32_t crc = ComputeCRC32(body.data(), body.size());
    pOut->insert(pOut->end(), body.begin(), body.end());
    pOut->insert(pOut->end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
}

TEST_F(PNG_MODULE_FIXTURE, DamagedFilesFailWithoutReadingPastTheImage)
{
    const BYTES file = MakePng(InterlacedRgbFixture());
    int32_t w, h;
    uint8_t b;
    // Every cut of the file is damaged: 101, never the too-large answer.
    for (size_t nCut = 0; nCut < file.size(); ++nCut) {
        BYTES cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(nCut));   // exact heap block for ASan
        const int nResult = api.pfnPreload("cut.png", cut.data(), static_cast<uint32_t>(nCut), &w, &h, &b);
        EXPECT_EQ(nResult, KX_PNG_DAMAGED) << nCut;
        api.pfnEnd();
        // The one-call decoder answers alike.
        INTO_TARGET target;
        int nInto = -1;
        DecodePngInto(api, cut, &nInto, &w, &h, &b, &target);
        EXPECT_EQ(nInto, nResult) << nCut;
    }
    // A damaged byte in the image data: 101 as well, and load has nothing to give.
    BYTES bad = file;
    const size_t nIdat = std::string(bad.begin(), bad.end()).find("IDAT");
    ASSERT_NE(nIdat, std::string::npos);
    bad[nIdat + 6] ^= 0x40;
    EXPECT_EQ(api.pfnPreload("bad.png", bad.data(), static_cast<uint32_t>(bad.size()), &w, &h, &b), KX_PNG_DAMAGED);
    uint8_t px[64];
    EXPECT_EQ(api.pfnLoad(px, 3, 12), -1);
    api.pfnEnd();
    INTO_TARGET target;
    int nInto = 0;
    DecodePngInto(api, bad, &nInto, &w, &h, &b, &target);
    EXPECT_EQ(nInto, KX_PNG_DAMAGED);
    // No buffer from the caller: -1 once the size is known, with the size given.
    INTO_TARGET refuse;
    refuse.bRefuse = true;
    DecodePngInto(api, file, &nInto, &w, &h, &b, &refuse);
    EXPECT_EQ(nInto, -1);
    EXPECT_EQ(refuse.nBufferW, 3);
    EXPECT_EQ(refuse.nBufferH, 3);
    EXPECT_TRUE(refuse.rows.empty());

    // A header whose w x h x 4 does not fit 32 bits: 101 before anything is allocated.
    BYTES big = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* pszType, const BYTES& data) { AppendPngChunk(&big, pszType, data); };
    // The same for a header that claims far more rows than a file of its size can hold.
    for (const BYTES& ihdr : {BYTES{0, 1, 0x11, 0x70, 0, 1, 0x11, 0x70, 8, 6, 0, 0, 0},    // 70000 x 70000 RGBA
                              BYTES{0, 0, 0x20, 0, 0, 0, 0xEA, 0x60, 8, 6, 0, 0, 0}}) {  // 8192 x 60000 RGBA
        big.resize(8);
        chunk("IHDR", ihdr);
        chunk("IDAT", {});
        chunk("IEND", {});
        EXPECT_EQ(api.pfnPreload("big.png", big.data(), static_cast<uint32_t>(big.size()), &w, &h, &b), KX_PNG_DAMAGED);
        api.pfnEnd();
    }

    EXPECT_EQ(api.pfnPreload("null.png", nullptr, 100, &w, &h, &b), KX_PNG_DAMAGED);
    EXPECT_EQ(api.pfnPreload("args.png", file.data(), static_cast<uint32_t>(file.size()), nullptr, &h, &b), KX_PNG_FAILED);
    api.pfnEnd();
}

// The largest block allocated while s_bWatchAllocs is set (known under AddressSanitizer only).
bool s_bWatchAllocs = false;
size_t s_nLargestAlloc = 0;
#if defined(__SANITIZE_ADDRESS__)
void WatchMalloc(const volatile void*, size_t n)
{
    if (s_bWatchAllocs && n > s_nLargestAlloc) s_nLargestAlloc = n;
}
void WatchFree(const volatile void*) {}
#endif

// A 128 KB file whose header claims a 1-bit grey picture of 20000 x 40000: few enough packed rows
// for its size, but 3.2 GB as B,G,R,A. Preload refuses it as too large before anything of that
// size is allocated; the decoder that writes into the caller's buffer asks for no buffer.
TEST_F(PNG_MODULE_FIXTURE, AHugeHeaderIsRefusedBeforeThePictureIsAllocated)
{
#if defined(__SANITIZE_ADDRESS__)
    static const bool bHooked = __sanitizer_install_malloc_and_free_hooks(WatchMalloc, WatchFree) != 0;
    ASSERT_TRUE(bHooked);
#endif
    BYTES big = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* pszType, const BYTES& data) { AppendPngChunk(&big, pszType, data); };
    chunk("IHDR", {0, 0, 0x4E, 0x20, 0, 0, 0x9C, 0x40, 1, 0, 0, 0, 0});   // 20000 x 40000, grey, 1 bit
    chunk("prVt", BYTES(128 * 1024, 0));                                   // an ancillary chunk: the size
    chunk("IDAT", {0x78, 0x01});
    chunk("IEND", {});
    int32_t w = 0, h = 0;
    uint8_t b = 0;
    s_nLargestAlloc = 0;
    s_bWatchAllocs = true;
    const int nPre = api.pfnPreload("huge.png", big.data(), static_cast<uint32_t>(big.size()), &w, &h, &b);
    api.pfnEnd();
    INTO_TARGET target;
    target.bRefuse = true;   // as the engine does for a side above 8192
    int nInto = 0;
    DecodePngInto(api, big, &nInto, &w, &h, &b, &target);
    s_bWatchAllocs = false;
    EXPECT_EQ(nInto, -1);
    EXPECT_EQ(nPre, KX_PNG_TOO_LARGE);
    EXPECT_LT(s_nLargestAlloc, size_t(16) << 20);   // nothing near the picture's size (0 without ASan)
    // The decoder into the caller's buffer tells the size and lets the caller refuse it.
    EXPECT_EQ(target.nBufferW, 20000);
    EXPECT_EQ(target.nBufferH, 40000);
}

TEST_F(PNG_MODULE_FIXTURE, LoadChecksItsSizesAndStateIsPerThread)
{
    const BYTES first = MakePng(InterlacedRgbFixture());
    const BYTES second = MakePng({2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, 0, {10, 20, 30, 40, 200, 100, 50, 255}, {}, {}});
    int32_t w, h;
    uint8_t b;
    uint8_t px[3 * 5 * 4];
    EXPECT_EQ(api.pfnLoad(px, 3, 12), -1);   // nothing preloaded
    ASSERT_EQ(api.pfnPreload("a.png", first.data(), static_cast<uint32_t>(first.size()), &w, &h, &b), 0);

    // Another thread decodes its own picture meanwhile.
    std::thread other([&] {
        int32_t w2, h2;
        uint8_t b2;
        EXPECT_EQ(api.pfnLoad(px, 3, 12), -1);   // this thread preloaded nothing
        ASSERT_EQ(api.pfnPreload("b.png", second.data(), static_cast<uint32_t>(second.size()), &w2, &h2, &b2), 0);
        uint8_t px2[8];
        EXPECT_EQ(api.pfnLoad(px2, 1, 8), 0);
        EXPECT_EQ(BYTES(px2, px2 + 8), (BYTES{30, 20, 10, 40, 50, 100, 200, 255}));
        api.pfnEnd();
    });
    other.join();

    EXPECT_EQ(api.pfnLoad(px, 2, 12), -1);    // wrong height
    EXPECT_EQ(api.pfnLoad(px, 3, 11), -1);    // stride below width x 4
    EXPECT_EQ(api.pfnLoad(nullptr, 3, 12), -1);
    std::memset(px, 0xEE, sizeof px);
    ASSERT_EQ(api.pfnLoad(px, 3, 20), 0);     // a wider stride leaves the gaps alone
    EXPECT_EQ(BYTES(px, px + 4), (BYTES{255, 0, 0, 255}));
    EXPECT_EQ(BYTES(px + 20, px + 24), (BYTES{252, 21, 60, 255}));
    EXPECT_EQ(px[12], 0xEE);
    api.pfnEnd();
    EXPECT_EQ(api.pfnLoad(px, 3, 12), -1);   // released
}

TEST_F(PNG_MODULE_FIXTURE, SaveWritesFilesThatDecodeToTheSamePixels)
{
    const int32_t w = 37, h = 23, nStride = w * 4 + 12;
    BYTES src = RandomBytes(static_cast<size_t>(nStride) * h, 11);
    for (uint8_t bHasAlpha : {1, 0}) {
        for (int nLevel : {0, 5, 9, 12}) {
            SCOPED_TRACE(testing::Message() << "alpha " << int(bHasAlpha) << " level " << nLevel);
            BYTES out(KxPngSaveBound(w, h));
            uint32_t nOut = static_cast<uint32_t>(out.size());
            ASSERT_EQ(api.pfnSave(src.data(), w, h, nStride, bHasAlpha, nLevel, out.data(), &nOut), 0);
            ASSERT_GT(nOut, 0u);
            out.resize(nOut);
            int nResult;
            int32_t dw, dh;
            uint8_t bNoAlpha;
            const BYTES pixels = DecodePng(api, out, &nResult, &dw, &dh, &bNoAlpha);
            ASSERT_EQ(nResult, 0);
            EXPECT_EQ(dw, w);
            EXPECT_EQ(dh, h);
            EXPECT_EQ(bNoAlpha, bHasAlpha ? 0 : 1);
            bool bSame = true;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int c = 0; c < 4; ++c) {
                        const uint8_t want = (c == 3 && !bHasAlpha) ? 255 : src[y * nStride + x * 4 + c];
                        bSame = bSame && pixels[(y * w + x) * 4 + c] == want;
                    }
            EXPECT_TRUE(bSame);
        }
    }
    // Too small a buffer: -5 with the size needed, and that size is enough.
    BYTES out(16);
    uint32_t nOut = 16;
    ASSERT_EQ(api.pfnSave(src.data(), w, h, nStride, 1, 9, out.data(), &nOut), KX_Z_BUF_ERROR);
    ASSERT_GT(nOut, 16u);
    out.resize(nOut);
    EXPECT_EQ(api.pfnSave(src.data(), w, h, nStride, 1, 9, out.data(), &nOut), 0);
    EXPECT_EQ(nOut, out.size());
    // Bad calls.
    nOut = 16;
    EXPECT_EQ(api.pfnSave(src.data(), w, h, w * 4 - 1, 1, 9, out.data(), &nOut), -1);
    EXPECT_EQ(nOut, 0u);
    nOut = 16;
    EXPECT_EQ(api.pfnSave(src.data(), 0, h, nStride, 1, 9, out.data(), &nOut), -1);
    EXPECT_EQ(api.pfnSave(nullptr, w, h, nStride, 1, 9, out.data(), &nOut), -1);
}

// ---------------------------------------------------------------------------------------------
// VOROR.DLL (WebP)

TEST_F(MODULE_FIXTURE, WebPEncodesAndDecodesOnlyIntoItsOwnSize)
{
    auto pfnVersion = Ordinal<KX_WEBP_VERSION_FN>("VOROR.DLL", 1);
    auto pfnInfo = Ordinal<KX_WEBP_INFO_FN>("VOROR.DLL", 2);
    auto pfnDecode = Ordinal<KX_WEBP_DECODE_FN>("VOROR.DLL", 3);
    auto pfnEncode = Ordinal<KX_WEBP_ENCODE_FN>("VOROR.DLL", 4);
    ASSERT_TRUE(pfnVersion && pfnInfo && pfnDecode && pfnEncode);
    EXPECT_GT(pfnVersion(), 0);

    const int32_t w = 19, h = 13;
    const BYTES src = RandomBytes(w * h * 4, 5);
    BYTES out(1 << 20);
    // Lossless (-1) keeps every byte, the colour under transparent pixels included.
    const uint32_t nLossless = pfnEncode(src.data(), out.data(), static_cast<uint32_t>(out.size()), w, h, 6, -1);
    ASSERT_GT(nLossless, 0u);
    const BYTES lossless(out.begin(), out.begin() + nLossless);
    int32_t iw = 0, ih = 0;
    EXPECT_EQ(pfnInfo(lossless.data(), nLossless, &iw, &ih), 1);
    EXPECT_EQ(iw, w);
    EXPECT_EQ(ih, h);
    BYTES pixels(w * h * 4);
    EXPECT_EQ(pfnDecode(lossless.data(), pixels.data(), nLossless, w, h), 1);
    EXPECT_EQ(pixels, src);

    // Lossy: the size survives; only exactly that size decodes.
    const uint32_t nLossy = pfnEncode(src.data(), out.data(), static_cast<uint32_t>(out.size()), w, h, 6, 80);
    ASSERT_GT(nLossy, 0u);
    const BYTES lossy(out.begin(), out.begin() + nLossy);
    EXPECT_EQ(pfnDecode(lossy.data(), pixels.data(), nLossy, w, h), 1);
    BYTES roomy((w + 1) * (h + 1) * 4);
    EXPECT_EQ(pfnDecode(lossy.data(), roomy.data(), nLossy, w + 1, h), 0);
    EXPECT_EQ(pfnDecode(lossy.data(), roomy.data(), nLossy, w, h + 1), 0);
    EXPECT_EQ(pfnDecode(lossy.data(), pixels.data(), nLossy, w - 1, h), 0);

    // Damaged or foreign data, and bad encode calls, fail cleanly.
    for (uint32_t nCut : {0u, 10u, nLossless / 2, nLossless - 1}) {
        BYTES cut(lossless.begin(), lossless.begin() + nCut);
        EXPECT_EQ(pfnDecode(cut.data(), pixels.data(), nCut, w, h), 0) << nCut;
    }
    const BYTES notWebP = PatternBytes(100);
    iw = ih = 7;
    EXPECT_EQ(pfnInfo(notWebP.data(), 100, &iw, &ih), 0);
    EXPECT_EQ(iw, 0);
    EXPECT_EQ(ih, 0);
    EXPECT_EQ(pfnEncode(src.data(), out.data(), 20, w, h, 6, -1), 0u);   // output does not fit
    EXPECT_EQ(pfnEncode(src.data(), out.data(), static_cast<uint32_t>(out.size()), w, h, 6, 101), 0u);
    EXPECT_EQ(pfnEncode(src.data(), out.data(), static_cast<uint32_t>(out.size()), 0, h, 6, 80), 0u);
}

// The rows decoder: a picture with alpha hands every row out once, top to bottom, in bands; one
// without alpha is decoded whole with no band; the sizes and damaged files fail as ordinal 3 does.
struct WEBP_BANDS {
    uint8_t* pBase;
    int32_t nStride;
    int32_t nNextRow;
    int nBands;
    bool bInOrder;
};

void CountWebPBand(void* pContext, uint8_t* pRows, int32_t nRows, int32_t nWidth)
{
    WEBP_BANDS* b = static_cast<WEBP_BANDS*>(pContext);
    b->bInOrder = b->bInOrder && nRows > 0 && nWidth * 4 == b->nStride &&
                  pRows == b->pBase + static_cast<size_t>(b->nNextRow) * static_cast<size_t>(b->nStride);
    b->nNextRow += nRows;
    ++b->nBands;
}

TEST_F(MODULE_FIXTURE, WebPRowsDecoderHandsOutEveryRowOnce)
{
    auto pfnDecode = Ordinal<KX_WEBP_DECODE_FN>("VOROR.DLL", 3);
    auto pfnEncode = Ordinal<KX_WEBP_ENCODE_FN>("VOROR.DLL", 4);
    auto pfnRows = Ordinal<KX_WEBP_DECODE_ROWS_FN>("VOROR.DLL", 5);
    ASSERT_TRUE(pfnDecode && pfnEncode && pfnRows);
    // Random bytes (alpha included) do not compress: the lossless file spans many steps of input.
    const int32_t w = 257, h = 300;
    BYTES src = RandomBytes(w * h * 4, 7);
    BYTES out(4 << 20);
    for (int nQuality : {-1, 70}) {
        SCOPED_TRACE(nQuality);
        const uint32_t n = pfnEncode(src.data(), out.data(), static_cast<uint32_t>(out.size()), w, h, 0, nQuality);
        ASSERT_GT(n, 0u);
        const BYTES file(out.begin(), out.begin() + n);
        BYTES whole(w * h * 4), rows(w * h * 4, 0x5A);
        ASSERT_EQ(pfnDecode(file.data(), whole.data(), n, w, h), 1);
        WEBP_BANDS bands{rows.data(), w * 4, 0, 0, true};
        uint8_t bAlpha = 7;
        ASSERT_EQ(pfnRows(file.data(), rows.data(), n, w, h, &bAlpha, CountWebPBand, &bands), 1);
        EXPECT_EQ(bAlpha, 1);
        EXPECT_EQ(rows, whole);
        EXPECT_TRUE(bands.bInOrder);
        EXPECT_EQ(bands.nNextRow, h);
        if (nQuality < 0) {
            EXPECT_GT(bands.nBands, 1);
        }
        // Sizes other than the picture's fail; files cut short fail as ordinal 3 does (a lossy file
        // without its last byte, the chunk's padding, still decodes).
        EXPECT_EQ(pfnRows(file.data(), rows.data(), n, w - 1, h, &bAlpha, CountWebPBand, &bands), 0);
        EXPECT_EQ(pfnRows(file.data(), rows.data(), n, w, h + 1, &bAlpha, CountWebPBand, &bands), 0);
        for (uint32_t nCut : {0u, 10u, n / 2, n - 1}) {
            bands = WEBP_BANDS{rows.data(), w * 4, 0, 0, true};
            const int nWhole = pfnDecode(file.data(), whole.data(), nCut, w, h);
            if (nCut < n - 1) {
                EXPECT_EQ(nWhole, 0) << nCut;
            }
            EXPECT_EQ(pfnRows(file.data(), rows.data(), nCut, w, h, &bAlpha, CountWebPBand, &bands), nWhole) << nCut;
            EXPECT_LE(bands.nNextRow, h);
            EXPECT_TRUE(bands.bInOrder);
        }
    }
    // Without alpha: decoded whole, no band handed out, alpha byte 0.
    for (size_t i = 3; i < src.size(); i += 4) src[i] = 0xFF;
    const uint32_t n = pfnEncode(src.data(), out.data(), static_cast<uint32_t>(out.size()), w, h, 0, 70);
    ASSERT_GT(n, 0u);
    BYTES whole(w * h * 4), rows(w * h * 4);
    ASSERT_EQ(pfnDecode(out.data(), whole.data(), n, w, h), 1);
    WEBP_BANDS bands{rows.data(), w * 4, 0, 0, true};
    uint8_t bAlpha = 7;
    ASSERT_EQ(pfnRows(out.data(), rows.data(), n, w, h, &bAlpha, CountWebPBand, &bands), 1);
    EXPECT_EQ(bAlpha, 0);
    EXPECT_EQ(bands.nBands, 0);
    EXPECT_EQ(rows, whole);
    EXPECT_EQ(pfnRows(nullptr, rows.data(), n, w, h, &bAlpha, CountWebPBand, &bands), 0);
}

// ---------------------------------------------------------------------------------------------
// VORBISFILE.DLL (Ogg Vorbis)

// A file image read through the decoder's callbacks; counts the closes.
struct OGG_SOURCE {
    const BYTES* pData;
    size_t nPos;
    int nCloses;
};

size_t SourceRead(void* pDest, size_t nSize, size_t nCount, void* pSource)
{
    OGG_SOURCE* s = static_cast<OGG_SOURCE*>(pSource);
    const size_t nLeft = s->pData->size() - s->nPos;
    const size_t nCopy = nSize == 0 ? 0 : std::min(nLeft / nSize, nCount) * nSize;
    if (nCopy) std::memcpy(pDest, s->pData->data() + s->nPos, nCopy);
    s->nPos += nCopy;
    return nCopy;
}

int SourceSeek(void* pSource, int64_t llOffset, int nWhence)
{
    OGG_SOURCE* s = static_cast<OGG_SOURCE*>(pSource);
    const int64_t llBase = nWhence == 0 ? 0 : nWhence == 1 ? int64_t(s->nPos) : int64_t(s->pData->size());
    const int64_t llPos = llBase + llOffset;
    if (nWhence < 0 || nWhence > 2 || llPos < 0 || llPos > int64_t(s->pData->size())) return -1;
    s->nPos = size_t(llPos);
    return 0;
}

long SourceTell(void* pSource)
{
    return long(static_cast<OGG_SOURCE*>(pSource)->nPos);
}

int SourceClose(void* pSource)
{
    ++static_cast<OGG_SOURCE*>(pSource)->nCloses;
    return 0;
}

const PLAT_OGG_CALLBACKS k_oggSeekable = {SourceRead, SourceSeek, SourceClose, SourceTell};
const PLAT_OGG_CALLBACKS k_oggStreamOnly = {SourceRead, nullptr, SourceClose, nullptr};

struct OGG_API {
    KX_OGG_OPEN_FN pfnOpen;
    KX_OGG_INFO_FN pfnInfo;
    KX_OGG_STREAMS_FN pfnStreams;
    KX_OGG_SEEKABLE_FN pfnSeekable;
    KX_OGG_TIME_TOTAL_FN pfnTimeTotal;
    KX_OGG_PCM_SEEK_FN pfnPcmSeek;
    KX_OGG_TIME_SEEK_FN pfnTimeSeek;
    KX_OGG_PCM_TELL_FN pfnPcmTell;
    KX_OGG_READ_FN pfnRead;
    KX_OGG_CLOSE_FN pfnClose;
};

struct OGG_MODULE_FIXTURE : MODULE_FIXTURE {
    OGG_API api{};
    void SetUp() override
    {
        api.pfnOpen = Named<KX_OGG_OPEN_FN>("VORBISFILE.DLL", "KXOgg_Open");
        api.pfnInfo = Named<KX_OGG_INFO_FN>("VORBISFILE.DLL", "KXOgg_Info");
        api.pfnStreams = Named<KX_OGG_STREAMS_FN>("VORBISFILE.DLL", "KXOgg_Streams");
        api.pfnSeekable = Named<KX_OGG_SEEKABLE_FN>("VORBISFILE.DLL", "KXOgg_Seekable");
        api.pfnTimeTotal = Named<KX_OGG_TIME_TOTAL_FN>("VORBISFILE.DLL", "KXOgg_TimeTotal");
        api.pfnPcmSeek = Named<KX_OGG_PCM_SEEK_FN>("VORBISFILE.DLL", "KXOgg_PcmSeek");
        api.pfnTimeSeek = Named<KX_OGG_TIME_SEEK_FN>("VORBISFILE.DLL", "KXOgg_TimeSeek");
        api.pfnPcmTell = Named<KX_OGG_PCM_TELL_FN>("VORBISFILE.DLL", "KXOgg_PcmTell");
        api.pfnRead = Named<KX_OGG_READ_FN>("VORBISFILE.DLL", "KXOgg_Read");
        api.pfnClose = Named<KX_OGG_CLOSE_FN>("VORBISFILE.DLL", "KXOgg_Close");
        ASSERT_TRUE(api.pfnOpen && api.pfnInfo && api.pfnStreams && api.pfnSeekable && api.pfnTimeTotal &&
                    api.pfnPcmSeek && api.pfnTimeSeek && api.pfnPcmTell && api.pfnRead && api.pfnClose);
    }

    // Reads from the position to the end in reads of nChunk bytes; the last result (0 at the end,
    // else the failure) in *pnLast.
    BYTES ReadToEnd(PLAT_OGG_DECODER* pDecoder, int32_t nChunk, int32_t* pnLast)
    {
        BYTES out;
        std::vector<uint8_t> buf(size_t(nChunk) + 16, 0xEE);
        for (int i = 0; i < 100000; ++i) {
            *pnLast = api.pfnRead(pDecoder, buf.data(), nChunk);
            if (*pnLast <= 0) break;
            EXPECT_LE(*pnLast, nChunk);
            EXPECT_EQ(buf[size_t(nChunk)], 0xEE);   // nothing past the capacity
            out.insert(out.end(), buf.begin(), buf.begin() + *pnLast);
        }
        return out;
    }
};

TEST_F(OGG_MODULE_FIXTURE, DecodesAndSeeksThroughTheEntries)
{
    struct CASE {
        int nChannels;
        long nRate;
        int64_t llFrames;
    };
    for (const CASE& c : {CASE{1, 8000, 4000}, CASE{2, 22050, 11025}}) {
        SCOPED_TRACE(c.nChannels);
        OGG_WRITER_OPTIONS opt;
        opt.nChannels = c.nChannels;
        opt.nRate = c.nRate;
        opt.llFrames = c.llFrames;
        opt.signal = OGGSIG_RAMP;
        const BYTES file = WriteOggVorbis(opt);
        ASSERT_FALSE(file.empty());
        OGG_SOURCE src{&file, 0, 0};
        PLAT_OGG_DECODER* pDecoder = nullptr;
        ASSERT_EQ(api.pfnOpen(&src, &k_oggSeekable, &pDecoder), KX_OGG_OK);
        ASSERT_NE(pDecoder, nullptr);

        int32_t nChannels = 0;
        int64_t llRate = 0;
        EXPECT_EQ(api.pfnInfo(pDecoder, &nChannels, &llRate), 0);
        EXPECT_EQ(nChannels, c.nChannels);
        EXPECT_EQ(llRate, c.nRate);
        EXPECT_EQ(api.pfnStreams(pDecoder), 1);
        EXPECT_EQ(api.pfnSeekable(pDecoder), 1);
        EXPECT_DOUBLE_EQ(api.pfnTimeTotal(pDecoder), 0.5);
        EXPECT_EQ(api.pfnPcmTell(pDecoder), 0);

        // The whole stream: every frame, as 16-bit little-endian samples rising with the ramp.
        int32_t nLast = 1;
        const BYTES whole = ReadToEnd(pDecoder, 4096, &nLast);
        EXPECT_EQ(nLast, 0);
        const size_t nFrameBytes = size_t(c.nChannels) * 2;
        ASSERT_EQ(whole.size(), size_t(c.llFrames) * nFrameBytes);
        EXPECT_EQ(api.pfnPcmTell(pDecoder), c.llFrames);
        auto sample = [&](int64_t llFrame) {
            const size_t at = size_t(llFrame) * nFrameBytes;
            return int16_t(whole[at] | whole[at + 1] << 8);
        };
        EXPECT_LT(sample(c.llFrames / 8), -8000);
        EXPECT_GT(sample(c.llFrames * 7 / 8), 8000);

        // Seeks land on the frame, and what follows is what the whole decode gave there.
        for (int64_t llFrame : {int64_t(0), c.llFrames / 3, c.llFrames - 100}) {
            ASSERT_EQ(api.pfnPcmSeek(pDecoder, llFrame), 0) << llFrame;
            EXPECT_EQ(api.pfnPcmTell(pDecoder), llFrame);
            const BYTES rest = ReadToEnd(pDecoder, 1000, &nLast);
            EXPECT_TRUE(rest == BYTES(whole.begin() + long(size_t(llFrame) * nFrameBytes), whole.end())) << llFrame;
        }
        ASSERT_EQ(api.pfnTimeSeek(pDecoder, 0.25), 0);
        EXPECT_EQ(api.pfnPcmTell(pDecoder), c.nRate / 4);
        EXPECT_LT(api.pfnPcmSeek(pDecoder, c.llFrames + 1), 0);
        EXPECT_LT(api.pfnTimeSeek(pDecoder, 5.0), 0);

        EXPECT_EQ(src.nCloses, 0);
        api.pfnClose(pDecoder);
        EXPECT_EQ(src.nCloses, 1);
    }

    // A chained file shows both of its streams.
    OGG_WRITER_OPTIONS a, b;
    a.llFrames = 3000;
    b.llFrames = 2000;
    const BYTES chained = WriteChainedOgg(a, b);
    OGG_SOURCE src{&chained, 0, 0};
    PLAT_OGG_DECODER* pDecoder = nullptr;
    ASSERT_EQ(api.pfnOpen(&src, &k_oggSeekable, &pDecoder), KX_OGG_OK);
    EXPECT_EQ(api.pfnStreams(pDecoder), 2);
    api.pfnClose(pDecoder);
}

// The offset of the nth "OggS" page start in a file, or the file's size.
size_t NthPage(const BYTES& file, int n)
{
    static const uint8_t k_abMagic[4] = {'O', 'g', 'g', 'S'};
    auto it = file.begin();
    for (int i = 0; i <= n && it != file.end(); ++i) {
        if (i > 0) ++it;
        it = std::search(it, file.end(), k_abMagic, k_abMagic + 4);
    }
    return size_t(it - file.begin());
}

TEST_F(OGG_MODULE_FIXTURE, DamagedStreamsAndBadCallsFailCleanly)
{
    // Two seconds of stereo noise fill many pages.
    OGG_WRITER_OPTIONS opt;
    opt.nChannels = 2;
    opt.llFrames = 22050 * 2;
    std::mt19937 rng(9);
    std::vector<float> noise(size_t(opt.llFrames) * 2);
    for (float& f : noise) f = float(rng() % 1000) / 1000.0f - 0.5f;
    const BYTES file = WriteOggVorbisSamples(opt, noise.data(), size_t(opt.llFrames));
    ASSERT_FALSE(file.empty());
    PLAT_OGG_DECODER* pDecoder = nullptr;

    // Not Ogg Vorbis at all, or nothing: the open fails, without a decoder and without a close.
    for (const BYTES& bad : {PatternBytes(5000), BYTES{}, BYTES(file.begin(), file.begin() + 40)}) {
        OGG_SOURCE src{&bad, 0, 0};
        pDecoder = reinterpret_cast<PLAT_OGG_DECODER*>(&src);
        EXPECT_LT(api.pfnOpen(&src, &k_oggSeekable, &pDecoder), 0) << bad.size();
        EXPECT_EQ(pDecoder, nullptr);
        EXPECT_EQ(src.nCloses, 0);
    }

    // Every cut of the file: whatever opens reads to an end or a failure, inside the image.
    for (size_t nCut = 0; nCut < file.size(); nCut += 509) {
        const BYTES cut(file.begin(), file.begin() + long(nCut));
        OGG_SOURCE src{&cut, 0, 0};
        pDecoder = nullptr;
        if (api.pfnOpen(&src, &k_oggSeekable, &pDecoder) != 0) {
            EXPECT_EQ(pDecoder, nullptr);
            continue;
        }
        int32_t nLast = 1;
        const BYTES got = ReadToEnd(pDecoder, 4096, &nLast);
        EXPECT_LE(nLast, 0);
        EXPECT_LE(got.size(), size_t(opt.llFrames) * 4);
        api.pfnClose(pDecoder);
        EXPECT_EQ(src.nCloses, 1);
    }

    // A page taken out of the middle: the read that meets the gap tells of the hole.
    const size_t nFrom = NthPage(file, 4), nTo = NthPage(file, 5);
    ASSERT_LT(nTo, file.size());
    BYTES holed(file.begin(), file.begin() + long(nFrom));
    holed.insert(holed.end(), file.begin() + long(nTo), file.end());
    OGG_SOURCE holedSrc{&holed, 0, 0};
    ASSERT_EQ(api.pfnOpen(&holedSrc, &k_oggSeekable, &pDecoder), KX_OGG_OK);
    int32_t nLast = 1;
    ReadToEnd(pDecoder, 4096, &nLast);
    EXPECT_EQ(nLast, KX_OGG_HOLE);
    api.pfnClose(pDecoder);

    // A source that cannot seek decodes but has no length and no seeking.
    OGG_SOURCE streamSrc{&file, 0, 0};
    ASSERT_EQ(api.pfnOpen(&streamSrc, &k_oggStreamOnly, &pDecoder), KX_OGG_OK);
    EXPECT_EQ(api.pfnSeekable(pDecoder), 0);
    EXPECT_EQ(api.pfnStreams(pDecoder), 1);
    EXPECT_EQ(api.pfnTimeTotal(pDecoder), double(KX_OGG_EINVAL));
    EXPECT_EQ(api.pfnPcmSeek(pDecoder, 0), KX_OGG_ENOSEEK);
    EXPECT_EQ(ReadToEnd(pDecoder, 4096, &nLast).size(), size_t(opt.llFrames) * 4);
    EXPECT_EQ(nLast, 0);
    api.pfnClose(pDecoder);
    EXPECT_EQ(streamSrc.nCloses, 1);

    // Bad calls.
    OGG_SOURCE src{&file, 0, 0};
    const PLAT_OGG_CALLBACKS noRead = {nullptr, SourceSeek, SourceClose, SourceTell};
    EXPECT_EQ(api.pfnOpen(&src, nullptr, &pDecoder), KX_OGG_EINVAL);
    EXPECT_EQ(api.pfnOpen(&src, &noRead, &pDecoder), KX_OGG_EINVAL);
    EXPECT_EQ(api.pfnOpen(&src, &k_oggSeekable, nullptr), KX_OGG_EINVAL);
    int32_t nChannels = 7;
    int64_t llRate = 7;
    EXPECT_EQ(api.pfnInfo(nullptr, &nChannels, &llRate), KX_OGG_EINVAL);
    EXPECT_EQ(nChannels, 0);
    EXPECT_EQ(llRate, 0);
    EXPECT_EQ(api.pfnStreams(nullptr), 0);
    EXPECT_EQ(api.pfnSeekable(nullptr), 0);
    EXPECT_LT(api.pfnTimeTotal(nullptr), 0);
    EXPECT_EQ(api.pfnPcmSeek(nullptr, 0), KX_OGG_EINVAL);
    EXPECT_EQ(api.pfnTimeSeek(nullptr, 0), KX_OGG_EINVAL);
    EXPECT_EQ(api.pfnPcmTell(nullptr), KX_OGG_EINVAL);
    uint8_t buf[64];
    EXPECT_EQ(api.pfnRead(nullptr, buf, 64), KX_OGG_EINVAL);
    ASSERT_EQ(api.pfnOpen(&src, &k_oggSeekable, &pDecoder), KX_OGG_OK);
    EXPECT_EQ(api.pfnInfo(pDecoder, nullptr, &llRate), KX_OGG_EINVAL);
    EXPECT_EQ(api.pfnRead(pDecoder, nullptr, 64), KX_OGG_EINVAL);
    EXPECT_EQ(api.pfnRead(pDecoder, buf, -1), KX_OGG_EINVAL);
    EXPECT_EQ(api.pfnRead(pDecoder, buf, 0), 0);
    api.pfnClose(pDecoder);
    api.pfnClose(nullptr);
    EXPECT_EQ(src.nCloses, 1);
}

}  // namespace
