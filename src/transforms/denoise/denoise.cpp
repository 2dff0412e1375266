// denoise.cpp - ImgTransformDenoise: every pixel becomes a value chosen from the sorted
// samples of the square window around it (median, RCRS-1, second extreme, RCRS-2), by
// the engine that suits the radius and the samples (engines.h). Every engine writes its
// results back only once no later window reads the old row, so every window sees the
// image as it was.

#include "transforms/denoise/denoise.h"

#include <algorithm>
#include <cstdint>

#include "driver/console.h"
#include "image/image.h"
#include "transforms/denoise/engines.h"
#include "transforms/denoise/kernels.h"
#include "transforms/window_rows.h"

int CompareIntensities(const void* first, const void* second)
{
    return (int)*(const uint16_t*)first - (int)*(const uint16_t*)second;
}

static DenoisePath Path = DenoiseAuto;

bool SetPath(DenoisePath path)
{
    Path = path;
    return true;
}

static int StripWidth = 0;

bool SetDenoiseStripWidth(int columns)
{
    if (columns < 0) return false;
    StripWidth = columns;
    return true;
}

// The tiles' side that a test asks for, or 0 for the engine's own.
static int AskedTileSide() { return Path == DenoiseTileRanks ? StripWidth : 0; }

// The output columns of each strip of the per-column counts of 2-byte samples, or 0 for
// the running counts. The column counts cost the same at every radius, the running counts
// grow with it; where they cross depends on the mode, since the median takes the column
// counts down to the low byte at every pixel and the other rules mostly stop at the high
// byte. CPU time on a 4096 x 4096 noisy 16-bit ramp (busy machine), running counts against
// column counts: median radius 3 0.79 s / 1.33 s, radius 10 1.08 / 1.24, radius 20 1.64 /
// 1.27; RCRS-1 radius 3 1.12 / 0.93; RCRS-2 radius 3 0.60 / 0.90, radius 5 0.67 / 0.76,
// radius 10 0.89 / 0.66. Strips narrower than the window, which would count most columns
// more than twice, stay with the running counts unless a test asks for column counts.
static int Columns16Step(int radius, int mode)
{
    int rx = std::min(radius, ImgImageWidth - 1), ry = std::min(radius, ImgImageHeight - 1);
    long long fit = ColumnCounts16Strip(radius);
    if (fit < std::max(rx, 1)) return 0;
    if (Path == DenoiseColumnCounts || Path == DenoiseTileRanks)
        return (int)(StripWidth > 0 ? std::min<long long>(fit, std::max(StripWidth, rx)) : fit);
    static constexpr int from[4] = {14, 3, 8, 8};  // the least radius per mode
    bool fits = fit >= ImgImageWidth || fit >= 2LL * rx + 1;
    return fits && std::min(rx, ry) >= from[mode] ? (int)fit : 0;
}

enum class Engine { Selection, RunningCounts, ColumnCounts, ColumnCounts16, TileRanks };
struct Choice {
    Engine engine;
    int step = 0;  // ColumnCounts16: output columns a strip
};

// Counts for radius 3 and more, where selecting from each gathered window would cost
// more per pixel than the counts' steps; per-column counts for the 1-byte samples they
// fit, and for 2-byte ones where Columns16Step takes them.
template <typename T> static Choice ChooseEngine(int radius, int mode)
{
    bool counts = Path == DenoiseRunningCounts || Path == DenoiseColumnCounts || Path == DenoiseTileRanks
               || (Path == DenoiseAuto && radius >= 3);
    if (!counts || !RunningCountsFit()) return {Engine::Selection};
    if (Path == DenoiseRunningCounts) return {Engine::RunningCounts};
    if (sizeof(T) == 2 && mode == 0 && (Path == DenoiseTileRanks || Path == DenoiseAuto)
        && TileRanksBand(radius, AskedTileSide()) > 0)
        return {Engine::TileRanks};
    if (sizeof(T) == 1) return {ColumnCountsFit(radius) ? Engine::ColumnCounts : Engine::RunningCounts};
    int step = Columns16Step(radius, mode);
    return step > 0 ? Choice{Engine::ColumnCounts16, step} : Choice{Engine::RunningCounts};
}

template <typename T> static void Denoise(int radius, int mode)
{
    if (!ImgSamplesInRange()) {
        int rx = radius < ImgImageWidth - 1 ? radius : ImgImageWidth - 1;
        int ry = radius < ImgImageHeight - 1 ? radius : ImgImageHeight - 1;
        // The plain algorithm reads the centre once more and judges the mode after the
        // first window.
        ReplayWindowReads(rx, ry, [mode](int x, int y) {
            GetPixel(x, y);
            if (mode < 0 || mode > 3) FatalError("ImgTransformDenoise: bad mode", ExitOutputFile);
        });
    }
    if (mode < 0 || mode > 3) FatalError("ImgTransformDenoise: bad mode", ExitOutputFile);
    Choice choice = ChooseEngine<T>(radius, mode);
    switch (choice.engine) {
    case Engine::Selection: DenoiseBySelection<T>(radius, mode, Path == DenoiseAuto); break;
    case Engine::RunningCounts: DenoiseByRunningCounts<T>(radius, mode); break;
    case Engine::ColumnCounts: DenoiseKernelsForRun().columns(radius, mode); break;
    case Engine::ColumnCounts16: DenoiseKernelsForRun().columns16(radius, mode, choice.step); break;
    case Engine::TileRanks: DenoiseKernelsForRun().tiles16(radius, AskedTileSide()); break;
    }
}

void ImgTransformDenoise(int radius, int mode)
{
    CHECK(radius>0);
    if (ImgBYTEpp == 1)
        Denoise<uint8_t>(radius, mode);
    else
        Denoise<uint16_t>(radius, mode);
    PrintMsg("\nDenoised using radius  %d, mpode  %d", radius, mode);
}
