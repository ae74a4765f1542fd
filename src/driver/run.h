// The command line and the fixed sequence of one run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/listing_generator.h"

namespace kestab {

inline constexpr int kExitFailure = -1;
inline constexpr int kExitFileError = -2;

struct RunOptions {
    std::string fileName;
    bool listFlag = false;       // L: echo File and S lines on standard output
    bool quietFlag = false;      // Q: no banner, no summary
    bool upperCaseFlag = false;  // U: upper-case extensions
};

// Applies one option argument ('-' and letters A C D E L Q U, any case).
// False for an argument that is not a valid option.
bool applyOptionArgument(std::string_view argument, RunOptions& options);

bool isTokenSeparator(char c);
// Copies the first token of `source` (leading separators skipped, up to the
// next separator), upper-cased when `upperCase` is set.
std::string copyToken(std::string_view source, bool upperCase);

struct DerivedNames {
    std::string image;    // stem + ".tmp"
    std::string map;      // stem + ".MAP"
    std::string listing;  // stem + ".lst"
};
// The stem is the argument up to its last '.', or all of it.
DerivedNames deriveNames(std::string_view argument, bool upperCase);

// The whole run for a file-name argument: returns the exit status
// (0, kExitFailure or kExitFileError). The listing comes from `makeListing`
// (the objdump when empty).
int runMapGenerator(const RunOptions& options, const ListingMaker& makeListing = {});

// The command line as the process gets it: answers --help or --version as
// the only argument; otherwise prints the banner, the usage or an invalid
// option, then runs. Returns the exit status.
int kestabMain(int argc, const char* const* argv);

}  // namespace kestab
