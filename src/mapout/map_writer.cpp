#include "mapout/map_writer.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tables/text_format.h"

namespace kestab {

namespace {

// The name as a MAP line may hold it: line ends inside become '?'.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = '?';
    return text;
}

// One MAP line made by hand with the few printf conversions the S and @
// lines use (%u, %0Nu, %0Nx, %-Nu, %s): there are tens of thousands of
// them, all written after the listing has ended, where every millisecond
// counts.
class LineText {
public:
    LineText& put(std::string_view text) {
        text_.append(text);
        return *this;
    }
    LineText& put(char c) {
        text_.push_back(c);
        return *this;
    }
    // `value` in `base`, zero-padded to at least `width` digits ("%04x").
    LineText& number(std::uint32_t value, int base, std::size_t width) {
        const std::string_view digits = toChars(value, base);
        if (digits.size() < width) text_.append(width - digits.size(), '0');
        text_.append(digits);
        return *this;
    }
    // `value` in decimal, blank-padded on the right to `width` ("%-4u").
    LineText& leftNumber(std::uint32_t value, std::size_t width) {
        const std::string_view digits = toChars(value, 10);
        text_.append(digits);
        if (digits.size() < width) text_.append(width - digits.size(), ' ');
        return *this;
    }
    // A name, each CR or LF in it written as '?'.
    LineText& name(std::string_view name) {
        for (const char c : name) text_.push_back(c == '\r' || c == '\n' ? '?' : c);
        return *this;
    }
    // Writes the line with its CR LF and starts the next one.
    void endLineTo(MapStream& out) {
        text_.append("\r\n");
        out.write(text_);
        text_.clear();
    }

private:
    std::string_view toChars(std::uint32_t value, int base) {
        const auto result = std::to_chars(digits_, digits_ + sizeof digits_, value, base);
        return std::string_view(digits_, static_cast<std::size_t>(result.ptr - digits_));
    }

    std::string text_;
    char digits_[16];
};

void appendText(std::string& to, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendText(std::string& to, const char* format, ...) {
    va_list args;
    va_start(args, format);
    to.append(vformatText(format, args));
    va_end(args);
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
                    const ExistenceProbe& fileExists, std::string* echo, std::uint32_t first, std::uint32_t end) {
    for (std::uint32_t i = first; i < std::min(end, model.fileCount()); ++i) {
        const std::string stored = model.files.name(i);
        const std::string path = i == 0 ? stored : toDrivePath(stored);
        if (echo != nullptr) appendText(*echo, "F%-4u: %s\n", i, path.c_str());
        if (fileExists("", path)) {
            out.printf("File %-2u : %s", i, oneLine(path).c_str());
            out.endLine();
        } else if (fileExists(libraryDir, stored)) {
            out.printf("File %-2u : %s", i, oneLine(libraryDir + path).c_str());
            out.endLine();
        }
    }
}

bool writeSymbolLines(const MapModel& model, MapStream& out, std::string* echo) {
    const auto& dims = model.dimensions;
    LineText line;
    for (std::uint32_t i = 0; i < model.symbolCount(); ++i) {
        const SymbolEntry& symbol = model.symbols[i];
        // Nothing is added to the pool while the lines are written.
        const std::string_view name = model.pool.view(symbol.name);
        const auto aux1 = static_cast<std::uint32_t>(symbol.aux1);
        if (echo != nullptr)
            appendText(*echo, "S%-4u: F:%03u T:%04x A:%04x 1:%04x 2:%04x %.*s\n", i, symbol.fileIndex,
                       symbol.typeFlags, symbol.address, aux1, symbol.aux2, static_cast<int>(name.size()), name.data());
        const bool isArray = (symbol.typeFlags & symflag::kArray) != 0 && symbol.aux2 < dims.size();
        const std::uint32_t field2 = isArray ? dims[symbol.aux2] : symbol.aux2;
        // "S%-4u: F:%03u T:%04x A:%04x 1:%04x 2:%04x %s"
        line.put('S').leftNumber(i, 4).put(": F:").number(symbol.fileIndex, 10, 3);
        line.put(" T:").number(symbol.typeFlags, 16, 4).put(" A:").number(symbol.address, 16, 4);
        line.put(" 1:").number(aux1, 16, 4).put(" 2:").number(field2, 16, 4).put(' ').name(name);
        if (isArray) {
            // The sizes follow the count; a run that would reach past the
            // list is left out rather than read beyond it.
            const std::uint64_t first = std::uint64_t{symbol.aux2} + 1;
            const std::uint64_t count = field2;
            if (first + count <= dims.size()) {
                line.put(" Dims:");
                for (std::uint64_t k = first; k < first + count; ++k) line.put(' ').number(dims[k], 10, 1);
            }
        }
        line.endLineTo(out);
    }
    return true;
}

void writeAddressLine(MapStream& out, std::uint32_t address, std::uint32_t file, std::uint32_t line) {
    thread_local LineText text;
    text.put('@').number(address, 16, 4).put(": F:").number(file, 10, 3).put(" L:").number(line, 10, 1);
    text.endLineTo(out);
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
