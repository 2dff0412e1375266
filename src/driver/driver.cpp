// driver.cpp - the fixed-order command line: input switches, infile, one
// transform, output switch, outfile, and the read-report-transform-write run.

#include "driver/driver.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/console.h"
#include "image/fileio.h"
#include "image/image.h"
#include "image/pgm.h"
#include "image/rawio.h"
#include "image/stats.h"
#include "transforms/decorrelate.h"
#include "transforms/denoise/denoise.h"
#include "transforms/bitwise.h"
#include "transforms/geometry.h"
#include "transforms/increasedepth.h"
#include "transforms/noise.h"
#include "transforms/reducedepth.h"
#include "transforms/soften/soften.h"
#include "transforms/wgnoise.h"

int OutRaw = 0;

static bool IsScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int ScanSwitch(const char* text, const char* pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    int count = 0;
    const char* in = text;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (*p != '%') {
            if (*in == '\0') { count = count == 0 ? -1 : count; break; }
            if (*in != *p) break;
            ++in;
            continue;
        }
        ++p;
        if (*p == 'c') {
            if (*in == '\0') { count = count == 0 ? -1 : count; break; }
            *va_arg(args, char*) = *in++;
            ++count;
            continue;
        }
        while (IsScanSpace(*in)) ++in;  // %d and %lg skip leading white space
        if (*in == '\0') { count = count == 0 ? -1 : count; break; }
        char* end = nullptr;
        if (*p == 'd') {
            const char* digits = in + (*in == '+' || *in == '-');
            if (*digits < '0' || *digits > '9') break;
            errno = 0;
            long value = std::strtol(in, &end, 10);
            if (errno == ERANGE || value < INT_MIN || value > INT_MAX) break;
            *va_arg(args, int*) = (int)value;
        } else {  // "lg"
            ++p;
            double value = std::strtod(in, &end);
            if (end == in) break;
            *va_arg(args, double*) = value;
        }
        in = end;
        ++count;
    }
    va_end(args);
    return count;
}

static bool StartsWith(const char* text, const char* literal)
{
    return std::strncmp(text, literal, std::strlen(literal)) == 0;
}

// -i:RAW:width:height[:bpp[:skip]], -i:RAW:like:file, -i:endian:Little|Big.
void ApplyInputSwitch(const char* arg)
{
    if (StartsWith(arg, "-i:RAW:like:")) {
        ImgRaw = 1;
        ReadPgmHeader(arg + std::strlen("-i:RAW:like:"));
        ImgRawSkip = 0;
    } else if (StartsWith(arg, "-i:RAW")) {
        ImgRaw = 1;
        int width = 0, height = 0, bpp = 16, skip = 0;
        char tail;
        int count = ScanSwitch(arg, "-i:RAW:%d:%d:%d:%d%c", &width, &height, &bpp, &skip, &tail);
        if (count < 2 || count > 4) FatalError("Bad -i:RAW:width:height[:bpp[:skip]]", ExitCommandLine);
        if (count == 2) bpp = 16;
        if (count < 4) skip = 0;
        ImgImageWidth = width;
        ImgImageHeight = height;
        Imgbpp = bpp;
        ImgRawSkip = skip;
        CHECK(ImgImageWidth>0 && ImgImageHeight>0 && Imgbpp>0 && Imgbpp <= 16 && ImgRawSkip >= 0);
        ImgSetDepth(Imgbpp);
    } else if (std::strcmp(arg, "-i:endian:Little") == 0) {
        ImgBigEndian = 0;
    } else if (std::strcmp(arg, "-i:endian:Big") == 0) {
        ImgBigEndian = 1;
    } else {
        FatalError("Bad switch -i:", ExitCommandLine);
    }
}

// The three percentage switches share their pattern and range.
static int ScanPercent(const char* arg, const char* pattern, const char* refusal)
{
    int percent;
    char tail;
    if (ScanSwitch(arg, pattern, &percent, &tail) != 1 || percent < 0 || percent > 100)
        FatalError(refusal, ExitCommandLine);
    return percent;
}

// The depth-lowering switches take one new depth in 1..Imgbpp-1.
static int ScanLowerDepth(const char* arg, const char* pattern, const char* refusal)
{
    int newDepth;
    char tail;
    if (ScanSwitch(arg, pattern, &newDepth, &tail) != 1 || newDepth < 1 || newDepth >= Imgbpp)
        FatalError(refusal, ExitCommandLine);
    return newDepth;
}

// Validates one -t: switch against the image just read, then runs it. The
// prefixes all end in ':' and exact names are compared whole, so at most one
// row can match.
void ApplyTransformSwitch(const char* arg)
{
    int a, b, c, d;
    double deviation;
    char tail;
    if (StartsWith(arg, "-t:soften:")) {
        if (ScanSwitch(arg, "-t:soften:%d:%d:%d:%c", &a, &b, &c, &tail) != 3 || a < 1)
            FatalError("Bad -t:soften:radius:centerweight:neighborweight", ExitCommandLine);
        ImgTransformSoften(a, b, c);
    } else if (StartsWith(arg, "-t:softensquared:")) {
        if (ScanSwitch(arg, "-t:softensquared:%d:%d:%d:%c", &a, &b, &c, &tail) != 3 || a < 1)
            FatalError("Bad -t:softensquared:radius:centerweight:neighborweight", ExitCommandLine);
        ImgTransformSoftenSquared(a, b, c);
    } else if (StartsWith(arg, "-t:noise:")) {
        ImgTransformNoise(ScanPercent(arg, "-t:noise:%d:%c", "Bad -t:noise:percent"));
    } else if (StartsWith(arg, "-t:addnoise:")) {
        ImgTransformAddNoise(ScanPercent(arg, "-t:addnoise:%d:%c", "Bad -t:addnoise:percent"));
    } else if (StartsWith(arg, "-t:spnoise:")) {
        ImgTransformSPNoise(ScanPercent(arg, "-t:spnoise:%d:%c", "Bad -t:spnoise:percent"));
    } else if (StartsWith(arg, "-t:wgnoise:")) {
        if (ScanSwitch(arg, "-t:wgnoise:%lg:%c", &deviation, &tail) != 1 || !(deviation > 0))
            FatalError("Bad -t:wgnoise:deviation", ExitCommandLine);
        ImgTransformWGNoise(deviation);
    } else if (StartsWith(arg, "-t:denoise:")) {
        if (ScanSwitch(arg, "-t:denoise:%d:%d:%c", &a, &b, &tail) != 2 || b < 0)
            FatalError("Bad -t:denoise:radius:mode", ExitCommandLine);
        ImgTransformDenoise(a, b);
    } else if (StartsWith(arg, "-t:downsize:")) {
        if (ScanSwitch(arg, "-t:downsize:%d:%c", &a, &tail) != 1 || a < 1 || a > 100)
            FatalError("Bad -t:downsize:times", ExitCommandLine);
        ImgTransformDownsize(a);
    } else if (StartsWith(arg, "-t:crop:")) {
        // x0 < width and w <= width - x0 keep every sum inside the int range.
        // An empty rectangle would keep the whole image and call it cropped.
        if (ScanSwitch(arg, "-t:crop:%d:%d:%d:%d:%c", &a, &b, &c, &d, &tail) != 4
            || a < 0 || a >= ImgImageWidth || c < 1 || c > ImgImageWidth - a
            || b < 0 || b >= ImgImageHeight || d < 1 || d > ImgImageHeight - b)
            FatalError("Bad -t:crop:x0:y0:width:height", ExitCommandLine);
        ImgTransformCrop(a, b, c, d);
    } else if (StartsWith(arg, "-t:reducedepth:")) {
        ImgTransformReduceDepth(
            ScanLowerDepth(arg, "-t:reducedepth:%d:%c", "Bad -t:reducedepth:newdepth"));
    } else if (StartsWith(arg, "-t:cropdepth:")) {
        ImgTransformCropDepth(
            ScanLowerDepth(arg, "-t:cropdepth:%d:%c", "Bad -t:cropdepth:newdepth"), 0);
    } else if (StartsWith(arg, "-t:cropdepthlike:")) {
        ImgTransformCropDepthLike(arg + std::strlen("-t:cropdepthlike:"));
    } else if (StartsWith(arg, "-t:cropclipdepth:")) {
        ImgTransformCropDepth(
            ScanLowerDepth(arg, "-t:cropclipdepth:%d:%c", "Bad -t:cropclipdepth:newdepth"), 1);
    } else if (StartsWith(arg, "-t:increasedepth:")) {
        if (ScanSwitch(arg, "-t:increasedepth:%d:%d:%c", &a, &b, &tail) != 2
            || a <= Imgbpp || a > 16 || (b != 0 && b != 1))
            FatalError("Bad -t:increasedepth:newdepth:mode", ExitCommandLine);
        ImgTransformIncreaseDepth(a, b);
    } else if (std::strcmp(arg, "-t:decorrelate") == 0) {
        if (Imgbpp == 16)
            FatalError("Bit depths 1-15 are supported in -t:decorrelate ", ExitCommandLine);
        ImgTransformDecorrelate();
    } else if (std::strcmp(arg, "-t:correlate") == 0) {
        if (Imgbpp == 1) FatalError("Bit depths 2-16 are supported in -t:correlate ", ExitCommandLine);
        ImgTransformCorrelate();
    } else if (std::strcmp(arg, "-t:decorrelatemed") == 0) {
        if (Imgbpp == 16)
            FatalError("Bit depths 1-15 are supported in -t:decorrelatemed ", ExitCommandLine);
        ImgTransformDecorrelateMED();
    } else if (std::strcmp(arg, "-t:correlatemed") == 0) {
        if (Imgbpp == 1)
            FatalError("Bit depths 2-16 are supported in -t:correlatemed ", ExitCommandLine);
        ImgTransformCorrelateMED();
    } else if (std::strcmp(arg, "-t:negendian") == 0) {
        ImgTransformNegEndian();
    } else if (StartsWith(arg, "-t:xorfile:")) {
        ImgTransformXorFile(arg + std::strlen("-t:xorfile:"));
    } else {
        FatalError("Bad switch -t", ExitCommandLine);
    }
}

// What the statistics depend on besides the pixel values.
struct ImageState {
    const unsigned char* data;
    int width, height, bytepp, bpp, levelMax, bigEndian;
    bool operator==(const ImageState&) const = default;
};

static ImageState CurrentImageState()
{
    return {ImgData, ImgImageWidth, ImgImageHeight, ImgBYTEpp, Imgbpp, ImgLevelMax, ImgBigEndian};
}

// Brings the statistics up to date after the transform switch ran, recomputing
// only what it may have changed. Crop and downsize change pixels only when
// they change the size: a crop as large as the image starts at (0, 0), and
// only a downsize by 1 keeps the size. The byte-order swap keeps every
// intensity and changes only how it is stored, so only the checksum of the
// stored bytes.
static void UpdateStatistics(const char* transform, const ImageState& before)
{
    ImageState after = CurrentImageState();
    if ((StartsWith(transform, "-t:crop:") || StartsWith(transform, "-t:downsize:"))
        && after == before)
        return;
    if (std::strcmp(transform, "-t:negendian") == 0) {
        after.bigEndian = before.bigEndian;
        if (after == before) {
            RecomputeByteCRC32();
            return;
        }
    }
    PrintImgStats();
}

// Looks ahead along the fixed order for the names that are "-". Standard input
// can be read by one of the input file and the files of -i:RAW:like:,
// -t:cropdepthlike: and -t:xorfile:, not by two. An output of "-" is the image
// on standard output, so the reports move to standard error.
static void PlanStdStreams(int argc, char** argv)
{
    int arg = 1, readers = 0;
    for (; arg < argc && StartsWith(argv[arg], "-i:"); ++arg)
        readers += std::strcmp(argv[arg], "-i:RAW:like:-") == 0;
    if (arg < argc) readers += IsStdStream(argv[arg++]);
    if (arg < argc && StartsWith(argv[arg], "-t:")) {
        readers += std::strcmp(argv[arg], "-t:cropdepthlike:-") == 0
            || std::strcmp(argv[arg], "-t:xorfile:-") == 0;
        ++arg;
    }
    if (arg < argc && StartsWith(argv[arg], "-o:RAW")) ++arg;
    if (readers > 1) FatalError("Only one file can be - (standard input)", ExitCommandLine);
    SendReportsTo(arg < argc && IsStdStream(argv[arg]) ? stderr : stdout);
}

// A report that cannot be written (standard output full, closed, failing) is
// a failed run like a failed image write. A reader that stops early (`| head`)
// still ends the run by SIGPIPE in the flush, as Unix tools do.
static void CheckReportsWritten()
{
    if (!ReportsWritten()) FatalError("PrintMsg: Error writing standard output", ExitOutputFile);
}

static bool LooksLikeSwitch(const char* name)
{
    return StartsWith(name, "-t:") || StartsWith(name, "-i:") || StartsWith(name, "-o:")
           || StartsWith(name, "--");
}

// The fixed order takes whatever stands at the output position as the file
// name and ignores what follows it. That stays, but a mistyped switch or a
// second transform should not pass in silence: say so on standard error,
// after the reports printed so far.
static void WarnAboutOutputPosition(int argc, char** argv, int arg)
{
    if (!LooksLikeSwitch(argv[arg]) && arg + 1 >= argc) return;
    std::fflush(stdout);
    if (LooksLikeSwitch(argv[arg]))
        std::fprintf(stderr, "grayfix: warning: the output file name %s looks like a switch\n",
                     argv[arg]);
    if (arg + 1 < argc) {
        std::fputs("grayfix: warning: ignored after the output file:", stderr);
        for (int next = arg + 1; next < argc; ++next) std::fprintf(stderr, " %s", argv[next]);
        std::fputs("\n", stderr);
    }
}

// The output of a run without a transform, looked up along the fixed order
// before the input is read; null when a transform follows or no output is
// named. Only such a run may keep its pixels in a mapping of the input file.
static const char* UntransformedOutput(int argc, char** argv, int arg)
{
    if (arg >= argc || StartsWith(argv[arg], "-t:")) return nullptr;
    if (StartsWith(argv[arg], "-o:RAW")) ++arg;
    return arg < argc ? argv[arg] : nullptr;
}

int GrayfixMain(int argc, char** argv)
{
    if (argc < 2) {
        PrintUsage();
        FatalError("no params", ExitCommandLine);
    }
    // The two words people try first; as file names they could only fail.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        PrintUsage();
        CheckReportsWritten();
        return ExitSuccess;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        PrintMsg("grayfix %s\n", GRAYFIX_VERSION);
        CheckReportsWritten();
        return ExitSuccess;
    }
    PlanStdStreams(argc, argv);
    ImgRaw = 0;
    ImgBigEndian = 1;
    int arg = 1;
    for (; arg < argc && StartsWith(argv[arg], "-i:"); ++arg) ApplyInputSwitch(argv[arg]);
    if (arg >= argc) FatalError("no infile", ExitCommandLine);

    ImgFileName = argv[arg++];
    if (ImgRaw == 0) ReadPgmHeader(ImgFileName);
    PrintImgInfo("Input Image");
    if (const char* output = UntransformedOutput(argc, argv, arg)) {
        ImgData = MapOrReadRaw(ImgFileName, ImgRawSkip, ImgImageWidth, ImgImageHeight, ImgBYTEpp, output);
        // A mapped input cut short ends the run in a signal handler, which
        // cannot flush what is reported so far: it goes out now.
        if (IsMappedPixelBuffer(ImgData)) (void)ReportsWritten();
    } else {
        ImgData = ReadRaw(ImgFileName, ImgRawSkip, ImgImageWidth, ImgImageHeight, ImgBYTEpp);
    }
    PrintImgStats();
    ReportImgStats();
    PrintMsg("\n");

    if (arg >= argc) FatalError("No outfile", ExitCommandLine);
    // The second report repeats the first unless the transform step may have
    // changed the image: the statistics are computed again only then.
    if (StartsWith(argv[arg], "-t:")) {
        const char* transform = argv[arg++];
        ImageState before = CurrentImageState();
        ApplyTransformSwitch(transform);
        UpdateStatistics(transform, before);
    }
    ReportImgStats();

    if (arg >= argc) FatalError("No outfile", ExitCommandLine);
    OutRaw = 0;
    if (StartsWith(argv[arg], "-o:RAW")) {
        OutRaw = 1;
        if (++arg >= argc) FatalError("No outfile", ExitCommandLine);
    }
    ImgFileName = argv[arg];
    WarnAboutOutputPosition(argc, argv, arg);
    PrintImgInfo("Outputting to");
    CheckReportsWritten();  // before the image, so a failed run leaves no file
    WriteImage(ImgFileName, ImgData, OutRaw, ImgImageWidth, ImgImageHeight, ImgBYTEpp);
    PrintMsg("\nDone");
    ReleasePixelBuffer(ImgData);
    ImgData = nullptr;
    PrintMsg(".\n");
    CheckReportsWritten();
    return ExitSuccess;
}
