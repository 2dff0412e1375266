// test_util.cpp - shared test helpers.

#include "test_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <csignal>
#include <sstream>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "image/image.h"
#include "image/rawio.h"
#include "support/crc32.h"
#include "transforms/denoise/denoise.h"

void MakeTestImage(int width, int height, int bpp, const std::vector<int>& pixels, int bigEndian,
                   int levelMax)
{
    FreeTestImage();
    ImgImageWidth = width;
    ImgImageHeight = height;
    ImgSetDepth(bpp);
    if (levelMax >= 0) ImgLevelMax = levelMax;
    ImgBigEndian = bigEndian;
    ImgRaw = 0;
    ImgRawSkip = 0;
    ImgFileName = "test";
    ImgData = (unsigned char*)std::calloc((std::size_t)width * height * ImgBYTEpp, 1);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        SetPixel((int)(i % width), (int)(i / width), pixels[i]);
}

void FreeTestImage()
{
    ReleasePixelBuffer(ImgData);
    ImgData = nullptr;
}

std::vector<int> ImagePixels()
{
    std::vector<int> pixels;
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) pixels.push_back(GetPixel(x, y));
    return pixels;
}

Bytes SampleBytes(const std::vector<int>& pixels, int bytesPerPixel, bool littleEndian)
{
    Bytes bytes;
    for (int v : pixels) {
        if (bytesPerPixel == 1) {
            bytes.push_back((unsigned char)v);
        } else if (littleEndian) {
            bytes.push_back((unsigned char)(v & 0xFF));
            bytes.push_back((unsigned char)(v >> 8));
        } else {
            bytes.push_back((unsigned char)(v >> 8));
            bytes.push_back((unsigned char)(v & 0xFF));
        }
    }
    return bytes;
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes MakePgm(int width, int height, int maxval, const std::vector<int>& pixels, bool littleEndian)
{
    Bytes file = ToBytes("P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n"
                         + std::to_string(maxval) + "\n");
    Bytes samples = SampleBytes(pixels, maxval > 255 ? 2 : 1, littleEndian);
    file.insert(file.end(), samples.begin(), samples.end());
    return file;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "grayfix-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const Bytes& bytes) const
{
    std::ofstream file(Path(name), std::ios::binary | std::ios::trunc);
    file.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

Bytes TempDir::Read(const std::string& name) const
{
    std::ifstream file(Path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool TempDir::Exists(const std::string& name) const
{
    return std::filesystem::exists(Path(name));
}

static std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> ProgramCommand(const std::string& program)
{
    std::vector<std::string> words;
#ifdef GRAYFIX_EMULATOR
    // No binfmt registration is assumed: the emulator is named on every start.
    std::istringstream emulator(GRAYFIX_EMULATOR);
    for (std::string word; emulator >> word;) words.push_back(word);
#endif
    words.push_back(program);
    return words;
}

std::string ProgramShellCommand(const std::string& program)
{
    std::string line;
    for (const std::string& word : ProgramCommand(program)) {
        line += line.empty() ? "'" : " '";
        for (char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += "'";
    }
    return line;
}

std::vector<char*> ArgvOf(std::vector<std::string>& words)
{
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

RunResult RunGrayfix(const TempDir& dir, const std::vector<std::string>& args)
{
    return RunGrayfixWith(dir, args, {});
}

RunOptions Options(int stdinFd, int stdoutFd, std::function<void()> inChild)
{
    RunOptions options;
    options.stdinFd = stdinFd;
    options.stdoutFd = stdoutFd;
    options.inChild = std::move(inChild);
    return options;
}

RunResult RunGrayfixWith(const TempDir& dir, const std::vector<std::string>& args,
                         const RunOptions& options)
{
    // The captures live beside the scratch directory, not in it, so that a test
    // sees only the files the tool wrote.
    std::string outPath = dir.Root() + ".stdout";
    std::string errPath = dir.Root() + ".stderr";
    std::vector<std::string> words = ProgramCommand();
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv = ArgvOf(words);
    std::fflush(nullptr);
    RunResult result;
    pid_t pid;
    if (options.inChild) {
        pid = fork();
        if (pid == 0) {
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0 || chdir(dir.Root().c_str()) != 0) _exit(127);
            int in = options.stdinFd;
            if (!options.stdinPath.empty()) in = open(options.stdinPath.c_str(), O_RDONLY);
            if (in >= 0 ? dup2(in, 0) < 0 : !options.stdinPath.empty()) _exit(127);
            dup2(options.stdoutFd >= 0 ? options.stdoutFd : out, 1);
            dup2(err, 2);
            signal(SIGPIPE, SIG_DFL);  // a test may ignore it; the tool must not inherit that
            options.inChild();
            execvp(argv[0], argv.data());
            _exit(127);
        }
    } else {
        // Without code to run in the child, posix_spawn: the sweeps make thousands of
        // runs, and forking the large (sanitizer) test process for each costs more than
        // the run itself. The same redirections, in the same order.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, dir.Root().c_str());
        if (!options.stdinPath.empty())
            posix_spawn_file_actions_addopen(&actions, 0, options.stdinPath.c_str(), O_RDONLY, 0);
        else if (options.stdinFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, options.stdinFd, 0);
        if (options.stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, options.stdoutFd, 1);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);  // a test may ignore it; the tool must not inherit that
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    if (pid < 0) return result;
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
    result.out = Slurp(outPath);
    result.err = Slurp(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}

std::string InfoBlock(const char* title, const std::string& fileName, int width, int height,
                      int bytepp, int bpp, int levelMax, int bigEndian, int raw, int skip)
{
    char text[1024];
    std::snprintf(text, sizeof text,
                  "\n%s: \n\tImgFileName:  %s\n\tImgImageWidth:  %d\n\tImgImageHeight: %d"
                  "\n\tImgBYTEpp:      %d\n\tImgbpp:         %d\n\tImgLevelMax:    %d"
                  "\n\tImgBigEndian:   %d\n\tImgRaw:         %d\n\tImgRawSkip:     %d",
                  title, fileName.c_str(), width, height, bytepp, bpp, levelMax, bigEndian, raw,
                  skip);
    return text;
}

std::string StatsBlock(int minLevel, int maxLevel, int numLevels, int bitsUsed, int h0Bits,
                       int h0Bytes, const std::string& bpp, unsigned crcBigEndian, unsigned crcByte)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "\n\nActual minLevel: %d maxLevel: %d numLevels: %d bitsUsed: 0x%04x"
                  "\nH0 (bits): %d (Bytes): %d (bpp): %s"
                  "\nBigEndian CRC32: 0x%08x BYTE CRC32: 0x%08x",
                  minLevel, maxLevel, numLevels, bitsUsed, h0Bits, h0Bytes, bpp.c_str(),
                  crcBigEndian, crcByte);
    return text;
}

// The statistics block for these intensities held in bytepp bytes each.
std::string ExpectedStats(const std::vector<int>& pixels, int bytepp, int bigEndian)
{
    std::map<int, int> counts;
    for (int v : pixels) ++counts[v];
    double n = (double)pixels.size();
    int minLevel = pixels[0], maxLevel = pixels[0], bits = 0;
    double h0 = 0.0;
    for (auto [value, count] : counts) {
        minLevel = std::min(minLevel, value);
        maxLevel = std::max(maxLevel, value);
        bits |= value;
        double p = count / n;
        h0 = h0 - count * std::log(p) * 1.4426950408889634;
    }
    char bpp[64];
    std::snprintf(bpp, sizeof bpp, "%.12f", h0 / n);
    Bytes big = SampleBytes(pixels, bytepp), stored = SampleBytes(pixels, bytepp, !bigEndian);
    return StatsBlock(minLevel, maxLevel, (int)counts.size(), bits, (int)std::ceil(h0),
                      (int)std::ceil(h0 * 0.125), bpp, ComputeCRC32(big.data(), (int32_t)big.size()),
                      ComputeCRC32(stored.data(), (int32_t)stored.size()));
}

// What a run prints before its transform: the input block, the statistics and a line end.
std::string ExpectedInput(const std::string& name, int width, int height, int bigEndian, int raw,
                          int skip, int bpp, int levelMax, const std::vector<int>& pixels)
{
    int bytepp = (bpp - 1) / 8 + 1;
    return InfoBlock("Input Image", name, width, height, bytepp, bpp, levelMax, bigEndian, raw, skip)
         + ExpectedStats(pixels, bytepp, bigEndian) + "\n";
}

// What a successful run prints after its transform (raw and skip are the input's).
std::string ExpectedOutput(const std::string& name, int width, int height, int bigEndian, int raw,
                           int skip, int bpp, int levelMax, const std::vector<int>& pixels)
{
    int bytepp = (bpp - 1) / 8 + 1;
    return ExpectedStats(pixels, bytepp, bigEndian)
         + InfoBlock("Outputting to", name, width, height, bytepp, bpp, levelMax, bigEndian, raw, skip)
         + "\nDone.\n";
}

// A failed internal check as the tool reports it: the source position, then the condition.
bool IsCheckStop(const RunResult& run, const std::string& condition)
{
    std::string tail = ": check failed: " + condition + "\n";
    return run.status == 8 && run.signal == 0 && run.err.rfind("grayfix: src/", 0) == 0
        && run.err.size() > tail.size()
        && run.err.compare(run.err.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs one transform switch on a PGM of these pixels (maxval 2^bpp - 1) and checks the
// whole console text, the status and the output file.
void ExpectPgmRun(int width, int height, int bpp, const std::vector<int>& in,
                  const std::string& transform, const std::string& message,
                  const std::vector<int>& out)
{
    TempDir dir;
    int maxval = (int)BppMask[bpp];
    dir.Write("in.pgm", MakePgm(width, height, maxval, in));
    RunResult run = RunGrayfix(dir, {"in.pgm", transform, "out.pgm"});
    int skip = (int)MakePgm(width, height, maxval, {}).size();
    EXPECT_EQ(run.out, ExpectedInput("in.pgm", width, height, 1, 0, skip, bpp, maxval, in) + message
                           + ExpectedOutput("out.pgm", width, height, 1, 0, skip, bpp, maxval, out))
        << transform;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.Read("out.pgm"), MakePgm(width, height, maxval, out));
}

// Runs a transform switch that must stop after the input report without writing a file;
// returns the run for the caller to check stderr and the status.
RunResult ExpectStoppedRun(int width, int height, int bpp, const std::vector<int>& in,
                           const std::string& transform)
{
    TempDir dir;
    int maxval = (int)BppMask[bpp];
    dir.Write("in.pgm", MakePgm(width, height, maxval, in));
    RunResult run = RunGrayfix(dir, {"in.pgm", transform, "out.pgm"});
    int skip = (int)MakePgm(width, height, maxval, {}).size();
    EXPECT_EQ(run.out, ExpectedInput("in.pgm", width, height, 1, 0, skip, bpp, maxval, in));
    EXPECT_FALSE(dir.Exists("out.pgm"));
    EXPECT_EQ(run.signal, 0);
    return run;
}

// ---- Plain window filters ----

// The plain algorithm: gather the window, qsort it, apply the rule as written (mode 3
// walks). A 1x1 image has no second sample: modes 2 and 3 leave it unchanged.
std::vector<int> ReferenceDenoise(long long radius, int mode)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    std::vector<int> result;
    std::vector<uint16_t> s;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            s.clear();
            for (long long yy = y - radius; yy <= y + radius; ++yy)
                for (long long xx = x - radius; xx <= x + radius; ++xx)
                    if (xx >= 0 && yy >= 0 && xx < width && yy < height)
                        s.push_back((uint16_t)GetPixel((int)xx, (int)yy));
            std::qsort(s.data(), s.size(), sizeof(uint16_t), CompareIntensities);
            int n = (int)s.size(), c = GetPixel(x, y), value = c;
            if (mode == 0) {
                value = s[n / 2];
            } else if (n == 1) {
                value = c;
            } else if (mode == 1) {
                if ((c == s[0] && s[1] != c) || (c == s[n - 1] && s[n - 2] != c)) value = s[n / 2];
            } else if (mode == 2) {
                if (c == s[0])
                    value = s[1];
                else if (c == s[n - 1])
                    value = s[n - 2];
            } else if (c == s[0]) {
                int m = (n - 1) / 2, i = 1;
                while (i < m && s[i] == s[0]) ++i;
                value = s[i];
            } else if (c == s[n - 1]) {
                int upper = n / 2, i = n - 2;
                while (i > upper && s[i] == s[n - 1]) --i;
                value = s[i];
            }
            result.push_back(value);
        }
    return result;
}

__extension__ typedef __int128 Int128;

// The plain algorithm: every window position visited, 128-bit sums so that no weight
// overflows. Returns false (and no pixels) if some window's weightsum is not positive.
bool ReferenceSoften(long long radius, int centerweight, int neighborweight, bool squared,
                     std::vector<int>& result)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    long long largest = BppMask[Imgbpp];
    result.clear();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Int128 sum = 0, weightsum = 0;
            // Positions outside the image are skipped; the loops start at most one
            // position before it so that a huge radius stays quick.
            for (long long yy = std::max(y - radius, -1LL); yy <= std::min(y + radius, (long long)height); ++yy)
                for (long long xx = std::max(x - radius, -1LL); xx <= std::min(x + radius, (long long)width); ++xx) {
                    if (xx < 0 || yy < 0 || xx >= width || yy >= height) continue;
                    Int128 w = xx == x && yy == y ? centerweight : neighborweight;
                    Int128 v = GetPixel((int)xx, (int)yy);
                    sum += w * (squared ? v * v : v);
                    weightsum += w;
                }
            if (weightsum <= 0) return false;
            Int128 q = (sum + weightsum / 2) / weightsum;
            long long value;
            if (!squared) {
                value = q < 0 ? 0 : q > largest ? largest : (long long)q;
            } else {
                long long root = 0;
                if (q > 0) {
                    root = (long long)std::sqrt((double)q);
                    while ((Int128)root * root > q) --root;
                    while ((Int128)(root + 1) * (root + 1) <= q) ++root;
                }
                value = root > largest ? largest : root;
            }
            result.push_back((int)value);
        }
    return true;
}

uint32_t ReferenceCrc(const unsigned char* data, std::size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) crc = UpdateCRC32(data[i], crc);
    return length ? ~crc : 0u;
}

uint32_t ReferenceCrcSwapped16(const unsigned char* data, std::size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    std::size_t i = 0;
    for (; i + 1 < length; i += 2) crc = UpdateCRC32(data[i], UpdateCRC32(data[i + 1], crc));
    if (i < length) crc = UpdateCRC32(data[i], crc);
    return length ? ~crc : 0u;
}

std::vector<int> RandomLevels(std::mt19937& random, int count, int bpp, Levels kind, int few)
{
    const unsigned levelMax = BppMask[bpp];
    std::vector<int> palette, pixels;
    if (kind == Levels::Few)
        for (int i = 0; i < few; ++i) palette.push_back((int)(random() & levelMax));
    for (int i = 0; i < count; ++i) {
        if (kind == Levels::Few) {
            pixels.push_back(palette[random() % palette.size()]);
        } else if (kind == Levels::Any) {
            pixels.push_back((int)(random() & levelMax));
        } else {
            int spread = (int)(random() % 8);
            pixels.push_back(random() % 2 ? std::min((int)levelMax, spread)
                                          : std::max(0, (int)levelMax - spread));
        }
    }
    return pixels;
}

std::string SimdPathName(const ::testing::TestParamInfo<SimdPath>& info)
{
    return info.param == SimdAvx512 ? "Avx512" : info.param == SimdAvx2 ? "Avx2" : "Baseline";
}

std::vector<std::string> Listing(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void LeaveAddressSpace(std::size_t bytes)
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlim_t room = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + (rlim_t)bytes;
    struct rlimit limit = {room, room};
    if (setrlimit(RLIMIT_AS, &limit) != 0) std::exit(2);
}
