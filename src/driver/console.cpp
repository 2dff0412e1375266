// console.cpp - PrintMsg, the usage text, FatalError and the internal-check stop.

#include "driver/console.h"

#include <cstdarg>
#include <cstdlib>

static FILE* ReportStream = stdout;
static StopHandler Stop = nullptr;

void SendReportsTo(FILE* stream) { ReportStream = stream; }

bool ReportsWritten()
{
    if (ReportStream != stdout) return true;
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int PrintMsg(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = std::vfprintf(ReportStream, format, args);
    va_end(args);
    return written;
}

int FPrintMsg(FILE* file, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = std::vfprintf(file, format, args);
    va_end(args);
    return written < 0 ? -1 : written;
}

// Used as a printf format, hence the doubled percent signs. Several lines end
// in blanks and the minLevel line holds a tab: keep them.
static const char UsageText[] =
    "\n"
    "grayfix v. 0.73b\n"
    "\n"
    "Perform transformations on PGM P5 and RAW grayscale images.\n"
    "\n"
    "Commandline syntax (fixed commandline order: -i switches, infilename, one or\n"
    "no -t switch, one or no -o switch, outfilename):\n"
    "   \n"
    "    [-i:RAW:width:height[:bpp[:skip]]]  \n"
    "                          RAW image dimensions, depth (default 16 bits)\n"
    "                          and starting offset (default: 0)\n"
    "    [-i:RAW:like:PGMP5filename]          \n"
    "                          Load RAW image dimensions and depth from PGM P5 \n"
    "                          file PGMP5filename, starting offset=0\n"
    "    [-i:endian:Little|Big]              \n"
    "                          endianness of the input file, default:BigEndian\n"
    "   \n"
    "    infilename            input file name with extension,\n"
    "                          PGM P5 assumed if no -i:RAW specified,\n"
    "                          pixel intensities assumed unsigned,\n"
    "                          before inputting image pixels grayfix reports:\n"
    "                            ImgFileName     -image file name\n"
    "                            ImgImageWidth   -width\n"
    "                            ImgImageHeight  -height\n"
    "                            ImgBYTEpp       -file Bytes per pixel\n"
    "                            Imgbpp          -nominal bits per pixel\n"
    "                            ImgLevelMax     -nominal maximum intensity\n"
    "                            ImgBigEndian    -is image BigEndian?\n"
    "                            ImgRaw          -is it RAW\n"
    "                            ImgRawSkip:     -file offset of image data\n"
    "                          after inputing image grayfix reports:\n"
    "                            minLevel\t       -actual minimum intensity\n"
    "                            maxLevel        -actual maximum intensity\n"
    "                            numLevels       -actual number of intensities\n"
    "                            bitsUsed        -word bits used by any pixel\n"
    "                            H0              -memoryless entropy of pixels in\n"
    "                                             bits, Bytes and bits per pixel\n"
    "                            CRC32           -CRC32 checksum of pixels and\n"
    "                                             pixels' Bytes (BigEndian assumed)\n"
    "   \n"
    "    [-t:noise:percent]    replace percent%% [0, 100] of image pixels \n"
    "                          with noise of uniform distribution\n"
    "    [-t:addnoise:percent] replace percent%% of each pixel's intensity with\n"
    "                          uniform noise\n"
    "    [-t:spnoise:percent]  replace percent%% [0, 100] of image pixels \n"
    "                          with Salt and Pepper impulse noise\n"
    "    [-t:wgnoise:deviation] add White Gaussian noise (of given standard\n"
    "                          deviation /double type/) to all image pixels\n"
    "                          (generator initialized using std::random_device)\n"
    "    [-t:soften:radius:centerweight:neighborweight] \n"
    "                          soften image by replacing each pixel with weigted \n"
    "                          average of that pixel (weight: centerweight) and \n"
    "                          neighbors in 8-neighborhood (weight of each: \n"
    "                          neighborweight) distant by no more than radius, \n"
    "                          use negative neighborweight to sharpen instead \n"
    "    [-t:softensquared:radius:centerweight:neighborweight] \n"
    "                          as soften, but using squared pixel intensities \n"
    "    [-t:denoise:radius:mode] \n"
    "                          denoise image by taking from pixel's 8-neighborhood\n"
    "                          of given radius (from the window) the:\n"
    "                           mode=0 - window median\n"
    "                           mode=1 - median, if pixel is greater than or \n"
    "                                  smaller than all other pixels in the \n"
    "                                  window (RCRS-1)\n"
    "                           mode=2 - 2nd greatest or smallest pixel, if it\n"
    "                                  is the greatest or the smallest resp.\n"
    "                           mode=3 - 2nd greatest or smallest window pixel\n"
    "                                  value, but not smaller or greater resp. \n"
    "                                  than median, if pixel is the greatest or \n"
    "                                  the smallest resp. (RCRS-2)\n"
    "    [-t:decorrelate]      subtract from each pixel average of upper and left \n"
    "                          neighbor (Imgbpp++)\n"
    "    [-t:correlate]        undo decorrelate \n"
    "    [-t:decorrelatemed]   decorrelate using median edge detector (MED)\n"
    "                          predictor from JPEG-LS standard (Imgbpp++)\n"
    "    [-t:correlatemed]     undo decorrelatemed\n"
    "    [-t:downsize:times]   reduce image size, times in range [1, 100]\n"
    "                          by averaging times x times pixel blocks \n"
    "    [-t:crop:x0:y0:newwidth:newheight]  \n"
    "                          crop image, x0,y0 - top left corner\n"
    "    [-t:reducedepth:newdepth]           \n"
    "                          reduce depth right-shifting intensities, \n"
    "                          newDepth in range [1, InImgbpp)\n"
    "    [-t:cropdepth:newdepth]             \n"
    "                          reduce nominal depth keeping intensities, \n"
    "                          report error if intensity exceeds new nominal depth\n"
    "    [-t:cropdepthlike:PGMP5filename]    \n"
    "                          reduce nominal depth to depth of PGM P5 image\n"
    "    [-t:cropclipdepth:newdepth]    \n"
    "                          reduce nominal depth clipping too large intensities\n"
    "                          to top of allowable range\n"
    "    [-t:increasedepth:newdepth:mode]    \n"
    "                          increase image depth, newdepth <= 16\n"
    "                            mode=0 - nominal only, keeping intensities\n"
    "                            mode=1 - nominal and left-shifting intensities\n"
    "    [-t:negendian]        invert image endianness (Big<->Little)\n"
    "    [-t:xorfile:xorfname] perform xor on image pixels with file xorfname \n"
    "                          containing BigEndian ImgBYTEpp-Byte unsigned numbers\n"
    "                          whose bits exceeding Imgbpp are ignored\n"
    "     \n"
    "    [-o:RAW]              output image as RAW, otherwise PGM P5\n"
    "    outfilename           output file name\n"
    "\n"
    "Examples:\n"
    "\n"
    "Soften pebble.pgm, save as PGM\n"
    "    grayfix pebble.pgm -t:soften:1:8:1 pebble_s.pgm\n"
    "Replace 10%% of pixels in pebble.pgm image with noise(uniform distribution), save resulting file as RAW\n"
    "    grayfix pebble.pgm -t:noise:10 -o:RAW pebble_n.raw\n"
    "Input pebble_n.raw RAW image assuming dimensions and depth as in pebble.pgm, save as 16-bit BigEndian PGM\n"
    "    grayfix -i:RAW:like:pebble.pgm pebble_n.raw -t:increasedepth:16:0 pebble_16.pgm\n"
    "Convert BigEndian PGM image pebble_16.pgm to LittleEndian RAW pebble_16le.raw\n"
    "    grayfix pebble_16.pgm -t:negendian -o:RAW pebble_16le.raw\n"
    "Just display information on pebble.pgm image\n"
    "    grayfix.exe pebble.pgm \n";

void PrintUsage()
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
    PrintMsg(UsageText);
#pragma GCC diagnostic pop
}

void SetStopHandler(StopHandler handler) { Stop = handler; }

void ThrowGrayfixStop(const char* message, int status) { throw GrayfixStop{status, message}; }

// Ends the run once its last words are on standard error.
[[noreturn]] static void EndRun(int status)
{
    std::fflush(stderr);
    std::exit(status);
}

void FatalError(const char* message, int status)
{
    if (Stop != nullptr) Stop(message, status);
    std::fflush(ReportStream);
    std::fputs("\ngrayfix ERROR: ", stderr);
    std::fputs(message, stderr);
    EndRun(status);
}

void CheckFailed(const char* file, int line, const char* condition)
{
    if (Stop != nullptr) Stop(condition, ExitCheckFailed);
    std::fflush(ReportStream);
    std::fprintf(stderr, "grayfix: %s:%d: check failed: %s\n", file, line, condition);
    EndRun(ExitCheckFailed);
}
