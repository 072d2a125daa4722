// Name hashing and checksums against a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/kx_hash.h"

namespace {

std::vector<unsigned char> MakeBytes(size_t n)
{
    std::vector<unsigned char> v(n);
    uint32_t x = 0x12345678u;
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(x >> 24);
    }
    return v;
}

void BM_MurmurHash2(benchmark::State& state)
{
    const auto data = MakeBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        uint32_t h = MurmurHash2(data.data(), data.size(), 0);
        benchmark::DoNotOptimize(h);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_ComputeCRC32(benchmark::State& state)
{
    const auto data = MakeBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        uint32_t c = ComputeCRC32(data.data(), data.size());
        benchmark::DoNotOptimize(c);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_MemcpyBaseline(benchmark::State& state)
{
    const auto data = MakeBytes(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(data.size());
    for (auto _ : state) {
        memcpy(out.data(), data.data(), data.size());
        benchmark::ClobberMemory();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// 16 bytes: a typical object or file name; 64 KiB: a pack block.
BENCHMARK(BM_MurmurHash2)->Arg(16)->Arg(64 * 1024);
BENCHMARK(BM_ComputeCRC32)->Arg(16)->Arg(64 * 1024);
BENCHMARK(BM_MemcpyBaseline)->Arg(16)->Arg(64 * 1024);

}  // namespace
