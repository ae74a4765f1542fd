// The rows of the DWARF line tables.
#pragma once

#include "dwarf/debug_reader.h"
#include "tables/map_model.h"

namespace kestab {

// Walks the compilation units a second time and appends to model.lineRows
// one row per line-table row whose file is in the file table. False when
// the unit iteration fails; the rows found until then are kept.
bool collectAddressLines(DebugReader& reader, MapModel& model);

}  // namespace kestab
