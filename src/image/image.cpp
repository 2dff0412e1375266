// image.cpp - the image store's globals, BitsNeeded and the description block.

#include "image/image.h"

const char* ImgFileName = nullptr;
int ImgImageWidth = 0;
int ImgImageHeight = 0;
int ImgBYTEpp = 0;
int Imgbpp = 0;
int ImgLevelMax = 0;
int ImgBigEndian = 1;
int ImgRaw = 0;
int ImgRawSkip = 0;
unsigned char* ImgData = nullptr;

int BitsNeeded(int val)
{
    CHECK(val>0);
    int bits = 0;
    for (unsigned rest = (unsigned)val - 1; rest != 0; rest >>= 1) ++bits;
    return bits;
}

void PrintImgInfo(const char* title)
{
    PrintMsg("\n%s: ", title);
    PrintMsg("\n\tImgFileName:  %s", ImgFileName);
    PrintMsg("\n\tImgImageWidth:  %d", ImgImageWidth);
    PrintMsg("\n\tImgImageHeight: %d", ImgImageHeight);
    PrintMsg("\n\tImgBYTEpp:      %d", ImgBYTEpp);
    PrintMsg("\n\tImgbpp:         %d", Imgbpp);
    PrintMsg("\n\tImgLevelMax:    %d", ImgLevelMax);
    PrintMsg("\n\tImgBigEndian:   %d", ImgBigEndian);
    PrintMsg("\n\tImgRaw:         %d", ImgRaw);
    PrintMsg("\n\tImgRawSkip:     %d", ImgRawSkip);
}
