// Writing the MAP file: header, File lines, S lines and end line, the L
// option's echo on standard output, and the summary line.
#pragma once

#include <string>
#include <string_view>

#include "mapout/map_stream.h"
#include "tables/existence_probe.h"
#include "tables/map_model.h"

namespace kestab {

void writeMapHeader(MapStream& out);

// One File line per file table entry whose file exists, as a converted path
// or behind the library directory; under `echo` one "F" line per entry on
// standard output.
void writeFileLines(const MapModel& model, MapStream& out, const std::string& libraryDir,
                    const ExistenceProbe& fileExists, bool echo);

// One S line per symbol; under `echo` one line per symbol on standard output.
bool writeSymbolLines(const MapModel& model, MapStream& out, bool echo);

void writeMapEnd(MapStream& out);

void printSummary(const MapModel& model, bool quiet);

// A stored "/cygdrive/d/work/main.c" as "d:\work\main.c"; any other name
// unchanged.
std::string toDrivePath(std::string_view storedName);

}  // namespace kestab
