// denoise.h - Denoise: the rank-order window filter (median, RCRS-1, second extreme,
// RCRS-2).
#pragma once

void ImgTransformDenoise(int radius, int mode);

// qsort comparison of two uint16_t intensities: negative, zero or positive for ascending order.
int CompareIntensities(const void* first, const void* second);

// Which engine handles the windows: by default, for radius 3 and more, medians of 2-byte
// samples from their order within tiles where those fit, else counts (per-column counts
// for 1-byte samples where they fit, and for 2-byte ones from the radius where they gain
// in each mode, else counts carried from window to window), and direct selection (with
// whole-row kernels for full 3x3 and 5x5 windows) below radius 3.
// Tests force one engine for every window to compare them; all give the same image.
enum DenoisePath {
    DenoiseAuto,
    DenoiseSelection,      // every window selected from its gathered samples
    DenoiseRunningCounts,  // every window from counts carried from its neighbour
    DenoiseColumnCounts,   // per-column counts where they apply, else running counts
    DenoiseTileRanks,      // 2-byte medians from their order within tiles where they fit,
                           // else as DenoiseColumnCounts
};
// The test hook, named as the processor paths' (support/cpu.h); always succeeds.
bool SetPath(DenoisePath path);
// With DenoiseColumnCounts, 2-byte samples go in vertical strips of this many output
// columns (at least the radius; 0, the default: as wide as the counts' memory allows), so
// that tests reach the strip borders on small images; with DenoiseTileRanks, tiles of this
// many output columns and rows. False, changing nothing, if negative.
bool SetDenoiseStripWidth(int columns);
