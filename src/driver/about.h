// What the program says about itself: the banner, and the answers to
// --help and --version.
#pragma once

#include <optional>
#include <string>

namespace kestab {

// "ELF Map file generator, version <version>\n"
std::string bannerText();

// The usage: synopsis, options, exit statuses, where the settings come
// from, where the README and the manual page are.
std::string helpText();

// "kestab <version>\n" and the libdwarf version the program was built with.
std::string versionText();

// The text to print when the whole command line is exactly --help or
// --version; nothing for every other command line, whose first argument is
// a file name.
std::optional<std::string> aboutRequest(int argc, const char* const* argv);

}  // namespace kestab
