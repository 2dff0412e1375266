// fuzz_support.h - what both fuzz targets share: a scratch directory, the
// bookkeeping that lets one process survive millions of stopped runs, the
// documented stop table, and a reference reading of the PGM P5 header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/console.h"  // GrayfixStop, which FuzzInit's stop handler throws

// How one call into grayfix ended.
struct Outcome {
    bool stopped = false;  // FatalError or a failed check unwound
    int status = 0;        // the exit status it would have had
    std::string text;      // its message or condition text
};

// Runs fn, turning a grayfix stop into an Outcome. Any other exception is
// left to escape: in the shipped binary it would end in std::terminate.
template <typename Fn>
Outcome RunGrayfixCall(Fn fn)
{
    Outcome outcome;
    try {
        fn();
    } catch (const GrayfixStop& stop) {
        outcome.stopped = true;
        outcome.status = stop.status;
        outcome.text = stop.text;
    }
    return outcome;
}

// Once per process: standard output to /dev/null, the reporting channel
// saved before libFuzzer may close standard error, the scratch directory made
// (and removed at exit, unless GRAYFIX_FUZZ_SHOW is set: then it is kept for
// reproducing a run by hand).
void FuzzInit();
// A file name inside the scratch directory.
std::string ScratchPath(const char* name);
void WriteScratch(const std::string& path, const uint8_t* data, std::size_t size);
long FileSize(const std::string& path);  // -1 when missing

// The image store back to its state at process start.
void ResetImageStore();
// Frees what grayfix still holds (pixel buffer, scratch buffers and streams a
// stop left behind, since the real process simply ends) and returns how many
// allocations and streams were still live.
int ReleaseLeftovers();

// A line on the saved report channel (for reproducing inputs by hand).
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A finding: the text goes to the saved report channel, then abort() so that
// libFuzzer records the input.
[[noreturn]] void Finding(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Pixel buffers the reader may allocate before it finds the file too short
// are skipped above this size: under AddressSanitizer each costs seconds of
// shadow-memory work. The fault tests claim such images instead.
constexpr long long kLargestFuzzedBuffer = 16LL << 20;
inline bool SkipLargeBuffer(long long bytes)
{
    return bytes > kLargestFuzzedBuffer && bytes <= 0x7FFFFFFF;
}

// The status a FatalError message is documented with, or -1 for a message
// that is not in the table.
int DocumentedStatus(const std::string& message);
// A failed-check condition that ordinary input may reach.
bool ReachableCheck(const std::string& condition);
// Findings for any stop that is not a documented one.
void CheckDocumentedStop(const Outcome& outcome, const char* where);

// The PGM P5 header grammar read directly from the bytes, independently of
// the tool's stream-based reader.
struct PgmHeaderRef {
    enum Result { Bad, OutOfRange, Good } result = Bad;
    long long width = 0, height = 0, maxval = 0;
    std::size_t skip = 0;  // offset of the first pixel byte
};
PgmHeaderRef ParsePgmHeaderRef(const uint8_t* data, std::size_t size);
int BitsOf(long long maxval);  // bits needed for 0..maxval

extern const char* const kRangeCheckPgm;  // the header range condition
extern const char* const kRangeCheckRaw;  // the -i:RAW description condition
extern const char* const kValueCheck;     // the accessors' intensity condition
