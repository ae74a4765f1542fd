#include "driver/about.h"

#include <string_view>

// Both come from the build: KESTAB_VERSION is the project version, and
// KESTAB_LIBDWARF_VERSION the version of the libdwarf the program is linked
// with.
#if !defined(KESTAB_VERSION) || !defined(KESTAB_LIBDWARF_VERSION)
#error "KESTAB_VERSION and KESTAB_LIBDWARF_VERSION must be defined by the build"
#endif

namespace kestab {

namespace {

constexpr const char* kSynopsis =
    "Usage: kestab <filename> [-A] [-C] [-D] [-E] [-L] [-Q] [-U]\n"
    "       kestab --help | --version\n"
    "\n"
    "Reads the debugging information of the 32-bit ARM ELF image <base>.tmp,\n"
    "runs the toolkit's objdump to write the listing <base>.lst, and writes the\n"
    "MAP file <base>.MAP. The first argument is always the file name: its\n"
    "extension (from the last '.' on) is replaced to form the three names.\n"
    "--help and --version are answered only when they are the one argument.\n"
    "\n"
    "Options, after the file name, letters in any case (-qu is -q -u):\n"
    "  -A, -C, -D, -E  accepted, no effect\n"
    "  -L              also print every file entry and symbol line\n"
    "  -Q              quiet: no banner, no summary line\n"
    "  -U              upper-case extensions: .TMP, .MAP, .LST\n"
    "\n";

#ifdef _WIN32
constexpr const char* kPlatformPart =
    "Exit status:\n"
    "  0   the MAP file is complete\n"
    "  -2  the image cannot be opened, or the MAP file cannot be created\n"
    "  -1  anything else: usage, an invalid option, no usable debugging\n"
    "      information, no listing, a MAP file not written completely\n"
    "\n"
    "Settings (the toolkit and library directories) come from the registry,\n"
    "below HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora: each key first in\n"
    "the 32-bit view (WOW6432Node), then in the 64-bit view.\n"
    "\n"
    "More in README.txt beside kestab.exe.\n";
#else
constexpr const char* kPlatformPart =
    "Exit status:\n"
    "  0    the MAP file is complete\n"
    "  254  the image cannot be opened, or the MAP file cannot be created\n"
    "  255  anything else: usage, an invalid option, no usable debugging\n"
    "       information, no listing, a MAP file not written completely\n"
    "\n"
    "Settings (the toolkit and library directories) come from the first of:\n"
    "  1. the .reg file named by the environment variable KESTAB_REGISTRY;\n"
    "  2. $WINEPREFIX/system.reg (WINEPREFIX defaults to ~/.wine);\n"
    "  otherwise there are none.\n"
    "\n"
    "More in the manual page (man kestab) and in the README: README.md in\n"
    "/usr/share/doc/kestab, or share/doc/kestab below another installation prefix.\n";
#endif

}  // namespace

std::string bannerText() { return std::string("ELF Map file generator, version ") + KESTAB_VERSION + "\n"; }

std::string helpText() { return std::string(kSynopsis) + kPlatformPart; }

std::string versionText() {
    return std::string("kestab ") + KESTAB_VERSION + "\nlibdwarf " + KESTAB_LIBDWARF_VERSION + "\n";
}

std::optional<std::string> aboutRequest(int argc, const char* const* argv) {
    if (argc != 2) return std::nullopt;
    const std::string_view argument = argv[1];
    if (argument == "--help") return helpText();
    if (argument == "--version") return versionText();
    return std::nullopt;
}

}  // namespace kestab
