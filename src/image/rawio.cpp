// rawio.cpp - ReadRaw and WriteImage: pixel bytes in and out, unconverted,
// read and written in one block call each, straight from and into the buffer.
// A failed write never touches an existing output (see fileio.h).

#include "image/rawio.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "driver/console.h"
#include "image/fileio.h"
#include "image/image.h"

// A large pixel buffer is aligned to 2 MiB and marked for transparent huge
// pages: filling 4 KiB pages one fault at a time cost more than the read
// itself (a 32 MiB image took ten times as long to read). The block stays a
// plain allocation that free and realloc accept. Small buffers, as in tests,
// are not worth a 2 MiB alignment.
void* AllocatePixelBuffer(std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t hugePage = std::size_t(2) << 20;
    if (bytes >= 2 * hugePage) {
        std::size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
        void* block = nullptr;
        if (posix_memalign(&block, hugePage, rounded) != 0) return nullptr;
        madvise(block, rounded, MADV_HUGEPAGE);  // only a hint: failure changes nothing
        return block;
    }
#endif
    return std::malloc(bytes);
}

// Ends the read, leaving nothing open or allocated to a caller that survives
// the refusal (the Python module).
[[noreturn]] static void ReadFailed(FILE* file, void* buffer, const char* message, int status)
{
    std::free(buffer);
    std::fclose(file);
    FatalError(message, status);
}

unsigned char* ReadRaw(const char* fileName, int skip, int width, int height, int bytesPerPixel)
{
    FILE* file = OpenInputFile(fileName);
    if (file == nullptr) FatalError("ReadRaw: Cannot open input", ExitInputFile);
    // The byte count must fit in an int; divide first so the guard cannot overflow.
    if (width <= 0 || height <= 0 || bytesPerPixel <= 0 || width > INT_MAX / bytesPerPixel
        || width * bytesPerPixel > INT_MAX / height)
        ReadFailed(file, nullptr, "ReadRaw: Cannot allocate", ExitPixelMemory);
    std::size_t rowSize = (std::size_t)width * (std::size_t)bytesPerPixel;
    auto* buffer = (unsigned char*)AllocatePixelBuffer(rowSize * (std::size_t)height);
    if (buffer == nullptr) ReadFailed(file, nullptr, "ReadRaw: Cannot allocate", ExitPixelMemory);
    std::fseek(file, skip, SEEK_SET);  // a skip past the end shows up as too short
    if (std::fread(buffer, rowSize, (std::size_t)height, file) < (std::size_t)height)
        ReadFailed(file, buffer, "ReadRaw: Input file too short", ExitInputFile);
    if (std::getc(file) != EOF) ReadFailed(file, buffer, "ReadRaw: Input file too long", ExitInputFile);
    std::fclose(file);
    ReleaseInputCopy(fileName);  // a piped input's bytes are in the image now
    return buffer;
}

// Ends the run for a failed output step; the target keeps what it held.
[[noreturn]] static void OutputFailed(OutputFile* output, const char* message)
{
    AbandonOutputFile(output);
    FatalError(message, ExitOutputFile);
}

void WriteImage(const char* fileName, const unsigned char* data, int raw,
                int width, int height, int bytesPerPixel)
{
    OutputFile output;
    if (!OpenOutputFile(fileName, &output))
        FatalError("WriteImage: Error openning output file", ExitOutputFile);
    if (!raw && FPrintMsg(output.file, "P5%c%d %d%c%d%c", '\n', width, height, '\n', ImgLevelMax,
                          '\n') == -1)
        OutputFailed(&output, "WriteImage: Error outputting PPM image");
    std::size_t rowSize = (std::size_t)width * (std::size_t)bytesPerPixel;
    long header = std::ftell(output.file);  // the header is still in the stream's buffer
    if (header >= 0) ReserveOutputFile(&output, (std::size_t)header + rowSize * (std::size_t)height);
    if (std::fwrite(data, rowSize, (std::size_t)height, output.file) < (std::size_t)height)
        OutputFailed(&output, "WriteImage: Error outputting image");
    if (!CommitOutputFile(&output))
        FatalError("WriteImage: Error closing output file", ExitOutputFile);
}
