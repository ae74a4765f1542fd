// What the process sets up for itself before anything else runs, and files
// opened so that an odd file cannot make it block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/fd.h"

namespace kestab::platform {

// Opens the null device on each of descriptors 0, 1 and 2 that is closed,
// so no file this process opens later becomes its standard input, output or
// error. On POSIX also ignores SIGXFSZ, so a write past the file-size limit
// fails with EFBIG and is reported instead of ending the process silently;
// on Windows turns off the system's error dialogs (critical errors, faults)
// for this process and the objdump it starts, so neither waits for a click
// nobody gives. With glibc, also tunes the heap for the run's allocations.
void prepareProcess();

// Makes the heap ready for reading an image whose DWARF sections hold
// `debugBytes` bytes: about three times that is faulted in at once (one
// call instead of a fault per page, each of which costs the kernel more
// than anything else it does for a run), and nothing freed is handed back
// to the system until endHeapWarmup(). (glibc on Linux; a no-op elsewhere.)
void warmHeap(std::uint64_t debugBytes);
// Faults in at once what the heap has grown by since warmHeap() or the last
// call, for the pauses between pieces of the reading (the image's units):
// reading some images takes more than the part faulted in beforehand. The
// heap grows in small steps meanwhile, so little of it waits unused.
void warmHeapGrowth();
// From here on, the heap's free end is handed back as usual again.
void endHeapWarmup();

// From here on, memory that is freed stays with the process instead of
// being handed back to the system piece by piece: for the end of a run,
// when the process's own end hands it all back in one sweep. (glibc; a
// no-op elsewhere.)
void keepFreedMemory();

// Opens `path` read-only and close-on-exec without blocking (a FIFO with no
// writer would block a plain open). An invalid Fd with errno set when it
// cannot be opened or is no regular file (EISDIR for a directory, EINVAL
// for anything else that is not a regular file).
Fd openRegularFile(const std::string& path);

// All bytes of the regular file open on `fd`, read from its start; false
// with errno set when a read fails, or EFBIG once more than `maxBytes` came.
bool readWholeFile(int fd, std::vector<unsigned char>& bytes, std::size_t maxBytes = SIZE_MAX);

// What tells a file apart from another one, and from itself after a
// change: its device and file number, its size and the time it was last
// written (nanoseconds on POSIX, 100-ns units on Windows).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Opens `path` for writing in binary mode, creating it when it is missing
// but keeping what it holds: emptyFile() cuts that off, at a time of the
// caller's choosing. nullptr with errno set when it cannot be opened.
std::FILE* openForWriting(const std::string& path);
// Empties the regular file open on `fd`, or that `file` writes to, as
// opening it with truncation would have (nothing else, a device or a FIFO,
// is touched); false with errno set when the file cannot be cut.
bool emptyFile(int fd);
bool emptyFile(std::FILE* file);
// Cuts off what the regular file open on `fd` held, for a file that is
// written anew from its start, but leaves one zero byte where a file that
// held anything began; `placeholder` tells whether it did. A writer that
// writes nothing takes the byte away with emptyFile() before the close.
// (ext4 writes out at its close a file that was cut to nothing and written
// anew, which holds the close for a fraction of a millisecond; a file cut
// to one byte is closed at once. Windows cuts the file to nothing.) False
// with errno set when the file cannot be cut.
bool clearForRewrite(int fd, bool& placeholder);
bool clearForRewrite(std::FILE* file, bool& placeholder);

// The identity of the file open on `fd` (fstat; GetFileInformationByHandle
// on Windows); nullopt when it cannot be had.
std::optional<FileIdentity> fileIdentity(int fd);
// The identity of the file `path` names now, links followed; nullopt when
// it names none.
std::optional<FileIdentity> fileIdentity(const std::string& path);

}  // namespace kestab::platform
