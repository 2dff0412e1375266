// fuzz_pgm_read.cpp - fuzz target for reading a PGM P5 file: the header
// reader, the pixel reader and the first statistics on arbitrary bytes, each
// compared with an independent reading of the same bytes.
//
// Input: one control byte (bit 0: samples little-endian), then the file.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "image/image.h"
#include "image/pgm.h"
#include "image/rawio.h"
#include "image/stats.h"

static uint32_t Crc32Ref(uint32_t crc, uint8_t byte)
{
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    return crc;
}

// The statistics of the pixel bytes, computed the plain way, against those of
// PrintImgStats.
static void CompareStats(const uint8_t* pixels, long count, int bytesPerPixel, bool bigEndian,
                         int levelMax, const Outcome& outcome)
{
    static int hist[65536];
    std::memset(hist, 0, sizeof hist);
    uint32_t byteCrc = 0xFFFFFFFFu, beCrc = 0xFFFFFFFFu;
    bool aboveMax = false;
    for (long i = 0; i < count; ++i) {
        int v = pixels[i * bytesPerPixel];
        if (bytesPerPixel == 2) {
            int other = pixels[i * 2 + 1];
            v = bigEndian ? (v << 8 | other) : (other << 8 | v);
            beCrc = Crc32Ref(beCrc, (uint8_t)(v >> 8));
        }
        beCrc = Crc32Ref(beCrc, (uint8_t)v);
        ++hist[v];
        aboveMax |= v > levelMax;
    }
    for (long i = 0; i < count * bytesPerPixel; ++i) byteCrc = Crc32Ref(byteCrc, pixels[i]);
    if (aboveMax) {
        if (!outcome.stopped || outcome.status != ExitCheckFailed || outcome.text != kValueCheck)
            Finding("a sample above maxval %d passed the statistics", levelMax);
        return;
    }
    if (outcome.stopped) Finding("statistics stopped with \"%s\"", outcome.text.c_str());
    int lo = -1, hi = -1, levels = 0, bits = 0;
    double h0 = 0.0, n = (double)count;
    for (int v = 0; v <= levelMax; ++v) {
        if (hist[v] == 0) continue;
        if (lo < 0) lo = v;
        hi = v;
        ++levels;
        bits |= v;
        h0 = h0 - hist[v] * std::log(hist[v] / n) * 1.4426950408889634;
    }
    if (minLevel != lo || maxLevel != hi || numLevels != levels || bitsUsed != bits)
        Finding("statistics min/max/levels/bits %d %d %d %#x, expected %d %d %d %#x", minLevel,
                maxLevel, numLevels, bitsUsed, lo, hi, levels, bits);
    if (ByteCRC32 != ~byteCrc || BigEndianCRC32 != ~beCrc)
        Finding("CRC-32 %08x/%08x, expected %08x/%08x", BigEndianCRC32, ByteCRC32, ~beCrc,
                ~byteCrc);
    if (std::fabs(H0 - h0) > 1e-9 * (1.0 + std::fabs(h0)))
        Finding("H0 %.17g, expected %.17g", H0, h0);
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const bool bigEndian = (data[0] & 1) == 0;
    const uint8_t* file = data + 1;
    const std::size_t fileSize = size - 1;
    static const std::string path = ScratchPath("in.pgm");
    WriteScratch(path, file, fileSize);
    ResetImageStore();
    ImgBigEndian = bigEndian;
    ImgFileName = path.c_str();

    PgmHeaderRef ref = ParsePgmHeaderRef(file, fileSize);
    Outcome header = RunGrayfixCall([] { ReadPgmHeader(ImgFileName); });
    CheckDocumentedStop(header, "ReadPgmHeader");
    if (ref.result == PgmHeaderRef::Bad) {
        if (!header.stopped || header.text != "ReadPgm: Bad pgm header")
            Finding("a bad header was %s", header.stopped ? header.text.c_str() : "accepted");
    } else if (ref.result == PgmHeaderRef::OutOfRange) {
        if (!header.stopped || header.text != kRangeCheckPgm)
            Finding("a header out of range (%lld x %lld, maxval %lld) was %s", ref.width,
                    ref.height, ref.maxval, header.stopped ? header.text.c_str() : "accepted");
    } else {
        if (header.stopped) Finding("a good header was refused: %s", header.text.c_str());
        int bpp = BitsOf(ref.maxval);
        if (ImgImageWidth != ref.width || ImgImageHeight != ref.height
            || ImgLevelMax != ref.maxval || Imgbpp != bpp || ImgBYTEpp != (bpp - 1) / 8 + 1
            || ImgRawSkip != (int)ref.skip)
            Finding("header read as %d x %d maxval %d bpp %d BYTEpp %d skip %d, expected %lld x "
                    "%lld maxval %lld skip %zu",
                    ImgImageWidth, ImgImageHeight, ImgLevelMax, Imgbpp, ImgBYTEpp, ImgRawSkip,
                    ref.width, ref.height, ref.maxval, ref.skip);
    }
    if (header.stopped) {
        ReleaseLeftovers();
        return 0;
    }
    if (ReleaseLeftovers() != 0) Finding("the header reader left a stream or block behind");

    // The pixel reader wants exactly width x height samples after the header.
    long long need = (long long)ImgImageWidth * ImgImageHeight * ImgBYTEpp;
    long long have = (long long)fileSize - ImgRawSkip;
    if (SkipLargeBuffer(need)) return 0;
    Outcome read = RunGrayfixCall(
        [] { ImgData = ReadRaw(ImgFileName, ImgRawSkip, ImgImageWidth, ImgImageHeight, ImgBYTEpp); });
    CheckDocumentedStop(read, "ReadRaw");
    const char* expected = need > 0x7FFFFFFF ? "ReadRaw: Cannot allocate"
                           : have < need     ? "ReadRaw: Input file too short"
                           : have > need     ? "ReadRaw: Input file too long"
                                             : nullptr;
    if (expected != nullptr) {
        if (!read.stopped || read.text != expected)
            Finding("%lld bytes for %lld wanted: %s instead of %s", have, need,
                    read.stopped ? read.text.c_str() : "read", expected);
        ReleaseLeftovers();
        return 0;
    }
    if (read.stopped) Finding("an exact pixel area was refused: %s", read.text.c_str());
    if (std::memcmp(ImgData, file + ImgRawSkip, (std::size_t)need) != 0)
        Finding("the pixel buffer differs from the file's pixel bytes");

    Outcome stats = RunGrayfixCall([] { PrintImgStats(); });
    CheckDocumentedStop(stats, "PrintImgStats");
    CompareStats(file + ImgRawSkip, (long)ImgImageWidth * ImgImageHeight, ImgBYTEpp, bigEndian,
                 ImgLevelMax, stats);
    int left = ReleaseLeftovers();  // the pixel buffer is the caller's to free
    if (!stats.stopped && left != 1) Finding("%d blocks or streams live after the statistics", left);
    return 0;
}
