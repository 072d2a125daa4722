// Decoding a 1920 x 1080 picture per format through the engine's decoders, next to the plain
// library decode of the same file, and the transparent normal form on its own.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>

#include "bench/image_files.h"
#include "core/codecs.h"
#include "image/image_load.h"
#include "image/layer.h"

namespace {

constexpr int W = BENCH_PICTURE_W, H = BENCH_PICTURE_H;

void EnsureCodecs()
{
    static bool bDone = false;
    if (!bDone) {
        LoadCodecLibraries();
        LoadWebPDLL();
        bDone = true;
    }
}

// The engine's decode as a load does it: the decoder gives the picture in the transparent normal
// form (made row by row where the format has alpha), the picture becomes the layer's, and the one
// it replaces is freed as a load frees it (kept as the spare buffer the next picture of its size is
// decoded into). The plain decodes write into one buffer, too.
template <int (*DECODE)(const uint8_t*, size_t, const char*, DECODED_IMAGE*)>
void RunEngineDecode(benchmark::State& state, const std::vector<uint8_t>& file)
{
    EnsureCodecs();
    LAYER layer{};
    for (auto _ : state) {
        DECODED_IMAGE img;
        if (DECODE(file.data(), file.size(), "bench", &img) != 0) {
            state.SkipWithError("decode failed");
            break;
        }
        SetLayerPixels(&layer, img.pPixels, img.nWidth, img.nHeight);
        benchmark::DoNotOptimize(img.pPixels);
    }
    SetLayerPixels(&layer, nullptr, 0, 0);
    state.SetItemsProcessed(state.iterations() * int64_t(W) * H);
}

void BM_Engine_Bmp32(benchmark::State& s) { RunEngineDecode<DecodeBMPImage>(s, BenchBmpFile()); }
void BM_Engine_Png(benchmark::State& s) { RunEngineDecode<DecodePNGImage>(s, BenchPngFile()); }
void BM_Engine_Jpeg(benchmark::State& s) { RunEngineDecode<DecodeJPEGImage>(s, BenchJpegFile()); }
void BM_Engine_WebP(benchmark::State& s) { RunEngineDecode<DecodeWebPImage>(s, BenchWebPFile()); }

// Plain library decodes of the same files into a B,G,R,A buffer.
void BM_Plain_BmpCopy(benchmark::State& state)
{
    const std::vector<uint8_t>& f = BenchBmpFile();
    std::vector<uint8_t> out(size_t(W) * H * 4);
    const size_t nOff = f[10] | (f[11] << 8) | (f[12] << 16) | (size_t(f[13]) << 24);
    for (auto _ : state) {
        for (int y = 0; y < H; ++y)
            std::memcpy(&out[size_t(y) * W * 4], &f[nOff + size_t(H - 1 - y) * W * 4], size_t(W) * 4);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(W) * H);
}

void BM_Plain_Png(benchmark::State& state)
{
    const std::vector<uint8_t>& f = BenchPngFile();
    std::vector<uint8_t> out(size_t(W) * H * 4);
    for (auto _ : state) {
        png_image img;
        std::memset(&img, 0, sizeof img);
        img.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&img, f.data(), f.size());
        img.format = PNG_FORMAT_BGRA;
        png_image_finish_read(&img, nullptr, out.data(), 0, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(W) * H);
}

void BM_Plain_Jpeg(benchmark::State& state)
{
    const std::vector<uint8_t>& f = BenchJpegFile();
    std::vector<uint8_t> out(size_t(W) * H * 4);
    for (auto _ : state) {
        jpeg_decompress_struct d;
        jpeg_error_mgr err;
        d.err = jpeg_std_error(&err);
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, f.data(), f.size());
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_EXT_BGRA;
        jpeg_start_decompress(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = &out[size_t(d.output_scanline) * W * 4];
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(W) * H);
}

void BM_Plain_WebP(benchmark::State& state)
{
    const std::vector<uint8_t>& f = BenchWebPFile();
    std::vector<uint8_t> out(size_t(W) * H * 4);
    for (auto _ : state) {
        WebPDecodeBGRAInto(f.data(), f.size(), out.data(), out.size(), W * 4);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(W) * H);
}

void BM_NormalizeTransparent(benchmark::State& state)
{
    std::vector<uint32_t> px = BenchPicture();
    for (auto _ : state) {
        NormalizeTransparentBuffer(reinterpret_cast<uint8_t*>(px.data()), px.size());
        benchmark::DoNotOptimize(px.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(W) * H);
}

}  // namespace

BENCHMARK(BM_Engine_Bmp32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plain_BmpCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Engine_Png)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plain_Png)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Engine_Jpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plain_Jpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Engine_WebP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plain_WebP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeTransparent)->Unit(benchmark::kMillisecond);
