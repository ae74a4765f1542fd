#include "mapout/map_stream.h"

#include <cstdarg>

#include "tables/text_format.h"

namespace kestab {

MapStream::~MapStream() {
    if (file_ != nullptr) std::fclose(file_);
}

bool MapStream::create(const std::string& path) {
    file_ = std::fopen(path.c_str(), "wb");
    failed_ = false;
    return file_ != nullptr;
}

void MapStream::createInMemory() {
    inMemory_ = true;
    memory_.clear();
}

void MapStream::write(std::string_view text) {
    if (inMemory_) {
        memory_.append(text);
        return;
    }
    if (file_ == nullptr) return;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size()) failed_ = true;
}

void MapStream::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = vformatText(format, args);
    va_end(args);
    write(text);
}

bool MapStream::close() {
    if (file_ == nullptr) return !failed_;
    if (std::ferror(file_) != 0) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

}  // namespace kestab
