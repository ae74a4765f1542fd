// The MAP file stream: every line end written as CR LF, write failures
// remembered so the run can report them when the file is closed. A stream
// may also keep its lines in memory, for lines made before their turn in
// the file comes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestab {

// Text kept in memory in blocks of 64 KiB, so that it never takes much more
// room than the text itself, however long it grows.
class TextBlocks {
public:
    void append(std::string_view text);
    const std::vector<std::string>& blocks() const { return blocks_; }

private:
    static constexpr std::size_t kBlockSize = 1 << 16;
    std::vector<std::string> blocks_;
};

class MapStream {
public:
    MapStream() = default;
    ~MapStream();
    MapStream(const MapStream&) = delete;
    MapStream& operator=(const MapStream&) = delete;

    // Creates or truncates `path`; false when it cannot be created.
    bool create(const std::string& path);
    // Keeps what is written from now on in memory instead, for take().
    void keepInMemory() { inMemory_ = true; }
    // What was kept in memory, handed over; the stream starts empty again.
    TextBlocks take() { return std::exchange(memory_, {}); }
    // Writes text as it stands (no line end).
    void write(std::string_view text);
    void write(const TextBlocks& text);
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
    bool inMemory_ = false;
    TextBlocks memory_;
};

}  // namespace kestab
