// opencv_bench.cpp - grayfix's window filters against OpenCV's on the same 4096 x 4096
// images, 8 and 16 bits, in one process: the 3x3 and 5x5 median (cv::medianBlur) and
// soften radius 1 with weights 8/1 (cv::filter2D with that kernel over 16). Prints the
// usual table, then grayfix time / OpenCV time per row (below 1: grayfix is faster).
//
//   apt-get install -y libopencv-dev     (the target exists only when CMake finds OpenCV)
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DGRAYFIX_BENCH=ON
//   cmake --build build-bench -j2 --target opencv_bench && build-bench/bench/opencv_bench
//
// Both run on one thread and CPU times are compared; --opencv_threads=N lets both use N
// threads and compares wall-clock times.
// Border handling differs (grayfix shrinks the window, OpenCV replicates or reflects);
// that changes a few border pixels, not the time.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_images.h"
#include "bench_main.h"
#include "image/image.h"
#include "support/cpu.h"
#include "support/workers.h"
#include "transforms/denoise/denoise.h"
#include "transforms/soften/soften.h"

namespace {

constexpr int Side = BenchSide;
bool WallClock = false;

// The image in grayfix's store (big-endian samples, as a PGM holds them) and as an
// OpenCV matrix of native samples.
struct Images {
    explicit Images(int bpp) : bytes(bpp > 8 ? 2 : 1)
    {
        // The denoise_bench image.
        std::vector<uint16_t> samples = NoisyRampLevels(bpp);
        original = LevelBytes(samples, bytes, true);
        mat = cv::Mat(Side, Side, bytes == 1 ? CV_8UC1 : CV_16UC1);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (bytes == 1)
                mat.data[i] = (unsigned char)samples[i];
            else
                ((uint16_t*)mat.data)[i] = samples[i];
        }
        ImgImageWidth = ImgImageHeight = Side;
        ImgSetDepth(bpp);
        ImgBigEndian = 1;
        ImgData = (unsigned char*)std::malloc(original.size());
    }
    ~Images()
    {
        std::free(ImgData);
        ImgData = nullptr;
    }
    void Restore() { std::memcpy(ImgData, original.data(), original.size()); }
    int bytes;
    std::vector<unsigned char> original;
    cv::Mat mat;
};

enum Filter { Median3, Median5, Soften81 };

void Grayfix(benchmark::State& state, Filter filter, int bpp)
{
    Images images(bpp);
    for (auto _ : state) {
        state.PauseTiming();
        images.Restore();
        state.ResumeTiming();
        if (filter == Soften81)
            ImgTransformSoften(1, 8, 1);
        else
            ImgTransformDenoise(filter == Median3 ? 1 : 2, 0);
        benchmark::ClobberMemory();
    }
}

void OpenCV(benchmark::State& state, Filter filter, int bpp)
{
    Images images(bpp);
    cv::Mat out;
    cv::Mat kernel = (cv::Mat_<float>(3, 3) << 1, 1, 1, 1, 8, 1, 1, 1, 1) / 16.0f;
    for (auto _ : state) {
        if (filter == Soften81)
            cv::filter2D(images.mat, out, -1, kernel);
        else
            cv::medianBlur(images.mat, out, filter == Median3 ? 3 : 5);
        benchmark::DoNotOptimize(out.data);
        benchmark::ClobberMemory();
    }
}

// The usual console table, then one ratio per filter and depth once both are timed.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // Each timing run, or with repetitions the fastest of them.
        for (const Run& run : runs) {
            bool fastest = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            if ((run.run_type != Run::RT_Iteration && !fastest) || run.error_occurred) continue;
            std::string name = run.run_name.str();
            std::size_t slash = name.rfind('/');
            double seconds = WallClock ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            times_[name.substr(0, slash)][name.substr(slash + 1)] = seconds;
        }
    }
    void Finalize() override
    {
        std::ostream& out = GetOutputStream();
        out << "\ngrayfix / OpenCV (" << (WallClock ? "wall-clock" : "CPU") << " time, "
            << SimdPathName() << " path; below 1.00: grayfix is faster)\n";
        for (const auto& [filter, times] : times_) {
            auto g = times.find("grayfix"), o = times.find("opencv");
            if (g == times.end() || o == times.end()) continue;
            char line[160];
            std::snprintf(line, sizeof line, "%-16s %9.2f ms %9.2f ms %7.2fx\n", filter.c_str(),
                          g->second, o->second, g->second / o->second);
            out << line;
        }
        ConsoleReporter::Finalize();
    }
private:
    static const char* SimdPathName()
    {
        SimdPath path = GetPath<SimdPath>();
        return path == SimdAvx512 ? "AVX-512BW" : path == SimdAvx2 ? "AVX2" : "baseline";
    }
    std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace

int main(int argc, char** argv)
{
    int threads = 1;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--opencv_threads=", 17) == 0) {
            threads = std::atoi(argv[i] + 17);
            for (int j = i; j < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            break;
        }
    cv::setNumThreads(threads);
    SetWorkerThreads(threads);
    WallClock = threads != 1;

    const struct { Filter filter; const char* name; } filters[] = {
        {Median3, "median3x3"}, {Median5, "median5x5"}, {Soften81, "soften8/1"}};
    for (int bpp : {8, 16})
        for (const auto& f : filters) {
            std::string prefix = std::string(f.name) + "/" + std::to_string(bpp) + "bit/";
            for (int tool = 0; tool < 2; ++tool) {
                auto* b = benchmark::RegisterBenchmark(
                    (prefix + (tool == 0 ? "grayfix" : "opencv")).c_str(),
                    [filter = f.filter, bpp, tool](benchmark::State& state) {
                        tool == 0 ? Grayfix(state, filter, bpp) : OpenCV(state, filter, bpp);
                    });
                b->Unit(benchmark::kMillisecond);
                if (WallClock) b->UseRealTime();
                // On a shared machine other work only ever adds time: with repetitions,
                // the fastest is the fairest figure.
                b->ComputeStatistics("min", [](const std::vector<double>& times) {
                    return *std::min_element(times.begin(), times.end());
                });
            }
        }

    return RunBenchmarksQuietly<RatioReporter>(argc, argv, benchmark::ConsoleReporter::OO_None);
}
