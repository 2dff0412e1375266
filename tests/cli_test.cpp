// cli_test.cpp - end-to-end runs of the binary: argument order, switch
// recognition and refusals, the run sequence, reports and output bytes.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#include "test_util.h"

// The usage text as it appears on the terminal: single percent signs, a tab
// in the minLevel line, trailing blanks on several lines.
static const std::string ExpectedUsage = "\n" R"USAGE(grayfix v. 0.73b

Perform transformations on PGM P5 and RAW grayscale images.

Commandline syntax (fixed commandline order: -i switches, infilename, one or
no -t switch, one or no -o switch, outfilename):
   
    [-i:RAW:width:height[:bpp[:skip]]]  
                          RAW image dimensions, depth (default 16 bits)
                          and starting offset (default: 0)
    [-i:RAW:like:PGMP5filename]          
                          Load RAW image dimensions and depth from PGM P5 
                          file PGMP5filename, starting offset=0
    [-i:endian:Little|Big]              
                          endianness of the input file, default:BigEndian
   
    infilename            input file name with extension,
                          PGM P5 assumed if no -i:RAW specified,
                          pixel intensities assumed unsigned,
                          before inputting image pixels grayfix reports:
                            ImgFileName     -image file name
                            ImgImageWidth   -width
                            ImgImageHeight  -height
                            ImgBYTEpp       -file Bytes per pixel
                            Imgbpp          -nominal bits per pixel
                            ImgLevelMax     -nominal maximum intensity
                            ImgBigEndian    -is image BigEndian?
                            ImgRaw          -is it RAW
                            ImgRawSkip:     -file offset of image data
                          after inputing image grayfix reports:
                            minLevel	       -actual minimum intensity
                            maxLevel        -actual maximum intensity
                            numLevels       -actual number of intensities
                            bitsUsed        -word bits used by any pixel
                            H0              -memoryless entropy of pixels in
                                             bits, Bytes and bits per pixel
                            CRC32           -CRC32 checksum of pixels and
                                             pixels' Bytes (BigEndian assumed)
   
    [-t:noise:percent]    replace percent% [0, 100] of image pixels 
                          with noise of uniform distribution
    [-t:addnoise:percent] replace percent% of each pixel's intensity with
                          uniform noise
    [-t:spnoise:percent]  replace percent% [0, 100] of image pixels 
                          with Salt and Pepper impulse noise
    [-t:wgnoise:deviation] add White Gaussian noise (of given standard
                          deviation /double type/) to all image pixels
                          (generator initialized using std::random_device)
    [-t:soften:radius:centerweight:neighborweight] 
                          soften image by replacing each pixel with weigted 
                          average of that pixel (weight: centerweight) and 
                          neighbors in 8-neighborhood (weight of each: 
                          neighborweight) distant by no more than radius, 
                          use negative neighborweight to sharpen instead 
    [-t:softensquared:radius:centerweight:neighborweight] 
                          as soften, but using squared pixel intensities 
    [-t:denoise:radius:mode] 
                          denoise image by taking from pixel's 8-neighborhood
                          of given radius (from the window) the:
                           mode=0 - window median
                           mode=1 - median, if pixel is greater than or 
                                  smaller than all other pixels in the 
                                  window (RCRS-1)
                           mode=2 - 2nd greatest or smallest pixel, if it
                                  is the greatest or the smallest resp.
                           mode=3 - 2nd greatest or smallest window pixel
                                  value, but not smaller or greater resp. 
                                  than median, if pixel is the greatest or 
                                  the smallest resp. (RCRS-2)
    [-t:decorrelate]      subtract from each pixel average of upper and left 
                          neighbor (Imgbpp++)
    [-t:correlate]        undo decorrelate 
    [-t:decorrelatemed]   decorrelate using median edge detector (MED)
                          predictor from JPEG-LS standard (Imgbpp++)
    [-t:correlatemed]     undo decorrelatemed
    [-t:downsize:times]   reduce image size, times in range [1, 100]
                          by averaging times x times pixel blocks 
    [-t:crop:x0:y0:newwidth:newheight]  
                          crop image, x0,y0 - top left corner
    [-t:reducedepth:newdepth]           
                          reduce depth right-shifting intensities, 
                          newDepth in range [1, InImgbpp)
    [-t:cropdepth:newdepth]             
                          reduce nominal depth keeping intensities, 
                          report error if intensity exceeds new nominal depth
    [-t:cropdepthlike:PGMP5filename]    
                          reduce nominal depth to depth of PGM P5 image
    [-t:cropclipdepth:newdepth]    
                          reduce nominal depth clipping too large intensities
                          to top of allowable range
    [-t:increasedepth:newdepth:mode]    
                          increase image depth, newdepth <= 16
                            mode=0 - nominal only, keeping intensities
                            mode=1 - nominal and left-shifting intensities
    [-t:negendian]        invert image endianness (Big<->Little)
    [-t:xorfile:xorfname] perform xor on image pixels with file xorfname 
                          containing BigEndian ImgBYTEpp-Byte unsigned numbers
                          whose bits exceeding Imgbpp are ignored
     
    [-o:RAW]              output image as RAW, otherwise PGM P5
    outfilename           output file name

Examples:

Soften pebble.pgm, save as PGM
    grayfix pebble.pgm -t:soften:1:8:1 pebble_s.pgm
Replace 10% of pixels in pebble.pgm image with noise(uniform distribution), save resulting file as RAW
    grayfix pebble.pgm -t:noise:10 -o:RAW pebble_n.raw
Input pebble_n.raw RAW image assuming dimensions and depth as in pebble.pgm, save as 16-bit BigEndian PGM
    grayfix -i:RAW:like:pebble.pgm pebble_n.raw -t:increasedepth:16:0 pebble_16.pgm
Convert BigEndian PGM image pebble_16.pgm to LittleEndian RAW pebble_16le.raw
    grayfix pebble_16.pgm -t:negendian -o:RAW pebble_16le.raw
Just display information on pebble.pgm image
    grayfix.exe pebble.pgm 
)USAGE";

static std::string Banner(const std::string& message) { return "\ngrayfix ERROR: " + message; }

class CliTest : public ::testing::Test {
protected:
    TempDir dir;
    // A 3x2 8-bit PGM "in.pgm" and its expected first reports.
    void WriteSmallPgm() { dir.Write("in.pgm", MakePgm(3, 2, 255, {1, 2, 3, 4, 5, 6})); }
    std::string SmallInfo(const char* title = "Input Image", const std::string& name = "in.pgm")
    {
        return InfoBlock(title, name, 3, 2, 1, 8, 255, 1, 0, 11);
    }
    std::string SmallStats()
    {
        return StatsBlock(1, 6, 6, 7, 16, 2, "2.584962500721", 0x81f67724, 0x81f67724);
    }
    RunResult Run(const std::vector<std::string>& args) { return RunGrayfix(dir, args); }
};

TEST_F(CliTest, NoArgumentsPrintsTheUsageText)
{
    RunResult r = Run({});
    EXPECT_EQ(r.out, ExpectedUsage);
    EXPECT_EQ(r.err, Banner("no params"));
    EXPECT_EQ(r.status, 1);
}

TEST_F(CliTest, HelpAndVersionAloneAnswerWithStatusZero)
{
    RunResult help = Run({"--help"});
    EXPECT_EQ(help.out, ExpectedUsage);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.status, 0);
    RunResult version = Run({"--version"});
    EXPECT_EQ(version.out, std::string("grayfix ") + GRAYFIX_VERSION + "\n");
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.status, 0);
    // With anything else on the line they are file names, as before.
    RunResult named = Run({"--help", "out.pgm"});
    EXPECT_EQ(named.out, "");
    EXPECT_EQ(named.err, Banner("ReadPgm: Cannot open input"));
    EXPECT_EQ(named.status, 2);
}

TEST_F(CliTest, PlainCopyPrintsEverythingAndWritesTheSameFile)
{
    WriteSmallPgm();
    RunResult r = Run({"in.pgm", "out.pgm"});
    EXPECT_EQ(r.out, SmallInfo() + SmallStats() + "\n" + SmallStats()
                         + SmallInfo("Outputting to", "out.pgm") + "\nDone.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("out.pgm"), dir.Read("in.pgm"));
}

TEST_F(CliTest, OnlyAnInfileReportsOnceThenWantsAnOutfile)
{
    WriteSmallPgm();
    RunResult r = Run({"in.pgm"});
    EXPECT_EQ(r.out, SmallInfo() + SmallStats() + "\n");
    EXPECT_EQ(r.err, Banner("No outfile"));
    EXPECT_EQ(r.status, 1);
}

TEST_F(CliTest, OutputSwitchWithoutNameWantsAnOutfileAfterTheSecondReport)
{
    WriteSmallPgm();
    RunResult r = Run({"in.pgm", "-o:RAW"});
    EXPECT_EQ(r.out, SmallInfo() + SmallStats() + "\n" + SmallStats());
    EXPECT_EQ(r.err, Banner("No outfile"));
    EXPECT_EQ(r.status, 1);
}

TEST_F(CliTest, OutputSwitchIsAPrefixTestAndKeepsTheInputDescription)
{
    WriteSmallPgm();
    RunResult r = Run({"in.pgm", "-o:RAWX", "out.raw", "ignored"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("out.raw"), Bytes({1, 2, 3, 4, 5, 6}));
    EXPECT_NE(r.out.find(SmallInfo("Outputting to", "out.raw")), std::string::npos);
    EXPECT_FALSE(dir.Exists("ignored"));
}

TEST_F(CliTest, OnlyInputSwitchesMeansNoInfile)
{
    RunResult r = Run({"-i:endian:Big", "-i:RAW:2:2"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Banner("no infile"));
    EXPECT_EQ(r.status, 1);
}

TEST_F(CliTest, BadInputSwitchesAreRefused)
{
    for (const char* arg : {"-i:endian:little", "-i:endian:BigX", "-i:", "-i:raw:2:2"}) {
        RunResult r = Run({arg, "in.pgm", "out.pgm"});
        EXPECT_EQ(r.err, Banner("Bad switch -i:")) << arg;
        EXPECT_EQ(r.status, 1);
    }
    for (const char* arg : {"-i:RAW:512", "-i:RAW:512:512:8:0x", "-i:RAW", "-i:RAWX:2:2", "-i:RAW:a:2",
                            "-i:RAW:99999999999:2"}) {
        RunResult r = Run({arg, "in.raw", "out.pgm"});
        EXPECT_EQ(r.err, Banner("Bad -i:RAW:width:height[:bpp[:skip]]")) << arg;
        EXPECT_EQ(r.status, 1);
    }
}

TEST_F(CliTest, RawDescriptionsAndTheirDefaults)
{
    dir.Write("in.raw", Bytes(8, 0));
    RunResult r = Run({"-i:RAW:2:2x", "in.raw", "out.raw"});  // text after the height is ignored
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find("\n\nActual")), InfoBlock("Input Image", "in.raw", 2, 2, 2, 16, 65535, 1, 1, 0));

    r = Run({"-i:RAW:8:1:8", "in.raw", "out.raw"});
    EXPECT_EQ(r.out.substr(0, r.out.find("\n\nActual")), InfoBlock("Input Image", "in.raw", 8, 1, 1, 8, 255, 1, 1, 0));

    dir.Write("skip.raw", Bytes(102, 1));
    r = Run({"-i:RAW:1:1:9:100", "skip.raw", "-o:RAW", "out.raw"});
    EXPECT_EQ(r.out.substr(0, r.out.find("\n\nActual")), InfoBlock("Input Image", "skip.raw", 1, 1, 2, 9, 511, 1, 1, 100));
    EXPECT_EQ(dir.Read("out.raw"), Bytes({1, 1}));
}

TEST_F(CliTest, OutOfRangeRawDescriptionsStopAtTheCheck)
{
    for (const char* arg : {"-i:RAW:0:10", "-i:RAW:10:10:17", "-i:RAW:10:-1", "-i:RAW:10:10:0", "-i:RAW:1:1:8:-1"}) {
        RunResult r = Run({arg, "in.raw", "out.raw"});
        EXPECT_EQ(r.status, 8) << arg;
        EXPECT_EQ(r.signal, 0);
        EXPECT_NE(r.err.find("ImgImageWidth>0 && ImgImageHeight>0 && Imgbpp>0 && Imgbpp <= 16 && ImgRawSkip >= 0"),
                  std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(CliTest, RawLikeTakesAnotherHeaderAndTheLastSwitchWins)
{
    dir.Write("a.pgm", MakePgm(2, 1, 1000, {0, 0}));
    dir.Write("in.raw", SampleBytes({1000, 7}, 2, true));
    RunResult r = Run({"-i:RAW:10:10", "-i:RAW:like:a.pgm", "-i:endian:Big", "-i:endian:Little",
                       "in.raw", "out.pgm"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("\n\nActual")), InfoBlock("Input Image", "in.raw", 2, 1, 2, 10, 1000, 0, 1, 0));
    EXPECT_NE(r.out.find("minLevel: 7 maxLevel: 1000"), std::string::npos);
    // Little-endian samples go out as they are stored, under the source's maxval.
    EXPECT_EQ(dir.Read("out.pgm"), ToBytes(std::string("P5\n2 1\n1000\n\xe8\x03\x07\x00", 16)));
}

TEST_F(CliTest, LittleEndianSwitchAppliesToPgmInput)
{
    dir.Write("in.pgm", MakePgm(1, 1, 65535, {0x0201}));
    RunResult r = Run({"-i:endian:Little", "in.pgm", "out.pgm"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("minLevel: 258 maxLevel: 258"), std::string::npos);
    EXPECT_EQ(dir.Read("out.pgm"), dir.Read("in.pgm"));
}

TEST_F(CliTest, EmptyFileNamesFailInTheOperationThatOpensThem)
{
    WriteSmallPgm();
    RunResult r = Run({"-i:RAW:like:", "in.pgm", "out.pgm"});
    EXPECT_EQ(r.err, Banner("ReadPgm: Cannot open input"));
    EXPECT_EQ(r.status, 2);
    r = Run({"in.pgm", "-t:xorfile:", "out.pgm"});
    EXPECT_EQ(r.err, Banner("ImgTransformXorFile: Cannot open xorFile"));
    EXPECT_EQ(r.status, 5);
    r = Run({"in.pgm", "-t:cropdepthlike:", "out.pgm"});
    EXPECT_EQ(r.err, Banner("ReadPgm: Cannot open input"));
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(dir.Exists("out.pgm"));
}

TEST_F(CliTest, AnInfileNamedLikeATransformIsAFileName)
{
    RunResult r = Run({"-t:soften:1:8:1", "out.pgm"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Banner("ReadPgm: Cannot open input"));
    EXPECT_EQ(r.status, 2);
}

TEST_F(CliTest, MissingInputFilesAreStatusTwo)
{
    RunResult r = Run({"-i:RAW:2:2", "none.raw", "out.raw"});
    EXPECT_EQ(r.out, InfoBlock("Input Image", "none.raw", 2, 2, 2, 16, 65535, 1, 1, 0));
    EXPECT_EQ(r.err, Banner("ReadRaw: Cannot open input"));
    EXPECT_EQ(r.status, 2);
}

TEST_F(CliTest, FileSizeMustMatchTheHeader)
{
    dir.Write("long.pgm", ToBytes("P5\n2 1\n255\nab\n"));
    RunResult r = Run({"long.pgm", "out.pgm"});
    EXPECT_EQ(r.err, Banner("ReadRaw: Input file too long"));
    EXPECT_EQ(r.status, 2);
    dir.Write("short.pgm", ToBytes("P5\n2 1\n255\n"));
    r = Run({"short.pgm", "out.pgm"});
    EXPECT_EQ(r.err, Banner("ReadRaw: Input file too short"));
    EXPECT_EQ(r.status, 2);
}

TEST_F(CliTest, HugeHeaderIsRefusedAsUnallocatable)
{
    dir.Write("huge.pgm", ToBytes("P5\n65535 65535\n65535\n\x01\x02"));
    RunResult r = Run({"huge.pgm", "out.pgm"});
    EXPECT_EQ(r.out, InfoBlock("Input Image", "huge.pgm", 65535, 65535, 2, 16, 65535, 1, 0, 21));
    EXPECT_EQ(r.err, Banner("ReadRaw: Cannot allocate"));
    EXPECT_EQ(r.status, 3);
}

TEST_F(CliTest, SampleAboveMaxvalStopsInTheFirstStatistics)
{
    dir.Write("in.pgm", MakePgm(2, 1, 200, {200, 201}));
    RunResult r = Run({"in.pgm", "out.pgm"});
    EXPECT_EQ(r.out, InfoBlock("Input Image", "in.pgm", 2, 1, 1, 8, 200, 1, 0, 11));
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.signal, 0);
    EXPECT_NE(r.err.find("check failed: value <= ImgLevelMax && value >= 0"), std::string::npos) << r.err;
    EXPECT_FALSE(dir.Exists("out.pgm"));
}

TEST_F(CliTest, WriterFailuresAreStatusFour)
{
    WriteSmallPgm();
    RunResult r = Run({"in.pgm", "no/such/dir.pgm"});
    EXPECT_EQ(r.out, SmallInfo() + SmallStats() + "\n" + SmallStats() + SmallInfo("Outputting to", "no/such/dir.pgm"));
    EXPECT_EQ(r.err, Banner("WriteImage: Error openning output file"));
    EXPECT_EQ(r.status, 4);
}

TEST_F(CliTest, StatisticsOfSixteenBitLittleEndianData)
{
    dir.Write("in.raw", {0x02, 0x01});
    RunResult r = Run({"-i:RAW:1:1", "-i:endian:Little", "in.raw", "-o:RAW", "out.raw"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(StatsBlock(258, 258, 1, 0x102, 0, 0, "0.000000000000", 0xb6cc4292, 0x04e840eb)),
              std::string::npos) << r.out;
    EXPECT_EQ(dir.Read("out.raw"), Bytes({0x02, 0x01}));
}

// Every refusal of the transform table, each with its own message.
struct Refusal { const char* input; const char* transform; const char* message; };

class TransformRefusal : public CliTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(TransformRefusal, StopsAfterTheFirstReport)
{
    const Refusal& c = GetParam();
    std::string input = c.input;
    if (input == "8bit") dir.Write("in.pgm", MakePgm(3, 2, 255, {1, 2, 3, 4, 5, 6}));
    if (input == "16bit") dir.Write("in.pgm", MakePgm(3, 2, 65535, {1, 2, 3, 4, 5, 6}));
    if (input == "1bit") dir.Write("in.pgm", MakePgm(3, 2, 1, {1, 0, 1, 0, 1, 0}));
    RunResult r = Run({"in.pgm", c.transform, "out.pgm"});
    EXPECT_EQ(r.err, Banner(c.message));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with("\n")) << r.out;
    EXPECT_EQ(r.out.find("\n\nActual", r.out.find("\n\nActual") + 1), std::string::npos);
    EXPECT_FALSE(dir.Exists("out.pgm"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TransformRefusal,
    ::testing::Values(
        Refusal{"8bit", "-t:soften:1:8:1:x", "Bad -t:soften:radius:centerweight:neighborweight"},
        Refusal{"8bit", "-t:soften:0:8:1", "Bad -t:soften:radius:centerweight:neighborweight"},
        Refusal{"8bit", "-t:soften:1:8", "Bad -t:soften:radius:centerweight:neighborweight"},
        Refusal{"8bit", "-t:softensquared:1:8:x", "Bad -t:softensquared:radius:centerweight:neighborweight"},
        Refusal{"8bit", "-t:softensquared:-1:8:1", "Bad -t:softensquared:radius:centerweight:neighborweight"},
        Refusal{"8bit", "-t:noise:101", "Bad -t:noise:percent"},
        Refusal{"8bit", "-t:noise:-1", "Bad -t:noise:percent"},
        Refusal{"8bit", "-t:noise:", "Bad -t:noise:percent"},
        Refusal{"8bit", "-t:noise:4294967306", "Bad -t:noise:percent"},
        Refusal{"8bit", "-t:addnoise:101", "Bad -t:addnoise:percent"},
        Refusal{"8bit", "-t:addnoise:5:5", "Bad -t:addnoise:percent"},
        Refusal{"8bit", "-t:spnoise:-1", "Bad -t:spnoise:percent"},
        Refusal{"8bit", "-t:wgnoise:0", "Bad -t:wgnoise:deviation"},
        Refusal{"8bit", "-t:wgnoise:-1", "Bad -t:wgnoise:deviation"},
        Refusal{"8bit", "-t:wgnoise:nan", "Bad -t:wgnoise:deviation"},
        Refusal{"8bit", "-t:wgnoise:x", "Bad -t:wgnoise:deviation"},
        Refusal{"8bit", "-t:denoise:1:-1", "Bad -t:denoise:radius:mode"},
        Refusal{"8bit", "-t:denoise:1", "Bad -t:denoise:radius:mode"},
        Refusal{"8bit", "-t:downsize:0", "Bad -t:downsize:times"},
        Refusal{"8bit", "-t:downsize:101", "Bad -t:downsize:times"},
        Refusal{"8bit", "-t:crop:0:0:4:2", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:crop:0:0:3:3", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:crop:-1:0:1:1", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:crop:3:0:0:1", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:crop:0:2:1:0", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:crop:0:0:0:2", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:crop:1:1:2:0", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:crop:0:0:0:0", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:crop:1:0:2147483647:1", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:crop:1:2:3", "Bad -t:crop:x0:y0:width:height"},
        Refusal{"8bit", "-t:reducedepth:8", "Bad -t:reducedepth:newdepth"},
        Refusal{"8bit", "-t:reducedepth:0", "Bad -t:reducedepth:newdepth"},
        Refusal{"8bit", "-t:cropdepth:9", "Bad -t:cropdepth:newdepth"},
        Refusal{"8bit", "-t:cropclipdepth:8", "Bad -t:cropclipdepth:newdepth"},
        Refusal{"8bit", "-t:increasedepth:8:0", "Bad -t:increasedepth:newdepth:mode"},
        Refusal{"8bit", "-t:increasedepth:17:0", "Bad -t:increasedepth:newdepth:mode"},
        Refusal{"8bit", "-t:increasedepth:9:2", "Bad -t:increasedepth:newdepth:mode"},
        Refusal{"8bit", "-t:increasedepth:9", "Bad -t:increasedepth:newdepth:mode"},
        Refusal{"16bit", "-t:decorrelate", "Bit depths 1-15 are supported in -t:decorrelate "},
        Refusal{"16bit", "-t:decorrelatemed", "Bit depths 1-15 are supported in -t:decorrelatemed "},
        Refusal{"1bit", "-t:correlate", "Bit depths 2-16 are supported in -t:correlate "},
        Refusal{"1bit", "-t:correlatemed", "Bit depths 2-16 are supported in -t:correlatemed "},
        Refusal{"8bit", "-t:decorrelate:", "Bad switch -t"},
        Refusal{"8bit", "-t:Negendian", "Bad switch -t"},
        Refusal{"8bit", "-t:negendian:", "Bad switch -t"},
        Refusal{"8bit", "-t:", "Bad switch -t"}));

// The second report describes the image that is written, whether the transform
// step kept the first report's figures (no transform, a crop to nothing or to
// the whole image, a downsize by 1), only the byte-wise checksum changed (a
// byte-order swap) or the image changed and needed new ones.
class SecondReport : public CliTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SecondReport, DescribesTheImageWritten)
{
    const std::vector<int> pixels{9, 1, 7, 7, 200, 3, 4, 4, 0, 81, 6, 12};
    for (int maxval : {255, 65535}) {
        SCOPED_TRACE(maxval);
        std::vector<int> in = pixels;
        if (maxval > 255) in[4] = 0x1234;
        dir.Write("in.pgm", MakePgm(4, 3, maxval, in));
        std::vector<std::string> args{"in.pgm", GetParam(), "out.pgm"};
        if (args[1].empty()) args.erase(args.begin() + 1);
        RunResult r = Run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        // The samples as written, swapped by -t:negendian.
        Bytes written = dir.Read("out.pgm");
        int width = 0, height = 0, levelMax = 0, header = 0;
        ASSERT_EQ(std::sscanf(std::string(written.begin(), written.end()).c_str(), "P5 %d %d %d%n",
                              &width, &height, &levelMax, &header), 3);
        std::size_t bytepp = levelMax > 255 ? 2 : 1;
        int bigEndian = args[1] == "-t:negendian" ? 0 : 1;
        std::vector<int> out;
        for (std::size_t i = (std::size_t)header + 1; i + bytepp <= written.size(); i += bytepp)
            out.push_back(bytepp == 1 ? written[i]
                          : bigEndian ? written[i] << 8 | written[i + 1]
                                      : written[i + 1] << 8 | written[i]);
        std::string first = ExpectedStats(in, maxval > 255 ? 2 : 1, 1);
        std::string second = ExpectedStats(out, (int)bytepp, bigEndian);
        std::size_t secondAt = r.out.find("\n\nActual", r.out.find(first) + first.size());
        ASSERT_EQ(r.out.find(first), r.out.find("\n\nActual")) << r.out;
        ASSERT_NE(secondAt, std::string::npos) << r.out;
        EXPECT_EQ(r.out.substr(secondAt, second.size()), second) << r.out;
        EXPECT_EQ(r.out.find("\n\nActual", secondAt + 1), std::string::npos) << r.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transforms, SecondReport,
    ::testing::Values("", "-t:crop:0:0:4:3", "-t:crop:1:1:3:2", "-t:crop:0:1:4:2", "-t:downsize:1",
                      "-t:crop:0:0:4:2", "-t:crop:0:0:3:3", "-t:crop:1:0:3:3", "-t:downsize:2",
                      "-t:downsize:1:", "-t:negendian", "-t:noise:0", "-t:reducedepth:4",
                      "-t:xorfile:in.pgm"),
    [](const auto& info) {
        std::string name = "Arg";
        for (const char* c = info.param; *c != '\0'; ++c)
            if (std::isalnum((unsigned char)*c)) name += *c;
        return name + std::to_string(info.index);
    });
