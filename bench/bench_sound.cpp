// Refilling one half (half a second) of a channel's buffer, the work the sound thread does under the
// engine lock for every playing channel: Ogg Vorbis at 44100 Hz stereo at two qualities, reopened
// and seeked to the start, the middle and near the end of a 20 s file, and PCM WAV, against a plain
// copy of the same half.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/game_config.h"
#include "sound/sound.h"
#include "tools/lib/ogg_writer.h"
#include "tools/lib/wav_writer.h"

namespace {

constexpr long kRate = 44100;
constexpr int64_t kSeconds = 20;

// A channel without an output device holding the file, parsed and ready to fill halves.
SOUND_CHANNEL* LoadChannel(const std::vector<uint8_t>& file, uint8_t bKind)
{
    g_nSoundMode = SNDMODE_ON;
    SOUND_CHANNEL* p = new SOUND_CHANNEL();
    p->nVolume = 256;
    p->bEnabled = 1;
    p->pFileImage = static_cast<uint8_t*>(std::malloc(file.size()));
    std::memcpy(p->pFileImage, file.data(), file.size());
    p->nFileSize = static_cast<int32_t>(file.size());
    p->bSourceKind = bKind;
    if (DecodeChannelSource(p) < 0) {
        ReleaseSoundChannel(p);
        return nullptr;
    }
    return p;
}

const std::vector<uint8_t>& OggFile(int nQuality)
{
    static std::vector<uint8_t> files[2];
    std::vector<uint8_t>& f = files[nQuality == 8 ? 1 : 0];
    if (f.empty()) {
        OGG_WRITER_OPTIONS opt;
        opt.nChannels = 2;
        opt.nRate = kRate;
        opt.fQuality = nQuality / 10.0f;
        opt.llFrames = kRate * kSeconds;
        f = WriteOggVorbis(opt);
    }
    return f;
}

// range(0): quality 3 or 8; range(1): where the half starts, in percent of the length.
void BM_FillOggHalf(benchmark::State& state)
{
    SOUND_CHANNEL* p = LoadChannel(OggFile(int(state.range(0))), SNDSRC_OGG);
    if (!p) {
        state.SkipWithError("Ogg file did not load");
        return;
    }
    const int32_t nMs = int32_t(p->llLength * state.range(1) / 100);
    for (auto _ : state) {
        state.PauseTiming();
        p->nCarryBytes = 0;
        p->llPendingSilence = 0;
        SeekChannel(p, nMs);
        state.ResumeTiming();
        benchmark::DoNotOptimize(FillOggHalf(p));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * (p->dwBufferBytes / 2));
    ReleaseSoundChannel(p);
}
BENCHMARK(BM_FillOggHalf)->Args({3, 0})->Args({3, 50})->Args({3, 95})->Args({8, 0})->Args({8, 50})->Args({8, 95})
    ->Unit(benchmark::kMicrosecond);

void BM_FillWavHalf(benchmark::State& state)
{
    const std::vector<int16_t> samples = MakeSineSamples(size_t(kRate) * 4, 2, kRate, 440.0, 12000);
    WAV_WRITER_OPTIONS opt;
    opt.nChannels = 2;
    opt.nSamplesPerSec = kRate;
    SOUND_CHANNEL* p = LoadChannel(WriteWavSamples(opt, samples.data(), size_t(kRate) * 4), SNDSRC_WAV);
    if (!p) {
        state.SkipWithError("WAV file did not load");
        return;
    }
    for (auto _ : state) {
        p->nCarryBytes = 0;
        SeekChannel(p, 1000);
        benchmark::DoNotOptimize(FillWAVHalf(p));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * (p->dwBufferBytes / 2));
    ReleaseSoundChannel(p);
}
BENCHMARK(BM_FillWavHalf)->Unit(benchmark::kMicrosecond);

// The floor: copying half a second of 44100 Hz stereo 16-bit once.
void BM_CopyHalfBaseline(benchmark::State& state)
{
    std::vector<uint8_t> src(size_t(kRate) * 2, 7), dst(size_t(kRate) * 2);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_CopyHalfBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace
