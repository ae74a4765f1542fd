// The input image opened through libelf and libdwarf.
#pragma once

#include <memory>

namespace kestab {

class DebugReader {
public:
    DebugReader();
    ~DebugReader();
    DebugReader(const DebugReader&) = delete;
    DebugReader& operator=(const DebugReader&) = delete;

    // Checks that the image on `fd` is a 32-bit ELF file with DWARF 2/3
    // information and opens the reader on it. Prints "First pass..." and, on
    // failure, the reason on standard output. `fd` stays the caller's.
    bool open(int fd);
    // Finishes the reader, then ends the ELF handle.
    void close();
    bool isOpen() const;

    struct Handles;
    Handles& handles() { return *handles_; }

private:
    std::unique_ptr<Handles> handles_;
};

}  // namespace kestab
