// denoise.cpp - ImgTransformDenoise: every pixel becomes a value chosen from the sorted
// samples of the square window around it (median, RCRS-1, second extreme, RCRS-2), by
// the engine that suits the radius and the samples (engines.h). Every engine writes its
// results back only once no later window reads the old row, so every window sees the
// image as it was.

#include "transforms/denoise/denoise.h"

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

enum class Engine { Selection, RunningCounts, ColumnCounts };

// Counts for radius 3 and more, where selecting from each gathered window would cost
// more per pixel than the counts' steps; per-column counts for the 1-byte samples they fit.
template <typename T> static Engine ChooseEngine(int radius)
{
    bool counts = Path == DenoiseRunningCounts || Path == DenoiseColumnCounts
               || (Path == DenoiseAuto && radius >= 3);
    if (!counts || !RunningCountsFit()) return Engine::Selection;
    if (sizeof(T) == 1 && Path != DenoiseRunningCounts && ColumnCountsFit(radius))
        return Engine::ColumnCounts;
    return Engine::RunningCounts;
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
    switch (ChooseEngine<T>(radius)) {
    case Engine::Selection: DenoiseBySelection<T>(radius, mode, Path == DenoiseAuto); break;
    case Engine::RunningCounts: DenoiseByRunningCounts<T>(radius, mode); break;
    case Engine::ColumnCounts: DenoiseKernelsForRun().columns(radius, mode); break;
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
