// stretch.h - the pixel loops of the depth changes, the decorrelation and the Gaussian
// noise: samples straight from the buffer a stretch at a time, whose largest value tells
// whether some accessor check would stop the run in it (only then is the stretch replayed
// through the accessors), and the one description of a depth change.
#pragma once

#include <cstddef>

#include "image/image.h"

// Samples taken at a time. A stretch is read whole before any of it is written, so a
// stretch that would stop the run is still intact for the accessors to replay.
constexpr int Stretch = 2048;

// count samples of the store's layout from p into values; returns the largest (0 for none).
template <int Bytes, bool BigEndian> inline int LoadStretch(const unsigned char* p, int count, int* values)
{
    int largest = 0;
    for (int k = 0; k < count; ++k) {
        values[k] = LoadSample<Bytes, BigEndian>(p + (std::size_t)k * Bytes);
        largest = largest > values[k] ? largest : values[k];
    }
    return largest;
}

// values[0 .. count-1] back into the store's layout from p on; each must fit the sample.
template <int Bytes, bool BigEndian> inline void StoreStretch(unsigned char* p, int count, const int* values)
{
    for (int k = 0; k < count; ++k) StoreSample<Bytes, BigEndian>(p + (std::size_t)k * Bytes, values[k]);
}

// The old and the new description of one depth change, which reads every pixel under the
// old one and writes it under the new.
struct DepthChange {
    int oldBpp, oldLevelMax, oldBYTEpp;
    int newDepth, newLevelMax, newBYTEpp;
    int shift;  // a raise's left shift: newDepth - oldBpp in mode 1, else 0
};

// Pixel i (in row-major order) through GetPixel under the old description.
inline int GetPixelBefore(const DepthChange& d, std::size_t i)
{
    ImgUseDepth(d.oldBpp, d.oldLevelMax, d.oldBYTEpp);
    return GetPixel((int)(i % (std::size_t)ImgImageWidth), (int)(i / (std::size_t)ImgImageWidth));
}

// Pixel i through SetPixel under the new description.
inline void SetPixelAfter(const DepthChange& d, std::size_t i, int value)
{
    ImgUseDepth(d.newDepth, d.newLevelMax, d.newBYTEpp);
    SetPixel((int)(i % (std::size_t)ImgImageWidth), (int)(i / (std::size_t)ImgImageWidth), value);
}
