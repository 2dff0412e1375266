// bitwise.cpp - Byte-order negation and XOR with a cyclic stream of big-endian numbers from a file.

#include "transforms/bitwise.h"

#include "driver/console.h"

void ImgTransformNegEndian()
{
    FatalError("ImgTransformNegEndian: not built yet", ExitCommandLine);
}

void ImgTransformXorFile(const char* xorfname)
{
    (void)xorfname;
    FatalError("ImgTransformXorFile: not built yet", ExitCommandLine);
}
