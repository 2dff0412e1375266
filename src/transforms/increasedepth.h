// increasedepth.h - Depth increase, nominal or left-shifting, widening the buffer when needed.
#pragma once

void ImgTransformIncreaseDepth(int newDepth, int mode);
