#include "mapout/map_stream.h"

#include <algorithm>
#include <cstdarg>

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

MapStream::~MapStream() {
    if (file_ != nullptr) std::fclose(file_);
}

bool MapStream::create(const std::string& path) {
    file_ = std::fopen(path.c_str(), "wb");
    failed_ = false;
    // The MAP file is written in many short lines: a larger buffer means
    // fewer writes.
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOFBF, kBufferSize);
    return file_ != nullptr;
}

void MapStream::write(std::string_view text) {
    if (inMemory_) {
        memory_.append(text);
        return;
    }
    if (file_ == nullptr) return;
    if (!text.empty() && writeUnlocked(text, file_) != text.size()) failed_ = true;
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
    if (std::vfprintf(file_, format, args) < 0) failed_ = true;
    va_end(args);
}

bool MapStream::close() {
    if (file_ == nullptr) return !failed_;
    if (std::ferror(file_) != 0) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

}  // namespace kestab
