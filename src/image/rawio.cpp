// rawio.cpp - ReadRaw and WriteImage: pixel bytes in and out, unconverted,
// read and written in one block call each, straight from and into the buffer;
// MapOrReadRaw, which maps the input instead where the pixels never change.
// A failed write never touches an existing output (see fileio.h).

#include "image/rawio.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

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

namespace {
// The pixel buffer that is a private mapping of the input file, if any (a run
// holds one image).
struct InputMapping {
    unsigned char* data = nullptr;  // the pixels, inside the mapped pages
    void* pages = nullptr;
    std::size_t length = 0;
    int fd = -1;     // kept open to tell whether the file was cut short
    off_t end = 0;   // the file size the pixels need
} Mapped;
}  // namespace

// Below this a read costs no more than a mapping, whose own system calls
// (checks, signal action, map and unmap) outweigh copying the bytes: the two
// measured even near 64 KiB.
constexpr std::size_t MinimumMappedBytes = std::size_t(128) << 10;

// The pixels of a regular file of exactly the size the reader accepts,
// mapped copy-on-write instead of being copied into zeroed memory; null
// whenever that is not possible or not safe, for the reader to do it as
// ever. Not for standard input, pipes or devices (first checked by name, as
// opening some of them has effects of its own), nor when the output could be
// the input file itself.
static unsigned char* MapPixels(const char* fileName, int skip, std::size_t bytes,
                                const char* outputName)
{
    if (Mapped.data != nullptr || bytes < MinimumMappedBytes || IsStdStream(fileName)
        || std::getenv("GRAYFIX_NO_MMAP") != nullptr)  // compares the two paths in tests
        return nullptr;
    struct stat status;
    if (stat(fileName, &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
    int fd = open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    off_t end = (off_t)skip + (off_t)bytes;
    long page = sysconf(_SC_PAGESIZE);
    if (page <= 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != end
        || OutputMayReachInput(fd, outputName)) {
        close(fd);
        return nullptr;
    }
    // The mapping starts on the page that holds the first pixel byte.
    off_t start = skip / page * page;
    std::size_t length = (std::size_t)(end - start);
    // Faulted in as touched, neighbouring pages at once: MAP_POPULATE on a
    // writable private mapping copies every page, and populating it read-only
    // first measured slower still.
    void* pages = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, start);
    if (pages == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    Mapped = {(unsigned char*)pages + (skip - start), pages, length, fd, end};
    GuardMappedInput(pages, (unsigned char*)pages + length, fd, end, "ReadRaw: Input file too short",
                     ExitInputFile);
    return Mapped.data;
}

bool IsMappedPixelBuffer(const void* block)
{
    return block != nullptr && block == Mapped.data;
}

void ReleasePixelBuffer(void* block)
{
    if (!IsMappedPixelBuffer(block)) {
        std::free(block);
        return;
    }
    UnguardMappedInput();
    munmap(Mapped.pages, Mapped.length);
    close(Mapped.fd);
    Mapped = InputMapping{};
}

// The mapped pixels reach past the end the file has now: a write from them
// failed for that, not for the output.
static bool MappedPixelsCutShort(const void* data)
{
    struct stat status;
    return IsMappedPixelBuffer(data) && fstat(Mapped.fd, &status) == 0 && status.st_size < Mapped.end;
}

// Ends the read, leaving nothing open or allocated to a caller that survives
// the refusal (the Python module).
[[noreturn]] static void ReadFailed(FILE* file, void* buffer, const char* message, int status)
{
    ReleasePixelBuffer(buffer);
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

unsigned char* MapOrReadRaw(const char* fileName, int skip, int width, int height,
                            int bytesPerPixel, const char* outputName)
{
    // Sizes ReadRaw refuses are left to it, with every other refusal.
    if (width > 0 && height > 0 && bytesPerPixel > 0 && width <= INT_MAX / bytesPerPixel
        && width * bytesPerPixel <= INT_MAX / height && skip >= 0) {
        std::size_t bytes = (std::size_t)(width * bytesPerPixel) * (std::size_t)height;
        if (unsigned char* pixels = MapPixels(fileName, skip, bytes, outputName)) return pixels;
    }
    return ReadRaw(fileName, skip, width, height, bytesPerPixel);
}

// Ends the run for a failed output step; the target keeps what it held.
[[noreturn]] static void OutputFailed(OutputFile* output, const unsigned char* data, const char* message)
{
    AbandonOutputFile(output);
    if (MappedPixelsCutShort(data)) FatalError("ReadRaw: Input file too short", ExitInputFile);
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
        OutputFailed(&output, data, "WriteImage: Error outputting PPM image");
    std::size_t rowSize = (std::size_t)width * (std::size_t)bytesPerPixel;
    long header = std::ftell(output.file);  // the header is still in the stream's buffer
    if (header >= 0) ReserveOutputFile(&output, (std::size_t)header + rowSize * (std::size_t)height);
    // A mapped input cut short inside its last page reads as zeros there
    // instead of faulting: the size it has once the bytes are out tells.
    if (std::fwrite(data, rowSize, (std::size_t)height, output.file) < (std::size_t)height
        || MappedPixelsCutShort(data))
        OutputFailed(&output, data, "WriteImage: Error outputting image");
    if (!CommitOutputFile(&output))
        FatalError("WriteImage: Error closing output file", ExitOutputFile);
}
