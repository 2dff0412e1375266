// isaac.cpp - ISAAC initialisation, generation and seeding from the image.

#include "support/isaac.h"

#include <cstddef>

#include "image/image.h"

// The eight-word mix of the initialisation; the shifts are fixed by the
// reference generator, so its published test vector applies.
static inline void Mix(uint32_t (&w)[8])
{
    w[0] ^= w[1] << 11; w[3] += w[0]; w[1] += w[2];
    w[1] ^= w[2] >> 2;  w[4] += w[1]; w[2] += w[3];
    w[2] ^= w[3] << 8;  w[5] += w[2]; w[3] += w[4];
    w[3] ^= w[4] >> 16; w[6] += w[3]; w[4] += w[5];
    w[4] ^= w[5] << 10; w[7] += w[4]; w[5] += w[6];
    w[5] ^= w[6] >> 4;  w[0] += w[5]; w[6] += w[7];
    w[6] ^= w[7] << 8;  w[1] += w[6]; w[7] += w[0];
    w[7] ^= w[0] >> 9;  w[2] += w[7]; w[0] += w[1];
}

// Adds source[g..g+7] (when given) to the running words, mixes, and stores
// them in memory[g..g+7], for every group of eight.
static void SeedPass(IsaacContext& context, uint32_t (&w)[8], const uint32_t* source)
{
    for (int g = 0; g < 256; g += 8) {
        if (source != nullptr)
            for (int k = 0; k < 8; ++k) w[k] += source[g + k];
        Mix(w);
        for (int k = 0; k < 8; ++k) context.memory[g + k] = w[k];
    }
}

void IsaacInit(IsaacContext& context, bool useSeed)
{
    context.a = context.b = context.c = 0;
    uint32_t w[8];
    for (auto& word : w) word = 0x9e3779b9u;  // the golden ratio
    for (int i = 0; i < 4; ++i) Mix(w);
    if (useSeed) {
        SeedPass(context, w, context.results);
        // The second pass reads what the first stored, so every seed word
        // reaches every memory word.
        SeedPass(context, w, context.memory);
    } else {
        SeedPass(context, w, nullptr);
    }
    IsaacGenerate(context);
    context.count = 256;
}

void IsaacGenerate(IsaacContext& context)
{
    uint32_t* m = context.memory;
    uint32_t a = context.a;
    uint32_t b = context.b + ++context.c;
    for (int i = 0; i < 256; ++i) {
        uint32_t x = m[i];
        switch (i & 3) {
        case 0: a ^= a << 13; break;
        case 1: a ^= a >> 6; break;
        case 2: a ^= a << 2; break;
        default: a ^= a >> 16; break;
        }
        a += m[(i + 128) & 255];  // for i >= 128 already rewritten by this block
        uint32_t y = m[(x >> 2) & 255] + a + b;
        m[i] = y;
        b = m[(y >> 10) & 255] + x;  // may read the m[i] just stored
        context.results[i] = b;
    }
    context.a = a;
    context.b = b;
}

// The pixel at row-major position j; past the end of the image (the last seed
// word of images of 1, 2, 3, 257, 258 or 513 pixels) it reads as 0.
static uint32_t SeedPixel(std::size_t j, std::size_t pixels)
{
    if (j >= pixels) return 0;
    std::size_t width = (std::size_t)ImgImageWidth;
    return (uint32_t)GetPixel((int)(j % width), (int)(j / width));
}

void IsaacSeedFromImage(IsaacContext& context)
{
    std::size_t pixels = (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight;
    CHECK(pixels > 0);
    std::size_t step = (pixels - 1) / 256;
    for (std::size_t k = 0; k < 256; ++k) {
        std::size_t i = k * step;
        // With 16-bit values the upper byte of each later value overlaps the
        // previous one; the XOR keeps both, and bits leaving the top are lost.
        uint32_t w = SeedPixel(i, pixels);
        for (std::size_t t = 1; t < 4; ++t) w = (w << 8) ^ SeedPixel(i + t, pixels);
        context.results[k] = w;
    }
    IsaacInit(context, true);
}
