// Writing the MAP file: header, File lines, S lines and end line, the L
// option's echo on standard output, and the summary line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mapout/listing_scan.h"
#include "mapout/map_stream.h"
#include "tables/existence_probe.h"
#include "tables/map_model.h"

namespace kestab {

void writeMapHeader(MapStream& out);

// One File line per file table entry from `first` up to `end` (the table's
// end at most) whose file exists, as a converted path or behind the library
// directory; with `echo`, one "F" line per entry appended there for
// standard output. A CR or LF inside a name written to a File or S line is
// written as '?', so no name can make a line of its own.
void writeFileLines(const MapModel& model, MapStream& out, const std::string& libraryDir,
                    const ExistenceProbe& fileExists, std::string* echo, std::uint32_t first = 0,
                    std::uint32_t end = UINT32_MAX);

// One S line per symbol; with `echo`, one line per symbol appended there
// for standard output.
bool writeSymbolLines(const MapModel& model, MapStream& out, std::string* echo);

// "@%04x: F:%03u L:%u" and the line end: the one place this line is made,
// for the line-table rows and the listing entries alike.
void writeAddressLine(MapStream& out, std::uint32_t address, std::uint32_t file, std::uint32_t line);

// One @ line per line-table row of the model, each counted in
// addressEntryCount.
void writeLineTableLines(MapModel& model, MapStream& out);

// One @ line with file 0 per listing entry; these are not counted.
void writeListingLines(const std::vector<ListingEntry>& entries, MapStream& out);

void writeMapEnd(MapStream& out);

void printSummary(const MapModel& model, bool quiet);

// A stored "/cygdrive/d/work/main.c" as "d:\work\main.c"; any other name
// unchanged.
std::string toDrivePath(std::string_view storedName);

}  // namespace kestab
