// bitwise.h - Byte-order negation and XOR with a cyclic stream of big-endian numbers from a file.
#pragma once

void ImgTransformNegEndian();
void ImgTransformXorFile(const char* xorfname);
