// core_bench.cpp - micro-benchmarks of the core: CRC-32 on each path, the
// statistics pass, the pixel accessors in a loop, and the pixel reader and
// writer, on a 4096 x 4096 natural-looking image.
//
//   build/bench/core_bench [--benchmark_filter=Crc]

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench_images.h"
#include "image/image.h"
#include "image/rawio.h"
#include "image/stats.h"
#include "support/crc32.h"

constexpr int Side = BenchSide;

// Puts a copy of the bytes into the image store as a Side x Side image.
static void LoadStore(const std::vector<unsigned char>& bytes, int bpp, bool bigEndian)
{
    std::free(ImgData);
    ImgData = (unsigned char*)std::malloc(bytes.size());
    std::copy(bytes.begin(), bytes.end(), ImgData);
    ImgImageWidth = ImgImageHeight = Side;
    ImgSetDepth(bpp);
    ImgBigEndian = bigEndian ? 1 : 0;
}

static const std::vector<unsigned char>& Image8()
{
    static const auto bytes = LevelBytes(GradientLevels(8), 1, true);
    return bytes;
}
static const std::vector<unsigned char>& Image16(bool bigEndian)
{
    static const auto big = LevelBytes(GradientLevels(16), 2, true),
                      little = LevelBytes(GradientLevels(16), 2, false);
    return bigEndian ? big : little;
}

// ---- CRC-32 ----

// range(0): bytes; range(1): the Crc32Path (0 portable, 1 PCLMULQDQ, 2 VPCLMULQDQ).
static void BM_Crc32(benchmark::State& state, bool swapped)
{
    if (!SetPath((Crc32Path)state.range(1))) {
        state.SkipWithError("this processor lacks the path");
        return;
    }
    const auto& image = Image16(true);
    std::size_t length = (std::size_t)state.range(0);
    for (auto _ : state) {
        uint32_t crc = swapped ? ComputeCRC32Swapped16(image.data(), (int32_t)length)
                               : ComputeCRC32(image.data(), (int32_t)length);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)length);
    SetPath(BestPath<Crc32Path>());
}
BENCHMARK_CAPTURE(BM_Crc32, Bytes, false)
    ->ArgsProduct({{64, 4096, 1 << 20, Side * Side * 2}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Crc32, Swapped16, true)->ArgsProduct({{1 << 20, Side * Side * 2}, {0, 1, 2}});

// ---- Statistics ----

// range(0): bits per pixel; range(1): big-endian storage.
static void BM_PrintImgStats(benchmark::State& state)
{
    int bpp = (int)state.range(0);
    bool bigEndian = state.range(1) != 0;
    LoadStore(bpp > 8 ? Image16(bigEndian) : Image8(), bpp, bigEndian);
    for (auto _ : state) {
        PrintImgStats();
        benchmark::DoNotOptimize(H0);
    }
    state.SetItemsProcessed((int64_t)state.iterations() * Side * Side);
}
BENCHMARK(BM_PrintImgStats)->Args({8, 1})->Args({16, 1})->Args({16, 0})->Unit(benchmark::kMillisecond);

// ---- Pixel accessors in the loops transforms use ----

static void BM_GetPixelSum(benchmark::State& state)
{
    int bpp = (int)state.range(0);
    LoadStore(bpp > 8 ? Image16(true) : Image8(), bpp, true);
    for (auto _ : state) {
        uint64_t sum = 0;
        for (int y = 0; y < ImgImageHeight; ++y)
            for (int x = 0; x < ImgImageWidth; ++x) sum += (uint64_t)GetPixel(x, y);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed((int64_t)state.iterations() * Side * Side);
}
BENCHMARK(BM_GetPixelSum)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

// Read, change and write back every pixel, as an in-place transform does.
static void BM_GetSetPixel(benchmark::State& state)
{
    int bpp = (int)state.range(0);
    LoadStore(bpp > 8 ? Image16(true) : Image8(), bpp, true);
    for (auto _ : state) {
        for (int y = 0; y < ImgImageHeight; ++y)
            for (int x = 0; x < ImgImageWidth; ++x) SetPixel(x, y, ImgLevelMax - GetPixel(x, y));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed((int64_t)state.iterations() * Side * Side);
}
BENCHMARK(BM_GetSetPixel)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

// A 3 x 3 window sum at every interior pixel: nine reads per pixel.
static void BM_GetPixelWindow(benchmark::State& state)
{
    LoadStore(Image8(), 8, true);
    for (auto _ : state) {
        uint64_t total = 0;
        for (int y = 1; y + 1 < ImgImageHeight; ++y)
            for (int x = 1; x + 1 < ImgImageWidth; ++x) {
                int sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) sum += GetPixel(x + dx, y + dy);
                total += (uint64_t)sum;
            }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed((int64_t)state.iterations() * (Side - 2) * (Side - 2));
}
BENCHMARK(BM_GetPixelWindow)->Unit(benchmark::kMillisecond);

// ---- Pixel reader and writer (page cache, no disk) ----

static std::string BenchFile()
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/grayfix_core_bench_" + std::to_string(getpid()) + ".raw";
}

static void BM_ReadRaw(benchmark::State& state)
{
    const auto& bytes = Image16(true);
    std::string name = BenchFile();
    FILE* file = std::fopen(name.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    for (auto _ : state) {
        unsigned char* data = ReadRaw(name.c_str(), 0, Side, Side, 2);
        benchmark::DoNotOptimize(data);
        std::free(data);
    }
    std::remove(name.c_str());
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes.size());
}
BENCHMARK(BM_ReadRaw)->Unit(benchmark::kMillisecond);

static void BM_WriteImage(benchmark::State& state)
{
    LoadStore(Image16(true), 16, true);
    std::string name = BenchFile();
    for (auto _ : state) WriteImage(name.c_str(), ImgData, 0, Side, Side, 2);
    std::remove(name.c_str());
    state.SetBytesProcessed((int64_t)state.iterations() * Side * Side * 2);
}
BENCHMARK(BM_WriteImage)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
