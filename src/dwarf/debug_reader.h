// The input image opened through libelf and libdwarf.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kestab {

class DebugReader {
public:
    DebugReader();
    ~DebugReader();
    DebugReader(const DebugReader&) = delete;
    DebugReader& operator=(const DebugReader&) = delete;

    // Checks that the image on `fd` is a 32-bit ELF file with DWARF 2/3
    // information and opens the reader on it. Prints "First pass..." and, on
    // failure, the reason on standard output; with `held`, that text is
    // appended there instead, for the caller to print when its turn comes.
    // `fd` stays the caller's. Where libelf reads the image, `beforeReading`,
    // when given, is told the bytes of its DWARF sections before any of them
    // is read.
    bool open(int fd, std::string* held = nullptr, void (*beforeReading)(std::uint64_t debugBytes) = nullptr);
    // The bytes of the opened image's DWARF sections, where libelf read it;
    // 0 where they are not known.
    std::uint64_t debugSectionBytes() const;
    // Finishes the reader, then ends the ELF handle. Returns the message for
    // standard output when libdwarf could not finish, else nothing.
    std::string close();

    struct Handles;
    Handles& handles() { return *handles_; }

private:
    std::unique_ptr<Handles> handles_;
};

}  // namespace kestab
