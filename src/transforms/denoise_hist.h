// denoise_hist.h - denoise by a running histogram of the window: each window is its
// neighbour with one column (or row) in and one out, so the work per pixel grows with
// the window side rather than its area.
#pragma once

#include <cstddef>

// Denoises the whole image with the given radius (>= 1) and mode (0..3), from the image
// as it is into ImgData, exactly as sorting every window would. T is uint8_t for 1-byte
// samples, else uint16_t; every sample must be proven at most ImgLevelMax. The caller
// lends its buffers: rows holds at least min(ImgImageHeight, 2 * ry + 2) rows, stride
// samples apart, and buf ry + 1 rows, where ry = min(radius, ImgImageHeight - 1).
template <typename T>
void DenoiseByHistogram(int radius, int mode, T* rows, std::size_t stride, T* buf);
