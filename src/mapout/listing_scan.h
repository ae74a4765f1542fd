// Mapping the code addresses of the listing file to its line numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mapout/map_stream.h"
#include "tables/map_model.h"

namespace kestab {

// The placeholder that stands as file 0 when no listing was made.
inline constexpr std::string_view kNoListingName = "????????.???";

// Reads the listing file named by file 0 and writes "@%04x: F:000 L:%u" for
// each line that begins with a hexadecimal address and a colon, up to the
// first line containing ".debug_abbrev". False when file 0 is the
// placeholder; a listing that cannot be opened gives true and no lines.
bool scanListing(const MapModel& model, MapStream& out);

// The listing scan over the listing's bytes as they come, in pieces of any
// size: the file is read as text (a CR LF pair is one line end), a line in
// reads of at most 1023 characters, each read counting as one line, up to
// the first line that contains ".debug_abbrev".
class ListingScanner {
public:
    explicit ListingScanner(MapStream& out);
    void feed(std::string_view bytes);
    // Scans what is left after the last piece.
    void finish();
    bool stopped() const { return stopped_; }

    static constexpr std::size_t kMaxRead = 1023;
    // Room for the address token; a longer prefix is no address.
    static constexpr std::size_t kMaxToken = 31;

private:
    void push(char c);
    void scanChunk();

    MapStream& out_;
    std::string chunk_;
    std::string token_;
    std::uint32_t lineNumber_ = 0;
    bool pendingCr_ = false;
    bool stopped_ = false;
};

// True when every character of `text` is a hexadecimal digit (the empty
// text included).
bool isHexToken(std::string_view text);

}  // namespace kestab
