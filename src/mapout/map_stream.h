// The MAP file stream: every line end written as CR LF, write failures
// remembered so the run can report them when the file is closed. A stream
// may also keep its lines in memory, for lines made before their turn in
// the file comes.
#pragma once

#include <cstdint>
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
    // The length of the whole text.
    std::uint64_t size() const;
    // Adds a block made elsewhere as it stands.
    void appendBlock(std::string block);
    // All blocks but the last, handed over.
    std::vector<std::string> takeAllButLast();
    // All blocks, handed over.
    std::vector<std::string> takeAll() { return std::exchange(blocks_, {}); }

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

    // Opens `path` for writing, created when missing; false when it cannot
    // be. What the file held is cut off by dropOldContent(), or at the
    // first write or the close at the latest, so the cost of cutting off a
    // large old file can wait for a moment when nothing waits on it.
    bool create(const std::string& path);
    // Cuts off what the file held before create(), once.
    void dropOldContent();
    // Goes on writing at `offset` of the file, past its end too (the gap
    // reads as zero bytes until it is written). False, with nothing
    // changed, when the file cannot seek (a FIFO, a device) or is not open.
    bool seekTo(std::uint64_t offset);
    // Empties the file and goes on writing at its start; false, and the
    // stream counts as failed, when that cannot be done.
    bool restart();
    // Keeps what is written from now on in memory instead, for take().
    void keepInMemory() { inMemory_ = true; }
    // What was kept in memory, handed over; the stream starts empty again.
    TextBlocks take() { return std::exchange(memory_, {}); }
    // The blocks kept in memory that are full, handed over; the last one,
    // which may still grow, stays.
    std::vector<std::string> takeFullBlocks() { return memory_.takeAllButLast(); }
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

    // Before the close: a file that nothing was written to is left empty,
    // without the zero byte the cut left.
    void removeUnusedPlaceholder();

    std::FILE* file_ = nullptr;
    bool failed_ = false;
    bool oldContent_ = false;  // what the file held before create() is still there
    // The old content's cut left a zero byte at the start, and nothing has
    // been written since.
    bool unusedPlaceholder_ = false;
    bool inMemory_ = false;
    TextBlocks memory_;
};

}  // namespace kestab
