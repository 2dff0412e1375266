// make_sample.cpp - writes the project's deterministic sample images: a
// natural-looking scene (gradients, hard edges, texture, mild noise) as an
// 8-bit and a 16-bit PGM P5.
//
//   make_sample out8.pgm out16.pgm [width height]

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// The scene at (x, y) as an intensity in 0..1, before noise.
static double Scene(double x, double y)
{
    double value = 0.25 + 0.45 * x + 0.15 * y;                         // lighting gradient
    double dx = x - 0.62, dy = y - 0.40;
    if (dx * dx + dy * dy < 0.06) value = 0.85 - 0.8 * (dx * dx + dy * dy);  // a bright pebble
    if (x > 0.10 && x < 0.40 && y > 0.55 && y < 0.90) value = 0.12;    // a dark slab
    if (y > 0.55 && y < 0.90 && x > 0.10 && x < 0.40)                  // woven texture on it
        value += 0.05 * std::sin(x * 180.0) * std::sin(y * 140.0);
    value += 0.03 * std::sin(x * 23.0 + y * 17.0);                     // broad ripples
    return value;
}

static bool WritePgm(const char* name, int width, int height, int maxval,
                     const std::vector<double>& scene)
{
    FILE* file = std::fopen(name, "wb");
    if (file == nullptr) return false;
    std::fprintf(file, "P5\n%d %d\n%d\n", width, height, maxval);
    uint64_t state = 0x9E3779B97F4A7C15ull;  // fixed seed: the same file on every run
    for (double v : scene) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        double noise = ((double)(state >> 40) / (double)(1ull << 24) - 0.5) * 0.02;
        long level = std::lround((v + noise) * maxval);
        level = level < 0 ? 0 : (level > maxval ? maxval : level);
        if (maxval > 255) std::fputc((int)(level >> 8), file);
        std::fputc((int)(level & 0xFF), file);
    }
    return std::fclose(file) == 0;
}

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: make_sample out8.pgm out16.pgm [width height]\n");
        return 1;
    }
    int width = argc == 5 ? std::atoi(argv[3]) : 512;
    int height = argc == 5 ? std::atoi(argv[4]) : 512;
    if (width <= 0 || height <= 0) return 1;
    std::vector<double> scene((std::size_t)width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            scene[(std::size_t)y * width + x] = Scene((double)x / width, (double)y / height);
    if (!WritePgm(argv[1], width, height, 255, scene) || !WritePgm(argv[2], width, height, 65535, scene)) {
        std::fprintf(stderr, "make_sample: cannot write the images\n");
        return 1;
    }
    return 0;
}
