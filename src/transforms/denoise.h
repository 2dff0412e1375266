// denoise.h - Denoise: the rank-order window filter (median, RCRS-1, second extreme, RCRS-2).
#pragma once

void ImgTransformDenoise(int radius, int mode);
