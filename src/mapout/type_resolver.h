// Joining symbols with their types after the walk.
#pragma once

#include "tables/map_model.h"

namespace kestab {

struct TypeResolver {
    // Adds each symbol's size, unsigned and array bits; the dimensions of an
    // array symbol are copied into the dimension list, its 2 field pointing
    // at their count. Every change is an OR: no bit set by the walk is
    // cleared.
    static void run(MapModel& model);
};

}  // namespace kestab
