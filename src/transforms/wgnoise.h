// wgnoise.h - White Gaussian noise seeded from the platform random device.
#pragma once

void ImgTransformWGNoise(double deviation);
