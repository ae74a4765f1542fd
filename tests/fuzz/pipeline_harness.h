// The whole run, from the bytes of an input to the MAP text, as the fuzz
// target and the regression replay drive it. The input is an image, or an
// image, a marker and a listing: kListingMarker, or kEchoListingMarker for
// a run with the L option too. The image becomes <dir>/in.tmp, the run is
// made for <dir>/in with the Q option, and standard output and standard
// error are silenced. The settings store is an empty file, so no
// toolkit is found: without a listing in the input the listing step fails
// at once, as it does when objdump cannot be started; with one, the listing
// is taken as objdump's output, fed in pieces of 1 to 64 bytes (the
// input's bytes choose the sizes) through the run's listing scanner and
// @-line writer, and the MAP file gets its listing lines and end line.
//
// The working directory holds empty stand-ins for the source files that the
// test images name, so their units are kept and the symbol, type and line
// passes run on them too.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "driver/listing_generator.h"
#include "driver/run.h"

namespace kestab::fuzz {

class PipelineHarness {
public:
    PipelineHarness() {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "kestab-pipeline-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create the scratch directory");
        dir_ = pattern;
        for (const char* name : kSourceNames) {
            const fs::path path = dir_ / name;
            fs::create_directories(path.parent_path());
            std::ofstream(path).put('\n');
        }
        const fs::path registry = dir_ / "empty.reg";
        std::ofstream(registry).flush();
        if (const char* old = std::getenv("KESTAB_REGISTRY")) oldRegistry_ = old;
        ::setenv("KESTAB_REGISTRY", registry.c_str(), 1);
        devNull_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    }

    ~PipelineHarness() {
        if (oldRegistry_)
            ::setenv("KESTAB_REGISTRY", oldRegistry_->c_str(), 1);
        else
            ::unsetenv("KESTAB_REGISTRY");
        if (devNull_ >= 0) ::close(devNull_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    PipelineHarness(const PipelineHarness&) = delete;
    PipelineHarness& operator=(const PipelineHarness&) = delete;

    const std::filesystem::path& directory() const { return dir_; }

    // Between the image and the listing of an input; the second one also
    // asks for the L option.
    static constexpr std::string_view kListingMarker = "KESTAB-LISTING:";
    static constexpr std::string_view kEchoListingMarker = "KESTAB-LISTING-L:";

    // An input taken apart at its first marker.
    struct Parts {
        std::string_view image;
        std::optional<std::string_view> listing;
        bool echo = false;
    };
    static Parts split(std::string_view input) {
        const std::size_t plain = input.find(kListingMarker);
        const std::size_t echo = input.find(kEchoListingMarker);
        if (plain == std::string_view::npos && echo == std::string_view::npos) return Parts{input, std::nullopt, false};
        const bool withEcho = echo < plain;
        const std::size_t at = std::min(plain, echo);
        const std::size_t marker = withEcho ? kEchoListingMarker.size() : kListingMarker.size();
        return Parts{input.substr(0, at), input.substr(at + marker), withEcho};
    }

    // The listing as objdump's output: written to the listing file and fed
    // through the scanner the run uses.
    static ListingReport scanListing(std::string_view listing, const std::string& listingPath, ListingLines& lines) {
        std::ofstream(listingPath, std::ios::binary | std::ios::trunc)
            .write(listing.data(), static_cast<std::streamsize>(listing.size()));
        ListingReport report;
        for (std::size_t at = 0; at < listing.size();) {
            const std::size_t piece = 1 + static_cast<unsigned char>(listing[at]) % 64;
            lines.feed(listing.substr(at, piece));
            at += piece;
        }
        report.result.made = true;
        return report;
    }

    // One run on `data`; returns its exit status (0, -1 or -2).
    int run(const std::uint8_t* data, std::size_t size) {
        const Parts parts = split(std::string_view(reinterpret_cast<const char*>(data), size));
        const std::filesystem::path image = dir_ / "in.tmp";
        {
            std::ofstream out(image, std::ios::binary | std::ios::trunc);
            out.write(parts.image.data(), static_cast<std::streamsize>(parts.image.size()));
            if (!out) throw std::runtime_error("cannot write the input image");
        }
        ListingMaker makeListing;
        if (parts.listing) {
            makeListing = [listing = *parts.listing](const ObjdumpCommand&, const std::string& path) -> ListingFinish {
                return [listing, path](ListingLines& lines) { return scanListing(listing, path, lines); };
            };
        }
        RunOptions options;
        options.fileName = (dir_ / "in").string();
        options.quietFlag = true;
        options.listFlag = parts.echo;

        const int oldCwd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (::chdir(dir_.c_str()) != 0) throw std::runtime_error("cannot enter the scratch directory");
        std::fflush(stdout);
        std::fflush(stderr);
        const int savedOut = ::dup(1);
        const int savedErr = ::dup(2);
        ::dup2(devNull_, 1);
        ::dup2(devNull_, 2);

        const int status = runMapGenerator(options, makeListing);

        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(savedOut, 1);
        ::dup2(savedErr, 2);
        ::close(savedOut);
        ::close(savedErr);
        if (oldCwd >= 0) {
            if (::fchdir(oldCwd) != 0) throw std::runtime_error("cannot return to the working directory");
            ::close(oldCwd);
        }
        return status;
    }

    // The source names of the images under tests/fixtures and of the seed
    // images (tests/fuzz/seeds).
    static constexpr const char* kSourceNames[] = {
        "main.c",   "data.c",   "drivers/uart.c", "src/a.c",   "led.c",     "board.c",  "libinit.c",
        "bounds.c", "decode.c", "typeref.c",      "small.c",   "seed.c",    "filter.c", "sensor.c",
        "uart.c",   "lto_units.c",
    };

private:
    std::filesystem::path dir_;
    std::optional<std::string> oldRegistry_;
    int devNull_ = -1;
};

}  // namespace kestab::fuzz
