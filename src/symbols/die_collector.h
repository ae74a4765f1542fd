// The walk over all debugging information entries that fills the file, type
// and symbol tables.
#pragma once

#include <string>
#include <string_view>

#include "dwarf/debug_reader.h"
#include "tables/existence_probe.h"
#include "tables/map_model.h"

namespace kestab {

struct CollectOptions {
    // The library directory ("...\lib\" or empty), the second place a
    // unit's source file is looked for.
    std::string libraryDir;
    // The existence probe: directory text and name joined.
    ExistenceProbe fileExists;
    // Called after each unit's walk, when given.
    void (*betweenUnits)() = nullptr;
};

// Walks every compilation unit depth-first. False when the unit iteration
// fails or a unit has no source-file list.
bool collectCompilationUnits(DebugReader& reader, MapModel& model, const CollectOptions& options);

}  // namespace kestab
