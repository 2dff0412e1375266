// shape_test.cpp - every transform switch, with representative parameters, on
// images of 1x1, 1x5, 5x1 and 3x3 pixels at depths 1, 7, 8, 9, 15 and 16, in
// both byte orders, with a PGM maxval of the form 2^n-1 and one that is not.
// Each run must end with status 0 and a well-formed output, a documented
// refusal with no output, or the internal-check stop, never a signal; the
// expected outcome is worked out per case where the behaviour fixes it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include "test_util.h"

namespace {

struct Shape {
    int width, height;
};
const Shape kShapes[] = {{1, 1}, {1, 5}, {5, 1}, {3, 3}};
const int kDepths[] = {1, 7, 8, 9, 15, 16};

// One input image of the sweep.
struct Image {
    Shape shape;
    int depth;
    int maxval;  // 2^depth - 1, or 2^(depth-1), which is not of that form
    bool little;
    std::vector<int> pixels;
    bool FullRange() const { return maxval == (1 << depth) - 1; }
    int Largest() const { return *std::max_element(pixels.begin(), pixels.end()); }
    int Count() const { return shape.width * shape.height; }
    std::string Name() const
    {
        return std::to_string(shape.width) + "x" + std::to_string(shape.height) + " depth "
               + std::to_string(depth) + " maxval " + std::to_string(maxval)
               + (little ? " little" : " big");
    }
};

std::vector<Image> AllImages()
{
    std::vector<Image> images;
    for (const Shape& shape : kShapes)
        for (int depth : kDepths)
            for (int form = 0; form < (depth == 1 ? 1 : 2); ++form) {  // depth 1: maxval 1 only
                int maxval = form == 0 ? (1 << depth) - 1 : 1 << (depth - 1);
                for (bool little : {false, true}) {
                    Image image{shape, depth, maxval, little, {}};
                    // The extremes first, so that even a 1x1 image holds maxval.
                    const int cycle[] = {maxval, 0, maxval / 2, 1, maxval - 1, maxval / 3};
                    for (int i = 0; i < image.Count(); ++i) image.pixels.push_back(cycle[i % 6]);
                    images.push_back(image);
                }
            }
    return images;
}

// What a run may end with: a set of statuses, and for each status the
// messages (or check conditions) allowed.
struct Expect {
    std::set<int> statuses;
    std::set<std::string> texts;  // empty: any documented text of the status
    static Expect Success() { return {{0}, {}}; }
    static Expect Stop(int status, const std::string& text) { return {{status}, {text}}; }
    Expect& Or(int status, const std::string& text = "")
    {
        statuses.insert(status);
        if (!text.empty()) texts.insert(text);
        return *this;
    }
};

const char* const kValueCheck = "value <= ImgLevelMax && value >= 0";

// Transforms that clamp to 2^depth - 1 may exceed a maxval below that: the
// write then stops at the accessor's check.
Expect ClampedResult(const Image& image)
{
    Expect e = Expect::Success();
    if (!image.FullRange()) e.Or(8, kValueCheck);
    return e;
}

// Lowering the depth to newDepth (refused unless below the image's depth).
Expect Lowering(const Image& image, int newDepth, const char* refusal, bool clip)
{
    if (newDepth >= image.depth) return Expect::Stop(1, refusal);
    if (!clip && image.Largest() > (1 << newDepth) - 1)
        return Expect::Stop(7, "ImgTransformCropDepth: pixel value too high");
    return Expect::Success();
}

// Crop-depth-like to a reference of the given depth.
Expect CropLike(const Image& image, int depth)
{
    if (depth < image.depth && image.Largest() > (1 << depth) - 1)
        return Expect::Stop(7, "ImgTransformCropDepth: pixel value too high");
    return Expect::Success();  // equal or deeper: the values all fit
}

struct Case {
    const char* name;
    std::string switchText;  // empty: no transform
    std::function<Expect(const Image&)> expect;
};

std::vector<Case> AllCases()
{
    auto success = [](const Image&) { return Expect::Success(); };
    auto refusedAt16 = [](const char* message) {
        return [message](const Image& i) {
            return i.depth == 16 ? Expect::Stop(1, message) : Expect::Success();
        };
    };
    auto inverse = [](const char* message) {
        return [message](const Image& i) {
            // Not a residual image: the restored values may leave the range.
            if (i.depth == 1) return Expect::Stop(1, message);
            return Expect::Success().Or(7, "ImgTransformCropDepth: pixel value too high")
                .Or(8, kValueCheck);
        };
    };
    auto downsize = [](int times) {
        return [times](const Image& i) {
            if (i.shape.width < times || i.shape.height < times)
                return Expect::Stop(8, "newWidth>0 && newHeight>0");
            return Expect::Success();
        };
    };
    return {
        {"NoTransform", "", success},
        {"SoftenSmooth", "-t:soften:1:8:1", success},
        {"SoftenSharpen", "-t:soften:1:9:-1", ClampedResult},
        {"SoftenNegativeWeights", "-t:soften:1:1:-1",
         [](const Image& i) {
             if (i.Count() == 1) return Expect::Success();
             // 3x3: the corner window weighs -2; a row or column: the end window weighs 0.
             return Expect::Stop(8, i.shape.width == 3 ? "weightsum>=0" : "weightsum>0");
         }},
        {"SoftenWideRadius", "-t:soften:7:1:1", success},
        {"SoftenSquared", "-t:softensquared:1:8:1", success},
        {"SoftenSquaredSharpen", "-t:softensquared:2:9:-1", ClampedResult},
        {"Noise", "-t:noise:50", ClampedResult},
        {"NoiseAll", "-t:noise:100", ClampedResult},
        {"AddNoise", "-t:addnoise:50", ClampedResult},
        {"SPNoise", "-t:spnoise:100", ClampedResult},
        {"WGNoise", "-t:wgnoise:2.5", ClampedResult},
        {"DenoiseMedian", "-t:denoise:1:0", success},
        {"DenoiseRCRS1", "-t:denoise:1:1", success},
        {"DenoiseSecond", "-t:denoise:1:2", success},
        {"DenoiseRCRS2", "-t:denoise:1:3", success},
        {"DenoiseRadius2", "-t:denoise:2:3", success},
        {"DenoiseHugeRadius", "-t:denoise:1000000:2", success},
        {"DenoiseRadius0", "-t:denoise:0:0",
         [](const Image&) { return Expect::Stop(8, "radius>0"); }},
        {"DenoiseBadMode", "-t:denoise:1:4",
         [](const Image&) { return Expect::Stop(4, "ImgTransformDenoise: bad mode"); }},
        {"Downsize1", "-t:downsize:1", success},
        {"Downsize2", "-t:downsize:2", downsize(2)},
        {"Downsize3", "-t:downsize:3", downsize(3)},
        {"CropOnePixel", "-t:crop:0:0:1:1", success},
        {"CropInner", "-t:crop:1:1:2:2",
         [](const Image& i) {
             if (i.shape.width < 3 || i.shape.height < 3)
                 return Expect::Stop(1, "Bad -t:crop:x0:y0:width:height");
             return Expect::Success();
         }},
        {"CropEmpty", "-t:crop:0:0:0:0",
         [](const Image&) { return Expect::Stop(1, "Bad -t:crop:x0:y0:width:height"); }},
        {"ReduceDepth1", "-t:reducedepth:1",
         [](const Image& i) { return Lowering(i, 1, "Bad -t:reducedepth:newdepth", true); }},
        {"ReduceDepth8", "-t:reducedepth:8",
         [](const Image& i) { return Lowering(i, 8, "Bad -t:reducedepth:newdepth", true); }},
        {"CropDepth1", "-t:cropdepth:1",
         [](const Image& i) { return Lowering(i, 1, "Bad -t:cropdepth:newdepth", false); }},
        {"CropDepth8", "-t:cropdepth:8",
         [](const Image& i) { return Lowering(i, 8, "Bad -t:cropdepth:newdepth", false); }},
        {"CropClipDepth1", "-t:cropclipdepth:1",
         [](const Image& i) { return Lowering(i, 1, "Bad -t:cropclipdepth:newdepth", true); }},
        {"CropClipDepth8", "-t:cropclipdepth:8",
         [](const Image& i) { return Lowering(i, 8, "Bad -t:cropclipdepth:newdepth", true); }},
        {"CropDepthLike1", "-t:cropdepthlike:ref1.pgm", [](const Image& i) { return CropLike(i, 1); }},
        {"CropDepthLike8", "-t:cropdepthlike:ref8.pgm", [](const Image& i) { return CropLike(i, 8); }},
        {"CropDepthLike12", "-t:cropdepthlike:ref12.pgm",
         [](const Image& i) { return CropLike(i, 12); }},
        {"CropDepthLike16", "-t:cropdepthlike:ref16.pgm",
         [](const Image& i) { return CropLike(i, 16); }},
        {"CropDepthLike17", "-t:cropdepthlike:ref17.pgm",
         [](const Image&) { return Expect::Stop(8, "ImgBYTEpp == 2"); }},
        {"CropDepthLikeZero", "-t:cropdepthlike:ref0.pgm",
         [](const Image&) { return Expect::Stop(8, "depthDiff < Imgbpp"); }},
        {"CropDepthLikeNegative", "-t:cropdepthlike:refneg.pgm",
         [](const Image&) { return Expect::Stop(8, "val>0"); }},
        {"IncreaseDepth16", "-t:increasedepth:16:0",
         refusedAt16("Bad -t:increasedepth:newdepth:mode")},
        {"IncreaseDepth16Shift", "-t:increasedepth:16:1",
         refusedAt16("Bad -t:increasedepth:newdepth:mode")},
        {"IncreaseDepth9Shift", "-t:increasedepth:9:1",
         [](const Image& i) {
             return i.depth >= 9 ? Expect::Stop(1, "Bad -t:increasedepth:newdepth:mode")
                                 : Expect::Success();
         }},
        {"Decorrelate", "-t:decorrelate",
         refusedAt16("Bit depths 1-15 are supported in -t:decorrelate ")},
        {"DecorrelateMED", "-t:decorrelatemed",
         refusedAt16("Bit depths 1-15 are supported in -t:decorrelatemed ")},
        {"Correlate", "-t:correlate", inverse("Bit depths 2-16 are supported in -t:correlate ")},
        {"CorrelateMED", "-t:correlatemed",
         inverse("Bit depths 2-16 are supported in -t:correlatemed ")},
        {"NegEndian", "-t:negendian", success},
        {"XorFile", "-t:xorfile:xor.bin", ClampedResult},
        {"XorFileEmpty", "-t:xorfile:empty.bin",
         [](const Image&) { return Expect::Stop(5, "ImgTransformXorFile: xorFile too short"); }},
    };
}

// The field of the "Outputting to" block that follows label.
int OutputField(const std::string& out, const std::string& label)
{
    std::size_t block = out.rfind("\nOutputting to: ");
    std::size_t at = block == std::string::npos ? block : out.find("\n\t" + label, block);
    if (at == std::string::npos) return -1;
    return std::atoi(out.c_str() + at + 2 + label.size());
}

class ShapeSweep : public ::testing::TestWithParam<Case> {
protected:
    static void WriteReferences(const TempDir& dir)
    {
        dir.Write("ref1.pgm", ToBytes("P5 1 1 1\n"));
        dir.Write("ref8.pgm", ToBytes("P5 1 1 255\n"));
        dir.Write("ref12.pgm", ToBytes("P5 1 1 4095\n"));
        dir.Write("ref16.pgm", ToBytes("P5 1 1 65535\n"));
        dir.Write("ref17.pgm", ToBytes("P5 1 1 65536\n"));
        dir.Write("ref0.pgm", ToBytes("P5 1 1 0\n"));
        dir.Write("refneg.pgm", ToBytes("P5 1 1 -5\n"));
        dir.Write("xor.bin", {0xA5, 0x5A, 0xFF});
        dir.Write("empty.bin", {});
    }

    // Checks one run against what the case allows for the image.
    static void Judge(const RunResult& r, const Expect& expect, const TempDir& dir,
                      const std::string& output, bool raw)
    {
        ASSERT_EQ(r.signal, 0) << r.err;
        ASSERT_TRUE(expect.statuses.count(r.status)) << "status " << r.status << "\n" << r.err;
        if (r.status == 0) {
            EXPECT_EQ(r.err, "");
            ASSERT_GE(r.out.size(), 7u);
            EXPECT_EQ(r.out.substr(r.out.size() - 7), "\nDone.\n");
            int width = OutputField(r.out, "ImgImageWidth:  "),
                height = OutputField(r.out, "ImgImageHeight: "),
                bytes = OutputField(r.out, "ImgBYTEpp:      "),
                levelMax = OutputField(r.out, "ImgLevelMax:    ");
            std::string header = "P5\n" + std::to_string(width) + " " + std::to_string(height)
                                 + "\n" + std::to_string(levelMax) + "\n";
            Bytes file = dir.Read(output);
            std::size_t headerSize = raw ? 0 : header.size();
            EXPECT_EQ(file.size(), headerSize + (std::size_t)width * height * bytes);
            if (!raw && file.size() >= header.size()) {
                EXPECT_EQ(std::string(file.begin(), file.begin() + header.size()), header);
            }
            return;
        }
        EXPECT_FALSE(dir.Exists(output));
        EXPECT_EQ(r.out.find("\nOutputting to: "), std::string::npos);
        if (r.status == 8) {
            std::size_t at = r.err.find("check failed: ");
            ASSERT_NE(at, std::string::npos) << r.err;
            std::string condition = r.err.substr(at + 14);
            if (!condition.empty() && condition.back() == '\n') condition.pop_back();
            if (!expect.texts.empty()) {
                EXPECT_TRUE(expect.texts.count(condition)) << condition;
            }
            return;
        }
        const std::string banner = "\ngrayfix ERROR: ";
        ASSERT_EQ(r.err.rfind(banner, 0), 0u) << r.err;
        std::string message = r.err.substr(banner.size());
        if (!expect.texts.empty()) {
            EXPECT_TRUE(expect.texts.count(message)) << message;
        }
    }
};

// Under AddressSanitizer the leak check at exit costs two thirds of each run;
// it stays on for the 3x3 images and is left out for the others.
class LeakCheckSwitch {
public:
    LeakCheckSwitch()
    {
        const char* options = std::getenv("ASAN_OPTIONS");
        saved_ = options != nullptr ? options : "";
        hadOptions_ = options != nullptr;
    }
    ~LeakCheckSwitch() { Restore(); }
    void Set(bool leakCheck)
    {
        if (leakCheck) {
            Restore();
        } else {
            std::string options = saved_.empty() ? "" : saved_ + ":";
            setenv("ASAN_OPTIONS", (options + "detect_leaks=0").c_str(), 1);
        }
    }
private:
    void Restore()
    {
        if (hadOptions_) setenv("ASAN_OPTIONS", saved_.c_str(), 1);
        else unsetenv("ASAN_OPTIONS");
    }
    std::string saved_;
    bool hadOptions_;
};

// Under an emulator (a build for another processor) every run also starts the
// emulator, some 50 ms of processor time against about 1 ms natively, and the
// whole sweep (99 cases x 88 images) would take most of an hour. There each
// case runs every fifth image from an offset of its own: an odd stride keeps
// both byte orders and every shape in each case, and the offsets let the cases
// together cover every image.
#ifdef GRAYFIX_EMULATOR
constexpr std::size_t kImageStride = 5;
#else
constexpr std::size_t kImageStride = 1;
#endif

std::size_t CaseIndex(const Case& c)
{
    std::vector<Case> cases = AllCases();
    auto same = [&](const Case& other) { return std::string(other.name) == c.name; };
    return (std::size_t)(std::find_if(cases.begin(), cases.end(), same) - cases.begin());
}

TEST_P(ShapeSweep, EndsAsDocumented)
{
    const Case& c = GetParam();
    TempDir dir;
    WriteReferences(dir);
    int runs = 0;
    LeakCheckSwitch leakCheck;
    const std::vector<Image> images = AllImages();
    const std::size_t first = CaseIndex(c) % kImageStride;
    for (std::size_t i = first; i < images.size(); i += kImageStride) {
        const Image& image = images[i];
        leakCheck.Set(image.shape.width == 3);
        SCOPED_TRACE(image.Name());
        dir.Write("in.pgm", MakePgm(image.shape.width, image.shape.height, image.maxval,
                                    image.pixels, image.little));
        std::vector<std::string> args;
        if (image.little) args.push_back("-i:endian:Little");
        args.push_back("in.pgm");
        if (!c.switchText.empty()) args.push_back(c.switchText);
        bool raw = image.little;  // both writers, alternately
        if (raw) args.push_back("-o:RAW");
        args.push_back("out.img");
        std::remove(dir.Path("out.img").c_str());
        RunResult r = RunGrayfix(dir, args);
        Judge(r, c.expect(image), dir, "out.img", raw);
        ++runs;
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(images.size(), 88u);
    EXPECT_EQ(runs, (int)((images.size() - first + kImageStride - 1) / kImageStride));
}

INSTANTIATE_TEST_SUITE_P(AllSwitches, ShapeSweep, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
