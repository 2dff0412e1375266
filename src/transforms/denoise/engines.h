// engines.h - the denoise engines behind the entry point (denoise.cpp), each of which
// denoises the whole image in place, allocating what it needs itself. Every sample must
// be proven at most ImgLevelMax and the mode must be 0..3. T is uint8_t for 1-byte
// samples, else uint16_t.
#pragma once

// Direct selection from each gathered window (selection.cpp); with fullWindowKernels,
// the full windows of radius 1 and 2 go through the whole-row kernels of this run's
// vector path (kernels.h).
template <typename T> void DenoiseBySelection(int radius, int mode, bool fullWindowKernels);

// Counts carried from window to window (running_counts.cpp): any radius, for images of
// fewer than 2^32 pixels.
bool RunningCountsFit();
template <typename T> void DenoiseByRunningCounts(int radius, int mode);

// Per-column counts of 1-byte samples (column_counts.h, built per vector path, through
// DenoiseKernelsForRun().columns): for the radii and widths this accepts.
bool ColumnCountsFit(int radius);

// Per-column counts of 2-byte samples (column_counts16.h, built per vector path, through
// DenoiseKernelsForRun().columns16), in vertical strips so that the counts stay within
// about 3 MB at any width: the most output columns a strip may have for this radius (the
// whole width where it fits), or 0 for windows too large for these counts.
long long ColumnCounts16Strip(int radius);

// Medians of 2-byte samples from their order within tiles (tile_ranks.h, built per vector
// path, through DenoiseKernelsForRun().tiles16): the output rows of a band for this
// radius (tile, when positive, the tiles' side), or 0 where its rows would not fit about
// 2.5 MB or the windows are too large for its tiles.
int TileRanksBand(int radius, int tile);
