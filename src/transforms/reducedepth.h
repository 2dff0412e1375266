// reducedepth.h - Depth reduction: right shift, crop (with or without clipping) and crop to another file's depth.
#pragma once

// Drops the low Imgbpp - newDepth bits of every intensity (1 <= newDepth < Imgbpp).
void ImgTransformReduceDepth(int newDepth);

// Lowers the nominal depth keeping the intensities. A value above
// 2^newDepth - 1 ends the run (status 7) when clip is 0, else becomes
// 2^newDepth - 1. A newDepth at or above Imgbpp (only a reference file's
// depth can ask for one) keeps every intensity and only takes the new
// description; from one byte per pixel to 9..16 bits the buffer is widened
// as the depth increase does.
void ImgTransformCropDepth(int newDepth, int clip);

// Reads only the maxval of the named PGM P5 header and crops to its depth.
void ImgTransformCropDepthLike(const char* PGMP5filename);
