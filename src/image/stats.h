// stats.h - image statistics: intensity range, levels, bits used, entropy H0
// and the two CRC-32 checksums, computed and reported.
#pragma once

#include <cstdint>

extern int minLevel;
extern int maxLevel;
extern int numLevels;
extern int bitsUsed;  // OR of every intensity present
extern double H0;     // memoryless entropy of the whole image, in bits
extern uint32_t BigEndianCRC32;  // over the intensities serialised big-endian
extern uint32_t ByteCRC32;       // over the buffer bytes as stored

// Computes the statistics of the image in the store; refuses any pixel above
// ImgLevelMax.
void PrintImgStats();
// Computes ByteCRC32 alone again, for an image whose intensities are those
// PrintImgStats saw but whose stored bytes may differ (a byte-order swap).
void RecomputeByteCRC32();
// Prints the statistics block (three lines, no line end after the last).
void ReportImgStats();
