// noise.h - Uniform, additive and salt-and-pepper noise drawn from the image-seeded ISAAC stream.
#pragma once

void ImgTransformNoise(int NoisePercent);
void ImgTransformAddNoise(int NoisePercent);
void ImgTransformSPNoise(int NoisePercent);
