#include "mapout/map_stream.h"

#include <cstdarg>
#include <vector>

namespace kestab {

namespace {
std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return {};
    if (static_cast<std::size_t>(needed) < sizeof small) return std::string(small, static_cast<std::size_t>(needed));
    std::vector<char> big(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<std::size_t>(needed));
}
}  // namespace

MapStream::~MapStream() {
    if (file_ != nullptr) std::fclose(file_);
}

bool MapStream::create(const std::string& path) {
    file_ = std::fopen(path.c_str(), "wb");
    failed_ = false;
    return file_ != nullptr;
}

void MapStream::write(std::string_view text) {
    if (file_ == nullptr) return;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size()) failed_ = true;
}

void MapStream::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = vformat(format, args);
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
