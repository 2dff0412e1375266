// reducedepth.h - Depth reduction: right shift, crop (with or without clipping) and crop to another file's depth.
#pragma once

void ImgTransformReduceDepth(int newDepth);
void ImgTransformCropDepth(int newDepth, int clip);
void ImgTransformCropDepthLike(const char* PGMP5filename);
