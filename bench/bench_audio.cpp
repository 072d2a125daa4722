// The sound mixer: one SDL-sized block of output with 1, 8 and 32 playing looping buffers, at the
// output rate (straight copy) and at 44100 Hz (interpolated), against a plain copy of the block.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/plat_audio.h"

namespace {

constexpr uint32_t kBlock = 1024;

struct MIX_SCENE {
    PLAT_DS* pDs = nullptr;
    std::vector<PLAT_DS_BUFFER*> apBufs;
};

// A manual device with nVoices one-second stereo 16-bit buffers of noise at nRate, all playing.
MIX_SCENE MakeScene(int nVoices, uint32_t nRate)
{
    MIX_SCENE s;
    PlatDsSetSinkOverride("manual");
    if (PlatDsCreate(&s.pDs) != PLAT_DS_OK) return s;
    PLAT_WAVEFORMATEX w{PLAT_WAVE_FORMAT_PCM, 2, nRate, nRate * 4, 4, 16, 0};
    PLAT_DSBUFFERDESC d{DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_LOCSOFTWARE, nRate * 4,
                        &w};
    uint32_t x = 0x12345678u;
    for (int i = 0; i < nVoices; ++i) {
        PLAT_DS_BUFFER* b = nullptr;
        if (PlatDsCreateBuffer(s.pDs, &d, &b) != PLAT_DS_OK) break;
        void *p1, *p2;
        uint32_t n1, n2;
        if (PlatDsBufferLock(b, 0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER) == PLAT_DS_OK) {
            int16_t* p = (int16_t*)p1;
            for (uint32_t k = 0; k < n1 / 2; ++k) {
                x = x * 1664525u + 1013904223u;
                p[k] = (int16_t)(x >> 20);  // quiet enough that 32 voices rarely clip
            }
            PlatDsBufferUnlock(b, p1, n1, p2, n2);
        }
        PlatDsBufferSetVolume(b, -(i % 4) * 300);
        PlatDsBufferSetPan(b, (i % 5 - 2) * 1000);
        PlatDsBufferPlay(b, DSBPLAY_LOOPING);
        s.apBufs.push_back(b);
    }
    return s;
}

void FreeScene(MIX_SCENE& s)
{
    for (PLAT_DS_BUFFER* b : s.apBufs) PlatDsBufferRelease(b);
    if (s.pDs) PlatDsRelease(s.pDs);
    PlatDsSetSinkOverride(nullptr);
}

void RunMix(benchmark::State& state, uint32_t nRate)
{
    MIX_SCENE s = MakeScene((int)state.range(0), nRate);
    if (!s.pDs || s.apBufs.size() != (size_t)state.range(0)) {
        state.SkipWithError("no device");
        FreeScene(s);
        return;
    }
    std::vector<int16_t> out(kBlock * 2);
    for (auto _ : state) {
        PlatDsMix(s.pDs, out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
    FreeScene(s);
}

void BM_MixUnity(benchmark::State& state) { RunMix(state, 48000); }
void BM_MixResampled44100(benchmark::State& state) { RunMix(state, 44100); }

void BM_MixBaselineMemcpy(benchmark::State& state)
{
    std::vector<int16_t> src(kBlock * 2, 7), dst(kBlock * 2);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size() * sizeof(int16_t));
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

}  // namespace

BENCHMARK(BM_MixUnity)->Arg(1)->Arg(8)->Arg(32);
BENCHMARK(BM_MixResampled44100)->Arg(1)->Arg(8)->Arg(32);
BENCHMARK(BM_MixBaselineMemcpy);
