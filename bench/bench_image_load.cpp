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
#include <webp/encode.h>

#include "core/codecs.h"
#include "image/image_load.h"
#include "platform/plat_jpeg.h"
#include "tools/lib/bmp_writer.h"

namespace {

enum { W = 1920, H = 1080 };

// A picture with gradients, some noise and a transparent band: neither trivial to compress nor noise.
const std::vector<uint32_t>& Picture()
{
    static std::vector<uint32_t> v = [] {
        std::vector<uint32_t> p(size_t(W) * H);
        uint32_t s = 1;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                s = s * 1664525u + 1013904223u;
                const uint32_t a = (y / 64) % 5 == 0 ? 0 : 0xFF;
                p[size_t(y) * W + x] = (a << 24) | (((x * 255 / W) ^ (s >> 28)) << 16) | ((y * 255 / H) << 8) | ((x + y) & 0xFF);
            }
        return p;
    }();
    return v;
}

const std::vector<uint8_t>& BmpFile()
{
    static std::vector<uint8_t> v = [] {
        BMP_WRITER_OPTIONS opt;
        opt.nBits = 32;
        return WriteBmp(W, H, opt, Picture().data(), nullptr);
    }();
    return v;
}

const std::vector<uint8_t>& PngFile()
{
    static std::vector<uint8_t> v = [] {
        png_image img;
        std::memset(&img, 0, sizeof img);
        img.version = PNG_IMAGE_VERSION;
        img.width = W;
        img.height = H;
        img.format = PNG_FORMAT_BGRA;
        png_alloc_size_t n = 0;
        png_image_write_to_memory(&img, nullptr, &n, 0, Picture().data(), 0, nullptr);
        std::vector<uint8_t> out(n);
        png_image_write_to_memory(&img, out.data(), &n, 0, Picture().data(), 0, nullptr);
        out.resize(n);
        return out;
    }();
    return v;
}

const std::vector<uint8_t>& JpegFile()
{
    static std::vector<uint8_t> v = [] {
        std::vector<uint8_t> out;
        PlatJpegEncode(reinterpret_cast<const uint8_t*>(Picture().data()), W, H, W * 4, 90, &out);
        return out;
    }();
    return v;
}

const std::vector<uint8_t>& WebPFile()
{
    static std::vector<uint8_t> v = [] {
        uint8_t* p = nullptr;
        const size_t n = WebPEncodeBGRA(reinterpret_cast<const uint8_t*>(Picture().data()), W, H, W * 4, 90, &p);
        std::vector<uint8_t> out(p, p + n);
        WebPFree(p);
        return out;
    }();
    return v;
}

void EnsureCodecs()
{
    static bool bDone = false;
    if (!bDone) {
        LoadCodecLibraries();
        LoadWebPDLL();
        bDone = true;
    }
}

// The engine's decode and the transparent normal form, as a load does them.
template <int (*DECODE)(const uint8_t*, size_t, const char*, DECODED_IMAGE*)>
void RunEngineDecode(benchmark::State& state, const std::vector<uint8_t>& file)
{
    EnsureCodecs();
    for (auto _ : state) {
        DECODED_IMAGE img;
        if (DECODE(file.data(), file.size(), "bench", &img) != 0) {
            state.SkipWithError("decode failed");
            break;
        }
        NormalizeTransparentBuffer(img.pPixels, size_t(img.nWidth) * img.nHeight);
        benchmark::DoNotOptimize(img.pPixels);
        std::free(img.pPixels);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(W) * H);
}

void BM_Engine_Bmp32(benchmark::State& s) { RunEngineDecode<DecodeBMPImage>(s, BmpFile()); }
void BM_Engine_Png(benchmark::State& s) { RunEngineDecode<DecodePNGImage>(s, PngFile()); }
void BM_Engine_Jpeg(benchmark::State& s) { RunEngineDecode<DecodeJPEGImage>(s, JpegFile()); }
void BM_Engine_WebP(benchmark::State& s) { RunEngineDecode<DecodeWebPImage>(s, WebPFile()); }

// Plain library decodes of the same files into a B,G,R,A buffer.
void BM_Plain_BmpCopy(benchmark::State& state)
{
    const std::vector<uint8_t>& f = BmpFile();
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
    const std::vector<uint8_t>& f = PngFile();
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
    const std::vector<uint8_t>& f = JpegFile();
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
    const std::vector<uint8_t>& f = WebPFile();
    std::vector<uint8_t> out(size_t(W) * H * 4);
    for (auto _ : state) {
        WebPDecodeBGRAInto(f.data(), f.size(), out.data(), out.size(), W * 4);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(W) * H);
}

void BM_NormalizeTransparent(benchmark::State& state)
{
    std::vector<uint32_t> px = Picture();
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
