// bitwise.cpp - ImgTransformNegEndian and ImgTransformXorFile: the byte order of
// 2-byte samples, and XOR with a cyclic stream of big-endian numbers from a file.

#include "transforms/bitwise.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/console.h"
#include "image/fileio.h"
#include "image/image.h"

// Swaps the two bytes of count samples stored in the order BigEndian gives,
// and returns the largest intensity and the OR of all of them, read in that
// order, for the accessors' checks.
template <bool BigEndian>
static void SwapRow(unsigned char* p, int count, int& value, int& pixel)
{
    // Whole 16-bit words, so the loop vectorises; the intensity is the word
    // itself when the stored order is the machine's, else the swapped word.
    constexpr bool native = BigEndian == (std::endian::native == std::endian::big);
    int largest = 0, all = 0;  // locals: byte stores may alias the references
    for (int x = 0; x < count; ++x, p += 2) {
        uint16_t word;
        std::memcpy(&word, p, 2);
        uint16_t swapped = (uint16_t)(word << 8 | word >> 8);
        int v = native ? word : swapped;
        largest = largest > v ? largest : v;
        all |= v;
        std::memcpy(p, &swapped, 2);
    }
    value = largest;
    pixel = all;
}

void ImgTransformNegEndian()
{
    const int oldEndian = ImgBigEndian;
    const int newEndian = oldEndian == 0 ? 1 : 0;
    // Reading a sample in the old order and writing the same intensity in the
    // new one swaps its bytes, so the rows are swapped directly; a 1-byte image
    // keeps its bytes and is only checked. Each row gets the checks the
    // accessors would make on every sample of it.
    const std::size_t rowBytes = (std::size_t)ImgImageWidth * (std::size_t)ImgBYTEpp;
    for (int y = 0; y < ImgImageHeight; ++y) {
        unsigned char* p = ImgData + (std::size_t)y * rowBytes;
        int value = 0;  // the largest intensity of the row
        int pixel = 0;  // all intensities of the row ORed together
        if (ImgBYTEpp == 1) {
            for (int x = 0; x < ImgImageWidth; ++x) {
                value = value > p[x] ? value : p[x];
                pixel |= p[x];
            }
        } else {
            CHECK(ImgBYTEpp == 2);
            if (oldEndian) SwapRow<true>(p, ImgImageWidth, value, pixel);
            else SwapRow<false>(p, ImgImageWidth, value, pixel);
        }
        CHECK(value <= ImgLevelMax && value >= 0);
        CHECK(!(pixel & ~BppMask[Imgbpp]));
    }
    ImgBigEndian = newEndian;
    PrintMsg("\nImage Endianness negated (ImgBigEndian was %d, now is %d)", oldEndian, newEndian);
}

// A file of at most this many bytes is kept in memory after its first pass.
// Reading it again would cost a seek and two reads of the operating system at
// every wrap, which for a file of a few bytes means every few pixels (minutes
// for a 4096 x 4096 image); longer files wrap rarely and are read again.
constexpr std::size_t XorKeepSize = 65536;

void ImgTransformXorFile(const char* xorfname)
{
    FILE* f = OpenInputFile(xorfname);  // a pipe is kept whole, for the wrap
    if (f == nullptr) FatalError("ImgTransformXorFile: Cannot open xorFile", ExitXorFile);
    // A failed first read counts as an empty file (a directory opens on Linux but cannot
    // be read); closed first, so a caller that survives the refusal keeps no open file.
    int next = std::getc(f);
    if (next == EOF) std::fclose(f), FatalError("ImgTransformXorFile: xorFile too short", ExitXorFile);

    unsigned char kept[XorKeepSize];
    kept[0] = (unsigned char)next;
    std::size_t count = 1;   // bytes taken from the file since its start
    std::size_t period = 0;  // the file's length once it is kept, else 0
    std::size_t at = 0;      // the next kept byte
    // The next byte of the cyclic stream: byte 0 follows the last one. getc
    // gives EOF at the end of the file and on a read error alike; both wrap.
    auto nextByte = [&]() -> int {
        if (period != 0) {
            int c = kept[at];
            at = at + 1 == period ? 0 : at + 1;
            return c;
        }
        int c = std::getc(f);
        if (c == EOF) {
            if (count <= XorKeepSize) {  // the whole file is kept: cycle in memory
                period = count;
                at = 1 % period;
                return kept[0];
            }
            std::fseek(f, 0, SEEK_SET);
            c = std::getc(f);
            // A read error leaves the end-of-file indicator clear, so the
            // indicator alone would let EOF (-1) be XORed in: judge the read
            // by its result.
            auto feof = [c](FILE*) { return c == EOF; };
            CHECK(!feof(f));
            count = 0;
        }
        if (count < XorKeepSize) kept[count] = (unsigned char)c;
        ++count;
        return c;
    };

    const int mask = (int)BppMask[Imgbpp];  // bits above the depth are ignored
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            int pixel = GetPixel(x, y);
            CHECK(!(pixel & ~BppMask[Imgbpp]));
            int k = next;  // big-endian, whatever ImgBigEndian says
            if (ImgBYTEpp == 2) k = k * 256 + nextByte();
            SetPixel(x, y, pixel ^ (k & mask));
            next = nextByte();  // read ahead for the next pixel
        }
    std::fclose(f);  // only read from, so a closing error changes nothing
    PrintMsg("\nImage xorred with BigEndian file \"%s\"", xorfname);
}
