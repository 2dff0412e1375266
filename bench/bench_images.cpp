// bench_images.cpp - the benchmarks' input images.

#include "bench_images.h"

#include <cmath>
#include <cstddef>

#include "image/image.h"

std::vector<uint16_t> GradientLevels(int valueBits)
{
    constexpr int Side = BenchSide;
    std::vector<uint16_t> levels((std::size_t)Side * Side);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    double maxval = (double)BppMask[valueBits];
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            double u = (double)x / Side, v = (double)y / Side;
            double value = 0.25 + 0.45 * u + 0.15 * v + 0.03 * std::sin(u * 23.0 + v * 17.0);
            if (u > 0.1 && u < 0.4 && v > 0.55 && v < 0.9) value = 0.12 + 0.05 * std::sin(u * 180.0);
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            value += ((double)(state >> 40) / (double)(1ull << 24) - 0.5) * 0.02;
            levels[(std::size_t)y * Side + x] =
                (uint16_t)std::lround(std::fmin(std::fmax(value, 0.0), 1.0) * maxval);
        }
    return levels;
}

std::vector<uint16_t> NoisyRampLevels(int bpp)
{
    constexpr int Side = BenchSide;
    std::vector<uint16_t> levels((std::size_t)Side * Side);
    uint32_t state = 12345;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        uint32_t ramp = (uint32_t)((i % Side + i / Side) * BppMask[bpp] / (2 * Side));
        levels[i] = (uint16_t)((ramp + (state >> 24) * (BppMask[bpp] >> 7) / 256) & BppMask[bpp]);
    }
    return levels;
}

std::vector<unsigned char> LevelBytes(const std::vector<uint16_t>& levels, int bytes, bool bigEndian)
{
    std::vector<unsigned char> data(levels.size() * (std::size_t)bytes);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        unsigned v = levels[i];
        if (bytes == 1) {
            data[i] = (unsigned char)v;
        } else if (bigEndian) {
            data[2 * i] = (unsigned char)(v >> 8);
            data[2 * i + 1] = (unsigned char)v;
        } else {
            data[2 * i] = (unsigned char)v;
            data[2 * i + 1] = (unsigned char)(v >> 8);
        }
    }
    return data;
}
