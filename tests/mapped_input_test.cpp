// mapped_input_test.cpp - a run without a transform keeps its pixels as a
// mapping of the input file: the same pixels, reports and output as a read,
// never for an input the run may write over itself, and a file cut short
// under the run ends it as a short file does, leaving no hidden output.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "image/fileio.h"
#include "image/image.h"
#include "image/rawio.h"
#include "image/stats.h"
#include "support/workers.h"
#include "transforms/increasedepth.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

// 400x300 16-bit and 400x400 8-bit: both past the size below which the
// reader does not map.
constexpr int Width = 400, Height = 300, Height8 = 400;
constexpr std::size_t Pixels16 = (std::size_t)Width * Height * 2;

Bytes RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& b : bytes) b = (unsigned char)random();
    return bytes;
}

std::vector<int> RandomPixels(std::size_t count, int maxval, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<int> pixels(count);
    for (auto& p : pixels) p = (int)(random() % (unsigned)(maxval + 1));
    return pixels;
}

Bytes Concat(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Whether MapOrReadRaw maps this 16-bit image, checking the bytes it gives
// against ReadRaw's either way.
bool Maps(const std::string& path, int skip, const char* output)
{
    unsigned char* read = ReadRaw(path.c_str(), skip, Width, Height, 2);
    unsigned char* got = MapOrReadRaw(path.c_str(), skip, Width, Height, 2, output);
    bool mapped = IsMappedPixelBuffer(got);
    EXPECT_EQ(std::memcmp(read, got, Pixels16), 0) << path << " skip " << skip;
    ReleasePixelBuffer(got);
    ReleasePixelBuffer(read);
    EXPECT_FALSE(IsMappedPixelBuffer(got));
    return mapped;
}

}  // namespace

// The header is rarely a page long: the pixels start inside the first page
// mapped, or on its first byte.
TEST(MappedInputTest, MapsALargeRegularFileWithTheBytesOfARead)
{
    TempDir dir;
    for (int skip : {0, 19, 4095, 4096, 4097}) {
        dir.Write("in.raw", Concat(RandomBytes((std::size_t)skip, 1), RandomBytes(Pixels16, skip)));
        EXPECT_TRUE(Maps(dir.Path("in.raw"), skip, "out.pgm")) << "skip " << skip;
    }
}

TEST(MappedInputTest, ReadsWhenMappingWouldNotPayOrTheRunCouldWriteOverTheInput)
{
    TempDir dir;
    Bytes pixels = RandomBytes(Pixels16, 2);
    dir.Write("in.raw", pixels);
    std::string in = dir.Path("in.raw");
    // Small images.
    dir.Write("small.raw", RandomBytes(64 * 64 * 2, 3));
    unsigned char* small = MapOrReadRaw(dir.Path("small.raw").c_str(), 0, 64, 64, 2, "out.pgm");
    EXPECT_FALSE(IsMappedPixelBuffer(small));
    ReleasePixelBuffer(small);
    // The output under its own name, a symbolic link or a hard link.
    fs::create_symlink("in.raw", dir.Path("link.raw"));
    fs::create_hard_link(in, dir.Path("hard.raw"));
    for (const std::string& output : {in, dir.Path("link.raw"), dir.Path("hard.raw")})
        EXPECT_FALSE(Maps(in, 0, output.c_str())) << output;
    EXPECT_TRUE(Maps(in, 0, dir.Path("other.raw").c_str()));
    // A pipe, even one holding the whole image.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_GE(fcntl(ends[1], F_SETPIPE_SZ, (int)Pixels16), (int)Pixels16);
    ASSERT_EQ(write(ends[1], pixels.data(), Pixels16), (ssize_t)Pixels16);
    close(ends[1]);
    std::string piped = "/dev/fd/" + std::to_string(ends[0]);
    unsigned char* data = MapOrReadRaw(piped.c_str(), 0, Width, Height, 2, "out.pgm");
    EXPECT_FALSE(IsMappedPixelBuffer(data));
    EXPECT_EQ(Bytes(data, data + Pixels16), pixels);
    ReleasePixelBuffer(data);
    close(ends[0]);
}

// Reports and messages written into the input (1<>in.raw) would change it under the mapping.
TEST(MappedInputDeathTest, StandardStreamsOnTheInputKeepItRead)
{
    TempDir dir;
    dir.Write("in.raw", RandomBytes(Pixels16, 4));
    std::string in = dir.Path("in.raw");
    for (int fd : {1, 2})
        EXPECT_EXIT(
            {
                int onInput = open(in.c_str(), O_WRONLY);
                if (onInput < 0 || dup2(onInput, fd) < 0) std::exit(3);
                unsigned char* data = MapOrReadRaw(in.c_str(), 0, Width, Height, 2, "out.raw");
                bool mapped = IsMappedPixelBuffer(data);
                ReleasePixelBuffer(data);
                std::exit(mapped);
            },
            ::testing::ExitedWithCode(0), "")
            << "descriptor " << fd;
}

// A size the read refuses is refused alike, never mapped.
TEST(MappedInputDeathTest, SizeMismatchesAreRefusedAsByTheRead)
{
    TempDir dir;
    const auto inputFile = ::testing::ExitedWithCode(2);
    for (std::size_t size : {Pixels16 - 1, Pixels16 + 1, Pixels16 + 4096}) {
        dir.Write("in.raw", RandomBytes(size, 5));
        EXPECT_EXIT(MapOrReadRaw(dir.Path("in.raw").c_str(), 0, Width, Height, 2, "o"), inputFile,
                    size < Pixels16 ? "^\ngrayfix ERROR: ReadRaw: Input file too short$"
                                    : "^\ngrayfix ERROR: ReadRaw: Input file too long$");
    }
    dir.Write("in.raw", RandomBytes(Pixels16 + 7, 6));
    EXPECT_EXIT(MapOrReadRaw(dir.Path("in.raw").c_str(), 8, Width, Height, 2, "o"), inputFile,
                "^\ngrayfix ERROR: ReadRaw: Input file too short$");
    EXPECT_EXIT(MapOrReadRaw(dir.Path("in.raw").c_str(), (int)Pixels16 + 100, Width, Height, 2, "o"),
                inputFile, "^\ngrayfix ERROR: ReadRaw: Input file too short$");
}

// Another process truncates the input while the run uses it: to nothing, to
// half (whole pages gone), or by one byte (its last page stays, reading as
// zeros). Whether the statistics or the write meet it first, the run ends
// with the short file's message and status, the output path keeps what it
// held, and no hidden file stays.
class CutShortUnderTheRunDeathTest : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {};

TEST_P(CutShortUnderTheRunDeathTest, EndsAsAShortFileAndLeavesNoHiddenOutput)
{
    auto [cut, scanFirst] = GetParam();
    TempDir dir;
    const int skip = 19;
    dir.Write("in.raw", Concat(RandomBytes(skip, 7), RandomBytes(Pixels16, 8)));
    dir.Write("out.pgm", ToBytes("old"));
    std::string in = dir.Path("in.raw"), out = dir.Path("out.pgm");
    EXPECT_EXIT(
        {
            unsigned char* data = MapOrReadRaw(in.c_str(), skip, Width, Height, 2, out.c_str());
            if (!IsMappedPixelBuffer(data) || truncate(in.c_str(), (off_t)(skip + Pixels16 - cut)) != 0)
                std::exit(9);
            if (scanFirst) {
                OutputFile output;  // the hidden file of a write under way
                if (!OpenOutputFile(out.c_str(), &output)) std::exit(10);
                unsigned sum = 0;
                for (std::size_t i = 0; i < Pixels16; ++i) sum += ((volatile unsigned char*)data)[i];
                if (sum == 1) std::exit(11);
                AbandonOutputFile(&output);
            }
            ImgLevelMax = 65535;
            WriteImage(out.c_str(), data, 0, Width, Height, 2);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "^\ngrayfix ERROR: ReadRaw: Input file too short$");
    EXPECT_EQ(Listing(dir.Root()), (std::vector<std::string>{"in.raw", "out.pgm"}));
    EXPECT_EQ(dir.Read("out.pgm"), ToBytes("old"));
}

INSTANTIATE_TEST_SUITE_P(Cuts, CutShortUnderTheRunDeathTest,
                         ::testing::Combine(::testing::Values(Pixels16 + 19, Pixels16 / 2, 1),
                                            ::testing::Bool()));

// Threads that meet the cut at once (the statistics of a large image run in parts)
// report it once between them: the first to meet it, while the others wait for its end.
TEST(MappedInputDeathTest, ThreadsMeetingTheCutReportItOnce)
{
    TempDir dir;
    dir.Write("in.raw", RandomBytes(Pixels16, 9));
    std::string in = dir.Path("in.raw"), out = dir.Path("out.pgm");
    for (int run = 0; run < 10; ++run)
        EXPECT_EXIT(
            {
                unsigned char* data = MapOrReadRaw(in.c_str(), 0, Width, Height, 2, out.c_str());
                if (!IsMappedPixelBuffer(data) || truncate(in.c_str(), 0) != 0) std::exit(9);
                OutputFile output;
                if (!OpenOutputFile(out.c_str(), &output)) std::exit(10);
                ImgData = data;
                ImgImageWidth = Width;
                ImgImageHeight = Height;
                ImgBYTEpp = 2;
                ImgLevelMax = 65535;
                SetWorkerThreads(4);
                PrintImgStats();
                std::exit(0);
            },
            ::testing::ExitedWithCode(2), "^\ngrayfix ERROR: ReadRaw: Input file too short$");
    EXPECT_EQ(Listing(dir.Root()), std::vector<std::string>{"in.raw"});
}

// A bus error with the input whole is not the input's: it ends the process
// as before (by the signal, or in a sanitizer's report). With the input cut
// short it is, whatever address comes with it.
TEST(MappedInputDeathTest, OnlyABusErrorOfTheInputEndsTheRunOrderly)
{
    TempDir dir;
    dir.Write("in.raw", RandomBytes(Pixels16, 10));
    std::string in = dir.Path("in.raw");
    auto raiseAfter = [&in](off_t size) {
        struct rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        unsigned char* data = MapOrReadRaw(in.c_str(), 0, Width, Height, 2, "out.raw");
        if (!IsMappedPixelBuffer(data) || truncate(in.c_str(), size) != 0) std::exit(9);
        raise(SIGBUS);
        std::exit(0);
    };
    auto abnormal = [](int status) {
#if defined(__SANITIZE_ADDRESS__)
        if (WIFEXITED(status)) return WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 2;
#endif
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS;
    };
    EXPECT_EXIT(raiseAfter((off_t)Pixels16), abnormal, "");
    EXPECT_EXIT(raiseAfter((off_t)Pixels16 - 1), ::testing::ExitedWithCode(2),
                "^\ngrayfix ERROR: ReadRaw: Input file too short$");
}

// Only a run without a transform maps its input; a transform that widens
// the buffer must never be handed a mapping.
TEST(MappedInputDeathTest, WideningAMappingIsAnInternalCheck)
{
    TempDir dir;
    dir.Write("in.raw", RandomBytes((std::size_t)Width * Height8, 9));
    std::string in = dir.Path("in.raw");
    EXPECT_EXIT(
        {
            ImgImageWidth = Width;
            ImgImageHeight = Height8;
            ImgSetDepth(7);
            ImgData = MapOrReadRaw(in.c_str(), 0, Width, Height8, 1, "out.pgm");
            ImgTransformIncreaseDepth(12, 0);
        },
        ::testing::ExitedWithCode(8), "check failed: !IsMappedPixelBuffer\\(ImgData\\)");
}

// ---- Whole runs -------------------------------------------------------------------

namespace {

// The run with the input mapped where it may be, and the same run made to
// read it: every byte of the reports, the status and the output must agree.
void ExpectSameRunEitherWay(const TempDir& dir, const std::vector<std::string>& args, const std::string& output)
{
    RunResult mapped = RunGrayfix(dir, args);
    Bytes mappedOutput = dir.Read(output);
    std::remove(dir.Path(output).c_str());
    RunResult read = RunGrayfixWith(dir, args, Options(-1, -1, [] { setenv("GRAYFIX_NO_MMAP", "1", 1); }));
    std::string what = ::testing::PrintToString(args);
    EXPECT_EQ(mapped.out, read.out) << what;
    EXPECT_EQ(mapped.err, read.err) << what;
    EXPECT_EQ(mapped.status, read.status) << what;
    EXPECT_EQ(mapped.signal, 0) << what;
    EXPECT_EQ(mappedOutput, dir.Read(output)) << what;
    std::remove(dir.Path(output).c_str());
}

}  // namespace

TEST(MappedRunTest, DescribeAndCopyMatchTheReadPath)
{
    TempDir dir;
    std::vector<int> pixels8 = RandomPixels((std::size_t)Width * Height8, 255, 10);
    std::vector<int> pixels16 = RandomPixels((std::size_t)Width * Height, 65535, 11);
    std::vector<int> pixels10 = RandomPixels((std::size_t)Width * Height, 1000, 12);
    Bytes pgm8 = MakePgm(Width, Height8, 255, pixels8), pgm16 = MakePgm(Width, Height, 65535, pixels16);
    dir.Write("in8.pgm", pgm8);
    dir.Write("in16.pgm", pgm16);
    dir.Write("in10.pgm", MakePgm(Width, Height, 1000, pixels10));
    pixels10[1234] = 1001;  // above the maxval: the statistics refuse the image
    dir.Write("high.pgm", MakePgm(Width, Height, 1000, pixels10));
    dir.Write("le16.raw", Concat(RandomBytes(4097, 13), SampleBytes(pixels16, 2, true)));
    dir.Write("in8.raw", Concat(RandomBytes(4096, 14), SampleBytes(pixels8, 1)));
    const std::string raw16 = "-i:RAW:400:300:16:4097", raw8 = "-i:RAW:400:400:8:4096";
    const std::vector<std::vector<std::string>> inputs = {
        {"in8.pgm"}, {"in16.pgm"}, {"in10.pgm"}, {"high.pgm"},
        {raw16, "-i:endian:Little", "le16.raw"}, {raw8, "in8.raw"}};
    for (const auto& input : inputs) {
        auto with = [&input](std::vector<std::string> tail) {
            std::vector<std::string> args = input;
            args.insert(args.end(), tail.begin(), tail.end());
            return args;
        };
        ExpectSameRunEitherWay(dir, with({"/dev/null"}), "none");
        ExpectSameRunEitherWay(dir, with({"out.pgm"}), "out.pgm");
        ExpectSameRunEitherWay(dir, with({"-o:RAW", "out.raw"}), "out.raw");
    }
    // And the copies hold the input's pixels.
    EXPECT_EQ(RunGrayfix(dir, {"in16.pgm", "out.pgm"}).status, 0);
    EXPECT_EQ(dir.Read("out.pgm"), pgm16);
    EXPECT_EQ(RunGrayfix(dir, {raw8, "in8.raw", "-o:RAW", "out.raw"}).status, 0);
    EXPECT_EQ(dir.Read("out.raw"), SampleBytes(pixels8, 1));
    // A transform gets pixels read into memory, which it may grow.
    RunResult raised = RunGrayfix(dir, {"in8.pgm", "-t:increasedepth:12:0", "out.pgm"});
    EXPECT_EQ(raised.status, 0) << raised.err;
    EXPECT_EQ(dir.Read("out.pgm"), MakePgm(Width, Height8, 4095, pixels8));
}

// The output is the input, by any name: it ends up with its own bytes. With
// the reports going into the input itself (1<>in.pgm), the copy still holds
// the pixels as they were before the run.
TEST(MappedRunTest, OutputThatIsTheInputKeepsTheRightBytes)
{
    TempDir dir;
    Bytes image = MakePgm(Width, Height, 65535, RandomPixels((std::size_t)Width * Height, 65535, 15));
    dir.Write("in.pgm", image);
    fs::create_symlink("in.pgm", dir.Path("link.pgm"));
    fs::create_hard_link(dir.Path("in.pgm"), dir.Path("hard.pgm"));
    for (const char* output : {"in.pgm", "link.pgm", "hard.pgm"}) {
        RunResult r = RunGrayfix(dir, {"in.pgm", output});
        EXPECT_EQ(r.status, 0) << output << r.err;
        EXPECT_EQ(dir.Read("in.pgm"), image) << output;
    }
    EXPECT_TRUE(fs::is_symlink(dir.Path("link.pgm")));
    EXPECT_EQ(Listing(dir.Root()), (std::vector<std::string>{"hard.pgm", "in.pgm", "link.pgm"}));

    int onInput = open(dir.Path("in.pgm").c_str(), O_WRONLY);
    ASSERT_GE(onInput, 0);
    RunResult r = RunGrayfixWith(dir, {"in.pgm", "copy.pgm"}, Options(-1, onInput));
    close(onInput);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.Read("copy.pgm"), image);
}

// In a read-only directory no hidden file can be made: a writable output is
// truncated and written in place, so the input must not be mapped when the
// output is that very file. Root may write anywhere, so a root test run drops
// to an unprivileged user in the child.
TEST(MappedRunTest, InputWrittenInPlaceKeepsItsBytes)
{
    TempDir dir;
    Bytes image = MakePgm(Width, Height8, 255, RandomPixels((std::size_t)Width * Height8, 255, 16));
    fs::create_directory(dir.Path("ro"));
    dir.Write("ro/in.pgm", image);
    chmod(dir.Root().c_str(), 0755);
    chmod(dir.Path("ro/in.pgm").c_str(), 0666);
    chmod(dir.Path("ro").c_str(), 0555);
    bool root = geteuid() == 0;
    RunOptions options;
    options.inChild = [root] {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    };
    RunResult r = RunGrayfixWith(dir, {"ro/in.pgm", "ro/in.pgm"}, options);
    chmod(dir.Path("ro").c_str(), 0755);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.Read("ro/in.pgm"), image);
    EXPECT_EQ(Listing(dir.Path("ro")), std::vector<std::string>{"in.pgm"});
}
