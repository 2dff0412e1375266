// console.h - console output, the usage text, the fatal-error path and the
// internal-check macro shared by every module.
#pragma once

#include <cstdio>
#include <string>

// Exit statuses, one per class of error.
enum ExitStatus {
    ExitSuccess = 0,
    ExitCommandLine = 1,
    ExitInputFile = 2,
    ExitPixelMemory = 3,
    ExitOutputFile = 4,  // also the reports, and a denoise mode that does not exist
    ExitXorFile = 5,
    ExitStatsMemory = 6,
    ExitPixelTooHigh = 7,
    ExitCheckFailed = 8,  // a failed internal check (CHECK below)
};

// printf to the report stream; every report line goes through here.
int PrintMsg(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reports go to standard output, or to standard error when standard output
// carries the image itself.
void SendReportsTo(FILE* stream);
// Flushes the reports; false when some report could not be written (standard
// output full, closed or failing). Reports sent to standard error, when the
// image goes to standard output, are not checked, as errors are not.
bool ReportsWritten();
// printf to an open file; returns -1 on failure like fprintf.
int FPrintMsg(FILE* file, const char* format, ...) __attribute__((format(printf, 2, 3)));

void PrintUsage();

// Flushes the reports, writes "\ngrayfix ERROR: " and the message (no
// newline) to standard error and exits with the status.
[[noreturn]] void FatalError(const char* message, int status);

// A program that embeds grayfix and must not end with a refusal (the Python
// module, the fuzz targets) installs a handler that unwinds instead. It gets
// FatalError's message (for a failed check, the condition text) and the status
// before anything is printed, and must not return. The tool installs none.
using StopHandler = void (*)(const char* message, int status);
void SetStopHandler(StopHandler handler);

// What a stopped run would have ended with, thrown by ThrowGrayfixStop, the
// handler both embedders install.
struct GrayfixStop {
    int status;        // the exit status of the run
    std::string text;  // FatalError's message, or the failed check's condition
};
[[noreturn]] void ThrowGrayfixStop(const char* message, int status);

// Ends the run after a failed internal check: flushes the reports, writes
// one line naming the source position and quoting the condition, and exits
// with ExitCheckFailed. Never a signal, in every build type.
[[noreturn]] void CheckFailed(const char* file, int line, const char* condition);

// The condition text is quoted exactly as written, so write conditions in the
// form the diagnostics promise (for example "value <= ImgLevelMax && value >= 0").
#define CHECK(condition) \
    ((condition) ? (void)0 : CheckFailed(__FILE__, __LINE__, #condition))
