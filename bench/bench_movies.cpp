// Movies. Theora: decoding a 1280 x 720 4:2:0 movie frame by frame through THEORALIB.DLL (decode
// plus the BT.601 conversion into B,G,R,A rows) against libtheora's bare decode of the same
// packets; the goal is that the conversion adds at most 10 % (the module converts each stripe of
// rows as the decoder finishes it, into a 64-byte aligned frame buffer as the engine's), and
// BM_TheoraConvertFrame times the conversion of one such picture alone with each form the
// processor runs. Window movies: a 1280 x 720 MPEG-1
// movie at 30 frames per second played through the FFmpeg back end into a window's picture (decode,
// scale, draw, present); the "cpu_percent" counter is the process's CPU time over the wall time of
// the playback, whose goal is below 25 % of one core.
#include <benchmark/benchmark.h>

#include <ogg/ogg.h>
#include <theora/theoradec.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/plat_file.h"
#include "platform/plat_modules.h"
#include "platform/plat_movie.h"
#include "platform/plat_theora.h"
#include "platform/plat_theora_convert.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "tools/lib/mpeg_writer.h"
#include "tools/lib/ogv_writer.h"

namespace {

constexpr int kW = 1280, kH = 720;
constexpr int kTheoraFrames = 12;
constexpr int kMpegFrames = 30;

// A busy picture (gradients that move), so that frames cost what real ones do.
void BusyPixel(int f, int x, int y, uint8_t* p)
{
    p[0] = static_cast<uint8_t>(x / 5 + f * 3);
    p[1] = static_cast<uint8_t>(y / 3 + (x >> 6) * 17);
    p[2] = static_cast<uint8_t>((x + y) / 7 - f * 5);
}

const std::vector<uint8_t>& TheoraMovie()
{
    static const std::vector<uint8_t> s_file = [] {
        OGV_WRITER_OPTIONS opt;
        opt.nWidth = kW;
        opt.nHeight = kH;
        opt.nFrames = kTheoraFrames;
        opt.nKeyShift = 3;
        opt.nQuality = 40;
        opt.bAudio = false;
        opt.pixel = BusyPixel;
        return WriteOgvMovie(opt);
    }();
    return s_file;
}

// ---- through the module ----

const std::vector<uint8_t>* g_pSource;
// The frame buffer, 64-byte aligned as the engine's is (ResizeOgvFrameBuffer).
uint8_t* g_pFrame = nullptr;

int32_t ReadCb(void* pData, void* pDest, int64_t llPos, int32_t nCount)
{
    const std::vector<uint8_t>& s = *static_cast<const std::vector<uint8_t>*>(pData);
    if (llPos < 0 || static_cast<size_t>(llPos) >= s.size()) return 0;
    const size_t n = std::min<size_t>(static_cast<size_t>(nCount), s.size() - static_cast<size_t>(llPos));
    std::memcpy(pDest, s.data() + llPos, n);
    return static_cast<int32_t>(n);
}
int64_t SizeCb(void) { return static_cast<int64_t>(g_pSource->size()); }
uint8_t* RowCb(void*, int32_t nRow) { return g_pFrame + static_cast<size_t>(nRow) * kW * 4; }
int32_t ResizeCb(void*, int32_t w, int32_t h)
{
    const size_t nBytes = (static_cast<size_t>(w) * h * 4 + 63) / 64 * 64;
    std::free(g_pFrame);
    g_pFrame = static_cast<uint8_t*>(std::aligned_alloc(64, nBytes));
    if (!g_pFrame) return -1;
    std::memset(g_pFrame, 0, nBytes);
    return 0;
}

void BM_TheoraModuleDecodeAndConvert(benchmark::State& state)
{
    PLAT_MODULE* pModule = PlatLoadLibrary("TheoraLib.dll");
    auto mCreate = reinterpret_cast<THEORA_M_CREATE_FN>(PlatGetProcAddress(pModule, "theoralib_m_create"));
    auto mFree = reinterpret_cast<THEORA_M_FREE_FN>(PlatGetProcAddress(pModule, "theoralib_m_free"));
    auto mVRev = reinterpret_cast<THEORA_M_SETVREVERS_FN>(PlatGetProcAddress(pModule, "theoralib_m_setvrevers"));
    auto mLoad = reinterpret_cast<THEORA_M_LOAD_FN>(PlatGetProcAddress(pModule, "theoralib_m_load"));
    auto mDecode = reinterpret_cast<THEORA_M_DECODEFRAME_FN>(PlatGetProcAddress(pModule, "theoralib_m_decodeframe"));
    g_pSource = &TheoraMovie();
    void* h = mCreate();
    mVRev(h, 1);
    if (mLoad(h, const_cast<std::vector<uint8_t>*>(g_pSource), ReadCb, SizeCb, nullptr, RowCb, ResizeCb, 0) != 0) {
        state.SkipWithError("load failed");
        return;
    }
    int n = 0;
    for (auto _ : state) {
        // Frame 0 after the last one starts the decoder again, as a replayed movie does.
        benchmark::DoNotOptimize(mDecode(h, n));
        n = (n + 1) % kTheoraFrames;
    }
    state.SetItemsProcessed(state.iterations());
    mFree(h);
    PlatFreeLibrary(pModule);
    std::free(g_pFrame);
    g_pFrame = nullptr;
}
BENCHMARK(BM_TheoraModuleDecodeAndConvert)->Unit(benchmark::kMillisecond);

// ---- libtheora alone ----

void BM_TheoraBareDecode(benchmark::State& state)
{
    // The stream's packets, split as the module does.
    const std::vector<uint8_t>& file = TheoraMovie();
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* pBuf = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(pBuf, file.data(), file.size());
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    ogg_stream_state os;
    bool bStream = false;
    std::vector<std::vector<uint8_t>> packets;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!bStream) {
            ogg_stream_init(&os, ogg_page_serialno(&page));
            bStream = true;
        }
        if (ogg_stream_pagein(&os, &page) != 0) continue;
        ogg_packet op;
        while (ogg_stream_packetout(&os, &op) == 1) packets.emplace_back(op.packet, op.packet + op.bytes);
    }
    th_info ti;
    th_comment tc;
    th_setup_info* ts = nullptr;
    th_info_init(&ti);
    th_comment_init(&tc);
    size_t i = 0;
    for (; i < packets.size(); ++i) {
        ogg_packet op{};
        op.packet = packets[i].data();
        op.bytes = static_cast<long>(packets[i].size());
        op.b_o_s = i == 0;
        op.granulepos = -1;
        if (th_decode_headerin(&ti, &tc, &ts, &op) <= 0) break;
    }
    const size_t nFirst = i;
    th_dec_ctx* dec = th_decode_alloc(&ti, ts);
    size_t n = nFirst;
    for (auto _ : state) {
        if (n == packets.size()) {
            th_decode_free(dec);
            dec = th_decode_alloc(&ti, ts);
            n = nFirst;
        }
        ogg_packet op{};
        op.packet = packets[n].data();
        op.bytes = static_cast<long>(packets[n].size());
        op.granulepos = -1;
        th_decode_packetin(dec, &op, nullptr);
        th_ycbcr_buffer ycbcr;
        th_decode_ycbcr_out(dec, ycbcr);
        benchmark::DoNotOptimize(ycbcr[0].data);
        ++n;
    }
    state.SetItemsProcessed(state.iterations());
    th_decode_free(dec);
    th_setup_free(ts);
    th_comment_clear(&tc);
    th_info_clear(&ti);
    if (bStream) ogg_stream_clear(&os);
    ogg_sync_clear(&sync);
}
BENCHMARK(BM_TheoraBareDecode)->Unit(benchmark::kMillisecond);

// ---- the conversion alone ----

// The conversion of one 1280 x 720 4:2:0 picture into B,G,R,A rows with each form the processor
// runs (0 plain, 1 SSE2, 2 AVX2, 3 AVX-512), row pairs as the module converts them; the planes and
// the 64-byte aligned destination are those of a whole frame, as after a decode.
void BM_TheoraConvertFrame(benchmark::State& state)
{
    const int nLevel = static_cast<int>(state.range(0));
    if (!TheoraConvertLevelRuns(nLevel)) {
        state.SkipWithError("this processor cannot run the form");
        return;
    }
    std::vector<uint8_t> y(static_cast<size_t>(kW) * kH), cb(y.size() / 4), cr(y.size() / 4);
    uint32_t seed = 1;
    for (auto* v : {&y, &cb, &cr})
        for (uint8_t& b : *v) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    const size_t nBytes = static_cast<size_t>(kW) * kH * 4;
    uint8_t* pOut = static_cast<uint8_t*>(std::aligned_alloc(64, nBytes));
    for (auto _ : state) {
        for (int r = 0; r < kH; r += 2)
            TheoraConvertRowPair(nLevel, y.data() + static_cast<size_t>(r) * kW, y.data() + static_cast<size_t>(r + 1) * kW,
                                 cb.data() + static_cast<size_t>(r / 2) * (kW / 2),
                                 cr.data() + static_cast<size_t>(r / 2) * (kW / 2), 0, kW,
                                 pOut + static_cast<size_t>(r) * kW * 4, pOut + static_cast<size_t>(r + 1) * kW * 4);
        benchmark::DoNotOptimize(pOut);
        benchmark::ClobberMemory();
    }
    state.SetLabel(TheoraConvertLevelName(nLevel));
    state.SetItemsProcessed(state.iterations());
    std::free(pOut);
}
BENCHMARK(BM_TheoraConvertFrame)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// ---- window movie through FFmpeg ----

void BM_WindowMovie720p30(benchmark::State& state)
{
    static const std::vector<uint8_t> s_mpeg = [] {
        MPEG_WRITER_OPTIONS opt;
        opt.nWidth = kW;
        opt.nHeight = kH;
        opt.nFrames = kMpegFrames;
        opt.nBitRate = 4000000;
        opt.pixel = BusyPixel;
        return WriteMpeg1Movie(opt);
    }();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kxbench_movie";
    std::filesystem::create_directories(dir);
    {
        std::ofstream f(dir / "bench.mpg", std::ios::binary);
        f.write(reinterpret_cast<const char*>(s_mpeg.data()), static_cast<std::streamsize>(s_mpeg.size()));
    }
    const std::string strOld = PlatGetCurrentDir();
    PlatSetCurrentDir(dir.string().c_str());
    PlatInitWindowSystem(PLAT_BACKEND_FAKE);
    const PLAT_HWND hwnd = PlatCreateWindow("KxBench", "b", PLAT_WS_POPUP | PLAT_WS_VISIBLE, 0, 0, kW, kH, 0,
                                            PlatDefWindowProc, nullptr);
    PlatMovieSetBackend(PLAT_MOVIE_FFMPEG);
    double dCpu = 0, dWall = 0;
    for (auto _ : state) {
        PLAT_MOVIE_OPEN o{};
        o.hOwner = hwnd;
        o.pszFile = "bench.mpg";
        o.w = kW;
        o.h = kH;
        const std::clock_t c0 = std::clock();
        const uint32_t t0 = PlatGetTime();
        if (PlatMovieOpen(&o) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        // The window thread's part: draw and present each picture as it is handed over.
        while (PlatMovieGetEvent() == PLAT_MOVIE_EVENT_NONE && static_cast<uint32_t>(PlatGetTime() - t0) < 10000) {
            PLAT_MSG m;
            while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) PlatDispatchMessage(&m);
            PlatSleep(2);
        }
        PlatMovieRelease();
        dCpu += static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
        dWall += static_cast<double>(static_cast<uint32_t>(PlatGetTime() - t0)) / 1000.0;
    }
    state.counters["cpu_percent"] = dWall > 0 ? 100.0 * dCpu / dWall : 0.0;
    state.counters["frames_per_run"] = kMpegFrames;
    PlatShutdownWindowSystem();
    PlatSetCurrentDir(strOld.c_str());
}
BENCHMARK(BM_WindowMovie720p30)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
