// STUB: to be replaced.
#include "mapout/listing_scan.h"
namespace kestab {
bool scanListing(const MapModel& model, MapStream&) { return model.files.count() > 0 && model.files.name(0) != kNoListingName; }
bool isHexToken(std::string_view) { return false; }
}
