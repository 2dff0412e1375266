// rawio.h - the pixel reader (PGM data and RAW files alike) and the image writer.
#pragma once

#include <cstddef>

// A pixel buffer of the given size, or null: large ones aligned to 2 MiB and
// marked for huge pages, every one a block that free and realloc accept.
void* AllocatePixelBuffer(std::size_t bytes);

// Releases a pixel buffer of AllocatePixelBuffer, ReadRaw or MapOrReadRaw
// (null too): the one way to release ImgData, as it may be a mapping.
void ReleasePixelBuffer(void* block);
// True for the buffer of MapOrReadRaw that maps the input file: it must
// never reach free or realloc.
bool IsMappedPixelBuffer(const void* block);

// Reads exactly width*height*bytesPerPixel bytes found at offset skip of the
// file into a new buffer; a file with fewer or more bytes ends the run.
unsigned char* ReadRaw(const char* fileName, int skip, int width, int height, int bytesPerPixel);

// ReadRaw for a run that never changes the pixels: a large regular input is
// mapped copy-on-write instead, unless writing outputName (the output path,
// or "-") could change it. Everything ReadRaw refuses, it refuses alike. If
// the file is cut short while mapped, the run ends with ReadRaw's "Input
// file too short" (status 2) and no hidden output file left behind. Release
// the buffer with ReleasePixelBuffer.
unsigned char* MapOrReadRaw(const char* fileName, int skip, int width, int height,
                            int bytesPerPixel, const char* outputName);

// Writes the image as PGM P5 (header from width, height and ImgLevelMax) or,
// when raw is non-zero, as the pixel bytes alone.
void WriteImage(const char* fileName, const unsigned char* data, int raw,
                int width, int height, int bytesPerPixel);
