// fuzz_run.cpp - fuzz target for a whole grayfix run: input switches, input
// file bytes, any transform switch with hostile numbers, -o:RAW and the
// output, decoded from one fuzz input (run_format.h).
//
// Every run must end in success with a well-formed output file, or in a
// documented stop (message and status from the table, or a check that input
// may reach) with no output file unless the writer itself failed.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "fuzz_support.h"
#include "image/image.h"
#include "run_format.h"

// The run's files, and the output of the inverse that follows a decorrelation.
struct Paths : runfmt::RunPaths {
    std::string inverse;
};
static Paths paths;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInit();
    paths.input = ScratchPath("in.pgm");
    paths.reference = ScratchPath("ref.pgm");
    paths.xorFile = ScratchPath("xor.bin");
    paths.output = ScratchPath("out.pgm");
    paths.inverse = ScratchPath("inverse.pgm");
    paths.missing = ScratchPath("missing/none.pgm");
    paths.directory = ScratchPath("");
    return 0;
}

static std::vector<uint8_t> ReadWhole(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::getc(f)) != EOF) bytes.push_back((uint8_t)c);
        std::fclose(f);
    }
    return bytes;
}

// The output of a successful run: the header the writer promises (unless
// RAW) followed by exactly width x height samples.
static void CheckOutput()
{
    if (FileSize(paths.output) < 0) Finding("a successful run wrote no output file");
    std::vector<uint8_t> file = ReadWhole(paths.output);
    std::size_t pixels = (std::size_t)ImgImageWidth * ImgImageHeight * ImgBYTEpp;
    std::size_t skip = 0;
    if (!OutRaw) {
        char header[64];
        int length = std::snprintf(header, sizeof header, "P5\n%d %d\n%d\n", ImgImageWidth,
                                   ImgImageHeight, ImgLevelMax);
        if (file.size() < (std::size_t)length || std::string(file.begin(), file.begin() + length) != header)
            Finding("the output header is not \"%s\"", header);
        skip = (std::size_t)length;
        PgmHeaderRef ref = ParsePgmHeaderRef(file.data(), file.size());
        if (ref.result != PgmHeaderRef::Good || ref.skip != skip)
            Finding("the output header does not read back");
    }
    if (file.size() != skip + pixels)
        Finding("output of %zu bytes for %zu header and %zu pixel bytes", file.size(), skip, pixels);
    // The depth rule, with a PGM maxval anywhere in 2^(bpp-1) .. 2^bpp - 1.
    if (Imgbpp < 1 || Imgbpp > 16 || ImgBYTEpp != (Imgbpp - 1) / 8 + 1
        || ImgLevelMax > (int)BppMask[Imgbpp] || ImgLevelMax < (int)(BppMask[Imgbpp] >> 1) + 1)
        Finding("inconsistent description after the run: bpp %d BYTEpp %d LevelMax %d", Imgbpp,
                ImgBYTEpp, ImgLevelMax);
}

// A decorrelation written as PGM must come back exactly through its inverse:
// the second run reads the residual image and must restore the input samples.
static void CheckInverse(const runfmt::RunCase& run)
{
    bool med = run.transform == runfmt::DecorrelateMED;
    int depth = Imgbpp - 1;  // of the input
    std::size_t inputSkip = (std::size_t)ImgRawSkip;
    std::size_t pixelBytes = (std::size_t)ImgImageWidth * ImgImageHeight * ((depth - 1) / 8 + 1);
    std::vector<std::string> texts{"grayfix"};
    if (run.little) texts.push_back("-i:endian:Little");
    texts.push_back(paths.output);
    texts.push_back(med ? "-t:correlatemed" : "-t:correlate");
    texts.push_back(paths.inverse);
    std::vector<char*> argv;
    for (std::string& t : texts) argv.push_back(t.data());
    argv.push_back(nullptr);
    unlink(paths.inverse.c_str());
    ResetImageStore();
    Outcome outcome = RunGrayfixCall([&] { GrayfixMain((int)texts.size(), argv.data()); });
    if (outcome.stopped)
        Finding("the inverse of a decorrelation stopped: \"%s\"", outcome.text.c_str());
    if (ReleaseLeftovers() != 0) Finding("blocks or streams held after the inverse");
    std::vector<uint8_t> restored = ReadWhole(paths.inverse);
    PgmHeaderRef ref = ParsePgmHeaderRef(restored.data(), restored.size());
    if (Imgbpp != depth || ref.result != PgmHeaderRef::Good
        || restored.size() != ref.skip + pixelBytes || run.input.size() < inputSkip + pixelBytes
        || !std::equal(restored.begin() + ref.skip, restored.end(), run.input.begin() + inputSkip))
        Finding("decorrelate%s then correlate%s does not restore the %d-bit input", med ? "med" : "",
                med ? "med" : "", depth);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    runfmt::RunCase run = runfmt::DecodeRunCase(data, size, paths);
    if (SkipLargeBuffer(run.describedBytes)) return 0;
    WriteScratch(paths.input, run.input.data(), run.input.size());
    WriteScratch(paths.reference, run.reference.data(), run.reference.size());
    WriteScratch(paths.xorFile, run.xorData.data(), run.xorData.size());
    unlink(paths.output.c_str());

    std::vector<std::string> texts = run.args;
    texts.insert(texts.begin(), "grayfix");
    std::vector<char*> argv;
    for (std::string& t : texts) argv.push_back(t.data());
    argv.push_back(nullptr);

    if (std::getenv("GRAYFIX_FUZZ_SHOW") != nullptr) {
        std::string line = "grayfix";
        for (const std::string& a : run.args) line += " '" + a + "'";
        Note("%s\n  (input %zu bytes, reference %zu, xor %zu)", line.c_str(), run.input.size(),
             run.reference.size(), run.xorData.size());
    }

    ResetImageStore();
    int result = -1;
    Outcome outcome = RunGrayfixCall([&] { result = GrayfixMain((int)texts.size(), argv.data()); });
    CheckDocumentedStop(outcome, "run");
    bool outputExists = FileSize(paths.output) >= 0;
    if (outcome.stopped) {
        ReleaseLeftovers();
        if (outputExists && outcome.text.rfind("WriteImage:", 0) != 0)
            Finding("output file written although the run stopped with \"%s\"",
                    outcome.text.c_str());
        return 0;
    }
    if (result != 0) Finding("GrayfixMain returned %d without a stop", result);
    CheckOutput();
    int left = ReleaseLeftovers();
    if (left != 0) Finding("%d blocks or streams still held after a successful run", left);
    if ((run.transform == runfmt::Decorrelate || run.transform == runfmt::DecorrelateMED)
        && !run.rawOutput)
        CheckInverse(run);
    return 0;
}
