// run_format.cpp - decoding of whole-run fuzz inputs (layout in run_format.h).

#include "run_format.h"

#include <cstdio>

#include "fuzz_support.h"

namespace runfmt {

namespace {
// Texts the numeric fields are most likely to trip over.
const char* const kSpecialNumbers[] = {
    "0", "-1", "1", "2", "2147483647", "-2147483648", "2147483648", "-2147483649",
    "99999999999999999999", "65535", "65536", "16", "17", "100", "101", "1000", "+3", " 2",
    "0x10", "", "1e3", "-0", "00007", "32767", "-32768", "4096", "46341", "255", "256", "8",
    "9", "15", "-65536", "3.5", "--1", "1 ",
};
constexpr int kSpecialCount = sizeof kSpecialNumbers / sizeof kSpecialNumbers[0];

const char* const kSpecialDeviations[] = {
    "0.5", "1", "2.5", "1e-4", "1e12", "1e308", "1e400", "nan", "inf", "-inf", "-1", "0", "-0",
    "0x1p4", "3e-320", "100", "65535.5", "", "x", "1e-400",
};
constexpr int kSpecialDeviationCount = sizeof kSpecialDeviations / sizeof kSpecialDeviations[0];

const char* const kJunkSwitches[] = {
    "-t:", "-t:Negendian", "-t:decorrelate:", "-t:soften", "-t:noise", "-t:xor",
    "-t:negendian:", "-t:crop", "-t:wgnoise", "-t:increasedepth:",
};

struct SwitchShape {
    const char* name;
    int fields;  // numbers; -1 one deviation, -2 a file name, 0 exact name
};
const SwitchShape kSwitches[TransformCount] = {
    {"", 0},          {"soften", 3},     {"softensquared", 3}, {"noise", 1},
    {"addnoise", 1},  {"spnoise", 1},    {"wgnoise", -1},      {"denoise", 2},
    {"downsize", 1},  {"crop", 4},       {"reducedepth", 1},   {"cropdepth", 1},
    {"cropdepthlike", -2}, {"cropclipdepth", 1}, {"increasedepth", 2}, {"decorrelate", 0},
    {"correlate", 0}, {"decorrelatemed", 0}, {"correlatemed", 0}, {"negendian", 0},
    {"xorfile", -2},  {"", 0},
};

struct Reader {
    const uint8_t* data;
    std::size_t size, pos = 0;
    uint8_t Byte() { return pos < size ? data[pos++] : 0; }
    std::vector<uint8_t> Take(std::size_t n)
    {
        std::size_t end = pos + n < size ? pos + n : size;
        std::vector<uint8_t> bytes(data + pos, data + end);
        pos = end;
        return bytes;
    }
};

std::string TailSuffix(uint8_t tail)
{
    switch (tail % 8) {
    case TailColon: return ":";
    case TailColonText: return ":x";
    case TailText: return "x";
    case TailColonNumber: return ":7";
    case TailBlank: return " ";
    case TailExtra: return ":1";
    default: return "";
    }
}

std::string TransformText(int transform, const uint8_t* params, uint8_t tail, uint8_t deviation,
                          const RunPaths& paths)
{
    const SwitchShape& shape = kSwitches[transform];
    if (transform == JunkSwitch)
        return kJunkSwitches[params[0] % (sizeof kJunkSwitches / sizeof kJunkSwitches[0])];
    std::string text = std::string("-t:") + shape.name;
    if (shape.fields == 0) {  // exact names: a tail makes them unknown
        if (tail % 8 == TailColon) text += ":";
        if (tail % 8 == TailText) text += "x";
        return text;
    }
    if (shape.fields == -2) {
        const std::string& file = transform == XorFile ? paths.xorFile : paths.reference;
        switch (tail % 8) {
        case TailColonNumber: return text + ":";
        case TailBlank: return text + ":" + paths.missing;
        case TailDrop: return text + ":" + paths.directory;
        case TailExtra: return text + ":" + paths.input;
        default: return text + ":" + file;
        }
    }
    if (shape.fields == -1) return text + ":" + DeviationText(deviation) + TailSuffix(tail);
    int fields = shape.fields - (tail % 8 == TailDrop ? 1 : 0);
    for (int i = 0; i < fields; ++i) text += ":" + NumberText(params[i]);
    return text + TailSuffix(tail);
}

// The description the -i:RAW switch gives when its fields are plain numbers.
bool RawDescription(const uint8_t* sel, int fieldCount, long long* width, long long* height,
                    long long* bpp, long long* skip)
{
    *bpp = 16;
    *skip = 0;
    bool plain = NumberValue(sel[0], width) && NumberValue(sel[1], height);
    if (fieldCount >= 3) plain = plain && NumberValue(sel[2], bpp);
    if (fieldCount == 4) plain = plain && NumberValue(sel[3], skip);
    return plain && *width > 0 && *height > 0 && *bpp >= 1 && *bpp <= 16 && *skip >= 0;
}

// Pads or cuts the pixel area after skip to width x height samples and, on
// request, reduces every sample to 0..maxval, so that most inputs get past
// the reader to the transform. Large images are left alone.
void FitPixelArea(std::vector<uint8_t>& file, long long skip, long long width, long long height,
               long long maxval, bool fit, bool mask, bool littleEndian)
{
    int bytesPerPixel = maxval > 255 ? 2 : 1;
    long long pixels = width * height;
    if (pixels > 4096 || skip > 4096) return;
    std::size_t need = (std::size_t)(skip + pixels * bytesPerPixel);
    if (fit) {
        std::size_t old = file.size();
        file.resize(need);
        for (std::size_t i = old; i < need; ++i) file[i] = (uint8_t)(i * 37 + 11);
    }
    if (!mask || file.size() != need) return;
    for (long long i = 0; i < pixels; ++i) {
        uint8_t* p = file.data() + skip + i * bytesPerPixel;
        if (bytesPerPixel == 1) {
            p[0] = (uint8_t)(p[0] % (maxval + 1));
        } else {
            int hi = littleEndian ? 1 : 0;
            int v = (p[hi] << 8 | p[1 - hi]) % (int)(maxval + 1);
            p[hi] = (uint8_t)(v >> 8);
            p[1 - hi] = (uint8_t)v;
        }
    }
}
}  // namespace

std::string NumberText(uint8_t selector)
{
    if (selector < 0xC0) return std::to_string((int)selector - 64);
    return kSpecialNumbers[(selector - 0xC0) % kSpecialCount];
}

bool NumberValue(uint8_t selector, long long* value)
{
    std::string text = NumberText(selector);
    if (text.empty() || text.size() > 11) return false;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    for (std::size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    *value = std::stoll(text);
    return *value >= -2147483648LL && *value <= 2147483647LL;
}

std::string DeviationText(uint8_t selector)
{
    if (selector < 0xC0) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", ((int)selector - 64) * 0.25);
        return text;
    }
    return kSpecialDeviations[(selector - 0xC0) % kSpecialDeviationCount];
}

RunCase DecodeRunCase(const uint8_t* data, std::size_t size, const RunPaths& paths)
{
    Reader in{data, size};
    uint8_t flags = in.Byte();
    int transform = in.Byte() % TransformCount;
    uint8_t raw[4];
    for (uint8_t& b : raw) b = in.Byte();
    int fieldChoice = in.Byte() % 4;
    uint8_t params[4];
    for (uint8_t& b : params) b = in.Byte();
    uint8_t tail = in.Byte();
    uint8_t deviation = in.Byte();
    std::size_t referenceLength = in.Byte();
    std::size_t xorLength = in.Byte();

    RunCase run;
    run.reference = in.Take(referenceLength);
    run.xorData = in.Take(xorLength);
    run.input = in.Take(size);

    int kind = flags & 3;
    bool little = (flags & EndianSwitch) && (flags & EndianLittle);
    if (flags & EndianSwitch) run.args.push_back(little ? "-i:endian:Little" : "-i:endian:Big");
    int rawFields = fieldChoice == 3 ? 4 : fieldChoice + 2;
    if (kind == RawInput || kind == RawThenLikeInput) {
        std::string text = "-i:RAW";
        for (int i = 0; i < rawFields; ++i) text += ":" + NumberText(raw[i]);
        if (fieldChoice == 3) text += "x";
        run.args.push_back(text);
    }
    if (kind == RawLikeInput || kind == RawThenLikeInput)
        run.args.push_back("-i:RAW:like:" + paths.reference);
    run.args.push_back(paths.input);

    // Fit the pixel area to the description the input switches give.
    bool fit = flags & FitPixels, mask = flags & MaskSamples;
    long long width, height, bpp, skip;
    if (kind == PgmInput) {
        PgmHeaderRef ref = ParsePgmHeaderRef(run.input.data(), run.input.size());
        if (ref.result == PgmHeaderRef::Good) {
            run.describedBytes = ref.width * ref.height * (ref.maxval > 255 ? 2 : 1);
            FitPixelArea(run.input, (long long)ref.skip, ref.width, ref.height, ref.maxval, fit,
                         mask, little);
        }
    } else if (kind == RawInput) {
        if (fieldChoice != 3 && RawDescription(raw, rawFields, &width, &height, &bpp, &skip)) {
            run.describedBytes = width * height * (bpp > 8 ? 2 : 1);
            FitPixelArea(run.input, skip, width, height, (1LL << bpp) - 1, fit, mask, little);
        }
    } else {
        PgmHeaderRef ref = ParsePgmHeaderRef(run.reference.data(), run.reference.size());
        if (ref.result == PgmHeaderRef::Good) {
            run.describedBytes = ref.width * ref.height * (ref.maxval > 255 ? 2 : 1);
            FitPixelArea(run.input, 0, ref.width, ref.height, ref.maxval, fit, mask, little);
        }
    }

    run.transform = transform;
    run.little = little;
    run.rawOutput = flags & OutRawSwitch;
    if (transform != NoTransform)
        run.args.push_back(TransformText(transform, params, tail, deviation, paths));
    if (flags & OutRawSwitch) run.args.push_back("-o:RAW");
    if (!(flags & NoOutfile)) run.args.push_back(paths.output);
    return run;
}

}  // namespace runfmt
