// fileio.h - how the tool opens its files: inputs that may be pipes or "-", and
// outputs that replace an existing file only once every byte is written.
#pragma once

#include <cstdio>
#include <string>

// "-" names standard input (or, as the output file, standard output).
bool IsStdStream(const char* name);

// Opens an input file for reading from its start, as fopen(name, "rb") would.
// A regular file (or a directory, which fails later as it always has) is opened
// directly. Anything that cannot be positioned (a pipe, a FIFO, a terminal, a
// device, or "-") is read once into memory on its first open, as far as readers
// ask for bytes, and every open of the same name returns a fresh stream over
// that copy, so readers can seek and reopen it. nullptr when it cannot be opened.
FILE* OpenInputFile(const char* name);

// Frees the memory copy of a streamed input once no reader needs it again
// (every stream over it closed).
void ReleaseInputCopy(const char* name);

// An output being written. For a regular file, or a path where nothing exists
// yet, the bytes go to a new hidden file beside it (".NAME.XXXXXX"), renamed
// over the path by CommitOutputFile: a failed run leaves the path untouched.
// Other outputs (devices, FIFOs, "-") and directories where no file can be
// created are written in place, as fopen(name, "wb") would.
struct OutputFile {
    FILE* file = nullptr;
    std::string tempPath;   // empty when writing in place
    std::string finalPath;  // what tempPath replaces (symbolic links followed)
};

// False when the output cannot be opened.
bool OpenOutputFile(const char* name, OutputFile* output);
// Allocates the blocks of a temporary output of the given size up front (a
// hint: failures change nothing, the writes then succeed or fail as before).
void ReserveOutputFile(OutputFile* output, std::size_t bytes);
// Flushes and closes the file and puts it in place; false (with the temporary
// file removed) when any of that fails.
bool CommitOutputFile(OutputFile* output);
// Closes and removes an unfinished output; the path keeps what it held.
void AbandonOutputFile(OutputFile* output);

// True when writing the output (a path, or "-" for standard output) or the
// reports and messages on standard output and standard error could change
// the regular file open as inputFd: the same file under any name, or a
// standard stream opened on it. Writing in place would then overwrite bytes
// not yet read.
bool OutputMayReachInput(int inputFd, const char* outputName);

// While a file is mapped into memory at [begin, end), a bus error there
// means its pages could not be read, most likely because someone cut the
// file short. A bus error inside the range, or at any address while the
// file open as fd is shorter than size (some processors and emulators report
// the address only in part), ends the run as FatalError(message, status)
// would, with any hidden output file removed. The reports must have been
// flushed already (a signal handler cannot). Any other bus error stays
// fatal as it always was.
void GuardMappedInput(const void* begin, const void* end, int fd, long long size,
                      const char* message, int status);
// The default bus-error action again, once the mapping is gone.
void UnguardMappedInput();
