// bench_images.h - the benchmarks' input images, BenchSide x BenchSide, made from
// fixed seeds so that every run (and every benchmark that shares one) times the
// same pixels.
#pragma once

#include <cstdint>
#include <vector>

constexpr int BenchSide = 4096;

// A smooth gradient with an edge, texture and mild noise, like the project's
// sample images, with intensities of valueBits bits (core_bench, depth_bench).
std::vector<uint16_t> GradientLevels(int valueBits);

// A smooth ramp with noise, so windows hold both ties and distinct values, with
// intensities of bpp bits (denoise_bench, opencv_bench).
std::vector<uint16_t> NoisyRampLevels(int bpp);

// The levels as the image store holds them: one byte each, or two in the given order.
std::vector<unsigned char> LevelBytes(const std::vector<uint16_t>& levels, int bytes, bool bigEndian);
