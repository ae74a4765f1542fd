// The @ lines of the listing file: one per listing line that begins with a
// hexadecimal address and a colon, with file number 0 and the line number.
#include "mapout/listing_scan.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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

ListingScanner::ListingScanner(MapStream& out) : out_(out) {}

void ListingScanner::feed(std::string_view bytes) {
    for (const char c : bytes) {
        if (stopped_) return;
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n') {
                push('\n');
                continue;
            }
            push('\r');
            if (stopped_) return;
        }
        if (c == '\r')
            pendingCr_ = true;
        else
            push(c);
    }
}

void ListingScanner::finish() {
    if (pendingCr_ && !stopped_) push('\r');
    pendingCr_ = false;
    if (!chunk_.empty() && !stopped_) scanChunk();
    chunk_.clear();
}

void ListingScanner::push(char c) {
    chunk_.push_back(c);
    if (c == '\n' || chunk_.size() == kMaxRead) {
        scanChunk();
        chunk_.clear();
    }
}

void ListingScanner::scanChunk() {
    ++lineNumber_;
    // The line is a C text: whatever follows a NUL byte is not part of it.
    const std::string_view line(chunk_.c_str());
    if (line.find(kEndMarker) != std::string_view::npos) {
        stopped_ = true;
        return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;

    token_.clear();
    for (const char c : line.substr(0, colon)) {
        if (c == ' ') continue;
        if (token_.size() == kMaxToken) return;  // too long for an address
        token_.push_back(c);
    }
    if (!isHexToken(token_)) return;
    out_.printf("@%04x: F:000 L:%u", hexValue(token_), lineNumber_);
    out_.endLine();
}

bool scanListing(const MapModel& model, MapStream& out) {
    if (model.files.count() == 0) return false;
    const std::string listingName = model.files.name(0);
    if (listingName == kNoListingName) return false;

    std::FILE* file = std::fopen(listingName.c_str(), "rb");
    if (file == nullptr) return true;
    ListingScanner scanner(out);
    std::vector<char> block(65536);
    while (!scanner.stopped()) {
        const std::size_t n = std::fread(block.data(), 1, block.size(), file);
        if (n == 0) break;
        scanner.feed(std::string_view(block.data(), n));
    }
    scanner.finish();
    std::fclose(file);
    return true;
}

}  // namespace kestab
