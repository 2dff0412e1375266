// denoise.h - Denoise: the rank-order window filter (median, RCRS-1, second extreme,
// RCRS-2), and the whole-row pixel access it shares with soften.
#pragma once

#include <cstdint>

void ImgTransformDenoise(int radius, int mode);

// qsort comparison of two uint16_t intensities: negative, zero or positive for ascending order.
int CompareIntensities(const void* first, const void* second);

// Whole-row access for the window filters, which read every row many times. These
// give exactly what GetPixel/SetPixel would, provided ImgSamplesInRange() holds.

// True when ImgBYTEpp is 1 or 2 and no sample exceeds ImgLevelMax, so that GetPixel
// would accept every pixel and direct row reads need no per-pixel check.
bool ImgSamplesInRange();
// Row y unpacked to one value per pixel; T is uint8_t for 1-byte samples, else uint16_t.
template <typename T> void ImgReadRow(int y, T* row);
// Packs row y back. A value above ImgLevelMax goes through SetPixel, whose check stops
// the run exactly as a pixel-by-pixel store would.
template <typename T> void ImgWriteRow(int y, const T* row);
