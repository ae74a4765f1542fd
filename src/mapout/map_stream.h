// The MAP file stream: every line end written as CR LF, write failures
// remembered so the run can report them when the file is closed.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace kestab {

class MapStream {
public:
    MapStream() = default;
    ~MapStream();
    MapStream(const MapStream&) = delete;
    MapStream& operator=(const MapStream&) = delete;

    // Creates or truncates `path`; false when it cannot be created.
    bool create(const std::string& path);
    // Writes text as it stands (no line end).
    void write(std::string_view text);
    // printf-style text without line end.
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The MAP file's line end, CR LF.
    void endLine() { write("\r\n"); }

    // Flushes and closes; false when any write since creation failed.
    bool close();

private:
    static constexpr std::size_t kBufferSize = 1 << 16;

    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

}  // namespace kestab
