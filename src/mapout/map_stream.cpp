#include "mapout/map_stream.h"

#include <algorithm>
#include <cstdarg>

#include "platform/process_setup.h"
#include "tables/text_format.h"

namespace kestab {

namespace {

// One stream, one thread: no locking needed. MinGW declares no unlocked
// write, so Windows takes the plain one.
std::size_t writeUnlocked(std::string_view text, std::FILE* file) {
#ifdef _WIN32
    return std::fwrite(text.data(), 1, text.size(), file);
#else
    return ::fwrite_unlocked(text.data(), 1, text.size(), file);
#endif
}

}  // namespace

void TextBlocks::append(std::string_view text) {
    if (blocks_.empty() || blocks_.back().size() + text.size() > kBlockSize) {
        blocks_.emplace_back();
        blocks_.back().reserve(std::max(kBlockSize, text.size()));
    }
    blocks_.back().append(text);
}

std::uint64_t TextBlocks::size() const {
    std::uint64_t total = 0;
    for (const std::string& block : blocks_) total += block.size();
    return total;
}

void TextBlocks::appendBlock(std::string block) {
    if (!block.empty()) blocks_.push_back(std::move(block));
}

std::vector<std::string> TextBlocks::takeAllButLast() {
    std::vector<std::string> taken;
    if (blocks_.size() < 2) return taken;
    std::string last = std::move(blocks_.back());
    blocks_.pop_back();
    taken.swap(blocks_);
    blocks_.push_back(std::move(last));
    return taken;
}

MapStream::~MapStream() {
    if (file_ == nullptr) return;
    dropOldContent();
    removeUnusedPlaceholder();
    std::fclose(file_);
}

bool MapStream::create(const std::string& path) {
    file_ = platform::openForWriting(path);
    failed_ = false;
    oldContent_ = file_ != nullptr;
    unusedPlaceholder_ = false;
    // The MAP file is written in many short lines: a larger buffer means
    // fewer writes.
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOFBF, kBufferSize);
    return file_ != nullptr;
}

void MapStream::dropOldContent() {
    if (!oldContent_) return;
    oldContent_ = false;
    if (!platform::clearForRewrite(file_, unusedPlaceholder_)) failed_ = true;
}

void MapStream::removeUnusedPlaceholder() {
    if (!unusedPlaceholder_) return;
    unusedPlaceholder_ = false;
    if (!platform::emptyFile(file_)) failed_ = true;
}

bool MapStream::seekTo(std::uint64_t offset) {
    if (file_ == nullptr) return false;
    dropOldContent();
#ifdef _WIN32
    return ::_fseeki64(file_, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool MapStream::restart() {
    // What was written would stay in place under what follows: a failure
    // to be reported at the close.
    if (!seekTo(0) || !platform::emptyFile(file_)) failed_ = true;
    unusedPlaceholder_ = false;
    return !failed_;
}

void MapStream::write(std::string_view text) {
    if (inMemory_) {
        memory_.append(text);
        return;
    }
    if (file_ == nullptr) return;
    dropOldContent();
    if (text.empty()) return;
    unusedPlaceholder_ = false;
    if (writeUnlocked(text, file_) != text.size()) failed_ = true;
}

void MapStream::write(const TextBlocks& text) {
    for (const std::string& block : text.blocks()) write(block);
}

void MapStream::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (inMemory_) {
        memory_.append(vformatText(format, args));
        va_end(args);
        return;
    }
    if (file_ == nullptr) {
        va_end(args);
        return;
    }
    dropOldContent();
    const int written = std::vfprintf(file_, format, args);
    if (written < 0) failed_ = true;
    if (written > 0) unusedPlaceholder_ = false;
    va_end(args);
}

bool MapStream::close() {
    if (file_ == nullptr) return !failed_;
    dropOldContent();
    removeUnusedPlaceholder();
    if (std::ferror(file_) != 0) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

}  // namespace kestab
