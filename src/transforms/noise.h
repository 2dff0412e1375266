// noise.h - Uniform, additive and salt-and-pepper noise drawn from the image-seeded ISAAC stream.
#pragma once

void ImgTransformNoise(int NoisePercent);
void ImgTransformAddNoise(int NoisePercent);
void ImgTransformSPNoise(int NoisePercent);

// One differing pixel of the additive noise (d != g): moves d the share
// NoisePercent, corrected by one fifth of correction, of the way to g and
// returns the rounded value; adds the shortfall to correction and the share
// achieved to shareSum.
int AddNoisePixel(int d, int g, int NoisePercent, double& correction, double& shareSum);
