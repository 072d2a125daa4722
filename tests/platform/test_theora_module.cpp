// THEORALIB.DLL: binding by name, frame decoding and colour conversion, forward decoding with a
// restart, damaged input, and the audio voice with its sample counter.
#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <theora/theoradec.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "platform/plat_audio.h"
#include "platform/plat_modules.h"
#include "platform/plat_theora.h"
#include "platform/plat_theora_convert.h"
#include "platform/plat_time.h"
#include "tools/lib/ogv_writer.h"

namespace {

// A movie without sound of nFrames frames: a w x h picture at (px, py) in the given pixel format.
OGV_WRITER_OPTIONS SilentMovie(int nFrames, int nPixelFormat, int w, int h, int px, int py)
{
    OGV_WRITER_OPTIONS opt;
    opt.nFrames = nFrames;
    opt.bAudio = false;
    opt.nPixelFormat = nPixelFormat;
    opt.nWidth = w;
    opt.nHeight = h;
    opt.nPicX = px;
    opt.nPicY = py;
    return opt;
}

// Fills the vectors, one after the other, with the bytes of a seeded generator.
void FillSeeded(uint32_t seed, std::initializer_list<std::vector<uint8_t>*> vectors)
{
    for (std::vector<uint8_t>* v : vectors)
        for (uint8_t& b : *v) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(seed >> 24);
        }
}

using BYTES = std::vector<uint8_t>;

// The source and frame buffer the callbacks serve (one movie at a time, as in the engine).
const BYTES* g_pSource = nullptr;
std::vector<uint8_t> g_frame;
int32_t g_nW = 0, g_nH = 0, g_nResizes = 0;

int32_t ReadCb(void* pData, void* pDest, int64_t llPos, int32_t nCount)
{
    const BYTES& s = *static_cast<const BYTES*>(pData);
    if (llPos < 0 || static_cast<size_t>(llPos) >= s.size()) return 0;
    const size_t n = std::min<size_t>(static_cast<size_t>(nCount), s.size() - static_cast<size_t>(llPos));
    std::memcpy(pDest, s.data() + llPos, n);
    return static_cast<int32_t>(n);
}
int64_t SizeCb(void) { return static_cast<int64_t>(g_pSource->size()); }
int g_nWithheldParity = -1;   // rows of this parity (0 even, 1 odd) get no buffer; -1 none
uint8_t* RowCb(void*, int32_t nRow)
{
    if (nRow < 0 || nRow >= g_nH || (g_nWithheldParity >= 0 && (nRow & 1) == g_nWithheldParity)) return nullptr;
    return g_frame.data() + static_cast<size_t>(nRow) * g_nW * 4;
}
int32_t ResizeCb(void*, int32_t w, int32_t h)
{
    ++g_nResizes;
    g_nW = w;
    g_nH = h;
    g_frame.assign(static_cast<size_t>(w) * h * 4, 0);
    return 0;
}

struct THEORA_API {
    THEORA_M_CREATE_FN mCreate;
    THEORA_M_FREE_FN mFree;
    THEORA_M_SETVREVERS_FN mSetVRevers;
    THEORA_M_LOAD_FN mLoad;
    THEORA_M_TOTALFRAME_FN mTotal;
    THEORA_M_DECODEFRAME_FN mDecode;
    THEORA_W_CREATE_FN wCreate;
    THEORA_W_FREE_FN wFree;
    THEORA_W_LOAD_FN wLoad;
    THEORA_W_NOWSAMPLE_FN wNowSample;
};

struct TheoraModule : ::testing::Test {
    PLAT_MODULE* pModule = nullptr;
    THEORA_API api{};
    void* hVideo = nullptr;
    void* hAudio = nullptr;
    BYTES movie;

    void SetUp() override
    {
        pModule = PlatLoadLibrary("TheoraLib.dll");
        ASSERT_NE(pModule, nullptr);
        auto get = [&](const char* psz) { return PlatGetProcAddress(pModule, psz); };
        api.mCreate = reinterpret_cast<THEORA_M_CREATE_FN>(get("theoralib_m_create"));
        api.mFree = reinterpret_cast<THEORA_M_FREE_FN>(get("theoralib_m_free"));
        api.mSetVRevers = reinterpret_cast<THEORA_M_SETVREVERS_FN>(get("theoralib_m_setvrevers"));
        api.mLoad = reinterpret_cast<THEORA_M_LOAD_FN>(get("theoralib_m_load"));
        api.mTotal = reinterpret_cast<THEORA_M_TOTALFRAME_FN>(get("theoralib_m_totalframe"));
        api.mDecode = reinterpret_cast<THEORA_M_DECODEFRAME_FN>(get("theoralib_m_decodeframe"));
        api.wCreate = reinterpret_cast<THEORA_W_CREATE_FN>(get("theoralib_w_create"));
        api.wFree = reinterpret_cast<THEORA_W_FREE_FN>(get("theoralib_w_free"));
        api.wLoad = reinterpret_cast<THEORA_W_LOAD_FN>(get("theoralib_w_load"));
        api.wNowSample = reinterpret_cast<THEORA_W_NOWSAMPLE_FN>(get("theoralib_w_nowsample"));
        g_nResizes = 0;
    }
    void TearDown() override
    {
        if (hVideo) api.mFree(hVideo);
        if (hAudio) api.wFree(hAudio);
        PlatTheoraSetAudioDevice(nullptr);
        PlatFreeLibrary(pModule);
        PlatResetModules();
    }
    int Load(const BYTES& file, int bTopDown = 1)
    {
        movie = file;
        g_pSource = &movie;
        hVideo = api.mCreate();
        api.mSetVRevers(hVideo, bTopDown);
        return api.mLoad(hVideo, &movie, ReadCb, SizeCb, g_frame.data(), RowCb, ResizeCb, 0);
    }
    const uint8_t* Pixel(int x, int y) const { return g_frame.data() + (static_cast<size_t>(y) * g_nW + x) * 4; }
};

void ExpectColour(const uint8_t* pBgra, const uint8_t* pRgb, const char* pszWhat, int nTolerance = 2)
{
    EXPECT_NEAR(pBgra[2], pRgb[0], nTolerance) << pszWhat << " red";
    EXPECT_NEAR(pBgra[1], pRgb[1], nTolerance) << pszWhat << " green";
    EXPECT_NEAR(pBgra[0], pRgb[2], nTolerance) << pszWhat << " blue";
    EXPECT_EQ(pBgra[3], 255) << pszWhat << " alpha";
}

TEST_F(TheoraModule, AllTwentyFourNamesExistAndTheUnusedOnesReturnZero)
{
    static const char* const k_apszNames[] = {
        "theoralib_m_create", "theoralib_m_free", "theoralib_m_init", "theoralib_m_load", "theoralib_m_exists",
        "theoralib_m_decodeframe", "theoralib_m_setvrevers", "theoralib_m_setdecodemode", "theoralib_m_nowframe",
        "theoralib_m_totalframe", "theoralib_m_totaltime", "theoralib_m_info", "theoralib_m_comment",
        "theoralib_w_create", "theoralib_w_free", "theoralib_w_init", "theoralib_w_load", "theoralib_w_exists",
        "theoralib_w_decodesample", "theoralib_w_nowsample", "theoralib_w_totalsample", "theoralib_w_totaltime",
        "theoralib_w_info", "theoralib_w_comment"};
    for (const char* psz : k_apszNames) EXPECT_NE(PlatGetProcAddress(pModule, psz), nullptr) << psz;
    auto pfnUnused = reinterpret_cast<int32_t (*)(void)>(PlatGetProcAddress(pModule, "theoralib_m_nowframe"));
    EXPECT_EQ(pfnUnused(), 0);
    PlatHideModule("THEORALIB.DLL", 1);
    EXPECT_EQ(PlatLoadLibrary("TheoraLib.dll"), nullptr);
}

TEST_F(TheoraModule, FramesComeOutInTheirColoursOnRequestForwardAndBackward)
{
    OGV_WRITER_OPTIONS opt;
    opt.nFrames = 40;
    opt.bAudio = false;
    ASSERT_EQ(Load(WriteOgvMovie(opt)), 0);
    EXPECT_EQ(g_nResizes, 1);
    EXPECT_EQ(g_nW, 64);
    EXPECT_EQ(g_nH, 48);
    EXPECT_EQ(api.mTotal(hVideo), 40);
    for (int n : {0, 1, 5, 33, 39, 2, 0, 17}) {
        ASSERT_EQ(api.mDecode(hVideo, n), 1) << n;
        uint8_t rgb[3];
        OgvFrameColour(n, rgb);
        ExpectColour(Pixel(0, 0), rgb, "top-left");
        ExpectColour(Pixel(63, 47), rgb, "bottom-right");
    }
    // The frame shown last, and frames outside the movie, decode nothing.
    EXPECT_EQ(api.mDecode(hVideo, 17), 0);
    EXPECT_EQ(api.mDecode(hVideo, 40), 0);
    EXPECT_EQ(api.mDecode(hVideo, -1), 0);
}

// Every chroma layout, odd sizes and a picture offset inside the coded frame; the picture has a
// different colour in each quadrant, so a wrong offset or row order shows. Flat frames of each
// layout keep the close colour bound.
TEST_F(TheoraModule, ChromaLayoutsOddSizesOffsetsAndRowOrder)
{
    static const uint8_t k_aQuad[4][3] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {200, 200, 60}};
    struct CASE { int nFmt, w, h, px, py, bTopDown; };
    const CASE k_aCases[] = {
        {420, 64, 48, 0, 0, 1}, {420, 37, 29, 2, 4, 1}, {422, 50, 30, 6, 2, 1}, {444, 33, 17, 3, 5, 1},
        {420, 40, 24, 0, 0, 0}, {420, 45, 27, 3, 5, 0}, {420, 71, 33, 1, 7, 1},
    };
    for (const CASE& c : k_aCases) {
        SCOPED_TRACE(testing::Message() << c.nFmt << " " << c.w << "x" << c.h << " +" << c.px << "," << c.py);
        OGV_WRITER_OPTIONS opt = SilentMovie(2, c.nFmt, c.w, c.h, c.px, c.py);
        opt.pixel = [&](int, int x, int y, uint8_t* p) {
            const uint8_t* q = k_aQuad[(x >= c.w / 2) + 2 * (y >= c.h / 2)];
            std::memcpy(p, q, 3);
        };
        if (hVideo) api.mFree(hVideo);
        ASSERT_EQ(Load(WriteOgvMovie(opt), c.bTopDown), 0);
        ASSERT_EQ(g_nW, c.w);
        ASSERT_EQ(g_nH, c.h);
        ASSERT_EQ(api.mDecode(hVideo, 0), 1);
        // Sample each quadrant away from its edges (chroma is shared across 2-pixel blocks).
        const int ax[2] = {c.w / 4, c.w / 2 + c.w / 4}, ay[2] = {c.h / 4, c.h / 2 + c.h / 4};
        for (int q = 0; q < 4; ++q) {
            int y = ay[q / 2];
            if (!c.bTopDown) y = c.h - 1 - y;
            // Sharp edges in blocks this small ring a little; a wrong quadrant is 160 off.
            ExpectColour(Pixel(ax[q % 2], y), k_aQuad[q], "quadrant", 16);
        }
    }
    for (int nFmt : {420, 422, 444}) {
        OGV_WRITER_OPTIONS opt;
        opt.nFrames = 3;
        opt.bAudio = false;
        opt.nPixelFormat = nFmt;
        api.mFree(hVideo);
        ASSERT_EQ(Load(WriteOgvMovie(opt)), 0);
        ASSERT_EQ(api.mDecode(hVideo, 2), 1);
        uint8_t rgb[3];
        OgvFrameColour(2, rgb);
        ExpectColour(Pixel(31, 20), rgb, nFmt == 420 ? "4:2:0" : nFmt == 422 ? "4:2:2" : "4:4:4");
    }
}

// The AVX2 form converts two rows of a 4:2:0 picture with one set of chroma terms: each row gets
// exactly the bytes of the one-row form, for every start column parity and width.
TEST(TheoraConvert, RowPairGivesTheBytesOfSingleRows)
{
    if (!PlatTheoraHasAvx2()) GTEST_SKIP() << "this processor cannot run the AVX2 form";
    std::vector<uint8_t> y0(400), y1(400), cb(200), cr(200);
    FillSeeded(99, {&y0, &y1, &cb, &cr});
    for (int x0 : {0, 2, 6}) {
        for (int nWidth : {0, 31, 32, 33, 64, 95, 300}) {
            std::vector<uint8_t> single0(nWidth * 4 + 8, 0xA5), single1 = single0, pair0 = single0, pair1 = single0;
            const int xs0 = TheoraConvertAvx2(y0.data(), cb.data(), cr.data(), x0, 0, nWidth, 1, single0.data());
            const int xs1 = TheoraConvertAvx2(y1.data(), cb.data(), cr.data(), x0, 0, nWidth, 1, single1.data());
            const int xp = TheoraConvertAvx2Pair(y0.data(), y1.data(), cb.data(), cr.data(), x0, 0, nWidth, pair0.data(),
                                                 pair1.data());
            EXPECT_EQ(xp, xs0) << x0 << " " << nWidth;
            EXPECT_EQ(xp, xs1);
            EXPECT_EQ(pair0, single0) << x0 << " " << nWidth;
            EXPECT_EQ(pair1, single1) << x0 << " " << nWidth;
        }
    }
}

// ---- the conversion's forms against its steps ----------------------------------------------------

// The conversion's steps, pixel by pixel, as plat_theora_convert.h states them.
void StepsPixel(int nY, int nCb, int nCr, uint8_t* p)
{
    const auto mulhi = [](int a, int b) { return (a * b) >> 16; };
    const auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
    const int d = (nCb - 128) * 128, e = (nCr - 128) * 128, yy = mulhi((nY - 16) * 128, 4768);
    p[0] = clamp((yy + mulhi(d, 8266) + 4) >> 3);
    p[1] = clamp((yy + mulhi(d, -1602) + mulhi(e, -3330) + 4) >> 3);
    p[2] = clamp((yy + mulhi(e, 6537) + 4) >> 3);
    p[3] = 255;
}

void StepsRow(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int nWidth, int nShiftX, uint8_t* pOut)
{
    for (int x = 0; x < nWidth; ++x) {
        const int c = (x0 + x) >> nShiftX;
        StepsPixel(pY[x0 + x], pCb[c], pCr[c], pOut + 4 * x);
    }
}

// Every form the module may choose, one test instance each; a form the processor lacks is skipped.
struct TheoraConvert : ::testing::TestWithParam<int> {
    void SetUp() override
    {
        if (!TheoraConvertLevelRuns(GetParam()))
            GTEST_SKIP() << "this processor cannot run the " << TheoraConvertLevelName(GetParam()) << " form";
    }
};

// All 2^24 combinations of Y, Cb and Cr, in rows with one chroma sample per pixel, one per two
// pixels, and two rows sharing their chroma.
TEST_P(TheoraConvert, EveryValueCombinationGivesTheBytesOfItsSteps)
{
    const int nLevel = GetParam();
    uint8_t ay0[256], ay1[256];
    for (int i = 0; i < 256; ++i) {
        ay0[i] = static_cast<uint8_t>(i);
        ay1[i] = static_cast<uint8_t>(255 - i);
    }
    std::vector<uint8_t> want0(1024), want1(1024), got0(1024), got1(1024);
    int nBad = 0;
    for (int cb = 0; cb < 256 && nBad < 5; ++cb) {
        const std::vector<uint8_t> vcb(256, static_cast<uint8_t>(cb));
        for (int cr = 0; cr < 256 && nBad < 5; ++cr) {
            const std::vector<uint8_t> vcr(256, static_cast<uint8_t>(cr));
            StepsRow(ay0, vcb.data(), vcr.data(), 0, 256, 0, want0.data());
            StepsRow(ay1, vcb.data(), vcr.data(), 0, 256, 0, want1.data());
            for (int nShiftX : {0, 1}) {
                TheoraConvertRow(nLevel, ay0, vcb.data(), vcr.data(), 0, 256, nShiftX, got0.data());
                if (got0 != want0) ++nBad, ADD_FAILURE() << "Cb " << cb << " Cr " << cr << " shift " << nShiftX;
            }
            TheoraConvertRowPair(nLevel, ay0, ay1, vcb.data(), vcr.data(), 0, 256, got0.data(), got1.data());
            if (got0 != want0 || got1 != want1) ++nBad, ADD_FAILURE() << "pair: Cb " << cb << " Cr " << cr;
        }
    }
}

// Busy rows of every width up to 300 from several start columns of both parities, into rows that
// start at several offsets from a 64-byte boundary: the bytes of the steps, and nothing written
// past the row.
TEST_P(TheoraConvert, RowsOfAnyWidthAndStartGiveTheBytesOfTheirSteps)
{
    const int nLevel = GetParam();
    std::vector<uint8_t> y0(400), y1(400), cb(400), cr(400);
    FillSeeded(7, {&y0, &y1, &cb, &cr});
    constexpr int kGuard = 64;
    alignas(64) static uint8_t s_aOut0[300 * 4 + 2 * kGuard + 64], s_aOut1[300 * 4 + 2 * kGuard + 64];
    std::vector<uint8_t> want0(300 * 4), want1(300 * 4);
    int nBad = 0;
    for (int nShiftX : {0, 1})
        for (int x0 : {0, 1, 2, 3, 5, 16, 31, 33, 64, 97})
            for (int nOffset : {0, 4, 36})
                for (int nWidth = 0; nWidth <= 300 && nBad < 5; ++nWidth) {
                    SCOPED_TRACE(testing::Message() << "shift " << nShiftX << " x0 " << x0 << " offset " << nOffset
                                                    << " width " << nWidth);
                    const size_t nBytes = static_cast<size_t>(nWidth) * 4;
                    StepsRow(y0.data(), cb.data(), cr.data(), x0, nWidth, nShiftX, want0.data());
                    StepsRow(y1.data(), cb.data(), cr.data(), x0, nWidth, nShiftX, want1.data());
                    std::memset(s_aOut0, 0xA5, sizeof s_aOut0);
                    std::memset(s_aOut1, 0xA5, sizeof s_aOut1);
                    uint8_t* pOut0 = s_aOut0 + kGuard + nOffset;
                    uint8_t* pOut1 = s_aOut1 + kGuard + nOffset;
                    const auto check = [&](const uint8_t* pRow, const uint8_t* pWant, const uint8_t* pBuf) {
                        bool bOk = std::memcmp(pRow, pWant, nBytes) == 0;
                        for (const uint8_t* p = pBuf; p < pRow; ++p) bOk = bOk && *p == 0xA5;
                        for (const uint8_t* p = pRow + nBytes; p < pBuf + sizeof s_aOut0; ++p) bOk = bOk && *p == 0xA5;
                        return bOk;
                    };
                    TheoraConvertRow(nLevel, y0.data(), cb.data(), cr.data(), x0, nWidth, nShiftX, pOut0);
                    if (!check(pOut0, want0.data(), s_aOut0)) ++nBad, ADD_FAILURE() << "one row";
                    if (nShiftX != 1) continue;
                    std::memset(s_aOut0, 0xA5, sizeof s_aOut0);
                    TheoraConvertRowPair(nLevel, y0.data(), y1.data(), cb.data(), cr.data(), x0, nWidth, pOut0, pOut1);
                    if (!check(pOut0, want0.data(), s_aOut0) || !check(pOut1, want1.data(), s_aOut1))
                        ++nBad, ADD_FAILURE() << "row pair";
                }
}

INSTANTIATE_TEST_SUITE_P(Levels, TheoraConvert,
                         ::testing::Values(THEORA_CONVERT_PLAIN, THEORA_CONVERT_SSE2, THEORA_CONVERT_AVX2,
                                           THEORA_CONVERT_AVX512),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(TheoraConvertLevelName(info.param));
                         });

// The packets of the only stream of a file (the writer's movies without sound).
std::vector<BYTES> PacketsOf(const BYTES& file)
{
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* pBuf = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(pBuf, file.data(), file.size());
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    ogg_stream_state os;
    bool bStream = false;
    std::vector<BYTES> packets;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!bStream) ogg_stream_init(&os, ogg_page_serialno(&page));
        bStream = true;
        if (ogg_stream_pagein(&os, &page) != 0) continue;
        ogg_packet op;
        while (ogg_stream_packetout(&os, &op) == 1) packets.emplace_back(op.packet, op.packet + op.bytes);
    }
    if (bStream) ogg_stream_clear(&os);
    ogg_sync_clear(&sync);
    return packets;
}

// Frame n as libtheora alone gives it (every packet up to n decoded, the picture taken at the end),
// converted row by row with the steps: w x h B,G,R,A pixels, top row first.
BYTES LibraryFrame(const std::vector<BYTES>& packets, int n)
{
    th_info ti;
    th_comment tc;
    th_setup_info* ts = nullptr;
    th_info_init(&ti);
    th_comment_init(&tc);
    size_t i = 0;
    for (; i < packets.size(); ++i) {
        ogg_packet op{};
        op.packet = const_cast<unsigned char*>(packets[i].data());
        op.bytes = static_cast<long>(packets[i].size());
        op.b_o_s = i == 0;
        op.granulepos = -1;
        if (th_decode_headerin(&ti, &tc, &ts, &op) <= 0) break;
    }
    th_dec_ctx* dec = th_decode_alloc(&ti, ts);
    for (size_t k = i; k <= i + static_cast<size_t>(n) && k < packets.size(); ++k) {
        ogg_packet op{};
        op.packet = const_cast<unsigned char*>(packets[k].data());
        op.bytes = static_cast<long>(packets[k].size());
        op.granulepos = -1;
        th_decode_packetin(dec, &op, nullptr);
    }
    th_ycbcr_buffer ycbcr;
    th_decode_ycbcr_out(dec, ycbcr);
    const int w = static_cast<int>(ti.pic_width), h = static_cast<int>(ti.pic_height);
    const int nShiftX = ti.pixel_fmt == TH_PF_444 ? 0 : 1, nShiftY = ti.pixel_fmt == TH_PF_420 ? 1 : 0;
    BYTES out(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        const int ly = static_cast<int>(ti.pic_y) + y, cy = ly >> nShiftY;
        StepsRow(ycbcr[0].data + static_cast<ptrdiff_t>(ly) * ycbcr[0].stride,
                 ycbcr[1].data + static_cast<ptrdiff_t>(cy) * ycbcr[1].stride,
                 ycbcr[2].data + static_cast<ptrdiff_t>(cy) * ycbcr[2].stride, static_cast<int>(ti.pic_x), w, nShiftX,
                 out.data() + static_cast<size_t>(y) * w * 4);
    }
    th_decode_free(dec);
    th_setup_free(ts);
    th_comment_clear(&tc);
    th_info_clear(&ti);
    return out;
}

// The module converts the requested frame's rows as the decoder finishes them. Its frames are
// exactly libtheora's own pictures converted by the steps: every chroma layout, odd sizes and
// picture offsets, both row orders, requests that skip ahead, step back, and land on zero-length
// repeats (which hand over no rows) just after their frame and after a jump.
TEST_F(TheoraModule, FramesAreTheLibrarysPicturesConvertedByTheSteps)
{
    struct CASE { int nFmt, w, h, px, py, bTopDown; };
    const CASE k_aCases[] = {{420, 100, 70, 3, 5, 1}, {420, 64, 48, 0, 0, 0}, {422, 75, 41, 2, 7, 1},
                             {444, 67, 35, 5, 1, 0},  {420, 129, 97, 1, 2, 1}};
    for (const CASE& c : k_aCases) {
        SCOPED_TRACE(testing::Message() << c.nFmt << " " << c.w << "x" << c.h << " +" << c.px << "," << c.py << " "
                                        << c.bTopDown);
        OGV_WRITER_OPTIONS opt = SilentMovie(12, c.nFmt, c.w, c.h, c.px, c.py);
        opt.nKeyShift = 2;
        opt.nDupAfterFrame = 5;
        opt.nDupCount = 2;
        opt.pixel = [](int f, int x, int y, uint8_t* p) {
            p[0] = static_cast<uint8_t>(x * 7 + f * 13);
            p[1] = static_cast<uint8_t>(y * 5 + (x ^ y) * 3 + f);
            p[2] = static_cast<uint8_t>((x + y) * 11 - f * 17);
        };
        const BYTES file = WriteOgvMovie(opt);
        const std::vector<BYTES> packets = PacketsOf(file);
        if (hVideo) api.mFree(hVideo);
        hVideo = nullptr;
        ASSERT_EQ(Load(file, c.bTopDown), 0);
        ASSERT_EQ(api.mTotal(hVideo), 14);
        // 6 and 7 repeat frame 5.
        for (int n : {0, 1, 2, 5, 6, 7, 8, 3, 7, 13, 4, 9, 6}) {
            SCOPED_TRACE(n);
            std::fill(g_frame.begin(), g_frame.end(), 0);
            ASSERT_EQ(api.mDecode(hVideo, n), 1);
            BYTES want = LibraryFrame(packets, n);
            if (!c.bTopDown) {
                BYTES flipped(want.size());
                for (int y = 0; y < c.h; ++y)
                    std::memcpy(flipped.data() + size_t(y) * c.w * 4, want.data() + size_t(c.h - 1 - y) * c.w * 4,
                                size_t(c.w) * 4);
                want.swap(flipped);
            }
            EXPECT_TRUE(g_frame == want);
        }
    }
}

// Two rows of a 4:2:0 picture that share their chroma row are converted together; with every other
// row withheld each row is converted alone. Both give the same bytes: busy pictures, odd and even
// picture offsets and sizes, both row orders.
TEST_F(TheoraModule, RowPairsGiveTheBytesOfSingleRows)
{
    struct CASE { int w, h, px, py, bTopDown; };
    const CASE k_aCases[] = {{96, 64, 0, 0, 1}, {83, 45, 3, 5, 0}, {70, 38, 2, 8, 1}, {121, 57, 7, 1, 0}};
    for (const CASE& c : k_aCases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " +" << c.px << "," << c.py << " " << c.bTopDown);
        OGV_WRITER_OPTIONS opt = SilentMovie(3, 420, c.w, c.h, c.px, c.py);
        opt.pixel = [](int f, int x, int y, uint8_t* p) {
            p[0] = static_cast<uint8_t>(x * 7 + f * 13);
            p[1] = static_cast<uint8_t>(y * 5 + (x ^ y) * 3);
            p[2] = static_cast<uint8_t>((x + y) * 11 - f * 17);
        };
        const BYTES file = WriteOgvMovie(opt);
        if (hVideo) api.mFree(hVideo);
        hVideo = nullptr;
        ASSERT_EQ(Load(file, c.bTopDown), 0);
        ASSERT_EQ(api.mDecode(hVideo, 2), 1);
        const std::vector<uint8_t> paired = g_frame;
        std::vector<uint8_t> single(paired.size(), 0);
        for (int nParity : {0, 1}) {
            // Frame 2 again after frame 0: decoded and converted anew with half the rows withheld.
            g_nWithheldParity = -1;
            ASSERT_EQ(api.mDecode(hVideo, 0), 1);
            g_nWithheldParity = nParity;
            ASSERT_EQ(api.mDecode(hVideo, 2), 1);
            g_nWithheldParity = -1;
            for (int y = 1 - nParity; y < c.h; y += 2)
                std::memcpy(single.data() + size_t(y) * c.w * 4, g_frame.data() + size_t(y) * c.w * 4, size_t(c.w) * 4);
        }
        EXPECT_TRUE(single == paired);
    }
}

TEST_F(TheoraModule, ZeroLengthRepeatsCountAsFrames)
{
    OGV_WRITER_OPTIONS opt;
    opt.nFrames = 6;
    opt.bAudio = false;
    opt.nDupAfterFrame = 2;
    opt.nDupCount = 3;
    ASSERT_EQ(Load(WriteOgvMovie(opt)), 0);
    ASSERT_EQ(api.mTotal(hVideo), 9);
    uint8_t rgb[3];
    ASSERT_EQ(api.mDecode(hVideo, 4), 1);   // a repeat of source frame 2
    OgvFrameColour(2, rgb);
    ExpectColour(Pixel(10, 10), rgb, "repeat");
    ASSERT_EQ(api.mDecode(hVideo, 6), 1);   // source frame 3
    OgvFrameColour(3, rgb);
    ExpectColour(Pixel(10, 10), rgb, "after the repeats");
}

TEST_F(TheoraModule, DamagedAndTruncatedFilesFailCleanly)
{
    OGV_WRITER_OPTIONS opt;
    opt.nFrames = 30;
    const BYTES good = WriteOgvMovie(opt);
    ASSERT_FALSE(good.empty());

    // Not Ogg at all, and Ogg without a Theora stream.
    EXPECT_EQ(Load(BYTES(1000, 0x41)), -2);
    api.mFree(hVideo);
    EXPECT_EQ(Load(BYTES(good.begin(), good.begin() + 58)), -2);   // the first page only
    api.mFree(hVideo);

    // Cut in the middle: the frames that are there decode; the rest give 0.
    ASSERT_EQ(Load(BYTES(good.begin(), good.begin() + good.size() / 2)), 0);
    const int nTotal = api.mTotal(hVideo);
    EXPECT_LT(nTotal, 30);
    for (int n = 0; n < nTotal; ++n) api.mDecode(hVideo, n);
    EXPECT_EQ(api.mDecode(hVideo, nTotal), 0);
    api.mFree(hVideo);

    // Bytes flipped all through the data: whatever decodes, nothing crashes.
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        BYTES bad = good;
        srand(seed);
        for (int i = 0; i < 40; ++i) bad[static_cast<size_t>(rand()) % bad.size()] ^= static_cast<uint8_t>(1 + rand() % 255);
        if (Load(bad) == 0)
            for (int n = 0; n < api.mTotal(hVideo); n += 3) api.mDecode(hVideo, n);
        api.mFree(hVideo);
        hVideo = nullptr;
        hAudio = api.wCreate();
        api.wLoad(hAudio, &movie, ReadCb, SizeCb);
        api.wNowSample(hAudio);
        api.wFree(hAudio);
        hAudio = nullptr;
    }
}

TEST_F(TheoraModule, SilentAudioCountsSamplesByTime)
{
    OGV_WRITER_OPTIONS opt;
    opt.nFrames = 30;   // one second
    opt.nAudioRate = 22050;
    const BYTES file = WriteOgvMovie(opt);
    movie = file;
    g_pSource = &movie;
    PlatUseFakeClock(1);
    PlatSetFakeTime(5000);
    hAudio = api.wCreate();
    ASSERT_EQ(api.wLoad(hAudio, &movie, ReadCb, SizeCb), 0);
    EXPECT_EQ(api.wNowSample(hAudio), 0);
    PlatAdvanceFakeTime(500);
    EXPECT_EQ(api.wNowSample(hAudio), 11025);
    PlatAdvanceFakeTime(5000);
    EXPECT_EQ(api.wNowSample(hAudio), 22050);   // not past the track's end
    PlatUseFakeClock(0);

    // A file without sound: no track, nothing counted.
    OGV_WRITER_OPTIONS mute = opt;
    mute.bAudio = false;
    movie = WriteOgvMovie(mute);
    void* hMute = api.wCreate();
    EXPECT_EQ(api.wLoad(hMute, &movie, ReadCb, SizeCb), -2);
    EXPECT_EQ(api.wNowSample(hMute), 0);
    api.wFree(hMute);
}

TEST_F(TheoraModule, AudioPlaysThroughTheMixerAsAStreamingVoice)
{
    PlatDsSetSinkOverride("manual");
    PLAT_DS* pDs = nullptr;
    ASSERT_EQ(PlatDsCreate(&pDs), PLAT_DS_OK);
    PlatTheoraSetAudioDevice(pDs);
    OGV_WRITER_OPTIONS opt;
    opt.nFrames = 75;   // 2.5 seconds, longer than the voice's buffer
    opt.nAudioRate = 48000;
    movie = WriteOgvMovie(opt);
    g_pSource = &movie;
    hAudio = api.wCreate();
    ASSERT_EQ(api.wLoad(hAudio, &movie, ReadCb, SizeCb), 0);
    EXPECT_EQ(api.wNowSample(hAudio), 0);
    int64_t llPeak = 0;
    std::vector<int16_t> mix(2 * 4800);
    for (int step = 0; step < 30; ++step) {   // 3 seconds in tenths
        ASSERT_EQ(PlatDsAdvance(4800), PLAT_DS_OK);
        const size_t n = PlatDsReadOutput(mix.data(), 4800);
        for (size_t i = 0; i < 2 * n; ++i) llPeak = std::max<int64_t>(llPeak, std::abs(mix[i]));
        const int64_t llNow = api.wNowSample(hAudio);
        EXPECT_EQ(llNow, std::min<int64_t>((step + 1) * 4800, 120000)) << step;
        if (step == 27) {
            // Past the track's end the voice is silent.
            int64_t llTail = 0;
            for (size_t i = 0; i < 2 * n; ++i) llTail = std::max<int64_t>(llTail, std::abs(mix[i]));
            EXPECT_EQ(llTail, 0);
        }
    }
    EXPECT_GT(llPeak, 8000);   // the 0.4 sine is heard
    api.wFree(hAudio);
    hAudio = nullptr;
    PlatTheoraSetAudioDevice(nullptr);
    PlatDsRelease(pDs);
    PlatDsSetSinkOverride(nullptr);
}

}  // namespace
