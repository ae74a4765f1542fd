// What the process sets up for itself before anything else runs, and files
// opened so that an odd file cannot make it block.
#pragma once

#include <string>

#include "platform/fd.h"

namespace kestab::platform {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so no
// file this process opens later becomes its standard input, output or
// error; and ignores SIGXFSZ, so a write past the file-size limit fails
// with EFBIG and is reported instead of ending the process silently.
void prepareProcess();

// Opens `path` read-only and close-on-exec without blocking (a FIFO with no
// writer would block a plain open). An invalid Fd with errno set when it
// cannot be opened or is no regular file (EISDIR for a directory, EINVAL
// for anything else that is not a regular file).
Fd openRegularFile(const std::string& path);

}  // namespace kestab::platform
