// Mapping the code addresses of the listing file to its line numbers.
#pragma once

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

// True when every character of `text` is a hexadecimal digit (the empty
// text included).
bool isHexToken(std::string_view text);

}  // namespace kestab
