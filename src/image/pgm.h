// pgm.h - the PGM P5 header grammar: ReadPgmHeader and the pieces that the
// depth-crop-like transform reuses to read another file's header.
#pragma once

#include <cstdio>

// Skips whitespace and '#' comments; 0 with the next token's first byte pushed
// back, 1 when the end of the file was reached.
int SkipPgmSeparators(FILE* file);

// The magic "P5"; false on anything else.
bool ReadPgmMagic(FILE* file);

// An optionally signed decimal integer as "%d" reads it; false when no digits
// follow or the value leaves the int range.
bool ReadPgmNumber(FILE* file, int* value);

// The single byte after maxval: whitespace other than CR, or CR LF, with the
// stream not at its end afterwards.
bool ReadPgmTerminator(FILE* file);

// Reads the header of the named PGM P5 file into the image description.
void ReadPgmHeader(const char* fileName);
