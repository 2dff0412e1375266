// reports_test.cpp - nothing fails in silence: reports that cannot be written
// end the run with status 4 before the image is written, and arguments the
// fixed order ignores or takes as a file name are named in a warning.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "test_util.h"

namespace {

std::string Banner(const std::string& message) { return "\ngrayfix ERROR: " + message; }

std::vector<std::string> Listing(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Root()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Where standard output goes, set up in the child before exec.
struct Sink {
    const char* name;
    std::function<void()> inChild;
};

struct ReportCase {
    const char* name;
    std::vector<std::string> args;
};

class UnwritableReports
    : public ::testing::TestWithParam<std::tuple<Sink, ReportCase>> {};

// The output path keeps what it held and nothing new appears beside it.
TEST_P(UnwritableReports, EndWithStatusFourAndLeaveTheOutputAlone)
{
    const auto& [sink, run] = GetParam();
    TempDir dir;
    dir.Write("in.pgm", MakePgm(3, 2, 255, {1, 2, 3, 4, 5, 6}));
    dir.Write("out.pgm", ToBytes("old"));
    RunResult r = RunGrayfixWith(dir, run.args, Options(-1, -1, sink.inChild));
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, Banner("PrintMsg: Error writing standard output"));
    EXPECT_EQ(dir.Read("out.pgm"), ToBytes("old"));
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"in.pgm", "out.pgm"}));
}

INSTANTIATE_TEST_SUITE_P(
    Sinks, UnwritableReports,
    ::testing::Combine(
        ::testing::Values(Sink{"DevFull",
                               [] {
                                   int full = open("/dev/full", O_WRONLY);
                                   if (full < 0 || dup2(full, 1) < 0) _exit(127);
                               }},
                          Sink{"Closed", [] { close(1); }}),
        ::testing::Values(ReportCase{"Copy", {"in.pgm", "out.pgm"}},
                          ReportCase{"Transform", {"in.pgm", "-t:negendian", "out.pgm"}},
                          ReportCase{"Raw", {"in.pgm", "-o:RAW", "out.pgm"}},
                          ReportCase{"Help", {"--help"}},
                          ReportCase{"Version", {"--version"}})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
    });

// A reader that stops early (`| head`) ends the run by SIGPIPE, quietly, as
// for Unix tools; here the reader is gone before the first report.
TEST(ReportPipeTest, ReaderGoneEndsTheRunBySigpipeBeforeTheImage)
{
    TempDir dir;
    dir.Write("in.pgm", MakePgm(3, 2, 255, {1, 2, 3, 4, 5, 6}));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    RunResult r = RunGrayfixWith(dir, {"in.pgm", "out.pgm"}, Options(-1, ends[1]));
    close(ends[1]);
    EXPECT_EQ(r.signal, SIGPIPE);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"in.pgm"});
}

// With the image on standard output the reports are on standard error, and
// like the error messages there they are not checked: the run is as before.
TEST(ReportPipeTest, ImageOnStandardOutputIgnoresAFullStandardError)
{
    TempDir dir;
    Bytes pgm = MakePgm(3, 2, 255, {1, 2, 3, 4, 5, 6});
    dir.Write("in.pgm", pgm);
    RunResult r = RunGrayfixWith(dir, {"in.pgm", "-"}, Options(-1, -1, [] {
                                     int full = open("/dev/full", O_WRONLY);
                                     if (full < 0 || dup2(full, 2) < 0) _exit(127);
                                 }));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ToBytes(r.out), pgm);
}

// A typing mistake at the output position: the run does exactly what it did
// before (the same report, status and files as without the ignored
// arguments), and standard error names what was ignored or taken as a name.
struct Mistake {
    const char* name;
    std::vector<std::string> args;  // as typed
    std::size_t used;               // how many of them the fixed order uses
    std::string warnings;
};

class OutputPositionWarning : public ::testing::TestWithParam<Mistake> {};

TEST_P(OutputPositionWarning, NamesTheArgumentAndChangesNothingElse)
{
    const Mistake& m = GetParam();
    TempDir typed, intended;
    for (const TempDir* dir : {&typed, &intended})
        dir->Write("in.pgm", MakePgm(3, 2, 255, {1, 2, 3, 4, 5, 6}));
    RunResult r = RunGrayfix(typed, m.args);
    RunResult plain = RunGrayfix(intended, {m.args.begin(), m.args.begin() + (long)m.used});
    EXPECT_EQ(r.err, m.warnings);
    EXPECT_EQ(r.status, plain.status);
    EXPECT_EQ(r.out, plain.out);
    std::vector<std::string> names = Listing(typed);
    EXPECT_EQ(names, Listing(intended));
    for (const std::string& name : names) EXPECT_EQ(typed.Read(name), intended.Read(name)) << name;
    // The fixed order itself stays: the plain run is the run before this change.
    EXPECT_EQ(plain.err, m.warnings.find("looks like a switch") == std::string::npos
                             ? std::string()
                             : m.warnings.substr(0, m.warnings.find('\n') + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, OutputPositionWarning,
    ::testing::Values(
        Mistake{"SwitchAfterOutput", {"in.pgm", "out.pgm", "-t:denoise:1:0"}, 2,
                "grayfix: warning: ignored after the output file: -t:denoise:1:0\n"},
        Mistake{"LowerCaseRaw", {"in.pgm", "-o:raw", "out.raw"}, 2,
                "grayfix: warning: the output file name -o:raw looks like a switch\n"
                "grayfix: warning: ignored after the output file: out.raw\n"},
        Mistake{"InputSwitchLate", {"in.pgm", "-i:endian:Little", "x.pgm"}, 2,
                "grayfix: warning: the output file name -i:endian:Little looks like a switch\n"
                "grayfix: warning: ignored after the output file: x.pgm\n"},
        Mistake{"TwoTransforms", {"in.pgm", "-t:decorrelate", "-t:correlate", "o.pgm"}, 3,
                "grayfix: warning: the output file name -t:correlate looks like a switch\n"
                "grayfix: warning: ignored after the output file: o.pgm\n"},
        Mistake{"DoubleDash", {"in.pgm", "-o:RAW", "--", "out.raw", "more"}, 3,
                "grayfix: warning: the output file name -- looks like a switch\n"
                "grayfix: warning: ignored after the output file: out.raw more\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
