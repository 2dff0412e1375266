// rawio.cpp - ReadRaw and WriteImage: pixel bytes in and out, unconverted.

#include "image/rawio.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "driver/console.h"
#include "image/image.h"

unsigned char* ReadRaw(const char* fileName, int skip, int width, int height, int bytesPerPixel)
{
    FILE* file = std::fopen(fileName, "rb");
    if (file == nullptr) FatalError("ReadRaw: Cannot open input", ExitInputFile);
    // The byte count must fit in an int; divide first so the guard cannot overflow.
    if (width <= 0 || height <= 0 || bytesPerPixel <= 0 || width > INT_MAX / bytesPerPixel
        || width * bytesPerPixel > INT_MAX / height)
        FatalError("ReadRaw: Cannot allocate", ExitPixelMemory);
    std::size_t rowSize = (std::size_t)width * (std::size_t)bytesPerPixel;
    auto* buffer = (unsigned char*)std::malloc(rowSize * (std::size_t)height);
    if (buffer == nullptr) FatalError("ReadRaw: Cannot allocate", ExitPixelMemory);
    std::fseek(file, skip, SEEK_SET);  // a skip past the end shows up as too short
    if (std::fread(buffer, rowSize, (std::size_t)height, file) < (std::size_t)height)
        FatalError("ReadRaw: Input file too short", ExitInputFile);
    if (std::getc(file) != EOF) FatalError("ReadRaw: Input file too long", ExitInputFile);
    std::fclose(file);
    return buffer;
}

void WriteImage(const char* fileName, const unsigned char* data, int raw,
                int width, int height, int bytesPerPixel)
{
    FILE* file = std::fopen(fileName, "wb");
    if (file == nullptr) FatalError("WriteImage: Error openning output file", ExitOutputFile);
    if (!raw && FPrintMsg(file, "P5%c%d %d%c%d%c", '\n', ImgImageWidth, ImgImageHeight, '\n',
                          ImgLevelMax, '\n') == -1)
        FatalError("WriteImage: Error outputting PPM image", ExitOutputFile);
    std::size_t rowSize = (std::size_t)width * (std::size_t)bytesPerPixel;
    if (std::fwrite(data, rowSize, (std::size_t)height, file) < (std::size_t)height)
        FatalError("WriteImage: Error outputting image", ExitOutputFile);
    if (std::fclose(file) != 0) FatalError("WriteImage: Error closing output file", ExitOutputFile);
}
