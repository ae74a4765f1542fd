#include "mapout/map_writer.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace kestab {

namespace {

// The name as a MAP line may hold it: line ends inside become '?'.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = '?';
    return text;
}

}  // namespace

void writeMapHeader(MapStream& out) {
    out.printf("# VORNEX ASCII Map file, Version:%d.%d.", 1, 1);
    out.endLine();
}

std::string toDrivePath(std::string_view storedName) {
    constexpr std::string_view kPrefix = "/cygdrive/";
    if (storedName.substr(0, kPrefix.size()) != kPrefix) return std::string(storedName);
    // The drive letter stands at position 10; a name that ends before it
    // converts to the empty text.
    if (storedName.size() <= kPrefix.size()) return {};
    std::string path;
    path.push_back(storedName[kPrefix.size()]);
    path.push_back(':');
    for (const char c : storedName.substr(kPrefix.size() + 1)) path.push_back(c == '/' ? '\\' : c);
    return path;
}

void writeFileLines(const MapModel& model, MapStream& out, const std::string& libraryDir,
                    const ExistenceProbe& fileExists, bool echo) {
    for (std::uint32_t i = 0; i < model.fileCount(); ++i) {
        const std::string stored = model.files.name(i);
        const std::string path = i == 0 ? stored : toDrivePath(stored);
        if (echo) std::printf("F%-4u: %s\n", i, path.c_str());
        if (fileExists("", path)) {
            out.printf("File %-2u : %s", i, oneLine(path).c_str());
            out.endLine();
        } else if (fileExists(libraryDir, stored)) {
            out.printf("File %-2u : %s", i, oneLine(libraryDir + path).c_str());
            out.endLine();
        }
    }
}

bool writeSymbolLines(const MapModel& model, MapStream& out, bool echo) {
    const auto& dims = model.dimensions;
    for (std::uint32_t i = 0; i < model.symbolCount(); ++i) {
        const SymbolEntry& symbol = model.symbols[i];
        const std::string name = model.pool.copyOut(symbol.name);
        const auto aux1 = static_cast<std::uint32_t>(symbol.aux1);
        if (echo)
            std::printf("S%-4u: F:%03u T:%04x A:%04x 1:%04x 2:%04x %s\n", i, symbol.fileIndex, symbol.typeFlags,
                        symbol.address, aux1, symbol.aux2, name.c_str());
        const bool isArray = (symbol.typeFlags & symflag::kArray) != 0 && symbol.aux2 < dims.size();
        const std::uint32_t field2 = isArray ? dims[symbol.aux2] : symbol.aux2;
        out.printf("S%-4u: F:%03u T:%04x A:%04x 1:%04x 2:%04x %s", i, symbol.fileIndex, symbol.typeFlags,
                   symbol.address, aux1, field2, oneLine(name).c_str());
        if (isArray) {
            // The sizes follow the count; a run that would reach past the
            // list is left out rather than read beyond it.
            const std::uint64_t first = std::uint64_t{symbol.aux2} + 1;
            const std::uint64_t count = field2;
            if (first + count <= dims.size()) {
                out.write(" Dims:");
                for (std::uint64_t k = first; k < first + count; ++k) out.printf(" %u", dims[k]);
            }
        }
        out.endLine();
    }
    return true;
}

// `value` in `base` at `p`, with leading zeros to at least `width` digits;
// returns the end.
char* appendNumber(char* p, std::uint32_t value, int base, std::size_t width) {
    char digits[16];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value, base);
    static_cast<void>(ec);
    const auto count = static_cast<std::size_t>(end - digits);
    for (std::size_t i = count; i < width; ++i) *p++ = '0';
    std::memcpy(p, digits, count);
    return p + count;
}

// "@%04x: F:%03u L:%u" and CR LF, made by hand: there is one such line per
// line-table row and per listing address, and they are written after the
// listing has ended, where every microsecond counts.
void writeAddressLine(MapStream& out, std::uint32_t address, std::uint32_t file, std::uint32_t line) {
    char text[64];
    char* p = text;
    *p++ = '@';
    p = appendNumber(p, address, 16, 4);
    std::memcpy(p, ": F:", 4);
    p = appendNumber(p + 4, file, 10, 3);
    std::memcpy(p, " L:", 3);
    p = appendNumber(p + 3, line, 10, 1);
    *p++ = '\r';
    *p++ = '\n';
    out.write(std::string_view(text, static_cast<std::size_t>(p - text)));
}

void writeLineTableLines(MapModel& model, MapStream& out) {
    for (const AddressRow& row : model.lineRows) {
        writeAddressLine(out, row.address, row.file, row.line);
        ++model.addressEntryCount;
    }
}

void writeListingLines(const std::vector<ListingEntry>& entries, MapStream& out) {
    for (const ListingEntry& entry : entries) writeAddressLine(out, entry.address, 0, entry.line);
}

void writeMapEnd(MapStream& out) { out.write("# End of file."); }

void printSummary(const MapModel& model, bool quiet) {
    if (quiet) return;
    std::printf("%u files, %u symbols, %u dimensions, %u address entries\n", model.fileCount(), model.symbolCount(),
                model.dimensionCount(), model.addressEntryCount);
}

}  // namespace kestab
