// Conversion of compressed WAV data to PCM at load: ten seconds of 44.1 kHz stereo per codec, against
// a memcpy of the PCM it produces.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/plat_acm.h"
#include "tools/lib/wav_writer.h"

namespace {

struct ACM_INPUT {
    std::vector<uint8_t> fmt;
    std::vector<uint8_t> body;
    std::vector<uint8_t> dst;
};

// Splits a WAV from the writer into its fmt and data chunks.
ACM_INPUT MakeInput(uint16_t wTag)
{
    WAV_WRITER_OPTIONS opt;
    opt.wFormatTag = wTag;
    opt.nChannels = 2;
    opt.nSamplesPerSec = 44100;
    opt.nBlockAlign = 2048;
    const size_t nFrames = 441000;
    const std::vector<int16_t> s = MakeSineSamples(nFrames, 2, 44100, 440.0, 12000);
    const std::vector<uint8_t> wav = WriteWavSamples(opt, s.data(), nFrames);
    ACM_INPUT in;
    for (size_t at = 12; at + 8 <= wav.size();) {
        const uint32_t n = wav[at + 4] | (wav[at + 5] << 8) | (wav[at + 6] << 16) | (uint32_t(wav[at + 7]) << 24);
        std::vector<uint8_t> chunk(wav.begin() + at + 8, wav.begin() + at + 8 + n);
        if (std::memcmp(&wav[at], "fmt ", 4) == 0)
            in.fmt = chunk;
        else if (std::memcmp(&wav[at], "data", 4) == 0)
            in.body = chunk;
        at += 8 + n + (n & 1);
    }
    size_t nDst = 0;
    PlatAcmConvertSize(in.fmt.data(), in.fmt.size(), in.body.size(), &nDst);
    in.dst.resize(nDst);
    return in;
}

void BM_AcmConvert(benchmark::State& state)
{
    static const uint16_t kTags[4] = {WAVTAG_IMAADPCM, WAVTAG_MSADPCM, WAVTAG_ALAW, WAVTAG_MULAW};
    ACM_INPUT in = MakeInput(kTags[state.range(0)]);
    size_t nProduced = 0;
    for (auto _ : state) {
        PlatAcmConvert(in.fmt.data(), in.fmt.size(), in.body.data(), in.body.size(), in.dst.data(), in.dst.size(),
                       &nProduced);
        benchmark::DoNotOptimize(in.dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(nProduced));
}
BENCHMARK(BM_AcmConvert)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->ArgNames({"tag(ima,ms,alaw,mulaw)"});

void BM_AcmMemcpyBaseline(benchmark::State& state)
{
    std::vector<uint8_t> src(441000 * 4, 1), dst(441000 * 4);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_AcmMemcpyBaseline);

}  // namespace
