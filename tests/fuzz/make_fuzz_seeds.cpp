// make_fuzz_seeds.cpp - writes the seed corpus of both fuzz targets:
//   make_fuzz_seeds <corpus dir>   ->  <dir>/fuzz_pgm_read/*, <dir>/fuzz_run/*
// Seeds are small valid (and a few almost valid) cases, so that fuzzing starts
// from inputs that reach every reader branch and every transform.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_format.h"

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;
using namespace runfmt;

static Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

static void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// width x height samples counting up from first, wrapped to 0..maxval.
static Bytes Samples(int width, int height, int maxval, int first = 0, bool little = false)
{
    Bytes bytes;
    for (int i = 0; i < width * height; ++i) {
        int v = (first + i * 97) % (maxval + 1);
        if (maxval <= 255) {
            bytes.push_back((uint8_t)v);
        } else if (little) {
            bytes.push_back((uint8_t)v);
            bytes.push_back((uint8_t)(v >> 8));
        } else {
            bytes.push_back((uint8_t)(v >> 8));
            bytes.push_back((uint8_t)v);
        }
    }
    return bytes;
}

static Bytes Pgm(int width, int height, int maxval, bool little = false)
{
    Bytes file = Text("P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n"
                      + std::to_string(maxval) + "\n");
    Append(file, Samples(width, height, maxval, 0, little));
    return file;
}

static void Save(const fs::path& dir, const std::string& name, const Bytes& bytes)
{
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

static void PgmReadSeeds(const fs::path& dir)
{
    struct Seed {
        const char* name;
        uint8_t control;  // bit 0: little-endian samples
        Bytes file;
    };
    Bytes comment = Text("P5\n# a comment\n3 2\n255\n");
    Append(comment, Samples(3, 2, 255));
    Bytes crlf = Text("P5 3 2 255\r\n");
    Append(crlf, Samples(3, 2, 255));
    Bytes glued = Text("P53#c\r\n2#d\n7 ");
    Append(glued, Samples(3, 2, 7));
    Bytes spaceFirst = Text("P5 2 2 255 #");
    Append(spaceFirst, Samples(2, 2, 255));
    Bytes twoLf = Text("P5 2 1 255\n\n");
    Append(twoLf, Bytes{1});
    Bytes tooLong = Pgm(2, 2, 255);
    tooLong.push_back('\n');
    Bytes tooShort = Pgm(2, 2, 1000);
    tooShort.pop_back();
    Bytes above = Text("P5\n2 1\n200\n");
    Append(above, Bytes{200, 201});
    const Seed seeds[] = {
        {"plain8", 0, Pgm(3, 2, 255)},
        {"maxval1", 0, Pgm(4, 2, 1)},
        {"maxval200", 0, Pgm(3, 3, 200)},
        {"maxval256", 0, Pgm(2, 2, 256)},
        {"maxval1000_le", 1, Pgm(3, 1, 1000, true)},
        {"maxval65535", 0, Pgm(2, 3, 65535)},
        {"comment", 0, comment},
        {"crlf", 0, crlf},
        {"glued", 0, glued},
        {"space_terminator", 0, spaceFirst},
        {"second_lf_is_data", 0, twoLf},
        {"too_long", 0, tooLong},
        {"too_short", 0, tooShort},
        {"above_maxval", 0, above},
        {"huge", 0, Text("P5\n65535 65535\n65535\n")},
        {"negative", 0, Text("P5 -3 2 255\n")},
        {"bad_magic", 0, Text("P6 1 1 255\n\x01")},
    };
    for (const Seed& seed : seeds) {
        Bytes input{seed.control};
        Append(input, seed.file);
        Save(dir, seed.name, input);
    }
}

// One whole-run seed; the fields follow the layout of run_format.h.
struct RunSeed {
    uint8_t flags = FitPixels | MaskSamples;
    Transform transform = NoTransform;
    uint8_t raw[4] = {Selector(3), Selector(2), Selector(12), Selector(0)};
    uint8_t rawFields = 1;  // three fields
    uint8_t params[4] = {Selector(1), Selector(8), Selector(1), Selector(0)};
    uint8_t tail = TailNone;
    uint8_t deviation = Selector(10);  // 2.5
    Bytes reference, xorData, input;

    Bytes Encode() const
    {
        Bytes bytes{flags, (uint8_t)transform, raw[0], raw[1], raw[2], raw[3], rawFields,
                    params[0], params[1], params[2], params[3], tail, deviation,
                    (uint8_t)reference.size(), (uint8_t)xorData.size()};
        Append(bytes, reference);
        Append(bytes, xorData);
        Append(bytes, input);
        return bytes;
    }
};

static void RunSeeds(const fs::path& dir)
{
    // Typical parameters per transform (selectors hold plain numbers).
    struct Params {
        Transform transform;
        int p[4];
    };
    const Params params[] = {
        {NoTransform, {0, 0, 0, 0}},     {Soften, {1, 8, 1, 0}},
        {SoftenSquared, {1, 9, -1, 0}},  {Noise, {50, 0, 0, 0}},
        {AddNoise, {30, 0, 0, 0}},       {SPNoise, {20, 0, 0, 0}},
        {WGNoise, {0, 0, 0, 0}},         {Denoise, {1, 3, 0, 0}},
        {Downsize, {2, 0, 0, 0}},        {Crop, {1, 0, 2, 2}},
        {ReduceDepth, {4, 0, 0, 0}},     {CropDepth, {7, 0, 0, 0}},
        {CropDepthLike, {0, 0, 0, 0}},   {CropClipDepth, {4, 0, 0, 0}},
        {IncreaseDepth, {16, 1, 0, 0}},  {Decorrelate, {0, 0, 0, 0}},
        {Correlate, {0, 0, 0, 0}},       {DecorrelateMED, {0, 0, 0, 0}},
        {CorrelateMED, {0, 0, 0, 0}},    {NegEndian, {0, 0, 0, 0}},
        {XorFile, {0, 0, 0, 0}},         {JunkSwitch, {1, 0, 0, 0}},
    };
    // Inputs: an 8-bit PGM, a 16-bit little-endian PGM, a PGM with maxval
    // 200, a 12-bit RAW written as RAW, and a RAW described like a 9-bit PGM.
    for (const Params& p : params) {
        for (int input = 0; input < 5; ++input) {
            RunSeed seed;
            seed.transform = p.transform;
            for (int i = 0; i < 4; ++i) seed.params[i] = Selector(p.p[i]);
            // crop-depth-like gets a deeper reference: one-byte samples must widen
            seed.reference = Text(p.transform == CropDepthLike ? "P5 1 1 4095\n" : "P5\n2 2\n255\n");
            seed.xorData = Bytes{0xA5, 0x0F, 0x3C};
            switch (input) {
            case 0: seed.input = Pgm(4, 3, 255); break;
            case 1:
                seed.flags |= EndianSwitch | EndianLittle;
                seed.input = Pgm(3, 3, 65535, true);
                break;
            case 2: seed.input = Pgm(3, 2, 200); break;
            case 3:
                seed.flags |= (uint8_t)RawInput | OutRawSwitch;
                seed.input = Samples(3, 2, 4095, 5);
                break;
            default:
                seed.flags |= (uint8_t)RawLikeInput;
                seed.reference = Text("P5 5 1 511\n");
                seed.input = Samples(5, 1, 511, 7);
                break;
            }
            char name[64];
            std::snprintf(name, sizeof name, "t%02d_in%d", (int)p.transform, input);
            Save(dir, name, seed.Encode());
        }
    }
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <corpus dir>\n");
        return 2;
    }
    fs::path root = argv[1];
    fs::create_directories(root / "fuzz_pgm_read");
    fs::create_directories(root / "fuzz_run");
    PgmReadSeeds(root / "fuzz_pgm_read");
    RunSeeds(root / "fuzz_run");
    return 0;
}
