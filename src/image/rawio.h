// rawio.h - the pixel reader (PGM data and RAW files alike) and the image writer.
#pragma once

#include <cstddef>

// A pixel buffer of the given size, or null: large ones aligned to 2 MiB and
// marked for huge pages, every one a block that free and realloc accept.
void* AllocatePixelBuffer(std::size_t bytes);

// Reads exactly width*height*bytesPerPixel bytes found at offset skip of the
// file into a new buffer; a file with fewer or more bytes ends the run.
unsigned char* ReadRaw(const char* fileName, int skip, int width, int height, int bytesPerPixel);

// Writes the image as PGM P5 (header from width, height and ImgLevelMax) or,
// when raw is non-zero, as the pixel bytes alone.
void WriteImage(const char* fileName, const unsigned char* data, int raw,
                int width, int height, int bytesPerPixel);
