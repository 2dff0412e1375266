// main.cpp - process entry: the exit status is the driver's result.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "driver/driver.h"

// A standard descriptor the caller closed (`>&-`) keeps its number taken by
// /dev/null opened the other way round, so every use of it still fails as on a
// closed descriptor. Left free, the next file opened would get the number: the
// reports would go into the image being written, or an input be read as
// standard input.
static void HoldClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lower numbers are open, so the lowest free one is fd itself.
            if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd) return;
        }
}

int main(int argc, char** argv)
{
    HoldClosedStandardDescriptors();
    // A write past a file-size limit (ulimit -f) then fails like any other
    // write, and the writer leaves no partial file, instead of the process
    // being killed by SIGXFSZ. SIGPIPE keeps its default: reports piped into
    // `head` end the run quietly, as Unix tools do.
    std::signal(SIGXFSZ, SIG_IGN);
    return GrayfixMain(argc, argv);
}
