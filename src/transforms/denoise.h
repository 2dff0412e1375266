// denoise.h - Denoise: the rank-order window filter (median, RCRS-1, second extreme,
// RCRS-2).
#pragma once

void ImgTransformDenoise(int radius, int mode);

// qsort comparison of two uint16_t intensities: negative, zero or positive for ascending order.
int CompareIntensities(const void* first, const void* second);
