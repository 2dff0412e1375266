// decorrelate.h - Lossless decorrelation: average and MED prediction residuals and their inverses.
#pragma once

void ImgTransformDecorrelate();
void ImgTransformCorrelate();
void ImgTransformDecorrelateMED();
void ImgTransformCorrelateMED();
