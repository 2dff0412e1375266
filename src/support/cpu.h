// cpu.h - what the processor offers, asked once per run, and the run-time choice
// among the paths of one kernel family (the window filters, CRC-32, the normal
// variates), each of which lists only its own paths and what each needs.
#pragma once

// Only x86-64 builds by GCC or Clang have processor-specific paths; elsewhere
// every feature below reads false and the portable paths are the only ones.
#if defined(__x86_64__) && defined(__GNUC__)
#define GRAYFIX_CPU_X86 1
#endif

struct ProcessorFeatures {
    bool avx2 = false;
    bool avx512 = false;    // AVX-512 F, BW and VL
    bool avx512dq = false;  // AVX-512 F and DQ
    bool clmul = false;     // PCLMULQDQ with SSSE3 and SSE4.1
    bool vpclmulqdq = false;
};

// The answers for this processor (and operating system: a wide register set
// counts only when the system saves it).
const ProcessorFeatures& Cpu();

// The current path of one family. Path is an enum whose values 0..Widest run
// from the portable path (always available) to the widest; Available says
// which the processor and the build have. The default is the widest available.
template <typename Path, Path Widest, bool (*Available)(Path)>
struct PathChoice {
    static Path Best()
    {
        for (int path = (int)Widest; path > 0; --path)
            if (Available((Path)path)) return (Path)path;
        return (Path)0;
    }
    static Path& Current()
    {
        static Path path = Best();
        return path;
    }
    // Returns false (and changes nothing) when the path is not available.
    static bool Set(Path path)
    {
        if (!Available(path)) return false;
        Current() = path;
        return true;
    }
};
