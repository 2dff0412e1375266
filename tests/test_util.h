// test_util.h - shared test helpers: an image in the store for unit tests,
// image file builders, a scratch directory and end-to-end runs of the binary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "support/cpu.h"
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Puts a fresh width x height image of the given depth into the store
// (ImgData from malloc, as the reader makes it); pixels are row-major and
// default to 0. The description follows the depth rule (ImgLevelMax 2^bpp-1)
// unless levelMax is given.
void MakeTestImage(int width, int height, int bpp, const std::vector<int>& pixels = {},
                   int bigEndian = 1, int levelMax = -1);
void FreeTestImage();
// Every pixel through GetPixel, row-major.
std::vector<int> ImagePixels();

// Sample bytes: 1 byte each, or 2 bytes high byte first (low first if littleEndian).
Bytes SampleBytes(const std::vector<int>& pixels, int bytesPerPixel, bool littleEndian = false);
// A PGM P5 file as the writer makes it: "P5\n<w> <h>\n<maxval>\n" and the samples
// (2 bytes per sample when maxval > 255).
Bytes MakePgm(int width, int height, int maxval, const std::vector<int>& pixels,
              bool littleEndian = false);
Bytes ToBytes(const std::string& text);

// A scratch directory, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Root() const { return path_; }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    void Write(const std::string& name, const Bytes& bytes) const;
    Bytes Read(const std::string& name) const;  // empty when missing
    bool Exists(const std::string& name) const;
private:
    std::string path_;
};

struct RunResult {
    std::string out, err;  // standard output and standard error, captured separately
    int status = -1;       // exit status; -1 when a signal ended the process
    int signal = 0;        // the signal that ended it, if any
};
// Runs the built grayfix with the arguments, in dir as its working directory.
RunResult RunGrayfix(const TempDir& dir, const std::vector<std::string>& args);
// The words that start a built program (the grayfix binary by default): the
// program itself, or after the emulator's words when the build is for another
// processor. The first word may need a PATH search (execvp, posix_spawnp).
std::vector<std::string> ProgramCommand(const std::string& program = GRAYFIX_BIN);
// The same command quoted for sh, ready to take arguments.
std::string ProgramShellCommand(const std::string& program = GRAYFIX_BIN);
// argv for exec: pointers into words, then a null pointer.
std::vector<char*> ArgvOf(std::vector<std::string>& words);

// Limits this process's address space to what it uses now plus bytes, for a
// child that must meet a failed allocation; exits with 2 if the limit cannot
// be set.
void LeaveAddressSpace(std::size_t bytes);

// The names in a directory, sorted: to see that a run left nothing behind.
std::vector<std::string> Listing(const std::string& directory);

struct RunOptions {
    std::string stdinPath;          // standard input from this file (default: inherited)
    int stdinFd = -1;               // or from this descriptor, e.g. a pipe's read end
    int stdoutFd = -1;              // standard output to this descriptor instead of r.out
    std::function<void()> inChild;  // runs in the child just before exec (limits, user)
};
RunOptions Options(int stdinFd = -1, int stdoutFd = -1, std::function<void()> inChild = {});
RunResult RunGrayfixWith(const TempDir& dir, const std::vector<std::string>& args,
                         const RunOptions& options);

// The description block exactly as the tool prints it.
std::string InfoBlock(const char* title, const std::string& fileName, int width, int height,
                      int bytepp, int bpp, int levelMax, int bigEndian, int raw, int skip);
// The statistics block exactly as the tool prints it; bpp is the printed
// "%.12f" text of the (bpp) figure.
std::string StatsBlock(int minLevel, int maxLevel, int numLevels, int bitsUsed, int h0Bits,
                       int h0Bytes, const std::string& bpp, unsigned crcBigEndian,
                       unsigned crcByte);

// The statistics block of these intensities held in bytepp bytes each, computed
// independently of the tool (a map histogram and the byte-wise CRC).
std::string ExpectedStats(const std::vector<int>& pixels, int bytepp, int bigEndian);
// What a run prints before its transform: the input block, the statistics and a line end.
std::string ExpectedInput(const std::string& name, int width, int height, int bigEndian, int raw,
                          int skip, int bpp, int levelMax, const std::vector<int>& pixels);
// What a successful run prints after its transform (raw and skip are the input's).
std::string ExpectedOutput(const std::string& name, int width, int height, int bigEndian, int raw,
                           int skip, int bpp, int levelMax, const std::vector<int>& pixels);
// A failed internal check as the tool reports it: the source position, then the condition.
bool IsCheckStop(const RunResult& run, const std::string& condition);

// Runs one transform switch on a PGM of these pixels (maxval 2^bpp - 1) and checks the
// whole console text, the status and the output file.
void ExpectPgmRun(int width, int height, int bpp, const std::vector<int>& in,
                  const std::string& transform, const std::string& message,
                  const std::vector<int>& out);
// Runs a transform switch that must stop after the input report without writing a file;
// returns the run for the caller to check stderr and the status.
RunResult ExpectStoppedRun(int width, int height, int bpp, const std::vector<int>& in,
                           const std::string& transform);

// The window filters exactly as first defined, on the image in the store. Denoise:
// gather each window through GetPixel, qsort it, apply the mode's rule (modes 2 and 3
// leave a 1x1 image unchanged). Soften: every window position visited with 128-bit sums;
// false (and no pixels) if some window's weightsum is not positive.
std::vector<int> ReferenceDenoise(long long radius, int mode);
bool ReferenceSoften(long long radius, int centerweight, int neighborweight, bool squared,
                     std::vector<int>& result);

// CRC-32 one byte at a time through the classic table, complemented; 0 when empty. The
// swapped form takes the two bytes of every 2-byte sample in swapped order.
uint32_t ReferenceCrc(const unsigned char* data, std::size_t length);
uint32_t ReferenceCrcSwapped16(const unsigned char* data, std::size_t length);

// The random images of the window filter sweeps: few distinct values (ties and plateaus,
// which decide denoise modes 1-3), any value of the depth (sparse counts far apart), or
// values near both ends of the range (the first and last blocks of counts).
enum class Levels { Few, Any, Ends };
// count intensities of depth bpp of that kind; Few draws them from `few` random values.
std::vector<int> RandomLevels(std::mt19937& random, int count, int bpp, Levels kind, int few = 3);

// The name of a SimdPath parameter in test names: Baseline, Avx2, Avx512.
std::string SimdPathName(const ::testing::TestParamInfo<SimdPath>& info);

// A test run once per processor path of one family (support/cpu.h), as its parameter:
// skipped where the processor or the build lacks the path; afterwards the default path
// again, and no image in the store.
template <typename Path> class OnEveryPath : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override
    {
        if (!SetPath(this->GetParam())) GTEST_SKIP() << "this processor lacks the path";
    }
    void TearDown() override
    {
        FreeTestImage();
        SetPath(BestPath<Path>());
    }
};
