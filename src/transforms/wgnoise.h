// wgnoise.h - White Gaussian noise seeded from the platform random device.
#pragma once

void ImgTransformWGNoise(double deviation);

// Makes ImgTransformWGNoise seed its engine with seed instead of a device
// value, so that a caller (the Python module's seed=) can rerun the noise
// exactly; ImgUseDeviceSeed() goes back to the device. The tool never fixes one.
void ImgFixWGNoiseSeed(unsigned long seed);
void ImgUseDeviceSeed();
extern bool ImgWGNoiseSeedFixed;  // set by the two above
extern unsigned long ImgWGNoiseSeed;

// The transform without the device: adds the variates of a normal
// distribution of mean 0 and that deviation over minstd_rand0 seeded with
// seed, the first one discarded, one per pixel in row order.
void ImgAddWGNoise(double deviation, unsigned long seed);

// One value from a random device: the default one when token is null,
// otherwise the one the token names. A device that cannot be opened or read
// ends the run with "ImgTransformWGNoise: Cannot read random device".
unsigned ReadRandomDevice(const char* token = nullptr);

// The noisy sum rounded half away from zero and clamped to 0..maximum; a NaN
// sum keeps value.
int ClampNoisy(int value, double sum, int maximum);
