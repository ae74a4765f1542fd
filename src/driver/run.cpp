#include "driver/run.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <optional>
#include <thread>

#include "driver/listing_generator.h"
#include "driver/toolkit_settings.h"
#include "dwarf/debug_reader.h"
#include "dwarf/die_collector.h"
#include "dwarf/line_table_pass.h"
#include "mapout/listing_scan.h"
#include "mapout/map_stream.h"
#include "mapout/map_writer.h"
#include "mapout/type_resolver.h"
#include "platform/file_probe.h"
#include "platform/settings_store.h"
#include "tables/map_model.h"

namespace kestab {

namespace {

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Closes a descriptor when the run ends on any path.
class FdOwner {
public:
    explicit FdOwner(int fd) : fd_(fd) {}
    ~FdOwner() { close(); }
    FdOwner(const FdOwner&) = delete;
    FdOwner& operator=(const FdOwner&) = delete;
    int get() const { return fd_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// What follows the File lines and comes from the image: the symbols with
// their resolved types, then the @ lines of the line tables. False when a
// pass fails.
bool writeMapBody(DebugReader& reader, MapModel& model, MapStream& out, bool echo) {
    TypeResolver::run(model);
    return writeSymbolLines(model, out, echo) && dumpAddressLines(reader, model, out);
}

}  // namespace

bool applyOptionArgument(std::string_view argument, RunOptions& options) {
    if (argument.empty() || argument.front() != '-') return false;
    for (const char raw : argument.substr(1)) {
        switch (upperAscii(raw)) {
            case 'A':
            case 'C':
            case 'D':
            case 'E':
                break;
            case 'L':
                options.listFlag = true;
                break;
            case 'Q':
                options.quietFlag = true;
                break;
            case 'U':
                options.upperCaseFlag = true;
                break;
            default:
                return false;
        }
    }
    return true;
}

bool isTokenSeparator(char c) { return c == '\t' || c == ' ' || c == '$'; }

std::string copyToken(std::string_view source, bool upperCase) {
    std::size_t i = 0;
    while (i < source.size() && isTokenSeparator(source[i])) ++i;
    std::string token;
    for (; i < source.size() && !isTokenSeparator(source[i]); ++i)
        token.push_back(upperCase ? upperAscii(source[i]) : source[i]);
    return token;
}

DerivedNames deriveNames(std::string_view argument, bool upperCase) {
    const std::size_t dot = argument.rfind('.');
    const std::string stem(argument.substr(0, dot == std::string_view::npos ? argument.size() : dot));
    return DerivedNames{stem + copyToken(".tmp", upperCase), stem + copyToken(".MAP", upperCase),
                        stem + copyToken(".lst", upperCase)};
}

int runMapGenerator(const RunOptions& options) {
    MapModel firstModel;
    if (!firstModel.pool.reserve(StringPool::kDefaultUnits)) {
        std::printf("Out of memory\n");
        return kExitFailure;
    }
    // Names of any length up to the system's path limit work; a longer
    // argument is refused before any file is opened.
    if (options.fileName.size() >= PATH_MAX) {
        std::printf("File name too long: %s\n", options.fileName.c_str());
        return kExitFailure;
    }
    const DerivedNames names = deriveNames(options.fileName, options.upperCaseFlag);

    FdOwner image(::open(names.image.c_str(), O_RDONLY | O_CLOEXEC));
    if (image.get() < 0) {
        std::printf("Cannot open input file: %s\n", names.image.c_str());
        return kExitFileError;
    }
    MapStream map;
    if (!map.create(names.map)) {
        std::printf("Cannot open output file: %s\n", names.map.c_str());
        return kExitFileError;
    }

    const platform::SettingsStore store = platform::SettingsStore::fromEnvironment();
    const ToolkitSettings settings(store);
    const ObjdumpCommand command{settings.toolkitDirectory(), names.image};
    std::int32_t listingExitCode = 0;
    const std::string listingName = names.listing;
    std::fflush(stdout);

    // objdump takes longer than all of the tool's own work and neither needs
    // the other before the listing is scanned, so the listing is made on a
    // second thread while the image is read and the S and @ lines of the
    // line tables are made (into memory: the File lines go first, and they
    // show the listing). Until the listing's outcome is known, what the
    // reader prints on standard output is held back and file 0 carries the
    // listing name; the output and the MAP file end up as if the listing had
    // been made first. Under the L option, whose S lines are echoed after
    // the File lines, the S and @ lines wait for the listing.
    bool listingMade = false;
    std::jthread listing([&] { listingMade = generateListing(command, listingExitCode, listingName); });

    const std::string libraryDir = settings.libraryDirectory();
    const CollectOptions collect{libraryDir, platform::fileExists};
    firstModel.files.add(listingName);
    firstModel.files.watchNames({listingName, std::string(kNoListingName)});
    DebugReader reader;
    std::string readerMessages;
    reader.open(image.get(), &readerMessages);
    bool collected = collectCompilationUnits(reader, firstModel, collect);
    MapStream body;
    bool bodyMade = false;
    bool bodyComplete = true;
    if (collected && !options.listFlag) {
        body.createInMemory();
        bodyComplete = writeMapBody(reader, firstModel, body, false);
        bodyMade = true;
    }
    listing.join();

    std::optional<MapModel> secondModel;
    MapModel* current = &firstModel;
    if (!listingMade) {
        std::printf("Can not create list file. Exit code is: %d", listingExitCode);
        if (collected && firstModel.files.watchedNameAsked()) {
            // A file name of a unit or a line table matched, or could have
            // matched, file 0: read again with the placeholder as file 0.
            current = &secondModel.emplace();
            current->pool.reserve(StringPool::kDefaultUnits);
            current->files.add(kNoListingName);
            collected = collectCompilationUnits(reader, *current, collect);
            bodyMade = false;
        } else {
            firstModel.files.renameFirst(kNoListingName);
        }
    }
    std::fputs(readerMessages.c_str(), stdout);
    if (!collected) return kExitFailure;
    MapModel& model = *current;

    writeMapHeader(map);
    writeFileLines(model, map, libraryDir, platform::fileExists, options.listFlag);
    if (bodyMade) {
        map.write(body.text());
        if (!bodyComplete) return kExitFailure;
    } else {
        if (!writeMapBody(reader, model, map, options.listFlag)) return kExitFailure;
    }
    if (!scanListing(model, map)) return kExitFailure;
    writeMapEnd(map);
    reader.close();
    if (!map.close()) {
        std::printf("Cannot write output file: %s\n", names.map.c_str());
        return kExitFailure;
    }
    image.close();
    printSummary(model, options.quietFlag);
    return 0;
}

int kestabMain(int argc, const char* const* argv) {
    RunOptions options;
    for (int i = 2; i < argc; ++i) {
        if (!applyOptionArgument(argv[i], options)) {
            std::printf("Invalid option: %s\n", argv[i]);
            return kExitFailure;
        }
    }
    if (!options.quietFlag) std::printf("ELF Map file generator, version 1.01\n");
    if (argc < 2) {
        std::printf("\nUsage: KESTAB <filename>\n\n");
        return kExitFailure;
    }
    options.fileName = argv[1];
    return runMapGenerator(options);
}

}  // namespace kestab
