// output_test.cpp - the writer never loses what was at the output path: a run
// that fails to write leaves it byte for byte, whatever the path names (a
// file, a link, a device, a FIFO), and no temporary file stays behind.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

std::string Banner(const std::string& message) { return "\ngrayfix ERROR: " + message; }

// A PGM of width x height 16-bit pixels: 2 * width * height bytes of samples.
Bytes Pgm16(int width, int height, int seed)
{
    std::vector<int> pixels((std::size_t)width * height);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = (int)((i * 7919 + seed) % 65536);
    return MakePgm(width, height, 65535, pixels);
}

std::function<void()> FileSizeLimit(rlim_t bytes)
{
    return [bytes] {
        struct rlimit limit = {bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
}

mode_t Mode(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

}  // namespace

// Under a file-size limit the write fails like any other: status 4, the
// message of the step that failed, the path as it was, no signal.
TEST(SafeOutputTest, FileSizeLimitLeavesThePathAsItWas)
{
    TempDir dir;
    dir.Write("in.pgm", Pgm16(200, 200, 1));  // 80 000 sample bytes
    dir.Write("old.pgm", Pgm16(3, 3, 2));
    Bytes old = dir.Read("old.pgm");
    std::vector<std::string> before = Listing(dir.Root());

    struct Case {
        std::string output;
        rlim_t limit;
        std::string message;
    };
    // Rows larger than the stream buffer fail while written; a small image
    // waits in the buffer and fails when it is flushed at the close.
    for (const Case& c : {Case{"old.pgm", 1000, "WriteImage: Error outputting image"},
                          Case{"new.pgm", 1000, "WriteImage: Error outputting image"},
                          Case{"in.pgm", 1000, "WriteImage: Error outputting image"}}) {
        SCOPED_TRACE(c.output);
        RunResult r = RunGrayfixWith(dir, {"in.pgm", c.output}, Options(-1, -1, FileSizeLimit(c.limit)));
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.err, Banner(c.message));
        EXPECT_EQ(Listing(dir.Root()), before);  // nothing new, no temporary file
    }
    EXPECT_EQ(dir.Read("old.pgm"), old);
    EXPECT_EQ(dir.Read("in.pgm"), Pgm16(200, 200, 1));

    dir.Write("small.pgm", Pgm16(10, 10, 3));
    // The limit binds the captured reports too, which would then fail first
    // (status 4 for standard output): they go to /dev/null here.
    int null = open("/dev/null", O_WRONLY);
    RunResult r = RunGrayfixWith(dir, {"small.pgm", "-t:negendian", "old.pgm"},
                                 Options(-1, null, FileSizeLimit(100)));
    close(null);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, Banner("WriteImage: Error closing output file"));
    EXPECT_EQ(dir.Read("old.pgm"), old);

    // With room enough the same run replaces the file, byte for byte as always.
    r = RunGrayfixWith(dir, {"in.pgm", "in.pgm"}, Options(-1, -1, FileSizeLimit(1 << 20)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("in.pgm"), Pgm16(200, 200, 1));
}

// A filesystem that fills up: a tiny tmpfs, where this process may mount one.
TEST(SafeOutputTest, FullFilesystemLeavesThePathAsItWas)
{
    TempDir dir;
    std::string mountPoint = dir.Path("small");
    fs::create_directory(mountPoint);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs privileges): " << std::strerror(errno);
    dir.Write("in.pgm", Pgm16(200, 200, 1));
    dir.Write("small/old.pgm", Pgm16(3, 3, 2));
    Bytes old = dir.Read("small/old.pgm");
    RunResult r = RunGrayfix(dir, {"in.pgm", "small/old.pgm"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, Banner("WriteImage: Error outputting image"));
    EXPECT_EQ(dir.Read("small/old.pgm"), old);
    EXPECT_EQ(Listing(mountPoint), std::vector<std::string>{"old.pgm"});
    r = RunGrayfix(dir, {"in.pgm", "small/new.pgm"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(Listing(mountPoint), std::vector<std::string>{"old.pgm"});
    umount(mountPoint.c_str());
}

// What users rely on stays: links, permission bits, devices, FIFOs.
TEST(SafeOutputTest, OutputKindsKeepTheirNature)
{
    TempDir dir;
    Bytes image = Pgm16(20, 10, 4);
    dir.Write("in.pgm", image);

    // A symbolic link stays a link; the file it points to gets the image.
    dir.Write("target.pgm", Pgm16(3, 3, 2));
    fs::create_symlink("target.pgm", dir.Path("link.pgm"));
    EXPECT_EQ(RunGrayfix(dir, {"in.pgm", "link.pgm"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir.Path("link.pgm")));
    EXPECT_EQ(dir.Read("target.pgm"), image);
    fs::create_symlink("made.pgm", dir.Path("dangling.pgm"));  // a link to nothing yet
    EXPECT_EQ(RunGrayfix(dir, {"in.pgm", "dangling.pgm"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir.Path("dangling.pgm")));
    EXPECT_EQ(dir.Read("made.pgm"), image);

    // An existing file keeps its bits; a new one gets fopen's under the umask.
    dir.Write("kept.pgm", Pgm16(3, 3, 2));
    chmod(dir.Path("kept.pgm").c_str(), 0604);
    EXPECT_EQ(RunGrayfix(dir, {"in.pgm", "kept.pgm"}).status, 0);
    EXPECT_EQ(Mode(dir.Path("kept.pgm")), 0604u);
    RunResult r = RunGrayfixWith(dir, {"in.pgm", "fresh.pgm"}, Options(-1, -1, [] { umask(027); }));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Mode(dir.Path("fresh.pgm")), 0640u);
    EXPECT_EQ(dir.Read("fresh.pgm"), image);

    // Another hard link to the file keeps the old image: the name given is
    // replaced by a new file, as sed -i does.
    dir.Write("first.pgm", Pgm16(3, 3, 2));
    fs::create_hard_link(dir.Path("first.pgm"), dir.Path("second.pgm"));
    EXPECT_EQ(RunGrayfix(dir, {"in.pgm", "first.pgm"}).status, 0);
    EXPECT_EQ(dir.Read("first.pgm"), image);
    EXPECT_EQ(dir.Read("second.pgm"), Pgm16(3, 3, 2));

    // Devices are written in place, as before.
    EXPECT_EQ(RunGrayfix(dir, {"in.pgm", "/dev/null"}).status, 0);
    r = RunGrayfix(dir, {"in.pgm", "/dev/full"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, Banner("WriteImage: Error closing output file"));

    // A FIFO is written straight to its reader.
    ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    Bytes received;
    std::thread reader([&] {
        std::ifstream fifo(dir.Path("fifo"), std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(fifo), std::istreambuf_iterator<char>());
    });
    EXPECT_EQ(RunGrayfix(dir, {"in.pgm", "fifo"}).status, 0);
    reader.join();
    EXPECT_EQ(received, image);

    EXPECT_EQ(Listing(dir.Root()),
              (std::vector<std::string>{"dangling.pgm", "fifo", "first.pgm", "fresh.pgm", "in.pgm",
                                        "kept.pgm", "link.pgm", "made.pgm", "second.pgm",
                                        "target.pgm"}));
}

// No temporary file can be made in a read-only directory, but a writable file
// there is still written, in place. Root may write anywhere, so a root test
// run drops to an unprivileged user in the child.
TEST(SafeOutputTest, ReadOnlyDirectoryWithAWritableFileIsWrittenInPlace)
{
    TempDir dir;
    Bytes image = Pgm16(20, 10, 4);
    dir.Write("in.pgm", image);
    fs::create_directory(dir.Path("ro"));
    dir.Write("ro/out.pgm", Pgm16(3, 3, 2));
    chmod(dir.Root().c_str(), 0755);
    chmod(dir.Path("in.pgm").c_str(), 0644);
    chmod(dir.Path("ro/out.pgm").c_str(), 0666);
    chmod(dir.Path("ro").c_str(), 0555);
    struct stat before;
    ASSERT_EQ(stat(dir.Path("ro/out.pgm").c_str(), &before), 0);
    bool root = geteuid() == 0;
    RunOptions options;
    options.inChild = [root] {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    };
    RunResult r = RunGrayfixWith(dir, {"in.pgm", "ro/out.pgm"}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.Read("ro/out.pgm"), image);
    struct stat after;
    ASSERT_EQ(stat(dir.Path("ro/out.pgm").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(Listing(dir.Path("ro")), std::vector<std::string>{"out.pgm"});
    // Nor can a file be created there: the open fails as it always did.
    r = RunGrayfixWith(dir, {"in.pgm", "ro/new.pgm"}, options);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, Banner("WriteImage: Error openning output file"));
    chmod(dir.Path("ro").c_str(), 0755);
}

// Starts grayfix in dir with the signal at its default action and unblocked,
// and no core file; the reports go to /dev/null.
static pid_t StartGrayfix(const TempDir& dir, const std::vector<std::string>& args, int signal)
{
    std::vector<std::string> words = ProgramCommand();
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv = ArgvOf(words);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null < 0 || chdir(dir.Root().c_str()) != 0) _exit(127);
        dup2(null, 1);
        dup2(null, 2);
        std::signal(signal, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigprocmask(SIG_SETMASK, &set, nullptr);
        struct rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for a file whose name starts with prefix to be created in the watched
// directory; false when the watch fails or nothing comes within two minutes.
static bool AwaitCreation(int watch, const std::string& prefix)
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        struct pollfd ready = {watch, POLLIN, 0};
        if (poll(&ready, 1, 120000) != 1) return false;
        ssize_t length = read(watch, buffer, sizeof buffer);
        if (length <= 0) return false;
        for (char* at = buffer; at < buffer + length;) {
            auto* event = (inotify_event*)at;
            if (event->len > 0 && std::string(event->name).rfind(prefix, 0) == 0) return true;
            at += sizeof(inotify_event) + event->len;
        }
    }
}

// Ctrl-C, kill, a hang-up or a quit during the write: the hidden file goes,
// the path keeps what it held, and the parent sees the process end by that
// very signal. The test sends it the moment the hidden file appears. On a
// busy machine the signal may land only after the image was put in place (the
// run then ends by it, or had ended): the path must then hold the whole new
// image, never a part of it, and the test tries again.
class KilledWhileWriting : public ::testing::TestWithParam<int> {};

TEST_P(KilledWhileWriting, LeavesNothingBehindAndEndsByTheSignal)
{
    const int signal = GetParam();
    TempDir dir;
    Bytes image = Pgm16(4096, 2048, 5);  // 16 MiB of samples: the write takes a while
    dir.Write("in.pgm", image);
    int killed = 0;
    for (int attempt = 0; attempt < 5 && killed == 0; ++attempt) {
        dir.Write("out.pgm", ToBytes("old"));
        int watch = inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, dir.Root().c_str(), IN_CREATE), 0);
        pid_t pid = StartGrayfix(dir, {"in.pgm", "out.pgm"}, signal);
        ASSERT_GT(pid, 0);
        bool seen = AwaitCreation(watch, ".out.pgm.");
        kill(pid, signal);
        close(watch);
        int wstatus = 0;
        ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
        ASSERT_TRUE(seen);
        EXPECT_EQ(Listing(dir.Root()), (std::vector<std::string>{"in.pgm", "out.pgm"}));
        Bytes written = dir.Read("out.pgm");
        if (WIFSIGNALED(wstatus)) {
            EXPECT_EQ(WTERMSIG(wstatus), signal);
        } else {
            EXPECT_EQ(WEXITSTATUS(wstatus), 0);
        }
        if (written == ToBytes("old")) {
            EXPECT_TRUE(WIFSIGNALED(wstatus));
            killed = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : -1;
        } else {
            EXPECT_TRUE(written == image) << "a partly written image of " << written.size()
                                          << " bytes";
        }
    }
    EXPECT_EQ(killed, signal) << "the run ended before the signal every time";
}

INSTANTIATE_TEST_SUITE_P(Signals, KilledWhileWriting,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });
