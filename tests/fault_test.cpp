// fault_test.cpp - fault injection through the real binary: a full device,
// directories and missing files where files are expected, exhausted address
// space and a header that claims gigabytes. Every case must end with its
// documented message and status, never a signal, and leave no output file.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "test_util.h"

// Address-space limits break AddressSanitizer, which reserves terabytes of
// shadow memory up front; the memory tests run in the plain build only.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace {

std::string Banner(const std::string& message) { return "\ngrayfix ERROR: " + message; }

struct LimitedRun {
    RunResult result;
    long maxRssKb = 0;     // peak resident memory of the run
    double seconds = 0.0;  // wall time
};

std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// RunGrayfix with an optional address-space limit (bytes, 0 for none) set in
// the child before exec, reporting the child's peak memory and time.
LimitedRun RunLimited(const TempDir& dir, const std::vector<std::string>& args,
                      rlim_t addressSpace = 0)
{
    std::string outPath = dir.Root() + ".stdout", errPath = dir.Root() + ".stderr";
    std::vector<std::string> words = ProgramCommand();
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv = ArgvOf(words);
    std::fflush(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || chdir(dir.Root().c_str()) != 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        if (addressSpace != 0) {
            struct rlimit limit = {addressSpace, addressSpace};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    LimitedRun run;
    int wstatus = 0;
    struct rusage usage {};
    wait4(pid, &wstatus, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.maxRssKb = usage.ru_maxrss;
    if (WIFEXITED(wstatus)) run.result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) run.result.signal = WTERMSIG(wstatus);
    run.result.out = Slurp(outPath);
    run.result.err = Slurp(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return run;
}

class FaultTest : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        dir.Write("in.pgm", MakePgm(3, 2, 255, {1, 2, 3, 4, 5, 6}));
        dir.Write("ref.pgm", MakePgm(1, 1, 15, {1}));
        dir.Write("xor.bin", {0x0F});
        mkdir(dir.Path("sub").c_str(), 0755);
    }
    // The refusal: exact banner and message, the status, no signal, and
    // neither the named output nor anything else new in the directory.
    void ExpectRefusal(const std::vector<std::string>& args, const std::string& message,
                       int status)
    {
        SCOPED_TRACE(args.back());
        RunResult r = RunGrayfix(dir, args);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.err, Banner(message));
        EXPECT_FALSE(dir.Exists("out.pgm"));
        EXPECT_TRUE(std::filesystem::is_directory(dir.Path("sub")));
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path("sub")));
    }
};

// /dev/full accepts the open and the buffered writes; the failure shows where
// the data first reaches the device: at the close for a small image, in the
// pixel write for one larger than the stream buffer.
TEST_F(FaultTest, FullDeviceIsTheWritersStatusFour)
{
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    std::vector<int> big(200 * 100, 7);
    dir.Write("big.pgm", MakePgm(200, 100, 65535, big));
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"in.pgm", "/dev/full"}, "WriteImage: Error closing output file"},
        {{"in.pgm", "-o:RAW", "/dev/full"}, "WriteImage: Error closing output file"},
        {{"in.pgm", "-t:negendian", "/dev/full"}, "WriteImage: Error closing output file"},
        {{"big.pgm", "/dev/full"}, "WriteImage: Error outputting image"},
        {{"big.pgm", "-o:RAW", "/dev/full"}, "WriteImage: Error outputting image"},
    };
    for (const auto& c : cases) {
        RunResult r = RunGrayfix(dir, c.args);
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.err, Banner(c.message));
        // Everything up to the output report was printed; "Done" was not.
        EXPECT_NE(r.out.find("\n\tImgFileName:  /dev/full\n"), std::string::npos);
        EXPECT_EQ(r.out.find("Done"), std::string::npos);
    }
}

TEST_F(FaultTest, OutputPathThatCannotBeOpened)
{
    ExpectRefusal({"in.pgm", "sub"}, "WriteImage: Error openning output file", 4);
    ExpectRefusal({"in.pgm", "-o:RAW", "sub/"}, "WriteImage: Error openning output file", 4);
    ExpectRefusal({"in.pgm", ""}, "WriteImage: Error openning output file", 4);
    ExpectRefusal({"in.pgm", "missing/out.pgm"}, "WriteImage: Error openning output file", 4);
}

// A directory opens for reading on Linux but every read fails: each reader
// takes that as the end of its data.
TEST_F(FaultTest, DirectoriesWhereFilesAreRead)
{
    ExpectRefusal({"sub", "out.pgm"}, "ReadPgm: Bad pgm header", 2);
    ExpectRefusal({"-i:RAW:3:2:8", "sub", "out.pgm"}, "ReadRaw: Input file too short", 2);
    ExpectRefusal({"-i:RAW:like:sub", "in.pgm", "out.pgm"}, "ReadPgm: Bad pgm header", 2);
    ExpectRefusal({"in.pgm", "-t:cropdepthlike:sub", "out.pgm"}, "ReadPgm: Bad pgm header", 2);
    ExpectRefusal({"in.pgm", "-t:xorfile:sub", "out.pgm"}, "ImgTransformXorFile: xorFile too short",
                  5);
}

TEST_F(FaultTest, MissingFileForEveryFileTakingSwitch)
{
    ExpectRefusal({"none.pgm", "out.pgm"}, "ReadPgm: Cannot open input", 2);
    ExpectRefusal({"-i:RAW:3:2:8", "none.raw", "out.pgm"}, "ReadRaw: Cannot open input", 2);
    ExpectRefusal({"-i:RAW:like:none.pgm", "in.pgm", "out.pgm"}, "ReadPgm: Cannot open input", 2);
    ExpectRefusal({"in.pgm", "-t:cropdepthlike:none.pgm", "out.pgm"}, "ReadPgm: Cannot open input",
                  2);
    ExpectRefusal({"in.pgm", "-t:xorfile:none.bin", "out.pgm"},
                  "ImgTransformXorFile: Cannot open xorFile", 5);
    ExpectRefusal({"in.pgm", "-t:xorfile:sub/none.bin", "out.pgm"},
                  "ImgTransformXorFile: Cannot open xorFile", 5);
}

// The byte count is refused before anything is allocated or read: at once,
// and without the gigabytes of resident memory that reading would need.
TEST_F(FaultTest, HeaderClaimingGigabytesIsRefusedQuickly)
{
    dir.Write("huge16.pgm", ToBytes("P5\n65535 65535\n65535\n\x01\x02"));
    dir.Write("huge8.pgm", ToBytes("P5 65535 65535 255\n\x01"));
    dir.Write("tiny.raw", {1, 2});
    const std::vector<std::string> cases[] = {
        {"huge16.pgm", "out.pgm"},
        {"huge8.pgm", "out.pgm"},
        {"-i:RAW:65535:65535", "tiny.raw", "out.pgm"},
        {"-i:RAW:like:huge16.pgm", "tiny.raw", "out.pgm"},
        {"-i:RAW:65535:32769:8", "tiny.raw", "out.pgm"},  // 2^31 + 32767 bytes: just too many
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0]);
        LimitedRun run = RunLimited(dir, args);
        EXPECT_EQ(run.result.signal, 0);
        EXPECT_EQ(run.result.status, 3);
        EXPECT_EQ(run.result.err, Banner("ReadRaw: Cannot allocate"));
        EXPECT_LT(run.seconds, 2.0);
        EXPECT_LT(run.maxRssKb, 200 * 1024);
        EXPECT_FALSE(dir.Exists("out.pgm"));
    }
}

// Just within the int byte count the buffer is obtained (only reserved, not
// touched) and the short file is then refused. AddressSanitizer would spend
// seconds on the shadow of 2 GiB.
TEST_F(FaultTest, LargestClaimIsReservedNotTouched)
{
    if (kAddressSanitizer) GTEST_SKIP() << "a 2 GiB buffer under AddressSanitizer";
    dir.Write("tiny.raw", {1, 2});
    LimitedRun run = RunLimited(dir, {"-i:RAW:65535:32767:8", "tiny.raw", "out.pgm"});
    EXPECT_EQ(run.result.signal, 0);
    EXPECT_EQ(run.result.status, 2);
    EXPECT_EQ(run.result.err, Banner("ReadRaw: Input file too short"));
    EXPECT_LT(run.maxRssKb, 200 * 1024);
    EXPECT_FALSE(dir.Exists("out.pgm"));
}

// The address-space limits below are found relative to the smallest one under
// which a plain copy of the image succeeds, so that they hold whatever the
// loader and the C library need.
class FaultMemoryTest : public FaultTest {
protected:
    static constexpr rlim_t kStep = 4096;

    void SetUp() override
    {
        if (kAddressSanitizer) GTEST_SKIP() << "address-space limits break AddressSanitizer";
        if (ProgramCommand().size() > 1)
            GTEST_SKIP() << "under an emulator the limit binds the emulator's own reservations";
        FaultTest::SetUp();
    }

    // Smallest limit (to a page) under which args end with status 0.
    rlim_t SmallestWorkingLimit(const std::vector<std::string>& args)
    {
        rlim_t low = 1 << 20, high = rlim_t(4) << 30;
        EXPECT_EQ(RunLimited(dir, args, high).result.status, 0);
        while (high - low > kStep) {
            rlim_t mid = (low + high) / 2 / kStep * kStep;
            (RunLimited(dir, args, mid).result.status == 0 ? high : low) = mid;
        }
        return high;
    }

    void ExpectStop(const std::vector<std::string>& args, rlim_t limit, const char* message,
                    int status)
    {
        LimitedRun run = RunLimited(dir, args, limit);
        EXPECT_EQ(run.result.signal, 0);
        EXPECT_EQ(run.result.status, status);
        EXPECT_EQ(run.result.err, Banner(message));
        EXPECT_FALSE(dir.Exists(args.back()));
    }
};

// A 16-bit RAW of 8 MiB: half the image below the working limit, the pixel
// buffer fails; less than the 256 KiB histogram below it, the statistics do.
TEST_F(FaultMemoryTest, ReaderAndStatisticsRunOutOfAddressSpace)
{
    const int width = 2048, height = 2048;
    dir.Write("big.raw", Bytes((std::size_t)width * height * 2, 0x01));
    std::vector<std::string> args{"-i:RAW:2048:2048", "big.raw", "-o:RAW", "out.raw"};
    rlim_t works = SmallestWorkingLimit(args);
    std::remove(dir.Path("out.raw").c_str());
    ExpectStop(args, works - 128 * 1024, "PrintImgStats: Cannot allocate mem", 6);
    ExpectStop(args, works - (rlim_t)width * height, "ReadRaw: Cannot allocate", 3);
}

// An 8-bit image of 8 MiB widened to 16 bits needs 8 MiB more in one piece.
TEST_F(FaultMemoryTest, DepthIncreaseRunsOutOfAddressSpace)
{
    const std::size_t bytes = 4096 * 2048;
    dir.Write("big.raw", Bytes(bytes, 0x7F));
    std::vector<std::string> copy{"-i:RAW:4096:2048:8", "big.raw", "-o:RAW", "out.raw"};
    rlim_t works = SmallestWorkingLimit(copy);
    std::remove(dir.Path("out.raw").c_str());
    ExpectStop({"-i:RAW:4096:2048:8", "big.raw", "-t:increasedepth:16:1", "-o:RAW", "out.raw"},
               works + bytes / 2, "ImgTransformIncreaseDepth: Cannot reallocate", 3);
    ExpectStop({"-i:RAW:4096:2048:8", "big.raw", "-t:decorrelate", "-o:RAW", "out.raw"},
               works + bytes / 2, "ImgTransformIncreaseDepth: Cannot reallocate", 3);
}

// Transforms with scratch buffers, given just the memory a plain copy needs:
// whether the scratch fits or not, the run ends in an orderly way (success,
// or the internal-check stop on a failed allocation), never by a signal.
TEST_F(FaultMemoryTest, ScratchBuffersUnderATightLimit)
{
    const int width = 1024, height = 1024;
    std::vector<int> pixels((std::size_t)width * height);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = (int)(i * 2654435761u >> 20) & 4095;
    dir.Write("big.pgm", MakePgm(width, height, 4095, pixels));
    rlim_t works = SmallestWorkingLimit({"big.pgm", "-o:RAW", "out.raw"});
    std::remove(dir.Path("out.raw").c_str());
    const char* transforms[] = {"-t:soften:2:8:1", "-t:softensquared:1:8:1", "-t:denoise:2:3",
                                "-t:decorrelatemed", "-t:noise:50", "-t:wgnoise:3"};
    for (const char* t : transforms) {
        for (rlim_t extra : {rlim_t(0), rlim_t(1) << 20}) {
            SCOPED_TRACE(std::string(t) + " +" + std::to_string(extra));
            LimitedRun run = RunLimited(dir, {"big.pgm", t, "-o:RAW", "out.raw"}, works + extra);
            EXPECT_EQ(run.result.signal, 0);
            const std::string& err = run.result.err;
            if (run.result.status == 0) {
                EXPECT_EQ(err, "");
            } else if (run.result.status == 8) {
                EXPECT_NE(err.find("check failed:"), std::string::npos) << err;
            } else {  // the statistics' or the writer's allocation, if any
                EXPECT_TRUE(run.result.status == 3 || run.result.status == 4
                            || run.result.status == 6) << run.result.status;
                EXPECT_EQ(err.rfind("\ngrayfix ERROR: ", 0), 0u) << err;
            }
            if (run.result.status != 0 && run.result.status != 4) {
                EXPECT_FALSE(dir.Exists("out.raw"));
            }
            std::remove(dir.Path("out.raw").c_str());
        }
    }
}

}  // namespace
