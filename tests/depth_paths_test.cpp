// depth_paths_test.cpp - the row-wise depth and decorrelation transforms
// against straightforward per-pixel references kept here, on random images
// of every depth, both byte orders and odd sizes: the same bytes, the same
// description, the same messages, and the same stop when a check fires.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "image/image.h"
#include "transforms/decorrelate.h"
#include "transforms/increasedepth.h"
#include "transforms/reducedepth.h"

namespace {

// ---- References: every pixel through GetPixel and SetPixel, the description
// switched between the old and the new depth around each pair ----

void UseDepth(int bpp, int levelMax, int bytepp)
{
    Imgbpp = bpp;
    ImgLevelMax = levelMax;
    ImgBYTEpp = bytepp;
}

enum Lowering { Shift, Crop, CropClip };

bool ReferenceLower(int newDepth, Lowering kind)
{
    int oldBpp = Imgbpp, oldLevelMax = ImgLevelMax, oldBYTEpp = ImgBYTEpp;
    int newLevelMax = (int)BppMask[newDepth], newBYTEpp = (newDepth - 1) / 8 + 1;
    int depthDiff = Imgbpp - newDepth;
    CHECK(depthDiff < Imgbpp);
    bool changed = false;
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            UseDepth(oldBpp, oldLevelMax, oldBYTEpp);
            int pixel = GetPixel(x, y);
            if (kind == Shift) {
                pixel >>= depthDiff;
                CHECK(!(pixel & ~BppMask[newDepth]));
            } else if (pixel & ~BppMask[newDepth]) {
                if (kind == Crop) FatalError("ImgTransformCropDepth: pixel value too high", 7);
                pixel = (int)BppMask[newDepth];
                changed = true;
            }
            UseDepth(newDepth, newLevelMax, newBYTEpp);
            SetPixel(x, y, pixel);
        }
    return changed;
}

void ReferenceRaise(int newDepth, int mode)
{
    int oldDepth = Imgbpp, oldLevelMax = ImgLevelMax, oldBYTEpp = ImgBYTEpp;
    int newLevelMax = (int)BppMask[newDepth], newBYTEpp = (newDepth - 1) / 8 + 1;
    CHECK(newDepth > oldDepth);
    CHECK(newDepth <= 16);
    if (newBYTEpp != oldBYTEpp)
        ImgData = (unsigned char*)std::realloc(ImgData, (std::size_t)newBYTEpp * ImgImageWidth * ImgImageHeight);
    for (int y = ImgImageHeight - 1; y >= 0; --y)
        for (int x = ImgImageWidth - 1; x >= 0; --x) {
            UseDepth(oldDepth, oldLevelMax, oldBYTEpp);
            int pixel = GetPixel(x, y);
            if (mode != 0) pixel <<= newDepth - oldDepth;
            CHECK(!(pixel & ~BppMask[newDepth]));
            UseDepth(newDepth, newLevelMax, newBYTEpp);
            SetPixel(x, y, pixel);
        }
}

void ReferenceReduceDepth(int newDepth)
{
    int oldBpp = Imgbpp;
    ReferenceLower(newDepth, Shift);
    PrintMsg("\nImage depth reduced from %d to %d (ImgBYTEpp=%d, ImgLevelMax=%d) done", oldBpp,
             Imgbpp, ImgBYTEpp, ImgLevelMax);
}

void ReferenceCropDepth(int newDepth, int clip)
{
    int oldBpp = Imgbpp;
    bool changed = false;
    if (ImgBYTEpp == 1 && newDepth >= 9 && newDepth <= 16) ReferenceRaise(newDepth, 0);
    else changed = ReferenceLower(newDepth, clip ? CropClip : Crop);
    PrintMsg("\nImage depth cropped from %d to %d (ImgBYTEpp=%d, ImgLevelMax=%d), ", oldBpp, Imgbpp,
             ImgBYTEpp, ImgLevelMax);
    PrintMsg(changed ? "WARNING: some pixel intensities changed" : "pixel intensities not changed");
}

void ReferenceIncreaseDepth(int newDepth, int mode)
{
    int oldDepth = Imgbpp;
    ReferenceRaise(newDepth, mode);
    PrintMsg("\nImage depth increased from %d to %d (ImgBYTEpp=%d, ImgLevelMax=%d)", oldDepth,
             Imgbpp, ImgBYTEpp, ImgLevelMax);
    PrintMsg(mode ? "\nPixel values shifted (mode 1)" : "\nPixel values NOT shifted (mode 0)");
}

int ReferencePrediction(int x, int y, bool med)
{
    if (x == 0 && y == 0) return 0;
    if (x == 0) return GetPixel(x, y - 1);
    if (y == 0) return GetPixel(x - 1, y);
    int a = GetPixel(x - 1, y), b = GetPixel(x, y - 1);
    if (!med) return (b + a) >> 1;
    int c = GetPixel(x - 1, y - 1), mx = std::max(a, b), mn = std::min(a, b);
    if (c >= mx) return mn;
    if (c <= mn) return mx;
    return a + b - c;
}

void ReferenceDecorrelate(bool med)
{
    ReferenceIncreaseDepth(Imgbpp + 1, 0);
    auto* buf = (uint16_t*)std::calloc((std::size_t)ImgImageWidth * ImgImageHeight, 2);
    CHECK(buf);
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            int old = GetPixel(x, y);
            CHECK(!(old & ~BppMask[Imgbpp - 1]));
            buf[(std::size_t)y * ImgImageWidth + x] =
                (uint16_t)(old + (int)BppMask[Imgbpp - 1] - ReferencePrediction(x, y, med));
        }
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) SetPixel(x, y, buf[(std::size_t)y * ImgImageWidth + x]);
    std::free(buf);
    PrintMsg(med ? "\nDecorrelated using MED" : "\nDecorrelated");
}

void ReferenceCorrelate(bool med)
{
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x)
            SetPixel(x, y, GetPixel(x, y) + ReferencePrediction(x, y, med) - (int)BppMask[Imgbpp - 1]);
    ReferenceCropDepth(Imgbpp - 1, 0);
    PrintMsg(med ? "\nCorrelated using MED" : "\nCorrelated");
}

// ---- Images and runs ----

struct Image {
    int width, height, bpp, levelMax, bigEndian;
    std::vector<unsigned char> bytes;
};

// Sizes that meet every edge of the row and stretch loops: one pixel, one
// row, one column, odd shapes, a row wider than a stretch of 2048 pixels and
// a run of pixels longer than several.
const std::pair<int, int> Sizes[] = {{1, 1}, {57, 1}, {1, 61}, {37, 23}, {2051, 3}, {5, 1031}};

// Stores intensity value as pixel i of the image, in its layout.
void SetSample(Image& image, std::size_t i, int value)
{
    if (image.bpp <= 8) {
        image.bytes[i] = (unsigned char)value;
    } else {
        image.bytes[2 * i + (image.bigEndian ? 0 : 1)] = (unsigned char)(value >> 8);
        image.bytes[2 * i + (image.bigEndian ? 1 : 0)] = (unsigned char)value;
    }
}

// Intensities 0..levelMax: uniform noise on every third row, a random walk
// (the neighbours of natural images) on the others.
Image RandomImage(std::mt19937& rng, int width, int height, int bpp, int bigEndian, int levelMax = -1)
{
    Image image{width, height, bpp, levelMax < 0 ? (int)BppMask[bpp] : levelMax, bigEndian, {}};
    image.bytes.resize((std::size_t)width * height * ((bpp - 1) / 8 + 1));
    std::uniform_int_distribution<int> any(0, image.levelMax), step(-3, 3);
    int value = any(rng);
    for (std::size_t i = 0; i < (std::size_t)width * height; ++i) {
        if ((i / width) % 3 == 0) value = any(rng);
        else value = std::clamp(value + step(rng), 0, image.levelMax);
        SetSample(image, i, value);
    }
    return image;
}

// Puts a copy of the image into the store, as the reader leaves it.
void Load(const Image& image)
{
    std::free(ImgData);
    ImgImageWidth = image.width;
    ImgImageHeight = image.height;
    ImgSetDepth(image.bpp);
    ImgLevelMax = image.levelMax;
    ImgBigEndian = image.bigEndian;
    ImgData = (unsigned char*)std::malloc(image.bytes.size());
    std::memcpy(ImgData, image.bytes.data(), image.bytes.size());
}

// The store as the writer and the statistics see it, and what was printed.
Image Snapshot()
{
    std::size_t size = (std::size_t)ImgImageWidth * ImgImageHeight * ImgBYTEpp;
    return {ImgImageWidth, ImgImageHeight, Imgbpp, ImgLevelMax, ImgBigEndian,
            std::vector<unsigned char>(ImgData, ImgData + size)};
}

struct Result {
    Image image;
    std::string printed;
};

Result RunOn(const Image& image, const std::function<void()>& transform)
{
    Load(image);
    testing::internal::CaptureStdout();
    transform();
    std::string printed = testing::internal::GetCapturedStdout();
    Result result{Snapshot(), printed};
    std::free(ImgData);
    ImgData = nullptr;
    return result;
}

// Runs both on the same image and expects the same store and output.
void ExpectSame(const Image& image, const std::function<void()>& fast,
                const std::function<void()>& reference, const std::string& what)
{
    Result got = RunOn(image, fast), want = RunOn(image, reference);
    SCOPED_TRACE(what + " on " + std::to_string(image.width) + "x" + std::to_string(image.height)
                 + " bpp " + std::to_string(image.bpp) + " maxval " + std::to_string(image.levelMax)
                 + (image.bigEndian ? " big" : " little"));
    EXPECT_EQ(got.printed, want.printed);
    EXPECT_EQ(got.image.width, want.image.width);
    EXPECT_EQ(got.image.height, want.image.height);
    EXPECT_EQ(got.image.bpp, want.image.bpp);
    EXPECT_EQ(got.image.levelMax, want.image.levelMax);
    EXPECT_EQ(got.image.bigEndian, want.image.bigEndian);
    EXPECT_TRUE(got.image.bytes == want.image.bytes);
}

// How a run in a child process ended: exit status, what it printed (the store
// appended when it finished) and the stop's text without the source position.
struct Outcome {
    int status = -1;
    std::string out, err;
};

// The children end through exit(); under the sanitizers each would then run
// a leak check of the whole test process, which costs a third of a second a
// child. The check stays on for the test process itself.
bool inChild = false;

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __lsan_is_turned_off() { return inChild ? 1 : 0; }
#endif

namespace {

std::string ReadAll(int fd)
{
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, (std::size_t)n);
    close(fd);
    return text;
}

Outcome RunInChild(const Image& image, const std::function<void()>& transform)
{
    std::fflush(stdout);
    std::fflush(stderr);
    int out[2], err[2];
    pid_t pid = -1;
    if (pipe(out) != 0 || pipe(err) != 0 || (pid = fork()) < 0) {
        ADD_FAILURE() << "cannot start a child process";
        return {};
    }
    if (pid == 0) {
        inChild = true;
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]), close(out[1]), close(err[0]), close(err[1]);
        Load(image);
        transform();
        Image done = Snapshot();
        std::printf("|%d %d %d %d %d %d|", done.width, done.height, done.bpp, done.levelMax,
                    ImgBYTEpp, done.bigEndian);
        std::fwrite(done.bytes.data(), 1, done.bytes.size(), stdout);
        std::fflush(stdout);
        _exit(0);
    }
    close(out[1]);
    close(err[1]);
    Outcome outcome;
    outcome.out = ReadAll(out[0]);
    outcome.err = ReadAll(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    std::size_t check = outcome.err.find(": check failed: ");
    if (check != std::string::npos) outcome.err.erase(0, check);
    return outcome;
}

// Runs both in child processes on the same image and expects them to end
// the same way; returns how the reference ended ("0" or the stop's status and text).
std::string ExpectSameOutcome(const Image& image, const std::function<void()>& fast,
                              const std::function<void()>& reference, const std::string& what)
{
    Outcome got = RunInChild(image, fast), want = RunInChild(image, reference);
    SCOPED_TRACE(what + " on " + std::to_string(image.width) + "x" + std::to_string(image.height)
                 + " bpp " + std::to_string(image.bpp) + " maxval " + std::to_string(image.levelMax)
                 + (image.bigEndian ? " big" : " little"));
    EXPECT_EQ(got.status, want.status);
    EXPECT_EQ(got.err, want.err);
    EXPECT_TRUE(got.out == want.out);
    return want.status == 0 ? "0" : std::to_string(want.status) + want.err;
}

const std::string TooHigh = "7\ngrayfix ERROR: ImgTransformCropDepth: pixel value too high";
const std::string Checked = "8: check failed: ";

// Overwrites count random pixels with random values from low to high.
void Scatter(std::mt19937& rng, Image& image, int count, int low, int high)
{
    std::uniform_int_distribution<std::size_t> where(0, (std::size_t)image.width * image.height - 1);
    std::uniform_int_distribution<int> value(low, high);
    for (int n = 0; n < count; ++n) SetSample(image, where(rng), value(rng));
}

class DepthPathsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        std::free(ImgData);
        ImgData = nullptr;
    }
    std::mt19937 rng_{20240607};
};

// ---- Identical results on valid images ----

TEST_F(DepthPathsTest, ReduceMatchesTheReference)
{
    for (auto [width, height] : Sizes)
        for (int bpp = 2; bpp <= 16; ++bpp)
            for (int big = 0; big <= 1; ++big) {
                Image image = RandomImage(rng_, width, height, bpp, big);
                for (int newDepth = 1; newDepth < bpp; ++newDepth)
                    ExpectSame(image, [=] { ImgTransformReduceDepth(newDepth); },
                               [=] { ReferenceReduceDepth(newDepth); },
                               "reducedepth " + std::to_string(newDepth));
            }
}

// Crop keeps what fits (from images of few enough bits), crop-clip also
// clips; new depths from 1 to 17 cover crop-like's relabelling, its widening
// and its refusal of three bytes per pixel. A PGM-like maxval below
// 2^bpp - 1 is replaced by the new depth's.
TEST_F(DepthPathsTest, CropAndCropClipMatchTheReference)
{
    for (auto [width, height] : Sizes)
        for (int bpp = 1; bpp <= 16; ++bpp)
            for (int big = 0; big <= 1; ++big) {
                int pgmMax = (int)(BppMask[bpp] >> 1) + 1 + (int)(rng_() % (BppMask[bpp] >> 1 | 1));
                Image full = RandomImage(rng_, width, height, bpp, big);
                Image pgm = RandomImage(rng_, width, height, bpp, big, std::min(pgmMax, (int)BppMask[bpp]));
                for (int newDepth = 1; newDepth <= 16; ++newDepth) {
                    std::string depth = std::to_string(newDepth);
                    if (newDepth >= bpp || newDepth % 3 == 0) {  // values of newDepth bits at most
                        int bits = std::min(newDepth, bpp);
                        Image fitting = RandomImage(rng_, width, height, bpp, big, (int)BppMask[bits]);
                        fitting.levelMax = full.levelMax;
                        ExpectSame(fitting, [=] { ImgTransformCropDepth(newDepth, 0); },
                                   [=] { ReferenceCropDepth(newDepth, 0); }, "cropdepth " + depth);
                    }
                    for (const Image* image : {&full, &pgm})
                        ExpectSame(*image, [=] { ImgTransformCropDepth(newDepth, 1); },
                                   [=] { ReferenceCropDepth(newDepth, 1); }, "cropclipdepth " + depth);
                }
            }
}

TEST_F(DepthPathsTest, IncreaseMatchesTheReference)
{
    for (auto [width, height] : Sizes)
        for (int bpp = 1; bpp <= 15; ++bpp)
            for (int big = 0; big <= 1; ++big) {
                Image image = RandomImage(rng_, width, height, bpp, big);
                Image pgm = RandomImage(rng_, width, height, bpp, big, (int)(BppMask[bpp] >> 1) + 1);
                for (int newDepth = bpp + 1; newDepth <= 16; ++newDepth)
                    for (int mode = 0; mode <= 1; ++mode)
                        for (const Image* in : {&image, &pgm})
                            ExpectSame(*in, [=] { ImgTransformIncreaseDepth(newDepth, mode); },
                                       [=] { ReferenceIncreaseDepth(newDepth, mode); },
                                       "increasedepth " + std::to_string(newDepth) + " " + std::to_string(mode));
            }
}

// Forward on random images (an 8-bit one with a PGM maxval of 200), inverse
// on the reference's residuals, which must come back to the source.
TEST_F(DepthPathsTest, DecorrelationBothWaysMatchesTheReference)
{
    for (auto [width, height] : Sizes)
        for (int bpp = 1; bpp <= 15; ++bpp)
            for (int big = 0; big <= 1; ++big)
                for (bool med : {false, true}) {
                    std::string name = med ? "MED" : "average";
                    Image source = RandomImage(rng_, width, height, bpp, big, bpp == 8 ? 200 : -1);
                    ExpectSame(source, [=] { med ? ImgTransformDecorrelateMED() : ImgTransformDecorrelate(); },
                               [=] { ReferenceDecorrelate(med); }, "decorrelate " + name);
                    Result residuals = RunOn(source, [=] { ReferenceDecorrelate(med); });
                    ExpectSame(residuals.image, [=] { med ? ImgTransformCorrelateMED() : ImgTransformCorrelate(); },
                               [=] { ReferenceCorrelate(med); }, "correlate " + name);
                    Result restored = RunOn(residuals.image, [=] { ReferenceCorrelate(med); });
                    EXPECT_TRUE(restored.image.bytes == source.bytes);
                }
}

// ---- The same stop where a check fires ----

// Samples above a lowered ImgLevelMax (the read check), too high for a crop
// (status 7) or both, scattered so that either can come first.
TEST_F(DepthPathsTest, StopsOfTheDepthChangesMatchTheReference)
{
    std::set<std::string> ends;
    for (auto [width, height] : {Sizes[3], Sizes[5]})
        for (int bpp = 2; bpp <= 16; ++bpp)
            for (int big = bpp > 8 ? 0 : 1; big <= 1; ++big) {  // one order for one byte
                int newDepth = 1 + (int)(rng_() % (unsigned)(bpp - 1));
                Image image = RandomImage(rng_, width, height, bpp, big, (int)BppMask[newDepth]);
                Scatter(rng_, image, 1 + (int)(rng_() % 3), 0, (int)BppMask[bpp]);
                image.levelMax = (int)BppMask[bpp] - (int)(rng_() % 2) * (int)(BppMask[bpp] >> 2);
                std::string depth = std::to_string(newDepth);
                ends.insert(ExpectSameOutcome(image, [=] { ImgTransformCropDepth(newDepth, 0); },
                                              [=] { ReferenceCropDepth(newDepth, 0); }, "cropdepth " + depth));
                ends.insert(ExpectSameOutcome(image, [=] { ImgTransformCropDepth(newDepth, 1); },
                                              [=] { ReferenceCropDepth(newDepth, 1); }, "cropclipdepth " + depth));
                ends.insert(ExpectSameOutcome(image, [=] { ImgTransformReduceDepth(newDepth); },
                                              [=] { ReferenceReduceDepth(newDepth); }, "reducedepth " + depth));
                if (bpp < 16)
                    ends.insert(ExpectSameOutcome(image, [=] { ImgTransformIncreaseDepth(16, 1); },
                                                  [=] { ReferenceIncreaseDepth(16, 1); }, "increasedepth 16"));
                ends.insert(ExpectSameOutcome(image, [] { ImgTransformCropDepth(17 + ImgImageWidth % 4, 0); },
                                              [] { ReferenceCropDepth(17 + ImgImageWidth % 4, 0); },
                                              "cropdepth to three bytes"));
            }
    EXPECT_EQ(ends, (std::set<std::string>{"0", TooHigh, Checked + "ImgBYTEpp == 2\n",
                                           Checked + "value <= ImgLevelMax && value >= 0\n"}));
}

// A description whose ImgLevelMax exceeds 2^bpp - 1 (only a faulty caller
// makes one) lets samples through the read check that the transforms' own
// bounds then refuse: the shift's, the raise's and the forward residual's.
TEST_F(DepthPathsTest, StopsAtTheTransformsOwnBoundsMatchTheReference)
{
    std::set<std::string> ends;
    for (auto [width, height] : {Sizes[3], Sizes[5]})
        for (int bpp = 2; bpp <= 15; ++bpp)
            for (int big = bpp > 8 ? 0 : 1; big <= 1; ++big) {  // one order for one byte
                Image image = RandomImage(rng_, width, height, bpp, big, (int)BppMask[bpp] / 2);
                Scatter(rng_, image, 2, 0, (int)BppMask[bpp + 1]);
                image.levelMax = (int)BppMask[bpp + 1];
                int newDepth = 1 + (int)(rng_() % (unsigned)(bpp - 1));
                ends.insert(ExpectSameOutcome(image, [=] { ImgTransformReduceDepth(newDepth); },
                                  [=] { ReferenceReduceDepth(newDepth); }, "reducedepth"));
                ends.insert(ExpectSameOutcome(image, [=] { ImgTransformIncreaseDepth(bpp + 1, 1); },
                                  [=] { ReferenceIncreaseDepth(bpp + 1, 1); }, "increasedepth"));
                if (bpp < 15) {
                    image.levelMax = (int)BppMask[bpp + 2];
                    ends.insert(ExpectSameOutcome(image, [] { ImgTransformDecorrelateMED(); },
                                      [] { ReferenceDecorrelate(true); }, "decorrelatemed"));
                }
            }
    EXPECT_EQ(ends, (std::set<std::string>{"0", Checked + "!(pixel & ~BppMask[newDepth])\n",
                                           Checked + "!(old & ~BppMask[Imgbpp - 1])\n"}));
}

// Images that are no residual images: the inverse stops at a SetPixel, in
// the crop, at a sample above a PGM maxval, or sometimes gets through. The
// residuals restore to a random walk from a random start.
TEST_F(DepthPathsTest, StopsOfTheInverseMatchTheReference)
{
    std::set<std::string> ends;
    for (auto [width, height] : {Sizes[2], Sizes[3], Sizes[4]})
        for (int bpp = 2; bpp <= 16; ++bpp)
            for (int big = bpp > 8 ? 0 : 1; big <= 1; ++big)  // one order for one byte
                for (bool med : {false, true}) {
                    int offset = (int)BppMask[bpp - 1];
                    Image image = RandomImage(rng_, width, height, bpp, big);
                    std::uniform_int_distribution<int> start(0, offset), step(-2, 2);
                    SetSample(image, 0, offset + start(rng_));
                    for (std::size_t i = 1; i < (std::size_t)width * height; ++i)
                        SetSample(image, i, offset + step(rng_));
                    if (rng_() % 2) Scatter(rng_, image, 2, 0, (int)BppMask[bpp]);
                    if (rng_() % 4 == 0) image.levelMax -= (int)(BppMask[bpp] >> 3);
                    ends.insert(ExpectSameOutcome(image, [=] { med ? ImgTransformCorrelateMED() : ImgTransformCorrelate(); },
                                      [=] { ReferenceCorrelate(med); },
                                      med ? "correlatemed" : "correlate"));
                }
    EXPECT_EQ(ends, (std::set<std::string>{"0", TooHigh, Checked + "value <= ImgLevelMax && value >= 0\n"}));
}

}  // namespace
