// The process set-up and file opening on Windows, through the C runtime's
// descriptors (the image descriptor goes to libdwarf, which reads through
// them).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "platform/process_setup.h"

namespace kestab::platform {

void prepareProcess() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::_get_osfhandle(fd) >= 0) continue;
        const int opened = ::_open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::_dup2(opened, fd);
            ::_close(opened);
        }
    }
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

void warmHeap(std::uint64_t) {}
void warmHeapGrowth() {}
void endHeapWarmup() {}
void keepFreedMemory() {}

Fd openRegularFile(const std::string& path) {
    Fd fd(::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    if (!fd.valid()) return fd;
    struct _stat64 st {};
    if (::_fstat64(fd.get(), &st) != 0) {
        const int error = errno;
        fd.reset();
        errno = error;
        return fd;
    }
    if ((st.st_mode & _S_IFMT) != _S_IFREG) {
        fd.reset();
        errno = (st.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : EINVAL;
    }
    return fd;
}

bool readWholeFile(int fd, std::vector<unsigned char>& bytes, std::size_t maxBytes) {
    bytes.clear();
    if (::_lseeki64(fd, 0, SEEK_SET) != 0) return false;
    unsigned char buffer[65536];
    for (;;) {
        const int n = ::_read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) return false;
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > maxBytes) {
            errno = EFBIG;
            return false;
        }
    }
}

std::FILE* openForWriting(const std::string& path) {
    const int fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = ::_fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::_close(fd);
        errno = error;
    }
    return file;
}

bool emptyFile(std::FILE* file) { return emptyFile(::_fileno(file)); }

bool clearForRewrite(std::FILE* file, bool& placeholder) { return clearForRewrite(::_fileno(file), placeholder); }

bool clearForRewrite(int fd, bool& placeholder) {
    placeholder = false;
    return emptyFile(fd);
}

bool emptyFile(int fd) {
    if (::GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(fd))) != FILE_TYPE_DISK) return true;
    if (const errno_t error = ::_chsize_s(fd, 0)) {
        errno = error;
        return false;
    }
    return true;
}

namespace {

std::optional<FileIdentity> identityOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (file == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(file, &info)) return std::nullopt;
    const auto join = [](DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; };
    return FileIdentity{
        info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
        join(info.nFileSizeHigh, info.nFileSizeLow),
        static_cast<std::int64_t>(join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime))};
}

}  // namespace

std::optional<FileIdentity> fileIdentity(int fd) { return identityOf(reinterpret_cast<HANDLE>(::_get_osfhandle(fd))); }

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    // No access asked for: only the attributes are read, and no other
    // opener is kept out.
    const HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    const std::optional<FileIdentity> identity = identityOf(file);
    ::CloseHandle(file);
    return identity;
}

}  // namespace kestab::platform
