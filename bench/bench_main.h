// bench_main.h - the main of a benchmark whose transforms print a line per
// call: those lines go to /dev/null, the results to the real standard output.
#pragma once

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

// Runs the registered benchmarks with a Reporter (a ConsoleReporter) made with
// the usual options on a terminal and with piped otherwise; returns main's status.
template <class Reporter = benchmark::ConsoleReporter>
int RunBenchmarksQuietly(int argc, char** argv, benchmark::ConsoleReporter::OutputOptions piped)
{
    std::fflush(stdout);
    int results = dup(STDOUT_FILENO);
    int quiet = open("/dev/null", O_WRONLY);
    if (results < 0 || quiet < 0 || dup2(quiet, STDOUT_FILENO) < 0) return 1;
    close(quiet);
    // Appending: reopened without it, a file the results are redirected to would be
    // cut short to nothing first.
    std::ofstream out("/dev/fd/" + std::to_string(results), std::ios::app);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Reporter reporter(isatty(results) ? benchmark::ConsoleReporter::OO_Defaults : piped);
    reporter.SetOutputStream(&out);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
