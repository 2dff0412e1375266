// soften.h - Soften and soften-squared: weighted window averages that smooth or sharpen.
#pragma once

void ImgTransformSoften(int radius, int centerweight, int neighborweight);
void ImgTransformSoftenSquared(int radius, int centerweight, int neighborweight);
