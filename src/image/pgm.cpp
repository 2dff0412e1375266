// pgm.cpp - PGM P5 header reader.

#include "image/pgm.h"

#include <climits>

#include "driver/console.h"
#include "image/fileio.h"
#include "image/image.h"

// The six bytes C's isspace() accepts in the "C" locale; nothing above 0x7F.
static bool IsPgmSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int SkipPgmSeparators(FILE* file)
{
    int c;
    do c = std::getc(file); while (IsPgmSpace(c));
    if (std::feof(file)) return 1;
    while (c == '#') {
        do {  // a comment runs to the next LF; a lone CR does not end it
            c = std::getc(file);
            if (c == EOF) return 1;
        } while (c != '\n');
        do c = std::getc(file); while (IsPgmSpace(c));
        if (std::feof(file)) return 1;
    }
    std::ungetc(c, file);  // a no-op after a read error: the number then fails
    return 0;
}

bool ReadPgmMagic(FILE* file)
{
    return std::getc(file) == 'P' && std::getc(file) == '5';
}

bool ReadPgmNumber(FILE* file, int* value)
{
    int c;
    do c = std::getc(file); while (IsPgmSpace(c));
    bool negative = c == '-';
    if (c == '-' || c == '+') c = std::getc(file);
    if (c < '0' || c > '9') return false;
    long long magnitude = 0;  // stays below 2^32: larger values fail at once
    for (; c >= '0' && c <= '9'; c = std::getc(file)) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > (long long)INT_MAX + 1) return false;
    }
    if (c != EOF) std::ungetc(c, file);
    if (!negative && magnitude > INT_MAX) return false;
    *value = (int)(negative ? -magnitude : magnitude);
    return true;
}

bool ReadPgmTerminator(FILE* file)
{
    int c = std::getc(file);
    if (c == '\r') {
        if (std::getc(file) != '\n') return false;
    } else if (!(c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f')) {
        return false;
    }
    return !std::feof(file);
}

void ReadPgmHeader(const char* fileName)
{
    FILE* file = OpenInputFile(fileName);
    if (file == nullptr) FatalError("ReadPgm: Cannot open input", ExitInputFile);
    bool good = ReadPgmMagic(file) && SkipPgmSeparators(file) == 0 && ReadPgmNumber(file, &ImgImageWidth)
        && SkipPgmSeparators(file) == 0 && ReadPgmNumber(file, &ImgImageHeight)
        && SkipPgmSeparators(file) == 0 && ReadPgmNumber(file, &ImgLevelMax) && ReadPgmTerminator(file);
    long position = std::ftell(file);  // closed before any refusal: a caller that survives
    bool closed = std::fclose(file) == 0;  // one (the Python module) is left no open file
    if (!good) FatalError("ReadPgm: Bad pgm header", ExitInputFile);
    CHECK(ImgImageWidth>0 && ImgImageHeight>0 && ImgLevelMax>0 && ImgLevelMax <= 0xFFFF);
    Imgbpp = BitsNeeded(ImgLevelMax + 1);
    ImgBYTEpp = (Imgbpp - 1) / 8 + 1;
    CHECK(ImgBYTEpp == 1 || ImgBYTEpp == 2);
    // A closing error counts only once the header has passed every other test.
    CHECK(position >= 0 && position <= INT_MAX);
    ImgRawSkip = (int)position;
    if (!closed)
        FatalError("ReadPgmHeader: Error closing input file", ExitInputFile);
}
