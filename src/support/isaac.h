// isaac.h - the ISAAC 32-bit pseudo-random generator (256-word tables), seeded
// from the image so that the noise transforms are reproducible.
#pragma once

#include <cstdint>

// All arithmetic is modulo 2^32 and every shift is logical: hence unsigned words.
struct IsaacContext {
    uint32_t count;         // results of the current block not yet handed out
    uint32_t results[256];  // the current block; before IsaacInit, the seed words
    uint32_t memory[256];   // internal state
    uint32_t a, b, c;       // accumulator, last result, block counter
};

// With useSeed the 256 seed words are taken from results; otherwise the state
// is built from the golden-ratio constant alone.
void IsaacInit(IsaacContext& context, bool useSeed);

// One generation block: refills all 256 results.
void IsaacGenerate(IsaacContext& context);

// Seeds from the values of at most 1024 pixels spread evenly over the image,
// then initialises. Positions at or past the end of the image read as 0.
void IsaacSeedFromImage(IsaacContext& context);

// The next number. Results go out from index 255 down to 0; inline because
// the noise transforms call it up to three times per pixel.
inline uint32_t IsaacNext(IsaacContext& context)
{
    if (context.count == 0) {
        IsaacGenerate(context);
        context.count = 255;
        return context.results[255];
    }
    return context.results[--context.count];
}
