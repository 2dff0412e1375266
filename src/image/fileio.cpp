// fileio.cpp - opening inputs (pipes and "-" copied into memory as they are read)
// and outputs (a temporary file renamed over the target once complete).

#include "image/fileio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

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

struct StreamCopy {
    std::string name;
    FILE* source = nullptr;  // stdin or a stream of our own
    std::vector<unsigned char> bytes;
    bool ended = false;
    // The open streams over the copy. Owned here rather than by the streams,
    // so that a run ending in a fatal error leaves nothing unreachable.
    std::vector<std::unique_ptr<CopyView>> views;

    // Reads from the source until `end` bytes are held or the source ends.
    void Fill(std::size_t end)
    {
        while (!ended && bytes.size() < end) {
            std::size_t have = bytes.size();
            std::size_t want = std::max<std::size_t>(end - have, 1 << 16);
            bytes.resize(have + want);
            std::size_t got = std::fread(bytes.data() + have, 1, want, source);
            bytes.resize(have + got);
            if (got < want) ended = true;  // end of file or a read error, alike for a reader
        }
    }
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
    if (view->position + size > copy.bytes.size()) copy.Fill(view->position + size);
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
        view->copy->Fill(SIZE_MAX);
        base = (off64_t)view->copy->bytes.size();
    }
    if (*offset < -base) return -1;
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

// A hidden file of our own in the target's directory: same filesystem, so the
// rename is atomic. -1 when none can be made there.
static int CreateTemporary(const std::string& target, std::string* tempPath)
{
    std::size_t slash = target.rfind('/');
    std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) return -1;
    // Keep the name within NAME_MAX (255) with the dot and the six-letter suffix.
    *tempPath = directory + "." + base.substr(0, 240) + ".XXXXXX";
    return mkostemp(tempPath->data(), O_CLOEXEC);
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
        unlink(output->tempPath.c_str());
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
    bool closed = std::fclose(file) == 0;
    if (output->tempPath.empty()) return closed;
    if (closed && std::rename(output->tempPath.c_str(), output->finalPath.c_str()) == 0) return true;
    unlink(output->tempPath.c_str());
    return false;
}

void AbandonOutputFile(OutputFile* output)
{
    if (output->file != nullptr && output->file != stdout) std::fclose(output->file);
    output->file = nullptr;
    if (!output->tempPath.empty()) unlink(output->tempPath.c_str());
}
