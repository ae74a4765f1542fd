// Mapping the code addresses of the listing to its line numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestab {

// The placeholder that stands as file 0 when no listing was made.
inline constexpr std::string_view kNoListingName = "????????.???";

// One listing line that begins with a hexadecimal address and a colon: the
// address and the line's number, for an "@%04x: F:000 L:%u" line.
struct ListingEntry {
    std::uint32_t address = 0;
    std::uint32_t line = 0;
};

// The listing scan over the listing's bytes as they are copied, in pieces
// of any size. The bytes are taken as a text file is read: a CR LF pair is
// one line end, and a line is taken in reads of at most kLineReadSize
// characters, each read counting as one line. Scanning stops at the first
// line that contains ".debug_abbrev".
class ListingScanner {
public:
    void feed(std::string_view bytes);
    // Scans what is left after the last piece.
    void finish();
    bool stopped() const { return stopped_; }
    // The entries found since the last call.
    std::vector<ListingEntry> takeEntries() { return std::exchange(entries_, {}); }

    // One read of a listing line fills a 1024-byte buffer: 1023 characters
    // and the terminating zero.
    static constexpr std::size_t kLineReadSize = 1023;
    // Room for the address token; a longer prefix is no address.
    static constexpr std::size_t kMaxToken = 31;

private:
    void push(char c);
    void scanLine();
    // Builds the address token of a line from the text before its first
    // colon, blanks left out; true when it is a hexadecimal address.
    bool addressToken(std::string_view prefix);

    std::string line_;
    std::string token_;
    std::vector<ListingEntry> entries_;
    std::uint32_t lineNumber_ = 0;
    bool pendingCr_ = false;
    bool stopped_ = false;
};

// True when every character of `text` is a hexadecimal digit (the empty
// text included).
bool isHexToken(std::string_view text);

}  // namespace kestab
