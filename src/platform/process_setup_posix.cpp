#include "platform/process_setup.h"

#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace kestab::platform {

namespace {

#ifdef __GLIBC__
// Blocks above this size get mappings of their own (see prepareProcess).
constexpr int kMmapThreshold = 1 << 20;
// glibc's own amount of free memory kept at the heap's end, and the free
// end it hands back.
constexpr int kDefaultTopPad = 128 * 1024;
constexpr int kDefaultTrimThreshold = 128 * 1024;
// A free end no heap reaches: nothing is handed back.
constexpr int kNeverTrim = 1 << 30;
// How much the heap grows by, beyond what a request needs, while an image is
// read: what warmHeapGrowth() faults in beyond what is used at once.
constexpr int kWarmTopPad = 256 * 1024;
// The end of the heap faulted in so far while an image is read; 0 outside.
std::uintptr_t warmEnd = 0;
#endif

}  // namespace

void prepareProcess() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // open() takes the lowest free descriptor, which is `fd`.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
    ::signal(SIGXFSZ, SIG_IGN);
#ifdef __GLIBC__
    // Blocks up to 1 MiB (the growing tables among them) come from the heap,
    // where freed room is used again, rather than from mappings of their
    // own that are given back when freed and faulted in anew page by page:
    // a quarter fewer page faults, which cost more than anything else the
    // kernel does for a run, at the same peak memory.
    ::mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
#endif
}

void warmHeap(std::uint64_t debugBytes) {
#if defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)
    // Below the least the faults saved do not pay for the call; the most is
    // far beyond what any firmware's image needs.
    constexpr std::uint64_t kLeast = 64 * 1024;
    constexpr std::uint64_t kMost = 64u << 20;
    if (debugBytes < kLeast) return;
    const auto bytes = static_cast<std::size_t>(std::min(debugBytes * 3, kMost));
    // One block from the heap itself, not a mapping of its own, so that
    // freeing it leaves its pages at the heap's end for what comes next.
    ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(bytes + (1 << 16)));
    void* block = std::malloc(bytes);
    ::mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
    if (block == nullptr) return;
    constexpr std::uintptr_t kPage = 4096;
    const auto from = (reinterpret_cast<std::uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kPage - 1);
    // Kernels before 5.14 refuse the advice; the pages are then faulted in
    // one by one as before.
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    // The block's pages stay at the heap's end when it is freed, and
    // whatever is freed later stays too, so nothing faulted in is handed
    // back; the heap then grows in small steps, which warmHeapGrowth()
    // follows.
    ::mallopt(M_TRIM_THRESHOLD, kNeverTrim);
    ::mallopt(M_TOP_PAD, kWarmTopPad);
    std::free(block);
    // Only a block at the end of the heap proper (not one mapped on its own)
    // tells where the heap's growth begins.
    if (to > from && to <= reinterpret_cast<std::uintptr_t>(::sbrk(0))) warmEnd = to;
#else
    (void)debugBytes;
#endif
}

void warmHeapGrowth() {
#if defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)
    if (warmEnd == 0) return;
    // The C library keeps the heap's end: no system call.
    const auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    if (end <= warmEnd) return;
    ::madvise(reinterpret_cast<void*>(warmEnd), end - warmEnd, MADV_POPULATE_WRITE);
    warmEnd = end;
#endif
}

void endHeapWarmup() {
#ifdef __GLIBC__
    warmEnd = 0;
    ::mallopt(M_TOP_PAD, kDefaultTopPad);
    ::mallopt(M_TRIM_THRESHOLD, kDefaultTrimThreshold);
#endif
}

void keepFreedMemory() {
#ifdef __GLIBC__
    ::mallopt(M_TRIM_THRESHOLD, kNeverTrim);
#endif
}

Fd openRegularFile(const std::string& path) {
    Fd fd;
    for (;;) {
        fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        if (fd.valid() || errno != EINTR) break;
    }
    if (!fd.valid()) return fd;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        const int error = errno;
        fd.reset();
        errno = error;
        return fd;
    }
    if (!S_ISREG(st.st_mode)) {
        fd.reset();
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return fd;
    }
    // Reads of a regular file never block; the flag only goes for form.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool readWholeFile(int fd, std::vector<unsigned char>& bytes, std::size_t maxBytes) {
    bytes.clear();
    unsigned char buffer[65536];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > maxBytes) {
            errno = EFBIG;
            return false;
        }
    }
}

std::FILE* openForWriting(const std::string& path) {
    int fd;
    while ((fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666)) < 0) {
        if (errno != EINTR) return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

bool emptyFile(std::FILE* file) { return emptyFile(::fileno(file)); }

namespace {

// Cuts the regular file open on `fd` to `length` when it holds anything
// (`cut` then turns true); nothing else, a device or a FIFO, is touched.
bool cutRegularFile(int fd, off_t length, bool& cut) {
    cut = false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    if (!S_ISREG(st.st_mode) || st.st_size == 0) return true;
    while (::ftruncate(fd, length) != 0) {
        if (errno != EINTR) return false;
    }
    cut = true;
    return true;
}

}  // namespace

bool emptyFile(int fd) {
    bool cut = false;
    return cutRegularFile(fd, 0, cut);
}

bool clearForRewrite(std::FILE* file, bool& placeholder) { return clearForRewrite(::fileno(file), placeholder); }

bool clearForRewrite(int fd, bool& placeholder) {
    if (!cutRegularFile(fd, 1, placeholder)) return false;
    if (!placeholder) return true;
    ssize_t n;
    while ((n = ::pwrite(fd, "", 1, 0)) < 0 && errno == EINTR) {
    }
    if (n == 1) return true;
    if (n == 0) errno = EIO;
    placeholder = false;
    return false;
}

namespace {

FileIdentity identityOf(const struct stat& st) {
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                        static_cast<std::uint64_t>(st.st_size),
                        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

std::optional<FileIdentity> fileIdentity(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return identityOf(st);
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return identityOf(st);
}

}  // namespace kestab::platform
