// fuzz_support.cpp - scratch files, leftover tracking, the documented stop
// table and the reference PGM header reading shared by the fuzz targets.

#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include <sanitizer/asan_interface.h>

#include "driver/driver.h"
#include "image/image.h"

// --- Leftover tracking ------------------------------------------------------
// The grayfix objects of the fuzz build have their malloc/calloc/realloc/free
// (and posix_memalign/aligned_alloc) and fopen/fdopen/fopencookie/fclose references renamed
// (objcopy) to these functions, so only
// grayfix's own allocations and streams are tracked; libFuzzer's are not.

// Live blocks with their sizes.
static std::unordered_map<void*, std::size_t>& LiveBlocks()
{
    static auto* blocks = new std::unordered_map<void*, std::size_t>;
    return *blocks;
}

static std::unordered_set<FILE*>& LiveStreams()
{
    static auto* streams = new std::unordered_set<FILE*>;
    return *streams;
}

// Large blocks (the statistics' 256 KiB histogram, once or twice per run)
// would be fresh mappings every time, and the page faults would cost more than the
// rest of the run. A few freed ones are kept for the next request of the
// same size, poisoned meanwhile so that a use after free is still caught.
namespace {
struct CachedBlock {
    void* block;
    std::size_t size;
};
constexpr std::size_t kCacheFrom = 64 << 10, kCacheUpTo = 4 << 20;
constexpr int kCacheSlots = 4;
CachedBlock cache[kCacheSlots];

void* TakeCached(std::size_t size)
{
    for (CachedBlock& c : cache)
        if (c.block != nullptr && c.size == size) {
            void* p = c.block;
            c.block = nullptr;
            ASAN_UNPOISON_MEMORY_REGION(p, size);
            return p;
        }
    return nullptr;
}

void Release(void* p, std::size_t size)
{
    if (size >= kCacheFrom && size <= kCacheUpTo)
        for (CachedBlock& c : cache)
            if (c.block == nullptr) {
                ASAN_POISON_MEMORY_REGION(p, size);
                c = {p, size};
                return;
            }
    std::free(p);
}
}  // namespace

extern "C" {
void* GrayfixFuzzMalloc(std::size_t size)
{
    void* p = TakeCached(size);
    if (p == nullptr) p = std::malloc(size);
    if (p != nullptr) LiveBlocks()[p] = size;
    return p;
}

void* GrayfixFuzzCalloc(std::size_t count, std::size_t size)
{
    void* p = nullptr;
    if (size == 0 || count <= SIZE_MAX / size) {
        p = TakeCached(count * size);
        if (p != nullptr) std::memset(p, 0, count * size);
    }
    if (p == nullptr) p = std::calloc(count, size);
    if (p != nullptr) LiveBlocks()[p] = count * size;
    return p;
}

int GrayfixFuzzPosixMemalign(void** block, std::size_t alignment, std::size_t size)
{
    int result = posix_memalign(block, alignment, size);
    if (result == 0) LiveBlocks()[*block] = size;
    return result;
}

void* GrayfixFuzzAlignedAlloc(std::size_t alignment, std::size_t size)
{
    void* p = std::aligned_alloc(alignment, size);
    if (p != nullptr) LiveBlocks()[p] = size;
    return p;
}

void* GrayfixFuzzRealloc(void* old, std::size_t size)
{
    void* p = std::realloc(old, size);
    // A failed realloc keeps the old block; a successful one replaces it.
    if (p != nullptr || size == 0) LiveBlocks().erase(old);
    if (p != nullptr) LiveBlocks()[p] = size;
    return p;
}

void GrayfixFuzzFree(void* p)
{
    if (p == nullptr) return;
    auto it = LiveBlocks().find(p);
    if (it == LiveBlocks().end()) Finding("free of a block grayfix did not allocate (%p)", p);
    std::size_t size = it->second;
    LiveBlocks().erase(it);
    Release(p, size);
}

FILE* GrayfixFuzzFopen(const char* name, const char* mode)
{
    FILE* f = std::fopen(name, mode);
    if (f != nullptr) LiveStreams().insert(f);
    return f;
}

FILE* GrayfixFuzzFdopen(int fd, const char* mode)
{
    FILE* f = fdopen(fd, mode);
    if (f != nullptr) LiveStreams().insert(f);
    return f;
}

FILE* GrayfixFuzzFopencookie(void* cookie, const char* mode, cookie_io_functions_t functions)
{
    FILE* f = fopencookie(cookie, mode, functions);
    if (f != nullptr) LiveStreams().insert(f);
    return f;
}

int GrayfixFuzzFclose(FILE* f)
{
    if (LiveStreams().erase(f) == 0) Finding("fclose of a stream grayfix did not open");
    return std::fclose(f);
}
}

int ReleaseLeftovers()
{
    int count = (int)(LiveBlocks().size() + LiveStreams().size());
    for (auto [p, size] : LiveBlocks()) Release(p, size);
    LiveBlocks().clear();
    for (FILE* f : LiveStreams()) std::fclose(f);
    LiveStreams().clear();
    ImgData = nullptr;
    return count;
}

// --- Process set-up and files -------------------------------------------------

static int reportFd = 2;
static std::string scratchDir;

static void RemoveScratch()
{
    std::error_code ignored;
    std::filesystem::remove_all(scratchDir, ignored);
}

void FuzzInit()
{
    if (!scratchDir.empty()) return;
    SetStopHandler(ThrowGrayfixStop);  // one process tries millions of inputs
    reportFd = dup(2);  // libFuzzer's -close_fd_mask=2 closes standard error later
    int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        dup2(devNull, 1);  // the tool's reports are not looked at
        close(devNull);
    }
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    scratchDir = std::string(base) + "/grayfix-fuzz-" + std::to_string(getpid());
    mkdir(scratchDir.c_str(), 0700);
    if (std::getenv("GRAYFIX_FUZZ_SHOW") == nullptr) std::atexit(RemoveScratch);
}

std::string ScratchPath(const char* name) { return scratchDir + "/" + name; }

void WriteScratch(const std::string& path, const uint8_t* data, std::size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) Finding("cannot write the scratch file %s", path.c_str());
    if (size != 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

long FileSize(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long)st.st_size : -1;
}

void ResetImageStore()
{
    ImgFileName = nullptr;
    ImgImageWidth = ImgImageHeight = ImgBYTEpp = Imgbpp = ImgLevelMax = 0;
    ImgBigEndian = 1;
    ImgRaw = 0;
    ImgRawSkip = 0;
    ImgData = nullptr;
    OutRaw = 0;
}

void Note(const char* format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string line = std::string(text) + "\n";
    if (write(reportFd, line.data(), line.size()) < 0) {}
}

void Finding(const char* format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string line = std::string("\n==grayfix-fuzz== FINDING: ") + text + "\n";
    if (write(reportFd, line.data(), line.size()) < 0) {}
    std::abort();
}

// --- Documented stops -----------------------------------------------------------

namespace {
struct Documented {
    const char* message;
    int status;
};
// Every FatalError message of the tool with its status.
const Documented kDocumented[] = {
    {"no params", 1},
    {"no infile", 1},
    {"No outfile", 1},
    {"Bad switch -i:", 1},
    {"Bad -i:RAW:width:height[:bpp[:skip]]", 1},
    {"Bad switch -t", 1},
    {"Bad -t:soften:radius:centerweight:neighborweight", 1},
    {"Bad -t:softensquared:radius:centerweight:neighborweight", 1},
    {"Bad -t:noise:percent", 1},
    {"Bad -t:addnoise:percent", 1},
    {"Bad -t:spnoise:percent", 1},
    {"Bad -t:wgnoise:deviation", 1},
    {"Bad -t:denoise:radius:mode", 1},
    {"Bad -t:downsize:times", 1},
    {"Bad -t:crop:x0:y0:width:height", 1},
    {"Bad -t:reducedepth:newdepth", 1},
    {"Bad -t:cropdepth:newdepth", 1},
    {"Bad -t:cropclipdepth:newdepth", 1},
    {"Bad -t:increasedepth:newdepth:mode", 1},
    {"Bit depths 1-15 are supported in -t:decorrelate ", 1},
    {"Bit depths 2-16 are supported in -t:correlate ", 1},
    {"Bit depths 1-15 are supported in -t:decorrelatemed ", 1},
    {"Bit depths 2-16 are supported in -t:correlatemed ", 1},
    {"ReadPgm: Cannot open input", 2},
    {"ReadPgm: Bad pgm header", 2},
    {"ReadPgmHeader: Error closing input file", 2},
    {"ReadRaw: Cannot open input", 2},
    {"ReadRaw: Input file too short", 2},
    {"ReadRaw: Input file too long", 2},
    {"ReadRaw: Cannot allocate", 3},
    {"ImgTransformIncreaseDepth: Cannot reallocate", 3},
    {"WriteImage: Error openning output file", 4},
    {"WriteImage: Error outputting PPM image", 4},
    {"WriteImage: Error outputting image", 4},
    {"WriteImage: Error closing output file", 4},
    {"ImgTransformDenoise: bad mode", 4},
    {"ImgTransformXorFile: Cannot open xorFile", 5},
    {"ImgTransformXorFile: xorFile too short", 5},
    {"PrintImgStats: Cannot allocate mem", 6},
    {"ImgTransformCropDepth: pixel value too high", 7},
};

// Conditions that hostile input is documented to reach: the RAW description,
// the header range, intensities above the nominal maximum, the reference
// header of cropdepthlike (negative maxval, maxval 0, 17 bits), a denoise
// radius of 0, a negative or zero window weight sum (zero has no defined
// result, so soften stops on it) and a downsize below one pixel.
// The coordinate checks and the other invariants guard against faulty
// callers and are findings when input reaches them.
const char* const kReachable[] = {
    "ImgImageWidth>0 && ImgImageHeight>0 && Imgbpp>0 && Imgbpp <= 16 && ImgRawSkip >= 0",
    "ImgImageWidth>0 && ImgImageHeight>0 && ImgLevelMax>0 && ImgLevelMax <= 0xFFFF",
    "value <= ImgLevelMax && value >= 0",
    "val>0",
    "depthDiff < Imgbpp",
    "ImgBYTEpp == 2",
    "radius>0",
    "weightsum>=0",
    "weightsum>0",
    "newWidth>0 && newHeight>0",
};
}  // namespace

const char* const kRangeCheckPgm = kReachable[1];
const char* const kRangeCheckRaw = kReachable[0];
const char* const kValueCheck = kReachable[2];

int DocumentedStatus(const std::string& message)
{
    for (const Documented& d : kDocumented)
        if (message == d.message) return d.status;
    return -1;
}

bool ReachableCheck(const std::string& condition)
{
    for (const char* c : kReachable)
        if (condition == c) return true;
    return false;
}

void CheckDocumentedStop(const Outcome& outcome, const char* where)
{
    if (!outcome.stopped) return;
    if (outcome.status == ExitCheckFailed) {
        if (!ReachableCheck(outcome.text))
            Finding("%s: input reached the internal check \"%s\"", where, outcome.text.c_str());
        return;
    }
    int documented = DocumentedStatus(outcome.text);
    if (documented < 0)
        Finding("%s: undocumented message \"%s\" (status %d)", where, outcome.text.c_str(),
                outcome.status);
    if (documented != outcome.status)
        Finding("%s: \"%s\" ended with status %d, documented %d", where, outcome.text.c_str(),
                outcome.status, documented);
}

// --- Reference header reading ------------------------------------------------------

static bool IsSpace6(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

PgmHeaderRef ParsePgmHeaderRef(const uint8_t* d, std::size_t n)
{
    PgmHeaderRef ref;
    std::size_t pos = 2;
    if (n < 2 || d[0] != 'P' || d[1] != '5') return ref;
    long long* fields[3] = {&ref.width, &ref.height, &ref.maxval};
    for (long long* field : fields) {
        // Separator: whitespace and '#' comments up to and including a LF.
        for (;;) {
            while (pos < n && IsSpace6(d[pos])) ++pos;
            if (pos >= n) return ref;
            if (d[pos] != '#') break;
            while (pos < n && d[pos] != '\n') ++pos;
            if (pos >= n) return ref;
            ++pos;
        }
        // "%d": optional sign, at least one digit, value within int.
        bool negative = d[pos] == '-';
        if (d[pos] == '-' || d[pos] == '+') ++pos;
        if (pos >= n || d[pos] < '0' || d[pos] > '9') return ref;
        long long value = 0;
        for (; pos < n && d[pos] >= '0' && d[pos] <= '9'; ++pos) {
            value = value * 10 + (d[pos] - '0');
            if (value > (long long)INT_MAX + 1) return ref;
        }
        if (negative) value = -value;
        if (value > INT_MAX || value < INT_MIN) return ref;
        *field = value;
    }
    // Terminator: one whitespace byte other than CR, or CR LF, read without
    // running into the end of the file.
    if (pos >= n) return ref;
    uint8_t c = d[pos++];
    if (c == '\r') {
        if (pos >= n || d[pos] != '\n') return ref;
        ++pos;
    } else if (!(c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f')) {
        return ref;
    }
    ref.skip = pos;
    bool inRange = ref.width > 0 && ref.height > 0 && ref.maxval > 0 && ref.maxval <= 0xFFFF;
    ref.result = inRange ? PgmHeaderRef::Good : PgmHeaderRef::OutOfRange;
    return ref;
}

int BitsOf(long long maxval)
{
    int bits = 0;
    for (; maxval > 0; maxval >>= 1) ++bits;
    return bits;
}
