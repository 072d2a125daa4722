// Decoding a 1920 x 1080 GIF into a layer: a photo-like image (smooth gradients with noise, 256
// colours, the LZW table refilled often) and a flat image of large areas (long strings), each also
// interlaced. Reported in pixels per second, for the decoder and for its plain reference form.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "image/gif_decoder.h"
#include "image/layer.h"
#include "tools/lib/gif_writer.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

std::vector<uint8_t> MakeFile(bool bFlat, bool bInterlace)
{
    std::mt19937 rng(42);
    GIF_WRITER_FILE file;
    file.nScreenWidth = kWidth;
    file.nScreenHeight = kHeight;
    for (int i = 0; i < 256; ++i) {
        file.globalPalette.push_back(uint8_t(i));
        file.globalPalette.push_back(uint8_t(255 - i));
        file.globalPalette.push_back(uint8_t(i / 2));
    }
    GIF_WRITER_FRAME f;
    f.nWidth = kWidth;
    f.nHeight = kHeight;
    f.bInterlace = bInterlace;
    f.indices.resize(size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int v = bFlat ? ((x / 240) * 16 + (y / 270) * 64) : (x + y) / 12 + int(rng() % 9);
            f.indices[size_t(y) * kWidth + x] = uint8_t(v);
        }
    file.frames.push_back(f);
    return WriteGIF(file);
}

void DecodeGIF1080p(benchmark::State& state)
{
    const std::vector<uint8_t> file = MakeFile(state.range(0) != 0, state.range(1) != 0);
    LAYER* pLayer = static_cast<LAYER*>(calloc(1, sizeof(LAYER)));
    for (auto _ : state) {
        if (DecodeGIF(file.data(), file.size(), pLayer, "bench.gif") != 0) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(pLayer->pOwnedPixels);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
    state.counters["file_bytes"] = double(file.size());
    FreeGIFFrames(pLayer);
    free(pLayer->pOwnedPixels);
    free(pLayer);
}
void BM_DecodeGIF1080p(benchmark::State& state) { DecodeGIF1080p(state); }

// The plain decoder (row by row, colour by colour) the fast one is measured against.
void BM_DecodeGIF1080pPlain(benchmark::State& state)
{
    const int bOld = SetGIFPlainDecoder(1);
    DecodeGIF1080p(state);
    SetGIFPlainDecoder(bOld);
}

// Both decoders over the photo and the flat picture, plain and interlaced.
void GifArgs(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"flat", "interlace"})->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_DecodeGIF1080p)->Apply(GifArgs);
BENCHMARK(BM_DecodeGIF1080pPlain)->Apply(GifArgs);

}  // namespace
