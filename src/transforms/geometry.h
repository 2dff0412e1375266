// geometry.h - Downsize by block averages and crop, both packed in place.
#pragma once

void ImgTransformDownsize(int times);
void ImgTransformCrop(int x0, int y0, int newWidth, int newHeight);
