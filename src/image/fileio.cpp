// fileio.cpp - opening inputs (pipes and "-" copied into memory as they are read)
// and outputs (a temporary file renamed over the target once complete).

#include "image/fileio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "driver/console.h"  // CHECK

bool IsStdStream(const char* name)
{
    return std::strcmp(name, "-") == 0;
}

// ---- Inputs -----------------------------------------------------------------------

namespace {

// The bytes read so far from one input that cannot be positioned. Readers only
// ask for what they need (a header, then the pixels and one byte more to tell
// a too-long file), so an endless device such as /dev/zero ends the run just as
// a long regular file would instead of filling memory.
struct CopyView;

// No reader needs more of an input: a skip and a pixel buffer of at most
// INT_MAX bytes each, and one byte more to tell a too-long file. An endless
// source (/dev/zero) asked for its end stops here instead of filling memory.
constexpr std::size_t CopyLimit = std::size_t(INT_MAX) * 2 + 1;

struct StreamCopy {
    std::string name;
    FILE* source = nullptr;  // stdin or a stream of our own
    std::vector<unsigned char> bytes;
    bool ended = false;
    // The open streams over the copy. Owned here rather than by the streams,
    // so that a run ending in a fatal error leaves nothing unreachable.
    std::vector<std::unique_ptr<CopyView>> views;

    // Reads from the source until `end` bytes are held, the source ends or
    // CopyLimit is reached; false when memory for the bytes runs out. Called
    // from the stream callbacks, so nothing may throw out of it.
    bool Fill(std::size_t end) noexcept
    {
        end = std::min(end, CopyLimit);
        while (!ended && bytes.size() < end) {
            std::size_t have = bytes.size();
            std::size_t want = std::min(std::max<std::size_t>(end - have, 1 << 16), CopyLimit - have);
            try {
                bytes.resize(have + want);
            } catch (const std::exception&) {  // bad_alloc, or length_error on a small size_t
                return false;
            }
            std::size_t got = std::fread(bytes.data() + have, 1, want, source);
            bytes.resize(have + got);
            if (got < want) ended = true;  // end of file or a read error, alike for a reader
        }
        return true;
    }
    // Every byte of the source is held: its end is known.
    bool Complete() const { return ended; }
};

// One open stream over a copy: its own position, the copy shared.
struct CopyView {
    StreamCopy* copy;
    std::size_t position;
};

// Never destroyed: streams still open when a fatal error calls exit are
// flushed by the C library after static destructors have run.
std::vector<std::unique_ptr<StreamCopy>>& Copies = *new std::vector<std::unique_ptr<StreamCopy>>;

ssize_t ReadView(void* cookie, char* buffer, std::size_t size)
{
    auto* view = (CopyView*)cookie;
    StreamCopy& copy = *view->copy;
    if (view->position + size > copy.bytes.size() && !copy.Fill(view->position + size)) {
        errno = ENOMEM;
        return -1;
    }
    if (view->position >= copy.bytes.size()) return 0;
    std::size_t count = std::min(size, copy.bytes.size() - view->position);
    std::memcpy(buffer, copy.bytes.data() + view->position, count);
    view->position += count;
    return (ssize_t)count;
}

int SeekView(void* cookie, off64_t* offset, int whence)
{
    auto* view = (CopyView*)cookie;
    off64_t base = 0;
    if (whence == SEEK_CUR) {
        base = (off64_t)view->position;
    } else if (whence == SEEK_END) {
        // Read to the end in steps: the copy grows only as far as the source goes.
        StreamCopy& copy = *view->copy;
        while (!copy.Complete() && copy.bytes.size() < CopyLimit)
            if (!copy.Fill(copy.bytes.size() + (std::size_t(1) << 24))) {
                errno = ENOMEM;
                return -1;
            }
        if (!copy.Complete()) {  // longer than any reader can use
            errno = EOVERFLOW;
            return -1;
        }
        base = (off64_t)copy.bytes.size();
    }
    if (*offset < -base || *offset > INT64_MAX - base) {
        errno = EINVAL;
        return -1;
    }
    view->position = (std::size_t)(base + *offset);
    *offset = (off64_t)view->position;
    return 0;
}

void DropView(CopyView* view)
{
    auto& views = view->copy->views;
    views.erase(std::find_if(views.begin(), views.end(), [view](auto& v) { return v.get() == view; }));
}

int CloseView(void* cookie)
{
    DropView((CopyView*)cookie);
    return 0;
}

FILE* OpenView(StreamCopy* copy)
{
    copy->views.push_back(std::make_unique<CopyView>(CopyView{copy, 0}));
    CopyView* view = copy->views.back().get();
    FILE* file = fopencookie(view, "rb", {ReadView, nullptr, SeekView, CloseView});
    if (file == nullptr) DropView(view);
    return file;
}

}  // namespace

FILE* OpenInputFile(const char* name)
{
    for (auto& copy : Copies)
        if (copy->name == name) return OpenView(copy.get());
    FILE* source = stdin;
    if (!IsStdStream(name)) {
        source = std::fopen(name, "rb");
        if (source == nullptr) return nullptr;
        // A directory opens but cannot be read: it fails in the readers as before.
        struct stat status;
        if (fstat(fileno(source), &status) == 0
            && (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)))
            return source;
    }
    Copies.push_back(std::make_unique<StreamCopy>());
    Copies.back()->name = name;
    Copies.back()->source = source;
    return OpenView(Copies.back().get());
}

void ReleaseInputCopy(const char* name)
{
    for (auto it = Copies.begin(); it != Copies.end(); ++it)
        if ((*it)->name == name) {
            // An open stream would go on reading freed bytes.
            CHECK((*it)->views.empty());
            if ((*it)->source != stdin) std::fclose((*it)->source);
            Copies.erase(it);
            return;
        }
}

// ---- Outputs ----------------------------------------------------------------------

// The file a path finally names: symbolic links are followed, so that a link
// stays a link and the file it points to is replaced (or created).
static std::string FollowLinks(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        std::vector<char> target((std::size_t)status.st_size + 256);
        ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || (std::size_t)length >= target.size()) return path;
        std::string next(target.data(), (std::size_t)length);
        std::size_t slash = path.rfind('/');
        if (next[0] != '/' && slash != std::string::npos) next = path.substr(0, slash + 1) + next;
        path = next;
    }
    return path;  // a loop of links: opening fails as it would have
}

// ---- The temporary file against interrupting signals ----
//
// Ctrl-C, kill, a closed terminal or a quit key during the write would leave
// the hidden file behind. While one exists, these signals remove it and then
// end the process by the same signal, as cp and sort do, so the caller still
// sees it. The handler uses only unlink, sigaction and raise, all
// async-signal-safe; the path it reads is set and cleared with the signals
// blocked, so it never sees a half-made one.

static const int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
static const char* volatile SignalTempPath = nullptr;  // the hidden file, while it exists
static std::string& HeldTempPath = *new std::string;    // owns those bytes; never destroyed

static void RemoveTemporaryAndDie(int signal)
{
    if (const char* path = SignalTempPath) unlink(path);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);  // pending until the handler returns, as the signal is blocked in it
}

// Takes over each signal whose action is still the default: one the caller
// ignores (nohup, a background job) stays ignored, and a host program's own
// handler (an interpreter's Ctrl-C) stays in place.
static void CatchCleanupSignals()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signal : CleanupSignals) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
        struct sigaction action {};
        action.sa_handler = RemoveTemporaryAndDie;
        sigemptyset(&action.sa_mask);
        for (int other : CleanupSignals) sigaddset(&action.sa_mask, other);
        sigaction(signal, &action, nullptr);
    }
}

// Blocks the cleanup signals for as long as it lives.
namespace {
class CleanupSignalsBlocked {
public:
    CleanupSignalsBlocked()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : CleanupSignals) sigaddset(&set, signal);
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~CleanupSignalsBlocked() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
    CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

private:
    sigset_t saved_;
};
}  // namespace

// A cleanup signal arrived while they were blocked; it is delivered, and ends
// the process, once they are unblocked.
static bool CleanupSignalPending()
{
    sigset_t pending;
    if (sigpending(&pending) != 0) return false;
    for (int signal : CleanupSignals)
        if (sigismember(&pending, signal) == 1) return true;
    return false;
}

// Tells the signal handler that the hidden file is gone (renamed or removed).
// Call with the cleanup signals blocked.
static void ForgetTemporary()
{
    SignalTempPath = nullptr;
}

// A hidden file of our own in the target's directory: same filesystem, so the
// rename is atomic. -1 when none can be made there. The signal handler knows
// the file from the moment it exists.
static int CreateTemporary(const std::string& target, std::string* tempPath)
{
    std::size_t slash = target.rfind('/');
    std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) return -1;
    // Keep the name within NAME_MAX (255) with the dot and the six-letter suffix.
    *tempPath = directory + "." + base.substr(0, 240) + ".XXXXXX";
    CatchCleanupSignals();
    CleanupSignalsBlocked blocked;
    int fd = mkostemp(tempPath->data(), O_CLOEXEC);
    if (fd >= 0) {
        HeldTempPath = *tempPath;
        SignalTempPath = HeldTempPath.c_str();
    }
    return fd;
}

bool OpenOutputFile(const char* name, OutputFile* output)
{
    *output = OutputFile{};
    if (IsStdStream(name)) {
        output->file = stdout;
        return true;
    }
    std::string target = FollowLinks(name);
    struct stat status;
    bool exists = stat(target.c_str(), &status) == 0;
    // Devices, FIFOs and the like are written in place; so is a file we may
    // not write, so that opening it fails exactly as it always did.
    bool replace = exists ? S_ISREG(status.st_mode) && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0
                          : errno == ENOENT;
    int fd = replace ? CreateTemporary(target, &output->tempPath) : -1;
    if (fd < 0) {  // e.g. a read-only directory holding a writable file
        output->tempPath.clear();
        output->file = std::fopen(name, "wb");
        return output->file != nullptr;
    }
    if (exists) {
        // Keep the owner and permission bits; neither may fail the run (a
        // non-root user cannot give a file away, and keeps it as their own).
        if (fchown(fd, status.st_uid, status.st_gid) != 0) { /* stays ours */ }
        if (fchmod(fd, status.st_mode & 07777) != 0) { /* stays 0600 */ }
    } else {
        mode_t mask = umask(0);  // the mode fopen would give
        umask(mask);
        if (fchmod(fd, 0666 & ~mask) != 0) { /* stays 0600 */ }
    }
    output->finalPath = target;
    output->file = fdopen(fd, "wb");
    if (output->file == nullptr) {
        close(fd);
        CleanupSignalsBlocked blocked;
        unlink(output->tempPath.c_str());
        ForgetTemporary();
        return false;
    }
    return true;
}

void ReserveOutputFile(OutputFile* output, std::size_t bytes)
{
#if defined(__linux__) && defined(FALLOC_FL_KEEP_SIZE)
    // ext4 writes out at once a file renamed over another while its blocks
    // still wait for delayed allocation (auto_da_alloc): for 32 MiB that took
    // longer than the write itself, and the time varied threefold. Blocks
    // allocated first leave nothing to write out then. Files of other kinds
    // are written in place and need nothing.
    if (!output->tempPath.empty() && bytes > 0)
        (void)fallocate(fileno(output->file), FALLOC_FL_KEEP_SIZE, 0, (off_t)bytes);
#else
    (void)output;
    (void)bytes;
#endif
}

bool CommitOutputFile(OutputFile* output)
{
    FILE* file = output->file;
    output->file = nullptr;
    if (file == stdout) return std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (output->tempPath.empty()) return std::fclose(file) == 0;
    // A signal now waits until the file is in place or gone: the path then
    // holds the old or the new image, and no hidden file stays. One that came
    // before the rename still wins: the path keeps what it held.
    CleanupSignalsBlocked blocked;
    bool closed = std::fclose(file) == 0;
    bool renamed = closed && !CleanupSignalPending()
                   && std::rename(output->tempPath.c_str(), output->finalPath.c_str()) == 0;
    if (!renamed) unlink(output->tempPath.c_str());
    ForgetTemporary();
    return renamed;
}

void AbandonOutputFile(OutputFile* output)
{
    CleanupSignalsBlocked blocked;
    if (output->file != nullptr && output->file != stdout) std::fclose(output->file);
    output->file = nullptr;
    if (!output->tempPath.empty()) unlink(output->tempPath.c_str());
    ForgetTemporary();
}

bool OutputMayReachInput(int inputFd, const char* outputName)
{
    struct stat input;
    if (fstat(inputFd, &input) != 0) return true;
    auto same = [&input](const struct stat& other) {
        return other.st_dev == input.st_dev && other.st_ino == input.st_ino;
    };
    struct stat other;
    for (int fd : {STDOUT_FILENO, STDERR_FILENO})
        if (fstat(fd, &other) == 0 && same(other)) return true;
    // stat follows symbolic links, as OpenOutputFile does; a hard link is the
    // same inode. A path that does not exist yet cannot be the input.
    return !IsStdStream(outputName) && stat(outputName, &other) == 0 && same(other);
}

// ---- A mapped input cut short under the run ----
//
// The pages of a file mapped into memory past its new end raise SIGBUS when
// touched. The handler ends the run as FatalError would, with only
// async-signal-safe calls (fstat, unlink, write, _exit): its text is made up
// front. The file's size tells the truncation even where the fault address
// comes garbled (qemu-user for s390x).

static volatile std::uintptr_t MappedBegin = 0, MappedEnd = 0;
static volatile int MappedFd = -1;
static volatile long long MappedSize = 0;
static char BusErrorText[512];
static std::size_t BusErrorLength = 0;
static int BusErrorStatus = 0;
static struct sigaction SavedBusAction;
static std::atomic_flag BusErrorTaken;  // clear until a handler takes it

static void EndRunOnBusError(int signal, siginfo_t* info, void*)
{
    int saved = errno;
    // Only the kernel's own signal for an access (not kill or raise) carries an address.
    auto address = (std::uintptr_t)info->si_addr;
    bool inside = info->si_code > 0 && address >= MappedBegin && address < MappedEnd;
    struct stat status;
    bool cutShort = fstat(MappedFd, &status) == 0 && status.st_size < MappedSize;
    if (!inside && !cutShort) {
        // Not ours: it ends the process as it did before, once the handler returns.
        sigaction(signal, &SavedBusAction, nullptr);
        raise(signal);
        errno = saved;
        return;
    }
    // Threads that meet the cut at once: the first reports it and ends the process, the
    // others wait for that (a lock-free flag is safe in a handler).
    if (BusErrorTaken.test_and_set()) {
        errno = saved;
        for (;;) pause();
    }
    if (const char* path = SignalTempPath) unlink(path);
    for (std::size_t done = 0; done < BusErrorLength;) {
        ssize_t written = write(STDERR_FILENO, BusErrorText + done, BusErrorLength - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += (std::size_t)written;
    }
    _exit(BusErrorStatus);
}

void GuardMappedInput(const void* begin, const void* end, int fd, long long size,
                      const char* message, int status)
{
    int length = std::snprintf(BusErrorText, sizeof BusErrorText, "\ngrayfix ERROR: %s", message);
    BusErrorLength = std::min<std::size_t>(length < 0 ? 0 : (std::size_t)length, sizeof BusErrorText - 1);
    BusErrorStatus = status;
    MappedBegin = (std::uintptr_t)begin;
    MappedEnd = (std::uintptr_t)end;
    MappedFd = fd;
    MappedSize = size;
    struct sigaction action {};
    action.sa_sigaction = EndRunOnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    // An interrupting signal meanwhile would race it for the hidden file.
    for (int other : CleanupSignals) sigaddset(&action.sa_mask, other);
    sigaction(SIGBUS, &action, &SavedBusAction);
}

void UnguardMappedInput()
{
    sigaction(SIGBUS, &SavedBusAction, nullptr);
    MappedBegin = 0;
    MappedEnd = 0;
    MappedFd = -1;
}
