#include "driver/run.h"

#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "driver/about.h"
#include "driver/listing_generator.h"
#include "driver/toolkit_settings.h"
#include "dwarf/debug_reader.h"
#include "mapout/listing_scan.h"
#include "mapout/map_stream.h"
#include "mapout/map_writer.h"
#include "mapout/type_resolver.h"
#include "platform/fd.h"
#include "platform/file_probe.h"
#include "platform/process_setup.h"
#include "platform/settings_store.h"
#include "symbols/die_collector.h"
#include "symbols/line_table_pass.h"
#include "tables/map_model.h"

namespace kestab {

namespace {

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The files and settings of one run.
struct RunFiles {
    DerivedNames names;
    platform::Fd image;
    std::optional<platform::FileIdentity> imageIdentity;  // of the file opened, when it was opened
    MapStream map;
    std::string toolkitDir;
    std::string libraryDir;
};

bool reservePool(MapModel& model) {
    if (model.pool.reserve(StringPool::kDefaultUnits)) return true;
    std::printf("Out of memory\n");
    return false;
}

// Names of any length up to the system's path limit work; a longer argument
// is refused before any file is opened.
bool nameFits(const std::string& fileName) {
    if (fileName.size() < PATH_MAX) return true;
    std::printf("File name too long: %s\n", fileName.c_str());
    return false;
}

// The image is opened without blocking and must be a regular file, so a
// FIFO or a device in its place is refused instead of waited on.
bool openImage(RunFiles& files) {
    files.image = platform::openRegularFile(files.names.image);
    if (files.image.valid()) {
        files.imageIdentity = platform::fileIdentity(files.image.get());
        return true;
    }
    std::printf("Cannot open input file: %s\n", files.names.image.c_str());
    return false;
}

bool createMap(RunFiles& files) {
    if (files.map.create(files.names.map)) return true;
    std::printf("Cannot open output file: %s\n", files.names.map.c_str());
    return false;
}

void readToolkitSettings(RunFiles& files) {
    const platform::SettingsStore store = platform::SettingsStore::fromEnvironment();
    const ToolkitSettings settings(store);
    files.toolkitDir = settings.toolkitDirectory();
    files.libraryDir = settings.libraryDirectory();
}

// What reading the image left besides the model.
struct ImageReading {
    bool collected = false;      // the DIE walk succeeded
    bool linesComplete = false;  // the line-table pass succeeded
    std::string readerMessages;  // the reader's standard output, held back
    std::string closeMessage;    // said when the MAP file is complete
};

// Everything that comes from the image, as data: the files, types and
// symbols, the symbols' resolved types, and the line-table rows. This runs
// while the listing is made, with file 0 named after the listing; the
// reader's messages are held, so standard output keeps its designed order
// whatever the listing's outcome.
ImageReading readImage(DebugReader& reader, int imageFd, MapModel& model, const std::string& libraryDir) {
    ImageReading reading;
    reader.open(imageFd, &reading.readerMessages, platform::warmHeap);
    model.reserveForImage(reader.debugSectionBytes());
    reading.collected =
        collectCompilationUnits(reader, model, CollectOptions{libraryDir, platform::fileExists, platform::warmHeapGrowth});
    if (!reading.collected) return reading;
    TypeResolver::run(model);
    // The type rows only serve to resolve the symbols' types: their room is
    // given back before the MAP file's lines are made.
    model.types = TypeTable();
    reading.linesComplete = collectAddressLines(reader, model);
    // The model holds all it needs: releasing libdwarf's memory now keeps
    // that work beside objdump too.
    reading.closeMessage = reader.close();
    return reading;
}

// The lines of the MAP file that do not depend on the listing, made while
// objdump still runs: every line but the header, the File line of file 0
// (the listing, or the placeholder when there is none) and the listing's
// own @ lines.
struct EarlyLines {
    TextBlocks fileLines;  // the File lines of the source files
    std::string fileEcho;  // their F lines for standard output, under L
    TextBlocks symbolAndLineTableLines;
    std::string symbolEcho;  // the S lines for standard output, under L
    bool symbolsWritten = false;
    // Where in the MAP file they were written ahead, if they were.
    std::optional<std::uint64_t> aheadAt;
};

EarlyLines makeEarlyLines(MapModel& model, const std::string& libraryDir, bool listFlag) {
    EarlyLines early;
    MapStream out;
    out.keepInMemory();
    writeFileLines(model, out, libraryDir, platform::fileExists, listFlag ? &early.fileEcho : nullptr, 1);
    early.fileLines = out.take();
    early.symbolsWritten = writeSymbolLines(model, out, listFlag ? &early.symbolEcho : nullptr);
    if (early.symbolsWritten) writeLineTableLines(model, out);
    early.symbolAndLineTableLines = out.take();
    return early;
}

// objdump opens the image by its name. When that name stands for another
// file once objdump has ended, or the file has changed since it was opened
// here, the listing may be of another image than the one read: it counts
// as not made.
void confirmListedImage(ListingReport& listing, const RunFiles& files) {
    if (!listing.result.made) return;
    const std::optional<platform::FileIdentity> now = platform::fileIdentity(files.names.image);
    if (files.imageIdentity && now && *files.imageIdentity == *now) return;
    listing.result.made = false;
    listing.result.failure = "kestab: " + files.names.image + " changed while the listing was made";
}

// The designed message when no listing was made, the reason on standard
// error, and the placeholder as the name of file 0 for the File lines.
//
// File 0 carried the listing name while the image was read, so a unit or
// line-table file whose path equals the listing name matched file 0, and
// one named like the placeholder did not. Had the listing failed before the
// image was read, it would be the other way round; real builds name no
// source file like their listing or the placeholder, and waiting for the
// listing before reading would give up the overlap with objdump.
void reportListing(const ListingReport& listing, MapModel& model) {
    if (listing.result.made) return;
    std::printf("Can not create list file. Exit code is: %d", listing.exitCode);
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", listing.result.failure.c_str());
    model.files.renameFirst(kNoListingName);
}

// The MAP file's first lines, which come before the early ones: the header
// and the File line of file 0, as file 0 is named at the time.
TextBlocks mapHead(const MapModel& model, const std::string& libraryDir, std::string* fileZeroEcho) {
    MapStream out;
    out.keepInMemory();
    writeMapHeader(out);
    writeFileLines(model, out, libraryDir, platform::fileExists, fileZeroEcho, 0, 1);
    return out.take();
}

// Writes the early lines into the MAP file while objdump runs, where they
// will stand when file 0 keeps the listing's name, as it does whenever the
// listing is made; the listing's lines then follow as they come. After the
// join only the head is left to write, at the start, and the end line.
void writeEarlyLinesAhead(EarlyLines& early, const MapModel& model, RunFiles& files) {
    const std::uint64_t headSize = mapHead(model, files.libraryDir, nullptr).size();
    if (!files.map.seekTo(headSize)) return;
    files.map.write(early.fileLines);
    files.map.write(early.symbolAndLineTableLines);
    early.aheadAt = headSize;
}

// The listing's @ lines, taken from the listing thread as they are made,
// until its output has ended; with `writeThrough`, each block also goes
// into the MAP file at once.
TextBlocks takeListingLines(ListingJob& job, MapStream& map, bool writeThrough) {
    TextBlocks lines;
    for (std::vector<std::string> blocks; job.takeLines(blocks); blocks.clear()) {
        for (std::string& block : blocks) {
            if (writeThrough) map.write(block);
            lines.appendBlock(std::move(block));
        }
    }
    return lines;
}

// The MAP file after the reading, in its designed order. A failed pass
// leaves the lines written so far, without the end line. When the lines
// written ahead do not stand where they belong (file 0 took the
// placeholder's name, or the run failed), the file is written anew.
int writeMap(const MapModel& model, const ImageReading& reading, const EarlyLines& early,
             const ListingReport& listing, const TextBlocks& listingLines, RunFiles& files, bool listFlag) {
    std::string fileZeroEcho;
    const TextBlocks head = mapHead(model, files.libraryDir, listFlag ? &fileZeroEcho : nullptr);
    const bool complete = early.symbolsWritten && reading.linesComplete && listing.result.made;
    const std::uint64_t end =
        head.size() + early.fileLines.size() + early.symbolAndLineTableLines.size() + listingLines.size();
    const bool inPlace = complete && early.aheadAt == head.size() && files.map.seekTo(0);
    if (inPlace) files.map.write(head);
    if (!inPlace || !files.map.seekTo(end)) {
        if (early.aheadAt) files.map.restart();
        files.map.write(head);
        files.map.write(early.fileLines);
        files.map.write(early.symbolAndLineTableLines);
        if (complete) files.map.write(listingLines);
    }
    std::fputs(fileZeroEcho.c_str(), stdout);
    std::fputs(early.fileEcho.c_str(), stdout);
    std::fputs(early.symbolEcho.c_str(), stdout);
    if (!complete) return kExitFailure;
    writeMapEnd(files.map);
    return 0;
}

int finishRun(const ImageReading& reading, RunFiles& files, const MapModel& model, bool quiet) {
    // What is freed from here on (the model, the lines) stays with the
    // process, whose end hands it all back at once.
    platform::keepFreedMemory();
    std::fputs(reading.closeMessage.c_str(), stdout);
    if (!files.map.close()) {
        std::printf("Cannot write output file: %s\n", files.names.map.c_str());
        return kExitFailure;
    }
    files.image.reset();
    printSummary(model, quiet);
    return 0;
}

// --help and --version succeed only when their text reached standard output
// (not, for instance, with kestab --help >/dev/full).
int printAbout(const std::string& text) {
    if (std::fputs(text.c_str(), stdout) != EOF && std::fflush(stdout) == 0) return 0;
    std::fprintf(stderr, "kestab: cannot write to standard output\n");
    return kExitFailure;
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

int runMapGenerator(const RunOptions& options, const ListingMaker& makeListing) {
    MapModel model;
    if (!reservePool(model) || !nameFits(options.fileName)) return kExitFailure;
    RunFiles files;
    files.names = deriveNames(options.fileName, options.upperCaseFlag);
    if (!openImage(files) || !createMap(files)) return kExitFileError;
    readToolkitSettings(files);
    std::fflush(stdout);

    // objdump takes longer than all of the tool's own work, so the listing
    // is made on a second thread while the image is read.
    model.files.add(files.names.listing);
    ListingJob listingJob(ObjdumpCommand{files.toolkitDir, files.names.image}, files.names.listing,
                          makeListing ? makeListing : makeObjdumpListing);
    // The old MAP file is cut off only now, beside objdump's start.
    files.map.dropOldContent();
    DebugReader reader;
    const ImageReading reading = readImage(reader, files.image.get(), model, files.libraryDir);
    platform::endHeapWarmup();
    EarlyLines early = reading.collected ? makeEarlyLines(model, files.libraryDir, options.listFlag) : EarlyLines{};
    if (reading.collected) writeEarlyLinesAhead(early, model, files);
    const TextBlocks listingLines =
        reading.collected ? takeListingLines(listingJob, files.map, early.aheadAt.has_value()) : TextBlocks{};
    ListingReport listing = listingJob.finish();

    confirmListedImage(listing, files);
    reportListing(listing, model);
    std::fputs(reading.readerMessages.c_str(), stdout);
    if (!reading.collected) return kExitFailure;
    const int status = writeMap(model, reading, early, listing, listingLines, files, options.listFlag);
    if (status != 0) return status;
    return finishRun(reading, files, model, options.quietFlag);
}

int kestabMain(int argc, const char* const* argv) {
    if (const auto about = aboutRequest(argc, argv)) return printAbout(*about);
    RunOptions options;
    for (int i = 2; i < argc; ++i) {
        if (!applyOptionArgument(argv[i], options)) {
            std::printf("Invalid option: %s\n", argv[i]);
            return kExitFailure;
        }
    }
    if (!options.quietFlag) std::fputs(bannerText().c_str(), stdout);
    if (argc < 2) {
        std::printf("\nUsage: KESTAB <filename>\n\n");
        return kExitFailure;
    }
    options.fileName = argv[1];
    return runMapGenerator(options);
}

}  // namespace kestab
