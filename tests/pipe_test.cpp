// pipe_test.cpp - inputs that cannot be positioned (pipes, FIFOs, process
// substitution, "-") read exactly as the same bytes from a regular file, and
// "-" as the output: the image on standard output, the reports on standard error.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <stdexcept>
#include <thread>

#include "test_util.h"

namespace {

std::string Banner(const std::string& message) { return "\ngrayfix ERROR: " + message; }

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A writer process feeding bytes into a pipe, or into a FIFO once it is opened.
// killHalfway makes it die by a signal after half of them.
struct Feeder {
    pid_t pid = -1;
    int readFd = -1;  // the pipe's read end, for the tool's standard input

    Feeder(const Bytes& bytes, const std::string& fifo = "", bool killHalfway = false)
    {
        int ends[2] = {-1, -1};
        if (fifo.empty() && pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
        pid = fork();
        if (pid == 0) {
            int fd = fifo.empty() ? ends[1] : open(fifo.c_str(), O_WRONLY);
            std::size_t count = killHalfway ? bytes.size() / 2 : bytes.size();
            for (std::size_t done = 0; done < count;) {
                ssize_t n = write(fd, bytes.data() + done, count - done);
                if (n <= 0) _exit(0);  // the reader has stopped reading
                done += (std::size_t)n;
            }
            if (killHalfway) raise(SIGKILL);
            _exit(0);
        }
        if (fifo.empty()) {
            close(ends[1]);
            readFd = ends[0];
        }
    }
    ~Feeder()
    {
        if (readFd >= 0) close(readFd);
        kill(pid, SIGKILL);  // a writer blocked on a FIFO nobody opened
        waitpid(pid, nullptr, 0);
    }
};

// Standard output read from a pipe as the tool writes it.
struct Drain {
    int ends[2] = {-1, -1};
    Bytes bytes;
    std::thread reader;

    Drain()
    {
        if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
        reader = std::thread([this] {
            unsigned char chunk[65536];
            for (ssize_t n; (n = read(ends[0], chunk, sizeof chunk)) > 0;)
                bytes.insert(bytes.end(), chunk, chunk + n);
        });
    }
    Bytes Finish()  // after the run: the writer's end closes, the reader sees the end
    {
        close(ends[1]);
        reader.join();
        close(ends[0]);
        return bytes;
    }
};

class PipeTest : public ::testing::Test {
protected:
    TempDir dir;

    RunResult FromPipe(const std::vector<std::string>& args, const Bytes& input)
    {
        Feeder feeder(input);
        return RunGrayfixWith(dir, args, Options(feeder.readFd));
    }
    // The same run with "in.pgm" a FIFO fed with these bytes.
    RunResult FromFifo(const std::vector<std::string>& args, const Bytes& input)
    {
        std::remove(dir.Path("in.pgm").c_str());
        if (mkfifo(dir.Path("in.pgm").c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
        Feeder feeder(input, dir.Path("in.pgm"));
        RunResult r = RunGrayfix(dir, args);
        std::remove(dir.Path("in.pgm").c_str());
        return r;
    }
    RunResult FromFile(const std::vector<std::string>& args, const Bytes& input)
    {
        dir.Write("in.pgm", input);
        return RunGrayfix(dir, args);
    }
    // Runs one after the other leave their output here, or nothing.
    Bytes TakeOutput()
    {
        Bytes out = dir.Read("out.pgm");
        std::remove(dir.Path("out.pgm").c_str());
        return out;
    }
};

void ExpectSameRun(const RunResult& actual, const RunResult& expected)
{
    EXPECT_EQ(actual.out, expected.out);
    EXPECT_EQ(actual.err, expected.err);
    EXPECT_EQ(actual.status, expected.status);
    EXPECT_EQ(actual.signal, 0);
}

}  // namespace

// The same bytes give the same reports, messages, statuses and output,
// whether they come from a file, a FIFO of the same name, or "-".
TEST_F(PipeTest, StreamedInputsReadAsTheSameFile)
{
    std::vector<int> pixels;
    for (int i = 0; i < 40 * 30; ++i) pixels.push_back((i * 37) % 4096);
    Bytes pgm16 = MakePgm(40, 30, 4095, pixels);
    Bytes pgm8 = MakePgm(5, 4, 255, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
    Bytes raw = ToBytes("skip..");  // 12-bit RAW samples after six bytes to skip
    Bytes samples = SampleBytes(pixels, 2);
    raw.insert(raw.end(), samples.begin(), samples.end());
    Bytes longer = pgm8, shorter = pgm8;
    longer.push_back(0);
    shorter.pop_back();
    struct Case {
        const char* name;
        std::vector<std::string> args;  // "in.pgm" is the input
        Bytes input;
    };
    std::vector<Case> cases = {
        {"8-bit copy", {"in.pgm", "out.pgm"}, pgm8},
        {"16-bit median", {"in.pgm", "-t:denoise:1:0", "out.pgm"}, pgm16},
        {"RAW with skip", {"-i:RAW:40:30:12:6", "in.pgm", "-t:decorrelatemed", "-o:RAW", "out.pgm"}, raw},
        {"too long", {"in.pgm", "out.pgm"}, longer},
        {"too short", {"in.pgm", "out.pgm"}, shorter},
        {"bad header", {"in.pgm", "out.pgm"}, ToBytes("P5\n5 x\n255\n")},
        {"empty", {"in.pgm", "out.pgm"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult file = FromFile(c.args, c.input);
        Bytes fileOutput = TakeOutput();
        ExpectSameRun(FromFifo(c.args, c.input), file);
        EXPECT_EQ(TakeOutput(), fileOutput);

        std::vector<std::string> dashed = c.args;
        std::replace(dashed.begin(), dashed.end(), std::string("in.pgm"), std::string("-"));
        RunResult dash = FromPipe(dashed, c.input);
        RunResult expected = file;
        expected.out = Replaced(file.out, "ImgFileName:  in.pgm", "ImgFileName:  -");
        ExpectSameRun(dash, expected);
        EXPECT_EQ(TakeOutput(), fileOutput);
    }
    EXPECT_EQ(FromFile({"-i:RAW:40:30:12:6", "in.pgm", "out.pgm"}, raw).status, 0);
}

// Process substitution hands the tool /dev/fd/N, a pipe that cannot be positioned.
TEST_F(PipeTest, ProcessSubstitution)
{
    Bytes pgm = MakePgm(4, 3, 1023, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    RunResult file = FromFile({"in.pgm", "-t:soften:1:8:1", "out.pgm"}, pgm);
    Bytes fileOutput = TakeOutput();
    RunOptions options;
    options.inChild = [&pgm] {
        int ends[2];
        if (pipe(ends) != 0) _exit(125);
        if (fork() == 0) {
            close(ends[0]);
            _exit(write(ends[1], pgm.data(), pgm.size()) == (ssize_t)pgm.size() ? 0 : 1);
        }
        close(ends[1]);
        dup2(ends[0], 63);
    };
    RunResult sub = RunGrayfixWith(dir, {"/dev/fd/63", "-t:soften:1:8:1", "out.pgm"}, options);
    RunResult expected = file;
    expected.out = Replaced(file.out, "ImgFileName:  in.pgm", "ImgFileName:  /dev/fd/63");
    ExpectSameRun(sub, expected);
    EXPECT_EQ(TakeOutput(), fileOutput);
}

// "-" works wherever a file is read: the reference header of -i:RAW:like: and
// -t:cropdepthlike:, and the cyclic XOR stream (read once, whole, also when it
// wraps after more bytes than are kept in memory otherwise).
TEST_F(PipeTest, DashAtEveryFileTakingPosition)
{
    std::vector<int> pixels;
    for (int i = 0; i < 300 * 300; ++i) pixels.push_back((i * 13) % 256);
    dir.Write("img.pgm", MakePgm(300, 300, 255, pixels));
    dir.Write("img.raw", SampleBytes(pixels, 1));
    dir.Write("small.pgm", MakePgm(2, 1, 255, {1, 2}));
    Bytes reference = MakePgm(300, 300, 255, {});  // a header alone: only that is read
    Bytes shortXor = {0x0f, 0xf0, 0x55};
    Bytes longXor(70000);
    for (std::size_t i = 0; i < longXor.size(); ++i) longXor[i] = (unsigned char)(i * 7 + i / 256);
    Bytes deeper = MakePgm(2, 1, 127, {1, 2});

    struct Case {
        std::vector<std::string> args;  // with "ref" for the file taken from standard input
        Bytes stdinBytes;
        std::string printed;  // how the file's name appears in the reports, if at all
    };
    std::vector<Case> cases = {
        {{"-i:RAW:like:ref", "img.raw", "out.pgm"}, reference, ""},
        {{"small.pgm", "-t:cropdepthlike:ref", "out.pgm"}, deeper, "from ref is"},
        {{"img.pgm", "-t:xorfile:ref", "out.pgm"}, shortXor, "file \"ref\""},
        {{"img.pgm", "-t:xorfile:ref", "out.pgm"}, longXor, "file \"ref\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        dir.Write("ref", c.stdinBytes);
        RunResult file = RunGrayfix(dir, c.args);
        EXPECT_EQ(file.status, 0) << file.err;
        Bytes fileOutput = TakeOutput();
        std::vector<std::string> dashed;
        for (const std::string& a : c.args) dashed.push_back(Replaced(a, "ref", "-"));
        RunResult dash = FromPipe(dashed, c.stdinBytes);
        RunResult expected = file;
        if (!c.printed.empty())
            expected.out = Replaced(file.out, c.printed, Replaced(c.printed, "ref", "-"));
        ExpectSameRun(dash, expected);
        EXPECT_EQ(TakeOutput(), fileOutput);
    }
}

// Standard input can be read once: a second "-" is refused before anything runs.
TEST_F(PipeTest, SecondDashIsRefused)
{
    dir.Write("img.pgm", MakePgm(2, 1, 255, {1, 2}));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-i:RAW:like:-", "-", "out.pgm"},
             {"-", "-t:xorfile:-", "out.pgm"},
             {"-", "-t:cropdepthlike:-", "-"},
             {"-i:RAW:like:-", "-i:endian:Little", "img.pgm", "-t:xorfile:-", "out.pgm"}}) {
        RunResult r = FromPipe(args, MakePgm(2, 1, 255, {1, 2}));
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, Banner("Only one file can be - (standard input)"));
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(dir.Exists("out.pgm"));
    }
}

// "-" as the output: the image goes down the pipe, and everything the run
// would have printed goes to standard error, byte for byte, errors after it.
TEST_F(PipeTest, DashOutputSendsTheImageDownThePipe)
{
    std::vector<int> pixels;
    for (int i = 0; i < 64 * 64; ++i) pixels.push_back((i * 101) % 65536);
    Bytes pgm = MakePgm(64, 64, 65535, pixels);  // more than a pipe holds at once
    RunResult file = FromFile({"in.pgm", "-t:denoise:1:3", "out.pgm"}, pgm);
    Bytes fileOutput = TakeOutput();

    Feeder feeder(pgm);
    Drain drain;
    RunResult piped = RunGrayfixWith(dir, {"-", "-t:denoise:1:3", "-"},
                                     Options(feeder.readFd, drain.ends[1]));
    EXPECT_EQ(drain.Finish(), fileOutput);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(piped.err, Replaced(Replaced(file.out, "ImgFileName:  in.pgm", "ImgFileName:  -"),
                                  "ImgFileName:  out.pgm", "ImgFileName:  -"));

    // -o:RAW comes before the output name; a failure's banner follows the reports.
    dir.Write("in.pgm", pgm);
    RunResult raw = RunGrayfix(dir, {"in.pgm", "-o:RAW", "-"});
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(ToBytes(raw.out), Bytes(pgm.end() - 64 * 64 * 2, pgm.end()));
    RunResult failed = RunGrayfix(dir, {"in.pgm", "-t:bogus", "-"});
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err.rfind(InfoBlock("Input Image", "in.pgm", 64, 64, 2, 16, 65535, 1, 0, 15), 0), 0u);
    EXPECT_EQ(failed.err.substr(failed.err.size() - Banner("Bad switch -t").size()),
              Banner("Bad switch -t"));
}

// A producer that dies half-way leaves a short stream: the usual refusal.
TEST_F(PipeTest, WriterDyingHalfwayIsATooShortInput)
{
    std::vector<int> pixels(100 * 100, 7);
    Bytes pgm = MakePgm(100, 100, 255, pixels);
    Feeder feeder(pgm, "", true);
    RunResult r = RunGrayfixWith(dir, {"-", "out.pgm"}, Options(feeder.readFd));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, Banner("ReadRaw: Input file too short"));
    EXPECT_EQ(r.out, InfoBlock("Input Image", "-", 100, 100, 1, 8, 255, 1, 0, 15));
    EXPECT_FALSE(dir.Exists("out.pgm"));
}
