// The pictures of the decode benchmarks: one 1920 x 1080 picture with gradients, some noise and a
// transparent band (neither trivial to compress nor noise), and its files as BMP (32 bits), PNG,
// JPEG (quality 90) and WebP (quality 90), each made once. Shared by kxbench and
// kxbench_decode_fresh.
#pragma once

#include <cstdint>
#include <vector>

enum { BENCH_PICTURE_W = 1920, BENCH_PICTURE_H = 1080 };

const std::vector<uint32_t>& BenchPicture();
const std::vector<uint8_t>& BenchBmpFile();
const std::vector<uint8_t>& BenchPngFile();
const std::vector<uint8_t>& BenchJpegFile();
const std::vector<uint8_t>& BenchWebPFile();
