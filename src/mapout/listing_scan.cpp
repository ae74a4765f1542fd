// The listing scan: the address and line number of every listing line that
// begins with a hexadecimal address and a colon.
#include "mapout/listing_scan.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace kestab {

namespace {

constexpr std::string_view kEndMarker = ".debug_abbrev";

// Hexadecimal digits to a number the way a 32-bit strtoul reads them: a
// value beyond 32 bits gives ffffffff.
std::uint32_t hexValue(std::string_view token) {
    std::uint64_t value = 0;
    for (char c : token) {
        const unsigned digit =
            (c >= '0' && c <= '9') ? static_cast<unsigned>(c - '0') : static_cast<unsigned>((c | 0x20) - 'a' + 10);
        value = value * 16 + digit;
        if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

bool isHexToken(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const bool digit = u >= '0' && u <= '9';
        const bool letter = (u | 0x20) >= 'a' && (u | 0x20) <= 'f' && u < 0x80;
        if (!digit && !letter) return false;
    }
    return true;
}

void ListingScanner::feed(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size() && !stopped_) {
        const char c = bytes[i];
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n') ++i;
            push(c == '\n' ? '\n' : '\r');
            continue;
        }
        if (c == '\r') {
            pendingCr_ = true;
            ++i;
            continue;
        }
        // A run of plain characters, up to the line end or the end of the
        // read, whichever comes first.
        const std::size_t limit = std::min(bytes.size(), i + (kLineReadSize - line_.size()));
        std::size_t end = i;
        while (end < limit && bytes[end] != '\r' && bytes[end] != '\n') ++end;
        const bool lineEnd = end < limit && bytes[end] == '\n';
        line_.append(bytes.substr(i, end - i + (lineEnd ? 1 : 0)));
        i = end + (lineEnd ? 1 : 0);
        if (lineEnd || line_.size() == kLineReadSize) scanLine();
    }
}

void ListingScanner::finish() {
    if (pendingCr_ && !stopped_) push('\r');
    pendingCr_ = false;
    if (!line_.empty() && !stopped_) scanLine();
    line_.clear();
}

void ListingScanner::push(char c) {
    line_.push_back(c);
    if (c == '\n' || line_.size() == kLineReadSize) scanLine();
}

void ListingScanner::scanLine() {
    ++lineNumber_;
    // The line is a C text: whatever follows a NUL byte is not part of it.
    const std::string_view line(line_.c_str());
    const std::size_t colon = line.find(':');
    if (line.find(kEndMarker) != std::string_view::npos) {
        stopped_ = true;
    } else if (colon != std::string_view::npos && addressToken(line.substr(0, colon))) {
        entries_.push_back({hexValue(token_), lineNumber_});
    }
    line_.clear();
}

bool ListingScanner::addressToken(std::string_view prefix) {
    token_.clear();
    for (const char c : prefix) {
        if (c == ' ') continue;
        if (token_.size() == kMaxToken) return false;  // too long for an address
        token_.push_back(c);
    }
    return isHexToken(token_);
}

}  // namespace kestab
