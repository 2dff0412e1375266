// depth_bench.cpp - depth reduction, crop, increase and decorrelation on a
// 4096 x 4096 image, 8 and 16 bits, both byte orders.
//
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DGRAYFIX_BENCH=ON
//   cmake --build build-bench -j2 --target depth_bench && build-bench/bench/depth_bench
//
// Every iteration first restores the input with a memcpy of the same buffer
// and times that copy too, so "xMemcpy" (transform time / copy time, the
// fastest iteration of each) is a ratio measured side by side. "MPix/s" is
// pixels per second of the fastest transform alone. The transforms' messages go to
// /dev/null, the results to the real standard output.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_images.h"
#include "bench_main.h"
#include "image/image.h"
#include "transforms/decorrelate.h"
#include "transforms/increasedepth.h"
#include "transforms/reducedepth.h"

namespace {

constexpr int Side = BenchSide;
using Clock = std::chrono::steady_clock;

// The store's input: intensities of valueBits bits held at depth bpp.
struct Input {
    int bpp;
    bool bigEndian;
    std::vector<unsigned char> bytes;
};

Input MakeInput(int bpp, int valueBits, bool bigEndian)
{
    return {bpp, bigEndian, LevelBytes(GradientLevels(valueBits), bpp > 8 ? 2 : 1, bigEndian)};
}

// A residual image: the forward transform's output, taken once.
Input MakeResiduals(int sourceBpp, bool bigEndian, bool med)
{
    Input source = MakeInput(sourceBpp, sourceBpp, bigEndian);
    ImgImageWidth = ImgImageHeight = Side;
    ImgSetDepth(sourceBpp);
    ImgBigEndian = bigEndian;
    ImgData = (unsigned char*)std::malloc(source.bytes.size());
    std::memcpy(ImgData, source.bytes.data(), source.bytes.size());
    med ? ImgTransformDecorrelateMED() : ImgTransformDecorrelate();
    Input residuals{Imgbpp, bigEndian, std::vector<unsigned char>(ImgData, ImgData + (std::size_t)Side * Side * ImgBYTEpp)};
    std::free(ImgData);
    ImgData = nullptr;
    return residuals;
}

// Times transform on a fresh copy of the input per iteration, next to the
// copy that restores it. The counters take the fastest iteration of each,
// which a busy machine disturbs least.
template <typename Transform>
void Run(benchmark::State& state, const Input& input, Transform transform)
{
    // Room for two bytes per pixel, so a widening realloc keeps the block;
    // touched once here, so no iteration pays for the first page faults.
    ImgData = (unsigned char*)std::malloc((std::size_t)Side * Side * 2);
    std::memset(ImgData, 0, (std::size_t)Side * Side * 2);
    double bestCopy = 1e9, bestTransform = 1e9;
    for (auto _ : state) {
        ImgImageWidth = ImgImageHeight = Side;
        ImgSetDepth(input.bpp);
        ImgBigEndian = input.bigEndian;
        auto start = Clock::now();
        std::memcpy(ImgData, input.bytes.data(), input.bytes.size());
        benchmark::ClobberMemory();
        auto copied = Clock::now();
        transform();
        benchmark::ClobberMemory();
        auto done = Clock::now();
        double seconds = std::chrono::duration<double>(done - copied).count();
        bestCopy = std::min(bestCopy, std::chrono::duration<double>(copied - start).count());
        bestTransform = std::min(bestTransform, seconds);
        state.SetIterationTime(seconds);
    }
    std::free(ImgData);
    ImgData = nullptr;
    state.counters["MPix/s"] = (double)Side * Side / bestTransform / 1e6;
    state.counters["xMemcpy"] = bestTransform / bestCopy;
}

// The inputs, made once each.
const Input& Natural16(bool bigEndian)
{
    static const Input big = MakeInput(16, 16, true), little = MakeInput(16, 16, false);
    return bigEndian ? big : little;
}
const Input& Natural8() { static const Input input = MakeInput(8, 8, true); return input; }
const Input& Natural12() { static const Input input = MakeInput(12, 12, true); return input; }
const Input& Narrow16(bool bigEndian)  // 8-bit intensities held at 16 bits: crops without a change
{
    static const Input big = MakeInput(16, 8, true), little = MakeInput(16, 8, false);
    return bigEndian ? big : little;
}

// The floor: a plain copy of the 16-bit image to another buffer.
void BM_Copy16(benchmark::State& state)
{
    static std::vector<unsigned char> copy((std::size_t)Side * Side * 2);
    Run(state, Natural16(true), [] { std::memcpy(copy.data(), ImgData, copy.size()); });
}

// range(0): 1 for big-endian storage.
void BM_ReduceDepth16To8(benchmark::State& state)
{
    Run(state, Natural16(state.range(0)), [] { ImgTransformReduceDepth(8); });
}
void BM_ReduceDepth16To12(benchmark::State& state)
{
    Run(state, Natural16(state.range(0)), [] { ImgTransformReduceDepth(12); });
}
void BM_ReduceDepth8To4(benchmark::State& state)
{
    Run(state, Natural8(), [] { ImgTransformReduceDepth(4); });
}
void BM_CropDepth16To8(benchmark::State& state)
{
    Run(state, Narrow16(state.range(0)), [] { ImgTransformCropDepth(8, 0); });
}
void BM_CropClipDepth16To8(benchmark::State& state)
{
    Run(state, Natural16(state.range(0)), [] { ImgTransformCropDepth(8, 1); });
}
void BM_CropDepth16To12(benchmark::State& state)
{
    Run(state, Narrow16(state.range(0)), [] { ImgTransformCropDepth(12, 0); });
}
void BM_IncreaseDepth8To16(benchmark::State& state)
{
    bool big = state.range(0) != 0;
    int mode = (int)state.range(1);
    static const Input little = MakeInput(8, 8, false);
    Run(state, big ? Natural8() : little, [mode] { ImgTransformIncreaseDepth(16, mode); });
}
void BM_IncreaseDepth12To16(benchmark::State& state)
{
    int mode = (int)state.range(0);
    Run(state, Natural12(), [mode] { ImgTransformIncreaseDepth(16, mode); });
}

// range(0): source depth (8 or 15); range(1): 1 for MED.
void BM_Decorrelate(benchmark::State& state)
{
    static const Input source8 = MakeInput(8, 8, true), source15 = MakeInput(15, 15, true);
    bool med = state.range(1) != 0;
    Run(state, state.range(0) == 8 ? source8 : source15,
        [med] { med ? ImgTransformDecorrelateMED() : ImgTransformDecorrelate(); });
}
void BM_Correlate(benchmark::State& state)
{
    static const Input average9 = MakeResiduals(8, true, false), med9 = MakeResiduals(8, true, true),
                       average16 = MakeResiduals(15, true, false), med16 = MakeResiduals(15, true, true);
    bool med = state.range(1) != 0;
    const Input& input = state.range(0) == 8 ? (med ? med9 : average9) : (med ? med16 : average16);
    Run(state, input, [med] { med ? ImgTransformCorrelateMED() : ImgTransformCorrelate(); });
}

}  // namespace

BENCHMARK(BM_Copy16)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceDepth16To8)->ArgName("big")->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceDepth16To12)->ArgName("big")->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceDepth8To4)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CropDepth16To8)->ArgName("big")->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CropClipDepth16To8)->ArgName("big")->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CropDepth16To12)->ArgName("big")->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IncreaseDepth8To16)
    ->ArgNames({"big", "mode"})->ArgsProduct({{1, 0}, {0, 1}})->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IncreaseDepth12To16)->ArgName("mode")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decorrelate)
    ->ArgNames({"bpp", "med"})->ArgsProduct({{8, 15}, {0, 1}})->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Correlate)
    ->ArgNames({"bpp", "med"})->ArgsProduct({{8, 15}, {0, 1}})->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return RunBenchmarksQuietly(argc, argv, benchmark::ConsoleReporter::OO_Tabular);
}
