// The @ lines of the listing file: one per listing line that begins with a
// hexadecimal address and a colon, with file number 0 and the line number.
#include "mapout/listing_scan.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestab {

namespace {

// A line is taken in reads of at most this many characters, and each read
// counts as one line.
constexpr std::size_t kMaxRead = 1023;
// Room for the address token; a longer prefix is no address.
constexpr std::size_t kMaxToken = 31;
constexpr std::string_view kEndMarker = ".debug_abbrev";

// The next read of the listing as a text stream: up to and including the
// next line end, at most kMaxRead characters, a CR LF pair taken as one
// line end. False at the end of the file or on a read error.
bool readChunk(std::FILE* file, std::string& chunk) {
    chunk.clear();
    while (chunk.size() < kMaxRead) {
        int c = std::getc(file);
        if (c == EOF) break;
        if (c == '\r') {
            const int next = std::getc(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        chunk.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return !chunk.empty();
}

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

bool scanListing(const MapModel& model, MapStream& out) {
    if (model.files.count() == 0) return false;
    const std::string listingName = model.files.name(0);
    if (listingName == kNoListingName) return false;

    std::FILE* file = std::fopen(listingName.c_str(), "rb");
    if (file == nullptr) return true;

    std::string chunk;
    std::string token;
    std::uint32_t lineNumber = 0;
    while (readChunk(file, chunk)) {
        ++lineNumber;
        // The line is a C text: whatever follows a NUL byte is not part of it.
        std::string_view line(chunk.c_str());
        if (line.find(kEndMarker) != std::string_view::npos) break;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;

        token.clear();
        bool tooLong = false;
        for (char c : line.substr(0, colon)) {
            if (c == ' ') continue;
            if (token.size() == kMaxToken) {
                tooLong = true;
                break;
            }
            token.push_back(c);
        }
        if (tooLong || !isHexToken(token)) continue;
        out.printf("@%04x: F:000 L:%u", hexValue(token), lineNumber);
        out.endLine();
    }
    std::fclose(file);
    return true;
}

}  // namespace kestab
