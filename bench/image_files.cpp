// The pictures of the decode benchmarks and their files (see image_files.h).
#include "bench/image_files.h"

#include <cstring>

#include <png.h>
#include <webp/encode.h>

#include "platform/plat_jpeg.h"
#include "tools/lib/bmp_writer.h"

namespace {

constexpr int W = BENCH_PICTURE_W, H = BENCH_PICTURE_H;

}  // namespace

const std::vector<uint32_t>& BenchPicture()
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

const std::vector<uint8_t>& BenchBmpFile()
{
    static std::vector<uint8_t> v = [] {
        BMP_WRITER_OPTIONS opt;
        opt.nBits = 32;
        return WriteBmp(W, H, opt, BenchPicture().data(), nullptr);
    }();
    return v;
}

const std::vector<uint8_t>& BenchPngFile()
{
    static std::vector<uint8_t> v = [] {
        png_image img;
        std::memset(&img, 0, sizeof img);
        img.version = PNG_IMAGE_VERSION;
        img.width = W;
        img.height = H;
        img.format = PNG_FORMAT_BGRA;
        png_alloc_size_t n = 0;
        png_image_write_to_memory(&img, nullptr, &n, 0, BenchPicture().data(), 0, nullptr);
        std::vector<uint8_t> out(n);
        png_image_write_to_memory(&img, out.data(), &n, 0, BenchPicture().data(), 0, nullptr);
        out.resize(n);
        return out;
    }();
    return v;
}

const std::vector<uint8_t>& BenchJpegFile()
{
    static std::vector<uint8_t> v = [] {
        std::vector<uint8_t> out;
        PlatJpegEncode(reinterpret_cast<const uint8_t*>(BenchPicture().data()), W, H, W * 4, 90, &out);
        return out;
    }();
    return v;
}

const std::vector<uint8_t>& BenchWebPFile()
{
    static std::vector<uint8_t> v = [] {
        uint8_t* p = nullptr;
        const size_t n = WebPEncodeBGRA(reinterpret_cast<const uint8_t*>(BenchPicture().data()), W, H, W * 4, 90, &p);
        std::vector<uint8_t> out(p, p + n);
        WebPFree(p);
        return out;
    }();
    return v;
}

