// increasedepth.h - Depth increase, nominal or left-shifting, widening the buffer when needed.
#pragma once

// Raises the description to newDepth (Imgbpp < newDepth <= 16) and rewrites
// every pixel, shifted left by newDepth - Imgbpp bits when mode is not 0.
// When samples grow from one byte to two, ImgData is reallocated first and may
// move. Prints nothing: the depth crop uses it too, for a reference depth that
// needs the wider samples.
void ImgRaiseDepth(int newDepth, int mode);

// ImgRaiseDepth followed by the increase's two report lines.
void ImgTransformIncreaseDepth(int newDepth, int mode);
