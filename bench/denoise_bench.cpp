// denoise_bench.cpp - denoise and soften on a 4096 x 4096 image, 8 and 16 bits, with a
// plain copy of the same buffer as the baseline. Reports MPixel/s ("pixels" counter).
//
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DGRAYFIX_BENCH=ON
//   cmake --build build-bench -j2 --target denoise_bench && build-bench/bench/denoise_bench
//
// The transforms print one line per call; that goes to /dev/null, the results to the
// real standard output.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_images.h"
#include "bench_main.h"
#include "image/image.h"
#include "transforms/denoise/denoise.h"
#include "transforms/soften/soften.h"

namespace {

constexpr int Side = BenchSide;

// Puts a fresh copy of the noisy ramp into the store before each timed call (untimed).
class ImageFixture {
public:
    explicit ImageFixture(int bpp) : original_(LevelBytes(NoisyRampLevels(bpp), bpp > 8 ? 2 : 1, true))
    {
        ImgImageWidth = ImgImageHeight = Side;
        ImgSetDepth(bpp);
        ImgBigEndian = 1;
        ImgData = (unsigned char*)std::malloc(original_.size());
    }
    ~ImageFixture() { std::free(ImgData); ImgData = nullptr; }
    void Restore() { std::memcpy(ImgData, original_.data(), original_.size()); }
    std::size_t Bytes() const { return original_.size(); }
private:
    std::vector<unsigned char> original_;
};

void Finish(benchmark::State& state)
{
    state.counters["pixels"] = benchmark::Counter((double)Side * Side,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Copy(benchmark::State& state)
{
    ImageFixture image((int)state.range(0));
    std::vector<unsigned char> copy(image.Bytes());
    image.Restore();
    for (auto _ : state) {
        std::memcpy(copy.data(), ImgData, image.Bytes());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_Denoise(benchmark::State& state)
{
    ImageFixture image((int)state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        image.Restore();
        state.ResumeTiming();
        ImgTransformDenoise((int)state.range(1), (int)state.range(2));
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_Soften(benchmark::State& state)
{
    ImageFixture image((int)state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        image.Restore();
        state.ResumeTiming();
        if (state.range(4))
            ImgTransformSoftenSquared((int)state.range(1), (int)state.range(2), (int)state.range(3));
        else
            ImgTransformSoften((int)state.range(1), (int)state.range(2), (int)state.range(3));
        benchmark::ClobberMemory();
    }
    Finish(state);
}

}  // namespace

BENCHMARK(BM_Copy)->ArgNames({"bpp"})->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Denoise)
    ->ArgNames({"bpp", "radius", "mode"})
    ->ArgsProduct({{8, 16}, {1}, {0, 1, 2, 3}})
    ->ArgsProduct({{8, 16}, {2}, {0, 3}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Soften)
    ->ArgNames({"bpp", "radius", "cw", "nw", "squared"})
    ->Args({8, 1, 8, 1, 0})
    ->Args({16, 1, 8, 1, 0})
    ->Args({8, 1, 8, 1, 1})
    ->Args({8, 5, 1, 1, 0})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return RunBenchmarksQuietly(argc, argv, benchmark::ConsoleReporter::OO_Tabular);
}
