// main.cpp - process entry: the exit status is the driver's result.

#include <csignal>

#include "driver/driver.h"

int main(int argc, char** argv)
{
    // A write past a file-size limit (ulimit -f) then fails like any other
    // write, and the writer leaves no partial file, instead of the process
    // being killed by SIGXFSZ. SIGPIPE keeps its default: reports piped into
    // `head` end the run quietly, as Unix tools do.
    std::signal(SIGXFSZ, SIG_IGN);
    return GrayfixMain(argc, argv);
}
