// run_format.h - how a whole-run fuzz input becomes a command line and the
// files it names. Shared by the fuzz target, which decodes, and the seed
// generator, which encodes.
//
// Layout (bytes past the end read as 0):
//   [0]      flags: bits 0-1 input kind (InputKind), bit 2 an -i:endian switch,
//            bit 3 that switch says Little, bit 4 fit the pixel area to the
//            described size, bit 5 mask the samples to the maximum, bit 6
//            -o:RAW, bit 7 leave out the outfile
//   [1]      transform (Transform, modulo TransformCount)
//   [2..5]   -i:RAW width, height, bpp, skip (number selectors)
//   [6]      -i:RAW field count: 0 -> 2 fields, 1 -> 3, 2 -> 4, 3 -> 4 and a trailing 'x'
//   [7..10]  transform parameters (number selectors)
//   [11]     tail variant (Tail)
//   [12]     deviation selector for -t:wgnoise:
//   [13]     length of the reference PGM file (cropdepthlike, -i:RAW:like:)
//   [14]     length of the XOR file
//   [15...]  the reference file, the XOR file, then the input file
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace runfmt {

enum InputKind { PgmInput = 0, RawInput = 1, RawLikeInput = 2, RawThenLikeInput = 3 };

enum Flag : uint8_t {
    EndianSwitch = 1 << 2,
    EndianLittle = 1 << 3,
    FitPixels = 1 << 4,
    MaskSamples = 1 << 5,
    OutRawSwitch = 1 << 6,
    NoOutfile = 1 << 7,
};

enum Transform {
    NoTransform, Soften, SoftenSquared, Noise, AddNoise, SPNoise, WGNoise, Denoise, Downsize,
    Crop, ReduceDepth, CropDepth, CropDepthLike, CropClipDepth, IncreaseDepth, Decorrelate,
    Correlate, DecorrelateMED, CorrelateMED, NegEndian, XorFile, JunkSwitch, TransformCount
};

// What follows the last field. For file switches: the reference or XOR file,
// an empty name, a missing file, a directory, the input file itself.
enum Tail { TailNone, TailColon, TailColonText, TailText, TailColonNumber, TailBlank, TailDrop,
            TailExtra };

constexpr std::size_t kHeaderBytes = 15;

// Number selector: below 0xC0 the decimal (selector - 64); from 0xC0 on, one
// of the special texts (huge, negative, out of int range, odd syntax).
std::string NumberText(uint8_t selector);
// The value a selector stands for, when its text is a plain in-range decimal.
bool NumberValue(uint8_t selector, long long* value);
// A selector that stands for value (-64..127).
inline uint8_t Selector(int value) { return (uint8_t)(value + 64); }
std::string DeviationText(uint8_t selector);

struct RunCase {
    std::vector<std::string> args;  // argv without the program name
    std::vector<uint8_t> input, reference, xorData;
    // Width x height x bytes per pixel as the input switches or the header
    // describe the image, when that can be told in advance (else -1).
    long long describedBytes = -1;
    int transform = NoTransform;  // the switch the case names
    bool little = false;          // -i:endian:Little given
    bool rawOutput = false;       // -o:RAW given
};

// Paths: the files are written under these names; missing names a file that
// never exists, directory an existing directory.
struct RunPaths {
    std::string input, reference, xorFile, output, missing, directory;
};

RunCase DecodeRunCase(const uint8_t* data, std::size_t size, const RunPaths& paths);

}  // namespace runfmt
