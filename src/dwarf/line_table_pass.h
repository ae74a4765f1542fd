// The @ lines of the DWARF line tables.
#pragma once

#include "dwarf/debug_reader.h"
#include "mapout/map_stream.h"
#include "tables/map_model.h"

namespace kestab {

// Walks the compilation units a second time and writes one @ line per line
// table row whose file is in the file table. False when the unit iteration
// fails.
bool dumpAddressLines(DebugReader& reader, MapModel& model, MapStream& out);

}  // namespace kestab
