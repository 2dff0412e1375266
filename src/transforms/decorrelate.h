// decorrelate.h - Lossless decorrelation: average and MED prediction residuals and their inverses.
#pragma once

// Forward: depth B (1..15) becomes B + 1 and every intensity its residual.
void ImgTransformDecorrelate();
// Inverse: depth B + 1 (2..16) becomes B and every residual its intensity.
void ImgTransformCorrelate();
void ImgTransformDecorrelateMED();
void ImgTransformCorrelateMED();
